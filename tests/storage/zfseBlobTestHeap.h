// A heap engine for the BLOB engine tests and the BLOB fuzz target: the heap's blocks live in
// memory (block n at index n, 0 unused), their insides are managed by the non-fragmenting block
// heap through a block heap engine of the block heap kind. Registered as "TestMemHeap" and
// "TestMemBlockHeap" by zfRegisterTestHeap. Tests and the fuzz target reach the blocks directly to
// damage them.
#pragma once
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "storage/zfseBlockHeapEngineNonfragmenting.h"
#include "storage/zfsrHeapEngineBase.h"

namespace zf::test {

class TTestBlockHeap : public TzfBaseBlockHeapEngine {
 public:
  TTestBlockHeap(TzfBaseBlockHeapDescriptor* aDescriptor, uint32_t aBlockSize, uint16_t aHeaderSize,
                 int32_t aTableVersion)
      : TzfBaseBlockHeapEngine(aDescriptor, aBlockSize, aHeaderSize, aTableVersion), Inner(aBlockSize, aHeaderSize) {
    bbheMaxSegmentSize = Inner.bbheMaxSegmentSize;
    Inner.bbheOnChanged = [this](PzfBlock b, uint16_t n, uint16_t f, uint16_t r) { DoChanged(b, n, f, r); };
  }
  static const TzfBlockHeapEngineClass& ClassInfo() {
    static const TzfBlockHeapEngineClass info(
        u"TTestBlockHeap", &TzfBaseBlockHeapEngine::ClassInfo(), nullptr,
        [](TzfBaseBlockHeapDescriptor* d, uint32_t s, uint16_t h, int32_t v) -> std::unique_ptr<TzfBaseBlockHeapEngine> {
          return std::make_unique<TTestBlockHeap>(d, s, h, v);
        });
    return info;
  }
  const TzfBlockHeapEngineClass& ClassType() const override { return ClassInfo(); }

  void InitBlock(PzfBlock aBlock) override { Inner.InitBlock(aBlock); }
  PzfByteArray AllocSegment(PzfBlock aBlock, uint16_t aSize, uint32_t& aSegment) override {
    return Inner.AllocSegment(aBlock, aSize, aSegment);
  }
  PzfByteArray ReAllocSegment(PzfBlock aBlock, uint16_t aSize, uint32_t aSegment) override {
    return Inner.ReAllocSegment(aBlock, aSize, aSegment);
  }
  void FreeSegment(PzfBlock aBlock, uint32_t aSegment) override { Inner.FreeSegment(aBlock, aSegment); }
  PzfByteArray GetSegment(PzfBlock aBlock, uint32_t aSegment, uint16_t& aSize) override {
    return Inner.GetSegment(aBlock, aSegment, aSize);
  }
  PzfByteArray GetNextSegment(PzfBlock aBlock, uint32_t& aSegment, uint16_t& aSize) override {
    return Inner.GetNextSegment(aBlock, aSegment, aSize);
  }
  PzfByteArray GetPrevSegment(PzfBlock aBlock, uint32_t& aSegment, uint16_t& aSize) override {
    return Inner.GetPrevSegment(aBlock, aSegment, aSize);
  }
  uint16_t GetFreespace(PzfBlock aBlock) override { return Inner.GetFreespace(aBlock); }

  TzfNonfragmentingBlockHeapEngine Inner;
};

class TTestHeap : public TzfBaseHeapEngine {
 public:
  TTestHeap(TzfBaseHeapDescriptor* aDescriptor, TzfBlockAccess* aDataFile,
            std::unique_ptr<TzfHeapHeaderHandler> aHandler)
      : TzfBaseHeapEngine(aDescriptor, aDataFile, std::move(aHandler)) {
    Blocks.emplace_back();
  }
  static const TzfHeapEngineClass& ClassInfo() {
    static const TzfHeapEngineClass info(
        u"TTestHeap", &TzfBaseHeapEngine::ClassInfo(), nullptr,
        [](TzfBaseHeapDescriptor* d, TzfBlockAccess* f,
           std::unique_ptr<TzfHeapHeaderHandler> h) -> std::unique_ptr<TzfBaseHeapEngine> {
          return std::make_unique<TTestHeap>(d, f, std::move(h));
        });
    return info;
  }
  const TzfHeapEngineClass& ClassType() const override { return ClassInfo(); }

