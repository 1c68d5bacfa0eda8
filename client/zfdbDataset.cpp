#include "client/zfdbDataset.h"

#include "client/zfdbBlob.h"
#include "client/zfdbCursor.h"

#include <algorithm>
#include <cstring>

#include "dictionary/zfsdDefaultValueEngine.h"
#include "dictionary/zfsdTableDescriptor.h"
#include "dictionary/zfsdValidationEngine.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllMemoryManager.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllUtils.h"
#include "index/zfsdFilterEngineSimpleExpression.h"
#include "mapping/zfsdFieldMapperBase.h"
#include "platform/db/dbFilterExpr.h"

namespace zf {

namespace {
constexpr int32_t kRecInfoSize = 5;
// The bookmark size the table descriptor gives a table without indices.
constexpr int32_t kStorageOrderBookmarkSize = 24;
// One key field of a locate filter and the value it must hold (Empty or Null: IS NULL).
struct TzfLocateTerm {
  int32_t FieldNo;
  UnicodeString FieldName;
  rtl::Variant Value;
};

// The expression blob "F1 = V1 and F2 = V2 ..." (a field without value: "F IS NULL") of the
// simple-expression filter engine: header, then the nodes (the root at node offset 0), then the
// literals. The "and" nodes form a balanced tree, so that nesting grows with the logarithm of
// the number of fields.
class TzfLocateExpressionBuilder {
 public:
  // aPartial marks the last comparison partial (a text value then matches as a prefix).
  TzfCANExpr Build(const std::vector<TzfLocateTerm>& aTerms, bool aIgnoreCase, bool aPartial) {
    Terms(aTerms, 0, aTerms.size(), aIgnoreCase, aPartial);
    TzfCANExpr blob;
    if (!FWriter.Finish(blob)) throw EzfDatabaseError(zfErrInvalidParam);
    return blob;
  }

 private:
  // The condition on aTerms[aFrom .. aTo), aTo > aFrom; answers its node offset.
  size_t Terms(const std::vector<TzfLocateTerm>& aTerms, size_t aFrom, size_t aTo, bool aIgnoreCase, bool aPartial) {
    if (aTo - aFrom == 1) return Comparison(aTerms[aFrom], aIgnoreCase, aPartial && aTo == aTerms.size());
    const size_t node = FWriter.Node(nodeBINARY, canAND, 2);
    const size_t middle = aFrom + (aTo - aFrom) / 2;
    FWriter.Patch(node, 0, Terms(aTerms, aFrom, middle, aIgnoreCase, aPartial));
    FWriter.Patch(node, 1, Terms(aTerms, middle, aTo, aIgnoreCase, aPartial));
    return node;
  }
  size_t Comparison(const TzfLocateTerm& aTerm, bool aIgnoreCase, bool aPartial) {
    const rtl::Variant& value = aTerm.Value;
    if (value.IsEmptyOrNull()) {
      const size_t node = FWriter.Node(nodeUNARY, canISBLANK, 1);
      FWriter.Patch(node, 0, FWriter.Field(aTerm.FieldNo, aTerm.FieldName));
      return node;
    }
    const size_t node = FWriter.Node(nodeCOMPARE, canEQ, 4);
    uint16_t partial = 0;
    if (aPartial && value.IsStr()) partial = static_cast<uint16_t>(std::min<size_t>(value.AsString().size(), 0xFFFF));
    FWriter.Patch(node, 0, aIgnoreCase ? 1 : 0);
    FWriter.Patch(node, 1, partial);
    FWriter.Patch(node, 2, FWriter.Field(aTerm.FieldNo, aTerm.FieldName));
    FWriter.Patch(node, 3, Constant(value));
    return node;
  }
  size_t Constant(const rtl::Variant& aValue) {
    using W = db::TFilterExprWriter;
    if (aValue.IsStr()) {
      const UnicodeString text = aValue.AsString();
      if (text.size() > 0x7FFE) throw EzfDatabaseError(zfErrInvalidParam);
      return FWriter.Constant(fldWIDESTRING, W::WideText(text));
    }
    if (aValue.VarType() == rtl::varBoolean) return FWriter.Constant(fldBOOL, W::Bool(aValue.AsBoolean()));
    if (aValue.VarType() == rtl::varDate) {
      // A time stamp in milliseconds, the form in which the filter compares date and time fields.
      rtl::TTimeStamp stamp;
      if (!rtl::TryDateTimeToTimeStamp(aValue.RawDouble(), stamp)) throw EzfDatabaseError(zfErrInvalidParam);
      return FWriter.Constant(fldTIMESTAMP, W::Double(static_cast<double>(rtl::TimeStampToMSecs(stamp))));
    }
    if (aValue.IsFloat() || !aValue.IsOrdinal()) return FWriter.Constant(fldFLOAT, W::Double(aValue.AsDouble()));
    return FWriter.Constant(fldINT64, W::Int64(aValue.AsInt64()));
  }

