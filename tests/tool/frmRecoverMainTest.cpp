// The recovery tool's window over fakes: every state and path of a recover run, each log line with
// its text and priority, boxes only without parameters, the renames and their stamps, and the exit
// codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "tests/tool/zfRecoverFakes.h"
#include "tool/frmRecoverMain.h"

namespace zf::test {
namespace {

namespace fs = std::filesystem;
using TLine = std::pair<TzfLogPriority, UnicodeString>;

// A folder with the table file "Log.dvl7" and a few files of other extensions.
struct TTableFolder {
  TTableFolder() {
    Path = fs::temp_directory_path() / ("zfRecoverMainTest_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Path);
    fs::create_directories(Path);
    for (const char* n : {"Log.dvl7", "Log.DVL7", "Log.dvl", "Log.dvl7x", "Log"}) std::ofstream(Path / n) << "x";
  }
  ~TTableFolder() { fs::remove_all(Path); }
  std::string File(const char* aName) const { return (Path / aName).string(); }
  UnicodeString File16(const char* aName) const { return rtl::u16(File(aName)); }
  fs::path Path;
};

class RecoverWindow : public ::testing::Test {
 protected:
  // The window for these parameters; FormCreate has run.
  TfrmMain& Make(std::vector<std::string> aParams, bool aHeadless = false) {
    Window.reset();
    App = std::make_unique<TFakeApp>(std::move(aParams));
    App->IsHeadless = aHeadless;
    Window = std::make_unique<TfrmMain>(*App, *Eng);
    Window->Now = [] { return rtl::EncodeDate(2026, 3, 7) + rtl::EncodeTime(9, 5, 4, 321); };
    return *Window;
  }
  TFakeForm& Form() { return *App->Form; }
  int Run() { return App->Run(); }
  // A whole run with the file "Log.dvl7" as the parameter.
  int RunOnTable() {
    Make({Folder.File("Log.dvl7")});
    return Run();
  }
  std::vector<UnicodeString> Texts() {
    std::vector<UnicodeString> t;
    for (const auto& l : E().Lines) t.push_back(l.second);
    return t;
  }

  TFakeEngine& E() { return *Eng; }
  // A fresh engine for the next case of a table (the window goes first).
  void Reset() {
    Window.reset();
    App.reset();
    Eng = std::make_unique<TFakeEngine>();
  }

