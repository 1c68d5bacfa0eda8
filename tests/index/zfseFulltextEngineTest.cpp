// Token extraction (texts to tokens through extractors and filter chains) and the token keys.
#include <gtest/gtest.h>

#include <functional>

#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdDataDictionaryFulltext.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdLocaleDescriptor.h"
#include "foundation/zfllErrors.h"
#include "index/zfsdKeyEngineToken.h"
#include "index/zfseFulltextEngineCursor.h"
#include "index/zfseFulltextTokenIndex.h"
#include "index/zfsrIndexStartup.h"
#include "platform/locale/locCollation.h"
#include "platform/rtl/rtlException.h"

namespace zf {
namespace {

constexpr int32_t kMsg = 1, kName = 2, kCount = 3;

struct TTok {
  UnicodeString Text;
  int32_t Distance;
  int16_t Field;
  bool operator==(const TTok&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TTok& t) {
  return os << "(" << rtl::u8(t.Text) << "," << t.Distance << "," << t.Field << ")";
}

TzfWideString W(UnicodeStringView s) { return TzfWideString(s.begin(), s.end()); }

class FulltextExtractionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { zfStartIndex(); }
  static void TearDownTestSuite() { zfStopIndex(); }

  // Table: ID (auto-increment, unique), Msg (wide string), Name (short string), Count (Int32);
  // one full-text index over Msg whose filters aSetUp adds; aLocale 0: the table has none.
  void Make(uint32_t aLocale, const std::function<void(TzfFulltextIndexDescriptor&)>& aSetUp,
            bool aSecondExtractor = false, int32_t aField = kMsg) {
    dict = std::make_unique<TzfDataDictionary>();
    if (aLocale != 0) dict->AddLocaleDescriptor(nullptr)->SetLocale(static_cast<int32_t>(aLocale));
    TzfFieldsDescriptor& f = *dict->tdFieldsDescriptor;
    f.AddField(u"ID", u"", zftAutoInc, 0, 0, false, nullptr);
    f.AddField(u"Msg", u"", zftWideString, 30, 0, false, nullptr);
    f.AddField(u"Name", u"", zftShortString, 6, 0, false, nullptr);
    f.AddField(u"Count", u"", zftInt32, 0, 0, false, nullptr);
    dict->AddRecordDescriptor(nullptr);
    dynamic_cast<TzfCompKeyDescriptor*>(
        dict->EnsureIndicesDescriptor()->AddIndex(u"ByID", 0, idNone, u"")->idKeyDescriptor.get())
        ->Add(0);
    TzfFulltextIndexDescriptor* index = zfEnsureFulltextDescriptor(*dict)->AddFulltextIndex(u"Body");
    index->AddFieldTokenExtractor(aField);
    if (aSecondExtractor) index->AddFieldTokenExtractor(kName);
    aSetUp(*index);
    table = TzfBaseFulltextTableEngine::CreateFor(*dict, {}, nullptr, nullptr);
    cursor = TzfBaseFulltextCursorEngine::CreateFor(table.get(), nullptr);
    record.assign(static_cast<size_t>(f.GetRecordLength()), 0);
    f.InitRecord(record.data());
  }

  // The tokens the new side of the index's filter chain gives for the record.
  std::vector<TTok> Tokens() {
    auto& engine = *dynamic_cast<TzfFulltextCursorEngine&>(*cursor).ftceFulltextIndices[0];
    engine.ficeTokenExtractorHubNew->Initialize(record.data(), 1, false);
    TzfBaseTokenSourceCursorEngine& source = *engine.ficeTokenFilterHubNew;
    std::vector<TTok> r;
    for (int pass = 0; pass < 2; ++pass) {  // a reset starts the streams over
      r.clear();
      source.Reset();
      for (PzfToken t = source.NextToken(); t; t = source.NextToken())
        r.push_back({zfWideStringToUnicodeString(t->Token()), t->Distance(), t->Field()});
    }
    return r;
  }

  void SetText(int32_t aField, const UnicodeString& aText) {
    dict->tdFieldsDescriptor->SetFieldAsVariant(record.data(), aField, rtl::Variant(aText));
  }

