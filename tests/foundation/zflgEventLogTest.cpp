// Event log lines byte for byte, rotation, filters, the hex dump and the cached handler under
// several writer threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "foundation/zflgEventLog.h"
#include "platform/os/osSystem.h"
#include "tests/foundation/zfTempFolder.h"

using namespace zf;
using zf::rtl::UnicodeString;
namespace fs = std::filesystem;

namespace {

// 2024-03-05 14:07:09.045 as days since 1899-12-30.
constexpr double kWhen = 45356.0 + (14 * 3600000.0 + 7 * 60000.0 + 9 * 1000.0 + 45.0) / 86400000.0;

struct TempDir {
  TempDir() : Path(zf::test::MakeTempFolder("zflog_")) {}
  ~TempDir() { fs::remove_all(Path); }
  UnicodeString File(const std::string& aName) const { return zf::rtl::u16((Path / aName).string()); }
  fs::path Path;
};

std::string ReadBytes(const UnicodeString& aName) {
  std::ifstream f(zf::rtl::u8(aName), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// The file's UTF-16LE content as text (the test checks the byte layout separately).
UnicodeString ReadText(const UnicodeString& aName) {
  const std::string b = ReadBytes(aName);
  UnicodeString s;
  for (size_t i = 0; i + 1 < b.size(); i += 2)
    s += static_cast<char16_t>(static_cast<uint8_t>(b[i]) | (static_cast<uint8_t>(b[i + 1]) << 8));
  return s;
}

std::vector<UnicodeString> Lines(const UnicodeString& aText) {
  std::vector<UnicodeString> out;
  size_t start = 0;
  for (size_t p = aText.find(u"\r\n"); p != UnicodeString::npos; p = aText.find(u"\r\n", start)) {
    out.push_back(aText.substr(start, p - start));
    start = p + 2;
  }
  EXPECT_EQ(start, aText.size()) << "text after the last CR LF";
  return out;
}

using LogPtr = zf::rtl::TComponentPtr<TzfEventLog>;

LogPtr DirectLog(const UnicodeString& aFile) {
  LogPtr log(new TzfEventLog());
  log->SetCacheEnabled(false);
  log->SetFileName(aFile);
  return log;
}

}  // namespace

TEST(EventLog, DefaultLineIsExactUtf16LeWithCrLfAndNoBom) {
  TempDir dir;
  const UnicodeString file = dir.File("zfRecoverEvent.log");
  const uint32_t tickBefore = zf::os::GetTickCount();
  {
    LogPtr log = DirectLog(file);
    log->WriteString(u"Recover started", 0, lpInfo, u"default", kWhen, 0);
  }
  const uint32_t tickAfter = zf::os::GetTickCount();
  const std::string bytes = ReadBytes(file);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_NE(bytes.substr(0, 2), std::string("\xFF\xFE", 2)) << "no byte-order mark";
  EXPECT_EQ(bytes[0], '2');
  EXPECT_EQ(bytes[1], '\0');
  EXPECT_EQ(bytes.substr(bytes.size() - 4), std::string("\r\0\n\0", 4));

  const UnicodeString text = ReadText(file);
  const std::vector<UnicodeString> lines = Lines(text);
  ASSERT_EQ(lines.size(), 1u);
  const UnicodeString& line = lines[0];
  // Local time and bias, a blank, the tick count in 12 columns, a blank, the thread id in 8.
  EXPECT_EQ(line.substr(0, 30), u"2024-03-05 14:07:09.045+00:00 ");
  const uint32_t tick = static_cast<uint32_t>(std::stoul(zf::rtl::u8(zf::rtl::Trim(line.substr(30, 12)))));
  EXPECT_GE(tick, tickBefore);
  EXPECT_LE(tick, tickAfter);
  EXPECT_EQ(line.substr(30, 12), zf::rtl::Format(u"%12d", {tick}));
  EXPECT_EQ(line[42], u' ');
  EXPECT_EQ(line.substr(43, 8), zf::rtl::Format(u"%8d", {zf::os::GetCurrentThreadId()}));
  EXPECT_EQ(line.substr(51), u" [$0/0] INFO  default Recover started");
}

TEST(EventLog, NumberPriorityAndBiasColumns) {
  struct Case {
    uint32_t Number;
    TzfLogPriority Priority;
    int32_t Bias;
    const char16_t* Head;  // date + bias
    const char16_t* Tail;  // from the number on
  };
  const Case cases[] = {
      {15521, lpError, -60, u"2024-03-05 14:07:09.045-01:00", u" [$3CA1/15521] ERROR default m"},
      {0, lpDebug, 60, u"2024-03-05 14:07:09.045+01:00", u" [$0/0] DEBUG default m"},
      {255, lpWarn, 330, u"2024-03-05 14:07:09.045+05:30", u" [$FF/255] WARN  default m"},
      {1, lpFatal, -570, u"2024-03-05 14:07:09.045-09:30", u" [$1/1] FATAL default m"},
      // Half an hour east of UTC keeps its sign.
      {16, lpInfo, -30, u"2024-03-05 14:07:09.045-00:30", u" [$10/16] INFO  default m"},
  };
  TempDir dir;
  const UnicodeString file = dir.File("cols.log");
  {
    LogPtr log = DirectLog(file);
    for (const Case& c : cases) log->WriteString(u"m", c.Number, c.Priority, u"default", kWhen, c.Bias);
  }
  const std::vector<UnicodeString> lines = Lines(ReadText(file));
  ASSERT_EQ(lines.size(), std::size(cases));
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].substr(0, 29), cases[i].Head) << i;
    EXPECT_EQ(lines[i].substr(51), cases[i].Tail) << i;
  }
}

