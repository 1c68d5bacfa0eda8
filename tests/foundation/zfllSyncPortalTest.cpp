#include "foundation/zfllSyncPortal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/rtl/rtlException.h"
#include "zfSyncTestSupport.h"

using namespace zf;
using namespace std::chrono_literals;

namespace {

class PortalUnits {
 public:
  PortalUnits() {
    zfllMemoryManagerUnit().Initialize();
    zfllSyncUnit().Initialize();
    zfllSyncPortalUnit().Initialize();
  }
  ~PortalUnits() {
    zfllSyncPortalUnit().Finalize();
    zfllSyncUnit().Finalize();
    zfllMemoryManagerUnit().Finalize();
  }
};

using zf::test::RunWithWatchdog;

// Another thread can write (and so the portal is free) within the time limit.
void ExpectFreeForOthers(TzfInternalReadWritePortal& aPortal) {
  EXPECT_EQ(aPortal.AdmissionCounter(), TzfInternalReadWritePortal::kFree);
  EXPECT_EQ(aPortal.WriterID(), 0u);
  RunWithWatchdog("another thread's write", 5000ms, [&] {
    EXPECT_TRUE(aPortal.BeginWrite());
    aPortal.EndWrite();
    aPortal.BeginRead();
    aPortal.EndRead();
  });
  EXPECT_EQ(aPortal.AdmissionCounter(), TzfInternalReadWritePortal::kFree);
}

}  // namespace

// A thread may take and end its reads and writes in any order; afterwards the portal is free.
// (Ending a write while still reading used to leave the counter at 65536, so every later writer
// waited forever.)
TEST(ReadWritePortal, AnyNestingOrderLeavesThePortalFree) {
  PortalUnits units;
  const std::vector<std::string> sequences = {
      "W R w r",          // the read begun inside the write outlives it
      "R W r w",          // upgrade, read ended inside the write
      "R W w r",          // upgrade
      "W R r w",
      "W W R w R r w r",
      "R R W w r r",
      "R W R W w r w r",
      "W R w W w r",      // a write again while the left-over read is held
  };
  for (const auto& seq : sequences) {
    SCOPED_TRACE(seq);
    TzfInternalReadWritePortal portal;
    for (char c : seq) {
      switch (c) {
        case 'W': EXPECT_TRUE(portal.BeginWrite()); break;
        case 'w': portal.EndWrite(); break;
        case 'R': portal.BeginRead(); break;
        case 'r': portal.EndRead(); break;
        default: break;
      }
    }
    ExpectFreeForOthers(portal);
  }
}

TEST(ReadWritePortal, ReadsInsideOwnWriteTakeNoUnit) {
  PortalUnits units;
  TzfInternalReadWritePortal portal;
  EXPECT_TRUE(portal.BeginWrite());
  EXPECT_EQ(portal.AdmissionCounter(), 0);
  for (int i = 0; i < 5; ++i) portal.BeginRead();
  EXPECT_EQ(portal.AdmissionCounter(), 0);
  for (int i = 0; i < 5; ++i) portal.EndRead();
  EXPECT_EQ(portal.AdmissionCounter(), 0);
  EXPECT_TRUE(portal.BeginWrite());  // nested
  portal.EndWrite();
  EXPECT_EQ(portal.WriterID(), zf::os::GetCurrentThreadId());
  portal.EndWrite();
  ExpectFreeForOthers(portal);
}

TEST(ReadWritePortal, UpgradedReaderKeepsItsReadAfterTheWrite) {
  PortalUnits units;
  TzfInternalReadWritePortal portal;
  portal.BeginRead();
  EXPECT_EQ(portal.AdmissionCounter(), TzfInternalReadWritePortal::kFree - 1);
  EXPECT_TRUE(portal.BeginWrite());  // nobody else reads: at once, and fresh
  EXPECT_EQ(portal.AdmissionCounter(), -1);
  portal.EndWrite();
  EXPECT_EQ(portal.AdmissionCounter(), TzfInternalReadWritePortal::kFree - 1);

  std::atomic<bool> wrote{false};
  std::thread writer([&] {
    portal.BeginWrite();
    wrote = true;
    portal.EndWrite();
  });
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(wrote.load());  // still held by the remaining read
  portal.EndRead();
  RunWithWatchdog("the waiting writer", 5000ms, [&] { writer.join(); });
  EXPECT_TRUE(wrote.load());
  ExpectFreeForOthers(portal);
}

