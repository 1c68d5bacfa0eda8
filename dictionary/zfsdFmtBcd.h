// Decimal values of the BCD field types: zftBCD is stored as a Currency (value x 10000) limited to
// the field's precision and scale, zftFmtBCD as the leading (precision + 1) div 2 + 2 bytes of a
// normalised TBcd. Overflows raise EzfBcdOverflow (9985 "BCD overflow").
#pragma once
#include <cstdint>
#include <string_view>

#include "foundation/zfllException.h"
#include "platform/rtl/rtlNumber.h"
#include "platform/rtl/rtlUnits.h"
#include "platform/rtl/rtlVariant.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfBcdException, EzfBaseException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBcdOverflow, EzfBcdException)
[[noreturn]] void zfRaiseBcdOverflow();

// Lost-digit flags.
inline constexpr uint8_t zfBcdLostInteger = 1;   // non-zero integer digits did not fit
inline constexpr uint8_t zfBcdLostFraction = 2;  // non-zero fraction digits were cut off

// Copies aSource's digits into a value of aPrecision digits and aPlaces decimals, aligned on the
// decimal point, keeping the sign and special bits; answers the lost-digit flags. A precision
// above 64 or places above 63 do not fit a TBcd and are a range error.
uint8_t zfNormalizeBcd(const rtl::TBcd& aSource, rtl::TBcd& aTarget, uint16_t aPrecision, uint16_t aPlaces);
// The same, raising EzfBcdOverflow when a flag outside aAllowed arises.
void zfNormalizeBcdChecked(const rtl::TBcd& aSource, uint16_t aPrecision, uint16_t aPlaces, rtl::TBcd& aTarget,
                           uint8_t aAllowed);

// A Currency (precision 32, 4 places) brought to aPrecision and aPlaces; answers the flags.
uint8_t zfCurrToBcd(rtl::TBcd& aTarget, uint16_t aPrecision, uint16_t aPlaces, rtl::Currency aValue);
void zfCurrToBcdChecked(uint16_t aPrecision, uint16_t aPlaces, uint8_t aAllowed, rtl::TBcd& aTarget,
                        rtl::Currency aValue);
// The value in units of 1/10000, accumulated in extended precision and rounded to the nearest
// (ties to even); False with INT64_MIN written when it does not fit 64 bits or aBcd is invalid.
bool zfBcdToCurr(const rtl::TBcd& aBcd, int64_t& aTarget);

// Text of digits, an optional leading "-" and at most one of the process's decimal separator, at
// most 64 digits; anything else raises rtl::EConvertError "%s is not a valid BCD value".
rtl::TBcd zfStrToBcd(rtl::UnicodeStringView aText);
bool zfTryStrToBcd(rtl::UnicodeStringView aText, rtl::TBcd& aBcd);
// The value's general text with 15 significant digits read back with zfStrToBcd (so exponent
// forms, NaN and infinities raise its error).
rtl::TBcd zfDoubleToBcd(double aValue);
rtl::UnicodeString zfBcdToStr(const rtl::TBcd& aBcd);
double zfBcdToDouble(const rtl::TBcd& aBcd);

void zfBcdToVariant(rtl::Variant& aVariant, const rtl::TBcd& aBcd);
// The variant's value as a TBcd (precision and places are not applied here).
rtl::TBcd zfVariantToBcd(const rtl::Variant& aVariant, uint16_t aPrecision, uint16_t aPlaces);
// The stored value of a zftBCD field: the amount rounded to aScale decimals (ties to even) and
// checked against aPrecision - aScale integer digits.
int64_t zfVariantToBcdCurrency(const rtl::Variant& aVariant, uint16_t aPrecision, uint16_t aScale);
// The stored bytes of a zftFmtBCD field (fraction digits may be cut, integer digits may not).
void zfVariantToFmtBcdBytes(const rtl::Variant& aVariant, uint16_t aPrecision, uint16_t aScale, uint8_t* aBuffer,
                            int32_t aBufferLength);

// Stored FmtBCD bytes of a field of aLength bytes back into a TBcd. False when the bytes cannot
// be a value of that field: fewer than 2 bytes, more digits than the bytes hold, places above the
// precision or a nibble above 9.
bool zfFmtBcdFromBytes(const uint8_t* aData, int32_t aLength, rtl::TBcd& aBcd);
inline int32_t zfFmtBcdStorageLength(int32_t aPrecision) { return (aPrecision + 1) / 2 + 2; }
// Three-way comparison of two stored FmtBCD values of aLength bytes each (key parts); a value that
// is not valid sorts before every valid one, two invalid values are equal.
int zfCompareFmtBcdBytes(const uint8_t* a, const uint8_t* b, int32_t aLength);
// A stored FmtBCD value in extended precision (expression filters); 0 for an invalid value.
long double zfFmtBcdBytesToExtended(const uint8_t* aData, int32_t aLength);

// The BCD routines other layers reach through pointers, set while this unit is started.
struct TzfBcdProcs {
  int (*Compare)(const rtl::TBcd&, const rtl::TBcd&) = nullptr;
  rtl::UnicodeString (*BcdToStr)(const rtl::TBcd&) = nullptr;
  double (*BcdToDouble)(const rtl::TBcd&) = nullptr;
  rtl::TBcd (*StrToBcd)(rtl::UnicodeStringView) = nullptr;
  bool (*TryStrToBcd)(rtl::UnicodeStringView, rtl::TBcd&) = nullptr;
  rtl::TBcd (*DoubleToBcd)(double) = nullptr;
  bool (*BcdToCurr)(const rtl::TBcd&, int64_t&) = nullptr;
  uint8_t (*CurrToBcd)(rtl::TBcd&, uint16_t, uint16_t, rtl::Currency) = nullptr;
};
extern TzfBcdProcs zfBcdProcs;

rtl::TUnitInit& zfsdFmtBcdUnit();

}  // namespace zf