  uint32_t U() const { return bheBlockHeapEngine->bbheBlockSize; }
  uint16_t Max() const { return bheBlockHeapEngine->bbheMaxSegmentSize; }
  PzfBlock Block(TzfBlockNumber aNumber) {
    if (aNumber == 0 || aNumber >= Blocks.size())
      throw EzfBaseHeapEngineException(zfErrBlockNumberOutOfRange, u"No heap block %d", {aNumber});
    return Blocks[aNumber]->data();
  }
  TzfBlockNumber NewBlock() {
    Blocks.push_back(std::make_unique<std::vector<uint8_t>>(U(), 0));
    const TzfBlockNumber n = TzfBlockNumber(Blocks.size() - 1);
    PzfBlock b = Blocks.back()->data();
    zfSetBlockSignature(b, SigDataBlock());
    zfSetThisBlock(b, n);
    bheBlockHeapEngine->InitBlock(b);
    return n;
  }
  // Fills a segment from the pieces up to aSize bytes.
  static void Fill(uint8_t* aTo, uint32_t aSize, const std::vector<const void*>& aItems,
                   const std::vector<uint32_t>& aSizes) {
    for (size_t i = 0; i < aItems.size() && aSize > 0; ++i) {
      const uint32_t k = std::min(aSize, aSizes[i]);
      if (aItems[i]) std::memcpy(aTo, aItems[i], k);
      aTo += k;
      aSize -= k;
    }
  }
  static uint32_t Fit(uint32_t aValue, uint16_t aHeader, uint16_t aUnit) {
    if (aValue < aHeader) return 0;
    return aHeader + (aValue - aHeader) / aUnit * aUnit;
  }
  int64_t Place(uint32_t aSize, const std::vector<const void*>& aItems, const std::vector<uint32_t>& aSizes,
                TzfBlockNumber aBlock) {
    uint32_t slot = 0;
    PzfByteArray p = bheBlockHeapEngine->AllocSegment(Block(aBlock), uint16_t(aSize), slot);
    if (!p) return 0;
    Fill(p, aSize, aItems, aSizes);
    ++Allocations;
    return zfMakeHeapRef(aBlock, slot);
  }

