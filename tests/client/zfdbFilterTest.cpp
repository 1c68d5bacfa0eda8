// Filter texts on a table component: compiled into the engine's expression filter, they must show
// exactly the records they describe; texts that cannot be compiled raise the dataset's error.
#include <gtest/gtest.h>

#include <string>

#include "platform/rtl/rtlDateTime.h"
#include "tests/client/zfdbTableTestUtil.h"

namespace zf::test {
namespace {

using rtl::Variant;

// Table "Items": one field of every kind a filter compares, six records, the fourth nearly all NULL.
//   ID Name              Code  Price  Active Day        At        Stamp                Big
//   1  Anna              a1    1.5    true   2024-01-10 08:00:00  2024-01-10 08:00:00  5000000000
//   2  ANNA              b2    2.25   false  2024-02-15 12:30:00  2024-02-15 12:30:00  -7
//   3  Andreas           a3    10     true   2024-03-01 18:45:10  2024-03-01 18:45:10  0
//   4  Andrew            NULL  NULL   NULL   NULL       NULL      NULL                 NULL
//   5  salvage-database  c5    99.99  false  2023-12-31 00:00:00  2023-12-31 23:59:59  42
//   6  NULL              x'y   0      true   2024-03-01 12:30:00  2024-03-01 00:00:00  42
class FilterTextTest : public ClientTableTest {
 protected:
  void SetUp() override {
    ClientTableTest::SetUp();
    auto dict = SmallDictionary();
    TzfFieldsDescriptor& f = *dict->tdFieldsDescriptor;
    f.AddField(u"Code", u"", zftNullString, 10, 0, false, nullptr);
    f.AddField(u"Price", u"", zftDouble, 0, 0, false, nullptr);
    f.AddField(u"Active", u"", zftBoolean, 0, 0, false, nullptr);
    f.AddField(u"Day", u"", zftDate, 0, 0, false, nullptr);
    f.AddField(u"At", u"", zftTime, 0, 0, false, nullptr);
    f.AddField(u"Stamp", u"", zftDateTime, 0, 0, false, nullptr);
    f.AddField(u"Big", u"", zftInt64, 0, 0, false, nullptr);
    ASSERT_EQ(Db->AbstractDatabase()->TableBuild(false, u"Items", u"", dict.get(), tsPersistent, false), 0u);
    struct TRow {
      const char16_t* Name;
      const char16_t* Code;
      double Price;
      bool Active;
      int Y, M, D, H, N, S;
      const char16_t* Stamp;
      int64_t Big;
    };
    static const TRow kRows[] = {
        {u"Anna", u"a1", 1.5, true, 2024, 1, 10, 8, 0, 0, u"2024-01-10 08:00:00", 5000000000},
        {u"ANNA", u"b2", 2.25, false, 2024, 2, 15, 12, 30, 0, u"2024-02-15 12:30:00", -7},
        {u"Andreas", u"a3", 10, true, 2024, 3, 1, 18, 45, 10, u"2024-03-01 18:45:10", 0},
        {u"Andrew", nullptr, 0, false, 0, 0, 0, 0, 0, 0, nullptr, 0},
        {u"salvage-database", u"c5", 99.99, false, 2023, 12, 31, 0, 0, 0, u"2023-12-31 23:59:59", 42},
        {nullptr, u"x'y", 0, true, 2024, 3, 1, 12, 30, 0, u"2024-03-01 00:00:00", 42},
    };
    InsertRecords(u"Items", IDsUpTo(6), [](TzfAbstractCursor& c, uint8_t* b, int32_t aID) {
      const TRow& r = kRows[aID - 1];
      if (r.Name) c.SetFieldFromVariant(b, 1, Variant(r.Name));
      if (!r.Code) return;  // the fourth record: only ID and Name
      c.SetFieldFromVariant(b, 2, Variant(r.Code));
      c.SetFieldFromVariant(b, 3, Variant(r.Price));
      c.SetFieldFromVariant(b, 4, Variant(r.Active));
      c.SetFieldFromVariant(b, 5, Variant::FromDate(rtl::EncodeDate(r.Y, r.M, r.D)));
      c.SetFieldFromVariant(b, 6, Variant::FromDate(rtl::EncodeTime(r.H, r.N, r.S, 0)));
      c.SetFieldFromVariant(b, 7, Variant::FromDate(rtl::StrToDateTime(r.Stamp, Iso())));
      c.SetFieldFromVariant(b, 8, Variant(r.Big));
    });
  }

  static const rtl::TFormatSettings& Iso() {
    static const rtl::TFormatSettings s = [] {
      rtl::TFormatSettings f;
      f.DateSeparator = u'-';
      f.ShortDateFormat = u"yyyy/mm/dd";
      return f;
    }();
    return s;
  }

