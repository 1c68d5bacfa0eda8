#include "server/zfsrServerTableCursor.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "foundation/zfllStreams.h"
#include "index/zfseIndicesEngineHandle.h"
#include "index/zfseIndicesEngineKind.h"
#include "server/zfsrBlobHandlerBase.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerFolder.h"
#include "server/zfsrServerIndexTasks.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTable.h"
#include "storage/zfsrAutoIncEngineBase.h"
#include "storage/zfsrBlobEngineBase.h"
#include "storage/zfsrRecordEngineBase.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

namespace {
constexpr uint32_t kWrongCursorClass = 9990;
constexpr uint32_t kOtherTable = 10020;
constexpr uint32_t kOtherSession = 10760;

void PutRef(uint8_t* aTo, int64_t aRef) {
  const uint64_t v = static_cast<uint64_t>(aRef);
  for (int i = 0; i < 8; ++i) aTo[i] = static_cast<uint8_t>(v >> (8 * i));
}
int64_t GetRef(const uint8_t* aFrom) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | aFrom[i];
  return static_cast<int64_t>(v);
}
// A bookmark from a client: present, long enough and naming a record (reference above 0).
uint32_t CheckBookmark(const uint8_t* aBookmark, uint32_t aSize, int64_t& aRef) {
  aRef = 0;
  if (!aBookmark || aSize < TzfServerTableCursor::kBookmarkSize) return zfErrBookmarkMismatch;
  aRef = GetRef(aBookmark);
  return aRef > 0 ? 0 : zfErrBookmarkMismatch;
}
}  // namespace

// ---- TzfServerTableCursor ---------------------------------------------------------------------

TzfServerTableCursor::TzfServerTableCursor(TzfServerDatabase* aDatabase, TzfServerBaseTable* aTable,
                                           TzfOpenMode aOpenMode, TzfShareMode aShareMode, bool aTableReadOnly,
                                           uint32_t aTimeout, bool aBlobCache)
    : TzfAbstractCursor(aDatabase, aTimeout),
      stcDatabase(aDatabase),
      stcTable(aTable),
      stcRoot(aTable->sbtRoot),
      stcContext(dynamic_cast<TzfServerTransContext*>(aDatabase->TransContext())),
      stcOpenMode(aOpenMode),
      stcShareMode(aShareMode),
      stcBlobCache(aBlobCache) {
  static std::atomic<uint32_t> identities{0};
  stcSelfRefNr = (int64_t{0x7FFFFFFF} << 32) | (identities.fetch_add(1) + 1);
  if (aOpenMode == omReadOnly || aTableReadOnly) sbcReadOnly.SetOpenedReadOnly();
  stcContentLock = std::make_unique<TzfCursorContentLock>(&stcRoot->srtContentPortal, stcRoot,
                                                          aShareMode == smExclusive);
}

TzfServerTableCursor::~TzfServerTableCursor() = default;

void TzfServerTableCursor::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfAbstractCursor::AddExceptionData(aContainer);
  static const char16_t* const openModes[] = {u"omReadOnly", u"omWriteOnly", u"omReadWrite"};
  aContainer.AddString(u"OpenMode", openModes[stcOpenMode]);
  aContainer.AddBoolean(u"IsReadOnly", sbcReadOnly.IsReadOnly);
  aContainer.AddBoolean(u"IsWriteOnly", false);
  aContainer.AddBoolean(u"IsResultSet", sbcIsResultSet);
  aContainer.AddBoolean(u"UseNestedTransaction", sbcUseNestedTransaction);
  aContainer.AddObject(u"Filter", sbcFilter.get());
  aContainer.AddObject(u"KeyFilter", sbcKeyFilter.get());
  static const char16_t* const shareModes[] = {u"smExclusive", u"smShared", u"smShareRead"};
  aContainer.AddString(u"ShareMode", shareModes[stcShareMode]);
  if (stcIndexPath)
    aContainer.AddObject(u"IndexPath", stcIndexPath.get());
  else
    aContainer.AddObject(u"IndexEngine", stcIndexEngine);
  TzfExceptionDataRef range = aContainer.AddContainer(u"Range");
  if (!range) return;
  for (const auto& [name, end] : {std::pair{u"Start", &stcRangeStart}, std::pair{u"End", &stcRangeEnd}}) {
    TzfExceptionDataRef c = range->AddContainer(name);
    if (!c) continue;
    c->AddBoolean(u"Valid", end->Info.riValid);
    c->AddInteger(u"FieldCount", end->Info.riFieldCount);
    c->AddInteger(u"Partitial", end->Info.riPartitial);
    c->AddBoolean(u"Exclusive", end->Info.riExclusive);
    if (!end->Key.empty() && stcIndexEngine && stcIndexEngine->bieKeyEngine)
      if (TzfExceptionDataRef key = c->AddContainer(u"Key")) stcIndexEngine->bieKeyEngine->KeyAsExceptionData(end->Key.data(), *key);
  }
}

const rtl::TClassInfo& TzfServerTableCursor::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfServerTableCursor", &TzfAbstractCursor::ClassInfo()};
  return info;
}

void TzfServerTableCursor::AfterConstruction() {
  TzfAbstractCursor::AfterConstruction();
  // Keys sorted under other sorting rules would be kept in a wrong order by any write.
  if (TzfBaseIndicesEngine* ix = stcTable->sbtIndicesEngine.get())
    for (int32_t i = 0; i < zfIndicesEngineIndexCount(*ix); ++i)
      if (ix->Indices().GetIndexEngine(i).NLSVersionChanged()) {
        sbcReadOnly.SetStoredKeysOutdated();
        break;
      }
  sbcRefIntegrity = TzfBaseRefIntegrityEngine::CreateFor(stcTable->sbtTableDescriptor, this);
  stcFulltextEngine = TzfBaseFulltextCursorEngine::CreateFor(stcTable->sbtFulltextEngine.get(), this);
  if (TzfFieldsDescriptor* fields = stcTable->sbtFieldsDescriptor) {
    sbcDefaultValueHandler = TzfDefaultValueHandler::CreateFor(*fields, aaServer, this);
    sbcValidationsHandler = TzfValidationsHandler::CreateFor(*fields, aaServer, this);
  }
  stcBlobHandler = stcCreateBlobHandler();
  stcTable->sbtAddCursor(this);
  stcInTable = true;
  // A new cursor stands before the first record of index 0, or of the record order without
  // indexes. An index it cannot use leaves it on the record order.
  if (stcTable->sbtIndicesEngine && zfIndicesEngineIndexCount(*stcTable->sbtIndicesEngine) > 0)
    sbcSwitchToIndex(u"", 0, false);
  // A dictionary older than version 2 is read, never written: the table must be packed first.
  if (!sbcReadOnly.IsReadOnly && stcRoot->srtDictionary && stcRoot->srtDictionary->ddVersion < 2)
    sbcReadOnly.SetFormatOutdated();
}

