#include "storage/zfseRecordEngineStatic.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "dictionary/zfsdTableDescriptor.h"
#include "foundation/zfllErrors.h"
#include "storage/zfsrFile.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

namespace {
constexpr const char* kUnit = "zfseRecordEngineStatic";
// Walks over the slots of a block look at the deadline and the cancel flag after slot counts 1,
// 1001, 2001, ... (a walk also looks between blocks), so one large block cannot hold them off.
inline void CheckTimeoutAtSlot(uint32_t aCounted) {
  if (aCounted % 1000 == 1) zfCheckTimeout();
}
}  // namespace

TzfStaticGeometry zfStaticGeometry(uint32_t aU, uint32_t aL) {
  TzfStaticGeometry g;
  g.UsableSize = aU;
  g.RecordLength = aL;
  // Bits of the block after its header, and bits of one slot with its bitmap bit: in 64 bits, so
  // that no length wraps into a small slot; a block that holds no slot refuses the length.
  const uint64_t blockBits = uint64_t(aU) * 8;
  const uint64_t slotBits = uint64_t(aL) * 8 + 1;
  if (aL == 0 || aU < kzfStaticBlockHeaderSize + 2 || aU > kzfMaxBlockSizeBytes || blockBits - 256 < slotBits) {
    throw EzfStaticRecordEngineException(zfErrMaxRecordSizeExceeded);
  }
  g.RecsPerBlock = uint32_t((blockBits - 256) / slotBits);
  g.InUseArraySize = (g.RecsPerBlock + 7) / 8;
  uint32_t s = (aU - kzfStaticBlockHeaderSize - g.InUseArraySize) / g.RecsPerBlock;
  for (uint32_t bit = 0; bit < 32; ++bit) {
    const uint32_t t = s & ~(1u << bit);
    if (t < aL) break;
    s = t;
  }
  g.SlotSize = s;
  g.FirstRecordOffset = aU - s * g.RecsPerBlock;
  ZF_ASSERT(g.FirstRecordOffset >= kzfStaticBlockHeaderSize + g.InUseArraySize, kUnit);
  return g;
}

namespace {
// A free slot holds the number of the next free slot in its first four bytes. A slot shorter than
// four bytes (records of two or three bytes) holds it in the slot's own bytes only, so the links of
// neighbouring free slots never overlap; every access also stops at the block's usable end.
uint32_t SlotLinkWidth(const TzfStaticGeometry& aGeo, uint32_t aOffset) {
  const uint32_t room = aOffset < aGeo.UsableSize ? aGeo.UsableSize - aOffset : 0;
  return std::min({4u, aGeo.SlotSize, room});
}
uint32_t GetSlotLink(const uint8_t* aBlock, const TzfStaticGeometry& aGeo, uint32_t aSlot) {
  const uint32_t off = aGeo.SlotOffset(aSlot);
  uint8_t b[4] = {};
  std::memcpy(b, aBlock + off, SlotLinkWidth(aGeo, off));
  return zfGetLE32(b);
}
void PutSlotLink(PzfBlock aBlock, const TzfStaticGeometry& aGeo, uint32_t aSlot, uint32_t aLink) {
  const uint32_t off = aGeo.SlotOffset(aSlot);
  uint8_t b[4];
  zfPutLE32(b, aLink);
  std::memcpy(aBlock + off, b, SlotLinkWidth(aGeo, off));
}
// The slots a block's free chain can reach: a one-byte slot links to slot 255 at most, so a block
// of one-byte records uses its first 255 slots only (the slot layout stays the stored one); wider
// slots reach every slot.
uint32_t LinkedSlots(const TzfStaticGeometry& aGeo) {
  return aGeo.SlotSize == 1 ? std::min<uint32_t>(aGeo.RecsPerBlock, 255) : aGeo.RecsPerBlock;
}
}  // namespace

void zfStaticInitBlock(PzfBlock aBlock, const TzfStaticGeometry& aGeo, TzfBlockNumber aNumber,
                       TzfBlockNumber aPrevious) {
  zfSetBlockSignature(aBlock, kzfStaticDataBlockSignature);
  zfSetThisBlock(aBlock, aNumber);
  zfPutLE32(aBlock + 16, 0);
  zfPutLE32(aBlock + 20, aPrevious);
  zfPutLE32(aBlock + 24, 0);
  zfPutLE16(aBlock + 28, 1);
  zfPutLE16(aBlock + 30, 0);
  std::memset(aBlock + 32, 0, aGeo.InUseArraySize);
  const uint32_t linked = LinkedSlots(aGeo);
  for (uint32_t n = 1; n <= aGeo.RecsPerBlock; ++n) PutSlotLink(aBlock, aGeo, n, n < linked ? n + 1 : 0);
}

