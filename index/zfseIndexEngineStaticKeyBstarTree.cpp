#include "index/zfseIndexEngineStaticKeyBstarTree.h"

#include <random>

#include "dictionary/zfsdFileDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "index/zfseIndexEngineStaticKeyBstarTreeOp.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

namespace {
constexpr const char* kUnit = "zfseIndexEngineStaticKeyBstarTree";

uint32_t DescKeyLength(uint32_t aKeyLength) { return aKeyLength > 32 ? (aKeyLength + 3) & ~3u : aKeyLength; }

TzfStaticKeyBstarTreeIndexPath& OwnPath(TzfStaticKeyBstarTreeIndexEngine& aEngine, TzfBaseIndexPath& aPath) {
  auto* p = dynamic_cast<TzfStaticKeyBstarTreeIndexPath*>(&aPath);
  if (!p || p->bipIndexEngine != &aEngine) rtl::AssertionFailure(kUnit, __LINE__);
  return *p;
}

TzfBaseFilterEngine* ActiveFilter(TzfBaseFilterEngine* aFilter) {
  return aFilter && aFilter->IsActive() ? aFilter : nullptr;
}

bool IsGreaterAction(TzfSearchKeyAction a) {
  return a == skaGreaterEqual || a == skaGreater || a == skaAnyGreaterEqual || a == skaAnyGreater;
}
bool IsSmallerAction(TzfSearchKeyAction a) {
  return a == skaSmallerEqual || a == skaSmaller || a == skaAnySmallerEqual || a == skaAnySmaller;
}
}  // namespace

// ---- Path ----

std::unique_ptr<TzfBaseIndexPath> TzfStaticKeyBstarTreeIndexPath::NewOfSameClass() const {
  return std::make_unique<TzfStaticKeyBstarTreeIndexPath>(bipIndexEngine);
}

void TzfStaticKeyBstarTreeIndexPath::Assign(const TzfBaseIndexPath& aSource) {
  if (&aSource == this) return;
  TzfBaseIndexPath::Assign(aSource);
  if (auto* s = dynamic_cast<const TzfStaticKeyBstarTreeIndexPath*>(&aSource)) {
    bpipPage = s->bpipPage;
    bpipItem = s->bpipItem;
    bpipIdentCounter = s->bpipIdentCounter;
    bpipLSN = s->bpipLSN;
  }
}

void TzfStaticKeyBstarTreeIndexPath::Clear() {
  TzfBaseIndexPath::Clear();
  bpipPage = 0;
  bpipItem = 0;
  bpipIdentCounter = 0;
  bpipLSN = 0;
}

// ---- Engine ----

uint32_t TzfStaticKeyBstarTreeIndexEngine::NeededUsableBlockSize(uint32_t aKeyLength, bool aDups, bool aDupsNullOnly,
                                                                 bool aCanContainNulls, bool aKeysAreRefs) {
  const uint32_t k = DescKeyLength(aKeyLength);
  const bool refs = aDups && !aKeysAreRefs && !(aDupsNullOnly && !aCanContainNulls);
  const uint32_t ipair = k + (refs ? 8 : 0) + 4;
  const uint32_t lpair = k + (aKeysAreRefs ? 0 : 8);
  return std::max(4 * ipair + 44, 3 * lpair + 40);
}

void TzfStaticKeyBstarTreeIndexEngine::CheckValidFromDescriptor(TzfIndexDescriptor& aDescriptor) {
  TzfBaseIndexEngine::CheckValidFromDescriptor(aDescriptor);
  if (!aDescriptor.idKeyDescriptor) return;
  const TzfIndexEngineParams p = TzfIndexEngineParams::FromDescriptor(aDescriptor);
  const uint32_t need =
      NeededUsableBlockSize(static_cast<uint32_t>(aDescriptor.idKeyDescriptor->GetKeyLength()), p.Dups != idNone,
                            p.Dups == idNull, p.KeyCanContainNulls, p.KeysAreRefs);
  TzfFileDescriptor* file = aDescriptor.GetIndexFile();
  if (!file) return;
  for (uint8_t code = static_cast<uint8_t>(file->fdBlockSize); code <= 4; ++code) {
    file->SetBlockSize(static_cast<TzfBlockSize>(code));
    if (file->GetUsableBlockSize() >= need) return;
  }
  throw EzfStaticKeyBstarTreeIndexEngineException(zfErrMaxKeySizeExceeded,
                                                  u"Maximum key size has been exceeded. Index: #%d %s",
                                                  {static_cast<int64_t>(p.IndexNumber), p.IndexName});
}

