// The recover run of the recovery tool on a generated log table (records of about 100 bytes: ID,
// time stamp, level, text; no memo BLOBs), next to `cat FILE > /dev/null` of the same file:
// - "run": the window's driver, headless, in a child process of its own with 5 ms ticks: start
//   the engine, open the folder, the recover task, the completion pass with its counts and
//   renames. Rows per second, MB per second and the child's peak RSS.
// - "program": the zfRecover program itself, headless (its first tick comes at once, the end of
//   the task brings the last one forward), run three times; the best run gives the figures.
//   With ZFRECOVER_BEFORE naming another build of the program, that one runs too, each of its
//   runs beside one of this build's, and the ratio of the two is printed.
// - the driver run once more with a cache budget (MaxRAM) of 64 MiB, against the engine's default
//   budget (half the machine's memory), to see what bounds the peak RSS.
// - the salvage yield at 1%, 5%, 20% and 50% of the blocks damaged (zeroed; the file header and
//   the dictionary's stream blocks are spared, since without them no table can be opened):
//   records recovered, failed, lost, and the bound set by the records of the undamaged blocks.
//
// Every timed run is a child process started while this process is still small: a child's peak
// resident set as the kernel reports it includes the footprint of the process that started it, so
// the table is made by a child too, and this process reads the table only after the timed runs.
//
//   zfRecoverBench [RECORDS]    (default 1000000; e.g. 20000 for a quick run)
//   ZFRECOVER_BEFORE=/path/to/zfRecover zfRecoverBench [RECORDS]   (also times that build)
//   zfRecoverBench --run FILE [MAXRAM_MIB]   (the child: one run of the driver on FILE)
//   zfRecoverBench --make FILE RECORDS       (the child: makes the table)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "client/zfdbStartup.h"
#include "platform/gui/guiHeadless.h"
#include "server/zfsrServerEngineComponent.h"
#include "tests/tool/zfRecoverRunSupport.h"
#include "tool/frmRecoverMain.h"
#include "tools/zftableKit.h"
#include "tools/zftableLog.h"

namespace {

namespace fs = std::filesystem;
using zf::test::TChild;

// The child: the window's driver on a headless application with a 5 ms tick; aMaxRAM (MiB) above
// 0 sets the engine's cache budget, else the engine's default stays (as in the program).
int RunDriver(const std::string& aFile, int32_t aMaxRAM) {
  zf::zfStartClient();
  int code;
  {
    zf::gui::THeadlessOptions options = zf::gui::THeadlessOptions::Defaults();
    options.ProgressShown = false;
    zf::gui::THeadlessApplication app({aFile}, options);
    zf::TzfRecoverComponents engine;
    if (aMaxRAM > 0) engine.ServerEngine().SetMaxRAM(aMaxRAM);
    zf::gui::TFormResource resource = zf::zfRecoverFormResource();
    resource.TimerInterval = 5;
    zf::TfrmMain frmMain(app, engine, resource);
    code = app.Run();
  }
  zf::zfStopClient();
  return code;
}

struct TOutcome {
  int Code = -1;
  double Seconds = 0;
  double PeakRssMB = 0;
  long long Source = -1;
  unsigned long long Recovered = 0, Failed = 0, PutBack = 0;
  bool Counted = false;
};

// Runs aExe with aArgs (its output in aDir) and parses the counts lines of its log.
TOutcome RunOn(const fs::path& aExe, const std::vector<std::string>& aArgs, const fs::path& aDir) {
  TChild child(aExe, aArgs, aDir, "run.txt");
  TOutcome o;
  o.Code = child.Wait();
  o.Seconds = child.Seconds;
  o.PeakRssMB = double(child.PeakRssKiB) / 1024.0;
  for (const std::string& line : zf::test::SplitLines(child.StdOut())) {
    const size_t at = line.find("Out of ");
    if (at != std::string::npos &&
        (std::sscanf(line.c_str() + at, "Out of %lld records %llu have been recovered and %llu have failed.",
                     &o.Source, &o.Recovered, &o.Failed) == 3 ||
         std::sscanf(line.c_str() + at,
                     "Out of an unknown number of records %llu have been recovered and %llu have failed.",
                     &o.Recovered, &o.Failed) == 2))
      o.Counted = true;
    unsigned long long i = 0;
    if (std::sscanf(line.c_str(), "INFO  %llu failed records could be added back", &i) == 1) o.PutBack = i;
  }
  if (o.Code != 0) std::fprintf(stderr, "run failed (%d):\n%s%s", o.Code, child.StdOut().c_str(), child.StdErr().c_str());
  return o;
}

double CatSeconds(const fs::path& aFile, const fs::path& aDir) {
  double best = 1e30;
  for (int i = 0; i < 4; ++i) {  // the first run warms the page cache
    TChild cat("/bin/cat", {aFile.string()}, aDir, "cat.out");
    if (cat.Wait() != 0) return -1;
    fs::remove(aDir / "cat.out");
    if (i > 0) best = std::min(best, cat.Seconds);
  }
  return best;
}

// A fresh folder holding a copy of aSource as "BuildLog.dvl7".
fs::path CopyInto(const fs::path& aSource, const fs::path& aDir) {
  fs::remove_all(aDir);
  fs::create_directories(aDir);
  fs::copy_file(aSource, aDir / "BuildLog.dvl7");
  return aDir / "BuildLog.dvl7";
}

}  // namespace

