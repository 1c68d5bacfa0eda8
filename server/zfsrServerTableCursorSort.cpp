// Table cursor: the physical sort of a table's records and the rebuild of its indexes from them.
//
// A sort reads every record into a sort engine in one transaction and writes them back in key order
// over the existing records in a second one, under the exclusive content lock. The records keep
// their places in storage but change their content, so every key of every index names the wrong
// record afterwards: the sort builds each index again inside the same transaction, so that a failure
// anywhere rolls records and keys back together. A full-text index is kept the same way: every
// record's entries are taken out where the record stands before the rewrite and put in for the
// record that stands there after it (its main-index token keys name reference numbers, which the
// records change; its keys cannot be built from records by the index rebuild).
#include <cstring>
#include <memory>
#include <vector>

#include "dictionary/zfsdDataDictionary.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "index/zfseIndicesEngineHandle.h"
#include "index/zfseIndicesEngineKind.h"
#include "platform/rtl/rtlException.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "server/zfsrSortEngineBase.h"
#include "storage/zfsrRecordEngineBase.h"

namespace zf {

namespace {

constexpr uint32_t kRecordsLeftOver = 15520;  // the message table's text for a code it does not list

}  // namespace

void TzfServerTableCursor::sbcSetToBegin() {
  stcPosition = TzfCursorPosition::cpBOF;
  stcRefNr = 0;
  if (stcIndexPath) stcIndexPath->SetToBof();
}

uint32_t TzfServerTableCursor::sbcRecordGetNext(TzfLockType aLockType, uint8_t* aData) {
  return NotifyRead(aLockType, aData, StepFiltered(true, aLockType, aData, sbcFilter.get()));
}

void TzfServerTableCursor::stcRebuildIndexes(TzfServerTransaction* aTrans, int32_t aIndex,
                                             const std::function<void()>& aAfterRecord) {
  if (!stcTable->sbtIndicesEngine) return;
  TzfBaseIndicesEngine& indices = *stcTable->sbtIndicesEngine;
  indices.SetTransaction(aTrans);
  const int32_t count = indices.IndexEngineCount();
  if (aIndex >= count) throw EzfServerEngineException(zfErrNoSuchIndex);
  const int32_t first = aIndex < 0 ? 0 : aIndex;
  const int32_t last = aIndex < 0 ? count - 1 : aIndex;
  for (int32_t i = first; i <= last; ++i) indices.GetIndexEngine(i).DeleteAllKeys(indices.Indices().Store(i));
  std::vector<uint8_t> key;
  // The records are copied out: an engine handed no buffer points it into its block and then
  // copies every later record there.
  std::vector<uint8_t> record(static_cast<size_t>(stcTable->sbtFieldsDescriptor->GetRecordLength()));
  int64_t ref = 0;
  uint8_t* data = record.data();
  stcTable->sbtRecordEngine->Iterate(
      aTrans, ref, &data,
      [&](void*, int64_t aRefNr, const uint8_t* aRecord) {
        for (int32_t i = first; i <= last; ++i) {
          TzfBaseIndexEngine& engine = indices.GetIndexEngine(i);
          key.assign(engine.bieKeyEngine->bkeKeyLength, 0);
          // 1: the record has no key in this (filtered) index.
          const uint32_t built = engine.bieKeyEngine->BuildKey(aRecord, key.data(), aRefNr, false);
          if (built == 1) continue;
          zfRaiseIfError(built);
          if (!engine.InsertKey(indices.Indices().Store(i), key.data(), aRefNr, nullptr))
            zfRaiseIfError(engine.GetKeyError(TzfKeyErrorType::etInsert, key.data(), aRefNr));
        }
        if (aAfterRecord) aAfterRecord();
        return TzfRecordIteratorResult::rirContinue;
      },
      nullptr, nullptr);
}

uint32_t TzfServerTableCursor::stcFulltextAllRecords(TzfServerTransaction* aTrans, bool aAdd) {
  if (!stcFulltextEngine) return 0;
  std::vector<uint8_t> record(static_cast<size_t>(stcTable->sbtFieldsDescriptor->GetRecordLength()));
  uint8_t* data = record.data();
  int64_t ref = 0;
  uint32_t code = 0;
  stcTable->sbtRecordEngine->Iterate(
      aTrans, ref, &data,
      [&](void*, int64_t aRefNr, const uint8_t* aRecord) {
        code = aAdd ? stcUpdateFulltext(aTrans, nullptr, 0, aRecord, aRefNr)
                    : stcUpdateFulltext(aTrans, aRecord, aRefNr, nullptr, 0);
        return code == 0 ? TzfRecordIteratorResult::rirContinue : TzfRecordIteratorResult::rirStop;
      },
      nullptr, nullptr);
  return code;
}

uint32_t TzfServerTableCursor::stcSortRecords(TzfIndexDescriptor* aIndexDesc) {
  ZF_ASSERT(!stcIndexEngine, "zfsrServerEngine");
  if (!aIndexDesc) return zfErrInvalidParam;
  if (!stcContext) return zfErrNoActiveTran;
  std::unique_ptr<TzfBaseSortEngine> sorter;
  try {
    sorter = zfCreateDefaultSortEngine(stcDatabase, stcRoot->srtDictionary.get(), aIndexDesc);
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
  // Runs aWork in the level this call has just started and commits it; a failure ends the level:
  // rolled back, or marked corrupted when its commit failed.
  auto inLevel = [&](const std::function<uint32_t()>& aWork) -> uint32_t {
    bool committed = false;
    uint32_t code = 0;
    try {
      code = aWork();
      if (code == 0) {
        committed = true;
        code = stcContext->stcTransactionCommit();
      }
    } catch (const std::exception& e) {
      code = asoConvertException(e);
    }
    if (code != 0) {
      if (committed)
        stcContext->stcTransactionMarkCorrupted();
      else
        stcContext->stcTransactionRollback();
    }
    return code;
  };

  // 1. Every record into the sort engine.
  const bool temporary = stcRoot->srtTableScope != tsPersistent;
  if (const uint32_t r = stcContext->stcTransactionStart(false, false, temporary, true, false)) return r;
  if (const uint32_t r = inLevel([&] {
        uint32_t put = 0;
        std::vector<uint8_t> record(static_cast<size_t>(stcTable->sbtFieldsDescriptor->GetRecordLength()));
        uint8_t* data = record.data();
        sbcIterate(
            &data,
            [&](void*, int64_t, const uint8_t* aRecord) {
              put = sorter->Put(aRecord);
              return put == 0 ? TzfRecordIteratorResult::rirContinue : TzfRecordIteratorResult::rirStop;
            },
            false, nullptr);
        return put;
      }))
    return r;

  // 2. The records written back in order, the indexes and the full-text index after them.
  if (const uint32_t r = stcContext->stcTransactionStart(false, false, false, true, false)) return r;
  if (const uint32_t r = inLevel([&] {
        // The first record is read before the content lock is taken: that first read writes and
        // merges the scratch runs, whose tables are made under the folder's table padlock, which is
        // never taken while this table's content is held.
        std::vector<uint8_t> first(sorter->RecordLength());
        const uint32_t firstCode = sorter->Get(first.data());
        bool firstTaken = false;
        uint32_t code = sbcBeginContentLock(true, false);
        if (code != 0) return code;
        TContentLockEnd end{*stcContentLock};
        // The indexes are rebuilt through the engines other sessions' readers use.
        TzfIndexAccessHold indexAccess;
        if ((code = indexAccess.Enter(stcRoot->srtIndexAccess)) != 0) return code;
        TzfServerTransaction* trans = CurrentTrans();
        if (const uint32_t f = stcFulltextAllRecords(trans, false)) return f;
        stcTable->sbtRecordEngine->ReplaceAllRecords(trans, [&](uint8_t* aRecord) -> uint32_t {
          if (firstTaken) return sorter->Get(aRecord);
          firstTaken = true;
          if (firstCode == 0) std::memcpy(aRecord, first.data(), first.size());
          return firstCode;
        });
        // An empty table asks for no record: a first read that failed is then the answer.
        if (!firstTaken && firstCode != zfErrEOF) return firstCode;
        if (firstTaken && sorter->Get(nullptr) != zfErrEOF) return kRecordsLeftOver;
        stcRebuildIndexes(trans, -1);
        return stcFulltextAllRecords(trans, true);
      }))
    return r;
  sbcSetToBegin();
  return 0;
}

}  // namespace zf
