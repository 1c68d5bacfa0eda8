#include "server/zfsrBlobHandlerCaching.h"

#include <functional>

#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "platform/rtl/rtlException.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerTableCursor.h"
#include "storage/zfsrBlobEngineBase.h"
#include "storage/zfsrDataDictionary.h"
#include "storage/zfsrTimeoutHandling.h"
#include "storage/zfsrTransaction.h"

namespace zf {

namespace {

constexpr int32_t kBlobNrField = 0;
constexpr int32_t kStateField = 1;
constexpr int32_t kCachedBlobField = 2;
constexpr int32_t kFieldNoField = 3;
constexpr uint32_t kAll = 0xFFFFFFFFu;

// The cache table's dictionary; each cache gets its own (the result set's build adjusts it).
std::unique_ptr<TzfServerDataDict> CacheDictionary() {
  auto d = std::make_unique<TzfServerDataDict>();
  d->RemoveIndicesDescriptor();
  TzfFieldsDescriptor& f = *d->tdFieldsDescriptor;
  f.AddField(u"BlobNr", u"", zftInt64, 0, 0, true, nullptr);
  f.AddField(u"BlobStateInfo", u"", zftByte, 0, 0, true, nullptr);
  f.AddField(u"CachedBlob", u"", zftBlob, 0, 0, false, nullptr);
  f.AddField(u"FieldNo", u"", zftInt32, 0, 0, true, nullptr);
  TzfIndexDescriptor* ix = d->EnsureIndicesDescriptor()->AddIndex(u"Default", 0, idNone, u"");
  dynamic_cast<TzfCompKeyDescriptor&>(*ix->idKeyDescriptor).Add(kBlobNrField);
  d->AddBlobDescriptor();
  return d;
}

// The thread's deadline is suspended for a scope: cache work never times out half-way.
struct TNoTimeout {
  TNoTimeout() { zfSuspendTimeout(); }
  ~TNoTimeout() { zfResumeTimeout(); }
  TNoTimeout(const TNoTimeout&) = delete;
  TNoTimeout& operator=(const TNoTimeout&) = delete;
};

uint32_t BlobError() { return zfErrBlobGeneral; }

}  // namespace

TzfCachingBlobHandler::TzfCachingBlobHandler(TzfServerTableCursor* aOwner, TzfBaseBlobEngine* aBlobEngine,
                                             TzfBaseBlobLinkHandler* aBlobLinkHandler,
                                             const TzfFieldsDescriptor* aFieldsDescriptor)
    : TzfBaseBlobHandler(aOwner),
      cbhOwner(aOwner),
      cbhBlobEngine(aBlobEngine),
      cbhBlobLinkHandler(aBlobLinkHandler),
      cbhFieldsDescriptor(aFieldsDescriptor),
      cbhBlobFields(BlobFieldsOf(aFieldsDescriptor)) {}

void TzfCachingBlobHandler::BeforeDestruction() {
  TzfBaseBlobHandler::BeforeDestruction();
  if (TzfServerTableCursor* cache = std::exchange(cbhCache, nullptr)) {
    if (cbhCacheRecord) cache->RecordBufferFree(std::exchange(cbhCacheRecord, nullptr));
    cache->Free();
  }
}

const rtl::TClassInfo& TzfCachingBlobHandler::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfCachingBlobHandler", &TzfBaseBlobHandler::ClassInfo()};
  return info;
}

// ---- The cache ----

void TzfCachingBlobHandler::EnsureCache() {
  if (cbhCache) return;
  auto* database = dynamic_cast<TzfServerDatabase*>(cbhOwner->Database());
  if (!database) throw EzfServerEngineException(zfErrInvalidHndl);
  std::unique_ptr<TzfServerDataDict> dict = CacheDictionary();
  TzfServerTableCursor* cache = TzfServerTableCursor::CreateResultSet(database, dict.get(), cbhOwner->atoGetTimeout());
  if (const uint32_t r = cache->SwitchToIndex(u"Default", 0, false)) {
    cache->Free();
    throw EzfServerEngineException(r);
  }
  cbhCache = cache;
  cbhCacheRecord = cache->RecordBufferAlloc();
}

