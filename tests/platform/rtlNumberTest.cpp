#include <gtest/gtest.h>

#include <cstring>

#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlGuid.h"
#include "platform/rtl/rtlNumber.h"

using namespace zf::rtl;

TEST(Currency, RoundingTiesToEven) {
  struct Case { const char16_t* text; int64_t scaled; };
  const Case cases[] = {
      {u"0.00025", 2}, {u"0.00035", 4}, {u"-0.00025", -2}, {u"-0.00035", -4}, {u"0.000251", 3},
      {u"0.00005", 0}, {u"0.00015", 2}, {u"12.5", 125000}, {u"1e3", 10000000}, {u"-0", 0},
      {u"922337203685477.5807", INT64_MAX}, {u"-922337203685477.5808", INT64_MIN},
  };
  for (const auto& c : cases) {
    Currency v;
    EXPECT_TRUE(TryStrToCurr(c.text, v)) << u8(c.text);
    EXPECT_EQ(v.Value, c.scaled) << u8(c.text);
  }
  Currency v;
  for (const char16_t* bad : {u"922337203685477.5808", u"1e20", u"1,5", u"", u"--1", u"1e"})
    EXPECT_FALSE(TryStrToCurr(bad, v)) << u8(bad);
  EXPECT_TRUE(TryFloatToCurrency(2.5L, v));
  EXPECT_EQ(v.Value, 25000);
  EXPECT_FALSE(TryFloatToCurrency(1e300L, v));
  // Integer division rounding, the helper the BCD scaling relies on.
  EXPECT_EQ(DivRoundHalfEven(25, 10), 2);
  EXPECT_EQ(DivRoundHalfEven(35, 10), 4);
  EXPECT_EQ(DivRoundHalfEven(-25, 10), -2);
  EXPECT_EQ(DivRoundHalfEven(-35, 10), -4);
  EXPECT_EQ(DivRoundHalfEven(26, 10), 3);
  EXPECT_EQ(DivRoundHalfEven(-24, 10), -2);
  EXPECT_EQ(DivRoundHalfEven(INT64_MIN, 10000), -922337203685478);
}

TEST(Currency, Text) {
  TFormatSettings de;
  de.DecimalSeparator = u',';
  EXPECT_EQ(CurrToStr(Currency{125000}), u"12.5");
  EXPECT_EQ(CurrToStr(Currency{125000}, de), u"12,5");
  EXPECT_EQ(CurrToStr(Currency{-1}), u"-0.0001");
  EXPECT_EQ(CurrToStr(Currency{0}), u"0");
  EXPECT_EQ(CurrToStr(Currency{INT64_MIN}), u"-922337203685477.5808");
  EXPECT_EQ(StrToCurr(u"12,5", de).Value, 125000);
  try {
    StrToCurr(u"x");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"'x' is not a valid floating point value");
  }
}

TEST(Float, TextWithSettings) {
  TFormatSettings de;
  de.DecimalSeparator = u',';
  long double v;
  EXPECT_TRUE(TryStrToFloat(u" 1,5e2 ", v, de));
  EXPECT_EQ(v, 150.0L);
  EXPECT_FALSE(TryStrToFloat(u"1.5", v, de));
  EXPECT_FALSE(TryStrToFloat(u"1,000,5", v, de));
  double d;
  EXPECT_FALSE(TryStrToFloat(u"1e400", d));
  EXPECT_TRUE(TryStrToFloat(u"-.5", d));
  EXPECT_EQ(d, -0.5);
}

TEST(Extended, TenBytesOfTheX87Format) {
  const uint8_t one[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
  EXPECT_EQ(ExtendedFromBytes(one), 1.0L);
  uint8_t out[10];
  ExtendedToBytes(-2.0L, out);
  const uint8_t minusTwo[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0x00, 0xC0};
  EXPECT_EQ(std::memcmp(out, minusTwo, 10), 0);
  long double third = 1.0L / 3.0L;
  ExtendedToBytes(third, out);
  EXPECT_EQ(ExtendedFromBytes(out), third);  // full 64-bit mantissa kept
}

TEST(Guid, TextAndBytes) {
  uint8_t bytes[16];
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<uint8_t>(i);
  TGUID g = GUIDFromBytes(bytes);
  EXPECT_EQ(GUIDToString(g), u"{03020100-0504-0706-0809-0A0B0C0D0E0F}");
  TGUID back = StringToGUID(u"{03020100-0504-0706-0809-0a0b0c0d0e0f}");
  uint8_t out[16];
  GUIDToBytes(back, out);
  EXPECT_EQ(std::memcmp(out, bytes, 16), 0);
  for (const char16_t* bad : {u"03020100-0504-0706-0809-0A0B0C0D0E0F", u"{03020100-0504-0706-0809-0A0B0C0D0E0G}",
                              u"{03020100+0504-0706-0809-0A0B0C0D0E0F}", u"{}"}) {
    TGUID x;
    EXPECT_FALSE(TryStringToGUID(bad, x)) << u8(bad);
  }
  try {
    StringToGUID(u"{x}");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"'{x}' is not a valid GUID value");
  }
}

