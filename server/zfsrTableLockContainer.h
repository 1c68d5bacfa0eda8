// The content locks of one open table: a re-entrant write lock of one cursor, counted read locks
// of any number of cursors, and record locks by reference number, with a queue of waiting
// requests.
//
// A request that conflicts fails at once when it is conditional, when the conflict is with the
// requester's own session (a cursor never waits for its own session) or when the thread has no
// deadline with more than 5 ms left; otherwise it queues a waiting request and waits on its own
// event outside the gate. A release wakes the head of the queue; a waiter that is granted after
// a successful wait passes the wake-up to the next head. After a transaction deleted records of
// the table (a record-lock release that names the transaction), no cursor outside it obtains a
// read, write or new record lock until the transaction ends (EndTransaction).
//
// Every decision, including the last round of a waiter whose time ran out, is taken under the
// gate; a wake-up delivered to a waiter that then leaves without a grant is passed on to the next
// head, so no release is lost.
#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "dictionary/zfsdAbstractCursor.h"  // TzfLockPresent
#include "foundation/zfllSync.h"
#include "storage/zfsrTempStorage.h"

namespace zf {

class TzfAbstractCursor;
class TzfAbstractSession;
class TzfBaseTransaction;
class TzfTableLockContainer;

enum class TzfLockResult : uint8_t {
  lrGrantedNew,
  lrGrantedExisting,
  lrConflictUnknown,
  lrConflictCursorWriteLock,
  lrConflictCursorReadLockSingle,
  lrConflictCursorReadLockMultiple,
  lrConflictCursorRecordLockSingle,
  lrConflictCursorRecordLockMultiple,
  lrConflictTransaction
};
inline bool zfLockGranted(TzfLockResult aResult) { return aResult <= TzfLockResult::lrGrantedExisting; }
const char16_t* zfLockResultName(TzfLockResult aResult);

enum class TzfLockRequestType : uint8_t { lrtRecordLock, lrtReadLock, lrtWriteLock };
const char16_t* zfLockRequestTypeName(TzfLockRequestType aType);

struct TzfCursorLock {
  TzfAbstractCursor* clCursor;
  int32_t clCount;
};
struct TzfRecordLock {
  TzfAbstractCursor* rlCursor;
  int64_t rlRefNr;
};

// One waiting request; created, queued and freed only under the container's gate.
class TzfWaitingLockRequest : public TzfObject {
 public:
  // Enqueues at the tail with a new event.
  TzfWaitingLockRequest(TzfTableLockContainer* aContainer, TzfLockRequestType aType);
  // Leaves the queue, frees the event.
  ~TzfWaitingLockRequest() override;
  // Sets the event (under the gate).
  void Signal();
  // Waits outside the gate while the thread has more than 5 ms left; true when signalled in time.
  bool WaitFor();

  TzfTableLockContainer* wlrContainer;
  TzfLockRequestType wlrType;
  TzfWaitingLockRequest* wlrPrev = nullptr;
  TzfWaitingLockRequest* wlrNext = nullptr;
  TzfEvent wlrEvent;
  bool wlrSignalled = false;  // a wake-up was delivered and not yet used (under the gate)
};

class TzfTableLockContainer : public TzfObject {
 public:
  TzfTableLockContainer();
  ~TzfTableLockContainer() override;
  TzfTableLockContainer(const TzfTableLockContainer&) = delete;
  TzfTableLockContainer& operator=(const TzfTableLockContainer&) = delete;

