// The dataset core over a real engine: a table built through the engine, read through a dataset
// whose engine cursor is a table cursor opened through the database component.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "client/zfdbDataset.h"
#include "client/zfdbStartup.h"
#include "foundation/zfllErrors.h"
#include "server/zfsrServerTableCursor.h"
#include "tests/client/zfdbTableTestUtil.h"

namespace zf::test {
namespace {

// Opens the table "People" through its database's CursorOpen; what a table component does.
class TPeopleDataset : public TzfDataset {
 public:
  using TzfDataset::TzfDataset;
  using TzfDataset::AbstractCursor;
  void SetWriteOnly(bool aValue) { dsWriteOnly = aValue; }
  using TzfDataset::ActiveBuffer;
  using TzfDataset::GetBookmarkFlag;
  // Run on the engine cursor right after it opens (filters of a test).
  std::function<void(TzfAbstractCursor*)> OnCursor;

 protected:
  void OpenAbstractCursor() override {
    TzfAbstractCursor* c = nullptr;
    Check(Database()->AbstractDatabase()->CursorOpen(c, u"People", u"", omReadOnly, smShared, EffectiveTimeout(),
                                                     false));
    dsAbstractCursor = c;
    if (OnCursor) OnCursor(c);
  }
};

class ClientDataset : public ClientDatabaseTest {
 protected:
  void SetUp() override {
    ClientDatabaseTest::SetUp();
    auto dict = SmallDictionary();
    ASSERT_EQ(Db->AbstractDatabase()->TableBuild(false, u"People", u"", dict.get(), tsPersistent, false), 0u);
    DS.reset(new TPeopleDataset());
    DS->SetName(u"People1");
    DS->SetDatabase(Db.get());
  }
  void TearDown() override {
    DS.reset();
    ClientDatabaseTest::TearDown();
  }
  // Records with IDs 1..aCount, named "n<ID>".
  void Fill(int aCount) { InsertRecords(u"People", IDsUpTo(aCount), SetName); }
  int32_t Id() { return DS->FieldByName(u"ID").GetAsInteger(); }
  std::vector<int32_t> WalkForward() {
    std::vector<int32_t> ids;
    for (DS->First(); !DS->Eof(); DS->Next()) ids.push_back(Id());
    return ids;
  }

