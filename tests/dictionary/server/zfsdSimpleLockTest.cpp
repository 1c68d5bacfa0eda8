// The session lock and the public operation frame: re-entry, refusal, cancels, permanent failure,
// and stress runs of many threads on one session (run them under the tsan preset).
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "foundation/zfllThread.h"
#include "tests/dictionary/server/zfsdTestEngine.h"

namespace zf::test {
namespace {

// The thread's cancel flag and deadline as the storage layer's timeout unit keeps them.
thread_local std::atomic<bool> tCancel{false};
thread_local uint32_t tTimeout = 0;
thread_local int32_t tSetCount = 0;

std::atomic<bool>* CancelFlag() { return &tCancel; }
void SetTimeout(uint32_t aTimeout, bool) {
  tTimeout = aTimeout;
  ++tSetCount;
}

class TimeoutProcs : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    TzfThreadTimeoutProcs p;
    p.SetTimeout = &SetTimeout;
    p.GetCancelFlagAddress = &CancelFlag;
    zfSetThreadTimeoutProcs(p);
  }
  void TearDown() override {
    zfSetThreadTimeoutProcs({});
    ServerTest::TearDown();
  }
};

struct Outcome {
  uint32_t Code = 0;
  UnicodeString Message;
};

// Runs a public operation; a raised engine exception is its outcome too.
Outcome Call(const std::function<uint32_t()>& aCall) {
  Outcome o;
  try {
    o.Code = aCall();
    if (o.Code != 0) {
      try {
        zfRaiseIfError(o.Code);
      } catch (const EzfBaseException& e) {
        o.Message = e.Message();
      }
    }
  } catch (const EzfBaseException& e) {
    o.Code = e.ErrorCode();
    o.Message = e.Message();
  }
  return o;
}

bool Has(const UnicodeString& aText, const char16_t* aPart) { return aText.find(aPart) != UnicodeString::npos; }

class SessionLock : public TimeoutProcs {};

TEST_F(SessionLock, TheFrameSetsTheDeadlineAndReentersOnTheSameThread) {
  TTestSession* s = OpenSession(u"", 1234);
  TTestDatabase* db = OpenDatabase(s);
  db->atoSetTimeout(777);
  int32_t inner = -1;
  EXPECT_EQ(0u, db->Run([&] {
    EXPECT_EQ(777u, tTimeout);
    EXPECT_EQ(1, s->atoGetLock()->LockCount());
    // A nested public operation of the same session enters again.
    return s->Run([&] {
      inner = s->atoGetLock()->LockCount();
      EXPECT_EQ(1234u, tTimeout);
      return 0u;
    });
  }));
  EXPECT_EQ(2, inner);
  EXPECT_EQ(0, s->atoGetLock()->LockCount());
  EXPECT_EQ(0u, s->atoGetLock()->LockingThread());
  s->Free();
}

TEST_F(SessionLock, ASecondThreadIsRefusedAtOnce) {
  TTestSession* s = OpenSession();
  TTestDatabase* db = OpenDatabase(s);
  Outcome other;
  EXPECT_EQ(0u, db->Run([&] {
    std::thread t([&] { other = Call([&] { return s->Run([] { return 0u; }); }); });
    t.join();
    return 0u;
  }));
  EXPECT_EQ(8455u, other.Code);
  s->Free();
}

TEST_F(SessionLock, CancelsAreConsumedOnce) {
  TTestSession* s = OpenSession();
  TTestDatabase* db = OpenDatabase(s);
  auto ok = [] { return 0u; };

  // Idle: the next operation raises, the one after runs.
  EXPECT_TRUE(s->Failed(false));
  EXPECT_FALSE(s->Failed(false));  // already pending
  Outcome o = Call([&] { return db->Run(ok); });
  EXPECT_EQ(15461u, o.Code);
  EXPECT_TRUE(Has(o.Message, u"Processing cancelled"));
  EXPECT_EQ(0u, Call([&] { return db->Run(ok); }).Code);

  // During a successful operation: its 0 becomes 15461 "... partially or fully succeeded"; the
  // working thread's cancel flag was set and is cleared again.
  bool flagSeen = false;
  o = Call([&] {
    return db->Run([&] {
      s->Failed(false);
      flagSeen = tCancel.load();
      return 0u;
    });
  });
  EXPECT_TRUE(flagSeen);
  EXPECT_FALSE(tCancel.load());
  EXPECT_EQ(15461u, o.Code);
  EXPECT_TRUE(Has(o.Message, u"partially or fully succeeded"));
  EXPECT_EQ(0u, Call([&] { return db->Run(ok); }).Code);

  // During an operation that fails otherwise: its own code stays.
  o = Call([&] {
    return db->Run([&] {
      s->Failed(false);
      return 9729u;
    });
  });
  EXPECT_EQ(9729u, o.Code);
  EXPECT_EQ(0u, Call([&] { return db->Run(ok); }).Code);
  s->Free();
}

