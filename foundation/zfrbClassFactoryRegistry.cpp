#include "foundation/zfrbClassFactoryRegistry.h"

#include <mutex>
#include <vector>

namespace zf {

HRESULT TzfClassFactoryRegistry::CreateInstance(const rtl::TGUID& aClassID, TzfInterfacedObject* aOuter,
                                                const rtl::TGUID& aInterfaceID,
                                                RefPtr<TzfInterfacedObject>& aInterface) {
  aInterface.reset();
  RefPtr<IzfClassFactory> factory;
  {
    std::shared_lock g(phrPortal);
    int32_t index = phrFactories.IndexOf(rtl::GUIDToString(aClassID));
    if (index < 0) return CO_E_OBJNOTREG;
    factory = static_cast<TzfClassFactoryControl*>(phrFactories.GetObject(index))->cfcClassFactory;
  }
  // The factory runs outside the lock: it may create objects that use the registry.
  return factory->CreateInstance(aOuter, aInterfaceID, aInterface);
}

HRESULT TzfClassFactoryRegistry::RegisterClassFactory(const rtl::TGUID& aClassID,
                                                      const RefPtr<IzfClassFactory>& aFactory,
                                                      RefPtr<IzfClassFactoryControl>* aControl) {
  if (aControl) aControl->reset();
  if (!aFactory) {
    std::shared_lock g(phrPortal);
    return phrFactories.IndexOf(rtl::GUIDToString(aClassID)) >= 0 ? CO_E_OBJISREG : E_INVALIDARG;
  }
  // The control is made before the lock is taken: should it have to go again, its destructor
  // takes the lock itself.
  RefPtr<TzfClassFactoryControl> control = RefPtr<TzfClassFactoryControl>::Create(this, aClassID, aFactory);
  {
    std::unique_lock g(phrPortal);
    UnicodeString key = rtl::GUIDToString(aClassID);
    if (phrFactories.IndexOf(key) >= 0) return CO_E_OBJISREG;
    phrFactories.AddObject(key, control.get());
    control->cfcRegistered = true;
  }
  if (aControl) *aControl = control;
  return S_OK;
}

HRESULT TzfClassFactoryRegistry::NotifyFactories() {
  // The factories are collected under the lock and told outside it, so that a factory may
  // register or unregister from its notification without deadlocking.
  std::vector<RefPtr<IzfClassFactory>> factories;
  {
    std::shared_lock g(phrPortal);
    for (int32_t i = 0; i < phrFactories.Count(); ++i)
      factories.push_back(static_cast<TzfClassFactoryControl*>(phrFactories.GetObject(i))->cfcClassFactory);
  }
  HRESULT result = S_OK;
  for (const RefPtr<IzfClassFactory>& f : factories) {
    auto* notify = dynamic_cast<IzfClassFactoryNotify*>(f.get());
    if (!notify) continue;
    result = notify->Notify();
    if (result < 0) return result;
  }
  return result;
}

size_t TzfClassFactoryRegistry::Count() const {
  std::shared_lock g(phrPortal);
  return static_cast<size_t>(phrFactories.Count());
}

TzfClassFactoryControl::TzfClassFactoryControl(TzfClassFactoryRegistry* aClassFactoryRegistry,
                                               const rtl::TGUID& aClassID, RefPtr<IzfClassFactory> aClassFactory)
    : cfcRegistry(aClassFactoryRegistry), cfcClassID(aClassID), cfcClassFactory(std::move(aClassFactory)) {}

TzfClassFactoryControl::~TzfClassFactoryControl() { Unregister(); }

HRESULT TzfClassFactoryControl::NotifyFactory() {
  auto* notify = dynamic_cast<IzfClassFactoryNotify*>(cfcClassFactory.get());
  if (!notify) return E_NOINTERFACE;
  return notify->Notify();
}

HRESULT TzfClassFactoryControl::Unregister() {
  std::unique_lock g(cfcRegistry->phrPortal);
  if (!cfcRegistered) return S_FALSE;
  TzfFastStringListCS& factories = cfcRegistry->phrFactories;
  int32_t index = factories.IndexOf(rtl::GUIDToString(cfcClassID));
  if (index < 0 || factories.GetObject(index) != this) return E_UNEXPECTED;
  factories.Delete(index);
  cfcRegistered = false;
  return S_OK;
}

}  // namespace zf
