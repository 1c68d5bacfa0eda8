// The B*-tree engine's read-only walks: range scans both ways, record numbers within a range and
// filters, and the range estimate. They hold one leaf at a time and check the thread's cancel and
// deadline at every leaf crossing.
#include <algorithm>
#include <cmath>

#include "foundation/zfllErrors.h"
#include "index/zfseIndexEngineStaticKeyBstarTreeOp.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

namespace {
constexpr const char* kUnit = "zfseIndexEngineStaticKeyBstarTreeScan";

using TPath = TzfStaticKeyBstarTreeIndexPath;

TPath& OwnPath(TzfStaticKeyBstarTreeIndexEngine& aEngine, TzfBaseIndexPath& aPath) {
  auto* p = dynamic_cast<TPath*>(&aPath);
  if (!p || p->bipIndexEngine != &aEngine) rtl::AssertionFailure(kUnit, __LINE__);
  return *p;
}

TzfBaseFilterEngine* Active(TzfBaseFilterEngine* aFilter) { return aFilter && aFilter->IsActive() ? aFilter : nullptr; }

[[noreturn]] void RaiseNeedsRecords(const char16_t* aFormat, const char16_t* aWhat) {
  throw EzfStaticKeyBstarTreeIndexEngineException(zfErrNotSupported, aFormat, {UnicodeString(aWhat)});
}

TzfSearchKeyAction StartAction(const TzfRangeInfo& r) { return r.riExclusive ? skaGreater : skaGreaterEqual; }
TzfSearchKeyAction EndAction(const TzfRangeInfo& r) { return r.riExclusive ? skaSmaller : skaSmallerEqual; }

// Positions aPath with the bound's search (its own field count and partial length).
bool SeekBound(TzfStaticKeyBstarTreeIndexEngine& aEngine, TzfIndexNodeStore& aStore, const TzfRangeInfo& aBound,
               TzfSearchKeyAction aAction, TPath& aPath, TzfBaseFilterEngine* aKeyFilter) {
  TzfBstarTreeOperation op(aEngine, aStore, aBound.riFieldCount, aBound.riPartitial);
  return op.SearchKey(aBound.riKey, 0, aPath, aAction, aKeyFilter);
}

// A walk over entries one step at a time (the step checks the deadline whenever it changes leaf).
// A walk that changes leaf more often than the index has nodes runs in a circle (a damaged chain).
bool Step(TzfBstarTreeOperation& op, TPath& aPath, bool aForward) {
  const uint32_t walked = op.LeavesWalked;
  const bool ok = aForward ? op.StepForward(nullptr, aPath) : op.StepBackward(nullptr, aPath);
  op.LeavesWalked += walked;  // the step counts its own leaf changes from 0
  if (op.LeavesWalked > std::max<uint32_t>(op.S.GetNodeCount(), 1)) zfRaiseNotAnIndexBlock(op.S, aPath.bpipPage);
  return ok;
}

// Whether the record behind an entry passes the record filter (read into aBuffer).
bool RecordPasses(TzfIndexRecordSource* aRecords, TzfBaseFilterEngine* aFilter, std::vector<uint8_t>& aBuffer,
                  int64_t aRefNr) {
  if (!aFilter) return true;
  aRecords->ReadRecord(aRefNr, aBuffer.data());
  return aFilter->MatchesBuffer(aBuffer.data());
}

// The leaf that a walk from Bof (aForward) or Eof starts in.
uint8_t* EdgeLeaf(TzfBstarTreeOperation& op, TzfIndexBlockHold& aHold, bool aForward) {
  uint8_t* n = op.ReadNodeInto(aHold, op.S.GetRootNode());
  for (int32_t depth = 0; !TzfBstarTreeOperation::IsLeaf(n); ++depth) {
    if (depth >= zfBstarTreeMaxDepth) zfRaiseNotAnIndexBlock(op.S, aHold.Block());
    n = op.ReadNodeInto(aHold, op.Ptr(n, aForward ? 0 : TzfBstarTreeOperation::Count(n)));
  }
  return n;
}

// The leaf and slot at which a leaf-by-leaf walk starts from the position of aPath (Bof/Eof, or a
// crack before/after an entry); false when there is nothing in that direction.
bool WalkStart(TzfBstarTreeOperation& op, TzfIndexBlockHold& aHold, const TPath& aPath, bool aForward,
               uint8_t*& n, int32_t& aSlot) {
  if (aPath.IsBof() || aPath.IsEof()) {
    if (aPath.IsBof() != aForward) return false;
    n = EdgeLeaf(op, aHold, aForward);
    aSlot = aForward ? TzfBstarTreeOperation::First(n)
                     : TzfBstarTreeOperation::First(n) + TzfBstarTreeOperation::Count(n) - 1;
    return true;
  }
  n = op.ReadNodeInto(aHold, aPath.bpipPage, 1);
  aSlot = aPath.bpipItem;
  if (aPath.IsOnKey() || aPath.Position == (aForward ? ippOnCrackAfter : ippOnCrackBefore))
    aSlot += aForward ? 1 : -1;
  return true;
}

// Moves a leaf-by-leaf walk to the neighbouring leaf; false at the end of the chain.
bool NextLeaf(TzfBstarTreeOperation& op, TzfIndexBlockHold& aHold, bool aForward, uint8_t*& n, int32_t& aSlot) {
  const uint32_t from = aHold.Block();
  const uint32_t to = aForward ? TzfBstarTreeOperation::Next(n) : TzfBstarTreeOperation::Prev(n);
  if (to == zfIndexNoBlock) return false;
  n = op.ChainLeaf(aHold, to, from, aForward);
  aSlot = aForward ? TzfBstarTreeOperation::First(n)
                   : TzfBstarTreeOperation::First(n) + TzfBstarTreeOperation::Count(n) - 1;
  return true;
}

}  // namespace

