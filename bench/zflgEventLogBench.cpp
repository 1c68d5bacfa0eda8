// Lines per second through the cached event log with 1 and 8 writer threads: the writers hand
// their lines to the cache, the dispatch thread writes them to a UTF-16 file, and switching the
// cache off at the end writes out whatever is still queued. Writers' time is reported separately
// from the total, since the cache exists so that writers never wait for the disk.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "foundation/zflgEventLog.h"

using namespace zf;

namespace {

void Run(int aThreads, int aLinesPerThread) {
  namespace fs = std::filesystem;
  const fs::path file = fs::temp_directory_path() / ("zflgbench_" + std::to_string(::getpid()) + ".log");
  fs::remove(file);
  zf::rtl::TComponentPtr<TzfEventLog> log(new TzfEventLog());
  log->SetFileName(zf::rtl::u16(file.string()));

  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::vector<std::thread> writers;
  for (int t = 0; t < aThreads; ++t)
    writers.emplace_back([&log, t, aLinesPerThread] {
      for (int i = 0; i < aLinesPerThread; ++i)
        log->WriteString(u"Block %d of file %d salvaged", {i, t}, 0, lpInfo, u"default");
    });
  for (auto& w : writers) w.join();
  const auto written = Clock::now();
  log->SetCacheEnabled(false);
  const auto done = Clock::now();

  const double lines = static_cast<double>(aThreads) * aLinesPerThread;
  const double writerSecs = std::chrono::duration<double>(written - start).count();
  const double totalSecs = std::chrono::duration<double>(done - start).count();
  std::printf("cached event log, %d writer thread(s): %.0f lines, writers %.3f s (%.0f lines/s), "
              "on disk %.3f s (%.0f lines/s), file %ju bytes\n",
              aThreads, lines, writerSecs, lines / writerSecs, totalSecs, lines / totalSecs,
              static_cast<uintmax_t>(fs::file_size(file)));
  log.reset();
  fs::remove(file);
}

}  // namespace

int main(int argc, char** argv) {
  const int total = argc > 1 ? std::atoi(argv[1]) : 400000;
  Run(1, total);
  Run(8, total / 8);
  return 0;
}
