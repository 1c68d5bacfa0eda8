// A base for long-running service threads (the table files' flush thread derives from it).
//
// The work (Run) polls Terminated or waits on the die event through WaitForDie. Stopping sets the
// terminated flag, signals the die event and joins the thread; a thread that has not ended after
// zfSlowThreadStopMs is reported and waited for further, never abandoned or killed. A thread
// stopped before its work began skips the work.
#pragma once
#include <exception>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "foundation/zfllThread.h"

namespace zf {

class TzfBackgroundThread : public TzfObject {
 public:
  TzfBackgroundThread();
  ~TzfBackgroundThread() override;
  TzfBackgroundThread(const TzfBackgroundThread&) = delete;
  TzfBackgroundThread& operator=(const TzfBackgroundThread&) = delete;

  virtual const char* ClassName() const { return "TzfBackgroundThread"; }

  // Second phase of construction: BeforeStart on the creating thread, then the thread starts.
  void AfterConstruction();
  // First phase of destruction: stop and join (safe to call more than once).
  void BeforeDestruction() override;

  bool Terminated() const { return btTerminated.load(); }
  // Waits up to aTimeoutMs (< 0: without limit) for the die event; true when asked to end.
  bool WaitForDie(int64_t aTimeoutMs) { return btDieEvent.WaitFor(aTimeoutMs); }
  // True once the thread procedure has ended.
  bool Done() const { return btDone.load(); }
  uint32_t ThreadID() const { return btThreadID.load(); }
  // True when the work ran (it is skipped when the thread was stopped before it began).
  bool WorkRan() const { return btWorkRan.load(); }

 protected:
  virtual void BeforeStart() {}
  virtual void Run() = 0;
  // A failure that ends Run: the thread still ends and is joined normally. The default writes
  // the failure to standard error so it is never lost silently; service threads may log it.
  virtual void HandleRunException(std::exception_ptr aFailure);
  virtual std::string ThreadName() const { return ClassName(); }

 private:
  void ThreadProc();

  std::atomic<uint32_t> btThreadID{0};
  std::thread btThread;
  std::atomic<bool> btTerminated{false};
  std::atomic<bool> btDone{false};
  std::atomic<bool> btWorkRan{false};
  TzfThreadEvent btThreadDoneEvent{true};
  TzfThreadEvent btDieEvent{true};
};

}  // namespace zf
