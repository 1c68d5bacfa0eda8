// The client layer's ordered start-up and shut-down list.
#pragma once
#include "platform/rtl/rtlUnits.h"

namespace zf {

// Starts the layers below, then the client units in link order (the field conversion tables).
// Safe to call more than once; each call needs a stop.
void zfStartClient();
// Stops the client units in reverse order, then the layers below.
void zfStopClient();

}  // namespace zf
