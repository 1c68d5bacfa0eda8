#include "foundation/zfllSync.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <new>
#include <thread>
#include <unistd.h>

#include "foundation/zfllErrors.h"
#include "foundation/zfllLockedFuncs.h"
#include "foundation/zfllMemoryManager.h"
#include "platform/os/osSystem.h"

namespace zf {

namespace {

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TzfPadlock

TzfPadlock::TzfPadlock(bool aFastLock) : plSpinCount(aFastLock ? 4000 : 0) {}

void TzfPadlock::Lock() {
  // A contended fast padlock spins before it sleeps; the owner re-entering succeeds at once.
  for (int32_t i = 0; i < plSpinCount; ++i) {
    if (plCritSect.try_lock()) return;
    CpuRelax();
  }
  plCritSect.lock();
}

void TzfPadlock::Unlock() { plCritSect.unlock(); }

void TzfPadlock::CreateAndLock(TzfPadlock*& aPadlock, bool aFastLock) {
  if (TzfPadlock* existing = __atomic_load_n(&aPadlock, __ATOMIC_ACQUIRE)) {
    existing->Lock();
    return;
  }
  auto* created = new TzfPadlock(aFastLock);
  created->Lock();
  TzfPadlock* found = zfLockedCompareExchange(aPadlock, created, static_cast<TzfPadlock*>(nullptr));
  if (found == nullptr) return;  // ours is published
  created->Unlock();
  delete created;
  found->Lock();
}

// ---------------------------------------------------------------------------------------------
// Event handles

// An event object is reference counted: a thread waiting on it holds a reference, so closing
// the handle (for instance right after setting it) never pulls the object from under a waiter.
class TzfEventObject {
 public:
  TzfEventObject(bool aManualReset, bool aInitialState) : FManualReset(aManualReset), FSignalled(aInitialState) {}