// The child that makes the log table of aRecords records of about 100 bytes (no memo BLOBs).
int MakeTable(const std::string& aFile, uint32_t aRecords) {
  zf::zfStartClient();
  zf::kit::TLogOptions options;
  options.Records = aRecords;
  options.MemoEvery = 0;
  zf::kit::MakeLogTable(aFile, options);
  zf::zfStopClient();
  return 0;
}

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--run") return RunDriver(argv[2], argc > 3 ? std::atoi(argv[3]) : 0);
  if (argc >= 4 && std::string(argv[1]) == "--make")
    return MakeTable(argv[2], uint32_t(std::strtoul(argv[3], nullptr, 10)));
  const uint32_t records = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000u;
  const fs::path self = fs::canonical("/proc/self/exe");
  const fs::path dir = fs::temp_directory_path() / ("zfRecoverBench_" + std::to_string(getpid()));
  fs::create_directories(dir / "original");
  const fs::path original = dir / "original" / "BuildLog.dvl7";

  {
    TChild make(self, {"--make", original.string(), std::to_string(records)}, dir, "make.txt");
    if (make.Wait() != 0) {
      std::fprintf(stderr, "the table could not be made:\n%s%s", make.StdOut().c_str(), make.StdErr().c_str());
      return 1;
    }
  }
  const double mb = double(fs::file_size(original)) / 1e6;

  const double catSecs = CatSeconds(original, dir);
  const TOutcome run = RunOn(self, {"--run", CopyInto(original, dir / "run").string()}, dir / "run");
  const TOutcome small = RunOn(self, {"--run", CopyInto(original, dir / "small").string(), "64"}, dir / "small");
  // The program's runs, each beside a run of the other build when one is named: the best of each.
  const char* beforeExe = std::getenv("ZFRECOVER_BEFORE");
  TOutcome program, before;
  std::vector<double> programSecs, beforeSecs;
  for (int i = 0; i < 3; ++i) {
    const TOutcome p =
        RunOn(ZFRECOVER_EXE, {"--headless", CopyInto(original, dir / "program").string()}, dir / "program");
    programSecs.push_back(p.Seconds);
    if (i == 0 || p.Code != 0 || p.Seconds < program.Seconds) program = p;
    if (program.Code != 0) break;
    if (beforeExe && *beforeExe) {
      const TOutcome b = RunOn(beforeExe, {"--headless", CopyInto(original, dir / "before").string()}, dir / "before");
      beforeSecs.push_back(b.Seconds);
      if (i == 0 || b.Seconds < before.Seconds) before = b;
    }
  }
  if (run.Code != 0 || program.Code != 0 || small.Code != 0 || run.Recovered != records ||
      program.Recovered != records || small.Recovered != records) {
    std::fprintf(stderr, "recovered %llu and %llu of %u records\n", run.Recovered, program.Recovered, records);
    return 1;
  }
  zf::zfStartClient();
  const std::map<uint32_t, uint64_t> perBlock = zf::test::RecordsByBlock(dir / "original", u"BuildLog");
  std::printf("table: %u records, %.1f MB, %zu record blocks\n", records, mb, perBlock.size());
  for (size_t i = 0; i < programSecs.size(); ++i)
    std::printf("program run %zu: %.3f s (%.0f rows/s)%s\n", i + 1, programSecs[i], records / programSecs[i],
                i < beforeSecs.size() ? (", before: " + std::to_string(beforeSecs[i]) + " s").c_str() : "");
  std::printf("cat: %.3f s; driver run: %.3f s, peak RSS %.1f MB; with a 64 MiB cache budget: %.3f s, peak RSS %.1f MB;"
              " program run: %.3f s, peak RSS %.1f MB\n",
              catSecs, run.Seconds, run.PeakRssMB, small.Seconds, small.PeakRssMB, program.Seconds, program.PeakRssMB);

  // The blocks that may be damaged: all but the header and the stream blocks.
  std::vector<uint32_t> candidates;
  zf::kit::WalkTable(original.string(), [&](uint32_t aBlock, const std::string& aSignature, int32_t, bool) {
    if (aBlock > 0 && aSignature != "ZFSH") candidates.push_back(aBlock);
  });
  std::printf("\n%8s %8s %10s %10s %10s %10s %10s %5s\n", "damaged", "blocks", "recovered", "failed", "lost", "bound",
              "put back", "exit");
  std::vector<std::pair<int, double>> yields;
  for (const int percent : {1, 5, 20, 50}) {
    std::vector<uint32_t> blocks = candidates;
    std::shuffle(blocks.begin(), blocks.end(), std::mt19937_64(uint64_t(percent)));
    blocks.resize(std::max<size_t>(1, blocks.size() * size_t(percent) / 100));
    std::sort(blocks.begin(), blocks.end());
    const fs::path folder = dir / ("yield" + std::to_string(percent));
    fs::remove_all(folder);
    fs::create_directories(folder);
    zf::kit::DamageTable(original.string(), (folder / "BuildLog.dvl7").string(), blocks, zf::kit::TDamageMode::Zero,
                         uint64_t(percent));
    uint64_t bound = records;
    for (uint32_t b : blocks)
      if (auto it = perBlock.find(b); it != perBlock.end()) bound -= it->second;
    const TOutcome y = RunOn(self, {"--run", (folder / "BuildLog.dvl7").string()}, folder);
    const unsigned long long lost = records - std::min<unsigned long long>(records, y.Recovered + y.Failed);
    if (y.Counted)
      std::printf("%7d%% %8zu %10llu %10llu %10llu %10llu %10llu %5d\n", percent, blocks.size(), y.Recovered, y.Failed,
                  lost, (unsigned long long)bound, y.PutBack, y.Code);
    else
      std::printf("%7d%% %8zu %10s %10s %10s %10llu %10s %5d\n", percent, blocks.size(), "-", "-", "-",
                  (unsigned long long)bound, "-", y.Code);
    yields.push_back({percent, bound > 0 ? double(y.Recovered + y.Failed) / double(bound) : 1.0});
  }
  std::printf("\n");
  std::printf("figure recover_run_rows_per_s %.0f rows/s\n", records / run.Seconds);
  std::printf("figure recover_run_throughput %.1f MB/s\n", mb / run.Seconds);
  std::printf("figure recover_run_peak_rss %.1f MB\n", run.PeakRssMB);
  std::printf("figure recover_run_maxram64_rows_per_s %.0f rows/s\n", records / small.Seconds);
  std::printf("figure recover_run_maxram64_peak_rss %.1f MB\n", small.PeakRssMB);
  std::printf("figure recover_program_rows_per_s %.0f rows/s\n", records / program.Seconds);
  std::printf("figure recover_program_throughput %.1f MB/s\n", mb / program.Seconds);
  std::printf("figure recover_program_peak_rss %.1f MB\n", program.PeakRssMB);
  std::printf("figure cat_throughput %.1f MB/s\n", mb / catSecs);
  std::printf("ratio recover_run_vs_cat %.3f\n", catSecs / run.Seconds);
  std::printf("ratio recover_program_vs_cat %.3f\n", catSecs / program.Seconds);
  if (!beforeSecs.empty() && before.Code == 0) {
    std::printf("figure recover_before_rows_per_s %.0f rows/s\n", records / before.Seconds);
    std::printf("figure recover_before_peak_rss %.1f MB\n", before.PeakRssMB);
    std::printf("ratio recover_program_vs_before %.3f\n", before.Seconds / program.Seconds);
  }
  for (const auto& [percent, yield] : yields) std::printf("ratio yield_vs_bound_%dpct %.3f\n", percent, yield);
  fs::remove_all(dir);
  zf::zfStopClient();
  return 0;
}
