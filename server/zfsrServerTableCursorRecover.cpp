// The table cursor's part of the table recover: placing one salvaged record.
//
// The walk holds one outer transaction on the private database's context (level 1) and one nested
// level per block (2). A record without BLOBs is inserted straight into the block's level when
// nothing can go wrong half-way: a refusal by the validation or a unique key writes nothing, and
// any other failure sends the whole block through the road below again. On that road (and for
// records with BLOBs) each record gets a nested level of its own: it is copied into the recovered
// table's buffer, its BLOBs are copied each in a level of their own, and it is inserted with
// validation only. When a BLOB cannot be
// copied or the insert fails, level 2 is rolled back and the record goes, in a new level, into the
// failed table with the BLOBs that could be copied and NULL for the others. A record that neither
// table takes is rolled back, logged and skipped. The walk stops only when a level cannot be
// started or committed or the storage layer marked the transaction broken.
#include <algorithm>
#include <cstring>

#include "foundation/zfllConvertException.h"
#include "foundation/zfllErrors.h"
#include "index/zfseIndicesEngineHandle.h"
#include "platform/rtl/rtlException.h"
#include "server/zfsrServerRecover.h"
#include "server/zfsrServerTable.h"
#include "storage/zfsrAutoIncEngineBase.h"
#include "storage/zfsrBlock.h"

