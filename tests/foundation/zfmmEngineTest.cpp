// The engine memory manager's parts: bitmaps, chunks, block managers, item manager, large blocks,
// start-up, hook library and trimming thread. The manager is started for each test (in a build
// where it is also the process allocator it is running already and simply gains a user).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "foundation/zfllMemoryManagerImpl.h"
#include "foundation/zfmmBitmap.h"
#include "foundation/zfmmBlockManager.h"
#include "foundation/zfmmChunkManager.h"
#include "foundation/zfmmItemManager.h"
#include "platform/rtl/rtlException.h"

namespace zf::mm {
namespace {

class Engine : public ::testing::Test {
 protected:
  void SetUp() override { zfmmAddRef(); }
  void TearDown() override { zfmmRelease(); }
};

void ExpectExactSummaries(const TzfBitmap1024& b) {
  TzfBitmap1024 copy = b;
  copy.RecomputeSummaries();
  EXPECT_EQ(b.NonEmpty, copy.NonEmpty);
  EXPECT_EQ(b.Full, copy.Full);
}

// ---- bitmap ---------------------------------------------------------------------------------

TEST(Bitmap, EveryPositionIsSetFoundTakenAndMovedAlike) {
  TzfBitmap1024 b, target;
  for (int n = 0; n < 1024; ++n) {
    b.Clear();
    target.Clear();
    bool wasEmpty = false;
    ASSERT_TRUE(b.SetBitReportWasEmpty(n, wasEmpty));
    EXPECT_TRUE(wasEmpty);
    EXPECT_FALSE(b.SetBit(n)) << "already set";
    EXPECT_EQ(b.FindHighest(), n);
    ExpectExactSummaries(b);
    TzfBitmap1024::MoveAll(b, target);
    EXPECT_EQ(b.FindHighest(), -1);
    EXPECT_EQ(target.FindHighest(), n);
    bool empty = false;
    EXPECT_EQ(target.TakeHighestReportEmpty(empty), n);
    EXPECT_TRUE(empty);
    EXPECT_EQ(target.TakeHighest(), -1);
    ExpectExactSummaries(target);
  }
}

TEST(Bitmap, TakesHighestFirstAndKeepsSummariesExact) {
  TzfBitmap1024 b;
  b.Clear();
  for (int n = 0; n < 1024; ++n) b.SetBit(n);
  EXPECT_EQ(b.Full, 0xFFFFFFFFu);
  for (int n = 1023; n >= 0; --n) {
    ASSERT_EQ(b.TakeHighest(), n);
    if (n % 97 == 0) ExpectExactSummaries(b);
  }
  EXPECT_EQ(b.NonEmpty, 0u);
  EXPECT_EQ(b.Full, 0u);
  b.ToggleBit(40);
  EXPECT_TRUE(b.TestBit(40));
  b.ToggleBit(40);
  EXPECT_FALSE(b.TestBit(40));
  ExpectExactSummaries(b);
}

TEST(Bitmap, ConcurrentSetAndTakeNeverLoseABit) {
  TzfBitmap1024 b;
  b.Clear();
  for (int n = 0; n < 1024; ++n) b.SetBit(n);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&b] {
      std::vector<int> held;
      for (int i = 0; i < 20000; ++i) {
        if (held.size() < 40 && (i & 1)) {
          int n = b.TakeHighest();
          if (n >= 0) held.push_back(n);
        } else if (!held.empty()) {
          EXPECT_TRUE(b.SetBit(held.back()));
          held.pop_back();
        }
      }
      for (int n : held) EXPECT_TRUE(b.SetBit(n));
    });
  for (auto& t : threads) t.join();
  for (int w = 0; w < 32; ++w) EXPECT_EQ(b.Data[w], 0xFFFFFFFFu) << w;
  ExpectExactSummaries(b);
}

// ---- chunks ---------------------------------------------------------------------------------

TEST_F(Engine, ChunksComeFromTheRangeAndTheCacheCostsNoSystemCall) {
  void* c = AllocCommittedChunk();
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(zfmmInChunkRange(c));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(c) % kzfChunkSize, 0u);
  std::memset(c, 0x5A, kzfChunkSize);
  EXPECT_FALSE(FreeCommittedChunk(static_cast<uint8_t*>(c) + 4096));
  ASSERT_TRUE(FreeCommittedChunk(c));
  EXPECT_FALSE(FreeCommittedChunk(c)) << "already cached";
  uint64_t calls = zfmmChunkSystemCalls();
  void* again = AllocCommittedChunk();
  EXPECT_EQ(zfmmChunkSystemCalls(), calls);
  EXPECT_TRUE(FreeCommittedChunk(again));
  int x;
  EXPECT_FALSE(FreeCommittedChunk(&x));
}

// ---- block managers -------------------------------------------------------------------------