TEST(EventLog, BiasText) {
  const std::pair<int32_t, const char16_t*> cases[] = {
      {0, u"+00:00"}, {-60, u"-01:00"}, {60, u"+01:00"}, {-30, u"-00:30"}, {-1, u"-00:01"}, {-90, u"-01:30"}, {720, u"+12:00"}};
  for (const auto& [bias, text] : cases) EXPECT_EQ(zfLogBiasText(bias), text) << bias;
}

TEST(EventLog, MachineBiasAndUtcTime) {
  TzfLogData data(u"x", 0, lpInfo, u"c", kWhen, zfLogBiasDefault);
  const int32_t bias = data.GetWhenBias();
  EXPECT_NE(bias, zfLogBiasDefault);
  EXPECT_DOUBLE_EQ(data.GetUTCWhen(), kWhen + bias / 1440.0);
  TzfLogData now(u"x", 0, lpInfo, u"c", 0, 0);
  EXPECT_GT(now.GetWhen(), 40000.0);  // a when of 0 takes the current time
}

TEST(EventLog, PatternTranslation) {
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"%D %P %M", u"%0:s%1:s %6:s %8:s"},
      {u"%c|%n|%t|%u", u"%7:s|[$%5:x/%5:d]|%4:8d|%2:s"},
      {u"%X %% %3:12d", u"%X %% %3:12d"},
      {u"100%", u"100%"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(TzfPatternedLogDataFormatter::TranslatePattern(in), out) << zf::rtl::u8(in);

  TempDir dir;
  const UnicodeString file = dir.File("pattern.log");
  {
    LogPtr log = DirectLog(file);
    log->SetFormatString(u"%D %P %M");
    log->SetDateFormatString(u"hh:nn");
    log->WriteString(u"short", 7, lpWarn, u"default", kWhen, 0);
  }
  EXPECT_EQ(ReadText(file), u"14:07+00:00 WARN  short\r\n");
}

