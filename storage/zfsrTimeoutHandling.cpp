#include "storage/zfsrTimeoutHandling.h"

#include "dictionary/zfsdSimpleLock.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllSync.h"
#include "platform/os/osSystem.h"
#include "platform/rtl/rtlException.h"
#include "storage/zfsrExceptions.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfsrTimeoutHandling";
// Below this many milliseconds left an operation counts as timed out.
constexpr int64_t kMinRemaining = 10;
// Interval of the progress callback.
constexpr int64_t kCallbackInterval = 1000;

struct TThreadTimeout {
  int64_t Deadline = zfDeadlineNeverSet;
  int32_t Suspended = 0;
  int64_t LastCallback = 0;
  std::atomic<bool> Cancel{false};
};

TThreadTimeout& State() {
  thread_local TThreadTimeout state;
  return state;
}

int64_t Now() { return static_cast<int64_t>(zf::os::GetTickCount64()); }

}  // namespace

void zfSetTimeout(uint32_t aTimeout, bool aForce) {
  TThreadTimeout& s = State();
  if (!aForce && s.Suspended >= 1) return;
  s.Deadline = aTimeout == 0 ? zfDeadlineNone : Now() + static_cast<int64_t>(aTimeout);
}

void zfCheckTimeout() {
  TThreadTimeout& s = State();
  int64_t now = Now();
  if (s.LastCallback + kCallbackInterval < now) {
    zfCallThreadCallback();
    s.LastCallback = Now();
  } else if (s.LastCallback > now) {
    s.LastCallback = now;
  }
  if (s.Cancel.load(std::memory_order_relaxed)) throw EzfServerException(zfErrTimeout, u"Processing cancelled");
  if (s.Deadline == zfDeadlineNone) return;
  if (s.Deadline - now < kMinRemaining) throw EzfServerException(zfErrTimeout, zfErrorCodeToText(zfErrTimeout));
}

int32_t zfRemainingTimeout() {
  TThreadTimeout& s = State();
  if (s.Cancel.load(std::memory_order_relaxed)) return 1;
  if (s.Deadline == zfDeadlineNone || s.Deadline == zfDeadlineNeverSet) return 0;
  int64_t left = s.Deadline - Now();
  if (left < 0) return 1;
  return left > INT32_MAX ? INT32_MAX : static_cast<int32_t>(left);
}

int64_t zfTimeoutDeadline() { return State().Deadline; }

void zfSuspendTimeout() { ++State().Suspended; }

void zfResumeTimeout() {
  TThreadTimeout& s = State();
  ZF_ASSERT(s.Suspended > 0, kUnit);
  --s.Suspended;
}

std::atomic<bool>* zfGetCancelFlagAddress() { return &State().Cancel; }

namespace {

// The session lock and the operation frame of the abstract server level sit below this layer:
// they reach the thread's deadline, no-timeout scope and cancel flag through these procedures.
void StartUnit() {
  TzfThreadTimeoutProcs procs;
  procs.SetTimeout = &zfSetTimeout;
  procs.SuspendTimeout = &zfSuspendTimeout;
  procs.ResumeTimeout = &zfResumeTimeout;
  procs.GetCancelFlagAddress = &zfGetCancelFlagAddress;
  zfSetThreadTimeoutProcs(procs);
}

void StopUnit() { zfSetThreadTimeoutProcs({}); }

}  // namespace

rtl::TUnitInit& zfsrTimeoutHandlingUnit() {
  static rtl::TUnitInit unit("zfsrTimeoutHandling", &StartUnit, &StopUnit);
  return unit;
}

}  // namespace zf