TEST_F(Engine, BlocksAreTakenHighestFirstAndCheckedOnReturn) {
  TzfBlockClass* k8 = zfmmCommittedClass(1);
  auto* a = static_cast<uint8_t*>(BlockPoolAlloc(k8));
  auto* b = static_cast<uint8_t*>(BlockPoolAlloc(k8));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 8192, 0u);
  if (zfmmChunkOf(a) == zfmmChunkOf(b)) { EXPECT_EQ(b, a - 8192); }
  // Table of refusals: another class, misaligned, foreign.
  EXPECT_FALSE(BlockPoolDispose(zfmmCommittedClass(0), a));
  EXPECT_FALSE(BlockPoolDispose(k8, a + 4096));
  int local;
  EXPECT_FALSE(BlockPoolDispose(k8, &local));
  EXPECT_FALSE(BlockPoolDispose(nullptr, a));
  EXPECT_TRUE(BlockPoolDispose(k8, a));
  EXPECT_FALSE(BlockPoolDispose(k8, a)) << "double dispose";
  EXPECT_TRUE(BlockFreeByAddress(b));
  EXPECT_FALSE(BlockFreeByAddress(b));
}

TEST_F(Engine, FourMegabyteBlocksAreChunksOfTheirOwn) {
  TzfBlockClass* k4m = zfmmCommittedClass(5);
  void* a = BlockPoolAlloc(k4m);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % kzfChunkSize, 0u);
  EXPECT_EQ(k4m->Chunks.NonEmpty, 0u);
  EXPECT_TRUE(BlockPoolDispose(k4m, a));
  EXPECT_FALSE(BlockPoolDispose(k4m, a));
}

TEST_F(Engine, TrimGivesBackAWhollyFreeChunk) {
  TzfBlockClass* k16 = zfmmCommittedClass(2);  // 256 blocks per chunk
  std::vector<void*> blocks;
  int chunk = -1;
  // Fill whole chunks, then free every block of one of them.
  for (int i = 0; i < 600; ++i) blocks.push_back(BlockPoolAlloc(k16));
  chunk = zfmmChunkOf(blocks[300]);
  std::vector<void*> ofChunk;
  for (void*& p : blocks)
    if (zfmmChunkOf(p) == chunk) {
      ofChunk.push_back(p);
      p = nullptr;
    }
  ASSERT_EQ(ofChunk.size(), 256u);
  for (void* p : ofChunk) ASSERT_TRUE(BlockPoolDispose(k16, p));
  TrimCommitted();
  EXPECT_NE(zfmmOwnerClassOf(ofChunk[0]), k16);
  EXPECT_FALSE(BlockPoolDispose(k16, ofChunk[0])) << "an old pointer into a released chunk";
  for (void* p : blocks)
    if (p) { EXPECT_TRUE(BlockPoolDispose(k16, p)); }
}

TEST_F(Engine, TrimRacingAllocationsRollsBackAndLosesNothing) {
  TzfBlockClass* k32 = zfmmCommittedClass(3);
  std::atomic<bool> stop{false};
  std::thread trimmer([&] {
    while (!stop) TrimCommitted();
  });
  std::vector<std::thread> workers;
  for (int t = 0; t < 3; ++t)
    workers.emplace_back([k32, t] {
      std::mt19937 rng(t);
      std::vector<uint32_t*> held;
      for (int i = 0; i < 4000; ++i) {
        if (held.size() < 200 && rng() % 2) {
          auto* p = static_cast<uint32_t*>(BlockPoolAlloc(k32));
          ASSERT_NE(p, nullptr);
          p[0] = uint32_t(reinterpret_cast<uintptr_t>(p));
          p[8191] = p[0];
          held.push_back(p);
        } else if (!held.empty()) {
          uint32_t* p = held.back();
          held.pop_back();
          ASSERT_EQ(p[0], uint32_t(reinterpret_cast<uintptr_t>(p)));
          ASSERT_EQ(p[8191], p[0]);
          ASSERT_TRUE(BlockPoolDispose(k32, p));
        }
      }
      for (auto* p : held) ASSERT_TRUE(BlockPoolDispose(k32, p));
    });
  for (auto& w : workers) w.join();
  stop = true;
  trimmer.join();
  TrimCommitted();
  EXPECT_EQ(k32->Chunks.NonEmpty, 0u) << "every chunk of the class went back";
}

// Summaries of a bitmap that other threads may still be finishing a crossing on: a mismatch that
// is only a crossing half done goes away at once, a lost toggle stays.
void ExpectSummariesSettle(const TzfBitmap1024& b, const char* aWhat) {
  TzfBitmap1024 copy;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    copy.NonEmpty = __atomic_load_n(&b.NonEmpty, __ATOMIC_ACQUIRE);
    copy.Full = __atomic_load_n(&b.Full, __ATOMIC_ACQUIRE);
    for (int w = 0; w < 32; ++w) copy.Data[w] = __atomic_load_n(&b.Data[w], __ATOMIC_ACQUIRE);
    uint32_t nonEmpty = copy.NonEmpty, full = copy.Full;
    copy.RecomputeSummaries();
    if (copy.NonEmpty == nonEmpty && copy.Full == full) return;
    std::this_thread::yield();
  }
  ADD_FAILURE() << aWhat << ": summaries do not match the data words";
}

// Trims until no chunk of classes 0-3 is left (the trimming thread may hold one for a moment).
bool TrimUntilClassesEmpty() {
  for (int attempt = 0; attempt < 200; ++attempt) {
    TrimCommitted();
    bool empty = true;
    for (int k = 0; k < 4; ++k) empty = empty && __atomic_load_n(&zfmmCommittedClass(k)->Chunks.NonEmpty, __ATOMIC_ACQUIRE) == 0;
    if (empty) return true;
    std::this_thread::yield();
  }
  return false;
}

