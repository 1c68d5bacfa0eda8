// The BLOB handler of a table cursor: every BLOB operation a client asks of the cursor goes through
// it, and it hears of the cursor's record inserts, modifications and deletions. The handler decides
// what a BLOB operation does to the table's BLOB engine. This unit holds the contract and the null
// handler of cursors on tables without BLOBs.
//
// Every operation but BlobIsLink and NeedNested answers an error code, 0 for success; a non-zero
// code may come with a pending custom message (EzfBaseException::zfSetMessage) that the cursor's
// error conversion shows. The BLOB operations may let engine exceptions through (the cursor converts
// them); the record hooks never do: they answer the converted code and mark the transaction
// corrupted.
//
// Calling points in the cursor: BeforeInsert after default and auto-increment values are set and
// before validation and the record engine's insert; BeforeModify after the old record was read and
// checked, before the update; AfterModify after the update and the extenders (non-zero: the
// transaction is marked corrupted); AfterDelete after the record engine's delete (likewise).
// NeedNested True makes the cursor run an insert or modify in a transaction level of its own.
//
// A handler belongs to one cursor and is used by the thread that holds the cursor's session lock.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "dictionary/zfsdServerObject.h"
#include "platform/rtl/rtlStream.h"

namespace zf {

class TzfBaseTransaction;
class TzfFieldsDescriptor;

class TzfBaseBlobHandler : public TzfExtendableServerObject {
 public:
  // aParent: the cursor.
  explicit TzfBaseBlobHandler(TzfExtendableServerObject* aParent) : TzfExtendableServerObject(aParent) {}

  virtual uint32_t BlobCreate(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t& aBlobNr) = 0;
  virtual uint32_t BlobCreateFile(TzfBaseTransaction* aTrans, int32_t aFieldNo, const UnicodeString& aFileName,
                                  int64_t& aBlobNr) = 0;
  virtual uint32_t BlobCreateLink(TzfBaseTransaction* aTrans, int32_t aFieldNo, const UnicodeString& aTableName,
                                  int64_t aTableBlobNr, int64_t& aBlobNr) = 0;
  virtual uint32_t BlobDelete(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t aBlobNr) = 0;
  // aBlobDeleted: the BLOB was empty and is gone.
  virtual uint32_t BlobFree(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t aBlobNr, bool& aBlobDeleted) = 0;
  virtual uint32_t BlobTruncate(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t aBlobNr,
                                uint32_t aBlobLength) = 0;
  virtual uint32_t BlobWrite(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset,
                             uint32_t aLen, const void* aBlob) = 0;
  // aReadOld: the length before the cursor's pending changes.
  virtual uint32_t BlobGetLength(TzfBaseTransaction* aTrans, int32_t aFieldNo, bool aReadOld, int64_t aBlobNr,
                                 uint32_t& aLength) = 0;
  virtual bool BlobIsLink(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t aBlobNr,
                          UnicodeString& aSrcTableName, int64_t& aSrcTableBlobNr) = 0;
  // Appends at most aLen bytes from aOffset to aStream.
  virtual uint32_t BlobRead(TzfBaseTransaction* aTrans, int32_t aFieldNo, bool aReadOld, int64_t aBlobNr,
                            uint32_t aOffset, uint32_t aLen, rtl::TStream& aStream) = 0;
  virtual uint32_t BlobModified(TzfBaseTransaction* aTrans, int32_t aFieldNo, int64_t aBlobNr, bool& aChanged) = 0;

  virtual uint32_t AfterDelete(TzfBaseTransaction* aTrans, const uint8_t* aRecord) = 0;
  virtual uint32_t BeforeInsert(TzfBaseTransaction* aTrans, uint8_t* aRecord) = 0;
  virtual uint32_t BeforeModify(TzfBaseTransaction* aTrans, uint8_t* aRecord) = 0;
  virtual uint32_t AfterModify(TzfBaseTransaction* aTrans, const uint8_t* aOldRecord, const uint8_t* aNewRecord) = 0;
  virtual bool NeedNested() = 0;

  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

 protected:
  // The numbers of aFieldsDescriptor's BLOB fields, in field order; none without a descriptor.
  static std::vector<int32_t> BlobFieldsOf(const TzfFieldsDescriptor* aFieldsDescriptor);
  // The BLOB number in field aField of aRecord; 0 with aIsNull set when the field is NULL.
  static int64_t BlobNrOf(const TzfFieldsDescriptor& aFieldsDescriptor, const uint8_t* aRecord, int32_t aField,
                          bool& aIsNull);
  // Runs the work of a record hook: an exception becomes its converted code, and a non-zero result
  // marks aTrans corrupted.
  uint32_t RunRecordHook(TzfBaseTransaction* aTrans, const std::function<uint32_t()>& aWork);
};

// The handler of cursors on tables without BLOB engine or BLOB field: every BLOB operation answers
// 12289 with "Operation not supported by TzfNullBlobHandler" and changes nothing; the record hooks
// do nothing.
class TzfNullBlobHandler : public TzfBaseBlobHandler {
 public:
  using TzfBaseBlobHandler::TzfBaseBlobHandler;

  uint32_t BlobCreate(TzfBaseTransaction*, int32_t, int64_t&) override { return NotSupported(); }
  uint32_t BlobCreateFile(TzfBaseTransaction*, int32_t, const UnicodeString&, int64_t&) override {
    return NotSupported();
  }
  uint32_t BlobCreateLink(TzfBaseTransaction*, int32_t, const UnicodeString&, int64_t, int64_t&) override {
    return NotSupported();
  }
  uint32_t BlobDelete(TzfBaseTransaction*, int32_t, int64_t) override { return NotSupported(); }
  uint32_t BlobFree(TzfBaseTransaction*, int32_t, int64_t, bool&) override { return NotSupported(); }
  uint32_t BlobTruncate(TzfBaseTransaction*, int32_t, int64_t, uint32_t) override { return NotSupported(); }
  uint32_t BlobWrite(TzfBaseTransaction*, int32_t, int64_t, uint32_t, uint32_t, const void*) override {
    return NotSupported();
  }
  uint32_t BlobGetLength(TzfBaseTransaction*, int32_t, bool, int64_t, uint32_t&) override { return NotSupported(); }
  bool BlobIsLink(TzfBaseTransaction*, int32_t, int64_t, UnicodeString& aSrcTableName, int64_t&) override {
    aSrcTableName.clear();
    return false;
  }
  uint32_t BlobRead(TzfBaseTransaction*, int32_t, bool, int64_t, uint32_t, uint32_t, rtl::TStream&) override {
    return NotSupported();
  }
  uint32_t BlobModified(TzfBaseTransaction*, int32_t, int64_t, bool&) override { return NotSupported(); }

  uint32_t AfterDelete(TzfBaseTransaction*, const uint8_t*) override { return 0; }
  uint32_t BeforeInsert(TzfBaseTransaction*, uint8_t*) override { return 0; }
  uint32_t BeforeModify(TzfBaseTransaction*, uint8_t*) override { return 0; }
  uint32_t AfterModify(TzfBaseTransaction*, const uint8_t*, const uint8_t*) override { return 0; }
  bool NeedNested() override { return false; }

  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

 private:
  static uint32_t NotSupported();
};

}  // namespace zf
