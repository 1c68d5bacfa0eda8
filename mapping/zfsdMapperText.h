// Text targets of the value mappers: how a converted value's text is stored in a ShortString,
// NullString or WideString field, and the locale settings that text is formed with.
//
// Stored forms (fdLength bytes in the record buffer):
//   ShortString  1 length byte, then up to units 8-bit characters       capacity fdLength - 1
//   NullString   up to units 8-bit characters, then a zero byte         capacity fdLength - 1
//   WideString   up to units UTF-16 code units, then a zero code unit   capacity fdLength / 2 - 1
// 8-bit text is written in the target field's storage code page (0: the process's ANSI code
// page), so that the field reads back the characters that were formed. A text that does not fit
// the capacity is either refused (the target is not written) or cut after its last whole
// character that fits.
#pragma once
#include <cstdint>
#include <string_view>

#include "dictionary/zfsdTypes.h"
#include "platform/rtl/rtlFormat.h"
#include "platform/rtl/rtlText.h"

namespace zf {

class TzfFieldDescriptor;

// True for ShortString, NullString and WideString.
bool zfIsTextMappingTarget(TzfFieldType aType);
// Characters (8-bit text) or code units (WideString) a text field of aLength bytes holds.
int32_t zfTextCapacity(TzfFieldType aType, int32_t aLength);

// The format settings of a field's locale (the locale of its used locale descriptor, or the
// system default locale when it has none), copied: a mapper keeps them for its life.
rtl::TFormatSettings zfFieldFormatSettings(TzfFieldDescriptor& aField);

// One text target field, as a mapper keeps it.
struct TzfTextTarget {
  TzfFieldType Type = zftWideString;
  int32_t Capacity = 0;
  uint16_t CodePage = 0;  // storage code page of an 8-bit target (0: the process's ANSI code page)

  static TzfTextTarget Of(TzfFieldDescriptor& aField);

  // Stores aText. With aCut a text longer than the capacity keeps its first whole characters
  // that fit; without it such a text answers 10002 and the target is not written. Answers 0 when
  // stored. An 8-bit target whose code page is unknown raises EConvertError.
  uint32_t Store(rtl::UnicodeStringView aText, bool aCut, uint8_t* aTarget) const;
  // Stores 8-bit bytes as they are (ShortString or NullString), at most the capacity.
  void StoreBytes(std::string_view aBytes, uint8_t* aTarget) const;
  // Stores code units as they are (WideString), at most the capacity.
  void StoreUnits(rtl::UnicodeStringView aUnits, uint8_t* aTarget) const;
};

}  // namespace zf
