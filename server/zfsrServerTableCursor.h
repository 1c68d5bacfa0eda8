// Table cursors of the server.
//
// A TzfServerTableCursor reads and writes the records of one table for one database. Every public
// operation is a short frame: write operations of a read-only cursor are refused before the
// session lock, then the thread deadline, the session lock, the worker and the release. Workers
// run inside the cursor's content lock: outside transactions the root table's content portal for
// reading (shared cursors, one operation at a time); inside a transaction the transaction's lock
// on the root table (shared for reads, exclusive for writes) until its level ends.
//
// Without an index navigation is in the record engine's storage order: a position is BOF, EOF, on
// a record (its reference number) or on the crack before or after one. A bookmark is the record's
// reference number, 8 bytes little-endian. On an index (SwitchToIndex) steps follow the index path
// within the cursor's range, and the position mirrors the path. Writes keep every index in step.
//
// Writes outside a transaction run in an implicit transaction of their own: started before the
// write, committed after it, rolled back when it fails, so a failed insert leaves no record
// behind. Record locks come from the table's lock container; a read that must wait for one leaves
// the portal for the wait.
//
// A record filter skips the records it rejects while stepping, within the filter deadline (15444
// when the cursor's limit passes, 15461 at the operation deadline; the cursor stays on the last
// record it looked at).
//
// BLOBs go through the cursor's BLOB handler (zfsrServerTableCursorBlobs.cpp), which also hears
// of every record insert, modify and delete; the bulk writes (batch insert, copy of all records,
// delete of all records) are in zfsrServerTableCursorBatch.cpp; the recover's record placement in
// zfsrServerTableCursorRecover.cpp. Key filters, RecordGetForKey and the record notices are in
// zfsrServerTableCursorKeys.cpp; adding and dropping indexes, the password and field renames in
// ...Indexes.cpp; counts, record numbers and iteration in index order in ...Counts.cpp; the index
// switch, steps in index order, SetToKey and ranges in ...IndexOrder.cpp.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "dictionary/zfsdAbstractCursor.h"
#include "foundation/zfllErrors.h"
#include "index/zfsrIndexEngineBase.h"
#include "server/zfsrContentLock.h"
#include "server/zfsrCursorSupport.h"
#include "index/zfsrFulltextEngineBase.h"
#include "server/zfsrRefIntEngineBase.h"
#include "server/zfsrServerLinks.h"
#include "server/zfsrServerTransaction.h"
#include "dictionary/zfsdDefaultValueEngine.h"
#include "dictionary/zfsdValidationEngine.h"
#include "storage/zfsrRecordEngineBase.h"
#include "storage/zfsrTempStorage.h"

namespace zf {

class TzfServerDatabase;
class TzfServerBaseTable;
class TzfServerRootTable;
class TzfIndexDescriptor;
class TzfBaseBlobHandler;
struct TzfServerTableStats;
class TzfServerGetRecCountTaskInfo;

enum class TzfCursorPosition : uint8_t { cpBOF, cpEOF, cpOnRecord, cpCrackBefore, cpCrackAfter };

class TzfServerTableCursor : public TzfAbstractCursor, public IzfKeyFieldsOwner, public IzfFulltextCursor {
 public:
  static constexpr uint32_t kBookmarkSize = 8;

  // Opens a cursor on aTable of aDatabase; use zfOpenTableCursor (which runs both phases).
  // aBlobCache: BLOB changes wait in a private cache until their record is written.
  TzfServerTableCursor(TzfServerDatabase* aDatabase, TzfServerBaseTable* aTable, TzfOpenMode aOpenMode,
                       TzfShareMode aShareMode, bool aTableReadOnly, uint32_t aTimeout, bool aBlobCache = false);
  ~TzfServerTableCursor() override;
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }
  // Builds the handlers and the referential-integrity engine (raises 15503 when the table asks
  // for one that is not registered), then joins the table's cursors.
  void AfterConstruction() override;
  void BeforeDestruction() override;   // drops its locks, leaves the table

  TzfDataDictionary* acGetDictionary() override;
  TzfBaseTableDescriptor* acGetTableDescriptor() override;
  UnicodeString acGetFullName() override;