  std::unique_ptr<TzfDataDictionary> dict;
  std::unique_ptr<TzfBaseFulltextTableEngine> table;
  std::unique_ptr<TzfBaseFulltextCursorEngine> cursor;
  std::vector<uint8_t> record;
};

template <class T>
T* AddFilter(TzfFulltextIndexDescriptor& aIndex, const UnicodeString& aName) {
  return dynamic_cast<T*>(aIndex.AddTokenFilter(aName, &T::ClassInfo()));
}

TEST_F(FulltextExtractionTest, TextsToTokens) {
  using Setup = std::function<void(TzfFulltextIndexDescriptor&)>;
  const Setup space = [](TzfFulltextIndexDescriptor& i) { AddFilter<TzfWideCharSeparatorTokenFilterDescriptor>(i, u"S"); };
  const Setup space3 = [](TzfFulltextIndexDescriptor& i) {
    AddFilter<TzfWideCharSeparatorTokenFilterDescriptor>(i, u"S")->SetSeparatorDistance(3);
  };
  const Setup comma = [](TzfFulltextIndexDescriptor& i) {
    AddFilter<TzfWideCharSeparatorTokenFilterDescriptor>(i, u"S")->SetSeparatorChar(u',');
  };
  const Setup words = [](TzfFulltextIndexDescriptor& i) {
    AddFilter<TzfCategorySeparatorTokenFilterDescriptor>(i, u"W");
  };
  const Setup lower = [](TzfFulltextIndexDescriptor& i) {
    AddFilter<TzfCategorySeparatorTokenFilterDescriptor>(i, u"W");
    AddFilter<TzfLowercaseLocaleMappingTokenFilterDescriptor>(i, u"L");
  };
  const Setup upper = [](TzfFulltextIndexDescriptor& i) {
    AddFilter<TzfUppercaseLocaleMappingTokenFilterDescriptor>(i, u"U");
  };
  const Setup linguistic = [](TzfFulltextIndexDescriptor& i) {
    AddFilter<TzfCustomLocaleMappingTokenFilterDescriptor>(i, u"L")
        ->SetFlags(locale::LCMAP_LOWERCASE | locale::LCMAP_LINGUISTIC_CASING);
  };
  const Setup compose = [](TzfFulltextIndexDescriptor& i) {
    AddFilter<TzfPreComposeFoldStringTokenFilterDescriptor>(i, u"P");
  };
  const Setup decompose = [](TzfFulltextIndexDescriptor& i) {
    AddFilter<TzfDecomposeFoldStringTokenFilterDescriptor>(i, u"D");
  };
  const Setup digits = [](TzfFulltextIndexDescriptor& i) {
    AddFilter<TzfCustomFoldStringTokenFilterDescriptor>(i, u"F")->SetFlags(locale::MAP_FOLDDIGITS);
  };
  struct Case {
    const char* what;
    uint32_t locale;
    Setup setup;
    UnicodeString text;
    std::vector<TTok> tokens;
  };
  const Case cases[] = {
      {"two words", 0, space, u"ab cd", {{u"ab", 0, 0}, {u"cd", 1, 0}}},
      {"leading spaces", 0, space, u"  ab", {{u"ab", 1, 0}}},
      {"one word passes whole", 0, space, u"abc", {{u"abc", 0, 0}}},
      {"distance 3", 0, space3, u"a  b", {{u"a", 0, 0}, {u"b", 3, 0}}},
      {"leading with distance 3", 0, space3, u" a b", {{u"a", 3, 0}, {u"b", 3, 0}}},
      {"spaces only", 0, space, u"   ", {}},
      {"other separator char", 0, comma, u"a b,c", {{u"a b", 0, 0}, {u"c", 1, 0}}},
      {"categories", 0, words, u"Disk full! (volume \u201CC\u201D)",
       {{u"Disk", 0, 0}, {u"full", 1, 0}, {u"volume", 1, 0}, {u"C", 1, 0}}},
      {"dash and connector stay", 0, words, u"e-mail snake_case", {{u"e-mail", 0, 0}, {u"snake_case", 1, 0}}},
      {"line and paragraph separators", 0, words, u"a\u2028b\u2029c\tc", {{u"a", 0, 0}, {u"b", 1, 0}, {u"c", 1, 0}, {u"c", 1, 0}}},
      {"lower case", 0x409, lower, u"Hello WORLD", {{u"hello", 0, 0}, {u"world", 1, 0}}},
      {"lower case without a locale", 0, lower, u"\u00C4RGER", {{u"\u00E4rger", 0, 0}}},
      {"upper case (one unit for one)", 0x409, upper, u"stra\u00DFe", {{u"STRA\u00DFE", 0, 0}}},
      {"Turkish casing under its locale", 0x41F, linguistic, u"I\u0130", {{u"\u0131i", 0, 0}}},
      {"the same without the locale's rules", 0x409, linguistic, u"I", {{u"i", 0, 0}}},
      {"precomposed", 0, compose, u"e\u0301t\u00E9", {{u"\u00E9t\u00E9", 0, 0}}},
      {"decomposed", 0, decompose, u"\u00E9", {{u"e\u0301", 0, 0}}},
      {"digits folded", 0, digits, u"\u0661\u0662", {{u"12", 0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Make(c.locale, c.setup);
    SetText(kMsg, c.text);
    EXPECT_EQ(Tokens(), c.tokens);
  }
}

TEST_F(FulltextExtractionTest, FieldsAndTheirConversions) {
  // Two extractors in one hub: the second's tokens carry Field 1.
  Make(0, [](TzfFulltextIndexDescriptor& i) { AddFilter<TzfWideCharSeparatorTokenFilterDescriptor>(i, u"S"); }, true);
  SetText(kMsg, u"a b");
  SetText(kName, u"c");
  EXPECT_EQ(Tokens(), (std::vector<TTok>{{u"a", 0, 0}, {u"b", 1, 0}, {u"c", 0, 1}}));
  // A NULL field gives no token.
  dict->tdFieldsDescriptor->SetRecordFieldNull(kMsg, record.data(), true);
  EXPECT_EQ(Tokens(), (std::vector<TTok>{{u"c", 0, 1}}));

  // A short string: under a locale with storage code page 1252 byte $80 is the euro sign; without
  // one each byte is widened. A length byte beyond the field's units is held to them.
  for (const auto& [locale, expected] : {std::pair<uint32_t, UnicodeString>{0x409, u"\u20ACx"},
                                         std::pair<uint32_t, UnicodeString>{0, u"\u0080x"}}) {
    Make(locale, [](TzfFulltextIndexDescriptor&) {}, false, kName);
    TzfFieldsDescriptor& f = *dict->tdFieldsDescriptor;
    uint8_t raw[7] = {2, 0x80, 'x', 0, 0, 0, 0};
    f.SetRecordField(kName, record.data(), raw);
    EXPECT_EQ(Tokens(), (std::vector<TTok>{{expected, 0, 0}}));
    raw[0] = 200;
    for (int i = 1; i < 7; ++i) raw[i] = 'y';
    f.SetRecordField(kName, record.data(), raw);
    EXPECT_EQ(Tokens(), (std::vector<TTok>{{u"yyyyyy", 0, 0}}));
  }

  // A wide string without its terminating zero stops at the field's units.
  Make(0, [](TzfFulltextIndexDescriptor&) {});
  std::vector<uint8_t> wide(62, 'z');
  dict->tdFieldsDescriptor->SetRecordField(kMsg, record.data(), wide.data());
  EXPECT_EQ(Tokens().at(0).Text.size(), 30u);

  // An Integer field as source contributes nothing.
  Make(0, [](TzfFulltextIndexDescriptor&) {}, false, kCount);
  dict->tdFieldsDescriptor->SetFieldAsVariant(record.data(), kCount, rtl::Variant(int32_t{42}));
  EXPECT_TRUE(Tokens().empty());
}

TEST_F(FulltextExtractionTest, UnknownEngineClassRefusesTheTable) {
  // A filter descriptor class without a table engine of its name.
  class TzfOddTokenFilterDescriptor : public TzfWideCharSeparatorTokenFilterDescriptor {
   public:
    using TzfWideCharSeparatorTokenFilterDescriptor::TzfWideCharSeparatorTokenFilterDescriptor;
    static const TzfDictionaryItemClassInfo& Info() {
      static const TzfDictionaryItemClassInfo info(u"TzfOddTokenFilterDescriptor",
                                                   &TzfWideCharSeparatorTokenFilterDescriptor::ClassInfo(), nullptr,
                                                   &zfNewDictionaryItem<TzfOddTokenFilterDescriptor>);
      return info;
    }
    const TzfRegisterableClass& ClassType() const override { return Info(); }
  };
  try {
    Make(0, [](TzfFulltextIndexDescriptor& i) { i.AddTokenFilter(u"Odd", &TzfOddTokenFilterDescriptor::Info()); });
    FAIL();
  } catch (const EzfBaseException& e) {
    EXPECT_EQ(e.ErrorCode(), zfErrSubEngineNotSupported);
    EXPECT_NE(e.Message().find(u"Unknown TokenFilter engine: \"TzfOddTokenFilterTableEngine\""), UnicodeString::npos);
  }
}

// ---- Token keys ----

class TokenKeyTest : public FulltextExtractionTest {};

TEST_F(TokenKeyTest, BitArrayKeyBytes) {
  TzfBitArrayTokenKeyDescriptor d(nullptr);
  d.batkdPerFieldIndex = true;
  TzfBitArrayTokenKeyEngine e(d);
  EXPECT_EQ(e.bkeKeyLength, 46);
  std::vector<uint8_t> key(46, 0);
  e.InternalBuildKey(3, W(u"abc"), 7, key.data());
  std::vector<uint8_t> expected = {3, 0, 3, 0, 'a', 0, 'b', 0, 'c', 0};
  expected.resize(44, 0);
  expected.push_back(7);
  expected.push_back(0);
  EXPECT_EQ(key, expected);

  // Reversed: characters in reverse order, a surrogate pair kept high then low; a lone high
  // surrogate at the end is dropped; a token longer than M is cut.
  d.batkdReverse = true;
  d.batkdPerFieldIndex = false;
  d.batkdMaxTokenSize = 3;
  TzfBitArrayTokenKeyEngine r(d);
  struct Case {
    UnicodeString token;
    std::vector<uint16_t> units;
  };
  const Case cases[] = {
      {u"abc", {'c', 'b', 'a'}},
      {u"\U0001F600x", {'x', 0xD83D, 0xDE00}},
      {u"ab\xD83D", {'b', 'a'}},
      {u"abcd", {'c', 'b', 'a'}},
      {u"ab\U0001F600", {'b', 'a'}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> k(r.bkeKeyLength, 0);
    r.InternalBuildKey(0, W(c.token), 0, k.data());
    ASSERT_EQ(k[2], c.units.size()) << rtl::u8(c.token);
    for (size_t i = 0; i < c.units.size(); ++i) EXPECT_EQ(k[4 + 2 * i] | k[5 + 2 * i] << 8, c.units[i]);
  }
  EXPECT_THROW(r.InternalBuildKey(0, TzfWideString{}, 0, std::vector<uint8_t>(10).data()), rtl::ERangeError);
  EXPECT_EQ(r.BuildKey(nullptr, nullptr, 0, false), zfErrNotSupported);
}

TEST_F(TokenKeyTest, Ordering) {
  TzfBitArrayTokenKeyDescriptor d(nullptr);
  TzfBitArrayTokenKeyEngine e(d);
  auto key = [&](uint16_t aSeg, UnicodeStringView aToken) {
    std::vector<uint8_t> k(e.bkeKeyLength, 0);
    e.InternalBuildKey(aSeg, W(aToken), 0, k.data());
    return k;
  };
  // Without a locale, the little-endian bytes: $0100 (00 01) before $00FF (FF 00).
  EXPECT_EQ(e.CompareKey(key(0, u"\u0100").data(), key(0, u"\u00FF").data()), -1);
  EXPECT_EQ(e.CompareKey(key(1, u"a").data(), key(0, u"b").data()), 1);
  EXPECT_EQ(e.CompareKey(key(0, u"ab").data(), key(0, u"abc").data()), -1);
  d.batkdLocale = 0x409;
  d.batkdFlags = locale::NORM_IGNORECASE;
  TzfBitArrayTokenKeyEngine l(d);
  std::vector<uint8_t> a(l.bkeKeyLength, 0), b(l.bkeKeyLength, 0);
  l.InternalBuildKey(0, W(u"ABC"), 0, a.data());
  l.InternalBuildKey(0, W(u"abc"), 0, b.data());
  EXPECT_EQ(l.CompareKey(a.data(), b.data()), 0);

  // Main-index keys: the location never takes part; a partial length compares prefixes.
  TzfMainIndexTokenKeyDescriptor md(nullptr);
  md.mitkdIncludeLocation = true;
  TzfMainIndexTokenKeyEngine m(md);
  EXPECT_EQ(m.bkeKeyLength, 46);
  std::vector<uint8_t> x(46, 0), y(46, 0);
  m.InternalBuildKey(W(u"abc"), 5, x.data());
  m.InternalBuildKey(W(u"abc"), 6, y.data());
  EXPECT_EQ(m.CompareKey(x.data(), y.data()), 0);
  EXPECT_EQ(x[42] | x[43] << 8, 5);
  EXPECT_EQ(m.KeyAsVariant(x.data(), 1).AsInt64(), 5);
  m.ClearKey(y.data());
  m.InternalBuildKey(W(u"abd"), 6, y.data());
  EXPECT_EQ(m.CompareKey(x.data(), y.data(), 0, 2), 0);
  EXPECT_EQ(m.CompareKey(x.data(), y.data()), -1);
  TzfMainIndexTokenKeyDescriptor plain(nullptr);
  TzfMainIndexTokenKeyEngine p(plain);
  EXPECT_EQ(p.GetFieldFromName(u"Location"), -1);
  EXPECT_EQ(p.GetFieldFromName(u"token"), 0);
  EXPECT_EQ(p.BuildKey(nullptr, nullptr, 0, false), 1u);
}

}  // namespace
}  // namespace zf
