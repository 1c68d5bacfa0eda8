// The process-wide class-factory registry, created on first request and released when this unit
// stops.
#pragma once
#include "foundation/zfrbClassFactoryRegistry.h"
#include "platform/rtl/rtlUnits.h"

namespace zf {

// The process's registry; concurrent first requests agree on one instance.
void zfGetClassFactoryRegistry(RefPtr<IzfClassFactoryRegistry>& aRegistry);

rtl::TUnitInit& zfrbRegistriesUnit();

}  // namespace zf
