#include "foundation/zfllUtils.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <atomic>
#include <random>
#include <thread>

#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "platform/rtl/rtlException.h"

using namespace zf;
using zf::rtl::u16;
using zf::rtl::u8;

namespace {

// ---- Comparisons ----

TEST(zfllUtils, CompareInt64) {
  EXPECT_EQ(zfCompareInt64(-1, 0), -1);
  EXPECT_EQ(zfCompareInt64(0x100000000LL, 0xFFFFFFFFLL), 1);
  EXPECT_EQ(zfCompareInt64(INT64_MIN, INT64_MAX), -1);
  int64_t a = -5, b = -5;
  EXPECT_EQ(zfCompareInt64Ref(&a, &b), 0);
  EXPECT_EQ(zfCompareCardinal(0x80000000u, 1u), 1);  // unsigned, not signed
  EXPECT_EQ(zfCompareInteger(static_cast<int32_t>(0x80000000u), 1), -1);
}

TEST(zfllUtils, CompareBytes) {
  struct Case {
    TzfBytes a, b;
    int32_t expected;
  } cases[] = {
      {{1, 2}, {1, 2, 0}, -1}, {{}, {0}, -1},      {{}, {}, 0},          {{1, 3}, {1, 2, 9}, 1},
      {{0xFF}, {0x01}, 1},     {{1, 2, 3}, {1, 2}, 1}, {{5}, {}, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zfCompareBytes(c.a, c.b), c.expected);
    EXPECT_EQ(zfCompareBytes(c.b, c.a), -c.expected);
  }
  EXPECT_EQ(zfCompareMem("a", "b", 0), 0);
  EXPECT_TRUE(zfSameBytes({}, {}));
  EXPECT_FALSE(zfSameBytes({1}, {1, 0}));
}

TEST(zfllUtils, CompareShortStrings) {
  const uint8_t abc[] = {3, 'a', 'b', 'c'}, abd[] = {3, 'a', 'b', 'd'}, ab[] = {2, 'a', 'b'};
  const uint8_t ABC[] = {3, 'A', 'B', 'C'}, hi[] = {1, 0xE9};
  EXPECT_EQ(zfCompareShortStr(abc, abd, 2), 0);
  EXPECT_EQ(zfCompareShortStr(abc, abd, 255), -1);
  EXPECT_EQ(zfCompareShortStr(abc, ab, 255), 1);  // longer after an equal prefix
  EXPECT_EQ(zfCompareShortStr(abc, ab, 2), 0);    // lengths capped by aMaxLen
  EXPECT_EQ(zfCompareShortStr(abc, ABC, 255), 1);
  EXPECT_EQ(zfCompareShortText(abc, ABC, 255), 0);
  EXPECT_EQ(zfCompareShortStr(hi, abc, 255), 1);  // bytes compare unsigned
}

TEST(zfllUtils, WideStrLComp) {
  EXPECT_EQ(zfWideStrLComp(u"abc", u"abd", 3), u'c' - u'd');
  EXPECT_EQ(zfWideStrLComp(u"abc", u"abd", 2), 0);
  EXPECT_EQ(zfWideStrLComp(u"ab\0x", u"ab\0y", 10), 0);  // stops after the zero character
  EXPECT_EQ(zfWideStrLComp(u"ab", u"abc", 10), -u'c');
  EXPECT_EQ(zfWideStrLIComp(u"Hello", u"hELLO", 10), 0);
  EXPECT_NE(zfWideStrLIComp(u"\u00E9", u"\u00C9", 10), 0);  // only a-z fold
}

TEST(zfllUtils, StartsWithAndPos) {
  EXPECT_TRUE(zfStrStartsWith(u"abc", u""));
  EXPECT_TRUE(zfStrStartsWith(u"abc", u"ab"));
  EXPECT_FALSE(zfStrStartsWith(u"ab", u"abc"));
  EXPECT_FALSE(zfStrStartsWith(u"abc", u"AB"));
  const char16_t* t = u"hello world";
  EXPECT_EQ(zfWideStrPos(t, u"world"), t + 6);
  EXPECT_EQ(zfWideStrPos(t, u""), nullptr);
  EXPECT_EQ(zfWideStrPosCompare(t, u"xyz"), -1);
}

// ---- Bit sets ----

TEST(zfllUtils, FindFirstClearBit) {
  uint32_t bits[2] = {0, 0};
  zfSetAllBits(bits, 40);
  EXPECT_EQ(zfFindFirstClearBit(bits, 40), -1);
  zfClearBit(bits, 33);
  EXPECT_EQ(zfFindFirstClearBit(bits, 40), 33);
  EXPECT_EQ(zfTestBit(bits, 33), 0);
  EXPECT_EQ(zfTestBit(bits, 32), 1);
  zfSetBit(bits, 33);
  // The fill covered five bytes: bit 40 is the first clear one, reported only below the count.
  EXPECT_EQ(zfFindFirstClearBit(bits, 40), -1);
  EXPECT_EQ(zfFindFirstClearBit(bits, 64), 40);
  EXPECT_EQ(zfFindFirstClearBit(bits, 0), -1);
}

// A set of 2^32 - 1 bits, all of them set, followed by an inaccessible page: the scan must stop
// at the set's last word. The 512 MB of words are one 1 MB page of ones mapped 512 times.
TEST(zfllUtils, FindFirstClearBitInTheLargestSet) {
  constexpr size_t kSetBytes = size_t{1} << 29, kPiece = size_t{1} << 20, kPage = 4096;
  int fd = ::memfd_create("zfbits", 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kPiece)), 0);
  void* ones = ::mmap(nullptr, kPiece, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ASSERT_NE(ones, MAP_FAILED);
  std::memset(ones, 0xFF, kPiece);
  ::munmap(ones, kPiece);
  auto* base = static_cast<uint8_t*>(::mmap(nullptr, kSetBytes + kPage, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
  ASSERT_NE(base, MAP_FAILED);
  for (size_t at = 0; at < kSetBytes; at += kPiece)
    ASSERT_NE(::mmap(base + at, kPiece, PROT_READ, MAP_SHARED | MAP_FIXED, fd, 0), MAP_FAILED);
  EXPECT_EQ(zfFindFirstClearBit(reinterpret_cast<const uint32_t*>(base), 0xFFFFFFFFu), -1);
  ::munmap(base, kSetBytes + kPage);
  ::close(fd);
}

TEST(zfllUtils, BitFillsStayInsideTheCount) {
  uint32_t bits[2] = {0, 0};
  zfSetAllBits(bits, 9);  // two bytes
  EXPECT_EQ(bits[0], 0x0000FFFFu);
  EXPECT_EQ(bits[1], 0u);
  uint32_t src[2] = {0xFFFFFFFFu, 0xFFFFFFFFu}, dst[2] = {0, 0};
  zfOrBits(dst, src, 33);  // five bytes
  EXPECT_EQ(dst[0], 0xFFFFFFFFu);
  EXPECT_EQ(dst[1], 0x000000FFu);
  zfClearAllBits(dst, 8);
  EXPECT_EQ(dst[0], 0xFFFFFF00u);
}

// ---- Hashing ----

TEST(zfllUtils, Hash) {
  EXPECT_EQ(zfHashString(u""), 0u);
  EXPECT_EQ(zfHashString(u"A"), 0x410u);
  EXPECT_EQ(zfHashELF("printf", 6), 0x077905A6u);  // the well-known value of the ELF hash
  // Long enough that the high nibble folds back in; same as the hash of the UTF-16LE bytes.
  UnicodeString t = u"Zofrin field name cache";
  EXPECT_EQ(zfHashString(t), 0x0272B030u);
  EXPECT_EQ(zfHashString(t), zfHashELF(t.data(), t.size() * 2));
}

TEST(zfllUtils, WidenAndSwap) {
  const uint8_t src[] = {0x41, 0xE9, 0xFF};
  char16_t dst[3];
  zfWidenBytes(src, dst, 3);
  EXPECT_EQ(UnicodeString(dst, 3), UnicodeString(u"A\u00E9\u00FF"));
  uint8_t words[] = {0x12, 0x34, 0x56, 0x78};
  zfSwapWordBytes(words, 2);
  EXPECT_EQ(words[0], 0x34);
  EXPECT_EQ(words[3], 0x56);
}

// ---- Texts ----

TEST(zfllUtils, SplitString) {
  UnicodeString l, r;
  zfSplitString(u"a:b:c", TzfCharSet{':'}, l, r);
  EXPECT_EQ(l, u"a");
  EXPECT_EQ(r, u"b:c");
  zfSplitString(u"abc", TzfCharSet{':'}, l, r);
  EXPECT_EQ(l, u"abc");
  EXPECT_EQ(r, u"");
  // U+013A has the low byte ':' but is above 255, so it is never a delimiter.
  zfSplitString(u"a\u013Ab;c", TzfCharSet{':', ';'}, l, r);
  EXPECT_EQ(l, u"a\u013Ab");
  EXPECT_EQ(r, u"c");
}

TEST(zfllUtils, UnicodeStringArrays) {
  TzfUnicodeStrings a;
  zfMakeUnicodeStrings(u"", a);
  EXPECT_TRUE(a.empty());
  zfMakeUnicodeStrings(u"a", a);
  zfAppendUnicodeString(a, u"b");
  zfAppendUnicodeString(a, u"c");
  UnicodeString t;
  zfExtractUnicodeString(a, 0, t);
  EXPECT_EQ(t, u"a");
  EXPECT_EQ(a, (TzfUnicodeStrings{u"b", u"c"}));
  EXPECT_THROW(zfExtractUnicodeString(a, 2, t), rtl::ERangeError);
  EXPECT_THROW(zfExtractUnicodeString(a, -1, t), rtl::ERangeError);
  zfStringsToDynArray(nullptr, a);
  EXPECT_TRUE(a.empty());
}

TEST(zfllUtils, IsValidTableName) {
  EXPECT_FALSE(zfIsValidTableName(u"a.b"));
  EXPECT_TRUE(zfIsValidTableName(u"a b"));
  EXPECT_FALSE(zfIsValidTableName(u""));
  for (char16_t c : UnicodeString(u"\"*./:<>?\\|"))
    EXPECT_FALSE(zfIsValidTableName(UnicodeString(u"x") + c)) << u8(UnicodeString(1, c));
}

// ---- Identifier and table-name checks ----

constexpr uint32_t kCode = 4711;

TEST(zfllUtils, CheckIdentifier) {
  struct Case {
    UnicodeString name;
    bool allowEmpty, allowReserved;
    uint32_t expected;
  } cases[] = {
      {u"Name 1", false, false, 0},
      {u"", true, false, 0},
      {u"", false, false, kCode},
      {u" Name", false, false, kCode},
      {u"Name ", false, true, kCode},
      {UnicodeString(128, u'x'), false, false, 0},
      {UnicodeString(129, u'x'), false, false, kCode},
      {u"A*B", false, false, kCode},
      {u"A:B", false, false, kCode},
      {u"A\u00E9", false, false, kCode},  // above the identifier set
      {u"A\u0100", false, false, kCode},
      {u"$X", false, false, kCode},
      {u"$X", false, true, 0},
      {u"X$", false, false, 0},
      {u"!#$%&()+-.@[]^_{}~ 09azAZ", false, false, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(zfCheckIdentifier(c.name, kCode, c.allowEmpty, c.allowReserved), c.expected) << u8(c.name);
}

// A failed check leaves its reason as the pending message, so raising the code shows the table
// text followed by the reason; a passing check leaves nothing for the next exception.
TEST(zfllUtils, CheckMessagesReachTheException) {
  struct Case {
    UnicodeString name;
    const char* reason;
  } cases[] = {
      {u"", "Empty string is not allowed."},
      {u" x", "Leading/trailing spaces are not allowed."},
      {UnicodeString(129, u'x'), "Maximum length of 128 characters has been exceeded."},
      {u"A*B", "\"*\" is not a valid character."},
      {u"$X", "Reserved Identifier not allowed."},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(zfCheckIdentifier(c.name, zfErrInvalidName, false, false), zfErrInvalidName);
    EzfBaseException e(zfErrInvalidName);
    EXPECT_EQ(u8(e.Message()), std::string("ZofrinDB: Invalid name. ") + c.reason + " [$2754/10068]");
  }
  ASSERT_EQ(zfCheckTableName(u"a:b", true, false), zfErrInvalidTableName);
  EzfBaseException e(zfErrInvalidTableName);
  EXPECT_EQ(e.Message(), u"ZofrinDB: Invalid table name. Child name separators \":\" are not allowed. [$2737/10039]");
}

TEST(zfllUtils, CheckTableName) {
  struct Case {
    UnicodeString name;
    bool emptyIsMissing, allowReserved;
    uint32_t expected;
  } cases[] = {
      {u"Orders", true, false, 0},
      {u"Orders:Lines", true, false, 10039},  // child separator
      {u"Orders:", true, false, 10039},       // nothing follows, but ":" is no identifier character
      {u"<Temp>", true, false, 0},
      {u"<$Temp>", true, false, 10039},
      {u"<$Temp>", true, true, 0},
      {u"<>", true, false, 10039},
      {u"<", true, false, 10039},
      {u"", true, false, 10024},
      {u"", false, false, 10039},
      {u"$Sys", true, false, 10039},
      {u"$Sys", true, true, 0},
      {u"##Local", true, false, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(zfCheckTableName(c.name, c.emptyIsMissing, c.allowReserved), c.expected) << u8(c.name);
}

TEST(zfllUtils, CheckTablePathAndFullName) {
  struct Case {
    UnicodeString path;
    uint32_t expected;
  } paths[] = {
      {u"Lines", 0},     {u"Lines:Items", 0}, {u"..:Other", 0}, {u".:Lines", 0},  {u"...", 0},
      {u"Lines:", 0},    {u":Lines", 10039},  {u"a::b", 10039}, {u" a", 10039},   {u"", 10039},
      {u"$Sys:a", 0},    {u"a:b*c", 10039},
  };
  for (const Case& c : paths) EXPECT_EQ(zfCheckTablePath(c.path), c.expected) << u8(c.path);

  struct FullCase {
    UnicodeString name;
    bool emptyIsMissing, allowReserved;
    uint32_t expected;
  } full[] = {
      {u"Orders:Lines:..", true, false, 0},
      {u"Orders::Lines", true, false, 10039},
      {u"Orders:", true, false, 0},
      {u"<Temp>:Lines", true, false, 0},
      {u"$Sys:Lines", true, false, 10039},
      {u"$Sys:Lines", true, true, 0},
      {u"Orders:$Lines", true, false, 0},  // child parts allow reserved names
      {u"", true, false, 10024},
      {u"", false, false, 10039},
      {u":Lines", true, false, 10039},
  };
  for (const FullCase& c : full)
    EXPECT_EQ(zfCheckFullTableName(c.name, c.emptyIsMissing, c.allowReserved), c.expected) << u8(c.name);
}

// ---- Numbers, dates, GUIDs ----

TEST(zfllUtils, NumberDateAndGuidTexts) {
  EXPECT_EQ(zfIntToStr(-42), u"-42");
  EXPECT_EQ(zfInt64ToAnsiStr(INT64_MIN).Bytes(), "-9223372036854775808");
  EXPECT_EQ(zfAnsiStrToIntDef("123", 7), 123);
  EXPECT_EQ(zfAnsiStrToIntDef("12x", 7), 7);
  EXPECT_EQ(zfAnsiStrToIntDef("99999999999", 7), 7);

  rtl::TFormatSettings fs;
  fs.DecimalSeparator = u',';
  EXPECT_EQ(zfFloatToStr(1.5L, fs), u"1,5");
  EXPECT_EQ(zfFloatToStr(1.0L / 3.0L, fs), u"0,333333333333333");

  fs.ShortDateFormat = u"dd.mm.yyyy";
  fs.LongTimeFormat = u"hh:nn:ss";
  fs.DateSeparator = u'-';
  EXPECT_EQ(zfDateToStr(45000.75, fs), u"15.03.2023");
  EXPECT_EQ(zfTimeToStr(45000.75, fs), u"18:00:00");
  EXPECT_EQ(zfDateTimeToStr(45000.75, fs), u"15.03.2023 18:00:00");
  EXPECT_EQ(zfDateTimeToStr(45000.0, fs), u"15.03.2023");  // midnight: no time
  rtl::TFormatSettings us;                                  // M/d/yyyy, h:mm:ss AMPM
  EXPECT_EQ(zfDateTimeToStr(45000.5, us), u"3/15/2023 12:00:00 PM");
  EXPECT_EQ(zfTimeToStr(0.25, us), u"6:00:00 AM");
  // The 8-bit forms are in the system ANSI code page (windows-1252 here).
  rtl::TFormatSettings named;
  named.ShortDateFormat = u"d mmmm yyyy";
  named.LongMonthNames[2] = u"M\u00E4rz";
  EXPECT_EQ(zfDateToAnsiStr(45000.0, named).Bytes(), "15 M\xE4rz 2023");
  EXPECT_EQ(zfFloatToAnsiStr(2.5L, fs).Bytes(), "2,5");

  EXPECT_EQ(zfVarArrayLength(rtl::Variant::FromBytes({1, 2, 3})), 3);
  EXPECT_EQ(zfVarArrayLength(rtl::Variant::FromBytes({})), 0);
  EXPECT_EQ(zfVarArrayLength(rtl::VarArrayCreate(-2, 4)), 7);
  EXPECT_THROW(zfVarArrayLength(rtl::Variant(int32_t(5))), rtl::EVariantError);

  rtl::TGUID g{0x54F6F091, 0x45F0, 0x4E16, {0x87, 0x88, 0x17, 0x0E, 0xA7, 0x38, 0x5B, 0xA4}};
  EXPECT_EQ(zfGUIDToStr(g), u"{54F6F091-45F0-4E16-8788-170EA7385BA4}");
  EXPECT_EQ(zfGUIDToAnsiStr(g).Bytes(), "{54F6F091-45F0-4E16-8788-170EA7385BA4}");
  rtl::TGUID back;
  ASSERT_TRUE(rtl::TryStringToGUID(u"{54f6f091-45f0-4e16-8788-170ea7385ba4}", back));
  EXPECT_TRUE(zfSameGUID(g, back));
  EXPECT_FALSE(rtl::TryStringToGUID(u"{54F6F091-45F0-4E16-8788170EA7385BA4}", back));
}

// ---- Command line ----

TEST(zfllUtils, CmdLineSwitchValue) {
  struct Case {
    std::vector<UnicodeString> params;
    UnicodeString sw;
    bool found;
    UnicodeString value;
  } cases[] = {
      {{u"-CONFIG:D:\\Data"}, u"CONFIG", true, u"D:\\Data"},
      {{u"/config:x"}, u"CONFIG", true, u"x"},
      {{u"-CONFIG:"}, u"CONFIG", false, u""},
      {{u"-CONFIG"}, u"CONFIG", false, u""},
      {{u"-CONFIGURE:x", u"-CONFIG:y"}, u"CONFIG", false, u""},  // the first name match ends the scan
      {{u"table.dvl7", u"+CONFIG:z", u"-CONFIG:y"}, u"CONFIG", true, u"y"},
      {{u"-CONFIG=x"}, u"CONFIG", false, u""},
      {{u"-", u""}, u"CONFIG", false, u""},
      {{}, u"CONFIG", false, u""},
  };
  for (const Case& c : cases) {
    UnicodeString v = u"stale";
    EXPECT_EQ(zfFindCmdLineSwitchValue(c.params, c.sw, u"-/", true, v), c.found) << u8(c.params.empty() ? u"" : c.params[0]);
    EXPECT_EQ(v, c.value);
  }
  UnicodeString v;
  EXPECT_FALSE(zfFindCmdLineSwitchValue({u"/config:x"}, u"CONFIG", u"-/", false, v));  // case kept
  EXPECT_TRUE(zfFindCmdLineSwitchValue({u"xCONFIG:v"}, u"CONFIG", u"", true, v));       // any first char
  EXPECT_EQ(v, u"v");
}

TEST(zfllUtils, CmdLineSwitch) {
  std::vector<UnicodeString> params{u"file.dvl7", u"/disable30900localefixes", u"-X:1"};
  EXPECT_TRUE(zfFindCmdLineSwitch(params, u"Disable30900LocaleFixes"));
  EXPECT_FALSE(zfFindCmdLineSwitch(params, u"X"));  // nothing may follow the name
  EXPECT_FALSE(zfFindCmdLineSwitch(params, u"file.dvl7"));
  EXPECT_FALSE(zfFindCmdLineSwitch(std::vector<UnicodeString>{u"Disable30900LocaleFixes"}, u"Disable30900LocaleFixes"));
}

// ---- Home directory ----

TEST(zfllUtils, EscapeFolderName) {
  EXPECT_EQ(zfEscapeFolderName(u"C:\\Tools\\"), u"C%3A%5CTools%5C");
  EXPECT_EQ(zfEscapeFolderName(u"[x]"), u"%5Bx%5D");
  EXPECT_EQ(zfEscapeFolderName(u"caf\u00E9"), u"caf\u00E9");
  EXPECT_EQ(zfEscapeFolderName(u"/opt/a b#%+*<>\t"), u"%2Fopt%2Fa%20b%23%25%2B%2A%3C%3E%09");
  EXPECT_EQ(zfEscapeFolderName(u"\u20AC\u20AB"), u"%20AC\u20AB");
}

class HomeDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zfhomeXXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    FRoot = tmpl;
    std::filesystem::create_directories(FRoot + "/prog");
    FContext.ProgramFolder = u16(FRoot + "/prog/");
    FContext.StateFolder = u16(FRoot + "/state/");
  }
  void TearDown() override { std::filesystem::remove_all(FRoot); }

  std::string FRoot;
  TzfHomeContext FContext;
};

TEST_F(HomeDirectory, ConfigRelativeToProgramFolder) {
  FContext.Params = {u"table.dvl7", u"-CONFIG:Logs/", u"-SERVICENAME:Svc"};
  UnicodeString dir;
  zfGetAppHomeDirectory(FContext, u"ZofrinDB3\\zfRecover", dir);
  EXPECT_EQ(dir, u16(FRoot + "/prog/Logs/"));  // SERVICENAME is not consulted with CONFIG
  EXPECT_TRUE(std::filesystem::is_directory(FRoot + "/prog/Logs"));
}

TEST_F(HomeDirectory, ConfigAbsolute) {
  FContext.Params = {u16("/CONFIG:" + FRoot + "/abs/deep")};
  UnicodeString dir;
  zfGetAppHomeDirectory(FContext, u"Sub", dir);
  EXPECT_EQ(dir, u16(FRoot + "/abs/deep/"));
  EXPECT_TRUE(std::filesystem::is_directory(FRoot + "/abs/deep"));
}

TEST_F(HomeDirectory, StateFolderWithEscapedProgramFolderAndServiceName) {
  FContext.Params = {u"-servicename:Night"};
  UnicodeString dir;
  zfGetAppHomeDirectory(FContext, u"ZofrinDB3\\zfRecover", dir);
  UnicodeString expected = u16(FRoot + "/state/ZofrinDB3/zfRecover/") + zfEscapeFolderName(FContext.ProgramFolder) + u"/Night/";
  EXPECT_EQ(dir, expected);
  EXPECT_TRUE(std::filesystem::is_directory(u8(dir)));

  FContext.Params = {u"-SERVICENAME:raderevizIV3"};  // that service name adds nothing
  zfGetAppHomeDirectory(FContext, u"ZofrinDB3\\zfRecover", dir);
  EXPECT_EQ(dir, u16(FRoot + "/state/ZofrinDB3/zfRecover/") + zfEscapeFolderName(FContext.ProgramFolder) + u"/");
}

TEST_F(HomeDirectory, CreationFailureRaises) {
  std::ofstream(FRoot + "/prog/file") << "x";
  FContext.Params = {u"-CONFIG:file/sub"};
  UnicodeString dir;
  try {
    zfGetAppHomeDirectory(FContext, u"Sub", dir);
    FAIL() << "no exception";
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), u16("Could not create App Home Directory: " + FRoot + "/prog/file/sub"));
  }
}

TEST(zfllUtils, HomeContextUsesXdgStateHome) {
  const char* old = std::getenv("XDG_STATE_HOME");
  std::string saved = old ? old : "";
  const char* oldHome = std::getenv("HOME");
  std::string savedHome = oldHome ? oldHome : "";
  ::setenv("XDG_STATE_HOME", "/var/tmp/zfstate", 1);
  EXPECT_EQ(zfCurrentHomeContext().StateFolder, u"/var/tmp/zfstate/");
  ::setenv("XDG_STATE_HOME", "relative/ignored", 1);  // only absolute paths count
  ::setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(zfCurrentHomeContext().StateFolder, u"/home/someone/.local/state/");
  if (old) ::setenv("XDG_STATE_HOME", saved.c_str(), 1);
  else ::unsetenv("XDG_STATE_HOME");
  if (oldHome) ::setenv("HOME", savedHome.c_str(), 1);
  else ::unsetenv("HOME");
}

// ---- Handles ----

TEST(zfllUtils, CloseHandles) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  TzfHandle r = fds[0], w = fds[1];
  zfCloseAndNilHandle(r);
  EXPECT_EQ(r, 0);
  zfCloseAndInvalidateHandle(w);
  EXPECT_EQ(w, zfInvalidHandle);
  EXPECT_EQ(::fcntl(fds[0], F_GETFD), -1);  // really closed
  EXPECT_EQ(::fcntl(fds[1], F_GETFD), -1);
  zfCloseAndNilHandle(r);  // nothing left to close
  zfCloseAndInvalidateHandle(w);

  // A failing close raises the engine's OS error and still leaves the variable empty.
  TzfHandle bad = 1 << 28;
  try {
    zfCloseAndNilHandle(bad);
    FAIL() << "no exception";
  } catch (const EzfBaseException& e) {
    EXPECT_EQ(e.ErrorCode(), zfErrOSUnknown);
    EXPECT_EQ(e.GetOSError(), static_cast<uint32_t>(EBADF));
    EXPECT_EQ(e.CustomInfos().Value(u"Action"), u"[unknown]");
  }
  EXPECT_EQ(bad, 0);
}

// ---- Live objects ----

TEST(zfllUtils, LiveObjectRegistry) {
  static const rtl::TClassInfo kBase{u"TBase", nullptr};
  static const rtl::TClassInfo kDerived{u"TDerived", &kBase};
  int a = 1, b = 2;
  size_t before = zfLiveObjectCount();
  TzfObjectIdentity ia = zfRegisterLiveObject(&a, &kDerived);
  TzfObjectIdentity ib = zfRegisterLiveObject(&b, &kBase);
  EXPECT_NE(ia, zfNoObjectIdentity);
  EXPECT_NE(ia, ib);
  EXPECT_EQ(zfLiveObjectCount(), before + 2);

  void* obj = nullptr;
  const rtl::TClassInfo* cls = nullptr;
  ASSERT_TRUE(zfIsValidObject(ia, obj, cls));
  EXPECT_EQ(obj, &a);
  EXPECT_TRUE(cls->InheritsFrom(&kBase));

  // Identities nobody was given: 0, addresses, neighbours, random values.
  EXPECT_FALSE(zfIsValidObject(zfNoObjectIdentity, obj, cls));
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(cls, nullptr);
  EXPECT_FALSE(zfIsValidObject(reinterpret_cast<uintptr_t>(&a), obj, cls));
  EXPECT_FALSE(zfIsValidObject(ia ^ (uint64_t(1) << 32), obj, cls));
  std::mt19937_64 rnd(7);
  for (int i = 0; i < 1000; ++i) {
    TzfObjectIdentity id = rnd();
    if (id == ia || id == ib) continue;
    EXPECT_FALSE(zfIsValidObject(id, obj, cls));
  }

  // A freed object's identity stays invalid, also after its slot is used again.
  EXPECT_TRUE(zfUnregisterLiveObject(ia));
  EXPECT_FALSE(zfUnregisterLiveObject(ia));
  EXPECT_FALSE(zfIsValidObject(ia, obj, cls));
  TzfObjectIdentity ic = zfRegisterLiveObject(&a, &kBase);
  EXPECT_NE(ic, ia);
  EXPECT_FALSE(zfIsValidObject(ia, obj, cls));
  EXPECT_TRUE(zfIsValidObject(ic, obj, cls));
  EXPECT_TRUE(zfUnregisterLiveObject(ic));
  EXPECT_TRUE(zfUnregisterLiveObject(ib));
  EXPECT_EQ(zfLiveObjectCount(), before);
}

TEST(zfllUtils, LiveObjectRegistryAcrossThreads) {
  static const rtl::TClassInfo kClass{u"TObj", nullptr};
  size_t before = zfLiveObjectCount();
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&failures] {
      int local = 0;
      std::vector<TzfObjectIdentity> stale;
      for (int i = 0; i < 2000; ++i) {
        TzfObjectIdentity id = zfRegisterLiveObject(&local, &kClass);
        void* obj = nullptr;
        const rtl::TClassInfo* cls = nullptr;
        if (!zfIsValidObject(id, obj, cls) || obj != &local) ++failures;
        if (!zfUnregisterLiveObject(id)) ++failures;
        if (i % 100 == 0) stale.push_back(id);
      }
      // Slots were reused by every thread meanwhile; old identities stay dead.
      for (TzfObjectIdentity id : stale) {
        void* obj = nullptr;
        const rtl::TClassInfo* cls = nullptr;
        if (zfIsValidObject(id, obj, cls)) ++failures;
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(zfLiveObjectCount(), before);
}

// ---- Memory status ----

TEST(zfllUtils, MemoryStatusFromSignal) {
  constexpr uint64_t kMB = 1024 * 1024;
  mm::TzfMemorySignal sig;
  sig.MemTotal = 8000 * kMB;
  sig.MemAvailable = 6000 * kMB;
  TzfMemoryStatusEx s;
  ASSERT_TRUE(zfMemoryStatusFromSignal(sig, 1000 * kMB, 500 * kMB, s));
  EXPECT_EQ(s.ullTotalPhys, 8000 * kMB);
  EXPECT_EQ(s.ullAvailPhys, 6000 * kMB);
  EXPECT_EQ(s.dwMemoryLoad, 25u);
  EXPECT_EQ(s.ullTotalPageFile, 9000 * kMB);
  EXPECT_EQ(s.ullAvailPageFile, 6500 * kMB);

  // A cgroup limit below the machine's memory bounds both figures.
  sig.CgroupLimit = 2000 * kMB;
  sig.CgroupUsage = 1000 * kMB;
  ASSERT_TRUE(zfMemoryStatusFromSignal(sig, 0, 0, s));
  EXPECT_EQ(s.ullTotalPhys, 2000 * kMB);
  EXPECT_EQ(s.ullAvailPhys, 1000 * kMB);
  EXPECT_EQ(s.dwMemoryLoad, 50u);
  // Usage above the limit: nothing available, never a wrapped-around figure.
  sig.CgroupUsage = 3000 * kMB;
  ASSERT_TRUE(zfMemoryStatusFromSignal(sig, 0, 0, s));
  EXPECT_EQ(s.ullAvailPhys, 0u);
  EXPECT_EQ(s.dwMemoryLoad, 100u);
  // A limit above the machine's memory changes nothing.
  sig.CgroupLimit = 100000 * kMB;
  ASSERT_TRUE(zfMemoryStatusFromSignal(sig, 0, 0, s));
  EXPECT_EQ(s.ullTotalPhys, 8000 * kMB);
  // Unknown figures fail instead of dividing by zero.
  EXPECT_FALSE(zfMemoryStatusFromSignal(mm::TzfMemorySignal{}, 0, 0, s));
}

TEST(zfllUtils, MemoryStatusOfThisMachine) {
  TzfMemoryStatusEx s;
  ASSERT_TRUE(zfGlobalMemoryStatusEx(s));
  EXPECT_GT(s.ullTotalPhys, 0u);
  EXPECT_LE(s.ullAvailPhys, s.ullTotalPhys);
  EXPECT_LE(s.dwMemoryLoad, 100u);
  EXPECT_LE(s.ullAvailVirtual, s.ullTotalVirtual);
}

}  // namespace

namespace {

// ---- Locale and code-page facts ----

TEST(zfllUtilsLocale, CompareAndLower) {
  EXPECT_EQ(zfLocaleCompareText(u"abc", u"ABD"), -1);
  EXPECT_EQ(zfLocaleCompareText(u"Stra\u00DFe", u"STRA\u00DFE"), 0);
  EXPECT_NE(zfLocaleCompareStr(u"abc", u"ABC"), 0);
  EXPECT_EQ(zfLocaleCompareStr(u"b", u"a"), 1);
  EXPECT_EQ(zfLocaleCompareStr(u"\u00E4", u"b"), -1);  // by the locale's rules, not by code
  char16_t text[] = u"\u00C4BC Def";
  EXPECT_EQ(zfWideStrLower(text), text);
  EXPECT_EQ(UnicodeString(text), u"\u00E4bc def");
  EXPECT_EQ(zfWideStrLower(nullptr), nullptr);
}

TEST(zfllUtilsLocale, LocalesAndCodePages) {
  EXPECT_EQ(zfThreadLocaleAnsiCodePage(), 1252);  // the default locale is en-US
  EXPECT_EQ(zfThreadLocaleAnsiCodePage(), 1252);  // from the thread's cache
  EXPECT_TRUE(zfIsValidLocale(0x0409));
  EXPECT_TRUE(zfIsValidLocale(0x0407));
  EXPECT_TRUE(zfIsValidLocale(0x10407));  // an alternate sort
  EXPECT_FALSE(zfIsValidLocale(0x0400));  // a default identifier, not a locale
  EXPECT_FALSE(zfIsValidLocale(0x7FFF));
  EXPECT_TRUE(zfIsValidCodePage(1252));
  EXPECT_TRUE(zfIsValidCodePage(65001));
  EXPECT_FALSE(zfIsValidCodePage(12345));
  EXPECT_FALSE(zfIsValidCodePage(0x10000 + 1252));
  EXPECT_EQ(zfDefaultCodePage, 3u);
}

TEST(zfllUtilsLocale, NLSVersion) {
  TzfNLSVersionInfoEx v;
  zfGetLocaleNLSVersion(0x0407, v);
  EXPECT_EQ(v.dwNLSVersionInfoSize, 32u);
  EXPECT_EQ(v.dwEffectiveId, 0x0407u);
  EXPECT_NE(v.dwNLSVersion, 0u);
  TzfNLSVersionInfoEx same;
  zfGetLocaleNLSVersion(0x0407, same);
  EXPECT_EQ(std::memcmp(&v, &same, sizeof v), 0);
  zfGetLocaleNLSVersion(0x7FFF, v);  // not a locale: nothing but a cleared record
  EXPECT_EQ(v.dwEffectiveId, 0u);
  EXPECT_EQ(v.dwNLSVersion, 0u);
}

TEST(zfllUtilsLocale, FormatSettingsPerLocale) {
  const rtl::TFormatSettings& de = zfGetLocaleFormatSettings(0x0407);
  EXPECT_EQ(&de, &zfGetLocaleFormatSettings(0x0407));  // built once, kept
  EXPECT_EQ(de.DecimalSeparator, u',');
  EXPECT_EQ(zfDateToStr(45000.75, de), u"15.03.2023");
  EXPECT_EQ(zfTimeToStr(45000.75, de), u"18:00:00");
  EXPECT_EQ(zfFloatToStr(1.5L, de), u"1,5");
  EXPECT_EQ(de.LongMonthNames[2], u"M\u00E4rz");
  EXPECT_EQ(de.LongDayNames[0], u"Sonntag");
  const rtl::TFormatSettings& us = zfGetLocaleFormatSettings(0x0409);
  EXPECT_EQ(zfDateTimeToStr(45000.75, us), u"3/15/2023 6:00:00 PM");  // "tt" became the am/pm marker
  // Short dates carry the whole year, so a date written as text reads back in its own century.
  for (uint32_t locale : {0x0409u, 0x0407u, 0x0411u, 0x040Cu, 0x0809u}) {
    const rtl::TFormatSettings& fs = zfGetLocaleFormatSettings(locale);
    rtl::TDateTime old = rtl::EncodeDate(1924, 3, 15), back = 0;
    ASSERT_TRUE(rtl::TryStrToDate(zfDateToStr(old, fs), back, fs)) << std::hex << locale;
    EXPECT_EQ(back, old) << std::hex << locale << " " << u8(zfDateToStr(old, fs));
  }
}

}  // namespace
