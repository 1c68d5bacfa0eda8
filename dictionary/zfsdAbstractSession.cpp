#include "dictionary/zfsdAbstractSession.h"

#include "dictionary/zfsdServerEngine.h"
#include "foundation/zfllConst.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllThread.h"
#include "platform/rtl/rtlException.h"

namespace zf {

namespace {

void CountUp(std::atomic<int32_t>* aCounter, bool& aDone) {
  if (!aCounter) return;
  aCounter->fetch_add(1);
  aDone = true;
}

void CountDown(std::atomic<int32_t>* aCounter, bool& aDone) {
  if (!aDone) return;
  aDone = false;
  if (aCounter) aCounter->fetch_sub(1);
}

constexpr uint32_t kCleanupWaitMs = 60000;

}  // namespace

// ---------------------------------------------------------------------------------------------
// TzfAbstractTaskInfo

const rtl::TClassInfo& TzfAbstractTaskInfo::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfAbstractTaskInfo", &TzfExtendableServerObject::ClassInfo()};
  return info;
}

TzfAbstractTaskInfo::TzfAbstractTaskInfo(TzfAbstractSession* aSession) : TzfExtendableServerObject(aSession) {
  if (aSession) aSession->asTaskInfos.Append(this);
}

TzfAbstractTaskInfo::~TzfAbstractTaskInfo() {
  if (asoSession) asoSession->asTaskInfos.Remove(this);
}

TzfServerChain* TzfAbstractTaskInfo::asoOwnerChain() { return asoSession ? &asoSession->asTaskInfos : nullptr; }

void TzfAbstractTaskInfo::PrepareDestroy() {
  Cancel();
  TzfExtendableServerObject::PrepareDestroy();
}

void TzfAbstractTaskInfo::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfExtendableServerObject::AddExceptionData(aContainer);
  aContainer.AddObject(u"Session", asoSession);
}

// ---------------------------------------------------------------------------------------------
// TzfAbstractSession

const rtl::TClassInfo& TzfAbstractSession::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfAbstractSession", &TzfAbstractTimeoutObject::ClassInfo()};
  return info;
}

TzfAbstractSession::TzfAbstractSession(TzfBaseServerEngine* aServerEngine, uint32_t aTimeout,
                                       const UnicodeString& aUserName, const UnicodeString& aPassword,
                                       const UnicodeString& aConnectedFrom)
    : TzfAbstractTimeoutObject(nullptr, aTimeout),
      asServerEngine(aServerEngine),
      asConnectedSince(rtl::Now()),
      asUserName(aUserName),
      asPassword(aPassword),
      asConnectedFrom(aConnectedFrom) {
  asOwnLock = new TzfSimpleLock([this] { asFailedCleanup(); });
  atoLock = asOwnLock;
  if (asServerEngine) asServerEngine->bseSessions.Append(this);
}

TzfAbstractSession::~TzfAbstractSession() {
  TzfSessionNotifications* notifications = asSessionNotifications.load(std::memory_order_acquire);
  if (notifications) notifications->Disconnected();
  asRemoveFromServerEngine();
  atoLock = nullptr;
  // The clean-up may have run on this thread while a holder was still giving the lock back: the
  // lock goes only once it is free. (A holder on this very thread is refused before destruction
  // starts; should one be here all the same, the lock is kept rather than freed under it.)
  if (asOwnLock->LockingThread() != os::GetCurrentThreadId()) {
    asOwnLock->WaitUntilFree();
    delete asOwnLock;
  }
  delete notifications;
}

IzfSessionNotifications& TzfAbstractSession::SessionNotifications() {
  TzfSessionNotifications* current = asSessionNotifications.load(std::memory_order_acquire);
  if (current) return *current;
  auto* mine = new TzfSessionNotifications();
  if (asSessionNotifications.compare_exchange_strong(current, mine, std::memory_order_acq_rel)) return *mine;
  delete mine;
  return *current;
}

void TzfAbstractSession::AfterConstruction() {
  TzfAbstractTimeoutObject::AfterConstruction();
  CountUp(asServerEngine ? &asServerEngine->bseSessionCount : nullptr, asLockedIncDone);
}

void TzfAbstractSession::BeforeDestruction() {
  CountDown(asServerEngine ? &asServerEngine->bseSessionCount : nullptr, asLockedIncDone);
  TzfAbstractTimeoutObject::BeforeDestruction();
}

TzfServerChain* TzfAbstractSession::asoOwnerChain() { return asServerEngine ? &asServerEngine->bseSessions : nullptr; }