uint32_t TzfCachingBlobHandler::CacheEntryCount() {
  if (!cbhCache) return 0;
  uint32_t count = 0;
  return cbhCache->GetRecordCount(count, false) == 0 ? count : 0;
}

bool TzfCachingBlobHandler::FindCacheEntry(int32_t aFieldNo, int64_t aBlobNr, TEntry& aEntry) {
  if (!cbhCache) return false;
  const TzfFieldsDescriptor& f = *cbhCache->acGetTableDescriptor()->tdFieldsDescriptor;
  f.SetRecordField(kBlobNrField, cbhCacheRecord, &aBlobNr);
  if (cbhCache->SetToKey(skaEqualFirst, 1, 0, false, cbhCacheRecord) != 0) return false;
  if (cbhCache->RecordGetNext(zfltNoLock, cbhCacheRecord) != 0) return false;
  bool isNull = true;
  int64_t stored = 0;
  f.GetRecordField(kBlobNrField, cbhCacheRecord, isNull, &stored);
  if (isNull || stored != aBlobNr) return false;
  uint8_t state = 0;
  f.GetRecordField(kStateField, cbhCacheRecord, isNull, &state);
  int64_t copy = 0;
  f.GetRecordField(kCachedBlobField, cbhCacheRecord, isNull, &copy);
  aEntry.State = static_cast<TState>(state);
  aEntry.Copy = isNull ? 0 : copy;
  int32_t field = -1;
  f.GetRecordField(kFieldNoField, cbhCacheRecord, isNull, &field);
  ZF_ASSERT(aFieldNo == -1 || field == -1 || field == aFieldNo, "zfsrBlobHandlerCaching");
  return true;
}

uint32_t TzfCachingBlobHandler::AddCacheEntry(int32_t aFieldNo, TState aState, int64_t aCachedBlobNr,
                                              int64_t aBlobNr) {
  EnsureCache();
  const TzfFieldsDescriptor& f = *cbhCache->acGetTableDescriptor()->tdFieldsDescriptor;
  const uint8_t state = aState;
  f.SetRecordField(kBlobNrField, cbhCacheRecord, &aBlobNr);
  f.SetRecordField(kStateField, cbhCacheRecord, &state);
  if (aCachedBlobNr != 0)
    f.SetRecordField(kCachedBlobField, cbhCacheRecord, &aCachedBlobNr);
  else
    f.SetRecordFieldNull(kCachedBlobField, cbhCacheRecord, true);
  f.SetRecordField(kFieldNoField, cbhCacheRecord, &aFieldNo);
  return cbhCache->RecordInsert(zfltNoLock, cbhCacheRecord);
}

uint32_t TzfCachingBlobHandler::RemoveCacheEntry() { return cbhCache->RecordDelete(nullptr); }

uint32_t TzfCachingBlobHandler::TakeEntry(int32_t aFieldNo, int64_t aBlobNr, std::initializer_list<TState> aStates) {
  TEntry e{};
  if (!FindCacheEntry(aFieldNo, aBlobNr, e)) return BlobError();
  bool accepted = false;
  for (TState s : aStates) accepted = accepted || e.State == s;
  if (!accepted) return BlobError();
  return RemoveCacheEntry() == 0 ? 0 : BlobError();
}

uint32_t TzfCachingBlobHandler::MakeCopy(int32_t aFieldNo, int64_t aBlobNr, uint32_t aMaxLength, int64_t& aCopy) {
  EnsureCache();
  aCopy = 0;
  if (const uint32_t r = cbhCache->sbcBlobCopyPrim(cbhOwner, aFieldNo, aBlobNr, kCachedBlobField, aCopy, aMaxLength))
    return r;
  return AddCacheEntry(aFieldNo, bsCopied, aCopy, aBlobNr);
}

bool TzfCachingBlobHandler::PostedBlobNr(uint8_t* aRecord, int32_t aField, int64_t& aBlobNr) const {
  bool isNull = true;
  aBlobNr = BlobNrOf(*cbhFieldsDescriptor, aRecord, aField, isNull);
  if (isNull) return false;
  if (aBlobNr == 0) {
    SetNull(aRecord, aField);
    return false;
  }
  return true;
}

