#include "dictionary/zfsdDateTimeParser.h"

#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlFormat.h"

namespace zf {

using rtl::TDateTime;
using rtl::UnicodeStringView;

namespace {

UnicodeStringView StripQuotes(UnicodeStringView s) {
  if (s.size() >= 2 && s.front() == u'\'' && s.back() == u'\'') return s.substr(1, s.size() - 2);
  return s;
}

// 1-based character of the text, 0 beyond it.
char16_t At(UnicodeStringView s, size_t aPos) { return aPos >= 1 && aPos <= s.size() ? s[aPos - 1] : 0; }

bool DateParts(UnicodeStringView s, TDateTime& aDate) {
  return rtl::TryEncodeDate(static_cast<int>(zfReadLiteralNumber(s, 1, 4)), static_cast<int>(zfReadLiteralNumber(s, 6, 2)),
                            static_cast<int>(zfReadLiteralNumber(s, 9, 2)), aDate);
}

bool TimeParts(UnicodeStringView s, size_t aFirst, bool aWithMSecs, TDateTime& aTime) {
  // aFirst: position of the hour digits; minutes, seconds and milliseconds follow at fixed offsets.
  uint32_t h = zfReadLiteralNumber(s, static_cast<int32_t>(aFirst), 2);
  uint32_t n = zfReadLiteralNumber(s, static_cast<int32_t>(aFirst + 3), 2);
  uint32_t sec = zfReadLiteralNumber(s, static_cast<int32_t>(aFirst + 6), 2);
  uint32_t ms = aWithMSecs ? zfReadLiteralNumber(s, static_cast<int32_t>(aFirst + 9), 3) : 0;
  return rtl::TryEncodeTime(static_cast<int>(h), static_cast<int>(n), static_cast<int>(sec), static_cast<int>(ms), aTime);
}

bool ParseDate(UnicodeStringView text, TDateTime& aValue) {
  UnicodeStringView s = StripQuotes(text);
  return s.size() == 10 && At(s, 5) == u'-' && At(s, 8) == u'-' && DateParts(s, aValue);
}

bool ParseTime(UnicodeStringView text, TDateTime& aValue) {
  UnicodeStringView s = StripQuotes(text);
  if (s.size() != 8 && s.size() != 12) return false;
  if (At(s, 3) != u':' || At(s, 6) != u':') return false;
  return TimeParts(s, 1, s.size() == 12 && At(s, 9) == u'.', aValue);
}

bool ParseDateTime(UnicodeStringView text, TDateTime& aValue) {
  UnicodeStringView s = StripQuotes(text);
  if (s.size() != 19 && s.size() != 23) return false;
  if (At(s, 5) != u'-' || At(s, 8) != u'-' || At(s, 11) != u' ' || At(s, 14) != u':' || At(s, 17) != u':')
    return false;
  TDateTime d, t;
  if (!DateParts(s, d) || !TimeParts(s, 12, s.size() == 23 && At(s, 20) == u'.', t)) return false;
  aValue = rtl::CombineDateTime(d, t);
  return true;
}

[[noreturn]] void RaiseFormat(const char16_t* aFormat, UnicodeStringView aText) {
  throw rtl::Exception(rtl::Format(aFormat, {aText}));
}

}  // namespace

uint32_t zfReadLiteralNumber(UnicodeStringView aText, int32_t aPosition, int32_t aCount) {
  uint32_t r = 0;
  for (int32_t i = 0; i < aCount; ++i) {
    char16_t c = At(aText, static_cast<size_t>(aPosition + i));
    if (c >= u'0' && c <= u'9') r = r * 10 + static_cast<uint32_t>(c - u'0');
  }
  return r;
}

bool zfIsDateLiteral(UnicodeStringView aText) {
  TDateTime v;
  return ParseDate(aText, v);
}

bool zfIsTimeLiteral(UnicodeStringView aText) {
  TDateTime v;
  return ParseTime(aText, v);
}

bool zfIsDateTimeLiteral(UnicodeStringView aText) {
  TDateTime v;
  return ParseDateTime(aText, v);
}

TDateTime zfDateLiteralToDate(UnicodeStringView aText) {
  TDateTime v = 0;
  ParseDate(aText, v);
  return v;
}

TDateTime zfTimeLiteralToTime(UnicodeStringView aText) {
  TDateTime v = 0;
  ParseTime(aText, v);
  return v;
}

TDateTime zfDateTimeLiteralToDateTime(UnicodeStringView aText) {
  TDateTime v = 0;
  ParseDateTime(aText, v);
  return v;
}

namespace {
TDateTime VariantLiteral(const rtl::Variant& aValue, bool (*aParse)(UnicodeStringView, TDateTime&),
                         const char16_t* aFormat) {
  rtl::UnicodeString s = aValue.AsString();
  TDateTime v;
  if (!aParse(s, v)) RaiseFormat(aFormat, s);
  return v;
}
}  // namespace

TDateTime zfVariantToDate(const rtl::Variant& aValue) {
  return VariantLiteral(aValue, &ParseDate, u"Invalid date format %s");
}

TDateTime zfVariantToTime(const rtl::Variant& aValue) {
  return VariantLiteral(aValue, &ParseTime, u"Invalid time format %s");
}

TDateTime zfVariantToDateTime(const rtl::Variant& aValue) {
  return VariantLiteral(aValue, &ParseDateTime, u"Invalid date/time format %s");
}

}  // namespace zf
