#include "storage/zfsrBlockAccess.h"

#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "platform/rtl/rtlException.h"
#include "storage/zfsrBufferManager.h"
#include "storage/zfsrTransaction.h"

namespace zf {

namespace {
constexpr const char* kUnit = "zfsrBufferManager";
}

// ---- TzfBlockAccess ---------------------------------------------------------------------------

TzfBlockAccess::TzfBlockAccess(TzfBaseFile* aFile, TzfBlockAccess* aMain, UnicodeStringView aBaseName, int32_t aID)
    : baFile(aFile), baID(aID), baMain(aMain), baBaseName(aBaseName) {}

uint32_t TzfBlockAccess::BlockSizeBytes() const { return baFile->fiBlockSizeBytes; }

UnicodeString TzfBlockAccess::TableFileName() const { return baFile->fiName; }

PzfBlock TzfBlockAccess::GetBlock(TzfBaseTransaction* aTrans, TzfBlockNumber aBlockNumber, int32_t aID,
                                  bool aMarkDirty, TzfReleaseMethod& aReleaseMethod) {
  PzfBlock p = baFile->fiBufMgr->GetBlock(baFile, aTrans, aBlockNumber, aMarkDirty, aReleaseMethod);
  try {
    baFile->fiHeaderAccessFactory->VerifyID(p, aBlockNumber, aID);
  } catch (...) {
    aReleaseMethod(p);
    aReleaseMethod = {};
    throw;
  }
  return p;
}

PzfBlock TzfBlockAccess::GetBlockIfOwned(TzfBaseTransaction* aTrans, TzfBlockNumber aBlockNumber, int32_t aID,
                                        TzfReleaseMethod& aReleaseMethod) {
  PzfBlock p = baFile->fiBufMgr->GetBlock(baFile, aTrans, aBlockNumber, false, aReleaseMethod);
  if (baFile->fiHeaderAccessFactory->Belongs(p, aBlockNumber, aID)) return p;
  aReleaseMethod(p);
  aReleaseMethod = {};
  return nullptr;
}

void TzfBlockAccess::DirtyBlock(TzfBlockNumber aBlockNumber, TzfBaseTransaction* aTrans, PzfBlock& aModifiableBlock) {
  baFile->fiBufMgr->DirtyBlock(baFile, aBlockNumber, aTrans, aModifiableBlock);
}

TzfBaseFileHeaderAccess* TzfBlockAccess::HeaderAccess(TzfBaseTransaction* aTrans, bool aMarkDirty) {
  return baFile->fiHeaderAccessFactory->CreateFileHeaderAccess(aTrans, aMarkDirty, this).release();
}

TzfLSN TzfBlockAccess::ReadHeaderLSN(TzfBaseTransaction* aTrans) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(HeaderAccess(aTrans, false));
  return ha->ReadHeaderLSN();
}

bool TzfBlockAccess::ValidBlock(TzfBlockNumber aBlockNumber, TzfBaseTransaction* aTrans) {
  if (aBlockNumber == 0) return false;
  TzfBaseFile& fc = *baFile;
  if (aTrans && fc.fiTrans == aTrans) return aBlockNumber < baFile->fiTransUsedBlocks;
  if (aTrans && aTrans->IsSnapshot()) {
    TzfBufferManager* bm = baFile->fiBufMgr;
    TzfBufferManagerLock lock(bm);
    const int32_t id = aTrans->btSnapshotID;
    if (id >= 0 && size_t(id) < fc.fiSnapShotLinks.size() && fc.fiSnapShotLinks[size_t(id)])
      return aBlockNumber < fc.fiSnapShotLinks[size_t(id)]->fsslUsedBlocks;
    return aBlockNumber < baFile->fiUsedBlocks;
  }
  return aBlockNumber < baFile->fiUsedBlocks;
}

bool TzfBlockAccess::ValidBlock(TzfBlockNumber aBlockNumber, TzfBaseFileHeaderAccess* aHeaderAccess) {
  if (aBlockNumber == 0) return false;
  if (aHeaderAccess) return aBlockNumber < aHeaderAccess->UsedBlockCount();
  return aBlockNumber < baFile->fiUsedBlocks;
}

void TzfBlockAccess::ChangePassword(TzfBaseTransaction* aTrans, UnicodeStringView aNewPassword) {
  if (baMain != nullptr || baID != 0)
    throw EzfBaseFileException(zfErrNotSupported, u"ChangePassword is only allowed for the root table");
  if (!(baFile->fiEncryptionEngine != nullptr))
    throw EzfBaseFileException(zfErrNotSupported, u"ChangePassword is only supported for tables with an encryption engine");
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(HeaderAccess(aTrans, true));
  ha->ChangePassword(UnicodeString(aNewPassword));
}

