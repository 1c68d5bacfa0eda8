// Table cursor: bulk writes (batch insert, copy of every record into another table, delete of
// every record).
//
// Batch stream (read in place; integers little-endian):
//
// | offset | width | content                                                               |
// |--------|-------|-----------------------------------------------------------------------|
// | 0      | 4     | 0 as the client's batch writer puts it; not read                      |
// | 4      | 4     | record count N, signed; N <= 0 inserts nothing                        |
// | then N times | 4 | entry length L, signed                                              |
// |        | L     | the record in the table's layout, then the BLOB images of its fields  |
//
// Inside a record a non-NULL BLOB field holds the offset, from the start of the stream, of a BLOB
// image: a 32-bit length and that many bytes. Every entry length, field offset and image length is
// checked against the stream before it is used (9986 otherwise): a damaged or hostile batch never
// reads outside the stream. The records are changed in place (BLOB numbers, auto-increment values,
// record revisions).
//
// Every failure ends the operation with a code: an implicit transaction is rolled back; without
// one the caller's transaction is marked corrupted, so that no part of a failed bulk write can be
// committed.
#include <cstring>
#include <vector>

#include "dictionary/zfsdDataDictionary.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "foundation/zfllList.h"
#include "foundation/zfllStreams.h"
#include "index/zfseIndicesEngineHandle.h"
#include "server/zfsrBlobHandlerBase.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "storage/zfsrAutoIncEngineBase.h"
#include "storage/zfsrBlobEngineBase.h"
#include "storage/zfsrBlock.h"
#include "storage/zfsrRecordEngineBase.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

namespace {

uint32_t BadBatch(const char16_t* aWhat) {
  return EzfBaseException::zfSetMessage(zfErrInvalidParam, aWhat);
}

// Marks the caller's transaction corrupted after a failed bulk write that ran inside it.
void MarkCallerCorrupted(TzfServerTransContext* aContext) {
  if (aContext) aContext->stcTransactionMarkCorrupted();
}

}  // namespace

uint32_t TzfServerTableCursor::RecordInsertBatch(TzfCustomMemoryStream& aStream) {
  return FramedWrite([&] { return stcWithRefIntegrity(eaRecordInsert, [&] { return sbcRecordInsertBatch(aStream); }); });
}
// The destination's references are checked for every record copied (its engine's cursors are
// opened before the copy takes its content locks).
uint32_t TzfServerTableCursor::CopyRecords(TzfAbstractCursor* aDestCursor, TzfBlobCopyMode aBlobCopyMode,
                                           int32_t aMaxTransSize) {
  return CopyRecordsEx(aDestCursor, aBlobCopyMode, aMaxTransSize, true);
}
uint32_t TzfServerTableCursor::CopyRecordsEx(TzfAbstractCursor* aDestCursor, TzfBlobCopyMode aBlobCopyMode,
                                             int32_t aMaxTransSize, bool aCheckValFields) {
  return Framed([&] {
    const auto copy = [&] { return sbcCopyRecords(aDestCursor, aBlobCopyMode, aMaxTransSize, aCheckValFields); };
    auto* dest = dynamic_cast<TzfServerTableCursor*>(aDestCursor);
    return dest ? dest->stcWithRefIntegrity(eaRecordInsert, copy) : copy();
  });
}
uint32_t TzfServerTableCursor::DeleteRecords() {
  return Framed([&] { return stcWithRefIntegrity(eaRecordDelete, [&] { return sbcDeleteRecords(); }); });
}

// ---- Batch insert ----

