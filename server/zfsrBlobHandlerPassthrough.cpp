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
      ptbhFieldsDescriptor(aFieldsDescriptor) {
  if (!aFieldsDescriptor) return;
  for (int32_t i = 0; i < aFieldsDescriptor->FieldCount; ++i)
    if (zfIsBlobType(aFieldsDescriptor->FieldDescriptor[static_cast<size_t>(i)]->fdType)) ptbhBlobFields.push_back(i);
}

const rtl::TClassInfo& TzfPassthroughBlobHandler::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfPassthroughBlobHandler", &TzfBaseBlobHandler::ClassInfo()};
  return info;
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
  if (aReadOld)
    return EzfBaseException::zfSetMessage(zfErrNotSupported, u"%s with aReadOld = True is not supported by %s",
                                          {UnicodeString(u"BlobGetLength"), UnicodeString(ClassName())});
  return ptbhBlobEngine->GetBlobLength(aTrans, aBlobNr, zfBlobLinkGetLengthOf(ptbhBlobLinkHandler), aLength);
}

bool TzfPassthroughBlobHandler::BlobIsLink(TzfBaseTransaction* aTrans, int32_t, int64_t aBlobNr,
                                           UnicodeString& aSrcTableName, int64_t& aSrcTableBlobNr) {
  aSrcTableName.clear();
  return ptbhBlobEngine->IsBlobLink(aTrans, aBlobNr, aSrcTableName, aSrcTableBlobNr);
}

uint32_t TzfPassthroughBlobHandler::BlobRead(TzfBaseTransaction* aTrans, int32_t, bool aReadOld, int64_t aBlobNr,
                                             uint32_t aOffset, uint32_t aLen, rtl::TStream& aStream) {
  if (aReadOld)
    return EzfBaseException::zfSetMessage(zfErrNotSupported, u"%s with aReadOld = True is not supported by %s",
                                          {UnicodeString(u"BlobRead"), UnicodeString(ClassName())});
  return ptbhBlobEngine->Read(aTrans, aBlobNr, aOffset, aLen, zfBlobLinkReadOf(ptbhBlobLinkHandler), aStream);
}

uint32_t TzfPassthroughBlobHandler::BlobModified(TzfBaseTransaction*, int32_t, int64_t, bool&) {
  return EzfBaseException::zfSetMessage(zfErrNotSupported, u"%s not supported by %s",
                                        {UnicodeString(u"BlobModified"), UnicodeString(ClassName())});
}

uint32_t TzfPassthroughBlobHandler::AfterDelete(TzfBaseTransaction* aTrans, const uint8_t* aRecord) {
  try {
    for (int32_t field : ptbhBlobFields) {
      bool isNull = true;
      int64_t blobNr = 0;
      ptbhFieldsDescriptor->GetRecordField(field, aRecord, isNull, &blobNr);
      if (!isNull && blobNr != 0) ptbhBlobEngine->DeleteBlob(aTrans, blobNr);
    }
    return 0;
  } catch (const std::exception& e) {
    const uint32_t result = asoConvertException(e);
    if (result != 0 && aTrans) aTrans->MarkCorrupted();
    return result;
  }
}

}  // namespace zf
