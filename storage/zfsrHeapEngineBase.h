// The heap kinds of sub-engines.
//
// - The block heap kind (`TzfBaseBlockHeapEngine`, kind word "BlockHeap") manages the segments
//   inside one block: allocation, resizing in place, freeing and walking by slot number.
// - The heap kind (`TzfBaseHeapEngine`, kind word "Heap") stores variable-sized segments anywhere in
//   a file and names each by a 64-bit heap reference: the block number in the high 32 bits, the
//   slot within the block in the low 32 bits. It owns a block heap engine for the inside of its
//   blocks and a header handler supplied by its user.
// - `TzfHeapHeaderHandler` lets the heap's user decide what the heap keeps in the user's own header
//   section (the first management block) and hear about data blocks coming and going.
//
// Users of a heap reach a segment with `GetSegment`, which hands out the segment's block; changes
// inside that block (freeing a segment, resizing it in place, asking the room left) go through the
// heap's block heap engine on that block, which reports layout changes back to the heap
// (`bbheOnChanged` -> `BlockHeapChanged`) so that the heap can keep its free-space bookkeeping.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "dictionary/zfsdStorageDescriptor.h"
#include "storage/zfseBlockHeapEngineNonfragmenting.h"
#include "storage/zfseHeapEngineCached.h"
#include "storage/zfsrBlockAccess.h"
#include "storage/zfsrSubEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseHeapEngineException, EzfBaseSubEngineException)

class TzfBaseBlockHeapEngine;
class TzfBaseHeapEngine;
class TzfBaseFileHeaderAccess;
class TzfBaseTransaction;

// ---- block heap kind ----

struct TzfBlockHeapEngineClass : TzfSubEngineClass {
  using TCreate = std::unique_ptr<TzfBaseBlockHeapEngine> (*)(TzfBaseBlockHeapDescriptor* aDescriptor,
                                                             uint32_t aBlockSize, uint16_t aHeaderSize,
                                                             int32_t aTableVersion);
  using TCheckValidEngineDescriptor = void (*)(TzfBaseBlockHeapDescriptor* aDescriptor);
  constexpr TzfBlockHeapEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent,
                                    TzfGetListProc aGetList, TCreate aCreate,
                                    TCheckValidEngineDescriptor aCheckValidEngineDescriptor = nullptr)
      : TzfSubEngineClass(aName, aParent, aGetList, u"BlockHeap", nullptr),
        Create(aCreate),
        CheckValidEngineDescriptor(aCheckValidEngineDescriptor) {}

  TCreate Create;
  TCheckValidEngineDescriptor CheckValidEngineDescriptor;
};

class TzfBaseBlockHeapEngine : public TzfBaseSubEngine {
 public:
  // Stores the descriptor's ID (0 without one), the table version, the usable block size and the
  // bytes at the start of each block that belong to the block's owner.
  TzfBaseBlockHeapEngine(TzfBaseBlockHeapDescriptor* aDescriptor, uint32_t aBlockSize, uint16_t aHeaderSize,
                         int32_t aTableVersion);

  static const TzfBlockHeapEngineClass& ClassInfo();
  const TzfBlockHeapEngineClass& ClassType() const override { return ClassInfo(); }

  // The engine named by the descriptor's block heap engine name (15503 "Unknown BlockHeap
  // engine"); nil for a nil descriptor.
  static std::unique_ptr<TzfBaseBlockHeapEngine> CreateEngine(TzfBaseBlockHeapDescriptor* aDescriptor,
                                                              uint32_t aBlockSize, uint16_t aHeaderSize,
                                                              int32_t aTableVersion);
  // Engine-name check (15503) and the engine's own check of the descriptor.
  static void CheckValidBaseFromDescriptor(TzfBaseBlockHeapDescriptor* aDescriptor);

