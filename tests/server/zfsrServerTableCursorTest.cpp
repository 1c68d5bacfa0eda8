// Table cursors through a session and a database: opening, navigation both ways, bookmarks from
// clients, records deleted under another cursor, writes in implicit and explicit transactions,
// record locks between sessions, read-only refusals and counts.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "dictionary/zfsdDataDictionaryRefInt.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "server/zfseRefIntEngine.h"
#include "server/zfsrServerTransaction.h"
#include "tests/server/zfsrServerTestUtil.h"

namespace zf::test {
namespace {

class TableCursor : public ServerEngineTest {
 protected:
  void SetUp() override {
    ServerEngineTest::SetUp();
    S = OpenSession();
    Db = OpenDb(S);
    auto dict = SmallDictionary();
    ASSERT_EQ(Db->TableBuild(false, u"People", u"", dict.get(), tsPersistent, false), 0u);
  }
  void TearDown() override {
    for (auto* c : Cursors) c->Free();
    Cursors.clear();
    for (auto* d : Dbs) d->Free();
    for (auto* s : Sessions) s->Free();
    ServerEngineTest::TearDown();
  }
  TzfServerSession* OpenSession() {
    TzfAbstractSession* s = nullptr;
    EXPECT_EQ(Engine->SessionOpen(s, u"alice", u"", u"test", 10000), 0u);
    Sessions.push_back(static_cast<TzfServerSession*>(s));
    return Sessions.back();
  }
  TzfServerDatabase* OpenDb(TzfServerSession* aSession) {
    TzfAbstractDatabase* d = nullptr;
    EXPECT_EQ(aSession->DatabaseOpen(d, u"Path", rtl::u16(Dir.Path.string()), nullptr, omReadWrite, smShared, 10000),
              0u);
    Dbs.push_back(static_cast<TzfServerDatabase*>(d));
    return Dbs.back();
  }
  TzfServerTableCursor* Open(TzfServerDatabase* aDb = nullptr, TzfOpenMode aMode = omReadWrite) {
    TzfAbstractCursor* c = nullptr;
    EXPECT_EQ((aDb ? aDb : Db)->CursorOpen(c, u"People", u"", aMode, smShared, 2000, false), 0u);
    auto* tc = dynamic_cast<TzfServerTableCursor*>(c);
    EXPECT_NE(tc, nullptr);
    Cursors.push_back(tc);
    return tc;
  }
  struct Buffer {
    TzfAbstractCursor* C;
    uint8_t* P;
    explicit Buffer(TzfAbstractCursor* aC) : C(aC), P(aC->RecordBufferAlloc()) {}
    ~Buffer() { C->RecordBufferFree(P); }
  };
  static uint32_t Insert(TzfAbstractCursor* aC, int32_t aID, const char16_t* aName) {
    Buffer b(aC);
    aC->SetFieldFromVariant(b.P, 0, rtl::Variant(aID));
    aC->SetFieldFromVariant(b.P, 1, rtl::Variant(UnicodeString(aName)));
    return aC->RecordInsert(zfltNoLock, b.P);
  }
  static int32_t IdOf(TzfAbstractCursor* aC, const uint8_t* aData) { return aC->GetFieldAsVariant(aData, 0).AsInteger(); }
  // The IDs met walking the whole table forward (or backward) from its end.
  static std::vector<int32_t> Walk(TzfAbstractCursor* aC, bool aForward) {
    std::vector<int32_t> ids;
    Buffer b(aC);
    EXPECT_EQ(aForward ? aC->SetToBegin() : aC->SetToEnd(), 0u);
    for (;;) {
      const uint32_t r = aForward ? aC->RecordGetNext(zfltNoLock, b.P) : aC->RecordGetPrior(zfltNoLock, b.P);
      if (r != 0) {
        EXPECT_EQ(r, aForward ? zfErrEOF : zfErrBOF);
        break;
      }
      ids.push_back(IdOf(aC, b.P));
    }
    return ids;
  }
  void Fill(TzfAbstractCursor* aC, int aCount) {
    for (int i = 1; i <= aCount; ++i) ASSERT_EQ(Insert(aC, i, u"n"), 0u);
  }

