#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "foundation/zfllList.h"
#include "platform/rtl/rtlException.h"

using namespace zf;
using rtl::UnicodeString;

namespace {

std::vector<UnicodeString> Strings(const rtl::TStrings& aList) {
  std::vector<UnicodeString> r;
  for (int32_t i = 0; i < aList.Count(); ++i) r.push_back(aList[i]);
  return r;
}

// An engine object that logs its number when destroyed.
class Logged : public TzfObject {
 public:
  Logged(int aId, std::vector<int>& aLog) : FId(aId), FLog(aLog) {}
  ~Logged() override { FLog.push_back(FId); }

 private:
  int FId;
  std::vector<int>& FLog;
};

// Strings that only ASCII folding tells apart from ordinal order, added in this order.
const char16_t* const kInput[] = {u"b", u"\u00e9", u"A", u"_", u"\u00c9", u"a", u"B"};

TEST(FastStringList, OrderAndIdentityOfTheThreeKinds) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<TzfFastStringList>()> make;
    std::vector<UnicodeString> order;
  };
  const Case cases[] = {
      // Only a-z fold: the accented letters stay apart and above every ASCII letter.
      {"folding", [] { return std::make_unique<TzfFastStringList>(rtl::dupIgnore); },
       {u"A", u"b", u"_", u"\u00c9", u"\u00e9"}},
      {"IC", [] { return std::make_unique<TzfFastStringListIC>(rtl::dupIgnore); },
       {u"A", u"b", u"_", u"\u00c9", u"\u00e9"}},
      {"CS", [] { return std::make_unique<TzfFastStringListCS>(rtl::dupIgnore); },
       {u"A", u"B", u"_", u"a", u"b", u"\u00c9", u"\u00e9"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<TzfFastStringList> l = c.make();
    EXPECT_TRUE(l->Sorted());
    for (const char16_t* s : kInput) l->Add(s);
    EXPECT_EQ(Strings(*l), c.order);
    int32_t i = -1;
    EXPECT_TRUE(l->Find(u"A", i));
    EXPECT_EQ(i, 0);
    EXPECT_TRUE(l->Find(u"a", i));
    EXPECT_EQ(i, l->CaseSensitive() ? 3 : 0);
    EXPECT_FALSE(l->Find(u"\u00ca", i));
    EXPECT_EQ(i, l->Count() - 1);
  }
}

TEST(FastStringList, CaseSensitivityOfTheBaseFollowsTheSetting) {
  TzfFastStringList l(rtl::dupAccept);
  EXPECT_FALSE(l.CaseSensitive());
  EXPECT_EQ(l.CompareStrings(u"abc", u"ABC"), 0);
  l.SetCaseSensitive(true);
  EXPECT_GT(l.CompareStrings(u"abc", u"ABC"), 0);

  // The two fixed kinds ignore the setting.
  TzfFastStringListCS cs;
  EXPECT_TRUE(cs.CaseSensitive());
  cs.SetCaseSensitive(false);
  EXPECT_NE(cs.CompareStrings(u"x", u"X"), 0);
  TzfFastStringListIC ic;
  ic.SetCaseSensitive(true);
  EXPECT_EQ(ic.CompareStrings(u"x", u"X"), 0);
  EXPECT_LT(ic.CompareStrings(u"z", u"_"), 0);  // folded up: "Z" < "_"
  EXPECT_NE(ic.CompareStrings(u"\u00e9", u"\u00c9"), 0);
}

TEST(FastStringList, CreateSortedRefusesDuplicatesByItsComparison) {
  TzfFastStringListIC ic(rtl::dupError);
  ic.Add(u"Key");
  EXPECT_THROW(ic.Add(u"KEY"), rtl::EStringListError);
  TzfFastStringListCS cs(rtl::dupError);
  cs.Add(u"Key");
  EXPECT_EQ(cs.Add(u"KEY"), 0);
  EXPECT_THROW(cs.Add(u"Key"), rtl::EStringListError);
  EXPECT_EQ(cs.Count(), 2);
}

TEST(FastStringList, ClearFreesTheAttachedObjectsOnlyWhenAsked) {
  std::vector<int> log;
  TzfFastStringList l(rtl::dupAccept);
  l.AddObject(u"c", new Logged(3, log));
  l.AddObject(u"a", new Logged(1, log));
  l.Add(u"b");
  l.AddObject(u"d", new Logged(4, log));
  std::vector<TzfObject*> objects;
  for (int32_t i = 0; i < l.Count(); ++i) objects.push_back(static_cast<TzfObject*>(l.GetObject(i)));
  l.Clear(false);
  EXPECT_TRUE(log.empty());
  for (TzfObject* o : objects) delete o;  // still alive: the caller frees them itself
  log.clear();

  l.AddObject(u"c", new Logged(3, log));
  l.AddObject(u"a", new Logged(1, log));
  l.Add(u"b");
  l.AddObject(u"d", new Logged(4, log));
  l.Clear(true);
  EXPECT_EQ(log, (std::vector<int>{1, 3, 4}));  // index order
  EXPECT_EQ(l.Count(), 0);

  // An owning list frees its engine objects on delete and on destruction.
  log.clear();
  {
    TzfFastStringListCS owner(rtl::dupError);
    owner.SetOwnsObjects(true);
    owner.AddObject(u"x", new Logged(1, log));
    owner.AddObject(u"y", new Logged(2, log));
    owner.Delete(owner.IndexOf(u"y"));
    EXPECT_EQ(log, std::vector<int>{2});
    owner.Clear(false);  // an owner frees anyway
    EXPECT_EQ(log, (std::vector<int>{2, 1}));
    owner.AddObject(u"z", new Logged(3, log));
  }
  EXPECT_EQ(log, (std::vector<int>{2, 1, 3}));
}

}  // namespace
