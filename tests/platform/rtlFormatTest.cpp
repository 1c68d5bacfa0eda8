#include <gtest/gtest.h>

#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlFormat.h"

using namespace zf::rtl;

struct FormatCase {
  const char16_t* fmt;
  std::vector<FormatArg> args;
  const char16_t* expected;
};

TEST(Format, Cases) {
  const std::vector<FormatCase> cases = {
      {u"%s [$%x/%d]", {u"Invalid index name.", 10022, 10022}, u"Invalid index name. [$2726/10022]"},
      {u"%0:s%1:s %3:12d %4:8d [$%5:x/%5:d] %6:s %7:s %8:s",
       {u"2026-12-10 12:00:00.000", u"+01:00", u"x", 1234, 77, 0, u"INFO ", u"default", u"hello"},
       u"2026-12-10 12:00:00.000+01:00         1234       77 [$0/0] INFO  default hello"},
      {u"%0:2.2d:%1:2.2d", {1, 5}, u"01:05"},
      {u"%-5s|", {u"ab"}, u"ab   |"},
      {u"%5s|", {u"ab"}, u"   ab|"},
      {u"%.2s", {u"abcdef"}, u"ab"},
      {u"%*d", {6, 42}, u"    42"},
      {u"%.5d", {-12}, u"-00012"},
      {u"%x", {-1}, u"FFFFFFFF"},
      {u"%x", {int64_t{-1}}, u"FFFFFFFFFFFFFFFF"},
      {u"%u", {-1}, u"4294967295"},
      {u"%d%%", {50}, u"50%"},
      {u"%.0n", {1234567.0}, u"1,234,567"},
      {u"%.2f", {0.125}, u"0.13"},
      {u"%.2f", {-0.001}, u"0.00"},
      {u"%0.4f %s", {0.09, u"Release (P14)"}, u"0.0900 Release (P14)"},
      {u"%5.4f", {3.09}, u"3.0900"},
      {u"%e", {1234.5}, u"1.23450000000000E+003"},
      {u"%g", {1234.5}, u"1234.5"},
      {u"%g", {1e20}, u"1E020"},
      {u"%m", {-1234.5}, u"($1,234.50)"},
      {u"%d %s %d", {1, u"a", 2}, u"1 a 2"},
      {u"%1:s %s", {u"a", u"b", u"c"}, u"b c"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(u8(Format(c.fmt, c.args.data(), c.args.size(), DefaultFormatSettings())), u8(c.expected))
        << u8(c.fmt);
  }
}

TEST(Format, WrongOrMissingArgumentRaises) {
  const std::vector<FormatCase> cases = {
      {u"%d", {u"x"}, nullptr}, {u"%s", {1}, nullptr},  {u"%f", {1}, nullptr},
      {u"%d %d", {1}, nullptr}, {u"%", {}, nullptr},    {u"%q", {1}, nullptr},
      // A width taken from the arguments is bounded like a written one: no padding of millions.
      {u"%*d", {5000000, 1}, nullptr}, {u"%*s", {int64_t{1} << 40, u"x"}, nullptr},
  };
  for (const auto& c : cases) {
    try {
      Format(c.fmt, c.args.data(), c.args.size(), DefaultFormatSettings());
      ADD_FAILURE() << u8(c.fmt);
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), u"Format '" + UnicodeString(c.fmt) + u"' invalid or incompatible with argument");
    }
  }
}

TEST(Rtl, AssertionAndCheckedIntegers) {
  try {
    ZF_ASSERT(1 == 2, "zfllTest");
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message().substr(0, 29), u"Assertion failure (zfllTest, ");
  }
  EXPECT_THROW(RangeChecked<uint32_t>(int64_t{-1}), ERangeError);
  EXPECT_THROW(CheckedAdd<int32_t>(0x7fffffff, 1), EIntOverflow);
  EXPECT_EQ(RangeChecked<uint8_t>(255), 255);
}
