// Range scans both ways, record numbers and range estimates of the B*-tree, against a sorted model
// of a tree deep enough to cross many leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>

#include "foundation/zfllErrors.h"
#include "storage/zfsrTimeoutHandling.h"
#include "tests/index/zfseBstarTreeFixture.h"

namespace zf::test {
namespace {

struct TBound {
  bool Valid;
  int32_t A;
  bool Exclusive;
};

struct TRangeCase {
  const char* Name;
  TBound Start, End;
};

class IndexScanTest : public IndexStarted {
 protected:
  // 600 entries, A = i / 3 (three duplicates each), reference number i + 1.
  IndexScanTest() : t(true, 40) {
    zfSetTimeout(0, true);
    for (int32_t i = 0; i < 600; ++i) {
      EXPECT_TRUE(t.Engine->InsertKey(*t.Store, t.Key(i / 3, 0).data(), i + 1, nullptr));
      Model.push_back({i / 3, i + 1});
    }
    t.Check("setup");
  }
  TzfRangeInfo Range(const TBound& b) {
    Keys.push_back(t.Key(b.A, 0));
    TzfRangeInfo r;
    r.riValid = b.Valid;
    r.riExclusive = b.Exclusive;
    r.riKey = Keys.back().data();
    r.riFieldCount = 1;
    return r;
  }
  std::vector<int64_t> Expected(const TRangeCase& c) {
    std::vector<int64_t> r;
    for (auto [a, ref] : Model) {
      if (c.Start.Valid && (a < c.Start.A || (a == c.Start.A && c.Start.Exclusive))) continue;
      if (c.End.Valid && (a > c.End.A || (a == c.End.A && c.End.Exclusive))) continue;
      r.push_back(ref);
    }
    return r;
  }