  // ---- Positioning and records ----
  uint32_t SetToBegin() override;
  uint32_t SetToCursor(TzfAbstractCursor* aCursor) override;
  uint32_t SetToEnd() override;
  uint32_t SetToFilter(TzfBaseFilterDescriptor*, TzfBaseFilterDescriptor*, bool) override;
  // 10021 for a missing or short buffer or a bookmark that names no record position.
  uint32_t GetBookmark(uint8_t* aBookmark, uint32_t aSize) override;
  uint32_t CompareBookmarks(const uint8_t* aBookmark1, const uint8_t* aBookmark2, uint32_t aSize,
                            TValueRelationship& aCompResult) override;
  uint32_t SetToBookmark(const uint8_t* aBookmark, uint32_t aSize) override;
  uint32_t BookmarkAsVariant(const uint8_t* aBookmark, uint32_t aSize, rtl::Variant& aVariant) override;
  uint32_t RecNoSupported() override;
  uint32_t RecNoGet(uint32_t& aRecNo, bool aFlipOrder) override;
  uint32_t RecNoSet(uint32_t aRecNo, bool aFlipOrder) override;
  uint32_t RecordGet(TzfLockType aLockType, uint8_t* aData) override;
  uint32_t RecordGetNext(TzfLockType aLockType, uint8_t* aData) override;
  uint32_t RecordGetPrior(TzfLockType aLockType, uint8_t* aData) override;
  uint32_t RecordInsert(TzfLockType aLockType, uint8_t* aData) override;
  uint32_t RecordModify(uint8_t* aData, bool aReleaseLock) override;
  uint32_t RecordDelete(uint8_t* aData) override;
  uint32_t RecordIsLocked(TzfLockType aLockType, TzfLockPresent& aLockPresent) override;
  uint32_t RecordLockRelease(bool aAllLocks) override;
  uint32_t AutoIncGet(uint32_t& aValue) override;
  uint32_t AutoIncSet(uint32_t aValue) override;

  // ---- Filters ----
  uint32_t FilterAddCustom(TzfBaseFilterDescriptor* aFilter, TzfFilterID& aFilterID) override;
  uint32_t FilterSetTimeout(uint32_t aTimeout) override;
  uint32_t FilterActivate(TzfFilterID aFilterID) override;
  uint32_t FilterDeactivate(TzfFilterID aFilterID) override;
  uint32_t FilterRemove(TzfFilterID aFilterID) override;

  // ---- Indexes, keys and ranges ----
  uint32_t SwitchToIndex(const UnicodeString& aIndexName, int32_t aIndexID, bool aPosnOnRec) override;
  uint32_t GetIndexID(int32_t& aIndexID) override;
  uint32_t SetToKey(TzfSearchKeyAction, int32_t, int32_t, bool, const uint8_t*) override;
  uint32_t RecordGetForKey(int32_t, int32_t, bool, const uint8_t*, uint8_t*, bool, bool) override;
  uint32_t RangeReset() override;
  uint32_t RangeSet(int32_t, int32_t, bool, const uint8_t*, bool, int32_t, int32_t, bool, const uint8_t*,
                    bool) override;
  uint32_t CompareKeys(int32_t, int32_t, bool, const uint8_t*, bool, const uint8_t*, TValueRelationship&) override;
  uint32_t KeyFilterAddCustom(TzfBaseFilterDescriptor*, TzfKeyFilterID& aKeyFilterID) override;
  uint32_t KeyFilterActivate(TzfKeyFilterID) override;
  uint32_t KeyFilterDeactivate(TzfKeyFilterID) override;
  uint32_t KeyFilterRemove(TzfKeyFilterID) override;

  // ---- Batches, copies, BLOBs, streams (not here yet) ----
  uint32_t RecordGetBatch(int32_t, TzfRecordGetBatchExOptions, TzfMemoryStream&, int32_t, bool) override;
  uint32_t RecordInsertBatch(TzfCustomMemoryStream&) override;
  uint32_t CopyRecords(TzfAbstractCursor*, TzfBlobCopyMode, int32_t) override;
  uint32_t CopyRecordsEx(TzfAbstractCursor*, TzfBlobCopyMode, int32_t, bool) override;
  uint32_t DeleteRecords() override;
  uint32_t BlobCreate(int32_t, int64_t& aBlobNr) override;
  uint32_t BlobCreateFile(int32_t, const UnicodeString&, int64_t& aBlobNr) override;
  uint32_t BlobDelete(int32_t, int64_t) override;
  uint32_t BlobFree(int32_t, int64_t) override;
  uint32_t BlobRead(int32_t, int64_t, uint32_t, uint32_t, rtl::TStream&, bool) override;
  uint32_t BlobWrite(int32_t, int64_t, uint32_t, uint32_t, const void*) override;
  uint32_t BlobTruncate(int32_t, int64_t, uint32_t) override;
  uint32_t BlobGetLength(int32_t, int64_t, uint32_t& aLength, bool) override;
  uint32_t BlobModified(int32_t, int64_t, bool& aModified) override;
  uint32_t TableStreamGetList(rtl::TStrings&) override;
  uint32_t TableStreamWrite(const UnicodeString&, rtl::TStream&) override;
  uint32_t TableStreamRead(const UnicodeString&, rtl::TStream&) override;
  uint32_t TableStreamDelete(const UnicodeString&) override;

