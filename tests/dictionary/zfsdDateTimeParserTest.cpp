#include <gtest/gtest.h>

#include "dictionary/zfsdDateTimeParser.h"
#include "zfsdTestUtil.h"

using namespace zf;
using rtl::EncodeDate;
using rtl::EncodeTime;
using rtl::u8;

TEST(DateTimeLiterals, Checks) {
  enum Kind { D, T, DT };
  struct Case { Kind kind; const char16_t* text; bool ok; };
  const Case cases[] = {
      {D, u"2012-02-29", true},     {D, u"2011-02-29", false},   {D, u"'2012-02-29'", true},
      {D, u"'2012-02-29", false},   {D, u"2012/02/29", false},   {D, u"2012-02-29 ", false},
      {D, u"20a1-02-28", true},     // the letter is skipped: year 201
      {D, u"0000-01-01", false},    {D, u"", false},             {D, u"'", false},
      {D, u"''", false},
      {T, u"23:59:59", true},       {T, u"23:59:59.999", true},  {T, u"23:59:59,999", true},
      {T, u"24:00:00", false},      {T, u"23:60:00", false},     {T, u"23-59-59", false},
      {T, u"12:00", false},
      {DT, u"2012-02-29 12:00:00", true}, {DT, u"2012-02-29 12:00:00.500", true},
      {DT, u"2012-02-29T12:00:00", false}, {DT, u"2011-02-29 12:00:00", false},
      {DT, u"'2012-02-29 12:00:00'", true},
  };
  for (const auto& c : cases) {
    bool r = c.kind == D ? zfIsDateLiteral(c.text) : c.kind == T ? zfIsTimeLiteral(c.text) : zfIsDateTimeLiteral(c.text);
    EXPECT_EQ(r, c.ok) << u8(c.text);
  }
}

TEST(DateTimeLiterals, Values) {
  EXPECT_EQ(zfDateLiteralToDate(u"2012-02-29"), EncodeDate(2012, 2, 29));
  EXPECT_EQ(zfDateLiteralToDate(u"20a1-02-28"), EncodeDate(201, 2, 28));
  EXPECT_EQ(zfTimeLiteralToTime(u"23:59:59.999"), EncodeTime(23, 59, 59, 999));
  EXPECT_EQ(zfTimeLiteralToTime(u"23:59:59,999"), EncodeTime(23, 59, 59, 0));
  EXPECT_EQ(zfDateTimeLiteralToDateTime(u"2012-02-29 12:00:00"), EncodeDate(2012, 2, 29) + 0.5);
  EXPECT_EQ(zfDateTimeLiteralToDateTime(u"1899-12-29 06:00:00"), -1.25);  // the time counts forward
  EXPECT_EQ(zfReadLiteralNumber(u"1 2", 1, 3), 12u);
  EXPECT_EQ(zfReadLiteralNumber(u"12", 1, 10), 12u);  // never past the text
}

TEST(DateTimeLiterals, VariantEntryPointsRaisePlainExceptions) {
  EXPECT_EQ(zfVariantToDate(rtl::Variant(u"'2012-02-29'")), EncodeDate(2012, 2, 29));
  EXPECT_EQ(zfVariantToTime(rtl::Variant(rtl::AnsiString("10:00:00"))), EncodeTime(10, 0, 0, 0));
  EXPECT_EQ(test::Outcome([] { zfVariantToDate(rtl::Variant(u"2011-02-29")); }),
            u"!Exception: Invalid date format 2011-02-29");
  EXPECT_EQ(test::Outcome([] { zfVariantToTime(rtl::Variant(u"24:00:00")); }),
            u"!Exception: Invalid time format 24:00:00");
  EXPECT_EQ(test::Outcome([] { zfVariantToDateTime(rtl::Variant(u"2012-02-29")); }),
            u"!Exception: Invalid date/time format 2012-02-29");
}
