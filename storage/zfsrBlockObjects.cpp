// Block objects: committed content, transaction copies, and their eviction. Snapshot pre-images and
// links are zfsrSnapshots.cpp.
#include "storage/zfsrBlockObjects.h"

#include <cstring>

#include "platform/rtl/rtlException.h"
#include "storage/zfsrBufferManager.h"
#include "storage/zfsrTransaction.h"

namespace zf {

namespace {
constexpr const char* kUnit = "zfsrBufferManager";
using S = TzfCacheBlockState;
}  // namespace

// ---- TzfBlockObject ---------------------------------------------------------------------------

TzfBlockObject::~TzfBlockObject() {
  boBufferManager->LeaveLists(this);
  zfFreeAndNil(boCacheBlock);
}

void TzfBlockObject::AssignCacheBlock(TzfCacheBlock* aCacheBlock, bool aCountIt) {
  if (boCacheBlock != aCacheBlock) zfFreeAndNil(boCacheBlock);
  boCacheBlock = aCacheBlock;
  if (boCacheBlock) boCacheBlock->cbValidate = this;
  boBufferManager->UpdateBlockList(this, aCountIt);
}

TzfCacheBlock* TzfBlockObject::ReleaseCacheBlock(bool aCountIt) {
  TzfCacheBlock* cb = boCacheBlock;
  boCacheBlock = nullptr;
  boBufferManager->UpdateBlockList(this, aCountIt);
  return cb;
}

void TzfBlockObject::CopyFrom(TzfBlockObject& aObject) {
  if (!aObject.boCacheBlock) aObject.CacheBlockNeeded();
  ZF_ASSERT(aObject.boCacheBlock != nullptr, kUnit);
  AssignCacheBlock(new TzfCacheBlock(*aObject.boCacheBlock, this), false);
}

void TzfBlockObject::MoveFrom(TzfBlockObject& aObject) {
  if (!aObject.boCacheBlock) aObject.CacheBlockNeeded();
  AssignCacheBlock(aObject.ReleaseCacheBlock(false), false);
}

bool TzfBlockObject::Evict(bool aForce) {
  if (!boCacheBlock) return false;
  if (!boCacheBlock->Evict(boBufferManager->bmUseAllocated, aForce)) return false;
  boBufferManager->UpdateBlockList(this, true);
  return true;
}

uint8_t* TzfBlockObject::MappedAddress() {
  uint8_t* p = boCacheBlock->BlockAddress();
  boBufferManager->UpdateBlockList(this, true);
  return p;
}

// ---- TzfReadOnlyBlock -------------------------------------------------------------------------

TzfReadOnlyBlock::TzfReadOnlyBlock(TzfBufferManager* aBufferManager, TzfBaseFile* aFile, TzfBlockNumber aBlockNumber,
                                   bool aNew)
    : TzfBlockObject(aBufferManager), robFile(aFile), robBlockNum(aBlockNumber), robNew(aNew) {
  boBlockSize = zfFileBlockSize(aFile);
}

TzfReadOnlyBlock::~TzfReadOnlyBlock() {
  // Links of snapshot transactions to this block's pre-images go with it (the file is leaving
  // the cache); the last link of a pre-image frees the pre-image.
  while (robSnapShotLinkHead) delete robSnapShotLinkHead;
  while (robSnapShotBlockHead) delete robSnapShotBlockHead;
  while (robBlockListTail) delete robBlockListTail;
}

void TzfReadOnlyBlock::Validate(const uint8_t* aBlock) { robFile->fiHeaderAccessFactory->ValidateBlock(aBlock, robBlockNum); }

void TzfReadOnlyBlock::CacheBlockNeeded() {
  if (boCacheBlock || robNew) return;
  auto* cb = new TzfCacheBlock(boBlockSize, robFile->fiTempStore, this);
  try {
    boCacheBlock = cb;
    robFile->ReadBlock(*this);
  } catch (...) {
    boCacheBlock = nullptr;
    delete cb;
    throw;
  }
  boBufferManager->UpdateBlockList(this, true);
  robLastLSN = zfGetBlockLSN(cb->cbBlock);
}

PzfBlock TzfReadOnlyBlock::MappedMemory(bool aForWriteOut) {
  if (!aForWriteOut) return boCacheBlock->cbBlock;
  TzfBufferManagerLock lock(boBufferManager);
  if (!boCacheBlock) {
    // A queued block always has memory; one without has nothing to write (assertion).
    ZF_ASSERT(boCacheBlock != nullptr, kUnit);
  }
  if (boCacheBlock->cbState != S::cbsMapped) {
    boCacheBlock->ChangeState(S::cbsMapped);
    boBufferManager->UpdateBlockList(this, false);
    boBufferManager->bmRemoveExcessBlocks(false, false);
  }
  return boCacheBlock->cbBlock;
}

void TzfReadOnlyBlock::CountRead() { boBufferManager->bmBlocksRead.fetch_add(1, std::memory_order_relaxed); }
void TzfReadOnlyBlock::CountWritten() { boBufferManager->bmBlocksWritten.fetch_add(1, std::memory_order_relaxed); }

void TzfReadOnlyBlock::Release(void* aObject, PzfBlock& aBlock) {
  aBlock = nullptr;
  static_cast<TzfReadOnlyBlock*>(aObject)->robRefCount.fetch_sub(1, std::memory_order_acq_rel);
}

PzfBlock TzfReadOnlyBlock::Block(TzfBaseTransaction* aTrans, bool aMarkDirty, TzfReleaseMethod& aReleaseMethod) {
  PzfBlock p = nullptr;
  if (aTrans && aTrans == robTrans) {
    TzfModifiedBlock* mb = robBlockListTail;
    if (mb->mbDiscarded) {
      if (aMarkDirty) {
        auto* cb = new TzfCacheBlock(boBlockSize, robFile->fiTempStore, mb);
        std::memset(cb->cbBlock, 0, zfBlockSizeBytes(boBlockSize));
        mb->AssignCacheBlock(cb, true);
        mb->mbDiscarded = false;
        p = cb->cbBlock;
      } else {
        p = TzfBufferManager::ZeroBlock();
      }
    } else {
      p = mb->MappedAddress();
    }
  } else {
    ZF_ASSERT(!aMarkDirty, kUnit);
    if (aTrans && aTrans->IsSnapshot()) {
      const int32_t id = aTrans->btSnapshotID;
      if (size_t(id) < robSnapShotLinks.size() && robSnapShotLinks[size_t(id)]) {
        p = robSnapShotLinks[size_t(id)]->bsslBlockSnapShot->MappedAddress();
        robRefCount.fetch_add(1, std::memory_order_acq_rel);
        aReleaseMethod = {&TzfReadOnlyBlock::Release, this};
        return p;
      }
      TzfBaseFile& fc = *robFile;
      if (!zfFileSnapShotFlag(&fc, id)) new TzfFileSnapShotLink(&fc, aTrans);
    }
    if (!boCacheBlock) {
      if (robNew)
        p = TzfBufferManager::ZeroBlock();
      else {
        CacheBlockNeeded();
        p = boCacheBlock->cbBlock;
      }
    } else {
      p = MappedAddress();
    }
  }
  robRefCount.fetch_add(1, std::memory_order_acq_rel);
  aReleaseMethod = {&TzfReadOnlyBlock::Release, this};
  return p;
}

void TzfReadOnlyBlock::MakeDirty(TzfBaseTransaction* aTrans) {
  if (!aTrans) rtl::AssertionFailure(kUnit, __LINE__);  // "Must have a transaction in order to modify a Block."
  TzfBaseTransactionLevel* level = aTrans->CurrentLevel();
  ZF_ASSERT(level != nullptr, kUnit);
  if (robTrans) {
    ZF_ASSERT(robTrans == aTrans, kUnit);
    TzfModifiedBlock* newest = robBlockListTail;
    if (newest->mbTransLevel->tlLevel < level->tlLevel) {
      auto* mb = new TzfModifiedBlock(this, level);
      if (newest->mbDiscarded)
        mb->mbDiscarded = true;
      else {
        try {
          mb->CopyFrom(*newest);
        } catch (...) {
          delete mb;
          throw;
        }
      }
    }
    return;
  }
  robFile->TouchedBy(aTrans);
  robTrans = aTrans;
  auto* mb = new TzfModifiedBlock(this, level);
  try {
    if (robNew)
      mb->mbDiscarded = true;
    else if (zfFileIsTransWriteThrough(robFile) && !zfFileIsTemporary(robFile) && !zfFileIsMemTable(robFile))
      mb->MoveFrom(*this);
    else
      mb->CopyFrom(*this);
  } catch (...) {
    delete mb;
    robTrans = nullptr;
    throw;
  }
  TzfChain<TzfReadOnlyBlock, &TzfReadOnlyBlock::robTransNext, &TzfReadOnlyBlock::robTransPrev>::Append(
      aTrans->btTransBlockListHead, aTrans->btTransBlockListTail, this);
  ++aTrans->btBlockCount;
  if (!mb->mbDiscarded) zfSetBlockLSN(mb->MappedAddress(), aTrans->btLSN);
}

bool TzfReadOnlyBlock::DirtiedForTrans(TzfBaseTransaction* aTrans) const {
  return robTrans == aTrans && robBlockListTail && robBlockListTail->mbTransLevel == aTrans->CurrentLevel();
}

TzfLSN TzfReadOnlyBlock::CurrentLSN() {
  if (robTrans) return robTrans->btLSN;
  if (!boCacheBlock) {
    if (robNew) return 0;
    CacheBlockNeeded();
  }
  return zfGetBlockLSN(boCacheBlock->BlockAddress());
}

void TzfReadOnlyBlock::LeaveTransaction() {
  if (!robTrans) return;
  TzfBaseTransaction* t = robTrans;
  TzfChain<TzfReadOnlyBlock, &TzfReadOnlyBlock::robTransNext, &TzfReadOnlyBlock::robTransPrev>::Unlink(
      t->btTransBlockListHead, t->btTransBlockListTail, this);
  --t->btBlockCount;
  robTrans = nullptr;
}

void TzfReadOnlyBlock::TakeSnapShots() {
  TzfBaseFile& fc = *robFile;
  const bool plainTemporary = zfFileIsTemporary(robFile) && !zfFileIsMemTable(robFile);
  if (fc.fiSnapShotCounter > robSnapShotCounter && !plainTemporary) {
    TzfBlockSnapShot* pre = nullptr;
    for (TzfFileSnapShotLink* l = fc.fiSnapShotLinkTail; l && l->fsslFileCounter > robSnapShotCounter;
         l = l->fsslFilePrev) {
      const int32_t id = l->fsslTrans->btSnapshotID;
      if (size_t(id) < robSnapShotLinks.size() && robSnapShotLinks[size_t(id)]) continue;
      if (!pre) pre = new TzfBlockSnapShot(this);
      new TzfBlockSnapShotLink(pre, l->fsslTrans);
    }
    robSnapShotCounter = fc.fiSnapShotCounter;
  } else {
    robLastLSN = 0;
  }
}

bool TzfReadOnlyBlock::Commit(bool aForce, bool aIsWTCommit) {
  TzfModifiedBlock* mb = robBlockListTail;
  if (!mb) return false;
  TzfBaseTransaction* trans = robTrans;
  if (!aForce && mb->mbTransLevel != trans->CurrentLevel()) return false;
  TzfModifiedBlock* outer = mb->mbPrev;
  if (outer && outer->mbTransLevel == mb->mbTransLevel->tlPrev) {
    outer->MoveFrom(*mb);
    outer->mbDiscarded = mb->mbDiscarded;
    delete mb;
    return false;
  }
  if (outer || mb->mbTransLevel->tlLevel != 0) {
    mb->DecreaseTransLevel();
    return false;
  }
  // Outermost commit: the copy becomes the committed content.
  const bool temporary = zfFileIsTemporary(robFile);
  bool discarded = mb->mbDiscarded;
  if (discarded && !temporary) {
    // A block whose copy was never written reaches the disk as a free block: "DEAD", its own
    // number and nothing else, never as its old image nor as zeros that fail the block check.
    auto* cb = new TzfCacheBlock(boBlockSize, robFile->fiTempStore, mb);
    std::memset(cb->cbBlock, 0, zfBlockSizeBytes(boBlockSize));
    std::memcpy(cb->cbBlock, "DEAD", 4);
    zfPutLE32(cb->cbBlock + 4, robBlockNum);
    zfSetBlockLSN(cb->cbBlock, trans->btLSN);
    mb->AssignCacheBlock(cb, false);
    mb->mbDiscarded = false;
    discarded = false;
  }
  if (!robNew) TakeSnapShots();
  if (aIsWTCommit && IsReferenced()) {
    if (!discarded) {
      if (!boCacheBlock) AssignCacheBlock(new TzfCacheBlock(boBlockSize, robFile->fiTempStore, this), false);
      std::memcpy(MappedAddress(), mb->MappedAddress(), zfBlockSizeBytes(boBlockSize));
    }
  } else {
    if (IsReferenced() && boCacheBlock && !discarded) {
      // A reader still holds the committed memory: it keeps its address, the content changes.
      std::memcpy(MappedAddress(), mb->MappedAddress(), zfBlockSizeBytes(boBlockSize));
    } else if (IsReferenced() && boCacheBlock) {
      std::memset(MappedAddress(), 0, zfBlockSizeBytes(boBlockSize));
    } else {
      AssignCacheBlock(mb->ReleaseCacheBlock(false), false);
    }
    delete mb;
    LeaveTransaction();
  }
  if (!temporary) robFile->WriteBlock(*this);
  if (!discarded) robNew = false;
  if (robBlockNum == 0 && boCacheBlock) robFile->fiUsedBlocks = robFile->fiHeaderAccessFactory->GetUsedBlocks(MappedAddress());
  return true;
}

void TzfReadOnlyBlock::Rollback() {
  if (robTrans) RollbackTransLevel(robTrans->CurrentLevel());
}

void TzfReadOnlyBlock::RollbackTransLevel(TzfBaseTransactionLevel* aTransLevel) {
  TzfModifiedBlock* mb = robBlockListTail;
  if (mb && mb->mbTransLevel != aTransLevel) return;
  TzfBaseTransaction* trans = robTrans;
  if (!trans) return;
  delete mb;
  if (!robBlockListTail) {
    LeaveTransaction();
    if (robNew && !IsReferenced()) boBufferManager->RemoveBlock(this);
    return;
  }
  if (robBlockNum == 0 && !trans->IsSnapshot() && !robBlockListTail->mbDiscarded)
    robFile->fiTransUsedBlocks = robFile->fiHeaderAccessFactory->GetUsedBlocks(robBlockListTail->MappedAddress());
}

void TzfReadOnlyBlock::Discard() {
  TzfModifiedBlock* mb = robBlockListTail;
  if (!mb) return;
  mb->AssignCacheBlock(nullptr, false);
  mb->mbDiscarded = true;
}

bool TzfReadOnlyBlock::TakeBackUnwritten() {
  if (!robUnwritten.exchange(false)) return false;
  if (robSnapShotBlockTail) {
    if (!robSnapShotBlockTail->boCacheBlock) return true;
    AssignCacheBlock(new TzfCacheBlock(*robSnapShotBlockTail->boCacheBlock, this), false);
    return false;
  }
  return true;
}

TzfEvictResult TzfReadOnlyBlock::CheckedEvict(bool aForce) {
  if (IsReferenced()) return TzfEvictResult::erNone;
  const bool useAllocated = boBufferManager->bmUseAllocated;
  if (robUnwritten.load(std::memory_order_acquire)) {
    if (useAllocated && boCacheBlock && boCacheBlock->cbState == S::cbsMapped) {
      boCacheBlock->ChangeState(S::cbsAllocated);
      boBufferManager->UpdateBlockList(this, true);
      return TzfEvictResult::erThis;
    }
    return TzfEvictResult::erNone;
  }
  const bool reloadable = !zfFileIsTemporary(robFile) || robNew;
  if (reloadable) {
    if (!boCacheBlock || boCacheBlock->cbState == S::cbsStored) return TzfEvictResult::erNone;
    const S st = boCacheBlock->cbState;
    if (st == S::cbsAllocated || (st == S::cbsMapped && !useAllocated) || (aForce && zfIsMemoryLow())) {
      // The memory goes either way (counted as an eviction); a block that still matters to a
      // transaction or a snapshot keeps its object.
      AssignCacheBlock(nullptr, true);
      if (!IsDirty() && !robTrans && !robSnapShotBlockHead) boBufferManager->RemoveBlock(this);
      return TzfEvictResult::erThis;
    }
  }
  return Evict(aForce) ? TzfEvictResult::erThis : TzfEvictResult::erNone;
}

// ---- TzfModifiedBlock -------------------------------------------------------------------------

TzfModifiedBlock::TzfModifiedBlock(TzfReadOnlyBlock* aBlock, TzfBaseTransactionLevel* aLevel)
    : TzfBlockObject(aBlock->boBufferManager), mbReadOnlyBlock(aBlock), mbPrev(aBlock->robBlockListTail),
      mbTransLevel(aLevel) {
  boBlockSize = aBlock->boBlockSize;
  aBlock->robBlockListTail = this;
  TzfChain<TzfModifiedBlock, &TzfModifiedBlock::mbTransLevelNext, &TzfModifiedBlock::mbTransLevelPrev>::Append(
      aLevel->tlModifiedBlocksHead, aLevel->tlModifiedBlocksTail, this);
  ++aLevel->tlBlockCount;
}

TzfModifiedBlock::~TzfModifiedBlock() {
  TzfChain<TzfModifiedBlock, &TzfModifiedBlock::mbTransLevelNext, &TzfModifiedBlock::mbTransLevelPrev>::Unlink(
      mbTransLevel->tlModifiedBlocksHead, mbTransLevel->tlModifiedBlocksTail, this);
  --mbTransLevel->tlBlockCount;
  // Only the newest copy is ever freed while older ones live.
  if (mbReadOnlyBlock->robBlockListTail == this) mbReadOnlyBlock->robBlockListTail = mbPrev;
}

void TzfModifiedBlock::Validate(const uint8_t* aBlock) { mbReadOnlyBlock->Validate(aBlock); }

void TzfModifiedBlock::DecreaseTransLevel() {
  TzfBaseTransactionLevel* outer = mbTransLevel->tlPrev;
  ZF_ASSERT(outer != nullptr, kUnit);
  using C = TzfChain<TzfModifiedBlock, &TzfModifiedBlock::mbTransLevelNext, &TzfModifiedBlock::mbTransLevelPrev>;
  C::Unlink(mbTransLevel->tlModifiedBlocksHead, mbTransLevel->tlModifiedBlocksTail, this);
  --mbTransLevel->tlBlockCount;
  mbTransLevel = outer;
  C::Append(outer->tlModifiedBlocksHead, outer->tlModifiedBlocksTail, this);
  ++outer->tlBlockCount;
}

TzfEvictResult TzfModifiedBlock::CheckedEvict(bool aForce) {
  if (mbReadOnlyBlock->IsReferenced()) return TzfEvictResult::erNone;
  TzfBufferManager* bm = boBufferManager;
  if (boCacheBlock &&
      (boCacheBlock->cbState == S::cbsAllocated || !bm->bmUseAllocated || (aForce && zfIsMemoryLow())) &&
      zfFileIsTransWriteThrough(mbReadOnlyBlock->robFile) && mbReadOnlyBlock->robBlockListTail == this) {
    TzfBaseTransaction* trans = mbReadOnlyBlock->robTrans;
    TzfBaseTransactionLevel* level = trans->CurrentLevel();
    if (level->tlLevel == 0 && level->tlNestingCount == 0) {
      bm->CommitTransaction(trans, nullptr, true);
      return TzfEvictResult::erMany;
    }
    trans->btWriteThroughCommit = true;
  }
  return Evict(aForce) ? TzfEvictResult::erThis : TzfEvictResult::erNone;
}

}  // namespace zf
