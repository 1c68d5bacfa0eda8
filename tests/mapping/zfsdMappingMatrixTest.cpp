// The mapping matrix against its coverage table: which class each of the 31 x 31 cells holds, and
// that the data-loss action picks a method of that class in every cell it fills.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "mapping/zfsdFieldMapperDescriptor.h"
#include "tests/mapping/zfsrMappingTestUtil.h"

namespace zf::test {
namespace {

using Types = std::vector<TzfFieldType>;

class MappingMatrixTest : public MappingStarted {};

// The coverage table, row by row as it is documented: a class, its sources and its targets.
struct Row {
  const char* Class;
  Types Sources;
  Types Targets;
};

Types Numeric() {
  return {zftBoolean, zftChar,      zftWideChar,    zftByte,       zftWord16,     zftWord32, zftInt8,
          zftInt16,   zftInt32,     zftInt64,       zftAutoInc,    zftSingle,     zftDouble, zftExtended,
          zftCurrency, zftByteArray, zftShortString, zftNullString, zftWideString, zftRecRev, zftBCD};
}
Types Plus(Types a, const Types& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
// The numeric targets without the three text types, plus the date and time types and Guid.
Types TextSourceTargets() {
  Types t;
  for (TzfFieldType x : Numeric())
    if (x != zftShortString && x != zftNullString && x != zftWideString) t.push_back(x);
  return Plus(t, {zftDate, zftTime, zftDateTime, zftGuid});
}
const Types kText = {zftShortString, zftNullString, zftWideString};
const Types kBlobs = {zftBlob, zftBlobMemo, zftBlobGraphic, zftBlobWideMemo};

std::vector<Row> CoverageTable() {
  const Types dates = Plus({zftDate, zftTime, zftDateTime, zftByteArray}, kText);
  const Types bytes = Plus(Plus({zftByteArray}, kText), {zftGuid});
  return {
      {"TzfBooleanMapper", {zftBoolean}, Numeric()},
      {"TzfCharMapper", {zftChar}, Numeric()},
      {"TzfWideCharMapper", {zftWideChar}, Numeric()},
      {"TzfByte8Mapper", {zftByte}, Numeric()},
      {"TzfWord16Mapper", {zftWord16}, Numeric()},
      {"TzfWord32Mapper", {zftWord32, zftAutoInc, zftRecRev}, Numeric()},
      {"TzfInt8Mapper", {zftInt8}, Numeric()},
      {"TzfInt16Mapper", {zftInt16}, Numeric()},
      {"TzfInt32Mapper", {zftInt32}, Numeric()},
      {"TzfInt64Mapper", {zftInt64}, Numeric()},
      {"TzfSingleMapper", {zftSingle}, Numeric()},
      {"TzfDoubleMapper", {zftDouble}, Plus(Numeric(), {zftDateTime})},
      {"TzfExtendedMapper", {zftExtended}, Numeric()},
      {"TzfCurrencyMapper", {zftCurrency, zftBCD}, Numeric()},
      {"TzfDateMapper", {zftDate}, dates},
      {"TzfTimeMapper", {zftTime}, dates},
      {"TzfDateTimeMapper", {zftDateTime}, Plus({zftDouble}, dates)},
      {"TzfShortStringMapper", {zftShortString}, TextSourceTargets()},
      {"TzfShortStringToShortStringMapper", {zftShortString}, {zftShortString}},
      {"TzfShortStringToNullStringMapper", {zftShortString}, {zftNullString}},
      {"TzfAnsiStringToWideStringMapper", {zftShortString, zftNullString}, {zftWideString}},
      {"TzfShortStringToBlobMapper", {zftShortString}, kBlobs},
      {"TzfNullStringMapper", {zftNullString}, TextSourceTargets()},
      {"TzfNullStringToShortStringMapper", {zftNullString}, {zftShortString}},
      {"TzfNullStringToNullStringMapper", {zftNullString}, {zftNullString}},
      {"TzfNullStringToBlobMapper", {zftNullString}, kBlobs},
      {"TzfWideStringMapper", {zftWideString}, TextSourceTargets()},
      {"TzfWideStringToAnsiStringMapper", {zftWideString}, {zftShortString, zftNullString}},
      {"TzfWideStringToWideStringMapper", {zftWideString}, {zftWideString}},
      {"TzfWideStringToBlobMapper", {zftWideString}, kBlobs},
      {"TzfByteArrayMapper", {zftByteArray}, bytes},
      {"TzfGuidMapper", {zftGuid}, bytes},
      {"TzfBlobMapper", {zftBlob, zftBlobGraphic}, kBlobs},
      {"TzfBlobMapper", {zftBlobMemo}, {zftBlob, zftBlobGraphic}},
      {"TzfBlobMemoToBlobMemoMapper", {zftBlobMemo}, {zftBlobMemo}},
      {"TzfBlobMemoToBlobWideMemoMapper", {zftBlobMemo}, {zftBlobWideMemo}},
      {"TzfBlobMapper", {zftBlobWideMemo}, {zftBlob, zftBlobGraphic, zftBlobWideMemo}},
      {"TzfBlobWideMemoToBlobMemoMapper", {zftBlobWideMemo}, {zftBlobMemo}},
      {"TzfBlobToShortStringMapper", {zftBlob, zftBlobMemo, zftBlobGraphic}, {zftShortString}},
      {"TzfBlobToNullStringMapper", {zftBlob, zftBlobMemo, zftBlobGraphic}, {zftNullString}},
      {"TzfBlobToWideStringMapper", {zftBlob, zftBlobMemo, zftBlobGraphic}, {zftWideString}},
      {"TzfBlobWideMemoToAnsiStringMapper", {zftBlobWideMemo}, {zftShortString, zftNullString}},
      {"TzfBlobWideMemoToWideStringMapper", {zftBlobWideMemo}, {zftWideString}},
      {"TzfFmtBCDMapper", {zftFmtBCD}, {zftFmtBCD}},
  };
}

// The source rows walked: all of them.
const std::set<TzfFieldType> kCheckedSources = [] {
  std::set<TzfFieldType> all;
  for (int t = 0; t < zfFieldTypeCount; ++t) all.insert(static_cast<TzfFieldType>(t));
  return all;
}();

using Expected = std::map<std::pair<TzfFieldType, TzfFieldType>, std::string>;

Expected ExpectedCells() {
  Expected cells;
  for (const Row& row : CoverageTable())
    for (TzfFieldType s : row.Sources)
      for (TzfFieldType t : row.Targets) {
        const bool fresh = cells.emplace(std::pair{s, t}, row.Class).second;
        EXPECT_TRUE(fresh) << "the table names cell " << int(s) << "/" << int(t) << " twice";
      }
  return cells;
}

TEST_F(MappingMatrixTest, EveryCellHoldsTheClassOfTheCoverageTable) {
  const Expected cells = ExpectedCells();
  EXPECT_EQ(cells.size(), 506u);
  size_t registered = 0;
  for (int s = 0; s < zfFieldTypeCount; ++s) {
    const auto source = static_cast<TzfFieldType>(s);
    if (!kCheckedSources.count(source)) continue;
    for (int t = 0; t < zfFieldTypeCount; ++t) {
      const auto target = static_cast<TzfFieldType>(t);
      std::vector<std::string> names;
      for (const TzfFieldMapperClass* c : zfFieldMapperCell(source, target)) names.push_back(rtl::u8(c->Name));
      const auto it = cells.find({source, target});
      const std::vector<std::string> expected =
          it == cells.end() ? std::vector<std::string>{} : std::vector<std::string>{it->second};
      EXPECT_EQ(names, expected) << "cell " << s << " -> " << t;
      registered += names.size();
    }
  }
  // Nothing maps into Interval, FmtBCD or a BLOB from the rows walked, except FmtBCD itself.
  for (TzfFieldType source : kCheckedSources) {
    EXPECT_TRUE(zfFieldMapperCell(source, zftInterval).empty());
    if (source != zftFmtBCD) {
      EXPECT_TRUE(zfFieldMapperCell(source, zftFmtBCD).empty());
    }
  }
  if (kCheckedSources.size() == static_cast<size_t>(zfFieldTypeCount)) {
    EXPECT_EQ(registered, 506u);
  }
}

// Fields roomy enough for any value of any source type.
TzfFieldDescriptor* Roomy(TTestCursor& aCursor, TzfFieldType aType) {
  switch (aType) {
    case zftByteArray: return aCursor.Add(u"F", aType, 16);
    case zftShortString: case zftNullString: case zftWideString: return aCursor.Add(u"F", aType, 64);
    case zftFmtBCD: return aCursor.Add(u"F", aType, 20, 4);
    default: return aCursor.Add(u"F", aType);
  }
}

// Under best fit every filled cell offers a method, and so do the checking actions, except for the
// pairs that always lose the value, which are offered only under best fit. Where a cell's class
// makes an instance, the method is bound to it.
TEST_F(MappingMatrixTest, TheDataLossActionPicksAMethodInEveryFilledCell) {
  const Expected cells = ExpectedCells();
  const std::set<std::pair<TzfFieldType, TzfFieldType>> bestFitOnly = {
      {zftDate, zftTime}, {zftTime, zftDate}, {zftTime, zftDateTime}};
  for (const auto& [pair, name] : cells) {
    if (!kCheckedSources.count(pair.first)) continue;
    SCOPED_TRACE(::testing::Message() << name << " " << int(pair.first) << " -> " << int(pair.second));
    TTestCursor source, target;
    TzfFieldDescriptor* s = Roomy(source, pair.first);
    TzfFieldDescriptor* d = Roomy(target, pair.second);
    for (TzfDataLossAction action : {dlaFail, dlaNull, dlaBestFit}) {
      TzfFieldMapperDescriptor desc(u"F", u"F", action);
      TzfMappingMethod method;
      auto mapper = TzfBaseFieldMapper::CreateMapper(*s, &source, *d, &target, &desc, method);
      EXPECT_EQ(method.IsSet(), action == dlaBestFit || !bestFitOnly.count(pair)) << "action " << int(action);
      if (mapper) {
        EXPECT_EQ(method.Data, mapper.get());
      } else if (method.IsSet()) {
        EXPECT_EQ(rtl::u8(static_cast<const TzfFieldMapperClass*>(method.Data)->Name), name);
      }
    }
  }
}

}  // namespace
}  // namespace zf::test
