// The session's lists of registered engine classes, its interfaces by name and the default locale
// of SQL string literals.
#include <algorithm>

#include "dictionary/zfsdDataDictionaryRefInt.h"
#include "dictionary/zfsdDefaultValueDescriptor.h"
#include "dictionary/zfsdStorageDescriptor.h"
#include "dictionary/zfsdValidationDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfrbRegistries.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerSession.h"
#include "storage/zfsrAutoIncEngineBase.h"
#include "storage/zfsrEncryptionEngineBase.h"
#include "storage/zfsrRecordEngineBase.h"

namespace zf {

namespace {

void AddNames(rtl::TStrings& aList, const TzfRegisteredClasses& aClasses) {
  for (const auto& [name, cls] : aClasses) aList.Add(name);
}

}  // namespace

uint32_t TzfServerSession::GetRegisteredClassList(TzfClassListType aClassListType, rtl::TStrings& aList) {
  aList.Clear();
  aList.BeginUpdate();
  struct EndUpdate {
    rtl::TStrings& L;
    ~EndUpdate() { L.EndUpdate(); }
  } end{aList};
  if (const uint32_t veto = NotifyExtenders(eaGetRegisteredClassList, true, {aClassListType, &aList})) return veto;
  const auto engines = [&](const TzfRegisterableClass& aFamily) {
    AddNames(aList, TzfBaseRegisterableEngine::GetRegisteredEngines(aFamily, true));
  };
  const auto descriptors = [&](const TzfRegisterableClass& aFamily) {
    AddNames(aList, TzfBaseRegisterableDescriptor::GetRegisteredDescriptors(aFamily, true));
  };
  switch (aClassListType) {
    case setAutoIncEngines:
      engines(TzfBaseAutoIncEngine::ClassInfo());
      break;
    case setBlobEngines:
      descriptors(TzfBaseBlobDescriptor::ClassInfo());
      break;
    case setIndicesEngines:
      return zfErrObjNotFound;
    case setEncryptionEngines:
      TzfBaseEncryptionEngine::GetRegisteredEngines(aList, false);
      break;
    case setDefaultDescriptors:
      descriptors(TzfBaseDefaultValueDescriptor::ClassInfo());
      break;
    case setValidationDescriptors:
      descriptors(TzfBaseFieldValidationDescriptor::ClassInfo());
      break;
    case setRecordDescriptors:
      engines(TzfBaseRecordEngine::ClassInfo());
      break;
    case setRIActionDescriptors:
      descriptors(TzfBaseActionDescriptor::ClassInfo());
      break;
    default:
      return zfErrObjNotFound;
  }
  return NotifyExtenders(eaGetRegisteredClassList, false, {aClassListType, &aList});
}

HRESULT TzfServerSession::CreateInstanceFor(const UnicodeString& aName, const rtl::TGUID& aClassID,
                                            TzfInterfacedObject* aOuter, const rtl::TGUID& aInterfaceID,
                                            RefPtr<TzfInterfacedObject>& aInterface) {
  aInterface = nullptr;
  HRESULT result = E_NOINTERFACE;
  if (rtl::SameText(aName, u"<Registry>")) {
    RefPtr<IzfClassFactoryRegistry> registry;
    zfGetClassFactoryRegistry(registry);
    if (registry) result = registry->CreateInstance(aClassID, aOuter, aInterfaceID, aInterface);
    return result;
  }
  const auto ask = [&](TzfComponent* aComponent) {
    RefPtr<TzfComponentInfo> info;
    result = aComponent->zfcCreateInstance(this, aClassID, aOuter, aInterfaceID, info);
    if (result >= 0) aInterface = info;
    return result >= 0;
  };
  if (rtl::SameText(aName, u"<ServerEngine>")) {
    ask(ssServerEngine);
    return result;
  }
  std::unique_ptr<TzfIterationList> dependents = ssServerEngine->IterateDependents();
  for (int i = 0; dependents && i < dependents->Count(); ++i) {
    TzfComponent* c = dependents->Items(i);
    if (!aName.empty() && !rtl::SameText(c->Name(), aName)) continue;
    if (ask(c)) break;
  }
  return result;
}

TzfLocaleDescriptor* TzfServerSession::ClientDefaultLocale() {
  std::lock_guard g(ssClientDefaultLocaleLock);
  if (!ssClientDefaultLocale && !ssClientDefaultLocaleChecked) {
    ssClientDefaultLocaleChecked = true;
    UnicodeString value;
    if (OptionGetEffective(u"SQL_DEFAULT_LOCALE", value) == 0 && !value.empty()) {
      // A decimal number: digits only, so "$400" or "0x400" name no locale.
      int32_t locale = 0;
      const bool digits = std::all_of(value.begin(), value.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
      if (digits && rtl::TryStrToInt(value, locale) && locale > 0) {
        auto descriptor = std::make_unique<TzfLocaleDescriptor>(nullptr);
        descriptor->ldIsDefaultStringLiteralLocale = true;
        descriptor->SetLocale(locale);
        ssClientDefaultLocale = std::move(descriptor);
      }
    }
  }
  return ssClientDefaultLocale.get();
}

}  // namespace zf
