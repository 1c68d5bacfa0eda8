#include "index/zfsrIndexStartup.h"

#include "index/zfsdFilterEngineBase.h"
#include "index/zfsdFilterEngineCallback.h"
#include "index/zfsdFilterEngineHub.h"
#include "index/zfsdFilterEngineSQL.h"
#include "index/zfsdFilterEngineSimpleExpression.h"
#include "index/zfsdFilterFactories.h"
#include "index/zfsdKeyEngineBase.h"
#include "index/zfsdKeyEngineComp.h"
#include "index/zfsdKeyEngineRef.h"
#include "index/zfsdKeyEngineToken.h"
#include "index/zfseFulltextTokenIndex.h"
#include "index/zfsdKeyFieldEngineBase.h"
#include "index/zfseIndexEngineStaticKeyBstarTree.h"
#include "index/zfseIndicesEngineKind.h"
#include "storage/zfsrStartup.h"

namespace zf {

namespace {

// Units in link order.
rtl::TStartupList BuildList() {
  rtl::TStartupList list;
  list.Add(zfsdFilterEngineBaseUnit());
  list.Add(zfsdFilterEngineCallbackUnit());
  list.Add(zfsdFilterEngineSimpleExpressionUnit());
  list.Add(zfsdFilterEngineSQLUnit());
  list.Add(zfsdFilterEngineHubUnit());
  list.Add(zfsdFilterFactoriesUnit());
  list.Add(zfsdKeyFieldEngineBaseUnit());
  list.Add(zfsdKeyEngineBaseUnit());
  list.Add(zfsdKeyEngineRefUnit());
  list.Add(zfsdKeyEngineCompUnit());
  list.Add(zfsdKeyEngineTokenUnit());
  list.Add(zfseIndexEngineStaticKeyBstarTreeUnit());
  list.Add(zfseIndicesEngineKindUnit());
  list.Add(zfsrFulltextEngineBaseUnit());
  list.Add(zfseFulltextEngineTableUnit());
  list.Add(zfseFulltextEngineCursorUnit());
  list.Add(zfseFulltextTokenIndexUnit());
  return list;
}

rtl::TLayerStartup& Layer() {
  static rtl::TLayerStartup layer(&BuildList, &zfStartStorage, &zfStopStorage);
  return layer;
}

}  // namespace

void zfStartIndex() { Layer().Start(); }

void zfStopIndex() { Layer().Stop(); }

}  // namespace zf