// Chunks of any class but aExcept whose blocks are all free.
std::vector<int> WhollyFreeChunks(TzfBlockClass* aExcept) {
  std::vector<int> out;
  for (int c = 0; c < kzfChunkCount; ++c) {
    TzfBlockClass* owner = __atomic_load_n(&zfmmChunkRecords[c].Owner, __ATOMIC_ACQUIRE);
    if (owner && owner != aExcept && owner->WordCount > 0 &&
        __atomic_load_n(&zfmmChunkRecords[c].FreeBlocks.Full, __ATOMIC_ACQUIRE) == owner->FullMask)
      out.push_back(c);
  }
  return out;
}

TEST_F(Engine, AClassThatRunsOutTakesOverAWhollyFreeChunkOfAnother) {
  TzfBlockClass* k8 = zfmmCommittedClass(1);   // 512 blocks per chunk
  TzfBlockClass* k16 = zfmmCommittedClass(2);  // 256 blocks per chunk
  TrimCommitted();  // no wholly free chunk is left over from earlier tests
  // A chunk of 16 KB blocks, all of them ours, then all freed.
  std::vector<void*> blocks16;
  for (int i = 0; i < 600; ++i) blocks16.push_back(BlockPoolAlloc(k16));
  int chunk = zfmmChunkOf(blocks16[300]);
  std::vector<void*> ofChunk;
  for (void*& p : blocks16)
    if (zfmmChunkOf(p) == chunk) {
      ofChunk.push_back(p);
      p = nullptr;
    }
  ASSERT_EQ(ofChunk.size(), 256u);
  for (void* p : ofChunk) ASSERT_TRUE(BlockPoolDispose(k16, p));
  // Every free 8 KB block taken, so that the next one needs a chunk.
  std::vector<void*> held8;
  while (__atomic_load_n(&k8->Chunks.NonEmpty, __ATOMIC_ACQUIRE) != 0) held8.push_back(BlockPoolAlloc(k8));
  std::vector<int> candidates = WhollyFreeChunks(k8);
  ASSERT_NE(std::find(candidates.begin(), candidates.end(), chunk), candidates.end());
  TzfBlockClass* before[kzfChunkCount];
  for (int c : candidates) before[c] = __atomic_load_n(&zfmmChunkRecords[c].Owner, __ATOMIC_ACQUIRE);

  auto* p = static_cast<uint8_t*>(BlockPoolAlloc(k8));
  ASSERT_NE(p, nullptr);
  int taken = zfmmChunkOf(p);
  ASSERT_NE(std::find(candidates.begin(), candidates.end(), taken), candidates.end())
      << "the block comes from a chunk another class had let go, not from a new chunk";
  TzfBlockClass* previous = before[taken];
  EXPECT_EQ(zfmmOwnerClassOf(p), k8);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8192, 0u);
  EXPECT_EQ(static_cast<uint8_t*>(zfmmChunkAddress(taken)) + kzfChunkSize - 8192, p) << "highest block first";
  // Addresses of the chunk under its previous class are refused now, aligned or not.
  uint8_t* base = static_cast<uint8_t*>(zfmmChunkAddress(taken));
  EXPECT_FALSE(BlockPoolDispose(previous, base));
  EXPECT_FALSE(BlockPoolDispose(previous, base + kzfChunkSize - previous->BlockSize));
  // Under the new class: the block is disposed of once, a free block never.
  EXPECT_FALSE(BlockPoolDispose(k8, base)) << "a block of the chunk that was never handed out";
  std::memset(p, 0x5A, 8192);
  auto* q = static_cast<uint8_t*>(BlockPoolAlloc(k8));
  EXPECT_EQ(q, p - 8192);
  EXPECT_TRUE(BlockPoolDispose(k8, p));
  EXPECT_FALSE(BlockPoolDispose(k8, p)) << "double dispose";
  EXPECT_TRUE(BlockFreeByAddress(q));
  EXPECT_FALSE(BlockFreeByAddress(q));
  ExpectSummariesSettle(zfmmChunkRecords[taken].FreeBlocks, "record of the taken chunk");
  ExpectSummariesSettle(k8->Chunks, "8 KB class");
  ExpectSummariesSettle(k16->Chunks, "16 KB class");
  for (void* b : held8) EXPECT_TRUE(BlockPoolDispose(k8, b));
  for (void* b : blocks16)
    if (b) { EXPECT_TRUE(BlockPoolDispose(k16, b)); }
}

