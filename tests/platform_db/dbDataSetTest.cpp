// The dataset's state machine, buffer ring, events and fetch rules on the in-memory test dataset.
#include <gtest/gtest.h>

#include <functional>

#include "tests/platform_db/dbTestDataSet.h"

namespace zf::db::test {
namespace {

std::vector<TColumn> IntAndName() {
  return {{u"ID", ftInteger, 0, {}}, {u"NAME", ftString, 10, {}}};
}

// A dataset over aRows integer records, shown aShown at a time through a link.
struct Fixture {
  explicit Fixture(int32_t aRows, int32_t aShown = 1, std::vector<TColumn> aColumns = IntAndName())
      : ds(std::move(aColumns)) {
    ds.SetName(u"People");
    ds.AddIntRows(aRows);
    source.SetDataSet(&ds);
    link.SetDataSource(&source);
    link.SetBufferCount(aShown);
  }
  int32_t Id() { return ds.FieldByName(u"ID").AsInteger(); }
  // The ids on show, the active one marked with "*".
  std::string Ring() {
    std::string r;
    for (int32_t i = 0; i < ds.BufferedRecordCount(); ++i) {
      if (!r.empty()) r += " ";
      r += std::to_string(ds.BufferId(i)) + (i == ds.ActiveRecord() ? "*" : "");
    }
    return r;
  }
  TTestDataSet ds;
  TDataSource source;
  TDataLink link;
};

// ---- state transitions ---------------------------------------------------------------------------

struct TransitionCase {
  const char* Name;
  int32_t Rows;
  std::function<void(TTestDataSet&)> Prepare;  // from a closed dataset
  std::function<void(TTestDataSet&)> Operation;
  TDataSetState After;
  const char* Error;  // "" when the operation succeeds
};

TEST(DataSetStates, TransitionsAndTheirRefusals) {
  auto open = [](TTestDataSet& d) { d.Open(); };
  auto edit = [](TTestDataSet& d) { d.Open(); d.Edit(); };
  auto insert = [](TTestDataSet& d) { d.Open(); d.Insert(); };
  auto none = [](TTestDataSet&) {};
  const std::vector<TransitionCase> cases = {
      {"first while closed", 3, none, [](TTestDataSet& d) { d.First(); }, dsInactive,
       "People: Cannot perform this operation on a closed dataset"},
      {"edit while closed", 3, none, [](TTestDataSet& d) { d.Edit(); }, dsInactive,
       "People: Cannot perform this operation on a closed dataset"},
      {"delete while closed", 3, none, [](TTestDataSet& d) { d.Delete(); }, dsInactive,
       "People: Cannot perform this operation on a closed dataset"},
      {"post while closed", 3, none, [](TTestDataSet& d) { d.Post(); }, dsInactive,
       "People: Dataset not in edit or insert mode"},
      {"field added while open", 3, open,
       [](TTestDataSet& d) { d.Fields().Add(std::make_unique<TIntegerField>()); }, dsBrowse,
       "People: Cannot perform this operation on an open dataset"},
      {"post in browse", 3, open, [](TTestDataSet& d) { d.Post(); }, dsBrowse,
       "People: Dataset not in edit or insert mode"},
      {"cancel in browse", 3, open, [](TTestDataSet& d) { d.Cancel(); }, dsBrowse, ""},
      {"open", 3, none, [](TTestDataSet& d) { d.Open(); }, dsBrowse, ""},
      {"close", 3, open, [](TTestDataSet& d) { d.Close(); }, dsInactive, ""},
      {"edit", 3, open, [](TTestDataSet& d) { d.Edit(); }, dsEdit, ""},
      {"insert", 3, open, [](TTestDataSet& d) { d.Insert(); }, dsInsert, ""},
      {"append", 3, open, [](TTestDataSet& d) { d.Append(); }, dsInsert, ""},
      {"edit in edit", 3, edit, [](TTestDataSet& d) { d.Edit(); }, dsEdit, ""},
      {"post in edit", 3, edit, [](TTestDataSet& d) { d.Post(); }, dsBrowse, ""},
      {"cancel in edit", 3, edit, [](TTestDataSet& d) { d.Cancel(); }, dsBrowse, ""},
      {"delete in insert cancels", 3, insert, [](TTestDataSet& d) { d.Delete(); }, dsBrowse, ""},
      {"edit on an empty dataset", 0, open, [](TTestDataSet& d) { d.Edit(); }, dsBrowse,
       "People: Cannot perform this operation on an empty dataset"},
      {"delete on an empty dataset", 0, open, [](TTestDataSet& d) { d.Delete(); }, dsBrowse,
       "People: Cannot perform this operation on an empty dataset"},
      {"edit a read-only dataset", 3, [](TTestDataSet& d) { d.ReadOnlyDataSet = true; d.Open(); },
       [](TTestDataSet& d) { d.Edit(); }, dsBrowse, "People: Cannot modify a read-only dataset"},
      {"insert into a read-only dataset", 3, [](TTestDataSet& d) { d.ReadOnlyDataSet = true; d.Open(); },
       [](TTestDataSet& d) { d.Insert(); }, dsBrowse, "People: Cannot modify a read-only dataset"},
      {"prior on a unidirectional dataset", 3, [](TTestDataSet& d) { d.SetUniDirectional(true); d.Open(); },
       [](TTestDataSet& d) { d.Prior(); }, dsBrowse, "People: Operation not allowed on a unidirectional dataset"},
      {"last on a unidirectional dataset", 3, [](TTestDataSet& d) { d.SetUniDirectional(true); d.Open(); },
       [](TTestDataSet& d) { d.Last(); }, dsBrowse, "People: Operation not allowed on a unidirectional dataset"},
      {"block reading", 3, open, [](TTestDataSet& d) { d.SetBlockReadSize(4096); }, dsBlockRead, ""},
      {"block reading ends", 3, [](TTestDataSet& d) { d.Open(); d.SetBlockReadSize(4096); },
       [](TTestDataSet& d) { d.SetBlockReadSize(0); }, dsBrowse, ""},
  };
  for (const TransitionCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTestDataSet ds(IntAndName());
    ds.SetName(u"People");
    ds.AddIntRows(c.Rows);
    c.Prepare(ds);
    EXPECT_EQ(DbErrorOf([&] { c.Operation(ds); }), c.Error);
    EXPECT_EQ(ds.State(), c.After);
  }
}

TEST(DataSetStates, TemporaryStateKeepsTheEditsModifiedFlag) {
  Fixture f(2);
  f.ds.Open();
  f.ds.Edit();
  f.ds.FieldByName(u"NAME").SetAsString(u"x");
  ASSERT_TRUE(f.ds.Modified());
  {
    TTempState filter(f.ds, dsFilter);
    EXPECT_EQ(f.ds.State(), dsFilter);
    EXPECT_FALSE(f.ds.Modified());
  }
  EXPECT_EQ(f.ds.State(), dsEdit);
  EXPECT_TRUE(f.ds.Modified());
  // The pending edit is therefore posted, not cancelled, by the next move.
  f.ds.Next();
  EXPECT_EQ(f.ds.State(), dsBrowse);
  EXPECT_TRUE(f.ds.Rows[0].Values[1].has_value());
}

// ---- the ring ------------------------------------------------------------------------------------

TEST(DataSetRing, ScrollsThroughTheRecordsWithOneSpareBuffer) {
  Fixture f(6, 3);
  f.ds.Open();
  EXPECT_EQ(f.Ring(), "1* 2 3");
  EXPECT_TRUE(f.ds.Bof());
  EXPECT_FALSE(f.ds.Eof());
  EXPECT_EQ(f.ds.MoveBy(3), 3);  // two moves inside the ring, one fetch
  EXPECT_EQ(f.Ring(), "2 3 4*");
  EXPECT_EQ(f.Id(), 4);
  EXPECT_EQ(f.ds.MoveBy(10), 2);
  EXPECT_TRUE(f.ds.Eof());
  EXPECT_EQ(f.Ring(), "4 5 6*");
  EXPECT_EQ(f.ds.MoveBy(-4), -4);
  EXPECT_EQ(f.Ring(), "2* 3 4");
  f.ds.Prior();
  f.ds.Prior();
  EXPECT_TRUE(f.ds.Bof());
  EXPECT_EQ(f.Ring(), "1* 2 3");
  f.ds.Last();
  EXPECT_EQ(f.Ring(), "4 5 6*");
  EXPECT_TRUE(f.ds.Eof());
  f.ds.First();
  EXPECT_EQ(f.Ring(), "1* 2 3");
}

TEST(DataSetRing, BookmarksPutTheRecordInTheMiddle) {
  Fixture f(9, 3);
  f.ds.Open();
  f.ds.MoveBy(5);
  TBookmark bm = f.ds.GetBookmark();
  ASSERT_EQ(bm.size(), 8u);
  f.ds.First();
  f.ds.GotoBookmark(bm);
  EXPECT_EQ(f.Ring(), "5 6* 7");
  // A record that cannot be read is reported and the records on show stay as they were.
  f.ds.Next();
  TBookmark damaged = f.ds.GetBookmark();
  f.ds.Unreadable.insert(7);
  f.ds.Prior();
  EXPECT_EQ(DbErrorOf([&] { f.ds.GotoBookmark(damaged); }), "People: Record is damaged");
  EXPECT_EQ(f.Ring(), "5 6* 7");
  f.ds.AnswerErrorDespiteCheck = true;
  EXPECT_EQ(DbErrorOf([&] { f.ds.GotoBookmark(damaged); }), "People: Record not found");
  EXPECT_EQ(f.Ring(), "5 6* 7");
  f.ds.Unreadable.clear();
  // A bookmark of a record that is gone is refused and the ring stays usable.
  f.ds.Rows.erase(f.ds.Rows.begin() + 5);
  EXPECT_EQ(DbErrorOf([&] { f.ds.GotoBookmark(bm); }), "People: Bookmark not found");
  f.ds.First();
  EXPECT_EQ(f.Id(), 1);
}

TEST(DataSetRing, LinkAsksForMoreRecordsWhileOpen) {
  Fixture f(5, 1);
  f.ds.Open();
  f.ds.Next();
  EXPECT_EQ(f.Ring(), "2*");
  f.link.SetBufferCount(3);
  EXPECT_EQ(f.ds.BufferCount(), 3);
  EXPECT_EQ(f.Id(), 2);
  EXPECT_EQ(f.ds.BufferedRecordCount(), 3);
  f.link.SetBufferCount(1);
  EXPECT_EQ(f.Ring(), "2*");
}

TEST(DataSetRing, ResyncRebuildsAroundTheCursor) {
  Fixture f(6, 3);
  f.ds.Open();
  f.ds.MoveBy(4);
  EXPECT_EQ(f.Ring(), "3 4 5*");
  // The record on show was deleted behind the dataset's back: Refresh shows its neighbour.
  f.ds.Rows.erase(f.ds.Rows.begin() + 4);
  f.ds.Rows[3].Values[0] = TTestDataSet::Int32(40);
  f.ds.Refresh();
  EXPECT_EQ(f.Ring(), "3 4 6*");
  f.ds.Rows.clear();
  f.ds.First();
  EXPECT_TRUE(f.ds.IsEmpty());
}

// ---- editing and events --------------------------------------------------------------------------

TEST(DataSetEditing, InsertEditPostCancelDeleteFireTheirEventsInOrder) {
  std::vector<std::string> log;  // outlives the dataset, which logs its close
  Fixture f(3, 3);
  f.ds.Open();
  f.ds.Next();  // on record 2
  f.ds.Log = &log;

  f.ds.Insert();
  f.ds.FieldByName(u"ID").SetAsInteger(99);
  f.ds.Post();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll",
                                           "BeforePost", "AfterPost"}));
  // The new record stands before the one that was active, and is now the active one.
  EXPECT_EQ(f.ds.FirstInt(1), 99);
  EXPECT_EQ(f.Id(), 99);

  log.clear();
  f.ds.Edit();
  f.ds.FieldByName(u"ID").SetAsInteger(98);
  f.ds.Cancel();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforeCancel", "InternalCancel", "AfterCancel"}));
  EXPECT_EQ(f.Id(), 99);

  log.clear();
  f.ds.Edit();
  f.ds.FieldByName(u"ID").SetAsInteger(97);
  f.ds.Post();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost"}));
  EXPECT_EQ(f.ds.FirstInt(1), 97);

  log.clear();
  f.ds.Delete();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll"}));
  ASSERT_EQ(f.ds.Rows.size(), 3u);
  EXPECT_EQ(f.Id(), 2);  // the record after the deleted one

  log.clear();
  f.ds.Append();
  f.ds.FieldByName(u"ID").SetAsInteger(7);
  f.ds.Post();
  EXPECT_EQ(f.ds.FirstInt(3), 7);
  EXPECT_EQ(f.Id(), 7);
  EXPECT_EQ(f.Ring(), "2 3 5*");

  // Inserting and cancelling leaves the data and the active record as they were.
  log.clear();
  f.ds.Insert();
  f.ds.Cancel();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll",
                                           "BeforeCancel", "InternalCancel", "AfterCancel"}));
  EXPECT_EQ(f.ds.Rows.size(), 4u);
  EXPECT_EQ(f.Id(), 7);
}