// ---- TzfReleaseList ---------------------------------------------------------------------------

TzfReleaseList::~TzfReleaseList() {
  try {
    Release();
  } catch (...) {
  }
}

void TzfReleaseList::Add(PzfBlock aBlock, TzfReleaseMethod aMethod) { FEntries.push_back({aBlock, aMethod}); }

void TzfReleaseList::Release() {
  std::vector<Entry> entries;
  entries.swap(FEntries);
  for (Entry& e : entries)
    if (e.Method) e.Method(e.Block);
}

// ---- scratch blocks ---------------------------------------------------------------------------

TzfScratchBlock::TzfScratchBlock(TzfBufferManager* aBufferManager, TzfBlockSizeAll aSize, uint32_t aID)
    : TzfBlockObject(aBufferManager), sbID(aID) {
  boBlockSize = aSize;
}

TzfEvictResult TzfScratchBlock::CheckedEvict(bool aForce) {
  if (sbRefCount > 0) return TzfEvictResult::erNone;
  return Evict(aForce) ? TzfEvictResult::erThis : TzfEvictResult::erNone;
}

TzfScratchBlockHandle TzfBufferManager::CreateScratchBlock(TzfBlockSizeAll aSize) {
  TzfBufferManagerLock lock(this);
  TrimUnderPressure();
  // The ID is a creation serial, never 0, so a handle of a freed block whose slot was reused is
  // refused.
  if (++bmScratchSerial == 0) ++bmScratchSerial;
  auto* sb = new TzfScratchBlock(this, aSize, bmScratchSerial);
  try {
    sb->AssignCacheBlock(new TzfCacheBlock(aSize, bmTempStore, sb), false);
  } catch (...) {
    delete sb;
    throw;
  }
  size_t slot = 0;
  while (slot < bmScratchBlocks.size() && bmScratchBlocks[slot]) ++slot;
  if (slot == bmScratchBlocks.size()) bmScratchBlocks.push_back(nullptr);
  bmScratchBlocks[slot] = sb;
  sb->sbSlot = uint32_t(slot);
  return TzfScratchBlockHandle((uint64_t(sb->sbID) << 32) | uint64_t(slot));
}

TzfScratchBlock* TzfBufferManager::LookupScratch(TzfScratchBlockHandle aHandle) {
  const size_t slot = size_t(uint64_t(aHandle) & 0xFFFFFFFFu);
  const uint32_t id = uint32_t(uint64_t(aHandle) >> 32);
  ZF_ASSERT(slot < bmScratchBlocks.size() && bmScratchBlocks[slot] != nullptr, kUnit);
  TzfScratchBlock* sb = bmScratchBlocks[slot];
  ZF_ASSERT(sb->sbID == id, kUnit);
  return sb;
}

void* TzfBufferManager::LockScratchBlock(TzfScratchBlockHandle aHandle) {
  TzfBufferManagerLock lock(this);
  TrimUnderPressure();
  TzfScratchBlock* sb = LookupScratch(aHandle);
  void* p = sb->MappedAddress();
  ++sb->sbRefCount;
  return p;
}

void TzfBufferManager::UnlockScratchBlock(TzfScratchBlockHandle aHandle, void* aPointer) {
  TzfBufferManagerLock lock(this);
  TzfScratchBlock* sb = LookupScratch(aHandle);
  ZF_ASSERT(sb->sbRefCount > 0 && sb->boCacheBlock && sb->boCacheBlock->cbState == TzfCacheBlockState::cbsMapped &&
                aPointer == sb->boCacheBlock->cbBlock,
            kUnit);
  --sb->sbRefCount;
  TrimUnderPressure();
}

void TzfBufferManager::FreeScratchBlock(TzfScratchBlockHandle aHandle) {
  TzfBufferManagerLock lock(this);
  TzfScratchBlock* sb = LookupScratch(aHandle);
  ZF_ASSERT(sb->sbRefCount == 0, kUnit);
  bmScratchBlocks[sb->sbSlot] = nullptr;
  while (!bmScratchBlocks.empty() && !bmScratchBlocks.back()) bmScratchBlocks.pop_back();
  delete sb;
  TrimUnderPressure();
}

void TzfBufferManager::FreeScratchBlocks() {
  for (TzfScratchBlock*& sb : bmScratchBlocks) {
    delete sb;
    sb = nullptr;
  }
  bmScratchBlocks.clear();
}

rtl::TUnitInit& zfsrBlockAccessUnit() {
  static rtl::TUnitInit unit("zfsrBlockAccess", [] {}, [] {});
  return unit;
}

}  // namespace zf
