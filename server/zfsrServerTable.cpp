#include "server/zfsrServerTable.h"

#include "server/zfsrServerTableCursor.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "foundation/zfllList.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllStreamsRW.h"
#include "index/zfseIndicesEngineHandle.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerFolder.h"
#include "server/zfsrServerTransaction.h"
#include "storage/zfsrAutoIncEngineBase.h"
#include "storage/zfsrBlobEngineBase.h"
#include "storage/zfsrBufferManager.h"
#include "storage/zfsrEncryptionEngineBase.h"
#include "storage/zfsrFileHandling.h"
#include "storage/zfsrRecordEngineBase.h"
#include "storage/zfsrStreamEngineBase.h"

namespace zf {

namespace {

std::atomic<int32_t> gUnnamedCounter{0};

UnicodeString Upper(const UnicodeString& aText) { return rtl::UpperCase(aText); }

std::string Native(const UnicodeString& aText) { return rtl::u8(aText); }

}  // namespace

const char16_t* zfTableScopeName(TzfTableScope aScope) {
  static const char16_t* const names[] = {u"tsPersistent", u"tsTempGlobal", u"tsTempDatabase", u"tsTempUnnamed"};
  return names[static_cast<int>(aScope)];
}

UnicodeString zfFindFileIgnoringCase(const UnicodeString& aFileName, bool& aAmbiguous) {
  aAmbiguous = false;
  struct stat st {};
  if (::stat(Native(aFileName).c_str(), &st) == 0 && S_ISREG(st.st_mode)) return aFileName;
  const UnicodeString dir = rtl::ExtractFilePath(aFileName);
  const UnicodeString wanted = Upper(rtl::ExtractFileName(aFileName));
  DIR* d = ::opendir(Native(dir.empty() ? UnicodeString(u".") : dir).c_str());
  if (!d) return UnicodeString();
  UnicodeString found;
  int matches = 0;
  while (dirent* e = ::readdir(d)) {
    const UnicodeString name = rtl::u16(e->d_name);
    if (Upper(name) != wanted) continue;
    const UnicodeString full = dir + name;
    if (::stat(Native(full).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    found = full;
    ++matches;
  }
  ::closedir(d);
  if (matches > 1) {
    aAmbiguous = true;
    return UnicodeString();
  }
  return found;
}

// ---------------------------------------------------------------------------------------------
// TzfServerBaseTable

const rtl::TClassInfo& TzfServerBaseTable::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfServerBaseTable", &TzfLockedOptionsExtendableServerObject::ClassInfo()};
  return info;
}

TzfServerBaseTable::TzfServerBaseTable(TzfExtendableServerObject* aParent, const UnicodeString& aName,
                                       TzfBaseTableDescriptor* aTableDescriptor)
    : TzfLockedOptionsExtendableServerObject(aParent) {
  sbtParent = dynamic_cast<TzfServerBaseTable*>(aParent);
  sbtTableDescriptor = aTableDescriptor;
  if (sbtParent) sbtRoot = sbtParent->sbtRoot;
  sbtLocks = std::make_unique<TzfTableLockContainer>();
  sbtNameInScope = aName;
  sbtFieldsDescriptor = aTableDescriptor ? aTableDescriptor->tdFieldsDescriptor.get() : nullptr;
}

TzfServerBaseTable::~TzfServerBaseTable() {
  // Cursors still in the chain belong to their databases; the cursor unit frees them before a
  // table goes. The lists are gone with the object.
}

void TzfServerBaseTable::AfterConstruction() {
  TzfLockedOptionsExtendableServerObject::AfterConstruction();
  if (auto* engine = dynamic_cast<TzfServerEngine*>(asoGetServerEngine())) {
    engine->seTableCount.fetch_add(1);
    sbtLockedIncDone = true;
  }
}

void TzfServerBaseTable::BeforeDestruction() {
  if (sbtLockedIncDone) {
    if (auto* engine = dynamic_cast<TzfServerEngine*>(asoGetServerEngine())) engine->seTableCount.fetch_sub(1);
    sbtLockedIncDone = false;
  }
  TzfLockedOptionsExtendableServerObject::BeforeDestruction();
}

TzfBaseServerEngine* TzfServerBaseTable::asoGetServerEngine() {
  return sbtRoot && sbtRoot != this ? sbtRoot->asoGetServerEngine() : nullptr;
}

UnicodeString TzfServerBaseTable::FullName() {
  if (!sbtParent) return sbtNameInScope;
  return sbtParent->FullName() + u":" + sbtNameInScope;
}

void TzfServerBaseTable::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfLockedOptionsExtendableServerObject::AddExceptionData(aContainer);
  aContainer.AddString(u"FullName", FullName());
  TzfPadlockGuard g(sbtCursorsPadlock);
  aContainer.AddString(u"OpenCursors", sbtCursors.empty()       ? u"None"
                                       : sbtCursors.size() == 1 ? u"One"
                                                                : u"Multiple");
}

uint32_t TzfServerBaseTable::GetChild(const UnicodeString& aChildName, TzfServerBaseTable*& aTable) {
  aTable = nullptr;
  TzfServerBaseTable* current = this;
  UnicodeString rest = aChildName;
  // Iterative, so a long path of "." parts cannot exhaust the stack.
  while (!rest.empty()) {
    const size_t colon = rest.find(u':');
    const UnicodeString head = colon == UnicodeString::npos ? rest : rest.substr(0, colon);
    rest = colon == UnicodeString::npos ? UnicodeString() : rest.substr(colon + 1);
    if (head == u".") continue;
    if (head == u"..") {
      if (!current->sbtParent) {
        const UnicodeString root = current->sbtRoot ? current->sbtRoot->FullName() : current->FullName();
        return EzfBaseException::zfSetMessage(zfErrNoSuchTable,
                                              UnicodeString(zfOrgMarker) + u" No parent for table " + root + u"\"");
      }
      current = current->sbtParent;
      continue;
    }
    auto it = current->sbtChildNames.find(Upper(head));
    if (it == current->sbtChildNames.end())
      return EzfBaseException::zfSetMessage(zfErrNoSuchTable, UnicodeString(zfOrgMarker) +
                                                                  u" No child table called \"" + head +
                                                                  u"\" in table \"" + current->FullName() + u"\"");
    current = it->second;
  }
  aTable = current;
  return 0;
}

void TzfServerBaseTable::sbtSetTableDescriptor(TzfBaseTableDescriptor* aDescriptor) {
  sbtTableDescriptor = aDescriptor;
  sbtFieldsDescriptor = aDescriptor->tdFieldsDescriptor.get();
  TzfList blobs;
  sbtHasBlobFields = sbtFieldsDescriptor->HasBlobFields(&blobs);
  sbtBlobFields.clear();
  for (int32_t i = 0; i < blobs.Count(); ++i)
    sbtBlobFields.push_back(static_cast<int32_t>(reinterpret_cast<intptr_t>(blobs.GetItem(i))));
  int32_t f = -1;
  sbtAutoIncField = sbtFieldsDescriptor->HasAutoIncField(f) ? f : -1;
  sbtRecRevField = sbtFieldsDescriptor->HasRecRevField(f) ? f : -1;
}

void TzfServerBaseTable::sbtCreateBlockAccess() {
  TzfServerRootTable* root = sbtRoot;
  const int32_t id = sbtParent ? sbtTableDescriptor->diID : 0;
  const UnicodeString name = FullName();
  for (size_t i = sbtBlockAccess.size(); i < root->srtFiles.size(); ++i) {
    TzfBlockAccess* main = root != this && i < root->sbtBlockAccess.size() ? root->sbtBlockAccess[i] : nullptr;
    sbtBlockAccessOwned.push_back(std::make_unique<TzfBlockAccess>(root->srtFiles[i].get(), main, name, id));
    sbtBlockAccess.push_back(sbtBlockAccessOwned.back().get());
  }
}

void TzfServerBaseTable::sbtFreeBlockAccess() {
  sbtBlockAccess.clear();
  sbtBlockAccessOwned.clear();
}

void TzfServerBaseTable::sbtCreateEngines(TzfBaseTransaction* aTrans) {
  // Each engine by the name its descriptor carries; nil where the descriptor declares none.
  sbtBlobEngine = TzfBaseBlobEngine::CreateEngine(*sbtTableDescriptor, sbtBlockAccess, aTrans);
  sbtRecordEngine = TzfBaseRecordEngine::CreateEngine(*sbtTableDescriptor, sbtBlockAccess, aTrans);
  sbtAutoIncEngine = TzfBaseAutoIncEngine::CreateEngine(*sbtTableDescriptor, sbtBlockAccess, aTrans);
  if (!zfInIndexTolerantOpen()) {
    sbtIndicesEngine = zfCreateIndicesEngine(*sbtTableDescriptor, sbtBlockAccess, sbtRecordEngine.get(), aTrans);
    sbtFulltextEngine = TzfBaseFulltextTableEngine::CreateFor(*sbtTableDescriptor, sbtBlockAccess,
                                                              sbtIndicesEngine.get(), aTrans);
    return;
  }
  // A table opened to be salvaged: its indexes may be damaged, and the salvage needs none. A
  // failure is logged, the indexes stay unused, and the whole table is only read from then on.
  try {
    sbtIndicesEngine = zfCreateIndicesEngine(*sbtTableDescriptor, sbtBlockAccess, sbtRecordEngine.get(), aTrans);
    sbtFulltextEngine = TzfBaseFulltextTableEngine::CreateFor(*sbtTableDescriptor, sbtBlockAccess,
                                                              sbtIndicesEngine.get(), aTrans);
  } catch (const std::exception& e) {
    sbtFulltextEngine.reset();
    sbtIndicesEngine.reset();
    const uint32_t code = asoConvertException(e);
    if (sbtRoot) {
      sbtRoot->srtIndexesUnused = true;
      if (auto* engine = dynamic_cast<TzfServerEngine*>(sbtRoot->asoGetServerEngine()))
        engine->seLogWarning(u"The indexes of \"" + FullName() + u"\" could not be opened and stay unused (" +
                             rtl::IntToStr(int64_t(code)) + u")");
    }
  }
}

namespace {
thread_local int32_t tIndexTolerantOpens = 0;
}
TzfIndexTolerantOpen::TzfIndexTolerantOpen() { ++tIndexTolerantOpens; }
TzfIndexTolerantOpen::~TzfIndexTolerantOpen() { --tIndexTolerantOpens; }
bool zfInIndexTolerantOpen() { return tIndexTolerantOpens > 0; }

void TzfServerBaseTable::sbtFreeEngines() {
  // The full-text engine holds index engines of the indices engine; the indices engine reads
  // records through the record engine: they go first.
  sbtFulltextEngine.reset();
  sbtIndicesEngine.reset();
  sbtBlobEngine.reset();
  sbtRecordEngine.reset();
  sbtAutoIncEngine.reset();
}

void TzfServerBaseTable::sbtCreateChilds(TzfBaseTransaction* aTrans) {
  TzfTablesDescriptor* tables = sbtTableDescriptor->tdTablesDescriptor.get();
  if (!tables || tables->TableCount() <= 0) return;
  for (int32_t i = 0; i < tables->TableCount(); ++i) {
    TzfNestedTableDescriptor* nd = tables->TableDescriptor[static_cast<size_t>(i)].get();
    auto* child = new TzfServerBaseTable(this, nd->ntdName, nd);
    child->AfterConstruction();
    sbtChilds.push_back(child);
    sbtChildNames[Upper(nd->ntdName)] = child;
    child->sbtSetTableDescriptor(nd);
    child->sbtCreateBlockAccess();
    child->sbtCreateEngines(aTrans);
    child->sbtCreateChilds(aTrans);
  }
}

void TzfServerBaseTable::sbtFreeChilds() {
  for (TzfServerBaseTable* child : sbtChilds) {
    child->sbtFreeChilds();
    child->sbtFreeEngines();
    child->sbtFreeBlockAccess();
    child->Free();
  }
  sbtChilds.clear();
  sbtChildNames.clear();
}

void TzfServerBaseTable::sbtEndTransaction(TzfBaseTransaction* aTrans) {
  sbtLocks->EndTransaction(aTrans);
  for (TzfServerBaseTable* child : sbtChilds) child->sbtEndTransaction(aTrans);
}

bool TzfServerBaseTable::sbtCloseCursors(bool aIgnoreKeepInMemory, bool aRequestClose, int32_t aExpectedLocks) {
  {
    TzfPadlockGuard g(sbtCursorsPadlock);
    // Internal cursors (BLOB links) go when asked; any other cursor keeps the table active.
    while (!sbtCursors.empty()) {
      TzfAbstractCursor* head = sbtCursors.front();
      auto* tc = aRequestClose ? dynamic_cast<TzfServerTableCursor*>(head) : nullptr;
      if (!tc) return false;
      tc->sbcRequestClose();
      if (!sbtCursors.empty() && sbtCursors.front() == head) return false;
    }
  }
  for (TzfServerBaseTable* child : sbtChilds)
    if (!child->sbtCloseCursors(aIgnoreKeepInMemory, aRequestClose, aExpectedLocks)) return false;
  return true;
}

void TzfServerBaseTable::sbtAddCursor(TzfAbstractCursor* aCursor) {
  TzfPadlockGuard g(sbtCursorsPadlock);
  sbtCursors.push_back(aCursor);
}

void TzfServerBaseTable::sbtRemoveCursor(TzfAbstractCursor* aCursor) {
  TzfPadlockGuard g(sbtCursorsPadlock);
  sbtCursors.erase(std::remove(sbtCursors.begin(), sbtCursors.end(), aCursor), sbtCursors.end());
}

int32_t TzfServerBaseTable::sbtCursorCountLocked() {
  TzfPadlockGuard g(sbtCursorsPadlock);
  return static_cast<int32_t>(sbtCursors.size());
}

TzfServerTableStats TzfServerBaseTable::sbtGetStats(TzfBaseTransaction* aTrans) {
  TzfServerTableStats s;
  TzfServerRootTable* root = sbtRoot;
  if (root->srtMainFile) {
    s.stsMainFileName = root->srtMainFile->fiName;
    s.stsMainFileSize = root->srtMainFile->FileSize();
    s.stsFileVersion = static_cast<uint32_t>(root->srtMainFile->fiZofrinVersion);
  }
  if (!sbtBlockAccess.empty() && sbtBlockAccess[0]) {
    // The header block as the transaction sees it: its block counts and its own signature.
    std::unique_ptr<TzfBaseFileHeaderAccess> header(sbtBlockAccess[0]->HeaderAccess(aTrans, false));
    s.stsUsedBlocks = header->UsedBlockCount();
    s.stsAvailableBlocks = header->FreeBlockCount();
    if (header->Header) s.stsHeaderSignature = zfGetBlockSignature(header->Header);
  }
  {
    TzfPadlockGuard g(sbtCursorsPadlock);
    std::set<const void*> databases, sessions;
    for (TzfAbstractCursor* c : sbtCursors) {
      ++s.stsOpenCursors;
      if (c->Database()) {
        databases.insert(c->Database());
        sessions.insert(c->Database()->asoSession);
      }
    }
    s.stsOpenByDatabases = static_cast<uint32_t>(databases.size());
    s.stsOpenBySessions = static_cast<uint32_t>(sessions.size());
  }
  if (root->srtStreamEngine) root->srtStreamEngine->GetNamedStreamCount(aTrans, s.stsNamedStreamCount);
  return s;
}

TzfLSN TzfServerBaseTable::sbtGetLSN(TzfBaseTransaction* aTrans) {
  TzfContentReadGuard read(sbtRoot->srtContentPortal);
  return sbtBlockAccess.empty() ? 0 : sbtBlockAccess[0]->ReadHeaderLSN(aTrans);
}

void TzfServerBaseTable::sbtInitRecRev(uint8_t* aRecord) {
  if (sbtRecRevField < 0 || !aRecord) return;
  bool isNull = false;
  uint32_t v = 0;
  sbtFieldsDescriptor->GetRecordField(sbtRecRevField, aRecord, isNull, &v);
  if (isNull) {
    v = 0;
    sbtFieldsDescriptor->SetRecordField(sbtRecRevField, aRecord, &v);
  }
}

uint32_t TzfServerBaseTable::sbtCheckRecRev(const uint8_t* aStoredRecord, uint8_t* aNewRecord) {
  if (sbtRecRevField < 0 || !aStoredRecord || !aNewRecord) return 0;
  bool n1 = false, n2 = false;
  uint32_t stored = 0, given = 0;
  sbtFieldsDescriptor->GetRecordField(sbtRecRevField, aStoredRecord, n1, &stored);
  sbtFieldsDescriptor->GetRecordField(sbtRecRevField, aNewRecord, n2, &given);
  if (n1) stored = 0;
  if (n2) given = 0;
  if (stored != given) return zfErrRecChanged;
  const uint32_t next = given + 1;  // wraps at 32 bits
  sbtFieldsDescriptor->SetRecordField(sbtRecRevField, aNewRecord, &next);
  return 0;
}

// ---------------------------------------------------------------------------------------------
// TzfServerRootTable

const rtl::TClassInfo& TzfServerRootTable::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfServerRootTable", &TzfServerBaseTable::ClassInfo()};
  return info;
}

