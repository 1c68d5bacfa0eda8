// A table copied into a layout with retyped floating-point, money, date, GUID, byte-array and
// FmtBCD fields through the record mapper engine: each value becomes what the mappers' tables of
// cases say, and a value that does not fit fails the record, becomes NULL or is brought into
// range, by the action.
#include <gtest/gtest.h>

#include "mapping/zfsdMapperText.h"
#include "mapping/zfsdTableMapperDescriptor.h"
#include "mapping/zfsrRecordMapperEngine.h"
#include "tests/mapping/zfsdValueMapperCases.h"

namespace zf::test {
namespace {

class RetypedCopyTest : public MappingStarted {};

constexpr double kY2000 = 730120.0 * 86400000.0;  // 1 January 2000 as a stored DateTime
const std::vector<uint8_t> kGuidBytes = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                         0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

TEST_F(RetypedCopyTest, EveryValueMapsAsItsTypesTableSays) {
  struct Field {
    const char16_t* Name;
    TSide From, To;
    std::vector<uint8_t> Fits, DoesNotFit;
  };
  const Field fields[] = {
      {u"D", {zftDouble}, {zftInt16}, Dbl(3.0), Dbl(2.5)},
      {u"S", {zftSingle}, {zftCurrency}, Sgl(1.5f), Sgl(0.1f)},
      {u"C", {zftCurrency}, {zftInt32}, Cur(120000), Cur(125000)},
      {u"X", {zftExtended}, {zftDouble}, Ext(-1.25L), Ext(1E309L)},
      {u"T", {zftDateTime}, {zftDate}, Dbl(kY2000), Dbl(kY2000 + 43200000)},
      {u"Dt", {zftDate}, {zftWideString, 10, 0, 0, 1031}, I32(730120), I32(730120)},
      {u"G", {zftGuid}, {zftNullString, 39}, kGuidBytes, kGuidBytes},
      {u"A", {zftByteArray, 6, 0, 1251}, {zftShortString, 4, 0, 65001}, Bytes("\xC6"), Bytes("\xC6\xF3\xEA")},
      {u"F", {zftFmtBCD, 10, 4}, {zftFmtBCD, 10, 2}, {0x0a, 0x04, 0x00, 0x01, 0x23, 0x45, 0x00},
       {0x0a, 0x04, 0x00, 0x01, 0x23, 0x45, 0x67}},
      {u"B", {zftBCD, 12, 2}, {zftInt8}, Cur(50000), Cur(3000000)},
  };
  constexpr size_t kFields = std::size(fields);

  TTestCursor source(u"Src"), target(u"Dst");
  for (const Field& f : fields) {
    AddSide(source, f.Name, f.From);
    AddSide(target, f.Name, f.To);
  }
  auto record = [&](bool aFits) {
    std::vector<uint8_t> r = source.NewRecord();
    for (size_t i = 0; i < kFields; ++i) {
      TzfFieldDescriptor* f = source.Fields().Field(static_cast<int32_t>(i));
      const std::vector<uint8_t>& v = aFits ? fields[i].Fits : fields[i].DoesNotFit;
      std::copy_n(v.begin(), std::min(v.size(), static_cast<size_t>(f->fdLength)), r.begin() + f->fdOffset);
      source.Fields().SetRecordFieldNull(static_cast<int32_t>(i), r.data(), false);
    }
    return r;
  };
  auto shown = [&](const std::vector<uint8_t>& aRecord, size_t aField) -> std::string {
    const auto i = static_cast<int32_t>(aField);
    if (target.Fields().IsRecordFieldNull(i, aRecord.data())) return "NULL";
    TzfFieldDescriptor* f = target.Fields().Field(i);
    const std::vector<uint8_t> bytes(aRecord.begin() + f->fdOffset, aRecord.begin() + f->fdOffset + f->fdLength);
    return zfIsTextMappingTarget(f->fdType) ? TextOf(f->fdType, bytes) : HexOf(bytes);
  };

  const std::string guidText = "n\"{33221100-5544-7766-8899-AABBCCDDEEFF}\"";
  const std::vector<std::string> fitting = {
      "03 00", "98 3a 00 00 00 00 00 00", "0c 00 00 00", "00 00 00 00 00 00 f4 bf", "08 24 0b 00",
      "w\"01.01.2000\"", guidText, "s\"\\xd0\\x96\"", "0a 02 00 00 01 23 45", "05"};
  struct Run {
    TzfDataLossAction Action;
    uint32_t Result;  // of the record that does not fit
    std::vector<std::string> Fields;
  };
  const Run runs[] = {
      {dlaFail, 10002, {}},
      {dlaNull, 0, {"NULL", "NULL", "NULL", "NULL", "NULL", "w\"01.01.2000\"", guidText, "NULL", "NULL", "NULL"}},
      {dlaBestFit,
       0,
       {"02 00", "e8 03 00 00 00 00 00 00", "0c 00 00 00", "76 3b 77 30 d1 42 ee 7f", "08 24 0b 00",
        "w\"01.01.2000\"", guidText, "s\"\\xd0\\x96\\xd1\\x83\"", "0a 02 00 00 01 23 45", "7f"}},
  };
  const std::vector<uint8_t> fits = record(true), doesNotFit = record(false);
  for (const Run& r : runs) {
    SCOPED_TRACE(rtl::u8(zfDataLossActionName(r.Action)));
    TzfTableMapperDescriptor tables;
    tables.MapAllTablesAndFieldsByName(source.Dict, target.Dict, r.Action);
    auto engine = TzfBaseRecordMapperEngine::CreateFor(
        static_cast<TzfRecordMapperDescriptor&>(*tables.RecordMapper()), source, target);
    engine->BeforeFirstRecord();

    std::vector<uint8_t> dst = target.NewRecord();
    ASSERT_EQ(engine->MapRecord(fits.data(), dst.data()), 0u);
    for (size_t i = 0; i < kFields; ++i) EXPECT_EQ(shown(dst, i), fitting[i]) << "field " << i;

    dst = target.NewRecord();
    ASSERT_EQ(engine->MapRecord(doesNotFit.data(), dst.data()), r.Result);
    if (r.Result) continue;
    for (size_t i = 0; i < kFields; ++i) EXPECT_EQ(shown(dst, i), r.Fields[i]) << "field " << i;
  }
}

}  // namespace
}  // namespace zf::test
