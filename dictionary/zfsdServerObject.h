// Server object model: the root classes of every engine object a client can reach.
//
// Sessions, databases, transaction contexts, cursors, statements, task handles and the shared
// server objects behind them (folders, open tables, BLOB handlers) all derive from
// TzfAbstractServerObject. It gives each object its session and engine, the version rules in
// force for it, the conversion of any exception into an error code and a two-step destruction
// (claim and prepare, then free). TzfExtendableServerObject adds named string options inherited
// along a chain of option parents, and a chain of attached extenders that hear of engine actions
// before and after they happen and may veto them.
//
// These classes sit in the dictionary layer (not in server/) because the storage, index and
// mapping layers build their BLOB handlers, link handlers and mappers on them and must not include
// the server. The concrete engine lives in server/.
//
// Identity: a client names a server object by its identity in the process's registry of live
// objects (zfRegisterLiveObject). LookupByID answers only from that registry: an identity that was
// never handed out, or whose object is being destroyed, is simply not found. Memory is never
// probed.
//
// Life: construct, then AfterConstruction (registers the identity, tells the engine's monitors,
// announces eaCreate; an extender's veto raises and the object is freed). Free claims the
// destruction once (a second Free, on any thread, does nothing), then BeforeDestruction (leaves
// the identity registry, eaDestroy, PrepareDestroy, extenders freed) and the destructors.
#pragma once
#include <any>
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include "foundation/zfllPersistent.h"
#include "foundation/zfllSync.h"
#include "foundation/zfllUtils.h"
#include "platform/rtl/rtlRegistry.h"
#include "platform/rtl/rtlStringList.h"

namespace zf {

class TzfAbstractSession;
class TzfBaseServerEngine;
class TzfBaseEngineMonitor;
class TzfBaseEngineExtender;
class TzfServerChain;

// Identities of server objects as clients hold them (0 names nothing).
using TzfSessionID = TzfObjectIdentity;
using TzfBaseID = TzfObjectIdentity;

enum TzfEngineAction : uint8_t {
  eaCreate, eaDestroy, eaChildCreate, eaChildDestroy, eaAliasAdd, eaAliasDelete, eaAliasModify, eaAliasGetList,
  eaAliasGetPath, eaCloseInactiveFolders, eaCloseInactiveTables, eaGetRegisteredClassList, eaTransactionStart,
  eaTransactionCommit, eaTransactionRollback, eaTableBuild, eaTablePack, eaTableBackup, eaTableRebuildIndex,
  eaTableRestructure, eaTableAddIndex, eaTableDropIndex, eaTableRename, eaTableRecover, eaTableVerifyChecksum,
  eaTableDelete, eaTableEmpty, eaTableExists, eaTableGetDictionary, eaTableGetList, eaGetChangedTables, eaOpenFile,
  eaOpenFiles, eaRecordGet, eaRecordInsert, eaRecordModify, eaRecordDelete, eaStatementPrepare, eaStatementExec,
  eaStatementSetParams, eaStatementGetParams
};
inline constexpr int zfEngineActionCount = 41;

// A set of engine actions in 48 bits (6 bytes when stored); ordinals above 47 are never members.
class TzfEngineActions {
 public:
  constexpr TzfEngineActions() = default;
  static constexpr TzfEngineActions All() {
    TzfEngineActions s;
    s.FBits = (uint64_t{1} << zfEngineActionCount) - 1;
    return s;
  }
  constexpr bool Contains(int aAction) const { return aAction >= 0 && aAction < 48 && ((FBits >> aAction) & 1); }
  constexpr void Include(int aAction) {
    if (aAction >= 0 && aAction < 48) FBits |= uint64_t{1} << aAction;
  }
  constexpr void Exclude(int aAction) {
    if (aAction >= 0 && aAction < 48) FBits &= ~(uint64_t{1} << aAction);
  }
  constexpr void Add(TzfEngineActions aOther) { FBits |= aOther.FBits; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint64_t Bits() const { return FBits; }
  constexpr bool operator==(const TzfEngineActions&) const = default;

 private:
  uint64_t FBits = 0;
};

// The arguments of an action notification, in the operation's declared order.
using TzfActionArgs = std::vector<std::any>;

// ---------------------------------------------------------------------------------------------

class TzfAbstractServerObject : public TzfPersistent {
 public:
  explicit TzfAbstractServerObject(TzfAbstractSession* aSession);
  ~TzfAbstractServerObject() override;
  TzfAbstractServerObject(const TzfAbstractServerObject&) = delete;
  TzfAbstractServerObject& operator=(const TzfAbstractServerObject&) = delete;