uint32_t zfStaticStoreRecord(PzfBlock aBlock, const TzfStaticGeometry& aGeo, const uint8_t* aRecord) {
  const uint32_t slot = zfGetLE16(aBlock + 28);
  if (slot == 0) return 0;
  ZF_ASSERT(slot <= aGeo.RecsPerBlock && !zfStaticSlotInUse(aBlock, slot), kUnit);
  const uint32_t next = GetSlotLink(aBlock, aGeo, slot);
  ZF_ASSERT(next <= aGeo.RecsPerBlock, kUnit);
  zfPutLE16(aBlock + 28, uint16_t(next));
  std::memcpy(aBlock + aGeo.SlotOffset(slot), aRecord, aGeo.RecordLength);
  aBlock[32 + (slot - 1) / 8] |= uint8_t(1u << ((slot - 1) % 8));
  zfPutLE16(aBlock + 30, uint16_t(zfGetLE16(aBlock + 30) + 1));
  return slot;
}

void zfStaticFreeSlot(PzfBlock aBlock, const TzfStaticGeometry& aGeo, uint32_t aSlot) {
  ZF_ASSERT(aSlot >= 1 && aSlot <= aGeo.RecsPerBlock, kUnit);
  if (!zfStaticSlotInUse(aBlock, aSlot)) throw EzfStaticRecordEngineException(zfErrKeyOrRecDeleted);
  PutSlotLink(aBlock, aGeo, aSlot, zfGetLE16(aBlock + 28));
  zfPutLE16(aBlock + 28, uint16_t(aSlot));
  aBlock[32 + (aSlot - 1) / 8] &= uint8_t(~(1u << ((aSlot - 1) % 8)));
  zfPutLE16(aBlock + 30, uint16_t(zfGetLE16(aBlock + 30) - 1));
}

TzfStaticBlockCheck zfCheckStaticBlock(const uint8_t* aBlock, const TzfStaticGeometry& aGeo,
                                       TzfBlockNumber aBlockNumber) {
  TzfStaticBlockCheck r;
  auto fail = [&r](const rtl::UnicodeString& aWhy) {
    r.Problem = aWhy;
    return r;
  };
  if (zfGetBlockSignature(aBlock) != kzfStaticDataBlockSignature) return fail(u"not a data block");
  if (zfGetThisBlock(aBlock) != aBlockNumber) return fail(u"block number differs from its position");
  const uint32_t count = zfGetLE16(aBlock + 30);
  const uint32_t rpb = aGeo.RecsPerBlock;
  if (count > rpb) return fail(u"more records than slots");
  uint32_t bits = 0;
  for (uint32_t i = 0; i < aGeo.InUseArraySize; ++i) bits += uint32_t(std::popcount(unsigned(aBlock[32 + i])));
  if (rpb % 8 != 0 && (aBlock[32 + aGeo.InUseArraySize - 1] >> (rpb % 8)) != 0)
    return fail(u"bits set beyond the last slot");
  if (bits != count) return fail(u"record count differs from the in-use bitmap");
  // Free slots beyond the chain's reach are never linked.
  uint32_t unreachable = 0;
  for (uint32_t n = LinkedSlots(aGeo) + 1; n <= rpb; ++n) unreachable += zfStaticSlotInUse(aBlock, n) ? 0 : 1;
  uint32_t slot = zfGetLE16(aBlock + 28);
  if ((slot == 0) != (count + unreachable == rpb)) return fail(u"first free slot disagrees with the count");
  std::vector<bool> seen(rpb + 1, false);
  uint32_t chained = 0;
  while (slot != 0) {
    if (slot > rpb || seen[slot] || zfStaticSlotInUse(aBlock, slot)) return fail(u"free-slot chain is broken");
    seen[slot] = true;
    ++chained;
    slot = GetSlotLink(aBlock, aGeo, slot);
  }
  if (chained != rpb - count - unreachable) return fail(u"free-slot chain misses free slots");
  r.Valid = true;
  return r;
}

