// The variable record engine's record segments and their salvage. Each record is one segment of
// the record heap; its first byte holds flags:
//
// | bit  | meaning                                                                          |
// |------|----------------------------------------------------------------------------------|
// | 0x01 | moved: the record of another segment's reference, which forwards here            |
// | 0x02 | raw: bytes 1 .. L are the record buffer                                          |
// | 0x04 | forward: exactly 9 bytes; bytes 1..8 the heap reference now holding the record  |
// | 0x08 | padded: the data was shorter than 9 bytes and padded to 9                       |
//
// Raw record: flags 0x02 (+0x08), the L record bytes, and when L < 9 another 9 - L padding bytes.
// Compressed record: flags 0x00 (+0x08), the compressed bytes; fewer than 9 (c) are padded to 9 and
// the last byte of the segment holds 9 - c. Every segment holding record data is at least 10 bytes,
// so it can later become a forward in place.
//
// Heap data blocks of the record heap ("ZFHD") carry a 24-byte owner header: the common block
// header, then the next (16) and previous (20) data block of the engine's chain; the block heap's
// data area starts at 28. The BLOB heap's blocks carry only the common header (data at 20), which
// is how the salvage tells the two apart where owner IDs cannot (version 1 files).
//
// Decoding is bounded on both sides: a raw segment must be exactly 1 + max(L, 9) bytes, a padded
// compressed one exactly 10 with a pad count of 1..8, and the compression engine must consume its
// input exactly; anything else is a damaged segment, never a half-decoded record. A damaged block
// whose directory shows more live entries than its live count gives nothing: one of them is a
// deleted segment whose entry was flipped live, and it cannot be told from the others.
#pragma once
#include <cstdint>

#include "storage/zfseBlockHeapEngineNonfragmenting.h"
#include "storage/zfseHeapEngineCached.h"
#include "storage/zfsrHeapEngineBase.h"
#include "storage/zfsrRecordCompressionEngineBase.h"
#include "storage/zfsrRecordEngineBase.h"
#include "storage/zfseRecordEngineStatic.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfVariableRecordEngineException, EzfBaseRecordEngineException)

inline constexpr TzfBlockSignature kzfHeapDataBlockSignature{'Z', 'F', 'H', 'D'};
inline constexpr TzfBlockSignature kzfHeapManagementBlockSignature{'Z', 'F', 'H', 'M'};
inline constexpr uint16_t kzfVariableOwnerHeaderSize = 24;
inline constexpr uint16_t kzfBlobHeapOwnerHeaderSize = 16;

inline constexpr uint8_t kzfSegMoved = 0x01;
inline constexpr uint8_t kzfSegRaw = 0x02;
inline constexpr uint8_t kzfSegForward = 0x04;
inline constexpr uint8_t kzfSegPadded = 0x08;

// Room a segment of a record of length aL needs at most: flags and max(aL, 9) bytes.
constexpr uint32_t zfVariableSegmentRoom(uint32_t aL) { return 1 + (aL < 9 ? 9 : aL); }

// Writes the segment of a record (flags | aExtraFlags, then the data) into aSegment (room:
// zfVariableSegmentRoom) and answers its size. aCompression may be nil (raw).
uint32_t zfVariableEncodeRecord(const uint8_t* aRecord, uint32_t aL, TzfBaseRecordCompressionEngine* aCompression,
                                uint8_t* aSegment, uint8_t aExtraFlags = 0);

// Decodes a segment that holds record data (not a forward) into aRecord (aL bytes). False when the
// segment is damaged; reads nothing beyond aSize bytes.
bool zfVariableDecodeSegment(const uint8_t* aSegment, uint32_t aSize, uint32_t aL,
                             TzfBaseRecordCompressionEngine* aCompression, uint8_t* aRecord);

// Salvage of one raw heap data block of usable size aU (see zfsrRecordEngineBase.h): every live,
// sound segment that is neither a forward nor damaged is decoded into aRecordBuffer (aL bytes,
// required) and handed on; aData, when given, receives the buffer's address.
TzfRecordIteratorResult zfVariableRecoverBlock(const uint8_t* aBlock, uint32_t aU, TzfBlockNumber aBlockNumber,
                                               uint32_t aL, TzfBaseRecordCompressionEngine* aCompression,
                                               uint8_t* aRecordBuffer, const uint8_t** aData,
                                               const TzfRecordIterator& aIterator, void* aCookie,
                                               TzfRecoverStats* aStats);

