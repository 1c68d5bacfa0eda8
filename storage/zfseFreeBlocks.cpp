// Free blocks and nested-table headers of the table file header.
//
// Version 1 free chain: block 0 offset 24 holds the first free block (0xFFFFFFFF: none), offset 28
// their number. A free block reads "DEAD" and holds the next free block at offset 16.
//
// Version 2 free-block cache: block 0 offset 28 holds the entries in use (0..20), offsets 104..183
// the entries, the most recently freed on top; offset 24 the first free-block map block.
// Free-block map block, owner 0x7FFFFFFF:
//
// | offset | size | content                                        |
// |--------|------|------------------------------------------------|
// | 0      | 16   | common block header, signature "FBMH"          |
// | 16     | 4    | next map block (the previous chain head)       |
// | 20     | 4    | capacity: (usable - 28) / 4 entries            |
// | 24     | 4    | entries in use                                 |
// | 28     | 4 n  | free block numbers, oldest first               |
//
// "SubHeaders" section of block 0 (253 bytes): 31 pairs (nested-table ID, header block) sorted by
// ID at 0, the first overflow block at 248 (0: none), the pair count at 252. Overflow block
// ("CHOF", owner 0x7FFFFFFE): next at 16, capacity (usable - 24) / 8 at 20 (2 bytes), count at 22
// (2 bytes), pairs from 24. The pairs of the section and of the chain form one sorted sequence.
//
// A nested-table header block is a block owned by the nested table's ID reading "ZF!2", zero from
// offset 16, with offset 256 = usable - 1 and an empty section directory at 258.
//
// Every count, block number and chain read here is checked against what the file holds: a count
// above its limit, a block number outside the used blocks, a block of the wrong kind or a chain
// longer than the file give 8962 (8961 for the "SubHeaders" section), never a loop or a read past
// a block. A freed block reaches the disk as a free block: its kind, its number and zeros.
#include <algorithm>
#include <cstring>

#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlException.h"
#include "storage/zfsrBlockAccess.h"
#include "storage/zfsrBufferManager.h"
#include "storage/zfseHeaderAccess.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfseHeaderAccess";
constexpr uint32_t kCacheMax = 20;
constexpr uint32_t kCacheAfterSpill = 5;
constexpr uint32_t kRefillTarget = 15;
constexpr uint32_t kSectionPairs = 31;
constexpr uint8_t kSectionSize = 253;

template <class E>
[[noreturn]] void Corrupt(TzfBaseFile* aFile, const char16_t* aWhat, TzfBlockNumber aBlock) {
  throw E(zfErrFileCorrupt, u"The %s at block %d in file \"%s\" is damaged", {aWhat, aBlock, aFile->FileName()});
}

bool HasSignature(const uint8_t* aBlock, const char* aSig) { return std::memcmp(aBlock, aSig, 4) == 0; }

// Turns a block image into a free block: the kind, its number and LSN kept, every other byte 0.
void MakeFreeImage(uint8_t* aBlock, uint32_t aPhysical, const char* aSig) {
  std::memcpy(aBlock, aSig, 4);
  std::memset(aBlock + 16, 0, aPhysical - 16);
}

// A block reference held for a scope.
struct HeldBlock {
  PzfBlock Block = nullptr;
  TzfReleaseMethod Release;
  ~HeldBlock() {
    if (Block && Release) Release(Block);
  }
  void Give(PzfBlock& aBlock, TzfReleaseMethod& aRelease) {
    aBlock = Block;
    aRelease = Release;
    Block = nullptr;
    Release = {};
  }
};

}  // namespace

// ---- header access: shared parts -------------------------------------------------------------

void TzfBaseFileHeaderAccess::Init(TzfBaseTransaction* aTrans) {
  if (bfhaBlockAccess->baMain) bfhaMainHeader = ClassType().Create(*bfhaHeaderFile, aTrans, bfhaIsDirty, bfhaBlockAccess->baMain);
  ReadHeaderBlock(aTrans);
}

