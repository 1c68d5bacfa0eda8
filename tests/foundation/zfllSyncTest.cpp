#include "foundation/zfllSync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "foundation/zfllErrors.h"
#include "foundation/zfllLockedFuncs.h"

using namespace zf;
using namespace std::chrono_literals;

namespace {

// Starts the units a test needs and stops them again (the starts are counted).
class SyncUnits {
 public:
  SyncUnits() {
    zfllMemoryManagerUnit().Initialize();
    zfllSyncUnit().Initialize();
  }
  ~SyncUnits() {
    zfllSyncUnit().Finalize();
    zfllMemoryManagerUnit().Finalize();
  }
};

// Releases every thread at once so that races are actually attempted.
class StartGate {
 public:
  explicit StartGate(int aCount) : FWaiting(aCount) {}
  void Arrive() {
    FWaiting.fetch_sub(1);
    while (FWaiting.load() > 0) std::this_thread::yield();
  }

 private:
  std::atomic<int> FWaiting;
};

}  // namespace

TEST(Padlock, ExcludesOtherThreadsAndIsReentrant) {
  SyncUnits units;
  for (bool fast : {false, true}) {
    TzfPadlock lock(fast);
    EXPECT_EQ(lock.SpinCount(), fast ? 4000 : 0);
    int64_t counter = 0;  // plain: only the padlock protects it
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < 20000; ++i) {
          lock.Lock();
          lock.Lock();  // the owner locks again
          ++counter;
          lock.Unlock();
          ++counter;
          lock.Unlock();
        }
      });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 4 * 20000 * 2) << "fast=" << fast;
  }
}

TEST(Padlock, CreateAndLockRaceLeavesOnePadlock) {
  SyncUnits units;
  for (int round = 0; round < 20; ++round) {
    TzfPadlock* shared = nullptr;
    constexpr int kThreads = 8;
    std::vector<TzfPadlock*> seen(kThreads);
    int inside = 0;  // plain: every racer must hold the same padlock
    StartGate gate(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        gate.Arrive();
        TzfPadlock::CreateAndLock(shared, t % 2 == 0);
        TzfPadlock* held = __atomic_load_n(&shared, __ATOMIC_ACQUIRE);
        seen[t] = held;
        ++inside;
        held->Unlock();
      });
    }
    for (auto& t : threads) t.join();
    ASSERT_NE(shared, nullptr);
    for (auto* p : seen) EXPECT_EQ(p, shared);
    EXPECT_EQ(inside, kThreads);
    zfFreeAndNil(shared);
  }
}

TEST(Event, WaitsAndTimeOuts) {
  SyncUnits units;
  TzfEvent ev;
  EXPECT_EQ(ev.WaitForQuietly(10), kzfWaitTimeout);
  try {
    ev.WaitFor(5);
    FAIL() << "no time-out";
  } catch (const EzfSyncException& e) {
    EXPECT_EQ(e.GetErrorCode(), zfErrTimeout);
  }

  // Auto reset: one signal releases one wait.
  ev.SignalEvent();
  EXPECT_EQ(ev.WaitForQuietly(10), kzfWaitObject0);
  EXPECT_EQ(ev.WaitForQuietly(10), kzfWaitTimeout);

  // 0 waits without limit (not a poll): the signal comes later from another thread.
  for (int quietly = 0; quietly < 2; ++quietly) {
    std::thread signaller([&] {
      std::this_thread::sleep_for(30ms);
      ev.SignalEvent();
    });
    if (quietly)
      EXPECT_EQ(ev.WaitForQuietly(0), kzfWaitObject0);
    else
      EXPECT_NO_THROW(ev.WaitFor(0));
    signaller.join();
  }
}

TEST(Event, OneSignalReleasesOneWaiter) {
  SyncUnits units;
  TzfEvent ev;
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i)
    waiters.emplace_back([&] {
      if (ev.WaitForQuietly(5000) == kzfWaitObject0) released.fetch_add(1);
    });
  std::this_thread::sleep_for(20ms);
  ev.SignalEvent();
  auto deadline = std::chrono::steady_clock::now() + 5s;
  while (released.load() < 1 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(released.load(), 1);
  ev.SignalEvent();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released.load(), 2);
}

