// The simple indices engine: the indexes of one table kept in step with its records, and the index
// header block ("ZFIH") that holds each index's root, node count and key count.
//
// Indices header section: 4 bytes in each file's header, the block number of that file's index
// header block, or -1 while it has none.
// Index header block (integers little-endian):
//   0   16    common block header: "ZFIH", block number, LSN
//   16  20    not used
//   36  1     kind 0 (never a tree node)
//   37  3     not used
//   40  3584  four arrays by index number 0..255:
//               +0     u16 key length        +512   u32 key count
//               +1536  u32 root (-1 empty)   +2560  u32 node count
// A new block has every length and count 0 and every root -1. Opening checks, per index, that its
// file has a header block and that the stored key length is the key engine's (8961 otherwise).
//
// Key maintenance (InsertKeys, UpdateKeys, DeleteKeys) answers codes: 9729 for a key violation,
// after undoing what it had already changed, so a refused record leaves every index as it was.
// Only a failed delete or a failed undo marks the transaction corrupted.
#pragma once
#include <memory>
#include <vector>

#include "index/zfseIndexPlacedKeys.h"
#include "index/zfsrIndexBulkBuilder.h"
#include "index/zfsrIndexEngineBase.h"
#include "storage/zfsrFile.h"

namespace zf {

class TzfBaseTransaction;

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseIndicesEngineException, EzfBaseIndexEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfSimpleIndicesEngineException, EzfBaseIndicesEngineException)

inline constexpr uint32_t zfIhOffHeader = 40, zfIhKeyLen = 0, zfIhKeyCount = 512, zfIhRoot = 1536,
                          zfIhPageCount = 2560, zfIhSize = 3584, zfIhMaxIndexes = 256;

// One file of a table's indexes inside one transaction.
class TzfIndexFileAccess {
 public:
  virtual ~TzfIndexFileAccess() = default;
  // The file's blocks (the store's own root and counts are not used: they live in the header block).
  virtual TzfIndexNodeStore& Blocks() = 0;
  // The indices header section: false when the file has none.
  virtual bool ReadHeaderSection(uint32_t& aBlock) = 0;
  // Creates the section when needed and writes it.
  virtual void WriteHeaderSection(uint32_t aBlock) = 0;
  // A new header access of the file (for change with aMarkDirty); nil for a file without one.
  virtual std::unique_ptr<TzfBaseFileHeaderAccess> FileHeaderAccess(bool aMarkDirty);
};

// The values of one index in its file's index header block. The block is read on first use (for
// change when the access was obtained for change) and held until the access is freed.
class TzfSimpleIndicesHeaderAccess : public TzfBaseIndexHeaderAccess {
 public:
  // 8961 when the file has no index header block; a range error for an index number above 255.
  TzfSimpleIndicesHeaderAccess(TzfIndexFileAccess& aFile, TzfBaseTransaction* aTrans, TzfBaseIndexEngine& aIndex,
                               int32_t aID, bool aFileMarkDirty, bool aIndexMarkDirty);
  ~TzfSimpleIndicesHeaderAccess() override;
  uint32_t GetRootNode() override;
  void SetRootNode(uint32_t aBlock) override;
  uint32_t GetNodeCount() override;
  void SetNodeCount(uint32_t aCount) override;
  uint32_t GetStoredKeyCount() override;
  void SetStoredKeyCount(uint32_t aCount) override;
  uint64_t GetHeaderLSN() override;
  // The index header block, read (and checked: 8961) on first use.
  uint8_t* IndexHeaderBlock();

  uint32_t haInxBlockNumber = zfIndexNoBlock;

 protected:
  std::unique_ptr<TzfBaseFileHeaderAccess> MakeFileHeaderAccess() override;

 private:
  uint8_t* Cell(uint32_t aArray);
  TzfIndexFileAccess& haFile;
  uint8_t* haInxBlock = nullptr;
};

