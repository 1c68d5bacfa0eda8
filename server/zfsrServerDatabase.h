// The engine's database: a session's door to the tables of one folder.
//
// A TzfServerDatabase binds a session, a transaction context and a folder. It hosts the table
// operations (build, delete, empty, rename, exists, dictionary, list), the free space and path of
// its folder, and its own temporary tables (names starting with exactly two "#", scope
// tsTempDatabase), which live in its table mapper under the client's name, invisible to other
// databases. A maintenance database may share the mapper of the database that made it.
//
// Lock order: the folder's sfTablesPadlock, then the mapper's padlock, then a table's
// cursor padlock; the folder's sfDatabasesPadlock alone (joining and leaving the folder). Every
// worker that needs both takes them in that order, also build and rename, so a build in one
// database cannot deadlock against a lookup in another that shares the mapper.
//
// Table cursors open under the share rules of the table's existing cursors (sdCursorOpen); the
// auto-increment value and the password change go through a cursor of their own. The table
// recover lives in zfsrServerRecover.
//
// Restructure, pack and backup live in zfsrTaskRestructure.
//
// The index rebuild and the checksum run as tasks (zfsrServerIndexTasks). Not here: statements
// (answer 12289 "An SQL Engine is required").
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "dictionary/zfsdAbstractSession.h"
#include "dictionary/zfsdOpenModes.h"
#include "foundation/zfllUtils.h"
#include "server/zfsrServerLinks.h"
#include "storage/zfsrBlock.h"

namespace zf {

class TzfServerFolder;
class TzfServerRootTable;
class TzfServerSession;
class TzfServerBaseTable;
class TzfServerTableCursor;

// The share rule between a cursor request and the cursors open on a table (their open and share
// modes in chain order): 0 or 10253. The first cursor exclusive, or an exclusive request, refuses;
// a writing smShared request is refused by a smShareRead cursor met before the first writing
// smShared one; a smShareRead request by any writing cursor, and by a smShareRead cursor when
// the request writes; a read-only smShared request checks nothing else.
uint32_t zfCheckCursorShare(TzfOpenMode aOpenMode, TzfShareMode aShareMode,
                            const std::vector<std::pair<TzfOpenMode, TzfShareMode>>& aOpen);
class TzfBlobLinkHandler;

class TzfServerDatabase : public TzfAbstractDatabase {
 public:
  // aMapper: shared with another database (maintenance), or nil for a new one.
  TzfServerDatabase(TzfServerSession* aSession, TzfAbstractTransContext* aTransContext, const UnicodeString& aAlias,
                    TzfServerFolder* aFolder, uint32_t aTimeout, TzfOpenMode aOpenMode, TzfShareMode aShareMode,
                    RefPtr<TzfTableMapper> aMapper = nullptr);
  ~TzfServerDatabase() override;
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }
  void AfterConstruction() override;  // joins the folder
  void BeforeDestruction() override;  // leaves the folder
  // "Alias", "Folder", "OpenMode" and "ShareMode" (the enumeration names).
  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;
  // Options are looked up in the folder first, then along the inherited parents; a listing
  // merges the folder's own options with the inherited parent's.
  uint32_t esoOptionGetParent(const UnicodeString& aName, UnicodeString& aValue) override;
  uint32_t esoOptionListParent(rtl::TStrings& aList) override;

