#include "client/zfdbStartup.h"

#include "client/zfdbConversion.h"
#include "mapping/zfsrMappingStartup.h"

namespace zf {

namespace {

zf::rtl::TStartupList BuildList() {
  zf::rtl::TStartupList list;
  list.Add(zfdbConversionUnit());
  return list;
}

// The server layer has no start-up list yet: the mapping layer's starts everything under it.
zf::rtl::TLayerStartup& Layer() {
  static zf::rtl::TLayerStartup layer(&BuildList, &zfStartMapping, &zfStopMapping);
  return layer;
}

}  // namespace

void zfStartClient() { Layer().Start(); }

void zfStopClient() { Layer().Stop(); }

}  // namespace zf