  // ---- Table locks, counts ----
  uint32_t TableIsLocked(TzfLockType aLockType, TzfLockPresent& aLockPresent) override;
  uint32_t TableLockAcquire(TzfLockType aLockType) override;
  uint32_t TableLockRelease(TzfLockType aLockType, bool aAllLocks) override;
  uint32_t Duplicate(TzfOpenMode, TzfAbstractCursor*& aNewCursor) override;
  // The password of every file of the root table, in an implicit transaction under the self lock
  // (zfsrServerTableCursorIndexes.cpp); 12289 for a table without encryption.
  uint32_t ChangePassword(const UnicodeString& aNewPassword) override;
  // Counts (zfsrServerTableCursorCounts.cpp). GetRecordCount counts as rcoClientFilteredKeyCount.
  uint32_t GetRecordCount(uint32_t& aRecCount, bool aEstimate) override;
  uint32_t GetRecordCountAsync(TzfAbstractTaskInfo*& aTaskInfo) override;
  uint32_t GetRecordCountEx(TzfRecordCountOption aOption, uint32_t& aRecCount, bool aEstimate) override;
  uint32_t GetRecordCountExAsync(TzfRecordCountOption, TzfAbstractTaskInfo*& aTaskInfo) override;

  // Writes run in a transaction level of their own from now on, also inside a client transaction.
  void RequestNestedTransactions() override { sbcUseNestedTransaction = true; }
  // The base values, then "OpenMode", "IsReadOnly", "IsWriteOnly", "IsResultSet",
  // "UseNestedTransaction", "Filter" and "KeyFilter".
  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;
  bool sbcUseNestedTransaction = false;
  // Insert options of this cursor (all three on at creation).
  TzfInsertOptions sbcInsertOptions = zfAllInsertOptions();
  TzfReadOnlyState sbcReadOnly;
  TzfFilterDeadline sbcFilterDeadline;
  TzfLockFailureReason sbcLockFailureReason;
  // The record filter (one engine or a hub), nil without one.
  std::unique_ptr<TzfBaseFilterEngine> sbcFilter;
  // The key filters (one engine or a hub) over stcKeyFields: evaluated on the current index's keys
  // while stepping; an index switch deactivates them all.
  std::unique_ptr<TzfBaseFilterEngine> sbcKeyFilter;
  RefPtr<TzfKeyFieldsSource> stcKeyFields;
  // ---- IzfKeyFieldsOwner: the key fields of the current index (nil without one) ----
  IzfFieldsSource* GetCurrentKeyFieldsSource() override;
  TzfPersistent* GetKeyFieldsOwnerCursor() override { return this; }
  // sbcKeyFilter when it is active, else nil.
  // The range position (-1 before, 0 inside, 1 after) of aRecord's key built with aRefNr and the
  // index's own filter into the key buffer; the key engine's code (1: no key in a filtered index).
  // Without an index 0 and 0.
  uint32_t stcRecordRangePosition(const uint8_t* aRecord, int& aPosition, int64_t aRefNr);
  // After a modify on an index: a record whose new key left the range, or that the record or key
  // filter now refuses, is no longer the cursor's; the path goes back to aSaved (its old place)
  // marked deleted, so the next step continues from there.
  void stcLeaveIfOutOfView(const uint8_t* aRecord, const TzfBaseIndexPath& aSaved);
  // Whether a record the cursor is to keep locked is one it can stand on: 0 when its key (built
  // with aRefNr) lies in the range and it passes the key filter and the record filter; 10258 when
  // not, or when a filtered index gives it no key; another code of the key engine as it is.
  uint32_t stcRecordStaysVisible(const uint8_t* aRecord, int64_t aRefNr);
  // True without an index or active key filter; else the record's key (built with aRefNr and the
  // index's own filter) must exist and pass the key filter.
  bool stcRecordPassesKeyFilter(const uint8_t* aRecord, int64_t aRefNr);
  TzfBaseFilterEngine* ActiveKeyFilter() { return sbcKeyFilter && sbcKeyFilter->IsActive() ? sbcKeyFilter.get() : nullptr; }
  std::unique_ptr<TzfDefaultValueHandler> sbcDefaultValueHandler;
  std::unique_ptr<TzfValidationsHandler> sbcValidationsHandler;
  // The engine of the table's "RefIntegrity" descriptor; a table whose engine cannot be built
  // gets no cursor (15503).
  std::unique_ptr<TzfBaseRefIntegrityEngine> sbcRefIntegrity;
  // The cursor side of the table's full-text indexes (nil without them).
  std::unique_ptr<TzfBaseFulltextCursorEngine> stcFulltextEngine;
  // The full-text indexes after a record change inside aTrans (nil and 0 for the side that does
  // not exist): 0 or the code of what failed (raised errors are converted).
  uint32_t stcUpdateFulltext(TzfBaseTransaction* aTrans, const uint8_t* aOldRecord, int64_t aOldRefNr,
                             const uint8_t* aNewRecord, int64_t aNewRefNr);
  // IzfFulltextCursor: the BLOB reads of the record being indexed, inside the write in progress
  // (its transaction, no frame of their own).
  uint32_t FulltextBlobGetLength(int32_t aFieldNo, int64_t aBlobNr, uint32_t& aLength, bool aReadOrg) override;
  uint32_t FulltextBlobRead(int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen, rtl::TStream& aStream,
                            bool aReadOrg) override;
  TzfServerTransaction* stcFulltextTrans = nullptr;  // the write's transaction during stcUpdateFulltext
  // 12289 while the table has full-text indexes (see stcAddIndex / stcDropIndex).
  uint32_t stcRefuseIndexChangeWithFulltext();

