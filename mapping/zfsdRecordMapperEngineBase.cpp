#include "mapping/zfsdRecordMapperEngineBase.h"

#include "mapping/zfsdRecordMapperDescriptor.h"

namespace zf {

const TzfRecordMapperEngineClass& TzfBaseRecordMapperEngine::ClassInfo() {
  static const TzfRecordMapperEngineClass info(u"TzfBaseRecordMapperEngine", &TzfBaseRegisterableEngine::ClassInfo(),
                                               nullptr, &zfFamilyList<TzfBaseRecordMapperEngine>);
  return info;
}

std::unique_ptr<TzfBaseRecordMapperEngine> TzfBaseRecordMapperEngine::CreateFor(
    TzfBaseRecordMapperDescriptor& aDescriptor, IzfMapperCursor& aSourceCursor, IzfMapperCursor& aTargetCursor) {
  const UnicodeString name = zfEngineNameForDescriptor(aDescriptor.ClassName());
  const auto* cls = zfFindEngineClass<TzfRecordMapperEngineClass>(ClassInfo(), name);
  if (!cls || !cls->Create)
    throw EzfBaseRecordMapperEngineException(zfErrSubEngineNotSupported, u"Unknown %s engine: \"%s\"",
                                             {UnicodeString(u"RecordMapper"), name});
  return cls->Create(aDescriptor, aSourceCursor, aTargetCursor);
}

}  // namespace zf
