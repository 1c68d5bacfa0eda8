// The static record engine's data blocks: fixed-length records in the slots of "ZFDH" blocks.
//
// Geometry, from the usable block size U and the record length L: slots per block R =
// (8U - 256) div (8L + 1); in-use bitmap B = (R + 7) div 8 bytes; slot size S = (U - 32 - B) div R
// with its low bits cleared one by one from bit 0 while S stays >= L; slot 1 at F = U - S * R.
//
// Data block ("ZFDH", owner ID = the engine's ID in version 2 files):
//
// | offset         | size | content                                                          |
// |----------------|------|------------------------------------------------------------------|
// | 0              | 16   | common block header                                              |
// | 16             | 4    | next data block (0 = last)                                       |
// | 20             | 4    | previous data block (0 = first)                                  |
// | 24             | 4    | next block in the free-slot chain (0 = end)                      |
// | 28             | 2    | first free slot of this block, 1-based (0 = full)                |
// | 30             | 2    | slots in use                                                     |
// | 32             | B    | in-use bitmap: slot n is bit (n-1) mod 8 of byte (n-1) div 8, LSB first |
// | F + (n-1) * S  | S    | slot n: the record (L bytes); a free slot holds in its first 4 bytes the next free slot (0 = none) |
//
// `zfCheckStaticBlock` holds every invariant of one block: tests call it after every batch, and
// the salvage uses it to judge a raw block. A block that passes hands on exactly the slots whose
// bit is set. A block that fails (a flipped count, bitmap or chain) still gives every slot whose
// bit is set and that is not on the block's free-slot chain, so neither a damaged count loses
// records nor a flipped bit brings a freed record back when the chain still names it.
#pragma once
#include <cstdint>

#include "platform/rtl/rtlText.h"
#include "storage/zfsrBlock.h"
#include "storage/zfsrExceptions.h"
#include "storage/zfsrRecordEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfStaticRecordEngineException, EzfBaseRecordEngineException)

inline constexpr TzfBlockSignature kzfStaticDataBlockSignature{'Z', 'F', 'D', 'H'};
inline constexpr uint32_t kzfStaticBlockHeaderSize = 32;

struct TzfStaticGeometry {
  uint32_t UsableSize = 0;
  uint32_t RecordLength = 0;
  uint32_t RecsPerBlock = 0;
  uint32_t InUseArraySize = 0;
  uint32_t SlotSize = 0;
  uint32_t FirstRecordOffset = 0;

  uint32_t SlotOffset(uint32_t aSlot) const { return FirstRecordOffset + (aSlot - 1) * SlotSize; }
};

// The geometry for usable size aU and record length aL; 15495 when not one record fits.
TzfStaticGeometry zfStaticGeometry(uint32_t aU, uint32_t aL);

// ---- one data block ----

inline bool zfStaticSlotInUse(const uint8_t* aBlock, uint32_t aSlot) {
  return (aBlock[32 + (aSlot - 1) / 8] >> ((aSlot - 1) % 8)) & 1;
}
// Formats an empty data block: signature, number, links, every slot free and chained in order.
void zfStaticInitBlock(PzfBlock aBlock, const TzfStaticGeometry& aGeo, TzfBlockNumber aNumber,
                       TzfBlockNumber aPrevious);
// Stores a record in the block's first free slot and answers the slot (0 when the block is full).
uint32_t zfStaticStoreRecord(PzfBlock aBlock, const TzfStaticGeometry& aGeo, const uint8_t* aRecord);
// Frees a used slot (it becomes the block's first free slot). 8708 when the slot is not in use.
void zfStaticFreeSlot(PzfBlock aBlock, const TzfStaticGeometry& aGeo, uint32_t aSlot);

struct TzfStaticBlockCheck {
  bool Valid = false;
  rtl::UnicodeString Problem;
};
// Every invariant of a data block that the block itself can show. Never raises.
TzfStaticBlockCheck zfCheckStaticBlock(const uint8_t* aBlock, const TzfStaticGeometry& aGeo,
                                       TzfBlockNumber aBlockNumber);

// Salvage of one raw block (see zfsrRecordEngineBase.h): aData as the engine's RecoverIterate
// takes it (nil: no buffer wanted; *aData nil: receives each record's address in the block; else a
// buffer of L bytes the record is copied into). aStats, when given, receives the counts.
TzfRecordIteratorResult zfStaticRecoverBlock(const uint8_t* aBlock, const TzfStaticGeometry& aGeo,
                                             TzfBlockNumber aBlockNumber, const uint8_t** aData,
                                             uint8_t* aCopyBuffer, const TzfRecordIterator& aIterator, void* aCookie,
                                             TzfRecoverStats* aStats);

// The fixed-length record engine ("zf1xDefault" and "Static"). Its 20-byte header section:
// record count (0), first data block (4), last data block (8), free slots over all blocks (12),
// first block with a free slot (16). Storage order: the data-block chain from the first block
// along offset 16, slots ascending. Blocks that empty stay in both chains.
class TzfStaticRecordEngine : public TzfBaseRecordEngine {
 public:
  // With a transaction (a new table) the section is created and zeroed, else looked up.
  TzfStaticRecordEngine(TzfBaseRecordDescriptor* aDescriptor, TzfFieldsDescriptor* aFields,
                        TzfBaseTransaction* aTrans, const TzfBlockAccessList& aFiles);

