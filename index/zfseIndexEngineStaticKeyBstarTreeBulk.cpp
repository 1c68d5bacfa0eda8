#include "index/zfseIndexEngineStaticKeyBstarTreeBulk.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <queue>

#include "foundation/zfllErrors.h"
#include "index/zfseIndexEngineStaticKeyBstarTreeOp.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

namespace {
constexpr const char* kUnit = "zfseIndexEngineStaticKeyBstarTreeBulk";
constexpr uint32_t kContainerBytes = 4194304;

// Share j of n items spread evenly over m parts.
uint64_t Share(uint64_t n, uint64_t m, uint64_t j) { return (j + 1) * n / m - j * n / m; }

// Writes the planned tree from entries handed over in ascending order. Nodes are held only while
// open; every node is given back when the builder ends, also when it raises.
class TzfTreeBuilder {
 public:
  TzfTreeBuilder(TzfStaticKeyBstarTreeIndexEngine& aEngine, TzfIndexNodeStore& aStore,
                 const TzfStaticKeyBstarTreeIndexBulkBuilder::TPlan& aPlan, uint64_t aKeyCount)
      : E(aEngine), S(aStore), Op(aEngine, aStore), P(aPlan), K(aKeyCount), Levels(aPlan.Nodes.size()) {}
  ~TzfTreeBuilder() {
    if (Leaf.Data) S.ReleaseBlock(Leaf.Block, Leaf.Data);
    for (TNode& n : Levels)
      if (n.Data) S.ReleaseBlock(n.Block, n.Data);
  }

  void InsertKey(const uint8_t* aEntry, uint32_t aEntrySize) {
    if (Leaf.Data && Leaf.Count == Share(K, P.Leaves, LeafIndex)) {
      // The open leaf is full: a new one, linked to it, and the separator between them goes up.
      TNode closed = Leaf;
      Leaf = {};
      ++LeafIndex;
      OpenLeaf();
      zfPutLE32(closed.Data + zfIxOffNext, Leaf.Block);
      zfPutLE32(Leaf.Data + zfIxOffPrev, closed.Block);
      std::vector<uint8_t> sep(E.ieNodeKeyLength);
      Op.CopySeparator(closed.Data, TzfBstarTreeOperation::First(closed.Data) + closed.Count - 1, sep.data());
      S.ReleaseBlock(closed.Block, closed.Data);
      PushSeparator(0, closed.Block, Leaf.Block, sep.data());
      zfCheckTimeout();
    } else if (!Leaf.Data) {
      OpenLeaf();
    }
    const int64_t ref = static_cast<int64_t>(zfGetLE64(aEntry + aEntrySize - 8));
    Op.WriteLeafEntry(Leaf.Data, TzfBstarTreeOperation::First(Leaf.Data) + Leaf.Count, aEntry, ref);
    TzfBstarTreeOperation::SetCount(Leaf.Data, ++Leaf.Count);
    ++Placed;
  }

  void Finalize() {
    if (!Leaf.Data || LeafIndex + 1 != P.Leaves || Placed != K || Leaf.Count != Share(K, P.Leaves, LeafIndex))
      rtl::AssertionFailure(kUnit, __LINE__);
    uint32_t root = Leaf.Block;
    for (size_t l = 0; l < Levels.size(); ++l) {
      const TNode& n = Levels[l];
      if (!n.Data || n.Index + 1 != P.Nodes[l] || n.Count + 1 != Share(P.Children[l], P.Nodes[l], n.Index))
        rtl::AssertionFailure(kUnit, __LINE__);
      root = n.Block;
    }
    S.SetRootNode(root);
    S.SetStoredKeyCount(static_cast<uint32_t>(K));
  }

 private:
  struct TNode {
    uint32_t Block = 0;
    uint8_t* Data = nullptr;
    uint32_t Count = 0;  // entries (leaf) or keys (internal)
    uint64_t Index = 0;  // position of the node in its level
  };

