// The engine's allocation interface: raw memory, item pools, block pools, mappable blocks,
// trimming and the memory-low test, the base object classes and the intrusive reference pointer.
//
// Every routine goes through one function table (`zfMemoryManagerFunctions`). The backend behind
// it is chosen at build time: ZF_MM_ENGINE=1 selects the engine's own lock-free manager
// (zfllMemoryManagerImpl), ZF_MM_ENGINE=0 the C library (used by the sanitizer builds, so that
// the sanitizers see every allocation). Failures are the run time's two heap errors:
// zf::rtl::EOutOfMemory and zf::rtl::EInvalidPointer.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/rtl/rtlUnits.h"

#ifndef ZF_MM_ENGINE
#define ZF_MM_ENGINE 0
#endif

namespace zf {

struct TzfListHead;

// Block sizes of the block pools: 4, 8, 16, 32, 64 KB and 4 MB.
enum class TzfBlockSizeAll : uint8_t { zfbs4k, zfbs8k, zfbs16k, zfbs32k, zfbs64k, zfbs4M };
inline constexpr int kzfBlockSizeCount = 6;
constexpr size_t zfBlockSizeBytes(TzfBlockSizeAll aSize) {
  return aSize == TzfBlockSizeAll::zfbs4M ? size_t(4194304) : size_t(4096) << static_cast<int>(aSize);
}

// A block pool handle: the address of the backend's descriptor for one block size.
using TzfBlockPool = const void*;
// A mappable block handle: the block's address.
using TzfMapableBlockHandle = uintptr_t;

// Heap figures in the platform's ten-field order (bytes).
struct TzfHeapStatus {
  uint64_t TotalAddrSpace = 0;
  uint64_t TotalUncommitted = 0;
  uint64_t TotalCommitted = 0;
  uint64_t TotalAllocated = 0;
  uint64_t TotalFree = 0;
  uint64_t FreeSmall = 0;
  uint64_t FreeBig = 0;
  uint64_t Unused = 0;
  uint64_t Overhead = 0;
  uint32_t HeapErrorCode = 0;
};

// An item pool handle. No instance is ever constructed: the handle value is the item size + 500,
// and Alloc is an allocation of that many bytes.
class TzfMemoryPool {
 public:
  constexpr TzfMemoryPool() = default;
  constexpr explicit TzfMemoryPool(uintptr_t aHandle) : FHandle(aHandle) {}
  uintptr_t Handle() const { return FHandle; }
  explicit operator bool() const { return FHandle != 0; }

  // One item; raises EOutOfMemory when none can be had.
  void* Alloc() const;
  // Swaps P with nullptr and gives the old item back; EInvalidPointer when it is not a live item.
  void Dispose(void*& P) const;
  template <typename T>
  void Dispose(T*& P) const {
    void* raw = std::atomic_ref<T*>(P).exchange(nullptr);
    DisposeDirect(raw);
  }
  // The same for a pointer that needs no clearing; nullptr is ignored.
  void DisposeDirect(void* P) const;