// ---- Scans ----

namespace {
void IterateDir(TzfStaticKeyBstarTreeIndexEngine& E, TzfIndexNodeStore& S, TzfBaseIndexPath& aPath,
                TzfIndexRecordSource* aRecords, const TzfIndexKeyIterator& aKeyIterator,
                const TzfIndexRecIterator& aRecIterator, const TzfRangeInfo& aRangeStart,
                const TzfRangeInfo& aRangeEnd, TzfBaseFilterEngine* aFilter, TzfBaseFilterEngine* aKeyFilter,
                bool aForward, const char16_t* aName) {
  TPath& path = OwnPath(E, aPath);
  aFilter = Active(aFilter);
  aKeyFilter = Active(aKeyFilter);
  if ((aRecIterator || aFilter) && !aRecords) RaiseNeedsRecords(u"%s requires a RecordEngine", aName);
  const TzfIndexTransactionLock lock(S);
  auto atEnd = [&] {
    if (aForward)
      path.SetToEof();
    else
      path.SetToBof();
  };
  if (S.GetRootNode() == zfIndexNoBlock) return atEnd();
  // The far bound gives the stop position; the near bound the start.
  const TzfRangeInfo& farB = aForward ? aRangeEnd : aRangeStart;
  const TzfRangeInfo& nearB = aForward ? aRangeStart : aRangeEnd;
  uint32_t stopPage = 0;
  int32_t stopSlot = 0;
  if (farB.riValid) {
    if (!SeekBound(E, S, farB, aForward ? EndAction(farB) : StartAction(farB), path, aKeyFilter) ||
        (aForward ? path.IsBof() : path.IsEof()) || !path.IsOnKey())
      return atEnd();
    stopPage = path.bpipPage;
    stopSlot = path.bpipItem;
  }
  if (nearB.riValid) {
    if (!SeekBound(E, S, nearB, aForward ? StartAction(nearB) : EndAction(nearB), path, aKeyFilter) ||
        (aForward ? path.IsEof() : path.IsBof()) || !path.IsOnKey())
      return atEnd();
    if (farB.riValid) {
      const int c = aForward ? E.bieKeyEngine->CompareKey(farB.riKey, path.Key, farB.riFieldCount, farB.riPartitial)
                             : E.bieKeyEngine->CompareKey(path.Key, farB.riKey, farB.riFieldCount, farB.riPartitial);
      if (c < 0 || (c == 0 && farB.riExclusive)) return atEnd();
    }
    if (aForward)
      path.SetToCrackBefore();
    else
      path.SetToCrackAfter();
  } else if (aForward) {
    path.SetToBof();
  } else {
    path.SetToEof();
  }
  std::vector<uint8_t> record(aRecords ? aRecords->RecordLength() : 0);
  TzfBstarTreeOperation op(E, S);
  for (;;) {
    if (!Step(op, path, aForward)) return atEnd();
    const bool atStop = path.bpipPage == stopPage && path.bpipItem == stopSlot;
    if (!aKeyFilter || aKeyFilter->MatchesBuffer(path.Key)) {
      TzfKeyIteratorResult k = kirContinue;
      if (aKeyIterator) k = aKeyIterator(path.Key, path.RefNr);
      if (k == kirStop) return;
      if (k == kirContinue && (aRecIterator || aFilter)) {
        aRecords->ReadRecord(path.RefNr, record.data());
        if ((!aFilter || aFilter->MatchesBuffer(record.data())) && aRecIterator &&
            !aRecIterator(record.data(), path.RefNr))
          return;
      }
    }
    if (atStop) return atEnd();
  }
}
}  // namespace

