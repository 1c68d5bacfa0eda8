// Table cursor: bulk writes (batch insert, copy of every record into another table, delete of
// every record).
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "server/zfsrServerTableCursor.h"

namespace zf {

uint32_t TzfServerTableCursor::RecordInsertBatch(TzfCustomMemoryStream& aStream) {
  return FramedWrite([&] { return sbcRecordInsertBatch(aStream); });
}
uint32_t TzfServerTableCursor::CopyRecords(TzfAbstractCursor* aDestCursor, TzfBlobCopyMode aBlobCopyMode,
                                           int32_t aMaxTransSize) {
  return Framed([&] { return sbcCopyRecords(aDestCursor, aBlobCopyMode, aMaxTransSize, true); });
}
uint32_t TzfServerTableCursor::CopyRecordsEx(TzfAbstractCursor* aDestCursor, TzfBlobCopyMode aBlobCopyMode,
                                             int32_t aMaxTransSize, bool aCheckValFields) {
  return Framed([&] { return sbcCopyRecords(aDestCursor, aBlobCopyMode, aMaxTransSize, aCheckValFields); });
}
uint32_t TzfServerTableCursor::DeleteRecords() {
  return Framed([&] { return sbcDeleteRecords(); });
}

uint32_t TzfServerTableCursor::sbcRecordInsertBatch(TzfCustomMemoryStream&) { return zfErrNotSupported; }
uint32_t TzfServerTableCursor::sbcCopyRecords(TzfAbstractCursor*, TzfBlobCopyMode, int32_t, bool) {
  return zfErrNotSupported;
}
uint32_t TzfServerTableCursor::sbcDeleteRecords() { return zfErrNotSupported; }

}  // namespace zf
