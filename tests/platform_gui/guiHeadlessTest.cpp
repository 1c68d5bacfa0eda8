#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "guiTestSupport.h"
#include "platform/gui/guiBackend.h"
#include "platform/gui/guiHeadless.h"
#include "platform/rtl/rtlException.h"

using namespace zf::gui;
using zf::gui::test::MainFormResource;

namespace {

using Clock = std::chrono::steady_clock;

// An in-memory FILE for the progress and log streams.
class TMemFile {
 public:
  TMemFile() : FFile(open_memstream(&FBuf, &FSize)) {}
  ~TMemFile() {
    std::fclose(FFile);
    std::free(FBuf);
  }
  std::FILE* File() const { return FFile; }
  std::string Text() {
    std::fflush(FFile);
    return std::string(FBuf, FSize);
  }

 private:
  char* FBuf = nullptr;
  size_t FSize = 0;
  std::FILE* FFile;
};

struct THeadlessRun : ::testing::Test {
  TMemFile Log;
  TMemFile Progress;

  THeadlessOptions Options(bool aProgress = false) {
    THeadlessOptions o;
    o.LogOut = Log.File();
    o.ProgressOut = Progress.File();
    o.ProgressShown = aProgress;
    return o;
  }
};

}  // namespace

// The timer ticks on the loop at its interval; a release from a tick ends Run once that tick's
// handler has returned, OnDestroy runs once, and Run answers the exit code. Qt is never started.
TEST_F(THeadlessRun, TimerTicksUntilReleaseAndRunAnswersTheExitCode) {
  THeadlessApplication app({"file.dvl7"}, Options());
  TForm& form = app.CreateForm(MainFormResource(20));
  int ticks = 0;
  bool inHandler = false;
  int destroyed = 0;
  bool destroyedInHandler = false;
  Clock::time_point enabled;
  form.Timer().OnTimer = [&] {
    inHandler = true;
    if (++ticks == 3) {
      app.SetExitCode(7);
      form.Release();
      form.Release();
    }
    inHandler = false;
  };
  form.OnDestroy = [&] {
    ++destroyed;
    destroyedInHandler = inHandler;
  };
  enabled = Clock::now();
  form.Timer().SetEnabled(true);
  EXPECT_EQ(app.Run(), 7);
  EXPECT_GE(Clock::now() - enabled, std::chrono::milliseconds(60));
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(destroyedInHandler);
  EXPECT_TRUE(form.Released());
  EXPECT_EQ(QCoreApplication::instance(), nullptr);
  EXPECT_EQ(app.Params(), std::vector<std::string>{"file.dvl7"});
}

// A handler that disables the timer gets no further ticks until it is enabled again, and then a
// full interval later.
TEST_F(THeadlessRun, DisabledTimerStaysQuietUntilEnabledAgain) {
  THeadlessApplication app({}, Options());
  TForm& form = app.CreateForm(MainFormResource(5));
  int ticks = 0;
  form.Timer().OnTimer = [&] {
    ++ticks;
    form.Timer().SetEnabled(false);
    EXPECT_FALSE(form.Timer().Enabled());
    if (ticks == 2)
      form.Release();
    else
      form.Timer().SetEnabled(true);
  };
  form.Timer().SetEnabled(true);
  EXPECT_EQ(app.Run(), 0);
  EXPECT_EQ(ticks, 2);
}

