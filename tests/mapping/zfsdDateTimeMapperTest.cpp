// The date, time and GUID value mappers: day numbers, milliseconds and GUID bytes into every
// target they are registered for, under each data-loss action.
#include <gtest/gtest.h>

#include "tests/mapping/zfsdValueMapperCases.h"

namespace zf::test {
namespace {

class DateTimeMapperTest : public MappingStarted {};

const TSide kDate{zftDate}, kTime{zftTime}, kDateTime{zftDateTime}, kGuid{zftGuid};
constexpr int32_t kY2000 = 730120;           // 1 January 2000
constexpr double kDayMs = 86400000.0;
constexpr uint32_t kGerman = 1031;           // dd.MM.yyyy and HH:mm:ss

std::vector<uint8_t> At(int32_t aDay, int32_t aMs) { return Dbl(aDay * kDayMs + aMs); }

TEST_F(DateTimeMapperTest, DatesAndTimesMoveBetweenTheirTypes) {
  RunCases({
      {kDate, I32(kY2000), {zftDate}, F, "08 24 0b 00"},
      {kDate, I32(693594), {zftDateTime}, F, "00 00 2c 84 5d 40 cb 42"},
      {kDate, I32(kY2000), {zftDateTime}, X, "00 00 70 11 c1 af cc 42"},
      // A time into a date and a date into a time lose everything: only under best fit, and then
      // the target's zero.
      {kDate, I32(kY2000), {zftTime}, F, "-"},
      {kDate, I32(kY2000), {zftTime}, N, "-"},
      {kDate, I32(kY2000), {zftTime}, B, "00 00 00 00"},
      {kTime, I32(43200000), {zftTime}, F, "00 2e 93 02"},
      {kTime, I32(43200000), {zftDate}, X, "-"},
      {kTime, I32(43200000), {zftDate}, B, "00 00 00 00"},
      {kTime, I32(43200000), {zftDateTime}, F, "-"},
      {kTime, I32(43200000), {zftDateTime}, B, "00 00 00 00 00 00 00 00"},
      // DateTime into Date: the time of day is dropped only under best fit.
      {kDateTime, At(kY2000, 43200000), {zftDate}, F, "E"},
      {kDateTime, At(kY2000, 43200000), {zftDate}, B, "08 24 0b 00"},
      {kDateTime, At(kY2000, 0), {zftDate}, F, "08 24 0b 00"},
      {kDateTime, At(kY2000, 86399999), {zftDate}, B, "08 24 0b 00"},
      {kDateTime, At(1, 0), {zftDate}, F, "01 00 00 00"},
      {kDateTime, At(2147483647, 0), {zftDate}, F, "ff ff ff 7f"},
      {kDateTime, Dbl(1E300), {zftDate}, B, "E"},
      {kDateTime, Dbl(kNaN), {zftDate}, B, "E"},
      {kDateTime, Dbl(-1), {zftDate}, B, "E"},
      // DateTime into Time: the date is dropped only under best fit.
      {kDateTime, At(1, 1000), {zftTime}, F, "E"},
      {kDateTime, At(1, 1000), {zftTime}, B, "e8 03 00 00"},
      {kDateTime, At(kY2000, 86399999), {zftTime}, B, "ff 5b 26 05"},
      {kDateTime, At(0, 43200000), {zftTime}, F, "00 2e 93 02"},
      {kDateTime, Dbl(kNaN), {zftTime}, B, "E"},
      {kDateTime, Dbl(-1000), {zftTime}, F, "E"},
      {kDateTime, Dbl(-1000), {zftTime}, B, "E"},
      {kDateTime, At(kY2000, 5), {zftDateTime}, F, "80 02 70 11 c1 af cc 42"},
  });
}

// The platform's date-time number: days since 30 December 1899, the time as a fraction counted
// forward from midnight also before that day.
TEST_F(DateTimeMapperTest, DateTimeIntoDoubleGivesDaysSince1899) {
  RunCases({
      {kDateTime, At(kY2000, 43200000), {zftDouble}, F, "00 00 00 00 d0 d5 e1 40"},
      {kDateTime, At(693593, 21600000), {zftDouble}, B, "00 00 00 00 00 00 f4 bf"},
      {kDateTime, At(693594, 0), {zftDouble}, F, "00 00 00 00 00 00 00 00"},
      {kDateTime, At(0, 0), {zftDouble}, F, "E"},
      {kDateTime, Dbl(kNaN), {zftDouble}, F, "E"},
      {kDateTime, At(kY2000, 0), {zftSingle}, B, "-"},
  });
}

TEST_F(DateTimeMapperTest, ByteArraysNeedEightBytes) {
  RunCases({
      {kDate, I32(kY2000), {zftByteArray, 4}, B, "-"},
      {kDate, I32(kY2000), {zftByteArray, 8}, F, "08 24 0b 00 ee ee ee ee"},
      {kTime, I32(43200000), {zftByteArray, 7}, B, "-"},
      {kTime, I32(43200000), {zftByteArray, 9}, F, "00 2e 93 02 ee ee ee ee ee"},
      {kDateTime, At(kY2000, 0), {zftByteArray, 8}, F, "00 00 70 11 c1 af cc 42"},
      {kDateTime, At(kY2000, 0), {zftByteArray, 6}, B, "-"},
  });
}

// The short date, long time and "c" texts in the target locale's settings. Under the checking
// actions a text longer than the target is refused, whatever a sample date would have measured;
// best fit cuts it.
TEST_F(DateTimeMapperTest, TextTargetsFollowTheTargetLocale) {
  const int32_t dec31 = kY2000 + 365;  // 31 December 2000
  RunCases({
      {kDate, I32(kY2000), {zftNullString, 10, 0, 0, kGerman}, F, "n\"01.01.2000\""},
      {kDate, I32(kY2000), {zftWideString, 10, 0, 0, kGerman}, X, "w\"01.01.2000\""},
      {kDate, I32(dec31), {zftShortString, 10, 0, 0, kGerman}, F, "s\"31.12.2000\""},
      {kDate, I32(kY2000), {zftWideString, 9, 0, 0, kGerman}, F, "E"},
      {kDate, I32(kY2000), {zftWideString, 9, 0, 0, kGerman}, B, "w\"01.01.200\""},
      {kDate, I32(1), {zftNullString, 10, 0, 0, kGerman}, F, "n\"01.01.0001\""},
      {kDate, I32(0), {zftNullString, 10, 0, 0, kGerman}, B, "E"},
      {kTime, I32(45296789), {zftShortString, 8, 0, 0, kGerman}, F, "s\"12:34:56\""},
      {kTime, I32(45296789), {zftShortString, 5, 0, 0, kGerman}, B, "s\"12:34\""},
      {kTime, I32(45296789), {zftShortString, 5, 0, 0, kGerman}, N, "E"},
      {kTime, I32(86400000), {zftShortString, 8, 0, 0, kGerman}, B, "E"},
      {kTime, I32(-1), {zftShortString, 8, 0, 0, kGerman}, F, "E"},
      // The "c" form leaves the time out at midnight.
      {kDateTime, At(kY2000, 45296000), {zftNullString, 19, 0, 0, kGerman}, F, "n\"01.01.2000 12:34:56\""},
      {kDateTime, At(kY2000, 0), {zftNullString, 19, 0, 0, kGerman}, F, "n\"01.01.2000\""},
      {kDateTime, At(kY2000, 45296000), {zftNullString, 18, 0, 0, kGerman}, F, "E"},
      {kDateTime, At(kY2000, 45296000), {zftWideString, 12, 0, 0, kGerman}, B, "w\"01.01.2000 1\""},
      {kDateTime, Dbl(kNaN), {zftWideString, 20, 0, 0, kGerman}, B, "E"},
      // The stored forms.
      {kDate, I32(kY2000), {zftShortString, 11, 0, 0, kGerman}, F, "0a 30 31 2e 30 31 2e 32 30 30 30 ee"},
      {kDate, I32(kY2000), {zftNullString, 11, 0, 0, kGerman}, F, "30 31 2e 30 31 2e 32 30 30 30 00 ee"},
  });
}

// {33221100-5544-7766-8899-AABBCCDDEEFF}
const std::vector<uint8_t> kGuidBytes = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                         0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

TEST_F(DateTimeMapperTest, GuidsMapAsBytesOrAsTheirTextInBraces) {
  RunCases({
      {kGuid, kGuidBytes, {zftGuid}, F, "00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff"},
      {kGuid, kGuidBytes, {zftByteArray, 15}, B, "-"},
      {kGuid, kGuidBytes, {zftByteArray, 17}, F, "00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff ee"},
      {kGuid, kGuidBytes, {zftNullString, 38}, B, "-"},
      {kGuid, kGuidBytes, {zftNullString, 39}, F, "n\"{33221100-5544-7766-8899-AABBCCDDEEFF}\""},
      {kGuid, kGuidBytes, {zftWideString, 39}, X, "w\"{33221100-5544-7766-8899-AABBCCDDEEFF}\""},
      {kGuid, kGuidBytes, {zftWideString, 38}, F, "-"},
      {kGuid, kGuidBytes, {zftShortString, 40}, N, "s\"{33221100-5544-7766-8899-AABBCCDDEEFF}\""},
      {kGuid, kGuidBytes, {zftInt32}, B, "-"},
  });
  // The length byte and the terminator.
  const std::string text = "7b 33 33 32 32 31 31 30 30 2d 35 35 34 34 2d 37 37 36 36 2d 38 38 39 39 2d 41 41 42 42 "
                           "43 43 44 44 45 45 46 46 7d";
  RunCases({
      {kGuid, kGuidBytes, {zftShortString, 39}, F, "26 " + text + " ee"},
      {kGuid, kGuidBytes, {zftNullString, 39}, F, text + " 00 ee"},
  });
}

}  // namespace
}  // namespace zf::test
