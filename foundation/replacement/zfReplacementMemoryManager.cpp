// The engine memory manager as the process's C++ allocator: every form of the global operator
// new and delete (plain, array, nothrow, sized, aligned) goes through the engine's table.
//
// Executables opt in by linking the object library zf_replacement_mm (CMake: zf_use_engine_allocator).
// The manager starts on the first allocation and is never torn down: static destructors may free
// memory until the very end. Only its trimming thread is stopped (by flag, and joined) at exit.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <new>

#include "foundation/zfllMemoryManagerImpl.h"
#include "foundation/zfmmBlockManager.h"
#include "foundation/zfmmChunkManager.h"
#include "foundation/zfmmItemManager.h"
#include "platform/rtl/rtlException.h"

namespace {

using zf::mm::zfmmEngineFunctions;

void StopTrimmingAtExit() { zf::mm::zfmmStopTrimmingThread(); }

// Registered before ordinary static constructors run; the handler only stops the thread.
__attribute__((constructor(101))) void RegisterExitHandler() { std::atexit(StopTrimmingAtExit); }

constexpr size_t kDefaultAlign = 16;

void* RawAlloc(size_t aSize) { return zfmmEngineFunctions().GetMem(aSize ? aSize : 1); }

void* RawAllocAligned(size_t aSize, size_t aAlign) {
  auto& f = zfmmEngineFunctions();
  if (aAlign <= kDefaultAlign) return f.GetMem(aSize < kDefaultAlign ? kDefaultAlign : aSize);
  // Large blocks start on a 64 KB boundary.
  if (aAlign <= 65536 && aSize > zf::mm::kzfMaxItemRequest) return f.GetMem(aSize);
  // A block of a block pool is aligned to its own size.
  if (aAlign >= 4096 && aAlign <= 65536 && aSize <= aAlign)
    return f.BlockPoolCommittedAlloc(f.CommittedBlockPools[__builtin_ctzll(aAlign) - 12]);
  // Otherwise over-allocate and keep the real start just before the aligned address.
  if (aSize > SIZE_MAX - aAlign) return nullptr;
  auto* p = static_cast<uint8_t*>(f.GetMem(aSize + aAlign));
  if (!p) return nullptr;
  uintptr_t q = (reinterpret_cast<uintptr_t>(p) + aAlign) & ~uintptr_t(aAlign - 1);
  reinterpret_cast<void**>(q)[-1] = p;
  return reinterpret_cast<void*>(q);
}

void RawFree(void* P) {
  if (P && zfmmEngineFunctions().FreeMem(P) != 0) zf::rtl::RaiseInvalidPointer();  // terminates: delete is noexcept
}

void RawFreeAligned(void* P, size_t aAlign) {
  if (!P) return;
  if (aAlign <= kDefaultAlign) return RawFree(P);
  auto& f = zfmmEngineFunctions();
  if (zf::mm::zfmmInChunkRange(P)) {
    zf::mm::TzfBlockClass* k = zf::mm::zfmmOwnerClassOf(P);
    bool wholeBlock = k && (k->Index != zf::mm::kzfItemBlockClass || (reinterpret_cast<uintptr_t>(P) & 65535) == 0);
    if (wholeBlock) {
      if (!f.BlockPoolCommittedDispose(k, P)) zf::rtl::RaiseInvalidPointer();
      return;
    }
  } else if (zf::mm::zfmmLargeTrailer(P)) {
    return RawFree(P);
  }
  RawFree(reinterpret_cast<void**>(P)[-1]);
}

// The manager could not start: not even its smallest range of address space can be reserved
// (an address-space limit far too low). Nothing can be allocated, possibly not even an exception
// object, and this may be a static constructor before main: say so in one line and end the
// process with exit code 1.
[[noreturn]] void ManagerCannotStart() {
  static const char kText[] =
      "Cannot start the memory manager: the address-space limit (ulimit -v) leaves no room for its "
      "smallest range of 128 MB.\n";
  ssize_t ignored = ::write(2, kText, sizeof kText - 1);
  (void)ignored;
  ::_exit(1);
}

template <typename F>
void* AllocOrHandle(F aAlloc) {
  for (;;) {
    if (void* p = aAlloc()) return p;
    if (!zf::mm::zfmmStarted()) ManagerCannotStart();
    std::new_handler handler = std::get_new_handler();
    if (!handler) throw std::bad_alloc();
    handler();
  }
}

void* New(size_t aSize) {
  return AllocOrHandle([aSize] { return RawAlloc(aSize); });
}
void* NewAligned(size_t aSize, std::align_val_t aAlign) {
  return AllocOrHandle([aSize, aAlign] { return RawAllocAligned(aSize, size_t(aAlign)); });
}
void* NewNoThrow(size_t aSize) noexcept {
  try {
    return New(aSize);
  } catch (...) {
    return nullptr;
  }
}
void* NewAlignedNoThrow(size_t aSize, std::align_val_t aAlign) noexcept {
  try {
    return NewAligned(aSize, aAlign);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

void* operator new(size_t aSize) { return New(aSize); }
void* operator new[](size_t aSize) { return New(aSize); }
void* operator new(size_t aSize, const std::nothrow_t&) noexcept { return NewNoThrow(aSize); }
void* operator new[](size_t aSize, const std::nothrow_t&) noexcept { return NewNoThrow(aSize); }
void* operator new(size_t aSize, std::align_val_t aAlign) { return NewAligned(aSize, aAlign); }
void* operator new[](size_t aSize, std::align_val_t aAlign) { return NewAligned(aSize, aAlign); }
void* operator new(size_t aSize, std::align_val_t aAlign, const std::nothrow_t&) noexcept {
  return NewAlignedNoThrow(aSize, aAlign);
}
void* operator new[](size_t aSize, std::align_val_t aAlign, const std::nothrow_t&) noexcept {
  return NewAlignedNoThrow(aSize, aAlign);
}

void operator delete(void* P) noexcept { RawFree(P); }
void operator delete[](void* P) noexcept { RawFree(P); }
void operator delete(void* P, size_t) noexcept { RawFree(P); }
void operator delete[](void* P, size_t) noexcept { RawFree(P); }
void operator delete(void* P, const std::nothrow_t&) noexcept { RawFree(P); }
void operator delete[](void* P, const std::nothrow_t&) noexcept { RawFree(P); }
void operator delete(void* P, std::align_val_t aAlign) noexcept { RawFreeAligned(P, size_t(aAlign)); }
void operator delete[](void* P, std::align_val_t aAlign) noexcept { RawFreeAligned(P, size_t(aAlign)); }
void operator delete(void* P, size_t, std::align_val_t aAlign) noexcept { RawFreeAligned(P, size_t(aAlign)); }
void operator delete[](void* P, size_t, std::align_val_t aAlign) noexcept { RawFreeAligned(P, size_t(aAlign)); }
void operator delete(void* P, std::align_val_t aAlign, const std::nothrow_t&) noexcept {
  RawFreeAligned(P, size_t(aAlign));
}
void operator delete[](void* P, std::align_val_t aAlign, const std::nothrow_t&) noexcept {
  RawFreeAligned(P, size_t(aAlign));
}