// Two readers upgrading at once: one gets the write first; the other gets it after the first has
// ended its write and its read, and learns that its view may be stale.
TEST(ReadWritePortal, ConcurrentUpgradeReportsTheOtherWriter) {
  PortalUnits units;
  for (int round = 0; round < 10; ++round) {
    TzfInternalReadWritePortal portal;
    std::atomic<int> reading{0};
    bool fresh[2] = {};
    int inside = 0;  // plain: the writes must exclude each other
    RunWithWatchdog("two upgrades", 10000ms, [&] {
      std::vector<std::thread> threads;
      for (int t = 0; t < 2; ++t)
        threads.emplace_back([&, t] {
          portal.BeginRead();
          reading.fetch_add(1);
          while (reading.load() < 2) std::this_thread::yield();
          fresh[t] = portal.BeginWrite();
          ++inside;
          portal.EndWrite();
          portal.EndRead();
        });
      for (auto& th : threads) th.join();
    });
    EXPECT_EQ(inside, 2);
    EXPECT_NE(fresh[0], fresh[1]) << "round " << round;
    ExpectFreeForOthers(portal);
  }
}

TEST(ReadWritePortal, BeginWriteIsStaleWhenAnotherWriterCameFirst) {
  PortalUnits units;
  TzfInternalReadWritePortal portal;
  portal.BeginRead();  // holds the portal so the writer below must wait
  std::atomic<bool> otherWaiting{false};
  std::thread other([&] {
    otherWaiting = true;
    portal.BeginWrite();
    portal.EndWrite();
  });
  while (!otherWaiting.load()) std::this_thread::yield();
  std::this_thread::sleep_for(20ms);
  const uint32_t before = portal.Generation();
  portal.EndRead();
  RunWithWatchdog("the other writer", 5000ms, [&] { other.join(); });
  EXPECT_EQ(portal.Generation(), before + 1);
  EXPECT_TRUE(portal.BeginWrite());  // nobody came between
  portal.EndWrite();
}

// A stream of overlapping readers cannot keep a writer out: once it announces itself, new
// readers wait.
TEST(ReadWritePortal, ReadersCannotStarveAWriter) {
  PortalUnits units;
  TzfInternalReadWritePortal portal;
  std::atomic<bool> stop{false};
  std::atomic<int> started{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&] {
      started.fetch_add(1);
      while (!stop.load()) {
        portal.BeginRead();
        std::this_thread::yield();  // readers overlap: the portal is never free by itself
        portal.EndRead();
      }
    });
  while (started.load() < 4) std::this_thread::yield();
  RunWithWatchdog("a writer among busy readers", 10000ms, [&] {
    for (int i = 0; i < 20; ++i) {
      portal.BeginWrite();
      portal.EndWrite();
    }
  });
  stop = true;
  for (auto& t : readers) t.join();
  ExpectFreeForOthers(portal);
}

TEST(ReadWritePortal, DestroyWaitsForTheReader) {
  PortalUnits units;
  auto* portal = new TzfInternalReadWritePortal();
  std::atomic<bool> reading{false}, release{false}, destroyed{false};
  std::thread reader([&] {
    portal->BeginRead();
    reading = true;
    while (!release.load()) std::this_thread::yield();
    portal->EndRead();
  });
  while (!reading.load()) std::this_thread::yield();
  std::thread destroyer([&] {
    delete portal;
    destroyed = true;
  });
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(destroyed.load());
  release = true;
  RunWithWatchdog("the destruction", 5000ms, [&] {
    reader.join();
    destroyer.join();
  });
  EXPECT_TRUE(destroyed.load());
}

TEST(ReadWritePortal, UnbalancedCallsRaise) {
  PortalUnits units;
  TzfInternalReadWritePortal portal;
  EXPECT_THROW(portal.EndRead(), zf::rtl::EIntOverflow);
  EXPECT_THROW(portal.EndWrite(), zf::rtl::EAssertionFailed);
  portal.BeginWrite();
  std::thread other([&] { EXPECT_THROW(portal.EndWrite(), zf::rtl::EAssertionFailed); });
  other.join();
  portal.EndWrite();
  ExpectFreeForOthers(portal);
}

