// The allocation interface as every caller sees it, whichever backend the build uses.
#include "foundation/zfllMemoryManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "foundation/zfmmMemoryLow.h"
#include "platform/rtl/rtlException.h"

// Huge requests must come back as nullptr (and raise EOutOfMemory) under the sanitizers too, whose
// allocators otherwise end the process. Each sanitizer reads only its own hook.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }

namespace zf {
namespace {

TEST(MemoryManager, ZeroSizesAndNilAreNoOps) {
  EXPECT_EQ(zfGetMem(0), nullptr);
  EXPECT_EQ(zfAllocMem(0), nullptr);
  void* p = reinterpret_cast<void*>(1);
  zfGetMem(p, 0);
  EXPECT_EQ(p, nullptr);
  zfFreeMem(nullptr);
  zfReallocMem(p, 0);  // nil and 0: nothing
  EXPECT_EQ(p, nullptr);
}

TEST(MemoryManager, AllocMemIsZeroFilledAndReallocKeepsContent) {
  // Sizes on both sides of the item/large boundary and far beyond it.
  for (size_t size : {size_t(1), size_t(100), size_t(32735), size_t(32736), size_t(1) << 20}) {
    auto* p = static_cast<uint8_t*>(zfAllocMem(size));
    for (size_t i = 0; i < size; ++i) ASSERT_EQ(p[i], 0) << size;
    for (size_t i = 0; i < size; ++i) p[i] = uint8_t(i * 7);
    zfReallocMem(p, size * 3);
    for (size_t i = 0; i < size; ++i) ASSERT_EQ(p[i], uint8_t(i * 7)) << size;
    zfReallocMem(p, size / 2 + 1);
    for (size_t i = 0; i < size / 2 + 1; ++i) ASSERT_EQ(p[i], uint8_t(i * 7)) << size;
    zfReallocMem(p, 0);
    EXPECT_EQ(p, nullptr);
  }
  void* q = nullptr;
  zfReallocMem(q, 40);  // nil: allocates
  ASSERT_NE(q, nullptr);
  zfFreeMemAndNil(q);
  EXPECT_EQ(q, nullptr);
}

TEST(MemoryManager, HugeRequestRaisesOutOfMemoryAndLeavesPointer) {
  EXPECT_THROW(zfGetMem(SIZE_MAX - 4096), rtl::EOutOfMemory);
  void* p = zfGetMem(64);
  void* keep = p;
  EXPECT_THROW(zfReallocMem(p, SIZE_MAX - 4096), rtl::EOutOfMemory);
  EXPECT_EQ(p, keep);
  zfFreeMem(p);
}

TEST(MemoryManager, InvalidPointerIsReportedAndTheVariableClearedAnyway) {
  if (!ZF_MM_ENGINE) GTEST_SKIP() << "the C library cannot tell a foreign pointer";
  alignas(16) static char notOurs[64];
  void* p = notOurs + 16;
  EXPECT_THROW(zfFreeMemAndNil(p), rtl::EInvalidPointer);
  EXPECT_EQ(p, nullptr);
  void* item = zfGetMem(24);
  zfFreeMem(item);
  EXPECT_THROW(zfFreeMem(item), rtl::EInvalidPointer) << "double free";
  TzfMemoryPool pool = zfGetPool(40);
  void* q = notOurs;
  EXPECT_THROW(pool.Dispose(q), rtl::EInvalidPointer);
  EXPECT_EQ(q, nullptr);
}

TEST(MemoryManager, PoolHandleGivesItemSizePlus500) {
  TzfMemoryPool pool = zfGetPool(16);
  EXPECT_EQ(pool.Handle(), 516u);
  void* item = pool.Alloc();
  std::memset(item, 0xAB, 516);  // the whole span is usable
  pool.Dispose(item);
  EXPECT_EQ(item, nullptr);
  pool.Dispose(item);  // nil is ignored
  pool.DisposeDirect(nullptr);
}

TEST(MemoryManager, BlockPoolsAreAlignedToTheirSize) {
  for (int k = 0; k < kzfBlockSizeCount; ++k) {
    auto size = static_cast<TzfBlockSizeAll>(k);
    size_t bytes = zfBlockSizeBytes(size);
    void* a = zfBlockPoolAlloc(size);
    void* b = zfBlockPoolAlloc(zfBlockPools[size]);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % bytes, 0u) << k;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % bytes, 0u) << k;
    EXPECT_NE(a, b);
    std::memset(a, 1, bytes);
    std::memset(b, 2, bytes);
    zfBlockPoolDispose(zfBlockPools[size], a);
    EXPECT_EQ(a, nullptr);
    zfBlockPoolDispose(size, b);
    EXPECT_EQ(b, nullptr);
  }
}

TEST(MemoryManager, BlockPoolRefusesMisalignedBlockAndStillClearsVariable) {
  void* block = zfBlockPoolAlloc(TzfBlockSizeAll::zfbs8k);
  void* wrong = static_cast<uint8_t*>(block) + 4096;
  EXPECT_THROW(zfBlockPoolDispose(TzfBlockSizeAll::zfbs8k, wrong), rtl::EInvalidPointer);
  EXPECT_EQ(wrong, nullptr);
  zfBlockPoolDispose(TzfBlockSizeAll::zfbs8k, block);
}