// Threads allocate whole batches of one class, each block tagged with its holder, then check and
// free them and move on to the next class, so that chunks keep going wholly free and being taken
// over by other classes (4 MB blocks too) while a trim pass runs without pause. A block handed
// out twice, or a live block whose pages a trim discarded, loses its tag.
void BlocksMovingBetweenClasses(int aThreads, int aRounds) {
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  std::thread trimmer([&] {
    while (!stop) TrimCommitted();
  });
  static constexpr int kClasses[] = {0, 1, 2, 3, 5};
  std::vector<std::thread> workers;
  for (int t = 0; t < aThreads; ++t)
    workers.emplace_back([&, t] {
      std::vector<uint64_t*> held;
      for (int round = 0; round < aRounds; ++round) {
        TzfBlockClass* K = zfmmCommittedClass(kClasses[(t + round) % 5]);
        int count = K->WordCount == 0 ? 2 : 300;
        size_t last = K->BlockSize / 8 - 1;
        for (int i = 0; i < count; ++i) {
          auto* b = static_cast<uint64_t*>(BlockPoolAlloc(K));
          if (!b || (reinterpret_cast<uintptr_t>(b) & K->OffsetMask) != 0) {
            ++failures;
            continue;
          }
          uint64_t tag = (uint64_t(t) << 48) | (uint64_t(round) << 16) | uint64_t(i);
          b[0] = tag;
          b[last] = ~tag;
          held.push_back(b);
        }
        for (uint64_t* b : held) {
          if (b[last] != ~b[0] || (b[0] >> 48) != uint64_t(t)) ++failures;
          if (!BlockPoolDispose(K, b)) ++failures;
        }
        held.clear();
      }
    });
  for (auto& w : workers) w.join();
  stop = true;
  trimmer.join();
  EXPECT_EQ(failures.load(), 0);
  for (int k : kClasses) ExpectSummariesSettle(zfmmCommittedClass(k)->Chunks, "class bitmap");
  EXPECT_TRUE(TrimUntilClassesEmpty()) << "every chunk of the classes went back";
}

TEST_F(Engine, BlocksMovingBetweenClassesShort) { BlocksMovingBetweenClasses(4, 300); }
TEST_F(Engine, BlocksMovingBetweenClassesSlow) { BlocksMovingBetweenClasses(8, 30000); }

// ---- item manager ---------------------------------------------------------------------------

TEST(ItemManager, SizeClassesAndRouting) {
  EXPECT_EQ(ClassForSize(0), -1);
  EXPECT_EQ(ClassForSize(32737), -1);
  for (size_t s = 1; s <= 32736; ++s) {
    int c = ClassForSize(s);
    ASSERT_GE(c, 0) << s;
    ASSERT_GE(kzfSizeClasses[c], s) << s;
    if (c > 0) { ASSERT_LT(kzfSizeClasses[c - 1], s) << s; }
  }
}

TEST_F(Engine, EverySizeClassServesAlignedItemsOfItsSize) {
  for (int i = 0; i < kzfSizeClassCount; ++i) {
    uint32_t size = kzfSizeClasses[i];
    // The request one byte above the previous class lands in this class.
    size_t request = i == 0 ? 1 : kzfSizeClasses[i - 1] + 1;
    auto* p = static_cast<uint8_t*>(ItemGetMem(request));
    ASSERT_NE(p, nullptr);
    TzfMemoryPool* pool = zfmmItemOwner(p);
    ASSERT_EQ(pool, zfmmPool(i)) << size;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % (size >= 16 ? 16 : 8), 0u) << size;
    std::memset(p, 0xEE, pool->mpItemSize);
    EXPECT_EQ(ItemFreeMem(p), 0);
  }
}

TEST_F(Engine, RequestsAtTheClassEdges) {
  struct Case {
    size_t request;
    uint32_t itemSize;  // 0: a large block
  } cases[] = {{1, 8}, {3, 8}, {4, 8}, {16, 32}, {64, 96}, {65, 96}, {1024, 1024}, {1025, 1280},
               {32735, 32736}, {32736, 0}};
  for (const auto& c : cases) {
    void* p = ItemGetMem(c.request);
    ASSERT_NE(p, nullptr);
    if (c.itemSize == 0) {
      EXPECT_FALSE(zfmmInChunkRange(p));
      ASSERT_NE(zfmmLargeTrailer(p), nullptr);
      EXPECT_EQ(zfmmLargeTrailer(p)->RequestedSize, c.request);
    } else {
      ASSERT_NE(zfmmItemOwner(p), nullptr) << c.request;
      EXPECT_EQ(zfmmItemOwner(p)->mpItemSize, c.itemSize) << c.request;
    }
    EXPECT_EQ(ItemFreeMem(p), 0);
  }
  // The 4-byte class still holds a link when free: its items are 8 bytes apart.
  EXPECT_EQ(zfmmPool(0)->mpItemSize, 8u);
}

TEST_F(Engine, ReallocKeepsOrMovesAsTheSizesSay) {
  auto* p = static_cast<uint8_t*>(ItemGetMem(1024));
  for (int i = 0; i < 33; ++i) p[i] = uint8_t(i);
  EXPECT_EQ(ItemReallocMem(p, 33), p) << "shrinking 1024 to 33 keeps the item";
  auto* q = static_cast<uint8_t*>(ItemReallocMem(p, 32));
  EXPECT_NE(q, p);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(q[i], i);
  EXPECT_EQ(ItemFreeMem(q), 0);

  auto* five = static_cast<uint8_t*>(ItemGetMem(5));
  std::memcpy(five, "ABCDEFGH", 8);
  auto* twelve = static_cast<uint8_t*>(ItemReallocMem(five, 12));
  EXPECT_NE(twelve, five);
  EXPECT_EQ(zfmmItemOwner(twelve)->mpItemSize, 96u);
  EXPECT_EQ(std::memcmp(twelve, "ABCDEFGH", 8), 0);
  EXPECT_EQ(ItemFreeMem(twelve), 0);

  void* sixteen = ItemGetMem(16);
  EXPECT_EQ(ItemReallocMem(sixteen, 20), sixteen);
  EXPECT_EQ(ItemFreeMem(sixteen), 0);
}

