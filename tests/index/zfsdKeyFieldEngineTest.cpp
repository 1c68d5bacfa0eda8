// Composite key field engines: key parts and their order for every field type, both directions,
// prefixes, text under two locales and by code units, NumbersOnly, damaged text lengths, NaN.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dictionary/zfsdKeyDescriptor.h"
#include "dictionary/zfsdValidationDescriptor.h"
#include "dictionary/zfsdValidationEngine.h"
#include "index/zfsdKeyFieldEngineBase.h"
#include "platform/locale/locCollation.h"
#include "tests/index/zfsrIndexTestUtil.h"

namespace zf::test {
namespace {

const rtl::Variant Null = rtl::Variant::Null();
rtl::Variant S(const char16_t* s) { return rtl::Variant(UnicodeString(s)); }

// One table with one field and a key over it.
struct TOneField {
  TOneField(TzfFieldType aType, int32_t aUnits, int32_t aDecPl = 0, TzfKeyFieldDescriptorClass aClass = nullptr) {
    Field = AddTestField(*Table.Fields, u"F", aType, aUnits, aDecPl);
    KeyField = Key.Add(0, aClass);
  }
  std::unique_ptr<TzfDefaultCKFE> Engine() {
    auto e = TzfCompositeKeyFieldEngine::CreateEngine(*KeyField);
    auto* full = dynamic_cast<TzfDefaultCKFE*>(e.get());
    EXPECT_NE(full, nullptr);
    e.release();
    return std::unique_ptr<TzfDefaultCKFE>(full);
  }
  std::vector<uint8_t> Value(const rtl::Variant& v) {
    std::vector<uint8_t> b(static_cast<size_t>(Field->fdLength));
    Field->VariantToValue(b.data(), v);
    return b;
  }
  std::vector<uint8_t> Part(TzfDefaultCKFE& e, const std::vector<uint8_t>& aField) {
    std::vector<uint8_t> k(static_cast<size_t>(e.ckfeKeyLength), 0xCC);
    e.BuildKey(aField.data(), k.data());
    return k;
  }

