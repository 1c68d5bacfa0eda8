// The cursor link between a dataset and its database component: opening follows the link up,
// stopping the database closes the datasets on it before their engine cursors would go.
#include <gtest/gtest.h>

#include "client/zfdbCursor.h"
#include "tests/client/zfdbTableTestUtil.h"

namespace zf::test {
namespace {

class ClientCursorLink : public ClientTableTest {
 protected:
  void SetUp() override {
    ClientTableTest::SetUp();
    Build(u"T");
    Fill(u"T", {1, 2, 3});
  }
};

TEST_F(ClientCursorLink, OpeningADatasetOpensItsDatabaseThroughTheLink) {
  TzfTable* t = Table(u"T");
  EXPECT_EQ(t->CursorLink()->Name(), u"tblT_Cursor");
  EXPECT_EQ(Db->DataSetCount(), 1);
  EXPECT_EQ(Db->TableCount(), 1);
  Db->Close();
  t->Open();
  EXPECT_TRUE(Db->IsActive());
  EXPECT_EQ(t->RecordCount(), 3);
  // A database cannot be exchanged under an open dataset.
  rtl::TComponentPtr<TzfDatabase> other(new TzfDatabase());
  EXPECT_TRUE(RaisesText([&] { t->SetDatabase(other.get()); }, u"Cannot perform this operation on an open dataset"));
  t->Close();
  EXPECT_TRUE(Db->IsActive());  // closing a dataset leaves its database open
  t->SetDatabase(other.get());
  EXPECT_EQ(Db->DataSetCount(), 0);
  EXPECT_EQ(other->DataSetCount(), 1);
}

TEST_F(ClientCursorLink, StoppingTheDatabaseClosesItsDatasetsFirst) {
  TzfTable* a = Table(u"T");
  TzfTable* b = Table(u"T");
  a->Open();
  b->Open();
  b->Next();
  Db->Close();
  // Their engine cursors went with the datasets, before the engine database.
  EXPECT_FALSE(a->Active());
  EXPECT_FALSE(b->Active());
  EXPECT_EQ(a->AbstractCursor(), nullptr);
  a->Open();
  EXPECT_EQ(IDs(*a), (std::vector<int32_t>{1, 2, 3}));
}

TEST_F(ClientCursorLink, ADestroyedDatabaseIsForgotten) {
  TzfTable* t = Table(u"T");
  t->Open();
  Db.reset();
  EXPECT_FALSE(t->Active());
  EXPECT_EQ(t->Database(), nullptr);
  EXPECT_TRUE(RaisesText([&] { t->Open(); }, u"DataSet cannot open its database"));
  EXPECT_FALSE(t->Active());
}

TEST_F(ClientCursorLink, ClosingInactiveFoldersKeepsImplicitDatabasesWithOpenDatasets) {
  Session->AddAlias(u"Data", rtl::u16(Dir.Path.string()), false);
  TzfDatabase* used = Session->OpenDatabase(u"Data");
  ASSERT_TRUE(used->Implicit());
  TzfTable* t = Table(u"T");
  t->SetDatabase(used);
  t->Open();
  Session->CloseInactiveFolders();
  EXPECT_TRUE(used->IsActive());
  EXPECT_TRUE(t->Active());
  EXPECT_EQ(t->RecordCount(), 3);
  t->Close();
  Session->CloseInactiveFolders();
  EXPECT_FALSE(used->IsActive());
}

}  // namespace
}  // namespace zf::test
