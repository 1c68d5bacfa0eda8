#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "dictionary/zfsdFmtBcd.h"
#include "zfsdTestUtil.h"

using namespace zf;
using rtl::TBcd;
using rtl::u8;
using rtl::Variant;

namespace {
TBcd Bcd(const char16_t* t) {
  TBcd b;
  EXPECT_TRUE(rtl::TryStrToBcd(t, b)) << u8(t);
  return b;
}
const char16_t* kOverflow = u"!EzfBcdOverflow #9985: ZofrinDB: BCD overflow [$2701/9985]";
}  // namespace

TEST(FmtBcd, NormaliseFlags) {
  struct Case { const char16_t* value; uint16_t prec, places; const char16_t* result; uint8_t flags; };
  const Case cases[] = {
      {u"123.45", 4, 1, u"123.4", zfBcdLostFraction},
      {u"123.45", 3, 2, u"3.45", zfBcdLostInteger},
      {u"123.45", 6, 3, u"123.45", 0},
      {u"-123.45", 10, 2, u"-123.45", 0},
      {u"100.10", 2, 0, u"0", zfBcdLostInteger | zfBcdLostFraction},
      {u"0.001", 4, 2, u"0", zfBcdLostFraction},
      {u"120", 2, 0, u"20", zfBcdLostInteger},
      {u"20", 1, 0, u"0", zfBcdLostInteger},
      {u"0.5", 64, 63, u"0.5", 0},
  };
  for (const auto& c : cases) {
    TBcd t;
    EXPECT_EQ(zfNormalizeBcd(Bcd(c.value), t, c.prec, c.places), c.flags) << u8(c.value);
    EXPECT_EQ(t.Precision, c.prec);
    EXPECT_EQ(rtl::BcdPlaces(t), c.places);
    EXPECT_EQ(rtl::BcdToStr(t), c.result) << u8(c.value);
  }
  TBcd t;
  EXPECT_THROW(zfNormalizeBcd(Bcd(u"1"), t, 65, 0), rtl::ERangeError);  // beyond a TBcd's digits
  EXPECT_THROW(zfNormalizeBcd(Bcd(u"1"), t, 256, 0), rtl::ERangeError);
  EXPECT_EQ(test::Outcome([&] { zfNormalizeBcdChecked(Bcd(u"123.45"), 3, 2, t, zfBcdLostFraction); }), kOverflow);
  EXPECT_EQ(test::Outcome([&] { zfNormalizeBcdChecked(Bcd(u"123.45"), 4, 1, t, zfBcdLostFraction); }), u"ok");
  // A damaged source that claims more digits than a TBcd has is read only over its 64 digits.
  TBcd damaged = Bcd(u"1.5");
  damaged.Precision = 250;
  EXPECT_NO_THROW(zfNormalizeBcd(damaged, t, 10, 2));
}

TEST(FmtBcd, CurrencyConversions) {
  TBcd t;
  EXPECT_EQ(zfCurrToBcd(t, 6, 2, rtl::Currency{1234567}), zfBcdLostFraction);  // 123.4567
  EXPECT_EQ(rtl::BcdToStr(t), u"123.45");
  EXPECT_EQ(test::Outcome([&] { zfCurrToBcdChecked(4, 2, 0, t, rtl::Currency{1234500}); }), kOverflow);
  struct Case { const char16_t* value; int64_t scaled; bool ok; };
  const Case cases[] = {
      {u"0.00015", 2, true}, {u"0.00025", 2, true}, {u"-0.00035", -4, true}, {u"12.5", 125000, true},
      {u"922337203685477.5807", INT64_MAX, true}, {u"922337203685477.5808", INT64_MIN, false},
      {u"-922337203685477.5808", INT64_MIN, true},
  };
  for (const auto& c : cases) {
    int64_t v = 0;
    EXPECT_EQ(zfBcdToCurr(Bcd(c.value), v), c.ok) << u8(c.value);
    EXPECT_EQ(v, c.scaled) << u8(c.value);
  }
}

TEST(FmtBcd, VariantToBcdCurrency) {
  struct Case { Variant value; uint16_t prec, scale; const char16_t* outcome; int64_t stored; };
  const Case cases[] = {
      {Variant(2.5), 10, 0, u"ok", 20000},   // ties to even
      {Variant(3.5), 10, 0, u"ok", 40000},
      {Variant(-2.5), 10, 0, u"ok", -20000},
      {Variant(1.25), 10, 1, u"ok", 12000},
      {Variant(1.2345), 10, 3, u"ok", 12340},
      {Variant(1.2345), 10, 4, u"ok", 12345},
      {Variant(99.9), 3, 1, u"ok", 999000},
      {Variant(100.0), 3, 1, u"ok", 1000000},  // the power itself is accepted
      {Variant(101.0), 3, 1, kOverflow, 0},
      {Variant(0.5), 2, 2, kOverflow, 0},       // no integer digit
      {Variant(rtl::Currency{INT64_MAX}), 30, 0, kOverflow, 0},  // rounding up leaves the range
      {Variant(9e14), 20, 4, u"ok", 9000000000000000000},
  };
  for (const auto& c : cases) {
    int64_t v = 0;
    EXPECT_EQ(test::Outcome([&] { v = zfVariantToBcdCurrency(c.value, c.prec, c.scale); }), c.outcome)
        << c.value.AsString().size() << " " << c.prec << "," << c.scale;
    if (c.stored) { EXPECT_EQ(v, c.stored); }
  }
}

