#include "server/zfsrServerTransaction.h"

#include <chrono>
#include <vector>

#include "dictionary/zfsdAbstractSession.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "server/zfsrServerEngineComponent.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

namespace {
constexpr const char* kUnit = "zfsrServerTransaction";

// Which list of its table a link is filed in.
enum : uint8_t { kListNone, kListPending, kListUpgrade, kListGranted, kListSnapshot };

void Append(TzfTransLink*& aHead, TzfTransLink*& aTail, TzfTransLink* aLink) {
  aLink->ttlTablePrev = aTail;
  aLink->ttlTableNext = nullptr;
  if (aTail) aTail->ttlTableNext = aLink; else aHead = aLink;
  aTail = aLink;
}

void Unlink(TzfTransLink*& aHead, TzfTransLink*& aTail, TzfTransLink* aLink) {
  if (aLink->ttlTablePrev) aLink->ttlTablePrev->ttlTableNext = aLink->ttlTableNext; else aHead = aLink->ttlTableNext;
  if (aLink->ttlTableNext) aLink->ttlTableNext->ttlTablePrev = aLink->ttlTablePrev; else aTail = aLink->ttlTablePrev;
  aLink->ttlTablePrev = aLink->ttlTableNext = nullptr;
}

const char16_t* Bool01(bool aValue) { return aValue ? u"1" : u"0"; }
const char16_t* Mode(bool aExclusive) { return aExclusive ? u"exclusive" : u"shared"; }
}  // namespace

// ---- TzfServerTransactionLevelTableLink -------------------------------------------------------

TzfServerTransactionLevelTableLink::TzfServerTransactionLevelTableLink(TzfServerTransactionLevel* aTransactionLevel,
                                                                       TzfTransLockTable* aTable, bool aExclusive,
                                                                       TzfTransLink* aConvertFrom,
                                                                       TzfLockFailureReason* aReason)
    : ttlReason(aReason), ttlTransactionLevel(aTransactionLevel), ttlTable(aTable), ttlExclusive(aExclusive) {
  TzfServerTransaction* trans = ttlTransaction();
  if (trans->IsSnapshot() && aTable->tltScope() != tsTempUnnamed) {
    // A snapshot reads its own view: granted without a check, never exclusive.
    ttlSnapshot = true;
    ttlExclusive = false;
    ttlReason = nullptr;
    ttlState.store(TzfTransLinkState::ttlsGranted);
    ttlAddToTransaction();
    ttlAddToLevel();
    ttlAddToTable();
    return;
  }
  if (aConvertFrom) {
    ZF_ASSERT(aConvertFrom->ttlTable == aTable && aConvertFrom->ttlTransaction() == trans &&
                  aConvertFrom->ttlTransactionLevel->tlLevel <= aTransactionLevel->tlLevel &&
                  aConvertFrom->ttlConvertTo == nullptr,
              kUnit);
    ttlConvertFrom = aConvertFrom;
    aConvertFrom->ttlConvertTo = this;
    ttlState.store(TzfTransLinkState::ttlsPendingUpgrade);
    switch (aTable->srtCheckConflict(this)) {
      case 0:
        ttlReason = nullptr;
        ttlState.store(TzfTransLinkState::ttlsGranted);
        ttlFinishConvert();
        break;
      case 1: ttlAddToTable(); break;
      default: ttlState.store(TzfTransLinkState::ttlsFailed); break;
    }
    return;
  }
  switch (aTable->srtCheckConflict(this)) {
    case 0:
      ttlReason = nullptr;
      ttlState.store(TzfTransLinkState::ttlsGranted);
      break;
    case 1: ttlState.store(TzfTransLinkState::ttlsPending); break;
    default: ttlState.store(TzfTransLinkState::ttlsFailed); return;
  }
  ttlAddToTransaction();
  ttlAddToLevel();
  ttlAddToTable();
}

TzfServerTransactionLevelTableLink::~TzfServerTransactionLevelTableLink() {
  TzfPadlockGuard guard(ttlTable->srtTransLinksPadlock);
  if (ttlConvertFrom && ttlConvertFrom->ttlConvertTo == this) ttlConvertFrom->ttlConvertTo = nullptr;
  if (ttlConvertTo && ttlConvertTo->ttlConvertFrom == this) ttlConvertTo->ttlConvertFrom = nullptr;
  ttlConvertFrom = ttlConvertTo = nullptr;
  ttlRemoveFromTransaction();
  ttlRemoveFromLevel();
  const bool wasFiled = ttlTableAdded;
  ttlRemoveFromTable();
  // Whoever waited behind this link is examined now, not at the next commit on the table.
  if (wasFiled) ttlTable->srtGrantPending();
}

