#include "foundation/zfllMemoryManager.h"

#include <malloc.h>

#include <cstdlib>
#include <cstring>

#include "foundation/zfmmMemoryLow.h"
#include "platform/rtl/rtlException.h"
#if ZF_MM_ENGINE
#include "foundation/zfllMemoryManagerImpl.h"
#endif

namespace zf {

// ---- the C library backend ------------------------------------------------------------------

namespace {

struct TSystemBlockPool {
  size_t BlockSize;
};
constexpr TSystemBlockPool kSystemPools[kzfBlockSizeCount] = {{4096}, {8192}, {16384}, {32768}, {65536}, {4194304}};

alignas(4096) const uint8_t kZeroPage[65536] = {};

bool IsSystemPool(TzfBlockPool aPool) {
  auto* p = static_cast<const TSystemBlockPool*>(aPool);
  return p >= kSystemPools && p < kSystemPools + kzfBlockSizeCount;
}

void* SysGetMem(size_t aSize) { return std::malloc(aSize); }
int32_t SysFreeMem(void* P) {
  std::free(P);
  return 0;
}
void* SysReallocMem(void* P, size_t aSize) { return std::realloc(P, aSize); }
TzfMemoryPool SysGetPool(uint32_t aItemSize) { return TzfMemoryPool(uintptr_t(aItemSize) + 500); }
size_t SysGetAllocSize(void*) { return 0; }
void SysGetHeapStatus(TzfHeapStatus& aStatus) {
  struct mallinfo2 mi = mallinfo2();
  aStatus = TzfHeapStatus{};
  aStatus.TotalAddrSpace = mi.arena + mi.hblkhd;
  aStatus.TotalCommitted = mi.arena + mi.hblkhd;
  aStatus.TotalAllocated = mi.uordblks + mi.hblkhd;
  aStatus.TotalFree = mi.fordblks;
}
void* SysBlockAlloc(TzfBlockPool aPool) {
  if (!IsSystemPool(aPool)) return nullptr;
  size_t size = static_cast<const TSystemBlockPool*>(aPool)->BlockSize;
  return std::aligned_alloc(size, size);
}
bool SysBlockDispose(TzfBlockPool aPool, void* aBlock) {
  if (!IsSystemPool(aPool) || !aBlock) return false;
  size_t size = static_cast<const TSystemBlockPool*>(aPool)->BlockSize;
  if (reinterpret_cast<uintptr_t>(aBlock) & (size - 1)) return false;
  std::free(aBlock);
  return true;
}
void* SysPoolAlloc(TzfMemoryPool aPool) { return SysGetMem(aPool.Handle()); }
int32_t SysPoolDispose(TzfMemoryPool, void* P) { return SysFreeMem(P); }
void* SysMapableAlloc(uint8_t aBlockSize) {
  return aBlockSize < kzfBlockSizeCount ? SysBlockAlloc(&kSystemPools[aBlockSize]) : nullptr;
}
bool SysMapableFree(TzfMapableBlockHandle aHandle) {
  if (aHandle == 0 || (aHandle & 4095)) return false;
  std::free(reinterpret_cast<void*>(aHandle));
  return true;
}
void* SysMapableMap(TzfMapableBlockHandle aHandle) { return reinterpret_cast<void*>(aHandle); }
bool SysMapableUnmap(TzfMapableBlockHandle aHandle, void* aAddress) {
  return aHandle != 0 && reinterpret_cast<void*>(aHandle) == aAddress;
}
std::atomic<int32_t> gSysUsers{0};
void SysAddRef() { gSysUsers.fetch_add(1); }
int32_t SysRelease() { return gSysUsers.fetch_sub(1) - 1; }
void SysTrimMemory() { malloc_trim(0); }
bool SysIsMemoryLow() { return mm::zfmmIsSystemMemoryLow(); }

constinit TzfMemoryManagerFunctions gSystemFunctions = {
    SysGetMem, SysFreeMem, SysReallocMem, SysGetPool, SysGetAllocSize, SysGetHeapStatus,
    {&kSystemPools[0], &kSystemPools[1], &kSystemPools[2], &kSystemPools[3], &kSystemPools[4], &kSystemPools[5]},
    kZeroPage,
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    SysBlockAlloc, SysBlockDispose, nullptr, nullptr,
    SysPoolAlloc, SysPoolDispose,
    0,
    SysMapableAlloc, SysMapableFree, SysMapableMap, SysMapableUnmap,
    SysAddRef, SysRelease,
    nullptr, nullptr,
    SysTrimMemory,
    nullptr, nullptr,
    SysIsMemoryLow,
    nullptr,
};

inline TzfMemoryManagerFunctions& MM() { return zfMemoryManagerFunctions(); }

}  // namespace

TzfMemoryManagerFunctions& zfSystemMemoryManagerFunctions() { return gSystemFunctions; }

TzfMemoryManagerFunctions& zfMemoryManagerFunctions() {
#if ZF_MM_ENGINE
  return mm::zfmmEngineFunctions();
#else
  return gSystemFunctions;
#endif
}

// ---- raw memory -----------------------------------------------------------------------------

void* zfGetMem(size_t aSize) {
  if (aSize == 0) return nullptr;
  void* p = MM().GetMem(aSize);
  if (!p) rtl::RaiseOutOfMemory();
  return p;
}

void zfGetMem(void*& P, size_t aSize) { P = zfGetMem(aSize); }

void* zfAllocMem(size_t aSize) {
  void* p = zfGetMem(aSize);
  if (p) std::memset(p, 0, aSize);
  return p;
}

void zfReallocMem(void*& P, size_t aSize) {
  if (!P) {
    if (aSize != 0) P = zfGetMem(aSize);
    return;
  }
  if (aSize == 0) {
    void* old = P;
    P = nullptr;
    if (MM().FreeMem(old) != 0) rtl::RaiseInvalidPointer();
    return;
  }
  void* p = MM().ReallocMem(P, aSize);
  if (!p) rtl::RaiseOutOfMemory();
  P = p;
}

void zfFreeMem(void* P) {
  if (P && MM().FreeMem(P) != 0) rtl::RaiseInvalidPointer();
}

// ---- item pools -----------------------------------------------------------------------------

TzfMemoryPool zfGetPool(uint32_t aItemSize) { return MM().GetPool(aItemSize); }

void* TzfMemoryPool::Alloc() const {
  void* p = MM().MemoryPoolAlloc(*this);
  if (!p) rtl::RaiseOutOfMemory();
  return p;
}

void TzfMemoryPool::Dispose(void*& P) const {
  void* old = std::atomic_ref<void*>(P).exchange(nullptr);
  DisposeDirect(old);
}

void TzfMemoryPool::DisposeDirect(void* P) const {
  if (P && MM().MemoryPoolDispose(*this, P) != 0) rtl::RaiseInvalidPointer();
}

// ---- block pools ----------------------------------------------------------------------------

void* zfBlockPoolAlloc(TzfBlockPool aPool) {
  void* p = MM().BlockPoolCommittedAlloc(aPool);
  if (!p) rtl::RaiseOutOfMemory();
  return p;
}

void zfBlockPoolDispose(TzfBlockPool aPool, void*& aBlock) {
  void* old = std::atomic_ref<void*>(aBlock).exchange(nullptr);
  if (old && !MM().BlockPoolCommittedDispose(aPool, old)) rtl::RaiseInvalidPointer();
}

// ---- mappable blocks ------------------------------------------------------------------------

TzfMapableBlockHandle zfMapableBlockAlloc(TzfBlockSizeAll aBlockSize) {
  void* p = MM().MapableBlockAlloc(static_cast<uint8_t>(aBlockSize));
  if (!p) rtl::RaiseOutOfMemory();
  return reinterpret_cast<TzfMapableBlockHandle>(p);
}

void zfMapableBlockAllocList(TzfBlockSizeAll aBlockSize, TzfMapableBlockHandles& aHandles) {
  int i = 0;
  try {
    for (; i < kzfMapableBlockListCount; ++i) aHandles[i] = zfMapableBlockAlloc(aBlockSize);
  } catch (...) {
    while (--i >= 0) {
      try {
        zfMapableBlockFree(aHandles[i]);
      } catch (...) {
      }
      aHandles[i] = 0;
    }
    throw;
  }
}

void zfMapableBlockFree(TzfMapableBlockHandle aHandle) {
  if (!MM().MapableBlockFree(aHandle)) rtl::RaiseInvalidPointer();
}

void* zfMapableBlockMap(TzfMapableBlockHandle aHandle) {
  void* p = MM().MapableBlockMap(aHandle);
  if (!p) rtl::RaiseOutOfMemory();
  return p;
}

void zfMapableBlockUnmap(TzfMapableBlockHandle aHandle, void* aAddress) {
  if (!MM().MapableBlockUnmap(aHandle, aAddress)) rtl::RaiseInvalidPointer();
}

void* zfMapableBlockMapList(TzfMapableBlockHandles& aHandles) {
  auto* entry = MM().MapableBlockMapList;
  void* p = entry ? entry(aHandles) : nullptr;
  if (!p) rtl::RaiseOutOfMemory();
  return p;
}

void zfMapableBlockUnmapList(TzfMapableBlockHandles& aHandles, void* aAddress) {
  auto* entry = MM().MapableBlockUnmapList;
  if (!entry || !entry(aHandles, aAddress)) rtl::RaiseInvalidPointer();
}

// ---- maintenance ----------------------------------------------------------------------------

void zfTrimMemory() {
  if (auto* trim = MM().TrimMemory) trim();
}

bool zfIsMemoryLow() {
  auto* low = MM().IsMemoryLow;
  return low ? low() : false;
}

const TzfListHead* zfSpentChunkReserve() { return MM().SpentCommittedReserve; }
const TzfListHead* zfSpentPhysicalChunkReserve() { return MM().SpentPhysicalReserve; }
const void* zfZeroBuffer() { return MM().ZeroPage; }

void zfGetHeapStatus(TzfHeapStatus& aStatus) {
  aStatus = TzfHeapStatus{};
  if (auto* status = MM().GetHeapStatus) status(aStatus);
}

rtl::TUnitInit& zfllMemoryManagerUnit() {
  static rtl::TUnitInit unit(
      "zfllMemoryManager", [] { MM().AddRef(); }, [] { MM().Release(); });
  return unit;
}

// ---- base objects ---------------------------------------------------------------------------

void* TzfObject::operator new(size_t aSize) { return zfGetMem(aSize ? aSize : 1); }

void* TzfObject::operator new(size_t aSize, std::align_val_t aAlign) { return ::operator new(aSize, aAlign); }

void TzfObject::operator delete(void* P) noexcept {
  if (P) MM().FreeMem(P);  // the result is ignored: a destructor cannot report it
}

void TzfObject::operator delete(void* P, std::align_val_t aAlign) noexcept { ::operator delete(P, aAlign); }

void TzfInterfacedObject::BeforeDestruction() {
  if (ioRefCount.load(std::memory_order_acquire) != 0) rtl::RaiseInvalidPointer();
}

int32_t TzfInterfacedObject::_Release() {
  int32_t n = ioRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (n == 0 && !ioKeepAlive.load(std::memory_order_acquire)) {
    int32_t expected = 0;
    if (ioReleased.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) Destroy();
  }
  return n;
}

void TzfInterfacedObject::Free() {
  RefPtr<TzfInterfacedObject> hold(this);
  if (ioKeepAlive.load(std::memory_order_acquire)) {
    ReleaseKeepAlive();
    ioKeepAlive.store(false, std::memory_order_release);
  }
}

}  // namespace zf
