#include "storage/zfsrStreamEngineBase.h"

#include "dictionary/zfsdDataDictionary.h"
#include "storage/zfsrFile.h"

namespace zf {

TzfBaseStreamEngine::TzfBaseStreamEngine(TzfBaseStreamDescriptor* aDescriptor, TzfBaseTransaction*,
                                         TzfBlockAccess* aDataFile)
    : TzfBaseSubEngine(aDescriptor ? aDescriptor->diID : 0, aDataFile->baFile->fiZofrinVersion),
      bseDataFile(aDataFile) {}

const TzfStreamEngineClass& TzfBaseStreamEngine::ClassInfo() {
  static const TzfStreamEngineClass info(u"TzfBaseStreamEngine", &TzfBaseSubEngine::ClassInfo(),
                                         &zfFamilyList<TzfBaseStreamEngine>, &TzfBaseStreamEngine::CheckValidDescriptor,
                                         nullptr);
  return info;
}

std::unique_ptr<TzfBaseStreamEngine> TzfBaseStreamEngine::CreateEngine(TzfBaseStreamDescriptor* aDescriptor,
                                                                       TzfBlockAccess* aDataFile,
                                                                       TzfBaseTransaction* aTrans) {
  const TzfStreamEngineClass& c = zfFindSubEngine<TzfStreamEngineClass, EzfStreamEngineException>(
      ClassInfo(), aDataFile->baFile->fiStreamEngineName);
  if (!c.Create) zfRaiseUnknownSubEngine<EzfStreamEngineException>(ClassInfo(), aDataFile->baFile->fiStreamEngineName);
  return c.Create(aDescriptor, aTrans, aDataFile);
}

std::unique_ptr<TzfBaseStreamEngine> TzfBaseStreamEngine::CreateEngine(TzfDataDictionary& aDictionary,
                                                                       TzfBlockAccess* aDataFile,
                                                                       TzfBaseTransaction* aTrans) {
  return CreateEngine(aDictionary.ddStreamDescriptor.get(), aDataFile, aTrans);
}

void TzfBaseStreamEngine::CheckValidDescriptor(TzfBaseTableDescriptor& aTable) {
  if (auto* dict = dynamic_cast<TzfDataDictionary*>(&aTable)) CheckValidFromDescriptor(dict->ddStreamDescriptor.get());
}

void TzfBaseStreamEngine::CheckValidFromDescriptor(TzfBaseStreamDescriptor* aDescriptor) {
  if (!aDescriptor) return;
  const TzfStreamEngineClass& c =
      zfFindSubEngine<TzfStreamEngineClass, EzfStreamEngineException>(ClassInfo(), aDescriptor->bsdStreamEngine);
  if (c.CheckValidEngineDescriptor) c.CheckValidEngineDescriptor(aDescriptor);
}

void TzfBaseStreamEngine::Initialize(TzfBaseStreamDescriptor* aDescriptor) {
  bseID = aDescriptor ? aDescriptor->diID : 0;
}

void TzfBaseStreamEngine::Initialize(TzfDataDictionary& aDictionary) {
  Initialize(aDictionary.ddStreamDescriptor.get());
}

namespace {
void Init() { zfRegisterSubEngineBase(TzfBaseStreamEngine::ClassInfo()); }
void Fini() { zfUnregisterSubEngineBase(TzfBaseStreamEngine::ClassInfo()); }
}  // namespace

rtl::TUnitInit& zfsrStreamEngineBaseUnit() {
  static rtl::TUnitInit unit("zfsrStreamEngineBase", &Init, &Fini);
  return unit;
}

}  // namespace zf
