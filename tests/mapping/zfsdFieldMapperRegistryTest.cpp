// The field mapper matrix: the diagonal offered today, the order of trial within a cell, the
// lookup by names, and the BLOB plain copy through the cursors.
#include <gtest/gtest.h>

#include "dictionary/zfsdTypes.h"
#include "mapping/zfsdFieldMapper.h"
#include "mapping/zfsdFieldMapperDescriptor.h"
#include "platform/rtl/rtlAnsiString.h"
#include "tests/mapping/zfsrMappingTestUtil.h"

namespace zf::test {
namespace {

using rtl::UnicodeString;

class FieldMapperRegistryTest : public MappingStarted {};

// Units that make a valid field of each type.
int32_t UnitsFor(TzfFieldType aType) {
  switch (aType) {
    case zftByteArray: case zftShortString: case zftNullString: case zftWideString: return 8;
    case zftFmtBCD: return 10;
    default: return 0;
  }
}

TEST_F(FieldMapperRegistryTest, EveryTypeButIntervalMapsOntoItselfByteForByte) {
  for (int t = 0; t < zfFieldTypeCount; ++t) {
    const auto type = static_cast<TzfFieldType>(t);
    SCOPED_TRACE(::testing::Message() << "type " << t);
    TTestCursor source, target;
    TzfFieldDescriptor* s = source.Add(u"F", type, UnitsFor(type), type == zftFmtBCD ? 2 : 0);
    TzfFieldDescriptor* d = target.Add(u"F", type, UnitsFor(type), type == zftFmtBCD ? 2 : 0);
    TzfMappingMethod method;
    auto mapper = TzfBaseFieldMapper::CreateMapper(*s, &source, *d, &target, nullptr, method);
    if (type == zftInterval) {
      EXPECT_FALSE(method.IsSet());
      EXPECT_EQ(mapper, nullptr);
      continue;
    }
    ASSERT_TRUE(method.IsSet());
    // The Boolean, integer, floating-point, money, date and GUID mappers answer a class-level
    // method, the others an instance.
    EXPECT_EQ(mapper == nullptr, type == zftBoolean || (type >= zftByte && type <= zftCurrency) ||
                                     type == zftRecRev || type == zftDate || type == zftDateTime || type == zftGuid);
    if (zfIsBlobType(type)) continue;  // copied through the cursors, below
    if (type == zftShortString || type == zftNullString || type == zftWideString) continue;  // string mapper tests
    std::vector<uint8_t> from(static_cast<size_t>(s->fdLength)), to(from.size(), 0);
    for (size_t i = 0; i < from.size(); ++i) from[i] = static_cast<uint8_t>(0xA0 + i);
    if (type == zftShortString) from[0] = 3;
    if (type == zftBCD) zfStoreLE<int64_t>(from.data(), 1230000);  // a value of 16 digits, no decimals
    EXPECT_EQ(method(from.data(), to.data()), 0u);
    EXPECT_EQ(to, from);
  }
}

// Pairs the matrix has no mapper for have no method.
TEST_F(FieldMapperRegistryTest, PairsThatNeedAConversionHaveNoMethodYet) {
  struct Case {
    TzfFieldType SourceType;
    int32_t SourceUnits;
    TzfFieldType TargetType;
    int32_t TargetUnits;
  };
  const Case cases[] = {
      {zftDate, 0, zftInt32, 0},              {zftInterval, 0, zftInterval, 0},
      {zftShortString, 10, zftFmtBCD, 10},    {zftFmtBCD, 10, zftCurrency, 0},
  };
  for (const Case& c : cases) {
    TTestCursor source, target;
    TzfFieldDescriptor* s = source.Add(u"F", c.SourceType, c.SourceUnits);
    TzfFieldDescriptor* d = target.Add(u"F", c.TargetType, c.TargetUnits);
    TzfFieldMapperDescriptor bestFit(u"F", u"F", dlaBestFit);
    for (const TzfFieldMapperDescriptor* desc : {static_cast<const TzfFieldMapperDescriptor*>(nullptr),
                                                 static_cast<const TzfFieldMapperDescriptor*>(&bestFit)}) {
      TzfMappingMethod method;
      EXPECT_EQ(TzfBaseFieldMapper::CreateMapper(*s, &source, *d, &target, desc, method), nullptr);
      EXPECT_FALSE(method.IsSet()) << static_cast<int>(c.SourceType) << " -> " << static_cast<int>(c.TargetType);
    }
  }
}

// Two test classes in a cell no real mapper uses: the later one is tried first, the earlier one
// only when the later one sets no method; an instance made by a class that set no method is freed.
struct TTrial {
  static inline std::vector<char> Order;
  static inline bool LaterSets = false;
};

class TTrialMapper : public TzfBaseFieldMapper {
 public:
  uint32_t Answer(const uint8_t*, uint8_t* aTarget) {
    aTarget[0] = 7;
    return 0;
  }
};

std::unique_ptr<TzfBaseFieldMapper> TryEarlier(const TzfFieldMapperClass&, TzfFieldDescriptor&, IzfMapperCursor*,
                                               TzfFieldDescriptor&, IzfMapperCursor*, const TzfFieldMapperDescriptor*,
                                               TzfMappingMethod& aMapper) {
  TTrial::Order.push_back('E');
  auto m = std::make_unique<TTrialMapper>();
  aMapper = zfMapperMethod<&TTrialMapper::Answer>(m.get());
  return m;
}

std::unique_ptr<TzfBaseFieldMapper> TryLater(const TzfFieldMapperClass&, TzfFieldDescriptor&, IzfMapperCursor*,
                                             TzfFieldDescriptor&, IzfMapperCursor*, const TzfFieldMapperDescriptor*,
                                             TzfMappingMethod& aMapper) {
  TTrial::Order.push_back('L');
  aMapper.Clear();
  auto m = std::make_unique<TTrialMapper>();
  if (TTrial::LaterSets) aMapper = zfMapperMethod<&TTrialMapper::Answer>(m.get());
  return m;
}

const TzfFieldMapperClass kEarlier{u"TEarlier", &TryEarlier};
const TzfFieldMapperClass kLater{u"TLater", &TryLater};

TEST_F(FieldMapperRegistryTest, TheLastRegisteredClassOfACellIsTriedFirst) {
  zfRegisterFieldMapper(kEarlier, zftGuid, zftInterval);
  zfRegisterFieldMapper(kLater, zftGuid, zftInterval);
  EXPECT_EQ(zfFieldMapperCell(zftGuid, zftInterval).size(), 2u);
  TTestCursor source, target;
  TzfFieldDescriptor* s = source.Add(u"G", zftGuid);
  TzfFieldDescriptor* d = target.Add(u"I", zftInterval);
  uint8_t value[16] = {}, out[16] = {};

  TTrial::LaterSets = false;
  TTrial::Order.clear();
  TzfMappingMethod method;
  auto m = TzfBaseFieldMapper::CreateMapper(*s, &source, *d, &target, nullptr, method);
  EXPECT_EQ(TTrial::Order, (std::vector<char>{'L', 'E'}));
  ASSERT_TRUE(method.IsSet());
  EXPECT_EQ(method.Data, m.get());
  EXPECT_EQ(method(value, out), 0u);
  EXPECT_EQ(out[0], 7);

  TTrial::LaterSets = true;
  TTrial::Order.clear();
  m = TzfBaseFieldMapper::CreateMapper(*s, &source, *d, &target, nullptr, method);
  EXPECT_EQ(TTrial::Order, (std::vector<char>{'L'}));
  EXPECT_EQ(method.Data, m.get());
}

TEST_F(FieldMapperRegistryTest, TheOverloadLooksUpTheSourceNameFirst) {
  TTestCursor source, target;
  source.Add(u"A", zftInt32);
  target.Add(u"B", zftInt32);
  TzfMappingMethod method;
  TzfFieldMapperDescriptor missingSource(u"Nope", u"B", dlaFail);
  EXPECT_EQ(Outcome([&] { TzfBaseFieldMapper::CreateMapper(source, target, missingSource, method); }),
            u"!EzfBaseFieldMapperException #10038: Invalid field name.");
  EXPECT_EQ(target.TableLookups, 0);
  TzfFieldMapperDescriptor missingTarget(u"a", u"Nope", dlaFail);
  EXPECT_EQ(Outcome([&] { TzfBaseFieldMapper::CreateMapper(source, target, missingTarget, method); }),
            u"!EzfBaseFieldMapperException #10038: Invalid field name.");
  TzfFieldMapperDescriptor ok(u"a", u"b", dlaFail);
  auto m = TzfBaseFieldMapper::CreateMapper(source, target, ok, method);
  EXPECT_TRUE(method.IsSet());
}

TEST_F(FieldMapperRegistryTest, BlobsAreCopiedThroughTheTargetCursor) {
  TTestCursor source, target;
  TzfFieldDescriptor* s = source.Add(u"Pad", zftInt32);
  s = source.Add(u"B", zftBlob);
  TzfFieldDescriptor* d = target.Add(u"B", zftBlob);
  TzfMappingMethod method;
  // Without cursors a BLOB cannot be copied.
  EXPECT_EQ(TzfBaseFieldMapper::CreateMapper(*s, nullptr, *d, nullptr, nullptr, method), nullptr);
  EXPECT_FALSE(method.IsSet());

  uint8_t blob[8], out[8];
  zfStoreLE<int64_t>(blob, 0x123456789);
  auto m = TzfBaseFieldMapper::CreateMapper(*s, &source, *d, &target, nullptr, method);
  ASSERT_TRUE(method.IsSet());
  EXPECT_EQ(method(blob, out), 0u);
  EXPECT_EQ(zfLoadLE<int64_t>(out), 1000);
  ASSERT_EQ(target.BlobCopies.size(), 1u);
  EXPECT_EQ(target.BlobCopies[0].Source, &source);
  EXPECT_EQ(target.BlobCopies[0].SourceField, 1);
  EXPECT_EQ(target.BlobCopies[0].Blob, 0x123456789);
  EXPECT_EQ(target.BlobCopies[0].TargetField, 0);
  EXPECT_EQ(target.BlobCopies[0].MaxLength, 0xFFFFFFFFu);

  // A failing copy answers the cursor's code and leaves the target number 0.
  target.BlobCopyError = 9218;
  EXPECT_EQ(method(blob, out), 9218u);
  EXPECT_EQ(zfLoadLE<int64_t>(out), 0);

  // BLOB number 0 has no value: 10002, or 1 (store NULL) under best fit.
  zfStoreLE<int64_t>(blob, 0);
  EXPECT_EQ(method(blob, out), zfErrInvalidFieldXForm);
  TzfFieldMapperDescriptor bestFit(u"B", u"B", dlaBestFit);
  m = TzfBaseFieldMapper::CreateMapper(*s, &source, *d, &target, &bestFit, method);
  EXPECT_EQ(method(blob, out), 1u);
}

TEST_F(FieldMapperRegistryTest, MemoBlobsWithoutCodePagesCopyPlainly) {
  TTestCursor source, target;
  TzfFieldDescriptor* s = source.Add(u"M", zftBlobMemo);
  TzfFieldDescriptor* d = target.Add(u"M", zftBlobMemo);
  TzfMappingMethod method;
  auto m = TzfBaseFieldMapper::CreateMapper(*s, &source, *d, &target, nullptr, method);
  EXPECT_TRUE(method.IsSet());  // neither field has a code page
}

// The same-layout copy takes 8-bit text as it is only where no re-encoding is needed. Code page 0
// on a text field is the process's ANSI code page (windows-1252 here, then windows-1251).
TEST_F(FieldMapperRegistryTest, CodePagesDecideWhetherEightBitTextCopies) {
  struct Case {
    uint16_t SystemCodePage;
    TzfFieldType Type;
    uint16_t SourceCodePage, TargetCodePage;
    bool Offered;
  };
  const Case cases[] = {
      {1252, zftShortString, 1252, 1252, true}, {1252, zftShortString, 1252, 0, true},
      {1252, zftShortString, 1252, 1251, false}, {1252, zftShortString, 0, 0, true},
      {1252, zftShortString, 1251, 0, false},    {1252, zftNullString, 0, 1251, false},
      {1252, zftNullString, 1250, 1251, false},  {1252, zftChar, 1252, 1251, false},
      {1252, zftChar, 0, 1250, false},           {1252, zftWideString, 1252, 1251, true},
      {1251, zftNullString, 0, 1251, true},      {1251, zftShortString, 1252, 0, false},
  };
  struct TRestore {
    uint16_t CodePage = rtl::SystemAnsiCodePage();
    ~TRestore() { rtl::SetSystemAnsiCodePage(CodePage); }
  } restore;
  for (const Case& c : cases) {
    rtl::SetSystemAnsiCodePage(c.SystemCodePage);
    TTestCursor source, target;
    TzfFieldDescriptor* s = source.Add(u"F", c.Type, UnitsFor(c.Type));
    TzfFieldDescriptor* d = target.Add(u"F", c.Type, UnitsFor(c.Type));
    for (auto [field, cp] : {std::pair{s, c.SourceCodePage}, std::pair{d, c.TargetCodePage}})
      if (cp) field->AddLocaleDescriptor(nullptr)->ldOverrideStorageCodepage = cp;
    ASSERT_EQ(s->GetStorageCodePage(), c.SourceCodePage);
    TzfMappingMethod method;
    const TzfFieldMapperClass& sameLayout = TzfSameLayoutMapper::ClassInfo();
    auto m = sameLayout.TryCreateMapper(sameLayout, *s, &source, *d, &target, nullptr, method);
    EXPECT_EQ(method.IsSet(), c.Offered) << static_cast<int>(c.Type) << " " << c.SourceCodePage << " -> "
                                         << c.TargetCodePage << " (system " << c.SystemCodePage << ")";
  }
}

}  // namespace
}  // namespace zf::test
