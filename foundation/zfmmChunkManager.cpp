#include "foundation/zfmmChunkManager.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "foundation/zfllLockedFuncs.h"

namespace zf::mm {

TzfOSInfo zfmmOSInfo;
uintptr_t zfmmChunkBase = 0;
uintptr_t zfmmChunkRangeBytes = 0;
TzfListHead zfmmSpentCommitted;
TzfListHead zfmmSpentPhysical;

namespace {

void NoLastResort() {}

struct TReserveEntry {
  TzfListEntry Link;
  void* Address;
};

TzfBitmap1024 gFree, gRetry, gCachedCommitted, gCachedPhysical;
TReserveEntry gReserve[2 * kzfReserveChunks];
TzfListHead gCommittedReserve, gPhysicalReserve;
void* gMapping = nullptr;
size_t gMappingSize = 0;
// Set once a chunk has been made readable and writable; it stays so until shut-down.
constinit std::atomic<bool> gCommitted[kzfChunkCount];
constinit std::atomic<uint64_t> gSystemCalls{0};
constinit int gStarts = 0;

bool Commit(int aChunk) {
  if (gCommitted[aChunk].load(std::memory_order_acquire)) return true;
  gSystemCalls.fetch_add(1, std::memory_order_relaxed);
  if (::mprotect(zfmmChunkAddress(aChunk), kzfChunkSize, PROT_READ | PROT_WRITE) != 0) return false;
  gCommitted[aChunk].store(true, std::memory_order_release);
  return true;
}

// Gives the chunk's pages back; the chunk stays readable (it reads zeros).
bool Decommit(void* aAddress) {
  gSystemCalls.fetch_add(1, std::memory_order_relaxed);
  return ::madvise(aAddress, kzfChunkSize, MADV_DONTNEED) == 0;
}

bool IsChunkAddress(void* aAddress) {
  return zfmmInChunkRange(aAddress) && (reinterpret_cast<uintptr_t>(aAddress) & (kzfChunkSize - 1)) == 0;
}

// Takes chunks out of Free (then Retry, then after the last-resort hook) and commits one.
void* TakeFromFree(bool aCommit) {
  for (int pass = 0; pass < 3; ++pass) {
    for (;;) {
      int c = gFree.TakeHighest();
      if (c < 0) break;
      if (!aCommit || Commit(c)) return zfmmChunkAddress(c);
      gRetry.SetBit(c);
    }
    if (pass == 0) TzfBitmap1024::MoveAll(gRetry, gFree);
    else if (pass == 1) zfmmLastResortHook();
  }
  return nullptr;
}

void ReleaseCached(TzfBitmap1024& aCached) {
  for (int w = 0; w < 32; ++w) {
    uint32_t d = __atomic_load_n(&aCached.Data[w], __ATOMIC_ACQUIRE);
    bool wasEmpty, nowEmpty;
    while (d != 0 && !aCached.ExchangeWord(w, d, 0, wasEmpty, nowEmpty)) d = __atomic_load_n(&aCached.Data[w], __ATOMIC_ACQUIRE);
    if (d == 0) continue;
    uint32_t released = d;
    for (uint32_t bits = d; bits; bits &= bits - 1) {
      int c = w * 32 + __builtin_ctz(bits);
      if (!Decommit(zfmmChunkAddress(c))) released &= ~(1u << (c & 31));
    }
    if (released) gFree.OrWord(w, released, wasEmpty);
    // A chunk whose release failed is not free: it waits in Retry for another chance.
    if (uint32_t failed = d & ~released) gRetry.OrWord(w, failed, wasEmpty);
  }
}

}  // namespace

void (*zfmmLastResortHook)() = NoLastResort;

TzfBitmap1024& zfmmFreeChunks() { return gFree; }
TzfBitmap1024& zfmmRetryChunks() { return gRetry; }
TzfBitmap1024& zfmmCachedCommittedChunks() { return gCachedCommitted; }
uint64_t zfmmChunkSystemCalls() { return gSystemCalls.load(std::memory_order_relaxed); }

namespace {

// The process's mapped address space in bytes (from /proc, without allocating: this runs before
// the process has an allocator); 0 when it cannot be read.
uint64_t MappedBytes() {
  int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[64] = {};
  ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return 0;
  uint64_t pages = std::strtoull(text, nullptr, 10);
  long page = ::sysconf(_SC_PAGESIZE);
  return pages * uint64_t(page > 0 ? page : 4096);
}

}  // namespace

int zfmmChunksForAddressLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kzfChunkCount;
  uint64_t used = MappedBytes();
  uint64_t room = limit.rlim_cur > used ? limit.rlim_cur - used : 0;
  // Half of the room: the rest stays for large blocks, thread stacks and libraries.
  uint64_t chunks = room / 2 / kzfChunkSize;
  return chunks < 1 ? 0 : int(std::min<uint64_t>(chunks - 1, kzfChunkCount));  // one chunk for alignment
}

