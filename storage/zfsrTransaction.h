// Storage transactions: a group of block changes across any number of table files that become
// visible, and reach the disk, together.
//
// - `TzfBaseTransaction` with its stack of nested levels (`TzfBaseTransactionLevel`); the server
//   derives both and decides when to commit (its `Commit`/`Rollback`).
// - `TzfBaseTransactionMgr`: the manager base (padlock and snapshot list for the deriving manager).
// - `TzfBaseJournalEngine`: the contract of the journal through which a fail-safe commit goes.
// - `TzfFlushList`: the files of a committed transaction on their way to the disk.
//
// Block work of commit and rollback is the buffer manager's (`CommitTransaction`,
// `RollbackTransaction`), under its padlock; the disk writes of `TzfFlushList::Flush` run outside.
#pragma once
#include <cstdint>
#include <vector>

#include "foundation/zfllException.h"
#include "foundation/zfllMemoryManager.h"
#include "foundation/zfllSync.h"
#include "platform/rtl/rtlText.h"
#include "storage/zfsrBufferTypes.h"

namespace zf {


ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseJournalEngineException, EzfBaseException)

enum class TzfTransactionLevelState : uint8_t { tlsCorrupted, tlsDeadlocked, tlsNoMoreNested };
enum class TzfTransactionState : uint8_t { tsFailsafe, tsSnapshot };

class TzfBaseTransactionLevel : public TzfObject {
 public:
  // Becomes the transaction's current level (one deeper than the current one).
  explicit TzfBaseTransactionLevel(TzfBaseTransaction* aTrans);
  // Re-points the transaction's current level to tlPrev; the level must hold no copies or locks.
  ~TzfBaseTransactionLevel() override;

  void MarkCorrupted() { Mark(TzfTransactionLevelState::tlsCorrupted); }
  void MarkDeadlock() { Mark(TzfTransactionLevelState::tlsDeadlocked); }
  void MarkNoMoreNested() { tlState |= Bit(TzfTransactionLevelState::tlsNoMoreNested); }
  // Consumes one pending nested start; True when none was pending (the level itself ends).
  bool StopNested();
  int32_t EffectiveLevel() const { return tlLevel + tlNestingCount; }
  bool Has(TzfTransactionLevelState aState) const { return tlState & Bit(aState); }

  TzfBaseTransactionLevel* tlPrev;
  int32_t tlLevel;
  TzfBaseTransaction* tlTransaction;
  TzfModifiedBlock* tlModifiedBlocksHead = nullptr;
  TzfModifiedBlock* tlModifiedBlocksTail = nullptr;
  int32_t tlBlockCount = 0;
  int32_t tlLockCount = 0;
  uint8_t tlState = 0;
  int32_t tlNestingCount = 0;

  static constexpr uint8_t Bit(TzfTransactionLevelState s) { return uint8_t(1u << static_cast<int>(s)); }

 private:
  void Mark(TzfTransactionLevelState aState);
};

class TzfBaseJournalEngine;

class TzfBaseTransaction : public TzfObject {
 public:
  // Registers a snapshot transaction with the manager (its snapshot ID), opens level 0 and takes
  // a new LSN. aFailSafe changes nothing here: a deriving class assigns btJournal.
  TzfBaseTransaction(TzfBufferManager* aBufferManager, void* aOwningSession, bool aIsSnapshot, bool aFailSafe);
  // Frees every snapshot link (under the manager's padlock), unregisters a snapshot, frees the
  // journal and the levels left.
  ~TzfBaseTransaction() override;

  using LevelFactory = TzfBaseTransactionLevel* (*)(TzfBaseTransaction* aTrans);
  // The class of new levels (the base's own level class).
  virtual TzfBaseTransactionLevel* CreateTransactionLevel();
  virtual void Failed() { btFailed = true; }
  // Unless aForce, a level marked no-more-nested only counts the start.
  virtual void StartNested(bool aForce);
  virtual void Commit() = 0;
  virtual void Rollback() = 0;

