// Index blocks as the index engines see them: the node store they run on, the common header of
// index blocks and the checked read of one block.
//
// Index block header (all integers little-endian):
//   offset 0  4  signature "ZFIH"
//          4  4  block number (the block's own number; checked on every read)
//          8  8  LSN (kept by the block store)
//         16  8  change counter (tree nodes)
//         24  4  previous leaf, -1 when none (-1 in internal nodes)
//         28  4  next leaf, -1 when none (-1 in internal nodes)
//         32  2  first used slot (0 in internal nodes)
//         34  2  number of entries
//         36  1  kind: 0 index header block, 1 internal node, 2 leaf
//         37  1  index number
//         38  2  not used
//         40  .. entries (see zfseIndexEngineStaticKeyBstarTree.h)
//
// The node store is the narrow seam between a tree and the storage below it: the storage layer
// implements it over its block access inside one transaction, the tests and the fuzz target over
// memory (zfseIndexNodeStoreMemory). A store raises on failure; every block it hands out is given
// back with ReleaseBlock exactly once.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "foundation/zfllException.h"
#include "storage/zfsrBlock.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseIndexEngineException, EzfBaseException)

// Little-endian cells: zfGetLE16/32/64 and zfPutLE16/32/64 of the storage layer's block helpers.

// ---- Common header of index blocks ----
inline constexpr uint32_t zfIndexNoBlock = 0xFFFFFFFFu;  // -1: no block (empty index, no neighbour)
inline constexpr uint8_t zfIndexBlockSignature[4] = {'Z', 'F', 'I', 'H'};
inline constexpr uint32_t zfIxOffSignature = 0, zfIxOffBlockNumber = 4, zfIxOffLSN = 8, zfIxOffCounter = 16,
                          zfIxOffPrev = 24, zfIxOffNext = 28, zfIxOffFirst = 32, zfIxOffCount = 34, zfIxOffKind = 36,
                          zfIxOffIndexNumber = 37, zfIxHeaderSize = 40;
inline constexpr uint8_t zfIxKindHeader = 0, zfIxKindInternal = 1, zfIxKindLeaf = 2;

// The index file of one index inside one transaction, as a tree needs it.
class TzfIndexNodeStore {
 public:
  virtual ~TzfIndexNodeStore() = default;
  // The usable block size of the index's file (every node lies within it).
  virtual uint32_t UsableBlockSize() const = 0;
  // The file name, for messages.
  virtual UnicodeString FileName() const = 0;
  // True when 0 < aBlock < the number of blocks the transaction sees.
  virtual bool ValidBlock(uint32_t aBlock) = 0;
  // The block's bytes, read-only or as the transaction's modifiable copy; raises when it cannot
  // be had. The bytes stay valid until the matching ReleaseBlock.
  virtual uint8_t* GetBlock(uint32_t aBlock, bool aForModify) = 0;
  virtual void ReleaseBlock(uint32_t aBlock, uint8_t* aData) = 0;
  // The block read-only when it is still a block of the index's file, else nil with nothing held:
  // a block a path remembers may since have been freed and taken by another file of the table.
  virtual uint8_t* GetOwnBlock(uint32_t aBlock) { return GetBlock(aBlock, false); }
  // A new modifiable block owned by the index engine; its number in aBlock. Released like the others.
  virtual uint8_t* NewBlock(uint32_t& aBlock) = 0;
  // Gives a block of the index back to the file (the block must not be held).
  virtual void DeleteBlock(uint32_t aBlock) = 0;
  // The transaction's LSN (its low 16 bits go into new node counters).
  virtual uint64_t LSN() = 0;
  // The index's values in the indices header: root (-1 when empty), node count, key count.
  virtual uint32_t GetRootNode() = 0;
  virtual void SetRootNode(uint32_t aBlock) = 0;
  virtual uint32_t GetNodeCount() = 0;
  virtual void SetNodeCount(uint32_t aCount) = 0;
  virtual uint32_t GetStoredKeyCount() = 0;
  virtual void SetStoredKeyCount(uint32_t aCount) = 0;
  // Lock and unlock the transaction the store works in (nothing without one): a scan holds the
  // lock from start to end, so the level it reads cannot be committed or rolled back under it.
  virtual void LockTransaction() {}
  virtual void UnlockTransaction() {}
};

// Holds the store's transaction locked while it lives.
class TzfIndexTransactionLock {
 public:
  explicit TzfIndexTransactionLock(TzfIndexNodeStore& aStore) : FStore(aStore) { FStore.LockTransaction(); }
  ~TzfIndexTransactionLock() { FStore.UnlockTransaction(); }
  TzfIndexTransactionLock(const TzfIndexTransactionLock&) = delete;
  TzfIndexTransactionLock& operator=(const TzfIndexTransactionLock&) = delete;

 private:
  TzfIndexNodeStore& FStore;
};

// Blocks held by one operation; all of them are given back when the list ends (also when the
// operation raises), so no block is released while the operation may still use it.
class TzfIndexReleaseList {
 public:
  explicit TzfIndexReleaseList(TzfIndexNodeStore& aStore) : FStore(aStore) {}
  ~TzfIndexReleaseList() { Release(); }
  TzfIndexReleaseList(const TzfIndexReleaseList&) = delete;
  TzfIndexReleaseList& operator=(const TzfIndexReleaseList&) = delete;
  uint8_t* Add(uint32_t aBlock, uint8_t* aData) {
    FHeld.push_back({aBlock, aData});
    return aData;
  }
  void Release() noexcept;

 private:
  struct THeld {
    uint32_t Block;
    uint8_t* Data;
  };
  TzfIndexNodeStore& FStore;
  std::vector<THeld> FHeld;
};

// One held block, given back when the holder ends or takes another block.
class TzfIndexBlockHold {
 public:
  explicit TzfIndexBlockHold(TzfIndexNodeStore& aStore) : FStore(aStore) {}
  ~TzfIndexBlockHold() { Release(); }
  TzfIndexBlockHold(const TzfIndexBlockHold&) = delete;
  TzfIndexBlockHold& operator=(const TzfIndexBlockHold&) = delete;
  void Set(uint32_t aBlock, uint8_t* aData) {
    Release();
    FBlock = aBlock;
    FData = aData;
  }
  void Release() noexcept;
  uint8_t* Data() const { return FData; }
  uint32_t Block() const { return FBlock; }

 private:
  TzfIndexNodeStore& FStore;
  uint32_t FBlock = 0;
  uint8_t* FData = nullptr;
};

// Reads an index block: a block outside the file raises 15409, a block that does not carry the
// index signature and its own number 15424 (the block is given back first). With aForModify the
// change counter grows by one. The caller releases the block.
uint8_t* zfReadIndexBlock(TzfIndexNodeStore& aStore, uint32_t aBlock, bool aForModify);
// 15424 "Block just read from file is not a valid index block [%s, block %d]".
[[noreturn]] void zfRaiseNotAnIndexBlock(TzfIndexNodeStore& aStore, uint32_t aBlock);

}  // namespace zf
