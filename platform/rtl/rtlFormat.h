// Format compatible with the original platform's: "%" [index ":"] ["-"] [width] ["." prec] type,
// with the types d u x e f g n m p s, "*" for index, width or precision taken from the arguments,
// and "%%". An argument of the wrong kind, or a missing one, raises EConvertError
// "Format '%s' invalid or incompatible with argument".
#pragma once
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/rtl/rtlText.h"

namespace zf::rtl {

// Number, currency and date conventions of a locale, as the platform's format settings.
struct TFormatSettings {
  char16_t DecimalSeparator = u'.';
  char16_t ThousandSeparator = u',';
  UnicodeString CurrencyString = u"$";
  uint8_t CurrencyFormat = 0;   // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
  uint8_t NegCurrFormat = 0;    // 0..15, as the platform defines them
  uint8_t CurrencyDecimals = 2;
  char16_t DateSeparator = u'/';
  char16_t TimeSeparator = u':';
  char16_t ListSeparator = u',';
  UnicodeString ShortDateFormat = u"M/d/yyyy";
  UnicodeString LongDateFormat = u"dddd, MMMM d, yyyy";
  UnicodeString ShortTimeFormat = u"h:mm AMPM";
  UnicodeString LongTimeFormat = u"h:mm:ss AMPM";
  UnicodeString TimeAMString = u"AM";
  UnicodeString TimePMString = u"PM";
  uint16_t TwoDigitYearCenturyWindow = 50;
  std::array<UnicodeString, 12> ShortMonthNames{u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                                u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
  std::array<UnicodeString, 12> LongMonthNames{u"January", u"February", u"March",     u"April",
                                               u"May",     u"June",     u"July",      u"August",
                                               u"September", u"October", u"November", u"December"};
  std::array<UnicodeString, 7> ShortDayNames{u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
  std::array<UnicodeString, 7> LongDayNames{u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                            u"Thursday", u"Friday", u"Saturday"};
};

// The process's default format settings (the platform's global ones).
TFormatSettings& DefaultFormatSettings();

// One argument of Format, as the platform's "array of const" element.
class FormatArg {
 public:
  enum class Kind { Int32, Int64, Float, Currency, String, Pointer, Boolean };

  FormatArg(bool v) : FKind(Kind::Boolean), FInt(v) {}
  FormatArg(char16_t v) : FKind(Kind::String), FStr(1, v) {}
  template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                             !std::is_same_v<T, char16_t> && !std::is_same_v<T, char>,
                                         int> = 0>
  FormatArg(T v) {
    // Signed values up to 32 bits are Integer; Cardinal and 64-bit values travel as Int64.
    if constexpr (std::is_signed_v<T> && sizeof(T) <= 4) { FKind = Kind::Int32; FInt = v; }
    else if constexpr (std::is_unsigned_v<T> && sizeof(T) <= 2) { FKind = Kind::Int32; FInt = v; }
    else { FKind = Kind::Int64; FInt = static_cast<int64_t>(v); }
  }
  FormatArg(float v) : FKind(Kind::Float), FFloat(v) {}
  FormatArg(double v) : FKind(Kind::Float), FFloat(v) {}
  FormatArg(long double v) : FKind(Kind::Float), FFloat(v) {}
  FormatArg(const char16_t* v) : FKind(Kind::String), FStr(v ? v : u"") {}
  FormatArg(UnicodeStringView v) : FKind(Kind::String), FStr(v) {}
  FormatArg(const UnicodeString& v) : FKind(Kind::String), FStr(v) {}
  FormatArg(const char* v) : FKind(Kind::String), FStr(Utf8ToUtf16(v ? v : "")) {}
  FormatArg(const std::string& v) : FKind(Kind::String), FStr(Utf8ToUtf16(v)) {}
  FormatArg(const void* v) : FKind(Kind::Pointer), FInt(static_cast<int64_t>(reinterpret_cast<uintptr_t>(v))) {}

  // A Currency value: int64 scaled by 10000.
  static FormatArg Currency(int64_t aScaled) {
    FormatArg a(0);
    a.FKind = Kind::Currency;
    a.FInt = aScaled;
    return a;
  }

  Kind kind() const { return FKind; }
  int64_t AsInt() const { return FInt; }
  long double AsFloat() const { return FFloat; }
  const UnicodeString& AsString() const { return FStr; }

 private:
  Kind FKind = Kind::Int32;
  int64_t FInt = 0;
  long double FFloat = 0;
  UnicodeString FStr;
};

using FormatArgs = std::initializer_list<FormatArg>;

UnicodeString Format(UnicodeStringView aFormat, FormatArgs aArgs);
UnicodeString Format(UnicodeStringView aFormat, FormatArgs aArgs, const TFormatSettings& aSettings);
UnicodeString Format(UnicodeStringView aFormat, const FormatArg* aArgs, size_t aCount,
                     const TFormatSettings& aSettings);

// Float texts of the platform (FloatToStrF): general, exponent, fixed, number and currency forms.
enum class TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };
UnicodeString FloatToStrF(long double aValue, TFloatFormat aFormat, int aPrecision, int aDigits,
                          const TFormatSettings& aSettings = DefaultFormatSettings());
UnicodeString FloatToStr(long double aValue, const TFormatSettings& aSettings = DefaultFormatSettings());

}  // namespace zf::rtl
