// Queue links, the thread start-up handshake, parking, timer ticks and stopping.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "foundation/zfllBackgroundThread.h"
#include "foundation/zfllQueue.h"
#include "foundation/zfllThread.h"

using namespace zf;

namespace {

struct CountedItem : TzfQueueItem {
  CountedItem(TzfQueue* q, int v, int* freed) : TzfQueueItem(q), Value(v), Freed(freed) {}
  ~CountedItem() override { ++*Freed; }
  int Value;
  int* Freed;
};

std::vector<int> Drain(TzfQueue& q) {
  std::vector<int> out;
  while (TzfQueueItem* i = q.Dequeue()) {
    out.push_back(static_cast<CountedItem*>(i)->Value);
    delete i;
  }
  return out;
}

}  // namespace

TEST(Queue, FifoAndUnlinkKeepsHeadAndTail) {
  int freed = 0;
  TzfQueue q;
  EXPECT_EQ(q.Dequeue(), nullptr);
  CountedItem* items[4];
  for (int i = 0; i < 4; ++i) items[i] = new CountedItem(&q, i, &freed);
  delete items[0];  // head
  delete items[3];  // tail
  EXPECT_EQ(q.Head(), items[1]);
  EXPECT_EQ(q.Tail(), items[2]);
  new CountedItem(&q, 9, &freed);
  EXPECT_EQ(Drain(q), (std::vector<int>{1, 2, 9}));
  EXPECT_TRUE(q.IsEmpty());
  EXPECT_EQ(q.Tail(), nullptr);
  EXPECT_EQ(freed, 5);
}

TEST(Queue, DestroyingTheQueueFreesItsItems) {
  int freed = 0;
  {
    TzfQueue q;
    for (int i = 0; i < 3; ++i) new CountedItem(&q, i, &freed);
  }
  EXPECT_EQ(freed, 3);
}

namespace {

struct FailingStart : TzfInitThread {
  explicit FailingStart(std::atomic<bool>* mainRan) : MainRan(mainRan) {}
  void StartupWork() override { throw zf::rtl::EConvertError(u"start failed"); }
  void MainWork() override { MainRan->store(true); }
  std::atomic<bool>* MainRan;
};

struct OrderedStart : TzfInitThread {
  void StartupWork() override { StartedBeforeReturn.store(true); }
  void MainWork() override { MainRan.store(true); }
  std::atomic<bool> StartedBeforeReturn{false};
  std::atomic<bool> MainRan{false};
};

struct Parked : TzfInternalWaitThread {
  void MainWork() override { WorkDone.store(true); }
  std::atomic<bool> WorkDone{false};
};

struct Ticker : TzfTimerThread {
  explicit Ticker(uint32_t interval) : TzfTimerThread(interval) {}
  void TimerTick() override {
    int n = ++Ticks;
    if (n == 1) throw zf::rtl::EListError(u"tick failed");
  }
  void HandleThreadException(const zf::rtl::Exception&) override { ++Handled; }
  std::atomic<int> Ticks{0};
  std::atomic<int> Handled{0};
};

}  // namespace

TEST(InitThread, StartupFailureReachesTheCreatorAndSkipsTheWork) {
  std::atomic<bool> mainRan{false};
  try {
    zfCreateThread<FailingStart>(&mainRan);
    FAIL() << "creating the thread should raise";
  } catch (const zf::rtl::EConvertError& e) {
    EXPECT_EQ(e.Message(), u"start failed");
  }
  EXPECT_FALSE(mainRan.load());
}

TEST(InitThread, CreationReturnsAfterStartupAndThreadEndsAfterItsWork) {
  auto t = zfCreateThread<OrderedStart>();
  EXPECT_TRUE(t->StartedBeforeReturn.load());
  EXPECT_TRUE(t->WaitForEx(60000));  // does not park
  EXPECT_TRUE(t->MainRan.load());
  EXPECT_EQ(t->Name(), u"TzfInitThread");  // named after its class when no name is given
}

TEST(WaitThread, ParksAfterItsWorkUntilFreed) {
  auto t = zfCreateThread<Parked>();
  while (!t->Waiting()) std::this_thread::yield();
  EXPECT_TRUE(t->WorkDone.load());
  EXPECT_FALSE(t->WaitForEx(20));
  t.reset();  // releases the park and joins
}

TEST(TimerThread, TicksSurviveAFailingTickAndStopWakesTheWait) {
  auto fast = zfCreateThread<Ticker>(1);
  while (fast->Ticks.load() < 3) std::this_thread::yield();
  EXPECT_EQ(fast->Handled.load(), 1);
  fast.reset();

  // A long interval: stopping must wake the wait instead of sitting out the interval.
  auto slow = zfCreateThread<Ticker>(600000);
  slow.reset();
}

TEST(ThreadPriority, NamesRoundTrip) {
  for (TzfThreadPriority p : {zftpIdle, zftpLowest, zftpBelowNormal, zftpNormal, zftpAboveNormal,
                              zftpHighest, zftpTimeCritical, 5}) {
    TzfThreadPriority back = 99;
    ASSERT_TRUE(zfIdentToThreadPriority(zfThreadPriorityToIdent(p), back));
    EXPECT_EQ(back, p);
  }
  EXPECT_EQ(zfThreadPriorityToIdent(15), u"TIME_CRITICAL");
  TzfThreadPriority x;
  EXPECT_FALSE(zfIdentToThreadPriority(u"16", x));
  EXPECT_FALSE(zfIdentToThreadPriority(u"FAST", x));
}