TEST(FmtBcd, StoredBytes) {
  uint8_t buf[7] = {};
  zfVariantToFmtBcdBytes(Variant(u"-123.456"), 10, 2, buf, 7);  // the third decimal is cut
  const uint8_t golden[7] = {10, 0x82, 0x00, 0x00, 0x01, 0x23, 0x45};
  EXPECT_EQ(std::memcmp(buf, golden, 7), 0);
  TBcd back;
  ASSERT_TRUE(zfFmtBcdFromBytes(buf, 7, back));
  EXPECT_EQ(rtl::BcdToStr(back), u"-123.45");
  EXPECT_EQ(test::Outcome([&] { zfVariantToFmtBcdBytes(Variant(1), 10, 2, buf, 6); }), kOverflow);
  EXPECT_EQ(test::Outcome([&] { zfVariantToFmtBcdBytes(Variant(123456789), 10, 2, buf, 7); }), kOverflow);
  // Damaged stored bytes: more digits than the field holds, places above precision, bad nibbles.
  const uint8_t tooManyDigits[7] = {11, 0, 0, 0, 0, 0, 0};
  const uint8_t badPlaces[7] = {4, 5, 0, 0, 0, 0, 0};
  const uint8_t badNibble[7] = {4, 0, 0xA0, 0, 0, 0, 0};
  EXPECT_FALSE(zfFmtBcdFromBytes(tooManyDigits, 7, back));
  EXPECT_FALSE(zfFmtBcdFromBytes(badPlaces, 7, back));
  EXPECT_FALSE(zfFmtBcdFromBytes(badNibble, 7, back));
  EXPECT_FALSE(zfFmtBcdFromBytes(badNibble, 1, back));

  // Key-part comparison and the extended value of stored bytes.
  uint8_t one[7], two[7], minus[7];
  zfVariantToFmtBcdBytes(Variant(1.5), 10, 2, one, 7);
  zfVariantToFmtBcdBytes(Variant(2), 10, 2, two, 7);
  zfVariantToFmtBcdBytes(Variant(-3), 10, 2, minus, 7);
  EXPECT_EQ(zfCompareFmtBcdBytes(one, two, 7), -1);
  EXPECT_EQ(zfCompareFmtBcdBytes(two, one, 7), 1);
  EXPECT_EQ(zfCompareFmtBcdBytes(minus, one, 7), -1);
  EXPECT_EQ(zfCompareFmtBcdBytes(one, one, 7), 0);
  EXPECT_EQ(zfCompareFmtBcdBytes(badNibble, minus, 7), -1);
  EXPECT_EQ(zfCompareFmtBcdBytes(badNibble, badPlaces, 7), 0);
  EXPECT_EQ(zfFmtBcdBytesToExtended(one, 7), 1.5L);
  EXPECT_EQ(zfFmtBcdBytesToExtended(badNibble, 7), 0.0L);
}

TEST(FmtBcd, Text) {
  EXPECT_EQ(rtl::BcdToStr(zfStrToBcd(u"-0012.50")), u"-12.5");
  for (const char16_t* bad : {u"1e5", u" 1", u"1,5", u"1.2.3", u"", u"-", u"+1"}) {
    rtl::TBcd b;
    EXPECT_FALSE(zfTryStrToBcd(bad, b)) << u8(bad);
  }
  EXPECT_EQ(test::Outcome([] { zfStrToBcd(u"12a"); }), u"!EConvertError: 12a is not a valid BCD value");
  EXPECT_EQ(rtl::BcdToStr(zfDoubleToBcd(0.1)), u"0.1");
  EXPECT_EQ(rtl::BcdToStr(zfDoubleToBcd(-123456789012345.0)), u"-123456789012345");
  // Values whose general text takes exponent form, and the non-numbers, are refused.
  EXPECT_EQ(test::Outcome([] { zfDoubleToBcd(1e15); }), u"!EConvertError: 1E15 is not a valid BCD value");
  EXPECT_THROW(zfDoubleToBcd(0.00001), rtl::EConvertError);
  EXPECT_THROW(zfDoubleToBcd(std::numeric_limits<double>::quiet_NaN()), rtl::EConvertError);
}

TEST(FmtBcd, ProceduresAreSetWhileTheUnitRuns) {
  zfsdFmtBcdUnit().Initialize();
  ASSERT_NE(zfBcdProcs.Compare, nullptr);
  EXPECT_EQ(zfBcdProcs.Compare(Bcd(u"1.5"), Bcd(u"2")), -1);
  int64_t c;
  EXPECT_TRUE(zfBcdProcs.BcdToCurr(Bcd(u"1.5"), c));
  EXPECT_EQ(c, 15000);
  zfsdFmtBcdUnit().Finalize();
  EXPECT_EQ(zfBcdProcs.Compare, nullptr);
}
