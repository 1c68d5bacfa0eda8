// The block cache beside plain pread/pwrite of the same file in the same run: blocks per second for
// cached reads, cache misses and dirty writes on 1 and 8 threads, and the peak RSS at a fixed RAM
// budget. Usage: zfsrBufferManagerBench [blocks] (default 16384 blocks of 4 KB).
//
// Cached reads: GetBlock of a cached block, one byte read, release; the pread peer reads the same
// block from the page cache. Misses: a 1 MB budget over the whole file, so nearly every GetBlock
// reads the disk; the peer is the same pread. Dirty writes: a transaction changes every block and
// commits (copies, write-out); the peer pwrites the same blocks. Spilled reads: a transaction's
// copies of every block under a 1 MB budget go to the chunked swap file and are read back through
// the transaction, next to the same reads with every copy in memory.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "dictionary/zfsdStartup.h"
#include "storage/zfsrBufferManager.h"
#include "storage/zfsrEncryptionEngineBase.h"
#include "storage/zfsrTransaction.h"
#include "storage/zfseHeaderAccess.h"
#include "storage/zfseTemporaryStorageChunked.h"
#include "tests/storage/zfsrCommitTrans.h"

using namespace zf;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kBlock = 4096;

// A table file on one descriptor: block reads and the write-out are pread/pwrite.
class TBenchFile : public TzfBaseFile {
 public:
  explicit TBenchFile(int aFd) : FFd(aFd) {}
  static const TzfFileClass& Info() {
    static const TzfFileClass info{u"TBenchFile", nullptr};
    return info;
  }
  const TzfFileClass& ClassType() const override { return Info(); }
  void CloseFile() override {}
  bool FileIsOpen() override { return true; }
  void PrepareFlushFile() override {}
  void FlushFile(bool, TzfBaseReplicationLog*) override {
    for (TzfBaseCachedBlock* b : FQueue) {
      PzfBlock p = b->MappedMemory(true);
      if (pwrite(FFd, p, kBlock, off_t(b->CachedBlockNumber()) * kBlock) != ssize_t(kBlock)) throw EzfBaseException(9218u);
      b->CountWritten();
      b->SetUnwritten(false);
    }
    FQueue.clear();
  }
  void OpenFile(TzfOpenMode, TzfShareMode, bool, bool) override {}
  int64_t PositionFileEOF() override { return FileSize(); }
  int64_t FileSize() override { return lseek(FFd, 0, SEEK_END); }
  uint32_t ReadFile(uint32_t, void*) override { return 0; }
  void ReadFileExact(uint32_t, void*) override {}
  uint32_t ReadFileAt(int64_t aOffset, uint32_t aToRead, void* aBuffer) override {
    ssize_t n = pread(FFd, aBuffer, aToRead, off_t(aOffset));
    return n < 0 ? 0 : uint32_t(n);
  }
  void ReadFileExactAt(int64_t aOffset, uint32_t aToRead, void* aBuffer) override {
    if (ReadFileAt(aOffset, aToRead, aBuffer) != aToRead) throw EzfBaseException(9217u);
  }
  void WriteFileExact(uint32_t, const void*) override {}
  void WriteFileExactAt(int64_t aOffset, uint32_t aToWrite, const void* aBuffer) override {
    if (pwrite(FFd, aBuffer, aToWrite, off_t(aOffset)) != ssize_t(aToWrite)) throw EzfBaseException(9218u);
  }
  int64_t CalcMaxFileSize() override { return int64_t(1) << 40; }
  void ReadDecryptFileExactAt(int64_t o, uint32_t n, uint8_t* b, TzfByteDynArray& c) override {
    c.clear();
    ReadFileExactAt(o, n, b);
  }
  void WriteEncryptFileExactAt(int64_t o, uint32_t n, uint8_t* b, TzfByteDynArray&) override { WriteFileExactAt(o, n, b); }
  void ReadBlock(TzfBaseCachedBlock& aBlock) override {
    ReadFileExactAt(int64_t(aBlock.CachedBlockNumber()) * kBlock, kBlock, aBlock.MappedMemory(false));
    aBlock.CountRead();
  }
  void WriteBlock(TzfBaseCachedBlock& aBlock) override {
    aBlock.SetUnwritten(true);
    FQueue.push_back(&aBlock);
  }
  void RollbackUnwritten() override {
    for (TzfBaseCachedBlock* b : FQueue) b->RollbackUnwritten();
    FQueue.clear();
  }

 private:
  int FFd;
  std::vector<TzfBaseCachedBlock*> FQueue;
};

using TBenchTrans = zf::test::TCommitTrans;

