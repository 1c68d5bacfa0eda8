// The dataset's session, alias and wanted Active state, and its table services over real engine
// tables: auto-increment value, named streams, following another dataset, transactions started
// with tables, the close-BLOB hook and the version text.
#include <gtest/gtest.h>

#include "client/zfdbCursor.h"
#include "foundation/zfllStreams.h"
#include "tests/client/zfdbTableTestUtil.h"
#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

class DatasetServices : public ClientTableTest {
 protected:
  void SetUp() override {
    ClientTableTest::SetUp();
    Build(u"People");
    Fill(u"People", {1, 2, 3});
  }
  void TearDown() override {
    if (TzfBaseSession::DefaultSession() == Session.get()) Session->SetDefault(false);
    ClientTableTest::TearDown();
  }
};

TEST_F(DatasetServices, VersionIsTheEnginesVersionAndBuild) {
  EXPECT_EQ(u"3.0900 Release (P14)", TzfDataset::Version());
}

TEST_F(DatasetServices, AutoIncValueIsReadAndSetThroughTheCursor) {
  auto dict = BlobDictionary(false, true);
  ASSERT_EQ(Db->AbstractDatabase()->TableBuild(false, u"Seq", u"", dict.get(), tsPersistent, false), 0u);
  TzfTable* t = Table(u"Seq");
  EXPECT_TRUE(RaisesText([&] { t->GetAutoIncValue(); }, db::kSDataSetClosed));
  t->Open();
  EXPECT_EQ(0u, t->GetAutoIncValue());
  t->SetAutoIncValue(100);
  EXPECT_EQ(100u, t->GetAutoIncValue());
  t->Append();
  t->FieldByName(u"ID").SetAsInteger(1);
  t->Post();
  EXPECT_EQ(101, t->FieldByName(u"Seq").GetAsInteger());
}

TEST_F(DatasetServices, NamedStreamsAreWrittenListedReadAndDeleted) {
  TzfTable* t = Table(u"People");
  t->Open();
  TzfMemoryStream out;
  const char bytes[] = "notes\0with a zero";
  out.Write(bytes, sizeof bytes);
  out.SetPosition(0);
  t->WriteStream(u"Notes", out);
  rtl::TStringList names;
  t->GetStreamList(names);
  EXPECT_GE(names.IndexOf(u"Notes"), 0);
  TzfMemoryStream in;
  t->ReadStream(u"Notes", in);
  ASSERT_EQ(static_cast<int64_t>(sizeof bytes), in.GetSize());
  EXPECT_EQ(0, std::memcmp(in.Memory(), bytes, sizeof bytes));
  t->DeleteStream(u"Notes");
  TzfMemoryStream again;
  EXPECT_NE(0u, t->ReadStreamEx(u"Notes", again));
  EXPECT_NE(0u, ClientErrorCode([&] { t->ReadStream(u"Notes", again); }));
}

TEST_F(DatasetServices, GotoCurrentFollowsAnotherDatasetOfTheSameSession) {
  TzfTable* a = Table(u"People");
  TzfTable* b = Table(u"People");
  a->Open();
  b->Open();
  b->Last();
  a->First();
  a->GotoCurrent(b);
  EXPECT_EQ(3, a->FieldByName(u"ID").GetAsInteger());
  b->Prior();
  a->GotoCurrent(b);
  EXPECT_EQ(2, a->FieldByName(u"ID").GetAsInteger());

  rtl::TComponentPtr<TzfSession> other(new TzfSession());
  other->SetServerEngine(Engine.get());
  rtl::TComponentPtr<TzfDatabase> otherDb(new TzfDatabase());
  otherDb->SetSession(other.get());
  otherDb->SetAliasPath(rtl::u16(Dir.Path.string()));
  rtl::TComponentPtr<TzfTable> c(new TzfTable());
  c->SetDatabase(otherDb.get());
  c->SetTableName(u"People");
  c->Open();
  EXPECT_EQ(zfErrDifferentTables, ClientErrorCode([&] { a->GotoCurrent(c.get()); }));
  c->Close();
}

TEST_F(DatasetServices, ExistsOfTheBaseIsWhetherTheDatasetIsOpen) {
  TzfTable* t = Table(u"People");
  const TzfDataset& base = *t;
  EXPECT_FALSE(base.Exists());
  t->Open();
  EXPECT_TRUE(base.Exists());
}

TEST_F(DatasetServices, WantedActiveStateFollowsTheModeAndLoading) {
  TzfTable* t = Table(u"People");
  t->SetActiveRuntime(true);
  EXPECT_TRUE(t->Active());
  t->Close();
  EXPECT_FALSE(t->ActiveRuntime());  // a state change stores the state

  t->BeginLoading();
  t->SetActiveRuntime(true);
  EXPECT_FALSE(t->Active());
  t->EndLoading();  // loading applies it
  EXPECT_TRUE(t->Active());
  t->Close();

  t->SetDesigning(true);
  t->SetActiveRuntime(true);
  EXPECT_FALSE(t->Active());
  t->SetActiveDesigntime(true);
  EXPECT_TRUE(t->Active());
  t->Close();
  t->SetDesigning(false);
}