  // "INSERT_OPTIONS_*" options change the insert options.
  void esoOptionChanged(const UnicodeString& aName, const UnicodeString& aValue) override;
  // A cursor inherits its options from its table first; only what the table does not know comes
  // from the database.
  uint32_t esoOptionGetParent(const UnicodeString& aName, UnicodeString& aValue) override;
  uint32_t esoOptionListParent(rtl::TStrings& aList) override;
  // Internal walk for callers that raise on failure, in the session lock they already hold: every
  // record the active record filter accepts, from the first (or the last, aBackward), handed to
  // aRecIterator until it stops; the cursor stands on the last record handed out, or at EOF (BOF)
  // when the walk ran to the end. aData is handed to the record engine unchanged. A content lock
  // that cannot be had raises EzfServerEngineException with its code; the iterator's exceptions
  // pass. On an index the walk follows the range in index order, key filter and record filter.
  void sbcIterate(uint8_t** aData, const TzfRecordIterator& aRecIterator, bool aBackward, void* aCookie);
  // The count under aOption inside the content lock: key and record counts from the engines, a
  // walk where a range or an active filter decides (the cursor's position and filters are kept).
  // aEstimate is accepted; the count is exact. Called by sub-engines without a frame.
  uint32_t sbcGetRecordCount(TzfRecordCountOption aOption, uint32_t& aRecCount, bool aEstimate);
  // Tells of a record action (eaRecordInsert, eaRecordModify, eaRecordDelete, eaRecordGet): the
  // referential-integrity engine first (timeouts suspended; its exception becomes a code), then
  // the cursor's extenders with aArgs. A non-zero answer before an action vetoes it.
  uint32_t stcNotifyRecord(TzfEngineAction aAction, bool aBefore, const uint8_t* aOldRecord, const uint8_t* aNewRecord,
                           const TzfActionArgs& aArgs);
  // A record write of aAction with the referential-integrity engine's targets opened before it
  // (so the write never opens a table inside its content lock) and kept open until it ends; the
  // engine's failure to open them is the answer.
  uint32_t stcWithRefIntegrity(TzfEngineAction aAction, const std::function<uint32_t()>& aWrite);
  // The insert worker with explicit options (the recover inserts with ioValidate only).
  uint32_t sbcRecordInsert(TzfLockType aLockType, TzfInsertOptions aInsertOptions, uint8_t* aData);

  // A builder that fills the table's empty indexes while the restructure copies records: nil and 0
  // without indexes, one index's builder or a hub over all of them otherwise (15511 when an index
  // is not empty). It writes in the running transaction; outside one the answer is 12289.
  uint32_t stcCreateBulkBuilder(std::unique_ptr<TzfBaseBulkBuilder>& aBulkBuilder);

  // The content lock of the cursor's reads and writes (outside a transaction the portal for a
  // shared cursor's read, 10257 for aExclusive; inside one the transaction's lock on the root
  // table, which lasts until its level ends); 0 when held. Every successful begin is ended once.
  uint32_t sbcBeginContentLock(bool aExclusive, bool aConditional);
  // Whether the cursor may write in the current transaction state: 10763 inside a snapshot
  // transaction (except on a private temporary table), else the transaction's state code; 0
  // without a transaction. Every write asks before anything else.
  uint32_t sbcCheckTransactionState();
  void sbcEndContentLock();