  TTableFolder Folder;
  std::unique_ptr<TFakeEngine> Eng = std::make_unique<TFakeEngine>();
  std::unique_ptr<TFakeApp> App;
  std::unique_ptr<TfrmMain> Window;
};

const UnicodeString kStamp = u"2026_03_07_09_05_04";
const UnicodeString kSuccess = u"Recover operation has been finalized successfully. Terminating...";

TEST_F(RecoverWindow, FormCreateStartsTheEngineAndTheStatistics) {
  TfrmMain& w = Make({});
  EXPECT_TRUE(E().Started);
  EXPECT_EQ(E().LogFileName, rtl::ChangeFileExt(TfrmMain::ProgramPath(), u"") + u"Event.log");
  EXPECT_EQ(w.State(), rsWaiting);
  EXPECT_TRUE(Form().Timer().Enabled());
  EXPECT_FALSE(Form().Released());
  // The form as stored: caption, size, columns, tick, dialog.
  EXPECT_EQ(Form().Caption(), u"zfRecover");
  EXPECT_EQ(Form().Resource.ClientWidth, 744);
  EXPECT_EQ(Form().Resource.ClientHeight, 572);
  EXPECT_EQ(Form().Resource.Columns, (std::vector<UnicodeString>{u"Name", u"Value"}));
  EXPECT_EQ(Form().Resource.TimerInterval, 1000u);
  EXPECT_EQ(Form().Resource.DialogFilter, u"Dravolt 7 Log File (*.dvl7)|*.dvl7");
  EXPECT_EQ(Form().Resource.DialogDefaultExt, u"dvl7");
  // One row per caption with its value.
  ASSERT_EQ(Form().List.Rows.size(), 3u);
  EXPECT_EQ(Form().List.Rows[0], std::make_pair(UnicodeString(u"Sessions"), UnicodeString(u"1")));
  EXPECT_EQ(Form().List.Rows[2], std::make_pair(UnicodeString(u"Blocks read"), UnicodeString(u"30")));
  EXPECT_EQ(Form().List.Depth, 0);
  EXPECT_TRUE(E().Lines.empty());
}

// A changed number of captions rebuilds the rows; their values come with the next refresh.
TEST_F(RecoverWindow, RefreshRebuildsRowsWhenTheCaptionsChange) {
  TfrmMain& w = Make({});
  E().Captions.push_back(u"Folders");
  E().Values = {u"5", u"6", u"7", u"8"};
  w.RefreshStats();
  ASSERT_EQ(Form().List.Count(), 4);
  EXPECT_EQ(Form().List.Caption(3), u"Folders");
  EXPECT_EQ(Form().List.Value(0), u"");
  w.RefreshStats();
  EXPECT_EQ(Form().List.Value(0), u"5");
  EXPECT_EQ(Form().List.Value(3), u"8");
  EXPECT_EQ(Form().List.Depth, 0);
}

// A failure to start the engine is logged, boxed only without parameters, and ends with code 1
// before any tick.
TEST_F(RecoverWindow, EngineStartFailureEndsTheRun) {
  for (bool withFile : {true, false}) {
    SCOPED_TRACE(withFile);
    Reset();
    E().StartError = zfErrDirBusy;
    TfrmMain& w = Make(withFile ? std::vector<std::string>{Folder.File("Log.dvl7")} : std::vector<std::string>{});
    EXPECT_EQ(w.State(), rsEnding);
    EXPECT_TRUE(Form().Released());
    EXPECT_FALSE(Form().Timer().Enabled());
    ASSERT_EQ(E().Lines.size(), 1u);
    EXPECT_EQ(E().Lines[0].first, lpError);
    EXPECT_EQ(E().Lines[0].second.rfind(u"Server engine could not be started: ZofrinDB: ", 0), 0u);
    EXPECT_EQ(Form().Boxes.size(), withFile ? 0u : 1u);
    EXPECT_EQ(Run(), zfRecoverExitFailure);
    EXPECT_EQ(App->Ticks, 0);
    EXPECT_EQ(E().Flushes, 1);
  }
}

// Choosing the file: what is refused, with which line, box and exit code. Nothing reaches the
// engine's database.
TEST_F(RecoverWindow, FileThatIsNoTableFileIsRefused) {
  struct TCase {
    const char* Param;      // nullptr: no parameter, the dialog answers
    bool DialogConfirms;
    const char* DialogFile;
    const char* Expected;   // the line, %s = the full name
    bool Box;
  } cases[] = {
      {"missing.dvl7", false, nullptr, "Table \"%s\" can not be found.", false},
      {nullptr, false, nullptr, "Table \"\" can not be found.", true},
      {nullptr, true, "gone.dvl7", "Table \"%s\" can not be found.", true},
      {"Log.DVL7", false, nullptr, "Table \"%s\" can not be recovered: its extension is not \"dvl7\".", false},
      {"Log.dvl", false, nullptr, "Table \"%s\" can not be recovered: its extension is not \"dvl7\".", false},
      {"Log.dvl7x", false, nullptr, "Table \"%s\" can not be recovered: its extension is not \"dvl7\".", false},
      {"Log", false, nullptr, "Table \"%s\" can not be recovered: its extension is not \"dvl7\".", false},
      {nullptr, true, "Log.dvl", "Table \"%s\" can not be recovered: its extension is not \"dvl7\".", true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Param ? c.Param : c.DialogFile ? c.DialogFile : "(dialog cancelled)");
    Reset();
    Make(c.Param ? std::vector<std::string>{Folder.File(c.Param)} : std::vector<std::string>{});
    Form().Dialog.Confirm = c.DialogConfirms;
    if (c.DialogFile) Form().Dialog.Answer = Folder.File16(c.DialogFile);
    EXPECT_EQ(Run(), zfRecoverExitNoTable);
    const char* shown = c.Param ? c.Param : c.DialogFile;
    const UnicodeString expected = rtl::Format(rtl::u16(c.Expected), {shown ? Folder.File16(shown) : u""});
    EXPECT_EQ(Texts(), std::vector<UnicodeString>{expected});
    EXPECT_EQ(E().Lines[0].first, lpError);
    EXPECT_EQ(Form().Boxes, c.Box ? std::vector<UnicodeString>{expected} : std::vector<UnicodeString>{});
    EXPECT_EQ(Form().Dialog.Calls, c.Param ? 0 : 1);
    EXPECT_EQ(App->Ticks, 1);
    EXPECT_FALSE(E().DbActive);
    EXPECT_TRUE(E().Journal.empty());
    EXPECT_EQ(Window->State(), rsEnding);
    // The same line goes through the application (a headless run prints it).
    EXPECT_EQ(App->Lines, std::vector<UnicodeString>{u"ERROR " + expected});
  }
}

// A relative parameter is expanded to a full path; the database opens on its folder and the
// tables get their names from the file name.
TEST_F(RecoverWindow, RelativeParameterIsExpandedAndNamesTheTables) {
  const fs::path cwd = fs::current_path();
  fs::current_path(Folder.Path);
  Make({"./sub/../Log.dvl7"});
  const int code = Run();
  fs::current_path(cwd);
  EXPECT_EQ(code, zfRecoverExitSuccess);
  ASSERT_FALSE(E().Journal.empty());
  EXPECT_EQ(E().AliasPath, rtl::u16((Folder.Path / "").string()));
  EXPECT_EQ(Texts().front(), u"Trying to recover table " + Folder.File16("Log.dvl7"));
  EXPECT_EQ(E().Journal.front(), "recover Log");
  EXPECT_EQ(Form().Caption(), u"zfRecover - " + Folder.File16("Log.dvl7"));
}

// A symbolic link (here into another folder, under another name) stands for the real file: the
// database opens on the real file's folder, the tables are named after the real file and made
// beside it, so the link ends up naming the recovered table.
TEST_F(RecoverWindow, SymbolicLinkIsResolvedToTheRealFile) {
  const fs::path links = Folder.Path / "links";
  fs::create_directories(links);
  fs::create_symlink(Folder.Path / "Log.dvl7", links / "Alias.dvl7");
  fs::create_symlink(links / "Alias.dvl7", links / "Chain.dvl7");  // a link to a link
  for (const char* link : {"Alias.dvl7", "Chain.dvl7"}) {
    SCOPED_TRACE(link);
    Reset();
    Make({(links / link).string()});
    EXPECT_EQ(Run(), zfRecoverExitSuccess);
    EXPECT_EQ(E().AliasPath, rtl::u16((Folder.Path / "").string()));
    EXPECT_EQ(Texts().front(), u"Trying to recover table " + Folder.File16("Log.dvl7"));
    ASSERT_FALSE(E().Journal.empty());
    EXPECT_EQ(E().Journal.front(), "recover Log");
    EXPECT_EQ(E().Rec.Name, u"Log");
  }
  // A link whose target is gone is no table file.
  fs::create_symlink(Folder.Path / "Gone.dvl7", links / "Dangling.dvl7");
  Reset();
  Make({(links / "Dangling.dvl7").string()});
  EXPECT_EQ(Run(), zfRecoverExitNoTable);
  EXPECT_TRUE(E().Journal.empty());
}

TEST_F(RecoverWindow, FailureToStartTheRecoverEndsTheRun) {
  struct TCase {
    bool DbFails;
    bool WithFile;
  } cases[] = {{true, true}, {false, true}, {false, false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.DbFails << c.WithFile);
    Reset();
    (c.DbFails ? E().OpenDbError : E().RecoverError) = zfErrNoSuchTable;
    Make(c.WithFile ? std::vector<std::string>{Folder.File("Log.dvl7")} : std::vector<std::string>{});
    Form().Dialog.Confirm = true;
    Form().Dialog.Answer = Folder.File16("Log.dvl7");
    EXPECT_EQ(Run(), zfRecoverExitFailure);
    ASSERT_EQ(E().Lines.size(), 3u);
    EXPECT_EQ(E().Lines[0], TLine(lpInfo, u"Trying to recover table " + Folder.File16("Log.dvl7")));
    EXPECT_EQ(E().Lines[1].first, lpError);
    EXPECT_EQ(E().Lines[1].second,
              u"Recover operation could not be initiated: ZofrinDB: Table does not exist. [$2728/10024]");
    EXPECT_EQ(E().Lines[2], TLine(lpWarn, u"The source table is kept as Log"));
    EXPECT_EQ(Form().Boxes.size(), c.WithFile ? 0u : 1u);
    EXPECT_EQ(Form().Caption(), u"zfRecover");
    EXPECT_FALSE(Window->TaskRunning());
    EXPECT_EQ(App->Ticks, 1);
  }
}

// Every record recovered, none failed: the counts line is INFO, the empty failed table is deleted,
// the source kept as backup and the recovered table takes its name.
TEST_F(RecoverWindow, CompleteRecoverRenamesTheTables) {
  E().Src.Records = E().Rec.Records = {{1, 1, 1}, {2, 2, 2}};
  E().Values = {u"1", u"1", u"7"};
  EXPECT_EQ(RunOnTable(), zfRecoverExitSuccess);
  const std::vector<TLine> expected = {
      {lpInfo, u"Trying to recover table " + Folder.File16("Log.dvl7")},
      {lpInfo, u"Recover operation completed."},
      {lpInfo, u"Out of 2 records 2 have been recovered and 0 have failed."},
      {lpInfo, u"Empty table Log_Failed has been deleted"},
      {lpInfo, u"Source table has been renamed to Log_Backup_" + kStamp},
      {lpInfo, u"Recovered table has been renamed to Log"},
      {lpInfo, kSuccess},
  };
  EXPECT_EQ(E().Lines, expected);
  const TJournal journal = {"recover Log",
                            "task freed",
                            "count Source",
                            "open Failed",
                            "open Recovered",
                            "option INSERT_OPTIONS_SETDEFAULT=False Recovered",
                            "close Failed",
                            "delete Failed",
                            "rename Log_Backup_" + rtl::u8(kStamp) + " Source",
                            "close Recovered",
                            "rename Log Recovered"};
  EXPECT_EQ(E().Journal, journal);
  EXPECT_EQ(E().AliasPath, rtl::u16((Folder.Path / "").string()));
  EXPECT_TRUE(Form().Boxes.empty());  // a parameter was given
  EXPECT_EQ(App->Ticks, 4);           // the first tick, then three polls
  EXPECT_EQ(Form().Bar.Max(), 10);
  EXPECT_EQ(Form().Bar.Position(), 10);
  EXPECT_EQ(Form().List.Value(2), u"7");
  EXPECT_EQ(Window->State(), rsEnding);
  EXPECT_FALSE(Form().Timer().Enabled());
  EXPECT_EQ(E().Flushes, 1);
  // Each line also went through the application, with its priority.
  ASSERT_EQ(App->Lines.size(), expected.size());
  EXPECT_EQ(App->Lines[2], u"INFO  Out of 2 records 2 have been recovered and 0 have failed.");
}

// Without parameters the file comes from the dialog and the boxed lines are shown; ticks during a
// box only refresh the statistics (the task is gone).
TEST_F(RecoverWindow, WithoutParametersTheDialogAsksAndBoxesShow) {
  E().Src.Records = E().Rec.Records = {{1, 1, 1}};
  Make({});
  Form().Dialog.Confirm = true;
  Form().Dialog.Answer = Folder.File16("Log.dvl7");
  int ticksInBoxes = 0, polls = 0;
  E().OnPoll = [&](int) { ++polls; };
  Form().WhileBoxOpen = [&] {
    E().Values = {u"9", u"9", u"9"};
    Form().Timer().OnTimer();
    ++ticksInBoxes;
  };
  EXPECT_EQ(Run(), zfRecoverExitSuccess);
  EXPECT_EQ(Form().Boxes, (std::vector<UnicodeString>{u"Out of 1 records 1 have been recovered and 0 have failed.", kSuccess}));
  EXPECT_EQ(ticksInBoxes, 2);
  EXPECT_EQ(Form().List.Value(0), u"9");
  // Three polls before the boxes; the ticks in the boxes asked nothing more, and the completion
  // pass ran once.
  EXPECT_EQ(polls, 3);
  EXPECT_EQ(std::count(E().Journal.begin(), E().Journal.end(), "rename Log Recovered"), 1);
}

// Failed records are copied back field by field (read-only fields skipped); one that cannot be
// posted is cancelled and not counted; the failed table keeps all and is renamed with the stamp.
TEST_F(RecoverWindow, FailedRecordsAreCopiedBack) {
  E().Src.Records = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}, {5, 5, 5}};
  E().Rec.Records = {{1, 1, 1}, {2, 2, 2}};
  E().Fail.Records = {{3, 30, 300}, {4, 40, 400}, {5, 50, 500}};
  E().Rec.ReadOnly = {false, true, false};
  E().Rec.RefusePost = [](const TFakeTable::TRecord& r) { return r[0] == 4; };
  EXPECT_EQ(RunOnTable(), zfRecoverExitSuccess);
  EXPECT_EQ(E().Rec.Records, (std::vector<TFakeTable::TRecord>{{1, 1, 1}, {2, 2, 2}, {3, -1, 300}, {5, -1, 500}}));
  EXPECT_EQ(E().Fail.Records.size(), 3u);
  const std::vector<TLine> expected = {
      {lpInfo, u"Trying to recover table " + Folder.File16("Log.dvl7")},
      {lpInfo, u"Recover operation completed."},
      {lpWarn, u"Out of 5 records 2 have been recovered and 3 have failed."},
      {lpInfo, u"2 failed records could be added back to recovered records."},
      {lpWarn, u"Failed table has been renamed to Log_Failed_" + kStamp},
      {lpInfo, u"Source table has been renamed to Log_Backup_" + kStamp},
      {lpInfo, u"Recovered table has been renamed to Log"},
      {lpInfo, kSuccess},
  };
  EXPECT_EQ(E().Lines, expected);
  EXPECT_EQ(std::count(E().Journal.begin(), E().Journal.end(), "cancel Recovered"), 1);
  EXPECT_NE(std::find(E().Journal.begin(), E().Journal.end(), "rename Log_Failed_" + rtl::u8(kStamp) + " Failed"),
            E().Journal.end());
  // The bar counted the failed records put in (stepped before each post).
  EXPECT_EQ(Form().Bar.Max(), 3);
  EXPECT_EQ(Form().Bar.Position(), 3);
}

// The counts line is INFO only when all records were recovered and none failed.
TEST_F(RecoverWindow, CountsLinePriority) {
  struct TCase {
    size_t S, R, F;
    TzfLogPriority Priority;
  } cases[] = {{3, 3, 0, lpInfo}, {0, 0, 0, lpInfo}, {3, 2, 0, lpWarn}, {3, 4, 0, lpWarn}, {3, 3, 1, lpWarn}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.S << " " << c.R << " " << c.F);
    Reset();
    E().Src.Records.assign(c.S, {1, 1, 1});
    E().Rec.Records.assign(c.R, {1, 1, 1});
    E().Fail.Records.assign(c.F, {2, 2, 2});
    EXPECT_EQ(RunOnTable(), zfRecoverExitSuccess);
    EXPECT_EQ(E().Lines.at(2),
              TLine(c.Priority, rtl::Format(u"Out of %d records %d have been recovered and %d have failed.",
                                            {int(c.S), int(c.R), int(c.F)})));
  }
}

