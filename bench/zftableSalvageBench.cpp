// Salvage throughput: a table of 100-byte records made by the record engines' block code (static
// and variable), every block salvaged as the recovery does (walk, check and decode, records handed
// to a no-op), next to `cat FILE > /dev/null` of the same file in the same run.
//
//   zftableSalvageBench [RECORDS]      (default 1000000; e.g. 20000 for a quick run)
#include <chrono>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "storage/zfsrStartup.h"
#include "storage/zfsrTimeoutHandling.h"
#include "tools/zftableKit.h"

namespace {

double Seconds(const std::function<void()>& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The best of three runs, so one cold or disturbed run does not decide the figure.
double Best(const std::function<void()>& f) {
  double best = 1e30;
  for (int i = 0; i < 3; ++i) best = std::min(best, Seconds(f));
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t records = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000u;
  zf::zfStartStorage();
  zf::zfSetTimeout(0, true);
  const std::string dir = (std::filesystem::temp_directory_path() / ("zftable_bench_" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(dir);
  struct Variant {
    const char* Name;
    bool Variable;
  };
  for (const Variant v : {Variant{"static", false}, Variant{"variable", true}}) {
    const std::string file = dir + "/" + v.Name + ".dvl7";
    zf::kit::MakeTable(file, {records, v.Variable, false, 0, 1});
    const double mb = double(std::filesystem::file_size(file)) / 1e6;
    const std::string cat = "cat '" + file + "' > /dev/null";
    if (std::system(cat.c_str()) != 0) return 1;  // warms the page cache for both readers
    const double catSecs = Best([&] {
      if (std::system(cat.c_str()) != 0) std::exit(1);
    });
    uint64_t got = 0;
    const double salvageSecs = Best([&] { got = zf::kit::SalvageTable(file, {}).Records; });
    if (got != records) {
      std::fprintf(stderr, "salvaged %llu of %u records\n", (unsigned long long)got, records);
      return 1;
    }
    std::printf("%s: %u records, %.1f MB: salvage %.3f s, cat %.3f s\n", v.Name, records, mb, salvageSecs, catSecs);
    std::printf("figure salvage_%s_records_per_s %.0f records/s\n", v.Name, records / salvageSecs);
    std::printf("figure salvage_%s_throughput %.1f MB/s\n", v.Name, mb / salvageSecs);
    std::printf("figure cat_%s_throughput %.1f MB/s\n", v.Name, mb / catSecs);
    std::printf("ratio salvage_%s_vs_cat %.2f\n", v.Name, catSecs / salvageSecs);
  }
  std::filesystem::remove_all(dir);
  zf::zfStopStorage();
  return 0;
}
