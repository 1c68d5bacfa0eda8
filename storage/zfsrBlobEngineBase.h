// The BLOB kind of sub-engines: stores a table's BLOB values and names each by a 64-bit BLOB number
// (opaque above the engine). Besides plain data BLOBs an engine stores file BLOBs (the content is
// an external file named in the BLOB) and BLOB links (the content is a BLOB of another table of the
// same database).
//
// Links are resolved by the caller: `GetBlobLength` and `Read` take the caller's length and read
// methods and answer what they answer. The server reaches other tables through its database's
// link handler; `TzfBaseBlobLinkHandler` is the narrow abstract class the storage layer declares
// for it (the server level implements it), and `zfBlobLinkMethods` turns one into the two methods.
//
// Error results: `GetBlobLength` and `Read` answer an error code (0 = success); every other
// operation raises. An engine reading a damaged BLOB answers or raises a coded error, never reads
// outside what is stored.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "dictionary/zfsdStorageDescriptor.h"
#include "platform/rtl/rtlStream.h"
#include "storage/zfsrBlockAccess.h"
#include "storage/zfsrSubEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseBlobEngineException, EzfBaseSubEngineException)

class TzfBaseBlobEngine;
class TzfBaseTransaction;

// The caller's methods for links: the length, or aLen bytes from aOffset appended to aStream, of
// BLOB aBlobNr of table aTableName; error code. An empty method is "not assigned".
using TzfBlobLinkGetLength =
    std::function<uint32_t(const UnicodeString& aTableName, int64_t aBlobNr, uint32_t& aLength)>;
using TzfBlobLinkRead = std::function<uint32_t(const UnicodeString& aTableName, int64_t aBlobNr, uint32_t aOffset,
                                               uint32_t aLen, rtl::TStream& aStream)>;

// What the engines need of the database's link handler.
class TzfBaseBlobLinkHandler {
 public:
  virtual ~TzfBaseBlobLinkHandler() = default;
  virtual uint32_t BlobLinkRead(const UnicodeString& aTableName, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                                rtl::TStream& aStream) = 0;
  virtual uint32_t BlobLinkGetLength(const UnicodeString& aTableName, int64_t aBlobNr, uint32_t& aLength) = 0;
};

// The two link methods of a handler (empty methods for nil).
TzfBlobLinkGetLength zfBlobLinkGetLengthOf(TzfBaseBlobLinkHandler* aHandler);
TzfBlobLinkRead zfBlobLinkReadOf(TzfBaseBlobLinkHandler* aHandler);

struct TzfBlobEngineClass : TzfSubEngineClass {
  using TCreate = std::unique_ptr<TzfBaseBlobEngine> (*)(TzfBaseBlobDescriptor* aDescriptor,
                                                        TzfBaseTransaction* aTrans, const TzfBlockAccessList& aFiles);
  using TCheckValidEngineDescriptor = void (*)(TzfBaseBlobDescriptor* aDescriptor);
  constexpr TzfBlobEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                               TCheckValidDescriptor aCheckValidDescriptor, TCreate aCreate,
                               TCheckValidEngineDescriptor aCheckValidEngineDescriptor = nullptr)
      : TzfSubEngineClass(aName, aParent, aGetList, u"BLOB", aCheckValidDescriptor),
        Create(aCreate),
        CheckValidEngineDescriptor(aCheckValidEngineDescriptor) {}

  TCreate Create;
  TCheckValidEngineDescriptor CheckValidEngineDescriptor;
};

class TzfBaseBlobEngine : public TzfBaseSubEngine {
 public:
  // bseID from the descriptor, the table version from the first file; the BLOB file is
  // aFiles[descriptor's file number] (a range error outside the list).
  TzfBaseBlobEngine(TzfBaseBlobDescriptor* aDescriptor, TzfBaseTransaction* aTrans, const TzfBlockAccessList& aFiles);

  static const TzfBlobEngineClass& ClassInfo();
  const TzfBlobEngineClass& ClassType() const override { return ClassInfo(); }

  // The engine of the table's BLOB descriptor; nil without one.
  static std::unique_ptr<TzfBaseBlobEngine> CreateEngine(TzfBaseTableDescriptor& aTable,
                                                         const TzfBlockAccessList& aFiles, TzfBaseTransaction* aTrans);
  // The engine named by the descriptor (15503 "Unknown BLOB engine"); nil for a nil descriptor.
  static std::unique_ptr<TzfBaseBlobEngine> CreateEngine(TzfBaseBlobDescriptor* aDescriptor,
                                                         const TzfBlockAccessList& aFiles, TzfBaseTransaction* aTrans);
  static void CheckValidDescriptor(TzfBaseTableDescriptor& aTable);
  static void CheckValidFromDescriptor(TzfBaseBlobDescriptor* aDescriptor);

  // A new empty BLOB.
  virtual void AddBlob(TzfBaseTransaction* aTrans, int64_t& aBlobNr) = 0;
  // A new BLOB referring to BLOB aTableBlobNr of table aTableName.
  virtual void AddBlobLink(TzfBaseTransaction* aTrans, const UnicodeString& aTableName, int64_t aTableBlobNr,
                           int64_t& aBlobNr) = 0;
  // A new BLOB whose content is the external file aFileName.
  virtual void AddFileBlob(TzfBaseTransaction* aTrans, const UnicodeString& aFileName, int64_t& aBlobNr) = 0;
  virtual void DeleteBlob(TzfBaseTransaction* aTrans, int64_t aBlobNr) = 0;
  // Deletes the BLOB only when it is empty; tells whether it did.
  virtual bool FreeBlob(TzfBaseTransaction* aTrans, int64_t aBlobNr) = 0;
  // The length (links through aLengthMethod); error code.
  virtual uint32_t GetBlobLength(TzfBaseTransaction* aTrans, int64_t aBlobNr, const TzfBlobLinkGetLength& aLengthMethod,
                                 uint32_t& aLength) = 0;
  virtual bool IsFileBlob(TzfBaseTransaction* aTrans, int64_t aBlobNr, UnicodeString& aFileName) = 0;
  virtual bool IsBlobLink(TzfBaseTransaction* aTrans, int64_t aBlobNr, UnicodeString& aSrcTableName,
                          int64_t& aSrcTableBlobNr) = 0;
  // Appends at most aLen bytes from aOffset to aStream (links through aReadMethod); error code.
  virtual uint32_t Read(TzfBaseTransaction* aTrans, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                        const TzfBlobLinkRead& aReadMethod, rtl::TStream& aStream) = 0;
  virtual void Truncate(TzfBaseTransaction* aTrans, int64_t aBlobNr, uint32_t aLen) = 0;
  virtual void Write(TzfBaseTransaction* aTrans, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                     const void* aBlob) = 0;
  // Forgets what was kept for the transaction; the base keeps nothing.
  virtual void Rollback(TzfBaseTransaction* aTrans);

  // The size of external file aFileName (relative names are taken in the table file's folder);
  // 0, or 15440 / 15441 / 15442 when opening, reading or closing failed. A size above 4 GB is a
  // range error.
  uint32_t ExternalFileLength(const UnicodeString& aFileName, uint32_t& aLength);
  // Up to aLen bytes of the external file from aOffset appended to aStream (only what exists);
  // results as ExternalFileLength.
  uint32_t ReadExternalFile(const UnicodeString& aFileName, uint32_t aOffset, rtl::TStream& aStream, uint32_t aLen);

  TzfBlockAccess* bbeBlobFile;
};

rtl::TUnitInit& zfsrBlobEngineBaseUnit();

}  // namespace zf
