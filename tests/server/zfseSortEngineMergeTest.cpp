// The merge sort engine and the table sort built on it: records beyond one buffer go through runs
// and merges and come back in key order (ascending or descending, duplicates kept); a table sorted
// in place keeps every record and its indexes still find them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>
#include <vector>

#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllErrors.h"
#include "server/zfseSortEngineMerge.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerTableCursor.h"
#include "storage/zfsrTimeoutHandling.h"
#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

constexpr int32_t kPadBytes = 3000;  // a stride of 3024 bytes: 346 records per buffer

// Fields: 0 "ID" Int32, 1 "K" Int32, 2 "Pad" bytes (left NULL, it only makes records long).
std::unique_ptr<TzfServerDataDict> WideDictionary() {
  auto d = std::make_unique<TzfServerDataDict>();
  d->tdFieldsDescriptor->AddField(u"ID", u"", zftInt32, 0, 0, false, nullptr);
  d->tdFieldsDescriptor->AddField(u"K", u"", zftInt32, 0, 0, false, nullptr);
  d->tdFieldsDescriptor->AddField(u"Pad", u"", zftByteArray, kPadBytes, 0, false, nullptr);
  return d;
}

// An index on field aField, ascending or descending, duplicates allowed.
std::unique_ptr<TzfIndexDescriptor> IndexOn(int32_t aField, bool aAscending, const UnicodeString& aName = u"ByK") {
  auto d = TzfIndexDescriptor::CreateStandalone(0, aName, 0, nullptr);
  d->SetDups(idAll);
  TzfKeyFieldDescriptor* f = dynamic_cast<TzfCompKeyDescriptor&>(*d->idKeyDescriptor).Add(aField);
  f->SetAscend(aAscending);
  return d;
}

class MergeSort : public PeopleCursorTest {
 protected:
  void SetUp() override {
    PeopleCursorTest::SetUp();
    Open();
    Dict = WideDictionary();
    ASSERT_EQ(Db->TableBuild(true, u"Wide", u"", Dict.get(), tsPersistent, false), 0u);
    TzfAbstractCursor* c = nullptr;
    ASSERT_EQ(Db->CursorOpen(c, u"Wide", u"", omReadWrite, smShared, 2000, false), 0u);
    W = static_cast<TzfServerTableCursor*>(c);
    WRec = W->RecordBufferAlloc();
    // The engine is driven here outside any operation: no deadline left over from the last one.
    zfSetTimeout(0, true);
  }
  void TearDown() override {
    if (W) {
      W->RecordBufferFree(WRec);
      W->Free();
    }
    PeopleCursorTest::TearDown();
  }
  const uint8_t* Record(int32_t aID, int32_t aKey) {
    W->Table()->sbtFieldsDescriptor->InitRecord(WRec);
    W->SetFieldFromVariant(WRec, 0, rtl::Variant(aID));
    W->SetFieldFromVariant(WRec, 1, rtl::Variant(aKey));
    return WRec;
  }
  std::pair<int32_t, int32_t> IdAndKey(const uint8_t* aRecord) {
    return {W->GetFieldAsVariant(aRecord, 0).AsInteger(), W->GetFieldAsVariant(aRecord, 1).AsInteger()};
  }
  // Everything the engine gives back, as (ID, K).
  std::vector<std::pair<int32_t, int32_t>> Drain(TzfBaseSortEngine& aEngine) {
    std::vector<std::pair<int32_t, int32_t>> out;
    std::vector<uint8_t> rec(aEngine.RecordLength());
    uint32_t r;
    while ((r = aEngine.Get(rec.data())) == 0) out.push_back(IdAndKey(rec.data()));
    EXPECT_EQ(r, zfErrEOF);
    return out;
  }

  std::unique_ptr<TzfServerDataDict> Dict;
  TzfServerTableCursor* W = nullptr;
  uint8_t* WRec = nullptr;
};

