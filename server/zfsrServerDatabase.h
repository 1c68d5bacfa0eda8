// The engine's database: a session's door to the tables of one folder.
//
// A TzfServerDatabase binds a session, a transaction context and a folder. It hosts the table
// operations (build, delete, empty, rename, exists, dictionary, list), the free space and path of
// its folder, and its own temporary tables (names starting with exactly two "#", scope
// tsTempDatabase), which live in its table mapper under the client's name, invisible to other
// databases. A maintenance database may share the mapper of the database that made it.
//
// Lock order: the folder's sfTablesPadlock, then the mapper's lock (tmLock), then a table's
// cursor padlock; the folder's sfDatabasesPadlock alone (joining and leaving the folder). Every
// worker that needs both takes them in that order, also build and rename, so a build in one
// database cannot deadlock against a lookup in another that shares the mapper.
//
// Not here yet: table cursors and everything opened through them (cursor open, auto-increment,
// index add and drop, password change), statements (answer 12289 "An SQL Engine is required"),
// and the maintenance tasks; these answer 12289.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "dictionary/zfsdAbstractSession.h"
#include "dictionary/zfsdOpenModes.h"
#include "foundation/zfllUtils.h"

namespace zf {

class TzfServerFolder;
class TzfServerRootTable;
class TzfServerSession;
class TzfServerBaseTable;
class TzfBlobLinkHandler;

// A database's map of its own temporary tables: client name -> root table. Shared by the
// private databases of maintenance operations.
class TzfServerTableMapper {
 public:
  ~TzfServerTableMapper();  // frees the tables still mapped
  TzfServerRootTable* tmFind(const UnicodeString& aName);
  void tmAdd(const UnicodeString& aName, TzfServerRootTable* aTable);  // replaces a mapping
  void tmDelete(const UnicodeString& aName);

  std::recursive_mutex tmLock;
  std::map<UnicodeString, std::pair<UnicodeString, TzfServerRootTable*>> tmTables;  // upper-cased key
};

class TzfServerDatabase : public TzfAbstractDatabase {
 public:
  // aMapper: shared with another database (maintenance), or nil for a new one.
  TzfServerDatabase(TzfServerSession* aSession, TzfAbstractTransContext* aTransContext, const UnicodeString& aAlias,
                    TzfServerFolder* aFolder, uint32_t aTimeout, TzfOpenMode aOpenMode, TzfShareMode aShareMode,
                    std::shared_ptr<TzfServerTableMapper> aMapper = nullptr);
  ~TzfServerDatabase() override;
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }
  void AfterConstruction() override;  // joins the folder
  void BeforeDestruction() override;  // leaves the folder
  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

