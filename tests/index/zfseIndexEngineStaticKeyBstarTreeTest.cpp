// The B*-tree index engine against an ordered multiset: every duplicate regime, small nodes (deep
// trees), every search action, walks, paths held across changes, the invariant check after every
// batch, rollback, node bytes, damaged nodes and bookmarks.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "dictionary/zfsdKeyDescriptor.h"
#include "index/zfseIndexEngineStaticKeyBstarTree.h"
#include "index/zfseIndexNodeStoreMemory.h"
#include "storage/zfsrTimeoutHandling.h"
#include "tests/index/zfsrIndexTestUtil.h"

namespace zf::test {
namespace {

using TBytes = std::vector<uint8_t>;
using TPath = TzfStaticKeyBstarTreeIndexPath;

enum class TRegime { Unique, Dups, DupsNull, RefKeys };

struct TEntry {
  TBytes Key;
  int64_t Ref;
};

// A tree, its store and its key engine over a table of two Int32 fields (A may be null).
class TTree {
 public:
  TTree(TRegime aRegime, uint32_t aExtraBytes, uint32_t aSeed) : Regime(aRegime) {
    AddTestField(*Table.Fields, u"A", zftInt32);
    AddTestField(*Table.Fields, u"B", zftInt32);
    std::unique_ptr<TzfBaseKeyDescriptor> key;
    if (aRegime == TRegime::RefKeys) {
      key = std::make_unique<TzfRefKeyDescriptor>(&Table);
    } else {
      auto comp = std::make_unique<TzfCompKeyDescriptor>(&Table);
      comp->Add(0);
      comp->Add(1);
      key = std::move(comp);
    }
    KeyDescriptor = std::move(key);
    TzfIndexEngineParams p;
    p.IndexNumber = 3;
    p.IndexName = u"ByAB";
    p.FileName = u"test.idx";
    p.KeysAreRefs = aRegime == TRegime::RefKeys;
    p.Dups = aRegime == TRegime::Dups ? idAll : (aRegime == TRegime::DupsNull ? idNull : idNone);
    auto keyEngine = TzfBaseKeyEngine::CreateFor(*KeyDescriptor);
    const uint32_t need = TzfStaticKeyBstarTreeIndexEngine::NeededUsableBlockSize(
        keyEngine->bkeKeyLength, p.Dups != idNone, p.Dups == idNull, true, p.KeysAreRefs);
    Store = std::make_unique<TzfMemoryIndexNodeStore>(need + aExtraBytes, u"test.idx");
    auto gen = std::make_shared<std::mt19937>(aSeed);
    Engine = std::make_unique<TzfStaticKeyBstarTreeIndexEngine>(p, std::move(keyEngine), need + aExtraBytes,
                                                                 [gen] { return static_cast<uint16_t>((*gen)() % 65535); });
  }

  TBytes Key(std::optional<int32_t> aA, int32_t aB, int64_t aRef) {
    rtl::Variant a = aA ? rtl::Variant(*aA) : rtl::Variant::Null();
    TBytes r = MakeRecord(*Table.Fields, {a, rtl::Variant(aB)});
    TBytes k(Engine->bieKeyEngine->bkeKeyLength);
    EXPECT_EQ(Engine->bieKeyEngine->BuildKey(r.data(), k.data(), aRef, true), 0u);
    return k;
  }
  std::unique_ptr<TPath> Path() { return std::unique_ptr<TPath>(static_cast<TPath*>(Engine->CreateIndexPath().release())); }
  TBytes PathKey(const TPath& p) { return TBytes(p.Key, p.Key + Engine->bieKeyEngine->bkeKeyLength); }
  // Every invariant; also no leaked or held block.
  void Check(const std::string& aWhere) {
    TzfBstarTreeCheckResult r;
    Engine->CheckTree(*Store, r);
    for (const std::string& p : r.Problems) ADD_FAILURE() << aWhere << ": " << p;
    EXPECT_EQ(r.Blocks, Store->LiveBlocks()) << aWhere << ": blocks leaked or lost";
    EXPECT_EQ(Store->HeldCount(), 0) << aWhere << ": blocks still held";
    MaxDepth = std::max(MaxDepth, r.Depth);
  }

