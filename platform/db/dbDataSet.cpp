#include "platform/db/dbDataSet.h"

#include <algorithm>

#include "platform/db/dbDataSource.h"

namespace zf::db {

// ---- TFields -------------------------------------------------------------------------------------

TField& TFields::operator[](int32_t aIndex) const {
  if (aIndex < 0 || aIndex >= Count()) DatabaseError(kSFieldIndexError, FDataSet);
  return *FItems[static_cast<size_t>(aIndex)];
}

TField* TFields::Add(std::unique_ptr<TField> aField) {
  FDataSet->CheckInactive();
  if (FindField(aField->FieldName())) DatabaseErrorFmt(kSDuplicateFieldName, {aField->FieldName()}, FDataSet);
  aField->SetDataSet(FDataSet);
  FItems.push_back(std::move(aField));
  return FItems.back().get();
}

TField* TFields::FindField(rtl::UnicodeStringView aName) const {
  for (const auto& f : FItems)
    if (rtl::SameText(f->FieldName(), aName)) return f.get();
  return nullptr;
}

TField& TFields::FieldByName(rtl::UnicodeStringView aName) const {
  TField* f = FindField(aName);
  if (!f) DatabaseErrorFmt(kSFieldNotFound, {UnicodeString(aName)}, FDataSet);
  return *f;
}

TField* TFields::FieldByNumber(int32_t aFieldNo) const {
  for (const auto& f : FItems)
    if (f->FieldNo() == aFieldNo) return f.get();
  return nullptr;
}

// ---- construction --------------------------------------------------------------------------------

TDataSet::TDataSet(rtl::TComponent* aOwner) : rtl::TComponent(aOwner), FFields(this), FFieldDefs(this) {}

TDataSet::~TDataSet() {
  // The record buffers belong to the descendant's hooks, which are gone by now: a descendant
  // closes in its own destructor (or through Free, which closes in BeforeDestruction).
  std::vector<TDataSource*> sources = FDataSources;
  for (TDataSource* s : sources) {
    s->FDataSet = nullptr;
    s->UpdateState();
  }
}

void TDataSet::BeforeDestruction() {
  try {
    Close();
  } catch (...) {
    FState = dsInactive;
    ClearBuffers();
    FreeBuffers();
  }
  rtl::TComponent::BeforeDestruction();
}

// ---- checks --------------------------------------------------------------------------------------

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError(kSDataSetClosed, this);
}
void TDataSet::CheckInactive() const {
  if (Active()) DatabaseError(kSDataSetOpen, this);
}
void TDataSet::CheckBiDirectional() const {
  if (FUniDirectional) DatabaseError(kSDataSetUnidirectional, this);
}
void TDataSet::CheckEditing() const {
  if (FState != dsEdit && FState != dsInsert) DatabaseError(kSNotEditing, this);
}
void TDataSet::CheckCanModify() const {
  if (!CanModify()) DatabaseError(kSDataSetReadOnly, this);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode, 0);
  switch (FState) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (FModified)
        Post();
      else
        Cancel();
      break;
    case dsSetKey: Post(); break;
    default: break;
  }
}

// ---- state ---------------------------------------------------------------------------------------

void TDataSet::SetState(TDataSetState aValue) {
  if (FState == aValue) return;
  FState = aValue;
  FModified = false;
  DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState aValue) {
  TDataSetState old = FState;
  FTempModified.push_back(FModified);
  FState = aValue;
  FModified = false;
  return old;
}

void TDataSet::RestoreState(TDataSetState aValue) {
  FState = aValue;
  if (!FTempModified.empty()) {
    FModified = FTempModified.back();
    FTempModified.pop_back();
  }
}

TTempState::TTempState(TDataSet& aDataSet, TDataSetState aState) : FDataSet(aDataSet), FOld(aDataSet.SetTempState(aState)) {}
TTempState::~TTempState() { FDataSet.RestoreState(FOld); }

// ---- opening and closing -------------------------------------------------------------------------

