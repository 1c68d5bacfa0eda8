// The session lock, the per-thread timeout seam and the public operation frame.
//
// TzfSimpleLock: one per session, shared by everything opened through it. It is a re-entrancy
// guard, not a waiting lock: the holder may enter again, any other thread is refused at once
// with 8455. It also carries the session's failure states: a pending cancel (consumed exactly
// once, by the operation in progress or by the next one) and a permanent failure (every later
// entry refused with 9990; the session's clean-up runs once, on the thread that leaves the last
// operation or, when the session is idle, on the thread that marks the failure).
//
// Locking: the failure fields are guarded by slStateMutex (a std::mutex, held only for a few
// field updates, never while the clean-up runs and never while waiting). The owner and the
// nesting count are atomics. The clean-up's end is waited for on a condition variable.
//
// The thread's deadline, no-timeout scope and cancel flag belong to the storage layer's timeout
// unit (per-thread, thread_local state). The server reaches them through the procedure variables
// below, which that unit fills when it starts; until then setting a deadline does nothing and no
// cancel flag exists (a cancel is then still answered by the lock, only not seen inside the work).
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "dictionary/zfsdServerObject.h"

namespace zf {

// ---------------------------------------------------------------------------------------------
// Per-thread timeout seam

struct TzfThreadTimeoutProcs {
  // The calling thread's deadline: now + aTimeout ms (0: none); ignored in a no-timeout scope
  // unless aForce.
  void (*SetTimeout)(uint32_t aTimeout, bool aForce) = nullptr;
  // Enter and leave a no-timeout scope of the calling thread.
  void (*SuspendTimeout)() = nullptr;
  void (*ResumeTimeout)() = nullptr;
  // The calling thread's cancel flag; other threads set it to stop that thread's work at its next
  // timeout check.
  std::atomic<bool>* (*GetCancelFlagAddress)() = nullptr;
};
// Installs the procedures (the timeout unit's start); an empty record puts the defaults back.
void zfSetThreadTimeoutProcs(const TzfThreadTimeoutProcs& aProcs);
void zfCallSetTimeout(uint32_t aTimeout, bool aForce);
void zfCallSuspendTimeout();
void zfCallResumeTimeout();
std::atomic<bool>* zfCallGetCancelFlagAddress();

// ---------------------------------------------------------------------------------------------
// Session lock

class TzfSimpleLock : public TzfObject {
 public:
  // aFailedCleanup runs once after a permanent failure (the session's clean-up).
  explicit TzfSimpleLock(std::function<void()> aFailedCleanup);
  // The lock must be free ("Assertion failure" otherwise); wakes whoever waits for the clean-up.
  ~TzfSimpleLock() override;
  TzfSimpleLock(const TzfSimpleLock&) = delete;
  TzfSimpleLock& operator=(const TzfSimpleLock&) = delete;

  // Takes the lock for the calling thread or raises EzfBaseException: 9990 after a permanent
  // failure, 15461 "Processing cancelled" for a pending cancel, 8455 when another thread holds it.
  // A caller never holds the lock after Lock raised.
  void Lock();
  // Gives one level back. The last level consumes a cancel that arrived meanwhile (a 0 result
  // becomes 15461 "... may have partially or fully succeeded"), clears the thread's cancel flag
  // and runs a pending permanent-failure clean-up. 8455 when the caller does not hold the lock.
  void Unlock(uint32_t& aResult);
  // Requests a cancel, or with aPermanent a permanent failure; aWait waits up to 60000 ms for the
  // clean-up (not when the caller holds the lock itself). True when this call made a cancel
  // pending (no cancel was pending before).
  bool Failed(bool aPermanent, bool aWait);

