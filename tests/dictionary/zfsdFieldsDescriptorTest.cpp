#include "dictionary/zfsdFieldsDescriptor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dictionary/zfsdStartup.h"
#include "foundation/zfllStreams.h"
#include "zfsdDictTestRoot.h"
#include "zfsdTestUtil.h"

namespace zf {
namespace {

using test::LoadBytes;
using test::LoadItem;
using test::SavedItem;
using test::Outcome;
using test::StreamBytes;
using test::TTestDictionary;

class FieldsTest : public test::DictionaryStarted {};

UnicodeString Code(const UnicodeString& aOutcome) {
  auto hash = aOutcome.find(u'#');
  return hash == UnicodeString::npos ? aOutcome : aOutcome.substr(hash + 1, aOutcome.find(u':') - hash - 1);
}

// ---- Storage lengths ----

TEST_F(FieldsTest, SetupFieldPerType) {
  struct Case {
    TzfFieldType type;
    int32_t units, decPl;
    bool required;
    int32_t expUnits, expDecPl;
    bool expRequired;
    int32_t expLength;
  } cases[] = {
      {zftBoolean, 5, 5, true, 0, 0, true, 1},        {zftChar, 9, 1, false, 1, 0, false, 1},
      {zftWideChar, 0, 0, false, 1, 0, false, 2},     {zftByte, 0, 2, false, 3, 0, false, 1},
      {zftByte, 2, 0, false, 2, 0, false, 1},         {zftInt8, 4, 0, false, 3, 0, false, 1},
      {zftWord16, 6, 0, false, 5, 0, false, 2},       {zftInt16, 4, 0, false, 4, 0, false, 2},
      {zftWord32, 0, 0, false, 10, 0, false, 4},      {zftInt32, 7, 3, false, 7, 0, false, 4},
      {zftInt32, 0, 0, false, 10, 0, false, 4},       {zftInt64, 21, 0, false, 20, 0, false, 8},
      {zftAutoInc, 3, 3, true, 10, 0, false, 4},      {zftRecRev, 0, 0, true, 10, 0, false, 4},
      {zftSingle, 7, 2, false, 7, 2, false, 4},       {zftDouble, -1, 9, false, -1, 9, false, 8},
      {zftExtended, 0, 0, false, 0, 0, false, 10},    {zftCurrency, 0, 9, false, 20, 4, false, 8},
      {zftCurrency, 2, 3, false, 4, 3, false, 8},     {zftBCD, 30, 2, false, 18, 2, false, 8},
      {zftDate, 1, 1, false, 0, 0, false, 4},         {zftTime, 0, 0, false, 0, 0, false, 4},
      {zftDateTime, 0, 0, false, 0, 0, false, 8},     {zftInterval, 0, 0, false, 0, 0, false, 8},
      {zftBlob, 9, 9, false, 0, 0, false, 8},         {zftBlobMemo, 0, 0, false, 0, 0, false, 8},
      {zftBlobGraphic, 0, 0, false, 0, 0, false, 8},  {zftBlobWideMemo, 0, 0, false, 0, 0, false, 8},
      {zftByteArray, 12, 5, false, 12, 0, false, 12}, {zftByteArray, 0, 0, false, 0, 0, false, 0},
      // Text: decimals above 0 (a fixed-width field) become the units, decimals 0 or below stay.
      {zftShortString, 255, 0, false, 255, 0, false, 256},
      {zftShortString, 256, 0, false, 255, 0, false, 256},
      {zftShortString, 300, 1, false, 255, 255, false, 256},
      {zftShortString, 10, 3, false, 10, 10, false, 11},
      {zftShortString, 0, 3, false, 0, 0, false, 1},  {zftNullString, 7, 0, false, 7, 0, false, 8},
      {zftNullString, 7, 9, false, 7, 7, false, 8},   {zftNullString, 7, -2, false, 7, -2, false, 8},
      {zftWideString, 20, 0, false, 20, 0, false, 42}, {zftWideString, 20, 1, false, 20, 20, false, 42},
      {zftWideString, -1, 0, false, -1, 0, false, 0},
      {zftGuid, 5, 5, false, 0, 0, false, 16},        {zftFmtBCD, 100, 70, false, 64, 63, false, 34},
      {zftFmtBCD, 0, 0, false, 1, 0, false, 3},       {zftFmtBCD, 10, 2, false, 10, 2, false, 7},
      {zftFmtBCD, 5, -3, false, 5, 0, false, 5},
  };
  for (const Case& c : cases) {
    int32_t units = c.units, decPl = c.decPl, length = -99;
    bool required = c.required;
    TzfFieldDescriptor::SetupField(c.type, units, decPl, required, length);
    SCOPED_TRACE(rtl::Utf16ToUtf8(zfFieldTypeEnumName(c.type)));
    EXPECT_EQ(units, c.expUnits);
    EXPECT_EQ(decPl, c.expDecPl);
    EXPECT_EQ(required, c.expRequired);
    EXPECT_EQ(length, c.expLength);
  }
}

TEST_F(FieldsTest, AbsurdStorageLengthsAreRefusedNotWrapped) {
  struct Case {
    TzfFieldType type;
    int32_t units;
    const char16_t* outcome;
  } cases[] = {
      {zftByteArray, -5, u"!EzfFieldDescriptorException #10001: ZofrinDB: Units must be > 0 [$2711/10001]"},
      {zftNullString, -7, u"!EzfFieldDescriptorException #10001: ZofrinDB: Units must be > 0 [$2711/10001]"},
      {zftWideString, 0x7FFFFFFF,
       u"!EzfFieldDescriptorException #10001: ZofrinDB: Field length out of range: 4294967296 [$2711/10001]"},
      {zftByteArray, 0x40000001,
       u"!EzfFieldDescriptorException #10001: ZofrinDB: Field length out of range: 1073741825 [$2711/10001]"},
      {zftNullString, 0x7FFFFFFF,
       u"!EzfFieldDescriptorException #10001: ZofrinDB: Field length out of range: 2147483648 [$2711/10001]"},
      {zftWideString, 1000, u"ok"},
  };
  for (const Case& c : cases) {
    int32_t units = c.units, decPl = 0, length = 0;
    bool required = false;
    EXPECT_EQ(Outcome([&] { TzfFieldDescriptor::SetupField(c.type, units, decPl, required, length); }), c.outcome);
  }
}

TEST_F(FieldsTest, StorageCompatibleGroups) {
  EXPECT_TRUE(zfIsStorageCompatible(zftAutoInc, zftWord32));
  EXPECT_TRUE(zfIsStorageCompatible(zftRecRev, zftAutoInc));
  EXPECT_TRUE(zfIsStorageCompatible(zftFmtBCD, zftCurrency));
  EXPECT_TRUE(zfIsStorageCompatible(zftInterval, zftDateTime));
  EXPECT_TRUE(zfIsStorageCompatible(zftBlobWideMemo, zftBlobGraphic));
  EXPECT_FALSE(zfIsStorageCompatible(zftInt32, zftWord32));
  EXPECT_FALSE(zfIsStorageCompatible(zftDate, zftDateTime));
  int pairs = 0;
  for (int a = 0; a < zfFieldTypeCount; ++a)
    for (int b = 0; b < zfFieldTypeCount; ++b) pairs += zfStorageCompatibleTypes[a][b];
  EXPECT_EQ(pairs, 31 + 6 + 6 + 2 + 12);
}

TEST_F(FieldsTest, FieldTextAndNames) {
  TTestDictionary dict;
  TzfFieldsDescriptor fields(&dict);
  fields.AddField(u"A", u"", zftInt32, 0, 0, false, nullptr);
  fields.AddField(u"B", u"", zftInt32, 0, 0, false, nullptr);
  fields.AddField(u"C", u"", zftInt32, 0, 0, false, nullptr);
  TzfFieldDescriptor* price = fields.AddField(u"Price", u"", zftFmtBCD, 10, 2, false, nullptr);
  EXPECT_EQ(price->ToString(), u"[3] Price - FmtBCD(10,2)");
  EXPECT_EQ(fields.Field(0)->ToString(), u"[0] A - Int32");
  EXPECT_EQ(fields.AddField(u"S", u"", zftShortString, 8, 0, false, nullptr)->ToString(), u"[4] S - ShortString(8)");
  TzfFieldType t;
  EXPECT_TRUE(zfFieldTypeFromEnumName(u"ZFTINT32", t));
  EXPECT_EQ(t, zftInt32);
  EXPECT_FALSE(zfFieldTypeFromEnumName(u"zftInt33", t));
  EXPECT_EQ(Code(Outcome([&] { price->ChangeName(u"price"); })), u"10009");
  EXPECT_EQ(Code(Outcome([&] { price->ChangeName(u"bad/name"); })), u"10038");
  price->ChangeName(u"Cost");
  EXPECT_EQ(fields.GetFieldFromName(u"COST"), 3);
}

// ---- Record layout ----

struct TLayoutField {
  const char16_t* name;
  TzfFieldType type;
  int32_t units, decPl, length;
};

// Every field type once, then three more so the bitmap takes two words (34 fields).
const TLayoutField kEveryType[] = {
    {u"fBoolean", zftBoolean, 0, 0, 1},       {u"fChar", zftChar, 0, 0, 1},
    {u"fWideChar", zftWideChar, 0, 0, 2},     {u"fByte", zftByte, 0, 0, 1},
    {u"fWord16", zftWord16, 0, 0, 2},         {u"fWord32", zftWord32, 0, 0, 4},
    {u"fInt8", zftInt8, 0, 0, 1},             {u"fInt16", zftInt16, 0, 0, 2},
    {u"fInt32", zftInt32, 0, 0, 4},           {u"fInt64", zftInt64, 0, 0, 8},
    {u"fAutoInc", zftAutoInc, 0, 0, 4},       {u"fSingle", zftSingle, 0, 0, 4},
    {u"fDouble", zftDouble, 0, 0, 8},         {u"fExtended", zftExtended, 0, 0, 10},
    {u"fCurrency", zftCurrency, 0, 0, 8},     {u"fDate", zftDate, 0, 0, 4},
    {u"fTime", zftTime, 0, 0, 4},             {u"fDateTime", zftDateTime, 0, 0, 8},
    {u"fInterval", zftInterval, 0, 0, 8},     {u"fBlob", zftBlob, 0, 0, 8},
    {u"fBlobMemo", zftBlobMemo, 0, 0, 8},     {u"fBlobGraphic", zftBlobGraphic, 0, 0, 8},
    {u"fByteArray", zftByteArray, 5, 0, 5},   {u"fShortString", zftShortString, 10, 0, 11},
    {u"fNullString", zftNullString, 7, 0, 8}, {u"fWideString", zftWideString, 3, 0, 8},
    {u"fRecRev", zftRecRev, 0, 0, 4},         {u"fGuid", zftGuid, 0, 0, 16},
    {u"fBCD", zftBCD, 0, 0, 8},               {u"fBlobWideMemo", zftBlobWideMemo, 0, 0, 8},
    {u"fFmtBCD", zftFmtBCD, 10, 2, 7},        {u"fMore1", zftBoolean, 0, 0, 1},
    {u"fMore2", zftBoolean, 0, 0, 1},         {u"fMore3", zftChar, 0, 0, 1},
};

void AddAll(TzfFieldsDescriptor& aFields, const TLayoutField* aBegin, const TLayoutField* aEnd) {
  for (const TLayoutField* f = aBegin; f != aEnd; ++f)
    aFields.AddField(f->name, u"", f->type, f->units, f->decPl, false, nullptr);
}

TEST_F(FieldsTest, RecordLayoutForFieldMixes) {
  struct Mix {
    std::vector<TLayoutField> fields;
    int32_t version;
    int32_t logRecLen, align, recordLength;
  };
  const std::vector<TLayoutField> every(std::begin(kEveryType), std::end(kEveryType));
  const std::vector<TLayoutField> example{{u"a", zftInt32, 0, 0, 4}, {u"b", zftShortString, 10, 0, 11},
                                          {u"c", zftBoolean, 0, 0, 1}, {u"d", zftChar, 0, 0, 1}};
  const std::vector<TLayoutField> aligned{{u"a", zftInt32, 0, 0, 4}, {u"b", zftInt64, 0, 0, 8}};
  const Mix mixes[] = {
      {example, 4, 17, 20, 24},  {example, 1, 17, 17, 24},   {aligned, 4, 12, 12, 16},
      {aligned, 1, 12, 12, 16},  {every, 4, 186, 188, 196},  {every, 1, 186, 186, 196},
  };
  for (const Mix& m : mixes) {
    TTestDictionary dict(m.version);
    TzfFieldsDescriptor fields(&dict);
    AddAll(fields, m.fields.data(), m.fields.data() + m.fields.size());
    int32_t offset = 0;
    for (size_t i = 0; i < m.fields.size(); ++i) {
      EXPECT_EQ(fields.Field(static_cast<int32_t>(i))->fdOffset, offset) << i;
      EXPECT_EQ(fields.Field(static_cast<int32_t>(i))->fdLength, m.fields[i].length) << i;
      EXPECT_EQ(fields.Field(static_cast<int32_t>(i))->fdNumber, static_cast<int32_t>(i));
      offset += m.fields[i].length;
    }
    EXPECT_EQ(fields.fsdLogRecLen, m.logRecLen);
    EXPECT_EQ(fields.GetLogRecLenAlign(), m.align);
    EXPECT_EQ(fields.GetRecordLength(), m.recordLength);
    dict.ActivateCache();
    EXPECT_EQ(fields.GetRecordLength(), m.recordLength);
    dict.DeactivateCache();
  }
}

TEST_F(FieldsTest, NullBitmapWordsAndInitRecord) {
  TTestDictionary dict;
  TzfFieldsDescriptor fields(&dict);
  AddAll(fields, std::begin(kEveryType), std::end(kEveryType));
  std::vector<uint8_t> rec(196, 0xAA);
  fields.InitRecord(rec.data());
  EXPECT_EQ(std::vector<uint8_t>(rec.begin(), rec.begin() + 188), std::vector<uint8_t>(188, 0));
  EXPECT_EQ(std::vector<uint8_t>(rec.begin() + 188, rec.end()),
            (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0}));
  // Field 33 is bit 1 of the second little-endian word; field 8 bit 8 of the first.
  fields.SetRecordFieldNull(33, rec.data(), false);
  const int32_t v = 0x12345678;
  fields.SetRecordField(8, rec.data(), &v);
  EXPECT_EQ(rec[192], 0xFD);
  EXPECT_EQ(rec[189], 0xFE);
  EXPECT_FALSE(fields.IsRecordFieldNull(8, rec.data()));
  EXPECT_TRUE(fields.IsRecordFieldNull(9, rec.data()));
  EXPECT_FALSE(fields.IsRecordFieldNullFast(33, rec.data()));
  const int32_t off = fields.Field(8)->fdOffset;
  EXPECT_EQ(std::memcmp(rec.data() + off, &v, 4), 0);
  bool isNull = true;
  int32_t out = 0;
  fields.GetRecordField(8, rec.data(), isNull, &out);
  EXPECT_FALSE(isNull);
  EXPECT_EQ(out, v);
  // Setting NULL zeroes exactly the field's bytes.
  std::memset(rec.data() + off - 1, 0x77, 1);
  std::memset(rec.data() + off + 4, 0x77, 1);
  fields.SetRecordField(8, rec.data(), nullptr);
  EXPECT_EQ((std::vector<uint8_t>(rec.begin() + off - 1, rec.begin() + off + 5)),
            (std::vector<uint8_t>{0x77, 0, 0, 0, 0, 0x77}));
  out = 55;
  fields.GetRecordField(8, rec.data(), isNull, &out);
  EXPECT_TRUE(isNull);
  EXPECT_EQ(out, 55);
  EXPECT_TRUE(fields.IsRecordFieldNull(0, nullptr));

