// Server transactions and the table transaction locks they hold.
//
// A server transaction (TzfServerTransaction) is the buffer manager's storage transaction with,
// per level, the transaction locks it took on root tables: one link
// (TzfServerTransactionLevelTableLink) per table, shared for reading and exclusive for writing,
// held until the level ends. A nested commit moves a level's links to its parent; the outermost
// commit writes and releases them; a rollback releases the level's links (an upgrade gives its
// place back to the shared link it converts from).
//
// TzfTransLockTable is the lock side of a root table: its srtTransLinksPadlock, the pending list,
// the single pending-upgrade slot, the granted list and the snapshot-granted list, the decision
// (grant, wait, fail) and the failure text. The root table derives its commit and rollback hooks.
//
// TzfServerTransSlot holds a context's running transaction (stcTransaction under
// stcTransactionPadlock) with the start, commit, rollback and level operations of a context.
//
// Lock order: a table's srtCommitPadlock (taken by its commit hooks) before its
// srtTransLinksPadlock; srtTransLinksPadlock before a link's wait mutex (a leaf). A waiting
// requester holds nothing but its link's wait mutex; the timeout against a grant is decided
// under srtTransLinksPadlock.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>
#include <mutex>

#include "dictionary/zfsdAbstractSession.h"
#include "dictionary/zfsdOpenModes.h"
#include "foundation/zfllSync.h"
#include "storage/zfsrBufferManager.h"
#include "storage/zfsrTempStorage.h"
#include "storage/zfsrTransaction.h"

namespace zf {

class TzfAbstractSession;
class TzfServerTransaction;
class TzfServerTransactionLevel;
class TzfTransLockTable;

enum class TzfTransLinkState : uint8_t { ttlsPending, ttlsPendingUpgrade, ttlsGranted, ttlsFailed };

class TzfServerTransactionLevelTableLink : public TzfObject {
 public:
  // Decides and files the new link; the caller holds aTable's srtTransLinksPadlock.
  TzfServerTransactionLevelTableLink(TzfServerTransactionLevel* aTransactionLevel, TzfTransLockTable* aTable,
                                     bool aExclusive, TzfServerTransactionLevelTableLink* aConvertFrom,
                                     TzfLockFailureReason* aReason);
  // Clears the convert references and leaves the transaction, the level and the table.
  ~TzfServerTransactionLevelTableLink() override;

  // Waits for the decision of a pending link until the thread's deadline (only with more than
  // 5 ms left); 0 granted, 10249 otherwise. A link that times out leaves the table's lists under
  // srtTransLinksPadlock before it answers, so it can no longer be granted.
  uint32_t WaitFor();

  void ttlAddToTable();
  void ttlRemoveFromTable();
  void ttlAddToTransaction();
  void ttlRemoveFromTransaction();
  void ttlAddToLevel();
  void ttlRemoveFromLevel();
  void ttlFinishConvert();
  TzfServerTransaction* ttlTransaction() const;
  TzfTransLinkState State() const { return ttlState.load(std::memory_order_acquire); }
  // Sets the state and wakes the requester waiting on this link (under srtTransLinksPadlock).
  void ttlDecide(TzfTransLinkState aState);

  TzfLockFailureReason* ttlReason;
  bool ttlTransactionAdded = false;
  bool ttlTransactionLevelAdded = false;
  TzfServerTransactionLevel* ttlTransactionLevel;
  TzfServerTransactionLevelTableLink* ttlTransactionLevelPrev = nullptr;
  TzfServerTransactionLevelTableLink* ttlTransactionLevelNext = nullptr;
  TzfTransLockTable* ttlTable;
  TzfServerTransactionLevelTableLink* ttlTablePrev = nullptr;
  TzfServerTransactionLevelTableLink* ttlTableNext = nullptr;
  uint8_t ttlTableAdded = 0;  // which table list holds the link (0: none)
  bool ttlExclusive;
  bool ttlSnapshot = false;
  std::atomic<TzfTransLinkState> ttlState{TzfTransLinkState::ttlsPending};
  TzfServerTransactionLevelTableLink* ttlConvertFrom = nullptr;
  TzfServerTransactionLevelTableLink* ttlConvertTo = nullptr;
  // The wait: a requester that must wait sets ttlHasEvent; deciders notify under ttlWaitMutex.
  bool ttlHasEvent = false;
  std::mutex ttlWaitMutex;
  std::condition_variable ttlWaitCv;
};

using TzfTransLink = TzfServerTransactionLevelTableLink;

// The transaction-lock lists of one root table. Every operation on the lists runs under
// srtTransLinksPadlock.
class TzfTransLockTable {
 public:
  TzfTransLockTable() = default;
  virtual ~TzfTransLockTable() = default;
  TzfTransLockTable(const TzfTransLockTable&) = delete;
  TzfTransLockTable& operator=(const TzfTransLockTable&) = delete;

