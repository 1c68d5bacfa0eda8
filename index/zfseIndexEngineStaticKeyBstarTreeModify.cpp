// Changes of the B*-tree: insert with leaf window and splits, delete with separator repair,
// borrowing, merging and root collapse, and emptying the whole index.
#include <vector>

#include "index/zfseIndexEngineStaticKeyBstarTreeOp.h"

namespace zf {

namespace {
constexpr const char* kUnit = "zfseIndexEngineStaticKeyBstarTreeModify";

TzfStaticKeyBstarTreeIndexPath* OwnPathOrNone(TzfStaticKeyBstarTreeIndexEngine& aEngine, TzfBaseIndexPath* aPath) {
  auto* p = dynamic_cast<TzfStaticKeyBstarTreeIndexPath*>(aPath);
  return p && p->bipIndexEngine == &aEngine ? p : nullptr;
}
}  // namespace

// ---- Engine ----

bool TzfStaticKeyBstarTreeIndexEngine::InsertKey(TzfIndexNodeStore& aTrans, const uint8_t* aKey, int64_t aRefNr,
                                                 TzfBaseIndexPath* aPath) {
  TzfStaticKeyBstarTreeIndexPath* path = OwnPathOrNone(*this, aPath);
  TzfBstarTreeOperation op(*this, aTrans);
  if (aTrans.GetRootNode() == zfIndexNoBlock) {
    uint32_t block = 0;
    uint8_t* n = op.NewNode(true, block);
    aTrans.SetRootNode(block);
    const uint32_t slot = ieMaxLeafNodeKeyCount >> 1;
    TzfBstarTreeOperation::SetFirst(n, slot);
    op.WriteLeafEntry(n, slot, aKey, aRefNr);
    TzfBstarTreeOperation::SetCount(n, 1);
    if (path) {
      path->Clear();
      op.TakeEntry(*path, block, n, static_cast<int32_t>(slot));
    }
    aTrans.SetStoredKeyCount(1);
    return true;
  }
  const bool inserted = op.InsertIntoTree(path, aRefNr, aKey);
  if (inserted) {
    if (path && !path->KeyValid) rtl::AssertionFailure(kUnit, __LINE__);
    aTrans.SetStoredKeyCount(aTrans.GetStoredKeyCount() + 1);
  }
  return inserted;
}

bool TzfStaticKeyBstarTreeIndexEngine::DeleteKey(TzfIndexNodeStore& aTrans, const uint8_t* aKey, int64_t aRefNr,
                                                 TzfBaseIndexPath* aPath) {
  if (aTrans.GetRootNode() == zfIndexNoBlock) return false;
  TzfStaticKeyBstarTreeIndexPath* given = OwnPathOrNone(*this, aPath);
  TzfBstarTreeOperation op(*this, aTrans);
  std::unique_ptr<TzfBaseIndexPath> temp;
  TzfStaticKeyBstarTreeIndexPath* path = given;
  bool found = false;
  if (given && given->IsOnKey() && given->RefNr == aRefNr && given->KeyValid &&
      bieKeyEngine->CompareKey(aKey, given->Key, 0, 0) == 0) {
    op.Validate(*given);
    found = given->IsOnKey();
  } else {
    if (!path) {
      temp = CreateIndexPath();
      path = static_cast<TzfStaticKeyBstarTreeIndexPath*>(temp.get());
    }
    found = op.SearchKey(aKey, aRefNr, *path, skaEqualFirst, nullptr);
  }
  // The entry found must be the record's own: an equal key of another record stays.
  if (found && aRefNr != 0 && path->RefNr != aRefNr) found = false;
  if (!found) return false;
  op.DeleteEntry(path, path->bpipItem, path->bpipPage);
  if (path->IsOnCrack()) {
    // Later changes of this operation may have touched the path's leaf again.
    const uint8_t* n = op.ReadNode(path->bpipPage, false, 1);
    path->bpipIdentCounter = TzfBstarTreeOperation::Counter(n);
    path->bpipLSN = TzfBstarTreeOperation::BlockLSN(n);
  }
  op.Held.Release();
  aTrans.SetStoredKeyCount(aTrans.GetStoredKeyCount() - 1);
  return true;
}

void TzfStaticKeyBstarTreeIndexEngine::DeleteAllKeys(TzfIndexNodeStore& aTrans) {
  TzfBstarTreeOperation op(*this, aTrans);
  const uint32_t root = aTrans.GetRootNode();
  aTrans.SetRootNode(zfIndexNoBlock);
  aTrans.SetNodeCount(0);
  aTrans.SetStoredKeyCount(0);
  std::set<uint32_t> seen;
  if (root != zfIndexNoBlock) op.FreeSubtree(root, 0, seen);
}

// ---- Operation: helpers ----

void TzfBstarTreeOperation::DiscardNode(uint32_t aBlock, uint8_t* n) {
  // A freed node must not pass for a node any more, whatever the file does with the block later:
  // a path that still points at it then searches afresh instead of trusting stale entries.
  n[zfIxOffKind] = zfIxKindHeader;
  SetCount(n, 0);
  S.DeleteBlock(aBlock);
}

void TzfBstarTreeOperation::MoveSlots(uint8_t* n, uint32_t aFrom, uint32_t aTo, uint32_t aCount) const {
  if (aCount && aFrom != aTo) std::memmove(LKey(n, aTo), LKey(n, aFrom), aCount * E.ieSizeOfLeafNodeKeyPair);
}

void TzfBstarTreeOperation::CopySeparator(const uint8_t* aLeaf, uint32_t aSlot, uint8_t* aTo) const {
  std::memcpy(aTo, LKey(aLeaf, aSlot), E.ieNodeKeyLength);
}

void TzfBstarTreeOperation::WriteLeafEntry(uint8_t* aLeaf, uint32_t aSlot, const uint8_t* aKey, int64_t aRefNr) const {
  uint8_t* k = LKey(aLeaf, aSlot);
  std::memset(k, 0, E.ieDescKeyLength);
  E.bieKeyEngine->CopyKey(aKey, k);
  if (!E.bieKeysAreRefs) zfPutLE64(k + E.ieDescKeyLength, static_cast<uint64_t>(aRefNr));
}

// ---- Operation: insert ----

bool TzfBstarTreeOperation::InsertIntoTree(TPath* aPath, int64_t aRefNr, const uint8_t* aKey) {
  if (aPath) aPath->Clear();
  struct TLevel {
    uint32_t Block;
    int32_t Slot;
  };
  std::vector<TLevel> stack;
  const TLocate how = E.ieAddKeyRefsToKeys ? TLocate::WithRef : TLocate::Full;
  uint32_t block = S.GetRootNode();
  const uint8_t* n = ReadNode(block, false);
  while (!IsLeaf(n)) {
    if (stack.size() >= static_cast<size_t>(zfBstarTreeMaxDepth) || Count(n) == 0) zfRaiseNotAnIndexBlock(S, block);
    int32_t slot = 0;
    Locate(n, how, aKey, aRefNr, slot);
    stack.push_back({block, slot});
    block = Ptr(n, static_cast<uint32_t>(slot));
    n = ReadNode(block, false);
  }
  if (Count(n) == 0) zfRaiseNotAnIndexBlock(S, block);

  // Duplicate check; nothing is changed before it passed.
  int32_t s = 0;
  bool duplicate = false;
  if (E.ieAddKeyRefsToKeys && E.bieDupsNullOnly) {
    duplicate = Locate(n, TLocate::NullDup, aKey, aRefNr, s);
    if (!duplicate && !E.bieKeyEngine->KeyContainsNulls(aKey)) {
      uint32_t neighbour = zfIndexNoBlock;
      if (s == First(n))
        neighbour = Prev(n);
      else if (s == First(n) + Count(n))
        neighbour = Next(n);
      int32_t s2 = 0;
      if (neighbour != zfIndexNoBlock && Locate(ReadNode(neighbour, false, 1), TLocate::NullDup, aKey, aRefNr, s2))
        duplicate = true;
    }
  } else {
    duplicate = Locate(n, E.ieAddKeyRefsToKeys ? TLocate::WithRef : TLocate::Full, aKey, aRefNr, s);
  }
  if (duplicate) return false;

  uint8_t* leaf = ReadNode(block, true, 1);
  const uint32_t maxLeaf = E.ieMaxLeafNodeKeyCount;
  if (Count(leaf) < maxLeaf) {
    InsertIntoLeaf(block, leaf, aKey, aPath, s, aRefNr);
    return true;
  }

  // Split of a full leaf (its window then starts at slot 0).
  uint32_t m = maxLeaf >> 1;
  if (static_cast<uint32_t>(s) > m && (maxLeaf & 1)) ++m;
  uint32_t newBlock = 0;
  uint8_t* nn = NewNode(true, newBlock);
  const uint32_t nf = m >> 1;
  std::memcpy(LKey(nn, nf), LKey(leaf, m), (maxLeaf - m) * E.ieSizeOfLeafNodeKeyPair);
  SetFirst(nn, nf);
  SetCount(nn, maxLeaf - m);
  SetCount(leaf, m);
  const uint32_t after = Next(leaf);
  zfPutLE32(nn + zfIxOffNext, after);
  zfPutLE32(nn + zfIxOffPrev, block);
  zfPutLE32(leaf + zfIxOffNext, newBlock);
  if (after != zfIndexNoBlock) zfPutLE32(ReadNode(after, true, 1) + zfIxOffPrev, newBlock);
  const uint32_t su = static_cast<uint32_t>(s);
  if (su > m)
    InsertIntoLeaf(newBlock, nn, aKey, aPath, static_cast<int32_t>(su - m + nf), aRefNr);
  else if (su == m && m < maxLeaf - m)
    InsertIntoLeaf(block, leaf, aKey, aPath, s, aRefNr);
  else if (su == m)
    InsertIntoLeaf(newBlock, nn, aKey, aPath, static_cast<int32_t>(nf), aRefNr);
  else
    InsertIntoLeaf(block, leaf, aKey, aPath, s, aRefNr);
  const uint32_t minLeaf = (maxLeaf + 1) >> 1;
  if (Count(leaf) < minLeaf || Count(nn) < minLeaf) rtl::AssertionFailure(kUnit, __LINE__);

  // Carry the separator up.
  const uint32_t nkl = E.ieNodeKeyLength, ipair = E.ieSizeOfInternalNodeKeyPair, maxInt = E.ieMaxInternalNodeKeyCount;
  std::vector<uint8_t> sep(nkl);
  CopySeparator(leaf, First(leaf) + Count(leaf) - 1, sep.data());
  uint32_t left = block, right = newBlock;
  std::vector<uint8_t> scratch;
  for (;;) {
    if (stack.empty()) {
      uint32_t rootBlock = 0;
      uint8_t* r = NewNode(false, rootBlock);
      SetPtr(r, 0, left);
      std::memcpy(IKey(r, 0), sep.data(), nkl);
      SetPtr(r, 1, right);
      SetCount(r, 1);
      S.SetRootNode(rootBlock);
      return true;
    }
    const TLevel level = stack.back();
    stack.pop_back();
    uint8_t* pn = ReadNode(level.Block, true, 0);
    const uint32_t count = Count(pn), i = static_cast<uint32_t>(level.Slot);
    if (i > count || Ptr(pn, i) != left) zfRaiseNotAnIndexBlock(S, level.Block);
    if (count < maxInt) {
      std::memmove(IKey(pn, i + 1), IKey(pn, i), (count - i) * ipair);
      std::memcpy(IKey(pn, i), sep.data(), nkl);
      SetPtr(pn, i + 1, right);
      SetCount(pn, count + 1);
      return true;
    }
    // Full parent: insert into a scratch copy holding maxInt + 1 keys, then halve it.
    scratch.assign(E.ieUsableBlockSize + ipair, 0);
    uint8_t* sc = scratch.data();
    std::memcpy(sc + zfIxHeaderSize, pn + zfIxHeaderSize, maxInt * ipair + 4);
    std::memmove(IKey(sc, i + 1), IKey(sc, i), (count - i) * ipair);
    std::memcpy(IKey(sc, i), sep.data(), nkl);
    SetPtr(sc, i + 1, right);
    const uint32_t half = maxInt >> 1;
    uint32_t siblingBlock = 0;
    uint8_t* sib = NewNode(false, siblingBlock);
    std::memcpy(pn + zfIxHeaderSize, sc + zfIxHeaderSize, half * ipair + 4);
    SetCount(pn, half);
    std::memcpy(sib + zfIxHeaderSize, sc + E.TreePointerOffset(half + 1), (maxInt - half) * ipair + 4);
    SetCount(sib, maxInt - half);
    std::memcpy(sep.data(), IKey(sc, half), nkl);
    left = level.Block;
    right = siblingBlock;
  }
}

void TzfBstarTreeOperation::InsertIntoLeaf(uint32_t aBlock, uint8_t* aLeaf, const uint8_t* aKey, TPath* aPath,
                                           int32_t aSlot, int64_t aRefNr) {
  const uint32_t maxLeaf = E.ieMaxLeafNodeKeyCount;
  uint32_t first = First(aLeaf);
  const uint32_t count = Count(aLeaf);
  uint32_t s = static_cast<uint32_t>(aSlot);
  const uint32_t mid = first + (count >> 1);
  if (s <= mid && first > 0) {
    MoveSlots(aLeaf, first, first - 1, s - first);
    --s;
    --first;
  } else if (s <= mid) {
    const uint32_t f = (maxLeaf - (count + 1)) >> 1;
    MoveSlots(aLeaf, s, s + f + 1, count - s);
    MoveSlots(aLeaf, 0, f, s);
    s += f;
    first = f;
  } else if (first + count < maxLeaf) {
    MoveSlots(aLeaf, s, s + 1, first + count - s);
  } else {
    const uint32_t f = (maxLeaf - (count + 1)) >> 1;
    if (f >= first) rtl::AssertionFailure(kUnit, __LINE__);
    MoveSlots(aLeaf, first, f, s - first);
    if (first - f != 1) MoveSlots(aLeaf, s, s - (first - f - 1), maxLeaf - s);
    s -= first - f;
    first = f;
  }
  SetFirst(aLeaf, first);
  WriteLeafEntry(aLeaf, s, aKey, aRefNr);
  SetCount(aLeaf, count + 1);
  if (first + count + 1 > maxLeaf) rtl::AssertionFailure(kUnit, __LINE__);
  if (aPath) TakeEntry(*aPath, aBlock, aLeaf, static_cast<int32_t>(s));
}

// ---- Operation: delete ----

bool TzfBstarTreeOperation::FindParentNode(int32_t& aSlot, uint32_t& aParent, int64_t aRefNr, const uint8_t* aKey,
                                           uint32_t aTarget) {
  uint32_t block = S.GetRootNode();
  if (block == aTarget) return false;
  const TLocate how = E.ieAddKeyRefsToKeys ? TLocate::WithRef : TLocate::Full;
  for (int32_t depth = 0; depth < zfBstarTreeMaxDepth; ++depth) {
    const uint8_t* n = ReadNode(block, false);
    if (IsLeaf(n)) break;
    int32_t slot = 0;
    Locate(n, how, aKey, aRefNr, slot);
    const uint32_t child = Ptr(n, static_cast<uint32_t>(slot));
    if (child == aTarget) {
      aSlot = slot;
      aParent = block;
      return true;
    }
    block = child;
  }
  zfRaiseNotAnIndexBlock(S, aTarget);  // the node is not where its entries lead
}

void TzfBstarTreeOperation::DeleteEntry(TPath* aPath, int32_t aSlot, uint32_t aBlock) {
  uint8_t* n = ReadNode(aBlock, true);
  const bool leaf = IsLeaf(n);
  const uint32_t ipair = E.ieSizeOfInternalNodeKeyPair, nkl = E.ieNodeKeyLength;
  uint32_t first = First(n);
  uint32_t count = Count(n);
  const uint32_t s = static_cast<uint32_t>(aSlot);
  if (count == 0 || s < first || s >= first + count) zfRaiseNotAnIndexBlock(S, aBlock);
  const uint32_t last = first + count - 1;
  const bool wasLast = s == last;
  uint32_t crackSlot = s;
  if (!wasLast) {
    if (leaf && s < first + (count >> 1)) {
      MoveSlots(n, first, first + 1, s - first);
      SetFirst(n, ++first);
      crackSlot = s + 1;
    } else if (leaf) {
      MoveSlots(n, s + 1, s, last - s);
    } else {
      std::memmove(IKey(n, s), IKey(n, s + 1), (count - 1 - s) * ipair);
    }
  }
  SetCount(n, --count);
  const uint32_t root = S.GetRootNode();
  const bool isRoot = aBlock == root;

  // Separator repair after removing a leaf's last entry (still in the slot behind the window).
  if (leaf && !isRoot && wasLast && count > 0) {
    std::vector<uint8_t> removed(LKey(n, s), LKey(n, s) + E.ieDescKeyLength);
    const int64_t removedRef = LeafRef(n, s);
    int32_t i = 0;
    uint32_t parent = 0;
    if (FindParentNode(i, parent, removedRef, removed.data(), aBlock)) {
      const uint8_t* pn = ReadNode(parent, false, 0);
      uint32_t node = parent;
      while (static_cast<uint32_t>(i) == Count(pn) && node != root) {
        if (!FindParentNode(i, node, removedRef, removed.data(), node)) break;
        pn = ReadNode(node, false, 0);
      }
      if (static_cast<uint32_t>(i) < Count(pn) &&
          (node == parent || E.bieKeyEngine->CompareKey(IKey(pn, static_cast<uint32_t>(i)), removed.data(), 0, 0) == 0))
        CopySeparator(n, first + count - 1, IKey(ReadNode(node, true, 0), static_cast<uint32_t>(i)));
    }
  }

  // A path goes to the crack at the removed place.
  if (aPath && leaf && count > 0) {
    SetPathOn(*aPath, aBlock, n, static_cast<int32_t>(wasLast ? s - 1 : crackSlot),
              wasLast ? ippOnCrackAfter : ippOnCrackBefore);
    aPath->Deleted = true;
  }

  const uint32_t maxCount = leaf ? E.ieMaxLeafNodeKeyCount : E.ieMaxInternalNodeKeyCount;
  if (count >= (maxCount + 1) >> 1) return;
  // Centres the aCount keys of leaf aNode (from aFirst) so that aAdded more fit after them; the
  // path's item follows when the path stands on that leaf.
  auto centreLeaf = [&](uint8_t* aNode, uint32_t& aFirst, uint32_t aCount, uint32_t aAdded, bool aPathHere) {
    const uint32_t f = (maxCount - aAdded - aCount) >> 1;
    MoveSlots(aNode, aFirst, f, aCount);
    if (aPathHere) aPath->bpipItem += static_cast<int32_t>(f) - static_cast<int32_t>(aFirst);
    aFirst = f;
    SetFirst(aNode, f);
  };
  if (isRoot) {
    if (count > 0) return;
    if (leaf) {
      S.SetRootNode(zfIndexNoBlock);
      if (S.GetNodeCount() != 1) rtl::AssertionFailure(kUnit, __LINE__);
      S.SetNodeCount(0);
      DiscardNode(aBlock, n);
      if (aPath) aPath->SetToBof();
    } else {
      const uint32_t child = Ptr(n, 0);
      S.SetRootNode(child);
      DiscardNode(aBlock, n);
      S.SetNodeCount(S.GetNodeCount() - 1);
      uint8_t* r = ReadNode(child, true);
      zfPutLE32(r + zfIxOffPrev, zfIndexNoBlock);
      zfPutLE32(r + zfIxOffNext, zfIndexNoBlock);
    }
    return;
  }
  if (count == 0) zfRaiseNotAnIndexBlock(S, aBlock);  // a node other than the root below its minimum

  // Underflow: the parent through the node's last entry, then a sibling.
  std::vector<uint8_t> lastKey(E.ieDescKeyLength);
  int64_t lastRef = 0;
  if (leaf) {
    std::memcpy(lastKey.data(), LKey(n, first + count - 1), lastKey.size());
    lastRef = LeafRef(n, first + count - 1);
  } else {
    std::memcpy(lastKey.data(), IKey(n, count - 1), lastKey.size());
    lastRef = EntryRef(n, count - 1);
  }
  int32_t pi = 0;
  uint32_t parent = 0;
  if (!FindParentNode(pi, parent, lastRef, lastKey.data(), aBlock)) zfRaiseNotAnIndexBlock(S, aBlock);
  uint8_t* pn = ReadNode(parent, true, 0);
  const uint32_t i = static_cast<uint32_t>(pi);
  if (Ptr(pn, i) != aBlock || (i == 0 && Count(pn) == 0)) zfRaiseNotAnIndexBlock(S, parent);
  const bool fromLeft = i >= 1;
  const uint32_t siblingBlock = fromLeft ? Ptr(pn, i - 1) : Ptr(pn, i + 1);
  uint8_t* sn = ReadNode(siblingBlock, true, leaf ? 1 : 0);
  const uint32_t sc = Count(sn);
  const bool pathHere = aPath && aPath->IsOnCrack() && aPath->bpipPage == aBlock;

  if (leaf && sc > (maxCount + 1) >> 1) {
    const uint32_t move = ((sc + count) >> 1) - count;
    const uint32_t sf = First(sn);
    if (fromLeft) {
      if (first < move) {
        MoveSlots(n, first, move, count);
        if (pathHere) aPath->bpipItem += static_cast<int32_t>(move - first);
        first = move;
      }
      std::memcpy(LKey(n, first - move), LKey(sn, sf + sc - move), move * E.ieSizeOfLeafNodeKeyPair);
      SetFirst(n, first - move);
      SetCount(n, count + move);
      SetCount(sn, sc - move);
      CopySeparator(sn, sf + sc - move - 1, IKey(pn, i - 1));
    } else {
      if (maxCount - count - first < move) centreLeaf(n, first, count, move, pathHere);
      std::memcpy(LKey(n, first + count), LKey(sn, sf), move * E.ieSizeOfLeafNodeKeyPair);
      SetCount(n, count + move);
      CopySeparator(n, first + count + move - 1, IKey(pn, i));
      SetFirst(sn, sf + move);
      SetCount(sn, sc - move);
    }
    return;
  }
  if (!leaf && sc > (maxCount + 1) >> 1) {
    if (fromLeft) {
      std::memmove(n + zfIxHeaderSize + ipair, n + zfIxHeaderSize, count * ipair + 4);
      SetPtr(n, 0, Ptr(sn, sc));
      std::memcpy(IKey(n, 0), IKey(pn, i - 1), nkl);
      std::memcpy(IKey(pn, i - 1), IKey(sn, sc - 1), nkl);
    } else {
      SetPtr(n, count + 1, Ptr(sn, 0));
      std::memcpy(IKey(n, count), IKey(pn, i), nkl);
      std::memcpy(IKey(pn, i), IKey(sn, 0), nkl);
      std::memmove(sn + zfIxHeaderSize, sn + zfIxHeaderSize + ipair, (sc - 1) * ipair + 4);
    }
    SetCount(n, count + 1);
    SetCount(sn, sc - 1);
    return;
  }

  // Merge the right node into the left one.
  const uint32_t leftBlock = fromLeft ? siblingBlock : aBlock, rightBlock = fromLeft ? aBlock : siblingBlock;
  uint8_t* ln = fromLeft ? sn : n;
  uint8_t* rn = fromLeft ? n : sn;
  const uint32_t j = fromLeft ? i : i + 1;
  const uint32_t lc = Count(ln), rc = Count(rn);
  if (leaf) {
    if (lc + rc > maxCount) return;
    uint32_t lf = First(ln);
    const uint32_t rf = First(rn);
    const bool pathLeft = aPath && aPath->IsOnCrack() && aPath->bpipPage == leftBlock;
    if (lf + lc + rc > maxCount) centreLeaf(ln, lf, lc, rc, pathLeft);
    std::memcpy(LKey(ln, lf + lc), LKey(rn, rf), rc * E.ieSizeOfLeafNodeKeyPair);
    SetCount(ln, lc + rc);
    const uint32_t after = Next(rn);
    zfPutLE32(ln + zfIxOffNext, after);
    if (after != zfIndexNoBlock) zfPutLE32(ReadNode(after, true, 1) + zfIxOffPrev, leftBlock);
    if (aPath && aPath->IsOnCrack() && aPath->bpipPage == rightBlock)
      SetPathOn(*aPath, leftBlock, ln,
                aPath->bpipItem - static_cast<int32_t>(rf) + static_cast<int32_t>(lf + lc), aPath->Position);
  } else {
    if (lc + rc + 1 > maxCount) return;
    std::memcpy(IKey(ln, lc), IKey(pn, j - 1), nkl);
    std::memcpy(ln + E.TreePointerOffset(lc + 1), rn + zfIxHeaderSize, rc * ipair + 4);
    SetCount(ln, lc + rc + 1);
  }
  DeleteEntry(nullptr, static_cast<int32_t>(j - 1), parent);
  DiscardNode(rightBlock, rn);
  S.SetNodeCount(S.GetNodeCount() - 1);
}

void TzfBstarTreeOperation::FreeSubtree(uint32_t aBlock, int32_t aDepth, std::set<uint32_t>& aSeen) {
  // A block reached twice or a tree deeper than any sound one is damage: stop before freeing it twice.
  if (aDepth >= zfBstarTreeMaxDepth || !aSeen.insert(aBlock).second) zfRaiseNotAnIndexBlock(S, aBlock);
  uint8_t* n = ReadNode(aBlock, true);
  if (!IsLeaf(n))
    for (uint32_t i = 0; i <= Count(n); ++i) FreeSubtree(Ptr(n, i), aDepth + 1, aSeen);
  DiscardNode(aBlock, n);
}

void TzfStaticKeyBstarTreeIndexEngine::SetIndexNumber(TzfIndexNodeStore& aTrans, int32_t aNumber) {
  if (aNumber < 0 || aNumber > 255) rtl::RaiseRangeError();
  if (aNumber == bieIndexNumber) return;
  // Every node reached from the root, each once, level by level (bounded by the depth limit).
  std::vector<uint32_t> level;
  if (aTrans.GetRootNode() != zfIndexNoBlock) level.push_back(aTrans.GetRootNode());
  std::set<uint32_t> seen;
  for (int32_t depth = 0; !level.empty(); ++depth) {
    if (depth >= zfBstarTreeMaxDepth) zfRaiseNotAnIndexBlock(aTrans, level.front());
    std::vector<uint32_t> next;
    for (uint32_t b : level) {
      if (!seen.insert(b).second) zfRaiseNotAnIndexBlock(aTrans, b);
      TzfBstarTreeOperation op(*this, aTrans);
      uint8_t* n = op.ReadNode(b, true);
      if (!TzfBstarTreeOperation::IsLeaf(n))
        for (uint32_t i = 0; i <= TzfBstarTreeOperation::Count(n); ++i) next.push_back(op.Ptr(n, i));
      n[zfIxOffIndexNumber] = static_cast<uint8_t>(aNumber);
    }
    level = std::move(next);
  }
  bieIndexNumber = aNumber;
}

}  // namespace zf
