// The auto-increment engine "zf1xDefault": the last value handed out, one unsigned 32-bit word in
// a 4-byte header section (named by the descriptor) of the descriptor's file.
//
// Values are handed out from the initial value on in steps (a plain descriptor: both 1). When the
// table is created the section holds "initial value minus step" (modulo 2^32), so that the first
// value handed out is the initial value. The counter is exhausted when the next value would pass
// 0xFFFFFFFF (9731 "Maximum AutoInc value has been reached", nothing stored).
//
// A counter whose initial value is smaller than its step starts below 0 (modulo 2^32 a value near
// 0xFFFFFFFF): as long as the stored value is that start value, the next value is the initial
// value, not an exhausted counter. Once a value was handed out (or set) the ordinary rule applies.
#pragma once
#include <cstdint>

#include "storage/zfsrAutoIncEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfseAutoIncEngineException, EzfBaseAutoIncEngineException)

class TzfSimpleAutoIncEngine : public TzfBaseAutoIncEngine {
 public:
  // Initial value and step from a TzfAdvAutoIncDescriptor, else 1 and 1. With aTrans (table being
  // created) creates the section and stores initial value minus step; without, looks it up.
  TzfSimpleAutoIncEngine(TzfBaseAutoIncDescriptor* aDescriptor, TzfBaseTransaction* aTrans,
                         const TzfBlockAccessList& aFiles);

  static const TzfAutoIncEngineClass& ClassInfo();
  const TzfAutoIncEngineClass& ClassType() const override { return ClassInfo(); }

  uint32_t NextAutoIncValue(TzfBaseTransaction* aTrans) override;
  uint32_t ReadAutoIncValue(TzfBaseTransaction* aTrans) override;
  void SetAutoIncValue(TzfBaseTransaction* aTrans, uint32_t aValue) override;

  uint16_t aieHeaderSection = 0;
  uint32_t aieInitialValue = 1;
  uint32_t aieStep = 1;
};

rtl::TUnitInit& zfseAutoIncEngineSimpleUnit();

}  // namespace zf
