// zfFastFillChar: the engine's memory fill, a procedure variable set at start-up to the routine
// chosen for the processor class.
#pragma once
#include <cstdint>

#include "foundation/zfllFastCpuDetect.h"
#include "platform/rtl/rtlUnits.h"

namespace zf {

// Fills aCount bytes at aDest with aValue; a count of 0 or less does nothing.
using TzfFillCharProc = void (*)(void* aDest, int32_t aCount, uint8_t aValue);
extern TzfFillCharProc zfFastFillChar;

// The fill families by processor class.
enum TzfFillVariant : uint8_t {
  fvIA32,     // class 0
  fvMMX,      // classes 1 and 7
  fvP6MMX,    // classes 2 and 3
  fvSSE2,     // classes 4 to 6
  fvSSE,      // class 8
  fvSSE2Amd,  // classes 9 and 10
};
TzfFillVariant zfFillVariantFor(TzfCpuTarget aTarget);
TzfFillCharProc zfFillRoutine(TzfFillVariant aVariant);

rtl::TUnitInit& zfllFastFillCharUnit();

}  // namespace zf
