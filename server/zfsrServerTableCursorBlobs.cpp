// Table cursor: BLOBs through the cursor's BLOB handler, the two BLOB copy primitives and the
// table's named streams.
//
// The writing BLOB operations (create, create from a file, delete, free, truncate, write) and the
// stream writes share one frame: the transaction state, the self lock of a shared cursor, a
// transaction level of their own (nested inside a running transaction), exclusive content access,
// the work, commit, or rollback on failure, and the self lock given back when it was new. A failed
// write therefore leaves the BLOB as it was. Reads take shared content access only.
//
// The copy primitives bypass the handlers and use both tables' BLOB engines directly, each in its
// own cursor's current transaction; links are read through the source database's link handler.
// They copy in chunks of at most 1 MB through one reused buffer and never ask the source for more
// than the length it reported, so a damaged source cannot make a copy grow without end.
#include <algorithm>
#include <cstring>

#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllUtils.h"
#include "platform/rtl/rtlStringList.h"
#include "server/zfsrBlobHandlerBase.h"
#include "server/zfsrBlobHandlerCaching.h"
#include "server/zfsrBlobHandlerPassthrough.h"
#include "server/zfsrBlobLinkHandler.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "storage/zfsrBlobEngineBase.h"
#include "storage/zfsrStreamEngineBase.h"

