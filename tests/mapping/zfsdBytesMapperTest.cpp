// The byte-array and FmtBCD value mappers: raw bytes into byte arrays, GUIDs and text in one or
// two code pages, and packed decimals of one precision and scale into another.
#include <gtest/gtest.h>

#include "tests/mapping/zfsdValueMapperCases.h"

namespace zf::test {
namespace {

class BytesMapperTest : public MappingStarted {};

TSide Array(int32_t aUnits, uint16_t aCodePage = 0) { return {zftByteArray, aUnits, 0, aCodePage}; }
TSide Text(TzfFieldType aType, int32_t aUnits, uint16_t aCodePage = 0) { return {aType, aUnits, 0, aCodePage}; }

const std::vector<uint8_t> kTen = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
const std::vector<uint8_t> kTwenty = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};

TEST_F(BytesMapperTest, ByteArraysAndGuidsTakeTheBytesThatFit) {
  RunCases({
      {Array(10), kTen, Array(10), F, "01 02 03 04 05 06 07 08 09 0a"},
      {Array(10), kTen, Array(12), X, "01 02 03 04 05 06 07 08 09 0a ee ee"},
      {Array(10), kTen, Array(8), F, "-"},
      {Array(10), kTen, Array(8), N, "-"},
      {Array(10), kTen, Array(8), B, "01 02 03 04 05 06 07 08"},
      {Array(20), kTwenty, {zftGuid}, F, "01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10"},
      {Array(12), kTwenty, {zftGuid}, F, "-"},
      {Array(12), kTwenty, {zftGuid}, B, "01 02 03 04 05 06 07 08 09 0a 0b 0c ee ee ee ee"},
      {Array(4), kTen, {zftInt32}, B, "-"},
  });
}

// Without re-encoding the bytes are copied as they are, zero bytes included (a zero ends a
// NullString early); the checking actions take only a source shorter than the target.
TEST_F(BytesMapperTest, EightBitTextWithoutReencodingIsARawCopy) {
  const std::vector<uint8_t> abc = Bytes(std::string_view("abc\0\0", 5));
  RunCases({
      {Array(5), abc, Text(zftNullString, 10), F, "n\"abc\""},
      {Array(5), abc, Text(zftNullString, 10), F, "61 62 63 00 00 00 ee ee ee ee ee"},
      {Array(5), abc, Text(zftShortString, 10), F, "05 61 62 63 00 00 ee ee ee ee ee"},
      {Array(5), Bytes("abcde"), Text(zftNullString, 5), F, "n\"abcde\""},
      {Array(5), Bytes("abcde"), Text(zftNullString, 4), F, "-"},
      {Array(5), Bytes("abcde"), Text(zftNullString, 4), B, "n\"abcd\""},
      {Array(5), Bytes("abcde"), Text(zftShortString, 3), B, "03 61 62 63"},
      // Equal code pages copy too; a field without a code page never re-encodes.
      {Array(3, 1251), Bytes("\xC6\xF3\xEA"), Text(zftNullString, 3, 1251), F, "c6 f3 ea 00"},
      {Array(3), Bytes("\xC6\xF3\xEA"), Text(zftNullString, 3, 65001), F, "c6 f3 ea 00"},
  });
}

// Between two code pages the text is converted; best fit keeps the longest whole-character
// prefix that fits, checking refuses a text that does not fit. A multi-byte target code page
// re-encodes even when equal to the source's, so that no character is split.
TEST_F(BytesMapperTest, EightBitTextBetweenCodePagesIsReencoded) {
  const std::vector<uint8_t> beetle = Bytes("\xC6\xF3\xEA");  // "Жук" in windows-1251
  const std::vector<uint8_t> beetle8 = Bytes("\xD0\x96\xD1\x83\xD0\xBA");  // the same in UTF-8
  RunCases({
      {Array(3, 1251), beetle, Text(zftNullString, 6, 65001), F, "n\"\\xd0\\x96\\xd1\\x83\\xd0\\xba\""},
      {Array(3, 1251), beetle, Text(zftNullString, 4, 65001), F, "E"},
      {Array(3, 1251), beetle, Text(zftNullString, 4, 65001), B, "n\"\\xd0\\x96\\xd1\\x83\""},
      {Array(3, 1251), beetle, Text(zftShortString, 5, 65001), B, "04 d0 96 d1 83 ee"},
      {Array(3, 1251), beetle, Text(zftShortString, 1, 65001), B, "00 ee"},
      {Array(6, 65001), beetle8, Text(zftShortString, 3, 1251), F, "03 c6 f3 ea"},
      // Characters the target code page lacks become "?".
      {Array(3, 1251), beetle, Text(zftNullString, 3, 1252), F, "n\"???\""},
      {Array(6, 65001), beetle8, Text(zftNullString, 4, 65001), F, "E"},
      {Array(6, 65001), beetle8, Text(zftNullString, 4, 65001), B, "n\"\\xd0\\x96\\xd1\\x83\""},
      {Array(6, 65001), beetle8, Text(zftNullString, 5, 65001), F, "-"},
      // The text ends at the first zero byte; an empty text stays empty.
      {Array(6, 1251), Bytes(std::string_view("\xC6\0\xEA\xEA\xEA\xEA", 6)), Text(zftNullString, 2, 65001), F,
       "n\"\\xd0\\x96\""},
      {Array(3, 1251), Bytes(std::string_view("\0\xC6\xF3", 3)), Text(zftShortString, 2, 65001), F, "00 ee ee"},
  });
}

// WideString targets decode from the source's code page (the process's ANSI code page without
// one); checking offers this only when every source byte has a code unit of room.
TEST_F(BytesMapperTest, WideTextIsDecodedFromTheSourceCodePage) {
  const std::vector<uint8_t> beetle = Bytes("\xC6\xF3\xEA");
  RunCases({
      {Array(3, 1251), beetle, Text(zftWideString, 4), F, "w\"\\u0416\\u0443\\u043a\""},
      {Array(3, 1251), beetle, Text(zftWideString, 3), F, "w\"\\u0416\\u0443\\u043a\""},
      {Array(3, 1251), beetle, Text(zftWideString, 2), F, "-"},
      {Array(3, 1251), beetle, Text(zftWideString, 2), B, "w\"\\u0416\\u0443\""},
      {Array(3), Bytes("\xC6\xF3\xEA"), Text(zftWideString, 3), B, "w\"\\u00c6\\u00f3\\u00ea\""},
      {Array(6, 65001), Bytes("\xD0\x96\xD1\x83\xD0\xBA"), Text(zftWideString, 3), B, "w\"\\u0416\\u0443\\u043a\""},
      {Array(5), Bytes(std::string_view("ab\0cd", 5)), Text(zftWideString, 6), F, "61 00 62 00 00 00 ee ee ee ee ee ee ee ee"},
  });
}

// Stored FmtBCD: precision, sign and places, then two digits a byte.
TEST_F(BytesMapperTest, FmtBcdKeepsTheDigitsOfTheTargetPrecisionAndScale) {
  const TSide p10s4{zftFmtBCD, 10, 4}, p10s2{zftFmtBCD, 10, 2}, p6s2{zftFmtBCD, 6, 2}, p5s2{zftFmtBCD, 5, 2};
  const std::vector<uint8_t> v123_4567 = {0x0a, 0x04, 0x00, 0x01, 0x23, 0x45, 0x67};
  const std::vector<uint8_t> v12345678_90 = {0x0a, 0x02, 0x12, 0x34, 0x56, 0x78, 0x90};
  RunCases({
      {p10s4, v123_4567, p10s2, F, "E"},
      {p10s4, v123_4567, p10s2, B, "0a 02 00 00 01 23 45"},
      {p10s4, v123_4567, p10s4, F, "0a 04 00 01 23 45 67"},
      {p10s4, {0x0a, 0x84, 0x00, 0x01, 0x23, 0x45, 0x00}, p5s2, F, "05 82 12 34 50"},
      {p10s2, v12345678_90, p6s2, F, "E"},
      {p10s2, v12345678_90, p6s2, B, "06 02 56 78 90"},
      {p5s2, {0x05, 0x02, 0x12, 0x34, 0x50}, p10s4, X, "0a 04 00 01 23 45 00"},
      {p5s2, {0x05, 0x02, 0x12, 0x34, 0x50}, {zftFmtBCD, 7, 2}, F, "07 02 00 12 34 50"},
      // Equal layouts copy; bytes that are no value of the source never reach the target.
      {p5s2, {0x05, 0x02, 0x12, 0x3a, 0x50}, p5s2, F, "05 02 12 3a 50"},
      {p5s2, {0x05, 0x02, 0x12, 0x3a, 0x50}, p10s4, B, "E"},
      {p5s2, {0x09, 0x02, 0x12, 0x34, 0x50}, p10s4, B, "E"},
      {p5s2, {0x05, 0x02, 0x12, 0x34, 0x50}, {zftCurrency}, B, "-"},
  });
}

}  // namespace
}  // namespace zf::test
