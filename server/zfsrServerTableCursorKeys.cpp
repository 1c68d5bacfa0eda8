// Key filters and reads for a key on a table cursor.
//
// Key filters are filter engines over the cursor's key fields source, which reads the fields of
// the current index's keys: the index engine skips keys they reject while it steps, so rejected
// records are never read. They need an index (10764 without one) and an index switch deactivates
// them all; the client activates them again when they still apply.
//
// RecordGetForKey walks the records whose key equals a search key: the first call positions on
// the first (aMatchFirst) or last equal key, later calls step on while the keys stay equal. The
// range and the key filter bound the walk, the record filter skips within the filter deadline.
//
// Record actions are told to the referential-integrity engine first and then to the extenders.
#include <vector>

#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "index/zfsdFilterEngineBase.h"
#include "index/zfsdKeyEngineBase.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "storage/zfsrRecordEngineBase.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

IzfFieldsSource* TzfServerTableCursor::GetCurrentKeyFieldsSource() {
  return stcIndexEngine ? stcIndexEngine->bieKeyEngine.get() : nullptr;
}

uint32_t TzfServerTableCursor::stcRecordRangePosition(const uint8_t* aRecord, int& aPosition, int64_t aRefNr) {
  aPosition = 0;
  if (!stcIndexEngine) return 0;
  if (const uint32_t k = stcIndexEngine->bieKeyEngine->BuildKey(aRecord, stcKeyBuffer.data(), aRefNr, false)) return k;
  aPosition = KeyRangePosition(stcKeyBuffer.data());
  return 0;
}

void TzfServerTableCursor::stcLeaveIfOutOfView(const uint8_t* aRecord, const TzfBaseIndexPath& aSaved) {
  TzfBaseIndexPath& path = *stcIndexPath;
  const bool outside = path.KeyValid && KeyRangePosition(path.Key) != 0;
  const bool refused = path.IsOnKey() && ((FilterActive() && !sbcFilter->MatchesBuffer(aRecord)) ||
                                          (ActiveKeyFilter() && !(path.KeyValid && ActiveKeyFilter()->MatchesBuffer(path.Key))));
  if (!outside && !refused) return;
  path.Assign(aSaved);
  path.SetToDeleted();
  PositionFromPath();
}

uint32_t TzfServerTableCursor::stcRecordStaysVisible(const uint8_t* aRecord, int64_t aRefNr) {
  int pos = 0;
  const uint32_t k = stcRecordRangePosition(aRecord, pos, aRefNr);
  if (k == 1) return zfErrRecLockFailed;  // no key in a filtered index
  if (k != 0) return k;
  if (pos != 0 || !stcRecordPassesKeyFilter(aRecord, aRefNr) || (FilterActive() && !sbcFilter->MatchesBuffer(aRecord)))
    return zfErrRecLockFailed;
  return 0;
}

bool TzfServerTableCursor::stcRecordPassesKeyFilter(const uint8_t* aRecord, int64_t aRefNr) {
  TzfBaseFilterEngine* filter = ActiveKeyFilter();
  if (!stcIndexEngine || !filter) return true;
  return stcIndexEngine->bieKeyEngine->BuildKey(aRecord, stcKeyBuffer.data(), aRefNr, false) == 0 &&
         filter->MatchesBuffer(stcKeyBuffer.data());
}

uint32_t TzfServerTableCursor::stcFollowIntoRange() {
  if (!stcIndexEngine || stcPosition != TzfCursorPosition::cpOnRecord) return 0;
  return InContent(false, [&](TzfServerTransaction* aTrans) -> uint32_t {
    std::vector<uint8_t> record(stcTable->sbtFieldsDescriptor->GetRecordLength());
    try {
      stcTable->sbtRecordEngine->ReadRecord(aTrans, stcRefNr, record.data());
    } catch (const EzfBaseException&) {
      return 0;
    }
    if (stcIndexPath->SetToRecord(record.data(), stcRefNr) != 0) return 0;
    stcPathIntoRange();
    return 0;
  });
}

