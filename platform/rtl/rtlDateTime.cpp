#include "platform/rtl/rtlDateTime.h"

#include <cmath>
#include <ctime>

#include "platform/rtl/rtlException.h"

namespace zf::rtl {

namespace {

constexpr int kDaysBeforeMonth[2][13] = {{0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
                                         {0, 0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335}};

[[noreturn]] void RaiseInvalidOp() { throw EInvalidOp(u"Invalid floating point operation"); }

// Day number (1 = 0001-01-01) to its date; false for a day below 1.
bool DayToDate(int32_t aDay, int& y, int& m, int& d) {
  if (aDay <= 0) { y = m = d = 0; return false; }
  int32_t t = aDay - 1;
  y = 1;
  y += (t / 146097) * 400;
  t %= 146097;
  int32_t i = t / 36524, r = t % 36524;
  if (i == 4) { i = 3; r += 36524; }
  y += i * 100;
  y += (r / 1461) * 4;
  r %= 1461;
  i = r / 365;
  r %= 365;
  if (i == 4) { i = 3; r += 365; }
  y += i;
  m = 1;
  for (;;) {
    int len = DaysInAMonth(y, m);
    if (r < len) break;
    r -= len;
    ++m;
  }
  d = static_cast<int>(r) + 1;
  return true;
}

}  // namespace

bool IsLeapYear(int aYear) { return aYear % 4 == 0 && (aYear % 100 != 0 || aYear % 400 == 0); }

int DaysInAMonth(int aYear, int aMonth) {
  static constexpr int kLen[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (aMonth < 1 || aMonth > 12) return 0;
  return kLen[aMonth - 1] + (aMonth == 2 && IsLeapYear(aYear) ? 1 : 0);
}

bool TryEncodeDate(int aYear, int aMonth, int aDay, TDateTime& aDate) {
  if (aYear < 1 || aYear > 9999 || aMonth < 1 || aMonth > 12 || aDay < 1 || aDay > DaysInAMonth(aYear, aMonth))
    return false;
  int i = aYear - 1;
  int32_t day = i * 365 + i / 4 - i / 100 + i / 400 + kDaysBeforeMonth[IsLeapYear(aYear) ? 1 : 0][aMonth] + aDay;
  aDate = static_cast<double>(day - DateDelta);
  return true;
}

TDateTime EncodeDate(int aYear, int aMonth, int aDay) {
  TDateTime r;
  if (!TryEncodeDate(aYear, aMonth, aDay, r)) throw EConvertError(u"Invalid argument to date encode");
  return r;
}

bool TryEncodeTime(int aHour, int aMin, int aSec, int aMSec, TDateTime& aTime) {
  if (aHour < 0 || aHour > 23 || aMin < 0 || aMin > 59 || aSec < 0 || aSec > 59 || aMSec < 0 || aMSec > 999)
    return false;
  aTime = static_cast<double>(((aHour * 60 + aMin) * 60 + aSec) * 1000 + aMSec) / MSecsPerDay;
  return true;
}

TDateTime EncodeTime(int aHour, int aMin, int aSec, int aMSec) {
  TDateTime r;
  if (!TryEncodeTime(aHour, aMin, aSec, aMSec, r)) throw EConvertError(u"Invalid argument to time encode");
  return r;
}

TDateTime CombineDateTime(TDateTime aDate, TDateTime aTime) {
  return aDate >= 0 ? aDate + aTime : aDate - aTime;
}

bool TryDateTimeToTimeStamp(TDateTime aValue, TTimeStamp& aStamp) {
  if (!std::isfinite(aValue)) return false;
  // The day range of a 32-bit day number; the platform's own range is far smaller.
  if (std::fabs(aValue) > 2.0e9 / 1.0) return false;
  long double ms = std::nearbyintl(static_cast<long double>(aValue) * MSecsPerDay);
  int64_t t = static_cast<int64_t>(ms);
  int64_t day = t / MSecsPerDay;  // truncates towards zero
  int64_t date = DateDelta + day;
  if (date < INT32_MIN || date > INT32_MAX) return false;
  aStamp.Date = static_cast<int32_t>(date);
  aStamp.Time = static_cast<int32_t>((t < 0 ? -t : t) % MSecsPerDay);
  return true;
}

TTimeStamp DateTimeToTimeStamp(TDateTime aValue) {
  TTimeStamp s;
  if (!TryDateTimeToTimeStamp(aValue, s)) RaiseInvalidOp();
  return s;
}

bool IsValidTimeStamp(const TTimeStamp& aStamp) {
  return aStamp.Date > 0 && aStamp.Time >= 0 && aStamp.Time < MSecsPerDay;
}

namespace {
void ValidateTimeStamp(const TTimeStamp& s) {
  if (!IsValidTimeStamp(s))
    throw EConvertError(Format(u"'%d.%d' is not a valid timestamp", {s.Time, s.Date}));
}
}  // namespace

TDateTime TimeStampToDateTime(const TTimeStamp& aStamp) {
  ValidateTimeStamp(aStamp);
  double days = static_cast<double>(aStamp.Date - DateDelta);
  return CombineDateTime(days, static_cast<double>(aStamp.Time) / MSecsPerDay);
}

int64_t TimeStampToMSecs(const TTimeStamp& aStamp) {
  ValidateTimeStamp(aStamp);
  return static_cast<int64_t>(aStamp.Date) * MSecsPerDay + aStamp.Time;
}

TTimeStamp MSecsToTimeStamp(int64_t aMSecs) {
  TTimeStamp s;
  int64_t d = aMSecs / MSecsPerDay;
  if (d < INT32_MIN || d > INT32_MAX) RaiseInvalidOp();
  s.Date = static_cast<int32_t>(d);
  s.Time = static_cast<int32_t>(aMSecs % MSecsPerDay);
  return s;
}

bool TryDecodeDate(TDateTime aValue, uint16_t& aYear, uint16_t& aMonth, uint16_t& aDay) {
  TTimeStamp s;
  int y = 0, m = 0, d = 0;
  bool ok = TryDateTimeToTimeStamp(aValue, s) && DayToDate(s.Date, y, m, d) && y <= 9999;
  if (!ok) y = m = d = 0;
  aYear = static_cast<uint16_t>(y);
  aMonth = static_cast<uint16_t>(m);
  aDay = static_cast<uint16_t>(d);
  return ok;
}

void DecodeDate(TDateTime aValue, uint16_t& aYear, uint16_t& aMonth, uint16_t& aDay) {
  TryDecodeDate(aValue, aYear, aMonth, aDay);
}

void DecodeTime(TDateTime aValue, uint16_t& aHour, uint16_t& aMin, uint16_t& aSec, uint16_t& aMSec) {
  TTimeStamp s;
  int32_t t = TryDateTimeToTimeStamp(aValue, s) ? s.Time : 0;
  aHour = static_cast<uint16_t>(t / 3600000);
  aMin = static_cast<uint16_t>(t / 60000 % 60);
  aSec = static_cast<uint16_t>(t / 1000 % 60);
  aMSec = static_cast<uint16_t>(t % 1000);
}

int DayOfWeek(TDateTime aValue) {
  TTimeStamp s;
  if (!TryDateTimeToTimeStamp(aValue, s)) return 1;
  int32_t d = s.Date;  // day 1 (0001-01-01) was a Monday
  int r = static_cast<int>(((d % 7) + 7) % 7);
  return r + 1;
}

namespace {
struct LocalNow {
  std::tm tm{};
  int ms = 0;
};
LocalNow ReadLocalNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  time_t secs = ts.tv_sec;
  LocalNow n;
  localtime_r(&secs, &n.tm);
  n.ms = static_cast<int>(ts.tv_nsec / 1000000);
  return n;
}
}  // namespace

TDateTime Now() {
  LocalNow n = ReadLocalNow();
  return CombineDateTime(EncodeDate(n.tm.tm_year + 1900, n.tm.tm_mon + 1, n.tm.tm_mday),
                         EncodeTime(n.tm.tm_hour, n.tm.tm_min, n.tm.tm_sec, n.ms));
}

TDateTime Date() {
  LocalNow n = ReadLocalNow();
  return EncodeDate(n.tm.tm_year + 1900, n.tm.tm_mon + 1, n.tm.tm_mday);
}

TDateTime Time() {
  LocalNow n = ReadLocalNow();
  return EncodeTime(n.tm.tm_hour, n.tm.tm_min, n.tm.tm_sec, n.ms);
}

int32_t LocalUtcOffsetMinutes() {
  LocalNow n = ReadLocalNow();
  return static_cast<int32_t>(n.tm.tm_gmtoff / 60);
}

// ---- FormatDateTime ----------------------------------------------------------------------------

namespace {

class TDateTimeFormatter {
 public:
  TDateTimeFormatter(TDateTime aValue, const TFormatSettings& aSettings) : FValue(aValue), FS(aSettings) {}

