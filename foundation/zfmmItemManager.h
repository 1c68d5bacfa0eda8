// Item manager: requests up to 32735 bytes are items of 62 size classes, each class a lock-free
// pool of 64 KB item blocks from the committed block manager; larger requests are large blocks
// mapped straight from the system, which grow without copying (mremap) and keep a trailer that a
// registry finds by their 64 KB aligned base address. Sizes are 64-bit throughout.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "foundation/zfllMemoryManager.h"
#include "foundation/zfllTypes.h"

namespace zf::mm {

inline constexpr int kzfSizeClassCount = 62;
inline constexpr size_t kzfMaxItemRequest = 32735;
inline constexpr size_t kzfItemBlockSize = 65536;
inline constexpr size_t kzfItemBlockHeaderFixed = 48;  // fields before the allocation bitmap

// The item sizes of the 62 classes, in creation order.
extern const uint32_t kzfSizeClasses[kzfSizeClassCount];
// Index of the class for a size (1 .. 32736), -1 for other sizes.
int ClassForSize(size_t aSize);

class TzfMemoryPool;

// Header of a 64 KB item block; the allocation bitmap follows at offset 48, item i lies at
// block + header size + i * item size.
struct TzfItemBlockHeader {
  TzfListEntry Link;       // next block in whichever pool list holds the block
  TzfMemoryPool* Owner;
  TzfListHead FreeItems;   // the free items themselves, linked through their first word
  int32_t UsedCount;
  uint32_t Detached;       // 1 while the block is in no list because its last free item was taken
  uint32_t Carved;         // items handed out at least once (the rest were never touched)
  uint32_t Spare;
  uint32_t* AllocBitmap() { return reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(this) + kzfItemBlockHeaderFixed); }
};
static_assert(sizeof(TzfItemBlockHeader) == kzfItemBlockHeaderFixed);

// 256 bytes (a power of two, so that a pool's index and the check of a pool address are shifts).
class alignas(256) TzfMemoryPool {
 public:
  // Three cache lines: the geometry every free reads, the list heads every pool operation
  // writes, and the counters. Kept apart so that writes to one do not evict the others.
  uint32_t mpBlockHeaderSize = 0;
  uint32_t mpItemSize = 0;
  uint32_t mpItemsPerBlock = 0;
  uint32_t mpReciprocal = 0;  // ceil(2^32 / item size), to find an item's index without dividing

  alignas(64) uint32_t mpPartialFreeBlockBool = 0;  // 0: the first partial list is current
  TzfListHead mpPartialFreeBlockHead1{};
  TzfListHead mpPartialFreeBlockHead2{};
  TzfListHead mpFreeBlockHead{};

  alignas(64) std::atomic<int64_t> mpLiveItems{0};
  std::atomic<int64_t> mpBlocks{0};
  uint32_t mpNeedCleanup = 0;
  uint32_t mpCleaning = 0;  // 1 while a thread runs this pool's cleanup

  // Geometry for aItemSize (4 stays 4 as a class but holds 8 bytes: a free item carries a link).
  void Create(uint32_t aItemSize);
  // One item, nullptr when no block can be had. A corrupted block raises EInvalidPointer.
  void* Alloc();
  // Up to aCount (1 or more) items of one block into aItems, in address order as far as they
  // are carved fresh; returns how many (0 when no block can be had). One list operation for
  // the lot, and neighbouring items go to one caller instead of to several threads.
  int AllocBatch(void** aItems, int aCount);
  // 0 when P was a live item of this pool, 1 otherwise (nothing changes then).
  int32_t DisposeDirect(void* P);
  // The two halves of DisposeDirect, for the per-thread cache: TakeBackLive checks P and clears
  // its allocation bit (false when P is not a live item); Release puts a checked item back into
  // its block. IsLiveItem only checks (owner, position, allocation bit set).
  bool TakeBackLive(void* P);
  void Release(void* P);
  // TakeBackLive and Release for aCount cached items (those not live are skipped), with one
  // update of the live count.
  void ReleaseBatch(void* const* aItems, int aCount);
  bool IsLiveItem(const void* P) const;
  uint32_t* AllocWord(const void* P, uint32_t& aBit) const;
  // Gives back every block without items in use (run by the trimming thread).
  void Cleanup();
  // Gives back every block (shut-down).
  void Finalize();

  static void CleanupAll();

 private:
  TzfListHead& Partial(uint32_t aSelector) { return aSelector ? mpPartialFreeBlockHead2 : mpPartialFreeBlockHead1; }
  TzfItemBlockHeader* NewBlock();
  void GiveBack(TzfItemBlockHeader* aBlock);
  void Detach(TzfItemBlockHeader* aBlock);
  TzfItemBlockHeader* TakeBlock(uint32_t aSelector);
  void PutBlock(TzfItemBlockHeader* aBlock, uint32_t aSelector);
  void SetAllocated(TzfItemBlockHeader* aBlock, void* aItem);
  void ReleaseUncounted(void* P);
};
static_assert(sizeof(TzfMemoryPool) == 256);

// The pool of class index i, and the pool serving a request of aSize (0 .. 32735) bytes.
TzfMemoryPool* zfmmPool(int aIndex);
TzfMemoryPool* zfmmPoolForSize(size_t aSize);
// The pool that owns item P, or nullptr when P is not inside an item block.
TzfMemoryPool* zfmmItemOwner(const void* P);

// Gives the calling thread's cached free items back to their pools.
void zfmmFlushThreadCache();

bool zfmmItemManagerStart();
void zfmmItemManagerStop();

// The process-allocator operations.
void* ItemGetMem(size_t aSize);
int32_t ItemFreeMem(void* P);
void* ItemReallocMem(void* P, size_t aSize);
void ItemGetHeapStatus(TzfHeapStatus& aStatus);

// Large blocks.
struct TzfLargeBlockTrailer {
  uint64_t RequestedSize;
  uint64_t MappedBytes;     // address space of the block (64 KB multiple)
  uint64_t PagesInUse;      // bytes from the base to the end of this trailer's page
  uint64_t Base;
  uint32_t ReallocCount;
  uint32_t Magic;
  uint64_t Spare[3];
};
static_assert(sizeof(TzfLargeBlockTrailer) == 64);
TzfLargeBlockTrailer* zfmmLargeTrailer(const void* P);
// Bytes of address space a large block reserves for aSize after aCount reallocations.
uint64_t zfmmLargeReservation(uint64_t aSize, uint32_t aCount);

// When set, freed items and large blocks are zero-filled first. Nothing in the system sets it.
extern int32_t zfmmZeroOnFree;

}  // namespace zf::mm
