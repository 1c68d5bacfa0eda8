// The table component over real engine tables: opening, index resolution, maintenance and the
// recovery tool's copy of failed records.
#include <gtest/gtest.h>

#include "client/zfdbTable.h"
#include "tests/client/zfdbTableTestUtil.h"

namespace zf::test {
namespace {

using ClientTable = ClientTableTest;

// The tool's copy-back: every record of the failed table is inserted into the recovered one field
// by field by position, read-only target fields skipped; a record that cannot be posted is
// cancelled and not counted.
int32_t CopyBack(TzfTable& aFailed, TzfTable& aRecovered) {
  int32_t copied = 0;
  for (aFailed.First(); !aFailed.Eof(); aFailed.Next()) {
    aRecovered.Insert();
    for (int32_t i = 0; i < aRecovered.FieldCount(); ++i)
      if (!aRecovered.Fields()[i].ReadOnly()) aRecovered.Fields()[i].Assign(&aFailed.Fields()[i]);
    try {
      aRecovered.Post();
      ++copied;
    } catch (const db::EDatabaseError&) {
      aRecovered.Cancel();
    }
  }
  return copied;
}

TEST_F(ClientTable, CopyBackOfFailedRecordsSkipsReadOnlyFieldsAndCancelsRefusedOnes) {
  Build(u"Recovered");
  Build(u"Failed", false);
  Fill(u"Recovered", {1, 2});
  Fill(u"Failed", {3, 2, 4});  // 2 breaks the unique index of the recovered table
  TzfTable* failed = Table(u"Failed");
  TzfTable* recovered = Table(u"Recovered");
  failed->Open();
  recovered->Open();
  EXPECT_EQ(recovered->AbstractCursor()->OptionSet(u"INSERT_OPTIONS_SETDEFAULT", u"0"), 0u);
  ASSERT_EQ(failed->RecordCount(), 3);
  recovered->Fields()[2].SetReadOnly(true);  // Score

  EXPECT_EQ(CopyBack(*failed, *recovered), 2);

  EXPECT_EQ(recovered->State(), db::dsBrowse);
  EXPECT_EQ(recovered->RecordCount(), 4);
  EXPECT_EQ(IDs(*recovered), (std::vector<int32_t>{1, 2, 3, 4})) << "in the order of the default index";
  ASSERT_TRUE(recovered->Locate(u"ID", rtl::Variant(4), {}));
  EXPECT_EQ(recovered->FieldByName(u"Name").GetAsString(), u"n4");
  EXPECT_TRUE(recovered->FieldByName(u"Score").IsNull()) << "a read-only field is not copied";
  ASSERT_TRUE(recovered->Locate(u"ID", rtl::Variant(2), {}));
  EXPECT_EQ(recovered->FieldByName(u"Score").GetAsInteger(), 20) << "the refused copy changed nothing";
}

TEST_F(ClientTable, OpensOnTheDefaultIndexAndWalksInItsOrder) {
  Build(u"People");
  Fill(u"People", {3, 1, 2});
  TzfTable* t = Table(u"People");
  EXPECT_FALSE(t->IsEmpty());
  t->Open();
  EXPECT_EQ(t->ActiveIndexName(), u"ByID");
  EXPECT_EQ(t->IndexName(), u"") << "the default index reads empty";
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(t->RecordCount(), 3);
  EXPECT_FALSE(t->IsEmpty());
  EXPECT_TRUE(t->CanModify());
  t->Close();
  t->SetIndexName(u"ByName");
  t->Open();
  EXPECT_EQ(t->ActiveIndexName(), u"ByName");
  EXPECT_EQ(t->IndexName(), u"ByName");
}

TEST_F(ClientTable, IndexResolution) {
  Build(u"People");
  Fill(u"People", {2, 1});
  struct Case {
    const char* What;
    UnicodeString IndexName, IndexFieldNames, Expected;
  };
  const Case cases[] = {
      {"default", u"", u"", u"ByID"},
      {"by name", u"ByName", u"", u"ByName"},
      {"by name in another case", u"byname", u"", u"byname"},
      {"by fields", u"", u"Name", u"ByName"},
      {"by fields in another case", u"", u"id", u"ByID"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    TzfTable* t = Table(u"People");
    if (!c.IndexName.empty()) t->SetIndexName(c.IndexName);
    if (!c.IndexFieldNames.empty()) t->SetIndexFieldNames(c.IndexFieldNames);
    t->Open();
    EXPECT_EQ(t->ActiveIndexName(), c.Expected);
    EXPECT_EQ(t->IndexFieldNames(), c.IndexFieldNames);
    t->Close();
  }
  TzfTable* t = Table(u"People");
  t->SetIndexName(u"Nope");
  EXPECT_EQ(ClientErrorCode([&] { t->Open(); }), zfErrNoSuchIndex);
  EXPECT_FALSE(t->Active());
  EXPECT_EQ(t->AbstractCursor(), nullptr);
  // On an open table an unknown name keeps the index.
  t->SetIndexName(u"");
  t->Open();
  EXPECT_EQ(ClientErrorCode([&] { t->SetIndexName(u"Nope"); }), zfErrNoSuchIndex);
  EXPECT_EQ(t->ActiveIndexName(), u"ByID");
  t->SetIndexName(u"ByName");
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{1, 2}));
  t->SetIndexFieldNames(u"");
  EXPECT_EQ(t->ActiveIndexName(), u"ByID");
  EXPECT_EQ(t->IndexName(), u"");
  EXPECT_EQ(t->IndexFieldNames(), u"");
}

TEST_F(ClientTable, TableWithoutIndexesReadsInStorageOrder) {
  Build(u"Plain", false);
  Fill(u"Plain", {3, 1, 2});
  TzfTable* t = Table(u"Plain");
  t->Open();
  EXPECT_EQ(t->ActiveIndexName(), zfSequentialAccessIndexName) << "every table has it";
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{3, 1, 2}));
}

