// Table cursor writes against the transaction state and the locks: writes refused inside snapshot
// transactions, the answers of every record and table lock request, and what a refused insert
// leaves behind inside a client transaction.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "foundation/zfllErrors.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "server/zfsrServerTransaction.h"
#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

class CursorWrites : public CursorTest {
 protected:
  void SetUp() override {
    CursorTest::SetUp();
    S = OpenSession();
    Db = OpenDb(S);
    auto dict = SmallDictionary();
    Build(Db, u"People", dict.get());
    C = Open(Db, u"People");
  }
  static uint32_t Insert(TzfAbstractCursor* aC, int32_t aID, const char16_t* aName = u"n",
                         TzfLockType aLock = zfltNoLock) {
    Buffer b(aC);
    aC->SetFieldFromVariant(b.P, 0, rtl::Variant(aID));
    aC->SetFieldFromVariant(b.P, 1, rtl::Variant(UnicodeString(aName)));
    return aC->RecordInsert(aLock, b.P);
  }
  // The IDs of the table, read by a fresh walk of aC in storage order.
  static std::vector<int32_t> Ids(TzfAbstractCursor* aC) {
    std::vector<int32_t> ids;
    Buffer b(aC);
    EXPECT_EQ(aC->SetToBegin(), 0u);
    while (aC->RecordGetNext(zfltNoLock, b.P) == 0) ids.push_back(aC->GetFieldAsVariant(b.P, 0).AsInteger());
    return ids;
  }
  TzfServerTransContext* Ctx() { return dynamic_cast<TzfServerTransContext*>(Db->TransContext()); }

  TzfServerSession* S = nullptr;
  TzfServerDatabase* Db = nullptr;
  TzfServerTableCursor* C = nullptr;
};

// Every write of a cursor inside a snapshot transaction is refused with 10763, also when it is the
// transaction's first request on the table, and leaves the table as it was.
TEST_F(CursorWrites, SnapshotTransactionRefusesEveryWrite) {
  struct Case {
    const char* Name;
    std::function<uint32_t(TzfServerTableCursor*, uint8_t*)> Write;
  };
  const std::vector<Case> cases{
      {"insert", [](TzfServerTableCursor* c, uint8_t*) { return Insert(c, 9, u"new"); }},
      {"modify",
       [](TzfServerTableCursor* c, uint8_t* rec) {
         c->SetFieldFromVariant(rec, 1, rtl::Variant(UnicodeString(u"changed")));
         return c->RecordModify(rec, true);
       }},
      {"delete", [](TzfServerTableCursor* c, uint8_t* rec) { return c->RecordDelete(rec); }},
      {"delete all", [](TzfServerTableCursor* c, uint8_t*) { return c->DeleteRecords(); }},
  };
  ASSERT_EQ(Insert(C, 1, u"one"), 0u);
  for (bool readFirst : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.Name) + (readFirst ? ", after a read in the snapshot" : ", first request"));
      Buffer rec(C);
      ASSERT_EQ(C->SetToBegin(), 0u);
      ASSERT_EQ(C->RecordGetNext(zfltNoLock, rec.P), 0u);
      ASSERT_EQ(Db->TransContext()->TransactionStart(false, true), 0u);
      if (readFirst) {
        Buffer other(C);
        ASSERT_EQ(C->RecordGet(zfltNoLock, other.P), 0u);
      }
      EXPECT_EQ(c.Write(C, rec.P), zfErrTableReadOnly);
      EXPECT_EQ(Db->TransContext()->TransactionCommit(), 0u) << "the refusal leaves the snapshot usable";
      EXPECT_EQ(Ids(C), std::vector<int32_t>{1});
      Buffer now(C);
      ASSERT_EQ(C->SetToBegin(), 0u);
      ASSERT_EQ(C->RecordGetNext(zfltNoLock, now.P), 0u);
      EXPECT_EQ(C->GetFieldAsVariant(now.P, 1).AsString(), u"one");
    }
  }
}