namespace zf {

namespace {

// Copies one whole BLOB of aSource into aTarget's table: 0 and the new BLOB's number, or a code.
uint32_t CopyBlob(TzfServerTableCursor* aTarget, TzfServerTableCursor* aSource, int32_t aField, int64_t aBlobNr,
                  int64_t& aNewBlobNr) {
  aNewBlobNr = 0;
  return aTarget->sbcBlobCopyPrim(aSource, aField, aBlobNr, aField, aNewBlobNr, 0xFFFFFFFFu);
}

// aRecord (the source's record, aLength bytes) into aBuffer; a shorter source leaves the rest 0.
void FillBuffer(std::vector<uint8_t>& aBuffer, const uint8_t* aRecord, uint32_t aLength) {
  const size_t n = std::min<size_t>(aBuffer.size(), aLength);
  std::memcpy(aBuffer.data(), aRecord, n);
  if (n < aBuffer.size()) std::memset(aBuffer.data() + n, 0, aBuffer.size() - n);
}

// A refusal of an insert that wrote nothing (the validation runs before the record is written) or
// took its record out again (a refused key).
bool zfIsCleanRefusal(uint32_t aCode) {
  switch (aCode) {
    case zfErrKeyViol:
    case zfErrMinValErr:
    case zfErrMaxValErr:
    case zfErrRequiredErr:
    case zfErrFieldIsBlank:
    case zfErrExprValErr:
      return true;
    default:
      return false;
  }
}

}  // namespace

TzfRecordIteratorResult TzfServerTableCursor::stcRecoverRecord(void* aCookie, int64_t, const uint8_t* aRecord) {
  auto& c = *static_cast<TzfRecoverCookie*>(aCookie);
  const int32_t base = c.rcBaseLevel;
  if (c.rcTransLevel != base) rtl::AssertionFailure("zfsrServerEngine", __LINE__);
  TzfServerTransContext* context = c.rcTargetCursor->stcContext;
  TzfFieldsDescriptor& sourceFields = *stcTable->sbtFieldsDescriptor;
  const uint32_t length = stcTable->sbtRecordEngine->breRecordLength;
  auto noteAutoInc = [&] {
    if (c.rcAutoIncField < 0 || sourceFields.IsRecordFieldNullFast(c.rcAutoIncField, aRecord)) return;
    const TzfFieldDescriptor& f = *sourceFields.Field(c.rcAutoIncField);
    if (f.fdLength < 4 || uint32_t(f.fdOffset) + 4 > length) return;
    const uint8_t* p = aRecord + f.fdOffset;
    const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    c.rcMaxAutoInc = std::max(c.rcMaxAutoInc, v);
  };
  bool hasBlob = false;
  for (const int32_t field : *c.rcBlobFields)
    if (!sourceFields.IsRecordFieldNullFast(field, aRecord)) hasBlob = true;

  if (base == 2 && !hasBlob) {
    // Inside the block's level: a refusal by the validation or a unique key leaves nothing behind
    // (the validation runs before the record is written, a refused key takes its record out
    // again), so such a record goes on to the failed table in the same level. Any other failure
    // may have left writes: the block is salvaged again record by record.
    try {
      std::vector<uint8_t>& target = *c.rcTargetBuffer;
      FillBuffer(target, aRecord, length);
      uint32_t code = c.rcTargetCursor->sbcRecordInsert(zfltNoLock, TzfInsertOptions{ioValidate}, target.data());
      if (code != 0 && zfIsCleanRefusal(code)) {
        std::vector<uint8_t>& failed = *c.rcFailedBuffer;
        FillBuffer(failed, aRecord, length);
        code = c.rcFailedCursor->sbcRecordInsert(zfltNoLock, TzfInsertOptions{}, failed.data());
      }
      if (code == 0) {
        noteAutoInc();
        return TzfRecordIteratorResult::rirContinue;
      }
    } catch (const std::exception&) {
    }
    c.rcRedo = true;
    return TzfRecordIteratorResult::rirStop;
  }

  // A record in a nested level of its own (one above the base).
  auto start = [&]() -> bool {
    c.rcErrorCode = context->stcTransactionStart(false, false, false, false, false);
    if (c.rcErrorCode != 0) return false;
    ++c.rcTransLevel;
    return true;
  };
  auto rollback = [&] {
    context->stcTransactionRollback();
    --c.rcTransLevel;
  };
  if (!start()) return TzfRecordIteratorResult::rirStop;

  // Copies the non-NULL BLOBs of aRecord into aTo's table, each in a level of its own; a BLOB
  // that fails is NULL in aBuffer. aStopAtFirst ends at the first failure. True when one failed.
  auto copyBlobs = [&](TzfServerTableCursor* aTo, std::vector<uint8_t>& aBuffer, bool aStopAtFirst) -> bool {
    bool anyFailed = false;
    TzfFieldsDescriptor& toFields = *aTo->stcTable->sbtFieldsDescriptor;
    for (const int32_t field : *c.rcBlobFields) {
      if (sourceFields.IsRecordFieldNullFast(field, aRecord)) continue;
      const TzfFieldDescriptor& from = *sourceFields.Field(field);
      const TzfFieldDescriptor& to = *toFields.Field(field);
      if (from.fdLength < 8 || to.fdLength < 8 || uint32_t(from.fdOffset) + 8 > length ||
          size_t(to.fdOffset) + 8 > aBuffer.size()) {
        toFields.SetRecordField(field, aBuffer.data(), nullptr);
        anyFailed = true;
        if (aStopAtFirst) break;
        continue;
      }
      if (!start()) {
        toFields.SetRecordField(field, aBuffer.data(), nullptr);
        return true;  // the walk stops (rcErrorCode)
      }
      uint32_t code = 0;
      int64_t newBlob = 0;
      try {
        code = CopyBlob(aTo, this, field, static_cast<int64_t>(zfGetLE64(aRecord + from.fdOffset)), newBlob);
      } catch (const std::exception& e) {
        // A damaged BLOB is this field's own failure, handled here: its code is all it leaves.
        code = zfExceptionCode(e);
      }
      if (code == 0) {
        zfPutLE64(aBuffer.data() + to.fdOffset, static_cast<uint64_t>(newBlob));
        code = context->stcTransactionCommit();
        if (code == 0) {
          --c.rcTransLevel;
          continue;
        }
      }
      toFields.SetRecordField(field, aBuffer.data(), nullptr);
      rollback();
      anyFailed = true;
      if (aStopAtFirst) break;
    }
    return anyFailed;
  };

  uint32_t placeCode = 0;
  try {
    std::vector<uint8_t>& target = *c.rcTargetBuffer;
    FillBuffer(target, aRecord, length);
    const bool blobFailed = hasBlob && copyBlobs(c.rcTargetCursor, target, true);
    if (c.rcErrorCode == 0) {
      if (!blobFailed) placeCode = c.rcTargetCursor->sbcRecordInsert(zfltNoLock, TzfInsertOptions{ioValidate}, target.data());
      if (blobFailed || placeCode != 0) {
        rollback();
        if (start()) {
          std::vector<uint8_t>& failed = *c.rcFailedBuffer;
          FillBuffer(failed, aRecord, length);
          if (hasBlob) copyBlobs(c.rcFailedCursor, failed, false);
          if (c.rcErrorCode == 0) placeCode = c.rcFailedCursor->sbcRecordInsert(zfltNoLock, TzfInsertOptions{}, failed.data());
        }
      }
    }
  } catch (const std::exception& e) {
    placeCode = asoConvertException(e);
    if (placeCode == 0) placeCode = zfErrRecoveryFailed;
  }

  if (c.rcErrorCode == 0 && placeCode != 0) {
    // Neither table took the record. A transaction the storage layer marked broken (a write error
    // of the target files) ends the walk; anything else is this record's own problem.
    if (TzfServerTransaction* trans = CurrentTrans())
      if (const uint32_t state = trans->CheckState()) c.rcErrorCode = state;
  }
  if (c.rcTransLevel > base) {
    if (c.rcErrorCode == 0 && placeCode == 0) {
      c.rcErrorCode = context->stcTransactionCommit();
      if (c.rcErrorCode == 0) {
        --c.rcTransLevel;
        noteAutoInc();
      }
    }
    while (c.rcTransLevel > base) rollback();
  }
  if (c.rcErrorCode == 0 && placeCode != 0 && c.rcContainer)
    c.rcContainer->LogBlock(c.rcFileIndex, c.rcBlockNr, placeCode, u"holds a record neither table takes; skipped");
  return c.rcErrorCode != 0 ? TzfRecordIteratorResult::rirStop : TzfRecordIteratorResult::rirContinue;
}

uint32_t TzfServerTableCursor::stcRaiseAutoInc(uint32_t aAtLeast) {
  if (!stcTable->sbtAutoIncEngine) return 0;
  return InWrite([&](TzfServerTransaction* aTrans) -> uint32_t {
    TzfBaseAutoIncEngine& engine = *stcTable->sbtAutoIncEngine;
    if (engine.ReadAutoIncValue(aTrans) < aAtLeast) engine.SetAutoIncValue(aTrans, aAtLeast);
    return 0;
  });
}

void TzfServerTableCursor::stcDeferKeys(int64_t aRecords, int64_t aMaxBytes) {
  if (TzfBaseIndicesEngine* ix = stcTable->sbtIndicesEngine.get()) zfIndicesDeferKeys(*ix, aRecords, aMaxBytes);
}

uint32_t TzfServerTableCursor::stcBuildDeferredKeys() {
  TzfBaseIndicesEngine* ix = stcTable->sbtIndicesEngine.get();
  if (!ix) return 0;
  const uint32_t r = InWrite([&](TzfServerTransaction* aTrans) -> uint32_t {
    zfIndicesBuildDeferredKeys(*ix, aTrans);
    return 0;
  });
  zfIndicesEndDeferral(*ix);
  return r;
}

void TzfServerTableCursor::stcEndDeferral() {
  if (TzfBaseIndicesEngine* ix = stcTable->sbtIndicesEngine.get()) zfIndicesEndDeferral(*ix);
}

}  // namespace zf