TzfRecordIteratorResult zfStaticRecoverBlock(const uint8_t* aBlock, const TzfStaticGeometry& aGeo,
                                             TzfBlockNumber aBlockNumber, const uint8_t** aData,
                                             uint8_t* aCopyBuffer, const TzfRecordIterator& aIterator, void* aCookie,
                                             TzfRecoverStats* aStats) {
  TzfRecoverStats local;
  TzfRecoverStats& st = aStats ? *aStats : local;
  st = {};
  TzfRecordIteratorResult result = TzfRecordIteratorResult::rirContinue;
  if (!aBlock || zfGetBlockSignature(aBlock) != kzfStaticDataBlockSignature || zfGetThisBlock(aBlock) != aBlockNumber)
    return result;
  st.Recognised = true;
  const uint32_t rpb = aGeo.RecsPerBlock;
  st.BlockValid = zfCheckStaticBlock(aBlock, aGeo, aBlockNumber).Valid;
  // In a damaged block the free-slot chain, followed as far as it stays sound, vetoes set bits.
  std::vector<bool> onChain;
  if (!st.BlockValid) {
    onChain.assign(rpb + 1, false);
    uint32_t slot = zfGetLE16(aBlock + 28);
    for (uint32_t steps = 0; slot >= 1 && slot <= rpb && !onChain[slot] && steps < rpb; ++steps) {
      onChain[slot] = true;
      slot = GetSlotLink(aBlock, aGeo, slot);
    }
  }
  const uint32_t count = st.BlockValid ? zfGetLE16(aBlock + 30) : rpb;
  if (count == 0) return result;
  uint32_t passed = 0;
  for (uint32_t n = 1; n <= rpb && passed < count; ++n) {
    CheckTimeoutAtSlot(n);
    if (!zfStaticSlotInUse(aBlock, n)) continue;
    if (!st.BlockValid && onChain[n]) {
      ++st.Skipped;
      continue;
    }
    const uint8_t* rec = aBlock + aGeo.SlotOffset(n);
    if (aCopyBuffer) {
      std::memcpy(aCopyBuffer, rec, aGeo.RecordLength);
      rec = aCopyBuffer;
    }
    if (aData) *aData = rec;
    ++passed;
    ++st.Records;
    st.Slot = n;
    result = aIterator(aCookie, 0, rec);
    if (result == TzfRecordIteratorResult::rirStop) break;
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// The engine

namespace {
constexpr uint32_t kSecCount = 0, kSecFirst = 4, kSecLast = 8, kSecFree = 12, kSecFreeHead = 16;
}  // namespace

TzfStaticRecordEngine::TzfStaticRecordEngine(TzfBaseRecordDescriptor* aDescriptor, TzfFieldsDescriptor* aFields,
                                             TzfBaseTransaction* aTrans, const TzfBlockAccessList& aFiles)
    : TzfBaseRecordEngine(aDescriptor, aFields, aTrans, aFiles) {
  reGeometry = zfStaticGeometry(breDataFile->BlockSizeBytes(), breRecordLength);
  reFileIsV1 = breDataFile->baFile->fiHeaderSignature == TzfBlockSignature{'Z', 'F', '!', '1'};
  const std::string name = aDescriptor ? aDescriptor->brdHeaderSection : std::string("Record");
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(breDataFile->HeaderAccess(aTrans, aTrans != nullptr));
  reHeaderSection = ha->RegisterHeaderSection(name, 20, aTrans != nullptr, false);
  if (aTrans) std::memset(ha->Header + reHeaderSection, 0, 20);
}

const TzfRecordEngineClass& TzfStaticRecordEngine::ClassInfo() {
  static const TzfRecordEngineClass info(
      u"TzfStaticRecordEngine", &TzfBaseRecordEngine::ClassInfo(), nullptr, nullptr,
      [](TzfBaseRecordDescriptor* d, TzfFieldsDescriptor* f, TzfBaseTransaction* t,
         const TzfBlockAccessList& l) -> std::unique_ptr<TzfBaseRecordEngine> {
        return std::make_unique<TzfStaticRecordEngine>(d, f, t, l);
      },
      &TzfStaticRecordEngine::CheckValidEngineDescriptor);
  return info;
}

void TzfStaticRecordEngine::CheckValidEngineDescriptor(TzfBaseTableDescriptor& aTable) {
  const int32_t len = aTable.tdFieldsDescriptor ? aTable.tdFieldsDescriptor->GetRecordLength() : 0;
  zfFitRecordFileBlockSize(aTable, uint32_t(len) + 33);
}

uint32_t TzfStaticRecordEngine::Section(TzfBaseTransaction* aTrans, uint32_t aOffset) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(breDataFile->HeaderAccess(aTrans, false));
  return zfGetLE32(ha->Header + reHeaderSection + aOffset);
}

PzfBlock TzfStaticRecordEngine::FetchBlock(TzfBaseTransaction* aTrans, TzfBlockNumber aBlock, bool aMarkDirty,
                                           TzfReleaseMethod& aRm) {
  if (!breDataFile->ValidBlock(aBlock, aTrans)) {
    throw EzfStaticRecordEngineException(
        zfErrBlockNumberOutOfRange, u"Block number is either < 0, or >= number of blocks in file [%s, block %d]",
        {breDataFile->TableFileName(), int64_t(aBlock)});
  }
  PzfBlock p = breDataFile->GetBlock(aTrans, aBlock, bseID, aMarkDirty, aRm);
  if (zfGetBlockSignature(p) != kzfStaticDataBlockSignature || zfGetThisBlock(p) != aBlock) {
    aRm(p);
    throw EzfStaticRecordEngineException(zfErrNotADataBlock,
                                         u"Block just read from file is not a valid data block [%s, block %d]",
                                         {breDataFile->TableFileName(), int64_t(aBlock)});
  }
  return p;
}

void TzfStaticRecordEngine::SplitRef(int64_t aRefNr, TzfBlockNumber& aBlock, uint32_t& aSlot) const {
  aBlock = zfRefBlock(aRefNr);
  aSlot = zfRefSlot(aRefNr);
  if (aSlot == 0 || aSlot > reGeometry.RecsPerBlock) {
    throw EzfStaticRecordEngineException(zfErrInvalidRecordRef,
                                         u"Number is not a valid ZofrinDB record reference number [%s, ref %d]",
                                         {breDataFile->TableFileName(), aRefNr});
  }
}

void TzfStaticRecordEngine::RaiseDeleted(int64_t aRefNr) const {
  throw EzfStaticRecordEngineException(zfErrKeyOrRecDeleted,
                                       u"Record has been deleted, cannot read/delete/update it [%s, ref %d]",
                                       {breDataFile->TableFileName(), aRefNr});
}

void TzfStaticRecordEngine::AddRecord(TzfBaseTransaction* aTrans, int64_t& aRefNr, const uint8_t* aRecData) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(breDataFile->HeaderAccess(aTrans, true));
  uint8_t* sec = ha->Header + reHeaderSection;
  TzfReleaseMethod rm;
  PzfBlock b = nullptr;
  TzfBlockNumber n = zfGetLE32(sec + kSecFreeHead);
  if (n != 0) {
    b = FetchBlock(aTrans, n, true, rm);
  } else {
    ZF_ASSERT(zfGetLE32(sec + kSecFree) == 0, kUnit);
    b = ha->GetNewBlock(aTrans, bseID, rm);
    n = zfGetThisBlock(b);
    const TzfBlockNumber last = zfGetLE32(sec + kSecLast);
    zfStaticInitBlock(b, reGeometry, n, last);
    if (last != 0) {
      TzfReleaseMethod lrm;
      PzfBlock lb = FetchBlock(aTrans, last, true, lrm);
      ZF_ASSERT(zfGetLE32(lb + 16) == 0, kUnit);
      zfPutLE32(lb + 16, n);
      lrm(lb);
    } else {
      ZF_ASSERT(zfGetLE32(sec + kSecFirst) == 0, kUnit);
      zfPutLE32(sec + kSecFirst, n);
    }
    zfPutLE32(sec + kSecLast, n);
    zfPutLE32(sec + kSecFreeHead, n);
    zfPutLE32(sec + kSecFree, zfGetLE32(sec + kSecFree) + LinkedSlots(reGeometry));
  }
  const uint32_t slot = zfStaticStoreRecord(b, reGeometry, aRecData);
  if (slot == 0) {
    rm(b);
    throw EzfStaticRecordEngineException(zfErrFileCorrupt, u"A block of the free-slot chain is full [%s, block %d]",
                                         {breDataFile->TableFileName(), int64_t(n)});
  }
  if (zfGetLE16(b + 28) == 0) {
    zfPutLE32(sec + kSecFreeHead, zfGetLE32(b + 24));
    zfPutLE32(b + 24, 0);
  }
  rm(b);
  zfPutLE32(sec + kSecCount, zfGetLE32(sec + kSecCount) + 1);
  zfPutLE32(sec + kSecFree, zfGetLE32(sec + kSecFree) - 1);
  ZF_ASSERT((zfGetLE32(sec + kSecFree) == 0) == (zfGetLE32(sec + kSecFreeHead) == 0), kUnit);
  aRefNr = zfMakeRefNr(n, slot);
}

