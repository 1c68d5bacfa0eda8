// The block cache: budget, list maintenance, eviction and the block operations. Commit and
// rollback are zfsrBufferManagerTrans.cpp, statistics zfsrBufferManagerStats.cpp, scratch blocks
// zfsrBlockAccess.cpp.
#include "storage/zfsrBufferManager.h"

#include <sys/resource.h>
#include <sys/sysinfo.h>

#include <atomic>

#include "foundation/zfllTypes.h"
#include "foundation/zfllSync.h"
#include "platform/os/osSystem.h"
#include "platform/rtl/rtlException.h"
#include "storage/zfsrBlockAccess.h"
#include "storage/zfsrTransaction.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfsrBufferManager";
using S = TzfCacheBlockState;
constexpr int Idx(S s) { return static_cast<int>(s); }
constexpr uint32_t kSaturated = 0xFFFFFFFFu;

bool ReserveSpent(const TzfListHead* aHead) {
  return aHead && std::atomic_ref<TzfListEntry* const>(aHead->lhFirst).load(std::memory_order_relaxed) != nullptr;
}

bool AnyReserveSpent() { return ReserveSpent(zfSpentChunkReserve()) || ReserveSpent(zfSpentPhysicalChunkReserve()); }

void DefaultMemoryFacts(uint64_t& aPhysMB, uint64_t& aVirtMB) {
  struct sysinfo si {};
  aPhysMB = 0;
  if (sysinfo(&si) == 0) aPhysMB = uint64_t(si.totalram) * si.mem_unit / 1048576;
  // The address space of the process: its limit when one is set, else the 47-bit user space.
  struct rlimit rl {};
  aVirtMB = uint64_t(1) << 27;
  if (getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) aVirtMB = uint64_t(rl.rlim_cur) / 1048576;
}

uint32_t Now() { return os::GetTickCount(); }

// A tick stamp that is never 0 (0 means "none").
uint32_t Stamp() {
  uint32_t t = Now();
  return t ? t : 1;
}

void Append(TzfBlockObject*& aHead, TzfBlockObject*& aTail, TzfBlockObject* aItem, int aState) {
  aItem->boBlockNext[aState] = nullptr;
  aItem->boBlockPrev[aState] = aTail;
  if (aTail)
    aTail->boBlockNext[aState] = aItem;
  else
    aHead = aItem;
  aTail = aItem;
}

void Unlink(TzfBlockObject*& aHead, TzfBlockObject*& aTail, TzfBlockObject* aItem, int aState) {
  TzfBlockObject* n = aItem->boBlockNext[aState];
  TzfBlockObject* p = aItem->boBlockPrev[aState];
  if (p)
    p->boBlockNext[aState] = n;
  else
    aHead = n;
  if (n)
    n->boBlockPrev[aState] = p;
  else
    aTail = p;
  aItem->boBlockNext[aState] = nullptr;
  aItem->boBlockPrev[aState] = nullptr;
}

}  // namespace

void (*TzfBufferManager::bmMemoryFacts)(uint64_t& aPhysMB, uint64_t& aVirtMB) = &DefaultMemoryFacts;
bool (*TzfBufferManager::bmMemoryLow)() = &zfIsMemoryLow;

bool TzfBufferManager::zfPhysicalBlockPoolsAvailable() {
  return zfMemoryManagerFunctions().PhysicalAvailable == 0xFFFFFFFFu;
}

TzfBufferManager::TzfBufferManager(UnicodeStringView aTempDir) : bmPadlock(true), bmTempDir(aTempDir) {
  ApplyMaxRAM(10);
  ApplyTempStoreSize(0);
  bmCacheIsCold = true;
}

TzfBufferManager::~TzfBufferManager() {
  // Blocks still cached when the engine stops (their files were never removed) are freed with it.
  while (bmInUseListHead) RemoveBlock(bmInUseListHead);
  FreeScratchBlocks();
  zfFreeAndNil(bmTempStore);
  zfFreeAndNil(bmReplicationLog);
}