TEST(Bcd, TextLayoutAndComparison) {
  TBcd b;
  ASSERT_TRUE(TryStrToBcd(u"123.45", b));
  EXPECT_EQ(b.Precision, 5);
  EXPECT_EQ(b.SignSpecialPlaces, 2);
  EXPECT_EQ(b.Fraction[0], 0x12);
  EXPECT_EQ(b.Fraction[1], 0x34);
  EXPECT_EQ(b.Fraction[2], 0x50);
  struct Case { const char16_t* in; const char16_t* out; };
  const Case cases[] = {{u"123.45", u"123.45"}, {u"-0.05", u"-0.05"}, {u"000", u"0"}, {u"-0", u"0"},
                        {u"1e3", u"1000"}, {u"12.500", u"12.5"}, {u"0.000001", u"0.000001"}};
  for (const auto& c : cases) {
    ASSERT_TRUE(TryStrToBcd(c.in, b)) << u8(c.in);
    EXPECT_EQ(BcdToStr(b), c.out) << u8(c.in);
  }
  EXPECT_FALSE(TryStrToBcd(u"1" + UnicodeString(64, u'0'), b));  // 65 digits
  EXPECT_TRUE(TryStrToBcd(u"1" + UnicodeString(63, u'0'), b));
  EXPECT_FALSE(TryStrToBcd(u"1.2.3", b));

  auto bcd = [](const char16_t* t) { TBcd r; EXPECT_TRUE(TryStrToBcd(t, r)); return r; };
  EXPECT_EQ(BcdCompare(bcd(u"1.5"), bcd(u"1.50")), 0);
  EXPECT_EQ(BcdCompare(bcd(u"-2"), bcd(u"1")), -1);
  EXPECT_EQ(BcdCompare(bcd(u"-2"), bcd(u"-1")), -1);
  EXPECT_EQ(BcdCompare(bcd(u"10"), bcd(u"9.99")), 1);
  EXPECT_EQ(BcdCompare(bcd(u"0"), bcd(u"-0")), 0);

  Currency c;
  ASSERT_TRUE(TryBcdToCurrency(bcd(u"0.00015"), c));
  EXPECT_EQ(c.Value, 2);
  ASSERT_TRUE(TryBcdToCurrency(bcd(u"0.00025"), c));
  EXPECT_EQ(c.Value, 2);
  EXPECT_FALSE(TryBcdToCurrency(bcd(u"1e15"), c));
  TBcd fromCurr = CurrencyToBcd(Currency{-125000});
  EXPECT_EQ(fromCurr.Precision, 32);
  EXPECT_EQ(BcdPlaces(fromCurr), 4);
  EXPECT_EQ(BcdToStr(fromCurr), u"-12.5");
  ASSERT_TRUE(TryFloatToBcd(0.1L, b));
  EXPECT_EQ(BcdToStr(b), u"0.1");
  EXPECT_NEAR(static_cast<double>(BcdToFloat(bcd(u"-123.45"))), -123.45, 1e-12);

  TBcd damaged;
  damaged.Precision = 2;
  damaged.Fraction[0] = 0xAB;  // nibbles above 9
  EXPECT_FALSE(BcdIsValid(damaged));
  EXPECT_EQ(BcdToStr(damaged), u"0");
  damaged.Precision = 200;
  EXPECT_FALSE(BcdIsValid(damaged));
}

TEST(Float, GeneralFormSwitchesToExponentBelowOneTenThousandth) {
  EXPECT_EQ(FloatToStr(0.0001L), u"0.0001");
  EXPECT_EQ(FloatToStr(0.00001L), u"1E-5");
  EXPECT_EQ(FloatToStr(-0.000012L), u"-1.2E-5");
  EXPECT_EQ(FloatToStr(1e15L), u"1E15");
  EXPECT_EQ(FloatToStr(123456789012345.0L), u"123456789012345");
}