TzfServerRootTable::TzfServerRootTable(TzfServerFolder* aFolder, const UnicodeString& aName, TzfOpenMode aOpenMode,
                                       TzfShareMode aShareMode, TzfTableScope aTableScope)
    : TzfServerBaseTable(aFolder, aName, nullptr),
      srtFolder(aFolder),
      srtTableScope(aTableScope),
      srtOpenMode(aOpenMode),
      srtShareMode(aShareMode) {
  sbtRoot = this;
  if (aName.empty()) {
    srtName = rtl::Format(u" UnnamedTable_%s_%d", {rtl::IntToStr(static_cast<int64_t>(reinterpret_cast<intptr_t>(this))),
                                                   gUnnamedCounter.fetch_add(1) + 1});
  } else {
    srtName = aName;
  }
  sbtNameInScope = srtName;
  srtDictionary = std::make_unique<TzfServerDataDict>();
  sbtTableDescriptor = srtDictionary.get();
  sbtFieldsDescriptor = srtDictionary->tdFieldsDescriptor.get();
  srtAddToFolder();
}

TzfServerRootTable* TzfServerRootTable::Create(TzfServerFolder* aFolder, const UnicodeString& aName,
                                               TzfOpenMode aOpenMode, TzfShareMode aShareMode,
                                               TzfTableScope aTableScope) {
  auto* t = new TzfServerRootTable(aFolder, aName, aOpenMode, aShareMode, aTableScope);
  try {
    t->AfterConstruction();
  } catch (...) {
    t->Free();
    throw;
  }
  return t;
}

