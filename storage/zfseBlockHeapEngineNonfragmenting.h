// The non-fragmenting block heap: variable-length segments inside one block, each addressed by a
// slot number that stays valid however the segment moves inside the block.
//
// Block layout (U = usable block size, h = data-area start = ((owner header + 7) div 4) * 4, N =
// number of slots; every field a 16-bit unsigned little-endian word):
//
// | offset        | size | content                                                            |
// |---------------|------|--------------------------------------------------------------------|
// | 0             | h-4  | the owner's header (common block header and the owner's fields)     |
// | h-4           | 2    | live segment count                                                 |
// | h-2           | 2    | alignment gap, never written                                       |
// | h             | ...  | data area: segments and one free run, growing upwards               |
// | U-8-2N        | 2    | free-run pointer: offset of the free run, 0 when there is none      |
// | U-6-2n        | 2    | slot entry of segment n (n = 1..N; slot 1 at U-8)                   |
// | U-6           | 2    | recoverable space: bytes given back since the last compaction      |
// | U-4           | 2    | head of the free-slot chain (0 = empty)                            |
// | U-2           | 2    | N                                                                  |
//
// Slot entry, low two bits: 00 live (the entry is the segment's offset, a multiple of 4, >= h);
// 01 deleted (old offset | 1; its space is recoverable; reused only after a compaction); 10 free
// (next free slot * 4 + 2); 11 never written, always an invalid slot.
//
// A segment (and the free run) is a size word followed by that many bytes; its extent is
// cap(size) = (size + 2) rounded up to 4. The free run ends 2 bytes below the pointer word, the
// room of the next slot entry. Allocation takes from the free run; freeing only counts the space;
// a compaction packs the block when the run is too small but the recoverable space covers it.
//
// `zfCheckHeapBlock` holds every invariant of this layout in one place: tests call it after every
// batch, `VerifyBlock` raises on its verdict, and salvage uses it to judge a raw block. The
// operations themselves never read a slot entry or a segment outside the data area, whatever the
// block holds: a slot that points outside is an invalid slot (15492), a slot count whose directory
// runs into the data area is a corrupt block (8962).
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/rtl/rtlText.h"
#include "storage/zfsrBlock.h"
#include "storage/zfsrExceptions.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseBlockHeapEngineException, EzfServerException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfNonfragmentingBlockHeapEngineException, EzfBaseBlockHeapEngineException)

// Called after every successful allocation, resize and free: the block, its live segment count,
// its free-run size and its recoverable space (already lowered by the 8-byte margin).
using TzfBlockHeapChangedEvent =
    std::function<void(PzfBlock aBlock, uint16_t aSegmentCount, uint16_t aFreeSpaceSize, uint16_t aRecoverableSpace)>;

// The verdict of the block checker.
struct TzfHeapBlockCheck {
  bool Valid = false;
  // N as stored, and N bounded by what the block can hold (the salvage walks this many slots).
  uint32_t StoredSlotCount = 0;
  uint32_t SlotCount = 0;
  // The first invariant that failed (empty when valid).
  rtl::UnicodeString Problem;
};

// Data-area start for an owner header of aOwnerHeaderSize bytes.
constexpr uint32_t zfHeapDataStart(uint32_t aOwnerHeaderSize) { return ((aOwnerHeaderSize + 7) / 4) * 4; }
// Extent of a segment of aSize bytes: size word and data rounded up to 4.
constexpr uint32_t zfHeapCap(uint32_t aSize) { return (aSize + 2 + 3) & ~3u; }

// Checks every invariant of the layout on a block of usable size aU with data start aH. Never
// raises and reads nothing outside bytes 0 .. aU - 1.
TzfHeapBlockCheck zfCheckHeapBlock(const uint8_t* aBlock, uint32_t aU, uint32_t aH);

// For salvage: the data of live slot aSlot when its entry and its whole segment lie inside the
// data area (below the directory as the checked slot count places it), else nullptr. aSize gets
// the segment size.
const uint8_t* zfHeapSoundSegment(const uint8_t* aBlock, uint32_t aU, uint32_t aH, uint32_t aSlotCount,
                                  uint32_t aSlot, uint16_t& aSize);

class TzfNonfragmentingBlockHeapEngine : public TzfObject {
 public:
  // aBlockSize: the file's usable block size; aHeaderSize: the owner's header bytes.
  TzfNonfragmentingBlockHeapEngine(uint32_t aBlockSize, uint16_t aHeaderSize);

  // Formats an empty heap (data bytes are left as they are).
  void InitBlock(PzfBlock aBlock);
  // A new segment of aSegmentSize bytes: its data address (uninitialised) and slot; nullptr and
  // slot 0 when it does not fit this block.
  PzfByteArray AllocSegment(PzfBlock aBlock, uint16_t aSegmentSize, uint32_t& aSegment);
  // Gives segment aSegment a new size keeping min(old, new) bytes; the (maybe moved) data
  // address, nullptr when it does not fit (the block is then unchanged). 15492/15493 for bad slots.
  PzfByteArray ReAllocSegment(PzfBlock aBlock, uint16_t aNewSegmentSize, uint32_t aSegment);
  // Deletes a segment: 15492 for a bad slot, 15493 when already deleted.
  void FreeSegment(PzfBlock aBlock, uint32_t aSegment);
  // Data address and size of a live segment: 15492 for a bad slot, 15493 for a deleted one.
  PzfByteArray GetSegment(PzfBlock aBlock, uint32_t aSegment, uint16_t& aSegmentSize);
  // The next / previous live segment in slot order; nullptr at the end. Next from 0 gives the
  // first; previous from any number above N gives the last.
  PzfByteArray GetNextSegment(PzfBlock aBlock, uint32_t& aSegment, uint16_t& aSegmentSize);
  PzfByteArray GetPrevSegment(PzfBlock aBlock, uint32_t& aSegment, uint16_t& aSegmentSize);
  // Bytes an allocation can count on: free run + recoverable - min(8, recoverable).
  uint16_t GetFreespace(PzfBlock aBlock);
  // Packs the block; segment aResizeSegment (0: none) gets aNewSegmentSize on the way.
  void CompactBlock(PzfBlock aBlock, uint32_t aResizeSegment, uint16_t aNewSegmentSize);
  // Raises "Assertion failure" when zfCheckHeapBlock finds a broken invariant.
  void VerifyBlock(PzfBlock aBlock, bool aBefore);
  // Reports a change to the owner (the margin of 8 is taken off the recoverable space first).
  virtual void DoChanged(PzfBlock aBlock, uint16_t aSegmentCount, uint16_t aFreeSpaceSize, uint16_t aRecoverableSpace);

  uint32_t bbheBlockSize;
  uint16_t bbheHeaderSize;
  uint16_t bbheMaxSegmentSize;
  TzfBlockHeapChangedEvent bbheOnChanged;
  uint16_t bheHeaderSize;

 private:
  uint32_t SlotCount(const uint8_t* aBlock) const;
  uint32_t PointerOffset(uint32_t aN) const { return bbheBlockSize - 8 - 2 * aN; }
  uint32_t EntryOffset(uint32_t aSlot) const { return bbheBlockSize - 6 - 2 * aSlot; }
  // The live segment of a slot, its bounds checked: 15492 / 15493 as GetSegment.
  uint32_t LiveOffset(const uint8_t* aBlock, uint32_t aSegment, bool aFreeing) const;
  uint16_t RunSize(const uint8_t* aBlock) const;
  void Report(PzfBlock aBlock);

  std::vector<uint8_t> bheTempBlock;
};

}  // namespace zf
