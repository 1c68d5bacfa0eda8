// Fuzzes the expression filter evaluator. Input: the record (kRecordLength bytes, its last byte
// the null flags of the fields), then the expression blob. Evaluating a damaged blob may only give
// a result or the engine's coded error (10051); it must never read outside the blob or the record,
// recurse without end, crash or hang. The check an engine makes when it is built runs first; the
// evaluation runs whatever it answered, so the evaluator's own bounds are exercised too.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <vector>

#include "foundation/zfllErrors.h"
#include "index/zfsdFilterEngineSimpleExpression.h"
#include "index/zfsrIndexStartup.h"
#include "platform/rtl/rtlException.h"
#include "storage/zfsrTimeoutHandling.h"

namespace {

using namespace zf;

struct TField {
  TzfFieldType Type;
  uint16_t Units;
  uint16_t Offset;
  uint16_t Length;
};

// A fixed record layout: one field of each kind of value.
constexpr TField kFields[] = {
    {zftInt32, 0, 0, 4},        {zftDouble, 0, 4, 8},        {zftShortString, 10, 12, 11},
    {zftNullString, 8, 23, 9},  {zftWideString, 4, 32, 10},  {zftBoolean, 0, 42, 1},
    {zftDate, 0, 43, 4},        {zftGuid, 0, 47, 16},        {zftByteArray, 3, 63, 3},
    {zftChar, 1, 66, 1},        {zftWideChar, 1, 67, 2},     {zftCurrency, 0, 69, 8},
};
constexpr int32_t kFieldCount = sizeof(kFields) / sizeof(kFields[0]);
constexpr size_t kRecordLength = 78;  // the fields, then one byte of null flags (fields 0 to 7)

class TFuzzFields : public IzfFieldsSource {
 public:
  bool GetFieldForFilter(int32_t aField, const char*, const uint8_t* aData, uint16_t& aType, uint16_t& aSize,
                         bool& aIsNull, const uint8_t*& aValue, uint16_t& aCodePage) override {
    if (aField < 0 || aField >= kFieldCount) return false;
    const TField& f = kFields[aField];
    aType = static_cast<uint16_t>(f.Type);
    aSize = f.Units;
    aIsNull = aField < 8 && (aData[kRecordLength - 1] >> aField & 1) != 0;
    aValue = aData + f.Offset;
    aCodePage = aField % 2 ? 1252 : 932;
    if (f.Type == zftShortString) {
      aSize = std::min<uint16_t>(aValue[0], f.Units);
      ++aValue;
    }
    return true;
  }
  rtl::Variant GetFieldAsVariant(const uint8_t*, int32_t) override { return {}; }
  bool GetSourceFlag() override { return false; }
  int32_t GetFieldFromName(const UnicodeString&) override { return -1; }
  int32_t GetFieldCount() override { return kFieldCount; }
  void GetFieldInfo(int32_t, IzfFieldInfo*& aInfo) override { aInfo = nullptr; }
  TzfPersistent* GetOwnerCursor() override { return nullptr; }
  int32_t GetDataOffset() override { return 0; }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zfStartIndex();
  zfSetTimeout(0, true);  // long evaluations look at the deadline: none
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < kRecordLength) return 0;
  // Exact-size copies, so a read past either is caught by the sanitizer.
  const std::vector<uint8_t> record(aData, aData + kRecordLength);
  const TzfCANExpr blob(aData + kRecordLength, aData + aSize);
  TFuzzFields fields;
  try {
    zfCheckExpressionWork(blob);
  } catch (const EzfBaseException& e) {
    if (e.ErrorCode() != zfErrInvalidFilter) __builtin_trap();
  }
  try {
    zfEvaluateExpression(blob, fields, record.data(), 1252);
  } catch (const EzfBaseException& e) {
    if (e.ErrorCode() != zfErrInvalidFilter && e.ErrorCode() != zfErrOSUnknown) __builtin_trap();
  }
  return 0;
}