TzfStaticKeyBstarTreeIndexEngine::TzfStaticKeyBstarTreeIndexEngine(const TzfIndexEngineParams& aParams,
                                                                   std::unique_ptr<TzfBaseKeyEngine> aKeyEngine,
                                                                   uint32_t aUsableBlockSize, TRandom aRandom)
    : TzfBaseIndexEngine(aParams, std::move(aKeyEngine)), ieRandom(std::move(aRandom)) {
  if (bieIndexNumber < 0 || bieIndexNumber > 255) rtl::RaiseRangeError();
  const uint32_t need = NeededUsableBlockSize(bieKeyEngine->bkeKeyLength, bieDups, bieDupsNullOnly, true, bieKeysAreRefs);
  if (aUsableBlockSize < need || aUsableBlockSize > 65536)
    throw EzfStaticKeyBstarTreeIndexEngineException(zfErrMaxKeySizeExceeded,
                                                    u"Maximum key size has been exceeded. Index: #%d %s",
                                                    {static_cast<int64_t>(bieIndexNumber), bieIndexName});
  ieUsableBlockSize = aUsableBlockSize;
  ieDescKeyLength = static_cast<uint16_t>(DescKeyLength(bieKeyEngine->bkeKeyLength));
  ieAddKeyRefsToKeys = bieDups && !bieKeysAreRefs;
  ieNodeKeyLength = static_cast<uint16_t>(ieDescKeyLength + (ieAddKeyRefsToKeys ? 8 : 0));
  ieSizeOfInternalNodeKeyPair = static_cast<uint16_t>(ieNodeKeyLength + 4);
  ieSizeOfLeafNodeKeyPair = static_cast<uint16_t>(ieDescKeyLength + (bieKeysAreRefs ? 0 : 8));
  ieMaxInternalNodeKeyCount = static_cast<uint16_t>((aUsableBlockSize - 44) / ieSizeOfInternalNodeKeyPair);
  ieMaxLeafNodeKeyCount = static_cast<uint16_t>((aUsableBlockSize - 40) / ieSizeOfLeafNodeKeyPair);
  if (!ieRandom) {
    // One generator per thread, seeded once: an engine is made for every open of a table.
    ieRandom = [] {
      thread_local std::mt19937 gen(std::random_device{}());
      return static_cast<uint16_t>(gen() % 65535);
    };
  }
}

std::unique_ptr<TzfBaseIndexPath> TzfStaticKeyBstarTreeIndexEngine::CreateIndexPath() {
  return std::make_unique<TzfStaticKeyBstarTreeIndexPath>(this);
}

bool TzfStaticKeyBstarTreeIndexEngine::FindKey(TzfIndexNodeStore& aTrans, const uint8_t* aKey, int32_t aFieldCount,
                                               int32_t aPartialLen, int64_t aRefNr, TzfBaseIndexPath& aPath,
                                               TzfSearchKeyAction aAction, TzfBaseFilterEngine* aKeyFilter) {
  TzfStaticKeyBstarTreeIndexPath& path = OwnPath(*this, aPath);
  aKeyFilter = ActiveFilter(aKeyFilter);
  TzfBstarTreeOperation op(*this, aTrans, aFieldCount, aPartialLen);
  if (aTrans.GetRootNode() == zfIndexNoBlock) {
    if (IsGreaterAction(aAction)) {
      path.SetToEof();
      return true;
    }
    if (IsSmallerAction(aAction)) {
      path.SetToBof();
      return true;
    }
    path.Clear();
    return false;
  }
  try {
    return op.SearchKey(aKey, aRefNr, path, aAction, aKeyFilter);
  } catch (...) {
    if (aAction == skaGreaterEqual || aAction == skaGreater || aAction == skaEqualLast ||
        aAction == skaAnyGreaterEqual || aAction == skaAnyGreater)
      path.SetToEof();
    else
      path.SetToBof();
    throw;
  }
}