TEST_F(DatasetServices, AliasNameOpensThroughTheSessionsImplicitDatabase) {
  Session->AddAlias(u"Data", rtl::u16(Dir.Path.string()), false);
  rtl::TComponentPtr<TzfTable> t(new TzfTable());
  t->SetSession(Session.get());
  t->SetAliasName(u"  Data ");
  EXPECT_EQ(u"Data", t->AliasName());
  EXPECT_EQ(nullptr, t->Database());
  t->SetTableName(u"People");
  t->Open();  // the cursor link resolves the alias
  ASSERT_NE(nullptr, t->Database());
  EXPECT_TRUE(t->Database()->Implicit());
  EXPECT_EQ(Session->FindDatabase(u"Data"), t->Database());
  EXPECT_EQ(Session.get(), t->Session());
  EXPECT_EQ(3, static_cast<int32_t>(IDs(*t).size()));
  t->SetAliasName(u"DATA");  // the same name in other letters: no inactive check
  EXPECT_TRUE(RaisesText([&] { t->SetAliasName(u"Other"); }, db::kSDataSetOpen));
  t->Close();

  // Linking a database takes its session and, for an implicit one, its alias.
  rtl::TComponentPtr<TzfTable> u(new TzfTable());
  u->SetDatabase(Session->FindDatabase(u"Data"));
  EXPECT_EQ(u"Data", u->AliasName());
  EXPECT_EQ(Session.get(), u->Session());
  u->SetDatabase(Db.get());
  EXPECT_EQ(u"", u->AliasName());
}

TEST_F(DatasetServices, DefaultConnectionAndSessionChanges) {
  Session->SetDefault(true);
  Db->SetDefault(true);
  rtl::TComponentPtr<TzfTable> t(new TzfTable());
  EXPECT_EQ(Session.get(), t->Session());
  EXPECT_EQ(Db.get(), t->Database());

  // Another session: the link moves to its default database (none here).
  rtl::TComponentPtr<TzfSession> other(new TzfSession());
  other->SetServerEngine(Engine.get());
  t->SetSession(other.get());
  EXPECT_EQ(other.get(), t->Session());
  EXPECT_EQ(nullptr, t->Database());
  t->SetSession(Session.get());
  EXPECT_EQ(Db.get(), t->Database());
  Db->SetDefault(false);
}

TEST_F(DatasetServices, TransactionWithTablesNeedsThemOpen) {
  Build(u"Other");
  TzfTable* a = Table(u"People");
  TzfTable* b = Table(u"Other");
  a->Open();
  EXPECT_EQ(u"ZofrinDB: Database1: Table 1 (Other) must be active [no error code]", ClientErrorText([&] {
              Db->StartTransactionWith({a, b}, false);
            }));
  EXPECT_FALSE(Db->InTransaction());
  b->Open();
  Db->StartTransactionWith({a, b}, false);
  EXPECT_TRUE(Db->InTransaction());
  Db->Rollback();

  rtl::TComponentPtr<TzfTransContext> context(new TzfTransContext());
  context->SetSession(Session.get());
  context->Open();
  EXPECT_TRUE(RaisesText([&] { context->StartTransactionWith({nullptr}, false); }, u"Table 0 () must be active"));
  Db->Close();
  Db->SetTransContext(context.get());
  Db->Open();
  a->Open();
  EXPECT_EQ(0u, context->StartTransactionWithEx({a}, false));
  EXPECT_TRUE(context->InTransaction());
  context->Rollback();
}

TEST_F(DatasetServices, CloseBlobLetsTheActiveRecordsBlobGo) {
  auto dict = BlobDictionary(true, false);
  ASSERT_EQ(Db->AbstractDatabase()->TableBuild(false, u"Blobs", u"", dict.get(), tsPersistent, false), 0u);
  InsertRecords(u"Blobs", {1, 2}, [](TzfAbstractCursor& aCursor, uint8_t* aBuffer, int32_t aID) {
    if (aID == 1) aCursor.SetFieldFromVariant(aBuffer, 2, rtl::Variant::FromBytes({1, 2, 3}));
  });
  TzfTable* t = Table(u"Blobs");
  db::TField* data = nullptr;
  t->CloseBlob(nullptr);  // closed: nothing
  t->Open();
  data = &t->FieldByName(u"Data");
  t->First();
  t->CloseBlob(data);
  t->Next();
  t->CloseBlob(data);  // a NULL BLOB: nothing to let go
  t->First();
  EXPECT_EQ(3u, data->Value().AsBytes().size());  // the stored BLOB is untouched
}

}  // namespace
}  // namespace zf::test