void TzfBufferManager::ApplyMaxRAM(int32_t aMB) {
  TzfBufferManagerLock lock(this);
  const bool physical = zfPhysicalBlockPoolsAvailable();
  int64_t maxRAM = aMB;
  if (!physical && maxRAM >= 1537) maxRAM = 1536;
  uint64_t physMB = 0, virtMB = 0;
  bmMemoryFacts(physMB, virtMB);
  if (physical) {
    const int64_t cap = (int64_t(physMB) - 512) * 9 / 10;
    maxRAM = std::min(maxRAM, cap);
    if (maxRAM < 1) throw EzfBaseException(u"Not enough memory for AWE support.");
  } else {
    maxRAM = std::min<int64_t>(maxRAM, int64_t(physMB) * 8 / 10);
  }
  const int64_t v = std::clamp<int64_t>(int64_t(virtMB) - 1024, 16, 1536);
  const int64_t mappedMB = physical ? std::min(maxRAM, v / 6) : std::min(maxRAM, v);
  bmMaxRAM = int32_t(maxRAM);
  bmMaxPages[Idx(S::cbsMapped)][0] = bmMaxPages[Idx(S::cbsMapped)][1] = std::max<int64_t>(mappedMB, 0) * 128;
  const int64_t allocatedMB = physical ? maxRAM - mappedMB : 0;
  bmMaxPages[Idx(S::cbsAllocated)][0] = bmMaxPages[Idx(S::cbsAllocated)][1] = std::max<int64_t>(allocatedMB, 0) * 128;
  bmUseAllocated = allocatedMB > 0;
}

void TzfBufferManager::SetTempStore(TzfBaseTempStorage* aStore) {
  TzfBufferManagerLock lock(this);
  if (aStore == bmTempStore) return;
  TzfBaseTempStorage* old = bmTempStore;
  // Every block held by the old store comes back into memory first; then every cache block and
  // every file uses the new store.
  auto move = [&](TzfBlockObject* o) {
    if (!o->boCacheBlock) return;
    if (o->boCacheBlock->cbState == S::cbsStored) {
      o->boCacheBlock->ChangeState(S::cbsMapped);
      UpdateBlockList(o, false);
    }
    o->boCacheBlock->cbTempStore = aStore;
  };
  for (TzfReadOnlyBlock* b = bmInUseListHead; b; b = b->robInUseNext) {
    move(b);
    for (TzfModifiedBlock* m = b->robBlockListTail; m; m = m->mbPrev) move(m);
    for (TzfBlockSnapShot* p = b->robSnapShotBlockHead; p; p = p->bssBlockNext) move(p);
    if (b->robFile->fiTempStore == old) b->robFile->fiTempStore = aStore;
  }
  for (TzfScratchBlock* sb : bmScratchBlocks)
    if (sb) move(sb);
  bmTempStore = aStore;
  zfFreeAndNil(old);
}

void TzfBufferManager::ApplyTempStoreSize(int64_t aSize) {
  TzfBufferManagerLock lock(this);
  TzfBaseTempStorage* store = nullptr;
  if (aSize > 0 && zfTempStorageClass) {
    try {
      store = zfTempStorageClass->Create(bmTempDir).release();
    } catch (...) {
      SetTempStore(new TzfNullTempStorage());
      throw;
    }
  }
  SetTempStore(store ? store : new TzfNullTempStorage());
}

int64_t TzfBufferManager::TempStoreSizeMB() const { return bmTempStore ? bmTempStore->StorageSize() / 1048576 : 0; }

// ---- list maintenance -------------------------------------------------------------------------

void TzfBufferManager::StopTracking(TzfBlockObject* aObject, TzfCacheBlockState aState) {
  const int s = Idx(aState);
  if (!(aObject->boBlockTracked & (1u << s))) return;
  const int f = aObject->boTrackedFreq[s] ? 1 : 0;
  Unlink(bmBlockListHead[s][f][kTracked], bmBlockListTail[s][f][kTracked], aObject, s);
  bmBlockListCount[s][f][kTracked] -= zfBlockPages(aObject->boBlockSize);
  aObject->boBlockTracked &= uint8_t(~(1u << s));
}

void TzfBufferManager::LeaveLists(TzfBlockObject* aObject) {
  const int s = Idx(aObject->boBlockState);
  if (aObject->boBlockState != S::cbsStored) {
    const int f = aObject->boBlockFreqUse ? 1 : 0;
    Unlink(bmBlockListHead[s][f][kUsed], bmBlockListTail[s][f][kUsed], aObject, s);
    bmBlockListCount[s][f][kUsed] -= zfBlockPages(aObject->boBlockSize);
    aObject->boBlockState = S::cbsStored;
  }
  for (int t = 0; t < kzfCacheStateCount; ++t) StopTracking(aObject, static_cast<S>(t));
}

