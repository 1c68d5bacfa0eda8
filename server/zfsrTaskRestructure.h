// Restructure, pack and backup: the three copy jobs that carry every record of a table into
// another table through a record mapper, on a background task.
//
// TzfServerDatabase::TableRestructure copies into a new table "_REST" (or "_REST1", ...) built
// with the caller's dictionary; TablePack into a new table "_PACK..." with a copy of the source's
// own dictionary, which leaves out the space of deleted records and builds every index afresh
// (locale indexes under the sorting rules in force now); TableBackup into a table of the source's
// name in the folder of another database. Each opens private databases on the same session (so
// the caller's database stays free), exclusive cursors there, and hands them to a
// TzfServerRestructureContainer, which a TzfServerRestructureTaskInfo runs on its own thread.
//
// The container holds one node per table: the root table first, then the nested tables its mapper
// descriptor names, depth first. A node copies in one transaction on the target's context: the
// target's exclusive content lock, the target's indexes filled through a bulk builder, each
// source record (in storage order) mapped, validated and added through the target's record
// engine; commit, then the two tables' record counts must agree (8962 otherwise).
//
// Finish. Restructure and pack: on an error (a cancel included) the new table is deleted and the
// source is untouched. Otherwise the source is renamed to a unique "<name>_Backup...", the new
// table takes the source's name, and the old table is deleted. Each step that fails is undone
// where it can be, so that the table's name always holds either the old or the new table; any
// table left under another name is written to the engine's event log with the name it has.
// Backup: a backup that fails or is cancelled deletes the table it built in the target folder.
//
// Status: records read counts the records handed to the mapper; records written stays 0 while a
// table copies and becomes equal to its records read when its transaction has committed. The
// total is the sum of the source tables' record counts.
//
// Ownership: the task owns the container; the container owns its nodes, the mapper descriptor's
// duplicate and the private databases; each node owns its two cursors. All of them are freed by
// the end of the job, so every lock of the job is gone when the status says finished.
//
// Threads: everything up to the task's start runs under the caller's session lock; the copy runs
// on the task thread without the session lock, through the cursors' workers only.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "server/zfsrServerTableCursor.h"
#include "server/zfsrTaskInfo.h"

namespace zf {

class TzfServerDatabase;
class TzfServerSession;
class TzfServerRestructureContainer;
class TzfServerRestructureTaskInfo;
class TzfBaseTableMapperDescriptor;
class TzfBaseRecordMapperDescriptor;
class TzfBaseRecordMapperEngine;
class TzfBaseBulkBuilder;
class TzfServerMapperCursor;

// The copy of one table.
class TzfServerRestructureNode : public TzfObject {
 public:
  // Takes both cursors (freed with the node, also when the constructor raises). With a mapper
  // descriptor the source's total record count is read now.
  TzfServerRestructureNode(TzfServerRestructureContainer* aOwner, TzfServerTableCursor* aSourceCursor,
                           TzfServerTableCursor* aTargetCursor, TzfBaseRecordMapperDescriptor* aMapperDesc);
  ~TzfServerRestructureNode() override;
  // Copies every record; raises the node's error code (13062 when the task was cancelled). A node
  // without a mapper descriptor copies nothing.
  void Execute();
  // True when the task was cancelled.
  bool MakeSnapshot(uint32_t aRecordsRead, uint32_t aRecordsWritten, uint32_t aErrorCode);

  TzfServerRestructureContainer* srnOwner;
  TzfServerTableCursor* srnSourceCursor = nullptr;
  TzfServerTableCursor* srnTargetCursor = nullptr;
  TzfBaseRecordMapperDescriptor* srnMapperDesc = nullptr;  // the container's duplicate's; nil: not mapped
  uint32_t srnRecordCount = 0;
  std::unique_ptr<TzfBaseBulkBuilder> srnBulkBuilder;
  std::vector<uint8_t> srnBuffer;        // the source record the iteration fills
  std::vector<uint8_t> srnTargetBuffer;  // the mapped record
  uint32_t srnError = 0;
  bool TransactionStarted = false;
  uint32_t RecordsWritten = 0, RecordsRead = 0;
  std::unique_ptr<TzfBaseRecordMapperEngine> RecordMapper;

 private:
  // The record iterator of the copy: rirStop once srnError is set.
  TzfRecordIteratorResult srnCopyRecord(int64_t aRefNr, const uint8_t* aRecord);
  std::unique_ptr<TzfServerMapperCursor> srnSourceMapper, srnTargetMapper;
};

// The job.
class TzfServerRestructureContainer : public TzfObject {
 public:
  // Takes a duplicate of aMapperDesc and both root cursors. The private databases are the
  // cursors' own; they become the container's (freed at the end of Execute or with it) only
  // through AdoptDatabases, which the caller makes once creation succeeded. A creation that
  // raises frees the cursors and leaves the databases to the caller.
  TzfServerRestructureContainer(TzfServerTableCursor* aSourceCursor, TzfServerTableCursor* aTargetCursor,
                                TzfBaseTableMapperDescriptor& aMapperDesc);
  ~TzfServerRestructureContainer() override;
  void AdoptDatabases();

  // The job (on the task thread); publishes its last snapshot with the result.
  void Execute();
  // Adds the counts of the finished nodes; True when the task was cancelled.
  bool MakeSnapshot(uint32_t aRecordsRead, uint32_t aRecordsWritten, uint32_t aErrorCode);
  uint32_t GetRecordCount() const;
  TzfServerSession* GetSession() const;

  TzfServerRestructureTaskInfo* srcOwner = nullptr;
  std::vector<std::unique_ptr<TzfServerRestructureNode>> srcNodes;
  TzfServerDatabase* srcSourceDatabase = nullptr;
  TzfServerDatabase* srcTargetDatabase = nullptr;
  bool srcOwnsDatabases = false;
  bool srcExecuted = false;
  std::unique_ptr<TzfBaseTableMapperDescriptor> srcMapperDesc;
  UnicodeString srcPassword;
  UnicodeString srcSourceName, srcTargetName;
  uint32_t srcBaseRecordsRead = 0, srcBaseRecordsWritten = 0;
  uint32_t srcCurrentRecordsRead = 0, srcCurrentRecordsWritten = 0;

  // Called on the task thread after each snapshot of a copying node with the records read so far
  // (tests cancel at a chosen record this way); empty: nothing.
  static std::function<void(TzfServerRestructureTaskInfo&, uint32_t)> OnProgress;

 private:
  void AddNestedNodes(const UnicodeString& aPath, TzfBaseTableMapperDescriptor& aMapper);
  // Copies the root table's named streams; the first that cannot be listed, read or written ends the
  // job with its code (the old table is not replaced by one without it).
  uint32_t CopyTableStreams();
  // Restructure and pack: the new table takes the source's name, or is deleted on aError; the
  // code of a step that failed, or aError.
  uint32_t FinishSameDatabase(uint32_t aError);
  // Deletes the new table (the nodes, and so its cursors, go first); a failure is logged.
  void DropTarget();
  void FreeNodes(bool aBackwards);
  void FreeDatabases();
  void Log(const UnicodeString& aText);
};

class TzfServerRestructureTaskInfo : public TzfServerTaskInfo {
 public:
  // Takes the container (freed with the task, after its thread has been joined).
  explicit TzfServerRestructureTaskInfo(TzfServerRestructureContainer* aContainer);
  ~TzfServerRestructureTaskInfo() override;
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  TzfServerRestructureContainer* Container() const { return rtiContainer; }

 protected:
  void Execute() override;

 private:
  TzfServerRestructureContainer* rtiContainer;
};

}  // namespace zf
