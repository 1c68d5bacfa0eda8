#include "index/zfsdKeyFieldEngineBase.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "dictionary/zfsdFieldBytes.h"
#include "dictionary/zfsdFmtBcd.h"
#include "dictionary/zfsdNativeVariantConverter.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllWideString.h"
#include "platform/locale/locCodePages.h"
#include "platform/locale/locCollation.h"
#include "platform/rtl/rtlGuid.h"
#include "platform/rtl/rtlNumber.h"

namespace zf {

namespace {

constexpr uint32_t kSystemDefaultLocale = 0x800;


// NaN sorts after every number (also +INF) and equals NaN.
template <typename T>
int RealCmp(T a, T b) {
  const bool na = std::isnan(a), nb = std::isnan(b);
  if (na || nb) return na == nb ? 0 : (na ? 1 : -1);
  return zfCompareValues(a, b);
}

uint8_t FoldByte(uint8_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 32) : c; }
char16_t FoldUnit(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// Byte texts compared over their common length, then by length.
int CmpBytes(const uint8_t* a, size_t la, const uint8_t* b, size_t lb, bool aFold) {
  const size_t n = std::min(la, lb);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t x = aFold ? FoldByte(a[i]) : a[i], y = aFold ? FoldByte(b[i]) : b[i];
    if (x != y) return x < y ? -1 : 1;
  }
  return zfCompareValues(la, lb);
}

int CmpUnits(const UnicodeString& a, const UnicodeString& b, bool aFold) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = aFold ? FoldUnit(a[i]) : a[i], y = aFold ? FoldUnit(b[i]) : b[i];
    if (x != y) return x < y ? -1 : 1;
  }
  return zfCompareValues(a.size(), b.size());
}

size_t ByteTextLen(const uint8_t* p, size_t aMax) {
  size_t n = 0;
  while (n < aMax && p[n] != 0) ++n;
  return n;
}

// The zero-terminated UTF-16 text of at most aMax units at p.
UnicodeString WideText(const uint8_t* p, size_t aMax) {
  UnicodeString r;
  for (size_t i = 0; i < aMax; ++i) {
    const char16_t c = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
    if (c == 0) break;
    r.push_back(c);
  }
  return r;
}

std::string_view Bytes(const uint8_t* p, size_t n) { return {reinterpret_cast<const char*>(p), n}; }

int FromCompareString(int aResult, const char16_t* aAction) {
  if (aResult == 0) zfRaiseLastOSError(aAction);
  return aResult - 2;
}

bool IsMultiByte(uint16_t aCodePage) {
  if (aCodePage == 0) return false;
  locale::TCPInfo info;
  if (!locale::GetCPInfo(aCodePage, info)) zfRaiseLastOSError(u"GetCPInfo");
  return info.MaxCharSize > 1;
}

// aText in aCodePage, at most aMaxBytes bytes: characters are dropped from the end until it fits,
// so a multi-byte character is never cut in half.
TzfBytes EncodeWithin(UnicodeString aText, uint16_t aCodePage, size_t aMaxBytes) {
  TzfBytes out;
  for (;;) {
    out.clear();
    if (!aText.empty()) zfWideStringToString(UnicodeStringView(aText), aCodePage, out);
    if (out.size() <= aMaxBytes) return out;
    aText.pop_back();
    if (!aText.empty() && aText.back() >= 0xD800 && aText.back() <= 0xDBFF) aText.pop_back();
  }
}

}  // namespace

// ---- TzfDefaultCKFE ----

const TzfCompositeKeyFieldEngineClass& TzfDefaultCKFE::ClassInfo() {
  static const TzfCompositeKeyFieldEngineClass info(
      u"TzfDefaultCKFE", &TzfCompositeKeyFieldEngine::ClassInfo(),
      [](TzfKeyFieldDescriptor& aKeyField) -> std::unique_ptr<TzfCompositeKeyFieldEngine> {
        return std::make_unique<TzfDefaultCKFE>(aKeyField);
      });
  return info;
}

