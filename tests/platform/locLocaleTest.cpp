#include <gtest/gtest.h>
#include <unicode/uloc.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/locale/locCodePages.h"
#include "platform/locale/locCollation.h"
#include "platform/locale/locLocales.h"
#include "platform/os/osSystem.h"
#include "platform/rtl/rtlAnsi.h"
#include "platform/rtl/rtlException.h"

using namespace zf::locale;
using zf::rtl::u16;
using zf::rtl::UnicodeString;

namespace {

constexpr LCID kEnUS = 0x0409, kDeDE = 0x0407, kSvSE = 0x041D, kJaJP = 0x0411, kTrTR = 0x041F;

int Sign(int aCompareResult) { return aCompareResult - 2; }

}  // namespace

// ---- identifiers --------------------------------------------------------------------------------

TEST(Locales, IdentifiersMapToIcuLocalesAndBack) {
  struct Case {
    LCID lcid;
    const char* icu;
  } cases[] = {
      {0x0409, "en_US"},  {0x0809, "en_GB"},          {0x0407, "de_DE"},
      {0x10407, "de_DE@collation=phonebook"},        {0x040A, "es_ES@collation=traditional"},
      {0x0C0A, "es_ES"},  {0x0804, "zh_CN"},          {0x0404, "zh_Hant_TW"},
      {0x0411, "ja_JP"},  {0x241A, "sr_Latn_RS"},     {0x281A, "sr_Cyrl_RS"},
      {0x041F, "tr_TR"},  {0x007F, ""},
  };
  for (const auto& c : cases) {
    std::string name;
    ASSERT_TRUE(LocaleToIcuName(c.lcid, name)) << std::hex << c.lcid;
    EXPECT_EQ(name, c.icu) << std::hex << c.lcid;
    EXPECT_EQ(IcuNameToLocale(c.icu), c.lcid) << c.icu;
  }
  // BCP-47 tags, and locales without a row of their own find the row of their language.
  EXPECT_EQ(IcuNameToLocale("de-DE"), 0x0407u);
  EXPECT_EQ(IcuNameToLocale("de-DE-u-co-phonebk"), 0x10407u);
  EXPECT_EQ(IcuNameToLocale("sr-Latn-RS"), 0x241Au);
  EXPECT_EQ(IcuNameToLocale("fr"), 0x000Cu);
  EXPECT_EQ(IcuNameToLocale("pl_XX"), 0u);
  EXPECT_EQ(IcuNameToLocale("xx-YY"), 0u);
}

TEST(Locales, TableCoversEveryIdentifierIcuKnows) {
  // ICU keeps its own table of the identifiers of the original services; each one a table file
  // may carry must have a row here.
  int checked = 0;
  for (uint32_t sort : {0u, 1u, 2u, 3u, 4u, 5u}) {
    for (uint32_t langId = 1; langId <= 0xFFFF; ++langId) {
      const LCID lcid = (sort << 16) | langId;
      char name[ULOC_FULLNAME_CAPACITY];
      UErrorCode err = U_ZERO_ERROR;
      if (uloc_getLocaleForLCID(lcid, name, sizeof name, &err) <= 0 || U_FAILURE(err)) continue;
      if (uloc_getLCID(name) != lcid) continue;  // ICU's fallback to the language, not a row of its own
      if (lcid == LOCALE_USER_DEFAULT || lcid == LOCALE_SYSTEM_DEFAULT) continue;
      EXPECT_TRUE(IsValidLocale(lcid)) << std::hex << lcid << " " << name;
      ++checked;
    }
  }
  EXPECT_GT(checked, 400);
}