  TRegime Regime;
  TTestTable Table;
  std::unique_ptr<TzfBaseKeyDescriptor> KeyDescriptor;
  std::unique_ptr<TzfMemoryIndexNodeStore> Store;
  std::unique_ptr<TzfStaticKeyBstarTreeIndexEngine> Engine;
  uint32_t MaxDepth = 0;
};

class BstarTreeTest : public IndexStarted {};

// ---- The model ----

class TModel {
 public:
  explicit TModel(TTree& aTree) : T(aTree) {}
  int Cmp(const TEntry& a, const TEntry& b) const {
    int c = T.Engine->bieKeyEngine->CompareKey(a.Key.data(), b.Key.data(), 0, 0);
    if (c == 0) c = a.Ref < b.Ref ? -1 : (a.Ref > b.Ref);
    return c;
  }
  size_t LowerBound(const TEntry& e) const {
    return static_cast<size_t>(std::partition_point(Entries.begin(), Entries.end(),
                                                    [&](const TEntry& x) { return Cmp(x, e) < 0; }) -
                               Entries.begin());
  }
  // Whether the tree must refuse inserting e.
  bool Refuses(const TEntry& e) const {
    for (const TEntry& x : Entries) {
      if (T.Engine->bieKeyEngine->CompareKey(x.Key.data(), e.Key.data(), 0, 0) != 0) continue;
      switch (T.Regime) {
        case TRegime::Unique:
        case TRegime::RefKeys: return true;
        case TRegime::Dups:
          if (x.Ref == e.Ref) return true;
          break;
        case TRegime::DupsNull:
          if (x.Ref == e.Ref || !T.Engine->bieKeyEngine->KeyContainsNulls(e.Key.data())) return true;
          break;
      }
    }
    return false;
  }
  void Insert(const TEntry& e) { Entries.insert(Entries.begin() + static_cast<ptrdiff_t>(LowerBound(e)), e); }
  bool Erase(const TEntry& e) {
    size_t i = LowerBound(e);
    if (i < Entries.size() && Cmp(Entries[i], e) == 0) {
      Entries.erase(Entries.begin() + static_cast<ptrdiff_t>(i));
      return true;
    }
    return false;
  }
  // The entry a unique index deletes for (key, ref): the one with this key, if its ref matches.
  std::vector<TEntry> Entries;
  TTree& T;
};

struct TSearchCase {
  TzfSearchKeyAction Action;
  const char* Name;
};

void ExpectOn(TTree& t, const TPath& p, const TEntry* e, const std::string& aWhere) {
  if (!e) {
    EXPECT_FALSE(p.IsOnKey()) << aWhere;
    return;
  }
  ASSERT_TRUE(p.IsOnKey()) << aWhere;
  EXPECT_EQ(t.PathKey(p), e->Key) << aWhere;
  EXPECT_EQ(p.RefNr, e->Ref) << aWhere;
}

void RunModel(TRegime aRegime, uint32_t aExtraBytes, uint32_t aSeed, int aOperations) {
  TTree t(aRegime, aExtraBytes, aSeed);
  TModel m(t);
  std::mt19937 rnd(aSeed);
  auto pick = [&](int n) { return static_cast<int>(rnd() % static_cast<uint32_t>(n)); };
  int64_t nextRef = 1;
  auto randomEntry = [&]() {
    TEntry e;
    if (aRegime == TRegime::RefKeys) {
      e.Ref = 1 + pick(600);
      e.Key = t.Key(0, 0, e.Ref);
      return e;
    }
    std::optional<int32_t> a;
    if (pick(8) != 0) a = pick(60);
    const int32_t b = pick(aRegime == TRegime::Unique ? 12 : 3);
    e.Ref = aRegime == TRegime::Unique ? nextRef++ : 1 + pick(40);
    e.Key = t.Key(a, b, e.Ref);
    return e;
  };
  auto held1 = t.Path(), held2 = t.Path();
  std::optional<TEntry> heldAt1, heldAt2;
  TzfIndexNodeStore& s = *t.Store;
  const TzfSearchKeyAction actions[] = {skaEqualFirst, skaGreaterEqual, skaGreater,         skaEqualLast,
                                        skaSmallerEqual, skaSmaller,   skaAnyEqual,        skaAnyGreaterEqual,
                                        skaAnyGreater,   skaAnySmallerEqual, skaAnySmaller};
  for (int op = 0; op < aOperations; ++op) {
    const std::string where = "seed " + std::to_string(aSeed) + " op " + std::to_string(op);
    const int kind = pick(100);
    // Grow in the first half, shrink in the second, so both splits and merges run a lot.
    const bool growing = op < aOperations / 2;
    if (kind < (growing ? 55 : 25)) {
      TEntry e = randomEntry();
      const bool refuse = m.Refuses(e);
      auto p = t.Path();
      const bool withPath = pick(2) == 0;
      EXPECT_EQ(t.Engine->InsertKey(s, e.Key.data(), e.Ref, withPath ? p.get() : nullptr), !refuse) << where;
      if (!refuse) {
        m.Insert(e);
        if (withPath) ExpectOn(t, *p, &e, where + " path after insert");
      }
    } else if (kind < (growing ? 70 : 75) && !m.Entries.empty()) {
      TEntry e = m.Entries[static_cast<size_t>(pick(static_cast<int>(m.Entries.size())))];
      auto p = t.Path();
      if (pick(2) == 0) {
        // Delete through a path standing on the entry (the fast road).
        ASSERT_TRUE(t.Engine->FindKey(s, e.Key.data(), 0, 0, e.Ref, *p, skaEqualFirst, nullptr)) << where;
        if (aRegime == TRegime::Dups || aRegime == TRegime::DupsNull) ExpectOn(t, *p, &e, where + " find for delete");
        if (p->RefNr != e.Ref) continue;  // unique key found under another ref: not this test's case
      }
      EXPECT_TRUE(t.Engine->DeleteKey(s, e.Key.data(), e.Ref, p.get())) << where;
      EXPECT_TRUE(m.Erase(e));
      // The path is on the crack where the entry was: the next key is the one after it.
      const size_t after = m.LowerBound(e);
      if (p->IsOnCrack()) {
        EXPECT_TRUE(p->IsDeleted()) << where;
        EXPECT_EQ(p->CheckCurrentState(), zfErrKeyOrRecDeleted);
        const bool more = t.Engine->NextKey(s, *p, nullptr);
        EXPECT_EQ(more, after < m.Entries.size()) << where;
        if (more && after < m.Entries.size()) ExpectOn(t, *p, &m.Entries[after], where + " next after delete");
      } else {
        EXPECT_TRUE(m.Entries.empty()) << where;
      }
    } else if (kind < 75 && !m.Entries.empty()) {
      // A delete that must fail: an entry that is not there.
      TEntry e = randomEntry();
      if (!m.Refuses(e)) { EXPECT_FALSE(t.Engine->DeleteKey(s, e.Key.data(), e.Ref, nullptr)) << where; }
    } else if (kind < 90) {
      // Searches with whole and partial keys.
      TEntry k = m.Entries.empty() || pick(3) == 0
                     ? randomEntry()
                     : m.Entries[static_cast<size_t>(pick(static_cast<int>(m.Entries.size())))];
      const int32_t fields = aRegime == TRegime::RefKeys ? 0 : pick(2);
      const TzfSearchKeyAction a = actions[pick(11)];
      auto p = t.Path();
      const bool r = t.Engine->FindKey(s, k.Key.data(), fields, 0, 0, *p, a, nullptr);
      auto cmp = [&](const TEntry& x) { return t.Engine->bieKeyEngine->CompareKey(k.Key.data(), x.Key.data(), fields, 0); };
      const TEntry* firstEq = nullptr;
      const TEntry* lastEq = nullptr;
      const TEntry* firstGt = nullptr;
      const TEntry* lastLt = nullptr;
      for (const TEntry& x : m.Entries) {
        const int c = cmp(x);
        if (c == 0 && !firstEq) firstEq = &x;
        if (c == 0) lastEq = &x;
        if (c < 0 && !firstGt) firstGt = &x;
        if (c > 0) lastLt = &x;
      }
      const std::string w = where + " action " + std::to_string(static_cast<int>(a)) + " fields " + std::to_string(fields);
      switch (a) {
        case skaEqualFirst: EXPECT_EQ(r, firstEq != nullptr) << w; if (firstEq) ExpectOn(t, *p, firstEq, w); break;
        case skaEqualLast: EXPECT_EQ(r, lastEq != nullptr) << w; if (lastEq) ExpectOn(t, *p, lastEq, w); break;
        case skaGreaterEqual:
          EXPECT_TRUE(r);
          ExpectOn(t, *p, firstEq ? firstEq : firstGt, w);
          if (!firstEq && !firstGt) { EXPECT_TRUE(p->IsEof()) << w; }
          break;
        case skaGreater:
        case skaAnyGreater:
          EXPECT_TRUE(r);
          ExpectOn(t, *p, firstGt, w);
          if (!firstGt) { EXPECT_TRUE(p->IsEof()) << w; }
          break;
        case skaSmallerEqual:
          EXPECT_TRUE(r);
          ExpectOn(t, *p, lastEq ? lastEq : lastLt, w);
          if (!lastEq && !lastLt) { EXPECT_TRUE(p->IsBof()) << w; }
          break;
        case skaSmaller:
        case skaAnySmaller:
          EXPECT_TRUE(r);
          ExpectOn(t, *p, lastLt, w);
          if (!lastLt) { EXPECT_TRUE(p->IsBof()) << w; }
          break;
        case skaAnyEqual:
          EXPECT_EQ(r, firstEq != nullptr) << w;
          if (firstEq) { EXPECT_TRUE(p->IsOnKey() && cmp(TEntry{t.PathKey(*p), 0}) == 0) << w; }
          break;
        case skaAnyGreaterEqual:
        case skaAnySmallerEqual: {
          EXPECT_TRUE(r);
          const TEntry* other = a == skaAnyGreaterEqual ? firstGt : lastLt;
          if (firstEq) {
            EXPECT_TRUE(p->IsOnKey() && cmp(TEntry{t.PathKey(*p), 0}) == 0) << w;
          } else {
            ExpectOn(t, *p, other, w);
          }
          break;
        }
      }
      // A short walk from here in either direction follows the model.
      if (p->IsOnKey()) {
        size_t i = m.LowerBound(TEntry{t.PathKey(*p), p->RefNr});
        const bool forward = pick(2) == 0;
        for (int step = 0; step < 4; ++step) {
          const bool ok = forward ? t.Engine->NextKey(s, *p, nullptr) : t.Engine->PrevKey(s, *p, nullptr);
          const bool expect = forward ? i + 1 < m.Entries.size() : i > 0;
          ASSERT_EQ(ok, expect) << w << " walk " << step;
          if (!ok) {
            EXPECT_TRUE(forward ? p->IsEof() : p->IsBof());
            break;
          }
          i = forward ? i + 1 : i - 1;
          ExpectOn(t, *p, &m.Entries[i], w + " walk");
        }
      }
    } else {
      // Paths held across changes made since: the next (or previous) key follows the model.
      auto& held = pick(2) == 0 ? held1 : held2;
      auto& at = &held == &held1 ? heldAt1 : heldAt2;
      if (at && held->Position != ippUnknown) {
        const bool forward = pick(2) == 0;
        const size_t lb = m.LowerBound(*at);
        const bool present = lb < m.Entries.size() && m.Cmp(m.Entries[lb], *at) == 0;
        const TEntry* expect = nullptr;
        if (forward)
          expect = lb + (present ? 1 : 0) < m.Entries.size() ? &m.Entries[lb + (present ? 1 : 0)] : nullptr;
        else
          expect = lb > 0 ? &m.Entries[lb - 1] : nullptr;
        const bool ok = forward ? t.Engine->NextKey(s, *held, nullptr) : t.Engine->PrevKey(s, *held, nullptr);
        EXPECT_EQ(ok, expect != nullptr) << where << " held path";
        ExpectOn(t, *held, expect, where + " held path");
        if (held->IsOnKey())
          at = TEntry{t.PathKey(*held), held->RefNr};
        else
          at.reset();
      }
      if (!m.Entries.empty()) {
        const TEntry& e = m.Entries[static_cast<size_t>(pick(static_cast<int>(m.Entries.size())))];
        ASSERT_TRUE(t.Engine->FindKey(s, e.Key.data(), 0, 0, e.Ref, *held, skaEqualFirst, nullptr)) << where;
        at = TEntry{t.PathKey(*held), held->RefNr};
      }
    }
    if (op % 20 == 19) {
      t.Check(where);
      if (::testing::Test::HasFailure()) return;
      uint32_t count = 0;
      t.Engine->GetKeyCount(s, count);
      ASSERT_EQ(count, m.Entries.size()) << where;
      // A whole walk both ways.
      if (op % 100 == 99) {
        auto p = t.Path();
        size_t i = 0;
        while (t.Engine->NextKey(s, *p, nullptr)) ExpectOn(t, *p, &m.Entries[i++], where + " scan");
        EXPECT_EQ(i, m.Entries.size());
        while (t.Engine->PrevKey(s, *p, nullptr)) ExpectOn(t, *p, &m.Entries[--i], where + " backward scan");
        EXPECT_EQ(i, 0u);
      }
    }
    t.Store->NextLSN();
  }
  t.Check("end");
  EXPECT_GE(t.MaxDepth, 4u) << "the tree never grew deep";
}

TEST_F(BstarTreeTest, ModelUnique) {
  for (uint32_t seed : {1u, 2u}) RunModel(TRegime::Unique, 0, seed, 3000);
  RunModel(TRegime::Unique, 13, 3, 3000);
}
TEST_F(BstarTreeTest, ModelDuplicates) {
  for (uint32_t seed : {4u, 5u}) RunModel(TRegime::Dups, 0, seed, 3000);
  RunModel(TRegime::Dups, 21, 6, 3000);
}
TEST_F(BstarTreeTest, ModelDuplicatesOnlyWithNull) {
  for (uint32_t seed : {7u, 8u}) RunModel(TRegime::DupsNull, 0, seed, 3000);
  RunModel(TRegime::DupsNull, 21, 9, 3000);
}
TEST_F(BstarTreeTest, ModelReferenceKeys) {
  for (uint32_t seed : {10u, 11u}) RunModel(TRegime::RefKeys, 0, seed, 3000);
  RunModel(TRegime::RefKeys, 8, 12, 3000);
}
// Many more seeds, capacities and operations.
TEST_F(BstarTreeTest, ModelManySeedsSlow) {
  for (uint32_t seed = 100; seed < 112; ++seed)
    for (TRegime r : {TRegime::Unique, TRegime::Dups, TRegime::DupsNull, TRegime::RefKeys}) {
      RunModel(r, (seed % 4) * 9, seed, 8000);
      if (HasFailure()) return;
    }
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
namespace {

// Rollback of the store's transaction brings every block and header value back exactly.
TEST_F(BstarTreeTest, RollbackRestoresTheTree) {
  TTree t(TRegime::Dups, 0, 40);
  TzfIndexNodeStore& s = *t.Store;
  for (int i = 0; i < 300; ++i) {
    TBytes k = t.Key(i % 50, i % 3, i);
    ASSERT_TRUE(t.Engine->InsertKey(s, k.data(), i, nullptr));
  }
  t.Store->NextLSN();
  const TzfMemoryIndexNodeStore::TState before = t.Store->Snapshot();
  std::mt19937 rnd(41);
  for (int i = 0; i < 400; ++i) {
    const int v = static_cast<int>(rnd() % 300);
    TBytes k = t.Key(v % 50, v % 3, v);
    if (rnd() % 2)
      t.Engine->DeleteKey(s, k.data(), v, nullptr);
    else
      t.Engine->InsertKey(s, k.data(), v + 1000, nullptr);
  }
  t.Engine->DeleteAllKeys(s);
  EXPECT_EQ(s.GetRootNode(), zfIndexNoBlock);
  EXPECT_TRUE(t.Store->LiveBlocks().empty());
  t.Store->Rollback(before);
  EXPECT_TRUE(t.Store->Snapshot() == before);
  t.Check("after rollback");
  uint32_t count = 0;
  t.Engine->GetKeyCount(s, count);
  EXPECT_EQ(count, 300u);
}

// Node bytes of a first key, cell by cell: header, window in the middle, the entry.
TEST_F(BstarTreeTest, FirstKeyNodeBytes) {
  TTree t(TRegime::Unique, 0, 42);
  TzfIndexNodeStore& s = *t.Store;
  TzfStaticKeyBstarTreeIndexEngine& e = *t.Engine;
  // Two Int32 fields: key of 9 bytes; leaf entry 9 + 8; internal entry 9 + 4.
  ASSERT_EQ(e.bieKeyEngine->bkeKeyLength, 9);
  EXPECT_EQ(e.ieSizeOfLeafNodeKeyPair, 17);
  EXPECT_EQ(e.ieSizeOfInternalNodeKeyPair, 13);
  EXPECT_EQ(e.ieMaxInternalNodeKeyCount, 4);  // usable size max(4 * 13 + 44, 3 * 17 + 40) = 96
  EXPECT_EQ(e.ieMaxLeafNodeKeyCount, 3);
  TBytes k = t.Key(7, 1, 0x0102030405);
  auto p = t.Path();
  ASSERT_TRUE(e.InsertKey(s, k.data(), 0x0102030405, p.get()));
  ASSERT_EQ(s.GetRootNode(), 1u);
  const std::vector<uint8_t>& b = t.Store->RawBlock(1);
  TBytes expect(96, 0);
  const uint8_t head[] = {'Z', 'F', 'I', 'H', 1, 0, 0, 0};
  std::copy(std::begin(head), std::end(head), expect.begin());
  expect[8] = 1;  // LSN of the store's first transaction
  // counter: low half 0; high half = random shl 16 + LSN low 16 bits
  std::mt19937 gen(42);
  const uint32_t high = ((gen() % 65535) << 16) | 1;
  for (int i = 0; i < 4; ++i) expect[20 + i] = static_cast<uint8_t>(high >> (8 * i));
  for (int i = 24; i < 32; ++i) expect[i] = 0xFF;  // no previous, no next leaf
  expect[32] = 1;                                   // first slot: maxLeaf shr 1
  expect[34] = 1;                                   // one entry
  expect[36] = 2;                                   // leaf
  expect[37] = 3;                                   // index number
  std::copy(k.begin(), k.end(), expect.begin() + 40 + 17);
  const uint8_t ref[] = {5, 4, 3, 2, 1, 0, 0, 0};
  std::copy(std::begin(ref), std::end(ref), expect.begin() + 40 + 17 + 9);
  EXPECT_EQ(b, expect);
  EXPECT_EQ(p->bpipPage, 1u);
  EXPECT_EQ(p->bpipItem, 1);
  EXPECT_EQ(s.GetNodeCount(), 1u);
  EXPECT_EQ(s.GetStoredKeyCount(), 1u);
}

// Damaged nodes answer 15424 (15409 outside the file) and hold no block afterwards.
TEST_F(BstarTreeTest, DamagedNodesAreRefused) {
  struct TCase {
    const char* Name;
    uint32_t Offset;
    uint8_t Value;
  };
  const TCase cases[] = {{"signature", 0, 'X'}, {"block number", 4, 9},     {"kind", 36, 7},
                         {"count", 34, 200},      {"window", 32, 90},       {"first slot of an internal node", 32, 1}};
  for (const TCase& c : cases) {
    TTree t(TRegime::Unique, 0, 43);
    TzfIndexNodeStore& s = *t.Store;
    for (int i = 0; i < 40; ++i) {
      TBytes k = t.Key(i, 0, i + 1);
      ASSERT_TRUE(t.Engine->InsertKey(s, k.data(), i + 1, nullptr));
    }
    // Damage the root (internal) for the internal case, else a leaf.
    const uint32_t root = s.GetRootNode();
    const uint32_t target = std::string(c.Name).find("internal") != std::string::npos ? root : root - 1;
    t.Store->RawBlock(target)[c.Offset] = c.Value;
    auto p = t.Path();
    bool raised = false;
    for (int i = 0; i < 40 && !raised; ++i) {
      TBytes k = t.Key(i, 0, i + 1);
      try {
        t.Engine->FindKey(s, k.data(), 0, 0, 0, *p, skaEqualFirst, nullptr);
        t.Engine->InsertKey(s, t.Key(i, 1, 100 + i).data(), 100 + i, nullptr);
      } catch (const EzfBaseException& ex) {
        EXPECT_EQ(ex.ErrorCode(), zfErrNotAnIndexBlock) << c.Name;
        raised = true;
      }
    }
    EXPECT_TRUE(raised) << c.Name;
    EXPECT_EQ(t.Store->HeldCount(), 0) << c.Name;
    TzfBstarTreeCheckResult r;
    t.Engine->CheckTree(s, r);
    EXPECT_FALSE(r.Problems.empty()) << c.Name;
  }
  // A child pointer outside the file.
  TTree t(TRegime::Unique, 0, 44);
  TzfIndexNodeStore& s = *t.Store;
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(t.Engine->InsertKey(s, t.Key(i, 0, i + 1).data(), i + 1, nullptr));
  zfPutLE32(t.Store->RawBlock(s.GetRootNode()).data() + 40, 5000);
  auto p = t.Path();
  try {
    t.Engine->NextKey(s, *p, nullptr);
    ADD_FAILURE() << "no error";
  } catch (const EzfBaseException& ex) {
    EXPECT_EQ(ex.ErrorCode(), zfErrBlockNumberOutOfRange);
  }
  EXPECT_TRUE(p->IsEof());
  EXPECT_EQ(t.Store->HeldCount(), 0);
  // A cycle of child pointers stops at the depth limit.
  zfPutLE32(t.Store->RawBlock(s.GetRootNode()).data() + 40, s.GetRootNode());
  EXPECT_THROW(t.Engine->FindKey(s, t.Key(0, 0, 1).data(), 0, 0, 0, *p, skaEqualFirst, nullptr), EzfBaseException);
  EXPECT_THROW(t.Engine->DeleteAllKeys(s), EzfBaseException);
  EXPECT_EQ(t.Store->HeldCount(), 0);
}

// A node keeps the index number it was written with; a file whose earlier index was removed by a
// writer that does not renumber keeps the old numbers, and its nodes are read all the same.
TEST_F(BstarTreeTest, NodesWithAnotherIndexNumberAreRead) {
  TTree t(TRegime::Unique, 0, 43);
  TzfIndexNodeStore& s = *t.Store;
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(t.Engine->InsertKey(s, t.Key(i, 0, i + 1).data(), i + 1, nullptr));
  ASSERT_GT(s.GetNodeCount(), 2u);  // a root and leaves
  for (uint32_t b : t.Store->LiveBlocks()) t.Store->RawBlock(b)[37] = 4;
  auto p = t.Path();
  ASSERT_TRUE(t.Engine->FindKey(s, t.Key(17, 0, 18).data(), 0, 0, 0, *p, skaEqualFirst, nullptr));
  EXPECT_EQ(p->RefNr, 18);
  p->Clear();
  int walked = 0;
  while (t.Engine->NextKey(s, *p, nullptr)) ++walked;
  EXPECT_EQ(walked, 40);
  EXPECT_TRUE(t.Engine->InsertKey(s, t.Key(40, 0, 41).data(), 41, nullptr));
  EXPECT_TRUE(t.Engine->DeleteKey(s, t.Key(3, 0, 4).data(), 4, nullptr));
  t.Check("old index numbers");
}

// Bookmarks: layout, checks, order.
TEST_F(BstarTreeTest, Bookmarks) {
  TTree t(TRegime::Dups, 0, 45);
  TzfIndexNodeStore& s = *t.Store;
  TBytes k = t.Key(5, 1, 0);
  ASSERT_TRUE(t.Engine->InsertKey(s, k.data(), 77, nullptr));
  auto p = t.Path();
  ASSERT_TRUE(t.Engine->FindKey(s, k.data(), 0, 0, 0, *p, skaEqualFirst, nullptr));
  const uint32_t size = p->BookmarkSize();
  ASSERT_EQ(size, 24u + 9u);
  TBytes onKey(size), before(size), bof(size), eof(size);
  EXPECT_EQ(p->GetBookmark(onKey.data(), size - 1), zfErrInvalidParam);
  ASSERT_EQ(p->GetBookmark(onKey.data(), size), 0u);
  // Cells: index ID 3, position 4 (on key), key valid, not deleted, reference number, key length, key.
  EXPECT_EQ(zfGetLE32(onKey.data() + 4), 3u);
  EXPECT_EQ(onKey[8], 4);
  EXPECT_EQ(onKey[9], 1);
  EXPECT_EQ(onKey[10], 0);
  EXPECT_EQ(onKey[11], 0);
  EXPECT_EQ(zfGetLE64(onKey.data() + 12), 77u);
  EXPECT_EQ(zfGetLE32(onKey.data() + 20), 9u);
  EXPECT_EQ(TBytes(onKey.begin() + 24, onKey.end()), k);
  EXPECT_EQ(zfGetLE32(onKey.data()), zfHashELF(onKey.data() + 4, 20 + 9));
  p->SetToCrackBefore();
  ASSERT_EQ(p->GetBookmark(before.data(), size), 0u);
  p->SetToBof();
  ASSERT_EQ(p->GetBookmark(bof.data(), size), 0u);
  p->SetToEof();
  ASSERT_EQ(p->GetBookmark(eof.data(), size), 0u);
  int8_t c = 9;
  EXPECT_EQ(p->CompareBookmarks(before.data(), onKey.data(), size, c), 0u);
  EXPECT_EQ(c, -1);
  EXPECT_EQ(p->CompareBookmarks(bof.data(), bof.data(), size, c), 0u);
  EXPECT_EQ(c, 0);
  EXPECT_EQ(p->CompareBookmarks(eof.data(), onKey.data(), size, c), 0u);
  EXPECT_EQ(c, 1);
  EXPECT_EQ(p->CompareBookmarks(onKey.data(), bof.data(), size, c), 0u);
  EXPECT_EQ(c, 1);
  // Every byte from offset 4 on is covered by the check value; a short buffer is refused first.
  for (uint32_t i = 4; i < size; ++i) {
    TBytes d = onKey;
    d[i] ^= 0x40;
    EXPECT_EQ(p->CheckBookmark(d.data(), size), zfErrBookmarkMismatch) << i;
  }
  EXPECT_EQ(p->CheckBookmark(onKey.data(), size - 1), zfErrBookmarkMismatch);
  EXPECT_EQ(p->CheckBookmark(nullptr, size), zfErrBookmarkMismatch);
  // A position or flag outside its values, even with a matching check value.
  for (uint32_t at : {8u, 9u, 10u, 11u}) {
    TBytes d = onKey;
    d[at] = 6;
    zfPutLE32(d.data(), zfHashELF(d.data() + 4, 20 + 9));
    EXPECT_EQ(p->CheckBookmark(d.data(), size), zfErrBookmarkMismatch) << at;
  }
  // Another index's bookmark.
  TBytes other = onKey;
  zfPutLE32(other.data() + 4, 2);
  zfPutLE32(other.data(), zfHashELF(other.data() + 4, 20 + 9));
  EXPECT_EQ(p->CheckBookmark(other.data(), size), zfErrBookmarkMismatch);
  // Back to the key through the bookmark, then revalidated.
  ASSERT_EQ(p->SetToBookmark(onKey.data(), size), 0u);
  t.Engine->ValidateIndexPath(s, *p);
  EXPECT_TRUE(p->IsOnKey());
  EXPECT_EQ(p->RefNr, 77);
  rtl::Variant v;
  EXPECT_EQ(p->BookmarkAsVariant(eof.data(), size, v), 0u);
  EXPECT_TRUE(v.IsNull());
  // Standalone paths: reference numbers only.
  auto standalone = TzfBaseIndexPath::CreateStandalone();
  EXPECT_EQ(standalone->BookmarkSize(), 24u);
  standalone->RefNr = 12;
  standalone->Position = ippOnKey;
  TBytes sb(24);
  ASSERT_EQ(standalone->GetBookmark(sb.data(), 24), 0u);
  EXPECT_EQ(zfGetLE32(sb.data() + 4), 0xFFFFFFFFu);
  EXPECT_EQ(standalone->BookmarkAsVariant(sb.data(), 24, v), 0u);
  EXPECT_EQ(v, rtl::Variant(int64_t{12}));
}

// Key errors name the operation, file, index, key and reference number.
TEST_F(BstarTreeTest, KeyErrorText) {
  TTree t(TRegime::Unique, 0, 46);
  TBytes k = t.Key(5, 1, 0);
  EXPECT_EQ(t.Engine->GetKeyError(etDelete, k.data(), 42), zfErrKeyViol);
  EzfBaseException e(zfErrKeyViol);
  EXPECT_NE(e.GetErrorString().find(u"Operation: Delete\r\nFile: \"test.idx\"\r\nIndex: \"ByAB\"\r\nKey: "),
            UnicodeString::npos);
  EXPECT_NE(e.GetErrorString().find(u"\r\nRefNr: 42"), UnicodeString::npos);
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
namespace {

// Leaves of 6 entries, internal nodes of 7, unique keys on field A.
class BstarTreeShapeTest : public BstarTreeTest {
 protected:
  BstarTreeShapeTest() : t(TRegime::Unique, 46, 50), s(*t.Store), e(*t.Engine) {}
  TBytes K(int32_t a) { return t.Key(a, 0, a); }
  bool Insert(int32_t a, int64_t ref = 0) { return e.InsertKey(s, K(a).data(), ref ? ref : a, nullptr); }
  bool Delete(int32_t a) { return e.DeleteKey(s, K(a).data(), a, nullptr); }
  int32_t A(const uint8_t* aKey) { return e.bieKeyEngine->KeyAsVariant(aKey, 0).AsInteger(); }
  // The A values of every leaf, left to right along the chain, with each leaf's first slot.
  std::vector<std::pair<uint16_t, std::vector<int32_t>>> Leaves() {
    std::vector<std::pair<uint16_t, std::vector<int32_t>>> r;
    uint32_t b = s.GetRootNode();
    while (t.Store->RawBlock(b)[36] == 1) b = zfGetLE32(t.Store->RawBlock(b).data() + 40);
    for (; b != zfIndexNoBlock; b = zfGetLE32(t.Store->RawBlock(b).data() + 28)) {
      const uint8_t* n = t.Store->RawBlock(b).data();
      std::vector<int32_t> v;
      for (uint32_t i = zfGetLE16(n + 32); i < zfGetLE16(n + 32) + zfGetLE16(n + 34); ++i)
        v.push_back(A(n + e.LeafKeyOffset(i)));
      r.emplace_back(zfGetLE16(n + 32), v);
    }
    return r;
  }
  std::vector<int32_t> RootSeparators() {
    const uint8_t* n = t.Store->RawBlock(s.GetRootNode()).data();
    std::vector<int32_t> v;
    for (uint32_t i = 0; i < zfGetLE16(n + 34); ++i) v.push_back(A(n + e.InternalKeyOffset(i)));
    return v;
  }
  void Check() { t.Check(::testing::UnitTest::GetInstance()->current_test_info()->name()); }

  TTree t;
  TzfIndexNodeStore& s;
  TzfStaticKeyBstarTreeIndexEngine& e;
};

TEST_F(BstarTreeShapeTest, AscendingInsertsRecentreThenSplit) {
  ASSERT_EQ(e.ieMaxLeafNodeKeyCount, 6);
  for (int32_t a = 1; a <= 3; ++a) ASSERT_TRUE(Insert(a));
  EXPECT_EQ(Leaves()[0].first, 3);  // the first key went to slot 6 shr 1, the next ones behind it
  ASSERT_TRUE(Insert(4));           // the window reached the end: re-centred
  EXPECT_EQ(Leaves()[0].first, 1);
  ASSERT_TRUE(Insert(5));
  ASSERT_TRUE(Insert(6));
  EXPECT_EQ(Leaves()[0].first, 0);  // full, window from slot 0
  ASSERT_TRUE(Insert(7));           // split: m = 3 stay, the new leaf starts at slot m shr 1
  using L = std::vector<std::pair<uint16_t, std::vector<int32_t>>>;
  EXPECT_EQ(Leaves(), (L{{0, {1, 2, 3}}, {1, {4, 5, 6, 7}}}));
  EXPECT_EQ(RootSeparators(), std::vector<int32_t>{3});
  EXPECT_EQ(s.GetNodeCount(), 3u);
  Check();
}

TEST_F(BstarTreeShapeTest, SplitAtTheMiddleGoesToTheSmallerHalf) {
  for (int32_t a : {10, 20, 30, 40, 50, 60}) ASSERT_TRUE(Insert(a));
  ASSERT_TRUE(Insert(35));  // s = m = 3; both halves would hold 3: the new leaf takes it, in front
  using L = std::vector<std::pair<uint16_t, std::vector<int32_t>>>;
  EXPECT_EQ(Leaves(), (L{{0, {10, 20, 30}}, {0, {35, 40, 50, 60}}}));
  Check();
}

TEST_F(BstarTreeShapeTest, DeletesRepairSeparatorsBorrowAndMerge) {
  for (int32_t a : {10, 20, 30, 40, 50, 60, 70}) ASSERT_TRUE(Insert(a));
  using L = std::vector<std::pair<uint16_t, std::vector<int32_t>>>;
  ASSERT_EQ(Leaves(), (L{{0, {10, 20, 30}}, {1, {40, 50, 60, 70}}}));
  // The first leaf's largest key: separator repaired, then one key borrowed from the right.
  ASSERT_TRUE(Delete(30));
  EXPECT_EQ(Leaves(), (L{{0, {10, 20, 40}}, {2, {50, 60, 70}}}));
  EXPECT_EQ(RootSeparators(), std::vector<int32_t>{40});
  Check();
  // The last leaf below its minimum borrows from the left.
  ASSERT_TRUE(Insert(15));
  ASSERT_TRUE(Delete(70));
  EXPECT_EQ(Leaves(), (L{{1, {10, 15, 20}}, {1, {40, 50, 60}}}));
  EXPECT_EQ(RootSeparators(), std::vector<int32_t>{20});
  Check();
  // Nothing to borrow: merged, the root collapses to the remaining leaf.
  ASSERT_TRUE(Delete(50));
  EXPECT_EQ(Leaves().size(), 1u);
  EXPECT_EQ(Leaves()[0].second, (std::vector<int32_t>{10, 15, 20, 40, 60}));
  EXPECT_EQ(s.GetNodeCount(), 1u);
  Check();
  for (int32_t a : {10, 15, 20, 40, 60}) ASSERT_TRUE(Delete(a));
  EXPECT_EQ(s.GetRootNode(), zfIndexNoBlock);
  EXPECT_EQ(s.GetNodeCount(), 0u);
  EXPECT_EQ(s.GetStoredKeyCount(), 0u);
  EXPECT_TRUE(t.Store->LiveBlocks().empty());
  EXPECT_FALSE(Delete(10));
}

TEST_F(BstarTreeShapeTest, DeleteAllKeysFreesEveryNode) {
  for (int32_t a = 0; a < 400; ++a) ASSERT_TRUE(Insert(a * 7 % 400));
  TzfBstarTreeCheckResult r;
  e.CheckTree(s, r);
  ASSERT_GE(r.Depth, 3u);
  e.DeleteAllKeys(s);
  EXPECT_EQ(s.GetRootNode(), zfIndexNoBlock);
  EXPECT_EQ(s.GetNodeCount(), 0u);
  EXPECT_EQ(s.GetStoredKeyCount(), 0u);
  EXPECT_TRUE(t.Store->LiveBlocks().empty());
  EXPECT_EQ(t.Store->HeldCount(), 0);
  ASSERT_TRUE(Insert(5));  // usable again
  Check();
}

TEST_F(BstarTreeShapeTest, UniqueIndexRefusesAnEqualKeyAndDeletesOnlyTheOwnRecord) {
  ASSERT_TRUE(Insert(5, 100));
  const TzfMemoryIndexNodeStore::TState before = t.Store->Snapshot();
  EXPECT_FALSE(Insert(5, 200));
  EXPECT_TRUE(t.Store->Snapshot() == before);  // refused before anything was touched
  // The key of another record (same key, other reference number) is not deleted.
  EXPECT_FALSE(e.DeleteKey(s, K(5).data(), 200, nullptr));
  EXPECT_EQ(s.GetStoredKeyCount(), 1u);
  EXPECT_TRUE(e.DeleteKey(s, K(5).data(), 100, nullptr));
}

TEST_F(BstarTreeShapeTest, RevalidationUsesTheLeafItStandsIn) {
  for (int32_t a : {10, 20, 30, 40, 50, 60, 70}) ASSERT_TRUE(Insert(a));
  auto p = t.Path();
  ASSERT_TRUE(e.FindKey(s, K(50).data(), 0, 0, 0, *p, skaEqualFirst, nullptr));
  ASSERT_TRUE(Insert(45));  // same leaf, before the path's key
  t.Store->GetBlockCalls = 0;
  e.ValidateIndexPath(s, *p);
  EXPECT_EQ(t.Store->GetBlockCalls, 1u);  // one fetch, no search from the root
  EXPECT_TRUE(p->IsOnKey());
  EXPECT_EQ(A(p->Key), 50);
  ASSERT_TRUE(e.NextKey(s, *p, nullptr));
  EXPECT_EQ(A(p->Key), 60);
  // Its key deleted by another path: Deleted, 8708, and the next step goes on after it.
  ASSERT_TRUE(Delete(60));
  e.ValidateIndexPath(s, *p);
  EXPECT_TRUE(p->IsOnCrack());
  EXPECT_EQ(p->CheckCurrentState(), zfErrKeyOrRecDeleted);
  ASSERT_TRUE(e.NextKey(s, *p, nullptr));
  EXPECT_EQ(A(p->Key), 70);
  // A path pointing into a node freed by a merge searches afresh.
  auto q = t.Path();
  ASSERT_TRUE(e.FindKey(s, K(70).data(), 0, 0, 0, *q, skaEqualFirst, nullptr));
  for (int32_t a : {45, 50, 40}) ASSERT_TRUE(Delete(a));
  ASSERT_EQ(Leaves().size(), 1u);
  ASSERT_TRUE(e.PrevKey(s, *q, nullptr));
  EXPECT_EQ(A(q->Key), 30);
  Check();
}

TEST_F(BstarTreeShapeTest, PathOperations) {
  ASSERT_TRUE(Insert(10));
  auto p = t.Path();
  ASSERT_TRUE(e.FindKey(s, K(10).data(), 0, 0, 0, *p, skaEqualFirst, nullptr));
  p->SetToCrackAfter();
  auto d = p->Duplicate();
  auto* dp = static_cast<TPath*>(d.get());
  EXPECT_EQ(dp->Position, ippOnCrackAfter);
  EXPECT_EQ(dp->RefNr, 10);
  EXPECT_EQ(A(dp->Key), 10);
  EXPECT_EQ(dp->bpipPage, p->bpipPage);
  EXPECT_EQ(dp->CheckCurrentState(), zfErrNoCurrRec);
  d->SetToEof();
  d->SetToCrackAfter();
  EXPECT_TRUE(d->IsEof());
  EXPECT_EQ(d->CheckCurrentState(), zfErrEOF);
  d->SetToBof();
  EXPECT_EQ(d->CheckCurrentState(), zfErrBOF);
  // A record without a key: 9986 counts as success.
  EXPECT_EQ(d->SetToRecord(nullptr, 7), 0u);
  EXPECT_TRUE(d->IsOnKey());
  EXPECT_FALSE(d->KeyValid);
  EXPECT_EQ(d->RefNr, 7);
  // A path of another engine is ignored by changes.
  TTree other(TRegime::Unique, 46, 51);
  auto foreign = other.Path();
  ASSERT_TRUE(e.InsertKey(s, K(20).data(), 20, foreign.get()));
  EXPECT_EQ(foreign->Position, ippUnknown);
  EXPECT_THROW(e.NextKey(s, *foreign, nullptr), rtl::EAssertionFailed);
}

TEST_F(BstarTreeShapeTest, SearchesWithAFilter) {
  for (int32_t a : {10, 20, 30, 40, 50, 60, 70, 80}) ASSERT_TRUE(Insert(a));
  TTestFilter notFifty([&](const uint8_t* k) { return A(k) != 50 && A(k) != 20; });
  auto p = t.Path();
  // The key after 40 is 50, which the filter rejects: the search goes on to 60.
  ASSERT_TRUE(e.FindKey(s, K(40).data(), 0, 0, 0, *p, skaGreater, &notFifty));
  EXPECT_EQ(A(p->Key), 60);
  ASSERT_TRUE(e.FindKey(s, K(30).data(), 0, 0, 0, *p, skaSmaller, &notFifty));
  EXPECT_EQ(A(p->Key), 10);
  ASSERT_TRUE(e.FindKey(s, K(45).data(), 0, 0, 0, *p, skaGreaterEqual, &notFifty));
  EXPECT_EQ(A(p->Key), 60);
  ASSERT_TRUE(e.NextKey(s, *p, &notFifty));
  EXPECT_EQ(A(p->Key), 70);
  // An inactive filter counts as none.
  notFifty.SetActive(false);
  ASSERT_TRUE(e.FindKey(s, K(40).data(), 0, 0, 0, *p, skaGreater, &notFifty));
  EXPECT_EQ(A(p->Key), 50);
  // A filter rejecting everything walks the chain to the end.
  TTestFilter none([](const uint8_t*) { return false; });
  p->SetToBof();
  EXPECT_FALSE(e.NextKey(s, *p, &none));
  EXPECT_TRUE(p->IsEof());
}

// Walks that cross leaves (a filter passing nothing, stepping on) meet the thread's cancel flag at
// each crossing; a walk inside one leaf does not need to.
TEST_F(BstarTreeShapeTest, WalksAcrossLeavesStopWhenCancelled) {
  for (int32_t a = 1; a <= 60; ++a) ASSERT_TRUE(Insert(a));
  ASSERT_GT(Leaves().size(), 5u);
  TTestFilter none([](const uint8_t*) { return false; });
  std::atomic<bool>& cancel = *zfGetCancelFlagAddress();
  auto p = t.Path();
  ASSERT_TRUE(e.FindKey(s, K(1).data(), 0, 0, 0, *p, skaEqualFirst, nullptr));
  cancel = true;
  EXPECT_TRUE(e.NextKey(s, *p, nullptr));  // the next key lies in the same leaf
  p->SetToBof();
  try {
    e.NextKey(s, *p, &none);
    ADD_FAILURE() << "the walk ignored the cancel flag";
  } catch (const EzfBaseException& x) {
    EXPECT_EQ(x.GetErrorCode(), zfErrTimeout);
  }
  EXPECT_TRUE(p->IsEof());
  cancel = false;
  EXPECT_EQ(t.Store->HeldCount(), 0);
  p->SetToEof();
  EXPECT_FALSE(e.PrevKey(s, *p, &none));
  EXPECT_TRUE(p->IsBof());
}

TEST_F(BstarTreeShapeTest, ALeafChainCycleEndsWithAnError) {
  for (int32_t a : {10, 20, 30, 40, 50, 60, 70}) ASSERT_TRUE(Insert(a));
  // The second leaf's next link points back at the first, whose back link names no such leaf.
  const uint32_t root = s.GetRootNode();
  const uint32_t first = zfGetLE32(t.Store->RawBlock(root).data() + 40);
  const uint32_t second = zfGetLE32(t.Store->RawBlock(root).data() + 40 + 13);
  zfPutLE32(t.Store->RawBlock(second).data() + 28, first);
  zfPutLE32(t.Store->RawBlock(first).data() + 24, second);
  TTestFilter none([](const uint8_t*) { return false; });
  auto p = t.Path();
  try {
    e.NextKey(s, *p, &none);
    ADD_FAILURE() << "no error";
  } catch (const EzfBaseException& ex) {
    EXPECT_EQ(ex.ErrorCode(), zfErrNotAnIndexBlock);
  }
  EXPECT_TRUE(p->IsEof());
  EXPECT_EQ(t.Store->HeldCount(), 0);
}

// Duplicates only with a NULL: an equal key without NULLs is refused even from the next leaf.
TEST_F(BstarTreeTest, NullDuplicatesLookIntoTheNeighbouringLeaf) {
  TTree t(TRegime::DupsNull, 0, 52);
  TzfIndexNodeStore& s = *t.Store;
  ASSERT_EQ(t.Engine->ieMaxLeafNodeKeyCount, 5);
  for (int32_t a = 1; a <= 6; ++a) ASSERT_TRUE(t.Engine->InsertKey(s, t.Key(a, 0, 0).data(), a * 10, nullptr));
  // (3, ref 30) is the last entry of the first leaf; (3, ref 99) would go first into the second.
  EXPECT_FALSE(t.Engine->InsertKey(s, t.Key(3, 0, 0).data(), 99, nullptr));
  EXPECT_FALSE(t.Engine->InsertKey(s, t.Key(3, 0, 0).data(), 1, nullptr));
  for (int64_t r : {5, 6, 7}) EXPECT_TRUE(t.Engine->InsertKey(s, t.Key(std::nullopt, 0, 0).data(), r, nullptr));
  EXPECT_FALSE(t.Engine->InsertKey(s, t.Key(std::nullopt, 0, 0).data(), 6, nullptr));
  t.Check("null duplicates");
}

// The key size check raises the file's block size, up to 64 KB.
TEST_F(BstarTreeTest, KeySizeCheckRaisesTheBlockSize) {
  TTestTable table;
  AddTestField(*table.Fields, u"S", zftNullString, 2000);
  TzfIndexDescriptor* index =
      table.Indices->AddIndex(u"ByS", 0, idNone, u"", &TzfCompKeyDescriptor::ClassInfo(), nullptr);
  static_cast<TzfCompKeyDescriptor*>(index->idKeyDescriptor.get())->Add(0);
  TzfFileDescriptor* file = index->GetIndexFile();
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(file->fdBlockSize, TzfBlockSize::zfbs4k);
  TzfStaticKeyBstarTreeIndexEngine::CheckValidFromDescriptor(*index);
  EXPECT_GT(file->fdBlockSize, TzfBlockSize::zfbs4k);
  EXPECT_GE(file->GetUsableBlockSize(), 3u * (static_cast<uint32_t>(index->idKeyDescriptor->GetKeyLength()) + 8) + 40);
}

}  // namespace
}  // namespace zf::test