TzfDefaultCKFE::TzfDefaultCKFE(TzfKeyFieldDescriptor& aKeyField) : TzfCompositeKeyFieldEngine(aKeyField) {
  TzfFieldDescriptor* field = aKeyField.GetField();  // the base refused a missing field
  const TzfFieldType type = ckfeSetup.FieldType;
  switch (type) {
    case zftBlob: case zftBlobMemo: case zftBlobGraphic: case zftBlobWideMemo:
      throw EzfCompositeKeyFieldEngineException(zfErrNotSupported,
                                                u"FieldType not supported by TzfCompositeKeyFieldEngine");
    default: break;
  }
  ckfeKeyChars = ckfeSetup.KeyChars;
  switch (aKeyField.kfdNullBehaviour) {
    case nbTop: break;
    case nbBottom: InvertNull = true; break;
    case nbAsAscend: InvertNull = !aKeyField.kfdAscend; break;
    case nbFilterNull: FilterNull = true; break;
    case nbFilterNonNull: FilterNonNull = true; break;
  }
  ckfeFieldName = field->fdName;
  ckfeFieldDecPl = field->fdDecPl;
  ckfeFieldLength = field->fdLength;
  ckfeFieldOffset = field->fdOffset;
  ckfeFieldNumber = field->fdNumber;
  const bool stringType = type == zftShortString || type == zftNullString || type == zftWideString;
  ckfeKeyUnits = stringType ? ckfeKeyChars : field->fdUnits;
  ckfeStorageCodepage = field->GetUsedStorageCodePage();
  FKeyIsShorter = stringType && ckfeKeyChars < field->fdUnits;
  ckfeKeyLength = ckfeSetup.KeyLength;
  ckfeBuildKeyLength = std::min(ckfeKeyLength, ckfeFieldLength);
  ckfeLocaleDescriptor = aKeyField.GetUsedLocaleDescriptor();
  FIgnoreCase = ckfeSetup.IgnoreCase;
  ckfeCompareFlags = FIgnoreCase ? locale::NORM_IGNORECASE : 0;
  if (ckfeLocaleDescriptor) {
    ckfeLocale = ckfeSetup.Locale;
    ckfeCompareCodepage = ckfeSetup.CompareCodePage;
    ckfeNLSVersionChanged = ckfeSetup.OtherSortRules;
    ckfeCompareFlags |= ckfeSetup.CompareFlags;
  }
  if (ckfeLocale != 0) ckfeUseByteOrder = false;
  else if (type == zftWideChar || type == zftWideString) ckfeUseByteOrder = ckfeSetup.UseByteOrder;
  else ckfeUseByteOrder = true;
  FConvert = ckfeStorageCodepage != 0 && ckfeCompareCodepage != 0 && ckfeStorageCodepage != ckfeCompareCodepage;
  if (type == zftShortString || type == zftNullString || type == zftChar) {
    FStorageMultiByte = IsMultiByte(ckfeStorageCodepage);
    FCompareMultiByte = IsMultiByte(ckfeCompareCodepage);
  }
  FGuidAsText = type == zftGuid && dynamic_cast<TzfTextKeyFieldDescriptor*>(&aKeyField) != nullptr;

  const bool ascending = ckfeSetup.Ascending;
  CompareKey = ascending ? std::function<int8_t(const uint8_t*, const uint8_t*)>(
                               [this](const uint8_t* a, const uint8_t* b) { return static_cast<int8_t>(AscCompare(a, b)); })
                         : [this](const uint8_t* a, const uint8_t* b) { return static_cast<int8_t>(-AscCompare(a, b)); };
  if (HasPartial()) {
    if (ascending)
      PartialCompareKey = [this](const uint8_t* a, const uint8_t* b, int32_t n) {
        return static_cast<int8_t>(AscPartialCompare(a, b, n));
      };
    else
      PartialCompareKey = [this](const uint8_t* a, const uint8_t* b, int32_t n) {
        return static_cast<int8_t>(-AscPartialCompare(a, b, n));
      };
  }
  KeyAsVariant = [this](const uint8_t* aKey, rtl::Variant& aValue) {
    const TzfFieldType type = ckfeSetup.FieldType;
    const bool text = type == zftShortString || type == zftNullString || type == zftWideString;
    int32_t units = ckfeKeyUnits;
    // A converted text part may hold more bytes than characters.
    if (type == zftShortString || type == zftNullString) units = std::max(units, ckfeKeyLength - 1);
    // A fixed-length text pads to its width, but never beyond the characters the key keeps.
    const int32_t decPl = text ? std::min(ckfeFieldDecPl, ckfeKeyUnits) : ckfeFieldDecPl;
    VariantFromBuffer(type, ckfeCompareCodepage, units, decPl, aKey, ckfeKeyLength, aValue);
  };

  switch (type) {
    case zftShortString:
    case zftNullString:
      if (FConvert) {
        BuildKey = [this](const uint8_t* f, uint8_t* k) { ConvertingBuild(f, k, ckfeCompareCodepage); };
      } else if (FKeyIsShorter && FStorageMultiByte) {
        BuildKey = [this](const uint8_t* f, uint8_t* k) { ConvertingBuild(f, k, ckfeStorageCodepage); };
      } else {
        if (FKeyIsShorter) ckfeBuildKeyLength = std::min(ckfeKeyChars + 1, ckfeKeyLength);
        BuildKey = [this](const uint8_t* f, uint8_t* k) { DefaultBuild(f, k); };
      }
      if (FConvert || FKeyIsShorter) KeySameAsRecordFormat = false;
      break;
    case zftWideString:
      if (FKeyIsShorter) {
        ckfeBuildKeyLength = std::min((ckfeKeyChars + 1) * 2, ckfeKeyLength);
        KeySameAsRecordFormat = false;
      }
      BuildKey = [this](const uint8_t* f, uint8_t* k) { DefaultBuild(f, k); };
      break;
    default: BuildKey = [this](const uint8_t* f, uint8_t* k) { DefaultBuild(f, k); }; break;
  }
  BindDirectCompares();
}

