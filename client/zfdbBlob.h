// BLOB streams and the client's own BLOB-related field classes.
//
// A BLOB field of a client dataset reaches its content through a stream the dataset makes
// (TzfDataset::CreateBlobStream):
//
//   TzfBaseBlobStream > TzfBlobStream            the engine BLOB whose number stands in the active
//                                                record buffer, through the engine cursor
//                     > TzfBlockModeBlobStream   the BLOB image inside the dataset's current block
//                                                while it reads in blocks (read only)
//                     > TzfBatchAppendBlobStream the dataset's memory stream of the field for the
//                                                record being appended in a batch
//
// BLOB image (block-read blocks and batch streams): a 32-bit little-endian length followed by that
// many bytes; the record's BLOB field then holds the 64-bit offset of the image from the start of
// the block (or batch) memory. An image that does not lie wholly inside the block is refused with
// 9998 "Invalid offset into the BLOB.", never read past the block.
//
// The standard stream moves content in chunks of zfBlobChunkSize bytes per engine call (0: one call
// per request) straight into or out of the caller's buffer. A read or length request that answers a
// code of a BLOB that moved or a damaged block (15409, 15416, 15492, 15493, category 0x23) re-reads
// the record once: a different BLOB number is taken and the request repeated, the same one raises
// the first code. A read that cannot deliver what the BLOB holds (the record is gone: 8708, 8709;
// the BLOB was refreshed to NULL: 9998) raises its code naming the field; it never ends quietly with
// fewer bytes, so a copy can never store a silently truncated BLOB.
//
// TzfMemoField is the memo field of a client dataset: a memo of the engine holds 8-bit text in the
// code page of its field's locale, a wide memo UTF-16LE code units (an odd last byte is no
// character and is dropped). TzfKeyAsVariantField is a calculated field "_Key" that shows the
// current record's key.
//
// Every stream is linked into its dataset's list while it lives; the dataset refuses to scroll,
// edit, post, cancel, delete, refresh or close while one is open.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/db/dbFields.h"
#include "platform/rtl/rtlStream.h"

namespace zf {

class TzfDataset;
class TzfMemoryStream;

// Bytes per engine call of a standard BLOB stream; copied by each stream when it is made.
extern int32_t zfBlobChunkSize;

class TzfBaseBlobStream : public rtl::TStream {
 public:
  // Links the stream into aField's dataset's list. A field number below 1 is a range error; a
  // field whose dataset is not a TzfDataset raises 9986.
  TzfBaseBlobStream(db::TBlobField* aField, db::TBlobStreamMode aMode);
  // Leaves the dataset's list.
  ~TzfBaseBlobStream() override;
  TzfBaseBlobStream(const TzfBaseBlobStream&) = delete;
  TzfBaseBlobStream& operator=(const TzfBaseBlobStream&) = delete;

  // Cuts the BLOB at the current position.
  virtual void Truncate() = 0;

  db::TBlobField* Field() const { return bbsField; }
  db::TBlobStreamMode Mode() const { return bbsMode; }

 protected:
  // Raises aCode (not 0) naming the field.
  [[noreturn]] void RaiseError(uint32_t aCode) const;
  void Check(uint32_t aCode) const {
    if (aCode != 0) RaiseError(aCode);
  }
  // Raises a refusal text naming the field.
  [[noreturn]] void Refuse(const char16_t* aText) const;

  db::TBlobField* bbsField;
  int32_t bbsFieldNo;  // the engine field number: the field number minus 1
  TzfDataset* bbsDataset;
  db::TBlobStreamMode bbsMode;

 private:
  friend class TzfDataset;
  TzfBaseBlobStream* bbsDataSetPrev = nullptr;
  TzfBaseBlobStream* bbsDataSetNext = nullptr;
};

// The BLOB image of the field in the current block (read only).
class TzfBlockModeBlobStream : public TzfBaseBlobStream {
 public:
  // bmRead only (other modes raise 10502); the field's value is read from the active buffer when
  // there is one, and a non-NULL value is the offset of the image in the block.
  TzfBlockModeBlobStream(db::TBlobField* aField, db::TBlobStreamMode aMode);
  int32_t Read(void* aBuffer, int32_t aCount) override;
  // Answers 0 and changes nothing.
  int32_t Write(const void* aBuffer, int32_t aCount) override;
  int64_t Seek(int64_t aOffset, rtl::TSeekOrigin aOrigin) override;
  // Raises 10502.
  void Truncate() override;

 private:
  int64_t bmbsPosition = 0;
  const uint8_t* bmbsBlob = nullptr;  // the image's bytes (after its length), or none
  uint32_t bmbsLength = 0;
};

// The dataset's memory stream of the field for the record being appended in a batch.
class TzfBatchAppendBlobStream : public TzfBaseBlobStream {
 public:
  // Takes the field's stream (made on first use), empties it for bmWrite and rewinds it.
  TzfBatchAppendBlobStream(db::TBlobField* aField, db::TBlobStreamMode aMode);
  // Rewinds the field's stream.
  ~TzfBatchAppendBlobStream() override;
  int32_t Read(void* aBuffer, int32_t aCount) override;
  // Answers 0 in bmRead.
  int32_t Write(const void* aBuffer, int32_t aCount) override;
  int64_t Seek(int64_t aOffset, rtl::TSeekOrigin aOrigin) override;
  void SetSize(int64_t aNewSize) override;
  // Cuts the stream at the current position when that lies before its end.
  void Truncate() override;

