#include "server/zfsrServerDatabase.h"

#include <sys/statvfs.h>

#include <set>

#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllStreamsRW.h"
#include "platform/rtl/rtlStringList.h"
#include "server/zfsrBlobLinkHandler.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerFolder.h"
#include "server/zfsrServerLinks.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "server/zfsrServerTransaction.h"
#include "storage/zfsrExceptions.h"
#include "storage/zfsrStreamEngineBase.h"
#include "storage/zfsrTimeoutHandling.h"
#include "storage/zfseJournalEngine.h"

namespace zf {

namespace {
UnicodeString Key(const UnicodeString& aName) { return rtl::UpperCase(aName); }
bool Blank(const UnicodeString& aName) { return !aName.empty() && aName[0] == u' '; }
}  // namespace

// ---- TzfServerDatabase ------------------------------------------------------------------------

TzfServerDatabase::TzfServerDatabase(TzfServerSession* aSession, TzfAbstractTransContext* aTransContext,
                                     const UnicodeString& aAlias, TzfServerFolder* aFolder, uint32_t aTimeout,
                                     TzfOpenMode aOpenMode, TzfShareMode aShareMode,
                                     RefPtr<TzfTableMapper> aMapper)
    : TzfAbstractDatabase(aSession, aTransContext, aTimeout),
      sdSession(aSession),
      sdAlias(aAlias),
      sdFolder(aFolder),
      sdTables(aMapper ? std::move(aMapper) : RefPtr<TzfTableMapper>::Create()),
      sdOpenMode(aOpenMode),
      sdShareMode(aShareMode),
      sdLastCheckLSN(aFolder->sfServerEngine->seBufferManager->ReadCurrentLSN()),
      sdBlobLinkHandler(std::make_unique<TzfBlobLinkHandler>(this)) {}

TzfServerDatabase::~TzfServerDatabase() = default;

const rtl::TClassInfo& TzfServerDatabase::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfServerDatabase", &TzfAbstractDatabase::ClassInfo()};
  return info;
}

void TzfServerDatabase::AfterConstruction() {
  TzfAbstractDatabase::AfterConstruction();
  TzfPadlockGuard g(sdFolder->sfDatabasesPadlock);
  sdFolder->sfDatabases.push_back(this);
  sdFolder->sfDatabaseCount.fetch_add(1);
  sdInFolder = true;
  sdFolderStructureGeneration = sdFolder->sfStructureGeneration.load();
  // The first database on a writable folder replays or removes the journals left there by
  // fail-safe commits that did not finish. A check that raises fails this open; the next open
  // checks again.
  if (!sdFolder->sfInMemOnly && !sdFolder->sfReadOnly && !sdFolder->sfJournalChecked && zfJournalEngineClassSetting) {
    Tzf1xJournalEngine::Check(*zfJournalEngineClassSetting, sdAlias, sdFolder->sfPath);
    sdFolder->sfJournalChecked = true;
  }
}

void TzfServerDatabase::BeforeDestruction() {
  // The link cursors are cursors of this database: they go before the database frees the rest.
  sdBlobLinkHandler.reset();
  // So do the target cursors of referential-integrity engines: the chain frees from its tail, so
  // a target cursor would otherwise go before the cursor whose engine still names it. The engines
  // are taken under the chain's lock and freed after it.
  std::vector<std::unique_ptr<TzfBaseRefIntegrityEngine>> engines;
  adCursors.ForEachLive([&](TzfAbstractServerObject* aCursor) {
    if (auto* c = dynamic_cast<TzfServerTableCursor*>(aCursor); c && c->sbcRefIntegrity)
      engines.push_back(std::move(c->sbcRefIntegrity));
  });
  engines.clear();
  TzfAbstractDatabase::BeforeDestruction();
  if (!sdFolder || !sdInFolder) return;
  {
    // The mapped temporary tables go with the last database that shares the mapper.
    // (The last owner frees them; nobody else can reach the mapper then, so its lock is not taken.)
    RefPtr<TzfTableMapper> mapper = std::move(sdTables);
    TzfPadlockGuard t(sdFolder->sfTablesPadlock);
    mapper.reset();
  }
  TzfPadlockGuard g(sdFolder->sfDatabasesPadlock);
  auto& list = sdFolder->sfDatabases;
  for (auto it = list.begin(); it != list.end(); ++it)
    if (*it == this) {
      list.erase(it);
      break;
    }
  sdFolder->sfDatabaseCount.fetch_sub(1);
  sdInFolder = false;
}