TEST(DataSetEditing, InsertIntoAnEmptyDatasetAndCheckBrowseMode) {
  Fixture f(0);
  f.ds.Open();
  f.ds.Insert();
  f.ds.FieldByName(u"ID").SetAsInteger(1);
  // A modified record is posted by the next move, an unmodified one cancelled.
  f.ds.Next();
  EXPECT_EQ(f.ds.Rows.size(), 1u);
  f.ds.Append();
  f.ds.Next();
  EXPECT_EQ(f.ds.Rows.size(), 1u);
  EXPECT_EQ(f.Id(), 1);
}

TEST(DataSetEditing, FailedPostKeepsTheEditAndTheErrorHandlerDecides) {
  Fixture f(2);
  f.ds.Open();
  f.ds.Edit();
  f.ds.FieldByName(u"ID").SetAsInteger(50);
  f.ds.FailPost = true;
  EXPECT_EQ(DbErrorOf([&] { f.ds.Post(); }), "People: Post refused");
  EXPECT_EQ(f.ds.State(), dsEdit);
  EXPECT_EQ(f.Id(), 50);

  int calls = 0;
  f.ds.OnPostError = [&](TDataSet&, EDatabaseError&, TDataAction& aAction) {
    ++calls;
    f.ds.FailPost = false;  // the cause is fixed: try again
    aAction = daRetry;
  };
  f.ds.Post();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(f.ds.FirstInt(0), 50);

  f.ds.Edit();
  f.ds.FailPost = true;
  f.ds.OnPostError = [](TDataSet&, EDatabaseError&, TDataAction& aAction) { aAction = daAbort; };
  EXPECT_THROW(f.ds.Post(), rtl::EAbort);
  EXPECT_EQ(f.ds.State(), dsEdit);
}

