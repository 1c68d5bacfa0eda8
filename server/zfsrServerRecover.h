// The table recover: salvage of a damaged table into "<name>_Recovered" and "<name>_Failed".
//
// TzfServerDatabase::TableRecover builds the two tables on a private database of the same folder
// (the recovered one with the source's whole data dictionary, the failed one with its fields
// only), opens exclusive cursors on the three tables and hands them to a recover container, which
// a background task (TzfServerRecoverTaskInfo) runs. The container walks every physical block of
// the files that hold the records of the source's root or nested tables; each block whose owner ID
// names one of those tables goes to that table's record engine, which hands every record it can
// vouch for to the source cursor's stcRecoverRecord. That inserts the record, with its BLOBs, into
// the recovered table with validation inside a nested transaction level, or into the failed table
// when that is not possible. The task's status counts blocks: read = every block walked, written =
// every block that could be read.
//
// Keys: the indexes of the recovered tables that can never refuse a key (reference numbers, or
// duplicates of every key allowed) are not kept record by record during the walk but bulk built
// from the placed records at its end, inside the outer transaction; every other index (a unique
// one) still takes each record's key as it is inserted, so it refuses exactly the records it
// refused record by record: in walk order the first record with a key stays and later ones go to
// the failed table. When that build fails nothing is committed (an index never goes out without
// its keys) and the build's code is the result.
//
// What stops the walk: a cancel (13062), a transaction level that cannot be started or committed,
// and a transaction that the storage layer marked broken (a write error of the target files). A
// block or record that cannot be salvaged is logged through the engine's event log with its file,
// block and code, and the walk goes on. The records salvaged so far are committed at the end, also
// when the walk stopped early; the walk's own code stands as the result, the closing commit's only
// when the walk ended clean.
//
// Ownership: the task owns the container; the container owns its nodes and the private database;
// each node owns its three cursors. Freeing the task (which joins its thread first) frees all of
// it and closes the folder's inactive tables.
//
// Threads: the container is built under the caller's session lock; the walk runs on the task
// thread without the session lock, through the private database's exclusive cursors and the
// workers of the cursor (never their public frames).
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "server/zfsrServerTableCursor.h"
#include "server/zfsrTaskInfo.h"
#include "storage/zfsrFile.h"

namespace zf {

class TzfServerDatabase;
class TzfServerRootTable;
class TzfServerSession;
class TzfServerRecoverContainer;
class TzfServerRecoverTaskInfo;
class TzfBaseTableMapperDescriptor;

// The state handed to every block and record iterator of one walk.
struct TzfRecoverCookie {
  const uint8_t* rcRecord = nullptr;  // the record being salvaged (the record engine sets it)
  TzfServerTableCursor* rcTargetCursor = nullptr;
  TzfServerTableCursor* rcFailedCursor = nullptr;
  uint32_t rcErrorCode = 0;     // 0, or the code that stops the walk
  int32_t rcTransLevel = 0;     // levels the salvage has open (1 = the outer transaction only)
  const std::vector<int32_t>* rcBlobFields = nullptr;
  int32_t rcFileIndex = 0;
  TzfBlockNumber rcBlockNr = 0;
  // Beside the walk's own state: the container (for the event log), the node's record buffers
  // (allocated once per node, so the walk allocates nothing per record) and the largest
  // auto-increment value salvaged for the node's tables.
  TzfServerRecoverContainer* rcContainer = nullptr;
  std::vector<uint8_t>* rcTargetBuffer = nullptr;
  std::vector<uint8_t>* rcFailedBuffer = nullptr;
  int32_t rcAutoIncField = -1;
  uint32_t rcMaxAutoInc = 0;  // of the records placed by the current pass over a block
  // The level a record starts from: 1 (every record in a nested level of its own over the outer
  // transaction) or 2 (the level of the group of blocks: records without BLOBs are placed
  // straight into it).
  int32_t rcBaseLevel = 1;
  // Set in the group's level when a record met a failure that may have left writes behind: the
  // group's level is rolled back and its blocks salvaged again record by record.
  bool rcRedo = false;
};

// The salvage target of one root or nested table.
class TzfServerRecoverNode : public TzfObject {
 public:
  // Takes the three cursors (freed with the node, also when the constructor raises) and copies
  // the source's auto-increment value to the two new tables (12289 counts as success; another
  // code raises).
  TzfServerRecoverNode(TzfServerRecoverContainer* aOwner, TzfServerTableCursor* aSourceCursor,
                       TzfServerTableCursor* aTargetCursor, TzfServerTableCursor* aFailedCursor);
  ~TzfServerRecoverNode() override;
  // One pass over the records of one block of the node's table, each placed from aBaseLevel (see
  // the cookie); rirStop when the walk must end (rcErrorCode set) or, in the group's level, when
  // the group must be salvaged again record by record (rcRedo set).
  TzfRecordIteratorResult SalvageBlock(TzfRecoverCookie& aCookie, TzfBlockNumber aBlockNr, const uint8_t* aBlock,
                                       int32_t aBaseLevel);

