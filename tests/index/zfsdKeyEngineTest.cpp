// Composite, no-null composite and reference key engines: key bytes, order, partial keys, nulls,
// key filters, the fields source over keys and the rendering of keys.
#include <gtest/gtest.h>

#include "dictionary/zfsdKeyDescriptor.h"
#include "index/zfsdKeyEngineComp.h"
#include "foundation/zfllExceptionData.h"
#include "index/zfsdKeyEngineRef.h"
#include "index/zfsdBookmarkHandling.h"
#include "tests/index/zfsrIndexTestUtil.h"

namespace zf::test {
namespace {

const rtl::Variant Null = rtl::Variant::Null();
rtl::Variant I(int32_t v) { return rtl::Variant(v); }
rtl::Variant S(const char16_t* s) { return rtl::Variant(UnicodeString(s)); }

using TBytes = std::vector<uint8_t>;

class KeyEngineTest : public IndexStarted {
 protected:
  std::unique_ptr<TzfBaseKeyEngine> Engine(TzfBaseKeyDescriptor& aKey) { return TzfBaseKeyEngine::CreateFor(aKey); }
  TBytes Key(TzfBaseKeyEngine& e, const TBytes& aRecord, int64_t aRefNr = 0, bool aIgnoreFilter = false,
             uint32_t aExpected = 0) {
    TBytes k(e.bkeKeyLength, 0xCC);
    EXPECT_EQ(e.BuildKey(aRecord.data(), k.data(), aRefNr, aIgnoreFilter), aExpected);
    return k;
  }

