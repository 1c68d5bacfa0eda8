#include "storage/zfsrTransaction.h"

#include "platform/rtl/rtlException.h"
#include "storage/zfsrBlockObjects.h"
#include "storage/zfsrBufferManager.h"

namespace zf {

namespace {
constexpr const char* kUnit = "zfsrBufferManager";
using L = TzfTransactionLevelState;
}  // namespace

// ---- TzfBaseTransactionLevel ------------------------------------------------------------------

TzfBaseTransactionLevel::TzfBaseTransactionLevel(TzfBaseTransaction* aTrans)
    : tlPrev(aTrans->btTransLevelsTail), tlLevel(aTrans->btTransLevelsTail ? aTrans->btTransLevelsTail->tlLevel + 1 : 0),
      tlTransaction(aTrans) {
  aTrans->btTransLevelsTail = this;
}

TzfBaseTransactionLevel::~TzfBaseTransactionLevel() {
  if (tlTransaction->btTransLevelsTail == this) tlTransaction->btTransLevelsTail = tlPrev;
  // A level that still holds copies or locks was ended without commit or rollback.
  ZF_ASSERT(tlModifiedBlocksHead == nullptr && tlLockCount == 0, kUnit);
}

void TzfBaseTransactionLevel::Mark(TzfTransactionLevelState aState) {
  // Every deeper level gets the state too, from the current level outwards.
  for (TzfBaseTransactionLevel* l = tlTransaction->btTransLevelsTail; l && l != this; l = l->tlPrev) l->tlState |= Bit(aState);
  if (tlState & Bit(aState)) return;
  tlState |= Bit(aState);
  TzfBufferManager* bm = tlTransaction->btBufferManager;
  TzfBufferManagerLock lock(bm);
  if (aState == L::tlsCorrupted)
    ++bm->bmTransCorruptedCount;
  else
    ++bm->bmTransDeadlockCount;
}

bool TzfBaseTransactionLevel::StopNested() {
  if (tlNestingCount > 0) {
    --tlNestingCount;
    return false;
  }
  return true;
}

// ---- TzfBaseTransaction -----------------------------------------------------------------------

TzfBaseTransaction::TzfBaseTransaction(TzfBufferManager* aBufferManager, void* aOwningSession, bool aIsSnapshot,
                                       bool aFailSafe)
    : btBufferManager(aBufferManager), btOwningSession(aOwningSession) {
  if (aIsSnapshot) {
    btBufferManager->RegisterSnapshot(this);
    btState |= uint8_t(1u << static_cast<int>(TzfTransactionState::tsSnapshot));
  }
  new TzfBaseTransactionLevel(this);
  btLSN = btBufferManager->AllocateLSN();
}

TzfBaseTransaction::~TzfBaseTransaction() {
  {
    TzfBufferManagerLock lock(btBufferManager);
    while (btBlockSnapShotLinksHead) delete btBlockSnapShotLinksHead;
    while (btFileSnapShotLinksHead) delete btFileSnapShotLinksHead;
    // A transaction freed with changes still open gives them up.
    if ((btTransBlockListHead || btTransFileListHead) && btTransLevelsTail) {
      TzfBaseTransactionLevel* root = btTransLevelsTail;
      while (root->tlPrev) root = root->tlPrev;
      try {
        btBufferManager->RollbackTransactionLevel(root);
      } catch (...) {
      }
    }
    if (IsSnapshot()) btBufferManager->UnregisterSnapshot(this);
  }
  zfFreeAndNil(btJournal);
  while (btTransLevelsTail) {
    TzfBaseTransactionLevel* l = btTransLevelsTail;
    l->tlLockCount = 0;
    delete l;
  }
}

TzfBaseTransactionLevel* TzfBaseTransaction::CreateTransactionLevel() { return new TzfBaseTransactionLevel(this); }

void TzfBaseTransaction::StartFirstLevel() {
  while (btTransLevelsTail) delete btTransLevelsTail;
  CreateTransactionLevel();
}

void TzfBaseTransaction::StartNested(bool aForce) {
  TzfBaseTransactionLevel* cur = btTransLevelsTail;
  if (!aForce && cur && cur->Has(L::tlsNoMoreNested)) {
    ++cur->tlNestingCount;
    return;
  }
  CreateTransactionLevel();
}

bool TzfBaseTransaction::IsNested() const {
  const TzfBaseTransactionLevel* cur = btTransLevelsTail;
  return cur && (cur->EffectiveLevel() > 0 || cur->tlNestingCount > 0);
}

bool TzfBaseTransaction::LevelLocked() const {
  const TzfBaseTransactionLevel* cur = btTransLevelsTail;
  return cur && cur->tlLockCount > 0 && cur->tlNestingCount == 0;
}

uint32_t TzfBaseTransaction::CheckState() const {
  if (btFailed) return 15443;
  const TzfBaseTransactionLevel* cur = btTransLevelsTail;
  if (!cur) return 0;
  if (cur->Has(L::tlsDeadlocked)) return 10255;
  if (cur->Has(L::tlsCorrupted)) return 15443;
  return 0;
}

void TzfBaseTransaction::Lock() {
  ZF_ASSERT(btTransLevelsTail != nullptr, kUnit);
  ++btTransLevelsTail->tlLockCount;
}

void TzfBaseTransaction::Unlock() {
  ZF_ASSERT(btTransLevelsTail != nullptr && btTransLevelsTail->tlLockCount > 0, kUnit);
  --btTransLevelsTail->tlLockCount;
}

void TzfBaseTransaction::MarkCorrupted() {
  if (btTransLevelsTail) btTransLevelsTail->MarkCorrupted();
}

void TzfBaseTransaction::MarkDeadlock() {
  if (btTransLevelsTail) btTransLevelsTail->MarkDeadlock();
}

void TzfBaseTransaction::MarkNoMoreNested() {
  if (btTransLevelsTail) btTransLevelsTail->MarkNoMoreNested();
}

// ---- TzfBaseTransactionMgr --------------------------------------------------------------------

TzfBaseTransactionMgr::TzfBaseTransactionMgr(TzfBufferManager* aBufferManager)
    : btmPadlock(new TzfPadlock()), btmBufferManager(aBufferManager) {}

TzfBaseTransactionMgr::~TzfBaseTransactionMgr() { zfFreeAndNil(btmPadlock); }

// ---- TzfFlushList -----------------------------------------------------------------------------

TzfFlushList::~TzfFlushList() { zfFreeAndNil(flJournal); }

void TzfFlushList::Prepare(TzfBaseTransaction* aTrans, bool aIsWTCommit) {
  TzfBufferManager* bm = aTrans->btBufferManager;
  flLSN = aTrans->btLSN;
  try {
    for (TzfBaseFile* fc = aTrans->btTransFileListHead; fc; fc = fc->fiTransNext) {
      TzfBaseFile* file = fc;
      if (zfFileIsTemporary(file)) continue;
      // Block 0 of every written file carries the commit's LSN and is written with the rest.
      TzfReadOnlyBlock* zero = fc->fiBlockZero;
      if (!zero || zero->CurrentLSN() < aTrans->btLSN) {
        if (!zero) zero = bm->FindOrCreateBlock(file, 0, false);
        zero->MakeDirty(aTrans);
        ZF_ASSERT(zero->CurrentLSN() == aTrans->btLSN, kUnit);
        zero->Commit(true, aIsWTCommit);
      }
      file->PrepareFlushFile();
      flList.push_back(file);
    }
  } catch (...) {
    for (TzfBaseFile* fc = aTrans->btTransFileListHead; fc; fc = fc->fiTransNext) {
      try {
        bm->RecoverFromFailedFlush(fc);
      } catch (...) {
      }
    }
    flList.clear();
    throw;
  }
  if (!aIsWTCommit)
    while (aTrans->btTransFileListHead) aTrans->btTransFileListHead->LeaveTransaction();
}

void TzfFlushList::Flush(bool aForceFailSafe) {
  const bool failSafe = aForceFailSafe || flJournal != nullptr;
  size_t i = 0;
  try {
    if (flReplicationLog) flReplicationLog->BeginTrans(flLSN);
    for (; i < flList.size(); ++i) flList[i]->FlushFile(failSafe, flReplicationLog);
  } catch (...) {
    try {
      if (flReplicationLog) flReplicationLog->EndTrans();
    } catch (...) {
    }
    // What did not reach the file leaves the cache (or gets its pre-image back), so the next
    // reader sees what the files hold. The journal stays on disk for the next open to replay.
    if (flJournal) flJournal->KeepForReplay();
    for (size_t j = i; j < flList.size(); ++j) {
      TzfBaseFile* f = flList[j];
      try {
        TzfBufferManagerLock lock(f->fiBufMgr);
        f->fiBufMgr->RecoverFromFailedFlush(f);
      } catch (...) {
      }
    }
    throw;
  }
  if (flReplicationLog) flReplicationLog->EndTrans();
  zfFreeAndNil(flJournal);
}

}  // namespace zf
