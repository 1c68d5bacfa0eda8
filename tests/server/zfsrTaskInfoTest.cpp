// Background tasks: the percentage, status, cancel, error travel between threads, and the life of
// a task handle that owns its thread (stress runs under the tsan preset).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <utility>

#include "server/zfsrTaskInfo.h"
#include "tests/dictionary/server/zfsdTestEngine.h"

namespace zf::test {
namespace {

TEST(TaskPercent, Formula) {
  struct Case {
    uint32_t Read, Total;
    uint8_t Percent;
  } cases[] = {
      {0, 0, 0},
      {12345, 0, 0},                      // no total: always 0
      {1, 3, 33},                         // truncating
      {50, 100, 50},
      {100, 100, 100},
      {(1u << 24) - 1, 1u << 25, 49},     // exact formula
      {1u << 24, 1u << 25, 50},           // both scaled down by 128
      {1u << 24, 127, 0},                 // a total below 128 scales to 0: no division by 0
      {300, 100, 100},                    // more read than the total: clamped
      {0xFFFFFFFFu, 1u << 24, 100},
      {0xFFFFFFFFu, 0xFFFFFFFFu, 100},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.Percent, zfTaskPercentDone(c.Read, c.Total)) << c.Read << "/" << c.Total;
}

// A task of Units steps; each step reports and may wait at a gate.
class TTestTask : public TzfServerTaskInfo {
 public:
  TTestTask(TzfAbstractSession* aSession, uint32_t aUnits) : TzfServerTaskInfo(aSession, aUnits), Units(aUnits) {}
  void Execute() override {
    Started = true;
    for (uint32_t i = 1; i <= Units; ++i) {
      if (Gate) Gate->WaitFor(-1);
      if (MakeSnapshot(i, i / 2, 0)) {
        SawCancel = true;
        return;
      }
    }
    if (FailWith) throw EzfBaseException(FailWith, u"task failed here");
    Completed = true;
  }
  uint32_t Units;
  uint32_t FailWith = 0;
  TzfThreadEvent* Gate = nullptr;
  std::atomic<bool> Started{false}, Completed{false}, SawCancel{false};
};

class Tasks : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    Session = OpenSession();
  }
  void TearDown() override {
    if (Session) Session->Free();
    ServerTest::TearDown();
  }
  TTestTask* NewTask(uint32_t aUnits) { return zfCreateServerObject<TTestTask>(Session, aUnits); }
  static TzfTaskStatus Status(TzfServerTaskInfo* aTask, bool* aCompleted = nullptr) {
    bool done = false;
    TzfTaskStatus st;
    EXPECT_EQ(0u, aTask->GetStatus(done, st));
    if (aCompleted) *aCompleted = done;
    return st;
  }
  static void WaitFinished(TzfServerTaskInfo* aTask) {
    TzfThreadEvent never(true);
    while (!Status(aTask).tsFinished) never.WaitFor(1);
  }
  TTestSession* Session = nullptr;
};

TEST_F(Tasks, StatusBeforeTheFirstSnapshot) {
  TTestTask* t = NewTask(1234);
  bool done = true;
  TzfTaskStatus st = Status(t, &done);
  EXPECT_FALSE(done);
  EXPECT_EQ(1234u, st.tsTotalRecs);
  EXPECT_EQ(0u, st.tsRecsRead);
  EXPECT_EQ(0u, st.tsPercentDone);
  EXPECT_EQ(0u, st.tsErrorCode);
  t->Free();
}

TEST_F(Tasks, RunsToTheEndAndReports) {
  TTestTask* t = NewTask(40);
  t->StartThread();
  WaitFinished(t);
  TzfTaskStatus st = Status(t);
  EXPECT_TRUE(t->Completed.load());
  EXPECT_EQ(40u, st.tsRecsRead);
  EXPECT_EQ(20u, st.tsRecsWritten);
  EXPECT_EQ(100u, st.tsPercentDone);
  EXPECT_EQ(0u, st.tsErrorCode);
  EXPECT_FALSE(t->Executing());
  t->Free();
}