void TzfServerDatabase::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfAbstractDatabase::AddExceptionData(aContainer);
  static const char16_t* const openModes[] = {u"omReadOnly", u"omWriteOnly", u"omReadWrite"};
  static const char16_t* const shareModes[] = {u"smExclusive", u"smShared", u"smShareRead"};
  aContainer.AddString(u"Alias", sdAlias);
  aContainer.AddObject(u"Folder", sdFolder);
  aContainer.AddString(u"OpenMode", openModes[sdOpenMode]);
  aContainer.AddString(u"ShareMode", shareModes[sdShareMode]);
}

uint32_t TzfServerDatabase::esoOptionGetParent(const UnicodeString& aName, UnicodeString& aValue) {
  // The folder's options first (a folder has no option parent of its own), then the context's.
  if (sdFolder) {
    const uint32_t r = sdFolder->esoOptionGetEffective(aName, aValue);
    if (r != zfErrObjNotFound) return r;
  }
  return TzfAbstractDatabase::esoOptionGetParent(aName, aValue);
}

uint32_t TzfServerDatabase::esoOptionListParent(rtl::TStrings& aList) {
  if (!sdFolder) return TzfAbstractDatabase::esoOptionListParent(aList);
  if (const uint32_t r = sdFolder->esoOptionList(aList)) return r;
  rtl::TStringList inherited;
  if (const uint32_t r = TzfAbstractDatabase::esoOptionListParent(inherited)) return r;
  return esoOptionListMerge(aList, inherited);
}

uint32_t TzfServerDatabase::Framed(const std::function<uint32_t()>& aWork) {
  TzfOperationFrame frame;
  return PublicOperation(frame, aWork);
}

uint32_t TzfServerDatabase::NotHere() { return zfErrNotSupported; }

TzfServerRootTable* TzfServerDatabase::sdMapped(const UnicodeString& aName) {
  return static_cast<TzfServerRootTable*>(sdTables->FindMapping(aName));
}

TzfUnicodeStrings TzfServerDatabase::sdBuildPasswords(const UnicodeString& aPassword) {
  TzfUnicodeStrings list = sdSession ? sdSession->ssPasswordsCopy() : TzfUnicodeStrings();
  if (!aPassword.empty()) list.push_back(aPassword);
  return list;
}

int32_t TzfServerDatabase::GetStructureGeneration() {
  const int32_t folder = sdFolder->sfStructureGeneration.load();
  if (folder != sdFolderStructureGeneration) {
    sdFolderStructureGeneration = folder;
    ++sdStructureGeneration;
  }
  return sdStructureGeneration;
}

void TzfServerDatabase::sdStructureChanged(bool aFolderToo) {
  ++sdStructureGeneration;
  if (aFolderToo) sdFolder->sfStructureGeneration.fetch_add(1);
  sdFolderStructureGeneration = sdFolder->sfStructureGeneration.load();
}

void TzfServerDatabase::sdNoteStructure(const UnicodeString& aName) {
  if (Blank(aName)) return;
  ++sdStructureGeneration;
  sdFolderStructureGeneration = sdFolder->sfStructureGeneration.load();
}

bool TzfServerDatabase::sdIsUnused(TzfServerRootTable* aTable) {
  // The folder's pattern for unused tables: the test counts itself as the one expected lock.
  aTable->sbtLockIsInactive.fetch_add(1);
  const bool inactive = aTable->srtIsInactive(true, true, 1);
  aTable->sbtLockIsInactive.fetch_sub(1);
  return inactive;
}

bool TzfServerDatabase::sdTakeOver(TzfServerRootTable* aTable) {
  if (!sdIsUnused(aTable)) return false;
  aTable->Free();
  return true;
}

// ---- table operations -------------------------------------------------------------------------

