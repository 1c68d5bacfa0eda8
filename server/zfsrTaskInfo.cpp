#include "server/zfsrTaskInfo.h"

#include "dictionary/zfsdSimpleLock.h"
#include "foundation/zfllErrors.h"
#include "platform/os/osSystem.h"
#include "platform/rtl/rtlException.h"

namespace zf {

uint32_t zfTaskTickCount() { return static_cast<uint32_t>(os::GetTickCount64()); }

uint8_t zfTaskPercentDone(uint32_t aRead, uint32_t aTotal) {
  uint32_t numerator, divisor;
  if (aRead < (1u << 24)) {
    numerator = aRead * 100;
    divisor = aTotal;
  } else {
    numerator = (aRead >> 7) * 100;
    divisor = aTotal >> 7;
  }
  if (divisor == 0) return 0;
  return static_cast<uint8_t>(std::min<uint32_t>(numerator / divisor, 100));
}

// ---------------------------------------------------------------------------------------------
// TzfServerTaskInfo

const rtl::TClassInfo& TzfServerTaskInfo::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfServerTaskInfo", &TzfAbstractTaskInfo::ClassInfo()};
  return info;
}

TzfServerTaskInfo::TzfServerTaskInfo(TzfAbstractSession* aSession, uint32_t aTotalRecords,
                                     TzfThreadPriority aThreadPriority)
    : TzfAbstractTaskInfo(aSession), stiThreadPriority(aThreadPriority) {
  stiStatus.tsTotalRecs = aTotalRecords;
  stiStatus.tsStartTime = zfTaskTickCount();
}

TzfServerTaskInfo::~TzfServerTaskInfo() { stiThread.reset(); }

void TzfServerTaskInfo::BeforeDestruction() {
  TzfAbstractTaskInfo::BeforeDestruction();  // cancels
  // The job sees the cancel at its next snapshot; a thread that has not reached the job skips it.
  stiCancelled.store(true, std::memory_order_release);
  stiThread.reset();
}

void TzfServerTaskInfo::PrepareDestroy() {
  TzfAbstractTaskInfo::PrepareDestroy();  // cancels
  stiCancelled.store(true, std::memory_order_release);
  // The job may work on objects of the session (the recover on its private database and that
  // database's transaction context); the session's clean-up prepares those right after its task
  // handles, so the job must have ended by then. The task's own thread cannot join itself: there
  // the thread is left to the handle's destruction.
  if (stiThreadID.load(std::memory_order_acquire) != os::GetCurrentThreadId()) stiThread.reset();
}

void TzfServerTaskInfo::asoCheckDestroyAllowed() {
  if (stiThreadID.load(std::memory_order_acquire) == os::GetCurrentThreadId())
    rtl::AssertionFailure("zfsrTaskInfo", __LINE__);
}

void TzfServerTaskInfo::StartThread(uint32_t aStartWaitMs) {
  if (stiThread) rtl::AssertionFailure("zfsrTaskInfo", __LINE__);
  stiThread = zfCreateThread<TzfServerTaskThread>(this);
  stiStartEvt.WaitFor(aStartWaitMs);
}

uint32_t TzfServerTaskInfo::GetStatus(bool& aCompleted, TzfTaskStatus& aStatus) {
  try {
    {
      TzfPadlockGuard g(stiPadlock);
      aCompleted = stiStatus.tsFinished;
      aStatus = stiStatus;
    }
    if (aStatus.tsErrorCode != 0)
      EzfBaseException::SetLastConvertedException(aStatus.tsErrorCode, aStatus.tsErrorMessage);
    return 0;
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

uint32_t TzfServerTaskInfo::Cancel() {
  if (stiCancelled.load(std::memory_order_acquire)) return 0;
  try {
    TzfPadlockGuard g(stiPadlock);
    if (stiCancelled.load()) return 0;
    stiCancelled.store(true, std::memory_order_release);
    stiStatus.tsErrorCode = zfErrUpdateAborted;
    stiStatus.tsErrorMessage.clear();
    stiStatus.tsSnapshotTime = zfTaskTickCount();
    stiStatus.tsFinished = true;
    return 0;
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

bool TzfServerTaskInfo::MakeSnapshot(uint32_t aRecordsRead, uint32_t aRecordsWritten, uint32_t aErrorCode) {
  TzfPadlockGuard g(stiPadlock);
  if (stiCancelled.load()) return true;
  stiStatus.tsRecsRead = aRecordsRead;
  stiStatus.tsRecsWritten = aRecordsWritten;
  stiStatus.tsErrorCode = aErrorCode;
  // A code is published with its message only when this thread last converted that very code.
  uint32_t lastCode = 0;
  UnicodeString lastMessage;
  EzfBaseException::GetLastConvertedException(lastCode, lastMessage);
  stiStatus.tsErrorMessage = lastCode == aErrorCode ? lastMessage : UnicodeString();
  stiStatus.tsSnapshotTime = zfTaskTickCount();
  stiStatus.tsPercentDone = zfTaskPercentDone(stiStatus.tsRecsRead, stiStatus.tsTotalRecs);
  return false;
}

void TzfServerTaskInfo::MarkFinished() {
  std::function<void()> proc;
  {
    TzfPadlockGuard g(stiPadlock);
    stiStatus.tsFinished = true;
    proc.swap(stiOnFinished);
  }
  if (proc) {
    try {
      proc();
    } catch (...) {
    }
  }
}

void TzfServerTaskInfo::SetOnFinished(std::function<void()> aProc) {
  {
    TzfPadlockGuard g(stiPadlock);
    if (!stiStatus.tsFinished) {
      stiOnFinished = std::move(aProc);
      return;
    }
    stiOnFinished = nullptr;
  }
  if (aProc) aProc();
}

void TzfServerTaskInfo::RunJob() {
  stiExecuting.store(true, std::memory_order_release);
  stiStartEvt.SetEvent();
  try {
    if (!stiCancelled.load(std::memory_order_acquire)) Execute();
  } catch (const std::exception& e) {
    // A job that raised publishes the converted code (with its message) beside its last counts.
    uint32_t code = asoConvertException(e);
    uint32_t read, written;
    {
      TzfPadlockGuard g(stiPadlock);
      read = stiStatus.tsRecsRead;
      written = stiStatus.tsRecsWritten;
    }
    MakeSnapshot(read, written, code);
  } catch (...) {
  }
  try {
    Done();
  } catch (...) {
  }
  MarkFinished();
  stiExecuting.store(false, std::memory_order_release);
}

void TzfServerTaskInfo::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfAbstractTaskInfo::AddExceptionData(aContainer);
  aContainer.AddBoolean(u"Cancelled", stiCancelled.load());
  aContainer.AddBoolean(u"Executing", stiExecuting.load());
}

// ---------------------------------------------------------------------------------------------
// TzfServerTaskThread

TzfServerTaskThread::TzfServerTaskThread(TzfServerTaskInfo* aTaskInfo)
    : TzfInternalWaitThread(aTaskInfo->ThreadPriority(), u"TzfServerTaskThread"), sttTaskInfo(aTaskInfo) {}

void TzfServerTaskThread::StartupWork() {
  sttTaskInfo->stiThreadID.store(os::GetCurrentThreadId(), std::memory_order_release);
  sttTaskInfo->Init();
}

void TzfServerTaskThread::MainWork() {
  zfCallSetTimeout(0, false);
  zfCallSuspendTimeout();
  sttTaskInfo->RunJob();
  zfCallResumeTimeout();
}

}  // namespace zf
