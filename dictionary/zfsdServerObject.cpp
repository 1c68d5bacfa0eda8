#include "dictionary/zfsdServerObject.h"

#include "dictionary/zfsdServerChain.h"
#include "dictionary/zfsdServerEngine.h"
#include "foundation/zfllConst.h"
#include "foundation/zfllConvertException.h"
#include "foundation/zfllErrors.h"

namespace zf {

// ---------------------------------------------------------------------------------------------
// TzfAbstractServerObject

const rtl::TClassInfo& TzfAbstractServerObject::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfAbstractServerObject", nullptr};
  return info;
}

TzfAbstractServerObject::TzfAbstractServerObject(TzfAbstractSession* aSession) : asoSession(aSession) {
  if (aSession) asoSessionID = aSession->asoGetID();
}

TzfAbstractServerObject::~TzfAbstractServerObject() {
  // An object destroyed without its first phase (a failed constructor of a descendant) still
  // leaves the registry.
  if (asoID != 0) zfUnregisterLiveObject(std::exchange(asoID, 0));
  asoSession = nullptr;
}

void TzfAbstractServerObject::AfterConstruction() {
  if (asoID == 0) asoID = zfRegisterLiveObject(static_cast<TzfAbstractServerObject*>(this), &ClassType());
}

bool TzfAbstractServerObject::ClaimDestroy() {
  bool expected = false;
  return asoDestroying.compare_exchange_strong(expected, true, std::memory_order_acq_rel);
}

void TzfAbstractServerObject::Free() {
  asoCheckDestroyAllowed();
  TzfServerChain* chain = asoOwnerChain();
  if (!(chain ? chain->Claim(this) : ClaimDestroy())) return;
  DestroyClaimed();
}

void TzfAbstractServerObject::DestroyClaimed() {
  try {
    BeforeDestruction();
  } catch (...) {
  }
  delete this;
}

void TzfAbstractServerObject::BeforeDestruction() {
  asoDestroying.store(true, std::memory_order_release);
  // From here no lookup finds the object; a lookup in progress holds the registry and finishes
  // reading before the identity goes.
  if (asoID != 0) zfUnregisterLiveObject(std::exchange(asoID, 0));
  if (!asoPrepared) {
    asoPrepared = true;
    PrepareDestroy();
  }
}

int32_t TzfAbstractServerObject::asoGetVersion() {
  if (asoSession) return asoSession->asoGetVersion();
  return zfGetThreadMinVersion();
}

uint32_t TzfAbstractServerObject::asoConvertException(const std::exception& aException) {
  if (TzfBaseServerEngine* engine = asoGetServerEngine()) return engine->bseConvertException(aException, this);
  return zfConvertException(aException, nullptr, this, static_cast<uint32_t>(asoGetVersion()));
}

uint32_t TzfAbstractServerObject::asoConvertException(std::exception_ptr aException) {
  try {
    std::rethrow_exception(aException);
  } catch (const std::exception& e) {
    return asoConvertException(e);
  } catch (...) {
    return zfConvertException(std::current_exception(), nullptr, this, static_cast<uint32_t>(asoGetVersion()));
  }
}

namespace {

struct TLookupCookie {
  const rtl::TClassInfo* Expected;
  TzfSessionID SessionID;
  TzfAbstractServerObject* Found;
};

// Runs under the live-object registry's read lock: the object cannot be unregistered (the first
// step of its destruction) while its fields are read.
bool LookupVisit(void* aObject, const rtl::TClassInfo* aClass, void* aCookie) {
  auto& c = *static_cast<TLookupCookie*>(aCookie);
  if (!aObject || !aClass || !aClass->InheritsFrom(c.Expected)) return false;
  auto* obj = static_cast<TzfAbstractServerObject*>(aObject);
  if (obj->Destroying()) return false;
  if (obj->asoGetSessionID() != c.SessionID) return false;
  c.Found = obj;
  return true;
}

}  // namespace

uint32_t TzfAbstractServerObject::LookupByID(const rtl::TClassInfo& aClass, TzfSessionID aSessionID,
                                             TzfBaseID aBaseID, TzfAbstractServerObject*& aBase) {
  aBase = nullptr;
  TLookupCookie cookie{&aClass, aSessionID, nullptr};
  try {
    if (aBaseID != 0 && zfVisitLiveObject(aBaseID, &LookupVisit, &cookie)) {
      aBase = cookie.Found;
      return 0;
    }
  } catch (...) {
  }
  return zfErrInvalidHndl;
}

