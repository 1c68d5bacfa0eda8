#include "platform/rtl/rtlDateTime.h"

#include <cmath>

namespace zf::rtl {

namespace {

constexpr int64_t kDateDelta = 693594;  // days from 0001-01-01 to 1899-12-30 (day 1 = 0001-01-01)
constexpr int64_t kMSecsPerDay = 86400000;

// Splits a date-time into whole days and milliseconds of the day, rounding to the millisecond as
// the platform does (a negative value's time part counts from midnight forwards as well).
bool SplitDateTime(TDateTime aValue, int64_t& aDays, int64_t& aMSecs) {
  if (!std::isfinite(aValue) || std::fabs(aValue) > 3.0e6) return false;
  long double ms = std::llround(static_cast<long double>(aValue) * kMSecsPerDay);
  int64_t total = static_cast<int64_t>(ms);
  if (aValue < 0) {
    // Negative values: the integer part is the day, the fraction (taken as positive) the time.
    int64_t days = static_cast<int64_t>(std::trunc(aValue));
    int64_t frac = std::llround(std::fabs(aValue - static_cast<double>(days)) * kMSecsPerDay);
    aDays = days;
    aMSecs = frac;
  } else {
    aDays = total / kMSecsPerDay;
    aMSecs = total % kMSecsPerDay;
  }
  if (aMSecs >= kMSecsPerDay) { aDays += 1; aMSecs -= kMSecsPerDay; }
  return true;
}

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

bool TryDecodeDate(TDateTime aValue, uint16_t& aYear, uint16_t& aMonth, uint16_t& aDay) {
  aYear = aMonth = aDay = 0;
  int64_t days, ms;
  if (!SplitDateTime(aValue, days, ms)) return false;
  int64_t t = days + kDateDelta;  // day 1 = 0001-01-01
  if (t <= 0) return false;
  --t;
  int64_t y = 1;
  int64_t n400 = t / 146097; t %= 146097; y += n400 * 400;
  int64_t n100 = t / 36524; if (n100 == 4) n100 = 3; t -= n100 * 36524; y += n100 * 100;
  int64_t n4 = t / 1461; t %= 1461; y += n4 * 4;
  int64_t n1 = t / 365; if (n1 == 4) n1 = 3; t -= n1 * 365; y += n1;
  if (y > 9999) return false;
  static const int kDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                   {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
  const int* md = kDays[IsLeap(y) ? 1 : 0];
  int m = 0;
  while (t >= md[m]) { t -= md[m]; ++m; }
  aYear = static_cast<uint16_t>(y);
  aMonth = static_cast<uint16_t>(m + 1);
  aDay = static_cast<uint16_t>(t + 1);
  return true;
}

void DecodeTime(TDateTime aValue, uint16_t& aHour, uint16_t& aMin, uint16_t& aSec, uint16_t& aMSec) {
  int64_t days = 0, ms = 0;
  if (!SplitDateTime(aValue, days, ms)) ms = 0;
  aHour = static_cast<uint16_t>(ms / 3600000);
  aMin = static_cast<uint16_t>(ms / 60000 % 60);
  aSec = static_cast<uint16_t>(ms / 1000 % 60);
  aMSec = static_cast<uint16_t>(ms % 1000);
}

int DayOfWeek(TDateTime aValue) {
  int64_t days = 0, ms = 0;
  if (!SplitDateTime(aValue, days, ms)) return 1;
  int64_t t = days + kDateDelta;  // 0001-01-01 was a Monday
  int64_t r = ((t % 7) + 7) % 7;  // t = 1 -> Monday (2)
  return static_cast<int>(r + 1);
}

namespace {

struct Formatter {
  TDateTime Value;
  const TFormatSettings& FS;
  UnicodeString Out;
  int Depth = 0;
  uint16_t Y = 0, Mo = 0, D = 0, H = 0, Mi = 0, S = 0, Ms = 0;
  bool DateOk = false;

  Formatter(TDateTime v, const TFormatSettings& fs) : Value(v), FS(fs) {
    DateOk = TryDecodeDate(v, Y, Mo, D);
    DecodeTime(v, H, Mi, S, Ms);
  }

  void Num(unsigned v, int aDigits) {
    UnicodeString s = UIntToStr(v);
    while (static_cast<int>(s.size()) < aDigits) s.insert(s.begin(), u'0');
    Out += s;
  }

  static bool StartsWithText(UnicodeStringView f, size_t i, UnicodeStringView w) {
    if (f.size() - i < w.size()) return false;
    return CompareText(f.substr(i, w.size()), w) == 0;
  }

  // True when an am/pm marker follows in the rest of the format (outside quotes).
  static bool TwelveHour(UnicodeStringView f, size_t i) {
    char16_t q = 0;
    for (; i < f.size(); ++i) {
      char16_t c = f[i];
      if (q) { if (c == q) q = 0; continue; }
      if (c == u'"' || c == u'\'') { q = c; continue; }
      if (StartsWithText(f, i, u"am/pm") || StartsWithText(f, i, u"a/p") || StartsWithText(f, i, u"ampm"))
        return true;
    }
    return false;
  }

  void Run(UnicodeStringView f) {
    if (++Depth > 3) return;  // nested formats (c, t, ddddd) cannot loop
    char16_t last = 0;        // last date/time letter, to tell minutes from months
    size_t i = 0;
    while (i < f.size()) {
      char16_t c = f[i];
      char16_t u = AsciiUpper(c);
      size_t run = 1;
      while (i + run < f.size() && AsciiUpper(f[i + run]) == u && u >= u'A' && u <= u'Z') ++run;
      switch (u) {
        case u'"':
        case u'\'': {
          size_t j = i + 1;
          while (j < f.size() && f[j] != c) ++j;
          Out.append(f.substr(i + 1, j - i - 1));
          i = j < f.size() ? j + 1 : j;
          continue;
        }
        case u'/': Out += FS.DateSeparator; ++i; continue;
        case u':': Out += FS.TimeSeparator; ++i; continue;
        case u'C':
          Run(FS.ShortDateFormat);
          if (H || Mi || S || Ms) { Out += u' '; Run(FS.LongTimeFormat); }
          i += 1; last = u; continue;
        case u'Y':
          if (DateOk) { if (run <= 2) Num(Y % 100, 2); else Num(Y, 4); }
          i += run; last = u; continue;
        case u'M':
          if (last == u'H') { Num(Mi, run >= 2 ? 2 : 1); i += run > 2 ? 2 : run; last = u'N'; continue; }
          if (DateOk) {
            if (run == 1) Num(Mo, 1);
            else if (run == 2) Num(Mo, 2);
            else if (run == 3) Out += FS.ShortMonthNames[Mo - 1];
            else Out += FS.LongMonthNames[Mo - 1];
          }
          i += run > 4 ? 4 : run; last = u; continue;
        case u'D':
          if (run <= 2) { if (DateOk) Num(D, static_cast<int>(run)); }
          else if (run == 3) Out += FS.ShortDayNames[DayOfWeek(Value) - 1];
          else if (run == 4) Out += FS.LongDayNames[DayOfWeek(Value) - 1];
          else if (run == 5) Run(FS.ShortDateFormat);
          else Run(FS.LongDateFormat);
          i += run > 6 ? 6 : run; last = u; continue;
        case u'H': {
          unsigned h = H;
          if (TwelveHour(f, i + run)) { h = H % 12; if (h == 0) h = 12; }
          Num(h, run >= 2 ? 2 : 1);
          i += run > 2 ? 2 : run; last = u; continue;
        }
        case u'N': Num(Mi, run >= 2 ? 2 : 1); i += run > 2 ? 2 : run; last = u; continue;
        case u'S': Num(S, run >= 2 ? 2 : 1); i += run > 2 ? 2 : run; last = u; continue;
        case u'Z': Num(Ms, run >= 3 ? 3 : 1); i += run >= 3 ? 3 : 1; last = u; continue;
        case u'T':
          Run(run >= 2 ? FS.LongTimeFormat : FS.ShortTimeFormat);
          i += run > 2 ? 2 : run; last = u; continue;
        case u'A':
          if (StartsWithText(f, i, u"am/pm")) {
            UnicodeString s = UnicodeString(f.substr(i + (H >= 12 ? 3 : 0), 2));
            Out += s; i += 5; continue;
          }
          if (StartsWithText(f, i, u"a/p")) { Out += f[i + (H >= 12 ? 2 : 0)]; i += 3; continue; }
          if (StartsWithText(f, i, u"ampm")) { Out += H >= 12 ? FS.TimePMString : FS.TimeAMString; i += 4; continue; }
          Out += c; ++i; continue;
        default: Out += c; ++i; continue;
      }
    }
    --Depth;
  }
};

}  // namespace

UnicodeString FormatDateTime(UnicodeStringView aFormat, TDateTime aValue, const TFormatSettings& aSettings) {
  Formatter f(aValue, aSettings);
  f.Run(aFormat.empty() ? UnicodeStringView(u"c") : aFormat);
  return f.Out;
}

}  // namespace zf::rtl
