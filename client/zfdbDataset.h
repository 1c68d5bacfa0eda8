// TzfDataset: one engine cursor presented as the framework's dataset.
//
// The dataset never touches storage: every hook ends in an operation of the engine cursor
// (TzfAbstractCursor), whose code is checked and raised as EzfDatabaseError naming the dataset.
// How the engine cursor is obtained is the descendant's (OpenAbstractCursor); the table and index
// datasets open a table cursor through their database's CursorOpen.
//
// Record buffer layout (ComputeBufferLayout, at open):
//   0                  RecordLength   the engine record (fields and null bitmap)
//   OffsetBookmark     BookmarkSize   the record's engine bookmark
//   OffsetCalcFlds     CalcFieldsSize calculated fields (flag byte, bit 0 = has a value, then value)
//   OffsetRecInfos     5              a 32-bit word (0) and the bookmark flag byte at +4
//
// FlipOrder presents the cursor in reverse order: first and last, next and prior, BOF and EOF and
// the bookmark comparison are swapped.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "client/zfdb.h"
#include "client/zfdbConversion.h"
#include "dictionary/zfsdAbstractCursor.h"
#include "foundation/zfllMemoryManager.h"
#include "platform/db/dbDataSet.h"

namespace zf {

class TzfDefaultValueHandler;
class TzfValidationsHandler;

enum class TzfDatasetOption : uint8_t {
  dsoOptimisticLocks,
  dsoAddKeyAsVariantField,
  dsoRecNoSupport,
  dsoSetKeyFieldCountForPSSetParams,
  dsoKeepExistingRangeForPSSetParams
};
using enum TzfDatasetOption;

// The framework's text field types (8-bit, fixed and wide).
inline bool zfIsTextFieldType(db::TFieldType aType) {
  return aType == db::ftString || aType == db::ftFixedChar || aType == db::ftWideString;
}
using TzfDatasetOptions = rtl::EnumSet<TzfDatasetOption>;

// How a filter text is read: the framework's filter expression or an SQL condition.
enum class TzfFilterType : uint8_t { ftSimple, ftSqlWhere };
using enum TzfFilterType;

class TzfBaseBlobStream;
class TzfCursor;

class TzfDataset : public db::TDataSet {
 public:
  // (aDataSet, var aAbort): asked when a fetch answers that the server filter timed out; the
  // fetch is repeated unless aAbort is set.
  using TzfServerFilterTimeoutEvent = std::function<void(TzfDataset&, bool&)>;

  explicit TzfDataset(rtl::TComponent* aOwner = nullptr);
  ~TzfDataset() override;
  const char16_t* ClassName() const override { return u"TzfDataset"; }

  TzfDatabase* Database() const { return dsDatabase; }
  // The link to the database (owned; named after the dataset with "_Cursor").
  TzfCursor* CursorLink() const { return dsCursor.get(); }
  void SetName(const UnicodeString& aName) override;
  // The cursor link stopped (its database is stopping): the dataset closes unless it is closing.
  virtual void ShutdownFromCursor();
  // The framework's inactive check, for the cursor link.
  virtual void CheckInactiveFromCursor() { CheckInactive(); }
  // The database component stops (before it releases its engine database).
  virtual void DatabaseStopping() {}
  // The database was destroyed: the dataset forgets it.
  void DatabaseGone() { dsDatabase = nullptr; }
  // Hands the effective timeout to an open engine cursor.
  void TimeoutChanged();
  // Inactive only (unless unchanged).
  void SetDatabase(TzfDatabase* aValue);
  int32_t Timeout() const { return dsTimeout; }
  // A new value is handed to an open engine cursor.
  void SetTimeout(int32_t aValue);
  // Timeout when not negative, else the database's, else the session's, else 10000 ms.
  uint32_t EffectiveTimeout() const;
  bool FlipOrder() const { return dsFlipOrder; }
  // On an open dataset: browse mode, the cursor positioned on the active record, re-synchronised.
  void SetFlipOrder(bool aValue);
  TzfServerFilterTimeoutEvent OnServerFilterTimeout;
  TzfRecordGetBatchExOptions BlockReadOptions() const { return dsBlockReadOptions; }
  void SetBlockReadOptions(TzfRecordGetBatchExOptions aValue) { dsBlockReadOptions = aValue; }
  // Above 0: the dataset becomes unidirectional and, when open, reads the records in blocks of
  // about that many bytes (RecordGetBatch); 0 ends block reading and re-synchronises.
  void SetBlockReadSize(int32_t aValue) override;

