#include "dictionary/zfsdDictionaryItem.h"

#include <gtest/gtest.h>

#include <memory>

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

// A registry level with a body of one Integer, referring to another item by pointer.
class TTestItem : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfIndexDescriptorException)
 public:
  explicit TTestItem(TzfPersistent* aParent) : TzfDictionaryItem(aParent) {}
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override {
    TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
    aWriter.WriteInteger(Value);
  }
  void LoadFromReader(TzfReader& aReader) override {
    TzfDictionaryItem::LoadFromReader(aReader);
    Value = aReader.ReadInteger();
  }
  bool References(const TzfDictionaryItem* aItem) const override { return aItem && aItem == Target; }
  int32_t Value = 0;
  const TzfDictionaryItem* Target = nullptr;
};

class TTestSubItem : public TTestItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfIndexDescriptorException)
 public:
  using TTestItem::TTestItem;
};

class TTestOtherItem : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfFilesDescriptorException)
 public:
  using TzfDictionaryItem::TzfDictionaryItem;
};

const TzfDictionaryItemClassInfo& TTestItem::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TTestItem", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TTestItem>, &zfNewDictionaryItem<TTestItem>);
  return info;
}
const TzfDictionaryItemClassInfo& TTestSubItem::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TTestSubItem", &TTestItem::ClassInfo(), nullptr,
                                               &zfNewDictionaryItem<TTestSubItem>);
  return info;
}
const TzfDictionaryItemClassInfo& TTestOtherItem::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TTestOtherItem", &TzfDictionaryItem::ClassInfo(), nullptr,
                                               &zfNewDictionaryItem<TTestOtherItem>);
  return info;
}

class DictionaryItemTest : public test::DictionaryStarted {
 protected:
  TTestDictionary dict;
};

TEST_F(DictionaryItemTest, IdsComeFromTheDictionaryAndChildrenRegister) {
  TTestItem a(&dict);
  TTestItem b(&a);
  TTestItem loose(nullptr);
  EXPECT_EQ(dict.diID, 0);
  EXPECT_EQ(a.diID, 1);
  EXPECT_EQ(b.diID, 2);
  EXPECT_EQ(loose.diID, 0);
  EXPECT_EQ(dict.diChilds, std::vector<TzfDictionaryItem*>{&a});
  EXPECT_EQ(a.diChilds, std::vector<TzfDictionaryItem*>{&b});
  {
    TTestItem c(&a);
    EXPECT_EQ(a.diChilds.size(), 2u);
  }
  EXPECT_EQ(a.diChilds, std::vector<TzfDictionaryItem*>{&b});
}

TEST_F(DictionaryItemTest, HeaderBytesForOldAndNewClients) {
  TTestItem a(&dict);
  a.CustomStringList() = {u"x", u"yz"};
  a.ChangeConstraintName(u"C1");
  a.Value = 5;
  // Version 1: Integer 1, list of strings, end of list; then the body.
  EXPECT_EQ(SavedItem(a, 19999), (std::vector<uint8_t>{2, 1, 1, 6, 1, 'x', 6, 2, 'y', 'z', 0, 2, 5}));
  // Version 3: ID and constraint name follow the list.
  EXPECT_EQ(SavedItem(a, 20000),
            (std::vector<uint8_t>{2, 3, 1, 6, 1, 'x', 6, 2, 'y', 'z', 0, 2, 1, 6, 2, 'C', '1', 2, 5}));
}

TEST_F(DictionaryItemTest, HeaderVersionsRead) {
  struct Case {
    std::vector<uint8_t> bytes;
    UnicodeString outcome;
    int32_t id;
    UnicodeString constraint;
  } cases[] = {
      {{2, 1, 1, 6, 1, 'q', 0, 2, 7}, u"ok", 0, u""},
      {{2, 2, 1, 0, 2, 42, 2, 7}, u"ok", 42, u""},
      {{2, 3, 1, 0, 2, 43, 6, 1, 'K', 2, 7}, u"ok", 43, u"K"},
      {{2, 0, 1, 0, 2, 7}, u"!EzfDictionaryItemException #15498: ZofrinDB: Incompatible stream [$3C8A/15498]", 0, u""},
      {{2, 4, 1, 0, 2, 7}, u"!EzfDictionaryItemException #15498: ZofrinDB: Incompatible stream [$3C8A/15498]", 0, u""},
  };
  for (const auto& c : cases) {
    TTestItem a(nullptr);
    EXPECT_EQ(LoadItem(a, c.bytes), c.outcome);
    if (c.outcome == u"ok") {
      EXPECT_EQ(a.diID, c.id);
      EXPECT_EQ(a.diConstraintName, c.constraint);
      EXPECT_EQ(a.Value, 7);
    }
  }
}

