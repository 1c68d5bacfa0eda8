#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/rtl/rtlDateTime.h"
#include "platform/rtl/rtlException.h"

using namespace zf::rtl;

TEST(DateTime, EncodeDecodeCalendar) {
  struct Case { int y, m, d; double value; };
  const Case cases[] = {
      {1899, 12, 30, 0}, {1899, 12, 29, -1}, {1900, 1, 1, 2}, {2000, 1, 1, 36526}, {2000, 2, 29, 36585},
      {1, 1, 1, -693593}, {9999, 12, 31, 2958465}, {1600, 3, 1, -109511}, {2026, 12, 10, 46366},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.y * 10000 + c.m * 100 + c.d);
    EXPECT_EQ(EncodeDate(c.y, c.m, c.d), c.value);
    uint16_t y, m, d;
    DecodeDate(c.value, y, m, d);
    EXPECT_EQ(y, c.y);
    EXPECT_EQ(m, c.m);
    EXPECT_EQ(d, c.d);
  }
  TDateTime t;
  EXPECT_TRUE(TryEncodeDate(2012, 2, 29, t));
  EXPECT_FALSE(TryEncodeDate(2011, 2, 29, t));
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, t));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, t));
  EXPECT_FALSE(TryEncodeDate(10000, 1, 1, t));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, t));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, t));
  try {
    EncodeDate(2011, 2, 29);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"Invalid argument to date encode");
  }
  try {
    EncodeTime(0, 60, 0, 0);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"Invalid argument to time encode");
  }
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 10)), 5);  // a Thursday
  EXPECT_EQ(DayOfWeek(0), 7);                          // 1899-12-30 was a Saturday
}

TEST(DateTime, TimeStampsIncludingDaysBefore1899) {
  // The fraction counts forward from midnight also for negative values.
  TDateTime v = CombineDateTime(EncodeDate(1899, 12, 29), EncodeTime(6, 0, 0, 0));
  EXPECT_DOUBLE_EQ(v, -1.25);
  TTimeStamp s = DateTimeToTimeStamp(v);
  EXPECT_EQ(s.Date, DateDelta - 1);
  EXPECT_EQ(s.Time, 6 * 3600000);
  EXPECT_DOUBLE_EQ(TimeStampToDateTime(s), -1.25);
  EXPECT_EQ(TimeStampToMSecs(TTimeStamp{1000, 1}), int64_t{MSecsPerDay} + 1000);
  TTimeStamp m = MSecsToTimeStamp(int64_t{MSecsPerDay} * 5 + 7);
  EXPECT_EQ(m.Date, 5);
  EXPECT_EQ(m.Time, 7);
  // Rounds to whole milliseconds: what EncodeTime made comes back exactly, and a value just short
  // of midnight is the next day.
  EXPECT_EQ(DateTimeToTimeStamp(EncodeTime(1, 2, 3, 4)).Time, 3723004);
  TTimeStamp next = DateTimeToTimeStamp(1 - 1e-12);
  EXPECT_EQ(next.Date, DateDelta + 1);
  EXPECT_EQ(next.Time, 0);
  try {
    TimeStampToDateTime(TTimeStamp{5, 0});
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"'5.0' is not a valid timestamp");
  }
}

TEST(DateTime, NonFiniteValuesAreRefusedNotConverted) {
  TTimeStamp s;
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 1e300}) {
    EXPECT_FALSE(TryDateTimeToTimeStamp(bad, s));
    EXPECT_THROW(DateTimeToTimeStamp(bad), EInvalidOp);
  }
}

