#include "storage/zfseHeapEngineCached.h"

#include <algorithm>
#include <cstring>

#include "foundation/zfllErrors.h"

namespace zf {

namespace {
constexpr const char* kUnit = "zfseHeapEngineCached";
constexpr uint32_t kMgmtNext = 16, kMgmtCount = 20, kMgmtEntries = 22;
}  // namespace

TzfCachedHeapEngine::TzfCachedHeapEngine(int32_t aID, TzfBlockAccess* aDataFile,
                                         std::unique_ptr<TzfHeapHeaderHandler> aHandler)
    : bseID(aID), bheDataFile(aDataFile), bheHeaderHandler(std::move(aHandler)) {
  ZF_ASSERT(aDataFile != nullptr && bheHeaderHandler != nullptr, "zfsrHeapEngineBase");
  bheHeaderHandler->hhhEngine = this;
  const uint32_t u = aDataFile->BlockSizeBytes();
  bheBlockHeapEngine = std::make_unique<TzfNonfragmentingBlockHeapEngine>(u, bheHeaderHandler->HeaderSize());
  bheBlockHeapEngine->bbheOnChanged = [this](PzfBlock b, uint16_t c, uint16_t f, uint16_t r) {
    BlockHeapChanged(b, c, f, r);
  };
  heMaxEntries = uint16_t((u - kMgmtEntries) / 6);
}

TzfCachedHeapEngine::~TzfCachedHeapEngine() = default;

PzfBlock TzfCachedHeapEngine::ReadHeapBlock(TzfBaseTransaction* aTrans, TzfBlockNumber aBlock, bool aMarkDirty,
                                            const TzfBlockSignature& aSignature, uint32_t aCode,
                                            TzfReleaseMethod& aRm) {
  if (!bheDataFile->ValidBlock(aBlock, aTrans)) {
    throw EzfCachedHeapEngineException(zfErrBlockNumberOutOfRange,
                                       u"Block number is either < 0, or >= number of blocks in file [%s, block %d]",
                                       {bheDataFile->TableFileName(), int64_t(aBlock)});
  }
  PzfBlock p = bheDataFile->GetBlock(aTrans, aBlock, bseID, aMarkDirty, aRm);
  if (zfGetBlockSignature(p) != aSignature || zfGetThisBlock(p) != aBlock) {
    aRm(p);
    throw EzfCachedHeapEngineException(aCode, u"Block just read from file is not a valid heap block [%s, block %d]",
                                       {bheDataFile->TableFileName(), int64_t(aBlock)});
  }
  return p;
}

PzfBlock TzfCachedHeapEngine::ReadBlockHeap(TzfBaseTransaction* aTrans, TzfBlockNumber aBlock, bool aMarkDirty,
                                            TzfReleaseMethod& aRm) {
  return ReadHeapBlock(aTrans, aBlock, aMarkDirty, SigDataBlock(), zfErrNotAHeapBlock, aRm);
}

uint16_t TzfCachedHeapEngine::FirstNonFull() const {
  for (size_t i = 0; i < heManagmentBlocks.size(); ++i)
    if (heManagmentBlocks[i].Entries.size() < heMaxEntries) return uint16_t(i);
  return 0xFFFF;
}

void TzfCachedHeapEngine::LoadManagementBlocks(TzfBaseTransaction* aTrans) {
  if (heManagmentBlocksLoaded) return;
  heManagmentBlocks.clear();
  heByBlockNumber.clear();
  heByFreeSpace.clear();
  TzfBaseTransaction* t = aTrans;
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(bheDataFile->HeaderAccess(t, false));
  const uint32_t limit = ha->UsedBlockCount();
  for (uint32_t n = bheHeaderHandler->GetFirstManagementBlock(ha.get()); n != 0;) {
    if (heManagmentBlocks.size() >= limit) {
      throw EzfCachedHeapEngineException(zfErrFileCorrupt, u"The heap's management chain loops [%s, block %d]",
                                         {bheDataFile->TableFileName(), int64_t(n)});
    }
    TzfReleaseMethod rm;
    PzfBlock b = ReadHeapBlock(t, n, false, SigManagementBlock(), zfErrNotAHeapBlock, rm);
    const uint32_t count = zfGetLE16(b + kMgmtCount);
    const uint32_t next = zfGetLE32(b + kMgmtNext);
    if (count > heMaxEntries) {
      rm(b);
      throw EzfCachedHeapEngineException(zfErrFileCorrupt, u"Heap management block holds too many entries [%s, block %d]",
                                         {bheDataFile->TableFileName(), int64_t(n)});
    }
    TManagement m{n, {}};
    for (uint32_t i = 0; i < count; ++i)
      m.Entries.push_back({zfGetLE32(b + kMgmtEntries + 6 * i), zfGetLE16(b + kMgmtEntries + 6 * i + 4)});
    rm(b);
    const size_t mi = heManagmentBlocks.size();
    for (size_t i = 0; i < m.Entries.size(); ++i) {
      heByBlockNumber[m.Entries[i].Block] = {mi, i};
      heByFreeSpace.insert({m.Entries[i].Free, m.Entries[i].Block});
    }
    heManagmentBlocks.push_back(std::move(m));
    n = next;
  }
  heManagmentBlocksLoaded = true;
}

void TzfCachedHeapEngine::Rollback(TzfBaseTransaction* aTrans) {
  if (aTrans != heCurrentTrans) return;
  heManagmentBlocksLoaded = false;
  heManagmentBlocks.clear();
  heByBlockNumber.clear();
  heByFreeSpace.clear();
}

PzfBlock TzfCachedHeapEngine::NewDataBlock(TzfBaseTransaction* aTrans, TzfReleaseMethod& aRm) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(bheDataFile->HeaderAccess(aTrans, true));
  PzfBlock b = ha->GetNewBlock(aTrans, bseID, aRm);
  try {
    zfSetBlockSignature(b, SigDataBlock());
    std::memset(b + 16, 0, bheHeaderHandler->HeaderSize() - 16u);
    bheBlockHeapEngine->InitBlock(b);
    bheHeaderHandler->DataBlockAdded(aTrans, ha.get(), b);
  } catch (...) {
    ha->DeleteBlock(aTrans, b);
    aRm(b);
    throw;
  }
  return b;
}