TEST_F(DictionaryItemTest, StoredBooleanMustBeABoolean) {
  TTestItem a(nullptr);
  for (auto [bytes, outcome] : std::vector<std::pair<std::vector<uint8_t>, const char16_t*>>{
           {{9}, u"ok"}, {{8}, u"ok"}, {{2, 1}, u"!EzfIndexDescriptorException #15498: ZofrinDB: Incompatible stream [$3C8A/15498]"}}) {
    TzfMemoryStream s(-1);
    LoadBytes(s, bytes);
    TzfReader r(s);
    EXPECT_EQ(Outcome([&] { a.ReadStoredBoolean(r); }), outcome);
  }
}

TEST_F(DictionaryItemTest, AssignKeepsTheTargetsIdsAndRefusesOtherClasses) {
  TTestItem src(&dict);
  src.Value = 9;
  src.CustomStringList() = {u"s"};
  TTestItem dst(&dict);
  dst.CustomStringList() = {u"old"};
  const int32_t id = dst.diID;
  ASSERT_NE(id, src.diID);
  dst.Assign(&src);
  EXPECT_EQ(dst.Value, 9);
  EXPECT_EQ(dst.diID, id);
  EXPECT_EQ(dst.CustomStringList(), std::vector<UnicodeString>{u"s"});
  EXPECT_EQ(DictionaryAssignDepth(), 0);

  TTestSubItem sub(nullptr);
  EXPECT_EQ(Outcome([&] { dst.Assign(&sub); }), u"!EConvertError: Cannot assign a TTestSubItem to a TTestItem");
  EXPECT_EQ(Outcome([&] { dst.Assign(nullptr); }), u"!EConvertError: Cannot assign a nil to a TTestItem");
}

TEST_F(DictionaryItemTest, ConstraintNamesAreValidatedAndUniqueInTheTable) {
  TTestItem a(&dict);
  TTestItem b(&dict);
  a.ChangeConstraintName(u"PK");
  EXPECT_EQ(dict.Constraints, std::vector<UnicodeString>{u"PK"});
  EXPECT_EQ(Outcome([&] { b.ChangeConstraintName(u"pk"); }).substr(0, 41),
            u"!EzfBaseTableDescriptorException #10009: ");
  EXPECT_EQ(b.diConstraintName, u"");
  EXPECT_EQ(Outcome([&] { b.ChangeConstraintName(u"no:good"); }).substr(0, 36),
            u"!EzfDictionaryItemException #10068: ");
  a.ChangeConstraintName(u"PK2");
  EXPECT_EQ(dict.Constraints, std::vector<UnicodeString>{u"PK2"});
  b.ChangeConstraintName(u"PK");
  {
    TTestItem c(&dict);
    c.ChangeConstraintName(u"$C");
    EXPECT_EQ(dict.Constraints.size(), 3u);
  }
  // A destroyed item releases its name.
  EXPECT_EQ(dict.Constraints, (std::vector<UnicodeString>{u"PK2", u"PK"}));
}

TEST_F(DictionaryItemTest, ReadOnlyDictionaryRefusesChanges) {
  TTestItem a(&dict);
  dict.ReadOnly = true;
  std::vector<UnicodeString> v{u"a"};
  EXPECT_EQ(Outcome([&] { a.ReplaceCustomStrings(&v); }).substr(0, 36), u"!EzfDataDictionaryException #15500: ");
  dict.ReadOnly = false;
  a.ReplaceCustomStrings(&v);
  EXPECT_TRUE(a.HasCustomStrings());
  a.ReplaceCustomStrings(nullptr);
  EXPECT_FALSE(a.HasCustomStrings());
}

TEST_F(DictionaryItemTest, ParentsAndRelatedDescriptors) {
  TTestOtherItem other(&dict);
  TTestItem item(&other);
  TTestSubItem sub(&item);
  TzfDictionaryItem* d = nullptr;
  EXPECT_TRUE(sub.FindRelatedDescriptorOfType(TTestItem::ClassInfo(), d));
  EXPECT_EQ(d, &sub);
  EXPECT_TRUE(sub.FindRelatedDescriptorOfType(TTestOtherItem::ClassInfo(), d));
  EXPECT_EQ(d, &other);
  EXPECT_EQ(sub.GetParent<TTestItem>(), &item);
  EXPECT_EQ(sub.FindParent<TTestDictionary>(), &dict);
  EXPECT_EQ(sub.FindDictionaryRoot(), &dict);
  TTestItem loose(nullptr);
  EXPECT_EQ(Outcome([&] { loose.GetParentOfType(TTestItem::ClassInfo()); }),
            u"!EzfDictionaryItemException #8712: ZofrinDB: No Parent of type TTestItem could be found [$2208/8712]");
  EXPECT_EQ(Outcome([&] { loose.GetRelatedDescriptorOfType(TTestOtherItem::ClassInfo()); }),
            u"!EzfDictionaryItemException #8712: ZofrinDB: No related Descriptor of type TTestOtherItem could be "
            u"found [$2208/8712]");
}

