#include "mapping/zfsdFieldMapperEngineBase.h"

#include <atomic>

#include "mapping/zfsdFieldMapperDescriptor.h"

namespace zf {

namespace {

// Written by unit starts and stops only; read by every engine creation.
std::array<std::atomic<const TzfFieldMapperEngineClass*>, zfFieldTypeCount> gSpecialMappers{};

std::atomic<const TzfFieldMapperEngineClass*>* SpecialEntry(TzfFieldType aFieldType) {
  if (!zfIsValidFieldType(aFieldType)) return nullptr;
  return &gSpecialMappers[static_cast<size_t>(aFieldType)];
}

}  // namespace

const TzfFieldMapperEngineClass& TzfBaseFieldMapperEngine::ClassInfo() {
  static const TzfFieldMapperEngineClass info(u"TzfBaseFieldMapperEngine", &TzfBaseRegisterableEngine::ClassInfo(),
                                              nullptr, &zfFamilyList<TzfBaseFieldMapperEngine>);
  return info;
}

std::unique_ptr<TzfBaseFieldMapperEngine> TzfBaseFieldMapperEngine::CreateFor(TzfFieldMapperDescriptor& aDescriptor,
                                                                              IzfMapperCursor& aSourceCursor,
                                                                              IzfMapperCursor& aTargetCursor) {
  const UnicodeString name = zfEngineNameForDescriptor(aDescriptor.ClassName());
  const auto* cls = zfFindEngineClass<TzfFieldMapperEngineClass>(ClassInfo(), name);
  if (!cls || !cls->Create)
    throw EzfBaseFieldMapperEngineException(zfErrSubEngineNotSupported, u"Unknown %s engine: \"%s\"",
                                            {UnicodeString(u"FieldMapper"), name});
  return cls->Create(aDescriptor, aSourceCursor, aTargetCursor);
}

void TzfBaseFieldMapperEngine::RegisterSpecialMapper(const TzfFieldMapperEngineClass& aClass, TzfFieldType aFieldType) {
  auto* entry = SpecialEntry(aFieldType);
  if (!entry) rtl::AssertionFailure("zfsdFieldMapperEngineBase", __LINE__);
  const TzfFieldMapperEngineClass* expected = nullptr;
  if (!entry->compare_exchange_strong(expected, &aClass) && expected != &aClass)
    throw EzfBaseFieldMapperEngineException(u"A special Field Mapper has already been registered for this FieldType");
}

void TzfBaseFieldMapperEngine::UnregisterSpecialMapper(const TzfFieldMapperEngineClass& aClass,
                                                       TzfFieldType aFieldType) {
  if (auto* entry = SpecialEntry(aFieldType)) {
    const TzfFieldMapperEngineClass* expected = &aClass;
    entry->compare_exchange_strong(expected, nullptr);
  }
}

bool TzfBaseFieldMapperEngine::HasSpecialMapper(TzfFieldType aFieldType) {
  auto* entry = SpecialEntry(aFieldType);
  return entry && entry->load() != nullptr;
}

std::unique_ptr<TzfBaseFieldMapperEngine> TzfBaseFieldMapperEngine::CreateSpecialMapper(
    TzfFieldType aFieldType, TzfFieldMapperDescriptor& aDescriptor, IzfMapperCursor& aSourceCursor,
    IzfMapperCursor& aTargetCursor) {
  auto* entry = SpecialEntry(aFieldType);
  const TzfFieldMapperEngineClass* cls = entry ? entry->load() : nullptr;
  if (!cls || !cls->Create) return nullptr;
  return cls->Create(aDescriptor, aSourceCursor, aTargetCursor);
}

}  // namespace zf