uint32_t TzfCachedHeapEngine::NewManagementBlock(TzfBaseTransaction* aTrans) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(bheDataFile->HeaderAccess(aTrans, true));
  TzfReleaseMethod rm;
  PzfBlock b = ha->GetNewBlock(aTrans, bseID, rm);
  const uint32_t n = zfGetThisBlock(b);
  try {
    zfSetBlockSignature(b, SigManagementBlock());
    zfPutLE32(b + kMgmtNext, 0);
    zfPutLE16(b + kMgmtCount, 0);
    if (!heManagmentBlocks.empty()) {
      TzfReleaseMethod lrm;
      PzfBlock last = ReadHeapBlock(aTrans, heManagmentBlocks.back().Block, true, SigManagementBlock(),
                                    zfErrNotAHeapBlock, lrm);
      ZF_ASSERT(zfGetLE32(last + kMgmtNext) == 0, kUnit);
      zfPutLE32(last + kMgmtNext, n);
      lrm(last);
    } else {
      ZF_ASSERT(bheHeaderHandler->GetFirstManagementBlock(ha.get()) == 0, kUnit);
      bheHeaderHandler->SetFirstManagementBlock(ha.get(), n);
    }
  } catch (...) {
    ha->DeleteBlock(aTrans, b);
    rm(b);
    throw;
  }
  rm(b);
  heManagmentBlocks.push_back({n, {}});
  return n;
}

void TzfCachedHeapEngine::FreeDataBlock(TzfBaseTransaction* aTrans, PzfBlock aBlock) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(bheDataFile->HeaderAccess(aTrans, true));
  bheHeaderHandler->DataBlockRemoved(aTrans, ha.get(), aBlock);
  ha->DeleteBlock(aTrans, aBlock);
}

void TzfCachedHeapEngine::RemoveEntry(size_t aManagement, size_t aEntry) {
  TzfBaseTransaction* t = heCurrentTrans;
  TManagement& m = heManagmentBlocks[aManagement];
  TzfReleaseMethod rm;
  PzfBlock b = ReadHeapBlock(t, m.Block, true, SigManagementBlock(), zfErrNotAHeapBlock, rm);
  ZF_ASSERT(zfGetLE16(b + kMgmtCount) == m.Entries.size(), kUnit);
  const TEntry gone = m.Entries[aEntry];
  heByBlockNumber.erase(gone.Block);
  heByFreeSpace.erase({gone.Free, gone.Block});
  const size_t last = m.Entries.size() - 1;
  if (aEntry != last) {
    m.Entries[aEntry] = m.Entries[last];
    std::memcpy(b + kMgmtEntries + 6 * aEntry, b + kMgmtEntries + 6 * last, 6);
    heByBlockNumber[m.Entries[aEntry].Block] = {aManagement, aEntry};
  }
  std::memset(b + kMgmtEntries + 6 * last, 0, 6);
  m.Entries.pop_back();
  zfPutLE16(b + kMgmtCount, uint16_t(m.Entries.size()));
  rm(b);
}

