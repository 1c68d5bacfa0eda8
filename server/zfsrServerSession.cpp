#include "server/zfsrServerSession.h"

#include <algorithm>

#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlUnits.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerFolder.h"
#include "server/zfsrServerTransaction.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

namespace {
uint32_t NeedsAliasHandler(const UnicodeString& aWhat) {
  return EzfBaseException::zfSetMessage(zfErrNotSupported, aWhat + u" requires an AliasHandler");
}
}  // namespace

uint32_t zfCheckDatabaseShare(TzfOpenMode aOpenMode, TzfShareMode aShareMode,
                              const std::vector<std::pair<TzfOpenMode, TzfShareMode>>& aOpen) {
  if (aOpen.empty()) return 0;
  if (aOpen.front().second == smExclusive || aShareMode == smExclusive) return zfErrNeedExclAccess;
  const bool writes = aOpenMode != omReadOnly;
  for (const auto& [mode, share] : aOpen) {
    if (aShareMode == smShared && writes && share == smShareRead) return zfErrNeedExclAccess;
    if (aShareMode == smShareRead) {
      if (writes && share == smShareRead) return zfErrNeedExclAccess;
      // A request that shares only reading is refused while a database of the folder writes.
      if (mode != omReadOnly) return zfErrNeedExclAccess;
    }
  }
  return 0;
}

TzfServerSession::TzfServerSession(TzfServerEngine* aServerEngine, uint32_t aTimeout, const UnicodeString& aUserName,
                                   const UnicodeString& aPassword, const UnicodeString& aConnectedFrom,
                                   int32_t aClientVersion)
    : TzfAbstractSession(aServerEngine, aTimeout, aUserName, aPassword, aConnectedFrom),
      ssServerEngine(aServerEngine),
      ssClientVersion(aClientVersion) {}

const rtl::TClassInfo& TzfServerSession::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfServerSession", &TzfAbstractSession::ClassInfo()};
  return info;
}

uint32_t TzfServerSession::NoLock(const std::function<uint32_t()>& aWork) {
  TzfOperationFrame frame;
  frame.TakeLock = false;
  return PublicOperation(frame, aWork);
}

uint32_t TzfServerSession::AliasWork(const char16_t* aOperation, const std::function<uint32_t()>& aWork) {
  if (!ssServerEngine->AliasHandler()) return NeedsAliasHandler(aOperation);
  return NoLock(aWork);
}

uint32_t TzfServerSession::AliasAdd(const UnicodeString& aAlias, const UnicodeString& aPath, bool aEnforce) {
  if (const uint32_t r = zfCheckAliasName(aAlias, false)) return r;
  return AliasWork(u"AliasAdd", [&]() -> uint32_t {
    if (const uint32_t veto = NotifyExtenders(eaAliasAdd, true, {aAlias, aPath, aEnforce})) return veto;
    if (const uint32_t r = ssServerEngine->AliasHandler()->Add(aAlias, aPath, aEnforce)) return r;
    return NotifyExtenders(eaAliasAdd, false, {aAlias, aPath, aEnforce});
  });
}

uint32_t TzfServerSession::AliasDelete(const UnicodeString& aAlias) {
  if (const uint32_t r = zfCheckAliasName(aAlias, true)) return r;
  return AliasWork(u"AliasDelete", [&]() -> uint32_t {
    if (const uint32_t veto = NotifyExtenders(eaAliasDelete, true, {aAlias})) return veto;
    if (const uint32_t r = ssServerEngine->AliasHandler()->Delete(aAlias)) return r;
    return NotifyExtenders(eaAliasDelete, false, {aAlias});
  });
}

uint32_t TzfServerSession::AliasModify(const UnicodeString& aAlias, const UnicodeString& aNewName,
                                       const UnicodeString& aNewPath, bool aEnforce) {
  if (const uint32_t r = zfCheckAliasName(aAlias, true)) return r;
  return AliasWork(u"AliasModify", [&]() -> uint32_t {
    const TzfActionArgs args{aAlias, aNewName, aNewPath, aEnforce};
    if (const uint32_t veto = NotifyExtenders(eaAliasModify, true, args)) return veto;
    if (const uint32_t r = ssServerEngine->AliasHandler()->Modify(aAlias, aNewName, aNewPath, aEnforce)) return r;
    return NotifyExtenders(eaAliasModify, false, args);
  });
}

