#include "tool/zfRecoverComponents.h"

#include <filesystem>
#include <system_error>

#include "client/zfdb.h"
#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdFileDescriptor.h"
#include "foundation/zflgEventLog.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrTaskInfo.h"
#include "storage/zfsrFileImpl.h"
#include "tool/frmRecoverMain.h"

namespace zf {

namespace {

// The engine's task handle; freeing it cancels a task still running and waits for its thread.
class TzfRecoverTaskHandle final : public TzfRecoverTask {
 public:
  explicit TzfRecoverTaskHandle(TzfAbstractTaskInfo* aTaskInfo)
      : FTaskInfo(aTaskInfo), FServerTask(dynamic_cast<TzfServerTaskInfo*>(aTaskInfo)) {}
  ~TzfRecoverTaskHandle() override {
    if (FServerTask) FServerTask->SetOnFinished(nullptr);
    FTaskInfo->Free();
  }
  uint32_t GetStatus(bool& aCompleted, TzfTaskStatus& aStatus) override {
    return FTaskInfo->GetStatus(aCompleted, aStatus);
  }
  uint32_t Cancel() override { return FTaskInfo->Cancel(); }
  // Only a task of the engine in this process can tell when it ends; any other never calls aProc.
  void SetOnFinished(std::function<void()> aProc) override {
    if (FServerTask) FServerTask->SetOnFinished(std::move(aProc));
  }

 private:
  TzfAbstractTaskInfo* FTaskInfo;
  TzfServerTaskInfo* FServerTask;  // the same task when it is the engine's own, else nullptr
};

}  // namespace

TzfRecoverComponents::TzfRecoverComponents() {
  FServerEngine = std::make_unique<TzfServerEngine>();
  FServerEngine->SetName(u"ServerEngine");
  FSession = std::make_unique<TzfSession>();
  FSession->SetName(u"Session");
  FDatabase = std::make_unique<TzfDatabase>();
  FDatabase->SetName(u"Database");
  FEventLog = std::make_unique<TzfEventLog>();
  FEventLog->SetName(u"EventLog");

  FEventLog->SetNumRotations(0);
  FEventLog->SetRotationSize(32);
  FEventLog->SetMaxSize(0);
  FEventLog->SetEnabled(true);

  FServerEngine->SetEventLog(FEventLog.get());
  FServerEngine->SetEventLogEnabled(true);
  FServerEngine->SetTempStoreSize(0);
  FServerEngine->SetOptions(0);
  FServerEngine->SetTableExtension(zfRecoverTableExtension);

  FSession->SetEventLog(FEventLog.get());
  FSession->SetEventLogEnabled(true);
  FSession->SetServerEngine(FServerEngine.get());

  FDatabase->SetEventLog(FEventLog.get());
  FDatabase->SetEventLogEnabled(true);
  FDatabase->SetSession(FSession.get());

  FSource = zfCreateRecoverTable(FDatabase.get(), u"tblSource");
  FFailed = zfCreateRecoverTable(FDatabase.get(), u"tblFailed");
  FRecovered = zfCreateRecoverTable(FDatabase.get(), u"tblRecovered");
}

TzfRecoverComponents::~TzfRecoverComponents() {
  FRecovered.reset();
  FFailed.reset();
  FSource.reset();
  FDatabase.reset();
  FSession.reset();
  FServerEngine.reset();
  FEventLog.reset();
}

void TzfRecoverComponents::SetLogFileName(const UnicodeString& aFileName) { FEventLog->SetFileName(aFileName); }

void TzfRecoverComponents::Start() { FServerEngine->Open(); }

void TzfRecoverComponents::GetStatsCaptions(std::vector<UnicodeString>& aList) {
  FServerEngine->GetStatsCaptions(aList);
}

void TzfRecoverComponents::GetStatsValues(std::vector<UnicodeString>& aList) { FServerEngine->GetStatsValues(aList); }

bool TzfRecoverComponents::DatabaseActive() { return FDatabase->IsActive(); }

void TzfRecoverComponents::OpenDatabase(const UnicodeString& aAliasPath) {
  FDatabase->SetAliasPath(aAliasPath);
  FDatabase->Open();
}

std::unique_ptr<TzfRecoverTask> TzfRecoverComponents::RecoverTable(const UnicodeString& aTableName,
                                                                   const UnicodeString& aPassword) {
  TzfAbstractTaskInfo* task = FDatabase->RecoverTable(aTableName, aPassword);
  if (task == nullptr) throw EzfBaseException(zfErrNotSupported);
  return std::make_unique<TzfRecoverTaskHandle>(task);
}

void TzfRecoverComponents::MoveTableFiles(const UnicodeString& aOldName, const UnicodeString& aNewName,
                                          const UnicodeString& aLayoutTable) {
  TzfDataDictionary dict;
  FDatabase->GetDataDictionary(aLayoutTable, u"", &dict);
  std::vector<UnicodeString> extensions{FServerEngine->TableExtension()};
  for (int32_t i = 1; i < dict.ddFilesDescriptor->FileCount; ++i)
    extensions.push_back(dict.ddFilesDescriptor->FileDescriptor[size_t(i)]->fdExtension);
  UnicodeString folder = FDatabase->GetPath();
  if (folder.empty() || folder.back() != u'/') folder += u'/';
  std::vector<std::pair<UnicodeString, UnicodeString>> renames;
  for (size_t i = 0; i < extensions.size(); ++i) {
    const UnicodeString from = folder + aOldName + u"." + extensions[i];
    // A further file the damaged table never made is no failure; its main file must be there.
    std::error_code ec;
    if (i > 0 && !std::filesystem::exists(rtl::u8(from), ec)) continue;
    renames.emplace_back(from, folder + aNewName + u"." + extensions[i]);
  }
  // Files another process holds are not moved under it (10245).
  TzfExclusiveFileLocks locks;
  for (const auto& r : renames) locks.Lock(r.first);
  zfRenameFilesNoReplace(renames);
}

void TzfRecoverComponents::Log(TzfLogPriority aPriority, const UnicodeString& aText) {
  FEventLog->WriteString(aText, 0, aPriority, u"default", 0, zfLogBiasDefault);
}

void TzfRecoverComponents::FlushLog() { FEventLog->SetCacheEnabled(false); }

}  // namespace zf
