#include "client/zfdb.h"

#include "client/zfdbCursor.h"
#include "client/zfdbTable.h"

#include <algorithm>
#include <mutex>

#include "foundation/zfllErrors.h"
#include "foundation/zfllSync.h"
#include "foundation/zfllUtils.h"
#include "platform/locale/locLocales.h"
#include "platform/rtl/rtlStringList.h"

namespace zf {

UnicodeString zfDefaultUserName;
UnicodeString zfDefaultPassword;
TzfLoginHook zfLoginHook = nullptr;
// The default beep is silent: no sound device is assumed.
void (*zfLoginBeep)() = [] {};

namespace {

constexpr uint32_t kDefaultTimeout = 10000;

template <class T>
void AddSorted(std::vector<T*>& aList, T* aItem) {
  auto it = std::lower_bound(aList.begin(), aList.end(), aItem);
  if (it == aList.end() || *it != aItem) aList.insert(it, aItem);
}

template <class T>
void RemoveSorted(std::vector<T*>& aList, T* aItem) {
  auto it = std::lower_bound(aList.begin(), aList.end(), aItem);
  if (it != aList.end() && *it == aItem) aList.erase(it);
}

// Releases an engine object through its own destruction claim; the variable is nil afterwards.
template <class T>
void ReleaseEngineObject(T*& aObject) {
  T* old = aObject;
  aObject = nullptr;
  if (old) old->Free();
}

// Guards every session's bsDefaultRef and the thread variables it points to.
std::mutex& DefaultLock() {
  static std::mutex m;
  return m;
}

// Empties aList between BeginUpdate and EndUpdate and runs aFill inside the bracket.
template <class F>
void RefillList(rtl::TStrings& aList, F&& aFill) {
  aList.BeginUpdate();
  try {
    aList.Clear();
    aFill();
  } catch (...) {
    aList.EndUpdate();
    throw;
  }
  aList.EndUpdate();
}

}  // namespace

// The calling thread's default session. A thread that ends while its variable still holds a
// session detaches it, so that the session never writes into the storage of an ended thread.
struct TzfDefaultSessionSlot {
  TzfBaseSession* Session = nullptr;
  ~TzfDefaultSessionSlot() {
    std::lock_guard g(DefaultLock());
    if (Session && Session->bsDefaultRef == &Session) Session->bsDefaultRef = nullptr;
    Session = nullptr;
  }
};

namespace {
thread_local TzfDefaultSessionSlot tlsDefaultSession;
}  // namespace

// ---------------------------------------------------------------------------------------------
// TzfDataAccessStateComponent

void TzfDataAccessStateComponent::ThrowComponentException(bool aHasCode, uint32_t aErrorCode,
                                                          const UnicodeString* aMsg) {
  const TzfErrorSource self(this);
  if (aHasCode && aMsg) throw EzfDatabaseError(self, aErrorCode, UnicodeStringView(*aMsg));
  if (aHasCode) throw EzfDatabaseError(self, aErrorCode);
  throw EzfDatabaseError(self, UnicodeStringView(aMsg ? *aMsg : UnicodeString()));
}

// ---------------------------------------------------------------------------------------------
// TzfBaseSession

// Hears from the engine session that it went away and tells the client session's registrants.
class TzfClientSessionNotifier : public TzfInterfacedObject, public IzfSessionNotifier {
 public:
  explicit TzfClientSessionNotifier(TzfBaseSession* aOwner) : Owner(aOwner) {}
  int32_t _AddRef() override { return TzfInterfacedObject::_AddRef(); }
  int32_t _Release() override { return TzfInterfacedObject::_Release(); }
  void SessionDisconnected() override {
    if (TzfSessionNotifications* n = Owner->bsSessionNotifications.load()) n->Disconnected();
  }

