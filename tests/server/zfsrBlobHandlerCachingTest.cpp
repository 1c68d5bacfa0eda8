// The caching BLOB handler through a cursor of an engine client: changes of existing BLOBs wait
// in the cursor's cache until the record's modify, created BLOBs belong to the cursor until a
// posted record takes them, deletes wait too; rollbacks take the cache along; the cache table
// goes with the cursor.
#include <gtest/gtest.h>

#include "server/zfsrBlobHandlerCaching.h"
#include "server/zfsrServerFolder.h"
#include "server/zfsrServerTable.h"
#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

class CachingBlobs : public CursorTest {
 protected:
  void SetUp() override {
    CursorTest::SetUp();
    S = OpenSession();  // the engine's own version: BLOB cache on
    Db = OpenDb(S);
    auto dict = BlobDictionary();
    Build(Db, u"Docs", dict.get());
    C = Open(Db, u"Docs");
    Other = Open(OpenDb(OpenSession()), u"Docs");
  }
  TzfCachingBlobHandler& Handler(TzfServerTableCursor* aC) {
    auto* h = dynamic_cast<TzfCachingBlobHandler*>(aC->BlobHandler());
    EXPECT_NE(h, nullptr);
    return *h;
  }
  // Inserts a record with ID aID whose Data field holds a BLOB of aContent made and posted by
  // another cursor (so that it is an existing BLOB for C); answers the BLOB's number.
  int64_t Posted(int32_t aID, const std::string& aContent) {
    TzfServerTableCursor* w = Open(Db, u"Docs");
    int64_t nr = 0;
    {
      Buffer b(w);
      w->SetFieldFromVariant(b.P, 0, rtl::Variant(aID));
      nr = MakeBlob(w, aContent);
      SetBlob(w, b.P, 2, nr);
      EXPECT_EQ(w->RecordInsert(zfltNoLock, b.P), 0u);
    }
    Close(w);
    return nr;
  }
  // C on the record with ID aID, its record in aBuffer.
  void Seek(int32_t aID, uint8_t* aBuffer) {
    ASSERT_EQ(C->SetToBegin(), 0u);
    while (C->RecordGetNext(zfltNoLock, aBuffer) == 0)
      if (C->GetFieldAsVariant(aBuffer, 0).AsInteger() == aID) return;
    FAIL() << "no record " << aID;
  }
  size_t FolderTables() {
    TzfServerFolder* f = Db->sdFolder;
    TzfPadlockGuard g(f->sfTablesPadlock);
    return static_cast<size_t>(f->sfTableCount());
  }
  static std::string Code(uint32_t aCode) { return "<code " + std::to_string(aCode) + ">"; }

  TzfServerSession* S = nullptr;
  TzfServerDatabase* Db = nullptr;
  TzfServerTableCursor* C = nullptr;
  TzfServerTableCursor* Other = nullptr;
};

TEST_F(CachingBlobs, ReadingCursorMakesNoCacheAndOldClientsGetNone) {
  const int64_t nr = Posted(1, "content");
  EXPECT_EQ(ReadBlob(C, nr), "content");
  bool modified = true;
  EXPECT_EQ(C->BlobModified(2, nr, modified), 0u);
  EXPECT_FALSE(modified);
  EXPECT_FALSE(Handler(C).HasCache());
  TzfServerTableCursor* old = Open(OpenDb(OpenSession(19999)), u"Docs");
  EXPECT_EQ(dynamic_cast<TzfCachingBlobHandler*>(old->BlobHandler()), nullptr);
}