  static const rtl::TClassInfo& ClassInfo();
  // The class info of the object's own class (LookupByID compares it with the expected class).
  virtual const rtl::TClassInfo& ClassType() const { return ClassInfo(); }
  const char16_t* ClassName() const override { return ClassType().Name; }

  // Second construction phase: registers the identity. Overrides call it first.
  virtual void AfterConstruction();
  // First destruction phase (after the claim): leaves the registry, PrepareDestroy.
  void BeforeDestruction() override;
  // Claims the destruction and destroys; nothing when the object is already being destroyed.
  // Raises (before claiming anything) when the object may not be destroyed on this thread.
  void Free();
  // Raises "Assertion failure" when the calling thread may not destroy the object (a task handle
  // on its own task thread). The base allows every thread.
  virtual void asoCheckDestroyAllowed() {}
  // Claims the destruction without destroying (an owner that frees outside its chain lock).
  // False when another path has claimed it already.
  bool ClaimDestroy();
  // Destroys an object whose destruction the caller has claimed. A failure of the first phase is
  // dropped: the object is freed all the same, so that its owner's chain always empties.
  void DestroyClaimed();
  // The chain of the owner that frees this object (its claim is taken under that chain's lock, so
  // that an owner walking the chain never meets an object starting its destruction); nullptr when
  // the object is in no chain.
  virtual TzfServerChain* asoOwnerChain() { return nullptr; }
  bool Destroying() const { return asoDestroying.load(std::memory_order_acquire); }

  virtual TzfBaseID asoGetID() const { return asoID; }
  virtual uint8_t asoGetReservedByte() { return 0; }
  virtual void asoSetReservedByte(uint8_t) {}
  // The session's version; without a session, the calling thread's minimum version.
  virtual int32_t asoGetVersion();
  virtual TzfBaseServerEngine* asoGetServerEngine() { return nullptr; }
  // The error code of an exception raised while serving this object (through the engine's
  // conversion; without an engine, the plain conversion with this object's exception data).
  virtual uint32_t asoConvertException(const std::exception& aException);
  uint32_t asoConvertException(std::exception_ptr aException);
  // Stops activity before the object is freed; called once from BeforeDestruction, and possibly
  // earlier by an owner that prepares all its children first. Must not free objects of the chain
  // its owner is walking.
  virtual void PrepareDestroy() {}

  // 0 and the object when aBaseID names a live, not destroying object of aClass (or a descendant)
  // whose session is aSessionID; otherwise 9990 and nullptr.
  static uint32_t LookupByID(const rtl::TClassInfo& aClass, TzfSessionID aSessionID, TzfBaseID aBaseID,
                             TzfAbstractServerObject*& aBase);

  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

  TzfAbstractSession* asoSession;
  // The session's identity as the object was created with it (0 for a session itself).
  TzfSessionID asoGetSessionID() const { return asoSessionID; }

 protected:
  TzfSessionID asoSessionID = 0;

 private:
  std::atomic<bool> asoDestroying{false};
  bool asoPrepared = false;
  TzfBaseID asoID = 0;
};

// Creates a server object in its two phases; when the second fails (an extender's veto), the
// object is freed and the exception passes on.
template <class T, class... Args>
T* zfCreateServerObject(Args&&... aArgs) {
  T* p = new T(std::forward<Args>(aArgs)...);
  try {
    p->AfterConstruction();
  } catch (...) {
    p->Free();
    throw;
  }
  return p;
}

// ---------------------------------------------------------------------------------------------

class TzfExtendableServerObject : public TzfAbstractServerObject {
 public:
  explicit TzfExtendableServerObject(TzfExtendableServerObject* aParent);
  ~TzfExtendableServerObject() override;

  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  // Tells the engine's monitors, then announces eaCreate and the parent's eaChildCreate; a non-zero
  // answer raises the engine's exception with that code.
  void AfterConstruction() override;
  // eaDestroy and the parent's eaChildDestroy, the base part, then the extenders are freed and the
  // engine's monitors told.
  void BeforeDestruction() override;
  // The base part, then every extender's PrepareDestroy (their failures converted and dropped).
  void PrepareDestroy() override;

