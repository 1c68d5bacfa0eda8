// Server folders and their transaction managers.
//
// A folder stands for one directory of table files; the engine keeps one per directory and every
// database opened on it shares it. It owns the list of open root tables, the chain of databases
// (kept by the database unit) and a transaction manager that keeps "zfTrans.cfg" with the next
// LSN and names the journal files of fail-safe transactions. Its table operations work on files:
// build, delete, empty, rename, exists, list, read a dictionary, unique names, close inactive
// tables. Every operation answers a code; exceptions are converted.
//
// "zfTrans.cfg", one per folder, valid only when exactly 8 bytes long:
//
//   offset 0, size 8: signed 64-bit little-endian next LSN of the buffer manager when written.
//
// A table file's own LSN is bytes 8..15 of the file (its block 0 LSN). On load the file is
// trusted only when no table file was written more than 1000 packed DOS-time units after it
// (the packed local date in the high 16 bits, the time in two-second units in the low 16);
// otherwise, or when it is short or unreadable, the LSN is rebuilt as the largest table-file LSN
// plus 1. The buffer manager's LSN is raised to the value before the file is written again, so
// the file never holds an LSN below one already in a table file.
//
// Folder keys are absolute, normalised directories with a trailing "/"; an empty text or one
// starting with "#" is an in-memory folder. Renames never overwrite (no-replace rename, then a
// directory sync).
//
// Lock order: the engine's seFoldersPadlock, then a folder's sfDatabasesPadlock; separately
// sfTablesPadlock (re-entrant, serialises every table operation of the folder), then tables'
// own locks.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <vector>
#include <memory>

#include "dictionary/zfsdServerObject.h"
#include "foundation/zfllSync.h"
#include "server/zfsrServerTable.h"
#include "storage/zfsrTransaction.h"

namespace zf {

class TzfServerEngine;
class TzfServerFolder;
class TzfDataDictionary;

// The packed local DOS date-time of a modification time (0 for a time before 1980).
int64_t zfPackedDosTime(int64_t aUnixSeconds);
// The largest LSN in bytes 8..15 of the table files of aDirectory plus 1 (1 without any); files
// whose extension is not exactly "." + aExtension (case ignored) are not table files.
TzfLSN zfScanTableLSN(const UnicodeString& aDirectory, const UnicodeString& aExtension);
// Whether aConfigFile is exactly 8 bytes and no table file of its directory is newer than its
// packed time + 1000 (computed in 64 bits).
bool zfTransConfigIsCurrent(const UnicodeString& aConfigFile, const UnicodeString& aExtension);
// The folder key of a directory text: "" or "#..." as is (in memory); otherwise the absolute,
// normalised path with a trailing "/". 10018 when the directory does not exist.
uint32_t zfNormaliseFolderPath(const UnicodeString& aDirectory, UnicodeString& aPath);

class TzfServerTransactionMgr : public TzfBaseTransactionMgr {
 public:
  // Binds the engine's buffer manager and loads "zfTrans.cfg" (it may make the folder read-only).
  explicit TzfServerTransactionMgr(TzfServerFolder* aFolder);
  // Saves and closes "zfTrans.cfg".
  ~TzfServerTransactionMgr() override;
  // A journal of the registered journal class for the next transaction number; nil for an
  // in-memory or read-only folder or without a journal class.
  TzfBaseJournalEngine* CreateJournal() override;

  void stmLoadConfig();
  void stmSaveConfig(bool aClose);

  TzfServerFolder* stmFolder;
  std::unique_ptr<TzfBaseFile> stmConfigFile;
  std::atomic<uint32_t> stmJournalNumber{0};
};

class TzfServerFolder : public TzfLockedOptionsExtendableServerObject {
 public:
  // Constructs, enters the engine's list (the caller holds seFoldersPadlock) and runs the second
  // phase; the engine frees it with Free().
  static TzfServerFolder* Create(TzfServerEngine* aServerEngine, const UnicodeString& aPath);
  TzfServerFolder(TzfServerEngine* aServerEngine, const UnicodeString& aPath);
  ~TzfServerFolder() override;
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }
  void AfterConstruction() override;
  void BeforeDestruction() override;
  TzfBaseServerEngine* asoGetServerEngine() override;
  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

