// Open tables of the server.
//
// A table file holds one root table and the nested tables its dictionary declares. The root
// (TzfServerRootTable) owns what belongs to the file as a whole: the files, the data dictionary,
// the stream engine, the commit padlock, the content portal and the transaction-lock lists (it is
// the TzfTransLockTable its transactions lock; the lists are kept by the transaction unit). Every table, root or nested, owns its
// own block accessors, sub-engines, lock container and cursor chain. A folder keeps one root
// table per open name in its list and shares it between all databases on the directory.
//
// Files: main file = name + "." + the engine's table extension; further files = name + "." +
// the file descriptor's extension, all in the folder's directory. Opening looks for the exact
// name first, then for one file whose name differs only in letter case (the table takes the
// name on disk); two such files and no exact one are refused, never guessed.
//
// Lock order: the folder's sfTablesPadlock, then a table's sbtCursorsPadlock; a root's
// srtCommitPadlock before its content portal; every lock container's gate is a leaf.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "dictionary/zfsdServerObject.h"
#include "foundation/zfllSync.h"
#include "foundation/zfllSyncPortal.h"
#include "index/zfseIndicesEngineHandle.h"
#include "index/zfsrFulltextEngineBase.h"
#include "server/zfsrContentLock.h"
#include "server/zfsrContentPortal.h"
#include "server/zfsrTableLockContainer.h"
#include "server/zfsrServerTransaction.h"
#include "storage/zfsrBlockAccess.h"
#include "storage/zfsrDataDictionary.h"
#include "storage/zfsrFile.h"

namespace zf {

class TzfServerFolder;
class TzfServerRootTable;
class TzfServerEngine;
class TzfBaseStreamEngine;
class TzfBaseRecordEngine;
class TzfBaseAutoIncEngine;
class TzfBaseBlobEngine;
class TzfServerTableCursorLink;

const char16_t* zfTableScopeName(TzfTableScope aScope);

struct TzfServerTableStats {
  uint32_t stsUsedBlocks = 0;
  uint32_t stsAvailableBlocks = 0;
  TzfBlockSignature stsHeaderSignature{};
  UnicodeString stsMainFileName;
  int64_t stsMainFileSize = 0;
  uint32_t stsFileVersion = 0;
  uint32_t stsOpenCursors = 0;
  uint32_t stsOpenByDatabases = 0;
  uint32_t stsOpenBySessions = 0;
  uint32_t stsNamedStreamCount = 0;
};

class TzfServerBaseTable : public TzfLockedOptionsExtendableServerObject {
 public:
  TzfServerBaseTable(TzfExtendableServerObject* aParent, const UnicodeString& aName,
                     TzfBaseTableDescriptor* aTableDescriptor);
  ~TzfServerBaseTable() override;
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  void AfterConstruction() override;
  void BeforeDestruction() override;
  TzfBaseServerEngine* asoGetServerEngine() override;
  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

  // The parent's FullName + ":" + the name in scope; a root answers its name.
  virtual UnicodeString FullName();
  // Resolves a nested path ("a:b", ".", ".."); 10024 with a pending text when a part is missing.
  uint32_t GetChild(const UnicodeString& aChildName, TzfServerBaseTable*& aTable);

  void sbtSetTableDescriptor(TzfBaseTableDescriptor* aDescriptor);
  void sbtCreateBlockAccess();
  void sbtFreeBlockAccess();
  void sbtCreateEngines(TzfBaseTransaction* aTrans);
  void sbtFreeEngines();
  void sbtCreateChilds(TzfBaseTransaction* aTrans);
  void sbtFreeChilds();
  // Ends the container's binding to aTrans here and in every nested table.
  void sbtEndTransaction(TzfBaseTransaction* aTrans);
  // Asks cursors to close (none of this level registers close handlers yet); true when no
  // cursor is left here or in a nested table.
  bool sbtCloseCursors(bool aIgnoreKeepInMemory, bool aRequestClose, int32_t aExpectedLocks);
  TzfServerTableStats sbtGetStats(TzfBaseTransaction* aTrans);
  // Under a read of the root's content portal: the LSN of this table's header block.
  TzfLSN sbtGetLSN(TzfBaseTransaction* aTrans);
  // A NULL record revision becomes 0.
  void sbtInitRecRev(uint8_t* aRecord);
  // 10259 when the revisions differ; else the new record gets the revision plus one (wrapping).
  uint32_t sbtCheckRecRev(const uint8_t* aStoredRecord, uint8_t* aNewRecord);