  uint32_t TableBuild(bool aOverWrite, const UnicodeString& aTableName, const UnicodeString& aPassword,
                      TzfDataDictionary* aDictionary, TzfTableScope aTableScope, bool aAllowSystem) override;
  uint32_t TablePack(const UnicodeString&, const UnicodeString&, TzfAbstractTaskInfo*& aTaskInfo) override;
  uint32_t TableBackup(const UnicodeString&, const UnicodeString&, TzfAbstractDatabase*,
                       TzfAbstractTaskInfo*& aTaskInfo) override;
  uint32_t TableRebuildIndex(const UnicodeString&, const UnicodeString&, const UnicodeString&, int32_t,
                             TzfAbstractTaskInfo*& aTaskInfo) override;
  uint32_t TableRestructure(const UnicodeString&, const UnicodeString&, TzfDataDictionary*,
                            TzfBaseTableMapperDescriptor*, bool, TzfAbstractTaskInfo*& aTaskInfo) override;
  // Through an exclusive read-write cursor (zfsrServerDatabaseIndexes.cpp); 10501 when read-only.
  uint32_t TableAddIndex(const UnicodeString& aTableName, const UnicodeString& aPassword,
                         TzfIndexDescriptor* aIndexDesc, bool aNewDefault) override;
  uint32_t TableDropIndex(const UnicodeString& aTableName, const UnicodeString& aPassword,
                          const UnicodeString& aIndexName, int32_t aIndexID) override;
  uint32_t TableRename(const UnicodeString& aOldName, const UnicodeString& aNewName,
                       const UnicodeString& aPassword) override;
  uint32_t TableRecover(const UnicodeString&, const UnicodeString&, TzfAbstractTaskInfo*& aTaskInfo) override;
  uint32_t TableVerifyChecksum(const UnicodeString&, const UnicodeString&, bool, bool,
                               TzfAbstractTaskInfo*& aTaskInfo) override;
  uint32_t TableDelete(const UnicodeString& aTableName, const UnicodeString& aPassword) override;
  uint32_t TableEmpty(const UnicodeString& aTableName, const UnicodeString& aPassword) override;
  uint32_t TableChangePassword(const UnicodeString&, const UnicodeString&, const UnicodeString&) override;
  uint32_t TableExists(const UnicodeString& aTableName, const UnicodeString& aPassword, bool& aExists,
                       bool aAllowSystem) override;
  uint32_t TableGetDictionary(const UnicodeString& aTableName, const UnicodeString& aPassword,
                              TzfDataDictionary* aDictionary) override;
  uint32_t TableGetList(rtl::TStrings& aList) override;
  uint32_t TableAutoIncGet(const UnicodeString&, const UnicodeString&, uint32_t& aValue) override;
  // Reports tables on which this database has cursors; without table cursors, none.
  uint32_t GetChangedTables(rtl::TStrings& aTables) override;
  uint32_t CursorOpen(TzfAbstractCursor*& aCursor, const UnicodeString&, const UnicodeString&, TzfOpenMode,
                      TzfShareMode, uint32_t, bool) override;
  uint32_t StatementAlloc(TzfAbstractStatement*& aStatement, uint32_t) override;
  // Kilobytes free for the caller on the folder's file system; 11047 when it cannot be read.
  uint32_t GetFreespace(int64_t& aFreeSpace) override;
  uint32_t GetPath(UnicodeString& aPath) override;

  // Workers (inside the frame).
  uint32_t sdTableBuild(bool aOverWrite, const UnicodeString& aTableName, const UnicodeString& aPassword,
                        TzfDataDictionary* aDictionary, TzfTableScope aTableScope);
  uint32_t sdTableDelete(const UnicodeString& aTableName, const UnicodeString& aPassword);
  uint32_t sdTableRename(const UnicodeString& aOldName, const UnicodeString& aNewName, const UnicodeString& aPassword);
  uint32_t sdTableExists(const UnicodeString& aTableName, const UnicodeString& aPassword, bool aForServer);
  uint32_t sdTableGetList(rtl::TStrings& aList);
  // The root table of aTableName (mapped, open in the folder, or opened now); aIsReadOnly when
  // the passwords grant only reading. The nested path after ":" is not followed here.
  uint32_t sdGetTable(TzfServerRootTable*& aTable, const UnicodeString& aTableName, const UnicodeString& aPassword,
                      bool aForServer, bool& aIsReadOnly);
  TzfUnicodeStrings sdBuildPasswords(const UnicodeString& aPassword);
  int32_t GetStructureGeneration();
  void sdStructureChanged(bool aFolderToo);

  TzfServerSession* sdSession;
  UnicodeString sdAlias;
  TzfServerFolder* sdFolder;
  std::shared_ptr<TzfServerTableMapper> sdTables;
  TzfOpenMode sdOpenMode;
  TzfShareMode sdShareMode;
  int32_t sdStructureGeneration = 0;
  int32_t sdFolderStructureGeneration = 0;
  // Resolves BLOB links of this database's cursors; made with the database, freed before its
  // cursors.
  std::unique_ptr<TzfBlobLinkHandler> sdBlobLinkHandler;

 protected:
  // Writes aNewName into the "$TableName" stream of the renamed table; the code of the write.
  virtual uint32_t sdWriteTableName(const UnicodeString& aNewName, const TzfUnicodeStrings& aPasswords);

 private:
  uint32_t Framed(const std::function<uint32_t()>& aWork);
  uint32_t NotHere();
  // Frees a mapped table when nothing uses it; false (10031) when it is in use.
  bool sdTakeOver(TzfServerRootTable* aTable);
  bool sdIsUnused(TzfServerRootTable* aTable);
  void sdNoteStructure(const UnicodeString& aName);
  bool sdInFolder = false;
};

}  // namespace zf