void TzfAbstractSession::PrepareDestroy() {
  asMarkFailed(true, true);
  // An operation still running on another thread delays the destruction until it has ended and
  // the clean-up ran: its objects and the lock must not be freed under it.
  TzfSimpleLock* lock = asOwnLock;
  if (lock->LockingThread() != os::GetCurrentThreadId()) {
    while (!lock->WaitCleanupDone(kCleanupWaitMs)) zfReportSlowStop(u"session clean-up", kCleanupWaitMs);
  }
  TzfAbstractTimeoutObject::PrepareDestroy();
}

void TzfAbstractSession::asoCheckDestroyAllowed() {
  if (asOwnLock && asOwnLock->LockingThread() == os::GetCurrentThreadId())
    rtl::AssertionFailure("zfsdServerEngine", __LINE__);
}

int32_t TzfAbstractSession::asoGetVersion() { return std::min(asGetClientVersion(), asGetServerVersion()); }
int32_t TzfAbstractSession::asGetClientVersion() { return zfEngineVersion; }
int32_t TzfAbstractSession::asGetServerVersion() { return zfEngineVersion; }

void TzfAbstractSession::asRemoveFromServerEngine() {
  if (asServerEngine) asServerEngine->bseSessions.Remove(this);
}

void TzfAbstractSession::asMarkFailed(bool aPermanent, bool aWait) {
  if (asOwnLock) asOwnLock->Failed(aPermanent, aWait);
}

bool TzfAbstractSession::Failed(bool aPermanent) {
  if (Destroying() || !asOwnLock) return false;
  return asOwnLock->Failed(aPermanent, false);
}

void TzfAbstractSession::asFailedCleanup() {
  // Everything running in the session is told to stop before anything is freed.
  asTaskInfos.ForEachLive([](TzfAbstractServerObject* o) { o->PrepareDestroy(); });
  asDatabases.ForEachLive([](TzfAbstractServerObject* o) { o->PrepareDestroy(); });
  asTransContexts.ForEachLive([](TzfAbstractServerObject* o) { o->PrepareDestroy(); });
  asTaskInfos.FreeAll();
  asDatabases.FreeAll();
  asTransContexts.FreeAll();
  asCleanedUp.store(true);
}

uint32_t TzfAbstractSession::LookupByID(TzfSessionID aSessionID, TzfAbstractSession*& aSession) {
  TzfAbstractServerObject* base = nullptr;
  uint32_t r = TzfAbstractServerObject::LookupByID(ClassInfo(), 0, aSessionID, base);
  aSession = static_cast<TzfAbstractSession*>(base);
  return r;
}

void TzfAbstractSession::GetUserInfo(rtl::TStrings& aStrings) {
  UnicodeString since = rtl::DateTimeToStr(asConnectedSince);
  aStrings.Add(zfEncodeCustomInfo(u"Session.ID", rtl::IntToStr(static_cast<int64_t>(asoGetID()))) +
               u"Connected since: " + since + zfEncodeCustomInfo(u"Session.ConnectedSince", since));
  if (!asUserName.empty()) {
    aStrings.Add(u"Username: " + asUserName + u" [" + (asAuthenticated ? u"authenticated" : u"not authenticated") +
                 u"]" + zfEncodeCustomInfo(u"Session.UserName", asUserName) +
                 zfEncodeCustomInfo(u"Session.Authenticated", asAuthenticated ? u"1" : u"0"));
  } else {
    aStrings.Add(u"anonymous User" + zfEncodeCustomInfo(u"Session.UserName", u""));
  }
  if (!asConnectedFrom.empty()) aStrings.Add(u"Connected from: " + asConnectedFrom);
}

void TzfAbstractSession::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfAbstractTimeoutObject::AddExceptionData(aContainer);
  aContainer.AddObject(u"ServerEngine", asServerEngine);
  aContainer.AddString(u"UserName", asUserName);
  aContainer.AddBoolean(u"Authenticated", asAuthenticated);
  aContainer.AddString(u"ConnectedFrom", asConnectedFrom);
  aContainer.AddBoolean(u"CleanedUp", asCleanedUp.load());
}

// ---------------------------------------------------------------------------------------------
// Transaction contexts

const rtl::TClassInfo& TzfBaseTransContext::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfBaseTransContext", &TzfAbstractTimeoutObject::ClassInfo()};
  return info;
}

const rtl::TClassInfo& TzfAbstractTransContext::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfAbstractTransContext", &TzfBaseTransContext::ClassInfo()};
  return info;
}