void TzfBufferManager::UpdateBlockList(TzfBlockObject* o, bool aCountIt) {
  const S newState = o->boCacheBlock ? o->boCacheBlock->cbState : S::cbsStored;
  const int ns = Idx(newState);
  const bool newFreq = o->boBlockCacheHit[ns] >= kSaturated - 1;
  const S oldState = o->boBlockState;
  const int os = Idx(oldState);
  const bool oldFreq = o->boBlockFreqUse;
  // Unchanged and already the most recently used entry of its list: nothing to do.
  if (newState == oldState && newFreq == oldFreq && newState != S::cbsStored &&
      bmBlockListTail[ns][newFreq][kUsed] == o)
    return;
  if (oldState != S::cbsStored) {
    Unlink(bmBlockListHead[os][oldFreq][kUsed], bmBlockListTail[os][oldFreq][kUsed], o, os);
    bmBlockListCount[os][oldFreq][kUsed] -= zfBlockPages(o->boBlockSize);
  }
  StopTracking(o, newState);
  if (o->boCacheBlock) o->boBlockSize = o->boCacheBlock->cbSize;
  if (aCountIt) {
    const bool bulkCounted = o->boWasBulkLoaded != TzfWasBulkLoaded::wblYesTrigger;
    const int bulk = o->boWasBulkLoaded == TzfWasBulkLoaded::wblYes ? 1 : 0;
    if (oldState < newState) {
      // A block coming back shifts a 500th of the new state's budget towards the list it joins.
      const int f = o->boBlockCacheHit[ns] == kSaturated ? 1 : 0;
      int64_t& from = bmMaxPages[ns][1 - f];
      const int64_t share = from / 500;
      if (from > share && share > 0) {
        from -= share;
        bmMaxPages[ns][f] += share;
      }
    }
    if (newState == S::cbsMapped) {
      if (o->boBlockCacheHit[os] != kSaturated) ++o->boBlockCacheHit[os];
      if (bulkCounted) ++bmBlockCacheHit[os][newFreq][bulk];
      o->boWasBulkLoaded = TzfWasBulkLoaded::wblNo;
    }
    if (newState < oldState) {
      if (o->boBlockCacheEvict[os] != kSaturated) ++o->boBlockCacheEvict[os];
      if (bulkCounted) ++bmBlockCacheEvict[os][newFreq][bulk];
      o->boWasBulkLoaded = TzfWasBulkLoaded::wblNo;
    }
  }
  if (newState < oldState && o->boBlockCacheHit[os] > 0) {
    const int f = o->boBlockCacheHit[os] == kSaturated ? 1 : 0;
    Append(bmBlockListHead[os][f][kTracked], bmBlockListTail[os][f][kTracked], o, os);
    bmBlockListCount[os][f][kTracked] += zfBlockPages(o->boBlockSize);
    o->boBlockTracked |= uint8_t(1u << os);
    o->boTrackedFreq[os] = f != 0;
  }
  o->boBlockState = newState;
  o->boBlockFreqUse = newFreq;
  if (newState != S::cbsStored) {
    Append(bmBlockListHead[ns][newFreq][kUsed], bmBlockListTail[ns][newFreq][kUsed], o, ns);
    bmBlockListCount[ns][newFreq][kUsed] += zfBlockPages(o->boBlockSize);
  }
}

// ---- eviction ---------------------------------------------------------------------------------

bool TzfBufferManager::MemoryLow() { return bmMemoryLow(); }

bool TzfBufferManager::Pressure(TzfCacheBlockState aState) {
  if (aState == S::cbsMapped && AnyReserveSpent()) return true;
  return MemoryLow();
}

bool TzfBufferManager::OverBudget(TzfCacheBlockState aState, int& aPressureCountdown) {
  const int s = Idx(aState);
  const int64_t used = bmBlockListCount[s][0][kUsed] + bmBlockListCount[s][1][kUsed];
  if (used > bmMaxPages[s][0] + bmMaxPages[s][1]) return true;
  if (used == 0) return false;
  const bool pressure = Pressure(aState);
  if (pressure && --aPressureCountdown <= 0) {
    zfTrimMemory();
    aPressureCountdown = 64;
  }
  return pressure;
}