TEST(DateTime, FormatDateTimePatterns) {
  TFormatSettings fs;  // the default (US) settings
  TDateTime v = CombineDateTime(EncodeDate(2026, 12, 10), EncodeTime(13, 5, 7, 89));
  TDateTime midnight = EncodeDate(2026, 3, 4);
  TDateTime morning = CombineDateTime(EncodeDate(2026, 3, 4), EncodeTime(0, 9, 0, 0));
  struct Case { const char16_t* fmt; TDateTime value; const char16_t* expected; };
  const Case cases[] = {
      {u"yyyy-mm-dd hh:nn:ss.zzz", v, u"2026-12-10 13:05:07.089"},
      {u"yyyy_mm_dd_hh_nn_ss", v, u"2026_12_10_13_05_07"},
      {u"c", v, u"12/10/2026 1:05:07 PM"},
      {u"c", midnight, u"3/4/2026"},
      {u"", midnight, u"3/4/2026"},
      {u"ddd d mmm yy", v, u"Thu 10 Dec 26"},
      {u"dddd, mmmm d", v, u"Thursday, December 10"},
      {u"ddddd", v, u"12/10/2026"},
      {u"h:mm am/pm", v, u"1:05 pm"},
      {u"h:mm AM/PM", morning, u"12:09 AM"},
      {u"hh:mm a/p", morning, u"12:09 a"},
      {u"h ampm", v, u"1 PM"},
      {u"hh:mm", v, u"13:05"},
      {u"m/d", v, u"12/10"},
      {u"'yyyy' yyyy \"hh\"", v, u"yyyy 2026 hh"},
      {u"t|tt", v, u"1:05 PM|1:05:07 PM"},
      {u"z zzz", v, u"89 089"},
      {u"yyyy-mm-dd", EncodeDate(1, 1, 1), u"0001-01-01"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatDateTime(c.fmt, c.value, fs), c.expected) << u8(c.fmt);

  TFormatSettings de;
  de.DateSeparator = u'.';
  de.ShortDateFormat = u"dd/mm/yyyy";
  de.LongTimeFormat = u"hh:nn:ss";
  EXPECT_EQ(DateTimeToStr(v, de), u"10.12.2026 13:05:07");
  EXPECT_EQ(DateToStr(v, de), u"10.12.2026");
  EXPECT_EQ(TimeToStr(v, de), u"13:05:07");
}

TEST(DateTime, ParsingFollowsTheSettings) {
  TFormatSettings us;
  TFormatSettings de;
  de.DateSeparator = u'.';
  de.ShortDateFormat = u"dd/mm/yyyy";
  TFormatSettings iso;
  iso.DateSeparator = u'-';
  iso.ShortDateFormat = u"yyyy-mm-dd";
  struct Case { const char16_t* text; const TFormatSettings* fs; TDateTime expected; };
  const Case cases[] = {
      {u"12/10/2026 1:05:07 PM", &us, CombineDateTime(EncodeDate(2026, 12, 10), EncodeTime(13, 5, 7, 0))},
      {u"12/10/2026", &us, EncodeDate(2026, 12, 10)},
      {u"10.12.2026 13:05", &de, CombineDateTime(EncodeDate(2026, 12, 10), EncodeTime(13, 5, 0, 0))},
      {u"2026-12-10 00:00:01.5", &iso, CombineDateTime(EncodeDate(2026, 12, 10), EncodeTime(0, 0, 1, 5))},
      {u" 1/2/30", &us, EncodeDate(2030, 1, 2)},   // two-digit year inside the century window
      {u"1/2/80", &us, EncodeDate(1980, 1, 2)},
      {u"13:05", &us, EncodeTime(13, 5, 0, 0)},
      {u"12:00 AM", &us, 0},
  };
  for (const auto& c : cases) {
    TDateTime r = -99;
    EXPECT_TRUE(TryStrToDateTime(c.text, r, *c.fs)) << u8(c.text);
    EXPECT_DOUBLE_EQ(r, c.expected) << u8(c.text);
  }
  for (const char16_t* bad : {u"2/30/2026", u"12/10/2026 25:00", u"abc", u"", u"12/10/2026 x", u"13:00 PM"}) {
    TDateTime r;
    EXPECT_FALSE(TryStrToDateTime(bad, r, us)) << u8(bad);
  }
  try {
    StrToDateTime(u"2/30/2026", us);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"'2/30/2026' is not a valid date and time");
  }
  EXPECT_THROW(StrToDate(u"13:00", us), EConvertError);
  EXPECT_THROW(StrToTime(u"12/10/2026", us), EConvertError);
}

TEST(DateTime, NowIsToday) {
  TDateTime n = Now();
  EXPECT_GE(n, Date());
  EXPECT_LT(n, Date() + 1);
}
