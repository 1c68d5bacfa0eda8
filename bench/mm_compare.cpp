// Memory-manager comparison: one workload per run, through the engine's allocation routines.
// Built with ZF_MM_BACKEND=engine they run on the engine manager; built with the system backend
// they run on the C library's malloc, which LD_PRELOAD can swap for another allocator.
//
//   mm_compare sweep | churn THREADS | realloc | aligned
//
// Prints one line: workload, threads, operations per second, peak RSS (KB), RSS after 3 s idle (KB).
// The machine may be shared: the script keeps the best speed of several runs.
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "foundation/zfllMemoryManager.h"

using namespace zf;

namespace {

using Clock = std::chrono::steady_clock;

long StatusKB(const char* aKey) {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long value = -1;
  size_t n = std::strlen(aKey);
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, aKey, n) == 0) value = std::atol(line + n);
  std::fclose(f);
  return value;
}

// Writes the whole allocation, as its user would.
inline void Touch(void* p, size_t n) { std::memset(p, 0x5A, n); }

// Every size class boundary of a typical small-object heap, allocated in batches and freed.
uint64_t Sweep() {
  static const size_t sizes[] = {8,    16,   24,   32,   48,   64,   96,   128,  160,  256,  384,  512,
                                 640,  768,  1024, 1280, 1536, 2048, 3072, 3840, 4096, 5000, 6528, 8192,
                                 9344, 12000, 16384, 21824, 32000};
  constexpr int kBatch = 2000;
  std::vector<void*> batch(kBatch);
  uint64_t ops = 0;
  for (int round = 0; round < 40; ++round) {
    for (size_t size : sizes) {
      for (int i = 0; i < kBatch; ++i) {
        batch[i] = zfGetMem(size);
        Touch(batch[i], size);
      }
      for (int i = kBatch - 1; i >= 0; i -= 2) zfFreeMem(batch[i]);
      for (int i = kBatch - 2; i >= 0; i -= 2) zfFreeMem(batch[i]);
      ops += 2 * kBatch;
    }
  }
  return ops;
}

// Each thread allocates batches of small objects and hands them to the next thread, which frees
// them: with more than one thread every free happens on another thread than its allocation.
// Thread t fills mailbox t+1 and empties its own mailbox t; while the next mailbox is still
// full it keeps emptying its own, so no thread waits on another that waits on it.
uint64_t Churn(int aThreads) {
  constexpr int kBatch = 256;
  const int rounds = 24000 / aThreads;
  struct alignas(64) Mailbox {
    std::atomic<void**> Slot{nullptr};
    std::atomic<bool> Done{false};  // its reader has finished: nothing will empty it any more
  };
  std::vector<Mailbox> boxes(aThreads);
  std::atomic<uint64_t> ops{0};
  std::vector<std::thread> threads;
  auto freeBatch = [](void** aBatch) {
    for (int i = 0; i < kBatch; ++i) zfFreeMem(aBatch[i]);
    zfFreeMem(aBatch);
  };
  for (int t = 0; t < aThreads; ++t)
    threads.emplace_back([&, t] {
      std::mt19937 rng(t + 1);
      uint64_t mine = 0;
      Mailbox& own = boxes[t];
      Mailbox& next = boxes[(t + 1) % aThreads];
      auto drain = [&] {
        if (void** theirs = own.Slot.exchange(nullptr)) {
          freeBatch(theirs);
          mine += kBatch + 1;
        }
      };
      for (int r = 0; r < rounds; ++r) {
        auto** batch = static_cast<void**>(zfGetMem(kBatch * sizeof(void*)));
        for (int i = 0; i < kBatch; ++i) {
          size_t size = 16 + (rng() % 480);
          batch[i] = zfGetMem(size);
          Touch(batch[i], size);
        }
        mine += kBatch + 1;
        drain();
        void** expected = nullptr;
        while (!next.Slot.compare_exchange_weak(expected, batch)) {
          expected = nullptr;
          if (next.Done.load()) {  // the reader has gone: this tail batch is freed here
            freeBatch(batch);
            mine += kBatch + 1;
            break;
          }
          drain();
          std::this_thread::yield();
        }
      }
      own.Done.store(true);
      drain();
      ops += mine;
    });
  for (auto& th : threads) th.join();
  for (auto& box : boxes)
    if (void** rest = box.Slot.exchange(nullptr)) freeBatch(rest);
  return ops.load();
}

// A buffer grown by 4 KB steps to 32 MB, several times.
uint64_t Realloc() {
  uint64_t ops = 0;
  for (int round = 0; round < 6; ++round) {
    void* p = nullptr;
    size_t size = 0;
    while (size < (size_t(32) << 20)) {
      size += 4096;
      zfReallocMem(p, size);
      Touch(static_cast<uint8_t*>(p) + size - 4096, 4096);
      ++ops;
    }
    zfFreeMem(p);
    ++ops;
  }
  return ops;
}

// Blocks of 4 to 64 KB aligned to their size, as the buffer manager's cache takes them.
uint64_t Aligned() {
  constexpr int kBatch = 256;
  std::vector<void*> batch(kBatch);
  uint64_t ops = 0;
  for (int round = 0; round < 300; ++round) {
    auto size = static_cast<TzfBlockSizeAll>(round % 5);
    size_t bytes = zfBlockSizeBytes(size);
    for (int i = 0; i < kBatch; ++i) {
      batch[i] = zfBlockPoolAlloc(size);
      Touch(batch[i], bytes);
    }
    for (int i = 0; i < kBatch; ++i) zfBlockPoolDispose(size, batch[i]);
    ops += 2 * kBatch;
  }
  return ops;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s sweep | churn THREADS | realloc | aligned\n", argv[0]);
    return 2;
  }
  std::string workload = argv[1];
  int threads = argc > 2 ? std::atoi(argv[2]) : 1;
  if (threads < 1) threads = 1;
  auto start = Clock::now();
  uint64_t ops = 0;
  if (workload == "sweep") ops = Sweep();
  else if (workload == "churn") ops = Churn(threads);
  else if (workload == "realloc") ops = Realloc();
  else if (workload == "aligned") ops = Aligned();
  else {
    std::fprintf(stderr, "unknown workload %s\n", workload.c_str());
    return 2;
  }
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  long peak = StatusKB("VmHWM:");
  // MM_IDLE_SECONDS=0 skips the idle wait (the script's repeat runs only want the speed).
  const char* idleEnv = std::getenv("MM_IDLE_SECONDS");
  std::this_thread::sleep_for(std::chrono::seconds(idleEnv ? std::atoi(idleEnv) : 3));
  long idle = StatusKB("VmRSS:");
  std::printf("%s %d %.0f %ld %ld\n", workload.c_str(), threads, double(ops) / seconds, peak, idle);
  return 0;
}
