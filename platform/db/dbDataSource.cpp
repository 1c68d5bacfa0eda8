#include "platform/db/dbDataSource.h"

#include <algorithm>

#include "platform/db/dbConsts.h"
#include "platform/db/dbDataSet.h"

namespace zf::db {

// ---- TDataSource ---------------------------------------------------------------------------------

TDataSource::TDataSource(rtl::TComponent* aOwner) : rtl::TComponent(aOwner) {}

TDataSource::~TDataSource() {
  if (FDataSet) {
    auto& list = FDataSet->FDataSources;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    FDataSet = nullptr;
  }
  for (TDataLink* l : FLinks) {
    l->FDataSource = nullptr;
    l->FActive = false;
    l->FEditing = false;
  }
}

void TDataSource::SetDataSet(TDataSet* aDataSet) {
  if (aDataSet == FDataSet) return;
  if (aDataSet && aDataSet->IsLinkedTo(this)) DatabaseError(kSCircularDataLink, this);
  if (FDataSet) {
    auto& list = FDataSet->FDataSources;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  FDataSet = aDataSet;
  if (FDataSet) FDataSet->FDataSources.push_back(this);
  UpdateState();
}

void TDataSource::SetEnabled(bool aValue) {
  FEnabled = aValue;
  UpdateState();
}

bool TDataSource::IsLinkedTo(const TDataSet* aDataSet) const {
  std::vector<const TDataSource*> seen;
  for (const TDataSource* s = this; s && std::find(seen.begin(), seen.end(), s) == seen.end();) {
    seen.push_back(s);
    const TDataSet* d = s->FDataSet;
    if (!d) return false;
    if (d == aDataSet) return true;
    s = d->GetDataSource();
  }
  return false;
}

void TDataSource::UpdateState() {
  TDataSetState state = FDataSet && FEnabled ? FDataSet->State() : dsInactive;
  if (state == dsOpening) state = dsInactive;
  if (state == FState) return;
  FState = state;
  NotifyLinks(deUpdateState, 0);
  if (OnStateChange) OnStateChange(*this);
}

void TDataSource::NotifyLinks(TDataEvent aEvent, intptr_t aInfo) {
  std::vector<TDataLink*> links = FLinks;
  for (TDataLink* l : links)
    if (std::find(FLinks.begin(), FLinks.end(), l) != FLinks.end()) l->DataEvent(aEvent, aInfo);
}

void TDataSource::DataEvent(TDataEvent aEvent, intptr_t aInfo) {
  if (aEvent == deUpdateState) {
    UpdateState();
    return;
  }
  if (FState == dsInactive) return;
  NotifyLinks(aEvent, aInfo);
  switch (aEvent) {
    case deFieldChange:
    case deRecordChange:
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
      if (OnDataChange) OnDataChange(*this, aEvent == deFieldChange ? reinterpret_cast<TField*>(aInfo) : nullptr);
      break;
    case deUpdateRecord:
      if (OnUpdateData) OnUpdateData(*this);
      break;
    default: break;
  }
}

// ---- TDataLink -----------------------------------------------------------------------------------

TDataLink::~TDataLink() {
  if (FDataSource) {
    auto& list = FDataSource->FLinks;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

TDataSet* TDataLink::DataSet() const { return FDataSource ? FDataSource->DataSet() : nullptr; }

void TDataLink::SetDataSource(TDataSource* aDataSource) {
  if (aDataSource == FDataSource) return;
  if (FDataSource) {
    auto& list = FDataSource->FLinks;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  FDataSource = aDataSource;
  if (FDataSource) FDataSource->FLinks.push_back(this);
  UpdateState();
}

void TDataLink::SetBufferCount(int32_t aValue) {
  FBufferCount = std::max(aValue, 1);
  if (TDataSet* d = DataSet(); d && d->Active()) d->UpdateBufferCount();
}

void TDataLink::UpdateState() {
  bool active = FDataSource && FDataSource->State() != dsInactive;
  if (active != FActive) {
    FActive = active;
    ActiveChanged();
  }
  bool editing = active && (FDataSource->State() == dsEdit || FDataSource->State() == dsInsert);
  if (editing != FEditing) {
    FEditing = editing;
    EditingChanged();
  }
}

void TDataLink::DataEvent(TDataEvent aEvent, intptr_t aInfo) {
  if (aEvent == deUpdateState) {
    UpdateState();
    return;
  }
  if (!FActive) return;
  switch (aEvent) {
    case deFieldChange: RecordChanged(reinterpret_cast<TField*>(aInfo)); break;
    case deRecordChange: RecordChanged(reinterpret_cast<TField*>(aInfo)); break;
    case deDataSetChange: DataSetChanged(); break;
    case deDataSetScroll: DataSetScrolled(static_cast<int32_t>(aInfo)); break;
    case deLayoutChange: LayoutChanged(); break;
    case deUpdateRecord: UpdateData(); break;
    case deCheckBrowseMode: CheckBrowseMode(); break;
    default: break;
  }
}

// ---- TMasterDataLink -----------------------------------------------------------------------------

void TMasterDataLink::SetFieldNames(const UnicodeString& aValue) {
  if (aValue == FFieldNames) return;
  FFieldNames = aValue;
  if (Active()) ActiveChanged();
}

void TMasterDataLink::ActiveChanged() {
  FFields.clear();
  if (Active()) {
    std::vector<TField*> fields;
    DataSet()->GetFieldList(fields, FFieldNames);
    FFields = std::move(fields);
  }
  if (!FDetail || !FDetail->Active()) return;
  if (Active()) {
    if (!FFields.empty() && OnMasterChange) OnMasterChange();
  } else if (OnMasterDisable) {
    OnMasterDisable();
  }
}

void TMasterDataLink::RecordChanged(TField* aField) {
  if (!FDetail || !FDetail->Active() || FFields.empty() || DataSource()->State() == dsSetKey) return;
  if (aField && std::find(FFields.begin(), FFields.end(), aField) == FFields.end()) return;
  if (OnMasterChange) OnMasterChange();
}

}  // namespace zf::db