  // The parent's engine (nullptr without parent).
  TzfBaseServerEngine* asoGetServerEngine() override;

  // ---- Options (worker operations) ----
  virtual TzfExtendableServerObject* esoGetOptionParent() { return esoParent; }
  virtual uint32_t esoOptionClear(const UnicodeString& aName);
  virtual uint32_t esoOptionSet(const UnicodeString& aName, const UnicodeString& aValue);
  virtual void esoOptionChanged(const UnicodeString& aName, const UnicodeString& aValue) {}
  virtual uint32_t esoOptionGet(const UnicodeString& aName, UnicodeString& aValue);
  virtual uint32_t esoOptionGetParent(const UnicodeString& aName, UnicodeString& aValue);
  virtual uint32_t esoOptionGetEffective(const UnicodeString& aName, UnicodeString& aValue);
  virtual uint32_t esoOptionList(rtl::TStrings& aList);
  virtual uint32_t esoOptionListParent(rtl::TStrings& aList);
  virtual uint32_t esoOptionListEffective(rtl::TStrings& aList);
  virtual uint32_t esoOptionListMerge(rtl::TStrings& aList, const rtl::TStrings& aParentList);

  // ---- Options (public operations; the timeout object runs them inside its lock) ----
  // Clear and get of a missing name answer 8712; set never fails (an empty value removes).
  virtual uint32_t OptionClear(const UnicodeString& aName) { return esoOptionClear(aName); }
  virtual uint32_t OptionSet(const UnicodeString& aName, const UnicodeString& aValue) {
    return esoOptionSet(aName, aValue);
  }
  virtual uint32_t OptionGet(const UnicodeString& aName, UnicodeString& aValue) {
    aValue.clear();
    return esoOptionGet(aName, aValue);
  }
  virtual uint32_t OptionGetEffective(const UnicodeString& aName, UnicodeString& aValue) {
    aValue.clear();
    return esoOptionGetEffective(aName, aValue);
  }
  virtual uint32_t OptionList(rtl::TStrings& aList) { return esoOptionList(aList); }
  virtual uint32_t OptionListEffective(rtl::TStrings& aList) { return esoOptionListEffective(aList); }

  // ---- Extenders ----
  // The first extender whose class is aClass or a descendant; nullptr when none.
  TzfBaseEngineExtender* GetExtenderOfType(const rtl::TClassInfo& aClass);
  // Asks every attached extender that takes aAction; the first non-zero answer ends the walk and
  // is answered (an exception of an extender is converted). 0 without extenders for the action.
  virtual uint32_t NotifyExtenders(TzfEngineAction aAction, bool aBefore, const TzfActionArgs& aArgs);

  void BeginIgnoreSecurity() { esoIgnoreSecurity.fetch_add(1); }
  void EndIgnoreSecurity() { esoIgnoreSecurity.fetch_sub(1); }
  bool IgnoreSecurityActive();

  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

  TzfExtendableServerObject* esoParent;

 protected:
  // The option list as exception data sees it (the locked variant holds its lock around it).
  virtual void AddOptionsExceptionData(IzfExceptionDataContainer& aContainer);
  std::unique_ptr<rtl::TStringList> esoOptions;

 private:
  friend class TzfBaseEngineExtender;
  void FreeExtenders();