  void OpenLeaf() {
    Leaf.Data = S.NewBlock(Leaf.Block);
    Op.InitNode(Leaf.Data, Leaf.Block, true);
    Leaf.Index = LeafIndex;
    const uint64_t size = Share(K, P.Leaves, LeafIndex);
    TzfBstarTreeOperation::SetFirst(Leaf.Data, static_cast<uint32_t>((E.ieMaxLeafNodeKeyCount - size) >> 1));
  }

  void OpenInternal(size_t aLevel, uint64_t aIndex, uint32_t aFirstChild) {
    TNode& n = Levels[aLevel];
    n = {};
    n.Data = S.NewBlock(n.Block);
    Op.InitNode(n.Data, n.Block, false);
    n.Index = aIndex;
    Op.SetPtr(n.Data, 0, aFirstChild);
  }

  void PushSeparator(size_t aLevel, uint32_t aLeft, uint32_t aRight, const uint8_t* aSep) {
    if (aLevel >= Levels.size()) rtl::AssertionFailure(kUnit, __LINE__);
    TNode& n = Levels[aLevel];
    if (!n.Data) OpenInternal(aLevel, 0, aLeft);
    if (Op.Ptr(n.Data, n.Count) != aLeft) rtl::AssertionFailure(kUnit, __LINE__);
    if (n.Count + 1 == Share(P.Children[aLevel], P.Nodes[aLevel], n.Index)) {
      // The node has all its children: the next node starts with the right block, the separator
      // goes one level up.
      const uint32_t closed = n.Block;
      uint8_t* data = n.Data;
      const uint64_t next = n.Index + 1;
      n.Data = nullptr;
      S.ReleaseBlock(closed, data);
      OpenInternal(aLevel, next, aRight);
      PushSeparator(aLevel + 1, closed, Levels[aLevel].Block, aSep);
      return;
    }
    std::memcpy(Op.IKey(n.Data, n.Count), aSep, E.ieNodeKeyLength);
    ++n.Count;
    TzfBstarTreeOperation::SetCount(n.Data, n.Count);
    Op.SetPtr(n.Data, n.Count, aRight);
  }

  TzfStaticKeyBstarTreeIndexEngine& E;
  TzfIndexNodeStore& S;
  TzfBstarTreeOperation Op;
  const TzfStaticKeyBstarTreeIndexBulkBuilder::TPlan& P;
  uint64_t K;
  TNode Leaf;
  uint64_t LeafIndex = 0;
  uint64_t Placed = 0;
  std::vector<TNode> Levels;
};
}  // namespace

TzfStaticKeyBstarTreeIndexBulkBuilder::TzfStaticKeyBstarTreeIndexBulkBuilder(TzfIndexNodeStore& aTrans,
                                                                             TzfStaticKeyBstarTreeIndexEngine& aIndexEngine,
                                                                             uint32_t aKeysPerContainer)
    : TzfBaseIndexBulkBuilder(aTrans, aIndexEngine),
      bsibbIndexEngine(aIndexEngine),
      bsibbKeyLength((aIndexEngine.bieKeyEngine->bkeKeyLength + 23) & ~15u),
      bsibbKeysPerContainer(aKeysPerContainer ? aKeysPerContainer : kContainerBytes / bsibbKeyLength) {}

