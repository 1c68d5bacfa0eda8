#include "dictionary/zfsdDataDictionaryRefInt.h"

#include <gtest/gtest.h>

#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "dictionary/zfsdStartup.h"
#include "foundation/zfllConst.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "zfsdDictTestRoot.h"
#include "zfsdTestUtil.h"

namespace zf {
namespace {

using test::LoadBytes;
using test::Outcome;
using test::StreamBytes;

class RefIntTest : public test::DictionaryStarted {
 protected:

  // Dictionary T with six fields and a nested table Sub, and a "RefIntegrity" descriptor holding
  // one reference from field 5 to table Other.
  void SetUp() override {
    dict.ddBaseName = u"T";
    for (const char16_t* name : {u"F0", u"F1", u"F2", u"F3", u"F4", u"F5"})
      dict.tdFieldsDescriptor->AddField(name, u"", zftInt32, 0, 0, false, nullptr);
    sub = dict.tdTablesDescriptor->AddTable(u"Sub", nullptr);
    sub->tdFieldsDescriptor->AddField(u"S", u"", zftInt32, 0, 0, false, nullptr);
    sub->AddRecordDescriptor(nullptr);
    refInt = dynamic_cast<TzfRefIntegrityDescriptor*>(
        dict.tdCustomDescsDescriptor->AddCustom(u"RefIntegrity", &TzfRefIntegrityDescriptor::ClassInfo()));
    ref = refInt->AddReference();
    dynamic_cast<TzfTableTargetCursorDescriptor*>(ref->rdTargetCursor.get())->SetTableName(u"Other");
    ref->SetTargetIndex(u"ByKey");
    source = dynamic_cast<TzfFieldSourceDescriptor*>(ref->AddSource());
    source->SetFieldNumber(5);
    ref->AddAction(&TzfCascadeDeleteActionDescriptor::ClassInfo());
  }

  std::vector<uint8_t> WriteDict(int32_t aClient) {
    TzfMemoryStream stream(-1);
    dict.WriteToStream(stream, aClient);
    return StreamBytes(stream);
  }

