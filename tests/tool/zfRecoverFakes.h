// Fakes for the recovery tool's window tests: an application and a form that record what the
// window shows (rows, bar, caption, boxes, log lines), and an engine whose database, task and
// tables are scripted and journal every call, so no table file is needed.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "platform/gui/guiForms.h"
#include "platform/rtl/rtlException.h"
#include "tool/zfRecoverEngine.h"

namespace zf::test {

// The engine calls in order, e.g. "open Source", "rename Failed Log_Failed_2026_...".
using TJournal = std::vector<std::string>;

class TFakeListView final : public gui::TListView {
 public:
  void BeginUpdate() override { ++Depth; }
  void EndUpdate() override { --Depth; }
  void Clear() override { Rows.clear(); }
  void AddItem(const UnicodeString& aCaption) override { Rows.push_back({aCaption, u""}); }
  void SetValue(int32_t aRow, const UnicodeString& aValue) override { Rows.at(size_t(aRow)).second = aValue; }
  int32_t Count() const override { return int32_t(Rows.size()); }
  UnicodeString Caption(int32_t aRow) const override { return Rows.at(size_t(aRow)).first; }
  UnicodeString Value(int32_t aRow) const override { return Rows.at(size_t(aRow)).second; }

  std::vector<std::pair<UnicodeString, UnicodeString>> Rows;
  int Depth = 0;  // BeginUpdate nesting: 0 whenever a handler has returned
};

class TFakeProgressBar final : public gui::TProgressBar {
 protected:
  void Changed() override {}
};

class TFakeTimer final : public gui::TTimer {
 public:
  void SetEnabled(bool aEnabled) override { FEnabled = aEnabled; }
  bool Enabled() const override { return FEnabled; }
  void TickSoon() override { ++TicksBroughtForward; }
  std::atomic<int> TicksBroughtForward{0};

 private:
  bool FEnabled = false;
};

class TFakeOpenDialog final : public gui::TOpenDialog {
 public:
  bool Execute() override {
    ++Calls;
    FFileName = Confirm ? Answer : UnicodeString();
    return Confirm;
  }
  bool Confirm = false;
  UnicodeString Answer;
  int Calls = 0;
};

class TFakeForm final : public gui::TForm {
 public:
  explicit TFakeForm(const gui::TFormResource& aResource) : Resource(aResource), FCaption(aResource.Caption) {}
  void SetCaption(const UnicodeString& aCaption) override { FCaption = aCaption; }
  UnicodeString Caption() const override { return FCaption; }
  TFakeListView& ListView() override { return List; }
  TFakeProgressBar& ProgressBar() override { return Bar; }
  TFakeTimer& Timer() override { return FTimer; }
  TFakeOpenDialog& OpenDialog() override { return Dialog; }
  void ShowMessage(const UnicodeString& aText) override {
    Boxes.push_back(aText);
    // A modal box runs a message loop: the timer's ticks arrive meanwhile.
    if (WhileBoxOpen) WhileBoxOpen();
  }
  void Release() override { FReleased = true; }
  bool Released() const override { return FReleased; }
  // A close request as the window's close button makes it.
  bool CloseRequest() {
    bool canClose = true;
    if (OnCloseQuery) OnCloseQuery(canClose);
    if (canClose) Release();
    return canClose;
  }

  gui::TFormResource Resource;
  TFakeListView List;
  TFakeProgressBar Bar;
  TFakeOpenDialog Dialog;
  std::vector<UnicodeString> Boxes;
  std::function<void()> WhileBoxOpen;

 private:
  UnicodeString FCaption;
  TFakeTimer FTimer;
  bool FReleased = false;
};

class TFakeApp final : public gui::TApplication {
 public:
  explicit TFakeApp(std::vector<std::string> aParams) : TApplication(std::move(aParams)) {}
  TFakeForm& CreateForm(const gui::TFormResource& aResource) override {
    Form = std::make_unique<TFakeForm>(aResource);
    return *Form;
  }
  // Ticks the timer until the form is released (BeforeTick may send a close request first), then
  // destroys the form. A loop that could never end fails the test.
  int Run() override {
    for (Ticks = 0; !Form->Released(); ++Ticks) {
      if (BeforeTick) BeforeTick(Ticks);
      if (Form->Released()) break;
      if (!Form->Timer().Enabled() || Ticks > 1000) {
        ADD_FAILURE() << "the event loop would never end";
        return -1;
      }
      Form->Timer().OnTimer();
      EXPECT_EQ(Form->List.Depth, 0);
    }
    if (Form->OnDestroy) Form->OnDestroy();
    return ExitCode();
  }
  void LogLine(const UnicodeString& aLine) override { Lines.push_back(aLine); }
  bool Headless() const override { return IsHeadless; }