void TDataSet::SetActive(bool aValue) {
  if (aValue == Active()) return;
  if (aValue) {
    DoBeforeOpen();
    FState = dsOpening;  // links hear of the dataset only once it is open
    try {
      OpenCursor(false);
      UpdateBufferCount();
      ClearBuffers();
      FillForward();
      FBOF = true;
      FEOF = FRecordCount == 0;
    } catch (...) {
      FState = dsInactive;
      try {
        CloseCursor();
      } catch (...) {
      }
      throw;
    }
    FState = dsInactive;
    SetState(dsBrowse);
    DoAfterOpen();
    if (!IsEmpty()) DoAfterScroll();
  } else {
    DoBeforeClose();
    SetState(dsInactive);
    CloseCursor();
    DoAfterClose();
  }
}

void TDataSet::OpenCursor(bool aInfoQuery) {
  if (aInfoQuery) {
    InternalInitFieldDefs();
  } else {
    FDefaultFields = FFields.Count() == 0;
    InternalOpen();
  }
}

void TDataSet::CloseCursor() {
  FBlockReadSize = 0;
  ClearBuffers();
  FreeBuffers();
  InternalClose();
  // The descendant's close has destroyed default fields; fields added from now on are the
  // application's own, which a later information-only open must not destroy.
  FDefaultFields = false;
}

void TDataSet::InitFieldDefs() {
  if (IsCursorOpen()) {
    InternalInitFieldDefs();
  } else {
    OpenCursor(true);
    CloseCursor();
  }
  FFieldDefs.SetUpdated(true);
}

void TDataSet::InitFieldDefsFromFields() {
  FFieldDefs.Clear();
  for (int32_t i = 0; i < FFields.Count(); ++i) {
    TField& f = FFields[i];
    if (f.FieldKind() != fkData) continue;
    TFieldDef& def = FFieldDefs.Add(f.FieldName(), f.DataType(), f.Size(), f.Required());
    if (f.ReadOnly()) def.SetAttributes(def.Attributes() + TFieldAttributes{faReadonly});
    if (auto* bcd = dynamic_cast<TBCDField*>(&f)) def.SetPrecision(bcd->Precision());
    if (auto* fmt = dynamic_cast<TFMTBCDField*>(&f)) def.SetPrecision(fmt->Precision());
  }
}

void TDataSet::CreateFields() {
  for (int32_t i = 0; i < FFieldDefs.Count(); ++i) {
    const TFieldDef& def = FFieldDefs[i];
    if (!def.Attributes().Contains(faHiddenCol)) def.CreateField(*this);
  }
}

void TDataSet::DestroyFields() { FFields.Clear(); }

namespace {
bool IsText8(TFieldType t) { return t == ftString || t == ftFixedChar || t == ftGuid; }
}  // namespace

void TDataSet::BindFields(bool aBinding) {
  FCalcFieldsSize = 0;
  FInternalCalcFields = false;
  for (int32_t i = 0; i < FFields.Count(); ++i) {
    TField& f = FFields[i];
    if (aBinding) {
      if (f.FieldKind() == fkCalculated || f.FieldKind() == fkLookup) {
        f.SetFieldNo(0);
        f.SetOffset(FCalcFieldsSize);
        FCalcFieldsSize += f.DataSize() + 1;  // a flag byte, then the value
      } else {
        int32_t d = FFieldDefs.IndexOf(f.FieldName());
        if (d < 0) DatabaseErrorFmt(kSFieldNotFound, {f.DisplayName()}, this);
        const TFieldDef& def = FFieldDefs[d];
        if (def.DataType() != f.DataType() && !(IsText8(def.DataType()) && IsText8(f.DataType())))
          DatabaseErrorFmt(kSFieldTypeMismatch,
                           {f.DisplayName(), FieldTypeName(def.DataType()), FieldTypeName(f.DataType())}, this);
        f.SetFieldNo(def.FieldNo());
        if (def.InternalCalcField() || f.FieldKind() == fkInternalCalc) FInternalCalcFields = true;
      }
    }
    f.Bind(aBinding);
  }
}

void TDataSet::GetFieldList(std::vector<TField*>& aList, rtl::UnicodeStringView aFieldNames) const {
  for (const UnicodeString& name : ExtractFieldNames(aFieldNames)) aList.push_back(&FieldByName(name));
}

Variant TDataSet::FieldValues(rtl::UnicodeStringView aFieldNames) const {
  std::vector<TField*> fields;
  GetFieldList(fields, aFieldNames);
  if (fields.size() == 1) return fields[0]->Value();
  std::vector<Variant> values;
  values.reserve(fields.size());
  for (TField* f : fields) values.push_back(f->Value());
  return rtl::VarArrayOf(std::move(values));
}

