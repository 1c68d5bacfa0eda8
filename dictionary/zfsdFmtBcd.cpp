#include "dictionary/zfsdFmtBcd.h"

#include <cmath>
#include <cstring>

#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlFormat.h"

namespace zf {

using rtl::TBcd;

TzfBcdProcs zfBcdProcs;

void zfRaiseBcdOverflow() { throw EzfBcdOverflow(zfErrOutOfRange, u"BCD overflow"); }

uint8_t zfNormalizeBcd(const TBcd& aSource, TBcd& aTarget, uint16_t aPrecision, uint16_t aPlaces) {
  if (aPrecision > rtl::MaxBcdDigits || aPlaces > 63) rtl::RaiseRangeError();
  TBcd t;
  t.Precision = static_cast<uint8_t>(aPrecision);
  t.SignSpecialPlaces = static_cast<uint8_t>((aSource.SignSpecialPlaces & 0xC0) | aPlaces);
  // A damaged source claims no more digits than a TBcd holds.
  int srcPrec = aSource.Precision > rtl::MaxBcdDigits ? rtl::MaxBcdDigits : aSource.Precision;
  int srcInt = aSource.Precision - rtl::BcdPlaces(aSource);
  int shift = (static_cast<int>(aPrecision) - static_cast<int>(aPlaces)) - srcInt;
  uint8_t flags = 0;
  for (int i = 0; i < srcPrec; ++i) {
    int d = rtl::BcdDigit(aSource, i);
    int pos = i + shift;
    if (pos < 0) {
      if (d) flags |= zfBcdLostInteger;
    } else if (pos >= aPrecision) {
      if (d) flags |= zfBcdLostFraction;
    } else {
      rtl::SetBcdDigit(t, pos, d);
    }
  }
  aTarget = t;
  return flags;
}

void zfNormalizeBcdChecked(const TBcd& aSource, uint16_t aPrecision, uint16_t aPlaces, TBcd& aTarget,
                           uint8_t aAllowed) {
  if (zfNormalizeBcd(aSource, aTarget, aPrecision, aPlaces) & ~aAllowed) zfRaiseBcdOverflow();
}

uint8_t zfCurrToBcd(TBcd& aTarget, uint16_t aPrecision, uint16_t aPlaces, rtl::Currency aValue) {
  return zfNormalizeBcd(rtl::CurrencyToBcd(aValue), aTarget, aPrecision, aPlaces);
}

void zfCurrToBcdChecked(uint16_t aPrecision, uint16_t aPlaces, uint8_t aAllowed, TBcd& aTarget, rtl::Currency aValue) {
  if (zfCurrToBcd(aTarget, aPrecision, aPlaces, aValue) & ~aAllowed) zfRaiseBcdOverflow();
}

bool zfBcdToCurr(const TBcd& aBcd, int64_t& aTarget) {
  aTarget = INT64_MIN;
  if (!rtl::BcdIsValid(aBcd)) return false;
  long double acc = 0;
  for (int i = 0; i < aBcd.Precision; ++i) acc = acc * 10 + rtl::BcdDigit(aBcd, i);
  int scale = 4 - rtl::BcdPlaces(aBcd);
  if (scale >= 0) acc *= std::pow(10.0L, static_cast<long double>(scale));
  else acc /= std::pow(10.0L, static_cast<long double>(-scale));
  acc = std::nearbyintl(acc);  // to nearest, ties to even
  if (rtl::BcdIsNegative(aBcd)) acc = -acc;
  if (!(acc >= -9223372036854775808.0L && acc < 9223372036854775808.0L)) return false;
  aTarget = static_cast<int64_t>(acc);
  return true;
}

bool zfTryStrToBcd(rtl::UnicodeStringView aText, TBcd& aBcd) {
  char16_t sep = rtl::DefaultFormatSettings().DecimalSeparator;
  size_t i = 0;
  if (!aText.empty() && aText[0] == u'-') i = 1;
  bool seenSep = false, any = false;
  for (size_t k = i; k < aText.size(); ++k) {
    char16_t c = aText[k];
    if (c >= u'0' && c <= u'9') any = true;
    else if (c == sep && !seenSep) seenSep = true;
    else return false;
  }
  if (!any) return false;
  rtl::TDecimalText d;
  return rtl::ParseDecimalText(aText, sep, d) && rtl::DecimalToBcd(d, aBcd);
}

TBcd zfStrToBcd(rtl::UnicodeStringView aText) {
  TBcd b;
  if (!zfTryStrToBcd(aText, b)) throw rtl::EConvertError(rtl::Format(u"%s is not a valid BCD value", {aText}));
  return b;
}

TBcd zfDoubleToBcd(double aValue) { return zfStrToBcd(rtl::FloatToStr(aValue, rtl::DefaultFormatSettings())); }

rtl::UnicodeString zfBcdToStr(const TBcd& aBcd) {
  return rtl::BcdToStr(aBcd, rtl::DefaultFormatSettings().DecimalSeparator);
}

double zfBcdToDouble(const TBcd& aBcd) { return static_cast<double>(rtl::BcdToFloat(aBcd)); }

void zfBcdToVariant(rtl::Variant& aVariant, const TBcd& aBcd) { aVariant = rtl::Variant(aBcd); }

TBcd zfVariantToBcd(const rtl::Variant& aVariant, uint16_t, uint16_t) {
  if (aVariant.VarType() == rtl::varFMTBcd) return aVariant.RawBcd();
  return aVariant.ChangeType(rtl::varFMTBcd).RawBcd();
}

int64_t zfVariantToBcdCurrency(const rtl::Variant& aVariant, uint16_t aPrecision, uint16_t aScale) {
  int64_t v = aVariant.AsCurrency().Value;
  if (aScale <= 3) {
    static constexpr int64_t kDiv[4] = {10000, 1000, 100, 10};
    int64_t q = rtl::DivRoundHalfEven(v, kDiv[aScale]);
    if (__builtin_mul_overflow(q, kDiv[aScale], &v)) zfRaiseBcdOverflow();
  }
  int d = static_cast<int>(aPrecision) - static_cast<int>(aScale);
  if (d <= 0) zfRaiseBcdOverflow();
  if (d < 15) {
    uint64_t intPart = (v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v)) / 10000;
    uint64_t limit = 1;
    for (int i = 0; i < d; ++i) limit *= 10;
    if (intPart > limit) zfRaiseBcdOverflow();
  } else {
    long double x = std::fabs(static_cast<long double>(aVariant.AsDouble())) * 10000.0L;
    if (!(x <= 9223372036854775807.0L)) zfRaiseBcdOverflow();
  }
  return v;
}

