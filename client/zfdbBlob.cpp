#include "client/zfdbBlob.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "client/zfdbDataset.h"
#include "dictionary/zfsdTypes.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllWideString.h"
#include "mapping/zfsdFieldMapperBase.h"
#include "platform/rtl/rtlAnsi.h"

namespace zf {

int32_t zfBlobChunkSize = 0x80000;

namespace {

constexpr const char16_t* kSFilteredAccess = u"No access to field whilst DataSet is being filtered";
constexpr const char16_t* kSBlobReadOnly =
    u"The field is readonly but BLOB stream is being opened for read/write access";
constexpr const char16_t* kSBlobNotEditing =
    u"The BLOB stream is being opened for read/write access but the DataSet is not being edited";
constexpr const char16_t* kSNoFieldBuffer = u"No access to field buffer";
constexpr const char16_t* kSBlobStreamsOpen = u"All BLOB streams must be freed before executing this operation";
constexpr const char16_t* kSKeyAsVariantBlockRead =
    u"KeyAsVariant is not supported in BlockRead mode without specifying gboBookmarks in BlockReadOptions";

constexpr int64_t kMaxBlobOffset = std::numeric_limits<uint32_t>::max();

bool HasOption(TzfRecordGetBatchExOptions aOptions, TzfRecordGetBatchExOption aOption) {
  return ((aOptions >> aOption) & 1) != 0;
}

int64_t SeekTo(int64_t aPosition, int64_t aOffset, rtl::TSeekOrigin aOrigin, int64_t aLength) {
  switch (aOrigin) {
    case rtl::TSeekOrigin::soBeginning:
      return aOffset;
    case rtl::TSeekOrigin::soCurrent:
      return aPosition + aOffset;
    default:
      return aLength + aOffset;
  }
}

}  // namespace

// ---- the dataset's BLOB services -----------------------------------------------------------------

std::unique_ptr<rtl::TStream> TzfDataset::CreateBlobStream(db::TField* aField, db::TBlobStreamMode aMode) {
  CheckActive();
  if (!aField) RaiseError(zfErrInvalidParam);
  const int32_t no = aField->FieldNo();
  auto* blob = dynamic_cast<db::TBlobField*>(aField);
  if (no < 1 || no > dsAbstractCursor->GetFieldCount() || !blob ||
      !zfIsBlobType(dsAbstractCursor->acFields().Field(no - 1)->fdType))
    throw EzfDatabaseError(TzfErrorSource(aField), zfErrNotABlob);
  if (State() == db::dsBlockRead && HasOption(dsBlockReadOptions, gboBlobs))
    return std::make_unique<TzfBlockModeBlobStream>(blob, aMode);
  if (State() == db::dsInsert && InBatchAppend()) return std::make_unique<TzfBatchAppendBlobStream>(blob, aMode);
  return std::make_unique<TzfBlobStream>(blob, State() == db::dsOldValue, aMode);
}

uint32_t TzfDataset::GetBlobNr(const uint8_t* aBuffer, int32_t aFieldNo, int64_t& aBlobNr, bool& aIsNull) {
  uint8_t value[8] = {};
  bool isNull = true;
  dsAbstractCursor->acFields().GetRecordField(aFieldNo, aBuffer, isNull, value);
  aBlobNr = isNull ? 0 : static_cast<int64_t>(zfLoadLE<uint64_t>(value));
  aIsNull = aBlobNr == 0;
  return 0;
}

void TzfDataset::SetBlobNr(uint8_t* aBuffer, int32_t aFieldNo, int64_t aBlobNr) {
  if (aBlobNr == 0) {
    dsAbstractCursor->acFields().SetRecordField(aFieldNo, aBuffer, nullptr);
    return;
  }
  uint8_t value[8];
  const auto v = static_cast<uint64_t>(aBlobNr);
  for (int i = 0; i < 8; ++i) value[i] = static_cast<uint8_t>(v >> (8 * i));
  dsAbstractCursor->acFields().SetRecordField(aFieldNo, aBuffer, value);
}

uint32_t TzfDataset::EnsureBlob(uint8_t* aBuffer, int32_t aFieldNo, int64_t& aBlobNr) {
  bool isNull;
  GetBlobNr(aBuffer, aFieldNo, aBlobNr, isNull);
  if (!isNull) return 0;
  if (const uint32_t r = dsAbstractCursor->BlobCreate(aFieldNo, aBlobNr)) return r;
  SetBlobNr(aBuffer, aFieldNo, aBlobNr);
  return 0;
}

uint32_t TzfDataset::TruncateBlobField(uint8_t* aBuffer, int32_t aFieldNo, uint32_t aLength) {
  int64_t nr;
  bool isNull;
  GetBlobNr(aBuffer, aFieldNo, nr, isNull);
  if (isNull) return aLength > 0 ? zfErrInvalidBlobOffset : 0;
  return dsAbstractCursor->BlobTruncate(aFieldNo, nr, aLength);
}

uint32_t TzfDataset::FreeBlobField(uint8_t* aBuffer, int32_t aFieldNo) {
  int64_t nr;
  bool isNull;
  GetBlobNr(aBuffer, aFieldNo, nr, isNull);
  if (isNull) return 0;
  const uint32_t r = dsAbstractCursor->BlobFree(aFieldNo, nr);
  if (r != zfErrBlobModified) return r;
  SetBlobNr(aBuffer, aFieldNo, 0);
  return 0;
}

uint32_t TzfDataset::ReReadActiveRecord(uint8_t* aBuffer) {
  db::TRecordBuffer b = db::TDataSet::ActiveBuffer();
  if (IsEmpty() || !b || GetBookmarkFlag(b) != db::bfCurrent) return zfErrNoCurrRec;
  if (const uint32_t r =
          dsAbstractCursor->SetToBookmark(b + dsOffsetBookmark, static_cast<uint32_t>(BookmarkSize())))
    return r;
  CursorPosChanged();
  return dsAbstractCursor->RecordGet(zfltNoLock, aBuffer);
}

uint32_t TzfDataset::BlockReadBlobImage(int64_t aOffset, const uint8_t*& aBytes, uint32_t& aLength) const {
  aBytes = nullptr;
  aLength = 0;
  if (!dsBlockReadStream) return zfErrInvalidBlobOffset;
  const int64_t size = dsBlockReadStream->Size();
  // The block's code and count come first; the image's length word and bytes lie inside.
  if (aOffset < 8 || aOffset > size - 4) return zfErrInvalidBlobOffset;
  const auto* p = static_cast<const uint8_t*>(dsBlockReadStream->Memory()) + aOffset;
  const uint32_t length = zfLoadLE<uint32_t>(p);
  if (length > size - aOffset - 4) return zfErrInvalidBlobOffset;
  aBytes = p + 4;
  aLength = length;
  return 0;
}

TzfMemoryStream& TzfDataset::BatchAppendBlob(int32_t aFieldNo) {
  const int32_t count = dsAbstractCursor->GetFieldCount();
  if (aFieldNo < 0 || aFieldNo >= count) rtl::RaiseRangeError();
  if (dsBatchAppendBlobs.size() != static_cast<size_t>(count)) dsBatchAppendBlobs.resize(static_cast<size_t>(count));
  auto& s = dsBatchAppendBlobs[static_cast<size_t>(aFieldNo)];
  if (!s) s = std::make_unique<TzfMemoryStream>();
  return *s;
}

void TzfDataset::FreeBatchAppendBlobs() { dsBatchAppendBlobs.clear(); }

rtl::Variant TzfDataset::KeyAsVariant() {
  rtl::Variant v;
  if (State() == db::dsBlockRead) {
    if (!HasOption(dsBlockReadOptions, gboBookmarks))
      throw EzfDatabaseError(TzfErrorSource(this), zfErrNotSupported, kSKeyAsVariantBlockRead);
    db::TRecordBuffer b = ActiveBuffer();
    if (!b) return v;
    Check(dsAbstractCursor->BookmarkAsVariant(b + dsOffsetBookmark, static_cast<uint32_t>(BookmarkSize()), v));
    return v;
  }
  db::TRecordBuffer b = ActiveBuffer();
  if (!b || IsEmpty() || GetBookmarkFlag(b) != db::bfCurrent) return v;
  Check(dsAbstractCursor->BookmarkAsVariant(b + dsOffsetBookmark, static_cast<uint32_t>(BookmarkSize()), v));
  return v;
}

db::TFieldFactory TzfDataset::GetFieldClass(db::TFieldType aType) const {
  switch (aType) {
    case db::ftAutoInc:
      return []() -> std::unique_ptr<db::TField> { return std::make_unique<db::TUnsignedAutoIncField>(); };
    case db::ftMemo:
      return []() -> std::unique_ptr<db::TField> { return std::make_unique<TzfMemoField>(); };
    case db::ftWideMemo:
      return []() -> std::unique_ptr<db::TField> { return std::make_unique<TzfMemoField>(db::ftWideMemo); };
    default:
      return db::TDataSet::GetFieldClass(aType);
  }
}

void TzfDataset::DataEvent(db::TDataEvent aEvent, intptr_t aInfo) {
  db::TDataSet::DataEvent(aEvent, aInfo);
  if (aEvent == db::deUpdateState) NoteWantedActive();
  if (aEvent == db::deUpdateState && State() != db::dsInsert) FreeBatchAppendBlobs();
}

void TzfDataset::CheckBlobStreams() {
  if (dsBlobStreamsHead) throw EzfDatabaseError(TzfErrorSource(this), kSBlobStreamsOpen);
}

void TzfDataset::DoBeforeCancel() {
  CheckBlobStreams();
  db::TDataSet::DoBeforeCancel();
}
void TzfDataset::DoBeforeClose() {
  CheckBlobStreams();
  db::TDataSet::DoBeforeClose();
}
void TzfDataset::DoBeforeDelete() {
  CheckBlobStreams();
  db::TDataSet::DoBeforeDelete();
}
void TzfDataset::DoBeforeEdit() {
  CheckBlobStreams();
  db::TDataSet::DoBeforeEdit();
}
void TzfDataset::DoBeforeInsert() {
  CheckBlobStreams();
  db::TDataSet::DoBeforeInsert();
}
void TzfDataset::DoBeforePost() {
  CheckBlobStreams();
  db::TDataSet::DoBeforePost();
}
void TzfDataset::DoBeforeRefresh() {
  CheckBlobStreams();
  db::TDataSet::DoBeforeRefresh();
}
void TzfDataset::DoBeforeScroll() {
  CheckBlobStreams();
  db::TDataSet::DoBeforeScroll();
}

// ---- TzfBaseBlobStream ---------------------------------------------------------------------------

TzfBaseBlobStream::TzfBaseBlobStream(db::TBlobField* aField, db::TBlobStreamMode aMode)
    : bbsField(aField), bbsFieldNo(0), bbsDataset(nullptr), bbsMode(aMode) {
  if (!aField) throw EzfDatabaseError(zfErrInvalidParam);
  if (aField->FieldNo() < 1) rtl::RaiseRangeError();
  bbsFieldNo = aField->FieldNo() - 1;
  bbsDataset = dynamic_cast<TzfDataset*>(aField->DataSet());
  if (!bbsDataset) throw EzfDatabaseError(TzfErrorSource(aField), zfErrInvalidParam);
  bbsDataSetPrev = bbsDataset->dsBlobStreamsTail;
  if (bbsDataSetPrev) bbsDataSetPrev->bbsDataSetNext = this;
  else bbsDataset->dsBlobStreamsHead = this;
  bbsDataset->dsBlobStreamsTail = this;
}

TzfBaseBlobStream::~TzfBaseBlobStream() {
  if (bbsDataSetPrev) bbsDataSetPrev->bbsDataSetNext = bbsDataSetNext;
  else bbsDataset->dsBlobStreamsHead = bbsDataSetNext;
  if (bbsDataSetNext) bbsDataSetNext->bbsDataSetPrev = bbsDataSetPrev;
  else bbsDataset->dsBlobStreamsTail = bbsDataSetPrev;
}

void TzfBaseBlobStream::RaiseError(uint32_t aCode) const { throw EzfDatabaseError(TzfErrorSource(bbsField), aCode); }

void TzfBaseBlobStream::Refuse(const char16_t* aText) const {
  throw EzfDatabaseError(TzfErrorSource(bbsField), UnicodeStringView(aText));
}

// ---- TzfBlockModeBlobStream ----------------------------------------------------------------------

TzfBlockModeBlobStream::TzfBlockModeBlobStream(db::TBlobField* aField, db::TBlobStreamMode aMode)
    : TzfBaseBlobStream(aField, aMode) {
  if (aMode != db::bmRead) RaiseError(zfErrReadOnlyField);
  db::TRecordBuffer b = bbsDataset->ActiveBuffer();
  if (!b) return;
  int64_t offset;
  bool isNull;
  Check(bbsDataset->GetBlobNr(b, bbsFieldNo, offset, isNull));
  if (!isNull) Check(bbsDataset->BlockReadBlobImage(offset, bmbsBlob, bmbsLength));
}

int32_t TzfBlockModeBlobStream::Read(void* aBuffer, int32_t aCount) {
  if (!bmbsBlob || aCount <= 0 || bmbsPosition < 0 || bmbsPosition >= bmbsLength) return 0;
  const auto n = static_cast<int32_t>(std::min<int64_t>(aCount, bmbsLength - bmbsPosition));
  std::memcpy(aBuffer, bmbsBlob + bmbsPosition, static_cast<size_t>(n));
  bmbsPosition += n;
  return n;
}

int32_t TzfBlockModeBlobStream::Write(const void*, int32_t) { return 0; }

int64_t TzfBlockModeBlobStream::Seek(int64_t aOffset, rtl::TSeekOrigin aOrigin) {
  bmbsPosition = SeekTo(bmbsPosition, aOffset, aOrigin, bmbsBlob ? bmbsLength : 0);
  return bmbsPosition;
}

void TzfBlockModeBlobStream::Truncate() { RaiseError(zfErrReadOnlyField); }

// ---- TzfBatchAppendBlobStream --------------------------------------------------------------------

TzfBatchAppendBlobStream::TzfBatchAppendBlobStream(db::TBlobField* aField, db::TBlobStreamMode aMode)
    : TzfBaseBlobStream(aField, aMode), babsStream(&bbsDataset->BatchAppendBlob(bbsFieldNo)) {
  if (aMode == db::bmWrite) babsStream->SetSize(0);
  babsStream->SetPosition(0);
}

TzfBatchAppendBlobStream::~TzfBatchAppendBlobStream() { babsStream->SetPosition(0); }

int32_t TzfBatchAppendBlobStream::Read(void* aBuffer, int32_t aCount) { return babsStream->Read(aBuffer, aCount); }

int32_t TzfBatchAppendBlobStream::Write(const void* aBuffer, int32_t aCount) {
  if (bbsMode == db::bmRead) return 0;
  return babsStream->Write(aBuffer, aCount);
}

int64_t TzfBatchAppendBlobStream::Seek(int64_t aOffset, rtl::TSeekOrigin aOrigin) {
  return babsStream->Seek(aOffset, aOrigin);
}

void TzfBatchAppendBlobStream::SetSize(int64_t aNewSize) { babsStream->SetSize(aNewSize); }

void TzfBatchAppendBlobStream::Truncate() {
  if (babsStream->Position() < babsStream->Size()) babsStream->SetSize(babsStream->Position());
}

// ---- TzfBlobStream -------------------------------------------------------------------------------

TzfBlobStream::TzfBlobStream(db::TBlobField* aField, bool aReadOrg, db::TBlobStreamMode aMode)
    : TzfBaseBlobStream(aField, aMode), bsChunkSize(zfBlobChunkSize) {
  const db::TDataSetState state = bbsDataset->State();
  if (state == db::dsFilter) Refuse(kSFilteredAccess);
  if (aMode != db::bmRead) {
    if ((aField->ReadOnly() && !bbsDataset->IgnoringReadOnly()) || aReadOrg) Refuse(kSBlobReadOnly);
    if (state != db::dsEdit && state != db::dsInsert) Refuse(kSBlobNotEditing);
  }
  bsReadOrg = aReadOrg;
  bsBuffer = bbsDataset->ActiveBuffer();
  bsOpened = bsBuffer != nullptr;
  if (!bsOpened && aMode != db::bmRead) Refuse(kSNoFieldBuffer);
  if (aMode == db::bmWrite) Truncate();
}

TzfBlobStream::~TzfBlobStream() {
  if (!bsOpened || !bsModified) return;
  bbsField->SetModified(true);
  try {
    bbsDataset->DataEvent(db::deFieldChange, reinterpret_cast<intptr_t>(bbsField));
  } catch (...) {
    // A destructor cannot raise; the content is already in the engine and the field is marked.
  }
}

bool TzfBlobStream::BlobNr(int64_t& aBlobNr) const {
  bool isNull;
  bbsDataset->GetBlobNr(bsBuffer, bbsFieldNo, aBlobNr, isNull);
  return !isNull;
}

bool TzfBlobStream::NeedsRefresh(uint32_t aCode) {
  switch (aCode) {
    case zfErrBlockNumberOutOfRange:
    case zfErrNotAHeapBlock:
    case zfErrInvalidSegment:
    case zfErrSegmentDeleted:
      return true;
    default:
      return zfErrorCategory(static_cast<uint16_t>(aCode)) == 0x23 && aCode <= 0xFFFF;
  }
}

bool TzfBlobStream::Refresh(uint32_t& aCode) {
  const uint32_t first = aCode;
  uint32_t keptCode = 0;
  UnicodeString keptText;
  EzfBaseException::GetLastConvertedException(keptCode, keptText);
  std::vector<uint8_t> fresh(static_cast<size_t>(std::max<int32_t>(bbsDataset->RecordBufferSize(), 1)));
  const uint32_t r = bbsDataset->ReReadActiveRecord(fresh.data());
  if (r == zfErrKeyOrRecDeleted || r == zfErrNoCurrRec) {
    bbsDataset->SetBlobNr(bsBuffer, bbsFieldNo, 0);
    aCode = r;
    return false;
  }
  if (r != 0) {
    aCode = r;
    return false;
  }
  int64_t had, now;
  bool isNull;
  bbsDataset->GetBlobNr(bsBuffer, bbsFieldNo, had, isNull);
  bbsDataset->GetBlobNr(fresh.data(), bbsFieldNo, now, isNull);
  if (had == now) {
    aCode = first;
    EzfBaseException::SetLastConvertedException(keptCode, keptText);
    return false;
  }
  bbsDataset->SetBlobNr(bsBuffer, bbsFieldNo, now);
  return true;
}

int32_t TzfBlobStream::Read(void* aBuffer, int32_t aCount) {
  if (!bsOpened || aCount <= 0) return 0;
  int64_t blobNr;
  if (!BlobNr(blobNr)) return 0;
  TzfAbstractCursor* cursor = bbsDataset->AbstractCursor();
  TzfStaticMemoryStream to(aBuffer, aCount);
  int32_t done = 0;
  bool refreshed = false;
  while (done < aCount) {
    if (bsPosition < 0 || bsPosition > kMaxBlobOffset) RaiseError(zfErrInvalidBlobOffset);
    const int32_t chunk = bsChunkSize > 0 ? std::min(aCount - done, bsChunkSize) : aCount - done;
    to.SetPosition(done);
    uint32_t code = cursor->BlobRead(bbsFieldNo, blobNr, static_cast<uint32_t>(bsPosition),
                                     static_cast<uint32_t>(chunk), to, bsReadOrg);
    if (code != 0) {
      if (bbsMode == db::bmRead && !refreshed && NeedsRefresh(code) && Refresh(code)) {
        // Another BLOB stands in the record now: the chunk is asked again from it.
        refreshed = true;
        if (!BlobNr(blobNr)) RaiseError(zfErrInvalidBlobOffset);
        continue;
      }
      // The record or the BLOB is gone: what the BLOB holds cannot be delivered.
      RaiseError(code);
    }
    refreshed = false;
    const auto got = static_cast<int32_t>(std::clamp<int64_t>(to.Position() - done, 0, chunk));
    bsPosition += got;
    done += got;
    if (got < chunk) break;
  }
  return done;
}

int32_t TzfBlobStream::Write(const void* aBuffer, int32_t aCount) {
  if (aCount <= 0 || !bsOpened || bbsMode == db::bmRead) return 0;
  if (bsPosition < 0 || bsPosition + aCount > kMaxBlobOffset) RaiseError(zfErrInvalidBlobOffset);
  int64_t blobNr;
  Check(bbsDataset->EnsureBlob(bsBuffer, bbsFieldNo, blobNr));
  TzfAbstractCursor* cursor = bbsDataset->AbstractCursor();
  const auto* p = static_cast<const uint8_t*>(aBuffer);
  int32_t done = 0;
  while (done < aCount) {
    const int32_t chunk = bsChunkSize > 0 ? std::min(aCount - done, bsChunkSize) : aCount - done;
    Check(cursor->BlobWrite(bbsFieldNo, blobNr, static_cast<uint32_t>(bsPosition), static_cast<uint32_t>(chunk),
                            p + done));
    bsPosition += chunk;
    done += chunk;
  }
  bsModified = true;
  return done;
}

int64_t TzfBlobStream::GetSize() {
  if (!bsOpened) return 0;
  int64_t blobNr;
  if (!BlobNr(blobNr)) return 0;
  TzfAbstractCursor* cursor = bbsDataset->AbstractCursor();
  uint32_t length = 0;
  uint32_t code = cursor->BlobGetLength(bbsFieldNo, blobNr, length, bsReadOrg);
  if (code != 0 && bbsMode == db::bmRead && NeedsRefresh(code) && Refresh(code)) {
    if (!BlobNr(blobNr)) return 0;
    code = cursor->BlobGetLength(bbsFieldNo, blobNr, length, bsReadOrg);
  }
  Check(code);
  return length;
}

int64_t TzfBlobStream::Seek(int64_t aOffset, rtl::TSeekOrigin aOrigin) {
  const int64_t length = aOrigin == rtl::TSeekOrigin::soEnd ? GetSize() : 0;
  bsPosition = SeekTo(bsPosition, aOffset, aOrigin, length);
  return bsPosition;
}

void TzfBlobStream::SetSize(int64_t aNewSize) {
  if (bbsMode == db::bmRead) RaiseError(zfErrReadOnlyField);
  if (!bsOpened) return;
  if (aNewSize < 0 || aNewSize > kMaxBlobOffset) RaiseError(zfErrInvalidBlobOffset);
  Check(bbsDataset->TruncateBlobField(bsBuffer, bbsFieldNo, static_cast<uint32_t>(aNewSize)));
  bsModified = true;
}

void TzfBlobStream::Truncate() { SetSize(bsPosition); }

// ---- TzfMemoField --------------------------------------------------------------------------------

TzfMemoField::TzfMemoField(db::TFieldType aType) { SetDataType(aType); }

void TzfMemoField::Bind(bool aBinding) {
  db::TMemoField::Bind(aBinding);
  if (!aBinding) return;
  auto* ds = dynamic_cast<TzfDataset*>(DataSet());
  if (!ds || !ds->AbstractCursor() || FieldNo() < 1 || FieldNo() > ds->AbstractCursor()->GetFieldCount()) return;
  TzfFieldDescriptor* fd = ds->AbstractCursor()->acFields().Field(FieldNo() - 1);
  mfIsWide = fd->fdType == zftBlobWideMemo;
  mfCodePage = fd->GetUsedStorageCodePage();
}

UnicodeString TzfMemoField::DecodeMemo(const uint8_t* aBytes, size_t aLength, bool aIsWide, uint16_t aCodePage) {
  UnicodeString text;
  if (aIsWide) {
    text.resize(aLength / 2);
    for (size_t i = 0; i < text.size(); ++i)
      text[i] = static_cast<char16_t>(aBytes[2 * i] | (aBytes[2 * i + 1] << 8));
    return text;
  }
  zfStringToWideString(std::string_view(reinterpret_cast<const char*>(aBytes), aLength), aCodePage, text);
  return text;
}

UnicodeString TzfMemoField::GetAsWideString() const {
  const std::vector<uint8_t> bytes = GetAsBytes();
  return DecodeMemo(bytes.data(), bytes.size(), mfIsWide, mfCodePage);
}

rtl::AnsiString TzfMemoField::GetAsAnsiString() const {
  if (mfIsWide) return rtl::UnicodeToAnsi(GetAsWideString(), rtl::CP_ACP);
  return db::TMemoField::GetAsAnsiString();
}

rtl::Variant TzfMemoField::GetAsVariant() const {
  if (IsNull()) return rtl::Variant::Null();
  return rtl::Variant(GetAsWideString());
}

void TzfMemoField::SetAsWideString(const UnicodeString& aValue) {
  if (aValue.empty()) {
    Clear();
    return;
  }
  SetAsBytes(EncodeMemo(aValue, mfIsWide, mfCodePage));
}

std::vector<uint8_t> TzfMemoField::EncodeMemo(const UnicodeString& aText, bool aIsWide, uint16_t aCodePage) {
  std::vector<uint8_t> bytes;
  if (aIsWide) {
    bytes.resize(aText.size() * 2);
    for (size_t i = 0; i < aText.size(); ++i) {
      bytes[2 * i] = static_cast<uint8_t>(aText[i] & 0xFF);
      bytes[2 * i + 1] = static_cast<uint8_t>(aText[i] >> 8);
    }
  } else {
    const rtl::AnsiString text = zfWideStringToString(aText, aCodePage);
    bytes.assign(text.Bytes().begin(), text.Bytes().end());
  }
  return bytes;
}

void TzfMemoField::SetAsAnsiString(const rtl::AnsiString& aValue) {
  if (mfIsWide) SetAsWideString(rtl::AnsiToUnicode(aValue));
  else db::TMemoField::SetAsAnsiString(aValue);
}

void TzfMemoField::SetVarValue(const rtl::Variant& aValue) {
  if (aValue.VarType() == rtl::varOleStr || aValue.VarType() == rtl::varUString) SetAsWideString(aValue.AsString());
  else db::TMemoField::SetVarValue(aValue);
}

// ---- TzfKeyAsVariantField ------------------------------------------------------------------------

TzfKeyAsVariantField::TzfKeyAsVariantField() {
  SetFieldName(u"_Key");
  SetFieldKind(db::fkCalculated);
}

rtl::Variant TzfKeyAsVariantField::GetAsVariant() const {
  auto* ds = dynamic_cast<TzfDataset*>(DataSet());
  return ds ? ds->KeyAsVariant() : rtl::Variant();
}

UnicodeString TzfKeyAsVariantField::GetAsString() const {
  const rtl::Variant v = GetAsVariant();
  if (!rtl::VarIsArray(v)) return rtl::VarToStr(v);
  UnicodeString text;
  const int64_t low = v.ArrayLowBound(), high = v.ArrayHighBound();
  for (int64_t i = low; i <= high; ++i) {
    if (i > low) text += u", ";
    text += rtl::VarToStr(v.GetElement(static_cast<int32_t>(i)));
  }
  return text;
}

}  // namespace zf
