#include "foundation/zfllConst.h"

namespace zf {

namespace {
thread_local int32_t tThreadMinVersion = 0;
}  // namespace

int32_t zfGetThreadMinVersion() { return tThreadMinVersion != 0 ? tThreadMinVersion : zfEngineVersion; }

}  // namespace zf