  TzfPadlock* esoExtendersLock = nullptr;  // created on first use
  TzfBaseEngineExtender* esoExtendersHead = nullptr;
  TzfBaseEngineExtender* esoExtendersTail = nullptr;
  std::atomic<uint64_t> esoExtendersActions{0};
  std::atomic<int32_t> esoIgnoreSecurity{0};
  bool esoEngineTold = false;
};

// An extendable object shared by several sessions (folder, open table): its options are guarded
// by a padlock of their own.
class TzfLockedOptionsExtendableServerObject : public TzfExtendableServerObject {
 public:
  using TzfExtendableServerObject::TzfExtendableServerObject;
  ~TzfLockedOptionsExtendableServerObject() override;
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  uint32_t esoOptionClear(const UnicodeString& aName) override;
  uint32_t esoOptionSet(const UnicodeString& aName, const UnicodeString& aValue) override;
  uint32_t esoOptionGet(const UnicodeString& aName, UnicodeString& aValue) override;
  uint32_t esoOptionList(rtl::TStrings& aList) override;

 protected:
  void AddOptionsExceptionData(IzfExceptionDataContainer& aContainer) override;

 private:
  TzfPadlock* loesoOptionsLock = nullptr;  // created on first use
};

// ---------------------------------------------------------------------------------------------

// Base of the extenders an engine monitor attaches to extendable objects. Linked into the
// monitor's chain and the object's chain; freed by whichever of the two ends first (monitor
// stopping or object destroyed), which unlinks it from both.
class TzfBaseEngineExtender : public TzfPersistent {
 public:
  // aActions: the actions it wants to hear of; empty means all of them.
  TzfBaseEngineExtender(TzfBaseEngineMonitor* aMonitor, TzfExtendableServerObject* aExtendableObject,
                        TzfEngineActions aActions = {});
  ~TzfBaseEngineExtender() override;

  static const rtl::TClassInfo& ClassInfo();
  virtual const rtl::TClassInfo& ClassType() const { return ClassInfo(); }
  const char16_t* ClassName() const override { return ClassType().Name; }

  // An answer other than 0 with aBefore set vetoes the action with that code.
  virtual uint32_t Notify(TzfEngineAction aAction, bool aBefore, const TzfActionArgs& aArgs) = 0;
  virtual void PrepareDestroy() {}
  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

  TzfBaseEngineMonitor* Monitor() const { return beeMonitor; }
  TzfExtendableServerObject* ExtendableObject() const { return beeExtendableObject; }
  TzfEngineActions Actions() const { return beeActions; }

  // Unlinks the extender from its monitor and object (lock order: monitor, then object) and
  // frees it. Answers False, changing nothing, when another path unlinked it first.
  static bool UnlinkAndFree(TzfBaseEngineExtender* aExtender, TzfBaseEngineMonitor* aMonitor);

 private:
  friend class TzfExtendableServerObject;
  friend class TzfBaseEngineMonitor;
  TzfBaseEngineMonitor* beeMonitor;
  TzfBaseEngineExtender* beeMonitorNext = nullptr;
  TzfBaseEngineExtender* beeMonitorPrev = nullptr;
  TzfExtendableServerObject* beeExtendableObject;
  TzfBaseEngineExtender* beeExtendableObjectNext = nullptr;
  TzfBaseEngineExtender* beeExtendableObjectPrev = nullptr;
  TzfEngineActions beeActions;
  bool beeLinked = false;
};

// ---------------------------------------------------------------------------------------------
// Name checks of tables, aliases and procedures (table names: foundation's zfCheckTableName,
// zfCheckTablePath and zfCheckFullTableName). Each failure leaves the reason as the thread's
// pending message for the code.

// 10067, or 10014 for an empty name when aEmptyIsUnknown.
uint32_t zfCheckAliasName(UnicodeStringView aName, bool aEmptyIsUnknown);
// 10068, or 8712 for an empty name when aEmptyIsMissing.
uint32_t zfCheckProcedureName(UnicodeStringView aName, bool aEmptyIsMissing);
// "<x>" (3 characters or more), or "###x" (exactly three "#" and at least one more character).
bool zfIsTempGlobalTableName(UnicodeStringView aName);
// "##x": exactly two "#" and at least one more character.
bool zfIsTempDatabaseTableName(UnicodeStringView aName);

}  // namespace zf
