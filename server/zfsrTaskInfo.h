// Background tasks: the status record, the engine's task handle and the thread that runs it.
//
// A long operation (recover, restructure, pack, backup, index rebuild, record count, checksum)
// builds a concrete TzfServerTaskInfo inside its public operation; after the session lock is given
// back, StartThread runs the task on a thread of its own and waits (up to 2000 ms) for it to
// begin. Any thread reads the progress with GetStatus and may Cancel; the task reports through
// MakeSnapshot and stops when that answers True.
//
// Ownership: the task handle owns its thread (a joinable std::thread inside the engine's thread
// object). Destroying the handle cancels the task and joins the thread, whether the thread has not
// yet reached the job, is in it, or has ended; nothing sleeps or polls. A handle is never
// destroyed on its own task thread (that raises "Assertion failure" before anything is freed).
//
// Status: guarded by stiPadlock. A cancel is final at once (13062 "Update aborted.", finished);
// later snapshots change nothing. The percentage is computed at every snapshot and never exceeds
// 100. Times are a monotonic millisecond tick cut to 32 bits (it wraps after about 49.7 days;
// elapsed time is the wrapping difference of two ticks).
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>

#include "dictionary/zfsdServerEngine.h"
#include "foundation/zfllSync.h"
#include "foundation/zfllThread.h"

namespace zf {

class TzfServerTaskThread;

// The monotonic millisecond tick of task statuses, cut to 32 bits.
uint32_t zfTaskTickCount();
// Percent done for aRead units of aTotal: exact below 2^24 units read, from there on both scaled
// down by 128 (so the product stays within 32 bits); 0 for a total of 0; at most 100.
uint8_t zfTaskPercentDone(uint32_t aRead, uint32_t aTotal);

class TzfServerTaskInfo : public TzfAbstractTaskInfo {
 public:
  TzfServerTaskInfo(TzfAbstractSession* aSession, uint32_t aTotalRecords,
                    TzfThreadPriority aThreadPriority = zftpNormal);
  // Nothing left to stop: the first destruction phase joined the thread.
  ~TzfServerTaskInfo() override;
  // Cancels the task and joins its thread while the whole task object (its job) still stands.
  void BeforeDestruction() override;
  // Cancels and joins the thread (not on the task's own thread): a session's clean-up prepares its
  // task handles before its databases and contexts, which a running job may still be using.
  void PrepareDestroy() override;
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  // Finished flag and a copy of the status; a non-zero code (with its message) becomes the
  // calling thread's last converted exception. Never raises.
  uint32_t GetStatus(bool& aCompleted, TzfTaskStatus& aStatus) override;
  // Final status 13062 at once; a second cancel, or one after the end, changes nothing more than
  // the first did. Never raises.
  uint32_t Cancel() override;
  // aProc runs once when the job has ended: on the task's own thread, or at once on the caller's
  // when the task has already finished; nullptr removes it. It must be quick and must not call
  // back into the task.
  void SetOnFinished(std::function<void()> aProc);
  void asoCheckDestroyAllowed() override;
  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

  // Creates the task's thread (Init runs on it first; its exception is raised here) and waits up
  // to aStartWaitMs for the job to begin (the wait's result does not matter).
  void StartThread(uint32_t aStartWaitMs = 2000);

  // The task's progress report from its own thread: True when the task was cancelled (the job
  // must stop), else the counts and code are published with the percentage.
  bool MakeSnapshot(uint32_t aRecordsRead, uint32_t aRecordsWritten, uint32_t aErrorCode);
  void MarkFinished();
  bool Cancelled() const { return stiCancelled.load(std::memory_order_acquire); }
  bool Executing() const { return stiExecuting.load(std::memory_order_acquire); }
  TzfThreadPriority ThreadPriority() const { return stiThreadPriority; }

 protected:
  friend class TzfServerTaskThread;
  // Runs on the task thread before the job.
  virtual void Init() {}
  // The job: reports through MakeSnapshot after each unit of work and once more at its end.
  virtual void Execute() = 0;
  // Runs on the task thread after the job (also when a cancel skipped it), before the status is
  // marked finished.
  virtual void Done() {}

 private:
  // The frame of every job: executing, start signalled, the job (skipped when cancelled before it
  // began; an exception is converted and published), finished.
  void RunJob();

  TzfThreadPriority stiThreadPriority;
  TzfPadlock stiPadlock;
  TzfTaskStatus stiStatus;
  std::function<void()> stiOnFinished;  // under stiPadlock; called once, outside it
  std::atomic<bool> stiCancelled{false};
  std::atomic<bool> stiExecuting{false};
  std::atomic<uint32_t> stiThreadID{0};  // set by the task thread itself
  TzfThreadEvent stiStartEvt{true};
  TzfThreadPtr<TzfServerTaskThread> stiThread;
};

// Runs one task: Init in the start-up step, then the job with no deadline (a no-timeout scope),
// then parks until the task handle frees it.
class TzfServerTaskThread : public TzfInternalWaitThread {
 public:
  explicit TzfServerTaskThread(TzfServerTaskInfo* aTaskInfo);
  const char* ClassName() const override { return "TzfServerTaskThread"; }

 protected:
  void StartupWork() override;
  void MainWork() override;

 private:
  TzfServerTaskInfo* sttTaskInfo;
};

}  // namespace zf
