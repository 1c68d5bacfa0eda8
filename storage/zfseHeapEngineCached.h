// The cached heap: variable-length segments spread over the data blocks ("ZFHD") of one sub-file,
// each block formatted as a non-fragmenting block heap, addressed by a heap reference (data block
// number * 2^32 + slot; 0 = none). A directory of the blocks that still have room lives in a
// chain of management blocks:
//
// Management block "ZFHM":
//
// | offset | size  | content                                                    |
// |--------|-------|------------------------------------------------------------|
// | 0      | 16    | common block header                                        |
// | 16     | 4     | next management block (0 = last)                           |
// | 20     | 2     | number of entries n (at most (U - 22) div 6)               |
// | 22     | 6 * n | entries: data block number (4), its free space (2)         |
//
// The directory is read into memory on first use and kept until the transaction that last
// changed it is rolled back. Every change of a data block's free space reaches it through the
// block heap's change event; blocks with less than 40 bytes free are not listed, blocks whose last
// segment goes are given back at once. Where the heap's root lives and what else a data block's
// owner header holds is the owner's business, reached through a `TzfHeapHeaderHandler`.
//
// A directory read from disk is bounded: the chain by the file's used block count, every entry
// count by what a block holds (8962 otherwise).
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "storage/zfseBlockHeapEngineNonfragmenting.h"
#include "storage/zfsrBlockAccess.h"
#include "storage/zfsrFile.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfCachedHeapEngineException, EzfServerException)

class TzfCachedHeapEngine;

// The heap owner's side: the first management block's number and the owner's data-block header.
class TzfHeapHeaderHandler : public TzfObject {
 public:
  ~TzfHeapHeaderHandler() override = default;
  // A new data block (already formatted) joins / an emptied one leaves the owner's bookkeeping.
  virtual void DataBlockAdded(TzfBaseTransaction* aTrans, TzfBaseFileHeaderAccess* aHeader, PzfBlock aBlock) = 0;
  virtual void DataBlockRemoved(TzfBaseTransaction* aTrans, TzfBaseFileHeaderAccess* aHeader, PzfBlock aBlock) = 0;
  // Bytes of a data block that belong to the owner (16: the common block header).
  virtual uint16_t HeaderSize() { return 16; }
  virtual uint32_t GetFirstManagementBlock(TzfBaseFileHeaderAccess* aHeader) = 0;
  virtual void SetFirstManagementBlock(TzfBaseFileHeaderAccess* aHeader, uint32_t aBlock) = 0;

  TzfCachedHeapEngine* hhhEngine = nullptr;
};

// One part of a segment's new content: bytes (nil: leave the range as it is) and their count.
struct TzfSegmentPart {
  const uint8_t* Data;
  uint32_t Size;
};

class TzfCachedHeapEngine : public TzfObject {
 public:
  // aID: the owner ID of the heap's blocks; the handler is owned.
  TzfCachedHeapEngine(int32_t aID, TzfBlockAccess* aDataFile, std::unique_ptr<TzfHeapHeaderHandler> aHandler);
  ~TzfCachedHeapEngine() override;

