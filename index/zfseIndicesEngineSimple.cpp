#include "index/zfseIndicesEngineSimple.h"

#include <algorithm>
#include <cstring>

#include "foundation/zfllErrors.h"
#include "storage/zfsrTransaction.h"

namespace zf {

namespace {
constexpr const char* kUnit = "zfseIndicesEngineSimple";

[[noreturn]] void RaiseHeaderCorrupt() {
  throw EzfSimpleIndicesEngineException(zfErrHeaderCorrupt, u"Corrupt table/index header.");
}
[[noreturn]] void RaiseIndexNumber(int32_t aIndex) {
  throw EzfBaseIndicesEngineException(zfErrIndexNumberOutOfRange,
                                      u"Index number passed to routine is out of range [%d]",
                                      {static_cast<int64_t>(aIndex)});
}

// The file's index header block, checked: signature, own number, kind 0.
uint8_t* ReadHeaderBlock(TzfIndexNodeStore& aBlocks, uint32_t aBlock, bool aForModify) {
  if (aBlocks.UsableBlockSize() < zfIhOffHeader + zfIhSize || !aBlocks.ValidBlock(aBlock)) RaiseHeaderCorrupt();
  uint8_t* b = aBlocks.GetBlock(aBlock, aForModify);
  if (std::memcmp(b, zfIndexBlockSignature, 4) != 0 || zfGetLE32(b + zfIxOffBlockNumber) != aBlock ||
      b[zfIxOffKind] != zfIxKindHeader) {
    aBlocks.ReleaseBlock(aBlock, b);
    RaiseHeaderCorrupt();
  }
  return b;
}

// Holds the header block for the length of one access.
class THeaderHold {
 public:
  THeaderHold(TzfIndexNodeStore& aBlocks, uint32_t aBlock, bool aForModify)
      : FBlocks(aBlocks), FBlock(aBlock), FData(ReadHeaderBlock(aBlocks, aBlock, aForModify)) {}
  ~THeaderHold() { FBlocks.ReleaseBlock(FBlock, FData); }
  THeaderHold(const THeaderHold&) = delete;
  THeaderHold& operator=(const THeaderHold&) = delete;
  uint8_t* Cell(uint32_t aArray, uint32_t aIndex, uint32_t aWidth) const {
    return FData + zfIhOffHeader + aArray + aIndex * aWidth;
  }

