#include "dictionary/zfsdKeyFieldEngine.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "foundation/zfllErrors.h"
#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFieldBytes.h"
#include "dictionary/zfsdFmtBcd.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "platform/rtl/rtlNumber.h"

namespace zf {

namespace {


int8_t CmpBytes(const uint8_t* a, size_t aLen, const uint8_t* b, size_t bLen) {
  const int r = std::memcmp(a, b, std::min(aLen, bLen));
  if (r != 0) return r < 0 ? -1 : 1;
  return zfCompareValues(aLen, bLen);
}

// Length of a NUL-terminated text of at most aMax units.
template <typename T>
size_t TextUnits(const uint8_t* p, size_t aMax) {
  size_t n = 0;
  while (n < aMax && zfLoadField<T>(p + n * sizeof(T)) != 0) ++n;
  return n;
}

int8_t CmpWide(const uint8_t* a, size_t aLen, const uint8_t* b, size_t bLen) {
  const size_t n = std::min(aLen, bLen);
  for (size_t i = 0; i < n; ++i) {
    const int8_t r = zfCompareValues(zfLoadField<uint16_t>(a + 2 * i), zfLoadField<uint16_t>(b + 2 * i));
    if (r != 0) return r;
  }
  return zfCompareValues(aLen, bLen);
}

int8_t CmpFmtBcd(const uint8_t* a, const uint8_t* b, int32_t aLength) {
  rtl::TBcd x, y;
  const bool okX = zfFmtBcdFromBytes(a, aLength, x);
  const bool okY = zfFmtBcdFromBytes(b, aLength, y);
  if (!okX || !okY) return CmpBytes(a, static_cast<size_t>(aLength), b, static_cast<size_t>(aLength));
  return static_cast<int8_t>(std::clamp(rtl::BcdCompare(x, y), -1, 1));
}

}  // namespace

int8_t zfCompareNativeFieldValues(const TzfKeyFieldSetup& aSetup, const uint8_t* a, const uint8_t* b) {
  const size_t len = static_cast<size_t>(std::max(aSetup.Length, 0));
  const size_t chars = aSetup.KeyChars > 0 ? static_cast<size_t>(aSetup.KeyChars) : SIZE_MAX;
  switch (aSetup.FieldType) {
    case zftBoolean: return zfCompareValues(a[0] != 0, b[0] != 0);
    case zftChar: case zftByte: return zfCompareValues(a[0], b[0]);
    case zftInt8: return zfCompareValues(static_cast<int8_t>(a[0]), static_cast<int8_t>(b[0]));
    case zftWideChar: case zftWord16: return zfCompareValues(zfLoadField<uint16_t>(a), zfLoadField<uint16_t>(b));
    case zftInt16: return zfCompareValues(zfLoadField<int16_t>(a), zfLoadField<int16_t>(b));
    case zftWord32: case zftAutoInc: case zftRecRev: return zfCompareValues(zfLoadField<uint32_t>(a), zfLoadField<uint32_t>(b));
    case zftInt32: case zftDate: case zftTime: return zfCompareValues(zfLoadField<int32_t>(a), zfLoadField<int32_t>(b));
    case zftInt64: case zftCurrency: case zftBCD: return zfCompareValues(zfLoadField<int64_t>(a), zfLoadField<int64_t>(b));
    case zftSingle: return zfCompareValues(zfLoadField<float>(a), zfLoadField<float>(b));
    case zftDouble: case zftDateTime: case zftInterval: return zfCompareValues(zfLoadField<double>(a), zfLoadField<double>(b));
    case zftExtended: return zfCompareValues(rtl::ExtendedFromBytes(a), rtl::ExtendedFromBytes(b));
    case zftFmtBCD: return CmpFmtBcd(a, b, aSetup.Length);
    case zftShortString: {
      if (len == 0) return 0;
      const size_t la = std::min<size_t>({a[0], len - 1, chars});
      const size_t lb = std::min<size_t>({b[0], len - 1, chars});
      return CmpBytes(a + 1, la, b + 1, lb);
    }
    case zftNullString: {
      const size_t max = std::min(len, chars);
      return CmpBytes(a, TextUnits<uint8_t>(a, max), b, TextUnits<uint8_t>(b, max));
    }
    case zftWideString: {
      const size_t max = std::min(len / 2, chars);
      return CmpWide(a, TextUnits<uint16_t>(a, max), b, TextUnits<uint16_t>(b, max));
    }
    case zftByteArray: case zftGuid: case zftBlob: case zftBlobMemo: case zftBlobGraphic: case zftBlobWideMemo:
    default: {
      const size_t n = aSetup.KeyLength > 0 ? std::min(len, static_cast<size_t>(aSetup.KeyLength)) : len;
      return CmpBytes(a, n, b, n);
    }
  }
}

// ---- TzfCompositeKeyFieldEngine ----

namespace {


// Lookups and registrations of key field engines are serialised by one process-wide lock.
std::mutex& EngineLock() {
  static std::mutex m;
  return m;
}

}  // namespace

const TzfCompositeKeyFieldEngineClass& TzfCompositeKeyFieldEngine::ClassInfo() {
  static const TzfCompositeKeyFieldEngineClass info(u"TzfCompositeKeyFieldEngine",
                                                    &TzfBaseRegisterableEngine::ClassInfo(), nullptr,
                                                    &zfFamilyList<TzfCompositeKeyFieldEngine>);
  return info;
}

void TzfCompositeKeyFieldEngine::RegisterKeyFieldEngine(const TzfCompositeKeyFieldEngineClass& aClass,
                                                        UnicodeStringView aName) {
  std::lock_guard g(EngineLock());
  RegisterEngine(aClass, aName);
}

void TzfCompositeKeyFieldEngine::UnregisterKeyFieldEngine(const TzfCompositeKeyFieldEngineClass& aClass) {
  std::lock_guard g(EngineLock());
  UnregisterEngine(aClass);
}

std::unique_ptr<TzfCompositeKeyFieldEngine> TzfCompositeKeyFieldEngine::CreateEngine(
    TzfKeyFieldDescriptor& aKeyFieldDescriptor) {
  const UnicodeString name =
      aKeyFieldDescriptor.kfdKeyFieldEngine.empty() ? UnicodeString(zfDefaultKeyFieldEngineName)
                                                    : aKeyFieldDescriptor.kfdKeyFieldEngine;
  const TzfCompositeKeyFieldEngineClass* cls;
  {
    std::lock_guard g(EngineLock());
    cls = zfFindEngineClass<TzfCompositeKeyFieldEngineClass>(ClassInfo(), name);
  }
  if (!cls || !cls->Create)
    throw EzfCompositeKeyFieldEngineException(zfErrSubEngineNotSupported,
                                              u"CompositeKeyFieldEngine \"%s\" is not registered", {name});
  return cls->Create(aKeyFieldDescriptor);
}

TzfCompositeKeyFieldEngine::TzfCompositeKeyFieldEngine(TzfKeyFieldDescriptor& aKeyField) : ckfeKeyField(aKeyField) {
  TzfFieldDescriptor* field = aKeyField.GetField();
  if (!field)
    throw EzfCompositeKeyFieldEngineException(zfErrInvalidDescNum, u"Invalid field number: %d",
                                              {aKeyField.kfdFieldNumber});
  ckfeSetup.FieldType = field->fdType;
  ckfeSetup.Length = field->fdLength;
  ckfeSetup.KeyLength = aKeyField.GetKeyLength();
  ckfeSetup.KeyChars = aKeyField.GetKeyChars();
  ckfeSetup.Ascending = aKeyField.kfdAscend;
  if (auto* text = dynamic_cast<TzfTextKeyFieldDescriptor*>(&aKeyField)) ckfeSetup.IgnoreCase = text->tkfIgnoreCase;
  if (TzfLocaleDescriptor* ld = aKeyField.GetUsedLocaleDescriptor()) {
    ckfeSetup.Locale = ld->ldLocale;
    ckfeSetup.CompareFlags = static_cast<uint32_t>(ld->GetFlags());
    ckfeSetup.CompareCodePage = ld->GetCompareCodepage();
    ckfeSetup.OtherSortRules = !ld->IsNLSVersionUnchanged();
  }
  if ((ckfeSetup.FieldType == zftWideChar || ckfeSetup.FieldType == zftWideString) && ckfeSetup.Locale == 0) {
    auto* order = dynamic_cast<IzfWideStringOrder*>(aKeyField.FindDictionaryRoot());
    ckfeSetup.UseByteOrder = order ? order->UseByteOrderForWideString() : !zfDisable30900LocaleFixes();
  }
}

namespace {

// The engine every key field gets unless it names another: compares native values; text only
// where no locale decides the order.
class TzfDefaultCompositeKeyFieldEngine : public TzfCompositeKeyFieldEngine {
 public:
  static const TzfCompositeKeyFieldEngineClass& ClassInfo() {
    static const TzfCompositeKeyFieldEngineClass info(
        u"TzfDefaultCompositeKeyFieldEngine", &TzfCompositeKeyFieldEngine::ClassInfo(),
        [](TzfKeyFieldDescriptor& aKeyField) -> std::unique_ptr<TzfCompositeKeyFieldEngine> {
          return std::unique_ptr<TzfCompositeKeyFieldEngine>(new TzfDefaultCompositeKeyFieldEngine(aKeyField));
        });
    return info;
  }
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  explicit TzfDefaultCompositeKeyFieldEngine(TzfKeyFieldDescriptor& aKeyField) : TzfCompositeKeyFieldEngine(aKeyField) {
    const TzfKeyFieldSetup& s = ckfeSetup;
    if (zfIsTextFieldType(s.FieldType) && (s.Locale != 0 || s.IgnoreCase))
      throw EzfCompositeKeyFieldEngineException(zfErrNotSupported,
                                                u"Comparing text by locale is not available to key field engine %s",
                                                {UnicodeString(ClassName())});
    const TzfKeyFieldSetup setup = s;
    if (setup.Ascending)
      CompareFieldDirect = [setup](const uint8_t* a, const uint8_t* b) {
        return zfCompareNativeFieldValues(setup, a, b);
      };
    else
      CompareFieldDirect = [setup](const uint8_t* a, const uint8_t* b) {
        return static_cast<int8_t>(-zfCompareNativeFieldValues(setup, a, b));
      };
  }
};

}  // namespace

const TzfCompositeKeyFieldEngineClass& zfNativeKeyFieldEngineClass() {
  return TzfDefaultCompositeKeyFieldEngine::ClassInfo();
}

namespace {

void StartKeyFieldEngines() {
  TzfCompositeKeyFieldEngine::RegisterKeyFieldEngine(TzfDefaultCompositeKeyFieldEngine::ClassInfo(),
                                                     zfDefaultKeyFieldEngineName);
}

void StopKeyFieldEngines() {
  TzfCompositeKeyFieldEngine::UnregisterKeyFieldEngine(TzfDefaultCompositeKeyFieldEngine::ClassInfo());
}

}  // namespace

rtl::TUnitInit& zfsdKeyFieldEngineUnit() {
  static rtl::TUnitInit unit("zfsdKeyFieldEngine", &StartKeyFieldEngines, &StopKeyFieldEngines);
  return unit;
}

}  // namespace zf