 private:
  // The engine session is released before the client session ends, so the owner outlives every
  // call that reaches it.
  TzfBaseSession* Owner;
};

TzfBaseSession::TzfBaseSession(TComponent* aOwner) : TzfDataAccessStateComponent(aOwner) {}

IzfSessionNotifications& TzfBaseSession::SessionNotifications() {
  TzfSessionNotifications* n = bsSessionNotifications.load();
  if (n) return *n;
  auto* made = new TzfSessionNotifications();
  if (!bsSessionNotifications.compare_exchange_strong(n, made)) {
    made->Destroy();
    return *n;
  }
  RegisterWithEngineSession();
  return *made;
}

void TzfBaseSession::RegisterWithEngineSession() {
  if (!bsAbstractSession) return;
  rtl::TGUID cookie;
  RefPtr<TzfClientSessionNotifier> notifier = RefPtr<TzfClientSessionNotifier>::Create(this);
  bsAbstractSession->SessionNotifications().Register(notifier.get(), cookie);
}

TzfBaseSession::~TzfBaseSession() {
  {
    std::lock_guard g(DefaultLock());
    if (bsDefaultRef && *bsDefaultRef == this) *bsDefaultRef = nullptr;
    bsDefaultRef = nullptr;
  }
  try {
    Close();
  } catch (...) {
  }
  if (TzfSessionNotifications* n = bsSessionNotifications.exchange(nullptr)) n->Destroy();
}

uint32_t TzfBaseSession::EffectiveTimeout() const {
  return bsTimeout < 0 ? kDefaultTimeout : static_cast<uint32_t>(bsTimeout);
}

void TzfBaseSession::CheckServerEngine() {
  if (!GetServerEngine()) RaiseError(zfErrSessionNotConnected);
}

void TzfBaseSession::TimeoutChanged() {
  if (bsAbstractSession) bsAbstractSession->atoSetTimeout(EffectiveTimeout());
  for (TzfDatabase* d : std::vector<TzfDatabase*>(bsDatabases)) d->TimeoutChanged();
  for (TzfTransContext* c : std::vector<TzfTransContext*>(bsTransContexts)) c->TimeoutChanged();
}

void TzfBaseSession::SetTimeout(int32_t aValue) {
  if (aValue == bsTimeout) return;
  bsTimeout = aValue;
  TimeoutChanged();
}

void TzfBaseSession::SetUserName(const UnicodeString& aValue) {
  if (aValue == bsUserName) return;
  CheckInactive();
  bsUserName = aValue;
}

void TzfBaseSession::SetPassword(const UnicodeString& aValue) {
  if (aValue == bsPassword) return;
  CheckInactive();
  bsPassword = aValue;
}

void TzfBaseSession::SetClientLocaleAsDefault(bool aValue) {
  CheckInactive();
  bsClientLocaleAsDefault = aValue;
}

bool TzfBaseSession::Default() {
  bool wrongThread;
  bool r;
  {
    std::lock_guard g(DefaultLock());
    r = tlsDefaultSession.Session == this;
    wrongThread = r != (bsDefaultRef != nullptr) || (r && bsDefaultRef != &tlsDefaultSession.Session);
  }
  if (wrongThread) RaiseError(zfErrReentered, u"Default session has been used in another thread");
  return r;
}

void TzfBaseSession::SetDefault(bool aValue) {
  if (aValue == Default()) return;
  if (aValue) {
    if (TzfBaseSession* old = DefaultSession()) old->SetDefault(false);
    std::lock_guard g(DefaultLock());
    tlsDefaultSession.Session = this;
    bsDefaultRef = &tlsDefaultSession.Session;
  } else {
    std::lock_guard g(DefaultLock());
    tlsDefaultSession.Session = nullptr;
    bsDefaultRef = nullptr;
  }
}

TzfBaseSession* TzfBaseSession::DefaultSession() {
  std::lock_guard g(DefaultLock());
  return tlsDefaultSession.Session;
}

bool TzfBaseSession::DoLogin(UnicodeString& aUserName, UnicodeString& aPassword) {
  if (OnLogin) {
    bool result = false;
    OnLogin(this, aUserName, aPassword, result);
    return result;
  }
  if (zfLoginHook && zfIsMainThread()) return zfLoginHook(aUserName, aPassword);
  return false;
}

void TzfBaseSession::DoInitializing() {
  TzfDataAccessStateComponent::DoInitializing();
  CheckServerEngine();
}

void TzfBaseSession::DoStarting() {
  TzfDataAccessStateComponent::DoStarting();
  ZF_ASSERT(bsAbstractSession == nullptr, "zfdb");
  UnicodeString user = bsUserName.empty() ? zfDefaultUserName : bsUserName;
  UnicodeString password = bsPassword.empty() ? zfDefaultPassword : bsPassword;
  try {
    TzfBaseServerEngine* engine = GetServerEngine();
    CheckServerEngine();
    uint32_t code = engine->SessionOpen(bsAbstractSession, user, password, u"direct", EffectiveTimeout());
    for (int32_t retries = 0; retries < bsPasswordRetries && code == zfErrInvalidUserPassword; ++retries) {
      if (bsBeepOnLoginError) zfLoginBeep();
      if (!DoLogin(user, password)) break;
      code = engine->SessionOpen(bsAbstractSession, user, password, u"direct", EffectiveTimeout());
    }
    CheckResult(code);
  } catch (...) {
    ReleaseEngineObject(bsAbstractSession);
    throw;
  }
  if (bsSessionNotifications.load()) RegisterWithEngineSession();
  if (bsClientLocaleAsDefault)
    bsAbstractSession->OptionSet(u"SQL_DEFAULT_LOCALE", rtl::IntToStr(locale::GetThreadLocale()));
  bsCurrentUserName = user;
}

void TzfBaseSession::DoStopping() {
  if (TzfSessionNotifications* n = bsSessionNotifications.load()) n->Disconnected();
  bsCurrentUserName.clear();
  TzfDataAccessStateComponent::DoStopping();
  ReleaseEngineObject(bsAbstractSession);
}

void TzfBaseSession::AddDependent(TzfComponent* aComponent) {
  TzfDataAccessStateComponent::AddDependent(aComponent);
  if (auto* d = dynamic_cast<TzfDatabase*>(aComponent)) AddSorted(bsDatabases, d);
  else if (auto* c = dynamic_cast<TzfTransContext*>(aComponent)) AddSorted(bsTransContexts, c);
}

void TzfBaseSession::RemoveDependent(TzfComponent* aComponent) {
  if (auto* d = dynamic_cast<TzfDatabase*>(aComponent)) {
    RemoveSorted(bsDatabases, d);
    if (bsDefaultDatabase == d) bsDefaultDatabase = nullptr;
    std::erase_if(bsTempDatabases, [d](const auto& e) { return e.second == d; });
  } else if (auto* c = dynamic_cast<TzfTransContext*>(aComponent)) {
    RemoveSorted(bsTransContexts, c);
    if (bsDefaultTransContext == c) bsDefaultTransContext = nullptr;
  }
  TzfDataAccessStateComponent::RemoveDependent(aComponent);
}

// Aliases ---------------------------------------------------------------------------------------

uint32_t TzfBaseSession::AddAliasEx(const UnicodeString& aName, const UnicodeString& aPath, bool aEnforce) {
  if (uint32_t r = zfCheckAliasName(aName, false)) return r;
  if (aPath.empty()) return zfErrInvalidParam;
  CheckStarted();
  return bsAbstractSession->AliasAdd(aName, aPath, aEnforce);
}

void TzfBaseSession::AddAlias(const UnicodeString& aName, const UnicodeString& aPath, bool aEnforce) {
  CheckResult(AddAliasEx(aName, aPath, aEnforce));
}

uint32_t TzfBaseSession::DeleteAliasEx(const UnicodeString& aName) {
  if (uint32_t r = zfCheckAliasName(aName, true)) return r;
  CheckStarted();
  return bsAbstractSession->AliasDelete(aName);
}

void TzfBaseSession::DeleteAlias(const UnicodeString& aName) { CheckResult(DeleteAliasEx(aName)); }

uint32_t TzfBaseSession::ModifyAliasEx(const UnicodeString& aName, const UnicodeString& aNewName,
                                       const UnicodeString& aNewPath, bool aEnforce) {
  if (uint32_t r = zfCheckAliasName(aName, true)) return r;
  if (aNewName.empty() && aNewPath.empty()) return zfErrInvalidParam;
  CheckStarted();
  return bsAbstractSession->AliasModify(aName, aNewName, aNewPath, aEnforce);
}

void TzfBaseSession::ModifyAlias(const UnicodeString& aName, const UnicodeString& aNewName,
                                 const UnicodeString& aNewPath, bool aEnforce) {
  CheckResult(ModifyAliasEx(aName, aNewName, aNewPath, aEnforce));
}

uint32_t TzfBaseSession::GetAliasNamesEx(rtl::TStrings* aList, bool aEmptyList) {
  if (!aList) return zfErrInvalidParam;
  CheckStarted();
  std::vector<std::pair<UnicodeString, UnicodeString>> aliases;
  uint32_t code = 0;
  aList->BeginUpdate();
  try {
    if (aEmptyList) aList->Clear();
    code = bsAbstractSession->AliasGetList(aliases);
    for (const auto& a : aliases)
      if (aList->IndexOf(a.first) < 0) aList->Add(a.first);
  } catch (...) {
    aList->EndUpdate();
    throw;
  }
  aList->EndUpdate();
  return code;
}

void TzfBaseSession::GetAliasNames(rtl::TStrings* aList) { CheckResult(GetAliasNamesEx(aList, true)); }

uint32_t TzfBaseSession::GetAliasPathEx(const UnicodeString& aName, UnicodeString& aPath) {
  aPath.clear();
  if (uint32_t r = zfCheckAliasName(aName, true)) return r;
  CheckStarted();
  return bsAbstractSession->AliasGetPath(aName, aPath);
}

UnicodeString TzfBaseSession::GetAliasPath(const UnicodeString& aName) {
  UnicodeString path;
  CheckResult(GetAliasPathEx(aName, path));
  return path;
}

bool TzfBaseSession::IsAlias(const UnicodeString& aName) {
  UnicodeString path;
  return GetAliasPathEx(aName, path) == 0 && !path.empty();
}

// Passwords and housekeeping ----------------------------------------------------------------------

void TzfBaseSession::PasswordAdd(const UnicodeString& aPassword) {
  CheckStarted();
  CheckResult(bsAbstractSession->PasswordAdd(aPassword));
}

void TzfBaseSession::PasswordRemove(const UnicodeString& aPassword) {
  CheckStarted();
  CheckResult(bsAbstractSession->PasswordRemove(aPassword));
}

void TzfBaseSession::PasswordRemoveAll() {
  CheckStarted();
  CheckResult(bsAbstractSession->PasswordRemoveAll());
}

void TzfBaseSession::CloseInactiveTables() {
  CheckStarted();
  CheckResult(bsAbstractSession->CloseInactiveTables());
}

void TzfBaseSession::CloseInactiveFolders() {
  CheckStarted();
  for (size_t i = bsTempDatabases.size(); i-- > 0;) {
    if (i >= bsTempDatabases.size()) continue;
    TzfDatabase* d = bsTempDatabases[i].second;
    if (d && d->IsActive() && !d->HasActiveDataSets()) d->Close();
  }
  CheckResult(bsAbstractSession->CloseInactiveFolders());
}

void TzfBaseSession::GetRegisteredClassList(TzfClassListType aClassListType, rtl::TStrings* aList) {
  if (!aList) return;
  aList->Clear();
  if (GetServerEngine() && bsAbstractSession) bsAbstractSession->GetRegisteredClassList(aClassListType, *aList);
}

void TzfBaseSession::CancelProcessing() {
  if (bsAbstractSession) bsAbstractSession->Failed(false);
}

int32_t TzfBaseSession::GetServerVersion() {
  CheckStarted();
  return bsAbstractSession->asGetServerVersion();
}

// Implicit databases ------------------------------------------------------------------------------

TzfDatabase* TzfBaseSession::GetImplicitDatabase(const UnicodeString& aAliasName, bool aCreate) {
  CheckResult(zfCheckAliasName(aAliasName, true));
  for (const auto& e : bsTempDatabases)
    if (rtl::SameText(e.first, aAliasName)) return e.second;
  if (!aCreate) return nullptr;
  auto* d = new TzfDatabase(this);
  try {
    d->dbImplicit = false;
    d->SetSession(this);
    d->SetAliasName(aAliasName);
    d->dbImplicit = true;
  } catch (...) {
    d->Free();
    throw;
  }
  bsTempDatabases.emplace_back(aAliasName, d);
  return d;
}

TzfDatabase* TzfBaseSession::OpenDatabase(const UnicodeString& aAliasName) {
  TzfDatabase* d = GetImplicitDatabase(aAliasName, true);
  d->Open();
  return d;
}

TzfDatabase* TzfBaseSession::FindDatabase(const UnicodeString& aAliasName) {
  return GetImplicitDatabase(aAliasName, false);
}

void TzfBaseSession::WithImplicitDatabase(const UnicodeString& aAliasName,
                                          const std::function<void(TzfDatabase*)>& aWork) {
  TzfDatabase* d = GetImplicitDatabase(aAliasName, true);
  const bool wasActive = d->IsActive();
  try {
    d->Open();
    aWork(d);
  } catch (...) {
    if (!wasActive) d->Close();
    throw;
  }
  if (!wasActive) d->Close();
}

void TzfBaseSession::GetTableNames(const UnicodeString& aAliasName, rtl::TStrings* aList) {
  CheckResult(zfCheckAliasName(aAliasName, true));
  if (!aList) RaiseError(zfErrInvalidParam);
  RefillList(*aList, [&] { WithImplicitDatabase(aAliasName, [&](TzfDatabase* d) { d->GetTableNames(aList); }); });
}

bool TzfBaseSession::TableExists(const UnicodeString& aAliasName, const UnicodeString& aTableName,
                                 const UnicodeString& aPassword) {
  CheckResult(zfCheckAliasName(aAliasName, true));
  CheckResult(zfCheckFullTableName(aTableName, true, false));
  bool result = false;
  WithImplicitDatabase(aAliasName, [&](TzfDatabase* d) { result = d->TableExists(aTableName, aPassword); });
  return result;
}

void TzfBaseSession::GetChangedTables(const UnicodeString& aAliasName, rtl::TStrings* aList) {
  if (!aAliasName.empty()) CheckResult(zfCheckAliasName(aAliasName, true));
  if (!aList) RaiseError(zfErrInvalidParam);
  RefillList(*aList, [&] {
    if (aAliasName.empty()) return;
    TzfDatabase* d = GetImplicitDatabase(aAliasName, true);
    if (d->State() == zfsStarted) d->GetChangedTables(aList);
  });
}

// ---------------------------------------------------------------------------------------------
// TzfSession

TzfSession::~TzfSession() {
  try {
    Close();
  } catch (...) {
  }
}

void TzfSession::SetServerEngine(TzfBaseServerEngine* aValue) {
  if (aValue == sesServerEngine) return;
  CheckInactive();
  if (sesServerEngine) UnlinkDependent(sesServerEngine);
  sesServerEngine = aValue;
  if (sesServerEngine) LinkDependent(sesServerEngine);
}

void TzfSession::ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) {
  if (aKind == zfcnDestroying && aSender && aSender == sesServerEngine) {
    try {
      Close();
    } catch (...) {
    }
    sesServerEngine = nullptr;
  }
  TzfBaseSession::ReceiveNotification(aSender, aKind, aData);
}