uint32_t TzfServerSession::AliasGetList(std::vector<std::pair<UnicodeString, UnicodeString>>& aList) {
  return AliasWork(u"AliasGetList", [&]() -> uint32_t {
    if (const uint32_t veto = NotifyExtenders(eaAliasGetList, true, {&aList})) return veto;
    std::vector<TzfAliasDescriptor> list;
    const uint32_t r = ssServerEngine->AliasHandler()->GetList(list);
    aList.clear();
    for (const auto& a : list)
      if (zfCheckIdentifier(a.adAlias, 10067, false, true) == 0) aList.emplace_back(a.adAlias, a.adPath);
    if (r != 0) return r;
    return NotifyExtenders(eaAliasGetList, false, {&aList});
  });
}

uint32_t TzfServerSession::AliasGetPath(const UnicodeString& aAlias, UnicodeString& aPath) {
  aPath.clear();
  if (const uint32_t r = zfCheckAliasName(aAlias, true)) return r;
  return AliasWork(u"AliasGetPath", [&]() -> uint32_t {
    if (const uint32_t veto = NotifyExtenders(eaAliasGetPath, true, {aAlias, &aPath})) return veto;
    if (const uint32_t r = ssServerEngine->AliasHandler()->GetPath(aAlias, aPath)) return r;
    return NotifyExtenders(eaAliasGetPath, false, {aAlias, &aPath});
  });
}

uint32_t TzfServerSession::PasswordAdd(const UnicodeString& aPassword) {
  TzfOperationFrame frame;
  return PublicOperation(frame, [&] { return ssPasswordAdd(aPassword); });
}
uint32_t TzfServerSession::PasswordRemove(const UnicodeString& aPassword) {
  TzfOperationFrame frame;
  return PublicOperation(frame, [&] { return ssPasswordRemove(aPassword); });
}
uint32_t TzfServerSession::PasswordRemoveAll() {
  TzfOperationFrame frame;
  return PublicOperation(frame, [&] { return ssPasswordRemoveAll(); });
}

uint32_t TzfServerSession::ssPasswordAdd(const UnicodeString& aPassword) {
  if (aPassword.empty()) return zfErrInvalidParam;
  if (std::find(ssPasswords.begin(), ssPasswords.end(), aPassword) != ssPasswords.end()) return zfErrNameNotUnique;
  ssPasswords.push_back(aPassword);
  return 0;
}

uint32_t TzfServerSession::ssPasswordRemove(const UnicodeString& aPassword) {
  if (aPassword.empty()) return zfErrInvalidParam;
  auto it = std::find(ssPasswords.begin(), ssPasswords.end(), aPassword);
  if (it == ssPasswords.end()) return zfErrObjNotFound;
  ssPasswords.erase(it);
  return 0;
}

uint32_t TzfServerSession::ssPasswordRemoveAll() {
  ssPasswords.clear();
  return 0;
}

uint32_t TzfServerSession::CloseInactiveFolders() {
  return NoLock([&]() -> uint32_t {
    if (const uint32_t veto = NotifyExtenders(eaCloseInactiveFolders, true, {})) return veto;
    if (const uint32_t r = ssServerEngine->seCloseInactiveFolders()) return r;
    return NotifyExtenders(eaCloseInactiveFolders, false, {});
  });
}

uint32_t TzfServerSession::CloseInactiveTables() {
  return NoLock([&]() -> uint32_t {
    if (const uint32_t veto = NotifyExtenders(eaCloseInactiveTables, true, {})) return veto;
    if (const uint32_t r = ssServerEngine->seCloseInactiveTables()) return r;
    return NotifyExtenders(eaCloseInactiveTables, false, {});
  });
}