void TzfServerTableCursor::stcPathIntoRange() {
  if (!stcIndexEngine) return;
  TzfBaseIndexPath& path = *stcIndexPath;
  if (path.KeyValid && path.IsOnKey()) {
    const int pos = KeyRangePosition(path.Key);
    if (pos < 0) path.SetToBof();
    if (pos > 0) path.SetToEof();
  }
  PositionFromPath();
}

uint32_t TzfServerTableCursor::stcSetToFilter(TzfBaseFilterDescriptor* aFilter, TzfBaseFilterDescriptor* aKeyFilter,
                                              bool aForward) {
  // Key filters need an index path.
  if (aKeyFilter && !stcIndexEngine) return zfErrNoAssocIndex;
  std::unique_ptr<TzfBaseFilterEngine> filter, keyFilter;
  if (aFilter) {
    filter = TzfBaseFilterEngine::CreateFor(*aFilter, this);
    filter->ActivateFilter(0);
  }
  if (aKeyFilter) {
    if (!stcKeyFields) stcKeyFields = RefPtr<TzfKeyFieldsSource>::Create(this);
    keyFilter = TzfBaseFilterEngine::CreateFor(*aKeyFilter, stcKeyFields.get());
    keyFilter->ActivateFilter(0);
  }
  struct ScanKeyFilter {
    TzfBaseFilterEngine*& Slot;
    ~ScanKeyFilter() { Slot = nullptr; }
  } scan{stcScanKeyFilter};
  stcScanKeyFilter = keyFilter.get();
  // The scan starts at the end it walks from, wherever the cursor stood.
  stcPosition = aForward ? TzfCursorPosition::cpBOF : TzfCursorPosition::cpEOF;
  stcRefNr = 0;
  std::vector<uint8_t> record(stcTable->sbtFieldsDescriptor->GetRecordLength());
  TzfFilterDeadline deadline = sbcFilterDeadline;
  deadline.Begin();
  for (;;) {
    // The cursor's own record filter first (within its deadline), then the scan's.
    const uint32_t r = StepFiltered(aForward, zfltNoLock, record.data(), sbcFilter.get());
    if (r == zfErrEOF || r == zfErrBOF) return zfErrNoCurrRec;
    if (r != 0) return r;
    if (!filter || filter->MatchesBuffer(record.data())) return 0;
    uint32_t stop = 0;
    if (deadline.Check(stop)) return stop;
  }
}

uint32_t TzfServerTableCursor::KeyFilterAddCustom(TzfBaseFilterDescriptor* aKeyFilter, TzfKeyFilterID& aKeyFilterID) {
  aKeyFilterID = 0;
  if (!aKeyFilter) return zfErrInvalidParam;
  return Framed([&]() -> uint32_t {
    if (!stcIndexEngine) return zfErrNoAssocIndex;
    if (!stcKeyFields) stcKeyFields = RefPtr<TzfKeyFieldsSource>::Create(this);
    aKeyFilterID = zfFilterAttach(sbcKeyFilter, TzfBaseFilterEngine::CreateFor(*aKeyFilter, stcKeyFields.get()));
    return 0;
  });
}

uint32_t TzfServerTableCursor::KeyFilterActivate(TzfKeyFilterID aKeyFilterID) {
  return Framed([&]() -> uint32_t {
    if (!stcIndexEngine) return zfErrNoAssocIndex;
    return zfFilterActivate(sbcKeyFilter, aKeyFilterID, true);
  });
}

uint32_t TzfServerTableCursor::KeyFilterDeactivate(TzfKeyFilterID aKeyFilterID) {
  return Framed([&] { return zfFilterActivate(sbcKeyFilter, aKeyFilterID, false); });
}

uint32_t TzfServerTableCursor::KeyFilterRemove(TzfKeyFilterID aKeyFilterID) {
  return Framed([&] { return zfFilterRemove(sbcKeyFilter, aKeyFilterID); });
}

