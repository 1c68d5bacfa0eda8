#include "tool/frmRecoverMain.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <filesystem>
#include <system_error>

#include "foundation/zflgEventLog.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "platform/os/osSystem.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlFormat.h"

namespace zf {

namespace {

// The message of the exception being handled (inside a catch block).
UnicodeString CurrentMessage() {
  try {
    throw;
  } catch (const rtl::Exception& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return rtl::u16(e.what());
  } catch (...) {
    return u"Unknown exception";
  }
}

// The engine code of the exception being handled (inside a catch block); 0 when it carries none.
uint32_t CurrentCode() {
  try {
    throw;
  } catch (const std::exception& e) {
    if (const auto* b = dynamic_cast<const IzfBaseException*>(&e)) return b->GetErrorCode();
  } catch (...) {
  }
  return 0;
}

// Whether an engine refusal says the table's stored structures cannot be read (its file header,
// dictionary or index header is damaged or unreadable): only then may the tool move a table's
// files itself. Locks, existing names, missing tables and file-system refusals are no such case.
bool IsUnreadableTableCode(uint32_t aCode) {
  if (aCode <= UINT16_MAX && zfErrorCategory(static_cast<uint16_t>(aCode)) == zfErrCatCorruption) return true;
  switch (aCode) {
    case zfErrReadErr:
    case zfErrCantOpenFile:
    case zfErrInvalidRecStruct:
    case zfErrInvalidDesc:
    case zfErrInvalidIndexStruct:
    case zfErrFileInvalidData:
    case zfErrBlockNumberOutOfRange:
    case zfErrNotADataBlock:
    case zfErrNotAHeapBlock:
    case zfErrNotAStreamBlock:
    case zfErrNotAnIndexBlock:
    case zfErrIndexNumberOutOfRange:
    case zfErrIncompatibleStream:
    case zfErrUnsupportedDescriptor:
      return true;
    default:
      return false;
  }
}

int32_t ToBarValue(uint32_t aValue) { return aValue > INT32_MAX ? INT32_MAX : static_cast<int32_t>(aValue); }

// The first parameter as a full path, ".." and "." resolved; empty stays empty.
UnicodeString ExpandFileName(const std::string& aName) {
  if (aName.empty()) return {};
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(aName, ec);
  if (ec) p = aName;
  return rtl::u16(p.lexically_normal().string());
}

// The real file a name stands for, every symbolic link on its way resolved, so that the tables are
// made and renamed beside the file itself rather than beside a link to it (a link then names the
// recovered table); a name that does not resolve stays as it is.
UnicodeString ResolveLinks(const UnicodeString& aName) {
  if (aName.empty()) return aName;
  std::error_code ec;
  const std::filesystem::path real = std::filesystem::canonical(rtl::u8(aName), ec);
  return ec ? aName : rtl::u16(real.string());
}

// A BeginUpdate/EndUpdate pair of a list around a scope.
class TListUpdate {
 public:
  explicit TListUpdate(gui::TListView& aList) : FList(aList) { FList.BeginUpdate(); }
  ~TListUpdate() { FList.EndUpdate(); }
  TListUpdate(const TListUpdate&) = delete;
  TListUpdate& operator=(const TListUpdate&) = delete;

