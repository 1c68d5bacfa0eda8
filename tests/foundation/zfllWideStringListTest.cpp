#include "foundation/zfllWideStringList.h"

#include <gtest/gtest.h>

#include "foundation/zfllStartup.h"
#include "foundation/zfllStreams.h"
#include "platform/locale/locCollation.h"

namespace zf {
namespace {

TzfWideString W(UnicodeStringView s) { return TzfWideString(s.begin(), s.end()); }

PzfWideStringTransformer Upper() {
  return PzfWideStringTransformer(RefPtr<TzfWideStringLocaleMappingTransformer>::Create(0x409u, 0x200u));
}

class WideStringListTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { zfStartFoundation(); }
  static void TearDownTestSuite() { zfStopFoundation(); }
};

TEST_F(WideStringListTest, SortedListIgnoresDuplicatesAfterTransforming) {
  TzfWideStringList list(nullptr, Upper());
  list.SetSorted(true);
  EXPECT_EQ(list.Add(u"ABC"), 0);
  EXPECT_EQ(list.Add(u"abc"), 0);
  EXPECT_EQ(list.Add(u"aaa"), 0);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Get(0), W(u"AAA"));
  EXPECT_EQ(list.IndexOf(u"abc"), 1);
  list.SetDuplicates(rtl::dupError);
  EXPECT_THROW(list.Add(u"Abc"), rtl::EStringListError);
  EXPECT_THROW(list.Insert(0, u"x"), rtl::EStringListError);
  EXPECT_THROW(list.Put(0, W(u"x")), rtl::EStringListError);
  EXPECT_THROW(list.Delete(2), rtl::EStringListError);
  EXPECT_EQ(list.Count(), 2);
}

TEST_F(WideStringListTest, TextSplitsAtLineBreaks) {
  struct Case {
    UnicodeString text;
    std::vector<UnicodeString> lines;
  };
  const Case cases[] = {
      {u"a\r\n\r\nb", {u"a", u"", u"b"}},
      {u"a\rb\nc\u2029d", {u"a", u"b", u"c", u"d"}},
      {u"a\n", {u"a"}},
      {u"", {}},
      {u"\n\n", {u"", u""}},
  };
  for (const Case& c : cases) {
    TzfWideStringList list;
    list.SetTextStr(W(c.text));
    ASSERT_EQ(list.Count(), static_cast<int32_t>(c.lines.size())) << rtl::u8(c.text);
    for (size_t i = 0; i < c.lines.size(); ++i) EXPECT_EQ(list.Get(static_cast<int32_t>(i)), W(c.lines[i]));
  }
  TzfWideStringList list;
  list.SetTextStr(W(u"a\r\n\r\nb"));
  EXPECT_EQ(list.GetTextStr(), W(u"a\u2028\u2028b"));
}

TEST_F(WideStringListTest, ComparersAndTransformers) {
  TzfWideStringByteComparer bytes;
  EXPECT_EQ(bytes.CompareWideStrings(W(u"\u0100"), W(u"\u00FF")), -1);
  EXPECT_EQ(bytes.CompareWideStrings(W(u"ab"), W(u"abc")), -1);
  EXPECT_EQ(bytes.CompareWideStrings(W(u"ab"), W(u"ab")), 0);
  TzfWideStringCompareStringWComparer locale(0x409, locale::NORM_IGNORECASE);
  EXPECT_EQ(locale.CompareWideStrings(W(u"ABC"), W(u"abc")), 0);
  EXPECT_EQ(locale.CompareWideStrings(W(u""), W(u"a")), -1);

  TzfWideString out;
  TzfWideStringTruncateTransformer(3).Transform(W(u"ab\U0001F600"), out);
  EXPECT_EQ(out, W(u"ab"));
  TzfWideStringTruncateTransformer(2).Transform(W(u"ab\U0001F600"), out);
  EXPECT_EQ(out, W(u"ab"));
  TzfWideStringPreComposeTransformer().Transform(W(u"e\u0301"), out);
  EXPECT_EQ(out, W(u"\u00E9"));
  TzfWideStringTransformerHub hub({Upper(), PzfWideStringTransformer(RefPtr<TzfWideStringTruncateTransformer>::Create(2))});
  hub.Transform(W(u"abc"), out);
  EXPECT_EQ(out, W(u"AB"));
  try {
    TzfWideStringLocaleMappingTransformer sortKey(0x409, 0x400);
    FAIL();
  } catch (const EzfWideStringLocaleMappingTransformerException& e) {
    EXPECT_EQ(e.ErrorCode(), 12289u);
  }
}

TEST_F(WideStringListTest, StreamsWithAndWithoutByteOrderMarks) {
  struct Case {
    std::vector<uint8_t> bytes;
    bool forceUnicode;
    UnicodeString first;
  };
  const Case cases[] = {
      {{0xFF, 0xFE, 'h', 0, 'i', 0}, false, u"hi"},
      {{0xFE, 0xFF, 0, 'h', 0, 'i', 7}, false, u"hi"},  // swapped; the odd last byte is dropped
      {{'h', 0, 'i', 0}, true, u"hi"},
      {{'h', 0xE9}, false, u"h\u00E9"},  // 8-bit text in windows-1252
  };
  for (const Case& c : cases) {
    TzfMemoryStream ms;
    ms.WriteBuffer(c.bytes.data(), static_cast<int64_t>(c.bytes.size()));
    ms.SetPosition(0);
    TzfWideStringList list;
    list.LoadFromStream(ms, c.forceUnicode, 1252);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Get(0), W(c.first));
  }
  TzfWideStringList list;
  list.Add(u"x");
  list.Add(u"y");
  TzfMemoryStream out;
  list.SaveToStream(out, true, true);
  const auto* p = static_cast<const uint8_t*>(out.Memory());
  EXPECT_EQ(std::vector<uint8_t>(p, p + out.Size()), (std::vector<uint8_t>{0xFF, 0xFE, 'x', 0, 0x28, 0x20, 'y', 0}));
}

TEST_F(WideStringListTest, NamesObjectsAndMoves) {
  TzfWideStringList list;
  int a = 0, b = 0;
  list.AddObject(u"key=value", &a);
  list.AddObject(u"=value", &b);
  list.Add(u"key");
  EXPECT_EQ(list.IndexOfName(W(u"key")), 0);
  EXPECT_EQ(list.IndexOfName(W(u"")), 1);
  EXPECT_EQ(list.IndexOfObject(&b), 1);
  list.Move(0, 2);
  EXPECT_EQ(list.Get(2), W(u"key=value"));
  EXPECT_EQ(list.GetObject(2), &a);
  list.Exchange(0, 2);
  EXPECT_EQ(list.GetObject(0), &a);
  int changes = 0;
  list.wslOnChange = [&](TzfWideStringList&) { ++changes; };
  list.BeginUpdate();
  list.Add(u"1");
  list.Add(u"2");
  list.EndUpdate();
  EXPECT_EQ(changes, 1);
}

}  // namespace
}  // namespace zf