TzfServerTransaction* TzfServerTransactionLevelTableLink::ttlTransaction() const {
  return static_cast<TzfServerTransaction*>(ttlTransactionLevel->tlTransaction);
}

void TzfServerTransactionLevelTableLink::ttlDecide(TzfTransLinkState aState) {
  std::lock_guard<std::mutex> lock(ttlWaitMutex);
  ttlState.store(aState, std::memory_order_release);
  ttlWaitCv.notify_all();
}

uint32_t TzfServerTransactionLevelTableLink::WaitFor() {
  auto undecided = [this] {
    const TzfTransLinkState s = State();
    return s == TzfTransLinkState::ttlsPending || s == TzfTransLinkState::ttlsPendingUpgrade;
  };
  const int32_t left = zfRemainingTimeout();
  if (ttlHasEvent && left > 5 && undecided()) {
    std::unique_lock<std::mutex> lock(ttlWaitMutex);
    ttlWaitCv.wait_for(lock, std::chrono::milliseconds(left), [&] { return !undecided(); });
  }
  // The decision against a late grant is made under the table's padlock: a link still waiting
  // leaves the lists here, so nobody can grant it after it answered the time out.
  TzfPadlockGuard guard(ttlTable->srtTransLinksPadlock);
  if (State() == TzfTransLinkState::ttlsGranted) return 0;
  if (ttlTableAdded) {
    ttlRemoveFromTable();
    ttlTable->srtGrantPending();
  }
  ttlState.store(TzfTransLinkState::ttlsFailed);
  return 10249;
}

void TzfServerTransactionLevelTableLink::ttlAddToTable() {
  ZF_ASSERT(!ttlTableAdded, kUnit);
  TzfTransLockTable* t = ttlTable;
  switch (State()) {
    case TzfTransLinkState::ttlsPending:
      Append(t->srtTransLinksPendingHead, t->srtTransLinksPendingTail, this);
      ttlTableAdded = kListPending;
      break;
    case TzfTransLinkState::ttlsPendingUpgrade:
      ZF_ASSERT(t->srtTransLinksPendingUpgrade == nullptr, kUnit);
      t->srtTransLinksPendingUpgrade = this;
      ttlTableAdded = kListUpgrade;
      break;
    case TzfTransLinkState::ttlsGranted:
      if (ttlSnapshot) {
        Append(t->srtTransLinksSnapshotGrantedHead, t->srtTransLinksSnapshotGrantedTail, this);
        ttlTableAdded = kListSnapshot;
      } else {
        Append(t->srtTransLinksGrantedHead, t->srtTransLinksGrantedTail, this);
        ttlTableAdded = kListGranted;
      }
      break;
    default: break;
  }
}

void TzfServerTransactionLevelTableLink::ttlRemoveFromTable() {
  TzfTransLockTable* t = ttlTable;
  switch (ttlTableAdded) {
    case kListPending: Unlink(t->srtTransLinksPendingHead, t->srtTransLinksPendingTail, this); break;
    case kListUpgrade:
      if (t->srtTransLinksPendingUpgrade == this) t->srtTransLinksPendingUpgrade = nullptr;
      break;
    case kListGranted: Unlink(t->srtTransLinksGrantedHead, t->srtTransLinksGrantedTail, this); break;
    case kListSnapshot: Unlink(t->srtTransLinksSnapshotGrantedHead, t->srtTransLinksSnapshotGrantedTail, this); break;
    default: break;
  }
  ttlTableAdded = kListNone;
}

void TzfServerTransactionLevelTableLink::ttlAddToTransaction() {
  ttlTransaction()->stTableLinks[ttlTable] = this;
  ttlTransactionAdded = true;
}

void TzfServerTransactionLevelTableLink::ttlRemoveFromTransaction() {
  if (!ttlTransactionAdded) return;
  auto& links = ttlTransaction()->stTableLinks;
  auto it = links.find(ttlTable);
  if (it != links.end() && it->second == this) links.erase(it);
  ttlTransactionAdded = false;
}

