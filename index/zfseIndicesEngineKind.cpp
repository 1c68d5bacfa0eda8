#include "index/zfseIndicesEngineKind.h"

#include "index/zfseIndicesEngineHandle.h"

#include "dictionary/zfsdTableDescriptor.h"
#include "index/zfsdKeyEngineBase.h"
#include "storage/zfsrFile.h"

namespace zf {

// ---- kind ----

TzfBaseIndicesEngine::TzfBaseIndicesEngine(TzfBaseIndicesDescriptor* aDescriptor, const TzfBlockAccessList& aFiles)
    : TzfBaseSubEngine(aDescriptor ? aDescriptor->diID : 0,
                       !aFiles.empty() && aFiles[0] ? aFiles[0]->baFile->fiZofrinVersion : 0),
      biseDescriptor(aDescriptor),
      biseFiles(aFiles) {}

const TzfIndicesEngineClass& TzfBaseIndicesEngine::ClassInfo() {
  static const TzfIndicesEngineClass info(u"TzfBaseIndicesEngine", &TzfBaseSubEngine::ClassInfo(),
                                          &zfFamilyList<TzfBaseIndicesEngine>, nullptr, nullptr,
                                          &TzfBaseIndicesEngine::CheckValidDescriptor);
  return info;
}

std::unique_ptr<TzfBaseIndicesEngine> TzfBaseIndicesEngine::CreateEngine(TzfBaseIndicesDescriptor* aDescriptor,
                                                                         const TzfBlockAccessList& aFiles,
                                                                         TzfBaseTransaction* aTrans,
                                                                         bool aAddToExisting) {
  if (!aDescriptor) return nullptr;
  const auto& c =
      zfFindSubEngine<TzfIndicesEngineClass, EzfBaseIndicesEngineException>(ClassInfo(), aDescriptor->IndicesEngine);
  if (!c.Create) zfRaiseUnknownSubEngine<EzfBaseIndicesEngineException>(ClassInfo(), aDescriptor->IndicesEngine);
  return c.Create(aDescriptor, aFiles, aTrans, aAddToExisting);
}

std::unique_ptr<TzfBaseIndicesEngine> TzfBaseIndicesEngine::CreateEngine(TzfBaseTableDescriptor& aTable,
                                                                         const TzfBlockAccessList& aFiles,
                                                                         TzfBaseTransaction* aTrans,
                                                                         bool aAddToExisting) {
  return CreateEngine(aTable.tdIndicesDescriptor.get(), aFiles, aTrans, aAddToExisting);
}

void TzfBaseIndicesEngine::CheckValidDescriptor(TzfBaseTableDescriptor& aTable) {
  CheckValidBaseFromDescriptor(aTable.tdIndicesDescriptor.get());
}

void TzfBaseIndicesEngine::CheckValidBaseFromDescriptor(TzfBaseIndicesDescriptor* aDescriptor) {
  if (!aDescriptor) return;
  const auto& c =
      zfFindSubEngine<TzfIndicesEngineClass, EzfBaseIndicesEngineException>(ClassInfo(), aDescriptor->IndicesEngine);
  if (c.CheckValidEngineDescriptor) c.CheckValidEngineDescriptor(aDescriptor);
}

// ---- simple ----

TzfSimpleIndicesSubEngine::TzfSimpleIndicesSubEngine(TzfBaseIndicesDescriptor* aDescriptor,
                                                     const TzfBlockAccessList& aFiles, TzfBaseTransaction* aTrans)
    : TzfBaseIndicesEngine(aDescriptor, aFiles) {
  std::vector<TzfIndexFileAccess*> files;
  for (TzfBlockAccess* f : aFiles) {
    ZF_ASSERT(f != nullptr, "zfseIndicesEngineKind");
    ineFiles.push_back(std::make_unique<TzfBlockAccessIndexFile>(*f, aTrans, bseID, aDescriptor->bidHeaderSection));
    files.push_back(ineFiles.back().get());
  }
  std::vector<TzfSimpleIndicesEngine::TIndex> indexes;
  for (const auto& d : aDescriptor->IndexDescriptor) {
    if (d->idFileNumber < 0 || size_t(d->idFileNumber) >= ineFiles.size()) {
      throw EzfSimpleIndicesEngineException(zfErrInvalidDesc, u"Index %d names no file of the table [file %d]",
                                            {int64_t(d->idNumber), int64_t(d->idFileNumber)});
    }
    if (!d->idKeyDescriptor) throw EzfSimpleIndicesEngineException(zfErrInvalidDesc, u"A key descriptor is required");
    TzfBlockAccessIndexFile& file = *ineFiles[size_t(d->idFileNumber)];
    TzfIndexEngineParams params = TzfIndexEngineParams::FromDescriptor(*d);
    params.FileName = file.FileName();
    TzfSimpleIndicesEngine::TIndex x;
    x.Engine = TzfBaseIndexEngine::CreateEngine(d->idIndexEngine, params,
                                                TzfBaseKeyEngine::CreateFor(*d->idKeyDescriptor),
                                                file.UsableBlockSize());
    x.FileNumber = d->idFileNumber;
    indexes.push_back(std::move(x));
  }
  ineEngine = std::make_unique<TzfSimpleIndicesEngine>(std::move(files), std::move(indexes), aTrans != nullptr, aTrans);
}

TzfSimpleIndicesSubEngine::~TzfSimpleIndicesSubEngine() = default;

const TzfIndicesEngineClass& TzfSimpleIndicesSubEngine::ClassInfo() {
  static const TzfIndicesEngineClass info(
      u"TzfSimpleIndicesEngine", &TzfBaseIndicesEngine::ClassInfo(), nullptr,
      [](TzfBaseIndicesDescriptor* d, const TzfBlockAccessList& f, TzfBaseTransaction* t,
         bool) -> std::unique_ptr<TzfBaseIndicesEngine> { return std::make_unique<TzfSimpleIndicesSubEngine>(d, f, t); },
      &TzfSimpleIndicesSubEngine::CheckValidEngineDescriptor);
  return info;
}

void TzfSimpleIndicesSubEngine::CheckValidEngineDescriptor(TzfBaseIndicesDescriptor* aDescriptor) {
  for (const auto& d : aDescriptor->IndexDescriptor) {
    if (!TzfBaseSubEngine::FindEngineClass(TzfBaseIndexEngine::KindInfo(), d->idIndexEngine))
      zfRaiseUnknownSubEngine<EzfBaseIndexEngineException>(TzfBaseIndexEngine::KindInfo(), d->idIndexEngine);
    if (d->idKeyDescriptor) TzfBaseKeyEngine::CheckValidBaseFromDescriptor(*d->idKeyDescriptor);
  }
}

void TzfSimpleIndicesSubEngine::SetTransaction(TzfBaseTransaction* aTrans) {
  for (auto& f : ineFiles) f->SetTransaction(aTrans);
  ineEngine->SetTransaction(aTrans);
}

namespace {
void Init() {
  zfRegisterSubEngineBase(TzfBaseIndicesEngine::ClassInfo());
  TzfBaseSubEngine::RegisterEngine(TzfSimpleIndicesSubEngine::ClassInfo(), zfDefaultEngineName);
}
void Fini() {
  TzfBaseSubEngine::UnregisterEngine(TzfSimpleIndicesSubEngine::ClassInfo());
  zfUnregisterSubEngineBase(TzfBaseIndicesEngine::ClassInfo());
}
}  // namespace

rtl::TUnitInit& zfseIndicesEngineKindUnit() {
  static rtl::TUnitInit unit("zfseIndicesEngineKind", &Init, &Fini);
  return unit;
}

}  // namespace zf

