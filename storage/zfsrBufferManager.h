// The block cache of one server engine, and the place where storage transactions commit and roll
// back.
//
// Every block of every attached table file is read and changed through `TzfBufferManager`: a
// sub-engine asks for a block (`GetBlock`, `AddBlock`, through `TzfBlockAccess`), gets the memory
// its transaction must see and a release method, and gives the reference back when done. The
// manager owns no thread: every operation runs on the calling thread under the one padlock
// `bmPadlock`; only `TzfReadOnlyBlock::Release` and the disk writes of a commit's flush run
// outside it. storage/README.md states the access rules.
//
// Memory budget: `ApplyMaxRAM` sets the pages (4 KB) the mapped tier may hold, split between a
// recently and a frequently used list. Linux has no physical block pools, so the allocated tier
// is never budgeted, bulk loading never happens, and the statistics rows are those of a manager
// without them. A block over budget gives its memory back (clean blocks leave the cache; copies
// and pre-images go to the temporary store when it has room, else stay).
#pragma once
#include <cstdint>
#include <vector>

#include "foundation/zfllMemoryManager.h"
#include "foundation/zfllSync.h"
#include "platform/rtl/rtlText.h"
#include "storage/zfsrBlockObjects.h"
#include "storage/zfsrBufferTypes.h"
#include "storage/zfsrBlockIndex.h"
#include "storage/zfsrTempStorage.h"

namespace zf {

class TzfFlushList;
class TzfScratchBlock;

// A scratch block: low 32 bits an index into the manager's scratch table, high 32 bits its ID.
using TzfScratchBlockHandle = int64_t;

// One statistics row: caption and value text.
struct TzfStatsRow {
  UnicodeString Caption;
  UnicodeString Value;
};

class TzfBufferManager : public TzfObject {
 public:
  // Stores the folder of the temporary store, applies a budget of 10 MB and no temporary store.
  explicit TzfBufferManager(UnicodeStringView aTempDir);
  // Every block must have left the cache (assertion); frees the temporary store and the log.
  ~TzfBufferManager() override;

  // The padlock; the outermost Lock also keeps lock-free readers out until the outermost Unlock.
  void Lock() {
    bmPadlock.Lock();
    if (bmLockDepth++ == 0) ExcludeFastReaders();
  }
  void Unlock() {
    if (--bmLockDepth == 0) bmFastWriter.store(0, std::memory_order_release);
    bmPadlock.Unlock();
  }

  // Sets the RAM budget in MB (capped by the machine's memory, see the unit's source).
  void ApplyMaxRAM(int32_t aMB);
  // Installs a temporary store of the registered class when aSize > 0 (a failed construction
  // leaves no store and passes on), else none.
  void ApplyTempStoreSize(int64_t aSize);
  // Installs the store (owned; nullptr for none). Used by ApplyTempStoreSize and by tests.
  void SetTempStore(TzfBaseTempStorage* aStore);
  int64_t TempStoreSizeMB() const;

  // Attaches a table file: reads its header (or, attached before, checks the passwords) and
  // hands out block 0 (writable for aTrans with aMarkHeaderDirty). 0 or the header/password code.
  uint32_t AddFile(TzfBaseFile* aFile, TzfBaseTransaction* aTrans, const TzfUnicodeStrings& aPasswords, bool aMarkHeaderDirty,
                   TzfReleaseMethod& aReleaseMethod, PzfBlock& aBlock, bool& aIsReadOnly);
  // Takes every cached block of the file out of the cache; the file leaves its transaction.
  void RemoveFile(TzfBaseFile* aFile);
  // A new block (no disk read), dirty for aTrans and writable.
  PzfBlock AddBlock(TzfBaseFile* aFile, TzfBaseTransaction* aTrans, TzfBlockNumber aBlockNumber,
                    TzfReleaseMethod& aReleaseMethod);
  // The memory aTrans must see of the block (read from disk on a miss); writable when aMarkDirty.
  PzfBlock GetBlock(TzfBaseFile* aFile, TzfBaseTransaction* aTrans, TzfBlockNumber aBlockNumber, bool aMarkDirty,
                    TzfReleaseMethod& aReleaseMethod);
  // A cached block made dirty for aTrans, its writable memory in aModifiableBlock (the reference is
  // given back at once); nothing for a block that is not cached.
  void DirtyBlock(TzfBaseFile* aFile, TzfBlockNumber aBlockNumber, TzfBaseTransaction* aTrans,
                  PzfBlock& aModifiableBlock);
  // The transaction's copy of a cached block becomes undefined (zero on its first write).
  void DiscardBlock(TzfBaseFile* aFile, TzfBlockNumber aBlockNumber, TzfBaseTransaction* aTrans);

