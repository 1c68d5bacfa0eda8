// The recovery tool's engine components, as its form stores them, behind the window's engine
// interface (zfRecoverEngine): the server engine (table extension "dvl7", no temporary store, no
// options), a session on it, a database on the session, the event log they all write to (no
// rotations, rotation size 32, no size limit) and the three table datasets "tblSource",
// "tblFailed" and "tblRecovered" on the database. Building them opens nothing.
//
// The client layer must be started (zfStartClient) while these exist.
#pragma once
#include <memory>

#include "tool/zfRecoverEngine.h"

namespace zf {

class TzfServerEngine;
class TzfSession;
class TzfDatabase;
class TzfEventLog;

// One table dataset of the run on aDatabase, named aName (the component name).
std::unique_ptr<TzfRecoverTable> zfCreateRecoverTable(TzfDatabase* aDatabase, const UnicodeString& aName);

class TzfRecoverComponents final : public TzfRecoverEngine {
 public:
  TzfRecoverComponents();
  // Frees the tables, the database, the session and the engine, then the event log (which writes
  // out what it still holds).
  ~TzfRecoverComponents() override;

  void SetLogFileName(const UnicodeString& aFileName) override;
  void Start() override;
  void GetStatsCaptions(std::vector<UnicodeString>& aList) override;
  void GetStatsValues(std::vector<UnicodeString>& aList) override;
  bool DatabaseActive() override;
  void OpenDatabase(const UnicodeString& aAliasPath) override;
  std::unique_ptr<TzfRecoverTask> RecoverTable(const UnicodeString& aTableName,
                                               const UnicodeString& aPassword) override;
  void MoveTableFiles(const UnicodeString& aOldName, const UnicodeString& aNewName,
                      const UnicodeString& aLayoutTable) override;
  TzfRecoverTable& Source() override { return *FSource; }
  TzfRecoverTable& Failed() override { return *FFailed; }
  TzfRecoverTable& Recovered() override { return *FRecovered; }
  void Log(TzfLogPriority aPriority, const UnicodeString& aText) override;
  void FlushLog() override;

  TzfServerEngine& ServerEngine() const { return *FServerEngine; }
  TzfDatabase& Database() const { return *FDatabase; }
  TzfEventLog& EventLog() const { return *FEventLog; }

 private:
  // Declared in the order of destruction backwards: the log goes last.
  std::unique_ptr<TzfEventLog> FEventLog;
  std::unique_ptr<TzfServerEngine> FServerEngine;
  std::unique_ptr<TzfSession> FSession;
  std::unique_ptr<TzfDatabase> FDatabase;
  std::unique_ptr<TzfRecoverTable> FSource;
  std::unique_ptr<TzfRecoverTable> FFailed;
  std::unique_ptr<TzfRecoverTable> FRecovered;
};

}  // namespace zf