TEST_F(Engine, DoubleFreeAndForeignPointersAreRefused) {
  void* item = ItemGetMem(100);
  auto* inside = static_cast<uint8_t*>(item) + 8;
  EXPECT_EQ(ItemFreeMem(inside), 1) << "middle of an item";
  EXPECT_EQ(ItemFreeMem(item), 0);
  EXPECT_EQ(ItemFreeMem(item), 1) << "double free";
  int local = 0;
  EXPECT_EQ(ItemFreeMem(&local), 1);
  void* heap = std::malloc(64);
  EXPECT_EQ(ItemFreeMem(heap), 1);
  std::free(heap);
  void* block64 = BlockPoolAlloc(zfmmCommittedClass(4));
  std::memset(block64, 0xFF, 65536);
  EXPECT_EQ(ItemFreeMem(static_cast<uint8_t*>(block64) + 4096), 1) << "inside a 64 KB pool block";
  EXPECT_TRUE(BlockPoolDispose(zfmmCommittedClass(4), block64));
  void* large = ItemGetMem(100000);
  EXPECT_EQ(ItemFreeMem(static_cast<uint8_t*>(large) + 65536), 1);
  EXPECT_EQ(ItemFreeMem(large), 0);
  EXPECT_EQ(ItemFreeMem(large), 1) << "double free of a large block";
  EXPECT_THROW(ItemReallocMem(&local, 10), rtl::EInvalidPointer);
}

// Reallocating something that is not a live item is the invalid-pointer error on every path
// (kept in place, shrunk by a move, grown), never a copy of whatever lies there.
TEST_F(Engine, ReallocOfAFreedOrMidItemPointerIsRefused) {
  // A rarely used class, so that no allocation of the process takes the freed item meanwhile.
  struct Case {
    const char* path;
    size_t size;  // the new size asked of a 9344-byte item
  };
  const Case cases[] = {{"same size", 9344}, {"shrink in place", 1000}, {"shrink by a move", 200}, {"grow", 12000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    auto* item = static_cast<uint8_t*>(ItemGetMem(9000));
    ASSERT_EQ(zfmmItemOwner(item)->mpItemSize, 9344u);
    EXPECT_THROW(ItemReallocMem(item + 8, c.size), rtl::EInvalidPointer) << "middle of a live item";
    ASSERT_EQ(ItemFreeMem(item), 0);
    EXPECT_THROW(ItemReallocMem(item, c.size), rtl::EInvalidPointer) << "already freed (in the thread's cache)";
  }
  // The same with the item gone back to its pool rather than into the thread's cache.
  TzfMemoryPool* pool = zfmmPool(ClassForSize(13000));
  void* direct = pool->Alloc();
  ASSERT_EQ(pool->DisposeDirect(direct), 0);
  EXPECT_THROW(ItemReallocMem(direct, 20000), rtl::EInvalidPointer);
  EXPECT_THROW(ItemReallocMem(direct, 100), rtl::EInvalidPointer);
}

TEST_F(Engine, FullBlockLeavesListsAndComesBackOnce) {
  // A rarely used class, so the process's own allocations do not mix in.
  TzfMemoryPool* pool = zfmmPool(ClassForSize(13000));
  std::vector<void*> items;
  for (uint32_t i = 0; i < pool->mpItemsPerBlock; ++i) items.push_back(pool->Alloc());
  auto* block = reinterpret_cast<TzfItemBlockHeader*>(reinterpret_cast<uintptr_t>(items[0]) & ~uintptr_t(65535));
  EXPECT_EQ(block->Detached, 1u) << "its last item taken, the block is in no list";
  // Two threads free items of the full block at once: it is re-listed exactly once.
  std::thread t1([&] { EXPECT_EQ(pool->DisposeDirect(items[0]), 0); });
  std::thread t2([&] { EXPECT_EQ(pool->DisposeDirect(items[1]), 0); });
  t1.join();
  t2.join();
  EXPECT_EQ(block->Detached, 0u);
  int listed = 0;
  for (auto* e = pool->mpPartialFreeBlockHead1.lhFirst; e; e = e->leNext) listed += e == &block->Link;
  for (auto* e = pool->mpPartialFreeBlockHead2.lhFirst; e; e = e->leNext) listed += e == &block->Link;
  EXPECT_EQ(listed, 1);
  for (size_t i = 2; i < items.size(); ++i) EXPECT_EQ(pool->DisposeDirect(items[i]), 0);
}

TEST_F(Engine, CleanupGivesEmptyItemBlocksBackToTheBlockManager) {
  TzfMemoryPool* pool = zfmmPool(ClassForSize(21000));
  int64_t before = pool->mpBlocks.load();
  std::vector<void*> items;
  for (uint32_t i = 0; i < 3 * pool->mpItemsPerBlock; ++i) items.push_back(pool->Alloc());
  EXPECT_GE(pool->mpBlocks.load(), before + 3);
  TzfHeapStatus status;
  ItemGetHeapStatus(status);
  EXPECT_GE(status.TotalCommitted, 3u * 65536);
  EXPECT_GE(status.TotalAllocated, 3u * pool->mpItemsPerBlock * pool->mpItemSize);
  for (void* p : items) EXPECT_EQ(pool->DisposeDirect(p), 0);
  EXPECT_EQ(pool->mpNeedCleanup, 1u);
  pool->Cleanup();
  pool->Cleanup();
  EXPECT_LE(pool->mpBlocks.load(), before);
  EXPECT_EQ(pool->DisposeDirect(items[0]), 1) << "its block is gone";
}

TEST_F(Engine, ItemsCachedByAThreadGoBackWhenItEnds) {
  TzfMemoryPool* pool = zfmmPool(ClassForSize(9000));
  int64_t before = pool->mpBlocks.load();
  std::thread worker([] {
    std::vector<void*> items;
    for (int i = 0; i < 40; ++i) items.push_back(ItemGetMem(9000));
    for (void* p : items) EXPECT_EQ(ItemFreeMem(p), 0);  // some stay in this thread's cache
    EXPECT_EQ(ItemFreeMem(items[0]), 1) << "a cached item is free: freeing it again is refused";
  });
  worker.join();
  pool->Cleanup();
  EXPECT_LE(pool->mpBlocks.load(), before) << "no item of the ended thread pins a block";
}

TEST_F(Engine, ThreadCacheRunsAndSpillsNeitherDuplicateNorForgetItems) {
  // Sizes whose classes keep 256, 18 and 1 items per thread: an empty class takes a run of items,
  // a full one gives half back to the pool. Every item is handed out once while live, and every
  // freed one, cached or given back, is refused a second time.
  for (size_t size : {size_t(20), size_t(1700), size_t(30000)}) {
    std::thread worker([size] {
      std::vector<uint8_t*> items;
      for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 300; ++i) items.push_back(static_cast<uint8_t*>(ItemGetMem(size)));
        std::vector<uint8_t*> sorted = items;
        std::sort(sorted.begin(), sorted.end());
        for (size_t i = 1; i < sorted.size(); ++i)
          ASSERT_GE(sorted[i], sorted[i - 1] + size) << "overlapping items of " << size;
        for (uint8_t* p : items) std::memset(p, 0xA5, size);
        for (uint8_t* p : items) ASSERT_EQ(ItemFreeMem(p), 0) << size;
        for (uint8_t* p : items) ASSERT_EQ(ItemFreeMem(p), 1) << "double free of " << size;
        items.clear();
      }
    });
    worker.join();
  }
}