void TzfBaseFileHeaderAccess::ReadHeaderBlock(TzfBaseTransaction* aTrans) {
  Header = bfhaBlockAccess->GetBlock(aTrans, bfhaBlockAccess->baHeaderBlock, bfhaBlockAccess->baID, bfhaIsDirty,
                                     bfhaRelease);
}

void TzfBaseFileHeaderAccess::MarkDirty(TzfBaseTransaction* aTrans) {
  if (bfhaMainHeader) bfhaMainHeader->MarkDirty(aTrans);
  if (bfhaIsDirty) return;
  if (Header && bfhaRelease) bfhaRelease(Header);
  Header = nullptr;
  bfhaRelease = {};
  bfhaIsDirty = true;
  ReadHeaderBlock(aTrans);
}

std::unique_ptr<TzfBaseFileHeaderAccess> TzfBaseFileHeaderAccessFactory::CreateFileHeaderAccess(
    TzfBaseTransaction* aTrans, bool aMarkDirty, TzfBlockAccess* aBlockAccess) {
  ZF_ASSERT(aBlockAccess && aBlockAccess->baFile == bfhafFile, kUnit);
  return GetFileHeaderAccessClass().Create(*bfhafFile, aTrans, aMarkDirty, aBlockAccess);
}

// ---- version 1: the free chain ---------------------------------------------------------------

PzfBlock Tzf1xFileHeaderAccess::GetNewBlock(TzfBaseTransaction* aTrans, int32_t aID, TzfReleaseMethod& aReleaseMethod) {
  if (!bfhaIsDirty) throw Ezf1xFileHeaderAccessException(zfErrWriteErr);
  TzfBaseFile* file = bfhaHeaderFile;
  const uint32_t used = zfGetLE32(Header + kzfHdrUsedBlocks);
  const uint32_t count = zfGetLE32(Header + kzfHdrFreeCount);
  PzfBlock p;
  if (count == 0) {
    if (used >= file->fiMaxBlocks) throw Ezf1xFileHeaderAccessException(zfErrTableFull);
    p = file->fiBufMgr->AddBlock(file, aTrans, used, aReleaseMethod);
    zfPutLE32(Header + kzfHdrUsedBlocks, used + 1);
    file->fiTransUsedBlocks = used + 1;
    zfPutLE32(p + 4, used);
    return p;
  }
  const uint32_t head = zfGetLE32(Header + kzfHdrFreeHead);
  if (count >= used || head == 0 || head >= used) Corrupt<Ezf1xFileHeaderAccessException>(file, u"free block chain", 0);
  HeldBlock b;
  b.Block = bfhaBlockAccess->GetBlock(aTrans, head, 0, true, b.Release);
  // A block on the chain that is not free (a cycle, or a chain through live data) is never
  // handed out a second time.
  if (!HasSignature(b.Block, "DEAD")) Corrupt<Ezf1xFileHeaderAccessException>(file, u"free block chain", head);
  const uint32_t next = zfGetLE32(b.Block + 16);
  if (count > 1 && (next == 0 || next >= used)) Corrupt<Ezf1xFileHeaderAccessException>(file, u"free block chain", head);
  zfPutLE32(Header + kzfHdrFreeHead, count > 1 ? next : kzfNoBlock);
  zfPutLE32(Header + kzfHdrFreeCount, count - 1);
  zfPutLE32(b.Block + 4, head);
  b.Give(p, aReleaseMethod);
  return p;
}

void Tzf1xFileHeaderAccess::DeleteBlock(TzfBaseTransaction* aTrans, PzfBlock aBlock) {
  if (!bfhaIsDirty) throw Ezf1xFileHeaderAccessException(zfErrWriteErr);
  TzfBaseFile* file = bfhaHeaderFile;
  const uint32_t n = zfGetLE32(aBlock + 4);
  if (n == 0 || n >= zfGetLE32(Header + kzfHdrUsedBlocks))
    Corrupt<Ezf1xFileHeaderAccessException>(file, u"freed block", n);
  MakeFreeImage(aBlock, file->PhysicalBlockBytes(), "DEAD");
  zfPutLE32(aBlock + 16, zfGetLE32(Header + kzfHdrFreeCount) == 0 ? kzfNoBlock : zfGetLE32(Header + kzfHdrFreeHead));
  zfPutLE32(Header + kzfHdrFreeHead, n);
  zfPutLE32(Header + kzfHdrFreeCount, zfGetLE32(Header + kzfHdrFreeCount) + 1);
}

