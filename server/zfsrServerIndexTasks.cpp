#include "server/zfsrServerIndexTasks.h"

#include <algorithm>
#include <vector>

#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdSimpleLock.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "foundation/zfllUtils.h"
#include "index/zfsdKeyEngineBase.h"
#include "index/zfseIndicesEngineKind.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerFolder.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "server/zfsrServerTransaction.h"
#include "storage/zfsrEncryptionEngineBase.h"
#include "storage/zfsrFile.h"
#include "storage/zfsrRecordEngineBase.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

namespace {

constexpr uint32_t kChecksumDeadlineMs = 86400000;  // the checksum run's own deadline: 24 hours
constexpr uint32_t kSnapshotEvery = 10;             // records between two snapshots of a rebuild

// Ends a successful begin of a cursor's content lock when the scope is left.
struct TContentLockScope {
  TzfServerTableCursor& Cursor;
  ~TContentLockScope() { Cursor.sbcEndContentLock(); }
};

// Raised inside a job's walk when the task was cancelled.
[[noreturn]] void RaiseAborted() { throw EzfServerEngineException(zfErrUpdateAborted); }

}  // namespace

void TzfTaskJobLinks::Free() {
  TzfServerTableCursor* cursor = Cursor;
  TzfServerDatabase* database = Database;
  Cursor = nullptr;
  Database = nullptr;
  if (cursor) cursor->Free();
  if (database) database->Free();
}

// ---- index rebuild ----------------------------------------------------------------------------

const rtl::TClassInfo& TzfBaseServerRebuildIndexTaskInfo::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfBaseServerRebuildIndexTaskInfo", &TzfServerTaskInfo::ClassInfo()};
  return info;
}

TzfBaseServerRebuildIndexTaskInfo::TzfBaseServerRebuildIndexTaskInfo(TzfServerTableCursor* aCursor, int32_t aIndexID)
    : TzfServerTaskInfo(aCursor->asoSession, aCursor->Table()->sbtRecordEngine->GetRecordCount(nullptr)),
      riiCursor(aCursor),
      riiIndexID(aIndexID) {}

void TzfBaseServerRebuildIndexTaskInfo::Execute() {
  riiError = 0;
  riiRecordsRead = riiRecordsWritten = 0;
  riiTransactionStarted = false;
  TzfServerTransContext& context = *riiCursor->stcTransContext();
  try {
    riiError = context.stcTransactionStart(false, false, false, false, false);
    riiTransactionStarted = riiError == 0;
    if (riiError == 0) riiError = riiCursor->sbcBeginContentLock(true, false);
    if (riiError == 0) {
      TContentLockScope end{*riiCursor};
      // The records in the record engine's order, through no index.
      riiError = riiCursor->sbcSwitchToIndex(UnicodeString(), -1, false);
      if (riiError == 0)
        riiCursor->stcRebuildIndexes(context.Transaction(), riiIndexID, [this] {
          ++riiRecordsRead;
          if (riiRecordsRead % kSnapshotEvery == 0 && MakeSnapshot(riiRecordsRead, riiRecordsWritten, 0))
            RaiseAborted();
        });
    }
    if (riiError == 0) {
      riiError = context.stcTransactionCommit();
      if (riiError == 0) {
        riiRecordsWritten = riiRecordsRead;
        riiTransactionStarted = false;
      }
    }
  } catch (const std::exception& e) {
    riiError = asoConvertException(e);
  }
  // Whatever stopped the rebuild, the index goes back to what it was.
  if (riiError != 0 && riiTransactionStarted && context.Transaction()) context.stcTransactionRollback();
  if (riiError == 0 && MakeSnapshot(riiRecordsRead, riiRecordsWritten, 0)) riiError = zfErrUpdateAborted;
  AfterRun();
  MakeSnapshot(riiRecordsRead, riiRecordsWritten, riiError);
}

const rtl::TClassInfo& TzfServerRebuildIndexTaskInfo::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfServerRebuildIndexTaskInfo", &TzfBaseServerRebuildIndexTaskInfo::ClassInfo()};
  return info;
}

TzfServerRebuildIndexTaskInfo::TzfServerRebuildIndexTaskInfo(TzfServerDatabase* aDatabase,
                                                             TzfServerTableCursor* aCursor, int32_t aIndexID)
    : TzfBaseServerRebuildIndexTaskInfo(aCursor, aIndexID) {
  riiDatabase = aDatabase;
  riiJob.Database = aDatabase;
  riiJob.Cursor = aCursor;
}

TzfServerRebuildIndexTaskInfo::~TzfServerRebuildIndexTaskInfo() { riiJob.Free(); }