  virtual UnicodeString tltFullName() = 0;
  virtual TzfTableScope tltScope() { return tsPersistent; }
  // Commit hooks of an exclusively locked table: begin (before the buffer manager writes: takes
  // the commit padlock and puts the content portal in write mode), end (after the write: the
  // portal leaves write mode, the lock containers end the transaction), abort (a failed commit
  // after begin: the same release as end without anything written) and unlock (after the flush).
  virtual void srtBeginCommit(TzfBaseTransaction* /*aTrans*/) {}
  virtual void srtEndCommit(TzfBaseTransaction* /*aTrans*/) {}
  virtual void srtAbortCommit(TzfBaseTransaction* aTrans) { srtEndCommit(aTrans); }
  virtual void srtUnlockCommit(TzfBaseTransaction* /*aTrans*/) {}
  // The folder whose journal covers this table's files in a fail-safe commit, and that journal
  // (nil: the table's files are not journalled: temporary tables, in-memory or read-only folders).
  virtual const void* tltJournalFolder() { return nullptr; }
  virtual TzfBaseJournalEngine* tltCreateJournal() { return nullptr; }
  // Rollback hooks (the table's engines and lock containers for the transaction).
  virtual void sbtRollbackEngines(TzfBaseTransaction* /*aTrans*/) {}
  virtual void sbtEndTransaction(TzfBaseTransaction* /*aTrans*/) {}

  // 0 grant, 1 wait, 2 fail.
  int32_t srtCheckConflict(TzfTransLink* aLink);
  bool srtTryGrantLink(TzfTransLink* aLink);
  void srtGrantLink(TzfTransLink* aLink);
  void srtFailLink(TzfTransLink* aLink);
  void srtGrantPending();
  void srtBuildLockFailureReason(TzfTransLink* aLink, TzfTransLink* aConflict);
  // True when no link of any transaction is in a list of the table.
  bool srtTransLinksEmpty();
  // Checks the invariants of the lists (one exclusive and alone, at most one upgrade, each link
  // in the list of its state); answers an empty text or the first broken rule.
  UnicodeString srtCheckTransLinks();

  TzfPadlock srtTransLinksPadlock{true};
  TzfTransLink* srtTransLinksPendingUpgrade = nullptr;
  TzfTransLink* srtTransLinksPendingHead = nullptr;
  TzfTransLink* srtTransLinksPendingTail = nullptr;
  TzfTransLink* srtTransLinksGrantedHead = nullptr;
  TzfTransLink* srtTransLinksGrantedTail = nullptr;
  TzfTransLink* srtTransLinksSnapshotGrantedHead = nullptr;
  TzfTransLink* srtTransLinksSnapshotGrantedTail = nullptr;
};

class TzfServerTransactionLevel : public TzfBaseTransactionLevel {
 public:
  explicit TzfServerTransactionLevel(TzfServerTransaction* aTrans);
  TzfTransLink* stlTableLinksHead = nullptr;
  TzfTransLink* stlTableLinksTail = nullptr;
};

class TzfServerTransaction : public TzfBaseTransaction {
 public:
  // aOwningSession identifies the session (same-session conflicts); aSession is that session when
  // it is an engine session (its user information goes into conflict texts), else nil.
  TzfServerTransaction(TzfBufferManager* aBufferManager, void* aOwningSession, TzfAbstractSession* aSession,
                       bool aSnapshot, bool aFailSafe);
  // Frees the links still held (a transaction that failed to commit), then the storage part.
  ~TzfServerTransaction() override;

  TzfBaseTransactionLevel* CreateTransactionLevel() override;
  bool IsFailSafe() const { return btState & (1u << static_cast<int>(TzfTransactionState::tsFailsafe)); }
  // Ends the innermost level (or consumes a pending nested start); see the unit comment.
  void Commit() override;
  void Rollback() override;
  // True when the last level ended: the owner frees the transaction.
  bool Ended() const { return btTransLevelsTail == nullptr; }
  TzfServerTransactionLevel* Level() const { return static_cast<TzfServerTransactionLevel*>(btTransLevelsTail); }

  void stReleaseLevelLinks(TzfServerTransactionLevel* aLevel);
  // A fail-safe outermost commit gets the journal of the folder of the tables it writes; tables
  // of two folders cannot share one journal (12289, nothing written).
  void stAttachJournal(TzfServerTransactionLevel* aLevel);
  // Marks aLevel (and every deeper one) deadlocked and rolls their blocks and links back; the
  // levels stay, answering 10255 until the client rolls back.
  void stRollbackDeadlocked(TzfServerTransactionLevel* aLevel);

