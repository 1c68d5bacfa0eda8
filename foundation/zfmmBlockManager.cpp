#include "foundation/zfmmBlockManager.h"

#include <sys/mman.h>

#include <atomic>

#include "foundation/zfmmChunkManager.h"

namespace zf::mm {

constinit TzfChunkRecord zfmmChunkRecords[kzfChunkCount]{};

namespace {

using TChunkRecord = TzfChunkRecord;

constinit TzfBlockClass gCommitted[kzfBlockClassCount]{};
constinit TzfBlockClass gPhysical[kzfBlockClassCount]{};
TChunkRecord (&gRecords)[kzfChunkCount] = zfmmChunkRecords;
// Committed manager: bit set when the block was freed since the last trim.
constinit TzfBitmap1024 gFreedMarks[kzfChunkCount]{};
constinit int gStarts = 0;

inline TzfBlockClass* OwnerOf(const TChunkRecord& r) { return __atomic_load_n(&r.Owner, __ATOMIC_ACQUIRE); }
inline void SetOwner(TChunkRecord& r, TzfBlockClass* K) { __atomic_store_n(&r.Owner, K, __ATOMIC_RELEASE); }

// A chunk's bit in a class's bitmap says "this class owns the chunk and it has a free block".
// It is brought in line with the chunk by every thread that changes either fact (a take that
// empties the free bitmap, a dispose or put-back into an empty one, a change of owner), after
// the change: set or cleared as the facts read, then read again until what was written still
// holds. The last thread to change the facts thus leaves the truth, whatever the interleaving,
// even when a thread that found the chunk under a class it has since left takes one of its
// blocks and puts it back (flipping the bit per crossing would go wrong there: that thread's
// crossings belong to another class than the one it flips).
void SyncClassBit(TzfBlockClass* K, int c) {
  const TChunkRecord& r = gRecords[c];
  for (;;) {
    bool want = OwnerOf(r) == K && __atomic_load_n(&r.FreeBlocks.NonEmpty, __ATOMIC_ACQUIRE) != 0;
    if (want) K->Chunks.SetBit(c);
    else K->Chunks.ClearBit(c);
    if (want == (OwnerOf(r) == K && __atomic_load_n(&r.FreeBlocks.NonEmpty, __ATOMIC_ACQUIRE) != 0)) return;
  }
}

// The same for the class the caller acted for and for the chunk's owner now, when that differs.
void SyncChunkBits(TzfBlockClass* K, int c) {
  SyncClassBit(K, c);
  TzfBlockClass* owner = OwnerOf(gRecords[c]);
  if (owner && owner != K && owner->WordCount != 0) SyncClassBit(owner, c);
}

constexpr uint32_t kShifts[kzfBlockClassCount] = {12, 13, 14, 15, 16, 22};

void InitClass(TzfBlockClass& c, int aIndex, bool aPhysical) {
  c.Shift = kShifts[aIndex];
  c.BlockSize = size_t(1) << c.Shift;
  c.OffsetMask = c.BlockSize - 1;
  c.AlignMask = ~uintptr_t(c.OffsetMask);
  c.WordCount = uint32_t((kzfChunkSize / c.BlockSize) / 32);
  c.FullMask = c.WordCount == 32 ? 0xFFFFFFFFu : (1u << c.WordCount) - 1;
  c.Physical = aPhysical;
  c.Index = aIndex;
  c.Chunks.Clear();
}

void* NewChunk(TzfBlockClass* K) { return K->Physical ? AllocPhysicalChunk() : AllocCommittedChunk(); }
bool ReturnChunk(TzfBlockClass* K, void* aChunk) {
  return K->Physical ? FreePhysicalChunk(aChunk) : FreeCommittedChunk(aChunk);
}

// Gives the pages of blocks that are free and marked freed back to the system. The blocks are
// taken out of the free bitmap while that happens, so no allocation can hand them out meanwhile.
void DiscardFreedBlocks(TzfBlockClass* K, int c) {
  TChunkRecord& r = gRecords[c];
  TzfBitmap1024& marks = gFreedMarks[c];
  uint8_t* chunk = static_cast<uint8_t*>(zfmmChunkAddress(c));
  for (uint32_t w = 0; w < K->WordCount; ++w) {
    uint32_t m = __atomic_exchange_n(&marks.Data[w], 0u, __ATOMIC_ACQ_REL);
    if (m == 0) continue;
    uint32_t d = __atomic_load_n(&r.FreeBlocks.Data[w], __ATOMIC_ACQUIRE);
    uint32_t take;
    bool wasEmpty, nowEmpty;
    for (;;) {
      take = d & m;
      if (take == 0) break;
      if (r.FreeBlocks.ExchangeWord(int(w), d, d & ~take, wasEmpty, nowEmpty)) break;
      d = __atomic_load_n(&r.FreeBlocks.Data[w], __ATOMIC_ACQUIRE);
    }
    if (take == 0) continue;
    if (nowEmpty) SyncClassBit(K, c);
    for (uint32_t bits = take; bits;) {
      // Runs of adjacent blocks in one call.
      int lo = __builtin_ctz(bits);
      uint32_t run = bits >> lo;
      int len = run == 0xFFFFFFFFu ? 32 : __builtin_ctz(~run);
      ::madvise(chunk + ((size_t(w) * 32 + lo) << K->Shift), size_t(len) << K->Shift, MADV_DONTNEED);
      bits &= len == 32 ? 0 : ~(((1u << len) - 1) << lo);
    }
    r.FreeBlocks.OrWord(int(w), take, wasEmpty);
    if (wasEmpty) SyncClassBit(K, c);
  }
}

// Claims chunk c for work that takes blocks out of it behind the allocators' backs: releasing it
// (trim), discarding pages of its free blocks (trim) or moving it to another class (takeover).
// One claim at a time, and the owner is checked under the claim, so a chunk that moved to
// another class since the caller looked at it is left alone: its bits now mean other blocks.
bool ClaimChunk(TzfBlockClass* K, int c) {
  TChunkRecord& r = gRecords[c];
  uint32_t expected = 0;
  if (!__atomic_compare_exchange_n(&r.Claimed, &expected, 1u, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) return false;
  if (OwnerOf(r) == K) return true;
  __atomic_store_n(&r.Claimed, 0u, __ATOMIC_RELEASE);
  return false;
}
void ReleaseClaim(int c) { __atomic_store_n(&gRecords[c].Claimed, 0u, __ATOMIC_RELEASE); }

void ClearFreedMarks(int c) {
  for (uint32_t& m : gFreedMarks[c].Data) __atomic_store_n(&m, 0u, __ATOMIC_RELAXED);
}

// Under a claim of K: takes every block of a wholly free chunk and leaves it without owner (its
// free bitmap empty); rolls back when an allocation got in first.
bool TakeWholeChunk(TzfBlockClass* K, int c) {
  TChunkRecord& r = gRecords[c];
  if (__atomic_load_n(&r.FreeBlocks.Full, __ATOMIC_ACQUIRE) != K->FullMask) return false;
  uint32_t w = 0;
  bool wasEmpty, nowEmpty = false;
  for (; w < K->WordCount; ++w) {
    if (!r.FreeBlocks.ExchangeWord(int(w), 0xFFFFFFFFu, 0, wasEmpty, nowEmpty)) break;
  }
  if (w == K->WordCount) {
    SetOwner(r, nullptr);
    SyncClassBit(K, c);
    return true;
  }
  // Give back every word taken so far.
  bool crossed = nowEmpty;
  while (w-- > 0) {
    r.FreeBlocks.OrWord(int(w), 0xFFFFFFFFu, wasEmpty);
    crossed = crossed || wasEmpty;
  }
  if (crossed) SyncClassBit(K, c);
  return false;
}

// Makes chunk c, which belongs to no class and whose free bitmap is empty, a chunk of class K
// with every block free. The words are or-ed in, not stored: an allocator that found the chunk
// under its previous class may still take a bit and put it back, and the summaries stay exact.
// Every block is marked freed, so pages a previous class left in it go back at the next trim
// unless they are used by then.
void AttachChunk(TzfBlockClass* K, int c) {
  TChunkRecord& r = gRecords[c];
  bool wasEmpty;
  for (uint32_t w = 0; w < K->WordCount; ++w) {
    if (!K->Physical) __atomic_store_n(&gFreedMarks[c].Data[w], 0xFFFFFFFFu, __ATOMIC_RELAXED);
    r.FreeBlocks.OrWord(int(w), 0xFFFFFFFFu, wasEmpty);
  }
  SetOwner(r, K);
  SyncClassBit(K, c);
}

// Takes a chunk of another class of the same manager whose blocks are all free, pages and all,
// so that a class that runs out reuses memory another class has let go instead of growing the
// process (and faulting in fresh pages). The chunk leaves its class as in a trim pass: every
// word is taken with roll-back, so a racing allocation keeps its block. -1 when there is none.
int StealWholeChunk(TzfBlockClass* K) {
  TzfBlockClass* classes = K->Physical ? gPhysical : gCommitted;
  for (int k = kzfBlockClassCount - 1; k >= 0; --k) {
    TzfBlockClass* from = &classes[k];
    if (from == K || from->WordCount == 0) continue;
    for (uint32_t words = __atomic_load_n(&from->Chunks.NonEmpty, __ATOMIC_ACQUIRE); words; words &= words - 1) {
      int w = __builtin_ctz(words);
      for (uint32_t bits = __atomic_load_n(&from->Chunks.Data[w], __ATOMIC_ACQUIRE); bits; bits &= bits - 1) {
        int c = w * 32 + __builtin_ctz(bits);
        TChunkRecord& r = gRecords[c];
        if (OwnerOf(r) != from || __atomic_load_n(&r.FreeBlocks.Full, __ATOMIC_ACQUIRE) != from->FullMask) continue;
        if (!ClaimChunk(from, c)) continue;
        bool taken = TakeWholeChunk(from, c);
        if (taken) ClearFreedMarks(c);
        ReleaseClaim(c);
        if (taken) return c;
      }
    }
  }
  return -1;
}

void Trim(TzfBlockClass* aClasses) {
  for (int k = kzfBlockClassCount - 1; k >= 0; --k) {
    TzfBlockClass* K = &aClasses[k];
    if (K->WordCount == 0) continue;  // 4 MB blocks are chunks of their own
    TzfBitmap1024 snapshot;
    for (int w = 0; w < 32; ++w) snapshot.Data[w] = __atomic_load_n(&K->Chunks.Data[w], __ATOMIC_ACQUIRE);
    for (int w = 0; w < 32; ++w) {
      for (uint32_t bits = snapshot.Data[w]; bits; bits &= bits - 1) {
        int c = w * 32 + __builtin_ctz(bits);
        if (!ClaimChunk(K, c)) continue;
        if (TakeWholeChunk(K, c)) {
          ReleaseClaim(c);  // the chunk has no owner now: nobody else can claim or take it
          if (!K->Physical) {
            ::madvise(zfmmChunkAddress(c), kzfChunkSize, MADV_DONTNEED);
            ClearFreedMarks(c);
          }
          ReturnChunk(K, zfmmChunkAddress(c));
        } else {
          if (!K->Physical) DiscardFreedBlocks(K, c);
          ReleaseClaim(c);
        }
      }
    }
  }
}

}  // namespace

TzfBlockClass* zfmmCommittedClass(int aIndex) { return &gCommitted[aIndex]; }
TzfBlockClass* zfmmPhysicalClass(int aIndex) { return &gPhysical[aIndex]; }


bool zfmmBlockManagersStart() {
  if (gStarts++ > 0) return true;
  if (!zfmmChunkManagerStart()) {
    gStarts = 0;
    return false;
  }
  for (int c = 0; c < kzfChunkCount; ++c) {
    gRecords[c].Owner = nullptr;
    gRecords[c].ChunkNumber = uint32_t(c);
    gRecords[c].FreeBlocks.Clear();
    gRecords[c].Claimed = 0;
    gFreedMarks[c].Clear();
  }
  for (int k = 0; k < kzfBlockClassCount; ++k) {
    InitClass(gCommitted[k], k, false);
    InitClass(gPhysical[k], k, true);
  }
  return true;
}

void zfmmBlockManagersStop() {
  if (gStarts == 0 || --gStarts > 0) return;
  zfmmChunkManagerStop();
}

void* BlockPoolAlloc(TzfBlockClass* K) {
  if (!K) return nullptr;
  if (K->WordCount == 0) {
    int c = StealWholeChunk(K);
    void* chunk = c >= 0 ? zfmmChunkAddress(c) : NewChunk(K);
    if (chunk) SetOwner(gRecords[zfmmChunkOf(chunk)], K);
    return chunk;
  }
  for (;;) {
    int c = K->Chunks.FindHighest();
    if (c < 0) {
      c = StealWholeChunk(K);
      if (c < 0) {
        void* chunk = NewChunk(K);
        if (!chunk) return nullptr;
        c = zfmmChunkOf(chunk);
      }
      AttachChunk(K, c);
    }
    TChunkRecord& r = gRecords[c];
    bool empty;
    int b = r.FreeBlocks.TakeHighestReportEmpty(empty);
    if (b < 0) {  // another thread emptied it and may not have cleared its bit yet: do it here
      SyncChunkBits(K, c);
      continue;
    }
    if (empty) SyncChunkBits(K, c);
    if (OwnerOf(r) == K)
      return reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(zfmmChunkAddress(c)) + (uintptr_t(b) << K->Shift));
    // The chunk changed hands between the search and the take: put the block back.
    bool wasEmpty;
    r.FreeBlocks.SetBitReportWasEmpty(b, wasEmpty);
    if (wasEmpty) SyncChunkBits(K, c);
  }
}

bool BlockPoolDispose(TzfBlockClass* K, void* aBlock) {
  if (!K || !zfmmInChunkRange(aBlock) || (reinterpret_cast<uintptr_t>(aBlock) & K->OffsetMask)) return false;
  int c = zfmmChunkOf(aBlock);
  TChunkRecord& r = gRecords[c];
  if (K->WordCount == 0) {
    // A 4 MB block is its chunk: the owner is claimed back first, so a second dispose is refused.
    TzfBlockClass* expected = K;
    if (!__atomic_compare_exchange_n(&r.Owner, &expected, nullptr, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) return false;
    return ReturnChunk(K, aBlock);
  }
  if (OwnerOf(r) != K) return false;
  int b = int((reinterpret_cast<uintptr_t>(aBlock) & (kzfChunkSize - 1)) >> K->Shift);
  bool wasEmpty;
  if (!r.FreeBlocks.SetBitReportWasEmpty(b, wasEmpty)) return false;  // already free
  if (!K->Physical) __atomic_fetch_or(&gFreedMarks[c].Data[b >> 5], 1u << (b & 31), __ATOMIC_RELEASE);
  if (wasEmpty) SyncClassBit(K, c);
  return true;
}

void* BlockPoolAllocByIndex(int aIndex) {
  return aIndex >= 0 && aIndex < kzfBlockClassCount ? BlockPoolAlloc(&gCommitted[aIndex]) : nullptr;
}

bool BlockFreeByAddress(void* aBlock) {
  if (reinterpret_cast<uintptr_t>(aBlock) & 4095) return false;
  TzfBlockClass* K = zfmmOwnerClassOf(aBlock);
  if (!K || K->Physical) return false;
  return BlockPoolDispose(K, aBlock);
}

void TrimCommitted() { Trim(gCommitted); }
void TrimPhysical() { Trim(gPhysical); }

}  // namespace zf::mm
