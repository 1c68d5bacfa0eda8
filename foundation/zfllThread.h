// The engine's thread objects.
//
// TzfThread runs ThreadMain on its own std::thread and routes exceptions to an overridable handler.
// TzfInternalInitThread adds a start-up handshake: creating one returns only after the new
// thread's StartupWork has finished, and raises that work's exception in the creator.
// TzfInternalWaitThread parks its thread after the work until the owner frees it; TzfInitThread
// does not park; TzfTimerThread calls TimerTick every interval until it is stopped.
//
// Construction and destruction are two-phase, because the thread calls virtual operations of the
// derived class: zfCreateThread<T>(...) constructs and then starts (AfterConstruction), and the
// owning TzfThreadPtr stops the thread (BeforeDestruction: flag, wake, join) before the object is
// destroyed. No thread is ever detached, terminated forcibly or freed while it may still run.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "foundation/zfllException.h"
#include "foundation/zfllMemoryManager.h"
#include "platform/os/osSystem.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlText.h"

namespace zf {

using zf::rtl::UnicodeString;

// One exception class per level of the thread family.
ZF_DECLARE_ENGINE_EXCEPTION(EzfThread, EzfBaseException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfInternalInitThread, EzfThread)
ZF_DECLARE_ENGINE_EXCEPTION(EzfInternalWaitThread, EzfInternalInitThread)
ZF_DECLARE_ENGINE_EXCEPTION(EzfInitThread, EzfInternalWaitThread)

// Starts a std::thread; a failure of the system raises the engine's OS error (of class E) with
// aAction, the system's error number recorded.
template <class E, typename F>
std::thread zfStartThread(UnicodeStringView aAction, F&& aProc) {
  try {
    return std::thread(std::forward<F>(aProc));
  } catch (const std::system_error& e) {
    zf::os::SetLastError(e.code().value());
    throw zfCreateOSErrorException<E>(0, aAction);
  }
}

// Relative thread priorities of the operating system (-15..15), with their textual names.
using TzfThreadPriority = int32_t;
inline constexpr TzfThreadPriority zftpIdle = -15;
inline constexpr TzfThreadPriority zftpLowest = -2;
inline constexpr TzfThreadPriority zftpBelowNormal = -1;
inline constexpr TzfThreadPriority zftpNormal = 0;
inline constexpr TzfThreadPriority zftpAboveNormal = 1;
inline constexpr TzfThreadPriority zftpHighest = 2;
inline constexpr TzfThreadPriority zftpTimeCritical = 15;
// "IDLE", "LOWEST", ... for the named values; the decimal number for any other.
UnicodeString zfThreadPriorityToIdent(TzfThreadPriority aPriority);
// Accepts the names (case ignored) and decimal numbers in -15..15.
bool zfIdentToThreadPriority(const UnicodeString& aIdent, TzfThreadPriority& aPriority);
// Gives the calling thread aPriority as its own nice value: the process's nice value minus five
// per level (NORMAL keeps it, BELOW_NORMAL +5, LOWEST +10, IDLE the lowest there is; ABOVE_NORMAL
// -5, HIGHEST -10, TIME_CRITICAL the highest), clamped to -20..19. Lowering always works; a raise
// the process may not make is ignored (the thread keeps the process's priority). True when applied.
bool zfApplyThreadPriority(TzfThreadPriority aPriority);

// Time after which stopping a thread is reported as slow (the stop still waits for the end).
inline constexpr uint32_t zfSlowThreadStopMs = 10000;
// Reports a thread that has not ended zfSlowThreadStopMs after it was asked to stop. The default
// writes one line to the standard error stream; the engine may route it to its event log.
using TzfSlowStopReporter = std::function<void(const UnicodeString& aThreadName, uint32_t aWaitedMs)>;
void zfSetSlowStopReporter(TzfSlowStopReporter aReporter);
void zfReportSlowStop(const UnicodeString& aThreadName, uint32_t aWaitedMs);

// A small auto-reset or manual-reset event on a mutex and a condition variable.
class TzfThreadEvent {
 public:
  explicit TzfThreadEvent(bool aManualReset = false) : FManualReset(aManualReset) {}
  void SetEvent();
  void ResetEvent();
  // Waits until signalled; aTimeoutMs < 0 waits without limit. True when signalled.
  bool WaitFor(int64_t aTimeoutMs);

 private:
  std::mutex FLock;
  std::condition_variable FCond;
  bool FSignalled = false;
  bool FManualReset;
};

class TzfThread : public TzfObject {
 public:
  explicit TzfThread(bool aCreateSuspended = false, TzfThreadPriority aPriority = zftpNormal,
                     UnicodeString aName = {});
  ~TzfThread() override;
  TzfThread(const TzfThread&) = delete;
  TzfThread& operator=(const TzfThread&) = delete;

  virtual const char* ClassName() const { return "TzfThread"; }