  db::TFilterExprWriter FWriter;
};

}  // namespace

TzfDataset::TzfDataset(rtl::TComponent* aOwner) : db::TDataSet(aOwner), dsCursor(new TzfCursor(this)) {
  dsCursor->SetName(u"_Cursor");
  if (!aOwner || !aOwner->IsLoading()) AssignDefaultConnection();
}

void TzfDataset::SetName(const UnicodeString& aName) {
  db::TDataSet::SetName(aName);
  dsCursor->SetName(aName + u"_Cursor");
}

TzfDataset::~TzfDataset() = default;

void TzfDataset::RaiseError(uint32_t aCode) const { throw EzfDatabaseError(TzfErrorSource(this), aCode); }

void TzfDataset::SetDatabase(TzfDatabase* aValue) {
  if (aValue == dsDatabase) return;
  CheckInactive();
  dsCursor->SetDatabase(aValue);
  dsDatabase = aValue;
  // The database brings its session, and an implicit one its alias.
  if (aValue) {
    if (aValue->Session()) dsSession = aValue->Session();
    dsAliasName = aValue->Implicit() ? aValue->AliasName() : UnicodeString();
  }
  DataEvent(db::dePropertyChange, 0);
}

void TzfDataset::ShutdownFromCursor() {
  if (dsClosing || dsShutdownFromCursor) return;
  dsShutdownFromCursor = true;
  struct TReset {
    bool& Flag;
    ~TReset() { Flag = false; }
  } reset{dsShutdownFromCursor};
  Close();
}

void TzfDataset::TimeoutChanged() {
  if (dsAbstractCursor) dsAbstractCursor->atoSetTimeout(EffectiveTimeout());
}

uint32_t TzfDataset::EffectiveTimeout() const {
  if (dsTimeout >= 0) return static_cast<uint32_t>(dsTimeout);
  if (dsDatabase) return dsDatabase->EffectiveTimeout();
  return 10000;
}

void TzfDataset::SetTimeout(int32_t aValue) {
  if (aValue == dsTimeout) return;
  dsTimeout = aValue;
  if (dsAbstractCursor) dsAbstractCursor->atoSetTimeout(EffectiveTimeout());
}

void TzfDataset::SetFlipOrder(bool aValue) {
  if (aValue == dsFlipOrder) return;
  if (Active()) {
    CheckBrowseMode();
    PositionOnActive();
    dsFlipOrder = aValue;
    Resync({});
  } else {
    dsFlipOrder = aValue;
  }
}

// ---- opening and closing ----

void TzfDataset::OpenCursor(bool aInfoQuery) {
  // Opening the link opens the database, which opens its session.
  dsCursor->Open();
  OpenAbstractCursor();
  if (!dsAbstractCursor) return;
  try {
    BuildMappers();
    db::TDataSet::OpenCursor(aInfoQuery);
  } catch (...) {
    FreeMappers();
    CloseAbstractCursor();
    throw;
  }
}

void TzfDataset::CloseCursor() {
  DropLookupCursor();
  const int32_t blockReadSize = BlockReadSize();
  dsInternalWriteOnly = false;
  db::TDataSet::CloseCursor();
  CloseAbstractCursor();
  FreeMappers();
  if (!dsShutdownFromCursor) {
    dsClosing = true;
    struct TReset {
      bool& Flag;
      ~TReset() { Flag = false; }
    } reset{dsClosing};
    dsCursor->Close();
  }
  db::TDataSet::SetBlockReadSize(blockReadSize);
  SetUniDirectional(blockReadSize > 0);
}

void TzfDataset::DoAfterOpen() {
  if (dsInternalWriteOnly) {
    dsInternalWriteOnly = false;
    SetBlockReadSize(BlockReadSize());
  }
  db::TDataSet::DoAfterOpen();
}

void TzfDataset::CloseAbstractCursor() {
  if (!dsAbstractCursor) return;
  TzfAbstractCursor* c = dsAbstractCursor;
  dsAbstractCursor = nullptr;
  c->Free();
}

void TzfDataset::BuildMappers() {
  FreeMappers();
  TzfFieldsDescriptor& fields = dsAbstractCursor->acFields();
  const int32_t count = dsAbstractCursor->GetFieldCount();
  const size_t n = static_cast<size_t>(count) + 1;
  dsMapperZofrinToVcl.assign(n, {});
  dsMapperVclToZofrin.assign(n, {});
  dsMapperFieldOffset.assign(n, 0);
  dsMappers.assign(n, nullptr);
  for (int32_t i = 0; i < count; ++i) {
    TzfFieldDescriptor& fd = *fields.Field(i);
    const size_t k = static_cast<size_t>(i) + 1;
    std::unique_ptr<TzfBaseVclFieldMapper> m =
        TzfBaseVclFieldMapper::GetMapperForDescriptor(fd, dsMapperZofrinToVcl[k], dsMapperVclToZofrin[k]);
    if (m) {
      dsMappers[k] = m.get();
      dsMapperList.push_back(std::move(m));
    }
    dsMapperFieldOffset[k] = fd.fdOffset;
  }
}

void TzfDataset::FreeMappers() {
  dsMapperZofrinToVcl.clear();
  dsMapperVclToZofrin.clear();
  dsMapperFieldOffset.clear();
  dsMappers.clear();
  dsMapperList.clear();
}

void TzfDataset::SetupIndex() {
  int32_t index = -1;
  TzfBaseTableDescriptor* td = dsAbstractCursor->acGetTableDescriptor();
  if (td->tdIndicesDescriptor) {
    // A cursor without index support reads in storage order, with the bookmark of a table
    // without indices.
    const uint32_t code = dsAbstractCursor->GetIndexID(index);
    if (code == zfErrNotSupported) index = -1;
    else Check(code);
  }
  SetBookmarkSize(index < 0 ? kStorageOrderBookmarkSize : td->GetBookmarkSize(index));
}

void TzfDataset::ComputeBufferLayout() {
  ZF_ASSERT(dsRecordBufferCount == 0, "zfdb");
  dsOffsetBookmark = dsRecordLength;
  dsOffsetCalcFlds = dsOffsetBookmark + BookmarkSize();
  dsOffsetRecInfos = dsOffsetCalcFlds + CalcFieldsSize();
  dsRecordBufferSize = dsOffsetRecInfos + kRecInfoSize;
  dsRecordBufferPool = zfGetPool(static_cast<uint32_t>(dsRecordBufferSize));
}

void TzfDataset::AdjustFieldDef(db::TFieldDef& aFieldDef, const TzfFieldDescriptor& aFieldDescriptor) {
  switch (aFieldDescriptor.fdType) {
    case zftRecRev:
      aFieldDef.SetInternalCalcField(true);
      break;
    case zftBCD:
    case zftFmtBCD:
      aFieldDef.SetPrecision(aFieldDescriptor.fdUnits);
      aFieldDef.SetSize(aFieldDescriptor.fdDecPl);
      break;
    default:
      break;
  }
}

void TzfDataset::InternalInitFieldDefs() {
  db::TFieldDefs& defs = FieldDefs();
  defs.Clear();
  TzfFieldsDescriptor& fields = dsAbstractCursor->acFields();
  const int32_t count = dsAbstractCursor->GetFieldCount();
  for (int32_t i = 0; i < count; ++i) {
    const TzfFieldDescriptor& fd = *fields.Field(i);
    db::TFieldType type = db::ftUnknown;
    uint16_t size = 0;
    db::TFieldAttributes attributes;
    TzfBaseVclFieldMapper::MapZofrinDescriptorToVcl(fd, type, size, attributes);
    if (type == db::ftUnknown) continue;
    db::TFieldDef& def = defs.AddFieldDef();
    def.SetName(fd.fdName);
    def.SetFieldNo(i + 1);
    def.SetAttributes(attributes);
    def.SetSize(size);
    def.SetDataType(type);
    def.SetRequired(fd.fdRequired);
    AdjustFieldDef(def, fd);
  }
}

void TzfDataset::InternalOpen() {
  dsRecordLength = dsAbstractCursor->acFields().GetRecordLength();
  SetupIndex();
  InternalInitFieldDefs();
  if (DefaultFields()) {
    CreateFields();
    if (dsOptions.Contains(dsoAddKeyAsVariantField)) Fields().Add(std::make_unique<TzfKeyAsVariantField>());
  }
  for (int32_t i = 0; i < FieldCount(); ++i) {
    db::TField& f = Fields()[i];
    const int32_t no = f.FieldNo();
    if (no > 0 && static_cast<size_t>(no) < dsMappers.size() && dsMappers[static_cast<size_t>(no)])
      dsMappers[static_cast<size_t>(no)]->Bind(&f);
  }
  BindFields(true);
  ComputeBufferLayout();
  CreateClientHandlers();
  dsExprFilter = dsFuncFilter = 0;
  if (dsFilterTimeout != 500) Check(dsAbstractCursor->FilterSetTimeout(dsFilterTimeout));
  InstallExprFilter(dsFilterType, Filter(), FilterOptions());
  InstallCallbackFilter();
  if (Filtered()) ActivateFilters();
  // Reading in blocks starts after the open (DoAfterOpen): until then the fetches read nothing.
  dsInternalWriteOnly = BlockReadSize() > 0;
  InternalFirst();
}

void TzfDataset::InternalClose() {
  FreeClientHandlers();
  dsExprFilter = dsFuncFilter = 0;
  BindFields(false);
  if (DefaultFields()) DestroyFields();
}

// ---- record buffers ----

db::TRecordBuffer TzfDataset::AllocRecordBuffer() {
  auto* b = static_cast<uint8_t*>(dsRecordBufferPool.Alloc());
  std::memset(b, 0, static_cast<size_t>(dsRecordBufferSize));
  ++dsRecordBufferCount;
  return b;
}

void TzfDataset::FreeRecordBuffer(db::TRecordBuffer& aBuffer) {
  if (!aBuffer) return;
  dsRecordBufferPool.DisposeDirect(aBuffer);
  aBuffer = nullptr;
  --dsRecordBufferCount;
}

void TzfDataset::InternalInitRecord(db::TRecordBuffer aBuffer) {
  dsAbstractCursor->acFields().InitRecord(aBuffer);
  if (dsDefaultValueHandler) dsDefaultValueHandler->SetDefaultValuesInsert(aBuffer);
  std::memset(aBuffer + dsOffsetRecInfos, 0, 4);
}

void TzfDataset::ClearCalcFields(db::TRecordBuffer aBuffer) {
  std::memset(aBuffer + dsOffsetCalcFlds, 0, static_cast<size_t>(CalcFieldsSize()));
}

db::TRecordBuffer TzfDataset::ActiveBuffer() const {
  if (dsLookupBuffer) return dsLookupBuffer;
  switch (State()) {
    case db::dsBrowse:
      return IsEmpty() ? nullptr : db::TDataSet::ActiveBuffer();
    case db::dsEdit:
    case db::dsInsert:
    case db::dsBlockRead:
    case db::dsCalcFields:
      return db::TDataSet::ActiveBuffer();
    case db::dsFilter:
      return dsRecordToFilter;
    case db::dsSetKey: {
      db::TRecordBuffer key = nullptr;
      return GetKeyEditBuffer(key) ? key : nullptr;
    }
    default:
      return nullptr;
  }
}

// ---- fetching ----

bool TzfDataset::ServerFilterTimedOut() {
  bool abort = false;
  if (OnServerFilterTimeout) OnServerFilterTimeout(*this, abort);
  return abort;
}

db::TGetResult TzfDataset::GetRecord(db::TRecordBuffer aBuffer, db::TGetMode aGetMode, bool aDoCheck) {
  if (State() == db::dsBlockRead && aGetMode == db::gmNext) return GetBlockRecord(aBuffer);
  uint32_t code;
  if (aGetMode == db::gmCurrent) {
    code = IsWriteOnly() ? zfErrBOF : dsAbstractCursor->RecordGet(zfltNoLock, aBuffer);
  } else {
    const bool forward = (aGetMode == db::gmNext) != dsFlipOrder;
    if (IsWriteOnly()) {
      code = forward ? zfErrEOF : zfErrBOF;
    } else {
      do {
        code = forward ? dsAbstractCursor->RecordGetNext(zfltNoLock, aBuffer)
                       : dsAbstractCursor->RecordGetPrior(zfltNoLock, aBuffer);
      } while (code == zfErrFilterTimeout && !ServerFilterTimedOut());
    }
  }
  switch (code) {
    case 0:
      std::memset(aBuffer + dsOffsetRecInfos, 0, kRecInfoSize);
      Check(dsAbstractCursor->GetBookmark(aBuffer + dsOffsetBookmark, static_cast<uint32_t>(BookmarkSize())));
      GetCalcFields(aBuffer);
      return db::grOK;
    case zfErrBOF:
      return dsFlipOrder ? db::grEOF : db::grBOF;
    case zfErrEOF:
      return dsFlipOrder ? db::grBOF : db::grEOF;
    default:
      // Lock conflicts and time-outs raise even unasked: they are not a missing record.
      if (aDoCheck || zfErrorCategory(static_cast<uint16_t>(code)) == 40 || code == zfErrTimeout) RaiseError(code);
      return db::grError;
  }
}

void TzfDataset::InternalFirst() {
  if (State() == db::dsBlockRead) {
    dsBlockReadStream.reset();
    dsBlockReadCount = dsBlockReadPos = 0;
    dsBlockReadEof = false;
  }
  if (IsWriteOnly()) return;
  Check(dsFlipOrder ? dsAbstractCursor->SetToEnd() : dsAbstractCursor->SetToBegin());
}

void TzfDataset::InternalLast() {
  if (IsWriteOnly()) return;
  Check(dsFlipOrder ? dsAbstractCursor->SetToBegin() : dsAbstractCursor->SetToEnd());
}

// ---- block reading ----

void TzfDataset::SetBlockReadSize(int32_t aValue) {
  const int32_t old = BlockReadSize();
  db::TDataSet::SetBlockReadSize(aValue);
  SetUniDirectional(aValue > 0);
  if (!Active()) return;
  try {
    ResetBlockRead();
  } catch (...) {
    db::TDataSet::SetBlockReadSize(0);
    SetUniDirectional(false);
    First();
    throw;
  }
  if (aValue == 0 && old > 0) Resync({});
}

void TzfDataset::ResetBlockRead() {
  dsBlockReadStream.reset();
  dsBlockReadCount = dsBlockReadPos = 0;
  dsBlockReadOffset = 0;
  dsBlockReadEof = false;
  if (State() != db::dsBlockRead) return;
  InternalFirst();
  ClearBuffers();
  DoBeforeScroll();
  if (GetNextRecord()) {
    ActivateBuffers();
    BofFlag() = true;
  }
  DataEvent(db::deDataSetChange, 0);
  DoAfterScroll();
}

void TzfDataset::ReadBlock() {
  if (!dsBlockReadStream) dsBlockReadStream = std::make_unique<TzfMemoryStream>();
  uint32_t code;
  do {
    // Emptied here, not left to the cursor: a cursor that appends must not make the old block
    // be read again.
    dsBlockReadStream->Clear();
    code = dsAbstractCursor->RecordGetBatch(BlockReadSize(), dsBlockReadOptions, *dsBlockReadStream, -1,
                                            !dsFlipOrder);
  } while (code == zfErrFilterTimeout && !ServerFilterTimedOut());
  Check(code);
  // The block as the engine wrote it: a code, a count, then the entries; a block that does not
  // hold what it claims is refused rather than read past its end.
  if (dsBlockReadStream->Size() < 8) RaiseError(zfErrFileInvalidData);
  const auto* p = static_cast<const uint8_t*>(dsBlockReadStream->Memory());
  uint32_t blockCode = zfLoadLE<uint32_t>(p);
  const uint32_t count = zfLoadLE<uint32_t>(p + 4);
  if (count > static_cast<uint64_t>(dsBlockReadStream->Size() - 8) / 4) RaiseError(zfErrFileInvalidData);
  if (dsFlipOrder && (blockCode == zfErrBOF || blockCode == zfErrEOF))
    blockCode = blockCode == zfErrBOF ? zfErrEOF : zfErrBOF;
  dsBlockReadCount = static_cast<int32_t>(count);
  dsBlockReadPos = 0;
  dsBlockReadOffset = 8;
  if (blockCode == zfErrEOF) dsBlockReadEof = true;
  else if (blockCode != 0 && blockCode != zfErrFilterTimeout) RaiseError(blockCode);
}

db::TGetResult TzfDataset::GetBlockRecord(db::TRecordBuffer aBuffer) {
  if (dsBlockReadPos >= dsBlockReadCount) {
    if (IsWriteOnly() || dsBlockReadEof) return db::grEOF;
    ReadBlock();
    if (dsBlockReadCount == 0) return dsBlockReadEof ? db::grEOF : GetBlockRecord(aBuffer);
  }
  const int64_t size = dsBlockReadStream->Size();
  const auto* p = static_cast<const uint8_t*>(dsBlockReadStream->Memory());
  if (dsBlockReadOffset + 4 > size) RaiseError(zfErrFileInvalidData);
  const uint32_t length = zfLoadLE<uint32_t>(p + dsBlockReadOffset);
  if (length < static_cast<uint32_t>(dsRecordLength) || length > size - dsBlockReadOffset - 4)
    RaiseError(zfErrFileInvalidData);
  const uint8_t* entry = p + dsBlockReadOffset + 4;
  std::memcpy(aBuffer, entry, static_cast<size_t>(dsRecordLength));
  std::memset(aBuffer + dsOffsetBookmark, 0, static_cast<size_t>(BookmarkSize()));
  if ((dsBlockReadOptions >> gboBookmarks) & 1) {
    const size_t bookmark = std::min<size_t>(length - static_cast<uint32_t>(dsRecordLength),
                                             static_cast<size_t>(BookmarkSize()));
    std::memcpy(aBuffer + dsOffsetBookmark, entry + dsRecordLength, bookmark);
  }
  std::memset(aBuffer + dsOffsetRecInfos, 0, kRecInfoSize);
  dsBlockReadOffset += 4 + length;
  ++dsBlockReadPos;
  GetCalcFields(aBuffer);
  return db::grOK;
}

// ---- bookmarks ----

void TzfDataset::GetBookmarkData(db::TRecordBuffer aBuffer, void* aData) {
  std::memcpy(aData, aBuffer + dsOffsetBookmark, static_cast<size_t>(BookmarkSize()));
}

void TzfDataset::SetBookmarkData(db::TRecordBuffer aBuffer, const void* aData) {
  if (aData) {
    std::memcpy(aBuffer + dsOffsetBookmark, aData, static_cast<size_t>(BookmarkSize()));
  } else {
    std::memset(aBuffer + dsOffsetBookmark, 0, static_cast<size_t>(BookmarkSize()));
    aBuffer[dsOffsetRecInfos + 4] = db::bfEOF;
  }
}

db::TBookmarkFlag TzfDataset::GetBookmarkFlag(db::TRecordBuffer aBuffer) {
  if (State() == db::dsBlockRead)
    throw EzfDatabaseError(TzfErrorSource(this), zfErrNotSupported,
                           u"GetBookmarkFlag is not supported in BlockRead mode");
  return static_cast<db::TBookmarkFlag>(aBuffer[dsOffsetRecInfos + 4]);
}

void TzfDataset::SetBookmarkFlag(db::TRecordBuffer aBuffer, db::TBookmarkFlag aValue) {
  if (State() == db::dsInactive || State() == db::dsBlockRead) return;
  aBuffer[dsOffsetRecInfos + 4] = aValue;
}

void TzfDataset::InternalGotoBookmark(const void* aBookmark) {
  if (IsWriteOnly()) return;
  if (!aBookmark) RaiseError(zfErrBookmarkMismatch);
  Check(dsAbstractCursor->SetToBookmark(static_cast<const uint8_t*>(aBookmark), static_cast<uint32_t>(BookmarkSize())));
}

void TzfDataset::InternalSetToRecord(db::TRecordBuffer aBuffer) { InternalGotoBookmark(aBuffer + dsOffsetBookmark); }

void TzfDataset::PositionOnActive() {
  db::TRecordBuffer b = db::TDataSet::ActiveBuffer();
  if (!IsEmpty() && b && GetBookmarkFlag(b) == db::bfCurrent) InternalSetToRecord(b);
}

db::TBookmark TzfDataset::GetBookmark() {
  if (State() != db::dsBlockRead) return db::TDataSet::GetBookmark();
  if (((dsBlockReadOptions >> gboBookmarks) & 1) == 0)
    throw EzfDatabaseError(TzfErrorSource(this), zfErrNotSupported,
                           u"GetBookmark is not supported in BlockRead mode without specifying gboBookmarks in "
                           u"BlockReadOptions");
  db::TRecordBuffer b = ActiveBuffer();
  if (!b) return {};
  return db::TBookmark(b + dsOffsetBookmark, b + dsOffsetBookmark + BookmarkSize());
}

bool TzfDataset::BookmarkValid(const db::TBookmark& aBookmark) {
  if (!Active() || aBookmark.empty() || IsWriteOnly()) return false;
  if (static_cast<int32_t>(aBookmark.size()) != BookmarkSize()) return false;
  CursorPosChanged();
  return dsAbstractCursor->SetToBookmark(aBookmark.data(), static_cast<uint32_t>(BookmarkSize())) == 0 &&
         dsAbstractCursor->RecordGet(zfltNoLock, nullptr) == 0;
}

int32_t TzfDataset::CompareBookmarks(const db::TBookmark& aBookmark1, const db::TBookmark& aBookmark2) {
  if (aBookmark1.empty() && aBookmark2.empty()) return 0;
  if (aBookmark1.empty()) return -1;
  if (aBookmark2.empty()) return 1;
  CheckActive();
  if (static_cast<int32_t>(aBookmark1.size()) != BookmarkSize() ||
      static_cast<int32_t>(aBookmark2.size()) != BookmarkSize())
    RaiseError(zfErrBookmarkMismatch);
  TValueRelationship result = 0;
  Check(dsAbstractCursor->CompareBookmarks(aBookmark1.data(), aBookmark2.data(),
                                           static_cast<uint32_t>(BookmarkSize()), result));
  return dsFlipOrder ? -result : result;
}

bool TzfDataset::GetCurrentRecord(db::TRecordBuffer aBuffer) {
  if (IsWriteOnly() || IsEmpty()) return false;
  db::TRecordBuffer b = db::TDataSet::ActiveBuffer();
  if (!b || GetBookmarkFlag(b) != db::bfCurrent) return false;
  UpdateCursorPos();
  return dsAbstractCursor->RecordGet(zfltNoLock, aBuffer) == 0;
}

// ---- counts and numbers ----

int32_t TzfDataset::GetRecordCount() {
  CheckActive();
  uint32_t count = 0;
  Check(dsAbstractCursor->GetRecordCount(count, false));
  return static_cast<int32_t>(count);
}

void TzfDataset::RecordCountAsync(TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  CheckActive();
  Check(dsAbstractCursor->GetRecordCountAsync(aTaskInfo));
}

bool TzfDataset::IsSequenced() {
  return !IsUniDirectional() && dsOptions.Contains(dsoRecNoSupport) && dsAbstractCursor &&
         dsAbstractCursor->RecNoSupported() == 0;
}

int32_t TzfDataset::GetRecNo() {
  if (!IsSequenced()) return -1;
  CheckActive();
  PositionOnActive();
  uint32_t recNo = 0;
  if (dsAbstractCursor->RecNoGet(recNo, dsFlipOrder) != 0) return -1;
  return static_cast<int32_t>(recNo);
}

void TzfDataset::SetRecNo(int32_t aRecNo) {
  CheckBrowseMode();
  if (!IsSequenced()) return;
  CheckActive();
  CheckBiDirectional();
  DoBeforeScroll();
  if (dsAbstractCursor->RecNoSet(static_cast<uint32_t>(aRecNo), dsFlipOrder) != 0) return;
  Resync({db::rmExact, db::rmCenter});
  DoAfterScroll();
}

// ---- locating ----

std::vector<rtl::Variant> TzfDataset::LocateKeyValues(const rtl::Variant& aKeyValues, size_t aCount) const {
  const bool list = aKeyValues.VarType() == rtl::varVariantArray;
  // An array of bytes is the value of one bytes field, never a list of values.
  if (aCount == 0 || (aCount > 1 && !list)) RaiseError(zfErrInvalidParam);
  if (!list) return {aKeyValues};
  const int64_t low = aKeyValues.ArrayLowBound();
  const int64_t count = int64_t{aKeyValues.ArrayHighBound()} - low + 1;
  if (count < 1 || (aCount > 1 && count != static_cast<int64_t>(aCount))) RaiseError(zfErrInvalidParam);
  std::vector<rtl::Variant> values;
  for (size_t i = 0; i < aCount; ++i) {
    values.push_back(aKeyValues.GetElement(static_cast<int32_t>(low + static_cast<int64_t>(i))));
    if (values.back().VarType() == rtl::varVariantArray) RaiseError(zfErrInvalidParam);
  }
  return values;
}

bool TzfDataset::LocatesNull(const db::TField& aField, const rtl::Variant& aValue) {
  if (aValue.IsEmptyOrNull()) return true;
  return aValue.IsStr() && !zfIsTextFieldType(aField.DataType()) && aValue.AsString().empty();
}

bool TzfDataset::LocateRecord(const UnicodeString& aKeyFields, const rtl::Variant& aKeyValues,
                              db::TLocateOptions aOptions, bool aNoRead) {
  CheckBrowseMode();
  CursorPosChanged();
  if (IsWriteOnly()) return false;
  std::vector<db::TField*> fields;
  GetFieldList(fields, aKeyFields);
  const std::vector<rtl::Variant> values = LocateKeyValues(aKeyValues, fields.size());
  std::vector<TzfLocateTerm> terms;
  for (size_t i = 0; i < fields.size(); ++i) {
    // The engine filters on stored fields only.
    if (fields[i]->FieldNo() < 1) RaiseError(zfErrNotSupported);
    terms.push_back({fields[i]->FieldNo(), fields[i]->FieldName(),
                     LocatesNull(*fields[i], values[i]) ? rtl::Variant::Null() : values[i]});
  }
  TzfCANExpr expression;
  try {
    expression = TzfLocateExpressionBuilder().Build(terms, aOptions.Contains(db::loCaseInsensitive),
                                                     aOptions.Contains(db::loPartialKey));
  } catch (const rtl::EVariantError&) {
    // A value that has no form in a filter expression (an array of bytes, say).
    RaiseError(zfErrInvalidParam);
  }
  TzfSimpleExpressionFilterDescriptor filter(std::move(expression), zfThreadLocaleAnsiCodePage());
  uint32_t code = dsAbstractCursor->SetToFilter(&filter, nullptr, !dsFlipOrder);
  if (code == 0 && !aNoRead) code = dsAbstractCursor->RecordGet(zfltNoLock, Buffer(BufferedRecordCount()));
  if (code == zfErrNoCurrRec || code == zfErrRecNotFound) return false;
  Check(code);
  return true;
}

bool TzfDataset::Locate(const UnicodeString& aKeyFields, const rtl::Variant& aKeyValues,
                        db::TLocateOptions aOptions) {
  DoBeforeScroll();
  for (int attempt = 1;; ++attempt) {
    if (!LocateRecord(aKeyFields, aKeyValues, aOptions, true)) return false;
    try {
      Resync({db::rmExact, db::rmCenter});
      break;
    } catch (const EzfDatabaseError& e) {
      // The record went between the search and the re-synchronisation: search again.
      if (e.ErrorCode() != zfErrKeyOrRecDeleted || attempt >= 100) throw;
    }
  }
  DoAfterScroll();
  return true;
}

rtl::Variant TzfDataset::Lookup(const UnicodeString& aKeyFields, const rtl::Variant& aKeyValues,
                                const UnicodeString& aResultFields) {
  if (!LocateRecord(aKeyFields, aKeyValues, {}, false)) return rtl::Variant();
  db::TRecordBuffer spare = Buffer(BufferedRecordCount());
  std::memset(spare + dsOffsetRecInfos, 0, kRecInfoSize);
  GetCalcFields(spare);
  struct TRestore {
    db::TRecordBuffer& Ref;
    ~TRestore() { Ref = nullptr; }
  } restore{dsLookupBuffer};
  dsLookupBuffer = spare;
  return FieldValues(aResultFields);
}

// ---- field values ----

bool TzfDataset::GetFieldData(db::TField* aField, void* aBuffer) {
  db::TRecordBuffer b = ActiveBuffer();
  if (!b) return false;
  const int32_t no = aField->FieldNo();
  if (no < 1) {
    const uint8_t* p = b + dsOffsetCalcFlds + aField->Offset();
    if ((p[0] & 1) == 0) return false;
    if (aBuffer) std::memcpy(aBuffer, p + 1, static_cast<size_t>(aField->DataSize()));
    return true;
  }
  if (static_cast<size_t>(no) >= dsMapperZofrinToVcl.size()) return false;
  if (dsAbstractCursor->acFields().IsRecordFieldNull(no - 1, b)) return false;
  const TzfVclMapperMethod& m = dsMapperZofrinToVcl[static_cast<size_t>(no)];
  if (!m.IsSet()) return false;
  if (aBuffer) m(b + dsMapperFieldOffset[static_cast<size_t>(no)], aBuffer);
  return true;
}

}  // namespace zf
