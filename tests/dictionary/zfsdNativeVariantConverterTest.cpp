#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "dictionary/zfsdNativeVariantConverter.h"
#include "platform/locale/locCodePages.h"
#include "platform/rtl/rtlAnsi.h"
#include "zfsdTestUtil.h"

using namespace zf;
using rtl::UnicodeString;
using rtl::Variant;
using test::Outcome;

namespace {

struct Field {
  TzfFieldType type;
  uint16_t cp = 0;
  int32_t units = 0;
  int32_t decpl = 0;
  int32_t length = 0;
};

TByteDynArray Write(const Field& f, const Variant& v) {
  TByteDynArray b(static_cast<size_t>(f.length), 0xCC);
  VariantToBuffer(f.type, f.cp, f.units, f.decpl, v, b.data(), f.length);
  return b;
}

Variant Read(const Field& f, const TByteDynArray& b) {
  Variant v;
  VariantFromBuffer(f.type, f.cp, f.units, f.decpl, b.data(), static_cast<int32_t>(b.size()), v);
  return v;
}

// Kind and text of a Variant, e.g. "Integer:5".
UnicodeString Show(const Variant& v) {
  rtl::TFormatSettings fs;
  fs.ShortDateFormat = u"yyyy-mm-dd";
  fs.DateSeparator = u'-';
  fs.LongTimeFormat = u"hh:nn:ss.zzz";
  UnicodeString text;
  if (v.IsByteArray()) {
    for (uint8_t x : v.AsBytes()) text += rtl::IntToHex(x, 2);
  } else {
    text = rtl::VarToStr(v, fs);
  }
  return rtl::VarTypeAsText(v.VarType()) + u":" + text;
}

UnicodeString Hex(const TByteDynArray& b) {
  UnicodeString r;
  for (uint8_t x : b) r += rtl::IntToHex(x, 2);
  return r;
}

// Sets the system ANSI code page for one test and puts the old one back.
struct SystemCodePage {
  explicit SystemCodePage(uint16_t cp) : old(rtl::SystemAnsiCodePage()) { rtl::SetSystemAnsiCodePage(cp); }
  ~SystemCodePage() { rtl::SetSystemAnsiCodePage(old); }
  uint16_t old;
};

rtl::TBcd Bcd(const char16_t* t) {
  rtl::TBcd b;
  rtl::TryStrToBcd(t, b);
  return b;
}

}  // namespace

