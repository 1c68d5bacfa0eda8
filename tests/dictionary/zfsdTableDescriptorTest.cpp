#include "dictionary/zfsdTableDescriptor.h"

#include <gtest/gtest.h>

#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdDataDictionaryRefInt.h"
#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdFileDescriptor.h"
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

class TableDescriptorTest : public test::DictionaryStarted {
 protected:

  // Dictionary T with nested table A holding nested table B, each with one field.
  void SetUp() override {
    dict.ddBaseName = u"T";
    dict.tdFieldsDescriptor->AddField(u"F", u"", zftInt32, 0, 0, false, nullptr);
    a = dict.tdTablesDescriptor->AddTable(u"A", nullptr);
    a->tdFieldsDescriptor->AddField(u"FA", u"", zftInt32, 0, 0, false, nullptr);
    a->AddRecordDescriptor(nullptr);
    b = a->tdTablesDescriptor->AddTable(u"B", nullptr);
    b->tdFieldsDescriptor->AddField(u"FB", u"", zftInt32, 0, 0, false, nullptr);
    b->AddRecordDescriptor(nullptr);
  }

  TzfDataDictionary dict;
  TzfNestedTableDescriptor* a = nullptr;
  TzfNestedTableDescriptor* b = nullptr;
};

TEST_F(TableDescriptorTest, PathsAndFullNames) {
  struct Case {
    TzfBaseTableDescriptor* from;
    const char16_t* path;
    TzfBaseTableDescriptor* expected;
  };
  const Case cases[] = {
      {&dict, u"", &dict}, {&dict, u"A", a},       {&dict, u".:A", a},     {&dict, u"a:b", b},
      {b, u"..", a},       {b, u"..:..", &dict},   {b, u".:..:B", b},      {a, u"..:A:B", b},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(rtl::Utf16ToUtf8(c.path));
    EXPECT_EQ(c.from->GetChild(c.path), c.expected);
  }
  EXPECT_EQ(b->btdFullName(), u"T:A:B");
  EXPECT_EQ(Outcome([&] { dict.GetChild(u".."); }),
            u"!EzfDataDictionaryException #10024: ZofrinDB: Table does not exist. [$2728/10024]");
  EXPECT_NE(Outcome([&] { dict.GetChild(u"A:C"); }).find(u"#10024"), UnicodeString::npos);
}

TEST_F(TableDescriptorTest, NestedTableNamesAreCheckedAndUnique) {
  TzfTablesDescriptor& tables = *dict.tdTablesDescriptor;
  EXPECT_EQ(Outcome([&] { tables.AddTable(u"a", nullptr); }),
            u"!EzfTablesDescriptorException #10009: ZofrinDB: Duplicated table name: a [$2719/10009]");
  EXPECT_NE(Outcome([&] { tables.AddTable(u" x", nullptr); }).find(u"#10039"), UnicodeString::npos);
  EXPECT_NE(Outcome([&] { tables.AddTable(u"", nullptr); }).find(u"#10039"), UnicodeString::npos);
  EXPECT_EQ(Outcome([&] { tables.AddTable(u"$sys", nullptr); }), u"ok");
  EXPECT_EQ(tables.TableCount(), 2);

  // Renaming to the same letters in another case is a clash with itself; the identical name does
  // nothing.
  EXPECT_NE(Outcome([&] { tables.RenameTable(u"A", u"a"); }).find(u"#10009"), UnicodeString::npos);
  EXPECT_EQ(Outcome([&] { tables.RenameTable(u"A", u"A"); }), u"ok");
  tables.RenameTable(u"A", u"C");
  EXPECT_EQ(b->btdFullName(), u"T:C:B");
  EXPECT_NE(Outcome([&] { tables.RenameTable(u"Z", u"Y"); }).find(u"#10024"), UnicodeString::npos);

  tables.RemoveTable(7);
  tables.RemoveTable(u"missing");
  EXPECT_EQ(tables.TableCount(), 2);
  tables.RemoveTable(u"c");
  EXPECT_EQ(tables.TableCount(), 1);
}

TEST_F(TableDescriptorTest, CustomDescriptorNamesAreCheckedAndUnique) {
  TzfCustomDescsDescriptor& customs = *dict.tdCustomDescsDescriptor;
  customs.AddCustom(u"One", nullptr);
  EXPECT_EQ(Outcome([&] { customs.AddCustom(u"ONE", nullptr); }),
            u"!EzfCustomDescsDescriptorException #10009: ZofrinDB: Duplicated custom descriptor name: ONE "
            u"[$2719/10009]");
  EXPECT_NE(Outcome([&] { customs.AddCustom(u"a ", nullptr); }).find(u"#10068"), UnicodeString::npos);
  EXPECT_EQ(customs.CustomCount(), 1);
  EXPECT_EQ(customs.GetCustomDescriptorFromName(u"one"), 0);
  // A name made equal behind the list's back is caught by the check.
  customs.AddCustom(u"Two", nullptr)->bcdName = u"one";
  EXPECT_NE(Outcome([&] { customs.CheckValid(false); }).find(u"#10009"), UnicodeString::npos);
}