// ---- version 2: the free-block cache and map blocks --------------------------------------------

namespace {

// Checks a fetched map block: its kind, capacity and count.
void CheckMapBlock(TzfBaseFile* aFile, const uint8_t* aBlock, TzfBlockNumber aNumber) {
  const uint32_t cap = (aFile->fiBlockSizeBytes - 28) / 4;
  if (!HasSignature(aBlock, "FBMH") || zfGetLE32(aBlock + 20) != cap || zfGetLE32(aBlock + 24) > cap)
    Corrupt<Ezf2xFileHeaderAccessException>(aFile, u"free block map", aNumber);
}

}  // namespace

PzfBlock Tzf2xFileHeaderAccess::GetNewBlock(TzfBaseTransaction* aTrans, int32_t aID, TzfReleaseMethod& aReleaseMethod) {
  if (bfhaMainHeader) return bfhaMainHeader->GetNewBlock(aTrans, aID, aReleaseMethod);
  if (!bfhaIsDirty) throw Ezf2xFileHeaderAccessException(zfErrWriteErr);
  TzfBaseFile* file = bfhaHeaderFile;
  const uint32_t usable = file->fiBlockSizeBytes;
  const uint32_t used = zfGetLE32(Header + kzfHdrUsedBlocks);
  uint32_t count = zfGetLE32(Header + kzfHdrFreeCount);
  if (count > kCacheMax) Corrupt<Ezf2xFileHeaderAccessException>(file, u"free block cache", 0);
  uint8_t* cache = Header + kzfHdrFreeCache;
  if (count == 0) {
    // Refill from the map: at most two map blocks are visited (one emptied ends the refill).
    uint32_t head = zfGetLE32(Header + kzfHdrFreeHead);
    while (count < kRefillTarget && head != kzfNoBlock) {
      if (head == 0 || head >= used) Corrupt<Ezf2xFileHeaderAccessException>(file, u"free block map chain", head);
      HeldBlock m;
      m.Block = bfhaBlockAccess->GetBlock(aTrans, head, kzfOwnerFreeBlockMap, true, m.Release);
      CheckMapBlock(file, m.Block, head);
      const uint32_t inUse = zfGetLE32(m.Block + 24);
      const uint32_t n = std::min(kRefillTarget - count, inUse);
      const uint8_t* from = m.Block + 28 + 4 * (inUse - n);
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t b = zfGetLE32(from + 4 * i);
        if (b == 0 || b >= used) Corrupt<Ezf2xFileHeaderAccessException>(file, u"free block map", head);
      }
      std::memcpy(cache + 4 * count, from, 4 * n);
      count += n;
      zfPutLE32(m.Block + 24, inUse - n);
      zfPutLE32(Header + kzfHdrFreeCount, count);
      if (inUse - n == 0) {
        // The emptied map block is the new block, returned with its old contents.
        zfPutLE32(Header + kzfHdrFreeHead, zfGetLE32(m.Block + 16));
        zfPutLE32(m.Block + usable, uint32_t(aID));
        PzfBlock p;
        m.Give(p, aReleaseMethod);
        return p;
      }
      head = kzfNoBlock;  // the map block still holds entries: the cache is full enough
    }
  }
  TzfBlockNumber n;
  if (count > 0) {
    n = zfGetLE32(cache + 4 * (count - 1));
    if (n == 0 || n >= used) Corrupt<Ezf2xFileHeaderAccessException>(file, u"free block cache", 0);
    zfPutLE32(Header + kzfHdrFreeCount, count - 1);
  } else {
    if (used >= file->fiMaxBlocks) throw Ezf2xFileHeaderAccessException(zfErrTableFull);
    n = used;
    zfPutLE32(Header + kzfHdrUsedBlocks, used + 1);
    file->fiTransUsedBlocks = used + 1;
  }
  PzfBlock p = file->fiBufMgr->AddBlock(file, aTrans, n, aReleaseMethod);
  zfPutLE32(p + usable, uint32_t(aID));
  zfPutLE32(p + 4, n);
  return p;
}