TzfServerRootTable::~TzfServerRootTable() {
  srtRemoveFromFolder();
  try {
    srtCloseFiles();
  } catch (...) {
  }
}

TzfBaseServerEngine* TzfServerRootTable::asoGetServerEngine() { return srtFolder->sfServerEngine; }

void TzfServerRootTable::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfServerBaseTable::AddExceptionData(aContainer);
  aContainer.AddBoolean(u"ForServer", srtForServer);
  aContainer.AddString(u"TableScope", zfTableScopeName(srtTableScope));
  aContainer.AddString(u"OpenMode", srtOpenMode == omReadOnly    ? u"omReadOnly"
                                    : srtOpenMode == omWriteOnly ? u"omWriteOnly"
                                                                 : u"omReadWrite");
  aContainer.AddString(u"ShareMode", srtShareMode == smExclusive ? u"smExclusive" : srtShareMode == smShared ? u"smShared" : u"smShareRead");
}

void TzfServerRootTable::srtAddToFolder() {
  TzfPadlockGuard g(srtFolder->sfTablesPadlock);
  srtFolder->sfAddTable(srtName, this);
  srtInFolder = true;
}

void TzfServerRootTable::srtRemoveFromFolder() {
  TzfPadlockGuard g(srtFolder->sfTablesPadlock);
  if (srtInFolder) srtFolder->sfRemoveTable(srtName, this);
  srtInFolder = false;
}