// A damaged source that cannot be opened or counted: its count is unknown, and the recovered
// table still takes its name.
TEST_F(RecoverWindow, SourceThatCannotBeCountedDoesNotStopTheRenames) {
  for (bool openFails : {true, false}) {
    SCOPED_TRACE(openFails);
    Reset();
    E().Rec.Records = {{1, 1, 1}};
    (openFails ? E().Src.OpenError : E().Src.CountError) = zfErrKeyViol;
    EXPECT_EQ(RunOnTable(), zfRecoverExitSuccess);
    ASSERT_EQ(E().Lines.size(), 8u);
    EXPECT_EQ(E().Lines[2].first, lpWarn);
    EXPECT_EQ(E().Lines[2].second.rfind(u"Source table Log could not be counted: ZofrinDB: ", 0), 0u);
    EXPECT_EQ(E().Lines[3],
              TLine(lpWarn, u"Out of an unknown number of records 1 have been recovered and 0 have failed."));
    EXPECT_EQ(E().Lines[5], TLine(lpInfo, u"Source table has been renamed to Log_Backup_" + kStamp));
    EXPECT_EQ(E().Lines[6], TLine(lpInfo, u"Recovered table has been renamed to Log"));
    EXPECT_FALSE(E().Src.Active);
    EXPECT_EQ(E().Src.Name, u"Log_Backup_" + kStamp);
  }
}

