#include "platform/gui/guiHeadless.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <pthread.h>

#include <csignal>
#include <cstring>
#include <utility>

#include "platform/rtl/rtlException.h"

namespace zf::gui {

namespace {

using Clock = std::chrono::steady_clock;

// The progress line is redrawn at most this often while a handler runs; it is always brought up
// to date when the handler returns.
constexpr auto kProgressRedraw = std::chrono::milliseconds(100);

// The write end of the running loop's self-pipe, for the signal handler.
std::atomic<int> gWakeFd{-1};
// The byte that wakes the loop without a close request (a signal writes its number).
constexpr unsigned char kWakeOnly = 0;

extern "C" void HeadlessSignalHandler(int aSignal) {
  const int saved = errno;
  const int fd = gWakeFd.load(std::memory_order_relaxed);
  if (fd >= 0) {
    const unsigned char b = static_cast<unsigned char>(aSignal);
    // A full pipe already holds a close request, which is all this one would add.
    [[maybe_unused]] const ssize_t n = write(fd, &b, 1);
  }
  errno = saved;
}

[[noreturn]] void RaiseOSError(const char* aWhat) {
  const int error = errno;
  throw rtl::EOSError(rtl::u16(std::string(aWhat) + ": " + std::strerror(error)), error);
}

// The loop's self-pipe, and SIGINT/SIGTERM routed into it for as long as the loop runs. The old
// handlers come back when the loop ends, however it ends.
class TWakePipe {
 public:
  explicit TWakePipe(bool aCatchSignals) {
    if (pipe2(FFds, O_NONBLOCK | O_CLOEXEC) != 0) RaiseOSError("pipe2");
    if (!aCatchSignals) return;
    int expected = -1;
    if (!gWakeFd.compare_exchange_strong(expected, FFds[1])) {
      Close();
      throw rtl::Exception(u"Another headless event loop is already running");
    }
    struct sigaction sa {};
    sa.sa_handler = &HeadlessSignalHandler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, &FOldInt);
    sigaction(SIGTERM, &sa, &FOldTerm);
    // A program may block both until its loop runs (so that one sent during its start-up waits
    // for the loop instead of killing it): they are let through on this thread, and one that is
    // pending arrives here at once.
    sigset_t both;
    sigemptyset(&both);
    sigaddset(&both, SIGINT);
    sigaddset(&both, SIGTERM);
    pthread_sigmask(SIG_UNBLOCK, &both, &FOldMask);
    FCatching = true;
  }
  ~TWakePipe() {
    if (FCatching) {
      pthread_sigmask(SIG_SETMASK, &FOldMask, nullptr);
      sigaction(SIGINT, &FOldInt, nullptr);
      sigaction(SIGTERM, &FOldTerm, nullptr);
      gWakeFd.store(-1);
    }
    Close();
  }
  TWakePipe(const TWakePipe&) = delete;
  TWakePipe& operator=(const TWakePipe&) = delete;

  int ReadFd() const { return FFds[0]; }
  int WriteFd() const { return FFds[1]; }
  bool Catching() const { return FCatching; }
  // Number of signals that arrived since the last call (a 0 byte only wakes the loop).
  int Drain() {
    int count = 0;
    unsigned char buf[64];
    for (;;) {
      const ssize_t n = read(FFds[0], buf, sizeof buf);
      if (n > 0) {
        for (ssize_t i = 0; i < n; ++i)
          if (buf[i] != kWakeOnly) ++count;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      return count;
    }
  }

 private:
  void Close() {
    for (int& fd : FFds) {
      if (fd >= 0) close(fd);
      fd = -1;
    }
  }

  int FFds[2] = {-1, -1};
  bool FCatching = false;
  struct sigaction FOldInt {};
  struct sigaction FOldTerm {};
  sigset_t FOldMask {};
};

UnicodeString IndexError(int32_t aRow) {
  return u"List index out of bounds (" + rtl::IntToStr(aRow) + u")";
}

class THeadlessListView final : public TListView {
 public:
  void BeginUpdate() override { ++FUpdates; }
  void EndUpdate() override {
    if (FUpdates > 0) --FUpdates;
  }
  void Clear() override { FRows.clear(); }
  void AddItem(const UnicodeString& aCaption) override { FRows.push_back({aCaption, UnicodeString()}); }
  void SetValue(int32_t aRow, const UnicodeString& aValue) override { Row(aRow).second = aValue; }
  int32_t Count() const override { return static_cast<int32_t>(FRows.size()); }
  UnicodeString Caption(int32_t aRow) const override { return Row(aRow).first; }
  UnicodeString Value(int32_t aRow) const override { return Row(aRow).second; }

