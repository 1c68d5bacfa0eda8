// Record locks requested while the table's content portal may be held for reading.
//
// A committing writer holds its record locks while it waits for the portal's write side. A reader
// that holds the portal and waited for one of those record locks would wait for the writer while
// the writer waits for it, until one deadline passed. So a cursor that must wait for a record lock
// leaves its reads of the portal for the wait and enters them again afterwards; a lock that is free
// is taken without leaving.
#pragma once
#include <cstdint>

#include "server/zfsrContentPortal.h"
#include "server/zfsrTableLockContainer.h"

namespace zf {

// GetRecordLock of aContainer for aCursor. With aPortal (may be nil) held for reading by the calling
// thread and a non-conditional request that conflicts, the thread's reads of aPortal are left for
// the wait and entered again before the answer. The failure lines go into aReason (may be nil).
TzfLockResult zfGetRecordLockOutsidePortal(TzfTableLockContainer& aContainer, TzfContentPortal* aPortal,
                                           TzfBaseTransaction* aTrans, TzfAbstractCursor* aCursor, int64_t aRefNr,
                                           bool aConditional, TzfLockFailureReason* aReason);

}  // namespace zf
