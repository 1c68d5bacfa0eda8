// What every record engine shares: the iterator through which scans and salvage hand records on,
// and the per-block salvage report.
//
// Salvage contract (both record engines): `RecoverIterate` takes one raw block as read from disk
// (decrypted, never from the cache) and hands every record it can vouch for to the iterator with
// reference number 0. It never raises for anything the block holds: a block of another kind or
// number passes nothing; a damaged block is judged by its structure's checker and only records
// that lie wholly inside the block and decode exactly are passed; a record that cannot be decoded
// is skipped and counted. Only the iterator and a cancel (zfCheckTimeout) raise.
//
// `TzfBaseRecordEngine` is the record kind of sub-engines: the table's record descriptor names the
// engine ("zf1xDefault" and "Static": the static engine). Records are addressed by a 64-bit
// reference the engine hands out; every operation runs in the caller's storage transaction under
// the table's content lock. Scans take a filter as `IzfFilterEvaluation` (an inactive one counts as
// none).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdStorageDescriptor.h"
#include "storage/zfsrBlock.h"
#include "storage/zfsrBlockAccess.h"
#include "storage/zfsrFilterEvaluation.h"
#include "storage/zfsrSubEngineBase.h"

namespace zf {

enum class TzfRecordIteratorResult : uint8_t { rirContinue, rirStop };

// Called with the cookie, the record's reference (0 in salvage) and the record's bytes.
using TzfRecordIterator =
    std::function<TzfRecordIteratorResult(void* aCookie, int64_t aRefNr, const uint8_t* aRecord)>;

// What the salvage of one block found, for the caller's report.
struct TzfRecoverStats {
  uint32_t Records = 0;       // records handed to the iterator
  uint32_t Skipped = 0;       // records or segments that could not be vouched for or decoded
  bool BlockValid = false;    // the block passed its structure's checker
  bool Recognised = false;    // signature and number matched: the block is of this engine
  uint32_t Slot = 0;          // the slot of the record being handed on (for reports)
};

// Static engine references: block number in the high 32 bits, slot (1-based) in the low.
constexpr int64_t zfMakeRefNr(uint32_t aBlock, uint32_t aSlot) { return (int64_t(aBlock) << 32) | aSlot; }
constexpr uint32_t zfRefBlock(int64_t aRefNr) { return uint32_t(uint64_t(aRefNr) >> 32); }
constexpr uint32_t zfRefSlot(int64_t aRefNr) { return uint32_t(uint64_t(aRefNr) & 0xFFFFFFFFu); }

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseRecordEngineException, EzfBaseSubEngineException)

class TzfBaseRecordEngine;

// Rewrites a record in place; answers an error code (0 = success).
using TzfGetRecordCallback = std::function<uint32_t(uint8_t* aRecord)>;

struct TzfRecordEngineClass : TzfSubEngineClass {
  using TCreate = std::unique_ptr<TzfBaseRecordEngine> (*)(TzfBaseRecordDescriptor* aDescriptor,
                                                          TzfFieldsDescriptor* aFields, TzfBaseTransaction* aTrans,
                                                          const TzfBlockAccessList& aFiles);
  using TCheckValidEngineDescriptor = void (*)(TzfBaseTableDescriptor& aTable);
  constexpr TzfRecordEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                                 TCheckValidDescriptor aCheckValidDescriptor, TCreate aCreate,
                                 TCheckValidEngineDescriptor aCheckValidEngineDescriptor = nullptr)
      : TzfSubEngineClass(aName, aParent, aGetList, u"Record", aCheckValidDescriptor),
        Create(aCreate),
        CheckValidEngineDescriptor(aCheckValidEngineDescriptor) {}

  TCreate Create;
  TCheckValidEngineDescriptor CheckValidEngineDescriptor;
};

class TzfBaseRecordEngine : public TzfBaseSubEngine {
 public:
  // The data file is aFiles[brdFileNumber] (a range error outside the list); the record length is
  // the fields descriptor's (65536 or more is refused with 10003).
  TzfBaseRecordEngine(TzfBaseRecordDescriptor* aDescriptor, TzfFieldsDescriptor* aFields,
                      TzfBaseTransaction* aTrans, const TzfBlockAccessList& aFiles);

  static const TzfRecordEngineClass& ClassInfo();
  const TzfRecordEngineClass& ClassType() const override { return ClassInfo(); }

  // The engine of the table's record descriptor (nil without one); 15503 "Unknown Record engine".
  static std::unique_ptr<TzfBaseRecordEngine> CreateEngine(TzfBaseTableDescriptor& aTable,
                                                           const TzfBlockAccessList& aFiles, TzfBaseTransaction* aTrans);
  // The kind's check: the named engine exists (15503) and accepts the table.
  static void CheckValidDescriptor(TzfBaseTableDescriptor& aTable);