// Every lock a cursor asks for, against a lock another session's cursor holds, and its answer:
// reads and deletes 10241, modify and the lock on a new record 10258, the self lock and table
// locks 10245 (zfltNoLock too); within one session the conflict turns into 10254. Nothing of a
// refused request stays: no record, no lock.
TEST_F(CursorWrites, EveryLockRequestAndItsAnswer) {
  ASSERT_EQ(Insert(C, 1), 0u);
  ASSERT_EQ(Insert(C, 2), 0u);
  TzfServerTableCursor* other = Open(OpenDb(OpenSession()), u"People");
  TzfServerTableCursor* mine = Open(Db, u"People");
  // The reference number the next insert gets: taken by an insert that is rolled back.
  const auto nextRef = [&]() -> int64_t {
    EXPECT_EQ(Ctx()->TransactionStart(false, false), 0u);
    EXPECT_EQ(Insert(C, 99), 0u);
    const int64_t ref = C->RefNr();
    EXPECT_EQ(Ctx()->TransactionRollback(), 0u);
    return ref;
  };
  const auto onFirst = [](TzfServerTableCursor* c, TzfLockType aLock) {
    Buffer b(c);
    EXPECT_EQ(c->SetToBegin(), 0u);
    EXPECT_EQ(c->RecordGetNext(aLock, b.P), 0u);
  };
  using Hold = std::function<void(TzfServerTableCursor*)>;
  const Hold recordLock = [&](TzfServerTableCursor* h) { onFirst(h, zfltWriteLock); };
  const Hold readLock = [](TzfServerTableCursor* h) { EXPECT_EQ(h->TableLockAcquire(zfltReadLock), 0u); };
  const Hold writeLock = [](TzfServerTableCursor* h) { EXPECT_EQ(h->TableLockAcquire(zfltWriteLock), 0u); };
  const Hold nothing = [](TzfServerTableCursor*) {};
  const Hold newRecordsLock = [&](TzfServerTableCursor* h) {
    const int64_t ref = nextRef();
    EXPECT_EQ(h->Table()->sbtLocks->GetRecordLock(nullptr, h, ref, true, nullptr), TzfLockResult::lrGrantedNew);
  };
  struct Case {
    const char* Name;
    Hold HeldByOther;
    std::function<uint32_t(TzfServerTableCursor*, uint8_t*)> Ask;
    uint32_t Answer;
  };
  const std::vector<Case> cases{
      {"read with lock, record locked", recordLock,
       [](TzfServerTableCursor* c, uint8_t* rec) { return c->RecordGet(zfltWriteLock, rec); }, zfErrLocked},
      {"modify, record locked", recordLock,
       [](TzfServerTableCursor* c, uint8_t* rec) { return c->RecordModify(rec, true); }, zfErrRecLockFailed},
      {"modify keeping the lock, record locked", recordLock,
       [](TzfServerTableCursor* c, uint8_t* rec) { return c->RecordModify(rec, false); }, zfErrRecLockFailed},
      {"delete, record locked", recordLock,
       [](TzfServerTableCursor* c, uint8_t* rec) { return c->RecordDelete(rec); }, zfErrLocked},
      {"insert, table write-locked", writeLock, [](TzfServerTableCursor* c, uint8_t*) { return Insert(c, 5); },
       zfErrFileLocked},
      {"insert, table read-locked", readLock, [](TzfServerTableCursor* c, uint8_t*) { return Insert(c, 5); },
       zfErrFileLocked},
      {"insert with lock, the new record's number locked", newRecordsLock,
       [](TzfServerTableCursor* c, uint8_t*) { return Insert(c, 5, u"n", zfltWriteLock); }, zfErrRecLockFailed},
      {"table read lock, table write-locked", writeLock,
       [](TzfServerTableCursor* c, uint8_t*) { return c->TableLockAcquire(zfltReadLock); }, zfErrFileLocked},
      {"table write lock, table read-locked", readLock,
       [](TzfServerTableCursor* c, uint8_t*) { return c->TableLockAcquire(zfltWriteLock); }, zfErrFileLocked},
      {"table write lock, record locked", recordLock,
       [](TzfServerTableCursor* c, uint8_t*) { return c->TableLockAcquire(zfltWriteLock); }, zfErrFileLocked},
      {"table lock of no kind", nothing,
       [](TzfServerTableCursor* c, uint8_t*) { return c->TableLockAcquire(zfltNoLock); }, zfErrFileLocked},
  };
  for (bool sameSession : {false, true}) {
    TzfServerTableCursor* holder = sameSession ? mine : other;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.Name) + (sameSession ? ", same session" : ", another session"));
      Buffer rec(C);
      ASSERT_EQ(C->SetToBegin(), 0u);
      ASSERT_EQ(C->RecordGetNext(zfltNoLock, rec.P), 0u);
      c.HeldByOther(holder);
      C->atoSetTimeout(50);
      const bool conflict = std::string(c.Name) != "table lock of no kind";
      const uint32_t expected = sameSession && conflict ? zfErrSessionLockConflict : c.Answer;
      EXPECT_EQ(c.Ask(C, rec.P), expected);
      C->atoSetTimeout(2000);
      EXPECT_NE(C->Table()->sbtLocks->IsRecordLocked(C, C->RefNr()), lpYesByUs) << "no lock of the request stays";
      EXPECT_EQ(holder->RecordLockRelease(true), 0u);
      EXPECT_EQ(holder->TableLockRelease(zfltNoLock, true), 0u);
      EXPECT_EQ(C->Table()->sbtLocks->CheckInvariants(), u"");
      EXPECT_EQ(Ids(C), (std::vector<int32_t>{1, 2}));
    }
  }
}

// A cursor's table-lock query per lock type: zfltNoLock asks nothing.
TEST_F(CursorWrites, TableIsLockedPerLockType) {
  ASSERT_EQ(C->TableLockAcquire(zfltReadLock), 0u);
  for (auto [type, present] : {std::pair{zfltReadLock, lpYesByUs}, std::pair{zfltWriteLock, lpNotAtAll},
                               std::pair{zfltNoLock, lpNotAtAll}}) {
    TzfLockPresent got = lpYesByAnother;
    EXPECT_EQ(C->TableIsLocked(type, got), 0u);
    EXPECT_EQ(got, present) << "lock type " << static_cast<int>(type);
  }
  ASSERT_EQ(C->TableLockRelease(zfltReadLock, false), 0u);
}

}  // namespace
}  // namespace zf::test