  // The open, filtered table "Items".
  TzfTable* Items() {
    TzfTable* t = Table(u"Items");
    t->SetFiltered(true);
    t->Open();
    return t;
  }
};

struct TFilterCase {
  const char16_t* Text;
  db::TFilterOptions Options;
  std::vector<int32_t> Expected;
};

TEST_F(FilterTextTest, EachOperatorComparisonAndConstantTypeShowsTheRecordsItDescribes) {
  const db::TFilterOptions ci{db::foCaseInsensitive};
  const db::TFilterOptions whole{db::foNoPartialCompare};
  const TFilterCase cases[] = {
      // comparisons on an integer field, the constant on either side, a text read as a number
      {u"ID = 3", {}, {3}},
      {u"ID <> 3", {}, {1, 2, 4, 5, 6}},
      {u"ID != 1", {}, {2, 3, 4, 5, 6}},
      {u"ID > 4", {}, {5, 6}},
      {u"ID < 2", {}, {1}},
      {u"ID >= 5", {}, {5, 6}},
      {u"ID <= 2", {}, {1, 2}},
      {u"3 < ID", {}, {4, 5, 6}},
      {u"ID = '2'", {}, {2}},
      // wide text: case, partial compare, LIKE as a search for the text anywhere
      {u"Name = 'Anna'", {}, {1}},
      {u"Name = 'anna'", ci, {1, 2}},
      {u"Name = 'Andr*'", {}, {3, 4}},
      {u"Name = 'Andr*'", whole, {}},
      {u"Name LIKE 'base'", {}, {5}},
      {u"Name LIKE '%data%'", {}, {5}},
      {u"Name LIKE 'an'", ci, {1, 2, 3, 4}},
      {u"Name NOT LIKE 'An'", {}, {2, 5, 6}},
      // NULL tests; a NULL sorts below every value
      {u"Name IS NULL", {}, {6}},
      {u"Name IS NOT NULL", {}, {1, 2, 3, 4, 5}},
      {u"Name = NULL", {}, {6}},
      {u"Name <> NULL", {}, {1, 2, 3, 4, 5}},
      {u"Price < 1", {}, {4, 6}},
      // 8-bit text with a doubled quote
      {u"Code = 'a1'", {}, {1}},
      {u"Code = 'x''y'", {}, {6}},
      {u"Code = 'A*'", ci, {1, 3}},
      // floats, and a float field against an integer field
      {u"Price > 2", {}, {2, 3, 5}},
      {u"Price = 1.5", {}, {1}},
      {u"Price >= 1E1", {}, {3, 5}},
      {u"Price > ID", {}, {1, 2, 3, 5}},
      // Booleans: a Boolean field alone is a condition
      {u"Active", {}, {1, 3, 6}},
      {u"NOT Active", {}, {2, 4, 5}},
      {u"Active = FALSE", {}, {2, 5}},
      {u"Active = 'true'", {}, {1, 3, 6}},
      {u"TRUE", {}, {1, 2, 3, 4, 5, 6}},
      {u"FALSE", {}, {}},
      // dates, times and time stamps from text constants
      {u"Day = '2024-03-01'", {}, {3, 6}},
      {u"Day > '2024-01-31'", {}, {2, 3, 6}},
      {u"At = '12:30:00'", {}, {2, 6}},
      {u"At >= '18:00'", {}, {3}},
      {u"Stamp >= '2024-03-01'", {}, {3, 6}},
      {u"Stamp = '2023-12-31 23:59:59'", {}, {5}},
      {u"Big > 4000000000", {}, {1}},
      {u"Big = -7", {}, {2}},
      // AND binds tighter than OR; NOT, parentheses, IN, quoted names, keywords in any case
      {u"ID = 1 OR ID = 3 AND Active", {}, {1, 3}},
      {u"(ID = 1 OR ID = 2) AND NOT Active", {}, {2}},
      {u"ID IN (1, 4, 6)", {}, {1, 4, 6}},
      {u"ID not in (1,2,3)", {}, {4, 5, 6}},
      {u"[Name] = 'Anna' AND \"ID\" = 1", {}, {1}},
      {u"name = 'Anna' or NAME = 'Andrew'", {}, {1, 4}},
      {u"(ID) = 2", {}, {2}},
  };
  TzfTable* t = Items();
  for (const TFilterCase& c : cases) {
    SCOPED_TRACE(rtl::u8(c.Text));
    t->SetFilterOptions(c.Options);
    t->SetFilterText(c.Text);
    EXPECT_EQ(IDs(*t), c.Expected);
  }
}

TEST_F(FilterTextTest, TextsThatCannotBeCompiledRaiseTheDatasetsErrorAndKeepTheFormerFilter) {
  struct TBad {
    const char16_t* Text;
    const char16_t* Says;
  };
  const TBad bad[] = {
      {u"ID =", u"unexpected end"},
      {u"ID = 1 ID = 2", u"unexpected 'ID'"},
      {u"(ID = 1", u"missing ')'"},
      {u"ID = 1)", u"unexpected ')'"},
      {u"'open", u"unterminated text"},
      {u"[Name = 'x'", u"unterminated field name"},
      {u"ID = 1 ; ID = 2", u"unexpected ';'"},
      {u"ID = 12abc", u"malformed number"},
      {u"Nope = 1", u"Field 'Nope' not found"},
      {u"ID = 'abc'", u"'abc' is not a valid value for field 'ID'"},
      {u"Day = 'soon'", u"'soon' is not a valid value for field 'Day'"},
      {u"Name = TRUE", u"not a valid value"},
      {u"Price = Name", u"Type mismatch"},
      {u"ID LIKE '1'", u"Type mismatch"},
      {u"ID > NULL", u"Type mismatch"},
      {u"NULL IS NULL", u"Type mismatch"},
      {u"Name", u"a condition is expected"},
      {u"ID = 1 AND 5", u"a condition is expected"},
      {u"ID + 1 = 2", u"arithmetic"},
      {u"ID = -Big", u"arithmetic"},
      {u"UPPER(Name) = 'A'", u"function UPPER"},
      {u"Name LIKE 'a%b'", u"LIKE pattern 'a%b' is not supported"},
  };
  TzfTable* t = Items();
  t->SetFilterText(u"ID > 4");
  for (const TBad& b : bad) {
    SCOPED_TRACE(rtl::u8(b.Text));
    try {
      t->SetFilterText(b.Text);
      ADD_FAILURE() << "no error";
    } catch (const EzfDatabaseError& e) {
      EXPECT_EQ(e.ErrorCode(), zfErrInvalidFilter);
      EXPECT_NE(e.Message().find(b.Says), UnicodeString::npos) << rtl::u8(e.Message());
      EXPECT_NE(e.Message().find(u"tblItems"), UnicodeString::npos) << rtl::u8(e.Message());
    }
    EXPECT_EQ(t->Filter(), u"ID > 4");
    EXPECT_EQ(IDs(*t), (std::vector<int32_t>{5, 6}));
  }
}

TEST_F(FilterTextTest, NestingAndSizeLimitsRaiseTheDatasetsErrorNeverOverflowTheStack) {
  TzfTable* t = Items();
  auto repeat = [](const char16_t* aPart, size_t aCount) {
    UnicodeString s;
    for (size_t i = 0; i < aCount; ++i) s += aPart;
    return s;
  };
  const UnicodeString tooDeep[] = {
      repeat(u"(", 200000) + u"ID = 1",
      repeat(u"NOT ", 200000) + u"Active",
      repeat(u"(", 65) + u"ID = 1" + repeat(u")", 65),
  };
  for (const UnicodeString& text : tooDeep) {
    EXPECT_EQ(ClientErrorCode([&] { t->SetFilterText(text); }), zfErrInvalidFilter);
    EXPECT_TRUE(RaisesText([&] { t->SetFilterText(text); }, u"nests too deeply"));
  }
  // As deep as allowed still filters.
  t->SetFilterText(repeat(u"NOT (", 32) + u"ID = 2" + repeat(u")", 32));
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{2}));