 private:
  uintptr_t FHandle = 0;
};

// The manager's function table. Entries a backend does not provide are nullptr.
struct TzfMemoryManagerFunctions {
  void* (*GetMem)(size_t aSize);                 // nullptr when it cannot be served
  int32_t (*FreeMem)(void* P);                   // 0 when freed, non-zero for a pointer not live
  void* (*ReallocMem)(void* P, size_t aSize);    // may move; nullptr on failure (P stays valid)
  TzfMemoryPool (*GetPool)(uint32_t aItemSize);  // handle value aItemSize + 500
  size_t (*GetAllocSize)(void* P);               // always 0
  void (*GetHeapStatus)(TzfHeapStatus& aStatus);
  TzfBlockPool CommittedBlockPools[kzfBlockSizeCount];
  const void* ZeroPage;                          // 64 KB of read-only zero bytes
  TzfBlockPool PhysicalBlockPools[kzfBlockSizeCount];
  void* (*BlockPoolCommittedAlloc)(TzfBlockPool aPool);
  bool (*BlockPoolCommittedDispose)(TzfBlockPool aPool, void* aBlock);
  void* (*BlockPoolPhysicalAlloc)(TzfBlockPool aPool);
  bool (*BlockPoolPhysicalDispose)(TzfBlockPool aPool, void* aBlock);
  void* (*MemoryPoolAlloc)(TzfMemoryPool aPool);
  int32_t (*MemoryPoolDispose)(TzfMemoryPool aPool, void* P);
  uint32_t PhysicalAvailable;                    // all bits set when physical pools are usable
  void* (*MapableBlockAlloc)(uint8_t aBlockSize);
  bool (*MapableBlockFree)(TzfMapableBlockHandle aHandle);
  void* (*MapableBlockMap)(TzfMapableBlockHandle aHandle);
  bool (*MapableBlockUnmap)(TzfMapableBlockHandle aHandle, void* aAddress);
  void (*AddRef)();
  int32_t (*Release)();
  void* (*MapableBlockMapList)(TzfMapableBlockHandle* aHandles);
  bool (*MapableBlockUnmapList)(TzfMapableBlockHandle* aHandles, void* aAddress);
  void (*TrimMemory)();
  const TzfListHead* SpentCommittedReserve;
  const TzfListHead* SpentPhysicalReserve;
  bool (*IsMemoryLow)();
  int32_t* ZeroOnFreeFlag;
};

// The table every routine below calls through (the build's backend).
TzfMemoryManagerFunctions& zfMemoryManagerFunctions();
// The C library backend's table (always built; the engine's is zfllMemoryManagerImpl's).
TzfMemoryManagerFunctions& zfSystemMemoryManagerFunctions();

// ---- raw memory -----------------------------------------------------------------------------

// aSize 0 gives nullptr without asking the manager; a failed allocation raises EOutOfMemory.
void* zfGetMem(size_t aSize);
void zfGetMem(void*& P, size_t aSize);
// As zfGetMem, zero-filled.
void* zfAllocMem(size_t aSize);
// Resizes P (nullptr allocates, 0 frees). On failure raises EOutOfMemory and leaves P unchanged.
void zfReallocMem(void*& P, size_t aSize);
template <typename T>
void zfReallocMem(T*& P, size_t aSize) {
  void* raw = P;
  zfReallocMem(raw, aSize);
  P = static_cast<T*>(raw);
}
// nullptr is ignored; a pointer that is not a live allocation raises EInvalidPointer.
void zfFreeMem(void* P);
// Swaps P with nullptr in one atomic exchange, then frees the old pointer (P is nullptr even
// when the free raises).
template <typename T>
void zfFreeMemAndNil(T*& P) {
  void* old = std::atomic_ref<T*>(P).exchange(nullptr);
  if (old) zfFreeMem(old);
}

// ---- item pools -----------------------------------------------------------------------------

TzfMemoryPool zfGetPool(uint32_t aItemSize);

// ---- block pools (whole blocks aligned to their size) ---------------------------------------

// The committed pool of each block size, indexed by TzfBlockSizeAll.
struct TzfBlockPools {
  TzfBlockPool operator[](TzfBlockSizeAll aSize) const {
    return zfMemoryManagerFunctions().CommittedBlockPools[static_cast<int>(aSize)];
  }
};
inline constexpr TzfBlockPools zfBlockPools{};

void* zfBlockPoolAlloc(TzfBlockPool aPool);
inline void* zfBlockPoolAlloc(TzfBlockSizeAll aSize) { return zfBlockPoolAlloc(zfBlockPools[aSize]); }
// Swaps aBlock with nullptr, then gives the old block back; EInvalidPointer when the pool refuses it.
void zfBlockPoolDispose(TzfBlockPool aPool, void*& aBlock);
template <typename T>
void zfBlockPoolDispose(TzfBlockPool aPool, T*& aBlock) {
  void* raw = std::atomic_ref<T*>(aBlock).exchange(nullptr);
  zfBlockPoolDispose(aPool, raw);
}
inline void zfBlockPoolDispose(TzfBlockSizeAll aSize, void*& aBlock) { zfBlockPoolDispose(zfBlockPools[aSize], aBlock); }

// ---- mappable blocks (cache blocks of the buffer manager; always mapped) ----------------------

inline constexpr int kzfMapableBlockListCount = 256;
using TzfMapableBlockHandles = TzfMapableBlockHandle[kzfMapableBlockListCount];

TzfMapableBlockHandle zfMapableBlockAlloc(TzfBlockSizeAll aBlockSize);
// Fills all 256 handles; when one allocation fails, the handles taken so far are freed (highest
// first, their errors swallowed) and the failure passes on.
void zfMapableBlockAllocList(TzfBlockSizeAll aBlockSize, TzfMapableBlockHandles& aHandles);
void zfMapableBlockFree(TzfMapableBlockHandle aHandle);
void* zfMapableBlockMap(TzfMapableBlockHandle aHandle);
void zfMapableBlockUnmap(TzfMapableBlockHandle aHandle, void* aAddress);
// One contiguous view of 256 blocks. Neither backend provides it: callers keep to single-block
// maps; these raise EOutOfMemory (map) / EInvalidPointer (unmap) when the entry is missing.
void* zfMapableBlockMapList(TzfMapableBlockHandles& aHandles);
void zfMapableBlockUnmapList(TzfMapableBlockHandles& aHandles, void* aAddress);

// ---- maintenance ----------------------------------------------------------------------------

// Asks the manager to give every unused page back to the operating system and waits for it.
void zfTrimMemory();
// True when the system is short of memory: the manager's emergency reserve is being spent, the
// system's available memory is low, or the process's cgroup is close to its memory limit.
bool zfIsMemoryLow();
// The two spent-reserve lists (nullptr when the backend has none): non-empty means short.
const TzfListHead* zfSpentChunkReserve();
const TzfListHead* zfSpentPhysicalChunkReserve();
// 64 KB of zero bytes.
const void* zfZeroBuffer();
void zfGetHeapStatus(TzfHeapStatus& aStatus);

// The unit: takes a user of the manager at start-up and drops it at shut-down.
rtl::TUnitInit& zfllMemoryManagerUnit();

// ---- base objects ---------------------------------------------------------------------------

// Root of the engine's classes: instances are allocated through the engine manager.
class TzfObject {
 public:
  virtual ~TzfObject() = default;