PzfBlock TzfStaticRecordEngine::FetchRecordBlock(TzfBaseTransaction* aTrans, int64_t aRefNr, bool aMarkDirty,
                                                TzfBlockNumber& aBlock, uint32_t& aSlot, TzfReleaseMethod& aRm) {
  SplitRef(aRefNr, aBlock, aSlot);
  PzfBlock b = FetchBlock(aTrans, aBlock, aMarkDirty, aRm);
  if (!zfStaticSlotInUse(b, aSlot)) {
    aRm(b);
    RaiseDeleted(aRefNr);
  }
  return b;
}

void TzfStaticRecordEngine::DeleteRecord(TzfBaseTransaction* aTrans, int64_t aRefNr) {
  TzfBlockNumber n;
  uint32_t slot;
  TzfReleaseMethod rm;
  PzfBlock b = FetchRecordBlock(aTrans, aRefNr, true, n, slot, rm);
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(breDataFile->HeaderAccess(aTrans, true));
  uint8_t* sec = ha->Header + reHeaderSection;
  if (zfGetLE16(b + 28) == 0) {
    zfPutLE32(b + 24, zfGetLE32(sec + kSecFreeHead));
    zfPutLE32(sec + kSecFreeHead, n);
  }
  zfStaticFreeSlot(b, reGeometry, slot);
  rm(b);
  zfPutLE32(sec + kSecFree, zfGetLE32(sec + kSecFree) + 1);
  zfPutLE32(sec + kSecCount, zfGetLE32(sec + kSecCount) - 1);
}

