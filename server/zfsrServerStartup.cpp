#include "server/zfsrServerStartup.h"

#include "mapping/zfsrMappingStartup.h"
#include "platform/rtl/rtlUnits.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerSession.h"
#include "server/zfseRefIntEngine.h"
#include "server/zfseSortEngineMerge.h"


namespace zf {

namespace {

rtl::TUnitInit& zfsrServerSessionUnit() {
  static rtl::TUnitInit unit("zfsrServerSession", &zfRegisterServerSession, &zfUnregisterServerSession);
  return unit;
}

// Units in link order.
zf::rtl::TStartupList BuildList() {
  zf::rtl::TStartupList list;
  list.Add(zfsrServerEngineComponentUnit());
  list.Add(zfsrServerSessionUnit());
  list.Add(zfseSortEngineMergeUnit());
  list.Add(zfseRefIntEngineUnit());

  return list;
}

zf::rtl::TLayerStartup& Layer() {
  static zf::rtl::TLayerStartup layer(&BuildList, &zfStartMapping, &zfStopMapping);
  return layer;
}

}  // namespace

void zfStartServer() { Layer().Start(); }

void zfStopServer() { Layer().Stop(); }

}  // namespace zf