TEST(EventLog, FiltersAndWriteStrings) {
  TempDir dir;
  const UnicodeString file = dir.File("filter.log");
  {
    LogPtr log = DirectLog(file);
    log->SetFormatString(u"%N %P %C %M");
    TzfLogPriorities p = TzfLogPriorities::All();
    p.Exclude(lpDebug);
    log->SetPrioritiesToLog(p);
    log->WriteString(u"dropped debug", 1, lpDebug, u"c", kWhen, 0);
    log->SetOnLogDataFilter([](const IzfLogDataRef& d, bool& filtered) {
      if (d->GetMsg() == u"let through") filtered = false;
      if (d->GetMsg() == u"veto") filtered = true;
    });
    log->WriteString(u"let through", 2, lpDebug, u"c", kWhen, 0);
    log->WriteString(u"veto", 3, lpError, u"c", kWhen, 0);
    log->WriteStrings({u"a", u"b", u"c"}, 4, lpInfo, u"cat", kWhen, 0);
    log->SetEnabled(false);
    log->WriteString(u"disabled", 5, lpInfo, u"c", kWhen, 0);
  }
  EXPECT_EQ(Lines(ReadText(file)), (std::vector<UnicodeString>{u"[$2/2] DEBUG c let through", u"[$4/4] INFO  cat a",
                                                                 u"[$4/4] INFO  cat b", u"[$4/4] INFO  cat c"}));
}

TEST(EventLog, EmptyFileNameWritesNothing) {
  LogPtr log(new TzfEventLog());
  log->SetCacheEnabled(false);
  EXPECT_NO_THROW(log->WriteString(u"nowhere", 0, lpInfo, u"default", kWhen, 0));
}

TEST(EventLog, AppendsToAnExistingFile) {
  TempDir dir;
  const UnicodeString file = dir.File("append.log");
  for (int i = 0; i < 2; ++i) {
    LogPtr log = DirectLog(file);
    log->SetFormatString(u"%M");
    log->WriteString(i == 0 ? u"first" : u"second", 0, lpInfo, u"default", kWhen, 0);
  }
  EXPECT_EQ(ReadText(file), u"first\r\nsecond\r\n");
}

TEST(EventLog, RotationFillsNumberedFilesInTurn) {
  TempDir dir;
  const UnicodeString file = dir.File("zfRecoverEvent.log");
  // Each line is a little over 512 KiB, so a file passes 1 MiB after two lines.
  const UnicodeString big(262144, u'x');
  LogPtr log = DirectLog(file);
  log->SetFormatString(u"%N %M");
  log->SetNumRotations(3);
  log->SetRotationSize(1);
  EXPECT_EQ(log->zfRotationFileName(), dir.File("zfRecoverEvent_01.log"));
  for (uint32_t n = 1; n <= 7; ++n) log->WriteString(big, n, lpInfo, u"default", kWhen, 0);
  log->Flush();
  auto numbers = [&](const char* name) {
    std::vector<UnicodeString> out;
    for (const UnicodeString& l : Lines(ReadText(dir.File(name)))) out.push_back(l.substr(0, l.find(u' ')));
    return out;
  };
  // _01 held 1 and 2, then was entered again by rotation and started empty for 7.
  EXPECT_EQ(numbers("zfRecoverEvent_01.log"), (std::vector<UnicodeString>{u"[$7/7]"}));
  EXPECT_EQ(numbers("zfRecoverEvent_02.log"), (std::vector<UnicodeString>{u"[$3/3]", u"[$4/4]"}));
  EXPECT_EQ(numbers("zfRecoverEvent_03.log"), (std::vector<UnicodeString>{u"[$5/5]", u"[$6/6]"}));
  EXPECT_FALSE(fs::exists(zf::rtl::u8(file)));
  EXPECT_EQ(log->CurrentRotation(), 0);

  for (uint32_t n = 8; n <= 9; ++n) log->WriteString(big, n, lpInfo, u"default", kWhen, 0);
  EXPECT_EQ(log->CurrentRotation(), 1);
  log->Clear();
  EXPECT_EQ(log->CurrentRotation(), 0);
  for (const char* name : {"zfRecoverEvent_01.log", "zfRecoverEvent_02.log", "zfRecoverEvent_03.log"})
    EXPECT_FALSE(fs::exists(dir.Path / name)) << name;
}

