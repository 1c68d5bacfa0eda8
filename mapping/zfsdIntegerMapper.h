// The Boolean and integer value mappers: converters from a Boolean, Byte, Word16, Word32 (also
// AutoInc and RecRev), Int8, Int16, Int32 or Int64 field into any of the 21 numeric targets
// (Boolean, Char, WideChar, the integer types, AutoInc, Single, Double, Extended, Currency,
// ByteArray, ShortString, NullString, WideString, RecRev, BCD).
//
// TzfBooleanMapper only has class-level methods; a Boolean source counts any non-zero byte as
// True, and a Boolean target receives 0xFF for True and 0x00 for False.
//
// The integer mappers share one set of rules, told here once:
//   - integer targets: a target whose range holds the source's stores the value unchanged;
//     otherwise the checking method answers 10002 for a value out of the target's range and the
//     best-fit method clamps it to the nearest limit. No value is ever cut to its low bits.
//   - Boolean: checking stores 0 -> 0x00, 1 -> 0xFF, anything else 10002; best fit stores 0x00
//     for 0 and 0xFF for anything else.
//   - Char, WideChar: checking stores the digit of a value from 0 to 9, else 10002; best fit
//     stores the first character of the decimal text ("-" for a negative value).
//   - Single, Double, Extended: the nearest value (ties to even). Currency: the value x 10000;
//     an Int64 beyond +-922337203685477 is brought to that limit.
//   - ByteArray: the source's bytes into the first bytes of the target, when it has room for them.
//   - ShortString, NullString, WideString: the decimal text; checking answers 10002 when it is
//     longer than the target holds, best fit keeps its first characters. Where the widest text of
//     the source type fits, no check is needed.
//   - BCD: the value x 10000, keeping the target's integer digits (units - decimals). Checking
//     answers 10002 when a digit would be dropped; best fit keeps the lowest integer digits
//     (12345 into four integer digits stores 2345), and brings an amount the 8-byte form cannot
//     hold to the Currency limit.
// The instance classes (text, character and BCD targets) keep the target's length, units and
// decimals, copied at construction.
#pragma once
#include <cstdint>

#include "mapping/zfsdFieldMapperBase.h"

namespace zf {

class TzfBooleanMapper : public TzfBaseFieldMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();
};

// The state of an integer mapper made for a character, text or BCD target.
class TzfIntegerMapperBase : public TzfBaseFieldMapper {
 public:
  TzfIntegerMapperBase(int32_t aTargetLength, int32_t aTargetUnits, int32_t aTargetDecPl)
      : imTargetLength(aTargetLength), imTargetUnits(aTargetUnits), imTargetDecPl(aTargetDecPl) {}

  int32_t imTargetLength;  // fdLength of the target
  int32_t imTargetUnits;   // fdUnits of the target
  int32_t imTargetDecPl;   // fdDecPl of the target
};

// One class per source family; each answers the classes' TryCreateMapper through ClassInfo.
struct TzfInt8Mapper { static const TzfFieldMapperClass& ClassInfo(); };
struct TzfInt16Mapper { static const TzfFieldMapperClass& ClassInfo(); };
struct TzfInt32Mapper { static const TzfFieldMapperClass& ClassInfo(); };
struct TzfInt64Mapper { static const TzfFieldMapperClass& ClassInfo(); };
struct TzfByte8Mapper { static const TzfFieldMapperClass& ClassInfo(); };
struct TzfWord16Mapper { static const TzfFieldMapperClass& ClassInfo(); };
struct TzfWord32Mapper { static const TzfFieldMapperClass& ClassInfo(); };

// True for the 21 numeric targets that the Boolean, integer, floating-point and money sources
// map into.
bool zfIsNumericMappingTarget(TzfFieldType aType);

}  // namespace zf
