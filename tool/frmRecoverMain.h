// The recovery tool's main window, TfrmMain, and the recover run it drives.
//
// The window starts the engine, shows its statistics in a two-column list refreshed by a 1000 ms
// timer (headless, where no window must be shown first, the first tick comes at once), and on the
// first tick takes the table file (the first parameter, else the open dialog),
// opens its folder as a database and starts the engine's recover of the table. Later ticks poll the
// task and move the progress bar (blocks read of all blocks). When the task has finished without
// error, the completion pass counts the source in storage order (no index of the damaged table is
// needed; a source that cannot be counted has an unknown count), opens the failed and recovered
// tables, logs the counts, copies the failed records back into the recovered table where it can,
// and renames: the failed table to its name + "_" + stamp (or deletes it when empty), the source
// to N + "_Backup_" + stamp (moving its files only when the engine cannot read its dictionary or
// index header), the recovered table to N. A failed pass logs where each table is left.
//
// Every step is logged (the engine's event log, and each line through the application, which a
// headless run prints); lines marked "box" in the run's table are also shown in a modal box when
// the program has no parameters. Every ending path releases the window; its destruction flushes
// the log and sets the exit code: 0 only after "Recover operation has been finalized successfully.
// Terminating...", 2 when there is no such table file (missing, or not of the extension "dvl7"),
// 1 for every other failure, a cancelled task included.
//
// The window refuses to close while the task runs (and cancels it) and while the completion pass
// runs (it has nothing to cancel, and stopping between renames would leave them half done).
//
// A file given as a symbolic link is resolved to the real file first: every table is made and
// renamed beside it.
//
// Everything here runs on the thread of the application's event loop.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/gui/guiForms.h"
#include "platform/rtl/rtlDateTime.h"
#include "tool/zfRecoverEngine.h"

namespace zf {

inline constexpr int zfRecoverExitSuccess = 0;
inline constexpr int zfRecoverExitFailure = 1;
inline constexpr int zfRecoverExitNoTable = 2;  // missing file, wrong extension, nothing to ask

// The extension of the table files the tool recovers (the engine's TableExtension).
inline constexpr const char16_t* zfRecoverTableExtension = u"dvl7";

enum TzfRecoverState : uint8_t {
  rsStarting,    // form created, engine not yet started
  rsWaiting,     // engine started, timer on, waiting for the first tick
  rsRunning,     // recover task running
  rsFinalising,  // completion pass
  rsEnding       // window released
};

// The stored look of the main window: caption "zfRecover", client 744 x 572, columns "Name" and
// "Value", 1000 ms timer, the open dialog's filter and default suffix.
gui::TFormResource zfRecoverFormResource();

class TfrmMain {
 public:
  // Creates the main form of aApp from aResource (the stored one; tests shorten its tick) and runs
  // FormCreate. aApp and aEngine outlive the window.
  TfrmMain(gui::TApplication& aApp, TzfRecoverEngine& aEngine,
           const gui::TFormResource& aResource = zfRecoverFormResource());
  TfrmMain(const TfrmMain&) = delete;
  TfrmMain& operator=(const TfrmMain&) = delete;
  ~TfrmMain();

  // Starts the engine and the statistics display; a failure is logged and ends the run.
  void FormCreate();
  // aCanClose := no task and no completion pass running; a running task is cancelled. A close
  // before the first tick ends the run with one line saying nothing was changed.
  void FormCloseQuery(bool& aCanClose);
  // Flushes the event log and hands the exit code to the application.
  void FormDestroy();
  void PrepareStats();
  void RefreshStats();
  void tmrUpdateTimer();

  gui::TForm& Form() const { return FForm; }
  TzfRecoverState State() const { return FState; }
  int ExitCode() const { return FExitCode; }
  bool TaskRunning() const { return FTask != nullptr; }

  // The time of the rename stamp (local time; a test sets a fixed one).
  std::function<TDateTime()> Now = [] { return rtl::Now(); };
  // The program's path, from which the event log's name is made.
  static UnicodeString ProgramPath();

 private:
  void FirstTick();
  void PollingTick();
  void CompletionPass(const TzfTaskStatus& aStatus);
  void Finalize();
  // After a failed completion pass: one line per table of the run with the name it has now.
  void LogWhereTablesAre();
  // Writes the line to the event log and through the application; with aBox and no parameters,
  // shows it in a box too.
  void Log(TzfLogPriority aPriority, const UnicodeString& aText, bool aBox);
  // Timer off, the exit code kept, the window released.
  void End(int aExitCode);

  gui::TApplication& FApp;
  TzfRecoverEngine& FEngine;
  gui::TForm& FForm;
  std::unique_ptr<TzfRecoverTask> FTask;  // TaskInfo
  TzfRecoverState FState = rsStarting;
  int FExitCode = zfRecoverExitFailure;
  bool FFailedDeleted = false;  // the empty failed table is gone
};

}  // namespace zf
