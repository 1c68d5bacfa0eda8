// zfFastMove: the engine's memory move, a procedure variable set at start-up to the routine
// chosen for the processor's instruction set.
#pragma once
#include <cstdint>

#include "foundation/zfllFastCpuDetect.h"
#include "platform/rtl/rtlUnits.h"

namespace zf {

// Copies aCount bytes from aSource to aDest as a memory move: overlapping ranges give the result
// of copying through a temporary buffer; equal addresses or a count of 0 or less do nothing.
using TzfMoveProc = void (*)(const void* aSource, void* aDest, int32_t aCount);
extern TzfMoveProc zfFastMove;

// The move families, chosen by the first processor's instruction set (first match).
enum TzfMoveVariant : uint8_t { mvSSE3, mvSSE2, mvSSE, mvMMX, mvPlain };
TzfMoveVariant zfMoveVariantFor(const TzfCpuInfo& aInfo);
TzfMoveProc zfMoveRoutine(TzfMoveVariant aVariant);

rtl::TUnitInit& zfllFastMoveUnit();

}  // namespace zf