// The node store of one index: blocks from its file, root and counts from element [index number]
// of the file's index header block.
class TzfIndexHeaderNodeStore : public TzfIndexNodeStore {
 public:
  // 8961 when the file has no index header block.
  TzfIndexHeaderNodeStore(TzfIndexFileAccess& aFile, int32_t aIndexNumber);
  uint32_t UsableBlockSize() const override { return FBlocks.UsableBlockSize(); }
  UnicodeString FileName() const override { return FBlocks.FileName(); }
  bool ValidBlock(uint32_t aBlock) override { return aBlock != FHeader && FBlocks.ValidBlock(aBlock); }
  uint8_t* GetBlock(uint32_t aBlock, bool aForModify) override { return FBlocks.GetBlock(aBlock, aForModify); }
  void ReleaseBlock(uint32_t aBlock, uint8_t* aData) override { FBlocks.ReleaseBlock(aBlock, aData); }
  uint8_t* GetOwnBlock(uint32_t aBlock) override { return FBlocks.GetOwnBlock(aBlock); }
  uint8_t* NewBlock(uint32_t& aBlock) override { return FBlocks.NewBlock(aBlock); }
  void DeleteBlock(uint32_t aBlock) override { FBlocks.DeleteBlock(aBlock); }
  uint64_t LSN() override { return FBlocks.LSN(); }
  uint32_t GetRootNode() override { return Get32(zfIhRoot); }
  void SetRootNode(uint32_t aBlock) override { Set32(zfIhRoot, aBlock); }
  uint32_t GetNodeCount() override { return Get32(zfIhPageCount); }
  void SetNodeCount(uint32_t aCount) override { Set32(zfIhPageCount, aCount); }
  uint32_t GetStoredKeyCount() override { return Get32(zfIhKeyCount); }
  void SetStoredKeyCount(uint32_t aCount) override { Set32(zfIhKeyCount, aCount); }
  void LockTransaction() override { FBlocks.LockTransaction(); }
  void UnlockTransaction() override { FBlocks.UnlockTransaction(); }
  uint32_t HeaderBlock() const { return FHeader; }

  // While a scope lives, the header block is fetched once (for change from the first change on)
  // and kept, instead of once per value: one key operation reads and writes several values.
  class TScope {
   public:
    explicit TScope(TzfIndexHeaderNodeStore& aStore) : FStore(aStore) { ++FStore.FScopes; }
    ~TScope();
    TScope(const TScope&) = delete;
    TScope& operator=(const TScope&) = delete;

   private:
    TzfIndexHeaderNodeStore& FStore;
  };

 private:
  uint32_t Get32(uint32_t aArray);
  void Set32(uint32_t aArray, uint32_t aValue);
  // The header block as held by the scope (fetched for change when aForModify).
  uint8_t* Held(bool aForModify);
  void Unhold() noexcept;
  TzfIndexNodeStore& FBlocks;
  uint32_t FHeader = zfIndexNoBlock;
  uint32_t FIndex;
  int32_t FScopes = 0;
  uint8_t* FHeld = nullptr;
  bool FHeldForModify = false;
};

class TzfSimpleIndicesEngine {
 public:
  struct TIndex {
    std::unique_ptr<TzfBaseIndexEngine> Engine;
    int32_t FileNumber = 0;
  };
  // aCreate: the indexes are being made (each file gets its section and header block, each index
  // its key length and an empty root); otherwise they are opened and every header is verified.
  // aTrans (may be null) is marked corrupted where an undo cannot restore the indexes.
  TzfSimpleIndicesEngine(std::vector<TzfIndexFileAccess*> aFiles, std::vector<TIndex> aIndexes, bool aCreate,
                         TzfBaseTransaction* aTrans = nullptr);
  ~TzfSimpleIndicesEngine();

  int32_t IndexEngineCount() const { return static_cast<int32_t>(biseIndices.size()); }
  // Range error for a number outside the list.
  TzfBaseIndexEngine& GetIndexEngine(int32_t aIndex);
  TzfIndexNodeStore& Store(int32_t aIndex);

  // The table's records (nil: none), handed to every index engine: paths rebuild keys from them
  // and adding an index to a table with records indexes them. Not owned.
  void SetRecordEngine(TzfIndexRecordSource* aRecords);
  TzfIndexRecordSource* RecordEngine() const { return biseRecordEngine; }
  // The per-index header values for one operation (see TzfBaseIndexHeaderAccess); the caller owns it.
  std::unique_ptr<TzfBaseIndexHeaderAccess> CreateIndexHeaderAccess(TzfBaseIndexEngine& aIndexEngine,
                                                                    bool aFileMarkDirty, bool aIndexMarkDirty,
                                                                    int32_t aFieldCount, int32_t aPartialLen);

  uint32_t InsertKeys(int64_t aRefNr, const uint8_t* aRecord, TzfBaseIndexPath* aPath);
  uint32_t DeleteKeys(int64_t aRefNr, const uint8_t* aRecord, TzfBaseIndexPath* aPath);
  uint32_t UpdateKeys(int64_t aOldRefNr, const uint8_t* aOldRecord, int64_t aNewRefNr, const uint8_t* aNewRecord,
                      TzfBaseIndexPath* aPath);

  // Appends an index (its number must be the next one: 15425 otherwise) and gives it an empty
  // root in its file's header block. With aAddToExisting and records, the table's records are
  // indexed at once (bulk built). A failure (9729 for equal keys the index forbids, a key that cannot
  // be built, a read error) raises with the engine as before the call; the blocks already written
  // are left to the caller's rollback.
  void AddIndex(TIndex aIndex, bool aAddToExisting = false);
  // Indexes every record of the table into the indexes from aFrom on, which must be empty (15511):
  // one bulk builder over them, fed from the records. Raises like AddIndex.
  void AddExistingRecords(int32_t aFrom);
  // Deletes the index's keys and drops it; later indexes move down one number, with their header
  // values and bookmark identities. 15425 for a number outside the list.
  void RemoveIndex(int32_t aIndex);
  // 8961 when the index's file has no header block or its stored key length differs.
  void VerifyIndexHeader(int32_t aIndex);
  // Nil without indexes, the index's own builder for one, a hub for more.
  std::unique_ptr<TzfBaseBulkBuilder> CreateBulkBuilder();