  // Cursors register here (the cursor unit keeps the chain); the count is what inactivity reads.
  void sbtAddCursor(TzfAbstractCursor* aCursor);
  void sbtRemoveCursor(TzfAbstractCursor* aCursor);
  int32_t sbtCursorCountLocked();

  TzfServerRootTable* sbtRoot = nullptr;
  TzfServerBaseTable* sbtParent = nullptr;
  std::vector<TzfServerBaseTable*> sbtChilds;
  std::map<UnicodeString, TzfServerBaseTable*> sbtChildNames;  // keys upper-cased: case ignored
  UnicodeString sbtNameInScope;
  TzfPadlock sbtCursorsPadlock{true};
  std::vector<TzfAbstractCursor*> sbtCursors;
  std::atomic<int32_t> sbtLockIsInactive{0};
  std::unique_ptr<TzfTableLockContainer> sbtLocks;
  TzfBaseTableDescriptor* sbtTableDescriptor = nullptr;
  TzfFieldsDescriptor* sbtFieldsDescriptor = nullptr;
  bool sbtHasBlobFields = false;
  std::vector<int32_t> sbtBlobFields;
  int32_t sbtAutoIncField = -1;
  int32_t sbtRecRevField = -1;
  TzfBlockAccessList sbtBlockAccess;
  std::vector<std::unique_ptr<TzfBlockAccess>> sbtBlockAccessOwned;
  std::unique_ptr<TzfBaseAutoIncEngine> sbtAutoIncEngine;
  std::unique_ptr<TzfBaseRecordEngine> sbtRecordEngine;
  std::unique_ptr<TzfBaseBlobEngine> sbtBlobEngine;
  PzfIndicesEngineHandle sbtIndicesEngine;
  // The table's full-text indexes; nil without a "Fulltext" descriptor. Made after the indices
  // engine (token indexes may live in the main indexes), freed before it.
  std::unique_ptr<TzfBaseFulltextTableEngine> sbtFulltextEngine;
  bool sbtLockedIncDone = false;
};

class TzfServerRootTable : public TzfServerBaseTable, public TzfTransLockTable {
 public:
  // Enters the folder's list under srtName (an empty name gets " UnnamedTable_<address>_<n>").
  TzfServerRootTable(TzfServerFolder* aFolder, const UnicodeString& aName, TzfOpenMode aOpenMode,
                     TzfShareMode aShareMode, TzfTableScope aTableScope);
  // Leaves the folder, closes the files.
  ~TzfServerRootTable() override;
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }
  // Constructs and runs the second phase; the caller frees with Free().
  static TzfServerRootTable* Create(TzfServerFolder* aFolder, const UnicodeString& aName, TzfOpenMode aOpenMode,
                                    TzfShareMode aShareMode, TzfTableScope aTableScope);

  UnicodeString FullName() override { return srtName; }
  TzfBaseServerEngine* asoGetServerEngine() override;
  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