// ---- large blocks ---------------------------------------------------------------------------

TEST_F(Engine, LargeBlockGrowsBySmallStepsWithoutLosingContent) {
  size_t size = 40000;
  auto* p = static_cast<uint8_t*>(ItemGetMem(size));
  for (size_t i = 0; i < size; ++i) p[i] = uint8_t(i * 13);
  uint8_t* base = p;
  int moves = 0;
  for (int step = 0; step < 10; ++step) {
    size_t next = size + 70000;
    auto* q = static_cast<uint8_t*>(ItemReallocMem(p, next));
    ASSERT_NE(q, nullptr);
    moves += q != p;
    for (size_t i = 0; i < size; i += 997) ASSERT_EQ(q[i], uint8_t(i * 13)) << step;
    for (size_t i = size; i < next; ++i) q[i] = uint8_t(i * 13);
    TzfLargeBlockTrailer* t = zfmmLargeTrailer(q);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->RequestedSize, next);
    EXPECT_GE(t->MappedBytes, next + sizeof(TzfLargeBlockTrailer));
    p = q;
    size = next;
  }
  EXPECT_LT(moves, 10) << "room reserved by earlier growth is used in place";
  (void)base;
  // Shrinking far moves the content into a fresh, smaller allocation.
  auto* small = static_cast<uint8_t*>(ItemReallocMem(p, 1000));
  for (size_t i = 0; i < 1000; ++i) ASSERT_EQ(small[i], uint8_t(i * 13));
  EXPECT_NE(zfmmItemOwner(small), nullptr);
  EXPECT_EQ(ItemFreeMem(small), 0);
}

TEST_F(Engine, SizesNearTwoGigabytesDoNotOverflow) {
  const size_t sizes[] = {size_t(0x7FFFFFF0), size_t(0x80000010), size_t(0xFFFFFFF0)};
  for (size_t s : sizes) {
    auto* p = static_cast<uint8_t*>(ItemGetMem(s));
    ASSERT_NE(p, nullptr) << s;
    p[0] = 1;
    p[s - 1] = 2;
    TzfLargeBlockTrailer* t = zfmmLargeTrailer(p);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->RequestedSize, s);
    EXPECT_GE(t->PagesInUse, s);
    auto* q = static_cast<uint8_t*>(ItemReallocMem(p, s + 100000));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q[0], 1);
    EXPECT_EQ(q[s - 1], 2);
    EXPECT_EQ(ItemFreeMem(q), 0);
  }
  EXPECT_EQ(ItemGetMem(SIZE_MAX - 10), nullptr);
}

// ---- table, start-up, trimming thread -------------------------------------------------------

