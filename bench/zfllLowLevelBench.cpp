// Timings of the low-level foundation routines: zfFastFillChar and zfFastMove beside the C
// library's memset and memmove at the size bands the routines care about, and push/pop pairs on
// the lock-free list head on one and on four threads. Prints one line per figure.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "foundation/zfllFastFillChar.h"
#include "foundation/zfllFastMove.h"
#include "foundation/zfllLockedFuncs.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double NsPerCall(int64_t aCalls, F&& aBody) {
  const auto t0 = Clock::now();
  for (int64_t i = 0; i < aCalls; ++i) aBody(i);
  const auto t1 = Clock::now();
  return std::chrono::duration<double, std::nano>(t1 - t0).count() / double(aCalls);
}

void FillAndMove() {
  std::vector<uint8_t> a(4 << 20), b(4 << 20);
  for (int32_t n : {16, 36, 64, 256, 2048, 65536, 1 << 20, 4 << 20}) {
    const int64_t calls = std::max<int64_t>(50, (int64_t(1) << 28) / (n + 64));
    volatile uint8_t sink = 0;
    // Each pair is measured twice in alternating order and the better figure kept, so clock
    // ramp-up and first touches do not favour the one measured second.
    double fast = 1e30, lib = 1e30, fmove = 1e30, lmove = 1e30;
    for (int round = 0; round < 2; ++round) {
      fast = std::min(fast, NsPerCall(calls, [&](int64_t i) { zf::zfFastFillChar(a.data(), n, uint8_t(i)); sink = a[0]; }));
      lib = std::min(lib, NsPerCall(calls, [&](int64_t i) { std::memset(a.data(), int(uint8_t(i)), size_t(n)); sink = a[0]; }));
      lmove = std::min(lmove, NsPerCall(calls, [&](int64_t) { std::memmove(b.data(), a.data(), size_t(n)); sink = b[0]; }));
      fmove = std::min(fmove, NsPerCall(calls, [&](int64_t) { zf::zfFastMove(a.data(), b.data(), n); sink = b[0]; }));
    }
    std::printf("fill %8d bytes: zfFastFillChar %10.1f ns   memset %10.1f ns\n", n, fast, lib);
    std::printf("move %8d bytes: zfFastMove     %10.1f ns   memmove %9.1f ns\n", n, fmove, lmove);
    (void)sink;
  }
}

void ListHead() {
  constexpr int kPerThread = 2000000;
  for (int threads : {1, 4}) {
    zf::TzfListHead head;
    zf::ListHeadInit(head);
    std::vector<zf::TzfListEntry> entries(size_t(threads) * 64);
    const auto t0 = Clock::now();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
      pool.emplace_back([&, t] {
        zf::TzfListEntry* mine = &entries[size_t(t) * 64];
        for (int i = 0; i < kPerThread; ++i) {
          zf::ListPush(head, mine);
          mine = zf::ListPop(head);  // any entry; each thread always holds exactly one
        }
      });
    for (auto& th : pool) th.join();
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / kPerThread;
    std::printf("lock-free list, %d thread(s): %.1f ns per push+pop pair (per thread)\n", threads, ns);
  }
}

}  // namespace

int main() {
  zf::zfllFastFillCharUnit().Initialize();
  zf::zfllFastMoveUnit().Initialize();
  const zf::TzfCpuDetection& d = zf::zfCpuDetection();
  std::printf("processors %u, class %d, L2 %u KB\n", d.ProcessorCount, int(d.Target), unsigned(d.First.L2CacheSize));
  FillAndMove();
  ListHead();
  zf::zfllFastMoveUnit().Finalize();
  zf::zfllFastFillCharUnit().Finalize();
  return 0;
}