TEST_F(TableDescriptorTest, ConstraintNamesAreUniqueWithinATable) {
  TzfIndexDescriptor* index =
      dict.tdIndicesDescriptor->AddIndex(u"ByF", 0, idNone, u"", &TzfCompKeyDescriptor::ClassInfo(), nullptr);
  index->ChangeConstraintName(u"PK");
  EXPECT_EQ(dict.GetConstraintByName(u"pk"), index);
  TzfFieldDescriptor* field = dict.tdFieldsDescriptor->FieldDescriptor[0].get();
  EXPECT_EQ(Outcome([&] { field->ChangeConstraintName(u"Pk"); }),
            u"!EzfDataDictionaryException #10009: ZofrinDB: Constraint name already in use: \"Pk\" [$2719/10009]");
  EXPECT_EQ(dict.GetConstraintByName(u"PK"), index);
  // A nested table keeps its own names.
  a->tdFieldsDescriptor->FieldDescriptor[0]->ChangeConstraintName(u"PK");
  EXPECT_EQ(dict.GetConstraints().size(), 1u);
  EXPECT_EQ(a->GetConstraints().size(), 1u);
  // An index descriptor that would bring a name in use cannot join.
  auto other = TzfIndexDescriptor::CreateStandalone(0, u"Other", 0, nullptr);
  other->diConstraintName = u"pk";
  EXPECT_FALSE(dict.IsIndexDescValid(other.get()));
  index->ChangeConstraintName(u"");
  EXPECT_EQ(dict.GetConstraintByName(u"PK"), nullptr);
  EXPECT_FALSE(dict.tdConstraints);
}

TEST_F(TableDescriptorTest, BookmarkSizes) {
  TzfIndexDescriptor* index =
      dict.tdIndicesDescriptor->AddIndex(u"ByF", 0, idNone, u"", &TzfCompKeyDescriptor::ClassInfo(), nullptr);
  dynamic_cast<TzfCompKeyDescriptor*>(index->idKeyDescriptor.get())->Add(0, nullptr);
  EXPECT_EQ(dict.GetBookmarkSize(0), 32);
  EXPECT_EQ(dict.GetBookmarkSize(1), 24 + index->idKeyDescriptor->GetKeyLength());
  EXPECT_EQ(Outcome([&] { dict.GetBookmarkSize(2); }),
            u"!EzfDataDictionaryException #9999: ZofrinDB: Index out of bounds: 2 [$270F/9999]");
  EXPECT_EQ(a->GetBookmarkSize(-5), 24);  // no indexes
}

TEST_F(TableDescriptorTest, RelatedDescriptorsAnswerForOwnedKindsEvenWhenAbsent) {
  TzfDictionaryItem* found = nullptr;
  EXPECT_TRUE(a->FindRelatedDescriptorOfType(TzfBaseBlobDescriptor::ClassInfo(), found));
  EXPECT_EQ(found, nullptr);
  // Files belong to the dictionary: a nested table passes the question up.
  EXPECT_TRUE(b->FindRelatedDescriptorOfType(TzfFilesDescriptor::ClassInfo(), found));
  EXPECT_EQ(found, dict.ddFilesDescriptor.get());
  EXPECT_EQ(a->tdFieldsDescriptor->FindRelated<TzfFieldsDescriptor>(), a->tdFieldsDescriptor.get());
}

TEST_F(TableDescriptorTest, EqualityComparesNestedTablesByName) {
  TzfDataDictionary other;
  other.Assign(&dict);
  EXPECT_TRUE(other.IsEqual(&dict));
  other.tdTablesDescriptor->RenameTable(u"A", u"X");
  EXPECT_FALSE(other.IsEqual(&dict));
  other.tdTablesDescriptor->RenameTable(u"X", u"a");
  EXPECT_TRUE(other.IsEqual(&dict));
  other.GetChild(u"a:B")->tdFieldsDescriptor->AddField(u"G", u"", zftInt32, 0, 0, false, nullptr);
  EXPECT_FALSE(other.IsEqual(&dict));
}

}  // namespace
}  // namespace zf