  uint32_t sfTableBuild(bool aOverWrite, const UnicodeString& aTableName, const UnicodeString& aPassword,
                        bool aForServer, TzfDataDictionary* aDictionary, TzfTableScope aTableScope);
  uint32_t sfTableCreate(const UnicodeString& aTableName, const UnicodeString& aPassword, TzfServerRootTable*& aTable,
                         TzfTableScope aTableScope, TzfDataDictionary* aDictionary, bool aForServer);
  uint32_t sfTableDelete(const UnicodeString& aTableName, const TzfUnicodeStrings& aPasswords, bool aForServer);
  uint32_t sfTableEmpty(const UnicodeString& aTableName, const TzfUnicodeStrings& aPasswords, bool aForServer);
  uint32_t sfTableRename(const UnicodeString& aOldName, const UnicodeString& aNewName,
                         const TzfUnicodeStrings& aPasswords, bool aForServer);
  // True when the main file of the closed table aTableName is locked by another open (another
  // process holding the table): an open refused for that is no missing table.
  bool sfTableFileLocked(const UnicodeString& aTableName);
  // 0 when the table exists, else 8712.
  uint32_t sfTableExists(const UnicodeString& aTableName);
  uint32_t sfTableGetDictionary(const UnicodeString& aTableName, const TzfUnicodeStrings& aPasswords, bool aForServer,
                                TzfDataDictionary& aDict, UnicodeString* aPassword);
  uint32_t sfTableGetList(rtl::TStrings& aList);
  uint32_t sfTableMakeUniqueName(const UnicodeString& aBaseName, UnicodeString& aTableName);
  uint32_t sfCloseInactiveTables();
  bool sfIsInactive(bool aIgnoreKeepInMemory, bool aRequestClose);
  // Opens an existing root table of the folder (or answers the open one, pinned by the caller's
  // use): the database unit's seam, used by tests and the fuzz target.
  uint32_t sfTableOpen(const UnicodeString& aTableName, const TzfUnicodeStrings& aPasswords, bool aForServer,
                       TzfOpenMode aOpenMode, TzfShareMode aShareMode, TzfServerRootTable*& aTable);
  void LockTables() { sfTablesPadlock.Lock(); }
  void UnlockTables() { sfTablesPadlock.Unlock(); }

  // The table list (under sfTablesPadlock): names compared without regard to case.
  void sfAddTable(const UnicodeString& aName, TzfServerRootTable* aTable);
  void sfRemoveTable(const UnicodeString& aName, TzfServerRootTable* aTable);
  TzfServerRootTable* sfFindTable(const UnicodeString& aName);
  int32_t sfTableCount();
  // The databases open on the folder (the database unit counts them).
  std::atomic<int32_t> sfDatabaseCount{0};
  // The databases open on the folder, in opening order (under sfDatabasesPadlock).
  std::vector<TzfAbstractDatabase*> sfDatabases;

  TzfServerEngine* sfServerEngine;
  UnicodeString sfPath;
  bool sfInMemOnly = false;
  bool sfReadOnly = false;
  bool sfJournalChecked = false;
  std::unique_ptr<TzfServerTransactionMgr> stTransManager;
  bool sfForceFailSafe = false;
  TzfPadlock sfDatabasesPadlock;
  TzfPadlock sfTablesPadlock;
  bool sfLockedIncDone = false;
  std::atomic<int32_t> sfStructureGeneration{0};

 private:
  // Closes an open root table when it is unused; true when it was freed.
  bool sfCloseWhenUnused(TzfServerRootTable* aTable, bool aIgnoreKeepInMemory, bool aRequestClose);
  UnicodeString sfStripExtension(const UnicodeString& aName);
  std::map<UnicodeString, std::pair<UnicodeString, TzfServerRootTable*>> sfTables;  // upper-cased key
  bool sfInEngine = false;
};

}  // namespace zf