  // Creates the files of a new table; 0 or a code, the table closed (and a persistent table's
  // files deleted) on failure. The caller commits or rolls back aTrans.
  uint32_t srtBuild(TzfBaseTransaction* aTrans, const TzfUnicodeStrings& aPasswords, bool aForServer,
                    TzfDataDictionary* aDictionary, TzfFileAttributes aAttributes, TzfBaseTempStorage* aTempStore,
                    const UnicodeString& aTableName);
  // Opens the files of an existing table; 0 or a code (a file that cannot be opened: 10024).
  uint32_t srtOpen(TzfBaseTransaction* aTrans, const TzfUnicodeStrings& aPasswords, bool aForServer,
                   TzfFileAttributes aAttributes, bool& aIsReadOnly);
  uint32_t srtCloseFiles();
  uint32_t srtCreateFile(int32_t aIndex, TzfBaseTransaction* aTrans, TzfBaseTempStorage* aTempStore,
                         TzfFileAttributes aAttributes, bool aForServer, const TzfUnicodeStrings& aPasswords);
  // Deletes every file of the dictionary; failures are not reported.
  void srtDeleteFiles();
  void srtAddToFolder();
  void srtRemoveFromFolder();
  bool srtIsInactive(bool aIgnoreKeepInMemory, bool aRequestClose, int32_t aExpectedLocks);
  uint32_t srtCheckPasswords(const TzfUnicodeStrings& aPasswords);
  UnicodeString srtExtractPassword();
  void srtUpdateMaxID();

  // ---- The transaction-lock side (TzfTransLockTable) ----
  UnicodeString tltFullName() override { return srtName; }
  TzfTableScope tltScope() override { return srtTableScope; }
  // Persistent tables are journalled by their folder.
  const void* tltJournalFolder() override;
  TzfBaseJournalEngine* tltCreateJournal() override;
  // Takes the commit padlock, then the content portal's write side.
  void srtBeginCommit(TzfBaseTransaction* aTrans) override;
  // The lock containers end the transaction; the portal leaves write mode.
  void srtEndCommit(TzfBaseTransaction* aTrans) override;
  void srtUnlockCommit(TzfBaseTransaction* aTrans) override;
  // The record and BLOB engines of this table and its nested tables drop what they kept for aTrans.
  void sbtRollbackEngines(TzfBaseTransaction* aTrans) override;
  void sbtEndTransaction(TzfBaseTransaction* aTrans) override { TzfServerBaseTable::sbtEndTransaction(aTrans); }
  // The file name of file aIndex (0: the main file) for the table's current name.
  UnicodeString srtFileName(int32_t aIndex);

  TzfServerFolder* srtFolder;
  bool srtForServer = false;
  TzfTableScope srtTableScope;
  UnicodeString srtName;
  TzfOpenMode srtOpenMode;
  TzfShareMode srtShareMode;
  TzfPadlock srtCommitPadlock{false};
  TzfContentPortal srtContentPortal;
  // Held by every cursor operation's content work on this table (see TzfIndexAccessLock).
  TzfIndexAccessLock srtIndexAccess;
  uint32_t srtSnapshotBlockCount = 0;
  // Opened inside a TzfIndexTolerantOpen scope and some index could not be opened: the table has
  // no indices engine there and opens read-only.
  bool srtIndexesUnused = false;
  std::vector<std::unique_ptr<TzfBaseFile>> srtFiles;
  TzfBaseFile* srtMainFile = nullptr;
  std::unique_ptr<TzfServerDataDict> srtDictionary;
  std::unique_ptr<TzfBaseStreamEngine> srtStreamEngine;

 private:
  bool srtInFolder = false;
};

// While one lives on a thread, the tables that thread opens tolerate indexes that cannot be opened
// (the source of a recover): the failure is logged, the indexes stay unused and the table opens
// read-only. A header or "DICT" that cannot be read still fails the open.
class TzfIndexTolerantOpen {
 public:
  TzfIndexTolerantOpen();
  ~TzfIndexTolerantOpen();
  TzfIndexTolerantOpen(const TzfIndexTolerantOpen&) = delete;
  TzfIndexTolerantOpen& operator=(const TzfIndexTolerantOpen&) = delete;
};
bool zfInIndexTolerantOpen();

// The name of the file on disk for aFileName: the exact name when it exists, else the one entry
// of its folder that matches without regard to case. Empty when none exists; aAmbiguous is set
// when two or more entries match only without regard to case.
UnicodeString zfFindFileIgnoringCase(const UnicodeString& aFileName, bool& aAmbiguous);

}  // namespace zf