  // Deferred keys, for a bulk load into empty indexes (the table recover): the indexes that can
  // never refuse a key (keys that are reference numbers, or duplicates of every key allowed) leave
  // key maintenance; InsertKeys still builds their keys, so a key that cannot be built refuses the
  // record as before. The unique indexes are deferred too when their placed keys fit as well: each
  // keeps the keys placed so far in memory (TzfPlacedKeySet) and refuses, at once, a record whose
  // key equals one of a record that still stands, exactly as its tree would; otherwise they keep
  // their trees up to date as before. Answers the number of deferred indexes. The bulk build keeps
  // its keys in its own memory: when aRecords records (an upper bound) would need more than
  // aMaxBytes of it, nothing is deferred (answer 0). No index may be added or removed while keys
  // are deferred, and no deferred unique index without the table's records.
  int32_t DeferKeys(int64_t aRecords, int64_t aMaxBytes);
  // Fills the deferred indexes from the table's records in one bulk build (they must be empty:
  // 15511) and ends the deferral, also when the build raises (the blocks written are then left to
  // the caller's rollback).
  void BuildDeferredKeys();
  // Ends the deferral without building: the deferred indexes stay as they are.
  void EndDeferral();
  bool KeysDeferred(int32_t aIndex) const {
    return aIndex >= 0 && static_cast<size_t>(aIndex) < biseDeferred.size() && biseDeferred[static_cast<size_t>(aIndex)];
  }
  bool NLSVersionChanged() const { return biseNLSVersionChanged; }
  // The transaction marked corrupted where an undo fails, for the calls that follow.
  void SetTransaction(TzfBaseTransaction* aTrans) { biseTrans = aTrans; }
  // The owner ID of the index blocks (the indices engine's sub-engine ID), for header accesses.
  void SetOwnerID(int32_t aID) { biseID = aID; }
  bool MarkedCorrupted() const { return biseMarkedCorrupted; }

 private:
  void MarkCorrupted();
  void EnsureIndexHeaderBlock(TzfIndexFileAccess& aFile);
  void IndexAdded(int32_t aIndex);
  void IndexRemoved(int32_t aIndex);
  void UndoInsertedKeys(int32_t aFailed, int64_t aRefNr, TzfBaseIndexPath* aPath);
  void UndoUpdatedKeys(int32_t aFailed, int64_t aOldRefNr, int64_t aNewRefNr, TzfBaseIndexPath* aPath);
  void AllocateKeyBuffers();
  // One bulk builder over aIndexes (which must be empty), fed from the table's records.
  void BulkBuild(const std::vector<int32_t>& aIndexes);
  bool AnyDeferred() const;
  // A deferred unique index's decision for aKey of record aRefNr: false when a record that still
  // stands holds an equal key the index forbids; otherwise the key is placed.
  bool PlaceUniqueKey(int32_t aIndex, const uint8_t* aKey, int64_t aRefNr);
  // Whether record aRefNr stands and its key in index aIndex is one aKey may not repeat.
  bool HoldsEqualKey(int32_t aIndex, int64_t aRefNr, const uint8_t* aKey);
  // One key change of index aIndex, its header block fetched once for the whole change.
  bool KeyInsert(int32_t aIndex, const uint8_t* aKey, int64_t aRefNr, TzfBaseIndexPath* aPath);
  bool KeyDelete(int32_t aIndex, const uint8_t* aKey, int64_t aRefNr, TzfBaseIndexPath* aPath);

  std::vector<TzfIndexFileAccess*> biseFiles;
  std::vector<TIndex> biseIndices;
  std::vector<std::unique_ptr<TzfIndexHeaderNodeStore>> biseStores;
  std::vector<std::vector<uint8_t>> biseNewKeys, biseOldKeys;
  std::vector<bool> biseNewKeysValid, biseOldKeysValid;
  std::vector<int> biseComp;
  std::vector<bool> biseDeferred;  // per index: keys left to BuildDeferredKeys
  // Per deferred unique index: the keys placed so far (nil elsewhere).
  std::vector<std::unique_ptr<TzfPlacedKeySet>> bisePlaced;
  std::vector<uint8_t> biseProbeRecord, biseProbeKey;
  TzfBaseTransaction* biseTrans;
  TzfIndexRecordSource* biseRecordEngine = nullptr;
  int32_t biseID = 0;
  bool biseNLSVersionChanged = false;
  bool biseMarkedCorrupted = false;
};

}  // namespace zf
