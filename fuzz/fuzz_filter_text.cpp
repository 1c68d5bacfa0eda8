// Fuzzes the filter-expression parser. Input: one byte of filter options, then the filter text
// (one character per byte). A text may only compile or raise EDatabaseError; it must never crash,
// recurse without end or hang. A blob it compiles must be one the engine takes: its header agrees
// with its size, it is a tree (the engine's work check passes) and it nests no deeper than the
// engine evaluates.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "index/zfsdFilterEngineSimpleExpression.h"
#include "platform/db/dbConsts.h"
#include "platform/db/dbFilterExpr.h"

namespace {

using namespace zf;

bool Lookup(const db::UnicodeString& aName, db::TFilterField& aField) {
  static const db::TFieldType kTypes[] = {db::ftInteger, db::ftWideString, db::ftFloat,   db::ftDate,
                                          db::ftTime,    db::ftDateTime,   db::ftBoolean, db::ftBlob};
  if (aName == u"Calc") {
    aField = {0, db::ftInteger, aName};
    return true;
  }
  if (aName.size() != 1 || aName[0] < u'A' || aName[0] > u'H') return false;
  const int32_t no = aName[0] - u'A' + 1;
  aField = {no, kTypes[no - 1], aName};
  return true;
}

uint16_t Get16(const std::vector<uint8_t>& aBlob, size_t aAt) {
  return static_cast<uint16_t>(aBlob[aAt] | aBlob[aAt + 1] << 8);
}

// The depth of the tree under aNode (the node itself counts 1); every node lies inside the blob.
int32_t Depth(const std::vector<uint8_t>& aBlob, size_t aNode) {
  const size_t at = zfExpressionHeaderSize + aNode;
  if (at + 8 > aBlob.size()) __builtin_trap();
  const uint32_t cls = aBlob[at];
  int32_t below = 0;
  auto child = [&](size_t aOperand) {
    if (at + 10 + 2 * aOperand > aBlob.size()) __builtin_trap();
    below = std::max(below, Depth(aBlob, Get16(aBlob, at + 8 + 2 * aOperand)));
  };
  if (cls == nodeUNARY) child(0);
  if (cls == nodeBINARY) child(0), child(1);
  if (cls == nodeCOMPARE) child(2), child(3);
  return below + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < 1) return 0;
  const db::TFilterOptions options = db::TFilterOptions::FromBits(aData[0] & 3);
  db::UnicodeString text(aData + 1, aData + aSize);
  std::vector<uint8_t> blob;
  try {
    blob = db::ParseFilterExpression(text, options, &Lookup);
  } catch (const db::EDatabaseError&) {
    return 0;
  }
  if (blob.empty()) return 0;
  if (blob.size() > 0xFFFF || Get16(blob, 2) != blob.size() || Get16(blob, 6) != zfExpressionHeaderSize ||
      Get16(blob, 8) > blob.size())
    __builtin_trap();
  zfCheckExpressionWork(blob);  // raises (and so fails the run) for a blob that is not a tree
  if (Depth(blob, 0) > zfMaxExpressionDepth) __builtin_trap();
  return 0;
}
