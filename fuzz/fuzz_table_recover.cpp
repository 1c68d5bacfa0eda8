// Fuzzes the whole table recover: a sample log table made by the engine once, whose blocks the
// input overwrites, is recovered into "_Recovered" and "_Failed" by the background task while this
// thread polls the status. The recover must start or refuse with a code, end with a final status,
// never crash, hang or leak; its counts stay within the file (read at most one partial block more
// than the total, written at most read), and its tables can be deleted afterwards.
//
// Input: a list of patches, each: block (1 byte, taken modulo the blocks of the table file),
// offset in the block (2 bytes little-endian, modulo the block size), length (1 byte), that many
// bytes. A last byte 0xF0..0xFF alone cuts the file after that many 256-byte units from the end.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

#include "foundation/zfllConst.h"
#include "fuzz/zfsrFuzzServer.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerSession.h"
#include "tools/zftableLog.h"

namespace {

zf::fuzz::TFuzzServer gServer;
const std::filesystem::path& gDir = gServer.Dir;
zf::TzfAbstractSession*& gSession = gServer.Session;
zf::TzfAbstractDatabase*& gDb = gServer.Db;
std::vector<uint8_t> gImage;
constexpr uint32_t kBlock = 4096;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gServer.Start("zf_fuzz_recover_");
  gServer.OpenDatabase(zf::zfVersion30900);
  zf::kit::TLogOptions o;
  o.Records = 300;
  o.InvalidEvery = 25;
  zf::kit::FillLogTable(static_cast<zf::TzfServerDatabase&>(*gDb), u"Log", o);
  gSession->CloseInactiveTables();
  gImage = zf::fuzz::ReadFile(gDir / "Log.zf1");
  if (gImage.size() < 2 * kBlock) __builtin_trap();
  std::atexit([] { gServer.Stop(); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  std::vector<uint8_t> image = gImage;
  const size_t blocks = image.size() / kBlock;
  size_t pos = 0;
  while (pos + 4 <= aSize) {
    const size_t block = aData[pos] % blocks;
    const size_t offset = (aData[pos + 1] | (size_t(aData[pos + 2]) << 8)) % kBlock;
    const size_t len = aData[pos + 3];
    pos += 4;
    for (size_t i = 0; i < len && pos < aSize; ++i, ++pos) {
      const size_t at = block * kBlock + offset + i;
      if (at < image.size()) image[at] = aData[pos];
    }
  }
  if (pos < aSize && aData[pos] >= 0xF0) image.resize(image.size() - std::min(image.size(), size_t(aData[pos] - 0xEF) * 256));
  zf::fuzz::WriteFile(gDir / "Log.zf1", image.data(), image.size());
  zf::TzfAbstractTaskInfo* task = nullptr;
  const uint32_t code = gDb->TableRecover(u"Log", u"", task);
  if ((code == 0) != (task != nullptr)) __builtin_trap();
  if (task) {
    bool done = false;
    zf::TzfTaskStatus status;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done) {
      if (task->GetStatus(done, status) != 0) __builtin_trap();
      if (!done) {
        if (std::chrono::steady_clock::now() > until) __builtin_trap();  // the walk must end
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
    task->Free();
    if (status.tsRecsRead > uint64_t(status.tsTotalRecs) + 1 || status.tsRecsWritten > status.tsRecsRead)
      __builtin_trap();
    if (gDb->TableDelete(u"Log_Recovered", u"") != 0 || gDb->TableDelete(u"Log_Failed", u"") != 0) __builtin_trap();
  }
  gSession->CloseInactiveTables();
  return 0;
}
