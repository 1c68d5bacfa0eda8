// The mapping layer's view of a server table cursor.
//
// The field mappers and mapper engines hold their cursors through IzfMapperCursor (declared in
// mapping/, below the server). TzfServerMapperCursor implements it over one table cursor that it
// does not own: the table descriptor and name, the auto-increment value, and the BLOB workers of
// the cursor, which run in the cursor's current transaction (a caller that writes BLOBs has one
// running, as a restructure's task does).
#pragma once
#include "dictionary/zfsdCursorContext.h"
#include "mapping/zfsdMapperCursor.h"

namespace zf {

class TzfServerTableCursor;
class TzfBaseTransaction;

class TzfServerMapperCursor final : public IzfMapperCursor, public IzfCursorContext {
 public:
  explicit TzfServerMapperCursor(TzfServerTableCursor& aCursor) : smcCursor(aCursor) {}
  virtual ~TzfServerMapperCursor() = default;

  TzfServerTableCursor& Cursor() const { return smcCursor; }

  TzfBaseTableDescriptor* acGetTableDescriptor() override;
  rtl::UnicodeString acGetFullName() override;
  // The value, 0 when the cursor cannot read it. Inside the cursor's transaction the counter is
  // read and set there directly (a copy task holds the table's locks already); outside one
  // through the cursor's own operations.
  uint32_t sbcAutoIncGet() override;
  void sbcAutoIncSetDirect(uint32_t aAutoInc) override;
  // The source must be a TzfServerMapperCursor too (else 9990 is raised by the table cursor).
  uint32_t sbcBlobCopyPrim(IzfMapperCursor* aSrcCursor, int32_t aSrcFieldNo, int64_t aBlobNr, int32_t aDestFieldNo,
                           int64_t& aDestBlobNr, uint32_t aMaxLength) override;
  uint32_t sbcBlobGetLength(int32_t aFieldNo, int64_t aBlobNr, uint32_t& aLength, bool aReadOrg) override;
  uint32_t sbcBlobRead(int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen, rtl::TStream& aStream,
                       bool aReadOrg) override;
  uint32_t sbcBlobCreate(int32_t aFieldNo, int64_t& aBlobNr) override;
  uint32_t sbcBlobWrite(int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                        const void* aBlob) override;
  uint32_t sbcBlobDelete(int32_t aFieldNo, int64_t aBlobNr) override;
  // For default values: the user name of the cursor's session.
  rtl::UnicodeString GetSessionUserName() override;

 private:
  TzfBaseTransaction* Trans();
  TzfServerTableCursor& smcCursor;
};

}  // namespace zf
