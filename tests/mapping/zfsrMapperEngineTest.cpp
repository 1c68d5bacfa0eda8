// Record, field and auto-increment mapper engines: records carried between layouts, defaults,
// NULLs, data-loss actions, the error context of a failing field and auto-increment numbering.
#include <gtest/gtest.h>

#include <algorithm>

#include "dictionary/zfsdDefaultValueDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "mapping/zfsdTableMapperDescriptor.h"
#include "mapping/zfsrFieldMapperEngine.h"
#include "mapping/zfsrFieldMapperEngineAutoInc.h"
#include "mapping/zfsrRecordMapperEngine.h"
#include "tests/mapping/zfsrMappingTestUtil.h"

namespace zf::test {
namespace {

using rtl::UnicodeString;
using rtl::Variant;

// A checking Int32 -> Int16 mapper (clamping under best fit), and a ShortString -> Int16 mapper
// that never fits: the failures the engines must handle.
class TNarrowMapper : public TzfBaseFieldMapper {
 public:
  uint32_t Check(const uint8_t* aSource, uint8_t* aTarget) {
    const int32_t v = zfLoadLE<int32_t>(aSource);
    if (v < INT16_MIN || v > INT16_MAX) return zfErrInvalidFieldXForm;
    zfStoreLE<int16_t>(aTarget, static_cast<int16_t>(v));
    return 0;
  }
  uint32_t Clamp(const uint8_t* aSource, uint8_t* aTarget) {
    zfStoreLE<int16_t>(aTarget, static_cast<int16_t>(std::clamp<int32_t>(zfLoadLE<int32_t>(aSource), INT16_MIN, INT16_MAX)));
    return 0;
  }
  uint32_t Never(const uint8_t*, uint8_t* aTarget) {
    aTarget[0] = 0x55;  // written partly before failing
    return zfErrInvalidFieldXForm;
  }
};

std::unique_ptr<TzfBaseFieldMapper> TryNarrow(const TzfFieldMapperClass&, TzfFieldDescriptor& aSource,
                                              IzfMapperCursor*, TzfFieldDescriptor&, IzfMapperCursor*,
                                              const TzfFieldMapperDescriptor* aDesc, TzfMappingMethod& aMapper) {
  auto m = std::make_unique<TNarrowMapper>();
  if (aSource.fdType == zftShortString)
    aMapper = zfMapperMethod<&TNarrowMapper::Never>(m.get());
  else if (zfIsBestFit(aDesc))
    aMapper = zfMapperMethod<&TNarrowMapper::Clamp>(m.get());
  else
    aMapper = zfMapperMethod<&TNarrowMapper::Check>(m.get());
  return m;
}

const TzfFieldMapperClass kNarrow{u"TNarrowMapper", &TryNarrow};

class MapperEngineTest : public MappingStarted {
 protected:
  static void SetUpTestSuite() {
    MappingStarted::SetUpTestSuite();
    zfRegisterFieldMapper(kNarrow, zftInt32, zftInt16);
    zfRegisterFieldMapper(kNarrow, zftShortString, zftInt16);
  }

  void TearDown() override { zfSetMapperKeyTextProc(zfIndexKeyTextProc()); }

  static void ConstDefault(TzfFieldDescriptor* aField, const Variant& aValue) {
    static_cast<TzfConstDefaultValueDescriptor*>(aField->AddDefaultValue(nullptr))->SetAsVariant(aValue);
  }

  // A record mapper engine over the mappings of aRecords.
  std::unique_ptr<TzfBaseRecordMapperEngine> Engine(TzfRecordMapperDescriptor& aRecords) {
    return TzfBaseRecordMapperEngine::CreateFor(aRecords, Source, Target);
  }

  // The thread's last converted exception.
  static std::pair<uint32_t, UnicodeString> LastConverted() {
    uint32_t code = 0;
    UnicodeString text;
    EzfBaseException::GetLastConvertedException(code, text);
    return {code, text};
  }

