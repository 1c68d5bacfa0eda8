// The B*-tree index engine against an ordered multiset: every duplicate regime, small nodes (deep
// trees), every search action, walks, paths held across changes, the invariant check after every
// batch, rollback, node bytes, damaged nodes and bookmarks.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "dictionary/zfsdKeyDescriptor.h"
#include "index/zfseIndexEngineStaticKeyBstarTree.h"
#include "index/zfseIndexNodeStoreMemory.h"
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
      if (!m.Refuses(e)) EXPECT_FALSE(t.Engine->DeleteKey(s, e.Key.data(), e.Ref, nullptr)) << where;
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
          if (!firstEq && !firstGt) EXPECT_TRUE(p->IsEof()) << w;
          break;
        case skaGreater:
        case skaAnyGreater:
          EXPECT_TRUE(r);
          ExpectOn(t, *p, firstGt, w);
          if (!firstGt) EXPECT_TRUE(p->IsEof()) << w;
          break;
        case skaSmallerEqual:
          EXPECT_TRUE(r);
          ExpectOn(t, *p, lastEq ? lastEq : lastLt, w);
          if (!lastEq && !lastLt) EXPECT_TRUE(p->IsBof()) << w;
          break;
        case skaSmaller:
        case skaAnySmaller:
          EXPECT_TRUE(r);
          ExpectOn(t, *p, lastLt, w);
          if (!lastLt) EXPECT_TRUE(p->IsBof()) << w;
          break;
        case skaAnyEqual:
          EXPECT_EQ(r, firstEq != nullptr) << w;
          if (firstEq) EXPECT_TRUE(p->IsOnKey() && cmp(TEntry{t.PathKey(*p), 0}) == 0) << w;
          break;
        case skaAnyGreaterEqual:
        case skaAnySmallerEqual: {
          EXPECT_TRUE(r);
          const TEntry* other = a == skaAnyGreaterEqual ? firstGt : lastLt;
          if (firstEq)
            EXPECT_TRUE(p->IsOnKey() && cmp(TEntry{t.PathKey(*p), 0}) == 0) << w;
          else
            ExpectOn(t, *p, other, w);
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

}  // namespace
}  // namespace zf::test