TzfAbstractTransContext::TzfAbstractTransContext(TzfAbstractSession* aSession, uint32_t aTimeout)
    : TzfBaseTransContext(aSession, aTimeout) {
  atoLock = aSession->atoGetLock();
  aSession->asTransContexts.Append(this);
}

TzfAbstractTransContext::~TzfAbstractTransContext() {
  if (asoSession) asoSession->asTransContexts.Remove(this);
}

TzfServerChain* TzfAbstractTransContext::asoOwnerChain() {
  return asoSession ? &asoSession->asTransContexts : nullptr;
}

void TzfAbstractTransContext::AfterConstruction() {
  TzfBaseTransContext::AfterConstruction();
  TzfBaseServerEngine* engine = asoGetServerEngine();
  CountUp(engine ? &engine->bseTransContextCount : nullptr, atcLockedIncDone);
}

void TzfAbstractTransContext::BeforeDestruction() {
  TzfBaseServerEngine* engine = asoGetServerEngine();
  CountDown(engine ? &engine->bseTransContextCount : nullptr, atcLockedIncDone);
  TzfBaseTransContext::BeforeDestruction();
  try {
    atcForceRollback();
  } catch (const std::exception& e) {
    asoConvertException(e);
  }
  if (!asoSession) return;
  // Each database still attached leaves this context and gets a private one. The new context is
  // made under the link lock, so a database being freed on another thread meets it either still
  // here or already in its new context, never in between.
  std::lock_guard g(asoSession->asTransLinksLock);
  while (!atcDatabases.empty()) {
    TzfAbstractDatabase* db = atcDatabases.front();
    atcDatabases.erase(atcDatabases.begin());
    db->adTransContext.store(nullptr, std::memory_order_release);
    TzfAbstractTransContext* ctx = nullptr;
    uint32_t r = 0;
    try {
      r = asoSession->TransContextCreate(ctx, db->atoGetTimeout());
    } catch (const std::exception& e) {
      r = asoConvertException(e);
    }
    if (r != 0 || !ctx) continue;  // the database stays without a context; its transactions answer 9990
    db->adOwnedTransContext = ctx;
    ctx->atcDatabases.push_back(db);
    db->adTransContext.store(ctx, std::memory_order_release);
  }
}

void TzfAbstractTransContext::PrepareDestroy() {
  TzfBaseTransContext::PrepareDestroy();
  Failed();
}

void TzfAbstractTransContext::Failed() {
  atcFailed.store(true);
  atcForceRollback();
}

std::vector<TzfAbstractDatabase*> TzfAbstractTransContext::AttachedDatabases() {
  if (!asoSession) return {};
  std::lock_guard g(asoSession->asTransLinksLock);
  return atcDatabases;
}

void TzfAbstractTransContext::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfBaseTransContext::AddExceptionData(aContainer);
  aContainer.AddObject(u"Session", asoSession);
  std::vector<TzfAbstractDatabase*> dbs = AttachedDatabases();
  aContainer.AddString(u"AttachedDatabases", dbs.empty() ? u"None" : dbs.size() == 1 ? u"One" : u"Multiple");
}

// ---------------------------------------------------------------------------------------------
// TzfAbstractDatabase

const rtl::TClassInfo& TzfAbstractDatabase::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfAbstractDatabase", &TzfBaseTransContext::ClassInfo()};
  return info;
}

TzfAbstractDatabase::TzfAbstractDatabase(TzfAbstractSession* aSession, TzfAbstractTransContext* aTransContext,
                                         uint32_t aTimeout)
    : TzfBaseTransContext(aSession, aTimeout) {
  atoLock = aSession->atoGetLock();
  if (!aTransContext) {
    uint32_t r = aSession->TransContextCreate(adOwnedTransContext, aTimeout);
    if (r == 0 && !adOwnedTransContext) r = zfErrInvalidHndl;
    // A database without a context of its own would fail later on every transaction: it is not
    // created at all.
    if (r != 0) {
      if (TzfBaseServerEngine* engine = aSession->asoGetServerEngine()) engine->bseRaiseException(r);
      throw EzfBaseException(r);
    }
    aTransContext = adOwnedTransContext;
  }
  {
    std::lock_guard g(aSession->asTransLinksLock);
    aTransContext->atcDatabases.push_back(this);
    adTransContext.store(aTransContext, std::memory_order_release);
  }
  aSession->asDatabases.Append(this);
}

