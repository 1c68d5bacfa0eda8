// Block managers: blocks of 4, 8, 16, 32, 64 KB and 4 MB, each aligned to its size, carved from
// the chunks of the chunk manager. The committed manager serves block pools, mappable blocks and
// the item manager's 64 KB item blocks; the physical manager has the same shape and stays dormant.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/zfmmBitmap.h"
#include "foundation/zfmmChunkManager.h"

namespace zf::mm {

// One block size of one manager. Its address is the pool handle.
struct TzfBlockClass {
  uint32_t Shift;        // 12 .. 16, 22
  size_t BlockSize;      // 1 shl Shift
  size_t OffsetMask;     // BlockSize - 1
  uintptr_t AlignMask;   // -BlockSize
  uint32_t WordCount;    // data words of the per-chunk free bitmap: 32, 16, 8, 4, 2, 0
  uint32_t FullMask;     // full summary of a chunk whose blocks are all free
  bool Physical;
  int Index;             // TzfBlockSizeAll ordinal
  TzfBitmap1024 Chunks;  // chunks of this class with at least one free block
};

inline constexpr int kzfBlockClassCount = 6;
inline constexpr int kzfItemBlockClass = 4;  // 64 KB

TzfBlockClass* zfmmCommittedClass(int aIndex);
TzfBlockClass* zfmmPhysicalClass(int aIndex);

// Per-chunk record, one table shared by both managers. Plain fields changed by atomic builtins:
// the table is zero before any code runs (the manager may start before static initialisers).
struct TzfChunkRecord {
  TzfBlockClass* Owner;     // the class the chunk belongs to, nullptr when none
  uint32_t ChunkNumber;
  TzfBitmap1024 FreeBlocks; // bit set: block free
  uint32_t Claimed;         // 1 while a trim pass or a takeover works on the chunk's blocks
};
extern TzfChunkRecord zfmmChunkRecords[kzfChunkCount];

// The class that owns P's chunk, or nullptr (also for pointers outside the range).
inline TzfBlockClass* zfmmOwnerClassOf(const void* P) {
  if (!zfmmInChunkRange(P)) return nullptr;
  return __atomic_load_n(&zfmmChunkRecords[zfmmChunkOf(P)].Owner, __ATOMIC_ACQUIRE);
}

bool zfmmBlockManagersStart();
void zfmmBlockManagersStop();

// A free block of the class (highest chunk, highest block first), nullptr when no chunk can be
// had. A class without a free block first takes over a wholly free chunk of another class of
// the same manager, with its pages, and only then asks the chunk manager for a new chunk.
void* BlockPoolAlloc(TzfBlockClass* aClass);
// True when the block was taken back; false for a block of another class, a misaligned address
// or a block already free.
bool BlockPoolDispose(TzfBlockClass* aClass, void* aBlock);
void* BlockPoolAllocByIndex(int aIndex);
bool BlockFreeByAddress(void* aBlock);
// Periodic passes: chunks whose blocks are all free go back to the chunk manager (with roll-back
// when an allocation races the release); free blocks of the other chunks give their pages back.
void TrimCommitted();
void TrimPhysical();

}  // namespace zf::mm
