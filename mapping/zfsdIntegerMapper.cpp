#include "mapping/zfsdIntegerMapper.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <limits>
#include <utility>

#include "dictionary/zfsdFieldDescriptor.h"
#include "foundation/zfllErrors.h"
#include "mapping/zfsdValueMapperCoverage.h"
#include "platform/rtl/rtlNumber.h"

namespace zf {

namespace {

static_assert(std::endian::native == std::endian::little, "floating-point fields are stored in host order");

using TCode = TzfMappingMethod::TCode;

// The largest whole amount an 8-byte Currency value holds (its limit is 922337203685477.5807).
constexpr uint64_t kMaxCurrencyUnits = 922337203685477;
constexpr int64_t kCurrencyScale = 10000;

// Capacity in characters of a text target: fdLength - 1 for the 8-bit texts (a length byte or
// a terminator), fdLength div 2 - 1 code units for WideString.
int32_t TextCapacity(TzfFieldType aType, int32_t aLength) {
  return aType == zftWideString ? aLength / 2 - 1 : aLength - 1;
}

bool IsTextTarget(TzfFieldType aType) {
  return aType == zftShortString || aType == zftNullString || aType == zftWideString;
}

// Stores the first aCount characters of aText (ASCII) as a text of type K.
template <TzfFieldType K>
void StoreText(uint8_t* aTarget, const char* aText, size_t aCount) {
  if constexpr (K == zftShortString) {
    aTarget[0] = static_cast<uint8_t>(aCount);
    std::memcpy(aTarget + 1, aText, aCount);
  } else if constexpr (K == zftNullString) {
    std::memcpy(aTarget, aText, aCount);
    aTarget[aCount] = 0;
  } else {
    for (size_t i = 0; i < aCount; ++i) zfStoreLE<uint16_t>(aTarget + 2 * i, static_cast<uint8_t>(aText[i]));
    zfStoreLE<uint16_t>(aTarget + 2 * aCount, 0);
  }
}

// A signed amount of whole units as the 8-byte Currency form.
void StoreCurrencyUnits(uint8_t* aTarget, bool aNegative, uint64_t aUnits) {
  const int64_t scaled = static_cast<int64_t>(aUnits) * kCurrencyScale;
  zfStoreLE<int64_t>(aTarget, aNegative ? -scaled : scaled);
}

// ---- Boolean source ------------------------------------------------------------------------------

int8_t BoolSigned(const uint8_t* aSource) { return static_cast<int8_t>(aSource[0]); }
char BoolDigit(const uint8_t* aSource) { return aSource[0] != 0 ? '1' : '0'; }

uint32_t BoolToBoolean(const void*, const uint8_t* s, uint8_t* t) { t[0] = s[0]; return 0; }
uint32_t BoolToChar(const void*, const uint8_t* s, uint8_t* t) { t[0] = static_cast<uint8_t>(BoolDigit(s)); return 0; }
uint32_t BoolToWideChar(const void*, const uint8_t* s, uint8_t* t) {
  zfStoreLE<uint16_t>(t, static_cast<uint8_t>(BoolDigit(s)));
  return 0;
}
// Any True, however stored, is 1 in a Byte.
uint32_t BoolToByte(const void*, const uint8_t* s, uint8_t* t) { t[0] = s[0] != 0 ? 1 : 0; return 0; }
template <class T>
uint32_t BoolToMagnitude(const void*, const uint8_t* s, uint8_t* t) {
  const int v = BoolSigned(s);
  zfStoreLE<T>(t, static_cast<T>(v < 0 ? -v : v));
  return 0;
}
template <class T>
uint32_t BoolToUnsignedByte(const void*, const uint8_t* s, uint8_t* t) { zfStoreLE<T>(t, static_cast<T>(s[0])); return 0; }
template <class T>
uint32_t BoolToSignedByte(const void*, const uint8_t* s, uint8_t* t) { zfStoreLE<T>(t, static_cast<T>(BoolSigned(s))); return 0; }
template <class F>
uint32_t BoolToFloat(const void*, const uint8_t* s, uint8_t* t) {
  const F f = static_cast<F>(BoolSigned(s));
  std::memcpy(t, &f, sizeof f);
  return 0;
}
uint32_t BoolToExtended(const void*, const uint8_t* s, uint8_t* t) {
  rtl::ExtendedToBytes(static_cast<long double>(BoolSigned(s)), t);
  return 0;
}
uint32_t BoolToCurrency(const void*, const uint8_t* s, uint8_t* t) {
  zfStoreLE<int64_t>(t, int64_t{BoolSigned(s)} * kCurrencyScale);
  return 0;
}
uint32_t BoolToByteArray(const void*, const uint8_t* s, uint8_t* t) { t[0] = s[0] != 0 ? 0xFF : 0x00; return 0; }
template <TzfFieldType K>
uint32_t BoolToText(const void*, const uint8_t* s, uint8_t* t) {
  const char c = BoolDigit(s);
  StoreText<K>(t, &c, 1);
  return 0;
}

TCode BooleanCode(TzfFieldType aTarget) {
  switch (aTarget) {
    case zftBoolean: case zftInt8: return &BoolToBoolean;
    case zftChar: return &BoolToChar;
    case zftWideChar: return &BoolToWideChar;
    case zftByte: return &BoolToByte;
    case zftWord16: return &BoolToMagnitude<uint16_t>;
    case zftWord32: case zftAutoInc: case zftRecRev: return &BoolToMagnitude<uint32_t>;
    case zftInt16: return &BoolToUnsignedByte<int16_t>;
    case zftInt32: return &BoolToUnsignedByte<int32_t>;
    case zftInt64: return &BoolToSignedByte<int64_t>;
    case zftSingle: return &BoolToFloat<float>;
    case zftDouble: return &BoolToFloat<double>;
    case zftExtended: return &BoolToExtended;
    case zftCurrency: case zftBCD: return &BoolToCurrency;
    case zftByteArray: return &BoolToByteArray;
    case zftShortString: return &BoolToText<zftShortString>;
    case zftNullString: return &BoolToText<zftNullString>;
    case zftWideString: return &BoolToText<zftWideString>;
    default: return nullptr;
  }
}

std::unique_ptr<TzfBaseFieldMapper> TryBoolean(const TzfFieldMapperClass& aClass, TzfFieldDescriptor& aSourceField,
                                               IzfMapperCursor*, TzfFieldDescriptor& aTargetField, IzfMapperCursor*,
                                               const TzfFieldMapperDescriptor*, TzfMappingMethod& aMapper) {
  aMapper.Clear();
  if (aSourceField.fdType != zftBoolean || aTargetField.fdLength < 1) return nullptr;
  // A text target must hold the one character written.
  if (IsTextTarget(aTargetField.fdType) && TextCapacity(aTargetField.fdType, aTargetField.fdLength) < 1)
    return nullptr;
  if (TCode code = BooleanCode(aTargetField.fdType)) aMapper = {code, &aClass};
  return nullptr;
}

// ---- Integer sources ------------------------------------------------------------------------------

// What the members of the integer family differ in.
template <class S, int BcdDirect, TzfFieldType... Sources>
struct TIntegerSource {
  using Value = S;
  // Integer digits (units - decimals) from which a BCD target takes every value directly; 0 for
  // never.
  static constexpr int BcdDirectDigits = BcdDirect;
  static bool Serves(TzfFieldType aType) { return ((aType == Sources) || ...); }
};

using TInt8Source = TIntegerSource<int8_t, 3, zftInt8>;
using TInt16Source = TIntegerSource<int16_t, 5, zftInt16>;
using TInt32Source = TIntegerSource<int32_t, 10, zftInt32>;
using TInt64Source = TIntegerSource<int64_t, 0, zftInt64>;
using TByteSource = TIntegerSource<uint8_t, 3, zftByte>;
using TWord16Source = TIntegerSource<uint16_t, 5, zftWord16>;
using TWord32Source = TIntegerSource<uint32_t, 10, zftWord32, zftAutoInc, zftRecRev>;

// The decimal text of v: an optional "-", then the digits; answers its length.
template <class S>
size_t DecimalText(S v, char (&aText)[24]) {
  return static_cast<size_t>(std::to_chars(aText, aText + sizeof aText, v).ptr - aText);
}

// Length of the widest decimal text of S: its minimum for signed types, its maximum otherwise.
template <class S>
size_t WidestText() {
  char text[24];
  return DecimalText(std::is_signed_v<S> ? std::numeric_limits<S>::min() : std::numeric_limits<S>::max(), text);
}

template <class S, class T, bool BestFit>
uint32_t IntToInteger(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  const S v = zfLoadLE<S>(aSource);
  T r;
  if (std::in_range<T>(v))
    r = static_cast<T>(v);
  else if constexpr (BestFit)
    r = std::cmp_less(v, std::numeric_limits<T>::min()) ? std::numeric_limits<T>::min() : std::numeric_limits<T>::max();
  else
    return zfErrInvalidFieldXForm;
  zfStoreLE<T>(aTarget, r);
  return 0;
}

template <class S, bool BestFit>
uint32_t IntToBoolean(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  const S v = zfLoadLE<S>(aSource);
  if (v == 0)
    aTarget[0] = 0x00;
  else if (BestFit || v == 1)
    aTarget[0] = 0xFF;
  else
    return zfErrInvalidFieldXForm;
  return 0;
}

template <class S, class F>
uint32_t IntToFloat(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  const F f = static_cast<F>(zfLoadLE<S>(aSource));
  std::memcpy(aTarget, &f, sizeof f);
  return 0;
}

template <class S>
uint32_t IntToExtended(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  rtl::ExtendedToBytes(static_cast<long double>(zfLoadLE<S>(aSource)), aTarget);
  return 0;
}

// v x 10000; a value beyond the Currency range stores the nearest limit under every action.
template <class S>
uint32_t IntToCurrency(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  const S v = zfLoadLE<S>(aSource);
  if (std::cmp_greater(v, kMaxCurrencyUnits))
    StoreCurrencyUnits(aTarget, false, kMaxCurrencyUnits);
  else if (std::cmp_less(v, -static_cast<int64_t>(kMaxCurrencyUnits)))
    StoreCurrencyUnits(aTarget, true, kMaxCurrencyUnits);
  else
    zfStoreLE<int64_t>(aTarget, static_cast<int64_t>(v) * kCurrencyScale);
  return 0;
}

template <class S, bool BestFit>
TCode IntegerCode(TzfFieldType aTarget) {
  switch (aTarget) {
    case zftBoolean: return &IntToBoolean<S, BestFit>;
    case zftByte: return &IntToInteger<S, uint8_t, BestFit>;
    case zftWord16: return &IntToInteger<S, uint16_t, BestFit>;
    case zftWord32: case zftAutoInc: case zftRecRev: return &IntToInteger<S, uint32_t, BestFit>;
    case zftInt8: return &IntToInteger<S, int8_t, BestFit>;
    case zftInt16: return &IntToInteger<S, int16_t, BestFit>;
    case zftInt32: return &IntToInteger<S, int32_t, BestFit>;
    case zftInt64: return &IntToInteger<S, int64_t, BestFit>;
    case zftSingle: return &IntToFloat<S, float>;
    case zftDouble: return &IntToFloat<S, double>;
    case zftExtended: return &IntToExtended<S>;
    case zftCurrency: return &IntToCurrency<S>;
    default: return nullptr;
  }
}

// An integer mapper for a character, text or BCD target.
template <class S>
class TzfIntegerMapper : public TzfIntegerMapperBase {
 public:
  using TzfIntegerMapperBase::TzfIntegerMapperBase;

