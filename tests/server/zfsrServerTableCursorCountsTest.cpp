// Counts, record numbers and duplicates of table cursors on a table with two indexes: every count
// option under ranges, record filters and key filters, counts that leave the cursor where it was,
// record numbers in index order, and duplicates that keep index, position, range and filter.
#include <gtest/gtest.h>

#include <vector>

#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "storage/zfsrBlock.h"
#include "index/zfsdFilterEngineCallback.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTableCursor.h"
#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

class TableCursorCounts : public PeopleCursorTest {
 protected:
  void SetUp() override {
    PeopleCursorTest::SetUp();
    Open();
    auto dict = SmallDictionary();
    TzfMainIndicesDescriptor* ix = dict->EnsureIndicesDescriptor();
    dynamic_cast<TzfCompKeyDescriptor&>(*ix->AddIndex(u"ByID", 0, idNone, u"")->idKeyDescriptor).Add(0);
    dynamic_cast<TzfCompKeyDescriptor&>(*ix->AddIndex(u"ByName", 0, idAll, u"")->idKeyDescriptor).Add(1);
    ASSERT_EQ(Db->TableBuild(false, u"People", u"", dict.get(), tsPersistent, false), 0u);
    OpenCursor();
    // A new cursor stands on index 0; the cases start from the record order.
    ASSERT_EQ(C->SwitchToIndex(u"", -1, false), 0u);
    // (ID, Name) in storage order; "a" three times, "b" twice.
    const std::pair<int32_t, const char16_t*> rows[] = {{1, u"a"}, {2, u"b"}, {3, u"a"},
                                                        {4, u"c"}, {5, u"a"}, {6, u"b"}};
    for (auto [id, name] : rows) {
      C->SetFieldFromVariant(Rec, 0, rtl::Variant(id));
      C->SetFieldFromVariant(Rec, 1, rtl::Variant(UnicodeString(name)));
      ASSERT_EQ(C->RecordInsert(zfltNoLock, Rec), 0u);
    }
  }
  int32_t ID(TzfAbstractCursor* aCursor = nullptr) {
    return (aCursor ? aCursor : C)->GetFieldAsVariant(Rec, 0).AsInteger();
  }
  // The next ID forward (backward), 0 at an end.
  int32_t Next(TzfAbstractCursor* aCursor = nullptr, bool aForward = true) {
    TzfAbstractCursor* c = aCursor ? aCursor : C;
    const uint32_t r = aForward ? c->RecordGetNext(zfltNoLock, Rec) : c->RecordGetPrior(zfltNoLock, Rec);
    return r == 0 ? ID(c) : 0;
  }
  std::vector<int32_t> Rest(TzfAbstractCursor* aCursor = nullptr) {
    std::vector<int32_t> ids;
    while (int32_t id = Next(aCursor)) ids.push_back(id);
    return ids;
  }
  // Range on ByID from aLow to aHigh, both included.
  void RangeIDs(int32_t aLow, int32_t aHigh) {
    std::vector<uint8_t> lo(Rec, Rec + RecLen()), hi(lo);
    C->SetFieldFromVariant(lo.data(), 0, rtl::Variant(aLow));
    C->SetFieldFromVariant(hi.data(), 0, rtl::Variant(aHigh));
    ASSERT_EQ(C->RangeSet(0, 0, false, lo.data(), true, 0, 0, false, hi.data(), true), 0u);
  }
  TzfFilterID OddFilter() {
    TzfFilterID f = 0;
    EXPECT_EQ(C->FilterAddCallback(0, [this](int32_t, const uint8_t* aData) {
      return C->GetFieldAsVariant(aData, 0).AsInteger() % 2 == 1;
    }, f), 0u);
    EXPECT_EQ(C->FilterActivate(f), 0u);
    return f;
  }
  uint32_t RecLen() { return C->acGetTableDescriptor()->tdFieldsDescriptor->GetRecordLength(); }
  uint32_t Count(TzfRecordCountOption aOption) {
    uint32_t n = 999;
    EXPECT_EQ(C->GetRecordCountEx(aOption, n, false), 0u);
    return n;
  }
};