  // Calls bbheOnChanged when it is assigned.
  virtual void DoChanged(PzfBlock aBlock, uint16_t aSegmentCount, uint16_t aFreeSpaceSize,
                         uint16_t aRecoverableSpace);
  // Formats an empty block.
  virtual void InitBlock(PzfBlock aBlock) = 0;
  // A new segment: its data and slot; nil when the block has no room.
  virtual PzfByteArray AllocSegment(PzfBlock aBlock, uint16_t aSegmentSize, uint32_t& aSegment) = 0;
  // Resizes in place keeping the leading bytes; nil (segment unchanged) when the block cannot.
  virtual PzfByteArray ReAllocSegment(PzfBlock aBlock, uint16_t aNewSegmentSize, uint32_t aSegment) = 0;
  virtual void FreeSegment(PzfBlock aBlock, uint32_t aSegment) = 0;
  // The data and size of a live segment; a bad slot raises a coded error.
  virtual PzfByteArray GetSegment(PzfBlock aBlock, uint32_t aSegment, uint16_t& aSegmentSize) = 0;
  virtual PzfByteArray GetNextSegment(PzfBlock aBlock, uint32_t& aSegment, uint16_t& aSegmentSize) = 0;
  virtual PzfByteArray GetPrevSegment(PzfBlock aBlock, uint32_t& aSegment, uint16_t& aSegmentSize) = 0;
  // The bytes by which a segment of this block can still grow or be allocated.
  virtual uint16_t GetFreespace(PzfBlock aBlock) = 0;

  uint32_t bbheBlockSize;
  uint16_t bbheHeaderSize;
  uint16_t bbheMaxSegmentSize = 0;
  TzfBlockHeapChangedEvent bbheOnChanged;
};

// ---- header handler ----

// `TzfHeapHeaderHandler` (storage/zfseHeapEngineCached.h) is the one handler class of every heap:
// DataBlockAdded, DataBlockRemoved, HeaderSize (16 in the base), Get/SetFirstManagementBlock.

// ---- heap kind ----

struct TzfHeapEngineClass : TzfSubEngineClass {
  using TCreate = std::unique_ptr<TzfBaseHeapEngine> (*)(TzfBaseHeapDescriptor* aDescriptor,
                                                        TzfBlockAccess* aDataFile,
                                                        std::unique_ptr<TzfHeapHeaderHandler> aHeaderHandler);
  using TCheckValidEngineDescriptor = void (*)(TzfBaseHeapDescriptor* aDescriptor);
  constexpr TzfHeapEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                               TCreate aCreate, TCheckValidEngineDescriptor aCheckValidEngineDescriptor = nullptr)
      : TzfSubEngineClass(aName, aParent, aGetList, u"Heap", nullptr),
        Create(aCreate),
        CheckValidEngineDescriptor(aCheckValidEngineDescriptor) {}

  TCreate Create;
  TCheckValidEngineDescriptor CheckValidEngineDescriptor;
};

// A heap reference's parts.
constexpr TzfBlockNumber zfHeapRefBlock(int64_t aHeapRef) { return TzfBlockNumber(uint64_t(aHeapRef) >> 32); }
constexpr uint32_t zfHeapRefSegment(int64_t aHeapRef) { return uint32_t(uint64_t(aHeapRef)); }
constexpr int64_t zfMakeHeapRef(TzfBlockNumber aBlock, uint32_t aSegment) {
  return int64_t((uint64_t(aBlock) << 32) | aSegment);
}

class TzfBaseHeapEngine : public TzfBaseSubEngine {
 public:
  // A nil data file or handler is an assertion failure. Takes the handler,
  // makes the block heap engine of the descriptor's block heap descriptor with the file's usable
  // block size and the handler's data block header size, and hooks its change event.
  TzfBaseHeapEngine(TzfBaseHeapDescriptor* aDescriptor, TzfBlockAccess* aDataFile,
                    std::unique_ptr<TzfHeapHeaderHandler> aHeaderHandler);
  ~TzfBaseHeapEngine() override;

  static const TzfHeapEngineClass& ClassInfo();
  const TzfHeapEngineClass& ClassType() const override { return ClassInfo(); }

  // The engine named by the descriptor (15503 "Unknown Heap engine"); nil for a nil descriptor.
  static std::unique_ptr<TzfBaseHeapEngine> CreateEngine(TzfBaseHeapDescriptor* aDescriptor, TzfBlockAccess* aDataFile,
                                                         std::unique_ptr<TzfHeapHeaderHandler> aHeaderHandler);
  // 10004 "A block heap descriptor is required" without one, else the block heap kind's check.
  static void CheckValidEngineDescriptor(TzfBaseHeapDescriptor* aDescriptor);
  // Engine-name check (15503) and the engine's own check.
  static void CheckValidBaseFromDescriptor(TzfBaseHeapDescriptor* aDescriptor);