uint32_t TzfServerTableCursor::stcUpdateFulltext(TzfBaseTransaction* aTrans, const uint8_t* aOldRecord,
                                                 int64_t aOldRefNr, const uint8_t* aNewRecord, int64_t aNewRefNr) {
  if (!stcFulltextEngine) return 0;
  struct TTrans {
    TzfServerTableCursor& c;
    ~TTrans() { c.stcFulltextTrans = nullptr; }
  } keep{*this};
  stcFulltextTrans = dynamic_cast<TzfServerTransaction*>(aTrans);
  try {
    return stcFulltextEngine->UpdateIndex(aTrans, aOldRecord, aOldRefNr, aNewRecord, aNewRefNr);
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

uint32_t TzfServerTableCursor::FulltextBlobGetLength(int32_t aFieldNo, int64_t aBlobNr, uint32_t& aLength,
                                                     bool aReadOrg) {
  try {
    return stcBlobHandler->BlobGetLength(stcFulltextTrans, aFieldNo, aReadOrg || sbcReadOrgOverride > 0, aBlobNr,
                                         aLength);
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

uint32_t TzfServerTableCursor::FulltextBlobRead(int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                                                rtl::TStream& aStream, bool aReadOrg) {
  try {
    return stcBlobHandler->BlobRead(stcFulltextTrans, aFieldNo, aReadOrg || sbcReadOrgOverride > 0, aBlobNr, aOffset,
                                    aLen, aStream);
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

void TzfServerTableCursor::BeforeDestruction() {
  // A count still walking this cursor stops first.
  if (sbcTaskInfo) sbcTaskInfo->CursorGone();
  // The engine's target cursors go while this cursor still stands.
  sbcRefIntegrity.reset();
  stcFulltextEngine.reset();
  sbcFilter.reset();
  sbcKeyFilter.reset();
  stcKeyFields = nullptr;
  // The path's key comes from the index's key engine, which the table frees with its indices.
  stcIndexPath.reset();
  stcIndexEngine = nullptr;
  // The handler uses the table's BLOB engine (and a caching one its own cache cursor).
  if (TzfBaseBlobHandler* h = std::exchange(stcBlobHandler, nullptr)) h->Free();
  if (stcInTable) {
    stcTable->sbtLocks->ClearAllLocks(this);
    stcTable->sbtRemoveCursor(this);
    stcInTable = false;
    if (sbcIsResultSet) stcReleaseResultSetTable();
  }
  TzfAbstractCursor::BeforeDestruction();
}

TzfDataDictionary* TzfServerTableCursor::acGetDictionary() { return stcRoot->srtDictionary.get(); }
TzfBaseTableDescriptor* TzfServerTableCursor::acGetTableDescriptor() { return stcTable->sbtTableDescriptor; }
UnicodeString TzfServerTableCursor::acGetFullName() { return stcTable->FullName(); }

uint32_t TzfServerTableCursor::Framed(const std::function<uint32_t()>& aWork) {
  TzfOperationFrame frame;
  return PublicOperation(frame, aWork);
}

uint32_t TzfServerTableCursor::FramedWrite(const std::function<uint32_t()>& aWork) {
  if (sbcReadOnly.IsReadOnly) return sbcReadOnly.Error();
  return Framed(aWork);
}

TzfServerTransaction* TzfServerTableCursor::CurrentTrans() {
  if (!stcContext) return nullptr;
  TzfPadlockGuard g(stcContext->stcTransactionPadlock);
  return stcContext->stcTransaction;
}

uint32_t TzfServerTableCursor::InContent(bool aExclusive,
                                         const std::function<uint32_t(TzfServerTransaction*)>& aWork) {
  TzfServerTransaction* trans = CurrentTrans();
  if (trans)
    if (const uint32_t state = trans->CheckState()) return state;
  if (const uint32_t r = stcContentLock->Begin(trans, aExclusive, false, &sbcLockFailureReason)) return r;
  TzfIndexAccessLock& indexAccess = stcRoot->srtIndexAccess;
  if (!indexAccess.Enter(zfTimeoutDeadline())) {
    stcContentLock->End();
    return zfErrLockTimeout;
  }
  uint32_t r = 0;
  try {
    r = aWork(trans);
  } catch (const EzfBaseException& e) {
    r = e.ErrorCode();
  } catch (const std::exception& e) {
    // Any other failure is a code too, so that the caller's level is rolled back.
    r = asoConvertException(e);
  } catch (...) {
    indexAccess.Leave();
    stcContentLock->End();
    throw;
  }
  indexAccess.Leave();
  stcContentLock->End();
  return r;
}

uint32_t TzfServerTableCursor::sbcCheckTransactionState() {
  TzfServerTransaction* trans = CurrentTrans();
  if (!trans) return 0;
  // A snapshot writes nothing of persistent tables; a private temporary table (neither a file
  // nor a memory table of the folder) stays writable.
  if (trans->IsSnapshot()) {
    const TzfBaseFile* main = stcRoot->srtMainFile;
    if (!main || !main->HasAttribute(zffaTemporary) || main->HasAttribute(zffaMemTable)) return zfErrTableReadOnly;
  }
  return trans->CheckState();
}

uint32_t TzfServerTableCursor::InWrite(const std::function<uint32_t(TzfServerTransaction*)>& aWork, bool aOwnLevel) {
  if (!stcContext) return zfErrNoActiveTran;
  if (const uint32_t s = sbcCheckTransactionState()) return s;
  if (CurrentTrans() && !aOwnLevel) return InContent(true, aWork);
  // An implicit transaction of its own: whatever the write did is gone when it fails.
  if (const uint32_t r = stcContext->stcTransactionStart(false, false, false, true, false)) return r;
  uint32_t r = InContent(true, aWork);
  if (r == 0)
    r = stcContext->stcTransactionCommit();
  else
    stcContext->stcTransactionRollback();
  return r;
}

uint32_t TzfServerTableCursor::SelfLock(bool& aNew) {
  aNew = false;
  if (stcShareMode == smExclusive) return 0;
  const TzfLockResult lr =
      stcTable->sbtLocks->GetRecordLock(CurrentTrans(), this, stcSelfRefNr, false, &sbcLockFailureReason);
  if (!zfLockGranted(lr)) return zfLockFailureResult(&sbcLockFailureReason, zfErrFileLocked);
  aNew = lr == TzfLockResult::lrGrantedNew;
  return 0;
}

void TzfServerTableCursor::SelfUnlock(bool aNew) {
  if (aNew) stcTable->sbtLocks->ReleaseRecordLock(this, stcSelfRefNr, nullptr);
}

uint32_t TzfServerTableCursor::LockRecord(TzfServerTransaction* aTrans, int64_t aRefNr, bool& aNew,
                                          uint32_t aConflictCode) {
  aNew = false;
  const TzfLockResult lr = zfGetRecordLockOutsidePortal(*stcTable->sbtLocks, &stcRoot->srtContentPortal, aTrans,
                                                        this, aRefNr, false, &sbcLockFailureReason,
                                                        &stcRoot->srtIndexAccess);
  if (!zfLockGranted(lr)) return zfLockFailureResult(&sbcLockFailureReason, aConflictCode);
  aNew = lr == TzfLockResult::lrGrantedNew;
  return 0;
}

namespace {
uint32_t StateOf(TzfCursorPosition aPosition) {
  switch (aPosition) {
    case TzfCursorPosition::cpBOF: return zfErrBOF;
    case TzfCursorPosition::cpEOF: return zfErrEOF;
    case TzfCursorPosition::cpOnRecord: return 0;
    default: return zfErrNoCurrRec;
  }
}
}  // namespace

uint32_t TzfServerTableCursor::SetToBegin() {
  return Framed([&] {
    stcPosition = TzfCursorPosition::cpBOF;
    stcRefNr = 0;
    if (stcIndexPath) stcIndexPath->SetToBof();
    return 0u;
  });
}

uint32_t TzfServerTableCursor::SetToEnd() {
  return Framed([&] {
    stcPosition = TzfCursorPosition::cpEOF;
    stcRefNr = 0;
    if (stcIndexPath) stcIndexPath->SetToEof();
    return 0u;
  });
}

uint32_t TzfServerTableCursor::SetToCursor(TzfAbstractCursor* aCursor) {
  return Framed([&]() -> uint32_t {
    auto* other = dynamic_cast<TzfServerTableCursor*>(aCursor);
    if (!other) return kWrongCursorClass;
    if (other->stcTable != stcTable) return kOtherTable;
    if (other->stcDatabase->sdSession != stcDatabase->sdSession) return kOtherSession;
    stcPosition = other->stcPosition;
    stcRefNr = other->stcRefNr;
    if (stcIndexEngine && other->stcIndexEngine == stcIndexEngine) stcIndexPath->Assign(*other->stcIndexPath);
    return stcFollowIntoRange();
  });
}

uint32_t TzfServerTableCursor::SetToFilter(TzfBaseFilterDescriptor* aFilter, TzfBaseFilterDescriptor* aKeyFilter,
                                           bool aForward) {
  return Framed([&] { return stcSetToFilter(aFilter, aKeyFilter, aForward); });
}

uint32_t TzfServerTableCursor::GetBookmark(uint8_t* aBookmark, uint32_t aSize) {
  if (!aBookmark || aSize < kBookmarkSize) return zfErrBookmarkMismatch;
  return Framed([&]() -> uint32_t {
    if (stcPosition != TzfCursorPosition::cpOnRecord) return StateOf(stcPosition);
    PutRef(aBookmark, stcRefNr);
    return 0;
  });
}

uint32_t TzfServerTableCursor::CompareBookmarks(const uint8_t* aBookmark1, const uint8_t* aBookmark2, uint32_t aSize,
                                                TValueRelationship& aCompResult) {
  aCompResult = 0;
  int64_t a = 0, b = 0;
  if (const uint32_t r = CheckBookmark(aBookmark1, aSize, a)) return r;
  if (const uint32_t r = CheckBookmark(aBookmark2, aSize, b)) return r;
  aCompResult = a < b ? -1 : (a > b ? 1 : 0);
  return 0;
}

uint32_t TzfServerTableCursor::SetToBookmark(const uint8_t* aBookmark, uint32_t aSize) {
  int64_t ref = 0;
  if (const uint32_t r = CheckBookmark(aBookmark, aSize, ref)) return r;
  return Framed([&]() -> uint32_t {
    stcPosition = TzfCursorPosition::cpOnRecord;
    stcRefNr = ref;
    return stcFollowIntoRange();
  });
}

uint32_t TzfServerTableCursor::BookmarkAsVariant(const uint8_t* aBookmark, uint32_t aSize, rtl::Variant& aVariant) {
  int64_t ref = 0;
  if (const uint32_t r = CheckBookmark(aBookmark, aSize, ref)) return r;
  aVariant = rtl::Variant(ref);
  return 0;
}

uint32_t TzfServerTableCursor::RecNoSupported() { return 0; }

uint32_t TzfServerTableCursor::RecNoGet(uint32_t& aRecNo, bool aFlipOrder) {
  aRecNo = 0;
  return Framed([&]() -> uint32_t {
    if (const uint32_t s = StateOf(stcPosition)) return s;
    if (stcIndexEngine) return IndexRecNoGet(aRecNo, aFlipOrder);
    return InContent(false, [&](TzfServerTransaction* aTrans) -> uint32_t {
      return stcTable->sbtRecordEngine->RecNoGet(aTrans, stcRefNr, FilterActive() ? sbcFilter.get() : nullptr,
                                                 aRecNo, aFlipOrder);
    });
  });
}

uint32_t TzfServerTableCursor::RecNoSet(uint32_t aRecNo, bool aFlipOrder) {
  return Framed([&]() -> uint32_t {
    if (stcIndexEngine) return IndexRecNoSet(aRecNo, aFlipOrder);
    return InContent(false, [&](TzfServerTransaction* aTrans) -> uint32_t {
      int64_t ref = 0;
      const uint32_t r = stcTable->sbtRecordEngine->RecNoSet(aTrans, aRecNo, ref,
                                                             FilterActive() ? sbcFilter.get() : nullptr, aFlipOrder);
      if (r == zfErrBOF || r == zfErrEOF) {
        stcPosition = r == zfErrBOF ? TzfCursorPosition::cpBOF : TzfCursorPosition::cpEOF;
        stcRefNr = 0;
      } else if (r == 0) {
        stcPosition = TzfCursorPosition::cpOnRecord;
        stcRefNr = ref;
      }
      return r;
    });
  });
}

uint32_t TzfServerTableCursor::RecordGet(TzfLockType aLockType, uint8_t* aData) {
  return Framed([&]() -> uint32_t {
    bool newLock = false;
    TzfServerTransaction* trans = CurrentTrans();
    if (aLockType != zfltNoLock) {
      if (const uint32_t s = StateOf(stcPosition)) return s;
      // Not inside the portal yet: a wait for the record lock holds nothing.
      const TzfLockResult lr = stcTable->sbtLocks->GetRecordLock(trans, this, stcRefNr, false, &sbcLockFailureReason);
      if (!zfLockGranted(lr)) return zfLockFailureResult(&sbcLockFailureReason, zfErrLocked);
      newLock = lr == TzfLockResult::lrGrantedNew;
    }
    const uint32_t r = InContent(false, [&](TzfServerTransaction* aTrans) -> uint32_t {
      if (const uint32_t s = StateOf(stcPosition)) return s;
      std::vector<uint8_t> scratch;
      uint8_t* data = aData;
      if (!data && (FilterActive() || ActiveKeyFilter())) {
        scratch.resize(stcTable->sbtFieldsDescriptor->GetRecordLength());
        data = scratch.data();
      }
      stcTable->sbtRecordEngine->ReadRecord(aTrans, stcRefNr, data);
      if (data && !stcRecordPassesKeyFilter(data, stcRefNr)) return zfErrNoCurrRec;
      if (data && FilterActive() && !sbcFilter->MatchesBuffer(data)) return zfErrNoCurrRec;
      return 0;
    });
    if (r != 0 && newLock) stcTable->sbtLocks->ReleaseRecordLock(this, stcRefNr, nullptr);
    return NotifyRead(aLockType, aData, r);
  });
}

uint32_t TzfServerTableCursor::Step(bool aForward, TzfLockType aLockType, uint8_t* aData) {
  if (stcIndexEngine) return IndexStep(aForward, aLockType, aData);
  if (aForward && stcPosition == TzfCursorPosition::cpEOF) return zfErrEOF;
  if (!aForward && stcPosition == TzfCursorPosition::cpBOF) return zfErrBOF;
  std::vector<uint8_t> scratch;
  if (!aData) {
    scratch.resize(stcTable->sbtFieldsDescriptor->GetRecordLength());
    aData = scratch.data();
  }
  return InContent(false, [&](TzfServerTransaction* aTrans) -> uint32_t {
    TzfBaseRecordEngine& engine = *stcTable->sbtRecordEngine;
    int64_t ref = 0;
    // A crack on the reading side of a record arrives at that record when it still exists.
    const bool crackFacing = (aForward && stcPosition == TzfCursorPosition::cpCrackBefore) ||
                             (!aForward && stcPosition == TzfCursorPosition::cpCrackAfter);
    if (crackFacing) {
      try {
        engine.ReadRecord(aTrans, stcRefNr, aData);
        ref = stcRefNr;
      } catch (const EzfBaseException& e) {
        if (e.ErrorCode() != zfErrKeyOrRecDeleted) throw;
      }
    }
    if (ref == 0) {
      const bool fromEnd = aForward ? stcPosition == TzfCursorPosition::cpBOF : stcPosition == TzfCursorPosition::cpEOF;
      const int64_t from = fromEnd ? 0 : stcRefNr;
      if (aForward)
        engine.ReadNextRecord(aTrans, from, ref, aData);
      else
        engine.ReadPrevRecord(aTrans, from, ref, aData);
    }
    if (ref == 0) {
      stcPosition = aForward ? TzfCursorPosition::cpEOF : TzfCursorPosition::cpBOF;
      stcRefNr = 0;
      return aForward ? zfErrEOF : zfErrBOF;
    }
    stcPosition = TzfCursorPosition::cpOnRecord;
    stcRefNr = ref;
    if (aLockType != zfltNoLock) {
      bool isNew = false;
      if (const uint32_t r = LockRecord(aTrans, ref, isNew)) {
        // Beside the record, so that the same call arrives at it again.
        stcPosition = aForward ? TzfCursorPosition::cpCrackBefore : TzfCursorPosition::cpCrackAfter;
        return r;
      }
      // The record may have gone while the lock was awaited.
      engine.ReadRecord(aTrans, ref, aData);
    }
    return 0;
  });
}

uint32_t TzfServerTableCursor::StepFiltered(bool aForward, TzfLockType aLockType, uint8_t* aData,
                                            TzfBaseFilterEngine* aFilter) {
  if (!aFilter || !aFilter->IsActive()) return Step(aForward, aLockType, aData);
  std::vector<uint8_t> scratch;
  if (!aData) {
    scratch.resize(stcTable->sbtFieldsDescriptor->GetRecordLength());
    aData = scratch.data();
  }
  sbcFilterDeadline.Begin();
  for (;;) {
    // Locks only for the record the filter keeps.
    const uint32_t r = Step(aForward, zfltNoLock, aData);
    if (r != 0) return r;
    if (aFilter->MatchesBuffer(aData)) break;
    uint32_t stop = 0;
    if (sbcFilterDeadline.Check(stop)) return stop;
  }
  if (aLockType == zfltNoLock) return 0;
  // Lock it from the crack beside it, so that a refusal leaves the cursor there.
  stcPosition = aForward ? TzfCursorPosition::cpCrackBefore : TzfCursorPosition::cpCrackAfter;
  return Step(aForward, aLockType, aData);
}

void TzfServerTableCursor::sbcIterate(uint8_t** aData, const TzfRecordIterator& aRecIterator, bool aBackward,
                                      void* aCookie) {
  TzfServerTransaction* trans = CurrentTrans();
  if (const uint32_t r = stcContentLock->Begin(trans, false, false, &sbcLockFailureReason))
    throw EzfServerEngineException(r);
  TContentLockEnd end{*stcContentLock};
  if (stcIndexEngine) {
    // In index order only: a walk in storage order leaves the indices engine to other readers.
    TzfIndexAccessHold indexAccess;
    if (const uint32_t r = indexAccess.Enter(stcRoot->srtIndexAccess)) throw EzfServerEngineException(r);
    IterateIndex(aData, aRecIterator, aBackward, aCookie);
    return;
  }
  TzfBaseRecordEngine& engine = *stcTable->sbtRecordEngine;
  IzfFilterEvaluation* filter = FilterActive() ? sbcFilter.get() : nullptr;
  int64_t ref = 0;
  if (aBackward)
    engine.IterateBackward(trans, ref, aData, aRecIterator, aCookie, filter);
  else
    engine.Iterate(trans, ref, aData, aRecIterator, aCookie, filter);
  if (ref == 0) {
    stcPosition = aBackward ? TzfCursorPosition::cpBOF : TzfCursorPosition::cpEOF;
    stcRefNr = 0;
  } else {
    stcPosition = TzfCursorPosition::cpOnRecord;
    stcRefNr = ref;
  }
}

uint32_t TzfServerTableCursor::RecordGetNext(TzfLockType aLockType, uint8_t* aData) {
  return Framed([&] { return NotifyRead(aLockType, aData, StepFiltered(true, aLockType, aData, sbcFilter.get())); });
}

uint32_t TzfServerTableCursor::RecordGetPrior(TzfLockType aLockType, uint8_t* aData) {
  return Framed([&] { return NotifyRead(aLockType, aData, StepFiltered(false, aLockType, aData, sbcFilter.get())); });
}

uint32_t TzfServerTableCursor::NotifyRead(TzfLockType aLockType, const uint8_t* aData, uint32_t aResult) {
  // The extenders hear of a successful read; their answer cannot veto it.
  if (aResult == 0) {
    int64_t ref = stcRefNr;
    stcNotifyRecord(eaRecordGet, false, nullptr, aData, {static_cast<int32_t>(aLockType), aData, &ref});
  }
  return aResult;
}

uint32_t TzfServerTableCursor::RecordInsert(TzfLockType aLockType, uint8_t* aData) {
  return FramedWrite([&] {
    return stcWithRefIntegrity(eaRecordInsert, [&] { return sbcRecordInsert(aLockType, sbcInsertOptions, aData); });
  });
}

uint32_t TzfServerTableCursor::sbcRecordInsert(TzfLockType aLockType, TzfInsertOptions aInsertOptions,
                                               uint8_t* aData) {
  if (!aData) return zfErrInvalidParam;
  const int32_t autoInc = stcTable->sbtAutoIncField;
  bool generated = false;
  int64_t ref = 0;
  if (const uint32_t s = sbcCheckTransactionState()) return s;
  bool selfNew = false;
  if (const uint32_t l = SelfLock(selfNew)) return l;
  // Without a level of its own the insert runs in the caller's transaction: what it wrote before
  // a refusal is taken back by hand, or, where that cannot be done, the transaction is marked
  // corrupted so that only its rollback remains.
  const bool ownLevel = sbcUseNestedTransaction || NeedNested();
  const bool inCaller = CurrentTrans() && !ownLevel;
  bool lockedNew = false;
  const uint32_t r = InWrite([&](TzfServerTransaction* aTrans) -> uint32_t {
    if (aInsertOptions.Contains(ioSetDefault) && sbcDefaultValueHandler)
      sbcDefaultValueHandler->SetDefaultValuesInsert(aData);
    if (aInsertOptions.Contains(ioSetAutoInc) && autoInc >= 0 && stcTable->sbtAutoIncEngine) {
      const rtl::Variant v = GetFieldAsVariant(aData, autoInc);
      if (v.IsNull() || v.IsEmpty() || v.AsInt64() == 0) {
        const uint32_t next = stcTable->sbtAutoIncEngine->NextAutoIncValue(aTrans);
        SetFieldFromVariant(aData, autoInc, rtl::Variant(static_cast<int64_t>(next)));
        generated = true;
      }
    }
    // Pending BLOB changes become stored BLOBs and their numbers go into the record.
    if (const uint32_t b = stcBlobHandler->BeforeInsert(aTrans, aData)) return b;
    int64_t noRef = 0;
    if (const uint32_t n = stcNotifyRecord(eaRecordInsert, true, nullptr, aData,
                                           {static_cast<int32_t>(aLockType), static_cast<const uint8_t*>(aData), &noRef}))
      return n;
    stcTable->sbtInitRecRev(aData);
    if (aInsertOptions.Contains(ioValidate) && sbcValidationsHandler) sbcValidationsHandler->ValidateRecord(nullptr, aData);
    // A record to be locked must be one this cursor can stand on: in its range and through its
    // filters.
    if (aLockType != zfltNoLock)
      if (const uint32_t v = stcRecordStaysVisible(aData, 0)) return v;
    stcTable->sbtRecordEngine->AddRecord(aTrans, ref, aData);
    if (TzfBaseIndicesEngine* ix = stcTable->sbtIndicesEngine.get()) {
      // A refused key takes the record back out, also inside an explicit transaction.
      if (const uint32_t k = zfIndicesInsertKeys(*ix, aTrans, ref, aData)) {
        stcTable->sbtRecordEngine->DeleteRecord(aTrans, ref);
        // The generated value goes back too (a level of its own is rolled back anyway).
        if (generated && inCaller) {
          const uint32_t given = static_cast<uint32_t>(GetFieldAsVariant(aData, autoInc).AsInt64());
          stcTable->sbtAutoIncEngine->SetAutoIncValue(aTrans, given - 1);
        }
        return k;
      }
    }
    // The full-text indexes follow; what they changed before a failure goes with the
    // transaction's rollback.
    if (const uint32_t f = stcUpdateFulltext(aTrans, nullptr, 0, aData, ref)) {
      if (inCaller) stcContext->stcTransactionMarkCorrupted();
      return f;
    }
    if (aLockType != zfltNoLock) {
      const TzfLockResult lr = stcTable->sbtLocks->GetRecordLock(aTrans, this, ref, true, &sbcLockFailureReason);
      if (!zfLockGranted(lr)) {
        if (inCaller) stcContext->stcTransactionMarkCorrupted();
        return zfLockFailureResult(&sbcLockFailureReason, zfErrRecLockFailed);
      }
      lockedNew = lr == TzfLockResult::lrGrantedNew;
    }
    const uint32_t after = stcNotifyRecord(eaRecordInsert, false, nullptr, aData,
                                           {static_cast<int32_t>(aLockType), static_cast<const uint8_t*>(aData), &ref});
    if (after != 0 && inCaller) stcContext->stcTransactionMarkCorrupted();
    return after;
  }, ownLevel);
  SelfUnlock(selfNew);
  if (r != 0) {
    // No lock on a record that is not there.
    if (lockedNew) stcTable->sbtLocks->ReleaseRecordLock(this, ref, nullptr);
    // The caller's record does not keep a value that no stored record has.
    if (generated) SetFieldFromVariant(aData, autoInc, rtl::Variant());
    return r;
  }
  stcPosition = TzfCursorPosition::cpOnRecord;
  stcRefNr = ref;
  PathToRecord(aData, ref);
  stcPathIntoRange();
  return 0;
}

uint32_t TzfServerTableCursor::RecordModify(uint8_t* aData, bool aReleaseLock) {
  return FramedWrite([&] { return stcWithRefIntegrity(eaRecordModify, [&]() -> uint32_t {
    if (!aData) return zfErrInvalidParam;
    if (const uint32_t s = StateOf(stcPosition)) return s;
    const int64_t ref = stcRefNr;
    bool newLock = false;
    const uint32_t r = InWrite([&](TzfServerTransaction* aTrans) -> uint32_t {
      // The server's modify defaults go into the caller's record (no option decides this).
      if (sbcDefaultValueHandler) sbcDefaultValueHandler->SetDefaultValuesModify(aData);
      // A record that stays locked must stay one this cursor can stand on; nothing is written.
      if (!aReleaseLock)
        if (const uint32_t v = stcRecordStaysVisible(aData, ref)) return v;
      if (const uint32_t l = LockRecord(aTrans, ref, newLock, zfErrRecLockFailed)) return l;
      std::vector<uint8_t> stored(stcTable->sbtFieldsDescriptor->GetRecordLength());
      stcTable->sbtRecordEngine->ReadRecord(aTrans, ref, stored.data());
      if (const uint32_t c = stcTable->sbtCheckRecRev(stored.data(), aData)) return c;
      if (const uint32_t b = stcBlobHandler->BeforeModify(aTrans, aData)) return b;
      int64_t refArg = ref;
      const TzfActionArgs args{static_cast<const uint8_t*>(aData), static_cast<const uint8_t*>(stored.data()),
                               aReleaseLock, &refArg};
      if (const uint32_t n = stcNotifyRecord(eaRecordModify, true, stored.data(), aData, args)) return n;
      // The table's validations (no option decides this) judge the new record against the stored
      // one before anything is written, so a refusal leaves record, keys and transaction as they
      // were.
      if (sbcValidationsHandler) sbcValidationsHandler->ValidateRecord(stored.data(), aData);
      TzfBaseIndicesEngine* ix = stcTable->sbtIndicesEngine.get();
      std::unique_ptr<TzfBaseIndexPath> saved = stcIndexEngine ? stcIndexPath->Duplicate() : nullptr;
      // The keys first: a refused key leaves the record and every index as they were.
      if (ix) {
        if (const uint32_t k = zfIndicesUpdateKeys(*ix, aTrans, ref, stored.data(), aData)) return k;
      }
      try {
        stcTable->sbtRecordEngine->UpdateRecord(aTrans, ref, aData, nullptr);
      } catch (...) {
        if (ix) zfIndicesUpdateKeys(*ix, aTrans, ref, aData, stored.data());
        throw;
      }
      if (const uint32_t f = stcUpdateFulltext(aTrans, stored.data(), ref, aData, ref)) {
        if (CurrentTrans() && !(sbcUseNestedTransaction || NeedNested())) stcContext->stcTransactionMarkCorrupted();
        return f;
      }
      PathToRecord(aData, ref);
      if (saved) stcLeaveIfOutOfView(aData, *saved);
      if (const uint32_t n = stcNotifyRecord(eaRecordModify, false, stored.data(), aData, args)) return n;
      // BLOBs the record no longer names go, changed ones are written back (the handler marks the
      // transaction corrupted when that fails).
      if (const uint32_t b = stcBlobHandler->AfterModify(aTrans, stored.data(), aData)) return b;
      // Released, the lock passes to the transaction that changed the record; kept, it stays
      // with the cursor.
      if (aReleaseLock) stcTable->sbtLocks->ReleaseRecordLock(this, ref, aTrans);
      return 0;
    }, sbcUseNestedTransaction || NeedNested());
    if (r != 0 && newLock) stcTable->sbtLocks->ReleaseRecordLock(this, ref, nullptr);
    return r;
  }); });
}

uint32_t TzfServerTableCursor::RecordDelete(uint8_t* aData) {
  return FramedWrite([&] { return stcWithRefIntegrity(eaRecordDelete, [&]() -> uint32_t {
    if (const uint32_t s = StateOf(stcPosition)) return s;
    const int64_t ref = stcRefNr;
    bool newLock = false;
    const uint32_t r = InWrite([&](TzfServerTransaction* aTrans) -> uint32_t {
      if (const uint32_t l = LockRecord(aTrans, ref, newLock)) return l;
      TzfBaseIndicesEngine* ix = stcTable->sbtIndicesEngine.get();
      std::vector<uint8_t> stored;
      uint8_t* record = aData;
      if (!record) {
        stored.resize(stcTable->sbtFieldsDescriptor->GetRecordLength());
        record = stored.data();
      }
      stcTable->sbtRecordEngine->ReadRecord(aTrans, ref, record);
      int64_t refArg = ref;
      const TzfActionArgs args{static_cast<const uint8_t*>(record), &refArg};
      if (const uint32_t n = stcNotifyRecord(eaRecordDelete, true, record, nullptr, args)) return n;
      // A failed delete of keys marks the transaction corrupted; its rollback restores both.
      if (ix) {
        if (const uint32_t k = zfIndicesDeleteKeys(*ix, aTrans, ref, record)) return k;
      }
      if (const uint32_t f = stcUpdateFulltext(aTrans, record, ref, nullptr, 0)) {
        if (CurrentTrans() && !sbcUseNestedTransaction) stcContext->stcTransactionMarkCorrupted();
        return f;
      }
      stcTable->sbtRecordEngine->DeleteRecord(aTrans, ref);
      if (const uint32_t n = stcNotifyRecord(eaRecordDelete, false, record, nullptr, args)) return n;
      // The record's BLOBs go with it.
      if (record)
        if (const uint32_t b = stcBlobHandler->AfterDelete(aTrans, record)) return b;
      stcTable->sbtLocks->ReleaseRecordLock(this, ref, aTrans);
      // On the deleted key: the next step finds it gone and goes on from its place.
      PathToRecord(record, ref);
      return 0;
    }, sbcUseNestedTransaction);
    if (r != 0) {
      if (newLock) stcTable->sbtLocks->ReleaseRecordLock(this, ref, nullptr);
      return r;
    }
    // On the crack where the record was: the next read forward arrives at the one after it.
    stcPosition = TzfCursorPosition::cpCrackBefore;
    return 0;
  }); });
}

uint32_t TzfServerTableCursor::RecordIsLocked(TzfLockType, TzfLockPresent& aLockPresent) {
  aLockPresent = lpNotAtAll;
  return Framed([&]() -> uint32_t {
    if (const uint32_t s = StateOf(stcPosition)) return s;
    aLockPresent = stcTable->sbtLocks->IsRecordLocked(this, stcRefNr);
    return 0;
  });
}

uint32_t TzfServerTableCursor::RecordLockRelease(bool aAllLocks) {
  return Framed([&]() -> uint32_t {
    if (aAllLocks)
      stcTable->sbtLocks->ClearRecordLocks(this);
    else if (stcPosition == TzfCursorPosition::cpOnRecord)
      stcTable->sbtLocks->ReleaseRecordLock(this, stcRefNr, nullptr);
    return 0;
  });
}

uint32_t TzfServerTableCursor::AutoIncGet(uint32_t& aValue) {
  aValue = 0;
  return Framed([&] {
    return InContent(false, [&](TzfServerTransaction* aTrans) -> uint32_t {
      if (stcTable->sbtAutoIncEngine) aValue = stcTable->sbtAutoIncEngine->ReadAutoIncValue(aTrans);
      return 0;
    });
  });
}

uint32_t TzfServerTableCursor::AutoIncSet(uint32_t aValue) {
  return FramedWrite([&]() -> uint32_t {
    if (!stcTable->sbtAutoIncEngine)
      return EzfBaseException::zfSetMessage(zfErrNotSupported,
                                            u"AutoIncSet is only supported for tables with autoinc engines");
    if (const uint32_t s = sbcCheckTransactionState()) return s;
    bool selfNew = false;
    if (const uint32_t l = SelfLock(selfNew)) return l;
    const uint32_t r = InWrite([&](TzfServerTransaction* aTrans) -> uint32_t {
      stcTable->sbtAutoIncEngine->SetAutoIncValue(aTrans, aValue);
      return 0;
    });
    SelfUnlock(selfNew);
    return r;
  });
}

// ---- Record filters ----

uint32_t TzfServerTableCursor::FilterAddCustom(TzfBaseFilterDescriptor* aFilter, TzfFilterID& aFilterID) {
  aFilterID = 0;
  if (!aFilter) return zfErrInvalidParam;
  return Framed([&]() -> uint32_t {
    aFilterID = zfFilterAttach(sbcFilter, TzfBaseFilterEngine::CreateFor(*aFilter, this));
    return 0;
  });
}
uint32_t TzfServerTableCursor::FilterSetTimeout(uint32_t aTimeout) {
  return Framed([&] {
    sbcFilterDeadline.Timeout = aTimeout;
    return 0u;
  });
}
uint32_t TzfServerTableCursor::FilterActivate(TzfFilterID aFilterID) {
  return Framed([&] { return zfFilterActivate(sbcFilter, aFilterID, true); });
}
uint32_t TzfServerTableCursor::FilterDeactivate(TzfFilterID aFilterID) {
  return Framed([&] { return zfFilterActivate(sbcFilter, aFilterID, false); });
}
uint32_t TzfServerTableCursor::FilterRemove(TzfFilterID aFilterID) {
  return Framed([&] { return zfFilterRemove(sbcFilter, aFilterID); });
}

TzfServerTableStats TzfServerTableCursor::sbcGetStats() { return stcTable->sbtGetStats(CurrentTrans()); }

uint32_t TzfServerTableCursor::esoOptionGetParent(const UnicodeString& aName, UnicodeString& aValue) {
  if (stcTable) {
    const uint32_t r = stcTable->esoOptionGetEffective(aName, aValue);
    if (r != zfErrObjNotFound) return r;
  }
  return TzfAbstractCursor::esoOptionGetParent(aName, aValue);
}

uint32_t TzfServerTableCursor::esoOptionListParent(rtl::TStrings& aList) {
  rtl::TStringList inherited;
  if (const uint32_t r = TzfAbstractCursor::esoOptionListParent(inherited)) return r;
  if (!stcTable) {
    aList.Clear();
    aList.AddStrings(inherited);
    return 0;
  }
  if (const uint32_t r = stcTable->esoOptionListEffective(aList)) return r;
  return esoOptionListMerge(aList, inherited);
}

void TzfServerTableCursor::esoOptionChanged(const UnicodeString& aName, const UnicodeString& aValue) {
  TzfAbstractCursor::esoOptionChanged(aName, aValue);
  zfApplyInsertOption(sbcInsertOptions, aName, aValue);
}

// ---- Block reads ----

namespace {
void PutCardinal(TzfMemoryStream& aStream, int64_t aAt, uint32_t aValue) {
  uint8_t b[4];
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(aValue >> (8 * i));
  std::memcpy(static_cast<uint8_t*>(aStream.Memory()) + aAt, b, 4);
}
}  // namespace

// Layout: a header of two Cardinals (the code that ended the batch, the record count), then per
// record its slot size as a Cardinal and the slot: the record, and its bookmark with gboBookmarks.
// A read that fails leaves its slot-size word as the last four bytes, uncounted.
uint32_t TzfServerTableCursor::RecordGetBatch(int32_t aCutoffSize, TzfRecordGetBatchExOptions aOptions,
                                              TzfMemoryStream& aStream, int32_t aMaxRecords, bool aForward) {
  return Framed([&]() -> uint32_t {
    const bool bookmarks = (aOptions >> gboBookmarks) & 1;
    const bool blobs = (aOptions >> gboBlobs) & 1;
    TzfFieldsDescriptor& fields = *stcTable->sbtFieldsDescriptor;
    const uint32_t rl = static_cast<uint32_t>(fields.GetRecordLength());
    const uint32_t slot = rl + (bookmarks ? kBookmarkSize : 0);
    uint32_t last = 0;
    int32_t count = 0;
    const uint32_t r = InContent(false, [&](TzfServerTransaction*) -> uint32_t {
      aStream.Clear();
      aStream.SetCapacity(aCutoffSize == 0x7FFFFFFF ? 524288 : std::max(aCutoffSize, 8));
      aStream.SetSize(8);
      PutCardinal(aStream, 0, 0);
      PutCardinal(aStream, 4, 0);
      while (last == 0 && aStream.Size() < aCutoffSize && (aMaxRecords <= 0 || count < aMaxRecords)) {
        const int64_t at = aStream.Size();
        aStream.SetSize(at + 4 + slot);
        PutCardinal(aStream, at, slot);
        uint8_t* rec = static_cast<uint8_t*>(aStream.Memory()) + at + 4;
        last = StepFiltered(aForward, zfltNoLock, rec, sbcFilter.get());
        if (last == 0 && bookmarks) PutRef(rec + rl, stcRefNr);
        if (last == 0 && blobs) stcAppendBlobImages(aStream, at, slot);
        if (last != 0) {
          aStream.SetSize(at + 4);
          break;
        }
        ++count;
      }
      PutCardinal(aStream, 0, last);
      PutCardinal(aStream, 4, static_cast<uint32_t>(count));
      aStream.Seek(0, rtl::TSeekOrigin::soEnd);
      return 0;
    });
    if (r != 0) return r;
    return last == 15444 && count == 0 ? last : 0;
  });
}

// ---- Table locks and counts ----

uint32_t TzfServerTableCursor::TableIsLocked(TzfLockType aLockType, TzfLockPresent& aLockPresent) {
  aLockPresent = lpNotAtAll;
  return Framed([&]() -> uint32_t {
    if (aLockType == zfltWriteLock) aLockPresent = stcTable->sbtLocks->IsWriteLocked(this);
    if (aLockType == zfltReadLock) aLockPresent = stcTable->sbtLocks->IsReadLocked(this);
    return 0;
  });
}

uint32_t TzfServerTableCursor::TableLockAcquire(TzfLockType aLockType) {
  return Framed([&]() -> uint32_t {
    // A table lock of no kind is no lock that could be granted.
    if (aLockType == zfltNoLock) return zfErrFileLocked;
    TzfServerTransaction* trans = CurrentTrans();
    const TzfLockResult lr = aLockType == zfltWriteLock
                                 ? stcTable->sbtLocks->GetWriteLock(trans, this, false, &sbcLockFailureReason)
                                 : stcTable->sbtLocks->GetReadLock(trans, this, false, &sbcLockFailureReason);
    return zfLockGranted(lr) ? 0 : zfLockFailureResult(&sbcLockFailureReason, zfErrFileLocked);
  });
}

uint32_t TzfServerTableCursor::TableLockRelease(TzfLockType aLockType, bool aAllLocks) {
  return Framed([&]() -> uint32_t {
    if (aAllLocks) {
      stcTable->sbtLocks->ClearCursorLocks(this);
      return 0;
    }
    if (aLockType == zfltWriteLock) stcTable->sbtLocks->ReleaseWriteLock(this);
    if (aLockType == zfltReadLock) stcTable->sbtLocks->ReleaseReadLock(this);
    return 0;
  });
}

uint32_t TzfServerTableCursor::Duplicate(TzfOpenMode aOpenMode, TzfAbstractCursor*& aNewCursor) {
  aNewCursor = nullptr;
  return Framed([&]() -> uint32_t {
    // A read-only cursor duplicates read-only whatever is asked.
    const TzfOpenMode mode = stcOpenMode == omReadOnly ? omReadOnly : aOpenMode;
    TzfServerTableCursor* dup = nullptr;
    const uint32_t r = zfOpenTableCursor(stcDatabase, stcTable->FullName(), stcRoot->srtExtractPassword(), mode,
                                         smShared, atoGetTimeout(), dup);
    if (r != 0) return r;
    try {
      // The same index, position and range; key filters stay behind.
      const int32_t index = stcIndexEngine ? stcIndexEngine->bieIndexNumber : -1;
      if (const uint32_t s = dup->sbcSwitchToIndex(u"", index, false)) {
        dup->Free();
        return s;
      }
      if (stcIndexPath && dup->stcIndexPath) dup->stcIndexPath->Assign(*stcIndexPath);
      for (auto [from, to] : {std::pair{&stcRangeStart, &dup->stcRangeStart}, std::pair{&stcRangeEnd, &dup->stcRangeEnd}}) {
        to->Info.riFieldCount = from->Info.riFieldCount;
        to->Info.riPartitial = from->Info.riPartitial;
        to->Info.riExclusive = from->Info.riExclusive;
        to->Info.riValid = from->Info.riValid;
        if (from->Info.riValid && to->Key.size() == from->Key.size())
          to->Key = from->Key;
        else
          std::fill(to->Key.begin(), to->Key.end(), 0);
        to->Info.riKey = to->Key.data();
      }
      dup->stcPosition = stcPosition;
      dup->stcRefNr = stcRefNr;
      dup->sbcInsertOptions = sbcInsertOptions;
      dup->sbcFilterDeadline.Timeout = sbcFilterDeadline.Timeout;
      if (sbcFilter) zfFilterAttach(dup->sbcFilter, sbcFilter->Duplicate(dup));
    } catch (const EzfBaseException& e) {
      dup->Free();
      return e.ErrorCode();
    }
    aNewCursor = dup;
    return 0;
  });
}

// ---- Opening ----

uint32_t zfOpenTableCursor(TzfServerDatabase* aDatabase, const UnicodeString& aTableName,
                           const UnicodeString& aPassword, TzfOpenMode aOpenMode, TzfShareMode aShareMode,
                           uint32_t aTimeout, TzfServerTableCursor*& aCursor, bool aBlobCache) {
  return aDatabase->sdCursorOpen(aCursor, aTableName, aPassword, false, aOpenMode, aShareMode, false, aTimeout, false,
                                 aBlobCache);
}

}  // namespace zf