void TzfServerTransactionLevelTableLink::ttlAddToLevel() {
  if (ttlTransactionLevelAdded) return;
  TzfServerTransactionLevel* l = ttlTransactionLevel;
  ttlTransactionLevelPrev = l->stlTableLinksTail;
  ttlTransactionLevelNext = nullptr;
  if (l->stlTableLinksTail) l->stlTableLinksTail->ttlTransactionLevelNext = this; else l->stlTableLinksHead = this;
  l->stlTableLinksTail = this;
  ttlTransactionLevelAdded = true;
}

void TzfServerTransactionLevelTableLink::ttlRemoveFromLevel() {
  if (!ttlTransactionLevelAdded) return;
  TzfServerTransactionLevel* l = ttlTransactionLevel;
  if (ttlTransactionLevelPrev) ttlTransactionLevelPrev->ttlTransactionLevelNext = ttlTransactionLevelNext;
  else l->stlTableLinksHead = ttlTransactionLevelNext;
  if (ttlTransactionLevelNext) ttlTransactionLevelNext->ttlTransactionLevelPrev = ttlTransactionLevelPrev;
  else l->stlTableLinksTail = ttlTransactionLevelPrev;
  ttlTransactionLevelPrev = ttlTransactionLevelNext = nullptr;
  ttlTransactionLevelAdded = false;
}

void TzfServerTransactionLevelTableLink::ttlFinishConvert() {
  TzfTransLink* old = ttlConvertFrom;
  if (old) {
    old->ttlRemoveFromTransaction();
    old->ttlRemoveFromTable();
    if (old->ttlTransactionLevel == ttlTransactionLevel) {
      old->ttlRemoveFromLevel();
      delete old;  // clears both convert references
    }
    // A shared link of a lower level stays in its level's chain: a rollback of this level
    // gives it its place back.
  }
  ttlAddToTransaction();
  ttlAddToLevel();
  ttlAddToTable();
}

// ---- TzfTransLockTable ------------------------------------------------------------------------

int32_t TzfTransLockTable::srtCheckConflict(TzfTransLink* aLink) {
  if (aLink->ttlReason) aLink->ttlReason->Clear();
  if (!srtTransLinksGrantedHead) return 0;
  if (aLink->ttlExclusive) {
    if (srtTransLinksGrantedHead == srtTransLinksGrantedTail && srtTransLinksGrantedHead == aLink->ttlConvertFrom)
      return 0;
    void* session = aLink->ttlTransaction()->btOwningSession;
    if (!session) return 1;
    TzfTransLink* last = nullptr;
    for (TzfTransLink* g = srtTransLinksGrantedHead; g; g = g->ttlTableNext) {
      if (g == aLink->ttlConvertFrom) continue;
      last = g;
      if (g->ttlTransaction()->btOwningSession == session) {
        srtBuildLockFailureReason(aLink, g);
        return 2;
      }
    }
    srtBuildLockFailureReason(aLink, last);
    return 1;
  }
  if (srtTransLinksGrantedHead->ttlExclusive) {
    srtBuildLockFailureReason(aLink, srtTransLinksGrantedHead);
    return 1;
  }
  return 0;
}

bool TzfTransLockTable::srtTryGrantLink(TzfTransLink* aLink) {
  switch (srtCheckConflict(aLink)) {
    case 0: srtGrantLink(aLink); return true;
    case 2: srtFailLink(aLink); return true;
    default: return false;
  }
}

void TzfTransLockTable::srtGrantLink(TzfTransLink* aLink) {
  aLink->ttlRemoveFromTable();
  aLink->ttlReason = nullptr;
  const bool upgrade = aLink->State() == TzfTransLinkState::ttlsPendingUpgrade;
  // Filed and converted first; the state that wakes the requester is stored last.
  aLink->ttlState.store(TzfTransLinkState::ttlsGranted);
  if (upgrade)
    aLink->ttlFinishConvert();
  else
    aLink->ttlAddToTable();
  aLink->ttlDecide(TzfTransLinkState::ttlsGranted);
}

void TzfTransLockTable::srtFailLink(TzfTransLink* aLink) {
  aLink->ttlRemoveFromTable();
  aLink->ttlDecide(TzfTransLinkState::ttlsFailed);
}

void TzfTransLockTable::srtGrantPending() {
  if (srtTransLinksPendingUpgrade) {
    srtTryGrantLink(srtTransLinksPendingUpgrade);
    return;
  }
  while (srtTransLinksPendingHead && srtTryGrantLink(srtTransLinksPendingHead)) {
  }
}

