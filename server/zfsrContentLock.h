// Record locks requested while the table's content portal may be held for reading.
//
// A committing writer holds its record locks while it waits for the portal's write side. A reader
// that holds the portal and waited for one of those record locks would wait for the writer while
// the writer waits for it, until one deadline passed. So a cursor that must wait for a record lock
// leaves its reads of the portal for the wait and enters them again afterwards; a lock that is free
// is taken without leaving.
//
// TzfCursorContentLock is the content lock every read and write of a table cursor runs in: outside
// transactions the root table's content portal (read side, shared cursors only); inside a
// transaction the transaction's lock on the root table (shared for reads, exclusive for writes),
// which lasts until its level ends.
//
// TzfIndexAccessLock serialises the use of a root table's indices engines. Those engines keep the
// transaction they work in, the header block a change holds and their key scratch in the engine
// object, so two threads must never use them at once: a writer in its transaction and portal
// readers outside one, or readers of several transactions, would otherwise read through each
// other's transaction or block. Every cursor operation holds it for its content work; it is
// re-entrant for the thread that holds it, and left (all levels) while that thread waits for a
// record lock, as the portal is.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "server/zfsrContentPortal.h"
#include "server/zfsrTableLockContainer.h"

namespace zf {

class TzfServerTransaction;
class TzfTransLockTable;

class TzfCursorContentLock {
 public:
  // aPortal and aTable: the root table's content portal and transaction-lock lists (not owned);
  // aExclusiveCursor: the cursor was opened smExclusive and needs no portal.
  TzfCursorContentLock(TzfContentPortal* aPortal, TzfTransLockTable* aTable, bool aExclusiveCursor)
      : clPortal(aPortal), clTable(aTable), clExclusiveCursor(aExclusiveCursor) {}

  // Outside a transaction (aTrans nil): an exclusive request answers 10257; a shared cursor enters
  // the portal for reading. In a transaction: the transaction's lock on the table (a refused or
  // timed-out request answers through zfLockFailureResult with aReason's lines). 0 when held.
  uint32_t Begin(TzfServerTransaction* aTrans, bool aExclusive, bool aConditional, TzfLockFailureReason* aReason);
  // Ends what the matching successful Begin began: a portal read is left; a transaction lock stays
  // until its level ends. Unbalanced: "Assertion failure".
  void End();
  // Successful Begins not yet ended.
  size_t Depth() const { return clEntered.size(); }

 private:
  TzfContentPortal* clPortal;
  TzfTransLockTable* clTable;
  bool clExclusiveCursor;
  std::vector<bool> clEntered;  // per open Begin: whether it entered the portal
};

class TzfIndexAccessLock {
 public:
  // False when another thread holds it past aDeadline (a tick count; zfDeadlineNone: no limit).
  bool Enter(int64_t aDeadline);
  void Leave();
  // Leaves every level the calling thread holds (0 when it holds none) and answers their number.
  uint32_t LeaveAll();
  // Takes aLevels levels again, waiting as long as it takes.
  void Reenter(uint32_t aLevels);

 private:
  std::mutex ialMutex;
  std::atomic<std::thread::id> ialOwner{};
  uint32_t ialDepth = 0;  // written by the owner only
};

// One level of an index-access lock, held from a successful Enter until Leave or the end of its
// lifetime: for workers that take a content lock directly instead of through a cursor operation.
class TzfIndexAccessHold {
 public:
  TzfIndexAccessHold() = default;
  ~TzfIndexAccessHold() { Leave(); }
  TzfIndexAccessHold(const TzfIndexAccessHold&) = delete;
  TzfIndexAccessHold& operator=(const TzfIndexAccessHold&) = delete;
  // 0 when held; 10249 when aLock cannot be had by the thread's deadline. Holds one lock at a time.
  uint32_t Enter(TzfIndexAccessLock& aLock);
  void Leave();

 private:
  TzfIndexAccessLock* FLock = nullptr;
};

// Leaves the calling thread's levels of an index-access lock (may be nil) for its lifetime.
class TzfIndexAccessPause {
 public:
  explicit TzfIndexAccessPause(TzfIndexAccessLock* aLock) : FLock(aLock), FLevels(aLock ? aLock->LeaveAll() : 0) {}
  ~TzfIndexAccessPause() {
    if (FLock) FLock->Reenter(FLevels);
  }
  TzfIndexAccessPause(const TzfIndexAccessPause&) = delete;
  TzfIndexAccessPause& operator=(const TzfIndexAccessPause&) = delete;

 private:
  TzfIndexAccessLock* FLock;
  uint32_t FLevels;
};

// GetRecordLock of aContainer for aCursor. With aPortal (may be nil) held for reading by the calling
// thread and a non-conditional request that conflicts, the thread's reads of aPortal are left for
// the wait and entered again before the answer. The failure lines go into aReason (may be nil).
// aIndexAccess (may be nil) is left for the wait too, before the portal, and taken again after it.
TzfLockResult zfGetRecordLockOutsidePortal(TzfTableLockContainer& aContainer, TzfContentPortal* aPortal,
                                           TzfBaseTransaction* aTrans, TzfAbstractCursor* aCursor, int64_t aRefNr,
                                           bool aConditional, TzfLockFailureReason* aReason,
                                           TzfIndexAccessLock* aIndexAccess = nullptr);

}  // namespace zf
