// The character mappers: converters from a Char field (one byte of text in the field's code page)
// or a WideChar field (one UTF-16 unit, stored little-endian) into the 21 numeric targets
// (Boolean, Char, WideChar, the integer types, AutoInc, RecRev, Single, Double, Extended,
// Currency, BCD, ByteArray and the three text types).
//
//   target                       dlaBestFit                    other actions
//   number                       the digit's value, 0 for a    the digit's value; a non-digit
//                                non-digit                     answers 10002, target unwritten
//   Currency, BCD                digit x 10000 (Int64)         the same, non-digit 10002
//   Boolean from Char            "0" "F" "N" False, else True  "0" "F" "N" False, "1" "T" "Y"
//                                                              True, else 10002
//   Boolean from WideChar        "1".."9" True, else False     "0" False, "1" True, else 10002
//   ByteArray                    the byte, or the unit low byte first, into the first bytes;
//                                a one-byte array takes a unit's low byte (best fit) or answers
//                                10002; an array of no bytes gets no method
//   Char, WideChar, text         the character through the code pages (below)
//
// Only "0" to "9" are digits; letters are compared in upper case only. A Boolean target receives
// 0xFF for True and 0x00 for False.
//
// Char into text: the byte is copied when the code pages do not both exist and differ; otherwise
// it is decoded with the source code page and encoded with the target's. The 0 byte is the empty
// text in a NullString and a WideString, and a text of one 0 byte in a ShortString copied without
// conversion. WideChar into 8-bit text is always encoded with the target code page (0: the
// process's ANSI code page). A character that needs more room than the target has answers 10002
// (best fit: the empty text); a Char target that would need more than one byte answers 10002
// (best fit: the code page's default character). Other conversion failures raise the
// operating-system error 11047 under the checking actions.
#pragma once
#include <cstdint>

#include "mapping/zfsdFieldMapperBase.h"

namespace zf {

class TzfCharMapper : public TzfBaseFieldMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  // Text targets only (Char, WideChar, ShortString, NullString, WideString).
  TzfCharMapper(TzfFieldDescriptor& aSourceField, TzfFieldDescriptor& aTargetField,
                const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);

  uint32_t ToChar(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t ToCharConvert(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t ToWideChar(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t ToWideCharCheck(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t ToWideString(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t ToWideStringCheck(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t ToAnsiString(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t ToAnsiStringCheck(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t ToAnsiStringConvert(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t ToAnsiStringConvertCheck(const uint8_t* aSource, uint8_t* aTarget);

  int32_t ccTargetLength;
  uint16_t ccSourceCodepage;
  uint16_t ccTargetCodepage;
  TzfFieldType ccTargetType;

 private:
  uint32_t ToWide(const uint8_t* aSource, uint8_t* aTarget, bool aCheck, bool aString);
  uint32_t ToAnsiConvert(const uint8_t* aSource, uint8_t* aTarget, bool aCheck);
};

class TzfWideCharMapper : public TzfBaseFieldMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  TzfWideCharMapper(TzfFieldDescriptor& aSourceField, TzfFieldDescriptor& aTargetField,
                    const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);

  uint32_t ToWideChar(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t ToWideString(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t ToWideStringCheck(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t ToChar(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t ToCharCheck(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t ToAnsiString(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t ToAnsiStringCheck(const uint8_t* aSource, uint8_t* aTarget);

  int32_t wccTargetLength;
  uint16_t wccSourceCodepage;  // kept for the record; the methods encode with the target's
  uint16_t wccTargetCodepage;
  TzfFieldType wccTargetType;
};

// Registers both classes for the 21 targets each (unit start); the registry empties the cells.
rtl::TUnitInit& zfsdCharMapperUnit();

}  // namespace zf