  void Append(UnicodeStringView aFormat, int aLevel) {
    if (aLevel > 2) return;  // patterns that name patterns stop after two levels
    size_t i = 0, n = aFormat.size();
    char16_t lastToken = u' ';
    auto count = [&](char16_t starter) {
      size_t c = 1;
      while (i < n && AsciiUpper(aFormat[i]) == AsciiUpper(starter)) { ++i; ++c; }
      return static_cast<int>(c);
    };
    while (i < n) {
      char16_t starter = aFormat[i++];
      char16_t token = AsciiUpper(starter);
      if (token >= u'A' && token <= u'Z') {
        if (token == u'M' && lastToken == u'H') token = u'N';
        lastToken = token;
      }
      switch (token) {
        case u'Y': {
          int c = count(starter);
          Date();
          if (c <= 2) Number(FYear % 100, 2);
          else Number(FYear, 4);
          break;
        }
        case u'M': {
          int c = count(starter);
          Date();
          switch (c) {
            case 1: case 2: Number(FMonth, c); break;
            case 3: if (FMonth >= 1) FOut += FS.ShortMonthNames[FMonth - 1]; break;
            default: if (FMonth >= 1) FOut += FS.LongMonthNames[FMonth - 1]; break;
          }
          break;
        }
        case u'D': {
          int c = count(starter);
          switch (c) {
            case 1: case 2: Date(); Number(FDay, c); break;
            case 3: FOut += FS.ShortDayNames[DayIndex()]; break;
            case 4: FOut += FS.LongDayNames[DayIndex()]; break;
            case 5: Append(FS.ShortDateFormat, aLevel + 1); break;
            default: Append(FS.LongDateFormat, aLevel + 1); break;
          }
          break;
        }
        case u'H': {
          int c = count(starter);
          Time();
          if (!F12Hour) F12Hour = AmPmFollows(aFormat, i);
          int h = FHour;
          if (F12Hour) h = h == 0 ? 12 : (h > 12 ? h - 12 : h);
          Number(h, c > 2 ? 2 : c);
          break;
        }
        case u'N': { int c = count(starter); Time(); Number(FMin, c > 2 ? 2 : c); break; }
        case u'S': { int c = count(starter); Time(); Number(FSec, c > 2 ? 2 : c); break; }
        case u'Z': { int c = count(starter); Time(); Number(FMSec, c > 3 ? 3 : c); break; }
        case u'T': {
          int c = count(starter);
          Append(c == 1 ? FS.ShortTimeFormat : FS.LongTimeFormat, aLevel + 1);
          break;
        }
        case u'C': {
          count(starter);
          Append(FS.ShortDateFormat, aLevel + 1);
          Time();
          if (FHour || FMin || FSec || FMSec) {
            FOut += u' ';
            Append(FS.LongTimeFormat, aLevel + 1);
          }
          break;
        }
        case u'A': {
          Time();
          UnicodeStringView rest = aFormat.substr(i - 1);
          if (StartsText(rest, u"am/pm")) {
            FOut += rest.substr(FHour >= 12 ? 3 : 0, 2);
            i += 4;
            F12Hour = true;
          } else if (StartsText(rest, u"a/p")) {
            FOut += rest.substr(FHour >= 12 ? 2 : 0, 1);
            i += 2;
            F12Hour = true;
          } else if (StartsText(rest, u"ampm")) {
            FOut += FHour < 12 ? FS.TimeAMString : FS.TimePMString;
            i += 3;
            F12Hour = true;
          } else {
            FOut += starter;
          }
          break;
        }
        case u'/': if (FS.DateSeparator) FOut += FS.DateSeparator; break;
        case u':': if (FS.TimeSeparator) FOut += FS.TimeSeparator; break;
        case u'\'': case u'"': {
          while (i < n && aFormat[i] != starter) FOut += aFormat[i++];
          if (i < n) ++i;
          break;
        }
        default: FOut += starter; break;
      }
    }
  }