  rtl::TComponentPtr<TPeopleDataset> DS;
};

TEST_F(ClientDataset, OpensWithFieldDefsFromTheEngineFields) {
  Fill(1);
  DS->Open();
  ASSERT_EQ(DS->FieldDefs().Count(), 2);
  EXPECT_EQ(DS->FieldDefs()[0].Name(), u"ID");
  EXPECT_EQ(DS->FieldDefs()[0].DataType(), db::ftInteger);
  EXPECT_EQ(DS->FieldDefs()[1].DataType(), db::ftWideString);
  EXPECT_EQ(DS->FieldDefs()[1].FieldNo(), 2);
  EXPECT_EQ(Id(), 1);
  EXPECT_EQ(DS->FieldByName(u"Name").GetAsString(), u"n1");
  EXPECT_EQ(DS->RecordLength(), DS->AbstractCursor()->acFields().GetRecordLength());
  DS->Close();
  EXPECT_EQ(DS->AbstractCursor(), nullptr);
}

TEST_F(ClientDataset, NavigatesBothWaysWithBofAndEof) {
  Fill(5);
  DS->Open();
  EXPECT_TRUE(DS->Bof());
  EXPECT_FALSE(DS->Eof());
  EXPECT_EQ(WalkForward(), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(DS->Eof());
  DS->Last();
  EXPECT_EQ(Id(), 5);
  EXPECT_TRUE(DS->Eof());
  DS->Prior();
  DS->Prior();
  EXPECT_EQ(Id(), 3);
  DS->First();
  DS->Prior();
  EXPECT_TRUE(DS->Bof());
  EXPECT_EQ(Id(), 1);
  EXPECT_EQ(DS->RecordCount(), 5);
}

TEST_F(ClientDataset, EmptyTableIsBofAndEof) {
  DS->Open();
  EXPECT_TRUE(DS->Bof());
  EXPECT_TRUE(DS->Eof());
  EXPECT_TRUE(DS->IsEmpty());
  EXPECT_EQ(DS->RecordCount(), 0);
  EXPECT_TRUE(DS->FieldByName(u"ID").IsNull());
}

TEST_F(ClientDataset, FlipOrderPresentsTheTableReversed) {
  Fill(4);
  DS->SetFlipOrder(true);
  DS->Open();
  EXPECT_EQ(WalkForward(), (std::vector<int32_t>{4, 3, 2, 1}));
  DS->First();
  const db::TBookmark first = DS->GetBookmark();  // ID 4
  DS->Next();
  const db::TBookmark second = DS->GetBookmark();  // ID 3
  EXPECT_EQ(DS->CompareBookmarks(first, second), -1) << "in the order on show";
  DS->SetFlipOrder(false);
  EXPECT_EQ(Id(), 3) << "stays on its record";
  EXPECT_EQ(DS->CompareBookmarks(first, second), 1);
  DS->Next();
  EXPECT_EQ(Id(), 4);
}

TEST_F(ClientDataset, BookmarksGoBackAndCompare) {
  Fill(6);
  DS->Open();
  DS->MoveBy(2);
  const db::TBookmark third = DS->GetBookmark();
  DS->Last();
  const db::TBookmark last = DS->GetBookmark();
  ASSERT_EQ(third.size(), last.size());
  DS->GotoBookmark(third);
  EXPECT_EQ(Id(), 3);
  EXPECT_TRUE(DS->BookmarkValid(last));
  EXPECT_FALSE(DS->BookmarkValid({}));
  EXPECT_EQ(DS->CompareBookmarks(third, last), -1);
  EXPECT_EQ(DS->CompareBookmarks(last, third), 1);
  EXPECT_EQ(DS->CompareBookmarks(third, third), 0);
  // Empty ones: only the first empty sorts first.
  EXPECT_EQ(DS->CompareBookmarks({}, {}), 0);
  EXPECT_EQ(DS->CompareBookmarks({}, third), -1);
  EXPECT_EQ(DS->CompareBookmarks(third, {}), 1);
}

TEST_F(ClientDataset, BookmarkTheCursorCannotCompareRaises) {
  Fill(2);
  DS->Open();
  db::TBookmark good = DS->GetBookmark();
  db::TBookmark bad(good.size(), 0xFF);
  // The cursor's code is an error, never an order.
  const uint32_t code = ClientErrorCode([&] { DS->CompareBookmarks(good, bad); });
  EXPECT_NE(code, 0u);
  EXPECT_FALSE(DS->BookmarkValid(bad));
  EXPECT_EQ(ClientErrorCode([&] { DS->CompareBookmarks(good, db::TBookmark{1, 2}); }), zfErrBookmarkMismatch);
}

TEST_F(ClientDataset, FilterTimeoutIsRetriedUntilTheRecordIsFound) {
  Fill(30);
  DS->OnCursor = [](TzfAbstractCursor* aC) {
    TzfFilterID id = 0;
    // Only the last record passes, and slowly enough that the filter's deadline passes first.
    ASSERT_EQ(aC->FilterAddCallback(0, [aC](int32_t, const uint8_t* aData) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return aC->GetFieldAsVariant(aData, 0).AsInteger() == 30;
    }, id), 0u);
    ASSERT_EQ(aC->FilterActivate(id), 0u);
    ASSERT_EQ(aC->FilterSetTimeout(5), 0u);
  };
  int timeouts = 0;
  DS->OnServerFilterTimeout = [&](TzfDataset&, bool&) { ++timeouts; };
  DS->Open();
  EXPECT_EQ(Id(), 30);
  EXPECT_GT(timeouts, 0);
  // A handler that stops turns the time-out into an error of the fetch.
  DS->OnServerFilterTimeout = [&](TzfDataset&, bool& aAbort) { aAbort = true; };
  DS->Close();
  EXPECT_NE(ClientErrorCode([&] { DS->Open(); }), 0u);
}

TEST_F(ClientDataset, UnreadableRecordIsAnErrorNotTheEnd) {
  Fill(5);
  DS->OnCursor = [](TzfAbstractCursor* aC) {
    TzfFilterID id = 0;
    ASSERT_EQ(aC->FilterAddCallback(0, [aC](int32_t, const uint8_t* aData) {
      if (aC->GetFieldAsVariant(aData, 0).AsInteger() == 3) throw std::runtime_error("damaged");
      return true;
    }, id), 0u);
    ASSERT_EQ(aC->FilterActivate(id), 0u);
  };
  DS->Open();
  EXPECT_EQ(Id(), 1);
  DS->Next();
  EXPECT_EQ(Id(), 2);
  EXPECT_THROW(DS->Next(), db::EDatabaseError);
  EXPECT_FALSE(DS->Eof()) << "the failed read is not the end of the table";
  EXPECT_EQ(Id(), 2);
}

TEST_F(ClientDataset, BlockReadingServesEveryRecordOnce) {
  Fill(25);
  DS->Open();
  DS->Next();
  // Small blocks: a few records each, so the walk crosses several refills and ends on the
  // block that reports the end.
  DS->SetBlockReadSize(100);
  EXPECT_TRUE(DS->IsUniDirectional());
  EXPECT_EQ(DS->State(), db::dsBlockRead);
  std::vector<int32_t> ids;
  for (; !DS->Eof(); DS->Next()) ids.push_back(Id());
  ASSERT_EQ(ids.size(), 25u);
  for (int i = 0; i < 25; ++i) EXPECT_EQ(ids[static_cast<size_t>(i)], i + 1);
  EXPECT_ANY_THROW(DS->Prior());
  DS->First();
  EXPECT_EQ(Id(), 1) << "first starts the blocks again";
  DS->Next();
  const db::TBookmark second = DS->GetBookmark();
  DS->SetBlockReadSize(0);
  EXPECT_FALSE(DS->IsUniDirectional());
  EXPECT_EQ(DS->State(), db::dsBrowse);
  DS->GotoBookmark(second);
  EXPECT_EQ(Id(), 2) << "a bookmark taken in a block is the record's";
  DS->Prior();
  EXPECT_EQ(Id(), 1);
}

TEST_F(ClientDataset, BookmarkFlagIsNotReadInTheBlockReadState) {
  Fill(3);
  DS->Open();
  EXPECT_EQ(DS->GetBookmarkFlag(DS->ActiveBuffer()), db::bfCurrent);
  DS->SetBlockReadSize(100);
  ASSERT_EQ(DS->State(), db::dsBlockRead);
  db::TRecordBuffer b = DS->ActiveBuffer();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(ClientErrorCode([&] { DS->GetBookmarkFlag(b); }), zfErrNotSupported);
  EXPECT_TRUE(RaisesText([&] { DS->GetBookmarkFlag(b); }, u"GetBookmarkFlag is not supported in BlockRead mode"));
  EXPECT_EQ(Id(), 1) << "the block is still served";
  DS->Next();
  EXPECT_EQ(Id(), 2);
}

TEST_F(ClientDataset, BlockReadingFlippedReadsBackwards) {
  Fill(7);
  DS->SetFlipOrder(true);
  DS->Open();
  DS->SetBlockReadSize(64);
  std::vector<int32_t> ids;
  for (; !DS->Eof(); DS->Next()) ids.push_back(Id());
  EXPECT_EQ(ids, (std::vector<int32_t>{7, 6, 5, 4, 3, 2, 1}));
}

TEST_F(ClientDataset, LocateAndLookupWithoutAnIndex) {
  Fill(6);
  DS->Open();
  EXPECT_TRUE(DS->Locate(u"ID", rtl::Variant(4), {}));
  EXPECT_EQ(Id(), 4);
  DS->Next();
  EXPECT_EQ(Id(), 5) << "the ring follows the located record";
  EXPECT_TRUE(DS->Locate(u"Name", rtl::Variant(UnicodeString(u"N2")), {db::loCaseInsensitive}));
  EXPECT_EQ(Id(), 2);
  EXPECT_FALSE(DS->Locate(u"Name", rtl::Variant(UnicodeString(u"N2")), {}));
  EXPECT_FALSE(DS->Locate(u"Name", rtl::Variant(UnicodeString(u"n6x")), {}));
  EXPECT_TRUE(DS->Locate(u"Name", rtl::Variant(UnicodeString(u"n6x")), {db::loPartialKey}) == false)
      << "a partial key is a prefix of the field, not the other way round";
  DS->Last();
  EXPECT_TRUE(DS->Locate(u"Name", rtl::Variant(UnicodeString(u"n")), {db::loPartialKey}));
  EXPECT_EQ(Id(), 1) << "searches from the start";
  EXPECT_FALSE(DS->Locate(u"ID", rtl::Variant(99), {}));
  DS->First();
  EXPECT_EQ(DS->Lookup(u"ID", rtl::Variant(3), u"Name").AsString(), u"n3");
  EXPECT_EQ(Id(), 1) << "Lookup does not move the dataset";
  EXPECT_TRUE(DS->Lookup(u"ID", rtl::Variant(42), u"Name").IsEmpty());
  EXPECT_EQ(ClientErrorCode([&] { DS->Locate(u"ID;Name", rtl::Variant(1), {}); }), zfErrInvalidParam)
      << "several key fields need an array of values";
}

TEST_F(ClientDataset, WriteOnlyReadsNothing) {
  Fill(3);
  DS->SetWriteOnly(true);
  DS->Open();
  EXPECT_TRUE(DS->Bof());
  EXPECT_TRUE(DS->Eof());
  DS->Last();
  EXPECT_TRUE(DS->IsEmpty());
  EXPECT_FALSE(DS->Locate(u"ID", rtl::Variant(2), {}));
  EXPECT_FALSE(DS->BookmarkValid(db::TBookmark(static_cast<size_t>(24), 0)));
  EXPECT_EQ(DS->RecordCount(), 3) << "the table is still counted";
}

TEST_F(ClientDataset, RecNoFollowsTheActiveRecord) {
  Fill(4);
  DS->Open();
  EXPECT_FALSE(DS->IsSequenced()) << "record numbers are asked for through Options";
  EXPECT_EQ(DS->GetRecNo(), -1);
  DS->Close();
  DS->SetOptions({dsoRecNoSupport});
  DS->Open();
  if (!DS->IsSequenced()) GTEST_SKIP() << "the cursor has no record numbers";
  DS->MoveBy(2);
  EXPECT_EQ(DS->GetRecNo(), 3);
  DS->SetRecNo(2);
  EXPECT_EQ(Id(), 2);
}

}  // namespace
}  // namespace zf::test