void TzfStaticKeyBstarTreeIndexEngine::Iterate(TzfIndexNodeStore& aTrans, TzfBaseIndexPath& aPath,
                                               TzfIndexRecordSource* aRecords, const TzfIndexKeyIterator& aKeyIterator,
                                               const TzfIndexRecIterator& aRecIterator, const TzfRangeInfo& aRangeStart,
                                               const TzfRangeInfo& aRangeEnd, TzfBaseFilterEngine* aFilter,
                                               TzfBaseFilterEngine* aKeyFilter) {
  IterateDir(*this, aTrans, aPath, aRecords, aKeyIterator, aRecIterator, aRangeStart, aRangeEnd, aFilter, aKeyFilter,
             true, u"Iterate");
}

void TzfStaticKeyBstarTreeIndexEngine::IterateBackward(TzfIndexNodeStore& aTrans, TzfBaseIndexPath& aPath,
                                                       TzfIndexRecordSource* aRecords,
                                                       const TzfIndexKeyIterator& aKeyIterator,
                                                       const TzfIndexRecIterator& aRecIterator,
                                                       const TzfRangeInfo& aRangeStart, const TzfRangeInfo& aRangeEnd,
                                                       TzfBaseFilterEngine* aFilter, TzfBaseFilterEngine* aKeyFilter) {
  IterateDir(*this, aTrans, aPath, aRecords, aKeyIterator, aRecIterator, aRangeStart, aRangeEnd, aFilter, aKeyFilter,
             false, u"IterateBackward");
}

// ---- Record numbers ----

