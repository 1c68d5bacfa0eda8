// The headless backend: no window and no toolkit. The form's timer runs on an event loop of the
// application's own (poll on a self-pipe, with the time to the next tick as the timeout), on the
// thread that calls Run. The terminal stands in for the window:
// - the progress bar is one line on standard error, redrawn in place, when that is a terminal;
// - log lines are printed on standard output;
// - SIGINT and SIGTERM, while Run runs, are close requests that the form's OnCloseQuery may refuse;
// - message boxes are not shown and the open dialog asks nothing (a headless run has a file).
#pragma once
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/gui/guiForms.h"

namespace zf::gui {

struct THeadlessOptions {
  std::FILE* LogOut = stdout;       // log lines
  std::FILE* ProgressOut = stderr;  // the progress line
  bool ProgressShown = false;       // draw the progress line at all (Defaults: stderr is a terminal)
  bool CatchSignals = true;         // SIGINT and SIGTERM become close requests during Run

  // Standard output and error; the progress line only when standard error is a terminal.
  static THeadlessOptions Defaults();
};

class THeadlessForm;

class THeadlessApplication : public TApplication {
 public:
  explicit THeadlessApplication(std::vector<std::string> aParams,
                                THeadlessOptions aOptions = THeadlessOptions::Defaults());
  ~THeadlessApplication() override;

  TForm& CreateForm(const TFormResource& aResource) override;
  // Runs the loop until the form is destroyed. Raises rtl::Exception when there is no form, or
  // when the loop could never end (the timer is off and no signal can come).
  int Run() override;
  void LogLine(const UnicodeString& aLine) override;
  bool Headless() const override { return true; }

 private:
  friend class THeadlessForm;
  friend class THeadlessProgressBar;
  using Clock = std::chrono::steady_clock;

  void ProgressChanged();
  void DrawProgress();
  void EraseProgress();

  THeadlessOptions FOptions;
  std::unique_ptr<THeadlessForm> FForm;
  bool FProgressDirty = false;    // the bar changed since it was last drawn
  bool FProgressOnScreen = false; // a progress line stands at the end of the terminal now
  Clock::time_point FProgressDrawn{};
};

// The progress line for aPosition of aMax: a bar of aWidth cells, "#" for done and "-" for the
// rest, then "<position> of <max> (<percent>%)", e.g. "[###-------] 3 of 10 (30%)". The percentage
// is rounded down; a Max of 0 shows 0%.
std::string FormatProgressLine(int32_t aPosition, int32_t aMax, int aWidth = 30);

}  // namespace zf::gui