void Tzf2xFileHeaderAccess::DeleteBlock(TzfBaseTransaction* aTrans, PzfBlock aBlock) {
  if (bfhaMainHeader) {
    bfhaMainHeader->DeleteBlock(aTrans, aBlock);
    return;
  }
  if (!bfhaIsDirty) throw Ezf2xFileHeaderAccessException(zfErrWriteErr);
  TzfBaseFile* file = bfhaHeaderFile;
  const uint32_t usable = file->fiBlockSizeBytes;
  const TzfBlockNumber self = zfGetLE32(aBlock + 4);
  if (self == 0 || self >= zfGetLE32(Header + kzfHdrUsedBlocks))
    Corrupt<Ezf2xFileHeaderAccessException>(file, u"freed block", self);
  uint32_t count = zfGetLE32(Header + kzfHdrFreeCount);
  if (count > kCacheMax) Corrupt<Ezf2xFileHeaderAccessException>(file, u"free block cache", 0);
  uint8_t* cache = Header + kzfHdrFreeCache;
  zfPutLE32(aBlock + usable, 0);
  if (count == kCacheMax) {
    // Spill: the cache keeps 5 entries; the others go to the head map block or, when there is
    // none or it is full, to the block being freed, which becomes the new head map block.
    bool headUsed = false;
    bool becameMap = false;
    const uint32_t cap = (usable - 28) / 4;
    while (count > kCacheAfterSpill) {
      HeldBlock m;
      uint8_t* map;
      const uint32_t head = zfGetLE32(Header + kzfHdrFreeHead);
      if (head != kzfNoBlock && !headUsed) {
        if (head == 0 || head >= zfGetLE32(Header + kzfHdrUsedBlocks))
          Corrupt<Ezf2xFileHeaderAccessException>(file, u"free block map chain", head);
        m.Block = bfhaBlockAccess->GetBlock(aTrans, head, kzfOwnerFreeBlockMap, true, m.Release);
        CheckMapBlock(file, m.Block, head);
        map = m.Block;
      } else {
        map = aBlock;
        MakeFreeImage(map, file->PhysicalBlockBytes(), "FBMH");
        zfPutLE32(map + 16, head);
        zfPutLE32(map + 20, cap);
        zfPutLE32(map + 24, 0);
        zfPutLE32(Header + kzfHdrFreeHead, self);
        becameMap = true;
      }
      headUsed = true;
      zfPutLE32(map + usable, uint32_t(kzfOwnerFreeBlockMap));
      const uint32_t inUse = zfGetLE32(map + 24);
      const uint32_t k = std::min(cap - inUse, count - kCacheAfterSpill);
      std::memcpy(map + 28 + 4 * inUse, cache + 4 * (count - k), 4 * k);
      zfPutLE32(map + 24, inUse + k);
      count -= k;
      zfPutLE32(Header + kzfHdrFreeCount, count);
    }
    if (becameMap) return;
  }
  // The freed block reaches the disk as a free block, never as its old image.
  MakeFreeImage(aBlock, file->PhysicalBlockBytes(), "DEAD");
  zfPutLE32(cache + 4 * count, self);
  zfPutLE32(Header + kzfHdrFreeCount, count + 1);
}

// ---- version 2: nested-table headers ---------------------------------------------------------