bool TzfStaticKeyBstarTreeIndexEngine::NextKey(TzfIndexNodeStore& aTrans, TzfBaseIndexPath& aPath,
                                               TzfBaseFilterEngine* aKeyFilter) {
  aKeyFilter = ActiveFilter(aKeyFilter);
  TzfStaticKeyBstarTreeIndexPath& path = OwnPath(*this, aPath);
  if (path.IsEof()) return false;
  try {
    TzfBstarTreeOperation op(*this, aTrans);
    if (path.Position == ippUnknown)
      path.SetToBof();
    else
      op.Validate(path);
    if (op.StepForward(aKeyFilter, path)) return true;
    path.SetToEof();
    return false;
  } catch (...) {
    path.SetToEof();
    throw;
  }
}

bool TzfStaticKeyBstarTreeIndexEngine::PrevKey(TzfIndexNodeStore& aTrans, TzfBaseIndexPath& aPath,
                                               TzfBaseFilterEngine* aKeyFilter) {
  aKeyFilter = ActiveFilter(aKeyFilter);
  TzfStaticKeyBstarTreeIndexPath& path = OwnPath(*this, aPath);
  if (path.IsBof()) return false;
  try {
    TzfBstarTreeOperation op(*this, aTrans);
    if (path.Position == ippUnknown)
      path.SetToEof();
    else
      op.Validate(path);
    if (op.StepBackward(aKeyFilter, path)) return true;
    path.SetToBof();
    return false;
  } catch (...) {
    path.SetToBof();
    throw;
  }
}

void TzfStaticKeyBstarTreeIndexEngine::ValidateIndexPath(TzfIndexNodeStore& aTrans, TzfBaseIndexPath& aPath) {
  TzfStaticKeyBstarTreeIndexPath& path = OwnPath(*this, aPath);
  TzfBstarTreeOperation op(*this, aTrans);
  op.Validate(path);
}

void TzfStaticKeyBstarTreeIndexEngine::GetKeyCount(TzfIndexNodeStore& aTrans, uint32_t& aCount) {
  aCount = aTrans.GetStoredKeyCount();
}

// ---- Operation: node access ----

int64_t TzfBstarTreeOperation::EntryRef(const uint8_t* n, uint32_t i) const {
  if (IsLeaf(n)) {
    const uint8_t* k = LKey(n, i);
    return static_cast<int64_t>(zfGetLE64(E.bieKeysAreRefs ? k : k + E.ieDescKeyLength));
  }
  return E.ieAddKeyRefsToKeys ? static_cast<int64_t>(zfGetLE64(IKey(n, i) + E.ieDescKeyLength)) : 0;
}

bool TzfBstarTreeOperation::NodeFits(const uint8_t* n, uint32_t aBlock) const {
  if (std::memcmp(n + zfIxOffSignature, zfIndexBlockSignature, 4) != 0 || zfGetLE32(n + zfIxOffBlockNumber) != aBlock)
    return false;
  // The stored index number is not checked: a writer that removes an index need not renumber the
  // nodes of the later ones, so a sound file may carry an older number here.
  const uint32_t first = First(n), count = Count(n);
  if (n[zfIxOffKind] == zfIxKindLeaf) return first + count <= E.ieMaxLeafNodeKeyCount;
  if (n[zfIxOffKind] == zfIxKindInternal) return first == 0 && count <= E.ieMaxInternalNodeKeyCount;
  return false;
}

uint8_t* TzfBstarTreeOperation::ReadNode(uint32_t aBlock, bool aForModify, int aExpectLeaf) {
  uint8_t* n = zfReadIndexBlock(S, aBlock, aForModify);
  Held.Add(aBlock, n);
  if (!NodeFits(n, aBlock) || (aExpectLeaf >= 0 && IsLeaf(n) != (aExpectLeaf == 1))) zfRaiseNotAnIndexBlock(S, aBlock);
  return n;
}

uint8_t* TzfBstarTreeOperation::ReadNodeInto(TzfIndexBlockHold& aHold, uint32_t aBlock, int aExpectLeaf) {
  uint8_t* n = zfReadIndexBlock(S, aBlock, false);
  aHold.Set(aBlock, n);
  // Searches never meet an empty node in a sound tree (only a change passes through one).
  if (!NodeFits(n, aBlock) || Count(n) == 0 || (aExpectLeaf >= 0 && IsLeaf(n) != (aExpectLeaf == 1)))
    zfRaiseNotAnIndexBlock(S, aBlock);
  return n;
}

