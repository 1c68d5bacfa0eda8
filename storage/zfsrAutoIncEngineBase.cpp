#include "storage/zfsrAutoIncEngineBase.h"

#include "storage/zfsrFile.h"

namespace zf {

namespace {

int32_t FirstFileVersion(const TzfBlockAccessList& aFiles) {
  return zfSubEngineFile(aFiles, 0)->baFile->fiZofrinVersion;
}

}  // namespace

TzfBaseAutoIncEngine::TzfBaseAutoIncEngine(TzfBaseAutoIncDescriptor* aDescriptor, TzfBaseTransaction*,
                                           const TzfBlockAccessList& aFiles)
    : TzfBaseSubEngine(aDescriptor ? aDescriptor->diID : 0, FirstFileVersion(aFiles)),
      baieDataFile(zfSubEngineFile(aFiles, aDescriptor ? aDescriptor->baidFileNumber : 0)) {}

const TzfAutoIncEngineClass& TzfBaseAutoIncEngine::ClassInfo() {
  static const TzfAutoIncEngineClass info(u"TzfBaseAutoIncEngine", &TzfBaseSubEngine::ClassInfo(),
                                          &zfFamilyList<TzfBaseAutoIncEngine>,
                                          &TzfBaseAutoIncEngine::CheckValidDescriptor, nullptr);
  return info;
}

std::unique_ptr<TzfBaseAutoIncEngine> TzfBaseAutoIncEngine::CreateEngine(TzfBaseTableDescriptor& aTable,
                                                                         const TzfBlockAccessList& aFiles,
                                                                         TzfBaseTransaction* aTrans) {
  return CreateEngine(aTable.tdAutoIncDescriptor.get(), aFiles, aTrans);
}

std::unique_ptr<TzfBaseAutoIncEngine> TzfBaseAutoIncEngine::CreateEngine(TzfBaseAutoIncDescriptor* aDescriptor,
                                                                         const TzfBlockAccessList& aFiles,
                                                                         TzfBaseTransaction* aTrans) {
  if (!aDescriptor) return nullptr;
  const TzfAutoIncEngineClass& c =
      zfFindSubEngine<TzfAutoIncEngineClass, EzfBaseAutoIncEngineException>(ClassInfo(), aDescriptor->baidAutoIncEngine);
  if (!c.Create) zfRaiseUnknownSubEngine<EzfBaseAutoIncEngineException>(ClassInfo(), aDescriptor->baidAutoIncEngine);
  return c.Create(aDescriptor, aTrans, aFiles);
}

void TzfBaseAutoIncEngine::CheckValidDescriptor(TzfBaseTableDescriptor& aTable) {
  CheckValidFromDescriptor(aTable.tdAutoIncDescriptor.get());
}

void TzfBaseAutoIncEngine::CheckValidFromDescriptor(TzfBaseAutoIncDescriptor* aDescriptor) {
  if (!aDescriptor) return;
  const TzfAutoIncEngineClass& c =
      zfFindSubEngine<TzfAutoIncEngineClass, EzfBaseAutoIncEngineException>(ClassInfo(), aDescriptor->baidAutoIncEngine);
  if (c.CheckValidEngineDescriptor) c.CheckValidEngineDescriptor(aDescriptor);
}

namespace {
void Init() { zfRegisterSubEngineBase(TzfBaseAutoIncEngine::ClassInfo()); }
void Fini() { zfUnregisterSubEngineBase(TzfBaseAutoIncEngine::ClassInfo()); }
}  // namespace

rtl::TUnitInit& zfsrAutoIncEngineBaseUnit() {
  static rtl::TUnitInit unit("zfsrAutoIncEngineBase", &Init, &Fini);
  return unit;
}

}  // namespace zf
