// Default values: descriptors, their streams, and every kind applied by the handler.
#include <gtest/gtest.h>

#include <cstring>

#include "dictionary/zfsdDefaultValueEngine.h"
#include "dictionary/zfsdStartup.h"
#include "platform/rtl/rtlDateTime.h"
#include "tests/dictionary/zfsdTestTable.h"
#include "tests/dictionary/zfsdTestUtil.h"

namespace zf::test {
namespace {

class TTestCursor : public IzfCursorContext {
 public:
  UnicodeString GetSessionUserName() override { return u"Alice"; }
};

class DefaultValueTest : public test::DictionaryStarted {
 protected:

  std::vector<uint8_t> NewRecord() {
    std::vector<uint8_t> r(static_cast<size_t>(fields.GetRecordLength()));
    fields.InitRecord(r.data());
    return r;
  }
  rtl::Variant Value(const std::vector<uint8_t>& aRecord, int32_t aField) {
    TzfFieldDescriptor& f = *fields.FieldDescriptor[static_cast<size_t>(aField)];
    if (fields.IsRecordFieldNullFast(aField, aRecord.data())) return rtl::Variant::Null();
    return f.ValueToVariant(aRecord.data() + f.fdOffset);
  }
  void Set(std::vector<uint8_t>& aRecord, int32_t aField, const rtl::Variant& aValue) {
    TzfFieldDescriptor& f = *fields.FieldDescriptor[static_cast<size_t>(aField)];
    fields.SetRecordFieldNull(aField, aRecord.data(), false);
    f.VariantToValue(aRecord.data() + f.fdOffset, aValue);
  }

  TTestTable table;
  TzfFieldsDescriptor& fields = *table.Fields;
  TTestCursor cursor;
};

TEST_F(DefaultValueTest, EveryKindOnInsert) {
  auto* c = AddTestField(fields, u"Const", zftInt32);
  static_cast<TzfConstDefaultValueDescriptor*>(c->AddDefaultValue(nullptr))->SetAsVariant(rtl::Variant(int32_t{42}));
  AddTestField(fields, u"Day", zftDate)->AddDefaultValue(&TzfCurrentDateTimeDefaultValueDescriptor::ClassInfo());
  AddTestField(fields, u"User", zftWideString, 10)->AddDefaultValue(&TzfCurrentUserDefaultValueDescriptor::ClassInfo());
  AddTestField(fields, u"Id", zftGuid)->AddDefaultValue(&TzfAutoGuidDefaultValueDescriptor::ClassInfo());
  AddTestField(fields, u"Zero", zftInt64)->AddDefaultValue(&TzfEmptyDefaultValueDescriptor::ClassInfo());
  AddTestField(fields, u"None", zftInt32);

  auto h = TzfDefaultValueHandler::CreateFor(fields, aaServer, &cursor);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->dvhEngines.size(), 5u);
  std::vector<uint8_t> r = NewRecord();
  const int32_t today = rtl::DateTimeToTimeStamp(rtl::Now()).Date;
  h->SetDefaultValuesInsert(r.data());
  EXPECT_EQ(Value(r, 0).AsInteger(), 42);
  int32_t day;
  std::memcpy(&day, r.data() + fields.FieldDescriptor[1]->fdOffset, 4);
  EXPECT_GE(day, today);
  EXPECT_LE(day, today + 1);
  EXPECT_EQ(Value(r, 2).AsString(), u"Alice");  // a variable-width text field: not padded
  EXPECT_FALSE(fields.IsRecordFieldNullFast(3, r.data()));
  const uint8_t* g = r.data() + fields.FieldDescriptor[3]->fdOffset;
  EXPECT_EQ(g[7] >> 4, 4);  // a random (version 4) GUID
  EXPECT_EQ(Value(r, 4).AsInt64(), 0);
  EXPECT_TRUE(fields.IsRecordFieldNullFast(5, r.data()));