void TzfTransLockTable::srtBuildLockFailureReason(TzfTransLink* aLink, TzfTransLink* aConflict) {
  TzfLockFailureReason* reason = aLink->ttlReason;
  if (!reason) return;
  aLink->ttlReason = nullptr;
  reason->Clear();
  TzfServerTransaction* trans = aLink->ttlTransaction();
  TzfServerTransaction* other = aConflict ? aConflict->ttlTransaction() : nullptr;
  const bool multiple =
      aConflict && ((aConflict->ttlTablePrev && aConflict->ttlTablePrev != aLink->ttlConvertFrom) ||
                    (aConflict->ttlTableNext && aConflict->ttlTableNext != aLink->ttlConvertFrom));
  UnicodeString line = u"The requested ";
  line += Mode(aLink->ttlExclusive);
  line += u" transaction lock";
  line += aLink->ttlConvertFrom ? u" upgrade " : u" ";
  line += u"for table \"";
  line += tltFullName();
  if (aConflict) {
    line += u"\" could not be granted due to ";
    if (multiple) {
      line += u"multiple conflicting ";
      line += Mode(aConflict->ttlExclusive);
      line += u" locks.";
    } else {
      line += u"a conflicting ";
      line += Mode(aConflict->ttlExclusive);
      line += u" transaction lock.";
    }
    line += zfEncodeCustomInfo(u"LockError.Type", u"transaction");
    line += zfEncodeCustomInfo(u"LockError.RequestExclusive", Bool01(aLink->ttlExclusive));
    line += zfEncodeCustomInfo(u"LockError.ConflictExclusive", Bool01(aConflict->ttlExclusive));
    line += zfEncodeCustomInfo(u"LockError.ConflictMultiple", Bool01(multiple));
  } else {
    line += u"\" could not be granted.";
    line += zfEncodeCustomInfo(u"LockError.Type", u"transaction");
    line += zfEncodeCustomInfo(u"LockError.RequestExclusive", Bool01(aLink->ttlExclusive));
  }
  reason->Add(line);
  reason->Add(UnicodeString());
  TzfAbstractSession* conflictSession = other ? other->stSession : nullptr;
  if (!conflictSession) {
    reason->Add(UnicodeString(u"The conflict occured with an unknown session.") +
                zfEncodeCustomInfo(u"LockError.UnknownSession", u"1"));
  } else if (conflictSession == trans->stSession) {
    reason->Add(zfEncodeCustomInfo(u"LockError.SameSession", u"1"));
    reason->SameSession = true;
  } else {
    reason->Add(multiple ? u"One of the conflicting Sessions is:" : u"The conflict occured with the following session:");
    conflictSession->GetUserInfo(*reason);
  }
  // A conflict with a transaction of the requesting session is reported as such even when the
  // session is not an engine session (it is known by its identity).
  if (!conflictSession && other && other->btOwningSession && other->btOwningSession == trans->btOwningSession)
    reason->SameSession = true;
}

bool TzfTransLockTable::srtTransLinksEmpty() {
  TzfPadlockGuard guard(srtTransLinksPadlock);
  return !srtTransLinksPendingUpgrade && !srtTransLinksPendingHead && !srtTransLinksGrantedHead &&
         !srtTransLinksSnapshotGrantedHead;
}

UnicodeString TzfTransLockTable::srtCheckTransLinks() {
  TzfPadlockGuard guard(srtTransLinksPadlock);
  int32_t granted = 0, exclusive = 0;
  for (TzfTransLink* l = srtTransLinksGrantedHead; l; l = l->ttlTableNext) {
    if (l->State() != TzfTransLinkState::ttlsGranted || l->ttlSnapshot) return u"granted list: link of another state";
    ++granted;
    if (l->ttlExclusive) ++exclusive;
    if (!l->ttlTableNext && l != srtTransLinksGrantedTail) return u"granted list: broken tail";
  }
  if (exclusive > 0 && granted != 1) return u"an exclusive link is not alone";
  for (TzfTransLink* l = srtTransLinksPendingHead; l; l = l->ttlTableNext)
    if (l->State() != TzfTransLinkState::ttlsPending) return u"pending list: link of another state";
  if (srtTransLinksPendingUpgrade && (srtTransLinksPendingUpgrade->State() != TzfTransLinkState::ttlsPendingUpgrade ||
                                      !srtTransLinksPendingUpgrade->ttlConvertFrom))
    return u"upgrade slot: not an upgrade";
  for (TzfTransLink* l = srtTransLinksSnapshotGrantedHead; l; l = l->ttlTableNext)
    if (!l->ttlSnapshot || l->ttlExclusive) return u"snapshot list: not a shared snapshot link";
  return UnicodeString();
}

