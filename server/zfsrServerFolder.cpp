#include "server/zfsrServerFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <set>

#include "foundation/zfllConvertException.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "foundation/zfllUtils.h"
#include "server/zfsrServerEngineComponent.h"
#include "storage/zfsrBlock.h"
#include "storage/zfsrBufferManager.h"
#include "storage/zfsrFileHandling.h"
#include "storage/zfsrFileImpl.h"
#include "storage/zfseJournalEngine.h"

namespace zf {

namespace {

std::string Native(const UnicodeString& aText) { return rtl::u8(aText); }

constexpr char16_t kConfigName[] = u"zfTrans.cfg";

// Every regular file of aDirectory whose extension is exactly "." + aExtension, case ignored.
template <typename F>
void ForEachTableFile(const UnicodeString& aDirectory, const UnicodeString& aExtension, F aEach) {
  DIR* d = ::opendir(Native(aDirectory).c_str());
  if (!d) return;
  const UnicodeString wanted = u"." + aExtension;
  while (dirent* e = ::readdir(d)) {
    const UnicodeString name = rtl::u16(e->d_name);
    const size_t dot = name.rfind(u'.');
    if (dot == UnicodeString::npos || dot == 0 || !rtl::SameText(name.substr(dot), wanted)) continue;
    const std::string full = Native(aDirectory) + e->d_name;
    struct stat st {};
    if (::stat(full.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    aEach(full, name, st);
  }
  ::closedir(d);
}

// Bytes 8..15 of a table file; 0 when short or unreadable.
TzfLSN ReadFileLSN(const std::string& aFile) {
  const int fd = ::open(aFile.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  uint8_t b[8];
  const ssize_t n = ::pread(fd, b, 8, 8);
  ::close(fd);
  if (n != 8) return 0;
  return static_cast<TzfLSN>(zfGetLE64(b));
}

// A minimal transaction for the folder's table builds: commits with a flush, rolls back whole.
class TzfFolderTransaction : public TzfBaseTransaction {
 public:
  TzfFolderTransaction(TzfBufferManager* aBM) : TzfBaseTransaction(aBM, nullptr, false, false) {}
  void Commit() override {
    TzfFlushList list;
    btBufferManager->CommitTransaction(this, &list, false);
    list.Flush(false);
  }
  void Rollback() override { btBufferManager->RollbackTransaction(this); }
};

}  // namespace

int64_t zfPackedDosTime(int64_t aUnixSeconds) {
  const time_t t = static_cast<time_t>(aUnixSeconds);
  struct tm lt {};
  if (!::localtime_r(&t, &lt) || lt.tm_year < 80) return 0;
  const int64_t date = (int64_t(lt.tm_year - 80) << 9) | (int64_t(lt.tm_mon + 1) << 5) | lt.tm_mday;
  const int64_t time = (int64_t(lt.tm_hour) << 11) | (int64_t(lt.tm_min) << 5) | (lt.tm_sec / 2);
  return (date << 16) | time;
}

TzfLSN zfScanTableLSN(const UnicodeString& aDirectory, const UnicodeString& aExtension) {
  TzfLSN largest = 0;
  ForEachTableFile(aDirectory, aExtension, [&](const std::string& aFull, const UnicodeString&, const struct stat&) {
    const TzfLSN lsn = ReadFileLSN(aFull);
    if (lsn > largest) largest = lsn;
  });
  return largest == INT64_MAX ? largest : largest + 1;
}

bool zfTransConfigIsCurrent(const UnicodeString& aConfigFile, const UnicodeString& aExtension) {
  struct stat st {};
  if (::stat(Native(aConfigFile).c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 8) return false;
  // 64-bit arithmetic: a 32-bit limit would overflow for dates from 2043 on.
  const int64_t limit = zfPackedDosTime(st.st_mtime) + 1000;
  bool current = true;
  ForEachTableFile(rtl::ExtractFilePath(aConfigFile), aExtension,
                   [&](const std::string&, const UnicodeString&, const struct stat& aSt) {
                     if (zfPackedDosTime(aSt.st_mtime) > limit) current = false;
                   });
  return current;
}

uint32_t zfNormaliseFolderPath(const UnicodeString& aDirectory, UnicodeString& aPath) {
  aPath = rtl::Trim(aDirectory);
  if (aPath.empty() || aPath[0] == u'#') return 0;
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(Native(aPath)), ec);
  if (ec) return zfErrDirNotExists;
  p = p.lexically_normal();
  std::string s = p.string();
  if (!std::filesystem::is_directory(p, ec)) return zfErrDirNotExists;
  if (s.size() > 1 && s.back() != '/') s += '/';
  aPath = rtl::u16(s);
  return 0;
}

// ---------------------------------------------------------------------------------------------
// TzfServerTransactionMgr

TzfServerTransactionMgr::TzfServerTransactionMgr(TzfServerFolder* aFolder)
    : TzfBaseTransactionMgr(aFolder->sfServerEngine->seBufferManager.get()), stmFolder(aFolder) {
  stmLoadConfig();
}

TzfServerTransactionMgr::~TzfServerTransactionMgr() {
  try {
    stmSaveConfig(true);
  } catch (...) {
  }
}

void TzfServerTransactionMgr::stmLoadConfig() {
  TzfServerFolder* f = stmFolder;
  TzfLSN value = 1;
  if (!f->sfInMemOnly) {
    const UnicodeString ext = f->sfServerEngine->TableExtension();
    const UnicodeString name = f->sfPath + kConfigName;
    stmConfigFile = TzfBaseFile::Alloc(false, name, btmBufferManager);
    bool have = false;
    if (!f->sfReadOnly) {
      if (zfTransConfigIsCurrent(name, ext)) {
        try {
          stmConfigFile->OpenFile(omReadWrite, smExclusive, true, false);
          uint8_t b[8];
          try {
            stmConfigFile->ReadFileExactAt(0, 8, b);
            value = static_cast<TzfLSN>(zfGetLE64(b));
          } catch (...) {
            value = zfScanTableLSN(f->sfPath, ext);
          }
          have = true;
        } catch (...) {
        }
      }
      if (!have) {
        try {
          if (stmConfigFile->FileIsOpen()) stmConfigFile->CloseFile();
          stmConfigFile->OpenFile(omReadWrite, smExclusive, true, true);
          value = zfScanTableLSN(f->sfPath, ext);
          have = true;
        } catch (...) {
          f->sfReadOnly = true;
        }
      }
      // A stored value is never trusted below what a table file already holds.
      if (have) value = std::max(value, zfScanTableLSN(f->sfPath, ext));
    }
    if (f->sfReadOnly) {
      if (stmConfigFile->FileIsOpen()) {
        try {
          stmConfigFile->CloseFile();
        } catch (...) {
        }
      }
      bool read = false;
      if (zfTransConfigIsCurrent(name, ext)) {
        try {
          stmConfigFile->OpenFile(omReadOnly, smShared, false, false);
          uint8_t b[8];
          stmConfigFile->ReadFileExactAt(0, 8, b);
          value = static_cast<TzfLSN>(zfGetLE64(b));
          read = true;
        } catch (...) {
        }
        try {
          if (stmConfigFile->FileIsOpen()) stmConfigFile->CloseFile();
        } catch (...) {
        }
      }
      if (!read) value = zfScanTableLSN(f->sfPath, ext);
      stmConfigFile.reset();
    }
  }
  if (value < 1) value = 1;
  // Raised before the file is written, so the file holds at least the value found.
  btmBufferManager->RaiseCurrentLSN(value);
  stmSaveConfig(false);
}

void TzfServerTransactionMgr::stmSaveConfig(bool aClose) {
  if (!stmConfigFile) return;
  if (stmConfigFile->FileIsOpen() && !stmFolder->sfReadOnly && !stmFolder->sfInMemOnly) {
    try {
      uint8_t b[8];
      zfPutLE64(b, static_cast<uint64_t>(btmBufferManager->AllocateLSN()));
      stmConfigFile->WriteFileExactAt(0, 8, b);
    } catch (...) {
      // The next open raises the LSN from the table files again, so a stale file loses nothing;
      // the failure is reported, not dropped.
      const uint32_t code = zfConvertException(std::current_exception(), nullptr, nullptr);
      uint32_t lastCode = 0;
      UnicodeString text;
      EzfBaseException::GetLastConvertedException(lastCode, text);
      zfWriteStorageLog(u"Saving \"zfTrans.cfg\" of " + stmFolder->sfPath + u" failed: " + text, code);
    }
  }
  if (aClose) {
    try {
      if (stmConfigFile->FileIsOpen()) stmConfigFile->CloseFile();
    } catch (...) {
    }
    stmConfigFile.reset();
  }
}

TzfBaseJournalEngine* TzfServerTransactionMgr::CreateJournal() {
  if (stmFolder->sfInMemOnly || stmFolder->sfReadOnly || !zfJournalEngineClassSetting) return nullptr;
  const uint32_t nr = stmJournalNumber.fetch_add(1) + 1;
  const UnicodeString name = stmFolder->sfPath + rtl::UIntToStr(nr) + u"." + kzfJournalExtension;
  return zfJournalEngineClassSetting->Create(name).release();
}

// ---------------------------------------------------------------------------------------------
// TzfServerFolder

const rtl::TClassInfo& TzfServerFolder::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfServerFolder", &TzfLockedOptionsExtendableServerObject::ClassInfo()};
  return info;
}

TzfServerFolder* TzfServerFolder::Create(TzfServerEngine* aServerEngine, const UnicodeString& aPath) {
  auto* f = new TzfServerFolder(aServerEngine, aPath);
  try {
    f->AfterConstruction();
  } catch (...) {
    f->Free();
    throw;
  }
  return f;
}

TzfServerFolder::TzfServerFolder(TzfServerEngine* aServerEngine, const UnicodeString& aPath)
    : TzfLockedOptionsExtendableServerObject(nullptr), sfServerEngine(aServerEngine), sfPath(aPath) {
  sfInMemOnly = aServerEngine->HasOption(seoInMemOnly) || aPath.empty() || aPath[0] == u'#';
  sfReadOnly = !sfInMemOnly && aServerEngine->HasOption(seoReadOnly);
  stTransManager = std::make_unique<TzfServerTransactionMgr>(this);
  sfForceFailSafe = aServerEngine->HasOption(seoForceFailSafe);
  aServerEngine->seAddFolder(sfPath, this);
  sfInEngine = true;
}

TzfServerFolder::~TzfServerFolder() {
  if (sfInEngine) sfServerEngine->seRemoveFolder(sfPath, this);
  {
    TzfPadlockGuard g(sfTablesPadlock);
    while (!sfTables.empty()) {
      TzfServerRootTable* t = std::prev(sfTables.end())->second.second;
      try {
        t->Free();
      } catch (const std::exception& e) {
        asoConvertException(e);
        sfRemoveTable(t->srtName, t);
      }
    }
  }
  stTransManager.reset();
}

void TzfServerFolder::AfterConstruction() {
  TzfLockedOptionsExtendableServerObject::AfterConstruction();
  sfServerEngine->seFolderCount.fetch_add(1);
  sfLockedIncDone = true;
}

void TzfServerFolder::BeforeDestruction() {
  if (sfLockedIncDone) sfServerEngine->seFolderCount.fetch_sub(1);
  sfLockedIncDone = false;
  TzfLockedOptionsExtendableServerObject::BeforeDestruction();
}

TzfBaseServerEngine* TzfServerFolder::asoGetServerEngine() { return sfServerEngine; }

void TzfServerFolder::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfLockedOptionsExtendableServerObject::AddExceptionData(aContainer);
  aContainer.AddString(u"Path", sfPath);
  aContainer.AddBoolean(u"InMemOnly", sfInMemOnly);
  aContainer.AddBoolean(u"ReadOnly", sfReadOnly);
  const int32_t dbs = sfDatabaseCount.load();
  aContainer.AddString(u"OpenDatabases", dbs == 0 ? u"None" : dbs == 1 ? u"One" : u"Multiple");
  aContainer.AddInteger(u"OpenTables", sfTableCount());
}

void TzfServerFolder::sfAddTable(const UnicodeString& aName, TzfServerRootTable* aTable) {
  TzfPadlockGuard g(sfTablesPadlock);
  if (!sfTables.emplace(rtl::UpperCase(aName), std::make_pair(aName, aTable)).second)
    throw EzfServerException(zfErrNameNotUnique);
}

void TzfServerFolder::sfRemoveTable(const UnicodeString& aName, TzfServerRootTable* aTable) {
  TzfPadlockGuard g(sfTablesPadlock);
  auto it = sfTables.find(rtl::UpperCase(aName));
  if (it != sfTables.end() && it->second.second == aTable) sfTables.erase(it);
}

TzfServerRootTable* TzfServerFolder::sfFindTable(const UnicodeString& aName) {
  TzfPadlockGuard g(sfTablesPadlock);
  auto it = sfTables.find(rtl::UpperCase(aName));
  return it == sfTables.end() ? nullptr : it->second.second;
}

int32_t TzfServerFolder::sfTableCount() {
  TzfPadlockGuard g(sfTablesPadlock);
  return static_cast<int32_t>(sfTables.size());
}

UnicodeString TzfServerFolder::sfStripExtension(const UnicodeString& aName) {
  const UnicodeString ext = u"." + sfServerEngine->TableExtension();
  if (aName.size() > ext.size() && rtl::SameText(aName.substr(aName.size() - ext.size()), ext))
    return aName.substr(0, aName.size() - ext.size());
  return aName;
}

bool TzfServerFolder::sfCloseWhenUnused(TzfServerRootTable* aTable, bool aIgnoreKeepInMemory, bool aRequestClose) {
  aTable->sbtLockIsInactive.fetch_add(1);
  const bool inactive = aTable->srtIsInactive(aIgnoreKeepInMemory, aRequestClose, 1);
  aTable->sbtLockIsInactive.fetch_sub(1);
  int32_t expected = 0;
  if (!inactive || !aTable->sbtLockIsInactive.compare_exchange_strong(expected, 0)) return false;
  try {
    aTable->Free();
    return true;
  } catch (const std::exception& e) {
    asoConvertException(e);
    return false;
  }
}

uint32_t TzfServerFolder::sfTableExists(const UnicodeString& aTableName) {
  try {
    const UnicodeString name = sfStripExtension(aTableName);
    TzfPadlockGuard g(sfTablesPadlock);
    if (TzfServerRootTable* t = sfFindTable(name))
      return t->srtTableScope == tsTempDatabase || t->srtTableScope == tsTempUnnamed ? zfErrObjNotFound : 0;
    if (sfInMemOnly || zfIsTempGlobalTableName(name) || zfIsTempDatabaseTableName(name)) return zfErrObjNotFound;
    if (name.empty() || !zfIsValidTableName(name)) return zfErrObjNotFound;
    bool ambiguous = false;
    const UnicodeString file = zfFindFileIgnoringCase(
        zfCombinePath(sfPath, zfAddExtension(name, sfServerEngine->TableExtension())), ambiguous);
    return file.empty() ? zfErrObjNotFound : 0;
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

uint32_t TzfServerFolder::sfTableCreate(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                        TzfServerRootTable*& aTable, TzfTableScope aTableScope,
                                        TzfDataDictionary* aDictionary, bool aForServer) {
  aTable = nullptr;
  if (sfReadOnly && (aTableScope == tsPersistent || aTableScope == tsTempGlobal)) return zfErrReadOnlyDb;
  if (sfInMemOnly && aTableScope == tsPersistent)
    return EzfBaseException::zfSetMessage(zfErrNotSupported,
                                          u"TableScope tsPersistent is not supported for in-memory database");
  TzfServerRootTable* table = TzfServerRootTable::Create(this, aTableName, omReadWrite, smExclusive, aTableScope);
  uint32_t code = 0;
  std::unique_ptr<TzfFolderTransaction> trans;
  try {
    trans = std::make_unique<TzfFolderTransaction>(sfServerEngine->seBufferManager.get());
    TzfFileAttributes attributes = 0;
    if (aTableScope != tsPersistent) attributes |= zfFileAttr(zffaTemporary);
    if (aTableScope == tsTempGlobal || aTableScope == tsTempDatabase) attributes |= zfFileAttr(zffaMemTable);
    TzfUnicodeStrings passwords;
    zfMakeUnicodeStrings(aPassword, passwords);
    code = table->srtBuild(trans.get(), passwords, aForServer, aDictionary, attributes, nullptr, aTableName);
    if (code == 0) trans->Commit();
  } catch (const std::exception& e) {
    code = asoConvertException(e);
  }
  if (code != 0) {
    if (trans) {
      try {
        trans->Rollback();
      } catch (...) {
      }
    }
    trans.reset();
    table->Free();
    return code;
  }
  aTable = table;
  return 0;
}

uint32_t TzfServerFolder::sfTableBuild(bool aOverWrite, const UnicodeString& aTableName, const UnicodeString& aPassword,
                                       bool aForServer, TzfDataDictionary* aDictionary, TzfTableScope aTableScope) {
  try {
    TzfTableScope scope = aTableScope;
    uint32_t code = NotifyExtenders(eaTableBuild, true, {aOverWrite, aTableName, aDictionary, &scope});
    if (code != 0) return code;
    if (sfReadOnly) return zfErrReadOnlyDb;
    TzfPadlockGuard g(sfTablesPadlock);
    if (TzfServerRootTable* open = sfFindTable(aTableName))
      if (!sfCloseWhenUnused(open, true, true)) return zfErrTableOpen;
    if (aTableName.empty() || (scope == tsPersistent && !zfIsValidTableName(aTableName))) return zfErrInvalidTableName;
    if (sfTableExists(aTableName) == 0) {
      if (!aOverWrite) return zfErrTableExists;
      TzfUnicodeStrings passwords;
      zfMakeUnicodeStrings(aPassword, passwords);
      const uint32_t deleted = sfTableDelete(aTableName, passwords, aForServer);
      if (deleted != 0) {
        // The answer stays "Table is read only."; the real cause goes to the log.
        sfServerEngine->seLogWarning(u"Build with overwrite of \"" + aTableName + u"\": delete answered " +
                                     rtl::UIntToStr(deleted));
        return zfErrTableReadOnly;
      }
    }
    TzfServerRootTable* table = nullptr;
    code = sfTableCreate(aTableName, aPassword, table, scope, aDictionary, aForServer);
    if (code != 0) return code;
    if (table->srtIsInactive(false, false, 0)) table->Free();
    sfStructureGeneration.fetch_add(1);
    return NotifyExtenders(eaTableBuild, false, {aOverWrite, aTableName, aDictionary, &scope});
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

uint32_t TzfServerFolder::sfTableGetDictionary(const UnicodeString& aTableName, const TzfUnicodeStrings& aPasswords,
                                               bool aForServer, TzfDataDictionary& aDict, UnicodeString* aPassword) {
  try {
    TzfPadlockGuard g(sfTablesPadlock);
    if (TzfServerRootTable* t = sfFindTable(aTableName)) {
      aDict.Assign(t->srtDictionary.get());
      return 0;
    }
    const auto notFound = [&] {
      return EzfBaseException::zfSetMessage(zfErrNoSuchTable, UnicodeString(zfOrgMarker) + u"Root table \"" +
                                                                  aTableName + u"\" not found");
    };
    if (sfInMemOnly) return notFound();
    if (!zfIsValidTableName(aTableName)) return zfErrInvalidTableName;
    bool ambiguous = false;
    if (zfFindFileIgnoringCase(zfCombinePath(sfPath, zfAddExtension(aTableName, sfServerEngine->TableExtension())),
                               ambiguous)
            .empty())
      return notFound();
    TzfServerRootTable* t = TzfServerRootTable::Create(this, aTableName, omReadOnly, smShared, tsPersistent);
    struct Freer {
      TzfServerRootTable* t;
      ~Freer() { t->Free(); }
    } freer{t};
    bool ro = false;
    const uint32_t code = t->srtOpen(nullptr, aPasswords, aForServer, 0, ro);
    if (code != 0) return code;
    aDict.Assign(t->srtDictionary.get());
    if (aPassword) *aPassword = t->srtExtractPassword();
    return 0;
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

bool TzfServerFolder::sfTableFileLocked(const UnicodeString& aTableName) {
  if (sfInMemOnly || !zfIsValidTableName(aTableName)) return false;
  // The table's files are its name + "." + an extension; without its dictionary every file of the
  // folder named so (letter case aside) is looked at.
  const UnicodeString prefix = rtl::UpperCase(aTableName) + u".";
  try {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(rtl::u8(sfPath), ec)) {
      const UnicodeString file = rtl::u16(e.path().filename().string());
      if (file.size() > prefix.size() && rtl::UpperCase(file.substr(0, prefix.size())) == prefix &&
          TzfExclusiveFileLocks::IsLocked(rtl::u16(e.path().string())))
        return true;
    }
  } catch (const std::exception&) {
  }
  return false;
}

uint32_t TzfServerFolder::sfTableDelete(const UnicodeString& aTableName, const TzfUnicodeStrings& aPasswords,
                                        bool aForServer) {
  try {
    uint32_t code = NotifyExtenders(eaTableDelete, true, {aTableName});
    if (code != 0) return code;
    if (sfReadOnly) return zfErrReadOnlyDb;
    if (aTableName.empty()) return zfErrInvalidTableName;
    TzfPadlockGuard g(sfTablesPadlock);
    TzfServerDataDict dict;
    bool haveDict = false;
    UnicodeString name = sfStripExtension(aTableName);
    if (TzfServerRootTable* open = sfFindTable(name)) {
      const bool temporary = open->srtTableScope != tsPersistent;
      TzfServerDataDict copy;
      copy.Assign(open->srtDictionary.get());
      name = open->srtName;
      if (!sfCloseWhenUnused(open, true, true)) return zfErrTableOpen;
      if (temporary) return 0;
      dict.Assign(&copy);
      haveDict = true;
    } else {
      code = sfTableGetDictionary(name, aPasswords, aForServer, dict, nullptr);
      if (code == 0) {
        haveDict = true;
      } else if (code == zfErrInvalidTableName || code == zfErrNoSuchTable) {
        if (code == zfErrNoSuchTable && sfTableFileLocked(name)) return zfErrFileLocked;
        return code;
      } else if (code == zfErrTableReadOnly || code == zfErrInvalidUserPassword || code == zfErrInvalidPassword) {
        // A table that is readable with the right password is never destroyed for a wrong one.
        return code;
      }
    }
    const UnicodeString ext = sfServerEngine->TableExtension();
    bool ambiguous = false;
    UnicodeString main = zfFindFileIgnoringCase(zfCombinePath(sfPath, zfAddExtension(name, ext)), ambiguous);
    if (main.empty()) main = zfCombinePath(sfPath, zfAddExtension(name, ext));
    const UnicodeString base = rtl::ChangeFileExt(rtl::ExtractFileName(main), u"");
    // A header that cannot be read: only the main file goes.
    std::vector<UnicodeString> files{main};
    if (haveDict)
      for (int32_t i = 1; i < dict.ddFilesDescriptor->FileCount; ++i)
        files.push_back(
            zfCombinePath(sfPath, zfAddExtension(base, dict.ddFilesDescriptor->FileDescriptor[size_t(i)]->fdExtension)));
    // No file another process holds is deleted: all of them are locked first.
    TzfExclusiveFileLocks locks;
    for (const UnicodeString& f : files) locks.Lock(f);
    for (const UnicodeString& f : files) zfDeleteFile(f);
    sfStructureGeneration.fetch_add(1);
    return NotifyExtenders(eaTableDelete, false, {aTableName});
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

uint32_t TzfServerFolder::sfTableEmpty(const UnicodeString& aTableName, const TzfUnicodeStrings& aPasswords,
                                       bool aForServer) {
  try {
    uint32_t code = NotifyExtenders(eaTableEmpty, true, {aTableName});
    if (code != 0) return code;
    if (sfReadOnly) return zfErrReadOnlyDb;
    if (aTableName.empty()) return zfErrInvalidTableName;
    TzfPadlockGuard g(sfTablesPadlock);
    TzfServerDataDict dict;
    TzfTableScope scope = tsPersistent;
    UnicodeString password;
    if (TzfServerRootTable* open = sfFindTable(aTableName)) {
      dict.Assign(open->srtDictionary.get());
      scope = open->srtTableScope;
      password = open->srtExtractPassword();
      if (!sfCloseWhenUnused(open, true, true)) return zfErrTableOpen;
    } else {
      code = sfTableGetDictionary(aTableName, aPasswords, aForServer, dict, &password);
      if (code != 0) return code;
    }
    dict.ForceOffReadOnly();
    code = sfTableBuild(true, aTableName, password, aForServer, &dict, scope);
    if (code != 0) return code;
    return NotifyExtenders(eaTableEmpty, false, {aTableName});
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

uint32_t TzfServerFolder::sfTableRename(const UnicodeString& aOldName, const UnicodeString& aNewName,
                                        const TzfUnicodeStrings& aPasswords, bool aForServer) {
  try {
    uint32_t code = NotifyExtenders(eaTableRename, true, {aOldName, aNewName});
    if (code != 0) return code;
    if (sfReadOnly) return zfErrReadOnlyDb;
    TzfPadlockGuard g(sfTablesPadlock);
    const UnicodeString oldName = sfStripExtension(aOldName), newName = sfStripExtension(aNewName);
    TzfServerRootTable* open = sfFindTable(oldName);
    if (TzfServerRootTable* target = sfFindTable(newName))
      if (target != open && !sfCloseWhenUnused(target, false, true)) return zfErrTableExists;
    if (sfTableExists(newName) == 0 && !(open && rtl::SameText(oldName, newName))) return zfErrTableExists;
    if (open && open->srtTableScope != tsPersistent) {
      open->srtRemoveFromFolder();
      open->srtName = newName;
      open->sbtNameInScope = newName;
      open->srtDictionary->ddBaseName = newName;
      open->srtAddToFolder();
      return 0;
    }
    TzfServerDataDict dict;
    UnicodeString diskOld = oldName;
    if (open) {
      dict.Assign(open->srtDictionary.get());
      diskOld = open->srtName;
      if (!sfCloseWhenUnused(open, false, true)) return zfErrTableOpen;
    } else {
      code = sfTableGetDictionary(oldName, aPasswords, aForServer, dict, nullptr);
      if (code != 0 && sfTableFileLocked(oldName)) return zfErrFileLocked;
      if (code != 0) return code;
      bool ambiguous = false;
      const UnicodeString main = zfFindFileIgnoringCase(
          zfCombinePath(sfPath, zfAddExtension(oldName, sfServerEngine->TableExtension())), ambiguous);
      if (!main.empty()) diskOld = rtl::ChangeFileExt(rtl::ExtractFileName(main), u"");
    }
    if (!zfIsValidTableName(newName)) return zfErrInvalidTableName;
    std::vector<std::pair<UnicodeString, UnicodeString>> renames;
    for (int32_t i = 0; i < std::max<int32_t>(1, dict.ddFilesDescriptor->FileCount); ++i) {
      const UnicodeString ext = i == 0 ? sfServerEngine->TableExtension()
                                       : dict.ddFilesDescriptor->FileDescriptor[size_t(i)]->fdExtension;
      renames.emplace_back(zfCombinePath(sfPath, zfAddExtension(diskOld, ext)),
                           zfCombinePath(sfPath, zfAddExtension(newName, ext)));
    }
    // No file another process holds is moved: all of them are locked first, and stay locked
    // (under their new names) until the renames are done.
    TzfExclusiveFileLocks locks;
    for (const auto& r : renames) locks.Lock(r.first);
    zfRenameFilesNoReplace(renames);
    sfStructureGeneration.fetch_add(1);
    return NotifyExtenders(eaTableRename, false, {aOldName, aNewName});
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

uint32_t TzfServerFolder::sfTableGetList(rtl::TStrings& aList) {
  try {
    aList.BeginUpdate();
    struct End {
      rtl::TStrings& l;
      ~End() { l.EndUpdate(); }
    } end{aList};
    aList.Clear();
    TzfPadlockGuard g(sfTablesPadlock);
    std::map<UnicodeString, std::pair<UnicodeString, TzfServerRootTable*>> work;
    for (auto& [key, entry] : sfTables) work.emplace(key, entry);
    if (!sfInMemOnly) {
      const UnicodeString ext = sfServerEngine->TableExtension();
      ForEachTableFile(sfPath, ext, [&](const std::string&, const UnicodeString& aName, const struct stat&) {
        const UnicodeString base = aName.substr(0, aName.size() - ext.size() - 1);
        work.emplace(rtl::UpperCase(base), std::make_pair(base, nullptr));
      });
    }
    for (auto& [key, entry] : work) {
      if (entry.second && (entry.second->srtTableScope == tsTempDatabase || entry.second->srtTableScope == tsTempUnnamed))
        continue;
      aList.Add(entry.first);
    }
    return 0;
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

uint32_t TzfServerFolder::sfTableMakeUniqueName(const UnicodeString& aBaseName, UnicodeString& aTableName) {
  try {
    TzfPadlockGuard g(sfTablesPadlock);
    aTableName = aBaseName;
    for (int64_t counter = 1; sfTableExists(aTableName) == 0; ++counter)
      aTableName = aBaseName + rtl::IntToStr(counter);
    return 0;
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

uint32_t TzfServerFolder::sfCloseInactiveTables() {
  try {
    uint32_t code = NotifyExtenders(eaCloseInactiveTables, true, {});
    if (code != 0) return code;
    {
      TzfPadlockGuard g(sfTablesPadlock);
      bool closed = true;
      while (closed) {
        closed = false;
        std::vector<TzfServerRootTable*> tables;
        for (auto& [key, entry] : sfTables) tables.push_back(entry.second);
        for (auto it = tables.rbegin(); it != tables.rend(); ++it)
          if (sfCloseWhenUnused(*it, false, true)) closed = true;
      }
    }
    return NotifyExtenders(eaCloseInactiveTables, false, {});
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

bool TzfServerFolder::sfIsInactive(bool aIgnoreKeepInMemory, bool aRequestClose) {
  if (sfDatabaseCount.load() > 0) return false;
  TzfPadlockGuard g(sfTablesPadlock);
  for (auto it = sfTables.rbegin(); it != sfTables.rend(); ++it)
    if (!it->second.second->srtIsInactive(aIgnoreKeepInMemory, aRequestClose, 0)) return false;
  return true;
}

uint32_t TzfServerFolder::sfTableOpen(const UnicodeString& aTableName, const TzfUnicodeStrings& aPasswords,
                                      bool aForServer, TzfOpenMode aOpenMode, TzfShareMode aShareMode,
                                      TzfServerRootTable*& aTable) {
  aTable = nullptr;
  try {
    TzfPadlockGuard g(sfTablesPadlock);
    const UnicodeString name = sfStripExtension(aTableName);
    if (TzfServerRootTable* open = sfFindTable(name)) {
      aTable = open;
      return 0;
    }
    if (sfInMemOnly) return zfErrNoSuchTable;
    if (!zfIsValidTableName(name)) return zfErrInvalidTableName;
    TzfServerRootTable* t = TzfServerRootTable::Create(this, name, sfReadOnly ? omReadOnly : aOpenMode, aShareMode,
                                                       tsPersistent);
    bool ro = false;
    const uint32_t code = t->srtOpen(nullptr, aPasswords, aForServer, 0, ro);
    if (code != 0) {
      t->Free();
      return code;
    }
    aTable = t;
    return 0;
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

}  // namespace zf