// Answers a read-only refusal to the first opens (those asking for writing only, unless
// RefuseReadOnlyToo).
class TRefusingTable : public TzfTable {
 public:
  using TzfTable::TzfTable;
  uint32_t Refusal = zfErrTableReadOnly;
  int32_t Refusals = 1;
  bool RefuseReadOnlyToo = false;
  std::vector<TzfOpenMode> Modes;

 protected:
  uint32_t EngineCursorOpen(TzfOpenMode aOpenMode, TzfShareMode aShareMode, TzfAbstractCursor*& aCursor) override {
    Modes.push_back(aOpenMode);
    if ((aOpenMode == omReadWrite || RefuseReadOnlyToo) && Refusals > 0) {
      --Refusals;
      return Refusal;
    }
    return TzfTable::EngineCursorOpen(aOpenMode, aShareMode, aCursor);
  }
};

TEST_F(ClientTable, ReadOnlyRefusalOpensReadOnlyOnce) {
  Build(u"People");
  Fill(u"People", {1});
  for (uint32_t refusal : {zfErrTableReadOnly, zfErrReadOnlyDb}) {
    SCOPED_TRACE(refusal);
    auto* t = Table<TRefusingTable>(u"People");
    t->Refusal = refusal;
    t->Open();
    EXPECT_TRUE(t->ReadOnly()) << "stays set afterwards";
    EXPECT_EQ(t->Modes, (std::vector<TzfOpenMode>{omReadWrite, omReadOnly}));
    EXPECT_FALSE(t->CanModify());
    EXPECT_EQ(IDs(*t), (std::vector<int32_t>{1}));
  }
  // ReadOnly already set: the refusal is raised, nothing retried.
  auto* t = Table<TRefusingTable>(u"People");
  t->SetReadOnly(true);
  t->RefuseReadOnlyToo = true;
  t->Refusals = 5;
  EXPECT_EQ(ClientErrorCode([&] { t->Open(); }), zfErrTableReadOnly);
  EXPECT_EQ(t->Modes, (std::vector<TzfOpenMode>{omReadOnly}));
  EXPECT_FALSE(t->Active());
  // A retry that is refused as well is raised: there is no third try.
  auto* u = Table<TRefusingTable>(u"People");
  u->RefuseReadOnlyToo = true;
  u->Refusals = 5;
  EXPECT_EQ(ClientErrorCode([&] { u->Open(); }), zfErrTableReadOnly);
  EXPECT_EQ(u->Modes, (std::vector<TzfOpenMode>{omReadWrite, omReadOnly}));
}