  bool IsHeadless = false;
  std::unique_ptr<TFakeForm> Form;
  std::vector<UnicodeString> Lines;
  std::function<void(int aTick)> BeforeTick;
  int Ticks = 0;
};

// A task whose statuses are played in order (the last repeats). A cancel makes the status final at
// once with 13062, as the engine's task does.
class TFakeTask final : public TzfRecoverTask {
 public:
  struct TStep {
    TStep(bool aCompleted = false, uint32_t aTotal = 0, uint32_t aRead = 0, uint32_t aErrorCode = 0,
          UnicodeString aErrorMessage = {}, uint32_t aAnswer = 0)
        : Completed(aCompleted), Total(aTotal), Read(aRead), ErrorCode(aErrorCode),
          ErrorMessage(std::move(aErrorMessage)), Answer(aAnswer) {}
    bool Completed;
    uint32_t Total, Read, ErrorCode;
    UnicodeString ErrorMessage;
    uint32_t Answer;  // GetStatus's own result
  };
  TFakeTask(TJournal& aJournal, std::vector<TStep> aSteps) : Steps(std::move(aSteps)), FJournal(aJournal) {}
  ~TFakeTask() override { FJournal.push_back("task freed"); }

  uint32_t GetStatus(bool& aCompleted, TzfTaskStatus& aStatus) override {
    ++Polls;
    if (OnPoll) OnPoll(Polls);
    TStep s = Steps.at(std::min(Next, Steps.size() - 1));
    ++Next;
    if (Cancelled) s = TStep(true, s.Total, s.Read, zfErrUpdateAborted);
    if (s.Answer != 0) {
      EzfBaseException::SetLastConvertedException(s.Answer, u"status lost");
      return s.Answer;
    }
    aCompleted = s.Completed;
    aStatus.tsTotalRecs = s.Total;
    aStatus.tsRecsRead = s.Read;
    aStatus.tsErrorCode = s.ErrorCode;
    aStatus.tsErrorMessage = s.ErrorMessage;
    aStatus.tsFinished = s.Completed;
    if (s.ErrorCode != 0) EzfBaseException::SetLastConvertedException(s.ErrorCode, s.ErrorMessage);
    return 0;
  }
  uint32_t Cancel() override {
    FJournal.push_back("task cancel");
    Cancelled = true;
    return 0;
  }
  void SetOnFinished(std::function<void()> aProc) override { OnFinished = std::move(aProc); }

  std::vector<TStep> Steps;
  std::function<void()> OnFinished;  // as the window left it
  size_t Next = 0;
  int Polls = 0;
  bool Cancelled = false;
  std::function<void(int aPoll)> OnPoll;
  TJournal& FJournal;
};

// A table of integer fields. The recovered table's new records start with -1 in every field, so a
// skipped read-only field shows.
class TFakeTable final : public TzfRecoverTable {
 public:
  using TRecord = std::vector<int>;
  TFakeTable(const char* aRole, TJournal& aJournal) : FRole(aRole), FJournal(aJournal) {}

  UnicodeString TableName() const override { return Name; }
  void SetTableName(const UnicodeString& aName) override { Name = aName; }
  void Open() override {
    Note("open");
    if (OpenError) throw EzfBaseException(OpenError);
    Active = true;
    Pos = 0;
  }
  void Close() override {
    if (Active) Note("close");
    Active = false;
  }
  void SetCursorOption(const UnicodeString& aName, const UnicodeString& aValue) override {
    RequireActive();
    Note("option " + rtl::u8(aName) + "=" + rtl::u8(aValue));
  }
  int32_t RecordCount() override {
    RequireActive();
    if (CountError) throw EzfBaseException(CountError);
    return int32_t(Records.size());
  }
  int32_t CountInStorageOrder() override {
    if (Active) throw rtl::Exception(u"count of an open table");
    Note("count");
    if (OpenError) throw EzfBaseException(OpenError);
    if (CountError) throw EzfBaseException(CountError);
    return int32_t(Records.size());
  }
  bool IsEmpty() override {
    RequireActive();
    return Records.empty();
  }
  void First() override { Pos = 0; }
  void Next() override { ++Pos; }
  bool Eof() override { return Pos >= Records.size(); }
  void Insert() override {
    RequireActive();
    Buffer.assign(size_t(Fields), -1);
    Inserting = true;
  }
  void Post() override {
    if (!Inserting) throw rtl::Exception(u"not in insert state");
    if (RefusePost && RefusePost(Buffer)) throw EzfBaseException(zfErrKeyViol);
    Records.push_back(Buffer);
    Inserting = false;
  }
  void Cancel() override {
    Note("cancel");
    Inserting = false;
  }
  int32_t FieldCount() override { return Fields; }
  bool FieldReadOnly(int32_t aIndex) override { return aIndex < int32_t(ReadOnly.size()) && ReadOnly[size_t(aIndex)]; }
  void AssignField(int32_t aIndex, TzfRecoverTable& aSource) override {
    auto& src = static_cast<TFakeTable&>(aSource);
    Buffer.at(size_t(aIndex)) = src.Records.at(src.Pos).at(size_t(aIndex));
  }
  void RenameTable(const UnicodeString& aNewName) override {
    if (Active) throw rtl::Exception(u"rename of an open table");
    Note("rename " + rtl::u8(aNewName));
    if (RenameError) throw EzfBaseException(RenameError);
    Name = aNewName;
  }
  void DeleteTable() override {
    if (Active) throw rtl::Exception(u"delete of an open table");
    Note("delete");
  }

