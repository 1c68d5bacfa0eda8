// The content portal: read nesting, reads inside the own write, the refused upgrade of a plain
// reader, write time-outs, leaving the reads for a wait, and a stress run of nesting readers,
// pausing readers and writers (run it under the tsan preset).
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlException.h"
#include "server/zfsrContentPortal.h"

namespace zf::test {
namespace {

void ExpectClean(const TzfContentPortal& aPortal) { EXPECT_EQ(std::string(aPortal.CheckInvariants()), ""); }

TEST(ContentPortal, ReadsNestAndWritesReenter) {
  TzfContentPortal p;
  p.BeginRead();
  p.BeginRead();
  EXPECT_EQ(p.ReadLevels(), 2u);
  EXPECT_EQ(p.ReaderCount(), 1u);
  p.EndRead();
  p.EndRead();
  EXPECT_EQ(p.ReaderCount(), 0u);
  ExpectClean(p);

  EXPECT_EQ(p.TryBeginWrite(0), 0u);
  EXPECT_EQ(p.TryBeginWrite(0), 0u);  // the writer enters again
  p.BeginRead();                      // and reads inside its write
  EXPECT_EQ(p.WriteLevels(), 2u);
  EXPECT_EQ(p.ReaderCount(), 0u);
  ExpectClean(p);
  p.EndWrite();
  p.EndWrite();
  // The read taken inside the write outlives it: the thread is a reader now.
  EXPECT_FALSE(p.HasWriter());
  EXPECT_EQ(p.ReaderCount(), 1u);
  ExpectClean(p);
  p.EndRead();
  ExpectClean(p);
}

TEST(ContentPortal, UnbalancedEndsAreAssertions) {
  TzfContentPortal p;
  EXPECT_THROW(p.EndRead(), rtl::Exception);
  EXPECT_THROW(p.EndWrite(), rtl::Exception);
  ExpectClean(p);
}

TEST(ContentPortal, UpgradeOfAPlainReaderIsRefused) {
  // Two readers asking to write at once must not wait for each other: both are refused at once
  // and keep their reads.
  TzfContentPortal p;
  std::atomic<int> reading{0};
  uint32_t results[2] = {1, 1};
  std::vector<std::thread> ts;
  for (int i = 0; i < 2; ++i)
    ts.emplace_back([&, i] {
      p.BeginRead();
      ++reading;
      while (reading.load() < 2) std::this_thread::yield();
      results[i] = p.TryBeginWrite(TzfContentPortal::kInfinite);
      EXPECT_EQ(p.ReadLevels(), 1u);
      p.EndRead();
    });
  for (auto& t : ts) t.join();
  EXPECT_EQ(results[0], zfErrDeadlock);
  EXPECT_EQ(results[1], zfErrDeadlock);
  EXPECT_THROW(
      {
        p.BeginRead();
        try {
          p.BeginWrite();
        } catch (...) {
          p.EndRead();
          throw;
        }
      },
      rtl::Exception);
  ExpectClean(p);
}

TEST(ContentPortal, WriterTimesOutWhileAnotherThreadReadsAndLetsReadersOnAfterwards) {
  TzfContentPortal p;
  std::atomic<bool> entered{false}, release{false};
  std::thread reader([&] {
    p.BeginRead();
    entered = true;
    while (!release) std::this_thread::yield();
    p.EndRead();
  });
  while (!entered) std::this_thread::yield();
  EXPECT_EQ(p.TryBeginWrite(20), zfErrLockTimeout);
  EXPECT_FALSE(p.HasWriter());
  // A new reader is not held back by the writer that gave up.
  EXPECT_TRUE(p.TryBeginRead(1000));
  p.EndRead();
  release = true;
  reader.join();
  EXPECT_EQ(p.TryBeginWrite(1000), 0u);
  std::thread other([&] { EXPECT_FALSE(p.TryBeginRead(20)); });
  other.join();
  p.EndWrite();
  ExpectClean(p);
}

TEST(ContentPortal, PausedReaderLetsAWaitingWriterThrough) {
  // A reader that must wait for something a writer finishes (a record lock held by a committing
  // transaction) leaves the portal for the wait; without the pause both would wait forever.
  TzfContentPortal p;
  std::atomic<bool> writerDone{false};
  p.BeginRead();
  p.BeginRead();
  std::thread writer([&] {
    EXPECT_EQ(p.TryBeginWrite(5000), 0u);
    writerDone = true;
    p.EndWrite();
  });
  {
    TzfPortalReadPause pause(&p);
    EXPECT_EQ(p.ReadLevels(), 0u);
    while (!writerDone) std::this_thread::yield();
  }
  writer.join();
  EXPECT_EQ(p.ReadLevels(), 2u);
  EXPECT_EQ(p.ReaderCount(), 1u);
  p.EndRead();
  p.EndRead();
  ExpectClean(p);
  // The writer's pause leaves nothing: its write keeps others out anyway.
  p.BeginWrite();
  p.BeginRead();
  {
    TzfPortalReadPause pause(&p);
    EXPECT_EQ(p.ReadLevels(), 1u);
  }
  p.EndRead();
  p.EndWrite();
  ExpectClean(p);
}

TEST(ContentPortal, StressOfNestingReadersPausesAndWriters) {
  TzfContentPortal p;
  int64_t shared[2] = {0, 0};  // a writer keeps both equal; readers must never see them differ
  std::atomic<int> torn{0};
  std::atomic<int> refused{0};
  constexpr int kThreads = 6;
  constexpr int kRounds = 1500;
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; ++t)
    ts.emplace_back([&, t] {
      std::mt19937 rng(static_cast<unsigned>(t) * 7919u + 1u);
      for (int r = 0; r < kRounds; ++r) {
        switch (rng() % 4) {
          case 0: {  // nested reads with a pause in the middle
            TzfContentReadGuard a(p);
            if (shared[0] != shared[1]) ++torn;
            TzfContentReadGuard b(p);
            {
              TzfPortalReadPause pause(&p);
            }
            if (shared[0] != shared[1]) ++torn;
            if (p.TryBeginWrite(0) == zfErrDeadlock) ++refused;
            break;
          }
          case 1: {  // write, re-enter, read inside the write
            if (p.TryBeginWrite(200) != 0) break;
            ++shared[0];
            p.BeginWrite();
            p.BeginRead();
            ++shared[1];
            p.EndRead();
            p.EndWrite();
            p.EndWrite();
            break;
          }
          case 2: {  // a write that ends while its inner read goes on
            if (p.TryBeginWrite(200) != 0) break;
            ++shared[0];
            ++shared[1];
            p.BeginRead();
            p.EndWrite();
            if (shared[0] != shared[1]) ++torn;
            p.EndRead();
            break;
          }
          default: {
            if (!p.TryBeginRead(200)) break;
            if (shared[0] != shared[1]) ++torn;
            p.EndRead();
          }
        }
      }
    });
  for (auto& t : ts) t.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(refused.load(), 0);
  EXPECT_FALSE(p.HasWriter());
  EXPECT_EQ(p.ReaderCount(), 0u);
  ExpectClean(p);
}

}  // namespace
}  // namespace zf::test