bool zfmmChunkManagerStart() {
  if (gStarts++ > 0) return true;
  long page = ::sysconf(_SC_PAGESIZE);
  zfmmOSInfo.PageSize = page > 0 ? uint32_t(page) : 4096;
  zfmmOSInfo.PhysicalMemory = false;
  ListHeadInit(zfmmSpentCommitted);
  ListHeadInit(zfmmSpentPhysical);
  ListHeadInit(gCommittedReserve);
  ListHeadInit(gPhysicalReserve);
  gFree.Clear();
  gRetry.Clear();
  gCachedCommitted.Clear();
  gCachedPhysical.Clear();
  for (auto& c : gCommitted) c.store(false, std::memory_order_relaxed);
  // Reserve the range without access (and without charging it against the commit limit), then
  // cut it down to a 4 MB boundary. Under an address-space limit the range is what the limit
  // leaves room for, smaller again while the system refuses it, down to the floor.
  void* m = MAP_FAILED;
  int chunks = zfmmChunksForAddressLimit();
  for (; chunks >= kzfMinChunkCount; chunks = chunks > kzfMinChunkCount ? std::max(kzfMinChunkCount, chunks * 3 / 4) : 0) {
    gMappingSize = (size_t(chunks) + 1) << kzfChunkShift;
    m = ::mmap(nullptr, gMappingSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (m != MAP_FAILED) break;
  }
  if (m == MAP_FAILED) {
    gStarts = 0;
    gMappingSize = 0;
    return false;
  }
  gMapping = m;
  zfmmChunkBase = (reinterpret_cast<uintptr_t>(m) + kzfChunkSize - 1) & ~(uintptr_t(kzfChunkSize) - 1);
  zfmmChunkRangeBytes = uintptr_t(chunks) << kzfChunkShift;
  // Chunk 0 is never used, as in a real address space where the lowest chunk is not ours.
  for (int c = chunks - 1; c >= 1; --c) gFree.Data[c >> 5] |= 1u << (c & 31);
  gFree.RecomputeSummaries();
  // The emergency reserve: five chunks taken now and held without pages.
  TzfListEntry* first = nullptr;
  for (int i = kzfReserveChunks - 1; i >= 0; --i) {
    void* chunk = AllocCommittedChunk();
    if (chunk) Decommit(chunk);
    gReserve[i].Address = chunk;
    gReserve[i].Link.leNext = first;
    first = &gReserve[i].Link;
  }
  gCommittedReserve.lhFirst = first;
  return true;
}

void zfmmChunkManagerStop() {
  if (gStarts == 0 || --gStarts > 0) return;
  ReleaseCachedChunks();
  ListPopAll(zfmmSpentCommitted);
  ListPopAll(gCommittedReserve);
  ListPopAll(zfmmSpentPhysical);
  ListPopAll(gPhysicalReserve);
  for (auto& e : gReserve) e.Address = nullptr;
  if (gMapping) ::munmap(gMapping, gMappingSize);
  gMapping = nullptr;
  zfmmChunkBase = 0;
  zfmmChunkRangeBytes = 0;
}

void* AllocCommittedChunk() {
  int c = gCachedCommitted.TakeHighest();
  if (c >= 0) return zfmmChunkAddress(c);
  if (void* chunk = TakeFromFree(true)) return chunk;
  // The emergency reserve.
  while (auto* e = reinterpret_cast<TReserveEntry*>(ListPop(gCommittedReserve))) {
    void* chunk = e->Address;
    e->Address = nullptr;
    ListPush(zfmmSpentCommitted, &e->Link);
    if (chunk && Commit(zfmmChunkOf(chunk))) return chunk;
  }
  return nullptr;
}

bool FreeCommittedChunk(void* aAddress) {
  if (!IsChunkAddress(aAddress)) return false;
  int c = zfmmChunkOf(aAddress);
  if (__atomic_load_n(&zfmmSpentCommitted.lhFirst, __ATOMIC_ACQUIRE) != nullptr) {
    if (auto* e = reinterpret_cast<TReserveEntry*>(ListPop(zfmmSpentCommitted))) {
      // Refill the reserve before anything is cached.
      if (Decommit(aAddress)) {
        e->Address = aAddress;
        ListPush(gCommittedReserve, &e->Link);
        return true;
      }
      ListPush(zfmmSpentCommitted, &e->Link);
      return gRetry.SetBit(c);
    }
  }
  return gCachedCommitted.SetBit(c);
}

void* AllocPhysicalChunk() {
  // Dormant: the system offers no physical-page mapping, so nothing calls this while the
  // physical-memory flag is false. It still works on the same range for completeness.
  int c = gCachedPhysical.TakeHighest();
  if (c >= 0) return zfmmChunkAddress(c);
  if (void* chunk = TakeFromFree(true)) return chunk;
  if (auto* e = reinterpret_cast<TReserveEntry*>(ListPop(gPhysicalReserve))) {
    void* chunk = e->Address;
    e->Address = nullptr;
    ListPush(zfmmSpentPhysical, &e->Link);
    return chunk;
  }
  return nullptr;
}

bool FreePhysicalChunk(void* aAddress) {
  if (!IsChunkAddress(aAddress)) return false;
  if (auto* e = reinterpret_cast<TReserveEntry*>(ListPop(zfmmSpentPhysical))) {
    e->Address = aAddress;
    ListPush(gPhysicalReserve, &e->Link);
    return true;
  }
  return gCachedPhysical.SetBit(zfmmChunkOf(aAddress));
}

void ReleaseCachedChunks() {
  ReleaseCached(gCachedCommitted);
  ReleaseCached(gCachedPhysical);
}

}  // namespace zf::mm