TEST(ReadWritePortal, ManyThreadsShareBuckets) {
  PortalUnits units;
  TzfInternalReadWritePortal portal;
  constexpr int kThreads = 40;
  std::atomic<int> reading{0};
  std::atomic<bool> release{false};
  RunWithWatchdog("40 readers", 10000ms, [&] {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&] {
        portal.BeginRead();
        portal.BeginRead();
        reading.fetch_add(1);
        while (!release.load()) std::this_thread::yield();
        portal.EndRead();
        portal.EndRead();
      });
    while (reading.load() < kThreads) std::this_thread::yield();
    EXPECT_EQ(portal.AdmissionCounter(), TzfInternalReadWritePortal::kFree - kThreads);
    int records = 0;
    for (int b = 0; b < 16; ++b) records += portal.ThreadStates().RecordCount(b);
    EXPECT_GE(records, kThreads);
    release = true;
    for (auto& th : threads) th.join();
  });
  ExpectFreeForOthers(portal);
}

TEST(ReadWritePortal, CreateAndReadOrWriteRaceLeavesOnePortal) {
  PortalUnits units;
  for (int writeMode = 0; writeMode < 2; ++writeMode) {
    TzfInternalReadWritePortal* shared = nullptr;
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::vector<TzfInternalReadWritePortal*> seen(kThreads);
    RunWithWatchdog("racing creators", 10000ms, [&] {
      std::vector<std::thread> threads;
      for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
          ready.fetch_add(1);
          while (ready.load() < kThreads) std::this_thread::yield();
          if (writeMode) {
            TzfInternalReadWritePortal::CreateAndWrite(shared);
            seen[t] = __atomic_load_n(&shared, __ATOMIC_ACQUIRE);
            seen[t]->EndWrite();
          } else {
            TzfInternalReadWritePortal::CreateAndRead(shared);
            seen[t] = __atomic_load_n(&shared, __ATOMIC_ACQUIRE);
            seen[t]->EndRead();
          }
        });
      for (auto& th : threads) th.join();
    });
    for (auto* p : seen) EXPECT_EQ(p, shared);
    ExpectFreeForOthers(*shared);
    zfFreeAndNil(shared);
  }
}

namespace {

// Readers, writers, nested reads, reads inside writes and upgrades on one portal for aDuration.
// The guarded pair is plain memory: a reader that ever sees it torn, or a thread that hangs,
// means the portal let two parties in or lost a wake-up.
void StressPortal(std::chrono::milliseconds aDuration) {
  PortalUnits units;
  TzfInternalReadWritePortal portal;
  int64_t a = 0, b = 0;
  std::atomic<bool> stop{false};
  std::atomic<int64_t> torn{0}, writes{0}, reads{0};

  auto reader = [&](unsigned aSeed) {
    std::mt19937 rng(aSeed);
    while (!stop.load(std::memory_order_relaxed)) {
      portal.BeginRead();
      int depth = static_cast<int>(rng() % 3);
      for (int i = 0; i < depth; ++i) portal.BeginRead();
      if (a != b) torn.fetch_add(1);
      reads.fetch_add(1, std::memory_order_relaxed);
      if (rng() % 8 == 0) {  // upgrade
        portal.BeginWrite();
        ++a;
        ++b;
        writes.fetch_add(1, std::memory_order_relaxed);
        portal.EndWrite();
      }
      for (int i = 0; i < depth; ++i) portal.EndRead();
      portal.EndRead();
    }
  };
  auto writer = [&](unsigned aSeed) {
    std::mt19937 rng(aSeed);
    while (!stop.load(std::memory_order_relaxed)) {
      portal.BeginWrite();
      ++a;
      if (rng() % 2) {  // a read inside the write, sometimes outliving it
        portal.BeginRead();
        if (rng() % 2) portal.BeginWrite(), portal.EndWrite();
        ++b;
        if (rng() % 2) {
          portal.EndWrite();
          if (a != b) torn.fetch_add(1);
          portal.EndRead();
        } else {
          portal.EndRead();
          portal.EndWrite();
        }
      } else {
        ++b;
        portal.EndWrite();
      }
      writes.fetch_add(1, std::memory_order_relaxed);
    }
  };

  RunWithWatchdog("the portal stress run", aDuration + 20000ms, [&] {
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < 4; ++i) threads.emplace_back(reader, 100 + i);
    for (unsigned i = 0; i < 2; ++i) threads.emplace_back(writer, 200 + i);
    std::this_thread::sleep_for(aDuration);
    stop = true;
    for (auto& t : threads) t.join();
  });
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(writes.load(), 0);
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(a, b);
  ExpectFreeForOthers(portal);
}

}  // namespace

TEST(ReadWritePortal, StressShort) { StressPortal(300ms); }
TEST(ReadWritePortal, StressSlow) { StressPortal(20000ms); }
