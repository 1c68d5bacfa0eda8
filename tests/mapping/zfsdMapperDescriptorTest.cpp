// Mapper descriptors: their stream format, copies, damaged streams and the list operations.
#include <gtest/gtest.h>

#include "dictionary/zfsdTableDescriptor.h"
#include "mapping/zfsdTableMapperDescriptor.h"
#include "tests/mapping/zfsrMappingTestUtil.h"

namespace zf::test {
namespace {

using rtl::UnicodeString;

class MapperDescriptorTest : public MappingStarted {};

std::vector<uint8_t> WrittenTable(const TzfBaseTableMapperDescriptor& d) {
  return Written([&](TzfWriter& w) { d.WriteToWriter(w, 30900); });
}

std::unique_ptr<TzfBaseTableMapperDescriptor> ReadTable(const std::vector<uint8_t>& aBytes) {
  return ReadFrom(aBytes, [](TzfReader& r) { return TzfBaseTableMapperDescriptor::CreateFromReader(r); });
}

// The bytes of an empty table mapper of class aClass, by hand: class name, 1, ".", ".", False, 0
// and, for TzfTableMapperDescriptor, the trailing 1.
std::vector<uint8_t> EmptyTableBytes(std::string_view aClass, bool aTrailing, int8_t aTrailingVersion = 1) {
  std::vector<uint8_t> b;
  Ident(b, aClass);
  Int8(b, 1);
  Str(b, ".");
  Str(b, ".");
  b.push_back(vaFalse);
  Int8(b, 0);
  if (aTrailing) Int8(b, aTrailingVersion);
  return b;
}

TEST_F(MapperDescriptorTest, NewTableMappersWriteTheirHandBuiltBytes) {
  TzfTableMapperDescriptor table;
  EXPECT_EQ(WrittenTable(table), EmptyTableBytes("TzfTableMapperDescriptor", true));
  TzfBaseTableMapperDescriptor base;
  EXPECT_EQ(WrittenTable(base), EmptyTableBytes("TzfBaseTableMapperDescriptor", false));
}

TEST_F(MapperDescriptorTest, FieldAndRecordMappersWriteTheirHandBuiltBytes) {
  TzfRecordMapperDescriptor records;
  records.AddMapping(u"Src", u"Dst", dlaBestFit)->bfcdApplyDefault = true;
  records.rmdApplyDefaultForUnmapped = false;
  std::vector<uint8_t> expected;
  Ident(expected, "TzfRecordMapperDescriptor");
  Int8(expected, 1);
  expected.push_back(vaList);
  Ident(expected, "TzfFieldMapperDescriptor");
  Str(expected, "Src");
  Str(expected, "Dst");
  Str(expected, "dlaBestFit");
  Int8(expected, 1);
  expected.push_back(vaTrue);
  expected.push_back(vaNull);
  expected.push_back(vaFalse);
  EXPECT_EQ(Written([&](TzfWriter& w) { records.WriteToWriter(w, 30900); }), expected);

  TzfBaseRecordMapperDescriptor base;
  std::vector<uint8_t> baseBytes;
  Ident(baseBytes, "TzfBaseRecordMapperDescriptor");
  Int8(baseBytes, 1);
  EXPECT_EQ(Written([&](TzfWriter& w) { base.WriteToWriter(w, 30900); }), baseBytes);
}

// A tree of two nested levels with record mappers at the root and at the deepest level.
std::unique_ptr<TzfTableMapperDescriptor> SampleTree() {
  auto root = std::make_unique<TzfTableMapperDescriptor>();
  root->btmdMapTo = u"Target";
  auto* rm = static_cast<TzfRecordMapperDescriptor*>(root->AddRecordMapper());
  rm->AddMapping(u"A", u"a2", dlaNull);
  rm->AddMapping(u"", u"B", dlaFail)->bfcdApplyDefault = true;
  auto* child = root->AddTable(u"Lines", &TzfTableMapperDescriptor::ClassInfo());
  child->btmdMapTo = u"Rows";
  auto* grandchild = child->AddTable(u"Notes");
  static_cast<TzfRecordMapperDescriptor*>(grandchild->AddRecordMapper())->AddMapping(u"N", u"N", dlaBestFit);
  root->AddTable(u"Empty");
  return root;
}

TEST_F(MapperDescriptorTest, StreamsRoundTripAndDuplicateMakesADeepCopyWithNewParents) {
  auto tree = SampleTree();
  const std::vector<uint8_t> bytes = WrittenTable(*tree);

  auto read = ReadTable(bytes);
  EXPECT_EQ(WrittenTable(*read), bytes);
  EXPECT_EQ(UnicodeString(read->ClassName()), u"TzfTableMapperDescriptor");

  auto copy = tree->Duplicate();
  EXPECT_EQ(WrittenTable(*copy), bytes);
  EXPECT_EQ(copy->btmdParent, nullptr);
  ASSERT_EQ(copy->TableCount(), 2);
  TzfBaseTableMapperDescriptor* lines = copy->GetTableDescriptorFromName(u"LINES");
  EXPECT_NE(lines, tree->TableDescriptor(0));
  EXPECT_EQ(lines->btmdParent, copy.get());
  EXPECT_EQ(lines->TableDescriptor(0)->btmdParent, lines);
  EXPECT_EQ(UnicodeString(lines->ClassName()), u"TzfTableMapperDescriptor");
  EXPECT_EQ(UnicodeString(lines->TableDescriptor(0)->ClassName()), u"TzfBaseTableMapperDescriptor");
  auto* rm = dynamic_cast<TzfRecordMapperDescriptor*>(copy->RecordMapper());
  ASSERT_NE(rm, nullptr);
  EXPECT_NE(rm, tree->RecordMapper());
  ASSERT_EQ(rm->FieldMapperCount(), 2);
  EXPECT_EQ(rm->FieldMapper(0)->bfcdSourceName, u"A");
  EXPECT_EQ(rm->FieldMapper(0)->bfcdDataLossAction, dlaNull);
  EXPECT_TRUE(rm->FieldMapper(1)->bfcdApplyDefault);

  auto recordCopy = tree->RecordMapper()->Duplicate();
  EXPECT_EQ(Written([&](TzfWriter& w) { recordCopy->WriteToWriter(w, 30900); }),
            Written([&](TzfWriter& w) { tree->RecordMapper()->WriteToWriter(w, 30900); }));
}

TEST_F(MapperDescriptorTest, ActionNamesReadWithoutRegardToCase) {
  std::vector<uint8_t> b;
  Ident(b, "TzfFieldMapperDescriptor");
  Str(b, "S");
  Str(b, "T");
  Str(b, "DLABESTFIT");
  Int8(b, 1);
  b.push_back(vaFalse);
  auto d = ReadFrom(b, [](TzfReader& r) { return TzfFieldMapperDescriptor::CreateFromReader(r); });
  EXPECT_EQ(d->bfcdDataLossAction, dlaBestFit);
  EXPECT_EQ(d->bfcdTargetName, u"T");
}

// Damaged streams are refused with the family's code, never a crash or a half-built object.
TEST_F(MapperDescriptorTest, DamagedStreamsAreRefusedWithTheirCodes) {
  auto fieldBytes = [](std::string_view aClass, std::string_view aAction, int8_t aVersion, uint8_t aFlag) {
    std::vector<uint8_t> b;
    Ident(b, aClass);
    Str(b, "S");
    Str(b, "T");
    Str(b, aAction);
    Int8(b, aVersion);
    b.push_back(aFlag);
    return b;
  };
  auto readField = [](const std::vector<uint8_t>& b) {
    return Outcome([&] { ReadFrom(b, [](TzfReader& r) { return TzfFieldMapperDescriptor::CreateFromReader(r); }); });
  };
  auto readTable = [](const std::vector<uint8_t>& b) { return Outcome([&] { ReadTable(b); }); };

  const UnicodeString fieldStream = u"!EzfFieldMapperDescriptorException #15498: Incompatible stream";
  EXPECT_EQ(readField(fieldBytes("TzfFieldMapperDescriptor", "dlaFail", 2, vaFalse)), fieldStream);
  EXPECT_EQ(readField(fieldBytes("TzfFieldMapperDescriptor", "dlaSometimes", 1, vaFalse)), fieldStream);
  EXPECT_EQ(readField(fieldBytes("TzfFieldMapperDescriptor", "dlaFail", 1, vaInt8)), fieldStream);
  EXPECT_EQ(readField(fieldBytes("TzfNoSuchDescriptor", "dlaFail", 1, vaFalse)),
            u"!EzfFieldMapperDescriptorException #15499: FieldMapperDescriptor class is not supported: "
            u"TzfNoSuchDescriptor");

  EXPECT_EQ(readTable(EmptyTableBytes("TzfTableMapperDescriptor", true, 2)),
            u"!EzfTableMapperDescriptorException #15498: Incompatible stream");
  EXPECT_EQ(readTable(EmptyTableBytes("TzfFooDescriptor", false)),
            u"!EzfBaseTableMapperDescriptorException #15499: TableMapperDescriptor class is not supported: "
            u"TzfFooDescriptor");
  // The table family's registry knows no record mapper classes.
  EXPECT_EQ(readTable(EmptyTableBytes("TzfRecordMapperDescriptor", false)).substr(0, 46),
            u"!EzfBaseTableMapperDescriptorException #15499:");

  // A child count the remaining bytes cannot hold, or a negative one, allocates nothing.
  for (int8_t count : {int8_t{-1}, int8_t{100}}) {
    std::vector<uint8_t> b = EmptyTableBytes("TzfBaseTableMapperDescriptor", false);
    b[b.size() - 1] = static_cast<uint8_t>(count);
    EXPECT_EQ(readTable(b), u"!EzfBaseTableMapperDescriptorException #15498: Incompatible stream") << int(count);
  }

  // Two mappings for one target name: the list's own error.
  TzfRecordMapperDescriptor records;
  records.AddMapping(u"A", u"X", dlaFail);
  records.AddMapping(u"B", u"Y", dlaFail);
  std::vector<uint8_t> dup = Written([&](TzfWriter& w) { records.WriteToWriter(w, 30900); });
  const std::vector<uint8_t> y = {vaString, 1, 'Y'};
  auto at = std::search(dup.begin(), dup.end(), y.begin(), y.end());
  ASSERT_NE(at, dup.end());
  at[2] = 'x';
  EXPECT_EQ(Outcome([&] {
              ReadFrom(dup, [](TzfReader& r) { return TzfBaseRecordMapperDescriptor::CreateFromReader(r); });
            }),
            u"!EStringListError: String list does not allow duplicates");
}

TEST_F(MapperDescriptorTest, EveryTruncationOfAStreamIsRefusedWithACode) {
  const std::vector<uint8_t> bytes = WrittenTable(*SampleTree());
  for (size_t n = 0; n < bytes.size(); ++n) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    try {
      ReadTable(cut);
      ADD_FAILURE() << "a stream cut at " << n << " bytes was read";
    } catch (const EzfBaseException& e) {
      EXPECT_EQ(e.ErrorCode(), zfErrIncompatibleStream) << n;
    }
  }
}

TEST_F(MapperDescriptorTest, NestingIsBoundedWhenRead) {
  auto nested = [](int aLevels) {
    // Each level: a table mapper whose one child is the next level.
    std::vector<uint8_t> b;
    for (int i = 0; i < aLevels; ++i) {
      Ident(b, "TzfBaseTableMapperDescriptor");
      Int8(b, 1);
      Str(b, ".");
      Str(b, ".");
      b.push_back(vaFalse);
      Int8(b, i + 1 < aLevels ? 1 : 0);
    }
    return b;
  };
  EXPECT_EQ(Outcome([&] { ReadTable(nested(zfMaxTableMapperNesting)); }), u"ok");
  EXPECT_EQ(Outcome([&] { ReadTable(nested(zfMaxTableMapperNesting + 1)); }),
            u"!EzfBaseTableMapperDescriptorException #15498: Incompatible stream");
}

TEST_F(MapperDescriptorTest, ChildTablesAreNamedUniquely) {
  TzfTableMapperDescriptor root;
  auto* a = root.AddTable(u"Lines");
  EXPECT_EQ(a->btmdParent, &root);
  EXPECT_EQ(a->btmdMapTo, u".");
  EXPECT_EQ(Outcome([&] { root.AddTable(u"LINES"); }),
            u"!EzfTableMapperDescriptorException #10009: Duplicated table name: LINES");
  // Each class raises with its own exception class.
  TzfBaseTableMapperDescriptor base;
  base.AddTable(u"Lines");
  EXPECT_EQ(Outcome([&] { base.AddTable(u"lines"); }),
            u"!EzfBaseTableMapperDescriptorException #10009: Duplicated table name: lines");
  EXPECT_EQ(Outcome([&] { root.GetTableDescriptorFromName(u"None"); }),
            u"!EzfTableMapperDescriptorException #10024: Table does not exist.");
  root.RemoveTable(5);
  root.RemoveTable(u"none");
  EXPECT_EQ(root.TableCount(), 1);
  root.RemoveTable(u"lines");
  EXPECT_EQ(root.TableCount(), 0);
}

TEST_F(MapperDescriptorTest, MappingsStaySortedByTargetName) {
  TzfRecordMapperDescriptor r;
  r.AddMapping(u"s1", u"Beta", dlaFail);
  r.AddMapping(u"s2", u"alpha", dlaFail);
  r.AddMapping(u"s3", u"Gamma", dlaFail);
  EXPECT_EQ(Outcome([&] { r.AddMapping(u"s4", u"BETA", dlaFail); }),
            u"!EStringListError: String list does not allow duplicates");
  EXPECT_EQ(r.FieldMapperCount(), 3);
  EXPECT_EQ(r.FieldMapperIndexOf(u"ALPHA"), 0);
  EXPECT_EQ(r.FieldMapperIndexOf(u"gamma"), 2);
  EXPECT_EQ(r.FieldMapperIndexOf(u"delta"), -1);

  // A change of case keeps the entry where it is; a new name moves it.
  EXPECT_EQ(r.UpdateTargetName(u"beta", u"BETA")->bfcdTargetName, u"BETA");
  EXPECT_EQ(r.FieldMapperIndexOf(u"Beta"), 1);
  r.UpdateTargetName(u"alpha", u"Zeta");
  EXPECT_EQ(r.FieldMapper(2)->bfcdTargetName, u"Zeta");
  EXPECT_EQ(r.FieldMapper(0)->bfcdTargetName, u"BETA");
  EXPECT_EQ(Outcome([&] { r.UpdateTargetName(u"Zeta", u"gamma"); }),
            u"!EStringListError: String list does not allow duplicates");
  EXPECT_EQ(r.FieldMapper(2)->bfcdTargetName, u"Zeta");
  EXPECT_EQ(r.UpdateSourceName(u"zeta", u"new")->bfcdSourceName, u"new");

  EXPECT_EQ(Outcome([&] { r.DeleteMapping(u"none"); }), u"!EStringListError: List index out of bounds (-1)");
  EXPECT_EQ(Outcome([&] { r.UpdateTargetName(u"none", u"x"); }),
            u"!EStringListError: List index out of bounds (-1)");
  r.DeleteMapping(u"beta");
  EXPECT_EQ(r.FieldMapperCount(), 2);
}

TEST_F(MapperDescriptorTest, FieldsPairByPositionUpToTheShorterList) {
  TTestCursor oldT, newT;
  oldT.Add(u"A", zftInt32);
  oldT.Add(u"B", zftInt32);
  oldT.Add(u"C", zftInt32);
  newT.Add(u"X", zftInt32);
  newT.Add(u"Y", zftInt32);
  TzfRecordMapperDescriptor r;
  r.MapAllFieldsByPosition(oldT.Fields(), newT.Fields(), dlaNull);
  ASSERT_EQ(r.FieldMapperCount(), 2);
  EXPECT_EQ(r.FieldMapper(0)->bfcdSourceName, u"A");
  EXPECT_EQ(r.FieldMapper(1)->bfcdSourceName, u"B");
  EXPECT_EQ(r.FieldMapper(1)->bfcdTargetName, u"Y");
}

// Fields pair by name whatever their order, case or type; fields on one side only get nothing.
TEST_F(MapperDescriptorTest, MapAllTablesAndFieldsByNamePairsFieldsAndNestedTables) {
  TTestCursor oldT, newT;
  oldT.Add(u"ID", zftInt32);
  oldT.Add(u"Name", zftShortString, 20);
  oldT.Add(u"Gone", zftInt32);
  oldT.Add(u"Price", zftCurrency);
  newT.Add(u"price", zftDouble);  // another type: still paired by name
  newT.Add(u"Extra", zftInt16);
  newT.Add(u"name", zftShortString, 20);
  newT.Add(u"ID", zftInt32);

  oldT.Dict.tdTablesDescriptor->AddTable(u"Lines")->tdFieldsDescriptor->AddField(u"Qty", u"", zftInt32, 0, 0, false, nullptr);
  oldT.Dict.tdTablesDescriptor->AddTable(u"OldOnly");
  auto* lines = newT.Dict.tdTablesDescriptor->AddTable(u"LINES");
  lines->tdFieldsDescriptor->AddField(u"qty", u"", zftInt64, 0, 0, false, nullptr);
  lines->tdTablesDescriptor->AddTable(u"Deeper");
  newT.Dict.tdTablesDescriptor->AddTable(u"NewOnly");

  TzfTableMapperDescriptor d;
  d.MapAllTablesAndFieldsByName(oldT.Dict, newT.Dict, dlaFail);

  auto* rm = dynamic_cast<TzfRecordMapperDescriptor*>(d.RecordMapper());
  ASSERT_NE(rm, nullptr);
  EXPECT_TRUE(rm->rmdApplyDefaultForUnmapped);
  ASSERT_EQ(rm->FieldMapperCount(), 3);
  const std::pair<const char16_t*, const char16_t*> expected[] = {{u"ID", u"ID"}, {u"Name", u"name"}, {u"Price", u"price"}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(rm->FieldMapper(i)->bfcdSourceName, expected[i].first);
    EXPECT_EQ(rm->FieldMapper(i)->bfcdTargetName, expected[i].second);
    EXPECT_EQ(rm->FieldMapper(i)->bfcdDataLossAction, dlaFail);
  }

  ASSERT_EQ(d.TableCount(), 1);
  TzfBaseTableMapperDescriptor* child = d.TableDescriptor(0);
  EXPECT_EQ(child->btmdName, u"Lines");
  EXPECT_EQ(UnicodeString(child->ClassName()), u"TzfTableMapperDescriptor");
  auto* childRm = dynamic_cast<TzfRecordMapperDescriptor*>(child->RecordMapper());
  ASSERT_NE(childRm, nullptr);
  ASSERT_EQ(childRm->FieldMapperCount(), 1);
  EXPECT_EQ(childRm->FieldMapper(0)->bfcdTargetName, u"qty");
  EXPECT_EQ(child->TableCount(), 0);  // "Deeper" exists on the new side only

  // A second run keeps the children and refuses to add one twice.
  EXPECT_EQ(Outcome([&] { d.MapAllTablesAndFieldsByName(oldT.Dict, newT.Dict, dlaFail); }),
            u"!EzfTableMapperDescriptorException #10009: Duplicated table name: Lines");
}

}  // namespace
}  // namespace zf::test