  // ---- Adding and dropping indexes (workers of the database's index operations, run inside its
  // frame on an exclusive read-write cursor; zfsrServerTableCursorIndexes.cpp) ----
  // Adds a copy of aIndexDesc to the table in an implicit transaction of its own and indexes the
  // records the table holds: 12040 for a dictionary below version 3, 10023 for a descriptor the
  // table refuses, 10027 for a name in use, 9487 at 256 indexes, 9729 when a record's key is
  // refused, 10256 inside a transaction. A failure leaves the dictionary, its file and the indices
  // engine as they were. The cursor stays on its index.
  uint32_t stcAddIndex(TzfIndexDescriptor* aIndexDesc, bool aIsNewDefault);
  // Drops the index named aIndexName (or numbered aIndexID when the name is empty): 12040, 10757
  // without indexes, 9997 for an unknown one, 10031 while another cursor of the table reads in
  // index order. The cursor ends on the table's default index, or in storage order.
  uint32_t stcDropIndex(const UnicodeString& aIndexName, int32_t aIndexID);
  // Renames field aFieldNo of a private result table (scope tsTempUnnamed, this its only cursor):
  // 9999 for a field number outside the fields, 10009 for a name in use; a name that is no
  // identifier raises 10038 to the caller. Other tables: 12289 "sbcRenameField is not supported".
  uint32_t sbcRenameField(int32_t aFieldNo, const UnicodeString& aNewName);
  // SwitchToIndex without the frame (for workers already inside one).
  uint32_t sbcSwitchToIndex(const UnicodeString& aIndexName, int32_t aIndexID, bool aPosnOnRec);

  // ---- Sorting and index rebuilds (zfsrServerTableCursorSort.cpp) ----
  // SetToBegin and RecordGetNext without the frame (for workers already inside one).
  void sbcSetToBegin();
  uint32_t sbcRecordGetNext(TzfLockType aLockType, uint8_t* aData);
  // Rewrites the table's records, in storage order, in the order of aIndexDesc's key: every record
  // (through the cursor's filter) goes into a sort engine of the default class in one transaction,
  // then, in a second one under the exclusive content lock, the record engine overwrites each record
  // with the next sorted one and every index of the table is built again (its keys named the old
  // places), and the full-text index is brought to the new places. The cursor must be in storage
  // order. 0, or the failing step's code with the table as it was; 15520 when the table held
  // records the sort did not (a record filter).
  uint32_t stcSortRecords(TzfIndexDescriptor* aIndexDesc);
  // Empties index aIndex (every index for -1) and inserts the keys of every record again, in aTrans
  // under the caller's exclusive content lock; raises on failure (9729 for a refused key).
  // aAfterRecord (may be empty) runs after each record's keys; it may raise to stop the rebuild.
  void stcRebuildIndexes(TzfServerTransaction* aTrans, int32_t aIndex,
                         const std::function<void()>& aAfterRecord = nullptr);
  // Takes every stored record's full-text entries out of the full-text index (aAdd False) or puts
  // them in (aAdd True), one record at a time in storage order, in aTrans under the caller's
  // exclusive content lock. 0 without a full-text engine, else the first failing update's code.
  uint32_t stcFulltextAllRecords(TzfServerTransaction* aTrans, bool aAdd);
  // The count task on this cursor (zfsrServerIndexTasks), nil without one; freeing the cursor
  // cancels it and waits for its thread.
  TzfServerGetRecCountTaskInfo* sbcTaskInfo = nullptr;
  // Counts the records from BOF as RecordGetNext would find them (filters detached below
  // rcoServerFilteredKeyCount, the filter limit off); position and filters are restored.
  // aProgress (may be empty) hears the count after each record and stops the walk (13062) by
  // answering True.
  uint32_t sbcCountByWalking(TzfRecordCountOption aOption, uint32_t& aRecCount,
                             const std::function<bool(uint32_t)>& aProgress = nullptr);

  // ---- Table recover (zfsrServerTableCursorRecover.cpp) ----
  // The record iterator of a recover walk; this cursor is the source and aCookie a
  // TzfRecoverCookie. Places aRecord in the recovered table or else the failed one, each in a
  // nested level of the running transaction; rirStop only when the walk must end (rcErrorCode).
  TzfRecordIteratorResult stcRecoverRecord(void* aCookie, int64_t aRefNr, const uint8_t* aRecord);
  // Raises the table's auto-increment counter to at least aAtLeast (none: nothing); the code.
  uint32_t stcRaiseAutoInc(uint32_t aAtLeast);
  // The recover's bulk load of the recovered table: the indexes that can never refuse a key leave
  // key maintenance while the walk inserts (stcDeferKeys) and are built in one go from the records
  // at its end (stcBuildDeferredKeys, in the running transaction: 0 or a code, the deferral ends
  // either way); stcEndDeferral drops a deferral that was not built. No deferral when aRecords
  // records would take the bulk build more than aMaxBytes.
  void stcDeferKeys(int64_t aRecords, int64_t aMaxBytes);
  uint32_t stcBuildDeferredKeys();
  void stcEndDeferral();
  TzfServerTransContext* stcTransContext() const { return stcContext; }