namespace {

struct Pair {
  int32_t ID;
  uint32_t Block;
};

Pair GetPair(const uint8_t* p) { return {int32_t(zfGetLE32(p)), zfGetLE32(p + 4)}; }
void PutPair(uint8_t* p, Pair aPair) {
  zfPutLE32(p, uint32_t(aPair.ID));
  zfPutLE32(p + 4, aPair.Block);
}

// Binary search of aCount pairs at aPairs; the index of aID, or the insert position as ~index.
int32_t FindPair(const uint8_t* aPairs, uint32_t aCount, int32_t aID) {
  int32_t lo = 0, hi = int32_t(aCount) - 1;
  while (lo <= hi) {
    const int32_t mid = (lo + hi) / 2;
    const int32_t id = GetPair(aPairs + 8 * mid).ID;
    if (id == aID) return mid;
    if (id < aID)
      lo = mid + 1;
    else
      hi = mid - 1;
  }
  return ~lo;
}

// Inserts aPair in order into aCount pairs of a room of aCap; when the room is full the last pair
// is pushed out into aPushed (answer True).
bool InsertPair(uint8_t* aPairs, uint32_t& aCount, uint32_t aCap, Pair aPair, Pair& aPushed) {
  const int32_t at = FindPair(aPairs, aCount, aPair.ID);
  ZF_ASSERT(at < 0, kUnit);  // the pair is not present already
  const uint32_t pos = uint32_t(~at);
  bool pushed = false;
  if (aCount == aCap) {
    aPushed = GetPair(aPairs + 8 * (aCount - 1));
    pushed = true;
    --aCount;
    if (pos > aCount) {
      // The new pair itself is the one that does not fit.
      aPushed = aPair;
      ++aCount;
      return true;
    }
  }
  std::memmove(aPairs + 8 * (pos + 1), aPairs + 8 * pos, 8 * (aCount - pos));
  PutPair(aPairs + 8 * pos, aPair);
  ++aCount;
  return pushed;
}

void CheckOverflow(TzfBaseFile* aFile, const uint8_t* aBlock, TzfBlockNumber aNumber) {
  const uint32_t cap = (aFile->fiBlockSizeBytes - 24) / 8;
  if (!HasSignature(aBlock, "CHOF") || zfGetLE16(aBlock + 20) != cap || zfGetLE16(aBlock + 22) > cap)
    Corrupt<Ezf2xFileHeaderAccessException>(aFile, u"nested table header overflow block", aNumber);
}

}  // namespace

void Tzf2xFileHeaderAccess::ReadHeaderBlock(TzfBaseTransaction* aTrans) {
  TzfBlockAccess* ba = bfhaBlockAccess;
  if (ba->baID != 0 && ba->baHeaderBlock == 0) {
    auto* root = dynamic_cast<Tzf2xFileHeaderAccess*>(bfhaMainHeader.get());
    ZF_ASSERT(root != nullptr, kUnit);
    ba->baHeaderBlock = root->GetHeaderBlockForID(aTrans, ba->baID);
  }
  TzfBaseFileHeaderAccess::ReadHeaderBlock(aTrans);
}

