// Basic blocking and non-blocking primitives of the engine.
//
// - TzfPadlock: re-entrant mutual exclusion; every shared list, cache and server object guards
//   itself with one.
// - Event handles: auto- or manual-reset events; TzfEvent is an auto-reset event whose handle is
//   borrowed from the process-wide TzfEventPool, so the many short waits of the engine do not
//   create and close an event each time.
// - TzfThreadSafeStack: lock-free stack of pointers on ABA-safe list heads.
// - Per thread: a progress callback slot and the main-thread flag.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>

#include "foundation/zfllException.h"
#include "foundation/zfllMemoryManager.h"
#include "foundation/zfllTypes.h"
#include "platform/rtl/rtlUnits.h"

namespace zf {

// Raised by TzfEvent::WaitFor: 15461 on a time-out, 11047 when the wait itself failed.
ZF_DECLARE_ENGINE_EXCEPTION(EzfSyncException, EzfBaseException)

// ---------------------------------------------------------------------------------------------
// Padlock

class TzfPadlock : public TzfObject {
 public:
  // A fast padlock spins a while (spin count 4000) before it sleeps when it is contended.
  explicit TzfPadlock(bool aFastLock = false);
  TzfPadlock(const TzfPadlock&) = delete;
  TzfPadlock& operator=(const TzfPadlock&) = delete;
  ~TzfPadlock() override = default;

  // Re-entrant: the owning thread may lock again and must unlock as often.
  void Lock();
  void Unlock();
  int32_t SpinCount() const { return plSpinCount; }

  // Locks the padlock held in aPadlock, creating it on first use without any other lock. Racing
  // first users all end up holding the one padlock that survives in the variable.
  static void CreateAndLock(TzfPadlock*& aPadlock, bool aFastLock = false);

 private:
  std::recursive_mutex plCritSect;
  int32_t plSpinCount;
};

// Holds a padlock for a scope.
class TzfPadlockGuard {
 public:
  explicit TzfPadlockGuard(TzfPadlock& aPadlock) : FPadlock(aPadlock) { FPadlock.Lock(); }
  ~TzfPadlockGuard() { FPadlock.Unlock(); }
  TzfPadlockGuard(const TzfPadlockGuard&) = delete;
  TzfPadlockGuard& operator=(const TzfPadlockGuard&) = delete;

 private:
  TzfPadlock& FPadlock;
};

// ---------------------------------------------------------------------------------------------
// Event handles

class TzfEventObject;
using TzfEventHandle = TzfEventObject*;

// Wait results and the unlimited time-out of the handle-level wait.
inline constexpr uint32_t kzfWaitObject0 = 0;
inline constexpr uint32_t kzfWaitTimeout = 258;
inline constexpr uint32_t kzfWaitFailed = 0xFFFFFFFF;
inline constexpr uint32_t kzfInfinite = 0xFFFFFFFF;

// A new unnamed event. An event the system cannot create raises (11047 with the OS error, or the
// out-of-memory error); a null handle is never returned.
TzfEventHandle zfCreateEventHandle(bool aManualReset, bool aInitialState);
void zfCloseEventHandle(TzfEventHandle aEvent);  // nullptr is ignored
// Setting an auto-reset event releases one waiter and the event resets itself; a manual-reset
// event stays set and releases every waiter until it is reset.
void zfSetEventHandle(TzfEventHandle aEvent);
void zfResetEventHandle(TzfEventHandle aEvent);
// aTimeOut in milliseconds, kzfInfinite for no limit, 0 for a poll. Answers kzfWaitObject0,
// kzfWaitTimeout or kzfWaitFailed (null handle; the thread's last OS error is then set).
uint32_t zfWaitForEventHandle(TzfEventHandle aEvent, uint32_t aTimeOut);
// Takes the handle out of the variable atomically (leaving null), sets the event and closes it.
// A null variable does nothing.
void zfSignalAndCloseEvent(TzfEventHandle& aEvent);

// Test seam: after aAfter more successful creations, the next event creation of the process fails
// once as if the system refused it with aOSError. A negative aAfter disarms it.
void zfSimulateEventCreateFailure(int32_t aAfter, int aOSError);

// How many threads are inside a wait on the event now (for tests that must close a handle only
// once a waiter holds it).
int32_t zfEventWaiterCount(TzfEventHandle aEvent);

// ---------------------------------------------------------------------------------------------
// Lock-free stack of pointers

class TzfThreadSafeStack : public TzfObject {
 public:
  TzfThreadSafeStack();  // allocates the first page
  ~TzfThreadSafeStack() override;  // pointers still on the stack are dropped without notice
  TzfThreadSafeStack(const TzfThreadSafeStack&) = delete;
  TzfThreadSafeStack& operator=(const TzfThreadSafeStack&) = delete;