  // ---- BLOBs and table streams (zfsrServerTableCursorBlobs.cpp) ----
  // Workers of the public BLOB operations, run inside the caller's frame. The writing ones run in
  // a transaction level of their own under the self lock; the reading ones in shared content
  // access. A read asks for the content before the cursor's pending change when aReadOrg is set
  // or sbcReadOrgOverride is above 0.
  uint32_t sbcBlobCreate(int32_t aFieldNo, int64_t& aBlobNr);
  uint32_t sbcBlobCreateFile(int32_t aFieldNo, const UnicodeString& aFileName, int64_t& aBlobNr);
  // In the caller's transaction (10257 without one); the read-only result on a read-only cursor.
  uint32_t sbcBlobCreateLink(int32_t aFieldNo, const UnicodeString& aTableName, int64_t aTableBlobNr,
                             int64_t& aBlobNr);
  uint32_t sbcBlobDelete(int32_t aFieldNo, int64_t aBlobNr);
  // 13058 when the BLOB was empty and freeing deleted it.
  uint32_t sbcBlobFree(int32_t aFieldNo, int64_t aBlobNr);
  uint32_t sbcBlobTruncate(int32_t aFieldNo, int64_t aBlobNr, uint32_t aBlobLength);
  uint32_t sbcBlobWrite(int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen, const void* aBlob);
  // Appends at most aLen bytes from aOffset to aStream.
  uint32_t sbcBlobRead(int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen, rtl::TStream& aStream,
                       bool aReadOrg);
  uint32_t sbcBlobGetLength(int32_t aFieldNo, int64_t aBlobNr, uint32_t& aLength, bool aReadOrg);
  uint32_t sbcBlobModified(int32_t aFieldNo, int64_t aBlobNr, bool& aModified);
  // No lock and no guard; aSrcTableName is cleared first.
  bool sbcBlobIsLink(int32_t aFieldNo, int64_t aBlobNr, UnicodeString& aSrcTableName, int64_t& aSrcTableBlobNr);
  // Copy primitives between the BLOB engines of two table cursors, each in its cursor's current
  // transaction, bypassing the handlers. sbcBlobCopyPrim makes a new BLOB in this table holding at
  // most aMaxLength bytes (0xFFFFFFFF: all) of the source BLOB; a file BLOB is copied as a file
  // BLOB naming the same file (all), as an empty BLOB (0), and any other length raises 10502.
  // sbcBlobCopyContentPrim copies over the existing BLOB aDestBlobNr and cuts it to what was
  // copied. Neither reads past the source's length. The source's read or length code is answered;
  // everything else raises (a source that is no table cursor: 9990) and the caller converts.
  uint32_t sbcBlobCopyPrim(TzfAbstractCursor* aSrcCursor, int32_t aSrcFieldNo, int64_t aBlobNr, int32_t aDestFieldNo,
                           int64_t& aDestBlobNr, uint32_t aMaxLength);
  uint32_t sbcBlobCopyContentPrim(TzfAbstractCursor* aSrcCursor, int32_t aSrcFieldNo, int64_t aBlobNr,
                                  int32_t aDestFieldNo, int64_t aDestBlobNr, uint32_t aMaxLength);
  // Named streams of the table. Names are identifiers (10068 otherwise); names starting with "$"
  // are internal and reached only with aInternal. The list without aInternal hides them.
  uint32_t sbcTableStreamGetList(rtl::TStrings& aStreams, bool aInternal);
  uint32_t sbcTableStreamRead(const UnicodeString& aName, rtl::TStream& aStream, bool aInternal);
  uint32_t sbcTableStreamWrite(const UnicodeString& aName, rtl::TStream& aStream, bool aInternal);
  uint32_t sbcTableStreamDelete(const UnicodeString& aName, bool aInternal);
  void sbcBeginReadOrgOverride() { ++sbcReadOrgOverride; }
  void sbcEndReadOrgOverride() { --sbcReadOrgOverride; }
  // The handler a table that wants to close calls (under its cursor padlock) to ask this cursor to
  // go; cursors without one keep their table open. Stored under the table's cursor padlock.
  void sbcSetOnRequestClose(std::function<void(TzfServerTableCursor*)> aHandler);
  void sbcRequestClose();
  TzfBaseBlobHandler* BlobHandler() const { return stcBlobHandler; }
  int32_t sbcReadOrgOverride = 0;

  // ---- Result sets (zfsrServerTableCursorResultSet.cpp) ----
  // A cursor (read-write, exclusive, no BLOB cache) on a new unnamed temporary table of aDictionary
  // in aDatabase's folder; every file of aDictionary is set to 4 KB blocks first. The table goes
  // with its last cursor. Raises EzfServerEngineException with the folder's code when the table
  // cannot be made. The caller frees the cursor with Free().
  static TzfServerTableCursor* CreateResultSet(TzfServerDatabase* aDatabase, TzfDataDictionary* aDictionary,
                                               uint32_t aTimeout);
  bool sbcIsResultSet = false;

