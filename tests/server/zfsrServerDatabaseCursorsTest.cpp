// The database's operations through table cursors, client-shaped: the share rules between a
// cursor request and the table's open cursors, open modes against read-only databases, the
// auto-increment value, changed tables, transactions started with cursors, and the name check of
// tables opened with seoVerifyTableNames.
#include <gtest/gtest.h>

#include <filesystem>

#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlStringList.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "server/zfsrServerTransaction.h"
#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

class DatabaseCursors : public CursorTest {
 protected:
  void SetUp() override {
    CursorTest::SetUp();
    Begin();
  }
  void TearDown() override {
    End();
    CursorTest::TearDown();
  }
  void Begin() {
    S = OpenSession();
    Db = OpenDb(S);
    auto d = std::make_unique<TzfServerDataDict>();
    d->tdFieldsDescriptor->AddField(u"ID", u"", zftAutoInc, 0, 0, false, nullptr);
    d->tdFieldsDescriptor->AddField(u"Name", u"", zftWideString, 20, 0, false, nullptr);
    ASSERT_EQ(Db->TableBuild(true, u"People", u"", d.get(), tsPersistent, false), 0u);
  }
  void End() {
    for (auto* c : Cursors) c->Free();
    Cursors.clear();
    for (auto* d : Dbs) d->Free();
    Dbs.clear();
    for (auto* s : Sessions) s->Free();
    Sessions.clear();
  }
  // 0 and the cursor (kept for the tear-down), or the code.
  uint32_t Open(TzfServerDatabase* aDb, TzfOpenMode aMode, TzfShareMode aShare, TzfServerTableCursor** aCursor = nullptr,
                const UnicodeString& aTable = u"People", uint32_t aTimeout = 2000) {
    TzfAbstractCursor* c = nullptr;
    const uint32_t r = aDb->CursorOpen(c, aTable, u"", aMode, aShare, aTimeout, false);
    if (c) Cursors.push_back(static_cast<TzfServerTableCursor*>(c));
    if (aCursor) *aCursor = static_cast<TzfServerTableCursor*>(c);
    return r;
  }
  static uint32_t Insert(TzfAbstractCursor* aC, const char16_t* aName) {
    uint8_t* b = aC->RecordBufferAlloc();
    aC->SetFieldFromVariant(b, 1, rtl::Variant(UnicodeString(aName)));
    const uint32_t r = aC->RecordInsert(zfltNoLock, b);
    aC->RecordBufferFree(b);
    return r;
  }
  static std::vector<UnicodeString> Changed(TzfServerDatabase* aDb) {
    rtl::TStringList l;
    EXPECT_EQ(aDb->GetChangedTables(l), 0u);
    std::vector<UnicodeString> r;
    for (int32_t i = 0; i < l.Count(); ++i) r.push_back(l[i]);
    return r;
  }

  TzfServerSession* S = nullptr;
  TzfServerDatabase* Db = nullptr;
};

TEST_F(DatabaseCursors, ShareRulesBetweenCursors) {
  ExpectShareAnswers(zfCheckCursorShare, {
      {"nothing open", {}, omReadWrite, smExclusive, 0},
      {"exclusive first refuses a reader", {{omReadOnly, smExclusive}}, omReadOnly, smShared, 10253},
      {"exclusive request against a reader", {{omReadOnly, smShared}}, omReadOnly, smExclusive, 10253},
      {"shared writers share", {{omReadWrite, smShared}}, omReadWrite, smShared, 0},
      {"shared writer against share-read", {{omReadOnly, smShareRead}}, omReadWrite, smShared, 10253},
      {"a writer met first ends the walk", {{omReadWrite, smShared}, {omReadOnly, smShareRead}}, omReadWrite,
       smShared, 0},
      {"exclusive cursors behind are passed over", {{omReadOnly, smShared}, {omReadOnly, smExclusive}}, omReadWrite,
       smShared, 0},
      {"shared reader checks nothing", {{omReadOnly, smShareRead}}, omReadOnly, smShared, 0},
      {"share-read against a shared writer", {{omReadWrite, smShared}}, omReadOnly, smShareRead, 10253},
      {"share-read reader next to share-read", {{omReadOnly, smShareRead}}, omReadOnly, smShareRead, 0},
      {"share-read writer next to share-read", {{omReadOnly, smShareRead}}, omReadWrite, smShareRead, 10253},
      {"share-read writer next to readers", {{omReadOnly, smShared}}, omReadWrite, smShareRead, 0},
  });

  // The same through two databases of two sessions on one table.
  TzfServerDatabase* other = OpenDb(OpenSession());
  TzfServerTableCursor* writer = nullptr;
  ASSERT_EQ(Open(Db, omReadWrite, smShared, &writer), 0u);
  EXPECT_EQ(Open(other, omReadOnly, smShareRead), 10253u);
  EXPECT_EQ(Open(other, omReadWrite, smShared), 0u);
  EXPECT_EQ(Open(other, omReadOnly, smExclusive), 10253u);
  for (auto* c : Cursors) c->Free();
  Cursors.clear();
  ASSERT_EQ(Open(other, omReadOnly, smShareRead), 0u);
  EXPECT_EQ(Open(Db, omReadOnly, smShared), 0u);
  EXPECT_EQ(Open(Db, omReadWrite, smShared), 10253u);
  for (auto* c : Cursors) c->Free();
  Cursors.clear();
  TzfServerTableCursor* excl = nullptr;
  ASSERT_EQ(Open(Db, omReadWrite, smExclusive, &excl), 0u);
  EXPECT_EQ(Open(other, omReadOnly, smShared), 10253u);
  EXPECT_EQ(Insert(excl, u"only me"), 0u);
}