namespace {

// Records the nice value its thread runs its work with.
struct NiceProbe : TzfThread {
  explicit NiceProbe(TzfThreadPriority aPriority) : TzfThread(false, aPriority) {}
  std::atomic<int> Nice{100};
  std::atomic<bool> Ran{false};

 protected:
  void ThreadMain() override {
    errno = 0;
    Nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    Ran = true;
  }
};

int RunProbe(TzfThreadPriority aPriority) {
  auto probe = zfCreateThread<NiceProbe>(aPriority);
  probe->WaitForEx(10000);
  EXPECT_TRUE(probe->Ran.load());
  return probe->Nice.load();
}

bool HasCapSysNice() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  return data[CAP_SYS_NICE / 32].effective & (1u << (CAP_SYS_NICE % 32));
}

// Drops CAP_SYS_NICE from the calling thread (capabilities are per thread on Linux and passed on
// to the threads it creates).
void DropCapSysNice() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return;
  data[CAP_SYS_NICE / 32].effective &= ~(1u << (CAP_SYS_NICE % 32));
  ::syscall(SYS_capset, &header, data);
}

// Whether a thread created by the calling thread may set its nice value to aNice.
bool MayRaiseTo(int aNice) {
  if (HasCapSysNice()) return true;
  rlimit limit{};
  ::getrlimit(RLIMIT_NICE, &limit);
  return limit.rlim_cur == RLIM_INFINITY || 20 - aNice <= static_cast<int>(limit.rlim_cur);
}

void ExpectRaises(int aBase) {
  for (TzfThreadPriority p : {zftpAboveNormal, zftpHighest, zftpTimeCritical}) {
    SCOPED_TRACE(p);
    const int target = std::max(-20, aBase - 5 * p);
    EXPECT_EQ(RunProbe(p), MayRaiseTo(target) ? target : aBase);
  }
}

}  // namespace

// The priority given to a thread is applied as its nice value, offset from the process's: five
// steps per level, clamped to the system's range. Lowering is always allowed.
TEST(ThreadPriority, LowerLevelsAreAppliedToTheThread) {
  const int base = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
  struct Case {
    TzfThreadPriority Priority;
    int Offset;
  };
  for (const Case& c : {Case{zftpIdle, 75}, Case{zftpLowest, 10}, Case{zftpBelowNormal, 5}, Case{zftpNormal, 0},
                        Case{-3, 15}}) {
    SCOPED_TRACE(c.Priority);
    EXPECT_EQ(RunProbe(c.Priority), std::min(19, base + c.Offset));
  }
}

// A raise is applied where the process may raise; where it may not, the thread runs at the
// process's own priority and its work is not hindered. Both are tried where the process may
// (without CAP_SYS_NICE on a second thread).
TEST(ThreadPriority, RaisesAreAppliedWhereAllowedAndARefusalIsIgnored) {
  const int base = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
  ExpectRaises(base);
  std::thread unprivileged([&] {
    DropCapSysNice();
    ExpectRaises(base);
  });
  unprivileged.join();
}

namespace {

struct Service : TzfBackgroundThread {
  void BeforeStart() override { BeforeStartRan = true; }
  void Run() override {
    while (!WaitForDie(1000)) ++Loops;
    SawDie.store(true);
  }
  bool BeforeStartRan = false;
  std::atomic<int> Loops{0};
  std::atomic<bool> SawDie{false};
};

}  // namespace

TEST(BackgroundThread, StopWakesTheWorkAndJoins) {
  auto t = zfCreateThread<Service>();
  EXPECT_TRUE(t->BeforeStartRan);
  Service* raw = t.get();
  raw->BeforeDestruction();
  EXPECT_TRUE(raw->Done());
  EXPECT_TRUE(!raw->WorkRan() || raw->SawDie.load());
  t.reset();
}

TEST(BackgroundThread, StopReportsGoThroughTheInstalledReporter) {
  std::vector<std::u16string> reported;
  zfSetSlowStopReporter([&](const zf::rtl::UnicodeString& name, uint32_t ms) { reported.push_back(name); });
  zfReportSlowStop(u"Flush", 10000);
  zfSetSlowStopReporter(nullptr);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], u"Flush");
}

namespace {

// Holds its thread before the work until the owner has asked it to stop.
struct LateStart : TzfBackgroundThread {
  std::string ThreadName() const override {
    while (!Terminated()) std::this_thread::yield();
    return "LateStart";
  }
  void Run() override { Ran.store(true); }
  std::atomic<bool> Ran{false};
};

}  // namespace

TEST(BackgroundThread, StoppedBeforeItsWorkBeganSkipsTheWork) {
  auto t = zfCreateThread<LateStart>();
  LateStart* raw = t.get();
  raw->BeforeDestruction();
  EXPECT_TRUE(raw->Done());
  EXPECT_FALSE(raw->WorkRan());
  EXPECT_FALSE(raw->Ran.load());
}

namespace {

// Ignores the stop request for a while, as a thread stuck in a long system call would.
struct Stubborn : TzfInitThread {
  void MainWork() override {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(zfSlowThreadStopMs + 500);
    while (std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
};

}  // namespace

TEST(Thread, SlowStopIsReportedAndTheThreadStillJoined) {
  std::atomic<int> reports{0};
  zfSetSlowStopReporter([&](const zf::rtl::UnicodeString&, uint32_t) { ++reports; });
  auto t = zfCreateThread<Stubborn>();
  Stubborn* raw = t.get();
  raw->BeforeDestruction();
  EXPECT_TRUE(raw->Finished());
  EXPECT_EQ(reports.load(), 1);
  t.reset();
  zfSetSlowStopReporter(nullptr);
}