TEST_F(CachingBlobs, ChangesWaitForTheModify) {
  const int64_t nr = Posted(1, std::string(100, 'o'));
  const std::string changed = "NEW" + std::string(97, 'o');
  ASSERT_EQ(C->BlobWrite(2, nr, 0, 3, "NEW"), 0u);
  EXPECT_EQ(ReadBlob(C, nr), changed);
  EXPECT_EQ(ReadBlob(C, nr, true), std::string(100, 'o')) << "the old content for aReadOld";
  EXPECT_EQ(ReadBlob(Other, nr), std::string(100, 'o')) << "other cursors see the table";
  ASSERT_EQ(C->BlobTruncate(2, nr, 10), 0u);
  EXPECT_EQ(ReadBlob(C, nr), changed.substr(0, 10));
  EXPECT_EQ(ReadBlob(Other, nr).size(), 100u);
  bool modified = false;
  ASSERT_EQ(C->BlobModified(2, nr, modified), 0u);
  EXPECT_TRUE(modified);

  Buffer b(C);
  Seek(1, b.P);
  ASSERT_EQ(C->RecordModify(b.P, true), 0u);
  EXPECT_EQ(ReadBlob(Other, nr), changed.substr(0, 10));
  EXPECT_EQ(ReadBlob(C, nr, true), changed.substr(0, 10));
  EXPECT_EQ(Handler(C).CacheEntryCount(), 0u) << "the posted modify consumed the entry";
}

TEST_F(CachingBlobs, TruncateOfAnUntouchedBlobCopiesOnlyWhatStays) {
  const int64_t nr = Posted(1, std::string(100, 'x'));
  ASSERT_EQ(C->BlobTruncate(2, nr, 10), 0u);
  EXPECT_EQ(ReadBlob(C, nr), std::string(10, 'x'));
  EXPECT_EQ(ReadBlob(Other, nr), std::string(100, 'x'));
}

TEST_F(CachingBlobs, DeletesWaitForTheModifyThatDropsTheField) {
  const int64_t nr = Posted(1, "doomed");
  ASSERT_EQ(C->BlobDelete(2, nr), 0u);
  EXPECT_EQ(ReadBlob(C, nr), Code(zfErrBlobGeneral));
  EXPECT_EQ(ReadBlob(Other, nr), "doomed");
  // The same BLOB cannot be deleted or written again.
  EXPECT_EQ(C->BlobDelete(2, nr), zfErrBlobGeneral);
  EXPECT_EQ(C->BlobWrite(2, nr, 0, 1, "x"), zfErrBlobGeneral);
  Buffer b(C);
  Seek(1, b.P);
  // Posting the record with the deleted BLOB still in it is refused; nothing changes.
  EXPECT_EQ(C->RecordModify(b.P, true), zfErrBlobGeneral);
  EXPECT_EQ(ReadBlob(Other, nr), "doomed");
  // With the field cleared the modify deletes it.
  Seek(1, b.P);
  SetBlob(C, b.P, 2, 0);
  ASSERT_EQ(C->RecordModify(b.P, true), 0u);
  EXPECT_EQ(ReadBlob(Other, nr).rfind("<code", 0), 0u);
  EXPECT_EQ(Handler(C).CacheEntryCount(), 0u);
}

TEST_F(CachingBlobs, CreatedBlobsBelongToTheCursorUntilARecordTakesThem) {
  int64_t empty = 0, full = 0, spare = 0;
  ASSERT_EQ(C->BlobCreate(2, empty), 0u);
  ASSERT_EQ(C->BlobCreate(1, full), 0u);
  ASSERT_EQ(C->BlobWrite(1, full, 0, 4, "memo"), 0u);
  ASSERT_EQ(C->BlobCreate(2, spare), 0u);
  bool modified = false;
  ASSERT_EQ(C->BlobModified(2, empty, modified), 0u);
  EXPECT_TRUE(modified);
  Buffer b(C);
  C->SetFieldFromVariant(b.P, 0, rtl::Variant(1));
  SetBlob(C, b.P, 1, full);
  SetBlob(C, b.P, 2, empty);
  ASSERT_EQ(C->RecordInsert(zfltNoLock, b.P), 0u);
  // The empty BLOB was dropped and the field stored NULL; the other was taken over.
  EXPECT_EQ(BlobOf(C, b.P, 2), 0);
  EXPECT_EQ(ReadBlob(C, empty).rfind("<code", 0), 0u);
  EXPECT_EQ(ReadBlob(Other, full, false, 1), "memo");
  // Freeing a BLOB the cursor made deletes it (even with content); an untouched one stays.
  ASSERT_EQ(C->BlobWrite(2, spare, 0, 2, "sp"), 0u);
  EXPECT_EQ(C->BlobFree(2, spare), 0u);
  EXPECT_EQ(ReadBlob(C, spare).rfind("<code", 0), 0u);
  const int64_t untouched = Posted(2, "kept");
  EXPECT_EQ(C->BlobFree(2, untouched), 0u);
  EXPECT_EQ(ReadBlob(Other, untouched), "kept");
  EXPECT_EQ(Handler(C).CacheEntryCount(), 0u);
}