  // Char (8-bit) or WideChar: checking stores the digit of 0..9, else 10002; best fit stores the
  // first character of the decimal text.
  template <bool Wide, bool BestFit>
  uint32_t ToChar(const uint8_t* aSource, uint8_t* aTarget) {
    const S v = zfLoadLE<S>(aSource);
    char c;
    if constexpr (BestFit) {
      char text[24];
      c = DecimalText(v, text) > 0 ? text[0] : '\0';
    } else {
      if (std::cmp_less(v, 0) || std::cmp_greater(v, 9)) return zfErrInvalidFieldXForm;
      c = static_cast<char>('0' + static_cast<int>(v));
    }
    if constexpr (Wide)
      zfStoreLE<uint16_t>(aTarget, static_cast<uint8_t>(c));
    else
      aTarget[0] = static_cast<uint8_t>(c);
    return 0;
  }

  // The decimal text; Check refuses a text longer than the target holds, otherwise the first
  // characters that fit are kept.
  template <TzfFieldType K, bool Check>
  uint32_t ToText(const uint8_t* aSource, uint8_t* aTarget) {
    char text[24];
    const size_t length = DecimalText(zfLoadLE<S>(aSource), text);
    const auto capacity = static_cast<size_t>(TextCapacity(K, imTargetLength));
    if (Check && length > capacity) return zfErrInvalidFieldXForm;
    StoreText<K>(aTarget, text, std::min(length, capacity));
    return 0;
  }