uint32_t TzfServerDatabase::TableBuild(bool aOverWrite, const UnicodeString& aTableName, const UnicodeString& aPassword,
                                       TzfDataDictionary* aDictionary, TzfTableScope aTableScope, bool aAllowSystem) {
  if (aDictionary) aDictionary->CheckValid(true);  // its exception reaches the caller
  if (const uint32_t r = zfCheckTableName(aTableName, false, aAllowSystem)) return r;
  return Framed([&] { return sdTableBuild(aOverWrite, aTableName, aPassword, aDictionary, aTableScope); });
}

uint32_t TzfServerDatabase::sdTableBuild(bool aOverWrite, const UnicodeString& aTableName,
                                         const UnicodeString& aPassword, TzfDataDictionary* aDictionary,
                                         TzfTableScope aTableScope) {
  if (sdOpenMode == omReadOnly) return zfErrReadOnlyDb;
  TzfTableScope scope = aTableScope;
  if (scope == tsPersistent) {
    if (sdFolder->sfInMemOnly || zfIsTempGlobalTableName(aTableName))
      scope = tsTempGlobal;
    else if (zfIsTempDatabaseTableName(aTableName))
      scope = tsTempDatabase;
  }
  TzfTableScope* scopeAddress = &scope;
  if (const uint32_t veto = NotifyExtenders(eaTableBuild, true, {aOverWrite, aTableName, aDictionary, scopeAddress}))
    return veto;
  uint32_t code = 0;
  {
    // The folder's table padlock before the mapper, as every worker takes them.
    TzfPadlockGuard tables(sdFolder->sfTablesPadlock);
    TzfTableMapperLock mapper(*sdTables);
    TzfServerRootTable* mapped = sdMapped(aTableName);
    if (mapped && !aOverWrite) return zfErrTableExists;
    if ((scope == tsTempGlobal || scope == tsTempDatabase) && !aOverWrite && sdFolder->sfTableExists(aTableName) == 0)
      return zfErrTableExists;
    if (scope == tsTempDatabase) {
      TzfServerRootTable* table = nullptr;
      code = sdFolder->sfTableCreate(UnicodeString(), aPassword, table, tsTempDatabase, aDictionary, false);
      if (code != 0) return code;
      table->sbtNameInScope = aTableName;
      table->srtDictionary->ddBaseName = aTableName;
      if (mapped && !sdTakeOver(mapped)) {
        table->Free();
        return zfErrTableOpen;
      }
      sdTables->SetMapping(aTableName, table);
    } else {
      if (mapped) {
        if (!sdTakeOver(mapped)) return zfErrTableOpen;
        sdTables->RemoveMapping(aTableName);
      }
      code = sdFolder->sfTableBuild(aOverWrite, aTableName, aPassword, false, aDictionary, scope);
      if (code != 0) return code;
    }
    sdNoteStructure(aTableName);
  }
  return NotifyExtenders(eaTableBuild, false, {aOverWrite, aTableName, aDictionary, scopeAddress});
}

uint32_t TzfServerDatabase::TableDelete(const UnicodeString& aTableName, const UnicodeString& aPassword) {
  if (const uint32_t r = zfCheckTableName(aTableName, true, false)) return r;
  return Framed([&] { return sdTableDelete(aTableName, aPassword); });
}

uint32_t TzfServerDatabase::sdTableDelete(const UnicodeString& aTableName, const UnicodeString& aPassword) {
  const TzfUnicodeStrings passwords = sdBuildPasswords(aPassword);
  if (sdOpenMode == omReadOnly) return zfErrReadOnlyDb;
  if (const uint32_t veto = NotifyExtenders(eaTableDelete, true, {aTableName})) return veto;
  {
    TzfPadlockGuard tables(sdFolder->sfTablesPadlock);
    TzfTableMapperLock mapper(*sdTables);
    if (TzfServerRootTable* mapped = sdMapped(aTableName)) {
      if (const uint32_t r = mapped->srtCheckPasswords(passwords)) return r;
      if (!sdTakeOver(mapped)) return zfErrTableOpen;
      sdTables->RemoveMapping(aTableName);
    } else if (const uint32_t r = sdFolder->sfTableDelete(aTableName, passwords, false)) {
      return r;
    }
  }
  if (const uint32_t r = NotifyExtenders(eaTableDelete, false, {aTableName})) return r;
  sdNoteStructure(aTableName);
  return 0;
}