void TzfAbstractServerObject::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfPersistent::AddExceptionData(aContainer);
  aContainer.AddBoolean(u"Destroying", Destroying());
}

// ---------------------------------------------------------------------------------------------
// TzfExtendableServerObject

const rtl::TClassInfo& TzfExtendableServerObject::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfExtendableServerObject", &TzfAbstractServerObject::ClassInfo()};
  return info;
}

namespace {

TzfAbstractSession* SessionOfParent(TzfExtendableServerObject* aParent) {
  if (!aParent) return nullptr;
  if (auto* s = dynamic_cast<TzfAbstractSession*>(aParent)) return s;
  return aParent->asoSession;
}

}  // namespace

TzfExtendableServerObject::TzfExtendableServerObject(TzfExtendableServerObject* aParent)
    : TzfAbstractServerObject(SessionOfParent(aParent)), esoParent(aParent) {}

TzfExtendableServerObject::~TzfExtendableServerObject() {
  FreeExtenders();
  delete esoExtendersLock;
}

TzfBaseServerEngine* TzfExtendableServerObject::asoGetServerEngine() {
  return esoParent ? esoParent->asoGetServerEngine() : nullptr;
}

void TzfExtendableServerObject::AfterConstruction() {
  TzfAbstractServerObject::AfterConstruction();
  // The monitors hear of the object first, so that the extenders they attach hear of its creation.
  if (TzfBaseServerEngine* engine = asoGetServerEngine()) {
    esoEngineTold = true;
    engine->bseExtendableObjectCreated(this);
  }
  uint32_t code = NotifyExtenders(eaCreate, false, {});
  if (code == 0 && esoParent) code = esoParent->NotifyExtenders(eaChildCreate, false, {std::any(this)});
  if (code != 0) {
    if (TzfBaseServerEngine* engine = asoGetServerEngine()) engine->bseRaiseException(code);
    throw EzfBaseException(code);
  }
}

void TzfExtendableServerObject::BeforeDestruction() {
  NotifyExtenders(eaDestroy, true, {});
  if (esoParent) esoParent->NotifyExtenders(eaChildDestroy, true, {std::any(this)});
  TzfAbstractServerObject::BeforeDestruction();
  // The engine is reached through virtual operations, so it is told here while the whole object
  // stands.
  FreeExtenders();
  if (esoEngineTold) {
    esoEngineTold = false;
    if (TzfBaseServerEngine* engine = asoGetServerEngine()) engine->bseExtendableObjectDestroyed(this);
  }
}

void TzfExtendableServerObject::PrepareDestroy() {
  TzfAbstractServerObject::PrepareDestroy();
  TzfPadlock* lock = std::atomic_ref<TzfPadlock*>(esoExtendersLock).load();
  if (!lock) return;
  TzfPadlockGuard g(*lock);
  for (TzfBaseEngineExtender* e = esoExtendersHead; e; e = e->beeExtendableObjectNext) {
    try {
      e->PrepareDestroy();
    } catch (const std::exception& ex) {
      asoConvertException(ex);
    }
  }
}

void TzfExtendableServerObject::FreeExtenders() {
  TzfPadlock* lock = std::atomic_ref<TzfPadlock*>(esoExtendersLock).load();
  if (!lock) return;
  for (;;) {
    TzfBaseEngineMonitor* monitor;
    TzfBaseEngineExtender* head;
    {
      TzfPadlockGuard g(*lock);
      head = esoExtendersHead;
      if (!head) return;
      monitor = head->beeMonitor;
    }
    // The lock order is monitor, then object: the extender is unlinked from both under both.
    TzfBaseEngineExtender::UnlinkAndFree(head, monitor);
  }
}

// ---- Options ----

uint32_t TzfExtendableServerObject::esoOptionSet(const UnicodeString& aName, const UnicodeString& aValue) {
  if (!esoOptions) esoOptions = std::make_unique<rtl::TStringList>();
  esoOptions->SetValue(aName, aValue);
  if (esoOptions->Count() == 0) esoOptions.reset();
  esoOptionChanged(aName, aValue);
  return 0;
}