TEST_F(SessionLock, APermanentFailureCleansUpOnceAndRefusesEveryLaterCall) {
  // Idle: the clean-up runs at once, on the failing thread.
  TTestSession* s = OpenSession();
  TTestDatabase* db = OpenDatabase(s);
  s->Failed(true);
  EXPECT_EQ(1, Engine->CleanupRuns.load());
  EXPECT_TRUE(s->CleanedUp());
  EXPECT_EQ(0u, s->asDatabases.Count());
  Outcome o = Call([&] { return s->Run([] { return 0u; }); });
  EXPECT_EQ(9990u, o.Code);
  EXPECT_TRUE(Has(o.Message, u"permanently failed"));
  s->Free();
  EXPECT_EQ(1, Engine->CleanupRuns.load());

  // During an operation: the clean-up waits for the operation's end.
  s = OpenSession();
  db = OpenDatabase(s);
  int32_t runsInside = -1;
  EXPECT_EQ(0u, db->Run([&] {
    s->Failed(true);
    runsInside = Engine->CleanupRuns.load();
    return 0u;
  }));
  EXPECT_EQ(1, runsInside);
  EXPECT_EQ(2, Engine->CleanupRuns.load());
  EXPECT_EQ(9990u, Call([&] { return s->Run([] { return 0u; }); }).Code);
  s->Free();
  EXPECT_EQ(2, Engine->CleanupRuns.load());
}

TEST_F(SessionLock, DestroyingASessionWaitsForTheOperationOnAnotherThread) {
  TTestSession* s = OpenSession();
  TTestDatabase* db = OpenDatabase(s);
  TzfThreadEvent inside(true), release(true);
  std::atomic<bool> ended{false};
  std::thread worker([&] {
    db->Run([&] {
      inside.SetEvent();
      release.WaitFor(-1);
      ended = true;
      return 0u;
    });
  });
  inside.WaitFor(-1);
  std::thread releaser([&] {
    // The destroying thread waits on the clean-up; let the worker finish meanwhile.
    while (!s->atoGetLock()->PermanentlyFailed()) std::this_thread::yield();
    release.SetEvent();
  });
  s->Free();
  EXPECT_TRUE(ended.load());
  EXPECT_EQ(1, Engine->CleanupRuns.load());
  worker.join();
  releaser.join();
}

TEST_F(SessionLock, TheCleanUpWaitsForADatabaseAnotherThreadIsFreeing) {
  TTestSession* s = OpenSession();
  TTestDatabase* db = OpenDatabase(s);
  TzfThreadEvent inDestructor(true), go(true);
  std::atomic<bool> destructorDone{false};
  db->OnDestroy = [&] {
    inDestructor.SetEvent();
    go.WaitFor(-1);
    destructorDone = true;
  };
  std::thread freer([&] { db->Free(); });
  inDestructor.WaitFor(-1);
  std::thread opener([&] { go.SetEvent(); });
  s->Free();  // meets the database half-destroyed: waits until it has left the chain
  EXPECT_TRUE(destructorDone.load());
  freer.join();
  opener.join();
  EXPECT_EQ(0, Engine->bseDatabaseCount.load());
}

TEST_F(SessionLock, ASessionIsNotDestroyedFromInsideItsOwnOperation) {
  TTestSession* s = OpenSession();
  TTestDatabase* db = OpenDatabase(s);
  bool refused = false;
  EXPECT_EQ(0u, db->Run([&] {
    try {
      s->Free();
    } catch (const rtl::EAssertionFailed&) {
      refused = true;
    }
    return 0u;
  }));
  EXPECT_TRUE(refused);
  EXPECT_FALSE(s->Destroying());
  EXPECT_EQ(0u, db->Run([] { return 0u; }));
  s->Free();
}

// ---------------------------------------------------------------------------------------------
// Stress

struct StressCounts {
  std::atomic<int64_t> Ok{0}, Refused{0}, Cancelled{0}, Failed{0}, Other{0};
};

template <class T>
void Hammer(T* aDb, std::atomic<int32_t>& aInside, std::atomic<bool>& aTwoInside, StressCounts& aCounts,
            int32_t aRounds, unsigned aSeed, bool aUntilFailed = false) {
  std::mt19937 rnd(aSeed);
  bool sawFailed = false;
  for (int32_t i = 0; i < aRounds || (aUntilFailed && !sawFailed); ++i) {
    const int spin = static_cast<int>(rnd() % 50);
    Outcome o = Call([&] {
      return aDb->Run([&] {
        if (aInside.fetch_add(1) != 0) aTwoInside = true;
        for (int k = 0; k < spin; ++k) std::this_thread::yield();
        aInside.fetch_sub(1);
        // The work stops at a cancel as a timeout check would.
        return tCancel.load() ? 15461u : 0u;
      });
    });
    switch (o.Code) {
      case 0: ++aCounts.Ok; break;
      case 8455: ++aCounts.Refused; break;
      case 15461: ++aCounts.Cancelled; break;
      case 9990:
        ++aCounts.Failed;
        sawFailed = true;
        break;
      default: ++aCounts.Other; break;
    }
  }
}

