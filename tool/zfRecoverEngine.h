// The engine side of one recover run, as the recovery tool's main window drives it: the started
// server engine with its statistics, the database on the damaged table's folder, the recover task,
// the three tables of the completion pass and the event log.
//
// The window (frmRecoverMain) knows only these classes; zfRecoverComponents implements them with
// the engine's client components, and the window's tests with fakes that need no table files.
// Every operation raises on failure (the engine's and the client's exceptions pass through); the
// window turns each failure into its log line.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "dictionary/zfsdAbstractSession.h"
#include "foundation/zfllComponent.h"

namespace zf {

// A running recover task. Destroying it frees the engine's task handle (a task still running is
// cancelled and waited for first).
class TzfRecoverTask {
 public:
  TzfRecoverTask() = default;
  TzfRecoverTask(const TzfRecoverTask&) = delete;
  TzfRecoverTask& operator=(const TzfRecoverTask&) = delete;
  virtual ~TzfRecoverTask() = default;

  // The finished flag and a copy of the status; answers the engine's code (a non-zero status code
  // also becomes the calling thread's last converted exception, so raising for it shows its text).
  virtual uint32_t GetStatus(bool& aCompleted, TzfTaskStatus& aStatus) = 0;
  // Asks the task to stop; the answer is not checked.
  virtual uint32_t Cancel() = 0;
  // aProc runs once when the task has finished, possibly on another thread (at once when it
  // already has); nullptr removes it. A task that cannot tell never calls it.
  virtual void SetOnFinished(std::function<void()> aProc) = 0;
};

// One table of the run, as a table dataset: opened by name in the database's folder, read in
// storage order, written through its fields by position.
class TzfRecoverTable {
 public:
  TzfRecoverTable() = default;
  TzfRecoverTable(const TzfRecoverTable&) = delete;
  TzfRecoverTable& operator=(const TzfRecoverTable&) = delete;
  virtual ~TzfRecoverTable() = default;

  virtual UnicodeString TableName() const = 0;
  virtual void SetTableName(const UnicodeString& aName) = 0;
  virtual void Open() = 0;
  // Closing a table that is not open does nothing.
  virtual void Close() = 0;
  // Sets a named option on the open table's engine cursor; the engine's answer is not checked.
  virtual void SetCursorOption(const UnicodeString& aName, const UnicodeString& aValue) = 0;
  virtual int32_t RecordCount() = 0;
  // The closed table's records counted in storage order through a read-only engine cursor of its
  // own, so no index of the table is used (a damaged source's indexes cannot be trusted).
  virtual int32_t CountInStorageOrder() = 0;
  // True when the open table has no current record.
  virtual bool IsEmpty() = 0;
  virtual void First() = 0;
  virtual void Next() = 0;
  virtual bool Eof() = 0;
  // A new record in insert state; Post writes it, Cancel drops it.
  virtual void Insert() = 0;
  virtual void Post() = 0;
  virtual void Cancel() = 0;
  virtual int32_t FieldCount() = 0;
  virtual bool FieldReadOnly(int32_t aIndex) = 0;
  // Assigns field aIndex of aSource's current record to field aIndex of this table's record.
  virtual void AssignField(int32_t aIndex, TzfRecoverTable& aSource) = 0;
  // Renames the closed table's files; TableName follows.
  virtual void RenameTable(const UnicodeString& aNewName) = 0;
  // Deletes the closed table's files.
  virtual void DeleteTable() = 0;
};

class TzfRecoverEngine {
 public:
  TzfRecoverEngine() = default;
  TzfRecoverEngine(const TzfRecoverEngine&) = delete;
  TzfRecoverEngine& operator=(const TzfRecoverEngine&) = delete;
  virtual ~TzfRecoverEngine() = default;

  // The event log's file (set before Start).
  virtual void SetLogFileName(const UnicodeString& aFileName) = 0;
  // Opens the server engine.
  virtual void Start() = 0;
  virtual void GetStatsCaptions(std::vector<UnicodeString>& aList) = 0;
  virtual void GetStatsValues(std::vector<UnicodeString>& aList) = 0;
  virtual bool DatabaseActive() = 0;
  // Points the database at a folder and opens it (opening its session first).
  virtual void OpenDatabase(const UnicodeString& aAliasPath) = 0;
  // Starts the engine's recover of a table of the open database; never answers nullptr.
  virtual std::unique_ptr<TzfRecoverTask> RecoverTable(const UnicodeString& aTableName,
                                                       const UnicodeString& aPassword) = 0;
  // Renames the files of table aOldName in the database's folder to aNewName without opening it,
  // for a damaged table whose own dictionary cannot be read: its main file, and the further files
  // that the dictionary of aLayoutTable names (a recovered table has its source's dictionary). A
  // file already under a new name is never replaced, a file another process holds is never moved
  // (10245); on failure the files moved are moved back.
  virtual void MoveTableFiles(const UnicodeString& aOldName, const UnicodeString& aNewName,
                              const UnicodeString& aLayoutTable) = 0;
  virtual TzfRecoverTable& Source() = 0;
  virtual TzfRecoverTable& Failed() = 0;
  virtual TzfRecoverTable& Recovered() = 0;
  // One line of the event log: message number 0, category "default", now, the log's own bias.
  virtual void Log(TzfLogPriority aPriority, const UnicodeString& aText) = 0;
  // Switches the event log's cache off, which writes out every pending line.
  virtual void FlushLog() = 0;
};

}  // namespace zf
