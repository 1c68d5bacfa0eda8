#include "index/zfseIndicesEngineKind.h"

#include "index/zfseIndicesEngineHandle.h"

#include "dictionary/zfsdTableDescriptor.h"
#include "index/zfsdKeyEngineBase.h"
#include "storage/zfsrFile.h"
#include "storage/zfsrRecordCompressionEngineBase.h"

namespace zf {

// ---- kind ----

TzfBaseIndicesEngine::TzfBaseIndicesEngine(TzfBaseIndicesDescriptor* aDescriptor, const TzfBlockAccessList& aFiles,
                                           TzfBaseRecordEngine* aRecordEngine)
    : TzfBaseSubEngine(aDescriptor ? aDescriptor->diID : 0,
                       !aFiles.empty() && aFiles[0] ? aFiles[0]->baFile->fiZofrinVersion : 0),
      biseDescriptor(aDescriptor),
      biseFiles(aFiles),
      biseRecordEngine(aRecordEngine) {}

TzfBlockAccess& TzfBaseIndicesEngine::GetFile(int32_t aFile) {
  if (aFile < 0 || aFile >= IndexFileCount() || !biseFiles[static_cast<size_t>(aFile)]) rtl::RaiseRangeError();
  return *biseFiles[static_cast<size_t>(aFile)];
}

const TzfIndicesEngineClass& TzfBaseIndicesEngine::ClassInfo() {
  static const TzfIndicesEngineClass info(u"TzfBaseIndicesEngine", &TzfBaseSubEngine::ClassInfo(),
                                          &zfFamilyList<TzfBaseIndicesEngine>, nullptr, nullptr,
                                          &TzfBaseIndicesEngine::CheckValidDescriptor);
  return info;
}

std::unique_ptr<TzfBaseIndicesEngine> TzfBaseIndicesEngine::CreateEngine(TzfBaseIndicesDescriptor* aDescriptor,
                                                                         const TzfBlockAccessList& aFiles,
                                                                         TzfBaseRecordEngine* aRecordEngine,
                                                                         TzfBaseTransaction* aTrans,
                                                                         bool aAddToExisting) {
  if (!aDescriptor) return nullptr;
  const auto& c =
      zfFindSubEngine<TzfIndicesEngineClass, EzfBaseIndicesEngineException>(ClassInfo(), aDescriptor->IndicesEngine);
  if (!c.Create) zfRaiseUnknownSubEngine<EzfBaseIndicesEngineException>(ClassInfo(), aDescriptor->IndicesEngine);
  return c.Create(aDescriptor, aFiles, aRecordEngine, aTrans, aAddToExisting);
}

std::unique_ptr<TzfBaseIndicesEngine> TzfBaseIndicesEngine::CreateEngine(TzfBaseTableDescriptor& aTable,
                                                                         const TzfBlockAccessList& aFiles,
                                                                         TzfBaseRecordEngine* aRecordEngine,
                                                                         TzfBaseTransaction* aTrans,
                                                                         bool aAddToExisting) {
  return CreateEngine(aTable.tdIndicesDescriptor.get(), aFiles, aRecordEngine, aTrans, aAddToExisting);
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
                                                     const TzfBlockAccessList& aFiles,
                                                     TzfBaseRecordEngine* aRecordEngine, TzfBaseTransaction* aTrans,
                                                     bool aAddToExisting)
    : TzfBaseIndicesEngine(aDescriptor, aFiles, aRecordEngine) {
  std::vector<TzfIndexFileAccess*> files;
  for (TzfBlockAccess* f : aFiles) {
    ZF_ASSERT(f != nullptr, "zfseIndicesEngineKind");
    ineFiles.push_back(std::make_unique<TzfBlockAccessIndexFile>(*f, aTrans, bseID, aDescriptor->bidHeaderSection));
    files.push_back(ineFiles.back().get());
  }
  std::vector<TzfSimpleIndicesEngine::TIndex> indexes;
  for (const auto& d : aDescriptor->IndexDescriptor) indexes.push_back(MakeIndex(*d));
  ineEngine = std::make_unique<TzfSimpleIndicesEngine>(std::move(files), std::move(indexes), aTrans != nullptr, aTrans);
  ineEngine->SetOwnerID(bseID);
  if (aRecordEngine) {
    ineRecords = std::make_unique<TzfRecordEngineRecordSource>(*aRecordEngine);
    ineRecords->SetTransaction(aTrans);
    ineEngine->SetRecordEngine(ineRecords.get());
  }
  if (aTrans && aAddToExisting) ineEngine->AddExistingRecords(0);
}

TzfSimpleIndicesEngine::TIndex TzfSimpleIndicesSubEngine::MakeIndex(TzfIndexDescriptor& aDescriptor) {
  if (aDescriptor.idFileNumber < 0 || size_t(aDescriptor.idFileNumber) >= ineFiles.size()) {
    throw EzfSimpleIndicesEngineException(zfErrInvalidDesc, u"Index %d names no file of the table [file %d]",
                                          {int64_t(aDescriptor.idNumber), int64_t(aDescriptor.idFileNumber)});
  }
  if (!aDescriptor.idKeyDescriptor)
    throw EzfSimpleIndicesEngineException(zfErrInvalidDesc, u"A key descriptor is required");
  TzfBlockAccessIndexFile& file = *ineFiles[size_t(aDescriptor.idFileNumber)];
  TzfIndexEngineParams params = TzfIndexEngineParams::FromDescriptor(aDescriptor);
  params.FileName = file.FileName();
  TzfSimpleIndicesEngine::TIndex x;
  x.Engine = TzfBaseIndexEngine::CreateEngine(aDescriptor.idIndexEngine, params,
                                              TzfBaseKeyEngine::CreateFor(*aDescriptor.idKeyDescriptor),
                                              file.UsableBlockSize());
  x.FileNumber = aDescriptor.idFileNumber;
  return x;
}

void TzfSimpleIndicesSubEngine::AddIndex(TzfBaseTransaction* aTrans, int32_t aIndex, bool aAddToExisting) {
  const auto count = static_cast<int32_t>(biseDescriptor->IndexDescriptor.size());
  if (aIndex != count - 1 || count != IndexEngineCount() + 1)
    throw EzfBaseIndicesEngineException(zfErrIndexNumberOutOfRange,
                                        u"Index number passed to routine is out of range [%d]",
                                        {static_cast<int64_t>(aIndex)});
  SetTransaction(aTrans);
  ineEngine->AddIndex(MakeIndex(*biseDescriptor->IndexDescriptor[static_cast<size_t>(aIndex)]), aAddToExisting);
}

void TzfSimpleIndicesSubEngine::RemoveIndex(TzfBaseTransaction* aTrans, int32_t aIndex) {
  const auto count = static_cast<int32_t>(biseDescriptor->IndexDescriptor.size());
  if (aIndex < 0 || aIndex >= IndexEngineCount() || IndexEngineCount() != count + 1)
    throw EzfBaseIndicesEngineException(zfErrIndexNumberOutOfRange,
                                        u"Index number passed to routine is out of range [%d]",
                                        {static_cast<int64_t>(aIndex)});
  SetTransaction(aTrans);
  ineEngine->RemoveIndex(aIndex);
}

std::unique_ptr<TzfBaseIndexHeaderAccess> TzfSimpleIndicesSubEngine::CreateIndexHeaderAccess(
    TzfBaseTransaction* aTrans, TzfBaseIndexEngine& aIndexEngine, bool aFileMarkDirty, bool aIndexMarkDirty,
    int32_t aFieldCount, int32_t aPartialLen) {
  SetTransaction(aTrans);
  return ineEngine->CreateIndexHeaderAccess(aIndexEngine, aFileMarkDirty, aIndexMarkDirty, aFieldCount, aPartialLen);
}

TzfSimpleIndicesSubEngine::~TzfSimpleIndicesSubEngine() = default;

const TzfIndicesEngineClass& TzfSimpleIndicesSubEngine::ClassInfo() {
  static const TzfIndicesEngineClass info(
      u"TzfSimpleIndicesEngine", &TzfBaseIndicesEngine::ClassInfo(), nullptr,
      [](TzfBaseIndicesDescriptor* d, const TzfBlockAccessList& f, TzfBaseRecordEngine* r, TzfBaseTransaction* t,
         bool aAddToExisting) -> std::unique_ptr<TzfBaseIndicesEngine> {
        return std::make_unique<TzfSimpleIndicesSubEngine>(d, f, r, t, aAddToExisting);
      },
      &TzfSimpleIndicesSubEngine::CheckValidEngineDescriptor);
  return info;
}

void TzfSimpleIndicesSubEngine::CheckValidEngineDescriptor(TzfBaseIndicesDescriptor* aDescriptor) {
  for (const auto& d : aDescriptor->IndexDescriptor) TzfBaseIndexEngine::CheckValidBaseFromDescriptor(*d);
}

void TzfSimpleIndicesSubEngine::SetTransaction(TzfBaseTransaction* aTrans) {
  for (auto& f : ineFiles) f->SetTransaction(aTrans);
  ineEngine->SetTransaction(aTrans);
  if (ineRecords) ineRecords->SetTransaction(aTrans);
}

namespace {
void Init() {
  zfRegisterSubEngineBase(TzfBaseIndicesEngine::ClassInfo(), &TzfBaseRecordCompressionEngine::ClassInfo());
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
                                             TzfBaseRecordEngine* aRecordEngine, TzfBaseTransaction* aTrans,
                                             bool aAddToExisting) {
  return PzfIndicesEngineHandle(
      TzfBaseIndicesEngine::CreateEngine(aTable, aFiles, aRecordEngine, aTrans, aAddToExisting).release());
}

void zfIndicesAddIndex(TzfBaseIndicesEngine& aEngine, TzfBaseTransaction* aTrans, int32_t aIndex,
                       bool aAddToExisting) {
  aEngine.AddIndex(aTrans, aIndex, aAddToExisting);
}

void zfIndicesRemoveIndex(TzfBaseIndicesEngine& aEngine, TzfBaseTransaction* aTrans, int32_t aIndex) {
  aEngine.RemoveIndex(aTrans, aIndex);
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

int32_t zfIndicesDeferKeys(TzfBaseIndicesEngine& aEngine, int64_t aRecords, int64_t aMaxBytes) {
  return aEngine.Indices().DeferKeys(aRecords, aMaxBytes);
}

void zfIndicesBuildDeferredKeys(TzfBaseIndicesEngine& aEngine, TzfBaseTransaction* aTrans) {
  aEngine.SetTransaction(aTrans);
  aEngine.Indices().BuildDeferredKeys();
}

void zfIndicesEndDeferral(TzfBaseIndicesEngine& aEngine) { aEngine.Indices().EndDeferral(); }

}  // namespace zf
