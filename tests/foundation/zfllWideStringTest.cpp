#include "foundation/zfllWideString.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

#include "foundation/zfllException.h"
#include "foundation/zfllWideStringCategories.h"
#include "platform/locale/locCollation.h"
#include "platform/rtl/rtlAnsi.h"

namespace zf {
namespace {

using rtl::u16;

class WideString : public ::testing::Test {
 protected:
  void SetUp() override { zfllWideStringUnit().Initialize(); }
  void TearDown() override { zfllWideStringUnit().Finalize(); }
};

TzfWideString W(const char* aUtf8) { return zfUnicodeStringToWideString(u16(aUtf8)); }

// Runs f and returns the engine exception it raises.
template <class F>
EzfBaseException Raised(F&& f) {
  try {
    f();
  } catch (const EzfBaseException& e) {
    return e;
  }
  ADD_FAILURE() << "no EzfBaseException raised";
  return EzfBaseException(0u);
}

TEST_F(WideString, RoundTripsThroughCodePages) {
  struct Case {
    uint32_t cp;
    const char* text;
    std::string bytes;
  } cases[] = {
      {1252, "Grüße €", "Gr\xFC\xDF" "e \x80"},
      {1250, "Łódź", "\xA3\xF3" "d\x9F"},
      {932, "日本語ｶ", "\x93\xFA\x96\x7B\x8C\xEA\xB6"},
      {65001, "€", "\xE2\x82\xAC"},  // 3 bytes, one character
  };
  for (const auto& c : cases) {
    TzfWideString w;
    zfStringToWideString(c.bytes, c.cp, w);
    EXPECT_EQ(w, W(c.text)) << c.cp;
    UnicodeString s;
    zfStringToWideString(c.bytes, c.cp, s);
    EXPECT_EQ(s, u16(c.text));

    rtl::AnsiString a;
    zfWideStringToString(w, c.cp, a);
    EXPECT_EQ(a.Bytes(), c.bytes) << c.cp;
    EXPECT_EQ(a.CodePage(), c.cp);
    TzfBytes bytes;
    zfWideStringToString(u16(c.text), c.cp, bytes);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.bytes);
    EXPECT_EQ(zfWideStringBufferToBytes(w.data(), static_cast<int32_t>(w.size()), c.cp), bytes);
  }
}

TEST_F(WideString, UnmappableCharactersBecomeQuestionMarks) {
  EXPECT_EQ(zfWideStringToString(u"Ł€😀", 1252).Bytes(), "?\x80?");
  EXPECT_EQ(zfWideStringToString(u"ñ日", 932).Bytes(), "?\x93\xFA");
  EXPECT_EQ(zfWideStringToString(u"ñ", 1250).Bytes(), "?");
}

TEST_F(WideString, CodePageZeroIsTheDefault) {
  EXPECT_EQ(zfDefaultCodePage, 3u);
  const UnicodeString text = u"Grüße";
  EXPECT_EQ(zfWideStringToString(text, 0).Bytes(), zfWideStringToString(text, zfDefaultCodePage).Bytes());
  EXPECT_EQ(zfWideStringToString(text, 0).Bytes(), zfWideStringToString(text, 1252).Bytes());
  EXPECT_EQ(zfWideStringToString(text, 0).CodePage(), 1252);
  EXPECT_EQ(zfStringToWideString("\xFC", 0), zfStringToWideString("\xFC", 1252));
}

TEST_F(WideString, EmptyInputGivesEmptyResultsEvenForUnknownCodePages) {
  TzfWideString w{u'x'};
  zfStringToWideString("", 9999, w);
  EXPECT_TRUE(w.empty());
  UnicodeString s = u"x";
  zfStringToWideString("", 9999, s);
  EXPECT_TRUE(s.empty());
  EXPECT_TRUE(zfWideStringToString(UnicodeStringView(), 9999).IsEmpty());
  TzfBytes b{1};
  zfWideStringToString(TzfWideString(), 9999, b);
  EXPECT_TRUE(b.empty());
  const char16_t text[] = u"abc";
  EXPECT_TRUE(zfWideStringBufferToBytes(text, 0, 1252).empty());
  EXPECT_TRUE(zfWideStringBufferToBytes(text, -5, 1252).empty());
  EXPECT_EQ(zfWideStringBufferToBytes(text, 2, 1252), (TzfBytes{'a', 'b'}));
  EXPECT_TRUE(zfWideLCMapStringW(u"", 0x0BAD, 0).empty());
  // Stored bytes that stand for no character are no error.
  EXPECT_TRUE(zfStringToWideString("+", 65000).empty());
  EXPECT_TRUE(zfStringToWideString("\x1B(B", 50220).empty());
}

TEST_F(WideString, UnknownCodePageRaisesTheOperatingSystemError) {
  struct Case {
    std::function<void()> call;
    const char16_t* action;
  } cases[] = {
      {[] { zfStringToWideString("a", 9999); }, u"zfStringToWideString/MultiByteToWideChar/1"},
      {[] { zfWideStringToString(u"a", 9999); }, u"zfWideStringToString/WideCharToMultiByte/1"},
      {[] {
         const char16_t t[] = u"a";
         zfWideStringBufferToBytes(t, 1, 9999);
       },
       u"zfWideStringBufferToBytes/WideCharToMultiByte/1"},
      {[] { zfWideLCMapStringW(u"a", 0x0409, 0x40000000); }, u"zfPravikWideLCMapStringW"},
      {[] { zfWideLCMapStringW(u"a", 0x0BAD, locale::LCMAP_UPPERCASE); }, u"zfPravikWideLCMapStringW"},
      {[] { zfWideLCMapStringW(u"a", 0x0409, locale::LCMAP_SORTKEY); }, u"zfPravikWideLCMapStringW"},
      {[] { zfWideLCMapStringA(u"a", 0x0409, 0); }, u"zfPravikWideLCMapStringA"},
  };
  for (auto& c : cases) {
    EzfBaseException e = Raised(c.call);
    EXPECT_EQ(e.ErrorCode(), 11047u) << rtl::u8(c.action);
    EXPECT_EQ(e.GetOSError(), static_cast<uint32_t>(EINVAL));
    EXPECT_EQ(e.GetCustomInfos().Value(u"Action"), c.action);
  }
}

TEST_F(WideString, Copies) {
  EXPECT_EQ(zfUnicodeStringToWideString(u"ab"), (TzfWideString{u'a', u'b'}));
  EXPECT_EQ(zfWideStrToWideString(u"ab"), (TzfWideString{u'a', u'b'}));
  TzfWideString withZero{u'a', 0, u'b'};
  EXPECT_EQ(zfWideStringToUnicodeString(withZero), UnicodeString(u"a\0b", 3));
  EXPECT_EQ(zfWideStringToWideStr(withZero).size(), 3u);
  EXPECT_TRUE(zfUnicodeStringToWideString(u"").empty());
  EXPECT_TRUE(zfWideStringToUnicodeString({}).empty());
}

TEST_F(WideString, LocaleCodePageAndMapping) {
  EXPECT_EQ(zfLocaleCodePage(0x0409), 1252u);
  EXPECT_EQ(zfLocaleCodePage(0x0411), 932u);
  EXPECT_EQ(zfLocaleCodePage(0x0419), 1251u);
  EXPECT_EQ(zfLocaleCodePage(0x0439), 0u);  // Unicode-only locale
  EXPECT_EQ(zfLocaleCodePage(0x0BAD), zfDefaultCodePage);

  EXPECT_EQ(zfWideLCMapStringW(u"Grüße", 0x0409, locale::LCMAP_UPPERCASE), u"GRÜßE");
  EXPECT_EQ(zfWideLCMapString(u"ＡＢ", 0x0411, locale::LCMAP_HALFWIDTH), u"AB");
  // The 8-bit path keeps what the locale's code page holds and loses the rest.
  EXPECT_EQ(zfWideLCMapStringA(u"привет", 0x0419, locale::LCMAP_UPPERCASE), u"ПРИВЕТ");
  EXPECT_EQ(zfWideLCMapStringA(u"aŁ", 0x0409, locale::LCMAP_UPPERCASE), u"A?");
  EXPECT_EQ(zfWideLCMapStringA(u"かな", 0x0411, locale::LCMAP_KATAKANA), u"カナ");
}

TEST_F(WideString, RunTimeConversionsKnowEveryCodePageWhileTheUnitRuns) {
  EXPECT_EQ(rtl::AnsiToUnicode(rtl::AnsiString("\x93\xFA", 932)), u"日");
  zfllWideStringUnit().Finalize();
  if (zfllWideStringUnit().Count() == 0) {  // not also started by someone else in this process
    EXPECT_THROW(rtl::AnsiToUnicode(rtl::AnsiString("\x93\xFA", 932)), rtl::EConvertError);
  }
  zfllWideStringUnit().Initialize();
}

TEST(CharacterCategories, Lookups) {
  struct Case {
    char16_t c;
    TzfCharacterCategory cat;
    bool in;
  } cases[] = {
      {u'A', ccLetterUppercase, true},    {u'a', ccLetterUppercase, false},  {u'a', ccLetterLowercase, true},
      {u' ', ccSeparatorSpace, true},     {0x2028, ccSeparatorLine, true},   {0xD800, ccOtherSurrogate, true},
      {0xDFFF, ccOtherSurrogate, true},   {u'5', ccNumberDecimalDigit, true}, {u'5', ccEuropeanNumber, true},
      {u'F', ccHexDigit, true},           {u'G', ccHexDigit, false},         {u'"', ccQuotationMark, true},
      {u'(', ccMirroring, true},          {u'(', ccPunctuationOpen, true},   {0x00E9, ccComposed, true},
      {0x00A0, ccNonBreaking, true},      {0x0627, ccRightToLeftArabic, true}, {0x05D0, ccRightToLeft, true},
      {0xE000, ccOtherPrivate, true},     {0x0378, ccOtherUnassigned, true}, {0x0378, ccAssigned, false},
      {u'A', ccAssigned, true},           {u'A', ccLeftToRight, true},       {u'\t', ccOtherControl, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(zfCharInCategories(c.c, {c.cat}), c.in) << std::hex << int(c.c) << " " << int(c.cat);
  EXPECT_FALSE(zfCharInCategories(u'A', {}));
  EXPECT_TRUE(zfCharInCategories(u'-', {ccLetterUppercase, ccPunctuationDash}));
}

TEST(CharacterCategories, ConcurrentFirstUseBuildsOneTable) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (char16_t c = u'a'; c <= u'z'; ++c)
        if (!zfCharInCategories(c, {ccLetterLowercase})) ++wrong;
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace zf