void TzfCachedHeapEngine::BlockHeapChanged(PzfBlock aBlock, uint16_t aSegmentCount, uint16_t aFreeSpace,
                                           uint16_t aRecoverable) {
  TzfBaseTransaction* t = heCurrentTrans;
  const uint32_t free = uint32_t(aFreeSpace) + aRecoverable;
  ZF_ASSERT(free == bheBlockHeapEngine->GetFreespace(aBlock), kUnit);
  LoadManagementBlocks(t);
  const uint32_t n = zfGetThisBlock(aBlock);
  auto it = heByBlockNumber.find(n);
  if (it == heByBlockNumber.end()) {
    if (aSegmentCount == 0) {
      FreeDataBlock(t, aBlock);
      return;
    }
    if (free < heCutoffSize) return;
    uint16_t mi = FirstNonFull();
    if (mi == 0xFFFF) {
      NewManagementBlock(t);
      mi = uint16_t(heManagmentBlocks.size() - 1);
    }
    TManagement& m = heManagmentBlocks[mi];
    TzfReleaseMethod rm;
    PzfBlock b = ReadHeapBlock(t, m.Block, true, SigManagementBlock(), zfErrNotAHeapBlock, rm);
    ZF_ASSERT(zfGetLE16(b + kMgmtCount) == m.Entries.size() && m.Entries.size() < heMaxEntries, kUnit);
    const size_t i = m.Entries.size();
    zfPutLE32(b + kMgmtEntries + 6 * i, n);
    zfPutLE16(b + kMgmtEntries + 6 * i + 4, uint16_t(free));
    zfPutLE16(b + kMgmtCount, uint16_t(i + 1));
    rm(b);
    m.Entries.push_back({n, uint16_t(free)});
    heByBlockNumber[n] = {mi, i};
    heByFreeSpace.insert({uint16_t(free), n});
    return;
  }
  const auto [mi, ei] = it->second;
  TEntry& e = heManagmentBlocks[mi].Entries[ei];
  if (e.Free == free && aSegmentCount > 0) return;
  if (aSegmentCount > 0 && free >= heCutoffSize) {
    TzfReleaseMethod rm;
    PzfBlock b = ReadHeapBlock(t, heManagmentBlocks[mi].Block, true, SigManagementBlock(), zfErrNotAHeapBlock, rm);
    ZF_ASSERT(zfGetLE16(b + kMgmtCount) == heManagmentBlocks[mi].Entries.size(), kUnit);
    heByFreeSpace.erase({e.Free, e.Block});
    e.Free = uint16_t(free);
    zfPutLE16(b + kMgmtEntries + 6 * ei + 4, e.Free);
    heByFreeSpace.insert({e.Free, e.Block});
    rm(b);
    return;
  }
  RemoveEntry(mi, ei);
  if (aSegmentCount == 0) FreeDataBlock(t, aBlock);
  if (heManagmentBlocks[mi].Entries.empty() && mi + 1 == heManagmentBlocks.size()) TrimManagementBlocks(t);
}

void TzfCachedHeapEngine::TrimManagementBlocks(TzfBaseTransaction* aTrans) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(bheDataFile->HeaderAccess(aTrans, true));
  bool dropped = false;
  while (!heManagmentBlocks.empty() && heManagmentBlocks.back().Entries.empty()) {
    TzfReleaseMethod rm;
    PzfBlock b = ReadHeapBlock(aTrans, heManagmentBlocks.back().Block, true, SigManagementBlock(),
                               zfErrNotAHeapBlock, rm);
    ha->DeleteBlock(aTrans, b);
    rm(b);
    heManagmentBlocks.pop_back();
    dropped = true;
  }
  if (!dropped) return;
  if (!heManagmentBlocks.empty()) {
    TzfReleaseMethod rm;
    PzfBlock b = ReadHeapBlock(aTrans, heManagmentBlocks.back().Block, true, SigManagementBlock(),
                               zfErrNotAHeapBlock, rm);
    ZF_ASSERT(zfGetLE32(b + kMgmtNext) != 0, kUnit);
    zfPutLE32(b + kMgmtNext, 0);
    rm(b);
  } else {
    ZF_ASSERT(bheHeaderHandler->GetFirstManagementBlock(ha.get()) != 0, kUnit);
    bheHeaderHandler->SetFirstManagementBlock(ha.get(), 0);
  }
}

