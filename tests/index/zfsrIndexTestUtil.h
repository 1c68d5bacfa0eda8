// Shared helpers of the index tests: the started index layer, records of a test table, and a small
// builder of filter expression blobs.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "index/zfsdFilterEngineSimpleExpression.h"
#include "index/zfsrIndexStartup.h"
#include "storage/zfsrTimeoutHandling.h"
#include "tests/dictionary/zfsdTestTable.h"
#include "tests/dictionary/zfsdTestUtil.h"

namespace zf::test {

// Base of the suites that need the index layer (and the layers below) started. Tests run without
// a deadline (walks across leaves check it).
class IndexStarted : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { zfStartIndex(); }
  static void TearDownTestSuite() { zfStopIndex(); }
  void SetUp() override { zfSetTimeout(0, true); }
};

// A filter over keys or records deciding by a function.
class TTestFilter : public TzfBaseFilterEngine {
 public:
  explicit TTestFilter(std::function<bool(const uint8_t*)> aMatch)
      : TzfBaseFilterEngine(nullptr, nullptr), FMatch(std::move(aMatch)) {
    bfActive = true;
  }
  std::unique_ptr<TzfBaseFilterDescriptor> CreateDescriptor() override { return nullptr; }
  bool MatchesBuffer(const uint8_t* aBuffer) override { return FMatch(aBuffer); }

 private:
  std::function<bool(const uint8_t*)> FMatch;
};

// A record of aFields with the values given in field order (Empty or Null: a null field).
inline std::vector<uint8_t> MakeRecord(TzfFieldsDescriptor& aFields, std::initializer_list<rtl::Variant> aValues) {
  std::vector<uint8_t> r(static_cast<size_t>(aFields.GetRecordLength()));
  aFields.InitRecord(r.data());
  int32_t i = 0;
  for (const rtl::Variant& v : aValues) aFields.SetFieldAsVariant(r.data(), i++, v);
  return r;
}

// Builds an expression blob: the root node sits at node offset 0 (SetRoot), every other node after
// it; literals go to the literal area after the nodes.
class TBlobBuilder {
 public:
  static constexpr uint16_t kRootSlot = 16;  // room for the largest node (4 operands)

  uint16_t Node(uint32_t aClass, uint32_t aOp, std::initializer_list<uint16_t> aOperands) {
    const uint16_t at = static_cast<uint16_t>(kRootSlot + FNodes.size());
    Append(FNodes, aClass, aOp, aOperands);
    return at;
  }
  void SetRoot(uint32_t aClass, uint32_t aOp, std::initializer_list<uint16_t> aOperands) {
    FRoot.clear();
    Append(FRoot, aClass, aOp, aOperands);
  }
  uint16_t Literal(const void* aData, size_t aSize) {
    const uint16_t at = static_cast<uint16_t>(FLiterals.size());
    const auto* p = static_cast<const uint8_t*>(aData);
    FLiterals.insert(FLiterals.end(), p, p + aSize);
    return at;
  }
  uint16_t Text(const std::string& s) { return Literal(s.c_str(), s.size() + 1); }

  // Node helpers.
  uint16_t Field(uint16_t aNumber, const std::string& aName = "") { return Node(nodeFIELD, 0, {aNumber, Text(aName)}); }
  template <typename T>
  uint16_t Const(uint16_t aType, T aValue) {
    return Node(nodeCONST, 0, {aType, static_cast<uint16_t>(sizeof(T)), Literal(&aValue, sizeof(T))});
  }
  uint16_t ConstText(const std::string& s) {
    return Node(nodeCONST, 0, {fldZSTRING, static_cast<uint16_t>(s.size() + 1), Text(s)});
  }
  uint16_t ConstWide(const std::u16string& s) {
    std::vector<uint8_t> v;
    const uint16_t count = static_cast<uint16_t>(s.size() * 2);
    v.push_back(static_cast<uint8_t>(count));
    v.push_back(static_cast<uint8_t>(count >> 8));
    for (char16_t c : s) {
      v.push_back(static_cast<uint8_t>(c));
      v.push_back(static_cast<uint8_t>(c >> 8));
    }
    return Node(nodeCONST, 0, {fldWIDESTRING, static_cast<uint16_t>(v.size()), Literal(v.data(), v.size())});
  }

  TzfCANExpr Build() const {
    std::vector<uint8_t> root = FRoot;
    root.resize(kRootSlot, 0);
    const uint16_t nodeStart = 10;
    const uint16_t literalStart = static_cast<uint16_t>(nodeStart + root.size() + FNodes.size());
    const uint16_t total = static_cast<uint16_t>(literalStart + FLiterals.size());
    TzfCANExpr b;
    for (uint16_t v : {uint16_t{1}, total, uint16_t{0}, nodeStart, literalStart}) {
      b.push_back(static_cast<uint8_t>(v));
      b.push_back(static_cast<uint8_t>(v >> 8));
    }
    b.insert(b.end(), root.begin(), root.end());
    b.insert(b.end(), FNodes.begin(), FNodes.end());
    b.insert(b.end(), FLiterals.begin(), FLiterals.end());
    return b;
  }

 private:
  static void Append(std::vector<uint8_t>& aTo, uint32_t aClass, uint32_t aOp, std::initializer_list<uint16_t> aOps) {
    for (int i = 0; i < 4; ++i) aTo.push_back(static_cast<uint8_t>(aClass >> (8 * i)));
    for (int i = 0; i < 4; ++i) aTo.push_back(static_cast<uint8_t>(aOp >> (8 * i)));
    for (uint16_t o : aOps) {
      aTo.push_back(static_cast<uint8_t>(o));
      aTo.push_back(static_cast<uint8_t>(o >> 8));
    }
  }

  std::vector<uint8_t> FRoot, FNodes, FLiterals;
};

}  // namespace zf::test