  TTestTable Table;
  TzfCompKeyDescriptor Key{&Table};
  TzfFieldDescriptor* Field;
  TzfKeyFieldDescriptor* KeyField;
};

class KeyFieldEngineTest : public IndexStarted {};

struct TTypeCase {
  TzfFieldType Type;
  int32_t Units;
  rtl::Variant A, B;
  int Expected;       // A against B, ascending
  bool SameBytes;     // the key part holds the field's bytes
};

TEST_F(KeyFieldEngineTest, EveryTypeOrdersItsKeyPartsInBothDirections) {
  const TTypeCase cases[] = {
      {zftBoolean, 0, rtl::Variant(false), rtl::Variant(true), -1, true},
      {zftByte, 0, rtl::Variant(int32_t{255}), rtl::Variant(int32_t{0}), 1, true},
      {zftInt8, 0, rtl::Variant(int32_t{-1}), rtl::Variant(int32_t{0}), -1, true},
      {zftWord16, 0, rtl::Variant(int32_t{65535}), rtl::Variant(int32_t{1}), 1, true},
      {zftInt16, 0, rtl::Variant(int32_t{-300}), rtl::Variant(int32_t{2}), -1, true},
      {zftInt32, 0, rtl::Variant(int32_t{5}), rtl::Variant(int32_t{7}), -1, true},
      {zftWord32, 0, rtl::Variant(int64_t{4000000000}), rtl::Variant(int32_t{1}), 1, true},
      {zftAutoInc, 0, rtl::Variant(int64_t{3000000000}), rtl::Variant(int32_t{9}), 1, true},
      {zftInt64, 0, rtl::Variant(int64_t{-1}), rtl::Variant(int64_t{1}), -1, true},
      {zftCurrency, 0, rtl::Variant(rtl::Currency{-10000}), rtl::Variant(rtl::Currency{5}), -1, true},
      {zftSingle, 0, rtl::Variant(1.5f), rtl::Variant(-1.5f), 1, true},
      {zftDouble, 0, rtl::Variant(2.5), rtl::Variant(2.5), 0, true},
      {zftExtended, 0, rtl::Variant(1e300), rtl::Variant(1e299), 1, true},
      {zftDate, 0, rtl::Variant::FromDate(40000), rtl::Variant::FromDate(40001), -1, true},
      {zftTime, 0, rtl::Variant::FromDate(0.75), rtl::Variant::FromDate(0.25), 1, true},
      {zftDateTime, 0, rtl::Variant::FromDate(40000.25), rtl::Variant::FromDate(40000.75), -1, true},
      {zftFmtBCD, 10, S(u"-12.5"), S(u"3"), -1, true},
      {zftGuid, 0, S(u"{00000002-0000-0000-0000-000000000000}"), S(u"{00000001-0000-0000-0000-000000000000}"), 1,
       true},
      {zftByteArray, 3, rtl::Variant::FromBytes({1, 2, 3}), rtl::Variant::FromBytes({1, 2, 4}), -1, true},
      {zftChar, 0, S(u"B"), S(u"a"), -1, true},
      {zftWideChar, 0, S(u"B"), S(u"a"), -1, true},
      {zftShortString, 5, S(u"ab"), S(u"abc"), -1, true},
      {zftNullString, 5, S(u"b"), S(u"abc"), 1, true},
      {zftWideString, 5, S(u"B"), S(u"a"), -1, true},
  };
  for (const TTypeCase& c : cases) {
    SCOPED_TRACE(rtl::u8(zfFieldTypeEnumName(c.Type)));
    TOneField t(c.Type, c.Units, c.Type == zftFmtBCD ? 2 : 0);
    auto e = t.Engine();
    const auto a = t.Value(c.A), b = t.Value(c.B);
    const auto ka = t.Part(*e, a), kb = t.Part(*e, b);
    if (c.SameBytes) {
      EXPECT_EQ(ka, a);
    }
    EXPECT_EQ(e->CompareKey(ka.data(), kb.data()), c.Expected);
    EXPECT_EQ(e->CompareKey(kb.data(), ka.data()), -c.Expected);
    EXPECT_EQ(e->CompareFieldDirect(a.data(), b.data()), c.Expected);
    t.KeyField->SetAscend(false);
    auto d = t.Engine();
    EXPECT_EQ(t.Part(*d, a), ka);  // the same bytes in both directions
    EXPECT_EQ(d->CompareKey(ka.data(), kb.data()), -c.Expected);
    EXPECT_EQ(d->CompareFieldDirect(a.data(), b.data()), -c.Expected);
  }
}

TEST_F(KeyFieldEngineTest, NaNSortsAfterInfinityAndEqualsNaN) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  for (TzfFieldType type : {zftSingle, zftDouble, zftDateTime, zftExtended}) {
    SCOPED_TRACE(rtl::u8(zfFieldTypeEnumName(type)));
    TOneField t(type, 0);
    auto e = t.Engine();
    auto val = [&](double v) {
      std::vector<uint8_t> b(static_cast<size_t>(t.Field->fdLength), 0);
      if (type == zftSingle) {
        const float f = static_cast<float>(v);
        std::memcpy(b.data(), &f, 4);
      } else if (type == zftExtended) {
        const long double x = v;
        std::memcpy(b.data(), &x, 10);
      } else {
        std::memcpy(b.data(), &v, 8);
      }
      return b;
    };
    const auto n = val(nan), i = val(inf), m = val(-inf), one = val(1);
    EXPECT_EQ(e->CompareKey(n.data(), i.data()), 1);
    EXPECT_EQ(e->CompareKey(i.data(), n.data()), -1);
    EXPECT_EQ(e->CompareKey(n.data(), n.data()), 0);
    EXPECT_EQ(e->CompareKey(m.data(), n.data()), -1);
    EXPECT_EQ(e->CompareKey(one.data(), n.data()), -1);
    EXPECT_EQ(e->CompareKey(m.data(), one.data()), -1);
  }
}

TEST_F(KeyFieldEngineTest, ShortStringKeptToTheKeyCharacters) {
  TOneField t(zftShortString, 30);
  t.KeyField->SetOverrideLengthChars(10);
  auto e = t.Engine();
  EXPECT_EQ(e->ckfeKeyLength, 11);
  EXPECT_EQ(e->ckfeBuildKeyLength, 11);
  EXPECT_FALSE(e->KeySameAsRecordFormat);
  const auto a = t.Value(S(u"abcdefghijklmnopqrstuvwxy"));
  const auto k = t.Part(*e, a);
  EXPECT_EQ(k[0], 10);
  EXPECT_EQ(std::string(k.begin() + 1, k.end()), "abcdefghij");
  // Direct comparison builds both keys: values equal in their first ten characters are equal.
  const auto b = t.Value(S(u"abcdefghijZZZ"));
  EXPECT_EQ(e->CompareFieldDirect(a.data(), b.data()), 0);
}

struct TPartialCase {
  TzfFieldType Type;
  uint32_t Locale;
  int32_t PartialLen;
  int Expected;  // "abc" against "abcdef"
};

TEST_F(KeyFieldEngineTest, PrefixComparisonsAndTheSpecialLengths) {
  const TPartialCase cases[] = {
      {zftShortString, 0, zfPartialLenOfFirst, 0},  {zftNullString, 0, zfPartialLenOfFirst, 0},
      {zftWideString, 0, zfPartialLenOfFirst, 0},   {zftShortString, 1033, zfPartialLenOfFirst, 0},
      {zftNullString, 1033, zfPartialLenOfFirst, 0}, {zftWideString, 1033, zfPartialLenOfFirst, 0},
      {zftShortString, 0, zfPartialLenOfSecond, -1}, {zftNullString, 1033, zfPartialLenOfSecond, -1},
      {zftWideString, 1033, zfPartialLenOfSecond, -1}, {zftShortString, 0, 3, 0},
      {zftWideString, 0, 4, -1},                     {zftNullString, 1041, zfPartialLenOfFirst, 0},
      {zftShortString, 1041, 3, 0},                  {zftByteArray, 0, 3, 0},
  };
  for (const TPartialCase& c : cases) {
    SCOPED_TRACE(rtl::u8(UnicodeString(zfFieldTypeEnumName(c.Type)) + u" " + rtl::IntToStr(c.Locale) + u" " +
                         rtl::IntToStr(c.PartialLen)));
    TOneField t(c.Type, 8);
    if (c.Locale) t.Field->AddLocaleDescriptor(nullptr)->SetLocale(static_cast<int32_t>(c.Locale));
    auto e = t.Engine();
    ASSERT_TRUE(e->PartialCompareKey);
    const auto a = t.Part(*e, t.Value(c.Type == zftByteArray ? rtl::Variant::FromBytes({1, 2, 3, 0, 0, 0, 0, 0})
                                                             : S(u"abc")));
    const auto b = t.Part(*e, t.Value(c.Type == zftByteArray ? rtl::Variant::FromBytes({1, 2, 3, 4, 5, 6, 0, 0})
                                                             : S(u"abcdef")));
    EXPECT_EQ(e->PartialCompareKey(a.data(), b.data(), c.PartialLen), c.Expected);
  }
  TOneField i(zftInt32, 0);
  EXPECT_FALSE(i.Engine()->PartialCompareKey);
  EXPECT_FALSE(i.Engine()->PartialCompareFieldDirect);
}

TEST_F(KeyFieldEngineTest, TextByLocaleAndByCodeUnits) {
  // German sorts "ä" with "a", Swedish after "z"; by code units "B" comes before "a".
  struct TCase {
    TzfFieldType Type;
    uint32_t Locale;
    const char16_t *A, *B;
    int Expected;
  } cases[] = {
      {zftShortString, 1031, u"\u00e4b", u"zz", -1}, {zftShortString, 1053, u"\u00e4b", u"zz", 1},
      {zftNullString, 1031, u"\u00e4b", u"zz", -1},  {zftNullString, 1053, u"\u00e4b", u"zz", 1},
      {zftWideString, 1031, u"\u00e4b", u"zz", -1},  {zftWideString, 1053, u"\u00e4b", u"zz", 1},
      {zftChar, 1053, u"\u00e4", u"z", 1},           {zftWideChar, 1031, u"\u00e4", u"z", -1},
      {zftShortString, 1033, u"B", u"a", 1},         {zftShortString, 0, u"B", u"a", -1},
      {zftWideString, 1033, u"B", u"a", 1},          {zftWideString, 0, u"B", u"a", -1},
      {zftNullString, 0, u"\u00e4b", u"zz", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(rtl::u8(UnicodeString(zfFieldTypeEnumName(c.Type)) + u" " + rtl::IntToStr(c.Locale)));
    TOneField t(c.Type, 6);
    if (c.Locale) {
      t.Field->AddLocaleDescriptor(nullptr)->SetLocale(static_cast<int32_t>(c.Locale));
    } else {
      ASSERT_EQ(t.Field->GetUsedLocaleDescriptor(), nullptr);
    }
    auto e = t.Engine();
    EXPECT_EQ(e->ckfeUseByteOrder, c.Locale == 0);
    const auto a = t.Value(S(c.A)), b = t.Value(S(c.B));
    EXPECT_EQ(e->CompareFieldDirect(a.data(), b.data()), c.Expected);
    EXPECT_EQ(e->CompareKey(t.Part(*e, a).data(), t.Part(*e, b).data()), c.Expected);
  }
}

TEST_F(KeyFieldEngineTest, IgnoreCaseFoldsByCodeUnitsAndUnderALocale) {
  for (uint32_t locale : {0u, 1033u}) {
    TOneField t(zftShortString, 6, 0, &TzfTextKeyFieldDescriptor::ClassInfo());
    if (locale) t.Field->AddLocaleDescriptor(nullptr)->SetLocale(static_cast<int32_t>(locale));
    static_cast<TzfTextKeyFieldDescriptor*>(t.KeyField)->SetIgnoreCase(true);
    auto e = t.Engine();
    const auto a = t.Value(S(u"Anna")), b = t.Value(S(u"ANNA")), c = t.Value(S(u"anne"));
    EXPECT_EQ(e->CompareFieldDirect(a.data(), b.data()), 0);
    EXPECT_EQ(e->CompareFieldDirect(b.data(), c.data()), -1);
  }
}

TEST_F(KeyFieldEngineTest, WideTextWithoutLocaleFollowsTheSwitchOutsideADictionary) {
  // The test table answers no wide-string order, so the switch decides: code units unless set.
  TOneField t(zftWideString, 4);
  EXPECT_TRUE(t.Engine()->ckfeUseByteOrder);
  zfSetDisable30900LocaleFixes(true);
  auto e = t.Engine();
  zfSetDisable30900LocaleFixes(false);
  EXPECT_FALSE(e->ckfeUseByteOrder);
  EXPECT_EQ(e->ckfeLocale, 0u);
  const auto a = t.Value(S(u"B")), b = t.Value(S(u"a"));
  EXPECT_EQ(e->CompareFieldDirect(a.data(), b.data()), 1);  // the system default locale's order
}

TEST_F(KeyFieldEngineTest, DamagedTextLengthsStayInsideTheField) {
  {
    TOneField t(zftShortString, 5);
    auto e = t.Engine();
    std::vector<uint8_t> a = t.Value(S(u"abcde")), b = a;
    b[0] = 200;  // a length byte beyond the field
    EXPECT_EQ(e->CompareFieldDirect(a.data(), b.data()), 0);
    const auto k = t.Part(*e, b);
    EXPECT_EQ(k, a);
  }
  {
    TOneField t(zftNullString, 4);
    auto e = t.Engine();
    std::vector<uint8_t> a = {'a', 'b', 'c', 'd', 'e'};  // no terminator in the field
    std::vector<uint8_t> b = {'a', 'b', 'c', 'd', 0};
    EXPECT_EQ(e->CompareFieldDirect(a.data(), b.data()), 0);
    EXPECT_EQ(t.Part(*e, a), b);
  }
  {
    TOneField t(zftWideString, 2);
    auto e = t.Engine();
    std::vector<uint8_t> a = {'x', 0, 'y', 0, 'z', 0};  // no zero unit
    std::vector<uint8_t> b = {'x', 0, 'y', 0, 0, 0};
    EXPECT_EQ(e->CompareFieldDirect(a.data(), b.data()), 0);
    EXPECT_EQ(t.Part(*e, a), b);
  }
}

TEST_F(KeyFieldEngineTest, NumbersOnlyKeepsTheDigits) {
  struct TCase {
    TzfFieldType Type;
    int32_t Units, KeyChars;
    std::vector<uint8_t> Expected;  // the part's leading bytes; the rest are zero
    size_t PartLength;
  } cases[] = {
      {zftNullString, 10, 0, {'1', '2', '3'}, 11},
      {zftShortString, 10, 0, {3, '1', '2', '3'}, 11},
      {zftWideString, 8, 0, {'1', 0, '2', 0, '3', 0}, 18},
      {zftNullString, 10, 2, {'1', '2'}, 3},  // digits beyond the key part are dropped
      {zftWideString, 10, 2, {'1', 0, '2', 0}, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(rtl::u8(zfFieldTypeEnumName(c.Type)));
    TOneField t(c.Type, c.Units);
    t.KeyField->SetKeyFieldEngine(u"NumbersOnly");
    if (c.KeyChars) t.KeyField->SetOverrideLengthChars(c.KeyChars);
    auto e = t.Engine();
    EXPECT_EQ(UnicodeString(e->ClassName()), u"TzfNumbersOnlyCKFE");
    EXPECT_FALSE(e->KeySameAsRecordFormat);
    std::vector<uint8_t> expected = c.Expected;
    expected.resize(c.PartLength, 0);
    EXPECT_EQ(t.Part(*e, t.Value(S(u"A-12/b3"))), expected);
    const auto x = t.Value(S(u"x1-2")), y = t.Value(S(u"12"));
    EXPECT_EQ(e->CompareFieldDirect(x.data(), y.data()), 0);
  }
}

TEST_F(KeyFieldEngineTest, NullBehaviourSettings) {
  struct TCase {
    TzfNullBehaviour Behaviour;
    bool Ascend, InvertNull, FilterNull, FilterNonNull;
  } cases[] = {
      {nbTop, true, false, false, false},     {nbBottom, true, true, false, false},
      {nbAsAscend, true, false, false, false}, {nbAsAscend, false, true, false, false},
      {nbFilterNull, true, false, true, false}, {nbFilterNonNull, true, false, false, true},
  };
  for (const auto& c : cases) {
    TOneField t(zftInt32, 0);
    t.KeyField->SetNullBehaviour(c.Behaviour);
    t.KeyField->SetAscend(c.Ascend);
    auto e = t.Engine();
    EXPECT_EQ(e->InvertNull, c.InvertNull);
    EXPECT_EQ(e->FilterNull, c.FilterNull);
    EXPECT_EQ(e->FilterNonNull, c.FilterNonNull);
  }
}

TEST_F(KeyFieldEngineTest, BlobFieldsAndUnknownEnginesAreRefused) {
  TOneField t(zftBlob, 0);
  EXPECT_EQ(Outcome([&] { t.Engine(); }),
            u"!EzfCompositeKeyFieldEngineException #12289: ZofrinDB: FieldType not supported by "
            u"TzfCompositeKeyFieldEngine [$3001/12289]");
  TOneField u(zftInt32, 0);
  u.KeyField->SetKeyFieldEngine(u"Nope");
  EXPECT_EQ(Outcome([&] { u.Engine(); }),
            u"!EzfCompositeKeyFieldEngineException #15503: ZofrinDB: CompositeKeyFieldEngine \"Nope\" is not "
            u"registered [$3C8F/15503]");
}

TEST_F(KeyFieldEngineTest, KeyPartsReadBackAsValues) {
  TOneField t(zftShortString, 30);
  t.KeyField->SetOverrideLengthChars(4);
  auto e = t.Engine();
  rtl::Variant v;
  e->KeyAsVariant(t.Part(*e, t.Value(S(u"O'Neil"))).data(), v);
  EXPECT_EQ(v.AsString(), u"O'Ne");
}

// The dictionary's minimum/maximum validation on text under a locale works once the index layer
// runs: its key field engine is the index layer's.
TEST_F(KeyFieldEngineTest, MinMaxValidationOnTextUnderALocale) {
  TTestTable table;
  auto* f = AddTestField(*table.Fields, u"Name", zftWideString, 10);
  f->AddLocaleDescriptor(nullptr)->SetLocale(1053);
  auto& list = static_cast<TzfFieldValidationsDescriptor&>(*f->EnsureValidations());
  auto& v = static_cast<TzfMinMaxValidationDescriptor&>(
      *list.AddValidation(u"Range", &TzfMinMaxValidationDescriptor::ClassInfo()));
  v.AddKeyField(nullptr);
  v.SetMaxAsVariant(S(u"z"));
  auto handler = TzfValidationsHandler::CreateFor(*table.Fields, aaServer, nullptr);
  ASSERT_NE(handler, nullptr);
  auto ok = MakeRecord(*table.Fields, {S(u"y")});
  EXPECT_EQ(Outcome([&] { handler->ValidateRecord(nullptr, ok.data()); }), u"ok");
  auto high = MakeRecord(*table.Fields, {S(u"\u00e4")});  // after "z" in Swedish
  EXPECT_NE(Outcome([&] { handler->ValidateRecord(nullptr, high.data()); }), u"ok");
}

// A no-change validation under a locale that ignores accents lets "e" become "\u00e9".
TEST_F(KeyFieldEngineTest, NoChangeValidationUnderALocale) {
  TTestTable table;
  auto* f = AddTestField(*table.Fields, u"Code", zftShortString, 8);
  TzfLocaleDescriptor* ld = f->AddLocaleDescriptor(nullptr);
  ld->SetLocale(1033);
  ld->SetFlags(static_cast<int32_t>(locale::NORM_IGNORENONSPACE));
  auto& list = static_cast<TzfFieldValidationsDescriptor&>(*f->EnsureValidations());
  static_cast<TzfNoChangeValidationDescriptor&>(
      *list.AddValidation(u"Fixed", &TzfNoChangeValidationDescriptor::ClassInfo()))
      .AddKeyField(nullptr);
  auto handler = TzfValidationsHandler::CreateFor(*table.Fields, aaServer, nullptr);
  ASSERT_NE(handler, nullptr);
  const auto e = MakeRecord(*table.Fields, {S(u"e")}), accent = MakeRecord(*table.Fields, {S(u"\u00e9")});
  const auto f2 = MakeRecord(*table.Fields, {S(u"f")});
  EXPECT_EQ(Outcome([&] { handler->ValidateRecord(e.data(), accent.data()); }), u"ok");
  EXPECT_NE(Outcome([&] { handler->ValidateRecord(e.data(), f2.data()); }), u"ok");
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
namespace {

// Text stored in one code page and compared in the locale's: the key holds the compare code page's
// bytes; a multi-byte text kept to fewer characters is cut at a character, never inside one.
TEST_F(KeyFieldEngineTest, ConvertingAndTruncatingBuilds) {
  {
    TOneField t(zftShortString, 10);
    TzfLocaleDescriptor* ld = t.Field->AddLocaleDescriptor(nullptr);
    ld->SetLocale(1049);               // Russian: compares in windows-1251
    ld->ldOverrideStorageCodepage = 866;
    auto e = t.Engine();
    EXPECT_EQ(e->ckfeStorageCodepage, 866);
    EXPECT_EQ(e->ckfeCompareCodepage, 1251);
    EXPECT_FALSE(e->KeySameAsRecordFormat);
    std::vector<uint8_t> field(11, 0);
    field[0] = 2;
    field[1] = 0x80;  // U+0410 in 866
    field[2] = 0xA0;  // U+0430 in 866
    const auto k = t.Part(*e, field);
    EXPECT_EQ(k[0], 2);
    EXPECT_EQ(k[1], 0xC0);  // the same letters in 1251
    EXPECT_EQ(k[2], 0xE0);
  }
  {
    TOneField t(zftNullString, 10);
    t.Field->AddLocaleDescriptor(nullptr)->SetLocale(1041);  // Japanese: 932, two bytes a character
    t.KeyField->SetOverrideLengthChars(2);
    t.KeyField->SetOverrideLengthBytes(5);
    auto e = t.Engine();
    ASSERT_EQ(e->ckfeKeyLength, 5);
    const auto k = t.Part(*e, t.Value(S(u"\u65e5\u672c\u8a9e")));  // three characters, six bytes
    // Two characters kept: four bytes and the terminator.
    const std::vector<uint8_t> expected = {0x93, 0xFA, 0x96, 0x7B, 0x00};
    EXPECT_EQ(k, expected);
  }
}

}  // namespace
}  // namespace zf::test
