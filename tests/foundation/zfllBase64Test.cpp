#include "foundation/zfllBase64.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/rtl/rtlException.h"

namespace zf {
namespace {

using namespace std::string_literals;

TEST(Base64, EncodeKnownValues) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "A==="},  {"M", "TQ=="},   {"Ma", "TWE="}, {"Man", "TWFu"},
      {"Many", "TWFueQ=="}, {"\xff\xfe\x00"s, "//4A"}, {"\x00"s, "AA=="},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(StrToBase64(in), out) << out;
}

TEST(Base64, DecodeKnownValuesAndQuirks) {
  const std::pair<std::string, std::string> cases[] = {
      {"A===", ""}, {"====", ""},  {"TQ==", "M"}, {"TWE=", "Ma"}, {"TWFu", "Man"}, {"//4A", "\xff\xfe\x00"s},
      // '=' inside the input (not trailing) counts as 61 and removes nothing.
      {"TQ==TWFu", "M\x0f\x7dMan"s},
      // A character outside the alphabet decodes as 61 without an error.
      {"****", "\xf7\xdf\x7d"s},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(Base64ToStr(in), out) << in;
}

TEST(Base64, RoundTripOfEveryLengthAndByte) {
  std::string data;
  for (int n = 1; n < 70; ++n) {
    data.push_back(static_cast<char>(n * 37));
    const std::string enc = StrToBase64(data);
    EXPECT_EQ(enc.size() % 4, 0u);
    EXPECT_EQ(Base64ToStr(enc), data);
  }
}

TEST(Base64, BadLengthFails) {
  for (const char* bad : {"", "a", "abc", "abcde", "abcdef="}) {
    try {
      Base64ToStr(bad);
      ADD_FAILURE() << bad;
    } catch (const rtl::Exception& e) {
      EXPECT_EQ(e.Message(), u"Base64ToStr: illegal input length!");
    }
  }
}

}  // namespace
}  // namespace zf
