// Fuzzes opening a table through a server folder: the input is a "zfTrans.cfg" and the bytes of
// a table main file (header, "DICT", "$TableName", the record engine of a nested table). The
// folder must load whatever "zfTrans.cfg" holds, and opening the table must answer 0 or an engine
// error code, never crash, hang or leak; an opened table is closed again with its folder.
//
// Input: byte 0 = n (taken modulo 17), then n bytes of "zfTrans.cfg" (none when n is 16: the file
// is missing), then the table file. ZF_FUZZ_WRITE_SEED=<file> writes a seed made by the engine.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "dictionary/zfsdFieldsDescriptor.h"
#include "fuzz/zfsrFuzzServer.h"
#include "server/zfsrServerFolder.h"
#include "storage/zfsrBlock.h"
#include "storage/zfsrBufferManager.h"

namespace {

using zf::fuzz::ReadFile;
using zf::fuzz::WriteFile;

zf::fuzz::TFuzzServer gServer;
const std::filesystem::path& gDir = gServer.Dir;
zf::TzfServerEngine*& gEngine = gServer.Engine;

void MakeSeed(const char* aSeedFile) {
  zf::TzfServerFolder* f = nullptr;
  if (gEngine->seFolderOpen(zf::rtl::u16(gDir.string()), f) != 0) return;
  zf::TzfServerDataDict d;
  d.tdFieldsDescriptor->AddField(u"ID", u"", zf::zftInt32, 0, 0, false, nullptr);
  d.tdFieldsDescriptor->AddField(u"Name", u"", zf::zftWideString, 10, 0, false, nullptr);
  zf::TzfNestedTableDescriptor* n = d.tdTablesDescriptor->AddTable(u"Lines");
  n->tdFieldsDescriptor->AddField(u"V", u"", zf::zftInt32, 0, 0, false, nullptr);
  n->AddRecordDescriptor();
  if (f->sfTableBuild(true, u"T", u"", false, &d, zf::tsPersistent) != 0) return;
  gEngine->seCloseInactiveFolders();
  std::vector<uint8_t> seed{8};
  const std::vector<uint8_t> cfg = ReadFile(gDir / "zfTrans.cfg");
  seed.insert(seed.end(), cfg.begin(), cfg.end());
  const std::vector<uint8_t> table = ReadFile(gDir / "T.zf1");
  seed.insert(seed.end(), table.begin(), table.end());
  WriteFile(aSeedFile, seed.data(), seed.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gServer.Start("zf_fuzz_folder_");
  if (const char* seed = std::getenv("ZF_FUZZ_WRITE_SEED")) MakeSeed(seed);
  std::atexit([] { gServer.Stop(); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < 1) return 0;
  const size_t n = aData[0] % 17;
  if (aSize < 1 + (n == 16 ? 0 : n)) return 0;
  std::error_code ec;
  std::filesystem::remove(gDir / "zfTrans.cfg", ec);
  size_t pos = 1;
  if (n < 16) {
    WriteFile(gDir / "zfTrans.cfg", aData + pos, n);
    pos += n;
  }
  WriteFile(gDir / "T.zf1", aData + pos, aSize - pos);
  zf::TzfServerFolder* f = nullptr;
  if (gEngine->seFolderOpen(zf::rtl::u16(gDir.string()), f) != 0) __builtin_trap();
  zf::TzfServerRootTable* t = nullptr;
  const uint32_t code = f->sfTableOpen(u"T", {}, false, zf::omReadWrite, zf::smShared, t);
  if ((code == 0) != (t != nullptr)) __builtin_trap();
  if (t) {
    zf::TzfServerBaseTable* child = nullptr;
    t->GetChild(u"Lines", child);
    try {
      t->sbtGetStats(nullptr);  // reads the stream map: a damaged one raises a coded error
    } catch (const zf::EzfBaseException&) {
    }
  }
  // The next LSN never falls below what the table file claims.
  if (aSize - pos >= 16 && gEngine->seBufferManager->ReadCurrentLSN() <
                               static_cast<zf::TzfLSN>(zf::zfGetLE64(aData + pos + 8)) &&
      static_cast<int64_t>(zf::zfGetLE64(aData + pos + 8)) < INT64_MAX)
    __builtin_trap();
  if (gEngine->seCloseInactiveFolders() != 0) __builtin_trap();
  return 0;
}
