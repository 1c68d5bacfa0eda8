// The string-to-string mappers: texts between ShortString, NullString and WideString fields under
// each data-loss action, with and without code-page conversion, checked against the target
// field's bytes written out by hand (length byte or terminator, text, untouched bytes as ee).
#include <gtest/gtest.h>

#include "mapping/zfsdStringMapper.h"
#include "tests/mapping/zfsdTextMapperTestUtil.h"

namespace zf::test {
namespace {

class StringMapperTest : public MappingStarted {};

constexpr TzfFieldType SSt = zftShortString, NSt = zftNullString, WSt = zftWideString;

TEST_F(StringMapperTest, PlainCopiesCutOrCheckAtTheTargetsRoom) {
  RunTextCases({
      // A 10-character text fits ShortString[10]; an 11-character one does not.
      {{SSt, 20}, SS("abcdefghij"), {SSt, 10}, F, "0a 61 62 63 64 65 66 67 68 69 6a"},
      {{SSt, 20}, SS("abcdefghijk"), {SSt, 10}, F, "E"},
      {{SSt, 20}, SS("abcdefghijk"), {SSt, 10}, N, "E"},
      {{SSt, 20}, SS("abcdefghijk"), {SSt, 10}, X, "E"},
      {{SSt, 20}, SS("abcdefghijk"), {SSt, 10}, B, "0a 61 62 63 64 65 66 67 68 69 6a"},
      // Same length and code page: copied whole under every action.
      {{NSt, 5}, NS("abcde"), {NSt, 5}, F, "61 62 63 64 65 00"},
      {{NSt, 5}, NS("abcde"), {NSt, 5}, B, "61 62 63 64 65 00"},
      {{SSt, 3}, SS("abc"), {SSt, 5}, F, "03 61 62 63 ee ee"},
      {{SSt, 5}, SS("abcde"), {NSt, 3}, F, "E"},
      {{SSt, 5}, SS("abcde"), {NSt, 3}, B, "61 62 63 00"},
      {{NSt, 6}, NS("abcd"), {SSt, 3}, F, "E"},
      {{NSt, 6}, NS("abcd"), {SSt, 3}, B, "03 61 62 63"},
      {{NSt, 6}, NS("abc"), {SSt, 3}, F, "03 61 62 63"},
      // WideString into WideString: shorter targets check or cut, longer ones take everything.
      {{WSt, 5}, WS(u"abcde"), {WSt, 3}, F, "E"},
      {{WSt, 5}, WS(u"abcde"), {WSt, 3}, B, "61 00 62 00 63 00 00 00"},
      {{WSt, 5}, WS(u"abc"), {WSt, 3}, F, "61 00 62 00 63 00 00 00"},
      {{WSt, 3}, WS(u"abc"), {WSt, 5}, F, "61 00 62 00 63 00 00 00 ee ee ee ee"},
  });
}

TEST_F(StringMapperTest, TrailingBlanksGoOnlyFromVariableIntoFixed) {
  RunTextCases({
      // "ab  " into a fixed target of 2 units: trimmed before the check, so it fits.
      {{SSt, 10}, SS("ab  "), {SSt, 2, 2}, F, "02 61 62"},
      {{SSt, 10}, SS("ab  "), {NSt, 2, 2}, F, "61 62 00"},
      {{NSt, 10}, NS("ab  "), {WSt, 2, 2}, F, "61 00 62 00 00 00"},
      {{WSt, 10}, WS(u"ab  "), {NSt, 2, 2}, F, "61 62 00"},
      {{WSt, 10}, WS(u"ab  "), {WSt, 2, 2}, F, "61 00 62 00 00 00"},
      // The same into a variable-length target of 2 units does not fit.
      {{SSt, 10}, SS("ab  "), {SSt, 2}, F, "E"},
      {{WSt, 10}, WS(u"ab  "), {WSt, 2}, F, "E"},
      // Best fit cuts to the room first, then drops the blanks the cut leaves at the end.
      {{SSt, 10}, SS("a  bc"), {SSt, 3, 3}, B, "01 61 ee ee"},
      // A fixed source keeps its blanks in a variable target.
      {{SSt, 4, 4}, SS("ab  "), {NSt, 6}, F, "61 62 20 20 00 ee ee"},
      {{WSt, 4, 4}, WS(u"ab  "), {WSt, 6}, F, "61 00 62 00 20 00 20 00 00 00 ee ee ee ee"},
      // Blanks only, variable into fixed: the empty text for every class and action.
      {{SSt, 5}, SS("   "), {SSt, 5, 5}, F, "00 ee ee ee ee ee"},
      {{SSt, 5}, SS("   "), {NSt, 5, 5}, B, "00 ee ee ee ee ee"},
      {{NSt, 5}, NS("   "), {NSt, 5, 5}, F, "00 ee ee ee ee ee"},
      {{NSt, 5}, NS("   "), {SSt, 5, 5}, X, "00 ee ee ee ee ee"},
      {{NSt, 5}, NS("   "), {WSt, 3, 3}, F, "00 00 ee ee ee ee ee ee"},
      {{WSt, 5}, WS(u"   "), {NSt, 3, 3}, F, "00 ee ee ee"},
      {{WSt, 5}, WS(u"   "), {WSt, 3, 3}, B, "00 00 ee ee ee ee ee ee"},
      {{SSt, 5, 0, 1252}, SS("   "), {SSt, 5, 5, 1251}, F, "00 ee ee ee ee ee"},
  });
}

TEST_F(StringMapperTest, EmptyTextsStayEmptyEverywhere) {
  RunTextCases({
      {{SSt, 5}, SS(""), {SSt, 5}, F, "00 ee ee ee ee ee"},
      {{SSt, 5}, SS(""), {NSt, 2}, F, "00 ee ee"},
      {{NSt, 5}, NS(""), {SSt, 2}, B, "00 ee ee"},
      {{NSt, 5}, NS(""), {WSt, 2}, F, "00 00 ee ee ee ee"},
      {{WSt, 5}, WS(u""), {SSt, 2}, F, "00 ee ee"},
      {{WSt, 5}, WS(u""), {WSt, 2}, B, "00 00 ee ee ee ee"},
      {{SSt, 5, 0, 1252}, SS(""), {NSt, 2, 0, 1251}, F, "00 ee ee"},
  });
}

TEST_F(StringMapperTest, CodePagesConvertCutAtCharactersOrRefuse) {
  RunTextCases({
      // U+00E9 from windows-1252 into UTF-8 with room for one byte: it needs two.
      {{SSt, 5, 0, 1252}, SS("\xE9"), {SSt, 1, 0, 65001}, B, "00 ee"},
      {{SSt, 5, 0, 1252}, SS("\xE9"), {SSt, 1, 0, 65001}, F, "E:00 ee"},
      {{SSt, 5, 0, 1252}, SS("\xE9"), {SSt, 2, 0, 65001}, F, "02 c3 a9"},
      // Cyrillic Zhe from windows-1251 into UTF-8, and into windows-1252 which lacks it.
      {{NSt, 5, 0, 1251}, NS("\xC6"), {NSt, 5, 0, 65001}, F, "d0 96 00 ee ee ee"},
      {{NSt, 5, 0, 1251}, NS("\xC6z"), {NSt, 5, 0, 1252}, F, "3f 7a 00 ee ee ee"},
      // The same multi-byte code page with a shorter target: cut at a character, never inside.
      {{NSt, 10, 0, 65001}, NS("a\xC3\xA9\xC3\xA9"), {NSt, 4, 0, 65001}, B, "61 c3 a9 00 ee"},
      {{NSt, 10, 0, 65001}, NS("a\xC3\xA9\xC3\xA9"), {NSt, 4, 0, 65001}, F, "E:00 ee ee ee ee"},
      {{NSt, 10, 0, 65001}, NS("a\xC3\xA9"), {NSt, 4, 0, 65001}, F, "61 c3 a9 00 ee"},
      // The same single-byte code page copies bytes.
      {{NSt, 10, 0, 1252}, NS("\xE9\xE9\xE9"), {NSt, 2, 0, 1252}, B, "e9 e9 00"},
      // A field without a locale: 8-bit text is copied as it is.
      {{SSt, 5, 0, 1251}, SS("\xC6"), {SSt, 5}, F, "01 c6 ee ee ee ee"},
      {{NSt, 5}, NS("\xE9"), {SSt, 5, 0, 65001}, F, "01 e9 ee ee ee ee"},
  });
}

TEST_F(StringMapperTest, WideTextIsEncodedWithTheTargetOrTheProcesssCodePage) {
  RunTextCases({
      // Euro sign and Zhe into windows-1252: the euro is 0x80, Zhe becomes the default character.
      {{WSt, 5}, WS(u"\u20AC\u0416"), {NSt, 5, 0, 1252}, F, "80 3f 00 ee ee ee"},
      // No locale on the target: the process's ANSI code page (windows-1252 here).
      {{WSt, 5}, WS(u"\u00E9"), {NSt, 3}, F, "e9 00 ee ee"},
      {{WSt, 5}, WS(u"\u00E9"), {SSt, 3, 0, 65001}, F, "02 c3 a9 ee"},
      {{WSt, 5}, WS(u"abcde"), {SSt, 3}, F, "E:00 ee ee ee"},
      {{WSt, 5}, WS(u"abcde"), {SSt, 3}, B, "03 61 62 63"},
      // A surrogate pair is kept or dropped whole.
      {{WSt, 5}, WS(u"a\U0001F600"), {NSt, 4, 0, 65001}, B, "61 00 ee ee ee"},
      {{WSt, 5}, WS(u"a\U0001F600"), {NSt, 5, 0, 65001}, B, "61 f0 9f 98 80 00"},
      // 8-bit into wide: decoded with the source's code page, else the process's.
      {{NSt, 5, 0, 1251}, NS("\xC6"), {WSt, 2}, F, "16 04 00 00 ee ee"},
      {{NSt, 5}, NS("\xE9"), {WSt, 2}, F, "e9 00 00 00 ee ee"},
      {{NSt, 10}, NS("abcdef"), {WSt, 3}, F, "E:00 00 ee ee ee ee ee ee"},
      {{NSt, 10}, NS("abcdef"), {WSt, 3}, B, "61 00 62 00 63 00 00 00"},
      {{SSt, 10, 0, 65001}, SS("\xC3\xA9\xC3\xA9"), {WSt, 1}, B, "e9 00 00 00"},
  });
  TAnsiCodePage cyrillic(1251);
  RunTextCases({
      {{NSt, 5}, NS("\xC6"), {WSt, 2}, F, "16 04 00 00 ee ee"},
      {{WSt, 5}, WS(u"\u0416"), {NSt, 2}, F, "c6 00 ee"},
  });
}

// Records of a damaged file: a length byte above the units, or no terminator inside the field,
// is read as the field's room and never beyond it.
TEST_F(StringMapperTest, DamagedTextIsClampedToTheSourceField) {
  RunTextCases({
      {{SSt, 3}, "\xC8" "abc", {SSt, 10}, F, "03 61 62 63 ee ee ee ee ee ee ee"},
      {{SSt, 3}, "\xC8" "abc", {NSt, 10}, F, "61 62 63 00 ee ee ee ee ee ee ee"},
      {{SSt, 3, 0, 1252}, "\xFF" "\xE9" "bc", {NSt, 10, 0, 65001}, F, "c3 a9 62 63 00 ee ee ee ee ee ee"},
      {{SSt, 3}, "\xC8" "abc", {WSt, 4}, F, "61 00 62 00 63 00 00 00 ee ee"},
      {{NSt, 3}, "abcd", {NSt, 10}, F, "61 62 63 00 ee ee ee ee ee ee ee"},
      {{NSt, 3}, "abcd", {SSt, 5}, B, "03 61 62 63 ee ee"},
      {{NSt, 3, 0, 1252}, "abcd", {WSt, 5}, F, "61 00 62 00 63 00 00 00 ee ee ee ee"},
      {{WSt, 2}, std::string("a\0b\0c\0", 6), {WSt, 5}, F, "61 00 62 00 00 00 ee ee ee ee ee ee"},
      {{WSt, 2}, std::string("a\0b\0c\0", 6), {NSt, 5}, F, "61 62 00 ee ee ee"},
  });
}

TEST_F(StringMapperTest, AnUnknownTargetCodePageFailsTheConstruction) {
  EXPECT_EQ(MapText({SSt, 5, 0, 1252}, SS("a"), {SSt, 5, 0, 12345}, F), "!11047");
}

TEST_F(StringMapperTest, EveryTextPairHasItsClassAndAMethodUnderEveryAction) {
  const struct {
    TzfFieldType Source, Target;
    const char16_t* Class;
  } pairs[] = {
      {SSt, SSt, u"TzfShortStringToShortStringMapper"}, {SSt, NSt, u"TzfShortStringToNullStringMapper"},
      {SSt, WSt, u"TzfAnsiStringToWideStringMapper"},   {NSt, SSt, u"TzfNullStringToShortStringMapper"},
      {NSt, NSt, u"TzfNullStringToNullStringMapper"},   {NSt, WSt, u"TzfAnsiStringToWideStringMapper"},
      {WSt, SSt, u"TzfWideStringToAnsiStringMapper"},   {WSt, NSt, u"TzfWideStringToAnsiStringMapper"},
      {WSt, WSt, u"TzfWideStringToWideStringMapper"},
  };
  for (const auto& p : pairs) {
    const auto cell = zfFieldMapperCell(p.Source, p.Target);
    ASSERT_FALSE(cell.empty());
    EXPECT_EQ(rtl::UnicodeString(cell.back()->Name), p.Class);
    for (TAct act : {F, N, B, X}) EXPECT_NE(MapText({p.Source, 4}, "", {p.Target, 4}, act), "-");
  }
}

}  // namespace
}  // namespace zf::test
