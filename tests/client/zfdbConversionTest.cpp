// Field conversion between engine fields and the framework's fields: the lookup tables, the
// field definitions each engine type shows as, both directions of every mapper (with NULL left to
// the caller), padding, code-page translation, damaged text lengths, BCD, FmtBCD, GUID and
// currency, and the engine fields made from framework field definitions.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/zfdbBase.h"
#include "client/zfdbConversion.h"
#include "client/zfdbStartup.h"
#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdFmtBcd.h"
#include "dictionary/zfsdLocaleDescriptor.h"

namespace zf {
namespace {

using Bytes = std::vector<uint8_t>;
using rtl::UnicodeString;

class ConversionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { zfStartClient(); }
  static void TearDownTestSuite() { zfStopClient(); }
};

// One engine field of a table of its own, with its conversion methods.
struct TMapped {
  std::unique_ptr<TzfDataDictionary> Dict = std::make_unique<TzfDataDictionary>();
  TzfFieldDescriptor* Field = nullptr;
  std::unique_ptr<TzfBaseVclFieldMapper> Mapper;
  TzfVclMapperMethod ToVcl, ToZofrin;

  // The engine bytes as the framework buffer of aVclSize bytes (exactly that big, so that the
  // sanitizer sees any write past it).
  Bytes Read(Bytes aStored, size_t aVclSize) const {
    aStored.resize(static_cast<size_t>(Field->fdLength));
    Bytes vcl(aVclSize, 0xCC);
    ToVcl(aStored.data(), vcl.data());
    return vcl;
  }
  // The framework buffer as the field's engine bytes (prefilled with 0xCC).
  Bytes Write(const Bytes& aVcl) const {
    Bytes stored(static_cast<size_t>(Field->fdLength), 0xCC);
    ToZofrin(aVcl.data(), stored.data());
    return stored;
  }
};

std::unique_ptr<TMapped> Map(TzfFieldType aType, int32_t aUnits = 0, int32_t aDecPl = 0,
                             const std::function<void(TMapped&)>& aSetup = {}) {
  auto m = std::make_unique<TMapped>();
  m->Field = m->Dict->tdFieldsDescriptor->AddField(u"F", u"", aType, aUnits, aDecPl, false, nullptr);
  if (aSetup) aSetup(*m);
  m->Mapper = TzfBaseVclFieldMapper::GetMapperForDescriptor(*m->Field, m->ToVcl, m->ToZofrin);
  return m;
}

template <typename T>
Bytes Host(T aValue) {
  Bytes b(sizeof(T));
  std::memcpy(b.data(), &aValue, sizeof(T));
  return b;
}
// A framework 8-bit buffer of aUnits characters: the text, a terminator, zeros.
Bytes VclText(const std::string& aText, size_t aUnits) {
  Bytes b(aUnits + 1, 0);
  std::memcpy(b.data(), aText.data(), std::min(aText.size(), aUnits));
  return b;
}
Bytes VclWide(const std::u16string& aText, size_t aUnits) {
  Bytes b((aUnits + 1) * 2, 0);
  std::memcpy(b.data(), aText.data(), std::min(aText.size(), aUnits) * 2);
  return b;
}
std::string AsText(const Bytes& aVcl) { return std::string(reinterpret_cast<const char*>(aVcl.data())); }
std::u16string AsWide(const Bytes& aVcl) { return std::u16string(reinterpret_cast<const char16_t*>(aVcl.data())); }
rtl::TBcd AsBcd(const Bytes& aVcl) {
  rtl::TBcd b;
  std::memcpy(&b, aVcl.data(), sizeof(b));
  return b;
}
Bytes BcdBytes(const char16_t* aText) { return Host(zfStrToBcd(aText)); }

UnicodeString Outcome(const std::function<void()>& f) {
  try {
    f();
    return u"ok";
  } catch (const EzfDatabaseError& e) {
    return u"!EzfDatabaseError #" + rtl::IntToStr(e.GetErrorCode()) + u": " + e.GetProcessedErrorString();
  } catch (const EzfBaseException& e) {
    return u"!" + rtl::u16(e.ClassName()) + u" #" + rtl::IntToStr(e.ErrorCode());
  } catch (const rtl::Exception& e) {
    return u"!" + rtl::u16(e.ClassName());
  }
}

// ---- tables --------------------------------------------------------------------------------------

TEST_F(ConversionTest, EveryEngineTypeHasItsClass) {
  int mapped = 0;
  for (int t = 0; t < zfFieldTypeCount; ++t) {
    TzfVclFieldMapperClass c = zfVclMapperByZofrinType[t];
    ASSERT_NE(c, nullptr) << t;
    EXPECT_EQ(static_cast<int>(c->GetZofrinType()), t);
  }
  for (int v = 0; v < db::FieldTypeCount; ++v) mapped += zfVclMapperByVclType[v] != nullptr;
  EXPECT_EQ(mapped, 30);
  EXPECT_EQ(std::u16string(zfVclMapperByZofrinType[static_cast<int>(zftBCD)]->ClassName()), u"TzfBcdVclFieldMapper");
  EXPECT_EQ(zfVclMapperByVclType[db::ftFixedChar], zfVclMapperByZofrinType[static_cast<int>(zftNullString)]);
  EXPECT_EQ(zfVclMapperByVclType[db::ftTypedBinary], zfVclMapperByZofrinType[static_cast<int>(zftBlob)]);
  for (db::TFieldType none : {db::ftUnknown, db::ftVarBytes, db::ftFixedWideChar, db::ftSingle, db::ftTimeStamp,
                              db::ftVariant, db::ftOraBlob})
    EXPECT_EQ(zfVclMapperByVclType[none], nullptr) << int(none);
}

TEST_F(ConversionTest, FieldDefinitionOfEveryEngineType) {
  using db::TFieldAttributes;
  const struct {
    TzfFieldType Type;
    int32_t Units, DecPl;
    db::TFieldType VclType;
    uint16_t Size;
    TFieldAttributes Attributes;
  } cases[] = {
      {zftBoolean, 0, 0, db::ftBoolean, 0, {}},          {zftChar, 0, 0, db::ftString, 1, {}},
      {zftWideChar, 0, 0, db::ftWideString, 1, {}},     {zftByte, 0, 0, db::ftByte, 0, {}},
      {zftWord16, 0, 0, db::ftWord, 0, {}},             {zftWord32, 0, 0, db::ftLongWord, 0, {}},
      {zftInt8, 0, 0, db::ftShortint, 0, {}},           {zftInt16, 0, 0, db::ftSmallint, 0, {}},
      {zftInt32, 0, 0, db::ftInteger, 0, {}},           {zftInt64, 0, 0, db::ftLargeint, 0, {}},
      {zftAutoInc, 0, 0, db::ftAutoInc, 0, {}},         {zftSingle, 0, 0, db::ftFloat, 0, {}},
      {zftDouble, 0, 0, db::ftFloat, 0, {}},            {zftExtended, 0, 0, db::ftExtended, 0, {}},
      {zftCurrency, 0, 0, db::ftCurrency, 0, {}},       {zftDate, 0, 0, db::ftDate, 0, {}},
      {zftTime, 0, 0, db::ftTime, 0, {}},               {zftDateTime, 0, 0, db::ftDateTime, 0, {}},
      {zftInterval, 0, 0, db::ftDateTime, 0, {}},       {zftBlob, 0, 0, db::ftBlob, 0, {}},
      {zftBlobMemo, 0, 0, db::ftMemo, 0, {}},           {zftBlobGraphic, 0, 0, db::ftGraphic, 0, {}},
      {zftByteArray, 12, 0, db::ftBytes, 12, {}},       {zftShortString, 30, 0, db::ftString, 30, {}},
      {zftShortString, 30, 1, db::ftString, 30, {db::faFixed}},
      {zftNullString, 70000, 0, db::ftString, 65535, {}},
      {zftWideString, 9, 9, db::ftWideString, 9, {db::faFixed}},
      {zftRecRev, 0, 0, db::ftLongWord, 0, {db::faReadonly}},
      {zftGuid, 0, 0, db::ftGuid, 38, {}},              {zftBCD, 18, 2, db::ftBCD, 0, {}},
      {zftBlobWideMemo, 0, 0, db::ftWideMemo, 0, {}},   {zftFmtBCD, 10, 2, db::ftFMTBcd, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(rtl::u8(zfFieldTypeEnumName(c.Type)));
    auto m = Map(c.Type, c.Units, c.DecPl);
    db::TFieldType type = db::ftBoolean;
    uint16_t size = 7;
    TFieldAttributes attributes{db::faLink};
    TzfBaseVclFieldMapper::MapZofrinDescriptorToVcl(*m->Field, type, size, attributes);
    EXPECT_EQ(type, c.VclType);
    EXPECT_EQ(size, c.Size);
    EXPECT_EQ(attributes.Bits(), c.Attributes.Bits());
    EXPECT_TRUE(m->ToVcl.IsSet());
    EXPECT_TRUE(m->ToZofrin.IsSet());
    EXPECT_EQ(TzfBaseVclFieldMapper::MapZofrinToParamType(c.Type), c.VclType);
  }
}

TEST_F(ConversionTest, HiddenAndRequiredFields) {
  auto hidden = Map(zftInt32, 0, 0, [](TMapped& m) {
    m.Field->fdNoClientAccess = true;
    m.Field->fdRequired = true;
  });
  EXPECT_FALSE(hidden->ToVcl.IsSet());
  EXPECT_FALSE(hidden->ToZofrin.IsSet());
  EXPECT_EQ(hidden->Mapper, nullptr);
  db::TFieldType type;
  uint16_t size;
  db::TFieldAttributes attributes;
  TzfBaseVclFieldMapper::MapZofrinDescriptorToVcl(*hidden->Field, type, size, attributes);
  EXPECT_EQ(attributes.Bits(), (db::TFieldAttributes{db::faHiddenCol, db::faReadonly, db::faRequired}.Bits()));
  EXPECT_EQ(type, db::ftInteger);
}

// ---- fixed-size values ---------------------------------------------------------------------------

TEST_F(ConversionTest, FixedSizeValuesBothWays) {
  const struct {
    const char* Name;
    TzfFieldType Type;
    Bytes Stored;  // engine form (little-endian)
    Bytes Vcl;     // framework form (host order)
    bool Back;     // the framework form writes the same stored bytes back
  } cases[] = {
      {"Boolean true", zftBoolean, {0x01}, Host<uint16_t>(0xFFFF), false},
      {"Boolean false", zftBoolean, {0x00}, Host<uint16_t>(0), true},
      {"Boolean any byte", zftBoolean, {0x80}, Host<uint16_t>(0xFFFF), false},
      {"Char", zftChar, {'Q'}, {'Q', 0}, true},
      {"WideChar", zftWideChar, {0x41, 0x04}, Host<uint32_t>(0x0441), true},
      {"Byte", zftByte, {0xFE}, {0xFE}, true},
      {"Word16", zftWord16, {0x34, 0x12}, Host<uint16_t>(0x1234), true},
      {"Word32", zftWord32, {0x78, 0x56, 0x34, 0x12}, Host<uint32_t>(0x12345678), true},
      {"Int8", zftInt8, {0x9C}, Host<int8_t>(-100), true},
      {"Int16", zftInt16, {0x18, 0xFC}, Host<int16_t>(-1000), true},
      {"Int32", zftInt32, {0xFF, 0xFF, 0xFF, 0x7F}, Host<int32_t>(INT32_MAX), true},
      {"Int64", zftInt64, {1, 0, 0, 0, 0, 0, 0, 0x80}, Host<int64_t>(INT64_MIN + 1), true},
      {"AutoInc", zftAutoInc, {7, 0, 0, 0}, Host<int32_t>(7), true},
      {"Single", zftSingle, {0x00, 0x00, 0xC0, 0x3F}, Host<double>(1.5), true},
      {"Double", zftDouble, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}, Host<double>(1.5), true},
      {"Extended", zftExtended, {1, 2, 3, 4, 5, 6, 7, 8, 0xFF, 0x3F}, {1, 2, 3, 4, 5, 6, 7, 8, 0xFF, 0x3F}, true},
      {"Currency", zftCurrency, {0x40, 0xE2, 0x01, 0, 0, 0, 0, 0}, Host<double>(12.3456), true},
      {"Currency small", zftCurrency, {5, 0, 0, 0, 0, 0, 0, 0}, Host<double>(0.0005), true},
      {"Currency negative", zftCurrency, {0xF6, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, Host<double>(-0.001), true},
      {"Date", zftDate, {0x10, 0x27, 0, 0}, Host<int32_t>(10000), true},
      {"Time", zftTime, {0x80, 0xEE, 0x36, 0}, Host<int32_t>(3600000), true},
      {"DateTime", zftDateTime, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}, Host<double>(1.0), true},
      {"Interval", zftInterval, {0, 0, 0, 0, 0, 0, 0, 0x40}, Host<double>(2.0), true},
      {"Blob", zftBlob, {9, 8, 7, 6, 5, 4, 3, 2}, Host<int64_t>(0x0203040506070809), true},
      {"Memo", zftBlobMemo, {1, 0, 0, 0, 0, 0, 0, 0}, Host<int64_t>(1), true},
      {"Graphic", zftBlobGraphic, {2, 0, 0, 0, 0, 0, 0, 0}, Host<int64_t>(2), true},
      {"WideMemo", zftBlobWideMemo, {3, 0, 0, 0, 0, 0, 0, 0}, Host<int64_t>(3), true},
      {"RecRev", zftRecRev, {0x2A, 0, 0, 0}, Host<uint32_t>(42), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto m = Map(c.Type);
    EXPECT_EQ(m->Mapper, nullptr);  // class-level methods
    EXPECT_EQ(m->Read(c.Stored, c.Vcl.size()), c.Vcl);
    if (c.Back) {
      EXPECT_EQ(m->Write(c.Vcl), c.Stored);
    }
  }
  // Written from the framework: any non-zero Boolean is $FF; a double goes to the nearest single.
  EXPECT_EQ(Map(zftBoolean)->Write(Host<uint16_t>(2)), Bytes{0xFF});
  EXPECT_EQ(Map(zftSingle)->Write(Host<double>(0.1)), Host<float>(0.1f));
}

TEST_F(ConversionTest, RefusedWrites) {
  auto recRev = Map(zftRecRev);
  EXPECT_EQ(Outcome([&] { recRev->Write(Host<uint32_t>(1)); }),
            u"!EzfDatabaseError #10502: RecRev fields are read-only");
  // An amount outside the Currency range, or no number, is refused and nothing is stored.
  auto currency = Map(zftCurrency);
  for (double bad : {1e300, -1e19, std::numeric_limits<double>::quiet_NaN()}) {
    Bytes stored(8, 0xCC);
    const Bytes vcl = Host(bad);
    EXPECT_EQ(Outcome([&] { currency->ToZofrin(vcl.data(), stored.data()); }),
              u"!EzfDatabaseError #9985: Number is out of range.");
    EXPECT_EQ(stored, Bytes(8, 0xCC));
  }
}

TEST_F(ConversionTest, GuidAsText) {
  auto m = Map(zftGuid);
  const Bytes stored{0x78, 0x56, 0x34, 0x12, 0x34, 0x12, 0x78, 0x56, 0x9A, 0xBC, 0xDE, 0xF0, 0x01, 0x23, 0x45, 0x67};
  const std::string text = "{12345678-1234-5678-9ABC-DEF001234567}";
  EXPECT_EQ(AsText(m->Read(stored, 39)), text);
  EXPECT_EQ(m->Write(VclText("{12345678-1234-5678-9abc-def001234567}", 38)), stored);
  EXPECT_EQ(Outcome([&] { m->Write(VclText("{not a guid}", 38)); }), u"!EConvertError");
}

// ---- BCD -----------------------------------------------------------------------------------------

TEST_F(ConversionTest, BcdPrecisionAndNormalisation) {
  const struct {
    int32_t Units, DecPl;
    int32_t Precision, Decimals;
    bool Normalize;
  } cases[] = {{0, 2, 18, 2, true}, {0, 0, 20, 4, false}, {0, 7, 20, 4, false}, {0, 4, 20, 4, false},
               {10, 2, 10, 2, true}, {20, 4, 20, 4, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Units << "," << c.DecPl);
    auto m = Map(zftBCD, 18, 2, [&](TMapped& t) {
      t.Field->fdUnits = c.Units;  // as stored, whatever field setup would make of it
      t.Field->fdDecPl = c.DecPl;
    });
    auto* bcd = dynamic_cast<TzfBcdVclFieldMapper*>(m->Mapper.get());
    ASSERT_NE(bcd, nullptr);
    EXPECT_EQ(bcd->bcdfmPrecision, c.Precision);
    EXPECT_EQ(bcd->bcdfmDecimals, c.Decimals);
    EXPECT_EQ(bcd->bcdfmNeedNormalize, c.Normalize);
  }
}

TEST_F(ConversionTest, BcdValues) {
  auto two = Map(zftBCD, 6, 2);  // 4 integer digits, 2 decimals
  EXPECT_EQ(zfBcdToStr(AsBcd(two->Read({0x40, 0xE2, 0x01, 0, 0, 0, 0, 0}, 34))), u"12.3456");
  EXPECT_EQ(AsBcd(two->Read({0x40, 0xE2, 0x01, 0, 0, 0, 0, 0}, 34)).Precision, 32);
  // Surplus decimals are cut, not rounded.
  EXPECT_EQ(two->Write(BcdBytes(u"1.239")), Host<int64_t>(12300));
  EXPECT_EQ(two->Write(BcdBytes(u"-9999.99")), Host<int64_t>(-99999900));
  EXPECT_EQ(Outcome([&] { two->Write(BcdBytes(u"10000")); }), u"!EzfBcdOverflow #9985");
  // Without normalisation the value goes to Currency rounded to 4 decimals.
  auto plain = Map(zftBCD, 20, 4);
  EXPECT_EQ(plain->Write(BcdBytes(u"0.00005")), Host<int64_t>(0));
  EXPECT_EQ(plain->Write(BcdBytes(u"-12.3456")), Host<int64_t>(-123456));
  EXPECT_EQ(Outcome([&] { plain->Write(BcdBytes(u"99999999999999999999")); }), u"!EzfBcdOverflow #9985");
}

TEST_F(ConversionTest, FmtBcdValues) {
  auto m = Map(zftFmtBCD, 10, 2);
  ASSERT_EQ(m->Field->fdLength, 7);
  // Precision 10, places 2, then the digits 00 00 01 23 45 (value 123.45).
  const Bytes stored{10, 2, 0x00, 0x00, 0x01, 0x23, 0x45};
  const Bytes vcl = m->Read(stored, 34);
  EXPECT_EQ(zfBcdToStr(AsBcd(vcl)), u"123.45");
  EXPECT_EQ(Bytes(vcl.begin() + 7, vcl.end()), Bytes(27, 0));
  EXPECT_EQ(m->Write(vcl), stored);
  EXPECT_EQ(m->Write(BcdBytes(u"123.459")), stored);  // the third decimal is cut
  EXPECT_EQ(Outcome([&] { m->Write(BcdBytes(u"123456789")); }), u"!EzfBcdOverflow #9985");
}

// ---- text ----------------------------------------------------------------------------------------

TEST_F(ConversionTest, ShortAndNullStrings) {
  const struct {
    const char* Name;
    TzfFieldType Type;
    int32_t Units, DecPl;
    Bytes Stored;
    std::string Shown;
  } reads[] = {
      {"short", zftShortString, 5, 0, {3, 'a', 'b', 'c'}, "abc"},
      {"short empty", zftShortString, 5, 0, {0}, ""},
      {"short keeps blanks", zftShortString, 5, 0, {4, 'a', ' ', 'b', ' '}, "a b "},
      {"short damaged length", zftShortString, 5, 0, {200, 'a', 'b', 'c', 'd', 'e'}, "abcde"},
      {"short padded", zftShortString, 5, 5, {2, 'a', 'b'}, "ab   "},
      {"short padded empty", zftShortString, 4, 4, {0}, "    "},
      {"short padded damaged", zftShortString, 3, 3, {255, 'x', 'y', 'z'}, "xyz"},
      {"null", zftNullString, 5, 0, {'a', 'b', 'c', 0}, "abc"},
      {"null without terminator", zftNullString, 4, 0, {'w', 'x', 'y', 'z', 'q'}, "wxyz"},
      {"null padded", zftNullString, 5, 5, {'a', 'b', 'c', 0}, "abc  "},
      {"null padded without terminator", zftNullString, 3, 3, {'a', 'b', 'c', 'd'}, "abc"},
  };
  for (const auto& c : reads) {
    SCOPED_TRACE(c.Name);
    auto m = Map(c.Type, c.Units, c.DecPl);
    EXPECT_EQ(AsText(m->Read(c.Stored, static_cast<size_t>(c.Units) + 1)), c.Shown);
  }
  const struct {
    const char* Name;
    TzfFieldType Type;
    int32_t Units, DecPl;
    std::string Vcl;
    Bytes Stored;  // the leading bytes written
  } writes[] = {
      {"short", zftShortString, 5, 0, "abc", {3, 'a', 'b', 'c'}},
      {"short keeps blanks", zftShortString, 5, 0, "ab  ", {4, 'a', 'b', ' ', ' '}},
      {"short padded drops blanks", zftShortString, 5, 5, "ab   ", {2, 'a', 'b'}},
      {"short padded blanks only", zftShortString, 5, 5, "     ", {0}},
      {"null", zftNullString, 5, 0, "abcde", {'a', 'b', 'c', 'd', 'e', 0}},
      {"null padded drops blanks", zftNullString, 5, 5, "abc  ", {'a', 'b', 'c', 0}},
      {"null empty", zftNullString, 5, 0, "", {0}},
  };
  for (const auto& c : writes) {
    SCOPED_TRACE(c.Name);
    auto m = Map(c.Type, c.Units, c.DecPl);
    const Bytes stored = m->Write(VclText(c.Vcl, static_cast<size_t>(c.Units)));
    EXPECT_EQ(Bytes(stored.begin(), stored.begin() + static_cast<long>(c.Stored.size())), c.Stored);
  }
  // Decimals damaged beyond the units pad no further than the units (the framework buffer holds
  // units characters and the terminator).
  for (TzfFieldType type : {zftShortString, zftNullString}) {
    auto damaged = Map(type, 3, 0, [](TMapped& t) { t.Field->fdDecPl = 100; });
    EXPECT_EQ(AsText(damaged->Read(type == zftShortString ? Bytes{1, 'a'} : Bytes{'a', 0}, 4)), "a  ");
  }
  auto wide = Map(zftWideString, 2, 0, [](TMapped& t) { t.Field->fdDecPl = 9; });
  EXPECT_EQ(AsWide(wide->Read({'a', 0, 0, 0}, 6)), u"a ");
  // A framework buffer without a terminator is read no further than the units.
  auto m = Map(zftNullString, 3);
  Bytes full{'a', 'b', 'c', 'd'};
  EXPECT_EQ(m->Write(full), (Bytes{'a', 'b', 'c', 0}));
}

TEST_F(ConversionTest, WideStrings) {
  const Bytes abc{'a', 0, 'b', 0, 'c', 0, 0, 0};
  EXPECT_EQ(AsWide(Map(zftWideString, 5)->Read(abc, 12)), u"abc");
  EXPECT_EQ(AsWide(Map(zftWideString, 5, 5)->Read(abc, 12)), u"abc  ");
  // No terminator: the units bound the read.
  EXPECT_EQ(AsWide(Map(zftWideString, 2)->Read({'x', 0, 'y', 0, 'z', 0}, 6)), u"xy");
  EXPECT_EQ(AsWide(Map(zftWideString, 2, 2)->Read({'x', 0, 'y', 0, 'z', 0}, 6)), u"xy");
  EXPECT_EQ(Map(zftWideString, 5)->Write(VclWide(u"ab  ", 5)),
            (Bytes{'a', 0, 'b', 0, ' ', 0, ' ', 0, 0, 0, 0xCC, 0xCC}));
  EXPECT_EQ(Map(zftWideString, 5, 5)->Write(VclWide(u"ab  ", 5)),
            (Bytes{'a', 0, 'b', 0, 0, 0, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}));
  EXPECT_EQ(Map(zftWideString, 2)->Write(VclWide(u"\u0441\u0442", 2)), (Bytes{0x41, 0x04, 0x42, 0x04, 0, 0}));
}

TEST_F(ConversionTest, ByteArrays) {
  auto m = Map(zftByteArray, 4);
  EXPECT_EQ(m->Read({1, 2, 3, 4}, 4), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(m->Write({9, 8, 7, 6}), (Bytes{9, 8, 7, 6}));
}

// A German table whose text is stored in code page 850, shown in windows-1252.
std::unique_ptr<TMapped> Translated(TzfFieldType aType, int32_t aUnits, int32_t aDecPl, uint16_t aStorageCodePage,
                                    db::TStringField* aField) {
  auto m = Map(aType, aUnits, aDecPl, [&](TMapped& t) {
    TzfLocaleDescriptor* locale = t.Dict->AddLocaleDescriptor(nullptr);
    locale->SetLocale(0x0407);
    locale->ldOverrideStorageCodepage = aStorageCodePage;
  });
  m->Mapper->Bind(aField);
  return m;
}

TEST_F(ConversionTest, CodePageTranslation) {
  db::TStringField field;
  // é is $82 in code page 850 and $E9 in windows-1252.
  const struct {
    const char* Name;
    TzfFieldType Type;
    int32_t Units, DecPl;
    Bytes Stored;
    std::string Shown;
    Bytes Back;  // what the shown text writes
  } cases[] = {
      {"short", zftShortString, 5, 0, {2, 'a', 0x82}, "a\xE9", {2, 'a', 0x82}},
      {"short empty", zftShortString, 5, 0, {0}, "", {0}},
      {"short damaged length", zftShortString, 3, 0, {250, 0x82, 0x82, 0x82}, "\xE9\xE9\xE9", {3, 0x82, 0x82, 0x82}},
      {"short padded", zftShortString, 4, 4, {1, 0x82}, "\xE9   ", {1, 0x82}},
      {"null", zftNullString, 5, 0, {0x82, 'b', 0}, "\xE9" "b", {0x82, 'b', 0}},
      {"null without terminator", zftNullString, 2, 0, {0x82, 0x82, 0x82}, "\xE9\xE9", {0x82, 0x82, 0}},
      {"null padded", zftNullString, 4, 4, {0x82, 0}, "\xE9   ", {0x82, 0}},
      {"null padded empty", zftNullString, 3, 3, {0}, "   ", {0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto m = Translated(c.Type, c.Units, c.DecPl, 850, &field);
    auto* mapper = dynamic_cast<TzfBaseStringVclFieldMapper*>(m->Mapper.get());
    ASSERT_NE(mapper, nullptr);
    EXPECT_EQ(mapper->bsvfmStorageCodepage, 850);
    const Bytes shown = m->Read(c.Stored, static_cast<size_t>(c.Units) + 1);
    EXPECT_EQ(AsText(shown), c.Shown);
    const Bytes back = m->Write(shown);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + static_cast<long>(c.Back.size())), c.Back);
  }
  // Without Transliterate, and without a bound string field, the bytes pass as they are.
  field.SetTransliterate(false);
  EXPECT_EQ(AsText(Translated(zftShortString, 5, 0, 850, &field)->Read({1, 0x82}, 6)), "\x82");
  EXPECT_EQ(AsText(Translated(zftNullString, 5, 5, 850, nullptr)->Read({0x82, 0}, 6)), "\x82    ");
}

TEST_F(ConversionTest, TranslatedTextThatDoesNotFit) {
  db::TStringField field;
  field.SetFieldName(u"Name");
  // Three characters of windows-1252 need six bytes in UTF-8.
  auto utf8 = Translated(zftShortString, 3, 0, 65001, &field);
  EXPECT_EQ(Outcome([&] { utf8->Write(VclText("\xE9\xE9\xE9", 3)); }),
            u"!EzfDatabaseError #0: Insufficient field size after translation into storage codepage");
  auto padded = Translated(zftNullString, 3, 3, 65001, &field);
  EXPECT_EQ(Outcome([&] { padded->Write(VclText("\xE9\xE9 ", 3)); }),
            u"!EzfDatabaseError #0: Insufficient field size after translation into storage codepage");
  EXPECT_EQ(padded->Write(VclText("\xE9  ", 3)), (Bytes{0xC3, 0xA9, 0, 0xCC}));
  // Without a storage code page the same text is simply held in the units.
  EXPECT_EQ(Map(zftShortString, 3)->Write(VclText("\xE9\xE9\xE9", 3)), (Bytes{3, 0xE9, 0xE9, 0xE9}));
}

// ---- field definitions and parameters ------------------------------------------------------------

TEST_F(ConversionTest, EngineFieldsFromFieldDefinitions) {
  TzfDataDictionary dict;
  TzfFieldsDescriptor& fields = *dict.tdFieldsDescriptor;
  db::TFieldDefs defs(nullptr);
  const struct {
    const char16_t* Name;
    db::TFieldType Type;
    int32_t Size, Precision;
    db::TFieldAttributes Attributes;
    bool Made;
    TzfFieldType ZofrinType;
    int32_t Units, DecPl;
    bool Required;
  } cases[] = {
      {u"Fixed", db::ftFixedChar, 5, 0, {}, true, zftNullString, 5, 5, false},
      {u"Varying", db::ftString, 5, 0, {}, true, zftNullString, 5, 0, false},
      {u"FixedWide", db::ftWideString, 8, 0, {db::faFixed}, true, zftWideString, 8, 8, false},
      {u"Required", db::ftInteger, 0, 0, {db::faRequired}, true, zftInt32, 10, 0, true},
      {u"Bytes", db::ftBytes, 16, 0, {}, true, zftByteArray, 16, 0, false},
      {u"Money", db::ftCurrency, 0, 0, {}, true, zftCurrency, 16, 0, false},
      {u"Ole", db::ftParadoxOle, 0, 0, {}, true, zftBlob, 0, 0, false},
      {u"Dec", db::ftFMTBcd, 12, 3, {}, true, zftFmtBCD, 12, 3, false},
      {u"VarBytes", db::ftVarBytes, 10, 0, {}, false, zftBoolean, 0, 0, false},
      {u"Single", db::ftSingle, 0, 0, {}, false, zftBoolean, 0, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(rtl::u8(c.Name));
    db::TFieldDef& def = defs.AddFieldDef();
    def.SetName(c.Name);
    def.SetDataType(c.Type);
    def.SetSize(c.Size);
    def.SetPrecision(c.Precision);
    def.SetAttributes(c.Attributes);
    TzfFieldDescriptor* field = TzfBaseVclFieldMapper::AddDescriptorForFieldDef(fields, def);
    if (!c.Made) {
      EXPECT_EQ(field, nullptr);
      continue;
    }
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->fdName, c.Name);
    EXPECT_EQ(field->fdType, c.ZofrinType);
    EXPECT_EQ(field->fdUnits, c.Units);
    EXPECT_EQ(field->fdDecPl, c.DecPl);
    EXPECT_EQ(field->fdRequired, c.Required);
  }
  EXPECT_EQ(fields.GetFieldCount(), 8);

  // The fixed-width definition reads back padded and writes without its trailing blanks.
  TzfFieldDescriptor* fixed = fields.Field(0);
  TzfVclMapperMethod toVcl, toZofrin;
  auto mapper = TzfBaseVclFieldMapper::GetMapperForDescriptor(*fixed, toVcl, toZofrin);
  Bytes stored{'a', 'b', 'c', 0, 0, 0};
  Bytes vcl(6, 0xCC);
  toVcl(stored.data(), vcl.data());
  EXPECT_EQ(AsText(vcl), "abc  ");
  Bytes written(6, 0xCC);
  const Bytes typed = VclText("abc  ", 5);
  toZofrin(typed.data(), written.data());
  EXPECT_EQ(written, (Bytes{'a', 'b', 'c', 0, 0xCC, 0xCC}));
}

TEST_F(ConversionTest, ParameterTypes) {
  const struct {
    db::TFieldType Type;
    int32_t Size;
    TzfFieldType ZofrinType;
    int32_t ZofrinSize;
  } cases[] = {
      {db::ftString, 21, zftNullString, 21}, {db::ftWideString, 42, zftWideString, 42},
      {db::ftBytes, 5, zftByteArray, 5},     {db::ftInteger, 0, zftInt32, 4},
      {db::ftFMTBcd, 0, zftFmtBCD, 3},       {db::ftGuid, 38, zftGuid, 16},
      {db::ftVarBytes, 10, zftTime, 0},      {db::ftUnknown, 4, zftTime, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.Type));
    TzfFieldType type = zftTime;
    int32_t size = -5;
    TzfBaseVclFieldMapper::MapParamTypeAndSizeToZofrin(c.Type, c.Size, type, size);
    EXPECT_EQ(type, c.ZofrinType);
    EXPECT_EQ(size, c.ZofrinSize);
  }
  EXPECT_EQ(TzfBaseVclFieldMapper::MapZofrinToParamType(static_cast<TzfFieldType>(31)), db::ftUnknown);
}

}  // namespace
}  // namespace zf
