#include "dictionary/zfsdLocaleDescriptor.h"

#include "foundation/zfllConst.h"
#include "platform/locale/locLocales.h"

namespace zf {

namespace {

struct TFlag {
  bool TzfLocaleDescriptor::*Field;
  int32_t Bit;
};
constexpr TFlag kFlags[] = {
    {&TzfLocaleDescriptor::ldIgnoreKanaType, NORM_IGNOREKANATYPE},
    {&TzfLocaleDescriptor::ldIgnoreNonSpace, NORM_IGNORENONSPACE},
    {&TzfLocaleDescriptor::ldIgnoreSymbols, NORM_IGNORESYMBOLS},
    {&TzfLocaleDescriptor::ldIgnoreWidth, NORM_IGNOREWIDTH},
    {&TzfLocaleDescriptor::ldUseStringSort, SORT_STRINGSORT},
};

}  // namespace

// ---- TzfLocaleDescriptor ----

const TzfDictionaryItemClassInfo& TzfLocaleDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfLocaleDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfLocaleDescriptor>,
                                               &zfNewDictionaryItem<TzfLocaleDescriptor>);
  return info;
}

TzfLocaleDescriptor::TzfLocaleDescriptor(TzfPersistent* aParent)
    : TzfDictionaryItem(aParent), ldLocale(locale::ConvertDefaultLocale(locale::LOCALE_SYSTEM_DEFAULT)) {}

TzfLocaleDescriptor::~TzfLocaleDescriptor() { delete ldNLSVersionInfoCurrent.exchange(nullptr); }

void TzfLocaleDescriptor::SetLocale(int32_t aValue) {
  CheckReadOnly();
  ldLocale = aValue == 0 ? 0 : locale::ConvertDefaultLocale(static_cast<uint32_t>(aValue));
}

int32_t TzfLocaleDescriptor::GetFlags() const {
  int32_t flags = 0;
  for (const TFlag& f : kFlags)
    if (this->*f.Field) flags |= f.Bit;
  return flags;
}

void TzfLocaleDescriptor::SetFlags(int32_t aValue) {
  CheckReadOnly();
  for (const TFlag& f : kFlags) this->*f.Field = (aValue & f.Bit) != 0;
}

uint16_t TzfLocaleDescriptor::GetCompareCodepage() const {
  if (ldLocale == 0) return 0;
  UnicodeString text;
  if (!locale::GetLocaleInfo(ldLocale, locale::LOCALE_IDEFAULTANSICODEPAGE | locale::LOCALE_NOUSEROVERRIDE, text))
    zfRaiseLastOSError(u"TzfLocaleDescriptor.GetCompareCodepage/GetLocaleInfoW");
  int32_t cp = 0;
  if (!rtl::TryStrToInt(text, cp)) throw rtl::EConvertError(u"'" + text + u"' is not a valid integer value");
  return rtl::RangeChecked<uint16_t>(cp);
}

uint16_t TzfLocaleDescriptor::GetStorageCodepage() const {
  return ldOverrideStorageCodepage != 0 ? ldOverrideStorageCodepage : GetCompareCodepage();
}

bool TzfLocaleDescriptor::IsNLSVersionUnchanged() {
  if (ldLocale == 0 || !ldNLSVersionInfoBuild) return true;
  TzfNLSVersionInfoEx* current = ldNLSVersionInfoCurrent.load(std::memory_order_acquire);
  if (!current) {
    auto fresh = std::make_unique<TzfNLSVersionInfoEx>();
    zfGetLocaleNLSVersion(ldLocale, *fresh);
    TzfNLSVersionInfoEx* expected = nullptr;
    if (ldNLSVersionInfoCurrent.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel))
      current = fresh.release();
    else
      current = expected;  // another thread installed its record first; ours is freed
  }
  const TzfNLSVersionInfoEx& b = *ldNLSVersionInfoBuild;
  return current->dwNLSVersion == b.dwNLSVersion && current->dwDefinedVersion == b.dwDefinedVersion &&
         current->dwEffectiveId == b.dwEffectiveId && current->guidCustomVersion == b.guidCustomVersion;
}

void TzfLocaleDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  if (aClientVersion < zfVersion20000) RaiseError(zfErrIncompatibleVersion);
  const int32_t version = (aClientVersion < zfVersion30900 || zfDisable30900LocaleFixes()) ? 1 : 2;
  aWriter.WriteInteger(version);
  aWriter.WriteInteger(static_cast<int32_t>(ldLocale));
  aWriter.WriteBoolean(ldIgnoreKanaType);
  aWriter.WriteBoolean(ldIgnoreNonSpace);
  aWriter.WriteBoolean(ldIgnoreSymbols);
  aWriter.WriteBoolean(ldIgnoreWidth);
  aWriter.WriteBoolean(ldUseStringSort);
  aWriter.WriteInteger(static_cast<int32_t>(ldOverrideStorageCodepage));
  if (version == 2) {
    aWriter.WriteBoolean(ldNLSVersionInfoBuild != nullptr);
    if (ldNLSVersionInfoBuild) {
      aWriter.WriteInteger(static_cast<int32_t>(ldNLSVersionInfoBuild->dwNLSVersion));
      aWriter.WriteInteger(static_cast<int32_t>(ldNLSVersionInfoBuild->dwDefinedVersion));
      aWriter.WriteInteger(static_cast<int32_t>(ldNLSVersionInfoBuild->dwEffectiveId));
      aWriter.WriteGuid(ldNLSVersionInfoBuild->guidCustomVersion);
    }
  }
}

void TzfLocaleDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  ldVersion = ReadBodyVersion(aReader, 1, 2);
  ldLocale = static_cast<uint32_t>(aReader.ReadInteger());
  ldIgnoreKanaType = ReadStoredBoolean(aReader);
  ldIgnoreNonSpace = ReadStoredBoolean(aReader);
  ldIgnoreSymbols = ReadStoredBoolean(aReader);
  ldIgnoreWidth = ReadStoredBoolean(aReader);
  ldUseStringSort = ReadStoredBoolean(aReader);
  const int32_t cp = aReader.ReadInteger();
  if (cp < 0 || cp > 65535) RaiseError(zfErrIncompatibleStream);
  ldOverrideStorageCodepage = static_cast<uint16_t>(cp);
  if (ldVersion == 2 && ReadStoredBoolean(aReader)) {
    auto build = std::make_unique<TzfNLSVersionInfoEx>();
    build->dwNLSVersionInfoSize = sizeof(TzfNLSVersionInfoEx);
    build->dwNLSVersion = static_cast<uint32_t>(aReader.ReadInteger());
    build->dwDefinedVersion = static_cast<uint32_t>(aReader.ReadInteger());
    build->dwEffectiveId = static_cast<uint32_t>(aReader.ReadInteger());
    build->guidCustomVersion = aReader.ReadGuid();
    ldNLSVersionInfoBuild = std::move(build);
  } else {
    ldNLSVersionInfoBuild.reset();
  }
}

void TzfLocaleDescriptor::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  if (ldLocale != 0 && !zfIsValidLocale(ldLocale))
    RaiseError(zfErrInvalidLangDriver, u"Locale not supported/installed: %d", {static_cast<int64_t>(ldLocale)});
  if (ldOverrideStorageCodepage != 0 && !zfIsValidCodePage(ldOverrideStorageCodepage))
    RaiseError(zfErrInvalidLangDriver, u"Invalid codepage: %d", {ldOverrideStorageCodepage});
  if (aForBuild) {
    if (!zfDisable30900LocaleFixes() && ldLocale != 0) {
      if (!ldNLSVersionInfoBuild) ldNLSVersionInfoBuild = std::make_unique<TzfNLSVersionInfoEx>();
      zfGetLocaleNLSVersion(ldLocale, *ldNLSVersionInfoBuild);
    } else {
      ldNLSVersionInfoBuild.reset();
    }
  }
}

bool TzfLocaleDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfDictionaryItem::IsEqual(aItem)) return false;
  const auto* other = dynamic_cast<const TzfLocaleDescriptor*>(aItem);
  return other && ldLocale == other->ldLocale && GetFlags() == other->GetFlags() &&
         ldOverrideStorageCodepage == other->ldOverrideStorageCodepage;
}

// ---- TzfLocalizedDictionaryItem ----

const TzfDictionaryItemClassInfo& TzfLocalizedDictionaryItem::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfLocalizedDictionaryItem", &TzfDictionaryItem::ClassInfo(),
                                               nullptr, nullptr);
  return info;
}

TzfLocalizedDictionaryItem::~TzfLocalizedDictionaryItem() = default;

TzfLocaleDescriptor* TzfLocalizedDictionaryItem::AddLocaleDescriptor(TzfLocaleDescriptorClass aLocaleClass) {
  CheckReadOnly();
  ldiLocaleDescriptor.reset();
  const TzfDictionaryItemClassInfo& cls = aLocaleClass ? *aLocaleClass : TzfLocaleDescriptor::ClassInfo();
  ZF_ASSERT(cls.Create && cls.InheritsFrom(&TzfLocaleDescriptor::ClassInfo()), "zfsdLocaleDescriptor");
  ldiLocaleDescriptor.reset(static_cast<TzfLocaleDescriptor*>(cls.Create(this)));
  return ldiLocaleDescriptor.get();
}