// The finished hook runs once on the task's thread when the job has ended, at once on the caller's
// when set after the end, and never once removed.
TEST_F(Tasks, FinishedHookRunsOnceWhenTheJobEnds) {
  std::atomic<int> calls{0}, removedCalls{0};
  std::atomic<bool> onCaller{false};
  const std::thread::id caller = std::this_thread::get_id();
  auto hook = [&] {
    ++calls;
    if (std::this_thread::get_id() == caller) onCaller = true;
  };
  TzfThreadEvent gate(true);
  TTestTask* t = NewTask(3);
  t->Gate = &gate;
  t->SetOnFinished(hook);
  t->StartThread();
  EXPECT_EQ(calls.load(), 0);
  gate.SetEvent();
  WaitFinished(t);
  for (int i = 0; i < 5000 && calls.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(calls.load(), 1);
  EXPECT_FALSE(onCaller.load());
  t->SetOnFinished(hook);
  EXPECT_EQ(calls.load(), 2);
  EXPECT_TRUE(onCaller.load());
  t->Free();

  TzfThreadEvent gate2(true);
  TTestTask* u = NewTask(3);
  u->Gate = &gate2;
  u->SetOnFinished([&] { ++removedCalls; });
  u->StartThread();
  u->SetOnFinished(nullptr);
  gate2.SetEvent();
  WaitFinished(u);
  u->Free();  // joins
  EXPECT_EQ(removedCalls.load(), 0);
}

TEST_F(Tasks, CancelIsFinalAtOnceAndOnlyOnce) {
  TzfThreadEvent gate(true);
  TTestTask* t = NewTask(10);
  t->Gate = &gate;
  t->StartThread();
  EXPECT_EQ(0u, t->Cancel());
  TzfTaskStatus st = Status(t);
  EXPECT_TRUE(st.tsFinished);
  EXPECT_EQ(13062u, st.tsErrorCode);
  EXPECT_TRUE(st.tsErrorMessage.empty());
  const uint32_t when = st.tsSnapshotTime;
  EXPECT_EQ(0u, t->Cancel());
  EXPECT_EQ(when, Status(t).tsSnapshotTime);
  gate.SetEvent();
  t->Free();  // joins
  EXPECT_TRUE(t == nullptr || true);
}

TEST_F(Tasks, CancelAfterTheEndStaysAndLaterSnapshotsChangeNothing) {
  TTestTask* t = NewTask(3);
  t->StartThread();
  WaitFinished(t);
  EXPECT_EQ(0u, Status(t).tsErrorCode);
  EXPECT_EQ(0u, t->Cancel());
  EXPECT_TRUE(t->MakeSnapshot(99, 99, 0));
  TzfTaskStatus st = Status(t);
  EXPECT_EQ(13062u, st.tsErrorCode);
  EXPECT_EQ(3u, st.tsRecsRead);
  t->Free();
}

TEST_F(Tasks, AFailureTravelsWithItsMessageToTheReadingThread) {
  TTestTask* t = NewTask(2);
  t->FailWith = 9729;
  t->StartThread();
  WaitFinished(t);
  TzfTaskStatus st = Status(t);
  EXPECT_EQ(9729u, st.tsErrorCode);
  EXPECT_EQ(2u, st.tsRecsRead);
  try {
    zfRaiseIfError(st.tsErrorCode);
    FAIL();
  } catch (const EzfBaseException& e) {
    EXPECT_NE(e.Message().find(u"task failed here"), UnicodeString::npos);
  }
  t->Free();
}

TEST_F(Tasks, DestroyingARunningTaskCancelsAndJoins) {
  TzfThreadEvent gate(true);
  TTestTask* t = NewTask(1000000);
  t->Gate = &gate;
  t->StartThread();
  std::thread opener([&] {
    TzfThreadEvent pause(true);
    pause.WaitFor(5);
    gate.SetEvent();
  });
  TTestTask* keep = t;
  t->Free();  // blocks until the job sees the cancel at its next snapshot
  opener.join();
  (void)keep;
  EXPECT_EQ(0u, Session->asTaskInfos.Count());
}

TEST_F(Tasks, ATaskHandleIsNeverDestroyedOnItsOwnThread) {
  struct TSelfFree : TTestTask {
    using TTestTask::TTestTask;
    void Execute() override {
      try {
        Free();
      } catch (const rtl::EAssertionFailed&) {
        Refused = true;
      }
    }
    std::atomic<bool> Refused{false};
  };
  auto* t = zfCreateServerObject<TSelfFree>(Session, 1u);
  t->StartThread();
  WaitFinished(t);
  EXPECT_TRUE(t->Refused.load());
  EXPECT_FALSE(t->Destroying());
  t->Free();
}

TEST_F(Tasks, DestroyingTheSessionEndsItsRunningTasks) {
  TzfThreadEvent gate(true);
  TTestTask* t = NewTask(1000000);
  t->Gate = &gate;
  t->StartThread();
  gate.SetEvent();
  Session->Free();  // the clean-up cancels, then frees (joins) the task
  Session = nullptr;
  EXPECT_EQ(1, Engine->CleanupRuns.load());
}

// A session's clean-up prepares its databases right after its task handles; a job may still be
// working on one of them (a recover on its private database), so its thread has ended by then.
// The job below ends only when cancelled, after it has waited a little for the database to be
// prepared: were the thread not joined with the cancel, that preparation would come first.
TEST_F(Tasks, SessionCleanupEndsTheJobsBeforeItPreparesTheDatabases) {
  struct TJob : TTestTask {
    using TTestTask::TTestTask;
    uint32_t Cancel() override {
      const uint32_t r = TTestTask::Cancel();
      CancelSeen.SetEvent();
      return r;
    }
    void Execute() override {
      InJob.SetEvent();
      CancelSeen.WaitFor(-1);
      DatabasePrepared.WaitFor(100);
      Completed = true;
    }
    TzfThreadEvent InJob{true}, CancelSeen{true}, DatabasePrepared{true};
  };
  struct TWatchedDatabase : TTestDatabase {
    using TTestDatabase::TTestDatabase;
    void PrepareDestroy() override {
      // The first preparation is the clean-up's; the database's own destruction prepares it again.
      if (TJob* job = std::exchange(Job, nullptr)) {
        *JobEndedFirst = job->Completed.load() && !job->Executing();
        job->DatabasePrepared.SetEvent();
      }
      TTestDatabase::PrepareDestroy();
    }
    TJob* Job = nullptr;
    bool* JobEndedFirst = nullptr;
  };
  TTestSession* s = OpenSession();
  auto* db = zfCreateServerObject<TWatchedDatabase>(s, nullptr, 10000u);
  auto* job = zfCreateServerObject<TJob>(s, 1u);
  bool endedFirst = false;
  db->Job = job;
  db->JobEndedFirst = &endedFirst;
  job->StartThread();
  job->InJob.WaitFor(-1);
  s->Free();
  EXPECT_TRUE(endedFirst) << "a database was prepared while a task of its session still ran";
}

// ---------------------------------------------------------------------------------------------
// Lifecycle stress: handles created and destroyed at random points of their life.

void RunLifecycle(TTestSession* aSession, int32_t aThreads, int32_t aRounds) {
  std::vector<std::thread> threads;
  for (int32_t th = 0; th < aThreads; ++th) {
    threads.emplace_back([=] {
      std::mt19937 rnd(4321u + th);
      for (int32_t i = 0; i < aRounds; ++i) {
        auto* t = zfCreateServerObject<TTestTask>(aSession, 1 + rnd() % 200);
        switch (rnd() % 6) {
          case 0:  // never started
            break;
          case 1:  // the start wait timed out: maybe before the job
            t->StartThread(0);
            break;
          case 2:  // during the job
            t->StartThread();
            break;
          case 3: {  // after the end
            t->StartThread();
            TzfThreadEvent never(true);
            bool done = false;
            TzfTaskStatus st;
            while (t->GetStatus(done, st) == 0 && !done) never.WaitFor(0);
            break;
          }
          case 4:  // cancelled twice
            t->StartThread(0);
            t->Cancel();
            t->Cancel();
            break;
          default: {  // cancelled after the end
            t->StartThread();
            bool done = false;
            TzfTaskStatus st;
            TzfThreadEvent never(true);
            while (t->GetStatus(done, st) == 0 && !t->Completed.load() && !done) never.WaitFor(0);
            t->Cancel();
            EXPECT_TRUE(t->MakeSnapshot(0, 0, 0));
            break;
          }
        }
        t->Free();
      }
    });
  }
  for (auto& t : threads) t.join();
}

TEST_F(Tasks, LifecycleStress) {
  RunLifecycle(Session, 4, 60);
  EXPECT_EQ(0u, Session->asTaskInfos.Count());
}

TEST_F(Tasks, SlowLifecycleStress) {
  RunLifecycle(Session, 6, 3000);
  EXPECT_EQ(0u, Session->asTaskInfos.Count());
}

TEST_F(Tasks, SessionDestroyedWithTasksAtEveryStage) {
  for (int rep = 0; rep < 20; ++rep) {
    TTestSession* s = OpenSession();
    std::vector<TTestTask*> tasks;
    for (int i = 0; i < 6; ++i) {
      auto* t = zfCreateServerObject<TTestTask>(s, 1u + 1000u * (i % 3));
      if (i % 3 != 0) t->StartThread(i % 2 ? 0 : 2000);
      tasks.push_back(t);
    }
    s->Free();
    EXPECT_EQ(1, Engine->bseSessionCount.load());  // the fixture's own session
  }
}

}  // namespace
}  // namespace zf::test