// A task that ends with an error, and a status that cannot be read: logged, no table opened or
// renamed, the task freed, exit code 1. The message is the task's own text.
TEST_F(RecoverWindow, TaskFailureTakesTheErrorPath) {
  struct TCase {
    TFakeTask::TStep Last;
    const char16_t* Line;
  } cases[] = {
      {{true, 10, 6, zfErrFileLocked, u"Block 6 of Log.dvl7 is locked"},
       u"Recover operation terminated with error: ZofrinDB: Block 6 of Log.dvl7 is locked [$2805/10245]"},
      {{true, 10, 6, zfErrUpdateAborted, u""}, u"Recover operation terminated with error: ZofrinDB: Update aborted. [$3306/13062]"},
      {{false, 0, 0, 0, u"", zfErrFileLocked}, u"Task status could not be queried: ZofrinDB: status lost [$2805/10245]"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(rtl::u8(c.Line));
    Reset();
    E().Steps = {{false, 10, 2}, c.Last};
    for (bool withFile : {true, false}) {
      E().Journal.clear();
      E().Lines.clear();
      E().DbActive = false;
      Make(withFile ? std::vector<std::string>{Folder.File("Log.dvl7")} : std::vector<std::string>{});
      Form().Dialog.Confirm = true;
      Form().Dialog.Answer = Folder.File16("Log.dvl7");
      EXPECT_EQ(Run(), zfRecoverExitFailure);
      ASSERT_EQ(E().Lines.size(), 2u);
      EXPECT_EQ(E().Lines[1], TLine(lpError, c.Line));
      EXPECT_EQ(Form().Boxes, withFile ? std::vector<UnicodeString>{} : std::vector<UnicodeString>{c.Line});
      EXPECT_EQ(E().Journal, (TJournal{"recover Log", "task freed"}));
      EXPECT_FALSE(Window->TaskRunning());
      EXPECT_FALSE(Form().Timer().Enabled());
      EXPECT_EQ(App->Ticks, 3);
    }
  }
}

// Closing: refused while the task runs (which is cancelled, and the next tick ends the run through
// the error path), refused during the completion pass, accepted while waiting for the first tick.
TEST_F(RecoverWindow, CloseRequestsFollowTheState) {
  E().Steps = {{false, 100, 1}};
  Make({Folder.File("Log.dvl7")});
  std::vector<bool> answers;
  App->BeforeTick = [&](int aTick) {
    if (aTick == 2) answers.push_back(Form().CloseRequest());
  };
  EXPECT_EQ(Run(), zfRecoverExitFailure);
  EXPECT_EQ(answers, std::vector<bool>{false});
  EXPECT_EQ(E().Lines.back(), TLine(lpError, u"Recover operation terminated with error: ZofrinDB: Update aborted. [$3306/13062]"));
  EXPECT_EQ(E().Journal, (TJournal{"recover Log", "task cancel", "task freed"}));
  EXPECT_EQ(App->Ticks, 3);

  // Waiting: the close is accepted; nothing was started, so the run did not succeed, and one line
  // says so (a SIGINT or SIGTERM of a headless run before its first tick takes this road).
  Reset();
  Make({Folder.File("Log.dvl7")});
  App->BeforeTick = [&](int) { EXPECT_TRUE(Form().CloseRequest()); };
  EXPECT_EQ(Run(), zfRecoverExitFailure);
  EXPECT_TRUE(E().Journal.empty());
  EXPECT_EQ(E().Lines,
            (std::vector<TLine>{{lpError, u"Recover operation was cancelled before it started: nothing has been changed."}}));
  EXPECT_TRUE(Form().Boxes.empty());
  EXPECT_EQ(E().Flushes, 1);

  // Completion pass: a close during its first box is refused and the pass ends normally.
  Reset();
  E().Src.Records = E().Rec.Records = {{1, 1, 1}};
  Make({});
  Form().Dialog.Confirm = true;
  Form().Dialog.Answer = Folder.File16("Log.dvl7");
  answers.clear();
  Form().WhileBoxOpen = [&] {
    if (answers.empty()) answers.push_back(Form().CloseRequest());
  };
  EXPECT_EQ(Run(), zfRecoverExitSuccess);
  EXPECT_EQ(answers, std::vector<bool>{false});
  EXPECT_EQ(E().Lines.back(), TLine(lpInfo, kSuccess));
}

// A source the engine cannot rename because its dictionary or index header cannot be read has its
// files moved as the recovered table's dictionary names them, and the recovered table still takes
// its name.
TEST_F(RecoverWindow, SourceTheEngineCannotReadIsMovedByItsFiles) {
  for (const uint32_t code : {zfErrFileCorrupt, zfErrHeaderCorrupt, zfErrIndexCorrupt, zfErrNotAnIndexBlock,
                              zfErrNotAStreamBlock, zfErrCantOpenFile}) {
    SCOPED_TRACE(code);
    Reset();
    E().Src.Records = E().Rec.Records = {{1, 1, 1}};
    E().Src.RenameError = code;
    EXPECT_EQ(RunOnTable(), zfRecoverExitSuccess);
    EXPECT_EQ(E().Lines[4].first, lpWarn);
    EXPECT_EQ(E().Lines[4].second.rfind(u"Source table Log could not be renamed by the engine: ZofrinDB: ", 0), 0u);
    EXPECT_EQ(E().Lines[5], TLine(lpInfo, u"Source table has been renamed to Log_Backup_" + kStamp));
    EXPECT_EQ(E().Lines[6], TLine(lpInfo, u"Recovered table has been renamed to Log"));
    const std::string backup = "Log_Backup_" + rtl::u8(kStamp);
    const TJournal tail = {"rename " + backup + " Source", "move Log " + backup + " as Log_Recovered",
                           "close Recovered", "rename Log Recovered"};
    EXPECT_EQ(TJournal(E().Journal.end() - 4, E().Journal.end()), tail);
    EXPECT_EQ(E().Src.Name, UnicodeString(u"Log_Backup_") + kStamp);
  }
}

// Any other refusal of the source's rename (the files held by another process, the backup name
// taken, a file-system refusal, ...) moves nothing: the error is logged, the source stays under
// its name and the recovered table under its working name, the log says where each table is, and
// the run ends with exit code 1.
TEST_F(RecoverWindow, SourceRenameRefusedForAnyOtherReasonTakesTheErrorPath) {
  struct TCase {
    uint32_t Code;
    bool Failed;  // records failed: the failed table is kept (stamped) rather than deleted
  } cases[] = {{zfErrFileLocked, false}, {zfErrFileLocked, true}, {zfErrTableExists, false},
               {zfErrFileRenameFailed, false}, {zfErrNoSuchTable, false}, {zfErrReadOnlyDb, true},
               {zfErrTableOpen, false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Code << " " << c.Failed);
    for (bool withFile : {true, false}) {
      Reset();
      E().Src.Records = {{1, 1, 1}, {2, 2, 2}};
      E().Rec.Records = {{1, 1, 1}};
      if (c.Failed) E().Fail.Records = {{2, 2, 2}};
      E().Src.RenameError = c.Code;
      E().Rec.RefusePost = [](const TFakeTable::TRecord&) { return true; };
      Make(withFile ? std::vector<std::string>{Folder.File("Log.dvl7")} : std::vector<std::string>{});
      Form().Dialog.Confirm = true;
      Form().Dialog.Answer = Folder.File16("Log.dvl7");
      EXPECT_EQ(Run(), zfRecoverExitFailure);
      const UnicodeString error =
          u"Finalization of recover operation could not be completed: " + EzfBaseException(c.Code).Message();
      const UnicodeString failedName = u"Log_Failed_" + kStamp;
      std::vector<TLine> tail = {
          {lpError, error},
          {lpWarn, u"The source table is kept as Log"},
          {lpWarn, u"The recovered table is kept as Log_Recovered"},
      };
      if (c.Failed) tail.push_back({lpWarn, u"The failed table is kept as " + failedName});
      ASSERT_GE(E().Lines.size(), tail.size());
      EXPECT_EQ(std::vector<TLine>(E().Lines.end() - std::ptrdiff_t(tail.size()), E().Lines.end()), tail);
      for (const TLine& l : E().Lines) EXPECT_NE(l.second, kSuccess);
      for (const std::string& j : E().Journal) EXPECT_NE(j.rfind("move ", 0), 0u) << j;
      EXPECT_EQ(std::find(E().Journal.begin(), E().Journal.end(), "rename Log Recovered"), E().Journal.end());
      EXPECT_EQ(E().Src.Name, u"Log");
      EXPECT_EQ(E().Rec.Name, u"Log_Recovered");
      EXPECT_EQ(E().Fail.Name, c.Failed ? failedName : UnicodeString(u"Log_Failed"));
      // Without parameters only the error itself is boxed.
      std::vector<UnicodeString> boxes = Form().Boxes;
      if (!withFile) {
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back(), error);
      } else {
        EXPECT_TRUE(boxes.empty());
      }
    }
  }
}

