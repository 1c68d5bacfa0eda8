// Commit and rollback of storage transactions in the block cache.
#include "platform/rtl/rtlException.h"
#include "storage/zfsrBufferManager.h"
#include "storage/zfsrTransaction.h"

namespace zf {

namespace {
constexpr const char* kUnit = "zfsrBufferManager";

int32_t FileCount(TzfBaseTransaction* aTrans) {
  int32_t n = 0;
  for (TzfBaseFile* fc = aTrans->btTransFileListHead; fc; fc = fc->fiTransNext) ++n;
  return n;
}

// Whether the transaction still holds a changed block of the file.
bool HasDirtyBlocks(TzfBaseTransaction* aTrans, TzfBaseFile* aFile) {
  for (TzfReadOnlyBlock* b = aTrans->btTransBlockListHead; b; b = b->robTransNext)
    if (b->robFile == aFile) return true;
  return false;
}
}  // namespace

void TzfBufferManager::CommitTransaction(TzfBaseTransaction* aTrans, TzfFlushList* aFlushList, bool aIsWTCommit) {
  TzfBufferManagerLock lock(this);
  TzfBaseTransactionLevel* level = aTrans->CurrentLevel();
  ZF_ASSERT(level != nullptr, kUnit);
  if (level->EffectiveLevel() == 0) {
    CommitOutermost(aTrans, aFlushList, aIsWTCommit);
    return;
  }
  if (aIsWTCommit) return;
  ++bmTransNestedCommitCount;
  while (level->tlModifiedBlocksHead) {
    TzfModifiedBlock* head = level->tlModifiedBlocksHead;
    head->mbReadOnlyBlock->Commit(false, false);
    ZF_ASSERT(level->tlModifiedBlocksHead != head, kUnit);
  }
  for (TzfBaseFile* fc = aTrans->btTransFileListHead; fc; fc = fc->fiTransNext)
    if (fc->fiTransLevel == level) fc->fiTransLevel = level->tlPrev;
}

void TzfBufferManager::AddSnapShotUnion(TzfBaseTransaction* aTrans) {
  // A snapshot that has seen one of the files keeps the pre-commit state of all of them.
  std::vector<uint8_t> all(bmSnapShotFlags.size(), 0);
  for (TzfBaseFile* fc = aTrans->btTransFileListHead; fc; fc = fc->fiTransNext)
    for (size_t i = 0; i < all.size() && i < fc->fiSnapShotFlags.size(); ++i) all[i] |= fc->fiSnapShotFlags[i];
  while (!all.empty() && all.back() == 0) all.pop_back();
  for (TzfBaseFile* fc = aTrans->btTransFileListHead; fc; fc = fc->fiTransNext) {
    if (fc->fiSnapShotFlags.size() < all.size()) fc->fiSnapShotFlags.resize(all.size(), 0);
    for (size_t i = 0; i < all.size(); ++i) {
      const uint8_t missing = uint8_t(all[i] & ~fc->fiSnapShotFlags[i]);
      for (int bit = 0; bit < 8; ++bit) {
        if (!(missing >> bit & 1)) continue;
        const size_t id = i * 8 + size_t(bit);
        if (id < bmSnapShotTrans.size() && bmSnapShotTrans[id]) new TzfFileSnapShotLink(fc, bmSnapShotTrans[id]);
      }
    }
  }
}

void TzfBufferManager::CommitOutermost(TzfBaseTransaction* aTrans, TzfFlushList* aFlushList, bool aIsWTCommit) {
  ++bmTransCommitCount;
  // The journal is complete before the cache changes: when it cannot be written nothing is
  // committed and the caller rolls back.
  if (TzfBaseJournalEngine* j = aTrans->btJournal) {
    j->PrepareJournal();
    for (TzfReadOnlyBlock* b = aTrans->btTransBlockListHead; b; b = b->robTransNext)
      if (!zfFileIsTemporary(b->robFile)) j->AddBlock(aTrans, b);
    j->FinalizeJournal();
  }
  if (bmActiveSnapShotCount > 0 && FileCount(aTrans) > 1) AddSnapShotUnion(aTrans);
  TzfFlushList* own = nullptr;
  if (!aFlushList) aFlushList = own = new TzfFlushList();
  try {
    aFlushList->flReplicationLog = bmReplicationLog;
    for (TzfReadOnlyBlock* b = aTrans->btTransBlockListHead; b;) {
      TzfReadOnlyBlock* next = b->robTransNext;
      const bool committed = b->Commit(false, aIsWTCommit);
      if (committed && zfFileIsTemporary(b->robFile) && b->robNew) b->CheckedEvict(false);
      b = next;
    }
    aFlushList->flJournal = aTrans->btJournal;
    aTrans->btJournal = nullptr;
    aFlushList->Prepare(aTrans, aIsWTCommit);
    if (own) own->Flush(own->flJournal != nullptr);
  } catch (...) {
    delete own;
    throw;
  }
  delete own;
  bmRemoveExcessBlocks(true, true);
}

void TzfBufferManager::RollbackLevel(TzfBaseTransaction* aTrans, TzfBaseTransactionLevel* aLevel) {
  if (aLevel->tlLevel > 0) {
    ++bmTransNestedRollbackCount;
    while (aLevel->tlModifiedBlocksHead) {
      TzfModifiedBlock* head = aLevel->tlModifiedBlocksHead;
      head->mbReadOnlyBlock->RollbackTransLevel(aLevel);
      ZF_ASSERT(aLevel->tlModifiedBlocksHead != head, kUnit);
    }
    // A file last touched at this level moves out one level while it still holds changes of an
    // outer level (so the outermost commit still writes it); otherwise it leaves.
    for (TzfBaseFile* fc = aTrans->btTransFileListHead; fc;) {
      TzfBaseFile* next = fc->fiTransNext;
      if (fc->fiTransLevel == aLevel) {
        if (HasDirtyBlocks(aTrans, fc))
          fc->fiTransLevel = aLevel->tlPrev;
        else
          fc->LeaveTransaction();
      }
      fc = next;
    }
  } else {
    ++bmTransRollbackCount;
    zfFreeAndNil(aTrans->btJournal);
    for (TzfReadOnlyBlock* b = aTrans->btTransBlockListHead; b;) {
      TzfReadOnlyBlock* next = b->robTransNext;
      // Every copy of the block goes: the outer ones of levels not yet ended too.
      while (b->robBlockListTail && b->robBlockListTail->mbTransLevel != aLevel) delete b->robBlockListTail;
      b->RollbackTransLevel(aLevel);
      b = next;
    }
    while (aTrans->btTransFileListHead) aTrans->btTransFileListHead->LeaveTransaction();
    bmRemoveExcessBlocks(true, true);
  }
  TrimUnderPressure();
}

void TzfBufferManager::RollbackTransaction(TzfBaseTransaction* aTrans) {
  TzfBufferManagerLock lock(this);
  TzfBaseTransactionLevel* level = aTrans->CurrentLevel();
  if (!level) return;
  // The outermost level's effective level is 0; a nested one has its own level object.
  RollbackLevel(aTrans, level);
}

void TzfBufferManager::RollbackTransactionLevel(TzfBaseTransactionLevel* aTransLevel) {
  TzfBufferManagerLock lock(this);
  RollbackLevel(aTransLevel->tlTransaction, aTransLevel);
}

void TzfBufferManager::RecoverFromFailedFlush(TzfBaseFile* aFile) {
  TzfBufferManagerLock lock(this);
  // The file takes back its queued write-outs (each block gets its newest pre-image back or is
  // marked); marked blocks are then dropped, so that their disk content is read again.
  aFile->RollbackUnwritten();
  for (TzfReadOnlyBlock* b = aFile->fiBlockListHead; b;) {
    TzfReadOnlyBlock* next = b->robFileNext;
    if (b->robDropAfterRollback && !b->IsReferenced()) {
      b->robDropAfterRollback = false;
      if (b->IsDirty() || b->robTrans || b->robSnapShotBlockHead)
        b->AssignCacheBlock(nullptr, false);
      else
        RemoveBlock(b);
    }
    b = next;
  }
  // The used-block count follows block 0 as the file holds it.
  if (!zfFileIsTemporary(aFile)) {
    TzfReadOnlyBlock* zero = aFile->fiBlockZero;
    if (!zero) zero = FindOrCreateBlock(aFile, 0, false);
    if (!zero->boCacheBlock) zero->CacheBlockNeeded();
    aFile->fiUsedBlocks = aFile->fiHeaderAccessFactory->GetUsedBlocks(zero->boCacheBlock->BlockAddress());
  }
}

}  // namespace zf
