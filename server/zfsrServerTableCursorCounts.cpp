// Record counts and record numbers of a table cursor.
//
// Counts come from the engines whenever they can answer: the record engine's record count, the
// current index's key count. A range or an active filter that the count option honours makes the
// cursor walk its own view from BOF, with the filter limit off (only the operation deadline stops
// the walk) and, for the options that ignore filters, with the filters detached; the walk leaves
// position and filters as they were.
//
// Record numbers in index order are positions within the range and the active filters, found by
// walking from the start (or the end).
#include <memory>
#include <utility>
#include <vector>

#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "index/zfsdFilterEngineBase.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerIndexTasks.h"
#include "server/zfsrServerTableCursor.h"
#include "storage/zfsrRecordEngineBase.h"

namespace zf {

namespace {

// Before the first record of the index order, or after the last with aAtEnd.
void ToIndexEdge(TzfCursorPosition& aPosition, int64_t& aRefNr, TzfBaseIndexPath& aPath, bool aAtEnd) {
  aRefNr = 0;
  aPosition = aAtEnd ? TzfCursorPosition::cpEOF : TzfCursorPosition::cpBOF;
  if (aAtEnd)
    aPath.SetToEof();
  else
    aPath.SetToBof();
}

// The cursor's position (and its index path), put back when the holder goes.
class TPositionKeeper {
 public:
  TPositionKeeper(TzfCursorPosition& aPosition, int64_t& aRefNr, TzfBaseIndexPath* aPath)
      : FPosition(aPosition), FRefNr(aRefNr), FSavedPosition(aPosition), FSavedRefNr(aRefNr), FPath(aPath) {
    if (FPath) FSavedPath = FPath->Duplicate();
  }
  ~TPositionKeeper() {
    if (!FKeep) Restore();
  }
  void Restore() {
    FPosition = FSavedPosition;
    FRefNr = FSavedRefNr;
    if (FPath && FSavedPath) FPath->Assign(*FSavedPath);
  }
  // The position reached stays.
  void Keep() { FKeep = true; }