TEST(EventLog, WithoutRotationsTheFileGrowsOn) {
  TempDir dir;
  const UnicodeString file = dir.File("grow.log");
  const UnicodeString big(400000, u'y');
  LogPtr log = DirectLog(file);
  log->SetFormatString(u"%M");
  log->SetRotationSize(1);
  log->SetMaxSize(1);
  for (int i = 0; i < 3; ++i) log->WriteString(big, 0, lpInfo, u"default", kWhen, 0);
  log->Flush();
  EXPECT_EQ(fs::file_size(zf::rtl::u8(file)), 3u * (400000 + 2) * 2);
}

TEST(EventLog, HexDump) {
  LogPtr log(new TzfEventLog());
  std::vector<UnicodeString> lines;
  const char data[] = "ABCDEFGHIJKLMNOPQR\x01\xff";
  log->WriteHexDump(u"blk", data, lines, 20);
  const UnicodeString indent(13, u' ');
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], u"blk  (Size: 20)");
  EXPECT_EQ(lines[1], indent + u"41 42 43 44  45 46 47 48  49 4a 4b 4c  4d 4e 4f 50  [ABCDEFGHIJKLMNOP]");
  EXPECT_EQ(lines[2], indent + u"51 52 01 ff" + UnicodeString(41, u' ') + u"[QR.." + UnicodeString(12, u' ') + u"]");
  EXPECT_EQ(lines[1].size(), 13u + 70u);

  lines.clear();
  log->WriteHexDump(u"none", nullptr, lines, 0);
  EXPECT_EQ(lines, (std::vector<UnicodeString>{u"none  (Size: 0)", indent + u"buffer is nil"}));

  lines.clear();
  std::vector<uint8_t> big(5000, 0x20);
  log->WriteHexDump(u"big", big.data(), lines, 5000);
  ASSERT_EQ(lines.size(), 2u + 64u);
  EXPECT_EQ(lines[1], indent + u"(writing first 1K of buffer only)");
}

namespace {

// A cached log that keeps its lines in memory, dispatches every millisecond and can be told to
// fail a number of writes.
class MemoryLog : public TzfCachedEventLog {
 public:
  ~MemoryLog() override { ShutdownLog(); }
  std::vector<UnicodeString> Lines;
  std::atomic<int> FailNext{0};

 protected:
  void WriteLine(const UnicodeString& aLine) override {
    if (FailNext.load() > 0) {
      --FailNext;
      throw zf::rtl::EWriteError(u"Stream write error");
    }
    Lines.push_back(aLine);
  }
  std::unique_ptr<TzfBaseLogDataHandler> CreateLogDataHandler() override {
    if (CacheEnabled()) return std::make_unique<TzfCachedLogDataHandler>(this, 1);
    return TzfCachedEventLog::CreateLogDataHandler();
  }
};

void WriteFromThreads(MemoryLog& aLog, int aThreads, int aPerThread) {
  std::vector<std::thread> writers;
  for (int t = 0; t < aThreads; ++t)
    writers.emplace_back([&aLog, t, aPerThread] {
      for (int i = 0; i < aPerThread; ++i)
        aLog.WriteString(zf::rtl::Format(u"%d %d", {t, i}), 0, lpInfo, u"default", kWhen, 0);
    });
  for (auto& w : writers) w.join();
}

// Every thread's lines are all there, each once and in the order written.
void ExpectCompleteAndOrdered(const std::vector<UnicodeString>& aLines, int aThreads, int aPerThread) {
  ASSERT_EQ(aLines.size(), static_cast<size_t>(aThreads * aPerThread));
  std::vector<int> next(static_cast<size_t>(aThreads), 0);
  for (const UnicodeString& line : aLines) {
    ASSERT_GE(line.size(), 2u);
    const std::string s = zf::rtl::u8(line.substr(0, line.size() - 2));
    const int t = std::stoi(s);
    const int i = std::stoi(s.substr(s.find(' ') + 1));
    ASSERT_EQ(i, next[static_cast<size_t>(t)]) << "thread " << t;
    ++next[static_cast<size_t>(t)];
  }
}

}  // namespace

