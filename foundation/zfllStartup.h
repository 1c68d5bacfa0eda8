// The foundation's ordered start-up and shut-down list.
#pragma once

namespace zf {

// Starts every foundation unit in link order (each unit's start is counted, so a unit started
// earlier on demand is not started twice). Safe to call more than once; each call needs a stop.
void zfStartFoundation();
// Stops the foundation units in reverse order: threads are stopped and joined, the log flushed.
void zfStopFoundation();

}  // namespace zf