TEST(Event, ManualResetReleasesEveryWaiterUntilReset) {
  TzfEventHandle h = zfCreateEventHandle(true, false);
  EXPECT_EQ(zfWaitForEventHandle(h, 0), kzfWaitTimeout);  // handle level: 0 is a poll
  zfSetEventHandle(h);
  EXPECT_EQ(zfWaitForEventHandle(h, 0), kzfWaitObject0);
  EXPECT_EQ(zfWaitForEventHandle(h, kzfInfinite), kzfWaitObject0);
  zfResetEventHandle(h);
  EXPECT_EQ(zfWaitForEventHandle(h, 1), kzfWaitTimeout);
  zfCloseEventHandle(h);
  EXPECT_EQ(zfWaitForEventHandle(nullptr, 1), kzfWaitFailed);
}

TEST(Event, SignalAndCloseWakesTheWaiterAndClearsTheVariable) {
  TzfEventHandle h = zfCreateEventHandle(false, false);
  TzfEventHandle waitOn = h;
  std::atomic<uint32_t> result{12345};
  std::thread waiter([&] { result = zfWaitForEventHandle(waitOn, 5000); });
  // Close only once the waiter holds the object: a handle closed before a thread starts
  // waiting on it is gone, as with any handle.
  for (int i = 0; i < 5000 && zfEventWaiterCount(h) == 0; ++i) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(zfEventWaiterCount(h), 1);
  zfSignalAndCloseEvent(h);  // the waiter keeps the object alive until it returns
  EXPECT_EQ(h, nullptr);
  waiter.join();
  EXPECT_EQ(result.load(), kzfWaitObject0);
  zfSignalAndCloseEvent(h);  // null: nothing
  EXPECT_EQ(h, nullptr);
}

// An event the system cannot create raises; nothing ever gets a null handle.
TEST(Event, CreationFailureRaises) {
  SyncUnits units;
  auto expectOSError = [](auto&& aCreate) {
    try {
      aCreate();
      ADD_FAILURE() << "no exception";
    } catch (const EzfBaseException& e) {
      EXPECT_EQ(e.GetErrorCode(), zfErrOSUnknown);
      EXPECT_EQ(e.GetOSError(), static_cast<uint32_t>(EMFILE));
    }
  };
  zfSimulateEventCreateFailure(0, EMFILE);
  expectOSError([] { zfCreateEventHandle(false, false); });
  zfCloseEventHandle(zfCreateEventHandle(false, false));  // spent: the next one works

  // An empty pool has to create the event it hands out.
  TzfEventPool pool(0, 4);
  zfSimulateEventCreateFailure(0, EMFILE);
  expectOSError([&] { pool.Get(); });

  // A pool failing half-way through its initial events closes the ones it made (the leak
  // checker would report them otherwise).
  zfSimulateEventCreateFailure(2, EMFILE);
  expectOSError([] { TzfEventPool p(5, 5); });

  // Without the global pool a TzfEvent creates its own handle, and fails the same way.
  zfllSyncUnit().Finalize();
  if (zfGlobalEventPool() == nullptr) {
    zfSimulateEventCreateFailure(0, EMFILE);
    expectOSError([] { TzfEvent ev; });
  }
  zfllSyncUnit().Initialize();
  zfSimulateEventCreateFailure(-1, 0);
}

TEST(ThreadSafeStack, PopPushAndPages) {
  SyncUnits units;
  TzfThreadSafeStack s;
  EXPECT_EQ(s.Pop(), nullptr);
  EXPECT_EQ(s.Count(), 0);
  EXPECT_EQ(s.PageCount(), 1);
  const int n = TzfThreadSafeStack::kNodesPerPage;
  for (intptr_t i = 1; i <= n; ++i) s.Push(reinterpret_cast<void*>(i));
  EXPECT_EQ(s.PageCount(), 1);
  s.Push(reinterpret_cast<void*>(intptr_t{n + 1}));  // one more than a page holds
  EXPECT_EQ(s.PageCount(), 2);
  EXPECT_EQ(s.Count(), n + 1);
  for (intptr_t i = n + 1; i >= 1; --i) ASSERT_EQ(s.Pop(), reinterpret_cast<void*>(i));
  EXPECT_EQ(s.Pop(), nullptr);
  EXPECT_EQ(s.Count(), 0);
  // Recycled nodes: no new page for the same number of pushes.
  for (intptr_t i = 1; i <= n + 1; ++i) s.Push(reinterpret_cast<void*>(i));
  EXPECT_EQ(s.PageCount(), 2);
}

