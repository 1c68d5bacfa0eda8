// The text-source mappers: converters from the text of a ShortString (TzfShortStringMapper),
// NullString (TzfNullStringMapper) or WideString (TzfWideStringMapper) field into the 22 other
// types the matrix allows: Boolean, Char, WideChar, the integer types, AutoInc, RecRev, Single,
// Double, Extended, Currency, BCD, Date, Time, DateTime, ByteArray and Guid. Text into text is the
// string mappers', text into BLOBs the BLOB side's.
//
// The text is read bounded by the source field (see zfsdStringMapper.h) and parsed as UTF-16: 8-bit
// text is widened with the process's ANSI code page, or decoded with the source field's code page
// on the decoding path (both code pages set and either a character target whose code page differs,
// or a multi-byte source code page with a target shorter than the source).
//
// Parsing rules (BF = dlaBestFit; check = the other actions, and no descriptor):
//   integers   leading blanks, a sign, then decimal digits or hexadecimal ones after "$", "x",
//              "X", "0x" or "0X"; nothing may follow. The value fits 32 bits (hexadecimal up to
//              $FFFFFFFF as the bit pattern), or 64 bits for Int64, Word32, AutoInc and RecRev.
//              An invalid text still has a value: the digits read before the first wrong
//              character, without the sign (0 when none).
//              Int8, Int16, Word16, Int32, Int64: BF stores the value, brought to the target's
//              range; check answers 10002 for an invalid text or a value out of range.
//              Word32, AutoInc, RecRev: a value outside 0..4294967295 raises a range error under
//              every action; then check answers 10002 for an invalid text.
//              Byte: an invalid text counts as 0; outside 0..255 BF raises a range error, check
//              answers 10002.
//   floats     leading blanks, sign, digits with an optional "." fraction, optional exponent; the
//              separator is "." in every locale. BF stores the value of the valid leading part (0
//              without digits), brought to the target's range; check answers 10002 for an invalid
//              text or a value out of range. Currency stores value x 10000, rounded to the nearest.
//   BCD        the text as a BCD value (the process's decimal separator), normalised to the
//              target's units and decimals, stored as value x 10000; BF ignores lost digits and
//              stores 0 for an invalid text, check answers 10002 for either.
//   Boolean    BF: True for "1" "Y" "Yes" "T" "True" (letters in any case), else False; check:
//              those, or False for "0" "N" "No" "F" "False", else 10002.
//   dates      the source locale's format settings (the system default locale's without one).
//              Date: an unparsable text is 1 January 0001 (day 1) under BF and 10002 under check,
//              as is that very date. Time: unparsable is midnight (BF) or 10002. DateTime as Date.
//   Guid       "{" 8-4-4-4-12 hexadecimal digits "}"; BF stores 16 zero bytes for anything else,
//              check answers 10002.
//   ByteArray  the text's bytes (8-bit text as stored, UTF-16 low byte first): BF the first ones
//              that fit, check 10002 when they do not all fit.
//   Char       the first byte of the 8-bit text (decoding path: of its first character in the
//              target code page); a wide text's first character encoded in the target code page.
//   WideChar   the first UTF-16 unit (8-bit text decoded with the source code page); a wide text
//              of more than one unit answers 10002 under check. The empty text gives 0.
// A NullString text of more than 254 characters, and a wide text whose 8-bit form exceeds 255
// bytes where it is parsed as 8-bit text (Boolean, Byte, BCD), is refused with 10002 under every
// action: it is no value these parsers read.
#pragma once
#include <cstdint>

#include "mapping/zfsdFieldMapperBase.h"
#include "platform/rtl/rtlFormat.h"

namespace zf {

// State shared by the three text-source mappers.
class TzfTextSourceMapperBase : public TzfBaseFieldMapper {
 public:
  TzfTextSourceMapperBase(TzfFieldDescriptor& aSourceField, TzfFieldDescriptor& aTargetField,
                          const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper,
                          const char16_t* aClassName);

  // One method per target type and action (BF: dlaBestFit).
  template <TzfFieldType T, bool BF>
  uint32_t To(const uint8_t* aSource, uint8_t* aTarget);

  rtl::TFormatSettings tsFormatSettings;
  TzfFieldType tsSourceType;
  int32_t tsSourceUnits;  // the source's room in characters
  int32_t tsSourceLength;
  int32_t tsTargetLength;
  uint16_t tsSourceCodepage;
  uint16_t tsTargetCodepage;
  int32_t tsTargetUnits;  // BCD precision
  int32_t tsTargetDecPl;  // BCD scale
  bool tsDecoding;        // 8-bit text decoded with the source code page
  const char16_t* tsClassName;

 private:
  // The source text as UTF-16 for the parsers; False when it is too long to be parsed for target
  // type aTarget.
  bool ParseText(const uint8_t* aSource, TzfFieldType aTarget, rtl::UnicodeString& aText);
  uint32_t ToByteArray(const uint8_t* aSource, uint8_t* aTarget, bool aBestFit);
  uint32_t ToChar(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t ToWideChar(const uint8_t* aSource, uint8_t* aTarget, bool aBestFit);
  [[noreturn]] void RaiseDecodeError(TzfFieldType aTarget, const char16_t* aCall);
};

class TzfShortStringMapper : public TzfTextSourceMapperBase {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  TzfShortStringMapper(TzfFieldDescriptor& aSourceField, TzfFieldDescriptor& aTargetField,
                       const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper)
      : TzfTextSourceMapperBase(aSourceField, aTargetField, aMapperDesc, aMapper, u"TzfShortStringMapper") {}
};

class TzfNullStringMapper : public TzfTextSourceMapperBase {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  TzfNullStringMapper(TzfFieldDescriptor& aSourceField, TzfFieldDescriptor& aTargetField,
                      const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper)
      : TzfTextSourceMapperBase(aSourceField, aTargetField, aMapperDesc, aMapper, u"TzfNullStringMapper") {}
};

class TzfWideStringMapper : public TzfTextSourceMapperBase {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  TzfWideStringMapper(TzfFieldDescriptor& aSourceField, TzfFieldDescriptor& aTargetField,
                      const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper)
      : TzfTextSourceMapperBase(aSourceField, aTargetField, aMapperDesc, aMapper, u"TzfWideStringMapper") {}
};

// The text parsers, also for tests: the integer and float syntax above. The value is set for an
// invalid text too.
bool zfParseTextInteger(rtl::UnicodeStringView aText, bool a64Bit, int64_t& aValue);
bool zfParseTextFloat(rtl::UnicodeStringView aText, long double& aValue);

// Registers the three classes for their 22 targets each (unit start); the registry empties the
// cells.
rtl::TUnitInit& zfsdTextSourceMapperUnit();

}  // namespace zf