  void BlockHeapChanged(PzfBlock, uint16_t, uint16_t, uint16_t) override {}
  int64_t AllocSegment(TzfBaseTransaction*, const std::vector<const void*>& aItems,
                       const std::vector<uint16_t>& aSizes) override {
    uint32_t total = 0;
    std::vector<uint32_t> sizes;
    for (uint16_t s : aSizes) {
      total += s;
      sizes.push_back(s);
    }
    if (total == 0) return 0;
    if (total > Max()) throw EzfBaseHeapEngineException(zfErrInvalidBlobLen, u"Segment too large");
    for (TzfBlockNumber b = TzfBlockNumber(Blocks.size() - 1); b >= 1; --b)
      if (bheBlockHeapEngine->GetFreespace(Block(b)) >= total)
        if (int64_t r = Place(total, aItems, sizes, b)) return r;
    return Place(total, aItems, sizes, NewBlock());
  }
  int64_t AllocSegmentEx(TzfBaseTransaction*, const std::vector<const void*>& aItems,
                         const std::vector<uint32_t>& aSizes, uint16_t aMinSize, uint16_t& aAllocated,
                         uint16_t aHeaderSize, uint16_t aUnit, bool aExactOnly) override {
    uint64_t sum = 0;
    for (uint32_t s : aSizes) sum += s;
    const uint32_t want = uint32_t(std::min<uint64_t>(sum, Max()));
    for (TzfBlockNumber b = TzfBlockNumber(Blocks.size() - 1); b >= 1; --b) {
      const uint32_t free = bheBlockHeapEngine->GetFreespace(Block(b));
      uint32_t size = 0;
      if (free >= sum)
        size = Fit(uint32_t(sum), aHeaderSize, aUnit);
      else if (!aExactOnly)
        size = Fit(std::min(free, want), aHeaderSize, aUnit);
      if (size >= aMinSize && size > 0)
        if (int64_t r = Place(size, aItems, aSizes, b)) {
          aAllocated = uint16_t(size);
          return r;
        }
    }
    const uint32_t size = std::max<uint32_t>(Fit(want, aHeaderSize, aUnit), aMinSize);
    aAllocated = uint16_t(size);
    return Place(size, aItems, aSizes, NewBlock());
  }
  // Moving re-allocation is not used through this heap.
  int64_t ReAllocSegmentEx(TzfBaseTransaction*, PzfBlock, uint32_t, const std::vector<const void*>&,
                           const std::vector<uint32_t>&, uint16_t, uint16_t&, uint16_t, uint16_t, bool) override {
    throw EzfBaseHeapEngineException(zfErrNotSupported, u"ReAllocSegmentEx is not supported by the test heap");
  }
  uint16_t GrowSegmentInPlace(TzfBaseTransaction*, int64_t aHeapRef, uint32_t aWantedSize, uint16_t aHeaderSize,
                              uint16_t aUnit) override {
    PzfBlock b = Block(zfHeapRefBlock(aHeapRef));
    uint16_t size = 0;
    bheBlockHeapEngine->GetSegment(b, zfHeapRefSegment(aHeapRef), size);
    const uint32_t room = std::min<uint32_t>({aWantedSize, uint32_t(size) + bheBlockHeapEngine->GetFreespace(b),
                                              Max(), 0xFFFF});
    const uint32_t target = Fit(room, aHeaderSize, aUnit);
    if (target <= size) return size;
    if (!bheBlockHeapEngine->ReAllocSegment(b, uint16_t(target), zfHeapRefSegment(aHeapRef))) return size;
    return uint16_t(target);
  }
  PzfByteArray GetSegment(TzfBaseTransaction*, int64_t aHeapRef, bool, uint16_t& aSegmentSize, PzfBlock& aBlock,
                          TzfReleaseMethod& aReleaseMethod) override {
    aReleaseMethod = {};
    aBlock = Block(zfHeapRefBlock(aHeapRef));
    return bheBlockHeapEngine->GetSegment(aBlock, zfHeapRefSegment(aHeapRef), aSegmentSize);
  }
  PzfBlock ReadBlockHeap(TzfBaseTransaction*, TzfBlockNumber aBlockNumber, bool,
                         TzfReleaseMethod& aReleaseMethod) override {
    aReleaseMethod = {};
    return Block(aBlockNumber);
  }
  void Rollback(TzfBaseTransaction*) override {}
  TzfBlockSignature SigDataBlock() override { return {'Z', 'F', 'H', 'D'}; }

  // Live segments over all blocks.
  size_t LiveSegments() {
    size_t n = 0;
    for (size_t b = 1; b < Blocks.size(); ++b) {
      uint32_t slot = 0;
      uint16_t size = 0;
      while (bheBlockHeapEngine->GetNextSegment(Blocks[b]->data(), slot, size)) ++n;
    }
    return n;
  }

  std::vector<std::unique_ptr<std::vector<uint8_t>>> Blocks;
  int Allocations = 0;
};

inline void zfRegisterTestHeap() {
  TzfBaseSubEngine::RegisterEngine(TTestBlockHeap::ClassInfo(), u"TestMemBlockHeap");
  TzfBaseSubEngine::RegisterEngine(TTestHeap::ClassInfo(), u"TestMemHeap");
}
inline void zfUnregisterTestHeap() {
  TzfBaseSubEngine::UnregisterEngine(TTestHeap::ClassInfo());
  TzfBaseSubEngine::UnregisterEngine(TTestBlockHeap::ClassInfo());
}

}  // namespace zf::test