TEST(ThreadSafeStack, ConcurrentPushAndPopLoseNothing) {
  SyncUnits units;
  TzfThreadSafeStack s;
  constexpr int kPushers = 3, kPerPusher = 20000;
  std::atomic<int> pushersDone{0};
  std::vector<std::vector<intptr_t>> popped(2);
  std::vector<std::thread> threads;
  for (int p = 0; p < kPushers; ++p)
    threads.emplace_back([&, p] {
      for (int i = 0; i < kPerPusher; ++i) s.Push(reinterpret_cast<void*>(intptr_t{p} * kPerPusher + i + 1));
      pushersDone.fetch_add(1);
    });
  for (int c = 0; c < 2; ++c)
    threads.emplace_back([&, c] {
      for (;;) {
        void* v = s.Pop();
        if (v) {
          popped[c].push_back(reinterpret_cast<intptr_t>(v));
        } else if (pushersDone.load() == kPushers) {
          if (!(v = s.Pop())) break;
          popped[c].push_back(reinterpret_cast<intptr_t>(v));
        }
      }
    });
  for (auto& t : threads) t.join();
  std::set<intptr_t> all;
  size_t total = 0;
  for (auto& v : popped) {
    total += v.size();
    all.insert(v.begin(), v.end());
  }
  EXPECT_EQ(total, size_t{kPushers} * kPerPusher);
  EXPECT_EQ(all.size(), total);
  EXPECT_EQ(*all.begin(), 1);
  EXPECT_EQ(*all.rbegin(), kPushers * kPerPusher);
  EXPECT_EQ(s.Count(), 0);
}

TEST(EventPool, KeepsEveryHandleUntilFlushed) {
  SyncUnits units;
  TzfEventPool pool(0, 2);
  EXPECT_EQ(pool.Count(), 0);
  std::vector<TzfEventHandle> handles;
  for (int i = 0; i < 5; ++i) handles.push_back(pool.Get());  // empty pool: new events
  for (auto h : handles) pool.Put(h);
  EXPECT_EQ(pool.Count(), 5);  // beyond the retain count, still kept
  pool.Flush();
  EXPECT_EQ(pool.Count(), 2);
  TzfEventHandle h = pool.Get();
  EXPECT_EQ(pool.Count(), 1);
  // The signalled state travels with the handle; TzfEvent resets it on the way out.
  zfSetEventHandle(h);
  pool.Put(h);
  TzfEventHandle again = pool.Get();
  EXPECT_EQ(zfWaitForEventHandle(again, 0), kzfWaitObject0);
  zfCloseEventHandle(again);
}

TEST(EventPool, GlobalPoolLifecycle) {
  SyncUnits units;
  TzfEventPool* pool = zfGlobalEventPool();
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(pool->RetainCount(), 2500);
  EXPECT_GE(pool->Count(), 1);
  const int before = pool->Count();
  {
    auto* signalled = new TzfEvent();
    signalled->SignalEvent();
    EXPECT_EQ(pool->Count(), before - 1);
    delete signalled;  // back to the pool, still signalled
    EXPECT_EQ(pool->Count(), before);
    TzfEvent fresh;  // takes a handle and resets it
    EXPECT_EQ(fresh.WaitForQuietly(1), kzfWaitTimeout);
  }
  // An event outliving the pool closes its own handle.
  auto* survivor = new TzfEvent();
  zfllSyncUnit().Finalize();
  if (zfGlobalEventPool() == nullptr) {
    survivor->SignalEvent();
    EXPECT_EQ(survivor->WaitForQuietly(1), kzfWaitObject0);
    delete survivor;
  } else {
    delete survivor;  // the unit was started elsewhere too
  }
  zfllSyncUnit().Initialize();
}

TEST(ThreadState, CallbackAndMainThreadFlag) {
  int calls = 0;
  zfCallThreadCallback();  // none set: nothing
  zfSetThreadCallback([&] { ++calls; });
  zfCallThreadCallback();
  zfCallThreadCallback();
  EXPECT_EQ(calls, 2);
  std::thread other([&] { zfCallThreadCallback(); });  // a new thread has none
  other.join();
  EXPECT_EQ(calls, 2);
  zfSetThreadCallback(nullptr);
  zfCallThreadCallback();
  EXPECT_EQ(calls, 2);

  zfllMainThreadUnit().Initialize();
  EXPECT_TRUE(zfIsMainThread());  // the tests run on the process's main thread
  bool inOther = true;
  std::thread t([&] { inOther = zfIsMainThread(); });
  t.join();
  EXPECT_FALSE(inOther);
  zfllMainThreadUnit().Finalize();
}
