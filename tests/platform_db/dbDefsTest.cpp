// Field and index definitions, parameters, data sources and the master data link.
#include <gtest/gtest.h>

#include "platform/db/dbParams.h"
#include "tests/platform_db/dbTestDataSet.h"

namespace zf::db::test {
namespace {

TEST(FieldLists, NamesAreSplitAndTrimmed) {
  EXPECT_EQ(ExtractFieldNames(u""), std::vector<UnicodeString>{});
  EXPECT_EQ(ExtractFieldNames(u"A"), std::vector<UnicodeString>{u"A"});
  EXPECT_EQ(ExtractFieldNames(u" A ; B;"), (std::vector<UnicodeString>{u"A", u"B"}));
  EXPECT_EQ(ExtractFieldNames(u"A;;B"), (std::vector<UnicodeString>{u"A", u"", u"B"}));
}

TEST(IndexDefs, FindIndexForFieldsPrefersTheExactKey) {
  TIndexDefs defs(nullptr);
  defs.Add(u"ByNameCity", u"NAME;CITY", {});
  defs.Add(u"ByName", u"Name", {ixCaseInsensitive});
  defs.Add(u"ById", u"ID", {ixPrimary, ixUnique});
  defs.Add(u"Expr", u"ZIP", {ixExpression});
  struct Case {
    const char16_t* Fields;
    bool CaseIns;
    const char16_t* Found;  // nullptr: none
  } cases[] = {
      {u"name", false, u"ByName"},        // exact match (names without regard to case) beats the prefix
      {u"NAME;city", false, u"ByNameCity"},
      {u"NAME;CITY;ZIP", false, nullptr},  // longer than any key
      {u"CITY", false, nullptr},           // not a prefix
      {u"ID", true, nullptr},              // only case-insensitive indexes count
      {u"NAME", true, u"ByName"},
      {u"ZIP", false, nullptr},            // expression indexes have no field list
      {u"", false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(rtl::u8(c.Fields));
    TIndexDef* d = defs.GetIndexForFields(c.Fields, c.CaseIns);
    if (c.Found)
      EXPECT_EQ(d ? d->Name() : u"(none)", c.Found);
    else
      EXPECT_EQ(d, nullptr);
  }
  defs.Items(0).SetName(u"Other");
  TIndexDefs prefixOnly(nullptr);
  prefixOnly.Add(u"Two", u"A;B", {});
  EXPECT_EQ(prefixOnly.FindIndexForFields(u"A").Name(), u"Two");
  EXPECT_EQ(DbErrorOf([&] { defs.FindIndexForFields(u"CITY"); }), "No index for fields 'CITY'");
  EXPECT_EQ(DbErrorOf([&] { defs.Find(u"Nope"); }), "Index 'Nope' not found");
  EXPECT_EQ(defs.IndexOf(u"BYID"), 2);
  EXPECT_EQ(DbErrorOf([&] { defs.Items(9); }), "Field index out of range");
}

// A dataset whose index definitions come from its update hook.
class TIndexedDataSet : public TTestDataSet {
 public:
  TIndexedDataSet() : TTestDataSet({{u"ID", ftInteger}}), IndexDefs(this) {}
  TIndexDefs IndexDefs;
  int32_t Updates = 0;

  void DataEvent(TDataEvent aEvent, intptr_t aInfo) override {
    if (aEvent == dePropertyChange) IndexDefs.SetUpdated(false);
    TTestDataSet::DataEvent(aEvent, aInfo);
  }

 protected:
  void UpdateIndexDefs() override {
    ++Updates;
    IndexDefs.BeginUpdate();
    IndexDefs.Clear();
    IndexDefs.Add(u"Primary", u"ID", {ixPrimary, ixUnique});
    IndexDefs.EndUpdate();
    IndexDefs.SetUpdated(true);
  }
};

TEST(IndexDefs, UpdateRunsTheHookOnlyWhileOutOfDate) {
  TIndexedDataSet ds;
  ds.IndexDefs.Update();
  ds.IndexDefs.Update();
  EXPECT_EQ(ds.Updates, 1);
  EXPECT_EQ(ds.IndexDefs.Count(), 1);
  ds.DataEvent(dePropertyChange, 0);
  ds.IndexDefs.Update();
  EXPECT_EQ(ds.Updates, 2);
  TIndexDefs copy(nullptr);
  copy.Assign(ds.IndexDefs);
  EXPECT_EQ(copy.Items(0).Options(), (TIndexOptions{ixPrimary, ixUnique}));
}

TEST(FieldDefs, DefinitionsFromTheDatasetAndFromFields) {
  TTestDataSet ds({{u"ID", ftInteger, 0, {faRequired}}, {u"NAME", ftString, 12, {faFixed}}, {u"AMOUNT", ftBCD, 2}});
  // Closed: the definitions are read through an information-only open.
  ds.FieldDefs().Update();
  ASSERT_EQ(ds.FieldDefs().Count(), 3);
  EXPECT_FALSE(ds.Active());
  EXPECT_TRUE(ds.FieldDefs().Updated());
  const TFieldDef& name = ds.FieldDefs().Find(u"name");
  EXPECT_EQ(name.FieldNo(), 2);
  EXPECT_EQ(name.Size(), 12);
  EXPECT_TRUE(name.Attributes().Contains(faFixed));
  EXPECT_TRUE(ds.FieldDefs()[0].Required());
  EXPECT_EQ(DbErrorOf([&] { ds.FieldDefs().Find(u"X"); }), "Field 'X' not found");
  EXPECT_EQ(DbErrorOf([&] { ds.FieldDefs().Add(u"id", ftInteger); }), "Duplicate field name 'id'");

  ds.Open();
  EXPECT_EQ(ds.FieldCount(), 3);
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 0);  // default fields go with the close
  // A field added now is the application's: an information-only open leaves it alone.
  auto mine = std::make_unique<TIntegerField>();
  mine->SetFieldName(u"ID");
  ds.Fields().Add(std::move(mine));
  ds.FieldDefs().SetUpdated(false);
  ds.FieldDefs().Update();
  EXPECT_EQ(ds.FieldCount(), 1);

  // Fields made from definitions, and definitions rebuilt from fields.
  TTestDataSet copy({});
  for (int32_t i = 0; i < ds.FieldDefs().Count(); ++i) ds.FieldDefs()[i].CreateField(copy);
  EXPECT_EQ(copy.FieldCount(), 3);
  EXPECT_EQ(copy.FieldByName(u"NAME").Size(), 12);
  EXPECT_EQ(copy.FieldByName(u"AMOUNT").Size(), 2);
  EXPECT_TRUE(copy.FieldByName(u"ID").Required());
  copy.InitFieldDefsFromFields();
  EXPECT_EQ(copy.FieldDefs().Count(), 3);
  EXPECT_EQ(copy.FieldDefs()[2].DataType(), ftBCD);
  EXPECT_EQ(copy.FieldDefs()[2].Size(), 2);
}

TEST(FieldDefs, PersistentFieldOfTheWrongTypeIsRefusedAtOpen) {
  TTestDataSet ds({{u"ID", ftInteger}});
  auto f = std::make_unique<TStringField>();
  f->SetFieldName(u"ID");
  ds.Fields().Add(std::move(f));
  EXPECT_EQ(DbErrorOf([&] { ds.Open(); }), "Type mismatch for field 'ID', expecting: Integer actual: String");
  EXPECT_FALSE(ds.Active());
}

TEST(Params, ByNameAndAssignValues) {
  TParams a;
  a.CreateParam(ftInteger, u"P1", ptInput).SetValue(Variant(int32_t{5}));
  a.CreateParam(ftString, u"P2", ptInput);
  EXPECT_TRUE(a.ParamByName(u"p2").IsNull());
  EXPECT_EQ(DbErrorOf([&] { a.ParamByName(u"P3"); }), "Parameter 'P3' not found");
  TParams b;
  b.CreateParam(ftInteger, u"p1", ptInput);
  b.AssignValues(a);
  EXPECT_EQ(b[0].Value().AsInteger(), 5);
}

// A link that records what it hears.
class TRecordingLink : public TDataLink {
 public:
  std::vector<std::string> Heard;