void TzfStaticRecordEngine::ReadRecord(TzfBaseTransaction* aTrans, int64_t aRefNr, uint8_t* aRecData) {
  TzfBlockNumber n;
  uint32_t slot;
  TzfReleaseMethod rm;
  PzfBlock b = FetchRecordBlock(aTrans, aRefNr, false, n, slot, rm);
  if (aRecData) std::memcpy(aRecData, b + reGeometry.SlotOffset(slot), breRecordLength);
  rm(b);
}

void TzfStaticRecordEngine::UpdateRecord(TzfBaseTransaction* aTrans, int64_t aRefNr, const uint8_t* aNewRecord,
                                         uint8_t* aOldRecord) {
  TzfBlockNumber n;
  uint32_t slot;
  TzfReleaseMethod rm;
  PzfBlock b = FetchRecordBlock(aTrans, aRefNr, true, n, slot, rm);
  uint8_t* rec = b + reGeometry.SlotOffset(slot);
  if (aOldRecord) std::memcpy(aOldRecord, rec, breRecordLength);
  std::memcpy(rec, aNewRecord, breRecordLength);
  rm(b);
}

uint32_t TzfStaticRecordEngine::GetRecordCount(TzfBaseTransaction* aTrans) { return Section(aTrans, kSecCount); }

void TzfStaticRecordEngine::WalkChain(TzfBaseTransaction* aTrans, TzfBlockNumber aStart, bool aBackward,
                                      const std::function<bool(TzfBlockNumber, PzfBlock)>& aBlock) {
  uint32_t limit;
  {
    std::unique_ptr<TzfBaseFileHeaderAccess> ha(breDataFile->HeaderAccess(aTrans, false));
    limit = ha->UsedBlockCount();
  }
  uint32_t steps = 0;
  for (TzfBlockNumber n = aStart; n != 0;) {
    if (++steps > limit) {
      throw EzfStaticRecordEngineException(zfErrFileCorrupt, u"The data-block chain loops [%s, block %d]",
                                           {breDataFile->TableFileName(), int64_t(n)});
    }
    if (steps > 1) zfCheckTimeout();
    TzfReleaseMethod rm;
    PzfBlock b = FetchBlock(aTrans, n, false, rm);
    const TzfBlockNumber next = zfGetLE32(b + (aBackward ? 20 : 16));
    bool more;
    try {
      more = aBlock(n, b);
    } catch (...) {
      rm(b);
      throw;
    }
    rm(b);
    if (!more) return;
    n = next;
  }
}