// Runs aWork(thread, operations) on aThreads threads and answers operations per second in all.
template <class F>
double Rate(int aThreads, uint64_t aOpsPerThread, F aWork) {
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < aThreads; ++t)
    threads.emplace_back([&, t] {
      ++ready;
      while (!go.load()) std::this_thread::yield();
      aWork(t, aOpsPerThread);
    });
  while (ready.load() < aThreads) std::this_thread::yield();
  const auto start = Clock::now();
  go = true;
  for (auto& th : threads) th.join();
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  return double(aOpsPerThread) * aThreads / s;
}

long PeakRssKB() {
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t blocks = argc > 1 ? uint32_t(std::max(64L, std::atol(argv[1]))) : 16384;
  zfStartDictionary();
  zfsrEncryptionEngineBaseUnit().Initialize();
  zfseHeaderAccessUnit().Initialize();
  zfsrBufferManagerUnit().Initialize();

  char path[] = "/tmp/zfsrBufferManagerBenchXXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return 1;
  unlink(path);

  TzfBufferManager bm(u"/tmp");
  TBenchFile file(fd);
  file.fiName = u"/tmp/bench.dvl7";
  file.fiPath = u"/tmp/";
  file.fiBufMgr = &bm;
  file.fiZofrinVersion = 30900;
  file.fiMaxBlocks = 0xFFFFFFFFu;
  bm.ApplyMaxRAM(16);
  // The file: block 0 through the cache, blocks 1..n-1 written directly, each carrying its number
  // and owner 1 (so the cache holds nothing of them before the measurements).
  {
    TBenchTrans t(&bm);
    if (file.AddHeader(&t, {}, zfHeaderSignature2) != 0) return 1;
    TzfReleaseMethod rm;
    PzfBlock h = bm.GetBlock(&file, &t, 0, true, rm);
    zfPutLE32(h + 32, blocks);
    rm(h);
    t.Commit();
    std::vector<uint8_t> b(kBlock, 0);
    for (uint32_t n = 1; n < blocks; ++n) {
      std::memcpy(b.data(), "BNCH", 4);
      zfPutLE32(b.data() + 4, n);
      std::memset(b.data() + 16, int(n & 0xFF), file.fiBlockSizeBytes - 16);
      zfPutLE32(b.data() + file.fiBlockSizeBytes, 1);
      if (pwrite(fd, b.data(), kBlock, off_t(n) * kBlock) != ssize_t(kBlock)) return 1;
    }
  }
  bm.RemoveFile(&file);
  {
    bool ro = false;
    TzfReleaseMethod rm;
    PzfBlock b0 = nullptr;
    if (bm.AddFile(&file, nullptr, {}, false, rm, b0, ro) != 0) return 1;
    rm(b0);
  }

  const uint64_t ops = std::max<uint64_t>(200000, uint64_t(blocks) * 20);
  auto numbers = [&](int aThread) {
    std::vector<uint32_t> v(4096);
    std::mt19937 rng(uint32_t(aThread) * 7919u + 1);
    for (auto& x : v) x = 1 + rng() % (blocks - 1);
    return v;
  };
  auto preadWork = [&](int t, uint64_t n) {
    auto nums = numbers(t);
    alignas(4096) static thread_local uint8_t buf[kBlock];
    uint64_t sum = 0;
    for (uint64_t i = 0; i < n; ++i) {
      if (pread(fd, buf, kBlock, off_t(nums[i & 4095]) * kBlock) != ssize_t(kBlock)) std::abort();
      sum += buf[16];
    }
    if (sum == 42) std::puts("");
  };
  auto cacheWork = [&](int t, uint64_t n) {
    auto nums = numbers(t);
    uint64_t sum = 0;
    for (uint64_t i = 0; i < n; ++i) {
      TzfReleaseMethod rm;
      PzfBlock p = bm.GetBlock(&file, nullptr, nums[i & 4095], false, rm);
      sum += p[16];
      rm(p);
    }
    if (sum == 42) std::puts("");
  };

  // Misses first, at a fixed budget of 16 MB (the peak RSS is read right after).
  bm.ApplyMaxRAM(1);
  const double missOps = double(ops) / 4;
  const double miss1 = Rate(1, uint64_t(missOps), cacheWork);
  const double preadM1 = Rate(1, uint64_t(missOps), preadWork);
  const double miss8 = Rate(8, uint64_t(missOps) / 8, cacheWork);
  const double preadM8 = Rate(8, uint64_t(missOps) / 8, preadWork);
  bm.ApplyMaxRAM(16);
  Rate(1, ops / 4, cacheWork);
  const long rss16 = PeakRssKB();

  // Cached reads: every block cached.
  bm.ApplyMaxRAM(1536);
  for (uint32_t n = 1; n < blocks; ++n) {
    TzfReleaseMethod rm;
    PzfBlock p = bm.GetBlock(&file, nullptr, n, false, rm);
    rm(p);
  }
  const double hit1 = Rate(1, ops, cacheWork);
  const double pread1 = Rate(1, ops / 4, preadWork);
  const double hit8 = Rate(8, ops / 8 * 4, cacheWork);
  const double pread8 = Rate(8, ops / 8, preadWork);

  // Dirty writes: every block changed in one transaction and committed (with its write-out).
  const auto w0 = Clock::now();
  {
    TBenchTrans t(&bm);
    for (uint32_t n = 1; n < blocks; ++n) {
      TzfReleaseMethod rm;
      PzfBlock p = bm.GetBlock(&file, &t, n, true, rm);
      p[16] ^= 1;
      rm(p);
    }
    t.Commit();
  }
  const double dirty = double(blocks - 1) / std::chrono::duration<double>(Clock::now() - w0).count();
  std::vector<uint8_t> buf(kBlock, 1);
  const auto p0 = Clock::now();
  for (uint32_t n = 1; n < blocks; ++n)
    if (pwrite(fd, buf.data(), kBlock, off_t(n) * kBlock) != ssize_t(kBlock)) return 1;
  const double pwr = double(blocks - 1) / std::chrono::duration<double>(Clock::now() - p0).count();

  // Spilled reads: the copies of a transaction that changed every block, read back through it.
  zfseTemporaryStorageChunkedUnit().Initialize();
  bm.ApplyTempStoreSize(64);
  int64_t spilledBytes = 0;
  auto copyReads = [&](int32_t aMaxRAM) {
    bm.ApplyMaxRAM(aMaxRAM);
    TBenchTrans t(&bm);
    for (uint32_t n = 1; n < blocks; ++n) {
      TzfReleaseMethod rm;
      PzfBlock p = bm.GetBlock(&file, &t, n, true, rm);
      p[17] ^= 1;
      rm(p);
    }
    bm.bmRemoveExcessBlocks(true, true);
    spilledBytes = bm.bmTempStore->StorageInUse();
    auto nums = numbers(0);
    const uint64_t n = ops / 8;
    uint64_t sum = 0;
    const auto r0 = Clock::now();
    for (uint64_t i = 0; i < n; ++i) {
      TzfReleaseMethod rm;
      PzfBlock p = bm.GetBlock(&file, &t, nums[i & 4095], false, rm);
      sum += p[17];
      rm(p);
    }
    const double rate = double(n) / std::chrono::duration<double>(Clock::now() - r0).count();
    if (sum == 42) std::puts("");
    t.Rollback();
    return rate;
  };
  const double copiesCached = copyReads(1536);
  const double copiesSpilled = copyReads(1);
  bm.ApplyTempStoreSize(0);
  zfseTemporaryStorageChunkedUnit().Finalize();

  std::vector<UnicodeString> captions, values;
  TzfBufferManager::GetStatsCaptions(captions);
  bm.GetStatsValues(values);
  for (size_t i = 0; i < captions.size(); ++i)
    std::printf("# %s: %s\n", rtl::u8(captions[i]).c_str(), rtl::u8(values[i]).c_str());
  bm.RemoveFile(&file);
  close(fd);

  std::printf("figure cached_read_1t %.0f blocks/s\n", hit1);
  std::printf("figure cached_read_8t %.0f blocks/s\n", hit8);
  std::printf("figure pread_page_cache_1t %.0f blocks/s\n", pread1);
  std::printf("figure pread_page_cache_8t %.0f blocks/s\n", pread8);
  std::printf("figure cache_miss_1t %.0f blocks/s\n", miss1);
  std::printf("figure cache_miss_8t %.0f blocks/s\n", miss8);
  std::printf("figure dirty_write_commit %.0f blocks/s\n", dirty);
  std::printf("figure pwrite %.0f blocks/s\n", pwr);
  std::printf("figure peak_rss_budget_16MB %.1f MB\n", double(rss16) / 1024);
  std::printf("figure copy_read_cached_1t %.0f blocks/s\n", copiesCached);
  std::printf("figure copy_read_spilled_1t %.0f blocks/s\n", copiesSpilled);
  std::printf("figure copies_spilled %.1f MB\n", double(spilledBytes) / 1048576);
  std::printf("ratio cached_read_vs_pread_1t %.2f\n", hit1 / pread1);
  std::printf("ratio cached_read_vs_pread_8t %.2f\n", hit8 / pread8);
  std::printf("ratio cache_miss_vs_pread_1t %.2f\n", miss1 / preadM1);
  std::printf("ratio cache_miss_vs_pread_8t %.2f\n", miss8 / preadM8);
  std::printf("ratio dirty_write_vs_pwrite %.2f\n", dirty / pwr);
  zfsrBufferManagerUnit().Finalize();
  zfseHeaderAccessUnit().Finalize();
  zfsrEncryptionEngineBaseUnit().Finalize();
  zfStopDictionary();
  return 0;
}
