#include "index/zfsdKeyEngineBase.h"

#include <cstring>

#include "dictionary/zfsdFieldDescriptor.h"
#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlException.h"

namespace zf {

namespace {

UnicodeString RenderValue(const rtl::Variant& v) {
  if (v.IsNull()) return u"NULL";
  if (v.IsEmpty()) return u"EMPTY";
  try {
    const UnicodeString s = v.AsString();
    if (!v.IsStr()) return s;
    UnicodeString q = u"'";
    for (char16_t c : s) {
      q.push_back(c);
      if (c == u'\'') q.push_back(c);
    }
    return q + u"'";
  } catch (const std::exception& e) {
    const auto* re = dynamic_cast<const rtl::Exception*>(&e);
    return u"[Error: " + (re ? re->Message() : rtl::u16(e.what())) + u"]";
  }
}

}  // namespace

const TzfKeyEngineClass& TzfBaseKeyEngine::ClassInfo() {
  static const TzfKeyEngineClass info(u"TzfBaseKeyEngine", &TzfBaseRegisterableEngine::ClassInfo(), nullptr, nullptr,
                                      &zfFamilyList<TzfBaseKeyEngine>);
  return info;
}

TzfFieldsDescriptor* TzfBaseKeyEngine::RelatedFields(TzfBaseKeyDescriptor& aDescriptor) {
  TzfDictionaryItem* item = nullptr;
  if (!aDescriptor.FindRelatedDescriptorOfType(TzfFieldsDescriptor::ClassInfo(), item)) return nullptr;
  return dynamic_cast<TzfFieldsDescriptor*>(item);
}

TzfBaseKeyEngine::TzfBaseKeyEngine(TzfBaseKeyDescriptor& aDescriptor, int32_t aKeyLength)
    : bkeKeyDescriptor(&aDescriptor) {
  const int32_t len = aKeyLength >= 0 ? aKeyLength : aDescriptor.GetKeyLength();
  if (len < 0 || len > 0xFFFF) rtl::RaiseRangeError();
  bkeKeyLength = static_cast<uint16_t>(len);
  bkeMemoryPool = zfGetPool(std::max<uint32_t>(bkeKeyLength, 1));
  if (aDescriptor.Filter) {
    bkeFilter = TzfBaseFilterEngine::CreateFor(*aDescriptor.Filter, RelatedFields(aDescriptor));
    bkeFilter->ActivateFilter(0);
  }
}

TzfBaseKeyEngine::~TzfBaseKeyEngine() = default;

void TzfBaseKeyEngine::RegisterKeyEngine(const TzfKeyEngineClass& aClass, UnicodeStringView aName) {
  RegisterEngine(aClass, aName);
}

void TzfBaseKeyEngine::UnregisterKeyEngine(const TzfKeyEngineClass& aClass) { UnregisterEngine(aClass); }

namespace {

const TzfKeyEngineClass* FindKeyEngineClass(TzfBaseKeyDescriptor& aDescriptor, UnicodeString& aName) {
  aName = zfEngineNameFromDescriptorName(aDescriptor.ClassName());
  return zfFindEngineClass<TzfKeyEngineClass>(TzfBaseKeyEngine::ClassInfo(), aName);
}

[[noreturn]] void RaiseUnknown(const UnicodeString& aName) {
  throw EzfBaseKeyEngineException(zfErrSubEngineNotSupported, u"Unknown %s engine: \"%s\"",
                                  {UnicodeString(u"Key"), aName});
}

}  // namespace

std::unique_ptr<TzfBaseKeyEngine> TzfBaseKeyEngine::CreateFor(TzfBaseKeyDescriptor& aDescriptor) {
  UnicodeString name;
  const TzfKeyEngineClass* cls = FindKeyEngineClass(aDescriptor, name);
  if (!cls || !cls->Create) RaiseUnknown(name);
  return cls->Create(aDescriptor);
}

uint32_t TzfBaseKeyEngine::TryCreateFor(TzfBaseKeyDescriptor& aDescriptor,
                                        std::unique_ptr<TzfBaseKeyEngine>& aKeyEngine) {
  aKeyEngine.reset();
  UnicodeString name;
  const TzfKeyEngineClass* cls = FindKeyEngineClass(aDescriptor, name);
  if (!cls || !cls->Create)
    return EzfBaseException::zfSetMessage(zfErrSubEngineNotSupported, u"Unknown %s engine: \"%s\"",
                                          {UnicodeString(u"Key"), name});
  aKeyEngine = cls->Create(aDescriptor);
  return zfErrNone;
}

void TzfBaseKeyEngine::CheckValidBaseFromDescriptor(TzfBaseKeyDescriptor& aDescriptor) {
  UnicodeString name;
  const TzfKeyEngineClass* cls = FindKeyEngineClass(aDescriptor, name);
  if (!cls) RaiseUnknown(name);
  if (cls->CheckValidFromDescriptor) cls->CheckValidFromDescriptor(aDescriptor);
}

void TzfBaseKeyEngine::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfBaseRegisterableEngine::AddExceptionData(aContainer);
  aContainer.AddInteger(u"KeyLength", bkeKeyLength);
  const int32_t count = GetFieldCount();
  if (count > 0) {
    auto fields = aContainer.AddContainer(u"Fields");
    for (int32_t i = 0; i < count; ++i) {
      IzfFieldInfo* info = nullptr;
      GetFieldInfo(i, info);
      if (info) fields->AddString(info->GetName(), zfFieldTypeEnumName(info->GetFieldType()));
    }
  }
  aContainer.AddObject(u"Filter", bkeFilter.get());
}

