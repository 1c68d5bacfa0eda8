#include "mapping/zfsdFloatMapper.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFmtBcd.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllUtils.h"
#include "platform/rtl/rtlAnsi.h"
#include "platform/rtl/rtlDateTime.h"
#include "platform/rtl/rtlNumber.h"

namespace zf {

namespace {

static_assert(std::endian::native == std::endian::little, "floating-point fields are stored in host order");

using TCode = TzfMappingMethod::TCode;
using rtl::TBcd;

// The Currency limits: +-922337203685477.5807 as raw values.
constexpr int64_t kCurrencyHigh = INT64_MAX;
constexpr int64_t kCurrencyLow = -INT64_MAX;
constexpr long double kScale = 10000.0L;
// A value is whole when its fraction is at most this (the Extended tolerance).
constexpr long double kWholeTolerance = 1E-16L;

constexpr uint32_t kNoFit = zfErrInvalidFieldXForm;

bool IsWhole(long double x) { return std::fabs(x - std::trunc(x)) <= kWholeTolerance; }
long double Round(long double x) { return std::nearbyint(x); }  // the default mode: ties to even

// ---- Sources --------------------------------------------------------------------------------------

struct TSingleSource {
  static constexpr TzfFieldType Type = zftSingle;
  static constexpr size_t Size = 4;
  static constexpr long double Tolerance = 1E-4L;
  static long double Load(const uint8_t* p) {
    float f;
    std::memcpy(&f, p, sizeof f);
    return f;
  }
};
struct TDoubleSource {
  static constexpr TzfFieldType Type = zftDouble;
  static constexpr size_t Size = 8;
  static constexpr long double Tolerance = 1E-12L;
  static long double Load(const uint8_t* p) {
    double d;
    std::memcpy(&d, p, sizeof d);
    return d;
  }
};
struct TExtendedSource {
  static constexpr TzfFieldType Type = zftExtended;
  static constexpr size_t Size = rtl::ExtendedSize;
  static constexpr long double Tolerance = 1E-16L;
  static long double Load(const uint8_t* p) { return rtl::ExtendedFromBytes(p); }
};
// Currency and BCD: r ten-thousandths; the floating-point value is r / 10000.
struct TCurrencySource {
  static constexpr size_t Size = 8;
  static int64_t Raw(const uint8_t* p) { return zfLoadLE<int64_t>(p); }
  static long double Load(const uint8_t* p) { return static_cast<long double>(Raw(p)) / kScale; }
};

template <class S>
bool AlikeZero(long double x) { return std::fabs(x) <= S::Tolerance; }
template <class S>
bool AlikeOne(long double x) { return std::fabs(x - 1) <= S::Tolerance; }

template <class F>
void StoreFloat(uint8_t* aTarget, F aValue) { std::memcpy(aTarget, &aValue, sizeof aValue); }

void StoreCurrency(uint8_t* aTarget, int64_t aRaw) { zfStoreLE<int64_t>(aTarget, aRaw); }

// ---- Floating-point sources, class-level methods ---------------------------------------------------

template <class S, bool BestFit>
uint32_t FloatToBoolean(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  const long double x = S::Load(aSource);
  if (AlikeZero<S>(x)) {
    aTarget[0] = 0x00;
    return 0;
  }
  aTarget[0] = 0xFF;
  return BestFit || AlikeOne<S>(x) ? 0 : kNoFit;
}

template <class S, class T, bool BestFit>
uint32_t FloatToInteger(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  const long double x = S::Load(aSource);
  constexpr auto lo = static_cast<long double>(std::numeric_limits<T>::min());
  constexpr auto hi = static_cast<long double>(std::numeric_limits<T>::max());
  T r;
  if constexpr (BestFit) {
    if (!(x >= lo))
      r = std::numeric_limits<T>::min();
    else if (x > hi)
      r = std::numeric_limits<T>::max();
    else
      r = static_cast<T>(Round(x));
  } else {
    if (!(x >= lo && x <= hi) || !IsWhole(x)) return kNoFit;
    r = static_cast<T>(Round(x));
  }
  zfStoreLE<T>(aTarget, r);
  return 0;
}

// Into a narrower floating-point type F whose magnitudes run from aSmallest to aLargest (the
// limits the data-loss rule uses, a little inside the type's own).
template <class S, class F, bool BestFit>
uint32_t FloatToNarrower(const void*, const uint8_t* aSource, uint8_t* aTarget, long double aLargest,
                         long double aSmallest) {
  const long double x = S::Load(aSource);
  const long double a = std::fabs(x);
  if constexpr (BestFit) {
    if (a > aLargest) {
      StoreFloat<F>(aTarget, static_cast<F>(std::signbit(x) ? -aLargest : aLargest));
      return 0;
    }
  } else {
    if (a > aLargest || (x != 0 && a < aSmallest)) return kNoFit;
  }
  // A NaN stays a NaN: the target type holds it as it is.
  StoreFloat<F>(aTarget, static_cast<F>(x));
  return 0;
}

template <class S, bool BestFit>
uint32_t FloatToSingle(const void* aData, const uint8_t* aSource, uint8_t* aTarget) {
  return FloatToNarrower<S, float, BestFit>(aData, aSource, aTarget, 3.4E38L, 1.5E-45L);
}
template <class S, bool BestFit>
uint32_t FloatToDouble(const void* aData, const uint8_t* aSource, uint8_t* aTarget) {
  return FloatToNarrower<S, double, BestFit>(aData, aSource, aTarget, 1.7E308L, 5E-324L);
}

template <class S, class F>
uint32_t FloatWiden(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  StoreFloat<F>(aTarget, static_cast<F>(S::Load(aSource)));
  return 0;
}
template <class S>
uint32_t FloatToExtended(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  rtl::ExtendedToBytes(S::Load(aSource), aTarget);
  return 0;
}

template <class S, bool BestFit>
uint32_t FloatToCurrency(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  const long double s = S::Load(aSource) * kScale;
  constexpr auto lo = static_cast<long double>(kCurrencyLow), hi = static_cast<long double>(kCurrencyHigh);
  int64_t r;
  if constexpr (BestFit) {
    // Not a number is below every limit, as for the integer targets.
    if (!(s >= lo))
      r = kCurrencyLow;
    else if (s > hi)
      r = kCurrencyHigh;
    else
      r = static_cast<int64_t>(Round(s));
  } else {
    if (!(s >= lo && s <= hi) || !IsWhole(s)) return kNoFit;
    r = static_cast<int64_t>(Round(s));
  }
  StoreCurrency(aTarget, r);
  return 0;
}

// The days since 30 December 1899 (the fraction the time of day, counted forward from midnight
// also for negative values) as a stored DateTime.
uint32_t DoubleToDateTime(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  constexpr int64_t kDay = rtl::MSecsPerDay;
  const long double ms = Round(TDoubleSource::Load(aSource) * kDay);
  // Beyond 64 bits of milliseconds (or not a number) there is no time stamp.
  if (!(std::fabs(ms) < 9.2E18L)) return kNoFit;
  const auto m = static_cast<int64_t>(ms);
  const uint64_t a = m < 0 ? 0 - static_cast<uint64_t>(m) : static_cast<uint64_t>(m);
  const auto days = static_cast<int64_t>(a / kDay), time = static_cast<int64_t>(a % kDay);
  const int64_t day = m >= 0 ? rtl::DateDelta + days : rtl::DateDelta - days;
  // Before 1 January of year 1 or beyond the 32-bit day numbers: no date.
  if (day <= 0 || day > INT32_MAX) return kNoFit;
  StoreFloat<double>(aTarget, static_cast<double>(day * kDay + time));
  return 0;
}

template <class S, bool BestFit>
TCode FloatCode(TzfFieldType aTarget) {
  switch (aTarget) {
    case zftBoolean: return &FloatToBoolean<S, BestFit>;
    case zftByte: return &FloatToInteger<S, uint8_t, BestFit>;
    case zftWord16: return &FloatToInteger<S, uint16_t, BestFit>;
    case zftWord32: case zftAutoInc: case zftRecRev: return &FloatToInteger<S, uint32_t, BestFit>;
    case zftInt8: return &FloatToInteger<S, int8_t, BestFit>;
    case zftInt16: return &FloatToInteger<S, int16_t, BestFit>;
    case zftInt32: return &FloatToInteger<S, int32_t, BestFit>;
    case zftInt64: return &FloatToInteger<S, int64_t, BestFit>;
    case zftSingle:
      if constexpr (S::Type == zftSingle) return &zfCopyFieldBytes<4>;
      else return &FloatToSingle<S, BestFit>;
    case zftDouble:
      if constexpr (S::Type == zftSingle) return &FloatWiden<S, double>;
      else if constexpr (S::Type == zftDouble) return &zfCopyFieldBytes<8>;
      else return &FloatToDouble<S, BestFit>;
    case zftExtended:
      if constexpr (S::Type == zftExtended) return &zfCopyFieldBytes<rtl::ExtendedSize>;
      else return &FloatToExtended<S>;
    case zftCurrency: return &FloatToCurrency<S, BestFit>;
    case zftDateTime:
      if constexpr (S::Type == zftDouble) return &DoubleToDateTime;
      else return nullptr;
    default: return nullptr;
  }
}

// ---- Currency and BCD sources, class-level methods ----------------------------------------------

template <bool BestFit>
uint32_t CurrToBoolean(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  const int64_t r = TCurrencySource::Raw(aSource);
  if (r == 0) {
    aTarget[0] = 0x00;
    return 0;
  }
  aTarget[0] = 0xFF;
  return BestFit || r == 10000 ? 0 : kNoFit;
}

template <class T, bool BestFit>
uint32_t CurrToInteger(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  const int64_t r = TCurrencySource::Raw(aSource);
  T v;
  if constexpr (std::is_same_v<T, int64_t>) {
    // Every amount lies inside the Int64 range.
    if (!BestFit && r % 10000 != 0) return kNoFit;
    v = rtl::DivRoundHalfEven(r, 10000);
  } else {
    constexpr int64_t lo = int64_t{std::numeric_limits<T>::min()} * 10000;
    constexpr int64_t hi = int64_t{std::numeric_limits<T>::max()} * 10000;
    if constexpr (BestFit) {
      if (r < lo)
        v = std::numeric_limits<T>::min();
      else if (r > hi)
        v = std::numeric_limits<T>::max();
      else
        v = static_cast<T>(rtl::DivRoundHalfEven(r, 10000));
    } else {
      if (r < lo || r > hi || r % 10000 != 0) return kNoFit;
      v = static_cast<T>(r / 10000);
    }
  }
  zfStoreLE<T>(aTarget, v);
  return 0;
}

template <class F>
uint32_t CurrToFloat(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  StoreFloat<F>(aTarget, static_cast<F>(TCurrencySource::Load(aSource)));
  return 0;
}
uint32_t CurrToExtended(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  rtl::ExtendedToBytes(TCurrencySource::Load(aSource), aTarget);
  return 0;
}
// The raw value; -2^63 lies outside the Currency range and becomes its lower limit.
uint32_t CurrToCurrency(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  const int64_t r = TCurrencySource::Raw(aSource);
  StoreCurrency(aTarget, r == INT64_MIN ? kCurrencyLow : r);
  return 0;
}

template <bool BestFit>
TCode CurrencyCode(TzfFieldType aTarget) {
  switch (aTarget) {
    case zftBoolean: return &CurrToBoolean<BestFit>;
    case zftByte: return &CurrToInteger<uint8_t, BestFit>;
    case zftWord16: return &CurrToInteger<uint16_t, BestFit>;
    case zftWord32: case zftAutoInc: case zftRecRev: return &CurrToInteger<uint32_t, BestFit>;
    case zftInt8: return &CurrToInteger<int8_t, BestFit>;
    case zftInt16: return &CurrToInteger<int16_t, BestFit>;
    case zftInt32: return &CurrToInteger<int32_t, BestFit>;
    case zftInt64: return &CurrToInteger<int64_t, BestFit>;
    case zftSingle: return &CurrToFloat<float>;
    case zftDouble: return &CurrToFloat<double>;
    case zftExtended: return &CurrToExtended;
    case zftCurrency: return &CurrToCurrency;
    default: return nullptr;
  }
}

// ---- Instances: character, text and BCD targets ------------------------------------------------

// Decimal digits brought to a BCD field's precision and scale and stored in its 8-byte form.
// aLost carries digits already lost before; checking refuses any loss and an amount the 8-byte
// form cannot hold, best fit keeps what the digits keep and brings such an amount to the limit.
uint32_t StoreBcdDigits(const TBcd& aDigits, uint8_t aLost, int32_t aUnits, int32_t aDecPl, bool aBestFit,
                        uint8_t* aTarget) {
  TBcd kept;
  aLost |= zfNormalizeBcd(aDigits, kept, static_cast<uint16_t>(aUnits), static_cast<uint16_t>(aDecPl));
  if (aLost && !aBestFit) return kNoFit;
  int64_t r;
  if (!zfBcdToCurr(kept, r)) {
    if (!aBestFit) return kNoFit;
    r = rtl::BcdIsNegative(kept) ? kCurrencyLow : kCurrencyHigh;
  }
  StoreCurrency(aTarget, r);
  return 0;
}

// The 15 significant digits of a finite value. A value whose digits a TBcd cannot place (below
// 1E-63 or above 1E64) counts as zero with its fraction or integer digits lost.
bool FloatDigits(long double x, TBcd& aDigits, uint8_t& aLost) {
  aLost = 0;
  if (!std::isfinite(x)) return false;
  const auto d = static_cast<double>(x);
  if (rtl::TryFloatToBcd(d, aDigits)) return true;
  aDigits = TBcd{};
  aDigits.Precision = 1;
  aLost = std::fabs(d) < 1 ? zfBcdLostFraction : zfBcdLostInteger;
  return true;
}

template <class S>
class TzfFloatMapper : public TzfFloatMapperBase {
 public:
  static constexpr bool IsCurrency = std::is_same_v<S, TCurrencySource>;
  using TzfFloatMapperBase::TzfFloatMapperBase;