void TzfLocalizedDictionaryItem::RemoveLocaleDescriptor() {
  CheckReadOnly();
  ldiLocaleDescriptor.reset();
}

TzfLocaleDescriptor* TzfLocalizedDictionaryItem::GetUsedLocaleDescriptor() {
  if (diCacheActive) return ldiCachedLocaleDescriptor;
  if (ldiLocaleDescriptor) return ldiLocaleDescriptor.get();
  return GetInheritedLocaleDescriptor();
}

TzfLocaleDescriptor* TzfLocalizedDictionaryItem::GetInheritedLocaleDescriptor() {
  auto* parent = dynamic_cast<TzfDictionaryItem*>(diParent);
  TzfDictionaryItem* d = nullptr;
  if (!parent || !parent->FindRelatedDescriptorOfType(TzfLocaleDescriptor::ClassInfo(), d, this)) return nullptr;
  return dynamic_cast<TzfLocaleDescriptor*>(d);
}

uint16_t TzfLocalizedDictionaryItem::GetUsedStorageCodePage() {
  if (diCacheActive) return ldiCachedStorageCodePage;
  TzfLocaleDescriptor* ld = GetUsedLocaleDescriptor();
  return ld ? ld->GetStorageCodepage() : 0;
}

void TzfLocalizedDictionaryItem::ActivateCache() {
  if (!diCacheActive) {
    ldiCachedLocaleDescriptor = GetUsedLocaleDescriptor();
    ldiCachedStorageCodePage = ldiCachedLocaleDescriptor ? ldiCachedLocaleDescriptor->GetStorageCodepage() : 0;
  }
  TzfDictionaryItem::ActivateCache();
}

bool TzfLocalizedDictionaryItem::FindRelatedDescriptorOfType(const TzfRegisterableClass& aType,
                                                             TzfDictionaryItem*& aDescriptor,
                                                             TzfDictionaryItem* aFrom) {
  if (aType.InheritsFrom(&TzfLocaleDescriptor::ClassInfo())) {
    aDescriptor = GetUsedLocaleDescriptor();
    return true;
  }
  return TzfDictionaryItem::FindRelatedDescriptorOfType(aType, aDescriptor, aFrom);
}

void TzfLocalizedDictionaryItem::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  if (ldiLocaleDescriptor) ldiLocaleDescriptor->CheckValid(aForBuild);
}

bool TzfLocalizedDictionaryItem::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfDictionaryItem::IsEqual(aItem)) return false;
  const auto* other = dynamic_cast<const TzfLocalizedDictionaryItem*>(aItem);
  if (!other) return false;
  if (!ldiLocaleDescriptor || !other->ldiLocaleDescriptor) return !ldiLocaleDescriptor && !other->ldiLocaleDescriptor;
  return ldiLocaleDescriptor->IsEqual(other->ldiLocaleDescriptor.get());
}

void TzfLocalizedDictionaryItem::SaveLocaleToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  if (aClientVersion < zfVersion20000) throw EzfLocaleizedDictionaryItemException(zfErrIncompatibleVersion);
  aWriter.WriteInteger(1);
  aWriter.WriteBoolean(ldiLocaleDescriptor != nullptr);
  if (ldiLocaleDescriptor) {
    aWriter.WriteString(ldiLocaleDescriptor->ClassName());
    ldiLocaleDescriptor->SaveToWriter(aWriter, aClientVersion);
  }
}

void TzfLocalizedDictionaryItem::LoadLocaleFromReader(TzfReader& aReader) {
  if (aReader.ReadInteger() != 1) throw EzfLocaleizedDictionaryItemException(zfErrIncompatibleStream);
  if (!ReadStoredBoolean(aReader)) return;
  const auto& cls = FindStoredDescriptorClass(TzfLocaleDescriptor::ClassInfo(), u"LocaleDescriptor",
                                              aReader.ReadString());
  TzfLocaleDescriptor* ld = AddLocaleDescriptor(&cls);
  TzfDictionaryReadNesting nesting(*this);
  ld->LoadFromReader(aReader);
}

// ---- Unit ----

rtl::TUnitInit& zfsdLocaleDescriptorUnit() {
  static rtl::TUnitInit unit(
      "zfsdLocaleDescriptor",
      [] { TzfBaseRegisterableDescriptor::RegisterDescriptor(TzfLocaleDescriptor::ClassInfo()); },
      [] { TzfBaseRegisterableDescriptor::UnregisterDescriptor(TzfLocaleDescriptor::ClassInfo()); });
  return unit;
}

}  // namespace zf