uint32_t TzfExtendableServerObject::esoOptionClear(const UnicodeString& aName) {
  if (!esoOptions) return zfErrObjNotFound;
  int32_t i = esoOptions->IndexOfName(aName);
  if (i < 0) return zfErrObjNotFound;
  esoOptions->Delete(i);
  if (esoOptions->Count() == 0) esoOptions.reset();
  esoOptionChanged(aName, UnicodeString());
  return 0;
}

uint32_t TzfExtendableServerObject::esoOptionGet(const UnicodeString& aName, UnicodeString& aValue) {
  if (!esoOptions) return zfErrObjNotFound;
  int32_t i = esoOptions->IndexOfName(aName);
  if (i < 0) return zfErrObjNotFound;
  aValue = esoOptions->ValueFromIndex(i);
  return 0;
}

uint32_t TzfExtendableServerObject::esoOptionGetParent(const UnicodeString& aName, UnicodeString& aValue) {
  TzfExtendableServerObject* parent = esoGetOptionParent();
  if (!parent) return zfErrObjNotFound;
  return parent->esoOptionGetEffective(aName, aValue);
}

uint32_t TzfExtendableServerObject::esoOptionGetEffective(const UnicodeString& aName, UnicodeString& aValue) {
  uint32_t r = esoOptionGet(aName, aValue);
  if (r == zfErrObjNotFound) r = esoOptionGetParent(aName, aValue);
  return r;
}

uint32_t TzfExtendableServerObject::esoOptionList(rtl::TStrings& aList) {
  aList.BeginUpdate();
  try {
    aList.Clear();
    if (esoOptions) aList.AddStrings(*esoOptions);
  } catch (...) {
    aList.EndUpdate();
    throw;
  }
  aList.EndUpdate();
  return 0;
}

uint32_t TzfExtendableServerObject::esoOptionListParent(rtl::TStrings& aList) {
  if (TzfExtendableServerObject* parent = esoGetOptionParent()) return parent->esoOptionList(aList);
  return 0;
}

uint32_t TzfExtendableServerObject::esoOptionListEffective(rtl::TStrings& aList) {
  aList.Clear();
  uint32_t r = esoOptionList(aList);
  if (r != 0) return r;
  rtl::TStringList parentList;
  r = esoOptionListParent(parentList);
  if (r != 0) return r;
  return esoOptionListMerge(aList, parentList);
}

uint32_t TzfExtendableServerObject::esoOptionListMerge(rtl::TStrings& aList, const rtl::TStrings& aParentList) {
  for (int32_t i = 0; i < aParentList.Count(); ++i) {
    UnicodeString name = aParentList.Names(i);
    if (aList.IndexOfName(name) < 0) aList.Add(name + u"=" + aParentList.ValueFromIndex(i));
  }
  return 0;
}

// ---- Extenders ----

TzfBaseEngineExtender* TzfExtendableServerObject::GetExtenderOfType(const rtl::TClassInfo& aClass) {
  TzfPadlock* lock = std::atomic_ref<TzfPadlock*>(esoExtendersLock).load();
  if (!lock) return nullptr;
  TzfPadlockGuard g(*lock);
  for (TzfBaseEngineExtender* e = esoExtendersHead; e; e = e->beeExtendableObjectNext)
    if (e->ClassType().InheritsFrom(&aClass)) return e;
  return nullptr;
}

uint32_t TzfExtendableServerObject::NotifyExtenders(TzfEngineAction aAction, bool aBefore,
                                                    const TzfActionArgs& aArgs) {
  uint64_t bits = esoExtendersActions.load(std::memory_order_acquire);
  if (!((bits >> aAction) & 1)) return 0;
  TzfPadlock* lock = std::atomic_ref<TzfPadlock*>(esoExtendersLock).load();
  if (!lock) return 0;
  uint32_t result = 0;
  try {
    TzfPadlockGuard g(*lock);
    for (TzfBaseEngineExtender* e = esoExtendersHead; e && result == 0; e = e->beeExtendableObjectNext) {
      if (!e->beeActions.Contains(aAction)) continue;
      try {
        result = e->Notify(aAction, aBefore, aArgs);
      } catch (const std::exception& ex) {
        result = asoConvertException(ex);
      }
    }
  } catch (const std::exception& ex) {
    result = asoConvertException(ex);
  }
  return result;
}

bool TzfExtendableServerObject::IgnoreSecurityActive() {
  if (esoIgnoreSecurity.load() > 0) return true;
  return esoParent && esoParent->IgnoreSecurityActive();
}