TEST(CachedEventLog, SeveralWritersLoseAndReorderNothing) {
  zf::rtl::TComponentPtr<MemoryLog> log(new MemoryLog());
  log->SetFormatString(u"%M");
  WriteFromThreads(*log, 8, 500);
  log->SetCacheEnabled(false);  // writes out everything still queued before it returns
  ExpectCompleteAndOrdered(log->Lines, 8, 500);
}

TEST(CachedEventLog, WriteFailureIsReportedOnceAndKeepsTheLines) {
  zf::rtl::TComponentPtr<MemoryLog> log(new MemoryLog());
  log->SetFormatString(u"%M");
  log->FailNext = 3;
  testing::internal::CaptureStderr();
  std::thread failures([&] {
    // Keep lines coming until the dispatch thread has met all three failures.
    for (int i = 0; log->FailNext.load() > 0; ++i) {
      log->WriteString(zf::rtl::Format(u"%d %d", {7, i}), 0, lpInfo, u"default", kWhen, 0);
      std::this_thread::yield();
    }
  });
  failures.join();
  const size_t written7 = [&] {
    log->SetCacheEnabled(false);
    return log->Lines.size();
  }();
  const std::string err = testing::internal::GetCapturedStderr();
  size_t reports = 0;
  for (size_t p = err.find("cannot write lines"); p != std::string::npos; p = err.find("cannot write lines", p + 1)) ++reports;
  EXPECT_EQ(reports, 1u) << err;
  // Thread 7's lines all arrived, in order.
  std::vector<UnicodeString> lines = log->Lines;
  ASSERT_EQ(lines.size(), written7);
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], zf::rtl::Format(u"7 %d\r\n", {i}));
}

TEST(CachedEventLog, SlowStressWritersWithWriteFailures) {
  zf::rtl::TComponentPtr<MemoryLog> log(new MemoryLog());
  log->SetFormatString(u"%M");
  std::atomic<bool> done{false};
  std::thread saboteur([&] {
    while (!done.load()) {
      log->FailNext = 2;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  testing::internal::CaptureStderr();
  WriteFromThreads(*log, 8, 50000);
  done = true;
  saboteur.join();
  log->FailNext = 0;
  log->SetCacheEnabled(false);
  testing::internal::GetCapturedStderr();
  ExpectCompleteAndOrdered(log->Lines, 8, 50000);
}

// Flush and Clear reach the handler while the setters of Enabled and CacheEnabled replace it:
// both sides take the log's lock before the storage lock, so a flush never meets a handler that
// a setter is freeing (ThreadSanitizer reports the old order as a race on the handler).
void FlushesAgainstSetters(int aRounds) {
  TempDir dir;
  LogPtr log(new TzfEventLog());
  log->SetFileName(dir.File("flush.log"));
  log->SetFormatString(u"%M");
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    while (!done.load()) log->Flush();
  });
  threads.emplace_back([&] {
    while (!done.load()) log->Clear();
  });
  threads.emplace_back([&] {
    for (int i = 0; !done.load(); ++i) log->WriteString(zf::rtl::IntToStr(i), 0, lpInfo, u"default", kWhen, 0);
  });
  std::thread setters([&] {
    for (int i = 0; i < aRounds; ++i) {
      log->SetCacheEnabled(i % 2 == 0);
      if (i % 3 == 0) log->SetEnabled(i % 2 != 0);
    }
    done = true;
  });
  setters.join();
  for (auto& t : threads) t.join();
  log->SetEnabled(true);
  log->SetCacheEnabled(false);
  log->WriteString(u"after", 0, lpInfo, u"default", kWhen, 0);
  const std::vector<UnicodeString> lines = Lines(ReadText(dir.File("flush.log")));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), u"after");
}