TEST(MemoryManager, MapableBlocksAreAlwaysMapped) {
  TzfMapableBlockHandle h = zfMapableBlockAlloc(TzfBlockSizeAll::zfbs16k);
  EXPECT_EQ(h % 16384, 0u);
  void* view = zfMapableBlockMap(h);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(view), h);
  std::memset(view, 3, 16384);
  EXPECT_THROW(zfMapableBlockUnmap(h, static_cast<uint8_t*>(view) + 1), rtl::EInvalidPointer);
  zfMapableBlockUnmap(h, view);
  EXPECT_THROW(zfMapableBlockFree(h + 8), rtl::EInvalidPointer);  // not 4096-aligned
  zfMapableBlockFree(h);
  // No contiguous view of a list is provided.
  TzfMapableBlockHandles list{};
  EXPECT_THROW(zfMapableBlockMapList(list), rtl::EOutOfMemory);
  EXPECT_THROW(zfMapableBlockUnmapList(list, nullptr), rtl::EInvalidPointer);
}

// Replaces the mappable-block allocation entry so that the N-th call fails.
struct FailingMapableAlloc {
  static inline std::atomic<int> Calls{0};
  static inline int FailAt = 0;
  static inline std::vector<TzfMapableBlockHandle> Freed;
  static inline void* (*Real)(uint8_t) = nullptr;
  static inline bool (*RealFree)(TzfMapableBlockHandle) = nullptr;
  static void* Alloc(uint8_t aSize) { return ++Calls == FailAt ? nullptr : Real(aSize); }
  static bool Free(TzfMapableBlockHandle aHandle) {
    Freed.push_back(aHandle);
    return RealFree(aHandle);
  }
};

TEST(MemoryManager, MapableAllocListRollsBackOnlyWhatItTook) {
  auto& mm = zfMemoryManagerFunctions();
  FailingMapableAlloc::Real = mm.MapableBlockAlloc;
  FailingMapableAlloc::RealFree = mm.MapableBlockFree;
  FailingMapableAlloc::Calls = 0;
  FailingMapableAlloc::FailAt = 10;
  FailingMapableAlloc::Freed.clear();
  mm.MapableBlockAlloc = FailingMapableAlloc::Alloc;
  mm.MapableBlockFree = FailingMapableAlloc::Free;
  TzfMapableBlockHandles handles;
  for (auto& h : handles) h = 0xDEAD000;
  std::vector<TzfMapableBlockHandle> taken;
  EXPECT_THROW(zfMapableBlockAllocList(TzfBlockSizeAll::zfbs4k, handles), rtl::EOutOfMemory);
  mm.MapableBlockAlloc = FailingMapableAlloc::Real;
  mm.MapableBlockFree = FailingMapableAlloc::RealFree;
  ASSERT_EQ(FailingMapableAlloc::Freed.size(), 9u);
  for (size_t i = 1; i < 9; ++i) EXPECT_GT(FailingMapableAlloc::Freed[i - 1], 0u);
  for (int i = 9; i < kzfMapableBlockListCount; ++i) EXPECT_EQ(handles[i], 0xDEAD000u) << i;

  zfMapableBlockAllocList(TzfBlockSizeAll::zfbs4k, handles);
  for (auto h : handles) zfMapableBlockFree(h);
}

// ---- base objects ---------------------------------------------------------------------------

struct Probe : TzfInterfacedObject {
  static inline std::atomic<int> Destroyed{0};
  static inline std::atomic<int> KeepAliveReleased{0};
  explicit Probe(bool aKeepAlive = false) : TzfInterfacedObject(aKeepAlive) {
    // The constructor may take and drop references without destroying the object.
    RefPtr<Probe> self(this);
  }
  ~Probe() override { ++Destroyed; }
  void ReleaseKeepAlive() override { ++KeepAliveReleased; }
};

TEST(InterfacedObject, LastReleaseDestroysUnlessKeptAlive) {
  Probe::Destroyed = 0;
  {
    RefPtr<Probe> a = RefPtr<Probe>::Create();
    EXPECT_EQ(a->RefCount(), 1);
    RefPtr<Probe> b = a;
    EXPECT_EQ(a->RefCount(), 2);
    RefPtr<TzfInterfacedObject> c = std::move(b);
    EXPECT_EQ(a->RefCount(), 2);
  }
  EXPECT_EQ(Probe::Destroyed, 1);

  Probe::KeepAliveReleased = 0;
  Probe* kept = zfCreateObject<Probe>(true);
  { RefPtr<Probe> r(kept); }  // count back to 0: kept alive
  EXPECT_EQ(Probe::Destroyed, 1);
  kept->Free();  // ends keep-alive and destroys
  EXPECT_EQ(Probe::KeepAliveReleased, 1);
  EXPECT_EQ(Probe::Destroyed, 2);
}

