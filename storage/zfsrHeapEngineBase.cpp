#include "storage/zfsrHeapEngineBase.h"

#include "platform/rtl/rtlException.h"
#include "storage/zfsrFile.h"

namespace zf {

namespace {
constexpr const char* kUnit = "zfsrHeapEngineBase";
}  // namespace

// ---- block heap kind ----

TzfBaseBlockHeapEngine::TzfBaseBlockHeapEngine(TzfBaseBlockHeapDescriptor* aDescriptor, uint32_t aBlockSize,
                                               uint16_t aHeaderSize, int32_t aTableVersion)
    : TzfBaseSubEngine(aDescriptor ? aDescriptor->diID : 0, aTableVersion),
      bbheBlockSize(aBlockSize),
      bbheHeaderSize(aHeaderSize) {}

const TzfBlockHeapEngineClass& TzfBaseBlockHeapEngine::ClassInfo() {
  static const TzfBlockHeapEngineClass info(u"TzfBaseBlockHeapEngine", &TzfBaseSubEngine::ClassInfo(),
                                            &zfFamilyList<TzfBaseBlockHeapEngine>, nullptr);
  return info;
}

std::unique_ptr<TzfBaseBlockHeapEngine> TzfBaseBlockHeapEngine::CreateEngine(TzfBaseBlockHeapDescriptor* aDescriptor,
                                                                             uint32_t aBlockSize, uint16_t aHeaderSize,
                                                                             int32_t aTableVersion) {
  if (!aDescriptor) return nullptr;
  const auto& c = zfFindSubEngine<TzfBlockHeapEngineClass, EzfBaseBlockHeapEngineException>(
      ClassInfo(), aDescriptor->bbhdBlockHeapEngine);
  if (!c.Create) zfRaiseUnknownSubEngine<EzfBaseBlockHeapEngineException>(ClassInfo(), aDescriptor->bbhdBlockHeapEngine);
  return c.Create(aDescriptor, aBlockSize, aHeaderSize, aTableVersion);
}

void TzfBaseBlockHeapEngine::CheckValidBaseFromDescriptor(TzfBaseBlockHeapDescriptor* aDescriptor) {
  if (!aDescriptor) return;
  const auto& c = zfFindSubEngine<TzfBlockHeapEngineClass, EzfBaseBlockHeapEngineException>(
      ClassInfo(), aDescriptor->bbhdBlockHeapEngine);
  if (c.CheckValidEngineDescriptor) c.CheckValidEngineDescriptor(aDescriptor);
}

void TzfBaseBlockHeapEngine::DoChanged(PzfBlock aBlock, uint16_t aSegmentCount, uint16_t aFreeSpaceSize,
                                       uint16_t aRecoverableSpace) {
  if (bbheOnChanged) bbheOnChanged(aBlock, aSegmentCount, aFreeSpaceSize, aRecoverableSpace);
}

// ---- heap kind ----

TzfBaseHeapEngine::TzfBaseHeapEngine(TzfBaseHeapDescriptor* aDescriptor, TzfBlockAccess* aDataFile,
                                     std::unique_ptr<TzfHeapHeaderHandler> aHeaderHandler)
    : TzfBaseSubEngine(aDescriptor ? aDescriptor->diID : 0, aDataFile ? aDataFile->baFile->fiZofrinVersion : 0),
      bheDataFile(aDataFile),
      bheHeaderHandler(std::move(aHeaderHandler)) {
  ZF_ASSERT(aDataFile != nullptr, kUnit);
  ZF_ASSERT(bheHeaderHandler != nullptr, kUnit);
  bheHeaderHandler->hhhEngine = this;
  bheBlockHeapEngine = TzfBaseBlockHeapEngine::CreateEngine(aDescriptor ? aDescriptor->bhdBlockHeapDescriptor.get()
                                                                        : nullptr,
                                                            aDataFile->BlockSizeBytes(),
                                                            bheHeaderHandler->DataBlockHeaderSize(), bseTableVersion);
  if (bheBlockHeapEngine)
    bheBlockHeapEngine->bbheOnChanged = [this](PzfBlock b, uint16_t n, uint16_t f, uint16_t r) {
      BlockHeapChanged(b, n, f, r);
    };
}

TzfBaseHeapEngine::~TzfBaseHeapEngine() = default;

const TzfHeapEngineClass& TzfBaseHeapEngine::ClassInfo() {
  static const TzfHeapEngineClass info(u"TzfBaseHeapEngine", &TzfBaseSubEngine::ClassInfo(),
                                       &zfFamilyList<TzfBaseHeapEngine>, nullptr,
                                       &TzfBaseHeapEngine::CheckValidEngineDescriptor);
  return info;
}

std::unique_ptr<TzfBaseHeapEngine> TzfBaseHeapEngine::CreateEngine(TzfBaseHeapDescriptor* aDescriptor,
                                                                   TzfBlockAccess* aDataFile,
                                                                   std::unique_ptr<TzfHeapHeaderHandler> aHeaderHandler) {
  if (!aDescriptor) return nullptr;
  const auto& c =
      zfFindSubEngine<TzfHeapEngineClass, EzfBaseHeapEngineException>(ClassInfo(), aDescriptor->bhdHeapEngine);
  if (!c.Create) zfRaiseUnknownSubEngine<EzfBaseHeapEngineException>(ClassInfo(), aDescriptor->bhdHeapEngine);
  return c.Create(aDescriptor, aDataFile, std::move(aHeaderHandler));
}

void TzfBaseHeapEngine::CheckValidEngineDescriptor(TzfBaseHeapDescriptor* aDescriptor) {
  if (!aDescriptor->bhdBlockHeapDescriptor)
    throw EzfBaseHeapEngineException(zfErrInvalidDesc, u"A block heap descriptor is required");
  TzfBaseBlockHeapEngine::CheckValidBaseFromDescriptor(aDescriptor->bhdBlockHeapDescriptor.get());
}

void TzfBaseHeapEngine::CheckValidBaseFromDescriptor(TzfBaseHeapDescriptor* aDescriptor) {
  if (!aDescriptor) return;
  const auto& c =
      zfFindSubEngine<TzfHeapEngineClass, EzfBaseHeapEngineException>(ClassInfo(), aDescriptor->bhdHeapEngine);
  // A class without a check of its own inherits the nearest one up its class tree.
  for (const TzfRegisterableClass* k = &c; k; k = k->Parent)
    if (const auto* h = dynamic_cast<const TzfHeapEngineClass*>(k); h && h->CheckValidEngineDescriptor) {
      h->CheckValidEngineDescriptor(aDescriptor);
      return;
    }
}

void TzfBaseHeapEngine::BlockAdded(TzfBaseTransaction* aTrans, TzfBaseFileHeaderAccess* aHeaderAccess,
                                   PzfBlock aBlock) {
  bheHeaderHandler->BlockAdded(aTrans, aHeaderAccess, aBlock);
}

void TzfBaseHeapEngine::BlockRemoved(TzfBaseTransaction* aTrans, TzfBaseFileHeaderAccess* aHeaderAccess,
                                     PzfBlock aBlock) {
  bheHeaderHandler->BlockRemoved(aTrans, aHeaderAccess, aBlock);
}

uint32_t TzfBaseHeapEngine::GetFirstManagementBlock(TzfBaseFileHeaderAccess* aHeaderAccess) {
  return bheHeaderHandler->GetFirstManagementBlock(aHeaderAccess);
}

void TzfBaseHeapEngine::SetFirstManagementBlock(TzfBaseFileHeaderAccess* aHeaderAccess, uint32_t aValue) {
  bheHeaderHandler->SetFirstManagementBlock(aHeaderAccess, aValue);
}

namespace {
void Init() {
  zfRegisterSubEngineBase(TzfBaseBlockHeapEngine::ClassInfo());
  zfRegisterSubEngineBase(TzfBaseHeapEngine::ClassInfo());
}
void Fini() {
  zfUnregisterSubEngineBase(TzfBaseHeapEngine::ClassInfo());
  zfUnregisterSubEngineBase(TzfBaseBlockHeapEngine::ClassInfo());
}
}  // namespace

rtl::TUnitInit& zfsrHeapEngineBaseUnit() {
  static rtl::TUnitInit unit("zfsrHeapEngineBase", &Init, &Fini);
  return unit;
}

}  // namespace zf
