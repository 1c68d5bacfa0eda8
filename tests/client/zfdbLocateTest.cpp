// Locate and Lookup on several key fields through table components over a real engine table: the
// dataset's own index, a lookup cursor on another index whose leading fields are the key fields,
// and the expression filter when no index fits (or a range is in force). The probe in front of
// the engine cursor tells which way each search went.
#include <gtest/gtest.h>

#include <optional>

#include "client/zfdbTable.h"
#include "tests/client/zfdbTableTestUtil.h"

namespace zf::test {
namespace {

using rtl::Variant;
using rtl::VarArrayOf;

struct TStaff {
  int32_t ID;
  const char16_t* Dept;  // nullptr: NULL
  std::optional<int32_t> Grade;
  const char16_t* Name;
  const char16_t* City;  // nullptr: NULL
  int32_t HiredDay;      // of January 2020
};

// ID n at position n - 1. In the order of ByDeptGradeName: NULL Dept first, then "Dev" < "Sales" < "dev" by code units.
const TStaff kStaff[] = {
    {1, u"Sales", 1, u"Ann", u"Oslo", 2},  {2, u"Sales", 2, u"Bob", nullptr, 3}, {3, u"Sales", 2, u"Bea", u"Rome", 2},
    {4, u"Dev", 1, u"Cid", nullptr, 5},    {5, u"Dev", 2, u"Dan", u"Oslo", 5},   {6, u"dev", 2, u"Eve", u"Rome", 6},
    {7, nullptr, 3, u"Fay", u"Oslo", 7},   {8, u"Dev", std::nullopt, u"Gus", u"Oslo", 8},
};

Variant Hired(int32_t aDay) { return Variant::FromDate(rtl::EncodeDate(2020, 1, static_cast<uint16_t>(aDay))); }

enum class TWay { Own, LookupCursor, Filter };

const char* WayName(TWay aWay) {
  switch (aWay) {
    case TWay::Own: return "own cursor";
    case TWay::LookupCursor: return "lookup cursor";
    default: return "filter";
  }
}

Variant Values(std::vector<Variant> aItems) { return VarArrayOf(std::move(aItems)); }

class ClientLocate : public ClientTableTest {
 protected:
  // Table "Staff": ID, Dept, Grade, Name, City, Hired (a date). Indexes: ByID (unique, default) and
  // ByDeptGradeName (Dept, Grade, Name; text compared with case).
  void SetUp() override {
    ClientTableTest::SetUp();
    auto dict = std::make_unique<TzfServerDataDict>();
    TzfFieldsDescriptor& f = *dict->tdFieldsDescriptor;
    f.AddField(u"ID", u"", zftInt32, 0, 0, false, nullptr);
    f.AddField(u"Dept", u"", zftWideString, 10, 0, false, nullptr);
    f.AddField(u"Grade", u"", zftInt32, 0, 0, false, nullptr);
    f.AddField(u"Name", u"", zftWideString, 10, 0, false, nullptr);
    f.AddField(u"City", u"", zftWideString, 10, 0, false, nullptr);
    f.AddField(u"Hired", u"", zftDate, 0, 0, false, nullptr);
    TzfMainIndicesDescriptor* ixs = dict->EnsureIndicesDescriptor();
    TzfIndexDescriptor* byId = ixs->AddIndex(u"ByID", 0, idNone, u"");
    dynamic_cast<TzfCompKeyDescriptor&>(*byId->idKeyDescriptor).Add(0);
    TzfIndexDescriptor* byDept = ixs->AddIndex(u"ByDeptGradeName", 0, idAll, u"");
    auto& key = dynamic_cast<TzfCompKeyDescriptor&>(*byDept->idKeyDescriptor);
    key.Add(1, &TzfExtTextKeyFieldDescriptor::ClassInfo());
    key.Add(2);
    key.Add(3, &TzfExtTextKeyFieldDescriptor::ClassInfo());
    ixs->SetDefaultIndex(byId->idNumber);
    ASSERT_EQ(Db->AbstractDatabase()->TableBuild(false, u"Staff", u"", dict.get(), tsPersistent, false), 0u);

    std::vector<int32_t> ids;
    for (const TStaff& s : kStaff) ids.push_back(s.ID);
    InsertRecords(u"Staff", ids, [](TzfAbstractCursor& c, uint8_t* b, int32_t aID) {
      const TStaff& s = kStaff[aID - 1];
      if (s.Dept) c.SetFieldFromVariant(b, 1, Variant(s.Dept));
      if (s.Grade) c.SetFieldFromVariant(b, 2, Variant(*s.Grade));
      c.SetFieldFromVariant(b, 3, Variant(s.Name));
      if (s.City) c.SetFieldFromVariant(b, 4, Variant(s.City));
      c.SetFieldFromVariant(b, 5, Hired(s.HiredDay));
    });
    T = Table<TProbedTable>(u"Staff");
  }
  // Opens the table afresh on aIndexName ("" = the default index).
  void Reopen(const UnicodeString& aIndexName) {
    T->Close();
    T->SetIndexName(aIndexName);
    T->Open();
  }
  int32_t Id() { return T->FieldByName(u"ID").GetAsInteger(); }
  // The way aSearch went, from what the probe saw.
  TWay WayOf(const std::function<void()>& aSearch) {
    const int32_t filters = T->Probe->FilterCalls, keyReads = T->Probe->KeyReadCalls;
    aSearch();
    if (T->Probe->FilterCalls != filters) return TWay::Filter;
    return T->Probe->KeyReadCalls != keyReads ? TWay::Own : TWay::LookupCursor;
  }

