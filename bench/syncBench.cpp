// Costs of the foundation's synchronisation primitives and memory streams, each beside the
// standard library's nearest equivalent on the same work.
#include <benchmark/benchmark.h>

#include <mutex>
#include <shared_mutex>
#include <vector>

#include "foundation/zfllStreams.h"
#include "foundation/zfllSync.h"
#include "foundation/zfllSyncPortal.h"

using namespace zf;

namespace {

struct Units {
  Units() {
    zfllMemoryManagerUnit().Initialize();
    zfllSyncUnit().Initialize();
    zfllSyncPortalUnit().Initialize();
  }
};
const Units gUnits;

void BM_PadlockUncontended(benchmark::State& state) {
  TzfPadlock lock(state.range(0) != 0);
  for (auto _ : state) {
    lock.Lock();
    lock.Unlock();
  }
}
BENCHMARK(BM_PadlockUncontended)->Arg(0)->Arg(1);

void BM_StdRecursiveMutexUncontended(benchmark::State& state) {
  std::recursive_mutex m;
  for (auto _ : state) {
    m.lock();
    m.unlock();
  }
}
BENCHMARK(BM_StdRecursiveMutexUncontended);

TzfPadlock gSharedPadlock(true);
int64_t gPadlockCounter = 0;
void BM_PadlockContended(benchmark::State& state) {
  for (auto _ : state) {
    gSharedPadlock.Lock();
    benchmark::DoNotOptimize(++gPadlockCounter);
    gSharedPadlock.Unlock();
  }
}
BENCHMARK(BM_PadlockContended)->Threads(1)->Threads(4);

TzfInternalReadWritePortal* gPortal = nullptr;
void BM_PortalRead(benchmark::State& state) {
  if (state.thread_index() == 0 && gPortal == nullptr) gPortal = new TzfInternalReadWritePortal();
  for (auto _ : state) {
    TzfInternalReadWritePortal* portal = __atomic_load_n(&gPortal, __ATOMIC_ACQUIRE);
    if (!portal) continue;
    portal->BeginRead();
    portal->EndRead();
  }
}
BENCHMARK(BM_PortalRead)->Threads(1)->Threads(4);

std::shared_mutex gSharedMutex;
void BM_StdSharedMutexRead(benchmark::State& state) {
  for (auto _ : state) {
    gSharedMutex.lock_shared();
    gSharedMutex.unlock_shared();
  }
}
BENCHMARK(BM_StdSharedMutexRead)->Threads(1)->Threads(4);

void BM_PortalWrite(benchmark::State& state) {
  TzfInternalReadWritePortal portal;
  for (auto _ : state) {
    portal.BeginWrite();
    portal.EndWrite();
  }
}
BENCHMARK(BM_PortalWrite);

void BM_ThreadSafeStackPushPop(benchmark::State& state) {
  TzfThreadSafeStack stack;
  for (auto _ : state) {
    stack.Push(&stack);
    benchmark::DoNotOptimize(stack.Pop());
  }
}
BENCHMARK(BM_ThreadSafeStackPushPop);

void BM_MutexVectorPushPop(benchmark::State& state) {
  std::mutex m;
  std::vector<void*> v;
  v.reserve(16);
  for (auto _ : state) {
    {
      std::lock_guard<std::mutex> g(m);
      v.push_back(&v);
    }
    std::lock_guard<std::mutex> g(m);
    benchmark::DoNotOptimize(v.back());
    v.pop_back();
  }
}
BENCHMARK(BM_MutexVectorPushPop);

void BM_PooledEventCreateDestroy(benchmark::State& state) {
  for (auto _ : state) {
    TzfEvent ev;
    benchmark::DoNotOptimize(ev.Handle());
  }
}
BENCHMARK(BM_PooledEventCreateDestroy);

void BM_UnpooledEventCreateClose(benchmark::State& state) {
  for (auto _ : state) {
    TzfEventHandle h = zfCreateEventHandle(false, false);
    benchmark::DoNotOptimize(h);
    zfCloseEventHandle(h);
  }
}
BENCHMARK(BM_UnpooledEventCreateClose);

// 16 MB written in chunks of the given size.
void BM_MemoryStreamWrite(benchmark::State& state) {
  std::vector<uint8_t> chunk(static_cast<size_t>(state.range(0)), 0x5A);
  const int64_t total = int64_t{16} << 20;
  for (auto _ : state) {
    TzfMemoryStream s;
    for (int64_t done = 0; done < total; done += state.range(0)) s.WriteBuffer(chunk.data(), state.range(0));
    benchmark::DoNotOptimize(s.Memory());
  }
  state.SetBytesProcessed(state.iterations() * total);
}
BENCHMARK(BM_MemoryStreamWrite)->Arg(64)->Arg(4096);

void BM_StdVectorAppend(benchmark::State& state) {
  std::vector<uint8_t> chunk(static_cast<size_t>(state.range(0)), 0x5A);
  const int64_t total = int64_t{16} << 20;
  for (auto _ : state) {
    std::vector<uint8_t> v;
    for (int64_t done = 0; done < total; done += state.range(0)) v.insert(v.end(), chunk.begin(), chunk.end());
    benchmark::DoNotOptimize(v.data());
  }
  state.SetBytesProcessed(state.iterations() * total);
}
BENCHMARK(BM_StdVectorAppend)->Arg(64)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