  TSmallTree t;
  std::vector<std::pair<int32_t, int64_t>> Model;
  std::deque<TSmallTree::TBytes> Keys;
};

const TRangeCase kRanges[] = {
    {"open", {false, 0, false}, {false, 0, false}},
    {"inclusive", {true, 10, false}, {true, 150, false}},
    {"exclusive", {true, 10, true}, {true, 150, true}},
    {"one key", {true, 42, false}, {true, 42, false}},
    {"one key exclusive end", {true, 42, false}, {true, 42, true}},
    {"end before start", {true, 50, false}, {true, 40, false}},
    {"start only", {true, 190, false}, {false, 0, false}},
    {"end only", {false, 0, false}, {true, 3, false}},
    {"below every key", {false, 0, false}, {true, -5, false}},
    {"above every key", {true, 500, false}, {false, 0, false}},
    {"bounds between keys", {true, -3, false}, {true, 1000, false}},
};

TEST_F(IndexScanTest, IterateBothWaysOverRanges) {
  for (const TRangeCase& c : kRanges) {
    SCOPED_TRACE(c.Name);
    const TzfRangeInfo s = Range(c.Start), e = Range(c.End);
    const std::vector<int64_t> want = Expected(c);
    std::vector<int64_t> got;
    auto path = t.Path();
    auto collect = [&](const uint8_t*, int64_t aRef) {
      got.push_back(aRef);
      return kirContinue;
    };
    t.Engine->Iterate(*t.Store, *path, nullptr, collect, nullptr, s, e, nullptr, nullptr);
    EXPECT_EQ(got, want);
    EXPECT_TRUE(path->IsEof());
    got.clear();
    t.Engine->IterateBackward(*t.Store, *path, nullptr, collect, nullptr, s, e, nullptr, nullptr);
    EXPECT_EQ(got, std::vector<int64_t>(want.rbegin(), want.rend()));
    EXPECT_TRUE(path->IsBof());
    EXPECT_EQ(t.Store->HeldCount(), 0);
  }
}

TEST_F(IndexScanTest, IteratorsStopAndSkip) {
  auto path = t.Path();
  int n = 0;
  t.Engine->Iterate(*t.Store, *path, nullptr, [&](const uint8_t*, int64_t) { return ++n == 3 ? kirStop : kirContinue; },
                    nullptr, TzfRangeInfo{}, TzfRangeInfo{}, nullptr, nullptr);
  ASSERT_TRUE(path->IsOnKey());
  EXPECT_EQ(path->RefNr, 3);
  // A record iterator without records to read is refused.
  EXPECT_THROW(t.Engine->Iterate(*t.Store, *path, nullptr, nullptr, [](const uint8_t*, int64_t) { return true; },
                                 TzfRangeInfo{}, TzfRangeInfo{}, nullptr, nullptr),
               EzfStaticKeyBstarTreeIndexEngineException);
  // Records are read for the keys the key iterator keeps.
  struct TSource : TzfIndexRecordSource {
    uint32_t RecordLength() const override { return 8; }
    void ReadRecord(int64_t aRefNr, uint8_t* aBuffer) override { std::memcpy(aBuffer, &aRefNr, 8); }
  } source;
  std::vector<int64_t> seen;
  n = 0;
  t.Engine->IterateBackward(
      *t.Store, *path, &source, [&](const uint8_t*, int64_t) { return ++n % 2 ? kirSkipKey : kirContinue; },
      [&](const uint8_t* r, int64_t aRef) {
        int64_t v;
        std::memcpy(&v, r, 8);
        EXPECT_EQ(v, aRef);
        seen.push_back(aRef);
        return seen.size() < 3;
      },
      TzfRangeInfo{}, TzfRangeInfo{}, nullptr, nullptr);
  EXPECT_EQ(seen, (std::vector<int64_t>{599, 597, 595}));
  ASSERT_TRUE(path->IsOnKey());
  EXPECT_EQ(path->RefNr, 595);
}

TEST_F(IndexScanTest, RecordNumbersBothWays) {
  for (const TRangeCase& c : kRanges) {
    SCOPED_TRACE(c.Name);
    const TzfRangeInfo s = Range(c.Start), e = Range(c.End);
    const std::vector<int64_t> want = Expected(c);
    const int64_t count = static_cast<int64_t>(want.size());
    auto path = t.Path();
    for (bool flip : {false, true}) {
      for (int64_t n = 1; n <= count; n += (n < 5 || n > count - 5 ? 1 : 7)) {
        ASSERT_EQ(t.Engine->RecNoSet(*t.Store, n, *path, nullptr, s, e, nullptr, nullptr, flip), 0u) << n;
        EXPECT_EQ(path->RefNr, want[static_cast<size_t>(flip ? count - n : n - 1)]) << n << " flip " << flip;
        int64_t got = -1;
        ASSERT_EQ(t.Engine->RecNoGet(*t.Store, *path, nullptr, s, e, nullptr, nullptr, got, flip), 0u);
        EXPECT_EQ(got, n) << " flip " << flip;
      }
      EXPECT_EQ(t.Engine->RecNoSet(*t.Store, 0, *path, nullptr, s, e, nullptr, nullptr, flip), zfErrBOF);
      EXPECT_EQ(t.Engine->RecNoSet(*t.Store, count + 1, *path, nullptr, s, e, nullptr, nullptr, flip), zfErrEOF);
      EXPECT_TRUE(flip ? path->IsBof() : path->IsEof());
    }
    EXPECT_EQ(t.Store->HeldCount(), 0);
  }
}

TEST_F(IndexScanTest, RecordNumberOutsideTheRange) {
  TzfRangeInfo s = Range({true, 10, false}), e = Range({true, 20, false});
  auto path = t.Path();
  int64_t n = 0;
  ASSERT_EQ(t.Engine->RecNoSet(*t.Store, 1, *path, nullptr, TzfRangeInfo{}, TzfRangeInfo{}, nullptr, nullptr, false), 0u);
  EXPECT_EQ(t.Engine->RecNoGet(*t.Store, *path, nullptr, s, e, nullptr, nullptr, n, false), zfErrBOF);
  ASSERT_EQ(t.Engine->RecNoSet(*t.Store, 1, *path, nullptr, TzfRangeInfo{}, TzfRangeInfo{}, nullptr, nullptr, true), 0u);
  EXPECT_EQ(t.Engine->RecNoGet(*t.Store, *path, nullptr, s, e, nullptr, nullptr, n, false), zfErrEOF);
  path->SetToBof();
  EXPECT_EQ(t.Engine->RecNoGet(*t.Store, *path, nullptr, s, e, nullptr, nullptr, n, false), zfErrBOF);
}

TEST_F(IndexScanTest, EstimatesStayWithinBounds) {
  const uint32_t K = t.Store->GetStoredKeyCount();
  for (const TRangeCase& c : kRanges) {
    SCOPED_TRACE(c.Name);
    const TzfRangeInfo s = Range(c.Start), e = Range(c.End);
    const uint32_t exact = static_cast<uint32_t>(Expected(c).size());
    for (bool flip : {false, true}) {
      uint32_t est = 12345;
      ASSERT_EQ(t.Engine->EstimateRecordCount(*t.Store, flip ? e : s, flip ? s : e, est, flip), 0u);
      EXPECT_LE(est, K);
      if (exact == 0) {
        EXPECT_EQ(est, 0u);
      } else {
        EXPECT_GE(est, 1u);
      }
      if (exact > 50) {
        EXPECT_GT(est, exact / 3);
        EXPECT_LT(est, exact * 3);
      }
    }
  }
  // Inside one leaf the estimate is exact.
  uint32_t est = 0;
  {
    TSmallTree small(true, 40);
    for (int32_t i = 0; i < 5; ++i) ASSERT_TRUE(small.Engine->InsertKey(*small.Store, small.Key(i, 0).data(), i + 1, nullptr));
    auto k1 = small.Key(1, 0), k3 = small.Key(3, 0);
    TzfRangeInfo s{true, false, k1.data(), 1, 0}, e{true, false, k3.data(), 1, 0};
    ASSERT_EQ(small.Engine->EstimateRecordCount(*small.Store, s, e, est, false), 0u);
    EXPECT_EQ(est, 3u);
    ASSERT_EQ(small.Engine->EstimateRecordCount(*small.Store, s, s, est, false), 0u);
    EXPECT_EQ(est, 1u);
  }
  // Header counts from a damaged file change the estimate but never its bounds.
  for (uint32_t nodes : {0u, 1u, 2u, 5u, 0xFFFFFFFFu}) {
    t.Store->SetNodeCount(nodes);
    ASSERT_EQ(t.Engine->EstimateRecordCount(*t.Store, TzfRangeInfo{}, TzfRangeInfo{}, est, false), 0u);
    EXPECT_LE(est, K) << nodes;
    EXPECT_GE(est, 2u) << nodes;
  }
  uint32_t empty = 9;
  TSmallTree fresh(false, 40);
  ASSERT_EQ(fresh.Engine->EstimateRecordCount(*fresh.Store, TzfRangeInfo{}, TzfRangeInfo{}, empty, false), 0u);
  EXPECT_EQ(empty, 0u);
}

}  // namespace
}  // namespace zf::test
