// Per-thread deadlines and cancellation of engine operations.
//
// Every public engine operation sets the calling thread's deadline (zfSetTimeout) before it works;
// long loops inside the storage and index engines call zfCheckTimeout about every 1000 items and
// between blocks, so an expired deadline or a cancel stops them with 15461. Deadlines live on the
// 64-bit monotonic millisecond clock, so they neither wrap nor fire spuriously; "no deadline" is a
// state of its own, not a far-away tick count.
//
// Per thread: the deadline, a suspension counter (while above 0, zfSetTimeout without force does
// nothing), the time of the last progress callback and the cancel flag, which another thread sets
// through the address zfGetCancelFlagAddress hands out (the session lock keeps it).
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/rtl/rtlUnits.h"

namespace zf {

// Deadline states answered by zfTimeoutDeadline besides a tick count.
inline constexpr int64_t zfDeadlineNeverSet = 0;          // the thread never set one: expired
inline constexpr int64_t zfDeadlineNone = INT64_MAX;      // zfSetTimeout(0): no deadline

// Sets the deadline to now + aTimeout ms (no deadline for 0). While timeouts are suspended it does
// nothing unless aForce is set.
void zfSetTimeout(uint32_t aTimeout, bool aForce = false);
// Calls the thread's progress callback at most once per 1000 ms, then raises EzfServerException
// 15461 "Processing cancelled" when the cancel flag is set, or 15461 with the code's own text when
// the deadline has passed or fewer than 10 ms remain. A thread that never set a deadline fails.
void zfCheckTimeout();
// 1 when cancelled; 0 without a deadline (none set, or never set); 1 when the deadline has passed;
// else the milliseconds left (0 at the very millisecond of the deadline).
int32_t zfRemainingTimeout();
// The deadline on the monotonic clock (zf::os::GetTickCount64), zfDeadlineNone or
// zfDeadlineNeverSet.
int64_t zfTimeoutDeadline();
// Counter + 1 / - 1 around work whose inner operations set timeouts without force; going below 0
// is an internal error.
void zfSuspendTimeout();
void zfResumeTimeout();
// The calling thread's cancel flag; valid while the thread lives.
std::atomic<bool>* zfGetCancelFlagAddress();

rtl::TUnitInit& zfsrTimeoutHandlingUnit();

}  // namespace zf