uint32_t TzfStaticKeyBstarTreeIndexEngine::RecNoGet(TzfIndexNodeStore& aTrans, TzfBaseIndexPath& aPath,
                                                    TzfIndexRecordSource* aRecords, const TzfRangeInfo& aRangeStart,
                                                    const TzfRangeInfo& aRangeEnd, TzfBaseFilterEngine* aFilter,
                                                    TzfBaseFilterEngine* aKeyFilter, int64_t& aRecNo,
                                                    bool aFlipOrder) {
  aFilter = Active(aFilter);
  aKeyFilter = Active(aKeyFilter);
  aRecNo = 0;
  TPath& path = OwnPath(*this, aPath);
  if (aFilter && !aRecords) RaiseNeedsRecords(u"%s requires a RecordEngine if a filter is active", u"RecNoGet");
  ValidateIndexPath(aTrans, path);
  if (const uint32_t state = path.CheckCurrentState(); state != 0) return state;
  if (!path.KeyValid) return zfErrNoCurrRec;
  auto beforeStart = [&] {
    if (!aRangeStart.riValid) return false;
    const int c =
        bieKeyEngine->CompareKey(aRangeStart.riKey, path.Key, aRangeStart.riFieldCount, aRangeStart.riPartitial);
    return c > 0 || (c == 0 && aRangeStart.riExclusive);
  };
  auto afterEnd = [&] {
    if (!aRangeEnd.riValid) return false;
    const int c = bieKeyEngine->CompareKey(aRangeEnd.riKey, path.Key, aRangeEnd.riFieldCount, aRangeEnd.riPartitial);
    return c < 0 || (c == 0 && aRangeEnd.riExclusive);
  };
  if (aFlipOrder) {
    if (afterEnd()) return zfErrEOF;
    if (beforeStart()) return zfErrBOF;
  } else {
    if (beforeStart()) return zfErrBOF;
    if (afterEnd()) return zfErrEOF;
  }
  const bool fwd = !aFlipOrder;
  auto tmpOwner = CreateIndexPath();
  TPath& tmp = static_cast<TPath&>(*tmpOwner);
  const TzfRangeInfo& nearB = fwd ? aRangeStart : aRangeEnd;
  if (fwd)
    tmp.SetToBof();
  else
    tmp.SetToEof();
  if (nearB.riValid) {
    if (!SeekBound(*this, aTrans, nearB, fwd ? StartAction(nearB) : EndAction(nearB), tmp, aKeyFilter))
      return fwd ? zfErrEOF : zfErrBOF;
    if (fwd)
      tmp.SetToCrackBefore();
    else
      tmp.SetToCrackAfter();
  }
  TzfBstarTreeOperation op(*this, aTrans);
  if (aFilter || aKeyFilter) {
    std::vector<uint8_t> record(aRecords ? aRecords->RecordLength() : 0);
    while (Step(op, tmp, fwd)) {
      if (!aKeyFilter || aKeyFilter->MatchesBuffer(tmp.Key))
        if (RecordPasses(aRecords, aFilter, record, tmp.RefNr)) ++aRecNo;
      if (tmp.bpipPage == path.bpipPage && tmp.bpipItem == path.bpipItem) break;
    }
    return 0;
  }
  // Without filters whole leaves are counted.
  TzfIndexBlockHold hold(aTrans);
  uint8_t* n = nullptr;
  int32_t s = 0;
  if (!WalkStart(op, hold, tmp, fwd, n, s)) return 0;
  for (;;) {
    const int32_t first = TzfBstarTreeOperation::First(n), last = first + TzfBstarTreeOperation::Count(n) - 1;
    if (hold.Block() == path.bpipPage) {
      const int64_t k = fwd ? path.bpipItem - std::max(s, first) + 1 : std::min(s, last) - path.bpipItem + 1;
      aRecNo += std::max<int64_t>(k, 0);
      return 0;
    }
    aRecNo += std::max<int64_t>(fwd ? last - std::max(s, first) + 1 : std::min(s, last) - first + 1, 0);
    if (!NextLeaf(op, hold, fwd, n, s)) return 0;
  }
}