  // ---- Bulk writes (zfsrServerTableCursorBatch.cpp) ----
  uint32_t sbcRecordInsertBatch(TzfCustomMemoryStream& aStream);
  uint32_t sbcCopyRecords(TzfAbstractCursor* aDestCursor, TzfBlobCopyMode aBlobCopyMode, int32_t aMaxTransSize,
                          bool aCheckValFields);
  uint32_t sbcDeleteRecords();

  TzfServerBaseTable* Table() const { return stcTable; }
  // The table's statistics as the cursor's current transaction sees them.
  TzfServerTableStats sbcGetStats();
  TzfOpenMode OpenMode() const { return stcOpenMode; }
  TzfShareMode ShareMode() const { return stcShareMode; }
  TzfCursorPosition Position() const { return stcPosition; }
  int64_t RefNr() const { return stcRefNr; }

 private:
  uint32_t Framed(const std::function<uint32_t()>& aWork);
  uint32_t FramedWrite(const std::function<uint32_t()>& aWork);
  TzfServerTransaction* CurrentTrans();
  // Ends a successful Begin of the content lock when the scope is left.
  struct TContentLockEnd {
    TzfCursorContentLock& Lock;
    ~TContentLockEnd() { Lock.End(); }
  };
  // Index changes run only outside transactions: a rollback of a surrounding one would take the
  // dictionary's file stream back but not the dictionary and indices engine in memory. 0 outside
  // one, else the transaction's state error or 10256.
  uint32_t stcRefuseInTransaction();
  // Ends the implicit level of a failed index change: rolled back, or marked corrupted when the
  // commit itself failed; then the indices engine is opened again on what the file holds, when
  // aReopenEngine.
  void stcEndFailedIndexChange(bool aCommitted, bool aReopenEngine);
  // Runs aWork in the content lock (aExclusive for writes); exceptions become codes.
  uint32_t InContent(bool aExclusive, const std::function<uint32_t(TzfServerTransaction*)>& aWork);
  // Runs a write: inside the running transaction, or in an implicit one of its own (always with
  // aOwnLevel: a nested level inside a running transaction).
  uint32_t InWrite(const std::function<uint32_t(TzfServerTransaction*)>& aWork, bool aOwnLevel = false);
  // The frame of the BLOB and table-stream writes: transaction state, self lock, a level of their
  // own, exclusive content access.
  uint32_t BlobWriteFrame(const std::function<uint32_t(TzfServerTransaction*)>& aWork);
  // The reading frame: shared content access around aWork.
  uint32_t BlobReadFrame(const std::function<uint32_t(TzfServerTransaction*)>& aWork);
  // A level of its own for an insert or modify whose BLOB handler needs one.
  bool NeedNested();
  // The null handler without BLOB engine or BLOB field, else the caching or pass-through one.
  TzfBaseBlobHandler* stcCreateBlobHandler();
  // The BLOB copy of BLOB aBlobNr of aSrcCursor's table: into a new BLOB of this table (its number
  // into aDestBlobNr), or with aIntoExisting over the content of BLOB aDestBlobNr, which ends where
  // the copy ends. At most aMaxLength bytes.
  uint32_t stcBlobCopy(TzfAbstractCursor* aSrcCursor, int64_t aBlobNr, int64_t& aDestBlobNr, uint32_t aMaxLength,
                       bool aIntoExisting);
  // Block reads with BLOBs: the BLOB images of the record in the slot at aSlotAt appended to
  // aStream, each field then holding its image's stream position (NULL for an empty BLOB or one
  // that cannot be read whole), and the slot's length word grown by the images.
  void stcAppendBlobImages(TzfMemoryStream& aStream, int64_t aSlotAt, uint32_t aSlot);
  // A result set's table is freed when its last cursor has left it and nothing else holds it.
  void stcReleaseResultSetTable();
  // A record lock on aRefNr, waiting with the thread's time left; a conflict answers aConflictCode
  // (10241 for reads and deletes, 10258 for modify) through the lock-failure report.
  uint32_t LockRecord(TzfServerTransaction* aTrans, int64_t aRefNr, bool& aNew, uint32_t aConflictCode = zfErrLocked);
  uint32_t Step(bool aForward, TzfLockType aLockType, uint8_t* aData);
  // aResult, after telling the extenders of a successful read (eaRecordGet, after).
  uint32_t NotifyRead(TzfLockType aLockType, const uint8_t* aData, uint32_t aResult);
  // Steps until aFilter accepts a record (nil or inactive: the first record), under the filter
  // deadline.
  uint32_t StepFiltered(bool aForward, TzfLockType aLockType, uint8_t* aData, TzfBaseFilterEngine* aFilter);
  bool FilterActive() { return sbcFilter && sbcFilter->IsActive(); }
  // The self lock of table-wide writes of a shared cursor: a record lock on stcSelfRefNr. aNew
  // tells the matching SelfUnlock whether to give it back.
  uint32_t SelfLock(bool& aNew);
  void SelfUnlock(bool aNew);
  // Record numbers in index order, within the range and filters, by walking from the start (or
  // the end, aFlipOrder).
  uint32_t IndexRecNoGet(uint32_t& aRecNo, bool aFlipOrder);
  uint32_t IndexRecNoSet(uint32_t aRecNo, bool aFlipOrder);
  // sbcIterate on an index: the range in index order through the key filter and the record filter
  // (only the operation deadline limits it); raises EzfServerEngineException for a failed step.
  void IterateIndex(uint8_t** aData, const TzfRecordIterator& aRecIterator, bool aBackward, void* aCookie);
  // ---- The current index ----
  // One end of the range: its key lives in Key (the current key engine's key length).
  struct TRangeEnd {
    TzfRangeInfo Info;
    std::vector<uint8_t> Key;
  };
  // The current index's node store inside aTrans (the indices engine is set to it first).
  TzfIndexNodeStore& IndexStore(TzfServerTransaction* aTrans);
  // A step along the current index within the range.
  uint32_t IndexStep(bool aForward, TzfLockType aLockType, uint8_t* aData);
  // The caller's key copied (aDirectKey) or built from a record into aKey; the key engine's code.
  uint32_t TakeKey(bool aDirectKey, const uint8_t* aKeyData, uint8_t* aKey);
  // -1 before the range, 1 after it, 0 inside (or without an index).
  int KeyRangePosition(const uint8_t* aKey);
  // The cursor's position follows the path (on a key: that record; elsewhere its ends or cracks).
  void PositionFromPath();
  // On an index, after a position was set in storage order (bookmark, another cursor): the path
  // goes to the record, or to BOF (EOF) when its key lies before (after) the range. A record that
  // cannot be read is left to the next step, which reports it.
  uint32_t stcFollowIntoRange();
  // On an index: a path on a key before (after) the range goes to BOF (EOF); the position follows.
  void stcPathIntoRange();
  // After a write in index order: the path stands on aRecord (or where it was, for a delete).
  void PathToRecord(const uint8_t* aRecord, int64_t aRefNr);