// SIGINT raised by the program to itself is a close request: the form refuses it while its task
// runs and the ticks go on; a later SIGTERM that it accepts releases the form. The handlers that
// were there before Run are back afterwards.
TEST_F(THeadlessRun, SignalsAreCloseRequestsTheFormMayRefuse) {
  struct sigaction before {};
  sigaction(SIGINT, nullptr, &before);
  THeadlessApplication app({"file.dvl7"}, Options());
  TForm& form = app.CreateForm(MainFormResource(5));
  int ticks = 0, queries = 0, ticksAfterRefusal = 0, destroyed = 0;
  bool taskRunning = true;
  form.OnCloseQuery = [&](bool& aCanClose) {
    ++queries;
    aCanClose = !taskRunning;
  };
  form.OnDestroy = [&] { ++destroyed; };
  form.Timer().OnTimer = [&] {
    ++ticks;
    if (ticks == 1) raise(SIGINT);
    if (ticks > 1 && queries == 1) ++ticksAfterRefusal;
    if (ticks == 4) {
      taskRunning = false;
      raise(SIGTERM);
    }
  };
  form.Timer().SetEnabled(true);
  app.SetExitCode(1);
  EXPECT_EQ(app.Run(), 1);
  EXPECT_EQ(queries, 2);
  EXPECT_EQ(ticks, 4);
  EXPECT_EQ(ticksAfterRefusal, 3);
  EXPECT_EQ(destroyed, 1);
  struct sigaction after {};
  sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

// A signal that comes while the loop waits with the timer off wakes it (from another thread, as a
// terminal's Ctrl-C or a kill does).
TEST_F(THeadlessRun, SignalWakesALoopWhoseTimerIsOff) {
  THeadlessApplication app({"file.dvl7"}, Options());
  TForm& form = app.CreateForm(MainFormResource(5));
  int queries = 0;
  form.OnCloseQuery = [&](bool&) { ++queries; };
  std::thread killer;
  form.Timer().OnTimer = [&] {
    form.Timer().SetEnabled(false);
    killer = std::thread([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      kill(getpid(), SIGTERM);
    });
  };
  form.Timer().SetEnabled(true);
  EXPECT_EQ(app.Run(), 0);
  killer.join();
  EXPECT_EQ(queries, 1);
}

// A tick brought forward from another thread wakes the loop long before the interval is up; the
// wake is no close request, and the interval starts again from that tick.
TEST_F(THeadlessRun, TickBroughtForwardFromAnotherThread) {
  THeadlessApplication app({"file.dvl7"}, Options());
  TForm& form = app.CreateForm(MainFormResource(60000));
  int queries = 0, ticks = 0;
  form.OnCloseQuery = [&](bool&) { ++queries; };
  std::thread helper;
  auto bringForward = [&] {
    if (helper.joinable()) helper.join();
    helper = std::thread([&form] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      form.Timer().TickSoon();
    });
  };
  form.Timer().OnTimer = [&] {
    if (++ticks == 2) form.Release();
    else bringForward();
  };
  form.Timer().SetEnabled(true);
  bringForward();
  const auto start = Clock::now();
  EXPECT_EQ(app.Run(), 0);
  helper.join();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(queries, 0);
}

// A loop without a timer and without signals could never end: Run refuses to wait for nothing.
// An exception from a handler ends the loop and comes out of Run.
TEST_F(THeadlessRun, LoopsThatCannotEndAndHandlerFailuresAreRaised) {
  {
    THeadlessOptions o = Options();
    o.CatchSignals = false;
    THeadlessApplication app({}, o);
    app.CreateForm(MainFormResource());
    EXPECT_THROW(app.Run(), zf::rtl::Exception);
  }
  {
    THeadlessApplication app({}, Options());
    EXPECT_THROW(app.Run(), zf::rtl::Exception);  // no form
    TForm& form = app.CreateForm(MainFormResource(1));
    EXPECT_THROW(app.CreateForm(MainFormResource()), zf::rtl::Exception);
    form.Timer().OnTimer = [] { throw zf::rtl::EAbort(u"tick failed"); };
    form.Timer().SetEnabled(true);
    EXPECT_THROW(app.Run(), zf::rtl::EAbort);
  }
}