  TTestTable table;
  TzfFieldsDescriptor& fields = *table.Fields;
};

// A key descriptor class no engine is registered for.
class TOddKeyDescriptor : public TzfBaseKeyDescriptor {
 public:
  using TzfBaseKeyDescriptor::TzfBaseKeyDescriptor;
  const TzfRegisterableClass& ClassType() const override {
    static const TzfDictionaryItemClassInfo info(u"TzfOddKeyDescriptor", &TzfBaseKeyDescriptor::ClassInfo(), nullptr,
                                                 nullptr);
    return info;
  }
  int32_t GetKeyLength() override { return 4; }
};

TEST_F(KeyEngineTest, EnginesAreFoundByTheDescriptorsClassName) {
  AddTestField(fields, u"A", zftInt32, 0, 0, true);
  TzfCompKeyDescriptor comp(&table);
  comp.Add(0);
  TzfNoNullCompKeyDescriptor noNull(&table);
  noNull.Add(0);
  TzfRefKeyDescriptor ref(&table);
  EXPECT_EQ(UnicodeString(Engine(comp)->ClassName()), u"TzfCompKeyEngine");
  EXPECT_EQ(UnicodeString(Engine(noNull)->ClassName()), u"TzfNoNullCompKeyEngine");
  EXPECT_EQ(UnicodeString(Engine(ref)->ClassName()), u"TzfRefKeyEngine");

  TOddKeyDescriptor odd(&table);
  std::unique_ptr<TzfBaseKeyEngine> e = Engine(comp);
  EXPECT_EQ(TzfBaseKeyEngine::TryCreateFor(odd, e), zfErrSubEngineNotSupported);
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(Outcome([&] { Engine(odd); }),
            u"!EzfBaseKeyEngineException #15503: ZofrinDB: Unknown Key engine: \"TzfOddKeyEngine\" [$3C8F/15503]");
  comp.GetKeyField(0)->SetKeyFieldEngine(u"Missing");
  EXPECT_EQ(Outcome([&] { TzfBaseKeyEngine::CheckValidBaseFromDescriptor(comp); }),
            u"!EzfCompositeKeyFieldEngineException #15503: ZofrinDB: CompositeKeyFieldEngine \"Missing\" is not "
            u"registered [$3C8F/15503]");
}

TEST_F(KeyEngineTest, CompositeKeyBytes) {
  AddTestField(fields, u"I", zftInt32);
  AddTestField(fields, u"S", zftShortString, 3);
  AddTestField(fields, u"W", zftInt16);
  TzfCompKeyDescriptor key(&table);
  key.Add(0);
  key.Add(1);
  key.Add(2);
  auto e = Engine(key);
  ASSERT_EQ(e->bkeKeyLength, 11);
  // flags (cleared to $FF, the flags of fields 0 and 1 then cleared), Int32 5, ShortString "ab" in
  // 4 bytes, the null Int16 as zeros
  EXPECT_EQ(Key(*e, MakeRecord(fields, {I(5), S(u"ab"), Null})),
            (TBytes{0xFC, 0x05, 0x00, 0x00, 0x00, 0x02, 'a', 'b', 0x00, 0x00, 0x00}));
  uint8_t* cleared = e->AllocKey();
  EXPECT_EQ(TBytes(cleared, cleared + 11), (TBytes{0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  e->FreeKey(cleared);
  EXPECT_EQ(cleared, nullptr);
  EXPECT_TRUE(e->KeyContainsNulls(Key(*e, MakeRecord(fields, {I(5), S(u"ab"), Null})).data()));
  EXPECT_FALSE(e->KeyContainsNulls(Key(*e, MakeRecord(fields, {I(5), S(u"ab"), I(1)})).data()));
  EXPECT_EQ(e->BuildKey(nullptr, cleared, 0, false), zfErrInvalidParam);

  // Nine key fields need two flag bytes.
  TzfCompKeyDescriptor nine(&table);
  for (int i = 0; i < 9; ++i) nine.Add(0);
  auto e9 = Engine(nine);
  EXPECT_EQ(e9->GetDataOffset(), 2);
  uint8_t* k9 = e9->AllocKey();
  EXPECT_EQ(k9[0], 0xFF);
  EXPECT_EQ(k9[1], 0xFF);
  EXPECT_EQ(k9[2], 0x00);
  e9->FreeKey(k9);
}

TEST_F(KeyEngineTest, NoNullKeyHasNoFlags) {
  AddTestField(fields, u"I", zftInt32, 0, 0, true);
  AddTestField(fields, u"S", zftNullString, 3, 0, true);
  TzfNoNullCompKeyDescriptor key(&table);
  key.Add(0);
  key.Add(1);
  auto e = Engine(key);
  ASSERT_EQ(e->bkeKeyLength, 8);
  EXPECT_EQ(Key(*e, MakeRecord(fields, {I(-2), S(u"xy")})), (TBytes{0xFE, 0xFF, 0xFF, 0xFF, 'x', 'y', 0, 0}));
  EXPECT_EQ(e->GetDataOffset(), 0);
  EXPECT_FALSE(e->KeyContainsNulls(Key(*e, MakeRecord(fields, {I(1), S(u"a")})).data()));
  const auto a = Key(*e, MakeRecord(fields, {I(1), S(u"b")})), b = Key(*e, MakeRecord(fields, {I(1), S(u"c")}));
  EXPECT_EQ(e->CompareKey(a.data(), b.data()), -1);
}

TEST_F(KeyEngineTest, NullsSortByTheNullBehaviour) {
  AddTestField(fields, u"I", zftInt32);
  struct TCase {
    TzfNullBehaviour Behaviour;
    bool Ascend;
    int NullAgainstValue;
  } cases[] = {{nbTop, true, -1}, {nbBottom, true, 1}, {nbAsAscend, false, 1}, {nbAsAscend, true, -1},
               {nbTop, false, -1}};
  for (const auto& c : cases) {
    TzfCompKeyDescriptor key(&table);
    TzfKeyFieldDescriptor* kf = key.Add(0);
    kf->SetNullBehaviour(c.Behaviour);
    kf->SetAscend(c.Ascend);
    auto e = Engine(key);
    const auto n = MakeRecord(fields, {Null}), v = MakeRecord(fields, {I(-100)});
    const auto kn = Key(*e, n), kv = Key(*e, v);
    EXPECT_EQ(e->CompareKey(kn.data(), kv.data()), c.NullAgainstValue);
    EXPECT_EQ(e->CompareKey(kv.data(), kn.data()), -c.NullAgainstValue);
    EXPECT_EQ(e->CompareKey(kn.data(), kn.data()), 0);
    EXPECT_EQ(e->CompareRecord(n.data(), v.data()), c.NullAgainstValue);
  }
}

TEST_F(KeyEngineTest, NullFirstFieldsCompareByTheNextField) {
  AddTestField(fields, u"A", zftInt32);
  AddTestField(fields, u"B", zftInt32);
  TzfCompKeyDescriptor key(&table);
  key.Add(0);
  key.Add(1);
  auto e = Engine(key);
  const auto a = Key(*e, MakeRecord(fields, {Null, I(1)})), b = Key(*e, MakeRecord(fields, {Null, I(2)}));
  EXPECT_EQ(e->CompareKey(a.data(), b.data()), -1);
}

TEST_F(KeyEngineTest, FilteringNullBehavioursKeepRecordsOutOfTheIndex) {
  AddTestField(fields, u"A", zftInt32);
  TzfCompKeyDescriptor key(&table);
  TzfKeyFieldDescriptor* kf = key.Add(0);
  kf->SetNullBehaviour(nbFilterNull);
  auto e = Engine(key);
  EXPECT_EQ(Key(*e, MakeRecord(fields, {Null}), 0, false, 1)[0], 0xFF);
  const auto ignored = Key(*e, MakeRecord(fields, {Null}), 0, true, 0);
  EXPECT_EQ(ignored[0], 0xFF);  // the flag stays set
  kf->SetNullBehaviour(nbFilterNonNull);
  auto f = Engine(key);
  Key(*f, MakeRecord(fields, {I(3)}), 0, false, 1);
  Key(*f, MakeRecord(fields, {Null}), 0, false, 0);
  Key(*f, MakeRecord(fields, {I(3)}), 0, true, 0);
}

TEST_F(KeyEngineTest, KeyFilterDecidesWhichRecordsGetKeys) {
  AddTestField(fields, u"A", zftInt32);
  TzfCompKeyDescriptor key(&table);
  key.Add(0);
  TBlobBuilder b;
  const uint16_t field = b.Field(1, "A");
  const uint16_t three = b.Const<int32_t>(fldINT32, 3);
  b.SetRoot(nodeBINARY, canGT, {field, three});
  key.SetFilter(std::make_unique<TzfSimpleExpressionFilterDescriptor>(b.Build(), -1));
  auto e = Engine(key);
  ASSERT_NE(e->bkeFilter, nullptr);
  EXPECT_TRUE(e->bkeFilter->IsActive());
  const auto low = MakeRecord(fields, {I(2)}), high = MakeRecord(fields, {I(4)});
  Key(*e, low, 0, false, 1);
  Key(*e, low, 0, true, 0);
  Key(*e, high, 0, false, 0);
  // Comparing records never applies the filter.
  EXPECT_EQ(e->TzfBaseKeyEngine::CompareRecord(low.data(), 0, low.data(), 0, 0, 0), 0);
  EXPECT_EQ(e->CompareRecord(low.data(), high.data()), -1);
}

struct TPartialKeyCase {
  int32_t FieldCount, PartialLen;
  int Expected;
};

TEST_F(KeyEngineTest, FieldCountsAndPartialLengths) {
  AddTestField(fields, u"A", zftShortString, 8);
  AddTestField(fields, u"B", zftShortString, 8);
  TzfCompKeyDescriptor key(&table);
  key.Add(0);
  key.Add(1);
  auto e = Engine(key);
  const auto r1 = MakeRecord(fields, {S(u"abc"), S(u"xyz1")}), r2 = MakeRecord(fields, {S(u"abc"), S(u"xyz2")});
  const auto r3 = MakeRecord(fields, {S(u"abd9"), S(u"a")});
  const auto k1 = Key(*e, r1), k2 = Key(*e, r2), k3 = Key(*e, r3);
  const TPartialKeyCase sameFirst[] = {{0, 0, -1}, {1, 0, 0}, {1, 3, 0}, {1, 4, -1}, {2, 0, -1},
                                       {2, 3, 0},  {5, 0, -1}, {0, 3, 0}, {0, zfPartialLenOfFirst, 0}};
  for (const auto& c : sameFirst) {
    SCOPED_TRACE(c.FieldCount * 1000 + c.PartialLen % 1000);
    EXPECT_EQ(e->CompareKey(k1.data(), k2.data(), c.FieldCount, c.PartialLen), c.Expected);
    EXPECT_EQ(e->CompareRecord(r1.data(), 0, r2.data(), 0, c.FieldCount, c.PartialLen), c.Expected);
  }
  // With field count 0 a partial length looks at the first field's prefix only.
  EXPECT_EQ(e->CompareKey(k1.data(), k3.data(), 0, 2), 0);
  EXPECT_EQ(e->CompareKey(k1.data(), k3.data(), 0, 3), -1);
  EXPECT_EQ(e->CompareKey(k1.data(), k3.data()), e->CompareKey(k1.data(), k3.data(), 0, 0));
}

TEST_F(KeyEngineTest, RecordComparisonsAgreeWithKeyComparisons) {
  AddTestField(fields, u"A", zftWideString, 6);
  AddTestField(fields, u"B", zftDouble);
  AddTestField(fields, u"C", zftShortString, 20);
  TzfCompKeyDescriptor key(&table);
  key.Add(0)->SetAscend(false);
  key.Add(1)->SetNullBehaviour(nbBottom);
  key.Add(2)->SetOverrideLengthChars(3);
  auto e = Engine(key);
  const std::vector<TBytes> records = {
      MakeRecord(fields, {S(u"b"), rtl::Variant(1.5), S(u"abcdef")}), MakeRecord(fields, {S(u"b"), Null, S(u"abc")}),
      MakeRecord(fields, {S(u"a"), rtl::Variant(-1.0), Null}),        MakeRecord(fields, {Null, Null, S(u"abz")}),
      MakeRecord(fields, {S(u"b"), rtl::Variant(1.5), S(u"abcxx")}),
  };
  for (const TBytes& a : records)
    for (const TBytes& b : records) {
      const auto ka = Key(*e, a), kb = Key(*e, b);
      for (int32_t count : {0, 1, 2})
        EXPECT_EQ(e->CompareRecord(a.data(), 0, b.data(), 0, count, 0), e->CompareKey(ka.data(), kb.data(), count, 0));
    }
}

TEST_F(KeyEngineTest, KeysAsAFieldsSource) {
  auto* name = AddTestField(fields, u"Name", zftShortString, 10);
  AddTestField(fields, u"N", zftInt32);
  TzfCompKeyDescriptor key(&table);
  key.Add(0)->SetKeyFieldEngine(u"NumbersOnly");
  key.Add(1);
  auto e = Engine(key);
  EXPECT_EQ(e->GetFieldCount(), 2);
  EXPECT_EQ(e->GetFieldFromName(u"name_numbersonly"), 0);
  EXPECT_EQ(e->GetFieldFromName(u"Name"), -1);
  EXPECT_EQ(e->GetFieldFromName(u"N"), 1);
  const auto k = Key(*e, MakeRecord(fields, {S(u"a1b2"), Null}));
  uint16_t type = 99, size = 99, cp = 99;
  bool isNull = false;
  const uint8_t* value = nullptr;
  ASSERT_TRUE(e->GetFieldForFilter(0, nullptr, k.data(), type, size, isNull, value, cp));
  EXPECT_EQ(type, static_cast<uint16_t>(zftShortString));
  EXPECT_EQ(size, 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(value), 2), "12");
  ASSERT_TRUE(e->GetFieldForFilter(-1, "N", k.data(), type, size, isNull, value, cp));
  EXPECT_TRUE(isNull);
  EXPECT_EQ(value, nullptr);
  type = 99;
  EXPECT_FALSE(e->GetFieldForFilter(2, nullptr, k.data(), type, size, isNull, value, cp));
  EXPECT_FALSE(e->GetFieldForFilter(0, "Nope", k.data(), type, size, isNull, value, cp));
  EXPECT_EQ(type, 99);  // untouched
  IzfFieldInfo* info = nullptr;
  e->GetFieldInfo(0, info);
  EXPECT_EQ(info->GetName(), name->fdName);
}

TEST_F(KeyEngineTest, KeysRenderedAsText) {
  AddTestField(fields, u"I", zftInt32);
  AddTestField(fields, u"W", zftWideString, 10);
  AddTestField(fields, u"F", zftWideString, 8, 1);  // decimals above 0: fixed-width
  TzfCompKeyDescriptor key(&table);
  key.Add(0);
  key.Add(1);
  key.Add(2);
  auto e = Engine(key);
  EXPECT_EQ(e->KeyAsString(Key(*e, MakeRecord(fields, {I(5), Null, Null})).data()), u"5, NULL, NULL");
  // Variable-width text reads back as written, fixed-width text padded to its width.
  EXPECT_EQ(e->KeyAsString(Key(*e, MakeRecord(fields, {I(-1), S(u"O'Neil"), S(u"ab")})).data()),
            u"-1, 'O''Neil', 'ab      '");
  EXPECT_EQ(Outcome([&] { e->KeyAsVariant(Key(*e, MakeRecord(fields, {I(5), Null, Null})).data(), 3); }),
            u"!EzfCompKeyEngineException #9999: ZofrinDB: Invalid descriptor number. [$270F/9999]");
  EXPECT_EQ(e->KeyAsVariant(Key(*e, MakeRecord(fields, {I(5), Null, Null})).data(), 0).AsString(), u"5");
}

TEST_F(KeyEngineTest, EnginesAndKeysDescribeThemselvesInExceptionData) {
  AddTestField(fields, u"Qty", zftInt32);
  TzfCompKeyDescriptor key(&table);
  key.Add(0);
  TBlobBuilder b;
  b.SetRoot(nodeCONTINUE, 0, {1});
  key.SetFilter(std::make_unique<TzfSimpleExpressionFilterDescriptor>(b.Build(), 1252, u"Qty > 0"));
  auto e = Engine(key);
  auto c = zfCreateExceptionDataContainer(u"E");
  e->AddExceptionData(*c);
  e->KeyAsExceptionData(Key(*e, MakeRecord(fields, {I(42)})).data(), *c);
  const UnicodeString text = c->ToString();
  for (const char16_t* part : {u"TzfCompKeyEngine", u"KeyLength", u"zftInt32", u"TzfSimpleExpressionFilterEngine",
                               u"Active", u"Qty > 0", u"CodePage", u"42"})
    EXPECT_NE(text.find(part), UnicodeString::npos) << rtl::u8(part) << "\n" << rtl::u8(text);
}

TEST_F(KeyEngineTest, ReferenceKeys) {
  TzfRefKeyDescriptor key(&table);
  auto e = Engine(key);
  ASSERT_EQ(e->bkeKeyLength, 8);
  const auto minus = Key(*e, TBytes(4), -1), zero = Key(*e, TBytes(4), 0), big = Key(*e, TBytes(4), 0x0102030405060708);
  EXPECT_EQ(minus, TBytes(8, 0xFF));
  EXPECT_EQ(big, (TBytes{8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(e->CompareKey(minus.data(), zero.data()), -1);
  EXPECT_EQ(e->CompareKey(big.data(), zero.data(), 5, 5), 1);
  EXPECT_EQ(e->CompareRecord(nullptr, 7, nullptr, 3), 1);
  EXPECT_EQ(e->CompareRecord(nullptr, nullptr), 0);
  EXPECT_EQ(e->KeyAsString(minus.data()), u"-1");
  EXPECT_EQ(e->GetFieldFromName(u"refnr"), 0);
  uint16_t type = 0, size = 9, cp = 9;
  bool isNull = true;
  const uint8_t* value = nullptr;
  ASSERT_TRUE(e->GetFieldForFilter(0, nullptr, big.data(), type, size, isNull, value, cp));
  EXPECT_EQ(type, static_cast<uint16_t>(zftInt64));
  EXPECT_FALSE(isNull);
  EXPECT_EQ(value, big.data());
  EXPECT_FALSE(e->GetFieldForFilter(1, nullptr, big.data(), type, size, isNull, value, cp));
  EXPECT_EQ(Outcome([&] { e->KeyAsVariant(big.data(), 1); }),
            u"!EzfRefKeyEngineException #9999: ZofrinDB: Invalid descriptor number. [$270F/9999]");
}

// The whole key as a value: one field gives the value itself, more give a variant array of one
// element per field (Null for a null field); an on-key bookmark of the index reads the same.
TEST_F(KeyEngineTest, WholeKeyAsVariant) {
  AddTestField(fields, u"I", zftInt32);
  AddTestField(fields, u"W", zftWideString, 10);
  AddTestField(fields, u"L", zftInt64);
  // Renders a variant: an array as its elements in brackets.
  std::function<UnicodeString(const rtl::Variant&)> render = [&](const rtl::Variant& v) -> UnicodeString {
    if (v.IsNull()) return u"NULL";
    if (!v.IsArray()) return v.AsString();
    UnicodeString s = u"[";
    for (int32_t i = 0; i <= rtl::VarArrayHighBound(v, 1); ++i) s += (i ? u"|" : u"") + render(v.GetElement(i));
    return s + u"]";
  };
  const struct {
    int32_t Fields;
    rtl::Variant A, B, C;
    const char16_t* Whole;
  } cases[] = {
      {1, I(7), S(u"x"), I(9), u"7"},
      {1, Null, S(u"x"), I(9), u"NULL"},
      {2, I(7), S(u"x"), I(9), u"[7|x]"},
      {2, I(7), Null, I(9), u"[7|NULL]"},
      {3, I(7), S(u"x"), I(9), u"[7|x|9]"},
      {3, Null, Null, Null, u"[NULL|NULL|NULL]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(rtl::u8(c.Whole));
    TzfCompKeyDescriptor key(&table);
    for (int32_t f = 0; f < c.Fields; ++f) key.Add(f);
    auto e = Engine(key);
    const TBytes k = Key(*e, MakeRecord(fields, {c.A, c.B, c.C}));
    EXPECT_EQ(render(e->KeyAsVariant(k.data(), -1)), c.Whole);
    // The bookmark of a path on this key answers the same value.
    TzfBookmarkHandler h(2, e.get());
    TBytes bookmark(h.BookmarkSize());
    h.WriteBookmark(bookmark.data(), ippOnKey, true, false, 11, k.data());
    rtl::Variant v;
    ASSERT_EQ(h.BookmarkAsVariant(bookmark.data(), h.BookmarkSize(), v), 0u);
    EXPECT_EQ(render(v), c.Whole);
  }
}

}  // namespace
}  // namespace zf::test