  // SetToFilter's scan: the first record, from the end it walks from, that the cursor's filters
  // and aFilter accept and whose key the cursor's key filter and aKeyFilter accept.
  uint32_t stcSetToFilter(TzfBaseFilterDescriptor* aFilter, TzfBaseFilterDescriptor* aKeyFilter, bool aForward);
  // The key filter of a running SetToFilter scan (nil otherwise), consulted by IndexStep.
  TzfBaseFilterEngine* stcScanKeyFilter = nullptr;
  // Nil: storage order.
  TzfBaseIndexEngine* stcIndexEngine = nullptr;
  std::unique_ptr<TzfBaseIndexPath> stcIndexPath;
  std::vector<uint8_t> stcKeyBuffer;
  TRangeEnd stcRangeStart, stcRangeEnd;

  TzfServerDatabase* stcDatabase;
  TzfServerBaseTable* stcTable;
  TzfServerRootTable* stcRoot;
  TzfServerTransContext* stcContext;
  TzfOpenMode stcOpenMode;
  TzfShareMode stcShareMode;
  std::unique_ptr<TzfCursorContentLock> stcContentLock;
  TzfCursorPosition stcPosition = TzfCursorPosition::cpBOF;
  int64_t stcRefNr = 0;
  // Stands for the cursor itself in the lock container: high 32 bits 0x7FFFFFFF, low 32 bits
  // unique to the cursor; never a record's reference number.
  int64_t stcSelfRefNr;
  bool stcInTable = false;
  bool stcBlobCache;
  // Owned; made in AfterConstruction, freed in BeforeDestruction.
  TzfBaseBlobHandler* stcBlobHandler = nullptr;
  std::function<void(TzfServerTableCursor*)> stcOnRequestClose;
};

// The database's cursor open (TzfServerDatabase::sdCursorOpen) for a client: share rules checked,
// names verified. The caller frees the cursor with Free().
uint32_t zfOpenTableCursor(TzfServerDatabase* aDatabase, const UnicodeString& aTableName,
                           const UnicodeString& aPassword, TzfOpenMode aOpenMode, TzfShareMode aShareMode,
                           uint32_t aTimeout, TzfServerTableCursor*& aCursor, bool aBlobCache = false);

}  // namespace zf