void TzfBufferManager::TrimUnderPressure() {
  const bool reserve = AnyReserveSpent();
  const bool low = MemoryLow();
  if (reserve || low) bmRemoveExcessBlocks(reserve, low);
}

void TzfBufferManager::bmRemoveExcessUsedBlocks(TzfCacheBlockState aState, bool aForce) {
  const int s = Idx(aState);
  if (!aForce && bmLastCheckFailed[s] != 0 && Now() - bmLastCheckFailed[s] < 1000) return;
  int countdown = 64;
  if (!OverBudget(aState, countdown)) {
    // A state within its budget has nothing left over from a failed pass: the blocks that could
    // not go then (copies of an open transaction) may since have been committed, so the next
    // pass that finds the state over budget must not wait out the throttle.
    bmLastCheckFailed[s] = 0;
    return;
  }
  const uint32_t start = Stamp();
  for (;;) {
    bmLastCheckFailed[s] = start;
    bool evicted = false;
    const bool pressure = Pressure(aState);
    for (int f = 0; f < 2; ++f) {
      TzfBlockObject* o = bmBlockListHead[s][f][kUsed];
      while (o && (bmBlockListCount[s][f][kUsed] > bmMaxPages[s][f] || pressure)) {
        TzfBlockObject* next = o->boBlockNext[s];
        if (o->boFastUsed.load(std::memory_order_relaxed) != 0) {
          // Used without the padlock since the last round: one more round at the recent end.
          o->boFastUsed.store(0, std::memory_order_relaxed);
          UpdateBlockList(o, false);
          o = next;
          continue;
        }
        const TzfEvictResult r = o->CheckedEvict(aForce);
        if (r == TzfEvictResult::erThis) {
          bmLastCheckFailed[s] = 0;
          evicted = true;
          if (!aForce && Now() - start > 150) return;
          if (!OverBudget(aState, countdown)) return;
        } else if (r == TzfEvictResult::erMany) {
          bmLastCheckFailed[s] = 0;
          evicted = true;
          if (!aForce) return;
          break;
        }
        o = next;
      }
    }
    if (!evicted || !OverBudget(aState, countdown)) return;
  }
}

void TzfBufferManager::bmRemoveExcessBlocks(bool aForceMapped, bool aForceAllocated) {
  TzfBufferManagerLock lock(this);
  const bool low = aForceAllocated && MemoryLow();
  if (aForceMapped && AnyReserveSpent()) bmChunkEmergency = Stamp();
  if (low) bmPhysicalEmergency = Stamp();
  if (low) {
    bmRemoveExcessUsedBlocks(S::cbsAllocated, true);
    if (MemoryLow()) {
      bmRemoveExcessUsedBlocks(S::cbsMapped, true);
      bmRemoveExcessUsedBlocks(S::cbsAllocated, true);
    } else {
      bmRemoveExcessUsedBlocks(S::cbsMapped, aForceMapped);
      bmRemoveExcessUsedBlocks(S::cbsAllocated, false);
    }
  } else {
    bmRemoveExcessUsedBlocks(S::cbsMapped, aForceMapped);
    bmRemoveExcessUsedBlocks(S::cbsAllocated, aForceAllocated);
  }
  for (S st : {S::cbsMapped, S::cbsAllocated}) {
    const int s = Idx(st);
    for (int f = 0; f < 2; ++f) {
      while (bmBlockListHead[s][f][kTracked] && bmBlockListCount[s][f][kTracked] > bmMaxPages[s][1 - f]) {
        TzfBlockObject* o = bmBlockListHead[s][f][kTracked];
        StopTracking(o, st);
        o->boBlockCacheHit[s] = 0;
      }
    }
  }
}

// ---- lock-free hits ---------------------------------------------------------------------------

namespace {
inline void CpuPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

int FastSlotOfThread() {
  static std::atomic<int> next{0};
  thread_local const int slot = next.fetch_add(1, std::memory_order_relaxed) % TzfBufferManager::kFastSlots;
  return slot;
}
}  // namespace

void TzfBufferManager::ExcludeFastReaders() {
  bmFastWriter.store(1, std::memory_order_seq_cst);
  for (TzfFastSlot& s : bmFastSlots)
    while (s.Readers.load(std::memory_order_seq_cst) != 0) CpuPause();
}