  TTestCursor Source{u"Src"};
  TTestCursor Target{u"Dst"};
};

TEST_F(MapperEngineTest, ARecordMapsBetweenTwoLayoutsWithDefaultsAndNulls) {
  Source.Add(u"ID", zftInt32);
  Source.Add(u"Name", zftShortString, 10);
  Source.Add(u"Qty", zftInt32);
  Source.Add(u"Gone", zftDouble);
  Target.Add(u"name", zftShortString, 10);
  ConstDefault(Target.Add(u"Extra", zftInt32), Variant(int32_t{42}));
  Target.Add(u"Bare", zftInt32);
  ConstDefault(Target.Add(u"Qty", zftInt32), Variant(int32_t{7}));
  Target.Add(u"ID", zftInt32);

  std::vector<uint8_t> src = Source.NewRecord();
  Source.Set(src, u"ID", Variant(int32_t{5}));
  Source.Set(src, u"Name", Variant(UnicodeString(u"abc")));
  Source.Set(src, u"Gone", Variant(1.5));  // Qty stays NULL

  TzfTableMapperDescriptor tables;
  tables.MapAllTablesAndFieldsByName(Source.Dict, Target.Dict, dlaFail);
  auto& records = static_cast<TzfRecordMapperDescriptor&>(*tables.RecordMapper());

  auto run = [&] {
    auto engine = Engine(records);
    std::vector<uint8_t> dst = Target.NewRecord();
    engine->BeforeFirstRecord();
    EXPECT_EQ(engine->MapRecord(src.data(), dst.data()), 0u);
    return dst;
  };

  // A NULL source leaves a mapped target NULL unless the mapping applies defaults; an unmapped
  // target gets its default, one without a default stays NULL.
  std::vector<uint8_t> dst = run();
  EXPECT_EQ(Target.Get(dst, u"ID").AsInteger(), 5);
  EXPECT_EQ(rtl::TrimRight(Target.Get(dst, u"name").AsString()), u"abc");
  EXPECT_TRUE(Target.IsNull(dst, u"Qty"));
  EXPECT_EQ(Target.Get(dst, u"Extra").AsInteger(), 42);
  EXPECT_TRUE(Target.IsNull(dst, u"Bare"));

  records.FieldMapper(records.FieldMapperIndexOf(u"Qty"))->bfcdApplyDefault = true;
  records.rmdApplyDefaultForUnmapped = false;
  dst = run();
  EXPECT_EQ(Target.Get(dst, u"Qty").AsInteger(), 7);
  EXPECT_TRUE(Target.IsNull(dst, u"Extra"));

  // A mapping without a source only applies the default.
  records.AddMapping(u"", u"Bare", dlaFail)->bfcdApplyDefault = true;
  ConstDefault(Target.Fields().Field(Target.FieldNo(u"Bare")), Variant(int32_t{-3}));
  dst = run();
  EXPECT_EQ(Target.Get(dst, u"Bare").AsInteger(), -3);
}

// Two tables with equal fields of every type that has a mapper: a record arrives byte for byte,
// with its BLOBs copied into new BLOBs of the target and its NULLs kept.
TEST_F(MapperEngineTest, ARecordMapsBetweenTablesOfEqualFields) {
  for (TTestCursor* c : {&Source, &Target})
    for (int t = 0; t < zfFieldTypeCount; ++t) {
      const auto type = static_cast<TzfFieldType>(t);
      if (type == zftInterval) continue;
      const bool sized = type == zftByteArray || type == zftShortString || type == zftNullString ||
                         type == zftWideString || type == zftFmtBCD;
      c->Add(u"F" + rtl::IntToStr(t), type, sized ? 10 : 0, type == zftFmtBCD ? 2 : 0);
    }
  TzfFieldsDescriptor& fields = Source.Fields();
  std::vector<uint8_t> src = Source.NewRecord();
  for (int32_t i = 0; i < fields.FieldCount; ++i) {
    if (i % 5 == 4) continue;  // every fifth field stays NULL
    TzfFieldDescriptor* f = fields.Field(i);
    for (int32_t b = 0; b < f->fdLength; ++b) src[static_cast<size_t>(f->fdOffset + b)] = static_cast<uint8_t>(i + b + 1);
    // A BCD field holds a whole amount of its 16 digits.
    if (f->fdType == zftBCD) zfStoreLE<int64_t>(src.data() + f->fdOffset, int64_t{i} * 10000);
    // Text fields hold a text of 5 characters that fits their units.
    uint8_t* text = src.data() + f->fdOffset;
    if (f->fdType == zftShortString) text[0] = 5;
    if (f->fdType == zftNullString) text[5] = 0;
    if (f->fdType == zftWideString) zfStoreLE<uint16_t>(text + 10, 0);
    fields.SetRecordFieldNull(i, src.data(), false);
  }

  TzfTableMapperDescriptor tables;
  tables.MapAllTablesAndFieldsByName(Source.Dict, Target.Dict, dlaFail);
  auto engine = Engine(static_cast<TzfRecordMapperDescriptor&>(*tables.RecordMapper()));
  engine->BeforeFirstRecord();
  std::vector<uint8_t> dst = Target.NewRecord();
  ASSERT_EQ(engine->MapRecord(src.data(), dst.data()), 0u) << rtl::Utf16ToUtf8(LastConverted().second);

  size_t blobs = 0;
  for (int32_t i = 0; i < fields.FieldCount; ++i) {
    TzfFieldDescriptor* f = fields.Field(i);
    SCOPED_TRACE(rtl::Utf16ToUtf8(f->ToString()));
    ASSERT_EQ(Target.Fields().IsRecordFieldNull(i, dst.data()), fields.IsRecordFieldNull(i, src.data()));
    if (fields.IsRecordFieldNull(i, src.data())) continue;
    // A text is compared up to its end (the bytes behind it are not the text's).
    const int32_t length = f->fdType == zftShortString || f->fdType == zftNullString ? 6
                           : f->fdType == zftWideString                              ? 12
                                                                                     : f->fdLength;
    const auto at = src.begin() + f->fdOffset;
    const std::vector<uint8_t> from(at, at + length);
    const std::vector<uint8_t> to(dst.begin() + f->fdOffset, dst.begin() + f->fdOffset + length);
    if (zfIsBlobType(f->fdType)) {
      ASSERT_LT(blobs, Target.BlobCopies.size());
      EXPECT_EQ(Target.BlobCopies[blobs].Blob, zfLoadLE<int64_t>(from.data()));
      EXPECT_EQ(zfLoadLE<int64_t>(to.data()), 1000 + static_cast<int64_t>(blobs));
      ++blobs;
    } else {
      EXPECT_EQ(to, from);
    }
  }
  EXPECT_EQ(blobs, Target.BlobCopies.size());
}

// What a value that does not fit becomes under each data-loss action.
TEST_F(MapperEngineTest, DataLossActionsDecideWhatAValueThatDoesNotFitBecomes) {
  Source.Add(u"N", zftInt32);
  TzfFieldDescriptor* n = Target.Add(u"N", zftInt16);
  std::vector<uint8_t> src = Source.NewRecord();
  Source.Set(src, u"N", Variant(int32_t{40000}));

  struct Case {
    TzfDataLossAction Action;
    bool ApplyDefault, HasDefault;
    uint32_t Result;
    const char16_t* Value;  // nullptr: NULL
  };
  const Case cases[] = {
      {dlaFail, false, false, zfErrInvalidFieldXForm, nullptr},
      {dlaNull, false, false, 0, nullptr},
      {dlaNull, true, false, 0, nullptr},
      {dlaNull, true, true, 0, u"-1"},
      {dlaNull, false, true, 0, nullptr},
      {dlaBestFit, false, false, 0, u"32767"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.Action) << c.ApplyDefault << c.HasDefault);
    if (c.HasDefault) ConstDefault(n, Variant(int32_t{-1}));
    else n->RemoveDefaultValue();
    TzfRecordMapperDescriptor records;
    records.rmdApplyDefaultForUnmapped = false;
    records.AddMapping(u"N", u"N", c.Action)->bfcdApplyDefault = c.ApplyDefault;
    auto engine = Engine(records);
    std::vector<uint8_t> dst = Target.NewRecord();
    EXPECT_EQ(engine->MapRecord(src.data(), dst.data()), c.Result);
    if (c.Result) continue;
    if (c.Value) {
      EXPECT_EQ(Target.Get(dst, u"N").AsString(), c.Value);
    } else {
      EXPECT_TRUE(Target.IsNull(dst, u"N"));
    }
  }