  rtl::UnicodeString Text(const uint8_t* aSource) const { return zfFloatToStr(S::Load(aSource), fmFormatSettings); }

  // Checking: the digit of a whole value from 0 to 9; best fit: the first character of its text.
  template <bool Wide, bool BestFit>
  uint32_t ToChar(const uint8_t* aSource, uint8_t* aTarget) {
    char16_t c;
    if constexpr (BestFit) {
      const rtl::UnicodeString text = Text(aSource);
      c = text.empty() ? u'\0' : text[0];
    } else {
      int digit;
      if constexpr (IsCurrency) {
        const int64_t r = TCurrencySource::Raw(aSource);
        if (r < 0 || r > 90000 || r % 10000 != 0) return kNoFit;
        digit = static_cast<int>(r / 10000);
      } else {
        const long double x = S::Load(aSource);
        if (!(x >= 0 && x <= 9) || x != std::trunc(x)) return kNoFit;
        digit = static_cast<int>(x);
      }
      c = static_cast<char16_t>(u'0' + digit);
    }
    if constexpr (Wide) {
      zfStoreLE<uint16_t>(aTarget, c);
    } else {
      const std::string b = c ? rtl::UnicodeToAnsi(rtl::UnicodeStringView(&c, 1), fmTextTarget.CodePage).Bytes()
                              : std::string();
      aTarget[0] = b.empty() ? 0 : static_cast<uint8_t>(b[0]);
    }
    return 0;
  }