void zfVariantToFmtBcdBytes(const rtl::Variant& aVariant, uint16_t aPrecision, uint16_t aScale, uint8_t* aBuffer,
                            int32_t aBufferLength) {
  if (aBufferLength < zfFmtBcdStorageLength(aPrecision)) zfRaiseBcdOverflow();
  TBcd target;
  zfNormalizeBcdChecked(zfVariantToBcd(aVariant, aPrecision, aScale), aPrecision, aScale, target, zfBcdLostFraction);
  size_t n = static_cast<size_t>(aBufferLength) < sizeof(TBcd) ? static_cast<size_t>(aBufferLength) : sizeof(TBcd);
  std::memcpy(aBuffer, &target, n);
}

bool zfFmtBcdFromBytes(const uint8_t* aData, int32_t aLength, TBcd& aBcd) {
  if (aLength < 2) return false;
  TBcd b;
  size_t n = static_cast<size_t>(aLength) < sizeof(TBcd) ? static_cast<size_t>(aLength) : sizeof(TBcd);
  std::memcpy(&b, aData, n);
  if (b.Precision > (n - 2) * 2 || !rtl::BcdIsValid(b)) return false;
  aBcd = b;
  return true;
}

int zfCompareFmtBcdBytes(const uint8_t* a, const uint8_t* b, int32_t aLength) {
  TBcd x, y;
  bool okA = zfFmtBcdFromBytes(a, aLength, x), okB = zfFmtBcdFromBytes(b, aLength, y);
  if (!okA || !okB) return okA == okB ? 0 : (okA ? 1 : -1);
  return rtl::BcdCompare(x, y);
}

long double zfFmtBcdBytesToExtended(const uint8_t* aData, int32_t aLength) {
  TBcd b;
  return zfFmtBcdFromBytes(aData, aLength, b) ? rtl::BcdToFloat(b) : 0.0L;
}

namespace {

int CompareProc(const TBcd& a, const TBcd& b) { return rtl::BcdCompare(a, b); }

void StartFmtBcd() {
  zfBcdProcs.Compare = &CompareProc;
  zfBcdProcs.BcdToStr = &zfBcdToStr;
  zfBcdProcs.BcdToDouble = &zfBcdToDouble;
  zfBcdProcs.StrToBcd = &zfStrToBcd;
  zfBcdProcs.TryStrToBcd = &zfTryStrToBcd;
  zfBcdProcs.DoubleToBcd = &zfDoubleToBcd;
  zfBcdProcs.BcdToCurr = &zfBcdToCurr;
  zfBcdProcs.CurrToBcd = &zfCurrToBcd;
}

void StopFmtBcd() { zfBcdProcs = TzfBcdProcs{}; }

}  // namespace

rtl::TUnitInit& zfsdFmtBcdUnit() {
  static rtl::TUnitInit unit("zfsdFmtBcd", &StartFmtBcd, &StopFmtBcd);
  return unit;
}

}  // namespace zf
