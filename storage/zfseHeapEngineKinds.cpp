#include "storage/zfseHeapEngineKinds.h"

#include "dictionary/zfsdStorageDescriptor.h"

namespace zf {

// ---- block heap kind ----

TzfNonfragmentingBlockHeapKind::TzfNonfragmentingBlockHeapKind(TzfBaseBlockHeapDescriptor* aDescriptor,
                                                               uint32_t aBlockSize, uint16_t aHeaderSize,
                                                               int32_t aTableVersion)
    : TzfBaseBlockHeapEngine(aDescriptor, aBlockSize, aHeaderSize, aTableVersion), bhkInner(aBlockSize, aHeaderSize) {
  bbheMaxSegmentSize = bhkInner.bbheMaxSegmentSize;
  bhkInner.bbheOnChanged = [this](PzfBlock b, uint16_t n, uint16_t f, uint16_t r) { DoChanged(b, n, f, r); };
}

const TzfBlockHeapEngineClass& TzfNonfragmentingBlockHeapKind::ClassInfo() {
  static const TzfBlockHeapEngineClass info(
      u"TzfNonfragmentingBlockHeapEngine", &TzfBaseBlockHeapEngine::ClassInfo(), nullptr,
      [](TzfBaseBlockHeapDescriptor* d, uint32_t s, uint16_t h, int32_t v) -> std::unique_ptr<TzfBaseBlockHeapEngine> {
        return std::make_unique<TzfNonfragmentingBlockHeapKind>(d, s, h, v);
      });
  return info;
}

void TzfNonfragmentingBlockHeapKind::InitBlock(PzfBlock aBlock) { bhkInner.InitBlock(aBlock); }
PzfByteArray TzfNonfragmentingBlockHeapKind::AllocSegment(PzfBlock aBlock, uint16_t aSegmentSize, uint32_t& aSegment) {
  return bhkInner.AllocSegment(aBlock, aSegmentSize, aSegment);
}
PzfByteArray TzfNonfragmentingBlockHeapKind::ReAllocSegment(PzfBlock aBlock, uint16_t aNewSegmentSize,
                                                            uint32_t aSegment) {
  return bhkInner.ReAllocSegment(aBlock, aNewSegmentSize, aSegment);
}
void TzfNonfragmentingBlockHeapKind::FreeSegment(PzfBlock aBlock, uint32_t aSegment) {
  bhkInner.FreeSegment(aBlock, aSegment);
}
PzfByteArray TzfNonfragmentingBlockHeapKind::GetSegment(PzfBlock aBlock, uint32_t aSegment, uint16_t& aSegmentSize) {
  return bhkInner.GetSegment(aBlock, aSegment, aSegmentSize);
}
PzfByteArray TzfNonfragmentingBlockHeapKind::GetNextSegment(PzfBlock aBlock, uint32_t& aSegment,
                                                            uint16_t& aSegmentSize) {
  return bhkInner.GetNextSegment(aBlock, aSegment, aSegmentSize);
}
PzfByteArray TzfNonfragmentingBlockHeapKind::GetPrevSegment(PzfBlock aBlock, uint32_t& aSegment,
                                                            uint16_t& aSegmentSize) {
  return bhkInner.GetPrevSegment(aBlock, aSegment, aSegmentSize);
}
uint16_t TzfNonfragmentingBlockHeapKind::GetFreespace(PzfBlock aBlock) { return bhkInner.GetFreespace(aBlock); }

// ---- heap kind ----

namespace {
// The cached heap's handler: every question goes to the user's handler kept by the kind.
class TForwardingHeaderHandler : public TzfHeapHeaderHandler {
 public:
  explicit TForwardingHeaderHandler(TzfHeapHeaderHandler& aTarget) : FTarget(aTarget) {}
  void DataBlockAdded(TzfBaseTransaction* aTrans, TzfBaseFileHeaderAccess* aHeader, PzfBlock aBlock) override {
    FTarget.DataBlockAdded(aTrans, aHeader, aBlock);
  }
  void DataBlockRemoved(TzfBaseTransaction* aTrans, TzfBaseFileHeaderAccess* aHeader, PzfBlock aBlock) override {
    FTarget.DataBlockRemoved(aTrans, aHeader, aBlock);
  }
  uint16_t HeaderSize() override { return FTarget.HeaderSize(); }
  uint32_t GetFirstManagementBlock(TzfBaseFileHeaderAccess* aHeader) override {
    return FTarget.GetFirstManagementBlock(aHeader);
  }
  void SetFirstManagementBlock(TzfBaseFileHeaderAccess* aHeader, uint32_t aBlock) override {
    FTarget.SetFirstManagementBlock(aHeader, aBlock);
  }