  TzfAbstractCursor* AbstractCursor() const { return dsAbstractCursor; }
  int32_t RecordLength() const { return dsRecordLength; }
  int32_t RecordBufferSize() const { return dsRecordBufferSize; }

  // ---- framework operations ----
  bool GetCurrentRecord(db::TRecordBuffer aBuffer) override;
  bool GetFieldData(db::TField* aField, void* aBuffer) override;
  bool BookmarkValid(const db::TBookmark& aBookmark) override;
  // In the block-read state the current block record's bookmark, which needs gboBookmarks (12289
  // otherwise: the block carries none).
  db::TBookmark GetBookmark() override;
  // Empty sorts before present; two present ones are compared by the engine cursor, whose error
  // raises (it is never taken for an order).
  int32_t CompareBookmarks(const db::TBookmark& aBookmark1, const db::TBookmark& aBookmark2) override;
  int32_t GetRecordCount() override;
  // Starts the engine cursor's asynchronous count (active dataset); the caller polls the task (the
  // count is its records read) and frees it. A refused start raises.
  void RecordCountAsync(TzfAbstractTaskInfo*& aTaskInfo);
  bool IsSequenced() override;
  int32_t GetRecNo() override;
  void SetRecNo(int32_t aRecNo) override;
  db::TRecordBuffer ActiveBuffer() const override;
  // aKeyFields is a list "A;B"; aKeyValues the value of a single field, or an array of variants
  // with one element per field. Without an index: a scan with an expression filter comparing
  // every key field with its value ("and"-joined). A record deleted between the search and the
  // re-synchronisation is searched again, at most 100 times.
  bool Locate(const UnicodeString& aKeyFields, const rtl::Variant& aKeyValues, db::TLocateOptions aOptions) override;
  // The result field's value of the record Locate would find (exact, case-sensitive), for several
  // result fields an array of their values (FieldValues); the dataset does not move. Unassigned
  // when none.
  rtl::Variant Lookup(const UnicodeString& aKeyFields, const rtl::Variant& aKeyValues,
                      const UnicodeString& aResultFields) override;
  // The current record's key: the bookmark of the active record as the engine cursor shows it
  // (unassigned without a current record). In the block-read state it needs gboBookmarks.
  virtual rtl::Variant KeyAsVariant();

  // ---- BLOB fields (client/zfdbBlob.cpp) ----
  // The stream over aField's BLOB: a block-mode stream while reading in blocks with gboBlobs, a
  // batch-append stream while inserting in batch-append mode, else the standard stream. 9986
  // without a field; 10753 for a calculated field or one that is no engine BLOB. The caller owns it.
  std::unique_ptr<rtl::TStream> CreateBlobStream(db::TField* aField, db::TBlobStreamMode aMode) override;
  // The services of the streams, on a record buffer and an engine field number (0-based); each
  // answers the cursor's code. A BLOB number of 0 counts as NULL.
  uint32_t GetBlobNr(const uint8_t* aBuffer, int32_t aFieldNo, int64_t& aBlobNr, bool& aIsNull);
  // 0 stores NULL.
  void SetBlobNr(uint8_t* aBuffer, int32_t aFieldNo, int64_t aBlobNr);
  // A NULL field gets a new empty BLOB first.
  uint32_t EnsureBlob(uint8_t* aBuffer, int32_t aFieldNo, int64_t& aBlobNr);
  // A NULL field: 0 for length 0, else 9998.
  uint32_t TruncateBlobField(uint8_t* aBuffer, int32_t aFieldNo, uint32_t aLength);
  // 13058 (modified meanwhile) sets the field NULL and counts as success.
  uint32_t FreeBlobField(uint8_t* aBuffer, int32_t aFieldNo);
  // The active record read again into aBuffer (the cursor positioned on it first).
  uint32_t ReReadActiveRecord(uint8_t* aBuffer);
  // The BLOB image at aOffset of the current block: its bytes and length, or 9998 when the image
  // does not lie wholly inside the block.
  uint32_t BlockReadBlobImage(int64_t aOffset, const uint8_t*& aBytes, uint32_t& aLength) const;
  // The batch-append content of engine field aFieldNo for the record being appended (made on
  // first use; the dataset owns it).
  TzfMemoryStream& BatchAppendBlob(int32_t aFieldNo);
  // Frees the batch-append contents (whenever the dataset leaves the insert state).
  void FreeBatchAppendBlobs();
  bool InBatchAppend() const { return dsBatchAppend > 0; }
  // Whether read-only fields may be written (a counter above 0).
  bool IgnoringReadOnly() const { return dsIgnoreReadOnly > 0; }
  // Whether a BLOB stream of this dataset is open.
  bool HasBlobStreams() const { return dsBlobStreamsHead != nullptr; }
  // Leaving the insert state frees the batch-append contents.
  void DataEvent(db::TDataEvent aEvent, intptr_t aInfo) override;