void TzfServerRebuildIndexTaskInfo::AfterRun() { riiJob.Free(); }

// ---- checksum ---------------------------------------------------------------------------------

namespace {

uint32_t UsedBlocksOf(TzfServerRootTable& aTable) {
  uint32_t total = 0;
  for (auto& f : aTable.srtFiles)
    if (f) total += f->fiUsedBlocks;
  return total;
}

}  // namespace

const rtl::TClassInfo& TzfServerVerifyChecksumTaskInfo::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfServerVerifyChecksumTaskInfo", &TzfServerTaskInfo::ClassInfo()};
  return info;
}

TzfServerVerifyChecksumTaskInfo::TzfServerVerifyChecksumTaskInfo(TzfServerDatabase* aDatabase,
                                                                 TzfServerTableCursor* aCursor, bool aRaw,
                                                                 bool aForceRecheck)
    : TzfServerTaskInfo(aCursor->asoSession, UsedBlocksOf(*aCursor->Table()->sbtRoot)),
      vctiRaw(aRaw),
      vctiForceRecheck(aForceRecheck),
      vctiTable(aCursor->Table()->sbtRoot) {
  vctiJob.Database = aDatabase;
  vctiJob.Cursor = aCursor;
}

TzfServerVerifyChecksumTaskInfo::~TzfServerVerifyChecksumTaskInfo() { vctiJob.Free(); }

void TzfServerVerifyChecksumTaskInfo::ChecksumFile(TzfBaseFile& aFile) {
  const uint32_t used = aFile.fiUsedBlocks;
  if (used <= 1) return;
  const uint32_t bytes = aFile.PhysicalBlockBytes();
  const TzfEncryptionEngineClass& engine = aFile.fiEncryptionEngine->ClassType();
  TzfBlockNumber last = 0;
  auto fold = [&](TzfBlockNumber aBlockNr, PzfBlock aBlock, const TzfByteDynArray* aCookie) {
    last = aBlockNr;
    // A block that cannot be read adds nothing: the comparison then fails.
    if (aBlockNr > 0 && aBlock) {
      if (aCookie)
        engine.AddChecksumForCookie(*aCookie, aBlockNr, vctiChecksum);
      else
        engine.AddChecksumForBlock(aBlock, bytes, aBlockNr, vctiChecksum);
    }
    return aBlockNr + 1 >= used ? birStop : birContinue;
  };
  if (vctiRaw)
    aFile.IterateBlocksRaw(nullptr, [&](void*, TzfBlockNumber n, PzfBlock b, const TzfBlockReadFailure*) {
      return fold(n, b, nullptr);
    });
  else
    aFile.IterateBlockCookies(nullptr, [&](void*, TzfBlockNumber n, PzfBlock b, const TzfByteDynArray& aCookie,
                                           const TzfBlockReadFailure*) { return fold(n, b, &aCookie); });
  // A file shorter than its used blocks did not hand out every block.
  const bool whole = last + 1 >= used;
  aFile.fiCheckSumVerified = whole && zfCompareBytes(vctiChecksum, aFile.fiChecksum) == 0;
  if (!aFile.fiCheckSumVerified) throw EzfServerEngineException(zfErrHeaderCorrupt);
}

void TzfServerVerifyChecksumTaskInfo::Execute() {
  vctiCount = 0;
  vctiError = 0;
  zfSetTimeout(kChecksumDeadlineMs, true);
  zfSuspendTimeout();
  for (auto& f : vctiTable->srtFiles) {
    if (!f) continue;
    TzfBaseFile& file = *f;
    try {
      vctiChecksum.assign(file.fiCheckSumSize, 0);
      if (file.fiCheckSumSize != 0 && (!file.fiCheckSumVerified || vctiForceRecheck)) ChecksumFile(file);
    } catch (const std::exception& e) {
      vctiError = asoConvertException(e);
    }
    vctiCount += file.fiUsedBlocks;
    if (vctiError != 0 || Cancelled()) break;
    MakeSnapshot(vctiCount, vctiCount, vctiError);
  }
  zfResumeTimeout();
  vctiJob.Free();
  MakeSnapshot(vctiCount, vctiCount, vctiError);
}

// ---- count ------------------------------------------------------------------------------------

const rtl::TClassInfo& TzfServerGetRecCountTaskInfo::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfServerGetRecCountTaskInfo", &TzfServerTaskInfo::ClassInfo()};
  return info;
}