  TzfServerRecoverContainer* srnOwner;
  TzfServerTableCursor* srnSourceCursor = nullptr;
  TzfServerTableCursor* srnTargetCursor = nullptr;
  TzfServerTableCursor* srnFailedCursor = nullptr;
  std::vector<int32_t> srnBlobFields;  // BLOB fields both tables have alike, in field order
  int32_t srnID = 0;
  int32_t srnFileNumber = 0;
  std::vector<uint8_t> srnTargetBuffer, srnFailedBuffer;
  uint32_t srnMaxAutoInc = 0;
  TzfRecordIterator srnIterator;
};

// The salvage job.
class TzfServerRecoverContainer : public TzfObject {
 public:
  // Takes the three cursors of the root tables (freed with the container, also when it raises) and
  // the private database they belong to (freed last). Builds the nodes of every nested table
  // present in the source and the recovered table, the owner map and the file list.
  TzfServerRecoverContainer(TzfServerTableCursor* aSourceCursor, TzfServerTableCursor* aTargetCursor,
                            TzfServerTableCursor* aFailedCursor, TzfServerDatabase* aDatabase);
  ~TzfServerRecoverContainer() override;

  // The walk (on the task thread); publishes its last snapshot with the result.
  void Execute();
  // True when the task was cancelled. Counts are of the current file; the container adds the base.
  bool MakeSnapshot(uint32_t aBlocksRead, uint32_t aBlocksWritten, uint32_t aErrorCode);
  TzfServerSession* GetSession();
  // Physical blocks of every walked file (the task's total).
  uint32_t GetTotalBlockCount();
  // Writes a warning about aFile / aBlock with aCode into the engine's event log.
  void LogBlock(int32_t aFile, TzfBlockNumber aBlock, uint32_t aCode, const UnicodeString& aWhat);
  // The node that owns blocks of file aFile marked aID; nil for anything the map does not hold.
  TzfServerRecoverNode* NodeFor(int32_t aFile, int32_t aID) const;

  TzfServerRecoverTaskInfo* srcOwner = nullptr;
  std::vector<std::unique_ptr<TzfServerRecoverNode>> srcNodes;
  TzfServerRootTable* srcSourceRootTable = nullptr;
  TzfServerDatabase* srcSourceDatabase = nullptr;
  TzfServerDatabase* srcTargetDatabase = nullptr;
  UnicodeString srcPassword;
  UnicodeString srcSourceName, srcTargetName, srcFailedName;
  uint32_t srcBaseBlocksRead = 0, srcBaseBlocksWritten = 0;
  uint32_t srcCurrentBlocksRead = 0, srcCurrentBlocksWritten = 0;
  uint32_t srcBlocksRead = 0, srcBlocksWritten = 0;
  std::vector<std::vector<TzfServerRecoverNode*>> srcIDMap;
  std::vector<TzfBaseFile*> srcFiles;

  // True (the default): the bulk build of the indexes that can never refuse a key, described
  // above. False keeps every key record by record, the road the tests compare the bulk one with.
  static std::atomic<bool> BulkKeys;

 private:
  // Blocks are salvaged in groups of one node's consecutive blocks, each group in one nested level
  // (2): GroupBlock places aBlock's records in the group's level, keeping a copy of the block;
  // a record that may have left writes behind (rcRedo) has the level rolled back and every block
  // of the group salvaged again, in walk order, record by record. CloseGroup commits the open
  // group (or does that second pass); 0 or the code that stops the walk.
  TzfBlockIteratorResult GroupBlock(TzfRecoverCookie& aCookie, TzfServerRecoverNode* aNode, TzfBlockNumber aBlockNr,
                                    const uint8_t* aBlock, uint32_t aBytes);
  uint32_t CloseGroup(TzfRecoverCookie& aCookie);
  struct TGroupBlock {
    TzfBlockNumber BlockNr;
    uint32_t Offset, Bytes;
  };
  TzfServerRecoverNode* srcGroupNode = nullptr;  // the node of the open group; nil: none open
  std::vector<TGroupBlock> srcGroupBlocks;
  std::vector<uint8_t> srcGroupData;  // the group's blocks, one after the other
  uint32_t srcGroupMaxAutoInc = 0;

  void DeferKeys();
  // Builds the deferred indexes of every node; 0 or the first failure's code.
  uint32_t BuildDeferredKeys();
  void EndDeferral();
  void AddNestedNodes(const UnicodeString& aPath, TzfBaseTableMapperDescriptor& aMapper);
  void CopyNamedStreams();
  uint32_t Walk(TzfRecoverCookie& aCookie);
  void FreeAll();
};

class TzfServerRecoverTaskInfo : public TzfServerTaskInfo {
 public:
  // Takes the container (freed with the task, after its thread has been joined).
  explicit TzfServerRecoverTaskInfo(TzfServerRecoverContainer* aContainer);
  ~TzfServerRecoverTaskInfo() override;
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  TzfServerRecoverContainer* Container() const { return rtiContainer; }

 protected:
  void Execute() override;

 private:
  TzfServerRecoverContainer* rtiContainer;
};

}  // namespace zf
