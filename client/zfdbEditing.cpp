// TzfDataset: editing, batch append, whole record sets and filters.
//
// Every change goes to the engine cursor: an edit re-reads the record (locking it unless locks
// are optimistic), a post modifies or inserts the active record after the client-side defaults and
// validations of the table, a delete removes the cursor's record. Batch append collects inserted
// records in one memory stream laid out as the cursor's batch insert reads it:
//
//   offset 0   4 bytes   0
//   offset 4   4 bytes   record count
//   then per record      4-byte entry length, the engine record (RecordLength bytes)
//
// Each nesting level remembers the stream size and record count at its start, so a cancelled
// level cuts the stream back to them.
#include <cstring>

#include "client/zfdbDataset.h"
#include "dictionary/zfsdDefaultValueEngine.h"
#include "dictionary/zfsdTableDescriptor.h"
#include "dictionary/zfsdValidationEngine.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllUtils.h"
#include "index/zfsdFilterEngineSQL.h"
#include "index/zfsdFilterEngineSimpleExpression.h"
#include "mapping/zfsdFieldMapperBase.h"
#include "platform/db/dbFilterExpr.h"

namespace zf {

namespace {
constexpr int64_t kBatchHeaderSize = 8;

[[noreturn]] void RaiseText(const TzfDataset* aDataSet, UnicodeStringView aText) {
  throw EzfDatabaseError(TzfErrorSource(aDataSet), aText);
}

void StoreLE32(TzfMemoryStream& aStream, int64_t aAt, uint32_t aValue) {
  auto* p = static_cast<uint8_t*>(aStream.Memory()) + aAt;
  zfStoreLE<uint32_t>(p, aValue);
}
}  // namespace

// ---- options and handlers ----

void TzfDataset::SetOptions(TzfDatasetOptions aValue) {
  if (aValue.Contains(dsoOptimisticLocks) != dsOptions.Contains(dsoOptimisticLocks) &&
      (State() == db::dsEdit || State() == db::dsInsert || State() == db::dsSetKey))
    RaiseText(this, u"DataSet in editing mode");
  if (aValue.Contains(dsoAddKeyAsVariantField) != dsOptions.Contains(dsoAddKeyAsVariantField)) CheckInactive();
  dsOptions = aValue;
}

void TzfDataset::CreateClientHandlers() {
  FreeClientHandlers();
  TzfFieldsDescriptor& fields = dsAbstractCursor->acFields();
  dsDefaultValueHandler = TzfDefaultValueHandler::CreateFor(fields, aaClient, dsAbstractCursor);
  dsValidationsHandler = TzfValidationsHandler::CreateFor(fields, aaClient, dsAbstractCursor);
}

void TzfDataset::FreeClientHandlers() {
  dsDefaultValueHandler.reset();
  dsValidationsHandler.reset();
  dsOldValuesBuffer.clear();
}

// ---- edit, post, cancel, delete ----

void TzfDataset::InternalEdit() {
  if (IsWriteOnly()) RaiseError(zfErrNoCurrRec);
  db::TRecordBuffer b = db::TDataSet::ActiveBuffer();
  if (dsOptions.Contains(dsoOptimisticLocks)) {
    if (!dsRecRevField) throw EzfDatabaseError(this, zfErrNotSupported, u"A RecRev field is required for optimistic locking");
    Check(dsAbstractCursor->RecordGet(zfltNoLock, b));
  } else {
    Check(dsAbstractCursor->RecordGet(zfltWriteLock, b));
  }
  dsOldValuesBuffer.assign(b, b + dsRecordLength);
}

void TzfDataset::InternalPost() { InternalPostEx(false); }

void TzfDataset::InternalPostEx(bool aKeepLock) {
  db::TDataSet::InternalPost();
  db::TRecordBuffer b = ActiveBuffer();
  if (!b) RaiseText(this, u"Could not retrieve the active buffer");
  if (State() == db::dsEdit) {
    ZF_ASSERT(!IsWriteOnly(), "zfdbEditing");
    if (dsDefaultValueHandler) dsDefaultValueHandler->SetDefaultValuesModify(b);
    if (dsValidationsHandler)
      dsValidationsHandler->ValidateRecord(dsOldValuesBuffer.empty() ? nullptr : dsOldValuesBuffer.data(), b);
    uint32_t code = dsAbstractCursor->RecordModify(b, !aKeepLock);
    if (dsOptions.Contains(dsoOptimisticLocks) && (code == zfErrKeyOrRecDeleted || code == zfErrNoCurrRec))
      code = zfErrRecDeletedOrMoved;
    Check(code);
  } else {
    if (dsValidationsHandler) dsValidationsHandler->ValidateRecord(nullptr, b);
    Check(dsAbstractCursor->RecordInsert(aKeepLock ? zfltWriteLock : zfltNoLock, b));
  }
}

void TzfDataset::InternalCancel() {
  if (State() != db::dsEdit) return;
  uint32_t code = dsAbstractCursor->RecordLockRelease(false);
  if (dsOptions.Contains(dsoOptimisticLocks) && (code == zfErrKeyOrRecDeleted || code == zfErrNoCurrRec)) code = 0;
  if (!dsDeactivating) Check(code);
}

void TzfDataset::InternalDelete() {
  if (!IsWriteOnly()) {
    const uint32_t code = dsAbstractCursor->RecordDelete(nullptr);
    // A record already gone (or no record at all) is what the delete wanted.
    if (code != 0 && zfErrorCategory(static_cast<uint16_t>(code)) != 34) RaiseError(code);
  }
  if (State() == db::dsEdit) InitRecord(db::TDataSet::ActiveBuffer());
}

void TzfDataset::InternalAddRecord(db::TRecordBuffer aBuffer, bool) {
  Check(dsAbstractCursor->RecordInsert(zfltNoLock, aBuffer));
}

void TzfDataset::Post() {
  if (InBatchAppend() && State() == db::dsInsert)
    BatchPost();
  else
    db::TDataSet::Post();
}

void TzfDataset::PostAndEdit() {
  if (InBatchAppend()) return;
  if (State() != db::dsEdit && State() != db::dsInsert) return;
  UpdateRecord();
  DataEvent(db::deCheckBrowseMode, 0);
  DoBeforePost();
  for (;;) {
    try {
      InternalPostEx(true);
      break;
    } catch (db::EDatabaseError& e) {
      if (!OnPostError) throw;
      db::TDataAction action = db::daFail;
      OnPostError(*this, e, action);
      if (action == db::daFail) throw;
      if (action == db::daAbort) rtl::Abort();
    }
  }
  // The cursor stands on the posted record, which this session keeps locked.
  SetState(db::dsBrowse);
  Resync({});
  DoAfterPost();
  DoBeforeEdit();
  db::TRecordBuffer b = db::TDataSet::ActiveBuffer();
  dsOldValuesBuffer.assign(b, b + dsRecordLength);
  SetState(db::dsEdit);
  GetCalcFields(b);
  DataEvent(db::deRecordChange, 0);
  DoAfterEdit();
}

uint32_t TzfDataset::AddFileBlobEx(db::TField* aField, const UnicodeString& aFileName) {
  if (aFileName.empty() || !aField) RaiseError(zfErrInvalidParam);
  CheckActive();
  if (State() != db::dsEdit && State() != db::dsInsert) RaiseText(this, u"DataSet not in editing mode");
  db::TRecordBuffer b = ActiveBuffer();
  if (!b) RaiseText(this, u"Could not retrieve the active buffer");
  const int32_t no = aField->FieldNo();
  if (no < 1 || no > dsAbstractCursor->GetFieldCount()) return zfErrNotABlob;
  const TzfFieldType type = dsAbstractCursor->acFields().Field(no - 1)->fdType;
  if (type != zftBlob && type != zftBlobMemo && type != zftBlobGraphic && type != zftBlobWideMemo)
    return zfErrNotABlob;
  const int32_t fieldNo = no - 1;
  int64_t blobNr = 0;
  bool isNull = true;
  if (const uint32_t code = GetBlobNr(b, fieldNo, blobNr, isNull)) return code;
  if (!isNull) {
    if (const uint32_t code = TruncateBlobField(b, fieldNo, 0)) return code;
    if (const uint32_t code = FreeBlobField(b, fieldNo)) return code;
  }
  if (const uint32_t code = dsAbstractCursor->BlobCreateFile(fieldNo, aFileName, blobNr)) return code;
  SetBlobNr(b, fieldNo, blobNr);
  if (auto* blob = dynamic_cast<db::TBlobField*>(aField)) blob->SetModified(true);
  DataEvent(db::deFieldChange, reinterpret_cast<intptr_t>(aField));
  return 0;
}

void TzfDataset::AddFileBlob(db::TField* aField, const UnicodeString& aFileName) {
  if (const uint32_t code = AddFileBlobEx(aField, aFileName)) throw EzfDatabaseError(TzfErrorSource(aField), code);
}

// ---- field values ----

void TzfDataset::SetFieldData(db::TField* aField, const void* aBuffer) {
  const db::TDataSetState st = State();
  switch (st) {
    case db::dsEdit:
    case db::dsInsert:
    case db::dsSetKey:
    case db::dsCalcFields:
    case db::dsFilter:
    case db::dsNewValue:
    case db::dsInternalCalc:
      break;
    default:
      RaiseText(this, u"DataSet not in editing mode");
  }
  db::TRecordBuffer b = ActiveBuffer();
  if (!b) RaiseText(this, u"Could not retrieve the active buffer");
  const int32_t no = aField->FieldNo();
  if (no < 1) {
    uint8_t* p = b + dsOffsetCalcFlds + aField->Offset();
    if (aBuffer) {
      p[0] |= 1;
      std::memcpy(p + 1, aBuffer, static_cast<size_t>(aField->DataSize()));
    } else {
      p[0] &= static_cast<uint8_t>(~1u);
    }
  } else {
    if (st == db::dsCalcFields ||
        (aField->ReadOnly() && st != db::dsSetKey && st != db::dsFilter && dsIgnoreReadOnly <= 0) ||
        (aField->FieldKind() == db::fkInternalCalc && st != db::dsSetKey))
      RaiseError(zfErrReadOnlyField);
    if (static_cast<size_t>(no) >= dsMapperVclToZofrin.size()) RaiseError(zfErrInvalidFieldName);
    aField->Validate(aBuffer);
    dsAbstractCursor->acFields().SetRecordFieldNull(no - 1, b, aBuffer == nullptr);
    if (aBuffer) {
      const TzfVclMapperMethod& m = dsMapperVclToZofrin[static_cast<size_t>(no)];
      if (!m.IsSet()) RaiseError(zfErrReadOnlyField);
      m(aBuffer, b + dsMapperFieldOffset[static_cast<size_t>(no)]);
    }
  }
  if (st != db::dsCalcFields && st != db::dsFilter && st != db::dsNewValue)
    DataEvent(db::deFieldChange, reinterpret_cast<intptr_t>(aField));
}

// ---- locks ----

TzfLockPresent TzfDataset::IsRecordLocked() {
  CheckBiDirectional();
  CheckActive();
  if (IsEmpty() || !db::TDataSet::ActiveBuffer()) return lpNotAtAll;
  UpdateCursorPos();
  TzfLockPresent result = lpNotAtAll;
  Check(dsAbstractCursor->RecordIsLocked(zfltWriteLock, result));
  return result;
}

void TzfDataset::LockTable(TzfLockType aLockType) {
  CheckActive();
  Check(dsAbstractCursor->TableLockAcquire(aLockType));
}

void TzfDataset::UnlockTable(TzfLockType aLockType) {
  CheckActive();
  Check(dsAbstractCursor->TableLockRelease(aLockType, false));
}

void TzfDataset::UnlockTableAll() {
  CheckActive();
  Check(dsAbstractCursor->TableLockRelease(zfltNoLock, true));
}

TzfLockPresent TzfDataset::IsTableLocked(TzfLockType aLockType) {
  CheckActive();
  TzfLockPresent result = lpNotAtAll;
  Check(dsAbstractCursor->TableIsLocked(aLockType, result));
  return result;
}

// ---- batch append ----

void TzfDataset::BeginBatchAppend(int32_t aCutoffSize) {
  CheckBiDirectional();
  ++dsBatchAppend;
  dsBatchAppendStartOffset.resize(static_cast<size_t>(dsBatchAppend), 0);
  dsBatchAppendRecordCount.resize(static_cast<size_t>(dsBatchAppend), 0);
  if (dsBatchAppendData) {
    const auto* p = static_cast<const uint8_t*>(dsBatchAppendData->Memory());
    dsBatchAppendStartOffset.back() = dsBatchAppendData->Size();
    dsBatchAppendRecordCount.back() = static_cast<int32_t>(zfLoadLE<uint32_t>(p + 4));
    dsBatchAppendData->Seek(0, rtl::TSeekOrigin::soEnd);
  }
  dsBatchAppendCutoff = aCutoffSize;
  if (dsBatchAppendData && dsBatchAppendData->Size() > dsBatchAppendCutoff) FlushBatchAppend();
}

int32_t TzfDataset::BatchAppendPending() const {
  if (!dsBatchAppendData) return 0;
  return static_cast<int32_t>(zfLoadLE<uint32_t>(static_cast<const uint8_t*>(dsBatchAppendData->Memory()) + 4));
}

void TzfDataset::BatchPost() {
  CheckBiDirectional();
  CheckActive();
  if (dsBatchAppend < 1) RaiseText(this, u"BeginBatchAppend was not called");
  UpdateRecord();
  DataEvent(db::deCheckBrowseMode, 0);
  DoBeforePost();
  db::TRecordBuffer b = ActiveBuffer();
  if (!b) RaiseText(this, u"Could not retrieve the active buffer");
  db::TDataSet::InternalPost();
  if (dsValidationsHandler) dsValidationsHandler->ValidateRecord(nullptr, b);
  // The entry: its length, the record, then the BLOB images written through batch-append BLOB
  // streams, in field order; the copied record's BLOB field holds the stream offset of its
  // image's size word. It is built whole before the stream changes, so a refusal leaves the
  // batch as it was.
  const int64_t entry = dsBatchAppendData ? dsBatchAppendData->Size() : kBatchHeaderSize;
  std::vector<uint8_t> record(b, b + dsRecordLength);
  uint32_t length = static_cast<uint32_t>(dsRecordLength);
  int64_t imageAt = entry + 4 + dsRecordLength;
  for (size_t f = 0; f < dsBatchAppendBlobs.size(); ++f) {
    const TzfMemoryStream* blob = dsBatchAppendBlobs[f].get();
    if (!blob || blob->Size() == 0) continue;
    if (blob->Size() > 0x7FFFFFFF - 4 || length > 0x7FFFFFFFu - 4 - static_cast<uint32_t>(blob->Size()))
      RaiseError(zfErrInvalidParam);
    SetBlobNr(record.data(), static_cast<int32_t>(f), imageAt);
    length += 4 + static_cast<uint32_t>(blob->Size());
    imageAt += 4 + blob->Size();
  }
  if (!dsBatchAppendData) {
    auto stream = std::make_unique<TzfMemoryStream>();
    stream->SetCapacity(std::max<int64_t>(dsBatchAppendCutoff, kBatchHeaderSize));
    uint8_t header[kBatchHeaderSize] = {};
    zfStoreLE<uint32_t>(header + 4, 1);
    stream->WriteBuffer(header, kBatchHeaderSize);
    dsBatchAppendData = std::move(stream);
    if (!dsBatchAppendStartOffset.empty()) dsBatchAppendStartOffset[0] = kBatchHeaderSize;
  } else {
    StoreLE32(*dsBatchAppendData, 4, static_cast<uint32_t>(BatchAppendPending() + 1));
  }
  dsBatchAppendData->Seek(0, rtl::TSeekOrigin::soEnd);
  uint8_t word[4];
  zfStoreLE<uint32_t>(word, length);
  dsBatchAppendData->WriteBuffer(word, 4);
  dsBatchAppendData->WriteBuffer(record.data(), dsRecordLength);
  for (const auto& blob : dsBatchAppendBlobs) {
    if (!blob || blob->Size() == 0) continue;
    zfStoreLE<uint32_t>(word, static_cast<uint32_t>(blob->Size()));
    dsBatchAppendData->WriteBuffer(word, 4);
    dsBatchAppendData->WriteBuffer(blob->Memory(), blob->Size());
  }
  // The record is not in the table yet: the ring shows the records as they were.
  UpdateCursorPos();
  SetState(db::dsBrowse);
  Resync({});
  DoAfterPost();
  if (dsBatchAppendData->Size() > dsBatchAppendCutoff) FlushBatchAppend();
}

void TzfDataset::EndBatchAppend() {
  CheckBiDirectional();
  --dsBatchAppend;
  if (dsBatchAppend <= 0) {
    dsBatchAppend = 0;
    FlushBatchAppend();
  }
}

void TzfDataset::CancelBatchAppend() {
  if (dsBatchAppend <= 0) return;
  const size_t level = static_cast<size_t>(dsBatchAppend - 1);
  --dsBatchAppend;
  if (dsBatchAppendData && dsBatchAppend > 0) {
    const int64_t start = dsBatchAppendStartOffset[level];
    const int32_t count = dsBatchAppendRecordCount[level];
    // A level that began before the stream existed began with it empty.
    if (start < kBatchHeaderSize || count == 0) {
      dsBatchAppendData->SetSize(kBatchHeaderSize);
      StoreLE32(*dsBatchAppendData, 4, 0);
    } else {
      dsBatchAppendData->SetSize(start);
      StoreLE32(*dsBatchAppendData, 4, static_cast<uint32_t>(count));
    }
    dsBatchAppendData->Seek(0, rtl::TSeekOrigin::soEnd);
  }
  dsBatchAppendStartOffset.resize(static_cast<size_t>(dsBatchAppend));
  dsBatchAppendRecordCount.resize(static_cast<size_t>(dsBatchAppend));
  if (dsBatchAppend == 0) dsBatchAppendData.reset();
}

void TzfDataset::FlushBatchAppend() {
  CheckBiDirectional();
  if (!dsBatchAppendData) return;
  if (BatchAppendPending() == 0) {
    dsBatchAppendData.reset();
    return;
  }
  dsBatchAppendData->Seek(0, rtl::TSeekOrigin::soBeginning);
  const uint32_t code = dsAbstractCursor->RecordInsertBatch(*dsBatchAppendData);
  // The engine inserts a batch as a whole or not at all: a refused batch stays collected, so the
  // caller can send it again or cancel it.
  if (code != 0) {
    dsBatchAppendData->Seek(0, rtl::TSeekOrigin::soEnd);
    RaiseError(code);
  }
  dsBatchAppendData.reset();
  for (auto& o : dsBatchAppendStartOffset) o = 0;
  for (auto& c : dsBatchAppendRecordCount) c = 0;
  if (Active() && State() == db::dsBrowse) Resync({});
}

// ---- whole record sets ----

void TzfDataset::CopyRecords(TzfDataset* aSrcTable, bool aCopyBLOBs, int32_t aMaxTransSize) {
  CopyRecordsEx(aSrcTable, aCopyBLOBs, aMaxTransSize, false);
}

void TzfDataset::CopyRecordsEx(TzfDataset* aSrcTable, bool aCopyBLOBs, int32_t aMaxTransSize, bool aCheckValFields) {
  CheckBiDirectional();
  if (!aSrcTable) RaiseError(zfErrInvalidParam);
  CheckBrowseMode();
  aSrcTable->CheckBrowseMode();
  if (!dsDatabase || !aSrcTable->dsDatabase || dsDatabase->Session() != aSrcTable->dsDatabase->Session())
    RaiseError(zfErrDifferentSessions);
  const TzfBlobCopyMode mode = aCopyBLOBs ? zfbcmCopyFull : zfbcmNoCopy;
  const uint32_t code =
      aCheckValFields ? aSrcTable->dsAbstractCursor->CopyRecordsEx(dsAbstractCursor, mode, aMaxTransSize, true)
                      : aSrcTable->dsAbstractCursor->CopyRecords(dsAbstractCursor, mode, aMaxTransSize);
  Check(code);
  Resync({});
  aSrcTable->Resync({});
}

void TzfDataset::DeleteRecords() {
  if (State() == db::dsInsert || State() == db::dsSetKey) Cancel();
  CheckBiDirectional();
  CheckBrowseMode();
  if (IsWriteOnly()) return;
  DoBeforeScroll();
  Check(dsAbstractCursor->DeleteRecords());
  InternalFirst();
  Resync({});
  DataEvent(db::deDataSetChange, 0);
  DoAfterScroll();
}

// ---- filters ----

void TzfDataset::SetFilterTimeout(uint32_t aValue) {
  dsFilterTimeout = aValue;
  if (dsAbstractCursor) Check(dsAbstractCursor->FilterSetTimeout(aValue));
}

void TzfDataset::SetFilterType(TzfFilterType aValue) { ChangeFilter(aValue, Filter(), FilterOptions()); }

void TzfDataset::SetFilterText(const UnicodeString& aValue) { ChangeFilter(dsFilterType, aValue, FilterOptions()); }

void TzfDataset::SetFilterOptions(db::TFilterOptions aValue) { ChangeFilter(dsFilterType, Filter(), aValue); }

void TzfDataset::ChangeFilter(TzfFilterType aType, const UnicodeString& aText, db::TFilterOptions aOptions) {
  if (aType == dsFilterType && aText == Filter() && aOptions == FilterOptions()) return;
  if (Active()) {
    CheckBrowseMode();
    DropLookupCursor();
    InstallExprFilter(aType, aText, aOptions);
  }
  dsFilterType = aType;
  db::TDataSet::SetFilterText(aText);
  db::TDataSet::SetFilterOptions(aOptions);
  if (Active() && Filtered() && dsFilterResync) First();
}

void TzfDataset::InstallExprFilter(TzfFilterType aType, const UnicodeString& aText, db::TFilterOptions aOptions) {
  std::unique_ptr<TzfBaseFilterDescriptor> descriptor;
  if (!aText.empty()) {
    switch (aType) {
      case ftSimple: {
        std::vector<uint8_t> blob;
        try {
          blob = db::ParseFilterExpression(aText, aOptions, *this);
        } catch (const EzfDatabaseError&) {
          throw;
        } catch (const db::EDatabaseError& e) {
          throw EzfDatabaseError(this, zfErrInvalidFilter, e.Message());
        }
        if (!blob.empty())
          descriptor = std::make_unique<TzfSimpleExpressionFilterDescriptor>(std::move(blob),
                                                                             zfThreadLocaleAnsiCodePage(), aText);
        break;
      }
      case ftSqlWhere: descriptor = std::make_unique<TzfSqlFilterDescriptor>(aText); break;
      default: throw EzfDatabaseError(this, zfErrNotSupported, u"FilterType not supported");
    }
  }
  if (dsExprFilter) {
    const TzfFilterID id = dsExprFilter;
    dsExprFilter = 0;
    Check(dsAbstractCursor->FilterRemove(id));
  }
  if (!descriptor) return;
  Check(dsAbstractCursor->FilterAddCustom(descriptor.get(), dsExprFilter));
  if (Filtered()) Check(dsAbstractCursor->FilterActivate(dsExprFilter));
}

void TzfDataset::SetFiltered(bool aValue) {
  if (!Active()) {
    db::TDataSet::SetFiltered(aValue);
    return;
  }
  CheckBrowseMode();
  if (aValue != Filtered()) {
    DropLookupCursor();
    if (dsFilterResync) InternalFirst();
    if (aValue)
      ActivateFilters();
    else
      DeactivateFilters();
    db::TDataSet::SetFiltered(aValue);
  }
  if (dsFilterResync) First();
}

void TzfDataset::SetOnFilterRecord(const TFilterRecordEvent& aValue) {
  const bool had = static_cast<bool>(OnFilterRecord());
  db::TDataSet::SetOnFilterRecord(aValue);
  if (!Active() || (!had && !aValue)) return;
  CheckBrowseMode();
  DropLookupCursor();
  InstallCallbackFilter();
  if (Filtered()) {
    if (dsFuncFilter) Check(dsAbstractCursor->FilterActivate(dsFuncFilter));
    if (dsFilterResync) First();
  }
}

void TzfDataset::InstallCallbackFilter() {
  if (dsFuncFilter) {
    const TzfFilterID id = dsFuncFilter;
    dsFuncFilter = 0;
    Check(dsAbstractCursor->FilterRemove(id));
  }
  if (!OnFilterRecord()) return;
  // The engine hands over its record; the handler reads it through the fields in state dsFilter,
  // with the calculated fields computed into a buffer of the dataset's own layout.
  TzfFilterCallback callback = [this](int32_t, const uint8_t* aRecord) -> bool {
    std::vector<uint8_t> buffer(static_cast<size_t>(dsRecordBufferSize), 0);
    std::memcpy(buffer.data(), aRecord, static_cast<size_t>(dsRecordLength));
    GetCalcFields(buffer.data());
    db::TRecordBuffer saved = dsRecordToFilter;
    dsRecordToFilter = buffer.data();
    struct TRestore {
      TzfDataset* D;
      db::TRecordBuffer Saved;
      ~TRestore() { D->dsRecordToFilter = Saved; }
    } restore{this, saved};
    db::TTempState temp(*this, db::dsFilter);
    bool accept = true;
    if (OnFilterRecord()) OnFilterRecord()(*this, accept);
    return accept;
  };
  Check(dsAbstractCursor->FilterAddCallback(0, callback, dsFuncFilter));
}

void TzfDataset::ActivateFilters() {
  if (dsExprFilter) Check(dsAbstractCursor->FilterActivate(dsExprFilter));
  if (dsFuncFilter) Check(dsAbstractCursor->FilterActivate(dsFuncFilter));
}

void TzfDataset::DeactivateFilters() {
  if (dsExprFilter) Check(dsAbstractCursor->FilterDeactivate(dsExprFilter));
  if (dsFuncFilter) Check(dsAbstractCursor->FilterDeactivate(dsFuncFilter));
}

// Find first, last, next or prior: with the filters active for the search (the record filter
// decides), starting from the first or last record when aRestart.
bool TzfDataset::FindRecord(bool aRestart, bool aGoForward) {
  CheckBrowseMode();
  DoBeforeScroll();
  SetFound(false);
  if (IsWriteOnly()) return false;
  UpdateCursorPos();
  CursorPosChanged();
  const bool wasFiltered = Filtered();
  if (!wasFiltered) ActivateFilters();
  bool found = false;
  try {
    if (aRestart) {
      if (aGoForward)
        InternalFirst();
      else
        InternalLast();
    }
    db::TRecordBuffer spare = Buffer(BufferedRecordCount());
    const db::TGetResult r = GetRecord(spare, aGoForward ? db::gmNext : db::gmPrior, true);
    found = r == db::grOK;
  } catch (...) {
    if (!wasFiltered) DeactivateFilters();
    throw;
  }
  if (!wasFiltered) DeactivateFilters();
  if (found) {
    Resync({db::rmExact, db::rmCenter});
    SetFound(true);
    DoAfterScroll();
  }
  return found;
}

}  // namespace zf