  TzfServerSession* S = nullptr;
  TzfServerDatabase* Db = nullptr;
  std::vector<TzfServerSession*> Sessions;
  std::vector<TzfServerDatabase*> Dbs;
  std::vector<TzfServerTableCursor*> Cursors;
};

TEST_F(TableCursor, OpensOnTheTableAndWalksBothWays) {
  TzfServerTableCursor* c = Open();
  EXPECT_EQ(Walk(c, true), std::vector<int32_t>{});
  Fill(c, 5);
  EXPECT_EQ(Walk(c, false), (std::vector<int32_t>{5, 4, 3, 2, 1}));
  EXPECT_EQ(Walk(c, true), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  // At the end the cursor stays there; at the start too.
  EXPECT_EQ(c->RecordGetNext(zfltNoLock, nullptr), zfErrEOF);
  EXPECT_EQ(c->RecordGet(zfltNoLock, nullptr), zfErrEOF);
  EXPECT_EQ(c->SetToBegin(), 0u);
  EXPECT_EQ(c->RecordGetPrior(zfltNoLock, nullptr), zfErrBOF);
  EXPECT_EQ(c->RecordGet(zfltNoLock, nullptr), zfErrBOF);
  // Without a buffer the path moves all the same.
  EXPECT_EQ(c->RecordGetNext(zfltNoLock, nullptr), 0u);
  Buffer b(c);
  EXPECT_EQ(c->RecordGet(zfltNoLock, b.P), 0u);
  EXPECT_EQ(IdOf(c, b.P), 1);
  uint32_t count = 0;
  EXPECT_EQ(c->GetRecordCount(count, false), 0u);
  EXPECT_EQ(count, 5u);
  for (auto mode : {rcoTotalRecordCount, rcoTotalKeyCount, rcoRangedKeyCount}) {
    EXPECT_EQ(c->GetRecordCountEx(mode, count, false), 0u);
    EXPECT_EQ(count, 5u);
  }
}

TEST_F(TableCursor, UnknownTableIsRefused) {
  TzfAbstractCursor* c = nullptr;
  EXPECT_NE(Db->CursorOpen(c, u"Nobody", u"", omReadWrite, smShared, 2000, false), 0u);
  EXPECT_EQ(c, nullptr);
}

TEST_F(TableCursor, BookmarksInAndOutAndBadOnesFromClients) {
  TzfServerTableCursor* c = Open();
  Fill(c, 3);
  Buffer b(c);
  ASSERT_EQ(c->SetToBegin(), 0u);
  ASSERT_EQ(c->RecordGetNext(zfltNoLock, b.P), 0u);
  ASSERT_EQ(c->RecordGetNext(zfltNoLock, b.P), 0u);
  uint8_t mark[TzfServerTableCursor::kBookmarkSize + 4] = {};
  ASSERT_EQ(c->GetBookmark(mark, TzfServerTableCursor::kBookmarkSize), 0u);
  ASSERT_EQ(c->SetToEnd(), 0u);
  EXPECT_EQ(c->GetBookmark(mark + 8, 8), zfErrEOF) << "no bookmark off a record";
  ASSERT_EQ(c->SetToBookmark(mark, TzfServerTableCursor::kBookmarkSize), 0u);
  ASSERT_EQ(c->RecordGet(zfltNoLock, b.P), 0u);
  EXPECT_EQ(IdOf(c, b.P), 2);
  ASSERT_EQ(c->RecordGetNext(zfltNoLock, b.P), 0u);
  EXPECT_EQ(IdOf(c, b.P), 3);

  const uint8_t zero[8] = {};
  const uint8_t negative[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  struct Case {
    const uint8_t* Mark;
    uint32_t Size;
  } cases[] = {{nullptr, 8}, {mark, 7}, {mark, 0}, {zero, 8}, {negative, 8}};
  for (const auto& k : cases) {
    EXPECT_EQ(c->SetToBookmark(k.Mark, k.Size), zfErrBookmarkMismatch);
    TValueRelationship rel = 5;
    EXPECT_EQ(c->CompareBookmarks(k.Mark, mark, k.Size, rel), zfErrBookmarkMismatch);
  }
  EXPECT_EQ(c->GetBookmark(nullptr, 8), zfErrBookmarkMismatch);
  EXPECT_EQ(c->GetBookmark(mark, 7), zfErrBookmarkMismatch);
  // A well-formed bookmark of a record that is not there reads as deleted, never elsewhere.
  uint8_t far[8] = {0, 0, 0, 0, 0, 0, 0, 0x10};
  ASSERT_EQ(c->SetToBookmark(far, 8), 0u);
  EXPECT_NE(c->RecordGet(zfltNoLock, b.P), 0u);
}

TEST_F(TableCursor, RecordDeletedUnderAnotherCursor) {
  TzfServerTableCursor* a = Open();
  TzfServerTableCursor* b = Open();
  Fill(a, 4);
  Buffer buf(a);
  ASSERT_EQ(a->SetToBegin(), 0u);
  ASSERT_EQ(a->RecordGetNext(zfltNoLock, buf.P), 0u);
  ASSERT_EQ(a->RecordGetNext(zfltNoLock, buf.P), 0u);  // on 2
  ASSERT_EQ(b->SetToCursor(a), 0u);
  ASSERT_EQ(b->RecordDelete(nullptr), 0u);
  EXPECT_EQ(a->RecordGet(zfltNoLock, buf.P), zfErrKeyOrRecDeleted);
  ASSERT_EQ(a->RecordGetNext(zfltNoLock, buf.P), 0u);
  EXPECT_EQ(IdOf(a, buf.P), 3);
  // The deleting cursor stands where the record was: forward reaches 3, backward 1.
  ASSERT_EQ(b->RecordGetNext(zfltNoLock, buf.P), 0u);
  EXPECT_EQ(IdOf(b, buf.P), 3);
  EXPECT_EQ(Walk(a, true), (std::vector<int32_t>{1, 3, 4}));
  uint32_t count = 0;
  EXPECT_EQ(a->GetRecordCount(count, false), 0u);
  EXPECT_EQ(count, 3u);
}

TEST_F(TableCursor, ModifyAndDeleteNeedACurrentRecord) {
  TzfServerTableCursor* c = Open();
  Fill(c, 2);
  Buffer b(c);
  ASSERT_EQ(c->SetToBegin(), 0u);
  EXPECT_EQ(c->RecordModify(b.P, true), zfErrBOF);
  EXPECT_EQ(c->RecordDelete(nullptr), zfErrBOF);
  ASSERT_EQ(c->RecordGetNext(zfltNoLock, b.P), 0u);
  c->SetFieldFromVariant(b.P, 1, rtl::Variant(UnicodeString(u"changed")));
  ASSERT_EQ(c->RecordModify(b.P, true), 0u);
  Buffer again(c);
  ASSERT_EQ(c->RecordGet(zfltNoLock, again.P), 0u);
  EXPECT_EQ(c->GetFieldAsVariant(again.P, 1).AsString(), u"changed");
  EXPECT_EQ(c->RecordInsert(zfltNoLock, nullptr), zfErrInvalidParam);
  EXPECT_EQ(c->RecordModify(nullptr, true), zfErrInvalidParam);
  TzfLockPresent present = lpYesByAnother;
  EXPECT_EQ(c->RecordIsLocked(zfltWriteLock, present), 0u);
  EXPECT_EQ(present, lpNotAtAll) << "a released modify keeps no lock";
}

TEST_F(TableCursor, ReadOnlyCursorRefusesWritesBeforeTheLock) {
  TzfServerTableCursor* w = Open();
  Fill(w, 1);
  TzfServerTableCursor* r = Open(nullptr, omReadOnly);
  Buffer b(r);
  ASSERT_EQ(r->SetToBegin(), 0u);
  ASSERT_EQ(r->RecordGetNext(zfltNoLock, b.P), 0u);
  EXPECT_EQ(r->RecordInsert(zfltNoLock, b.P), zfErrTableReadOnly);
  EXPECT_EQ(r->RecordModify(b.P, true), zfErrTableReadOnly);
  EXPECT_EQ(r->RecordDelete(nullptr), zfErrTableReadOnly);
  EXPECT_EQ(Walk(r, true), std::vector<int32_t>{1});
}

TEST_F(TableCursor, RolledBackTransactionLeavesNoRecord) {
  TzfServerTableCursor* c = Open();
  Fill(c, 1);
  TzfAbstractTransContext* ctx = Db->TransContext();
  ASSERT_EQ(ctx->TransactionStart(false, false), 0u);
  ASSERT_EQ(Insert(c, 7, u"temp"), 0u);
  EXPECT_EQ(Walk(c, true), (std::vector<int32_t>{1, 7})) << "the transaction sees its own insert";
  ASSERT_EQ(ctx->TransactionRollback(), 0u);
  EXPECT_EQ(Walk(c, true), std::vector<int32_t>{1});
  ASSERT_EQ(ctx->TransactionStart(false, false), 0u);
  ASSERT_EQ(Insert(c, 8, u"kept"), 0u);
  ASSERT_EQ(ctx->TransactionCommit(), 0u);
  EXPECT_EQ(Walk(c, true), (std::vector<int32_t>{1, 8}));
}

TEST_F(TableCursor, RecordLocksBetweenSessions) {
  TzfServerTableCursor* a = Open();
  Fill(a, 2);
  TzfServerSession* s2 = OpenSession();
  TzfServerDatabase* db2 = OpenDb(s2);
  TzfServerTableCursor* b = Open(db2);
  Buffer buf(a);
  ASSERT_EQ(a->SetToBegin(), 0u);
  ASSERT_EQ(a->RecordGetNext(zfltWriteLock, buf.P), 0u);
  TzfLockPresent present = lpNotAtAll;
  ASSERT_EQ(a->RecordIsLocked(zfltWriteLock, present), 0u);
  EXPECT_EQ(present, lpYesByUs);

  ASSERT_EQ(b->SetToBegin(), 0u);
  b->atoSetTimeout(50);
  // Refused: the other session's cursor stays beside the record and no lock of it is left.
  EXPECT_EQ(b->RecordGetNext(zfltWriteLock, buf.P), zfErrLocked);
  EXPECT_EQ(b->RecordGet(zfltNoLock, buf.P), zfErrNoCurrRec);
  EXPECT_EQ(b->SetToCursor(a), 10760u) << "cursors of two sessions";
  EXPECT_EQ(b->RecordModify(buf.P, true), zfErrNoCurrRec);
  EXPECT_EQ(a->Table()->sbtLocks->RecordLockCount(), 1);
  ASSERT_EQ(a->RecordLockRelease(true), 0u);
  // Now the same call arrives at the record it was refused.
  ASSERT_EQ(b->SetToBegin(), 0u);
  ASSERT_EQ(b->RecordGetNext(zfltWriteLock, buf.P), 0u);
  EXPECT_EQ(IdOf(b, buf.P), 1);
  ASSERT_EQ(b->RecordLockRelease(true), 0u);
  EXPECT_EQ(a->Table()->sbtLocks->CheckInvariants(), u"");
}

TEST_F(TableCursor, ReadersAndWritersInTwoSessions) {
  TzfServerTableCursor* seed = Open();
  Fill(seed, 20);
  TzfServerSession* s2 = OpenSession();
  TzfServerDatabase* db2 = OpenDb(s2);
  TzfServerTableCursor* reader = Open(db2);
  TzfServerTableCursor* writer = Open();
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread r([&] {
    Buffer b(reader);
    for (int round = 0; round < 200 && !stop; ++round) {
      reader->SetToBegin();
      int seen = 0;
      for (;;) {
        const uint32_t code = reader->RecordGetNext(zfltNoLock, b.P);
        if (code == zfErrEOF) break;
        if (code != 0) {
          ++bad;
          break;
        }
        ++seen;
      }
      if (seen < 20) ++bad;
    }
  });
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(Insert(writer, 100 + i, u"w"), 0u);
  }
  stop = true;
  r.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(Walk(writer, true).size(), 120u);
}

// A table whose ID is an auto-increment field and whose Name is required.
class AutoIncCursor : public TableCursor {
 protected:
  void SetUp() override {
    TableCursor::SetUp();
    auto d = std::make_unique<TzfServerDataDict>();
    d->tdFieldsDescriptor->AddField(u"ID", u"", zftAutoInc, 0, 0, false, nullptr);
    d->tdFieldsDescriptor->AddField(u"Name", u"", zftWideString, 20, 0, true, nullptr);
    ASSERT_EQ(Db->TableBuild(false, u"Auto", u"", d.get(), tsPersistent, false), 0u);
    TzfAbstractCursor* c = nullptr;
    ASSERT_EQ(Db->CursorOpen(c, u"Auto", u"", omReadWrite, smShared, 2000, false), 0u);
    C = static_cast<TzfServerTableCursor*>(c);
    Cursors.push_back(C);
  }
  uint32_t Put(const char16_t* aName, int64_t aID = 0) {
    Buffer b(C);
    if (aID) C->SetFieldFromVariant(b.P, 0, rtl::Variant(aID));
    if (aName) C->SetFieldFromVariant(b.P, 1, rtl::Variant(UnicodeString(aName)));
    const uint32_t r = C->RecordInsert(zfltNoLock, b.P);
    LastID = C->GetFieldAsVariant(b.P, 0);
    return r;
  }
  TzfServerTableCursor* C = nullptr;
  rtl::Variant LastID;
};

TEST_F(AutoIncCursor, FailedInsertLeavesNoRecordAndNoValue) {
  ASSERT_NE(C->Table()->sbtAutoIncEngine, nullptr);
  ASSERT_EQ(Put(u"a"), 0u);
  EXPECT_EQ(LastID.AsInteger(), 1);
  EXPECT_NE(Put(nullptr), 0u) << "the required field is missing";
  EXPECT_TRUE(LastID.IsNull()) << "the generated value is taken back from the caller's record";
  ASSERT_EQ(Put(u"b"), 0u);
  EXPECT_EQ(LastID.AsInteger(), 2) << "the failed insert's value was rolled back";
  ASSERT_EQ(Put(u"c", 40), 0u);
  EXPECT_EQ(LastID.AsInteger(), 40) << "a value given is kept";
  ASSERT_EQ(Put(u"d"), 0u);
  EXPECT_EQ(LastID.AsInteger(), 3) << "and the counter did not move";
  uint32_t count = 0;
  ASSERT_EQ(C->GetRecordCount(count, false), 0u);
  EXPECT_EQ(count, 4u);
}

TEST_F(AutoIncCursor, InsertOptionsFromNamedOptionsAndTheRecoverRoad) {
  // "1" is not "True": the option is switched off.
  ASSERT_EQ(C->OptionSet(u"INSERT_OPTIONS_SETAUTOINC", u"1"), 0u);
  ASSERT_EQ(Put(u"a"), 0u);
  EXPECT_TRUE(LastID.IsNull()) << "no value generated";
  ASSERT_EQ(C->OptionSet(u"insert_options_setautoinc", u"true"), 0u);
  ASSERT_EQ(Put(u"b"), 0u);
  EXPECT_EQ(LastID.AsInteger(), 1);
  // The recover's road: validation only, no generated value, no lock.
  Buffer b(C);
  EXPECT_NE(C->sbcRecordInsert(zfltNoLock, TzfInsertOptions{ioValidate}, b.P), 0u) << "validated";
  C->SetFieldFromVariant(b.P, 1, rtl::Variant(UnicodeString(u"salvaged")));
  EXPECT_EQ(C->sbcRecordInsert(zfltNoLock, TzfInsertOptions{ioValidate}, b.P), 0u);
  EXPECT_TRUE(C->GetFieldAsVariant(b.P, 0).IsNull());
  EXPECT_EQ(C->Table()->sbtLocks->RecordLockCount(), 0);
}

TEST_F(TableCursor, RecordFilterSkipsRecordsAndCounts) {
  TzfServerTableCursor* c = Open();
  Fill(c, 6);
  TzfFilterID id = 0;
  ASSERT_EQ(c->FilterAddCallback(0, [c](int32_t, const uint8_t* aData) {
    return c->GetFieldAsVariant(aData, 0).AsInteger() % 2 == 0;
  }, id), 0u);
  EXPECT_EQ(Walk(c, true), (std::vector<int32_t>{1, 2, 3, 4, 5, 6})) << "inactive";
  ASSERT_EQ(c->FilterActivate(id), 0u);
  EXPECT_EQ(Walk(c, true), (std::vector<int32_t>{2, 4, 6}));
  EXPECT_EQ(Walk(c, false), (std::vector<int32_t>{6, 4, 2}));
  uint32_t count = 0;
  ASSERT_EQ(c->GetRecordCountEx(rcoServerFilteredKeyCount, count, false), 0u);
  EXPECT_EQ(count, 3u);
  ASSERT_EQ(c->GetRecordCountEx(rcoTotalRecordCount, count, false), 0u);
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(c->FilterActivate(id + 1000), 10050u);
  ASSERT_EQ(c->FilterRemove(id), 0u);
  EXPECT_EQ(c->FilterActivate(id), 10050u);
  EXPECT_EQ(Walk(c, true).size(), 6u);
}

TEST_F(TableCursor, FilterThatRejectsEverythingTimesOut) {
  TzfServerTableCursor* c = Open();
  Fill(c, 30);
  TzfFilterID id = 0;
  std::atomic<int> calls{0};
  ASSERT_EQ(c->FilterAddCallback(0, [&](int32_t, const uint8_t*) {
    // Slow enough that the deadline passes inside the table.
    if (++calls > 3) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return false;
  }, id), 0u);
  ASSERT_EQ(c->FilterActivate(id), 0u);
  ASSERT_EQ(c->FilterSetTimeout(10), 0u);
  ASSERT_EQ(c->SetToBegin(), 0u);
  EXPECT_EQ(c->RecordGetNext(zfltNoLock, nullptr), 15444u);
  EXPECT_EQ(c->Position(), TzfCursorPosition::cpOnRecord) << "on the last record looked at";
  ASSERT_EQ(c->FilterSetTimeout(0), 0u);
  EXPECT_EQ(c->RecordGetNext(zfltNoLock, nullptr), zfErrEOF) << "continues to the end without a limit";
}

TEST_F(AutoIncCursor, AutoIncGetAndSet) {
  uint32_t v = 99;
  ASSERT_EQ(C->AutoIncGet(v), 0u);
  EXPECT_EQ(v, 0u);
  ASSERT_EQ(C->AutoIncSet(10), 0u);
  ASSERT_EQ(Put(u"a"), 0u);
  EXPECT_EQ(LastID.AsInteger(), 11);
  ASSERT_EQ(C->AutoIncGet(v), 0u);
  EXPECT_EQ(v, 11u);
  TzfServerTableCursor* plain = Open();
  EXPECT_EQ(plain->AutoIncSet(5), 12289u) << "no auto-increment engine";
}

TEST_F(TableCursor, DuplicateKeepsPositionFilterAndReadOnly) {
  TzfServerTableCursor* c = Open();
  Fill(c, 4);
  TzfFilterID id = 0;
  ASSERT_EQ(c->FilterAddCallback(0, [c](int32_t, const uint8_t* aData) {
    return c->GetFieldAsVariant(aData, 0).AsInteger() != 3;
  }, id), 0u);
  ASSERT_EQ(c->FilterActivate(id), 0u);
  Buffer b(c);
  ASSERT_EQ(c->SetToBegin(), 0u);
  ASSERT_EQ(c->RecordGetNext(zfltNoLock, b.P), 0u);
  ASSERT_EQ(c->RecordGetNext(zfltNoLock, b.P), 0u);  // on 2
  TzfAbstractCursor* d = nullptr;
  ASSERT_EQ(c->Duplicate(omReadWrite, d), 0u);
  ASSERT_NE(d, nullptr);
  Cursors.push_back(static_cast<TzfServerTableCursor*>(d));
  ASSERT_EQ(d->RecordGet(zfltNoLock, b.P), 0u);
  EXPECT_EQ(IdOf(d, b.P), 2);
  ASSERT_EQ(d->RecordGetNext(zfltNoLock, b.P), 0u);
  EXPECT_EQ(IdOf(d, b.P), 4) << "the filter came along";
  EXPECT_EQ(Insert(d, 9, u"x"), 0u) << "read-write";

  TzfServerTableCursor* r = Open(nullptr, omReadOnly);
  TzfAbstractCursor* rd = nullptr;
  ASSERT_EQ(r->Duplicate(omReadWrite, rd), 0u);
  Cursors.push_back(static_cast<TzfServerTableCursor*>(rd));
  EXPECT_EQ(Insert(rd, 10, u"y"), zfErrTableReadOnly) << "a read-only cursor duplicates read-only";
}

// Two sessions on one table: a writer committing transactions (inserts and modifies under record
// locks) and a reader outside transactions taking record locks, so that a reader that must wait
// for a lock does so while the writer's commit wants the table's portal. Neither may stall past
// its deadline, and the lock lists keep their invariants.
TEST_F(TableCursor, LockedReadsAgainstCommittingWriters) {
  TzfServerTableCursor* seed = Open();
  Fill(seed, 10);
  TzfServerSession* s2 = OpenSession();
  TzfServerDatabase* db2 = OpenDb(s2);
  TzfServerTableCursor* reader = Open(db2);
  TzfServerTableCursor* writer = Open();
  TzfAbstractTransContext* ctx = Db->TransContext();
  std::atomic<bool> stop{false};
  std::atomic<int> unexpected{0};
  std::thread r([&] {
    Buffer b(reader);
    while (!stop) {
      reader->SetToBegin();
      for (;;) {
        const uint32_t code = reader->RecordGetNext(zfltWriteLock, b.P);
        if (code == zfErrEOF) break;
        if (code != 0 && code != zfErrLocked && code != 10254) {
          ++unexpected;
          break;
        }
        if (code == 0) reader->RecordLockRelease(false);
      }
    }
  });
  Buffer b(writer);
  int committed = 0;
  for (int i = 0; i < 40; ++i) {
    if (ctx->TransactionStart(false, false) != 0) continue;
    bool ok = Insert(writer, 1000 + i, u"t") == 0;
    if (ok && writer->SetToBegin() == 0 && writer->RecordGetNext(zfltWriteLock, b.P) == 0) {
      writer->SetFieldFromVariant(b.P, 1, rtl::Variant(UnicodeString(u"m")));
      ok = writer->RecordModify(b.P, true) == 0;
    }
    if (ok && ctx->TransactionCommit() == 0)
      ++committed;
    else
      ctx->TransactionRollback();
  }
  stop = true;
  r.join();
  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_GT(committed, 0);
  EXPECT_EQ(Walk(writer, true).size(), 10u + committed);
  EXPECT_EQ(writer->Table()->sbtLocks->CheckInvariants(), u"");
  EXPECT_EQ(writer->Table()->sbtLocks->RecordLockCount(), 0);
}

TEST_F(TableCursor, RecordNumbersBothWaysAndWithAFilter) {
  TzfServerTableCursor* c = Open();
  Fill(c, 5);
  Buffer b(c);
  ASSERT_EQ(c->RecNoSupported(), 0u);
  ASSERT_EQ(c->RecNoSet(3, false), 0u);
  ASSERT_EQ(c->RecordGet(zfltNoLock, b.P), 0u);
  EXPECT_EQ(IdOf(c, b.P), 3);
  uint32_t n = 0;
  ASSERT_EQ(c->RecNoGet(n, true), 0u);
  EXPECT_EQ(n, 3u);
  ASSERT_EQ(c->RecNoSet(1, true), 0u);
  ASSERT_EQ(c->RecordGet(zfltNoLock, b.P), 0u);
  EXPECT_EQ(IdOf(c, b.P), 5);
  EXPECT_NE(c->RecNoSet(9, false), 0u);
  TzfFilterID id = 0;
  ASSERT_EQ(c->FilterAddCallback(0, [c](int32_t, const uint8_t* aData) {
    return c->GetFieldAsVariant(aData, 0).AsInteger() > 2;
  }, id), 0u);
  ASSERT_EQ(c->FilterActivate(id), 0u);
  ASSERT_EQ(c->RecNoSet(1, false), 0u);
  ASSERT_EQ(c->RecordGet(zfltNoLock, b.P), 0u);
  EXPECT_EQ(IdOf(c, b.P), 3);
}

TEST_F(TableCursor, InsertWaitsForNoTableLockOfAnotherCursor) {
  TzfServerTableCursor* holder = Open();
  TzfServerTableCursor* c = Open();
  Fill(c, 1);
  ASSERT_EQ(holder->TableLockAcquire(zfltWriteLock), 0u);
  c->atoSetTimeout(50);
  const uint32_t r = Insert(c, 2, u"x");
  EXPECT_TRUE(r == 10245u || r == 10254u) << r;
  EXPECT_EQ(Walk(holder, true), std::vector<int32_t>{1}) << "nothing was written";
  ASSERT_EQ(holder->TableLockRelease(zfltWriteLock, true), 0u);
  EXPECT_EQ(Insert(c, 2, u"x"), 0u);
  EXPECT_EQ(c->Table()->sbtLocks->RecordLockCount(), 0) << "the self lock was given back";
}

TEST_F(TableCursor, BatchReadsWithHeaderSlotsAndBookmarks) {
  TzfServerTableCursor* c = Open();
  Fill(c, 5);
  auto card = [](const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; };
  const uint32_t rl = static_cast<uint32_t>(c->Table()->sbtFieldsDescriptor->GetRecordLength());
  struct Case {
    int32_t Max;
    bool Forward;
    uint8_t Options;
    uint32_t Code;
    std::vector<int32_t> Ids;
  } cases[] = {
      {0, true, 0, zfErrEOF, {1, 2, 3, 4, 5}},
      {2, true, 1 << gboBookmarks, 0, {1, 2}},
      {0, false, 1 << gboBookmarks, zfErrBOF, {5, 4, 3, 2, 1}},
  };
  for (const auto& k : cases) {
    ASSERT_EQ(k.Forward ? c->SetToBegin() : c->SetToEnd(), 0u);
    TzfMemoryStream m;
    ASSERT_EQ(c->RecordGetBatch(0x7FFFFFFF, k.Options, m, k.Max, k.Forward), 0u);
    const auto* p = static_cast<const uint8_t*>(m.Memory());
    ASSERT_GE(m.Size(), 8);
    EXPECT_EQ(card(p), k.Code);
    ASSERT_EQ(card(p + 4), k.Ids.size());
    const uint32_t slot = rl + ((k.Options >> gboBookmarks) & 1 ? 8 : 0);
    int64_t at = 8;
    for (int32_t id : k.Ids) {
      ASSERT_LE(at + 4 + slot, m.Size());
      EXPECT_EQ(card(p + at), slot);
      EXPECT_EQ(IdOf(c, p + at + 4), id);
      if (slot > rl) {
        // The bookmark sent positions on the same record.
        Buffer b(c);
        ASSERT_EQ(c->SetToBookmark(p + at + 4 + rl, 8), 0u);
        ASSERT_EQ(c->RecordGet(zfltNoLock, b.P), 0u);
        EXPECT_EQ(IdOf(c, b.P), id);
      }
      at += 4 + slot;
    }
    // A batch that met the end leaves the slot-size word of the failed read behind.
    EXPECT_EQ(m.Size(), at + (k.Code != 0 ? 4 : 0));
    if (k.Code == 0) {
      Buffer b(c);
      ASSERT_EQ(c->RecordGetNext(zfltNoLock, b.P), 0u);
      EXPECT_EQ(IdOf(c, b.P), 3) << "the next batch goes on from there";
    }
  }
}

TEST_F(TableCursor, TableAskingForAnUnknownRefIntegrityEngineGetsNoCursor) {
  auto d = SmallDictionary();
  d->tdCustomDescsDescriptor->AddCustom(u"RefIntegrity", &TzfRefIntegrityDescriptor::ClassInfo());
  ASSERT_EQ(Db->TableBuild(false, u"Checked", u"", d.get(), tsPersistent, false), 0u);
  TzfAbstractCursor* c = nullptr;
  // The engine of the descriptor's class is unknown while it is out of the registry.
  TzfBaseRegisterableEngine::UnregisterEngine(TzfRefIntegrityEngine::Info());
  EXPECT_EQ(Db->CursorOpen(c, u"Checked", u"", omReadWrite, smShared, 2000, false), 15503u);
  TzfBaseRegisterableEngine::RegisterEngine(TzfRefIntegrityEngine::Info());
  EXPECT_EQ(c, nullptr);
  TzfServerRootTable* t = nullptr;
  bool ro = false;
  ASSERT_EQ(Db->sdGetTable(t, u"Checked", u"", false, ro), 0u);
  EXPECT_EQ(t->sbtCursorCountLocked(), 0) << "the refused cursor left the table";
}

TEST_F(TableCursor, IterateWalksFilteredRecordsAndStopsWhereAsked) {
  TzfServerTableCursor* c = Open();
  Fill(c, 6);
  TzfFilterID id = 0;
  ASSERT_EQ(c->FilterAddCallback(0, [c](int32_t, const uint8_t* aData) {
    return c->GetFieldAsVariant(aData, 0).AsInteger() != 2;
  }, id), 0u);
  ASSERT_EQ(c->FilterActivate(id), 0u);
  struct Case {
    bool Backward;
    int StopAfter;  // 0: never
    std::vector<int32_t> Ids;
    TzfCursorPosition End;
  } cases[] = {
      {false, 0, {1, 3, 4, 5, 6}, TzfCursorPosition::cpEOF},
      {true, 0, {6, 5, 4, 3, 1}, TzfCursorPosition::cpBOF},
      {false, 3, {1, 3, 4}, TzfCursorPosition::cpOnRecord},
  };
  for (const auto& k : cases) {
    std::vector<int32_t> ids;
    std::vector<uint8_t> buf(c->Table()->sbtFieldsDescriptor->GetRecordLength());
    uint8_t* p = buf.data();
    c->sbcIterate(&p, [&](void*, int64_t, const uint8_t* aRecord) {
      ids.push_back(c->GetFieldAsVariant(aRecord, 0).AsInteger());
      return k.StopAfter && int(ids.size()) == k.StopAfter ? TzfRecordIteratorResult::rirStop
                                                           : TzfRecordIteratorResult::rirContinue;
    }, k.Backward, nullptr);
    EXPECT_EQ(ids, k.Ids);
    EXPECT_EQ(c->Position(), k.End);
    if (k.End == TzfCursorPosition::cpOnRecord) {
      Buffer b(c);
      ASSERT_EQ(c->RecordGet(zfltNoLock, b.P), 0u);
      EXPECT_EQ(IdOf(c, b.P), 4) << "on the last record handed out";
    }
  }
}

TEST_F(TableCursor, TableStaysActiveWhileATransactionHoldsItsLinkAfterTheCursorWent) {
  TzfServerTableCursor* c = Open();
  TzfAbstractTransContext* ctx = Db->TransContext();
  ASSERT_EQ(ctx->TransactionStart(false, false), 0u);
  ASSERT_EQ(Insert(c, 1, u"a"), 0u);
  TzfServerBaseTable* table = c->Table();
  TzfServerRootTable* root = table->sbtRoot;
  Cursors.clear();
  c->Free();
  EXPECT_FALSE(root->srtIsInactive(true, true, 0)) << "the transaction's link is still on the table";
  ASSERT_EQ(ctx->TransactionCommit(), 0u);
  EXPECT_TRUE(root->srtIsInactive(true, true, 0));
}

}  // namespace
}  // namespace zf::test