  UnicodeString Result() { return std::move(FOut); }

 private:
  static bool StartsText(UnicodeStringView s, UnicodeStringView p) {
    return s.size() >= p.size() && SameText(s.substr(0, p.size()), p);
  }
  // True when an am/pm pattern follows in the format before the next hour pattern.
  static bool AmPmFollows(UnicodeStringView f, size_t from) {
    bool quoted = false;
    for (size_t p = from; p < f.size(); ++p) {
      char16_t c = f[p];
      if (c == u'\'' || c == u'"') { quoted = !quoted; continue; }
      if (quoted) continue;
      if (c == u'a' || c == u'A') {
        UnicodeStringView r = f.substr(p);
        return StartsText(r, u"am/pm") || StartsText(r, u"a/p") || StartsText(r, u"ampm");
      }
      if (c == u'h' || c == u'H') return false;
    }
    return false;
  }
  void Number(int aValue, int aDigits) {
    UnicodeString s = IntToStr(aValue);
    while (static_cast<int>(s.size()) < aDigits) s.insert(s.begin(), u'0');
    FOut += s;
  }
  void Date() {
    if (FHaveDate) return;
    uint16_t y, m, d;
    TryDecodeDate(FValue, y, m, d);
    FYear = y;
    FMonth = m;
    FDay = d;
    FHaveDate = true;
  }
  void Time() {
    if (FHaveTime) return;
    TTimeStamp s;
    int32_t t = TryDateTimeToTimeStamp(FValue, s) ? s.Time : 0;
    FHour = t / 3600000;
    FMin = t / 60000 % 60;
    FSec = t / 1000 % 60;
    FMSec = t % 1000;
    FHaveTime = true;
  }
  size_t DayIndex() { return static_cast<size_t>(DayOfWeek(FValue) - 1); }