void TzfDefaultCKFE::BindDirectCompares() {
  if (KeySameAsRecordFormat && ckfeKeyLength == ckfeFieldLength) {
    CompareFieldDirect = CompareKey;
    PartialCompareFieldDirect = PartialCompareKey;
    return;
  }
  CompareFieldDirect = [this](const uint8_t* a, const uint8_t* b) {
    std::vector<uint8_t> ka(static_cast<size_t>(ckfeKeyLength)), kb(ka.size());
    BuildKey(a, ka.data());
    BuildKey(b, kb.data());
    return CompareKey(ka.data(), kb.data());
  };
  if (PartialCompareKey)
    PartialCompareFieldDirect = [this](const uint8_t* a, const uint8_t* b, int32_t n) {
      std::vector<uint8_t> ka(static_cast<size_t>(ckfeKeyLength)), kb(ka.size());
      BuildKey(a, ka.data());
      BuildKey(b, kb.data());
      return PartialCompareKey(ka.data(), kb.data(), n);
    };
  else
    PartialCompareFieldDirect = nullptr;
}

bool TzfDefaultCKFE::HasPartial() const {
  switch (ckfeSetup.FieldType) {
    case zftByteArray: case zftShortString: case zftNullString: case zftWideString: return true;
    default: return false;
  }
}

void TzfDefaultCKFE::DefaultBuild(const uint8_t* aField, uint8_t* aKey) const {
  const size_t keyLen = static_cast<size_t>(ckfeKeyLength);
  size_t build = static_cast<size_t>(std::max(ckfeBuildKeyLength, 0));
  switch (ckfeSetup.FieldType) {
    case zftShortString: {
      if (build == 0) break;
      // The field's own length byte may be damaged: never more than the field's characters.
      const size_t n = std::min({size_t{aField[0]}, build - 1, static_cast<size_t>(std::max(ckfeFieldLength - 1, 0))});
      aKey[0] = static_cast<uint8_t>(n);
      std::memcpy(aKey + 1, aField + 1, n);
      build = n + 1;
      break;
    }
    case zftNullString:
      if (build == 0) break;
      std::memcpy(aKey, aField, build);
      aKey[build - 1] = 0;
      break;
    case zftWideString:
      build &= ~size_t{1};
      if (build < 2) break;
      std::memcpy(aKey, aField, build);
      aKey[build - 2] = 0;
      aKey[build - 1] = 0;
      break;
    default: std::memcpy(aKey, aField, build); break;
  }
  if (build < keyLen) std::memset(aKey + build, 0, keyLen - build);
}

