// Abstract cursor and statement.
//
// TzfAbstractCursor is the engine's cursor interface: every operation that answers a code runs in
// the public operation frame of its concrete class. The abstract level implements only what can
// be said without a table: record buffers, the Variant access to one field (BLOB fields read and
// written through the cursor's own BLOB operations, memo text through the field's code page),
// the wrapping of callback and expression filters into filter descriptors, and the two field
// sources through which filters, keys, BLOB handlers and mappers read and write a record of the
// cursor. It also serves the dictionary's cursor context (the session's user name for defaults).
//
// Filter descriptors of callbacks and expressions belong to the index layer; it installs their
// constructors here (zfSetFilterDescriptorFactories) when it starts. Without them those two
// filter kinds answer 12289.
//
// TzfAbstractStatement is the interface of an SQL statement; statements come from the SQL engine a
// server engine may link, so no statement class exists here.
#pragma once
#include <functional>
#include <memory>

#include "dictionary/zfsdAbstractSession.h"
#include "dictionary/zfsdCursorContext.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdFilterDescriptor.h"
#include "dictionary/zfsdSearchKeyAction.h"
#include "dictionary/zfsdTypes.h"

namespace zf {

class TzfCustomMemoryStream;
class TzfMemoryStream;

enum TzfLockType : uint8_t { zfltNoLock, zfltReadLock, zfltWriteLock };
enum TzfLockPresent : uint8_t { lpNotAtAll, lpYesByUs, lpYesByAnother };
enum TzfRecordCountOption : uint8_t {
  rcoTotalRecordCount, rcoTotalKeyCount, rcoRangedKeyCount, rcoServerFilteredKeyCount, rcoClientFilteredKeyCount
};
enum TzfRecordGetBatchExOption : uint8_t { gboBlobs, gboBookmarks, gboBackwards };
using TzfRecordGetBatchExOptions = uint8_t;  // bit i = option i
enum TzfBlobCopyMode : uint8_t { zfbcmNoCopy, zfbcmCopyFull, zfbcmCreateLink };
using TValueRelationship = int8_t;  // -1, 0, 1
// The identity of a filter engine, issued by the index layer (unique, non-zero, 32 bits); 0
// addresses every filter.
using TzfFilterID = uint32_t;
using TzfKeyFilterID = uint32_t;
// A record (or key) filter: True keeps the buffer.
using TzfFilterCallback = std::function<bool(int32_t aCookie, const uint8_t* aBuffer)>;

// Constructors of the index layer's callback and simple-expression filter descriptors.
struct TzfFilterDescriptorFactories {
  std::unique_ptr<TzfBaseFilterDescriptor> (*CreateCallback)(int32_t aCookie, const TzfFilterCallback& aCallback) =
      nullptr;
  // aExpression: the expression blob (it carries its own total size); aCodePage of its literals.
  std::unique_ptr<TzfBaseFilterDescriptor> (*CreateSimpleExpression)(const uint8_t* aExpression,
                                                                     int32_t aCodePage) = nullptr;
};
void zfSetFilterDescriptorFactories(const TzfFilterDescriptorFactories& aFactories);

// A fields source whose record fields can be written.
class IzfWriteableFieldsSource : public IzfFieldsSource {
 public:
  virtual void SetFieldFromVariant(uint8_t* aData, int32_t aField, const rtl::Variant& aValue) = 0;

 protected:
  ~IzfWriteableFieldsSource() = default;
};

// ---------------------------------------------------------------------------------------------

class TzfAbstractCursor : public TzfAbstractTimeoutObject, public IzfWriteableFieldsSource, public IzfCursorContext {
 public:
  // Shares the database's lock; appended to the database's cursors.
  TzfAbstractCursor(TzfAbstractDatabase* aDatabase, uint32_t aTimeout);
  ~TzfAbstractCursor() override;  // leaves the database's chain
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  void AfterConstruction() override;
  void BeforeDestruction() override;
  TzfServerChain* asoOwnerChain() override;
  TzfAbstractDatabase* Database() const { return acDatabase; }

  virtual TzfDataDictionary* acGetDictionary() = 0;
  virtual TzfBaseTableDescriptor* acGetTableDescriptor() = 0;
  virtual UnicodeString acGetFullName() = 0;
  // The fields descriptor of the cursor's table descriptor.
  TzfFieldsDescriptor& acFields();