void TzfExtendableServerObject::AddOptionsExceptionData(IzfExceptionDataContainer& aContainer) {
  if (!esoOptions || esoOptions->Count() == 0) return;
  std::vector<UnicodeString> lines;
  for (int32_t i = 0; i < esoOptions->Count(); ++i) lines.push_back(esoOptions->Get(i));
  aContainer.AddObject(u"Options", &lines);
}

void TzfExtendableServerObject::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfAbstractServerObject::AddExceptionData(aContainer);
  AddOptionsExceptionData(aContainer);
}

// ---------------------------------------------------------------------------------------------
// TzfLockedOptionsExtendableServerObject

const rtl::TClassInfo& TzfLockedOptionsExtendableServerObject::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfLockedOptionsExtendableServerObject", &TzfExtendableServerObject::ClassInfo()};
  return info;
}

TzfLockedOptionsExtendableServerObject::~TzfLockedOptionsExtendableServerObject() { delete loesoOptionsLock; }

namespace {

class TOptionsLockGuard {
 public:
  explicit TOptionsLockGuard(TzfPadlock*& aLock) : FLock(aLock) { TzfPadlock::CreateAndLock(FLock); }
  ~TOptionsLockGuard() { std::atomic_ref<TzfPadlock*>(FLock).load()->Unlock(); }

 private:
  TzfPadlock*& FLock;
};

}  // namespace

uint32_t TzfLockedOptionsExtendableServerObject::esoOptionClear(const UnicodeString& aName) {
  TOptionsLockGuard g(loesoOptionsLock);
  return TzfExtendableServerObject::esoOptionClear(aName);
}

uint32_t TzfLockedOptionsExtendableServerObject::esoOptionSet(const UnicodeString& aName,
                                                               const UnicodeString& aValue) {
  TOptionsLockGuard g(loesoOptionsLock);
  return TzfExtendableServerObject::esoOptionSet(aName, aValue);
}

uint32_t TzfLockedOptionsExtendableServerObject::esoOptionGet(const UnicodeString& aName, UnicodeString& aValue) {
  TOptionsLockGuard g(loesoOptionsLock);
  return TzfExtendableServerObject::esoOptionGet(aName, aValue);
}

uint32_t TzfLockedOptionsExtendableServerObject::esoOptionList(rtl::TStrings& aList) {
  TOptionsLockGuard g(loesoOptionsLock);
  return TzfExtendableServerObject::esoOptionList(aList);
}

void TzfLockedOptionsExtendableServerObject::AddOptionsExceptionData(IzfExceptionDataContainer& aContainer) {
  TOptionsLockGuard g(loesoOptionsLock);
  TzfExtendableServerObject::AddOptionsExceptionData(aContainer);
}

// ---------------------------------------------------------------------------------------------
// TzfBaseEngineExtender

const rtl::TClassInfo& TzfBaseEngineExtender::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfBaseEngineExtender", nullptr};
  return info;
}

TzfBaseEngineExtender::TzfBaseEngineExtender(TzfBaseEngineMonitor* aMonitor,
                                             TzfExtendableServerObject* aExtendableObject, TzfEngineActions aActions)
    : beeMonitor(aMonitor), beeExtendableObject(aExtendableObject), beeActions(aActions) {
  if (beeActions.Empty()) beeActions = TzfEngineActions::All();
  // Lock order: the monitor's extenders lock, then the object's.
  std::unique_ptr<TzfPadlockGuard> monitorGuard;
  if (aMonitor) monitorGuard = std::make_unique<TzfPadlockGuard>(*aMonitor->bemExtendersLock);
  if (aMonitor) {
    beeMonitorPrev = aMonitor->bemExtendersTail;
    if (beeMonitorPrev) beeMonitorPrev->beeMonitorNext = this;
    else aMonitor->bemExtendersHead = this;
    aMonitor->bemExtendersTail = this;
  }
  if (aExtendableObject) {
    TzfPadlock::CreateAndLock(aExtendableObject->esoExtendersLock);
    TzfPadlock* lock = aExtendableObject->esoExtendersLock;
    beeExtendableObjectPrev = aExtendableObject->esoExtendersTail;
    if (beeExtendableObjectPrev) beeExtendableObjectPrev->beeExtendableObjectNext = this;
    else aExtendableObject->esoExtendersHead = this;
    aExtendableObject->esoExtendersTail = this;
    aExtendableObject->esoExtendersActions.fetch_or(beeActions.Bits(), std::memory_order_acq_rel);
    lock->Unlock();
  }
  beeLinked = true;
}