  template <bool Cut>
  uint32_t ToText(const uint8_t* aSource, uint8_t* aTarget) {
    return fmTextTarget.Store(Text(aSource), Cut, aTarget);
  }

  template <bool BestFit>
  uint32_t ToBcd(const uint8_t* aSource, uint8_t* aTarget) {
    if constexpr (IsCurrency) {
      TBcd kept;
      const uint8_t lost = zfCurrToBcd(kept, static_cast<uint16_t>(fmTargetUnits), static_cast<uint16_t>(fmTargetDecPl),
                                       rtl::Currency::FromScaled(TCurrencySource::Raw(aSource)));
      return StoreBcdDigits(kept, lost, fmTargetUnits, fmTargetDecPl, BestFit, aTarget);
    } else {
      TBcd digits;
      uint8_t lost;
      if (!FloatDigits(S::Load(aSource), digits, lost)) return kNoFit;
      return StoreBcdDigits(digits, lost, fmTargetUnits, fmTargetDecPl, BestFit, aTarget);
    }
  }
};

// The instance for a character, text or BCD target, with the method the action chooses.
template <class S>
std::unique_ptr<TzfBaseFieldMapper> CreateInstance(TzfFieldDescriptor& aTargetField, bool aBestFit,
                                                   TzfMappingMethod& aMapper) {
  using M = TzfFloatMapper<S>;
  auto mapper = std::make_unique<M>(aTargetField);
  M* m = mapper.get();
  switch (aTargetField.fdType) {
    case zftChar:
      aMapper = aBestFit ? zfMapperMethod<&M::template ToChar<false, true>>(m)
                         : zfMapperMethod<&M::template ToChar<false, false>>(m);
      break;
    case zftWideChar:
      aMapper = aBestFit ? zfMapperMethod<&M::template ToChar<true, true>>(m)
                         : zfMapperMethod<&M::template ToChar<true, false>>(m);
      break;
    case zftBCD:
      if (M::IsCurrency && m->fmTargetUnits == 20)
        aMapper = {&CurrToCurrency, m};
      else
        aMapper = aBestFit ? zfMapperMethod<&M::template ToBcd<true>>(m) : zfMapperMethod<&M::template ToBcd<false>>(m);
      break;
    default:
      // Under the checking actions every text is measured: a longer one is refused, never cut.
      aMapper = aBestFit ? zfMapperMethod<&M::template ToText<true>>(m) : zfMapperMethod<&M::template ToText<false>>(m);
      break;
  }
  return mapper;
}

bool TakesInstance(TzfFieldType aTarget) {
  return aTarget == zftChar || aTarget == zftWideChar || aTarget == zftBCD || zfIsTextMappingTarget(aTarget);
}

template <class S>
std::unique_ptr<TzfBaseFieldMapper> TryFloat(const TzfFieldMapperClass& aClass, TzfFieldDescriptor& aSourceField,
                                             IzfMapperCursor*, TzfFieldDescriptor& aTargetField, IzfMapperCursor*,
                                             const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper) {
  aMapper.Clear();
  constexpr bool currency = std::is_same_v<S, TCurrencySource>;
  if constexpr (currency) {
    if (aSourceField.fdType != zftCurrency && aSourceField.fdType != zftBCD) return nullptr;
  } else {
    if (aSourceField.fdType != S::Type) return nullptr;
  }
  const bool bestFit = zfIsBestFit(aMapperDesc);
  const TzfFieldType target = aTargetField.fdType;
  TCode code;
  if constexpr (currency)
    code = bestFit ? CurrencyCode<true>(target) : CurrencyCode<false>(target);
  else
    code = bestFit ? FloatCode<S, true>(target) : FloatCode<S, false>(target);
  if (code) {
    aMapper = {code, &aClass};
    return nullptr;
  }
  if (target == zftByteArray) {
    if (aTargetField.fdUnits >= static_cast<int32_t>(S::Size)) aMapper = {&zfCopyFieldBytes<S::Size>, &aClass};
    return nullptr;
  }
  if (!TakesInstance(target)) return nullptr;
  return CreateInstance<S>(aTargetField, bestFit, aMapper);
}

}  // namespace

TzfFloatMapperBase::TzfFloatMapperBase(TzfFieldDescriptor& aTargetField)
    : fmFormatSettings(zfFieldFormatSettings(aTargetField)),
      fmTargetLength(aTargetField.fdLength),
      fmTargetUnits(aTargetField.fdUnits),
      fmTargetDecPl(aTargetField.fdDecPl) {
  if (zfIsTextMappingTarget(aTargetField.fdType) || aTargetField.fdType == zftChar)
    fmTextTarget = TzfTextTarget::Of(aTargetField);
}

#define ZF_FLOAT_MAPPER_CLASS(Class, Source)                              \
  const TzfFieldMapperClass& Class::ClassInfo() {                         \
    static const TzfFieldMapperClass info{u"" #Class, &TryFloat<Source>}; \
    return info;                                                          \
  }
ZF_FLOAT_MAPPER_CLASS(TzfSingleMapper, TSingleSource)
ZF_FLOAT_MAPPER_CLASS(TzfDoubleMapper, TDoubleSource)
ZF_FLOAT_MAPPER_CLASS(TzfExtendedMapper, TExtendedSource)
ZF_FLOAT_MAPPER_CLASS(TzfCurrencyMapper, TCurrencySource)
#undef ZF_FLOAT_MAPPER_CLASS

}  // namespace zf
