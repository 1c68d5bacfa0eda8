// The current index of a table cursor: switching it, steps in index order within the range,
// positioning on a key, ranges and key compares, and the bulk builder over the table's indexes.
//
// The cursor's position mirrors its index path; positions set in storage order (bookmarks, record
// numbers) are followed by the path before the next step. The key buffer and both range keys
// belong to the current index's key engine and are exchanged with it.
#include <vector>

#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "index/zfseIndicesEngineHandle.h"
#include "index/zfseIndicesEngineKind.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "storage/zfsrRecordEngineBase.h"

namespace zf {

TzfIndexNodeStore& TzfServerTableCursor::IndexStore(TzfServerTransaction* aTrans) {
  TzfBaseIndicesEngine& ix = *stcTable->sbtIndicesEngine;
  ix.SetTransaction(aTrans);
  return ix.Indices().Store(stcIndexEngine->bieIndexNumber);
}

uint32_t TzfServerTableCursor::TakeKey(bool aDirectKey, const uint8_t* aKeyData, uint8_t* aKey) {
  TzfBaseKeyEngine& ke = *stcIndexEngine->bieKeyEngine;
  if (!aKeyData) return zfErrInvalidParam;
  if (aDirectKey) {
    ke.CopyKey(aKeyData, aKey);
    return 0;
  }
  return ke.BuildKey(aKeyData, aKey, 0, true);
}

int TzfServerTableCursor::KeyRangePosition(const uint8_t* aKey) {
  if (!stcIndexEngine) return 0;
  TzfBaseKeyEngine& ke = *stcIndexEngine->bieKeyEngine;
  if (const TzfRangeInfo& b = stcRangeStart.Info; b.riValid) {
    const int8_t c = ke.CompareKey(b.riKey, aKey, b.riFieldCount, b.riPartitial);
    if (c > 0 || (c == 0 && b.riExclusive)) return -1;
  }
  if (const TzfRangeInfo& e = stcRangeEnd.Info; e.riValid) {
    const int8_t c = ke.CompareKey(e.riKey, aKey, e.riFieldCount, e.riPartitial);
    if (c < 0 || (c == 0 && e.riExclusive)) return 1;
  }
  return 0;
}

void TzfServerTableCursor::PositionFromPath() {
  const TzfBaseIndexPath& p = *stcIndexPath;
  stcRefNr = p.RefNr;
  if (p.IsBof()) {
    stcPosition = TzfCursorPosition::cpBOF;
    stcRefNr = 0;
  } else if (p.IsEof()) {
    stcPosition = TzfCursorPosition::cpEOF;
    stcRefNr = 0;
  } else if (p.IsOnKey()) {
    stcPosition = TzfCursorPosition::cpOnRecord;
  } else {
    stcPosition = p.Position == TzfIndexPathPosition::ippOnCrackAfter ? TzfCursorPosition::cpCrackAfter
                                                                      : TzfCursorPosition::cpCrackBefore;
  }
}

void TzfServerTableCursor::PathToRecord(const uint8_t* aRecord, int64_t aRefNr) {
  if (!stcIndexEngine || !aRecord) return;
  // A record without a key in this index leaves the path where it was; the next step revalidates.
  if (stcIndexPath->SetToRecord(aRecord, aRefNr) != 0) stcIndexPath->SetToBof();
}

uint32_t TzfServerTableCursor::IndexStep(bool aForward, TzfLockType aLockType, uint8_t* aData) {
  std::vector<uint8_t> scratch;
  if (!aData) {
    scratch.resize(stcTable->sbtFieldsDescriptor->GetRecordLength());
    aData = scratch.data();
  }
  return InContent(false, [&](TzfServerTransaction* aTrans) -> uint32_t {
    TzfIndexNodeStore& store = IndexStore(aTrans);
    TzfBaseIndexPath& path = *stcIndexPath;
    // Positioning in storage order (bookmarks, record numbers, another cursor) moves only the
    // record position: the path follows it here.
    if (stcPosition == TzfCursorPosition::cpBOF) {
      if (!path.IsBof()) path.SetToBof();
    } else if (stcPosition == TzfCursorPosition::cpEOF) {
      if (!path.IsEof()) path.SetToEof();
    } else if (path.RefNr != stcRefNr || !(path.IsOnKey() || path.IsOnCrack())) {
      stcTable->sbtRecordEngine->ReadRecord(aTrans, stcRefNr, aData);
      if (const uint32_t k = path.SetToRecord(aData, stcRefNr)) return k == 1 ? zfErrNoCurrRec : k;
      if (stcPosition == TzfCursorPosition::cpCrackBefore) path.SetToCrackBefore();
      if (stcPosition == TzfCursorPosition::cpCrackAfter) path.SetToCrackAfter();
    }
    bool found;
    // From an end of the index into a bounded range: straight to the range's first (last) key.
    const TRangeEnd& nearEnd = aForward ? stcRangeStart : stcRangeEnd;
    if (nearEnd.Info.riValid && (aForward ? path.IsBof() : path.IsEof())) {
      const TzfSearchKeyAction a = aForward ? (nearEnd.Info.riExclusive ? skaGreater : skaGreaterEqual)
                                            : (nearEnd.Info.riExclusive ? skaSmaller : skaSmallerEqual);
      found = stcIndexEngine->FindKey(store, nearEnd.Info.riKey, nearEnd.Info.riFieldCount, nearEnd.Info.riPartitial, 0, path,
                                      a, ActiveKeyFilter());
    } else {
      found = aForward ? stcIndexEngine->NextKey(store, path, ActiveKeyFilter())
                       : stcIndexEngine->PrevKey(store, path, ActiveKeyFilter());
    }
    // A scan's own key filter (SetToFilter) skips further keys, within the range.
    while (stcScanKeyFilter && found && path.IsOnKey() && KeyRangePosition(path.Key) == 0 &&
           !stcScanKeyFilter->MatchesBuffer(path.Key))
      found = aForward ? stcIndexEngine->NextKey(store, path, ActiveKeyFilter())
                       : stcIndexEngine->PrevKey(store, path, ActiveKeyFilter());
    if (found && path.IsOnKey() && KeyRangePosition(path.Key) == (aForward ? 1 : -1)) found = false;
    if (!found || !path.IsOnKey()) {
      if (aForward)
        path.SetToEof();
      else
        path.SetToBof();
      PositionFromPath();
      return aForward ? zfErrEOF : zfErrBOF;
    }
    PositionFromPath();
    stcTable->sbtRecordEngine->ReadRecord(aTrans, stcRefNr, aData);
    if (aLockType != zfltNoLock) {
      bool isNew = false;
      if (const uint32_t r = LockRecord(aTrans, stcRefNr, isNew)) {
        if (aForward)
          path.SetToCrackBefore();
        else
          path.SetToCrackAfter();
        PositionFromPath();
        return r;
      }
      stcTable->sbtRecordEngine->ReadRecord(aTrans, stcRefNr, aData);
    }
    return 0;
  });
}

uint32_t TzfServerTableCursor::SwitchToIndex(const UnicodeString& aIndexName, int32_t aIndexID, bool aPosnOnRec) {
  return Framed([&] { return sbcSwitchToIndex(aIndexName, aIndexID, aPosnOnRec); });
}

uint32_t TzfServerTableCursor::sbcSwitchToIndex(const UnicodeString& aIndexName, int32_t aIndexID, bool aPosnOnRec) {
  {
    try {
      TzfBaseIndicesEngine* ix = stcTable->sbtIndicesEngine.get();
      int32_t id = aIndexID;
      if (ix) {
        if (!aIndexName.empty()) {
          TzfMainIndicesDescriptor* d = stcTable->sbtTableDescriptor->tdIndicesDescriptor.get();
          id = d ? d->GetIndexFromName(aIndexName) : -1;
          if (id < 0) return zfErrNoSuchIndex;
        }
        if (id < -1 || id >= zfIndicesEngineIndexCount(*ix)) return zfErrNoSuchIndex;
      } else {
        if (!aIndexName.empty() || id < -1 || id > 0) return zfErrNoSuchIndex;
        id = -1;
      }
      TzfBaseIndexEngine* engine = id >= 0 ? &ix->Indices().GetIndexEngine(id) : nullptr;
      if (engine && engine->NLSVersionChanged())
        return EzfBaseException::zfSetMessage(zfErrHigherTableLevelRequired,
                                              u"Current NLS version differs from NLS version of stored keys. Table "
                                              u"must be packed before index can be used");
      std::vector<uint8_t> record;
      if (aPosnOnRec) {
        if (stcPosition != TzfCursorPosition::cpOnRecord) return zfErrNoCurrRec;
        record.resize(stcTable->sbtFieldsDescriptor->GetRecordLength());
        const uint32_t r = InContent(false, [&](TzfServerTransaction* aTrans) -> uint32_t {
          stcTable->sbtRecordEngine->ReadRecord(aTrans, stcRefNr, record.data());
          return 0;
        });
        if (r != 0) return (r >> 8 & 255) == 40 || r == zfErrTimeout ? r : zfErrNoCurrRec;
      }
      // Key filters are defined on the old index's key fields.
      if (sbcKeyFilter) zfFilterActivate(sbcKeyFilter, 0, false);
      std::unique_ptr<TzfBaseIndexPath> path = engine ? engine->CreateIndexPath() : TzfBaseIndexPath::CreateStandalone();
      if (aPosnOnRec && engine) {
        const uint32_t k = path->SetToRecord(record.data(), stcRefNr);
        if (k == 1) return zfErrNoCurrRec;
        if (k != 0) return k;
        const uint32_t v = InContent(false, [&](TzfServerTransaction* aTrans) -> uint32_t {
          TzfBaseIndicesEngine& e = *ix;
          e.SetTransaction(aTrans);
          engine->ValidateIndexPath(e.Indices().Store(id), *path);
          return path->CheckCurrentState();
        });
        if (v != 0) return v;
      } else if (!aPosnOnRec) {
        path->SetToBof();
      }
      // Key buffers and the range belong to the index: exchanged together with it.
      stcIndexEngine = engine;
      stcIndexPath = std::move(path);
      const size_t len = engine ? engine->bieKeyEngine->bkeKeyLength : 0;
      stcKeyBuffer.assign(len, 0);
      for (TRangeEnd* e : {&stcRangeStart, &stcRangeEnd}) {
        e->Key.assign(len, 0);
        e->Info = TzfRangeInfo{};
        e->Info.riKey = e->Key.data();
      }
      if (!aPosnOnRec) {
        stcPosition = TzfCursorPosition::cpBOF;
        stcRefNr = 0;
      }
      return 0;
    } catch (const EzfBaseException& e) {
      return e.ErrorCode();
    }
  }
}

uint32_t TzfServerTableCursor::stcCreateBulkBuilder(std::unique_ptr<TzfBaseBulkBuilder>& aBulkBuilder) {
  aBulkBuilder.reset();
  return Framed([&]() -> uint32_t {
    TzfBaseIndicesEngine* ix = stcTable->sbtIndicesEngine.get();
    if (!ix) return 0;
    TzfServerTransaction* trans = CurrentTrans();
    if (!trans) return zfErrNotSupported;
    return InContent(false, [&](TzfServerTransaction* aTrans) -> uint32_t {
      ix->SetTransaction(aTrans);
      aBulkBuilder = ix->Indices().CreateBulkBuilder();
      return 0;
    });
  });
}

uint32_t TzfServerTableCursor::GetIndexID(int32_t& aIndexID) {
  aIndexID = -1;
  return Framed([&] {
    aIndexID = stcIndexEngine ? stcIndexEngine->bieIndexNumber : -1;
    return 0u;
  });
}

uint32_t TzfServerTableCursor::SetToKey(TzfSearchKeyAction aSearchAction, int32_t aFieldCount, int32_t aPartialLen,
                                        bool aDirectKey, const uint8_t* aKeyData) {
  return Framed([&]() -> uint32_t {
    if (!stcIndexEngine) return zfErrNoAssocIndex;
    if (const uint32_t k = TakeKey(aDirectKey, aKeyData, stcKeyBuffer.data())) return k;
    const bool backward = aSearchAction == skaEqualLast || aSearchAction == skaSmallerEqual || aSearchAction == skaSmaller;
    const bool exact = aSearchAction == skaEqualFirst || aSearchAction == skaEqualLast;
    return InContent(false, [&](TzfServerTransaction* aTrans) -> uint32_t {
      TzfBaseIndexPath& path = *stcIndexPath;
      const bool found = stcIndexEngine->FindKey(IndexStore(aTrans), stcKeyBuffer.data(), aFieldCount, aPartialLen, 0,
                                                 path, aSearchAction, ActiveKeyFilter());
      uint32_t r = 0;
      if (found) {
        if (path.KeyValid) {
          const int pos = KeyRangePosition(path.Key);
          if (pos < 0) path.SetToBof();
          if (pos > 0) path.SetToEof();
        }
        if (path.IsOnKey()) {
          // Beside the key, so that the next read in the search's direction returns its record.
          if (backward)
            path.SetToCrackAfter();
          else
            path.SetToCrackBefore();
        } else if (exact) {
          r = zfErrRecNotFound;
        }
      } else {
        if (backward)
          path.SetToBof();
        else
          path.SetToEof();
        if (exact) r = zfErrRecNotFound;
      }
      PositionFromPath();
      return r;
    });
  });
}


uint32_t TzfServerTableCursor::RangeReset() {
  return Framed([&] {
    stcRangeStart.Info.riValid = false;
    stcRangeEnd.Info.riValid = false;
    return 0u;
  });
}

uint32_t TzfServerTableCursor::RangeSet(int32_t aFieldCount1, int32_t aPartialLen1, bool aDirectKey1,
                                        const uint8_t* aKeyData1, bool aKeyIncl1, int32_t aFieldCount2,
                                        int32_t aPartialLen2, bool aDirectKey2, const uint8_t* aKeyData2,
                                        bool aKeyIncl2) {
  return Framed([&]() -> uint32_t {
    if (!stcIndexEngine) return zfErrNoAssocIndex;
    stcRangeStart.Info.riValid = false;
    stcRangeEnd.Info.riValid = false;
    const auto take = [&](TRangeEnd& aEnd, int32_t aFieldCount, int32_t aPartialLen, bool aDirectKey,
                          const uint8_t* aKeyData, bool aKeyIncl) -> uint32_t {
      if (!aKeyData) return 0;
      if (const uint32_t k = TakeKey(aDirectKey, aKeyData, aEnd.Key.data())) return k;
      aEnd.Info.riValid = true;
      aEnd.Info.riFieldCount = aFieldCount;
      aEnd.Info.riPartitial = aPartialLen;
      aEnd.Info.riExclusive = !aKeyIncl;
      return 0;
    };
    uint32_t r = 0;
    try {
      r = take(stcRangeStart, aFieldCount1, aPartialLen1, aDirectKey1, aKeyData1, aKeyIncl1);
      if (r == 0) r = take(stcRangeEnd, aFieldCount2, aPartialLen2, aDirectKey2, aKeyData2, aKeyIncl2);
    } catch (const EzfBaseException& e) {
      r = e.ErrorCode();
    }
    if (r != 0) {
      stcRangeStart.Info.riValid = false;
      stcRangeEnd.Info.riValid = false;
      return r;
    }
    stcIndexPath->SetToBof();
    PositionFromPath();
    return 0;
  });
}

uint32_t TzfServerTableCursor::CompareKeys(int32_t aFieldCount, int32_t aPartialLen, bool aDirectKey1,
                                           const uint8_t* aKeyData1, bool aDirectKey2, const uint8_t* aKeyData2,
                                           TValueRelationship& aResult) {
  aResult = 0;
  return Framed([&]() -> uint32_t {
    if (!stcIndexEngine) return zfErrNoAssocIndex;
    const size_t len = stcIndexEngine->bieKeyEngine->bkeKeyLength;
    std::vector<uint8_t> k1(len), k2(len);
    try {
      if (const uint32_t r = TakeKey(aDirectKey1, aKeyData1, k1.data())) return r;
      if (const uint32_t r = TakeKey(aDirectKey2, aKeyData2, k2.data())) return r;
      aResult = stcIndexEngine->bieKeyEngine->CompareKey(k1.data(), k2.data(), aFieldCount, aPartialLen);
    } catch (const EzfBaseException& e) {
      return e.ErrorCode();
    }
    return 0;
  });
}

}  // namespace zf