void TzfDefaultCKFE::ConvertingBuild(const uint8_t* aField, uint8_t* aKey, uint16_t aTargetCodePage) const {
  const size_t keyLen = static_cast<size_t>(ckfeKeyLength);
  const size_t fieldChars = static_cast<size_t>(std::max(ckfeFieldLength - 1, 0));
  std::memset(aKey, 0, keyLen);
  if (keyLen == 0) return;
  const bool shortString = ckfeSetup.FieldType == zftShortString;
  const uint8_t* text = shortString ? aField + 1 : aField;
  const size_t len = shortString ? std::min(size_t{aField[0]}, fieldChars) : ByteTextLen(aField, fieldChars);
  if (len == 0) return;
  UnicodeString wide;
  zfStringToWideString(Bytes(text, len), ckfeStorageCodepage, wide);
  if (wide.size() > static_cast<size_t>(ckfeKeyChars)) wide.resize(static_cast<size_t>(ckfeKeyChars));
  const TzfBytes out = EncodeWithin(std::move(wide), aTargetCodePage, keyLen - 1);
  if (shortString) {
    aKey[0] = static_cast<uint8_t>(out.size());
    std::memcpy(aKey + 1, out.data(), out.size());
  } else {
    std::memcpy(aKey, out.data(), out.size());
  }
}

int TzfDefaultCKFE::AscCompare(const uint8_t* a, const uint8_t* b) const {
  const size_t keyLen = static_cast<size_t>(std::max(ckfeKeyLength, 0));
  const size_t maxChars = keyLen > 0 ? keyLen - 1 : 0;
  switch (ckfeSetup.FieldType) {
    case zftBoolean: return zfCompareValues(a[0] != 0, b[0] != 0);
    case zftByte: return zfCompareValues(a[0], b[0]);
    case zftWord16: return zfCompareValues(zfLoadField<uint16_t>(a), zfLoadField<uint16_t>(b));
    case zftWord32: case zftAutoInc: case zftRecRev: return zfCompareValues(zfLoadField<uint32_t>(a), zfLoadField<uint32_t>(b));
    case zftInt8: return zfCompareValues(static_cast<int8_t>(a[0]), static_cast<int8_t>(b[0]));
    case zftInt16: return zfCompareValues(zfLoadField<int16_t>(a), zfLoadField<int16_t>(b));
    case zftInt32: case zftDate: case zftTime: return zfCompareValues(zfLoadField<int32_t>(a), zfLoadField<int32_t>(b));
    case zftInt64: case zftCurrency: case zftBCD: return zfCompareValues(zfLoadField<int64_t>(a), zfLoadField<int64_t>(b));
    case zftSingle: return RealCmp(zfLoadField<float>(a), zfLoadField<float>(b));
    case zftDouble: case zftDateTime: case zftInterval: return RealCmp(zfLoadField<double>(a), zfLoadField<double>(b));
    case zftExtended: return RealCmp(rtl::ExtendedFromBytes(a), rtl::ExtendedFromBytes(b));
    case zftByteArray: return CmpBytes(a, keyLen, b, keyLen, false);
    case zftGuid:
      if (FGuidAsText)
        return FromCompareString(locale::CompareStringW(kSystemDefaultLocale, 0, rtl::GUIDToString(rtl::GUIDFromBytes(a)),
                                                        rtl::GUIDToString(rtl::GUIDFromBytes(b))),
                                 u"CompareStringW");
      return CmpBytes(a, keyLen, b, keyLen, false);
    case zftFmtBCD: {
      rtl::TBcd x, y;
      if (zfFmtBcdFromBytes(a, ckfeKeyLength, x) && zfFmtBcdFromBytes(b, ckfeKeyLength, y))
        return std::clamp(rtl::BcdCompare(x, y), -1, 1);
      return CmpBytes(a, keyLen, b, keyLen, false);
    }
    case zftChar:
      if (ckfeUseByteOrder) return CmpBytes(a, 1, b, 1, FIgnoreCase);
      return FromCompareString(locale::CompareStringA(ckfeLocale, ckfeCompareFlags, Bytes(a, 1), Bytes(b, 1)),
                               u"CompareStringA");
    case zftWideChar: {
      const UnicodeString x(1, static_cast<char16_t>(zfLoadField<uint16_t>(a))), y(1, static_cast<char16_t>(zfLoadField<uint16_t>(b)));
      if (ckfeUseByteOrder) return CmpUnits(x, y, FIgnoreCase);
      return FromCompareString(locale::CompareStringW(ckfeLocale, ckfeCompareFlags, x, y), u"CompareStringW");
    }
    case zftShortString: {
      const size_t la = std::min(size_t{a[0]}, maxChars), lb = std::min(size_t{b[0]}, maxChars);
      if (ckfeUseByteOrder) return CmpBytes(a + 1, la, b + 1, lb, FIgnoreCase);
      return FromCompareString(
          locale::CompareStringA(ckfeLocale, ckfeCompareFlags, Bytes(a + 1, la), Bytes(b + 1, lb)), u"CompareStringA");
    }
    case zftNullString: {
      const size_t la = ByteTextLen(a, maxChars), lb = ByteTextLen(b, maxChars);
      if (ckfeUseByteOrder) return CmpBytes(a, la, b, lb, FIgnoreCase);
      return FromCompareString(locale::CompareStringA(ckfeLocale, ckfeCompareFlags, Bytes(a, la), Bytes(b, lb)),
                               u"CompareStringA");
    }
    case zftWideString: {
      const size_t units = keyLen / 2 > 0 ? keyLen / 2 - 1 : 0;
      const UnicodeString x = WideText(a, units), y = WideText(b, units);
      if (ckfeUseByteOrder) return CmpUnits(x, y, FIgnoreCase);
      return FromCompareString(locale::CompareStringW(ckfeLocale, ckfeCompareFlags, x, y), u"CompareStringW");
    }
    default: return 0;
  }
}

