// The caching BLOB handler: record-level semantics for the BLOBs of one cursor. A change to an
// existing BLOB is made on a private copy and reaches the table only when the record that holds
// the BLOB is modified; a delete of an existing BLOB waits for that modify too; BLOBs the cursor
// creates belong to it until a posted record takes them over. Until then the table's BLOB and
// every other cursor see the old content, and the cursor itself can still read it (aReadOld).
//
// What the handler remembers lives in a cache table of its own: a result set on the cursor's
// database, opened at the first change, one record per BLOB number the cursor touched:
//
// | field | name            | type  | meaning                                               |
// |-------|-----------------|-------|-------------------------------------------------------|
// | 0     | "BlobNr"        | Int64 | the table BLOB's number (unique index "Default")      |
// | 1     | "BlobStateInfo" | Byte  | 0 created, 1 deleted, 2 copied                        |
// | 2     | "CachedBlob"    | Blob  | the private copy (state 2), NULL otherwise            |
// | 3     | "FieldNo"       | Int32 | the record field the BLOB belongs to                  |
//
// Because the entries are records of the cursor's own transactions, a rolled-back transaction
// takes its entries and copies along with the table's changes. The cache cursor's own handler is
// a pass-through one, whose delete hook deletes a removed entry's copy.
//
// Every BLOB operation and record hook runs with the thread's deadline suspended. Operations on a
// BLOB this cursor deleted, and records naming a BLOB in a state the hook does not accept, answer
// 11896; a hook that fails marks the transaction corrupted.
#pragma once
#include <vector>

#include "server/zfsrBlobHandlerBase.h"

namespace zf {

class TzfBaseBlobEngine;
class TzfBaseBlobLinkHandler;
class TzfFieldsDescriptor;
class TzfServerTableCursor;

class TzfCachingBlobHandler : public TzfBaseBlobHandler {
 public:
  // aOwner: the cursor (also the parent). Engine, link handler and fields are not owned.
  TzfCachingBlobHandler(TzfServerTableCursor* aOwner, TzfBaseBlobEngine* aBlobEngine,
                        TzfBaseBlobLinkHandler* aBlobLinkHandler, const TzfFieldsDescriptor* aFieldsDescriptor);
  // The cache cursor goes, and its table with every private copy.
  void BeforeDestruction() override;

  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  uint32_t BlobCreate(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t& aBlobNr) override;
  uint32_t BlobCreateFile(TzfBaseTransaction* aTrans, int32_t aFieldNo, const UnicodeString& aFileName,
                          int64_t& aBlobNr) override;
  uint32_t BlobCreateLink(TzfBaseTransaction* aTrans, int32_t aFieldNo, const UnicodeString& aTableName,
                          int64_t aTableBlobNr, int64_t& aBlobNr) override;
  uint32_t BlobDelete(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t aBlobNr) override;
  uint32_t BlobFree(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t aBlobNr, bool& aBlobDeleted) override;
  uint32_t BlobTruncate(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t aBlobNr, uint32_t aBlobLength) override;
  uint32_t BlobWrite(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                     const void* aBlob) override;
  uint32_t BlobGetLength(TzfBaseTransaction* aTrans, int32_t aFieldNo, bool aReadOld, int64_t aBlobNr,
                         uint32_t& aLength) override;
  bool BlobIsLink(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t aBlobNr, UnicodeString& aSrcTableName,
                  int64_t& aSrcTableBlobNr) override;
  uint32_t BlobRead(TzfBaseTransaction* aTrans, int32_t aFieldNo, bool aReadOld, int64_t aBlobNr, uint32_t aOffset,
                    uint32_t aLen, rtl::TStream& aStream) override;
  uint32_t BlobModified(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t aBlobNr, bool& aChanged) override;

  uint32_t AfterDelete(TzfBaseTransaction* aTrans, const uint8_t* aRecord) override;
  uint32_t BeforeInsert(TzfBaseTransaction* aTrans, uint8_t* aRecord) override;
  uint32_t BeforeModify(TzfBaseTransaction* aTrans, uint8_t* aRecord) override;
  uint32_t AfterModify(TzfBaseTransaction* aTrans, const uint8_t* aOldRecord, const uint8_t* aNewRecord) override;
  // True while the cache holds entries: an insert or modify then runs in a level of its own.
  bool NeedNested() override;

  // Entries in the cache (0 without a cache); for diagnostics.
  uint32_t CacheEntryCount();
  bool HasCache() const { return cbhCache != nullptr; }

 private:
  enum TState : uint8_t { bsCreated = 0, bsDeleted = 1, bsCopied = 2 };
  struct TEntry {
    TState State;
    int64_t Copy;  // the private copy's number in the cache table, 0 without one
  };
  void EnsureCache();
  // The entry of aBlobNr (the cache cursor then stands on it); false without one.
  bool FindCacheEntry(int32_t aFieldNo, int64_t aBlobNr, TEntry& aEntry);
  uint32_t AddCacheEntry(int32_t aFieldNo, TState aState, int64_t aCachedBlobNr, int64_t aBlobNr);
  // Removes the entry FindCacheEntry stood on (its copy with it).
  uint32_t RemoveCacheEntry();
  // Finds and removes; 11896 when there is no entry in one of aStates (or its removal fails).
  uint32_t TakeEntry(int32_t aFieldNo, int64_t aBlobNr, std::initializer_list<TState> aStates);
  // A private copy of at most aMaxLength bytes of table BLOB aBlobNr, entered as copied.
  uint32_t MakeCopy(int32_t aFieldNo, int64_t aBlobNr, uint32_t aMaxLength, int64_t& aCopy);
  // The BLOB number a posted record names in aField; false when the field is NULL, or holds 0 and
  // is set to NULL here: the hooks have nothing to do for it.
  bool PostedBlobNr(uint8_t* aRecord, int32_t aField, int64_t& aBlobNr) const;
  void SetNull(uint8_t* aRecord, int32_t aField) const;
  // Runs a record hook: exceptions become the result; a failure marks aTrans corrupted.
  uint32_t Hook(TzfBaseTransaction* aTrans, const std::function<uint32_t()>& aWork);

  TzfServerTableCursor* cbhOwner;
  TzfBaseBlobEngine* cbhBlobEngine;
  TzfBaseBlobLinkHandler* cbhBlobLinkHandler;
  const TzfFieldsDescriptor* cbhFieldsDescriptor;
  std::vector<int32_t> cbhBlobFields;
  TzfServerTableCursor* cbhCache = nullptr;  // owned
  uint8_t* cbhCacheRecord = nullptr;         // from the cache cursor's record buffers
};

}  // namespace zf
