#include "foundation/zfmmItemManager.h"

#include <pthread.h>
#include <time.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>

#include "foundation/zfllLockedFuncs.h"
#include "foundation/zfmmBlockManager.h"
#include "foundation/zfmmChunkManager.h"
#include "platform/rtl/rtlException.h"

namespace zf::mm {

int32_t zfmmZeroOnFree = 0;

const uint32_t kzfSizeClasses[kzfSizeClassCount] = {
    4,    8,    16,   32,   48,   64,                                                            //
    96,   128,  160,  192,  224,  256,  288,  320,  352,  384,  416,  448,  480,  512,  544,       //
    576,  608,  640,  672,  704,  736,  768,  800,  832,  864,  896,  928,  960,  992,  1024,      //
    1280, 1536, 1792, 2048, 2304, 2560, 2816, 3072, 3328, 3584, 3840,                              //
    4064, 4352, 4672, 5024, 5440, 5952, 6528, 7264, 8160, 9344, 10912, 13088, 16352, 21824, 32736};

namespace {

constexpr uint32_t kLargeMagic = 0x5A464C42;  // "ZFLB"
constexpr uint64_t kUnit = 65536;
constexpr uint64_t kPage = 4096;
constexpr uint64_t kMaxLargeRequest = uint64_t(1) << 46;

constinit TzfMemoryPool gPools[kzfSizeClassCount];
TzfMemoryPool* gRoute32[1023];  // requests of 65 .. 32735 bytes, by (s - 1) div 32
TzfMemoryPool* gRoute4[17];     // requests of 0 .. 64 bytes, by s div 4
TzfBlockClass* gItemBlockClass = nullptr;
constinit int gStarts = 0;
// Set when some pool has a block whose last item was freed.
constinit uint32_t gCleanupPending = 0;

// Statistics of large blocks (items are counted by their pools).
constinit std::atomic<uint64_t> gLargeAddressSpace{0};
constinit std::atomic<uint64_t> gLargeCommitted{0};
constinit std::atomic<uint64_t> gLargeAllocated{0};

inline uint64_t RoundUp(uint64_t v, uint64_t m) { return (v + m - 1) & ~(m - 1); }

// ---- large-block registry: one entry per 64 KB unit of the 47-bit address space --------------

constexpr int kLeafBits = 15;
constexpr int kRootBits = 47 - 16 - kLeafBits;
using TLeaf = std::atomic<TzfLargeBlockTrailer*>;
constinit std::atomic<TLeaf*> gRegistry[size_t(1) << kRootBits];

TLeaf* RegistrySlot(uintptr_t aBase, bool aCreate) {
  uint64_t unit = aBase >> 16;
  if (unit >> (kRootBits + kLeafBits)) return nullptr;
  auto& root = gRegistry[unit >> kLeafBits];
  TLeaf* leaf = root.load(std::memory_order_acquire);
  if (!leaf) {
    if (!aCreate) return nullptr;
    void* m = ::mmap(nullptr, sizeof(TLeaf) << kLeafBits, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return nullptr;
    TLeaf* expected = nullptr;
    if (root.compare_exchange_strong(expected, static_cast<TLeaf*>(m), std::memory_order_acq_rel)) {
      leaf = static_cast<TLeaf*>(m);
    } else {
      ::munmap(m, sizeof(TLeaf) << kLeafBits);
      leaf = expected;
    }
  }
  return &leaf[unit & ((1u << kLeafBits) - 1)];
}

void FreeRegistry() {
  for (auto& root : gRegistry) {
    if (TLeaf* leaf = root.exchange(nullptr)) ::munmap(leaf, sizeof(TLeaf) << kLeafBits);
  }
}

// Maps aBytes of address space on a 64 KB boundary, readable and writable, pages made on use.
void* MapAligned(uint64_t aBytes) {
  uint64_t total = aBytes + kUnit;
  void* m = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (m == MAP_FAILED) return nullptr;
  uintptr_t start = reinterpret_cast<uintptr_t>(m);
  uintptr_t base = RoundUp(start, kUnit);
  if (base > start) ::munmap(m, base - start);
  uintptr_t end = start + total;
  if (end > base + aBytes) ::munmap(reinterpret_cast<void*>(base + aBytes), end - base - aBytes);
  return reinterpret_cast<void*>(base);
}

TzfLargeBlockTrailer* PlaceTrailer(uintptr_t aBase, uint64_t aSize, uint64_t aMapped, uint32_t aCount) {
  uint64_t pages = RoundUp(aSize + sizeof(TzfLargeBlockTrailer), kPage);
  auto* t = reinterpret_cast<TzfLargeBlockTrailer*>(aBase + pages - sizeof(TzfLargeBlockTrailer));
  t->RequestedSize = aSize;
  t->MappedBytes = aMapped;
  t->PagesInUse = pages;
  t->Base = aBase;
  t->ReallocCount = aCount;
  t->Magic = kLargeMagic;
  t->Spare[0] = t->Spare[1] = t->Spare[2] = 0;
  return t;
}

void* LargeAlloc(uint64_t aSize, uint32_t aCount) {
  if (aSize > kMaxLargeRequest) return nullptr;
  uint64_t mapped = zfmmLargeReservation(aSize, aCount);
  void* base = MapAligned(mapped);
  if (!base) return nullptr;
  TLeaf* slot = RegistrySlot(reinterpret_cast<uintptr_t>(base), true);
  if (!slot) {
    ::munmap(base, mapped);
    return nullptr;
  }
  TzfLargeBlockTrailer* t = PlaceTrailer(reinterpret_cast<uintptr_t>(base), aSize, mapped, aCount);
  slot->store(t, std::memory_order_release);
  gLargeAddressSpace.fetch_add(mapped, std::memory_order_relaxed);
  gLargeCommitted.fetch_add(t->PagesInUse, std::memory_order_relaxed);
  gLargeAllocated.fetch_add(aSize, std::memory_order_relaxed);
  return base;
}

int32_t LargeFree(void* P) {
  TLeaf* slot = RegistrySlot(reinterpret_cast<uintptr_t>(P), false);
  if (!slot) return 1;
  TzfLargeBlockTrailer* t = slot->load(std::memory_order_acquire);
  // Claim the entry, so that two frees of the same block free it once.
  if (!t || t->Base != reinterpret_cast<uintptr_t>(P) || !slot->compare_exchange_strong(t, nullptr)) return 1;
  uint64_t mapped = t->MappedBytes, pages = t->PagesInUse, size = t->RequestedSize;
  if (zfmmZeroOnFree) std::memset(P, 0, size);
  gLargeAddressSpace.fetch_sub(mapped, std::memory_order_relaxed);
  gLargeCommitted.fetch_sub(pages, std::memory_order_relaxed);
  gLargeAllocated.fetch_sub(size, std::memory_order_relaxed);
  return ::munmap(P, mapped) == 0 ? 0 : 1;
}

void* LargeRealloc(void* P, uint64_t aSize) {
  TLeaf* slot = RegistrySlot(reinterpret_cast<uintptr_t>(P), false);
  TzfLargeBlockTrailer* t = slot ? slot->load(std::memory_order_acquire) : nullptr;
  if (!t || t->Base != reinterpret_cast<uintptr_t>(P)) rtl::RaiseInvalidPointer();
  if (aSize > kMaxLargeRequest) return nullptr;
  uint64_t oldSize = t->RequestedSize, oldPages = t->PagesInUse, mapped = t->MappedBytes;
  uint32_t count = t->ReallocCount;
  uint64_t pages = RoundUp(aSize + sizeof(TzfLargeBlockTrailer), kPage);
  uintptr_t base = reinterpret_cast<uintptr_t>(P);

  // Much smaller: move the content into a fresh allocation (an item when it is small enough).
  if (aSize <= kzfMaxItemRequest || 8 * pages < oldPages) {
    void* q = ItemGetMem(aSize);
    if (!q) return nullptr;
    std::memcpy(q, P, std::min(aSize, oldSize));
    LargeFree(P);
    return q;
  }
  if (pages <= mapped) {
    // Fits the block's address space: only the trailer moves; pages no longer used go back.
    if (pages < oldPages) ::madvise(reinterpret_cast<void*>(base + pages), oldPages - pages, MADV_DONTNEED);
    TzfLargeBlockTrailer* nt = PlaceTrailer(base, aSize, mapped, pages > oldPages ? count + 1 : count);
    slot->store(nt, std::memory_order_release);
    gLargeCommitted.fetch_add(pages - oldPages, std::memory_order_relaxed);  // wraps to a subtraction
    gLargeAllocated.fetch_add(aSize - oldSize, std::memory_order_relaxed);
    return P;
  }
  // Grow the address space: in place when the range after it is free, otherwise move the pages
  // (mremap moves page tables, it copies nothing) into a new 64 KB aligned range.
  uint64_t newMapped = zfmmLargeReservation(aSize, count + 1);
  uintptr_t newBase = base;
  void* r = ::mremap(P, mapped, newMapped, 0);
  if (r == MAP_FAILED) {
    void* target = MapAligned(newMapped);
    if (!target) return nullptr;
    r = ::mremap(P, mapped, newMapped, MREMAP_MAYMOVE | MREMAP_FIXED, target);
    if (r == MAP_FAILED) {
      ::munmap(target, newMapped);
      return nullptr;
    }
    newBase = reinterpret_cast<uintptr_t>(r);
  }
  TLeaf* newSlot = newBase == base ? slot : RegistrySlot(newBase, true);
  if (!newSlot) {
    // Cannot register the new place: the content is there, put it back where it was known.
    if (::mremap(r, newMapped, mapped, MREMAP_MAYMOVE | MREMAP_FIXED, P) == MAP_FAILED) rtl::RaiseOutOfMemory();
    return nullptr;
  }
  TzfLargeBlockTrailer* nt = PlaceTrailer(newBase, aSize, newMapped, count + 1);
  if (newSlot != slot) slot->store(nullptr, std::memory_order_release);
  newSlot->store(nt, std::memory_order_release);
  gLargeAddressSpace.fetch_add(newMapped - mapped, std::memory_order_relaxed);
  gLargeCommitted.fetch_add(pages - oldPages, std::memory_order_relaxed);
  gLargeAllocated.fetch_add(aSize - oldSize, std::memory_order_relaxed);
  return reinterpret_cast<void*>(newBase);
}

// ---- per-thread cache of free items ----------------------------------------------------------
//
// A freed item is checked (live allocation bit, no free mark) and kept by the freeing thread for
// its next allocation of the same class: no list operation and no write to the shared block
// header on either side. Its first word holds a free mark (its address mixed with a per-start
// secret), so freeing it again is refused; the allocation bit stays set and the item counted in
// its block until it goes back to the pool, so the block cannot be given back meanwhile.
// The cache also moves items to and from the pools in batches: an empty class takes a run of
// items of one block (one list operation, and neighbouring items stay with one thread instead
// of sharing cache lines between threads), and a full class gives its older half back. Each
// class keeps at most 32 KB (and 256 items) per thread. A thread's cache is emptied when the
// thread ends.

constexpr int kCacheSlots = 256;
constexpr uint32_t kCacheBytes = 32768;
struct TThreadCache {
  uint32_t Generation;
  uint16_t Count[kzfSizeClassCount];
  void* Items[kzfSizeClassCount][kCacheSlots];
};
constinit uint16_t gCacheLimit[kzfSizeClassCount] = {};
constinit uint16_t gRefillCount[kzfSizeClassCount] = {};  // items an empty class takes at once
constinit uint32_t gGeneration = 0;  // changes at every start, so caches of a previous run are dropped
constinit uintptr_t gFreeMarkSecret = 0;
inline uintptr_t FreeMark(const void* P) { return (reinterpret_cast<uintptr_t>(P) ^ gFreeMarkSecret) | 1; }
constinit pthread_key_t gCacheKey = 0;
constinit bool gCacheKeyMade = false;
constinit thread_local TThreadCache* tCache = nullptr;
TThreadCache* const kNoCache = reinterpret_cast<TThreadCache*>(uintptr_t(1));

void FlushCache(TThreadCache* c) {
  if (c->Generation == __atomic_load_n(&gGeneration, __ATOMIC_ACQUIRE) && gStarts > 0) {
    for (int k = 0; k < kzfSizeClassCount; ++k) gPools[k].ReleaseBatch(c->Items[k], c->Count[k]);
  }
  for (auto& n : c->Count) n = 0;
}

// Class k of the cache is full: its older half goes back to the pool.
__attribute__((noinline)) void SpillHalf(TThreadCache* c, int k) {
  int count = c->Count[k], spill = std::max(1, count / 2);
  gPools[k].ReleaseBatch(c->Items[k], spill);
  std::memmove(&c->Items[k][0], &c->Items[k][spill], size_t(count - spill) * sizeof(void*));
  c->Count[k] = uint16_t(count - spill);
}

// Class k of the cache is empty: takes a run of items from the pool, returns the first and
// caches the others (marked free) so that they come out next in address order.
__attribute__((noinline)) void* Refill(TThreadCache* c, int k) {
  void* run[kCacheSlots];
  int n = gPools[k].AllocBatch(run, gRefillCount[k]);
  if (n == 0) return nullptr;
  for (int i = n - 1; i > 0; --i) {
    *static_cast<uintptr_t*>(run[i]) = FreeMark(run[i]);
    c->Items[k][c->Count[k]++] = run[i];
  }
  return run[0];
}

void DestroyCache(void* aCache) {
  auto* c = static_cast<TThreadCache*>(aCache);
  FlushCache(c);
  ::munmap(c, sizeof(TThreadCache));
  tCache = kNoCache;  // frees later in this thread's exit go straight to the pools
}

// The calling thread's cache, made on first use; nullptr when it cannot have one.
TThreadCache* MakeCache() {
  if (!gCacheKeyMade) return nullptr;
  void* m = ::mmap(nullptr, sizeof(TThreadCache), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m == MAP_FAILED) {
    tCache = kNoCache;
    return nullptr;
  }
  auto* c = static_cast<TThreadCache*>(m);
  c->Generation = __atomic_load_n(&gGeneration, __ATOMIC_ACQUIRE);
  pthread_setspecific(gCacheKey, c);
  tCache = c;
  return c;
}

inline __attribute__((always_inline)) TThreadCache* Cache() {
  TThreadCache* c = tCache;
  if (__builtin_expect(c == nullptr, 0)) c = MakeCache();
  if (__builtin_expect(c == nullptr, 0)) return nullptr;
  if (c == kNoCache) return nullptr;
  uint32_t generation = __atomic_load_n(&gGeneration, __ATOMIC_RELAXED);
  if (__builtin_expect(c->Generation != generation, 0)) {
    for (auto& n : c->Count) n = 0;
    c->Generation = generation;
  }
  return c;
}

inline TzfItemBlockHeader* BlockOf(const void* P) {
  return reinterpret_cast<TzfItemBlockHeader*>(reinterpret_cast<uintptr_t>(P) & ~uintptr_t(kzfItemBlockSize - 1));
}

// The pool that owns item P, or nullptr when P is not inside an item block.
inline __attribute__((always_inline)) TzfMemoryPool* ItemOwner(const void* P) {
  if (!zfmmInChunkRange(P) || (reinterpret_cast<uintptr_t>(P) & (kzfItemBlockSize - 1)) == 0) return nullptr;
  if (zfmmOwnerClassOf(P) != gItemBlockClass) return nullptr;
  TzfMemoryPool* owner = __atomic_load_n(&BlockOf(P)->Owner, __ATOMIC_ACQUIRE);
  // The block may be a 64 KB block-pool block whose first bytes are anyone's data.
  auto addr = reinterpret_cast<uintptr_t>(owner), lo = reinterpret_cast<uintptr_t>(&gPools[0]);
  if (addr < lo || addr >= lo + sizeof gPools || (addr - lo) % sizeof(TzfMemoryPool) != 0) return nullptr;
  return owner;
}

}  // namespace

uint64_t zfmmLargeReservation(uint64_t aSize, uint32_t aCount) {
  uint64_t units = RoundUp(aSize + sizeof(TzfLargeBlockTrailer), kUnit);
  if (aCount == 0) return units;
  // A block that has grown before gets room to grow again: 2, 4, then 8 times the request, the
  // extra room bounded by 1 GB of address space.
  uint64_t factor = aCount <= 4 ? 2 : aCount <= 16 ? 4 : 8;
  return units + std::min<uint64_t>((factor - 1) * units, uint64_t(1) << 30);
}

TzfLargeBlockTrailer* zfmmLargeTrailer(const void* P) {
  TLeaf* slot = RegistrySlot(reinterpret_cast<uintptr_t>(P), false);
  TzfLargeBlockTrailer* t = slot ? slot->load(std::memory_order_acquire) : nullptr;
  return t && t->Base == reinterpret_cast<uintptr_t>(P) ? t : nullptr;
}

int ClassForSize(size_t s) {
  if (s == 0 || s > 32736) return -1;
  if (s <= 4) return 0;
  if (s <= 8) return 1;
  if (s <= 64) return 2 + int((s - 1) / 16);
  if (s <= 1024) return 6 + int((s - 65) / 32);
  if (s <= 3840) return 36 + int((s - 1025) / 256);
  for (int i = 47; i < kzfSizeClassCount; ++i)
    if (kzfSizeClasses[i] >= s) return i;
  return -1;
}

// ---- item pools -----------------------------------------------------------------------------

void TzfMemoryPool::Create(uint32_t aItemSize) {
  uint32_t itemSize = aItemSize <= 8 ? 8 : (aItemSize + 7) & ~7u;
  uint32_t estimate = uint32_t((kzfItemBlockSize - kzfItemBlockHeaderFixed) / itemSize);
  uint32_t header = (uint32_t(kzfItemBlockHeaderFixed) + (estimate + 7) / 8 + 15) & ~15u;
  mpItemSize = itemSize;
  mpBlockHeaderSize = header;
  mpItemsPerBlock = (65535 - header) / itemSize;
  ZF_ASSERT(mpItemsPerBlock > 0, "zfmmItemManager");
  // ceil(2^32 / size): its error over an offset below 2^16 stays under 1 / size.
  mpReciprocal = uint32_t(((uint64_t(1) << 32) + itemSize - 1) / itemSize);
  mpPartialFreeBlockBool = 0;
  ListHeadInit(mpPartialFreeBlockHead1);
  ListHeadInit(mpPartialFreeBlockHead2);
  ListHeadInit(mpFreeBlockHead);
  mpNeedCleanup = 0;
  mpLiveItems.store(0);
  mpBlocks.store(0);
}

TzfItemBlockHeader* TzfMemoryPool::NewBlock() {
  // Empty blocks of other pools go back first, so that this block reuses their memory instead
  // of growing the heap until the trimming thread's next tick.
  if (__atomic_load_n(&gCleanupPending, __ATOMIC_ACQUIRE)) CleanupAll();
  auto* b = static_cast<TzfItemBlockHeader*>(BlockPoolAlloc(gItemBlockClass));
  if (!b) return nullptr;
  std::memset(static_cast<void*>(b), 0, mpBlockHeaderSize);
  b->Owner = this;
  b->Carved = 0;  // no item handed out yet; freed items go to the free-item list
  mpBlocks.fetch_add(1, std::memory_order_relaxed);
  return b;
}

void TzfMemoryPool::GiveBack(TzfItemBlockHeader* aBlock) {
  aBlock->Owner = nullptr;  // a stale pointer into the block is refused from now on
  mpBlocks.fetch_sub(1, std::memory_order_relaxed);
  BlockPoolDispose(gItemBlockClass, aBlock);
}

// Takes a block out of every list after its last free item went; puts it straight back when an
// item was freed meanwhile. Exactly one thread re-lists a detached block: the one whose
// compare-exchange moves the flag from 1 to 0.
void TzfMemoryPool::Detach(TzfItemBlockHeader* b) {
  uint32_t expected = 0;
  if (!__atomic_compare_exchange_n(&b->Detached, &expected, 1u, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
    rtl::RaiseInvalidPointer();
  if (__atomic_load_n(&b->FreeItems.lhFirst, __ATOMIC_ACQUIRE) != nullptr) {
    expected = 1;
    if (__atomic_compare_exchange_n(&b->Detached, &expected, 0u, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
      ListPush(Partial(__atomic_load_n(&mpPartialFreeBlockBool, __ATOMIC_ACQUIRE)), &b->Link);
  }
}

// A block with room: the current partial list's first, else an empty one, else a new one. The
// block is the caller's alone until PutBlock or Detach puts it back: only its holder carves.
TzfItemBlockHeader* TzfMemoryPool::TakeBlock(uint32_t aSelector) {
  auto* b = reinterpret_cast<TzfItemBlockHeader*>(ListPop(Partial(aSelector)));
  if (!b) b = reinterpret_cast<TzfItemBlockHeader*>(ListPop(mpFreeBlockHead));
  if (!b) b = NewBlock();
  return b;
}

// Lists a taken block again while it has room; otherwise it stays out of every list.
void TzfMemoryPool::PutBlock(TzfItemBlockHeader* b, uint32_t aSelector) {
  if (b->Carved < mpItemsPerBlock || __atomic_load_n(&b->FreeItems.lhFirst, __ATOMIC_ACQUIRE) != nullptr)
    ListPush(Partial(aSelector), &b->Link);
  else
    Detach(b);
}

// Checks an item taken from block b and sets its allocation bit.
void TzfMemoryPool::SetAllocated(TzfItemBlockHeader* b, void* aItem) {
  uintptr_t offset = reinterpret_cast<uintptr_t>(aItem) - reinterpret_cast<uintptr_t>(b) - mpBlockHeaderSize;
  uint32_t index = uint32_t(offset / mpItemSize);
  if (offset % mpItemSize != 0 || index >= mpItemsPerBlock) rtl::RaiseInvalidPointer();
  uint32_t bit = 1u << (index & 31);
  if (__atomic_fetch_or(&b->AllocBitmap()[index >> 5], bit, __ATOMIC_ACQ_REL) & bit) rtl::RaiseInvalidPointer();
  static_cast<TzfListEntry*>(aItem)->leNext = nullptr;  // no stale free mark survives in a handed-out item
}

int TzfMemoryPool::AllocBatch(void** aItems, int aCount) {
  for (;;) {
    uint32_t sel = __atomic_load_n(&mpPartialFreeBlockBool, __ATOMIC_ACQUIRE);
    TzfItemBlockHeader* b = TakeBlock(sel);
    if (!b) return 0;
    int n = 0;
    while (n < aCount) {
      TzfListEntry* item = ListPop(b->FreeItems);
      if (!item) {
        if (b->Carved >= mpItemsPerBlock) break;
        // Items are carved in address order as they are first needed, so a new block touches
        // only the pages its items use.
        item = reinterpret_cast<TzfListEntry*>(reinterpret_cast<uint8_t*>(b) + mpBlockHeaderSize +
                                               size_t(b->Carved) * mpItemSize);
        ++b->Carved;
      }
      aItems[n++] = item;
    }
    if (n == 0) {
      Detach(b);
      continue;
    }
    // Counted before the block goes back into a list, so that the cleanup does not give it back.
    __atomic_add_fetch(&b->UsedCount, n, __ATOMIC_ACQ_REL);
    PutBlock(b, sel);
    for (int i = 0; i < n; ++i) SetAllocated(b, aItems[i]);
    mpLiveItems.fetch_add(n, std::memory_order_relaxed);
    return n;
  }
}

void* TzfMemoryPool::Alloc() {
  void* item = nullptr;
  return AllocBatch(&item, 1) ? item : nullptr;
}

// The allocation bitmap word and bit (aBit) of item P when P lies on an item of a block of this
// pool, nullptr otherwise. Inlined into the free path.
inline __attribute__((always_inline)) uint32_t* TzfMemoryPool::AllocWord(const void* P, uint32_t& aBit) const {
  auto* b = const_cast<TzfItemBlockHeader*>(BlockOf(P));
  uintptr_t at = reinterpret_cast<uintptr_t>(P) - reinterpret_cast<uintptr_t>(b);
  if (at < mpBlockHeaderSize || __atomic_load_n(&b->Owner, __ATOMIC_ACQUIRE) != this) return nullptr;
  uint32_t offset = uint32_t(at - mpBlockHeaderSize);
  // offset / item size by a multiply: exact for every offset below 65536 (see Create).
  uint32_t index = uint32_t((uint64_t(offset) * mpReciprocal) >> 32);
  if (index * mpItemSize != offset || index >= mpItemsPerBlock) return nullptr;
  aBit = 1u << (index & 31);
  return &b->AllocBitmap()[index >> 5];
}

bool TzfMemoryPool::TakeBackLive(void* P) {
  uint32_t bit = 0;
  uint32_t* word = AllocWord(P, bit);
  if (!word || !(__atomic_fetch_and(word, ~bit, __ATOMIC_ACQ_REL) & bit)) return false;  // not live
  if (zfmmZeroOnFree) std::memset(P, 0, mpItemSize);
  return true;
}

bool TzfMemoryPool::IsLiveItem(const void* P) const {
  uint32_t bit = 0;
  const uint32_t* word = AllocWord(P, bit);
  return word && (__atomic_load_n(word, __ATOMIC_ACQUIRE) & bit);
}

void TzfMemoryPool::ReleaseUncounted(void* P) {
  TzfItemBlockHeader* b = BlockOf(P);
  ListPush(b->FreeItems, static_cast<TzfListEntry*>(P));
  uint32_t expected = 1;
  if (__atomic_load_n(&b->Detached, __ATOMIC_ACQUIRE) == 1 &&
      __atomic_compare_exchange_n(&b->Detached, &expected, 0u, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
    ListPush(Partial(__atomic_load_n(&mpPartialFreeBlockBool, __ATOMIC_ACQUIRE)), &b->Link);
  // The count drops last: once it reaches 0 the cleanup may give the block back, so nothing
  // here may touch the block after it.
  if (__atomic_sub_fetch(&b->UsedCount, 1, __ATOMIC_ACQ_REL) == 0) {
    __atomic_store_n(&mpNeedCleanup, 1u, __ATOMIC_RELEASE);
    __atomic_store_n(&gCleanupPending, 1u, __ATOMIC_RELEASE);
  }
}

void TzfMemoryPool::Release(void* P) {
  ReleaseUncounted(P);
  mpLiveItems.fetch_sub(1, std::memory_order_relaxed);
}

void TzfMemoryPool::ReleaseBatch(void* const* aItems, int aCount) {
  int released = 0;
  for (int i = 0; i < aCount; ++i)
    if (TakeBackLive(aItems[i])) {
      ReleaseUncounted(aItems[i]);
      ++released;
    }
  mpLiveItems.fetch_sub(released, std::memory_order_relaxed);
}

int32_t TzfMemoryPool::DisposeDirect(void* P) {
  if (!TakeBackLive(P)) return 1;
  Release(P);
  return 0;
}

void TzfMemoryPool::Cleanup() {
  // One cleaner per pool at a time (the trimming thread, or an allocation about to carve a block).
  if (__atomic_exchange_n(&mpCleaning, 1u, __ATOMIC_ACQUIRE)) return;
  uint32_t one = 1;
  if (__atomic_load_n(&mpNeedCleanup, __ATOMIC_ACQUIRE) &&
      __atomic_compare_exchange_n(&mpNeedCleanup, &one, 0u, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
    uint32_t current = __atomic_load_n(&mpPartialFreeBlockBool, __ATOMIC_ACQUIRE);
    uint32_t other = current ? 0 : 1;
    // Drain the current list while allocations and disposals move on to the other one.
    while (auto* b = reinterpret_cast<TzfItemBlockHeader*>(ListPop(Partial(current)))) {
      if (__atomic_load_n(&b->UsedCount, __ATOMIC_ACQUIRE) > 0) {
        ListPush(Partial(other), &b->Link);
        __atomic_store_n(&mpPartialFreeBlockBool, other, __ATOMIC_RELEASE);
      } else {
        GiveBack(b);
      }
    }
  }
  while (auto* b = reinterpret_cast<TzfItemBlockHeader*>(ListPop(mpFreeBlockHead))) {
    if (__atomic_load_n(&b->UsedCount, __ATOMIC_ACQUIRE) != 0) {
      __atomic_store_n(&mpCleaning, 0u, __ATOMIC_RELEASE);
      ZF_ASSERT(false, "zfmmItemManager");
    }
    GiveBack(b);
  }
  __atomic_store_n(&mpCleaning, 0u, __ATOMIC_RELEASE);
}

void TzfMemoryPool::Finalize() {
  // The block manager is torn down after this; blocks still holding items go with it.
  ListPopAll(mpPartialFreeBlockHead1);
  ListPopAll(mpPartialFreeBlockHead2);
  ListPopAll(mpFreeBlockHead);
  mpBlocks.store(0);
  mpLiveItems.store(0);
}

void TzfMemoryPool::CleanupAll() {
  __atomic_store_n(&gCleanupPending, 0u, __ATOMIC_RELEASE);
  for (auto& pool : gPools) pool.Cleanup();
}

TzfMemoryPool* zfmmPool(int aIndex) { return &gPools[aIndex]; }

void zfmmFlushThreadCache() {
  TThreadCache* c = tCache;
  if (c && c != kNoCache) FlushCache(c);
}

TzfMemoryPool* zfmmPoolForSize(size_t aSize) { return aSize >= 65 ? gRoute32[(aSize - 1) >> 5] : gRoute4[aSize >> 2]; }

TzfMemoryPool* zfmmItemOwner(const void* P) { return ItemOwner(P); }

bool zfmmItemManagerStart() {
  if (gStarts++ > 0) return true;
  if (!zfmmBlockManagersStart()) {
    gStarts = 0;
    return false;
  }
  gItemBlockClass = zfmmCommittedClass(kzfItemBlockClass);
  for (int i = 0; i < kzfSizeClassCount; ++i) gPools[i].Create(kzfSizeClasses[i]);
  for (int k = 0; k < 1023; ++k) gRoute32[k] = &gPools[ClassForSize(size_t(k + 1) * 32)];
  for (int k = 0; k < 17; ++k) gRoute4[k] = &gPools[ClassForSize(size_t(k + 1) * 4)];
  for (int i = 0; i < kzfSizeClassCount; ++i) {
    gCacheLimit[i] = uint16_t(std::clamp<uint32_t>(kCacheBytes / gPools[i].mpItemSize, 1, kCacheSlots));
    gRefillCount[i] = uint16_t(std::max(1, gCacheLimit[i] / 4));
  }
  __atomic_add_fetch(&gGeneration, 1, __ATOMIC_ACQ_REL);
  {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uintptr_t local = reinterpret_cast<uintptr_t>(&ts);
    gFreeMarkSecret = (uintptr_t(ts.tv_nsec) * 0x9E3779B97F4A7C15ull) ^ (local << 17) ^ uintptr_t(ts.tv_sec);
  }
  if (!gCacheKeyMade) gCacheKeyMade = pthread_key_create(&gCacheKey, DestroyCache) == 0;
  return true;
}

void zfmmItemManagerStop() {
  if (gStarts == 0 || --gStarts > 0) return;
  __atomic_add_fetch(&gGeneration, 1, __ATOMIC_ACQ_REL);  // every thread's cache is void now
  for (auto& pool : gPools) pool.Finalize();
  zfmmBlockManagersStop();
  FreeRegistry();
}

namespace {

// The calling thread's cache when it is usable as it is (made, of the current start).
inline __attribute__((always_inline)) TThreadCache* ReadyCache() {
  TThreadCache* c = tCache;
  if (__builtin_expect(reinterpret_cast<uintptr_t>(c) <= reinterpret_cast<uintptr_t>(kNoCache), 0)) return nullptr;
  if (__builtin_expect(c->Generation != __atomic_load_n(&gGeneration, __ATOMIC_RELAXED), 0)) return nullptr;
  return c;
}

// The allocation paths that are not a cache hit: an empty class, a cache not made yet or of a
// previous start, or a thread without cache.
__attribute__((noinline)) void* GetMemSlow(int k) {
  if (TThreadCache* c = Cache()) {
    if (c->Count[k] > 0) {
      void* p = c->Items[k][--c->Count[k]];
      *static_cast<uintptr_t*>(p) = 0;  // clears the free mark
      return p;
    }
    return Refill(c, k);
  }
  return gPools[k].Alloc();
}

// The free paths that are not a plain cache store; P is a checked live item of class k.
__attribute__((noinline)) int32_t FreeMemSlow(void* P, int k) {
  TzfMemoryPool* pool = &gPools[k];
  if (TThreadCache* c = Cache()) {
    if (c->Count[k] >= gCacheLimit[k]) SpillHalf(c, k);
    if (zfmmZeroOnFree) std::memset(P, 0, pool->mpItemSize);
    *static_cast<uintptr_t*>(P) = FreeMark(P);
    c->Items[k][c->Count[k]++] = P;
    return 0;
  }
  if (!pool->TakeBackLive(P)) return 1;
  pool->Release(P);
  return 0;
}

int32_t FreeOutsideItems(void* P) {
  if (reinterpret_cast<uintptr_t>(P) & (kzfItemBlockSize - 1)) return 1;
  return LargeFree(P);
}

}  // namespace

// The cache hits are kept free of calls (the other paths are tail calls), so that they need no
// stack frame.
void* ItemGetMem(size_t aSize) {
  if (aSize > kzfMaxItemRequest) return LargeAlloc(aSize, 0);
  int k = int(zfmmPoolForSize(aSize) - gPools);
  TThreadCache* c = ReadyCache();
  if (__builtin_expect(c != nullptr && c->Count[k] > 0, 1)) {
    void* p = c->Items[k][--c->Count[k]];
    *static_cast<uintptr_t*>(p) = 0;  // clears the free mark
    return p;
  }
  return GetMemSlow(k);
}

namespace {

// The pool of P when P is the start of a live item (in the chunk range), nullptr otherwise: a live
// item has its allocation bit set and no free mark; an item in a thread's cache carries the mark.
inline __attribute__((always_inline)) TzfMemoryPool* LiveItemOwner(void* P) {
  TzfMemoryPool* pool = ItemOwner(P);
  if (!pool) return nullptr;
  uint32_t bit = 0;
  const uint32_t* word = pool->AllocWord(P, bit);
  if (!word || !(__atomic_load_n(word, __ATOMIC_ACQUIRE) & bit) || *static_cast<uintptr_t*>(P) == FreeMark(P))
    return nullptr;
  return pool;
}

}  // namespace

int32_t ItemFreeMem(void* P) {
  if (!zfmmInChunkRange(P)) return FreeOutsideItems(P);
  TzfMemoryPool* pool = LiveItemOwner(P);
  if (!pool) return 1;
  int k = int(pool - gPools);
  TThreadCache* c = ReadyCache();
  if (__builtin_expect(c != nullptr && c->Count[k] < gCacheLimit[k] && !zfmmZeroOnFree, 1)) {
    *static_cast<uintptr_t*>(P) = FreeMark(P);
    c->Items[k][c->Count[k]++] = P;
    return 0;
  }
  return FreeMemSlow(P, k);
}

void* ItemReallocMem(void* P, size_t aSize) {
  if (!zfmmInChunkRange(P)) return LargeRealloc(P, aSize);
  // A freed item, or a pointer into the middle of one, is refused on every path, before anything
  // is copied from it.
  TzfMemoryPool* pool = LiveItemOwner(P);
  if (!pool) rtl::RaiseInvalidPointer();
  size_t t = pool->mpItemSize;
  size_t request;
  if (aSize == t) return P;
  if (aSize < t) {
    if (32 * aSize > t) return P;
    request = aSize;
  } else {
    request = aSize <= 64 ? 8 * aSize : aSize <= 1024 ? 4 * aSize : aSize <= 8192 ? 2 * aSize : aSize;
  }
  void* q = ItemGetMem(request);
  if (!q) return nullptr;
  std::memcpy(q, P, std::min(aSize, t));
  if (ItemFreeMem(P) != 0) {
    // Freed by another thread meanwhile: the copy is of nothing the caller owns.
    ItemFreeMem(q);
    rtl::RaiseInvalidPointer();
  }
  return q;
}

void ItemGetHeapStatus(TzfHeapStatus& aStatus) {
  aStatus = TzfHeapStatus{};
  uint64_t space = gLargeAddressSpace.load(), committed = gLargeCommitted.load(), allocated = gLargeAllocated.load();
  uint64_t overhead = 0;
  for (auto& pool : gPools) {
    int64_t blocks = std::max<int64_t>(0, pool.mpBlocks.load(std::memory_order_relaxed));
    int64_t live = std::max<int64_t>(0, pool.mpLiveItems.load(std::memory_order_relaxed));
    space += uint64_t(blocks) * kzfItemBlockSize;
    committed += uint64_t(blocks) * kzfItemBlockSize;
    overhead += uint64_t(blocks) * pool.mpBlockHeaderSize;
    allocated += uint64_t(live) * pool.mpItemSize;
  }
  aStatus.TotalAddrSpace = space;
  aStatus.TotalCommitted = committed;
  aStatus.TotalUncommitted = space > committed ? space - committed : 0;
  aStatus.TotalAllocated = allocated;
  aStatus.Overhead = overhead;
}

}  // namespace zf::mm