uint32_t TzfServerDatabase::TableEmpty(const UnicodeString& aTableName, const UnicodeString& aPassword) {
  if (const uint32_t r = zfCheckTableName(aTableName, true, false)) return r;
  return Framed([&]() -> uint32_t {
    if (sdOpenMode == omReadOnly) return zfErrReadOnlyDb;
    if (const uint32_t veto = NotifyExtenders(eaTableEmpty, true, {aTableName})) return veto;
    const TzfUnicodeStrings passwords = sdBuildPasswords(aPassword);
    {
      TzfPadlockGuard tables(sdFolder->sfTablesPadlock);
      TzfTableMapperLock mapper(*sdTables);
      if (TzfServerRootTable* mapped = sdMapped(aTableName)) {
        if (const uint32_t r = mapped->srtCheckPasswords(passwords)) return r;
        if (!sdIsUnused(mapped)) return zfErrTableOpen;
        TzfServerRootTable* fresh = nullptr;
        const uint32_t r = sdFolder->sfTableCreate(UnicodeString(), mapped->srtExtractPassword(), fresh,
                                                   mapped->srtTableScope, mapped->srtDictionary.get(),
                                                   mapped->srtForServer);
        if (r != 0) return r;
        fresh->sbtNameInScope = mapped->sbtNameInScope;
        fresh->srtDictionary->ddBaseName = mapped->sbtNameInScope;
        mapped->Free();
        sdTables->SetMapping(aTableName, fresh);
      } else if (const uint32_t r = sdFolder->sfTableEmpty(aTableName, passwords, false)) {
        return r;
      }
    }
    return NotifyExtenders(eaTableEmpty, false, {aTableName});
  });
}

uint32_t TzfServerDatabase::TableRename(const UnicodeString& aOldName, const UnicodeString& aNewName,
                                        const UnicodeString& aPassword) {
  if (const uint32_t r = zfCheckTableName(aOldName, true, false)) return r;
  if (const uint32_t r = zfCheckTableName(aNewName, false, false)) return r;
  return Framed([&] { return sdTableRename(aOldName, aNewName, aPassword); });
}

uint32_t TzfServerDatabase::sdTableRename(const UnicodeString& aOldName, const UnicodeString& aNewName,
                                          const UnicodeString& aPassword) {
  const TzfUnicodeStrings passwords = sdBuildPasswords(aPassword);
  if (sdOpenMode == omReadOnly) return zfErrReadOnlyDb;
  TzfPadlockGuard tables(sdFolder->sfTablesPadlock);
  TzfTableMapperLock mapper(*sdTables);
  if (TzfServerRootTable* mapped = sdMapped(aOldName)) {
    if (sdMapped(aNewName) || sdFolder->sfTableExists(aNewName) == 0) return zfErrTableExists;
    if (const uint32_t r = mapped->srtCheckPasswords(passwords)) return r;
    mapped->sbtNameInScope = aNewName;
    mapped->srtDictionary->ddBaseName = aNewName;
    sdTables->RemoveMapping(aOldName);
    sdTables->SetMapping(aNewName, mapped);
  } else {
    if (const uint32_t veto = NotifyExtenders(eaTableRename, true, {aOldName, aNewName})) return veto;
    if (const uint32_t r = sdFolder->sfTableRename(aOldName, aNewName, passwords, false)) return r;
    if (const uint32_t r = NotifyExtenders(eaTableRename, false, {aOldName, aNewName})) return r;
    // The files are moved: the rename stands. A "$TableName" stream that cannot be rewritten is
    // logged with its code, so that renames following this one (the tool renames a damaged
    // source this way) are not stopped by it.
    const uint32_t nameCode = sdWriteTableName(aNewName, passwords);
    if (nameCode != 0)
      sdFolder->sfServerEngine->seLogWarning(u"Rename of \"" + aOldName + u"\" to \"" + aNewName +
                                             u"\": the table name stream could not be written (" +
                                             rtl::IntToStr(nameCode) + u")");
  }
  if (!Blank(aOldName) && !Blank(aNewName)) sdNoteStructure(aNewName);
  return 0;
}

