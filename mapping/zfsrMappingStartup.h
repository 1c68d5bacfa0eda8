// The mapping layer's ordered start-up and shut-down list.
#pragma once
#include "platform/rtl/rtlUnits.h"

namespace zf {

// Starts the layers below, then every mapping unit in link order: the mapper registry, the value
// and BLOB-side mappers in the matrix, the descriptor classes and the engine classes with the
// special engine of AutoInc targets. Safe to call more than once; each call needs a stop.
void zfStartMapping();
// Stops the mapping units in reverse order (emptying the matrix and the registries), then the
// layers below.
void zfStopMapping();

}  // namespace zf
