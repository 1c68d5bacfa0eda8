// TzfTable: the dataset component for one table of a TzfDatabase.
//
// It names the table, opens a table cursor on it (falling back to read-only once when the table
// or the database allows only reading), resolves its index at open (by name, by field names or
// the table's default index), and offers the engine's table maintenance on the table it names:
// create, delete, empty, rename, add and drop indexes, pack, re-index, restructure, change
// password. Record access is the index dataset's and the dataset's.
//
// Maintenance operations need a closed dataset (EmptyTable and AddIndex also work on an open one,
// ChangePassword needs it open). Each makes the database active for the call and puts its former
// state back afterwards, also on failure. The forms ending in Ex answer the engine's code; the
// others raise it as EzfDatabaseError naming the table.
#pragma once
#include <cstdint>
#include <functional>

#include "client/zfdbIndexDataset.h"

namespace zf {

class TzfDataDictionary;
class TzfIndexDescriptor;
class TzfBaseTableMapperDescriptor;

class TzfTable : public TzfIndexDataSet {
 public:
  // (aSender, aDictionary): the dictionary CreateTable is about to build the table from.
  using TzfCreateTableEvent = std::function<void(TzfDataset&, TzfDataDictionary&)>;

  explicit TzfTable(rtl::TComponent* aOwner = nullptr);
  ~TzfTable() override;
  const char16_t* ClassName() const override { return u"TzfTable"; }

  // ---- properties ----
  const UnicodeString& TableName() const { return tbTableName; }
  // The same name in another case is taken even while open; another name needs a closed table.
  virtual void SetTableName(const UnicodeString& aValue);
  const UnicodeString& Password() const { return tbPassword; }
  virtual void SetPassword(const UnicodeString& aValue);
  bool ReadOnly() const { return tbReadOnly; }
  void SetReadOnly(bool aValue);
  bool Exclusive() const { return tbExclusive; }
  void SetExclusive(bool aValue);
  bool WriteOnly() const { return dsWriteOnly; }
  void SetWriteOnly(bool aValue);
  bool StoreDefs() const { return tbStoreDefs; }
  void SetStoreDefs(bool aValue) { tbStoreDefs = aValue; }
  TzfCreateTableEvent OnCreateTable;

  // Active, not read-only, and the database not read-only.
  bool CanModify() const override;
  // False for an empty name (the engine is not asked) and on any failure.
  bool Exists();

  // ---- maintenance ----
  void CreateTable(TzfTableScope aTableScope = tsPersistent, bool aNoIndices = false);
  void CreateTableEx(TzfBlockSize aBlockSize, TzfTableScope aTableScope, bool aNoIndices);
  // A missing table is no error.
  void DeleteTable();
  // On an open table: closed, emptied and opened again (also when emptying fails).
  void EmptyTable();
  void RenameTable(const UnicodeString& aNewTableName);
  // The engine's running task; the caller polls and frees it.
  TzfAbstractTaskInfo* PackTable();
  uint32_t PackTableEx(TzfAbstractTaskInfo*& aTaskInfo);
  TzfAbstractTaskInfo* ReIndexTable(int32_t aIndexNum);
  TzfAbstractTaskInfo* ReIndexTable(const UnicodeString& aIndexName);
  uint32_t ReIndexTableEx(int32_t aIndexNum, TzfAbstractTaskInfo*& aTaskInfo);
  uint32_t ReIndexTableEx(const UnicodeString& aIndexName, TzfAbstractTaskInfo*& aTaskInfo);
  TzfAbstractTaskInfo* RestructureTable(TzfDataDictionary* aDictionary, TzfBaseTableMapperDescriptor* aMapperDesc);
  uint32_t RestructureTableEx(TzfDataDictionary* aDictionary, TzfBaseTableMapperDescriptor* aMapperDesc,
                              TzfAbstractTaskInfo*& aTaskInfo);
  void DeleteIndex(const UnicodeString& aIndexName);
  // On an open table.
  void ChangePassword(const UnicodeString& aNewPassword);
  // Adds the index and starts its rebuild; when either fails the index is dropped again, the
  // task handle is freed and aTaskInfo is nullptr. The caller frees a returned task.
  uint32_t AddIndexEx(TzfIndexDescriptor* aIndexDesc, bool aNewPrimary, TzfAbstractTaskInfo*& aTaskInfo);
  // Adds an index over the fields aFields ("A;B") and waits for its rebuild. An open table keeps
  // its record and its range.
  void AddIndex(const UnicodeString& aName, const UnicodeString& aFields, db::TIndexOptions aOptions,
                const UnicodeString& aCaseInsFields = {}, const UnicodeString& aDescFields = {},
                bool aNewPrimary = false);

  // How long AddIndex sleeps between two polls of the rebuild task (ms).
  static uint32_t zfIndexRebuildPollInterval;

 protected:
  bool StoreFieldDefs() override { return tbStoreDefs && FieldDefs().Count() > 0; }
  bool StoreIndexDefs() override { return tbStoreDefs && IndexDefs().Count() > 0; }
  void OpenAbstractCursor() override;
  // The engine's cursor open with the table's name, password, timeout and system access.
  virtual uint32_t EngineCursorOpen(TzfOpenMode aOpenMode, TzfShareMode aShareMode, TzfAbstractCursor*& aCursor);

 private:
  // The engine database, opened for the call (RAII restores its state).
  class TActiveDatabase;
  [[noreturn]] void RaiseCode(uint32_t aCode) const;
  void CheckCode(uint32_t aCode) const {
    if (aCode != 0) RaiseCode(aCode);
  }
  TzfDatabase& DatabaseOrRaise() const;
  // Waits for a task to end; answers its error code. The task is freed.
  uint32_t WaitForTask(TzfAbstractTaskInfo* aTaskInfo);

  UnicodeString tbTableName;
  UnicodeString tbPassword;
  bool tbStoreDefs = false;
  bool tbReadOnly = false;
  bool tbExclusive = false;
};

}  // namespace zf
