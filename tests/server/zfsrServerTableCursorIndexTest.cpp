// Table cursors on a table with a unique index: the cursor's inserts, modifies and deletes keep the
// index in step through the table's indices engine, in implicit and explicit transactions, and a
// record whose key the index refuses changes nothing.
#include <gtest/gtest.h>

#include <any>
#include <functional>
#include <vector>

#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "index/zfsdFilterEngineBase.h"
#include "foundation/zfllErrors.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerSession.h"
#include "index/zfsrIndexBulkBuilder.h"
#include "server/zfsrServerTableCursor.h"
#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

class TableCursorIndex : public PeopleCursorTest {
 protected:
  void SetUp() override {
    PeopleCursorTest::SetUp();
    Open();
    auto dict = SmallDictionary();
    // Unique on ID.
    TzfIndexDescriptor* ix = dict->EnsureIndicesDescriptor()->AddIndex(u"ByID", 0, idNone, u"");
    dynamic_cast<TzfCompKeyDescriptor&>(*ix->idKeyDescriptor).Add(0);
    ASSERT_EQ(Db->TableBuild(false, u"People", u"", dict.get(), tsPersistent, false), 0u);
    OpenCursor();
    // A new cursor stands on index 0; the cases start from the record order.
    ASSERT_EQ(C->SwitchToIndex(u"", -1, false), 0u);
  }
  uint32_t Insert(int32_t aID) {
    C->SetFieldFromVariant(Rec, 0, rtl::Variant(aID));
    C->SetFieldFromVariant(Rec, 1, rtl::Variant(UnicodeString(u"n")));
    return C->RecordInsert(zfltNoLock, Rec);
  }
  // Puts the cursor on the record with aID (storage order); false when there is none.
  bool GoTo(int32_t aID) {
    EXPECT_EQ(C->SetToBegin(), 0u);
    while (C->RecordGetNext(zfltNoLock, Rec) == 0)
      if (C->GetFieldAsVariant(Rec, 0).AsInteger() == aID) return true;
    return false;
  }
  uint32_t ModifyTo(int32_t aID, int32_t aNewID) {
    if (!GoTo(aID)) return zfErrNoCurrRec;
    C->SetFieldFromVariant(Rec, 0, rtl::Variant(aNewID));
    return C->RecordModify(Rec, true);
  }
  uint32_t Delete(int32_t aID) { return GoTo(aID) ? C->RecordDelete(nullptr) : zfErrNoCurrRec; }
  uint32_t Count() {
    uint32_t n = 0;
    EXPECT_EQ(C->GetRecordCount(n, false), 0u);
    return n;
  }

  // The IDs met walking from one end to the other (in the current index's order).
  std::vector<int32_t> Walk(bool aForward) {
    std::vector<int32_t> ids;
    EXPECT_EQ(aForward ? C->SetToBegin() : C->SetToEnd(), 0u);
    return Continue(aForward);
  }
  // The IDs met walking on from where the cursor stands.
  std::vector<int32_t> Continue(bool aForward) {
    std::vector<int32_t> ids;
    for (;;) {
      const uint32_t r = aForward ? C->RecordGetNext(zfltNoLock, Rec) : C->RecordGetPrior(zfltNoLock, Rec);
      if (r != 0) {
        EXPECT_EQ(r, aForward ? zfErrEOF : zfErrBOF);
        return ids;
      }
      ids.push_back(C->GetFieldAsVariant(Rec, 0).AsInteger());
    }
  }
  // A record buffer whose ID is aID, as the key source of key calls.
  const uint8_t* KeyOf(int32_t aID, std::vector<uint8_t>& aBuffer) {
    aBuffer.assign(Rec, Rec + RecLen());
    C->SetFieldFromVariant(aBuffer.data(), 0, rtl::Variant(aID));
    return aBuffer.data();
  }
  uint32_t RecLen() { return C->acGetTableDescriptor()->tdFieldsDescriptor->GetRecordLength(); }
  uint32_t SetToKey(TzfSearchKeyAction aAction, int32_t aID) {
    std::vector<uint8_t> b;
    return C->SetToKey(aAction, 0, 0, false, KeyOf(aID, b));
  }
  // The first ID read forward (or backward) from where the cursor stands; 0 at an end.
  int32_t NextID(bool aForward = true) {
    const uint32_t r = aForward ? C->RecordGetNext(zfltNoLock, Rec) : C->RecordGetPrior(zfltNoLock, Rec);
    return r == 0 ? C->GetFieldAsVariant(Rec, 0).AsInteger() : 0;
  }
  void FillShuffled() {
    for (int32_t id : {5, 1, 4, 2, 3}) ASSERT_EQ(Insert(id), 0u);
  }
};

