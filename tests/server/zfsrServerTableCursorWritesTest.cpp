// Table cursor writes against the transaction state and the locks: writes refused inside snapshot
// transactions, the answers of every record and table lock request, and what a refused insert
// leaves behind inside a client transaction.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zf::test
