// The one check of every invariant of a B*-tree, for tests after every batch and for judging a
// damaged index.
#include <map>
#include <optional>

#include "index/zfseIndexEngineStaticKeyBstarTreeOp.h"

namespace zf {

namespace {

struct TEntry {
  std::vector<uint8_t> Key;
  int64_t Ref = 0;
  bool HasRef = false;
};

class TTreeChecker {
 public:
  TTreeChecker(TzfStaticKeyBstarTreeIndexEngine& aEngine, TzfIndexNodeStore& aStore, TzfBstarTreeCheckResult& aResult)
      : E(aEngine), S(aStore), R(aResult), Op(aEngine, aStore) {}

  void Run() {
    const uint32_t root = S.GetRootNode();
    if (root == zfIndexNoBlock) {
      if (S.GetNodeCount() != 0 || S.GetStoredKeyCount() != 0) Problem("empty tree with non-zero counts");
      return;
    }
    Node(root, 1, std::nullopt, std::nullopt, true);
    R.Depth = LeafDepth;
    // Leaf chain, both ways, in key order.
    for (size_t k = 0; k < Leaves.size(); ++k) {
      const uint32_t expectPrev = k == 0 ? zfIndexNoBlock : Leaves[k - 1];
      const uint32_t expectNext = k + 1 == Leaves.size() ? zfIndexNoBlock : Leaves[k + 1];
      if (Links[Leaves[k]].first != expectPrev) Problem("leaf " + std::to_string(Leaves[k]) + ": wrong previous link");
      if (Links[Leaves[k]].second != expectNext) Problem("leaf " + std::to_string(Leaves[k]) + ": wrong next link");
    }
    if (R.KeyCount != S.GetStoredKeyCount())
      Problem("key count " + std::to_string(S.GetStoredKeyCount()) + " in the header, " + std::to_string(R.KeyCount) +
              " in the leaves");
    if (R.Blocks.size() != S.GetNodeCount())
      Problem("node count " + std::to_string(S.GetNodeCount()) + " in the header, " + std::to_string(R.Blocks.size()) +
              " reached");
  }

 private:
  void Problem(const std::string& aText) { R.Problems.push_back(aText); }

  // Entry against a separator: the key, then the reference number when separators carry one.
  int CompareToSeparator(const TEntry& aEntry, const TEntry& aSeparator) {
    int c = E.bieKeyEngine->CompareKey(aEntry.Key.data(), aSeparator.Key.data(), 0, 0);
    if (c == 0 && aSeparator.HasRef && aEntry.HasRef) c = aEntry.Ref < aSeparator.Ref ? -1 : (aEntry.Ref > aSeparator.Ref);
    return c;
  }

  TEntry EntryOf(const uint8_t* n, uint32_t i) {
    TEntry e;
    const uint8_t* k = Op.EntryKey(n, i);
    e.Key.assign(k, k + E.bieKeyEngine->bkeKeyLength);
    e.HasRef = Op.HasRef(n);
    e.Ref = Op.EntryRef(n, i);
    return e;
  }