// ---- the ring ------------------------------------------------------------------------------------

void TDataSet::FreeBuffers() noexcept {
  while (!FBuffers.empty()) {
    TRecordBuffer b = FBuffers.back();
    FBuffers.pop_back();
    try {
      FreeRecordBuffer(b);
    } catch (...) {
    }
  }
}

void TDataSet::SetBufListSize(int32_t aValue) {
  size_t wanted = static_cast<size_t>(std::max(aValue, 0));
  if (wanted == 0) {
    ClearBuffers();
    FreeBuffers();
    return;
  }
  int32_t shown = static_cast<int32_t>(wanted) - 1;
  if (FRecordCount > shown) {
    // Keep the active record on show: drop records before it first.
    if (FActiveRecord >= shown) {
      int32_t drop = FActiveRecord - shown + 1;
      std::rotate(FBuffers.begin(), FBuffers.begin() + drop, FBuffers.end());
      FActiveRecord -= drop;
      FRecordCount -= drop;
    }
    FRecordCount = std::min(FRecordCount, shown);
    CursorPosChanged();
  }
  while (FBuffers.size() > wanted) {
    TRecordBuffer b = FBuffers.back();
    FBuffers.pop_back();
    FreeRecordBuffer(b);
  }
  while (FBuffers.size() < wanted) FBuffers.push_back(AllocRecordBuffer());
}

void TDataSet::UpdateBufferCount() {
  int32_t n = 1;
  for (TDataSource* s : FDataSources)
    for (TDataLink* l : s->FLinks) n = std::max(n, l->BufferCount());
  if (n == FBufferCount && FBuffers.size() == static_cast<size_t>(n) + 1) return;
  if (FState != dsInactive && FState != dsOpening) UpdateCursorPos();
  FBufferCount = n;
  SetBufListSize(n + 1);
  if (FState == dsBrowse && FRecordCount > 0) Resync({});
}

void TDataSet::ClearBuffers() {
  FRecordCount = 0;
  FActiveRecord = 0;
  FCurrentRecord = -1;
  FBOF = true;
  FEOF = true;
}

void TDataSet::ActivateBuffers() {
  FRecordCount = 1;
  FActiveRecord = 0;
  FCurrentRecord = 0;
  FBOF = false;
  FEOF = false;
}

TRecordBuffer TDataSet::ActiveBuffer() const {
  switch (FState) {
    case dsBrowse:
    case dsEdit:
    case dsInsert:
    case dsBlockRead:
      return FRecordCount > 0 ? FBuffers[static_cast<size_t>(FActiveRecord)] : nullptr;
    case dsCalcFields:
    case dsInternalCalc:
      return FCalcBuffer;
    default:
      return nullptr;
  }
}

TGetResult TDataSet::Fetch(TRecordBuffer aBuffer, TGetMode aMode) {
  TGetResult r = GetRecord(aBuffer, aMode, true);
  if (r == grError) DatabaseError(kSRecordFetchFailed, this);
  return r;
}

void TDataSet::SetCurrentRecord(int32_t aIndex) {
  if (FCurrentRecord == aIndex) return;
  if (!FUniDirectional) {
    TRecordBuffer b = FBuffers[static_cast<size_t>(aIndex)];
    switch (GetBookmarkFlag(b)) {
      case bfCurrent:
      case bfInserted: InternalSetToRecord(b); break;
      case bfBOF: InternalFirst(); break;
      case bfEOF: InternalLast(); break;
    }
  }
  FCurrentRecord = aIndex;
}

void TDataSet::UpdateCursorPos() {
  if (FRecordCount > 0) SetCurrentRecord(FActiveRecord);
}

bool TDataSet::GetNextRecord() {
  if (FRecordCount > 0) SetCurrentRecord(FRecordCount - 1);
  if (Fetch(FBuffers[static_cast<size_t>(FRecordCount)], gmNext) != grOK) {
    CursorPosChanged();
    return false;
  }
  if (FRecordCount < FBufferCount) {
    ++FRecordCount;
  } else {
    // The ring is full: the first record leaves and its buffer becomes the spare.
    std::rotate(FBuffers.begin(), FBuffers.begin() + 1, FBuffers.begin() + FRecordCount + 1);
    if (FActiveRecord > 0) --FActiveRecord;
  }
  FCurrentRecord = FRecordCount - 1;
  return true;
}