  // Runs just before an outermost destruction; may refuse it by raising.
  virtual void BeforeDestruction() {}
  // Outermost destruction: BeforeDestruction, then the destructor and the free.
  void Destroy() {
    BeforeDestruction();
    delete this;
  }

  static void* operator new(size_t aSize);
  static void* operator new(size_t aSize, std::align_val_t aAlign);
  static void operator delete(void* P) noexcept;
  static void operator delete(void* P, std::align_val_t aAlign) noexcept;
};

// Swaps the object variable with nullptr in one atomic exchange and destroys the old object when
// it was not nullptr (the variable is nullptr even when the destruction raises).
template <typename T>
void zfFreeAndNil(T*& aObject) {
  static_assert(std::is_base_of_v<TzfObject, T>, "zfFreeAndNil takes engine objects");
  T* old = std::atomic_ref<T*>(aObject).exchange(nullptr);
  if (old) static_cast<TzfObject*>(old)->Destroy();
}

// Reference-counted object. The count starts at 1 while the constructor runs (so that the
// constructor may hand out and drop references); AfterConstruction takes that one back. Create
// objects through RefPtr<T>::Create or zfCreateObject, which call it.
class TzfInterfacedObject : public TzfObject {
 public:
  explicit TzfInterfacedObject(bool aKeepAlive = false) : ioKeepAlive(aKeepAlive) {}
  ~TzfInterfacedObject() override = default;

