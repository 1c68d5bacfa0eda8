#include "index/zfsdKeyEngineToken.h"

#include <algorithm>
#include <cstring>

#include "foundation/zfllErrors.h"
#include "platform/locale/locCollation.h"
#include "platform/rtl/rtlException.h"

namespace zf {

namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

TzfWideString UnitsAt(const uint8_t* p, int32_t aCount) {
  TzfWideString r(static_cast<size_t>(std::max(0, aCount)));
  for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<char16_t>(Get16(p + 2 * i));
  return r;
}

// Two token areas of c1 and c2 units: empty first; with a locale its comparison, else the
// little-endian bytes and then the counts.
int8_t CompareTokens(const uint8_t* a, int32_t c1, const uint8_t* b, int32_t c2, uint32_t aLocale, uint32_t aFlags) {
  if (c1 <= 0 || c2 <= 0) return c1 > 0 ? 1 : (c2 > 0 ? -1 : 0);
  if (aLocale != 0) {
    const TzfWideString t1 = UnitsAt(a, c1), t2 = UnitsAt(b, c2);
    const int r = locale::CompareStringW(aLocale, aFlags, UnicodeStringView(t1.data(), t1.size()),
                                         UnicodeStringView(t2.data(), t2.size()));
    if (r < 1 || r > 3) rtl::RaiseRangeError();
    return static_cast<int8_t>(r - 2);
  }
  const int m = std::memcmp(a, b, static_cast<size_t>(std::min(c1, c2)) * 2);
  if (m != 0) return m < 0 ? -1 : 1;
  return c1 < c2 ? -1 : (c1 > c2 ? 1 : 0);
}

}  // namespace

int32_t zfTokenKeyUnits(const TzfWideString& aToken, int32_t aMax) {
  if (aToken.empty() || aMax <= 0) rtl::RaiseRangeError();
  int32_t c = static_cast<int32_t>(std::min<size_t>(aToken.size(), static_cast<size_t>(aMax)));
  if (IsHigh(aToken[static_cast<size_t>(c - 1)])) --c;
  return c;
}

// ---- TzfBitArrayTokenKeyEngine ----

const TzfKeyEngineClass& TzfBitArrayTokenKeyEngine::ClassInfo() {
  static const TzfKeyEngineClass info(
      u"TzfBitArrayTokenKeyEngine", &TzfBaseKeyEngine::ClassInfo(),
      [](TzfBaseKeyDescriptor& d) -> std::unique_ptr<TzfBaseKeyEngine> {
        return std::make_unique<TzfBitArrayTokenKeyEngine>(d);
      },
      &TzfBitArrayTokenKeyEngine::CheckValidFromDescriptor);
  return info;
}

void TzfBitArrayTokenKeyEngine::CheckValidFromDescriptor(TzfBaseKeyDescriptor& aDescriptor) {
  if (!dynamic_cast<TzfBitArrayTokenKeyDescriptor*>(&aDescriptor)) throw rtl::EInvalidCast(u"Invalid class typecast");
  (void)aDescriptor.GetKeyLength();
}

TzfBitArrayTokenKeyEngine::TzfBitArrayTokenKeyEngine(TzfBaseKeyDescriptor& aDescriptor)
    : TzfBaseKeyEngine(aDescriptor) {
  auto& d = dynamic_cast<TzfBitArrayTokenKeyDescriptor&>(aDescriptor);
  batkePerField = d.batkdPerFieldIndex;
  batkeMaxTokenSize = d.batkdMaxTokenSize;
  batkeReverse = d.batkdReverse;
  batkeLocale = d.batkdLocale;
  batkeFlags = d.batkdFlags;
}

void TzfBitArrayTokenKeyEngine::InternalBuildKey(uint16_t aSegment, const TzfWideString& aToken, int16_t aField,
                                                 uint8_t* aKey) {
  const int32_t c = zfTokenKeyUnits(aToken, batkeMaxTokenSize);
  Put16(aKey, aSegment);
  Put16(aKey + 2, static_cast<uint16_t>(c));
  uint8_t* area = aKey + 4;
  if (!batkeReverse) {
    for (int32_t i = 0; i < c; ++i) Put16(area + 2 * i, aToken[static_cast<size_t>(i)]);
  } else {
    for (int32_t i = 0; i < c; ++i) {
      const char16_t u = aToken[static_cast<size_t>(i)];
      if (IsHigh(u) && i + 1 < c && IsLow(aToken[static_cast<size_t>(i + 1)])) {
        Put16(area + 2 * (c - 2 - i), u);
        Put16(area + 2 * (c - 1 - i), aToken[static_cast<size_t>(i + 1)]);
        ++i;
      } else {
        Put16(area + 2 * (c - 1 - i), u);
      }
    }
  }
  if (batkePerField) Put16(aKey + 4 + 2 * batkeMaxTokenSize, static_cast<uint16_t>(aField));
}

void TzfBitArrayTokenKeyEngine::ClearKey(uint8_t* aKey) {
  if (aKey) std::memset(aKey, 0, bkeKeyLength);
}

