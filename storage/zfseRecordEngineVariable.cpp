#include "storage/zfseRecordEngineVariable.h"

#include <cstring>

#include "foundation/zfllErrors.h"
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

}  // namespace zf
