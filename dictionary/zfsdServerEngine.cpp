#include "dictionary/zfsdServerEngine.h"

#include "foundation/zfllConst.h"
#include "foundation/zfllConvertException.h"

namespace zf {

// ---------------------------------------------------------------------------------------------
// TzfBaseServerEngine

TzfBaseServerEngine::TzfBaseServerEngine(TComponent* aOwner)
    : TzfStateComponent(aOwner), bseMonitors(new TzfListPortal(new TzfSortedList())) {}

TzfBaseServerEngine::~TzfBaseServerEngine() {
  // Sessions still open when the engine goes (it was never stopped) go with it.
  bseSessions.FreeAll();
  delete bseMonitors;
}

void TzfBaseServerEngine::AddDependent(TzfComponent* aComponent) {
  TzfStateComponent::AddDependent(aComponent);
  if (dynamic_cast<TzfBaseEngineMonitor*>(aComponent)) bseMonitors->Add(aComponent);
}

void TzfBaseServerEngine::RemoveDependent(TzfComponent* aComponent) {
  TzfStateComponent::RemoveDependent(aComponent);
  if (dynamic_cast<TzfBaseEngineMonitor*>(aComponent)) bseMonitors->Remove(aComponent);
}

void TzfBaseServerEngine::GetStatsCaptions(std::vector<UnicodeString>& aList) {
  TzfStateComponent::GetStatsCaptions(aList);
  for (const char16_t* c : {u"Sessions", u"Databases", u"Transaction Contexts", u"Cursors", u"Statements"})
    aList.emplace_back(c);
}

void TzfBaseServerEngine::GetStatsValues(std::vector<UnicodeString>& aList) {
  TzfStateComponent::GetStatsValues(aList);
  for (const std::atomic<int32_t>* c :
       {&bseSessionCount, &bseDatabaseCount, &bseTransContextCount, &bseCursorCount, &bseStatementCount})
    aList.push_back(zfFormatInt64(c->load()));
}

void TzfBaseServerEngine::DoStopping() {
  TzfStateComponent::DoStopping();
  // A session another thread is destroying is waited for (the chain's condition variable) until
  // it has left; every other one is freed here.
  bseSessions.FreeAll();
}

uint32_t TzfBaseServerEngine::bseConvertException(const std::exception& aException,
                                                  TzfAbstractServerObject* aServerObject) {
  const int32_t version = aServerObject ? aServerObject->asoGetVersion() : zfEngineVersion;
  return zfConvertException(aException, EventLog(), aServerObject, static_cast<uint32_t>(version));
}

void TzfBaseServerEngine::bseExtendableObjectCreated(TzfExtendableServerObject* aObject) {
  TzfBaseList& list = bseMonitors->BeginRead();
  try {
    for (int32_t i = 0; i < list.Count(); ++i) {
      auto* monitor = static_cast<TzfBaseEngineMonitor*>(static_cast<TzfComponent*>(list.GetItem(i)));
      if (monitor->State() == zfsStarted) monitor->ExtendableObjectCreated(aObject);
    }
  } catch (...) {
    bseMonitors->EndRead();
    throw;
  }
  bseMonitors->EndRead();
}

void TzfBaseServerEngine::bseExtendableObjectDestroyed(TzfExtendableServerObject* aObject) {
  TzfBaseList& list = bseMonitors->BeginRead();
  try {
    for (int32_t i = 0; i < list.Count(); ++i) {
      auto* monitor = static_cast<TzfBaseEngineMonitor*>(static_cast<TzfComponent*>(list.GetItem(i)));
      if (monitor->State() == zfsStarted) monitor->ExtendableObjectDestroyed(aObject);
    }
  } catch (...) {
    bseMonitors->EndRead();
    throw;
  }
  bseMonitors->EndRead();
}

uint32_t TzfBaseServerEngine::SessionOpen(TzfAbstractSession*& aSession, const UnicodeString& aUserName,
                                          const UnicodeString& aPassword, const UnicodeString& aConnectedFrom,
                                          uint32_t aTimeout) {
  return SessionOpenEx(aSession, aUserName, aPassword, aConnectedFrom, aTimeout, zfEngineVersion);
}

// ---------------------------------------------------------------------------------------------
// TzfBaseEngineMonitor

TzfBaseEngineMonitor::TzfBaseEngineMonitor(TComponent* aOwner)
    : TzfStateComponent(aOwner), bemExtendersLock(new TzfPadlock()) {}

TzfBaseEngineMonitor::~TzfBaseEngineMonitor() {
  // Stopped by the state component's destruction; whatever is left is freed here.
  while (TzfBaseEngineExtender* head = std::atomic_ref<TzfBaseEngineExtender*>(bemExtendersHead).load())
    TzfBaseEngineExtender::UnlinkAndFree(head, this);
  if (bemServerEngine) UnlinkDependent(bemServerEngine);
  delete bemExtendersLock;
}

void TzfBaseEngineMonitor::SetServerEngine(TzfBaseServerEngine* aValue) {
  if (aValue == bemServerEngine) return;
  CheckInactive();
  if (bemServerEngine) UnlinkDependent(bemServerEngine);
  bemServerEngine = aValue;
  if (bemServerEngine) LinkDependent(bemServerEngine);
}

void TzfBaseEngineMonitor::ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) {
  TzfStateComponent::ReceiveNotification(aSender, aKind, aData);
  if (aKind == zfcnDestroying && aSender == bemServerEngine) bemServerEngine = nullptr;
}

bool TzfBaseEngineMonitor::DependsOn(TzfComponent* aComponent) {
  return (aComponent && aComponent == bemServerEngine) || TzfStateComponent::DependsOn(aComponent);
}

void TzfBaseEngineMonitor::FollowStateChange(TzfComponent* aSender, bool aChanging, TzfState aNewState,
                                             TzfState aOldState) {
  const bool fromEngine = aSender && aSender == bemServerEngine;
  const TzfStateTransition t = zfStateTransitions[aOldState][aNewState];
  if (fromEngine && !aChanging && t == zfstStopping) bemServerEngineStopped();
  TzfStateComponent::FollowStateChange(aSender, aChanging, aNewState, aOldState);
  if (fromEngine && aChanging && t == zfstStarting) bemServerEngineStarting();
}

bool TzfBaseEngineMonitor::ShouldFollowStateChange(TzfComponent* aSender, bool aChanging, TzfState aNewState,
                                                   TzfStateTransition aTransition) {
  if (aSender && aSender == bemServerEngine) return aChanging;
  return TzfStateComponent::ShouldFollowStateChange(aSender, aChanging, aNewState, aTransition);
}

void TzfBaseEngineMonitor::DoStopping() {
  TzfStateComponent::DoStopping();
  for (;;) {
    TzfBaseEngineExtender* head;
    {
      TzfPadlockGuard g(*bemExtendersLock);
      head = bemExtendersHead;
    }
    if (!head) break;
    TzfBaseEngineExtender::UnlinkAndFree(head, this);
  }
}

std::vector<TzfBaseEngineExtender*> TzfBaseEngineMonitor::Extenders() {
  std::vector<TzfBaseEngineExtender*> r;
  TzfPadlockGuard g(*bemExtendersLock);
  for (TzfBaseEngineExtender* e = bemExtendersHead; e; e = e->beeMonitorNext) r.push_back(e);
  return r;
}

}  // namespace zf
