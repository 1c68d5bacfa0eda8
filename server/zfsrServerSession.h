// The engine's session: resolves aliases and paths, finds or creates the folder of a directory
// and opens databases on it under the folder's share rules, creates transaction contexts, keeps
// the table passwords its databases try, and lists registered engine classes.
//
// DatabaseOpen, the alias operations and the inactive-object closes take no session lock; the
// password operations do. DatabaseOpen holds the engine's seFoldersPadlock from the folder lookup
// to the new database, and the folder's sfDatabasesPadlock across the share check and the join.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>

#include "dictionary/zfsdAbstractSession.h"
#include "dictionary/zfsdLocaleDescriptor.h"
#include "foundation/zfllUtils.h"
#include "foundation/zfrbClassFactoryRegistry.h"

namespace zf {

class TzfServerEngine;
class TzfServerFolder;
class TzfServerDatabase;

class TzfServerSession : public TzfAbstractSession {
 public:
  TzfServerSession(TzfServerEngine* aServerEngine, uint32_t aTimeout, const UnicodeString& aUserName,
                   const UnicodeString& aPassword, const UnicodeString& aConnectedFrom, int32_t aClientVersion);
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  int32_t asGetClientVersion() override { return ssClientVersion; }

  // Without the engine's alias handler each answers 12289 ("... requires an AliasHandler").
  uint32_t AliasAdd(const UnicodeString& aAlias, const UnicodeString& aPath, bool aEnforce) override;
  uint32_t AliasDelete(const UnicodeString& aAlias) override;
  uint32_t AliasModify(const UnicodeString& aAlias, const UnicodeString& aNewName, const UnicodeString& aNewPath,
                       bool aEnforce) override;
  uint32_t AliasGetList(std::vector<std::pair<UnicodeString, UnicodeString>>& aList) override;
  uint32_t AliasGetPath(const UnicodeString& aAlias, UnicodeString& aPath) override;
  // 9986 empty; 10009 already there (case-sensitive); remove: 8712 when not there.
  uint32_t PasswordAdd(const UnicodeString& aPassword) override;
  uint32_t PasswordRemove(const UnicodeString& aPassword) override;
  uint32_t PasswordRemoveAll() override;
  uint32_t CloseInactiveFolders() override;
  uint32_t CloseInactiveTables() override;
  // aAliasType "Name" (through the alias handler) or "Path" (case ignored); a relative directory
  // becomes absolute, "/" stays the root; 10018 for a missing directory; 10253 share conflict.
  uint32_t DatabaseOpen(TzfAbstractDatabase*& aDatabase, const UnicodeString& aAliasType, const UnicodeString& aAlias,
                        TzfAbstractTransContext* aTransContext, TzfOpenMode aOpenMode, TzfShareMode aShareMode,
                        uint32_t aTimeout) override;
  uint32_t TransContextCreate(TzfAbstractTransContext*& aTransContext, uint32_t aTimeout) override;
  // The names of the registry the type selects (auto-increment engines, BLOB descriptors,
  // encryption engines with the empty entry first, default-value, validation, record engine and
  // referential action classes); setIndicesEngines answers 8712 with an empty list. No lock.
  uint32_t GetRegisteredClassList(TzfClassListType aClassListType, rtl::TStrings& aList) override;
  // An interface by name: "<Registry>" the process's class-factory registry, "<ServerEngine>" the
  // engine's component info, otherwise the components that depend on the engine (transitively)
  // whose name is aName (all of them for an empty name), until one succeeds. E_NOINTERFACE when
  // nothing answered; aInterface is cleared first.
  HRESULT CreateInstanceFor(const UnicodeString& aName, const rtl::TGUID& aClassID, TzfInterfacedObject* aOuter,
                            const rtl::TGUID& aInterfaceID, RefPtr<TzfInterfacedObject>& aInterface);
  // The locale of SQL string literals: read once per session from the effective option
  // "SQL_DEFAULT_LOCALE" (a decimal number above 0); nil without one, also when the option is
  // set later. The session owns the descriptor.
  TzfLocaleDescriptor* ClientDefaultLocale();

  // Opens a database on aFolder; aIgnoreShare for the private database of a maintenance task.
  uint32_t ssDatabaseOpen(TzfAbstractDatabase*& aDatabase, const UnicodeString& aAlias,
                          TzfAbstractTransContext* aTransContext, TzfServerFolder* aFolder, TzfOpenMode aOpenMode,
                          TzfShareMode aShareMode, bool aIgnoreShare, uint32_t aTimeout);
  uint32_t ssPasswordAdd(const UnicodeString& aPassword);
  uint32_t ssPasswordRemove(const UnicodeString& aPassword);
  uint32_t ssPasswordRemoveAll();
  // A copy of the passwords (read by the session's databases inside the session lock).
  TzfUnicodeStrings ssPasswordsCopy() const { return ssPasswords; }
  // The session fails for good.
  void Kick() { Failed(true); }

  TzfServerEngine* ssServerEngine;
  int32_t ssClientVersion;
  TzfUnicodeStrings ssPasswords;

 private:
  std::mutex ssClientDefaultLocaleLock;
  std::unique_ptr<TzfLocaleDescriptor> ssClientDefaultLocale;
  bool ssClientDefaultLocaleChecked = false;
  uint32_t NoLock(const std::function<uint32_t()>& aWork);
  uint32_t AliasWork(const char16_t* aOperation, const std::function<uint32_t()>& aWork);
};

// The share rule between a database request and the databases open on a folder: 0 or 10253.
uint32_t zfCheckDatabaseShare(TzfOpenMode aOpenMode, TzfShareMode aShareMode,
                              const std::vector<std::pair<TzfOpenMode, TzfShareMode>>& aOpen);

// Installs the session factory of the engine (server start-up) and removes it.
void zfRegisterServerSession();
void zfUnregisterServerSession();

}  // namespace zf