int TzfDefaultCKFE::AscPartialCompare(const uint8_t* a, const uint8_t* b, int32_t aPartialLen) const {
  const size_t keyLen = static_cast<size_t>(std::max(ckfeKeyLength, 0));
  const size_t maxChars = keyLen > 0 ? keyLen - 1 : 0;
  const size_t p = static_cast<size_t>(std::max(aPartialLen, 0));
  switch (ckfeSetup.FieldType) {
    case zftByteArray: {
      const size_t n = std::min(keyLen, p);
      return CmpBytes(a, n, b, n, false);
    }
    case zftShortString:
    case zftNullString: {
      const bool shortString = ckfeSetup.FieldType == zftShortString;
      const uint8_t* ta = shortString ? a + 1 : a;
      const uint8_t* tb = shortString ? b + 1 : b;
      size_t la = shortString ? std::min(size_t{a[0]}, maxChars) : ByteTextLen(a, maxChars);
      size_t lb = shortString ? std::min(size_t{b[0]}, maxChars) : ByteTextLen(b, maxChars);
      if (!ckfeUseByteOrder && FCompareMultiByte) {
        // Characters, not bytes, count: compare the texts as UTF-16 cut to the partial length.
        UnicodeString wa, wb;
        zfStringToWideString(Bytes(ta, la), ckfeCompareCodepage, wa);
        zfStringToWideString(Bytes(tb, lb), ckfeCompareCodepage, wb);
        size_t n = p;
        if (aPartialLen == zfPartialLenOfFirst) n = wa.size();
        if (wa.size() > n) wa.resize(n);
        if (aPartialLen == zfPartialLenOfSecond) n = wb.size();
        if (wb.size() > n) wb.resize(n);
        return FromCompareString(locale::CompareStringW(ckfeLocale, ckfeCompareFlags, wa, wb), u"CompareStringW");
      }
      size_t n = p;
      if (aPartialLen == zfPartialLenOfFirst) n = la;
      if (aPartialLen == zfPartialLenOfSecond) n = lb;
      n = std::min(n, maxChars);
      la = std::min(la, n);
      lb = std::min(lb, n);
      if (ckfeUseByteOrder) return CmpBytes(ta, la, tb, lb, FIgnoreCase);
      return FromCompareString(locale::CompareStringA(ckfeLocale, ckfeCompareFlags, Bytes(ta, la), Bytes(tb, lb)),
                               u"CompareStringA");
    }
    case zftWideString: {
      const size_t units = keyLen / 2 > 0 ? keyLen / 2 - 1 : 0;
      UnicodeString x = WideText(a, units), y = WideText(b, units);
      size_t n = p;
      if (aPartialLen == zfPartialLenOfFirst) n = x.size();
      if (aPartialLen == zfPartialLenOfSecond) n = y.size();
      n = std::min(n, units);
      if (x.size() > n) x.resize(n);
      if (y.size() > n) y.resize(n);
      if (ckfeUseByteOrder) return CmpUnits(x, y, FIgnoreCase);
      return FromCompareString(locale::CompareStringW(ckfeLocale, ckfeCompareFlags, x, y), u"CompareStringW");
    }
    default: return AscCompare(a, b);
  }
}