  // A transaction lock on aTable for the current level: joins the link held, upgrades a shared
  // link, or asks for a new one (waiting unless aConditional). 0 granted; 10249 time out;
  // 10254 conflict in the same session; 10255 deadlock (another upgrade pending: the level is
  // rolled back); 10763 exclusive on a snapshot link (also on the first request of a snapshot
  // transaction, whose new link is shared). aReason receives the conflict text.
  uint32_t stLockTable(TzfTransLockTable* aTable, bool aExclusive, bool aConditional, TzfLockFailureReason* aReason);
  // The link the transaction holds on aTable, or nil.
  TzfTransLink* stFindLink(TzfTransLockTable* aTable) const;

  TzfAbstractSession* stSession;
  std::map<TzfTransLockTable*, TzfTransLink*> stTableLinks;
};

// A transaction context's running transaction and its operations (the context's workers).
class TzfServerTransSlot {
 public:
  explicit TzfServerTransSlot(TzfBufferManager* aBufferManager, void* aOwningSession = nullptr,
                              TzfAbstractSession* aSession = nullptr);
  virtual ~TzfServerTransSlot();  // rolls back
  TzfServerTransSlot(const TzfServerTransSlot&) = delete;
  TzfServerTransSlot& operator=(const TzfServerTransSlot&) = delete;

  // The extenders hear of starts, commits and rollbacks (the context's; none here).
  virtual uint32_t stcNotify(TzfEngineAction /*aAction*/, bool /*aBefore*/, const TzfActionArgs& /*aArgs*/) {
    return 0;
  }

  uint32_t stcTransactionStart(bool aFailSafe, bool aSnapShot, bool aOverrideForceFailsafe, bool aNoMoreNested,
                               bool aForceNested);
  // A start after which every cursor of aCursors holds the exclusive lock on its table in the new
  // level. Each must be a table cursor of a database on this context (9990 otherwise, nothing
  // started); the first lock refused rolls the new level (or transaction) back and is answered.
  uint32_t stcTransactionStartWith(bool aFailSafe, bool aSnapShot, const std::vector<TzfAbstractCursor*>& aCursors,
                                   bool aOverrideForceFailsafe, bool aNoMoreNested, bool aForceNested);
  uint32_t stcTransactionCommit();
  uint32_t stcTransactionRollback();
  uint32_t stcTransactionMarkCorrupted();
  uint32_t TransactionGetLevel(int32_t& aTransLevel);
  void atcForceRollback();
  void Failed();
  TzfServerTransaction* Transaction();

  TzfBufferManager* stcBufferManager;
  void* stcOwningSession;
  TzfAbstractSession* stcSession;
  TzfPadlock stcTransactionPadlock;
  TzfServerTransaction* stcTransaction = nullptr;
  bool stcForceFailSafe = false;
  std::atomic<bool> stcFailed{false};

 private:
  // The start; aAfterStart (may be empty) runs after the new level exists and before the
  // extenders hear of it: a non-zero answer or an exception takes the level back.
  uint32_t stcStart(bool aFailSafe, bool aSnapShot, bool aOverrideForceFailsafe, bool aNoMoreNested,
                    bool aForceNested, const std::function<uint32_t()>& aAfterStart);
  void FreeIfEnded();
};

// The engine's transaction context: the databases of a session share it for transaction control.
// Each operation runs in the public operation frame (deadline, session lock, worker, unlock).
class TzfServerTransContext : public TzfAbstractTransContext, public TzfServerTransSlot {
 public:
  TzfServerTransContext(TzfAbstractSession* aSession, uint32_t aTimeout, TzfBufferManager* aBufferManager);
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  uint32_t TransactionStart(bool aFailSafe, bool aSnapShot) override;
  // Every cursor must be a table cursor of a database on this context (9990); each then holds the
  // exclusive lock on its table in the new level.
  uint32_t TransactionStartWith(bool aFailSafe, bool aSnapShot, const std::vector<TzfAbstractCursor*>& aCursors) override;
  uint32_t TransactionCommit() override;
  uint32_t TransactionRollback() override;
  uint32_t TransactionCorrupted() override;
  uint32_t TransactionGetLevel(int32_t& aTransLevel) override;
  void atcForceRollback() override { TzfServerTransSlot::atcForceRollback(); }
  void Failed() override;
  uint32_t stcNotify(TzfEngineAction aAction, bool aBefore, const TzfActionArgs& aArgs) override {
    return NotifyExtenders(aAction, aBefore, aArgs);
  }

 private:
  uint32_t Framed(const std::function<uint32_t()>& aWork);
};

}  // namespace zf