  TDateTime FValue;
  const TFormatSettings& FS;
  UnicodeString FOut;
  bool FHaveDate = false, FHaveTime = false, F12Hour = false;
  int FYear = 0, FMonth = 0, FDay = 0, FHour = 0, FMin = 0, FSec = 0, FMSec = 0;
};

}  // namespace

UnicodeString FormatDateTime(UnicodeStringView aFormat, TDateTime aValue, const TFormatSettings& aSettings) {
  TDateTimeFormatter f(aValue, aSettings);
  f.Append(aFormat.empty() ? UnicodeStringView(u"c") : aFormat, 0);
  return f.Result();
}

UnicodeString DateTimeToStr(TDateTime aValue, const TFormatSettings& aSettings) {
  return FormatDateTime(u"c", aValue, aSettings);
}
UnicodeString DateToStr(TDateTime aValue, const TFormatSettings& aSettings) {
  return FormatDateTime(u"ddddd", aValue, aSettings);
}
UnicodeString TimeToStr(TDateTime aValue, const TFormatSettings& aSettings) {
  return FormatDateTime(u"tt", aValue, aSettings);
}

// ---- parsing -----------------------------------------------------------------------------------

namespace {

class TDateTimeScanner {
 public:
  TDateTimeScanner(UnicodeStringView aText, const TFormatSettings& aSettings) : S(aText), FS(aSettings) {}

  bool AtEnd() const { return Pos >= S.size(); }

  void Blanks() {
    while (Pos < S.size() && S[Pos] == u' ') ++Pos;
  }
  bool Number(int& aValue, int& aDigits) {
    Blanks();
    size_t start = Pos;
    int v = 0;
    while (Pos < S.size() && S[Pos] >= u'0' && S[Pos] <= u'9' && v < 1000) v = v * 10 + (S[Pos++] - u'0');
    aDigits = static_cast<int>(Pos - start);
    if (aDigits == 0) return false;
    aValue = v;
    return true;
  }
  bool Char(char16_t c) {
    Blanks();
    if (Pos < S.size() && S[Pos] == c) { ++Pos; return true; }
    return false;
  }
  bool String(UnicodeStringView p) {
    if (p.empty()) return false;
    Blanks();
    if (S.size() - Pos >= p.size() && SameText(S.substr(Pos, p.size()), p)) { Pos += p.size(); return true; }
    return false;
  }

  enum class Order { MDY, DMY, YMD };
  Order DateOrder() const {
    bool quoted = false;
    for (char16_t c : FS.ShortDateFormat) {
      if (c == u'\'' || c == u'"') { quoted = !quoted; continue; }
      if (quoted) continue;
      switch (AsciiUpper(c)) {
        case u'D': return Order::DMY;
        case u'Y': return Order::YMD;
        case u'M': return Order::MDY;
        default: break;
      }
    }
    return Order::MDY;
  }

