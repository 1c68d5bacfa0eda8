// Key descriptors: key lengths, renumbering, validity, streams and the key filter.
#include <gtest/gtest.h>

#include "dictionary/zfsdKeyDescriptor.h"
#include "dictionary/zfsdStartup.h"
#include "tests/dictionary/zfsdTestTable.h"
#include "tests/dictionary/zfsdTestUtil.h"

namespace zf::test {
namespace {

class KeyDescriptorTest : public test::DictionaryStarted {
 protected:
  TTestTable table;
  TzfFieldsDescriptor& fields = *table.Fields;
};

struct KeyLengthCase {
  TzfFieldType Type;
  int32_t Units;
  int32_t OverrideBytes;
  int32_t OverrideChars;
  int32_t Expected;
};

TEST_F(KeyDescriptorTest, KeyFieldLengthsOverFieldTypes) {
  const KeyLengthCase cases[] = {
      {zftBoolean, 0, 0, 0, 1},        {zftInt32, 0, 0, 0, 4},          {zftInt64, 0, 9, 9, 8},
      {zftExtended, 0, 0, 0, 10},      {zftGuid, 0, 4, 0, 16},          {zftDateTime, 0, 0, 0, 8},
      {zftByteArray, 16, 20, 0, 16},   {zftByteArray, 16, 10, 0, 10},   {zftByteArray, 16, 0, 5, 16},
      {zftShortString, 20, 0, 0, 21},  {zftShortString, 20, 0, 5, 6},   {zftShortString, 20, 30, 5, 30},
      {zftShortString, 20, 3, 5, 6},   {zftShortString, 20, 0, 20, 21}, {zftNullString, 10, 0, 3, 4},
      {zftNullString, 10, 15, 0, 15},  {zftWideString, 20, 0, 5, 12},   {zftWideString, 20, 100, 5, 12},
      {zftWideString, 20, 100, 0, 42}, {zftFmtBCD, 10, 0, 0, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Type));
    TTestTable t;
    AddTestField(*t.Fields, u"F", c.Type, c.Units);
    TzfCompKeyDescriptor key(t.Indices.get());
    TzfKeyFieldDescriptor* kf = key.Add(0);
    kf->SetOverrideLengthBytes(c.OverrideBytes);
    kf->SetOverrideLengthChars(c.OverrideChars);
    EXPECT_EQ(kf->GetKeyLength(), c.Expected);
    EXPECT_EQ(key.GetKeyLength(), c.Expected + 1);  // one byte of null flags
  }
}

TEST_F(KeyDescriptorTest, CompositeAndReferenceKeyLengths) {
  for (int i = 0; i < 9; ++i) AddTestField(fields, u"F" + rtl::IntToStr(i), zftInt32);
  TzfCompKeyDescriptor one(table.Indices.get());
  one.Add(0);
  EXPECT_EQ(one.GetKeyLength(), 5);

  TzfCompKeyDescriptor nine(table.Indices.get());
  TzfNoNullCompKeyDescriptor noNull(table.Indices.get());
  for (int i = 0; i < 9; ++i) {
    nine.Add(i);
    noNull.Add(i);
  }
  EXPECT_EQ(nine.GetKeyLength(), 38);
  EXPECT_EQ(noNull.GetKeyLength(), 36);
  TzfRefKeyDescriptor ref(table.Indices.get());
  EXPECT_EQ(ref.GetKeyLength(), 8);
  EXPECT_FALSE(ref.CanContainNulls());
}

TEST_F(KeyDescriptorTest, CachedLengthFollowsOverridesNotMoves) {
  AddTestField(fields, u"S", zftShortString, 20);
  AddTestField(fields, u"I", zftInt32);
  TzfCompKeyDescriptor key(table.Indices.get());
  TzfKeyFieldDescriptor* s = key.Add(u"s");  // names are found without regard to case
  key.Add(u"I");
  EXPECT_EQ(s->kfdFieldNumber, 0);
  EXPECT_EQ(key.GetKeyLength(), 21 + 4 + 1);
  s->SetOverrideLengthChars(5);
  EXPECT_EQ(key.GetKeyLength(), 6 + 4 + 1);
  key.Move(0, 1);
  EXPECT_EQ(key.ckdKeyLen, 11);  // kept
  key.Delete(0);
  EXPECT_EQ(key.GetKeyLength(), 6 + 1);
  EXPECT_EQ(key.Add(u"Nope")->kfdFieldNumber, -1);
}

TEST_F(KeyDescriptorTest, EmptyCompositeKey) {
  TzfCompKeyDescriptor key(table.Indices.get());
  EXPECT_FALSE(key.IsValidForTable(table));
  EXPECT_FALSE(key.CanContainNulls());
  EXPECT_EQ(Outcome([&] { key.CheckValid(false); }),
            u"!EzfCompKeyDescriptorException #10004: ZofrinDB: Composite key requires a minimum of one field "
            u"[$2714/10004]");
}

TEST_F(KeyDescriptorTest, NullsAndValidity) {
  AddTestField(fields, u"A", zftInt32, 0, 0, true);
  AddTestField(fields, u"B", zftInt32);
  TzfNoNullCompKeyDescriptor key(table.Indices.get());
  TzfKeyFieldDescriptor* a = key.Add(0);
  EXPECT_FALSE(key.CanContainNulls());
  EXPECT_NO_THROW(key.CheckValid(false));
  TzfKeyFieldDescriptor* b = key.Add(1);
  EXPECT_TRUE(key.CanContainNulls());
  b->SetNullBehaviour(nbFilterNull);
  EXPECT_FALSE(key.CanContainNulls());
  EXPECT_EQ(Outcome([&] { key.CheckValid(false); }),
            u"!EzfNoNullCompKeyDescriptorException #10004: ZofrinDB: Field \"B\" is not marked as required "
            u"[$2714/10004]");
  EXPECT_TRUE(key.IsValidForTable(table));
  a->SetFieldNumber(2);
  EXPECT_FALSE(key.IsValidForTable(table));
  EXPECT_EQ(Outcome([&] { a->CheckValid(false); }),
            u"!EzfKeyFieldDescriptorException #9999: ZofrinDB: Invalid field number: 2 [$270F/9999]");
}

TEST_F(KeyDescriptorTest, KeyFieldsFollowFieldRenumbering) {
  AddTestField(fields, u"A", zftInt32);
  AddTestField(fields, u"B", zftInt32);
  AddTestField(fields, u"C", zftInt32);
  TzfCompKeyDescriptor key(table.Indices.get());
  TzfKeyFieldDescriptor* a = key.Add(0);
  TzfKeyFieldDescriptor* c = key.Add(2);
  fields.InsertFieldAt(0, u"Z", u"", zftInt32, 0, 0, false, nullptr);
  EXPECT_EQ(a->kfdFieldNumber, 1);
  EXPECT_EQ(c->kfdFieldNumber, 3);
  fields.MoveField(3, 0);  // C to the front
  EXPECT_EQ(c->kfdFieldNumber, 0);
  EXPECT_EQ(a->kfdFieldNumber, 2);
  fields.RemoveField(1);  // Z
  EXPECT_EQ(a->kfdFieldNumber, 1);
  EXPECT_EQ(Outcome([&] { fields.RemoveField(0); }),
            u"!EzfKeyFieldDescriptorException #15502: ZofrinDB: Cannot remove field C because it is still "
            u"referenced by an index [$3C8E/15502]");
  EXPECT_EQ(fields.FieldCount, 3);
}

// A filter descriptor as the index layer would register one: its part is one byte.
class TTestFilter : public TzfBaseFilterDescriptor {
 public:
  static const TzfFilterDescriptorClass& Info() {
    static const TzfFilterDescriptorClass info(
        u"TTestFilterDescriptor", &TzfBaseFilterDescriptor::ClassInfo(),
        [](rtl::TStream& aStream) -> std::unique_ptr<TzfBaseFilterDescriptor> {
          auto f = std::make_unique<TTestFilter>();
          aStream.ReadBuffer(&f->Value, 1);
          return f;
        });
    return info;
  }
  const TzfRegisterableClass& ClassType() const override { return Info(); }
  uint32_t WriteToStream(rtl::TStream& aStream, int32_t) override {
    WriteClassName(aStream);
    aStream.WriteBuffer(&Value, 1);
    return 0;
  }
  uint8_t Value = 0;
};

class TUnwritableFilter : public TzfBaseFilterDescriptor {};

TEST_F(KeyDescriptorTest, KeyFilterTravelsThroughTheRegistry) {
  TzfBaseFilterDescriptor::RegisterFilterDescriptor(TTestFilter::Info());
  AddTestField(fields, u"A", zftInt32);
  TzfCompKeyDescriptor key(table.Indices.get());
  key.Add(0);
  auto filter = std::make_unique<TTestFilter>();
  filter->Value = 42;
  key.SetFilter(std::move(filter));
  const auto bytes = SavedBytes(key, 30900);

  TzfCompKeyDescriptor back(table.Indices.get());
  LoadSaved(back, bytes);
  ASSERT_NE(back.Filter, nullptr);
  EXPECT_EQ(dynamic_cast<TTestFilter&>(*back.Filter).Value, 42);
  EXPECT_EQ(Outcome([&] { SavedBytes(key, 19999); }),
            u"!EzfCompKeyDescriptorException #12039: ZofrinDB: Server is incompatible version. [$2F07/12039]");

  // Stored under "TTestFilter", the class is found as "TTestFilter" + "Descriptor".
  TzfMemoryStream s(-1);
  const uint8_t part[] = {11, 'T', 'T', 'e', 's', 't', 'F', 'i', 'l', 't', 'e', 'r', 7};
  s.WriteBuffer(part, sizeof part);
  s.SetPosition(0);
  std::unique_ptr<TzfBaseFilterDescriptor> f;
  EXPECT_EQ(TzfBaseFilterDescriptor::CreateFromStream(s, f), 0u);
  EXPECT_EQ(dynamic_cast<TTestFilter&>(*f).Value, 7);

  TzfBaseFilterDescriptor::UnregisterFilterDescriptor(TTestFilter::Info());
  EXPECT_EQ(Outcome([&] { LoadSaved(back, bytes); }),
            u"!EzfCompKeyDescriptorException #12289: ZofrinDB: Filter descriptor not supported: "
            u"TTestFilterDescriptor [$3001/12289]");
}

TEST_F(KeyDescriptorTest, FilterStreamRefusals) {
  std::unique_ptr<TzfBaseFilterDescriptor> f;
  TzfMemoryStream s(-1);
  const uint8_t cut[] = {10, 'T', 'z', 'f'};  // the name ends early
  s.WriteBuffer(cut, sizeof cut);
  s.SetPosition(0);
  EXPECT_EQ(TzfBaseFilterDescriptor::CreateFromStream(s, f), zfErrInvalidParam);
  EXPECT_EQ(f, nullptr);
  TzfMemoryStream empty(-1);
  EXPECT_EQ(TzfBaseFilterDescriptor::CreateFromStream(empty, f), zfErrInvalidParam);

  TUnwritableFilter base;
  TzfMemoryStream out(-1);
  EXPECT_EQ(base.WriteToStream(out, 30900), zfErrNotSupported);
  EXPECT_EQ(out.Size(), 0);
  EXPECT_EQ(Outcome([] { zfRaiseIfError(zfErrNotSupported); }),
            u"!EzfBaseException #12289: ZofrinDB: WriteToStream is not supported by TzfBaseFilterDescriptor "
            u"[$3001/12289]");
}


TEST_F(KeyDescriptorTest, GoldenBytesOfACompositeKey) {
  TzfCompKeyDescriptor key(nullptr);
  TzfKeyFieldDescriptor* kf = key.Add(2, &TzfTextKeyFieldDescriptor::ClassInfo());
  kf->SetDesc(u"d");
  kf->SetAscend(false);
  kf->SetOverrideLengthChars(5);
  kf->SetNullBehaviour(nbBottom);
  static_cast<TzfTextKeyFieldDescriptor*>(kf)->SetIgnoreCase(true);

  std::vector<uint8_t> g = ItemHeaderBytes();
  AppendBytes(g, {0x07, 0x03, 'B', 'K', 'D', 0x02, 0x01, 0x08});  // "BKD", version 1, no filter
  AppendBytes(g, {0x02, 0x01, 0x02, 0x01});                        // version 1, one key field
  AppendString(g, "TzfTextKeyFieldDescriptor");
  AppendBytes(g, {0x02, 0x02});  // field number 2
  std::vector<uint8_t> h = ItemHeaderBytes();
  g.insert(g.end(), h.begin(), h.end());
  AppendBytes(g, {0x02, 0x02});  // key field version 2
  AppendString(g, "d");
  AppendString(g, "");
  AppendBytes(g, {0x08});                    // descending
  AppendBytes(g, {0x02, 0x01, 0x08});        // locale part: version 1, no own locale
  AppendBytes(g, {0x02, 0x00, 0x02, 0x05});  // overrides: bytes 0, chars 5
  AppendString(g, "nbBottom");
  AppendBytes(g, {0x02, 0x01, 0x09});  // text part: version 1, ignore case
  EXPECT_EQ(SavedBytes(key, 30900), g);

  TzfCompKeyDescriptor back(nullptr);
  LoadSaved(back, g);
  EXPECT_TRUE(back.IsEqual(&key));
  EXPECT_EQ(back.GetKeyField(0)->kfdFieldNumber, 2);
}

TEST_F(KeyDescriptorTest, StreamRoundTripsAndOldClients) {
  AddTestField(fields, u"A", zftWideString, 10);
  AddTestField(fields, u"B", zftInt32);
  TzfCompKeyDescriptor key(table.Indices.get());
  key.Add(0, &TzfExtTextKeyFieldDescriptor::ClassInfo());
  key.Add(1)->SetKeyFieldEngine(u"Other");
  for (int32_t version : {30900, 20000}) {
    TzfCompKeyDescriptor back(table.Indices.get());
    LoadSaved(back, SavedBytes(key, version));
    EXPECT_TRUE(back.IsEqual(&key)) << version;
  }
  // Reading into a key that already has fields replaces them (as a copy through a stream does).
  TzfCompKeyDescriptor filled(table.Indices.get());
  filled.Add(1);
  filled.Add(0);
  filled.Add(1);
  LoadSaved(filled, SavedBytes(key, 30900));
  EXPECT_EQ(filled.GetKeyFieldCount(), 2);
  EXPECT_TRUE(filled.IsEqual(&key));
  TzfNoNullCompKeyDescriptor noNull(table.Indices.get());
  noNull.Add(1);
  TzfNoNullCompKeyDescriptor noNullBack(table.Indices.get());
  LoadSaved(noNullBack, SavedBytes(noNull, 30900));
  EXPECT_TRUE(noNullBack.IsEqual(&noNull));
  EXPECT_FALSE(noNullBack.IsEqual(&key));

  // Written for a client before 20000: no "BKD" block, key fields of version 1.
  TzfCompKeyDescriptor old(table.Indices.get());
  LoadSaved(old, SavedBytes(key, 19999));
  EXPECT_TRUE(old.IsEqual(&key));
  EXPECT_EQ(old.Filter, nullptr);

  key.GetKeyField(1)->SetOverrideLengthBytes(2);
  EXPECT_EQ(Outcome([&] { SavedBytes(key, 19999); }),
            u"!EzfKeyFieldDescriptorException #12039: ZofrinDB: Server is incompatible version. [$2F07/12039]");
  key.GetKeyField(1)->SetOverrideLengthBytes(0);
  key.GetKeyField(1)->AddLocaleDescriptor(nullptr);
  EXPECT_EQ(Outcome([&] { SavedBytes(key, 19999); }),
            u"!EzfKeyFieldDescriptorException #12039: ZofrinDB: Server is incompatible version. [$2F07/12039]");

  // An ext text key field keeps its own locale in the old form.
  key.GetKeyField(1)->RemoveLocaleDescriptor();
  key.GetKeyField(0)->AddLocaleDescriptor(nullptr)->ldLocale = 1033;
  TzfCompKeyDescriptor ext(table.Indices.get());
  LoadSaved(ext, SavedBytes(key, 19999));
  ASSERT_NE(ext.GetKeyField(0)->ldiLocaleDescriptor, nullptr);
  EXPECT_EQ(ext.GetKeyField(0)->ldiLocaleDescriptor->ldLocale, 1033u);
}

TEST_F(KeyDescriptorTest, DamagedKeyStreams) {
  TzfCompKeyDescriptor key(nullptr);
  key.Add(0);
  std::vector<uint8_t> good = SavedBytes(key, 30900);

  // A stream without the "BKD" block reads as a key without a filter.
  TzfRefKeyDescriptor ref(nullptr);
  std::vector<uint8_t> noBlock = ItemHeaderBytes();
  AppendBytes(noBlock, {0x02, 0x01});
  TzfRefKeyDescriptor refBack(nullptr);
  EXPECT_EQ(Outcome([&] { LoadSaved(refBack, noBlock); }), u"ok");

  // Another identifier in its place is an internal consistency failure.
  const std::string bkd = "BKD";
  const auto bkdAt = static_cast<size_t>(std::search(good.begin(), good.end(), bkd.begin(), bkd.end()) - good.begin());
  std::vector<uint8_t> wrongIdent = good;
  wrongIdent[bkdAt] = 'X';
  TzfCompKeyDescriptor back(nullptr);
  EXPECT_TRUE(Outcome([&] { LoadSaved(back, wrongIdent); }).starts_with(u"!EAssertionFailed: Assertion failure"));

  // A null behaviour name that names none is refused.
  std::vector<uint8_t> badName = good;
  const std::string top = "nbTop";
  auto it = std::search(badName.begin(), badName.end(), top.begin(), top.end());
  ASSERT_NE(it, badName.end());
  it[2] = 'X';
  EXPECT_EQ(Outcome([&] { LoadSaved(back, badName); }),
            u"!EzfKeyFieldDescriptorException #15498: ZofrinDB: Incompatible stream [$3C8A/15498]");

  // An unknown key field class and a count beyond the stream.
  std::vector<uint8_t> badClass = good;
  const std::string cls = "TzfKeyFieldDescriptor";
  auto c = std::search(badClass.begin(), badClass.end(), cls.begin(), cls.end());
  c[3] = 'X';
  EXPECT_EQ(Outcome([&] { LoadSaved(back, badClass); }),
            u"!EzfCompKeyDescriptorException #15499: ZofrinDB: KeyFieldDescriptor class is not supported: "
            u"TzfXeyFieldDescriptor [$3C8B/15499]");
  std::vector<uint8_t> bigCount = good;
  bigCount[bkdAt + 3 + 3 + 2 + 1] = 0x7F;  // after "BKD", its version and Boolean, the key's version: the count
  EXPECT_EQ(Outcome([&] { LoadSaved(back, bigCount); }),
            u"!EzfCompKeyDescriptorException #15498: ZofrinDB: Incompatible stream [$3C8A/15498]");
}

}  // namespace
}  // namespace zf::test