// ---- TzfServerTransactionLevel / TzfServerTransaction ------------------------------------------

TzfServerTransactionLevel::TzfServerTransactionLevel(TzfServerTransaction* aTrans) : TzfBaseTransactionLevel(aTrans) {}

TzfServerTransaction::TzfServerTransaction(TzfBufferManager* aBufferManager, void* aOwningSession,
                                           TzfAbstractSession* aSession, bool aSnapshot, bool aFailSafe)
    : TzfBaseTransaction(aBufferManager, aOwningSession, aSnapshot, aFailSafe), stSession(aSession) {
  if (aFailSafe) btState |= 1u << static_cast<int>(TzfTransactionState::tsFailsafe);
  StartFirstLevel();
}

void TzfServerTransaction::stAttachJournal(TzfServerTransactionLevel* aLevel) {
  if (!IsFailSafe() || btJournal) return;
  TzfTransLockTable* journalled = nullptr;
  const void* folder = nullptr;
  for (TzfTransLink* link = aLevel->stlTableLinksHead; link; link = link->ttlTransactionLevelNext) {
    if (link->State() != TzfTransLinkState::ttlsGranted || !link->ttlExclusive) continue;
    const void* f = link->ttlTable->tltJournalFolder();
    if (!f) continue;
    if (!folder) {
      folder = f;
      journalled = link->ttlTable;
    } else if (f != folder) {
      // The journal names its files without their folder: replayed in one folder it would write
      // the other folder's images into files of the same name.
      throw EzfServerEngineException(zfErrNotSupported,
                                     u"A fail-safe transaction cannot write the tables of more than one folder");
    }
  }
  if (journalled) btJournal = journalled->tltCreateJournal();
}

TzfServerTransaction::~TzfServerTransaction() {
  for (TzfBaseTransactionLevel* l = btTransLevelsTail; l; l = l->tlPrev) {
    auto* level = static_cast<TzfServerTransactionLevel*>(l);
    while (TzfTransLink* link = level->stlTableLinksHead) {
      TzfTransLockTable* table = link->ttlTable;
      table->sbtRollbackEngines(this);
      table->sbtEndTransaction(this);
      delete link;
    }
  }
}

TzfBaseTransactionLevel* TzfServerTransaction::CreateTransactionLevel() { return new TzfServerTransactionLevel(this); }

TzfTransLink* TzfServerTransaction::stFindLink(TzfTransLockTable* aTable) const {
  auto it = stTableLinks.find(aTable);
  return it == stTableLinks.end() ? nullptr : it->second;
}

void TzfServerTransaction::Commit() {
  TzfServerTransactionLevel* level = Level();
  ZF_ASSERT(level != nullptr, kUnit);
  if (IsNested()) {
    if (!level->StopNested()) return;  // only a counted start ended
    btBufferManager->CommitTransaction(this, nullptr, false);
    auto* parent = static_cast<TzfServerTransactionLevel*>(level->tlPrev);
    while (TzfTransLink* link = level->stlTableLinksHead) {
      TzfPadlockGuard guard(link->ttlTable->srtTransLinksPadlock);
      link->ttlRemoveFromLevel();
      link->ttlTransactionLevel = parent;
      link->ttlAddToLevel();
      TzfTransLink* old = link->ttlConvertFrom;
      if (old && old->ttlTransactionLevel == parent) {
        old->ttlRemoveFromLevel();
        delete old;
      }
    }
    delete level;
    if (btWriteThroughCommit && !IsNested()) {
      btWriteThroughCommit = false;
      btBufferManager->CommitTransaction(this, nullptr, true);
    }
    return;
  }

  // Outermost: write the level and release every link.
  TzfFlushList flushList;
  std::vector<TzfTransLink*> begun;  // links whose table began the commit
  std::vector<bool> ended;
  auto release = [](TzfTransLink* aLink) {
    TzfPadlockGuard guard(aLink->ttlTable->srtTransLinksPadlock);
    aLink->ttlRemoveFromTable();
    aLink->ttlTable->srtGrantPending();
  };
  auto finish = [&]() {
    for (size_t i = 0; i < begun.size(); ++i) {
      TzfTransLink* link = begun[i];
      if (!ended[i]) {
        // A commit that failed after the table began it: the portal leaves write mode and the
        // lock containers end the transaction, so readers of the table are not kept out.
        try {
          link->ttlTable->srtAbortCommit(this);
        } catch (...) {
        }
        release(link);
      }
      link->ttlTable->srtUnlockCommit(this);
      delete link;
    }
    begun.clear();
    // Links a failed step never reached leave their tables too.
    while (TzfTransLink* link = level->stlTableLinksHead) {
      release(link);
      delete link;
    }
  };
  // Before anything begins: a refused journal leaves the level as it was, for the client's rollback.
  stAttachJournal(level);
  try {
    TzfTransLink* next = nullptr;
    for (TzfTransLink* link = level->stlTableLinksHead; link; link = next) {
      next = link->ttlTransactionLevelNext;
      if (link->State() == TzfTransLinkState::ttlsGranted && link->ttlExclusive) {
        link->ttlTable->srtBeginCommit(this);
        begun.push_back(link);
        ended.push_back(false);
      } else {
        release(link);
        delete link;
      }
    }
    btBufferManager->CommitTransaction(this, &flushList, false);
    for (size_t i = 0; i < begun.size(); ++i) {
      begun[i]->ttlTable->srtEndCommit(this);
      ended[i] = true;
      release(begun[i]);
    }
    flushList.Flush(false);
  } catch (...) {
    finish();
    throw;
  }
  finish();
  delete level;
}