uint32_t TzfServerTableCursor::RecordGetForKey(int32_t aFieldCount, int32_t aPartialLen, bool aDirectKey,
                                               const uint8_t* aKeyData, uint8_t* aData, bool aMatchFirst,
                                               bool aFirstCall) {
  return Framed([&]() -> uint32_t {
    if (!stcIndexEngine) return zfErrNoAssocIndex;
    std::vector<uint8_t> search(stcKeyBuffer.size());
    if (const uint32_t k = TakeKey(aDirectKey, aKeyData, search.data())) return k;
    std::vector<uint8_t> scratch;
    uint8_t* data = aData;
    if (!data && FilterActive()) {
      scratch.resize(stcTable->sbtFieldsDescriptor->GetRecordLength());
      data = scratch.data();
    }
    return InContent(false, [&](TzfServerTransaction* aTrans) -> uint32_t {
      TzfIndexNodeStore& store = IndexStore(aTrans);
      TzfBaseIndexPath& path = *stcIndexPath;
      TzfBaseKeyEngine& keys = *stcIndexEngine->bieKeyEngine;
      if (FilterActive()) sbcFilterDeadline.Begin();
      bool first = aFirstCall;
      for (;;) {
        bool found;
        if (first) {
          found = stcIndexEngine->FindKey(store, search.data(), aFieldCount, aPartialLen, 0, path,
                                          aMatchFirst ? skaEqualFirst : skaEqualLast, ActiveKeyFilter()) &&
                  path.KeyValid;
          first = false;
        } else {
          found = (aMatchFirst ? stcIndexEngine->NextKey(store, path, ActiveKeyFilter())
                               : stcIndexEngine->PrevKey(store, path, ActiveKeyFilter())) &&
                  path.KeyValid && keys.CompareKey(search.data(), path.Key, aFieldCount, aPartialLen) == 0;
        }
        if (found && (!path.IsOnKey() || KeyRangePosition(path.Key) != 0)) found = false;
        if (!found) {
          if (aMatchFirst)
            path.SetToEof();
          else
            path.SetToBof();
          PositionFromPath();
          return zfErrRecNotFound;
        }
        PositionFromPath();
        if (data) stcTable->sbtRecordEngine->ReadRecord(aTrans, stcRefNr, data);
        if (!FilterActive() || sbcFilter->MatchesBuffer(data)) return NotifyRead(zfltNoLock, data, 0);
        uint32_t stop = 0;
        if (sbcFilterDeadline.Check(stop)) return stop;
      }
    });
  });
}

}  // namespace zf

// ---- Record notifications ----

namespace zf {

uint32_t TzfServerTableCursor::stcNotifyRecord(TzfEngineAction aAction, bool aBefore, const uint8_t* aOldRecord,
                                               const uint8_t* aNewRecord, const TzfActionArgs& aArgs) {
  if (sbcRefIntegrity) {
    uint32_t r = 0;
    zfSuspendTimeout();
    try {
      r = sbcRefIntegrity->Notify(aAction, aBefore, aOldRecord, aNewRecord);
    } catch (const std::exception& e) {
      // The engine's text travels with its code.
      r = asoConvertException(e);
    }
    zfResumeTimeout();
    if (r != 0) return r;
  }
  return NotifyExtenders(aAction, aBefore, aArgs);
}

uint32_t TzfServerTableCursor::stcWithRefIntegrity(TzfEngineAction aAction, const std::function<uint32_t()>& aWrite) {
  if (!sbcRefIntegrity) return aWrite();
  uint32_t r = 0;
  zfSuspendTimeout();
  try {
    r = sbcRefIntegrity->BeginAction(aAction);
  } catch (const std::exception& e) {
    r = asoConvertException(e);
  }
  zfResumeTimeout();
  if (r != 0) return r;
  struct TEnd {
    TzfBaseRefIntegrityEngine& Engine;
    TzfEngineAction Action;
    ~TEnd() { Engine.EndAction(Action); }
  } end{*sbcRefIntegrity, aAction};
  return aWrite();
}

}  // namespace zf