TEST_F(ClientTable, ReadOnlyTableRefusesEditing) {
  Build(u"People");
  Fill(u"People", {1});
  TzfTable* t = Table(u"People");
  t->SetReadOnly(true);
  t->Open();
  EXPECT_FALSE(t->CanModify());
  EXPECT_FALSE(ClientErrorText([&] { t->Edit(); }).empty());
  EXPECT_FALSE(ClientErrorText([&] { t->Insert(); }).empty());
}

TEST_F(ClientTable, TableNameAndModesChangeOnlyWhileClosed) {
  Build(u"People");
  TzfTable* t = Table(u"People");
  t->Open();
  t->SetTableName(u"PEOPLE");
  EXPECT_EQ(t->TableName(), u"PEOPLE") << "the same name in another case is taken while open";
  EXPECT_TRUE(RaisesText([&] { t->SetTableName(u"Other"); }, db::kSDataSetOpen));
  EXPECT_TRUE(RaisesText([&] { t->SetReadOnly(true); }, db::kSDataSetOpen));
  EXPECT_TRUE(RaisesText([&] { t->SetExclusive(true); }, db::kSDataSetOpen));
  EXPECT_EQ(t->TableName(), u"PEOPLE");
}

TEST_F(ClientTable, RenameAndDelete) {
  Build(u"People");
  Fill(u"People", {1, 2});
  TzfTable* t = Table(u"People");
  t->Open();
  EXPECT_TRUE(RaisesText([&] { t->RenameTable(u"Persons"); }, db::kSDataSetOpen));
  EXPECT_TRUE(RaisesText([&] { t->DeleteTable(); }, db::kSDataSetOpen));
  t->Close();
  EXPECT_TRUE(Db->TableExists(u"People", u""));
  EXPECT_FALSE(Db->TableExists(u"Persons", u""));

  t->RenameTable(u"Persons");
  EXPECT_EQ(t->TableName(), u"Persons");
  EXPECT_FALSE(Db->TableExists(u"People", u""));
  t->Open();
  EXPECT_EQ(t->RecordCount(), 2);
  t->Close();

  t->DeleteTable();
  EXPECT_FALSE(Db->TableExists(u"Persons", u""));
  EXPECT_FALSE(t->Exists());
  t->DeleteTable();  // a missing table is no error
}

TEST_F(ClientTable, MaintenanceRestoresTheDatabaseState) {
  Build(u"People");
  TzfTable* t = Table(u"People");
  Db->Close();
  EXPECT_TRUE(t->Exists());
  EXPECT_FALSE(Db->IsActive()) << "Exists opened the database for the call only";
  t->RenameTable(u"Persons");
  EXPECT_FALSE(Db->IsActive());
  // A failing call leaves it as it was too.
  EXPECT_EQ(ClientErrorCode([&] { t->RenameTable(u""); }), zfErrInvalidTableName);
  EXPECT_FALSE(Db->IsActive());
  EXPECT_EQ(t->TableName(), u"Persons");
}

TEST_F(ClientTable, ExistsWithAnEmptyNameAsksNobody) {
  TzfTable* t = Table(u"");
  t->SetDatabase(nullptr);  // the engine would not be reachable anyway
  EXPECT_FALSE(t->Exists());
  TzfTable* u = Table(u"Missing");
  EXPECT_FALSE(u->Exists());
}

TEST_F(ClientTable, EmptyTableOnAnOpenTableReopensIt) {
  Build(u"People");
  Fill(u"People", {1, 2, 3});
  TzfTable* t = Table(u"People");
  t->Open();
  t->EmptyTable();
  EXPECT_TRUE(t->Active());
  EXPECT_TRUE(t->IsEmpty());
  EXPECT_EQ(t->RecordCount(), 0);
}