int64_t TzfBufferManager::FastHits() const {
  int64_t n = 0;
  for (const TzfFastSlot& s : bmFastSlots) n += s.Hits.load(std::memory_order_relaxed);
  return n;
}

PzfBlock TzfBufferManager::TryFastGetBlock(TzfBaseFile* aFile, TzfBaseTransaction* aTrans,
                                           TzfBlockNumber aBlockNumber, TzfReleaseMethod& aReleaseMethod) {
  if (aTrans && aTrans->IsSnapshot()) return nullptr;
  TzfFastSlot& slot = bmFastSlots[FastSlotOfThread()];
  slot.Readers.fetch_add(1, std::memory_order_seq_cst);
  PzfBlock p = nullptr;
  if (bmFastWriter.load(std::memory_order_seq_cst) == 0) {
    TzfReadOnlyBlock* b = zfCacheFind(aFile, aBlockNumber);
    if (b && (!aTrans || b->robTrans != aTrans) && b->boCacheBlock &&
        b->boCacheBlock->cbState == S::cbsMapped) {
      b->robRefCount.fetch_add(1, std::memory_order_acq_rel);
      if (b->boFastUsed.load(std::memory_order_relaxed) == 0) b->boFastUsed.store(1, std::memory_order_relaxed);
      p = b->boCacheBlock->cbBlock;
      aReleaseMethod = {&TzfReadOnlyBlock::Release, b};
      slot.Hits.fetch_add(1, std::memory_order_relaxed);
    }
  }
  slot.Readers.fetch_sub(1, std::memory_order_release);
  return p;
}

// ---- block objects ----------------------------------------------------------------------------

TzfReadOnlyBlock* TzfBufferManager::FindOrCreateBlock(TzfBaseFile* aFile, TzfBlockNumber aBlockNumber, bool aNew) {
  TzfBaseFile& fc = *aFile;
  if (TzfReadOnlyBlock* b = zfCacheFind(&fc, aBlockNumber)) return b;
  bmRemoveExcessBlocks(AnyReserveSpent(), MemoryLow());
  auto* b = new TzfReadOnlyBlock(this, aFile, aBlockNumber, aNew);
  TzfChain<TzfReadOnlyBlock, &TzfReadOnlyBlock::robInUseNext, &TzfReadOnlyBlock::robInUsePrev>::Append(
      bmInUseListHead, bmInUseListTail, b);
  TzfChain<TzfReadOnlyBlock, &TzfReadOnlyBlock::robFileNext, &TzfReadOnlyBlock::robFilePrev>::Append(
      fc.fiBlockListHead, fc.fiBlockListTail, b);
  zfCacheInsert(&fc, aBlockNumber, b);
  return b;
}

void TzfBufferManager::RemoveBlock(TzfReadOnlyBlock* aBlock) {
  TzfBaseFile& fc = *aBlock->robFile;
  TzfChain<TzfReadOnlyBlock, &TzfReadOnlyBlock::robInUseNext, &TzfReadOnlyBlock::robInUsePrev>::Unlink(
      bmInUseListHead, bmInUseListTail, aBlock);
  TzfChain<TzfReadOnlyBlock, &TzfReadOnlyBlock::robFileNext, &TzfReadOnlyBlock::robFilePrev>::Unlink(
      fc.fiBlockListHead, fc.fiBlockListTail, aBlock);
  zfCacheRemove(&fc, aBlock->robBlockNum);
  if (aBlock->robTrans) {
    TzfBaseTransaction* t = aBlock->robTrans;
    TzfChain<TzfReadOnlyBlock, &TzfReadOnlyBlock::robTransNext, &TzfReadOnlyBlock::robTransPrev>::Unlink(
        t->btTransBlockListHead, t->btTransBlockListTail, aBlock);
    --t->btBlockCount;
    aBlock->robTrans = nullptr;
  }
  delete aBlock;
}