  void AfterConstruction() { ioRefCount.fetch_sub(1, std::memory_order_acq_rel); }
  // A destruction while references are held raises EInvalidPointer (nothing is destroyed).
  void BeforeDestruction() override;

  int32_t _AddRef() { return ioRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }
  // Drops a reference; the last one destroys the object unless it is kept alive. Destruction is
  // claimed by one compare-exchange, so it happens at most once.
  int32_t _Release();

  // Ends keep-alive (calling ReleaseKeepAlive first) and drops a temporary reference: destroys
  // the object when no other reference is left, otherwise the last _Release will.
  void Free();
  virtual void ReleaseKeepAlive() {}

  int32_t RefCount() const { return ioRefCount.load(std::memory_order_acquire); }
  bool KeepAlive() const { return ioKeepAlive.load(std::memory_order_acquire); }

 private:
  std::atomic<int32_t> ioRefCount{1};
  std::atomic<int32_t> ioReleased{0};
  std::atomic<bool> ioKeepAlive;
};

// Intrusive reference to a TzfInterfacedObject (or anything with _AddRef/_Release).
template <typename T>
class RefPtr {
 public:
  RefPtr() noexcept = default;
  RefPtr(std::nullptr_t) noexcept {}
  // Takes a new reference to aObject.
  RefPtr(T* aObject) : FPtr(aObject) {
    if (FPtr) FPtr->_AddRef();
  }
  RefPtr(const RefPtr& aOther) : RefPtr(aOther.FPtr) {}
  RefPtr(RefPtr&& aOther) noexcept : FPtr(std::exchange(aOther.FPtr, nullptr)) {}
  template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  RefPtr(const RefPtr<U>& aOther) : RefPtr(aOther.get()) {}
  template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  RefPtr(RefPtr<U>&& aOther) noexcept : FPtr(aOther.detach()) {}
  ~RefPtr() { reset(); }

  RefPtr& operator=(const RefPtr& aOther) {
    RefPtr(aOther).swap(*this);
    return *this;
  }
  RefPtr& operator=(RefPtr&& aOther) noexcept {
    RefPtr(std::move(aOther)).swap(*this);
    return *this;
  }
  RefPtr& operator=(T* aObject) {
    RefPtr(aObject).swap(*this);
    return *this;
  }

  void reset() {
    if (T* p = std::exchange(FPtr, nullptr)) p->_Release();
  }
  // Gives up the reference without releasing it.
  T* detach() noexcept { return std::exchange(FPtr, nullptr); }
  void swap(RefPtr& aOther) noexcept { std::swap(FPtr, aOther.FPtr); }

  T* get() const noexcept { return FPtr; }
  T* operator->() const noexcept { return FPtr; }
  T& operator*() const noexcept { return *FPtr; }
  explicit operator bool() const noexcept { return FPtr != nullptr; }
  friend bool operator==(const RefPtr& a, const RefPtr& b) noexcept { return a.FPtr == b.FPtr; }
  friend bool operator==(const RefPtr& a, std::nullptr_t) noexcept { return a.FPtr == nullptr; }

  // Constructs a T, ends its construction phase and returns the first reference to it.
  template <typename... Args>
  static RefPtr Create(Args&&... aArgs) {
    T* p = new T(std::forward<Args>(aArgs)...);
    p->AfterConstruction();
    return RefPtr(p);
  }

 private:
  T* FPtr = nullptr;
};

// Constructs an interfaced object that its creator owns outright (freed with Free/zfFreeAndNil).
template <typename T, typename... Args>
T* zfCreateObject(Args&&... aArgs) {
  T* p = new T(std::forward<Args>(aArgs)...);
  p->AfterConstruction();
  return p;
}

}  // namespace zf