bool TzfSession::DependsOn(TzfComponent* aComponent) {
  return (aComponent && aComponent == sesServerEngine) || TzfBaseSession::DependsOn(aComponent);
}

// ---------------------------------------------------------------------------------------------
// TzfSessionOwnedDataAccessStateComponent

TzfSessionOwnedDataAccessStateComponent::TzfSessionOwnedDataAccessStateComponent(TComponent* aOwner)
    : TzfDataAccessStateComponent(aOwner) {}

void TzfSessionOwnedDataAccessStateComponent::SetSession(TzfBaseSession* aValue) {
  if (aValue == soSession) return;
  CheckInactive();
  if (soSession) UnlinkDependent(soSession);
  soSession = aValue;
  if (soSession) LinkDependent(soSession);
}

void TzfSessionOwnedDataAccessStateComponent::UseDefaultSession() {
  if (!soSession) SetSession(TzfBaseSession::DefaultSession());
}

void TzfSessionOwnedDataAccessStateComponent::SetTimeout(int32_t aValue) {
  if (aValue == soTimeout) return;
  soTimeout = aValue;
  TimeoutChanged();
}

uint32_t TzfSessionOwnedDataAccessStateComponent::EffectiveTimeout() const {
  if (soTimeout >= 0) return static_cast<uint32_t>(soTimeout);
  return soSession ? soSession->EffectiveTimeout() : kDefaultTimeout;
}