 private:
  using TRow = std::pair<UnicodeString, UnicodeString>;
  TRow& Row(int32_t aRow) { return const_cast<TRow&>(std::as_const(*this).Row(aRow)); }
  const TRow& Row(int32_t aRow) const {
    if (aRow < 0 || aRow >= Count()) throw rtl::EListError(IndexError(aRow));
    return FRows[static_cast<size_t>(aRow)];
  }

  std::vector<TRow> FRows;
  int FUpdates = 0;
};

}  // namespace

class THeadlessProgressBar final : public TProgressBar {
 public:
  explicit THeadlessProgressBar(THeadlessApplication& aApp) : FApp(aApp) {}

 protected:
  void Changed() override { FApp.ProgressChanged(); }

 private:
  THeadlessApplication& FApp;
};

namespace {

class THeadlessTimer final : public TTimer {
 public:
  explicit THeadlessTimer(uint32_t aInterval) : FInterval(std::chrono::milliseconds(aInterval)) {}

  void SetEnabled(bool aEnabled) override {
    if (aEnabled) FDue = Clock::now() + FInterval;
    FEnabled = aEnabled;
    FSoon.store(false, std::memory_order_relaxed);
  }
  bool Enabled() const override { return FEnabled; }
  // Any thread: the flag, then a byte through the running loop's self-pipe to wake its poll.
  void TickSoon() override {
    FSoon.store(true, std::memory_order_release);
    const int fd = FWakeFd.load(std::memory_order_acquire);
    if (fd >= 0) {
      const unsigned char b = kWakeOnly;
      // A full pipe already wakes the loop.
      [[maybe_unused]] const ssize_t n = write(fd, &b, 1);
    }
  }
  // The write end of the running loop's self-pipe; -1 when no loop runs.
  void SetWakeFd(int aFd) { FWakeFd.store(aFd, std::memory_order_release); }

  // Milliseconds until the next tick for poll: -1 when disabled, 0 when due.
  int Timeout(Clock::time_point aNow) const {
    if (!FEnabled) return -1;
    if (aNow >= FDue || FSoon.load(std::memory_order_acquire)) return 0;
    // Rounded up, so the loop does not wake a moment early and spin until the tick is due.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(FDue - aNow).count();
    return static_cast<int>(std::min<int64_t>(ms, INT_MAX));
  }
  // Takes a due tick: the next one keeps the cadence, and ticks missed meanwhile are not made up.
  // A tick brought forward is taken at once, and the next one is a whole interval after it.
  bool Take(Clock::time_point aNow) {
    if (!FEnabled) return false;
    if (FSoon.exchange(false, std::memory_order_acq_rel)) {
      FDue = aNow + FInterval;
      return true;
    }
    if (aNow < FDue) return false;
    FDue += FInterval;
    if (FDue <= aNow) FDue = aNow + FInterval;
    return true;
  }

 private:
  Clock::duration FInterval;
  Clock::time_point FDue{};
  bool FEnabled = false;
  std::atomic<bool> FSoon{false};
  std::atomic<int> FWakeFd{-1};
};

class THeadlessOpenDialog final : public TOpenDialog {
 public:
  bool Execute() override {
    FFileName.clear();
    return false;
  }
};

}  // namespace

class THeadlessForm final : public TForm {
 public:
  THeadlessForm(THeadlessApplication& aApp, const TFormResource& aResource)
      : FCaption(aResource.Caption), FProgressBar(aApp), FTimer(aResource.TimerInterval) {}

  void SetCaption(const UnicodeString& aCaption) override { FCaption = aCaption; }
  UnicodeString Caption() const override { return FCaption; }
  TListView& ListView() override { return FListView; }
  TProgressBar& ProgressBar() override { return FProgressBar; }
  TTimer& Timer() override { return FTimer; }
  THeadlessTimer& HeadlessTimer() { return FTimer; }
  TOpenDialog& OpenDialog() override { return FOpenDialog; }
  void ShowMessage(const UnicodeString&) override {}
  void Release() override { FReleased = true; }
  bool Released() const override { return FReleased; }

  void CloseRequest() {
    if (FReleased) return;
    bool canClose = true;
    if (OnCloseQuery) OnCloseQuery(canClose);
    if (canClose) Release();
  }