  void Push(void* aPointer);
  void* Pop();  // nullptr when empty
  // Approximate while other threads push or pop.
  int32_t Count() const { return __atomic_load_n(&tssCount, __ATOMIC_RELAXED); }
  int32_t PageCount() const { return __atomic_load_n(&tssPageCount, __ATOMIC_RELAXED); }

  // Nodes per 4096-byte page: the first node-sized slot links the page itself.
  static constexpr int32_t kNodesPerPage = 4096 / (2 * sizeof(void*)) - 1;

 private:
  void AllocPage();

  int32_t tssCount = 0;
  int32_t tssPageCount = 0;
  TzfListHead tssPagesHead;
  TzfListHead tssFreeHead;
  TzfListHead tssStackHead;
};

// ---------------------------------------------------------------------------------------------
// Event pool and pooled event

class TzfEventPool : public TzfObject {
 public:
  // Creates aInitialCount auto-reset, non-signalled events; Flush leaves aRetainCount idle ones.
  TzfEventPool(int32_t aInitialCount, int32_t aRetainCount);
  ~TzfEventPool() override;  // closes every idle handle
  TzfEventPool(const TzfEventPool&) = delete;
  TzfEventPool& operator=(const TzfEventPool&) = delete;

  // An idle handle, or a new auto-reset event when none is idle. Its signalled state is whatever
  // it was when put back.
  TzfEventHandle Get();
  // Keeps every handle given back, whatever the pool's size.
  void Put(TzfEventHandle aHandle);
  // Closes idle handles while more than the retain count are idle.
  void Flush();
  int32_t Count() const { return epList.Count(); }
  int32_t RetainCount() const { return epRetainCount; }

 private:
  TzfThreadSafeStack epList;
  int32_t epRetainCount;
};

// The process-wide pool: created by the unit start with 250 events (retain count 2500), null
// before the start and after the stop.
TzfEventPool* zfGlobalEventPool();

// An auto-reset event whose handle comes from the global pool (or is created when there is none)
// and goes back to it (or is closed when there is none any more).
class TzfEvent : public TzfObject {
 public:
  TzfEvent();
  ~TzfEvent() override;
  TzfEvent(const TzfEvent&) = delete;
  TzfEvent& operator=(const TzfEvent&) = delete;

  // aTimeOut in milliseconds, 0 = without limit. Time-out: EzfSyncException 15461; failed wait:
  // EzfSyncException 11047 with the OS error and the action "calling WaitForSingleObject".
  void WaitFor(uint32_t aTimeOut);
  // The same wait (0 = without limit) answering kzfWaitObject0, kzfWaitTimeout or kzfWaitFailed.
  uint32_t WaitForQuietly(uint32_t aTimeOut);
  // Releases one waiting thread; the event resets itself.
  void SignalEvent();
  TzfEventHandle Handle() const { return zfeEvent; }

 private:
  TzfEventHandle zfeEvent;
};

// ---------------------------------------------------------------------------------------------
// Per-thread state

// The calling thread's progress callback (empty in every new thread). Nothing in the engine sets
// one; an embedding program may, to be called during long operations.
using TzfThreadCallback = std::function<void()>;
void zfSetThreadCallback(TzfThreadCallback aCallback);
// Calls the calling thread's progress callback when one is set; otherwise does nothing.
void zfCallThreadCallback();

// True only in the thread that ran the unit starts, and only when it is the process's main thread.
bool zfIsMainThread();

rtl::TUnitInit& zfllSyncUnit();
// Sets the starting thread's main-thread flag.
rtl::TUnitInit& zfllMainThreadUnit();

}  // namespace zf
