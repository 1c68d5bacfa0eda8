#include "server/zfsrContentLock.h"

namespace zf {

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