uint32_t TzfBufferManager::AddFile(TzfBaseFile* aFile, TzfBaseTransaction* aTrans, const TzfUnicodeStrings& aPasswords,
                                   bool aMarkHeaderDirty, TzfReleaseMethod& aReleaseMethod, PzfBlock& aBlock,
                                   bool& aIsReadOnly) {
  TzfBufferManagerLock lock(this);
  aReleaseMethod = {};
  aBlock = nullptr;
  aIsReadOnly = false;
  if (!aFile->fiTempStore) aFile->fiTempStore = bmTempStore;
  TzfBaseFile& fc = *aFile;
  uint32_t result = 0;
  if (fc.fiBlockZero) {
    result = aFile->fiEncryptionEngine ? aFile->fiEncryptionEngine->AuthenticatePassword(aPasswords) : 0;
    if (result == 10763) {
      aIsReadOnly = true;
      result = 0;
    }
  } else if (zfFileIsTemporary(aFile)) {
    FindOrCreateBlock(aFile, 0, true);
  } else {
    result = aFile->ReadHeader(aPasswords, aIsReadOnly);
    if (result == 0) {
      TzfReadOnlyBlock* b = FindOrCreateBlock(aFile, 0, false);
      try {
        b->CacheBlockNeeded();
      } catch (...) {
        RemoveBlock(b);
        throw;
      }
    }
  }
  if (result == 0) {
    TzfReadOnlyBlock* b = fc.fiBlockZero;
    if (aMarkHeaderDirty) b->MakeDirty(aTrans);
    aBlock = b->Block(aTrans, aMarkHeaderDirty, aReleaseMethod);
    RaiseCurrentLSN(zfGetBlockLSN(aBlock));
  }
  return result;
}

void TzfBufferManager::RemoveFile(TzfBaseFile* aFile) {
  TzfBufferManagerLock lock(this);
  TzfBaseFile& fc = *aFile;
  while (fc.fiBlockListHead) RemoveBlock(fc.fiBlockListHead);
  while (fc.fiSnapShotLinkHead) delete fc.fiSnapShotLinkHead;
  aFile->LeaveTransaction();
  zfCacheClearIndex(&fc);
}

PzfBlock TzfBufferManager::AddBlock(TzfBaseFile* aFile, TzfBaseTransaction* aTrans, TzfBlockNumber aBlockNumber,
                                    TzfReleaseMethod& aReleaseMethod) {
  TzfBufferManagerLock lock(this);
  TrimUnderPressure();
  TzfReadOnlyBlock* b = FindOrCreateBlock(aFile, aBlockNumber, true);
  if (!aTrans) return b->Block(nullptr, false, aReleaseMethod);
  if (!aFile->fiTempStore) aFile->fiTempStore = bmTempStore;
  b->MakeDirty(aTrans);
  return b->Block(aTrans, true, aReleaseMethod);
}

PzfBlock TzfBufferManager::GetBlock(TzfBaseFile* aFile, TzfBaseTransaction* aTrans, TzfBlockNumber aBlockNumber,
                                    bool aMarkDirty, TzfReleaseMethod& aReleaseMethod) {
  if (!aMarkDirty)
    if (PzfBlock p = TryFastGetBlock(aFile, aTrans, aBlockNumber, aReleaseMethod)) return p;
  TzfBufferManagerLock lock(this);
  TzfBaseFile& fc = *aFile;
  TzfReadOnlyBlock* b = zfCacheFind(&fc, aBlockNumber);
  const bool created = b == nullptr;
  if (created) b = FindOrCreateBlock(aFile, aBlockNumber, zfFileIsTemporary(aFile));
  PzfBlock p;
  try {
    if (aMarkDirty) {
      TrimUnderPressure();
      b->MakeDirty(aTrans);
    }
    p = b->Block(aTrans, aMarkDirty, aReleaseMethod);
  } catch (...) {
    // A block that could not be read leaves no empty object behind.
    if (created && !b->IsDirty() && !b->IsReferenced() && !b->boCacheBlock) RemoveBlock(b);
    throw;
  }
  if (!created) TrimUnderPressure();
  return p;
}

void TzfBufferManager::DirtyBlock(TzfBaseFile* aFile, TzfBlockNumber aBlockNumber, TzfBaseTransaction* aTrans,
                                  PzfBlock& aModifiableBlock) {
  TzfBufferManagerLock lock(this);
  TzfReadOnlyBlock* b = zfCacheFind(aFile, aBlockNumber);
  if (!b) return;
  TrimUnderPressure();
  b->MakeDirty(aTrans);
  TzfReleaseMethod rm;
  PzfBlock p = b->Block(aTrans, true, rm);
  aModifiableBlock = p;
  rm(p);
}