 private:
  TzfHeapHeaderHandler& FTarget;
};
}  // namespace

TzfCachedHeapKind::TzfCachedHeapKind(TzfBaseHeapDescriptor* aDescriptor, TzfBlockAccess* aDataFile,
                                     std::unique_ptr<TzfHeapHeaderHandler> aHeaderHandler)
    : TzfBaseHeapEngine(aDescriptor, aDataFile, std::move(aHeaderHandler)) {
  // A descriptor not yet checked may lack its block heap descriptor: the check would add the
  // default one, so the default block heap stands in for it.
  if (!bheBlockHeapEngine) {
    bheBlockHeapEngine = std::make_unique<TzfNonfragmentingBlockHeapKind>(nullptr, aDataFile->BlockSizeBytes(),
                                                                          bheHeaderHandler->HeaderSize(),
                                                                          bseTableVersion);
    bheBlockHeapEngine->bbheOnChanged = [this](PzfBlock b, uint16_t n, uint16_t f, uint16_t r) {
      BlockHeapChanged(b, n, f, r);
    };
  }
  hkCached = std::make_unique<TzfCachedHeapEngine>(bseID, aDataFile,
                                                   std::make_unique<TForwardingHeaderHandler>(*bheHeaderHandler));
  bheHeaderHandler->hhhEngine = hkCached.get();
}

TzfCachedHeapKind::~TzfCachedHeapKind() = default;

const TzfHeapEngineClass& TzfCachedHeapKind::ClassInfo() {
  static const TzfHeapEngineClass info(
      u"TzfCachedHeapEngine", &TzfBaseHeapEngine::ClassInfo(), nullptr,
      [](TzfBaseHeapDescriptor* d, TzfBlockAccess* f,
         std::unique_ptr<TzfHeapHeaderHandler> h) -> std::unique_ptr<TzfBaseHeapEngine> {
        return std::make_unique<TzfCachedHeapKind>(d, f, std::move(h));
      });
  return info;
}

void TzfCachedHeapKind::BlockHeapChanged(PzfBlock aBlock, uint16_t aSegmentCount, uint16_t aFreeSpaceSize,
                                         uint16_t aRecoverableSpace) {
  hkCached->BlockHeapChanged(aBlock, aSegmentCount, aFreeSpaceSize, aRecoverableSpace);
}

int64_t TzfCachedHeapKind::AllocSegment(TzfBaseTransaction* aTrans, const std::vector<const void*>& aItems,
                                        const std::vector<uint16_t>& aSizes) {
  std::vector<TzfSegmentPart> parts;
  for (size_t i = 0; i < aItems.size() && i < aSizes.size(); ++i)
    parts.push_back({static_cast<const uint8_t*>(aItems[i]), aSizes[i]});
  return hkCached->AllocSegment(aTrans, parts);
}

int64_t TzfCachedHeapKind::AllocSegmentEx(TzfBaseTransaction* aTrans, const std::vector<const void*>& aItems,
                                          const std::vector<uint32_t>& aSizes, uint16_t aMinSize,
                                          uint16_t& aAllocated, uint16_t aHeaderSize, uint16_t aUnit,
                                          bool aExactOnly) {
  return hkCached->AllocSegmentEx(aTrans, aItems, aSizes, aMinSize, aAllocated, aHeaderSize, aUnit, aExactOnly);
}

int64_t TzfCachedHeapKind::ReAllocSegmentEx(TzfBaseTransaction* aTrans, PzfBlock aBlock, uint32_t aSegment,
                                            const std::vector<const void*>& aItems,
                                            const std::vector<uint32_t>& aSizes, uint16_t aMinSize,
                                            uint16_t& aAllocated, uint16_t aHeaderSize, uint16_t aUnit,
                                            bool aExactOnly) {
  return hkCached->ReAllocSegmentEx(aTrans, aBlock, aSegment, aItems, aSizes, aMinSize, aAllocated, aHeaderSize,
                                    aUnit, aExactOnly);
}

uint16_t TzfCachedHeapKind::GrowSegmentInPlace(TzfBaseTransaction* aTrans, int64_t aHeapRef, uint32_t aWantedSize,
                                               uint16_t aHeaderSize, uint16_t aUnit) {
  return hkCached->GrowSegmentInPlace(aTrans, aHeapRef, aWantedSize, aHeaderSize, aUnit);
}

PzfByteArray TzfCachedHeapKind::GetSegment(TzfBaseTransaction* aTrans, int64_t aHeapRef, bool aMarkDirty,
                                           uint16_t& aSegmentSize, PzfBlock& aBlock,
                                           TzfReleaseMethod& aReleaseMethod) {
  return hkCached->GetSegment(aTrans, aHeapRef, aMarkDirty, aSegmentSize, aBlock, aReleaseMethod);
}

PzfBlock TzfCachedHeapKind::ReadBlockHeap(TzfBaseTransaction* aTrans, TzfBlockNumber aBlockNumber, bool aMarkDirty,
                                          TzfReleaseMethod& aReleaseMethod) {
  return hkCached->ReadBlockHeap(aTrans, aBlockNumber, aMarkDirty, aReleaseMethod);
}

void TzfCachedHeapKind::Rollback(TzfBaseTransaction* aTrans) { hkCached->Rollback(aTrans); }

namespace {
void Init() {
  TzfBaseSubEngine::RegisterEngine(TzfNonfragmentingBlockHeapKind::ClassInfo(), zfDefaultEngineName);
  TzfBaseSubEngine::RegisterEngine(TzfCachedHeapKind::ClassInfo(), zfDefaultEngineName);
}
void Fini() {
  TzfBaseSubEngine::UnregisterEngine(TzfCachedHeapKind::ClassInfo());
  TzfBaseSubEngine::UnregisterEngine(TzfNonfragmentingBlockHeapKind::ClassInfo());
}
}  // namespace

rtl::TUnitInit& zfseHeapEngineKindsUnit() {
  static rtl::TUnitInit unit("zfseHeapEngineKinds", &Init, &Fini);
  return unit;
}

}  // namespace zf