  bool IsNested() const;
  bool LevelLocked() const;
  // 15443 when failed; else 10255 for a deadlocked and 15443 for a corrupted current level; 0.
  uint32_t CheckState() const;
  void Lock();
  void Unlock();
  void MarkCorrupted();
  void MarkDeadlock();
  void MarkNoMoreNested();
  bool IsSnapshot() const { return btState & (1u << static_cast<int>(TzfTransactionState::tsSnapshot)); }
  TzfBaseTransactionLevel* CurrentLevel() const { return btTransLevelsTail; }

  TzfBufferManager* btBufferManager;
  void* btOwningSession;
  bool btFailed = false;
  uint8_t btState = 0;
  TzfLSN btLSN = 0;
  TzfBaseJournalEngine* btJournal = nullptr;
  int32_t btSnapshotID = -1;
  TzfBlockSnapShotLink* btBlockSnapShotLinksHead = nullptr;
  TzfBlockSnapShotLink* btBlockSnapShotLinksTail = nullptr;
  TzfFileSnapShotLink* btFileSnapShotLinksHead = nullptr;
  TzfFileSnapShotLink* btFileSnapShotLinksTail = nullptr;
  TzfBaseTransactionLevel* btTransLevelsTail = nullptr;
  TzfReadOnlyBlock* btTransBlockListHead = nullptr;
  TzfReadOnlyBlock* btTransBlockListTail = nullptr;
  TzfBaseFile* btTransFileListHead = nullptr;
  TzfBaseFile* btTransFileListTail = nullptr;
  uint32_t btBlockCount = 0;
  bool btWriteThroughCommit = false;

 protected:
  // For deriving classes whose levels are of their own class: call after construction when
  // CreateTransactionLevel is overridden (the base constructor opens level 0 with the base class).
  void StartFirstLevel();
};

class TzfBaseTransactionMgr : public TzfObject {
 public:
  explicit TzfBaseTransactionMgr(TzfBufferManager* aBufferManager);
  ~TzfBaseTransactionMgr() override;
  // Creates the journal of a fail-safe transaction (the server's manager).
  virtual TzfBaseJournalEngine* CreateJournal() = 0;

  TzfPadlock* btmPadlock;
  TzfBufferManager* btmBufferManager;
  TzfBaseTransaction* btmSnapShotListHead = nullptr;
  TzfBaseTransaction* btmSnapShotListTail = nullptr;
};

// The journal of a fail-safe transaction. A commit calls PrepareJournal, AddBlock for every changed
// block of a non-temporary file and FinalizeJournal before any table file is written; only when
// FinalizeJournal returned may the table files be written, so that a crash in between can be
// repaired from the journal. The file format is the engine's own.
class TzfBaseJournalEngine : public TzfObject {
 public:
  explicit TzfBaseJournalEngine(UnicodeStringView aFileName) : bjeFileName(aFileName) {}
  virtual void PrepareJournal() = 0;
  virtual void AddBlock(TzfBaseTransaction* aTrans, TzfReadOnlyBlock* aBlock) = 0;
  virtual void FinalizeJournal() = 0;
  // The write-out of the journalled commit did not finish: the journal must stay on disk for the
  // next check of the folder to replay, even when the object is freed. Base: nothing.
  virtual void KeepForReplay() {}

  UnicodeString bjeFileName;
};

class TzfFlushList : public TzfObject {
 public:
  TzfFlushList() = default;
  // Frees the journal when one is still attached.
  ~TzfFlushList() override;

  // Stamps block 0 of every touched non-temporary file with the commit's LSN, sorts and grows each
  // file (PrepareFlushFile) and lists it; a failure takes every queued block back and passes on.
  // Runs under the buffer manager's padlock.
  void Prepare(TzfBaseTransaction* aTrans, bool aIsWTCommit);
  // Writes every listed file (fail-safe when forced or a journal is attached), then frees the
  // journal. Runs outside the padlock.
  void Flush(bool aForceFailSafe);

  TzfLSN flLSN = 0;
  std::vector<TzfBaseFile*> flList;
  TzfBaseJournalEngine* flJournal = nullptr;
  TzfBaseReplicationLog* flReplicationLog = nullptr;
};

}  // namespace zf
