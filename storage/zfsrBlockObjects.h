// The objects the block cache keeps per block of a table file.
//
// - `TzfReadOnlyBlock`: one per cached block; its memory is the committed content (loaded from
//   disk on first use, none for a block that has no content on disk yet).
// - `TzfModifiedBlock`: the copy of the transaction that changes the block, one per nesting level
//   (`robBlockListTail` is the newest, `mbPrev` the copy of the next outer level).
// - `TzfBlockSnapShot`: a pre-image of the committed content that snapshot transactions still
//   see; `TzfBlockSnapShotLink` ties one snapshot transaction to it, `TzfFileSnapShotLink` ties a
//   snapshot transaction to a file it has read.
//
// Everything here runs under the buffer manager's padlock, except `Release`, which only decrements
// the reference count (atomically). Eviction never takes the memory of a referenced block.
#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "storage/zfsrBufferTypes.h"
#include "storage/zfsrCacheBlock.h"
#include "storage/zfsrFile.h"

namespace zf {


class TzfBlockObject : public TzfObject {
 public:
  explicit TzfBlockObject(TzfBufferManager* aBufferManager) : boBufferManager(aBufferManager) {}
  // Frees the memory and leaves every used and tracked list.
  ~TzfBlockObject() override;

  // Checks content that came back from the temporary store (the base accepts everything).
  virtual void Validate(const uint8_t* aBlock) {}
  // Gives up memory under cache pressure: erThis when it left its state, erMany when it freed
  // more than itself, erNone when it cannot.
  virtual TzfEvictResult CheckedEvict(bool aForce) = 0;
  // Loads the content when the object needs memory it does not have (the base does nothing).
  virtual void CacheBlockNeeded() {}

  // Takes the cache block (freeing the old one) and updates the lists.
  void AssignCacheBlock(TzfCacheBlock* aCacheBlock, bool aCountIt = false);
  // Hands the memory over to another object; the object is left without memory.
  TzfCacheBlock* ReleaseCacheBlock(bool aCountIt);
  // A private copy of the other object's memory (loaded first when needed).
  void CopyFrom(TzfBlockObject& aObject);
  // Takes over the other object's memory.
  void MoveFrom(TzfBlockObject& aObject);
  // The cache block's eviction with the manager's allocated tier; on success the lists are
  // updated with counting.
  bool Evict(bool aForce);
  // The mapped address of the memory; the lists are updated with counting.
  uint8_t* MappedAddress();

  TzfBufferManager* boBufferManager;
  TzfCacheBlock* boCacheBlock = nullptr;
  // One link pair per cache state: the used list of the object's state, or the tracked list of a
  // state it was evicted from.
  TzfBlockObject* boBlockNext[kzfCacheStateCount] = {};
  TzfBlockObject* boBlockPrev[kzfCacheStateCount] = {};
  uint8_t boBlockTracked = 0;                   // bit per state
  bool boTrackedFreq[kzfCacheStateCount] = {};  // frequency flag of the tracked list it is on
  TzfCacheBlockState boBlockState = TzfCacheBlockState::cbsStored;
  bool boBlockFreqUse = false;
  TzfWasBulkLoaded boWasBulkLoaded = TzfWasBulkLoaded::wblNo;
  TzfBlockSizeAll boBlockSize = TzfBlockSizeAll::zfbs4k;
  uint32_t boBlockCacheHit[kzfCacheStateCount] = {};
  // Set by lock-free hits, cleared by eviction, which then keeps the block one more round.
  std::atomic<uint8_t> boFastUsed{0};
  uint32_t boBlockCacheEvict[kzfCacheStateCount] = {};
};

class TzfReadOnlyBlock : public TzfBlockObject, public TzfBaseCachedBlock {
 public:
  TzfReadOnlyBlock(TzfBufferManager* aBufferManager, TzfBaseFile* aFile, TzfBlockNumber aBlockNumber, bool aNew);
  ~TzfReadOnlyBlock() override;

  void Validate(const uint8_t* aBlock) override;
  TzfEvictResult CheckedEvict(bool aForce) override;
  void CacheBlockNeeded() override;

  // The memory aTrans must see, referenced: the transaction's own newest copy, a snapshot's
  // pre-image, or the committed content. aMarkDirty asks for writable memory of aTrans's copy
  // (the block must be dirty for aTrans). aReleaseMethod gives the reference back.
  PzfBlock Block(TzfBaseTransaction* aTrans, bool aMarkDirty, TzfReleaseMethod& aReleaseMethod);
  // Gives a reference back: aBlock := nullptr, count decremented (no lock needed).
  static void Release(void* aObject, PzfBlock& aBlock);

  void MakeDirty(TzfBaseTransaction* aTrans);
  // The newest copy belongs to aTrans's current level.
  bool DirtiedForTrans(TzfBaseTransaction* aTrans) const;
  bool IsDirty() const { return robBlockListTail != nullptr; }
  bool IsReferenced() const { return robRefCount.load(std::memory_order_acquire) > 0; }
  TzfLSN CurrentLSN();
  // Commits the newest copy one level out, or into the committed content at level 0 (True then).
  bool Commit(bool aForce, bool aIsWTCommit);
  void Rollback();
  void RollbackTransLevel(TzfBaseTransactionLevel* aTransLevel);
  // After a failed commit: the newest pre-image back, or (answer True) the block must leave the
  // cache so that its disk content is read again.
  bool TakeBackUnwritten();