uint8_t* TzfBstarTreeOperation::NewNode(bool aLeaf, uint32_t& aBlock) {
  uint8_t* n = S.NewBlock(aBlock);
  Held.Add(aBlock, n);
  return InitNode(n, aBlock, aLeaf);
}

uint8_t* TzfBstarTreeOperation::InitNode(uint8_t* n, uint32_t aBlock, bool aLeaf) {
  std::memcpy(n + zfIxOffSignature, zfIndexBlockSignature, 4);
  zfPutLE32(n + zfIxOffBlockNumber, aBlock);
  const uint64_t high = (static_cast<uint64_t>(E.ieRandom() % 65535) << 16) | (S.LSN() & 0xFFFF);
  zfPutLE64(n + zfIxOffCounter, high << 32);
  zfPutLE32(n + zfIxOffPrev, zfIndexNoBlock);
  zfPutLE32(n + zfIxOffNext, zfIndexNoBlock);
  SetFirst(n, 0);
  SetCount(n, 0);
  n[zfIxOffKind] = aLeaf ? zfIxKindLeaf : zfIxKindInternal;
  n[zfIxOffIndexNumber] = static_cast<uint8_t>(E.bieIndexNumber);
  S.SetNodeCount(S.GetNodeCount() + 1);
  return n;
}

int TzfBstarTreeOperation::Compare(const uint8_t* n, uint32_t i, TLocate aHow, const uint8_t* aKey, int64_t aRefNr) {
  TzfBaseKeyEngine& k = *E.bieKeyEngine;
  const uint8_t* entry = EntryKey(n, i);
  if (aHow == TLocate::Partial) return k.CompareKey(aKey, entry, F, L);
  int c = k.CompareKey(aKey, entry, 0, 0);
  if (c != 0 || aHow == TLocate::Full || !HasRef(n)) return c;
  if (aHow == TLocate::NullDup && !k.KeyContainsNulls(entry)) return 0;
  const int64_t r = EntryRef(n, i);
  return aRefNr < r ? -1 : (aRefNr > r ? 1 : 0);
}

bool TzfBstarTreeOperation::Locate(const uint8_t* n, TLocate aHow, const uint8_t* aKey, int64_t aRefNr,
                                   int32_t& aSlot) {
  int32_t lo = First(n), hi = First(n) + Count(n) - 1;
  while (lo <= hi) {
    const int32_t mid = (lo + hi) >> 1;
    const int c = Compare(n, static_cast<uint32_t>(mid), aHow, aKey, aRefNr);
    if (c > 0) {
      lo = mid + 1;
    } else if (c < 0) {
      hi = mid - 1;
    } else {
      aSlot = mid;
      return true;
    }
  }
  aSlot = lo;
  return false;
}

// ---- Operation: positioning ----

void TzfBstarTreeOperation::SetPathOn(TPath& aPath, uint32_t aBlock, const uint8_t* aLeaf, int32_t aSlot,
                                      TzfIndexPathPosition aPosition) {
  aPath.bpipPage = aBlock;
  aPath.bpipItem = aSlot;
  aPath.bpipIdentCounter = Counter(aLeaf);
  aPath.bpipLSN = BlockLSN(aLeaf);
  aPath.Position = aPosition;
}

void TzfBstarTreeOperation::TakeEntry(TPath& aPath, uint32_t aBlock, const uint8_t* aLeaf, int32_t aSlot) {
  SetPathOn(aPath, aBlock, aLeaf, aSlot, ippOnKey);
  aPath.RefNr = LeafRef(aLeaf, static_cast<uint32_t>(aSlot));
  E.bieKeyEngine->CopyKey(LKey(aLeaf, static_cast<uint32_t>(aSlot)), aPath.Key);
  aPath.KeyValid = true;
  aPath.Deleted = false;
}