void TzfSessionOwnedDataAccessStateComponent::CheckSession() {
  if (!soSession) RaiseError(u"No owning session");
}

void TzfSessionOwnedDataAccessStateComponent::ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind,
                                                                  const void* aData) {
  if (aKind == zfcnDestroying && aSender && aSender == soSession) {
    try {
      Close();
    } catch (...) {
    }
    soSession = nullptr;
  }
  TzfDataAccessStateComponent::ReceiveNotification(aSender, aKind, aData);
}

bool TzfSessionOwnedDataAccessStateComponent::DependsOn(TzfComponent* aComponent) {
  return (aComponent && aComponent == soSession) || TzfDataAccessStateComponent::DependsOn(aComponent);
}

// ---------------------------------------------------------------------------------------------
// TzfTransContext

TzfTransContext::TzfTransContext(TComponent* aOwner) : TzfSessionOwnedDataAccessStateComponent(aOwner) {
  if (!aOwner || !aOwner->IsLoading()) UseDefaultSession();
}

TzfTransContext::~TzfTransContext() {
  try {
    Close();
  } catch (...) {
  }
}

bool TzfTransContext::Default() const { return soSession && soSession->bsDefaultTransContext == this; }

void TzfTransContext::SetDefault(bool aValue) {
  if (IsLoading()) {
    tcLoadedDefault = aValue;
    return;
  }
  if (aValue == Default() || !soSession) return;
  soSession->bsDefaultTransContext = aValue ? this : nullptr;
}

