// Readers, a writer and a flushing thread on one cache at once. Snapshot readers take no table
// lock and must see every block of one commit or of none; plain readers hold the table's read lock
// as the server's cursors do; the writer holds the write lock from its first change to the end of
// its write-out, which a separate thread performs outside the cache's padlock. A small budget keeps
// the eviction running under all of it.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <shared_mutex>
#include <thread>

#include "zfsrCacheTestSupport.h"

namespace zf::test {
namespace {

class CacheConcurrencyTest : public TCacheTest {
 protected:
  void Run(int aCommits, int aReaders, uint32_t aBlocks) {
    TMemFile* f = NewFile();
    TMemFile* cold = NewFile(u"/tmp/cold.dvl7");  // read only: its misses keep the eviction busy
    std::vector<TzfBlockNumber> blocks, coldBlocks;
    {
      TTestTrans t(BM.get());
      blocks = Allocate(f, &t, int(aBlocks), 0);
      coldBlocks = Allocate(cold, &t, 400, 0x5A);
      t.Commit();
    }
    BM->ApplyMaxRAM(1);  // 256 pages: fewer than the blocks
    std::shared_mutex table;
    std::atomic<bool> done{false};
    std::atomic<bool> writerWaiting{false};
    std::atomic<int64_t> snapshotReads{0};
    std::atomic<int> failures{0};

    // The flushing thread: writes out what the writer committed, outside the padlock.
    std::mutex qLock;
    std::condition_variable qCond;
    TzfFlushList* pending = nullptr;
    bool flushed = false;
    std::thread flusher([&] {
      for (;;) {
        std::unique_lock<std::mutex> g(qLock);
        qCond.wait(g, [&] { return pending != nullptr || done.load(); });
        if (!pending) return;
        TzfFlushList* list = pending;
        pending = nullptr;
        g.unlock();
        list->Flush(false);
        g.lock();
        flushed = true;
        qCond.notify_all();
      }
    });

    std::thread writer([&] {
      for (int k = 1; k <= aCommits; ++k) {
        writerWaiting = true;
        std::unique_lock<std::shared_mutex> w(table);
        writerWaiting = false;
        TTestTrans t(BM.get());
        for (TzfBlockNumber b : blocks) Poke(f, &t, b, uint8_t(k));
        TzfFlushList list;
        BM->CommitTransaction(&t, &list, false);
        std::unique_lock<std::mutex> g(qLock);
        pending = &list;
        flushed = false;
        qCond.notify_all();
        qCond.wait(g, [&] { return flushed; });
      }
      done = true;
      qCond.notify_all();
    });

    std::vector<std::thread> readers;
    for (int r = 0; r < aReaders; ++r) {
      readers.emplace_back([&, r] {
        while (!done.load()) {
          std::this_thread::yield();
          if (r % 2 == 0) {
            TTestTrans snap(BM.get(), true);
            const uint8_t first = Peek(f, &snap, blocks[0]);
            for (TzfBlockNumber b : blocks) {
              TzfReleaseMethod rm;
              PzfBlock p = BM->GetBlock(f, &snap, b, false, rm);
              if (p[16] != first || p[f->fiBlockSizeBytes - 1] != first) ++failures;
              rm(p);
            }
            ++snapshotReads;
          } else {
            if (writerWaiting.load()) continue;
            for (size_t i = size_t(r); i < coldBlocks.size(); i += 7)
              if (Peek(cold, nullptr, coldBlocks[i]) != 0x5A) ++failures;
            std::shared_lock<std::shared_mutex> rl(table);
            TzfReleaseList list;
            uint8_t first = 0;
            for (size_t i = 0; i < blocks.size(); ++i) {
              TzfReleaseMethod rm;
              PzfBlock p = BM->GetBlock(f, nullptr, blocks[i], false, rm);
              if (i == 0) first = p[16];
              if (p[16] != first) ++failures;
              list.Add(p, rm);
            }
            std::vector<UnicodeString> stats;
            BM->GetStatsValues(stats);
          }
        }
      });
    }
    writer.join();
    for (auto& t : readers) t.join();
    flusher.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(snapshotReads.load(), 0);
    for (TzfBlockNumber b : blocks) ASSERT_EQ(f->DiskBlock(b)[16], uint8_t(aCommits));
    EXPECT_EQ(BM->bmActiveSnapShotCount, 0);
    EXPECT_GT(BM->bmBlockCacheEvict[2][0][0], 0);
  }
};

TEST_F(CacheConcurrencyTest, SnapshotReadersPlainReadersWriterAndFlusher) { Run(12, 4, 300); }

TEST_F(CacheConcurrencyTest, SlowLongRunOfReadersWriterAndFlusher) { Run(100, 8, 400); }

}  // namespace
}  // namespace zf::test
