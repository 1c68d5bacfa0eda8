#include "foundation/zfllBackgroundThread.h"

#include <cstdio>

#include <pthread.h>

#include "platform/os/osSystem.h"

namespace zf {

TzfBackgroundThread::TzfBackgroundThread() = default;

TzfBackgroundThread::~TzfBackgroundThread() {
  // TzfThreadPtr stops the thread before the derived part goes; this only covers an owner that
  // skipped that, so that no thread outlives its object.
  if (btThread.joinable()) {
    btTerminated.store(true);
    btDieEvent.SetEvent();
    btThread.join();
  }
}

void TzfBackgroundThread::AfterConstruction() {
  BeforeStart();
  btThread = zfStartThread<EzfBaseException>(u"[unknown]", [this] { ThreadProc(); });
}

void TzfBackgroundThread::ThreadProc() {
  btThreadID.store(zf::os::GetCurrentThreadId());
  std::string name = ThreadName().substr(0, 15);
  pthread_setname_np(pthread_self(), name.c_str());
  if (!btTerminated.load()) {
    btWorkRan.store(true);
    try {
      Run();
    } catch (...) {
      // The work's failure ends the thread; the owner still joins it normally.
      try {
        HandleRunException(std::current_exception());
      } catch (...) {
      }
    }
  }
  btDone.store(true);
  btThreadDoneEvent.SetEvent();
}

void TzfBackgroundThread::BeforeDestruction() {
  btTerminated.store(true);
  btDieEvent.SetEvent();
  if (!btThread.joinable()) return;
  uint32_t waited = 0;
  while (!btThreadDoneEvent.WaitFor(zfSlowThreadStopMs)) {
    waited += zfSlowThreadStopMs;
    zfReportSlowStop(zf::rtl::u16(ThreadName()), waited);
  }
  btThread.join();
}

}  // namespace zf

void zf::TzfBackgroundThread::HandleRunException(std::exception_ptr aFailure) {
  std::string text = "unknown failure";
  try {
    std::rethrow_exception(aFailure);
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
  }
  std::fprintf(stderr, "%s: work ended by an exception: %s\n", ThreadName().c_str(), text.c_str());
}
