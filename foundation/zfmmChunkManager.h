// Address-space chunks of the engine memory manager.
//
// At start-up one range of 1024 chunks of 4 MB (4 GB, aligned to 4 MB) is reserved without
// access. Chunks are committed (made readable and writable) when handed out and their pages are
// given back to the system (MADV_DONTNEED) when released; a chunk once committed stays readable,
// so a lock-free reader that follows a stale link into it reads zeros instead of faulting.
// Four bitmaps say where each chunk is: Free, Retry (a commit failed; retried when Free runs
// dry), CachedCommitted (committed, unused, kept for reuse) and CachedPhysical (dormant). Five
// chunks are held back as an emergency reserve and spent only when nothing else is left.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/zfllTypes.h"
#include "foundation/zfmmBitmap.h"

namespace zf::mm {

inline constexpr size_t kzfChunkShift = 22;
inline constexpr size_t kzfChunkSize = size_t(1) << kzfChunkShift;  // 4194304
inline constexpr int kzfChunkCount = 1024;
inline constexpr int kzfReserveChunks = 5;

// Facts about the system recorded at start-up.
struct TzfOSInfo {
  uint32_t PageSize = 4096;
  bool PhysicalMemory = false;  // never true on this system: the physical side stays dormant
};
extern TzfOSInfo zfmmOSInfo;

// Fewest chunks the manager runs with. Under an address-space limit (RLIMIT_AS) the range holds
// fewer than kzfChunkCount chunks: half of the room the limit leaves, at least this many.
inline constexpr int kzfMinChunkCount = 32;

// The reserved range ([zfmmChunkBase, zfmmChunkBase + zfmmChunkRangeBytes)): 4 GB, or less under
// an address-space limit; both 0 while the manager is stopped.
extern uintptr_t zfmmChunkBase;
extern uintptr_t zfmmChunkRangeBytes;
inline bool zfmmInChunkRange(const void* P) {
  return reinterpret_cast<uintptr_t>(P) - zfmmChunkBase < zfmmChunkRangeBytes;
}
// Chunks in the reserved range (0 while stopped).
inline int zfmmChunksInRange() { return int(zfmmChunkRangeBytes >> kzfChunkShift); }
// The chunks the range would hold under the address-space limit as it stands now (kzfChunkCount
// without a limit; below kzfMinChunkCount when even the floor does not fit).
int zfmmChunksForAddressLimit();
inline int zfmmChunkOf(const void* P) { return int((reinterpret_cast<uintptr_t>(P) - zfmmChunkBase) >> kzfChunkShift); }
inline void* zfmmChunkAddress(int aChunk) { return reinterpret_cast<void*>(zfmmChunkBase + (uintptr_t(aChunk) << kzfChunkShift)); }

// Starts and stops the chunk manager (counted). Start reserves the range and fills the reserve;
// false when not even kzfMinChunkCount chunks of address space can be reserved.
bool zfmmChunkManagerStart();
void zfmmChunkManagerStop();

// 4 MB of committed memory on a 4 MB boundary, or nullptr.
void* AllocCommittedChunk();
// False when aAddress is not a chunk of the range (or is already cached).
bool FreeCommittedChunk(void* aAddress);
void* AllocPhysicalChunk();
bool FreePhysicalChunk(void* aAddress);
// Gives every cached chunk's pages back to the system; the chunks become free again.
void ReleaseCachedChunks();

// The spent-reserve lists: non-empty while part of the emergency reserve is handed out.
extern TzfListHead zfmmSpentCommitted;
extern TzfListHead zfmmSpentPhysical;
// Called before the reserve is spent; the manager sets it to a full trim.
extern void (*zfmmLastResortHook)();

// For tests: the four bitmaps.
TzfBitmap1024& zfmmFreeChunks();
TzfBitmap1024& zfmmRetryChunks();
TzfBitmap1024& zfmmCachedCommittedChunks();
// Number of system calls made to commit or release chunks (tests check that the cache avoids them).
uint64_t zfmmChunkSystemCalls();

}  // namespace zf::mm