  // A method that wrote part of the value before failing leaves nothing of it behind a NULL.
  Source.Add(u"S", zftShortString, 4);
  TzfFieldDescriptor* t = Target.Add(u"T", zftInt16);
  std::vector<uint8_t> text = Source.NewRecord();
  Source.Set(text, u"S", Variant(UnicodeString(u"x")));
  TzfRecordMapperDescriptor records;
  records.rmdApplyDefaultForUnmapped = false;
  records.AddMapping(u"S", u"T", dlaNull);
  std::vector<uint8_t> dst = Target.NewRecord();
  EXPECT_EQ(Engine(records)->MapRecord(text.data(), dst.data()), 0u);
  EXPECT_TRUE(Target.IsNull(dst, u"T"));
  EXPECT_EQ(dst[static_cast<size_t>(t->fdOffset)], 0);
}

// The failing field's lines, then the table's, then the key of the first unique index.
TEST_F(MapperEngineTest, AFailingFieldReportsItsContext) {
  Source.Add(u"ID", zftInt32, 0, 0, true);
  Source.Add(u"Big", zftInt32);
  Source.Add(u"Word", zftShortString, 4);
  Target.Add(u"Big", zftInt16);
  Target.Add(u"Word", zftInt16);
  TzfMainIndicesDescriptor& indices = *Source.Dict.tdIndicesDescriptor;
  auto addIndex = [&](const char16_t* aName, TzfIndexDups aDups, const char16_t* aField) {
    auto* index = indices.InsertIndexAt(indices.IndexCount(), aName, 0, aDups, u"", &TzfCompKeyDescriptor::ClassInfo());
    static_cast<TzfCompKeyDescriptor&>(*index->idKeyDescriptor).Add(UnicodeString(aField));
    return index;
  };
  addIndex(u"AllDups", idAll, u"ID");
  addIndex(u"NullDupsOnOptional", idNull, u"Word");
  addIndex(u"ByID", idNone, u"ID");

  static UnicodeString keyIndex;
  zfSetMapperKeyTextProc([](IzfMapperCursor& aCursor, TzfIndexDescriptor& aIndex, const uint8_t* aRecord,
                            UnicodeString& aText) {
    keyIndex = aIndex.idName;
    auto& fields = *aCursor.acGetTableDescriptor()->tdFieldsDescriptor;
    aText = fields.GetFieldAsVariant(aRecord, 0).AsString();
    return true;
  });

  TzfRecordMapperDescriptor records;
  records.AddMapping(u"Big", u"Big", dlaFail);
  records.AddMapping(u"Word", u"Word", dlaFail);
  auto engine = Engine(records);
  std::vector<uint8_t> src = Source.NewRecord();
  Source.Set(src, u"ID", Variant(int32_t{17}));
  Source.Set(src, u"Big", Variant(int32_t{40000}));
  Source.Set(src, u"Word", Variant(UnicodeString(u"it's")));
  std::vector<uint8_t> dst = Target.NewRecord();

  const UnicodeString bigLines =
      UnicodeString(u"\r\n\r\nSource Field: [1] Big - Int32\r\nTarget Field: [0] Big - Int16\r\nSource Value: 40000");
  const UnicodeString tableLines = u"\r\n\r\nSource Table: Src\r\nSource Key (Index: ByID): 17";
  EXPECT_EQ(engine->MapRecord(src.data(), dst.data()), zfErrInvalidFieldXForm);
  EXPECT_EQ(keyIndex, u"ByID");
  EXPECT_EQ(LastConverted(), std::make_pair(zfErrInvalidFieldXForm, zfOrgMarker + bigLines + tableLines));
  // The marker places the code's text in front of the lines.
  EXPECT_EQ(BareMessage(EzfBaseException(zfErrInvalidFieldXForm)).substr(0, 43),
            u"Invalid field transformation.\r\n\r\nSource Fie");

  // A second failing record reports its own context only; a text value is quoted.
  Source.Set(src, u"Big", Variant(int32_t{1}));
  EXPECT_EQ(engine->MapRecord(src.data(), dst.data()), zfErrInvalidFieldXForm);
  EXPECT_EQ(LastConverted().second,
            zfOrgMarker + UnicodeString(u"\r\n\r\nSource Field: [2] Word - ShortString(4)\r\n"
                                        u"Target Field: [1] Word - Int16\r\nSource Value: 'it''s'") +
                tableLines);

  // Without a suitable index, or when building the key fails, there is no key line.
  zfSetMapperKeyTextProc([](IzfMapperCursor&, TzfIndexDescriptor&, const uint8_t*, UnicodeString&) -> bool {
    throw rtl::Exception(u"no key");
  });
  EXPECT_EQ(engine->MapRecord(src.data(), dst.data()), zfErrInvalidFieldXForm);
  EXPECT_TRUE(LastConverted().second.ends_with(u"\r\n\r\nSource Table: Src"));
  indices.RemoveIndex(u"ByID");
  Source.Fields().Field(2)->fdRequired = true;  // now the NULL-duplicates index qualifies
  zfSetMapperKeyTextProc([](IzfMapperCursor&, TzfIndexDescriptor& aIndex, const uint8_t*, UnicodeString& aText) {
    aText = u"k";
    keyIndex = aIndex.idName;
    return true;
  });
  EXPECT_EQ(engine->MapRecord(src.data(), dst.data()), zfErrInvalidFieldXForm);
  EXPECT_EQ(keyIndex, u"NullDupsOnOptional");
}

TEST_F(MapperEngineTest, TheKeyLineComesFromTheIndexKeyEngine) {
  Source.Add(u"ID", zftInt32, 0, 0, true);
  Source.Add(u"Name", zftNullString, 8, 0, true);
  Source.Add(u"Big", zftInt32);
  Target.Add(u"Big", zftInt16);
  TzfMainIndicesDescriptor& indices = *Source.Dict.tdIndicesDescriptor;
  auto* index = indices.InsertIndexAt(0, u"ByIDName", 0, idNone, u"", &TzfCompKeyDescriptor::ClassInfo());
  static_cast<TzfCompKeyDescriptor&>(*index->idKeyDescriptor).Add(u"ID");
  static_cast<TzfCompKeyDescriptor&>(*index->idKeyDescriptor).Add(u"Name");

  TzfRecordMapperDescriptor records;
  records.AddMapping(u"Big", u"Big", dlaFail);
  auto engine = Engine(records);
  std::vector<uint8_t> src = Source.NewRecord();
  Source.Set(src, u"ID", Variant(int32_t{5}));
  Source.Set(src, u"Name", Variant(UnicodeString(u"O'Neil")));
  Source.Set(src, u"Big", Variant(int32_t{70000}));
  std::vector<uint8_t> dst = Target.NewRecord();
  EXPECT_EQ(engine->MapRecord(src.data(), dst.data()), zfErrInvalidFieldXForm);
  EXPECT_TRUE(LastConverted().second.ends_with(u"\r\n\r\nSource Table: Src\r\nSource Key (Index: ByIDName): 5, 'O''Neil'"))
      << zf::rtl::u8(LastConverted().second);
}

TEST_F(MapperEngineTest, EnginesRefuseMappingsTheyCannotCarryOut) {
  Source.Add(u"A", zftInt32);
  Target.Add(u"B", zftInt32);
  Target.Add(u"D", zftDate);
  auto create = [&](const char16_t* aSource, const char16_t* aTarget) {
    return Outcome([&] {
      TzfRecordMapperDescriptor records;
      records.AddMapping(aSource, aTarget, dlaFail);
      Engine(records);
    });
  };
  EXPECT_EQ(create(u"A", u"Nope"),
            u"!EzfFieldMapperEngineException #10038: Invalid field name. Field \"Nope\" not in target dictionary");
  EXPECT_EQ(create(u"Nope", u"B"),
            u"!EzfFieldMapperEngineException #10038: Invalid field name. Field \"Nope\" not in source dictionary");
  EXPECT_EQ(create(u"A", u"D"), u"!EzfFieldMapperEngineException #10002: Invalid field transformation.");
  EXPECT_EQ(create(u"A", u"b"), u"ok");
}

// Descriptor classes without an engine class of their own.
class TOddRecordMapperDescriptor : public TzfRecordMapperDescriptor {
 public:
  static const TzfRecordMapperDescriptorClass& ClassInfo() {
    static const TzfRecordMapperDescriptorClass info(u"TzfOddRecordMapperDescriptor",
                                                     &TzfRecordMapperDescriptor::ClassInfo(), nullptr);
    return info;
  }
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
};

class TOddFieldMapperDescriptor : public TzfFieldMapperDescriptor {
 public:
  using TzfFieldMapperDescriptor::TzfFieldMapperDescriptor;
  static const TzfFieldMapperDescriptorClass& ClassInfo() {
    static const TzfFieldMapperDescriptorClass info(u"TzfOddFieldMapperDescriptor",
                                                    &TzfFieldMapperDescriptor::ClassInfo(),
                                                    [](const UnicodeString& s, const UnicodeString& t,
                                                       TzfDataLossAction a) -> std::unique_ptr<TzfFieldMapperDescriptor> {
                                                      return std::make_unique<TOddFieldMapperDescriptor>(s, t, a);
                                                    });
    return info;
  }
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
};

TEST_F(MapperEngineTest, AnEngineClassMustBeRegisteredForTheDescriptorClass) {
  Source.Add(u"A", zftInt32);
  Target.Add(u"A", zftInt32);
  TOddRecordMapperDescriptor odd;
  EXPECT_EQ(Outcome([&] { Engine(odd); }),
            u"!EzfBaseRecordMapperEngineException #15503: Unknown RecordMapper engine: \"TzfOddRecordMapperEngine\"");
  TzfRecordMapperDescriptor records;
  records.AddMapping(u"A", u"A", dlaFail, &TOddFieldMapperDescriptor::ClassInfo());
  EXPECT_EQ(Outcome([&] { Engine(records); }),
            u"!EzfBaseFieldMapperEngineException #15503: Unknown FieldMapper engine: \"TzfOddFieldMapperEngine\"");
}

TEST_F(MapperEngineTest, AnUnmappedAutoIncTargetIsNumberedInRecordOrder) {
  Source.Add(u"V", zftInt32);
  Target.Add(u"V", zftInt32);
  Target.Add(u"No", zftAutoInc);
  TzfRecordMapperDescriptor records;
  records.AddMapping(u"V", u"V", dlaFail);
  auto engine = Engine(records);
  engine->BeforeFirstRecord();
  std::vector<uint8_t> src = Source.NewRecord();
  for (int32_t expected = 1; expected <= 3; ++expected) {
    std::vector<uint8_t> dst = Target.NewRecord();
    ASSERT_EQ(engine->MapRecord(src.data(), dst.data()), 0u);
    EXPECT_EQ(Target.Get(dst, u"No").AsInteger(), expected);
  }
  EXPECT_EQ(Target.AutoInc, 3u);

  // Without defaults for unmapped fields the field stays NULL and nothing is numbered.
  records.rmdApplyDefaultForUnmapped = false;
  engine = Engine(records);
  Target.AutoInc = 0;
  engine->BeforeFirstRecord();
  std::vector<uint8_t> dst = Target.NewRecord();
  ASSERT_EQ(engine->MapRecord(src.data(), dst.data()), 0u);
  EXPECT_TRUE(Target.IsNull(dst, u"No"));
  EXPECT_EQ(Target.AutoInc, 0u);
}

TEST_F(MapperEngineTest, AMappedAutoIncFieldKeepsTheTargetCounterAtTheHighestValue) {
  Source.Add(u"No", zftAutoInc);
  Target.Add(u"No", zftAutoInc);
  Source.AutoInc = 4;
  TzfRecordMapperDescriptor records;
  records.AddMapping(u"No", u"No", dlaFail);
  auto engine = Engine(records);
  engine->BeforeFirstRecord();
  EXPECT_EQ(Target.AutoInc, 4u);
  for (int32_t v : {5, 3, 9}) {
    std::vector<uint8_t> src = Source.NewRecord(), dst = Target.NewRecord();
    Source.Set(src, u"No", Variant(v));
    ASSERT_EQ(engine->MapRecord(src.data(), dst.data()), 0u);
    EXPECT_EQ(Target.Get(dst, u"No").AsInteger(), v);
  }
  EXPECT_EQ(Target.AutoInc, 9u);
  engine->BeforeCommit();
  EXPECT_EQ(Target.AutoInc, 9u);
  Source.AutoInc = 12;
  engine->BeforeCommit();
  EXPECT_EQ(Target.AutoInc, 12u);
}

TEST_F(MapperEngineTest, TheAutoIncCounterCannotPassItsLargestValue) {
  Target.Add(u"No", zftAutoInc);
  TzfFieldMapperDescriptor d(u"", u"No", dlaFail);
  d.bfcdApplyDefault = true;
  TzfFieldMapperEngineAutoInc engine(d, Source, Target);
  EXPECT_EQ(engine.fmeaSourceCursor, nullptr);
  Target.AutoInc = 77;
  engine.BeforeFirstRecord();  // without a source the counter starts at 0
  EXPECT_EQ(Target.AutoInc, 0u);
  engine.fmeaHighAutoInc = UINT32_MAX - 1;
  std::vector<uint8_t> dst = Target.NewRecord();
  EXPECT_EQ(engine.MapField(nullptr, dst.data()), 0u);
  EXPECT_EQ(Target.AutoInc, UINT32_MAX);
  dst = Target.NewRecord();
  EXPECT_EQ(Outcome([&] { engine.MapField(nullptr, dst.data()); }), u"!EIntOverflow: Integer overflow");
  EXPECT_TRUE(Target.IsNull(dst, u"No"));
}

TEST_F(MapperEngineTest, OneSpecialEnginePerFieldType) {
  static const TzfFieldMapperEngineClass other(u"TOther", &TzfBaseFieldMapperEngine::ClassInfo(), nullptr);
  EXPECT_TRUE(TzfBaseFieldMapperEngine::HasSpecialMapper(zftAutoInc));
  EXPECT_FALSE(TzfBaseFieldMapperEngine::HasSpecialMapper(zftInt32));
  EXPECT_EQ(Outcome([] { TzfBaseFieldMapperEngine::RegisterSpecialMapper(other, zftAutoInc); }),
            u"!EzfBaseFieldMapperEngineException #0: A special Field Mapper has already been registered for this "
            u"FieldType");
  EXPECT_EQ(Outcome([] {
              TzfBaseFieldMapperEngine::RegisterSpecialMapper(TzfFieldMapperEngineAutoInc::ClassInfo(), zftAutoInc);
            }),
            u"ok");
  TzfBaseFieldMapperEngine::UnregisterSpecialMapper(other, zftAutoInc);
  EXPECT_TRUE(TzfBaseFieldMapperEngine::HasSpecialMapper(zftAutoInc));
  TzfBaseFieldMapperEngine::RegisterSpecialMapper(other, zftInt32);
  EXPECT_TRUE(TzfBaseFieldMapperEngine::HasSpecialMapper(zftInt32));
  TzfBaseFieldMapperEngine::UnregisterSpecialMapper(other, zftInt32);
  EXPECT_FALSE(TzfBaseFieldMapperEngine::HasSpecialMapper(zftInt32));
}

TEST_F(MapperEngineTest, AnEmptyBlobFailsUnderFailAndBecomesNullUnderBestFit) {
  Source.Add(u"B", zftBlob);
  Target.Add(u"B", zftBlob);
  std::vector<uint8_t> src = Source.NewRecord();
  Source.Fields().SetRecordFieldNull(0, src.data(), false);  // a BLOB number 0 that is not NULL
  for (auto [action, result] : {std::pair{dlaFail, zfErrInvalidFieldXForm}, std::pair{dlaBestFit, 0u}}) {
    TzfRecordMapperDescriptor records;
    records.AddMapping(u"B", u"B", action);
    auto engine = Engine(records);
    std::vector<uint8_t> dst = Target.NewRecord();
    EXPECT_EQ(engine->MapRecord(src.data(), dst.data()), result);
    if (!result) {
      EXPECT_TRUE(Target.IsNull(dst, u"B"));
    }
  }
}

}  // namespace
}  // namespace zf::test
