#include "foundation/zfllThread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "platform/os/osSystem.h"

namespace zf {

namespace {

struct TPriorityName {
  TzfThreadPriority Value;
  const char16_t* Name;
};
constexpr TPriorityName kPriorityNames[] = {
    {zftpIdle, u"IDLE"},          {zftpLowest, u"LOWEST"},   {zftpBelowNormal, u"BELOW_NORMAL"},
    {zftpNormal, u"NORMAL"},      {zftpAboveNormal, u"ABOVE_NORMAL"}, {zftpHighest, u"HIGHEST"},
    {zftpTimeCritical, u"TIME_CRITICAL"},
};

std::mutex gReporterLock;
TzfSlowStopReporter gReporter;

}  // namespace

UnicodeString zfThreadPriorityToIdent(TzfThreadPriority aPriority) {
  for (const auto& p : kPriorityNames)
    if (p.Value == aPriority) return p.Name;
  return zf::rtl::IntToStr(aPriority);
}

bool zfIdentToThreadPriority(const UnicodeString& aIdent, TzfThreadPriority& aPriority) {
  for (const auto& p : kPriorityNames)
    if (zf::rtl::SameText(aIdent, p.Name)) {
      aPriority = p.Value;
      return true;
    }
  int32_t v = 0;
  if (!zf::rtl::TryStrToInt(aIdent, v) || v < -15 || v > 15) return false;
  aPriority = v;
  return true;
}

void zfSetSlowStopReporter(TzfSlowStopReporter aReporter) {
  std::lock_guard<std::mutex> g(gReporterLock);
  gReporter = std::move(aReporter);
}

void zfReportSlowStop(const UnicodeString& aThreadName, uint32_t aWaitedMs) {
  TzfSlowStopReporter reporter;
  {
    std::lock_guard<std::mutex> g(gReporterLock);
    reporter = gReporter;
  }
  try {
    if (reporter) {
      reporter(aThreadName, aWaitedMs);
      return;
    }
  } catch (...) {
    // A failing reporter must not keep the stop from waiting on; fall back to stderr.
  }
  std::fprintf(stderr, "Thread %s has not ended %u ms after it was asked to stop; still waiting\n",
               zf::rtl::u8(aThreadName).c_str(), aWaitedMs);
}

// ---------------------------------------------------------------------------------------------
// TzfThreadEvent

void TzfThreadEvent::SetEvent() {
  {
    std::lock_guard<std::mutex> g(FLock);
    FSignalled = true;
  }
  if (FManualReset) FCond.notify_all();
  else FCond.notify_one();
}

void TzfThreadEvent::ResetEvent() {
  std::lock_guard<std::mutex> g(FLock);
  FSignalled = false;
}

bool TzfThreadEvent::WaitFor(int64_t aTimeoutMs) {
  std::unique_lock<std::mutex> l(FLock);
  if (aTimeoutMs < 0) FCond.wait(l, [this] { return FSignalled; });
  else if (!FCond.wait_for(l, std::chrono::milliseconds(aTimeoutMs), [this] { return FSignalled; }))
    return false;
  if (!FManualReset) FSignalled = false;
  return true;
}

bool zfApplyThreadPriority(TzfThreadPriority aPriority) {
  // The main thread's nice value is the process's; a new thread starts with its creator's, which
  // may itself have been lowered.
  errno = 0;
  const int base = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
  if (base == -1 && errno != 0) return false;
  const int nice = std::clamp(base - 5 * std::clamp(aPriority, -15, 15), -20, 19);
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  if (::setpriority(PRIO_PROCESS, tid, nice) == 0) return true;
  // Refused (a raise without the right to it) and ignored: the thread runs at the process's own
  // priority where it may have that.
  if (nice < base) ::setpriority(PRIO_PROCESS, tid, base);
  return false;
}

// ---------------------------------------------------------------------------------------------
// TzfThread

TzfThread::TzfThread(bool aCreateSuspended, TzfThreadPriority aPriority, UnicodeString aName)
    : zftName(std::move(aName)), FPriority(aPriority), FCreateSuspended(aCreateSuspended) {}

TzfThread::~TzfThread() {
  // The owner's BeforeDestruction has joined the thread; should an owner have skipped it, join
  // here rather than leave a running thread behind (the derived part is gone by now, which is why
  // TzfThreadPtr always stops first).
  if (FThread.joinable()) {
    Terminate();
    FThread.join();
  }
}

void TzfThread::AfterConstruction() {
  if (zftName.empty()) zftName = zf::rtl::u16(ClassName());
  if (!FCreateSuspended) Start();
}

void TzfThread::Start() {
  std::lock_guard<std::mutex> g(FStateLock);
  if (FStarted.load()) return;
  if (zftName.empty()) zftName = zf::rtl::u16(ClassName());
  FThread = zfStartThread<EzfThread>(u"TzfThread.Create/CreateThread", [this] { Execute(); });
  FStarted.store(true);
}

void TzfThread::Execute() {
  FThreadID.store(zf::os::GetCurrentThreadId());
  {
    // The kernel keeps at most 15 characters of a thread's name.
    std::string name = zf::rtl::u8(zftName).substr(0, 15);
    pthread_setname_np(pthread_self(), name.c_str());
  }
  zfApplyThreadPriority(FPriority);
  try {
    ThreadMain();
  } catch (const zf::rtl::Exception& E) {
    try {
      HandleThreadException(E);
    } catch (...) {
    }
  } catch (...) {
    FFatalException = std::current_exception();
  }
  if (OnTerminate) {
    try {
      OnTerminate(this);
    } catch (...) {
    }
  }
  {
    std::lock_guard<std::mutex> g(FStateLock);
    FFinished.store(true);
  }
  FEndCond.notify_all();
}

bool TzfThread::WaitForEx(int64_t aTimeoutMs) {
  std::unique_lock<std::mutex> l(FStateLock);
  if (!FStarted.load()) return true;  // never started
  return FEndCond.wait_for(l, std::chrono::milliseconds(aTimeoutMs < 0 ? 0 : aTimeoutMs),
                           [this] { return FFinished.load(); });
}

void TzfThread::Join() {
  if (!FThread.joinable()) return;
  uint32_t waited = 0;
  while (!WaitForEx(zfSlowThreadStopMs)) {
    waited += zfSlowThreadStopMs;
    zfReportSlowStop(zftName, waited);
    WakeUp();
  }
  FThread.join();
}

void TzfThread::BeforeDestruction() {
  Terminate();
  WakeUp();
  Join();
}

// ---------------------------------------------------------------------------------------------
// TzfInternalInitThread

TzfInternalInitThread::TzfInternalInitThread(TzfThreadPriority aPriority, UnicodeString aName)
    : TzfThread(true, aPriority, std::move(aName)) {}

void TzfInternalInitThread::AfterConstruction() {
  TzfThread::AfterConstruction();
  Start();  // init threads always run at once
  itInitSemaphore.WaitFor(-1);
  if (itInitException) {
    std::exception_ptr e = std::move(itInitException);
    itInitException = nullptr;
    std::rethrow_exception(e);
  }
}

void TzfInternalInitThread::ThreadMain() {
  bool started = false;
  try {
    StartupWork();
    started = true;
  } catch (...) {
    Terminate();
    itInitException = std::current_exception();
  }
  itInitSemaphore.SetEvent();
  if (!started) return;
  try {
    MainWork();
  } catch (...) {
    AfterWork();
    throw;
  }
  AfterWork();
}

// ---------------------------------------------------------------------------------------------
// TzfInternalWaitThread, TzfInitThread

TzfInternalWaitThread::TzfInternalWaitThread(TzfThreadPriority aPriority, UnicodeString aName)
    : TzfInternalInitThread(aPriority, std::move(aName)), wtWaitSemaphore(true) {}

void TzfInternalWaitThread::AfterWork() {
  wtWaiting.store(true);
  wtWaitSemaphore.WaitFor(-1);
}

void TzfInternalWaitThread::BeforeDestruction() {
  ReleasePark();
  TzfInternalInitThread::BeforeDestruction();
}

void TzfInitThread::AfterConstruction() {
  TzfInternalWaitThread::AfterConstruction();
  ReleasePark();
}

// ---------------------------------------------------------------------------------------------
// TzfTimerThread

TzfTimerThread::TzfTimerThread(uint32_t aInterval, TzfThreadPriority aPriority, UnicodeString aName)
    : TzfInitThread(aPriority, std::move(aName)), ttTimerInterval(aInterval) {}

void TzfTimerThread::MainWork() {
  while (!Terminated()) {
    ttTimerEvent.WaitFor(ttTimerInterval == 0 ? -1 : static_cast<int64_t>(ttTimerInterval));
    if (Terminated()) break;
    try {
      TimerTick();
    } catch (const zf::rtl::Exception& E) {
      // One failing tick does not end the loop.
      try {
        HandleThreadException(E);
      } catch (...) {
      }
    }
  }
}

void TzfTimerThread::BeforeDestruction() {
  Terminate();
  ttTimerEvent.SetEvent();
  TzfInitThread::BeforeDestruction();
}

}  // namespace zf