TEST_F(TableCursorIndex, UniqueIndexKeptThroughInsertsModifiesAndDeletes) {
  for (int32_t id : {1, 2, 3}) ASSERT_EQ(Insert(id), 0u);
  EXPECT_EQ(Insert(2), zfErrKeyViol);
  EXPECT_EQ(Count(), 3u) << "a refused insert leaves no record";

  // A modify to a key another record has is refused and leaves the record as it was.
  EXPECT_EQ(ModifyTo(3, 2), zfErrKeyViol);
  EXPECT_TRUE(GoTo(3));
  // A modify moves the key: the old one is free again, the new one taken.
  ASSERT_EQ(ModifyTo(3, 4), 0u);
  EXPECT_FALSE(GoTo(3));
  EXPECT_EQ(Insert(4), zfErrKeyViol);
  EXPECT_EQ(Insert(3), 0u);
  // A modify that keeps the key passes its own key.
  ASSERT_TRUE(GoTo(1));
  C->SetFieldFromVariant(Rec, 1, rtl::Variant(UnicodeString(u"renamed")));
  EXPECT_EQ(C->RecordModify(Rec, true), 0u);

  // A delete frees its key.
  ASSERT_EQ(Delete(1), 0u);
  EXPECT_EQ(Insert(1), 0u);
  EXPECT_EQ(Insert(1), zfErrKeyViol);
  EXPECT_EQ(Count(), 4u);
}

TEST_F(TableCursorIndex, RefusedKeyInsideTransactionKeepsTheTransaction) {
  ASSERT_EQ(Insert(1), 0u);
  TzfAbstractTransContext* ctx = Db->TransContext();
  ASSERT_EQ(ctx->TransactionStart(false, false), 0u);
  ASSERT_EQ(Insert(2), 0u);
  EXPECT_EQ(Insert(1), zfErrKeyViol);
  EXPECT_EQ(Insert(2), zfErrKeyViol) << "the transaction's own key counts";
  EXPECT_EQ(Count(), 2u) << "the refused record was taken back out";
  ASSERT_EQ(ctx->TransactionCommit(), 0u);
  EXPECT_EQ(Insert(2), zfErrKeyViol);

  // A rolled-back insert leaves its key behind neither.
  ASSERT_EQ(ctx->TransactionStart(false, false), 0u);
  ASSERT_EQ(Insert(5), 0u);
  ASSERT_EQ(Delete(1), 0u);
  ASSERT_EQ(ctx->TransactionRollback(), 0u);
  EXPECT_EQ(Insert(5), 0u);
  EXPECT_EQ(Insert(1), zfErrKeyViol);
  EXPECT_EQ(Count(), 3u);
}

