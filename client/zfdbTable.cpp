#include "client/zfdbTable.h"

#include <chrono>
#include <thread>

#include "client/zfdbConversion.h"
#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdFileDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "dictionary/zfsdTableDescriptor.h"
#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlText.h"

namespace zf {

uint32_t TzfTable::zfIndexRebuildPollInterval = 250;

// Opens the table's database for one maintenance call and closes it again afterwards when it was
// closed before, also on failure.
class TzfTable::TActiveDatabase {
 public:
  explicit TActiveDatabase(TzfDatabase& aDatabase) : FDatabase(aDatabase), FWasActive(aDatabase.IsActive()) {
    if (!FWasActive) FDatabase.Open();
  }
  ~TActiveDatabase() {
    if (!FWasActive) {
      try {
        FDatabase.Close();
      } catch (...) {
      }
    }
  }
  TzfAbstractDatabase& Engine() const { return *FDatabase.AbstractDatabase(); }

 private:
  TzfDatabase& FDatabase;
  bool FWasActive;
};

TzfTable::TzfTable(rtl::TComponent* aOwner) : TzfIndexDataSet(aOwner) {}

TzfTable::~TzfTable() {
  try {
    Close();
  } catch (...) {
  }
}

void TzfTable::RaiseCode(uint32_t aCode) const { throw EzfDatabaseError(TzfErrorSource(this), aCode); }

TzfDatabase& TzfTable::DatabaseOrRaise() const {
  if (!dsDatabase) db::DatabaseError(u"No database", this);
  return *dsDatabase;
}

// ---- properties ----

void TzfTable::SetTableName(const UnicodeString& aValue) {
  if (rtl::SameText(aValue, tbTableName)) {
    tbTableName = aValue;
    return;
  }
  CheckInactive();
  tbTableName = aValue;
  DataEvent(db::dePropertyChange, 0);
}

void TzfTable::SetPassword(const UnicodeString& aValue) {
  CheckInactive();
  tbPassword = aValue;
  DataEvent(db::dePropertyChange, 0);
}

void TzfTable::SetReadOnly(bool aValue) {
  if (aValue == tbReadOnly) return;
  CheckInactive();
  tbReadOnly = aValue;
}

void TzfTable::SetExclusive(bool aValue) {
  if (aValue == tbExclusive) return;
  CheckInactive();
  tbExclusive = aValue;
}

void TzfTable::SetWriteOnly(bool aValue) {
  if (aValue == dsWriteOnly) return;
  CheckInactive();
  dsWriteOnly = aValue;
}

bool TzfTable::CanModify() const {
  return Active() && !tbReadOnly && !(dsDatabase && dsDatabase->ReadOnly());
}

bool TzfTable::Exists() {
  if (Active()) return true;
  if (tbTableName.empty()) return false;
  try {
    if (!dsDatabase || !dsDatabase->Exists()) return false;
    TActiveDatabase db(*dsDatabase);
    return dsDatabase->TableExists(tbTableName, tbPassword);
  } catch (...) {
    return false;
  }
}

// ---- opening ----

void TzfTable::OpenAbstractCursor() {
  TzfDatabase& database = DatabaseOrRaise();
  for (;;) {
    const TzfOpenMode openMode = (tbReadOnly || database.ReadOnly()) ? omReadOnly : omReadWrite;
    const TzfShareMode shareMode = tbExclusive ? smExclusive : smShared;
    TzfAbstractCursor* cursor = nullptr;
    const uint32_t code = EngineCursorOpen(openMode, shareMode, cursor);
    if (code == 0 && cursor) {
      dsAbstractCursor = cursor;
      int32_t recRev = -1;
      dsRecRevField = cursor->acFields().HasRecRevField(recRev);
      break;
    }
    if (cursor) cursor->Free();
    // A table or database that refuses writing is opened read-only, once.
    if ((code == zfErrTableReadOnly || code == zfErrReadOnlyDb) && !tbReadOnly) {
      tbReadOnly = true;
      continue;
    }
    CheckCode(code != 0 ? code : zfErrInvalidParam);
  }
  try {
    const UnicodeString name = idDefaultIndex ? ResolveIndexName(UnicodeString(), false)
                               : idFieldsIndex ? ResolveIndexName(idIndexFieldNames, true)
                                               : ResolveIndexName(idIndexName, false);
    idIndexName = name;
    if (!name.empty()) {
      uint32_t code = dsAbstractCursor->SwitchToIndex(name, -1, false);
      CheckCode(code);
    }
  } catch (...) {
    CloseAbstractCursor();
    throw;
  }
}

uint32_t TzfTable::EngineCursorOpen(TzfOpenMode aOpenMode, TzfShareMode aShareMode, TzfAbstractCursor*& aCursor) {
  TzfAbstractDatabase* engine = DatabaseOrRaise().AbstractDatabase();
  if (!engine) return zfErrInvalidParam;
  return engine->CursorOpen(aCursor, tbTableName, tbPassword, aOpenMode, aShareMode, EffectiveTimeout(),
                            engine->IsSystemTableAccessAllowed());
}

// ---- maintenance ----

void TzfTable::CreateTable(TzfTableScope aTableScope, bool aNoIndices) {
  CreateTableEx(TzfBlockSize::zfbs4k, aTableScope, aNoIndices);
}

void TzfTable::CreateTableEx(TzfBlockSize aBlockSize, TzfTableScope aTableScope, bool aNoIndices) {
  CheckInactive();
  if (tbTableName.empty()) RaiseCode(zfErrInvalidTableName);
  if (FieldCount() > 0) InitFieldDefsFromFields();
  TzfDatabase& database = DatabaseOrRaise();
  TActiveDatabase active(database);
  TzfDataDictionary dictionary;
  if (dictionary.ddFilesDescriptor && !dictionary.ddFilesDescriptor->FileDescriptor.empty())
    dictionary.ddFilesDescriptor->FileDescriptor[0]->SetBlockSize(aBlockSize);
  for (int32_t i = 0; i < FieldDefs().Count(); ++i) {
    const db::TFieldDef& def = FieldDefs()[i];
    if (!TzfBaseVclFieldMapper::AddDescriptorForFieldDef(*dictionary.tdFieldsDescriptor, def))
      throw EzfDatabaseError(TzfErrorSource(this), zfErrInvalidFieldType,
                             u"Field type \"%s\" specified for field \"%s\" is not supported",
                             {UnicodeString(db::FieldTypeName(def.DataType())), def.Name()});
  }
  if (aNoIndices) {
    dictionary.RemoveIndicesDescriptor();
  } else if (IndexDefs().Count() > 0) {
    AddIndexDefsToDictionary(IndexDefs(), *dictionary.EnsureIndicesDescriptor());
  }
  if (OnCreateTable) OnCreateTable(*this, dictionary);
  CheckCode(database.CreateTableEx(true, tbTableName, tbPassword, &dictionary, aTableScope));
}

void TzfTable::DeleteTable() {
  CheckInactive();
  TzfDatabase& database = DatabaseOrRaise();
  TActiveDatabase active(database);
  database.DeleteTable(tbTableName, tbPassword);
}

void TzfTable::EmptyTable() {
  TzfDatabase& database = DatabaseOrRaise();
  if (Active()) {
    CheckBrowseMode();
    Close();
    struct TReopen {
      TzfTable* T;
      ~TReopen() noexcept(false) {
        if (std::uncaught_exceptions() > 0) {
          try {
            T->Open();
          } catch (...) {
          }
        } else {
          T->Open();
        }
      }
    } reopen{this};
    TActiveDatabase active(database);
    database.EmptyTable(tbTableName, tbPassword);
    return;
  }
  TActiveDatabase active(database);
  database.EmptyTable(tbTableName, tbPassword);
}

void TzfTable::RenameTable(const UnicodeString& aNewTableName) {
  CheckInactive();
  TzfDatabase& database = DatabaseOrRaise();
  {
    TActiveDatabase active(database);
    database.RenameTable(tbTableName, aNewTableName, tbPassword);
  }
  SetTableName(aNewTableName);
}

uint32_t TzfTable::PackTableEx(TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  CheckInactive();
  TzfDatabase& database = DatabaseOrRaise();
  TActiveDatabase active(database);
  return database.PackTableEx(tbTableName, tbPassword, aTaskInfo);
}

TzfAbstractTaskInfo* TzfTable::PackTable() {
  TzfAbstractTaskInfo* task = nullptr;
  CheckCode(PackTableEx(task));
  return task;
}

uint32_t TzfTable::ReIndexTableEx(int32_t aIndexNum, TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  CheckInactive();
  if (tbTableName.empty()) return zfErrInvalidTableName;
  TActiveDatabase active(DatabaseOrRaise());
  return active.Engine().TableRebuildIndex(tbTableName, tbPassword, UnicodeString(), aIndexNum, aTaskInfo);
}

uint32_t TzfTable::ReIndexTableEx(const UnicodeString& aIndexName, TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  CheckInactive();
  if (tbTableName.empty()) return zfErrInvalidTableName;
  TActiveDatabase active(DatabaseOrRaise());
  return active.Engine().TableRebuildIndex(tbTableName, tbPassword, aIndexName, -1, aTaskInfo);
}

TzfAbstractTaskInfo* TzfTable::ReIndexTable(int32_t aIndexNum) {
  TzfAbstractTaskInfo* task = nullptr;
  CheckCode(ReIndexTableEx(aIndexNum, task));
  return task;
}

TzfAbstractTaskInfo* TzfTable::ReIndexTable(const UnicodeString& aIndexName) {
  TzfAbstractTaskInfo* task = nullptr;
  CheckCode(ReIndexTableEx(aIndexName, task));
  return task;
}

uint32_t TzfTable::RestructureTableEx(TzfDataDictionary* aDictionary, TzfBaseTableMapperDescriptor* aMapperDesc,
                                      TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  CheckInactive();
  TzfDatabase& database = DatabaseOrRaise();
  TActiveDatabase active(database);
  return database.RestructureTableEx(tbTableName, tbPassword, aDictionary, aMapperDesc, aTaskInfo);
}

TzfAbstractTaskInfo* TzfTable::RestructureTable(TzfDataDictionary* aDictionary,
                                                TzfBaseTableMapperDescriptor* aMapperDesc) {
  TzfAbstractTaskInfo* task = nullptr;
  CheckCode(RestructureTableEx(aDictionary, aMapperDesc, task));
  return task;
}

void TzfTable::DeleteIndex(const UnicodeString& aIndexName) {
  const UnicodeString name = ResolveIndexName(aIndexName, false);
  CheckInactive();
  TActiveDatabase active(DatabaseOrRaise());
  CheckCode(active.Engine().TableDropIndex(tbTableName, tbPassword, name, 0));
  IndexDefs().SetUpdated(false);
}

void TzfTable::ChangePassword(const UnicodeString& aNewPassword) {
  CheckActive();
  CheckCode(dsAbstractCursor->ChangePassword(aNewPassword));
  tbPassword = aNewPassword;
}

uint32_t TzfTable::AddIndexEx(TzfIndexDescriptor* aIndexDesc, bool aNewPrimary, TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (!aIndexDesc) return zfErrInvalidParam;
  CheckInactive();
  TActiveDatabase active(DatabaseOrRaise());
  TzfAbstractDatabase& engine = active.Engine();
  uint32_t code = engine.TableAddIndex(tbTableName, tbPassword, aIndexDesc, aNewPrimary);
  if (code != 0) return code;
  TzfAbstractTaskInfo* task = nullptr;
  code = engine.TableRebuildIndex(tbTableName, tbPassword, aIndexDesc->idName, -1, task);
  if (code != 0) {
    // The task handle is freed on every path, and the index that was added goes again.
    if (task) task->Free();
    engine.TableDropIndex(tbTableName, tbPassword, aIndexDesc->idName, -1);
    return code;
  }
  aTaskInfo = task;
  return 0;
}

uint32_t TzfTable::WaitForTask(TzfAbstractTaskInfo* aTaskInfo) {
  if (!aTaskInfo) return 0;
  struct TFree {
    TzfAbstractTaskInfo* T;
    ~TFree() { T->Free(); }
  } free{aTaskInfo};
  for (;;) {
    bool completed = false;
    TzfTaskStatus status;
    const uint32_t code = aTaskInfo->GetStatus(completed, status);
    if (code != 0) return code;
    if (status.tsErrorCode != 0) return status.tsErrorCode;
    if (completed || status.tsFinished) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(zfIndexRebuildPollInterval));
  }
}