  TProbedTable* T = nullptr;
};

TEST_F(ClientLocate, SeveralKeyFieldsByEveryWay) {
  struct Case {
    const char* What;
    const char16_t* Index;  // active index
    const char16_t* Fields;
    Variant KeyValues;
    db::TLocateOptions Options;
    int32_t Found;  // ID of the record found, 0: none
    TWay Way;
  };
  const db::TLocateOptions ci{db::loCaseInsensitive}, partial{db::loPartialKey};
  const Case cases[] = {
      // The index order decides which of equal keys comes first: Bea before Bob.
      {"two leading fields, other index", u"", u"Dept;Grade", Values({u"Sales", 2}), {}, 3, TWay::LookupCursor},
      {"two leading fields, own index", u"ByDeptGradeName", u"Dept;Grade", Values({u"Sales", 2}), {}, 3, TWay::Own},
      {"three fields", u"", u"Dept;Grade;Name", Values({u"Dev", 2, u"Dan"}), {}, 5, TWay::LookupCursor},
      {"three fields, own index", u"ByDeptGradeName", u"Dept;Grade;Name", Values({u"Sales", 1, u"Ann"}), {}, 1,
       TWay::Own},
      {"three fields, case differs", u"", u"Dept;Grade;Name", Values({u"Dev", 2, u"Eve"}), {}, 0,
       TWay::LookupCursor},
      {"no match, own index", u"ByDeptGradeName", u"Dept;Grade", Values({u"Sales", 3}), {}, 0, TWay::Own},
      {"bounds not from 0", u"", u"Dept;Grade",
       [] {
         Variant v = rtl::VarArrayCreate(1, 2);
         rtl::VarArrayPut(v, Variant(u"Dev"), 1);
         rtl::VarArrayPut(v, Variant(int32_t{1}), 2);
         return v;
       }(),
       {}, 4, TWay::LookupCursor},
      // No index leads with these fields, or none with this case rule: the filter.
      {"fields in another order", u"", u"Grade;Dept", Values({2, u"Dev"}), {}, 5, TWay::Filter},
      {"fields of no index", u"ByDeptGradeName", u"Name;City", Values({u"Dan", u"Oslo"}), {}, 5, TWay::Filter},
      {"no match by filter", u"", u"Name;City", Values({u"Dan", u"Rome"}), {}, 0, TWay::Filter},
      {"case-insensitive", u"", u"Dept;Grade;Name", Values({u"DEV", 2, u"eve"}), ci, 6, TWay::Filter},
      {"case-insensitive, own index", u"ByDeptGradeName", u"Dept;Grade", Values({u"sales", 1}), ci, 1, TWay::Filter},
      // NULLs: a Null value, and an empty text for a field that holds no text.
      {"null text key", u"", u"Dept;Grade", Values({Variant::Null(), 3}), {}, 7, TWay::LookupCursor},
      {"empty text for an integer", u"", u"Dept;Grade", Values({u"Dev", u""}), {}, 8, TWay::LookupCursor},
      {"null by filter", u"", u"City;Grade", Values({Variant::Null(), 2}), {}, 2, TWay::Filter},
      {"empty text for an integer by filter", u"", u"Name;Grade", Values({u"Gus", u""}), {}, 8, TWay::Filter},
      {"empty text is no null text", u"", u"City;Grade", Values({u"", 2}), {}, 0, TWay::Filter},
      // A partial key: the last field is a prefix; the others match whole.
      {"partial last field", u"", u"Dept;Grade;Name", Values({u"Sales", 2, u"B"}), partial, 3, TWay::LookupCursor},
      {"partial, own index", u"ByDeptGradeName", u"Dept;Grade;Name", Values({u"Dev", 2, u"D"}), partial, 5, TWay::Own},
      {"partial last field by filter", u"", u"Grade;Dept", Values({2, u"Sal"}), partial, 2, TWay::Filter},
      {"only the last field is partial", u"", u"Name;Dept", Values({u"Bo", u"Sales"}), partial, 0, TWay::Filter},
      {"last field a number: no partial", u"", u"Dept;Grade", Values({u"Sal", 2}), partial, 0, TWay::LookupCursor},
      {"partial and case-insensitive", u"", u"City;Name", Values({u"rome", u"b"}), {db::loCaseInsensitive, db::loPartialKey},
       3, TWay::Filter},
      // A date is compared as a date.
      {"date and text", u"", u"Hired;City", Values({Hired(5), u"Oslo"}), {}, 5, TWay::Filter},
      {"date, no match", u"", u"Hired;Name", Values({Hired(4), u"Dan"}), {}, 0, TWay::Filter},
      // One key field takes the first element of an array.
      {"one field, array value", u"", u"Name", Values({u"Cid", u"ignored"}), {}, 4, TWay::Filter},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    Reopen(c.Index);
    T->Last();
    const int32_t before = Id();
    bool found = false;
    const TWay way = WayOf([&] { found = T->Locate(c.Fields, c.KeyValues, c.Options); });
    EXPECT_EQ(WayName(way), WayName(c.Way));
    ASSERT_EQ(found, c.Found != 0);
    EXPECT_EQ(Id(), found ? c.Found : before) << "a miss does not move";
  }
}

TEST_F(ClientLocate, LookupCursorIsKeptForTheSameFieldsAndCaseRule) {
  T->Open();
  ASSERT_TRUE(T->Locate(u"Dept;Grade", Values({u"Dev", 1}), {}));
  ASSERT_TRUE(T->Locate(u"Dept;Grade", Values({u"Sales", 1}), {}));
  EXPECT_EQ(Id(), 1);
  EXPECT_EQ(T->Probe->DuplicateCalls, 1) << "the second search reuses the lookup cursor";
  ASSERT_TRUE(T->Locate(u"Dept;Grade;Name", Values({u"Dev", 2, u"Dan"}), {}));
  EXPECT_EQ(T->Probe->DuplicateCalls, 2) << "other key fields: another lookup cursor";
  // While a range is in force the filter searches inside it only.
  T->SetRange({Variant(1)}, {Variant(3)});
  EXPECT_EQ(WayName(WayOf([&] { EXPECT_FALSE(T->Locate(u"Dept;Grade", Values({u"Dev", 2}), {})); })), "filter");
  EXPECT_EQ(WayName(WayOf([&] { EXPECT_TRUE(T->Locate(u"Dept;Grade", Values({u"Sales", 2}), {})); })), "filter");
  EXPECT_EQ(Id(), 2) << "first in the order of the own index";
  T->CancelRange();
  EXPECT_EQ(WayName(WayOf([&] { EXPECT_TRUE(T->Locate(u"Dept;Grade", Values({u"Dev", 2}), {})); })),
            "lookup cursor");
  EXPECT_EQ(T->Probe->DuplicateCalls, 3);
}

TEST_F(ClientLocate, LookupOfSeveralResultFields) {
  for (const char16_t* index : {u"", u"ByDeptGradeName"}) {
    SCOPED_TRACE(rtl::u8(index));
    Reopen(index);
    T->First();
    const int32_t before = Id();
    // Through an index: an array of the result values in list order, NULL as a Null element.
    Variant r = T->Lookup(u"Dept;Grade", Values({u"Dev", 1}), u"Name;City;ID");
    ASSERT_TRUE(rtl::VarIsArray(r));
    ASSERT_EQ(rtl::VarArrayLowBound(r, 1), 0);
    ASSERT_EQ(rtl::VarArrayHighBound(r, 1), 2);
    EXPECT_EQ(rtl::VarArrayGet(r, 0).AsString(), u"Cid");
    EXPECT_TRUE(rtl::VarArrayGet(r, 1).IsNull());
    EXPECT_EQ(rtl::VarArrayGet(r, 2).AsInteger(), 4);
    // Through the filter.
    r = T->Lookup(u"Grade;Name", Values({2, u"Eve"}), u"Dept;ID");
    ASSERT_TRUE(rtl::VarIsArray(r));
    EXPECT_EQ(rtl::VarArrayGet(r, 0).AsString(), u"dev");
    EXPECT_EQ(rtl::VarArrayGet(r, 1).AsInteger(), 6);
    // One result field: its value itself.
    EXPECT_EQ(T->Lookup(u"Dept;Grade;Name", Values({u"Sales", 2, u"Bob"}), u"ID").AsInteger(), 2);
    // Lookup is exact and case-sensitive; nothing found is unassigned.
    EXPECT_TRUE(T->Lookup(u"Dept;Grade", Values({u"SALES", 1}), u"Name;ID").IsEmpty());
    EXPECT_TRUE(T->Lookup(u"Dept;Grade;Name", Values({u"Sales", 2, u"B"}), u"ID").IsEmpty());
    EXPECT_EQ(Id(), before) << "Lookup does not move";
  }
}

TEST_F(ClientLocate, KeyValuesThatDoNotFitTheFieldsAreRefused) {
  struct Case {
    const char* What;
    const char16_t* Fields;
    Variant KeyValues;
  };
  const Case cases[] = {
      {"one value for two fields", u"Dept;Grade", Variant(u"Dev")},
      {"too few values", u"Dept;Grade;Name", Values({u"Dev", 2})},
      {"too many values", u"Dept;Grade", Values({u"Dev", 2, u"Dan"})},
      {"an array is no value", u"Dept;Grade", Values({Values({u"Dev"}), 2})},
      {"an empty array for one field", u"Name", rtl::VarArrayCreate(0, -1)},
      {"bytes in a filter", u"Name;City", Values({Variant::FromBytes({65}), u"Oslo"})},
      {"no key field", u"", Variant(1)},
  };
  for (const char16_t* index : {u"", u"ByDeptGradeName"}) {
    Reopen(index);
    T->First();
    const int32_t first = Id();
    for (const Case& c : cases) {
      SCOPED_TRACE(c.What);
      EXPECT_EQ(ClientErrorCode([&] { T->Locate(c.Fields, c.KeyValues, {}); }), zfErrInvalidParam);
      EXPECT_EQ(ClientErrorCode([&] { T->Lookup(c.Fields, c.KeyValues, u"ID"); }), zfErrInvalidParam);
      EXPECT_EQ(Id(), first);
    }
  }
}

}  // namespace
}  // namespace zf::test