  // Stores a copy of the record; aRefNr receives its reference.
  virtual void AddRecord(TzfBaseTransaction* aTrans, int64_t& aRefNr, const uint8_t* aRecData) = 0;
  virtual void DeleteRecord(TzfBaseTransaction* aTrans, int64_t aRefNr) = 0;
  // aRecData nil: only checks that the record exists.
  virtual void ReadRecord(TzfBaseTransaction* aTrans, int64_t aRefNr, uint8_t* aRecData) = 0;
  // Copies the stored record into aOldRecord when given, then stores aNewRecord.
  virtual void UpdateRecord(TzfBaseTransaction* aTrans, int64_t aRefNr, const uint8_t* aNewRecord,
                            uint8_t* aOldRecord) = 0;
  // The record after / before aFromRefNr in storage order (0: the first / last); aRefNr 0: none.
  virtual void ReadNextRecord(TzfBaseTransaction* aTrans, int64_t aFromRefNr, int64_t& aRefNr, uint8_t* aRecData) = 0;
  virtual void ReadPrevRecord(TzfBaseTransaction* aTrans, int64_t aFromRefNr, int64_t& aRefNr, uint8_t* aRecData) = 0;
  virtual uint32_t GetRecordCount(TzfBaseTransaction* aTrans) = 0;
  // Every record the filter accepts, in storage order (backward: reverse). aData: when *aData is
  // a buffer the record is copied there, else *aData receives the record's address in the block.
  // aRefNr: the record the iterator stopped at, 0 when the walk ran to the end.
  virtual TzfRecordIteratorResult Iterate(TzfBaseTransaction* aTrans, int64_t& aRefNr, uint8_t** aData,
                                          const TzfRecordIterator& aIterator, void* aCookie,
                                          IzfFilterEvaluation* aFilter) = 0;
  virtual TzfRecordIteratorResult IterateBackward(TzfBaseTransaction* aTrans, int64_t& aRefNr, uint8_t** aData,
                                                  const TzfRecordIterator& aIterator, void* aCookie,
                                                  IzfFilterEvaluation* aFilter) = 0;
  // 1-based position of a record among those the filter accepts (aFlipOrder: from the end): 0,
  // 8706 when the walk ends first, 8709 when the record is absent or rejected.
  virtual uint32_t RecNoGet(TzfBaseTransaction* aTrans, int64_t aRefNr, IzfFilterEvaluation* aFilter,
                            uint32_t& aRecNo, bool aFlipOrder) = 0;
  virtual uint32_t RecNoSet(TzfBaseTransaction* aTrans, uint32_t aRecNo, int64_t& aRefNr,
                            IzfFilterEvaluation* aFilter, bool aFlipOrder) = 0;
  // The owner ID under which a recovery hands raw blocks to this engine.
  virtual int32_t GetRecoverID() = 0;
  // Salvage of one raw block (see the contract above).
  virtual TzfRecordIteratorResult RecoverIterate(const uint8_t* aBlock, TzfBlockNumber aBlockNumber,
                                                 const uint8_t** aData, const TzfRecordIterator& aIterator,
                                                 void* aCookie, TzfRecoverStats* aStats = nullptr) = 0;
  // One record through the filter and the iterator (a deleted one raises 8708).
  virtual TzfRecordIteratorResult ReadRecordForIterate(TzfBaseTransaction* aTrans, int64_t aRefNr, uint8_t** aData,
                                                       const TzfRecordIterator& aIterator, void* aCookie,
                                                       IzfFilterEvaluation* aFilter) = 0;
  // Calls the callback once per record, in its block fetched for change; a non-zero result raises.
  virtual void ReplaceAllRecords(TzfBaseTransaction* aTrans, const TzfGetRecordCallback& aCallback) = 0;
  virtual void Rollback(TzfBaseTransaction* aTrans) {}

  TzfBlockAccess* breDataFile;
  uint32_t breRecordLength;
  std::vector<uint8_t> TempRecBuf;
};

// For the engines' descriptor checks: finds the smallest block size whose usable size (the table
// dictionary's) holds aNeeded bytes and raises the record file's block size to it when smaller;
// none raises 15495 "Maximum record size has been exceeded".
void zfFitRecordFileBlockSize(TzfBaseTableDescriptor& aTable, uint32_t aNeeded);

// True when the filter is given and active and rejects the record.
inline bool zfFilterRejects(IzfFilterEvaluation* aFilter, const uint8_t* aRecord) {
  return aFilter && aFilter->IsActive() && !aFilter->MatchesBuffer(aRecord);
}

rtl::TUnitInit& zfsrRecordEngineBaseUnit();

}  // namespace zf