TEST_F(MergeSort, MoreRecordsThanTheBufferHoldsInBothDirections) {
  for (const bool ascending : {true, false}) {
    SCOPED_TRACE(ascending ? "ascending" : "descending");
    auto index = IndexOn(1, ascending);
    TzfMergeSortEngine engine(Db, Dict.get(), index.get());
    ASSERT_EQ(engine.MaxRecCount(), 1048576u / 3024u);
    // Six buffers and a bit: more runs than one merge takes, so runs are merged into runs first.
    const int32_t count = static_cast<int32_t>(engine.MaxRecCount()) * 6 + 13;
    std::map<int32_t, int32_t> keyOf;
    for (int32_t id = 1; id <= count; ++id) {
      const int32_t key = (id * 7919) % 97;  // every key many times over, in no order
      keyOf[id] = key;
      ASSERT_EQ(engine.Put(Record(id, key)), 0u);
    }
    EXPECT_EQ(engine.RunsWritten(), 6u) << "a run per full buffer while putting";
    const auto out = Drain(engine);
    EXPECT_GT(engine.RunsWritten(), 7u) << "the rest of the buffer and at least one intermediate merge";
    EXPECT_EQ(engine.RunCount(), 0u) << "exhausted runs are freed";
    ASSERT_EQ(out.size(), static_cast<size_t>(count));
    std::map<int32_t, int> seen;
    for (size_t i = 0; i < out.size(); ++i) {
      EXPECT_EQ(keyOf[out[i].first], out[i].second) << "records arrive whole";
      ++seen[out[i].first];
      if (i > 0) {
        if (ascending)
          ASSERT_LE(out[i - 1].second, out[i].second) << "at " << i;
        else
          ASSERT_GE(out[i - 1].second, out[i].second) << "at " << i;
      }
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(count)) << "every record once";
    for (auto& [id, n] : seen) ASSERT_EQ(n, 1) << id;
    EXPECT_EQ(engine.Get(nullptr), zfErrEOF);
  }
}

