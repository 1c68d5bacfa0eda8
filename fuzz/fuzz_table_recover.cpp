// Fuzzes the table recover: a small sample log table (ten blocks: four records, one failing
// validation, one with a memo BLOB, and their index) made by the engine once, whose blocks the input
// overwrites, is opened as a recover source and walked by the recover container into
// "_Recovered" and "_Failed": header and dictionary reads, the block walk, the owner lookup, the
// record engine's salvage and the insert of every record with validation, or into the failed table.
//
// The engine is started once per process, its folder lies on the memory file system, and the two
// target tables are built once (by a recover of the sound table): each input runs the container's
// job on this thread inside an outer transaction of the targets that is rolled back afterwards, so
// one input costs the open of a damaged table and the walk of its few blocks. The table file is
// written as patches: the bytes the input changes, and those the input before changed put back.
// The walk must end with a code, never crash, hang or leak; its counts stay within the file (read
// at most one partial block more than the total, written at most read), and the rollback leaves
// both targets as they were.
//
// Input: a list of patches, each: block (1 byte, taken modulo the blocks of the table file),
// offset in the block (2 bytes little-endian, modulo the block size), length (1 byte), that many
// bytes. A last byte 0xF0..0xFF alone cuts the file after that many 256-byte units from the end.
//
// Every input touches some six thousand edges of the engine, so the target runs on libFuzzer's
// plain schedule unless told otherwise (see PlainScheduleByDefault).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "foundation/zfllConst.h"
#include "fuzz/zfsrFuzzServer.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerRecover.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTransaction.h"
#include "tools/zftableLog.h"

namespace {

using namespace zf;

fuzz::TFuzzServer gServer;
std::unique_ptr<fuzz::TPatchedFile> gFile;
constexpr uint32_t kBlock = 4096;
// Cursors on the two targets, kept open across inputs so their tables stay open too.
TzfAbstractCursor* gRecovered = nullptr;
TzfAbstractCursor* gFailed = nullptr;
uint32_t gRecoveredCount = 0, gFailedCount = 0;  // what the first recover left in them

TzfServerTableCursor* Open(TzfAbstractDatabase* aDb, const UnicodeString& aName, TzfOpenMode aMode) {
  TzfAbstractCursor* c = nullptr;
  if (aDb->CursorOpen(c, aName, u"", aMode, smShared, 10000, false) != 0) return nullptr;
  return static_cast<TzfServerTableCursor*>(c);
}

uint32_t Count(TzfAbstractCursor* aCursor) {
  uint32_t n = 0;
  if (aCursor->GetRecordCount(n, false) != 0) __builtin_trap();
  return n;
}

}  // namespace

// Every input allocates and frees memory many times over, and the sanitizer records a stack for
// each allocation and release: eight frames name the place, and a crash found here is best
// replayed with ASAN_OPTIONS=malloc_context_size=30 for the whole stacks (the environment goes
// first).
extern "C" const char* __asan_default_options() { return "malloc_context_size=8"; }