uint8_t* TzfBaseKeyEngine::AllocKey() {
  auto* key = static_cast<uint8_t*>(bkeMemoryPool.Alloc());
  ClearKey(key);
  return key;
}

void TzfBaseKeyEngine::FreeKey(uint8_t*& aKey) { bkeMemoryPool.Dispose(aKey); }

void TzfBaseKeyEngine::CopyKey(const uint8_t* aFrom, uint8_t* aTo) { std::memcpy(aTo, aFrom, bkeKeyLength); }

int8_t TzfBaseKeyEngine::CompareRecord(const uint8_t* aRecord1, int64_t aRefNr1, const uint8_t* aRecord2,
                                       int64_t aRefNr2, int32_t aFieldCount, int32_t aPartialLen) {
  struct TKey {
    TzfBaseKeyEngine& E;
    uint8_t* P;
    ~TKey() { E.FreeKey(P); }
  };
  TKey k1{*this, AllocKey()};
  TKey k2{*this, AllocKey()};
  uint32_t r = BuildKey(aRecord1, k1.P, aRefNr1, true);
  if (r != 0) throw EzfBaseKeyEngineException(r);
  r = BuildKey(aRecord2, k2.P, aRefNr2, true);
  if (r != 0) throw EzfBaseKeyEngineException(r);
  return CompareKey(k1.P, k2.P, aFieldCount, aPartialLen);
}

std::vector<rtl::Variant> TzfBaseKeyEngine::KeyAsVariants(const uint8_t* aKey) {
  std::vector<rtl::Variant> r;
  const int32_t count = GetFieldCount();
  if (count <= 0) {
    r.push_back(KeyAsVariant(aKey, -1));
    return r;
  }
  for (int32_t i = 0; i < count; ++i) r.push_back(KeyAsVariant(aKey, i));
  return r;
}

UnicodeString TzfBaseKeyEngine::KeyAsString(const uint8_t* aKey) {
  try {
    UnicodeString s;
    for (const rtl::Variant& v : KeyAsVariants(aKey)) {
      if (!s.empty()) s += u", ";
      s += RenderValue(v);
    }
    return s;
  } catch (...) {
    return UnicodeString();
  }
}

void TzfBaseKeyEngine::KeyAsExceptionData(const uint8_t* aKey, IzfExceptionDataContainer& aContainer) {
  try {
    const std::vector<rtl::Variant> values = KeyAsVariants(aKey);
    const int32_t count = GetFieldCount();
    for (size_t i = 0; i < values.size(); ++i) {
      const int32_t inx = static_cast<int32_t>(i);
      UnicodeString name = u"Field" + rtl::IntToStr(inx);
      if (inx < count) {
        IzfFieldInfo* info = nullptr;
        GetFieldInfo(inx, info);
        if (info) name = info->GetName();
      }
      aContainer.AddVariant(name, values[i]);
    }
  } catch (...) {
  }
}

rtl::TUnitInit& zfsdKeyEngineBaseUnit() {
  // The registry is created by the first registration and freed with the last class.
  static rtl::TUnitInit unit("zfsdKeyEngineBase", nullptr, nullptr);
  return unit;
}

}  // namespace zf