bool TzfBstarTreeOperation::SearchKey(const uint8_t* aKey, int64_t aRefNr, TPath& aPath, TzfSearchKeyAction aAction,
                                      TzfBaseFilterEngine* aFilter) {
  const bool useRef = E.ieAddKeyRefsToKeys && aRefNr != 0 && F == 0 && L == 0;
  const TLocate how = useRef ? TLocate::WithRef : TLocate::Partial;
  aPath.Clear();
  const uint32_t root = S.GetRootNode();
  if (root == zfIndexNoBlock) return false;
  TzfIndexBlockHold hold(S);
  const uint8_t* n = ReadNodeInto(hold, root);
  int32_t slot = 0;
  for (int32_t depth = 0; !IsLeaf(n); ++depth) {
    if (depth >= zfBstarTreeMaxDepth) zfRaiseNotAnIndexBlock(S, hold.Block());
    Locate(n, how, aKey, aRefNr, slot);
    n = ReadNodeInto(hold, Ptr(n, static_cast<uint32_t>(slot)));
  }
  const bool found = Locate(n, how, aKey, aRefNr, slot);
  const int32_t first = First(n), last = first + Count(n) - 1;
  if (found) {
    TakeEntry(aPath, hold.Block(), n, slot);
    hold.Release();
    const bool walk = aAction == skaGreater || aAction == skaSmaller || aAction == skaAnyGreater ||
                      aAction == skaAnySmaller || (E.bieDups && !useRef) || F != 0 || L != 0;
    if (walk && aAction != skaAnyEqual && aAction != skaAnyGreaterEqual && aAction != skaAnySmallerEqual) {
      const bool backward = aAction == skaEqualFirst || aAction == skaGreaterEqual || aAction == skaSmaller ||
                            aAction == skaAnySmaller;
      while ((backward ? StepBackward(nullptr, aPath) : StepForward(nullptr, aPath)) &&
             E.bieKeyEngine->CompareKey(aKey, aPath.Key, F, L) == 0) {
      }
      if (aAction == skaEqualFirst || aAction == skaGreaterEqual) {
        StepForward(aFilter, aPath);
      } else if (aAction == skaEqualLast || aAction == skaSmallerEqual) {
        StepBackward(aFilter, aPath);
      } else if (aPath.IsOnKey() && !Passes(aFilter, aPath.Key)) {
        // The key the walk ended on must pass the filter like every other key the search lands on.
        if (backward)
          StepBackward(aFilter, aPath);
        else
          StepForward(aFilter, aPath);
      }
    }
    return true;
  }
  if (slot <= last) {
    SetPathOn(aPath, hold.Block(), n, slot, ippOnCrackBefore);
  } else {
    slot = last;
    SetPathOn(aPath, hold.Block(), n, slot, ippOnCrackAfter);
  }
  aPath.RefNr = LeafRef(n, static_cast<uint32_t>(slot));
  E.bieKeyEngine->CopyKey(LKey(n, static_cast<uint32_t>(slot)), aPath.Key);
  aPath.KeyValid = true;
  hold.Release();
  if (IsGreaterAction(aAction))
    StepForward(aFilter, aPath);
  else if (IsSmallerAction(aAction))
    StepBackward(aFilter, aPath);
  return !aPath.IsOnCrack();
}

uint8_t* TzfBstarTreeOperation::ChainLeaf(TzfIndexBlockHold& aHold, uint32_t aBlock, uint32_t aFrom, bool aForward) {
  // A walk visits each leaf once; more leaves than the index has nodes means a cycle in the chain.
  if (++LeavesWalked > std::max<uint32_t>(S.GetNodeCount(), 1)) zfRaiseNotAnIndexBlock(S, aBlock);
  // Every move to another leaf is where a long walk (a filter passing few keys, a long run of equal
  // keys, a scan) meets the thread's cancel flag and deadline (15461).
  zfCheckTimeout();
  uint8_t* n = ReadNodeInto(aHold, aBlock, 1);
  if ((aForward ? Prev(n) : Next(n)) != aFrom) zfRaiseNotAnIndexBlock(S, aBlock);
  return n;
}