  // ---- Field values (a bad field number is a range error) ----
  // Non-BLOB fields by their descriptor; BLOB fields read whole: Null for a NULL field or an empty
  // BLOB, a wide memo as its characters, a memo converted from its storage code page, other BLOBs
  // as a byte array. BLOB failures raise their codes.
  virtual rtl::Variant GetFieldAsVariant(const uint8_t* aData, int32_t aField) override;
  // Non-BLOB fields by their descriptor (Empty and Null set NULL). BLOB fields: non-empty content
  // is written (the BLOB created first for a NULL field) and cut to its length; empty content
  // deletes the BLOB and sets the field NULL.
  virtual void SetFieldFromVariant(uint8_t* aData, int32_t aField, const rtl::Variant& aValue) override;
  // Raises the engine's exception 12289 "RequestNestedTransactions is not supported by %s".
  virtual void RequestNestedTransactions();

  // ---- Record buffers (engine memory; every field NULL after Alloc and Clear) ----
  virtual uint8_t* RecordBufferAlloc();
  virtual void RecordBufferFree(uint8_t* aBuffer);
  virtual void RecordBufferClear(uint8_t* aBuffer);

  // ---- IzfFieldsSource on the cursor's fields ----
  bool GetFieldForFilter(int32_t aField, const char* aName, const uint8_t* aData, uint16_t& aType, uint16_t& aSize,
                         bool& aIsNull, const uint8_t*& aValue, uint16_t& aCodePage) override;
  bool GetSourceFlag() override { return true; }
  int32_t GetFieldFromName(const UnicodeString& aName) override;
  int32_t GetFieldCount() override;
  void GetFieldInfo(int32_t aIndex, IzfFieldInfo*& aInfo) override;
  TzfPersistent* GetOwnerCursor() override { return this; }
  int32_t GetDataOffset() override { return 0; }

  // ---- IzfCursorContext ----
  UnicodeString GetSessionUserName() override;

  // ---- Positioning and records ----
  virtual uint32_t SetToBegin() = 0;
  virtual uint32_t SetToCursor(TzfAbstractCursor* aCursor) = 0;
  virtual uint32_t SetToEnd() = 0;
  virtual uint32_t SetToFilter(TzfBaseFilterDescriptor* aFilter, TzfBaseFilterDescriptor* aKeyFilter,
                               bool aForward) = 0;
  virtual uint32_t GetBookmark(uint8_t* aBookmark, uint32_t aSize) = 0;
  virtual uint32_t CompareBookmarks(const uint8_t* aBookmark1, const uint8_t* aBookmark2, uint32_t aSize,
                                    TValueRelationship& aCompResult) = 0;
  virtual uint32_t SetToBookmark(const uint8_t* aBookmark, uint32_t aSize) = 0;
  virtual uint32_t BookmarkAsVariant(const uint8_t* aBookmark, uint32_t aSize, rtl::Variant& aVariant) = 0;
  virtual uint32_t RecNoSupported() = 0;
  virtual uint32_t RecNoGet(uint32_t& aRecNo, bool aFlipOrder) = 0;
  virtual uint32_t RecNoSet(uint32_t aRecNo, bool aFlipOrder) = 0;
  virtual uint32_t RecordGet(TzfLockType aLockType, uint8_t* aData) = 0;
  virtual uint32_t RecordGetNext(TzfLockType aLockType, uint8_t* aData) = 0;
  virtual uint32_t RecordGetPrior(TzfLockType aLockType, uint8_t* aData) = 0;
  virtual uint32_t RecordInsert(TzfLockType aLockType, uint8_t* aData) = 0;
  virtual uint32_t RecordModify(uint8_t* aData, bool aReleaseLock) = 0;
  virtual uint32_t RecordDelete(uint8_t* aData) = 0;
  virtual uint32_t RecordIsLocked(TzfLockType aLockType, TzfLockPresent& aLockPresent) = 0;
  virtual uint32_t RecordLockRelease(bool aAllLocks) = 0;
  virtual uint32_t AutoIncGet(uint32_t& aValue) = 0;
  virtual uint32_t AutoIncSet(uint32_t aValue) = 0;

