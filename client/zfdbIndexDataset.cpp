#include "client/zfdbIndexDataset.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "dictionary/zfsdDataDictionaryFulltext.h"
#include "dictionary/zfsdDefaultValueEngine.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "dictionary/zfsdTableDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllMemoryManager.h"
#include "platform/rtl/rtlText.h"

namespace zf {

namespace {

bool IsTextEngineType(TzfFieldType aType) {
  return aType == zftChar || aType == zftWideChar || aType == zftShortString || aType == zftNullString ||
         aType == zftWideString;
}

// A sorted, case-insensitive set of the names of a field list.
std::vector<UnicodeString> NameSet(rtl::UnicodeStringView aFields) {
  std::vector<UnicodeString> names;
  for (const UnicodeString& n : db::ExtractFieldNames(aFields))
    if (!n.empty()) names.push_back(rtl::UpperCase(n));
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

bool InSet(const std::vector<UnicodeString>& aSet, const UnicodeString& aName) {
  return std::binary_search(aSet.begin(), aSet.end(), rtl::UpperCase(aName));
}

}  // namespace

TzfIndexDataSet::TzfIndexDataSet(rtl::TComponent* aOwner)
    : TzfDataset(aOwner), idIndexDefs(this), idMasterLink(std::make_unique<db::TMasterDataLink>(this)) {
  idMasterLink->OnMasterChange = [this] { MasterChanged(); };
  idMasterLink->OnMasterDisable = [this] { MasterDisabled(); };
}

TzfIndexDataSet::~TzfIndexDataSet() {
  // Close while the derived object stands, so the key buffers and the lookup cursor go with it.
  try {
    Close();
  } catch (...) {
  }
  FreeKeyBuffers();
  DropLookupCursor();
  idMasterLink->SetDataSource(nullptr);
}

// ---- master/detail ----

void TzfIndexDataSet::SetMasterSource(db::TDataSource* aValue) {
  // Circular when the source's dataset, or a master up its chain, is this dataset.
  std::vector<const db::TDataSet*> seen;
  for (db::TDataSource* s = aValue; s && s->DataSet();) {
    const db::TDataSet* d = s->DataSet();
    if (d == this)
      throw EzfDatabaseError(TzfErrorSource(this), u"Circular data link with data source [%s]", {aValue->Name()});
    if (std::find(seen.begin(), seen.end(), d) != seen.end()) break;
    seen.push_back(d);
    s = d->GetDataSource();
  }
  idMasterLink->SetDataSource(aValue);
}

void TzfIndexDataSet::SetLinkRange(const std::vector<db::TField*>& aMasterFields) {
  PzfKeyBuffer saved = idKeyBuffer;
  struct TRestore {
    PzfKeyBuffer& B;
    PzfKeyBuffer Saved;
    ~TRestore() { B = Saved; }
  } restore{idKeyBuffer, saved};
  db::TTempState temp(*this, db::dsSetKey);
  idKeyBuffer = InitKeyBuffer(idKeyBuffers[kbiRangeStart]);
  auto& h = *reinterpret_cast<TzfKeyBufferHeader*>(idKeyBuffer);
  h.kbModified = 1;
  for (size_t i = 0; i < aMasterFields.size(); ++i) IndexFieldAt(static_cast<int32_t>(i))->Assign(aMasterFields[i]);
  h.kbFieldCount = static_cast<int32_t>(aMasterFields.size());
  std::memcpy(idKeyBuffers[kbiRangeEnd], idKeyBuffers[kbiRangeStart], static_cast<size_t>(idKeyBufferSize));
}

void TzfIndexDataSet::MasterChanged() {
  CheckBrowseMode();
  SetLinkRange(idMasterLink->Fields());
  ApplyRange();
}

void TzfIndexDataSet::MasterDisabled() { CancelRange(); }

void TzfIndexDataSet::LinkToMaster() {
  if (!idMasterLink->Active() || idMasterLink->Fields().empty()) return;
  SetLinkRange(idMasterLink->Fields());
  ApplyRangeToCursor();
}

void TzfIndexDataSet::DoOnNewRecord() {
  if (idMasterLink->Active() && !idMasterLink->Fields().empty()) {
    const std::vector<db::TField*>& master = idMasterLink->Fields();
    for (size_t i = 0; i < master.size(); ++i) IndexFieldAt(static_cast<int32_t>(i))->Assign(master[i]);
  }
  TzfDataset::DoOnNewRecord();
}

// ---- index selection ----

UnicodeString TzfIndexDataSet::IndexName() const {
  return (idFieldsIndex || idDefaultIndex) ? UnicodeString() : idIndexName;
}

UnicodeString TzfIndexDataSet::IndexFieldNames() const {
  return (idFieldsIndex && !idDefaultIndex) ? idIndexFieldNames : UnicodeString();
}

void TzfIndexDataSet::GetIndexNames(rtl::TStrings& aList) {
  idIndexDefs.Update();
  aList.Clear();
  for (int32_t i = 0; i < idIndexDefs.Count(); ++i) aList.Add(idIndexDefs[i].Name());
}

void TzfIndexDataSet::SetIndex(const UnicodeString& aName, bool aFieldsIndex) {
  if (aFieldsIndex == idFieldsIndex && aName == (aFieldsIndex ? idIndexFieldNames : idIndexName) &&
      !(aName.empty() && !idDefaultIndex))
    return;
  const bool byDefault = aName.empty();
  if (Active()) {
    CheckBrowseMode();
    ActivateIndex(ResolveIndexName(aName, aFieldsIndex));
    idDefaultIndex = byDefault;
    LinkToMaster();
  } else {
    idDefaultIndex = byDefault;
    idIndexName = aFieldsIndex ? UnicodeString() : aName;
  }
  idFieldsIndex = aFieldsIndex;
  idIndexFieldNames = aFieldsIndex ? aName : UnicodeString();
  if (Active()) Resync({});
}

UnicodeString TzfIndexDataSet::ResolveIndexName(const UnicodeString& aName, bool aFieldsIndex) {
  idIndexDefs.Update();
  if (aName.empty()) {
    if (!dsAbstractCursor) return {};
    TzfBaseTableDescriptor* td = dsAbstractCursor->acGetTableDescriptor();
    TzfMainIndicesDescriptor* ix = td ? td->tdIndicesDescriptor.get() : nullptr;
    if (!ix || ix->midDefaultIndex < 0 || ix->midDefaultIndex >= ix->IndexCount()) return {};
    return ix->IndexDescriptor[static_cast<size_t>(ix->midDefaultIndex)]->idName;
  }
  if (aFieldsIndex) return idIndexDefs.FindIndexForFields(aName).Name();
  if (idIndexDefs.IndexOf(aName) < 0) RaiseError(zfErrNoSuchIndex);
  return aName;
}

void TzfIndexDataSet::ActivateIndex(const UnicodeString& aIndexName) {
  ResetRange();
  UpdateCursorPos();
  FreeKeyBuffers();
  const int32_t bufferCount = BufferCount();
  // The key buffers come back whatever happens; a failure to get them is raised unless an
  // earlier failure is already on its way.
  struct TRealloc {
    TzfIndexDataSet* D;
    ~TRealloc() noexcept(false) {
      if (std::uncaught_exceptions() == 0) {
        D->AllocKeyBuffers();
        return;
      }
      try {
        D->AllocKeyBuffers();
      } catch (...) {
      }
    }
  } realloc{this};
  uint32_t code = dsAbstractCursor->SwitchToIndex(aIndexName, -1, true);
  if (code == zfErrBOF || code == zfErrEOF || code == zfErrKeyOrRecDeleted || code == zfErrNoCurrRec)
    code = dsAbstractCursor->SwitchToIndex(aIndexName, -1, false);
  Check(code);
  idIndexName = aIndexName;
  SetBufListSize(0);
  SetupIndex();
  ComputeBufferLayout();
  try {
    SetBufListSize(std::max(bufferCount, 1) + 1);
  } catch (...) {
    SetState(db::dsInactive);
    CloseCursor();
    throw;
  }
}

void TzfIndexDataSet::SetupIndex() {
  idIndexFieldMap.clear();
  idIndexFieldMapNC.clear();
  idIndexDirectKey = false;
  idIndexTokenKey = false;
  idIndexKeySize = 0;
  TzfDataset::SetupIndex();
  TzfBaseTableDescriptor* td = dsAbstractCursor->acGetTableDescriptor();
  TzfMainIndicesDescriptor* ix = td ? td->tdIndicesDescriptor.get() : nullptr;
  if (!ix) return;
  const int32_t k = ix->GetIndexFromName(idIndexName);
  if (k < 0) return;
  TzfIndexDescriptor& index = *ix->IndexDescriptor[static_cast<size_t>(k)];
  SetBookmarkSize(td->GetBookmarkSize(k));
  idIndexKeySize = index.idKeyDescriptor->GetKeyLength();
  if (dynamic_cast<TzfRefKeyDescriptor*>(index.idKeyDescriptor.get())) {
    idIndexDirectKey = true;
  } else if (dynamic_cast<TzfMainIndexTokenKeyDescriptor*>(index.idKeyDescriptor.get())) {
    idIndexDirectKey = true;
    idIndexTokenKey = true;
  } else if (auto* comp = dynamic_cast<TzfCompKeyDescriptor*>(index.idKeyDescriptor.get())) {
    for (int32_t i = 0; i < comp->GetKeyFieldCount(); ++i) {
      TzfKeyFieldDescriptor* kf = comp->GetKeyField(i);
      idIndexFieldMap.push_back(kf->kfdFieldNumber + 1);
      auto* text = dynamic_cast<TzfTextKeyFieldDescriptor*>(kf);
      idIndexFieldMapNC.push_back(text && text->tkfIgnoreCase);
    }
  }
}

void TzfIndexDataSet::UpdateIndexDefs() {
  if (idIndexDefs.Updated()) return;
  struct TDone {
    db::TIndexDefs& Defs;
    ~TDone() {
      Defs.EndUpdate();
      Defs.SetUpdated(true);
    }
  } done{idIndexDefs};
  idIndexDefs.BeginUpdate();
  if (!dsAbstractCursor) {
    // Closed: the cursor is opened for information only, which fills the definitions.
    OpenCursor(true);
    struct TClose {
      TzfIndexDataSet* D;
      ~TClose() {
        try {
          D->CloseCursor();
        } catch (...) {
        }
      }
    } close{this};
    return;
  }
  idIndexDefs.Clear();
  TzfBaseTableDescriptor* td = dsAbstractCursor->acGetTableDescriptor();
  TzfMainIndicesDescriptor* ix = td ? td->tdIndicesDescriptor.get() : nullptr;
  if (!ix) return;
  TzfFieldsDescriptor& fields = dsAbstractCursor->acFields();
  for (int32_t i = 0; i < ix->IndexCount(); ++i) {
    TzfIndexDescriptor& index = *ix->IndexDescriptor[static_cast<size_t>(i)];
    UnicodeString names, caseIns, desc;
    if (auto* comp = dynamic_cast<TzfCompKeyDescriptor*>(index.idKeyDescriptor.get())) {
      for (int32_t f = 0; f < comp->GetKeyFieldCount(); ++f) {
        TzfKeyFieldDescriptor* kf = comp->GetKeyField(f);
        const UnicodeString name =
            (kf->kfdFieldNumber >= 0 && kf->kfdFieldNumber < fields.GetFieldCount()) ? fields.Field(kf->kfdFieldNumber)->fdName
                                                                                    : UnicodeString();
        names += name + u";";
        auto* text = dynamic_cast<TzfTextKeyFieldDescriptor*>(kf);
        if (text && text->tkfIgnoreCase) caseIns += name + u";";
        if (!kf->kfdAscend) desc += name + u";";
      }
      for (UnicodeString* s : {&names, &caseIns, &desc})
        if (!s->empty()) s->pop_back();
    }
    db::TIndexOptions options;
    if (index.idDups != idAll) options.Include(db::ixUnique);
    if (i == ix->midDefaultIndex) options.Include(db::ixPrimary);
    if (caseIns == names) options.Include(db::ixCaseInsensitive);
    if (desc == names) options.Include(db::ixDescending);
    db::TIndexDef& def = idIndexDefs.Add(index.idName, names, options);
    def.SetCaseInsFields(caseIns);
    def.SetDescFields(desc);
  }
}

void TzfIndexDataSet::DataEvent(db::TDataEvent aEvent, intptr_t aInfo) {
  if (aEvent == db::dePropertyChange) idIndexDefs.SetUpdated(false);
  TzfDataset::DataEvent(aEvent, aInfo);
}

void TzfIndexDataSet::InternalOpen() {
  TzfDataset::InternalOpen();
  AllocKeyBuffers();
  if (idMasterLink->Active() && !idMasterLink->Fields().empty()) {
    LinkToMaster();
    InternalFirst();
  }
}

void TzfIndexDataSet::InternalClose() {
  FreeKeyBuffers();
  DropLookupCursor();
  TzfDataset::InternalClose();
  idIndexDefs.SetUpdated(false);
}

void TzfIndexDataSet::AddIndexDefsToDictionary(const db::TIndexDefs& aIndexDefs,
                                               TzfMainIndicesDescriptor& aIndicesDescriptor) {
  for (int32_t i = 0; i < aIndexDefs.Count(); ++i) {
    const db::TIndexDef& def = aIndexDefs[i];
    if (rtl::SameText(def.Name(), zfSequentialAccessIndexName) || def.Fields().empty()) continue;
    AddIndexDefToDictionary(def, aIndicesDescriptor);
  }
}

void TzfIndexDataSet::AddIndexDefToDictionary(const db::TIndexDef& aDef, TzfMainIndicesDescriptor& aIndicesDescriptor) {
  auto* fields = aIndicesDescriptor.GetRelated<TzfFieldsDescriptor>();
  if (!fields) throw EzfDatabaseError(zfErrInvalidFieldName);
  std::vector<int32_t> numbers;
  for (const UnicodeString& name : db::ExtractFieldNames(aDef.Fields())) {
    const int32_t n = fields->GetFieldFromName(name);
    if (n < 0) throw EzfDatabaseError(zfErrInvalidFieldName);
    numbers.push_back(n);
  }
  const std::vector<UnicodeString> caseIns = NameSet(aDef.CaseInsFields());
  const std::vector<UnicodeString> desc = NameSet(aDef.DescFields());
  TzfIndexDescriptor* index =
      aIndicesDescriptor.AddIndex(aDef.Name(), 0, !aDef.Options().Contains(db::ixUnique), UnicodeString(),
                                  &TzfCompKeyDescriptor::ClassInfo());
  auto& key = dynamic_cast<TzfCompKeyDescriptor&>(*index->idKeyDescriptor);
  for (int32_t n : numbers) {
    TzfFieldDescriptor& fd = *fields->Field(n);
    TzfKeyFieldDescriptor* kf;
    if (IsTextEngineType(fd.fdType)) {
      kf = key.Add(n, &TzfExtTextKeyFieldDescriptor::ClassInfo());
      static_cast<TzfTextKeyFieldDescriptor*>(kf)->SetIgnoreCase(aDef.Options().Contains(db::ixCaseInsensitive) ||
                                                                InSet(caseIns, fd.fdName));
    } else {
      kf = key.Add(n);
    }
    kf->SetAscend(!aDef.Options().Contains(db::ixDescending) && !InSet(desc, fd.fdName));
  }
  if (aDef.Options().Contains(db::ixPrimary)) aIndicesDescriptor.SetDefaultIndex(index->idNumber);
}

// ---- key buffers ----

TzfKeyBufferHeader& TzfIndexDataSet::Header(TzfKeyBufferIndex aIndex) const {
  if (!idKeyBuffers[aIndex]) db::DatabaseError(db::kSDataSetClosed, this);
  return *reinterpret_cast<TzfKeyBufferHeader*>(idKeyBuffers[aIndex]);
}

TzfKeyBufferHeader TzfIndexDataSet::KeyBufferHeader(TzfKeyBufferIndex aIndex) const { return Header(aIndex); }

TzfKeyBufferHeader& TzfIndexDataSet::EditedHeader() const {
  CheckSetKeyMode();
  return *reinterpret_cast<TzfKeyBufferHeader*>(idKeyBuffer);
}

void TzfIndexDataSet::AllocKeyBuffers() {
  idKeyBufferSize = static_cast<int32_t>(sizeof(TzfKeyBufferHeader)) + (idIndexDirectKey ? idIndexKeySize : RecordLength());
  try {
    for (PzfKeyBuffer& b : idKeyBuffers) b = InitKeyBuffer(static_cast<PzfKeyBuffer>(zfGetMem(static_cast<size_t>(idKeyBufferSize))));
  } catch (...) {
    FreeKeyBuffers();
    throw;
  }
}

void TzfIndexDataSet::FreeKeyBuffers() {
  for (PzfKeyBuffer& b : idKeyBuffers) zfFreeMemAndNil(b);
  idKeyBuffer = nullptr;
}

PzfKeyBuffer TzfIndexDataSet::InitKeyBuffer(PzfKeyBuffer aBuffer) {
  if (!aBuffer) return aBuffer;
  std::memset(aBuffer, 0, sizeof(TzfKeyBufferHeader));
  uint8_t* key = aBuffer + sizeof(TzfKeyBufferHeader);
  if (idIndexDirectKey) {
    std::memset(key, 0, static_cast<size_t>(idIndexKeySize));
  } else {
    dsAbstractCursor->acFields().InitRecord(key);
    if (dsDefaultValueHandler) dsDefaultValueHandler->SetDefaultValuesInsert(key);
  }
  return aBuffer;
}

std::vector<uint8_t> TzfIndexDataSet::KeyBufferCopy(TzfKeyBufferIndex aIndex) const {
  if (!idKeyBuffers[aIndex]) return {};
  return std::vector<uint8_t>(idKeyBuffers[aIndex], idKeyBuffers[aIndex] + idKeyBufferSize);
}

void TzfIndexDataSet::KeyBufferRestore(TzfKeyBufferIndex aIndex, const std::vector<uint8_t>& aCopy) {
  if (!idKeyBuffers[aIndex] || aCopy.size() != static_cast<size_t>(idKeyBufferSize)) return;
  std::memcpy(idKeyBuffers[aIndex], aCopy.data(), aCopy.size());
}

bool TzfIndexDataSet::GetKeyEditBuffer(db::TRecordBuffer& aBuffer) const {
  if (idIndexDirectKey || !idKeyBuffer) return false;
  aBuffer = idKeyBuffer + sizeof(TzfKeyBufferHeader);
  return true;
}

void TzfIndexDataSet::CheckSetKeyMode() const {
  if (State() != db::dsSetKey) db::DatabaseError(db::kSNotEditing, this);
}

void TzfIndexDataSet::BeginKeyEdit(TzfKeyBufferIndex aIndex, bool aClear) {
  CheckBrowseMode();
  idKeyBuffer = idKeyBuffers[aIndex];
  std::memcpy(idKeyBuffers[kbiSave], idKeyBuffer, static_cast<size_t>(idKeyBufferSize));
  if (aClear) InitKeyBuffer(idKeyBuffer);
  SetState(db::dsSetKey);
  SetModified(Header(aIndex).kbModified != 0);
  DataEvent(db::deDataSetChange, 0);
}

void TzfIndexDataSet::EndKeyEdit(bool aCommit) {
  DataEvent(db::deCheckBrowseMode, 0);
  auto& h = *reinterpret_cast<TzfKeyBufferHeader*>(idKeyBuffer);
  if (aCommit)
    h.kbModified = Modified() ? 1 : 0;
  else
    std::memcpy(idKeyBuffer, idKeyBuffers[kbiSave], static_cast<size_t>(idKeyBufferSize));
  SetState(db::dsBrowse);
  idKeyBuffer = nullptr;
  DataEvent(db::deDataSetChange, 0);
}

void TzfIndexDataSet::SetKey() { BeginKeyEdit(kbiKey, true); }
void TzfIndexDataSet::EditKey() { BeginKeyEdit(kbiKey, false); }
void TzfIndexDataSet::SetRangeStart() { BeginKeyEdit(kbiRangeStart, true); }
void TzfIndexDataSet::SetRangeEnd() { BeginKeyEdit(kbiRangeEnd, true); }
void TzfIndexDataSet::EditRangeStart() { BeginKeyEdit(kbiRangeStart, false); }
void TzfIndexDataSet::EditRangeEnd() { BeginKeyEdit(kbiRangeEnd, false); }

void TzfIndexDataSet::Post() {
  TzfDataset::Post();
  if (State() == db::dsSetKey) EndKeyEdit(true);
}

void TzfIndexDataSet::Cancel() {
  TzfDataset::Cancel();
  if (State() == db::dsSetKey) EndKeyEdit(false);
}

bool TzfIndexDataSet::KeyExclusive() const { return EditedHeader().kbExclusive != 0; }
void TzfIndexDataSet::SetKeyExclusive(bool aValue) { EditedHeader().kbExclusive = aValue ? 1 : 0; }
int32_t TzfIndexDataSet::KeyFieldCount() const { return EditedHeader().kbFieldCount; }
void TzfIndexDataSet::SetKeyFieldCount(int32_t aValue) { EditedHeader().kbFieldCount = aValue; }
int32_t TzfIndexDataSet::KeyPartialLen() const { return EditedHeader().kbPartialLen; }
void TzfIndexDataSet::SetKeyPartialLen(int32_t aValue) { EditedHeader().kbPartialLen = aValue; }

bool TzfIndexDataSet::GetIsIndexField(const db::TField& aField) const {
  return std::find(idIndexFieldMap.begin(), idIndexFieldMap.end(), aField.FieldNo()) != idIndexFieldMap.end();
}

void TzfIndexDataSet::SetFieldData(db::TField* aField, const void* aBuffer) {
  if (State() == db::dsSetKey &&
      (aField->FieldNo() < 0 || (!idIndexFieldMap.empty() && !GetIsIndexField(*aField))))
    db::DatabaseErrorFmt(db::kSNotIndexField, {aField->DisplayName()}, this);
  TzfDataset::SetFieldData(aField, aBuffer);
}

db::TField* TzfIndexDataSet::IndexFieldAt(int32_t aIndex) {
  if (aIndex < 0 || static_cast<size_t>(aIndex) >= idIndexFieldMap.size()) db::DatabaseError(db::kSFieldIndexError, this);
  const int32_t no = idIndexFieldMap[static_cast<size_t>(aIndex)];
  if (db::TField* f = Fields().FieldByNumber(no)) return f;
  UnicodeString name;
  for (int32_t i = 0; i < FieldDefs().Count(); ++i)
    if (FieldDefs()[i].FieldNo() == no) name = FieldDefs()[i].Name();
  db::DatabaseErrorFmt(db::kSIndexFieldMissing, {name}, this);
}

void TzfIndexDataSet::SetKeyFields(TzfKeyBufferIndex aIndex, const TzfValues& aValues1, const TzfValues& aValues2,
                                   TzfSetKeyOptions aOptions) {
  if (idIndexDirectKey) {
    db::TTempState temp(*this, db::dsSetKey);
    idKeyBuffer = idKeyBuffers[aIndex];
    struct TReset {
      PzfKeyBuffer& B;
      ~TReset() { B = nullptr; }
    } reset{idKeyBuffer};
    if (idIndexTokenKey)
      SetTokenKeyFields(aValues1, aValues2, aOptions);
    else
      SetRefNrKeyFields(aValues1, aValues2, aOptions);
    return;
  }
  if (idIndexFieldMap.empty()) db::DatabaseError(db::kSNoFieldIndexes, this);
  db::TTempState temp(*this, db::dsSetKey);
  idKeyBuffer = InitKeyBuffer(idKeyBuffers[aIndex]);
  struct TReset {
    PzfKeyBuffer& B;
    ~TReset() { B = nullptr; }
  } reset{idKeyBuffer};
  int32_t i = 0;
  for (const TzfValues* values : {&aValues1, &aValues2})
    for (const rtl::Variant& v : *values) IndexFieldAt(i++)->SetAsVariant(v);
  auto& h = *reinterpret_cast<TzfKeyBufferHeader*>(idKeyBuffer);
  h.kbFieldCount = i;
  h.kbExclusive = aOptions.Contains(skoExclusive) ? 1 : 0;
  h.kbModified = Modified() ? 1 : 0;
  h.kbPartialLen =
      (aOptions.Contains(skoPartialMatch) && i > 0 && zfIsTextFieldType(IndexFieldAt(i - 1)->DataType())) ? zfPartialWholeText : 0;
}

void TzfIndexDataSet::SetRefNrKeyFields(const TzfValues& aValues1, const TzfValues& aValues2, TzfSetKeyOptions) {
  const rtl::Variant* value = nullptr;
  if (aValues1.size() == 1 && aValues2.empty())
    value = &aValues1[0];
  else if (aValues1.empty() && aValues2.size() == 1)
    value = &aValues2[0];
  else if (!aValues1.empty() || !aValues2.empty())
    db::DatabaseErrorFmt(db::kSInvalidFieldValue, {UnicodeString(u"<RefNr>")}, this);
  InitKeyBuffer(idKeyBuffer);
  int64_t refNr = 0;
  if (value && !value->IsEmptyOrNull()) {
    if (value->VarType() == rtl::varInt64) {
      refNr = value->AsInt64();
    } else if (value->IsStr()) {
      const UnicodeString text = value->AsString();
      if (!text.empty() && !rtl::TryStrToInt64(text, refNr))
        db::DatabaseErrorFmt(db::kSInvalidFieldValue, {UnicodeString(u"<RefNr>")}, this);
    } else {
      db::DatabaseErrorFmt(db::kSInvalidFieldValue, {UnicodeString(u"<RefNr>")}, this);
    }
  }
  auto& h = *reinterpret_cast<TzfKeyBufferHeader*>(idKeyBuffer);
  h.kbModified = refNr != 0 ? 1 : 0;
  uint8_t* key = idKeyBuffer + sizeof(TzfKeyBufferHeader);
  const auto v = static_cast<uint64_t>(refNr);
  for (int i = 0; i < 8; ++i) key[i] = static_cast<uint8_t>(v >> (8 * i));
}

void TzfIndexDataSet::SetTokenKeyFields(const TzfValues& aValues1, const TzfValues& aValues2,
                                        TzfSetKeyOptions aOptions) {
  const rtl::Variant* value = nullptr;
  if (aValues1.size() == 1 && aValues2.empty())
    value = &aValues1[0];
  else if (aValues1.empty() && aValues2.size() == 1)
    value = &aValues2[0];
  else if (!aValues1.empty() || !aValues2.empty())
    db::DatabaseErrorFmt(db::kSInvalidFieldValue, {UnicodeString(u"<Token>")}, this);
  InitKeyBuffer(idKeyBuffer);
  UnicodeString text;
  if (value && !value->IsEmptyOrNull()) {
    if (value->IsStr() || (value->IsOrdinal() && value->VarType() != rtl::varBoolean))
      text = value->AsString();
    else
      db::DatabaseErrorFmt(db::kSInvalidFieldValue, {UnicodeString(u"<Token>")}, this);
  }
  // The key holds at most (key size div 2) - 1 units and never ends on a high surrogate.
  size_t kept = std::min<size_t>(text.size(), static_cast<size_t>(std::max(0, idIndexKeySize / 2 - 1)));
  if (kept > 0 && text[kept - 1] >= 0xD800 && text[kept - 1] <= 0xDBFF) --kept;
  auto& h = *reinterpret_cast<TzfKeyBufferHeader*>(idKeyBuffer);
  h.kbModified = kept > 0 ? 1 : 0;
  if (kept == 0) return;
  h.kbFieldCount = 1;
  h.kbExclusive = aOptions.Contains(skoExclusive) ? 1 : 0;
  if (aOptions.Contains(skoPartialMatch)) h.kbPartialLen = zfPartialWholeText;
  uint8_t* key = idKeyBuffer + sizeof(TzfKeyBufferHeader);
  key[0] = static_cast<uint8_t>(kept);
  key[1] = static_cast<uint8_t>(kept >> 8);
  for (size_t i = 0; i < kept; ++i) {
    key[2 + 2 * i] = static_cast<uint8_t>(text[i]);
    key[3 + 2 * i] = static_cast<uint8_t>(text[i] >> 8);
  }
}

int32_t TzfIndexDataSet::EngineFieldCount(const TzfKeyBufferHeader& aHeader) const {
  int32_t n = aHeader.kbFieldCount != 0 ? aHeader.kbFieldCount : static_cast<int32_t>(idIndexFieldMap.size());
  if (aHeader.kbPartialLen > 0) --n;
  return n;
}

// ---- searches ----

uint32_t TzfIndexDataSet::GetRecordForKey(TzfAbstractCursor* aCursor, int32_t aFieldCount, int32_t aPartialLen,
                                          bool aDirectKey, const uint8_t* aKeyData, uint8_t* aData) {
  TzfKeyBufferHeader h{0, 0, aFieldCount, aPartialLen};
  const int32_t count = EngineFieldCount(h);
  uint32_t code = aCursor->RecordGetForKey(count, aPartialLen, aDirectKey, aKeyData, aData, !FlipOrder(), true);
  while (code == zfErrFilterTimeout && !ServerFilterTimedOut())
    code = aCursor->RecordGetForKey(count, aPartialLen, aDirectKey, aKeyData, aData, !FlipOrder(), false);
  return code;
}

bool TzfIndexDataSet::GotoKey() {
  CheckBiDirectional();
  CheckBrowseMode();
  DoBeforeScroll();
  CursorPosChanged();
  const TzfKeyBufferHeader& h = Header(kbiKey);
  const uint32_t code =
      GetRecordForKey(dsAbstractCursor, h.kbFieldCount, h.kbPartialLen, idIndexDirectKey, KeyData(kbiKey), nullptr);
  if (code != 0 && code != zfErrRecNotFound) RaiseError(code);
  if (code != 0) return false;
  Resync({db::rmExact, db::rmCenter});
  DoAfterScroll();
  return true;
}

void TzfIndexDataSet::GotoNearest() {
  CheckBiDirectional();
  CheckBrowseMode();
  CursorPosChanged();
  if (IsWriteOnly()) return;
  const TzfKeyBufferHeader& h = Header(kbiKey);
  const TzfSearchKeyAction action = !FlipOrder() ? (h.kbExclusive ? skaGreater : skaGreaterEqual)
                                                 : (h.kbExclusive ? skaSmaller : skaSmallerEqual);
  uint32_t code = dsAbstractCursor->SetToKey(action, EngineFieldCount(h), h.kbPartialLen, idIndexDirectKey, KeyData(kbiKey));
  if (code == zfErrFilterTimeout && !ServerFilterTimedOut()) {
    do {
      code = FlipOrder() ? dsAbstractCursor->RecordGetPrior(zfltNoLock, nullptr)
                         : dsAbstractCursor->RecordGetNext(zfltNoLock, nullptr);
    } while (code == zfErrFilterTimeout && !ServerFilterTimedOut());
  }
  Check(code);
  Resync({db::rmCenter});
}

void TzfIndexDataSet::GotoNearestBackward() {
  struct TFlip {
    TzfIndexDataSet* D;
    ~TFlip() { D->SetFlipOrderRaw(!D->FlipOrder()); }
  };
  SetFlipOrderRaw(!FlipOrder());
  TFlip back{this};
  GotoNearest();
}

bool TzfIndexDataSet::FindKey(const TzfValues& aValues, TzfSetKeyOptions aOptions) {
  CheckBiDirectional();
  CheckBrowseMode();
  SetKeyFields(kbiKey, aValues, {}, aOptions);
  return GotoKey();
}

void TzfIndexDataSet::FindNearest(const TzfValues& aValues, TzfSetKeyOptions aOptions) {
  CheckBiDirectional();
  CheckBrowseMode();
  SetKeyFields(kbiKey, aValues, {}, aOptions);
  GotoNearest();
}

// ---- ranges ----

bool TzfIndexDataSet::RangeActive() const {
  return idKeyBuffers[kbiAppliedRangeStart] &&
         (Header(kbiAppliedRangeStart).kbModified || Header(kbiAppliedRangeEnd).kbModified);
}

void TzfIndexDataSet::SetRange(const TzfValues& aStartValues, const TzfValues& aEndValues,
                               TzfSetKeyOptions aStartOptions, TzfSetKeyOptions aEndOptions) {
  SetRangeShared({}, aStartValues, aEndValues, aStartOptions, aEndOptions);
}

void TzfIndexDataSet::SetRangeShared(const TzfValues& aSharedValues, const TzfValues& aStartValues,
                                     const TzfValues& aEndValues, TzfSetKeyOptions aStartOptions,
                                     TzfSetKeyOptions aEndOptions) {
  CheckBrowseMode();
  SetKeyFields(kbiRangeStart, aSharedValues, aStartValues, aStartOptions);
  SetKeyFields(kbiRangeEnd, aSharedValues, aEndValues, aEndOptions);
  ApplyRange();
}

void TzfIndexDataSet::SetRangeSimple(const TzfValues& aValues, TzfSetKeyOptions aOptions) {
  SetRangeShared(aValues, {}, {}, aOptions, aOptions);
}

bool TzfIndexDataSet::ApplyRangeToCursor() {
  if (dsWriteOnly) return false;
  const size_t size = static_cast<size_t>(idKeyBufferSize);
  if (std::memcmp(idKeyBuffers[kbiRangeStart], idKeyBuffers[kbiAppliedRangeStart], size) == 0 &&
      std::memcmp(idKeyBuffers[kbiRangeEnd], idKeyBuffers[kbiAppliedRangeEnd], size) == 0)
    return false;
  TzfKeyBufferIndex lo = kbiRangeStart, hi = kbiRangeEnd;
  if (FlipOrder()) std::swap(lo, hi);
  const TzfKeyBufferHeader& l = Header(lo);
  const TzfKeyBufferHeader& h = Header(hi);
  Check(dsAbstractCursor->RangeSet(EngineFieldCount(l), l.kbPartialLen, idIndexDirectKey,
                                   l.kbModified ? KeyData(lo) : nullptr, !l.kbExclusive, EngineFieldCount(h),
                                   h.kbPartialLen, idIndexDirectKey, h.kbModified ? KeyData(hi) : nullptr,
                                   !h.kbExclusive));
  std::memcpy(idKeyBuffers[kbiAppliedRangeStart], idKeyBuffers[kbiRangeStart], size);
  std::memcpy(idKeyBuffers[kbiAppliedRangeEnd], idKeyBuffers[kbiRangeEnd], size);
  DropLookupCursor();
  return true;
}

void TzfIndexDataSet::ApplyRange() {
  CheckBrowseMode();
  if (ApplyRangeToCursor()) First();
}

bool TzfIndexDataSet::ResetRange() {
  if (dsWriteOnly || !RangeActive()) return false;
  Check(dsAbstractCursor->RangeReset());
  InitKeyBuffer(idKeyBuffers[kbiAppliedRangeStart]);
  InitKeyBuffer(idKeyBuffers[kbiAppliedRangeEnd]);
  DropLookupCursor();
  return true;
}

void TzfIndexDataSet::CancelRange() {
  CheckBrowseMode();
  UpdateCursorPos();
  if (ResetRange()) Resync({});
}

// ---- Locate and Lookup through an index ----

bool TzfIndexDataSet::IsIndexForFields(const std::vector<db::TField*>& aFields, bool aCaseInsensitive) const {
  if (idIndexFieldMap.size() < aFields.size()) return false;
  for (size_t i = 0; i < aFields.size(); ++i) {
    if (aFields[i]->FieldNo() != idIndexFieldMap[i]) return false;
    if (zfIsTextFieldType(aFields[i]->DataType()) && idIndexFieldMapNC[i] != aCaseInsensitive) return false;
  }
  return true;
}

TzfAbstractCursor* TzfIndexDataSet::GetLookupCursor(const UnicodeString& aKeyFields,
                                                    const std::vector<db::TField*>& aFields, bool aCaseInsensitive) {
  if (aKeyFields != idLookupFieldNames || aCaseInsensitive != idLookupCaseIns) {
    DropLookupCursor();
    if (RangeActive()) return nullptr;
    TzfBaseTableDescriptor* td = dsAbstractCursor->acGetTableDescriptor();
    TzfMainIndicesDescriptor* ix = td ? td->tdIndicesDescriptor.get() : nullptr;
    TzfFieldsDescriptor& fields = dsAbstractCursor->acFields();
    for (int32_t k = 0; ix && k < ix->IndexCount(); ++k) {
      auto* comp = dynamic_cast<TzfCompKeyDescriptor*>(ix->IndexDescriptor[static_cast<size_t>(k)]->idKeyDescriptor.get());
      if (!comp || comp->GetKeyFieldCount() < static_cast<int32_t>(aFields.size())) continue;
      bool fits = true;
      for (size_t i = 0; fits && i < aFields.size(); ++i) {
        TzfKeyFieldDescriptor* kf = comp->GetKeyField(static_cast<int32_t>(i));
        if (kf->kfdFieldNumber + 1 != aFields[i]->FieldNo()) fits = false;
        else if (IsTextEngineType(fields.Field(kf->kfdFieldNumber)->fdType)) {
          auto* text = dynamic_cast<TzfTextKeyFieldDescriptor*>(kf);
          fits = (text && text->tkfIgnoreCase) == aCaseInsensitive;
        }
      }
      if (!fits) continue;
      TzfAbstractCursor* c = nullptr;
      Check(dsAbstractCursor->Duplicate(omReadOnly, c));
      const uint32_t code = c->SwitchToIndex(ix->IndexDescriptor[static_cast<size_t>(k)]->idName, -1, false);
      if (code != 0) {
        c->Free();
        RaiseError(code);
      }
      idLookupCursorID = c;
      break;
    }
    idLookupFieldNames = aKeyFields;
    idLookupCaseIns = aCaseInsensitive;
  } else if (RangeActive()) {
    return nullptr;
  }
  return idLookupCursorID;
}

void TzfIndexDataSet::DropLookupCursor() {
  if (idLookupCursorID) {
    TzfAbstractCursor* c = idLookupCursorID;
    idLookupCursorID = nullptr;
    c->Free();
  }
  idLookupFieldNames.clear();
}

bool TzfIndexDataSet::LocateRecord(const UnicodeString& aKeyFields, const rtl::Variant& aKeyValues,
                                   db::TLocateOptions aOptions, bool aNoRead) {
  CheckBrowseMode();
  CursorPosChanged();
  if (dsWriteOnly) return false;
  std::vector<db::TField*> fields;
  GetFieldList(fields, aKeyFields);
  const std::vector<rtl::Variant> values = LocateKeyValues(aKeyValues, fields.size());
  const bool ci = aOptions.Contains(db::loCaseInsensitive);
  TzfAbstractCursor* cursor = IsIndexForFields(fields, ci) ? dsAbstractCursor : GetLookupCursor(aKeyFields, fields, ci);
  if (!cursor) return TzfDataset::LocateRecord(aKeyFields, aKeyValues, aOptions, aNoRead);
  db::TRecordBuffer work = Buffer(BufferedRecordCount());
  uint32_t code;
  {
    db::TTempState temp(*this, db::dsFilter);
    db::TRecordBuffer saved = dsRecordToFilter;
    dsRecordToFilter = work;
    struct TRestore {
      db::TRecordBuffer& Ref;
      db::TRecordBuffer Saved;
      ~TRestore() { Ref = Saved; }
    } restore{dsRecordToFilter, saved};
    InitRecord(work);
    for (size_t i = 0; i < fields.size(); ++i) {
      if (LocatesNull(*fields[i], values[i]))
        fields[i]->Clear();
      else
        fields[i]->SetAsVariant(values[i]);
    }
    const int32_t partial =
        (aOptions.Contains(db::loPartialKey) && zfIsTextFieldType(fields.back()->DataType())) ? zfPartialWholeText : 0;
    code = GetRecordForKey(cursor, static_cast<int32_t>(fields.size()), partial, false, work, work);
  }
  // A cursor that cannot read by key is searched by the scan of the dataset core.
  if (code == zfErrNotSupported) return TzfDataset::LocateRecord(aKeyFields, aKeyValues, aOptions, aNoRead);
  if (code == 0 && aNoRead && cursor == idLookupCursorID) code = dsAbstractCursor->SetToCursor(idLookupCursorID);
  if (code == zfErrNoCurrRec || code == zfErrRecNotFound) return false;
  Check(code);
  return true;
}

}  // namespace zf
