/* An instrumentation library for the memory manager's tests: counts the calls of each hook and
   lets a test change the size GetMem is asked for. Built twice: with all sixteen exports and,
   with ZF_HOOK_OMIT_ONE, without "BeforeGetPool". */
#include <stddef.h>
#include <stdint.h>

static int gCalls[16];
static size_t gAddToSize;

int HookCallCount(int aIndex) { return aIndex >= 0 && aIndex < 16 ? gCalls[aIndex] : -1; }
void HookSetSizeIncrement(size_t aAdd) { gAddToSize = aAdd; }

void BeforeGetMem(size_t* aSize) { ++gCalls[0]; *aSize += gAddToSize; }
void AfterGetMem(size_t aSize, void** aResult) { (void)aSize; (void)aResult; ++gCalls[1]; }
void BeforeFreeMem(void** P) { (void)P; ++gCalls[2]; }
void BeforeReallocMem(void** P, size_t* aSize) { (void)P; (void)aSize; ++gCalls[3]; }
void AfterReallocMem(size_t aSize, void** aResult) { (void)aSize; (void)aResult; ++gCalls[4]; }
void BeforeGetAllocSize(void** P) { (void)P; ++gCalls[5]; }
void AfterGetAllocSize(void* P, size_t* aResult) { (void)P; (void)aResult; ++gCalls[6]; }
void AfterBlockPoolCommittedAlloc(void* aBlock) { (void)aBlock; ++gCalls[7]; }
void BeforeBlockPoolCommittedDispose(void* aBlock) { (void)aBlock; ++gCalls[8]; }
void AfterBlockPoolCommittedLargeAlloc(void* aBlock) { (void)aBlock; ++gCalls[9]; }
void BeforeBlockPoolCommittedLargeDispose(void* aBlock) { (void)aBlock; ++gCalls[10]; }
void AfterBlockPoolPhysicalAlloc(void* aBlock) { (void)aBlock; ++gCalls[11]; }
void BeforeBlockPoolPhysicalDispose(void* aBlock) { (void)aBlock; ++gCalls[12]; }
#ifndef ZF_HOOK_OMIT_ONE
void BeforeGetPool(uint32_t* aItemSize) { (void)aItemSize; ++gCalls[13]; }
#endif
void AfterMemoryPoolAlloc(uintptr_t aPool, void** aResult) { (void)aPool; (void)aResult; ++gCalls[14]; }
void BeforeMemoryPoolDispose(void** P) { (void)P; ++gCalls[15]; }
