// The chunked swap file: block numbers and chunk reuse as its size table gives them, file length
// and bookkeeping blocks, invalid numbers, the file's privacy, and the block cache spilling into it
// under a RAM budget smaller than its working set.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "foundation/zfllErrors.h"
#include "storage/zfseTemporaryStorageChunked.h"
#include "zfsrCacheTestSupport.h"
#include "zfsrTestUtil.h"

namespace zf::test {
namespace {

using S = TzfBlockSizeAll;

int64_t FileLength(const TzfChunkedTempStorage& s) {
  struct stat st {};
  EXPECT_EQ(0, ::fstat(s.FileHandle(), &st));
  return st.st_size;
}

// Blocks of every size, each filled with its own pattern.
struct TBlocks {
  TzfPooledBlock Buf{S::zfbs4M};
  uint8_t* Fill(S aSize, uint32_t aSeed) {
    for (size_t i = 0; i < zfBlockSizeBytes(aSize); ++i) Buf.Data()[i] = static_cast<uint8_t>(aSeed * 31 + i * 7);
    return Buf.Data();
  }
  bool Holds(S aSize, uint32_t aSeed, const uint8_t* aData) {
    for (size_t i = 0; i < zfBlockSizeBytes(aSize); ++i)
      if (aData[i] != static_cast<uint8_t>(aSeed * 31 + i * 7)) return false;
    return true;
  }
};

class ChunkedTempStorageTest : public StorageStarted {
 protected:
  TempDir Dir;
  TBlocks Blocks;
  TzfPooledBlock Out{S::zfbs4M};
};

TEST_F(ChunkedTempStorageTest, NumbersFollowTheChunkTable) {
  TzfChunkedTempStorage s(Dir.File(""));
  EXPECT_EQ(0, FileLength(s));
  EXPECT_EQ(0u, s.WriteBlock(Blocks.Fill(S::zfbs4k, 0), S::zfbs4k));
  EXPECT_EQ(kzfTempChunkBytes, FileLength(s));
  EXPECT_EQ(1u, s.WriteBlock(Blocks.Fill(S::zfbs4k, 1), S::zfbs4k));
  s.ReleaseBlock(0, S::zfbs4k);
  EXPECT_EQ(0u, s.WriteBlock(Blocks.Fill(S::zfbs4k, 2), S::zfbs4k));  // the slot freed last comes first
  // 8 KB blocks take a chunk of their own, two 4 KB units each.
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(1024u + 2 * i, s.WriteBlock(Blocks.Fill(S::zfbs8k, 10 + i), S::zfbs8k));
  // A 4 MB block fills a chunk.
  EXPECT_EQ(2048u, s.WriteBlock(Blocks.Fill(S::zfbs4M, 20), S::zfbs4M));
  EXPECT_EQ(3 * int64_t(kzfTempChunkBytes), s.StorageSize());
  EXPECT_EQ(2 * 4096 + 3 * 8192 + 4194304, s.StorageInUse());
  s.CheckConsistency();

  s.PeekBlock(1026, S::zfbs8k, Out.Data());
  EXPECT_TRUE(Blocks.Holds(S::zfbs8k, 11, Out.Data()));
  s.PeekBlock(1026, S::zfbs8k, Out.Data());  // a peek keeps the block
  s.ReadBlock(2048, S::zfbs4M, Out.Data());
  EXPECT_TRUE(Blocks.Holds(S::zfbs4M, 20, Out.Data()));
  // The last chunk emptied: the file shrinks by 4 MB.
  EXPECT_EQ(2 * int64_t(kzfTempChunkBytes), FileLength(s));
  s.ReadBlock(0, S::zfbs4k, Out.Data());
  EXPECT_TRUE(Blocks.Holds(S::zfbs4k, 2, Out.Data()));
  s.ReleaseBlock(1, S::zfbs4k);
  // An emptied chunk before the end keeps the file's length.
  EXPECT_EQ(2 * int64_t(kzfTempChunkBytes), FileLength(s));
  s.CheckConsistency();
  // ... and is taken again by the next size that needs a chunk.
  EXPECT_EQ(0u, s.WriteBlock(Blocks.Fill(S::zfbs64k, 30), S::zfbs64k));
  EXPECT_EQ(16u, s.WriteBlock(Blocks.Fill(S::zfbs64k, 31), S::zfbs64k));
  s.CheckConsistency();
}

TEST_F(ChunkedTempStorageTest, InvalidNumbersAre15496) {
  TzfChunkedTempStorage s(Dir.File(""));
  const TzfBlockTmpNum a = s.WriteBlock(Blocks.Fill(S::zfbs4k, 0), S::zfbs4k);
  const TzfBlockTmpNum b = s.WriteBlock(Blocks.Fill(S::zfbs16k, 1), S::zfbs16k);
  struct Case {
    TzfBlockTmpNum Num;
    S Size;
  } cases[] = {{a, S::zfbs8k},        // chunk of another size
               {a + 1, S::zfbs4k},    // free slot
               {b + 1, S::zfbs16k},   // inside a block, not its start
               {5 * 1024, S::zfbs4k}, // no such chunk
               {0xFFFFFFFFu, S::zfbs4M}};
  for (const Case& c : cases) {
    EXPECT_EQ(zfErrTempStoreInvalidBlock, RaisedCode([&] { s.ReadBlock(c.Num, c.Size, Out.Data()); })) << c.Num;
    EXPECT_EQ(zfErrTempStoreInvalidBlock, RaisedCode([&] { s.PeekBlock(c.Num, c.Size, Out.Data()); })) << c.Num;
    EXPECT_EQ(zfErrTempStoreInvalidBlock, RaisedCode([&] { s.ReleaseBlock(c.Num, c.Size); })) << c.Num;
  }
  s.ReadBlock(a, S::zfbs4k, Out.Data());
  EXPECT_EQ(zfErrTempStoreInvalidBlock, RaisedCode([&] { s.ReadBlock(a, S::zfbs4k, Out.Data()); }));
  s.CheckConsistency();
}

TEST_F(ChunkedTempStorageTest, ThirtiethChunkTakesASecondInfoBlockAndGivesItBack) {
  TzfChunkedTempStorage s(Dir.File(""));
  std::vector<TzfBlockTmpNum> n;
  for (uint32_t i = 0; i < 30; ++i) n.push_back(s.WriteBlock(Blocks.Fill(S::zfbs4M, i), S::zfbs4M));
  EXPECT_EQ(30, s.ChunkCount());
  EXPECT_EQ(2, s.InfoBlockCount());
  EXPECT_EQ(29u * 1024, n[29]);
  s.ReadBlock(n[29], S::zfbs4M, Out.Data());
  EXPECT_TRUE(Blocks.Holds(S::zfbs4M, 29, Out.Data()));
  EXPECT_EQ(29, s.ChunkCount());
  EXPECT_EQ(1, s.InfoBlockCount());
  // Empty chunks in the middle are dropped only once every chunk behind them is empty too.
  for (uint32_t i = 0; i < 28; ++i) s.ReleaseBlock(n[i], S::zfbs4M);
  EXPECT_EQ(29, s.ChunkCount());
  s.ReleaseBlock(n[28], S::zfbs4M);
  EXPECT_EQ(0, s.ChunkCount());
  EXPECT_EQ(0, FileLength(s));
  EXPECT_EQ(0, s.StorageInUse());
  s.CheckConsistency();
}

TEST_F(ChunkedTempStorageTest, FileIsPrivateAndGoneWhileOpen) {
  std::string name;
  {
    TzfChunkedTempStorage s(Dir.File(""));
    name = s.FileName();
    EXPECT_EQ(0u, name.find(Dir.FilePath("ZofrinDB_TemporaryStorage_" + std::to_string(::getpid()) + "_")));
    EXPECT_EQ(".tmp", name.substr(name.size() - 4));
    struct stat st {};
    ASSERT_EQ(0, ::fstat(s.FileHandle(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    EXPECT_FALSE(std::filesystem::exists(name));  // unlinked at once: nothing to remove later
    TzfChunkedTempStorage other(Dir.File(""));
    EXPECT_NE(name, other.FileName());
  }
  EXPECT_TRUE(std::filesystem::is_empty(Dir.Path));
  // A folder that cannot hold the file is the OS error of the store.
  const rtl::UnicodeString outcome = StorageOutcome([&] { TzfChunkedTempStorage s(Dir.File("missing/")); });
  EXPECT_NE(rtl::UnicodeString::npos, outcome.find(u"Temporary Storage Manager")) << rtl::u8(outcome);
}

TEST_F(ChunkedTempStorageTest, StartupInstallsTheClass) {
  EXPECT_EQ(&TzfChunkedTempStorage::ClassInfo(), zfTempStorageClass);
}

// ---- the block cache over the swap file ----

class SpillTest : public TCacheTest {};

TEST_F(SpillTest, CopiesBeyondTheBudgetSpillAndReadBackExactly) {
  TMemFile* a = NewFile();
  std::vector<TzfBlockNumber> n;
  {
    TTestTrans t(BM.get());
    n = Allocate(a, &t, 600, 0x01);
    t.Commit();
  }
  BM->ApplyTempStoreSize(64);
  EXPECT_EQ(u"TzfChunkedTempStorage", rtl::UnicodeString(BM->bmTempStore->ClassName()));
  BM->ApplyMaxRAM(1);  // 256 pages: less than the 600 copies of the transaction
  TTestTrans t(BM.get());
  for (size_t i = 0; i < n.size(); ++i) Poke(a, &t, n[i], uint8_t(i * 3 + 1));
  BM->bmRemoveExcessBlocks(true, true);
  EXPECT_GT(BM->bmTempStore->StorageInUse(), 0) << "copies beyond the budget were swapped out";
  EXPECT_GT(BM->TempStoreSizeMB(), 0);
  for (int pass = 0; pass < 2; ++pass)
    for (size_t i = 0; i < n.size(); ++i) {
      TzfReleaseMethod rm;
      PzfBlock p = BM->GetBlock(a, &t, n[i], false, rm);
      bool exact = true;
      for (uint32_t o = 16; o < a->fiBlockSizeBytes; ++o) exact = exact && p[o] == uint8_t(i * 3 + 1);
      rm(p);
      ASSERT_TRUE(exact) << i;
    }
  t.Commit();
  for (size_t i = 0; i < n.size(); ++i) ASSERT_EQ(a->DiskBlock(n[i])[16], uint8_t(i * 3 + 1)) << i;
  static_cast<TzfChunkedTempStorage*>(BM->bmTempStore)->CheckConsistency();
  // Size 0 puts the null store back.
  BM->ApplyTempStoreSize(0);
  EXPECT_EQ(u"TzfNullTempStorage", rtl::UnicodeString(BM->bmTempStore->ClassName()));
}

// Four writers, each changing every block of its own file in its own transaction under a budget
// smaller than all their copies: the copies spill and come back while the others work.
TEST_F(SpillTest, ConcurrentWritersSpillAndReadBackTheirOwnCopies) {
  std::vector<TMemFile*> files;
  std::vector<std::vector<TzfBlockNumber>> blocks;
  for (int f = 0; f < 4; ++f) {
    files.push_back(NewFile((u"/tmp/spill_" + rtl::IntToStr(f) + u".dvl7").c_str()));
    TTestTrans t(BM.get());
    blocks.push_back(Allocate(files.back(), &t, 200, 0x01));
    t.Commit();
  }
  BM->ApplyTempStoreSize(64);
  BM->ApplyMaxRAM(1);
  std::atomic<int> wrong{0};
  std::atomic<int> ready{0};
  std::atomic<int64_t> spilled{0};
  std::vector<std::thread> threads;
  for (int f = 0; f < 4; ++f)
    threads.emplace_back([&, f] {
      TTestTrans t(BM.get());
      for (int round = 0; round < 3; ++round) {
        const uint8_t v = uint8_t(16 * f + round + 2);
        for (TzfBlockNumber n : blocks[size_t(f)]) Poke(files[size_t(f)], &t, n, v);
        for (TzfBlockNumber n : blocks[size_t(f)])
          if (Peek(files[size_t(f)], &t, n) != v) ++wrong;
      }
      // Every writer holds its copies here: 800 copies against a budget of 256 pages.
      ++ready;
      while (ready.load() < 4) std::this_thread::yield();
      if (f == 0) {
        TzfBufferManagerLock lock(BM.get());
        BM->bmRemoveExcessBlocks(true, true);
        spilled = BM->bmTempStore->StorageInUse();
      }
      ++ready;
      while (ready.load() < 8) std::this_thread::yield();
      t.Rollback();
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(spilled.load(), 0);
  for (int f = 0; f < 4; ++f)
    for (TzfBlockNumber n : blocks[size_t(f)]) ASSERT_EQ(Peek(files[size_t(f)], nullptr, n), 0x01);
  static_cast<TzfChunkedTempStorage*>(BM->bmTempStore)->CheckConsistency();
}

}  // namespace
}  // namespace zf::test