bool TzfBstarTreeOperation::StepForward(TzfBaseFilterEngine* aFilter, TPath& aPath) {
  if (aPath.IsEof()) return false;
  TzfIndexBlockHold hold(S);
  const uint8_t* n = nullptr;
  uint32_t block = 0;
  int32_t slot = 0;
  bool takeSlot = false;
  LeavesWalked = 0;
  if (aPath.IsBof()) {
    const uint32_t root = S.GetRootNode();
    if (root == zfIndexNoBlock) return false;
    n = ReadNodeInto(hold, root);
    for (int32_t depth = 0; !IsLeaf(n); ++depth) {
      if (depth >= zfBstarTreeMaxDepth) zfRaiseNotAnIndexBlock(S, hold.Block());
      n = ReadNodeInto(hold, Ptr(n, 0));
    }
    block = hold.Block();
    slot = First(n);
    takeSlot = true;
  } else {
    if (!aPath.IsOnCrack() && !aPath.IsOnKey()) rtl::AssertionFailure(kUnit, __LINE__);
    block = aPath.bpipPage;
    n = ReadNodeInto(hold, block, 1);
    slot = aPath.bpipItem;
    takeSlot = aPath.Position == ippOnCrackBefore;
  }
  for (;;) {
    const int32_t first = First(n), last = first + Count(n) - 1;
    if (!(takeSlot && slot >= first && slot <= last)) {
      const int32_t next = std::max(slot + 1, first);
      if (next <= last) {
        slot = next;
      } else {
        const uint32_t nb = Next(n);
        if (nb == zfIndexNoBlock) {
          aPath.SetToEof();
          return false;
        }
        n = ChainLeaf(hold, nb, block, true);
        block = nb;
        slot = First(n);
      }
    }
    takeSlot = false;
    TakeEntry(aPath, block, n, slot);
    if (Passes(aFilter, aPath.Key)) return true;
  }
}

bool TzfBstarTreeOperation::StepBackward(TzfBaseFilterEngine* aFilter, TPath& aPath) {
  if (aPath.IsBof()) return false;
  TzfIndexBlockHold hold(S);
  const uint8_t* n = nullptr;
  uint32_t block = 0;
  int32_t slot = 0;
  bool takeSlot = false;
  LeavesWalked = 0;
  if (aPath.IsEof()) {
    const uint32_t root = S.GetRootNode();
    if (root == zfIndexNoBlock) return false;
    n = ReadNodeInto(hold, root);
    for (int32_t depth = 0; !IsLeaf(n); ++depth) {
      if (depth >= zfBstarTreeMaxDepth) zfRaiseNotAnIndexBlock(S, hold.Block());
      n = ReadNodeInto(hold, Ptr(n, Count(n)));
    }
    block = hold.Block();
    slot = First(n) + Count(n) - 1;
    takeSlot = true;
  } else {
    if (!aPath.IsOnCrack() && !aPath.IsOnKey()) rtl::AssertionFailure(kUnit, __LINE__);
    block = aPath.bpipPage;
    n = ReadNodeInto(hold, block, 1);
    slot = aPath.bpipItem;
    takeSlot = aPath.Position == ippOnCrackAfter;
  }
  for (;;) {
    const int32_t first = First(n), last = first + Count(n) - 1;
    if (!(takeSlot && slot >= first && slot <= last)) {
      const int32_t prev = std::min(slot - 1, last);
      if (prev >= first) {
        slot = prev;
      } else {
        const uint32_t pb = Prev(n);
        if (pb == zfIndexNoBlock) {
          aPath.SetToBof();
          return false;
        }
        n = ChainLeaf(hold, pb, block, false);
        block = pb;
        slot = First(n) + Count(n) - 1;
      }
    }
    takeSlot = false;
    TakeEntry(aPath, block, n, slot);
    if (Passes(aFilter, aPath.Key)) return true;
  }
}

void TzfBstarTreeOperation::RebuildKey(TPath& aPath) {
  TzfBaseKeyEngine& k = *E.bieKeyEngine;
  std::vector<uint8_t> record(E.bieRecordEngine->RecordLength());
  E.bieRecordEngine->ReadRecord(aPath.RefNr, record.data());
  std::vector<uint8_t> key(k.bkeKeyLength);
  if (const uint32_t r = k.BuildKey(record.data(), key.data(), aPath.RefNr, true); r != 0)
    throw EzfStaticKeyBstarTreeIndexEngineException(r);
  k.CopyKey(key.data(), aPath.Key);
  aPath.KeyValid = true;
}