// ---- TzfNumbersOnlyCKFE ----

const TzfCompositeKeyFieldEngineClass& TzfNumbersOnlyCKFE::ClassInfo() {
  static const TzfCompositeKeyFieldEngineClass info(
      u"TzfNumbersOnlyCKFE", &TzfDefaultCKFE::ClassInfo(),
      [](TzfKeyFieldDescriptor& aKeyField) -> std::unique_ptr<TzfCompositeKeyFieldEngine> {
        return std::make_unique<TzfNumbersOnlyCKFE>(aKeyField);
      });
  return info;
}

TzfNumbersOnlyCKFE::TzfNumbersOnlyCKFE(TzfKeyFieldDescriptor& aKeyField) : TzfDefaultCKFE(aKeyField) {
  const TzfFieldType type = ckfeSetup.FieldType;
  if (type == zftShortString || type == zftNullString || type == zftWideString)
    BuildKey = [this](const uint8_t* f, uint8_t* k) { DigitsBuild(f, k); };
  KeySameAsRecordFormat = false;
  BindDirectCompares();
}

void TzfNumbersOnlyCKFE::DigitsBuild(const uint8_t* aField, uint8_t* aKey) const {
  const size_t keyLen = static_cast<size_t>(std::max(ckfeKeyLength, 0));
  std::memset(aKey, 0, keyLen);
  if (keyLen == 0) return;
  const size_t fieldLen = static_cast<size_t>(std::max(ckfeFieldLength, 0));
  auto digit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
  switch (ckfeSetup.FieldType) {
    case zftShortString: {
      const size_t len = std::min(size_t{aField[0]}, fieldLen > 0 ? fieldLen - 1 : 0);
      size_t n = 0;
      for (size_t i = 0; i < len && n < keyLen - 1; ++i)
        if (digit(aField[1 + i])) aKey[1 + n++] = aField[1 + i];
      aKey[0] = static_cast<uint8_t>(n);
      break;
    }
    case zftNullString: {
      const size_t len = ByteTextLen(aField, fieldLen);
      size_t n = 0;
      for (size_t i = 0; i < len && n < keyLen - 1; ++i)
        if (digit(aField[i])) aKey[n++] = aField[i];
      break;
    }
    default: {  // WideString
      const UnicodeString text = WideText(aField, fieldLen / 2);
      const size_t max = keyLen / 2 > 0 ? keyLen / 2 - 1 : 0;
      size_t n = 0;
      for (char16_t c : text) {
        if (n >= max) break;
        if (digit(c)) {
          aKey[2 * n] = static_cast<uint8_t>(c);
          ++n;
        }
      }
      break;
    }
  }
}

namespace {

void Start() {
  // The full engine takes over the default name from the dictionary's native engine.
  TzfCompositeKeyFieldEngine::UnregisterKeyFieldEngine(zfNativeKeyFieldEngineClass());
  TzfCompositeKeyFieldEngine::RegisterKeyFieldEngine(TzfDefaultCKFE::ClassInfo(), zfDefaultKeyFieldEngineName);
  TzfCompositeKeyFieldEngine::RegisterKeyFieldEngine(TzfNumbersOnlyCKFE::ClassInfo(), u"NumbersOnly");
}

void Stop() {
  TzfCompositeKeyFieldEngine::UnregisterKeyFieldEngine(TzfNumbersOnlyCKFE::ClassInfo());
  TzfCompositeKeyFieldEngine::UnregisterKeyFieldEngine(TzfDefaultCKFE::ClassInfo());
  TzfCompositeKeyFieldEngine::RegisterKeyFieldEngine(zfNativeKeyFieldEngineClass(), zfDefaultKeyFieldEngineName);
}

}  // namespace

rtl::TUnitInit& zfsdKeyFieldEngineBaseUnit() {
  static rtl::TUnitInit unit("zfsdKeyFieldEngineBase", &Start, &Stop);
  return unit;
}

}  // namespace zf
