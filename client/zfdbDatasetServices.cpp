// TzfDataset: its session and alias, the wanted Active state, and the table services that need
// only an open engine cursor (auto-increment value, named streams, following another dataset).
#include "client/zfdbCursor.h"
#include "client/zfdbDataset.h"
#include "foundation/zfllConst.h"
#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlFormat.h"

namespace zf {

// ---- session, database and alias ----

TzfBaseSession* TzfDataset::Session() const {
  if (dsDatabase && dsDatabase->Session()) return dsDatabase->Session();
  return dsSession;
}

void TzfDataset::SetSession(TzfBaseSession* aValue) {
  if (aValue == Session()) return;
  if (dsDatabase && aValue && aValue == dsDatabase->Session()) {
    dsSession = aValue;
  } else {
    CheckInactive();
    dsSession = aValue;
    TzfDatabase* database = (aValue && dsAliasName.empty()) ? aValue->DefaultDatabase() : nullptr;
    dsCursor->SetDatabase(database);
    dsDatabase = database;
    if (database) dsAliasName = database->Implicit() ? database->AliasName() : UnicodeString();
  }
  DataEvent(db::dePropertyChange, 0);
}

void TzfDataset::SetAliasName(const UnicodeString& aValue) {
  const UnicodeString name = rtl::Trim(aValue);
  if (!rtl::SameText(name, dsAliasName)) {
    CheckInactive();
    if (!name.empty()) {
      dsCursor->SetDatabase(nullptr);
      dsDatabase = nullptr;
    }
  }
  dsAliasName = name;
  DataEvent(db::dePropertyChange, 0);
}

void TzfDataset::AssignDefaultConnection() {
  if (Session()) return;
  dsSession = TzfBaseSession::DefaultSession();
  if (dsSession && dsAliasName.empty() && !dsDatabase) {
    if (TzfDatabase* database = dsSession->DefaultDatabase()) {
      dsCursor->SetDatabase(database);
      dsDatabase = database;
    }
  }
}

void TzfDataset::ResolveAliasDatabase() {
  TzfBaseSession* session = Session();
  if (dsAliasName.empty() || !session) return;
  if (dsDatabase && rtl::SameText(dsDatabase->AliasName(), dsAliasName)) return;
  TzfDatabase* database = session->GetImplicitDatabase(dsAliasName, true);
  dsCursor->LinkDatabase(database);
  dsDatabase = database;
}

// ---- wanted Active state ----

void TzfDataset::SetActiveRuntime(bool aValue) {
  dsActiveRuntime = aValue;
  if (!IsDesigning() && !IsLoading()) SetActive(aValue);
}

void TzfDataset::SetActiveDesigntime(bool aValue) {
  dsActiveDesigntime = aValue;
  if (IsDesigning() && !IsLoading()) SetActive(aValue);
}

void TzfDataset::Loaded() {
  db::TDataSet::Loaded();
  AssignDefaultConnection();
  if (IsDesigning()) {
    try {
      SetActive(dsActiveDesigntime);
    } catch (const std::exception&) {
      // At design time a dataset that cannot open stays closed; the designer shows no error here.
    }
  } else {
    SetActive(dsActiveRuntime);
  }
}

void TzfDataset::NoteWantedActive() {
  if (IsLoading()) return;
  if (IsDesigning()) {
    dsActiveDesigntime = Active();
  } else {
    dsActiveRuntime = Active();
  }
}

// ---- table services ----

uint32_t TzfDataset::GetAutoIncValue() {
  CheckActive();
  uint32_t value = 0;
  Check(dsAbstractCursor->AutoIncGet(value));
  return value;
}

void TzfDataset::SetAutoIncValue(uint32_t aValue) {
  CheckActive();
  Check(dsAbstractCursor->AutoIncSet(aValue));
}

void TzfDataset::GetStreamList(rtl::TStrings& aStreams) {
  CheckActive();
  Check(dsAbstractCursor->TableStreamGetList(aStreams));
}

uint32_t TzfDataset::ReadStreamEx(const UnicodeString& aName, rtl::TStream& aStream) {
  CheckActive();
  return dsAbstractCursor->TableStreamRead(aName, aStream);
}

void TzfDataset::ReadStream(const UnicodeString& aName, rtl::TStream& aStream) { Check(ReadStreamEx(aName, aStream)); }

void TzfDataset::WriteStream(const UnicodeString& aName, rtl::TStream& aStream) {
  CheckActive();
  Check(dsAbstractCursor->TableStreamWrite(aName, aStream));
}

void TzfDataset::DeleteStream(const UnicodeString& aName) {
  CheckActive();
  Check(dsAbstractCursor->TableStreamDelete(aName));
}

void TzfDataset::GotoCurrent(TzfDataset* aDataSet) {
  CheckBrowseMode();
  if (!aDataSet) RaiseError(zfErrInvalidParam);
  aDataSet->CheckBrowseMode();
  if (IsWriteOnly()) return;
  if (aDataSet != this) {
    TzfBaseSession* mine = Session();
    if (!mine || mine != aDataSet->Session()) RaiseError(zfErrDifferentTables);
    aDataSet->CheckActive();
    aDataSet->PositionOnActive();
    Check(dsAbstractCursor->SetToCursor(aDataSet->dsAbstractCursor));
  } else {
    PositionOnActive();
  }
  DoBeforeScroll();
  db::TResyncMode mode;
  mode.Include(db::rmExact);
  mode.Include(db::rmCenter);
  Resync(mode);
  DoAfterScroll();
}

UnicodeString TzfDataset::Version() {
  return rtl::Format(u"%5.4f %s", {static_cast<double>(zfEngineVersion) / 10000.0, UnicodeString(zfBuildSuffix)});
}

void TzfDataset::CloseBlob(db::TField* aField) {
  if (!aField || !Active()) return;
  db::TRecordBuffer buffer = ActiveBuffer();
  if (!buffer || aField->FieldNo() < 1) return;
  const uint32_t code = FreeBlobField(buffer, aField->FieldNo() - 1);
  if (code != 0) throw EzfDatabaseError(TzfErrorSource(aField), code);
}

}  // namespace zf