uint32_t TzfServerDatabase::sdWriteTableName(const UnicodeString& aNewName, const TzfUnicodeStrings& aPasswords) {
  try {
    TzfServerRootTable* table = nullptr;
    uint32_t code = sdFolder->sfTableOpen(aNewName, aPasswords, false, omReadWrite, smExclusive, table);
    if (code != 0 || !table || !table->srtStreamEngine) return code;
    TzfServerTransaction trans(sdFolder->sfServerEngine->seBufferManager.get(), nullptr, nullptr, false, false);
    TzfMemoryStream ms;
    {
      TzfWriter w(ms);
      w.WriteString(aNewName);
    }
    ms.SetPosition(0);
    code = table->srtStreamEngine->WriteNamedStream(&trans, u"$TableName", ms);
    if (code == 0)
      trans.Commit();
    else
      trans.Rollback();
    return code;
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

uint32_t TzfServerDatabase::TableExists(const UnicodeString& aTableName, const UnicodeString& aPassword, bool& aExists,
                                        bool aAllowSystem) {
  aExists = false;
  if (aTableName.empty()) return 0;
  if (const uint32_t r = zfCheckFullTableName(aTableName, true, aAllowSystem)) return r;
  return Framed([&]() -> uint32_t {
    if (const uint32_t veto = NotifyExtenders(eaTableExists, true, {aTableName, &aExists})) return veto;
    const uint32_t r = sdTableExists(aTableName, aPassword, false);
    if (r == 0)
      aExists = true;
    else if (r != zfErrObjNotFound)
      return r;
    return NotifyExtenders(eaTableExists, false, {aTableName, &aExists});
  });
}

uint32_t TzfServerDatabase::sdTableExists(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                          bool aForServer) {
  TzfPadlockGuard tables(sdFolder->sfTablesPadlock);
  TzfTableMapperLock mapper(*sdTables);
  const size_t colon = aTableName.find(u':');
  const UnicodeString root = aTableName.substr(0, colon);
  if (sdMapped(root)) return 0;
  uint32_t r = sdFolder->sfTableExists(root);
  if (r == 0 && colon != UnicodeString::npos) {
    TzfServerRootTable* table = nullptr;
    bool readOnly = false;
    r = sdGetTable(table, root, aPassword, aForServer, readOnly);
    if (r == 0 && table) {
      TzfServerBaseTable* child = nullptr;
      r = table->GetChild(aTableName.substr(colon + 1), child);
    }
  }
  return r == zfErrNoSuchTable ? zfErrObjNotFound : r;
}

uint32_t TzfServerDatabase::sdGetTable(TzfServerRootTable*& aTable, const UnicodeString& aTableName,
                                       const UnicodeString& aPassword, bool aForServer, bool& aIsReadOnly,
                                       bool aInternal) {
  aTable = nullptr;
  aIsReadOnly = false;
  const TzfUnicodeStrings passwords = sdBuildPasswords(aPassword);
  const UnicodeString root = aTableName.substr(0, aTableName.find(u':'));
  TzfPadlockGuard tables(sdFolder->sfTablesPadlock);
  TzfTableMapperLock mapper(*sdTables);
  TzfServerRootTable* table = sdMapped(root);
  if (!table) table = sdFolder->sfFindTable(root);
  if (table) {
    uint32_t r = table->srtCheckPasswords(passwords);
    if (r == 10763) {
      aIsReadOnly = true;
      r = 0;
    }
    if (r != 0) return r;
    aTable = table;
    return 0;
  }
  const auto notFound = [&] {
    return EzfBaseException::zfSetMessage(zfErrNoSuchTable, u"Root table \"" + root + u"\" not found");
  };
  if (sdFolder->sfInMemOnly || sdFolder->sfTableExists(root) != 0) return notFound();
  uint32_t r = 0;
  if (sdFolder->sfReadOnly) {
    r = sdFolder->sfTableOpen(root, passwords, aForServer, omReadOnly, smShareRead, table);
  } else {
    r = sdFolder->sfTableOpen(root, passwords, aForServer, omReadWrite, smExclusive, table);
    // A file another process holds: the table is opened again for reading only.
    if (r == zfErrNoSuchTable) r = sdFolder->sfTableOpen(root, passwords, aForServer, omReadOnly, smShareRead, table);
  }
  if (r == zfErrNoSuchTable) return notFound();
  if (r != 0) return r;
  if (!aInternal && sdFolder->sfServerEngine->HasOption(seoVerifyTableNames) && table->srtStreamEngine) {
    UnicodeString stored;
    bool found = false;
    try {
      TzfMemoryStream ms;
      if (table->srtStreamEngine->ReadNamedStream(nullptr, u"$TableName", ms) == 0) {
        ms.SetPosition(0);
        TzfReader reader(ms);
        stored = reader.ReadString();
        found = true;
      }
    } catch (const std::exception& e) {
      table->Free();
      return asoConvertException(e);
    }
    if (found && !rtl::SameText(stored, root)) {
      table->Free();
      return EzfBaseException::zfSetMessage(
          zfErrInvalidTableName,
          u"Table file name (\"" + root + u"\") does not match actual table name (\"" + stored + u"\")");
    }
  }
  aTable = table;
  return 0;
}

uint32_t TzfServerDatabase::TableGetDictionary(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                               TzfDataDictionary* aDictionary) {
  if (const uint32_t r = zfCheckTableName(aTableName, true, false)) return r;
  return Framed([&]() -> uint32_t {
    const uint32_t veto = NotifyExtenders(eaTableGetDictionary, true, {aTableName, aDictionary});
    if (veto) return veto;
    const TzfUnicodeStrings passwords = sdBuildPasswords(aPassword);
    uint32_t r = 0;
    {
      TzfPadlockGuard tables(sdFolder->sfTablesPadlock);
      bool mappedHere = false;
      {
        TzfTableMapperLock mapper(*sdTables);
        if (TzfServerRootTable* mapped = sdMapped(aTableName)) {
          mappedHere = true;
          r = mapped->srtCheckPasswords(passwords);
          if (r == 0) aDictionary->Assign(mapped->srtDictionary.get());
          if (r != 0) return r;
        }
      }
      if (!mappedHere) {
        r = sdFolder->sfTableGetDictionary(aTableName, passwords, false, *aDictionary, nullptr);
        if (r != 0) return r;
      }
    }
    return NotifyExtenders(eaTableGetDictionary, false, {aTableName, aDictionary});
  });
}

uint32_t TzfServerDatabase::TableGetList(rtl::TStrings& aList) {
  return Framed([&]() -> uint32_t {
    if (const uint32_t r = sdTableGetList(aList)) return r;
    const bool system = IsSystemTableAccessAllowed();
    for (int32_t i = aList.Count() - 1; i >= 0; --i)
      if (zfCheckTableName(aList[i], false, system) != 0) aList.Delete(i);
    return 0;
  });
}

uint32_t TzfServerDatabase::sdTableGetList(rtl::TStrings& aList) {
  aList.Clear();
  if (const uint32_t veto = NotifyExtenders(eaTableGetList, true, {&aList})) return veto;
  rtl::TStringList folderList;
  TzfPadlockGuard tables(sdFolder->sfTablesPadlock);
  if (const uint32_t r = sdFolder->sfTableGetList(folderList)) return r;
  std::map<UnicodeString, UnicodeString> names;  // sorted, case ignored, first spelling kept
  for (int32_t i = 0; i < folderList.Count(); ++i) names.emplace(Key(folderList[i]), folderList[i]);
  {
    TzfTableMapperLock mapper(*sdTables);
    const rtl::TStringList& mapped = sdTables->MappingList();
    for (int32_t i = 0; i < mapped.Count(); ++i) names.emplace(Key(mapped[i]), mapped[i]);
  }
  for (auto& [key, name] : names) aList.Add(name);
  return NotifyExtenders(eaTableGetList, false, {&aList});
}

uint32_t TzfServerDatabase::GetFreespace(int64_t& aFreeSpace) {
  aFreeSpace = 0;
  return Framed([&]() -> uint32_t {
    struct statvfs st{};
    const std::string path = rtl::u8(sdFolder->sfPath);
    if (path.empty() || ::statvfs(path.c_str(), &st) != 0) return zfErrOSUnknown;
    aFreeSpace = static_cast<int64_t>((static_cast<unsigned __int128>(st.f_bavail) * st.f_frsize) / 1024);
    return 0;
  });
}

uint32_t TzfServerDatabase::GetPath(UnicodeString& aPath) {
  aPath = sdFolder->sfPath;
  return 0;
}

uint32_t TzfServerDatabase::StatementAlloc(TzfAbstractStatement*& aStatement, uint32_t aTimeout) {
  aStatement = nullptr;
  return Framed([&]() -> uint32_t {
    const uint32_t code = zfSqlStatementAlloc(sdFolder->sfServerEngine->SqlEngine(), this, aStatement, aTimeout);
    if (code != 0 && aStatement) {
      aStatement->Free();  // half made
      aStatement = nullptr;
    }
    return code;
  });
}

uint32_t TzfServerDatabase::StatementExecDirect(uint32_t aTimeout, TzfStatementType aStatementType,
                                                const UnicodeString& aQueryText, rtl::TStream* aPrepareStream,
                                                TzfSqlParamList& aParams, rtl::TStream* aSetParamsStream,
                                                TzfAbstractCursor*& aCursor, TzfOpenMode aOpenMode,
                                                rtl::TStream* aExecStream, rtl::TStream* aGetParamsStream,
                                                TzfStatementExecDirectPhase& aPhase) {
  aCursor = nullptr;
  aPhase = sedAlloc;
  TzfOperationFrame frame;
  frame.Timeout = aTimeout;
  return PublicOperation(frame, [&]() -> uint32_t {
    // The statement goes in every case, the cursor unless the whole run succeeded; the thread's
    // timeouts stay suspended for the run.
    struct Run {
      TzfAbstractCursor*& Cursor;
      TzfAbstractStatement* Statement = nullptr;
      bool Done = false;
      explicit Run(TzfAbstractCursor*& aCursor) : Cursor(aCursor) { zfSuspendTimeout(); }
      ~Run() {
        if (Statement) Statement->Free();
        if (!Done && Cursor) {
          Cursor->Free();
          Cursor = nullptr;
        }
        zfResumeTimeout();
      }
    } run(aCursor);
    uint32_t code = zfSqlStatementAlloc(sdFolder->sfServerEngine->SqlEngine(), this, run.Statement, aTimeout);
    if (code != 0) return code;
    if (!run.Statement) return zfErrNotSupported;
    run.Statement->SetExecDirect(true);
    aPhase = sedPrepare;
    if ((code = run.Statement->Prepare(aStatementType, aQueryText, aPrepareStream)) != 0) return code;
    aPhase = sedSetParams;
    if ((code = run.Statement->SetParams(aParams, aSetParamsStream)) != 0) return code;
    aPhase = sedExec;
    if ((code = run.Statement->Exec(aCursor, aOpenMode, aExecStream)) != 0) return code;
    if (aGetParamsStream) {
      aPhase = sedGetParams;
      if ((code = run.Statement->GetParams(aParams, aGetParamsStream)) != 0) return code;
    }
    aPhase = sedFree;
    run.Done = true;
    return 0;
  });
}

TzfIteratorResult TzfServerDatabase::sdIterateDictionaries(const TzfDictionaryIterator& aIterator, void* aCookie) {
  TzfPadlockGuard tables(sdFolder->sfTablesPadlock);
  TzfTableMapperLock mapper(*sdTables);
  rtl::TStringList names;
  if (const uint32_t r = sdTableGetList(names)) throw EzfServerException(r);
  for (int32_t i = 0; i < names.Count(); ++i) {
    TzfServerRootTable* open = sdMapped(names[i]);
    if (!open) open = sdFolder->sfFindTable(names[i]);
    if (open) {
      if (aIterator(open->srtDictionary.get(), aCookie) == irStop) return irStop;
      continue;
    }
    TzfDataDictionary dictionary;
    if (const uint32_t r = sdFolder->sfTableGetDictionary(names[i], sdBuildPasswords(UnicodeString()), false,
                                                          dictionary, nullptr))
      throw EzfServerException(r);
    if (aIterator(&dictionary, aCookie) == irStop) return irStop;
  }
  return irContinue;
}

}  // namespace zf