  void CommitTransaction(TzfBaseTransaction* aTrans, TzfFlushList* aFlushList, bool aIsWTCommit);
  void RollbackTransaction(TzfBaseTransaction* aTrans);
  void RollbackTransactionLevel(TzfBaseTransactionLevel* aTransLevel);

  TzfLSN AllocateLSN();
  TzfLSN ReadCurrentLSN();
  void RaiseCurrentLSN(TzfLSN aLSN);

  void RegisterSnapshot(TzfBaseTransaction* aTrans);
  void UnregisterSnapshot(TzfBaseTransaction* aTrans);

  TzfScratchBlockHandle CreateScratchBlock(TzfBlockSizeAll aSize);
  void* LockScratchBlock(TzfScratchBlockHandle aHandle);
  void UnlockScratchBlock(TzfScratchBlockHandle aHandle, void* aPointer);
  void FreeScratchBlock(TzfScratchBlockHandle aHandle);

  static void GetStatsCaptions(std::vector<UnicodeString>& aList);
  void GetStatsValues(std::vector<UnicodeString>& aList);
  static void GetStatsValuesStatic(std::vector<UnicodeString>& aList);
  // Captions and values together.
  std::vector<TzfStatsRow> GetStatsRows();

  // Eviction entry point: brings the tiers back under budget (forced passes ignore the throttle).
  void bmRemoveExcessBlocks(bool aForceMapped, bool aForceAllocated);

  // ---- for the block objects, transactions and block access of this cluster ----------------
  void UpdateBlockList(TzfBlockObject* aObject, bool aCountIt);
  void StopTracking(TzfBlockObject* aObject, TzfCacheBlockState aState);
  // Takes the object off the used list of its state and every tracked list.
  void LeaveLists(TzfBlockObject* aObject);
  // Removes a read-only block from every chain and the index, and frees it.
  void RemoveBlock(TzfReadOnlyBlock* aBlock);
  // The cached block object, created (not loaded) on a miss.
  TzfReadOnlyBlock* FindOrCreateBlock(TzfBaseFile* aFile, TzfBlockNumber aBlockNumber, bool aNew);
  // Trims when memory is short (a spent reserve or the system's memory low).
  void TrimUnderPressure();
  // 64 KB of zeros, the content of a block that has none.
  static PzfBlock ZeroBlock() { return const_cast<PzfBlock>(static_cast<const uint8_t*>(zfZeroBuffer())); }
  // After a failed write-out: every block still queued is taken back, block 0 is read again.
  void RecoverFromFailedFlush(TzfBaseFile* aFile);
  TzfScratchBlock* LookupScratch(TzfScratchBlockHandle aHandle);
  void FreeScratchBlocks();

  // ---- lock-free hits ----------------------------------------------------------------------
  // A read of committed content of a cached, mapped block (no transaction, or one that does not
  // modify the block, and not a snapshot) may take the block without the padlock: the reader
  // announces itself in its slot, checks that no thread holds the padlock, takes the reference
  // and leaves. The padlock's outermost holder waits until every slot is empty before it changes
  // anything, and keeps new readers out until it lets go. Such a hit does not move the block in
  // the recently-used list; it marks the block used, and eviction gives a marked block one more
  // round at the recently used end.
  static constexpr int kFastSlots = 16;
  struct alignas(64) TzfFastSlot {
    std::atomic<int32_t> Readers{0};
    std::atomic<int64_t> Hits{0};
  };
  PzfBlock TryFastGetBlock(TzfBaseFile* aFile, TzfBaseTransaction* aTrans, TzfBlockNumber aBlockNumber,
                           TzfReleaseMethod& aReleaseMethod);
  void ExcludeFastReaders();
  int64_t FastHits() const;
  TzfFastSlot bmFastSlots[kFastSlots];
  alignas(64) std::atomic<uint32_t> bmFastWriter{0};
  int32_t bmLockDepth = 0;  // changed only by the padlock's owner

