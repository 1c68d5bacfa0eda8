#include "index/zfsrIndexBulkBuilder.h"

#include "foundation/zfllErrors.h"

namespace zf {

uint32_t TzfBulkBuilderHub::InsertKey(int64_t aRefNr, const uint8_t* aRecord) {
  for (auto& b : bbhBulkBuilders)
    if (const uint32_t r = b->InsertKey(aRefNr, aRecord); r != 0) return r;
  return 0;
}

uint32_t TzfBulkBuilderHub::Finalize() {
  for (auto& b : bbhBulkBuilders)
    if (const uint32_t r = b->Finalize(); r != 0) return r;
  return 0;
}

TzfBaseIndexBulkBuilder::TzfBaseIndexBulkBuilder(TzfIndexNodeStore& aTrans, TzfBaseIndexEngine& aIndexEngine)
    : bibbStore(aTrans), bibbIndexEngine(aIndexEngine), bibbKeyEngine(*aIndexEngine.bieKeyEngine) {
  if (aTrans.GetRootNode() != zfIndexNoBlock || aTrans.GetNodeCount() != 0 || aTrans.GetStoredKeyCount() != 0)
    throw EzfBaseIndexBulkBuilder(zfErrIndexNotEmpty, u"Index is not empty.");
}

TzfDefaultIndexBulkBuilder::TzfDefaultIndexBulkBuilder(TzfIndexNodeStore& aTrans, TzfBaseIndexEngine& aIndexEngine)
    : TzfBaseIndexBulkBuilder(aTrans, aIndexEngine), dibbKey(bibbKeyEngine.bkeKeyLength) {}

uint32_t TzfDefaultIndexBulkBuilder::InsertKey(int64_t aRefNr, const uint8_t* aRecord) {
  const uint32_t r = bibbKeyEngine.BuildKey(aRecord, dibbKey.data(), aRefNr, false);
  if (r == 1) return 0;
  if (r != 0) return r;
  if (!bibbIndexEngine.InsertKey(bibbStore, dibbKey.data(), aRefNr, nullptr))
    return bibbIndexEngine.GetKeyError(etInsert, dibbKey.data(), aRefNr);
  return 0;
}

std::unique_ptr<TzfBaseBulkBuilder> TzfBaseIndexEngine::CreateBulkBuilder(TzfIndexNodeStore& aTrans) {
  return std::make_unique<TzfDefaultIndexBulkBuilder>(aTrans, *this);
}

const TzfIndexEngineClass& TzfBaseIndexEngine::KindInfo() {
  static const TzfIndexEngineClass info(u"TzfBaseIndexEngine", &TzfBaseSubEngine::ClassInfo(),
                                        &zfFamilyList<TzfBaseIndexEngine>, nullptr);
  return info;
}

std::unique_ptr<TzfBaseIndexEngine> TzfBaseIndexEngine::CreateEngine(const UnicodeString& aName,
                                                                     const TzfIndexEngineParams& aParams,
                                                                     std::unique_ptr<TzfBaseKeyEngine> aKeyEngine,
                                                                     uint32_t aUsableBlockSize) {
  const auto& c = zfFindSubEngine<TzfIndexEngineClass, EzfBaseIndexEngineException>(KindInfo(), aName);
  if (!c.Create) zfRaiseUnknownSubEngine<EzfBaseIndexEngineException>(KindInfo(), aName);
  return c.Create(aParams, std::move(aKeyEngine), aUsableBlockSize);
}

void TzfBaseIndexEngine::CheckValidBaseFromDescriptor(TzfIndexDescriptor& aDescriptor) {
  const auto& c =
      zfFindSubEngine<TzfIndexEngineClass, EzfBaseIndexEngineException>(KindInfo(), aDescriptor.idIndexEngine);
  (c.CheckValidFromDescriptor ? c.CheckValidFromDescriptor : &CheckValidFromDescriptor)(aDescriptor);
}

void TzfBaseIndexEngine::CheckValidFromDescriptor(TzfIndexDescriptor& aDescriptor) {
  if (aDescriptor.idKeyDescriptor) TzfBaseKeyEngine::CheckValidBaseFromDescriptor(*aDescriptor.idKeyDescriptor);
}

}  // namespace zf