// A failure in the completion pass is logged; the steps already done stay done.
TEST_F(RecoverWindow, FinalisationFailureKeepsWhatWasDone) {
  E().Src.Records = {{1, 1, 1}, {2, 2, 2}};
  E().Rec.Records = {{1, 1, 1}};
  E().Fail.Records = {{2, 2, 2}};
  E().Src.RenameError = zfErrFileCorrupt;
  E().MoveError = zfErrTableExists;
  EXPECT_EQ(RunOnTable(), zfRecoverExitFailure);
  ASSERT_GE(E().Lines.size(), 4u);
  const auto error = E().Lines.end() - 4;
  EXPECT_EQ(error->first, lpError);
  EXPECT_EQ(error->second.rfind(u"Finalization of recover operation could not be completed: ZofrinDB: ", 0), 0u);
  EXPECT_EQ(std::vector<TLine>(error + 1, E().Lines.end()),
            (std::vector<TLine>{{lpWarn, u"The source table is kept as Log"},
                                {lpWarn, u"The recovered table is kept as Log_Recovered"},
                                {lpWarn, u"The failed table is kept as Log_Failed_" + kStamp}}));
  EXPECT_EQ(E().Fail.Name, u"Log_Failed_" + kStamp);
  EXPECT_EQ(E().Src.Name, u"Log");
  EXPECT_EQ(E().Rec.Name, u"Log_Recovered");
  EXPECT_EQ(E().Rec.Records.size(), 2u);
  EXPECT_EQ(std::find(E().Journal.begin(), E().Journal.end(), "rename Log Recovered"), E().Journal.end());
  EXPECT_EQ(Window->State(), rsEnding);
  EXPECT_FALSE(Form().Timer().Enabled());
}

