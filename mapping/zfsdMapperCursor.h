// What the field mappers and mapper engines ask of the cursors they are handed.
//
// A restructure, pack, backup or recovery maps records from a source server cursor into a target
// server cursor. The server's cursor classes sit above this layer, so the mappers hold their
// cursors through this small abstract class, which the server implements over a table cursor
// with the same operation names (server/zfsrServerMapperCursor.h). Callers that map plain record buffers pass nullptr for either cursor;
// only the mappers that need a table (BLOB copies, auto-increment numbering, the record context of
// an error) use them.
#pragma once
#include <cstdint>

#include "platform/rtl/rtlStream.h"
#include "platform/rtl/rtlText.h"

namespace zf {

class TzfBaseTableDescriptor;

class IzfMapperCursor {
 public:
  // The table descriptor of the cursor's table (root or nested); never nullptr.
  virtual TzfBaseTableDescriptor* acGetTableDescriptor() = 0;
  // The full name of the cursor's table (root and nested names joined).
  virtual rtl::UnicodeString acGetFullName() = 0;
  // The table's current auto-increment value in the cursor's transaction; 0 without an
  // auto-increment engine.
  virtual uint32_t sbcAutoIncGet() = 0;
  // Sets the table's auto-increment value in the cursor's transaction without locks or checks;
  // nothing without an auto-increment engine.
  virtual void sbcAutoIncSetDirect(uint32_t aAutoInc) = 0;
  // Copies at most aMaxLength bytes (0xFFFFFFFF: all) of BLOB aBlobNr of field aSrcFieldNo of
  // aSrcCursor's table into a new BLOB of field aDestFieldNo of this cursor's table and answers
  // its number in aDestBlobNr; answers an error code, 0 on success.
  virtual uint32_t sbcBlobCopyPrim(IzfMapperCursor* aSrcCursor, int32_t aSrcFieldNo, int64_t aBlobNr,
                                   int32_t aDestFieldNo, int64_t& aDestBlobNr, uint32_t aMaxLength) = 0;
  // The BLOB operations of the cursor's table on BLOB aBlobNr of field aFieldNo, in the cursor's
  // transaction; each answers an error code, 0 on success.
  // The BLOB's length in bytes (aReadOrg: as before the cursor's pending change).
  virtual uint32_t sbcBlobGetLength(int32_t aFieldNo, int64_t aBlobNr, uint32_t& aLength, bool aReadOrg) = 0;
  // Appends at most aLen bytes from aOffset to aStream.
  virtual uint32_t sbcBlobRead(int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                               rtl::TStream& aStream, bool aReadOrg) = 0;
  // A new empty BLOB; its number in aBlobNr.
  virtual uint32_t sbcBlobCreate(int32_t aFieldNo, int64_t& aBlobNr) = 0;
  // Writes aLen bytes of aBlob at aOffset.
  virtual uint32_t sbcBlobWrite(int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                                const void* aBlob) = 0;
  virtual uint32_t sbcBlobDelete(int32_t aFieldNo, int64_t aBlobNr) = 0;

 protected:
  ~IzfMapperCursor() = default;
};

}  // namespace zf