  TzfDataDictionary dict;
  TzfNestedTableDescriptor* sub = nullptr;
  TzfRefIntegrityDescriptor* refInt = nullptr;
  TzfReferenceDescriptor* ref = nullptr;
  TzfFieldSourceDescriptor* source = nullptr;
};

TEST_F(RefIntTest, NewDescriptorsTakeTheDefaultClasses) {
  TzfReferenceDescriptor* fresh = refInt->AddReference();
  EXPECT_EQ(&fresh->rdTargetCursor->ClassType(), &TzfTableTargetCursorDescriptor::ClassInfo());
  EXPECT_EQ(fresh->rdSourceCount(), 0);
  EXPECT_EQ(fresh->rdActionCount(), 0);
  auto* s = dynamic_cast<TzfFieldSourceDescriptor*>(fresh->AddSource());
  ASSERT_TRUE(s);
  EXPECT_EQ(s->fsdFieldNumber, -1);
  EXPECT_EQ(&fresh->AddAction()->ClassType(), &TzfBlockDeleteActionDescriptor::ClassInfo());
  fresh->RemoveAction(-1);
  fresh->RemoveAction(fresh->rdActionCount());
  EXPECT_EQ(fresh->rdActionCount(), 1);
  fresh->RemoveAction(fresh->rdActions[0].get());
  EXPECT_EQ(fresh->rdActionCount(), 0);
  refInt->RemoveReference(fresh);
  EXPECT_EQ(refInt->ridReferenceCount(), 1);
  EXPECT_EQ(zfGetRefIntegrityDescriptor(&dict), refInt);
  EXPECT_EQ(zfGetRefIntegrityDescriptor(sub), nullptr);
  EXPECT_EQ(zfGetActionDescriptorClasses().size(), 9u);
}

TEST_F(RefIntTest, ARefIntegrityDescriptorOfAnotherClassIsRefused) {
  TzfDataDictionary other;
  other.tdCustomDescsDescriptor->AddCustom(u"refintegrity", nullptr);
  EXPECT_EQ(Outcome([&] { zfGetRefIntegrityDescriptor(&other); }),
            u"!EzfRefIntegrityDescriptorException #15499: ZofrinDB: RefIntegrity class is not supported: "
            u"TzfBaseCustomDescriptor [$3C8B/15499]");
}

TEST_F(RefIntTest, FieldSourcesFollowTheirField) {
  dict.tdFieldsDescriptor->RemoveField(2);
  EXPECT_EQ(source->fsdFieldNumber, 4);
  dict.tdFieldsDescriptor->InsertFieldAt(4, u"New", u"", zftInt32, 0, 0, false, nullptr);
  EXPECT_EQ(source->fsdFieldNumber, 5);
  dict.tdFieldsDescriptor->MoveField(5, 0);
  EXPECT_EQ(source->fsdFieldNumber, 0);
  EXPECT_EQ(Outcome([&] { dict.tdFieldsDescriptor->RemoveField(0); }),
            u"!EzfFieldSourceDescriptorException #15502: ZofrinDB: Cannot remove field F5 because it is still "
            u"referenced by an index [$3C8E/15502]");
  EXPECT_EQ(dict.tdFieldsDescriptor->FieldCount, 6);
  source->SetFieldNumber(6);
  EXPECT_EQ(Outcome([&] { source->CheckValid(false); }),
            u"!EzfFieldSourceDescriptorException #10004: ZofrinDB: Invalid field number: 6 [$2714/10004]");
}

TEST_F(RefIntTest, TargetsNameTheirTables) {
  auto* clone = dynamic_cast<TzfCloneTargetCursorDescriptor*>(
      refInt->AddReference(nullptr, &TzfCloneTargetCursorDescriptor::ClassInfo())->rdTargetCursor.get());
  EXPECT_EQ(clone->ReferencedTableName(), u"T");
  EXPECT_TRUE(clone->References(&dict));
  EXPECT_FALSE(clone->References(sub));

  auto* relative = dynamic_cast<TzfRelativeTargetCursorDescriptor*>(
      refInt->AddReference(nullptr, &TzfRelativeTargetCursorDescriptor::ClassInfo())->rdTargetCursor.get());
  relative->SetTableName(u"Sub");
  EXPECT_EQ(relative->ReferencedTableName(), u"T:Sub");
  relative->SetTableName(u".:Sub");
  EXPECT_EQ(relative->ReferencedTableName(), u"T:Sub");
  EXPECT_NE(Outcome([&] { relative->SetTableName(u"a: b"); }).find(u"#10039"), UnicodeString::npos);
  relative->SetTableName(u"Missing");
  EXPECT_NE(Outcome([&] { relative->CheckValid(false); }).find(u"#10024"), UnicodeString::npos);

  auto* table = dynamic_cast<TzfTableTargetCursorDescriptor*>(ref->rdTargetCursor.get());
  EXPECT_NE(Outcome([&] { table->SetTableName(u""); }).find(u"#10024"), UnicodeString::npos);
  EXPECT_EQ(table->ttcTableName, u"Other");
}

TEST_F(RefIntTest, StreamRoundTripsAndOldClients) {
  dynamic_cast<TzfTableTargetCursorDescriptor*>(ref->rdTargetCursor.get())->SetPassword(u"secret");
  TzfReferenceDescriptor* second = refInt->AddReference(nullptr, &TzfRelativeTargetCursorDescriptor::ClassInfo());
  dynamic_cast<TzfRelativeTargetCursorDescriptor*>(second->rdTargetCursor.get())->SetTableName(u".:Sub");
  second->AddSource()->SetSkipOnNull(true);
  dynamic_cast<TzfFieldSourceDescriptor*>(second->rdSources[0].get())->SetFieldNumber(1);
  second->AddAction(&TzfTargetRequiredActionDescriptor::ClassInfo())->SetSkipOnNull(true);
  dict.CheckValid(false);

  for (int32_t client : {zfEngineVersion, zfVersion20000}) {
    TzfDataDictionary read;
    TzfMemoryStream stream(-1);
    LoadBytes(stream, WriteDict(client));
    read.ReadFromStream(stream, u"T");
    EXPECT_TRUE(read.IsEqual(&dict));
    TzfRefIntegrityDescriptor* r = zfGetRefIntegrityDescriptor(&read);
    ASSERT_TRUE(r);
    EXPECT_EQ(dynamic_cast<TzfTableTargetCursorDescriptor*>(r->ridReferences[0]->rdTargetCursor.get())->ttcPassword,
              u"secret");
    EXPECT_TRUE(r->ridReferences[1]->rdSources[0]->bsdSkipOnNull);
    EXPECT_TRUE(r->ridReferences[1]->rdActions[0]->badSkipOnNull);
  }

  // The old form has no place for a password or skip-on-null: refused, not dropped.
  TzfMemoryStream out(-1);
  TzfWriter writer(out);
  EXPECT_NE(Outcome([&] { refInt->SaveToWriter(writer, 19999); }).find(u"#12039"), UnicodeString::npos);
  dynamic_cast<TzfTableTargetCursorDescriptor*>(ref->rdTargetCursor.get())->SetPassword(u"");
  EXPECT_NE(Outcome([&] { refInt->SaveToWriter(writer, 19999); }).find(u"#12039"), UnicodeString::npos);
  second->rdSources[0]->SetSkipOnNull(false);
  second->rdActions[0]->SetSkipOnNull(false);
  EXPECT_EQ(Outcome([&] { refInt->SaveToWriter(writer, 19999); }), u"ok");
}

TEST_F(RefIntTest, DamagedPartsAreRefused) {
  dict.CheckValid(false);
  const auto bytes = WriteDict(zfEngineVersion);
  auto patched = [&](const std::string& aFrom, const std::string& aTo) {
    std::vector<uint8_t> b = bytes;
    auto it = std::search(b.begin(), b.end(), aFrom.begin(), aFrom.end());
    EXPECT_NE(it, b.end());
    std::copy(aTo.begin(), aTo.end(), it);
    TzfDataDictionary read;
    TzfMemoryStream stream(-1);
    LoadBytes(stream, b);
    return Outcome([&] { read.ReadFromStream(stream, u"T"); });
  };
  // The class names of reference, target, source and action, each replaced by an unknown one.
  EXPECT_NE(patched("TzfReferenceDescriptor", "TzfReferenceDescriptoX").find(u"#15499"), UnicodeString::npos);
  EXPECT_NE(patched("TzfTableTargetCursorDescriptor", "TzfTableTargetCursorDescriptoX").find(u"TargetCursorDescriptor class"),
            UnicodeString::npos);
  EXPECT_NE(patched("TzfFieldSourceDescriptor", "TzfFieldSourceDescriptoX").find(u"SourceDescriptor"),
            UnicodeString::npos);
  EXPECT_NE(patched("TzfCascadeDeleteActionDescriptor", "TzfCascadeDeleteActionDescriptoX").find(u"ActionDescriptor"),
            UnicodeString::npos);
  // An abstract target class named in the stream is not made.
  EXPECT_NE(patched("\x1eTzfTableTargetCursorDescriptor", "\x1dTzfBaseTargetCursorDescriptor\x07").find(u"#15499"),
            UnicodeString::npos);
}

}  // namespace
}  // namespace zf
