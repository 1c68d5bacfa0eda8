// The exception hook: raises in this process are reported to a crash log of the test's own, one
// whole entry each, with a stack that names the raising function.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <vector>

#include "foundation/zfExceptionHook.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlFormat.h"

namespace zf::test {
namespace {

namespace fs = std::filesystem;

// A crash log in a folder of the test's own, with its hook in force while the fixture lives.
class ExceptionHookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("zfExceptionHook_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir);
    Hook = std::make_unique<TzfExceptionHook>(rtl::u16((Dir / "testException.log").string()));
  }
  void TearDown() override {
    Hook.reset();
    fs::remove_all(Dir);
  }

  std::string RawLog() const {
    std::ifstream in(Dir / "testException.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The log as text (the byte-order mark checked and dropped).
  UnicodeString Log() const {
    const std::string raw = RawLog();
    if (raw.empty()) return {};
    EXPECT_EQ(raw.substr(0, 2), std::string("\xFF\xFE", 2));
    UnicodeString text;
    for (size_t i = 2; i + 1 < raw.size(); i += 2)
      text.push_back(static_cast<char16_t>(static_cast<uint8_t>(raw[i]) | static_cast<uint8_t>(raw[i + 1]) << 8));
    return text;
  }
  // The entries of the log, each ending with its line of "=".
  std::vector<UnicodeString> Entries() const {
    std::vector<UnicodeString> entries;
    const UnicodeString text = Log();
    const UnicodeString end = UnicodeString(62, u'=') + u"\r\n\r\n";
    size_t from = 0;
    for (size_t at; (at = text.find(end, from)) != UnicodeString::npos; from = at + end.size())
      entries.push_back(text.substr(from, at + end.size() - from));
    return entries;
  }
  static size_t Count(const UnicodeString& aText, const UnicodeString& aPart) {
    size_t n = 0;
    for (size_t at = aText.find(aPart); at != UnicodeString::npos; at = aText.find(aPart, at + 1)) ++n;
    return n;
  }

  fs::path Dir;
  std::unique_ptr<TzfExceptionHook> Hook;
};

template <class E, class... Args>
__attribute__((noinline)) void RaiseForTheCrashLog(Args... aArgs) {
  throw E(aArgs...);
}

TEST_F(ExceptionHookTest, ARaiseWritesOneEntryWhoseStackNamesTheRaisingFunction) {
  try {
    RaiseForTheCrashLog<rtl::EConvertError>(UnicodeString(u"not a number"));
  } catch (const rtl::EConvertError& e) {
    EXPECT_EQ(e.Message(), u"not a number");  // the raise itself goes on unchanged
  }
  std::vector<UnicodeString> entries = Entries();
  ASSERT_EQ(entries.size(), 1u);
  const UnicodeString& e = entries[0];
  EXPECT_EQ(e.find(u" *** Server started *** \r\nTime: ["), 0u);
  for (const char16_t* line : {u"\r\nExceptionInfo: nil\r\n", u"\r\nException: EConvertError\r\n",
                               u"\r\nMessage: not a number\r\n", u"\r\nVersion: 3.09\r\n", u"\r\nThreadID: ",
                               u"\r\nProcessID: ", u"\r\nFilesize: ", u"\r\nCallstack (Frames):\r\n["})
    EXPECT_NE(e.find(line), UnicodeString::npos) << rtl::u8(line);
  EXPECT_EQ(e.find(u"Server suspended"), UnicodeString::npos);
  // The first frame is the raising function, with its source file.
  const size_t stack = e.find(u"Callstack (Frames):\r\n");
  const UnicodeString first = e.substr(stack + 21, e.find(u"\r\n", stack + 21) - stack - 21);
  EXPECT_NE(first.find(u"RaiseForTheCrashLog"), UnicodeString::npos) << rtl::u8(first);
  EXPECT_NE(first.find(u"zfExceptionHookTest.cpp"), UnicodeString::npos) << rtl::u8(first);

  // A second raise: a second entry without the start line, and no second byte-order mark.
  try {
    RaiseForTheCrashLog<std::runtime_error>("plain");
  } catch (const std::exception&) {
  }
  entries = Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].find(u"Time: ["), 0u);
  EXPECT_NE(entries[1].find(u"\r\nException: std::runtime_error\r\nMessage: plain\r\n"), UnicodeString::npos);
  EXPECT_EQ(RawLog().find(std::string("\xFF\xFE", 2), 2), std::string::npos);
}

TEST_F(ExceptionHookTest, SilentAndInternalRaisesLeaveNoEntry) {
  auto raise = [](auto aRaise) {
    try {
      aRaise();
    } catch (...) {
    }
  };
  raise([] { RaiseForTheCrashLog<rtl::EAbort>(UnicodeString(u"Operation aborted")); });
  raise([] { RaiseForTheCrashLog<rtl::Exception>(UnicodeString(u"External exception 406D1388")); });
  EXPECT_TRUE(Entries().empty());
  // An EAbort with another text is reported.
  raise([] { RaiseForTheCrashLog<rtl::EAbort>(UnicodeString(u"stopped")); });
  EXPECT_EQ(Entries().size(), 1u);
}

TEST_F(ExceptionHookTest, TheFirstFatalEntrySetsTheFlagAndLaterOnesSaySo) {
  auto raise = [](const char16_t* aMessage) {
    try {
      RaiseForTheCrashLog<rtl::EAssertionFailed>(UnicodeString(aMessage));
    } catch (...) {
    }
  };
  raise(u"first");
  EXPECT_TRUE(Hook->FatalFlag());
  raise(u"second");
  const std::vector<UnicodeString> entries = Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].find(u"Server suspended"), UnicodeString::npos);
  EXPECT_NE(entries[1].find(u"\r\nServer suspended: true\r\nMessage: second\r\n"), UnicodeString::npos);
  const UnicodeString stars = u" " + UnicodeString(41, u'*') + u"\r\n";
  EXPECT_NE(Log().find(u"\r\n\r\n" + stars + u" *** Fatal Exception Flag has been set ***\r\n" + stars + u"\r\n" +
                       u"Time: ["),
            UnicodeString::npos);
  EXPECT_EQ(Count(Log(), u"Fatal Exception Flag"), 1u);
}