void TzfBstarTreeOperation::Validate(TPath& aPath) {
  if (!aPath.IsOnCrack() && !aPath.IsOnKey()) return;
  // A path that stands on a record without its key (placed by reference, or on a record whose key
  // could not be built then) gets the key from the record; the path is unchanged when that fails.
  if (!aPath.KeyValid && aPath.RefNr != 0 && E.bieRecordEngine) RebuildKey(aPath);
  // Fast path: the leaf the path points into, when it is still a leaf of this index (since the
  // path was last used its block may have been freed and taken by another file of the table).
  if (uint8_t* own = aPath.bpipPage != 0 && S.ValidBlock(aPath.bpipPage) ? S.GetOwnBlock(aPath.bpipPage) : nullptr) {
    TzfIndexBlockHold hold(S);
    hold.Set(aPath.bpipPage, own);
    const uint8_t* n = own;
    if (NodeFits(n, aPath.bpipPage) && n[zfIxOffIndexNumber] == static_cast<uint8_t>(E.bieIndexNumber) && IsLeaf(n) &&
        Count(n) > 0) {
      if (Counter(n) == aPath.bpipIdentCounter && BlockLSN(n) == aPath.bpipLSN) return;
      const uint64_t now = static_cast<uint64_t>(Counter(n)), then = static_cast<uint64_t>(aPath.bpipIdentCounter);
      if (aPath.KeyValid && (now >> 32) == (then >> 32) && static_cast<uint32_t>(now) > static_cast<uint32_t>(then)) {
        int32_t slot = 0;
        const bool found =
            Locate(n, E.ieAddKeyRefsToKeys ? TLocate::WithRef : TLocate::Full, aPath.Key, aPath.RefNr, slot);
        const int32_t first = First(n), last = first + Count(n) - 1;
        const bool sameEntry = found && (E.bieKeysAreRefs || LeafRef(n, slot) == aPath.RefNr);
        if (sameEntry || (!found && slot > first && slot < last)) {
          SetPathOn(aPath, aPath.bpipPage, n, slot, aPath.Position);
          if (sameEntry) {
            aPath.RefNr = LeafRef(n, static_cast<uint32_t>(slot));
            E.bieKeyEngine->CopyKey(LKey(n, static_cast<uint32_t>(slot)), aPath.Key);
          } else {
            aPath.Deleted = true;
            if (aPath.Position == ippOnCrackAfter)
              aPath.bpipItem = slot - 1;
            else if (aPath.Position == ippOnKey)
              aPath.Position = ippOnCrackBefore;
          }
          return;
        }
      }
    }
  }
  // Full search.
  if (S.GetRootNode() == zfIndexNoBlock) {
    aPath.SetToBof();
    return;
  }
  if (!aPath.KeyValid) {
    aPath.Clear();
    return;
  }
  const TzfIndexPathPosition savedPosition = aPath.Position;
  const bool savedDeleted = aPath.Deleted;
  const int64_t savedRef = aPath.RefNr;
  std::vector<uint8_t> savedKey(E.bieKeyEngine->bkeKeyLength);
  E.bieKeyEngine->CopyKey(aPath.Key, savedKey.data());
  bool found = SearchKey(savedKey.data(), savedRef, aPath, skaEqualFirst, nullptr);
  if (found && !E.bieKeysAreRefs && aPath.RefNr != savedRef) {
    // The same key under another record (a unique index): the path's own entry is gone.
    found = false;
    aPath.Position = savedRef < aPath.RefNr ? ippOnCrackBefore : ippOnCrackAfter;
  }
  if (found) {
    aPath.Position = savedPosition;
    aPath.Deleted = savedDeleted;
    return;
  }
  if (savedPosition == ippOnCrackBefore && (aPath.Position == ippOnCrackAfter || aPath.IsOnKey())) {
    StepForward(nullptr, aPath);
    if (aPath.IsOnKey()) aPath.Position = ippOnCrackBefore;
  } else if (savedPosition == ippOnCrackAfter && (aPath.Position == ippOnCrackBefore || aPath.IsOnKey())) {
    StepBackward(nullptr, aPath);
    if (aPath.IsOnKey()) aPath.Position = ippOnCrackAfter;
  }
  if (aPath.IsOnCrack()) {
    aPath.Deleted = true;
    aPath.RefNr = savedRef;
    E.bieKeyEngine->CopyKey(savedKey.data(), aPath.Key);
    aPath.KeyValid = true;
  }
}

}  // namespace zf