  // Version 1: the bitmap follows the fields directly.
  TTestDictionary dict1(1);
  TzfFieldsDescriptor f1(&dict1);
  AddAll(f1, std::begin(kEveryType), std::begin(kEveryType) + 10);
  EXPECT_EQ(f1.fsdLogRecLen, 26);
  std::vector<uint8_t> r1(static_cast<size_t>(f1.GetRecordLength()), 0xAA);
  EXPECT_EQ(r1.size(), 32u);
  f1.InitRecord(r1.data());
  EXPECT_EQ(std::vector<uint8_t>(r1.begin() + 26, r1.end()), (std::vector<uint8_t>{0xFF, 0xFF, 0, 0, 0, 0}));
}

TEST_F(FieldsTest, FieldNumbersOutsideTheFieldsAreRefused) {
  TTestDictionary dict;
  TzfFieldsDescriptor fields(&dict);
  AddAll(fields, std::begin(kEveryType), std::begin(kEveryType) + 3);
  std::vector<uint8_t> rec(static_cast<size_t>(fields.GetRecordLength()));
  fields.InitRecord(rec.data());
  const UnicodeString refused3 =
      u"!EzfFieldsDescriptorException #9999: ZofrinDB: Index out of bounds: 3 [$270F/9999]";
  const UnicodeString refusedNeg =
      u"!EzfFieldsDescriptorException #9999: ZofrinDB: Index out of bounds: -1 [$270F/9999]";
  bool isNull;
  uint8_t buf[16];
  for (int32_t field : {3, -1, 1000000}) {
    SCOPED_TRACE(field);
    const std::function<void()> calls[] = {
        [&] { fields.IsRecordFieldNull(field, rec.data()); },
        [&] { fields.IsRecordFieldNullFast(field, rec.data()); },
        [&] { fields.GetRecordField(field, rec.data(), isNull, buf); },
        [&] { fields.SetRecordField(field, rec.data(), buf); },
        [&] { fields.SetRecordFieldNull(field, rec.data(), true); },
        [&] { fields.GetRecordFieldForFilter(field, rec.data()); },
        [&] { fields.GetFieldAsVariant(rec.data(), field); },
        [&] { fields.SetFieldAsVariant(rec.data(), field, rtl::Variant(1)); },
        [&] { fields.Field(field); },
    };
    for (const auto& call : calls) EXPECT_EQ(Code(Outcome(call)), u"9999");
    uint16_t type = 77, size = 77, cp = 77;
    const uint8_t* value = nullptr;
    EXPECT_FALSE(fields.GetFieldForFilter(field, nullptr, rec.data(), type, size, isNull, value, cp));
    EXPECT_EQ(type, 77);
    TzfFieldType ft = zftGuid;
    EXPECT_FALSE(fields.GetRecordFieldForFilter(field, rec.data(), ft, size, value));
    EXPECT_EQ(ft, zftGuid);
  }
  EXPECT_EQ(Outcome([&] { fields.IsRecordFieldNull(3, rec.data()); }), refused3);
  EXPECT_EQ(Outcome([&] { fields.IsRecordFieldNull(-1, rec.data()); }), refusedNeg);
}

TEST_F(FieldsTest, FieldsByNameWithAndWithoutTheHash) {
  TTestDictionary dict;
  TzfFieldsDescriptor fields(&dict);
  AddAll(fields, std::begin(kEveryType), std::end(kEveryType));
  for (bool cached : {false, true}) {
    if (cached) dict.ActivateCache();
    EXPECT_EQ(fields.GetFieldFromName(u"FINT32"), 8);
    EXPECT_EQ(fields.GetFieldFromName(u"fmore3"), 33);
    EXPECT_EQ(fields.GetFieldFromName(u"f\u0130nt32"), -1);  // only A..Z fold
    EXPECT_EQ(fields.GetFieldFromName(u"nothing"), -1);
    for (int32_t i = 0; i < fields.FieldCount; ++i) EXPECT_EQ(fields.GetFieldFromName(fields.Field(i)->fdName), i);
  }
  dict.DeactivateCache();
  EXPECT_TRUE(fields.fsdFieldHashList.empty());
  IzfFieldInfo* info = nullptr;
  fields.GetFieldInfo(23, info);
  EXPECT_EQ(info->GetName(), u"fShortString");
  EXPECT_EQ(info->GetUnits(), 10);
}

// A text field is fixed-width only when it was created with decimals above 0: its decimals become
// its units, its text is stored without trailing blanks and padded to the units when read. With
// decimals 0 the text is stored and read back as written.
TEST_F(FieldsTest, TextFieldsAreFixedWidthOnlyWhenAskedFor) {
  struct Case {
    TzfFieldType type;
    int32_t decPl, expDecPl;
    std::vector<uint8_t> stored;
    const char16_t* read;
  } cases[] = {
      {zftNullString, 0, 0, {'a', 'b', ' ', 0, 0, 0}, u"ab "},
      {zftNullString, 2, 5, {'a', 'b', 0, 0, 0, 0}, u"ab   "},
      {zftShortString, 0, 0, {3, 'a', 'b', ' ', 0, 0}, u"ab "},
      {zftShortString, 9, 5, {2, 'a', 'b', 0, 0, 0}, u"ab   "},
      {zftWideString, 0, 0, {'a', 0, 'b', 0, ' ', 0, 0, 0, 0, 0, 0, 0}, u"ab "},
      {zftWideString, 1, 5, {'a', 0, 'b', 0, 0, 0, 0, 0, 0, 0, 0, 0}, u"ab   "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(rtl::Utf16ToUtf8(zfFieldTypeEnumName(c.type)) + " decimals " + std::to_string(c.decPl));
    TTestDictionary dict;
    TzfFieldsDescriptor fields(&dict);
    TzfFieldDescriptor* f = fields.AddField(u"T", u"", c.type, 5, c.decPl, false, nullptr);
    EXPECT_EQ(f->fdUnits, 5);
    EXPECT_EQ(f->fdDecPl, c.expDecPl);
    EXPECT_EQ(f->fdLength, static_cast<int32_t>(c.stored.size()));
    EXPECT_EQ(Outcome([&] { f->CheckValid(false); }), u"ok");
    std::vector<uint8_t> rec(static_cast<size_t>(fields.GetRecordLength()));
    fields.InitRecord(rec.data());
    fields.SetFieldAsVariant(rec.data(), 0, rtl::Variant::FromOleStr(u"ab "));
    EXPECT_EQ(std::vector<uint8_t>(rec.begin(), rec.begin() + f->fdLength), c.stored);
    EXPECT_EQ(fields.GetFieldAsVariant(rec.data(), 0).AsString(), c.read);
    // What was read writes back the same bytes.
    fields.SetFieldAsVariant(rec.data(), 0, fields.GetFieldAsVariant(rec.data(), 0));
    EXPECT_EQ(std::vector<uint8_t>(rec.begin(), rec.begin() + f->fdLength), c.stored);
  }
}

TEST_F(FieldsTest, VariantAccessAndFailedSetsKeepTheRecord) {
  TTestDictionary dict;
  TzfFieldsDescriptor fields(&dict);
  fields.AddField(u"I", u"", zftInt32, 0, 0, false, nullptr);
  fields.AddField(u"S", u"", zftShortString, 4, 0, false, nullptr);
  std::vector<uint8_t> rec(static_cast<size_t>(fields.GetRecordLength()));
  fields.InitRecord(rec.data());
  EXPECT_TRUE(fields.GetFieldAsVariant(rec.data(), 0).IsNull());
  // A value that does not convert leaves a NULL field NULL ...
  EXPECT_NE(Outcome([&] { fields.SetFieldAsVariant(rec.data(), 0, rtl::Variant(u"abc")); }), u"ok");
  EXPECT_TRUE(fields.IsRecordFieldNull(0, rec.data()));
  // ... and a set field with its value.
  fields.SetFieldAsVariant(rec.data(), 0, rtl::Variant(42));
  EXPECT_NE(Outcome([&] { fields.SetFieldAsVariant(rec.data(), 0, rtl::Variant(u"abc")); }), u"ok");
  EXPECT_FALSE(fields.IsRecordFieldNull(0, rec.data()));
  EXPECT_EQ(fields.GetFieldAsVariant(rec.data(), 0).AsInt64(), 42);
  fields.SetFieldAsVariant(rec.data(), 0, rtl::Variant::Null());
  EXPECT_TRUE(fields.IsRecordFieldNull(0, rec.data()));

  fields.SetFieldAsVariant(rec.data(), 1, rtl::Variant(u"ab"));
  EXPECT_EQ(fields.GetFieldAsVariant(rec.data(), 1).AsString(), u"ab");  // variable width: as written
  rec[4] = 2;
  uint16_t type, size, cp;
  bool isNull;
  const uint8_t* value;
  ASSERT_TRUE(fields.GetFieldForFilter(1, nullptr, rec.data(), type, size, isNull, value, cp));
  EXPECT_EQ(type, static_cast<uint16_t>(zftShortString));
  EXPECT_EQ(size, 2);
  EXPECT_EQ(value, rec.data() + 5);
  EXPECT_FALSE(isNull);
  // A damaged length byte cannot send a filter past the field.
  rec[4] = 200;
  ASSERT_TRUE(fields.GetFieldForFilter(1, nullptr, rec.data(), type, size, isNull, value, cp));
  EXPECT_EQ(size, 4);
  ASSERT_TRUE(fields.GetFieldForFilter(1, nullptr, nullptr, type, size, isNull, value, cp));
  EXPECT_TRUE(isNull);
  EXPECT_EQ(value, nullptr);
}

// ---- Field list changes and notifications ----

class TNotified : public TzfDictionaryItem {
 public:
  using TzfDictionaryItem::TzfDictionaryItem;
  void FieldNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) override {
    if (RefuseRemovalOf == aOld && aNew == -1 && aBefore)
      throw EzfKeyFieldDescriptorException(zfErrObjectInUse);
    Calls.push_back({aBefore, aOld, aNew});
  }
  struct Call {
    bool before;
    int32_t old, now;
    bool operator==(const Call&) const = default;
  };
  std::vector<Call> Calls;
  int32_t RefuseRemovalOf = -2;
};

TEST_F(FieldsTest, ListChangesRenumberAndNotify) {
  TTestDictionary dict;
  TzfFieldsDescriptor fields(&dict);
  fields.AddField(u"A", u"", zftInt32, 0, 0, false, nullptr);
  fields.AddField(u"B", u"", zftInt16, 0, 0, false, nullptr);
  fields.AddField(u"C", u"", zftInt64, 0, 0, false, nullptr);
  TNotified n(&fields);
  n.RegisterFieldChangeNotify();
  fields.RemoveField(2);  // the last: only the before-notification
  EXPECT_EQ(n.Calls, (std::vector<TNotified::Call>{{true, 2, -1}}));
  n.Calls.clear();
  fields.AddField(u"C", u"", zftInt64, 0, 0, false, nullptr);
  fields.RemoveField(0);
  EXPECT_EQ(n.Calls, (std::vector<TNotified::Call>{{true, 0, -1}, {false, 0, -1}}));
  EXPECT_EQ(fields.Field(0)->fdOffset, 0);
  EXPECT_EQ(fields.Field(1)->fdOffset, 2);
  EXPECT_EQ(fields.fsdLogRecLen, 10);
  n.Calls.clear();
  fields.InsertFieldAt(1, u"X", u"", zftBoolean, 0, 0, false, nullptr);
  EXPECT_EQ(n.Calls, (std::vector<TNotified::Call>{{true, -1, 1}, {false, -1, 1}}));
  EXPECT_EQ(fields.Field(1)->fdName, u"X");
  EXPECT_EQ(fields.Field(2)->fdOffset, 3);
  EXPECT_EQ(fields.GetLogRecLenAlign(), 12);
  n.Calls.clear();
  fields.InsertFieldAt(3, u"Y", u"", zftBoolean, 0, 0, false, nullptr);  // append: before only
  EXPECT_EQ(n.Calls, (std::vector<TNotified::Call>{{true, -1, 3}}));
  n.Calls.clear();
  fields.MoveField(3, 0);
  EXPECT_EQ(n.Calls, (std::vector<TNotified::Call>{{true, 3, 0}, {false, 3, 0}}));
  EXPECT_EQ(fields.Field(0)->fdName, u"Y");
  EXPECT_EQ(fields.Field(1)->fdOffset, 1);
  n.RefuseRemovalOf = 1;
  EXPECT_EQ(Code(Outcome([&] { fields.RemoveField(1); })), u"15502");
  EXPECT_EQ(fields.FieldCount, 4);
  EXPECT_EQ(Code(Outcome([&] { fields.AddField(u"y", u"", zftInt32, 0, 0, false, nullptr); })), u"10009");
  EXPECT_EQ(Code(Outcome([&] { fields.InsertFieldAt(9, u"Z", u"", zftInt32, 0, 0, false, nullptr); })), u"9999");
  EXPECT_EQ(Code(Outcome([&] { fields.MoveField(0, 4); })), u"9999");
  n.UnregisterFieldChangeNotify();
  EXPECT_TRUE(fields.fsdFieldChangeNotifies.empty());
  dict.ReadOnly = true;
  EXPECT_EQ(Code(Outcome([&] { fields.AddField(u"Q", u"", zftInt32, 0, 0, false, nullptr); })), u"15500");
  dict.ReadOnly = false;
  TzfFieldsDescriptor loose(nullptr);
  EXPECT_EQ(Code(Outcome([&] { loose.AddField(u"Q", u"", zftInt32, 0, 0, false, nullptr); })), u"8712");
}

TEST_F(FieldsTest, CheckValidAndEquality) {
  TTestDictionary dict;
  TzfFieldsDescriptor fields(&dict);
  EXPECT_EQ(Code(Outcome([&] { fields.CheckValid(false); })), u"10003");
  fields.AddField(u"R", u"", zftRecRev, 0, 0, false, nullptr);
  fields.AddField(u"A", u"", zftAutoInc, 0, 0, false, nullptr);
  fields.AddField(u"B", u"", zftBlob, 0, 0, false, nullptr);
  fields.CheckValid(true);
  EXPECT_EQ(dict.AutoIncEnsured, 1);
  EXPECT_EQ(dict.BlobEnsured, 1);
  fields.Field(2)->fdLength = 9;
  EXPECT_EQ(Outcome([&] { fields.CheckValid(false); }),
            u"!EzfFieldDescriptorException #10003: ZofrinDB: fdLength is wrong for field 2 (B). Expected 8 found 9. "
            u"[$2713/10003]");
  fields.Field(2)->fdLength = 8;
  fields.AddField(u"R2", u"", zftRecRev, 0, 0, false, nullptr);
  EXPECT_EQ(Code(Outcome([&] { fields.CheckValid(false); })), u"15506");
  fields.RemoveField(3);
  fields.AddField(u"BA", u"", zftByteArray, 0, 0, false, nullptr);
  EXPECT_EQ(Outcome([&] { fields.CheckValid(false); }),
            u"!EzfFieldDescriptorException #10001: ZofrinDB: Units must be > 0 [$2711/10001]");

  TzfFieldsDescriptor a(&dict), b(&dict);
  a.AddField(u"N", u"", zftAutoInc, 0, 0, false, nullptr);
  b.AddField(u"N", u"", zftWord32, 0, 0, false, nullptr);
  EXPECT_TRUE(a.Field(0)->IsEqual(b.Field(0)));
  TzfList blobs;
  EXPECT_TRUE(a.HasSameFields(&b, &blobs));
  EXPECT_FALSE(fields.HasSameFields(&b, nullptr));
  EXPECT_TRUE(fields.HasBlobFields(nullptr));
  EXPECT_TRUE(fields.HasBlobFields(&blobs));
  EXPECT_EQ(blobs.Count(), 1);
  int32_t no = -1;
  EXPECT_TRUE(fields.HasAutoIncField(no));
  EXPECT_EQ(no, 1);
}

// ---- Streams ----

// Item header of a loose item: version 3, no strings, ID 0, empty constraint name.
const std::vector<uint8_t> kLooseHeader{2, 3, 1, 0, 2, 0, 18, 0, 0, 0, 0};

TEST_F(FieldsTest, FieldDescriptorGoldenBytes) {
  TzfFieldDescriptor f(nullptr, u"Qty", u"", zftInt32, 0, 0, true);
  f.fdOffset = 300;
  std::vector<uint8_t> expected = kLooseHeader;
  // Body 3: offset 300 (Int16), length 4, no default, client access, locale part (1, none), no validations.
  expected.insert(expected.end(), {2, 3, 3, 0x2C, 0x01, 2, 4, 8, 8, 2, 1, 8, 8});
  EXPECT_EQ(SavedItem(f, 30900), expected);
  // An old client gets body 1 without the locale part and validations.
  f.fdNoClientAccess = true;
  EXPECT_EQ(SavedItem(f, 19999), (std::vector<uint8_t>{2, 1, 1, 0, 2, 1, 3, 0x2C, 0x01, 2, 4, 8, 9}));
  f.AddLocaleDescriptor(nullptr);
  EXPECT_EQ(Code(Outcome([&] { SavedItem(f, 19999); })), u"12039");

  TzfFieldDescriptor back(nullptr, u"Qty", u"", zftInt32, 0, 0, true);
  EXPECT_EQ(LoadItem(back, expected), u"ok");
  EXPECT_EQ(back.fdOffset, 300);
  EXPECT_FALSE(back.fdNoClientAccess);
  EXPECT_EQ(LoadItem(back, SavedItem(f, 30900)), u"ok");
  EXPECT_TRUE(back.IsEqual(&f));
}

TEST_F(FieldsTest, FieldsDescriptorRoundTripAndGoldenStart) {
  TTestDictionary dict;
  TzfFieldsDescriptor fields(&dict);
  AddAll(fields, std::begin(kEveryType), std::end(kEveryType));
  fields.Field(3)->AddLocaleDescriptor(nullptr)->SetLocale(0x0419);
  fields.CustomStringList() = {u"note"};
  const std::vector<uint8_t> bytes = SavedItem(fields, 30900);
  // Header (ID 1), body 2, 34 fields, then the first field's class name.
  const std::vector<uint8_t> start{2, 3, 1, 6, 4, 'n', 'o', 't', 'e', 0, 2, 1, 18, 0, 0, 0, 0, 2, 2, 2, 34,
                                   6, 18, 'T', 'z', 'f', 'F', 'i', 'e', 'l', 'd', 'D', 'e', 's', 'c', 'r', 'i', 'p',
                                   't', 'o', 'r'};
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(start.size())), start);
  TTestDictionary dict2;
  TzfFieldsDescriptor back(&dict2);
  EXPECT_EQ(LoadItem(back, bytes), u"ok");
  EXPECT_TRUE(back.IsEqual(&fields));
  EXPECT_EQ(back.GetRecordLength(), 196);
  EXPECT_EQ(back.Field(3)->GetUsedStorageCodePage(), 1251);
  EXPECT_EQ(Code(Outcome([&] { SavedItem(fields, 19999); })), u"12039");
}