 private:
  gui::TListView& FList;
};

bool FileExists(const UnicodeString& aName) {
  if (aName.empty()) return false;
  std::error_code ec;
  return std::filesystem::is_regular_file(rtl::u8(aName), ec);
}

}  // namespace

gui::TFormResource zfRecoverFormResource() {
  gui::TFormResource r;
  r.Caption = u"zfRecover";
  r.ClientWidth = 744;
  r.ClientHeight = 572;
  r.Columns = {u"Name", u"Value"};
  r.TimerInterval = 1000;
  r.DialogFilter = u"Dravolt 7 Log File (*.dvl7)|*.dvl7";
  r.DialogDefaultExt = zfRecoverTableExtension;
  return r;
}

UnicodeString TfrmMain::ProgramPath() { return rtl::u16(os::ProcessPath()); }

TfrmMain::TfrmMain(gui::TApplication& aApp, TzfRecoverEngine& aEngine, const gui::TFormResource& aResource)
    : FApp(aApp), FEngine(aEngine), FForm(aApp.CreateForm(aResource)) {
  FForm.OnCloseQuery = [this](bool& aCanClose) { FormCloseQuery(aCanClose); };
  FForm.OnDestroy = [this] { FormDestroy(); };
  FForm.Timer().OnTimer = [this] { tmrUpdateTimer(); };
  FormCreate();
}

TfrmMain::~TfrmMain() {
  FForm.OnCloseQuery = nullptr;
  FForm.OnDestroy = nullptr;
  FForm.Timer().OnTimer = nullptr;
}

void TfrmMain::Log(TzfLogPriority aPriority, const UnicodeString& aText, bool aBox) {
  try {
    FEngine.Log(aPriority, aText);
  } catch (...) {
    // The log's own failure must not hide the step it reports: the line still goes out below.
  }
  FApp.LogLine(TzfBaseLogDataFormatter::PriorityToStr(aPriority) + u" " + aText);
  if (aBox && FApp.Params().empty()) FForm.ShowMessage(aText);
}

void TfrmMain::End(int aExitCode) {
  FForm.Timer().SetEnabled(false);
  FExitCode = aExitCode;
  FState = rsEnding;
  FForm.Release();
}

void TfrmMain::FormCreate() {
  try {
    FEngine.SetLogFileName(rtl::ChangeFileExt(ProgramPath(), u"") + u"Event.log");
    FEngine.Start();
    PrepareStats();
    RefreshStats();
  } catch (...) {
    Log(lpError, rtl::Format(u"Server engine could not be started: %s", {CurrentMessage()}), true);
    End(zfRecoverExitFailure);
    return;
  }
  FState = rsWaiting;
  FForm.Timer().SetEnabled(true);
  // Headless there is no window to show before the work starts: the first tick comes at once.
  // A window keeps its whole first interval.
  if (FApp.Headless()) FForm.Timer().TickSoon();
}

void TfrmMain::FormCloseQuery(bool& aCanClose) {
  aCanClose = FTask == nullptr && FState != rsFinalising;
  if (FTask) FTask->Cancel();
  if (aCanClose && FState == rsWaiting) {
    // Closed (or interrupted) before the first tick: no table was touched.
    Log(lpError, u"Recover operation was cancelled before it started: nothing has been changed.", false);
    FForm.Timer().SetEnabled(false);
    FExitCode = zfRecoverExitFailure;
    FState = rsEnding;
  }
}

void TfrmMain::FormDestroy() {
  FState = rsEnding;
  FEngine.FlushLog();
  FApp.SetExitCode(FExitCode);
}

void TfrmMain::PrepareStats() {
  gui::TListView& list = FForm.ListView();
  const TListUpdate update(list);
  list.Clear();
  std::vector<UnicodeString> captions;
  FEngine.GetStatsCaptions(captions);
  for (const UnicodeString& c : captions) list.AddItem(c);
}

void TfrmMain::RefreshStats() {
  gui::TListView& list = FForm.ListView();
  const TListUpdate update(list);
  std::vector<UnicodeString> values;
  FEngine.GetStatsCaptions(values);
  if (static_cast<int32_t>(values.size()) != list.Count()) {
    PrepareStats();
    return;
  }
  values.clear();
  FEngine.GetStatsValues(values);
  // A value list shorter than the rows leaves the rest as they are.
  const int32_t n = std::min<int32_t>(list.Count(), static_cast<int32_t>(values.size()));
  for (int32_t k = 0; k < n; ++k) list.SetValue(k, values[static_cast<size_t>(k)]);
}

void TfrmMain::tmrUpdateTimer() {
  if (FState == rsEnding) return;
  if (!FEngine.DatabaseActive()) FirstTick();
  else PollingTick();
}

void TfrmMain::FirstTick() {
  FForm.Timer().SetEnabled(false);
  UnicodeString fileName;
  if (!FApp.Params().empty()) fileName = ExpandFileName(FApp.Params().front());
  else if (FForm.OpenDialog().Execute()) fileName = FForm.OpenDialog().FileName();
  fileName = ResolveLinks(fileName);

  if (!FileExists(fileName)) {
    Log(lpError, rtl::Format(u"Table \"%s\" can not be found.", {fileName}), true);
    End(zfRecoverExitNoTable);
    return;
  }
  // The engine opens the table by its name with its own extension: a file of another extension
  // would have another file of the folder recovered in its place.
  if (rtl::ExtractFileExt(fileName) != UnicodeString(u".") + zfRecoverTableExtension) {
    Log(lpError,
        rtl::Format(u"Table \"%s\" can not be recovered: its extension is not \"%s\".",
                    {fileName, zfRecoverTableExtension}),
        true);
    End(zfRecoverExitNoTable);
    return;
  }

  Log(lpInfo, rtl::Format(u"Trying to recover table %s", {fileName}), false);
  const UnicodeString name = rtl::ChangeFileExt(rtl::ExtractFileName(fileName), u"");
  try {
    FEngine.OpenDatabase(rtl::ExtractFilePath(fileName));
    FEngine.Source().SetTableName(name);
    FEngine.Failed().SetTableName(name + u"_Failed");
    FEngine.Recovered().SetTableName(name + u"_Recovered");
    FTask = FEngine.RecoverTable(FEngine.Source().TableName(), u"");
  } catch (...) {
    Log(lpError, rtl::Format(u"Recover operation could not be initiated: %s", {CurrentMessage()}), true);
    // A start that failed made no table (the engine deletes what it built) and changed none.
    Log(lpWarn, rtl::Format(u"The source table is kept as %s", {name}), false);
    End(zfRecoverExitFailure);
    return;
  }
  FForm.SetCaption(u"zfRecover - " + fileName);
  FState = rsRunning;
  FForm.Timer().SetEnabled(true);
  // The end of the task brings the next tick forward, so the completion pass need not wait for
  // the rest of an interval; the polling itself stays with the ticks.
  gui::TTimer& timer = FForm.Timer();
  FTask->SetOnFinished([&timer] { timer.TickSoon(); });
}

void TfrmMain::PollingTick() {
  RefreshStats();
  // No task: a tick while a box of the completion pass is open.
  if (!FTask) return;
  bool completed = false;
  TzfTaskStatus status;
  try {
    zfRaiseIfError(FTask->GetStatus(completed, status));
  } catch (...) {
    FForm.Timer().SetEnabled(false);
    Log(lpError, rtl::Format(u"Task status could not be queried: %s", {CurrentMessage()}), true);
    FTask.reset();
    End(zfRecoverExitFailure);
    return;
  }
  FForm.ProgressBar().SetMax(ToBarValue(status.tsTotalRecs));
  FForm.ProgressBar().SetPosition(ToBarValue(status.tsRecsRead));
  if (!completed) return;
  CompletionPass(status);
}

void TfrmMain::CompletionPass(const TzfTaskStatus& aStatus) {
  try {
    zfRaiseIfError(aStatus.tsErrorCode);
  } catch (...) {
    FForm.Timer().SetEnabled(false);
    Log(lpError, rtl::Format(u"Recover operation terminated with error: %s", {CurrentMessage()}), true);
    FTask.reset();
    End(zfRecoverExitFailure);
    return;
  }
  FTask.reset();
  FState = rsFinalising;
  Log(lpInfo, u"Recover operation completed.", false);
  try {
    Finalize();
  } catch (...) {
    FForm.Timer().SetEnabled(false);
    Log(lpError, rtl::Format(u"Finalization of recover operation could not be completed: %s", {CurrentMessage()}),
        true);
    LogWhereTablesAre();
    End(zfRecoverExitFailure);
    return;
  }
  Log(lpInfo, u"Recover operation has been finalized successfully. Terminating...", true);
  End(zfRecoverExitSuccess);
}

void TfrmMain::LogWhereTablesAre() {
  try {
    Log(lpWarn, rtl::Format(u"The source table is kept as %s", {FEngine.Source().TableName()}), false);
    Log(lpWarn, rtl::Format(u"The recovered table is kept as %s", {FEngine.Recovered().TableName()}), false);
    if (!FFailedDeleted)
      Log(lpWarn, rtl::Format(u"The failed table is kept as %s", {FEngine.Failed().TableName()}), false);
  } catch (...) {
    // A name that cannot be told must not hide the failure already logged.
  }
}

void TfrmMain::Finalize() {
  TzfRecoverTable& source = FEngine.Source();
  TzfRecoverTable& failed = FEngine.Failed();
  TzfRecoverTable& recovered = FEngine.Recovered();

  // The source is damaged: it is counted in storage order, so that none of its indexes is needed;
  // when it cannot be opened or counted at all its count is unknown, and the recovered table
  // still takes its place.
  bool sourceCounted = false;
  int32_t s = 0;
  try {
    s = source.CountInStorageOrder();
    sourceCounted = true;
  } catch (...) {
    Log(lpWarn, rtl::Format(u"Source table %s could not be counted: %s", {source.TableName(), CurrentMessage()}),
        false);
  }
  failed.Open();
  recovered.Open();
  // Records put back from the failed table keep what they hold: no default values on insert.
  recovered.SetCursorOption(u"INSERT_OPTIONS_SETDEFAULT", u"False");
  const int32_t r = recovered.RecordCount();
  const int32_t f = failed.RecordCount();
  if (sourceCounted)
    Log(r == s && f <= 0 ? lpInfo : lpWarn,
        rtl::Format(u"Out of %d records %d have been recovered and %d have failed.", {s, r, f}), true);
  else
    Log(lpWarn, rtl::Format(u"Out of an unknown number of records %d have been recovered and %d have failed.", {r, f}),
        true);

  const UnicodeString stamp = rtl::FormatDateTime(u"yyyy_mm_dd_hh_nn_ss", Now());
  const UnicodeString n = source.TableName();

  if (!failed.IsEmpty()) {
    gui::TProgressBar& bar = FForm.ProgressBar();
    bar.SetPosition(0);
    bar.SetMax(failed.RecordCount());
    int32_t i = 0;
    failed.First();
    while (!failed.Eof()) {
      recovered.Insert();
      try {
        const int32_t fields = failed.FieldCount();
        for (int32_t k = 0; k < fields; ++k)
          if (!recovered.FieldReadOnly(k)) recovered.AssignField(k, failed);
        bar.StepIt();
        recovered.Post();
        ++i;
      } catch (...) {
        recovered.Cancel();
      }
      failed.Next();
    }
    Log(lpInfo, rtl::Format(u"%d failed records could be added back to recovered records.", {i}), true);
    failed.Close();
    failed.RenameTable(failed.TableName() + u"_" + stamp);
    Log(lpWarn, rtl::Format(u"Failed table has been renamed to %s", {failed.TableName()}), false);
  } else {
    failed.Close();
    failed.DeleteTable();
    FFailedDeleted = true;
    Log(lpInfo, rtl::Format(u"Empty table %s has been deleted", {failed.TableName()}), false);
  }

  source.Close();
  const UnicodeString backup = n + u"_Backup_" + stamp;
  try {
    source.RenameTable(backup);
  } catch (...) {
    // The engine renames a table through its dictionary and opens its indexes, which a damaged
    // source may not give: only then are its files moved as the recovered table's dictionary (the
    // source's) names them, so that the recovered table can still take the name. Any other
    // refusal (the files held by another process, the new name taken, ...) ends the pass with
    // every table where it is.
    if (!IsUnreadableTableCode(CurrentCode())) throw;
    Log(lpWarn, rtl::Format(u"Source table %s could not be renamed by the engine: %s", {n, CurrentMessage()}), false);
    FEngine.MoveTableFiles(n, backup, recovered.TableName());
    source.SetTableName(backup);
  }
  Log(lpInfo, rtl::Format(u"Source table has been renamed to %s", {source.TableName()}), false);

  recovered.Close();
  recovered.RenameTable(n);
  Log(lpInfo, rtl::Format(u"Recovered table has been renamed to %s", {n}), false);
}

}  // namespace zf
