// The platform's numeric types: Currency (int64 scaled by 10000), the 10-byte Extended and
// the 34-byte TBcd, with their text forms and conversions.
#pragma once
#include <cstdint>
#include <limits>
#include <string>

#include "platform/rtl/rtlFormat.h"
#include "platform/rtl/rtlText.h"

namespace zf::rtl {

// ---- decimal text ------------------------------------------------------------------------------

// A decimal number read from text: value = 0.Digits x 10^Exponent, Digits without leading or
// trailing zeros (empty for zero).
struct TDecimalText {
  bool Negative = false;
  std::string Digits;
  int32_t Exponent = 0;
};
// The platform's float text: blanks, optional sign, digits with at most one decimal separator, an
// optional exponent "E"/"e" with optional sign, blanks. At least one digit; nothing else.
bool ParseDecimalText(UnicodeStringView aText, char16_t aDecimalSeparator, TDecimalText& aResult);

bool TryStrToFloat(UnicodeStringView aText, long double& aValue,
                   const TFormatSettings& aSettings = DefaultFormatSettings());
bool TryStrToFloat(UnicodeStringView aText, double& aValue,
                   const TFormatSettings& aSettings = DefaultFormatSettings());
// Raises EConvertError "'%s' is not a valid floating point value".
long double StrToFloat(UnicodeStringView aText, const TFormatSettings& aSettings = DefaultFormatSettings());

// ---- Currency ----------------------------------------------------------------------------------

struct Currency {
  int64_t Value = 0;  // the amount times 10000
  static constexpr Currency FromScaled(int64_t aScaled) { return Currency{aScaled}; }
  bool operator==(const Currency&) const = default;
};

// The amount of a real number rounded to 4 decimals, ties to even; false for NaN, infinity or an
// amount outside the Currency range.
bool TryFloatToCurrency(long double aValue, Currency& aResult);
long double CurrencyToFloat(Currency aValue);
// Decimal text parsed exactly, rounded to 4 decimals (ties to even); false for bad text or range.
bool TryStrToCurr(UnicodeStringView aText, Currency& aValue,
                  const TFormatSettings& aSettings = DefaultFormatSettings());
// Raises EConvertError "'%s' is not a valid floating point value".
Currency StrToCurr(UnicodeStringView aText, const TFormatSettings& aSettings = DefaultFormatSettings());
// Shortest exact text: "-12.5", "3", "0.0001".
UnicodeString CurrToStr(Currency aValue, const TFormatSettings& aSettings = DefaultFormatSettings());
// Round an integer quotient a / b to the nearest, ties to even (b > 0).
int64_t DivRoundHalfEven(int64_t a, int64_t b);

// ---- Extended ----------------------------------------------------------------------------------

// The 10-byte x87 extended value is the first 10 bytes of an x86-64 long double.
static_assert(std::numeric_limits<long double>::digits == 64, "long double must be the x87 80-bit format");
inline constexpr size_t ExtendedSize = 10;
long double ExtendedFromBytes(const uint8_t* aBytes);
void ExtendedToBytes(long double aValue, uint8_t* aBytes);

// ---- TBcd --------------------------------------------------------------------------------------

// Packed decimal: Precision digits (1..64), SignSpecialPlaces bit 7 negative, bit 6 special,
// bits 0..5 the decimal places; Fraction holds the digits two per byte, the first in the high
// nibble, most significant first. The first Precision - places digits are the integer part.
struct TBcd {
  uint8_t Precision = 0;
  uint8_t SignSpecialPlaces = 0;
  uint8_t Fraction[32] = {};
  bool operator==(const TBcd&) const = default;
};
static_assert(sizeof(TBcd) == 34, "TBcd is a 34-byte record");
inline constexpr int MaxBcdDigits = 64;

inline bool BcdIsNegative(const TBcd& b) { return (b.SignSpecialPlaces & 0x80) != 0; }
inline int BcdPlaces(const TBcd& b) { return b.SignSpecialPlaces & 0x3F; }
inline int BcdDigit(const TBcd& b, int i) {
  uint8_t x = b.Fraction[i / 2];
  return (i % 2 == 0) ? (x >> 4) : (x & 0x0F);
}
inline void SetBcdDigit(TBcd& b, int i, int aDigit) {
  uint8_t& x = b.Fraction[i / 2];
  x = (i % 2 == 0) ? static_cast<uint8_t>((x & 0x0F) | (aDigit << 4)) : static_cast<uint8_t>((x & 0xF0) | aDigit);
}
// The digits of a BCD value as decimal text (only its Precision digits are read; a Precision
// above 64 or places above the precision count as invalid).
bool BcdIsValid(const TBcd& b);
bool BcdToDecimal(const TBcd& b, TDecimalText& aResult);
// A decimal value as BCD: precision = integer digits + fraction digits (at least 1); false when
// more than 64 digits or 63 places are needed.
bool DecimalToBcd(const TDecimalText& aValue, TBcd& aResult);

// "-123.45", "0.5", "0"; invalid values give "0".
UnicodeString BcdToStr(const TBcd& b, char16_t aDecimalSeparator = u'.');
// Decimal text (blanks, sign, digits, one separator, exponent as for floats).
bool TryStrToBcd(UnicodeStringView aText, TBcd& b, char16_t aDecimalSeparator = u'.');
long double BcdToFloat(const TBcd& b);
// 15 significant digits of the value; false for NaN, infinities and values beyond 64 digits.
bool TryFloatToBcd(long double aValue, TBcd& b);
// Rounded to 4 decimals, ties to even; false when the amount does not fit a Currency.
bool TryBcdToCurrency(const TBcd& b, Currency& aValue);
// Precision 32 and 4 places.
TBcd CurrencyToBcd(Currency aValue);
// Three-way comparison of the values (-1, 0, 1); invalid values compare as zero.
int BcdCompare(const TBcd& a, const TBcd& b);

}  // namespace zf::rtl