void TzfStaticRecordEngine::ReadNextRecord(TzfBaseTransaction* aTrans, int64_t aFromRefNr, int64_t& aRefNr,
                                           uint8_t* aRecData) {
  aRefNr = 0;
  TzfBlockNumber start = 0;
  uint32_t from = 0;
  if (aFromRefNr == 0) {
    start = Section(aTrans, kSecFirst);
  } else {
    SplitRef(aFromRefNr, start, from);
  }
  WalkChain(aTrans, start, false, [&](TzfBlockNumber n, PzfBlock b) {
    for (uint32_t s = from + 1; s <= reGeometry.RecsPerBlock; ++s) {
      if (!zfStaticSlotInUse(b, s)) continue;
      aRefNr = zfMakeRefNr(n, s);
      if (aRecData) std::memcpy(aRecData, b + reGeometry.SlotOffset(s), breRecordLength);
      return false;
    }
    from = 0;
    return true;
  });
}

void TzfStaticRecordEngine::ReadPrevRecord(TzfBaseTransaction* aTrans, int64_t aFromRefNr, int64_t& aRefNr,
                                           uint8_t* aRecData) {
  aRefNr = 0;
  TzfBlockNumber start = 0;
  uint32_t from = reGeometry.RecsPerBlock + 1;
  if (aFromRefNr == 0) {
    start = Section(aTrans, kSecLast);
  } else {
    SplitRef(aFromRefNr, start, from);
  }
  WalkChain(aTrans, start, true, [&](TzfBlockNumber n, PzfBlock b) {
    for (uint32_t s = from - 1; s >= 1; --s) {
      if (!zfStaticSlotInUse(b, s)) continue;
      aRefNr = zfMakeRefNr(n, s);
      if (aRecData) std::memcpy(aRecData, b + reGeometry.SlotOffset(s), breRecordLength);
      return false;
    }
    from = reGeometry.RecsPerBlock + 1;
    return true;
  });
}

TzfRecordIteratorResult TzfStaticRecordEngine::IterateDir(TzfBaseTransaction* aTrans, int64_t& aRefNr,
                                                          uint8_t** aData, const TzfRecordIterator& aIterator,
                                                          void* aCookie, IzfFilterEvaluation* aFilter,
                                                          bool aBackward) {
  TzfRecordIteratorResult result = TzfRecordIteratorResult::rirContinue;
  aRefNr = 0;
  const uint32_t rpb = reGeometry.RecsPerBlock;
  WalkChain(aTrans, Section(aTrans, aBackward ? kSecLast : kSecFirst), aBackward, [&](TzfBlockNumber n, PzfBlock b) {
    const uint32_t count = zfGetLE16(b + 30);
    uint32_t seen = 0;
    for (uint32_t i = 1; i <= rpb && seen < count; ++i) {
      CheckTimeoutAtSlot(i);
      const uint32_t s = aBackward ? rpb + 1 - i : i;
      if (!zfStaticSlotInUse(b, s)) continue;
      ++seen;
      uint8_t* rec = b + reGeometry.SlotOffset(s);
      if (zfFilterRejects(aFilter, rec)) continue;
      const uint8_t* passed = rec;
      if (aData && *aData) {
        std::memcpy(*aData, rec, breRecordLength);
        passed = *aData;
      } else if (aData) {
        *aData = rec;
      }
      result = aIterator(aCookie, zfMakeRefNr(n, s), passed);
      if (result == TzfRecordIteratorResult::rirStop) {
        aRefNr = zfMakeRefNr(n, s);
        return false;
      }
    }
    return true;
  });
  return result;
}

TzfRecordIteratorResult TzfStaticRecordEngine::Iterate(TzfBaseTransaction* aTrans, int64_t& aRefNr, uint8_t** aData,
                                                       const TzfRecordIterator& aIterator, void* aCookie,
                                                       IzfFilterEvaluation* aFilter) {
  return IterateDir(aTrans, aRefNr, aData, aIterator, aCookie, aFilter, false);
}