TEST_F(DictionaryItemTest, IterateReferencingVisitsReferencingChildren) {
  TTestItem root(nullptr);
  TTestItem target(nullptr);
  int calls = 0;
  auto count = [&](TzfDictionaryItem*, void*) {
    ++calls;
    return irContinue;
  };
  EXPECT_EQ(root.IterateReferencing(count, nullptr, &target, true), irContinue);
  EXPECT_EQ(calls, 0);
  TTestItem a(&root), b(&root), deep(&a);
  a.Target = &target;
  deep.Target = &target;
  EXPECT_EQ(root.IterateReferencing(count, nullptr, &target, false), irContinue);
  EXPECT_EQ(calls, 1);
  calls = 0;
  EXPECT_EQ(root.IterateReferencing(count, nullptr, &target, true), irContinue);
  EXPECT_EQ(calls, 2);
  auto stop = [&](TzfDictionaryItem*, void*) { return irStop; };
  EXPECT_EQ(root.IterateReferencing(stop, nullptr, &target, true), irStop);
}

TEST_F(DictionaryItemTest, CacheSwitchesTheWholeSubtree) {
  TTestItem a(&dict);
  TTestItem b(&a);
  dict.ActivateCache();
  EXPECT_TRUE(a.diCacheActive && b.diCacheActive);
  dict.DeactivateCache();
  EXPECT_FALSE(a.diCacheActive || b.diCacheActive);
}

TEST_F(DictionaryItemTest, StoredClassNamesAreFoundWithoutRegardToCase) {
  TzfBaseRegisterableDescriptor::RegisterDescriptor(TTestItem::ClassInfo());
  TzfBaseRegisterableDescriptor::RegisterDescriptor(TTestSubItem::ClassInfo());
  TTestItem a(nullptr);
  EXPECT_EQ(&a.FindStoredDescriptorClass(TTestItem::ClassInfo(), u"TestKind", u"ttestsubitem"),
            &TTestSubItem::ClassInfo());
  EXPECT_EQ(Outcome([&] { a.FindStoredDescriptorClass(TTestItem::ClassInfo(), u"TestKind", u"TNope"); }),
            u"!EzfIndexDescriptorException #15499: ZofrinDB: TestKind class is not supported: TNope [$3C8B/15499]");
  TzfBaseRegisterableDescriptor::UnregisterDescriptor(TTestSubItem::ClassInfo());
  TzfBaseRegisterableDescriptor::UnregisterDescriptor(TTestItem::ClassInfo());
}

TEST_F(DictionaryItemTest, StoredCountsAndNestingAreBounded) {
  TTestItem a(nullptr);
  TzfMemoryStream s(-1);
  LoadBytes(s, std::vector<uint8_t>(10, 0));
  TzfReader r(s);
  EXPECT_EQ(Outcome([&] { a.CheckStoredCount(r, 5, 2); }), u"ok");
  EXPECT_NE(Outcome([&] { a.CheckStoredCount(r, 6, 2); }), u"ok");
  EXPECT_NE(Outcome([&] { a.CheckStoredCount(r, -1, 2); }), u"ok");
  std::vector<std::unique_ptr<TzfDictionaryReadNesting>> levels;
  for (int i = 0; i < TzfDictionaryReadNesting::kMaxDepth; ++i)
    levels.push_back(std::make_unique<TzfDictionaryReadNesting>(a));
  EXPECT_EQ(Outcome([&] { TzfDictionaryReadNesting one(a); }).substr(0, 37), u"!EzfIndexDescriptorException #15498: ");
  levels.clear();
  EXPECT_EQ(Outcome([&] { TzfDictionaryReadNesting one(a); }), u"ok");
}

TEST_F(DictionaryItemTest, LocaleFixesSwitchCanBeSetEitherWay) {
  const bool saved = zfDisable30900LocaleFixes();
  zfSetDisable30900LocaleFixes(true);
  EXPECT_TRUE(zfDisable30900LocaleFixes());
  zfSetDisable30900LocaleFixes(false);
  EXPECT_FALSE(zfDisable30900LocaleFixes());
  zfSetDisable30900LocaleFixes(saved);
}

}  // namespace
}  // namespace zf
