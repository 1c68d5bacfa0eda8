#include "foundation/zfrbRegistries.h"

#include <atomic>

namespace zf {

namespace {

// Holds one reference of its own on the registry it points to.
std::atomic<IzfClassFactoryRegistry*> gRegistry{nullptr};

void RegistriesInit() {}

void RegistriesFini() {
  if (IzfClassFactoryRegistry* r = gRegistry.exchange(nullptr, std::memory_order_acq_rel)) r->_Release();
}

}  // namespace

void zfGetClassFactoryRegistry(RefPtr<IzfClassFactoryRegistry>& aRegistry) {
  IzfClassFactoryRegistry* current = gRegistry.load(std::memory_order_acquire);
  if (!current) {
    RefPtr<IzfClassFactoryRegistry> fresh = RefPtr<TzfClassFactoryRegistry>::Create();
    IzfClassFactoryRegistry* expected = nullptr;
    if (gRegistry.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel)) {
      current = fresh.detach();  // the process-wide variable keeps this reference
    } else {
      current = expected;  // another thread won; ours goes with `fresh`
    }
  }
  aRegistry = current;
}

rtl::TUnitInit& zfrbRegistriesUnit() {
  static rtl::TUnitInit unit("zfrbRegistries", &RegistriesInit, &RegistriesFini);
  return unit;
}

}  // namespace zf