  // ---- editing, filters and batches (zfdbEditing.cpp) ----
  TzfDatasetOptions Options() const { return dsOptions; }
  // Optimistic locking cannot change while editing ("DataSet in editing mode"); the key variant
  // field only on a closed dataset.
  void SetOptions(TzfDatasetOptions aValue);
  // During batch append the record joins the batch; otherwise the framework's post.
  void Post() override;
  // Writes aField's value in the framework's form (nullptr: NULL) into the active buffer.
  void SetFieldData(db::TField* aField, const void* aBuffer) override;
  // Posts the record keeping its write lock and goes on editing it (nothing during batch append).
  void PostAndEdit();
  // Makes aField's BLOB one that refers to the file aFileName (the record's former BLOB is cut and
  // freed first); answers the engine's code. 9986 for an empty name; 10753 for a field that is no
  // engine BLOB. AddFileBlob raises a code naming the field.
  uint32_t AddFileBlobEx(db::TField* aField, const UnicodeString& aFileName);
  void AddFileBlob(db::TField* aField, const UnicodeString& aFileName);
  // Whether the active record is write-locked, and by whom (lpNotAtAll without one).
  TzfLockPresent IsRecordLocked();
  void LockTable(TzfLockType aLockType);
  void UnlockTable(TzfLockType aLockType);
  void UnlockTableAll();
  TzfLockPresent IsTableLocked(TzfLockType aLockType);

  // Batch append: inserted records are collected in memory and sent in one engine call when the
  // batch passes aCutoffSize bytes and when the outermost level ends. Levels nest; cancelling a
  // level removes only its records. A send that fails keeps the records, so the caller can send
  // again (FlushBatchAppend) or drop them (CancelBatchAppend).
  void BeginBatchAppend(int32_t aCutoffSize);
  void EndBatchAppend();
  void CancelBatchAppend();
  void FlushBatchAppend();
  // Records collected and not sent yet.
  int32_t BatchAppendPending() const;

  // Copies every record of aSrcTable into this one through the engine (same session only).
  void CopyRecords(TzfDataset* aSrcTable, bool aCopyBLOBs, int32_t aMaxTransSize);
  void CopyRecordsEx(TzfDataset* aSrcTable, bool aCopyBLOBs, int32_t aMaxTransSize, bool aCheckValFields);
  // Deletes every record the cursor shows.
  void DeleteRecords();