void TzfServerTransaction::Rollback() {
  TzfServerTransactionLevel* level = Level();
  ZF_ASSERT(level != nullptr, kUnit);
  if (!level->StopNested()) {
    // The work of a counted start cannot be undone alone: the enclosing commit must fail.
    level->MarkCorrupted();
    return;
  }
  btBufferManager->RollbackTransaction(this);
  stReleaseLevelLinks(level);
  delete level;
}

void TzfServerTransaction::stReleaseLevelLinks(TzfServerTransactionLevel* aLevel) {
  while (TzfTransLink* link = aLevel->stlTableLinksHead) {
    TzfTransLockTable* table = link->ttlTable;
    TzfPadlockGuard guard(table->srtTransLinksPadlock);
    if (TzfTransLink* old = link->ttlConvertFrom) {
      // The upgrade gives its place back to the shared link it converts from.
      link->ttlRemoveFromTable();
      link->ttlRemoveFromTransaction();
      link->ttlRemoveFromLevel();
      old->ttlConvertTo = nullptr;
      link->ttlConvertFrom = nullptr;
      if (!old->ttlTableAdded) {
        old->ttlAddToTransaction();
        old->ttlAddToTable();
      }
      delete link;
    } else {
      table->sbtRollbackEngines(this);
      table->sbtEndTransaction(this);
      delete link;
    }
    table->srtGrantPending();
  }
  for (TzfBaseTransactionLevel* l = aLevel->tlPrev; l; l = l->tlPrev)
    for (TzfTransLink* link = static_cast<TzfServerTransactionLevel*>(l)->stlTableLinksHead; link;
         link = link->ttlTransactionLevelNext)
      link->ttlTable->sbtRollbackEngines(this);
}

void TzfServerTransaction::stRollbackDeadlocked(TzfServerTransactionLevel* aLevel) {
  aLevel->MarkDeadlock();
  for (TzfBaseTransactionLevel* l = btTransLevelsTail; l && l != aLevel; l = l->tlPrev) {
    btBufferManager->RollbackTransactionLevel(l);
    stReleaseLevelLinks(static_cast<TzfServerTransactionLevel*>(l));
  }
  btBufferManager->RollbackTransactionLevel(aLevel);
  stReleaseLevelLinks(aLevel);
}

