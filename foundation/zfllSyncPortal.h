// The engine's re-entrant reader/writer lock.
//
// Any number of threads may read at once and one thread may write; a thread may read inside its
// own write, and a reading thread may ask to write (upgrade). BeginWrite reports whether some other
// writer got in first, so a caller that looked at the data under a read lock knows whether what it
// saw is still valid.
//
// Admission counter: 65535 when nobody holds the portal; each admitted reading thread holds one
// unit, a writer holds all 65535. Nested reads take no further unit. A reading thread's unit is
// remembered in its thread state, so whatever order a thread ends its reads and writes in, the
// portal comes back free.
#pragma once
#include <cstdint>

#include "foundation/zfllMemoryManager.h"
#include "foundation/zfllSync.h"
#include "platform/rtl/rtlUnits.h"

namespace zf {

// One thread's read nesting on one portal. Records stay linked in their bucket until the table is
// destroyed and are reused by later threads.
struct TzfThreadState {
  TzfThreadState* tsNext;  // next record of the bucket
  int32_t tsInUse;         // 0 free, -1 claimed by a thread
  uint32_t tsCount;        // the thread's read nesting depth (owner only)
  uint32_t tsID;           // owning thread's id, 0 when free
  bool tsHoldsUnit;        // the thread's reads hold an admission unit (owner only)
};
using PzfThreadState = TzfThreadState*;

// Per-portal table of thread states: 16 buckets by (low byte XOR second byte of the id) AND 15.
class TzfThreadStates : public TzfObject {
 public:
  TzfThreadStates();
  ~TzfThreadStates() override;  // gives every record back to the pool

  // The calling thread's record, claiming a free one or adding a new one when it has none.
  void Acquire(uint32_t aThreadID, PzfThreadState& aThreadState);
  void Release(PzfThreadState aThreadState);

  static int BucketOf(uint32_t aThreadID) { return static_cast<int>(((aThreadID & 0xFF) ^ ((aThreadID >> 8) & 0xFF)) & 15); }
  // Records linked into a bucket (for tests and diagnostics).
  int32_t RecordCount(int aBucket) const;

 private:
  TzfThreadState* tlcHashTable[16] = {};
};

class TzfInternalReadWritePortal : public TzfObject {
 public:
  static constexpr int32_t kFree = 65535;

  TzfInternalReadWritePortal();
  // Waits until every reader and writer has left, then frees the events and the thread states.
  ~TzfInternalReadWritePortal() override;

  // Begin reading (writing) on the portal held in the variable, creating it on first use; racing
  // creators end up on the one portal that survives in the variable.
  static void CreateAndRead(TzfInternalReadWritePortal*& aPortal);
  static void CreateAndWrite(TzfInternalReadWritePortal*& aPortal);

  void BeginRead();
  // Unbalanced: integer-overflow error.
  void EndRead();
  // True when no other thread acquired the write lock between the start of this call and this
  // thread's acquisition; always True for a nested call by the writing thread.
  bool BeginWrite();
  // By a thread that does not write: assertion failure. Unbalanced: integer-overflow error.
  void EndWrite();

  // Diagnostics.
  int32_t AdmissionCounter() const { return __atomic_load_n(&rwpPortal, __ATOMIC_SEQ_CST); }
  uint32_t WriterID() const { return __atomic_load_n(&rwpWriterID, __ATOMIC_SEQ_CST); }
  uint32_t Generation() const { return __atomic_load_n(&rwpGeneration, __ATOMIC_SEQ_CST); }
  const TzfThreadStates& ThreadStates() const { return *rwpThreadStates; }

 private:
  int32_t rwpPortal = kFree;
  TzfThreadStates* rwpThreadStates;
  TzfEventHandle rwpReadEvent;   // manual reset; signalled: new readers may enter
  TzfEventHandle rwpWriteEvent;  // auto reset; a waiting writer should look again
  uint32_t rwpWriterID = 0;
  uint32_t rwpWriterCount = 0;   // written by the writer only
  uint32_t rwpGeneration = 0;
  // Threads between giving their admission back and their last touch of the portal (setting the
  // events); the destructor waits for them so it never frees what they still use.
  int32_t rwpLeaving = 0;
};

// Holds a read (or write) of a portal for a scope.
class TzfPortalReadGuard {
 public:
  explicit TzfPortalReadGuard(TzfInternalReadWritePortal& aPortal) : FPortal(aPortal) { FPortal.BeginRead(); }
  ~TzfPortalReadGuard() { FPortal.EndRead(); }
  TzfPortalReadGuard(const TzfPortalReadGuard&) = delete;
  TzfPortalReadGuard& operator=(const TzfPortalReadGuard&) = delete;

 private:
  TzfInternalReadWritePortal& FPortal;
};

class TzfPortalWriteGuard {
 public:
  explicit TzfPortalWriteGuard(TzfInternalReadWritePortal& aPortal) : FPortal(aPortal), FFresh(aPortal.BeginWrite()) {}
  ~TzfPortalWriteGuard() { FPortal.EndWrite(); }
  bool Fresh() const { return FFresh; }
  TzfPortalWriteGuard(const TzfPortalWriteGuard&) = delete;
  TzfPortalWriteGuard& operator=(const TzfPortalWriteGuard&) = delete;

 private:
  TzfInternalReadWritePortal& FPortal;
  bool FFresh;
};

// Creates the item pool of thread-state records.
rtl::TUnitInit& zfllSyncPortalUnit();

}  // namespace zf
