// Background tasks over one table: rebuilding an index, verifying the file checksums, counting the
// records a cursor sees, and the finished task of a count known at once.
//
// Rebuild and checksum are database operations (TzfServerDatabase::TableRebuildIndex and
// TableVerifyChecksum, defined here): each opens a private database on the same session, alias and
// folder (sharing the caller's table mapper), opens an exclusive cursor on the table there and hands
// both to its task, which runs on a thread of its own without the session lock and frees cursor and
// database when its run ends (or when the task is freed without having run), so the table is free
// again as soon as the status says finished.
//
// Rebuild: the index's keys are deleted and the keys of every record inserted again, all inside one
// transaction under the exclusive content lock. A failure (a refused key: 9729) or a cancel rolls it
// back, so the index is as it was before the task; only a committed rebuild changes it. The status
// counts records: read as they are indexed, written once the rebuild has committed.
//
// Checksum: every block but block 0 of every file of the table that keeps a checksum is folded into
// a fresh checksum by the file's encryption engine (the raw block, or the block's cookie), up to the
// file's used blocks, and compared with the file's running checksum: 8961 when they differ. A file
// verified before is passed over unless a recheck is forced. The status counts blocks.
//
// Count: the asynchronous record count of a table cursor that must walk (a range or a filter decides
// the count). The task holds its session's lock for its whole run, so the session's other calls are
// refused (8455) until it ends; it walks the cursor's view from BOF and puts the cursor's position
// and filters back. A cursor has at most one count task; freeing the cursor cancels it and waits
// for its thread.
#pragma once
#include <cstdint>
#include <mutex>

#include "dictionary/zfsdAbstractCursor.h"
#include "server/zfsrTaskInfo.h"
#include "storage/zfsrBlock.h"

namespace zf {

class TzfServerDatabase;
class TzfServerTableCursor;
class TzfServerRootTable;
class TzfBaseFile;
class TzfBaseIndexEngine;

// The cursor and private database of a task's job, freed once (cursor first).
struct TzfTaskJobLinks {
  TzfServerDatabase* Database = nullptr;
  TzfServerTableCursor* Cursor = nullptr;
  void Free();
};

class TzfBaseServerRebuildIndexTaskInfo : public TzfServerTaskInfo {
 public:
  // The total is the table's record count from its record engine.
  TzfBaseServerRebuildIndexTaskInfo(TzfServerTableCursor* aCursor, int32_t aIndexID);
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

 protected:
  void Execute() override;
  // After the run (also a failed one), before the last snapshot.
  virtual void AfterRun() {}

  TzfServerDatabase* riiDatabase = nullptr;
  TzfServerTableCursor* riiCursor;
  int32_t riiIndexID;
  uint32_t riiError = 0;
  bool riiTransactionStarted = false;
  uint32_t riiRecordsRead = 0;
  uint32_t riiRecordsWritten = 0;
};

// Owns its cursor and private database.
class TzfServerRebuildIndexTaskInfo : public TzfBaseServerRebuildIndexTaskInfo {
 public:
  TzfServerRebuildIndexTaskInfo(TzfServerDatabase* aDatabase, TzfServerTableCursor* aCursor, int32_t aIndexID);
  ~TzfServerRebuildIndexTaskInfo() override;
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

 protected:
  void AfterRun() override;

 private:
  TzfTaskJobLinks riiJob;
};

class TzfServerVerifyChecksumTaskInfo : public TzfServerTaskInfo {
 public:
  // Owns aCursor and aDatabase. The total is the used blocks of all the root table's files.
  TzfServerVerifyChecksumTaskInfo(TzfServerDatabase* aDatabase, TzfServerTableCursor* aCursor, bool aRaw,
                                  bool aForceRecheck);
  ~TzfServerVerifyChecksumTaskInfo() override;
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

 protected:
  void Execute() override;

 private:
  // Folds every block of aFile after block 0 (up to its used blocks) into vctiChecksum.
  void ChecksumFile(TzfBaseFile& aFile);

  bool vctiRaw;
  bool vctiForceRecheck;
  TzfServerRootTable* vctiTable;
  uint32_t vctiError = 0;
  uint32_t vctiCount = 0;
  TzfByteDynArray vctiChecksum;
  TzfTaskJobLinks vctiJob;
};

class TzfServerGetRecCountTaskInfo : public TzfServerTaskInfo {
 public:
  // Binds itself to aCursor (raises 12289 when the cursor has a count task already).
  TzfServerGetRecCountTaskInfo(TzfRecordCountOption aOption, uint32_t aRecordCount, TzfServerTableCursor* aCursor);
  // Unbinds from the cursor.
  ~TzfServerGetRecCountTaskInfo() override;
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }
  // The cursor is going: the task is cancelled, its thread joined, the link dropped.
  void CursorGone();

 protected:
  // Takes the session's lock (in the thread's start-up step) / gives it back after the job.
  void Init() override;
  void Done() override;
  void Execute() override;

 private:
  bool rciLocked = false;
  TzfServerTableCursor* rciCursor;
  TzfRecordCountOption rciOption;
  std::mutex rciLinkLock;  // guards rciCursor against CursorGone
};

// A count the engines answered at once: finished from the start, the count as records read and
// written. No thread runs it.
class TzfServerDoNothingTaskInfo : public TzfServerTaskInfo {
 public:
  TzfServerDoNothingTaskInfo(TzfAbstractSession* aSession, uint32_t aCount);
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

 protected:
  void Execute() override {}
};

}  // namespace zf