  // BCD target with fewer integer digits than the source type may need: checking refuses a value
  // that loses an integer digit; best fit keeps the lowest digits. An amount beyond the 8-byte
  // form (an Int64 into 16 integer digits) is refused, or brought to the limit under best fit.
  template <bool BestFit>
  uint32_t ToBcd(const uint8_t* aSource, uint8_t* aTarget) {
    const S v = zfLoadLE<S>(aSource);
    const bool negative = std::cmp_less(v, 0);
    // The magnitude as unsigned, exact for the minimum of every signed type.
    const uint64_t magnitude = negative ? uint64_t{0} - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    const int digits = imTargetUnits - imTargetDecPl;
    uint64_t limit = 1;
    for (int i = 0; i < digits && limit <= std::numeric_limits<uint64_t>::max() / 10; ++i) limit *= 10;
    uint64_t kept = digits > 0 ? magnitude % limit : 0;
    if (kept != magnitude && !BestFit) return zfErrInvalidFieldXForm;
    if (kept > kMaxCurrencyUnits) {
      if (!BestFit) return zfErrInvalidFieldXForm;
      kept = kMaxCurrencyUnits;
    }
    StoreCurrencyUnits(aTarget, negative, kept);
    return 0;
  }
};

template <class TSource>
std::unique_ptr<TzfBaseFieldMapper> TryInteger(const TzfFieldMapperClass& aClass, TzfFieldDescriptor& aSourceField,
                                               IzfMapperCursor*, TzfFieldDescriptor& aTargetField, IzfMapperCursor*,
                                               const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper) {
  using S = typename TSource::Value;
  using M = TzfIntegerMapper<S>;
  aMapper.Clear();
  if (!TSource::Serves(aSourceField.fdType)) return nullptr;
  const bool bestFit = zfIsBestFit(aMapperDesc);
  const TzfFieldType target = aTargetField.fdType;

  if (TCode code = bestFit ? IntegerCode<S, true>(target) : IntegerCode<S, false>(target)) {
    aMapper = {code, &aClass};
    return nullptr;
  }
  if (target == zftByteArray) {
    if (aTargetField.fdUnits >= static_cast<int32_t>(sizeof(S))) aMapper = {&zfCopyFieldBytes<sizeof(S)>, &aClass};
    return nullptr;
  }
  if (target != zftChar && target != zftWideChar && !IsTextTarget(target) && target != zftBCD) return nullptr;
  // A text target of no characters is refused.
  if (IsTextTarget(target) && TextCapacity(target, aTargetField.fdLength) < 1) return nullptr;

  auto mapper = std::make_unique<M>(aTargetField.fdLength, aTargetField.fdUnits, aTargetField.fdDecPl);
  M* m = mapper.get();
  switch (target) {
    case zftChar:
      aMapper = bestFit ? zfMapperMethod<&M::template ToChar<false, true>>(m)
                        : zfMapperMethod<&M::template ToChar<false, false>>(m);
      break;
    case zftWideChar:
      aMapper = bestFit ? zfMapperMethod<&M::template ToChar<true, true>>(m)
                        : zfMapperMethod<&M::template ToChar<true, false>>(m);
      break;
    case zftBCD:
      if (TSource::BcdDirectDigits > 0 && m->imTargetUnits - m->imTargetDecPl >= TSource::BcdDirectDigits)
        aMapper = {&IntToCurrency<S>, m};
      else
        aMapper = bestFit ? zfMapperMethod<&M::template ToBcd<true>>(m) : zfMapperMethod<&M::template ToBcd<false>>(m);
      break;
    default: {
      // Under best fit the text is cut to fit; otherwise it is checked unless the widest text of
      // the source type fits.
      const bool check = !bestFit && WidestText<S>() > static_cast<size_t>(TextCapacity(target, m->imTargetLength));
      if (target == zftShortString)
        aMapper = check ? zfMapperMethod<&M::template ToText<zftShortString, true>>(m)
                        : zfMapperMethod<&M::template ToText<zftShortString, false>>(m);
      else if (target == zftNullString)
        aMapper = check ? zfMapperMethod<&M::template ToText<zftNullString, true>>(m)
                        : zfMapperMethod<&M::template ToText<zftNullString, false>>(m);
      else
        aMapper = check ? zfMapperMethod<&M::template ToText<zftWideString, true>>(m)
                        : zfMapperMethod<&M::template ToText<zftWideString, false>>(m);
      break;
    }
  }
  return mapper;
}

}  // namespace

bool zfIsNumericMappingTarget(TzfFieldType aType) {
  const std::vector<TzfFieldType>& targets = zfNumericMappingTargets();
  return std::find(targets.begin(), targets.end(), aType) != targets.end();
}

const TzfFieldMapperClass& TzfBooleanMapper::ClassInfo() {
  static const TzfFieldMapperClass info{u"TzfBooleanMapper", &TryBoolean};
  return info;
}

#define ZF_INTEGER_MAPPER_CLASS(Class, Source)                                 \
  const TzfFieldMapperClass& Class::ClassInfo() {                              \
    static const TzfFieldMapperClass info{u"" #Class, &TryInteger<Source>};    \
    return info;                                                               \
  }
ZF_INTEGER_MAPPER_CLASS(TzfInt8Mapper, TInt8Source)
ZF_INTEGER_MAPPER_CLASS(TzfInt16Mapper, TInt16Source)
ZF_INTEGER_MAPPER_CLASS(TzfInt32Mapper, TInt32Source)
ZF_INTEGER_MAPPER_CLASS(TzfInt64Mapper, TInt64Source)
ZF_INTEGER_MAPPER_CLASS(TzfByte8Mapper, TByteSource)
ZF_INTEGER_MAPPER_CLASS(TzfWord16Mapper, TWord16Source)
ZF_INTEGER_MAPPER_CLASS(TzfWord32Mapper, TWord32Source)
#undef ZF_INTEGER_MAPPER_CLASS

}  // namespace zf
