// TDateTime and the time-stamp form, with the platform's calendar, text and parsing rules.
//
// A TDateTime is a double counting days since 1899-12-30; the fraction is the time of day. For
// values before that day the fraction still counts forward from midnight (-1.25 is 1899-12-29
// 06:00). A time stamp is the pair (day number with 1 = 0001-01-01, milliseconds of the day).
#pragma once
#include <cstdint>

#include "platform/rtl/rtlFormat.h"
#include "platform/rtl/rtlText.h"

namespace zf::rtl {

using TDateTime = double;

inline constexpr int32_t MSecsPerDay = 86400000;
inline constexpr int32_t SecsPerDay = 86400;
inline constexpr int32_t DateDelta = 693594;     // days from 0001-01-01 (day 1) to 1899-12-30 (day 0)
inline constexpr int32_t UnixDateDelta = 25569;  // days from 1899-12-30 to 1970-01-01
inline constexpr double MinDateTime = -657434.0;  // 0100-01-01
inline constexpr double MaxDateTime = 2958465.99999999;  // 9999-12-31 23:59:59.999

struct TTimeStamp {
  int32_t Time = 0;  // milliseconds since midnight
  int32_t Date = 0;  // day number, 1 = 0001-01-01
};

bool IsLeapYear(int aYear);
int DaysInAMonth(int aYear, int aMonth);  // 0 for a month outside 1..12

// Encoding raises EConvertError "Invalid argument to date encode" / "... time encode".
bool TryEncodeDate(int aYear, int aMonth, int aDay, TDateTime& aDate);
TDateTime EncodeDate(int aYear, int aMonth, int aDay);
bool TryEncodeTime(int aHour, int aMin, int aSec, int aMSec, TDateTime& aTime);
TDateTime EncodeTime(int aHour, int aMin, int aSec, int aMSec);
// The date plus the time, the time counted forward from midnight also for negative dates.
TDateTime CombineDateTime(TDateTime aDate, TDateTime aTime);

// Decoding never raises: a value that is not a date of the years 1..9999 (NaN included) decodes
// to zeros, and TryDecodeDate answers False for it.
bool TryDecodeDate(TDateTime aValue, uint16_t& aYear, uint16_t& aMonth, uint16_t& aDay);
void DecodeDate(TDateTime aValue, uint16_t& aYear, uint16_t& aMonth, uint16_t& aDay);
void DecodeTime(TDateTime aValue, uint16_t& aHour, uint16_t& aMin, uint16_t& aSec, uint16_t& aMSec);
int DayOfWeek(TDateTime aValue);  // 1 = Sunday .. 7 = Saturday (1 for a value that is no date)

// Time stamps. DateTimeToTimeStamp rounds to whole milliseconds (ties to even); a NaN, infinite
// or out-of-range value raises EInvalidOp ("Invalid floating point operation") - use the Try form
// for values read from damaged data. TimeStampToDateTime raises EConvertError
// "'%d.%d' is not a valid timestamp" for a day below 1 or a time outside the day.
bool TryDateTimeToTimeStamp(TDateTime aValue, TTimeStamp& aStamp);
TTimeStamp DateTimeToTimeStamp(TDateTime aValue);
bool IsValidTimeStamp(const TTimeStamp& aStamp);
TDateTime TimeStampToDateTime(const TTimeStamp& aStamp);
int64_t TimeStampToMSecs(const TTimeStamp& aStamp);
TTimeStamp MSecsToTimeStamp(int64_t aMSecs);

// Local time.
TDateTime Now();
TDateTime Date();
TDateTime Time();
// Offset of local time from UTC at the given local time, in minutes (east positive).
int32_t LocalUtcOffsetMinutes();

// FormatDateTime with the platform's pattern letters (case ignored): c d dd ddd dddd ddddd dddddd
// m mm mmm mmmm (minutes right after an h) yy yyyy h hh n nn s ss z zzz t tt am/pm a/p ampm, "/"
// and ":" for the separators, quoted text taken literally. A value that is no date (NaN, out of
// range) formats as zeros rather than raising: log lines must not fail.
UnicodeString FormatDateTime(UnicodeStringView aFormat, TDateTime aValue,
                             const TFormatSettings& aSettings = DefaultFormatSettings());
UnicodeString DateTimeToStr(TDateTime aValue, const TFormatSettings& aSettings = DefaultFormatSettings());
UnicodeString DateToStr(TDateTime aValue, const TFormatSettings& aSettings = DefaultFormatSettings());
UnicodeString TimeToStr(TDateTime aValue, const TFormatSettings& aSettings = DefaultFormatSettings());

// Parsing in the order of the short date format with the date and time separators; two-digit
// years follow the century window. Failures: EConvertError "'%s' is not a valid date and time",
// "'%s' is not a valid date", "'%s' is not a valid time".
bool TryStrToDateTime(UnicodeStringView aText, TDateTime& aValue,
                      const TFormatSettings& aSettings = DefaultFormatSettings());
bool TryStrToDate(UnicodeStringView aText, TDateTime& aValue,
                  const TFormatSettings& aSettings = DefaultFormatSettings());
bool TryStrToTime(UnicodeStringView aText, TDateTime& aValue,
                  const TFormatSettings& aSettings = DefaultFormatSettings());
TDateTime StrToDateTime(UnicodeStringView aText, const TFormatSettings& aSettings = DefaultFormatSettings());
TDateTime StrToDate(UnicodeStringView aText, const TFormatSettings& aSettings = DefaultFormatSettings());
TDateTime StrToTime(UnicodeStringView aText, const TFormatSettings& aSettings = DefaultFormatSettings());

}  // namespace zf::rtl