// Headless runs show no box and ask for no file; the caption and the list keep what they are given.
TEST_F(THeadlessRun, NoDialogsAreShown) {
  THeadlessApplication app({"file.dvl7"}, Options());
  TForm& form = app.CreateForm(MainFormResource());
  EXPECT_TRUE(app.Headless());
  form.ShowMessage(u"Recover operation completed.");
  EXPECT_FALSE(form.OpenDialog().Execute());
  EXPECT_TRUE(form.OpenDialog().FileName().empty());
  EXPECT_EQ(form.Caption(), u"zfRecover");
  form.SetCaption(u"zfRecover - /x/file.dvl7");
  EXPECT_EQ(form.Caption(), u"zfRecover - /x/file.dvl7");
  EXPECT_EQ(Log.Text(), "");
  EXPECT_EQ(Progress.Text(), "");
}

TEST(HeadlessProgressLine, Format) {
  struct {
    int32_t position, max;
    int width;
    const char* line;
  } cases[] = {
      {0, 0, 10, "[----------] 0 of 0 (0%)"},
      {0, 100, 10, "[----------] 0 of 100 (0%)"},
      {3, 10, 10, "[###-------] 3 of 10 (30%)"},
      {2, 3, 10, "[######----] 2 of 3 (66%)"},  // rounded down
      {999, 1000, 4, "[###-] 999 of 1000 (99%)"},
      {10, 10, 5, "[#####] 10 of 10 (100%)"},
      {12, 10, 5, "[#####] 10 of 10 (100%)"},  // clamped like the bar
      {-1, 10, 5, "[-----] 0 of 10 (0%)"},
      {2147483647, 2147483647, 3, "[###] 2147483647 of 2147483647 (100%)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatProgressLine(c.position, c.max, c.width), c.line) << c.position << " of " << c.max;
  EXPECT_EQ(FormatProgressLine(5, 10), "[###############---------------] 5 of 10 (50%)");
}

// On a terminal the bar is one line on the progress stream, redrawn in place when it changed; a
// log line first takes the bar away, goes to the log stream, and the bar comes back below it. The
// bar is gone when the run ends.
TEST_F(THeadlessRun, ProgressLineIsRedrawnAroundLogLines) {
  THeadlessApplication app({"file.dvl7"}, Options(true));
  TForm& form = app.CreateForm(MainFormResource(1));
  int ticks = 0;
  std::string progressAtLog;
  form.Timer().OnTimer = [&] {
    ++ticks;
    TProgressBar& bar = form.ProgressBar();
    if (ticks == 1) {
      bar.SetMax(10);
      bar.SetPosition(3);
    } else if (ticks == 2) {
      progressAtLog = Progress.Text();
      app.LogLine(u"Recover operation completed. \u00e9");
      bar.StepIt();
    } else {
      form.Release();
    }
  };
  form.Timer().SetEnabled(true);
  app.Run();
  EXPECT_EQ(Log.Text(), "Recover operation completed. \xc3\xa9\n");
  const std::string progress = Progress.Text();
  const std::string at3 = "\r[#########---------------------] 3 of 10 (30%)\x1b[K";
  const std::string at4 = "\r[############------------------] 4 of 10 (40%)\x1b[K";
  const std::string erase = "\r\x1b[K";
  // The state after the first tick is on screen when the second tick logs.
  ASSERT_GE(progressAtLog.size(), at3.size());
  EXPECT_EQ(progressAtLog.substr(progressAtLog.size() - at3.size()), at3);
  // Then: erased for the log line, drawn again, advanced, and erased at the end.
  EXPECT_EQ(progress.substr(progressAtLog.size()), erase + at3 + at4 + erase);
}

// Not on a terminal: no progress output at all, log lines still printed.
TEST_F(THeadlessRun, NoProgressLineOffTerminal) {
  THeadlessApplication app({"file.dvl7"}, Options(false));
  TForm& form = app.CreateForm(MainFormResource(1));
  form.Timer().OnTimer = [&] {
    form.ProgressBar().SetMax(5);
    form.ProgressBar().SetPosition(5);
    app.LogLine(u"line");
    form.Release();
  };
  form.Timer().SetEnabled(true);
  app.Run();
  EXPECT_EQ(Progress.Text(), "");
  EXPECT_EQ(Log.Text(), "line\n");
}
