// The storage layer's ordered start-up and shut-down list.
#pragma once
#include "platform/rtl/rtlUnits.h"

namespace zf {

// Starts the dictionary (and with it the foundation), then every storage unit in link order: the
// header-access factories are registered by signature, the file classes are set and the flush
// thread starts, the buffer manager's pools are made, the sub-engine kinds and the stream and
// auto-increment engines are registered and the journal classes with the journal setting. Safe to call more than once; each call needs a stop.
void zfStartStorage();
// Stops the storage units in reverse order (the flush thread is stopped and joined, the factories
// unregistered), then the dictionary.
void zfStopStorage();

}  // namespace zf