  // Filters. A filter text (ftSimple) is compiled by the framework's filter-expression parser
  // into a simple-expression filter on the engine cursor, at open and whenever type, text or
  // options change; a text that does not compile raises 10051 with the parser's message and
  // leaves the former filter as it was. ftSqlWhere hands the text to the engine's SQL filter.
  // OnFilterRecord runs on the client for every record the engine reads while Filtered.
  TzfFilterType FilterType() const { return dsFilterType; }
  void SetFilterType(TzfFilterType aValue);
  void SetFilterText(const UnicodeString& aValue) override;
  void SetFilterOptions(db::TFilterOptions aValue) override;
  void SetFiltered(bool aValue) override;
  void SetOnFilterRecord(const TFilterRecordEvent& aValue) override;
  bool FilterResync() const { return dsFilterResync; }
  void SetFilterResync(bool aValue) { dsFilterResync = aValue; }
  uint32_t FilterTimeout() const { return dsFilterTimeout; }
  void SetFilterTimeout(uint32_t aValue);

  // ---- connection, wanted state and table services (client/zfdbDatasetServices.cpp) ----
  // The linked database's session, else the session set.
  TzfBaseSession* Session() const;
  // The linked database's session is simply taken; another one needs the dataset inactive and
  // links that session's default database (none with an alias name or without a session).
  void SetSession(TzfBaseSession* aValue);
  // The implicit database of this alias opens the dataset (trimmed; another name needs the
  // dataset inactive, and a non-empty one unlinks the database).
  const UnicodeString& AliasName() const { return dsAliasName; }
  void SetAliasName(const UnicodeString& aValue);
  // A dataset without a session takes the thread's default session and, with neither alias name
  // nor database, that session's default database (after construction and after loading).
  void AssignDefaultConnection();
  // The wanted Active state for run time and design time; writing the one of the current mode
  // (not while loading) opens or closes the dataset; loading applies it.
  bool ActiveRuntime() const { return dsActiveRuntime; }
  void SetActiveRuntime(bool aValue);
  bool ActiveDesigntime() const { return dsActiveDesigntime; }
  void SetActiveDesigntime(bool aValue);
  void Loaded() override;
  // Whether the dataset is open.
  bool Exists() const { return Active(); }
  // The table's auto-increment value (open dataset).
  uint32_t GetAutoIncValue();
  void SetAutoIncValue(uint32_t aValue);
  // The table's named streams (open dataset); ReadStreamEx answers the code.
  void GetStreamList(rtl::TStrings& aStreams);
  void ReadStream(const UnicodeString& aName, rtl::TStream& aStream);
  uint32_t ReadStreamEx(const UnicodeString& aName, rtl::TStream& aStream);
  void WriteStream(const UnicodeString& aName, rtl::TStream& aStream);
  void DeleteStream(const UnicodeString& aName);
  // Moves to aDataSet's active record (another dataset of the same session, else 10020).
  void GotoCurrent(TzfDataset* aDataSet);
  // "3.0900 Release (P14)": the engine's version and build label.
  static UnicodeString Version();
  // Lets the active record's BLOB of aField go (the framework's close-BLOB hook).
  void CloseBlob(db::TField* aField) override;
  // For the cursor link as it opens: an alias name links the session's implicit database of
  // that alias (made when missing) unless the linked database has that alias already.
  void ResolveAliasDatabase();

 protected:
  // Opens the engine cursor into dsAbstractCursor (the descendant's).
  virtual void OpenAbstractCursor() = 0;
  // Frees the engine cursor.
  virtual void CloseAbstractCursor();
  // Whether a fetch that met a server filter time-out stops (OnServerFilterTimeout).
  virtual bool ServerFilterTimedOut();
  virtual void BuildMappers();
  virtual void FreeMappers();
  // Bookmark size of the cursor's current index.
  virtual void SetupIndex();
  void ComputeBufferLayout();
  virtual void AdjustFieldDef(db::TFieldDef& aFieldDef, const TzfFieldDescriptor& aFieldDescriptor);
  // Positions the engine cursor on the first record (in the order on show) whose key fields hold
  // aKeyValues; unless aNoRead the record is read into the spare buffer. False when none.
  virtual bool LocateRecord(const UnicodeString& aKeyFields, const rtl::Variant& aKeyValues,
                            db::TLocateOptions aOptions, bool aNoRead);
  // The value of every one of aCount key fields: with one field aKeyValues itself, or the first
  // element of an array of variants; with several, the elements of an array of variants that
  // holds one element per field. No field, or values that do not fit, raise 9986.
  std::vector<rtl::Variant> LocateKeyValues(const rtl::Variant& aKeyValues, size_t aCount) const;
  // Whether aValue searches aField for NULL: Empty, Null, or an empty text for a field that does
  // not hold text.
  static bool LocatesNull(const db::TField& aField, const rtl::Variant& aValue);
  // Raises aCode (not 0) naming the dataset.
  [[noreturn]] void RaiseError(uint32_t aCode) const;
  void Check(uint32_t aCode) const {
    if (aCode != 0) RaiseError(aCode);
  }