TEST_F(CachingBlobs, NewRecordMayNotTakeADeletedOrChangedBlob) {
  const int64_t deleted = Posted(1, "a");
  const int64_t changed = Posted(2, "b");
  ASSERT_EQ(C->BlobDelete(2, deleted), 0u);
  ASSERT_EQ(C->BlobWrite(2, changed, 0, 1, "B"), 0u);
  for (int64_t nr : {deleted, changed}) {
    Buffer b(C);
    C->SetFieldFromVariant(b.P, 0, rtl::Variant(9));
    SetBlob(C, b.P, 2, nr);
    EXPECT_EQ(C->RecordInsert(zfltNoLock, b.P), zfErrBlobGeneral);
  }
  uint32_t count = 0;
  ASSERT_EQ(C->GetRecordCount(count, false), 0u);
  EXPECT_EQ(count, 2u);
}

TEST_F(CachingBlobs, DeletedRecordTakesItsBlobsAndTheirEntries) {
  const int64_t nr = Posted(1, "content");
  ASSERT_EQ(C->BlobWrite(2, nr, 0, 1, "C"), 0u);
  ASSERT_EQ(Handler(C).CacheEntryCount(), 1u);
  Buffer b(C);
  Seek(1, b.P);
  ASSERT_EQ(C->RecordDelete(nullptr), 0u);
  EXPECT_EQ(Handler(C).CacheEntryCount(), 0u);
  EXPECT_EQ(ReadBlob(Other, nr).rfind("<code", 0), 0u);
}

TEST_F(CachingBlobs, RollbackTakesTheCacheAlong) {
  const int64_t nr = Posted(1, "committed");
  TzfAbstractTransContext* ctx = Db->TransContext();
  ASSERT_EQ(ctx->TransactionStart(false, false), 0u);
  ASSERT_EQ(C->BlobWrite(2, nr, 0, 4, "LOST"), 0u);
  EXPECT_EQ(ReadBlob(C, nr), "LOSTitted");
  ASSERT_EQ(ctx->TransactionRollback(), 0u);
  EXPECT_EQ(Handler(C).CacheEntryCount(), 0u);
  EXPECT_EQ(ReadBlob(C, nr), "committed");
  // The cursor goes on working with a fresh change.
  ASSERT_EQ(C->BlobWrite(2, nr, 0, 4, "KEPT"), 0u);
  Buffer b(C);
  Seek(1, b.P);
  ASSERT_EQ(C->RecordModify(b.P, true), 0u);
  EXPECT_EQ(ReadBlob(Other, nr), "KEPTitted");
}

TEST_F(CachingBlobs, CacheTableGoesWithTheCursor) {
  const int64_t nr = Posted(1, "content");
  const size_t before = FolderTables();
  ASSERT_EQ(C->BlobWrite(2, nr, 0, 1, "C"), 0u);
  EXPECT_EQ(FolderTables(), before + 1);
  Close(C);
  C = nullptr;
  EXPECT_EQ(FolderTables(), before);
  EXPECT_EQ(ReadBlob(Other, nr), "content") << "an unposted change is dropped with the cursor";
}

}  // namespace
}  // namespace zf::test
