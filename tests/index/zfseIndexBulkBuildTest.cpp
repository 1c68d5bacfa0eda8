// The B*-tree's bulk builder against building key by key: the same entries, a sound tree, for key
// counts around every level boundary; its plan for every key count; duplicates and misuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "foundation/zfllErrors.h"
#include "index/zfseIndexEngineStaticKeyBstarTreeBulk.h"
#include "storage/zfsrTimeoutHandling.h"
#include "tests/index/zfseBstarTreeFixture.h"

namespace zf::test {
namespace {

class IndexBulkBuildTest : public IndexStarted {
 protected:
  void SetUp() override { zfSetTimeout(0, true); }
};

using TEntries = std::vector<std::pair<int32_t, int64_t>>;

TEntries Entries(TSmallTree& t) {
  TEntries r;
  auto path = t.Path();
  t.Engine->Iterate(*t.Store, *path, nullptr,
                    [&](const uint8_t* k, int64_t ref) {
                      r.emplace_back(t.A(k), ref);
                      return kirContinue;
                    },
                    nullptr, TzfRangeInfo{}, TzfRangeInfo{}, nullptr, nullptr);
  return r;
}

// Builds the same records key by key and in bulk (containers of aPerContainer) and compares.
void Differential(bool aDups, uint32_t aCount, uint32_t aPerContainer, bool aSorted, uint32_t aSeed) {
  SCOPED_TRACE(testing::Message() << "count " << aCount << " per container " << aPerContainer << " dups " << aDups
                                  << " sorted " << aSorted);
  TSmallTree bulk(aDups, 40), single(aDups, 40);
  std::vector<int32_t> values(aCount);
  std::mt19937 gen(aSeed);
  for (uint32_t i = 0; i < aCount; ++i) values[i] = aDups ? static_cast<int32_t>(gen() % (aCount / 3 + 1)) : static_cast<int32_t>(i);
  if (aSorted)
    std::sort(values.begin(), values.end());
  else
    std::shuffle(values.begin(), values.end(), gen);
  TzfStaticKeyBstarTreeIndexBulkBuilder builder(*bulk.Store, *bulk.Engine, aPerContainer);
  for (uint32_t i = 0; i < aCount; ++i) {
    auto rec = MakeRecord(*bulk.Table.Fields, {rtl::Variant(values[i]), rtl::Variant(0)});
    ASSERT_EQ(builder.InsertKey(i + 1, rec.data()), 0u);
    ASSERT_TRUE(single.Engine->InsertKey(*single.Store, single.Key(values[i], 0).data(), i + 1, nullptr));
  }
  ASSERT_EQ(builder.Finalize(), 0u);
  bulk.Check("bulk");
  EXPECT_EQ(Entries(bulk), Entries(single));
  EXPECT_EQ(bulk.Store->GetStoredKeyCount(), aCount);
  // The built tree takes changes like any other.
  if (aCount > 0) {
    ASSERT_TRUE(bulk.Engine->DeleteKey(*bulk.Store, bulk.Key(values[0], 0).data(), 1, nullptr));
    ASSERT_TRUE(bulk.Engine->InsertKey(*bulk.Store, bulk.Key(values[0], 0).data(), 1, nullptr));
    bulk.Check("after changes");
  }
}

TEST_F(IndexBulkBuildTest, SameEntriesAsKeyByKeyAroundLevelBoundaries) {
  TSmallTree probe(false, 40);
  const uint32_t maxLeaf = probe.Engine->ieMaxLeafNodeKeyCount, maxInt = probe.Engine->ieMaxInternalNodeKeyCount;
  TzfStaticKeyBstarTreeIndexBulkBuilder plan(*probe.Store, *probe.Engine);
  std::vector<uint32_t> counts = {0, 1, 2, 3};
  // Around one full leaf, two levels and three levels.
  for (uint32_t edge : {maxLeaf, maxLeaf * (maxInt + 1), maxLeaf * (maxInt + 1) * (maxInt + 1) / 4})
    for (int32_t d = -2; d <= 2; ++d) counts.push_back(static_cast<uint32_t>(static_cast<int32_t>(edge) + d));
  counts.push_back(5000);
  uint32_t seed = 1;
  for (uint32_t n : counts) {
    Differential(false, n, 0, false, seed++);
    Differential(true, n, 7, false, seed++);
    Differential(false, n, 13, true, seed++);
  }
  EXPECT_GE(plan.Plan(5000).Nodes.size(), 2u) << "the large case must reach three levels";
}

TEST_F(IndexBulkBuildTest, PlanFillsEveryNodeAtLeastHalfForEveryCount) {
  TSmallTree t(false, 40);
  TzfStaticKeyBstarTreeIndexBulkBuilder b(*t.Store, *t.Engine);
  const uint64_t maxLeaf = t.Engine->ieMaxLeafNodeKeyCount, maxInt = t.Engine->ieMaxInternalNodeKeyCount;
  for (uint64_t k = 1; k <= 20000; ++k) {
    const auto p = b.Plan(k);
    const uint64_t lmin = k / p.Leaves, lmax = (k + p.Leaves - 1) / p.Leaves;
    ASSERT_LE(lmax, maxLeaf) << k;
    if (p.Leaves > 1) {
      ASSERT_GE(lmin, (maxLeaf + 1) >> 1) << k;
    }
    uint64_t c = p.Leaves;
    for (size_t l = 0; l < p.Nodes.size(); ++l) {
      ASSERT_EQ(p.Children[l], c) << k;
      const uint64_t m = p.Nodes[l];
      ASSERT_LE((c + m - 1) / m - 1, maxInt) << k << " level " << l;
      if (m > 1) {
        ASSERT_GE(c / m - 1, maxInt >> 1) << k << " level " << l;
      }
      ASSERT_GE(c / m, 2u) << k;
      c = m;
    }
    ASSERT_EQ(c, 1u) << k;
  }
}

TEST_F(IndexBulkBuildTest, DuplicatesInAUniqueIndexFail) {
  // Out of order, and ascending (a container that needs no sort still checks its neighbours). A
  // container sealed while keys come in may raise already.
  for (const std::vector<int32_t>& values : {std::vector<int32_t>{5, 1, 9, 5}, std::vector<int32_t>{1, 5, 5, 9}}) {
    for (uint32_t perContainer : {0u, 2u, 3u}) {
      TSmallTree t(false, 40);
      TzfStaticKeyBstarTreeIndexBulkBuilder b(*t.Store, *t.Engine, perContainer);
      try {
        for (int32_t v : values) {
          auto rec = MakeRecord(*t.Table.Fields, {rtl::Variant(v), rtl::Variant(0)});
          ASSERT_EQ(b.InsertKey(v + 100, rec.data()), 0u);
        }
        b.Finalize();
        ADD_FAILURE() << "no key violation";
      } catch (const EzfBaseException& e) {
        EXPECT_EQ(e.GetErrorCode(), zfErrKeyViol);
        EXPECT_NE(e.Message().find(u"BulkCreate"), UnicodeString::npos);
      }
    }
  }
}

TEST_F(IndexBulkBuildTest, OnlyEmptyIndexesAndTheHub) {
  TSmallTree t(false, 40), u(true, 40);
  ASSERT_TRUE(t.Engine->InsertKey(*t.Store, t.Key(1, 0).data(), 1, nullptr));
  try {
    t.Engine->CreateBulkBuilder(*t.Store);
    ADD_FAILURE() << "a non-empty index was accepted";
  } catch (const EzfBaseException& e) {
    EXPECT_EQ(e.GetErrorCode(), zfErrIndexNotEmpty);
  }
  // A hub over a B*-tree builder and a key-by-key builder feeds both.
  TSmallTree v(false, 40);
  std::vector<std::unique_ptr<TzfBaseBulkBuilder>> builders;
  builders.push_back(u.Engine->CreateBulkBuilder(*u.Store));
  builders.push_back(std::make_unique<TzfDefaultIndexBulkBuilder>(*v.Store, *v.Engine));
  TzfBulkBuilderHub hub(std::move(builders));
  for (int32_t i = 0; i < 300; ++i) {
    auto rec = MakeRecord(*u.Table.Fields, {rtl::Variant(299 - i), rtl::Variant(0)});
    ASSERT_EQ(hub.InsertKey(i + 1, rec.data()), 0u);
  }
  ASSERT_EQ(hub.Finalize(), 0u);
  u.Check("hub bulk");
  v.Check("hub key by key");
  EXPECT_EQ(Entries(u), Entries(v));
  EXPECT_EQ(Entries(u).size(), 300u);
  // The key-by-key builder answers a refused key.
  TSmallTree w(false, 40);
  TzfDefaultIndexBulkBuilder byKey(*w.Store, *w.Engine);
  auto rec = MakeRecord(*w.Table.Fields, {rtl::Variant(3), rtl::Variant(0)});
  EXPECT_EQ(byKey.InsertKey(1, rec.data()), 0u);
  EXPECT_EQ(byKey.InsertKey(2, rec.data()), zfErrKeyViol);
}

}  // namespace
}  // namespace zf::test