  // ---- framework hooks ----
  db::TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(db::TRecordBuffer& aBuffer) override;
  db::TGetResult GetRecord(db::TRecordBuffer aBuffer, db::TGetMode aGetMode, bool aDoCheck) override;
  void GetBookmarkData(db::TRecordBuffer aBuffer, void* aData) override;
  void SetBookmarkData(db::TRecordBuffer aBuffer, const void* aData) override;
  db::TBookmarkFlag GetBookmarkFlag(db::TRecordBuffer aBuffer) override;
  void SetBookmarkFlag(db::TRecordBuffer aBuffer, db::TBookmarkFlag aValue) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalGotoBookmark(const void* aBookmark) override;
  void InternalSetToRecord(db::TRecordBuffer aBuffer) override;
  void InternalInitRecord(db::TRecordBuffer aBuffer) override;
  void ClearCalcFields(db::TRecordBuffer aBuffer) override;
  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  bool IsCursorOpen() const override { return dsAbstractCursor != nullptr; }
  void OpenCursor(bool aInfoQuery) override;
  // Keeps the block-read size across the close.
  void CloseCursor() override;
  // Block reading set before the open starts here, once the open is complete.
  void DoAfterOpen() override;
  db::TFieldFactory GetFieldClass(db::TFieldType aType) const override;
  // These refuse while a BLOB stream is open ("All BLOB streams must be freed ...").
  void DoBeforeCancel() override;
  void DoBeforeClose() override;
  void DoBeforeDelete() override;
  void DoBeforeEdit() override;
  void DoBeforeInsert() override;
  void DoBeforePost() override;
  void DoBeforeRefresh() override;
  void DoBeforeScroll() override;
  void CheckBlobStreams();

  // ---- editing hooks (zfdbEditing.cpp) ----
  void InternalEdit() override;
  void InternalPost() override;
  // Post that keeps the record's write lock when aKeepLock.
  void InternalPostEx(bool aKeepLock);
  void InternalCancel() override;
  void InternalDelete() override;
  void InternalAddRecord(db::TRecordBuffer aBuffer, bool aAppend) override;
  bool FindRecord(bool aRestart, bool aGoForward) override;
  // The record batch append adds to the batch (what Post does in batch mode).
  void BatchPost();
  // The client-side defaults and validations of the table (made at open, freed at close).
  void CreateClientHandlers();
  void FreeClientHandlers();
  // Installs the callback filter on the engine cursor (removing a former one).
  void InstallCallbackFilter();
  // Replaces the expression filter by one for aType, aText and aOptions (none for an empty text),
  // activated when Filtered; the text is compiled before the former filter goes.
  void InstallExprFilter(TzfFilterType aType, const UnicodeString& aText, db::TFilterOptions aOptions);
  // The writers of FilterType, Filter and FilterOptions: nothing when all three stay.
  void ChangeFilter(TzfFilterType aType, const UnicodeString& aText, db::TFilterOptions aOptions);
  void ActivateFilters();
  void DeactivateFilters();
  // Inverts the order for one call, without moving (GotoNearestBackward).
  void SetFlipOrderRaw(bool aValue) { dsFlipOrder = aValue; }
  // Frees a second cursor kept for lookups (the index dataset's).
  virtual void DropLookupCursor() {}
  // The key buffer under edit in state dsSetKey (the index dataset's); false when none.
  virtual bool GetKeyEditBuffer(db::TRecordBuffer& aBuffer) const { return false; }
  // Write-only as configured, or while an open that will read in blocks fills its first buffers.
  bool IsWriteOnly() const { return dsWriteOnly || dsInternalWriteOnly; }

