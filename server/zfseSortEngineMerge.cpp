#include "server/zfseSortEngineMerge.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "dictionary/zfsdDataDictionary.h"
#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlException.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerTableCursor.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfseSortEngineMerge";
constexpr int kStackRanges = 32;
constexpr uint32_t kPartitionCheck = 100;
constexpr uint32_t kMergeCheck = 1000;

void FreeRun(TzfServerTableCursor*& aCursor) {
  if (aCursor) aCursor->Free();
  aCursor = nullptr;
}

}  // namespace

TzfMergeSortEngine::TzfMergeSortEngine(TzfServerDatabase* aDB, TzfDataDictionary* aDict,
                                       TzfIndexDescriptor* aIndexDesc)
    : TzfBaseSortEngine(aDB, aDict, aIndexDesc) {
  // A record longer than the buffer cannot be sorted here.
  if (bsRecLenBuf == 0 || bsRecLenBuf > kBufferSize) throw EzfMergeSortEngineException(zfErrInvalidParam);
  msBuffer.resize(kBufferSize);
  msRecBuffer.resize(bsRecLenBuf);
  msMaxRecCount = kBufferSize / bsRecLenBuf;
  msBufferRefs.resize(msMaxRecCount);
  for (auto& r : msMergeRecord) r.resize(bsRecLen);
  msHeld.resize(bsRecLen);
  msPrevious.resize(bsRecLen);
}

TzfMergeSortEngine::~TzfMergeSortEngine() {
  FreeRun(msOutputCursor);
  for (TzfServerTableCursor*& c : msCursorList) FreeRun(c);
  msCursorList.clear();
}

std::unique_ptr<TzfBaseSortEngine> TzfMergeSortEngine::Create(TzfServerDatabase* aDB, TzfDataDictionary* aDict,
                                                              TzfIndexDescriptor* aIndexDesc) {
  return std::make_unique<TzfMergeSortEngine>(aDB, aDict, aIndexDesc);
}

// ---- putting ----

uint32_t TzfMergeSortEngine::Put(const uint8_t* aRecord) {
  ZF_ASSERT(msState != TzfSortState::zfspGetting, kUnit);
  msState = TzfSortState::zfspPutting;
  if (msRecCount == msMaxRecCount) {
    if (const uint32_t r = Spill()) return r;
    msBufferOffset = 0;
  }
  std::memcpy(msBuffer.data() + msBufferOffset, aRecord, bsRecLen);
  msBufferOffset += bsRecLenBuf;
  ++msRecCount;
  ++msTotalCount;
  return 0;
}

void TzfMergeSortEngine::SortBuffer() {
  for (uint32_t k = 0; k < msRecCount; ++k) msBufferRefs[k] = k;
  if (msRecCount < 2) return;
  struct TRange {
    int32_t Lo, Hi;
  };
  TRange stack[kStackRanges];
  int top = 0;
  stack[top++] = {0, static_cast<int32_t>(msRecCount) - 1};
  uint32_t steps = 0;
  uint32_t* refs = msBufferRefs.data();
  while (top > 0) {
    TRange range = stack[--top];
    while (range.Lo < range.Hi) {
      if (++steps % kPartitionCheck == 0) zfCheckTimeout();
      const int32_t lo = range.Lo, hi = range.Hi, mid = lo + (hi - lo) / 2;
      int32_t pivotAt = mid;
      if (hi - lo + 1 > 15) {
        // The median of the first, middle and last record.
        const uint8_t* a = BufferRecord(refs[lo]);
        const uint8_t* b = BufferRecord(refs[mid]);
        const uint8_t* c = BufferRecord(refs[hi]);
        if (Compare(a, b) < 0)
          pivotAt = Compare(b, c) < 0 ? mid : (Compare(a, c) < 0 ? hi : lo);
        else
          pivotAt = Compare(a, c) < 0 ? lo : (Compare(b, c) < 0 ? hi : mid);
      }
      // The pivot is copied: the references move while partitioning.
      std::memcpy(msRecBuffer.data(), BufferRecord(refs[pivotAt]), bsRecLen);
      const uint8_t* pivot = msRecBuffer.data();
      int32_t i = lo, j = hi;
      while (i <= j) {
        while (Compare(BufferRecord(refs[i]), pivot) < 0) ++i;
        while (Compare(pivot, BufferRecord(refs[j])) < 0) --j;
        if (i < j) {
          std::swap(refs[i], refs[j]);
          ++i;
          --j;
        } else if (i == j) {
          ++i;
          --j;
        }
      }
      // [lo, j] and [i, hi]: the smaller part next, the larger one pushed.
      TRange left{lo, j}, right{i, hi};
      const bool leftSmaller = (j - lo) < (hi - i);
      const TRange larger = leftSmaller ? right : left;
      if (larger.Lo < larger.Hi) {
        ZF_ASSERT(top < kStackRanges, kUnit);
        stack[top++] = larger;
      }
      range = leftSmaller ? left : right;
    }
  }
}

