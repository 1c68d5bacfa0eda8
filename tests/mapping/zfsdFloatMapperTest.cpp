// The floating-point and money value mappers: values at the edges of every target under each
// data-loss action, checked against stored bytes written out by hand.
#include <gtest/gtest.h>

#include "tests/mapping/zfsdValueMapperCases.h"

namespace zf::test {
namespace {

class FloatMapperTest : public MappingStarted {};

constexpr int64_t kCurMax = INT64_MAX, kCurMin = INT64_MIN;
const TSide kSgl{zftSingle}, kDbl{zftDouble}, kExt{zftExtended}, kCur{zftCurrency};

// Rounding goes to the nearest, ties to even; the checking methods take whole values only and
// refuse what lies outside the target's range, NaN included.
TEST_F(FloatMapperTest, IntegerTargetsRoundClampOrRefuse) {
  RunCases({
      {kDbl, Dbl(2.5), {zftInt16}, B, "02 00"},
      {kDbl, Dbl(3.5), {zftInt16}, B, "04 00"},
      {kDbl, Dbl(2.5), {zftInt16}, F, "E"},
      {kDbl, Dbl(3.5), {zftInt16}, N, "E"},
      {kDbl, Dbl(3.0), {zftInt16}, F, "03 00"},
      {kDbl, Dbl(3.0), {zftInt16}, B, "03 00"},
      {kDbl, Dbl(-3.0), {zftInt16}, X, "fd ff"},
      {kSgl, Sgl(1E10f), {zftInt32}, B, "ff ff ff 7f"},
      {kSgl, Sgl(-1E10f), {zftInt32}, B, "00 00 00 80"},
      {kSgl, Sgl(1E10f), {zftInt32}, F, "E"},
      {kSgl, Sgl(-0.4f), {zftByte}, B, "00"},
      {kSgl, Sgl(-0.4f), {zftByte}, F, "E"},
      {kDbl, Dbl(255), {zftByte}, F, "ff"},
      {kDbl, Dbl(256), {zftByte}, F, "E"},
      {kDbl, Dbl(256), {zftByte}, B, "ff"},
      {kDbl, Dbl(-1), {zftWord16}, F, "E"},
      {kDbl, Dbl(-1), {zftWord16}, B, "00 00"},
      {kDbl, Dbl(65535), {zftWord16}, F, "ff ff"},
      {kDbl, Dbl(4294967295.0), {zftWord32}, F, "ff ff ff ff"},
      {kDbl, Dbl(4294967296.0), {zftAutoInc}, F, "E"},
      {kDbl, Dbl(4294967296.0), {zftRecRev}, B, "ff ff ff ff"},
      {kDbl, Dbl(-128), {zftInt8}, F, "80"},
      {kDbl, Dbl(-129), {zftInt8}, F, "E"},
      {kDbl, Dbl(-129), {zftInt8}, B, "80"},
      {kDbl, Dbl(127.5), {zftInt8}, B, "7f"},
      {kDbl, Dbl(126.5), {zftInt8}, B, "7e"},
      {kDbl, Dbl(-32768), {zftInt16}, F, "00 80"},
      {kDbl, Dbl(-2147483648.0), {zftInt32}, F, "00 00 00 80"},
      {kDbl, Dbl(2147483648.0), {zftInt32}, F, "E"},
      // 2^63 is one above the Int64 range; the Extended holds 2^63 - 1 exactly.
      {kDbl, Dbl(9223372036854775808.0), {zftInt64}, F, "E"},
      {kDbl, Dbl(9223372036854775808.0), {zftInt64}, B, "ff ff ff ff ff ff ff 7f"},
      {kExt, Ext(9223372036854775807.0L), {zftInt64}, F, "ff ff ff ff ff ff ff 7f"},
      {kExt, Ext(-9223372036854775808.0L), {zftInt64}, F, "00 00 00 00 00 00 00 80"},
      {kExt, Ext(-9223372036854775809.0L), {zftInt64}, B, "00 00 00 00 00 00 00 80"},
      // Whole to within 1E-16, whatever the source.
      {kExt, Ext(7.0L + 1E-17L), {zftInt32}, F, "07 00 00 00"},
      {kExt, Ext(7.0L + 1E-15L), {zftInt32}, F, "E"},
      // Not a number: below every minimum under best fit, refused by the checking methods.
      {kDbl, Dbl(kNaN), {zftInt32}, B, "00 00 00 80"},
      {kDbl, Dbl(kNaN), {zftByte}, B, "00"},
      {kDbl, Dbl(kNaN), {zftInt32}, F, "E"},
      {kDbl, Dbl(kInf), {zftInt64}, B, "ff ff ff ff ff ff ff 7f"},
      {kDbl, Dbl(-kInf), {zftWord16}, B, "00 00"},
      {kDbl, Dbl(kInf), {zftInt64}, F, "E"},
  });
}

TEST_F(FloatMapperTest, CurrencyIntoIntegersComparesTheRawAmount) {
  RunCases({
      {kCur, Cur(125000), {zftInt32}, F, "E"},
      {kCur, Cur(125000), {zftInt32}, B, "0c 00 00 00"},
      {kCur, Cur(135000), {zftInt32}, B, "0e 00 00 00"},
      {kCur, Cur(120000), {zftInt32}, F, "0c 00 00 00"},
      {kCur, Cur(2550000), {zftByte}, F, "ff"},
      {kCur, Cur(2560000), {zftByte}, F, "E"},
      {kCur, Cur(2550001), {zftByte}, B, "ff"},
      {kCur, Cur(-4000), {zftByte}, B, "00"},
      {kCur, Cur(-1280000), {zftInt8}, F, "80"},
      {kCur, Cur(-1290000), {zftInt8}, B, "80"},
      {kCur, Cur(42949672950000), {zftWord32}, F, "ff ff ff ff"},
      {kCur, Cur(42949672960000), {zftWord32}, F, "E"},
      {kCur, Cur(42949672960000), {zftAutoInc}, B, "ff ff ff ff"},
      // Every amount lies within Int64: only the fraction counts.
      {kCur, Cur(kCurMax), {zftInt64}, F, "E"},
      {kCur, Cur(kCurMax), {zftInt64}, B, "66 88 63 5d dc 46 03 00"},
      {kCur, Cur(9223372036854770000), {zftInt64}, F, "65 88 63 5d dc 46 03 00"},
      {kCur, Cur(kCurMin), {zftInt64}, B, "9a 77 9c a2 23 b9 fc ff"},
      {TSide{zftBCD, 10, 2}, Cur(-25000), {zftInt16}, B, "fe ff"},
  });
}

// Alike 0 and alike 1 within the source's tolerance; the checking method writes 0xFF before it
// refuses a value that is neither.
TEST_F(FloatMapperTest, BooleanTargetsUseTheSourcesTolerance) {
  RunCases({
      {kDbl, Dbl(1E-13), {zftBoolean}, F, "00"},
      {kDbl, Dbl(1.0000000000001), {zftBoolean}, F, "ff"},
      {kDbl, Dbl(2), {zftBoolean}, F, "result 10002: ff"},
      {kDbl, Dbl(2), {zftBoolean}, B, "ff"},
      {kDbl, Dbl(1E-11), {zftBoolean}, B, "ff"},
      {kSgl, Sgl(0.00005f), {zftBoolean}, F, "00"},
      {kSgl, Sgl(1.00005f), {zftBoolean}, F, "ff"},
      {kExt, Ext(1E-17L), {zftBoolean}, F, "00"},
      {kExt, Ext(1E-15L), {zftBoolean}, F, "result 10002: ff"},
      {kDbl, Dbl(kNaN), {zftBoolean}, F, "result 10002: ff"},
      {kDbl, Dbl(kNaN), {zftBoolean}, B, "ff"},
      {kCur, Cur(10000), {zftBoolean}, F, "ff"},
      {kCur, Cur(20000), {zftBoolean}, F, "result 10002: ff"},
      {kCur, Cur(0), {zftBoolean}, F, "00"},
      {kCur, Cur(1), {zftBoolean}, B, "ff"},
  });
}

TEST_F(FloatMapperTest, CharacterTargetsTakeADigitOrTheFirstCharacter) {
  RunCases({
      {kDbl, Dbl(7), {zftChar}, F, "37"},
      {kDbl, Dbl(7.5), {zftChar}, F, "E"},
      {kDbl, Dbl(7.00000000000001), {zftChar}, F, "E"},
      {kDbl, Dbl(-1), {zftChar}, F, "E"},
      {kDbl, Dbl(10), {zftChar}, F, "E"},
      {kDbl, Dbl(123.5), {zftChar}, B, "31"},
      {kDbl, Dbl(-5), {zftChar}, B, "2d"},
      {kDbl, Dbl(kNaN), {zftChar}, B, "4e"},
      {kDbl, Dbl(kNaN), {zftChar}, F, "E"},
      {kSgl, Sgl(9), {zftWideChar}, F, "39 00"},
      {kSgl, Sgl(0.5f), {zftWideChar}, B, "30 00"},
      {kCur, Cur(90000), {zftChar}, F, "39"},
      {kCur, Cur(95000), {zftChar}, F, "E"},
      {kCur, Cur(100000), {zftWideChar}, F, "E"},
      {kCur, Cur(-30000), {zftWideChar}, B, "2d 00"},
  });
}

TEST_F(FloatMapperTest, FloatingPointTargetsWidenExactlyAndNarrowWithinTheirLimits) {
  RunCases({
      {kDbl, Dbl(-1E39), {zftSingle}, B, "9e c9 7f ff"},
      {kDbl, Dbl(1E39), {zftSingle}, B, "9e c9 7f 7f"},
      {kDbl, Dbl(-1E39), {zftSingle}, F, "E"},
      {kDbl, Dbl(3.4E38), {zftSingle}, F, "9e c9 7f 7f"},
      {kDbl, Dbl(kInf), {zftSingle}, F, "E"},
      {kDbl, Dbl(1E-50), {zftSingle}, F, "E"},
      {kDbl, Dbl(1E-50), {zftSingle}, B, "00 00 00 00"},
      {kDbl, Dbl(0), {zftSingle}, F, "00 00 00 00"},
      // Digits beyond a Single's precision are no loss.
      {kDbl, Dbl(0.1), {zftSingle}, F, "cd cc cc 3d"},
      {kDbl, Dbl(kNaN), {zftSingle}, B, "00 00 c0 7f"},
      {kExt, Ext(1E309L), {zftDouble}, F, "E"},
      {kExt, Ext(1E309L), {zftDouble}, B, "76 3b 77 30 d1 42 ee 7f"},
      {kExt, Ext(-1E-330L), {zftDouble}, F, "E"},
      {kExt, Ext(-1E-330L), {zftDouble}, B, "00 00 00 00 00 00 00 80"},
      {kExt, Ext(-1.25L), {zftDouble}, F, "00 00 00 00 00 00 f4 bf"},
      {kExt, Ext(1E-4000L), {zftSingle}, F, "E"},
      {kSgl, Sgl(0.1f), {zftDouble}, F, "00 00 00 a0 99 99 b9 3f"},
      {kSgl, Sgl(-1), {zftExtended}, F, "00 00 00 00 00 00 00 80 ff bf"},
      {kDbl, Dbl(1), {zftExtended}, B, "00 00 00 00 00 00 00 80 ff 3f"},
      {kCur, Cur(12345), {zftDouble}, F, "8d 97 6e 12 83 c0 f3 3f"},
      {kCur, Cur(12345), {zftSingle}, F, "19 04 9e 3f"},
      {kCur, Cur(-10000), {zftExtended}, B, "00 00 00 00 00 00 00 80 ff bf"},
      // A copy of the same type keeps every bit.
      {kSgl, Sgl(-0.0f), {zftSingle}, F, "00 00 00 80"},
      {kExt, Ext(-2.0L), {zftExtended}, F, "00 00 00 00 00 00 00 80 00 c0"},
  });
}

TEST_F(FloatMapperTest, CurrencyTargetsKeepFourDecimalsWithinTheLimits) {
  RunCases({
      {kDbl, Dbl(0.1), {zftCurrency}, F, "E"},
      {kDbl, Dbl(0.1), {zftCurrency}, B, "e8 03 00 00 00 00 00 00"},
      {kDbl, Dbl(0.5), {zftCurrency}, F, "88 13 00 00 00 00 00 00"},
      {kDbl, Dbl(0.25), {zftCurrency}, X, "c4 09 00 00 00 00 00 00"},
      {kDbl, Dbl(0.00004), {zftCurrency}, B, "00 00 00 00 00 00 00 00"},
      {kDbl, Dbl(1E20), {zftCurrency}, B, "ff ff ff ff ff ff ff 7f"},
      {kDbl, Dbl(-1E20), {zftCurrency}, B, "01 00 00 00 00 00 00 80"},
      {kDbl, Dbl(1E20), {zftCurrency}, F, "E"},
      {kDbl, Dbl(kNaN), {zftCurrency}, F, "E"},
      {kDbl, Dbl(kNaN), {zftCurrency}, B, "01 00 00 00 00 00 00 80"},
      {kSgl, Sgl(1.5f), {zftCurrency}, F, "98 3a 00 00 00 00 00 00"},
      {kExt, Ext(-922337203685477.0L), {zftCurrency}, F, "b0 16 00 00 00 00 00 80"},
      {kCur, Cur(5), {zftCurrency}, F, "05 00 00 00 00 00 00 00"},
      // -2^63 lies outside the Currency range.
      {kCur, Cur(kCurMin), {zftCurrency}, F, "01 00 00 00 00 00 00 80"},
      {TSide{zftBCD, 12, 2}, Cur(kCurMin), {zftCurrency}, B, "01 00 00 00 00 00 00 80"},
  });
}

// Days since 30 December 1899 with the time as a fraction, counted forward from midnight also
// before that day. A value before year 1 is refused, not raised.
TEST_F(FloatMapperTest, DoubleIntoDateTimeCountsDaysFrom1899) {
  RunCases({
      {kDbl, Dbl(45000.5), {zftDateTime}, F, "00 00 b3 3b fe 04 cd 42"},
      {kDbl, Dbl(-1.25), {zftDateTime}, B, "00 80 c9 95 5b 40 cb 42"},
      {kDbl, Dbl(0), {zftDateTime}, F, "00 00 2c 84 5d 40 cb 42"},
      {kDbl, Dbl(-693593.0), {zftDateTime}, F, "00 00 00 00 70 99 94 41"},
      {kDbl, Dbl(-693594.0), {zftDateTime}, F, "E"},
      {kDbl, Dbl(-693594.0), {zftDateTime}, B, "E"},
      {kDbl, Dbl(1E300), {zftDateTime}, B, "E"},
      {kDbl, Dbl(kNaN), {zftDateTime}, F, "E"},
      {kSgl, Sgl(1), {zftDateTime}, B, "-"},
      {kCur, Cur(1), {zftDateTime}, B, "-"},
  });
}

TEST_F(FloatMapperTest, ByteArraysTakeTheStoredBytesWhenTheyFit) {
  RunCases({
      {kSgl, Sgl(-1), {zftByteArray, 3}, B, "-"},
      {kSgl, Sgl(-1), {zftByteArray, 5}, F, "00 00 80 bf ee"},
      {kDbl, Dbl(-1.25), {zftByteArray, 7}, B, "-"},
      {kDbl, Dbl(-1.25), {zftByteArray, 8}, F, "00 00 00 00 00 00 f4 bf"},
      {kExt, Ext(1), {zftByteArray, 9}, B, "-"},
      {kExt, Ext(1), {zftByteArray, 10}, F, "00 00 00 00 00 00 00 80 ff 3f"},
      {kCur, Cur(-2), {zftByteArray, 8}, F, "fe ff ff ff ff ff ff ff"},
      {TSide{zftBCD}, Cur(1), {zftByteArray, 7}, F, "-"},
  });
}

// The general text with 15 significant digits and the target locale's decimal separator. A text
// longer than the target is refused under the checking actions, whatever the widest text of the
// type, and cut under best fit.
TEST_F(FloatMapperTest, TextTargetsAreMeasuredUnderCheckingActions) {
  const uint32_t kGerman = 1031;  // decimal comma
  RunCases({
      {kDbl, Dbl(1234.5), {zftNullString, 6, 0, 0, kGerman}, F, "n\"1234,5\""},
      {kDbl, Dbl(123456.5), {zftNullString, 6, 0, 0, kGerman}, F, "E"},
      {kDbl, Dbl(123456.5), {zftNullString, 6, 0, 0, kGerman}, B, "n\"123456\""},
      {kDbl, Dbl(1234.56789), {zftNullString, 8, 0, 0, kGerman}, F, "E"},
      {kDbl, Dbl(1234.56789), {zftNullString, 8, 0, 0, kGerman}, N, "E"},
      {kDbl, Dbl(1234.56789), {zftNullString, 8, 0, 0, kGerman}, B, "n\"1234,567\""},
      {kDbl, Dbl(1234.56789), {zftNullString, 10}, X, "n\"1234.56789\""},
      {kSgl, Sgl(0.1f), {zftWideString, 20}, F, "w\"0.100000001490116\""},
      {kSgl, Sgl(0.1f), {zftShortString, 17}, F, "s\"0.100000001490116\""},
      {kSgl, Sgl(0.1f), {zftShortString, 16}, F, "E"},
      {kSgl, Sgl(0.1f), {zftShortString, 16}, B, "s\"0.10000000149011\""},
      {kExt, Ext(1E20L), {zftWideString, 4}, F, "w\"1E20\""},
      {kDbl, Dbl(kNaN), {zftWideString, 5}, F, "w\"NAN\""},
      {kDbl, Dbl(-kInf), {zftShortString, 4}, F, "s\"-INF\""},
      {kCur, Cur(-kCurMax), {zftNullString, 16}, F, "n\"-922337203685478\""},
      {kCur, Cur(-kCurMax), {zftNullString, 15}, F, "E"},
      {kCur, Cur(12345), {zftWideString, 6}, F, "w\"1.2345\""},
      {kCur, Cur(12345), {zftWideString, 6, 0, 0, kGerman}, B, "w\"1,2345\""},
      // The stored forms: length byte, terminator, code units.
      {kDbl, Dbl(-2.5), {zftShortString, 5}, F, "04 2d 32 2e 35 ee"},
      {kDbl, Dbl(-2.5), {zftNullString, 5}, F, "2d 32 2e 35 00 ee"},
      {kDbl, Dbl(2.5), {zftWideString, 4}, F, "32 00 2e 00 35 00 00 00 ee ee"},
  });
}

// The value's decimal digits at the target's precision and scale, never rounded: checking refuses
// a lost digit, best fit keeps the lowest integer digits and cuts the fraction.
TEST_F(FloatMapperTest, BcdTargetsKeepTheDigitsThatFit) {
  RunCases({
      {kCur, Cur(12345), {zftBCD, 10, 2}, F, "E"},
      {kCur, Cur(12345), {zftBCD, 10, 2}, B, "0c 30 00 00 00 00 00 00"},
      {kCur, Cur(12345), {zftBCD, 20, 4}, F, "39 30 00 00 00 00 00 00"},
      {kCur, Cur(kCurMin), {zftBCD, 20, 4}, F, "01 00 00 00 00 00 00 80"},
      {kCur, Cur(123450000), {zftBCD, 6, 2}, F, "E"},
      {kCur, Cur(123450000), {zftBCD, 6, 2}, B, "90 d1 65 01 00 00 00 00"},
      {kCur, Cur(123450000), {zftBCD, 7, 2}, F, "90 b2 5b 07 00 00 00 00"},
      {TSide{zftBCD, 12, 4}, Cur(-5000), {zftBCD, 5, 1}, F, "78 ec ff ff ff ff ff ff"},
      {kDbl, Dbl(1.25), {zftBCD, 5, 1}, F, "E"},
      {kDbl, Dbl(1.25), {zftBCD, 5, 1}, B, "e0 2e 00 00 00 00 00 00"},
      {kDbl, Dbl(123.5), {zftBCD, 5, 2}, F, "38 d8 12 00 00 00 00 00"},
      {kDbl, Dbl(-0.5), {zftBCD, 5, 1}, X, "78 ec ff ff ff ff ff ff"},
      {kDbl, Dbl(12345), {zftBCD, 6, 2}, B, "90 d1 65 01 00 00 00 00"},
      {kSgl, Sgl(0.1f), {zftBCD, 10, 4}, F, "E"},
      {kSgl, Sgl(0.1f), {zftBCD, 10, 4}, B, "e8 03 00 00 00 00 00 00"},
      // Sixteen integer digits fit the digits but not the 8-byte form.
      {kDbl, Dbl(1E15), {zftBCD, 20, 4}, F, "E"},
      {kDbl, Dbl(1E15), {zftBCD, 20, 4}, B, "ff ff ff ff ff ff ff 7f"},
      {kDbl, Dbl(-1E15), {zftBCD, 20, 4}, B, "01 00 00 00 00 00 00 80"},
      // Values whose text takes exponent form still have digits; NaN and infinities have none.
      {kDbl, Dbl(1E-5), {zftBCD, 10, 4}, F, "E"},
      {kDbl, Dbl(1E-5), {zftBCD, 10, 4}, B, "00 00 00 00 00 00 00 00"},
      {kDbl, Dbl(1E70), {zftBCD, 20, 4}, F, "E"},
      {kDbl, Dbl(1E70), {zftBCD, 20, 4}, B, "00 00 00 00 00 00 00 00"},
      {kDbl, Dbl(kNaN), {zftBCD, 20, 4}, B, "E"},
      {kExt, Ext(-static_cast<long double>(kInf)), {zftBCD, 20, 4}, F, "E"},
  });
}

}  // namespace
}  // namespace zf::test