uint32_t TzfServerTableCursor::sbcRecordInsertBatch(TzfCustomMemoryStream& aStream) {
  if (sbcReadOnly.IsReadOnly) return sbcReadOnly.Error();
  if (const uint32_t s = sbcCheckTransactionState()) return s;
  const bool inCaller = CurrentTrans() != nullptr && !sbcUseNestedTransaction;
  bool selfNew = false;
  if (const uint32_t l = SelfLock(selfNew)) return l;
  const uint32_t r = InWrite([&](TzfServerTransaction* aTrans) -> uint32_t {
    uint8_t* memory = static_cast<uint8_t*>(aStream.Memory());
    const int64_t size = aStream.Size();
    if (size < 8 || !memory) return BadBatch(u"Batch stream shorter than its header");
    int32_t remaining = static_cast<int32_t>(zfGetLE32(memory + 4));
    TzfFieldsDescriptor& fields = *stcTable->sbtFieldsDescriptor;
    const int64_t recordLength = fields.GetRecordLength();
    TzfBaseBlobEngine* blobs = stcTable->sbtBlobEngine.get();
    const int32_t autoInc = stcTable->sbtAutoIncField;
    int64_t pos = 8;
    while (remaining > 0) {
      if (size - pos < 4) return BadBatch(u"Batch entry beyond the end of the stream");
      const int32_t length = static_cast<int32_t>(zfGetLE32(memory + pos));
      if (length < recordLength || length > size - pos - 4)
        return BadBatch(u"Batch entry length does not fit the record or the stream");
      uint8_t* record = memory + pos + 4;
      if (blobs) {
        for (int32_t f : stcTable->sbtBlobFields) {
          bool isNull = true;
          int64_t offset = 0;
          fields.GetRecordField(f, record, isNull, &offset);
          if (isNull) continue;
          if (offset < 0 || offset > size - 4) return BadBatch(u"BLOB image offset outside the batch stream");
          const uint32_t blobLength = zfGetLE32(memory + offset);
          if (blobLength > static_cast<uint64_t>(size - offset - 4))
            return BadBatch(u"BLOB image length beyond the end of the batch stream");
          if (blobLength == 0) {
            fields.SetRecordFieldNull(f, record, true);
            continue;
          }
          int64_t blobNr = 0;
          blobs->AddBlob(aTrans, blobNr);
          blobs->Write(aTrans, blobNr, 0, blobLength, memory + offset + 4);
          fields.SetRecordField(f, record, &blobNr);
        }
      }
      if (sbcDefaultValueHandler) sbcDefaultValueHandler->SetDefaultValuesInsert(record);
      if (autoInc >= 0 && stcTable->sbtAutoIncEngine) {
        const rtl::Variant v = GetFieldAsVariant(record, autoInc);
        if (v.IsNull() || v.IsEmpty() || v.AsInt64() == 0) {
          const uint32_t next = stcTable->sbtAutoIncEngine->NextAutoIncValue(aTrans);
          SetFieldFromVariant(record, autoInc, rtl::Variant(static_cast<int64_t>(next)));
        }
      }
      if (const uint32_t b = stcBlobHandler->BeforeInsert(aTrans, record)) return b;
      int64_t noRef = 0;
      if (const uint32_t n = stcNotifyRecord(eaRecordInsert, true, nullptr, record,
                                             {int32_t{0}, static_cast<const uint8_t*>(record), &noRef}))
        return n;
      stcTable->sbtInitRecRev(record);
      if (sbcValidationsHandler) sbcValidationsHandler->ValidateRecord(nullptr, record);
      int64_t ref = 0;
      stcTable->sbtRecordEngine->AddRecord(aTrans, ref, record);
      if (TzfBaseIndicesEngine* ix = stcTable->sbtIndicesEngine.get())
        if (const uint32_t k = zfIndicesInsertKeys(*ix, aTrans, ref, record)) return k;
      if (const uint32_t f = stcUpdateFulltext(aTrans, nullptr, 0, record, ref)) return f;
      if (const uint32_t n = stcNotifyRecord(eaRecordInsert, false, nullptr, record,
                                             {int32_t{0}, static_cast<const uint8_t*>(record), &ref}))
        return n;
      pos += 4 + static_cast<int64_t>(length);
      --remaining;
      if (remaining % 100 == 0) zfCheckTimeout();
    }
    return 0;
  }, sbcUseNestedTransaction);
  if (r != 0 && inCaller) MarkCallerCorrupted(stcContext);
  SelfUnlock(selfNew);
  return r;
}