bool TDataSet::GetPriorRecord() {
  if (FRecordCount > 0) SetCurrentRecord(0);
  if (Fetch(FBuffers[static_cast<size_t>(FRecordCount)], gmPrior) != grOK) {
    CursorPosChanged();
    return false;
  }
  // The spare moves to the front; a full ring's last record becomes the spare.
  std::rotate(FBuffers.begin(), FBuffers.begin() + FRecordCount, FBuffers.begin() + FRecordCount + 1);
  if (FRecordCount < FBufferCount) ++FRecordCount;
  FActiveRecord = std::min(FActiveRecord + 1, FRecordCount - 1);
  FCurrentRecord = 0;
  return true;
}

void TDataSet::FillForward() {
  while (FRecordCount < FBufferCount && GetNextRecord()) {
  }
}

void TDataSet::FillBackward() {
  while (FRecordCount < FBufferCount && GetPriorRecord()) {
  }
}

void TDataSet::InitRecord(TRecordBuffer aBuffer) {
  InternalInitRecord(aBuffer);
  ClearCalcFields(aBuffer);
  SetBookmarkFlag(aBuffer, bfInserted);
}

void TDataSet::GetCalcFields(TRecordBuffer aBuffer) {
  if (FCalcFieldsSize == 0 && !FInternalCalcFields) return;
  TTempState temp(*this, dsCalcFields);
  TRecordBuffer saved = FCalcBuffer;
  FCalcBuffer = aBuffer;
  struct Restore {
    TDataSet* d;
    TRecordBuffer b;
    ~Restore() { d->FCalcBuffer = b; }
  } restore{this, saved};
  if (FCalcFieldsSize > 0) ClearCalcFields(aBuffer);
  if (FInternalCalcFields) RefreshInternalCalcFields(aBuffer);
  CalculateFields(aBuffer);
}

void TDataSet::CalculateFields(TRecordBuffer) { DoOnCalcFields(); }

// ---- navigation ----------------------------------------------------------------------------------

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  InternalFirst();
  FillForward();
  FBOF = true;
  FEOF = FRecordCount == 0;
  FActiveRecord = 0;
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBiDirectional();
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  InternalLast();
  FillBackward();
  FEOF = true;
  FBOF = FRecordCount == 0;
  FActiveRecord = std::max(FRecordCount - 1, 0);
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

int32_t TDataSet::MoveBy(int32_t aDistance) {
  CheckBrowseMode();
  if (aDistance < 0) CheckBiDirectional();
  if (aDistance == 0 || FRecordCount == 0) return 0;
  DoBeforeScroll();
  int32_t moved = 0;
  if (aDistance > 0) {
    FBOF = false;
    while (moved < aDistance) {
      if (FActiveRecord < FRecordCount - 1)
        ++FActiveRecord;
      else if (GetNextRecord())
        FActiveRecord = FRecordCount - 1;
      else {
        FEOF = true;
        break;
      }
      ++moved;
    }
  } else {
    FEOF = false;
    while (moved > aDistance) {
      if (FActiveRecord > 0)
        --FActiveRecord;
      else if (GetPriorRecord())
        FActiveRecord = 0;
      else {
        FBOF = true;
        break;
      }
      --moved;
    }
  }
  if (moved != 0) DataEvent(deDataSetScroll, moved);
  DoAfterScroll();
  return moved;
}