 protected:
  void ActiveChanged() override { Heard.push_back(Active() ? "active" : "inactive"); }
  void EditingChanged() override { Heard.push_back("editing"); }
  void DataSetChanged() override { Heard.push_back("changed"); }
  void DataSetScrolled(int32_t aDistance) override { Heard.push_back("scrolled " + std::to_string(aDistance)); }
  void RecordChanged(TField* aField) override { Heard.push_back(aField ? "field" : "record"); }
};

TEST(DataSources, LinksHearStateAndDataAndControlsCanBeDisabled) {
  TTestDataSet ds({{u"ID", ftInteger}});
  ds.AddIntRows(4);
  TDataSource source;
  TRecordingLink link;
  link.SetDataSource(&source);
  EXPECT_FALSE(link.Active());
  source.SetDataSet(&ds);
  ds.Open();
  ds.Next();
  ds.Edit();
  ds.FieldByName(u"ID").SetAsInteger(9);
  ds.Post();
  EXPECT_EQ(link.Heard, (std::vector<std::string>{"active", "scrolled 1", "editing", "record", "field", "editing", "changed"}));
  EXPECT_EQ(source.State(), dsBrowse);

  link.Heard.clear();
  ds.DisableControls();
  ds.Next();
  ds.Next();
  ds.Edit();
  ds.Cancel();
  EXPECT_TRUE(link.Heard.empty());
  ds.EnableControls();
  EXPECT_EQ(link.Heard, (std::vector<std::string>{"changed"}));

  link.Heard.clear();
  source.SetEnabled(false);
  ds.Next();
  EXPECT_EQ(link.Heard, (std::vector<std::string>{"inactive"}));
  source.SetEnabled(true);
  ds.Close();
  EXPECT_EQ(link.Heard, (std::vector<std::string>{"inactive", "active", "inactive"}));
}

// A detail dataset that follows a master through a master link.
class TDetailDataSet : public TTestDataSet {
 public:
  TDetailDataSet() : TTestDataSet({{u"ID", ftInteger}}), MasterLink(this) {
    MasterLink.OnMasterChange = [this] { Heard.push_back("change " + std::to_string(MasterLink.Fields()[0]->AsInteger())); };
    MasterLink.OnMasterDisable = [this] { Heard.push_back("disable"); };
  }
  TDataSource* GetDataSource() const override { return MasterLink.DataSource(); }
  TMasterDataLink MasterLink;
  std::vector<std::string> Heard;
};

TEST(DataSources, MasterLinkIsInactiveUntilItHasAnOpenMaster) {
  TTestDataSet master({{u"ID", ftInteger}});
  master.AddIntRows(3);
  TDataSource source;
  source.SetDataSet(&master);
  TDetailDataSet detail;
  detail.AddIntRows(1);
  detail.Open();
  detail.MasterLink.SetFieldNames(u"ID");
  EXPECT_FALSE(detail.MasterLink.Active());
  EXPECT_TRUE(detail.MasterLink.Fields().empty());
  detail.MasterLink.SetDataSource(&source);  // the master is closed: still inactive
  EXPECT_FALSE(detail.MasterLink.Active());
  EXPECT_TRUE(detail.Heard.empty());

  master.Open();
  master.Next();
  master.Edit();  // the record is announced again
  master.FieldByName(u"ID").SetAsInteger(7);  // a link field changed
  master.Post();
  master.Close();
  EXPECT_EQ(detail.Heard, (std::vector<std::string>{"change 1", "change 2", "change 2", "change 7", "change 7", "disable"}));

  // The master source may not follow its own detail.
  TDataSource detailSource;
  detailSource.SetDataSet(&detail);
  EXPECT_TRUE(source.IsLinkedTo(&master));
  EXPECT_TRUE(detail.IsLinkedTo(&source));
  EXPECT_TRUE(detailSource.IsLinkedTo(&master));
  EXPECT_EQ(DbErrorOf([&] { source.SetDataSet(&detail); }), "Circular datalinks are not allowed");
  EXPECT_EQ(source.DataSet(), &master);
}

}  // namespace
}  // namespace zf::db::test