  void Node(uint32_t aBlock, uint32_t aDepth, const std::optional<TEntry>& aLower, const std::optional<TEntry>& aUpper,
            bool aIsRoot) {
    const std::string name = "node " + std::to_string(aBlock);
    if (aDepth > static_cast<uint32_t>(zfBstarTreeMaxDepth)) return Problem(name + ": tree too deep");
    if (!R.Blocks.insert(aBlock).second) return Problem(name + ": reached twice");
    if (!S.ValidBlock(aBlock)) return Problem(name + ": outside the file");
    std::vector<uint8_t> copy;
    {
      TzfIndexBlockHold hold(S);
      hold.Set(aBlock, S.GetBlock(aBlock, false));
      copy.assign(hold.Data(), hold.Data() + E.ieUsableBlockSize);
    }
    const uint8_t* n = copy.data();
    if (!Op.NodeFits(n, aBlock)) return Problem(name + ": not a node of this index");
    const uint32_t first = TzfBstarTreeOperation::First(n), count = TzfBstarTreeOperation::Count(n);
    const bool leaf = TzfBstarTreeOperation::IsLeaf(n);
    const uint32_t minimum =
        aIsRoot ? 1 : (leaf ? (E.ieMaxLeafNodeKeyCount + 1u) >> 1 : E.ieMaxInternalNodeKeyCount >> 1);
    if (count < minimum) Problem(name + ": " + std::to_string(count) + " entries, fewer than " + std::to_string(minimum));
    // Entries in order and within the bounds the parent gives.
    std::optional<TEntry> previous;
    for (uint32_t i = first; i < first + count; ++i) {
      TEntry e = EntryOf(n, i);
      if (aLower && CompareToSeparator(e, *aLower) <= 0) Problem(name + ": entry " + std::to_string(i) + " below its lower bound");
      if (aUpper && CompareToSeparator(e, *aUpper) > 0) Problem(name + ": entry " + std::to_string(i) + " above its separator");
      if (previous) {
        int c = E.bieKeyEngine->CompareKey(previous->Key.data(), e.Key.data(), 0, 0);
        if (c > 0) Problem(name + ": entries " + std::to_string(i - 1) + " and " + std::to_string(i) + " out of order");
        if (c == 0 && leaf) {
          if (!E.bieDups || (E.bieDupsNullOnly && !E.bieKeyEngine->KeyContainsNulls(e.Key.data())))
            Problem(name + ": duplicate key at entry " + std::to_string(i));
          if (previous->Ref >= e.Ref) Problem(name + ": equal keys out of reference order at " + std::to_string(i));
        }
        if (c == 0 && !leaf && (!e.HasRef || previous->Ref >= e.Ref))
          Problem(name + ": separators " + std::to_string(i - 1) + " and " + std::to_string(i) + " not increasing");
      }
      previous = std::move(e);
    }
    if (leaf) {
      if (LeafDepth == 0) LeafDepth = aDepth;
      if (aDepth != LeafDepth) Problem(name + ": leaf at depth " + std::to_string(aDepth) + ", others at " + std::to_string(LeafDepth));
      Leaves.push_back(aBlock);
      Links[aBlock] = {TzfBstarTreeOperation::Prev(n), TzfBstarTreeOperation::Next(n)};
      // Order across leaves.
      for (uint32_t i = first; i < first + count; ++i) {
        TEntry e = EntryOf(n, i);
        if (Last) {
          int c = E.bieKeyEngine->CompareKey(Last->Key.data(), e.Key.data(), 0, 0);
          if (c > 0 || (c == 0 && Last->Ref >= e.Ref)) Problem(name + ": entry " + std::to_string(i) + " not after the previous leaf's");
        }
        Last = std::move(e);
      }
      R.KeyCount += count;
      return;
    }
    if (TzfBstarTreeOperation::Prev(n) != zfIndexNoBlock || TzfBstarTreeOperation::Next(n) != zfIndexNoBlock)
      Problem(name + ": internal node with leaf links");
    for (uint32_t i = 0; i <= count; ++i) {
      std::optional<TEntry> lower = i == 0 ? aLower : std::optional<TEntry>(EntryOf(n, i - 1));
      std::optional<TEntry> upper = i == count ? aUpper : std::optional<TEntry>(EntryOf(n, i));
      Node(Op.Ptr(n, i), aDepth + 1, lower, upper, false);
    }
  }

  TzfStaticKeyBstarTreeIndexEngine& E;
  TzfIndexNodeStore& S;
  TzfBstarTreeCheckResult& R;
  TzfBstarTreeOperation Op;
  uint32_t LeafDepth = 0;
  std::vector<uint32_t> Leaves;
  std::map<uint32_t, std::pair<uint32_t, uint32_t>> Links;
  std::optional<TEntry> Last;
};

}  // namespace

void TzfStaticKeyBstarTreeIndexEngine::CheckTree(TzfIndexNodeStore& aTrans, TzfBstarTreeCheckResult& aResult) {
  aResult = {};
  TTreeChecker(*this, aTrans, aResult).Run();
}

}  // namespace zf