TEST_F(DatabaseCursors, OpenModesAgainstTheDatabase) {
  TzfServerDatabase* reader = OpenDb(OpenSession(), omReadOnly);
  TzfServerTableCursor* c = nullptr;
  EXPECT_EQ(Open(reader, omWriteOnly, smShared), zfErrReadOnlyDb);
  EXPECT_EQ(Open(reader, omReadWrite, smShared), zfErrReadOnlyDb);
  ASSERT_EQ(Open(reader, omReadOnly, smShared, &c), 0u);
  EXPECT_EQ(Insert(c, u"x"), zfErrTableReadOnly);
  ASSERT_EQ(Open(Db, omWriteOnly, smShared, &c), 0u);
  EXPECT_EQ(c->OpenMode(), omReadWrite) << "write-only is taken as read-write";
  EXPECT_EQ(Insert(c, u"x"), 0u);
  EXPECT_EQ(Open(Db, omReadOnly, smShared, nullptr, u"Nobody"), zfErrNoSuchTable);
  EXPECT_EQ(Open(Db, omReadOnly, smShared, nullptr, u"$System"), zfErrInvalidTableName) << "no system access asked";
}

TEST_F(DatabaseCursors, AutoIncrementValueAndPasswordChange) {
  uint32_t value = 99;
  EXPECT_EQ(Db->TableAutoIncGet(u"People", u"", value), 0u);
  EXPECT_EQ(value, 0u);
  TzfServerTableCursor* c = nullptr;
  ASSERT_EQ(Open(Db, omReadWrite, smShared, &c), 0u);
  for (const char16_t* n : {u"a", u"b", u"c"}) ASSERT_EQ(Insert(c, n), 0u);
  EXPECT_EQ(Db->TableAutoIncGet(u"People", u"", value), 0u);
  EXPECT_EQ(value, 3u);
  EXPECT_EQ(Db->TableAutoIncGet(u"Nobody", u"", value), zfErrNoSuchTable);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(Db->TableAutoIncGet(u"", u"", value), zfErrNoSuchTable);
  // The database's own cursor is gone again: an exclusive cursor can be had.
  c->Free();
  Cursors.clear();
  EXPECT_EQ(Open(Db, omReadWrite, smExclusive), 0u);
  TzfServerDatabase* reader = OpenDb(OpenSession(), omReadOnly);
  EXPECT_EQ(reader->TableChangePassword(u"People", u"", u"new"), zfErrReadOnlyDb);
}

TEST_F(DatabaseCursors, ChangedTablesSinceTheLastCall) {
  auto d = SmallDictionary();
  ASSERT_EQ(Db->TableBuild(false, u"Other", u"", d.get(), tsPersistent, false), 0u);
  TzfServerTableCursor* mine = nullptr;
  ASSERT_EQ(Open(Db, omReadOnly, smShared, &mine), 0u);
  ASSERT_EQ(Open(Db, omReadOnly, smShared), 0u);  // a second cursor on the same table
  Changed(Db);  // the builds since the database opened
  EXPECT_TRUE(Changed(Db).empty()) << "nothing changed in between";

  TzfServerDatabase* other = OpenDb(OpenSession());
  TzfServerTableCursor* writer = nullptr;
  ASSERT_EQ(Open(other, omReadWrite, smShared, &writer), 0u);
  ASSERT_EQ(Insert(writer, u"w"), 0u);
  TzfServerTableCursor* otherTable = nullptr;
  ASSERT_EQ(Open(other, omReadWrite, smShared, &otherTable, u"Other"), 0u);
  const std::vector<UnicodeString> changed = Changed(Db);
  ASSERT_EQ(changed.size(), 1u) << "once, and only tables it has cursors on";
  EXPECT_TRUE(changed[0] == u"People");
  EXPECT_TRUE(Changed(Db).empty());
}

