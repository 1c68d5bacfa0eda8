// Whole-recover throughput: the sample log table (about 100-byte records) made through the engine,
// then the table recover of the server run end to end (build of the two tables, the walk, every
// record inserted with validation into "_Recovered", the commit) while the caller polls its status.
//
//   zfsrRecoverBench [RECORDS [MEMO_EVERY]]   (default 200000 records without memos; e.g. 20000 for a
//                                            quick run; MEMO_EVERY 5 gives every fifth a memo BLOB)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

#include "foundation/zfllException.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerStartup.h"
#include "tools/zftableLog.h"

int main(int argc, char** argv) {
  using namespace zf;
  const uint32_t records = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 200000u;
  const uint32_t memoEvery = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 0u;
  zfStartServer();
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("zfrecover_bench_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  int rc = 0;
  try {
    kit::TLogOptions o;
    o.Records = records;
    o.MemoEvery = memoEvery;
    kit::MakeLogTable((dir / "Log.dvl7").string(), o);
    TzfServerEngine engine;
    engine.SetTableExtension(u"dvl7");
    engine.SetTempStoreSize(0);
    engine.SetMaxRAM(256);
    engine.Open();
    TzfAbstractSession* session = nullptr;
    zfRaiseIfError(engine.SessionOpen(session, u"bench", u"", u"bench", 10000));
    TzfAbstractDatabase* db = nullptr;
    zfRaiseIfError(session->DatabaseOpen(db, u"Path", rtl::u16(dir.string()), nullptr, omReadWrite, smExclusive, 10000));
    const auto t0 = std::chrono::steady_clock::now();
    TzfAbstractTaskInfo* task = nullptr;
    zfRaiseIfError(db->TableRecover(u"Log", u"", task));
    bool done = false;
    TzfTaskStatus status;
    while (!done) {
      zfRaiseIfError(task->GetStatus(done, status));
      if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    task->Free();
    db->Free();
    session->Free();
    engine.Close();
    if (status.tsErrorCode != 0) throw EzfBaseException(status.tsErrorCode);
    std::printf("recover of %u records (%u blocks): %.3f s\n", records, status.tsTotalRecs, s);
    std::printf("figure recover_records_per_s %.0f records/s\n", records / s);
    std::printf("figure recover_blocks_per_s %.0f blocks/s\n", status.tsTotalRecs / s);
  } catch (const EzfBaseException& e) {
    std::fprintf(stderr, "error %u: %s\n", e.ErrorCode(), rtl::u8(e.Message()).c_str());
    rc = 1;
  }
  std::filesystem::remove_all(dir);
  zfStopServer();
  return rc;
}
