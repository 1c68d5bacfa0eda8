#include "foundation/zfllConst.h"

#include <gtest/gtest.h>

#include <string>

namespace zf {
namespace {

TEST(EngineConst, IdentifierCharactersAreExactlyTheListedOnes) {
  const std::u16string allowed =
      u" !#$%&()+-.0123456789@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_abcdefghijklmnopqrstuvwxyz{}~";
  ASSERT_EQ(allowed.size(), 81u);
  int count = 0;
  for (char32_t c = 0; c < 0x10000; ++c) {
    const bool in = allowed.find(static_cast<char16_t>(c)) != std::u16string::npos;
    EXPECT_EQ(zfIsIdentifierChar(static_cast<char16_t>(c)), in) << int(c);
    count += zfIsIdentifierChar(static_cast<char16_t>(c));
  }
  EXPECT_EQ(count, 81);
}

TEST(EngineConst, VersionsAndTexts) {
  EXPECT_EQ(zfGetThreadMinVersion(), 30900);
  EXPECT_EQ(std::u16string(zfListSizeTexts[1]), u"None");
  EXPECT_EQ(std::u16string(zfListSizeTexts[2]), u"Multiple");
  EXPECT_EQ(std::u16string(zfListSizeTexts[3]), u"One");
}

}  // namespace
}  // namespace zf