TEST_F(MergeSort, WithinOneBufferNoRunIsWrittenAndEmptyAnswersEndOfTable) {
  auto index = IndexOn(1, true);
  {
    TzfMergeSortEngine engine(Db, Dict.get(), index.get());
    EXPECT_EQ(engine.Get(nullptr), zfErrEOF) << "nothing put";
  }
  TzfMergeSortEngine engine(Db, Dict.get(), index.get());
  const std::vector<int32_t> keys = {5, 3, 9, 3, 1, 9, 0};
  for (size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(engine.Put(Record(int32_t(i) + 1, keys[i])), 0u);
  // Get(nil) skips the first record.
  ASSERT_EQ(engine.Get(nullptr), 0u);
  const auto out = Drain(engine);
  EXPECT_EQ(engine.RunsWritten(), 0u);
  std::vector<int32_t> got;
  for (auto& p : out) got.push_back(p.second);
  EXPECT_EQ(got, (std::vector<int32_t>{1, 3, 3, 5, 9, 9}));
  EXPECT_ANY_THROW(engine.Put(Record(99, 1))) << "putting after reading began";
}

TEST_F(MergeSort, IterateMarksKeyChangesAndIterateSameKeyStopsBeforeTheNextKey) {
  auto index = IndexOn(1, true);
  TzfMergeSortEngine engine(Db, Dict.get(), index.get());
  for (int32_t id = 1; id <= 6; ++id) ASSERT_EQ(engine.Put(Record(id, id <= 2 ? 7 : (id <= 5 ? 8 : 9))), 0u);

  std::vector<int32_t> same;
  uint8_t* data = nullptr;
  auto collect = [&](std::vector<int32_t>& aInto) {
    return [&, into = &aInto](void*, int64_t, const uint8_t* aRec) {
      into->push_back(IdAndKey(aRec).second);
      return TzfRecordIteratorResult::rirContinue;
    };
  };
  EXPECT_TRUE(engine.IterateSameKey(&data, collect(same), nullptr));
  EXPECT_EQ(same, (std::vector<int32_t>{7, 7}));
  EXPECT_NE(data, nullptr) << "pointed at the engine's copy";

  std::vector<int32_t> rest;
  std::vector<bool> changed;
  bool keyChanged = false;
  data = nullptr;
  EXPECT_TRUE(engine.Iterate(
      &data, &keyChanged,
      [&](void*, int64_t, const uint8_t* aRec) {
        rest.push_back(IdAndKey(aRec).second);
        changed.push_back(keyChanged);
        return TzfRecordIteratorResult::rirContinue;
      },
      nullptr));
  EXPECT_EQ(rest, (std::vector<int32_t>{8, 8, 8, 9})) << "the first record of the next key stayed next";
  EXPECT_EQ(changed, (std::vector<bool>{true, false, false, true}));
  EXPECT_FALSE(engine.Iterate(&data, nullptr, collect(rest), nullptr)) << "nothing left";
}

// A table sorted in place: storage order follows the key, every record stays, and the table's
// own index (whose keys named the old places) still leads to the right records.
class TableSort : public MergeSort {
 protected:
  // The table gets the unique index "ByID"; the test's cursor is opened again after it.
  void AddIndexByID() {
    auto byID = IndexOn(0, true, u"ByID");
    byID->SetDups(idNone);
    W->RecordBufferFree(WRec);
    W->Free();
    W = nullptr;
    ASSERT_EQ(Db->TableAddIndex(u"Wide", u"", byID.get(), false), 0u);
    TzfAbstractCursor* c = nullptr;
    ASSERT_EQ(Db->CursorOpen(c, u"Wide", u"", omReadWrite, smShared, 2000, false), 0u);
    W = static_cast<TzfServerTableCursor*>(c);
    WRec = W->RecordBufferAlloc();
  }
  // The index "ByID", kReaderRecords records (IDs 1.., keys spread), and another session's
  // read-only cursor walking "ByID" (Reader, its buffer ReaderRec); the test's cursor in storage order.
  void FillAndOpenIndexReader() {
    ASSERT_NO_FATAL_FAILURE(AddIndexByID());
    ASSERT_EQ(W->SwitchToIndex(u"", -1, false), 0u);
    for (int32_t id = 1; id <= kReaderRecords; ++id)
      ASSERT_EQ(W->RecordInsert(zfltNoLock, const_cast<uint8_t*>(Record(id, (id * 37) % 11))), 0u);
    ASSERT_EQ(Engine->SessionOpen(ReaderSession, u"bob", u"", u"test", 10000), 0u);
    TzfAbstractDatabase* d2 = nullptr;
    ASSERT_EQ(ReaderSession->DatabaseOpen(d2, u"Path", rtl::u16(Dir.Path.string()), nullptr, omReadOnly, smShared,
                                          10000),
              0u);
    ASSERT_EQ(d2->CursorOpen(Reader, u"Wide", u"", omReadOnly, smShared, 5000, false), 0u);
    ASSERT_EQ(Reader->SwitchToIndex(u"ByID", -1, false), 0u);
    ReaderRec = Reader->RecordBufferAlloc();
  }
  void TearDown() override {
    if (Reader) {
      if (ReaderRec) Reader->RecordBufferFree(ReaderRec);
      Reader->Free();
    }
    if (ReaderSession) ReaderSession->Free();
    MergeSort::TearDown();
  }

  static constexpr int32_t kReaderRecords = 2000;
  TzfAbstractSession* ReaderSession = nullptr;
  TzfAbstractCursor* Reader = nullptr;
  uint8_t* ReaderRec = nullptr;
};

TEST_F(TableSort, RecordsFollowTheKeyAndIndexesStayTrue) {
  ASSERT_NO_FATAL_FAILURE(AddIndexByID());
  // The sort rewrites the record order: its cursor reads in that order, not on index 0.
  ASSERT_EQ(W->SwitchToIndex(u"", -1, false), 0u);

  const int32_t count = 400;  // more than one buffer
  for (int32_t id = 1; id <= count; ++id) ASSERT_EQ(W->RecordInsert(zfltNoLock, const_cast<uint8_t*>(Record(id, (id * 37) % 11))), 0u);
  auto byK = IndexOn(1, false);
  zfSetTimeout(0, true);  // a worker called outside an operation
  ASSERT_EQ(W->stcSortRecords(byK.get()), 0u);

  // Storage order: K descending.
  ASSERT_EQ(W->SetToBegin(), 0u);
  std::vector<std::pair<int32_t, int32_t>> stored;
  while (W->RecordGetNext(zfltNoLock, WRec) == 0) stored.push_back(IdAndKey(WRec));
  ASSERT_EQ(stored.size(), static_cast<size_t>(count));
  for (size_t i = 1; i < stored.size(); ++i) ASSERT_GE(stored[i - 1].second, stored[i].second) << i;
  for (auto& [id, key] : stored) ASSERT_EQ(key, (id * 37) % 11) << id;

  // The unique index finds each record under its own ID.
  ASSERT_EQ(W->SwitchToIndex(u"ByID", -1, false), 0u);
  int32_t expected = 1;
  while (W->RecordGetNext(zfltNoLock, WRec) == 0) {
    ASSERT_EQ(IdAndKey(WRec).first, expected);
    ASSERT_EQ(IdAndKey(WRec).second, (expected * 37) % 11);
    ++expected;
  }
  EXPECT_EQ(expected, count + 1);
  ASSERT_EQ(W->SwitchToIndex(u"", -1, false), 0u);
}

// A reader of another session that stands in the middle of an index walk when a sort rebuilds
// that index: the leaf it remembers may since belong to another part of the file; its next step
// goes on from its key and errs nowhere (its record moved, so the same ID may come once more).
TEST_F(TableSort, AReaderMidWalkGoesOnAfterTheSortRebuiltItsIndex) {
  ASSERT_NO_FATAL_FAILURE(FillAndOpenIndexReader());
  TzfAbstractCursor* reader = Reader;
  uint8_t* rec = ReaderRec;
  const int32_t count = kReaderRecords;
  ASSERT_EQ(reader->SetToBegin(), 0u);
  int32_t last = 0;
  for (int round = 0; round < 4; ++round) {
    for (int step = 0; step < 40; ++step) {
      ASSERT_EQ(reader->RecordGetNext(zfltNoLock, rec), 0u) << round << " " << step;
      const int32_t id = reader->GetFieldAsVariant(rec, 0).AsInteger();
      ASSERT_GE(id, last);
      last = id;
    }
    auto byK = IndexOn(1, round % 2 == 0);
    zfSetTimeout(0, true);
    ASSERT_EQ(W->stcSortRecords(byK.get()), 0u);
  }
  uint32_t code = 0;
  while ((code = reader->RecordGetNext(zfltNoLock, rec)) == 0) {
    const int32_t id = reader->GetFieldAsVariant(rec, 0).AsInteger();
    ASSERT_GE(id, last);
    last = id;
  }
  EXPECT_EQ(code, zfErrEOF);
  EXPECT_EQ(last, count);
}

// A sort while another session reads the table in the order of its index outside transactions:
// the sort rebuilds the index through the engine that reader uses, and both go on unharmed.
TEST_F(TableSort, BesideAnIndexReaderOfAnotherSession) {
  ASSERT_NO_FATAL_FAILURE(FillAndOpenIndexReader());
  TzfAbstractCursor* reader = Reader;
  uint8_t* rec = ReaderRec;
  const int32_t count = kReaderRecords;
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0}, walks{0};
  // A walk outside a transaction is no snapshot: one that crosses a sort's commit goes on from its
  // key among records that moved (the same ID may come twice), but never errs or steps back.
  std::thread thread([&] {
    while (!stop) {
      if (reader->SetToBegin() != 0) ++bad;
      int32_t last = 0;
      for (;;) {
        const uint32_t code = reader->RecordGetNext(zfltNoLock, rec);
        if (code == zfErrEOF) break;
        const int32_t id = code == 0 ? reader->GetFieldAsVariant(rec, 0).AsInteger() : -1;
        if (id < last) {
          ++bad;
          break;
        }
        last = id;
      }
      if (last != count) ++bad;
      ++walks;
    }
  });
  for (int round = 0; round < 3; ++round) {
    auto byK = IndexOn(1, round % 2 == 0);
    zfSetTimeout(0, true);
    EXPECT_EQ(W->stcSortRecords(byK.get()), 0u);
  }
  stop = true;
  thread.join();
  EXPECT_GT(walks.load(), 0);
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace zf::test