  // What the file's read and write-out use (TzfBaseCachedBlock).
  TzfBlockNumber CachedBlockNumber() const override { return robBlockNum; }
  PzfBlock MappedMemory(bool aForWriteOut) override;
  TzfByteDynArray& EncryptionCookie() override { return robEncryptionCookie; }
  TzfLSN LastLSN() const override { return robLastLSN; }
  bool Unwritten() const override { return robUnwritten.load(std::memory_order_acquire); }
  void SetUnwritten(bool aValue) override { robUnwritten.store(aValue, std::memory_order_release); }
  // The file takes its queued write back: the block is marked to be dropped when it has no
  // pre-image to return to (the buffer manager drops it after the file's list is empty).
  void RollbackUnwritten() override { robDropAfterRollback = TakeBackUnwritten() || robDropAfterRollback; }
  void CountRead() override;
  void CountWritten() override;
  // Makes the newest copy discarded (content undefined, zero on first write).
  void Discard();

  TzfBaseFile* robFile;
  TzfReadOnlyBlock* robFileNext = nullptr;
  TzfReadOnlyBlock* robFilePrev = nullptr;
  TzfBlockNumber robBlockNum;
  TzfLSN robLastLSN = 0;
  std::atomic<int32_t> robRefCount{0};
  bool robNew;
  std::atomic<bool> robUnwritten{false};  // cleared by the write-out outside the padlock
  TzfReadOnlyBlock* robInUseNext = nullptr;
  TzfReadOnlyBlock* robInUsePrev = nullptr;
  TzfBaseTransaction* robTrans = nullptr;
  TzfReadOnlyBlock* robTransNext = nullptr;
  TzfReadOnlyBlock* robTransPrev = nullptr;
  TzfModifiedBlock* robBlockListTail = nullptr;
  std::vector<TzfBlockSnapShotLink*> robSnapShotLinks;
  TzfBlockSnapShotLink* robSnapShotLinkHead = nullptr;
  TzfBlockSnapShotLink* robSnapShotLinkTail = nullptr;
  uint32_t robSnapShotCounter = 0;
  TzfBlockSnapShot* robSnapShotBlockHead = nullptr;
  TzfBlockSnapShot* robSnapShotBlockTail = nullptr;
  TzfByteDynArray robEncryptionCookie;
  bool robDropAfterRollback = false;

 private:
  void LeaveTransaction();
  void TakeSnapShots();
};

class TzfModifiedBlock : public TzfBlockObject {
 public:
  // A copy for the level, joining the level's list; the newest copy of aBlock.
  TzfModifiedBlock(TzfReadOnlyBlock* aBlock, TzfBaseTransactionLevel* aLevel);
  ~TzfModifiedBlock() override;
  TzfEvictResult CheckedEvict(bool aForce) override;
  void Validate(const uint8_t* aBlock) override;
  // Moves the copy to the next outer level's list.
  void DecreaseTransLevel();

  TzfModifiedBlock* mbTransLevelPrev = nullptr;
  TzfModifiedBlock* mbTransLevelNext = nullptr;
  TzfReadOnlyBlock* mbReadOnlyBlock;
  TzfModifiedBlock* mbPrev;
  TzfBaseTransactionLevel* mbTransLevel;
  bool mbDiscarded = false;
};

class TzfBlockSnapShot : public TzfBlockObject {
 public:
  // Takes over the block's committed memory (loading it first) and joins its pre-image chain.
  explicit TzfBlockSnapShot(TzfReadOnlyBlock* aBlock);
  ~TzfBlockSnapShot() override;
  TzfEvictResult CheckedEvict(bool aForce) override;
  void Validate(const uint8_t* aBlock) override;

  int32_t bssLinkRefCount = 0;
  TzfReadOnlyBlock* bssReadOnlyBlock;
  TzfBlockSnapShot* bssBlockNext = nullptr;
  TzfBlockSnapShot* bssBlockPrev = nullptr;
};

class TzfBlockSnapShotLink : public TzfObject {
 public:
  TzfBlockSnapShotLink(TzfBlockSnapShot* aSnapShot, TzfBaseTransaction* aTrans);
  // Leaves both chains; the last link of a pre-image frees it.
  ~TzfBlockSnapShotLink() override;

  TzfBlockSnapShot* bsslBlockSnapShot;
  TzfReadOnlyBlock* bsslBlock;
  TzfBlockSnapShotLink* bsslBlockPrev = nullptr;
  TzfBlockSnapShotLink* bsslBlockNext = nullptr;
  TzfBaseTransaction* bsslTrans;
  TzfBlockSnapShotLink* bsslTransPrev = nullptr;
  TzfBlockSnapShotLink* bsslTransNext = nullptr;
};

class TzfFileSnapShotLink : public TzfObject {
 public:
  TzfFileSnapShotLink(TzfBaseFile* aFile, TzfBaseTransaction* aTrans);
  ~TzfFileSnapShotLink() override;

  TzfBaseFile* fsslFile;
  TzfFileSnapShotLink* fsslFilePrev = nullptr;
  TzfFileSnapShotLink* fsslFileNext = nullptr;
  uint32_t fsslFileCounter;
  uint32_t fsslUsedBlocks;
  TzfBaseTransaction* fsslTrans;
  TzfFileSnapShotLink* fsslTransPrev = nullptr;
  TzfFileSnapShotLink* fsslTransNext = nullptr;
};

}  // namespace zf
