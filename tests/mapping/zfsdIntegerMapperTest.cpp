// The Boolean and integer value mappers: every value into every numeric target under each
// data-loss action, checked against stored bytes written out by hand.
#include <gtest/gtest.h>

#include <string>

#include "mapping/zfsdFieldMapperDescriptor.h"
#include "mapping/zfsdIntegerMapper.h"
#include "mapping/zfsdTableMapperDescriptor.h"
#include "mapping/zfsrRecordMapperEngine.h"
#include "tests/mapping/zfsdValueMapperCases.h"

namespace zf::test {
namespace {

class IntegerMapperTest : public MappingStarted {};


struct Case {
  TzfFieldType Source;
  int64_t Value;  // stored little-endian in the source field's bytes
  TzfFieldType Target;
  int32_t Units, DecPl;
  TAct Act;
  // The whole target field after the call, in hex; "ee" marks a byte left unwritten. "E" for a
  // result of 10002 with the target untouched, "-" for a pair that gets no method.
  const char* Expected;
};

// Runs one case and answers what it stored, in the notation of Case::Expected.
std::string Run(const Case& c) {
  TTestCursor source, target;
  TzfFieldDescriptor* s = source.Add(u"S", c.Source);
  TzfFieldDescriptor* d = target.Add(u"T", c.Target, c.Units, c.DecPl);
  const TzfDataLossAction action = c.Act == B ? dlaBestFit : c.Act == N ? dlaNull : dlaFail;
  TzfFieldMapperDescriptor desc(u"S", u"T", action);
  TzfMappingMethod method;
  auto mapper = TzfBaseFieldMapper::CreateMapper(*s, &source, *d, &target, c.Act == X ? nullptr : &desc, method);
  if (!method.IsSet()) return "-";
  std::vector<uint8_t> from(static_cast<size_t>(s->fdLength));
  for (size_t i = 0; i < from.size(); ++i) from[i] = static_cast<uint8_t>(static_cast<uint64_t>(c.Value) >> (8 * i));
  std::vector<uint8_t> to(static_cast<size_t>(d->fdLength), 0xEE);
  const uint32_t result = method(from.data(), to.data());
  if (result == 10002 && to == std::vector<uint8_t>(to.size(), 0xEE)) return "E";
  if (result != 0) return "result " + std::to_string(result) + ": " + HexOf(to);
  return HexOf(to);
}

void RunAll(const std::vector<Case>& aCases) {
  for (const Case& c : aCases)
    EXPECT_EQ(Run(c), c.Expected) << "source type " << int(c.Source) << " value " << c.Value << " -> type "
                                  << int(c.Target) << " (" << c.Units << "," << c.DecPl << ") action " << int(c.Act);
}

constexpr int64_t kI64Min = INT64_MIN, kI64Max = INT64_MAX;

TEST_F(IntegerMapperTest, BooleanSourceIntoEveryNumericTarget) {
  RunAll({
      {zftBoolean, 0x01, zftBoolean, 0, 0, F, "01"},
      {zftBoolean, 0xFF, zftBoolean, 0, 0, B, "ff"},
      {zftBoolean, 0x00, zftChar, 0, 0, F, "30"},
      {zftBoolean, 0xFF, zftChar, 0, 0, F, "31"},
      {zftBoolean, 0x01, zftWideChar, 0, 0, B, "31 00"},
      // Any True is 1 in a Byte, however it is stored.
      {zftBoolean, 0x00, zftByte, 0, 0, F, "00"},
      {zftBoolean, 0x01, zftByte, 0, 0, F, "01"},
      {zftBoolean, 0xFF, zftByte, 0, 0, F, "01"},
      {zftBoolean, 0x80, zftByte, 0, 0, X, "01"},
      {zftBoolean, 0xFF, zftWord16, 0, 0, F, "01 00"},
      {zftBoolean, 0x80, zftWord32, 0, 0, F, "80 00 00 00"},
      {zftBoolean, 0xFF, zftAutoInc, 0, 0, B, "01 00 00 00"},
      {zftBoolean, 0xFF, zftRecRev, 0, 0, F, "01 00 00 00"},
      {zftBoolean, 0xFF, zftInt8, 0, 0, F, "ff"},
      {zftBoolean, 0xFF, zftInt16, 0, 0, F, "ff 00"},
      {zftBoolean, 0xFF, zftInt32, 0, 0, F, "ff 00 00 00"},
      {zftBoolean, 0xFF, zftInt64, 0, 0, F, "ff ff ff ff ff ff ff ff"},
      {zftBoolean, 0x01, zftInt64, 0, 0, F, "01 00 00 00 00 00 00 00"},
      {zftBoolean, 0xFF, zftSingle, 0, 0, F, "00 00 80 bf"},
      {zftBoolean, 0x01, zftDouble, 0, 0, F, "00 00 00 00 00 00 f0 3f"},
      {zftBoolean, 0xFF, zftExtended, 0, 0, F, "00 00 00 00 00 00 00 80 ff bf"},
      {zftBoolean, 0xFF, zftCurrency, 0, 0, F, "f0 d8 ff ff ff ff ff ff"},
      {zftBoolean, 0x01, zftBCD, 5, 2, F, "10 27 00 00 00 00 00 00"},
      {zftBoolean, 0x01, zftByteArray, 3, 0, F, "ff ee ee"},
      {zftBoolean, 0x00, zftByteArray, 3, 0, F, "00 ee ee"},
      {zftBoolean, 0xFF, zftShortString, 5, 0, F, "01 31 ee ee ee ee"},
      {zftBoolean, 0x00, zftNullString, 2, 0, F, "30 00 ee"},
      {zftBoolean, 0xFF, zftWideString, 2, 0, F, "31 00 00 00 ee ee"},
      {zftBoolean, 0x01, zftDate, 0, 0, F, "-"},
      {zftBoolean, 0x01, zftGuid, 0, 0, B, "-"},
  });
}

// Integer into integer: widening keeps the value (sign- or zero-extended); a range-limited target
// refuses an out-of-range value unless best fit clamps it. Nothing wraps to its low bits.
TEST_F(IntegerMapperTest, IntegerTargetsRefuseOrClampAtEveryBoundary) {
  RunAll({
      // Int8
      {zftInt8, -128, zftInt16, 0, 0, F, "80 ff"},
      {zftInt8, -128, zftInt64, 0, 0, F, "80 ff ff ff ff ff ff ff"},
      {zftInt8, 127, zftInt32, 0, 0, F, "7f 00 00 00"},
      {zftInt8, 127, zftByte, 0, 0, F, "7f"},
      {zftInt8, -128, zftByte, 0, 0, F, "E"},
      {zftInt8, -128, zftByte, 0, 0, N, "E"},
      {zftInt8, -128, zftByte, 0, 0, B, "00"},
      {zftInt8, -1, zftWord16, 0, 0, X, "E"},
      {zftInt8, -1, zftWord16, 0, 0, B, "00 00"},
      {zftInt8, -1, zftAutoInc, 0, 0, B, "00 00 00 00"},
      // Int16
      {zftInt16, 300, zftByte, 0, 0, F, "E"},
      {zftInt16, 300, zftByte, 0, 0, B, "ff"},
      {zftInt16, -5, zftByte, 0, 0, F, "E"},
      {zftInt16, -5, zftByte, 0, 0, B, "00"},
      {zftInt16, 255, zftByte, 0, 0, F, "ff"},
      {zftInt16, 256, zftByte, 0, 0, F, "E"},
      {zftInt16, -128, zftInt8, 0, 0, F, "80"},
      {zftInt16, -129, zftInt8, 0, 0, F, "E"},
      {zftInt16, 127, zftInt8, 0, 0, F, "7f"},
      {zftInt16, 128, zftInt8, 0, 0, F, "E"},
      {zftInt16, -32768, zftInt8, 0, 0, B, "80"},
      {zftInt16, 32767, zftInt8, 0, 0, B, "7f"},
      {zftInt16, 32767, zftWord16, 0, 0, F, "ff 7f"},
      {zftInt16, -1, zftRecRev, 0, 0, B, "00 00 00 00"},
      {zftInt16, -32768, zftInt32, 0, 0, F, "00 80 ff ff"},
      // Int32
      {zftInt32, 65535, zftWord16, 0, 0, F, "ff ff"},
      {zftInt32, 65536, zftWord16, 0, 0, F, "E"},
      {zftInt32, 65536, zftWord16, 0, 0, B, "ff ff"},
      {zftInt32, 2147483647, zftInt16, 0, 0, B, "ff 7f"},
      {zftInt32, -2147483648LL, zftInt16, 0, 0, B, "00 80"},
      {zftInt32, -32768, zftInt16, 0, 0, F, "00 80"},
      {zftInt32, -32769, zftInt16, 0, 0, F, "E"},
      {zftInt32, 2147483647, zftWord32, 0, 0, F, "ff ff ff 7f"},
      {zftInt32, -1, zftWord32, 0, 0, F, "E"},
      {zftInt32, -2147483648LL, zftInt64, 0, 0, F, "00 00 00 80 ff ff ff ff"},
      // Int64
      {zftInt64, kI64Max, zftInt64, 0, 0, F, "ff ff ff ff ff ff ff 7f"},
      {zftInt64, kI64Max, zftInt32, 0, 0, B, "ff ff ff 7f"},
      {zftInt64, kI64Min, zftInt32, 0, 0, B, "00 00 00 80"},
      {zftInt64, 2147483648LL, zftInt32, 0, 0, F, "E"},
      {zftInt64, -2147483648LL, zftInt32, 0, 0, F, "00 00 00 80"},
      {zftInt64, 4294967295LL, zftWord32, 0, 0, F, "ff ff ff ff"},
      {zftInt64, 4294967296LL, zftWord32, 0, 0, F, "E"},
      {zftInt64, 4294967296LL, zftWord32, 0, 0, N, "E"},
      {zftInt64, 4294967296LL, zftWord32, 0, 0, B, "ff ff ff ff"},
      {zftInt64, -1, zftWord32, 0, 0, B, "00 00 00 00"},
      {zftInt64, -1, zftByte, 0, 0, N, "E"},
      {zftInt64, 256, zftByte, 0, 0, F, "E"},
      {zftInt64, kI64Min, zftInt8, 0, 0, B, "80"},
      {zftInt64, kI64Max, zftWord16, 0, 0, B, "ff ff"},
      // Byte
      {zftByte, 255, zftInt8, 0, 0, F, "E"},
      {zftByte, 255, zftInt8, 0, 0, B, "7f"},
      {zftByte, 127, zftInt8, 0, 0, F, "7f"},
      {zftByte, 255, zftInt16, 0, 0, F, "ff 00"},
      {zftByte, 255, zftWord32, 0, 0, F, "ff 00 00 00"},
      // Word16
      {zftWord16, 65535, zftInt16, 0, 0, F, "E"},
      {zftWord16, 65535, zftInt16, 0, 0, B, "ff 7f"},
      {zftWord16, 32767, zftInt16, 0, 0, F, "ff 7f"},
      {zftWord16, 256, zftByte, 0, 0, F, "E"},
      {zftWord16, 65535, zftByte, 0, 0, B, "ff"},
      {zftWord16, 32768, zftInt8, 0, 0, B, "7f"},
      {zftWord16, 65535, zftInt32, 0, 0, F, "ff ff 00 00"},
      // Word32, AutoInc, RecRev
      {zftWord32, 4294967295LL, zftInt32, 0, 0, F, "E"},
      {zftWord32, 4294967295LL, zftInt32, 0, 0, B, "ff ff ff 7f"},
      {zftWord32, 2147483647, zftInt32, 0, 0, F, "ff ff ff 7f"},
      {zftWord32, 4294967295LL, zftInt64, 0, 0, F, "ff ff ff ff 00 00 00 00"},
      {zftWord32, 65536, zftWord16, 0, 0, F, "E"},
      {zftWord32, 4294967295LL, zftWord16, 0, 0, B, "ff ff"},
      {zftWord32, 4294967295LL, zftAutoInc, 0, 0, F, "ff ff ff ff"},
      {zftRecRev, 128, zftInt8, 0, 0, F, "E"},
      {zftRecRev, 128, zftInt8, 0, 0, B, "7f"},
      {zftAutoInc, 5, zftByte, 0, 0, F, "05"},
      {zftAutoInc, 4294967295LL, zftRecRev, 0, 0, F, "ff ff ff ff"},
  });
}

TEST_F(IntegerMapperTest, IntegerIntoBooleanCharacterFloatMoneyAndBytes) {
  RunAll({
      {zftInt64, 4294967296LL, zftBoolean, 0, 0, F, "E"},
      {zftInt64, 4294967296LL, zftBoolean, 0, 0, B, "ff"},
      {zftInt64, 1, zftBoolean, 0, 0, F, "ff"},
      {zftInt64, 0, zftBoolean, 0, 0, F, "00"},
      {zftInt8, -1, zftBoolean, 0, 0, X, "E"},
      {zftInt8, -1, zftBoolean, 0, 0, B, "ff"},
      {zftWord16, 2, zftBoolean, 0, 0, F, "E"},
      // Characters: a single digit, or the first character of the text under best fit.
      {zftInt64, 4294967301LL, zftWideChar, 0, 0, F, "E"},
      {zftInt32, 7, zftWideChar, 0, 0, F, "37 00"},
      {zftInt32, -7, zftWideChar, 0, 0, B, "2d 00"},
      {zftInt32, -7, zftWideChar, 0, 0, F, "E"},
      {zftInt16, 10, zftChar, 0, 0, F, "E"},
      {zftInt16, 10, zftChar, 0, 0, B, "31"},
      {zftByte, 0, zftChar, 0, 0, F, "30"},
      {zftByte, 9, zftChar, 0, 0, N, "39"},
      {zftWord32, 4294967295LL, zftChar, 0, 0, B, "34"},
      // Floating point: the nearest value, ties to even.
      {zftInt32, 1, zftSingle, 0, 0, F, "00 00 80 3f"},
      {zftInt32, 16777217, zftSingle, 0, 0, F, "00 00 80 4b"},
      {zftInt32, 16777219, zftSingle, 0, 0, B, "02 00 80 4b"},
      {zftInt64, kI64Max, zftDouble, 0, 0, F, "00 00 00 00 00 00 e0 43"},
      {zftInt8, -1, zftDouble, 0, 0, F, "00 00 00 00 00 00 f0 bf"},
      {zftWord32, 4294967295LL, zftExtended, 0, 0, F, "00 00 00 00 ff ff ff ff 1e 40"},
      // Currency: v x 10000; an Int64 beyond the Currency range stores its limit.
      {zftInt16, 1, zftCurrency, 0, 0, F, "10 27 00 00 00 00 00 00"},
      {zftInt16, -1, zftCurrency, 0, 0, F, "f0 d8 ff ff ff ff ff ff"},
      {zftWord32, 4294967295LL, zftCurrency, 0, 0, F, "f0 d8 ff ff 0f 27 00 00"},
      {zftInt64, kI64Max, zftCurrency, 0, 0, F, "50 e9 ff ff ff ff ff 7f"},
      {zftInt64, kI64Max, zftCurrency, 0, 0, B, "50 e9 ff ff ff ff ff 7f"},
      {zftInt64, 922337203685478LL, zftCurrency, 0, 0, F, "50 e9 ff ff ff ff ff 7f"},
      {zftInt64, kI64Min, zftCurrency, 0, 0, F, "b0 16 00 00 00 00 00 80"},
      // Byte arrays: the source's bytes into the first bytes, when the target has room.
      {zftInt16, 0x1234, zftByteArray, 1, 0, F, "-"},
      {zftInt16, 0x1234, zftByteArray, 4, 0, F, "34 12 ee ee"},
      {zftInt64, 0x0102030405060708LL, zftByteArray, 7, 0, B, "-"},
      {zftInt64, 0x0102030405060708LL, zftByteArray, 8, 0, F, "08 07 06 05 04 03 02 01"},
      {zftWord32, 0x01020304, zftByteArray, 4, 0, F, "04 03 02 01"},
      // Nothing integer maps into dates, GUIDs, FmtBCD or BLOBs.
      {zftInt32, 1, zftDate, 0, 0, B, "-"},
      {zftInt32, 1, zftFmtBCD, 10, 2, B, "-"},
      {zftInt64, 1, zftBlob, 0, 0, B, "-"},
  });
}

TEST_F(IntegerMapperTest, IntegerIntoTextIsCheckedOrCut) {
  RunAll({
      // Every Int8 fits four characters, so even a checking action copies.
      {zftInt8, -128, zftShortString, 4, 0, F, "04 2d 31 32 38"},
      {zftInt8, 127, zftShortString, 3, 0, F, "03 31 32 37"},
      {zftInt8, -128, zftShortString, 3, 0, F, "E"},
      {zftInt8, -128, zftShortString, 3, 0, B, "03 2d 31 32"},
      {zftInt8, 5, zftShortString, 3, 0, F, "01 35 ee ee"},
      {zftInt32, -2147483648LL, zftWideString, 11, 0, F,
       "2d 00 32 00 31 00 34 00 37 00 34 00 38 00 33 00 36 00 34 00 38 00 00 00"},
      {zftInt32, -2147483648LL, zftWideString, 10, 0, F, "E"},
      {zftInt32, -2147483648LL, zftWideString, 10, 0, B,
       "2d 00 32 00 31 00 34 00 37 00 34 00 38 00 33 00 36 00 34 00 00 00"},
      {zftInt32, 0, zftWideString, 10, 0, X, "30 00 00 00 ee ee ee ee ee ee ee ee ee ee ee ee ee ee ee ee ee ee"},
      {zftWord16, 65535, zftNullString, 5, 0, F, "36 35 35 33 35 00"},
      {zftWord16, 65535, zftNullString, 4, 0, F, "E"},
      {zftWord16, 65535, zftNullString, 4, 0, B, "36 35 35 33 00"},
      {zftWord16, 9999, zftNullString, 4, 0, N, "39 39 39 39 00"},
      {zftInt64, kI64Min, zftShortString, 20, 0, F,
       "14 2d 39 32 32 33 33 37 32 30 33 36 38 35 34 37 37 35 38 30 38"},
      {zftInt64, kI64Max, zftShortString, 18, 0, F, "E"},
      {zftWord32, 4294967295LL, zftNullString, 9, 0, F, "E"},
      {zftWord32, 4294967295LL, zftNullString, 10, 0, F, "34 32 39 34 39 36 37 32 39 35 00"},
  });
}

// BCD targets keep units - decimals integer digits: a source that always fits goes straight to
// the 8-byte amount; otherwise a lost digit is refused, or dropped from the top under best fit.
TEST_F(IntegerMapperTest, IntegerIntoBcdKeepsTheTargetsIntegerDigits) {
  RunAll({
      {zftInt16, 12345, zftBCD, 6, 2, F, "E"},
      {zftInt16, 12345, zftBCD, 6, 2, B, "90 d1 65 01 00 00 00 00"},
      {zftInt16, -12345, zftBCD, 6, 2, B, "70 2e 9a fe ff ff ff ff"},
      {zftInt16, 9999, zftBCD, 6, 2, F, "f0 b9 f5 05 00 00 00 00"},
      {zftInt16, 12345, zftBCD, 7, 2, F, "90 b2 5b 07 00 00 00 00"},
      {zftInt8, -128, zftBCD, 2, 0, F, "E"},
      {zftInt8, -128, zftBCD, 2, 0, B, "40 ba fb ff ff ff ff ff"},
      {zftInt8, 127, zftBCD, 3, 0, F, "f0 60 13 00 00 00 00 00"},
      {zftInt8, -128, zftBCD, 3, 0, F, "00 78 ec ff ff ff ff ff"},
      {zftInt32, 2147483647, zftBCD, 14, 4, F, "f0 d8 ff ff 87 13 00 00"},
      {zftInt32, -2147483648LL, zftBCD, 14, 4, F, "00 00 00 00 78 ec ff ff"},
      {zftInt32, 2147483647, zftBCD, 13, 4, F, "E"},
      {zftInt32, 2147483647, zftBCD, 13, 4, B, "f0 98 1a 63 57 01 00 00"},
      {zftWord32, 4294967295LL, zftBCD, 14, 4, N, "f0 d8 ff ff 0f 27 00 00"},
      // Int64 is always checked digit by digit; 16 integer digits hold more than the 8-byte form.
      {zftInt64, kI64Max, zftBCD, 20, 4, F, "E"},
      {zftInt64, 1000000000000000LL, zftBCD, 20, 4, F, "E"},
      {zftInt64, 922337203685477LL, zftBCD, 20, 4, F, "50 e9 ff ff ff ff ff 7f"},
      {zftInt64, 1000000000000000LL, zftBCD, 20, 4, B, "50 e9 ff ff ff ff ff 7f"},
      {zftInt64, 10000000000000000LL, zftBCD, 20, 4, B, "00 00 00 00 00 00 00 00"},
      {zftInt64, kI64Min, zftBCD, 20, 4, B, "b0 16 00 00 00 00 00 80"},
      {zftInt64, -12345, zftBCD, 8, 4, F, "E"},
      {zftInt64, -12345, zftBCD, 8, 4, B, "70 2e 9a fe ff ff ff ff"},
      {zftInt64, -1234, zftBCD, 8, 4, F, "e0 b4 43 ff ff ff ff ff"},
  });
}

TEST_F(IntegerMapperTest, EveryBooleanAndIntegerSourceIsServedForEveryNumericTargetOnly) {
  const TzfFieldType sources[] = {zftBoolean, zftByte,  zftWord16, zftWord32, zftAutoInc,
                                  zftRecRev,  zftInt8,  zftInt16,  zftInt32,  zftInt64};
  const char16_t* names[] = {u"TzfBooleanMapper", u"TzfByte8Mapper", u"TzfWord16Mapper", u"TzfWord32Mapper",
                             u"TzfWord32Mapper",  u"TzfWord32Mapper", u"TzfInt8Mapper",  u"TzfInt16Mapper",
                             u"TzfInt32Mapper",   u"TzfInt64Mapper"};
  for (size_t i = 0; i < std::size(sources); ++i)
    for (int t = 0; t < zfFieldTypeCount; ++t) {
      const auto target = static_cast<TzfFieldType>(t);
      const auto cell = zfFieldMapperCell(sources[i], target);
      SCOPED_TRACE(::testing::Message() << "source " << int(sources[i]) << " target " << t);
      if (!zfIsNumericMappingTarget(target)) {
        EXPECT_TRUE(cell.empty());
        continue;
      }
      ASSERT_FALSE(cell.empty());
      EXPECT_EQ(rtl::UnicodeString(cell.back()->Name), rtl::UnicodeString(names[i]));
    }
}

// A table copied into a layout with retyped fields through the record mapper engine: each value
// becomes what the table of cases above says, and a value that does not fit fails the record,
// becomes NULL or is clamped, by the action.
TEST_F(IntegerMapperTest, ARecordCopiedIntoRetypedFieldsMapsEveryValue) {
  TTestCursor source(u"Src"), target(u"Dst");
  source.Add(u"A", zftInt64);
  source.Add(u"B", zftWord16);
  source.Add(u"C", zftBoolean);
  source.Add(u"D", zftInt16);
  source.Add(u"E", zftInt32);
  target.Add(u"A", zftWord32);
  target.Add(u"B", zftInt8);
  target.Add(u"C", zftByte);
  target.Add(u"D", zftShortString, 3);
  target.Add(u"E", zftBCD, 6, 2);
  std::vector<uint8_t> src(source.NewRecord());
  TzfFieldsDescriptor& fields = source.Fields();
  const int64_t values[] = {4294967296LL, 100, 0xFF, -1234, 12345};
  for (int32_t i = 0; i < 5; ++i) {
    TzfFieldDescriptor* f = fields.Field(i);
    for (int32_t b = 0; b < f->fdLength; ++b)
      src[static_cast<size_t>(f->fdOffset + b)] = static_cast<uint8_t>(static_cast<uint64_t>(values[i]) >> (8 * b));
    fields.SetRecordFieldNull(i, src.data(), false);
  }
  auto field = [&](const std::vector<uint8_t>& aRecord, int32_t aField) -> std::string {
    if (target.Fields().IsRecordFieldNull(aField, aRecord.data())) return "NULL";
    TzfFieldDescriptor* f = target.Fields().Field(aField);
    return HexOf({aRecord.begin() + f->fdOffset, aRecord.begin() + f->fdOffset + f->fdLength});
  };
  struct Run {
    TzfDataLossAction Action;
    uint32_t Result;
    const char* Fields[5];
  };
  const Run runs[] = {
      {dlaFail, 10002, {}},
      {dlaNull, 0, {"NULL", "64", "01", "NULL", "NULL"}},
      {dlaBestFit, 0, {"ff ff ff ff", "64", "01", "03 2d 31 32", "90 d1 65 01 00 00 00 00"}},
  };
  for (const Run& r : runs) {
    SCOPED_TRACE(int(r.Action));
    TzfTableMapperDescriptor tables;
    tables.MapAllTablesAndFieldsByName(source.Dict, target.Dict, r.Action);
    auto engine = TzfBaseRecordMapperEngine::CreateFor(
        static_cast<TzfRecordMapperDescriptor&>(*tables.RecordMapper()), source, target);
    engine->BeforeFirstRecord();
    std::vector<uint8_t> dst = target.NewRecord();
    ASSERT_EQ(engine->MapRecord(src.data(), dst.data()), r.Result);
    if (r.Result) continue;
    for (int32_t i = 0; i < 5; ++i) EXPECT_EQ(field(dst, i), r.Fields[i]) << "field " << i;
  }
}

}  // namespace
}  // namespace zf::test