TEST_F(DatabaseCursors, TransactionStartedWithCursors) {
  TzfServerTableCursor* mine = nullptr;
  ASSERT_EQ(Open(Db, omReadWrite, smShared, &mine), 0u);
  TzfServerDatabase* other = OpenDb(OpenSession());
  TzfServerTableCursor* theirs = nullptr;
  ASSERT_EQ(Open(other, omReadWrite, smShared, &theirs, u"People", 100), 0u);
  auto* context = static_cast<TzfServerTransContext*>(Db->TransContext());
  int32_t level = -1;

  EXPECT_EQ(context->TransactionStartWith(false, false, {theirs}), zfErrInvalidHndl) << "another context's cursor";
  EXPECT_EQ(context->TransactionGetLevel(level), zfErrNoActiveTran) << "nothing was started";

  ASSERT_EQ(context->TransactionStartWith(false, false, {mine}), 0u);
  EXPECT_EQ(context->TransactionGetLevel(level), 0u);
  EXPECT_EQ(level, 0);
  TzfTransLink* link = context->Transaction()->stFindLink(mine->Table()->sbtRoot);
  ASSERT_NE(link, nullptr);
  EXPECT_TRUE(link->ttlExclusive);
  EXPECT_EQ(Insert(theirs, u"kept out"), 10249u) << "the table is locked for the transaction";
  EXPECT_EQ(Insert(mine, u"in"), 0u);
  EXPECT_EQ(context->TransactionCommit(), 0u);
  EXPECT_EQ(Insert(theirs, u"after"), 0u);
  EXPECT_TRUE(mine->Table()->sbtRoot->srtTransLinksEmpty());

  // A lock that cannot be had takes the new transaction back.
  auto* theirContext = static_cast<TzfServerTransContext*>(other->TransContext());
  ASSERT_EQ(theirContext->TransactionStart(false, false), 0u);
  ASSERT_EQ(Insert(theirs, u"holds the table"), 0u);
  context->atoSetTimeout(100);
  EXPECT_EQ(context->TransactionStartWith(false, false, {mine}), 10249u);
  EXPECT_EQ(context->TransactionGetLevel(level), zfErrNoActiveTran);
  ASSERT_EQ(theirContext->TransactionCommit(), 0u);
  EXPECT_EQ(mine->Table()->sbtRoot->srtCheckTransLinks(), u"");
}

TEST_F(DatabaseCursors, TableNamesAreVerifiedWhenAsked) {
  End();
  StartEngine(1u << seoVerifyTableNames);
  Begin();
  ASSERT_EQ(Db->TableRename(u"People", u"Staff", u""), 0u);
  Engine->seCloseInactiveTables();
  std::filesystem::copy_file(Dir.Path / "Staff.zf1", Dir.Path / "Copy.zf1");
  EXPECT_EQ(Open(Db, omReadOnly, smShared, nullptr, u"Copy"), zfErrInvalidTableName);
  EXPECT_EQ(Open(Db, omReadOnly, smShared, nullptr, u"Staff"), 0u) << "the rename rewrote the stored name";
  // Another engine without the option opens the copy.
  End();
  StartEngine(0);
  Begin();
  EXPECT_EQ(Open(Db, omReadOnly, smShared, nullptr, u"Copy"), 0u);
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
namespace {

TEST_F(DatabaseCursors, OptionsComeFromTheFolderBeforeTheContext) {
  TzfServerFolder* folder = Db->sdFolder;
  UnicodeString value;
  ASSERT_EQ(Db->TransContext()->OptionSet(u"Color", u"context"), 0u);
  EXPECT_EQ(Db->OptionGetEffective(u"Color", value), 0u);
  EXPECT_TRUE(value == u"context");
  ASSERT_EQ(folder->OptionSet(u"Color", u"folder"), 0u);
  ASSERT_EQ(folder->OptionSet(u"Size", u"big"), 0u);
  EXPECT_EQ(Db->OptionGetEffective(u"color", value), 0u);
  EXPECT_TRUE(value == u"folder");
  ASSERT_EQ(Db->OptionSet(u"Color", u"database"), 0u);
  EXPECT_EQ(Db->OptionGetEffective(u"Color", value), 0u);
  EXPECT_TRUE(value == u"database");
  rtl::TStringList all;
  ASSERT_EQ(Db->OptionListEffective(all), 0u);
  EXPECT_GE(all.IndexOfName(u"Size"), 0) << "the folder's options are listed";
  EXPECT_EQ(Db->OptionGetEffective(u"Missing", value), zfErrObjNotFound);
  ASSERT_EQ(folder->OptionClear(u"Color"), 0u);
  ASSERT_EQ(folder->OptionClear(u"Size"), 0u);
}

}  // namespace
}  // namespace zf::test