  uint32_t TableBuild(bool aOverWrite, const UnicodeString& aTableName, const UnicodeString& aPassword,
                      TzfDataDictionary* aDictionary, TzfTableScope aTableScope, bool aAllowSystem) override;
  uint32_t TablePack(const UnicodeString&, const UnicodeString&, TzfAbstractTaskInfo*& aTaskInfo) override;
  uint32_t TableBackup(const UnicodeString&, const UnicodeString&, TzfAbstractDatabase*,
                       TzfAbstractTaskInfo*& aTaskInfo) override;
  // The index rebuild and the checksum as tasks (zfsrServerIndexTasks): 10501 on a read-only
  // database (rebuild), 9997 for an index that is not there, 12289 for an index that cannot be
  // rebuilt or a table whose files keep no checksum, 9986 for a nested name (checksum).
  uint32_t TableRebuildIndex(const UnicodeString& aTableName, const UnicodeString& aPassword,
                             const UnicodeString& aIndexName, int32_t aIndexID,
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
  uint32_t TableVerifyChecksum(const UnicodeString& aTableName, const UnicodeString& aPassword, bool aRaw,
                               bool aForceRecheck, TzfAbstractTaskInfo*& aTaskInfo) override;
  uint32_t TableDelete(const UnicodeString& aTableName, const UnicodeString& aPassword) override;
  uint32_t TableEmpty(const UnicodeString& aTableName, const UnicodeString& aPassword) override;
  uint32_t TableChangePassword(const UnicodeString&, const UnicodeString&, const UnicodeString&) override;
  uint32_t TableExists(const UnicodeString& aTableName, const UnicodeString& aPassword, bool& aExists,
                       bool aAllowSystem) override;
  uint32_t TableGetDictionary(const UnicodeString& aTableName, const UnicodeString& aPassword,
                              TzfDataDictionary* aDictionary) override;
  uint32_t TableGetList(rtl::TStrings& aList) override;
  uint32_t TableAutoIncGet(const UnicodeString&, const UnicodeString&, uint32_t& aValue) override;
  // Appends the tables on which this database has cursors and that changed since the last call
  // (the first call: since the database was opened).
  uint32_t GetChangedTables(rtl::TStrings& aTables) override;
  uint32_t CursorOpen(TzfAbstractCursor*& aCursor, const UnicodeString&, const UnicodeString&, TzfOpenMode,
                      TzfShareMode, uint32_t, bool) override;
  // The linked SQL engine's statement; without one 12289 "An SQL Engine is required".
  uint32_t StatementAlloc(TzfAbstractStatement*& aStatement, uint32_t aTimeout) override;
  // Allocates, prepares, parameterises, runs (and, with aGetParamsStream, reads back the
  // parameters of) one statement, with the thread's timeouts suspended; aPhase tells the step
  // that answered. The statement is freed in every case, aCursor on failure.
  uint32_t StatementExecDirect(uint32_t aTimeout, TzfStatementType aStatementType, const UnicodeString& aQueryText,
                               rtl::TStream* aPrepareStream, TzfSqlParamList& aParams, rtl::TStream* aSetParamsStream,
                               TzfAbstractCursor*& aCursor, TzfOpenMode aOpenMode, rtl::TStream* aExecStream,
                               rtl::TStream* aGetParamsStream, TzfStatementExecDirectPhase& aPhase) override;
  // Hands the dictionary of every table of the folder and of this database (in list order) to
  // aIterator: an open table's own, else one read for the call. irStop ends the walk with irStop;
  // a code of the listing or a read is raised.
  using TzfDictionaryIterator = std::function<TzfIteratorResult(TzfDataDictionary* aDictionary, void* aCookie)>;
  TzfIteratorResult sdIterateDictionaries(const TzfDictionaryIterator& aIterator, void* aCookie);
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
  // The recover's worker (zfsrServerRecover): builds "<name>_Recovered" and "<name>_Failed" and the
  // task that salvages the source into them; on failure the tables it built are deleted again.
  uint32_t sdTableRecover(const UnicodeString& aTableName, const UnicodeString& aPassword,
                          TzfAbstractTaskInfo*& aTaskInfo);
  // The restructure's worker (zfsrTaskRestructure): builds the new table and the task that copies
  // the records into it; on failure the table it built is deleted again.
  uint32_t sdTableRestructure(const UnicodeString& aTableName, const UnicodeString& aPassword,
                              TzfDataDictionary* aDictionary, TzfBaseTableMapperDescriptor* aMapperDesc,
                              TzfAbstractTaskInfo*& aTaskInfo);
  // Workers of the index rebuild and the checksum: a private database and an exclusive cursor
  // handed to the task they make.
  uint32_t sdTableRebuildIndex(const UnicodeString& aTableName, const UnicodeString& aPassword,
                               const UnicodeString& aIndexName, int32_t aIndexID, TzfAbstractTaskInfo*& aTaskInfo);
  uint32_t sdTableVerifyChecksum(const UnicodeString& aTableName, const UnicodeString& aPassword, bool aRaw,
                                 bool aForceRecheck, TzfAbstractTaskInfo*& aTaskInfo);
  // The root table of aTableName (mapped, open in the folder, or opened now); aIsReadOnly when
  // the passwords grant only reading. The nested path after ":" is not followed here. A table
  // opened now is checked against its "$TableName" stream unless aInternal, when the engine
  // option seoVerifyTableNames is set (10039 when the stored name differs).
  uint32_t sdGetTable(TzfServerRootTable*& aTable, const UnicodeString& aTableName, const UnicodeString& aPassword,
                      bool aForServer, bool& aIsReadOnly, bool aInternal = true);
  // Opens a table cursor ("root" or "root:nested"): omWriteOnly is omReadWrite; 10501 for a
  // writing cursor of a read-only database; 10253 when the table's cursors refuse the share
  // (unless aIgnoreExcl); 10763 for a writing cursor on a table opened read-only. A password that
  // grants only reading gives a read-only cursor. The caller frees the cursor.
  uint32_t sdCursorOpen(TzfServerTableCursor*& aCursor, const UnicodeString& aTableName,
                        const UnicodeString& aPassword, bool aForServer, TzfOpenMode aOpenMode,
                        TzfShareMode aShareMode, bool aIgnoreExcl, uint32_t aTimeout, bool aInternal,
                        bool aBlobCache = false);
  TzfUnicodeStrings sdBuildPasswords(const UnicodeString& aPassword);
  // The private database of a task: this one's session, alias, folder, modes and timeout, share
  // rules ignored, running in aTransContext (nil: a context of its own); it shares this database's
  // temporary tables when aShareTables. The caller frees it (also when the code is not 0).
  uint32_t sdOpenPrivate(TzfAbstractTransContext* aTransContext, bool aShareTables, TzfServerDatabase*& aPrivate);
  int32_t GetStructureGeneration();
  void sdStructureChanged(bool aFolderToo);

  TzfServerSession* sdSession;
  UnicodeString sdAlias;
  TzfServerFolder* sdFolder;
  // Client name -> root table of this database's temporary tables (shared with maintenance
  // databases; the last reference frees the tables).
  RefPtr<TzfTableMapper> sdTables;
  TzfOpenMode sdOpenMode;
  TzfShareMode sdShareMode;
  int32_t sdStructureGeneration = 0;
  int32_t sdFolderStructureGeneration = 0;
  // The LSN up to which GetChangedTables has reported.
  TzfLSN sdLastCheckLSN = 0;
  // Resolves BLOB links of this database's cursors; made with the database, freed before its
  // cursors.
  std::unique_ptr<TzfBlobLinkHandler> sdBlobLinkHandler;

 protected:
  // Writes aNewName into the "$TableName" stream of the renamed table; the code of the write.
  virtual uint32_t sdWriteTableName(const UnicodeString& aNewName, const TzfUnicodeStrings& aPasswords);

 private:
  uint32_t Framed(const std::function<uint32_t()>& aWork);
  uint32_t NotHere();
  // The launch of a task: aWorker inside the frame makes the task; after the session lock is given
  // back a task made with 0 is started (the caller waits up to 2000 ms for it to begin) and handed
  // to the caller, one made with another code is freed.
  uint32_t LaunchTask(const std::function<uint32_t(TzfAbstractTaskInfo*&)>& aWorker,
                      TzfAbstractTaskInfo*& aTaskInfo);
  // The mapped table of aName (the caller holds the mapper's padlock), or nullptr.
  TzfServerRootTable* sdMapped(const UnicodeString& aName);
  // Runs aWork on a cursor of its own (the database's timeout), freed afterwards.
  uint32_t sdWithCursor(const UnicodeString& aTableName, const UnicodeString& aPassword, TzfOpenMode aOpenMode,
                        TzfShareMode aShareMode, const std::function<uint32_t(TzfServerTableCursor*)>& aWork);
  // Frees a mapped table when nothing uses it; false (10031) when it is in use.
  bool sdTakeOver(TzfServerRootTable* aTable);
  bool sdIsUnused(TzfServerRootTable* aTable);
  void sdNoteStructure(const UnicodeString& aName);
  bool sdInFolder = false;
};

}  // namespace zf