  // ---- Filters ----
  // Wrap the expression (with the thread's ANSI code page) or callback into a descriptor and add
  // it with FilterAddCustom; the descriptor is freed afterwards.
  virtual uint32_t FilterAddExpression(const uint8_t* aExpression, TzfFilterID& aFilterID);
  virtual uint32_t FilterAddCallback(int32_t aCookie, const TzfFilterCallback& aCallback, TzfFilterID& aFilterID);
  virtual uint32_t FilterAddCustom(TzfBaseFilterDescriptor* aFilter, TzfFilterID& aFilterID) = 0;
  virtual uint32_t FilterSetTimeout(uint32_t aTimeout) = 0;
  virtual uint32_t FilterActivate(TzfFilterID aFilterID) = 0;
  virtual uint32_t FilterDeactivate(TzfFilterID aFilterID) = 0;
  virtual uint32_t FilterRemove(TzfFilterID aFilterID) = 0;

  // ---- Indexes, keys and ranges ----
  virtual uint32_t SwitchToIndex(const UnicodeString& aIndexName, int32_t aIndexID, bool aPosnOnRec) = 0;
  virtual uint32_t GetIndexID(int32_t& aIndexID) = 0;
  virtual uint32_t SetToKey(TzfSearchKeyAction aSearchAction, int32_t aFieldCount, int32_t aPartialLen,
                            bool aDirectKey, const uint8_t* aKeyData) = 0;
  virtual uint32_t RecordGetForKey(int32_t aFieldCount, int32_t aPartialLen, bool aDirectKey,
                                   const uint8_t* aKeyData, uint8_t* aData, bool aMatchFirst, bool aFirstCall) = 0;
  virtual uint32_t RangeReset() = 0;
  virtual uint32_t RangeSet(int32_t aFieldCount1, int32_t aPartialLen1, bool aDirectKey1, const uint8_t* aKeyData1,
                            bool aKeyIncl1, int32_t aFieldCount2, int32_t aPartialLen2, bool aDirectKey2,
                            const uint8_t* aKeyData2, bool aKeyIncl2) = 0;
  virtual uint32_t CompareKeys(int32_t aFieldCount, int32_t aPartialLen, bool aDirectKey1, const uint8_t* aKeyData1,
                               bool aDirectKey2, const uint8_t* aKeyData2, TValueRelationship& aResult) = 0;
  virtual uint32_t KeyFilterAddExpression(const uint8_t* aExpression, TzfKeyFilterID& aKeyFilterID);
  virtual uint32_t KeyFilterAddCallback(int32_t aCookie, const TzfFilterCallback& aCallback,
                                        TzfKeyFilterID& aKeyFilterID);
  virtual uint32_t KeyFilterAddCustom(TzfBaseFilterDescriptor* aKeyFilter, TzfKeyFilterID& aKeyFilterID) = 0;
  virtual uint32_t KeyFilterActivate(TzfKeyFilterID aKeyFilterID) = 0;
  virtual uint32_t KeyFilterDeactivate(TzfKeyFilterID aKeyFilterID) = 0;
  virtual uint32_t KeyFilterRemove(TzfKeyFilterID aKeyFilterID) = 0;

  // ---- Batches and copies ----
  virtual uint32_t RecordGetBatch(int32_t aCutoffSize, TzfRecordGetBatchExOptions aOptions, TzfMemoryStream& aStream,
                                  int32_t aMaxRecords, bool aForward) = 0;
  virtual uint32_t RecordInsertBatch(TzfCustomMemoryStream& aStream) = 0;
  virtual uint32_t CopyRecords(TzfAbstractCursor* aDestCursor, TzfBlobCopyMode aBlobCopyMode,
                               int32_t aMaxTransSize) = 0;
  virtual uint32_t CopyRecordsEx(TzfAbstractCursor* aDestCursor, TzfBlobCopyMode aBlobCopyMode, int32_t aMaxTransSize,
                                 bool aCheckValFields) = 0;
  virtual uint32_t DeleteRecords() = 0;