// Every type the converter stores: Variant -> native bytes (pinned by hand) -> Variant.
TEST(NativeValues, RoundTripEveryType) {
  const rtl::TDateTime when = rtl::CombineDateTime(rtl::EncodeDate(2026, 12, 10), rtl::EncodeTime(13, 5, 7, 89));
  struct Case { const char* name; Field f; Variant in; const char16_t* bytes; const char16_t* out; };
  const Case cases[] = {
      {"boolean", {zftBoolean, 0, 0, 0, 1}, Variant(true), u"01", u"Boolean:True"},
      {"char cp0", {zftChar, 0, 0, 0, 1}, Variant(u"A"), u"41", u"OleStr:A"},
      {"char 1252", {zftChar, 1252, 0, 0, 1}, Variant(u"\u20AC"), u"80", u"OleStr:\u20AC"},
      {"wide char", {zftWideChar, 0, 0, 0, 2}, Variant(u"\u0416"), u"1604", u"OleStr:\u0416"},
      {"byte", {zftByte, 0, 0, 0, 1}, Variant(200), u"C8", u"Integer:200"},
      {"word16", {zftWord16, 0, 0, 0, 2}, Variant(65535), u"FFFF", u"Integer:65535"},
      {"word32 high", {zftWord32, 0, 0, 0, 4}, Variant(int64_t{4294967295}), u"FFFFFFFF", u"Double:4294967295"},
      {"word32 low", {zftWord32, 0, 0, 0, 4}, Variant(7.9), u"07000000", u"Integer:7"},  // cut, not rounded
      {"int8", {zftInt8, 0, 0, 0, 1}, Variant(-128), u"80", u"Integer:-128"},
      {"int16", {zftInt16, 0, 0, 0, 2}, Variant(u"-32768"), u"0080", u"Integer:-32768"},
      {"int32", {zftInt32, 0, 0, 0, 4}, Variant(INT32_MIN), u"00000080", u"Integer:-2147483648"},
      {"int32 from real", {zftInt32, 0, 0, 0, 4}, Variant(-2.9), u"FEFFFFFF", u"Integer:-2"},
      {"int64", {zftInt64, 0, 0, 0, 8}, Variant(INT64_MIN), u"0000000000000080", u"Int64:-9223372036854775808"},
      {"int64 from currency", {zftInt64, 0, 0, 0, 8}, Variant(rtl::Currency{-25000}), u"FEFFFFFFFFFFFFFF", u"Int64:-2"},
      {"autoinc", {zftAutoInc, 0, 0, 0, 4}, Variant(7), u"07000000", u"Integer:7"},
      {"recrev high", {zftRecRev, 0, 0, 0, 4}, Variant(int64_t{2147483648}), u"00000080", u"Double:2147483648"},
      {"single", {zftSingle, 0, 0, 0, 4}, Variant(1.5), u"0000C03F", u"Double:1.5"},
      {"single from text", {zftSingle, 0, 0, 0, 4}, Variant(u"0.25"), u"0000803E", u"Double:0.25"},
      {"double", {zftDouble, 0, 0, 0, 8}, Variant(-2.0), u"00000000000000C0", u"Double:-2"},
      {"extended", {zftExtended, 0, 0, 0, 10}, Variant(1.0), u"0000000000000080FF3F", u"Double:1"},
      {"currency", {zftCurrency, 0, 0, 0, 8}, Variant(12.3456), u"40E2010000000000", u"Currency:12.3456"},
      {"date", {zftDate, 0, 0, 0, 4}, Variant::FromDate(when), u"784A0B00", u"Date:2026-12-10"},
      {"time", {zftTime, 0, 0, 0, 4}, Variant::FromDate(when), u"11CCCE02", u"Date:1899-12-30 13:05:07.089"},
      {"datetime", {zftDateTime, 0, 0, 0, 8}, Variant::FromDate(when), u"8008F6B0BB12CD42",
       u"Date:2026-12-10 13:05:07.089"},
      {"byte array", {zftByteArray, 0, 5, 0, 5}, Variant::FromBytes({1, 2, 3}), u"0102030000", u"Array Byte:0102030000"},
      {"shortstring", {zftShortString, 0, 4, 0, 5}, Variant(u"abc"), u"0361626300", u"OleStr:abc"},
      {"shortstring fixed", {zftShortString, 0, 4, 4, 5}, Variant(u"ab  "), u"0261620000", u"OleStr:ab  "},
      {"nullstring", {zftNullString, 0, 5, 0, 6}, Variant(u"abc"), u"616263000000", u"OleStr:abc"},
      {"nullstring fixed", {zftNullString, 0, 5, 5, 6}, Variant(u"ab   "), u"616200000000", u"OleStr:ab   "},
      {"nullstring 8-bit", {zftNullString, 0, 5, 0, 6}, Variant(rtl::AnsiString("\xE9t\xE9")), u"E974E9000000",
       u"OleStr:\u00E9t\u00E9"},
      {"nullstring from bytes", {zftNullString, 0, 5, 0, 6}, Variant::FromBytes({0x41, 0x80}), u"418000000000",
       u"OleStr:A\u20AC"},
      {"widestring", {zftWideString, 0, 3, 0, 8}, Variant(u"\u0416x"), u"1604780000000000", u"OleStr:\u0416x"},
      {"widestring fixed", {zftWideString, 0, 3, 3, 8}, Variant(u"x"), u"7800000000000000", u"OleStr:x  "},
      {"blob memo", {zftBlobMemo, 0, 0, 0, 5}, Variant(u"memo"), u"6D656D6F00", u"OleStr:memo"},
      {"blob wide memo", {zftBlobWideMemo, 0, 0, 0, 4}, Variant(u"m"), u"6D000000", u"OleStr:m"},
      {"guid", {zftGuid, 0, 0, 0, 16}, Variant(u"{54F6F091-45F0-4E16-8788-170EA7385BA4}"),
       u"91F0F654F045164E8788170EA7385BA4", u"OleStr:{54F6F091-45F0-4E16-8788-170EA7385BA4}"},
      {"bcd", {zftBCD, 0, 5, 2, 8}, Variant(123.456), u"A8D6120000000000", u"Currency:123.46"},
      {"bcd from text", {zftBCD, 0, 5, 2, 8}, Variant(u"-1.005"), u"F0D8FFFFFFFFFFFF", u"Currency:-1"},
      {"fmtbcd", {zftFmtBCD, 0, 10, 2, 7}, Variant(Bcd(u"-123.45")), u"0A820000012345", u"FMTBcd:-123.45"},
      {"fmtbcd from text", {zftFmtBCD, 0, 3, 1, 4}, Variant(u"12.34"), u"03011230", u"FMTBcd:12.3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TByteDynArray b;
    ASSERT_EQ(Outcome([&] { b = Write(c.f, c.in); }), u"ok");
    EXPECT_EQ(Hex(b), c.bytes);
    EXPECT_EQ(Show(Read(c.f, b)), c.out);
  }
}

TEST(NativeValues, ReadOnlyTypesAndUnhandledTypes) {
  const uint8_t bytes[3] = {1, 2, 3};
  Variant v;
  VariantFromBuffer(zftBlob, 0, 0, 0, bytes, 3, v);
  EXPECT_EQ(Show(v), u"Array Byte:010203");
  VariantFromBuffer(zftBlobGraphic, 0, 0, 0, bytes, 3, v);
  EXPECT_EQ(Show(v), u"Array Byte:010203");
  uint8_t buf[8] = {};
  for (TzfFieldType t : {zftBlob, zftBlobGraphic, zftInterval, static_cast<TzfFieldType>(31)}) {
    UnicodeString o = Outcome([&] { VariantToBuffer(t, 0, 0, 0, Variant(1), buf, 8); });
    EXPECT_EQ(o.rfind(u"!EAssertionFailed: Assertion failure (zfsdNativeVariantConverter, line ", 0), 0u) << rtl::u8(o);
  }
  for (TzfFieldType t : {zftInterval, static_cast<TzfFieldType>(200)}) {
    UnicodeString o = Outcome([&] { VariantFromBuffer(t, 0, 0, 0, buf, 8, v); });
    EXPECT_EQ(o.rfind(u"!EAssertionFailed: Assertion failure (zfsdNativeVariantConverter", 0), 0u);
  }
  EXPECT_TRUE(VariantIsEmptyOrNull(Variant()));
  EXPECT_TRUE(VariantIsEmptyOrNull(Variant::Null()));
  EXPECT_FALSE(VariantIsEmptyOrNull(Variant(0)));
}

TEST(NativeValues, Refusals) {
  const char16_t* outOfRange = u"!Exception: Value out of range for the target column type: ";
  struct Case { const char* name; Field f; Variant in; UnicodeString outcome; };
  const Case cases[] = {
      {"word32 -1", {zftWord32, 0, 0, 0, 4}, Variant(-1), UnicodeString(outOfRange) + u"-1"},
      {"byte 256", {zftByte, 0, 0, 0, 1}, Variant(256), UnicodeString(outOfRange) + u"256"},
      {"int32 1e10", {zftInt32, 0, 0, 0, 4}, Variant(1e10), UnicodeString(outOfRange) + u"10000000000"},
      {"int8 -129", {zftInt8, 0, 0, 0, 1}, Variant(-129.7), UnicodeString(outOfRange) + u"-129"},
      {"word16 text", {zftWord16, 0, 0, 0, 2}, Variant(u"70000"), UnicodeString(outOfRange) + u"70000"},
      {"int64 1e19", {zftInt64, 0, 0, 0, 8}, Variant(1e19), UnicodeString(outOfRange) + u"9223372036854775807"},
      {"byte NaN", {zftByte, 0, 0, 0, 1}, Variant(std::numeric_limits<double>::quiet_NaN()), UnicodeString(outOfRange) + u"0"},
      // Auto-increment and revision values must fit 32 bits: refused, not cut to the low bits.
      {"autoinc 2^32", {zftAutoInc, 0, 0, 0, 4}, Variant(int64_t{4294967296}), UnicodeString(outOfRange) + u"4294967296"},
      {"recrev -1", {zftRecRev, 0, 0, 0, 4}, Variant(-1), UnicodeString(outOfRange) + u"-1"},
      {"nullstring six letters", {zftNullString, 0, 5, 0, 6}, Variant(u"abcdef"),
       u"!Exception: Source string data is too wide (6) for the target field (5)"},
      {"nullstring blanks go", {zftNullString, 0, 5, 0, 6}, Variant::FromOleStr(u"abcde  "), u"ok"},
      {"nullstring 8-bit too wide", {zftNullString, 0, 5, 0, 6}, Variant(rtl::AnsiString("abcdef")),
       u"!Exception: Source string data is too wide (6) for the target field (5)"},
      {"shortstring", {zftShortString, 0, 2, 0, 3}, Variant(u"abc"),
       u"!Exception: Source string data is too wide (3) for the target field (2)"},
      {"widestring", {zftWideString, 0, 2, 0, 6}, Variant(u"abc"),
       u"!Exception: Source string data is too wide (6) for the target field (4)"},
      {"widestring blanks go", {zftWideString, 0, 2, 0, 6}, Variant(u"ab   "), u"ok"},
      {"utf-8 nullstring", {zftNullString, 65001, 3, 0, 4}, Variant(u"\u00E9\u00E9"),
       u"!Exception: Source string data is too wide for the target field (3)"},
      {"utf-8 shortstring", {zftShortString, 65001, 3, 0, 4}, Variant(u"a\u20AC"),
       u"!Exception: Source string data is too wide for the target field (3)"},
      {"byte array", {zftByteArray, 0, 2, 0, 2}, Variant::FromBytes({1, 2, 3}),
       u"!Exception: Source string data is too wide (3) for the target field (2)"},
      {"char two letters", {zftChar, 0, 0, 0, 1}, Variant(u"AB"),
       u"!EzfBaseException #0: ZofrinDB: Invalid char format (length must be exactly 1) [no error code]"},
      {"char cp 1252 two letters", {zftChar, 1252, 0, 0, 1}, Variant(u"AB"),
       u"!EzfBaseException #0: ZofrinDB: Invalid char format (length must be exactly 1) [no error code]"},
      {"char utf-8 two bytes", {zftChar, 65001, 0, 0, 1}, Variant(u"\u00E9"),
       u"!EzfBaseException #0: ZofrinDB: Invalid char format (length must be exactly 1) [no error code]"},
      {"char cp0 double", {zftChar, 0, 0, 0, 1}, Variant(65.0),
       u"!EzfBaseException #0: ZofrinDB: Invalid char format (length must be exactly 1) [no error code]"},
      {"char cp0 integer", {zftChar, 0, 0, 0, 1}, Variant(65), u"ok"},
      {"wide char empty", {zftWideChar, 0, 0, 0, 2}, Variant(u""),
       u"!EzfBaseException #0: ZofrinDB: Invalid char format (length must be exactly 1) [no error code]"},
      {"datetime zero", {zftDateTime, 0, 0, 0, 8}, Variant(0), u"!Exception: 0 (zero) is not a valid timestamp"},
      {"datetime zero date", {zftDateTime, 0, 0, 0, 8}, Variant::FromDate(0), u"ok"},
      {"guid", {zftGuid, 0, 0, 0, 16}, Variant(u"x"), u"!EConvertError: 'x' is not a valid GUID value"},
      {"bcd 99.9", {zftBCD, 0, 3, 1, 8}, Variant(99.9), u"ok"},
      {"bcd 100.0", {zftBCD, 0, 3, 1, 8}, Variant(100.0), u"ok"},
      {"bcd 101.0", {zftBCD, 0, 3, 1, 8}, Variant(101.0), u"!EzfBcdOverflow #9985: ZofrinDB: BCD overflow [$2701/9985]"},
      {"fmtbcd short buffer", {zftFmtBCD, 0, 10, 2, 6}, Variant(1),
       u"!EzfBcdOverflow #9985: ZofrinDB: BCD overflow [$2701/9985]"},
      {"double from date", {zftDouble, 0, 0, 0, 8}, Variant::FromDate(1.5),
       u"!EConvertError: '12/31/1899 12:00:00 PM' is not a valid floating point value"},
      {"int32 from null", {zftInt32, 0, 0, 0, 4}, Variant::Null(),
       u"!EVariantTypeCastError: Could not convert variant of type (Null) into type (Double)"},
      {"wide memo without room for its terminator", {zftBlobWideMemo, 0, 0, 0, 1}, Variant(u""),
       u"!EzfBaseException #10001: ZofrinDB: Invalid field descriptor. Field of type 29 has 1 bytes, fewer than its "
       u"value needs [$2711/10001]"},
      {"field too short", {zftInt32, 0, 0, 0, 2}, Variant(1),
       u"!EzfBaseException #10001: ZofrinDB: Invalid field descriptor. Field of type 8 has 2 bytes, fewer than its "
       u"value needs [$2711/10001]"},
  };
  for (const auto& c : cases) {
    TByteDynArray b(static_cast<size_t>(c.f.length));
    EXPECT_EQ(Outcome([&] { VariantToBuffer(c.f.type, c.f.cp, c.f.units, c.f.decpl, c.in, b.data(), c.f.length); }),
              c.outcome)
        << c.name;
  }
}

// Trailing blanks of a text that is too long for a variable-width field go only for a wide (OLE)
// string written to an 8-bit target (a ShortString only at code page 0) and for any Variant written
// to a UTF-16 target, and only until the text fits; a fixed-width field loses them all.
TEST(NativeValues, TrailingBlanksGoByVariantKindAndTarget) {
  const Field nullStr{zftNullString, 0, 5, 0, 6}, memo{zftBlobMemo, 0, 0, 0, 6}, short0{zftShortString, 0, 5, 0, 6},
      short1252{zftShortString, 1252, 5, 0, 6}, wide{zftWideString, 0, 5, 0, 12}, wideMemo{zftBlobWideMemo, 0, 0, 0, 12},
      fixedNull{zftNullString, 0, 5, 5, 6}, fixedShort1252{zftShortString, 1252, 5, 5, 6};
  const Variant ole = Variant::FromOleStr(u"abcde  "), uni = Variant(u"abcde  "),
                ansi = Variant(rtl::AnsiString("abcde  ")), bytes = Variant::FromBytes({'a', 'b', 'c', 'd', 'e', ' ', ' '});
  const UnicodeString tooWide = u"!Exception: Source string data is too wide (7) for the target field (5)";
  const UnicodeString tooWideConverted = u"!Exception: Source string data is too wide for the target field (5)";
  const char16_t* ansiFive = u"616263646500";
  const char16_t* shortFive = u"056162636465";
  const char16_t* wideFive = u"610062006300640065000000";
  struct Case { const char* name; Field f; Variant in; UnicodeString outcome; };
  const Case cases[] = {
      {"wide string, nullstring", nullStr, ole, ansiFive},
      {"wide string, blob memo", memo, ole, ansiFive},
      {"wide string, shortstring cp 0", short0, ole, shortFive},
      {"wide string, shortstring cp 1252", short1252, ole, tooWideConverted},
      {"wide string, widestring", wide, ole, wideFive},
      {"wide string, blob wide memo", wideMemo, ole, wideFive},
      {"unicode string, nullstring", nullStr, uni, tooWide},
      {"unicode string, blob memo", memo, uni, tooWide},
      {"unicode string, shortstring cp 0", short0, uni, tooWide},
      {"unicode string, shortstring cp 1252", short1252, uni, tooWideConverted},
      {"unicode string, widestring", wide, uni, wideFive},
      {"unicode string, blob wide memo", wideMemo, uni, wideFive},
      {"8-bit string, nullstring", nullStr, ansi, tooWide},
      {"8-bit string, shortstring cp 0", short0, ansi, tooWide},
      {"8-bit string, widestring", wide, ansi, wideFive},
      {"byte array, nullstring", nullStr, bytes, tooWide},
      // Only while too long: the blank that lets the text fit stays.
      {"wide string, nullstring, one blank stays", nullStr, Variant::FromOleStr(u"abcd   "), u"616263642000"},
      {"unicode string, widestring, one blank stays", wide, Variant(u"abcd   "), u"610062006300640020000000"},
      // A text that fits keeps its blanks whatever the Variant.
      {"unicode string that fits, nullstring", nullStr, Variant(u"ab  "), u"616220200000"},
      {"wide string that fits, widestring", wide, Variant::FromOleStr(u"ab "), u"610062002000000000000000"},
      // A fixed-width field loses every trailing blank whatever the Variant and the code page.
      {"unicode string, fixed nullstring", fixedNull, uni, ansiFive},
      {"8-bit string, fixed nullstring", fixedNull, ansi, ansiFive},
      {"byte array, fixed nullstring", fixedNull, bytes, ansiFive},
      {"unicode string, fixed shortstring cp 1252", fixedShort1252, uni, shortFive},
  };
  for (const auto& c : cases) {
    TByteDynArray b;
    UnicodeString got = Outcome([&] { b = Write(c.f, c.in); });
    if (got == u"ok") got = Hex(b);
    EXPECT_EQ(got, c.outcome) << c.name;
  }
}

TEST(NativeValues, DateTextUsesTheLocaleAndLiteralsOnlyInByteArrays) {
  TByteDynArray b(4);
  VariantToBuffer(zftDate, 0, 0, 0, Variant::FromOleStr(u"12/10/2026"), b.data(), 4);
  EXPECT_EQ(Hex(b), u"784A0B00");
  TByteDynArray a;
  VariantToByteArray(zftDate, 0, 0, 0, a, Variant(u"2026-12-10"));
  EXPECT_EQ(Hex(a), u"784A0B00");
  EXPECT_EQ(Outcome([&] { VariantToByteArray(zftDate, 0, 0, 0, a, Variant(u"12/10/2026")); }),
            u"!Exception: Invalid date format 12/10/2026");
  EXPECT_EQ(Outcome([&] { VariantToByteArray(zftDateTime, 0, 0, 0, a, Variant(0.0)); }),
            u"!Exception: 0 (zero) is not a valid timestamp");
}

TEST(NativeValues, CodePages) {
  // windows-1252: one byte per character, including the characters of 0x80..0x9F.
  const Field cp1252{zftNullString, 1252, 8, 0, 9};
  TByteDynArray b = Write(cp1252, Variant(u"\u00C4\u20AC\u0152x"));
  EXPECT_EQ(Hex(b), u"C4808C780000000000");
  EXPECT_EQ(Show(Read(cp1252, b)), u"OleStr:\u00C4\u20AC\u0152x");
  // A character the code page lacks becomes its replacement, no error.
  EXPECT_EQ(Hex(Write(cp1252, Variant(u"\u0416"))), u"3F0000000000000000");
  // UTF-8: two and three bytes per character, counted in bytes against the field.
  const Field utf8{zftShortString, 65001, 6, 0, 7};
  b = Write(utf8, Variant(u"\u00E9\u20AC"));
  EXPECT_EQ(Hex(b), u"05C3A9E282AC00");
  EXPECT_EQ(Show(Read(utf8, b)), u"OleStr:\u00E9\u20AC");
  // A double-byte code page: two bytes per character, counted in bytes against the field.
  if (locale::IsValidCodePage(932)) {
    const Field sjis{zftNullString, 932, 2, 0, 3};
    EXPECT_EQ(Hex(Write(sjis, Variant(u"\u3042"))), u"82A000");
    EXPECT_EQ(Show(Read(sjis, Write(sjis, Variant(u"\u3042")))), u"OleStr:\u3042");
    EXPECT_EQ(Outcome([&] { Write(sjis, Variant(u"\u3042\u3042")); }),
              u"!Exception: Source string data is too wide for the target field (2)");
    // A lead byte cut off by the terminator reads as a replacement, never past the field.
    const uint8_t cut[3] = {'a', 0x82, 0};
    Variant r;
    VariantFromBuffer(zftNullString, 932, 2, 0, cut, 3, r);
    EXPECT_EQ(r.AsString().substr(0, 1), u"a");
  }
  // Unknown code page: the conversion fails with the engine's OS error and its action.
  UnicodeString o = Outcome([&] { Write(Field{zftNullString, 1, 4, 0, 5}, Variant(u"a")); });
  EXPECT_NE(o.find(u"#11047"), UnicodeString::npos) << rtl::u8(o);
  EXPECT_NE(o.find(u"NullStringToBuffer/WideCharToMultiByte"), UnicodeString::npos) << rtl::u8(o);
  const uint8_t text[2] = {'a', 0};
  Variant v;
  o = Outcome([&] { VariantFromBuffer(zftNullString, 1, 1, 0, text, 2, v); });
  EXPECT_NE(o.find(u"VariantFromNullStringPtr/MultiByteToWideChar/1"), UnicodeString::npos) << rtl::u8(o);
}

TEST(NativeValues, SystemCodePageTextIsCountedInBytes) {
  // With a multi-byte system code page the converted bytes, not the characters, must fit: three
  // characters of two bytes each do not go into a field of 3 bytes of text.
  SystemCodePage utf8(65001);
  const Field f{zftNullString, 0, 3, 0, 4};
  TByteDynArray b(4, 0xCC);
  EXPECT_EQ(Outcome([&] { VariantToBuffer(f.type, 0, 3, 0, Variant(u"\u00E9\u00E9\u00E9"), b.data(), 4); }),
            u"!Exception: Source string data is too wide (6) for the target field (3)");
  EXPECT_EQ(Hex(b), u"00000000");  // zero-filled, nothing of the text written
  EXPECT_EQ(Outcome([&] { VariantToBuffer(zftShortString, 0, 3, 0, Variant(u"\u00E9\u00E9"), b.data(), 4); }),
            u"!Exception: Source string data is too wide (4) for the target field (3)");
  EXPECT_EQ(Hex(Write(f, Variant(u"\u00E9a"))), u"C3A96100");
  EXPECT_EQ(Show(Read(f, Write(f, Variant(u"\u00E9a")))), u"OleStr:\u00E9a");
}

TEST(NativeValues, DamagedBytesNeverReadPastTheField) {
  struct Case { const char* name; TzfFieldType type; TByteDynArray bytes; UnicodeString outcome; };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  auto dbl = [](double d) {
    TByteDynArray b(8);
    std::memcpy(b.data(), &d, 8);
    return b;
  };
  const UnicodeString corrupt = u"!EzfBaseException #8962: ZofrinDB: Corrupt file - other than header. ";
  const Case cases[] = {
      {"nullstring without terminator", zftNullString, {'a', 'b', 'c', 'd'},
       corrupt + u"Text field of 4 bytes has no terminator [$2302/8962]"},
      {"widestring without terminator", zftWideString, {'a', 0, 'b', 0},
       corrupt + u"Wide text field of 4 bytes has no terminator [$2302/8962]"},
      {"widestring odd length", zftWideString, {'a', 0, 'b'},
       corrupt + u"Wide text field of 3 bytes has no terminator [$2302/8962]"},
      {"shortstring length byte", zftShortString, {9, 'a', 'b', 'c'},
       corrupt + u"Short string length 9 exceeds its field of 4 bytes [$2302/8962]"},
      {"shortstring empty field", zftShortString, {}, u"!EzfBaseException #10001: ZofrinDB: Invalid field descriptor. "
                                                       u"Field of type 23 has 0 bytes, fewer than its value needs [$2711/10001]"},
      {"datetime NaN", zftDateTime, dbl(nan), corrupt + u"Date/time value is not a number of milliseconds [$2302/8962]"},
      {"datetime infinite", zftDateTime, dbl(INFINITY), corrupt + u"Date/time value is not a number of milliseconds [$2302/8962]"},
      {"datetime negative", zftDateTime, dbl(-5.0), corrupt + u"Date/time value -5 is before the first day [$2302/8962]"},
      {"fmtbcd digits", zftFmtBCD, {4, 0, 0x1A, 0x00}, corrupt + u"Packed decimal value is not valid [$2302/8962]"},
      {"fmtbcd precision", zftFmtBCD, {60, 0, 0x12, 0x34}, corrupt + u"Packed decimal value is not valid [$2302/8962]"},
      {"int64 short", zftInt64, {1, 2, 3}, u"!EzfBaseException #10001: ZofrinDB: Invalid field descriptor. "
                                            u"Field of type 9 has 3 bytes, fewer than its value needs [$2711/10001]"},
  };
  for (const auto& c : cases) {
    // The bytes live in an allocation of exactly their size, so any read past them is caught.
    auto* exact = new uint8_t[c.bytes.size() + (c.bytes.empty() ? 1 : 0)];
    if (!c.bytes.empty()) std::memcpy(exact, c.bytes.data(), c.bytes.size());
    Variant v;
    EXPECT_EQ(Outcome([&] { VariantFromBuffer(c.type, 0, 0, 0, exact, static_cast<int32_t>(c.bytes.size()), v); }),
              c.outcome)
        << c.name;
    delete[] exact;
  }
  // BLOB memo content is handed over by its length: without a terminator all of it is the text.
  const uint8_t memo[3] = {'a', 'b', 'c'};
  Variant v;
  VariantFromBuffer(zftBlobMemo, 0, 0, 0, memo, 3, v);
  EXPECT_EQ(Show(v), u"OleStr:abc");
  const uint8_t wmemo[4] = {'a', 0, 'b', 0};
  VariantFromBuffer(zftBlobWideMemo, 0, 0, 0, wmemo, 4, v);
  EXPECT_EQ(Show(v), u"OleStr:ab");
  // A zero-filled field (what a NULL field holds) reads as a clean value.
  const uint8_t zeros[8] = {};
  VariantFromBuffer(zftFmtBCD, 0, 10, 2, zeros, 7, v);
  EXPECT_EQ(Show(v), u"FMTBcd:0");
}

TEST(NativeValues, ByteArrays) {
  struct Case { const char* name; Field f; Variant in; UnicodeString result; };
  const Case cases[] = {
      {"nullstring", {zftNullString}, Variant(u"abc"), u"61626300"},
      {"nullstring fixed", {zftNullString, 0, 5, 5}, Variant(u"ab   "), u"616200"},
      {"nullstring utf-8", {zftNullString, 65001}, Variant(u"\u00E9"), u"C3A900"},
      {"nullstring empty", {zftNullString}, Variant(u""), u"00"},
      {"shortstring", {zftShortString}, Variant(u"ab"), u"026162"},
      {"widestring", {zftWideString}, Variant(u"a"), u"61000000"},
      {"null", {zftInt32}, Variant::Null(), u""},
      {"byte", {zftByte}, Variant(u"7"), u"07"},
      {"int16 cut to width", {zftInt16}, Variant(70000), u"7011"},
      {"int32 from longword", {zftInt32}, Variant(uint32_t{4294967295}), u"FFFFFFFF"},
      {"word32 low bits", {zftWord32}, Variant(int64_t{4294967301}), u"05000000"},
      {"double", {zftDouble}, Variant(u"0.5"), u"000000000000E03F"},
      {"extended", {zftExtended}, Variant(-2), u"000000000000008000C0"},
      {"bcd", {zftBCD, 0, 10, 2}, Variant(u"1.005"), u"1027000000000000"},  // 1.005 -> 1.00, ties to even
      {"fmtbcd", {zftFmtBCD, 0, 10, 2}, Variant(1.5), u"0A020000000150"},
      {"time literal", {zftTime}, Variant(u"'00:00:01.500'"), u"DC050000"},
      {"datetime literal", {zftDateTime}, Variant(u"0001-01-01 00:00:00"), u"0000000070999441"},
      {"guid", {zftGuid}, Variant(u"{00000001-0002-0003-0405-060708090A0B}"), u"01000000020003000405060708090A0B"},
      {"byte array", {zftByteArray}, Variant::FromBytes({9, 8}), u"0908"},
      {"byte array from text", {zftByteArray}, Variant(u"x"), u""},
  };
  for (const auto& c : cases) {
    TByteDynArray a{0xEE};
    EXPECT_EQ(Outcome([&] { VariantToByteArray(c.f.type, c.f.cp, c.f.units, c.f.decpl, a, c.in); }), u"ok") << c.name;
    EXPECT_EQ(Hex(a), c.result) << c.name;
  }
  TByteDynArray a{0xEE};
  VariantToByteArray(zftBlob, 0, 0, 0, a, Variant(u"x"));
  EXPECT_EQ(Hex(a), u"EE");  // left unchanged
  EXPECT_EQ(Outcome([&] { VariantToByteArray(zftShortString, 0, 0, 0, a, Variant(UnicodeString(256, u'a'))); }),
            u"!Exception: Source string data is too wide (256) for the target field (255)");
  EXPECT_EQ(Outcome([&] { VariantToByteArray(zftAutoInc, 0, 0, 0, a, Variant(int64_t{-1})); }),
            u"!Exception: Value out of range for the target column type: -1");
  UnicodeString o = Outcome([&] { VariantToByteArray(zftBlobGraphic, 0, 0, 0, a, Variant(1)); });
  EXPECT_EQ(o.rfind(u"!EAssertionFailed", 0), 0u);
  EXPECT_TRUE(a.empty());
}