TzfRecordIteratorResult TzfStaticRecordEngine::IterateBackward(TzfBaseTransaction* aTrans, int64_t& aRefNr,
                                                               uint8_t** aData, const TzfRecordIterator& aIterator,
                                                               void* aCookie, IzfFilterEvaluation* aFilter) {
  return IterateDir(aTrans, aRefNr, aData, aIterator, aCookie, aFilter, true);
}

uint32_t TzfStaticRecordEngine::RecNoGet(TzfBaseTransaction* aTrans, int64_t aRefNr, IzfFilterEvaluation* aFilter,
                                         uint32_t& aRecNo, bool aFlipOrder) {
  TzfBlockNumber target;
  uint32_t slot;
  SplitRef(aRefNr, target, slot);
  const bool filtered = aFilter && aFilter->IsActive();
  const uint32_t rpb = reGeometry.RecsPerBlock;
  uint32_t pos = 0, result = zfErrEOF;
  aRecNo = 0;
  WalkChain(aTrans, Section(aTrans, aFlipOrder ? kSecLast : kSecFirst), aFlipOrder, [&](TzfBlockNumber n, PzfBlock b) {
    if (n != target && !filtered) {
      pos += zfGetLE16(b + 30);
      return true;
    }
    for (uint32_t i = 1; i <= rpb; ++i) {
      CheckTimeoutAtSlot(i);
      const uint32_t s = aFlipOrder ? rpb + 1 - i : i;
      if (!zfStaticSlotInUse(b, s)) continue;
      const bool accepted = !zfFilterRejects(aFilter, b + reGeometry.SlotOffset(s));
      if (n == target && s == slot) {
        if (!accepted) break;
        aRecNo = pos + 1;
        result = 0;
        return false;
      }
      if (accepted) ++pos;
    }
    if (n == target) {
      result = zfErrNoCurrRec;
      return false;
    }
    return true;
  });
  return result;
}

uint32_t TzfStaticRecordEngine::RecNoSet(TzfBaseTransaction* aTrans, uint32_t aRecNo, int64_t& aRefNr,
                                         IzfFilterEvaluation* aFilter, bool aFlipOrder) {
  aRefNr = 0;
  if (aRecNo == 0) return zfErrEOF;
  const bool filtered = aFilter && aFilter->IsActive();
  const uint32_t rpb = reGeometry.RecsPerBlock;
  uint32_t pos = 0;
  WalkChain(aTrans, Section(aTrans, aFlipOrder ? kSecLast : kSecFirst), aFlipOrder, [&](TzfBlockNumber n, PzfBlock b) {
    const uint32_t count = zfGetLE16(b + 30);
    if (!filtered && pos + count < aRecNo) {
      pos += count;
      return true;
    }
    for (uint32_t i = 1; i <= rpb; ++i) {
      CheckTimeoutAtSlot(i);
      const uint32_t s = aFlipOrder ? rpb + 1 - i : i;
      if (!zfStaticSlotInUse(b, s) || zfFilterRejects(aFilter, b + reGeometry.SlotOffset(s))) continue;
      if (++pos == aRecNo) {
        aRefNr = zfMakeRefNr(n, s);
        return false;
      }
    }
    return true;
  });
  return aRefNr != 0 ? 0 : zfErrEOF;
}

TzfRecordIteratorResult TzfStaticRecordEngine::RecoverIterate(const uint8_t* aBlock, TzfBlockNumber aBlockNumber,
                                                              const uint8_t** aData,
                                                              const TzfRecordIterator& aIterator, void* aCookie,
                                                              TzfRecoverStats* aStats) {
  uint8_t* copy = aData && *aData ? const_cast<uint8_t*>(*aData) : nullptr;
  return zfStaticRecoverBlock(aBlock, reGeometry, aBlockNumber, aData, copy, aIterator, aCookie, aStats);
}