extern "C" int LLVMFuzzerInitialize(int* aArgc, char*** aArgv) {
  fuzz::PlainScheduleByDefault(aArgc, aArgv);
  gServer.Start("zf_fuzz_recover_", true);
  gServer.OpenDatabase(zfVersion30900);
  kit::TLogOptions o;
  o.Records = 4;
  o.InvalidEvery = 4;
  o.MemoEvery = 4;
  kit::FillLogTable(static_cast<TzfServerDatabase&>(*gServer.Db), u"Log", o);
  gServer.Session->CloseInactiveTables();
  gFile = std::make_unique<fuzz::TPatchedFile>(gServer.Dir / "Log.zf1", fuzz::ReadFile(gServer.Dir / "Log.zf1"));
  if (gFile->Image().size() < 2 * kBlock) __builtin_trap();
  std::fprintf(stderr, "fuzz_table_recover: sample table of %zu blocks\n", gFile->Image().size() / kBlock);
  // The targets, as the recover builds them.
  TzfAbstractTaskInfo* task = nullptr;
  if (gServer.Db->TableRecover(u"Log", u"", task) != 0) __builtin_trap();
  bool done = false;
  TzfTaskStatus status;
  while (!done)
    if (task->GetStatus(done, status) != 0) __builtin_trap();
  task->Free();
  if (status.tsErrorCode != 0) __builtin_trap();
  gRecovered = Open(gServer.Db, u"Log_Recovered", omReadWrite);
  gFailed = Open(gServer.Db, u"Log_Failed", omReadWrite);
  if (!gRecovered || !gFailed) __builtin_trap();
  gRecoveredCount = Count(gRecovered);
  gFailedCount = Count(gFailed);
  std::atexit([] {
    gRecovered->Free();
    gFailed->Free();
    gFile.reset();
    gServer.Stop();
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  gFile->Restore();
  const size_t size = gFile->Image().size(), blocks = size / kBlock;
  size_t pos = 0;
  while (pos + 4 <= aSize) {
    const size_t block = aData[pos] % blocks;
    const size_t offset = (aData[pos + 1] | (size_t(aData[pos + 2]) << 8)) % kBlock;
    const size_t len = std::min<size_t>(aData[pos + 3], aSize - pos - 4);
    pos += 4;
    gFile->Patch(block * kBlock + offset, aData + pos, len);
    pos += len;
  }
  if (pos < aSize && aData[pos] >= 0xF0) gFile->Cut(size - std::min(size, size_t(aData[pos] - 0xEF) * 256));

  // The recover's own database on the folder; the container frees it with the cursors.
  TzfAbstractDatabase* db = nullptr;
  if (gServer.Session->DatabaseOpen(db, u"Path", rtl::u16(gServer.Dir.string()), nullptr, omReadWrite, smShared,
                                    10000) != 0)
    __builtin_trap();
  TzfServerTableCursor* source = nullptr;
  {
    TzfIndexTolerantOpen tolerant;
    source = Open(db, u"Log", omReadOnly);
  }
  TzfServerTableCursor* recovered = source ? Open(db, u"Log_Recovered", omReadWrite) : nullptr;
  TzfServerTableCursor* failed = recovered ? Open(db, u"Log_Failed", omReadWrite) : nullptr;
  if (!failed) {
    // A source that cannot be opened (header or dictionary) is refused with a code: that is all.
    if (recovered) recovered->Free();
    if (source) source->Free();
    if (db) db->Free();
    gServer.Session->CloseInactiveTables();
    return 0;
  }
  TzfServerRecoverContainer* container = nullptr;
  try {
    container = new TzfServerRecoverContainer(source, recovered, failed, static_cast<TzfServerDatabase*>(db));
  } catch (const EzfBaseException&) {
    gServer.Session->CloseInactiveTables();
    return 0;  // the container refused the tables with a coded error (and freed what it took)
  }
  TzfAbstractTaskInfo* task = zfCreateServerObject<TzfServerRecoverTaskInfo>(container);
  TzfServerTransContext* context = container->srcNodes[0]->srnTargetCursor->stcTransContext();
  const uint32_t total = container->GetTotalBlockCount();
  if (context->stcTransactionStart(false, false, false, false, false) != 0) __builtin_trap();
  container->Execute();
  const uint32_t read = container->srcCurrentBlocksRead, written = container->srcCurrentBlocksWritten;
  for (int32_t level = 0; context->TransactionGetLevel(level) == 0 && level > 0;)
    if (context->stcTransactionRollback() != 0) __builtin_trap();
  task->Free();
  if (read > uint64_t(total) + 1 || written > read) __builtin_trap();
  if (Count(gRecovered) != gRecoveredCount || Count(gFailed) != gFailedCount) __builtin_trap();
  return 0;  // the container closed the source's table with its database
}