TEST_F(TableCursorCounts, EveryOptionUnderRangesAndFilters) {
  struct Case {
    const char* What;
    const char16_t* Index;  // empty: storage order
    int32_t Low, High;      // range on ByID when Low > 0
    bool OddFilter;         // record filter: odd IDs
    bool KeyFilterA;        // key filter on ByName: "a"
    // rcoTotalRecordCount, rcoTotalKeyCount, rcoRangedKeyCount, rcoServerFiltered, rcoClientFiltered
    uint32_t Counts[5];
  } cases[] = {
      {"storage order", u"", 0, 0, false, false, {6, 6, 6, 6, 6}},
      {"storage order, filter", u"", 0, 0, true, false, {6, 6, 6, 3, 3}},
      {"index", u"ByID", 0, 0, false, false, {6, 6, 6, 6, 6}},
      {"range", u"ByID", 2, 5, false, false, {6, 6, 4, 4, 4}},
      {"range and filter", u"ByID", 2, 5, true, false, {6, 6, 4, 2, 2}},
      {"filter without range", u"ByID", 0, 0, true, false, {6, 6, 6, 3, 3}},
      {"empty range", u"ByID", 7, 9, true, false, {6, 6, 0, 0, 0}},
      {"key filter", u"ByName", 0, 0, false, true, {6, 6, 6, 3, 3}},
      {"key and record filter", u"ByName", 0, 0, true, true, {6, 6, 6, 3, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    ASSERT_EQ(C->SwitchToIndex(c.Index, -1, false), 0u);
    if (c.Low > 0) RangeIDs(c.Low, c.High);
    TzfFilterID f = c.OddFilter ? OddFilter() : 0;
    if (c.KeyFilterA) {
      TzfKeyFilterID k = 0;
      ASSERT_EQ(C->KeyFilterAddCallback(0, [this](int32_t, const uint8_t* aKey) {
        return C->GetCurrentKeyFieldsSource()->GetFieldAsVariant(aKey, 0).AsString() == u"a";
      }, k), 0u);
      ASSERT_EQ(C->KeyFilterActivate(k), 0u);
    }
    for (int o = 0; o < 5; ++o) EXPECT_EQ(Count(TzfRecordCountOption(o)), c.Counts[o]) << "option " << o;
    uint32_t n = 0;
    EXPECT_EQ(C->GetRecordCount(n, false), 0u);
    EXPECT_EQ(n, c.Counts[rcoClientFilteredKeyCount]) << "the plain count is the client-filtered one";
    if (f) {
      ASSERT_EQ(C->FilterRemove(f), 0u);
    }
    ASSERT_EQ(C->KeyFilterRemove(0), 0u);
  }
}

TEST_F(TableCursorCounts, CountsLeaveTheCursorWhereItStood) {
  ASSERT_EQ(C->SwitchToIndex(u"ByName", -1, false), 0u);
  OddFilter();
  EXPECT_EQ(Next(), 1);
  EXPECT_EQ(Next(), 3);
  EXPECT_EQ(Count(rcoRangedKeyCount), 6u);
  EXPECT_EQ(Count(rcoClientFilteredKeyCount), 3u);
  EXPECT_EQ(C->RecordGet(zfltNoLock, Rec), 0u);
  EXPECT_EQ(ID(), 3);
  EXPECT_EQ(Rest(), (std::vector<int32_t>{5}));
  // The filters are back: the walk of a filter-blind count does not leave them off.
  EXPECT_EQ(Count(rcoServerFilteredKeyCount), 3u);
}

TEST_F(TableCursorCounts, RecordNumbersInIndexOrder) {
  ASSERT_EQ(C->SwitchToIndex(u"ByName", -1, false), 0u);
  // ByName order: 1 3 5 (a), 2 6 (b), 4 (c).
  struct Case {
    uint32_t RecNo;
    bool Flip;
    uint32_t Result;
    int32_t ID;  // record then current; 0: none
  } cases[] = {
      {1, false, 0, 1}, {4, false, 0, 2}, {6, false, 0, 4}, {1, true, 0, 4},
      {2, true, 0, 6},  {7, false, zfErrEOF, 0}, {0, false, zfErrEOF, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.RecNo << (c.Flip ? " flipped" : ""));
    EXPECT_EQ(C->RecNoSet(c.RecNo, c.Flip), c.Result);
    if (c.ID == 0) {
      EXPECT_EQ(Next(nullptr, false), 4) << "past the last record: at EOF";
      continue;
    }
    ASSERT_EQ(C->RecordGet(zfltNoLock, Rec), 0u);
    EXPECT_EQ(ID(), c.ID);
    uint32_t n = 0;
    ASSERT_EQ(C->RecNoGet(n, c.Flip), 0u);
    EXPECT_EQ(n, c.RecNo);
  }
  // Within a filter the numbers count only what it keeps; the position does not move.
  OddFilter();
  ASSERT_EQ(C->RecNoSet(3, false), 0u);
  uint32_t n = 0;
  ASSERT_EQ(C->RecNoGet(n, false), 0u);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(C->RecordGet(zfltNoLock, Rec), 0u);
  EXPECT_EQ(ID(), 5);
  EXPECT_EQ(Next(), 0);
  EXPECT_EQ(C->RecNoGet(n, false), zfErrEOF);
}

TEST_F(TableCursorCounts, AsyncCountWithoutWalkIsAFinishedTask) {
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(C->GetRecordCountAsync(task), 0u);
  ASSERT_NE(task, nullptr);
  bool done = false;
  TzfTaskStatus st;
  EXPECT_EQ(task->GetStatus(done, st), 0u);
  EXPECT_TRUE(done);
  EXPECT_EQ(st.tsRecsRead, 6u);
  EXPECT_EQ(st.tsErrorCode, 0u);
  task->Free();
  // A count the filter decides walks on a task of its own; a filter-blind one needs no walk.
  OddFilter();
  task = nullptr;
  ASSERT_EQ(C->GetRecordCountExAsync(rcoClientFilteredKeyCount, task), 0u);
  ASSERT_NE(task, nullptr);
  do {
    ASSERT_EQ(task->GetStatus(done, st), 0u);
  } while (!done);
  EXPECT_EQ(st.tsErrorCode, 0u);
  EXPECT_EQ(st.tsRecsRead, 3u) << "only the records the filter passes";
  task->Free();
  ASSERT_EQ(C->GetRecordCountExAsync(rcoRangedKeyCount, task), 0u);
  ASSERT_EQ(task->GetStatus(done, st), 0u);
  EXPECT_TRUE(done);
  EXPECT_EQ(st.tsRecsRead, 6u);
  task->Free();
}

TEST_F(TableCursorCounts, DuplicateKeepsIndexPositionRangeAndFilter) {
  ASSERT_EQ(C->SwitchToIndex(u"ByID", -1, false), 0u);
  RangeIDs(2, 5);
  OddFilter();
  TzfKeyFilterID k = 0;
  ASSERT_EQ(C->KeyFilterAddCallback(0, [](int32_t, const uint8_t*) { return false; }, k), 0u);
  ASSERT_EQ(C->KeyFilterActivate(k), 0u);
  ASSERT_EQ(C->KeyFilterDeactivate(k), 0u);
  EXPECT_EQ(Next(), 3);
  ASSERT_EQ(C->KeyFilterActivate(k), 0u);

  TzfAbstractCursor* dup = nullptr;
  ASSERT_EQ(C->Duplicate(omReadWrite, dup), 0u);
  int32_t index = -2;
  EXPECT_EQ(dup->GetIndexID(index), 0u);
  int32_t own = -3;
  EXPECT_EQ(C->GetIndexID(own), 0u);
  EXPECT_EQ(index, own);
  ASSERT_EQ(dup->RecordGet(zfltNoLock, Rec), 0u);
  EXPECT_EQ(ID(dup), 3) << "on the same record";
  EXPECT_EQ(Rest(dup), (std::vector<int32_t>{5})) << "same range and filter, no key filter";
  EXPECT_EQ(Next(dup, false), 5);
  EXPECT_EQ(Next(dup, false), 3);
  EXPECT_EQ(Next(dup, false), 0);
  dup->Free();

  // A read-only cursor duplicates read-only whatever is asked.
  TzfServerTableCursor* ro = OpenPeople(omReadOnly);
  ASSERT_EQ(ro->Duplicate(omReadWrite, dup), 0u);
  EXPECT_EQ(dup->RecordInsert(zfltNoLock, Rec), 10763u);
  dup->Free();
  ro->Free();
}

TEST_F(TableCursorCounts, SetToFilterScansTheCursorsViewFromItsEnd) {
  // Record filter of the scan: ID above 1; key filter of the scan: name "b".
  TzfCallbackFilterDescriptor above1(0, [this](int32_t, const uint8_t* aData) {
    return C->GetFieldAsVariant(aData, 0).AsInteger() > 1;
  });
  TzfCallbackFilterDescriptor nameB(0, [this](int32_t, const uint8_t* aKey) {
    return C->GetCurrentKeyFieldsSource()->GetFieldAsVariant(aKey, 0).AsString() == u"b";
  });
  EXPECT_EQ(C->SetToFilter(&above1, &nameB, true), zfErrNoAssocIndex) << "a key filter needs an index";
  ASSERT_EQ(C->SetToFilter(&above1, nullptr, true), 0u);
  ASSERT_EQ(C->RecordGet(zfltNoLock, Rec), 0u);
  EXPECT_EQ(ID(), 2);

  ASSERT_EQ(C->SwitchToIndex(u"ByName", -1, false), 0u);
  // ByName order: 1 3 5 (a), 2 6 (b), 4 (c).
  struct Case {
    TzfCallbackFilterDescriptor* Filter;
    TzfCallbackFilterDescriptor* KeyFilter;
    bool Forward;
    bool CursorOdd;  // the cursor's own record filter: odd IDs
    uint32_t Result;
    int32_t ID;
  } cases[] = {
      {&above1, nullptr, true, false, 0, 3},    {&above1, nullptr, false, false, 0, 4},
      {nullptr, &nameB, true, false, 0, 2},     {nullptr, &nameB, false, false, 0, 6},
      {&above1, nullptr, true, true, 0, 3},     {nullptr, &nameB, true, true, zfErrNoCurrRec, 0},
      {&above1, &nameB, false, false, 0, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.Filter ? "filter " : "") << (c.KeyFilter ? "key filter " : "")
                                    << (c.Forward ? "forward" : "backward") << (c.CursorOdd ? " odd" : ""));
    TzfFilterID f = c.CursorOdd ? OddFilter() : 0;
    EXPECT_EQ(C->SetToFilter(c.Filter, c.KeyFilter, c.Forward), c.Result);
    if (c.ID) {
      ASSERT_EQ(C->RecordGet(zfltNoLock, Rec), 0u);
      EXPECT_EQ(ID(), c.ID);
    }
    if (f) {
      ASSERT_EQ(C->FilterRemove(f), 0u);
    }
  }
  // The scan's filters are not the cursor's.
  EXPECT_EQ(Count(rcoClientFilteredKeyCount), 6u);
}

TEST_F(TableCursorCounts, IterationFollowsTheIndexWithinRangeAndFilters) {
  ASSERT_EQ(C->SwitchToIndex(u"ByName", -1, false), 0u);
  // ByName order: 1 3 5 (a), 2 6 (b), 4 (c); the odd filter keeps 1 3 5.
  OddFilter();
  struct Case {
    bool Backward;
    int StopAfter;  // 0: never
    bool OwnBuffer;
    std::vector<int32_t> Ids;
    TzfCursorPosition End;
  } cases[] = {
      {false, 0, true, {1, 3, 5}, TzfCursorPosition::cpEOF},
      {true, 0, false, {5, 3, 1}, TzfCursorPosition::cpBOF},
      {false, 2, false, {1, 3}, TzfCursorPosition::cpOnRecord},
  };
  for (const auto& k : cases) {
    std::vector<int32_t> ids;
    std::vector<uint8_t> buf(RecLen());
    uint8_t* p = k.OwnBuffer ? buf.data() : nullptr;
    C->sbcIterate(&p, [&](void*, int64_t, const uint8_t* aRecord) {
      ids.push_back(C->GetFieldAsVariant(aRecord, 0).AsInteger());
      return k.StopAfter && int(ids.size()) == k.StopAfter ? TzfRecordIteratorResult::rirStop
                                                           : TzfRecordIteratorResult::rirContinue;
    }, k.Backward, nullptr);
    EXPECT_EQ(ids, k.Ids);
    EXPECT_EQ(C->Position(), k.End);
  }
  ASSERT_EQ(C->RecordGet(zfltNoLock, Rec), 0u);
  EXPECT_EQ(ID(), 3) << "on the last record handed out";
  EXPECT_EQ(Next(), 5);
}

TEST_F(TableCursorCounts, LockedInsertMustLandInTheCursorsView) {
  ASSERT_EQ(C->SwitchToIndex(u"ByID", -1, false), 0u);
  RangeIDs(2, 10);
  OddFilter();
  const auto insert = [&](int32_t aID, TzfLockType aLock) {
    C->SetFieldFromVariant(Rec, 0, rtl::Variant(aID));
    C->SetFieldFromVariant(Rec, 1, rtl::Variant(UnicodeString(u"z")));
    return C->RecordInsert(aLock, Rec);
  };
  EXPECT_EQ(insert(11, zfltWriteLock), zfErrRecLockFailed) << "after the range";
  EXPECT_EQ(insert(8, zfltWriteLock), zfErrRecLockFailed) << "refused by the filter";
  EXPECT_EQ(insert(9, zfltWriteLock), 0u);
  EXPECT_EQ(insert(11, zfltNoLock), 0u) << "without a lock the cursor need not stand on it";
  EXPECT_EQ(Count(rcoTotalRecordCount), 8u) << "refused inserts left nothing";
  // An insert outside the range leaves the cursor at the range's near end.
  EXPECT_EQ(insert(0, zfltNoLock), 0u);
  EXPECT_EQ(Next(), 3);
  EXPECT_EQ(insert(13, zfltNoLock), 0u);
  EXPECT_EQ(Next(nullptr, false), 9);
}

TEST_F(TableCursorCounts, ModifiedRecordThatLeavesTheRangeIsLeftBehind) {
  ASSERT_EQ(C->SwitchToIndex(u"ByID", -1, false), 0u);
  RangeIDs(2, 5);
  EXPECT_EQ(Next(), 2);
  EXPECT_EQ(Next(), 3);
  // 3 becomes 0, before the range: the walk goes on from where 3 stood.
  C->SetFieldFromVariant(Rec, 0, rtl::Variant(0));
  ASSERT_EQ(C->RecordModify(Rec, true), 0u);
  EXPECT_EQ(C->RecordGet(zfltNoLock, Rec), zfErrNoCurrRec);
  EXPECT_EQ(Next(), 4);
  // 4 becomes 9, after it.
  C->SetFieldFromVariant(Rec, 0, rtl::Variant(9));
  ASSERT_EQ(C->RecordModify(Rec, true), 0u);
  EXPECT_EQ(Next(), 5);
  EXPECT_EQ(Next(), 0);
  EXPECT_EQ(Next(nullptr, false), 5);
  EXPECT_EQ(Next(nullptr, false), 2);
  // A change that stays inside keeps the cursor on the record.
  C->SetFieldFromVariant(Rec, 1, rtl::Variant(UnicodeString(u"q")));
  ASSERT_EQ(C->RecordModify(Rec, true), 0u);
  ASSERT_EQ(C->RecordGet(zfltNoLock, Rec), 0u);
  EXPECT_EQ(ID(), 2);
}

TEST_F(TableCursorCounts, BatchesFollowTheIndexAndItsRange) {
  ASSERT_EQ(C->SwitchToIndex(u"ByName", -1, false), 0u);
  // The IDs of one batch read forward (backward) from where the cursor stands.
  const auto batch = [&](bool aForward, int32_t aMax) {
    TzfMemoryStream ms;
    EXPECT_EQ(C->RecordGetBatch(0x7FFFFFFF, 0, ms, aMax, aForward), 0u);
    const auto* p = static_cast<const uint8_t*>(ms.Memory());
    const uint32_t count = zfGetLE32(p + 4);
    std::vector<int32_t> ids;
    size_t at = 8;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t slot = zfGetLE32(p + at);
      ids.push_back(C->GetFieldAsVariant(p + at + 4, 0).AsInteger());
      at += 4 + slot;
    }
    return ids;
  };
  EXPECT_EQ(batch(true, 4), (std::vector<int32_t>{1, 3, 5, 2}));
  EXPECT_EQ(batch(true, 0), (std::vector<int32_t>{6, 4}));
  EXPECT_EQ(batch(false, 3), (std::vector<int32_t>{4, 6, 2})) << "back from the end";
  ASSERT_EQ(C->SwitchToIndex(u"ByID", -1, false), 0u);
  RangeIDs(2, 4);
  EXPECT_EQ(batch(true, 0), (std::vector<int32_t>{2, 3, 4}));
}

}  // namespace
}  // namespace zf::test
