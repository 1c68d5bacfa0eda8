// Field classes on the in-memory test dataset: native forms, conversions, NULL, ranges, Assign
// between every kind, read-only and hidden fields.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/rtl/rtlDateTime.h"
#include "platform/rtl/rtlGuid.h"
#include "tests/platform_db/dbTestDataSet.h"

namespace zf::db::test {
namespace {

std::vector<TColumn> AllKinds() {
  return {{u"B", ftBoolean},  {u"S", ftString, 8},   {u"FC", ftFixedChar, 5}, {u"W", ftWideString, 6},
          {u"I8", ftShortint}, {u"U8", ftByte},       {u"I16", ftSmallint},    {u"U16", ftWord},
          {u"I32", ftInteger}, {u"U32", ftLongWord},  {u"I64", ftLargeint},    {u"AI", ftAutoInc},
          {u"F", ftFloat},     {u"X", ftExtended},    {u"C", ftCurrency},      {u"D", ftDate},
          {u"T", ftTime},      {u"DT", ftDateTime},   {u"BL", ftBlob},         {u"M", ftMemo},
          {u"G", ftGraphic},   {u"WM", ftWideMemo},   {u"BY", ftBytes, 4},     {u"GU", ftGuid, 38},
          {u"BCD", ftBCD, 2},  {u"FB", ftFMTBcd, 4}};
}

const rtl::TDateTime kDay = rtl::EncodeDate(2024, 2, 29);
const rtl::TDateTime kTime = rtl::EncodeTime(13, 45, 30, 250);

// One record with a value in every field, written through the fields.
void FillAll(TTestDataSet& ds) {
  ds.Append();
  auto f = [&](const char16_t* n) -> TField& { return ds.FieldByName(n); };
  f(u"B").SetAsBoolean(true);
  f(u"S").SetAsString(u"abc");
  f(u"FC").SetAsString(u"xy");
  f(u"W").SetAsString(u"\u03a9mega");
  f(u"I8").SetAsInteger(-5);
  f(u"U8").SetAsInteger(200);
  f(u"I16").SetAsInteger(-300);
  f(u"U16").SetAsInteger(60000);
  f(u"I32").SetAsInteger(-70000);
  f(u"U32").SetAsLargeInt(4000000000LL);
  f(u"I64").SetAsLargeInt(-5000000000000LL);
  f(u"AI").SetAsInteger(42);
  f(u"F").SetAsFloat(1.5);
  f(u"X").SetAsExtended(1.0L / 3.0L);
  f(u"C").SetAsCurrency(rtl::Currency::FromScaled(123456));
  f(u"D").SetAsDateTime(kDay);
  f(u"T").SetAsDateTime(kTime);
  f(u"DT").SetAsDateTime(kDay + kTime);
  f(u"BL").SetAsBytes({0, 1, 2, 255});
  f(u"M").SetAsString(u"memo text");
  f(u"G").SetAsBytes({9, 8, 7});
  f(u"WM").SetAsString(u"wide \u2603");
  f(u"BY").SetAsBytes({1, 2, 3, 4});
  f(u"GU").SetAsString(u"{01234567-89AB-CDEF-0123-456789ABCDEF}");
  f(u"BCD").SetAsCurrency(rtl::Currency::FromScaled(1234500));
  f(u"FB").SetAsString(u"-98765.4321");
  ds.Post();
}

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> b) { return b; }

TEST(Fields, DefaultClassesNativeFormsAndTexts) {
  TTestDataSet ds(AllKinds());
  ds.Open();
  FillAll(ds);
  struct Case {
    const char16_t* Name;
    const char16_t* Class;
    const char* Text;
  };
  const std::vector<Case> cases = {
      {u"B", u"TBooleanField", "True"},        {u"S", u"TStringField", "abc"},
      {u"FC", u"TStringField", "xy"},          {u"W", u"TWideStringField", "\u03a9mega"},
      {u"I8", u"TShortintField", "-5"},        {u"U8", u"TByteField", "200"},
      {u"I16", u"TSmallintField", "-300"},     {u"U16", u"TWordField", "60000"},
      {u"I32", u"TIntegerField", "-70000"},    {u"U32", u"TLongWordField", "4000000000"},
      {u"I64", u"TLargeintField", "-5000000000000"}, {u"AI", u"TAutoIncField", "42"},
      {u"F", u"TFloatField", "1.5"},           {u"X", u"TExtendedField", "0.333333333333333"},
      {u"C", u"TCurrencyField", "12.3456"},    {u"BL", u"TBlobField", ""},
      {u"M", u"TMemoField", "memo text"},      {u"G", u"TGraphicField", ""},
      {u"WM", u"TWideMemoField", "wide \u2603"}, {u"BY", u"TBytesField", ""},
      {u"GU", u"TGuidField", "{01234567-89AB-CDEF-0123-456789ABCDEF}"},
      {u"BCD", u"TBCDField", "123.45"},        {u"FB", u"TFMTBCDField", "-98765.4321"},
      {u"D", u"TDateField", ""},               {u"T", u"TTimeField", ""},
      {u"DT", u"TDateTimeField", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(rtl::u8(c.Name));
    TField& f = ds.FieldByName(c.Name);
    EXPECT_EQ(rtl::u8(f.ClassName()), rtl::u8(c.Class));
    EXPECT_FALSE(f.IsNull());
    if (*c.Text) {
      EXPECT_EQ(rtl::u8(f.AsString()), c.Text);
    }
  }
  // The native forms the descendant stores.
  const TTestRecord& r = ds.Rows[0];
  auto at = [&](const char16_t* n) { return *r.Values[static_cast<size_t>(ds.FieldByName(n).FieldNo() - 1)]; };
  EXPECT_EQ(at(u"B"), Bytes({0xFF, 0xFF}));
  EXPECT_EQ(at(u"S"), Bytes({'a', 'b', 'c', 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(at(u"I16"), Bytes({0xD4, 0xFE}));
  EXPECT_EQ(at(u"D"), Bytes({0x81, 0x46, 0x0B, 0x00}));  // day 738945, counted from 0001-01-01
  EXPECT_EQ(at(u"T"), Bytes({0x8A, 0xC5, 0xF3, 0x02}));  // 49530250 ms since midnight
  EXPECT_EQ(at(u"BY"), Bytes({1, 2, 3, 4}));
  double c;
  std::memcpy(&c, at(u"C").data(), 8);
  EXPECT_EQ(c, 12.3456);
  double ms;
  std::memcpy(&ms, at(u"DT").data(), 8);
  EXPECT_EQ(ms, 738945.0 * 86400000.0 + 49530250.0);
  EXPECT_EQ(ds.FieldByName(u"DT").AsVariant().AsDate(), kDay + kTime);
  EXPECT_EQ(ds.FieldByName(u"BL").GetAsBytes(), Bytes({0, 1, 2, 255}));
  EXPECT_EQ(ds.FieldByName(u"WM").AsVariant().VarType(), rtl::varUString);
  EXPECT_EQ(ds.FieldByName(u"BCD").AsVariant().AsCurrency(), rtl::Currency::FromScaled(1234500));
}

TEST(Fields, NullReadsAsEmptyAndRangesAreChecked) {
  TTestDataSet ds(AllKinds());
  ds.Open();
  ds.Append();
  for (int32_t i = 0; i < ds.FieldCount(); ++i) {
    TField& f = ds.Fields()[i];
    SCOPED_TRACE(rtl::u8(f.FieldName()));
    EXPECT_TRUE(f.IsNull());
    EXPECT_EQ(f.AsString(), u"");
    EXPECT_TRUE(f.AsVariant().IsNull());
    if (!f.IsBlob()) {
      EXPECT_EQ(f.AsInteger(), 0);
    }
  }
  struct Refusal {
    std::function<void()> Write;
    const char* Error;
  };
  const std::vector<Refusal> refusals = {
      {[&] { ds.FieldByName(u"I16").SetAsInteger(70000); },
       "70000 is not a valid value for field 'I16'. The allowed range is -32768 to 32767"},
      {[&] { ds.FieldByName(u"U8").SetAsInteger(-1); }, "-1 is not a valid value for field 'U8'. The allowed range is 0 to 255"},
      {[&] { ds.FieldByName(u"U32").SetAsLargeInt(-1); },
       "-1 is not a valid value for field 'U32'. The allowed range is 0 to 4294967295"},
      {[&] { ds.FieldByName(u"I32").SetAsString(u"12x"); }, "Invalid value for field 'I32'"},
      {[&] { ds.FieldByName(u"BY").SetAsBytes({1, 2, 3, 4, 5}); }, "Invalid value for field 'BY'"},
      {[&] { ds.FieldByName(u"B").SetAsString(u"maybe"); }, "Invalid value for field 'B'"},
      {[&] { ds.FieldByName(u"I32").SetAsBytes({1}); }, "Invalid value for field 'I32'"},
  };
  for (const Refusal& r : refusals) EXPECT_EQ(DbErrorOf(r.Write), r.Error);
  // Text longer than the field is cut to its size; empty text clears a number.
  ds.FieldByName(u"S").SetAsString(u"abcdefghijk");
  EXPECT_EQ(ds.FieldByName(u"S").AsString(), u"abcdefgh");
  ds.FieldByName(u"W").SetAsString(u"1234567890");
  EXPECT_EQ(ds.FieldByName(u"W").AsString(), u"123456");
  ds.FieldByName(u"I32").SetAsString(u"17");
  EXPECT_EQ(ds.FieldByName(u"I32").AsInteger(), 17);
  ds.FieldByName(u"I32").SetAsString(u"");
  EXPECT_TRUE(ds.FieldByName(u"I32").IsNull());
  ds.FieldByName(u"F").SetValue(Variant::Null());
  EXPECT_TRUE(ds.FieldByName(u"F").IsNull());
}

TEST(Fields, AssignCopiesEveryKindExactlyAndNullClears) {
  TTestDataSet source(AllKinds());
  TTestDataSet target(AllKinds());
  source.Open();
  target.Open();
  FillAll(source);
  source.AddRow({});  // a record of NULLs
  source.First();

  // Field by field by position, as the tool's copy-back does.
  target.Append();
  for (int32_t k = 0; k < source.FieldCount(); ++k) target.Fields()[k].Assign(&source.Fields()[k]);
  target.Post();
  ASSERT_EQ(target.Rows.size(), 1u);
  EXPECT_EQ(target.Rows[0].Values, source.Rows[0].Values);

  // A NULL source clears the target's value, as does no source at all.
  source.Next();
  target.Edit();
  for (int32_t k = 0; k < source.FieldCount(); ++k) target.Fields()[k].Assign(&source.Fields()[k]);
  target.Post();
  for (const Value& v : target.Rows[0].Values) EXPECT_FALSE(v.has_value());
  target.Edit();
  target.FieldByName(u"I32").SetAsInteger(1);
  target.FieldByName(u"I32").Assign(nullptr);
  EXPECT_TRUE(target.FieldByName(u"I32").IsNull());
  target.Cancel();
}

TEST(Fields, AssignBetweenKindsGoesThroughTheValue) {
  TTestDataSet ds({{u"S", ftString, 10},
                   {u"I", ftInteger},
                   {u"M", ftMemo},
                   {u"WM", ftWideMemo},
                   {u"SS", ftString, 3},
                   {u"BL", ftBlob}});
  ds.Open();
  ds.Append();
  TField& s = ds.FieldByName(u"S");
  TField& i = ds.FieldByName(u"I");
  s.SetAsString(u"123");
  i.Assign(&s);
  EXPECT_EQ(i.AsInteger(), 123);
  i.SetAsInteger(-4);
  s.Assign(&i);
  EXPECT_EQ(s.AsString(), u"-4");
  ds.FieldByName(u"M").SetAsString(u"caf\u00e9");
  ds.FieldByName(u"WM").Assign(&ds.FieldByName(u"M"));
  EXPECT_EQ(ds.FieldByName(u"WM").AsString(), u"caf\u00e9");
  // Text of another size is copied by value and cut to the target's size.
  s.SetAsString(u"abcdef");
  ds.FieldByName(u"SS").Assign(&s);
  EXPECT_EQ(ds.FieldByName(u"SS").AsString(), u"abc");
  s.SetAsString(u"x1");
  EXPECT_EQ(DbErrorOf([&] { i.Assign(&s); }), "Invalid value for field 'I'");
  // Memo text into a binary BLOB keeps its bytes.
  ds.FieldByName(u"BL").Assign(&ds.FieldByName(u"M"));
  EXPECT_EQ(ds.FieldByName(u"BL").GetAsBytes(), Bytes({'c', 'a', 'f', 0xE9}));
}

TEST(Fields, BlobCopyThatReadsShortIsAnErrorNotATruncation) {
  TTestDataSet source({{u"BL", ftBlob}});
  TTestDataSet target({{u"BL", ftBlob}});
  source.AddRow({std::vector<uint8_t>(100, 7)});
  source.Open();
  target.Open();
  source.BlobShortBy = 10;
  target.Append();
  EXPECT_THROW(target.FieldByName(u"BL").Assign(&source.FieldByName(u"BL")), rtl::EReadError);
  EXPECT_THROW(source.FieldByName(u"BL").GetAsBytes(), rtl::EReadError);
  target.Cancel();
  EXPECT_TRUE(target.Rows.empty());
}

TEST(Fields, ReadOnlyFieldsAreRefusedAndHiddenOnesHaveNoField) {
  TTestDataSet ds({{u"ID", ftInteger, 0, {faReadonly}}, {u"SECRET", ftInteger, 0, {faHiddenCol}}, {u"N", ftInteger}});
  ds.SetName(u"T");
  ds.AddRow({TTestDataSet::Int32(1)});
  ds.Open();
  EXPECT_EQ(ds.FieldCount(), 2);
  EXPECT_EQ(ds.FindField(u"SECRET"), nullptr);
  TField& id = ds.FieldByName(u"ID");
  EXPECT_TRUE(id.ReadOnly());
  EXPECT_EQ(ds.FieldByName(u"N").FieldNo(), 3);
  ds.Edit();
  EXPECT_EQ(DbErrorOf([&] { id.SetAsInteger(2); }), "T: Field 'ID' cannot be modified");
  TTestDataSet other({{u"ID", ftInteger}});
  other.AddRow({TTestDataSet::Int32(5)});
  other.Open();
  EXPECT_EQ(DbErrorOf([&] { id.Assign(&other.FieldByName(u"ID")); }), "T: Field 'ID' cannot be modified");
  EXPECT_EQ(id.AsInteger(), 1);
  ds.Cancel();
  // Writing outside an edit is refused as well.
  EXPECT_EQ(DbErrorOf([&] { ds.FieldByName(u"N").SetAsInteger(1); }), "T: Dataset not in edit or insert mode");
}

TEST(Fields, TextWithoutTerminatorIsBoundedByTheFieldSize) {
  // A descendant's buffer whose text fills the field without a terminator reads as Size
  // characters, never past the field.
  TTestDataSet ds({{u"S", ftString, 4}, {u"W", ftWideString, 2}});
  ds.AddRow({std::vector<uint8_t>{'a', 'b', 'c', 'd', 'e'}, std::vector<uint8_t>{'x', 0, 'y', 0, 'z', 0}});
  ds.Open();
  EXPECT_EQ(ds.FieldByName(u"S").AsString(), u"abcd");
  EXPECT_EQ(ds.FieldByName(u"W").AsString(), u"xy");
}

TEST(Fields, ValidationSeesTheNewValueAndCanRefuseIt) {
  TTestDataSet ds({{u"N", ftInteger}});
  ds.AddRow({TTestDataSet::Int32(1)});
  ds.Open();
  TField& n = ds.FieldByName(u"N");
  std::vector<int32_t> seen;
  n.OnValidate = [&](TField& f) {
    seen.push_back(f.AsInteger());
    if (f.AsInteger() < 0) throw EDatabaseError(u"negative");
  };
  ds.Edit();
  n.SetAsInteger(5);
  EXPECT_EQ(DbErrorOf([&] { n.SetAsInteger(-1); }), "negative");
  EXPECT_EQ(seen, (std::vector<int32_t>{5, -1}));
  EXPECT_EQ(n.AsInteger(), 5);
}

}  // namespace
}  // namespace zf::db::test