  // A new segment of exactly the parts' total size, the parts laid one after another; 0 when the
  // total is 0 or above the largest segment.
  int64_t AllocSegment(TzfBaseTransaction* aTrans, std::initializer_list<TzfSegmentPart> aParts);
  int64_t AllocSegment(TzfBaseTransaction* aTrans, const std::vector<TzfSegmentPart>& aParts);
  // One segment of aHeaderSize + k * aUnit bytes, at least aMinSize and at most the pieces' summed
  // size (capped at the largest segment): in the listed block with the most room when it holds
  // the summed size (or, unless aExactOnly, at least aMinSize), else in a new block; a summed size
  // above the largest segment always takes a new block. Filled from the pieces up to its size (a
  // nil piece leaves its range as it is); its size goes to aAllocated. 0 when nothing was
  // requested.
  int64_t AllocSegmentEx(TzfBaseTransaction* aTrans, const std::vector<const void*>& aItems,
                         const std::vector<uint32_t>& aSizes, uint16_t aMinSize, uint16_t& aAllocated,
                         uint16_t aHeaderSize, uint16_t aUnit, bool aExactOnly);
  // Segment aSegment of data block aBlock (held for change by the caller) takes the pieces' size
  // (at least aMinSize, which must be aHeaderSize + k * aUnit): in place when its block takes it
  // whole (capped at the largest segment), else in the listed block with the most room (as
  // AllocSegmentEx chooses it) or a new block, the old segment freed. Pieces are copied cut to
  // the size; a nil piece keeps the old bytes at its offset. Answers the heap reference afterwards
  // and its size in aAllocated; 0 when nothing was allocated (the segment is then unchanged).
  int64_t ReAllocSegmentEx(TzfBaseTransaction* aTrans, PzfBlock aBlock, uint32_t aSegment,
                           const std::vector<const void*>& aItems, const std::vector<uint32_t>& aSizes,
                           uint16_t aMinSize, uint16_t& aAllocated, uint16_t aHeaderSize, uint16_t aUnit,
                           bool aExactOnly);
  // Grows a segment in place towards aWantedSize by as much as its block allows, keeping the size
  // aHeaderSize + k * aUnit and the leading bytes; the new size (the old one when the block has no
  // room or the segment is already as large).
  uint16_t GrowSegmentInPlace(TzfBaseTransaction* aTrans, int64_t aHeapRef, uint32_t aWantedSize,
                              uint16_t aHeaderSize, uint16_t aUnit);
  // A data block's layout changed (its block heap's change event): keeps the directory in step,
  // giving the block back when its last segment went.
  void BlockHeapChanged(PzfBlock aBlock, uint16_t aSegmentCount, uint16_t aFreeSpace, uint16_t aRecoverable);
  // The data and size of a segment inside its data block; the caller releases aBlock with aRm.
  // With aMarkDirty the block is held for change and the caller may call the block heap on it.
  // 15409 / 15416 for a bad block, 15492 / 15493 for a bad slot (the block is then released).
  PzfByteArray GetSegment(TzfBaseTransaction* aTrans, int64_t aHeapRef, bool aMarkDirty, uint16_t& aSegmentSize,
                          PzfBlock& aBlock, TzfReleaseMethod& aRm);
  // A data block, checked to be a heap data block of that number (15409, 15416).
  PzfBlock ReadBlockHeap(TzfBaseTransaction* aTrans, TzfBlockNumber aBlock, bool aMarkDirty, TzfReleaseMethod& aRm);
  // Drops the in-memory directory when aTrans last changed it.
  void Rollback(TzfBaseTransaction* aTrans);
  // The management blocks and their entries against the data blocks they name. Empty when sound.
  rtl::UnicodeString CheckDirectory(TzfBaseTransaction* aTrans);

  static constexpr TzfBlockSignature SigDataBlock() { return {'Z', 'F', 'H', 'D'}; }
  static constexpr TzfBlockSignature SigManagementBlock() { return {'Z', 'F', 'H', 'M'}; }

  int32_t bseID;
  TzfBlockAccess* bheDataFile;
  std::unique_ptr<TzfHeapHeaderHandler> bheHeaderHandler;
  std::unique_ptr<TzfNonfragmentingBlockHeapEngine> bheBlockHeapEngine;
  uint16_t heMaxEntries;
  uint16_t heCutoffSize = 40;
  TzfBaseTransaction* heCurrentTrans = nullptr;

 private:
  struct TEntry {
    uint32_t Block;
    uint16_t Free;
  };
  struct TManagement {
    uint32_t Block;
    std::vector<TEntry> Entries;
  };
  PzfBlock ReadHeapBlock(TzfBaseTransaction* aTrans, TzfBlockNumber aBlock, bool aMarkDirty,
                         const TzfBlockSignature& aSignature, uint32_t aCode, TzfReleaseMethod& aRm);
  void LoadManagementBlocks(TzfBaseTransaction* aTrans);
  // Places a segment of aSize bytes in block aBlock (nil: a new block); 0 when it does not fit.
  int64_t PlaceSegment(TzfBaseTransaction* aTrans, uint32_t aBlock, uint32_t aSize,
                       const std::vector<const void*>& aItems, const std::vector<uint32_t>& aSizes);
  PzfBlock NewDataBlock(TzfBaseTransaction* aTrans, TzfReleaseMethod& aRm);
  uint32_t NewManagementBlock(TzfBaseTransaction* aTrans);
  void FreeDataBlock(TzfBaseTransaction* aTrans, PzfBlock aBlock);
  void TrimManagementBlocks(TzfBaseTransaction* aTrans);
  void RemoveEntry(size_t aManagement, size_t aEntry);
  uint16_t FirstNonFull() const;

  bool heManagmentBlocksLoaded = false;
  std::vector<TManagement> heManagmentBlocks;
  // Block number -> (management index, entry index); (free space, block number) of listed blocks.
  std::map<uint32_t, std::pair<size_t, size_t>> heByBlockNumber;
  std::set<std::pair<uint16_t, uint32_t>> heByFreeSpace;
};

}  // namespace zf