// A fields part with one Int32 field "A" whose stored offset, length and record lengths are given.
std::vector<uint8_t> OneFieldPart(const char* aType, int8_t aOffset, int8_t aLength, int8_t aLogRecLen,
                                  int8_t aAlign, int8_t aCount = 1) {
  std::vector<uint8_t> b = kLooseHeader;
  b.insert(b.end(), {2, 2, 2, static_cast<uint8_t>(aCount)});
  const std::string cls = "TzfFieldDescriptor";
  b.push_back(6);
  b.push_back(static_cast<uint8_t>(cls.size()));
  b.insert(b.end(), cls.begin(), cls.end());
  b.insert(b.end(), {6, 1, 'A', 6, 0});
  const std::string type = aType;
  b.push_back(6);
  b.push_back(static_cast<uint8_t>(type.size()));
  b.insert(b.end(), type.begin(), type.end());
  b.insert(b.end(), {2, 0, 2, 0, 8});
  b.insert(b.end(), kLooseHeader.begin(), kLooseHeader.end());
  b.insert(b.end(), {2, 3, 2, static_cast<uint8_t>(aOffset), 2, static_cast<uint8_t>(aLength), 8, 8, 2, 1, 8, 8});
  b.insert(b.end(), {2, static_cast<uint8_t>(aLogRecLen), 2, static_cast<uint8_t>(aAlign), 8});
  return b;
}