UnicodeString TzfServerRootTable::srtFileName(int32_t aIndex) {
  const UnicodeString ext = aIndex == 0 ? srtFolder->sfServerEngine->TableExtension()
                                        : srtDictionary->ddFilesDescriptor->FileDescriptor[static_cast<size_t>(aIndex)]->fdExtension;
  return zfCombinePath(srtFolder->sfPath, zfAddExtension(srtName, ext));
}

uint32_t TzfServerRootTable::srtCloseFiles() {
  try {
    srtStreamEngine.reset();
    sbtFreeChilds();
    sbtFreeEngines();
    sbtFreeBlockAccess();
    for (size_t i = srtFiles.size(); i-- > 0;) {
      try {
        TzfBaseFile* f = srtFiles[i].get();
        if (f) {
          if (f->FileIsOpen()) f->CloseFile();
          if (f->fiBufMgr) f->fiBufMgr->RemoveFile(f);
        }
      } catch (const std::exception& e) {
        asoConvertException(e);
      }
      srtFiles[i].reset();
    }
    srtFiles.clear();
    srtMainFile = nullptr;
    return 0;
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

uint32_t TzfServerRootTable::srtCreateFile(int32_t aIndex, TzfBaseTransaction* aTrans, TzfBaseTempStorage* aTempStore,
                                           TzfFileAttributes aAttributes, bool aForServer,
                                           const TzfUnicodeStrings& aPasswords) {
  TzfFileDescriptor* fd = srtDictionary->ddFilesDescriptor->FileDescriptor[static_cast<size_t>(aIndex)].get();
  if (aIndex > 0) {
    srtFiles[static_cast<size_t>(aIndex)] =
        TzfBaseFile::Alloc(true, srtFileName(aIndex), srtFolder->sfServerEngine->seBufferManager.get());
    TzfBaseFile* f = srtFiles[static_cast<size_t>(aIndex)].get();
    f->fiSnapshotBlockCount = &srtSnapshotBlockCount;
    f->fiAttributes = aAttributes;
    f->fiForServer = aForServer;
    f->fiEncryptionEngineName = srtDictionary->EncryptionEngine;
    f->fiStreamEngineName = srtMainFile->fiStreamEngineName;
    f->fiTempStore = aTempStore;
    f->fiInitialSize = fd->fdInitialSize;
    f->fiGrowSize = fd->fdGrowSize;
    f->fiMaxID = srtDictionary->ddCurrentID;
  }
  TzfBaseFile* f = srtFiles[static_cast<size_t>(aIndex)].get();
  f->OpenFile(srtOpenMode, srtShareMode, true, true);
  if (f->fiOpenMode == omReadOnly) srtOpenMode = omReadOnly;
  const auto cleanUp = [&] {
    try {
      f->fiBufMgr->RemoveFile(f);
    } catch (...) {
    }
    try {
      f->CloseFile();
    } catch (...) {
    }
    if (aIndex > 0) srtFiles[static_cast<size_t>(aIndex)].reset();
  };
  try {
    f->fiBlockSize = fd->fdBlockSize;
    f->fiZofrinVersion = 30000;
    const int64_t maxBlocks = f->CalcMaxFileSize() / static_cast<int64_t>(f->PhysicalBlockBytes());
    f->fiMaxBlocks = maxBlocks > int64_t(0xFFFFFFFF) ? 0xFFFFFFFFu : static_cast<uint32_t>(maxBlocks < 0 ? 0 : maxBlocks);
    const uint32_t code = f->AddHeader(aTrans, aPasswords, srtDictionary->HeaderSignature);
    if (code != 0) {
      cleanUp();
      return code;
    }
  } catch (...) {
    cleanUp();
    throw;
  }
  return 0;
}

uint32_t TzfServerRootTable::srtBuild(TzfBaseTransaction* aTrans, const TzfUnicodeStrings& aPasswords, bool aForServer,
                                      TzfDataDictionary* aDictionary, TzfFileAttributes aAttributes,
                                      TzfBaseTempStorage* aTempStore, const UnicodeString& aTableName) {
  uint32_t code = srtCloseFiles();
  if (code != 0) return code;
  try {
    srtForServer = aForServer;
    srtFiles.resize(static_cast<size_t>(std::max<int32_t>(1, aDictionary->ddFilesDescriptor->FileCount)));
    srtFiles[0] = TzfBaseFile::Alloc(true, srtFileName(0), srtFolder->sfServerEngine->seBufferManager.get());
    srtMainFile = srtFiles[0].get();
    srtDictionary->ForceOffReadOnly();
    srtDictionary->Assign(aDictionary);
    if (!aPasswords.empty() && srtDictionary->EncryptionEngine.empty()) srtDictionary->EncryptionEngine = u"zf1xDefault";
    srtDictionary->CheckValid(true);
    if (static_cast<size_t>(srtDictionary->ddFilesDescriptor->FileCount) != srtFiles.size())
      srtFiles.resize(static_cast<size_t>(std::max<int32_t>(1, srtDictionary->ddFilesDescriptor->FileCount)));
    TzfFileDescriptor* fd0 = srtDictionary->ddFilesDescriptor->FileDescriptor[0].get();
    srtMainFile->fiSnapshotBlockCount = &srtSnapshotBlockCount;
    srtMainFile->fiAttributes = aAttributes;
    srtMainFile->fiForServer = aForServer;
    srtMainFile->fiEncryptionEngineName = srtDictionary->EncryptionEngine;
    srtMainFile->fiStreamEngineName = srtDictionary->ddStreamDescriptor->bsdStreamEngine;
    srtMainFile->fiTempStore = aTempStore;
    srtMainFile->fiInitialSize = fd0->fdInitialSize;
    srtMainFile->fiGrowSize = fd0->fdGrowSize;
    srtMainFile->fiMaxID = srtDictionary->ddCurrentID;
    for (int32_t i = 0; i < static_cast<int32_t>(srtFiles.size()) && code == 0; ++i)
      code = srtCreateFile(i, aTrans, aTempStore, aAttributes, aForServer, aPasswords);
    if (code == 0) {
      sbtCreateBlockAccess();
      srtStreamEngine = TzfBaseStreamEngine::CreateEngine(*srtDictionary, sbtBlockAccess[0], aTrans);
      srtDictionary->WriteToFile(*srtStreamEngine, aTrans, 30900);
      sbtSetTableDescriptor(srtDictionary.get());
      sbtCreateEngines(aTrans);
      sbtCreateChilds(aTrans);
      if (!aTableName.empty()) {
        TzfMemoryStream ms;
        {
          TzfWriter w(ms);
          w.WriteString(aTableName);
        }
        ms.SetPosition(0);
        code = srtStreamEngine->WriteNamedStream(aTrans, u"$TableName", ms);
      }
    }
  } catch (const std::exception& e) {
    code = asoConvertException(e);
  }
  if (code != 0) {
    srtCloseFiles();
    if (srtTableScope == tsPersistent) srtDeleteFiles();
  }
  return code;
}

uint32_t TzfServerRootTable::srtOpen(TzfBaseTransaction* aTrans, const TzfUnicodeStrings& aPasswords, bool aForServer,
                                     TzfFileAttributes aAttributes, bool& aIsReadOnly) {
  aIsReadOnly = false;
  uint32_t code = srtCloseFiles();
  if (code != 0) return code;
  srtForServer = aForServer;
  try {
    TzfBufferManager* bm = srtFolder->sfServerEngine->seBufferManager.get();
    // The main file: the exact name, else the one file that differs only in letter case.
    UnicodeString name = srtFileName(0);
    bool ambiguous = false;
    const UnicodeString onDisk = zfFindFileIgnoringCase(name, ambiguous);
    if (ambiguous)
      return EzfBaseException::zfSetMessage(zfErrNoSuchTable, UnicodeString(zfOrgMarker) +
                                                                  u" Several files match root table \"" + FullName() +
                                                                  u"\" only without regard to case");
    if (!onDisk.empty()) name = onDisk;
    srtFiles.resize(1);
    srtFiles[0] = TzfBaseFile::Alloc(true, name, bm);
    srtMainFile = srtFiles[0].get();
    srtMainFile->fiSnapshotBlockCount = &srtSnapshotBlockCount;
    srtMainFile->fiAttributes = aAttributes;
    srtMainFile->fiForServer = aForServer;
    srtMainFile->fiLogTable = srtName;
    srtMainFile->fiLogFile.clear();
    srtMainFile->OpenFile(srtOpenMode, srtShareMode, aForServer, false);
    if (srtMainFile->fiOpenMode == omReadOnly) srtOpenMode = omReadOnly;
    code = NotifyExtenders(eaOpenFile, false, {std::any(srtMainFile)});
    if (code == 0) {
      // The name in the letter case on disk.
      const UnicodeString diskBase = rtl::ChangeFileExt(rtl::ExtractFileName(name), u"");
      if (diskBase != srtName && Upper(diskBase) == Upper(srtName)) {
        TzfPadlockGuard g(srtFolder->sfTablesPadlock);
        srtRemoveFromFolder();
        const bool scopeName = Upper(sbtNameInScope) == Upper(srtName);
        srtName = diskBase;
        if (scopeName) {
          sbtNameInScope = diskBase;
          srtDictionary->ddBaseName = diskBase;
        }
        srtAddToFolder();
      }
      TzfReleaseMethod rm;
      PzfBlock b0 = nullptr;
      bool ro = false;
      code = bm->AddFile(srtMainFile, aTrans, aPasswords, false, rm, b0, ro);
      if (code == 0) {
        if (b0) rm(b0);
        if (ro) {
          aIsReadOnly = true;
          srtOpenMode = omReadOnly;
        }
        sbtCreateBlockAccess();
        srtStreamEngine = TzfBaseStreamEngine::CreateEngine(nullptr, sbtBlockAccess[0], aTrans);
        srtDictionary->ReadFromFile(*srtStreamEngine, aTrans);
        srtStreamEngine->Initialize(srtDictionary->ddStreamDescriptor.get());
        TzfFilesDescriptor& files = *srtDictionary->ddFilesDescriptor;
        // A bad count ends the open like every other failure: the main file is closed again.
        if (files.FileCount < 1 || files.FileCount > 255) {
          srtCloseFiles();
          return EzfBaseException::zfSetMessage(zfErrNoSuchTable, u"Bad file count in the data dictionary");
        }
        TzfFileDescriptor* fd0 = files.FileDescriptor[0].get();
        srtMainFile->fiInitialSize = fd0->fdInitialSize;
        srtMainFile->fiGrowSize = fd0->fdGrowSize;
        srtMainFile->fiMaxID = srtDictionary->ddCurrentID;
        srtFiles.resize(static_cast<size_t>(files.FileCount));
        for (int32_t i = 1; i < files.FileCount; ++i) {
          srtFiles[static_cast<size_t>(i)] = TzfBaseFile::Alloc(true, srtFileName(i), bm);
          srtFiles[static_cast<size_t>(i)]->fiLogTable = srtName;
          srtFiles[static_cast<size_t>(i)]->fiLogFile = files.FileDescriptor[static_cast<size_t>(i)]->fdExtension;
          srtFiles[static_cast<size_t>(i)]->fiSnapshotBlockCount = &srtSnapshotBlockCount;
        }
        for (int32_t i = 1; i < files.FileCount && code == 0; ++i) {
          TzfBaseFile* f = srtFiles[static_cast<size_t>(i)].get();
          f->OpenFile(srtMainFile->fiOpenMode, srtShareMode, srtMainFile->fiWriteThru, false);
          code = NotifyExtenders(eaOpenFile, false, {std::any(f)});
          if (code != 0) break;
          bool fro = false;
          PzfBlock fb0 = nullptr;
          code = bm->AddFile(f, aTrans, aPasswords, false, rm, fb0, fro);
          if (code == 0 && fb0) rm(fb0);
          if (code == 0 && fro != ro) code = zfErrTableReadOnly;
        }
        if (code == 0) {
          sbtCreateBlockAccess();
          sbtSetTableDescriptor(srtDictionary.get());
          sbtCreateEngines(nullptr);
          sbtCreateChilds(nullptr);
          if (srtIndexesUnused) srtOpenMode = omReadOnly;  // nothing may write without its indexes
          code = NotifyExtenders(eaOpenFiles, false, {});
        }
      }
    }
  } catch (const std::exception& e) {
    code = asoConvertException(e);
    if (code == zfErrFileBusy)
      code = EzfBaseException::zfSetMessage(zfErrNoSuchTable, UnicodeString(zfOrgMarker) +
                                                                  u" Error opening files for root table " +
                                                                  FullName() + u"\"");
  }
  if (code != 0) srtCloseFiles();
  return code;
}

void TzfServerRootTable::srtDeleteFiles() {
  TzfFilesDescriptor& files = *srtDictionary->ddFilesDescriptor;
  for (int32_t i = 0; i < std::max<int32_t>(1, files.FileCount); ++i) {
    try {
      if (i > 0 && static_cast<size_t>(i) >= files.FileDescriptor.size()) break;
      ::unlink(Native(srtFileName(i)).c_str());
    } catch (...) {
    }
  }
}

bool TzfServerRootTable::srtIsInactive(bool aIgnoreKeepInMemory, bool aRequestClose, int32_t aExpectedLocks) {
  const int32_t n = sbtLockIsInactive.load();
  // A table whose links belong to a live transaction stays active: the links are that
  // transaction's to free, never another thread's.
  if (!srtTransLinksEmpty()) return false;
  if (static_cast<int32_t>(srtSnapshotBlockCount) > 0) return false;
  if (n != aExpectedLocks) return false;
  if (!aIgnoreKeepInMemory && srtTableScope != tsPersistent && srtTableScope != tsTempUnnamed) return false;
  return sbtCloseCursors(aIgnoreKeepInMemory, aRequestClose, aExpectedLocks);
}

uint32_t TzfServerRootTable::srtCheckPasswords(const TzfUnicodeStrings& aPasswords) {
  if (!srtMainFile || !srtMainFile->fiEncryptionEngine) return 0;
  return srtMainFile->fiEncryptionEngine->AuthenticatePassword(aPasswords);
}

UnicodeString TzfServerRootTable::srtExtractPassword() {
  if (!srtMainFile || !srtMainFile->fiEncryptionEngine) return UnicodeString();
  return srtMainFile->fiEncryptionEngine->ExtractPassword();
}

void TzfServerRootTable::srtUpdateMaxID() {
  for (auto& f : srtFiles)
    if (f) f->fiMaxID = srtDictionary->ddCurrentID;
}

void TzfServerRootTable::srtBeginCommit(TzfBaseTransaction*) {
  srtCommitPadlock.Lock();
  srtContentPortal.BeginWrite();
}

void TzfServerRootTable::srtEndCommit(TzfBaseTransaction* aTrans) {
  sbtEndTransaction(aTrans);
  srtContentPortal.EndWrite();
}

void TzfServerRootTable::srtUnlockCommit(TzfBaseTransaction*) { srtCommitPadlock.Unlock(); }

namespace {
void RollbackTableEngines(TzfServerBaseTable* aTable, TzfBaseTransaction* aTrans) {
  if (aTable->sbtRecordEngine) aTable->sbtRecordEngine->Rollback(aTrans);
  if (aTable->sbtBlobEngine) aTable->sbtBlobEngine->Rollback(aTrans);
  if (aTable->sbtFulltextEngine) aTable->sbtFulltextEngine->Rollback(aTrans);
  for (TzfServerBaseTable* child : aTable->sbtChilds) RollbackTableEngines(child, aTrans);
}
}  // namespace

const void* TzfServerRootTable::tltJournalFolder() {
  return srtTableScope == tsPersistent && srtFolder && !srtFolder->sfInMemOnly ? srtFolder : nullptr;
}

TzfBaseJournalEngine* TzfServerRootTable::tltCreateJournal() {
  return srtFolder && srtFolder->stTransManager ? srtFolder->stTransManager->CreateJournal() : nullptr;
}

void TzfServerRootTable::sbtRollbackEngines(TzfBaseTransaction* aTrans) { RollbackTableEngines(this, aTrans); }

}  // namespace zf
