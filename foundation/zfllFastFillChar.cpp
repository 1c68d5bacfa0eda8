#include "foundation/zfllFastFillChar.h"

#include <cstring>

namespace zf {

namespace {

// The C library's fill already picks the widest stores of the processor and streams large fills
// past the cache, which is what every family of the table aims at; so each family uses it.
void LibraryFill(void* aDest, int32_t aCount, uint8_t aValue) {
  if (aCount > 0) std::memset(aDest, aValue, static_cast<size_t>(aCount));
}

}  // namespace

TzfFillCharProc zfFastFillChar = LibraryFill;

TzfFillVariant zfFillVariantFor(TzfCpuTarget aTarget) {
  switch (aTarget) {
    case cptIA32: return fvIA32;
    case cptMMX: case cptAmdFamily6: return fvMMX;
    case cptIntelFamily6: case cptIntelFamily6M: return fvP6MMX;
    case cptIntelFamily15: case cptIntelFamily15SSE3: case cptIntelFamily15X64: return fvSSE2;
    case cptAmdFamily6SSE: return fvSSE;
    case cptAmdFamily15: case cptAmdFamily15SSE3: return fvSSE2Amd;
  }
  return fvIA32;
}

TzfFillCharProc zfFillRoutine(TzfFillVariant) { return LibraryFill; }

namespace {

void InitFill() {
  zfllFastCpuDetectUnit().Initialize();
  const TzfFillCharProc r = zfFillRoutine(zfFillVariantFor(zfCpuDetection().Target));
  if (zfFastFillChar != r) zfFastFillChar = r;  // set once, before other threads run
}

void FiniFill() { zfllFastCpuDetectUnit().Finalize(); }

}  // namespace

rtl::TUnitInit& zfllFastFillCharUnit() {
  static rtl::TUnitInit unit("zfllFastFillChar", InitFill, FiniFill);
  return unit;
}

}  // namespace zf