 private:
  TzfCursorPosition& FPosition;
  int64_t& FRefNr;
  TzfCursorPosition FSavedPosition;
  int64_t FSavedRefNr;
  TzfBaseIndexPath* FPath;
  std::unique_ptr<TzfBaseIndexPath> FSavedPath;
  bool FKeep = false;
};

// The filter limit off while it lives.
struct TFilterLimitOff {
  explicit TFilterLimitOff(TzfFilterDeadline& aDeadline) : Deadline(aDeadline) { Deadline.Disable(); }
  ~TFilterLimitOff() { Deadline.Enable(); }
  TzfFilterDeadline& Deadline;
};

}  // namespace

uint32_t TzfServerTableCursor::GetRecordCountAsync(TzfAbstractTaskInfo*& aTaskInfo) {
  return GetRecordCountExAsync(rcoClientFilteredKeyCount, aTaskInfo);
}

uint32_t TzfServerTableCursor::GetRecordCountExAsync(TzfRecordCountOption aOption, TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  // A count that must walk runs as a task; its thread starts after the session lock was given back
  // (the task takes that lock for its whole run).
  TzfServerGetRecCountTaskInfo* walker = nullptr;
  uint32_t code = Framed([&] {
    return InContent(false, [&](TzfServerTransaction* aTrans) -> uint32_t {
      const bool filtered = FilterActive() || ActiveKeyFilter();
      const bool ranged = stcRangeStart.Info.riValid || stcRangeEnd.Info.riValid;
      uint32_t count = 0;
      bool needsWalk;
      if (aOption > rcoTotalRecordCount && stcIndexEngine) {
        stcIndexEngine->GetKeyCount(IndexStore(aTrans), count);
        needsWalk = aOption >= rcoRangedKeyCount && (ranged || filtered);
      } else {
        count = stcTable->sbtRecordEngine->GetRecordCount(aTrans);
        needsWalk = aOption >= rcoServerFilteredKeyCount && filtered;
      }
      if (needsWalk) {
        walker = zfCreateServerObject<TzfServerGetRecCountTaskInfo>(aOption, count, this);
        return 0;
      }
      auto* task = zfCreateServerObject<TzfServerDoNothingTaskInfo>(stcDatabase->sdSession, count);
      task->MakeSnapshot(count, count, 0);
      task->MarkFinished();
      aTaskInfo = task;
      return 0;
    });
  });
  if (!walker) return code;
  if (code != 0) {
    walker->Free();
    return code;
  }
  try {
    walker->StartThread(2000);
  } catch (const std::exception& e) {
    code = asoConvertException(e);
    walker->Free();
    return code;
  }
  aTaskInfo = walker;
  return 0;
}

uint32_t TzfServerTableCursor::GetRecordCount(uint32_t& aRecCount, bool aEstimate) {
  return GetRecordCountEx(rcoClientFilteredKeyCount, aRecCount, aEstimate);
}

uint32_t TzfServerTableCursor::GetRecordCountEx(TzfRecordCountOption aOption, uint32_t& aRecCount, bool aEstimate) {
  aRecCount = 0;
  return Framed([&] { return sbcGetRecordCount(aOption, aRecCount, aEstimate); });
}

uint32_t TzfServerTableCursor::sbcGetRecordCount(TzfRecordCountOption aOption, uint32_t& aRecCount, bool) {
  aRecCount = 0;
  return InContent(false, [&](TzfServerTransaction* aTrans) -> uint32_t {
    const bool filtered = FilterActive() || ActiveKeyFilter();
    if (aOption > rcoTotalRecordCount && stcIndexEngine) {
      const bool ranged = stcRangeStart.Info.riValid || stcRangeEnd.Info.riValid;
      // No index engine here estimates a range: the count is walked, exact.
      if (aOption >= rcoRangedKeyCount && (ranged || filtered)) return sbcCountByWalking(aOption, aRecCount);
      stcIndexEngine->GetKeyCount(IndexStore(aTrans), aRecCount);
      return 0;
    }
    if (aOption >= rcoServerFilteredKeyCount && filtered) return sbcCountByWalking(aOption, aRecCount);
    aRecCount = stcTable->sbtRecordEngine->GetRecordCount(aTrans);
    return 0;
  });
}

uint32_t TzfServerTableCursor::sbcCountByWalking(TzfRecordCountOption aOption, uint32_t& aRecCount,
                                                 const std::function<bool(uint32_t)>& aProgress) {
  aRecCount = 0;
  TPositionKeeper keeper(stcPosition, stcRefNr, stcIndexPath.get());
  // Detached for the walk when the option ignores them; attached again on every path.
  std::unique_ptr<TzfBaseFilterEngine> filter, keyFilter;
  const bool detach = aOption < rcoServerFilteredKeyCount;
  if (detach) {
    filter = std::move(sbcFilter);
    keyFilter = std::move(sbcKeyFilter);
  }
  struct Reattach {
    TzfServerTableCursor& C;
    std::unique_ptr<TzfBaseFilterEngine>& Filter;
    std::unique_ptr<TzfBaseFilterEngine>& KeyFilter;
    bool Detached;
    ~Reattach() {
      if (!Detached) return;
      if (C.sbcFilter || C.sbcKeyFilter) rtl::AssertionFailure("zfsrServerTableCursorCounts", __LINE__);
      C.sbcFilter = std::move(Filter);
      C.sbcKeyFilter = std::move(KeyFilter);
    }
  } reattach{*this, filter, keyFilter, detach};
  TFilterLimitOff limitOff(sbcFilterDeadline);

  stcPosition = TzfCursorPosition::cpBOF;
  stcRefNr = 0;
  if (stcIndexPath) stcIndexPath->SetToBof();
  // One buffer for the whole walk (a step without one would make its own each time).
  std::vector<uint8_t> record(stcTable->sbtFieldsDescriptor->GetRecordLength());
  for (;;) {
    const uint32_t r = StepFiltered(true, zfltNoLock, record.data(), sbcFilter.get());
    if (r == zfErrEOF) return 0;
    if (r != 0) return r;
    ++aRecCount;
    if (aProgress && aProgress(aRecCount)) return zfErrUpdateAborted;
  }
}

uint32_t TzfServerTableCursor::IndexRecNoGet(uint32_t& aRecNo, bool aFlipOrder) {
  aRecNo = 0;
  const int64_t target = stcRefNr;
  std::vector<uint8_t> record(stcTable->sbtFieldsDescriptor->GetRecordLength());
  TPositionKeeper keeper(stcPosition, stcRefNr, stcIndexPath.get());
  TFilterLimitOff limitOff(sbcFilterDeadline);
  return InContent(false, [&](TzfServerTransaction*) -> uint32_t {
    ToIndexEdge(stcPosition, stcRefNr, *stcIndexPath, aFlipOrder);
    for (uint32_t n = 1;; ++n) {
      const uint32_t r = StepFiltered(!aFlipOrder, zfltNoLock, record.data(), sbcFilter.get());
      // Not met on the way: outside the range or rejected by a filter.
      if (r == zfErrEOF || r == zfErrBOF) return zfErrNoCurrRec;
      if (r != 0) return r;
      if (stcRefNr == target) {
        aRecNo = n;
        return 0;
      }
    }
  });
}

void TzfServerTableCursor::IterateIndex(uint8_t** aData, const TzfRecordIterator& aRecIterator, bool aBackward,
                                        void* aCookie) {
  std::vector<uint8_t> scratch;
  uint8_t* buffer = aData ? *aData : nullptr;
  if (!buffer) {
    scratch.resize(stcTable->sbtFieldsDescriptor->GetRecordLength());
    buffer = scratch.data();
  }
  TFilterLimitOff limitOff(sbcFilterDeadline);
  ToIndexEdge(stcPosition, stcRefNr, *stcIndexPath, aBackward);
  for (;;) {
    const uint32_t r = StepFiltered(!aBackward, zfltNoLock, buffer, sbcFilter.get());
    if (r == zfErrEOF || r == zfErrBOF) return;
    if (r != 0) throw EzfServerEngineException(r);
    // Engines hand out the record's address when no buffer was given: here it is the scratch copy.
    if (aData && !*aData) *aData = buffer;
    const TzfRecordIteratorResult next = aRecIterator(aCookie, stcRefNr, buffer);
    if (aData && *aData == buffer && scratch.data() == buffer) *aData = nullptr;
    if (next == TzfRecordIteratorResult::rirStop) return;
  }
}

uint32_t TzfServerTableCursor::IndexRecNoSet(uint32_t aRecNo, bool aFlipOrder) {
  std::vector<uint8_t> record(stcTable->sbtFieldsDescriptor->GetRecordLength());
  TPositionKeeper keeper(stcPosition, stcRefNr, stcIndexPath.get());
  TFilterLimitOff limitOff(sbcFilterDeadline);
  const uint32_t r = InContent(false, [&](TzfServerTransaction*) -> uint32_t {
    ToIndexEdge(stcPosition, stcRefNr, *stcIndexPath, aFlipOrder);
    if (aRecNo == 0) return zfErrEOF;
    for (uint32_t n = 1;; ++n) {
      const uint32_t s = StepFiltered(!aFlipOrder, zfltNoLock, record.data(), sbcFilter.get());
      if (s == zfErrBOF) return zfErrEOF;
      if (s != 0) return s;
      if (n == aRecNo) return 0;
    }
  });
  // Found, or past the end: the cursor stays where the walk left it (at EOF for a number beyond
  // the last record, as in storage order); other failures leave it where it stood.
  if (r == 0 || r == zfErrEOF) {
    keeper.Keep();
    if (r == zfErrEOF) ToIndexEdge(stcPosition, stcRefNr, *stcIndexPath, true);
  }
  return r;
}

}  // namespace zf