TEST(Locales, DefaultsNeutralsAndUnknownIdentifiers) {
  EXPECT_EQ(GetSystemDefaultLocale(), kEnUS);
  for (LCID d : {0x0000u, 0x0400u, 0x0800u, 0x0C00u, 0x1000u, 0x1400u}) {
    EXPECT_EQ(ConvertDefaultLocale(d), kEnUS) << d;
    EXPECT_FALSE(IsValidLocale(d)) << d;
  }
  EXPECT_EQ(ConvertDefaultLocale(0x0009), 0x0409u);  // neutral English -> default sub-language
  EXPECT_EQ(ConvertDefaultLocale(0x0007), 0x0407u);
  EXPECT_EQ(ConvertDefaultLocale(0x7C04), 0x7C04u);  // script neutral stays
  EXPECT_EQ(ConvertDefaultLocale(0x12345), 0x12345u);

  EXPECT_TRUE(IsValidLocale(0x0409));
  EXPECT_TRUE(IsValidLocale(0x10407));
  EXPECT_TRUE(IsValidLocale(0x0009));
  for (LCID bad : {0x0401FFu, 0x0BADu, 0x50409u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(IsValidLocale(bad)) << bad;
    std::string name;
    zf::os::SetLastError(0);
    EXPECT_FALSE(LocaleToIcuName(bad, name));
    EXPECT_EQ(zf::os::GetLastError(), EINVAL);
    uint16_t cp = 1;
    EXPECT_FALSE(LocaleAnsiCodePage(bad, cp));
  }

  EXPECT_FALSE(SetSystemDefaultLocale(0x0009));  // neutral: not a locale of its own
  ASSERT_TRUE(SetSystemDefaultLocale(kDeDE));
  EXPECT_EQ(ConvertDefaultLocale(0), kDeDE);
  ASSERT_TRUE(SetSystemDefaultLocale(kEnUS));
}

TEST(Locales, EveryRowHasAWorkingCollatorAndCodePage) {
  std::vector<LCID> all = SupportedLocales(true), plain = SupportedLocales(false);
  EXPECT_GT(all.size(), 280u);
  EXPECT_LT(plain.size(), all.size());
  std::set<uint16_t> codePages;
  for (LCID l : all) {
    uint16_t cp = 0xFFFF;
    ASSERT_TRUE(LocaleAnsiCodePage(l, cp)) << std::hex << l;
    if (cp != 0) {
      EXPECT_TRUE(IsValidCodePage(cp)) << std::hex << l << " " << cp;
    }
    codePages.insert(cp);
    EXPECT_NE(CompareStringW(l, 0, u"a", u"b"), 0) << std::hex << l;
  }
  // Every ANSI code page of the original services appears.
  for (uint16_t cp : {0, 874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258})
    EXPECT_TRUE(codePages.count(cp)) << cp;
}

TEST(Locales, AnsiCodePages) {
  struct Case {
    LCID lcid;
    uint16_t cp;
  } cases[] = {{0x0409, 1252}, {0x0405, 1250}, {0x0419, 1251}, {0x0408, 1253}, {0x041F, 1254},
               {0x040D, 1255}, {0x0401, 1256}, {0x0426, 1257}, {0x042A, 1258}, {0x041E, 874},
               {0x0411, 932},  {0x0804, 936},  {0x0412, 949},  {0x0404, 950},  {0x0439, 0},
               {0x082C, 1251}, {0x042C, 1254}, {0x10407, 1252}};
  for (const auto& c : cases) {
    uint16_t cp = 1;
    ASSERT_TRUE(LocaleAnsiCodePage(c.lcid, cp));
    EXPECT_EQ(cp, c.cp) << std::hex << c.lcid;
    UnicodeString text;
    ASSERT_TRUE(GetLocaleInfo(c.lcid, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_NOUSEROVERRIDE, text));
    EXPECT_EQ(text, u16(std::to_string(c.cp)));
  }
}

TEST(Locales, LocaleInfo) {
  UnicodeString v;
  struct Case {
    LCID lcid;
    uint32_t type;
    const char* expected;
  } cases[] = {
      {kEnUS, LOCALE_SNAME, "en-US"},         {0x10407, LOCALE_SNAME, "de-DE_phoneb"},
      {kEnUS, LOCALE_ILANGUAGE, "0409"},      {kEnUS, LOCALE_SDECIMAL, "."},
      {kDeDE, LOCALE_SDECIMAL, ","},          {kDeDE, LOCALE_STHOUSAND, "."},
      {kEnUS, LOCALE_SLONGDATE, "dddd, MMMM d, yyyy"},
      {kEnUS, LOCALE_SSHORTDATE, "M/d/yyyy"}, {kDeDE, LOCALE_SSHORTDATE, "dd.MM.yyyy"},
      {kJaJP, LOCALE_SSHORTDATE, "yyyy/MM/dd"},
      {kEnUS, LOCALE_STIMEFORMAT, "h:mm:ss tt"}, {kEnUS, LOCALE_SDATE, "/"},
      {kDeDE, LOCALE_SDATE, "."},             {kEnUS, LOCALE_STIME, ":"},
      {kEnUS, LOCALE_SDAYNAME1, "Monday"},    {kEnUS, LOCALE_SDAYNAME1 + 6, "Sunday"},
      {kEnUS, LOCALE_SABBREVMONTHNAME1 + 11, "Dec"}, {kDeDE, LOCALE_SMONTHNAME1 + 2, "März"},
      {kEnUS, LOCALE_S1159, "AM"},            {kEnUS, LOCALE_SENGLANGUAGE, "English"},
      {kEnUS, LOCALE_ICURRDIGITS, "2"},       {kDeDE, LOCALE_SLIST, ";"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(GetLocaleInfo(c.lcid, c.type, v)) << std::hex << c.type;
    EXPECT_EQ(zf::rtl::u8(v), c.expected) << std::hex << c.lcid << " " << c.type;
  }
  EXPECT_FALSE(GetLocaleInfo(kEnUS, 0x7777, v));
  EXPECT_FALSE(GetLocaleInfo(0x0BAD, LOCALE_SNAME, v));
}

TEST(Locales, SortRulesVersion) {
  TNLSVersionInfoEx en, en2, de, phonebook;
  ASSERT_TRUE(GetNLSVersion(kEnUS, en));
  ASSERT_TRUE(GetNLSVersion(0, en2));  // the system default is en-US
  ASSERT_TRUE(GetNLSVersion(kDeDE, de));
  ASSERT_TRUE(GetNLSVersion(0x10407, phonebook));
  EXPECT_NE(en.dwNLSVersion, 0u);
  EXPECT_NE(en.dwDefinedVersion, 0u);
  EXPECT_EQ(en.dwEffectiveId, kEnUS);
  EXPECT_EQ(std::memcmp(en.guidCustomVersion, "zfLC", 4), 0);
  EXPECT_EQ(std::memcmp(&en, &en2, sizeof en), 0);
  // Different sorts never share a record (the effective identifier tells them apart at least).
  EXPECT_NE(std::memcmp(&de, &phonebook, sizeof de), 0);
  EXPECT_EQ(phonebook.dwEffectiveId, 0x10407u);

  TNLSVersionInfoEx shortRecord;
  shortRecord.dwNLSVersionInfoSize = 12;
  ASSERT_TRUE(GetNLSVersion(kEnUS, shortRecord));
  EXPECT_EQ(shortRecord.dwNLSVersion, en.dwNLSVersion);
  EXPECT_EQ(shortRecord.dwEffectiveId, 0u);

  TNLSVersionInfoEx bad;
  bad.dwNLSVersionInfoSize = 20;
  EXPECT_FALSE(GetNLSVersion(kEnUS, bad));
  TNLSVersionInfoEx unknown;
  EXPECT_FALSE(GetNLSVersion(0x0BAD, unknown));
}

// ---- comparison -----------------------------------------------------------------------------------

TEST(Collation, FlagsDecideWhatCounts) {
  struct Case {
    LCID lcid;
    uint32_t flags;
    const char* a;
    const char* b;
    int expected;  // -1, 0, 1
  } cases[] = {
      {kEnUS, 0, "a", "b", -1},
      {kEnUS, 0, "abc", "ABC", -1},  // lower case first at the third level
      {kEnUS, 0, "a", "B", -1},      // linguistic, not code-unit, order
      {kEnUS, NORM_IGNORECASE, "abc", "ABC", 0},
      {kEnUS, NORM_IGNORECASE, "résumé", "RÉSUMÉ", 0},
      {kEnUS, NORM_IGNORECASE, "resume", "résumé", -1},  // accents still count
      {kEnUS, NORM_IGNORENONSPACE, "resume", "résumé", 0},
      {kEnUS, NORM_IGNORENONSPACE, "resume", "Résumé", -1},  // case still counts
      {kEnUS, NORM_IGNORENONSPACE | NORM_IGNORECASE, "resume", "RÉSUMÉ", 0},
      {kSvSE, NORM_IGNORENONSPACE, "a", "ä", -1},  // a letter of its own in Swedish
      {kSvSE, 0, "z", "ä", -1},                    // and sorted after z
      {kDeDE, 0, "ä", "z", -1},
      {kEnUS, 0, "e\u0301", "é", 0},  // canonical equivalents
      {kEnUS, NORM_IGNORESYMBOLS, "a.b c!", "abc", 0},
      {kEnUS, 0, "a.b c!", "abc", -1},
      {kJaJP, NORM_IGNOREKANATYPE, "ひらがな", "ヒラガナ", 0},
      {kJaJP, 0, "ひらがな", "ヒラガナ", -1},
      {kJaJP, NORM_IGNOREWIDTH, "ＡＢＣ", "ABC", 0},
      {kJaJP, NORM_IGNOREWIDTH, "ｶﾞ", "ガ", 0},
      {kJaJP, 0, "ＡＢＣ", "ABC", 1},
      {kEnUS, NORM_IGNORECASE, "ＡＢＣ", "abc", 1},  // width still counts
      {kEnUS, NORM_IGNORECASE | NORM_IGNOREWIDTH, "ＡＢＣ", "abc", 0},
      {kEnUS, 0, "co-op", "coop", -1},  // word sort: hyphen breaks the tie only
      {kEnUS, 0, "co-op", "cop", -1},
      {kEnUS, 0, "co-op", "conn", 1},
      {kEnUS, SORT_STRINGSORT, "co-op", "conn", -1},  // string sort: hyphen is a symbol
      {kEnUS, 0, "", "a", -1},
      {kEnUS, 0, "", "", 0},
      {0x10407, 0, "Ärger", "Affe", -1},  // phone-book German: Ä as Ae
      {kDeDE, 0, "Ärger", "Affe", 1},
      {kEnUS, 0, "a\u0001", "a", 1},  // nothing is ignorable without a flag
  };
  for (const auto& c : cases) {
    UnicodeString a = u16(c.a), b = u16(c.b);
    int r = CompareStringW(c.lcid, c.flags, a, b);
    ASSERT_NE(r, 0) << c.a << " " << c.b;
    EXPECT_EQ(Sign(r), c.expected) << std::hex << c.lcid << " flags " << c.flags << ": " << c.a << " / " << c.b;
    EXPECT_EQ(Sign(CompareStringW(c.lcid, c.flags, b, a)), -c.expected) << c.a << " / " << c.b;
    // The sort key orders as the comparison does.
    std::string ka, kb;
    ASSERT_TRUE(LCMapSortKey(c.lcid, c.flags, a, ka));
    ASSERT_TRUE(LCMapSortKey(c.lcid, c.flags, b, kb));
    int k = ka.compare(kb);
    EXPECT_EQ(k < 0 ? -1 : k > 0 ? 1 : 0, c.expected) << "sort key: " << c.a << " / " << c.b;
  }
}

TEST(Collation, DefaultLocaleUnknownLocaleAndBadFlags) {
  EXPECT_EQ(CompareStringW(0, 0, u"a", u"b"), CSTR_LESS_THAN);
  zf::os::SetLastError(0);
  EXPECT_EQ(CompareStringW(0x0BAD, 0, u"a", u"b"), 0);
  EXPECT_EQ(zf::os::GetLastError(), EINVAL);
  zf::os::SetLastError(0);
  EXPECT_EQ(CompareStringW(kEnUS, 0x40000000, u"a", u"b"), 0);
  EXPECT_EQ(zf::os::GetLastError(), EINVAL);
  std::string key;
  EXPECT_FALSE(LCMapSortKey(0x0BAD, 0, u"a", key));
}

TEST(Collation, AnsiComparisonReadsTheLocaleCodePage) {
  // 0xE4 is "ä" in windows-1252 and "ф" in windows-1251.
  EXPECT_EQ(Sign(CompareStringA(kSvSE, 0, "\xE4", "z")), 1);
  EXPECT_EQ(Sign(CompareStringA(kDeDE, 0, "\xE4", "z")), -1);
  EXPECT_EQ(Sign(CompareStringA(0x0419, 0, "\xE4", "\xE0")), 1);  // ф after а
  EXPECT_EQ(Sign(CompareStringA(kEnUS, NORM_IGNORECASE, "ABC", "abc")), 0);
  // Shift-JIS text under the Japanese locale.
  EXPECT_EQ(Sign(CompareStringA(kJaJP, NORM_IGNOREKANATYPE, "\x82\xa0", "\x83\x41")), 0);  // あ / ア
}

TEST(Collation, OrdinalComparison) {
  EXPECT_EQ(CompareStringOrdinal(u"a", u"B", false), CSTR_GREATER_THAN);
  EXPECT_EQ(CompareStringOrdinal(u"a", u"B", true), CSTR_LESS_THAN);
  EXPECT_EQ(CompareStringOrdinal(u"straße", u"STRASSE", true), CSTR_GREATER_THAN);
  EXPECT_EQ(CompareStringOrdinal(u"äb", u"ÄB", true), CSTR_EQUAL);
  EXPECT_EQ(CompareStringOrdinal(u"ab", u"abc", false), CSTR_LESS_THAN);
  EXPECT_EQ(CompareStringOrdinal(u"", u"", false), CSTR_EQUAL);
}

TEST(Collation, ManyThreadsShareTheCollators) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        LCID l = (i + t) % 2 ? kDeDE : kSvSE;
        int expected = l == kDeDE ? -1 : 1;
        if (Sign(CompareStringW(l, NORM_IGNORECASE, u"Ä", u"z")) != expected) ++wrong;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

// ---- mapping and folding ----------------------------------------------------------------------------

TEST(Mapping, LCMapString) {
  struct Case {
    LCID lcid;
    uint32_t flags;
    const char* in;
    const char* out;
  } cases[] = {
      {kEnUS, LCMAP_UPPERCASE, "straße äbc", "STRAßE ÄBC"},  // one character to one
      {kEnUS, LCMAP_LOWERCASE, "ÄBC İ", "äbc i"},
      {kTrTR, LCMAP_LOWERCASE | LCMAP_LINGUISTIC_CASING, "I", "ı"},
      {kTrTR, LCMAP_UPPERCASE, "i", "I"},
      {kTrTR, LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING, "i", "İ"},
      {kEnUS, LCMAP_TITLECASE, "hello wORLD", "Hello World"},
      {kJaJP, LCMAP_KATAKANA, "ひらがなabc", "ヒラガナabc"},
      {kJaJP, LCMAP_HIRAGANA, "カタカナ", "かたかな"},
      {kJaJP, LCMAP_FULLWIDTH, "AB1", "ＡＢ１"},
      {kJaJP, LCMAP_HALFWIDTH, "ＡＢ１カ", "AB1ｶ"},
      {kEnUS, NORM_IGNORENONSPACE, "résumé", "resume"},
      {kEnUS, NORM_IGNORESYMBOLS, "a-b, c!", "abc"},
      {0x0804, LCMAP_TRADITIONAL_CHINESE, "汉语", "漢語"},
      {0x0404, LCMAP_SIMPLIFIED_CHINESE, "漢語", "汉语"},
      {kEnUS, LCMAP_UPPERCASE, "", ""},
  };
  for (const auto& c : cases) {
    UnicodeString out;
    ASSERT_TRUE(LCMapStringW(c.lcid, c.flags, u16(c.in), out)) << c.in;
    EXPECT_EQ(zf::rtl::u8(out), c.out) << std::hex << c.flags << " " << c.in;
  }
  UnicodeString out;
  ASSERT_TRUE(LCMapStringW(kEnUS, LCMAP_BYTEREV, u"\u0102A", out));
  EXPECT_EQ(out, UnicodeString(u"\u0201\u4100"));

  for (uint32_t bad : {0u, LCMAP_HIRAGANA | LCMAP_KATAKANA, LCMAP_HALFWIDTH | LCMAP_FULLWIDTH,
                       LCMAP_SIMPLIFIED_CHINESE | LCMAP_TRADITIONAL_CHINESE, LCMAP_LINGUISTIC_CASING, LCMAP_SORTKEY,
                       LCMAP_UPPERCASE | 0x40000000u}) {
    zf::os::SetLastError(0);
    EXPECT_FALSE(LCMapStringW(kEnUS, bad, u"x", out)) << std::hex << bad;
    EXPECT_EQ(zf::os::GetLastError(), EINVAL);
  }
  EXPECT_FALSE(LCMapStringW(0x0BAD, LCMAP_UPPERCASE, u"x", out));

  std::string a;
  ASSERT_TRUE(LCMapStringA(0x0419, LCMAP_UPPERCASE, "\xE4", a));  // ф -> Ф in windows-1251
  EXPECT_EQ(a, "\xC4");
  ASSERT_TRUE(LCMapStringA(kEnUS, LCMAP_UPPERCASE, "\xE4", a));  // ä -> Ä in windows-1252
  EXPECT_EQ(a, "\xC4");
}

TEST(Mapping, FoldString) {
  struct Case {
    uint32_t flags;
    const char* in;
    const char* out;
  } cases[] = {
      {MAP_PRECOMPOSED, "e\u0301a\u0308", "éä"},
      {MAP_COMPOSITE, "éä", "e\u0301a\u0308"},
      {MAP_FOLDDIGITS, "١٢٣ ४ 9", "123 4 9"},
      {MAP_EXPAND_LIGATURES, "Æsop ﬁn œuvre", "AEsop fin oeuvre"},
      {MAP_FOLDCZONE, "ＡＢｶ", "ABカ"},
      {MAP_FOLDCZONE | MAP_PRECOMPOSED, "ｶﾞ", "ガ"},
  };
  for (const auto& c : cases) {
    UnicodeString out;
    ASSERT_TRUE(FoldStringW(c.flags, u16(c.in), out)) << c.in;
    EXPECT_EQ(zf::rtl::u8(out), c.out) << std::hex << c.flags << " " << c.in;
  }
  UnicodeString out;
  for (uint32_t bad : {0u, MAP_PRECOMPOSED | MAP_COMPOSITE, MAP_EXPAND_LIGATURES | MAP_PRECOMPOSED, 0x1u}) {
    zf::os::SetLastError(0);
    EXPECT_FALSE(FoldStringW(bad, u"x", out)) << bad;
    EXPECT_EQ(zf::os::GetLastError(), EINVAL);
  }
  // A lone surrogate passes through untouched.
  ASSERT_TRUE(FoldStringW(MAP_PRECOMPOSED, UnicodeString(u"a\xD800" u"b"), out));
  EXPECT_EQ(out, UnicodeString(u"a\xD800" u"b"));
}

// ---- code pages --------------------------------------------------------------------------------------

TEST(CodePages, ValidPagesAndFacts) {
  for (uint32_t cp : {0u, 3u, 437u, 850u, 874u, 932u, 936u, 949u, 950u, 1250u, 1251u, 1252u, 1253u, 1254u,
                      1255u, 1256u, 1257u, 1258u, 10000u, 20866u, 28591u, 28605u, 50220u, 54936u,
                      65000u, 65001u})
    EXPECT_TRUE(IsValidCodePage(cp)) << cp;
  for (uint32_t cp : {1u, 2u, 42u, 1200u, 1201u, 9999u, 70000u}) EXPECT_FALSE(IsValidCodePage(cp)) << cp;
  auto pages = SupportedCodePages();
  EXPECT_TRUE(std::is_sorted(pages.begin(), pages.end()));

  TCPInfo info;
  ASSERT_TRUE(GetCPInfo(1252, info));
  EXPECT_EQ(info.MaxCharSize, 1u);
  EXPECT_EQ(info.LeadByte[0], 0);
  ASSERT_TRUE(GetCPInfo(932, info));
  EXPECT_EQ(info.MaxCharSize, 2u);
  EXPECT_EQ(info.DefaultChar[0], '?');
  EXPECT_EQ(info.LeadByte[0], 0x81);
  EXPECT_EQ(info.LeadByte[1], 0x9F);
  EXPECT_TRUE(IsDBCSLeadByteEx(932, 0x82));
  EXPECT_FALSE(IsDBCSLeadByteEx(932, 'A'));
  EXPECT_FALSE(IsDBCSLeadByteEx(1252, 0x82));
  ASSERT_TRUE(GetCPInfo(65001, info));
  EXPECT_EQ(info.MaxCharSize, 4u);
  EXPECT_FALSE(GetCPInfo(9999, info));
}

TEST(CodePages, RoundTripsAndUnmappableCharacters) {
  struct Case {
    uint16_t cp;
    const char* text;   // UTF-8 of the UTF-16 side
    std::string bytes;  // the code page's bytes
    bool roundTrip;     // bytes -> text gives the text back
  } cases[] = {
      {1252, "Grüße €", "Gr\xFC\xDF" "e \x80", true},
      {1252, "Łódź", "?\xF3" "d?", false},        // Ł, ź not in windows-1252; no look-alikes
      {1252, "a😀b", "a?b", false},               // one '?' per character, pairs included
      {1250, "Łódź", "\xA3\xF3" "d\x9F", true},
      {1250, "Grüße €", "Gr\xFC\xDF" "e \x80", true},
      {1250, "ñ", "?", false},
      {1251, "Привет", "\xCF\xF0\xE8\xE2\xE5\xF2", true},
      {932, "日本語カナ", "\x93\xFA\x96\x7B\x8C\xEA\x83\x4A\x83\x69", true},
      {932, "ｶ", "\xB6", true},
      {932, "Ł日", "?\x93\xFA", false},
      {949, "한국", "\xC7\xD1\xB1\xB9", true},
      {936, "中文", "\xD6\xD0\xCE\xC4", true},
      {950, "中文", "\xA4\xA4\xA4\xE5", true},
      {65001, "€😀", "\xE2\x82\xAC\xF0\x9F\x98\x80", true},
  };
  for (const auto& c : cases) {
    UnicodeString text = u16(c.text), back;
    std::string bytes;
    ASSERT_TRUE(UnicodeToBytes(c.cp, text, bytes)) << c.cp;
    EXPECT_EQ(bytes, c.bytes) << c.cp << " " << c.text;
    ASSERT_TRUE(BytesToUnicode(c.cp, bytes, back)) << c.cp;
    if (c.roundTrip) {
      EXPECT_EQ(back, text) << c.cp << " " << c.text;
    }
  }
}

TEST(CodePages, IllFormedInput) {
  UnicodeString text;
  // Undefined windows-1252 bytes keep their value as C1 controls, so they survive a round trip.
  ASSERT_TRUE(BytesToUnicode(1252, "\x81\x8D", text));
  EXPECT_EQ(text, UnicodeString(u"\u0081\u008D"));
  std::string bytes;
  ASSERT_TRUE(UnicodeToBytes(1252, text, bytes));
  EXPECT_EQ(bytes, "\x81\x8D");
  // Broken UTF-8 becomes U+FFFD; a lone surrogate is written as U+FFFD.
  ASSERT_TRUE(BytesToUnicode(65001, "a\xC3", text));
  EXPECT_EQ(text, UnicodeString(u"a\uFFFD"));
  ASSERT_TRUE(UnicodeToBytes(65001, UnicodeString(u"a\xD800"), bytes));
  EXPECT_EQ(bytes, "a\xEF\xBF\xBD");
  ASSERT_TRUE(UnicodeToBytes(1252, UnicodeString(u"a\xD800"), bytes));
  EXPECT_EQ(bytes, "a?");
  // A cut-off double-byte character does not read past the end.
  ASSERT_TRUE(BytesToUnicode(932, "A\x82", text));
  EXPECT_EQ(text.size(), 2u);
  EXPECT_EQ(text[0], u'A');
  // Bytes that stand for no character (a stateful page's shift alone) give an empty text.
  ASSERT_TRUE(BytesToUnicode(65000, "+", text));
  EXPECT_TRUE(text.empty());
  ASSERT_TRUE(BytesToUnicode(50220, "\x1B(B", text));
  EXPECT_TRUE(text.empty());
  // Strict decoding refuses instead of replacing.
  zf::os::SetLastError(0);
  EXPECT_FALSE(BytesToUnicode(65001, "a\xC3", text, MB_ERR_INVALID_CHARS));
  EXPECT_EQ(zf::os::GetLastError(), EILSEQ);
}

// The run time's own UTF-8 decoding and the locale layer's give the same text for ill-formed
// bytes, so that 8-bit text of code page 65001 reads the same whichever way it is converted.
TEST(CodePages, RunTimeAndLocaleLayerAgreeOnIllFormedUtf8) {
  struct Case {
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},          // overlong
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                   // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},          // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xF0\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // overlong
      {"a\xE2\x82", u"a\uFFFD"},                      // cut off: one replacement
      {"\xE2\x82z", u"\uFFFDz"},
      {"\xF0\x9F\x98", u"\uFFFD"},
      {"\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"\xE2\x82\xAC\xF0\x9F\x98\x80\xC3\xA9", u"\u20AC\U0001F600\u00E9"},
      {"\xEF\xBF\xBF\xF4\x8F\xBF\xBF", u"\uFFFF\U0010FFFF"},
  };
  for (const Case& c : cases) {
    UnicodeString viaLocale;
    ASSERT_TRUE(BytesToUnicode(65001, c.bytes, viaLocale));
    EXPECT_EQ(viaLocale, c.text) << zf::rtl::u8(c.text);
    EXPECT_EQ(zf::rtl::Utf8ToUtf16(c.bytes), c.text) << zf::rtl::u8(c.text);
  }
}

TEST(CodePages, BufferFormAndDefaults) {
  const std::string sjis = "\x93\xFA\x96\x7B";
  EXPECT_EQ(MultiByteToWideChar(932, 0, sjis, nullptr, 0), 2);
  char16_t small[1];
  zf::os::SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(932, 0, sjis, small, 1), 0);
  EXPECT_EQ(zf::os::GetLastError(), ENOBUFS);
  char16_t exact[2];
  EXPECT_EQ(MultiByteToWideChar(932, 0, sjis, exact, 2), 2);
  EXPECT_EQ(exact[0], u'日');

  EXPECT_EQ(WideCharToMultiByte(932, 0, u"日本", nullptr, 0), 4);
  char out[3];
  zf::os::SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(932, 0, u"日本", out, 3), 0);
  EXPECT_EQ(zf::os::GetLastError(), ENOBUFS);

  zf::os::SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(9999, 0, "a", nullptr, 0), 0);
  EXPECT_EQ(zf::os::GetLastError(), EINVAL);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "", nullptr, 0), 0);
  EXPECT_EQ(WideCharToMultiByte(1252, 0x1, u"a", nullptr, 0), 0);

  UnicodeString text;
  EXPECT_TRUE(BytesToUnicode(1252, "", text));
  EXPECT_FALSE(BytesToUnicode(9999, "", text));

  // Code page 0 and 3 are the system ANSI code page.
  std::string a0, a3, a1252;
  ASSERT_TRUE(UnicodeToBytes(0, u"é", a0));
  ASSERT_TRUE(UnicodeToBytes(3, u"é", a3));
  ASSERT_TRUE(UnicodeToBytes(1252, u"é", a1252));
  EXPECT_EQ(a0, a1252);
  EXPECT_EQ(a3, a1252);
  ASSERT_TRUE(SetSystemAnsiCodePage(1250));
  ASSERT_TRUE(UnicodeToBytes(0, u"Ł", a0));
  EXPECT_EQ(a0, "\xA3");
  EXPECT_FALSE(SetSystemAnsiCodePage(9999));
  EXPECT_FALSE(SetSystemAnsiCodePage(0));
  ASSERT_TRUE(SetSystemAnsiCodePage(1252));

}

TEST(CodePages, RunTimeConversionsUseTheInstalledConverter) {
  zf::rtl::AnsiString sjis("\x93\xFA", 932);
  EXPECT_THROW(zf::rtl::AnsiToUnicode(sjis), zf::rtl::EConvertError);
  InstallCodePageConverter();
  InstallCodePageConverter();
  EXPECT_EQ(zf::rtl::AnsiToUnicode(sjis), u"日");
  EXPECT_EQ(zf::rtl::UnicodeToAnsi(u"Łódź", 1250).Bytes(), "\xA3\xF3" "d\x9F");
  EXPECT_THROW(zf::rtl::UnicodeToAnsi(u"x", 9999), zf::rtl::EConvertError);
  RemoveCodePageConverter();
  EXPECT_EQ(zf::rtl::AnsiToUnicode(sjis), u"日");  // still one install left
  RemoveCodePageConverter();
  EXPECT_THROW(zf::rtl::AnsiToUnicode(sjis), zf::rtl::EConvertError);
}