void TzfCachingBlobHandler::SetNull(uint8_t* aRecord, int32_t aField) const {
  cbhFieldsDescriptor->SetRecordFieldNull(aField, aRecord, true);
}

// ---- BLOB operations ----

uint32_t TzfCachingBlobHandler::BlobCreate(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t& aBlobNr) {
  TNoTimeout nt;
  cbhBlobEngine->AddBlob(aTrans, aBlobNr);
  return AddCacheEntry(aFieldNo, bsCreated, 0, aBlobNr);
}

uint32_t TzfCachingBlobHandler::BlobCreateFile(TzfBaseTransaction* aTrans, int32_t aFieldNo,
                                               const UnicodeString& aFileName, int64_t& aBlobNr) {
  TNoTimeout nt;
  cbhBlobEngine->AddFileBlob(aTrans, aFileName, aBlobNr);
  return AddCacheEntry(aFieldNo, bsCreated, 0, aBlobNr);
}

uint32_t TzfCachingBlobHandler::BlobCreateLink(TzfBaseTransaction* aTrans, int32_t aFieldNo,
                                               const UnicodeString& aTableName, int64_t aTableBlobNr,
                                               int64_t& aBlobNr) {
  TNoTimeout nt;
  cbhBlobEngine->AddBlobLink(aTrans, aTableName, aTableBlobNr, aBlobNr);
  return AddCacheEntry(aFieldNo, bsCreated, 0, aBlobNr);
}

uint32_t TzfCachingBlobHandler::BlobDelete(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t aBlobNr) {
  TNoTimeout nt;
  TEntry e{};
  if (!FindCacheEntry(aFieldNo, aBlobNr, e)) return AddCacheEntry(aFieldNo, bsDeleted, 0, aBlobNr);
  switch (e.State) {
    case bsCreated:
      cbhBlobEngine->DeleteBlob(aTrans, aBlobNr);
      return RemoveCacheEntry();
    case bsDeleted:
      return BlobError();
    case bsCopied:
      if (const uint32_t r = RemoveCacheEntry()) return r;
      return AddCacheEntry(aFieldNo, bsDeleted, 0, aBlobNr);
  }
  return BlobError();
}

uint32_t TzfCachingBlobHandler::BlobFree(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t aBlobNr,
                                         bool& aBlobDeleted) {
  TNoTimeout nt;
  aBlobDeleted = false;
  TEntry e{};
  if (!FindCacheEntry(aFieldNo, aBlobNr, e)) return 0;
  if (e.State == bsCreated) cbhBlobEngine->DeleteBlob(aTrans, aBlobNr);
  return RemoveCacheEntry();
}

uint32_t TzfCachingBlobHandler::BlobTruncate(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t aBlobNr,
                                             uint32_t aBlobLength) {
  TNoTimeout nt;
  TEntry e{};
  if (!FindCacheEntry(aFieldNo, aBlobNr, e)) {
    int64_t copy = 0;
    return MakeCopy(aFieldNo, aBlobNr, aBlobLength, copy);
  }
  switch (e.State) {
    case bsCreated:
      cbhBlobEngine->Truncate(aTrans, aBlobNr, aBlobLength);
      return 0;
    case bsDeleted:
      return BlobError();
    case bsCopied:
      return cbhCache->sbcBlobTruncate(kCachedBlobField, e.Copy, aBlobLength);
  }
  return BlobError();
}

uint32_t TzfCachingBlobHandler::BlobWrite(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t aBlobNr,
                                          uint32_t aOffset, uint32_t aLen, const void* aBlob) {
  TNoTimeout nt;
  TEntry e{};
  if (!FindCacheEntry(aFieldNo, aBlobNr, e)) {
    if (const uint32_t r = MakeCopy(aFieldNo, aBlobNr, kAll, e.Copy)) return r;
    e.State = bsCopied;
  }
  switch (e.State) {
    case bsCreated:
      cbhBlobEngine->Write(aTrans, aBlobNr, aOffset, aLen, aBlob);
      return 0;
    case bsDeleted:
      return BlobError();
    case bsCopied:
      return cbhCache->sbcBlobWrite(kCachedBlobField, e.Copy, aOffset, aLen, aBlob);
  }
  return BlobError();
}

