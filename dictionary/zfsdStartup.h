// The dictionary's ordered start-up and shut-down list.
#pragma once
#include "platform/rtl/rtlUnits.h"

namespace zf {

// Starts the foundation, then every dictionary unit in link order: each unit's start registers
// its descriptor classes by name (and the items unit reads the "Disable30900LocaleFixes"
// switch). Safe to call more than once; each call needs a stop.
void zfStartDictionary();
// Stops the dictionary units in reverse order (unregistering their classes), then the foundation.
void zfStopDictionary();

}  // namespace zf
