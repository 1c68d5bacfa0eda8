// TDateTime (days since 1899-12-30, the fraction being the time of day) decoding and the
// platform's FormatDateTime under explicit format settings.
#pragma once
#include <cstdint>

#include "platform/rtl/rtlFormat.h"
#include "platform/rtl/rtlText.h"

namespace zf::rtl {

using TDateTime = double;

// Year, month, day of the date part (proleptic Gregorian); False when out of the years 1..9999.
bool TryDecodeDate(TDateTime aValue, uint16_t& aYear, uint16_t& aMonth, uint16_t& aDay);
// Hour, minute, second, millisecond of the time part (rounded to the millisecond).
void DecodeTime(TDateTime aValue, uint16_t& aHour, uint16_t& aMin, uint16_t& aSec, uint16_t& aMSec);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime aValue);

// Format letters (case ignored): c d dd ddd dddd ddddd dddddd m mm mmm mmmm (minutes after an hour)
// yy yyyy h hh n nn s ss z zzz t tt am/pm a/p ampm, "/" and ":" for the separators, text in
// quotes taken literally.
UnicodeString FormatDateTime(UnicodeStringView aFormat, TDateTime aValue, const TFormatSettings& aSettings);

}  // namespace zf::rtl
