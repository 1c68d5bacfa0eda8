// The field mapper engine: fills one target field from one source field through the mapping
// method the matrix offers for the pair, applies the target's default value and runs the special
// engine of the target's type. A mapping without a source only applies the default.
//
// Outcome per record (whole record buffers):
//   no source, or a NULL source value   the default value, if any; else the target stays as it is
//   method answers 0                     the value, the target's null bit cleared
//   method answers 1, or any failure     the default value, else NULL; result 0
//     under dlaNull
//   other failures                       the code, with the field context appended to the
//                                        thread's last converted exception:
//                                          <text>
//                                          (empty line)
//                                          Source Field: [n] name - type
//                                          Target Field: [n] name - type
//                                          Source Value: value
#pragma once
#include <cstdint>
#include <memory>

#include "mapping/zfsdFieldMapperBase.h"
#include "mapping/zfsdFieldMapperEngineBase.h"

namespace zf {

class TzfFieldsDescriptor;
class TzfFieldDescriptor;

ZF_DECLARE_ENGINE_EXCEPTION(EzfFieldMapperEngineException, EzfBaseFieldMapperEngineException)

class TzfFieldMapperEngine : public TzfBaseFieldMapperEngine {
 public:
  static const TzfFieldMapperEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // Finds the target field (10038 "... not in target dictionary") and, with a source name, the
  // source field (10038 "... not in source dictionary") and its mapping method (none: 10002).
  TzfFieldMapperEngine(TzfFieldMapperDescriptor& aDescriptor, IzfMapperCursor& aSourceCursor,
                       IzfMapperCursor& aTargetCursor);
  ~TzfFieldMapperEngine() override;

  void BeforeFirstRecord() override;
  void BeforeCommit() override;
  uint32_t MapField(const uint8_t* aSource, uint8_t* aTarget) override;
  // For 10002 appends the field lines to the thread's last converted exception; other codes are
  // answered untouched.
  virtual uint32_t AddErrorContext(uint32_t aErrorCode, const uint8_t* aSource);

  TzfFieldsDescriptor* fmeSourceFieldsDescriptor = nullptr;
  TzfFieldDescriptor* fmeSourceFieldDesc = nullptr;
  int32_t fmeSourceFieldNumber = -1;
  int32_t fmeSourceFieldOffset = 0;
  TzfFieldsDescriptor* fmeTargetFieldsDescriptor = nullptr;
  TzfFieldDescriptor* fmeTargetFieldDesc = nullptr;
  int32_t fmeTargetFieldNumber = -1;
  int32_t fmeTargetFieldOffset = 0;
  TzfDataLossAction fmeDataLossAction;
  TzfMappingMethod fmeFieldMapperMethod;
  std::unique_ptr<TzfBaseFieldMapper> fmeFieldMapper;
  std::unique_ptr<TzfBaseDefaultValueEngine> fmeDefaultValueEngine;
  std::unique_ptr<TzfBaseFieldMapperEngine> fmeSpecialMapperEngine;

 private:
  // Lets the default-value engine write the target field and sets its null bit from the answer;
  // without an engine nothing happens and False is answered.
  bool ApplyDefault(uint8_t* aTarget);
  rtl::UnicodeString SourceValueText(const uint8_t* aSource) const;
};

// Registers the field mapper engine (unit start) and removes it (unit stop).
rtl::TUnitInit& zfsrFieldMapperEngineUnit();

}  // namespace zf