void TzfTransContext::Loaded() {
  UseDefaultSession();
  SetDefault(tcLoadedDefault);
  TzfSessionOwnedDataAccessStateComponent::Loaded();
}

void TzfTransContext::TimeoutChanged() {
  if (tcAbstractTransContext) tcAbstractTransContext->atoSetTimeout(EffectiveTimeout());
}

void TzfTransContext::AddDependent(TzfComponent* aComponent) {
  TzfSessionOwnedDataAccessStateComponent::AddDependent(aComponent);
  if (auto* d = dynamic_cast<TzfDatabase*>(aComponent)) AddSorted(tcDatabases, d);
}

void TzfTransContext::RemoveDependent(TzfComponent* aComponent) {
  if (auto* d = dynamic_cast<TzfDatabase*>(aComponent)) RemoveSorted(tcDatabases, d);
  TzfSessionOwnedDataAccessStateComponent::RemoveDependent(aComponent);
}

void TzfTransContext::DoInitializing() {
  TzfSessionOwnedDataAccessStateComponent::DoInitializing();
  CheckSession();
}

void TzfTransContext::DoStarting() {
  TzfSessionOwnedDataAccessStateComponent::DoStarting();
  CheckSession();
  soSession->CheckStarted();
  CheckResult(soSession->bsAbstractSession->TransContextCreate(tcAbstractTransContext, EffectiveTimeout()));
}

void TzfTransContext::DoStopping() {
  TzfSessionOwnedDataAccessStateComponent::DoStopping();
  ReleaseEngineObject(tcAbstractTransContext);
}

void TzfTransContext::StartTransaction(bool aSnapShot) {
  CheckStarted();
  CheckResult(tcAbstractTransContext->TransactionStart(tcFailSafe, aSnapShot));
}

bool TzfTransContext::TryStartTransaction(bool aSnapShot) {
  if (InTransaction()) return false;
  StartTransaction(aSnapShot);
  return true;
}

void TzfTransContext::Commit() {
  CheckStarted();
  CheckResult(tcAbstractTransContext->TransactionCommit());
}

void TzfTransContext::Rollback() {
  CheckStarted();
  CheckResult(tcAbstractTransContext->TransactionRollback());
}

void TzfTransContext::TransactionCorrupted() {
  CheckStarted();
  CheckResult(tcAbstractTransContext->TransactionCorrupted());
}

bool TzfTransContext::InTransaction() {
  CheckStarted();
  int32_t level = -1;
  uint32_t code = tcAbstractTransContext->TransactionGetLevel(level);
  if (code == zfErrNoActiveTran) return false;
  CheckResult(code);
  return level >= 0;
}

// ---------------------------------------------------------------------------------------------
// TzfDatabase

TzfDatabase::TzfDatabase(TComponent* aOwner) : TzfSessionOwnedDataAccessStateComponent(aOwner) {
  if (!aOwner || !aOwner->IsLoading()) UseDefaultSession();
}

TzfDatabase::~TzfDatabase() {
  try {
    Close();
  } catch (...) {
  }
}

void TzfDatabase::SetAliasName(const UnicodeString& aValue) {
  UnicodeString v = rtl::Trim(aValue);
  if (rtl::SameText(v, dbAliasName)) {
    dbAliasName = v;
    return;
  }
  if (dbImplicit) RaiseError(u"AliasName can't be changed for an implicit database");
  CheckInactive();
  dbAliasName = v;
  if (!v.empty()) dbAliasPath.clear();
}

void TzfDatabase::SetAliasPath(const UnicodeString& aValue) {
  UnicodeString v = rtl::Trim(aValue);
  // A trailing delimiter goes; the root "/" stays a root.
  if (v.size() > 1 && v.back() == u'/') v.pop_back();
  if (rtl::SameText(v, dbAliasPath)) {
    dbAliasPath = v;
    return;
  }
  if (dbImplicit) RaiseError(u"AliasName can't be changed for an implicit database");
  CheckInactive();
  dbAliasPath = v;
  if (!v.empty()) dbAliasName.clear();
}

void TzfDatabase::SetTransContext(TzfTransContext* aValue) {
  if (aValue == dbTransContext) return;
  CheckInactive();
  if (dbTransContext) UnlinkDependent(dbTransContext);
  dbTransContext = aValue;
  if (dbTransContext) {
    LinkDependent(dbTransContext);
    if (dbTransContext->Session()) SetSession(dbTransContext->Session());
  }
}

void TzfDatabase::SetSession(TzfBaseSession* aValue) {
  if (dbImplicit) return;
  TzfSessionOwnedDataAccessStateComponent::SetSession(aValue);
  if (soSession && (!dbTransContext || dbTransContext->Session() != soSession))
    SetTransContext(soSession->DefaultTransContext());
}

void TzfDatabase::UseDefaultSession() {
  TzfSessionOwnedDataAccessStateComponent::UseDefaultSession();
  if (soSession && !dbTransContext) SetTransContext(soSession->DefaultTransContext());
}

bool TzfDatabase::Default() const { return soSession && soSession->bsDefaultDatabase == this; }

