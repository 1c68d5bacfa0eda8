#include "server/zfsrContentLock.h"

#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlException.h"
#include "server/zfsrCursorSupport.h"
#include "server/zfsrServerTransaction.h"

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

TzfLockResult zfGetRecordLockOutsidePortal(TzfTableLockContainer& aContainer, TzfContentPortal* aPortal,
                                           TzfBaseTransaction* aTrans, TzfAbstractCursor* aCursor, int64_t aRefNr,
                                           bool aConditional, TzfLockFailureReason* aReason) {
  if (aConditional || !aPortal || aPortal->ReadLevels() == 0)
    return aContainer.GetRecordLock(aTrans, aCursor, aRefNr, aConditional, aReason);
  // A free lock is taken without leaving the portal; the conditional try writes no failure lines.
  const TzfLockResult first = aContainer.GetRecordLock(aTrans, aCursor, aRefNr, true, nullptr);
  if (zfLockGranted(first)) return first;
  TzfPortalReadPause pause(aPortal);
  return aContainer.GetRecordLock(aTrans, aCursor, aRefNr, false, aReason);
}

}  // namespace zf