  // Second phase of construction: starts the thread unless it was created suspended.
  virtual void AfterConstruction();
  // Starts a thread created suspended (nothing when it runs already).
  void Start();
  // First phase of destruction: asks the thread to end, wakes it and joins it (reporting a stop
  // that takes longer than zfSlowThreadStopMs). Safe to call more than once.
  void BeforeDestruction() override;

  void Terminate() { FTerminated.store(true); }
  bool Terminated() const { return FTerminated.load(); }
  bool Finished() const { return FFinished.load(); }
  // Waits until the thread has ended or aTimeoutMs (0 or more) has passed; true when ended.
  bool WaitForEx(int64_t aTimeoutMs);

  uint32_t ThreadID() const { return FThreadID.load(); }
  const UnicodeString& Name() const { return zftName; }
  TzfThreadPriority Priority() const { return FPriority; }
  // An exception other than the run-time library's that left ThreadMain.
  std::exception_ptr FatalException() const { return FFatalException; }

  // Fired on the ending thread itself after ThreadMain.
  std::function<void(TzfThread*)> OnTerminate;

 protected:
  // The thread's work.
  virtual void ThreadMain() {}
  // Receives an exception of the run-time library's Exception class raised by the work; the
  // default drops it.
  virtual void HandleThreadException(const zf::rtl::Exception& E) {}
  // Wakes the thread from any wait it is in, so that it sees Terminated.
  virtual void WakeUp() {}
  // Joins the thread (reporting a slow stop); nothing when it never started.
  void Join();

 private:
  void Execute();

  UnicodeString zftName;
  TzfThreadPriority FPriority;
  bool FCreateSuspended;
  std::thread FThread;
  std::mutex FStateLock;
  std::condition_variable FEndCond;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FStarted{false};
  std::atomic<bool> FFinished{false};
  std::atomic<uint32_t> FThreadID{0};
  std::exception_ptr FFatalException;
};

// Start-up handshake.
class TzfInternalInitThread : public TzfThread {
 public:
  explicit TzfInternalInitThread(TzfThreadPriority aPriority = zftpNormal, UnicodeString aName = {});
  const char* ClassName() const override { return "TzfInternalInitThread"; }
  // Starts the thread and waits until StartupWork has finished; raises its exception here.
  void AfterConstruction() override;

 protected:
  void ThreadMain() override;
  virtual void StartupWork() {}
  virtual void AfterWork() {}
  virtual void MainWork() {}

 private:
  TzfThreadEvent itInitSemaphore;
  std::exception_ptr itInitException;
};

// Parks after the work until the owner frees it.
class TzfInternalWaitThread : public TzfInternalInitThread {
 public:
  explicit TzfInternalWaitThread(TzfThreadPriority aPriority = zftpNormal, UnicodeString aName = {});
  const char* ClassName() const override { return "TzfInternalWaitThread"; }
  void BeforeDestruction() override;
  bool Waiting() const { return wtWaiting.load(); }

 protected:
  void AfterWork() override;
  void ReleasePark() { wtWaitSemaphore.SetEvent(); }

 private:
  std::atomic<bool> wtWaiting{false};
  TzfThreadEvent wtWaitSemaphore;
};

// Ends when its work ends (does not park).
class TzfInitThread : public TzfInternalWaitThread {
 public:
  using TzfInternalWaitThread::TzfInternalWaitThread;
  const char* ClassName() const override { return "TzfInitThread"; }
  void AfterConstruction() override;
};

// Calls TimerTick every aInterval ms (0: only when woken) until stopped.
class TzfTimerThread : public TzfInitThread {
 public:
  TzfTimerThread(uint32_t aInterval, TzfThreadPriority aPriority = zftpNormal, UnicodeString aName = {});
  const char* ClassName() const override { return "TzfTimerThread"; }
  void BeforeDestruction() override;
  uint32_t Interval() const { return ttTimerInterval; }

 protected:
  void MainWork() override;
  void WakeUp() override { ttTimerEvent.SetEvent(); }
  virtual void TimerTick() = 0;

 private:
  TzfThreadEvent ttTimerEvent;
  uint32_t ttTimerInterval;
};

// Stops (BeforeDestruction) and then deletes; the deleter of every owned thread object.
struct TzfStopAndFree {
  template <typename T>
  void operator()(T* aObject) const noexcept {
    if (aObject) aObject->Destroy();
  }
};
template <typename T>
using TzfThreadPtr = std::unique_ptr<T, TzfStopAndFree>;

// Constructs a thread object (the TzfThread family or a TzfBackgroundThread) and runs its second
// construction phase; when that raises (a failed start-up), the object is stopped and freed and
// the exception passes on.
template <typename T, typename... Args>
TzfThreadPtr<T> zfCreateThread(Args&&... aArgs) {
  TzfThreadPtr<T> thread(new T(std::forward<Args>(aArgs)...));
  thread->AfterConstruction();
  return thread;
}

}  // namespace zf
