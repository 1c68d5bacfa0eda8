#include "server/zfsrBlobHandlerPassthrough.h"

#include "dictionary/zfsdFieldsDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "storage/zfsrBlobEngineBase.h"
#include "storage/zfsrTransaction.h"

namespace zf {

TzfPassthroughBlobHandler::TzfPassthroughBlobHandler(TzfExtendableServerObject* aParent, TzfBaseBlobEngine* aBlobEngine,
                                                     TzfBaseBlobLinkHandler* aBlobLinkHandler,
                                                     const TzfFieldsDescriptor* aFieldsDescriptor)
    : TzfBaseBlobHandler(aParent),
      ptbhBlobEngine(aBlobEngine),
      ptbhBlobLinkHandler(aBlobLinkHandler),
      ptbhFieldsDescriptor(aFieldsDescriptor),
      ptbhBlobFields(BlobFieldsOf(aFieldsDescriptor)) {}

const rtl::TClassInfo& TzfPassthroughBlobHandler::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfPassthroughBlobHandler", &TzfBaseBlobHandler::ClassInfo()};
  return info;
}

uint32_t TzfPassthroughBlobHandler::ReadOldNotSupported(const char16_t* aOperation) const {
  return EzfBaseException::zfSetMessage(zfErrNotSupported, u"%s with aReadOld = True is not supported by %s",
                                        {UnicodeString(aOperation), UnicodeString(ClassName())});
}

uint32_t TzfPassthroughBlobHandler::BlobCreate(TzfBaseTransaction* aTrans, int32_t, int64_t& aBlobNr) {
  ptbhBlobEngine->AddBlob(aTrans, aBlobNr);
  return 0;
}

uint32_t TzfPassthroughBlobHandler::BlobCreateFile(TzfBaseTransaction* aTrans, int32_t, const UnicodeString& aFileName,
                                                   int64_t& aBlobNr) {
  ptbhBlobEngine->AddFileBlob(aTrans, aFileName, aBlobNr);
  return 0;
}

uint32_t TzfPassthroughBlobHandler::BlobCreateLink(TzfBaseTransaction* aTrans, int32_t, const UnicodeString& aTableName,
                                                   int64_t aTableBlobNr, int64_t& aBlobNr) {
  ptbhBlobEngine->AddBlobLink(aTrans, aTableName, aTableBlobNr, aBlobNr);
  return 0;
}

uint32_t TzfPassthroughBlobHandler::BlobDelete(TzfBaseTransaction* aTrans, int32_t, int64_t aBlobNr) {
  ptbhBlobEngine->DeleteBlob(aTrans, aBlobNr);
  return 0;
}

uint32_t TzfPassthroughBlobHandler::BlobFree(TzfBaseTransaction* aTrans, int32_t, int64_t aBlobNr, bool& aBlobDeleted) {
  aBlobDeleted = ptbhBlobEngine->FreeBlob(aTrans, aBlobNr);
  return 0;
}

uint32_t TzfPassthroughBlobHandler::BlobTruncate(TzfBaseTransaction* aTrans, int32_t, int64_t aBlobNr,
                                                 uint32_t aBlobLength) {
  ptbhBlobEngine->Truncate(aTrans, aBlobNr, aBlobLength);
  return 0;
}

uint32_t TzfPassthroughBlobHandler::BlobWrite(TzfBaseTransaction* aTrans, int32_t, int64_t aBlobNr, uint32_t aOffset,
                                              uint32_t aLen, const void* aBlob) {
  ptbhBlobEngine->Write(aTrans, aBlobNr, aOffset, aLen, aBlob);
  return 0;
}

uint32_t TzfPassthroughBlobHandler::BlobGetLength(TzfBaseTransaction* aTrans, int32_t, bool aReadOld, int64_t aBlobNr,
                                                  uint32_t& aLength) {
  if (aReadOld) return ReadOldNotSupported(u"BlobGetLength");
  return ptbhBlobEngine->GetBlobLength(aTrans, aBlobNr, zfBlobLinkGetLengthOf(ptbhBlobLinkHandler), aLength);
}

bool TzfPassthroughBlobHandler::BlobIsLink(TzfBaseTransaction* aTrans, int32_t, int64_t aBlobNr,
                                           UnicodeString& aSrcTableName, int64_t& aSrcTableBlobNr) {
  aSrcTableName.clear();
  return ptbhBlobEngine->IsBlobLink(aTrans, aBlobNr, aSrcTableName, aSrcTableBlobNr);
}

uint32_t TzfPassthroughBlobHandler::BlobRead(TzfBaseTransaction* aTrans, int32_t, bool aReadOld, int64_t aBlobNr,
                                             uint32_t aOffset, uint32_t aLen, rtl::TStream& aStream) {
  if (aReadOld) return ReadOldNotSupported(u"BlobRead");
  return ptbhBlobEngine->Read(aTrans, aBlobNr, aOffset, aLen, zfBlobLinkReadOf(ptbhBlobLinkHandler), aStream);
}

uint32_t TzfPassthroughBlobHandler::BlobModified(TzfBaseTransaction*, int32_t, int64_t, bool&) {
  return EzfBaseException::zfSetMessage(zfErrNotSupported, u"%s not supported by %s",
                                        {UnicodeString(u"BlobModified"), UnicodeString(ClassName())});
}

uint32_t TzfPassthroughBlobHandler::AfterDelete(TzfBaseTransaction* aTrans, const uint8_t* aRecord) {
  return RunRecordHook(aTrans, [&]() -> uint32_t {
    for (int32_t field : ptbhBlobFields) {
      bool isNull = true;
      const int64_t blobNr = BlobNrOf(*ptbhFieldsDescriptor, aRecord, field, isNull);
      if (!isNull && blobNr != 0) ptbhBlobEngine->DeleteBlob(aTrans, blobNr);
    }
    return 0;
  });
}

}  // namespace zf