uint32_t TzfServerSession::DatabaseOpen(TzfAbstractDatabase*& aDatabase, const UnicodeString& aAliasType,
                                        const UnicodeString& aAlias, TzfAbstractTransContext* aTransContext,
                                        TzfOpenMode aOpenMode, TzfShareMode aShareMode, uint32_t aTimeout) {
  aDatabase = nullptr;
  const uint32_t code = NoLock([&]() -> uint32_t {
    UnicodeString aliasName, path;
    if (rtl::SameText(aAliasType, u"Name")) {
      if (const uint32_t r = zfCheckAliasName(aAlias, true)) return r;
      if (!ssServerEngine->AliasHandler()) return NeedsAliasHandler(u"AliasType = 'Name'");
      if (const uint32_t r = ssServerEngine->AliasHandler()->GetPath(aAlias, path)) return r;
      aliasName = aAlias;
    } else if (rtl::SameText(aAliasType, u"Path")) {
      path = aAlias;
    } else {
      return EzfBaseException::zfSetMessage(zfErrNotSupported, u"AliasType '" + aAliasType + u"' not supported");
    }
    // The folder lookup, its creation and the new database happen under the engine's folder padlock.
    TzfPadlockGuard folders(ssServerEngine->seFoldersPadlock);
    TzfServerFolder* folder = nullptr;
    if (const uint32_t r = ssServerEngine->seFolderOpen(path, folder)) return r;
    return ssDatabaseOpen(aDatabase, aliasName, aTransContext, folder, aOpenMode, aShareMode, false, aTimeout);
  });
  if (code != 0 && aDatabase) {
    aDatabase->Free();
    aDatabase = nullptr;
  }
  return code;
}

uint32_t TzfServerSession::ssDatabaseOpen(TzfAbstractDatabase*& aDatabase, const UnicodeString& aAlias,
                                          TzfAbstractTransContext* aTransContext, TzfServerFolder* aFolder,
                                          TzfOpenMode aOpenMode, TzfShareMode aShareMode, bool aIgnoreShare,
                                          uint32_t aTimeout) {
  aDatabase = nullptr;
  TzfOpenMode mode = aOpenMode == omWriteOnly ? omReadWrite : aOpenMode;
  if (aFolder->sfReadOnly) mode = omReadOnly;
  if (aTransContext && !dynamic_cast<TzfServerTransContext*>(aTransContext)) return zfErrInvalidHndl;
  try {
    TzfPadlockGuard g(aFolder->sfDatabasesPadlock);
    if (!aIgnoreShare) {
      std::vector<std::pair<TzfOpenMode, TzfShareMode>> open;
      for (TzfAbstractDatabase* d : aFolder->sfDatabases)
        if (auto* sd = dynamic_cast<TzfServerDatabase*>(d)) open.emplace_back(sd->sdOpenMode, sd->sdShareMode);
      if (const uint32_t r = zfCheckDatabaseShare(mode, aShareMode, open)) return r;
    }
    aDatabase = zfCreateServerObject<TzfServerDatabase>(this, aTransContext, aAlias, aFolder, aTimeout, mode,
                                                        aShareMode);
    return 0;
  } catch (const std::exception& e) {
    if (aDatabase) {
      aDatabase->Free();
      aDatabase = nullptr;
    }
    return asoConvertException(e);
  }
}

uint32_t TzfServerSession::TransContextCreate(TzfAbstractTransContext*& aTransContext, uint32_t aTimeout) {
  aTransContext = nullptr;
  TzfOperationFrame frame;
  frame.TakeLock = false;
  frame.SetDeadline = false;
  return PublicOperation(frame, [&] {
    aTransContext =
        zfCreateServerObject<TzfServerTransContext>(this, aTimeout, ssServerEngine->seBufferManager.get());
    return 0u;
  });
}

void zfRegisterServerSession() {
  TzfServerEngine::seSetSessionFactory([](TzfServerEngine* aEngine, TzfAbstractSession*& aSession,
                                          const UnicodeString& aUserName, const UnicodeString& aPassword,
                                          const UnicodeString& aConnectedFrom, uint32_t aTimeout,
                                          int32_t aClientVersion) -> uint32_t {
    aSession = zfCreateServerObject<TzfServerSession>(aEngine, aTimeout, aUserName, aPassword, aConnectedFrom,
                                                      aClientVersion);
    return 0;
  });
}

void zfUnregisterServerSession() { TzfServerEngine::seSetSessionFactory(nullptr); }

}  // namespace zf