TzfBlockNumber Tzf2xFileHeaderAccess::GetHeaderBlockForID(TzfBaseTransaction* aTrans, int32_t aID) {
  TzfBaseFile* file = bfhaHeaderFile;
  const uint32_t usable = file->fiBlockSizeBytes;
  if (aTrans) MarkDirty(aTrans);
  const uint16_t offset = aTrans ? RegisterHeaderSection("SubHeaders", kSectionSize, true, true)
                                 : RegisterHeaderSection("SubHeaders", kSectionSize, false, false);
  uint8_t* section = Header + offset;
  uint32_t count = section[252];
  if (count > kSectionPairs) throw Ezf2xFileHeaderAccessException(zfErrHeaderCorrupt);
  const uint32_t used = zfGetLE32(Header + kzfHdrUsedBlocks);
  auto checkBlock = [&](uint32_t aBlock) {
    if (aBlock == 0 || aBlock >= used) throw Ezf2xFileHeaderAccessException(zfErrHeaderCorrupt);
    return aBlock;
  };
  // Search the section, then the overflow chain, which is never longer than the file.
  if (count > 0 && aID <= GetPair(section + 8 * (count - 1)).ID) {
    const int32_t at = FindPair(section, count, aID);
    if (at >= 0) return checkBlock(GetPair(section + 8 * at).Block);
  } else {
    int32_t prevLast = count > 0 ? GetPair(section + 8 * (count - 1)).ID : INT32_MIN;
    uint32_t next = zfGetLE32(section + 248);
    for (uint32_t steps = 0; next != 0; ++steps) {
      if (next >= used || steps >= used) Corrupt<Ezf2xFileHeaderAccessException>(file, u"nested table header chain", next);
      if (aID < prevLast) break;
      HeldBlock o;
      o.Block = bfhaBlockAccess->GetBlock(aTrans, next, kzfOwnerHeaderOverflow, false, o.Release);
      CheckOverflow(file, o.Block, next);
      const uint32_t n = zfGetLE16(o.Block + 22);
      if (n > 0) {
        const int32_t last = GetPair(o.Block + 24 + 8 * (n - 1)).ID;
        if (aID <= last) {
          const int32_t at = FindPair(o.Block + 24, n, aID);
          if (at >= 0) return checkBlock(GetPair(o.Block + 24 + 8 * at).Block);
          break;
        }
        prevLast = last;
      }
      next = zfGetLE32(o.Block + 16);
    }
  }
  if (!aTrans) throw Ezf2xFileHeaderAccessException(zfErrHeaderCorrupt);

  // Create the nested table's header block, then insert its pair.
  TzfBlockNumber created;
  {
    HeldBlock h;
    h.Block = GetNewBlock(aTrans, aID, h.Release);
    std::memcpy(h.Block, "ZF!2", 4);
    std::memset(h.Block + 16, 0, usable - 16);
    zfPutLE16(h.Block + kzfHdrSectionUpper, uint16_t(usable - 1));
    created = zfGetLE32(h.Block + 4);
  }
  // GetNewBlock may have re-fetched nothing of block 0 but its counts: the section stays put.
  section = Header + offset;
  count = section[252];
  Pair pending{aID, created};
  bool havePending = true;
  if (count == 0 || aID < GetPair(section + 8 * (count - 1)).ID || count < kSectionPairs) {
    Pair pushed{};
    havePending = InsertPair(section, count, kSectionPairs, pending, pushed);
    pending = pushed;
    section[252] = uint8_t(count);
  }
  if (!havePending) return created;
  auto newOverflow = [&](Pair aPair) {
    HeldBlock o;
    o.Block = GetNewBlock(aTrans, kzfOwnerHeaderOverflow, o.Release);
    MakeFreeImage(o.Block, file->PhysicalBlockBytes(), "CHOF");
    zfPutLE32(o.Block + usable, uint32_t(kzfOwnerHeaderOverflow));
    zfPutLE16(o.Block + 20, uint16_t((usable - 24) / 8));
    zfPutLE16(o.Block + 22, 1);
    PutPair(o.Block + 24, aPair);
    return zfGetLE32(o.Block + 4);
  };
  uint32_t next = zfGetLE32(section + 248);
  if (next == 0) {
    const uint32_t first = newOverflow(pending);
    zfPutLE32(Header + offset + 248, first);
    return created;
  }
  int32_t prevLast = GetPair(section + 8 * (count - 1)).ID;
  for (uint32_t steps = 0;; ++steps) {
    if (next == 0 || next >= zfGetLE32(Header + kzfHdrUsedBlocks) || steps >= used)
      Corrupt<Ezf2xFileHeaderAccessException>(file, u"nested table header chain", next);
    HeldBlock o;
    o.Block = bfhaBlockAccess->GetBlock(aTrans, next, kzfOwnerHeaderOverflow, true, o.Release);
    CheckOverflow(file, o.Block, next);
    const uint32_t cap = zfGetLE16(o.Block + 20);
    uint32_t n = zfGetLE16(o.Block + 22);
    const int32_t last = n > 0 ? GetPair(o.Block + 24 + 8 * (n - 1)).ID : prevLast;
    if (pending.ID > prevLast && (pending.ID <= last || n < cap)) {
      Pair pushed{};
      havePending = InsertPair(o.Block + 24, n, cap, pending, pushed);
      pending = pushed;
      zfPutLE16(o.Block + 22, uint16_t(n));
      if (!havePending) return created;
    }
    prevLast = GetPair(o.Block + 24 + 8 * (n - 1)).ID;
    next = zfGetLE32(o.Block + 16);
    if (next == 0) {
      const uint32_t added = newOverflow(pending);
      zfPutLE32(o.Block + 16, added);
      return created;
    }
  }
}

}  // namespace zf
