#include "storage/zfseRecordEngineVariable.h"

#include <cstring>

#include "dictionary/zfsdTableDescriptor.h"
#include "foundation/zfllErrors.h"
#include "storage/zfseHeapEngineKinds.h"
#include "storage/zfsrFile.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

uint32_t zfVariableEncodeRecord(const uint8_t* aRecord, uint32_t aL, TzfBaseRecordCompressionEngine* aCompression,
                                uint8_t* aSegment, uint8_t aExtraFlags) {
  const uint16_t c = aCompression ? aCompression->CompressRecord(aRecord, aSegment + 1) : 0;
  if (c > 0) {
    if (c < 9) {
      std::memset(aSegment + 1 + c, 0, 9u - c);
      aSegment[9] = uint8_t(9 - c);
      aSegment[0] = uint8_t(kzfSegPadded | aExtraFlags);
      return 10;
    }
    aSegment[0] = aExtraFlags;
    return 1u + c;
  }
  std::memcpy(aSegment + 1, aRecord, aL);
  if (aL < 9) {
    std::memset(aSegment + 1 + aL, 0, 9 - aL);
    aSegment[0] = uint8_t(kzfSegRaw | kzfSegPadded | aExtraFlags);
    return 10;
  }
  aSegment[0] = uint8_t(kzfSegRaw | aExtraFlags);
  return 1 + aL;
}

bool zfVariableDecodeSegment(const uint8_t* aSegment, uint32_t aSize, uint32_t aL,
                             TzfBaseRecordCompressionEngine* aCompression, uint8_t* aRecord) {
  if (aSize < 10) return false;
  const uint8_t flags = aSegment[0];
  if ((flags & 0xF0) != 0 || (flags & kzfSegForward) != 0) return false;
  if (flags & kzfSegRaw) {
    // Padded exactly when the record is shorter than 9 bytes.
    if (aSize != zfVariableSegmentRoom(aL) || ((flags & kzfSegPadded) != 0) != (aL < 9)) return false;
    std::memcpy(aRecord, aSegment + 1, aL);
    return true;
  }
  uint32_t c = aSize - 1;
  if (flags & kzfSegPadded) {
    const uint32_t pad = aSegment[aSize - 1];
    if (aSize != 10 || pad < 1 || pad > 8) return false;
    c = 9 - pad;
  }
  if (!aCompression || c > 0xFFFF) return false;
  try {
    aCompression->DecompressRecord(aSegment + 1, uint16_t(c), aRecord);
  } catch (const EzfBaseException&) {
    return false;
  }
  return true;
}