TEST(InterfacedObject, FreeWhileReferencedOnlyEndsKeepAlive) {
  Probe::Destroyed = 0;
  Probe* p = zfCreateObject<Probe>(true);
  RefPtr<Probe> other(p);
  p->Free();
  EXPECT_EQ(Probe::Destroyed, 0);
  EXPECT_FALSE(p->KeepAlive());
  other.reset();
  EXPECT_EQ(Probe::Destroyed, 1);
}

TEST(InterfacedObject, DestroyingAReferencedObjectRaisesAndKeepsIt) {
  Probe::Destroyed = 0;
  Probe* p = zfCreateObject<Probe>();
  RefPtr<Probe> ref(p);
  Probe* var = p;
  EXPECT_THROW(zfFreeAndNil(var), rtl::EInvalidPointer);
  EXPECT_EQ(var, nullptr);
  EXPECT_EQ(Probe::Destroyed, 0);  // still usable through ref
  EXPECT_EQ(ref->RefCount(), 1);
  ref.reset();
  EXPECT_EQ(Probe::Destroyed, 1);

  Probe* owned = zfCreateObject<Probe>();
  zfFreeAndNil(owned);
  EXPECT_EQ(owned, nullptr);
  EXPECT_EQ(Probe::Destroyed, 2);
}

TEST(InterfacedObject, ConcurrentReleasesDestroyOnce) {
  Probe::Destroyed = 0;
  for (int round = 0; round < 50; ++round) {
    Probe* p = zfCreateObject<Probe>();
    constexpr int kThreads = 4, kRefs = 200;
    for (int i = 0; i < kThreads * kRefs; ++i) p->_AddRef();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([p] {
        for (int i = 0; i < kRefs; ++i) p->_Release();
      });
    for (auto& t : threads) t.join();
  }
  EXPECT_EQ(Probe::Destroyed, 50);
}

TEST(InterfacedObject, FreeAndNilOfConcurrentOwnersFreesOnce) {
  Probe::Destroyed = 0;
  Probe* shared = zfCreateObject<Probe>();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back([&] { zfFreeAndNil(shared); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(Probe::Destroyed, 1);
}

// ---- memory-low signal ----------------------------------------------------------------------

TEST(MemoryLow, ParsesMeminfoAndCgroupStat) {
  const char meminfo[] =
      "MemTotal:       16384000 kB\nMemFree:          100000 kB\nMemAvailable:     400000 kB\nBuffers: 1 kB\n";
  uint64_t total = 0, avail = 0;
  ASSERT_TRUE(mm::zfmmParseMeminfo(meminfo, sizeof meminfo - 1, total, avail));
  EXPECT_EQ(total, 16384000ull * 1024);
  EXPECT_EQ(avail, 400000ull * 1024);
  const char noAvail[] = "MemTotal: 10 kB\nMemFree: 5 kB\n";
  EXPECT_FALSE(mm::zfmmParseMeminfo(noAvail, sizeof noAvail - 1, total, avail));

  const char stat[] = "anon 100\nfile 5000\nactive_file 20\ninactive_file 4980\n";
  uint64_t v = 0;
  ASSERT_TRUE(mm::zfmmParseStatValue(stat, sizeof stat - 1, "inactive_file", v));
  EXPECT_EQ(v, 4980u);
  ASSERT_TRUE(mm::zfmmParseStatValue(stat, sizeof stat - 1, "file", v));  // not "file" inside another key
  EXPECT_EQ(v, 5000u);
  EXPECT_FALSE(mm::zfmmParseStatValue(stat, sizeof stat - 1, "shmem", v));
}

TEST(MemoryLow, Thresholds) {
  constexpr uint64_t MB = 1024 * 1024, GB = 1024 * MB;
  struct Case {
    mm::TzfMemorySignal signal;
    bool low;
  } cases[] = {
      {{16 * GB, 8 * GB, 0, 0}, false},
      {{16 * GB, 400 * MB, 0, 0}, true},          // below 512 MB cap of 5%
      {{16 * GB, 600 * MB, 0, 0}, false},
      {{256 * MB, 20 * MB, 0, 0}, true},          // 5% would be 12.8 MB; floor 32 MB
      {{16 * GB, 8 * GB, 1 * GB, 1000 * MB}, true},   // cgroup headroom 24 MB < 51 MB
      {{16 * GB, 8 * GB, 1 * GB, 900 * MB}, false},
      {{16 * GB, 8 * GB, 1 * GB, 2 * GB}, true},      // usage above limit
      {{0, 0, 0, 0}, false},                      // nothing known
  };
  for (const auto& c : cases) EXPECT_EQ(mm::zfmmEvaluateMemoryLow(c.signal), c.low) << c.signal.MemAvailable;
}

TEST(MemoryLow, ReadsThisMachine) {
  mm::TzfMemorySignal s;
  ASSERT_TRUE(mm::zfmmReadMemorySignal(s));
  EXPECT_GT(s.MemTotal, 0u);
  EXPECT_LE(s.MemAvailable, s.MemTotal);
  // A test machine with room to spare is not short of memory.
  if (!mm::zfmmEvaluateMemoryLow(s)) {
    EXPECT_FALSE(zfIsMemoryLow());
  }
}

}  // namespace
}  // namespace zf
