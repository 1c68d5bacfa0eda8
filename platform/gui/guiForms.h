// The window toolkit the recovery tool runs on: one application object with one main form, and on
// that form a report-style list view filling the client area below a progress bar, a timer and a
// file-open dialog, plus modal OK message boxes and the program's log lines.
//
// Two backends implement these classes: a Qt Widgets window (guiQtWidgets) and a headless one
// (guiHeadless) that runs the same timer on an event loop of its own and talks to the terminal
// instead. guiBackend chooses between them from the command line and the environment.
//
// Everything here belongs to the thread that created the application and calls Run; handlers are
// called on that thread only.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/rtl/rtlText.h"

namespace zf::gui {

using rtl::UnicodeString;

// What the form's resource stores: everything the form shows before its handlers change it.
struct TFormResource {
  UnicodeString Caption;                // window caption; also the caption of message boxes
  int32_t ClientWidth = 0;              // client area in pixels
  int32_t ClientHeight = 0;
  std::vector<UnicodeString> Columns;   // list view columns, auto-sized, in order
  uint32_t TimerInterval = 1000;        // milliseconds between timer ticks (the timer starts disabled)
  UnicodeString DialogFilter;           // "description|pattern" pairs joined by "|"
  UnicodeString DialogDefaultExt;       // suffix added to a name typed without one (no dot)
};

// Report-style list: one row per item, the item's caption in the first column and its value in the
// second. Row numbers run from 0; a bad row number raises rtl::EListError.
class TListView {
 public:
  TListView() = default;
  TListView(const TListView&) = delete;
  TListView& operator=(const TListView&) = delete;
  virtual ~TListView() = default;

  // Counted pair around a batch of changes: the list is repainted once, at the outer EndUpdate.
  virtual void BeginUpdate() = 0;
  virtual void EndUpdate() = 0;
  virtual void Clear() = 0;
  // Appends a row with this caption and an empty value.
  virtual void AddItem(const UnicodeString& aCaption) = 0;
  virtual void SetValue(int32_t aRow, const UnicodeString& aValue) = 0;
  virtual int32_t Count() const = 0;
  virtual UnicodeString Caption(int32_t aRow) const = 0;
  virtual UnicodeString Value(int32_t aRow) const = 0;
};

// Progress bar from 0 to Max (100 when created). Position stays within 0..Max: a position outside
// is clamped, and a Max below the position pulls the position down with it; a negative Max is
// taken as 0. The bar keeps the values; a backend repaints in Changed.
class TProgressBar {
 public:
  TProgressBar() = default;
  TProgressBar(const TProgressBar&) = delete;
  TProgressBar& operator=(const TProgressBar&) = delete;
  virtual ~TProgressBar() = default;

  void SetMax(int32_t aMax);
  void SetPosition(int32_t aPosition);
  int32_t Max() const { return FMax; }
  int32_t Position() const { return FPosition; }
  // Advances the position by one step of 1.
  void StepIt() { SetPosition(FPosition < FMax ? FPosition + 1 : FMax); }

 protected:
  // Called after every change of Max or Position.
  virtual void Changed() = 0;

 private:
  int32_t FMax = 100;
  int32_t FPosition = 0;
};

// Repeating timer, created disabled. Enabling it (again) starts a full interval; then it ticks once
// per interval. Ticks missed while a handler ran are not made up, and a tick handler may run again
// inside a modal box or dialog that an earlier tick opened.
class TTimer {
 public:
  TTimer() = default;
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;
  virtual ~TTimer() = default;

  virtual void SetEnabled(bool aEnabled) = 0;
  virtual bool Enabled() const = 0;
  // May be called from any thread: an enabled timer's next tick comes as soon as its event loop
  // can run it instead of at its time; the tick after it is a whole interval later. Switching the
  // timer on or off drops a tick so brought forward.
  virtual void TickSoon() = 0;

  std::function<void()> OnTimer;
};

// File-open dialog for one existing file, with the resource's filter and default suffix.
class TOpenDialog {
 public:
  TOpenDialog() = default;
  TOpenDialog(const TOpenDialog&) = delete;
  TOpenDialog& operator=(const TOpenDialog&) = delete;
  virtual ~TOpenDialog() = default;

  // Asks for the file; True when the user confirmed one. A cancelled dialog leaves FileName empty.
  // The timer keeps ticking while the dialog is open.
  virtual bool Execute() = 0;
  const UnicodeString& FileName() const { return FFileName; }

 protected:
  UnicodeString FFileName;
};

// The application's main form. Its close and release follow the platform's rules: a close request
// (the window's close button, or SIGINT/SIGTERM when headless) first asks OnCloseQuery, which may
// refuse it; an accepted close releases the form. Release is deferred: OnDestroy runs once, after
// the handler that released the form has returned, and then the application's Run returns.
class TForm {
 public:
  TForm() = default;
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;
  virtual ~TForm() = default;

  virtual void SetCaption(const UnicodeString& aCaption) = 0;
  virtual UnicodeString Caption() const = 0;
  virtual TListView& ListView() = 0;
  virtual TProgressBar& ProgressBar() = 0;
  virtual TTimer& Timer() = 0;
  virtual TOpenDialog& OpenDialog() = 0;
  // Shows aText in a modal box with an OK button and returns when it is closed; the timer keeps
  // ticking meanwhile, so a tick handler may run before this returns. Headless: shows nothing.
  virtual void ShowMessage(const UnicodeString& aText) = 0;
  // Posts the form's destruction (see above). Further calls do nothing.
  virtual void Release() = 0;
  virtual bool Released() const = 0;

  // Asked on every close request; aCanClose starts True. Unassigned: every close is accepted.
  std::function<void(bool& aCanClose)> OnCloseQuery;
  // Runs once when the released form is destroyed.
  std::function<void()> OnDestroy;
};

// The application object: owns the main form, runs the event loop and carries the exit code.
class TApplication {
 public:
  TApplication() = default;
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;
  virtual ~TApplication() = default;

  // Creates the main form from its resource (once; the application owns it). Nothing runs yet.
  virtual TForm& CreateForm(const TFormResource& aResource) = 0;
  // Shows the main form and runs the event loop until the form has been destroyed; answers the
  // exit code. An exception that escapes a handler ends the loop and is raised again here.
  virtual int Run() = 0;
  // Shows one line of the program's log beside its log file: headless prints it on standard
  // output, a window ignores it.
  virtual void LogLine(const UnicodeString& aLine) = 0;
  // True when no window is shown (no dialog or message box can be asked).
  virtual bool Headless() const = 0;

  // The program's parameters after the program name, without the backend's own (--headless).
  const std::vector<std::string>& Params() const { return FParams; }
  void SetExitCode(int aExitCode) { FExitCode = aExitCode; }
  int ExitCode() const { return FExitCode; }

 protected:
  explicit TApplication(std::vector<std::string> aParams) : FParams(std::move(aParams)) {}

  std::vector<std::string> FParams;
  int FExitCode = 0;
};

// "description|pattern|description|pattern" split into (description, pattern) pairs; a trailing
// description without a pattern is dropped.
std::vector<std::pair<UnicodeString, UnicodeString>> SplitDialogFilter(const UnicodeString& aFilter);

}  // namespace zf::gui
