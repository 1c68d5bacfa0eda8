#include "server/zfsrTableLockContainer.h"

#include "dictionary/zfsdAbstractCursor.h"
#include "dictionary/zfsdAbstractSession.h"
#include "foundation/zfllException.h"
#include "storage/zfsrTimeoutHandling.h"
#include "storage/zfsrTransaction.h"

namespace zf {

namespace {
constexpr int32_t kListGrowth = 64;
}

const char16_t* zfLockResultName(TzfLockResult aResult) {
  static const char16_t* const names[] = {u"lrGrantedNew",
                                          u"lrGrantedExisting",
                                          u"lrConflictUnknown",
                                          u"lrConflictCursorWriteLock",
                                          u"lrConflictCursorReadLockSingle",
                                          u"lrConflictCursorReadLockMultiple",
                                          u"lrConflictCursorRecordLockSingle",
                                          u"lrConflictCursorRecordLockMultiple",
                                          u"lrConflictTransaction"};
  return names[static_cast<int>(aResult)];
}

const char16_t* zfLockRequestTypeName(TzfLockRequestType aType) {
  static const char16_t* const names[] = {u"lrtRecordLock", u"lrtReadLock", u"lrtWriteLock"};
  return names[static_cast<int>(aType)];
}

// ---------------------------------------------------------------------------------------------

TzfWaitingLockRequest::TzfWaitingLockRequest(TzfTableLockContainer* aContainer, TzfLockRequestType aType)
    : wlrContainer(aContainer), wlrType(aType) {
  wlrPrev = aContainer->tlcWaitingTail;
  if (wlrPrev) wlrPrev->wlrNext = this;
  else aContainer->tlcWaitingHead = this;
  aContainer->tlcWaitingTail = this;
}

TzfWaitingLockRequest::~TzfWaitingLockRequest() {
  if (wlrPrev) wlrPrev->wlrNext = wlrNext;
  else wlrContainer->tlcWaitingHead = wlrNext;
  if (wlrNext) wlrNext->wlrPrev = wlrPrev;
  else wlrContainer->tlcWaitingTail = wlrPrev;
}

void TzfWaitingLockRequest::Signal() {
  wlrSignalled = true;
  wlrEvent.SignalEvent();
}

bool TzfWaitingLockRequest::WaitFor() {
  try {
    const int32_t t = zfRemainingTimeout();
    if (t <= 5) return false;
    return wlrEvent.WaitForQuietly(static_cast<uint32_t>(t)) == kzfWaitObject0;
  } catch (...) {
    return false;
  }
}

// ---------------------------------------------------------------------------------------------

TzfTableLockContainer::TzfTableLockContainer() = default;

TzfTableLockContainer::~TzfTableLockContainer() = default;

TzfAbstractSession* TzfTableLockContainer::tlcSessionOf(TzfAbstractCursor* aCursor) {
  if (!aCursor) return nullptr;
  if (aCursor->Database()) return aCursor->Database()->asoSession;
  return aCursor->asoSession;
}

TzfAbstractSession* TzfTableLockContainer::tlcSessionOfTrans(TzfBaseTransaction* aTrans) {
  // Server transactions carry their session as the owning session; others carry none.
  return aTrans ? static_cast<TzfAbstractSession*>(aTrans->btOwningSession) : nullptr;
}

int32_t TzfTableLockContainer::tlcFindRead(TzfAbstractCursor* aCursor, bool& aFound) const {
  int32_t lo = 0, hi = tlcReadLockListCount - 1;
  const std::less<const void*> less;
  while (lo <= hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    TzfAbstractCursor* c = tlcReadLockList[static_cast<size_t>(mid)].clCursor;
    if (c == aCursor) {
      aFound = true;
      return mid;
    }
    if (less(c, aCursor)) lo = mid + 1;
    else hi = mid - 1;
  }
  aFound = false;
  return lo;
}

int32_t TzfTableLockContainer::tlcFindRecord(int64_t aRefNr, bool& aFound) const {
  int32_t lo = 0, hi = tlcRecordLockListCount - 1;
  while (lo <= hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    const int64_t r = tlcRecordLockList[static_cast<size_t>(mid)].rlRefNr;
    if (r == aRefNr) {
      aFound = true;
      return mid;
    }
    if (r < aRefNr) lo = mid + 1;
    else hi = mid - 1;
  }
  aFound = false;
  return lo;
}

void TzfTableLockContainer::tlcSignalHead() {
  if (tlcWaitingHead) tlcWaitingHead->Signal();
}

void TzfTableLockContainer::tlcTransConflict(TzfAbstractCursor* aCursor, bool& aConditional) {
  // A request would wait for its own session's transaction: it fails at once instead.
  TzfAbstractSession* s = tlcSessionOfTrans(tlcTrans.load());
  if (!aConditional && s && s == tlcSessionOf(aCursor)) aConditional = true;
}

TzfLockResult TzfTableLockContainer::tlcEvaluate(Kind aKind, TzfBaseTransaction* aTrans, TzfAbstractCursor* aCursor,
                                                 int64_t aRefNr, bool& aConditional, TzfAbstractCursor*& aConflict) {
  aConflict = nullptr;
  TzfBaseTransaction* bound = tlcTrans.load();
  const auto readAt = [&](int32_t i) -> TzfCursorLock& { return tlcReadLockList[static_cast<size_t>(i)]; };
  const auto recAt = [&](int32_t i) -> TzfRecordLock& { return tlcRecordLockList[static_cast<size_t>(i)]; };

  switch (aKind) {
    case Kind::Read: {
      if (bound && bound != aTrans) {
        tlcTransConflict(aCursor, aConditional);
        return TzfLockResult::lrConflictTransaction;
      }
      if (tlcRecordLockListCount > 0) {
        aConflict = recAt(0).rlCursor;
        return tlcRecordLockListCount == 1 ? TzfLockResult::lrConflictCursorRecordLockSingle
                                           : TzfLockResult::lrConflictCursorRecordLockMultiple;
      }
      if (tlcWriteLockPresent > 0 && tlcWriteLockCursor != aCursor) {
        aConflict = tlcWriteLockCursor;
        return TzfLockResult::lrConflictCursorWriteLock;
      }
      bool found = false;
      const int32_t i = tlcFindRead(aCursor, found);
      if (found) {
        ++readAt(i).clCount;
        return TzfLockResult::lrGrantedExisting;
      }
      if (tlcReadLockListCount == static_cast<int32_t>(tlcReadLockList.size()))
        tlcReadLockList.resize(tlcReadLockList.size() + kListGrowth);
      for (int32_t k = tlcReadLockListCount; k > i; --k) readAt(k) = readAt(k - 1);
      readAt(i) = TzfCursorLock{aCursor, 1};
      ++tlcReadLockListCount;
      return TzfLockResult::lrGrantedNew;
    }
    case Kind::Write: {
      if (bound && bound != aTrans) {
        tlcTransConflict(aCursor, aConditional);
        return TzfLockResult::lrConflictTransaction;
      }
      if (tlcWriteLockPresent > 0) {
        if (tlcWriteLockCursor == aCursor) {
          ++tlcWriteLockPresent;
          return TzfLockResult::lrGrantedExisting;
        }
        aConflict = tlcWriteLockCursor;
        return TzfLockResult::lrConflictCursorWriteLock;
      }
      int32_t others = 0;
      for (int32_t k = tlcReadLockListCount - 1; k >= 0; --k) {
        if (readAt(k).clCursor == aCursor) continue;
        aConflict = readAt(k).clCursor;
        if (++others == 2) break;
      }
      if (others > 0)
        return others == 1 ? TzfLockResult::lrConflictCursorReadLockSingle
                           : TzfLockResult::lrConflictCursorReadLockMultiple;
      for (int32_t k = tlcRecordLockListCount - 1; k >= 0; --k) {
        if (recAt(k).rlCursor == aCursor) continue;
        aConflict = recAt(k).rlCursor;
        if (++others == 2) break;
      }
      if (others > 0)
        return others == 1 ? TzfLockResult::lrConflictCursorRecordLockSingle
                           : TzfLockResult::lrConflictCursorRecordLockMultiple;
      tlcWriteLockPresent = 1;
      tlcWriteLockCursor = aCursor;
      return TzfLockResult::lrGrantedNew;
    }
    case Kind::Record: {
      if (tlcWriteLockPresent > 0 && tlcWriteLockCursor != aCursor) {
        aConflict = tlcWriteLockCursor;
        return TzfLockResult::lrConflictCursorWriteLock;
      }
      if (tlcReadLockListCount > 0) {
        aConflict = readAt(0).clCursor;
        return tlcReadLockListCount == 1 ? TzfLockResult::lrConflictCursorReadLockSingle
                                         : TzfLockResult::lrConflictCursorReadLockMultiple;
      }
      bool found = false;
      const int32_t i = tlcFindRecord(aRefNr, found);
      if (found) {
        if (recAt(i).rlCursor == aCursor) return TzfLockResult::lrGrantedExisting;
        aConflict = recAt(i).rlCursor;
        return TzfLockResult::lrConflictCursorRecordLockSingle;
      }
      if (bound && bound != aTrans) {
        tlcTransConflict(aCursor, aConditional);
        return TzfLockResult::lrConflictTransaction;
      }
      if (tlcRecordLockListCount == static_cast<int32_t>(tlcRecordLockList.size()))
        tlcRecordLockList.resize(tlcRecordLockList.size() + kListGrowth);
      for (int32_t k = tlcRecordLockListCount; k > i; --k) recAt(k) = recAt(k - 1);
      recAt(i) = TzfRecordLock{aCursor, aRefNr};
      ++tlcRecordLockListCount;
      return TzfLockResult::lrGrantedNew;
    }
  }
  return TzfLockResult::lrConflictUnknown;
}

TzfLockResult TzfTableLockContainer::tlcGet(Kind aKind, TzfBaseTransaction* aTrans, TzfAbstractCursor* aCursor,
                                            int64_t aRefNr, bool aConditional, TzfLockFailureReason* aReason) {
  const TzfLockRequestType type = aKind == Kind::Read    ? TzfLockRequestType::lrtReadLock
                                  : aKind == Kind::Write ? TzfLockRequestType::lrtWriteLock
                                                         : TzfLockRequestType::lrtRecordLock;
  TzfWaitingLockRequest* request = nullptr;
  bool waited = false;  // the last wait was signalled in time
  for (;;) {
    TzfLockResult result;
    {
      TzfPadlockGuard gate(tlcGate);
      TzfAbstractCursor* conflict = nullptr;
      result = tlcEvaluate(aKind, aTrans, aCursor, aRefNr, aConditional, conflict);
      const bool granted = zfLockGranted(result);
      if (!granted && !aConditional && conflict && tlcSessionOf(conflict) &&
          tlcSessionOf(conflict) == tlcSessionOf(aCursor))
        aConditional = true;
      if (granted || aConditional) {
        // A wake-up this request received and did not turn into a grant goes to the next head,
        // as does the wake-up of a request granted after a successful wait.
        bool passOn = false;
        if (request) {
          passOn = (granted && waited) || (!granted && request->wlrSignalled);
          delete request;
          request = nullptr;
        }
        if (passOn) tlcSignalHead();
        if (!granted && aReason) tlcBuildLockFailureReason(aReason, type, conflict, aCursor, result);
        return result;
      }
      if (!request) {
        request = new TzfWaitingLockRequest(this, type);
      } else if (aKind == Kind::Record && waited && request->wlrNext) {
        request->wlrNext->Signal();
      }
      request->wlrSignalled = false;
    }
    waited = request->WaitFor();
    if (!waited) aConditional = true;  // one more round under the gate decides
  }
}

TzfLockResult TzfTableLockContainer::GetReadLock(TzfBaseTransaction* aTrans, TzfAbstractCursor* aCursor,
                                                 bool aConditional, TzfLockFailureReason* aReason) {
  return tlcGet(Kind::Read, aTrans, aCursor, 0, aConditional, aReason);
}

TzfLockResult TzfTableLockContainer::GetWriteLock(TzfBaseTransaction* aTrans, TzfAbstractCursor* aCursor,
                                                  bool aConditional, TzfLockFailureReason* aReason) {
  return tlcGet(Kind::Write, aTrans, aCursor, 0, aConditional, aReason);
}

TzfLockResult TzfTableLockContainer::GetRecordLock(TzfBaseTransaction* aTrans, TzfAbstractCursor* aCursor,
                                                   int64_t aRefNr, bool aConditional, TzfLockFailureReason* aReason) {
  return tlcGet(Kind::Record, aTrans, aCursor, aRefNr, aConditional, aReason);
}

bool TzfTableLockContainer::ReleaseWriteLock(TzfAbstractCursor* aCursor) {
  TzfPadlockGuard gate(tlcGate);
  if (tlcWriteLockPresent == 0 || tlcWriteLockCursor != aCursor) return false;
  if (--tlcWriteLockPresent == 0) {
    tlcWriteLockCursor = nullptr;
    tlcSignalHead();
  }
  return true;
}

bool TzfTableLockContainer::ReleaseReadLock(TzfAbstractCursor* aCursor) {
  TzfPadlockGuard gate(tlcGate);
  bool found = false;
  const int32_t i = tlcFindRead(aCursor, found);
  if (!found) return false;
  if (--tlcReadLockList[static_cast<size_t>(i)].clCount == 0) {
    for (int32_t k = i; k < tlcReadLockListCount - 1; ++k)
      tlcReadLockList[static_cast<size_t>(k)] = tlcReadLockList[static_cast<size_t>(k + 1)];
    --tlcReadLockListCount;
    tlcSignalHead();
  }
  return true;
}

bool TzfTableLockContainer::tlcTransactionCanBind(TzfBaseTransaction* aTrans) {
  TzfBaseTransactionLevel* level = aTrans->CurrentLevel();
  return !(level && (level->Has(TzfTransactionLevelState::tlsCorrupted) ||
                     level->Has(TzfTransactionLevelState::tlsDeadlocked)));
}

void TzfTableLockContainer::tlcMarkTransaction(TzfBaseTransaction* aTrans) {
  if (!tlcTransactionCanBind(aTrans)) return;
  TzfBaseTransaction* expected = nullptr;
  tlcTrans.compare_exchange_strong(expected, aTrans);
}

bool TzfTableLockContainer::ReleaseRecordLock(TzfAbstractCursor* aCursor, int64_t aRefNr, TzfBaseTransaction* aTrans) {
  TzfPadlockGuard gate(tlcGate);
  if (aTrans) tlcMarkTransaction(aTrans);
  bool found = false;
  const int32_t i = tlcFindRecord(aRefNr, found);
  if (!found || tlcRecordLockList[static_cast<size_t>(i)].rlCursor != aCursor) return false;
  for (int32_t k = i; k < tlcRecordLockListCount - 1; ++k)
    tlcRecordLockList[static_cast<size_t>(k)] = tlcRecordLockList[static_cast<size_t>(k + 1)];
  --tlcRecordLockListCount;
  tlcSignalHead();
  return true;
}

TzfLockPresent TzfTableLockContainer::IsWriteLocked(TzfAbstractCursor* aCursor) {
  TzfPadlockGuard gate(tlcGate);
  if (tlcWriteLockPresent == 0) return TzfLockPresent::lpNotAtAll;
  return tlcWriteLockCursor == aCursor ? TzfLockPresent::lpYesByUs : TzfLockPresent::lpYesByAnother;
}

TzfLockPresent TzfTableLockContainer::IsReadLocked(TzfAbstractCursor* aCursor) {
  TzfPadlockGuard gate(tlcGate);
  if (tlcReadLockListCount == 0) return TzfLockPresent::lpNotAtAll;
  bool found = false;
  tlcFindRead(aCursor, found);
  return found ? TzfLockPresent::lpYesByUs : TzfLockPresent::lpYesByAnother;
}

TzfLockPresent TzfTableLockContainer::IsRecordLocked(TzfAbstractCursor* aCursor, int64_t aRefNr) {
  TzfPadlockGuard gate(tlcGate);
  bool found = false;
  const int32_t i = tlcFindRecord(aRefNr, found);
  if (!found) return TzfLockPresent::lpNotAtAll;
  return tlcRecordLockList[static_cast<size_t>(i)].rlCursor == aCursor ? TzfLockPresent::lpYesByUs
                                                                        : TzfLockPresent::lpYesByAnother;
}

void TzfTableLockContainer::ClearCursorLocks(TzfAbstractCursor* aCursor) {
  TzfPadlockGuard gate(tlcGate);
  bool removed = false;
  if (tlcWriteLockPresent > 0 && tlcWriteLockCursor == aCursor) {
    tlcWriteLockPresent = 0;
    tlcWriteLockCursor = nullptr;
    removed = true;
  }
  bool found = false;
  const int32_t i = tlcFindRead(aCursor, found);
  if (found) {
    for (int32_t k = i; k < tlcReadLockListCount - 1; ++k)
      tlcReadLockList[static_cast<size_t>(k)] = tlcReadLockList[static_cast<size_t>(k + 1)];
    --tlcReadLockListCount;
    removed = true;
  }
  if (removed) tlcSignalHead();
}

void TzfTableLockContainer::ClearRecordLocks(TzfAbstractCursor* aCursor) {
  TzfPadlockGuard gate(tlcGate);
  int32_t to = 0;
  for (int32_t k = 0; k < tlcRecordLockListCount; ++k)
    if (tlcRecordLockList[static_cast<size_t>(k)].rlCursor != aCursor)
      tlcRecordLockList[static_cast<size_t>(to++)] = tlcRecordLockList[static_cast<size_t>(k)];
  const bool removed = to != tlcRecordLockListCount;
  tlcRecordLockListCount = to;
  if (removed) tlcSignalHead();
}

void TzfTableLockContainer::ClearAllLocks(TzfAbstractCursor* aCursor) {
  TzfPadlockGuard gate(tlcGate);  // re-entrant: both clears and one decision together
  ClearCursorLocks(aCursor);
  ClearRecordLocks(aCursor);
}

void TzfTableLockContainer::EndTransaction(TzfBaseTransaction* aTrans) {
  if (tlcTrans.load() == nullptr) return;
  TzfPadlockGuard gate(tlcGate);
  if (tlcTrans.load() == aTrans) {
    tlcTrans.store(nullptr);
    tlcSignalHead();
  }
}

int32_t TzfTableLockContainer::WaitingCount() {
  TzfPadlockGuard gate(tlcGate);
  int32_t n = 0;
  for (auto* r = tlcWaitingHead; r; r = r->wlrNext) ++n;
  return n;
}

int32_t TzfTableLockContainer::ReadLockCount() {
  TzfPadlockGuard gate(tlcGate);
  return tlcReadLockListCount;
}

int32_t TzfTableLockContainer::RecordLockCount() {
  TzfPadlockGuard gate(tlcGate);
  return tlcRecordLockListCount;
}

int32_t TzfTableLockContainer::WriteLockCount() {
  TzfPadlockGuard gate(tlcGate);
  return tlcWriteLockPresent;
}

UnicodeString TzfTableLockContainer::CheckInvariants() {
  TzfPadlockGuard gate(tlcGate);
  const std::less<const void*> less;
  for (int32_t k = 0; k < tlcReadLockListCount; ++k) {
    const TzfCursorLock& e = tlcReadLockList[static_cast<size_t>(k)];
    if (e.clCount <= 0) return u"read lock with a count below 1";
    if (k > 0 && !less(tlcReadLockList[static_cast<size_t>(k - 1)].clCursor, e.clCursor))
      return u"read locks out of order";
  }
  for (int32_t k = 1; k < tlcRecordLockListCount; ++k)
    if (tlcRecordLockList[static_cast<size_t>(k - 1)].rlRefNr >= tlcRecordLockList[static_cast<size_t>(k)].rlRefNr)
      return u"record locks out of order";
  if ((tlcWriteLockPresent == 0) != (tlcWriteLockCursor == nullptr)) return u"write lock holder and count disagree";
  if (tlcWriteLockPresent < 0) return u"negative write lock count";
  // Compatibility: a write lock excludes other cursors' read and record locks; read and record
  // locks exclude each other.
  if (tlcWriteLockPresent > 0) {
    for (int32_t k = 0; k < tlcReadLockListCount; ++k)
      if (tlcReadLockList[static_cast<size_t>(k)].clCursor != tlcWriteLockCursor)
        return u"write lock beside another cursor's read lock";
    for (int32_t k = 0; k < tlcRecordLockListCount; ++k)
      if (tlcRecordLockList[static_cast<size_t>(k)].rlCursor != tlcWriteLockCursor)
        return u"write lock beside another cursor's record lock";
  }
  if (tlcReadLockListCount > 0 && tlcRecordLockListCount > 0) return u"read and record locks together";
  TzfWaitingLockRequest* prev = nullptr;
  for (auto* r = tlcWaitingHead; r; r = r->wlrNext) {
    if (r->wlrPrev != prev) return u"waiting queue links broken";
    prev = r;
  }
  if (prev != tlcWaitingTail) return u"waiting queue tail wrong";
  return UnicodeString();
}

void TzfTableLockContainer::tlcBuildLockFailureReason(TzfLockFailureReason* aReason, TzfLockRequestType aType,
                                                      TzfAbstractCursor* aConflict, TzfAbstractCursor* aCursor,
                                                      TzfLockResult aResult) {
  aReason->Clear();
  if (zfLockGranted(aResult)) return;
  const char16_t* request = aType == TzfLockRequestType::lrtRecordLock ? u"record lock"
                            : aType == TzfLockRequestType::lrtReadLock ? u"read lock"
                                                                       : u"write lock";
  const char16_t* conflictName = u"unknown";
  switch (aResult) {
    case TzfLockResult::lrConflictCursorWriteLock: conflictName = u"write lock"; break;
    case TzfLockResult::lrConflictCursorReadLockSingle:
    case TzfLockResult::lrConflictCursorReadLockMultiple: conflictName = u"read lock"; break;
    case TzfLockResult::lrConflictCursorRecordLockSingle:
    case TzfLockResult::lrConflictCursorRecordLockMultiple: conflictName = u"record lock"; break;
    case TzfLockResult::lrConflictTransaction: conflictName = u"transaction"; break;
    default: break;
  }
  const bool multiple = aResult == TzfLockResult::lrConflictCursorReadLockMultiple ||
                        aResult == TzfLockResult::lrConflictCursorRecordLockMultiple;
  UnicodeString line = u"The requested content ";
  line += request;
  line += u" could not be granted due to ";
  line += multiple ? u"multiple " : u"a ";
  line += conflictName;
  line += multiple ? u" conflicts." : u" conflict.";
  line += zfEncodeCustomInfo(u"LockError.Type", u"content");
  line += zfEncodeCustomInfo(u"LockError.Request", zfLockRequestTypeName(aType));
  line += zfEncodeCustomInfo(u"LockError.Result", zfLockResultName(aResult));
  aReason->Add(line);
  aReason->Add(UnicodeString());

  TzfAbstractSession* session = aResult == TzfLockResult::lrConflictTransaction ? tlcSessionOfTrans(tlcTrans.load())
                                                                                 : tlcSessionOf(aConflict);
  if (!session) {
    aReason->Add(UnicodeString(u"The conflict occurred with an unknown session.") +
                 zfEncodeCustomInfo(u"LockError.UnknownSession", u"1"));
  } else if (session == tlcSessionOf(aCursor)) {
    aReason->Add(zfEncodeCustomInfo(u"LockError.SameSession", u"1"));
    aReason->SameSession = true;
  } else {
    aReason->Add(u"The conflict occurred with the following session:");
    session->GetUserInfo(*aReason);
  }
}

}  // namespace zf
