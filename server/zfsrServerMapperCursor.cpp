#include "server/zfsrServerMapperCursor.h"

#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "server/zfsrServerTransaction.h"
#include "storage/zfsrAutoIncEngineBase.h"

namespace zf {

TzfBaseTableDescriptor* TzfServerMapperCursor::acGetTableDescriptor() { return smcCursor.acGetTableDescriptor(); }

rtl::UnicodeString TzfServerMapperCursor::acGetFullName() { return smcCursor.acGetFullName(); }

TzfBaseTransaction* TzfServerMapperCursor::Trans() {
  TzfServerTransContext* context = smcCursor.stcTransContext();
  return context ? context->Transaction() : nullptr;
}

uint32_t TzfServerMapperCursor::sbcAutoIncGet() {
  if (TzfBaseTransaction* trans = Trans()) {
    TzfBaseAutoIncEngine* engine = smcCursor.Table()->sbtAutoIncEngine.get();
    return engine ? engine->ReadAutoIncValue(trans) : 0;
  }
  uint32_t value = 0;
  return smcCursor.AutoIncGet(value) == 0 ? value : 0;
}

void TzfServerMapperCursor::sbcAutoIncSetDirect(uint32_t aAutoInc) {
  if (TzfBaseTransaction* trans = Trans()) {
    if (TzfBaseAutoIncEngine* engine = smcCursor.Table()->sbtAutoIncEngine.get()) engine->SetAutoIncValue(trans, aAutoInc);
    return;
  }
  smcCursor.AutoIncSet(aAutoInc);
}

rtl::UnicodeString TzfServerMapperCursor::GetSessionUserName() { return smcCursor.GetSessionUserName(); }

uint32_t TzfServerMapperCursor::sbcBlobCopyPrim(IzfMapperCursor* aSrcCursor, int32_t aSrcFieldNo, int64_t aBlobNr,
                                                int32_t aDestFieldNo, int64_t& aDestBlobNr, uint32_t aMaxLength) {
  auto* source = dynamic_cast<TzfServerMapperCursor*>(aSrcCursor);
  return smcCursor.sbcBlobCopyPrim(source ? &source->smcCursor : nullptr, aSrcFieldNo, aBlobNr, aDestFieldNo,
                                   aDestBlobNr, aMaxLength);
}

uint32_t TzfServerMapperCursor::sbcBlobGetLength(int32_t aFieldNo, int64_t aBlobNr, uint32_t& aLength,
                                                 bool aReadOrg) {
  return smcCursor.sbcBlobGetLength(aFieldNo, aBlobNr, aLength, aReadOrg);
}

uint32_t TzfServerMapperCursor::sbcBlobRead(int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                                            rtl::TStream& aStream, bool aReadOrg) {
  return smcCursor.sbcBlobRead(aFieldNo, aBlobNr, aOffset, aLen, aStream, aReadOrg);
}

uint32_t TzfServerMapperCursor::sbcBlobCreate(int32_t aFieldNo, int64_t& aBlobNr) {
  return smcCursor.sbcBlobCreate(aFieldNo, aBlobNr);
}

uint32_t TzfServerMapperCursor::sbcBlobWrite(int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                                             const void* aBlob) {
  return smcCursor.sbcBlobWrite(aFieldNo, aBlobNr, aOffset, aLen, aBlob);
}

uint32_t TzfServerMapperCursor::sbcBlobDelete(int32_t aFieldNo, int64_t aBlobNr) {
  return smcCursor.sbcBlobDelete(aFieldNo, aBlobNr);
}

}  // namespace zf