namespace zf {

namespace {
constexpr uint32_t kCopyChunk = 0x100000;
constexpr uint32_t kCopyAll = 0xFFFFFFFFu;
}  // namespace

TzfBaseBlobHandler* TzfServerTableCursor::stcCreateBlobHandler() {
  TzfBaseBlobEngine* engine = stcTable->sbtBlobEngine.get();
  if (!engine || stcTable->sbtBlobFields.empty()) return zfCreateServerObject<TzfNullBlobHandler>(this);
  TzfBaseBlobLinkHandler* links = stcDatabase->sdBlobLinkHandler.get();
  if (stcBlobCache)
    return zfCreateServerObject<TzfCachingBlobHandler>(this, engine, links, stcTable->sbtFieldsDescriptor);
  return zfCreateServerObject<TzfPassthroughBlobHandler>(this, engine, links, stcTable->sbtFieldsDescriptor);
}

bool TzfServerTableCursor::NeedNested() { return stcBlobHandler && stcBlobHandler->NeedNested(); }

void TzfServerTableCursor::sbcSetOnRequestClose(std::function<void(TzfServerTableCursor*)> aHandler) {
  TzfPadlockGuard g(stcTable->sbtCursorsPadlock);
  stcOnRequestClose = std::move(aHandler);
}

void TzfServerTableCursor::sbcRequestClose() {
  if (Destroying()) return;
  std::function<void(TzfServerTableCursor*)> handler;
  {
    TzfPadlockGuard g(stcTable->sbtCursorsPadlock);
    handler = stcOnRequestClose;
  }
  if (handler) handler(this);
}

// ---- Frames ----

uint32_t TzfServerTableCursor::BlobWriteFrame(const std::function<uint32_t(TzfServerTransaction*)>& aWork) {
  if (const uint32_t s = sbcCheckTransactionState()) return s;
  bool selfNew = false;
  if (const uint32_t l = SelfLock(selfNew)) return l;
  const uint32_t r = InWrite(aWork, true);
  SelfUnlock(selfNew);
  return r;
}

uint32_t TzfServerTableCursor::BlobReadFrame(const std::function<uint32_t(TzfServerTransaction*)>& aWork) {
  return InContent(false, aWork);
}

// ---- Public BLOB operations ----

uint32_t TzfServerTableCursor::BlobCreate(int32_t aFieldNo, int64_t& aBlobNr) {
  aBlobNr = 0;
  return FramedWrite([&] { return sbcBlobCreate(aFieldNo, aBlobNr); });
}
uint32_t TzfServerTableCursor::BlobCreateFile(int32_t aFieldNo, const UnicodeString& aFileName, int64_t& aBlobNr) {
  aBlobNr = 0;
  return FramedWrite([&] { return sbcBlobCreateFile(aFieldNo, aFileName, aBlobNr); });
}
uint32_t TzfServerTableCursor::BlobDelete(int32_t aFieldNo, int64_t aBlobNr) {
  return FramedWrite([&] { return sbcBlobDelete(aFieldNo, aBlobNr); });
}
uint32_t TzfServerTableCursor::BlobFree(int32_t aFieldNo, int64_t aBlobNr) {
  return FramedWrite([&] { return sbcBlobFree(aFieldNo, aBlobNr); });
}
uint32_t TzfServerTableCursor::BlobRead(int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                                        rtl::TStream& aStream, bool aReadOrg) {
  return Framed([&] { return sbcBlobRead(aFieldNo, aBlobNr, aOffset, aLen, aStream, aReadOrg); });
}
uint32_t TzfServerTableCursor::BlobWrite(int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                                         const void* aBlob) {
  return FramedWrite([&] { return sbcBlobWrite(aFieldNo, aBlobNr, aOffset, aLen, aBlob); });
}
uint32_t TzfServerTableCursor::BlobTruncate(int32_t aFieldNo, int64_t aBlobNr, uint32_t aBlobLength) {
  return FramedWrite([&] { return sbcBlobTruncate(aFieldNo, aBlobNr, aBlobLength); });
}
uint32_t TzfServerTableCursor::BlobGetLength(int32_t aFieldNo, int64_t aBlobNr, uint32_t& aLength, bool aReadOrg) {
  aLength = 0;
  return Framed([&] { return sbcBlobGetLength(aFieldNo, aBlobNr, aLength, aReadOrg); });
}
uint32_t TzfServerTableCursor::BlobModified(int32_t aFieldNo, int64_t aBlobNr, bool& aModified) {
  aModified = false;
  return Framed([&] { return sbcBlobModified(aFieldNo, aBlobNr, aModified); });
}

// ---- Workers ----

uint32_t TzfServerTableCursor::sbcBlobCreate(int32_t aFieldNo, int64_t& aBlobNr) {
  return BlobWriteFrame(
      [&](TzfServerTransaction* aTrans) { return stcBlobHandler->BlobCreate(aTrans, aFieldNo, aBlobNr); });
}

uint32_t TzfServerTableCursor::sbcBlobCreateFile(int32_t aFieldNo, const UnicodeString& aFileName, int64_t& aBlobNr) {
  return BlobWriteFrame([&](TzfServerTransaction* aTrans) {
    return stcBlobHandler->BlobCreateFile(aTrans, aFieldNo, aFileName, aBlobNr);
  });
}

uint32_t TzfServerTableCursor::sbcBlobCreateLink(int32_t aFieldNo, const UnicodeString& aTableName,
                                                 int64_t aTableBlobNr, int64_t& aBlobNr) {
  if (sbcReadOnly.IsReadOnly) return sbcReadOnly.Error();
  // A link lives in the caller's transaction: without one there is nothing to hold it.
  if (!CurrentTrans()) return zfErrNoActiveTran;
  return InContent(true, [&](TzfServerTransaction* aTrans) {
    return stcBlobHandler->BlobCreateLink(aTrans, aFieldNo, aTableName, aTableBlobNr, aBlobNr);
  });
}

uint32_t TzfServerTableCursor::sbcBlobDelete(int32_t aFieldNo, int64_t aBlobNr) {
  return BlobWriteFrame(
      [&](TzfServerTransaction* aTrans) { return stcBlobHandler->BlobDelete(aTrans, aFieldNo, aBlobNr); });
}

uint32_t TzfServerTableCursor::sbcBlobFree(int32_t aFieldNo, int64_t aBlobNr) {
  bool deleted = false;
  const uint32_t r = BlobWriteFrame(
      [&](TzfServerTransaction* aTrans) { return stcBlobHandler->BlobFree(aTrans, aFieldNo, aBlobNr, deleted); });
  return r == 0 && deleted ? zfErrBlobModified : r;
}

uint32_t TzfServerTableCursor::sbcBlobTruncate(int32_t aFieldNo, int64_t aBlobNr, uint32_t aBlobLength) {
  return BlobWriteFrame([&](TzfServerTransaction* aTrans) {
    return stcBlobHandler->BlobTruncate(aTrans, aFieldNo, aBlobNr, aBlobLength);
  });
}

uint32_t TzfServerTableCursor::sbcBlobWrite(int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                                            const void* aBlob) {
  if (!aBlob && aLen > 0) return zfErrInvalidParam;
  return BlobWriteFrame([&](TzfServerTransaction* aTrans) {
    return stcBlobHandler->BlobWrite(aTrans, aFieldNo, aBlobNr, aOffset, aLen, aBlob);
  });
}

uint32_t TzfServerTableCursor::sbcBlobRead(int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                                           rtl::TStream& aStream, bool aReadOrg) {
  const bool readOld = aReadOrg || sbcReadOrgOverride > 0;
  return BlobReadFrame([&](TzfServerTransaction* aTrans) {
    return stcBlobHandler->BlobRead(aTrans, aFieldNo, readOld, aBlobNr, aOffset, aLen, aStream);
  });
}

uint32_t TzfServerTableCursor::sbcBlobGetLength(int32_t aFieldNo, int64_t aBlobNr, uint32_t& aLength, bool aReadOrg) {
  const bool readOld = aReadOrg || sbcReadOrgOverride > 0;
  return BlobReadFrame([&](TzfServerTransaction* aTrans) {
    return stcBlobHandler->BlobGetLength(aTrans, aFieldNo, readOld, aBlobNr, aLength);
  });
}

uint32_t TzfServerTableCursor::sbcBlobModified(int32_t aFieldNo, int64_t aBlobNr, bool& aModified) {
  return BlobReadFrame([&](TzfServerTransaction* aTrans) {
    return stcBlobHandler->BlobModified(aTrans, aFieldNo, aBlobNr, aModified);
  });
}

bool TzfServerTableCursor::sbcBlobIsLink(int32_t aFieldNo, int64_t aBlobNr, UnicodeString& aSrcTableName,
                                         int64_t& aSrcTableBlobNr) {
  aSrcTableName.clear();
  return stcBlobHandler->BlobIsLink(CurrentTrans(), aFieldNo, aBlobNr, aSrcTableName, aSrcTableBlobNr);
}

// ---- Block reads ----

void TzfServerTableCursor::stcAppendBlobImages(TzfMemoryStream& aStream, int64_t aSlotAt, uint32_t aSlot) {
  TzfFieldsDescriptor& fields = *stcTable->sbtFieldsDescriptor;
  const auto record = [&] { return static_cast<uint8_t*>(aStream.Memory()) + aSlotAt + 4; };
  const auto putCardinal = [&](int64_t aAt, uint32_t aValue) {
    uint8_t* p = static_cast<uint8_t*>(aStream.Memory()) + aAt;
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(aValue >> (8 * i));
  };
  uint64_t added = 0;
  for (int32_t f : stcTable->sbtBlobFields) {
    bool isNull = true;
    int64_t blobNr = 0;
    fields.GetRecordField(f, record(), isNull, &blobNr);
    if (isNull) continue;
    uint32_t length = 0;
    const int64_t imageAt = aStream.Size();
    // An empty BLOB, one whose length cannot be read or one the stream cannot hold goes as NULL.
    if (sbcBlobGetLength(f, blobNr, length, false) != 0 || length == 0 ||
        imageAt + 4 + static_cast<int64_t>(length) > TzfCustomMemoryStream::kMaxSize ||
        aSlot + added + 4 + length > 0xFFFFFFFFu) {
      fields.SetRecordFieldNull(f, record(), true);
      continue;
    }
    aStream.SetSize(imageAt + 4);
    putCardinal(imageAt, length);
    aStream.Seek(imageAt + 4, rtl::TSeekOrigin::soBeginning);
    const uint32_t r = sbcBlobRead(f, blobNr, 0, length, aStream, false);
    if (r != 0 || aStream.Size() != imageAt + 4 + static_cast<int64_t>(length)) {
      // A read that fails or delivers another length: the image goes, the field is sent NULL.
      aStream.SetSize(imageAt);
      fields.SetRecordFieldNull(f, record(), true);
      continue;
    }
    fields.SetRecordField(f, record(), &imageAt);
    added += 4 + static_cast<uint64_t>(length);
  }
  if (added > 0) putCardinal(aSlotAt, aSlot + static_cast<uint32_t>(added));
  aStream.Seek(0, rtl::TSeekOrigin::soEnd);
}

// ---- Copy primitives ----

namespace {

// The source of a copy: its table's BLOB engine, its transaction and its database's link methods.
struct TBlobSource {
  TzfBaseBlobEngine* Engine;
  TzfBaseTransaction* Trans;
  TzfBlobLinkGetLength Length;
  TzfBlobLinkRead Read;
};

// Copies at most aMaxLength bytes of source BLOB aBlobNr, never more than aLength (what the source
// reported), over aDestBlobNr from offset 0; aCopied is what was written. The source's read code is
// answered; the destination's engine raises.
uint32_t CopyContent(const TBlobSource& aSrc, int64_t aBlobNr, uint32_t aLength, TzfBaseBlobEngine& aDest,
                     TzfBaseTransaction* aDestTrans, int64_t aDestBlobNr, uint32_t aMaxLength, uint32_t& aCopied) {
  aCopied = 0;
  uint32_t remaining = std::min(aMaxLength, aLength);
  const uint32_t chunk = std::min(remaining, kCopyChunk);
  TzfMemoryStream buffer;
  buffer.SetCapacity(chunk);
  uint32_t offset = 0;
  while (remaining > 0) {
    buffer.SetSize(0);
    buffer.Seek(0, rtl::TSeekOrigin::soBeginning);
    const uint32_t ask = std::min(remaining, chunk);
    if (const uint32_t r = aSrc.Engine->Read(aSrc.Trans, aBlobNr, offset, ask, aSrc.Read, buffer)) return r;
    // A source that delivers more than it was asked for gives no more than that.
    const uint32_t got = static_cast<uint32_t>(std::min<int64_t>(buffer.Size(), ask));
    if (got == 0) break;
    aDest.Write(aDestTrans, aDestBlobNr, offset, got, buffer.Memory());
    offset += got;
    remaining -= got;
  }
  aCopied = offset;
  return 0;
}

}  // namespace

namespace {
TzfServerTableCursor& SourceCursor(TzfAbstractCursor* aSrcCursor) {
  auto* src = dynamic_cast<TzfServerTableCursor*>(aSrcCursor);
  if (!src) throw EzfServerEngineException(zfErrInvalidHndl);
  return *src;
}
}  // namespace

uint32_t TzfServerTableCursor::sbcBlobCopyPrim(TzfAbstractCursor* aSrcCursor, int32_t, int64_t aBlobNr, int32_t,
                                               int64_t& aDestBlobNr, uint32_t aMaxLength) {
  return stcBlobCopy(aSrcCursor, aBlobNr, aDestBlobNr, aMaxLength, false);
}

uint32_t TzfServerTableCursor::sbcBlobCopyContentPrim(TzfAbstractCursor* aSrcCursor, int32_t, int64_t aBlobNr,
                                                      int32_t, int64_t aDestBlobNr, uint32_t aMaxLength) {
  return stcBlobCopy(aSrcCursor, aBlobNr, aDestBlobNr, aMaxLength, true);
}

uint32_t TzfServerTableCursor::stcBlobCopy(TzfAbstractCursor* aSrcCursor, int64_t aBlobNr, int64_t& aDestBlobNr,
                                           uint32_t aMaxLength, bool aIntoExisting) {
  TzfServerTableCursor& src = SourceCursor(aSrcCursor);
  TzfBaseBlobEngine* srcEngine = src.stcTable->sbtBlobEngine.get();
  TzfBaseBlobEngine* destEngine = stcTable->sbtBlobEngine.get();
  if (!srcEngine || !destEngine)
    return EzfBaseException::zfSetMessage(zfErrNotSupported, u"BLOB copy between tables without BLOB engines");
  TzfBaseBlobLinkHandler* links = src.stcDatabase->sdBlobLinkHandler.get();
  const TBlobSource source{srcEngine, src.CurrentTrans(), zfBlobLinkGetLengthOf(links), zfBlobLinkReadOf(links)};
  TzfBaseTransaction* destTrans = CurrentTrans();
  UnicodeString fileName;
  if (!aIntoExisting && srcEngine->IsFileBlob(source.Trans, aBlobNr, fileName)) {
    if (aMaxLength == 0)
      destEngine->AddBlob(destTrans, aDestBlobNr);
    else if (aMaxLength == kCopyAll)
      destEngine->AddFileBlob(destTrans, fileName, aDestBlobNr);
    else
      throw EzfServerEngineException(zfErrReadOnlyField);
    return 0;
  }
  uint32_t length = 0;
  if (const uint32_t r = srcEngine->GetBlobLength(source.Trans, aBlobNr, source.Length, length)) return r;
  if (!aIntoExisting) destEngine->AddBlob(destTrans, aDestBlobNr);
  uint32_t copied = 0;
  const uint32_t r = CopyContent(source, aBlobNr, length, *destEngine, destTrans, aDestBlobNr, aMaxLength, copied);
  // A copy into an existing BLOB ends it where the copied content ends.
  if (aIntoExisting && r == 0) destEngine->Truncate(destTrans, aDestBlobNr, copied);
  return r;
}

// ---- Table streams ----

uint32_t TzfServerTableCursor::TableStreamGetList(rtl::TStrings& aStreams) {
  return Framed([&] { return sbcTableStreamGetList(aStreams, false); });
}
uint32_t TzfServerTableCursor::TableStreamRead(const UnicodeString& aName, rtl::TStream& aStream) {
  return Framed([&] { return sbcTableStreamRead(aName, aStream, false); });
}
uint32_t TzfServerTableCursor::TableStreamWrite(const UnicodeString& aName, rtl::TStream& aStream) {
  return FramedWrite([&] { return sbcTableStreamWrite(aName, aStream, false); });
}
uint32_t TzfServerTableCursor::TableStreamDelete(const UnicodeString& aName) {
  return FramedWrite([&] { return sbcTableStreamDelete(aName, false); });
}

uint32_t TzfServerTableCursor::sbcTableStreamGetList(rtl::TStrings& aStreams, bool aInternal) {
  return BlobReadFrame([&](TzfServerTransaction* aTrans) -> uint32_t {
    TzfBaseStreamEngine* engine = stcRoot->srtStreamEngine.get();
    if (!engine) return zfErrNotSupported;
    rtl::TStringList names;
    if (const uint32_t r = engine->GetNamedStreamList(aTrans, names)) {
      aStreams.Clear();
      return r;
    }
    aStreams.Clear();
    for (int32_t i = 0; i < names.Count(); ++i)
      if (zfCheckIdentifier(names[i], zfErrInvalidName, false, aInternal) == 0) aStreams.Add(names[i]);
    return 0;
  });
}

uint32_t TzfServerTableCursor::sbcTableStreamRead(const UnicodeString& aName, rtl::TStream& aStream, bool aInternal) {
  if (const uint32_t r = zfCheckIdentifier(aName, zfErrInvalidName, false, aInternal)) return r;
  return BlobReadFrame([&](TzfServerTransaction* aTrans) -> uint32_t {
    TzfBaseStreamEngine* engine = stcRoot->srtStreamEngine.get();
    if (!engine) return zfErrNotSupported;
    return engine->ReadNamedStream(aTrans, aName, aStream);
  });
}

uint32_t TzfServerTableCursor::sbcTableStreamWrite(const UnicodeString& aName, rtl::TStream& aStream, bool aInternal) {
  if (const uint32_t r = zfCheckIdentifier(aName, zfErrInvalidName, false, aInternal)) return r;
  return BlobWriteFrame([&](TzfServerTransaction* aTrans) -> uint32_t {
    TzfBaseStreamEngine* engine = stcRoot->srtStreamEngine.get();
    if (!engine) return zfErrNotSupported;
    return engine->WriteNamedStream(aTrans, aName, aStream);
  });
}

uint32_t TzfServerTableCursor::sbcTableStreamDelete(const UnicodeString& aName, bool aInternal) {
  if (const uint32_t r = zfCheckIdentifier(aName, zfErrInvalidName, false, aInternal)) return r;
  return BlobWriteFrame([&](TzfServerTransaction* aTrans) -> uint32_t {
    TzfBaseStreamEngine* engine = stcRoot->srtStreamEngine.get();
    if (!engine) return zfErrNotSupported;
    return engine->DeleteNamedStream(aTrans, aName);
  });
}

}  // namespace zf