void TzfTable::AddIndex(const UnicodeString& aName, const UnicodeString& aFields, db::TIndexOptions aOptions,
                        const UnicodeString& aCaseInsFields, const UnicodeString& aDescFields, bool aNewPrimary) {
  const bool wasOpen = Active();
  if (!wasOpen) InitFieldDefs();
  IndexDefs().Update();
  std::unique_ptr<TzfIndexDescriptor> desc = TzfIndexDescriptor::CreateStandalone(
      IndexDefs().Count(), aName, 0, &TzfCompKeyDescriptor::ClassInfo());
  desc->SetDups(aOptions.Contains(db::ixUnique) ? idNone : idAll);
  auto& key = dynamic_cast<TzfCompKeyDescriptor&>(*desc->idKeyDescriptor);
  const std::vector<UnicodeString> caseIns = db::ExtractFieldNames(aCaseInsFields);
  const std::vector<UnicodeString> descending = db::ExtractFieldNames(aDescFields);
  auto inList = [](const std::vector<UnicodeString>& aList, const UnicodeString& aName) {
    for (const UnicodeString& n : aList)
      if (rtl::SameText(n, aName)) return true;
    return false;
  };
  for (const UnicodeString& name : db::ExtractFieldNames(aFields)) {
    const int32_t at = FieldDefs().IndexOf(name);
    if (at < 0) db::DatabaseErrorFmt(db::kSFieldNotFound, {name}, this);
    const db::TFieldDef& fd = FieldDefs()[at];
    TzfKeyFieldDescriptor* kf;
    const db::TFieldType t = fd.DataType();
    if (t == db::ftString || t == db::ftFixedChar || t == db::ftWideString) {
      kf = key.Add(fd.FieldNo() - 1, &TzfExtTextKeyFieldDescriptor::ClassInfo());
      static_cast<TzfTextKeyFieldDescriptor*>(kf)->tkfIgnoreCase =
          aOptions.Contains(db::ixCaseInsensitive) || inList(caseIns, fd.Name());
    } else {
      kf = key.Add(fd.FieldNo() - 1);
    }
    kf->kfdAscend = !aOptions.Contains(db::ixDescending) && !inList(descending, fd.Name());
  }
  // A failed rebuild drops the half-added index, whether the table was open or not.
  auto addAndRebuild = [&](bool aDropOnFailure) {
    TActiveDatabase active(DatabaseOrRaise());
    TzfAbstractDatabase& engine = active.Engine();
    CheckCode(engine.TableAddIndex(tbTableName, tbPassword, desc.get(), aNewPrimary));
    TzfAbstractTaskInfo* task = nullptr;
    uint32_t code = engine.TableRebuildIndex(tbTableName, tbPassword, aName, -1, task);
    if (code == 0) code = WaitForTask(task);
    else if (task) task->Free();
    if (code != 0) {
      if (aDropOnFailure) engine.TableDropIndex(tbTableName, tbPassword, aName, -1);
      RaiseCode(code);
    }
  };
  if (wasOpen) {
    const db::TBookmark bookmark = GetBookmark();
    const bool hadRange = RangeActive();
    const std::vector<uint8_t> rangeStart = KeyBufferCopy(kbiAppliedRangeStart);
    const std::vector<uint8_t> rangeEnd = KeyBufferCopy(kbiAppliedRangeEnd);
    Close();
    std::exception_ptr failure;
    try {
      addAndRebuild(true);
    } catch (...) {
      failure = std::current_exception();
    }
    Open();
    if (hadRange) {
      KeyBufferRestore(kbiRangeStart, rangeStart);
      KeyBufferRestore(kbiRangeEnd, rangeEnd);
      ApplyRangeToCursor();
      First();
    }
    if (!bookmark.empty() && BookmarkValid(bookmark)) GotoBookmark(bookmark);
    if (failure) std::rethrow_exception(failure);
  } else {
    addAndRebuild(true);
  }
  IndexDefs().SetUpdated(false);
}

}  // namespace zf
