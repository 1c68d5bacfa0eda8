#include "platform/rtl/rtlStringList.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/rtlException.h"

using namespace zf::rtl;

namespace {

std::vector<UnicodeString> Strings(const TStrings& aList) {
  std::vector<UnicodeString> r;
  for (int32_t i = 0; i < aList.Count(); ++i) r.push_back(aList[i]);
  return r;
}

// Objects are small integers marked in a log when freed.
std::vector<intptr_t> gFreed;
void LogFree(void* aObject) { gFreed.push_back(reinterpret_cast<intptr_t>(aObject)); }
void* Obj(intptr_t v) { return reinterpret_cast<void*>(v); }

template <class E>
std::u16string MessageOf(const std::function<void()>& aCall) {
  try {
    aCall();
  } catch (const E& e) {
    return e.Message();
  }
  return u"<no exception>";
}

TEST(StringList, SortedInsertionFollowsTheComparison) {
  struct Case {
    bool caseSensitive;
    std::vector<UnicodeString> expected;
  };
  // Without case the ASCII letters fold to upper case, so "_" (after "Z") sorts after every letter
  // and a later "b" goes in front of the equal "B"; with case the lower-case letters follow "_".
  const Case cases[] = {
      {false, {u"a", u"b", u"B", u"Z", u"_"}},
      {true, {u"B", u"Z", u"_", u"a", u"b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caseSensitive);
    TStringList l;
    l.SetCaseSensitive(c.caseSensitive);
    l.SetSorted(true);
    l.SetDuplicates(dupAccept);
    for (const char16_t* s : {u"B", u"_", u"a", u"Z", u"b"}) l.Add(s);
    EXPECT_EQ(Strings(l), c.expected);
  }
}

TEST(StringList, FindAnswersTheFirstEqualEntryOrTheInsertPosition) {
  TStringList l;
  l.SetSorted(true);
  l.SetDuplicates(dupAccept);
  for (const char16_t* s : {u"d", u"b", u"B", u"f", u"b"}) l.Add(s);
  int32_t i = -1;
  EXPECT_TRUE(l.Find(u"B", i));
  EXPECT_EQ(i, 0);
  EXPECT_FALSE(l.Find(u"c", i));
  EXPECT_EQ(i, 3);
  EXPECT_FALSE(l.Find(u"z", i));
  EXPECT_EQ(i, 5);
  EXPECT_FALSE(l.Find(u"", i));
  EXPECT_EQ(i, 0);
  EXPECT_EQ(l.IndexOf(u"F"), 4);
  EXPECT_EQ(l.IndexOf(u"x"), -1);

  l.SetCaseSensitive(true);  // re-sorts: "B" before the two "b"
  EXPECT_EQ(Strings(l), (std::vector<UnicodeString>{u"B", u"b", u"b", u"d", u"f"}));
  EXPECT_TRUE(l.Find(u"b", i));
  EXPECT_EQ(i, 1);
  EXPECT_EQ(l.IndexOf(u"F"), -1);
}

TEST(StringList, SortingAnUnsortedListKeepsTheObjectsWithTheirStrings) {
  TStringList l;
  l.AddObject(u"c", Obj(3));
  l.AddObject(u"a", Obj(1));
  l.AddObject(u"b", Obj(2));
  EXPECT_EQ(l.IndexOf(u"B"), 2);  // unsorted: linear
  l.SetSorted(true);
  EXPECT_EQ(Strings(l), (std::vector<UnicodeString>{u"a", u"b", u"c"}));
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(l.GetObject(i), Obj(i + 1));
}

TEST(StringList, DuplicatesModes) {
  struct Case {
    TDuplicates dups;
    int32_t count;
    bool raises;
  };
  const Case cases[] = {{dupIgnore, 2, false}, {dupAccept, 3, false}, {dupError, 2, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.dups));
    TStringList l;
    l.SetSorted(true);
    l.SetDuplicates(c.dups);
    l.AddObject(u"k", Obj(1));
    l.AddObject(u"z", Obj(2));
    if (c.raises) {
      EXPECT_EQ(MessageOf<EStringListError>([&] { l.AddObject(u"K", Obj(9)); }),
                u"String list does not allow duplicates");
    } else {
      EXPECT_EQ(l.AddObject(u"K", Obj(9)), 0);
    }
    EXPECT_EQ(l.Count(), c.count);
    EXPECT_EQ(l.GetObject(l.Count() - 1), Obj(2));
    if (c.dups == dupIgnore) {
      EXPECT_EQ(l.GetObject(0), Obj(1));
    }
  }
  // An unsorted list takes every string whatever the mode.
  TStringList u;
  u.SetDuplicates(dupError);
  u.Add(u"k");
  u.Add(u"k");
  EXPECT_EQ(u.Count(), 2);
}

TEST(StringList, BadIndexesRaiseAndChangeNothing) {
  TStringList l;
  l.Add(u"a");
  l.Add(u"b");
  struct Case {
    const char* what;
    std::function<void()> call;
    const char16_t* message;
  };
  const Case cases[] = {
      {"Get -1", [&] { (void)l.Get(-1); }, u"List index out of bounds (-1)"},
      {"Get Count", [&] { (void)l[2]; }, u"List index out of bounds (2)"},
      {"GetObject", [&] { (void)l.GetObject(5); }, u"List index out of bounds (5)"},
      {"PutObject", [&] { l.PutObject(2, nullptr); }, u"List index out of bounds (2)"},
      {"Put", [&] { l.Put(-3, u"x"); }, u"List index out of bounds (-3)"},
      {"Delete", [&] { l.Delete(2); }, u"List index out of bounds (2)"},
      {"Insert beyond Count", [&] { l.Insert(3, u"x"); }, u"List index out of bounds (3)"},
      {"Names", [&] { (void)l.Names(7); }, u"List index out of bounds (7)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(MessageOf<EStringListError>(c.call), c.message);
  }
  EXPECT_EQ(Strings(l), (std::vector<UnicodeString>{u"a", u"b"}));
  l.Insert(2, u"c");  // Count itself is a valid insert position
  EXPECT_EQ(l[2], u"c");
}

TEST(StringList, SortedListRefusesPositionalChanges) {
  TStringList l;
  l.SetSorted(true);
  l.Add(u"b");
  EXPECT_EQ(MessageOf<EStringListError>([&] { l.Insert(0, u"z"); }), u"Operation not allowed on sorted list");
  EXPECT_EQ(MessageOf<EStringListError>([&] { l.Put(0, u"z"); }), u"Operation not allowed on sorted list");
  EXPECT_EQ(Strings(l), std::vector<UnicodeString>{u"b"});
}

TEST(StringList, OwnedObjectsAreFreedOnDeleteClearAndDestruction) {
  gFreed.clear();
  {
    TStringList l(&LogFree);
    EXPECT_TRUE(l.OwnsObjects());
    for (intptr_t i = 1; i <= 5; ++i) l.AddObject(u"s", Obj(i));
    l.Add(u"no object");  // nil objects are not handed to the freer
    l.Delete(1);
    EXPECT_EQ(gFreed, std::vector<intptr_t>{2});
    l.Clear();
    EXPECT_EQ(gFreed, (std::vector<intptr_t>{2, 1, 3, 4, 5}));
    EXPECT_EQ(l.Count(), 0);
    l.AddObject(u"t", Obj(6));
  }
  EXPECT_EQ(gFreed.back(), 6);

  // A list that does not own its objects leaves them alone, freer or not.
  gFreed.clear();
  {
    TStringList l;
    l.SetObjectFreer(&LogFree);
    l.AddObject(u"a", Obj(1));
    l.Delete(0);
    l.AddObject(u"b", Obj(2));
    l.Clear();
    l.AddObject(u"c", Obj(3));
  }
  EXPECT_TRUE(gFreed.empty());
  TStringList noFreer;
  EXPECT_THROW(noFreer.SetOwnsObjects(true), EAssertionFailed);
}

TEST(StringList, NamesAndValues) {
  TStringList l;
  l.Add(u"Owner=alice");
  l.Add(u"plain line");
  l.Add(u"Empty=");
  l.Add(u"Expr=a=b");
  EXPECT_EQ(l.Names(0), u"Owner");
  EXPECT_EQ(l.Names(1), u"");
  EXPECT_EQ(l.ValueFromIndex(3), u"a=b");
  EXPECT_EQ(l.Values(u"OWNER"), u"alice");
  EXPECT_EQ(l.Values(u"plain line"), u"");
  EXPECT_EQ(l.IndexOfName(u"plain line"), -1);
  EXPECT_EQ(l.IndexOfName(u"empty"), 2);

  l.SetValue(u"owner", u"bob");  // replaces the line under the new spelling
  l.SetValue(u"Added", u"1");
  l.SetValue(u"Expr", u"");  // an empty value removes the line
  l.SetValue(u"Missing", u"");
  EXPECT_EQ(Strings(l), (std::vector<UnicodeString>{u"owner=bob", u"plain line", u"Empty=", u"Added=1"}));
}

TEST(StringList, AddStringsAndUpdateBrackets) {
  class Tracked : public TStringList {
   public:
    std::string trace;

   protected:
    void SetUpdateState(bool aUpdating) override { trace += aUpdating ? '+' : '-'; }
  };
  TStringList src;
  src.AddObject(u"x", Obj(1));
  src.AddObject(u"y", Obj(2));
  Tracked dst;
  dst.BeginUpdate();
  dst.AddStrings(src);
  EXPECT_EQ(dst.trace, "+");
  dst.EndUpdate();
  dst.EndUpdate();  // unbalanced: ignored
  EXPECT_EQ(dst.trace, "+-");
  EXPECT_EQ(dst.UpdateCount(), 0);
  EXPECT_EQ(Strings(dst), (std::vector<UnicodeString>{u"x", u"y"}));
  EXPECT_EQ(dst.IndexOfObject(Obj(2)), 1);
}

}  // namespace