uint32_t TzfServerTransaction::stLockTable(TzfTransLockTable* aTable, bool aExclusive, bool aConditional,
                                           TzfLockFailureReason* aReason) {
  if (const uint32_t state = CheckState()) return state;
  TzfLockFailureReason localReason;
  TzfLockFailureReason* reason = aReason ? aReason : &localReason;
  reason->Clear();
  TzfServerTransactionLevel* level = Level();
  TzfTransLink* link = nullptr;
  {
    TzfPadlockGuard guard(aTable->srtTransLinksPadlock);
    TzfTransLink* held = stFindLink(aTable);
    if (held) {
      if (held->ttlSnapshot) return aExclusive ? zfErrTableReadOnly : 0;
      if (!aExclusive || held->ttlExclusive) return 0;  // joins the link held
      if (held->ttlTransactionLevel == level && aTable->srtTransLinksGrantedHead == held &&
          aTable->srtTransLinksGrantedTail == held) {
        held->ttlExclusive = true;  // the only reader becomes the writer in place
        return 0;
      }
      if (!aTable->srtTransLinksPendingUpgrade) link = new TzfTransLink(level, aTable, true, held, reason);
    } else {
      link = new TzfTransLink(level, aTable, aExclusive, nullptr, reason);
    }
    // A snapshot link is granted shared whatever was asked: a write through it is refused.
    if (link && link->ttlSnapshot) return aExclusive ? zfErrTableReadOnly : 0;
    if (link && link->State() == TzfTransLinkState::ttlsGranted) return 0;
    if (link && link->State() != TzfTransLinkState::ttlsFailed && !aConditional) link->ttlHasEvent = true;
  }
  if (!link) {
    // Two upgrades of one table wait for each other: this level gives way.
    stRollbackDeadlocked(level);
    return 10255;
  }
  uint32_t result = link->State() == TzfTransLinkState::ttlsFailed ? 10249 : link->WaitFor();
  if (result == 0) return 0;
  delete link;
  if (reason->SameSession) result = 10254;
  return result;
}

// ---- TzfServerTransSlot -----------------------------------------------------------------------

TzfServerTransSlot::TzfServerTransSlot(TzfBufferManager* aBufferManager, void* aOwningSession,
                                       TzfAbstractSession* aSession)
    : stcBufferManager(aBufferManager), stcOwningSession(aOwningSession), stcSession(aSession) {}

TzfServerTransSlot::~TzfServerTransSlot() {
  try {
    atcForceRollback();
  } catch (...) {
  }
  TzfPadlockGuard guard(stcTransactionPadlock);
  zfFreeAndNil(stcTransaction);
}

TzfServerTransaction* TzfServerTransSlot::Transaction() {
  TzfPadlockGuard guard(stcTransactionPadlock);
  return stcTransaction;
}

void TzfServerTransSlot::FreeIfEnded() {
  if (stcTransaction && stcTransaction->Ended()) zfFreeAndNil(stcTransaction);
}

uint32_t TzfServerTransSlot::stcTransactionStart(bool aFailSafe, bool aSnapShot, bool aOverrideForceFailsafe,
                                                 bool aNoMoreNested, bool aForceNested) {
  return stcStart(aFailSafe, aSnapShot, aOverrideForceFailsafe, aNoMoreNested, aForceNested, nullptr);
}

uint32_t TzfServerTransSlot::stcStart(bool aFailSafe, bool aSnapShot, bool aOverrideForceFailsafe, bool aNoMoreNested,
                                      bool aForceNested, const std::function<uint32_t()>& aAfterStart) {
  TzfPadlockGuard guard(stcTransactionPadlock);
  try {
    TzfBaseTransaction* before = stcTransaction;
    if (TzfServerTransaction* t = stcTransaction) {
      if (stcFailed) t->MarkCorrupted();
      if (const uint32_t state = t->CheckState()) return state;
      if (const uint32_t veto = stcNotify(eaTransactionStart, true, {aFailSafe, aSnapShot, before, aForceNested}))
        return veto;
      t->StartNested(aForceNested);
    } else {
      if (stcFailed) return 15443;
      if (const uint32_t veto = stcNotify(eaTransactionStart, true, {aFailSafe, aSnapShot, before, aForceNested}))
        return veto;
      stcTransaction = new TzfServerTransaction(stcBufferManager, stcOwningSession, stcSession, aSnapShot,
                                                aFailSafe || (stcForceFailSafe && !aOverrideForceFailsafe));
    }
    if (aAfterStart) {
      // The new level (or transaction) is taken back when the work after the start fails.
      uint32_t r = 0;
      try {
        r = aAfterStart();
      } catch (...) {
        stcTransaction->Rollback();
        FreeIfEnded();
        throw;
      }
      if (r != 0) {
        stcTransaction->Rollback();
        FreeIfEnded();
        return r;
      }
    }
    stcNotify(eaTransactionStart, false,
              {aFailSafe, aSnapShot, static_cast<TzfBaseTransaction*>(before ? before : stcTransaction), aForceNested});
    if (aNoMoreNested) stcTransaction->MarkNoMoreNested();
    return 0;
  } catch (const EzfBaseException& e) {
    return e.ErrorCode();
  }
}

