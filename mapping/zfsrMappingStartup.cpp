#include "mapping/zfsrMappingStartup.h"

#include "index/zfsrIndexStartup.h"
#include "mapping/zfsdFieldMapper.h"
#include "mapping/zfsdFieldMapperBase.h"
#include "mapping/zfsdFieldMapperDescriptor.h"
#include "mapping/zfsdCharMapper.h"
#include "mapping/zfsdRecordMapperDescriptor.h"
#include "mapping/zfsdStringMapper.h"
#include "mapping/zfsdTextSourceMapper.h"
#include "mapping/zfsdTableMapperDescriptor.h"
#include "mapping/zfsdValueMapperCoverage.h"
#include "mapping/zfsrFieldMapper.h"
#include "mapping/zfsrFieldMapperEngine.h"
#include "mapping/zfsrFieldMapperEngineAutoInc.h"
#include "mapping/zfsrRecordMapperEngine.h"

namespace zf {

namespace {

// Units in link order: the registry before the mappers that fill it (the value mapper families,
// then the same-layout copy in the diagonal cells they leave empty, then the BLOB side), the
// descriptors before the engines built from them.
zf::rtl::TStartupList BuildList() {
  zf::rtl::TStartupList list;
  list.Add(zfsdFieldMapperBaseUnit());
  list.Add(zfsdValueMapperCoverageUnit());
  list.Add(zfsdStringMapperUnit());
  list.Add(zfsdCharMapperUnit());
  list.Add(zfsdTextSourceMapperUnit());
  list.Add(zfsdFieldMapperUnit());
  list.Add(zfsrFieldMapperUnit());
  list.Add(zfsdFieldMapperDescriptorUnit());
  list.Add(zfsdRecordMapperDescriptorUnit());
  list.Add(zfsdTableMapperDescriptorUnit());
  list.Add(zfsrFieldMapperEngineUnit());
  list.Add(zfsrFieldMapperEngineAutoIncUnit());
  list.Add(zfsrRecordMapperEngineUnit());
  return list;
}

// The layer below is the index layer: starting it starts everything under it.
zf::rtl::TLayerStartup& Layer() {
  static zf::rtl::TLayerStartup layer(&BuildList, &zfStartIndex, &zfStopIndex);
  return layer;
}

}  // namespace

void zfStartMapping() { Layer().Start(); }

void zfStopMapping() { Layer().Stop(); }

}  // namespace zf