  TzfAbstractCursor* dsAbstractCursor = nullptr;
  TzfDatabase* dsDatabase = nullptr;
  bool dsWriteOnly = false;
  bool dsInternalWriteOnly = false;  // set by an open with a block-read size until it completes
  bool dsRecRevField = false;
  TzfDatasetOptions dsOptions;
  std::unique_ptr<TzfDefaultValueHandler> dsDefaultValueHandler;
  std::unique_ptr<TzfValidationsHandler> dsValidationsHandler;
  std::vector<uint8_t> dsOldValuesBuffer;  // the record as it was when the edit began
  bool dsDeactivating = false;
  int32_t dsBatchAppendCutoff = 0;
  std::unique_ptr<TzfMemoryStream> dsBatchAppendData;
  std::vector<int64_t> dsBatchAppendStartOffset;
  std::vector<int32_t> dsBatchAppendRecordCount;
  bool dsFilterResync = true;
  TzfFilterType dsFilterType = ftSimple;
  TzfFilterID dsExprFilter = 0;
  TzfFilterID dsFuncFilter = 0;
  db::TRecordBuffer dsRecordToFilter = nullptr;
  uint32_t dsFilterTimeout = 500;
  int32_t dsIgnoreReadOnly = 0;
  int32_t dsBatchAppend = 0;  // batch-append nesting level, 0 = off

 private:
  // Frees the block and, in the block-read state, reads the first one.
  void ResetBlockRead();
  // The next record of the block (a new block when it is used up) into aBuffer.
  db::TGetResult GetBlockRecord(db::TRecordBuffer aBuffer);
  // Refills the block from the engine cursor.
  void ReadBlock();
  // Positions the engine cursor on the active record.
  void PositionOnActive();
  // A state change stores the Active state as the wanted one of the current mode.
  void NoteWantedActive();

  int32_t dsTimeout = -1;
  bool dsActiveRuntime = false;
  bool dsActiveDesigntime = false;
  TzfBaseSession* dsSession = nullptr;
  UnicodeString dsAliasName;
  rtl::TComponentPtr<TzfCursor> dsCursor;
  bool dsClosing = false;               // the dataset closes its cursor link
  bool dsShutdownFromCursor = false;    // the dataset closes because the link stopped
  bool dsFlipOrder = false;
  TzfDynMapperMethodArray dsMapperZofrinToVcl;
  TzfDynMapperMethodArray dsMapperVclToZofrin;
  std::vector<int32_t> dsMapperFieldOffset;
  std::vector<TzfBaseVclFieldMapper*> dsMappers;
  std::vector<std::unique_ptr<TzfBaseVclFieldMapper>> dsMapperList;
  int32_t dsRecordLength = 0;
  int32_t dsOffsetBookmark = 0;
  int32_t dsOffsetCalcFlds = 0;
  int32_t dsOffsetRecInfos = 0;
  int32_t dsRecordBufferSize = 0;
  int32_t dsRecordBufferCount = 0;
  TzfMemoryPool dsRecordBufferPool;  // items of dsRecordBufferSize bytes
  TzfRecordGetBatchExOptions dsBlockReadOptions = (1u << gboBlobs) | (1u << gboBookmarks);
  std::unique_ptr<TzfMemoryStream> dsBlockReadStream;
  int64_t dsBlockReadOffset = 0;  // of the next entry in the block
  int32_t dsBlockReadCount = 0;
  int32_t dsBlockReadPos = 0;  // entries served from the block
  bool dsBlockReadEof = false;
  db::TRecordBuffer dsLookupBuffer = nullptr;  // the record Lookup reads its result from
  // Open BLOB streams (client/zfdbBlob.cpp links and unlinks them).
  friend class TzfBaseBlobStream;
  TzfBaseBlobStream* dsBlobStreamsHead = nullptr;
  TzfBaseBlobStream* dsBlobStreamsTail = nullptr;
  // Per engine field: the batch-append content of the record being appended.
  std::vector<std::unique_ptr<TzfMemoryStream>> dsBatchAppendBlobs;
};

}  // namespace zf
