#include "foundation/zfllStartup.h"


#include "foundation/zfExceptionHook.h"
#include "foundation/zflgEventLog.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "foundation/zfllExceptionData.h"
#include "foundation/zfllFastCpuDetect.h"
#include "foundation/zfllFastFillChar.h"
#include "foundation/zfllFastMove.h"
#include "foundation/zfllList.h"
#include "foundation/zfllLockedFuncs.h"
#include "foundation/zfllMemoryManager.h"
#include "foundation/zfllSync.h"
#include "foundation/zfllSyncPortal.h"
#include "foundation/zfllTypes.h"
#include "foundation/zfllUtils.h"
#include "foundation/zfllWideString.h"
#include "foundation/zfrbRegistries.h"
#include "platform/rtl/rtlUnits.h"

namespace zf {

namespace {

// Units in link order. Each unit declares `zf::rtl::TUnitInit& <unit>Unit()` in its header.
zf::rtl::TStartupList BuildList() {
  zf::rtl::TStartupList list;
  list.Add(zfllTypesUnit());
  list.Add(zfllLockedFuncsUnit());
  list.Add(zfllFastCpuDetectUnit());
  list.Add(zfllFastFillCharUnit());
  list.Add(zfllFastMoveUnit());
  list.Add(zfllMemoryManagerUnit());
  list.Add(zfllErrorsUnit());
  list.Add(zfllSyncPortalUnit());
  list.Add(zfllSyncUnit());
  list.Add(zfllMainThreadUnit());
  list.Add(zfllListUnit());
  list.Add(zfllExceptionUnit());
  list.Add(zfllExceptionDataUnit());
  list.Add(zfllUtilsUnit());
  list.Add(zfExceptionHookUnit());
  list.Add(zfllWideStringUnit());
  list.Add(zfrbRegistriesUnit());
  list.Add(zflgEventLogUnit());
  return list;
}

zf::rtl::TLayerStartup& Layer() {
  static zf::rtl::TLayerStartup layer(&BuildList, nullptr, nullptr);
  return layer;
}

}  // namespace

void zfStartFoundation() { Layer().Start(); }

void zfStopFoundation() { Layer().Stop(); }

}  // namespace zf
