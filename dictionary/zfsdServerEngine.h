// The base server engine and the engine monitors.
//
// TzfBaseServerEngine is the component clients hold: it opens sessions (the concrete engine
// creates them), keeps the chain of open sessions and the live counts of sessions, databases,
// transaction contexts, cursors and statements, turns exceptions of server objects into error
// codes and tells its started monitors of every extendable object created or destroyed. Stopping
// it frees every open session from the tail.
//
// TzfBaseEngineMonitor watches one engine (it follows the engine's state) and attaches extenders
// to the engine's objects from its hooks; stopping it frees the extenders it made. No concrete
// monitor exists in the engine: embedding programs add them. The hooks and notifications work
// with no monitor and no extender.
//
// This header also gathers the abstract level (server objects, lock and frame, session, database,
// transaction context, cursor, statement) for units that want all of it.
#pragma once
#include <atomic>

#include "dictionary/zfsdAbstractCursor.h"
#include "dictionary/zfsdAbstractSession.h"
#include "foundation/zfllComponent.h"
#include "foundation/zfllList.h"

namespace zf {

class TzfBaseServerEngine : public TzfStateComponent {
 public:
  explicit TzfBaseServerEngine(TComponent* aOwner = nullptr);
  ~TzfBaseServerEngine() override;
  const char16_t* ClassName() const override { return u"TzfBaseServerEngine"; }

  void AddDependent(TzfComponent* aComponent) override;
  void RemoveDependent(TzfComponent* aComponent) override;
  void GetStatsCaptions(std::vector<UnicodeString>& aList) override;
  void GetStatsValues(std::vector<UnicodeString>& aList) override;
  bool HasUptimeStat() override { return true; }

  // The error code of an exception raised for aServerObject (nullptr: version 30900): the engine's
  // event log receives "Exception Cvt: %s".
  virtual uint32_t bseConvertException(const std::exception& aException, TzfAbstractServerObject* aServerObject);
  // Raises the engine's own exception class with aErrorCode (and aMessage when not null): the
  // class vetoes of creation and unsupported requests are raised with.
  [[noreturn]] virtual void bseRaiseException(uint32_t aErrorCode, const UnicodeString* aMessage = nullptr) = 0;
  // Every started monitor, in list order, hears of the object (on the creating thread).
  virtual void bseExtendableObjectCreated(TzfExtendableServerObject* aObject);
  virtual void bseExtendableObjectDestroyed(TzfExtendableServerObject* aObject);
  virtual rtl::TGUID bseGetServerGuid() = 0;
  virtual UnicodeString bseGetServerName() = 0;

  // SessionOpenEx with the engine's version 30900 as the client version.
  uint32_t SessionOpen(TzfAbstractSession*& aSession, const UnicodeString& aUserName, const UnicodeString& aPassword,
                       const UnicodeString& aConnectedFrom, uint32_t aTimeout);
  virtual uint32_t SessionOpenEx(TzfAbstractSession*& aSession, const UnicodeString& aUserName,
                                 const UnicodeString& aPassword, const UnicodeString& aConnectedFrom,
                                 uint32_t aTimeout, int32_t aClientVersion) = 0;

  // Live counts (interlocked; changed by the objects' second construction and first destruction
  // phases).
  std::atomic<int32_t> bseSessionCount{0};
  std::atomic<int32_t> bseDatabaseCount{0};
  std::atomic<int32_t> bseTransContextCount{0};
  std::atomic<int32_t> bseCursorCount{0};
  std::atomic<int32_t> bseStatementCount{0};

  // The open sessions.
  TzfServerChain bseSessions;

 protected:
  // The inherited step, then every open session is freed from the tail.
  void DoStopping() override;

 private:
  TzfListPortal* bseMonitors;  // the monitors that depend on this engine
};

class TzfBaseEngineMonitor : public TzfStateComponent {
 public:
  explicit TzfBaseEngineMonitor(TComponent* aOwner = nullptr);
  ~TzfBaseEngineMonitor() override;
  const char16_t* ClassName() const override { return u"TzfBaseEngineMonitor"; }

  TzfBaseServerEngine* ServerEngine() const { return bemServerEngine; }
  // The monitor must be inactive; links it as a dependent of the new engine.
  void SetServerEngine(TzfBaseServerEngine* aValue);

  void ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) override;
  bool DependsOn(TzfComponent* aComponent) override;

  // Hooks (nothing in the base): a descendant attaches its extenders in ExtendableObjectCreated.
  virtual void ExtendableObjectCreated(TzfExtendableServerObject* aExtendableObject) {}
  virtual void ExtendableObjectDestroyed(TzfExtendableServerObject* aExtendableObject) {}
  virtual void bemServerEngineStarting() {}
  virtual void bemServerEngineStopped() {}

  // The extenders it made, head to tail (a copy).
  std::vector<TzfBaseEngineExtender*> Extenders();

 protected:
  void FollowStateChange(TzfComponent* aSender, bool aChanging, TzfState aNewState, TzfState aOldState) override;
  // A monitor follows every state change of its engine (up and down); others by the inherited rule.
  bool ShouldFollowStateChange(TzfComponent* aSender, bool aChanging, TzfState aNewState,
                               TzfStateTransition aTransition) override;
  // The inherited step, then every extender it made is freed (each leaves its object as well).
  void DoStopping() override;

 private:
  friend class TzfBaseEngineExtender;
  TzfBaseServerEngine* bemServerEngine = nullptr;
  TzfPadlock* bemExtendersLock;
  TzfBaseEngineExtender* bemExtendersHead = nullptr;
  TzfBaseEngineExtender* bemExtendersTail = nullptr;
};

}  // namespace zf
