// The floating-point and money value mappers: converters from a Single, Double, Extended,
// Currency or BCD field into any of the 21 numeric targets, and from a Double into a DateTime.
//
// Stored forms: Single and Double are IEEE 754 values in 4 and 8 bytes, Extended the 80-bit value
// in 10 bytes, Currency and BCD a signed 64-bit count of ten-thousandths (r, the value r / 10000).
// All arithmetic is done in 80-bit extended precision; rounding to an integer goes to the nearest,
// ties to even (2.5 gives 2, 3.5 gives 4).
//
// Tolerance: a and b are alike when |a - b| <= max(min(|a|, |b|) x t, t), t = 1E-4 for a Single
// source, 1E-12 for a Double and 1E-16 for an Extended. A value is whole for the checking methods
// when |Frac(x)| <= 1E-16, whatever the source.
//
// What each target receives (best fit: a descriptor with dlaBestFit; checking: anything else):
//   Boolean       best fit: 0x00 when x is alike 0, else 0xFF. Checking: 0x00 for alike 0; else
//                 0xFF is written and the result is 0 for alike 1 and 10002 for anything else.
//                 A Currency source tests r = 0 and r = 10000 exactly.
//   integers      best fit: a value below the target's range (NaN too) stores its minimum, above
//                 it its maximum, else the rounded value. Checking: 10002 for a value out of
//                 range, not a number or not whole, else the value. Currency compares r with the
//                 limits x 10000 (Int64: only the fraction is tested).
//   Char,WideChar checking: the digit of a whole value from 0 to 9, else 10002. Best fit: the
//                 first character of the value's text ("-" for a negative value).
//   Single        from Double or Extended. Best fit: |x| above 3.4E38 stores the single nearest
//                 3.4E38 with x's sign, else the nearest single. Checking: 10002 for |x| above
//                 3.4E38 or a non-zero |x| below 1.5E-45.
//   Double        from Extended: the same with 1.7E308 and 5E-324. Wider types widen exactly.
//   Currency      s = x x 10000. Best fit: brought to the limits +-922337203685477.5807, then
//                 rounded. Checking: 10002 outside the limits or when s is not whole. From a
//                 Currency or BCD the raw value is copied (-2^63 becomes the lower limit).
//   DateTime      (Double only) the value's days since 30 December 1899 with the time as a
//                 fraction, as the day number x 86400000 + milliseconds; a value before 1 January
//                 of year 1 or beyond the 32-bit day range answers 10002.
//   ByteArray     the source's 4, 8, 10 or 8 bytes, when the target has room for them.
//   text          the value's general text with 15 significant digits and the target locale's
//                 decimal separator. Checking answers 10002 for a text longer than the target
//                 holds; best fit keeps its first characters.
//   BCD           the value's decimal digits (15 significant digits of a floating-point value)
//                 at the target's precision and scale. Checking answers 10002 when a digit is
//                 lost; best fit keeps the lowest integer digits and drops surplus fraction
//                 digits, and brings an amount the 8-byte form cannot hold to the nearest limit.
//                 A Currency into a BCD of 20 units is copied. NaN and infinities have no digits
//                 and answer 10002.
#pragma once
#include <cstdint>

#include "mapping/zfsdFieldMapperBase.h"
#include "mapping/zfsdMapperText.h"

namespace zf {

// The state of a floating-point or money mapper made for a character, text or BCD target.
class TzfFloatMapperBase : public TzfBaseFieldMapper {
 public:
  explicit TzfFloatMapperBase(TzfFieldDescriptor& aTargetField);

  rtl::TFormatSettings fmFormatSettings;  // of the target field's locale, read at construction
  int32_t fmTargetLength;                 // fdLength of the target
  int32_t fmTargetUnits;                  // fdUnits of the target
  int32_t fmTargetDecPl;                  // fdDecPl of the target
  TzfTextTarget fmTextTarget;             // for text and character targets
};

struct TzfSingleMapper { static const TzfFieldMapperClass& ClassInfo(); };
struct TzfDoubleMapper { static const TzfFieldMapperClass& ClassInfo(); };
struct TzfExtendedMapper { static const TzfFieldMapperClass& ClassInfo(); };
// Serves Currency and BCD sources.
struct TzfCurrencyMapper { static const TzfFieldMapperClass& ClassInfo(); };

}  // namespace zf