  bool Date(TDateTime& aDate) {
    int n1, n2, n3 = 0, l1, l2, l3 = 0;
    if (!Number(n1, l1) || !Char(FS.DateSeparator) || !Number(n2, l2)) return false;
    int y, m, d, yl;
    Order o = DateOrder();
    if (Char(FS.DateSeparator)) {
      if (!Number(n3, l3)) return false;
      switch (o) {
        case Order::MDY: y = n3; yl = l3; m = n1; d = n2; break;
        case Order::DMY: y = n3; yl = l3; m = n2; d = n1; break;
        default: y = n1; yl = l1; m = n2; d = n3; break;
      }
    } else {
      uint16_t cy, cm, cd;
      DecodeDate(rtl::Date(), cy, cm, cd);
      y = cy;
      yl = 4;
      if (o == Order::DMY) { d = n1; m = n2; }
      else { m = n1; d = n2; }
    }
    if (y <= 99 && yl <= 2) {
      uint16_t cy, cm, cd;
      DecodeDate(rtl::Date(), cy, cm, cd);
      int base = cy - FS.TwoDigitYearCenturyWindow;
      y += base / 100 * 100;
      if (FS.TwoDigitYearCenturyWindow > 0 && y < base) y += 100;
    }
    Blanks();
    return TryEncodeDate(y, m, d, aDate);
  }

  bool Time(TDateTime& aTime) {
    int baseHour = -1;
    if (String(FS.TimeAMString) || String(u"AM")) baseHour = 0;
    else if (String(FS.TimePMString) || String(u"PM")) baseHour = 12;
    int h, mi = 0, s = 0, ms = 0, l;
    if (!Number(h, l)) return false;
    if (Char(FS.TimeSeparator)) {
      if (!Number(mi, l)) return false;
      if (Char(FS.TimeSeparator)) {
        if (!Number(s, l)) return false;
        if (Char(FS.DecimalSeparator) && !Number(ms, l)) return false;
      }
    }
    if (baseHour < 0) {
      if (String(FS.TimeAMString) || String(u"AM")) baseHour = 0;
      else if (String(FS.TimePMString) || String(u"PM")) baseHour = 12;
    }
    if (baseHour >= 0) {
      if (h == 0 || h > 12) return false;
      if (h == 12) h = 0;
      h += baseHour;
    }
    Blanks();
    return TryEncodeTime(h, mi, s, ms, aTime);
  }

  size_t Pos = 0;

 private:
  UnicodeStringView S;
  const TFormatSettings& FS;
};

}  // namespace

namespace {
// A date or a time scanned by aScan that must take the whole text.
bool ScanWhole(UnicodeStringView aText, TDateTime& aValue, const TFormatSettings& aSettings,
               bool (TDateTimeScanner::*aScan)(TDateTime&)) {
  TDateTimeScanner sc(aText, aSettings);
  TDateTime v;
  if (!(sc.*aScan)(v) || !sc.AtEnd()) return false;
  aValue = v;
  return true;
}
}  // namespace

bool TryStrToDate(UnicodeStringView aText, TDateTime& aValue, const TFormatSettings& aSettings) {
  return ScanWhole(aText, aValue, aSettings, &TDateTimeScanner::Date);
}

bool TryStrToTime(UnicodeStringView aText, TDateTime& aValue, const TFormatSettings& aSettings) {
  return ScanWhole(aText, aValue, aSettings, &TDateTimeScanner::Time);
}

bool TryStrToDateTime(UnicodeStringView aText, TDateTime& aValue, const TFormatSettings& aSettings) {
  TDateTimeScanner sc(aText, aSettings);
  TDateTime d, t = 0;
  if (sc.Date(d) && (sc.AtEnd() || (sc.Time(t) && sc.AtEnd()))) {
    aValue = CombineDateTime(d, t);
    return true;
  }
  return TryStrToTime(aText, aValue, aSettings);
}

TDateTime StrToDateTime(UnicodeStringView aText, const TFormatSettings& aSettings) {
  TDateTime r;
  if (!TryStrToDateTime(aText, r, aSettings))
    throw EConvertError(Format(u"'%s' is not a valid date and time", {aText}));
  return r;
}

TDateTime StrToDate(UnicodeStringView aText, const TFormatSettings& aSettings) {
  TDateTime r;
  if (!TryStrToDate(aText, r, aSettings)) throw EConvertError(Format(u"'%s' is not a valid date", {aText}));
  return r;
}

TDateTime StrToTime(UnicodeStringView aText, const TFormatSettings& aSettings) {
  TDateTime r;
  if (!TryStrToTime(aText, r, aSettings)) throw EConvertError(Format(u"'%s' is not a valid time", {aText}));
  return r;
}

}  // namespace zf::rtl
