#include "dictionary/zfsdSimpleLock.h"

#include "foundation/zfllErrors.h"
#include "platform/os/osSystem.h"
#include "platform/rtl/rtlException.h"

namespace zf {

// ---------------------------------------------------------------------------------------------
// Per-thread timeout seam

namespace {

std::atomic<void (*)(uint32_t, bool)> gSetTimeout{nullptr};
std::atomic<void (*)()> gSuspendTimeout{nullptr};
std::atomic<void (*)()> gResumeTimeout{nullptr};
std::atomic<std::atomic<bool>* (*)()> gGetCancelFlagAddress{nullptr};

constexpr const char* kUnit = "zfsdServerEngine";
constexpr const char16_t* kPermanentlyFailed = u"This session has been marked as permanently failed";
constexpr const char16_t* kProcessingCancelled = u"Processing cancelled";
constexpr const char16_t* kCancelledAfterWork =
    u"Processing cancelled. Operation may have partially or fully succeeded";
constexpr uint32_t kCleanupWaitMs = 60000;

}  // namespace

void zfSetThreadTimeoutProcs(const TzfThreadTimeoutProcs& aProcs) {
  gSetTimeout.store(aProcs.SetTimeout);
  gSuspendTimeout.store(aProcs.SuspendTimeout);
  gResumeTimeout.store(aProcs.ResumeTimeout);
  gGetCancelFlagAddress.store(aProcs.GetCancelFlagAddress);
}

void zfCallSetTimeout(uint32_t aTimeout, bool aForce) {
  if (auto p = gSetTimeout.load()) p(aTimeout, aForce);
}
void zfCallSuspendTimeout() {
  if (auto p = gSuspendTimeout.load()) p();
}
void zfCallResumeTimeout() {
  if (auto p = gResumeTimeout.load()) p();
}
std::atomic<bool>* zfCallGetCancelFlagAddress() {
  auto p = gGetCancelFlagAddress.load();
  return p ? p() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// TzfSimpleLock

TzfSimpleLock::TzfSimpleLock(std::function<void()> aFailedCleanup) : slFailedCleanup(std::move(aFailedCleanup)) {}

TzfSimpleLock::~TzfSimpleLock() {
  if (slLockingThread.load() != 0 || slLockCount.load() != 0) rtl::AssertionFailure(kUnit, __LINE__);
  {
    std::lock_guard g(slStateMutex);
    slFailedCleanupDone = true;
  }
  slCleanupDoneCond.notify_all();
}

void TzfSimpleLock::Lock() {
  const uint32_t me = os::GetCurrentThreadId();
  {
    std::lock_guard g(slStateMutex);
    if (slFailedPermanent) throw EzfBaseException(zfErrInvalidHndl, kPermanentlyFailed);
    // A pending cancel belongs to the operation in progress; a thread that will be refused as an
    // intruder must not take it away from the holder.
    uint32_t owner = slLockingThread.load(std::memory_order_acquire);
    if (slFailed && (owner == 0 || owner == me)) {
      slFailed = false;
      throw EzfBaseException(zfErrTimeout, kProcessingCancelled);
    }
  }
  uint32_t expected = 0;
  if (!slLockingThread.compare_exchange_strong(expected, me, std::memory_order_acq_rel)) {
    if (expected != me) throw EzfBaseException(zfErrReentered);
    if (slLockCount.load() <= 0) rtl::AssertionFailure(kUnit, __LINE__);
    slLockCount.fetch_add(1);
    return;
  }
  if (slLockCount.load() != 0) rtl::AssertionFailure(kUnit, __LINE__);
  slLockCount.fetch_add(1);

  bool permanent, cancelled;
  {
    std::lock_guard g(slStateMutex);
    slFailedFlag = zfCallGetCancelFlagAddress();
    if (slFailedFlag) slFailedFlag->store(slFailed);
    permanent = slFailedPermanent;
    cancelled = !permanent && slFailed;
    if (cancelled) slFailed = false;
  }
  if (permanent || cancelled) {
    // Given up as the last Unlock gives it up, so that a permanent failure's clean-up runs once.
    slLockCount.fetch_sub(1);
    // A cancel that arrived after the check stays pending: this entry reports only its own.
    uint32_t ignored = 0;
    Release(ignored, false);
    if (permanent) throw EzfBaseException(zfErrInvalidHndl, kPermanentlyFailed);
    throw EzfBaseException(zfErrTimeout, kProcessingCancelled);
  }
}

void TzfSimpleLock::Unlock(uint32_t& aResult) {
  if (slLockingThread.load(std::memory_order_acquire) != os::GetCurrentThreadId())
    throw EzfBaseException(zfErrReentered);
  if (slLockCount.fetch_sub(1) - 1 > 0) return;
  Release(aResult, true);
}

void TzfSimpleLock::Release(uint32_t& aResult, bool aConsumeCancel) {
  bool runCleanup = false;
  {
    std::lock_guard g(slStateMutex);
    std::atomic<bool>* flag = std::exchange(slFailedFlag, nullptr);
    // The thread's flag served this session's operation only.
    if (flag) flag->store(false);
    if (slFailedPermanent && !slFailedCleanedup) {
      slFailedCleanedup = true;
      runCleanup = true;
    } else if (slFailed && aConsumeCancel) {
      slFailed = false;
      if (aResult == 0) aResult = EzfBaseException::zfSetMessage(zfErrTimeout, kCancelledAfterWork);
    }
  }
  // The clean-up runs outside the state mutex: other threads are refused at once meanwhile.
  if (runCleanup) RunCleanup();
  uint32_t expected = os::GetCurrentThreadId();
  const bool released = slLockingThread.compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
  {
    // Signalled only once the lock is free and under the mutex: whoever waits for the clean-up or
    // for the lock to be free may then free the lock, and this thread touches it no more.
    std::lock_guard g(slStateMutex);
    if (runCleanup) slFailedCleanupDone = true;
    slCleanupDoneCond.notify_all();
  }
  if (!released) throw EzfBaseException(zfErrReentered);
}

void TzfSimpleLock::WaitUntilFree() {
  std::unique_lock l(slStateMutex);
  slCleanupDoneCond.wait(l, [this] { return slLockingThread.load(std::memory_order_acquire) == 0; });
}

void TzfSimpleLock::RunCleanup() noexcept {
  try {
    if (slFailedCleanup) slFailedCleanup();
  } catch (...) {
  }
}

void TzfSimpleLock::SignalCleanupDone() noexcept {
  // Notified under the mutex: a waiter may free the lock as soon as it sees the clean-up done.
  std::lock_guard g(slStateMutex);
  slFailedCleanupDone = true;
  slCleanupDoneCond.notify_all();
}

bool TzfSimpleLock::Failed(bool aPermanent, bool aWait) {
  bool registered = false, runCleanup = false;
  {
    std::lock_guard g(slStateMutex);
    if (aPermanent) slFailedPermanent = true;
    if (!slFailed) {
      slFailed = true;
      registered = true;
      if (slFailedFlag) slFailedFlag->store(true);
    }
    // Nobody works in the session once the nesting count is 0: a holder past its last Unlock's
    // count step does no more work (and finds the clean-up started), and an entry between its
    // owner step and its count step will find the failure and give the lock back unused.
    if (slFailedPermanent && !slFailedCleanedup && slLockCount.load(std::memory_order_acquire) == 0) {
      slFailedCleanedup = true;
      runCleanup = true;
    }
  }
  if (runCleanup) {
    RunCleanup();
    SignalCleanupDone();
  }
  if (aPermanent && aWait && slLockingThread.load(std::memory_order_acquire) != os::GetCurrentThreadId())
    WaitCleanupDone(kCleanupWaitMs);
  return registered;
}

bool TzfSimpleLock::PermanentlyFailed() {
  std::lock_guard g(slStateMutex);
  return slFailedPermanent;
}

bool TzfSimpleLock::CleanupStarted() {
  std::lock_guard g(slStateMutex);
  return slFailedCleanedup;
}

bool TzfSimpleLock::WaitCleanupDone(uint32_t aTimeoutMs) {
  std::unique_lock l(slStateMutex);
  return slCleanupDoneCond.wait_for(l, std::chrono::milliseconds(aTimeoutMs), [this] { return slFailedCleanupDone; });
}

// ---------------------------------------------------------------------------------------------
// TzfAbstractTimeoutObject

const rtl::TClassInfo& TzfAbstractTimeoutObject::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfAbstractTimeoutObject", &TzfExtendableServerObject::ClassInfo()};
  return info;
}

TzfAbstractTimeoutObject::TzfAbstractTimeoutObject(TzfExtendableServerObject* aParent, uint32_t aTimeout)
    : TzfExtendableServerObject(aParent), atoTimeout(aTimeout) {}

uint32_t TzfAbstractTimeoutObject::PublicOperation(const TzfOperationFrame& aFrame,
                                                   const std::function<uint32_t()>& aWork) {
  if (aFrame.SetDeadline) zfCallSetTimeout(aFrame.Timeout ? *aFrame.Timeout : atoGetTimeout(), false);
  TzfSimpleLock* lock = aFrame.TakeLock ? atoLock : nullptr;
  if (lock) lock->Lock();
  uint32_t result = 0;
  try {
    try {
      if (aFrame.Action) result = NotifyExtenders(*aFrame.Action, true, aFrame.Args);
      if (result == 0) {
        result = aWork();
        if (result == 0 && aFrame.Action) NotifyExtenders(*aFrame.Action, false, aFrame.Args);
      }
    } catch (const std::exception& e) {
      result = asoConvertException(e);
    }
  } catch (...) {
    if (lock) {
      uint32_t ignored = 0;
      lock->Unlock(ignored);
    }
    throw;
  }
  if (lock) lock->Unlock(result);
  return result;
}

uint32_t TzfAbstractTimeoutObject::Locked(const std::function<uint32_t()>& aWork) {
  if (!atoLock) return aWork();
  atoLock->Lock();
  uint32_t result = 0;
  try {
    result = aWork();
  } catch (...) {
    uint32_t ignored = 0;
    atoLock->Unlock(ignored);
    throw;
  }
  atoLock->Unlock(result);
  return result;
}

uint32_t TzfAbstractTimeoutObject::OptionClear(const UnicodeString& aName) {
  return Locked([&] { return TzfExtendableServerObject::OptionClear(aName); });
}
uint32_t TzfAbstractTimeoutObject::OptionSet(const UnicodeString& aName, const UnicodeString& aValue) {
  return Locked([&] { return TzfExtendableServerObject::OptionSet(aName, aValue); });
}
uint32_t TzfAbstractTimeoutObject::OptionGet(const UnicodeString& aName, UnicodeString& aValue) {
  return Locked([&] { return TzfExtendableServerObject::OptionGet(aName, aValue); });
}
uint32_t TzfAbstractTimeoutObject::OptionGetEffective(const UnicodeString& aName, UnicodeString& aValue) {
  return Locked([&] { return TzfExtendableServerObject::OptionGetEffective(aName, aValue); });
}
uint32_t TzfAbstractTimeoutObject::OptionList(rtl::TStrings& aList) {
  return Locked([&] { return TzfExtendableServerObject::OptionList(aList); });
}
uint32_t TzfAbstractTimeoutObject::OptionListEffective(rtl::TStrings& aList) {
  return Locked([&] { return TzfExtendableServerObject::OptionListEffective(aList); });
}

void TzfAbstractTimeoutObject::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfExtendableServerObject::AddExceptionData(aContainer);
  aContainer.AddInteger(u"Timeout", atoGetTimeout());
}

}  // namespace zf