 private:
  UnicodeString FCaption;
  THeadlessListView FListView;
  THeadlessProgressBar FProgressBar;
  THeadlessTimer FTimer;
  THeadlessOpenDialog FOpenDialog;
  bool FReleased = false;
};

THeadlessOptions THeadlessOptions::Defaults() {
  THeadlessOptions o;
  o.ProgressShown = isatty(STDERR_FILENO) == 1;
  return o;
}

THeadlessApplication::THeadlessApplication(std::vector<std::string> aParams, THeadlessOptions aOptions)
    : TApplication(std::move(aParams)), FOptions(aOptions) {}

THeadlessApplication::~THeadlessApplication() = default;

TForm& THeadlessApplication::CreateForm(const TFormResource& aResource) {
  if (FForm) throw rtl::Exception(u"The application already has a main form");
  FForm = std::make_unique<THeadlessForm>(*this, aResource);
  return *FForm;
}

int THeadlessApplication::Run() {
  if (!FForm) throw rtl::Exception(u"The application has no main form");
  struct TProgressCleanup {
    THeadlessApplication& App;
    ~TProgressCleanup() { App.EraseProgress(); }
  } cleanup{*this};
  TWakePipe wake(FOptions.CatchSignals);
  THeadlessTimer& timer = FForm->HeadlessTimer();
  timer.SetWakeFd(wake.WriteFd());
  struct TWakeCleanup {
    THeadlessTimer& Timer;
    ~TWakeCleanup() { Timer.SetWakeFd(-1); }
  } wakeCleanup{timer};
  while (!FForm->Released()) {
    const int timeout = timer.Timeout(Clock::now());
    if (timeout < 0 && !wake.Catching())
      throw rtl::Exception(u"The headless event loop has nothing to wait for");
    pollfd pfd{wake.ReadFd(), POLLIN, 0};
    if (poll(&pfd, 1, timeout) < 0 && errno != EINTR) RaiseOSError("poll");
    for (int signals = wake.Drain(); signals > 0 && !FForm->Released(); --signals) {
      FForm->CloseRequest();
      if (FProgressDirty) DrawProgress();
    }
    if (FForm->Released()) break;
    if (timer.Take(Clock::now()) && timer.OnTimer) timer.OnTimer();
    if (FProgressDirty) DrawProgress();
  }
  EraseProgress();
  if (FForm->OnDestroy) FForm->OnDestroy();
  return FExitCode;
}

void THeadlessApplication::LogLine(const UnicodeString& aLine) {
  const bool redraw = FProgressOnScreen;
  EraseProgress();
  std::string line = rtl::u8(aLine);
  line += '\n';
  std::fputs(line.c_str(), FOptions.LogOut);
  std::fflush(FOptions.LogOut);
  if (redraw) DrawProgress();
}

void THeadlessApplication::ProgressChanged() {
  if (!FOptions.ProgressShown) return;
  FProgressDirty = true;
  if (Clock::now() - FProgressDrawn >= kProgressRedraw) DrawProgress();
}

void THeadlessApplication::DrawProgress() {
  FProgressDirty = false;
  if (!FOptions.ProgressShown || !FForm) return;
  const TProgressBar& bar = FForm->ProgressBar();
  // Back to the line's start, the line, then erase what a longer earlier line left behind.
  const std::string text = "\r" + FormatProgressLine(bar.Position(), bar.Max()) + "\x1b[K";
  std::fputs(text.c_str(), FOptions.ProgressOut);
  std::fflush(FOptions.ProgressOut);
  FProgressOnScreen = true;
  FProgressDrawn = Clock::now();
}

void THeadlessApplication::EraseProgress() {
  if (!FProgressOnScreen) return;
  std::fputs("\r\x1b[K", FOptions.ProgressOut);
  std::fflush(FOptions.ProgressOut);
  FProgressOnScreen = false;
}

std::string FormatProgressLine(int32_t aPosition, int32_t aMax, int aWidth) {
  const int64_t max = std::max<int32_t>(aMax, 0);
  const int64_t position = std::clamp<int64_t>(aPosition, 0, max);
  const int width = std::max(aWidth, 0);
  const int64_t percent = max > 0 ? position * 100 / max : 0;
  const int64_t done = max > 0 ? position * width / max : 0;
  std::string line = "[";
  line.append(static_cast<size_t>(done), '#');
  line.append(static_cast<size_t>(width - done), '-');
  line += "] " + std::to_string(position) + " of " + std::to_string(max) + " (" + std::to_string(percent) + "%)";
  return line;
}

}  // namespace zf::gui