int64_t TzfCachedHeapEngine::AllocSegment(TzfBaseTransaction* aTrans, std::initializer_list<TzfSegmentPart> aParts) {
  return AllocSegment(aTrans, std::vector<TzfSegmentPart>(aParts));
}

int64_t TzfCachedHeapEngine::AllocSegment(TzfBaseTransaction* aTrans, const std::vector<TzfSegmentPart>& aParts) {
  uint32_t total = 0;
  for (const TzfSegmentPart& p : aParts) total += p.Size;
  if (total == 0 || total > bheBlockHeapEngine->bbheMaxSegmentSize) return 0;
  heCurrentTrans = aTrans;
  LoadManagementBlocks(aTrans);
  TzfReleaseMethod rm;
  PzfBlock b = nullptr;
  if (!heByFreeSpace.empty() && heByFreeSpace.rbegin()->first >= total) {
    b = ReadBlockHeap(aTrans, heByFreeSpace.rbegin()->second, true, rm);
  } else {
    b = NewDataBlock(aTrans, rm);
  }
  uint32_t slot = 0;
  PzfByteArray d;
  try {
    d = bheBlockHeapEngine->AllocSegment(b, uint16_t(total), slot);
  } catch (...) {
    rm(b);
    throw;
  }
  const int64_t ref = (int64_t(zfGetThisBlock(b)) << 32) | slot;
  if (!d) {
    rm(b);
    ZF_ASSERT(false, kUnit);
  }
  for (const TzfSegmentPart& p : aParts) {
    if (p.Data) std::memcpy(d, p.Data, p.Size);
    d += p.Size;
  }
  rm(b);
  return ref;
}

PzfByteArray TzfCachedHeapEngine::GetSegment(TzfBaseTransaction* aTrans, int64_t aHeapRef, bool aMarkDirty,
                                             uint16_t& aSegmentSize, PzfBlock& aBlock, TzfReleaseMethod& aRm) {
  aSegmentSize = 0;
  aBlock = ReadBlockHeap(aTrans, uint32_t(uint64_t(aHeapRef) >> 32), aMarkDirty, aRm);
  if (aMarkDirty) heCurrentTrans = aTrans;
  try {
    return bheBlockHeapEngine->GetSegment(aBlock, uint32_t(aHeapRef & 0xFFFFFFFF), aSegmentSize);
  } catch (...) {
    aRm(aBlock);
    aRm = {};
    throw;
  }
}

namespace {
// The largest aHeaderSize + k * aUnit not above aValue; 0 below aHeaderSize.
uint32_t FitUnits(uint32_t aValue, uint16_t aHeaderSize, uint16_t aUnit) {
  if (aValue < aHeaderSize) return 0;
  const uint32_t unit = aUnit ? aUnit : 1;
  return aHeaderSize + (aValue - aHeaderSize) / unit * unit;
}

// The bytes of all parts of a sized request, in 64 bits so that no sum of parts wraps.
uint64_t SumOfSizes(const std::vector<uint32_t>& aSizes) {
  uint64_t sum = 0;
  for (uint32_t s : aSizes) sum += s;
  return sum;
}
}  // namespace

int64_t TzfCachedHeapEngine::PlaceSegment(TzfBaseTransaction* aTrans, uint32_t aBlock, uint32_t aSize,
                                          const std::vector<const void*>& aItems,
                                          const std::vector<uint32_t>& aSizes) {
  TzfReleaseMethod rm;
  PzfBlock b = aBlock ? ReadBlockHeap(aTrans, aBlock, true, rm) : NewDataBlock(aTrans, rm);
  uint32_t slot = 0;
  PzfByteArray d;
  try {
    d = bheBlockHeapEngine->AllocSegment(b, uint16_t(aSize), slot);
  } catch (...) {
    rm(b);
    throw;
  }
  const int64_t ref = d ? int64_t((uint64_t(zfGetThisBlock(b)) << 32) | slot) : 0;
  for (size_t i = 0; d && i < aItems.size() && i < aSizes.size() && aSize > 0; ++i) {
    const uint32_t k = std::min(aSize, aSizes[i]);
    if (aItems[i]) std::memcpy(d, aItems[i], k);
    d += k;
    aSize -= k;
  }
  rm(b);
  return ref;
}