void TzfDatabase::SetDefault(bool aValue) {
  if (IsLoading()) {
    dbLoadedDefault = aValue;
    return;
  }
  if (aValue == Default() || !soSession) return;
  soSession->bsDefaultDatabase = aValue ? this : nullptr;
}

void TzfDatabase::Loaded() {
  UseDefaultSession();
  SetDefault(dbLoadedDefault);
  TzfSessionOwnedDataAccessStateComponent::Loaded();
}

void TzfDatabase::TimeoutChanged() {
  if (dbAbstractDatabase) dbAbstractDatabase->atoSetTimeout(EffectiveTimeout());
  for (TzfCursor* c : dbDataSets) c->DataSet()->TimeoutChanged();
}

void TzfDatabase::AddDependent(TzfComponent* aComponent) {
  TzfSessionOwnedDataAccessStateComponent::AddDependent(aComponent);
  if (auto* c = dynamic_cast<TzfCursor*>(aComponent))
    if (std::find(dbDataSets.begin(), dbDataSets.end(), c) == dbDataSets.end()) dbDataSets.push_back(c);
}

bool TzfDatabase::HasActiveDataSets() const {
  return std::any_of(dbDataSets.begin(), dbDataSets.end(), [](TzfCursor* c) { return c->DataSet()->Active(); });
}

int32_t TzfDatabase::TableCount() const {
  return static_cast<int32_t>(std::count_if(dbDataSets.begin(), dbDataSets.end(), [](TzfCursor* c) {
    return dynamic_cast<TzfTable*>(c->DataSet()) != nullptr;
  }));
}

void TzfDatabase::RemoveDependent(TzfComponent* aComponent) {
  TzfSessionOwnedDataAccessStateComponent::RemoveDependent(aComponent);
  if (auto* c = dynamic_cast<TzfCursor*>(aComponent)) std::erase(dbDataSets, c);
}

void TzfDatabase::ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) {
  if (aKind == zfcnDestroying && aSender) {
    if (aSender == soSession && dbImplicit) {
      // An implicit database belongs to its session and goes with it.
      TzfSessionOwnedDataAccessStateComponent::ReceiveNotification(aSender, aKind, aData);
      Free();
      return;
    }
    if (aSender == dbTransContext) {
      try {
        Close();
      } catch (...) {
      }
      dbTransContext = nullptr;
    }
  }
  TzfSessionOwnedDataAccessStateComponent::ReceiveNotification(aSender, aKind, aData);
}

bool TzfDatabase::DependsOn(TzfComponent* aComponent) {
  return (aComponent && aComponent == dbTransContext) ||
         TzfSessionOwnedDataAccessStateComponent::DependsOn(aComponent);
}

void TzfDatabase::DoInitializing() {
  TzfSessionOwnedDataAccessStateComponent::DoInitializing();
  CheckSession();
  if (dbAliasName.empty() && dbAliasPath.empty()) RaiseError(u"AliasName or AliasPath must be specified");
}

void TzfDatabase::DoStarting() {
  TzfSessionOwnedDataAccessStateComponent::DoStarting();
  CheckSession();
  soSession->CheckStarted();
  TzfAbstractTransContext* context = dbTransContext ? dbTransContext->AbstractTransContext() : nullptr;
  const TzfOpenMode openMode = dbReadOnly ? omReadOnly : omReadWrite;
  const TzfShareMode shareMode = dbExclusive ? smExclusive : smShared;
  const bool byName = !dbAliasName.empty();
  CheckResult(soSession->bsAbstractSession->DatabaseOpen(dbAbstractDatabase, byName ? u"Name" : u"Path",
                                                         byName ? dbAliasName : dbAliasPath, context, openMode,
                                                         shareMode, EffectiveTimeout()));
}

void TzfDatabase::DoStopping() {
  TzfSessionOwnedDataAccessStateComponent::DoStopping();
  // The statement datasets give up their statements before the engine database goes.
  for (TzfCursor* c : std::vector<TzfCursor*>(dbDataSets)) c->DataSet()->DatabaseStopping();
  ReleaseEngineObject(dbAbstractDatabase);
}

bool TzfDatabase::AllowSystem() { return dbAbstractDatabase && dbAbstractDatabase->IsSystemTableAccessAllowed(); }

TzfAbstractTaskInfo* TzfDatabase::TaskResult(uint32_t aCode, TzfAbstractTaskInfo* aTaskInfo) {
  if (aCode != 0) {
    // A task handle answered together with an error is not left to leak.
    if (aTaskInfo) aTaskInfo->Free();
    CheckResult(aCode);
  }
  return aTaskInfo;
}

// Maintenance -----------------------------------------------------------------------------------

uint32_t TzfDatabase::CreateTableEx(bool aOverWrite, const UnicodeString& aTableName, const UnicodeString& aPassword,
                                    TzfDataDictionary* aDictionary, TzfTableScope aTableScope) {
  if (!aDictionary) return zfErrInvalidParam;
  if (aTableName.empty()) return zfErrInvalidTableName;
  CheckStarted();
  return dbAbstractDatabase->TableBuild(aOverWrite, aTableName, aPassword, aDictionary, aTableScope, AllowSystem());
}

void TzfDatabase::CreateTable(bool aOverWrite, const UnicodeString& aTableName, const UnicodeString& aPassword,
                              TzfDataDictionary* aDictionary, TzfTableScope aTableScope) {
  CheckResult(CreateTableEx(aOverWrite, aTableName, aPassword, aDictionary, aTableScope));
}