TEST_F(FieldsTest, DamagedFieldsStreamsAreRefused) {
  const UnicodeString refused = u"!EzfFieldsDescriptorException #15498: ZofrinDB: Incompatible stream [$3C8A/15498]";
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    UnicodeString outcome;
  } cases[] = {
      {"sound", OneFieldPart("zftInt32", 0, 4, 4, 4), u"ok"},
      {"record length overlapping the field", OneFieldPart("zftInt32", 0, 4, 2, 4), refused},
      {"bitmap far after the fields", OneFieldPart("zftInt32", 0, 4, 4, 12), refused},
      {"bitmap before the fields' end", OneFieldPart("zftInt32", 0, 4, 4, 3), refused},
      {"field beyond the record", OneFieldPart("zftInt32", 4, 4, 4, 4), refused},
      {"negative offset", OneFieldPart("zftInt32", -4, 4, 4, 4), refused},
      {"negative length", OneFieldPart("zftInt32", 0, -4, 4, 4), refused},
      {"negative record length", OneFieldPart("zftInt32", 0, 0, -4, -4), refused},
      {"unknown type name", OneFieldPart("zftInt99", 0, 4, 4, 4), refused},
      {"count beyond the bytes", OneFieldPart("zftInt32", 0, 4, 4, 4, 100), refused},
      {"negative count", OneFieldPart("zftInt32", 0, 4, 4, 4, -1), refused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTestDictionary dict;
    TzfFieldsDescriptor fields(&dict);
    EXPECT_EQ(LoadItem(fields, c.bytes), c.outcome);
  }
  // An unregistered field class names the kind; a truncated stream fails without reading past it.
  std::vector<uint8_t> b = OneFieldPart("zftInt32", 0, 4, 4, 4);
  b[kLooseHeader.size() + 6] = 'X';
  TTestDictionary dict;
  TzfFieldsDescriptor fields(&dict);
  EXPECT_EQ(LoadItem(fields, b),
            u"!EzfFieldsDescriptorException #15499: ZofrinDB: FieldDescriptor class is not supported: "
            u"XzfFieldDescriptor [$3C8B/15499]");
  const std::vector<uint8_t> sound = OneFieldPart("zftInt32", 0, 4, 4, 4);
  for (size_t n = 0; n < sound.size(); ++n) {
    TzfFieldsDescriptor f(&dict);
    EXPECT_NE(LoadItem(f, std::vector<uint8_t>(sound.begin(), sound.begin() + static_cast<long>(n))), u"ok") << n;
  }
}

