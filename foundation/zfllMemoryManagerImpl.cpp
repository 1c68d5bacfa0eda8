#include "foundation/zfllMemoryManagerImpl.h"

#include <dlfcn.h>
#include <pthread.h>
#include <fenv.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "foundation/zfllLockedFuncs.h"
#include "foundation/zfmmBlockManager.h"
#include "foundation/zfmmChunkManager.h"
#include "foundation/zfmmItemManager.h"
#include "foundation/zfmmMemoryLow.h"
#include "platform/rtl/rtlException.h"

namespace zf::mm {

namespace {

constexpr const char* kUnit = "zfllMemoryManagerImpl";
// The client's pool handle (the item manager's pool class has the same name).
using TPoolHandle = zf::TzfMemoryPool;

// 0 stopped, 1 starting, 2 running, 3 stopping.
constinit std::atomic<int> gState{0};
constinit std::atomic<int32_t> gUsers{0};
constinit std::atomic<bool> gPermanentUser{false};
constinit bool gInitialized = false;
void* gZeroPage = nullptr;
constinit TzfMemoryHooks gHooks{};
bool gHooksActive = false;

// ---- the trimming thread's state (never destroyed while the thread can run) -----------------

struct TTrimmer {
  std::mutex Lock;
  std::condition_variable Wake;  // stop or trim request
  std::condition_variable Done;  // a full trim finished, or the thread left
  bool Stop = false;
  bool Requested = false;
  bool Exited = false;
  uint64_t Started = 0;  // full trims taken up
  uint64_t Finished = 0; // full trims completed
  fenv_t Fenv;
  std::thread Thread;
};
alignas(TTrimmer) unsigned char gTrimmerStorage[sizeof(TTrimmer)];
TTrimmer* gTrimmer = nullptr;
constinit std::atomic<bool> gThreadRunning{false};
constinit std::atomic<pthread_t> gTrimThread{0};

struct {
  std::atomic<uint64_t> Ticks{0}, ItemCleanups{0}, CommittedTrims{0}, PhysicalTrims{0}, ChunkReleases{0}, FullTrims{0};
} gCounters;

void ItemCleanup() {
  TzfMemoryPool::CleanupAll();
  gCounters.ItemCleanups.fetch_add(1, std::memory_order_relaxed);
}
void DoCommittedTrim() {
  TrimCommitted();
  gCounters.CommittedTrims.fetch_add(1, std::memory_order_relaxed);
}
void DoPhysicalTrim() {
  TrimPhysical();
  gCounters.PhysicalTrims.fetch_add(1, std::memory_order_relaxed);
}
void DoChunkRelease() {
  ReleaseCachedChunks();
  gCounters.ChunkReleases.fetch_add(1, std::memory_order_relaxed);
}

void TrimThread(TTrimmer* t) {
  fesetenv(&t->Fenv);
  gTrimThread.store(pthread_self());
  uint32_t step = 0;
  int errors = 0;
  std::unique_lock<std::mutex> lock(t->Lock);
  for (;;) {
    t->Wake.wait_for(lock, std::chrono::milliseconds(500), [t] { return t->Stop || t->Requested; });
    if (t->Stop) break;
    bool request = t->Requested;
    if (request) {
      t->Requested = false;
      ++t->Started;
    }
    lock.unlock();
    gCounters.Ticks.fetch_add(1, std::memory_order_relaxed);
    bool failed = false;
    try {
      ItemCleanup();
      if (request) {
        step = 0;
        for (int round = 0; round < 2; ++round) {
          ItemCleanup();
          DoCommittedTrim();
          DoPhysicalTrim();
          DoChunkRelease();
        }
        step = 0;
        gCounters.FullTrims.fetch_add(1, std::memory_order_relaxed);
      } else {
        switch (zfmmPeriodicAction(step, zfmmOSInfo.PhysicalMemory)) {
          case TzfTrimAction::TrimCommitted: DoCommittedTrim(); break;
          case TzfTrimAction::TrimPhysical: DoPhysicalTrim(); break;
          case TzfTrimAction::ReleaseChunks: DoChunkRelease(); break;
          case TzfTrimAction::None: break;
        }
      }
    } catch (...) {
      failed = true;
    }
    lock.lock();
    if (request) {
      t->Finished = t->Started;  // also when a step raised
      t->Done.notify_all();
    }
    if (failed && ++errors > 10) break;
  }
  t->Exited = true;
  t->Done.notify_all();
}

void StartTrimmingThread() {
  gTrimmer = new (gTrimmerStorage) TTrimmer();
  fegetenv(&gTrimmer->Fenv);
  gThreadRunning.store(true);
  gTrimmer->Thread = std::thread(TrimThread, gTrimmer);
}

void StopTrimmingThread() {
  if (!gThreadRunning.exchange(false)) return;
  TTrimmer* t = gTrimmer;
  {
    std::lock_guard<std::mutex> g(t->Lock);
    t->Stop = true;
  }
  t->Wake.notify_all();
  if (t->Thread.joinable()) t->Thread.join();
}

// ---- the plain table entries ----------------------------------------------------------------

bool EnsureStarted() {
  if (gState.load(std::memory_order_acquire) == 2) return true;
  if (!gPermanentUser.exchange(true)) zfmmAddRef();
  while (gState.load(std::memory_order_acquire) == 1) std::this_thread::yield();
  return gState.load(std::memory_order_acquire) == 2;
}

bool IsCommittedPool(TzfBlockPool aPool) {
  for (int k = 0; k < kzfBlockClassCount; ++k)
    if (aPool == zfmmCommittedClass(k)) return true;
  return false;
}
bool IsPhysicalPool(TzfBlockPool aPool) {
  for (int k = 0; k < kzfBlockClassCount; ++k)
    if (aPool == zfmmPhysicalClass(k)) return true;
  return false;
}

void* PGetMem(size_t aSize) {
  if (gState.load(std::memory_order_acquire) != 2 && !EnsureStarted()) return nullptr;
  return ItemGetMem(aSize);
}
int32_t PFreeMem(void* P) {
  if (gState.load(std::memory_order_acquire) != 2) return 1;
  return ItemFreeMem(P);
}
void* PReallocMem(void* P, size_t aSize) {
  if (gState.load(std::memory_order_acquire) != 2) rtl::RaiseInvalidPointer();
  return ItemReallocMem(P, aSize);
}
TPoolHandle PGetPool(uint32_t aItemSize) { return TPoolHandle(uintptr_t(aItemSize) + 500); }
size_t PGetAllocSize(void*) { return 0; }
void PGetHeapStatus(TzfHeapStatus& aStatus) {
  if (gState.load(std::memory_order_acquire) == 2) ItemGetHeapStatus(aStatus);
  else aStatus = TzfHeapStatus{};
}
void* PBlockCommittedAlloc(TzfBlockPool aPool) {
  if (!EnsureStarted() || !IsCommittedPool(aPool)) return nullptr;
  return BlockPoolAlloc(const_cast<TzfBlockClass*>(static_cast<const TzfBlockClass*>(aPool)));
}
bool PBlockCommittedDispose(TzfBlockPool aPool, void* aBlock) {
  if (gState.load(std::memory_order_acquire) != 2 || !IsCommittedPool(aPool)) return false;
  return BlockPoolDispose(const_cast<TzfBlockClass*>(static_cast<const TzfBlockClass*>(aPool)), aBlock);
}
void* PBlockPhysicalAlloc(TzfBlockPool aPool) {
  if (!EnsureStarted() || !IsPhysicalPool(aPool)) return nullptr;
  return BlockPoolAlloc(const_cast<TzfBlockClass*>(static_cast<const TzfBlockClass*>(aPool)));
}
bool PBlockPhysicalDispose(TzfBlockPool aPool, void* aBlock) {
  if (gState.load(std::memory_order_acquire) != 2 || !IsPhysicalPool(aPool)) return false;
  return BlockPoolDispose(const_cast<TzfBlockClass*>(static_cast<const TzfBlockClass*>(aPool)), aBlock);
}
void* PPoolAlloc(TPoolHandle aPool) { return PGetMem(aPool.Handle()); }
int32_t PPoolDispose(TPoolHandle, void* P) { return PFreeMem(P); }
void* PMapableAlloc(uint8_t aBlockSize) { return EnsureStarted() ? BlockPoolAllocByIndex(aBlockSize) : nullptr; }
bool PMapableFree(TzfMapableBlockHandle aHandle) {
  if (gState.load(std::memory_order_acquire) != 2 || (aHandle & 4095)) return false;
  TzfBlockClass* k = zfmmOwnerClassOf(reinterpret_cast<void*>(aHandle));
  return k && !k->Physical && BlockPoolDispose(k, reinterpret_cast<void*>(aHandle));
}
void* PMapableMap(TzfMapableBlockHandle aHandle) { return reinterpret_cast<void*>(aHandle); }
bool PMapableUnmap(TzfMapableBlockHandle aHandle, void* aAddress) {
  return aHandle != 0 && reinterpret_cast<void*>(aHandle) == aAddress;
}
int32_t PRelease() { return zfmmRelease(); }
bool PIsMemoryLow() {
  return __atomic_load_n(&zfmmSpentCommitted.lhFirst, __ATOMIC_ACQUIRE) != nullptr ||
         __atomic_load_n(&zfmmSpentPhysical.lhFirst, __ATOMIC_ACQUIRE) != nullptr || zfmmIsSystemMemoryLow();
}

// ---- the hooked forms -----------------------------------------------------------------------

void* HGetMem(size_t aSize) {
  gHooks.BeforeGetMem(&aSize);
  void* r = PGetMem(aSize);
  gHooks.AfterGetMem(aSize, &r);
  return r;
}
int32_t HFreeMem(void* P) {
  gHooks.BeforeFreeMem(&P);
  return PFreeMem(P);
}
void* HReallocMem(void* P, size_t aSize) {
  gHooks.BeforeReallocMem(&P, &aSize);
  void* r = PReallocMem(P, aSize);
  gHooks.AfterReallocMem(aSize, &r);
  return r;
}
TPoolHandle HGetPool(uint32_t aItemSize) {
  gHooks.BeforeGetPool(&aItemSize);
  return PGetPool(aItemSize);
}
size_t HGetAllocSize(void* P) {
  gHooks.BeforeGetAllocSize(&P);
  size_t r = PGetAllocSize(P);
  gHooks.AfterGetAllocSize(P, &r);
  return r;
}
void* HBlockCommittedAlloc(TzfBlockPool aPool) {
  void* r = PBlockCommittedAlloc(aPool);
  gHooks.AfterBlockPoolCommittedAlloc(r);
  return r;
}
bool HBlockCommittedDispose(TzfBlockPool aPool, void* aBlock) {
  if (aBlock) gHooks.BeforeBlockPoolCommittedDispose(aBlock);
  return PBlockCommittedDispose(aPool, aBlock);
}
void* HBlockPhysicalAlloc(TzfBlockPool aPool) {
  void* r = PBlockPhysicalAlloc(aPool);
  gHooks.AfterBlockPoolPhysicalAlloc(r);
  return r;
}
bool HBlockPhysicalDispose(TzfBlockPool aPool, void* aBlock) {
  if (aBlock) gHooks.BeforeBlockPoolPhysicalDispose(aBlock);
  return PBlockPhysicalDispose(aPool, aBlock);
}
void* HPoolAlloc(TPoolHandle aPool) {
  void* r = PPoolAlloc(aPool);
  gHooks.AfterMemoryPoolAlloc(aPool.Handle(), &r);
  return r;
}
int32_t HPoolDispose(TPoolHandle aPool, void* P) {
  if (P) gHooks.BeforeMemoryPoolDispose(&P);
  return PPoolDispose(aPool, P);
}

constinit TzfMemoryManagerFunctions gEngineFunctions = {
    PGetMem, PFreeMem, PReallocMem, PGetPool, PGetAllocSize, PGetHeapStatus,
    {}, nullptr, {},
    PBlockCommittedAlloc, PBlockCommittedDispose, PBlockPhysicalAlloc, PBlockPhysicalDispose,
    PPoolAlloc, PPoolDispose,
    0,
    PMapableAlloc, PMapableFree, PMapableMap, PMapableUnmap,
    zfmmAddRef, PRelease,
    nullptr, nullptr,
    zfmmTrimMemory,
    nullptr, nullptr,
    PIsMemoryLow,
    &zfmmZeroOnFree,
};

void SetEntries(bool aHooked) {
  auto& f = gEngineFunctions;
  f.GetMem = aHooked ? HGetMem : PGetMem;
  f.FreeMem = aHooked ? HFreeMem : PFreeMem;
  f.ReallocMem = aHooked ? HReallocMem : PReallocMem;
  f.GetPool = aHooked ? HGetPool : PGetPool;
  f.GetAllocSize = aHooked ? HGetAllocSize : PGetAllocSize;
  f.BlockPoolCommittedAlloc = aHooked ? HBlockCommittedAlloc : PBlockCommittedAlloc;
  f.BlockPoolCommittedDispose = aHooked ? HBlockCommittedDispose : PBlockCommittedDispose;
  f.BlockPoolPhysicalAlloc = aHooked ? HBlockPhysicalAlloc : PBlockPhysicalAlloc;
  f.BlockPoolPhysicalDispose = aHooked ? HBlockPhysicalDispose : PBlockPhysicalDispose;
  f.MemoryPoolAlloc = aHooked ? HPoolAlloc : PPoolAlloc;
  f.MemoryPoolDispose = aHooked ? HPoolDispose : PPoolDispose;
}

void Startup() {
  zfllLockedFuncsUnit().Initialize();
  ZF_ASSERT(!gInitialized, kUnit);
  gInitialized = true;
  if (!zfmmItemManagerStart()) {
    gInitialized = false;
    zfllLockedFuncsUnit().Finalize();
    gState.store(0, std::memory_order_release);
    return;
  }
  void* lib = zfmmFindHookLibrary();
  TzfMemoryHooks hooks{};
  gHooksActive = lib && zfmmResolveHooks(lib, hooks);
  if (gHooksActive) gHooks = hooks;
  SetEntries(gHooksActive);
  auto& f = gEngineFunctions;
  f.PhysicalAvailable = zfmmOSInfo.PhysicalMemory ? 0xFFFFFFFFu : 0;
  for (int k = 0; k < kzfBlockClassCount; ++k) {
    f.CommittedBlockPools[k] = zfmmCommittedClass(k);
    f.PhysicalBlockPools[k] = zfmmPhysicalClass(k);
  }
  void* zero = ::mmap(nullptr, 65536, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  gZeroPage = zero == MAP_FAILED ? nullptr : zero;
  f.ZeroPage = gZeroPage;
  f.SpentCommittedReserve = &zfmmSpentCommitted;
  f.SpentPhysicalReserve = &zfmmSpentPhysical;
  f.ZeroOnFreeFlag = &zfmmZeroOnFree;
  zfmmLastResortHook = zfmmTrimMemory;
  gState.store(2, std::memory_order_release);
  // Last, once allocations are served: creating the thread allocates.
  StartTrimmingThread();
}

void Shutdown() {
  ZF_ASSERT(gInitialized, kUnit);
  gInitialized = false;
  StopTrimmingThread();  // joined before anything it touches is finalised
  gState.store(3, std::memory_order_release);
  if (gTrimmer) {
    gTrimmer->~TTrimmer();
    gTrimmer = nullptr;
  }
  zfmmLastResortHook = [] {};
  if (gZeroPage) ::munmap(gZeroPage, 65536);
  gZeroPage = nullptr;
  gEngineFunctions.ZeroPage = nullptr;
  zfmmItemManagerStop();
  gHooksActive = false;
  SetEntries(false);
  gState.store(0, std::memory_order_release);
  zfllLockedFuncsUnit().Finalize();
}

}  // namespace

TzfMemoryManagerFunctions& zfmmEngineFunctions() { return gEngineFunctions; }

void zfmmAddRef() {
  if (gUsers.fetch_add(1, std::memory_order_acq_rel) == 0) {
    int expected = 0;
    if (gState.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
      Startup();
      return;
    }
  }
  while (gState.load(std::memory_order_acquire) == 1) std::this_thread::yield();
}

int32_t zfmmRelease() {
  int32_t left = gUsers.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0 && gState.load(std::memory_order_acquire) == 2) Shutdown();
  if (left < 0) gUsers.store(0);
  return left < 0 ? 0 : left;
}

bool zfmmStarted() { return gState.load(std::memory_order_acquire) == 2; }
int32_t zfmmUsers() { return gUsers.load(std::memory_order_acquire); }

void zfmmStopTrimmingThread() { StopTrimmingThread(); }
bool zfmmTrimmingThreadRunning() { return gThreadRunning.load(); }

void zfmmTrimMemory() {
  if (zfmmStarted()) zfmmFlushThreadCache();
  TTrimmer* t = gTrimmer;
  if (!t || !gThreadRunning.load() || pthread_equal(pthread_self(), gTrimThread.load())) return;
  std::unique_lock<std::mutex> lock(t->Lock);
  if (t->Exited) return;
  uint64_t target = t->Started + 1;  // the next full trim to start after this request
  t->Requested = true;
  t->Wake.notify_all();
  t->Done.wait_for(lock, std::chrono::milliseconds(10000), [t, target] { return t->Finished >= target || t->Exited; });
}

TzfTrimCounters zfmmTrimCounters() {
  return {gCounters.Ticks.load(), gCounters.ItemCleanups.load(), gCounters.CommittedTrims.load(),
          gCounters.PhysicalTrims.load(), gCounters.ChunkReleases.load(), gCounters.FullTrims.load()};
}

TzfTrimAction zfmmPeriodicAction(uint32_t& aStep, bool aPhysicalMemory) {
  TzfTrimAction action = TzfTrimAction::None;
  switch (aStep) {
    case 1: case 3: action = TzfTrimAction::TrimCommitted; break;
    case 2: case 4: action = TzfTrimAction::TrimPhysical; break;
    case 5:
      action = TzfTrimAction::ReleaseChunks;
      if (!aPhysicalMemory) aStep = 0;
      break;
    default: break;
  }
  ++aStep;
  return action;
}

// ---- instrumentation library ----------------------------------------------------------------

bool zfmmResolveHooks(void* aLibrary, TzfMemoryHooks& aHooks) {
  if (!aLibrary) return false;
  TzfMemoryHooks h{};
  struct Entry {
    const char* Name;
    void** Slot;
  } entries[] = {
      {"BeforeGetMem", reinterpret_cast<void**>(&h.BeforeGetMem)},
      {"AfterGetMem", reinterpret_cast<void**>(&h.AfterGetMem)},
      {"BeforeFreeMem", reinterpret_cast<void**>(&h.BeforeFreeMem)},
      {"BeforeReallocMem", reinterpret_cast<void**>(&h.BeforeReallocMem)},
      {"AfterReallocMem", reinterpret_cast<void**>(&h.AfterReallocMem)},
      {"BeforeGetAllocSize", reinterpret_cast<void**>(&h.BeforeGetAllocSize)},
      {"AfterGetAllocSize", reinterpret_cast<void**>(&h.AfterGetAllocSize)},
      {"AfterBlockPoolCommittedAlloc", reinterpret_cast<void**>(&h.AfterBlockPoolCommittedAlloc)},
      {"BeforeBlockPoolCommittedDispose", reinterpret_cast<void**>(&h.BeforeBlockPoolCommittedDispose)},
      {"AfterBlockPoolCommittedLargeAlloc", reinterpret_cast<void**>(&h.AfterBlockPoolCommittedLargeAlloc)},
      {"BeforeBlockPoolCommittedLargeDispose", reinterpret_cast<void**>(&h.BeforeBlockPoolCommittedLargeDispose)},
      {"AfterBlockPoolPhysicalAlloc", reinterpret_cast<void**>(&h.AfterBlockPoolPhysicalAlloc)},
      {"BeforeBlockPoolPhysicalDispose", reinterpret_cast<void**>(&h.BeforeBlockPoolPhysicalDispose)},
      {"BeforeGetPool", reinterpret_cast<void**>(&h.BeforeGetPool)},
      {"AfterMemoryPoolAlloc", reinterpret_cast<void**>(&h.AfterMemoryPoolAlloc)},
      {"BeforeMemoryPoolDispose", reinterpret_cast<void**>(&h.BeforeMemoryPoolDispose)},
  };
  static_assert(sizeof(entries) / sizeof(entries[0]) == 16);
  for (auto& e : entries) {
    *e.Slot = ::dlsym(aLibrary, e.Name);
    if (!*e.Slot) return false;
  }
  aHooks = h;
  return true;
}

bool zfmmHookPathBeside(const char* aModulePath, char* aOut, size_t aOutSize) {
  static const char kSuffix[] = "_ZofrinMM5Hook.so";
  if (!aModulePath) return false;
  const char* slash = std::strrchr(aModulePath, '/');
  const char* name = slash ? slash + 1 : aModulePath;
  const char* dot = std::strrchr(name, '.');
  if (!dot) return false;  // only a "." of the file name counts, not one of a directory
  size_t keep = size_t(dot - aModulePath);
  if (keep + sizeof kSuffix > aOutSize) return false;
  std::memcpy(aOut, aModulePath, keep);
  std::memcpy(aOut + keep, kSuffix, sizeof kSuffix);
  return true;
}

void* zfmmFindHookLibrary() {
  if (void* h = ::dlopen("ZofrinMM5Hook", RTLD_NOW | RTLD_NOLOAD)) return h;
  char exe[4096];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    exe[n] = 0;
    char path[4096];
    if (zfmmHookPathBeside(exe, path, sizeof path) && ::access(path, R_OK) == 0) {
      if (void* h = ::dlopen(path, RTLD_NOW | RTLD_LOCAL)) return h;
    }
  }
  const char* env = std::getenv("ZofrinMM5Hook");
  if (env && *env && std::strlen(env) < 4096) {
    if (void* h = ::dlopen(env, RTLD_NOW | RTLD_LOCAL)) return h;
  }
  return nullptr;
}

bool zfmmHooksActive() { return gHooksActive; }

}  // namespace zf::mm