uint32_t TzfBitArrayTokenKeyEngine::BuildKey(const uint8_t*, uint8_t*, int64_t, bool) {
  return EzfBaseException::zfSetMessage(zfErrNotSupported, u"BuildKey is not supported by TzfBitArrayTokenKeyEngine");
}

int8_t TzfBitArrayTokenKeyEngine::CompareKey(const uint8_t* aKey1, const uint8_t* aKey2, int32_t, int32_t) {
  const uint16_t s1 = Get16(aKey1), s2 = Get16(aKey2);
  if (s1 != s2) return s1 < s2 ? -1 : 1;
  const int32_t c1 = std::min<int32_t>(Get16(aKey1 + 2), batkeMaxTokenSize);
  const int32_t c2 = std::min<int32_t>(Get16(aKey2 + 2), batkeMaxTokenSize);
  const int8_t t = CompareTokens(aKey1 + 4, c1, aKey2 + 4, c2, batkeLocale, batkeFlags);
  if (t != 0 || !batkePerField) return t;
  const int16_t f1 = KeyField(aKey1), f2 = KeyField(aKey2);
  return f1 < f2 ? -1 : (f1 > f2 ? 1 : 0);
}

uint16_t TzfBitArrayTokenKeyEngine::KeySegment(const uint8_t* aKey) { return Get16(aKey); }

TzfWideString TzfBitArrayTokenKeyEngine::KeyToken(const uint8_t* aKey) const {
  return UnitsAt(aKey + 4, std::min<int32_t>(Get16(aKey + 2), batkeMaxTokenSize));
}

int16_t TzfBitArrayTokenKeyEngine::KeyField(const uint8_t* aKey) const {
  return batkePerField ? static_cast<int16_t>(Get16(aKey + 4 + 2 * batkeMaxTokenSize)) : int16_t{0};
}

rtl::Variant TzfBitArrayTokenKeyEngine::KeyAsVariant(const uint8_t* aKey, int32_t aField) {
  std::vector<rtl::Variant> items;
  items.emplace_back(KeySegment(aKey));
  const TzfWideString token = KeyToken(aKey);
  items.push_back(token.empty() ? rtl::Variant::Null() : rtl::Variant(zfWideStringToUnicodeString(token)));
  if (batkePerField) items.emplace_back(KeyField(aKey));
  if (aField == -1) return rtl::Variant::ArrayOf(std::move(items));
  if (aField < 0 || aField >= static_cast<int32_t>(items.size()))
    throw EzfBitArrayTokenKeyEngineException(zfErrInvalidDescNum);
  return items[static_cast<size_t>(aField)];
}

// ---- TzfMainIndexTokenKeyEngine ----

const TzfKeyEngineClass& TzfMainIndexTokenKeyEngine::ClassInfo() {
  static const TzfKeyEngineClass info(
      u"TzfMainIndexTokenKeyEngine", &TzfBaseKeyEngine::ClassInfo(),
      [](TzfBaseKeyDescriptor& d) -> std::unique_ptr<TzfBaseKeyEngine> {
        return std::make_unique<TzfMainIndexTokenKeyEngine>(d);
      },
      &TzfMainIndexTokenKeyEngine::CheckValidFromDescriptor);
  return info;
}

void TzfMainIndexTokenKeyEngine::CheckValidFromDescriptor(TzfBaseKeyDescriptor& aDescriptor) {
  if (!dynamic_cast<TzfMainIndexTokenKeyDescriptor*>(&aDescriptor)) throw rtl::EInvalidCast(u"Invalid class typecast");
  (void)aDescriptor.GetKeyLength();
}

TzfMainIndexTokenKeyEngine::TzfMainIndexTokenKeyEngine(TzfBaseKeyDescriptor& aDescriptor)
    : TzfBaseKeyEngine(aDescriptor) {
  auto& d = dynamic_cast<TzfMainIndexTokenKeyDescriptor&>(aDescriptor);
  mitkeMaxTokenSize = d.mitkdMaxTokenSize;
  mitkeIncludeLocation = d.mitkdIncludeLocation;
  mitkeLocale = d.mitkdLocale;
  mitkeFlags = d.mitkdFlags;
  if (mitkeLocale != 0) {
    mitkeLocaleDescriptor = std::make_unique<TzfLocaleDescriptor>(nullptr);
    mitkeLocaleDescriptor->SetLocale(static_cast<int32_t>(mitkeLocale));
    mitkeLocaleDescriptor->SetFlags(static_cast<int32_t>(mitkeFlags));
  }
}

TzfMainIndexTokenKeyEngine::~TzfMainIndexTokenKeyEngine() = default;

