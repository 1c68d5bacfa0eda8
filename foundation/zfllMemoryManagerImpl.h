// The engine memory manager's start-up, function table, optional instrumentation library and
// trimming thread.
//
// The manager starts on its first user (zfmmAddRef, or the first allocation through its table)
// and stops when the last user leaves. Shut-down stops the trimming thread by flag and joins it
// before any part of the manager is finalised.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/zfllMemoryManager.h"

namespace zf::mm {

// The engine's function table. Its allocation entries start the manager on first use (taking a
// user that is never given back: the process allocator lives as long as the process).
TzfMemoryManagerFunctions& zfmmEngineFunctions();

// Adds / removes a user; the first starts the manager, the last stops it. Release returns the
// remaining number of users.
void zfmmAddRef();
int32_t zfmmRelease();
bool zfmmStarted();
int32_t zfmmUsers();

// Stops and joins the trimming thread, leaving the manager serving allocations (used at process
// exit when the manager is the process allocator and is never torn down).
void zfmmStopTrimmingThread();
bool zfmmTrimmingThreadRunning();
// Requests a full trim (two rounds) from the trimming thread and waits for it, at most 10 s.
void zfmmTrimMemory();

// Counters of the trimming thread's work (for tests and the benchmark).
struct TzfTrimCounters {
  uint64_t Ticks, ItemCleanups, CommittedTrims, PhysicalTrims, ChunkReleases, FullTrims;
};
TzfTrimCounters zfmmTrimCounters();

// The periodic step schedule: the action for the step counter, which it then advances.
enum class TzfTrimAction { None, TrimCommitted, TrimPhysical, ReleaseChunks };
TzfTrimAction zfmmPeriodicAction(uint32_t& aStep, bool aPhysicalMemory);

// ---- instrumentation library ----------------------------------------------------------------

// The sixteen entry points of the library, by exported name.
struct TzfMemoryHooks {
  void (*BeforeGetMem)(size_t* aSize);
  void (*AfterGetMem)(size_t aSize, void** aResult);
  void (*BeforeFreeMem)(void** P);
  void (*BeforeReallocMem)(void** P, size_t* aSize);
  void (*AfterReallocMem)(size_t aSize, void** aResult);
  void (*BeforeGetAllocSize)(void** P);
  void (*AfterGetAllocSize)(void* P, size_t* aResult);
  void (*AfterBlockPoolCommittedAlloc)(void* aBlock);
  void (*BeforeBlockPoolCommittedDispose)(void* aBlock);
  void (*AfterBlockPoolCommittedLargeAlloc)(void* aBlock);      // never called
  void (*BeforeBlockPoolCommittedLargeDispose)(void* aBlock);   // never called
  void (*AfterBlockPoolPhysicalAlloc)(void* aBlock);
  void (*BeforeBlockPoolPhysicalDispose)(void* aBlock);
  void (*BeforeGetPool)(uint32_t* aItemSize);
  void (*AfterMemoryPoolAlloc)(uintptr_t aPool, void** aResult);
  void (*BeforeMemoryPoolDispose)(void** P);
};

// Resolves all sixteen exports of a loaded library; false (aHooks untouched) when any is missing.
bool zfmmResolveHooks(void* aLibrary, TzfMemoryHooks& aHooks);
// aModulePath with everything from the last "." of its file name replaced by
// "_ZofrinMM5Hook.so"; false when the file name has no "." or the result does not fit.
bool zfmmHookPathBeside(const char* aModulePath, char* aOut, size_t aOutSize);
// Looks for the library: already loaded as "ZofrinMM5Hook", beside the program, then the file
// named by the environment variable "ZofrinMM5Hook". nullptr when none is found.
void* zfmmFindHookLibrary();
// True when the running manager routes its entries through a hook library.
bool zfmmHooksActive();

}  // namespace zf::mm
