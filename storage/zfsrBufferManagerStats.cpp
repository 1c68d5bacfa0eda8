// The statistics rows of the block cache, shown by the tool as name/value rows. Counters are
// whole numbers with thousands separators; memory rows are pages × 4 followed by " kbyte".
// Without physical block pools (always on Linux) the allocated-tier and bulk-loading rows are
// left out and the tier text is one blank.
#include "platform/os/osSystem.h"
#include "platform/rtl/rtlFormat.h"
#include "storage/zfsrBufferManager.h"

namespace zf {

namespace {

using S = TzfCacheBlockState;
constexpr int kS = static_cast<int>(S::cbsStored);
constexpr int kA = static_cast<int>(S::cbsAllocated);
constexpr int kM = static_cast<int>(S::cbsMapped);

enum class Row {
  AllocAvailable, AllocUsed, MappedAvailable, MappedUsed, Miss, HitAlloc, HitAllocBulk, HitMapped, EvictMapped,
  EvictAlloc, EvictAllocBulk, Committed, CommittedNested, Rolledback, RolledbackNested, Deadlocked, Corrupted,
  BulkLoading, BulkLoads, BlocksRead, BlocksWritten, TempStorage
};

std::vector<Row> Rows() {
  if (TzfBufferManager::zfPhysicalBlockPoolsAvailable())
    return {Row::AllocAvailable, Row::AllocUsed,    Row::MappedAvailable, Row::MappedUsed,       Row::Miss,
            Row::HitAlloc,       Row::HitAllocBulk, Row::HitMapped,       Row::EvictMapped,      Row::EvictAlloc,
            Row::EvictAllocBulk, Row::Committed,    Row::CommittedNested, Row::Rolledback,       Row::RolledbackNested,
            Row::Deadlocked,     Row::Corrupted,    Row::BulkLoading,     Row::BulkLoads,        Row::BlocksRead,
            Row::BlocksWritten,  Row::TempStorage};
  return {Row::MappedAvailable, Row::MappedUsed,       Row::Miss,       Row::HitMapped, Row::EvictMapped,
          Row::Committed,       Row::CommittedNested,  Row::Rolledback, Row::RolledbackNested,
          Row::Deadlocked,      Row::Corrupted,        Row::BlocksRead, Row::BlocksWritten, Row::TempStorage};
}

UnicodeString Tier() { return TzfBufferManager::zfPhysicalBlockPoolsAvailable() ? u" Mapped " : u" "; }

UnicodeString Caption(Row r) {
  switch (r) {
    case Row::AllocAvailable: return u"Block Cache Allocated Available";
    case Row::AllocUsed: return u"Block Cache Allocated Used";
    case Row::MappedAvailable: return u"Block Cache" + Tier() + u"Available";
    case Row::MappedUsed: return u"Block Cache" + Tier() + u"Used";
    case Row::Miss: return u"Block Cache Miss";
    case Row::HitAlloc: return u"Block Cache Hit Allocated";
    case Row::HitAllocBulk: return u"Block Cache Hit Allocated (Bulk Loaded)";
    case Row::HitMapped: return u"Block Cache Hit" + Tier();
    case Row::EvictMapped: return u"Block Cache Eviction" + Tier();
    case Row::EvictAlloc: return u"Block Cache Eviction Allocated";
    case Row::EvictAllocBulk: return u"Block Cache Eviction Allocated (Bulk Loaded)";
    case Row::Committed: return u"Transactions Commited";
    case Row::CommittedNested: return u"Transactions Commited Nested";
    case Row::Rolledback: return u"Transactions Rolledback";
    case Row::RolledbackNested: return u"Transactions Rolledback Nested";
    case Row::Deadlocked: return u"Transactions Deadlocked";
    case Row::Corrupted: return u"Transactions Corrupted";
    case Row::BulkLoading: return u"Bulk Block Loading";
    case Row::BulkLoads: return u"Bulk Block Loads";
    case Row::BlocksRead: return u"Blocks Read";
    case Row::BlocksWritten: return u"Blocks Written";
    case Row::TempStorage: return u"Temporary Storage in use";
  }
  return {};
}

bool IsMemoryRow(Row r) {
  return r == Row::AllocAvailable || r == Row::AllocUsed || r == Row::MappedAvailable || r == Row::MappedUsed ||
         r == Row::TempStorage;
}

UnicodeString Number(int64_t aValue) { return rtl::Format(u"%.0n", {double(aValue)}); }
UnicodeString KByte(int64_t aKB) { return Number(aKB) + u" kbyte"; }

bool Within5s(uint32_t aStamp) { return aStamp != 0 && os::GetTickCount() - aStamp < 5000; }

}  // namespace

void TzfBufferManager::GetStatsCaptions(std::vector<UnicodeString>& aList) {
  for (Row r : Rows()) aList.push_back(Caption(r));
}

void TzfBufferManager::GetStatsValuesStatic(std::vector<UnicodeString>& aList) {
  for (Row r : Rows()) aList.push_back(r == Row::BulkLoading ? u"Inactive" : IsMemoryRow(r) ? u"0 kbyte" : u"0");
}

void TzfBufferManager::GetStatsValues(std::vector<UnicodeString>& aList) {
  TzfBufferManagerLock lock(this);
  auto used = [&](int s) { return bmBlockListCount[s][0][kUsed] + bmBlockListCount[s][1][kUsed]; };
  auto budget = [&](int s) { return bmMaxPages[s][0] + bmMaxPages[s][1]; };
  for (Row r : Rows()) {
    switch (r) {
      case Row::AllocAvailable: aList.push_back(KByte(budget(kA) * 4)); break;
      case Row::AllocUsed:
        aList.push_back(KByte(used(kA) * 4) + (Within5s(bmPhysicalEmergency) ? u" <physical memory limit reached>" : u""));
        break;
      case Row::MappedAvailable: aList.push_back(KByte(budget(kM) * 4)); break;
      case Row::MappedUsed:
        aList.push_back(KByte(used(kM) * 4) + (Within5s(bmChunkEmergency) ? u" <address space limit reached>" : u""));
        break;
      case Row::Miss: aList.push_back(Number(bmBlockCacheHit[kS][0][0])); break;
      case Row::HitAlloc: aList.push_back(Number(bmBlockCacheHit[kA][0][0])); break;
      case Row::HitAllocBulk: aList.push_back(Number(bmBlockCacheHit[kA][0][1])); break;
      case Row::HitMapped: aList.push_back(Number(bmBlockCacheHit[kM][0][0] + FastHits())); break;
      case Row::EvictMapped: aList.push_back(Number(bmBlockCacheEvict[kM][0][0])); break;
      case Row::EvictAlloc: aList.push_back(Number(bmBlockCacheEvict[kA][0][0])); break;
      case Row::EvictAllocBulk: aList.push_back(Number(bmBlockCacheEvict[kA][0][1])); break;
      case Row::Committed: aList.push_back(Number(bmTransCommitCount)); break;
      case Row::CommittedNested: aList.push_back(Number(bmTransNestedCommitCount)); break;
      case Row::Rolledback: aList.push_back(Number(bmTransRollbackCount)); break;
      case Row::RolledbackNested: aList.push_back(Number(bmTransNestedRollbackCount)); break;
      case Row::Deadlocked: aList.push_back(Number(bmTransDeadlockCount)); break;
      case Row::Corrupted: aList.push_back(Number(bmTransCorruptedCount)); break;
      case Row::BulkLoading: aList.push_back(bmCacheIsCold ? u"Active" : u"Inactive"); break;
      case Row::BulkLoads: aList.push_back(Number(bmBulkBlockLoad)); break;
      case Row::BlocksRead: aList.push_back(Number(bmBlocksRead.load())); break;
      case Row::BlocksWritten: aList.push_back(Number(bmBlocksWritten.load())); break;
      case Row::TempStorage: aList.push_back(KByte(zfTempStoreInUse(bmTempStore) / 1024)); break;
    }
  }
}

std::vector<TzfStatsRow> TzfBufferManager::GetStatsRows() {
  std::vector<UnicodeString> captions, values;
  GetStatsCaptions(captions);
  GetStatsValues(values);
  std::vector<TzfStatsRow> rows;
  for (size_t i = 0; i < captions.size(); ++i) rows.push_back({captions[i], values[i]});
  return rows;
}

rtl::TUnitInit& zfsrBufferManagerUnit() {
  // The index nodes' item pool is made at start-up, so the first cache miss does not.
  static rtl::TUnitInit unit("zfsrBufferManager", [] { zfCacheNodePoolStart(); }, [] {});
  return unit;
}

}  // namespace zf