TzfServerGetRecCountTaskInfo::TzfServerGetRecCountTaskInfo(TzfRecordCountOption aOption, uint32_t aRecordCount,
                                                           TzfServerTableCursor* aCursor)
    : TzfServerTaskInfo(aCursor->asoSession, aRecordCount), rciCursor(aCursor), rciOption(aOption) {
  if (aCursor->sbcTaskInfo)
    throw EzfServerEngineException(zfErrNotSupported, u"The cursor is already being counted");
  aCursor->sbcTaskInfo = this;
}

TzfServerGetRecCountTaskInfo::~TzfServerGetRecCountTaskInfo() {
  std::lock_guard<std::mutex> g(rciLinkLock);
  if (rciCursor && rciCursor->sbcTaskInfo == this) rciCursor->sbcTaskInfo = nullptr;
  rciCursor = nullptr;
}

void TzfServerGetRecCountTaskInfo::CursorGone() {
  PrepareDestroy();  // cancels and joins the thread
  std::lock_guard<std::mutex> g(rciLinkLock);
  if (rciCursor && rciCursor->sbcTaskInfo == this) rciCursor->sbcTaskInfo = nullptr;
  rciCursor = nullptr;
}

void TzfServerGetRecCountTaskInfo::Init() {
  // Taken in the thread's start-up step, so the session is the task's before the caller goes on.
  asoSession->atoGetLock()->Lock();
  rciLocked = true;
}

void TzfServerGetRecCountTaskInfo::Done() {
  if (!rciLocked) return;
  rciLocked = false;
  uint32_t ignored = 0;
  asoSession->atoGetLock()->Unlock(ignored);
}

void TzfServerGetRecCountTaskInfo::Execute() {
  zfSetTimeout(0, false);
  uint32_t count = 0;
  uint32_t code = 0;
  {
    std::lock_guard<std::mutex> g(rciLinkLock);
    if (!rciCursor) code = zfErrUpdateAborted;
  }
  if (code == 0) {
    TzfTaskStatus status;
    bool completed = false;
    GetStatus(completed, status);
    const uint32_t step = std::max<uint32_t>(1, status.tsTotalRecs / 100);
    try {
      code = rciCursor->sbcCountByWalking(rciOption, count, [&](uint32_t aCount) {
        return aCount % step == 0 && MakeSnapshot(aCount, aCount, 0);
      });
    } catch (const std::exception& e) {
      code = asoConvertException(e);
    }
  }
  MakeSnapshot(count, count, code);
}

// ---- do-nothing -------------------------------------------------------------------------------

const rtl::TClassInfo& TzfServerDoNothingTaskInfo::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfServerDoNothingTaskInfo", &TzfServerTaskInfo::ClassInfo()};
  return info;
}

TzfServerDoNothingTaskInfo::TzfServerDoNothingTaskInfo(TzfAbstractSession* aSession, uint32_t aCount)
    : TzfServerTaskInfo(aSession, aCount) {}

// ---- database operations ----------------------------------------------------------------------

namespace {

// The private database and an exclusive cursor on aTableName in it, into aJob (freed by the caller).
uint32_t OpenJob(TzfServerDatabase& aDatabase, const UnicodeString& aTableName, const UnicodeString& aPassword,
                 TzfOpenMode aOpenMode, TzfTaskJobLinks& aJob) {
  uint32_t r = aDatabase.sdOpenPrivate(nullptr, true, aJob.Database);
  if (r == 0)
    r = zfOpenTableCursor(aJob.Database, aTableName, aPassword, aOpenMode, smExclusive, aDatabase.atoGetTimeout(),
                          aJob.Cursor);
  return r;
}

}  // namespace

uint32_t TzfServerDatabase::sdOpenPrivate(TzfAbstractTransContext* aTransContext, bool aShareTables,
                                          TzfServerDatabase*& aPrivate) {
  TzfAbstractDatabase* db = nullptr;
  const uint32_t r =
      sdSession->ssDatabaseOpen(db, sdAlias, aTransContext, sdFolder, sdOpenMode, sdShareMode, true, atoGetTimeout());
  aPrivate = static_cast<TzfServerDatabase*>(db);
  if (r == 0 && aPrivate && aShareTables) aPrivate->sdTables = sdTables;
  return r;
}

uint32_t TzfServerDatabase::LaunchTask(const std::function<uint32_t(TzfAbstractTaskInfo*&)>& aWorker,
                                       TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  TzfAbstractTaskInfo* task = nullptr;
  uint32_t code = 0;
  try {
    code = Framed([&] { return aWorker(task); });
  } catch (const std::exception& e) {
    code = asoConvertException(e);
  }
  if (!task) return code;
  if (code != 0) {
    try {
      task->Free();
    } catch (...) {
    }
    return code;
  }
  try {
    static_cast<TzfServerTaskInfo*>(task)->StartThread(2000);
  } catch (const std::exception& e) {
    // A task that did not start is no task: the caller gets a code, never 0 without a task.
    code = asoConvertException(e);
    try {
      task->Free();
    } catch (...) {
    }
    return code != 0 ? code : zfErrUnexpectedException;
  }
  aTaskInfo = task;
  return 0;
}