void TzfBufferManager::DiscardBlock(TzfBaseFile* aFile, TzfBlockNumber aBlockNumber, TzfBaseTransaction* aTrans) {
  TzfBufferManagerLock lock(this);
  TzfReadOnlyBlock* b = zfCacheFind(aFile, aBlockNumber);
  if (!b) return;
  b->MakeDirty(aTrans);
  b->Discard();
}

// ---- LSNs and snapshot IDs --------------------------------------------------------------------

TzfLSN TzfBufferManager::AllocateLSN() {
  TzfBufferManagerLock lock(this);
  return ++bmCurrentLSN;
}

TzfLSN TzfBufferManager::ReadCurrentLSN() {
  TzfBufferManagerLock lock(this);
  return bmCurrentLSN;
}

void TzfBufferManager::RaiseCurrentLSN(TzfLSN aLSN) {
  TzfBufferManagerLock lock(this);
  if (aLSN > bmCurrentLSN) bmCurrentLSN = aLSN;
}

void TzfBufferManager::RegisterSnapshot(TzfBaseTransaction* aTrans) {
  TzfBufferManagerLock lock(this);
  int32_t id = 0;
  while (size_t(id) / 8 < bmSnapShotFlags.size() && (bmSnapShotFlags[size_t(id) / 8] >> (id % 8)) & 1) ++id;
  if (size_t(id) / 8 >= bmSnapShotFlags.size()) bmSnapShotFlags.push_back(0);
  bmSnapShotFlags[size_t(id) / 8] |= uint8_t(1u << (id % 8));
  if (bmSnapShotTrans.size() <= size_t(id)) bmSnapShotTrans.resize(size_t(id) + 1, nullptr);
  bmSnapShotTrans[size_t(id)] = aTrans;
  aTrans->btSnapshotID = id;
  ++bmActiveSnapShotCount;
}

void TzfBufferManager::UnregisterSnapshot(TzfBaseTransaction* aTrans) {
  TzfBufferManagerLock lock(this);
  const int32_t id = aTrans->btSnapshotID;
  if (id < 0 || size_t(id) >= bmSnapShotTrans.size() || bmSnapShotTrans[size_t(id)] != aTrans) return;
  bmSnapShotTrans[size_t(id)] = nullptr;
  bmSnapShotFlags[size_t(id) / 8] &= uint8_t(~(1u << (id % 8)));
  --bmActiveSnapShotCount;
  while (!bmSnapShotFlags.empty() && bmSnapShotFlags.back() == 0) bmSnapShotFlags.pop_back();
}

// ---- the file's transaction binding and header creation -------------------------------------

void TzfBaseFile::TouchedBy(TzfBaseTransaction* aTrans) {
  if (!aTrans) rtl::AssertionFailure(kUnit, __LINE__);  // "Must have a transaction in order to modify a File."
  ZF_ASSERT(fiTrans == nullptr || fiTrans == aTrans, kUnit);
  fiTransLevel = aTrans->CurrentLevel();
  if (fiTrans) return;
  fiTrans = aTrans;
  TzfChain<TzfBaseFile, &TzfBaseFile::fiTransNext, &TzfBaseFile::fiTransPrev>::Append(
      aTrans->btTransFileListHead, aTrans->btTransFileListTail, this);
  fiTransUsedBlocks = fiUsedBlocks;
}

void TzfBaseFile::LeaveTransaction() {
  if (!fiTrans) return;
  TzfChain<TzfBaseFile, &TzfBaseFile::fiTransNext, &TzfBaseFile::fiTransPrev>::Unlink(
      fiTrans->btTransFileListHead, fiTrans->btTransFileListTail, this);
  fiTrans = nullptr;
  fiTransLevel = nullptr;
}

uint32_t TzfBaseFile::AddHeader(TzfBaseTransaction* aTrans, const TzfUnicodeStrings& aPasswords,
                                const TzfBlockSignature& aSignature) {
  TzfReleaseMethod rm;
  PzfBlock block = fiBufMgr->AddBlock(this, aTrans, 0, rm);
  uint32_t result = 0;
  try {
    result = InitHeader(block, aPasswords, aSignature);
  } catch (...) {
    rm(block);
    throw;
  }
  rm(block);
  return result;
}

}  // namespace zf