TEST_F(FieldsTest, StoredBitmapOffsetMustLieInsideTheRecordOfItsDictionaryVersion) {
  // Twelve one-byte fields: 12 bytes of field data and a bitmap of 2 bytes in one word. A
  // version-1 record is 12 + 4 bytes long whatever bitmap offset a stream claims, so a stored
  // offset past the rounded field data would put null bits after the record. (With 11 fields the
  // rounded offset 12 is what a version-1 descriptor has after its setups were recomputed.)
  TTestDictionary dict4;
  TzfFieldsDescriptor source(&dict4);
  for (int i = 0; i < 12; ++i) source.AddField(u"F" + rtl::IntToStr(i), u"", zftBoolean, 0, 0, false, nullptr);
  const std::vector<uint8_t> stored = SavedItem(source, 30900);
  ASSERT_EQ(std::vector<uint8_t>(stored.end() - 5, stored.end()), (std::vector<uint8_t>{2, 12, 2, 12, 8}));
  struct Case { int32_t version; uint8_t align; bool ok; } cases[] = {
      {1, 12, true}, {4, 12, true}, {4, 15, true}, {1, 13, false}, {1, 15, false},
  };
  // Eleven fields (11 bytes) stored with the bitmap at 12 read in a version-1 dictionary.
  {
    TzfFieldsDescriptor eleven(&dict4);
    for (int i = 0; i < 11; ++i) eleven.AddField(u"F" + rtl::IntToStr(i), u"", zftBoolean, 0, 0, false, nullptr);
    TTestDictionary dict1(1);
    TzfFieldsDescriptor back(&dict1);
    EXPECT_EQ(LoadItem(back, SavedItem(eleven, 30900)), u"ok");
    EXPECT_EQ(back.GetRecordLength(), 16);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.version << "/" << int{c.align});
    std::vector<uint8_t> bytes = stored;
    bytes[bytes.size() - 2] = c.align;
    TTestDictionary dict(c.version);
    TzfFieldsDescriptor fields(&dict);
    const UnicodeString outcome = LoadItem(fields, bytes);
    if (!c.ok) {
      EXPECT_EQ(Code(outcome), u"15498");
      continue;
    }
    ASSERT_EQ(outcome, u"ok");
    std::vector<uint8_t> rec(static_cast<size_t>(fields.GetRecordLength()));
    fields.InitRecord(rec.data());
    for (int32_t i = 0; i < fields.FieldCount; ++i) EXPECT_TRUE(fields.IsRecordFieldNull(i, rec.data()));
  }
}

}  // namespace
}  // namespace zf
