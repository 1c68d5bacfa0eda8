// SQL-style date and time literals: "yyyy-mm-dd", "hh:nn:ss[.zzz]" and "yyyy-mm-dd hh:nn:ss[.zzz]",
// optionally enclosed in single quotes, independent of any locale. Text stored into Date, Time
// and DateTime values through byte arrays goes through these.
#pragma once
#include <cstdint>

#include "platform/rtl/rtlDateTime.h"
#include "platform/rtl/rtlText.h"
#include "platform/rtl/rtlVariant.h"

namespace zf {

// The digits among aCount characters from the 1-based position aPosition, as a decimal number;
// other characters are skipped (so blanks read as 0). Characters beyond the text count as none.
uint32_t zfReadLiteralNumber(rtl::UnicodeStringView aText, int32_t aPosition, int32_t aCount);

// Checks: the exact length and separators of the form, and numbers that make a valid date or
// time. They never raise.
bool zfIsDateLiteral(rtl::UnicodeStringView aText);
bool zfIsTimeLiteral(rtl::UnicodeStringView aText);
bool zfIsDateTimeLiteral(rtl::UnicodeStringView aText);

// Conversions of a text that passed the matching check.
rtl::TDateTime zfDateLiteralToDate(rtl::UnicodeStringView aText);
rtl::TDateTime zfTimeLiteralToTime(rtl::UnicodeStringView aText);
rtl::TDateTime zfDateTimeLiteralToDateTime(rtl::UnicodeStringView aText);

// The variant's text as a date, time or date and time; a text that fails the check raises
// rtl::Exception "Invalid date format %s", "Invalid time format %s" or
// "Invalid date/time format %s" (no error code).
rtl::TDateTime zfVariantToDate(const rtl::Variant& aValue);
rtl::TDateTime zfVariantToTime(const rtl::Variant& aValue);
rtl::TDateTime zfVariantToDateTime(const rtl::Variant& aValue);

}  // namespace zf
