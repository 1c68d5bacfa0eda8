#include "storage/zfseRecordEngineStatic.h"

#include <bit>
#include <cstring>
#include <vector>

#include "foundation/zfllErrors.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

namespace {
constexpr const char* kUnit = "zfseRecordEngineStatic";
}  // namespace

TzfStaticGeometry zfStaticGeometry(uint32_t aU, uint32_t aL) {
  TzfStaticGeometry g;
  g.UsableSize = aU;
  g.RecordLength = aL;
  if (aL == 0 || aU < kzfStaticBlockHeaderSize + 2 || 8 * aU - 256 < 8 * aL + 1) {
    throw EzfStaticRecordEngineException(zfErrMaxRecordSizeExceeded);
  }
  g.RecsPerBlock = (8 * aU - 256) / (8 * aL + 1);
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
  for (uint32_t n = 1; n <= aGeo.RecsPerBlock; ++n)
    zfPutLE32(aBlock + aGeo.SlotOffset(n), n < aGeo.RecsPerBlock ? n + 1 : 0);
}

uint32_t zfStaticStoreRecord(PzfBlock aBlock, const TzfStaticGeometry& aGeo, const uint8_t* aRecord) {
  const uint32_t slot = zfGetLE16(aBlock + 28);
  if (slot == 0) return 0;
  ZF_ASSERT(slot <= aGeo.RecsPerBlock && !zfStaticSlotInUse(aBlock, slot), kUnit);
  const uint32_t next = zfGetLE32(aBlock + aGeo.SlotOffset(slot));
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
  zfPutLE32(aBlock + aGeo.SlotOffset(aSlot), zfGetLE16(aBlock + 28));
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
  uint32_t slot = zfGetLE16(aBlock + 28);
  if ((slot == 0) != (count == rpb)) return fail(u"first free slot disagrees with the count");
  std::vector<bool> seen(rpb + 1, false);
  uint32_t chained = 0;
  while (slot != 0) {
    if (slot > rpb || seen[slot] || zfStaticSlotInUse(aBlock, slot)) return fail(u"free-slot chain is broken");
    seen[slot] = true;
    ++chained;
    slot = zfGetLE32(aBlock + aGeo.SlotOffset(slot));
  }
  if (chained != rpb - count) return fail(u"free-slot chain misses free slots");
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
      slot = zfGetLE32(aBlock + aGeo.SlotOffset(slot));
    }
  }
  const uint32_t count = st.BlockValid ? zfGetLE16(aBlock + 30) : rpb;
  if (count == 0) return result;
  uint32_t passed = 0;
  for (uint32_t n = 1; n <= rpb && passed < count; ++n) {
    if (n % 1000 == 1) zfCheckTimeout();
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

}  // namespace zf