void TzfDatabase::DeleteTable(const UnicodeString& aTableName, const UnicodeString& aPassword) {
  if (aTableName.empty()) return;
  CheckStarted();
  uint32_t code = dbAbstractDatabase->TableDelete(aTableName, aPassword);
  if (code != zfErrNoSuchTable) CheckResult(code);
}

void TzfDatabase::EmptyTable(const UnicodeString& aTableName, const UnicodeString& aPassword) {
  if (aTableName.empty()) RaiseError(zfErrInvalidTableName);
  CheckStarted();
  CheckResult(dbAbstractDatabase->TableEmpty(aTableName, aPassword));
}

void TzfDatabase::RenameTable(const UnicodeString& aOldName, const UnicodeString& aNewName,
                              const UnicodeString& aPassword) {
  if (aOldName.empty() || aNewName.empty()) RaiseError(zfErrInvalidTableName);
  CheckStarted();
  CheckResult(dbAbstractDatabase->TableRename(aOldName, aNewName, aPassword));
}

uint32_t TzfDatabase::PackTableEx(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                  TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (aTableName.empty()) return zfErrInvalidTableName;
  CheckStarted();
  return dbAbstractDatabase->TablePack(aTableName, aPassword, aTaskInfo);
}

TzfAbstractTaskInfo* TzfDatabase::PackTable(const UnicodeString& aTableName, const UnicodeString& aPassword) {
  TzfAbstractTaskInfo* task = nullptr;
  uint32_t code = PackTableEx(aTableName, aPassword, task);
  return TaskResult(code, task);
}

uint32_t TzfDatabase::BackupTableEx(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                    TzfDatabase* aTarget, TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (aTableName.empty()) return zfErrInvalidTableName;
  if (!aTarget) return zfErrInvalidParam;
  if (aTarget->Session() != Session()) return zfErrDifferentSessions;
  if (aTarget->AliasName() == dbAliasName && aTarget->AliasPath() == dbAliasPath) return zfErrSameFolder;
  CheckStarted();
  return dbAbstractDatabase->TableBackup(aTableName, aPassword, aTarget->AbstractDatabase(), aTaskInfo);
}

TzfAbstractTaskInfo* TzfDatabase::BackupTable(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                              TzfDatabase* aTarget) {
  TzfAbstractTaskInfo* task = nullptr;
  uint32_t code = BackupTableEx(aTableName, aPassword, aTarget, task);
  return TaskResult(code, task);
}

uint32_t TzfDatabase::RestructureTableEx(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                         TzfDataDictionary* aDictionary, TzfBaseTableMapperDescriptor* aMapperDesc,
                                         TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (aTableName.empty()) return zfErrInvalidTableName;
  if (!aDictionary) return zfErrInvalidParam;
  CheckStarted();
  return dbAbstractDatabase->TableRestructure(aTableName, aPassword, aDictionary, aMapperDesc,
                                              dbAbstractDatabase->IsSystemTableAccessAllowed(), aTaskInfo);
}

TzfAbstractTaskInfo* TzfDatabase::RestructureTable(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                                   TzfDataDictionary* aDictionary,
                                                   TzfBaseTableMapperDescriptor* aMapperDesc) {
  TzfAbstractTaskInfo* task = nullptr;
  uint32_t code = RestructureTableEx(aTableName, aPassword, aDictionary, aMapperDesc, task);
  return TaskResult(code, task);
}

uint32_t TzfDatabase::RecoverTableEx(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                     TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (uint32_t r = zfCheckTableName(aTableName, true, false)) return r;
  CheckStarted();
  return dbAbstractDatabase->TableRecover(aTableName, aPassword, aTaskInfo);
}

TzfAbstractTaskInfo* TzfDatabase::RecoverTable(const UnicodeString& aTableName, const UnicodeString& aPassword) {
  TzfAbstractTaskInfo* task = nullptr;
  uint32_t code = RecoverTableEx(aTableName, aPassword, task);
  return TaskResult(code, task);
}

uint32_t TzfDatabase::ReIndexTableEx(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                     const UnicodeString& aIndexName, TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (aTableName.empty()) return zfErrInvalidTableName;
  CheckStarted();
  return dbAbstractDatabase->TableRebuildIndex(aTableName, aPassword, aIndexName, -1, aTaskInfo);
}

uint32_t TzfDatabase::ReIndexTableEx(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                     int32_t aIndexNum, TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (aTableName.empty()) return zfErrInvalidTableName;
  CheckStarted();
  return dbAbstractDatabase->TableRebuildIndex(aTableName, aPassword, UnicodeString(), aIndexNum, aTaskInfo);
}

TzfAbstractTaskInfo* TzfDatabase::ReIndexTable(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                               const UnicodeString& aIndexName) {
  TzfAbstractTaskInfo* task = nullptr;
  const uint32_t code = ReIndexTableEx(aTableName, aPassword, aIndexName, task);
  return TaskResult(code, task);
}

TzfAbstractTaskInfo* TzfDatabase::ReIndexTable(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                               int32_t aIndexNum) {
  TzfAbstractTaskInfo* task = nullptr;
  const uint32_t code = ReIndexTableEx(aTableName, aPassword, aIndexNum, task);
  return TaskResult(code, task);
}

uint32_t TzfDatabase::VerifyChecksumTableEx(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                            bool aRaw, bool aForceRecheck, TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (uint32_t r = zfCheckTableName(aTableName, true, false)) return r;
  CheckStarted();
  return dbAbstractDatabase->TableVerifyChecksum(aTableName, aPassword, aRaw, aForceRecheck, aTaskInfo);
}