  // Two GUIDs differ.
  std::vector<uint8_t> r2 = NewRecord();
  h->SetDefaultValuesInsert(r2.data());
  EXPECT_NE(std::memcmp(g, r2.data() + fields.FieldDescriptor[3]->fdOffset, 16), 0);
  // Nothing applies on modify by default.
  std::vector<uint8_t> m = NewRecord();
  h->SetDefaultValuesModify(m.data());
  for (int32_t i = 0; i < fields.FieldCount; ++i) EXPECT_TRUE(fields.IsRecordFieldNullFast(i, m.data()));
}

TEST_F(DefaultValueTest, EveryKindOnModifyOnly) {
  struct Kind {
    const char16_t* Name;
    TzfFieldType Type;
    int32_t Units;
    const TzfDictionaryItemClassInfo* Class;
  };
  const Kind kinds[] = {
      {u"C", zftInt32, 0, &TzfConstDefaultValueDescriptor::ClassInfo()},
      {u"T", zftTime, 0, &TzfCurrentDateTimeDefaultValueDescriptor::ClassInfo()},
      {u"DT", zftDateTime, 0, &TzfCurrentDateTimeDefaultValueDescriptor::ClassInfo()},
      {u"U", zftNullString, 12, &TzfCurrentUserDefaultValueDescriptor::ClassInfo()},
      {u"G", zftGuid, 0, &TzfAutoGuidDefaultValueDescriptor::ClassInfo()},
      {u"E", zftWideString, 4, &TzfEmptyDefaultValueDescriptor::ClassInfo()},
  };
  for (const Kind& k : kinds) {
    auto* d = static_cast<TzfBaseDefaultValueDescriptor*>(AddTestField(fields, k.Name, k.Type, k.Units)->AddDefaultValue(k.Class));
    d->SetApplyOnInsert(false);
    d->SetApplyOnModify(true);
    EXPECT_NO_THROW(d->CheckValid(false));
  }
  auto h = TzfDefaultValueHandler::CreateFor(fields, aaServer, &cursor);
  std::vector<uint8_t> inserted = NewRecord();
  h->SetDefaultValuesInsert(inserted.data());
  std::vector<uint8_t> modified = NewRecord();
  const double before = rtl::Now();
  h->SetDefaultValuesModify(modified.data());
  for (int32_t i = 0; i < fields.FieldCount; ++i) {
    EXPECT_TRUE(fields.IsRecordFieldNullFast(i, inserted.data())) << i;
    EXPECT_FALSE(fields.IsRecordFieldNullFast(i, modified.data())) << i;
  }
  const double stamp = Value(modified, 2).AsDate();
  EXPECT_GE(stamp, before - 1.0 / 86400);
  EXPECT_LE(stamp, rtl::Now() + 1.0 / 86400);
  EXPECT_LT(Value(modified, 1).AsDate(), 1.0);  // a time of day
  EXPECT_EQ(Value(modified, 3).AsString(), u"Alice");
  EXPECT_EQ(Value(modified, 5).AsString(), u"");  // zeroes: an empty text
}

TEST_F(DefaultValueTest, OverwriteInsertAndModifyLists) {
  auto constant = [&](const char16_t* aName, int32_t aValue) {
    auto* d = static_cast<TzfConstDefaultValueDescriptor*>(AddTestField(fields, aName, zftInt32)->AddDefaultValue(nullptr));
    d->SetAsVariant(rtl::Variant(aValue));
    return d;
  };
  constant(u"A", 1);                                 // insert, only into NULL
  constant(u"B", 2)->SetOverwriteNonNull(true);      // insert, always
  auto* c = constant(u"C", 3);                       // modify only
  c->SetApplyOnInsert(false);
  c->SetApplyOnModify(true);
  auto* d = constant(u"D", 4);                       // modify, always
  d->SetApplyOnModify(true);
  d->SetOverwriteNonNull(true);
  auto h = TzfDefaultValueHandler::CreateFor(fields, aaClient, nullptr);

  std::vector<uint8_t> r = NewRecord();
  for (int32_t i = 0; i < 4; ++i) Set(r, i, rtl::Variant(int32_t{10 + i}));
  h->SetDefaultValuesInsert(r.data());
  EXPECT_EQ(Value(r, 0).AsInteger(), 10);
  EXPECT_EQ(Value(r, 1).AsInteger(), 2);
  EXPECT_EQ(Value(r, 2).AsInteger(), 12);
  EXPECT_EQ(Value(r, 3).AsInteger(), 4);  // D applies on insert too, and overwrites

  std::vector<uint8_t> m = NewRecord();
  Set(m, 3, rtl::Variant(int32_t{99}));
  h->SetDefaultValuesModify(m.data());
  EXPECT_TRUE(Value(m, 0).IsNull());
  EXPECT_TRUE(Value(m, 1).IsNull());
  EXPECT_EQ(Value(m, 2).AsInteger(), 3);
  EXPECT_EQ(Value(m, 3).AsInteger(), 4);

  // One field, whatever its settings.
  std::vector<uint8_t> one = NewRecord();
  EXPECT_TRUE(h->SetDefaultValue(one.data(), 2));
  EXPECT_EQ(Value(one, 2).AsInteger(), 3);
  EXPECT_THROW(h->SetDefaultValue(one.data(), 4), rtl::ERangeError);
}

TEST_F(DefaultValueTest, SidesAndNoHandler) {
  static_cast<TzfBaseDefaultValueDescriptor*>(AddTestField(fields, u"A", zftInt32)->AddDefaultValue(nullptr))
      ->SetApplyAt({aaClient});
  EXPECT_EQ(TzfDefaultValueHandler::CreateFor(fields, aaServer, nullptr), nullptr);
  EXPECT_NE(TzfDefaultValueHandler::CreateFor(fields, aaClient, nullptr), nullptr);
  fields.FieldDescriptor[0]->fdDefaultValue.reset();
  EXPECT_EQ(TzfDefaultValueHandler::CreateFor(fields, aaClient, nullptr), nullptr);
}

TEST_F(DefaultValueTest, UnsupportedFieldTypes) {
  auto* i = AddTestField(fields, u"I", zftInt32);
  auto* dt = i->AddDefaultValue(&TzfCurrentDateTimeDefaultValueDescriptor::ClassInfo());
  EXPECT_EQ(Outcome([&] { dt->CheckValid(false); }),
            u"!EzfBaseDefaultValueDescriptorException #10001: ZofrinDB: \"TzfCurrentDateTimeDefaultValueDescriptor\" "
            u"is not supported for field type \"zftInt32\" [$2711/10001]");
  auto* blob = AddTestField(fields, u"B", zftBlobWideMemo);
  EXPECT_EQ(Outcome([&] { blob->AddDefaultValue(nullptr); }),
            u"!EzfConstDefaultValueDescriptorException #10001: ZofrinDB: \"TzfConstDefaultValueDescriptor\" is not "
            u"supported for field type \"zftBlobWideMemo\" [$2711/10001]");
  EXPECT_EQ(Outcome([&] { blob->AddDefaultValue(&TzfEmptyDefaultValueDescriptor::ClassInfo()); }),
            u"!EzfBaseDefaultValueDescriptorException #10001: ZofrinDB: \"TzfEmptyDefaultValueDescriptor\" is not "
            u"supported for field type \"zftBlobWideMemo\" [$2711/10001]");
  auto* date = AddTestField(fields, u"D", zftDate);
  EXPECT_TRUE(Outcome([&] { date->AddDefaultValue(&TzfEmptyDefaultValueDescriptor::ClassInfo())->CheckValid(false); })
                  .starts_with(u"!EzfBaseDefaultValueDescriptorException #10001"));
}

TEST_F(DefaultValueTest, ConstantFollowsItsField) {
  auto* f = AddTestField(fields, u"N", zftInt16);
  auto* d = static_cast<TzfConstDefaultValueDescriptor*>(f->AddDefaultValue(nullptr));
  d->SetAsVariant(rtl::Variant(int32_t{-7}));
  EXPECT_EQ(d->cdvDefaultValue.size(), 2u);
  f->fdType = zftInt32;  // the field changed type since the constant was stored
  f->fdLength = 4;
  rtl::Variant v;
  d->GetAsVariant(v);
  EXPECT_EQ(v.AsInteger(), -7);
  EXPECT_EQ(d->cdvDefaultValue.size(), 4u);
  EXPECT_EQ(d->cdvFieldType, zftInt32);
  // A value that does not fit the new setup: 10002, zeroes kept.
  d->SetAsVariant(rtl::Variant(int32_t{100000}));
  f->fdType = zftInt8;
  f->fdLength = 1;
  EXPECT_TRUE(Outcome([&] { d->GetAsVariant(v); }).starts_with(u"!EzfConstDefaultValueDescriptorException #10002"));
  EXPECT_EQ(d->cdvDefaultValue, std::vector<uint8_t>{0});
}

TEST_F(DefaultValueTest, EngineConvertsAConstantOfAnOlderSetupWithoutChangingTheDescriptor) {
  auto* f = AddTestField(fields, u"N", zftInt16);
  auto* d = static_cast<TzfConstDefaultValueDescriptor*>(f->AddDefaultValue(nullptr));
  d->SetAsVariant(rtl::Variant(int32_t{-7}));
  f->fdType = zftInt32;
  f->fdLength = 4;
  fields.UpdateSetupAndOffsets();
  auto h = TzfDefaultValueHandler::CreateFor(fields, aaServer, nullptr);
  std::vector<uint8_t> r = NewRecord();
  h->SetDefaultValuesInsert(r.data());
  EXPECT_EQ(Value(r, 0).AsInteger(), -7);
  EXPECT_EQ(d->cdvFieldType, zftInt16);  // a read-only dictionary's descriptor is only read
  EXPECT_EQ(d->cdvDefaultValue.size(), 2u);
}

TEST_F(DefaultValueTest, StreamsAndOldClients) {
  auto* f = AddTestField(fields, u"S", zftShortString, 5);
  auto* d = static_cast<TzfConstDefaultValueDescriptor*>(f->AddDefaultValue(nullptr));
  d->SetAsVariant(rtl::Variant(UnicodeString(u"abc")));
  d->SetApplyOnModify(true);
  d->SetApplyAt({aaServer});
  const std::vector<uint8_t> bytes = SavedBytes(*d, 30900);
  auto* g = AddTestField(fields, u"T", zftShortString, 5);
  auto* back = static_cast<TzfConstDefaultValueDescriptor*>(g->AddDefaultValue(nullptr));
  LoadSaved(*back, bytes);
  EXPECT_TRUE(back->IsEqual(d));
  EXPECT_EQ(Outcome([&] { SavedBytes(*d, 19999); }),
            u"!EzfConstDefaultValueDescriptorException #12039: ZofrinDB: Server is incompatible version. "
            u"[$2F07/12039]");

  // Initial settings travel to an old client without the "BDVD" block and read back as initial.
  d->SetApplyOnModify(false);
  d->SetApplyAt({aaServer, aaClient});
  back->SetOverwriteNonNull(true);
  LoadSaved(*back, SavedBytes(*d, 19999));
  EXPECT_TRUE(back->IsEqual(d));
  EXPECT_FALSE(back->bdvOverwriteNonNull);

  // Another identifier where "BDVD" stands is an internal consistency failure.
  std::vector<uint8_t> wrong = bytes;
  const std::string ident = "BDVD";
  auto it = std::search(wrong.begin(), wrong.end(), ident.begin(), ident.end());
  it[1] = 'X';
  EXPECT_TRUE(Outcome([&] { LoadSaved(*back, wrong); }).starts_with(u"!EAssertionFailed: Assertion failure"));
  // A constant cut short is a damaged stream, not a read past its end.
  std::vector<uint8_t> cut(bytes.begin(), bytes.end() - 3);
  EXPECT_FALSE(Outcome([&] { LoadSaved(*back, cut); }) == u"ok");
}

TEST_F(DefaultValueTest, ReadOnlyDictionaryRefusesChanges) {
  auto* d = static_cast<TzfConstDefaultValueDescriptor*>(AddTestField(fields, u"A", zftInt32)->AddDefaultValue(nullptr));
  table.ReadOnly = true;
  EXPECT_EQ(Outcome([&] { d->SetAsVariant(rtl::Variant(int32_t{1})); }),
            u"!EzfDataDictionaryException #15500: ZofrinDB: The data dictionary is read only [$3C8C/15500]");
  EXPECT_TRUE(Outcome([&] { d->SetApplyOnModify(true); }).starts_with(u"!EzfDataDictionaryException #15500"));
}

TEST_F(DefaultValueTest, EngineNamesAndUnknownEngines) {
  EXPECT_EQ(zfEngineNameForDescriptor(u"TzfConstDefaultValueDescriptor"), u"TzfConstDefaultValueEngine");
  EXPECT_EQ(zfEngineNameForDescriptor(u"TxDESCRIPTORyDescriptor"), u"TxEngineyEngine");

  // A registered descriptor kind without an engine.
  class TOrphan : public TzfBaseDefaultValueDescriptor {
   public:
    using TzfBaseDefaultValueDescriptor::TzfBaseDefaultValueDescriptor;
    const TzfRegisterableClass& ClassType() const override {
      static const TzfDictionaryItemClassInfo info(u"TOrphanDefaultValueDescriptor",
                                                   &TzfBaseDefaultValueDescriptor::ClassInfo(), nullptr, nullptr);
      return info;
    }
  };
  auto* f = AddTestField(fields, u"A", zftInt32);
  TOrphan orphan(f);
  EXPECT_EQ(Outcome([&] { TzfBaseDefaultValueEngine::CreateFor(orphan, nullptr); }),
            u"!EzfBaseDefaultValueEngineException #15503: ZofrinDB: Unknown DefaultValue engine: "
            u"\"TOrphanDefaultValueEngine\" [$3C8F/15503]");
}

}  // namespace
}  // namespace zf::test