uint32_t TzfServerTransSlot::stcTransactionCommit() {
  TzfPadlockGuard guard(stcTransactionPadlock);
  TzfServerTransaction* t = stcTransaction;
  if (!t) return 10257;
  try {
    if (t->LevelLocked())
      throw EzfServerEngineException(8455, u"The current transaction level is in use. Can't commit or rollback");
    if (stcFailed) t->MarkCorrupted();
    if (const uint32_t state = t->CheckState()) return state;
    if (const uint32_t veto = stcNotify(eaTransactionCommit, true, {})) return veto;
    t->Commit();
    FreeIfEnded();
    stcNotify(eaTransactionCommit, false, {});
    return 0;
  } catch (const EzfBaseException& e) {
    return e.ErrorCode();
  }
}

uint32_t TzfServerTransSlot::stcTransactionRollback() {
  TzfPadlockGuard guard(stcTransactionPadlock);
  TzfServerTransaction* t = stcTransaction;
  if (!t) return 10257;
  try {
    if (t->LevelLocked())
      throw EzfServerEngineException(8455, u"The current transaction level is in use. Can't commit or rollback");
    stcNotify(eaTransactionRollback, true, {});  // a rollback cannot be vetoed
    t->Rollback();
    FreeIfEnded();
    stcNotify(eaTransactionRollback, false, {});
    return 0;
  } catch (const EzfBaseException& e) {
    return e.ErrorCode();
  }
}

uint32_t TzfServerTransSlot::stcTransactionMarkCorrupted() {
  TzfPadlockGuard guard(stcTransactionPadlock);
  if (!stcTransaction) return 10257;
  stcTransaction->MarkCorrupted();
  return 0;
}

uint32_t TzfServerTransSlot::TransactionGetLevel(int32_t& aTransLevel) {
  TzfPadlockGuard guard(stcTransactionPadlock);
  if (!stcTransaction) return 10257;
  aTransLevel = stcTransaction->CurrentLevel()->EffectiveLevel();
  return 0;
}

void TzfServerTransSlot::atcForceRollback() {
  TzfPadlockGuard guard(stcTransactionPadlock);
  while (stcTransaction) {
    stcTransaction->Rollback();
    FreeIfEnded();
  }
}

void TzfServerTransSlot::Failed() {
  TzfPadlockGuard guard(stcTransactionPadlock);
  stcFailed = true;
  atcForceRollback();
  if (stcTransaction) stcTransaction->Failed();
}

// ---- TzfServerTransContext --------------------------------------------------------------------

TzfServerTransContext::TzfServerTransContext(TzfAbstractSession* aSession, uint32_t aTimeout,
                                             TzfBufferManager* aBufferManager)
    : TzfAbstractTransContext(aSession, aTimeout), TzfServerTransSlot(aBufferManager, aSession, aSession) {}

const rtl::TClassInfo& TzfServerTransContext::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfServerTransContext", &TzfAbstractTransContext::ClassInfo()};
  return info;
}

uint32_t TzfServerTransContext::Framed(const std::function<uint32_t()>& aWork) {
  TzfOperationFrame frame;
  return PublicOperation(frame, aWork);
}

uint32_t TzfServerTransContext::TransactionStart(bool aFailSafe, bool aSnapShot) {
  return Framed([&] { return stcTransactionStart(aFailSafe, aSnapShot, false, false, false); });
}

uint32_t TzfServerTransContext::TransactionStartWith(bool aFailSafe, bool aSnapShot,
                                                     const std::vector<TzfAbstractCursor*>& aCursors) {
  return Framed([&] { return stcTransactionStartWith(aFailSafe, aSnapShot, aCursors, false, false, false); });
}

uint32_t TzfServerTransContext::TransactionCommit() { return Framed([&] { return stcTransactionCommit(); }); }
uint32_t TzfServerTransContext::TransactionRollback() { return Framed([&] { return stcTransactionRollback(); }); }
uint32_t TzfServerTransContext::TransactionCorrupted() {
  return Framed([&] { return stcTransactionMarkCorrupted(); });
}
uint32_t TzfServerTransContext::TransactionGetLevel(int32_t& aTransLevel) {
  return Framed([&] { return TzfServerTransSlot::TransactionGetLevel(aTransLevel); });
}

void TzfServerTransContext::Failed() {
  TzfPadlockGuard guard(stcTransactionPadlock);
  TzfAbstractTransContext::Failed();
  TzfServerTransSlot::Failed();
}

}  // namespace zf