  // ---- state ------------------------------------------------------------------------------
  TzfPadlock bmPadlock;
  int32_t bmMaxRAM = 0;
  UnicodeString bmTempDir;
  TzfBaseTempStorage* bmTempStore = nullptr;
  TzfReadOnlyBlock* bmInUseListHead = nullptr;
  TzfReadOnlyBlock* bmInUseListTail = nullptr;
  bool bmCacheIsCold = true;
  uint32_t bmChunkEmergency = 0;
  uint32_t bmPhysicalEmergency = 0;
  // [state][frequency][0 = tracked, 1 = used]
  TzfBlockObject* bmBlockListHead[kzfCacheStateCount][2][2] = {};
  TzfBlockObject* bmBlockListTail[kzfCacheStateCount][2][2] = {};
  int64_t bmBlockListCount[kzfCacheStateCount][2][2] = {};
  // [state the block came from][frequency][bulk-loaded]
  int64_t bmBlockCacheHit[kzfCacheStateCount][2][2] = {};
  int64_t bmBlockCacheEvict[kzfCacheStateCount][2][2] = {};
  int64_t bmBulkBlockLoad = 0;
  int64_t bmTransCommitCount = 0;
  int64_t bmTransRollbackCount = 0;
  int64_t bmTransNestedCommitCount = 0;
  int64_t bmTransNestedRollbackCount = 0;
  int64_t bmTransDeadlockCount = 0;
  int64_t bmTransCorruptedCount = 0;
  uint32_t bmLastCheckFailed[kzfCacheStateCount] = {};
  int64_t bmMaxPages[kzfCacheStateCount][2] = {};
  bool bmUseAllocated = false;
  TzfLSN bmCurrentLSN = 0;
  std::vector<uint8_t> bmSnapShotFlags;
  std::vector<TzfBaseTransaction*> bmSnapShotTrans;
  int32_t bmActiveSnapShotCount = 0;
  std::atomic<int64_t> bmBlocksRead{0};
  std::atomic<int64_t> bmBlocksWritten{0};
  TzfBaseReplicationLog* bmReplicationLog = nullptr;
  // Scratch blocks by slot; free slots are reused.
  std::vector<TzfScratchBlock*> bmScratchBlocks;
  uint32_t bmScratchSerial = 0;

  static constexpr int kUsed = 1;
  static constexpr int kTracked = 0;

  // The memory-facts source (total physical and virtual MB); tests replace it.
  static void (*bmMemoryFacts)(uint64_t& aPhysMB, uint64_t& aVirtMB);
  // Whether the memory manager has physical block pools (never on Linux; tests may pretend).
  static bool zfPhysicalBlockPoolsAvailable();
  // The memory-low test (zfIsMemoryLow); tests replace it.
  static bool (*bmMemoryLow)();
  static bool MemoryLow();

 private:
  bool Pressure(TzfCacheBlockState aState);
  bool OverBudget(TzfCacheBlockState aState, int& aPressureCountdown);
  void bmRemoveExcessUsedBlocks(TzfCacheBlockState aState, bool aForce);
  void CommitOutermost(TzfBaseTransaction* aTrans, TzfFlushList* aFlushList, bool aIsWTCommit);
  void AddSnapShotUnion(TzfBaseTransaction* aTrans);
  void RollbackLevel(TzfBaseTransaction* aTrans, TzfBaseTransactionLevel* aLevel);
};

// Holds the buffer manager's padlock for a scope.
class TzfBufferManagerLock {
 public:
  explicit TzfBufferManagerLock(TzfBufferManager* aManager) : FManager(aManager) { FManager->Lock(); }
  ~TzfBufferManagerLock() { FManager->Unlock(); }
  TzfBufferManagerLock(const TzfBufferManagerLock&) = delete;
  TzfBufferManagerLock& operator=(const TzfBufferManagerLock&) = delete;

 private:
  TzfBufferManager* FManager;
};

rtl::TUnitInit& zfsrBufferManagerUnit();

}  // namespace zf
