// Table cursors on a table with a unique index: the cursor's inserts, modifies and deletes keep the
// index in step through the table's indices engine, in implicit and explicit transactions, and a
// record whose key the index refuses changes nothing.
#include <gtest/gtest.h>

#include <vector>

#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllErrors.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTableCursor.h"
#include "tests/server/zfsrServerTestUtil.h"

namespace zf::test {
namespace {

class TableCursorIndex : public ServerEngineTest {
 protected:
  void SetUp() override {
    ServerEngineTest::SetUp();
    TzfAbstractSession* s = nullptr;
    ASSERT_EQ(Engine->SessionOpen(s, u"alice", u"", u"test", 10000), 0u);
    S = static_cast<TzfServerSession*>(s);
    TzfAbstractDatabase* d = nullptr;
    ASSERT_EQ(S->DatabaseOpen(d, u"Path", rtl::u16(Dir.Path.string()), nullptr, omReadWrite, smShared, 10000), 0u);
    Db = static_cast<TzfServerDatabase*>(d);
    auto dict = SmallDictionary();
    // Unique on ID.
    TzfIndexDescriptor* ix = dict->EnsureIndicesDescriptor()->AddIndex(u"ByID", 0, idNone, u"");
    dynamic_cast<TzfCompKeyDescriptor&>(*ix->idKeyDescriptor).Add(0);
    ASSERT_EQ(Db->TableBuild(false, u"People", u"", dict.get(), tsPersistent, false), 0u);
    TzfAbstractCursor* c = nullptr;
    ASSERT_EQ(Db->CursorOpen(c, u"People", u"", omReadWrite, smShared, 2000, false), 0u);
    C = c;
    Rec = C->RecordBufferAlloc();
  }
  void TearDown() override {
    if (C) {
      C->RecordBufferFree(Rec);
      C->Free();
    }
    if (Db) Db->Free();
    if (S) S->Free();
    ServerEngineTest::TearDown();
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

  TzfServerSession* S = nullptr;
  TzfServerDatabase* Db = nullptr;
  TzfAbstractCursor* C = nullptr;
  uint8_t* Rec = nullptr;
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

}  // namespace
}  // namespace zf::test
