// The default engines of the heap kinds, both registered as "zf1xDefault" (the name the
// dictionary's heap and block heap descriptors carry by default):
//
// - `TzfNonfragmentingBlockHeapKind` (block heap kind) hands every call to a
//   `TzfNonfragmentingBlockHeapEngine` and passes its change reports on through the kind's event.
// - `TzfCachedHeapKind` (heap kind) hands every call to a `TzfCachedHeapEngine`. The cached heap
//   keeps its free-space directory from the change reports of the block heap; the kind's own block
//   heap (the one its users call on a segment's block) reports to the kind, which passes the
//   report on to the cached heap, so changes made by either reach the directory. The user's
//   header handler stays with the kind; the cached heap reaches it through a forwarding handler.
#pragma once
#include <memory>

#include "storage/zfseBlockHeapEngineNonfragmenting.h"
#include "storage/zfseHeapEngineCached.h"
#include "storage/zfsrHeapEngineBase.h"

namespace zf {

class TzfNonfragmentingBlockHeapKind : public TzfBaseBlockHeapEngine {
 public:
  TzfNonfragmentingBlockHeapKind(TzfBaseBlockHeapDescriptor* aDescriptor, uint32_t aBlockSize, uint16_t aHeaderSize,
                                 int32_t aTableVersion);
  static const TzfBlockHeapEngineClass& ClassInfo();
  const TzfBlockHeapEngineClass& ClassType() const override { return ClassInfo(); }

  void InitBlock(PzfBlock aBlock) override;
  PzfByteArray AllocSegment(PzfBlock aBlock, uint16_t aSegmentSize, uint32_t& aSegment) override;
  PzfByteArray ReAllocSegment(PzfBlock aBlock, uint16_t aNewSegmentSize, uint32_t aSegment) override;
  void FreeSegment(PzfBlock aBlock, uint32_t aSegment) override;
  PzfByteArray GetSegment(PzfBlock aBlock, uint32_t aSegment, uint16_t& aSegmentSize) override;
  PzfByteArray GetNextSegment(PzfBlock aBlock, uint32_t& aSegment, uint16_t& aSegmentSize) override;
  PzfByteArray GetPrevSegment(PzfBlock aBlock, uint32_t& aSegment, uint16_t& aSegmentSize) override;
  uint16_t GetFreespace(PzfBlock aBlock) override;

  TzfNonfragmentingBlockHeapEngine bhkInner;
};

class TzfCachedHeapKind : public TzfBaseHeapEngine {
 public:
  TzfCachedHeapKind(TzfBaseHeapDescriptor* aDescriptor, TzfBlockAccess* aDataFile,
                    std::unique_ptr<TzfHeapHeaderHandler> aHeaderHandler);
  ~TzfCachedHeapKind() override;
  static const TzfHeapEngineClass& ClassInfo();
  const TzfHeapEngineClass& ClassType() const override { return ClassInfo(); }

  void BlockHeapChanged(PzfBlock aBlock, uint16_t aSegmentCount, uint16_t aFreeSpaceSize,
                        uint16_t aRecoverableSpace) override;
  int64_t AllocSegment(TzfBaseTransaction* aTrans, const std::vector<const void*>& aItems,
                       const std::vector<uint16_t>& aSizes) override;
  int64_t AllocSegmentEx(TzfBaseTransaction* aTrans, const std::vector<const void*>& aItems,
                         const std::vector<uint32_t>& aSizes, uint16_t aMinSize, uint16_t& aAllocated,
                         uint16_t aHeaderSize, uint16_t aUnit, bool aExactOnly) override;
  int64_t ReAllocSegmentEx(TzfBaseTransaction* aTrans, PzfBlock aBlock, uint32_t aSegment,
                           const std::vector<const void*>& aItems, const std::vector<uint32_t>& aSizes,
                           uint16_t aMinSize, uint16_t& aAllocated, uint16_t aHeaderSize, uint16_t aUnit,
                           bool aExactOnly) override;
  uint16_t GrowSegmentInPlace(TzfBaseTransaction* aTrans, int64_t aHeapRef, uint32_t aWantedSize,
                              uint16_t aHeaderSize, uint16_t aUnit) override;
  PzfByteArray GetSegment(TzfBaseTransaction* aTrans, int64_t aHeapRef, bool aMarkDirty, uint16_t& aSegmentSize,
                          PzfBlock& aBlock, TzfReleaseMethod& aReleaseMethod) override;
  PzfBlock ReadBlockHeap(TzfBaseTransaction* aTrans, TzfBlockNumber aBlockNumber, bool aMarkDirty,
                         TzfReleaseMethod& aReleaseMethod) override;
  void Rollback(TzfBaseTransaction* aTrans) override;
  TzfBlockSignature SigDataBlock() override { return TzfCachedHeapEngine::SigDataBlock(); }

  // The cached heap doing the work.
  TzfCachedHeapEngine& Cached() { return *hkCached; }

 private:
  std::unique_ptr<TzfCachedHeapEngine> hkCached;
};

rtl::TUnitInit& zfseHeapEngineKindsUnit();

}  // namespace zf