TzfBaseEngineExtender::~TzfBaseEngineExtender() = default;

bool TzfBaseEngineExtender::UnlinkAndFree(TzfBaseEngineExtender* aExtender, TzfBaseEngineMonitor* aMonitor) {
  std::unique_ptr<TzfPadlockGuard> monitorGuard;
  if (aMonitor) monitorGuard = std::make_unique<TzfPadlockGuard>(*aMonitor->bemExtendersLock);
  TzfExtendableServerObject* object = nullptr;
  TzfPadlock* objectLock = nullptr;
  if (aMonitor) {
    // Under the monitor's lock the extender cannot go: it is still ours when found in the chain.
    bool found = false;
    for (TzfBaseEngineExtender* e = aMonitor->bemExtendersHead; e; e = e->beeMonitorNext)
      if (e == aExtender) found = true;
    if (!found) return false;
  }
  object = aExtender->beeExtendableObject;
  if (object) objectLock = std::atomic_ref<TzfPadlock*>(object->esoExtendersLock).load();
  std::unique_ptr<TzfPadlockGuard> objectGuard;
  if (objectLock) objectGuard = std::make_unique<TzfPadlockGuard>(*objectLock);
  if (!aExtender->beeLinked || aExtender->beeMonitor != aMonitor) return false;
  if (object) {
    bool found = false;
    for (TzfBaseEngineExtender* e = object->esoExtendersHead; e; e = e->beeExtendableObjectNext)
      if (e == aExtender) found = true;
    if (!found) return false;
  }
  if (aMonitor) {
    if (aExtender->beeMonitorPrev) aExtender->beeMonitorPrev->beeMonitorNext = aExtender->beeMonitorNext;
    else aMonitor->bemExtendersHead = aExtender->beeMonitorNext;
    if (aExtender->beeMonitorNext) aExtender->beeMonitorNext->beeMonitorPrev = aExtender->beeMonitorPrev;
    else aMonitor->bemExtendersTail = aExtender->beeMonitorPrev;
  }
  if (object) {
    if (aExtender->beeExtendableObjectPrev)
      aExtender->beeExtendableObjectPrev->beeExtendableObjectNext = aExtender->beeExtendableObjectNext;
    else object->esoExtendersHead = aExtender->beeExtendableObjectNext;
    if (aExtender->beeExtendableObjectNext)
      aExtender->beeExtendableObjectNext->beeExtendableObjectPrev = aExtender->beeExtendableObjectPrev;
    else object->esoExtendersTail = aExtender->beeExtendableObjectPrev;
  }
  aExtender->beeLinked = false;
  objectGuard.reset();
  monitorGuard.reset();
  delete aExtender;
  return true;
}

void TzfBaseEngineExtender::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfPersistent::AddExceptionData(aContainer);
  aContainer.AddObject(u"Monitor", beeMonitor);
  aContainer.AddObject(u"ExtendableObject", beeExtendableObject);
}

// ---------------------------------------------------------------------------------------------
// Name checks

uint32_t zfCheckAliasName(UnicodeStringView aName, bool aEmptyIsUnknown) {
  uint32_t r = zfCheckIdentifier(aName, zfErrInvalidAliasName, false, true);
  if (r != 0 && aName.empty() && aEmptyIsUnknown) return zfErrUnknownDb;
  return r;
}

uint32_t zfCheckProcedureName(UnicodeStringView aName, bool aEmptyIsMissing) {
  uint32_t r = zfCheckIdentifier(aName, zfErrInvalidName, false, true);
  if (r != 0 && aName.empty() && aEmptyIsMissing) return zfErrObjNotFound;
  return r;
}

bool zfIsTempGlobalTableName(UnicodeStringView aName) {
  if (aName.size() >= 3 && aName.front() == u'<' && aName.back() == u'>') return true;
  return aName.size() >= 4 && aName[0] == u'#' && aName[1] == u'#' && aName[2] == u'#' && aName[3] != u'#';
}

bool zfIsTempDatabaseTableName(UnicodeStringView aName) {
  return aName.size() >= 3 && aName[0] == u'#' && aName[1] == u'#' && aName[2] != u'#';
}

}  // namespace zf