void TzfMainIndexTokenKeyEngine::InternalBuildKey(const TzfWideString& aToken, uint32_t aLocation, uint8_t* aKey) {
  if (mitkeIncludeLocation) {
    uint8_t* p = aKey + bkeKeyLength - 4;
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(aLocation >> (8 * i));
  }
  const int32_t c = zfTokenKeyUnits(aToken, mitkeMaxTokenSize);
  Put16(aKey, static_cast<uint16_t>(c));
  for (int32_t i = 0; i < c; ++i) Put16(aKey + 2 + 2 * i, aToken[static_cast<size_t>(i)]);
}

void TzfMainIndexTokenKeyEngine::ClearKey(uint8_t* aKey) {
  if (aKey) std::memset(aKey, 0, bkeKeyLength);
}

uint32_t TzfMainIndexTokenKeyEngine::BuildKey(const uint8_t*, uint8_t*, int64_t, bool) { return 1; }

int8_t TzfMainIndexTokenKeyEngine::CompareKey(const uint8_t* aKey1, const uint8_t* aKey2, int32_t, int32_t aPartialLen) {
  int32_t c1 = std::min<int32_t>(Get16(aKey1), mitkeMaxTokenSize);
  int32_t c2 = std::min<int32_t>(Get16(aKey2), mitkeMaxTokenSize);
  if (aPartialLen > 0) {
    c1 = std::min(c1, aPartialLen);
    c2 = std::min(c2, aPartialLen);
  }
  return CompareTokens(aKey1 + 2, c1, aKey2 + 2, c2, mitkeLocale, mitkeFlags);
}

TzfWideString TzfMainIndexTokenKeyEngine::KeyToken(const uint8_t* aKey) const {
  return UnitsAt(aKey + 2, std::min<int32_t>(Get16(aKey), mitkeMaxTokenSize));
}

uint32_t TzfMainIndexTokenKeyEngine::KeyLocation(const uint8_t* aKey) const {
  if (!mitkeIncludeLocation) return 0;
  const uint8_t* p = aKey + bkeKeyLength - 4;
  return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<uint32_t>(p[3]) << 24;
}

int32_t TzfMainIndexTokenKeyEngine::GetFieldFromName(const UnicodeString& aName) {
  if (rtl::SameText(aName, u"Token")) return 0;
  if (mitkeIncludeLocation && rtl::SameText(aName, u"Location")) return 1;
  return -1;
}

void TzfMainIndexTokenKeyEngine::GetFieldInfo(int32_t aIndex, IzfFieldInfo*& aInfo) {
  aInfo = aIndex == 0 ? &mitkeTokenInfo : (aIndex == 1 && mitkeIncludeLocation ? &mitkeLocationInfo : nullptr);
}

bool TzfMainIndexTokenKeyEngine::GetFieldForFilter(int32_t aField, const char* aName, const uint8_t* aData,
                                                   uint16_t& aType, uint16_t& aSize, bool& aIsNull,
                                                   const uint8_t*& aValue, uint16_t& aCodePage) {
  if (aName && aName[0]) aField = GetFieldFromName(rtl::u16(aName));
  aCodePage = 0;
  if (aField == 0) {
    aType = static_cast<uint16_t>(zftWideString);
    aSize = static_cast<uint16_t>(mitkeMaxTokenSize);
    aIsNull = aData == nullptr;
    aValue = nullptr;
    if (aData) {
      const uint16_t c = static_cast<uint16_t>(std::min<int32_t>(Get16(aData), mitkeMaxTokenSize));
      aSize = c;
      if (c > 0)
        aValue = aData + 2;
      else
        aIsNull = true;
    }
    return true;
  }
  if (aField == 1 && mitkeIncludeLocation) {
    aType = static_cast<uint16_t>(zftAutoInc);
    aSize = 4;
    aIsNull = aData == nullptr;
    aValue = aData ? aData + bkeKeyLength - 4 : nullptr;
    return true;
  }
  return false;
}

rtl::Variant TzfMainIndexTokenKeyEngine::KeyAsVariant(const uint8_t* aKey, int32_t aField) {
  if (aField < -1 || aField > GetFieldCount() - 1) throw EzfMainIndexTokenKeyEngineException(zfErrInvalidDescNum);
  if (aField == 1) return rtl::Variant(KeyLocation(aKey));
  const TzfWideString token = KeyToken(aKey);
  return token.empty() ? rtl::Variant::Null() : rtl::Variant(zfWideStringToUnicodeString(token));
}

namespace {

void Start() {
  TzfBaseKeyEngine::RegisterKeyEngine(TzfBitArrayTokenKeyEngine::ClassInfo());
  TzfBaseKeyEngine::RegisterKeyEngine(TzfMainIndexTokenKeyEngine::ClassInfo());
}
void Stop() {
  TzfBaseKeyEngine::UnregisterKeyEngine(TzfMainIndexTokenKeyEngine::ClassInfo());
  TzfBaseKeyEngine::UnregisterKeyEngine(TzfBitArrayTokenKeyEngine::ClassInfo());
}

}  // namespace

rtl::TUnitInit& zfsdKeyEngineTokenUnit() {
  static rtl::TUnitInit unit("zfsdKeyEngineToken", &Start, &Stop);
  return unit;
}

}  // namespace zf