// The progress bar follows the task's blocks read of all blocks, tick by tick.
TEST_F(RecoverWindow, ProgressBarFollowsTheStatus) {
  E().Steps = {{false, 40, 0}, {false, 40, 13}, {false, 40, 40}, {true, 40, 40}};
  Make({Folder.File("Log.dvl7")});
  std::vector<std::pair<int32_t, int32_t>> seen;
  App->BeforeTick = [&](int aTick) {
    if (aTick >= 2) seen.push_back({Form().Bar.Position(), Form().Bar.Max()});
  };
  EXPECT_EQ(Run(), zfRecoverExitSuccess);
  EXPECT_EQ(seen, (std::vector<std::pair<int32_t, int32_t>>{{0, 40}, {13, 40}, {40, 40}}));
}

// Headless the first tick is brought forward at once; a window waits its whole first interval.
TEST_F(RecoverWindow, HeadlessTheFirstTickComesAtOnce) {
  for (const bool headless : {false, true}) {
    SCOPED_TRACE(headless ? "headless" : "window");
    Make({Folder.File("Log.dvl7")}, headless);
    EXPECT_TRUE(Form().Timer().Enabled());
    EXPECT_EQ(Form().Timer().TicksBroughtForward.load(), headless ? 1 : 0);
    EXPECT_EQ(Run(), zfRecoverExitSuccess);
    Reset();
  }
}

// The task's end brings the next tick forward; the window still learns of the end by polling.
TEST_F(RecoverWindow, TheTaskEndBringsTheNextTickForward) {
  E().Steps = {{false, 40, 13}, {true, 40, 40}};
  Make({Folder.File("Log.dvl7")});
  int polls = -1;
  App->BeforeTick = [&](int aTick) {
    if (aTick != 1) return;
    ASSERT_NE(E().Task, nullptr);
    ASSERT_TRUE(E().Task->OnFinished) << "the task was started without the hook";
    EXPECT_EQ(Form().Timer().TicksBroughtForward.load(), 0);
    E().Task->OnFinished();
    EXPECT_EQ(Form().Timer().TicksBroughtForward.load(), 1);
    polls = E().Task->Polls;
  };
  EXPECT_EQ(Run(), zfRecoverExitSuccess);
  EXPECT_EQ(polls, 0) << "the hook itself must not poll";
}

}  // namespace
}  // namespace zf::test