uint32_t TzfMergeSortEngine::WriteRun() {
  TzfServerTableCursor* run =
      TzfServerTableCursor::CreateResultSet(bsDB, bsDictNoIdx.get(), static_cast<uint32_t>(std::max(0, zfRemainingTimeout())));
  for (uint32_t k = 0; k < msRecCount; ++k) {
    const uint32_t r = run->sbcRecordInsert(zfltNoLock, TzfInsertOptions{}, BufferRecord(msBufferRefs[k]));
    if (r != 0) {
      FreeRun(run);
      return r;
    }
  }
  msCursorList.push_back(run);
  ++msRunsWritten;
  msRecCount = 0;
  return 0;
}

uint32_t TzfMergeSortEngine::Spill() {
  SortBuffer();
  return WriteRun();
}

// ---- reading ----

uint32_t TzfMergeSortEngine::StartReading() {
  if (msState == TzfSortState::zfspGetting) return 0;
  msRunIndex = msRecCount;
  msState = TzfSortState::zfspGetting;
  if (msRecCount == 0) {
    if (msTotalCount == 0) return zfErrEOF;
  } else {
    SortBuffer();
    if (!msCursorList.empty()) {
      if (const uint32_t r = WriteRun()) return r;
    }
  }
  if (msCursorList.empty()) {
    msRunIndex = 0;
    return 0;
  }
  // Intermediate merges until at most five runs are left.
  while (msCursorList.size() > static_cast<size_t>(kMergeWays)) {
    TakeMergeGroup();
    msOutputCursor = TzfServerTableCursor::CreateResultSet(bsDB, bsDictNoIdx.get(),
                                                           static_cast<uint32_t>(std::max(0, zfRemainingTimeout())));
    uint32_t copied = 0;
    for (int m = SmallestMember(); m >= 0; m = SmallestMember()) {
      const uint32_t r = msOutputCursor->sbcRecordInsert(zfltNoLock, TzfInsertOptions{}, msMergeRecord[m].data());
      if (r != 0) throw EzfMergeSortEngineException(r);
      if (copied++ % kMergeCheck == 0) zfCheckTimeout();
      AdvanceMember(m);
    }
    msCursorList.push_back(msOutputCursor);
    msOutputCursor = nullptr;
    ++msRunsWritten;
  }
  TakeMergeGroup();
  return 0;
}

void TzfMergeSortEngine::TakeMergeGroup() {
  msMergeCursorCount = 0;
  const size_t n = std::min(msCursorList.size(), static_cast<size_t>(kMergeWays));
  // Runs that turn out empty leave at once, so the group is built from the list as it stands.
  size_t next = 0;
  while (msMergeCursorCount < n && next < msCursorList.size()) {
    TzfServerTableCursor* run = msCursorList[next];
    run->sbcSetToBegin();
    const uint32_t r = run->sbcRecordGetNext(zfltNoLock, msMergeRecord[msMergeCursorCount].data());
    if (r == zfErrEOF) {
      RemoveRun(run);
      continue;
    }
    if (r != 0) throw EzfMergeSortEngineException(r);
    msMergeCursor[msMergeCursorCount] = run;
    msCursorOnRec[msMergeCursorCount] = true;
    ++msMergeCursorCount;
    ++next;
  }
}

int TzfMergeSortEngine::SmallestMember() const {
  int best = -1;
  for (int m = 0; m < msMergeCursorCount; ++m) {
    if (!msCursorOnRec[m]) continue;
    // A later member wins only when strictly smaller.
    if (best < 0 || Compare(msMergeRecord[m].data(), msMergeRecord[best].data()) < 0) best = m;
  }
  return best;
}