uint32_t TzfStaticKeyBstarTreeIndexEngine::RecNoSet(TzfIndexNodeStore& aTrans, int64_t aRecNo, TzfBaseIndexPath& aPath,
                                                    TzfIndexRecordSource* aRecords, const TzfRangeInfo& aRangeStart,
                                                    const TzfRangeInfo& aRangeEnd, TzfBaseFilterEngine* aFilter,
                                                    TzfBaseFilterEngine* aKeyFilter, bool aFlipOrder) {
  TPath& path = OwnPath(*this, aPath);
  const bool fwd = !aFlipOrder;
  // In the flipped order the range's end is its beginning: the path's ends swap.
  auto toBegin = [&] {
    if (fwd)
      path.SetToBof();
    else
      path.SetToEof();
  };
  auto toEnd = [&] {
    if (fwd)
      path.SetToEof();
    else
      path.SetToBof();
    return zfErrEOF;
  };
  if (aRecNo <= 0) {
    toBegin();
    return zfErrBOF;
  }
  aFilter = Active(aFilter);
  aKeyFilter = Active(aKeyFilter);
  if (aFilter && !aRecords) RaiseNeedsRecords(u"%s requires a RecordEngine if a filter is active", u"RecNoSet");
  if (aTrans.GetRootNode() == zfIndexNoBlock) return toEnd();
  toBegin();
  try {
    const TzfRangeInfo& farB = fwd ? aRangeEnd : aRangeStart;
    const TzfRangeInfo& nearB = fwd ? aRangeStart : aRangeEnd;
    uint32_t stopPage = 0;
    int32_t stopSlot = 0;
    if (farB.riValid) {
      if (!SeekBound(*this, aTrans, farB, fwd ? EndAction(farB) : StartAction(farB), path, aKeyFilter) ||
          !path.IsOnKey())
        return toEnd();
      stopPage = path.bpipPage;
      stopSlot = path.bpipItem;
      toBegin();
    }
    if (nearB.riValid) {
      if (!SeekBound(*this, aTrans, nearB, fwd ? StartAction(nearB) : EndAction(nearB), path, aKeyFilter))
        return toEnd();
      if (fwd)
        path.SetToCrackBefore();
      else
        path.SetToCrackAfter();
      // A near bound beyond the far one: an empty range.
      if (farB.riValid && path.IsOnCrack()) {
        const int c = fwd ? bieKeyEngine->CompareKey(farB.riKey, path.Key, farB.riFieldCount, farB.riPartitial)
                          : bieKeyEngine->CompareKey(path.Key, farB.riKey, farB.riFieldCount, farB.riPartitial);
        if (c < 0 || (c == 0 && farB.riExclusive)) return toEnd();
      }
    }
    TzfBstarTreeOperation op(*this, aTrans);
    if (aFilter || aKeyFilter) {
      std::vector<uint8_t> record(aRecords ? aRecords->RecordLength() : 0);
      while (aRecNo > 0) {
        if (!Step(op, path, fwd)) return toEnd();
        if ((!aKeyFilter || aKeyFilter->MatchesBuffer(path.Key)) && RecordPasses(aRecords, aFilter, record, path.RefNr))
          --aRecNo;
        if (aRecNo == 0) return path.CheckCurrentState();
        if (path.bpipPage == stopPage && path.bpipItem == stopSlot) return toEnd();
      }
      return path.CheckCurrentState();
    }
    TzfIndexBlockHold hold(aTrans);
    uint8_t* n = nullptr;
    int32_t s = 0;
    if (!WalkStart(op, hold, path, fwd, n, s)) return toEnd();
    for (;;) {
      const int32_t first = TzfBstarTreeOperation::First(n), last = first + TzfBstarTreeOperation::Count(n) - 1;
      const int32_t from = fwd ? std::max(s, first) : std::min(s, last);
      const int64_t avail = fwd ? last - from + 1 : from - first + 1;
      if (avail > 0) {
        const int64_t k = std::min(aRecNo, avail);
        const int32_t slot = static_cast<int32_t>(fwd ? from + k - 1 : from - k + 1);
        if (hold.Block() == stopPage && (fwd ? slot > stopSlot : slot < stopSlot)) return toEnd();
        aRecNo -= k;
        if (aRecNo == 0) {
          op.TakeEntry(path, hold.Block(), n, slot);
          return 0;
        }
      }
      if (hold.Block() == stopPage) return toEnd();
      if (!NextLeaf(op, hold, fwd, n, s)) return toEnd();
    }
  } catch (...) {
    toBegin();
    throw;
  }
}

// ---- Estimate ----

namespace {
struct TLevel {
  uint32_t Block;
  int32_t First, Count, Slot;
};

// The descent from the root to the path's entry, one record per level.
bool Descend(TzfBstarTreeOperation& op, const TPath& aPath, std::vector<TLevel>& aLevels) {
  TzfIndexBlockHold hold(op.S);
  const auto how = op.E.ieAddKeyRefsToKeys ? TzfBstarTreeOperation::TLocate::WithRef
                                           : TzfBstarTreeOperation::TLocate::Full;
  const uint8_t* n = op.ReadNodeInto(hold, op.S.GetRootNode());
  for (int32_t depth = 0;; ++depth) {
    if (depth >= zfBstarTreeMaxDepth) return false;
    int32_t slot = 0;
    op.Locate(n, how, aPath.Key, aPath.RefNr, slot);
    aLevels.push_back({hold.Block(), TzfBstarTreeOperation::First(n), TzfBstarTreeOperation::Count(n), slot});
    if (TzfBstarTreeOperation::IsLeaf(n)) return true;
    n = op.ReadNodeInto(hold, op.Ptr(n, static_cast<uint32_t>(slot)));
  }
}

// The average fill of the tree's nodes (0 .. 1) from its header counts. The counts come from a
// file that may be damaged: the iteration is capped and an impossible answer falls back to half.
double EstimateFillFactor(uint32_t D, double K, double N, double R, double maxLeaf, double maxInt) {
  double f = 0.5;
  if (D == 0) {
    f = K / maxLeaf;
  } else if (D == 1) {
    f = K / ((N - 1) * maxLeaf);
  } else if (D == 2) {
    f = K / ((N - 1 - R) * maxLeaf);
  } else {
    double e = 0.5, g = 0, prod = R + 1;
    for (int iter = 0; iter < 100; ++iter) {
      g = e;
      prod = R + 1;
      double r = R + 1;
      for (uint32_t i = 0; i + 2 < D; ++i) {
        prod = (maxInt + 1) * g * prod;
        r += prod;
      }
      const double base = (N - r) / R;
      if (!(base > 0)) break;
      e = std::pow(base, 1.0 / (D - 1)) / (maxInt + 1);
      if (!std::isfinite(e) || std::fabs(g - e) < 0.0001) break;
    }
    f = K / (maxLeaf * prod * e * (maxInt + 1));
  }
  if (!std::isfinite(f) || f <= 0) return 0.5;
  return std::min(f, 1.0);
}
}  // namespace