  // ---- BLOBs ----
  virtual uint32_t BlobCreate(int32_t aFieldNo, int64_t& aBlobNr) = 0;
  virtual uint32_t BlobCreateFile(int32_t aFieldNo, const UnicodeString& aFileName, int64_t& aBlobNr) = 0;
  virtual uint32_t BlobDelete(int32_t aFieldNo, int64_t aBlobNr) = 0;
  virtual uint32_t BlobFree(int32_t aFieldNo, int64_t aBlobNr) = 0;
  // Appends aLen bytes from aOffset to aStream.
  virtual uint32_t BlobRead(int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                            rtl::TStream& aStream, bool aReadOrg) = 0;
  virtual uint32_t BlobWrite(int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                             const void* aBlob) = 0;
  virtual uint32_t BlobTruncate(int32_t aFieldNo, int64_t aBlobNr, uint32_t aBlobLength) = 0;
  virtual uint32_t BlobGetLength(int32_t aFieldNo, int64_t aBlobNr, uint32_t& aLength, bool aReadOrg) = 0;
  virtual uint32_t BlobModified(int32_t aFieldNo, int64_t aBlobNr, bool& aModified) = 0;

  // ---- Table streams, locks, counts ----
  virtual uint32_t TableStreamGetList(rtl::TStrings& aStreams) = 0;
  virtual uint32_t TableStreamWrite(const UnicodeString& aName, rtl::TStream& aStream) = 0;
  virtual uint32_t TableStreamRead(const UnicodeString& aName, rtl::TStream& aStream) = 0;
  virtual uint32_t TableStreamDelete(const UnicodeString& aName) = 0;
  virtual uint32_t TableIsLocked(TzfLockType aLockType, TzfLockPresent& aLockPresent) = 0;
  virtual uint32_t TableLockAcquire(TzfLockType aLockType) = 0;
  virtual uint32_t TableLockRelease(TzfLockType aLockType, bool aAllLocks) = 0;
  virtual uint32_t Duplicate(TzfOpenMode aOpenMode, TzfAbstractCursor*& aNewCursor) = 0;
  virtual uint32_t ChangePassword(const UnicodeString& aNewPassword) = 0;
  virtual uint32_t GetRecordCount(uint32_t& aRecCount, bool aEstimate) = 0;
  virtual uint32_t GetRecordCountAsync(TzfAbstractTaskInfo*& aTaskInfo) = 0;
  virtual uint32_t GetRecordCountEx(TzfRecordCountOption aOption, uint32_t& aRecCount, bool aEstimate) = 0;
  virtual uint32_t GetRecordCountExAsync(TzfRecordCountOption aOption, TzfAbstractTaskInfo*& aTaskInfo) = 0;

  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

 private:
  // Wraps a descriptor from a factory (12289 when none is installed) and adds it with aAdd.
  uint32_t AddWrapped(std::unique_ptr<TzfBaseFilterDescriptor> aDescriptor, const char16_t* aKind,
                      const std::function<uint32_t(TzfBaseFilterDescriptor*)>& aAdd);

  TzfAbstractDatabase* acDatabase;
  bool acLockedIncDone = false;
};

// ---------------------------------------------------------------------------------------------

class TzfAbstractStatement : public TzfAbstractTimeoutObject {
 public:
  TzfAbstractStatement(TzfAbstractDatabase* aDatabase, uint32_t aTimeout, bool aExecDirect = false);
  ~TzfAbstractStatement() override;  // leaves the database's chain
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  void AfterConstruction() override;
  void BeforeDestruction() override;
  TzfServerChain* asoOwnerChain() override;
  TzfAbstractDatabase* Database() const { return asDatabase; }
  bool ExecDirect() const { return asExecDirect; }
  // Marks a statement a database's direct execution made.
  void SetExecDirect(bool aValue) { asExecDirect = aValue; }

  virtual uint32_t Prepare(TzfStatementType aStatementType, const UnicodeString& aQueryText,
                           rtl::TStream* aStream) = 0;
  virtual uint32_t Exec(TzfAbstractCursor*& aCursor, TzfOpenMode aOpenMode, rtl::TStream* aStream) = 0;
  virtual uint32_t SetParams(const TzfSqlParamList& aParams, rtl::TStream* aStream) = 0;
  virtual uint32_t GetParams(TzfSqlParamList& aParams, rtl::TStream* aStream) = 0;

  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

 private:
  TzfAbstractDatabase* asDatabase;
  bool asLockedIncDone = false;
  bool asExecDirect;
};

}  // namespace zf
