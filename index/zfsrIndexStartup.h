// The index layer's ordered start-up and shut-down list.
#pragma once
#include "platform/rtl/rtlUnits.h"

namespace zf {

// Starts the layers below, then every index unit in link order: each unit's start registers its
// key engines, key field engines, filter descriptors and filter engines by name. Safe to call more
// than once; each call needs a stop.
void zfStartIndex();
// Stops the index units in reverse order (unregistering their classes), then the layers below.
void zfStopIndex();

}  // namespace zf