TzfAbstractTaskInfo* TzfDatabase::VerifyChecksumTable(const UnicodeString& aTableName,
                                                      const UnicodeString& aPassword, bool aRaw, bool aForceRecheck) {
  TzfAbstractTaskInfo* task = nullptr;
  uint32_t code = VerifyChecksumTableEx(aTableName, aPassword, aRaw, aForceRecheck, task);
  return TaskResult(code, task);
}

uint32_t TzfDatabase::ChangePasswordEx(const UnicodeString& aTableName, const UnicodeString& aOldPassword,
                                       const UnicodeString& aNewPassword) {
  CheckStarted();
  return dbAbstractDatabase->TableChangePassword(aTableName, aOldPassword, aNewPassword);
}

void TzfDatabase::ChangePassword(const UnicodeString& aTableName, const UnicodeString& aOldPassword,
                                 const UnicodeString& aNewPassword) {
  CheckResult(ChangePasswordEx(aTableName, aOldPassword, aNewPassword));
}

uint32_t TzfDatabase::GetDataDictionaryEx(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                          TzfDataDictionary* aDictionary) {
  if (aTableName.empty()) return zfErrInvalidTableName;
  if (!aDictionary) return zfErrInvalidParam;
  CheckStarted();
  return dbAbstractDatabase->TableGetDictionary(rtl::ChangeFileExt(aTableName, u""), aPassword, aDictionary);
}

void TzfDatabase::GetDataDictionary(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                    TzfDataDictionary* aDictionary) {
  CheckResult(GetDataDictionaryEx(aTableName, aPassword, aDictionary));
}

uint32_t TzfDatabase::GetAutoIncValue(const UnicodeString& aTableName, const UnicodeString& aPassword) {
  CheckStarted();
  uint32_t value = 0;
  CheckResult(dbAbstractDatabase->TableAutoIncGet(aTableName, aPassword, value));
  return value;
}

bool TzfDatabase::TableExists(const UnicodeString& aTableName, const UnicodeString& aPassword) {
  if (aTableName.empty()) return false;
  CheckStarted();
  const bool allow = AllowSystem();
  CheckResult(zfCheckFullTableName(aTableName, true, allow));
  bool exists = false;
  CheckResult(dbAbstractDatabase->TableExists(aTableName, aPassword, exists, allow));
  return exists;
}

void TzfDatabase::GetTableNames(rtl::TStrings* aList) {
  if (!aList) RaiseError(zfErrInvalidParam);
  CheckStarted();
  RefillList(*aList, [&] { CheckResult(dbAbstractDatabase->TableGetList(*aList)); });
}

void TzfDatabase::GetChangedTables(rtl::TStrings* aList) {
  if (!aList) RaiseError(zfErrInvalidParam);
  CheckStarted();
  RefillList(*aList, [&] { CheckResult(dbAbstractDatabase->GetChangedTables(*aList)); });
}

uint32_t TzfDatabase::GetFreeDiskSpaceEx(int64_t& aFreeSpace) {
  CheckStarted();
  return dbAbstractDatabase->GetFreespace(aFreeSpace);
}

int64_t TzfDatabase::GetFreeDiskSpace() {
  int64_t value = 0;
  CheckResult(GetFreeDiskSpaceEx(value));
  return value;
}

UnicodeString TzfDatabase::GetPath() {
  CheckStarted();
  UnicodeString path;
  CheckResult(dbAbstractDatabase->GetPath(path));
  return path;
}

UnicodeString TzfDatabase::DatabasePath() {
  if (!dbAliasPath.empty()) return dbAliasPath;
  CheckStarted();
  return soSession->GetAliasPath(dbAliasName);
}

bool TzfDatabase::Exists() {
  if (IsActive()) return true;
  if (!soSession) return false;
  if (!dbAliasName.empty()) return soSession->IsAlias(dbAliasName);
  if (!dbAliasPath.empty()) {
    try {
      Open();
      Close();
    } catch (const std::exception&) {
      return false;
    }
    return true;
  }
  return true;
}

// Transactions --------------------------------------------------------------------------------------

void TzfDatabase::StartTransaction(bool aSnapShot) {
  CheckStarted();
  CheckResult(dbAbstractDatabase->TransactionStart(dbFailSafe, aSnapShot));
}

bool TzfDatabase::TryStartTransaction(bool aSnapShot) {
  if (InTransaction()) return false;
  StartTransaction(aSnapShot);
  return true;
}

void TzfDatabase::Commit() {
  CheckStarted();
  CheckResult(dbAbstractDatabase->TransactionCommit());
}

void TzfDatabase::Rollback() {
  CheckStarted();
  CheckResult(dbAbstractDatabase->TransactionRollback());
}

void TzfDatabase::TransactionCorrupted() {
  CheckStarted();
  CheckResult(dbAbstractDatabase->TransactionCorrupted());
}

bool TzfDatabase::InTransaction() {
  if (State() != zfsStarted) return false;
  int32_t level = -1;
  uint32_t code = dbAbstractDatabase->TransactionGetLevel(level);
  if (code == zfErrNoActiveTran) return false;
  CheckResult(code);
  return level >= 0;
}

rtl::TComponentPtr<TzfTable> TzfDatabase::OpenTable(const UnicodeString& aTableName, const UnicodeString& aIndexName,
                                                    int32_t aBlockReadSize) {
  rtl::TComponentPtr<TzfTable> table(new TzfTable());
  table->SetDatabase(this);
  table->SetTableName(aTableName);
  table->SetIndexName(aIndexName);
  table->SetBlockReadSize(aBlockReadSize);
  table->Open();
  return table;
}

}  // namespace zf