TEST_F(ExceptionHookTest, ConcurrentRaisesFromEightThreadsGiveWholeEntries) {
  constexpr int kThreads = 8, kRaises = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kRaises; ++i) {
        try {
          RaiseForTheCrashLog<rtl::EConvertError>(rtl::Format(u"thread %d raise %d", {t, i}));
        } catch (const rtl::EConvertError&) {
        }
      }
    });
  for (std::thread& t : threads) t.join();
  const std::vector<UnicodeString> entries = Entries();
  ASSERT_EQ(entries.size(), size_t{kThreads * kRaises});
  std::vector<int> seen(kThreads * kRaises);
  for (const UnicodeString& e : entries) {
    EXPECT_EQ(Count(e, u"Time: ["), 1u);
    EXPECT_EQ(Count(e, u"Callstack (Frames):"), 1u);
    const size_t at = e.find(u"\r\nMessage: thread ");
    ASSERT_NE(at, UnicodeString::npos);
    int t = 0, i = 0;
    ASSERT_EQ(std::sscanf(rtl::u8(e.substr(at + 18, 20)).c_str(), "%d raise %d", &t, &i), 2);
    ++seen[static_cast<size_t>(t * kRaises + i)];
    EXPECT_NE(e.find(u"RaiseForTheCrashLog"), UnicodeString::npos);
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), kThreads * kRaises);
}

TEST_F(ExceptionHookTest, AFullLogTakesNoMoreAndTheRaiseGoesOn) {
  {
    std::ofstream out(Dir / "testException.log", std::ios::binary);
    out << "\xFF\xFE";
  }
  fs::resize_file(Dir / "testException.log", zfCrashLogMaxSize - 64);
  bool caught = false;
  try {
    RaiseForTheCrashLog<std::runtime_error>("late");
  } catch (const std::runtime_error&) {
    caught = true;
  }
  EXPECT_TRUE(caught);
  EXPECT_EQ(fs::file_size(Dir / "testException.log"), static_cast<uintmax_t>(zfCrashLogMaxSize - 64));
}

// The log cannot be opened (its name is a folder): after its hundred tries the report is dropped
// and the raise goes on. Slow: the tries wait up to 99 ms each.
TEST_F(ExceptionHookTest, AnUnwritableLogDropsTheReportAndTheRaiseGoesOnSlow) {
  fs::create_directories(Dir / "folderException.log");
  TzfExceptionHook hook(rtl::u16((Dir / "folderException.log").string()));
  bool caught = false;
  try {
    RaiseForTheCrashLog<std::runtime_error>("unwritable");
  } catch (const std::runtime_error& e) {
    caught = std::string(e.what()) == "unwritable";
  }
  EXPECT_TRUE(caught);
  EXPECT_TRUE(fs::is_directory(Dir / "folderException.log"));
}

TEST_F(ExceptionHookTest, HooksNestAndTheFormerComesBack) {
  TzfExceptionHook* outer = zfExceptionHook();
  EXPECT_EQ(outer, Hook.get());
  {
    TzfExceptionHook inner(rtl::u16((Dir / "innerException.log").string()));
    EXPECT_EQ(zfExceptionHook(), &inner);
  }
  EXPECT_EQ(zfExceptionHook(), outer);
}

// A hook with no file name in force: raises and reports leave nothing, in its log or the one
// before it, and the raise goes on; once it is freed the former hook reports again.
TEST_F(ExceptionHookTest, AQuietHookReportsNothingUntilItIsFreed) {
  {
    TzfExceptionHook quiet(u"");
    EXPECT_EQ(zfExceptionHook(), &quiet);
    bool caught = false;
    try {
      RaiseForTheCrashLog<std::runtime_error>("quiet");
    } catch (const std::runtime_error&) {
      caught = true;
    }
    EXPECT_TRUE(caught);
    TzfRaiseInfo info;
    info.HasObject = true;
    info.ClassName = "EAccessViolation";
    EXPECT_FALSE(quiet.Report(info));
    EXPECT_FALSE(quiet.FatalFlag());
  }
  EXPECT_TRUE(RawLog().empty());
  try {
    RaiseForTheCrashLog<std::runtime_error>("loud");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(Entries().size(), 1u);
}

using ExceptionHookDeathTest = ExceptionHookTest;

TEST_F(ExceptionHookDeathTest, AFatalSignalIsReportedBeforeTheProcessEnds) {
  EXPECT_DEATH(
      {
        zfExceptionHookUnit().Initialize();  // the signal handlers
        TzfExceptionHook hook(rtl::u16((Dir / "testException.log").string()));
        std::raise(SIGILL);
      },
      "");
  const std::vector<UnicodeString> entries = Entries();
  ASSERT_EQ(entries.size(), 1u);
  const UnicodeString& e = entries[0];
  EXPECT_NE(e.find(u"\r\n    ExceptionCode: $C000001D = EXCEPTION_ILLEGAL_INSTRUCTION"), UnicodeString::npos);
  EXPECT_NE(e.find(u"\r\n  ContextRecord: nil\r\nException: nil!\r\n"), UnicodeString::npos);
  EXPECT_NE(Log().find(u"Fatal Exception Flag has been set"), UnicodeString::npos);
}

}  // namespace
}  // namespace zf::test
