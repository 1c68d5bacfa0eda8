// The special field mapper engine of AutoInc targets: after the value was mapped it keeps the
// target table's auto-increment counter in step with the values stored, and numbers NULL targets
// when the mapping applies defaults.
//
//   BeforeFirstRecord  high := the source table's counter (with a source); target counter := high
//   MapField           NULL target, applying defaults: high + 1 stored in the field and the
//                      target counter; a value above high (unsigned) raises high and the counter
//   BeforeCommit       high := max(source counter, high) (with a source); target counter := high
//
// The counter cannot pass 4294967295: numbering beyond it raises EIntOverflow.
#pragma once
#include <cstdint>

#include "mapping/zfsrFieldMapperEngine.h"

namespace zf {

class TzfFieldMapperEngineAutoInc : public TzfBaseFieldMapperEngine {
 public:
  static const TzfFieldMapperEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // Keeps the source cursor only when the mapping has a source; a missing target field raises
  // 10038.
  TzfFieldMapperEngineAutoInc(TzfFieldMapperDescriptor& aDescriptor, IzfMapperCursor& aSourceCursor,
                              IzfMapperCursor& aTargetCursor);

  void BeforeFirstRecord() override;
  void BeforeCommit() override;
  // Always 0.
  uint32_t MapField(const uint8_t* aSource, uint8_t* aTarget) override;

  IzfMapperCursor* fmeaSourceCursor = nullptr;
  IzfMapperCursor* fmeaTargetCursor;
  TzfFieldsDescriptor* fmeaTargetFieldsDescriptor;
  int32_t fmeaTargetFieldNumber;
  bool fmeaApplyToNull;
  uint32_t fmeaHighAutoInc = 0;
};

// Enters the engine as the special engine of zftAutoInc (unit start) and removes it (unit stop).
rtl::TUnitInit& zfsrFieldMapperEngineAutoIncUnit();

}  // namespace zf
