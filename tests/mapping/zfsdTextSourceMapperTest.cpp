// The text-source mappers: ShortString, NullString and WideString texts parsed into numbers,
// Booleans, dates, GUIDs and BCD values, or copied into byte arrays and characters, under each
// data-loss action, checked against stored bytes written out by hand.
#include <gtest/gtest.h>

#include "mapping/zfsdTextSourceMapper.h"
#include "tests/mapping/zfsdTextMapperTestUtil.h"

namespace zf::test {
namespace {

class TextSourceMapperTest : public MappingStarted {};

const TField S20{zftShortString, 20}, N20{zftNullString, 20}, W20{zftWideString, 20};

TEST_F(TextSourceMapperTest, IntegersFollowTheParsersSyntax) {
  RunTextCases({
      {S20, SS("42"), {zftInt32}, F, "2a 00 00 00"},
      {S20, SS("42"), {zftInt32}, B, "2a 00 00 00"},
      {N20, NS("42"), {zftInt32}, X, "2a 00 00 00"},
      {W20, WS(u"42"), {zftInt32}, N, "2a 00 00 00"},
      // Something after the digits, a trailing blank included, makes the text invalid; best fit
      // keeps the digits read, without the sign. Leading blanks are allowed.
      {S20, SS("42x"), {zftInt32}, F, "E"},
      {S20, SS("42x"), {zftInt32}, B, "2a 00 00 00"},
      {N20, NS("-42x"), {zftInt32}, B, "2a 00 00 00"},
      {S20, SS(" 42"), {zftInt32}, F, "2a 00 00 00"},
      {S20, SS("42 "), {zftInt32}, F, "E"},
      {S20, SS("-42"), {zftInt16}, F, "d6 ff"},
      {S20, SS("+7"), {zftInt8}, F, "07"},
      {S20, SS(""), {zftInt32}, F, "E"},
      {S20, SS(""), {zftInt32}, B, "00 00 00 00"},
      // Hexadecimal after "$", "x" or "0x"; eight digits are a 32-bit pattern.
      {S20, SS("$FF"), {zftInt32}, F, "ff 00 00 00"},
      {N20, NS("0x1f"), {zftInt32}, F, "1f 00 00 00"},
      {W20, WS(u"X10"), {zftInt32}, F, "10 00 00 00"},
      {S20, SS("$FFFFFFFF"), {zftInt32}, F, "ff ff ff ff"},
      {S20, SS("$1FFFFFFFF"), {zftInt32}, F, "E"},
      {S20, SS("99999999999"), {zftInt32}, F, "E"},
      {S20, SS("-2147483648"), {zftInt32}, F, "00 00 00 80"},
      {S20, SS("9223372036854775807"), {zftInt64}, F, "ff ff ff ff ff ff ff 7f"},
      {S20, SS("99999999999"), {zftInt64}, F, "ff e7 76 48 17 00 00 00"},
      // Out of the target's range: refused, or brought to the nearest limit.
      {S20, SS("300"), {zftInt8}, F, "E"},
      {S20, SS("300"), {zftInt8}, B, "7f"},
      {S20, SS("-300"), {zftInt8}, B, "80"},
      {S20, SS("70000"), {zftWord16}, F, "E"},
      {S20, SS("70000"), {zftWord16}, B, "ff ff"},
      {S20, SS("-1"), {zftWord16}, B, "00 00"},
      // Word32, AutoInc and RecRev: a range error for a value outside 0..4294967295.
      {S20, SS("4294967295"), {zftWord32}, F, "ff ff ff ff"},
      {S20, SS("-1"), {zftWord32}, F, "!range"},
      {S20, SS("-1"), {zftAutoInc}, B, "!range"},
      {S20, SS("4294967296"), {zftRecRev}, F, "!range"},
      {S20, SS("abc"), {zftWord32}, F, "E"},
      {S20, SS("abc"), {zftWord32}, B, "00 00 00 00"},
      // Byte: an invalid text is 0 under every action; out of range refused or a range error.
      {S20, SS("255"), {zftByte}, F, "ff"},
      {S20, SS("abc"), {zftByte}, F, "00"},
      {S20, SS("abc"), {zftByte}, B, "00"},
      {S20, SS("300"), {zftByte}, F, "E"},
      {S20, SS("300"), {zftByte}, B, "!range"},
      {W20, WS(u"42"), {zftByte}, F, "2a"},
  });
}

TEST_F(TextSourceMapperTest, FloatsAlwaysReadAPoint) {
  RunTextCases({
      {S20, SS("3.5"), {zftDouble}, F, "00 00 00 00 00 00 0c 40"},
      {S20, SS("3,5"), {zftDouble}, F, "E"},
      {S20, SS("3,5"), {zftDouble}, B, "00 00 00 00 00 00 08 40"},
      // A German source locale still reads the point.
      {{zftShortString, 20, 0, 0, 1031}, SS("3.5"), {zftDouble}, F, "00 00 00 00 00 00 0c 40"},
      {N20, NS("1.5"), {zftSingle}, F, "00 00 c0 3f"},
      {W20, WS(u"1.5"), {zftExtended}, F, "00 00 00 00 00 00 00 c0 ff 3f"},
      {S20, SS("-0.25e1"), {zftDouble}, F, "00 00 00 00 00 00 04 c0"},
      {S20, SS("abc"), {zftDouble}, B, "00 00 00 00 00 00 00 00"},
      {S20, SS("abc"), {zftDouble}, F, "E"},
      // Beyond the target's range: refused, or its largest value.
      {S20, SS("1e999"), {zftDouble}, F, "E"},
      {S20, SS("1e999"), {zftDouble}, B, "ff ff ff ff ff ff ef 7f"},
      {S20, SS("-1e39"), {zftSingle}, B, "ff ff 7f ff"},
      {S20, SS("1e39"), {zftSingle}, F, "E"},
      {S20, SS("1e-999"), {zftDouble}, F, "00 00 00 00 00 00 00 00"},
      // Currency: value x 10000 rounded to the nearest.
      {S20, SS("1.23456"), {zftCurrency}, F, "3a 30 00 00 00 00 00 00"},
      {S20, SS("-42"), {zftCurrency}, F, "60 97 f9 ff ff ff ff ff"},
      {S20, SS("abc"), {zftCurrency}, B, "00 00 00 00 00 00 00 00"},
      {S20, SS("abc"), {zftCurrency}, F, "E"},
      {S20, SS("1e300"), {zftCurrency}, F, "E"},
      {S20, SS("1e300"), {zftCurrency}, B, "ff ff ff ff ff ff ff 7f"},
  });
}

TEST_F(TextSourceMapperTest, BcdIsNormalisedToTheTargetsPrecisionAndScale) {
  RunTextCases({
      {S20, SS("12.5"), {zftBCD, 5, 2}, F, "48 e8 01 00 00 00 00 00"},
      {S20, SS("123.45"), {zftBCD, 5, 2}, F, "44 d6 12 00 00 00 00 00"},
      {S20, SS("123.456"), {zftBCD, 5, 2}, F, "E"},
      {S20, SS("123.456"), {zftBCD, 5, 2}, B, "44 d6 12 00 00 00 00 00"},
      {S20, SS("1234.5"), {zftBCD, 5, 2}, F, "E"},
      {S20, SS("x"), {zftBCD, 5, 2}, F, "E"},
      {S20, SS("x"), {zftBCD, 5, 2}, B, "00 00 00 00 00 00 00 00"},
      {W20, WS(u"12.5"), {zftBCD, 5, 2}, X, "48 e8 01 00 00 00 00 00"},
  });
}

TEST_F(TextSourceMapperTest, BooleanWordsAndAnythingElse) {
  RunTextCases({
      {S20, SS("yes"), {zftBoolean}, F, "ff"},
      {S20, SS("yes"), {zftBoolean}, B, "ff"},
      {N20, NS("TRUE"), {zftBoolean}, F, "ff"},
      {W20, WS(u"tRuE"), {zftBoolean}, X, "ff"},
      {S20, SS("1"), {zftBoolean}, F, "ff"},
      {S20, SS("f"), {zftBoolean}, F, "00"},
      {S20, SS("No"), {zftBoolean}, F, "00"},
      {S20, SS("0"), {zftBoolean}, F, "00"},
      {S20, SS("maybe"), {zftBoolean}, B, "00"},
      {S20, SS("maybe"), {zftBoolean}, F, "E"},
      {S20, SS(" 1"), {zftBoolean}, F, "E"},
      {S20, SS(""), {zftBoolean}, B, "00"},
      {S20, SS(""), {zftBoolean}, F, "E"},
  });
}

TEST_F(TextSourceMapperTest, DatesAndTimesFollowTheSourceLocale) {
  const TField german{zftShortString, 20, 0, 0, 1031};
  RunTextCases({
      // 31 December 2020 is day 737790; 13:45:30 is 49530000 ms.
      {S20, SS("12/31/2020"), {zftDate}, F, "fe 41 0b 00"},
      {german, SS("31.12.2020"), {zftDate}, F, "fe 41 0b 00"},
      {german, SS("12/31/2020"), {zftDate}, F, "E"},
      {S20, SS("garbage"), {zftDate}, B, "01 00 00 00"},
      {S20, SS("garbage"), {zftDate}, F, "E"},
      {S20, SS("13:45:30"), {zftTime}, F, "90 c4 f3 02"},
      {W20, WS(u"13:45:30"), {zftTime}, B, "90 c4 f3 02"},
      {S20, SS("xx"), {zftTime}, B, "00 00 00 00"},
      {S20, SS("xx"), {zftTime}, F, "E"},
      {S20, SS("12/31/2020 13:45:30"), {zftDateTime}, F, "00 48 86 2f e8 fc cc 42"},
      {S20, SS("garbage"), {zftDateTime}, B, "00 00 00 00 70 99 94 41"},
      {S20, SS("garbage"), {zftDateTime}, F, "E"},
  });
}

TEST_F(TextSourceMapperTest, GuidsByteArraysAndCharacters) {
  const std::string guid = "{00112233-4455-6677-8899-AABBCCDDEEFF}";
  const std::string guidBytes = "33 22 11 00 55 44 77 66 88 99 aa bb cc dd ee ff";
  const std::string zeros = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
  RunTextCases({
      {{zftShortString, 40}, SS(guid), {zftGuid}, F, guidBytes},
      {{zftNullString, 40}, NS(guid), {zftGuid}, B, guidBytes},
      {{zftWideString, 40}, WS(u"{00112233-4455-6677-8899-aabbccddeeff}"), {zftGuid}, F, guidBytes},
      {S20, SS("nope"), {zftGuid}, B, zeros},
      {S20, SS("nope"), {zftGuid}, F, "E"},
      // Byte arrays: the text's bytes, 8-bit as stored, wide text low byte first.
      {S20, SS("abcdef"), {zftByteArray, 4}, B, "61 62 63 64"},
      {S20, SS("abcdef"), {zftByteArray, 4}, F, "E"},
      {N20, NS("ab"), {zftByteArray, 4}, F, "61 62 ee ee"},
      {W20, WS(u"abc"), {zftByteArray, 4}, B, "61 00 62 00"},
      {W20, WS(u"abc"), {zftByteArray, 4}, F, "E"},
      {W20, WS(u"a"), {zftByteArray, 4}, F, "61 00 ee ee"},
      // Characters: the first byte or unit; the empty text gives 0.
      {S20, SS("abc"), {zftChar}, F, "61"},
      {S20, SS(""), {zftChar}, B, "00"},
      {{zftNullString, 20, 0, 1251}, NS("\xC6"), {zftChar, 0, 0, 1252}, F, "3f"},
      {{zftNullString, 20, 0, 1252}, NS("\xE9"), {zftChar, 0, 0, 65001}, F, "c3"},
      {{zftNullString, 20, 0, 1252}, NS("\xE9"), {zftChar, 0, 0, 1252}, F, "e9"},
      {W20, WS(u"\u00E9"), {zftChar, 0, 0, 1252}, F, "e9"},
      {W20, WS(u"\u00E9x"), {zftChar}, F, "e9"},
      {W20, WS(u""), {zftChar}, F, "00"},
      {{zftShortString, 20, 0, 1251}, SS("\xC6x"), {zftWideChar}, F, "16 04"},
      {S20, SS("\xE9"), {zftWideChar}, B, "e9 00"},
      {S20, SS(""), {zftWideChar}, F, "00 00"},
      {W20, WS(u"AB"), {zftWideChar}, B, "41 00"},
      {W20, WS(u"AB"), {zftWideChar}, F, "E"},
      {W20, WS(u"A"), {zftWideChar}, F, "41 00"},
      {W20, WS(u""), {zftWideChar}, F, "00 00"},
  });
}

// Records of a damaged file: the text is read no further than the field holds.
TEST_F(TextSourceMapperTest, DamagedTextIsClampedToTheSourceField) {
  RunTextCases({
      {{zftShortString, 5}, "\xC8" "12345678", {zftInt32}, F, "39 30 00 00"},
      {{zftNullString, 3}, "1234", {zftInt32}, F, "7b 00 00 00"},
      {{zftWideString, 2}, std::string("1\0" "2\0" "3\0", 6), {zftInt32}, F, "0c 00 00 00"},
      {{zftNullString, 3}, "abcd", {zftByteArray, 8}, F, "61 62 63 ee ee ee ee ee"},
  });
}

// A NullString text of more than 254 characters is refused with the mapping error, not an
// operating-system error, under every action; a wide text has no such limit but where it is read
// as 8-bit text of at most 255 bytes.
TEST_F(TextSourceMapperTest, TooLongTextsAreRefusedWithTheMappingError) {
  const std::string padded = std::string(250, ' ') + "42", longer = std::string(298, ' ') + "42";
  const std::u16string widePadded(298, u' ');
  RunTextCases({
      {{zftNullString, 300}, NS(padded), {zftInt32}, F, "2a 00 00 00"},
      {{zftNullString, 300}, NS(longer), {zftInt32}, F, "E"},
      {{zftNullString, 300}, NS(longer), {zftInt32}, B, "E"},
      {{zftNullString, 300}, NS(longer), {zftDate}, B, "E"},
      {{zftNullString, 300}, NS(longer), {zftDouble}, B, "E"},
      // Byte, Boolean and the byte array read the 8-bit text itself.
      {{zftNullString, 300}, NS(longer), {zftBoolean}, B, "00"},
      {{zftWideString, 300}, WS(widePadded + u"42"), {zftInt32}, F, "2a 00 00 00"},
      {{zftWideString, 300}, WS(widePadded + u"42"), {zftByte}, F, "E"},
      {{zftWideString, 300}, WS(widePadded + u"42"), {zftBoolean}, B, "E"},
      {{zftWideString, 300}, WS(widePadded + u"42"), {zftBCD, 5, 2}, B, "E"},
  });
}

TEST_F(TextSourceMapperTest, TheTwentyTwoTargetsAreOfferedUnderEveryAction) {
  const TzfFieldType sources[] = {zftShortString, zftNullString, zftWideString};
  const char16_t* names[] = {u"TzfShortStringMapper", u"TzfNullStringMapper", u"TzfWideStringMapper"};
  for (size_t i = 0; i < 3; ++i)
    for (int t = 0; t < zfFieldTypeCount; ++t) {
      const auto type = static_cast<TzfFieldType>(t);
      const bool offered = !(type == zftInterval || zfIsBlobType(type) || type == zftFmtBCD ||
                             type == zftShortString || type == zftNullString || type == zftWideString);
      if (!offered) continue;
      for (TAct act : {F, N, B, X})
        EXPECT_NE(MapText({sources[i], 10}, "", {type, type == zftBCD ? 5 : 4}, act), "-") << i << " -> " << t;
      const auto cell = zfFieldMapperCell(sources[i], type);
      ASSERT_FALSE(cell.empty());
      EXPECT_EQ(rtl::UnicodeString(cell.back()->Name), names[i]);
    }
}

TEST(TextParsers, IntegerAndFloatSyntax) {
  const struct {
    const char16_t* Text;
    bool Valid64;
    int64_t Value;
  } ints[] = {
      {u"0", true, 0},          {u"  -12", true, -12},       {u"$ff", true, 255},      {u"0X7fffffffffffffff", true, INT64_MAX},
      {u"12a", false, 12},      {u"-", false, 0},            {u"$", false, 0},         {u"1 2", false, 1},
      {u"\t1", false, 0},       {u"9223372036854775808", false, 922337203685477580},
      {u"-9223372036854775808", true, INT64_MIN},
  };
  for (const auto& c : ints) {
    int64_t v = -7;
    EXPECT_EQ(zfParseTextInteger(c.Text, true, v), c.Valid64) << rtl::u8(c.Text);
    EXPECT_EQ(v, c.Value) << rtl::u8(c.Text);
  }
  const struct {
    const char16_t* Text;
    bool Valid;
    long double Value;
  } floats[] = {
      {u"1.5", true, 1.5L},  {u" -2", true, -2.0L}, {u".5", true, 0.5L},     {u"5.", true, 5.0L},
      {u"2e3", true, 2000},  {u"2e", false, 2.0L},  {u"1.5.1", false, 1.5L}, {u"", false, 0},
      {u"e5", false, 0},     {u"+3E-1", true, 0.3L},
  };
  for (const auto& c : floats) {
    long double v = -7;
    EXPECT_EQ(zfParseTextFloat(c.Text, v), c.Valid) << rtl::u8(c.Text);
    EXPECT_NEAR(static_cast<double>(v), static_cast<double>(c.Value), 1e-12) << rtl::u8(c.Text);
  }
}

}  // namespace
}  // namespace zf::test