uint32_t TzfStaticKeyBstarTreeIndexEngine::EstimateRecordCount(TzfIndexNodeStore& aTrans,
                                                               const TzfRangeInfo& aRangeStart,
                                                               const TzfRangeInfo& aRangeEnd, uint32_t& aRecordCount,
                                                               bool aFlipOrder) {
  // Flipped, the bounds trade places (the flipped start is the upper one).
  const TzfRangeInfo& lo = aFlipOrder ? aRangeEnd : aRangeStart;
  const TzfRangeInfo& hi = aFlipOrder ? aRangeStart : aRangeEnd;
  aRecordCount = 0;
  if (aTrans.GetRootNode() == zfIndexNoBlock) return 0;
  auto aOwner = CreateIndexPath(), bOwner = CreateIndexPath();
  TPath& a = static_cast<TPath&>(*aOwner);
  TPath& b = static_cast<TPath&>(*bOwner);
  if (lo.riValid) {
    if (!FindKey(aTrans, lo.riKey, lo.riFieldCount, lo.riPartitial, 0, a, StartAction(lo), nullptr)) a.SetToEof();
  } else {
    a.SetToBof();
    NextKey(aTrans, a, nullptr);
  }
  if (!a.IsOnKey()) return 0;
  if (hi.riValid) {
    if (!FindKey(aTrans, hi.riKey, hi.riFieldCount, hi.riPartitial, 0, b, EndAction(hi), nullptr)) b.SetToBof();
  } else {
    b.SetToEof();
    PrevKey(aTrans, b, nullptr);
  }
  if (!b.IsOnKey()) return 0;
  if (a.bpipPage == b.bpipPage) {
    if (a.bpipItem <= b.bpipItem) aRecordCount = static_cast<uint32_t>(b.bpipItem - a.bpipItem + 1);
    return 0;
  }
  const int c = bieKeyEngine->CompareKey(a.Key, b.Key, 0, 0);
  if (c > 0 || (c == 0 && a.RefNr > b.RefNr)) return 0;
  TzfBstarTreeOperation op(*this, aTrans);
  std::vector<TLevel> la, lb;
  if (!Descend(op, a, la) || !Descend(op, b, lb) || la.size() != lb.size()) return 0;
  const uint32_t D = static_cast<uint32_t>(la.size() - 1);
  const double K = aTrans.GetStoredKeyCount(), N = aTrans.GetNodeCount(), R = la[0].Count + 1.0;
  const double maxLeaf = ieMaxLeafNodeKeyCount, maxInt = ieMaxInternalNodeKeyCount;
  const double F = EstimateFillFactor(D, K, N, R, maxLeaf, maxInt);
  double inside = 2, outside = 0, weight = 1;
  for (int32_t d = static_cast<int32_t>(D); d >= 0; --d) {
    const TLevel& A = la[static_cast<size_t>(d)];
    const TLevel& B = lb[static_cast<size_t>(d)];
    const double extra = static_cast<uint32_t>(d) < D ? 1 : 0;
    if (A.Block != B.Block) {
      inside += (A.First + A.Count - A.Slot) * weight;
      inside += (B.Slot - B.First + extra) * weight;
    } else {
      inside += (B.Slot - A.Slot) * weight;
    }
    outside += (A.Slot - A.First + extra) * weight;
    outside += (B.First + B.Count - B.Slot) * weight;
    weight = static_cast<uint32_t>(d) == D ? maxLeaf * F : maxInt * F * weight;
  }
  double est = inside + outside > 0 ? inside * K / (inside + outside) : 0;
  if (!std::isfinite(est) || est < 0) est = 0;
  // Two keys in different leaves: at least those two; never more than the index holds.
  est = std::clamp(est, std::min(2.0, K), std::max(K, 0.0));
  aRecordCount = static_cast<uint32_t>(est);
  return 0;
}

}  // namespace zf
