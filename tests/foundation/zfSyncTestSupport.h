// Helpers shared by the concurrency tests of the foundation.
#pragma once
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <thread>
#include <unistd.h>

namespace zf::test {

// Runs aWork on its own thread and waits for it at most aLimit. Work that never finishes (a lock
// that never lets the thread through) is a hang no later code could recover from: report it and
// end the process instead of blocking the test run. An exception of the work passes on.
inline void RunWithWatchdog(const char* aWhat, std::chrono::milliseconds aLimit, std::function<void()> aWork) {
  std::packaged_task<void()> task(std::move(aWork));
  auto done = task.get_future();
  std::thread worker(std::move(task));
  if (done.wait_for(aLimit) != std::future_status::ready) {
    std::fprintf(stderr, "watchdog: %s did not finish within %lld ms\n", aWhat, static_cast<long long>(aLimit.count()));
    std::fflush(stderr);
    ::_exit(3);
  }
  worker.join();
  done.get();
}

}  // namespace zf::test
