// The pass-through BLOB handler: every BLOB operation goes straight to the table's BLOB engine in
// the cursor's transaction, so a change is visible to that transaction at once. Reading the value a
// BLOB had before the cursor changed it (aReadOld) is not available: 12289. The only record hook
// that works is the delete hook, which deletes the BLOBs of the deleted record in field order.
#pragma once
#include <vector>

#include "server/zfsrBlobHandlerBase.h"

namespace zf {

class TzfBaseBlobEngine;
class TzfBaseBlobLinkHandler;
class TzfFieldsDescriptor;

class TzfPassthroughBlobHandler : public TzfBaseBlobHandler {
 public:
  // aParent: the cursor. Engine, link handler and fields are not owned; the BLOB fields are listed
  // once, in field order.
  TzfPassthroughBlobHandler(TzfExtendableServerObject* aParent, TzfBaseBlobEngine* aBlobEngine,
                            TzfBaseBlobLinkHandler* aBlobLinkHandler, const TzfFieldsDescriptor* aFieldsDescriptor);

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

  // Deletes every BLOB the record names (not NULL, number not 0), in field order; an engine failure
  // stops the walk, is answered as its converted code and marks aTrans corrupted.
  uint32_t AfterDelete(TzfBaseTransaction* aTrans, const uint8_t* aRecord) override;
  uint32_t BeforeInsert(TzfBaseTransaction*, uint8_t*) override { return 0; }
  uint32_t BeforeModify(TzfBaseTransaction*, uint8_t*) override { return 0; }
  uint32_t AfterModify(TzfBaseTransaction*, const uint8_t*, const uint8_t*) override { return 0; }
  bool NeedNested() override { return false; }

 private:
  // 12289: aOperation cannot read the value from before the cursor's changes.
  uint32_t ReadOldNotSupported(const char16_t* aOperation) const;

  TzfBaseBlobEngine* ptbhBlobEngine;
  TzfBaseBlobLinkHandler* ptbhBlobLinkHandler;
  const TzfFieldsDescriptor* ptbhFieldsDescriptor;
  std::vector<int32_t> ptbhBlobFields;
};

}  // namespace zf