void TzfMergeSortEngine::AdvanceMember(int aMember) {
  TzfServerTableCursor* run = msMergeCursor[aMember];
  const uint32_t r = run->sbcRecordGetNext(zfltNoLock, msMergeRecord[aMember].data());
  if (r == 0) return;
  if (r != zfErrEOF) throw EzfMergeSortEngineException(r);
  RemoveRun(run);
  const int last = msMergeCursorCount - 1;
  if (aMember != last) {
    msMergeCursor[aMember] = msMergeCursor[last];
    msCursorOnRec[aMember] = msCursorOnRec[last];
    std::swap(msMergeRecord[aMember], msMergeRecord[last]);
  }
  msMergeCursor[last] = nullptr;
  msCursorOnRec[last] = false;
  --msMergeCursorCount;
}

void TzfMergeSortEngine::RemoveRun(TzfServerTableCursor* aCursor) {
  auto it = std::find(msCursorList.begin(), msCursorList.end(), aCursor);
  if (it != msCursorList.end()) msCursorList.erase(it);
  FreeRun(aCursor);
}

uint32_t TzfMergeSortEngine::Next(uint8_t* aRecord) {
  if (const uint32_t r = StartReading()) return r;
  if (msHasHeld) {
    msHasHeld = false;
    if (aRecord) std::memcpy(aRecord, msHeld.data(), bsRecLen);
    return 0;
  }
  if (msMergeCursorCount > 0) {
    const int m = SmallestMember();
    if (aRecord) std::memcpy(aRecord, msMergeRecord[m].data(), bsRecLen);
    AdvanceMember(m);
    return 0;
  }
  if (!msCursorList.empty() || msRunIndex >= msRecCount) return zfErrEOF;
  if (aRecord) std::memcpy(aRecord, BufferRecord(msBufferRefs[msRunIndex]), bsRecLen);
  ++msRunIndex;
  return 0;
}

uint32_t TzfMergeSortEngine::Get(uint8_t* aRecord) { return Next(aRecord); }

const uint8_t* TzfMergeSortEngine::HandOut(uint8_t** aData) {
  if (aData && *aData) {
    std::memcpy(*aData, msRecBuffer.data(), bsRecLen);
    return *aData;
  }
  if (aData) *aData = msRecBuffer.data();
  return msRecBuffer.data();
}

bool TzfMergeSortEngine::Iterate(uint8_t** aData, bool* aKeyChanged, const TzfRecordIterator& aIterator,
                                 void* aCookie) {
  bool any = false;
  for (;;) {
    const uint32_t r = Next(msRecBuffer.data());
    if (r == zfErrEOF) return any;
    zfRaiseIfError(r);
    if (aKeyChanged) *aKeyChanged = !any || Compare(msPrevious.data(), msRecBuffer.data()) != 0;
    std::memcpy(msPrevious.data(), msRecBuffer.data(), bsRecLen);
    any = true;
    if (aIterator(aCookie, 0, HandOut(aData)) == TzfRecordIteratorResult::rirStop) return false;
  }
}

bool TzfMergeSortEngine::IterateSameKey(uint8_t** aData, const TzfRecordIterator& aIterator, void* aCookie) {
  bool any = false;
  std::vector<uint8_t> first(bsRecLen);
  for (;;) {
    const uint32_t r = Next(msRecBuffer.data());
    if (r == zfErrEOF) return any;
    zfRaiseIfError(r);
    if (!any) {
      std::memcpy(first.data(), msRecBuffer.data(), bsRecLen);
    } else if (Compare(first.data(), msRecBuffer.data()) != 0) {
      // Another key: it stays the next record.
      std::memcpy(msHeld.data(), msRecBuffer.data(), bsRecLen);
      msHasHeld = true;
      return true;
    }
    any = true;
    if (aIterator(aCookie, 0, HandOut(aData)) == TzfRecordIteratorResult::rirStop) return false;
  }
}

// ---- unit ----

namespace {

void StartSortEngineMerge() { zfSetDefaultSortEngineClassIfNone(&TzfMergeSortEngine::Create); }
void StopSortEngineMerge() { zfClearDefaultSortEngineClassIf(&TzfMergeSortEngine::Create); }

}  // namespace

rtl::TUnitInit& zfseSortEngineMergeUnit() {
  static rtl::TUnitInit unit("zfseSortEngineMerge", &StartSortEngineMerge, &StopSortEngineMerge);
  return unit;
}

}  // namespace zf
