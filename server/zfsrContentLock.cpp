#include "server/zfsrContentLock.h"

#include <chrono>

#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlException.h"
#include "server/zfsrCursorSupport.h"
#include "server/zfsrServerTransaction.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

uint32_t TzfCursorContentLock::Begin(TzfServerTransaction* aTrans, bool aExclusive, bool aConditional,
                                     TzfLockFailureReason* aReason) {
  if (!aTrans) {
    if (aExclusive) return zfErrNoActiveTran;
    const bool enter = !clExclusiveCursor && clPortal;
    if (enter) clPortal->BeginRead();
    clEntered.push_back(enter);
    return 0;
  }
  const uint32_t r = aTrans->stLockTable(clTable, aExclusive, aConditional, aReason);
  if (r != 0) return zfLockFailureResult(aReason, r);
  clEntered.push_back(false);
  return 0;
}

void TzfCursorContentLock::End() {
  ZF_ASSERT(!clEntered.empty(), "zfsrContentLock");
  const bool entered = clEntered.back();
  clEntered.pop_back();
  if (entered) clPortal->EndRead();
}

bool TzfIndexAccessLock::Enter(int64_t aDeadline) {
  const std::thread::id self = std::this_thread::get_id();
  if (ialOwner.load(std::memory_order_acquire) == self) {
    ++ialDepth;
    return true;
  }
  if (!ialMutex.try_lock()) {
    if (aDeadline == zfDeadlineNone) {
      ialMutex.lock();
    } else {
      // Polled rather than a timed lock: the holder works for one operation, and a plain try is
      // what every checker of lock order and data races understands.
      for (;;) {
        if (static_cast<int64_t>(os::GetTickCount64()) >= aDeadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (ialMutex.try_lock()) break;
      }
    }
  }
  ialOwner.store(self, std::memory_order_release);
  ialDepth = 1;
  return true;
}

void TzfIndexAccessLock::Leave() {
  ZF_ASSERT(ialOwner.load(std::memory_order_acquire) == std::this_thread::get_id() && ialDepth > 0, "zfsrContentLock");
  if (--ialDepth == 0) {
    ialOwner.store(std::thread::id(), std::memory_order_release);
    ialMutex.unlock();
  }
}

uint32_t TzfIndexAccessLock::LeaveAll() {
  if (ialOwner.load(std::memory_order_acquire) != std::this_thread::get_id()) return 0;
  const uint32_t levels = ialDepth;
  ialDepth = 0;
  ialOwner.store(std::thread::id(), std::memory_order_release);
  ialMutex.unlock();
  return levels;
}

void TzfIndexAccessLock::Reenter(uint32_t aLevels) {
  if (aLevels == 0) return;
  ialMutex.lock();
  ialOwner.store(std::this_thread::get_id(), std::memory_order_release);
  ialDepth = aLevels;
}

uint32_t TzfIndexAccessHold::Enter(TzfIndexAccessLock& aLock) {
  ZF_ASSERT(!FLock, "zfsrContentLock");
  if (!aLock.Enter(zfTimeoutDeadline())) return zfErrLockTimeout;
  FLock = &aLock;
  return 0;
}

void TzfIndexAccessHold::Leave() {
  if (!FLock) return;
  FLock->Leave();
  FLock = nullptr;
}

TzfLockResult zfGetRecordLockOutsidePortal(TzfTableLockContainer& aContainer, TzfContentPortal* aPortal,
                                           TzfBaseTransaction* aTrans, TzfAbstractCursor* aCursor, int64_t aRefNr,
                                           bool aConditional, TzfLockFailureReason* aReason,
                                           TzfIndexAccessLock* aIndexAccess) {
  const bool inPortal = aPortal && aPortal->ReadLevels() > 0;
  if (aConditional || (!inPortal && !aIndexAccess))
    return aContainer.GetRecordLock(aTrans, aCursor, aRefNr, aConditional, aReason);
  // A free lock is taken without leaving anything; the conditional try writes no failure lines.
  const TzfLockResult first = aContainer.GetRecordLock(aTrans, aCursor, aRefNr, true, nullptr);
  if (zfLockGranted(first)) return first;
  // Taken again in the order they were entered: the portal first, then the index access.
  TzfIndexAccessPause indexPause(aIndexAccess);
  TzfPortalReadPause pause(inPortal ? aPortal : nullptr);
  return aContainer.GetRecordLock(aTrans, aCursor, aRefNr, false, aReason);
}

}  // namespace zf