TEST_F(Engine, TableEntriesServeTheClientRoutines) {
  auto& f = zfmmEngineFunctions();
  EXPECT_TRUE(zfmmStarted());
  for (int k = 0; k < 6; ++k) EXPECT_EQ(f.CommittedBlockPools[k], zfmmCommittedClass(k));
  EXPECT_EQ(f.PhysicalAvailable, 0u);
  ASSERT_NE(f.ZeroPage, nullptr);
  EXPECT_EQ(static_cast<const uint8_t*>(f.ZeroPage)[65535], 0);
  EXPECT_EQ(f.GetPool(16).Handle(), 516u);
  void* item = f.MemoryPoolAlloc(f.GetPool(16));
  EXPECT_EQ(zfmmItemOwner(item)->mpItemSize, 544u);
  EXPECT_EQ(f.MemoryPoolDispose(f.GetPool(16), item), 0);
  EXPECT_NE(f.FreeMem(item), 0);
  void* m = f.MapableBlockAlloc(2);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(m) % 16384, 0u);
  EXPECT_FALSE(f.MapableBlockFree(reinterpret_cast<uintptr_t>(m) + 100));
  EXPECT_TRUE(f.MapableBlockFree(reinterpret_cast<uintptr_t>(m)));
  EXPECT_EQ(f.MapableBlockAlloc(6), nullptr);
  int notAPool;
  EXPECT_EQ(f.BlockPoolCommittedAlloc(&notAPool), nullptr);
  EXPECT_EQ(f.GetAllocSize(nullptr), 0u);
}

TEST(TrimSchedule, FiveTickCycleAfterTheFirstTick) {
  uint32_t step = 0;
  int committed = 0, physical = 0, release = 0;
  for (int tick = 0; tick < 120; ++tick) {
    switch (zfmmPeriodicAction(step, false)) {
      case TzfTrimAction::TrimCommitted: ++committed; break;
      case TzfTrimAction::TrimPhysical: ++physical; break;
      case TzfTrimAction::ReleaseChunks: ++release; break;
      case TzfTrimAction::None: break;
    }
  }
  EXPECT_EQ(committed, 48);
  EXPECT_EQ(physical, 48);
  EXPECT_EQ(release, 24 - 1);  // the first tick does nothing, so the 24th release is one tick away
}

TEST_F(Engine, TrimMemoryWaitsForAFullTrim) {
  ASSERT_TRUE(zfmmTrimmingThreadRunning());
  uint64_t before = zfmmTrimCounters().FullTrims;
  zfmmTrimMemory();
  EXPECT_GE(zfmmTrimCounters().FullTrims, before + 1);
}

TEST(EngineLifecycle, LastReleaseJoinsTheThreadBeforeTearingDown) {
  if (zfmmStarted()) GTEST_SKIP() << "the manager is the process allocator here";
  for (int round = 0; round < 2; ++round) {
    zfmmAddRef();
    ASSERT_TRUE(zfmmStarted());
    EXPECT_TRUE(zfmmTrimmingThreadRunning());
    void* p = ItemGetMem(200);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(ItemFreeMem(p), 0);
    EXPECT_EQ(zfmmRelease(), 0);
    EXPECT_FALSE(zfmmStarted());
    EXPECT_FALSE(zfmmTrimmingThreadRunning());
  }
}

// ---- hook library ---------------------------------------------------------------------------

TEST(HookLibrary, PathBesideTheProgram) {
  char out[64];
  struct Case {
    const char* module;
    const char* expected;  // nullptr: no path
  } cases[] = {
      {"/opt/app/tool.bin", "/opt/app/tool_ZofrinMM5Hook.so"},
      {"/opt/app.d/tool", nullptr},  // a "." only in a directory does not count
      {"tool", nullptr},
      {"/a/b.c.d", "/a/b.c_ZofrinMM5Hook.so"},
      {"/a/very/long/path/that/does/not/fit/into/the/buffer.x", nullptr},
  };
  for (const auto& c : cases) {
    bool ok = zfmmHookPathBeside(c.module, out, sizeof out);
    EXPECT_EQ(ok, c.expected != nullptr) << c.module;
    if (ok && c.expected) { EXPECT_STREQ(out, c.expected); }
  }
}

TEST(HookLibrary, UsedOnlyWhenAllSixteenExportsResolve) {
  void* full = dlopen(ZF_TEST_MMHOOK_FULL, RTLD_NOW | RTLD_LOCAL);
  void* partial = dlopen(ZF_TEST_MMHOOK_PARTIAL, RTLD_NOW | RTLD_LOCAL);
  ASSERT_TRUE(full && partial) << dlerror();
  TzfMemoryHooks hooks{};
  EXPECT_FALSE(zfmmResolveHooks(partial, hooks));
  EXPECT_EQ(hooks.BeforeGetMem, nullptr);
  ASSERT_TRUE(zfmmResolveHooks(full, hooks));
  EXPECT_NE(hooks.BeforeMemoryPoolDispose, nullptr);
}