// ---- Delete all ----

uint32_t TzfServerTableCursor::sbcDeleteRecords() {
  if (sbcReadOnly.IsReadOnly) return sbcReadOnly.Error();
  if (const uint32_t s = sbcCheckTransactionState()) return s;
  const bool inCaller = CurrentTrans() != nullptr && !sbcUseNestedTransaction;
  std::vector<uint8_t> record(static_cast<size_t>(stcTable->sbtFieldsDescriptor->GetRecordLength()));
  sbcFilterDeadline.Disable();
  const uint32_t r = InWrite([&](TzfServerTransaction* aTrans) -> uint32_t {
    stcPosition = TzfCursorPosition::cpBOF;
    stcRefNr = 0;
    if (stcIndexPath) stcIndexPath->SetToBof();
    TzfBaseIndicesEngine* ix = stcTable->sbtIndicesEngine.get();
    uint32_t visited = 0;
    for (;;) {
      const uint32_t step = StepFiltered(true, zfltNoLock, record.data(), sbcFilter.get());
      if (step == zfErrEOF) return 0;
      if (step != 0) return step;
      if (visited++ % 500 == 0) zfCheckTimeout();
      const int64_t ref = stcRefNr;
      bool newLock = false;
      if (const uint32_t l = LockRecord(aTrans, ref, newLock)) return l;
      // The references of the table see every record go, as with a single delete.
      int64_t refArg = ref;
      const TzfActionArgs args{static_cast<const uint8_t*>(record.data()), &refArg};
      if (const uint32_t n = stcNotifyRecord(eaRecordDelete, true, record.data(), nullptr, args)) return n;
      if (ix)
        if (const uint32_t k = zfIndicesDeleteKeys(*ix, aTrans, ref, record.data())) return k;
      if (const uint32_t f = stcUpdateFulltext(aTrans, record.data(), ref, nullptr, 0)) return f;
      // In storage order the walk goes on at the record after this one, taken while this one is
      // still stored: once deleted, its place may be gone with it (a variable-length record's
      // segment is freed, and an emptied block leaves the chain).
      int64_t next = 0;
      if (!stcIndexEngine) stcTable->sbtRecordEngine->ReadNextRecord(aTrans, ref, next, nullptr);
      stcTable->sbtRecordEngine->DeleteRecord(aTrans, ref);
      PathToRecord(record.data(), ref);
      stcPosition = TzfCursorPosition::cpCrackBefore;
      if (!stcIndexEngine) {
        stcRefNr = next;
        if (next == 0) stcPosition = TzfCursorPosition::cpEOF;
      }
      if (const uint32_t n = stcNotifyRecord(eaRecordDelete, false, record.data(), nullptr, args)) return n;
      if (const uint32_t b = stcBlobHandler->AfterDelete(aTrans, record.data())) return b;
      // The lock passes to the transaction that deleted the record.
      if (newLock) stcTable->sbtLocks->ReleaseRecordLock(this, ref, aTrans);
    }
  }, sbcUseNestedTransaction);
  sbcFilterDeadline.Enable();
  if (r != 0 && inCaller) MarkCallerCorrupted(stcContext);
  return r;
}

// ---- Copy records ----