void RunCancelStress(ServerTest& aTest, TTestSession* aSession, TTestDatabase* aDb, int32_t aThreads,
                     int32_t aRounds) {
  std::atomic<int32_t> inside{0};
  std::atomic<bool> twoInside{false}, stop{false};
  std::atomic<int64_t> registered{0};
  StressCounts counts;
  std::vector<std::thread> threads;
  for (int32_t t = 0; t < aThreads; ++t)
    threads.emplace_back([&, t] { Hammer(aDb, inside, twoInside, counts, aRounds, 1234u + t); });
  std::thread canceller([&] {
    std::mt19937 rnd(99);
    while (!stop.load()) {
      if (aSession->Failed(false)) ++registered;
      for (int k = static_cast<int>(rnd() % 200); k > 0; --k) std::this_thread::yield();
    }
  });
  for (auto& t : threads) t.join();
  stop = true;
  canceller.join();
  const int64_t hammered = counts.Ok + counts.Refused + counts.Cancelled;
  // A cancel still pending is consumed by the next operation.
  if (Call([&] { return aDb->Run([] { return 0u; }); }).Code == 15461) ++counts.Cancelled;
  EXPECT_FALSE(twoInside.load());
  EXPECT_EQ(0, counts.Other.load());
  EXPECT_EQ(0, counts.Failed.load());
  EXPECT_EQ(registered.load(), counts.Cancelled.load()) << "every cancel seen exactly once";
  EXPECT_GT(counts.Ok.load(), 0);
  EXPECT_GT(counts.Refused.load(), 0) << "the others are refused with 8455";
  EXPECT_EQ(aThreads * int64_t{aRounds}, hammered);
  EXPECT_EQ(0, aSession->atoGetLock()->LockCount());
}

void RunPermanentStress(ServerTest& aTest, TTestEngine& aEngine, TTestSession* aSession, int32_t aThreads,
                        int32_t aRounds) {
  std::atomic<int32_t> inside{0};
  std::atomic<bool> twoInside{false};
  StressCounts counts;
  std::vector<std::thread> threads;
  std::atomic<int32_t> done{0};
  for (int32_t t = 0; t < aThreads; ++t)
    threads.emplace_back([&, t] {
      Hammer(aSession, inside, twoInside, counts, aRounds, 77u + t, true);
      ++done;
    });
  // The failure arrives while the threads are at work.
  while (counts.Ok.load() < aRounds / 4 && done.load() == 0) std::this_thread::yield();
  const int32_t before = aEngine.CleanupRuns.load();
  aSession->Failed(true);
  for (auto& t : threads) t.join();
  EXPECT_FALSE(twoInside.load());
  EXPECT_EQ(before + 1, aEngine.CleanupRuns.load()) << "the clean-up runs exactly once";
  EXPECT_TRUE(aSession->CleanedUp());
  EXPECT_GT(counts.Failed.load(), 0);
  EXPECT_EQ(0, counts.Other.load());
  // Every later call is refused with 9990.
  for (int i = 0; i < 10; ++i) EXPECT_EQ(9990u, Call([&] { return aSession->Run([] { return 0u; }); }).Code);
}

class SessionLockStress : public TimeoutProcs {};

TEST_F(SessionLockStress, ManyThreadsOneInsideEveryCancelSeenOnce) {
  TTestSession* s = OpenSession();
  RunCancelStress(*this, s, OpenDatabase(s), 6, 400);
  s->Free();
}

TEST_F(SessionLockStress, PermanentFailureDuringOperations) {
  TTestSession* s = OpenSession();
  OpenDatabase(s);
  RunPermanentStress(*this, *Engine, s, 6, 400);
  s->Free();
}

TEST_F(SessionLockStress, SlowManyThreadsOneInsideEveryCancelSeenOnce) {
  for (int rep = 0; rep < 20; ++rep) {
    TTestSession* s = OpenSession();
    RunCancelStress(*this, s, OpenDatabase(s), 8, 5000);
    s->Free();
  }
}

TEST_F(SessionLockStress, SlowPermanentFailureDuringOperations) {
  for (int rep = 0; rep < 20; ++rep) {
    TTestSession* s = OpenSession();
    OpenDatabase(s);
    RunPermanentStress(*this, *Engine, s, 8, 2000);
    s->Free();
  }
}

}  // namespace
}  // namespace zf::test