TEST_F(ClientTable, CreateTableFromFieldAndIndexDefinitions) {
  TzfTable* t = Table(u"Made");
  t->FieldDefs().Add(u"Code", db::ftInteger, 0, true);
  t->FieldDefs().Add(u"Title", db::ftWideString, 30);
  t->IndexDefs().Add(u"ByTitle", u"Title", db::TIndexOptions{db::ixCaseInsensitive});
  t->IndexDefs().Add(u"ByCode", u"Code", db::TIndexOptions{db::ixPrimary, db::ixUnique});
  t->IndexDefs().Add(u"sequential access index", u"Code", {});  // never added
  bool called = false;
  t->OnCreateTable = [&](TzfDataset&, TzfDataDictionary&) { called = true; };
  t->CreateTable();
  EXPECT_TRUE(called);
  t->FieldDefs().Clear();
  t->IndexDefs().Clear();
  t->IndexDefs().SetUpdated(false);
  t->Open();
  EXPECT_EQ(t->ActiveIndexName(), u"ByCode");
  db::TIndexDefs& defs = t->IndexDefs();
  defs.Update();
  ASSERT_EQ(defs.Count(), 3) << "the sequential access index, then the two definitions";
  EXPECT_EQ(defs[0].Name(), zfSequentialAccessIndexName);
  EXPECT_EQ(defs[0].Fields(), u"");
  EXPECT_TRUE(defs[0].Options().Contains(db::ixCaseInsensitive)) << "an index without key fields";
  EXPECT_TRUE(defs[0].Options().Contains(db::ixDescending));
  EXPECT_EQ(defs[1].Name(), u"ByTitle");
  EXPECT_EQ(defs[1].Fields(), u"Title");
  EXPECT_EQ(defs[1].CaseInsFields(), u"Title");
  EXPECT_TRUE(defs[1].Options().Contains(db::ixCaseInsensitive));
  EXPECT_FALSE(defs[1].Options().Contains(db::ixUnique));
  EXPECT_TRUE(defs[2].Options().Contains(db::ixPrimary));
  EXPECT_TRUE(defs[2].Options().Contains(db::ixUnique));
  EXPECT_TRUE(t->FieldByName(u"Code").Required());
}

TEST_F(ClientTable, CreateTableRefusals) {
  TzfTable* t = Table(u"");
  EXPECT_EQ(ClientErrorCode([&] { t->CreateTable(); }), zfErrInvalidTableName);
  TzfTable* u = Table(u"Made");
  u->FieldDefs().Add(u"Code", db::ftInteger);
  u->FieldDefs().Add(u"Odd", db::ftUnknown);
  try {
    u->CreateTable();
    FAIL() << "an unsupported type is refused";
  } catch (const EzfDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), zfErrInvalidFieldType);
    EXPECT_NE(e.Message().find(u"Field type \"Unknown\" specified for field \"Odd\" is not supported"),
              UnicodeString::npos)
        << rtl::u8(e.Message());
  }
  EXPECT_FALSE(Db->TableExists(u"Made", u""));
}

TEST_F(ClientTable, ChangePasswordNeedsAnOpenTable) {
  Build(u"People");
  TzfTable* t = Table(u"People");
  EXPECT_TRUE(RaisesText([&] { t->ChangePassword(u"x"); }, db::kSDataSetClosed));
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
namespace {

TEST_F(ClientTable, WriteOnlyTableTakesInsertsAndShowsNothing) {
  Build(u"People");
  Fill(u"People", {1});
  TzfTable* t = Table(u"People");
  t->SetWriteOnly(true);
  t->Open();
  EXPECT_TRUE(t->IsEmpty());
  EXPECT_TRUE(RaisesText([&] { t->SetWriteOnly(false); }, db::kSDataSetOpen));
  t->Insert();
  t->FieldByName(u"ID").SetAsInteger(2);
  t->Post();
  EXPECT_TRUE(t->IsEmpty());
  EXPECT_FALSE(t->FindFirst());
  t->Close();
  t->SetWriteOnly(false);
  t->Open();
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{1, 2}));
}

}  // namespace
}  // namespace zf::test