// ---- handle ----

namespace zf {

void TzfIndicesEngineDeleter::operator()(TzfBaseIndicesEngine* aEngine) const { delete aEngine; }

PzfIndicesEngineHandle zfCreateIndicesEngine(TzfBaseTableDescriptor& aTable, const TzfBlockAccessList& aFiles,
                                             TzfBaseTransaction* aTrans) {
  return PzfIndicesEngineHandle(TzfBaseIndicesEngine::CreateEngine(aTable, aFiles, aTrans).release());
}

int32_t zfIndicesEngineIndexCount(TzfBaseIndicesEngine& aEngine) { return aEngine.Indices().IndexEngineCount(); }

uint32_t zfIndicesInsertKeys(TzfBaseIndicesEngine& aEngine, TzfBaseTransaction* aTrans, int64_t aRefNr,
                             const uint8_t* aRecord) {
  aEngine.SetTransaction(aTrans);
  return aEngine.Indices().InsertKeys(aRefNr, aRecord, nullptr);
}

uint32_t zfIndicesUpdateKeys(TzfBaseIndicesEngine& aEngine, TzfBaseTransaction* aTrans, int64_t aRefNr,
                             const uint8_t* aOldRecord, const uint8_t* aNewRecord) {
  aEngine.SetTransaction(aTrans);
  return aEngine.Indices().UpdateKeys(aRefNr, aOldRecord, aRefNr, aNewRecord, nullptr);
}

uint32_t zfIndicesDeleteKeys(TzfBaseIndicesEngine& aEngine, TzfBaseTransaction* aTrans, int64_t aRefNr,
                             const uint8_t* aRecord) {
  aEngine.SetTransaction(aTrans);
  return aEngine.Indices().DeleteKeys(aRefNr, aRecord, nullptr);
}

}  // namespace zf
