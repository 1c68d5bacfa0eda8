#include "client/zfdbStartup.h"

#include "client/zfdbConversion.h"
#include "server/zfsrServerStartup.h"

namespace zf {

namespace {

zf::rtl::TStartupList BuildList() {
  zf::rtl::TStartupList list;
  list.Add(zfdbConversionUnit());
  return list;
}

// The layer below is the server layer: starting it starts everything under it.
zf::rtl::TLayerStartup& Layer() {
  static zf::rtl::TLayerStartup layer(&BuildList, &zfStartServer, &zfStopServer);
  return layer;
}

}  // namespace

void zfStartClient() { Layer().Start(); }

void zfStopClient() { Layer().Stop(); }

}  // namespace zf