int64_t TzfCachedHeapEngine::AllocSegmentEx(TzfBaseTransaction* aTrans, const std::vector<const void*>& aItems,
                                            const std::vector<uint32_t>& aSizes, uint16_t aMinSize,
                                            uint16_t& aAllocated, uint16_t aHeaderSize, uint16_t aUnit,
                                            bool aExactOnly) {
  aAllocated = 0;
  const uint64_t sum = SumOfSizes(aSizes);
  if (sum == 0) return 0;
  const uint32_t max = bheBlockHeapEngine->bbheMaxSegmentSize;
  const uint32_t want = uint32_t(std::min<uint64_t>(sum, max));
  heCurrentTrans = aTrans;
  LoadManagementBlocks(aTrans);
  // A request larger than any segment goes to a new block, where it gets the most.
  if (!heByFreeSpace.empty() && sum <= max) {
    const auto [free, block] = *heByFreeSpace.rbegin();
    uint32_t size = 0;
    if (free >= sum)
      size = FitUnits(uint32_t(sum), aHeaderSize, aUnit);
    else if (!aExactOnly)
      size = FitUnits(std::min<uint32_t>(free, want), aHeaderSize, aUnit);
    if (size > 0 && size >= aMinSize)
      if (const int64_t ref = PlaceSegment(aTrans, block, size, aItems, aSizes)) {
        aAllocated = uint16_t(size);
        return ref;
      }
  }
  const uint32_t size = std::min(std::max<uint32_t>(FitUnits(want, aHeaderSize, aUnit), aMinSize), max);
  if (size == 0) return 0;
  const int64_t ref = PlaceSegment(aTrans, 0, size, aItems, aSizes);
  ZF_ASSERT(ref != 0, kUnit);
  aAllocated = uint16_t(size);
  return ref;
}