TEST_F(TableCursorIndex, SwitchingIndexesAndWalkingInIndexOrder) {
  FillShuffled();
  int32_t id = -1;
  {
    TzfServerTableCursor* fresh = OpenPeople();
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->GetIndexID(id), 0u);
    fresh->Free();
  }
  EXPECT_EQ(id, 0) << "a new cursor stands on index 0";
  EXPECT_EQ(C->GetIndexID(id), 0u);
  EXPECT_EQ(id, -1) << "switched to the record order";
  EXPECT_EQ(Walk(true), (std::vector<int32_t>{5, 1, 4, 2, 3}));

  EXPECT_EQ(C->SwitchToIndex(u"NoSuch", -1, false), zfErrNoSuchIndex);
  EXPECT_EQ(C->SwitchToIndex(u"", 99, false), zfErrNoSuchIndex);
  EXPECT_EQ(C->SwitchToIndex(u"", -2, false), zfErrNoSuchIndex);
  ASSERT_EQ(C->SwitchToIndex(u"byid", -1, false), 0u) << "names are found whatever their case";
  EXPECT_EQ(C->GetIndexID(id), 0u);
  EXPECT_GE(id, 0);
  EXPECT_EQ(Walk(true), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(Walk(false), (std::vector<int32_t>{5, 4, 3, 2, 1}));
  // Turning round in the middle.
  ASSERT_EQ(C->SetToBegin(), 0u);
  EXPECT_EQ(NextID(), 1);
  EXPECT_EQ(NextID(), 2);
  EXPECT_EQ(NextID(false), 1);

  // Writes in index order: the cursor stands on the record written, a delete leaves it beside.
  ASSERT_EQ(Insert(6), 0u);
  EXPECT_EQ(NextID(false), 5);
  ASSERT_EQ(SetToKey(skaEqualFirst, 3), 0u);
  EXPECT_EQ(NextID(), 3);
  ASSERT_EQ(C->RecordDelete(nullptr), 0u);
  EXPECT_EQ(NextID(), 4);
  ASSERT_EQ(ModifyTo(4, 0), 0u);
  EXPECT_EQ(Walk(true), (std::vector<int32_t>{0, 1, 2, 5, 6}));

  // A bookmark (a storage position) puts the index path on its record too.
  ASSERT_EQ(SetToKey(skaEqualFirst, 2), 0u);
  ASSERT_EQ(NextID(), 2);
  std::vector<uint8_t> mark(TzfServerTableCursor::kBookmarkSize);
  ASSERT_EQ(C->GetBookmark(mark.data(), static_cast<uint32_t>(mark.size())), 0u);
  ASSERT_EQ(C->SetToEnd(), 0u);
  ASSERT_EQ(C->SetToBookmark(mark.data(), static_cast<uint32_t>(mark.size())), 0u);
  EXPECT_EQ(NextID(), 5);
  ASSERT_EQ(C->SetToBookmark(mark.data(), static_cast<uint32_t>(mark.size())), 0u);
  EXPECT_EQ(NextID(false), 1);

  // With aPosnOnRec the current record stays current in the new index.
  ASSERT_EQ(C->SwitchToIndex(u"", -1, false), 0u);
  EXPECT_EQ(C->SwitchToIndex(u"ByID", -1, true), zfErrNoCurrRec) << "at BOF there is no record to keep";
  EXPECT_EQ(C->GetIndexID(id), 0u);
  EXPECT_EQ(id, -1) << "a failed switch keeps the old index";
  ASSERT_TRUE(GoTo(2));
  ASSERT_EQ(C->SwitchToIndex(u"ByID", -1, true), 0u);
  EXPECT_EQ(NextID(), 5);
}

TEST_F(TableCursorIndex, SetToKeyActions) {
  FillShuffled();
  EXPECT_EQ(SetToKey(skaEqualFirst, 3), zfErrNoAssocIndex) << "storage order has no keys";
  ASSERT_EQ(C->SwitchToIndex(u"ByID", -1, false), 0u);
  struct Case {
    TzfSearchKeyAction Action;
    int32_t Key;
    uint32_t Result;
    bool Forward;  // the read that follows
    int32_t Next;  // 0: at the end
  } cases[] = {
      {skaEqualFirst, 3, 0, true, 3},           {skaEqualLast, 3, 0, false, 3},
      {skaGreaterEqual, 3, 0, true, 3},         {skaGreater, 3, 0, true, 4},
      {skaSmallerEqual, 3, 0, false, 3},        {skaSmaller, 3, 0, false, 2},
      {skaGreaterEqual, 10, 0, true, 0},        {skaEqualFirst, 10, zfErrRecNotFound, true, 0},
      {skaEqualLast, 10, zfErrRecNotFound, false, 0}, {skaSmaller, 1, 0, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "action " << int(c.Action) << " key " << c.Key);
    EXPECT_EQ(SetToKey(c.Action, c.Key), c.Result);
    EXPECT_EQ(NextID(c.Forward), c.Next);
  }
  // A missing exact key leaves the cursor at the end of its direction.
  EXPECT_EQ(SetToKey(skaEqualFirst, 10), zfErrRecNotFound);
  EXPECT_EQ(NextID(false), 5);
  EXPECT_EQ(SetToKey(skaEqualLast, 0), zfErrRecNotFound);
  EXPECT_EQ(NextID(), 1);

  TValueRelationship rel = 9;
  std::vector<uint8_t> a, b;
  EXPECT_EQ(C->CompareKeys(0, 0, false, KeyOf(2, a), false, KeyOf(3, b), rel), 0u);
  EXPECT_EQ(rel, -1);
  EXPECT_EQ(C->CompareKeys(0, 0, false, KeyOf(4, a), false, KeyOf(4, b), rel), 0u);
  EXPECT_EQ(rel, 0);
}