  static const TzfRecordEngineClass& ClassInfo();
  const TzfRecordEngineClass& ClassType() const override { return ClassInfo(); }
  // Raises the record file's block size until a record of the table fits (15495 when none does).
  static void CheckValidEngineDescriptor(TzfBaseTableDescriptor& aTable);

  void AddRecord(TzfBaseTransaction* aTrans, int64_t& aRefNr, const uint8_t* aRecData) override;
  void DeleteRecord(TzfBaseTransaction* aTrans, int64_t aRefNr) override;
  void ReadRecord(TzfBaseTransaction* aTrans, int64_t aRefNr, uint8_t* aRecData) override;
  void UpdateRecord(TzfBaseTransaction* aTrans, int64_t aRefNr, const uint8_t* aNewRecord,
                    uint8_t* aOldRecord) override;
  void ReadNextRecord(TzfBaseTransaction* aTrans, int64_t aFromRefNr, int64_t& aRefNr, uint8_t* aRecData) override;
  void ReadPrevRecord(TzfBaseTransaction* aTrans, int64_t aFromRefNr, int64_t& aRefNr, uint8_t* aRecData) override;
  uint32_t GetRecordCount(TzfBaseTransaction* aTrans) override;
  TzfRecordIteratorResult Iterate(TzfBaseTransaction* aTrans, int64_t& aRefNr, uint8_t** aData,
                                  const TzfRecordIterator& aIterator, void* aCookie,
                                  IzfFilterEvaluation* aFilter) override;
  TzfRecordIteratorResult IterateBackward(TzfBaseTransaction* aTrans, int64_t& aRefNr, uint8_t** aData,
                                          const TzfRecordIterator& aIterator, void* aCookie,
                                          IzfFilterEvaluation* aFilter) override;
  uint32_t RecNoGet(TzfBaseTransaction* aTrans, int64_t aRefNr, IzfFilterEvaluation* aFilter, uint32_t& aRecNo,
                    bool aFlipOrder) override;
  uint32_t RecNoSet(TzfBaseTransaction* aTrans, uint32_t aRecNo, int64_t& aRefNr, IzfFilterEvaluation* aFilter,
                    bool aFlipOrder) override;
  // 0 in a version-1 file (no owner IDs there), else the engine's ID.
  int32_t GetRecoverID() override { return reFileIsV1 ? 0 : bseID; }
  TzfRecordIteratorResult RecoverIterate(const uint8_t* aBlock, TzfBlockNumber aBlockNumber, const uint8_t** aData,
                                         const TzfRecordIterator& aIterator, void* aCookie,
                                         TzfRecoverStats* aStats = nullptr) override;
  TzfRecordIteratorResult ReadRecordForIterate(TzfBaseTransaction* aTrans, int64_t aRefNr, uint8_t** aData,
                                               const TzfRecordIterator& aIterator, void* aCookie,
                                               IzfFilterEvaluation* aFilter) override;
  void ReplaceAllRecords(TzfBaseTransaction* aTrans, const TzfGetRecordCallback& aCallback) override;

  // The whole chain checked: every block by its checker, the links both ways, the section's
  // counts and the free-slot chain. Empty when sound, else the first problem. For tests.
  rtl::UnicodeString CheckTable(TzfBaseTransaction* aTrans);

  uint16_t reHeaderSection = 0;
  bool reDeleteBlocks = false;
  TzfStaticGeometry reGeometry;
  bool reFileIsV1 = false;

 private:
  // A data block of this engine: 15409 out of range, 15413 not a data block of that number.
  PzfBlock FetchBlock(TzfBaseTransaction* aTrans, TzfBlockNumber aBlock, bool aMarkDirty, TzfReleaseMethod& aRm);
  // The block and slot of a reference: 15412 for a slot outside the block.
  void SplitRef(int64_t aRefNr, TzfBlockNumber& aBlock, uint32_t& aSlot) const;
  [[noreturn]] void RaiseDeleted(int64_t aRefNr) const;
  // The data block holding the record of aRefNr, its block number and slot in aBlock and aSlot;
  // the deleted-record error (RaiseDeleted) when that slot is free.
  PzfBlock FetchRecordBlock(TzfBaseTransaction* aTrans, int64_t aRefNr, bool aMarkDirty, TzfBlockNumber& aBlock,
                            uint32_t& aSlot, TzfReleaseMethod& aRm);
  // Walks the chain (backward: along the previous links) from aStart, calling aBlock for each data
  // block until it answers false; bounded by the file's used block count (8962 on a loop).
  void WalkChain(TzfBaseTransaction* aTrans, TzfBlockNumber aStart, bool aBackward,
                 const std::function<bool(TzfBlockNumber, PzfBlock)>& aBlock);
  TzfRecordIteratorResult IterateDir(TzfBaseTransaction* aTrans, int64_t& aRefNr, uint8_t** aData,
                                     const TzfRecordIterator& aIterator, void* aCookie, IzfFilterEvaluation* aFilter,
                                     bool aBackward);
  uint32_t Section(TzfBaseTransaction* aTrans, uint32_t aOffset);
};

rtl::TUnitInit& zfseRecordEngineStaticUnit();

}  // namespace zf