TzfRecordIteratorResult TzfStaticRecordEngine::ReadRecordForIterate(TzfBaseTransaction* aTrans, int64_t aRefNr,
                                                                    uint8_t** aData,
                                                                    const TzfRecordIterator& aIterator, void* aCookie,
                                                                    IzfFilterEvaluation* aFilter) {
  ZF_ASSERT(!aFilter || aFilter->IsActive(), kUnit);
  TzfBlockNumber n;
  uint32_t slot;
  TzfReleaseMethod rm;
  PzfBlock b = FetchRecordBlock(aTrans, aRefNr, false, n, slot, rm);
  uint8_t* rec = b + reGeometry.SlotOffset(slot);
  TzfRecordIteratorResult r = TzfRecordIteratorResult::rirContinue;
  try {
    if (!zfFilterRejects(aFilter, rec)) {
      if (aData) *aData = rec;
      r = aIterator(aCookie, aRefNr, rec);
    }
  } catch (...) {
    rm(b);
    throw;
  }
  rm(b);
  return r;
}

void TzfStaticRecordEngine::ReplaceAllRecords(TzfBaseTransaction* aTrans, const TzfGetRecordCallback& aCallback) {
  std::vector<TzfBlockNumber> blocks;
  WalkChain(aTrans, Section(aTrans, kSecFirst), false, [&](TzfBlockNumber n, PzfBlock) {
    blocks.push_back(n);
    return true;
  });
  for (TzfBlockNumber n : blocks) {
    zfCheckTimeout();
    TzfReleaseMethod rm;
    PzfBlock b = FetchBlock(aTrans, n, true, rm);
    const uint32_t count = zfGetLE16(b + 30);
    uint32_t seen = 0;
    uint32_t code = 0;
    try {
      for (uint32_t s = 1; s <= reGeometry.RecsPerBlock && seen < count && code == 0; ++s) {
        CheckTimeoutAtSlot(s);
        if (!zfStaticSlotInUse(b, s)) continue;
        ++seen;
        code = aCallback(b + reGeometry.SlotOffset(s));
      }
    } catch (...) {
      rm(b);
      throw;
    }
    rm(b);
    zfRaiseIfError(code);
  }
}

rtl::UnicodeString TzfStaticRecordEngine::CheckTable(TzfBaseTransaction* aTrans) {
  rtl::UnicodeString problem;
  uint32_t records = 0, free = 0;
  TzfBlockNumber prev = 0;
  std::vector<TzfBlockNumber> withFree;
  WalkChain(aTrans, Section(aTrans, kSecFirst), false, [&](TzfBlockNumber n, PzfBlock b) {
    const TzfStaticBlockCheck c = zfCheckStaticBlock(b, reGeometry, n);
    if (!c.Valid) problem = u"block " + rtl::IntToStr(n) + u": " + c.Problem;
    else if (zfGetLE32(b + 20) != prev) problem = u"block " + rtl::IntToStr(n) + u": previous link";
    records += zfGetLE16(b + 30);
    free += LinkedSlots(reGeometry) - zfGetLE16(b + 30);
    if (zfGetLE16(b + 28) != 0) withFree.push_back(n);
    prev = n;
    return problem.empty();
  });
  if (!problem.empty()) return problem;
  if (prev != Section(aTrans, kSecLast)) return u"last block";
  if (records != Section(aTrans, kSecCount)) return u"record count";
  if (free != Section(aTrans, kSecFree)) return u"free slot count";
  // The free-slot chain holds exactly the blocks with a free slot.
  std::vector<TzfBlockNumber> chain;
  for (TzfBlockNumber n = Section(aTrans, kSecFreeHead); n != 0 && chain.size() <= withFree.size();) {
    chain.push_back(n);
    TzfReleaseMethod rm;
    PzfBlock b = FetchBlock(aTrans, n, false, rm);
    n = zfGetLE32(b + 24);
    rm(b);
  }
  std::sort(chain.begin(), chain.end());
  std::sort(withFree.begin(), withFree.end());
  if (chain != withFree) return u"free-slot chain";
  return {};
}

namespace {
void Init() {
  TzfBaseSubEngine::RegisterEngine(TzfStaticRecordEngine::ClassInfo(), zfDefaultEngineName);
  TzfBaseSubEngine::RegisterEngine(TzfStaticRecordEngine::ClassInfo(), u"Static");
}
void Fini() { TzfBaseSubEngine::UnregisterEngine(TzfStaticRecordEngine::ClassInfo()); }
}  // namespace

rtl::TUnitInit& zfseRecordEngineStaticUnit() {
  static rtl::TUnitInit unit("zfseRecordEngineStatic", &Init, &Fini);
  return unit;
}

}  // namespace zf