TzfStaticKeyBstarTreeIndexBulkBuilder::TPlan TzfStaticKeyBstarTreeIndexBulkBuilder::Plan(uint64_t aKeyCount) const {
  TPlan p;
  if (aKeyCount == 0) return p;
  const uint64_t maxLeaf = bsibbIndexEngine.ieMaxLeafNodeKeyCount, maxInt = bsibbIndexEngine.ieMaxInternalNodeKeyCount;
  // Target fills: about 80 %, below the maximum, above half.
  uint64_t tl = std::min<uint64_t>(maxLeaf * 8 / 10, maxLeaf - 1);
  if (tl < (maxLeaf >> 1)) tl = (maxLeaf >> 1) + 1;
  uint64_t ti = std::min<uint64_t>(maxInt * 8 / 10, maxInt - 1);
  if (ti <= (maxInt >> 1)) ti = (maxInt >> 1) + 1;
  const uint64_t minLeaf = (maxLeaf + 1) >> 1, minInt = maxInt >> 1;
  uint64_t leaves = (aKeyCount + tl - 1) / tl;
  while (leaves > 1 && aKeyCount < leaves * minLeaf) --leaves;
  p.Leaves = leaves;
  for (uint64_t c = leaves; c >= 2;) {
    uint64_t m = (c + ti) / (ti + 1);
    while (m > 1 && c - m < m * minInt) --m;
    p.Children.push_back(c);
    p.Nodes.push_back(m);
    c = m;
  }
  return p;
}

int TzfStaticKeyBstarTreeIndexBulkBuilder::CompareEntries(const uint8_t* a, const uint8_t* b) {
  if (a == b) return 0;
  TzfBaseKeyEngine& k = *bsibbIndexEngine.bieKeyEngine;
  const int c = k.CompareKey(a, b, 0, 0);
  if (c != 0) return c;
  const int64_t ra = static_cast<int64_t>(zfGetLE64(a + bsibbKeyLength - 8));
  const int64_t rb = static_cast<int64_t>(zfGetLE64(b + bsibbKeyLength - 8));
  const bool dupsAllowed = bsibbIndexEngine.bieDups &&
                           (!bsibbIndexEngine.bieDupsNullOnly || (k.KeyContainsNulls(a) && k.KeyContainsNulls(b)));
  if (!dupsAllowed || ra == rb) throw EzfBaseBulkBuilder(bsibbIndexEngine.GetKeyError(etBulkCreate, a, ra));
  return ra < rb ? -1 : 1;
}

uint32_t TzfStaticKeyBstarTreeIndexBulkBuilder::InsertKey(int64_t aRefNr, const uint8_t* aRecord) {
  if (FOpen && FCurrent.Count >= bsibbKeysPerContainer) Seal();
  if (!FOpen) {
    FCurrent = {};
    FCurrent.Data.resize(static_cast<size_t>(bsibbKeysPerContainer) * bsibbKeyLength);
    FOpen = true;
    ++bsibbContainerCount;
  }
  uint8_t* e = FCurrent.Data.data() + static_cast<size_t>(FCurrent.Count) * bsibbKeyLength;
  std::memset(e, 0, bsibbKeyLength);
  const uint32_t r = bibbKeyEngine.BuildKey(aRecord, e, aRefNr, false);
  if (r == 1) return 0;
  if (r != 0) return r;
  zfPutLE64(e + bsibbKeyLength - 8, static_cast<uint64_t>(aRefNr));
  ++FCurrent.Count;
  ++bsibbTotalKeyCount;
  return 0;
}

void TzfStaticKeyBstarTreeIndexBulkBuilder::Seal() {
  FOpen = false;
  if (FCurrent.Count == 0) {
    FCurrent = {};
    --bsibbContainerCount;
    return;
  }
  const uint32_t E = bsibbKeyLength;
  // Keys that arrive in ascending order (records placed in key order) need no sort; the check
  // applies the same rule to equal neighbours as the sort would.
  bool ascending = true;
  for (uint32_t i = 1; ascending && i < FCurrent.Count; ++i)
    ascending = CompareEntries(FCurrent.Data.data() + size_t(i - 1) * E, FCurrent.Data.data() + size_t(i) * E) < 0;
  if (FCurrent.Count >= 2 && !ascending) {
    std::vector<uint32_t> order(FCurrent.Count);
    std::iota(order.begin(), order.end(), 0u);
    const uint8_t* base = FCurrent.Data.data();
    std::sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
      return x != y && CompareEntries(base + static_cast<size_t>(x) * E, base + static_cast<size_t>(y) * E) < 0;
    });
    std::vector<uint8_t> sorted(static_cast<size_t>(FCurrent.Count) * E);
    for (uint32_t i = 0; i < FCurrent.Count; ++i)
      std::memcpy(sorted.data() + static_cast<size_t>(i) * E, base + static_cast<size_t>(order[i]) * E, E);
    FCurrent.Data = std::move(sorted);
  } else {
    FCurrent.Data.resize(size_t(FCurrent.Count) * E);
  }
  FSealed.push_back(std::move(FCurrent));
  FCurrent = {};
}

