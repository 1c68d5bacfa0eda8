#include "dictionary/zfsdStartup.h"


#include "dictionary/zfsdDataDictionaryFulltext.h"
#include "dictionary/zfsdDataDictionaryRefInt.h"
#include "dictionary/zfsdDefaultValueEngine.h"
#include "dictionary/zfsdDictionaryItem.h"
#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdFileDescriptor.h"
#include "dictionary/zfsdFmtBcd.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyFieldEngine.h"
#include "dictionary/zfsdLocaleDescriptor.h"
#include "dictionary/zfsdTableDescriptor.h"
#include "dictionary/zfsdValidationEngine.h"
#include "foundation/zfllStartup.h"

namespace zf {

namespace {

// Units in link order. Each unit declares `zf::rtl::TUnitInit& <unit>Unit()` in its header; a
// unit with descriptor classes registers them in its start and unregisters them in its stop.
zf::rtl::TStartupList BuildList() {
  zf::rtl::TStartupList list;
  list.Add(zfsdDictionaryItemUnit());
  list.Add(zfsdFmtBcdUnit());
  list.Add(zfsdFileDescriptorUnit());
  list.Add(zfsdLocaleDescriptorUnit());
  list.Add(zfsdFieldDescriptorUnit());
  list.Add(zfsdFieldsDescriptorUnit());
  list.Add(zfsdDefaultValueDescriptorUnit());
  list.Add(zfsdKeyDescriptorUnit());
  list.Add(zfsdIndexDescriptorUnit());
  list.Add(zfsdStorageDescriptorUnit());
  list.Add(zfsdValidationDescriptorUnit());
  list.Add(zfsdTableDescriptorUnit());
  list.Add(zfsdDataDictionaryRefIntUnit());
  list.Add(zfsdDataDictionaryFulltextUnit());
  list.Add(zfsdKeyFieldEngineUnit());
  list.Add(zfsdDefaultValueEngineUnit());
  list.Add(zfsdValidationEngineUnit());
  return list;
}

zf::rtl::TLayerStartup& Layer() {
  static zf::rtl::TLayerStartup layer(&BuildList, &zfStartFoundation, &zfStopFoundation);
  return layer;
}

}  // namespace

void zfStartDictionary() { Layer().Start(); }

void zfStopDictionary() { Layer().Stop(); }

}  // namespace zf
