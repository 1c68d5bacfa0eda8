#include "storage/zfsrRecordCompressionEngineBase.h"

#include "dictionary/zfsdTableDescriptor.h"
#include "foundation/zfllErrors.h"
#include "storage/zfseRecordCompressionEngineSmart.h"

namespace zf {

TzfBaseRecordCompressionEngine::TzfBaseRecordCompressionEngine(TzfBaseRecordCompressionDescriptor* aDescriptor,
                                                               TzfFieldsDescriptor* aFields, int32_t aTableVersion)
    : TzfBaseSubEngine(aDescriptor ? aDescriptor->diID : 0, aTableVersion),
      brceDescriptor(aDescriptor),
      brceFields(aFields) {}

const TzfRecordCompressionEngineClass& TzfBaseRecordCompressionEngine::ClassInfo() {
  static const TzfRecordCompressionEngineClass info(
      u"TzfBaseRecordCompressionEngine", &TzfBaseSubEngine::ClassInfo(), &zfFamilyList<TzfBaseRecordCompressionEngine>,
      &TzfBaseRecordCompressionEngine::CheckValidDescriptor, nullptr);
  return info;
}

const TzfRecordCompressionEngineClass& TzfNullRecordCompressionEngine::ClassInfo() {
  static const TzfRecordCompressionEngineClass info(
      u"TzfNullRecordCompressionEngine", &TzfBaseRecordCompressionEngine::ClassInfo(), nullptr, nullptr,
      [](TzfBaseRecordCompressionDescriptor* d, TzfFieldsDescriptor* f,
         int32_t v) -> std::unique_ptr<TzfBaseRecordCompressionEngine> {
        return std::make_unique<TzfNullRecordCompressionEngine>(d, f, v);
      });
  return info;
}

std::unique_ptr<TzfBaseRecordCompressionEngine> TzfBaseRecordCompressionEngine::CreateEngine(
    TzfBaseRecordCompressionDescriptor* aDescriptor, TzfFieldsDescriptor* aFields, int32_t aTableVersion) {
  if (!aDescriptor) return std::make_unique<TzfNullRecordCompressionEngine>(nullptr, aFields, aTableVersion);
  const TzfRecordCompressionEngineClass& c =
      zfFindSubEngine<TzfRecordCompressionEngineClass, EzfBaseRecordCompressionEngineException>(
          ClassInfo(), aDescriptor->brcdRecordCompressionEngine);
  if (!c.Create) {
    zfRaiseUnknownSubEngine<EzfBaseRecordCompressionEngineException>(ClassInfo(),
                                                                     aDescriptor->brcdRecordCompressionEngine);
  }
  return c.Create(aDescriptor, aFields, aTableVersion);
}

void TzfBaseRecordCompressionEngine::CheckValidBaseFromDescriptor(TzfBaseRecordCompressionDescriptor* aDescriptor) {
  if (!aDescriptor) return;
  zfFindSubEngine<TzfRecordCompressionEngineClass, EzfBaseRecordCompressionEngineException>(
      ClassInfo(), aDescriptor->brcdRecordCompressionEngine);
}

void TzfBaseRecordCompressionEngine::CheckValidDescriptor(TzfBaseTableDescriptor& aTable) {
  if (auto* hrd = dynamic_cast<TzfHeapRecordDescriptor*>(aTable.tdRecordDescriptor.get()))
    CheckValidBaseFromDescriptor(hrd->hrdRecordCompressionDescriptor.get());
}

void TzfNullRecordCompressionEngine::DecompressRecord(const uint8_t*, uint16_t, uint8_t*) {
  throw EzfNullRecordCompressionEngineException(
      zfErrNotSupported, u"DecompressRecord is not supported by TzfNullRecordCompressionEngine");
}

namespace {
void Init() {
  zfRegisterSubEngineBase(TzfBaseRecordCompressionEngine::ClassInfo());
  TzfBaseSubEngine::RegisterEngine(TzfNullRecordCompressionEngine::ClassInfo(), u"Null");
  TzfBaseSubEngine::RegisterEngine(TzfSmartRecordCompressionEngine::ClassInfo(), u"Smart");
}
void Fini() {
  TzfBaseSubEngine::UnregisterEngine(TzfSmartRecordCompressionEngine::ClassInfo());
  TzfBaseSubEngine::UnregisterEngine(TzfNullRecordCompressionEngine::ClassInfo());
  zfUnregisterSubEngineBase(TzfBaseRecordCompressionEngine::ClassInfo());
}
}  // namespace

rtl::TUnitInit& zfsrRecordCompressionEngineBaseUnit() {
  static rtl::TUnitInit unit("zfsrRecordCompressionEngineBase", &Init, &Fini);
  return unit;
}

}  // namespace zf