uint32_t TzfStaticKeyBstarTreeIndexBulkBuilder::Finalize() {
  if (FOpen) Seal();
  // Every container holds sorted entries; a heap of their heads yields all entries in order.
  uint64_t total = 0;
  for (const TContainer& c : FSealed) total += c.Count;
  if (total == 0) return 0;
  if (total > 0xFFFFFFFFu) rtl::AssertionFailure(kUnit, __LINE__);
  const TPlan plan = Plan(total);
  TzfTreeBuilder tree(bsibbIndexEngine, bibbStore, plan, total);
  const uint32_t E = bsibbKeyLength;
  struct THead {
    uint32_t Container, Pos;
  };
  auto entry = [&](const THead& h) { return FSealed[h.Container].Data.data() + static_cast<size_t>(h.Pos) * E; };
  auto greater = [&](const THead& x, const THead& y) { return CompareEntries(entry(x), entry(y)) > 0; };
  std::priority_queue<THead, std::vector<THead>, decltype(greater)> heads(greater);
  for (uint32_t i = 0; i < FSealed.size(); ++i) heads.push({i, 0});
  const uint8_t* previous = nullptr;
  uint64_t emitted = 0;
  while (!heads.empty()) {
    THead h = heads.top();
    heads.pop();
    const uint8_t* e = entry(h);
    // Equal neighbours from two containers: the same rule as inside a container.
    if (previous && CompareEntries(previous, e) >= 0) rtl::AssertionFailure(kUnit, __LINE__);
    tree.InsertKey(e, E);
    previous = e;
    if (++emitted % 1000 == 0) zfCheckTimeout();
    if (++h.Pos < FSealed[h.Container].Count) heads.push(h);
  }
  tree.Finalize();
  FSealed.clear();
  return 0;
}

std::unique_ptr<TzfBaseBulkBuilder> TzfStaticKeyBstarTreeIndexEngine::CreateBulkBuilder(TzfIndexNodeStore& aTrans) {
  return std::make_unique<TzfStaticKeyBstarTreeIndexBulkBuilder>(aTrans, *this);
}

const TzfIndexEngineClass& TzfStaticKeyBstarTreeIndexEngine::ClassInfo() {
  static const TzfIndexEngineClass info(
      u"TzfStaticKeyBstarTreeIndexEngine", &TzfBaseIndexEngine::KindInfo(), nullptr,
      [](const TzfIndexEngineParams& aParams, std::unique_ptr<TzfBaseKeyEngine> aKeyEngine,
         uint32_t aUsableBlockSize) -> std::unique_ptr<TzfBaseIndexEngine> {
        return std::make_unique<TzfStaticKeyBstarTreeIndexEngine>(aParams, std::move(aKeyEngine), aUsableBlockSize);
      },
      &TzfStaticKeyBstarTreeIndexEngine::CheckValidFromDescriptor);
  return info;
}

namespace {
void Init() { TzfBaseSubEngine::RegisterEngine(TzfStaticKeyBstarTreeIndexEngine::ClassInfo(), zfDefaultEngineName); }
void Fini() { TzfBaseSubEngine::UnregisterEngine(TzfStaticKeyBstarTreeIndexEngine::ClassInfo()); }
}  // namespace

rtl::TUnitInit& zfseIndexEngineStaticKeyBstarTreeUnit() {
  static rtl::TUnitInit unit("zfseIndexEngineStaticKeyBstarTree", &Init, &Fini);
  return unit;
}

}  // namespace zf
