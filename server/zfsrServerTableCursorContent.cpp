// The table cursor's content lock as others use it (a transaction started with cursors), and the
// start of such a transaction.
#include "foundation/zfllErrors.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerTableCursor.h"
#include "server/zfsrServerTransaction.h"

namespace zf {

uint32_t TzfServerTableCursor::sbcBeginContentLock(bool aExclusive, bool aConditional) {
  TzfServerTransaction* trans = CurrentTrans();
  if (trans)
    if (const uint32_t state = trans->CheckState()) return state;
  return stcContentLock->Begin(trans, aExclusive, aConditional, &sbcLockFailureReason);
}

void TzfServerTableCursor::sbcEndContentLock() { stcContentLock->End(); }

uint32_t TzfServerTransSlot::stcTransactionStartWith(bool aFailSafe, bool aSnapShot,
                                                     const std::vector<TzfAbstractCursor*>& aCursors,
                                                     bool aOverrideForceFailsafe, bool aNoMoreNested,
                                                     bool aForceNested) {
  std::vector<TzfServerTableCursor*> cursors;
  cursors.reserve(aCursors.size());
  try {
    for (TzfAbstractCursor* c : aCursors) {
      auto* cursor = dynamic_cast<TzfServerTableCursor*>(c);
      if (!cursor || !cursor->Database() ||
          dynamic_cast<TzfServerTransSlot*>(cursor->Database()->TransContext()) != this)
        return zfErrInvalidHndl;
      cursors.push_back(cursor);
    }
  } catch (...) {
    return zfErrInvalidHndl;
  }
  return stcStart(aFailSafe, aSnapShot, aOverrideForceFailsafe, aNoMoreNested, aForceNested,
                  [&]() -> uint32_t {
                    for (TzfServerTableCursor* cursor : cursors) {
                      // The lock belongs to the new level and lasts until it ends; the cursor's
                      // own begin count is given back at once.
                      const uint32_t r = cursor->sbcBeginContentLock(true, false);
                      if (r != 0) return r;
                      cursor->sbcEndContentLock();
                    }
                    return 0;
                  });
}

}  // namespace zf
