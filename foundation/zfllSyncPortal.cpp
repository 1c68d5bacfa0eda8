#include "foundation/zfllSyncPortal.h"

#include <pthread.h>
#include <thread>

#include "foundation/zfllLockedFuncs.h"
#include "platform/os/osSystem.h"
#include "platform/rtl/rtlException.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfllSyncPortal";

TzfMemoryPool& StatePool() {
  static TzfMemoryPool pool = zfGetPool(sizeof(TzfThreadState));
  return pool;
}

inline uint32_t LoadID(const TzfThreadState* aState) { return __atomic_load_n(&aState->tsID, __ATOMIC_SEQ_CST); }

// The calling thread's id, asked of the system once per thread (a child process's thread asks
// again: its id differs from the parent's).
thread_local uint32_t tThreadID = 0;
void ForgetThreadIDInChild() { tThreadID = 0; }
inline uint32_t CurrentThreadID() {
  if (tThreadID == 0) {
    static const int registered = ::pthread_atfork(nullptr, nullptr, ForgetThreadIDInChild);
    (void)registered;
    tThreadID = zf::os::GetCurrentThreadId();
  }
  return tThreadID;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TzfThreadStates

TzfThreadStates::TzfThreadStates() { StatePool(); }

TzfThreadStates::~TzfThreadStates() {
  for (auto& head : tlcHashTable) {
    TzfThreadState* s = head;
    head = nullptr;
    while (s) {
      TzfThreadState* next = s->tsNext;
      StatePool().DisposeDirect(s);
      s = next;
    }
  }
}

void TzfThreadStates::Acquire(uint32_t aThreadID, PzfThreadState& aThreadState) {
  TzfThreadState*& bucket = tlcHashTable[BucketOf(aThreadID)];
  TzfThreadState* first = __atomic_load_n(&bucket, __ATOMIC_ACQUIRE);
  // 1. The thread's own record.
  for (TzfThreadState* s = first; s; s = s->tsNext) {
    if (LoadID(s) == aThreadID) {
      aThreadState = s;
      return;
    }
  }
  // 2. A free record of the bucket; 3. or a new one pushed at the head.
  TzfThreadState* claimed = nullptr;
  for (TzfThreadState* s = first; s; s = s->tsNext) {
    if (zfLockedExchange(s->tsInUse, -1) != -1) {
      claimed = s;
      break;
    }
  }
  if (!claimed) {
    claimed = static_cast<TzfThreadState*>(StatePool().Alloc());
    claimed->tsID = 0;
    claimed->tsCount = 0;
    claimed->tsInUse = -1;
    claimed->tsHoldsUnit = false;
    TzfThreadState* head = __atomic_load_n(&bucket, __ATOMIC_ACQUIRE);
    do claimed->tsNext = head;
    while (!__atomic_compare_exchange_n(&bucket, &head, claimed, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE));
  }
  // 4. Make it this thread's.
  zfLockedCompareExchange(claimed->tsID, aThreadID, 0u);
  ZF_ASSERT(LoadID(claimed) == aThreadID, kUnit);
  aThreadState = claimed;
}

void TzfThreadStates::Release(PzfThreadState aThreadState) {
  aThreadState->tsCount = 0;
  aThreadState->tsHoldsUnit = false;
  zfLockedExchange(aThreadState->tsID, 0u);
  zfLockedExchange(aThreadState->tsInUse, 0);
}

int32_t TzfThreadStates::RecordCount(int aBucket) const {
  int32_t n = 0;
  for (TzfThreadState* s = __atomic_load_n(&tlcHashTable[aBucket & 15], __ATOMIC_ACQUIRE); s; s = s->tsNext) ++n;
  return n;
}

// ---------------------------------------------------------------------------------------------
// TzfInternalReadWritePortal

TzfInternalReadWritePortal::TzfInternalReadWritePortal() {
  rwpReadEvent = zfCreateEventHandle(true, true);
  try {
    rwpWriteEvent = zfCreateEventHandle(false, false);
  } catch (...) {
    zfCloseEventHandle(rwpReadEvent);
    throw;
  }
  rwpThreadStates = new TzfThreadStates();
}

TzfInternalReadWritePortal::~TzfInternalReadWritePortal() {
  BeginWrite();  // waits until every reader and writer has left
  while (__atomic_load_n(&rwpLeaving, __ATOMIC_SEQ_CST) != 0) std::this_thread::yield();
  zfCloseEventHandle(rwpReadEvent);
  zfCloseEventHandle(rwpWriteEvent);
  delete rwpThreadStates;
}

namespace {

// Begins (and on a lost race ends) through the given pair of member functions: the portal held
// in aPortal is created on first use and published by compare-exchange.
template <typename TBegin, typename TEnd>
void CreateAndBegin(TzfInternalReadWritePortal*& aPortal, TBegin aBegin, TEnd aEnd) {
  if (auto* p = __atomic_load_n(&aPortal, __ATOMIC_ACQUIRE)) {
    (p->*aBegin)();
    return;
  }
  auto* created = new TzfInternalReadWritePortal();
  (created->*aBegin)();
  auto* found = zfLockedCompareExchange(aPortal, created, static_cast<TzfInternalReadWritePortal*>(nullptr));
  if (found == nullptr) return;
  (created->*aEnd)();
  delete created;
  (found->*aBegin)();
}

}  // namespace

void TzfInternalReadWritePortal::CreateAndRead(TzfInternalReadWritePortal*& aPortal) {
  CreateAndBegin(aPortal, &TzfInternalReadWritePortal::BeginRead, &TzfInternalReadWritePortal::EndRead);
}

void TzfInternalReadWritePortal::CreateAndWrite(TzfInternalReadWritePortal*& aPortal) {
  CreateAndBegin(aPortal, &TzfInternalReadWritePortal::BeginWrite, &TzfInternalReadWritePortal::EndWrite);
}

void TzfInternalReadWritePortal::BeginRead() {
  const uint32_t me = CurrentThreadID();
  PzfThreadState state;
  rwpThreadStates->Acquire(me, state);
  ++state->tsCount;
  // Nested reads and reads inside one's own write take no admission unit.
  if (WriterID() == me || state->tsCount >= 2) return;
  zfWaitForEventHandle(rwpReadEvent, kzfInfinite);
  for (;;) {
    if (zfLockedDecrement(rwpPortal) > 0) break;
    if (zfLockedIncrement(rwpPortal) == kFree) zfSetEventHandle(rwpWriteEvent);
    std::this_thread::yield();
    zfWaitForEventHandle(rwpReadEvent, kzfInfinite);
  }
  state->tsHoldsUnit = true;
}

void TzfInternalReadWritePortal::EndRead() {
  const uint32_t me = CurrentThreadID();
  PzfThreadState state;
  rwpThreadStates->Acquire(me, state);
  if (state->tsCount == 0) {
    rwpThreadStates->Release(state);
    zf::rtl::RaiseIntOverflow();
  }
  if (--state->tsCount != 0) return;
  const bool holdsUnit = state->tsHoldsUnit;
  // A thread that still writes keeps its record: EndWrite needs its read depth.
  if (WriterID() != me) rwpThreadStates->Release(state);
  else state->tsHoldsUnit = false;
  if (!holdsUnit) return;  // a read that began inside the thread's write took no unit
  zfLockedIncrement(rwpLeaving);
  int32_t now = zfLockedIncrement(rwpPortal);
  // The last reader left, or a writer is in the middle of an attempt.
  if (now == kFree || (now <= 0 && now % kFree == 0)) zfSetEventHandle(rwpWriteEvent);
  zfLockedDecrement(rwpLeaving);
}

bool TzfInternalReadWritePortal::BeginWrite() {
  const uint32_t me = CurrentThreadID();
  if (WriterID() == me) {
    ++rwpWriterCount;
    return true;
  }
  zfResetEventHandle(rwpReadEvent);  // new readers now wait
  const uint32_t generation = Generation();
  PzfThreadState state;
  rwpThreadStates->Acquire(me, state);
  const bool upgrade = state->tsHoldsUnit;
  if (upgrade) zfLockedIncrement(rwpPortal);  // do not wait for oneself
  for (;;) {
    if (zfLockedExchangeAdd(rwpPortal, -kFree) == kFree) break;
    if (zfLockedExchangeAdd(rwpPortal, kFree) != 0) zfWaitForEventHandle(rwpWriteEvent, kzfInfinite);
  }
  zfResetEventHandle(rwpReadEvent);
  if (upgrade) zfLockedDecrement(rwpPortal);  // the read level is held again
  __atomic_store_n(&rwpWriterID, me, __ATOMIC_SEQ_CST);
  const bool fresh = zfLockedIncrement(rwpGeneration) == generation + 1;
  ++rwpWriterCount;
  if (state->tsCount == 0) rwpThreadStates->Release(state);
  return fresh;
}

void TzfInternalReadWritePortal::EndWrite() {
  const uint32_t me = CurrentThreadID();
  ZF_ASSERT(WriterID() == me, kUnit);
  if (rwpWriterCount == 0) zf::rtl::RaiseIntOverflow();
  if (--rwpWriterCount != 0) return;
  PzfThreadState state;
  rwpThreadStates->Acquire(me, state);
  int32_t give = kFree;
  if (state->tsCount > 0 && !state->tsHoldsUnit) {
    // Reads begun inside the write go on after it: they now hold one unit like any reader.
    state->tsHoldsUnit = true;
    give = kFree - 1;
  }
  if (state->tsCount == 0) rwpThreadStates->Release(state);
  __atomic_store_n(&rwpWriterID, 0u, __ATOMIC_SEQ_CST);
  zfLockedIncrement(rwpLeaving);
  zfLockedAdd(rwpPortal, give);
  zfSetEventHandle(rwpWriteEvent);
  zfSetEventHandle(rwpReadEvent);
  zfLockedDecrement(rwpLeaving);
}

// ---------------------------------------------------------------------------------------------

namespace {
void PortalInit() { StatePool(); }
}  // namespace

rtl::TUnitInit& zfllSyncPortalUnit() {
  static rtl::TUnitInit unit("zfllSyncPortal", PortalInit, nullptr);
  return unit;
}

}  // namespace zf
