// The field mapper engine family: an engine fills one target field of a target record buffer
// from a source record buffer, as one field mapper descriptor says.
//
// Engines are found by the descriptor's class name with "Descriptor" replaced by "Engine". The
// family also keeps the special-mapper table: per target field type at most one engine class that
// runs after the value was mapped (the auto-increment engine for AutoInc targets keeps the
// target table's counter in step).
#pragma once
#include <array>
#include <cstdint>
#include <memory>

#include "dictionary/zfsdDefaultValueEngine.h"
#include "dictionary/zfsdTypes.h"
#include "foundation/zfllRegisterableEngine.h"

namespace zf {

class TzfBaseFieldMapperEngine;
class TzfFieldMapperDescriptor;
class IzfMapperCursor;

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseFieldMapperEngineException, EzfBaseRegisterableEngineException)

// Class reference of field mapper engines: the virtual constructor.
struct TzfFieldMapperEngineClass : TzfRegisterableClass {
  using TCreate = std::unique_ptr<TzfBaseFieldMapperEngine> (*)(TzfFieldMapperDescriptor& aDescriptor,
                                                                 IzfMapperCursor& aSourceCursor,
                                                                 IzfMapperCursor& aTargetCursor);
  TzfFieldMapperEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TCreate aCreate,
                            TzfGetListProc aGetList = nullptr)
      : TzfRegisterableClass(aName, aParent, aGetList), Create(aCreate) {}
  TCreate Create;
};

class TzfBaseFieldMapperEngine : public TzfBaseRegisterableEngine {
 public:
  static const TzfFieldMapperEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // The engine of aDescriptor's class; none registered raises 15503 'Unknown %s engine: "%s"'
  // with "FieldMapper" and the engine class name sought. The caller owns the engine.
  static std::unique_ptr<TzfBaseFieldMapperEngine> CreateFor(TzfFieldMapperDescriptor& aDescriptor,
                                                             IzfMapperCursor& aSourceCursor,
                                                             IzfMapperCursor& aTargetCursor);

  // Once before the first record of a run.
  virtual void BeforeFirstRecord() = 0;
  // Before each commit of the run's transaction.
  virtual void BeforeCommit() = 0;
  // Fills the target field of the whole record buffer aTarget from the whole record buffer
  // aSource: 0, or an error code (10002: the value did not fit).
  virtual uint32_t MapField(const uint8_t* aSource, uint8_t* aTarget) = 0;

  // Enters aClass as the special engine of aFieldType; the same class again is allowed, another
  // one raises "A special Field Mapper has already been registered for this FieldType".
  static void RegisterSpecialMapper(const TzfFieldMapperEngineClass& aClass, TzfFieldType aFieldType);
  // Clears the entry when it holds aClass.
  static void UnregisterSpecialMapper(const TzfFieldMapperEngineClass& aClass, TzfFieldType aFieldType);
  static bool HasSpecialMapper(TzfFieldType aFieldType);
  // The special engine of aFieldType made with the three arguments, or nullptr.
  static std::unique_ptr<TzfBaseFieldMapperEngine> CreateSpecialMapper(TzfFieldType aFieldType,
                                                                       TzfFieldMapperDescriptor& aDescriptor,
                                                                       IzfMapperCursor& aSourceCursor,
                                                                       IzfMapperCursor& aTargetCursor);
};

}  // namespace zf