TEST(HookLibrary, HookedEntriesCallTheLibrary) {
  if (zfmmStarted()) GTEST_SKIP() << "the manager started before the variable could be set";
  setenv("ZofrinMM5Hook", ZF_TEST_MMHOOK_FULL, 1);
  zfmmAddRef();
  unsetenv("ZofrinMM5Hook");
  ASSERT_TRUE(zfmmHooksActive());
  void* lib = dlopen(ZF_TEST_MMHOOK_FULL, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(lib, nullptr);
  auto count = reinterpret_cast<int (*)(int)>(dlsym(lib, "HookCallCount"));
  auto grow = reinterpret_cast<void (*)(size_t)>(dlsym(lib, "HookSetSizeIncrement"));
  auto& f = zfmmEngineFunctions();
  grow(1000);  // the hook changes the size GetMem is asked for
  void* p = f.GetMem(10);
  grow(0);
  EXPECT_EQ(zfmmItemOwner(p)->mpItemSize, 1024u);
  EXPECT_EQ(count(0), 1);
  EXPECT_EQ(count(1), 1);
  EXPECT_EQ(f.FreeMem(p), 0);
  EXPECT_EQ(count(2), 1);
  void* b = f.BlockPoolCommittedAlloc(f.CommittedBlockPools[0]);
  EXPECT_TRUE(f.BlockPoolCommittedDispose(f.CommittedBlockPools[0], b));
  EXPECT_FALSE(f.BlockPoolCommittedDispose(f.CommittedBlockPools[0], nullptr));
  EXPECT_EQ(count(7), 1);
  EXPECT_EQ(count(8), 1) << "dispose hook only for a non-nil block";
  void* item = f.MemoryPoolAlloc(f.GetPool(8));
  f.MemoryPoolDispose(f.GetPool(8), item);
  EXPECT_EQ(count(13), 2);
  EXPECT_EQ(count(14), 1);
  EXPECT_EQ(count(15), 1);
  zfmmRelease();
}

// ---- the process allocator ------------------------------------------------------------------

TEST(ProcessAllocator, EveryFormOfNewGoesThroughTheEngineInEngineBuilds) {
#if ZF_MM_ENGINE
  ASSERT_TRUE(zfmmStarted());
  auto* i = new int(5);
  EXPECT_NE(zfmmItemOwner(i), nullptr);
  delete i;
  auto* arr = new (std::nothrow) char[100000];
  EXPECT_NE(zfmmLargeTrailer(arr), nullptr);
  delete[] arr;
  struct alignas(64) Line {
    char c[100];
  };
  auto* line = new Line;
  EXPECT_EQ(reinterpret_cast<uintptr_t>(line) % 64, 0u);
  EXPECT_TRUE(zfmmInChunkRange(line));
  delete line;
  struct alignas(4096) Page {
    char c[4096];
  };
  auto* pages = new Page[2];  // 8 KB aligned to 4 KB: over-allocated item
  EXPECT_EQ(reinterpret_cast<uintptr_t>(pages) % 4096, 0u);
  delete[] pages;
  auto* page = new Page;  // exactly one 4 KB block of the block pool
  EXPECT_EQ(zfmmOwnerClassOf(page), zfmmCommittedClass(0));
  delete page;
  void* big = ::operator new(200000, std::align_val_t(65536));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(big) % 65536, 0u);
  ::operator delete(big, std::align_val_t(65536));
  void* huge = ::operator new(1000, std::align_val_t(1 << 20));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(huge) % (1 << 20), 0u);
  ::operator delete(huge, std::align_val_t(1 << 20));
  EXPECT_THROW((void)::operator new(SIZE_MAX / 2), std::bad_alloc);
  EXPECT_EQ(::operator new(SIZE_MAX / 2, std::nothrow), nullptr);
#else
  GTEST_SKIP() << "the C library serves operator new in this build";
#endif
}

// ---- stress ---------------------------------------------------------------------------------

// Threads allocate items and large blocks of random sizes, hand half of them to the next thread
// to free, and check every byte pattern before freeing.
void CrossThreadStress(int aThreads, int aRounds) {
  struct Mailbox {
    std::atomic<uint8_t**> Slot{nullptr};
  };
  std::vector<Mailbox> boxes(aThreads);
  std::atomic<int> failures{0};
  auto check = [&](uint8_t* p) {
    size_t size;
    std::memcpy(&size, p, sizeof size);
    for (size_t i = sizeof size; i < size; i += 61)
      if (p[i] != uint8_t(size + i)) {
        ++failures;
        break;
      }
    if (ItemFreeMem(p) != 0) ++failures;
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < aThreads; ++t)
    threads.emplace_back([&, t] {
      std::mt19937_64 rng(t * 7919);
      for (int round = 0; round < aRounds; ++round) {
        constexpr int kBatch = 64;
        auto** batch = static_cast<uint8_t**>(ItemGetMem(kBatch * sizeof(uint8_t*)));
        for (int i = 0; i < kBatch; ++i) {
          size_t size = rng() % 8 == 0 ? 32736 + rng() % 200000 : 8 + rng() % 4096;
          auto* p = static_cast<uint8_t*>(ItemGetMem(size));
          if (!p) {
            ++failures;
            continue;
          }
          std::memcpy(p, &size, sizeof size);
          for (size_t j = sizeof size; j < size; j += 61) p[j] = uint8_t(size + j);
          batch[i] = p;
        }
        // Hand the batch to the next thread and free whatever it handed us.
        uint8_t** mine = boxes[(t + 1) % aThreads].Slot.exchange(batch);
        if (mine) {
          for (int i = 0; i < kBatch; ++i) check(mine[i]);
          ItemFreeMem(mine);
        }
      }
    });
  for (auto& th : threads) th.join();
  for (auto& box : boxes)
    if (uint8_t** rest = box.Slot.exchange(nullptr)) {
      for (int i = 0; i < 64; ++i) check(rest[i]);
      ItemFreeMem(rest);
    }
  EXPECT_EQ(failures.load(), 0);
}

TEST_F(Engine, CrossThreadStressShort) { CrossThreadStress(4, 200); }
TEST_F(Engine, CrossThreadStressSlow) { CrossThreadStress(8, 20000); }

}  // namespace
}  // namespace zf::mm