 private:
  TzfIndexNodeStore& FBlocks;
  uint32_t FBlock;
  uint8_t* FData;
};
}  // namespace

// ---- Index files and header accesses ----

std::unique_ptr<TzfBaseFileHeaderAccess> TzfIndexFileAccess::FileHeaderAccess(bool) { return nullptr; }

TzfSimpleIndicesHeaderAccess::TzfSimpleIndicesHeaderAccess(TzfIndexFileAccess& aFile, TzfBaseTransaction* aTrans,
                                                           TzfBaseIndexEngine& aIndex, int32_t aID,
                                                           bool aFileMarkDirty, bool aIndexMarkDirty)
    : TzfBaseIndexHeaderAccess(aTrans, aIndex, aID, aFileMarkDirty, aIndexMarkDirty), haFile(aFile) {
  if (aIndex.bieIndexNumber < 0 || aIndex.bieIndexNumber >= static_cast<int32_t>(zfIhMaxIndexes))
    rtl::RaiseRangeError();
  if (!aFile.ReadHeaderSection(haInxBlockNumber) || haInxBlockNumber == zfIndexNoBlock) RaiseHeaderCorrupt();
}

TzfSimpleIndicesHeaderAccess::~TzfSimpleIndicesHeaderAccess() {
  if (haInxBlock) haFile.Blocks().ReleaseBlock(haInxBlockNumber, haInxBlock);
}

uint8_t* TzfSimpleIndicesHeaderAccess::IndexHeaderBlock() {
  if (!haInxBlock) haInxBlock = ReadHeaderBlock(haFile.Blocks(), haInxBlockNumber, bhaIndexMarkDirty);
  return haInxBlock;
}

uint8_t* TzfSimpleIndicesHeaderAccess::Cell(uint32_t aArray) {
  return IndexHeaderBlock() + zfIhOffHeader + aArray + static_cast<uint32_t>(bhaIndex.bieIndexNumber) * 4;
}

uint32_t TzfSimpleIndicesHeaderAccess::GetRootNode() { return zfGetLE32(Cell(zfIhRoot)); }
uint32_t TzfSimpleIndicesHeaderAccess::GetNodeCount() { return zfGetLE32(Cell(zfIhPageCount)); }
uint32_t TzfSimpleIndicesHeaderAccess::GetStoredKeyCount() { return zfGetLE32(Cell(zfIhKeyCount)); }
uint64_t TzfSimpleIndicesHeaderAccess::GetHeaderLSN() { return zfGetLE64(IndexHeaderBlock() + zfIxOffLSN); }

void TzfSimpleIndicesHeaderAccess::SetRootNode(uint32_t aBlock) {
  CheckWritable();
  zfPutLE32(Cell(zfIhRoot), aBlock);
}
void TzfSimpleIndicesHeaderAccess::SetNodeCount(uint32_t aCount) {
  CheckWritable();
  zfPutLE32(Cell(zfIhPageCount), aCount);
}
void TzfSimpleIndicesHeaderAccess::SetStoredKeyCount(uint32_t aCount) {
  CheckWritable();
  zfPutLE32(Cell(zfIhKeyCount), aCount);
}

std::unique_ptr<TzfBaseFileHeaderAccess> TzfSimpleIndicesHeaderAccess::MakeFileHeaderAccess() {
  return haFile.FileHeaderAccess(bhaFileMarkDirty);
}

// ---- Node store of one index ----

TzfIndexHeaderNodeStore::TzfIndexHeaderNodeStore(TzfIndexFileAccess& aFile, int32_t aIndexNumber)
    : FBlocks(aFile.Blocks()), FIndex(static_cast<uint32_t>(aIndexNumber)) {
  if (aIndexNumber < 0 || aIndexNumber >= static_cast<int32_t>(zfIhMaxIndexes)) rtl::RaiseRangeError();
  if (!aFile.ReadHeaderSection(FHeader) || FHeader == zfIndexNoBlock) RaiseHeaderCorrupt();
}

uint8_t* TzfIndexHeaderNodeStore::Held(bool aForModify) {
  if (FHeld && (FHeldForModify || !aForModify)) return FHeld;
  Unhold();
  FHeld = ReadHeaderBlock(FBlocks, FHeader, aForModify);
  FHeldForModify = aForModify;
  return FHeld;
}

void TzfIndexHeaderNodeStore::Unhold() noexcept {
  if (!FHeld) return;
  uint8_t* d = FHeld;
  FHeld = nullptr;
  try {
    FBlocks.ReleaseBlock(FHeader, d);
  } catch (...) {
  }
}

TzfIndexHeaderNodeStore::TScope::~TScope() {
  if (--FStore.FScopes == 0) FStore.Unhold();
}

uint32_t TzfIndexHeaderNodeStore::Get32(uint32_t aArray) {
  if (FScopes > 0) return zfGetLE32(Held(false) + zfIhOffHeader + aArray + FIndex * 4);
  THeaderHold h(FBlocks, FHeader, false);
  return zfGetLE32(h.Cell(aArray, FIndex, 4));
}

void TzfIndexHeaderNodeStore::Set32(uint32_t aArray, uint32_t aValue) {
  if (FScopes > 0) return zfPutLE32(Held(true) + zfIhOffHeader + aArray + FIndex * 4, aValue);
  THeaderHold h(FBlocks, FHeader, true);
  zfPutLE32(h.Cell(aArray, FIndex, 4), aValue);
}

// ---- Indices engine ----

TzfSimpleIndicesEngine::TzfSimpleIndicesEngine(std::vector<TzfIndexFileAccess*> aFiles, std::vector<TIndex> aIndexes,
                                               bool aCreate, TzfBaseTransaction* aTrans)
    : biseFiles(std::move(aFiles)), biseTrans(aTrans) {
  if (aCreate)
    for (TzfIndexFileAccess* f : biseFiles) f->WriteHeaderSection(zfIndexNoBlock);
  for (TIndex& i : aIndexes) {
    const int32_t n = IndexEngineCount();
    if (!i.Engine || i.Engine->bieIndexNumber != n || i.FileNumber < 0 ||
        i.FileNumber >= static_cast<int32_t>(biseFiles.size()) || n >= static_cast<int32_t>(zfIhMaxIndexes))
      rtl::AssertionFailure(kUnit, __LINE__);
    if (i.Engine->NLSVersionChanged()) biseNLSVersionChanged = true;
    i.Engine->SetRecordEngine(biseRecordEngine);
    biseIndices.push_back(std::move(i));
    if (aCreate)
      IndexAdded(n);
    else
      VerifyIndexHeader(n);
  }
  AllocateKeyBuffers();
}

TzfSimpleIndicesEngine::~TzfSimpleIndicesEngine() {
  biseStores.clear();
  while (!biseIndices.empty()) biseIndices.pop_back();
}

TzfBaseIndexEngine& TzfSimpleIndicesEngine::GetIndexEngine(int32_t aIndex) {
  if (aIndex < 0 || aIndex >= IndexEngineCount()) rtl::RaiseRangeError();
  return *biseIndices[static_cast<size_t>(aIndex)].Engine;
}

void TzfSimpleIndicesEngine::SetRecordEngine(TzfIndexRecordSource* aRecords) {
  biseRecordEngine = aRecords;
  for (TIndex& i : biseIndices) i.Engine->SetRecordEngine(aRecords);
}

std::unique_ptr<TzfBaseIndexHeaderAccess> TzfSimpleIndicesEngine::CreateIndexHeaderAccess(
    TzfBaseIndexEngine& aIndexEngine, bool aFileMarkDirty, bool aIndexMarkDirty, int32_t aFieldCount,
    int32_t aPartialLen) {
  const int32_t n = aIndexEngine.bieIndexNumber;
  if (n < 0 || n >= IndexEngineCount() || biseIndices[static_cast<size_t>(n)].Engine.get() != &aIndexEngine)
    rtl::AssertionFailure(kUnit, __LINE__);
  auto a = std::make_unique<TzfSimpleIndicesHeaderAccess>(
      *biseFiles[static_cast<size_t>(biseIndices[static_cast<size_t>(n)].FileNumber)], biseTrans, aIndexEngine, biseID,
      aFileMarkDirty, aIndexMarkDirty);
  a->SetCompareDate(aFieldCount, aPartialLen);
  return a;
}

TzfIndexNodeStore& TzfSimpleIndicesEngine::Store(int32_t aIndex) {
  if (aIndex < 0 || aIndex >= IndexEngineCount()) rtl::RaiseRangeError();
  auto& s = biseStores[static_cast<size_t>(aIndex)];
  if (!s)
    s = std::make_unique<TzfIndexHeaderNodeStore>(
        *biseFiles[static_cast<size_t>(biseIndices[static_cast<size_t>(aIndex)].FileNumber)], aIndex);
  return *s;
}

bool TzfSimpleIndicesEngine::KeyInsert(int32_t aIndex, const uint8_t* aKey, int64_t aRefNr, TzfBaseIndexPath* aPath) {
  auto& store = static_cast<TzfIndexHeaderNodeStore&>(Store(aIndex));
  TzfIndexHeaderNodeStore::TScope scope(store);
  return biseIndices[static_cast<size_t>(aIndex)].Engine->InsertKey(store, aKey, aRefNr, aPath);
}

bool TzfSimpleIndicesEngine::KeyDelete(int32_t aIndex, const uint8_t* aKey, int64_t aRefNr, TzfBaseIndexPath* aPath) {
  auto& store = static_cast<TzfIndexHeaderNodeStore&>(Store(aIndex));
  TzfIndexHeaderNodeStore::TScope scope(store);
  return biseIndices[static_cast<size_t>(aIndex)].Engine->DeleteKey(store, aKey, aRefNr, aPath);
}

void TzfSimpleIndicesEngine::AllocateKeyBuffers() {
  const size_t n = biseIndices.size();
  biseNewKeys.assign(n, {});
  biseOldKeys.assign(n, {});
  for (size_t i = 0; i < n; ++i) {
    biseNewKeys[i].assign(biseIndices[i].Engine->bieKeyEngine->bkeKeyLength, 0);
    biseOldKeys[i].assign(biseIndices[i].Engine->bieKeyEngine->bkeKeyLength, 0);
  }
  biseNewKeysValid.assign(n, false);
  biseOldKeysValid.assign(n, false);
  biseComp.assign(n, 0);
  biseStores.clear();
  biseStores.resize(n);
}

void TzfSimpleIndicesEngine::MarkCorrupted() {
  biseMarkedCorrupted = true;
  if (biseTrans) biseTrans->MarkCorrupted();
}

void TzfSimpleIndicesEngine::EnsureIndexHeaderBlock(TzfIndexFileAccess& aFile) {
  uint32_t block = zfIndexNoBlock;
  if (aFile.ReadHeaderSection(block) && block != zfIndexNoBlock) return;
  TzfIndexNodeStore& blocks = aFile.Blocks();
  if (blocks.UsableBlockSize() < zfIhOffHeader + zfIhSize) RaiseHeaderCorrupt();
  uint8_t* b = blocks.NewBlock(block);
  std::memcpy(b + zfIxOffSignature, zfIndexBlockSignature, 4);
  zfPutLE32(b + zfIxOffBlockNumber, block);
  b[zfIxOffKind] = zfIxKindHeader;
  std::memset(b + zfIhOffHeader, 0, zfIhSize);
  for (uint32_t i = 0; i < zfIhMaxIndexes; ++i) zfPutLE32(b + zfIhOffHeader + zfIhRoot + 4 * i, zfIndexNoBlock);
  blocks.ReleaseBlock(block, b);
  aFile.WriteHeaderSection(block);
}

void TzfSimpleIndicesEngine::IndexAdded(int32_t aIndex) {
  TIndex& x = biseIndices[static_cast<size_t>(aIndex)];
  TzfIndexFileAccess& file = *biseFiles[static_cast<size_t>(x.FileNumber)];
  EnsureIndexHeaderBlock(file);
  uint32_t block = zfIndexNoBlock;
  file.ReadHeaderSection(block);
  THeaderHold h(file.Blocks(), block, true);
  const auto u = static_cast<uint32_t>(aIndex);
  zfPutLE16(h.Cell(zfIhKeyLen, u, 2), static_cast<uint16_t>(x.Engine->bieKeyEngine->bkeKeyLength));
  zfPutLE32(h.Cell(zfIhRoot, u, 4), zfIndexNoBlock);
  zfPutLE32(h.Cell(zfIhKeyCount, u, 4), 0);
  zfPutLE32(h.Cell(zfIhPageCount, u, 4), 0);
}

void TzfSimpleIndicesEngine::VerifyIndexHeader(int32_t aIndex) {
  TIndex& x = biseIndices.at(static_cast<size_t>(aIndex));
  TzfIndexFileAccess& file = *biseFiles[static_cast<size_t>(x.FileNumber)];
  uint32_t block = zfIndexNoBlock;
  if (!file.ReadHeaderSection(block) || block == zfIndexNoBlock) RaiseHeaderCorrupt();
  THeaderHold h(file.Blocks(), block, false);
  if (zfGetLE16(h.Cell(zfIhKeyLen, static_cast<uint32_t>(aIndex), 2)) != x.Engine->bieKeyEngine->bkeKeyLength)
    RaiseHeaderCorrupt();
}

void TzfSimpleIndicesEngine::IndexRemoved(int32_t aIndex) {
  for (TzfIndexFileAccess* f : biseFiles) {
    uint32_t block = zfIndexNoBlock;
    if (!f->ReadHeaderSection(block) || block == zfIndexNoBlock) continue;
    THeaderHold h(f->Blocks(), block, true);
    const auto from = static_cast<uint32_t>(aIndex);
    const uint32_t last = zfIhMaxIndexes - 1;
    std::memmove(h.Cell(zfIhKeyLen, from, 2), h.Cell(zfIhKeyLen, from + 1, 2), 2 * (last - from));
    for (uint32_t a : {zfIhKeyCount, zfIhRoot, zfIhPageCount})
      std::memmove(h.Cell(a, from, 4), h.Cell(a, from + 1, 4), 4 * (last - from));
    zfPutLE16(h.Cell(zfIhKeyLen, last, 2), 0);
    zfPutLE32(h.Cell(zfIhKeyCount, last, 4), 0);
    zfPutLE32(h.Cell(zfIhRoot, last, 4), zfIndexNoBlock);
    zfPutLE32(h.Cell(zfIhPageCount, last, 4), 0);
  }
}

void TzfSimpleIndicesEngine::AddIndex(TIndex aIndex, bool aAddToExisting) {
  if (AnyDeferred()) rtl::AssertionFailure(kUnit, __LINE__);
  const int32_t n = IndexEngineCount();
  if (!aIndex.Engine || aIndex.Engine->bieIndexNumber != n || n >= static_cast<int32_t>(zfIhMaxIndexes) ||
      aIndex.FileNumber < 0 || aIndex.FileNumber >= static_cast<int32_t>(biseFiles.size()))
    RaiseIndexNumber(aIndex.Engine ? aIndex.Engine->bieIndexNumber : -1);
  aIndex.Engine->SetRecordEngine(biseRecordEngine);
  biseIndices.push_back(std::move(aIndex));
  try {
    IndexAdded(n);
    AllocateKeyBuffers();
    if (aAddToExisting && biseRecordEngine) AddExistingRecords(n);
  } catch (...) {
    biseIndices.pop_back();
    AllocateKeyBuffers();
    throw;
  }
  if (biseIndices.back().Engine->NLSVersionChanged()) biseNLSVersionChanged = true;
}

void TzfSimpleIndicesEngine::RemoveIndex(int32_t aIndex) {
  if (AnyDeferred()) rtl::AssertionFailure(kUnit, __LINE__);
  if (aIndex < 0 || aIndex >= IndexEngineCount()) RaiseIndexNumber(aIndex);
  GetIndexEngine(aIndex).DeleteAllKeys(Store(aIndex));
  IndexRemoved(aIndex);
  biseStores.clear();
  biseIndices.erase(biseIndices.begin() + aIndex);
  biseStores.resize(biseIndices.size());
  for (int32_t i = IndexEngineCount() - 1; i >= aIndex; --i) {
    TzfBaseIndexEngine& e = *biseIndices[static_cast<size_t>(i)].Engine;
    e.SetIndexNumber(Store(i), i);
    if (e.bieBookmarkHandler) {
      --e.bieBookmarkHandler->bmhIndexID;
      if (e.bieBookmarkHandler->bmhIndexID != e.bieIndexNumber) rtl::AssertionFailure(kUnit, __LINE__);
    }
  }
  AllocateKeyBuffers();
}

// ---- Key maintenance ----

uint32_t TzfSimpleIndicesEngine::InsertKeys(int64_t aRefNr, const uint8_t* aRecord, TzfBaseIndexPath* aPath) {
  const int32_t n = IndexEngineCount();
  for (int32_t i = 0; i < n; ++i) {
    const auto u = static_cast<size_t>(i);
    TzfBaseIndexEngine& e = *biseIndices[u].Engine;
    uint32_t r = e.bieKeyEngine->BuildKey(aRecord, biseNewKeys[u].data(), aRefNr, false);
    biseNewKeysValid[u] = r == 0;
    if (r == 1) continue;
    if (r == 0 && KeysDeferred(i)) {
      biseNewKeysValid[u] = false;  // nothing to take back: a placed key outlives its record harmlessly
      if (!bisePlaced[u] || PlaceUniqueKey(i, biseNewKeys[u].data(), aRefNr)) continue;
      r = e.GetKeyError(etInsert, biseNewKeys[u].data(), aRefNr);
    }
    if (r == 0 && !KeyInsert(i, biseNewKeys[u].data(), aRefNr, aPath))
      r = e.GetKeyError(etInsert, biseNewKeys[u].data(), aRefNr);
    if (r != 0) {
      biseNewKeysValid[u] = false;
      UndoInsertedKeys(i, aRefNr, aPath);
      return r;
    }
  }
  return 0;
}

void TzfSimpleIndicesEngine::UndoInsertedKeys(int32_t aFailed, int64_t aRefNr, TzfBaseIndexPath* aPath) {
  for (int32_t i = aFailed - 1; i >= 0; --i) {
    const auto u = static_cast<size_t>(i);
    if (!biseNewKeysValid[u]) continue;
    bool ok = false;
    try {
      ok = KeyDelete(i, biseNewKeys[u].data(), aRefNr, aPath);
    } catch (...) {
    }
    if (!ok) {
      MarkCorrupted();
      return;
    }
  }
}

uint32_t TzfSimpleIndicesEngine::DeleteKeys(int64_t aRefNr, const uint8_t* aRecord, TzfBaseIndexPath* aPath) {
  const int32_t n = IndexEngineCount();
  for (int32_t i = 0; i < n; ++i) {
    const auto u = static_cast<size_t>(i);
    // A deferred index is built from the records as they stand when the deferral ends.
    if (KeysDeferred(i)) continue;
    TzfBaseIndexEngine& e = *biseIndices[u].Engine;
    uint32_t r = e.bieKeyEngine->BuildKey(aRecord, biseOldKeys[u].data(), aRefNr, false);
    if (r == 1) continue;
    if (r == 0 && !KeyDelete(i, biseOldKeys[u].data(), aRefNr, aPath))
      r = e.GetKeyError(etDelete, biseOldKeys[u].data(), aRefNr);
    if (r != 0) {
      MarkCorrupted();
      return r;
    }
  }
  return 0;
}

uint32_t TzfSimpleIndicesEngine::UpdateKeys(int64_t aOldRefNr, const uint8_t* aOldRecord, int64_t aNewRefNr,
                                            const uint8_t* aNewRecord, TzfBaseIndexPath* aPath) {
  const int32_t n = IndexEngineCount();
  std::fill(biseComp.begin(), biseComp.end(), 0);
  for (int32_t i = 0; i < n; ++i) {
    const auto u = static_cast<size_t>(i);
    if (KeysDeferred(i)) continue;
    TzfBaseIndexEngine& e = *biseIndices[u].Engine;
    TzfBaseKeyEngine& k = *e.bieKeyEngine;
    // A key that cannot be built stops the update; the indexes changed so far are restored.
    uint32_t r = k.BuildKey(aOldRecord, biseOldKeys[u].data(), aOldRefNr, false);
    if (r > 1) {
      UndoUpdatedKeys(i - 1, aOldRefNr, aNewRefNr, aPath);
      return r;
    }
    biseOldKeysValid[u] = r == 0;
    r = k.BuildKey(aNewRecord, biseNewKeys[u].data(), aNewRefNr, false);
    if (r > 1) {
      biseOldKeysValid[u] = false;
      UndoUpdatedKeys(i - 1, aOldRefNr, aNewRefNr, aPath);
      return r;
    }
    biseNewKeysValid[u] = r == 0;
    int c = 0;
    if (biseOldKeysValid[u] != biseNewKeysValid[u])
      c = 1;
    else if (biseOldKeysValid[u])
      c = k.CompareKey(biseOldKeys[u].data(), biseNewKeys[u].data(), 0, 0);
    if (c == 0 && (biseOldKeysValid[u] || biseNewKeysValid[u]) && aOldRefNr != aNewRefNr)
      c = aOldRefNr < aNewRefNr ? -1 : 1;
    biseComp[u] = c;
    if (c == 0) continue;
    if (biseOldKeysValid[u] && !KeyDelete(i, biseOldKeys[u].data(), aOldRefNr, aPath)) {
      r = e.GetKeyError(etModifyDelete, biseOldKeys[u].data(), aOldRefNr);
      MarkCorrupted();
      return r;
    }
    if (biseNewKeysValid[u] && !KeyInsert(i, biseNewKeys[u].data(), aNewRefNr, aPath)) {
      r = e.GetKeyError(etModifyInsert, biseNewKeys[u].data(), aNewRefNr);
      // The failing index only gets its old key back; the lower ones are fully restored.
      biseNewKeysValid[u] = false;
      UndoUpdatedKeys(i, aOldRefNr, aNewRefNr, aPath);
      return r;
    }
  }
  return 0;
}

void TzfSimpleIndicesEngine::UndoUpdatedKeys(int32_t aFailed, int64_t aOldRefNr, int64_t aNewRefNr,
                                             TzfBaseIndexPath* aPath) {
  for (int32_t i = aFailed; i >= 0; --i) {
    const auto u = static_cast<size_t>(i);
    if (biseComp[u] == 0) continue;
    bool ok = true;
    try {
      if (biseNewKeysValid[u]) ok = KeyDelete(i, biseNewKeys[u].data(), aNewRefNr, aPath);
      if (ok && biseOldKeysValid[u]) ok = KeyInsert(i, biseOldKeys[u].data(), aOldRefNr, aPath);
    } catch (...) {
      ok = false;
    }
    if (!ok) {
      MarkCorrupted();
      return;
    }
  }
}

void TzfSimpleIndicesEngine::AddExistingRecords(int32_t aFrom) {
  if (aFrom < 0 || aFrom > IndexEngineCount()) RaiseIndexNumber(aFrom);
  std::vector<int32_t> indexes;
  for (int32_t i = aFrom; i < IndexEngineCount(); ++i) indexes.push_back(i);
  BulkBuild(indexes);
}

void TzfSimpleIndicesEngine::BulkBuild(const std::vector<int32_t>& aIndexes) {
  if (aIndexes.empty() || !biseRecordEngine) return;
  std::vector<std::unique_ptr<TzfBaseBulkBuilder>> builders;
  for (const int32_t i : aIndexes)
    builders.push_back(biseIndices[static_cast<size_t>(i)].Engine->CreateBulkBuilder(Store(i)));
  std::unique_ptr<TzfBaseBulkBuilder> builder =
      builders.size() == 1 ? std::move(builders[0]) : std::make_unique<TzfBulkBuilderHub>(std::move(builders));
  uint32_t r = 0;
  biseRecordEngine->IterateRecords([&](int64_t aRefNr, const uint8_t* aRecord) {
    r = builder->InsertKey(aRefNr, aRecord);
    return r == 0;
  });
  if (r == 0) r = builder->Finalize();
  zfRaiseIfError(r);
}

std::unique_ptr<TzfBaseBulkBuilder> TzfSimpleIndicesEngine::CreateBulkBuilder() {
  if (biseIndices.empty()) return nullptr;
  if (biseIndices.size() == 1) return biseIndices[0].Engine->CreateBulkBuilder(Store(0));
  std::vector<std::unique_ptr<TzfBaseBulkBuilder>> builders;
  for (int32_t i = 0; i < IndexEngineCount(); ++i)
    builders.push_back(biseIndices[static_cast<size_t>(i)].Engine->CreateBulkBuilder(Store(i)));
  return std::make_unique<TzfBulkBuilderHub>(std::move(builders));
}

int32_t TzfSimpleIndicesEngine::DeferKeys(int64_t aRecords, int64_t aMaxBytes) {
  EndDeferral();
  biseDeferred.assign(biseIndices.size(), false);
  bisePlaced.resize(biseIndices.size());
  // Per record: the bulk build's entries (key and reference, 16-aligned) of the indexes that never
  // refuse a key and of the unique ones, and the placed keys the unique ones hold during the walk.
  std::vector<size_t> free, unique;
  int64_t freeBytes = 0, uniqueBytes = 0, placedBytes = 0;
  for (size_t i = 0; i < biseIndices.size(); ++i) {
    const TzfBaseIndexEngine& e = *biseIndices[i].Engine;
    // Keys that records do not give (a full-text token index's) cannot be built afterwards.
    if (!e.bieKeyEngine->SupportsReindex()) continue;
    const int64_t entry = (int64_t(e.bieKeyEngine->bkeKeyLength) + 23) & ~int64_t(15);
    if (e.bieKeysAreRefs || (e.bieDups && !e.bieDupsNullOnly)) {
      free.push_back(i);
      freeBytes += entry;
    } else if (biseRecordEngine) {
      // Whether a placed key's record still stands is read from the records.
      unique.push_back(i);
      uniqueBytes += entry;
      placedBytes += TzfPlacedKeySet::EntryBytes(e.bieKeyEngine->bkeKeyLength);
    }
  }
  auto fits = [&](int64_t aPerRecord) { return aRecords >= 0 && (aPerRecord == 0 || aRecords <= aMaxBytes / aPerRecord); };
  if (free.empty() && unique.empty()) return 0;
  if (!fits(freeBytes)) return 0;
  int32_t n = 0;
  for (const size_t i : free) {
    biseDeferred[i] = true;
    ++n;
  }
  // The placed keys are freed before the bulk build collects the keys of every deferred index.
  if (!unique.empty() && fits(std::max(placedBytes, freeBytes + uniqueBytes))) {
    for (const size_t i : unique) {
      biseDeferred[i] = true;
      bisePlaced[i] = std::make_unique<TzfPlacedKeySet>(*biseIndices[i].Engine->bieKeyEngine);
      ++n;
    }
  }
  return n;
}

void TzfSimpleIndicesEngine::EndDeferral() {
  biseDeferred.assign(biseDeferred.size(), false);
  for (auto& p : bisePlaced) p.reset();
  biseProbeRecord = {};
  biseProbeKey = {};
}

bool TzfSimpleIndicesEngine::PlaceUniqueKey(int32_t aIndex, const uint8_t* aKey, int64_t aRefNr) {
  const auto u = static_cast<size_t>(aIndex);
  TzfBaseIndexEngine& e = *biseIndices[u].Engine;
  TzfPlacedKeySet& placed = *bisePlaced[u];
  // Where only NULL-holding keys may repeat, such a key clashes only with an equal one free of
  // NULLs; it is never placed itself, as no later key can clash with it.
  const bool repeatable = e.bieDups && e.bieDupsNullOnly && e.bieKeyEngine->KeyContainsNulls(aKey);
  const uint32_t entry = placed.Place(aKey, aRefNr, !repeatable);
  if (entry == TzfPlacedKeySet::kNone) return true;
  // The entry's record may be gone (rolled back, taken out again) or its place reused (aRefNr is
  // the record being inserted): only a record standing with an equal key refuses this one.
  const int64_t ref = placed.Ref(entry);
  if (ref != aRefNr && HoldsEqualKey(aIndex, ref, aKey)) return false;
  if (!repeatable) placed.Replace(entry, aKey, aRefNr);
  return true;
}

bool TzfSimpleIndicesEngine::HoldsEqualKey(int32_t aIndex, int64_t aRefNr, const uint8_t* aKey) {
  const auto u = static_cast<size_t>(aIndex);
  TzfBaseIndexEngine& e = *biseIndices[u].Engine;
  TzfBaseKeyEngine& k = *e.bieKeyEngine;
  biseProbeRecord.resize(biseRecordEngine->RecordLength());
  biseProbeKey.assign(k.bkeKeyLength, 0);
  try {
    biseRecordEngine->ReadRecord(aRefNr, biseProbeRecord.data());
  } catch (const std::exception&) {
    return false;  // no record there any more (deleted, or its block no longer the table's)
  }
  if (k.BuildKey(biseProbeRecord.data(), biseProbeKey.data(), aRefNr, false) != 0) return false;
  if (k.CompareKey(aKey, biseProbeKey.data(), 0, 0) != 0) return false;
  return !(e.bieDups && e.bieDupsNullOnly && k.KeyContainsNulls(aKey) && k.KeyContainsNulls(biseProbeKey.data()));
}

bool TzfSimpleIndicesEngine::AnyDeferred() const {
  return std::find(biseDeferred.begin(), biseDeferred.end(), true) != biseDeferred.end();
}

void TzfSimpleIndicesEngine::BuildDeferredKeys() {
  std::vector<int32_t> indexes;
  for (int32_t i = 0; i < IndexEngineCount(); ++i)
    if (KeysDeferred(i)) indexes.push_back(i);
  // The placed keys go first: the build collects every key again. Should it find equal keys where
  // a unique index forbids them after all, it raises (9729) and nothing is committed.
  EndDeferral();
  BulkBuild(indexes);
}

}  // namespace zf