void TDataSet::Resync(TResyncMode aMode) {
  CheckActive();
  if (FBuffers.empty()) return;
  int32_t oldActive = FActiveRecord;
  // The cursor's record is read into the spare: a failure leaves the records on show as they are.
  TRecordBuffer spare = FBuffers[static_cast<size_t>(FRecordCount)];
  CursorPosChanged();
  if (aMode.Contains(rmExact)) {
    if (GetRecord(spare, gmCurrent, true) != grOK) DatabaseError(kSRecordNotFound, this);
  } else {
    // The current record may be gone: its neighbours are read instead, with the check on.
    bool ok = GetRecord(spare, gmCurrent, false) == grOK;
    if (!ok && !FUniDirectional) ok = Fetch(spare, gmNext) == grOK;
    if (!ok && !FUniDirectional) ok = Fetch(spare, gmPrior) == grOK;
    if (!ok) {
      ClearBuffers();
      DataEvent(deDataSetChange, 0);
      return;
    }
  }
  std::swap(FBuffers[0], FBuffers[static_cast<size_t>(FRecordCount)]);
  ActivateBuffers();
  if (!FUniDirectional) {
    int32_t before = aMode.Contains(rmCenter) ? (FBufferCount - 1) / 2 : std::min(oldActive, FBufferCount - 1);
    while (FActiveRecord < before && GetPriorRecord()) {
    }
    FillForward();
    FillBackward();
  }
  DataEvent(deDataSetChange, 0);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  DoBeforeRefresh();
  UpdateCursorPos();
  InternalRefresh();
  Resync({});
  DoAfterRefresh();
}

TBookmark TDataSet::GetBookmark() {
  if (!Active() || FRecordCount == 0 || FState == dsInsert) return {};
  TRecordBuffer b = FBuffers[static_cast<size_t>(FActiveRecord)];
  if (GetBookmarkFlag(b) != bfCurrent) return {};
  TBookmark bm(static_cast<size_t>(FBookmarkSize));
  GetBookmarkData(b, bm.data());
  return bm;
}

void TDataSet::GotoBookmark(const TBookmark& aBookmark) {
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(aBookmark.empty() ? nullptr : aBookmark.data());
  Resync({rmExact, rmCenter});
  DoAfterScroll();
}

// ---- editing -------------------------------------------------------------------------------------

void TDataSet::RunGuarded(void (TDataSet::*aOperation)(), const TDataSetErrorEvent& aHandler) {
  for (;;) {
    try {
      (this->*aOperation)();
      return;
    } catch (EDatabaseError& e) {
      if (!aHandler) throw;
      TDataAction action = daFail;
      aHandler(*this, e, action);
      if (action == daFail) throw;
      if (action == daAbort) rtl::Abort();
    }
  }
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeInsert();
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    SetState(dsBrowse);
    try {
      Resync({});
    } catch (...) {
    }
    throw;
  }
  FModified = false;
  DataEvent(deDataSetChange, 0);
  DoAfterInsert();
  DoAfterScroll();
}