TEST(CachedEventLog, FlushAndClearAgainstTheSettersShort) { FlushesAgainstSetters(200); }
TEST(CachedEventLog, FlushAndClearAgainstTheSettersSlow) { FlushesAgainstSetters(20000); }

TEST(CachedEventLog, CacheOffWritesQueuedLinesInOrder) {
  TempDir dir;
  const UnicodeString file = dir.File("cached.log");
  {
    LogPtr log(new TzfEventLog());
    log->SetFileName(file);
    log->SetFormatString(u"%M");
    for (int i = 0; i < 100; ++i) log->WriteString(zf::rtl::Format(u"%d", {i}), 0, lpInfo, u"default", kWhen, 0);
    log->SetCacheEnabled(false);
    // Everything is on disk as soon as the setter returns.
    const std::vector<UnicodeString> lines = Lines(ReadText(file));
    ASSERT_EQ(lines.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(lines[static_cast<size_t>(i)], zf::rtl::IntToStr(i));
  }
}

TEST(CachedEventLog, DestroyingTheLogWritesWhatIsQueued) {
  TempDir dir;
  const UnicodeString file = dir.File("destroy.log");
  {
    LogPtr log(new TzfEventLog());
    log->SetFileName(file);
    log->SetFormatString(u"%M");
    log->WriteString(u"last words", 0, lpInfo, u"default", kWhen, 0);
  }
  EXPECT_EQ(ReadText(file), u"last words\r\n");
}

TEST(EventLogRegistry, UnitRegistersTheEventLogClass) {
  zflgEventLogUnit().Initialize();
  const TzfComponentClass* c = TzfRegisterableComponent::FindRegisteredClass(u"tzfeventlog");
  ASSERT_NE(c, nullptr);
  zf::rtl::TComponentPtr<TzfRegisterableComponent> made(c->Create(nullptr));
  EXPECT_EQ(UnicodeString(made->ClassName()), u"TzfEventLog");
  try {
    TzfRegisterableComponent::RegisterComponentClass(TzfEventLog::ClassInfo());
    FAIL() << "a second registration must be refused";
  } catch (const EzfBaseLogException& e) {
    EXPECT_EQ(e.Message(), u"ZofrinDB: <nil pointer>: The class \"TzfEventLog\" is already registered [no error code]");
  }
  zflgEventLogUnit().Finalize();
  EXPECT_EQ(TzfRegisterableComponent::FindRegisteredClass(u"TzfEventLog"), nullptr);
}

namespace {
class TestDispatcher : public TzfBaseEventLogDispatcher {
 protected:
  void WriteLine(const UnicodeString&) override {}
};
}  // namespace

TEST(EventLogDispatcher, RegistrationFollowsBothSidesLifetimes) {
  zf::rtl::TComponentPtr<TestDispatcher> dispatcher(new TestDispatcher());
  LogPtr a(new TzfEventLog());
  {
    LogPtr b(new TzfEventLog());
    a->SetEventDispatcher(dispatcher.get());
    b->SetEventDispatcher(dispatcher.get());
    EXPECT_EQ(a->EventDispatcher(), dispatcher.get());
    EXPECT_EQ(dispatcher->Loggers().size(), 2u);
  }
  EXPECT_EQ(dispatcher->Loggers(), (std::vector<TzfCustomLog*>{a.get()})) << "a destroyed logger leaves the list";
  a->SetEventDispatcher(nullptr);
  EXPECT_TRUE(dispatcher->Loggers().empty());
  a->SetEventDispatcher(dispatcher.get());
  dispatcher.reset();
  EXPECT_EQ(a->EventDispatcher(), nullptr) << "a log forgets a destroyed dispatcher";
}