uint32_t TzfCachingBlobHandler::BlobGetLength(TzfBaseTransaction* aTrans, int32_t aFieldNo, bool aReadOld,
                                              int64_t aBlobNr, uint32_t& aLength) {
  TNoTimeout nt;
  TEntry e{};
  if (!aReadOld && FindCacheEntry(aFieldNo, aBlobNr, e)) {
    if (e.State == bsDeleted) return BlobError();
    if (e.State == bsCopied) return cbhCache->sbcBlobGetLength(kCachedBlobField, e.Copy, aLength, false);
  }
  return cbhBlobEngine->GetBlobLength(aTrans, aBlobNr, zfBlobLinkGetLengthOf(cbhBlobLinkHandler), aLength);
}

bool TzfCachingBlobHandler::BlobIsLink(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t aBlobNr,
                                       UnicodeString& aSrcTableName, int64_t& aSrcTableBlobNr) {
  TNoTimeout nt;
  aSrcTableName.clear();
  TEntry e{};
  if (FindCacheEntry(aFieldNo, aBlobNr, e)) {
    if (e.State == bsDeleted) return false;
    if (e.State == bsCopied) return cbhCache->sbcBlobIsLink(kCachedBlobField, e.Copy, aSrcTableName, aSrcTableBlobNr);
  }
  return cbhBlobEngine->IsBlobLink(aTrans, aBlobNr, aSrcTableName, aSrcTableBlobNr);
}

uint32_t TzfCachingBlobHandler::BlobRead(TzfBaseTransaction* aTrans, int32_t aFieldNo, bool aReadOld, int64_t aBlobNr,
                                         uint32_t aOffset, uint32_t aLen, rtl::TStream& aStream) {
  TNoTimeout nt;
  TEntry e{};
  if (!aReadOld && FindCacheEntry(aFieldNo, aBlobNr, e)) {
    if (e.State == bsDeleted) return BlobError();
    if (e.State == bsCopied) return cbhCache->sbcBlobRead(kCachedBlobField, e.Copy, aOffset, aLen, aStream, false);
  }
  return cbhBlobEngine->Read(aTrans, aBlobNr, aOffset, aLen, zfBlobLinkReadOf(cbhBlobLinkHandler), aStream);
}

uint32_t TzfCachingBlobHandler::BlobModified(TzfBaseTransaction*, int32_t aFieldNo, int64_t aBlobNr, bool& aChanged) {
  TNoTimeout nt;
  TEntry e{};
  aChanged = FindCacheEntry(aFieldNo, aBlobNr, e);
  return 0;
}

// ---- Record hooks ----

bool TzfCachingBlobHandler::NeedNested() {
  if (!cbhCache) return false;
  uint32_t count = 0;
  return cbhCache->GetRecordCount(count, false) == 0 && count > 0;
}

uint32_t TzfCachingBlobHandler::Hook(TzfBaseTransaction* aTrans, const std::function<uint32_t()>& aWork) {
  TNoTimeout nt;
  return RunRecordHook(aTrans, aWork);
}

uint32_t TzfCachingBlobHandler::BeforeInsert(TzfBaseTransaction* aTrans, uint8_t* aRecord) {
  if (!NeedNested()) return 0;
  return Hook(aTrans, [&]() -> uint32_t {
    for (int32_t field : cbhBlobFields) {
      int64_t nr = 0;
      if (!PostedBlobNr(aRecord, field, nr)) continue;
      TEntry e{};
      const bool found = FindCacheEntry(field, nr, e);
      if (found && e.State != bsCreated) return BlobError();  // a new record may not take a changed BLOB
      const bool deleted = cbhBlobEngine->FreeBlob(aTrans, nr);
      if (found && RemoveCacheEntry() != 0) return BlobError();
      if (deleted) SetNull(aRecord, field);
    }
    return 0;
  });
}