  void AddRef() { FRefCount.fetch_add(1, std::memory_order_relaxed); }
  void Release() {
    if (FRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  // A set manual-reset event lets waiters through without taking its lock.
  int32_t Waiters() const { return FRefCount.load(std::memory_order_acquire) - 1; }

  bool PassesAtOnce() const { return FManualReset && FSignalled.load(std::memory_order_acquire); }

  void Set() {
    std::lock_guard<std::mutex> g(FLock);
    FSignalled.store(true, std::memory_order_release);
    // Notified under the lock: a waiter that wakes may drop the last reference at once.
    if (FManualReset)
      FCond.notify_all();
    else
      FCond.notify_one();
  }

  void Reset() {
    std::lock_guard<std::mutex> g(FLock);
    FSignalled.store(false, std::memory_order_release);
  }

  uint32_t Wait(uint32_t aTimeOut) {
    std::unique_lock<std::mutex> g(FLock);
    auto ready = [this] { return FSignalled.load(std::memory_order_relaxed); };
    if (aTimeOut == kzfInfinite) {
      FCond.wait(g, ready);
    } else if (!FCond.wait_for(g, std::chrono::milliseconds(aTimeOut), ready)) {
      return kzfWaitTimeout;
    }
    if (!FManualReset) FSignalled.store(false, std::memory_order_relaxed);
    return kzfWaitObject0;
  }

 private:
  ~TzfEventObject() = default;

  std::atomic<int32_t> FRefCount{1};
  std::mutex FLock;
  std::condition_variable FCond;
  const bool FManualReset;
  std::atomic<bool> FSignalled;
};

namespace {

// Creations still to succeed before the simulated refusal; -1 when none is armed.
std::atomic<int32_t> gCreatesBeforeFailure{-1};
std::atomic<int> gSimulatedCreateError{0};

// True when this creation is the armed refusal.
bool SimulatedCreateFailure() {
  int32_t v = gCreatesBeforeFailure.load();
  while (v >= 0) {
    if (gCreatesBeforeFailure.compare_exchange_weak(v, v - 1)) return v == 0;
  }
  return false;
}

}  // namespace

void zfSimulateEventCreateFailure(int32_t aAfter, int aOSError) {
  gSimulatedCreateError.store(aOSError);
  gCreatesBeforeFailure.store(aAfter);
}

TzfEventHandle zfCreateEventHandle(bool aManualReset, bool aInitialState) {
  TzfEventHandle h = nullptr;
  int err = ENOMEM;
  if (SimulatedCreateFailure())
    err = gSimulatedCreateError.load();
  else
    h = new (std::nothrow) TzfEventObject(aManualReset, aInitialState);
  if (h == nullptr) {
    zf::os::SetLastError(err);
    zfRaiseLastOSError(u"zfCreateEventHandle/CreateEvent", zfErrOSUnknown);
  }
  return h;
}

int32_t zfEventWaiterCount(TzfEventHandle aEvent) { return aEvent ? aEvent->Waiters() : 0; }

void zfCloseEventHandle(TzfEventHandle aEvent) {
  if (aEvent) aEvent->Release();
}

void zfSetEventHandle(TzfEventHandle aEvent) {
  if (aEvent) aEvent->Set();
}

void zfResetEventHandle(TzfEventHandle aEvent) {
  if (aEvent) aEvent->Reset();
}

uint32_t zfWaitForEventHandle(TzfEventHandle aEvent, uint32_t aTimeOut) {
  if (aEvent == nullptr) {
    zf::os::SetLastError(EBADF);
    return kzfWaitFailed;
  }
  if (aEvent->PassesAtOnce()) return kzfWaitObject0;
  aEvent->AddRef();
  uint32_t r = aEvent->Wait(aTimeOut);
  aEvent->Release();
  return r;
}

void zfSignalAndCloseEvent(TzfEventHandle& aEvent) {
  TzfEventHandle old = zfLockedExchange(aEvent, static_cast<TzfEventHandle>(nullptr));
  if (old == nullptr) return;
  old->Set();
  zfCloseEventHandle(old);
}

// ---------------------------------------------------------------------------------------------
// TzfThreadSafeStack

namespace {

// A node is two pointer-sized words: the link, then the stored pointer.
struct TzfStackNode {
  TzfListEntry tsnLink;
  void* tsnData;
};
static_assert(sizeof(TzfStackNode) == 2 * sizeof(void*));
constexpr size_t kStackPageSize = 4096;
static_assert(TzfThreadSafeStack::kNodesPerPage + 1 == kStackPageSize / sizeof(TzfStackNode));

}  // namespace

TzfThreadSafeStack::TzfThreadSafeStack() {
  ListHeadInit(tssPagesHead);
  ListHeadInit(tssFreeHead);
  ListHeadInit(tssStackHead);
  AllocPage();
}

TzfThreadSafeStack::~TzfThreadSafeStack() {
  ListPopAll(tssStackHead);
  ListPopAll(tssFreeHead);
  TzfListEntry* page = ListPopAll(tssPagesHead);
  while (page) {
    TzfListEntry* next = page->leNext;
    void* block = page;
    try {
      zfBlockPoolDispose(TzfBlockSizeAll::zfbs4k, block);
    } catch (...) {
      // A page the pool does not take back stays with the process.
    }
    page = next;
  }
}

void TzfThreadSafeStack::AllocPage() {
  // Raises out-of-memory when no page can be had; the stack is then unchanged.
  void* block = zfBlockPoolAlloc(TzfBlockSizeAll::zfbs4k);
  auto* nodes = static_cast<TzfStackNode*>(block);
  // Slot 0 links the page; slots 1 .. n are nodes chained in address order.
  for (int32_t i = 1; i < kNodesPerPage; ++i) nodes[i].tsnLink.leNext = &nodes[i + 1].tsnLink;
  nodes[kNodesPerPage].tsnLink.leNext = nullptr;
  ListPush(tssPagesHead, &nodes[0].tsnLink);
  __atomic_add_fetch(&tssPageCount, 1, __ATOMIC_RELAXED);
  ListPushChain(tssFreeHead, &nodes[1].tsnLink, nodes[kNodesPerPage].tsnLink.leNext);
}

void TzfThreadSafeStack::Push(void* aPointer) {
  TzfListEntry* entry;
  while ((entry = ListPop(tssFreeHead)) == nullptr) AllocPage();
  auto* node = reinterpret_cast<TzfStackNode*>(entry);
  node->tsnData = aPointer;
  ListPush(tssStackHead, entry);
  zfLockedIncrement(tssCount);
}

void* TzfThreadSafeStack::Pop() {
  TzfListEntry* entry = ListPop(tssStackHead);
  if (entry == nullptr) return nullptr;
  void* p = reinterpret_cast<TzfStackNode*>(entry)->tsnData;
  ListPush(tssFreeHead, entry);
  zfLockedDecrement(tssCount);
  return p;
}

// ---------------------------------------------------------------------------------------------
// TzfEventPool

TzfEventPool::TzfEventPool(int32_t aInitialCount, int32_t aRetainCount) : epRetainCount(aRetainCount) {
  try {
    for (int32_t i = 0; i < aInitialCount; ++i) epList.Push(zfCreateEventHandle(false, false));
  } catch (...) {
    epRetainCount = 0;
    Flush();
    throw;
  }
}

TzfEventPool::~TzfEventPool() {
  epRetainCount = 0;
  Flush();
}

TzfEventHandle TzfEventPool::Get() {
  if (auto* h = static_cast<TzfEventHandle>(epList.Pop())) return h;
  return zfCreateEventHandle(false, false);
}

void TzfEventPool::Put(TzfEventHandle aHandle) {
  if (aHandle) epList.Push(aHandle);
}

void TzfEventPool::Flush() {
  while (epList.Count() > epRetainCount) {
    auto* h = static_cast<TzfEventHandle>(epList.Pop());
    if (h == nullptr) break;
    zfCloseEventHandle(h);
  }
}

namespace {
std::atomic<TzfEventPool*> gEventPool{nullptr};
}

TzfEventPool* zfGlobalEventPool() { return gEventPool.load(std::memory_order_acquire); }

// ---------------------------------------------------------------------------------------------
// TzfEvent

TzfEvent::TzfEvent() {
  if (TzfEventPool* pool = zfGlobalEventPool()) {
    zfeEvent = pool->Get();
    zfResetEventHandle(zfeEvent);
  } else {
    zfeEvent = zfCreateEventHandle(false, false);
  }
}

TzfEvent::~TzfEvent() {
  if (TzfEventPool* pool = zfGlobalEventPool())
    pool->Put(zfeEvent);
  else
    zfCloseEventHandle(zfeEvent);
}

uint32_t TzfEvent::WaitForQuietly(uint32_t aTimeOut) {
  return zfWaitForEventHandle(zfeEvent, aTimeOut == 0 ? kzfInfinite : aTimeOut);
}

void TzfEvent::WaitFor(uint32_t aTimeOut) {
  uint32_t r = WaitForQuietly(aTimeOut);
  if (r == kzfWaitObject0) return;
  if (r == kzfWaitTimeout) throw EzfSyncException(zfErrTimeout);
  throw zfCreateOSErrorException<EzfSyncException>(zfErrOSUnknown, u"calling WaitForSingleObject");
}

void TzfEvent::SignalEvent() { zfSetEventHandle(zfeEvent); }

// ---------------------------------------------------------------------------------------------
// Per-thread state

namespace {
thread_local TzfThreadCallback tThreadCallback;
thread_local bool tMainThread = false;
}  // namespace

void zfSetThreadCallback(TzfThreadCallback aCallback) { tThreadCallback = std::move(aCallback); }

void zfCallThreadCallback() {
  if (tThreadCallback) tThreadCallback();
}

bool zfIsMainThread() {
  return tMainThread && zf::os::GetCurrentThreadId() == static_cast<uint32_t>(::getpid());
}

// ---------------------------------------------------------------------------------------------
// Units

namespace {

void SyncInit() {
  auto* pool = new TzfEventPool(250, 2500);
  delete gEventPool.exchange(pool, std::memory_order_acq_rel);
}

void SyncFini() { delete gEventPool.exchange(nullptr, std::memory_order_acq_rel); }

void MainThreadInit() { tMainThread = true; }

}  // namespace

rtl::TUnitInit& zfllSyncUnit() {
  static rtl::TUnitInit unit("zfllSync", SyncInit, SyncFini);
  return unit;
}

rtl::TUnitInit& zfllMainThreadUnit() {
  static rtl::TUnitInit unit("zfllMainThread", MainThreadInit, nullptr);
  return unit;
}

}  // namespace zf