TEST(DataSetEditing, RequiredFieldMustHaveAValue) {
  TTestDataSet ds({{u"ID", ftInteger, 0, {faRequired}}, {u"NAME", ftString, 10, {}}});
  ds.Open();
  ds.Append();
  ds.FieldByName(u"NAME").SetAsString(u"n");
  EXPECT_EQ(DbErrorOf([&] { ds.Post(); }), "Field 'ID' must have a value");
  EXPECT_EQ(ds.State(), dsInsert);
  ds.FieldByName(u"ID").SetAsInteger(1);
  ds.Post();
  EXPECT_EQ(ds.Rows.size(), 1u);
}

TEST(DataSetEditing, NewRecordHandlerFailureLeavesBrowseState) {
  Fixture f(2);
  f.ds.Open();
  f.ds.OnNewRecord = [](TDataSet&) { throw EDatabaseError(u"no defaults"); };
  EXPECT_EQ(DbErrorOf([&] { f.ds.Insert(); }), "no defaults");
  EXPECT_EQ(f.ds.State(), dsBrowse);
  EXPECT_EQ(f.Id(), 1);
}

// ---- fetch failures ------------------------------------------------------------------------------

TEST(DataSetFetch, AnUnreadableRecordIsAnErrorNotTheEnd) {
  // The copy loop: "while not Eof: copy; Next". It must stop with an error at the damaged record,
  // not finish quietly as if the data ended there.
  for (bool faultyDescendant : {false, true}) {
    SCOPED_TRACE(faultyDescendant ? "descendant answers grError" : "descendant raises");
    Fixture f(5);
    f.ds.Unreadable.insert(3);
    f.ds.AnswerErrorDespiteCheck = faultyDescendant;
    f.ds.Open();
    std::vector<int32_t> copied;
    std::string error = DbErrorOf([&] {
      while (!f.ds.Eof()) {
        copied.push_back(f.Id());
        f.ds.Next();
      }
    });
    EXPECT_EQ(copied, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(error, faultyDescendant ? "People: The record could not be read" : "People: Record is damaged");
    EXPECT_FALSE(f.ds.Eof());
    EXPECT_EQ(f.Id(), 2);  // the record on show is untouched
  }
}

TEST(DataSetFetch, UnreadableFirstRecordFailsTheOpen) {
  Fixture f(3);
  f.ds.Unreadable.insert(1);
  EXPECT_EQ(DbErrorOf([&] { f.ds.Open(); }), "People: Record is damaged");
  EXPECT_EQ(f.ds.State(), dsInactive);
}

TEST(DataSetFetch, FilterHandlerRunsInTheFilterState) {
  Fixture f(6, 2);
  f.ds.SetOnFilterRecord([&](TDataSet& d, bool& aAccept) {
    EXPECT_EQ(d.State(), dsFilter);
    aAccept = d.FieldByName(u"ID").AsInteger() % 2 == 0;
  });
  f.ds.SetFiltered(true);
  f.ds.Open();
  std::vector<int32_t> seen;
  while (!f.ds.Eof()) {
    seen.push_back(f.Id());
    f.ds.Next();
  }
  EXPECT_EQ(seen, (std::vector<int32_t>{2, 4, 6}));
}

TEST(DataSetFetch, CalculatedFieldsAreComputedPerRecord) {
  TTestDataSet ds(IntAndName());
  auto twice = std::make_unique<TIntegerField>();
  twice->SetFieldName(u"TWICE");
  twice->SetFieldKind(fkCalculated);
  auto id = std::make_unique<TIntegerField>();
  id->SetFieldName(u"ID");
  ds.Fields().Add(std::move(id));
  TField* calc = ds.Fields().Add(std::move(twice));
  ds.OnCalcFields = [](TDataSet& d) {
    EXPECT_EQ(d.State(), dsCalcFields);
    d.FieldByName(u"TWICE").SetAsInteger(d.FieldByName(u"ID").AsInteger() * 2);
  };
  ds.AddIntRows(3);
  ds.Open();
  EXPECT_FALSE(ds.DefaultFields());
  EXPECT_EQ(ds.CalcFieldsSize(), 5);  // flag byte and 4 value bytes
  ds.Next();
  EXPECT_EQ(calc->AsInteger(), 4);
  // A calculated field is refused outside the calculation as a data write.
  EXPECT_EQ(DbErrorOf([&] { calc->SetAsInteger(1); }), "Dataset not in edit or insert mode");
}


TEST(DataSetFields, FieldValuesOfOneOrSeveralFields) {
  Fixture f(3);
  f.ds.Open();
  f.ds.Next();
  EXPECT_EQ(f.ds.FieldValues(u"id").AsInteger(), 2) << "one field: its value itself";
  const Variant both = f.ds.FieldValues(u"ID;NAME");
  ASSERT_TRUE(rtl::VarIsArray(both));
  EXPECT_EQ(rtl::VarArrayLowBound(both, 1), 0);
  EXPECT_EQ(rtl::VarArrayHighBound(both, 1), 1);
  EXPECT_EQ(rtl::VarArrayGet(both, 0).AsInteger(), 2);
  EXPECT_TRUE(rtl::VarArrayGet(both, 1).IsNull()) << "a NULL field is a Null element";
  EXPECT_THROW(f.ds.FieldValues(u"ID;Missing"), EDatabaseError);
}

}  // namespace
}  // namespace zf::db::test
