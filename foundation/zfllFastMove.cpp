#include "foundation/zfllFastMove.h"

#include <cstring>

namespace zf {

namespace {

// The C library's move handles overlap in either direction, uses the widest loads and stores of
// the processor and streams large moves past the cache; so each family uses it.
void LibraryMove(const void* aSource, void* aDest, int32_t aCount) {
  if (aCount > 0 && aSource != aDest) std::memmove(aDest, aSource, static_cast<size_t>(aCount));
}

}  // namespace

TzfMoveProc zfFastMove = LibraryMove;

TzfMoveVariant zfMoveVariantFor(const TzfCpuInfo& aInfo) {
  if (aInfo.Has(cpiSSE3)) return mvSSE3;
  if (aInfo.Has(cpiSSE2)) return mvSSE2;
  if (aInfo.Has(cpiSSE)) return mvSSE;
  if (aInfo.Has(cpiMMX)) return mvMMX;
  return mvPlain;
}

TzfMoveProc zfMoveRoutine(TzfMoveVariant) { return LibraryMove; }

namespace {

void InitMove() {
  zfllFastCpuDetectUnit().Initialize();
  const TzfMoveProc r = zfMoveRoutine(zfMoveVariantFor(zfCpuDetection().First));
  if (zfFastMove != r) zfFastMove = r;  // set once, before other threads run
}

void FiniMove() { zfllFastCpuDetectUnit().Finalize(); }

}  // namespace

rtl::TUnitInit& zfllFastMoveUnit() {
  static rtl::TUnitInit unit("zfllFastMove", InitMove, FiniMove);
  return unit;
}

}  // namespace zf