uint32_t TzfServerTableCursor::sbcCopyRecords(TzfAbstractCursor* aDestCursor, TzfBlobCopyMode aBlobCopyMode,
                                              int32_t aMaxTransSize, bool aCheckValFields) {
  auto* dest = dynamic_cast<TzfServerTableCursor*>(aDestCursor);
  if (!dest) return zfErrInvalidHndl;
  if (dest->stcDatabase->sdSession != stcDatabase->sdSession) return zfErrDifferentSessions;
  if (dest->stcTable == stcTable) return zfErrSameTable;
  TzfList blobList;
  if (!dest->stcTable->sbtFieldsDescriptor->HasSameFields(stcTable->sbtFieldsDescriptor, &blobList))
    return EzfBaseException::zfSetMessage(
        zfErrIncompatibleDictionaries,
        u"The cursor dictionaries are incompatible. Verify the correct field types, lengths, units, and decimal "
        u"places have been specified.");
  if (dest->sbcReadOnly.IsReadOnly) return dest->sbcReadOnly.Error();
  if (const uint32_t s = dest->sbcCheckTransactionState()) return s;
  if (TzfDataDictionary* d = dest->acGetDictionary(); d && d->ddVersion == 1)
    return EzfBaseException::zfSetMessage(zfErrHigherTableLevelRequired, u"Higher table level required");
  if (!dest->stcContext) return zfErrNoActiveTran;

  // Both positions come back whatever happens.
  const TzfCursorPosition savedPosition = stcPosition;
  const int64_t savedRefNr = stcRefNr;
  std::unique_ptr<TzfBaseIndexPath> savedPath = stcIndexPath ? stcIndexPath->Duplicate() : nullptr;
  struct TRestore {
    TzfServerTableCursor& C;
    TzfCursorPosition Position;
    int64_t RefNr;
    TzfBaseIndexPath* Path;
    ~TRestore() {
      C.stcPosition = Position;
      C.stcRefNr = RefNr;
      if (Path && C.stcIndexPath) C.stcIndexPath->Assign(*Path);
    }
  } restore{*this, savedPosition, savedRefNr, savedPath.get()};

  bool selfNew = false;
  if (const uint32_t l = dest->SelfLock(selfNew)) return l;
  TzfServerTransContext& ctx = *dest->stcContext;
  TzfServerBaseTable& target = *dest->stcTable;
  TzfFieldsDescriptor& fields = *stcTable->sbtFieldsDescriptor;
  const int32_t autoInc = target.sbtAutoIncField;
  TzfBaseAutoIncEngine* autoIncEngine = autoInc >= 0 ? target.sbtAutoIncEngine.get() : nullptr;
  // A link names the table the BLOB really lives in: this cursor's table, by its full name.
  const UnicodeString linkTable = stcTable->FullName();
  std::vector<uint8_t> record(static_cast<size_t>(fields.GetRecordLength()));
  bool transOpen = false;
  bool restartFailed = false;
  bool sourceLocked = false;
  uint32_t r = 0;

  const auto beginDest = [&]() -> uint32_t {
    if (const uint32_t s = ctx.stcTransactionStart(false, false, false, true, false)) return s;
    transOpen = true;
    const uint32_t c =
        dest->stcContentLock->Begin(dest->CurrentTrans(), true, false, &dest->sbcLockFailureReason);
    if (c == 0) dest->stcContentLock->End();  // the level's exclusive link stays until the level ends
    return c;
  };

  sbcFilterDeadline.Disable();
  try {
    r = beginDest();
    if (r == 0) {
      r = stcContentLock->Begin(CurrentTrans(), false, false, &sbcLockFailureReason);
      sourceLocked = r == 0;
    }
    if (r == 0) {
      stcPosition = TzfCursorPosition::cpBOF;
      stcRefNr = 0;
      uint32_t maximum = autoIncEngine ? autoIncEngine->ReadAutoIncValue(dest->CurrentTrans()) : 0;
      for (bool first = true;; first = false) {
        // The copy steps the source's index and writes the destination's keys through engines
        // other sessions' cursors use too: both tables' index-access locks (source first; one root's
        // lock twice is re-entrant), for one record at a time, given back before a commit takes
        // the portal's write side.
        TzfIndexAccessHold sourceAccess, destAccess;
        if ((r = sourceAccess.Enter(stcRoot->srtIndexAccess)) != 0) break;
        if ((r = destAccess.Enter(dest->stcRoot->srtIndexAccess)) != 0) break;
        if (first && stcIndexPath) stcIndexPath->SetToBof();
        const uint32_t step = StepFiltered(true, zfltNoLock, record.data(), sbcFilter.get());
        if (step == zfErrEOF) break;
        if (step != 0) {
          r = step;
          break;
        }
        TzfServerTransaction* trans = dest->CurrentTrans();
        if (aCheckValFields && dest->sbcValidationsHandler)
          dest->sbcValidationsHandler->ValidateRecord(nullptr, record.data());
        for (int32_t i = 0; i < blobList.Count() && r == 0; ++i) {
          const int32_t f = static_cast<int32_t>(reinterpret_cast<intptr_t>(blobList.GetItem(i)));
          bool isNull = true;
          int64_t blobNr = 0;
          fields.GetRecordField(f, record.data(), isNull, &blobNr);
          if (isNull) continue;
          int64_t newNr = 0;
          switch (aBlobCopyMode) {
            case zfbcmNoCopy:
              fields.SetRecordFieldNull(f, record.data(), true);
              continue;
            case zfbcmCopyFull:
              r = dest->sbcBlobCopyPrim(this, f, blobNr, f, newNr, 0xFFFFFFFFu);
              break;
            case zfbcmCreateLink:
              target.sbtBlobEngine->AddBlobLink(trans, linkTable, blobNr, newNr);
              break;
          }
          if (r == 0) fields.SetRecordField(f, record.data(), &newNr);
        }
        if (r != 0) break;
        int64_t noRef = 0;
        if ((r = dest->stcNotifyRecord(eaRecordInsert, true, nullptr, record.data(),
                                       {int32_t{0}, static_cast<const uint8_t*>(record.data()), &noRef})) != 0)
          break;
        target.sbtInitRecRev(record.data());
        int64_t ref = 0;
        target.sbtRecordEngine->AddRecord(trans, ref, record.data());
        if (TzfBaseIndicesEngine* ix = target.sbtIndicesEngine.get())
          if ((r = zfIndicesInsertKeys(*ix, trans, ref, record.data())) != 0) break;
        if ((r = dest->stcUpdateFulltext(trans, nullptr, 0, record.data(), ref)) != 0) break;
        if ((r = dest->stcNotifyRecord(eaRecordInsert, false, nullptr, record.data(),
                                       {int32_t{0}, static_cast<const uint8_t*>(record.data()), &ref})) != 0)
          break;
        if (autoIncEngine) {
          bool isNull = true;
          uint32_t value = 0;
          target.sbtFieldsDescriptor->GetRecordField(autoInc, record.data(), isNull, &value);
          if (!isNull && value > maximum) maximum = value;
        }
        destAccess.Leave();
        sourceAccess.Leave();
        TzfBaseTransactionLevel* level = trans->CurrentLevel();
        if (aMaxTransSize > 0 && level && level->tlBlockCount > aMaxTransSize) {
          if (autoIncEngine) autoIncEngine->SetAutoIncValue(trans, maximum);
          // A failed commit leaves the level open: it is rolled back below.
          if ((r = ctx.stcTransactionCommit()) != 0) break;
          transOpen = false;
          if ((r = beginDest()) != 0) {
            restartFailed = !transOpen;
            break;
          }
          if (autoIncEngine) maximum = std::max(maximum, autoIncEngine->ReadAutoIncValue(dest->CurrentTrans()));
        }
      }
      if (r == 0 && autoIncEngine && maximum > autoIncEngine->ReadAutoIncValue(dest->CurrentTrans()))
        autoIncEngine->SetAutoIncValue(dest->CurrentTrans(), maximum);
    }
  } catch (const std::exception& e) {
    // The failure's own code first: the rollback below must not replace it.
    r = dest->asoConvertException(e);
  }
  if (sourceLocked) stcContentLock->End();
  sbcFilterDeadline.Enable();
  if (r == 0 && transOpen) {
    r = ctx.stcTransactionCommit();
    if (r != 0) ctx.stcTransactionRollback();
  } else if (r != 0) {
    if (transOpen)
      ctx.stcTransactionRollback();
    else if (restartFailed)
      MarkCallerCorrupted(&ctx);
  }
  dest->SelfUnlock(selfNew);
  return r;
}

}  // namespace zf