  // Receives the block heap's change event.
  virtual void BlockHeapChanged(PzfBlock aBlock, uint16_t aSegmentCount, uint16_t aFreeSpaceSize,
                                uint16_t aRecoverableSpace) = 0;
  // Forward to the header handler.
  virtual void DataBlockAdded(TzfBaseTransaction* aTrans, TzfBaseFileHeaderAccess* aHeaderAccess, PzfBlock aBlock);
  virtual void DataBlockRemoved(TzfBaseTransaction* aTrans, TzfBaseFileHeaderAccess* aHeaderAccess, PzfBlock aBlock);
  virtual uint32_t GetFirstManagementBlock(TzfBaseFileHeaderAccess* aHeaderAccess);
  virtual void SetFirstManagementBlock(TzfBaseFileHeaderAccess* aHeaderAccess, uint32_t aValue);

  // One segment of the summed size filled from the pieces in order (a nil piece stays unwritten);
  // 0 when nothing was requested.
  virtual int64_t AllocSegment(TzfBaseTransaction* aTrans, const std::vector<const void*>& aItems,
                               const std::vector<uint16_t>& aSizes) = 0;
  // One segment of aHeaderSize + k * aUnit bytes, at least aMinSize and at most the summed size:
  // free space of an existing block that holds the summed size (or, unless aExactOnly, at least
  // aMinSize), else a new block with the size capped at the block heap's maximum; a summed size
  // above that maximum always takes a new block. Filled from the pieces up to its size; its size
  // goes to aAllocated.
  virtual int64_t AllocSegmentEx(TzfBaseTransaction* aTrans, const std::vector<const void*>& aItems,
                                 const std::vector<uint32_t>& aSizes, uint16_t aMinSize, uint16_t& aAllocated,
                                 uint16_t aHeaderSize, uint16_t aUnit, bool aExactOnly) = 0;
  // Gives segment aSegment of data block aBlock (held for change by the caller) the size of the
  // pieces (at least aMinSize, aHeaderSize + k * aUnit): in place when its block takes the whole
  // size, else moved like AllocSegmentEx places a segment, the old one freed. A nil piece keeps the
  // old bytes at its offset. Answers the segment's heap reference afterwards and its size in
  // aAllocated; 0 when nothing was allocated (the segment is then unchanged).
  virtual int64_t ReAllocSegmentEx(TzfBaseTransaction* aTrans, PzfBlock aBlock, uint32_t aSegment,
                                   const std::vector<const void*>& aItems, const std::vector<uint32_t>& aSizes,
                                   uint16_t aMinSize, uint16_t& aAllocated, uint16_t aHeaderSize, uint16_t aUnit,
                                   bool aExactOnly) = 0;
  // Grows (or shrinks) segment aHeapRef in place towards aWantedSize, by as much as its block
  // allows, keeping the size aHeaderSize + k * aUnit; answers the new size (the old one when the
  // block has no room). The leading bytes are kept. The segmented BLOB engine extends its last
  // data segment this way.
  virtual uint16_t GrowSegmentInPlace(TzfBaseTransaction* aTrans, int64_t aHeapRef, uint32_t aWantedSize,
                                      uint16_t aHeaderSize, uint16_t aUnit) = 0;
  // The segment's bytes, its size and its block; the caller releases the block through
  // aReleaseMethod. A reference that names no live segment raises a coded error.
  virtual PzfByteArray GetSegment(TzfBaseTransaction* aTrans, int64_t aHeapRef, bool aMarkDirty,
                                  uint16_t& aSegmentSize, PzfBlock& aBlock, TzfReleaseMethod& aReleaseMethod) = 0;
  virtual PzfBlock ReadBlockHeap(TzfBaseTransaction* aTrans, TzfBlockNumber aBlockNumber, bool aMarkDirty,
                                 TzfReleaseMethod& aReleaseMethod) = 0;
  virtual void Rollback(TzfBaseTransaction* aTrans) = 0;
  virtual TzfBlockSignature SigDataBlock() = 0;
  // Header handler's data block header size.
  uint16_t HeaderSize() { return bheHeaderHandler->HeaderSize(); }

  std::unique_ptr<TzfBaseBlockHeapEngine> bheBlockHeapEngine;
  TzfBlockAccess* bheDataFile;
  std::unique_ptr<TzfHeapHeaderHandler> bheHeaderHandler;
};

rtl::TUnitInit& zfsrHeapEngineBaseUnit();

}  // namespace zf