  // A long chain is written balanced: a thousand terms nest ten deep and filter as they say.
  UnicodeString chain = u"ID = 0";
  for (int i = 0; i < 1000; ++i) chain += i == 500 ? u" OR ID = 5" : u" OR ID = 1000";
  t->SetFilterText(chain);
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{5}));
  // One whose blob would pass 64 KB is refused whole.
  const UnicodeString huge = u"ID IN (" + repeat(u"1,", 10000) + u"2)";
  EXPECT_TRUE(RaisesText([&] { t->SetFilterText(huge); }, u"Filter expression is too long"));
  EXPECT_TRUE(RaisesText([&] { t->SetFilterText(u"Name = '" + repeat(u"x", 40000) + u"'"); }, u"too long"));
}

TEST_F(FilterTextTest, TheFilterFollowsFilteredOpenAndEveryChange) {
  TzfTable* t = Table(u"Items");
  // Set while closed: compiled at the open, shown only while Filtered.
  t->SetFilterText(u"Active");
  t->Open();
  EXPECT_EQ(IDs(*t).size(), 6u);
  t->SetFiltered(true);
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{1, 3, 6}));
  t->SetFilterOptions({db::foCaseInsensitive});
  t->SetFilterText(u"Name = 'ANNA'");
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{1, 2}));
  t->SetFilterOptions({});
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{2}));
  t->SetFilterText(u"   ");
  EXPECT_EQ(IDs(*t).size(), 6u);
  t->SetFilterText(u"ID = 4");
  t->SetFiltered(false);
  EXPECT_EQ(IDs(*t).size(), 6u);
  t->SetFiltered(true);
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{4}));
  // FindFirst uses the filter also while not Filtered.
  t->SetFiltered(false);
  EXPECT_TRUE(t->FindFirst());
  EXPECT_EQ(t->FieldByName(u"ID").GetAsInteger(), 4);
  t->Close();

  // A text stored while closed that does not compile fails the open.
  t->SetFilterText(u"ID = ");
  EXPECT_EQ(ClientErrorCode([&] { t->Open(); }), zfErrInvalidFilter);
  EXPECT_FALSE(t->Active());
  t->SetFilterText(u"ID = 6");
  t->SetFiltered(true);
  t->Open();
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{6}));
}

}  // namespace
}  // namespace zf::test
