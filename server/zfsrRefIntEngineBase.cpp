#include "server/zfsrRefIntEngineBase.h"

#include "dictionary/zfsdDataDictionaryRefInt.h"
#include "foundation/zfllErrors.h"

namespace zf {

const TzfRefIntegrityEngineClass& TzfBaseRefIntegrityEngine::ClassInfo() {
  static const TzfRefIntegrityEngineClass info(u"TzfBaseRefIntegrityEngine", &TzfBaseRegisterableEngine::ClassInfo(),
                                               nullptr, &zfFamilyList<TzfBaseRefIntegrityEngine>);
  return info;
}

std::unique_ptr<TzfBaseRefIntegrityEngine> TzfBaseRefIntegrityEngine::CreateFor(TzfBaseTableDescriptor* aDictionary,
                                                                                 TzfAbstractCursor* aCursor) {
  if (!aDictionary) return nullptr;
  return CreateFor(zfGetRefIntegrityDescriptor(aDictionary), aCursor);
}

std::unique_ptr<TzfBaseRefIntegrityEngine> TzfBaseRefIntegrityEngine::CreateFor(TzfRefIntegrityDescriptor* aDescriptor,
                                                                                 TzfAbstractCursor* aCursor) {
  if (!aDescriptor) return nullptr;
  const UnicodeString name = zfEngineNameForDescriptor(aDescriptor->ClassName());
  const auto* cls = zfFindEngineClass<TzfRefIntegrityEngineClass>(ClassInfo(), name);
  if (!cls || !cls->Create)
    throw EzfBaseRefIntegrityEngineException(zfErrSubEngineNotSupported, u"Unknown %s engine: \"%s\"",
                                             {UnicodeString(u"RefIntegrity"), name});
  return cls->Create(*aDescriptor, aCursor);
}

uint32_t TzfBaseRefIntegrityEngine::BeginAction(TzfEngineAction) { return 0; }
void TzfBaseRefIntegrityEngine::EndAction(TzfEngineAction) {}

}  // namespace zf
