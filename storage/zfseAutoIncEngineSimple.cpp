#include "storage/zfseAutoIncEngineSimple.h"

#include <memory>

#include "storage/zfsrFile.h"

namespace zf {

TzfSimpleAutoIncEngine::TzfSimpleAutoIncEngine(TzfBaseAutoIncDescriptor* aDescriptor, TzfBaseTransaction* aTrans,
                                               const TzfBlockAccessList& aFiles)
    : TzfBaseAutoIncEngine(aDescriptor, aTrans, aFiles) {
  if (auto* adv = dynamic_cast<TzfAdvAutoIncDescriptor*>(aDescriptor)) {
    aieInitialValue = adv->aaidInitialValue;
    aieStep = adv->aaidStep;
  }
  // A step of 0 would hand out one value forever; the descriptor refuses it, a damaged one too.
  if (aieStep == 0) throw EzfseAutoIncEngineException(zfErrInvalidDesc, u"The AutoInc step must be at least 1");
  const std::string name = aDescriptor ? aDescriptor->baidHeaderSection : std::string("AutoInc");
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(baieDataFile->HeaderAccess(aTrans, aTrans != nullptr));
  aieHeaderSection = ha->RegisterHeaderSection(name, 4, aTrans != nullptr, false);
  if (aTrans) zfPutLE32(ha->Header + aieHeaderSection, aieInitialValue - aieStep);
}

const TzfAutoIncEngineClass& TzfSimpleAutoIncEngine::ClassInfo() {
  static const TzfAutoIncEngineClass info(
      u"TzfSimpleAutoIncEngine", &TzfBaseAutoIncEngine::ClassInfo(), nullptr, nullptr,
      [](TzfBaseAutoIncDescriptor* d, TzfBaseTransaction* t,
         const TzfBlockAccessList& f) -> std::unique_ptr<TzfBaseAutoIncEngine> {
        return std::make_unique<TzfSimpleAutoIncEngine>(d, t, f);
      });
  return info;
}

uint32_t TzfSimpleAutoIncEngine::NextAutoIncValue(TzfBaseTransaction* aTrans) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(baieDataFile->HeaderAccess(aTrans, true));
  uint8_t* word = ha->Header + aieHeaderSection;
  const uint32_t v = zfGetLE32(word);
  // The start value of a counter whose initial value is below its step wraps below 0.
  if (aieInitialValue < aieStep && v == aieInitialValue - aieStep) {
    zfPutLE32(word, aieInitialValue);
    return aieInitialValue;
  }
  if (v > 0xFFFFFFFFu - aieStep)
    throw EzfseAutoIncEngineException(zfErrMaxValErr, u"Maximum AutoInc value has been reached");
  zfPutLE32(word, v + aieStep);
  return v + aieStep;
}

uint32_t TzfSimpleAutoIncEngine::ReadAutoIncValue(TzfBaseTransaction* aTrans) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(baieDataFile->HeaderAccess(aTrans, false));
  return zfGetLE32(ha->Header + aieHeaderSection);
}

void TzfSimpleAutoIncEngine::SetAutoIncValue(TzfBaseTransaction* aTrans, uint32_t aValue) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(baieDataFile->HeaderAccess(aTrans, true));
  zfPutLE32(ha->Header + aieHeaderSection, aValue);
}

namespace {
void Init() { TzfBaseSubEngine::RegisterEngine(TzfSimpleAutoIncEngine::ClassInfo(), zfDefaultEngineName); }
void Fini() { TzfBaseSubEngine::UnregisterEngine(TzfSimpleAutoIncEngine::ClassInfo()); }
}  // namespace

rtl::TUnitInit& zfseAutoIncEngineSimpleUnit() {
  static rtl::TUnitInit unit("zfseAutoIncEngineSimple", &Init, &Fini);
  return unit;
}

}  // namespace zf