int64_t TzfCachedHeapEngine::ReAllocSegmentEx(TzfBaseTransaction* aTrans, PzfBlock aBlock, uint32_t aSegment,
                                              const std::vector<const void*>& aItems,
                                              const std::vector<uint32_t>& aSizes, uint16_t aMinSize,
                                              uint16_t& aAllocated, uint16_t aHeaderSize, uint16_t aUnit,
                                              bool aExactOnly) {
  aAllocated = 0;
  const uint64_t sum = SumOfSizes(aSizes);
  const uint64_t total = std::max<uint64_t>(sum, aMinSize);
  if (total == 0) return 0;
  const uint32_t unit = aUnit ? aUnit : 1;
  ZF_ASSERT(total >= aHeaderSize && (total - aHeaderSize) % unit == 0, kUnit);
  heCurrentTrans = aTrans;
  LoadManagementBlocks(aTrans);
  const uint32_t max = bheBlockHeapEngine->bbheMaxSegmentSize;
  const TzfBlockNumber home = zfGetThisBlock(aBlock);
  uint32_t size = 0;
  // In place when the segment's own block takes the whole (capped) size.
  if (bheBlockHeapEngine->ReAllocSegment(aBlock, uint16_t(std::min<uint64_t>(total, max)), aSegment)) {
    size = FitUnits(uint32_t(std::min<uint64_t>(total, max)), aHeaderSize, aUnit);
    uint8_t* d = bheBlockHeapEngine->GetSegment(aBlock, aSegment, aAllocated);
    if (size < aAllocated) d = bheBlockHeapEngine->ReAllocSegment(aBlock, uint16_t(size), aSegment);
    aAllocated = uint16_t(size);
    uint32_t left = size;
    for (size_t i = 0; i < aItems.size() && i < aSizes.size() && left > 0; ++i) {
      const uint32_t k = std::min(left, aSizes[i]);
      if (aItems[i]) std::memmove(d, aItems[i], k);
      d += k;
      left -= k;
    }
    return int64_t((uint64_t(home) << 32) | aSegment);
  }
  // Elsewhere: the listed block with the most room, as a new segment would choose it, else a new
  // block; a size above the largest segment always takes a new block.
  TzfBlockNumber target = 0;
  uint64_t want = total;
  if (total <= max && !heByFreeSpace.empty()) {
    const auto [free, block] = *heByFreeSpace.rbegin();
    if (free >= aMinSize && (free >= total || !aExactOnly)) {
      target = block;
      want = std::min<uint64_t>(total, free);
    }
  }
  if (target == 0) {
    if (max < aMinSize) return 0;
    want = std::min<uint64_t>(total, max);
  }
  size = FitUnits(uint32_t(want), aHeaderSize, aUnit);
  if (size == 0 || size < aMinSize) return 0;
  TzfReleaseMethod rm;
  PzfBlock b = target ? ReadBlockHeap(aTrans, target, true, rm) : NewDataBlock(aTrans, rm);
  int64_t ref = 0;
  try {
    ZF_ASSERT(bheBlockHeapEngine->GetFreespace(b) >= size, kUnit);
    uint32_t slot = 0;
    uint8_t* d = bheBlockHeapEngine->AllocSegment(b, uint16_t(size), slot);
    ZF_ASSERT(d != nullptr, kUnit);
    ref = int64_t((uint64_t(zfGetThisBlock(b)) << 32) | slot);
    // The old segment is looked up after the allocation, which may have compacted its block.
    uint16_t oldSize = 0;
    const uint8_t* old = bheBlockHeapEngine->GetSegment(aBlock, aSegment, oldSize);
    uint32_t offset = 0;
    for (size_t i = 0; i < aItems.size() && i < aSizes.size() && offset < size; ++i) {
      const uint32_t k = std::min(size - offset, aSizes[i]);
      if (aItems[i]) std::memcpy(d + offset, aItems[i], k);
      else if (offset < oldSize) std::memcpy(d + offset, old + offset, std::min<uint32_t>(k, oldSize - offset));
      offset += k;
    }
    bheBlockHeapEngine->FreeSegment(aBlock, aSegment);
  } catch (...) {
    rm(b);
    throw;
  }
  rm(b);
  aAllocated = uint16_t(size);
  return ref;
}

uint16_t TzfCachedHeapEngine::GrowSegmentInPlace(TzfBaseTransaction* aTrans, int64_t aHeapRef, uint32_t aWantedSize,
                                                 uint16_t aHeaderSize, uint16_t aUnit) {
  uint16_t size = 0;
  PzfBlock b = nullptr;
  TzfReleaseMethod rm;
  GetSegment(aTrans, aHeapRef, true, size, b, rm);
  uint16_t result = size;
  try {
    const uint32_t room = std::min<uint32_t>(
        {aWantedSize, uint32_t(size) + bheBlockHeapEngine->GetFreespace(b), bheBlockHeapEngine->bbheMaxSegmentSize});
    const uint32_t target = FitUnits(room, aHeaderSize, aUnit);
    if (target > size &&
        bheBlockHeapEngine->ReAllocSegment(b, uint16_t(target), uint32_t(aHeapRef & 0xFFFFFFFF)))
      result = uint16_t(target);
  } catch (...) {
    rm(b);
    throw;
  }
  rm(b);
  return result;
}

rtl::UnicodeString TzfCachedHeapEngine::CheckDirectory(TzfBaseTransaction* aTrans) {
  LoadManagementBlocks(aTrans);
  for (const TManagement& m : heManagmentBlocks) {
    for (const TEntry& e : m.Entries) {
      TzfReleaseMethod rm;
      PzfBlock b = ReadBlockHeap(aTrans, e.Block, false, rm);
      const uint16_t actual = bheBlockHeapEngine->GetFreespace(b);
      const TzfHeapBlockCheck c = zfCheckHeapBlock(b, bheDataFile->BlockSizeBytes(), bheBlockHeapEngine->bheHeaderSize);
      rm(b);
      if (!c.Valid) return u"block " + rtl::IntToStr(e.Block) + u": " + c.Problem;
      if (actual != e.Free) return u"block " + rtl::IntToStr(e.Block) + u": recorded free space";
      if (actual < heCutoffSize) return u"block " + rtl::IntToStr(e.Block) + u": listed below the cutoff";
    }
  }
  return {};
}

}  // namespace zf