 private:
  TzfMemoryStream* babsStream;
};

// The engine BLOB of the field in the dataset's active record buffer.
class TzfBlobStream : public TzfBaseBlobStream {
 public:
  // Refuses in the filter state; bmWrite and bmReadWrite refuse a read-only field (unless the
  // dataset overrides it) or aReadOrg, and a dataset not in edit or insert state. Without an active
  // buffer a writing mode refuses, a reading one reads nothing. bmWrite empties the BLOB at once.
  TzfBlobStream(db::TBlobField* aField, bool aReadOrg, db::TBlobStreamMode aMode);
  // An opened and modified stream marks the field modified and tells the dataset the field changed.
  ~TzfBlobStream() override;

  // Up to aCount bytes from the position, in chunks (see above); codes raise naming the field.
  int32_t Read(void* aBuffer, int32_t aCount) override;
  // Gives the field a BLOB (made empty when NULL) and writes aCount bytes at the position in
  // chunks; 0 for a count of 0 or less, a stream not opened, or bmRead.
  int32_t Write(const void* aBuffer, int32_t aCount) override;
  // From the beginning, the position or the end (the BLOB's length).
  int64_t Seek(int64_t aOffset, rtl::TSeekOrigin aOrigin) override;
  // The BLOB's length (0 for a NULL field or a stream not opened).
  int64_t GetSize() override;
  // Cuts the BLOB to aNewSize; bmRead raises 10502.
  void SetSize(int64_t aNewSize) override;
  void Truncate() override;

  bool Opened() const { return bsOpened; }
  bool StreamModified() const { return bsModified; }
  int32_t ChunkSize() const { return bsChunkSize; }

 private:
  // The BLOB number of the field in bsBuffer; false when NULL.
  bool BlobNr(int64_t& aBlobNr) const;
  // A code after which the record is read again and the request repeated.
  static bool NeedsRefresh(uint32_t aCode);
  // Re-reads the record: true when the field now holds another BLOB (put into bsBuffer); false
  // with aCode set to what ends the request (the first code when the number is the same).
  bool Refresh(uint32_t& aCode);

  uint8_t* bsBuffer = nullptr;
  bool bsModified = false;
  bool bsOpened = false;
  bool bsReadOrg = false;
  int64_t bsPosition = 0;
  int32_t bsChunkSize;
};

// The memo field of a client dataset (ftMemo, and ftWideMemo as a wide memo).
class TzfMemoField : public db::TMemoField {
 public:
  TzfMemoField() = default;
  // A memo field shown as aType (ftMemo or ftWideMemo).
  explicit TzfMemoField(db::TFieldType aType);
  const char16_t* ClassName() const override { return u"TzfMemoField"; }

  // When binding: wide or not, and the storage code page of the engine field's locale.
  void Bind(bool aBinding) override;
  rtl::UnicodeString GetAsString() const override { return GetAsWideString(); }
  rtl::UnicodeString GetAsWideString() const override;
  rtl::AnsiString GetAsAnsiString() const override;
  rtl::Variant GetAsVariant() const override;
  void SetAsString(const rtl::UnicodeString& aValue) override { SetAsWideString(aValue); }
  // Empty clears the field; else UTF-16 units for a wide memo, else the text in the field's code page.
  void SetAsWideString(const rtl::UnicodeString& aValue) override;
  void SetAsAnsiString(const rtl::AnsiString& aValue) override;

  bool IsWide() const { return mfIsWide; }
  uint16_t CodePage() const { return mfCodePage; }

  // The text of a memo's stored bytes: UTF-16LE units of a wide memo (an odd last byte dropped),
  // else bytes in aCodePage.
  static rtl::UnicodeString DecodeMemo(const uint8_t* aBytes, size_t aLength, bool aIsWide, uint16_t aCodePage);
  // The stored bytes of aText: UTF-16 little-endian for a wide memo, else aText in aCodePage.
  static std::vector<uint8_t> EncodeMemo(const rtl::UnicodeString& aText, bool aIsWide, uint16_t aCodePage);

 protected:
  void SetVarValue(const rtl::Variant& aValue) override;

 private:
  bool mfIsWide = false;
  uint16_t mfCodePage = 0;
};

// The calculated field "_Key": the dataset's key of the current record. Its text is the value's
// text, for an array the texts of its elements joined by ", ".
class TzfKeyAsVariantField : public db::TVariantField {
 public:
  TzfKeyAsVariantField();
  const char16_t* ClassName() const override { return u"TzfKeyAsVariantField"; }
  rtl::Variant GetAsVariant() const override;
  // The variant's text; an array's elements from low to high joined by ", ".
  rtl::UnicodeString GetAsString() const override;
  rtl::UnicodeString GetAsWideString() const override { return GetAsString(); }

 protected:
  // Does nothing.
  void SetVarValue(const rtl::Variant&) override {}
};

}  // namespace zf
