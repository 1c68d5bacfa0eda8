// The character mappers: a Char or WideChar into numbers, Booleans, byte arrays, the other
// character type and text, under each data-loss action, checked against stored bytes written
// out by hand.
#include <gtest/gtest.h>

#include "mapping/zfsdCharMapper.h"
#include "tests/mapping/zfsdTextMapperTestUtil.h"

namespace zf::test {
namespace {

class CharMapperTest : public MappingStarted {};

const TField Ch{zftChar}, WCh{zftWideChar};
// A WideChar field's two bytes.
std::string U(char16_t aUnit) { return {static_cast<char>(aUnit & 0xFF), static_cast<char>(aUnit >> 8)}; }

TEST_F(CharMapperTest, DigitsBecomeNumbersAndOtherCharactersDoNot) {
  RunTextCases({
      {Ch, "7", {zftInt32}, F, "07 00 00 00"},
      {Ch, "x", {zftInt32}, F, "E"},
      {Ch, "x", {zftInt32}, X, "E"},
      {Ch, "x", {zftInt32}, B, "00 00 00 00"},
      {Ch, " ", {zftInt32}, F, "E"},
      {Ch, "-", {zftInt8}, F, "E"},
      {Ch, std::string(1, '\0'), {zftByte}, F, "E"},
      {Ch, "9", {zftByte}, F, "09"},
      {Ch, "9", {zftInt8}, N, "09"},
      {Ch, "9", {zftWord16}, F, "09 00"},
      {Ch, "9", {zftInt16}, F, "09 00"},
      {Ch, "9", {zftWord32}, F, "09 00 00 00"},
      {Ch, "9", {zftAutoInc}, F, "09 00 00 00"},
      {Ch, "9", {zftRecRev}, B, "09 00 00 00"},
      {Ch, "9", {zftInt64}, F, "09 00 00 00 00 00 00 00"},
      {Ch, "9", {zftSingle}, F, "00 00 10 41"},
      {Ch, "9", {zftDouble}, F, "00 00 00 00 00 00 22 40"},
      {Ch, "9", {zftExtended}, F, "00 00 00 00 00 00 00 90 02 40"},
      {Ch, "z", {zftDouble}, B, "00 00 00 00 00 00 00 00"},
      // Currency and BCD hold the value x 10000: 5 is 50000 (0xC350).
      {Ch, "5", {zftCurrency}, F, "50 c3 00 00 00 00 00 00"},
      {Ch, "5", {zftBCD, 5, 2}, F, "50 c3 00 00 00 00 00 00"},
      {Ch, "a", {zftBCD, 5, 2}, F, "E"},
      {WCh, U(u'5'), {zftInt16}, F, "05 00"},
      {WCh, U(u'0'), {zftWord32}, F, "00 00 00 00"},
      {WCh, U(u'x'), {zftDouble}, F, "E"},
      {WCh, U(u'x'), {zftDouble}, B, "00 00 00 00 00 00 00 00"},
      // A fullwidth digit is no digit.
      {WCh, U(u'\uFF15'), {zftInt32}, F, "E"},
      {WCh, U(u'3'), {zftCurrency}, B, "30 75 00 00 00 00 00 00"},
  });
}

TEST_F(CharMapperTest, BooleansReadFixedLettersAndDigits) {
  RunTextCases({
      {Ch, "f", {zftBoolean}, B, "ff"},
      {Ch, "f", {zftBoolean}, F, "E"},
      {Ch, "F", {zftBoolean}, F, "00"},
      {Ch, "N", {zftBoolean}, B, "00"},
      {Ch, "0", {zftBoolean}, X, "00"},
      {Ch, "Y", {zftBoolean}, F, "ff"},
      {Ch, "T", {zftBoolean}, N, "ff"},
      {Ch, "1", {zftBoolean}, F, "ff"},
      {Ch, "x", {zftBoolean}, B, "ff"},
      {Ch, "x", {zftBoolean}, F, "E"},
      {WCh, U(u'T'), {zftBoolean}, B, "00"},
      {WCh, U(u'T'), {zftBoolean}, F, "E"},
      {WCh, U(u'7'), {zftBoolean}, B, "ff"},
      {WCh, U(u'7'), {zftBoolean}, F, "E"},
      {WCh, U(u'1'), {zftBoolean}, F, "ff"},
      {WCh, U(u'0'), {zftBoolean}, F, "00"},
      {WCh, U(u'0'), {zftBoolean}, B, "00"},
  });
}

TEST_F(CharMapperTest, ByteArraysTakeTheRawBytes) {
  RunTextCases({
      {Ch, "A", {zftByteArray, 3}, F, "41 ee ee"},
      {Ch, "\xE9", {zftByteArray, 1}, B, "e9"},
      {WCh, U(u'A'), {zftByteArray, 4}, F, "41 00 ee ee"},
      {WCh, U(u'\u0141'), {zftByteArray, 2}, F, "41 01"},
      // A one-byte array holds the low byte only.
      {WCh, U(u'\u0141'), {zftByteArray, 1}, B, "41"},
      {WCh, U(u'\u0141'), {zftByteArray, 1}, F, "E"},
      {WCh, U(u'A'), {zftByteArray, 1}, F, "41"},
  });
}

TEST_F(CharMapperTest, CharactersPassThroughTheCodePages) {
  RunTextCases({
      // Same code page or either without one: the byte as it is, also above 127.
      {{zftChar, 0, 0, 1252}, "\xE9", {zftChar, 0, 0, 1252}, F, "e9"},
      {Ch, "\xE9", {zftChar, 0, 0, 1251}, F, "e9"},
      {{zftChar, 0, 0, 1251}, "\xE9", Ch, B, "e9"},
      // Different code pages: re-encoded into one byte, or 10002.
      {{zftChar, 0, 0, 1251}, "\xC6", {zftChar, 0, 0, 1252}, F, "3f"},
      {{zftChar, 0, 0, 1252}, "\xE9", {zftChar, 0, 0, 65001}, F, "E"},
      {{zftChar, 0, 0, 1252}, "\xE9", {zftChar, 0, 0, 65001}, B, "E"},
      {{zftChar, 0, 0, 1252}, std::string(1, '\0'), {zftChar, 0, 0, 65001}, F, "00"},
      // Into wide characters with the source's code page, else the process's.
      {{zftChar, 0, 0, 1251}, "\xC6", WCh, F, "16 04"},
      {Ch, "\xE9", WCh, F, "e9 00"},
      {Ch, "\xE9", {zftWideString, 1}, F, "e9 00 00 00"},
      {Ch, std::string(1, '\0'), {zftWideString, 2}, F, "00 00 ee ee ee ee"},
      // Into 8-bit text without conversion: a ShortString holds even the 0 byte.
      {Ch, std::string(1, '\0'), {zftShortString, 3}, F, "01 00 ee ee"},
      {Ch, std::string(1, '\0'), {zftNullString, 3}, F, "00 ee ee ee"},
      {Ch, "a", {zftNullString, 3}, F, "61 00 ee ee"},
      // With conversion, and with a target too small for the character.
      {{zftChar, 0, 0, 1252}, "\xE9", {zftShortString, 3, 0, 65001}, F, "02 c3 a9 ee"},
      {{zftChar, 0, 0, 1252}, "\xE9", {zftShortString, 1, 0, 65001}, F, "E"},
      {{zftChar, 0, 0, 1252}, "\xE9", {zftShortString, 1, 0, 65001}, B, "00 ee"},
      {{zftChar, 0, 0, 1252}, std::string(1, '\0'), {zftNullString, 1, 0, 65001}, F, "00 ee"},
      // A text target with no room: never written past its end.
      {Ch, "a", {zftShortString, 0}, F, "E"},
      {Ch, "a", {zftShortString, 0}, B, "00"},
      {Ch, "a", {zftNullString, 0}, F, "E"},
      {Ch, "a", {zftWideString, 0}, F, "E"},
      {Ch, "a", {zftWideString, 0}, B, "00 00"},
      {WCh, U(u'a'), {zftWideString, 0}, F, "E"},
      {WCh, U(u'a'), {zftWideString, 0}, B, "00 00"},
      // WideChar: copied, or encoded with the target code page (the process's without one).
      {WCh, U(u'\u0416'), WCh, F, "16 04"},
      {WCh, U(u'A'), {zftWideString, 1}, F, "41 00 00 00"},
      {WCh, U(u'\u00E9'), Ch, F, "e9"},
      {WCh, U(u'\u00E9'), {zftChar, 0, 0, 1252}, B, "e9"},
      {WCh, U(u'\u0416'), {zftChar, 0, 0, 1252}, F, "3f"},
      {WCh, U(u'\u00E9'), {zftChar, 0, 0, 65001}, F, "E"},
      {WCh, U(u'\u00E9'), {zftChar, 0, 0, 65001}, B, "3f"},
      {WCh, U(u'\0'), {zftChar, 0, 0, 65001}, F, "00"},
      {WCh, U(u'\u00E9'), {zftNullString, 1, 0, 65001}, F, "E"},
      {WCh, U(u'\u00E9'), {zftNullString, 1, 0, 65001}, B, "00 ee"},
      {WCh, U(u'\u00E9'), {zftNullString, 2, 0, 65001}, F, "c3 a9 00"},
      {WCh, U(u'\u00E9'), {zftShortString, 2}, X, "01 e9 ee"},
      {WCh, U(u'\0'), {zftShortString, 3}, F, "00 ee ee ee"},
  });
}

TEST_F(CharMapperTest, OnlyTheTwentyOneTargetsAreOffered) {
  for (TField source : {Ch, WCh})
    for (int t = 0; t < zfFieldTypeCount; ++t) {
      const auto type = static_cast<TzfFieldType>(t);
      const bool offered = !(type == zftDate || type == zftTime || type == zftDateTime || type == zftInterval ||
                             zfIsBlobType(type) || type == zftGuid || type == zftFmtBCD);
      const int32_t units = type == zftFmtBCD ? 10 : 4;
      for (TAct act : {F, B})
        EXPECT_EQ(MapText(source, "1", {type, units}, act) != "-", offered) << int(source.Type) << " -> " << t;
      if (offered) {
        const auto cell = zfFieldMapperCell(source.Type, type);
        ASSERT_FALSE(cell.empty());
        EXPECT_EQ(rtl::UnicodeString(cell.back()->Name),
                  source.Type == zftChar ? u"TzfCharMapper" : u"TzfWideCharMapper");
      }
    }
}

}  // namespace
}  // namespace zf::test