  bool PermanentlyFailed();
  bool CleanupStarted();
  // Waits up to aTimeoutMs for the end of the clean-up; True when it has ended.
  bool WaitCleanupDone(uint32_t aTimeoutMs);
  // Waits until no thread holds the lock (the holder's release wakes it).
  void WaitUntilFree();
  uint32_t LockingThread() const { return slLockingThread.load(std::memory_order_acquire); }
  int32_t LockCount() const { return slLockCount.load(std::memory_order_acquire); }

 private:
  // Steps of the last release: consume a cancel (when aConsumeCancel) or start the clean-up,
  // then free the owner.
  void Release(uint32_t& aResult, bool aConsumeCancel);
  void RunCleanup() noexcept;
  void SignalCleanupDone() noexcept;

  std::atomic<uint32_t> slLockingThread{0};
  std::atomic<int32_t> slLockCount{0};
  std::mutex slStateMutex;
  std::atomic<bool>* slFailedFlag = nullptr;
  bool slFailed = false;
  bool slFailedPermanent = false;
  bool slFailedCleanedup = false;
  bool slFailedCleanupDone = false;
  std::condition_variable slCleanupDoneCond;
  std::function<void()> slFailedCleanup;
};

// ---------------------------------------------------------------------------------------------
// Objects that carry the session lock and a timeout

// How a public operation runs (see TzfAbstractTimeoutObject::PublicOperation).
struct TzfOperationFrame {
  std::optional<TzfEngineAction> Action;  // notified before and after the work
  TzfActionArgs Args;
  bool TakeLock = true;                    // false: the session operations that run without it
  bool SetDeadline = true;                 // false: no deadline either
  std::optional<uint32_t> Timeout;         // instead of the object's own timeout
};

class TzfAbstractTimeoutObject : public TzfExtendableServerObject {
 public:
  TzfAbstractTimeoutObject(TzfExtendableServerObject* aParent, uint32_t aTimeout);
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  uint32_t atoGetTimeout() const { return atoTimeout.load(std::memory_order_relaxed); }
  virtual void atoSetTimeout(uint32_t aTimeout) { atoTimeout.store(aTimeout, std::memory_order_relaxed); }
  TzfSimpleLock* atoGetLock() const { return atoLock; }

  // The public operation frame (name checks come first, in the caller):
  //  1. the thread's deadline := now + the timeout (not forced);
  //  2. the lock is taken; its failures (8455, 9990, 15461) are raised to the caller;
  //  3. the worker runs: the extenders hear of the action before (a non-zero answer is the
  //     result), the work, the extenders hear of success after; any exception of the run-time
  //     library's root class becomes the result through asoConvertException;
  //  4. the lock is given back with the result, which a cancel that arrived meanwhile may turn
  //     into 15461; also when something else escaped the worker.
  uint32_t PublicOperation(const TzfOperationFrame& aFrame, const std::function<uint32_t()>& aWork);
  uint32_t PublicOperation(TzfEngineAction aAction, const TzfActionArgs& aArgs,
                           const std::function<uint32_t()>& aWork) {
    TzfOperationFrame frame;
    frame.Action = aAction;
    frame.Args = aArgs;
    return PublicOperation(frame, aWork);
  }

  // The public option operations run inside the lock.
  uint32_t OptionClear(const UnicodeString& aName) override;
  uint32_t OptionSet(const UnicodeString& aName, const UnicodeString& aValue) override;
  uint32_t OptionGet(const UnicodeString& aName, UnicodeString& aValue) override;
  uint32_t OptionGetEffective(const UnicodeString& aName, UnicodeString& aValue) override;
  uint32_t OptionList(rtl::TStrings& aList) override;
  uint32_t OptionListEffective(rtl::TStrings& aList) override;

  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

 protected:
  // Runs aWork between Lock and Unlock (Unlock also when aWork raised).
  uint32_t Locked(const std::function<uint32_t()>& aWork);

  std::atomic<uint32_t> atoTimeout;
  TzfSimpleLock* atoLock = nullptr;  // the session's (a session creates and frees it)
};

}  // namespace zf