TEST_F(TableCursorIndex, RangesBoundTheWalkAndTheSearch) {
  FillShuffled();
  std::vector<uint8_t> lo, hi;
  EXPECT_EQ(C->RangeSet(0, 0, false, KeyOf(2, lo), true, 0, 0, false, KeyOf(4, hi), true), zfErrNoAssocIndex);
  ASSERT_EQ(C->SwitchToIndex(u"ByID", -1, false), 0u);
  struct Case {
    bool HasLow, LowIncl, HasHigh, HighIncl;
    std::vector<int32_t> Forward;
  } cases[] = {
      {true, true, true, true, {2, 3, 4}},
      {true, false, true, true, {3, 4}},
      {true, true, true, false, {2, 3}},
      {false, true, true, true, {1, 2, 3, 4}},
      {true, true, false, true, {2, 3, 4, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.HasLow << c.LowIncl << c.HasHigh << c.HighIncl);
    ASSERT_EQ(C->RangeSet(0, 0, false, c.HasLow ? KeyOf(2, lo) : nullptr, c.LowIncl, 0, 0, false,
                          c.HasHigh ? KeyOf(4, hi) : nullptr, c.HighIncl),
              0u);
    EXPECT_EQ(Continue(true), c.Forward) << "a range puts the cursor at BOF";
    EXPECT_EQ(Walk(false), std::vector<int32_t>(c.Forward.rbegin(), c.Forward.rend()));
  }
  ASSERT_EQ(C->RangeSet(0, 0, false, KeyOf(2, lo), true, 0, 0, false, KeyOf(4, hi), true), 0u);
  // A key before the range puts the cursor at BOF, one after it at EOF; exact ones are missed.
  EXPECT_EQ(SetToKey(skaGreaterEqual, 1), 0u);
  EXPECT_EQ(NextID(), 2);
  EXPECT_EQ(SetToKey(skaEqualFirst, 5), zfErrRecNotFound);
  EXPECT_EQ(NextID(false), 4);
  EXPECT_EQ(SetToKey(skaEqualFirst, 3), 0u);
  EXPECT_EQ(NextID(), 3);
  // A bookmark outside the range puts the cursor at the range's near end.
  std::vector<uint8_t> mark(TzfServerTableCursor::kBookmarkSize), five(mark);
  ASSERT_EQ(C->SwitchToIndex(u"", -1, false), 0u);
  ASSERT_TRUE(GoTo(1));
  ASSERT_EQ(C->GetBookmark(mark.data(), static_cast<uint32_t>(mark.size())), 0u);
  ASSERT_TRUE(GoTo(5));
  ASSERT_EQ(C->GetBookmark(five.data(), static_cast<uint32_t>(five.size())), 0u);
  ASSERT_EQ(C->SwitchToIndex(u"ByID", -1, false), 0u);
  ASSERT_EQ(C->RangeSet(0, 0, false, KeyOf(2, lo), true, 0, 0, false, KeyOf(4, hi), true), 0u);
  ASSERT_EQ(C->SetToBookmark(mark.data(), static_cast<uint32_t>(mark.size())), 0u);
  EXPECT_EQ(C->RecordGet(zfltNoLock, Rec), zfErrBOF);
  EXPECT_EQ(NextID(), 2);
  ASSERT_EQ(C->SetToBookmark(five.data(), static_cast<uint32_t>(five.size())), 0u);
  EXPECT_EQ(NextID(), 0);
  ASSERT_EQ(C->SetToBookmark(five.data(), static_cast<uint32_t>(five.size())), 0u);
  EXPECT_EQ(NextID(false), 4);
  ASSERT_EQ(SetToKey(skaEqualFirst, 3), 0u);
  ASSERT_EQ(NextID(), 3);
  // Resetting keeps the position and opens both ends.
  ASSERT_EQ(C->RangeReset(), 0u);
  EXPECT_EQ(Continue(true), (std::vector<int32_t>{4, 5}));
  // A switch drops the range.
  ASSERT_EQ(C->RangeSet(0, 0, false, KeyOf(2, lo), true, 0, 0, false, KeyOf(4, hi), true), 0u);
  ASSERT_EQ(C->SwitchToIndex(u"ByID", -1, false), 0u);
  EXPECT_EQ(Walk(true), (std::vector<int32_t>{1, 2, 3, 4, 5}));
}

TEST_F(TableCursorIndex, BulkBuilderForEmptyIndexesInsideATransaction) {
  auto* tc = dynamic_cast<TzfServerTableCursor*>(C);
  ASSERT_NE(tc, nullptr);
  std::unique_ptr<TzfBaseBulkBuilder> b;
  EXPECT_EQ(tc->stcCreateBulkBuilder(b), zfErrNotSupported) << "only inside a transaction";
  TzfAbstractTransContext* ctx = Db->TransContext();
  ASSERT_EQ(ctx->TransactionStart(false, false), 0u);
  ASSERT_EQ(tc->stcCreateBulkBuilder(b), 0u);
  ASSERT_NE(b, nullptr);
  // Equal IDs are refused by the unique index when the build ends.
  std::vector<uint8_t> r1, r2;
  EXPECT_EQ(b->InsertKey(1, KeyOf(7, r1)), 0u);
  uint32_t code = 0;
  try {
    code = b->InsertKey(2, KeyOf(7, r2));
    if (code == 0) code = b->Finalize();
  } catch (const EzfBaseException& e) {
    code = e.ErrorCode();
  }
  EXPECT_EQ(code, zfErrKeyViol);
  b.reset();
  ASSERT_EQ(ctx->TransactionRollback(), 0u);

  // Indexes that hold keys get no builder.
  ASSERT_EQ(Insert(1), 0u);
  ASSERT_EQ(ctx->TransactionStart(false, false), 0u);
  EXPECT_EQ(tc->stcCreateBulkBuilder(b), 15511u);
  EXPECT_EQ(b, nullptr);
  ASSERT_EQ(ctx->TransactionRollback(), 0u);
}

TEST_F(TableCursorIndex, KeyFiltersSkipKeysUntilAnIndexSwitch) {
  FillShuffled();
  auto* tc = static_cast<TzfServerTableCursor*>(C);
  // Even IDs only, read from the key itself.
  const auto even = [tc](int32_t, const uint8_t* aKey) {
    return tc->GetCurrentKeyFieldsSource()->GetFieldAsVariant(aKey, 0).AsInteger() % 2 == 0;
  };
  TzfKeyFilterID id = 0;
  EXPECT_EQ(C->KeyFilterAddCallback(0, even, id), zfErrNoAssocIndex) << "key filters need an index";
  ASSERT_EQ(C->SwitchToIndex(u"ByID", -1, false), 0u);
  ASSERT_EQ(C->KeyFilterAddCallback(0, even, id), 0u);
  EXPECT_EQ(Walk(true), (std::vector<int32_t>{1, 2, 3, 4, 5})) << "a new key filter starts inactive";
  ASSERT_EQ(C->KeyFilterActivate(id), 0u);
  EXPECT_EQ(Walk(true), (std::vector<int32_t>{2, 4}));
  EXPECT_EQ(Walk(false), (std::vector<int32_t>{4, 2}));
  EXPECT_EQ(SetToKey(skaGreaterEqual, 3), 0u);
  EXPECT_EQ(NextID(), 4);
  // A record the key filter rejects is no current record.
  ASSERT_EQ(C->SwitchToIndex(u"", -1, false), 0u);
  ASSERT_TRUE(GoTo(3));
  ASSERT_EQ(C->SwitchToIndex(u"ByID", -1, true), 0u);
  EXPECT_EQ(C->KeyFilterActivate(id), 0u);
  EXPECT_EQ(C->RecordGet(zfltNoLock, Rec), zfErrNoCurrRec);
  EXPECT_EQ(NextID(), 4);
  EXPECT_EQ(C->RecordGet(zfltNoLock, Rec), 0u);

  // A switch deactivates it; it can be activated again, deactivated and removed.
  ASSERT_EQ(C->SwitchToIndex(u"ByID", -1, false), 0u);
  EXPECT_EQ(Walk(true), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  ASSERT_EQ(C->KeyFilterActivate(0), 0u);
  EXPECT_EQ(Walk(true), (std::vector<int32_t>{2, 4}));
  ASSERT_EQ(C->KeyFilterDeactivate(id), 0u);
  EXPECT_EQ(Walk(true), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(C->KeyFilterRemove(id + 1), zfErrInvalidFilterHandle);
  ASSERT_EQ(C->KeyFilterRemove(id), 0u);
  EXPECT_EQ(C->KeyFilterActivate(id), zfErrInvalidFilterHandle);
}

TEST_F(TableCursorIndex, RecordGetForKeyWalksTheEqualKeys) {
  // (ID, Name): three records share the name "a".
  const std::pair<int32_t, const char16_t*> rows[] = {{1, u"a"}, {2, u"b"}, {3, u"a"}, {4, u"c"}, {5, u"a"}};
  for (auto [id, name] : rows) {
    C->SetFieldFromVariant(Rec, 0, rtl::Variant(id));
    C->SetFieldFromVariant(Rec, 1, rtl::Variant(UnicodeString(name)));
    ASSERT_EQ(C->RecordInsert(zfltNoLock, Rec), 0u);
  }
  std::vector<uint8_t> key(Rec, Rec + RecLen());
  const auto withName = [&](const char16_t* aName) {
    C->SetFieldFromVariant(key.data(), 1, rtl::Variant(UnicodeString(aName)));
    return key.data();
  };
  EXPECT_EQ(C->RecordGetForKey(0, 0, false, withName(u"a"), Rec, true, true), zfErrNoAssocIndex);
  auto byName = TzfIndexDescriptor::CreateStandalone(0, u"ByName", 0, nullptr);
  byName->SetDups(idAll);
  dynamic_cast<TzfCompKeyDescriptor&>(*byName->idKeyDescriptor).Add(1);
  // The add opens an exclusive cursor: this one steps aside for it.
  CloseCursor();
  ASSERT_EQ(Db->TableAddIndex(u"People", u"", byName.get(), false), 0u);
  OpenCursor();
  ASSERT_EQ(C->SwitchToIndex(u"ByName", -1, false), 0u);

  // All the equal keys one call after the other, then 8710 at the end of the direction.
  const auto walk = [&](const char16_t* aName, bool aMatchFirst) {
    std::vector<int32_t> ids;
    bool firstCall = true;
    uint32_t r;
    while ((r = C->RecordGetForKey(0, 0, false, withName(aName), Rec, aMatchFirst, firstCall)) == 0) {
      ids.push_back(C->GetFieldAsVariant(Rec, 0).AsInteger());
      firstCall = false;
    }
    EXPECT_EQ(r, zfErrRecNotFound);
    return ids;
  };
  EXPECT_EQ(walk(u"a", true), (std::vector<int32_t>{1, 3, 5}));
  EXPECT_EQ(NextID(false), 4) << "the cursor stands at EOF";
  EXPECT_EQ(walk(u"a", false), (std::vector<int32_t>{5, 3, 1}));
  EXPECT_EQ(NextID(), 1) << "the cursor stands at BOF";
  EXPECT_EQ(walk(u"b", true), (std::vector<int32_t>{2}));
  EXPECT_TRUE(walk(u"x", true).empty());

  // The record filter skips, the range bounds.
  TzfFilterID f = 0;
  ASSERT_EQ(C->FilterAddCallback(0, [this](int32_t, const uint8_t* aData) {
    return C->GetFieldAsVariant(aData, 0).AsInteger() != 3;
  }, f), 0u);
  ASSERT_EQ(C->FilterActivate(f), 0u);
  EXPECT_EQ(walk(u"a", true), (std::vector<int32_t>{1, 5}));
  ASSERT_EQ(C->FilterRemove(f), 0u);
  std::vector<uint8_t> lo(key);
  C->SetFieldFromVariant(lo.data(), 1, rtl::Variant(UnicodeString(u"b")));
  ASSERT_EQ(C->RangeSet(0, 0, false, lo.data(), true, 0, 0, false, nullptr, true), 0u);
  EXPECT_TRUE(walk(u"a", true).empty()) << "keys outside the range are not found";
  EXPECT_EQ(walk(u"c", true), (std::vector<int32_t>{4}));
}

// Hears every record action of the cursor it is attached to; vetoes VetoAction before it runs.
class TRecordExtender : public TzfBaseEngineExtender {
 public:
  using TzfBaseEngineExtender::TzfBaseEngineExtender;
  uint32_t Notify(TzfEngineAction aAction, bool aBefore, const TzfActionArgs& aArgs) override {
    int64_t ref = -1;
    if (!aArgs.empty())
      if (auto* p = std::any_cast<int64_t*>(&aArgs.back())) ref = **p;
    Heard.push_back({aAction, aBefore, ref});
    return aBefore && aAction == VetoAction ? 7777u : 0u;
  }
  struct Notice {
    TzfEngineAction Action;
    bool Before;
    int64_t Ref;
  };
  std::vector<Notice> Heard;
  int VetoAction = -1;
};

TEST_F(TableCursorIndex, ExtendersHearRecordActionsAndMayVetoThem) {
  auto* ext = new TRecordExtender(nullptr, C, {});  // the cursor frees it
  ASSERT_EQ(Insert(1), 0u);
  ASSERT_EQ(ext->Heard.size(), 2u);
  EXPECT_EQ(ext->Heard[0].Action, eaRecordInsert);
  EXPECT_TRUE(ext->Heard[0].Before);
  EXPECT_EQ(ext->Heard[0].Ref, 0) << "no record number before the insert";
  EXPECT_FALSE(ext->Heard[1].Before);
  EXPECT_GT(ext->Heard[1].Ref, 0);
  const int64_t ref = ext->Heard[1].Ref;

  ext->Heard.clear();
  ASSERT_TRUE(GoTo(1));
  ASSERT_EQ(ext->Heard.size(), 1u);
  EXPECT_EQ(ext->Heard[0].Action, eaRecordGet);
  EXPECT_EQ(ext->Heard[0].Ref, ref);
  C->SetFieldFromVariant(Rec, 1, rtl::Variant(UnicodeString(u"m")));
  ext->Heard.clear();
  ASSERT_EQ(C->RecordModify(Rec, true), 0u);
  ASSERT_EQ(ext->Heard.size(), 2u);
  EXPECT_EQ(ext->Heard[0].Action, eaRecordModify);
  EXPECT_EQ(ext->Heard[1].Ref, ref);

  // A veto before the action stops it; nothing is written.
  struct Case {
    TzfEngineAction Action;
    std::function<uint32_t()> Run;
  } cases[] = {
      {eaRecordInsert, [&] { return Insert(2); }},
      {eaRecordModify, [&] { return GoTo(1) ? ModifyTo(1, 5) : 0u; }},
      {eaRecordDelete, [&] { return Delete(1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.Action));
    ext->VetoAction = c.Action;
    EXPECT_EQ(c.Run(), 7777u);
    EXPECT_EQ(Count(), 1u);
    EXPECT_TRUE(GoTo(1));
  }
  ext->VetoAction = -1;
  EXPECT_EQ(Insert(2), 0u) << "the vetoed key was not left behind";
  ASSERT_EQ(Delete(1), 0u);
  EXPECT_EQ(ext->Heard.back().Action, eaRecordDelete);
  EXPECT_FALSE(ext->Heard.back().Before);
  EXPECT_EQ(ext->Heard.back().Ref, ref);
}

}  // namespace
}  // namespace zf::test