  // Each answers a grant or the conflict; a conflict writes the failure lines into aReason (may be
  // nil). Nothing raises.
  TzfLockResult GetReadLock(TzfBaseTransaction* aTrans, TzfAbstractCursor* aCursor, bool aConditional,
                            TzfLockFailureReason* aReason);
  TzfLockResult GetWriteLock(TzfBaseTransaction* aTrans, TzfAbstractCursor* aCursor, bool aConditional,
                             TzfLockFailureReason* aReason);
  TzfLockResult GetRecordLock(TzfBaseTransaction* aTrans, TzfAbstractCursor* aCursor, int64_t aRefNr,
                              bool aConditional, TzfLockFailureReason* aReason);
  // True when aCursor held that lock (one count of it is dropped).
  bool ReleaseReadLock(TzfAbstractCursor* aCursor);
  bool ReleaseWriteLock(TzfAbstractCursor* aCursor);
  // With aTrans the container is first bound to aTrans (a delete); true when aCursor held aRefNr.
  bool ReleaseRecordLock(TzfAbstractCursor* aCursor, int64_t aRefNr, TzfBaseTransaction* aTrans);
  TzfLockPresent IsReadLocked(TzfAbstractCursor* aCursor);
  TzfLockPresent IsWriteLocked(TzfAbstractCursor* aCursor);
  TzfLockPresent IsRecordLocked(TzfAbstractCursor* aCursor, int64_t aRefNr);
  // Drop the read and write lock whole / all record locks / everything of aCursor.
  void ClearCursorLocks(TzfAbstractCursor* aCursor);
  void ClearRecordLocks(TzfAbstractCursor* aCursor);
  void ClearAllLocks(TzfAbstractCursor* aCursor);
  // Ends the binding to aTrans.
  void EndTransaction(TzfBaseTransaction* aTrans);

  // For checks: counts under the gate, and the invariants (sorted lists, positive counts, queue
  // links consistent); empty text when they hold.
  int32_t WaitingCount();
  int32_t ReadLockCount();
  int32_t RecordLockCount();
  int32_t WriteLockCount();
  UnicodeString CheckInvariants();

  // The session a cursor belongs to (its database's session); virtual so that tests can place
  // cursors in sessions without opening real ones.
  virtual TzfAbstractSession* tlcSessionOf(TzfAbstractCursor* aCursor);
  // The session that owns a transaction.
  virtual TzfAbstractSession* tlcSessionOfTrans(TzfBaseTransaction* aTrans);
  // False when the transaction's current level is corrupted or deadlocked (it binds nothing).
  virtual bool tlcTransactionCanBind(TzfBaseTransaction* aTrans);

 private:
  friend class TzfWaitingLockRequest;
  enum class Kind { Read, Write, Record };
  TzfLockResult tlcGet(Kind aKind, TzfBaseTransaction* aTrans, TzfAbstractCursor* aCursor, int64_t aRefNr,
                       bool aConditional, TzfLockFailureReason* aReason);
  // Under the gate: the result and the conflicting cursor; grants are applied.
  TzfLockResult tlcEvaluate(Kind aKind, TzfBaseTransaction* aTrans, TzfAbstractCursor* aCursor, int64_t aRefNr,
                            bool& aConditional, TzfAbstractCursor*& aConflict);
  void tlcTransConflict(TzfAbstractCursor* aCursor, bool& aConditional);
  void tlcSignalHead();
  void tlcBuildLockFailureReason(TzfLockFailureReason* aReason, TzfLockRequestType aType,
                                 TzfAbstractCursor* aConflict, TzfAbstractCursor* aCursor, TzfLockResult aResult);
  int32_t tlcFindRead(TzfAbstractCursor* aCursor, bool& aFound) const;
  int32_t tlcFindRecord(int64_t aRefNr, bool& aFound) const;
  void tlcMarkTransaction(TzfBaseTransaction* aTrans);

  TzfPadlock tlcGate{true};
  std::atomic<TzfBaseTransaction*> tlcTrans{nullptr};  // read without the gate by EndTransaction
  TzfWaitingLockRequest* tlcWaitingHead = nullptr;
  TzfWaitingLockRequest* tlcWaitingTail = nullptr;
  int32_t tlcWriteLockPresent = 0;
  TzfAbstractCursor* tlcWriteLockCursor = nullptr;
  // Grown by 64 entries when full, never shrunk; entries after the count are unused.
  std::vector<TzfCursorLock> tlcReadLockList;
  int32_t tlcReadLockListCount = 0;
  std::vector<TzfRecordLock> tlcRecordLockList;
  int32_t tlcRecordLockListCount = 0;
};

}  // namespace zf