void TDataSet::Insert() {
  BeginInsertAppend();
  TBookmark at = GetBookmark();
  // The spare becomes the new record in front of the active one; a full ring's last record
  // becomes the spare.
  std::rotate(FBuffers.begin() + FActiveRecord, FBuffers.begin() + FRecordCount, FBuffers.begin() + FRecordCount + 1);
  if (FRecordCount < FBufferCount) ++FRecordCount;
  CursorPosChanged();
  TRecordBuffer b = FBuffers[static_cast<size_t>(FActiveRecord)];
  InitRecord(b);
  if (!at.empty())
    SetBookmarkData(b, at.data());  // where the cursor goes for the new record
  else
    SetBookmarkFlag(b, bfBOF);
  FBOF = FEOF = false;
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  TRecordBuffer b = FBuffers[0];
  InitRecord(b);
  SetBookmarkFlag(b, bfEOF);
  FRecordCount = 1;
  try {
    FillBackward();  // the last records stay on show above the new one
  } catch (...) {
    ClearBuffers();
    throw;
  }
  FActiveRecord = FRecordCount - 1;
  FBOF = FEOF = false;
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Edit() {
  if (FState == dsEdit || FState == dsInsert) return;
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeEdit();
  UpdateCursorPos();
  RunGuarded(&TDataSet::InternalEdit, OnEditError);
  if (FRecordCount == 0) DatabaseError(kSDataSetEmpty, this);
  GetCalcFields(FBuffers[static_cast<size_t>(FActiveRecord)]);
  SetState(dsEdit);
  DataEvent(deRecordChange, 0);
  DoAfterEdit();
}

void TDataSet::UpdateRecord() {
  if (FState != dsEdit && FState != dsInsert && FState != dsSetKey) DatabaseError(kSNotEditing, this);
  DataEvent(deUpdateRecord, 0);
}

void TDataSet::InternalPost() {
  for (int32_t i = 0; i < FFields.Count(); ++i) {
    TField& f = FFields[i];
    if (f.Required() && !f.ReadOnly() && f.FieldKind() == fkData && f.IsNull())
      DatabaseErrorFmt(kSFieldRequired, {f.DisplayName()}, this);
  }
}

void TDataSet::Post() {
  UpdateRecord();
  if (FState != dsEdit && FState != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  DoBeforePost();
  RunGuarded(&TDataSet::InternalPost, OnPostError);
  SetState(dsBrowse);
  Resync({});
  DoAfterPost();
}

void TDataSet::Cancel() {
  if (FState != dsEdit && FState != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  DoBeforeCancel();
  UpdateCursorPos();
  InternalCancel();
  SetState(dsBrowse);
  Resync({});
  DoAfterCancel();
}

void TDataSet::Delete() {
  CheckActive();
  if (FState == dsInsert || FState == dsSetKey) {
    Cancel();
    return;
  }
  CheckCanModify();
  if (FRecordCount == 0) DatabaseError(kSDataSetEmpty, this);
  DataEvent(deCheckBrowseMode, 0);
  DoBeforeDelete();
  DoBeforeScroll();
  UpdateCursorPos();
  RunGuarded(&TDataSet::InternalDelete, OnDeleteError);
  SetState(dsBrowse);
  Resync({});
  DoAfterDelete();
  DoAfterScroll();
}

// ---- fields, BLOBs, events -----------------------------------------------------------------------

std::unique_ptr<rtl::TStream> TDataSet::CreateBlobStream(TField* aField, TBlobStreamMode) {
  DatabaseErrorFmt(kSFieldAccessError, {aField ? aField->DisplayName() : UnicodeString(), u"Blob"}, this);
}

void TDataSet::DataEvent(TDataEvent aEvent, intptr_t aInfo) {
  switch (aEvent) {
    case deFieldChange: {
      auto* field = reinterpret_cast<TField*>(aInfo);
      if (field && (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc)) FModified = true;
      if (FState != dsSetKey && FAutoCalcFields && FCalcFieldsSize > 0)
        if (TRecordBuffer b = ActiveBuffer()) GetCalcFields(b);
      break;
    }
    case dePropertyChange: FFieldDefs.SetUpdated(false); break;
    default: break;
  }
  // Temporary states are not shown to the links.
  if (!FTempModified.empty()) return;
  if (FDisableCount > 0) {
    if (aEvent == deUpdateState)
      FDisabledStateChanged = true;
    else if (aEvent == deFieldChange || aEvent == deRecordChange || aEvent == deDataSetChange ||
             aEvent == deDataSetScroll || aEvent == deLayoutChange)
      FDisabledDataChanged = true;
    return;
  }
  std::vector<TDataSource*> sources = FDataSources;
  for (TDataSource* s : sources)
    if (std::find(FDataSources.begin(), FDataSources.end(), s) != FDataSources.end()) s->DataEvent(aEvent, aInfo);
}

void TDataSet::DisableControls() { ++FDisableCount; }

void TDataSet::EnableControls() {
  if (FDisableCount == 0 || --FDisableCount > 0) return;
  bool state = FDisabledStateChanged;
  bool data = FDisabledDataChanged;
  FDisabledStateChanged = FDisabledDataChanged = false;
  if (state) DataEvent(deUpdateState, 0);
  if (data) DataEvent(deDataSetChange, 0);
}

bool TDataSet::IsLinkedTo(const TDataSource* aDataSource) const {
  std::vector<const TDataSet*> seen;
  for (const TDataSet* d = this; d && std::find(seen.begin(), seen.end(), d) == seen.end();) {
    seen.push_back(d);
    TDataSource* s = d->GetDataSource();
    if (!s) return false;
    if (s == aDataSource) return true;
    d = s->DataSet();
  }
  return false;
}

void TDataSet::SetBlockReadSize(int32_t aValue) {
  if (aValue > 0 && FState == dsBrowse) CheckBrowseMode();
  FBlockReadSize = aValue;
  if (!Active()) return;
  if (aValue > 0) {
    if (FState == dsBrowse) SetState(dsBlockRead);
  } else if (FState == dsBlockRead) {
    SetState(dsBrowse);
  }
}

}  // namespace zf::db