TzfRecordIteratorResult zfVariableRecoverBlock(const uint8_t* aBlock, uint32_t aU, TzfBlockNumber aBlockNumber,
                                               uint32_t aL, TzfBaseRecordCompressionEngine* aCompression,
                                               uint8_t* aRecordBuffer, const uint8_t** aData,
                                               const TzfRecordIterator& aIterator, void* aCookie,
                                               TzfRecoverStats* aStats) {
  TzfRecoverStats local;
  TzfRecoverStats& st = aStats ? *aStats : local;
  st = {};
  TzfRecordIteratorResult result = TzfRecordIteratorResult::rirContinue;
  if (!aBlock || zfGetBlockSignature(aBlock) != kzfHeapDataBlockSignature || zfGetThisBlock(aBlock) != aBlockNumber)
    return result;
  const uint32_t h = zfHeapDataStart(kzfVariableOwnerHeaderSize);
  const TzfHeapBlockCheck check = zfCheckHeapBlock(aBlock, aU, h);
  // A block that is sound only as a BLOB heap block belongs to the BLOB heap.
  if (!check.Valid && zfCheckHeapBlock(aBlock, aU, zfHeapDataStart(kzfBlobHeapOwnerHeaderSize)).Valid) return result;
  st.Recognised = true;
  st.BlockValid = check.Valid;
  if (!check.Valid) {
    // More live entries than the block's live count means some entry turned live by damage: a
    // deleted segment's entry cannot be told from a live one, so the block gives nothing rather
    // than a deleted record.
    uint32_t live = 0;
    for (uint32_t slot = 1; slot <= check.SlotCount; ++slot)
      if ((zfGetLE16(aBlock + aU - 6 - 2 * slot) & 3) == 0) ++live;
    if (live > zfGetLE16(aBlock + h - 4)) {
      st.Skipped = live;
      return result;
    }
  }
  uint32_t seen = 0;
  for (uint32_t slot = 1; slot <= check.SlotCount; ++slot) {
    const uint32_t entry = zfGetLE16(aBlock + aU - 6 - 2 * slot);
    if ((entry & 3) != 0) continue;  // deleted, free or invalid: never a record
    if (++seen % 1000 == 2) zfCheckTimeout();
    uint16_t size = 0;
    const uint8_t* seg = zfHeapSoundSegment(aBlock, aU, h, check.SlotCount, slot, size);
    if (!seg) {
      ++st.Skipped;
      continue;
    }
    if (size >= 1 && (seg[0] & kzfSegForward) != 0 && (seg[0] & 0xF0) == 0) continue;
    if (!zfVariableDecodeSegment(seg, size, aL, aCompression, aRecordBuffer)) {
      ++st.Skipped;
      continue;
    }
    if (aData) *aData = aRecordBuffer;
    ++st.Records;
    st.Slot = slot;
    result = aIterator(aCookie, 0, aRecordBuffer);
    if (result == TzfRecordIteratorResult::rirStop) break;
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// The engine

namespace {
constexpr const char* kUnit = "zfseRecordEngineVariable";
constexpr uint32_t kSecCount = 0, kSecFirst = 4, kSecLast = 8, kSecMgmt = 12;
}  // namespace

// Keeps the engine's chain of heap data blocks (next at 16, previous at 20) and the heap's root.
class TzfVariableRecordHeapHeaderHandler : public TzfHeapHeaderHandler {
 public:
  explicit TzfVariableRecordHeapHeaderHandler(TzfVariableRecordEngine* aEngine) : FEngine(aEngine) {}
  uint8_t* Sec(TzfBaseFileHeaderAccess* aHeader) const { return aHeader->Header + FEngine->reHeaderSection; }
  void DataBlockAdded(TzfBaseTransaction* aTrans, TzfBaseFileHeaderAccess* aHeader, PzfBlock aBlock) override {
    uint8_t* sec = Sec(aHeader);
    const TzfBlockNumber n = zfGetThisBlock(aBlock);
    const TzfBlockNumber last = zfGetLE32(sec + kSecLast);
    zfPutLE32(aBlock + 16, 0);
    zfPutLE32(aBlock + 20, last);
    if (last != 0) {
      TzfReleaseMethod rm;
      PzfBlock lb = hhhEngine->ReadBlockHeap(aTrans, last, true, rm);
      const bool empty = zfGetLE32(lb + 16) == 0;
      if (empty) zfPutLE32(lb + 16, n);
      rm(lb);
      ZF_ASSERT(empty, kUnit);
    } else {
      ZF_ASSERT(zfGetLE32(sec + kSecFirst) == 0, kUnit);
      zfPutLE32(sec + kSecFirst, n);
    }
    zfPutLE32(sec + kSecLast, n);
  }
  void DataBlockRemoved(TzfBaseTransaction* aTrans, TzfBaseFileHeaderAccess* aHeader, PzfBlock aBlock) override {
    uint8_t* sec = Sec(aHeader);
    const TzfBlockNumber n = zfGetThisBlock(aBlock);
    const TzfBlockNumber next = zfGetLE32(aBlock + 16), prev = zfGetLE32(aBlock + 20);
    // Points the link at aLinkAt of aNeighbour (or, at the chain's end, the section word aEnd) past
    // the removed block to aOther.
    auto unlink = [&](TzfBlockNumber aNeighbour, uint32_t aLinkAt, uint32_t aEnd, TzfBlockNumber aOther) {
      if (aNeighbour != 0) {
        TzfReleaseMethod rm;
        PzfBlock b = hhhEngine->ReadBlockHeap(aTrans, aNeighbour, true, rm);
        const bool ok = zfGetLE32(b + aLinkAt) == n;
        if (ok) zfPutLE32(b + aLinkAt, aOther);
        rm(b);
        ZF_ASSERT(ok, kUnit);
      } else {
        ZF_ASSERT(zfGetLE32(sec + aEnd) == n, kUnit);
        zfPutLE32(sec + aEnd, aOther);
      }
    };
    unlink(prev, 16, kSecFirst, next);
    unlink(next, 20, kSecLast, prev);
  }
  uint16_t HeaderSize() override { return kzfVariableOwnerHeaderSize; }
  uint32_t GetFirstManagementBlock(TzfBaseFileHeaderAccess* aHeader) override {
    return zfGetLE32(Sec(aHeader) + kSecMgmt);
  }
  void SetFirstManagementBlock(TzfBaseFileHeaderAccess* aHeader, uint32_t aBlock) override {
    zfPutLE32(Sec(aHeader) + kSecMgmt, aBlock);
  }

 private:
  TzfVariableRecordEngine* FEngine;
};

TzfVariableRecordEngine::TzfVariableRecordEngine(TzfBaseRecordDescriptor* aDescriptor, TzfFieldsDescriptor* aFields,
                                                 TzfBaseTransaction* aTrans, const TzfBlockAccessList& aFiles)
    : TzfBaseRecordEngine(aDescriptor, aFields, aTrans, aFiles) {
  auto* hrd = dynamic_cast<TzfHeapRecordDescriptor*>(aDescriptor);
  if (!hrd) throw EzfVariableRecordEngineException(zfErrInvalidDesc, u"TzfHeapRecordDescriptor is required");
  if (!hrd->hrdHeapDescriptor) throw EzfVariableRecordEngineException(zfErrInvalidDesc, u"A HeapDescriptor is required");
  reFileIsV1 = breDataFile->baFile->fiHeaderSignature == TzfBlockSignature{'Z', 'F', '!', '1'};
  reRecordBuffer.resize(zfVariableSegmentRoom(breRecordLength));
  FWalkBuffer.resize(breRecordLength);
  {
    std::unique_ptr<TzfBaseFileHeaderAccess> ha(breDataFile->HeaderAccess(aTrans, aTrans != nullptr));
    reHeaderSection = ha->RegisterHeaderSection(hrd->brdHeaderSection, 24, aTrans != nullptr, false);
    if (aTrans) std::memset(ha->Header + reHeaderSection, 0, 24);
  }
  // The heap is the one the heap descriptor names; records live in the cached heap's layout.
  reHeap = TzfBaseHeapEngine::CreateEngine(hrd->hrdHeapDescriptor.get(), breDataFile,
                                           std::make_unique<TzfVariableRecordHeapHeaderHandler>(this));
  auto* cached = dynamic_cast<TzfCachedHeapKind*>(reHeap.get());
  if (!cached) {
    throw EzfVariableRecordEngineException(zfErrInvalidDesc, u"The record heap must be a cached heap [%s]",
                                           {hrd->hrdHeapDescriptor->bhdHeapEngine});
  }
  reHeapEngine = &cached->Cached();
  reCompressionEngine = TzfBaseRecordCompressionEngine::CreateEngine(hrd->hrdRecordCompressionDescriptor.get(),
                                                                     aFields, bseTableVersion);
}

TzfVariableRecordEngine::~TzfVariableRecordEngine() = default;

const TzfRecordEngineClass& TzfVariableRecordEngine::ClassInfo() {
  static const TzfRecordEngineClass info(
      u"TzfVariableRecordEngine", &TzfBaseRecordEngine::ClassInfo(), nullptr, nullptr,
      [](TzfBaseRecordDescriptor* d, TzfFieldsDescriptor* f, TzfBaseTransaction* t,
         const TzfBlockAccessList& l) -> std::unique_ptr<TzfBaseRecordEngine> {
        return std::make_unique<TzfVariableRecordEngine>(d, f, t, l);
      },
      &TzfVariableRecordEngine::CheckValidEngineDescriptor);
  return info;
}

void TzfVariableRecordEngine::CheckValidEngineDescriptor(TzfBaseTableDescriptor& aTable) {
  auto* hrd = dynamic_cast<TzfHeapRecordDescriptor*>(aTable.tdRecordDescriptor.get());
  if (!hrd) {
    throw EzfVariableRecordEngineException(zfErrInvalidDesc,
                                           u"Record descriptor must be a TzfHeapRecordDescriptor is required");
  }
  if (!hrd->hrdHeapDescriptor) throw EzfVariableRecordEngineException(zfErrInvalidDesc, u"A HeapDescriptor is required");
  TzfBaseHeapEngine::CheckValidBaseFromDescriptor(hrd->hrdHeapDescriptor.get());
  TzfBaseRecordCompressionEngine::CheckValidBaseFromDescriptor(hrd->hrdRecordCompressionDescriptor.get());
  const int32_t len = aTable.tdFieldsDescriptor ? aTable.tdFieldsDescriptor->GetRecordLength() : 0;
  zfFitRecordFileBlockSize(aTable, uint32_t(len) + 25);
}

uint32_t TzfVariableRecordEngine::SectionWord(TzfBaseTransaction* aTrans, uint32_t aOffset) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(breDataFile->HeaderAccess(aTrans, false));
  return zfGetLE32(ha->Header + reHeaderSection + aOffset);
}

void TzfVariableRecordEngine::RaiseDamaged(int64_t aRefNr) const {
  throw EzfVariableRecordEngineException(zfErrFileCorrupt, u"Record segment is damaged [%s, ref %d]",
                                         {breDataFile->TableFileName(), aRefNr});
}

int32_t TzfVariableRecordEngine::GetRecoverID() { return reFileIsV1 ? 0 : reHeapEngine->bseID; }

void TzfVariableRecordEngine::AddRecord(TzfBaseTransaction* aTrans, int64_t& aRefNr, const uint8_t* aRecData) {
  const uint32_t size = zfVariableEncodeRecord(aRecData, breRecordLength, reCompressionEngine.get(),
                                               reRecordBuffer.data());
  if (size > reHeapEngine->bheBlockHeapEngine->bbheMaxSegmentSize) {
    throw EzfVariableRecordEngineException(zfErrMaxRecordSizeExceeded);
  }
  aRefNr = reHeapEngine->AllocSegment(aTrans, {{reRecordBuffer.data(), size}});
  ZF_ASSERT(aRefNr != 0, kUnit);
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(breDataFile->HeaderAccess(aTrans, true));
  uint8_t* sec = ha->Header + reHeaderSection;
  zfPutLE32(sec + kSecCount, zfGetLE32(sec + kSecCount) + 1);
}

void TzfVariableRecordEngine::ReadInto(TzfBaseTransaction* aTrans, int64_t aRef, uint8_t* aRecord) {
  uint16_t size;
  PzfBlock b;
  TzfReleaseMethod rm;
  const uint8_t* seg = reHeapEngine->GetSegment(aTrans, aRef, false, size, b, rm);
  if (size >= 1 && (seg[0] & kzfSegMoved)) {
    rm(b);
    throw EzfVariableRecordEngineException(zfErrInvalidRecordRef, u"Record reference number is invalid");
  }
  if (size >= 1 && (seg[0] & kzfSegForward)) {
    // One hop only: the target must be a moved record, never another forward.
    const int64_t target = size == 9 ? int64_t(zfGetLE64(seg + 1)) : 0;
    rm(b);
    if (target == 0 || target == aRef) RaiseDamaged(aRef);
    seg = reHeapEngine->GetSegment(aTrans, target, false, size, b, rm);
    if (size < 1 || (seg[0] & (kzfSegMoved | kzfSegForward)) != kzfSegMoved) {
      rm(b);
      RaiseDamaged(aRef);
    }
  }
  uint8_t* out = aRecord ? aRecord : FWalkBuffer.data();
  const bool ok = zfVariableDecodeSegment(seg, size, breRecordLength, reCompressionEngine.get(), out);
  rm(b);
  if (!ok) RaiseDamaged(aRef);
}

void TzfVariableRecordEngine::ReadRecord(TzfBaseTransaction* aTrans, int64_t aRefNr, uint8_t* aRecData) {
  ReadInto(aTrans, aRefNr, aRecData);
}

void TzfVariableRecordEngine::FreeTarget(TzfBaseTransaction* aTrans, int64_t aTarget) {
  uint16_t size;
  PzfBlock b;
  TzfReleaseMethod rm;
  const uint8_t* seg = reHeapEngine->GetSegment(aTrans, aTarget, true, size, b, rm);
  if (size < 1 || (seg[0] & (kzfSegMoved | kzfSegForward)) != kzfSegMoved) {
    rm(b);
    RaiseDamaged(aTarget);
  }
  try {
    reHeapEngine->bheBlockHeapEngine->FreeSegment(b, uint32_t(aTarget & 0xFFFFFFFF));
  } catch (...) {
    rm(b);
    throw;
  }
  rm(b);
}

void TzfVariableRecordEngine::UpdateRecord(TzfBaseTransaction* aTrans, int64_t aRefNr, const uint8_t* aNewRecord,
                                           uint8_t* aOldRecord) {
  const uint32_t size = zfVariableEncodeRecord(aNewRecord, breRecordLength, reCompressionEngine.get(),
                                               reRecordBuffer.data());
  if (size > reHeapEngine->bheBlockHeapEngine->bbheMaxSegmentSize) {
    throw EzfVariableRecordEngineException(zfErrMaxRecordSizeExceeded);
  }
  // The old record first: reading it may use the compression buffer only through the decoder.
  if (aOldRecord) ReadInto(aTrans, aRefNr, aOldRecord);
  uint16_t segSize;
  PzfBlock b;
  TzfReleaseMethod rm;
  uint8_t* seg = reHeapEngine->GetSegment(aTrans, aRefNr, true, segSize, b, rm);
  try {
    if (segSize < 1 || (seg[0] & kzfSegMoved)) {
      throw EzfVariableRecordEngineException(zfErrInvalidRecordRef, u"Record reference number is invalid");
    }
    if (seg[0] & kzfSegForward) {
      if (segSize != 9) RaiseDamaged(aRefNr);
      FreeTarget(aTrans, int64_t(zfGetLE64(seg + 1)));
    }
    TzfNonfragmentingBlockHeapEngine& bh = *reHeapEngine->bheBlockHeapEngine;
    const uint32_t slot = uint32_t(aRefNr & 0xFFFFFFFF);
    if (uint8_t* p = bh.ReAllocSegment(b, uint16_t(size), slot)) {
      std::memcpy(p, reRecordBuffer.data(), size);
    } else {
      reRecordBuffer[0] |= kzfSegMoved;
      const int64_t moved = reHeapEngine->AllocSegment(aTrans, {{reRecordBuffer.data(), size}});
      ZF_ASSERT(moved != 0, kUnit);
      uint8_t* f = bh.ReAllocSegment(b, 9, slot);
      ZF_ASSERT(f != nullptr, kUnit);
      f[0] = kzfSegForward;
      zfPutLE64(f + 1, uint64_t(moved));
    }
  } catch (...) {
    rm(b);
    throw;
  }
  rm(b);
}

void TzfVariableRecordEngine::DeleteRecord(TzfBaseTransaction* aTrans, int64_t aRefNr) {
  uint16_t segSize;
  PzfBlock b;
  TzfReleaseMethod rm;
  uint8_t* seg = reHeapEngine->GetSegment(aTrans, aRefNr, true, segSize, b, rm);
  try {
    if (segSize < 1 || (seg[0] & kzfSegMoved)) {
      throw EzfVariableRecordEngineException(zfErrInvalidRecordRef, u"Record reference number is invalid");
    }
    if (seg[0] & kzfSegForward) {
      ZF_ASSERT(segSize == 9, kUnit);
      FreeTarget(aTrans, int64_t(zfGetLE64(seg + 1)));
    }
    reHeapEngine->bheBlockHeapEngine->FreeSegment(b, uint32_t(aRefNr & 0xFFFFFFFF));
  } catch (...) {
    rm(b);
    throw;
  }
  rm(b);
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(breDataFile->HeaderAccess(aTrans, true));
  uint8_t* sec = ha->Header + reHeaderSection;
  zfPutLE32(sec + kSecCount, zfGetLE32(sec + kSecCount) - 1);
}

uint32_t TzfVariableRecordEngine::GetRecordCount(TzfBaseTransaction* aTrans) {
  return SectionWord(aTrans, kSecCount);
}

void TzfVariableRecordEngine::Walk(TzfBaseTransaction* aTrans, bool aBackward,
                                   const std::function<bool(int64_t, const uint8_t*)>& aVisit) {
  uint32_t limit;
  {
    std::unique_ptr<TzfBaseFileHeaderAccess> ha(breDataFile->HeaderAccess(aTrans, false));
    limit = ha->UsedBlockCount();
  }
  TzfNonfragmentingBlockHeapEngine& bh = *reHeapEngine->bheBlockHeapEngine;
  uint32_t steps = 0, segments = 0;
  std::vector<uint8_t> rec(breRecordLength);
  for (TzfBlockNumber n = SectionWord(aTrans, aBackward ? kSecLast : kSecFirst); n != 0;) {
    if (++steps > limit) {
      throw EzfVariableRecordEngineException(zfErrFileCorrupt, u"The data-block chain loops [%s, block %d]",
                                             {breDataFile->TableFileName(), int64_t(n)});
    }
    if (steps > 1) zfCheckTimeout();
    TzfReleaseMethod rm;
    PzfBlock b = reHeapEngine->ReadBlockHeap(aTrans, n, false, rm);
    TzfBlockNumber next = zfGetLE32(b + (aBackward ? 20 : 16));
    bool more = true;
    try {
      uint32_t slot = aBackward ? 0xFFFFFFFF : 0;
      uint16_t size;
      while (more) {
        const uint8_t* seg = aBackward ? bh.GetPrevSegment(b, slot, size) : bh.GetNextSegment(b, slot, size);
        if (!seg) break;
        if (++segments % 1000 == 2) zfCheckTimeout();
        const int64_t ref = (int64_t(n) << 32) | slot;
        if (size >= 1 && (seg[0] & kzfSegMoved)) continue;
        if (size >= 1 && (seg[0] & kzfSegForward)) {
          ReadInto(aTrans, ref, rec.data());
        } else if (!zfVariableDecodeSegment(seg, size, breRecordLength, reCompressionEngine.get(), rec.data())) {
          RaiseDamaged(ref);
        }
        more = aVisit(ref, rec.data());
      }
    } catch (...) {
      rm(b);
      throw;
    }
    rm(b);
    if (!more) return;
    n = next;
  }
}

void TzfVariableRecordEngine::ReadAdjacentRecord(TzfBaseTransaction* aTrans, bool aBackward, int64_t aFromRefNr,
                                                 int64_t& aRefNr, uint8_t* aRecData) {
  aRefNr = 0;
  bool passed = aFromRefNr == 0;
  Walk(aTrans, aBackward, [&](int64_t aRef, const uint8_t* aRec) {
    if (!passed) {
      passed = aRef == aFromRefNr;
      return true;
    }
    aRefNr = aRef;
    if (aRecData) std::memcpy(aRecData, aRec, breRecordLength);
    return false;
  });
}

void TzfVariableRecordEngine::ReadNextRecord(TzfBaseTransaction* aTrans, int64_t aFromRefNr, int64_t& aRefNr,
                                             uint8_t* aRecData) {
  ReadAdjacentRecord(aTrans, false, aFromRefNr, aRefNr, aRecData);
}

void TzfVariableRecordEngine::ReadPrevRecord(TzfBaseTransaction* aTrans, int64_t aFromRefNr, int64_t& aRefNr,
                                             uint8_t* aRecData) {
  ReadAdjacentRecord(aTrans, true, aFromRefNr, aRefNr, aRecData);
}

namespace {
TzfRecordIteratorResult IterateWith(TzfVariableRecordEngine& aEngine, const std::function<void(
                                        const std::function<bool(int64_t, const uint8_t*)>&)>& aWalk,
                                    uint32_t aLength, int64_t& aRefNr, uint8_t** aData,
                                    const TzfRecordIterator& aIterator, void* aCookie, IzfFilterEvaluation* aFilter) {
  TzfRecordIteratorResult result = TzfRecordIteratorResult::rirContinue;
  aRefNr = 0;
  aWalk([&](int64_t aRef, const uint8_t* aRec) {
    if (zfFilterRejects(aFilter, aRec)) return true;
    const uint8_t* passed = aRec;
    if (aData && *aData) {
      std::memcpy(*aData, aRec, aLength);
      passed = *aData;
    } else if (aData) {
      *aData = const_cast<uint8_t*>(aRec);
    }
    result = aIterator(aCookie, aRef, passed);
    if (result == TzfRecordIteratorResult::rirStop) {
      aRefNr = aRef;
      return false;
    }
    return true;
  });
  return result;
}
}  // namespace

TzfRecordIteratorResult TzfVariableRecordEngine::Iterate(TzfBaseTransaction* aTrans, int64_t& aRefNr, uint8_t** aData,
                                                         const TzfRecordIterator& aIterator, void* aCookie,
                                                         IzfFilterEvaluation* aFilter) {
  return IterateWith(
      *this, [&](const std::function<bool(int64_t, const uint8_t*)>& v) { Walk(aTrans, false, v); }, breRecordLength,
      aRefNr, aData, aIterator, aCookie, aFilter);
}

TzfRecordIteratorResult TzfVariableRecordEngine::IterateBackward(TzfBaseTransaction* aTrans, int64_t& aRefNr,
                                                                 uint8_t** aData, const TzfRecordIterator& aIterator,
                                                                 void* aCookie, IzfFilterEvaluation* aFilter) {
  return IterateWith(
      *this, [&](const std::function<bool(int64_t, const uint8_t*)>& v) { Walk(aTrans, true, v); }, breRecordLength,
      aRefNr, aData, aIterator, aCookie, aFilter);
}

uint32_t TzfVariableRecordEngine::RecNoGet(TzfBaseTransaction* aTrans, int64_t aRefNr, IzfFilterEvaluation* aFilter,
                                           uint32_t& aRecNo, bool aFlipOrder) {
  aRecNo = 0;
  uint32_t pos = 0, result = zfErrEOF;
  const uint32_t block = uint32_t(uint64_t(aRefNr) >> 32);
  Walk(aTrans, aFlipOrder, [&](int64_t aRef, const uint8_t* aRec) {
    const bool accepted = !zfFilterRejects(aFilter, aRec);
    if (aRef == aRefNr) {
      if (accepted) {
        aRecNo = pos + 1;
        result = 0;
      } else {
        result = zfErrNoCurrRec;
      }
      return false;
    }
    if (uint32_t(uint64_t(aRef) >> 32) == block) result = zfErrNoCurrRec;
    if (accepted) ++pos;
    return true;
  });
  return result;
}

uint32_t TzfVariableRecordEngine::RecNoSet(TzfBaseTransaction* aTrans, uint32_t aRecNo, int64_t& aRefNr,
                                           IzfFilterEvaluation* aFilter, bool aFlipOrder) {
  aRefNr = 0;
  if (aRecNo == 0) return zfErrEOF;
  uint32_t pos = 0;
  Walk(aTrans, aFlipOrder, [&](int64_t aRef, const uint8_t* aRec) {
    if (zfFilterRejects(aFilter, aRec)) return true;
    if (++pos == aRecNo) {
      aRefNr = aRef;
      return false;
    }
    return true;
  });
  return aRefNr != 0 ? 0 : zfErrEOF;
}

TzfRecordIteratorResult TzfVariableRecordEngine::RecoverIterate(const uint8_t* aBlock, TzfBlockNumber aBlockNumber,
                                                                const uint8_t** aData,
                                                                const TzfRecordIterator& aIterator, void* aCookie,
                                                                TzfRecoverStats* aStats) {
  uint8_t* buffer = aData && *aData ? const_cast<uint8_t*>(*aData) : FWalkBuffer.data();
  return zfVariableRecoverBlock(aBlock, breDataFile->BlockSizeBytes(), aBlockNumber, breRecordLength,
                                reCompressionEngine.get(), buffer, aData, aIterator, aCookie, aStats);
}

TzfRecordIteratorResult TzfVariableRecordEngine::ReadRecordForIterate(TzfBaseTransaction* aTrans, int64_t aRefNr,
                                                                      uint8_t** aData,
                                                                      const TzfRecordIterator& aIterator,
                                                                      void* aCookie, IzfFilterEvaluation* aFilter) {
  uint8_t* rec = aData && *aData ? *aData : FWalkBuffer.data();
  ReadInto(aTrans, aRefNr, rec);
  if (zfFilterRejects(aFilter, rec)) return TzfRecordIteratorResult::rirContinue;
  if (aData) *aData = rec;
  return aIterator(aCookie, aRefNr, rec);
}

void TzfVariableRecordEngine::ReplaceAllRecords(TzfBaseTransaction*, const TzfGetRecordCallback&) {
  throw EzfVariableRecordEngineException(zfErrNotSupported,
                                         u"ReplaceAllRecords is not supported by TzfVariableRecordEngine");
}

void TzfVariableRecordEngine::Rollback(TzfBaseTransaction* aTrans) { reHeapEngine->Rollback(aTrans); }

rtl::UnicodeString TzfVariableRecordEngine::CheckTable(TzfBaseTransaction* aTrans) {
  const uint32_t u = breDataFile->BlockSizeBytes();
  uint32_t records = 0, forwards = 0, moved = 0;
  TzfBlockNumber prev = 0;
  rtl::UnicodeString problem;
  for (TzfBlockNumber n = SectionWord(aTrans, kSecFirst); n != 0 && problem.empty();) {
    TzfReleaseMethod rm;
    PzfBlock b = reHeapEngine->ReadBlockHeap(aTrans, n, false, rm);
    const TzfHeapBlockCheck c = zfCheckHeapBlock(b, u, zfHeapDataStart(kzfVariableOwnerHeaderSize));
    if (!c.Valid) problem = u"block " + rtl::IntToStr(n) + u": " + c.Problem;
    else if (zfGetLE32(b + 20) != prev) problem = u"block " + rtl::IntToStr(n) + u": previous link";
    uint32_t slot = 0;
    uint16_t size;
    while (problem.empty()) {
      const uint8_t* seg = reHeapEngine->bheBlockHeapEngine->GetNextSegment(b, slot, size);
      if (!seg) break;
      if (seg[0] & kzfSegMoved) ++moved;
      else ++records;
      if (seg[0] & kzfSegForward) ++forwards;
    }
    prev = n;
    n = zfGetLE32(b + 16);
    rm(b);
  }
  if (!problem.empty()) return problem;
  if (prev != SectionWord(aTrans, kSecLast)) return u"last block";
  if (records != SectionWord(aTrans, kSecCount)) return u"record count";
  if (forwards != moved) return u"forwards and moved records do not pair";
  return reHeapEngine->CheckDirectory(aTrans);
}

namespace {
void Init() { TzfBaseSubEngine::RegisterEngine(TzfVariableRecordEngine::ClassInfo(), u"Variable"); }
void Fini() { TzfBaseSubEngine::UnregisterEngine(TzfVariableRecordEngine::ClassInfo()); }
}  // namespace

rtl::TUnitInit& zfseRecordEngineVariableUnit() {
  static rtl::TUnitInit unit("zfseRecordEngineVariable", &Init, &Fini);
  return unit;
}

}  // namespace zf