TzfAbstractDatabase::~TzfAbstractDatabase() {
  // A database whose destruction never reached its first phase still leaves its links.
  DetachFromContext();
  if (asoSession) asoSession->asDatabases.Remove(this);
}

TzfServerChain* TzfAbstractDatabase::asoOwnerChain() { return asoSession ? &asoSession->asDatabases : nullptr; }

void TzfAbstractDatabase::AfterConstruction() {
  TzfBaseTransContext::AfterConstruction();
  TzfBaseServerEngine* engine = asoGetServerEngine();
  CountUp(engine ? &engine->bseDatabaseCount : nullptr, adLockedIncDone);
}

void TzfAbstractDatabase::BeforeDestruction() {
  TzfBaseServerEngine* engine = asoGetServerEngine();
  CountDown(engine ? &engine->bseDatabaseCount : nullptr, adLockedIncDone);
  TzfBaseTransContext::BeforeDestruction();
  // Children go while the whole database still stands.
  adStatements.FreeAll();
  adCursors.FreeAll();
  DetachFromContext();
  TzfAbstractTransContext* owned;
  {
    std::lock_guard g(asoSession->asTransLinksLock);
    owned = std::exchange(adOwnedTransContext, nullptr);
  }
  if (owned) owned->Free();
}

void TzfAbstractDatabase::DetachFromContext() {
  if (!asoSession) return;
  std::lock_guard g(asoSession->asTransLinksLock);
  TzfAbstractTransContext* ctx = adTransContext.exchange(nullptr, std::memory_order_acq_rel);
  if (ctx) std::erase(ctx->atcDatabases, this);
}

void TzfAbstractDatabase::PrepareDestroy() {
  TzfBaseTransContext::PrepareDestroy();
  TzfAbstractTransContext* owned;
  {
    std::lock_guard g(asoSession->asTransLinksLock);
    owned = adOwnedTransContext;
  }
  if (owned && !owned->Destroying()) owned->PrepareDestroy();
  adCursors.ForEachLive([](TzfAbstractServerObject* o) { o->PrepareDestroy(); });
  adStatements.ForEachLive([](TzfAbstractServerObject* o) { o->PrepareDestroy(); });
}

TzfExtendableServerObject* TzfAbstractDatabase::esoGetOptionParent() { return TransContext(); }

void TzfAbstractDatabase::atoSetTimeout(uint32_t aTimeout) {
  TzfBaseTransContext::atoSetTimeout(aTimeout);
  std::lock_guard g(asoSession->asTransLinksLock);
  if (adOwnedTransContext) adOwnedTransContext->atoSetTimeout(aTimeout);
}

#define ZF_FORWARD_TO_CONTEXT(call)                   \
  TzfAbstractTransContext* ctx = TransContext();       \
  if (!ctx) return zfErrInvalidHndl;                   \
  return ctx->call;

uint32_t TzfAbstractDatabase::TransactionStart(bool aFailSafe, bool aSnapShot) {
  ZF_FORWARD_TO_CONTEXT(TransactionStart(aFailSafe, aSnapShot))
}
uint32_t TzfAbstractDatabase::TransactionStartWith(bool aFailSafe, bool aSnapShot,
                                                   const std::vector<TzfAbstractCursor*>& aCursors) {
  ZF_FORWARD_TO_CONTEXT(TransactionStartWith(aFailSafe, aSnapShot, aCursors))
}
uint32_t TzfAbstractDatabase::TransactionCommit() { ZF_FORWARD_TO_CONTEXT(TransactionCommit()) }
uint32_t TzfAbstractDatabase::TransactionRollback() { ZF_FORWARD_TO_CONTEXT(TransactionRollback()) }
uint32_t TzfAbstractDatabase::TransactionCorrupted() { ZF_FORWARD_TO_CONTEXT(TransactionCorrupted()) }
uint32_t TzfAbstractDatabase::TransactionGetLevel(int32_t& aTransLevel) {
  ZF_FORWARD_TO_CONTEXT(TransactionGetLevel(aTransLevel))
}

#undef ZF_FORWARD_TO_CONTEXT

bool TzfAbstractDatabase::IsSystemTableAccessAllowed() {
  UnicodeString value;
  return OptionGet(u"ALLOWSYSTEMTABLEACCESS", value) == 0 && value == u"1";
}

void TzfAbstractDatabase::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfBaseTransContext::AddExceptionData(aContainer);
  aContainer.AddObject(u"TransContext", TransContext());
}

}  // namespace zf