uint32_t TzfCachingBlobHandler::BeforeModify(TzfBaseTransaction* aTrans, uint8_t* aRecord) {
  if (!NeedNested()) return 0;
  return Hook(aTrans, [&]() -> uint32_t {
    for (int32_t field : cbhBlobFields) {
      int64_t nr = 0;
      if (!PostedBlobNr(aRecord, field, nr)) continue;
      TEntry e{};
      if (!FindCacheEntry(field, nr, e)) {
        if (cbhBlobEngine->FreeBlob(aTrans, nr)) SetNull(aRecord, field);
        continue;
      }
      switch (e.State) {
        case bsCreated:
          if (cbhBlobEngine->FreeBlob(aTrans, nr)) {
            if (RemoveCacheEntry() != 0) return BlobError();
            SetNull(aRecord, field);
          }
          break;
        case bsCopied: {
          uint32_t length = 0;
          if (const uint32_t r = cbhCache->sbcBlobGetLength(kCachedBlobField, e.Copy, length, false)) return r;
          if (length == 0) {
            // The emptied BLOB goes when the modify is posted.
            if (const uint32_t r = RemoveCacheEntry()) return r;
            if (const uint32_t r = AddCacheEntry(field, bsDeleted, 0, nr)) return r;
            SetNull(aRecord, field);
          }
          break;
        }
        case bsDeleted:
          return BlobError();
      }
    }
    return 0;
  });
}

uint32_t TzfCachingBlobHandler::AfterModify(TzfBaseTransaction* aTrans, const uint8_t* aOldRecord,
                                            const uint8_t* aNewRecord) {
  if (!NeedNested()) return 0;
  return Hook(aTrans, [&]() -> uint32_t {
    for (int32_t field : cbhBlobFields) {
      bool isNull = true;
      const int64_t oldNr = BlobNrOf(*cbhFieldsDescriptor, aOldRecord, field, isNull);
      const int64_t newNr = BlobNrOf(*cbhFieldsDescriptor, aNewRecord, field, isNull);
      if (oldNr == 0 && newNr == 0) continue;
      if (oldNr == 0) {
        if (const uint32_t r = TakeEntry(field, newNr, {bsCreated})) return r;
        continue;
      }
      TEntry e{};
      const bool found = FindCacheEntry(field, oldNr, e);
      if (newNr == 0) {
        if (!found) continue;
        if (e.State != bsDeleted) return BlobError();
        cbhBlobEngine->DeleteBlob(aTrans, oldNr);
        if (RemoveCacheEntry() != 0) return BlobError();
        continue;
      }
      if (newNr == oldNr) {
        if (!found) continue;
        if (e.State != bsCopied) return BlobError();
        // The private copy becomes the table's BLOB.
        if (const uint32_t r = cbhOwner->sbcBlobCopyContentPrim(cbhCache, kCachedBlobField, e.Copy, field, oldNr, kAll))
          return r;
        if (!FindCacheEntry(field, oldNr, e) || RemoveCacheEntry() != 0) return BlobError();
        continue;
      }
      if (!found || e.State != bsDeleted) return BlobError();
      cbhBlobEngine->DeleteBlob(aTrans, oldNr);
      if (RemoveCacheEntry() != 0) return BlobError();
      if (const uint32_t r = TakeEntry(field, newNr, {bsCreated})) return r;
    }
    return 0;
  });
}

uint32_t TzfCachingBlobHandler::AfterDelete(TzfBaseTransaction* aTrans, const uint8_t* aRecord) {
  return Hook(aTrans, [&]() -> uint32_t {
    for (int32_t field : cbhBlobFields) {
      bool isNull = true;
      const int64_t nr = BlobNrOf(*cbhFieldsDescriptor, aRecord, field, isNull);
      if (isNull || nr == 0) continue;
      TEntry e{};
      if (FindCacheEntry(field, nr, e))
        if (const uint32_t r = RemoveCacheEntry()) return r;
      cbhBlobEngine->DeleteBlob(aTrans, nr);
    }
    return 0;
  });
}

}  // namespace zf