// The variable-length record engine ("Variable"): each record one segment of the record heap,
// raw or compressed; the reference is the segment's heap reference and never changes. A record
// that outgrows its segment moves to a new one ("moved") and its own segment becomes a 9-byte
// forward. Header section (24 bytes): record count (0), first (4) and last (8) heap data block of
// the engine's chain, first management block of the heap (12), unused (16..23).
class TzfVariableRecordEngine : public TzfBaseRecordEngine {
 public:
  // The descriptor must be a TzfHeapRecordDescriptor with a heap descriptor (10004 otherwise).
  TzfVariableRecordEngine(TzfBaseRecordDescriptor* aDescriptor, TzfFieldsDescriptor* aFields,
                          TzfBaseTransaction* aTrans, const TzfBlockAccessList& aFiles);
  ~TzfVariableRecordEngine() override;

  static const TzfRecordEngineClass& ClassInfo();
  const TzfRecordEngineClass& ClassType() const override { return ClassInfo(); }
  static void CheckValidEngineDescriptor(TzfBaseTableDescriptor& aTable);

  // A record whose segment would exceed the heap's largest segment is refused with 15495.
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
  // The heap's ID; 0 in a version-1 file, where every block answers owner 0, so that the record
  // heap's blocks still reach this engine (BLOB heap blocks are told apart by their layout).
  int32_t GetRecoverID() override;
  TzfRecordIteratorResult RecoverIterate(const uint8_t* aBlock, TzfBlockNumber aBlockNumber, const uint8_t** aData,
                                         const TzfRecordIterator& aIterator, void* aCookie,
                                         TzfRecoverStats* aStats = nullptr) override;
  TzfRecordIteratorResult ReadRecordForIterate(TzfBaseTransaction* aTrans, int64_t aRefNr, uint8_t** aData,
                                               const TzfRecordIterator& aIterator, void* aCookie,
                                               IzfFilterEvaluation* aFilter) override;
  // Raises 12289.
  void ReplaceAllRecords(TzfBaseTransaction* aTrans, const TzfGetRecordCallback& aCallback) override;
  void Rollback(TzfBaseTransaction* aTrans) override;

  // The chain, every data block by its checker, forwards and moved segments pairing up, the count
  // and the heap's directory. Empty when sound. For tests.
  rtl::UnicodeString CheckTable(TzfBaseTransaction* aTrans);

  uint16_t reHeaderSection = 0;
  std::vector<uint8_t> reRecordBuffer;
  std::unique_ptr<TzfBaseHeapEngine> reHeap;
  TzfCachedHeapEngine* reHeapEngine = nullptr;  // the cached heap inside reHeap
  std::unique_ptr<TzfBaseRecordCompressionEngine> reCompressionEngine;
  bool reFileIsV1 = false;

 private:
  friend class TzfVariableRecordHeapHeaderHandler;
  // Decodes the record of aRef into aRecord, following one forward at most.
  void ReadInto(TzfBaseTransaction* aTrans, int64_t aRef, uint8_t* aRecord);
  // Frees the moved segment a forward names.
  void FreeTarget(TzfBaseTransaction* aTrans, int64_t aTarget);
  // Every record in storage order (backward: reverse) until aVisit answers false.
  void Walk(TzfBaseTransaction* aTrans, bool aBackward, const std::function<bool(int64_t, const uint8_t*)>& aVisit);
  // The record after aFromRefNr in storage order (backward: before it); 0 in aRefNr when none.
  void ReadAdjacentRecord(TzfBaseTransaction* aTrans, bool aBackward, int64_t aFromRefNr, int64_t& aRefNr,
                          uint8_t* aRecData);
  [[noreturn]] void RaiseDamaged(int64_t aRefNr) const;
  uint32_t SectionWord(TzfBaseTransaction* aTrans, uint32_t aOffset);
  std::vector<uint8_t> FWalkBuffer;
};

rtl::TUnitInit& zfseRecordEngineVariableUnit();

}  // namespace zf
