// The engine's field types and statement parameter types.
//
// The ordinal of a TzfFieldType is stored in table files and indexes the field-mapper matrix: the
// order below is part of the file format and must never change.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/rtl/rtlText.h"

namespace zf {

enum class TzfFieldType : uint8_t {
  zftBoolean = 0,
  zftChar = 1,
  zftWideChar = 2,
  zftByte = 3,
  zftWord16 = 4,
  zftWord32 = 5,
  zftInt8 = 6,
  zftInt16 = 7,
  zftInt32 = 8,
  zftInt64 = 9,
  zftAutoInc = 10,
  zftSingle = 11,
  zftDouble = 12,
  zftExtended = 13,
  zftCurrency = 14,
  zftDate = 15,
  zftTime = 16,
  zftDateTime = 17,
  zftInterval = 18,
  zftBlob = 19,
  zftBlobMemo = 20,
  zftBlobGraphic = 21,
  zftByteArray = 22,
  zftShortString = 23,
  zftNullString = 24,
  zftWideString = 25,
  zftRecRev = 26,
  zftGuid = 27,
  zftBCD = 28,
  zftBlobWideMemo = 29,
  zftFmtBCD = 30,
};
using enum TzfFieldType;

inline constexpr int zfFieldTypeCount = 31;
inline constexpr TzfFieldType zfLastFieldType = zftFmtBCD;

// True for the ordinals 0..30; a stored byte outside them is no field type.
constexpr bool zfIsValidFieldType(TzfFieldType aType) { return static_cast<uint8_t>(aType) <= 30; }
constexpr bool zfIsBlobType(TzfFieldType aType) {
  return aType == zftBlob || aType == zftBlobMemo || aType == zftBlobGraphic || aType == zftBlobWideMemo;
}

enum class TzfParamType : uint8_t { zfptUnknown, zfptInput, zfptOutput, zfptInputOutput, zfptResult };
using enum TzfParamType;

using TByteDynArray = std::vector<uint8_t>;

// A statement parameter: name, direction, field type and its value in native form.
struct TzfSqlParamDesc {
  rtl::UnicodeString Name;
  TzfParamType ParamType = zfptUnknown;
  TzfFieldType FieldType = zftBoolean;
  TByteDynArray Data;
};
using TzfSqlParamList = std::vector<TzfSqlParamDesc>;

}  // namespace zf