  UnicodeString Name;
  bool Active = false;
  int32_t Fields = 3;
  std::vector<TRecord> Records;
  std::vector<bool> ReadOnly;
  std::function<bool(const TRecord&)> RefusePost;
  uint32_t OpenError = 0, CountError = 0, RenameError = 0;
  TRecord Buffer;
  bool Inserting = false;
  size_t Pos = 0;

 private:
  void Note(const std::string& aWhat) { FJournal.push_back(aWhat + " " + FRole); }
  void RequireActive() const {
    if (!Active) throw rtl::Exception(u"table not open");
  }
  std::string FRole;
  TJournal& FJournal;
};

class TFakeEngine final : public TzfRecoverEngine {
 public:
  void SetLogFileName(const UnicodeString& aFileName) override { LogFileName = aFileName; }
  void Start() override {
    if (StartError) throw EzfBaseException(StartError);
    Started = true;
  }
  void GetStatsCaptions(std::vector<UnicodeString>& aList) override { aList = Captions; }
  void GetStatsValues(std::vector<UnicodeString>& aList) override { aList = Values; }
  bool DatabaseActive() override { return DbActive; }
  void OpenDatabase(const UnicodeString& aAliasPath) override {
    AliasPath = aAliasPath;
    if (OpenDbError) throw EzfBaseException(OpenDbError);
    DbActive = true;
  }
  std::unique_ptr<TzfRecoverTask> RecoverTable(const UnicodeString& aTableName,
                                               const UnicodeString& aPassword) override {
    Journal.push_back("recover " + rtl::u8(aTableName));
    if (RecoverError) throw EzfBaseException(RecoverError);
    auto t = std::make_unique<TFakeTask>(Journal, Steps);
    t->OnPoll = OnPoll;
    Task = t.get();
    return t;
  }
  void MoveTableFiles(const UnicodeString& aOldName, const UnicodeString& aNewName,
                      const UnicodeString& aLayoutTable) override {
    Journal.push_back("move " + rtl::u8(aOldName) + " " + rtl::u8(aNewName) + " as " + rtl::u8(aLayoutTable));
    if (MoveError) throw EzfBaseException(MoveError);
  }
  TFakeTable& Source() override { return Src; }
  TFakeTable& Failed() override { return Fail; }
  TFakeTable& Recovered() override { return Rec; }
  void Log(TzfLogPriority aPriority, const UnicodeString& aText) override { Lines.push_back({aPriority, aText}); }
  void FlushLog() override { ++Flushes; }

  TJournal Journal;
  TFakeTable Src{"Source", Journal}, Fail{"Failed", Journal}, Rec{"Recovered", Journal};
  std::vector<UnicodeString> Captions{u"Sessions", u"Databases", u"Blocks read"};
  std::vector<UnicodeString> Values{u"1", u"2", u"30"};
  std::vector<TFakeTask::TStep> Steps{{false, 10, 0}, {false, 10, 4}, {true, 10, 10}};
  TFakeTask* Task = nullptr;  // the last task made (owned by the window)
  std::function<void(int aPoll)> OnPoll;  // handed to the tasks made
  uint32_t StartError = 0, OpenDbError = 0, RecoverError = 0, MoveError = 0;
  bool Started = false, DbActive = false;
  UnicodeString LogFileName, AliasPath;
  std::vector<std::pair<TzfLogPriority, UnicodeString>> Lines;
  int Flushes = 0;
};

}  // namespace zf::test