uint32_t TzfServerDatabase::TableRebuildIndex(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                              const UnicodeString& aIndexName, int32_t aIndexID,
                                              TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (const uint32_t r = zfCheckFullTableName(aTableName, true, false)) return r;
  if (const uint32_t r = zfCheckIdentifier(aIndexName, zfErrInvalidIndexName, true, true)) return r;
  return LaunchTask(
      [&](TzfAbstractTaskInfo*& aTask) { return sdTableRebuildIndex(aTableName, aPassword, aIndexName, aIndexID, aTask); },
      aTaskInfo);
}

uint32_t TzfServerDatabase::sdTableRebuildIndex(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                                const UnicodeString& aIndexName, int32_t aIndexID,
                                                TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (sdOpenMode == omReadOnly) return zfErrReadOnlyDb;
  TzfTaskJobLinks job;
  uint32_t code = 0;
  try {
    code = OpenJob(*this, aTableName, aPassword, omReadWrite, job);
    int32_t index = aIndexID;
    if (code == 0) {
      TzfBaseTableDescriptor& table = *job.Cursor->Table()->sbtTableDescriptor;
      if (!table.tdIndicesDescriptor) {
        code = zfErrNoSuchIndex;
      } else {
        if (!aIndexName.empty()) index = table.tdIndicesDescriptor->GetIndexFromName(aIndexName);
        if (index < 0 || index >= table.tdIndicesDescriptor->IndexCount()) code = zfErrNoSuchIndex;
      }
    }
    if (code == 0) {
      TzfBaseIndicesEngine* indices = job.Cursor->Table()->sbtIndicesEngine.get();
      if (!indices || index >= indices->IndexEngineCount()) {
        code = zfErrNoSuchIndex;
      } else if (!indices->GetIndexEngine(index).bieKeyEngine->SupportsReindex()) {
        code = EzfBaseException::zfSetMessage(zfErrNotSupported, u"Rebuilding is not supported for this index");
      }
    }
    if (code == 0) code = sdFolder->NotifyExtenders(eaTableRebuildIndex, true, {aTableName, index});
    if (code == 0) code = NotifyExtenders(eaTableRebuildIndex, true, {aTableName, index});
    if (code == 0) {
      auto* task = zfCreateServerObject<TzfServerRebuildIndexTaskInfo>(job.Database, job.Cursor, index);
      job = TzfTaskJobLinks{};  // the task owns them now
      aTaskInfo = task;
    }
  } catch (const std::exception& e) {
    code = asoConvertException(e);
  }
  if (code != 0) job.Free();
  return code;
}

uint32_t TzfServerDatabase::TableVerifyChecksum(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                                bool aRaw, bool aForceRecheck, TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (const uint32_t r = zfCheckTableName(aTableName, true, false)) return r;
  return LaunchTask(
      [&](TzfAbstractTaskInfo*& aTask) {
        return sdTableVerifyChecksum(aTableName, aPassword, aRaw, aForceRecheck, aTask);
      },
      aTaskInfo);
}

uint32_t TzfServerDatabase::sdTableVerifyChecksum(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                                  bool aRaw, bool aForceRecheck, TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (aTableName.find(u':') != UnicodeString::npos) return zfErrInvalidParam;
  if (const uint32_t veto = NotifyExtenders(eaTableVerifyChecksum, true, {aTableName, &aRaw, &aForceRecheck}))
    return veto;
  TzfTaskJobLinks job;
  uint32_t code = 0;
  try {
    code = OpenJob(*this, aTableName, aPassword, omReadOnly, job);
    if (code == 0) {
      TzfServerRootTable& root = *job.Cursor->Table()->sbtRoot;
      if (!root.srtMainFile || root.srtMainFile->fiCheckSumSize == 0)
        code = EzfBaseException::zfSetMessage(
            zfErrNotSupported, rtl::Format(u"Table %s is not using an encryption engine that supports file checksums.",
                                           {aTableName}));
    }
    if (code == 0) {
      auto* task = zfCreateServerObject<TzfServerVerifyChecksumTaskInfo>(job.Database, job.Cursor, aRaw, aForceRecheck);
      job = TzfTaskJobLinks{};
      aTaskInfo = task;
    }
  } catch (const std::exception& e) {
    code = asoConvertException(e);
  }
  if (code != 0) job.Free();
  return code;
}

}  // namespace zf
