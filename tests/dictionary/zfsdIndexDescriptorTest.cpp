// Index and indices descriptors: the default index, renumbering, checks and streams.
#include <gtest/gtest.h>

#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdStartup.h"
#include "tests/dictionary/zfsdTestTable.h"
#include "tests/dictionary/zfsdTestUtil.h"

namespace zf::test {
namespace {

class IndexDescriptorTest : public test::DictionaryStarted {
 protected:

  void AddIndexes(int32_t aCount) {
    for (int32_t i = 0; i < aCount; ++i)
      indices.AddIndex(u"I" + rtl::IntToStr(i), 0, idNone, u"", &TzfRefKeyDescriptor::ClassInfo());
  }
  std::vector<UnicodeString> Names() const {
    std::vector<UnicodeString> r;
    for (auto& i : indices.IndexDescriptor) r.push_back(i->idName + u"#" + rtl::IntToStr(i->idNumber));
    return r;
  }

  TTestTable table{3};
  TzfMainIndicesDescriptor& indices = *table.Indices;
};

// An item that records the index notifications it hears.
class TListener : public TzfDictionaryItem {
 public:
  explicit TListener(TzfPersistent* aParent) : TzfDictionaryItem(aParent) { RegisterIndexChangeNotify(); }
  ~TListener() override { UnregisterIndexChangeNotify(); }
  void IndexNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) override {
    Heard.push_back(rtl::Format(u"%s%d>%d", {UnicodeString(aBefore ? u"b" : u"a"), aOld, aNew}));
  }
  std::vector<UnicodeString> Heard;
};

struct DefaultCase {
  const char* Name;
  int32_t Count;
  int32_t Default;
  std::function<void(TzfMainIndicesDescriptor&)> Change;
  int32_t Expected;
};

TEST_F(IndexDescriptorTest, DefaultIndexFollowsItsIndex) {
  auto add = [](TzfMainIndicesDescriptor& d) { d.AddIndex(u"New", 0, false, u""); };
  auto insertAt = [](int32_t i) {
    return [i](TzfMainIndicesDescriptor& d) { d.InsertIndexAt(i, u"New", 0, false, u""); };
  };
  auto move = [](int32_t f, int32_t t) { return [f, t](TzfMainIndicesDescriptor& d) { d.MoveIndex(f, t); }; };
  auto remove = [](int32_t i) { return [i](TzfMainIndicesDescriptor& d) { d.RemoveIndex(i); }; };
  const DefaultCase cases[] = {
      {"first index added becomes the default", 0, -1, add, 0},
      {"append keeps it", 3, 1, add, 1},
      {"insert before it", 3, 0, insertAt(0), 1},
      {"insert at it", 3, 1, insertAt(1), 2},
      {"insert after it", 3, 1, insertAt(2), 1},
      {"insert at the end", 3, 2, insertAt(3), 2},
      {"move it", 3, 0, move(0, 2), 2},
      {"move one from before it behind it", 3, 1, move(0, 2), 0},
      {"move one from behind it before it", 3, 1, move(2, 0), 2},
      {"move others around it", 4, 1, move(2, 3), 1},
      {"remove one before it", 3, 2, remove(0), 1},
      {"remove one after it", 3, 1, remove(2), 1},
      {"remove it while others remain", 3, 2, remove(2), 0},
      {"remove the last index", 1, 0, remove(0), -1},
      {"remove outside the list", 2, 1, remove(5), 1},
      {"clear with notifications", 3, 2, [](TzfMainIndicesDescriptor& d) { d.Clear(true); }, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTestTable t;
    TzfMainIndicesDescriptor& d = *t.Indices;
    for (int32_t i = 0; i < c.Count; ++i) d.AddIndex(u"I" + rtl::IntToStr(i), 0, false, u"");
    if (c.Count > 0) d.SetDefaultIndex(c.Default);
    EXPECT_EQ(d.midDefaultIndex, c.Default);
    c.Change(d);
    EXPECT_EQ(d.midDefaultIndex, c.Expected);
  }
}

TEST_F(IndexDescriptorTest, ChangesRenumberAndNotify) {
  AddIndexes(3);
  TListener listener(&table);
  indices.InsertIndexAt(1, u"X", 0, idAll, u"");
  EXPECT_EQ(Names(), (std::vector<UnicodeString>{u"I0#0", u"X#1", u"I1#2", u"I2#3"}));
  indices.MoveIndex(3, 0);
  EXPECT_EQ(Names(), (std::vector<UnicodeString>{u"I2#0", u"I0#1", u"X#2", u"I1#3"}));
  indices.RemoveIndex(u"x");
  EXPECT_EQ(Names(), (std::vector<UnicodeString>{u"I2#0", u"I0#1", u"I1#2"}));
  EXPECT_EQ(listener.Heard, (std::vector<UnicodeString>{u"b-1>1", u"a-1>3", u"a-1>1", u"b3>0", u"a3>0", u"b2>-1",
                                                        u"a2>-1"}));
  EXPECT_EQ(indices.GetDescriptorFromName(u"i1"), indices.IndexDescriptor[2].get());
}

TEST_F(IndexDescriptorTest, Refusals) {
  AddIndexes(2);
  using D = TzfMainIndicesDescriptor;
  const std::pair<std::function<void(D&)>, const char16_t*> cases[] = {
      {[](D& d) { d.AddIndex(u"i0", 0, false, u""); },
       u"!EzfMainIndicesDescriptorException #10027: ZofrinDB: Duplicated index name: i0 [$272B/10027]"},
      {[](D& d) { d.AddIndex(u"", 0, false, u""); }, u"!EzfMainIndicesDescriptorException #10022"},
      {[](D& d) { d.AddIndex(u"A", 3, false, u""); },
       u"!EzfMainIndicesDescriptorException #9999: ZofrinDB: Invalid file number: 3 [$270F/9999]"},
      {[](D& d) { d.InsertIndexAt(3, u"A", 0, false, u""); },
       u"!EzfMainIndicesDescriptorException #9999: ZofrinDB: Index out of bounds: 3 [$270F/9999]"},
      {[](D& d) { d.MoveIndex(0, 2); },
       u"!EzfMainIndicesDescriptorException #9999: ZofrinDB: Index out of bounds: 2 [$270F/9999]"},
      {[](D& d) { d.SetDefaultIndex(2); },
       u"!EzfMainIndicesDescriptorException #9999: ZofrinDB: Invalid default index number: 2 [$270F/9999]"},
  };
  for (const auto& c : cases) EXPECT_TRUE(Outcome([&] { c.first(indices); }).starts_with(c.second));
  EXPECT_EQ(indices.IndexCount(), 2);
  indices.SetDefaultIndex(-5);
  EXPECT_EQ(indices.midDefaultIndex, 0);
}

TEST_F(IndexDescriptorTest, CheckValid) {
  EXPECT_EQ(Outcome([&] { indices.CheckValid(false); }),
            u"!EzfMainIndicesDescriptorException #10005: ZofrinDB: IndicesDescriptor requires a minimum of one index "
            u"[$2715/10005]");
  AddIndexes(256);
  EXPECT_EQ(Outcome([&] { indices.CheckValid(false); }), u"ok");
  indices.AddIndex(u"Extra", 0, false, u"", &TzfRefKeyDescriptor::ClassInfo());
  EXPECT_EQ(indices.IndexCount(), 257);
  EXPECT_TRUE(Outcome([&] { indices.CheckValid(false); }).starts_with(u"!EzfMainIndicesDescriptorException #9487"));
  while (indices.IndexCount() > 1) indices.RemoveIndex(1);
  indices.IndexDescriptor[0]->idFileNumber = 7;
  EXPECT_EQ(Outcome([&] { indices.CheckValid(false); }),
            u"!EzfIndexDescriptorException #9999: ZofrinDB: Invalid file number: 7 [$270F/9999]");
}

TEST_F(IndexDescriptorTest, IndexesFollowFileRenumbering) {
  indices.AddIndex(u"A", 1, false, u"", &TzfRefKeyDescriptor::ClassInfo());
  indices.AddIndex(u"B", 2, false, u"", &TzfRefKeyDescriptor::ClassInfo());
  table.InsertFile(1);
  EXPECT_EQ(indices.IndexDescriptor[0]->idFileNumber, 2);
  EXPECT_EQ(indices.IndexDescriptor[1]->idFileNumber, 3);
  table.Files->RemoveFile(1);
  EXPECT_EQ(indices.IndexDescriptor[0]->idFileNumber, 1);
  EXPECT_EQ(Outcome([&] { table.Files->RemoveFile(2); }),
            u"!EzfIndexDescriptorException #15502: ZofrinDB: Cannot remove file 2 because it is still referenced by "
            u"an index [$3C8E/15502]");
  EXPECT_EQ(table.Files->FileCount, 3);
}


TEST_F(IndexDescriptorTest, GoldenBytesOfAnIndex) {
  auto index = TzfIndexDescriptor::CreateStandalone(4, u"ByRef", 1, &TzfRefKeyDescriptor::ClassInfo());
  index->SetDesc(u"r");
  std::vector<uint8_t> refKey = ItemHeaderBytes();
  AppendBytes(refKey, {0x07, 0x03, 'B', 'K', 'D', 0x02, 0x01, 0x08, 0x02, 0x01});

  std::vector<uint8_t> g = ItemHeaderBytes();
  AppendBytes(g, {0x02, 0x01});  // version 1
  AppendString(g, "zf1xDefault");
  AppendString(g, "r");
  AppendBytes(g, {0x08});  // not idAll
  g.insert(g.end(), refKey.begin(), refKey.end());
  EXPECT_EQ(SavedBytes(*index, 30900), g);

  // idNull needs version 2 and a client of 20400 or later; the ordinal follows.
  index->SetDups(idNull);
  std::vector<uint8_t> g2 = ItemHeaderBytes();
  AppendBytes(g2, {0x02, 0x02});
  AppendString(g2, "zf1xDefault");
  AppendString(g2, "r");
  AppendBytes(g2, {0x02, 0x01});
  g2.insert(g2.end(), refKey.begin(), refKey.end());
  EXPECT_EQ(SavedBytes(*index, 20400), g2);
  EXPECT_EQ(Outcome([&] { SavedBytes(*index, 20300); }),
            u"!EzfIndexDescriptorException #12039: ZofrinDB: Server is incompatible version. [$2F07/12039]");

  // The standalone form carries class names, number, name and file number first.
  TzfMemoryStream s(-1);
  {
    TzfWriter w(s);
    index->SaveStandalone(w, 30900);
  }
  s.SetPosition(0);
  TzfReader r(s);
  auto back = TzfIndexDescriptor::CreateStandaloneFromReader(r);
  EXPECT_TRUE(back->IsEqual(index.get()));
  EXPECT_EQ(back->idNumber, 4);

  // An ordinal that names no duplicates mode is refused.
  std::vector<uint8_t> bad = g2;
  bad[ItemHeaderBytes().size() + 2 + 13 + 3 + 1] = 3;
  EXPECT_EQ(Outcome([&] { LoadSaved(*back, bad); }),
            u"!EzfIndexDescriptorException #15498: ZofrinDB: Incompatible stream [$3C8A/15498]");
}

TEST_F(IndexDescriptorTest, IndicesRoundTripWithDefaultIndex) {
  AddTestField(*table.Fields, u"A", zftInt32);
  AddTestField(*table.Fields, u"B", zftShortString, 10);
  indices.AddIndex(u"Seq", 0, idNone, u"Sequential", &TzfRefKeyDescriptor::ClassInfo());
  TzfIndexDescriptor* byB = indices.AddIndex(u"ByB", 1, idAll, u"");
  static_cast<TzfCompKeyDescriptor&>(*byB->idKeyDescriptor).Add(u"B", &TzfTextKeyFieldDescriptor::ClassInfo());
  static_cast<TzfCompKeyDescriptor&>(*byB->idKeyDescriptor).Add(u"A");
  indices.SetIndicesEngine(u"Mine");
  indices.SetDefaultIndex(1);
  EXPECT_NO_THROW(indices.CheckValid(false));

  TTestTable other(3);
  AddTestField(*other.Fields, u"A", zftInt32);
  AddTestField(*other.Fields, u"B", zftShortString, 10);
  LoadSaved(*other.Indices, SavedBytes(indices, 30900));
  EXPECT_TRUE(other.Indices->IsEqual(&indices));
  EXPECT_EQ(other.Indices->midDefaultIndex, 1);
  EXPECT_EQ(other.Indices->IndexDescriptor[1]->idKeyDescriptor->GetKeyLength(), 11 + 4 + 1);

  // A copy through AddIndex: equal, with its own ID; the source takes the copy's ID.
  TTestTable third(3);
  AddTestField(*third.Fields, u"A", zftInt32);
  AddTestField(*third.Fields, u"B", zftShortString, 10);
  TzfIndexDescriptor* copy = third.Indices->AddIndex(*byB);
  EXPECT_TRUE(copy->IsEqual(byB));
  EXPECT_EQ(byB->diID, copy->diID);
  EXPECT_EQ(Outcome([&] { SavedBytes(indices, 19999); }),
            u"!EzfMainIndicesDescriptorException #12039: ZofrinDB: Server is incompatible version. [$2F07/12039]");
}

}  // namespace
}  // namespace zf::test
