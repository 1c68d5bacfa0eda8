// The table recover end to end: sample log tables made through the engine, damaged on disk block
// by block, recovered by the background task while the test polls its status; then the block
// counts, the records of "_Recovered" and "_Failed", auto-increment counters, start failures,
// cancels, and a recover beside polling, cancelling and another session's reads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerRecover.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "server/zfsrServerTransaction.h"
#include "storage/zfseRecordEngineStatic.h"
#include "storage/zfsrRecordEngineBase.h"
#include "storage/zfsrStreamEngineBase.h"
#include "tests/foundation/zfCaptureLog.h"
#include "tests/server/zfsrServerCursorTestUtil.h"
#include "tools/zftableKit.h"
#include "tools/zftableLog.h"

namespace zf::test {
namespace {

bool Logged(CaptureLog& aLog, const UnicodeString& aText) {
  for (const auto& e : aLog.Entries)
    if (e.Msg.find(aText) != UnicodeString::npos) return true;
  return false;
}

struct TOutcome {
  uint32_t Code = 0;
  TzfTaskStatus Status;
  std::set<int32_t> Recovered, Failed;
};

class TableRecover : public CursorTest {
 public:
  using CursorTest::OpenDb;
  using CursorTest::OpenSession;
  void SetUp() override {
    CursorTest::SetUp();
    Session = OpenSession();
    Db = OpenDb(Session, omReadWrite);
  }
  // The log table "Log" with aRecords records; every aInvalidEvery-th breaks the level's range.
  void MakeLog(uint32_t aRecords, uint32_t aInvalidEvery = 0) {
    kit::TLogOptions o;
    o.Records = aRecords;
    o.InvalidEvery = aInvalidEvery;
    kit::FillLogTable(*Db, u"Log", o);
    // The files on disk are what the recover reads: nothing of the table stays open.
    ASSERT_EQ(Session->CloseInactiveTables(), 0u);
  }
  std::string Path(const char* aTable = "Log") const { return (Dir.Path / (std::string(aTable) + ".zf1")).string(); }
  // The blocks of the log table file with their signature and owner.
  std::vector<std::pair<uint32_t, std::string>> Blocks() const {
    std::vector<std::pair<uint32_t, std::string>> list;
    kit::WalkTable(Path(), [&](uint32_t aBlock, const std::string& aSig, int32_t, bool) { list.emplace_back(aBlock, aSig); });
    return list;
  }
  uint32_t FirstBlock(const std::string& aSignature, uint32_t aFrom = 1) const {
    for (auto& [n, sig] : Blocks())
      if (sig == aSignature && n >= aFrom) return n;
    ADD_FAILURE() << "no block " << aSignature;
    return 0;
  }
  void Damage(std::vector<uint32_t> aBlocks, kit::TDamageMode aMode) {
    ASSERT_EQ(Session->CloseInactiveTables(), 0u);
    const std::string tmp = Path() + ".tmp";
    kit::DamageTable(Path(), tmp, std::move(aBlocks), aMode, 7);
    std::filesystem::rename(tmp, Path());
  }
  // The IDs of every record of aTable (a missing table: none).
  std::set<int32_t> Ids(const UnicodeString& aTable) {
    std::set<int32_t> ids;
    TzfServerTableCursor* c = nullptr;
    if (zfOpenTableCursor(Db, aTable, u"", omReadOnly, smShared, 2000, c) != 0) return ids;
    uint8_t* rec = c->RecordBufferAlloc();
    EXPECT_EQ(c->SetToBegin(), 0u);
    while (c->RecordGetNext(zfltNoLock, rec) == 0) ids.insert(c->GetFieldAsVariant(rec, 0).AsInteger());
    c->RecordBufferFree(rec);
    c->Free();
    return ids;
  }
  static void WaitFor(TzfAbstractTaskInfo* aTask, TzfTaskStatus& aStatus) {
    bool done = false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!done && std::chrono::steady_clock::now() < until) {
      ASSERT_EQ(aTask->GetStatus(done, aStatus), 0u);
      if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(done);
  }
  TOutcome Recover() {
    TOutcome o;
    TzfAbstractTaskInfo* task = nullptr;
    o.Code = Db->TableRecover(u"Log", u"", task);
    if (o.Code != 0) {
      EXPECT_EQ(task, nullptr);
      return o;
    }
    EXPECT_NE(task, nullptr);
    WaitFor(task, o.Status);
    task->Free();
    o.Recovered = Ids(u"Log_Recovered");
    o.Failed = Ids(u"Log_Failed");
    return o;
  }
  // The IDs of the source's records by the block that holds them (a record's bookmark is its
  // reference: block number in the high 32 bits).
  std::map<uint32_t, std::set<int32_t>> IdsByBlock() {
    std::map<uint32_t, std::set<int32_t>> byBlock;
    TzfAbstractCursor* c = nullptr;
    EXPECT_EQ(Db->CursorOpen(c, u"Log", u"", omReadOnly, smShared, 2000, false), 0u);
    uint8_t* rec = c->RecordBufferAlloc();
    EXPECT_EQ(c->SetToBegin(), 0u);
    uint8_t bookmark[8];
    while (c->RecordGetNext(zfltNoLock, rec) == 0) {
      EXPECT_EQ(c->GetBookmark(bookmark, 8), 0u);
      byBlock[zfRefBlock(int64_t(zfGetLE64(bookmark)))].insert(c->GetFieldAsVariant(rec, 0).AsInteger());
    }
    c->RecordBufferFree(rec);
    c->Free();
    EXPECT_EQ(Session->CloseInactiveTables(), 0u);
    return byBlock;
  }
  // Starts the recover of "Log" with the event log in aLog, lets aBeforeStart attach to the
  // first node's cursors, waits for the end and calls aBeforeFree (the node's cursors still stand).
  TzfTaskStatus RunRecover(CaptureLog& aLog, const std::function<void(TzfServerRecoverNode&)>& aBeforeStart,
                           const std::function<void()>& aBeforeFree = nullptr) {
    Engine->SetEventLog(&aLog);
    Engine->SetEventLogEnabled(true);
    TzfTaskStatus status;
    TzfAbstractTaskInfo* task = nullptr;
    EXPECT_EQ(Db->sdTableRecover(u"Log", u"", task), 0u);
    if (task) {
      auto* recover = static_cast<TzfServerRecoverTaskInfo*>(task);
      aBeforeStart(*recover->Container()->srcNodes[0]);
      recover->StartThread(2000);
      WaitFor(task, status);
      if (aBeforeFree) aBeforeFree();
      task->Free();
    }
    Engine->SetEventLog(nullptr);
    return status;
  }
  uint32_t FileBlocks(const char* aTable = "Log") const {
    return uint32_t(std::filesystem::file_size(Path(aTable)) / 4096);
  }
  static std::set<int32_t> Range(int32_t aFrom, int32_t aTo) {
    std::set<int32_t> s;
    for (int32_t i = aFrom; i <= aTo; ++i) s.insert(i);
    return s;
  }

  TzfServerSession* Session = nullptr;
  TzfServerDatabase* Db = nullptr;
};

TEST_F(TableRecover, UndamagedTableSplitsByValidationAndCountsEveryBlock) {
  MakeLog(600, 10);
  const uint32_t total = FileBlocks();
  const TOutcome o = Recover();
  ASSERT_EQ(o.Code, 0u);
  EXPECT_EQ(o.Status.tsErrorCode, 0u);
  EXPECT_EQ(o.Status.tsTotalRecs, total) << "one file holds the records: all its blocks are walked";
  EXPECT_EQ(o.Status.tsRecsRead, total);
  EXPECT_EQ(o.Status.tsRecsWritten, total);
  EXPECT_EQ(o.Status.tsPercentDone, 100);
  std::set<int32_t> invalid, valid;
  for (int32_t id = 1; id <= 600; ++id) (id % 10 == 0 ? invalid : valid).insert(id);
  EXPECT_EQ(o.Recovered, valid);
  EXPECT_EQ(o.Failed, invalid) << "records the validation refuses land in the failed table";
}

TEST_F(TableRecover, DamagedBlocksLoseOnlyTheirOwnRecords) {
  MakeLog(1500);
  const uint32_t record = FirstBlock("ZFDH", 5);
  const uint32_t index = FirstBlock("ZFIH");
  const std::set<int32_t> inBlock = IdsByBlock()[record];
  ASSERT_FALSE(inBlock.empty());
  Damage({record, index}, kit::TDamageMode::Zero);
  const uint32_t total = FileBlocks();
  CaptureLog log;
  Engine->SetEventLog(&log);
  Engine->SetEventLogEnabled(true);
  const TOutcome o = Recover();
  Engine->SetEventLog(nullptr);
  EXPECT_TRUE(Logged(log, u"indexes of \"Log\" could not be opened")) << "the index failure is logged";
  ASSERT_EQ(o.Code, 0u) << "a damaged index never stops the recover from starting";
  EXPECT_EQ(o.Status.tsErrorCode, 0u);
  EXPECT_EQ(o.Status.tsRecsRead, total);
  EXPECT_EQ(o.Status.tsRecsWritten, total) << "a zeroed block is still a readable block";
  std::set<int32_t> expected = Range(1, 1500);
  for (int32_t id : inBlock) expected.erase(id);
  EXPECT_EQ(o.Recovered, expected);
  EXPECT_TRUE(o.Failed.empty());
}

// Whatever a record block holds after damage, the walk ends clean, counts every block, and the
// records of every other block are all recovered. An owner ID beyond anything the table names
// (checked against the owner map) makes the block one of no known owner.
TEST_F(TableRecover, AnyDamageOfOneRecordBlockSparesTheOthers) {
  struct TCase {
    const char* Name;
    std::function<void(TableRecover&, uint32_t)> Spoil;
  };
  auto damage = [](kit::TDamageMode aMode) {
    return [aMode](TableRecover& t, uint32_t aBlock) { t.Damage({aBlock}, aMode); };
  };
  const TCase cases[] = {
      {"zero", damage(kit::TDamageMode::Zero)},
      {"random", damage(kit::TDamageMode::Random)},
      {"bitflip", damage(kit::TDamageMode::BitFlip)},
      {"owner far beyond the map",
       [](TableRecover& t, uint32_t aBlock) {
         std::fstream f(t.Path(), std::ios::in | std::ios::out | std::ios::binary);
         uint8_t owner[4];
         zfPutLE32(owner, 0x7FFFFFF0u);
         f.seekp(std::streamoff(aBlock) * 4096 + 4092);  // the owner ID in the block's trailer
         f.write(reinterpret_cast<const char*>(owner), 4);
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    MakeLog(800);
    const uint32_t record = FirstBlock("ZFDH", 5);
    auto byBlock = IdsByBlock();
    ASSERT_FALSE(byBlock[record].empty());
    std::set<int32_t> others;
    for (auto& [block, ids] : byBlock)
      if (block != record) others.insert(ids.begin(), ids.end());
    c.Spoil(*this, record);
    const uint32_t total = FileBlocks();
    const TOutcome o = Recover();
    ASSERT_EQ(o.Code, 0u);
    EXPECT_EQ(o.Status.tsErrorCode, 0u);
    EXPECT_EQ(o.Status.tsRecsRead, total);
    EXPECT_EQ(o.Status.tsRecsWritten, total);
    for (int32_t id : others) EXPECT_TRUE(o.Recovered.count(id)) << id;
    ASSERT_EQ(Session->CloseInactiveTables(), 0u);
  }
}

TEST_F(TableRecover, TruncatedTailCountsTheUnreadableBlockAsReadOnly) {
  MakeLog(1500);
  const uint32_t before = FileBlocks();
  const uint32_t cut = FirstBlock("ZFDH", before / 2);
  std::set<int32_t> kept;
  for (auto& [block, ids] : IdsByBlock())
    if (block < cut) kept.insert(ids.begin(), ids.end());
  ASSERT_LT(kept.size(), 1500u);
  // Cut in the middle of block `cut`: a partial tail block the walk cannot read.
  std::filesystem::resize_file(Path(), uint64_t(cut) * 4096 + 1000);
  CaptureLog log;
  Engine->SetEventLog(&log);
  Engine->SetEventLogEnabled(true);
  const TOutcome o = Recover();
  Engine->SetEventLog(nullptr);
  EXPECT_TRUE(Logged(log, u"Log.zf1\", block " + rtl::IntToStr(int64_t(cut)) + u" could not be read"))
      << "the unreadable block is logged with its file and number";
  ASSERT_EQ(o.Code, 0u);
  EXPECT_EQ(o.Status.tsTotalRecs, cut);
  EXPECT_EQ(o.Status.tsRecsRead, cut + 1);
  EXPECT_EQ(o.Status.tsRecsWritten, cut);
  EXPECT_EQ(o.Recovered, kept);
}

TEST_F(TableRecover, DeletedRecordsStayDeletedAndOldTargetsAreOverwritten) {
  MakeLog(300);
  {
    TzfAbstractCursor* c = nullptr;
    ASSERT_EQ(Db->CursorOpen(c, u"Log", u"", omReadWrite, smShared, 2000, false), 0u);
    uint8_t* rec = c->RecordBufferAlloc();
    ASSERT_EQ(c->SetToBegin(), 0u);
    for (int32_t i = 0; i < 300 && c->RecordGetNext(zfltNoLock, rec) == 0; ++i)
      if (c->GetFieldAsVariant(rec, 0).AsInteger() % 3 == 0) {
        ASSERT_EQ(c->RecordDelete(rec), 0u);
      }
    c->RecordBufferFree(rec);
    c->Free();
  }
  // Earlier results under both names.
  kit::TLogOptions old;
  old.Records = 5;
  kit::FillLogTable(*Db, u"Log_Recovered", old);
  kit::FillLogTable(*Db, u"Log_Failed", old);
  ASSERT_EQ(Session->CloseInactiveTables(), 0u);
  const TOutcome o = Recover();
  ASSERT_EQ(o.Code, 0u);
  std::set<int32_t> expected;
  for (int32_t id = 1; id <= 300; ++id)
    if (id % 3 != 0) expected.insert(id);
  EXPECT_EQ(o.Recovered, expected);
  EXPECT_TRUE(o.Failed.empty());
}

TEST_F(TableRecover, AutoIncCounterEndsAtLeastAtTheLargestSalvagedValue) {
  MakeLog(200);
  {
    // The source's counter is behind its records (as a damaged header may leave it).
    TzfAbstractCursor* c = nullptr;
    ASSERT_EQ(Db->CursorOpen(c, u"Log", u"", omReadWrite, smExclusive, 2000, false), 0u);
    ASSERT_EQ(c->AutoIncSet(20), 0u);
    c->Free();
    ASSERT_EQ(Session->CloseInactiveTables(), 0u);
  }
  const TOutcome o = Recover();
  ASSERT_EQ(o.Code, 0u);
  ASSERT_EQ(o.Recovered.size(), 200u);
  TzfAbstractCursor* c = nullptr;
  ASSERT_EQ(Db->CursorOpen(c, u"Log_Recovered", u"", omReadWrite, smShared, 2000, false), 0u);
  uint32_t value = 0;
  ASSERT_EQ(c->AutoIncGet(value), 0u);
  EXPECT_GE(value, 200u);
  // A new record gets an ID no salvaged record has.
  uint8_t* rec = c->RecordBufferAlloc();
  c->SetFieldFromVariant(rec, 2, rtl::Variant(int32_t(1)));
  ASSERT_EQ(c->RecordInsert(zfltNoLock, rec), 0u);
  EXPECT_GT(c->GetFieldAsVariant(rec, 0).AsInteger(), 200);
  c->RecordBufferFree(rec);
  c->Free();
}

TEST_F(TableRecover, NamedStreamsAreCopiedButNotTheDictionaryOrTheName) {
  MakeLog(10);
  {
    TzfServerRootTable* root = nullptr;
    bool readOnly = false;
    ASSERT_EQ(Db->sdGetTable(root, u"Log", u"", false, readOnly), 0u);
    TzfServerTransaction trans(Engine->seBufferManager.get(), nullptr, nullptr, false, false);
    for (const char16_t* name : {u"Notes", u"$TableName"}) {
      TzfMemoryStream ms;
      const std::string text = "content of the stream";
      ms.Write(text.data(), int32_t(text.size()));
      ms.SetPosition(0);
      ASSERT_EQ(root->srtStreamEngine->WriteNamedStream(&trans, name, ms), 0u);
    }
    trans.Commit();
    ASSERT_EQ(Session->CloseInactiveTables(), 0u);
  }
  ASSERT_EQ(Recover().Code, 0u);
  TzfServerRootTable* root = nullptr;
  bool readOnly = false;
  ASSERT_EQ(Db->sdGetTable(root, u"Log_Recovered", u"", false, readOnly), 0u);
  rtl::TStringList names;
  ASSERT_EQ(root->srtStreamEngine->GetNamedStreamList(nullptr, names), 0u);
  std::set<std::u16string> got;
  for (int32_t i = 0; i < names.Count(); ++i) got.insert(names[i]);
  EXPECT_TRUE(got.count(u"Notes"));
  TzfMemoryStream ms;
  ASSERT_EQ(root->srtStreamEngine->ReadNamedStream(nullptr, u"Notes", ms), 0u);
  EXPECT_EQ(ms.Size(), 21);
  // The recovered table keeps its own name stream.
  TzfMemoryStream name;
  if (root->srtStreamEngine->ReadNamedStream(nullptr, u"$TableName", name) == 0) {
    EXPECT_NE(name.Size(), 21);
  }
}

// The memo of every record of aTable by ID ("" for NULL).
std::map<int32_t, std::string> Memos(TzfServerDatabase* aDb, const UnicodeString& aTable) {
  std::map<int32_t, std::string> memos;
  TzfAbstractCursor* c = nullptr;
  if (aDb->CursorOpen(c, aTable, u"", omReadOnly, smShared, 2000, false) != 0) return memos;
  uint8_t* rec = c->RecordBufferAlloc();
  EXPECT_EQ(c->SetToBegin(), 0u);
  while (c->RecordGetNext(zfltNoLock, rec) == 0) {
    const int32_t id = c->GetFieldAsVariant(rec, 0).AsInteger();
    bool isNull = true;
    int64_t blob = 0;
    c->acGetTableDescriptor()->tdFieldsDescriptor->GetRecordField(4, rec, isNull, &blob);
    std::string memo;
    if (!isNull) {
      uint32_t len = 0;
      EXPECT_EQ(c->BlobGetLength(4, blob, len, false), 0u);
      TzfMemoryStream ms;
      EXPECT_EQ(c->BlobRead(4, blob, 0, len, ms, false), 0u);
      memo.assign(static_cast<const char*>(ms.Memory()), size_t(ms.Size()));
      EXPECT_FALSE(memo.empty());
    }
    memos[id] = memo;
  }
  c->RecordBufferFree(rec);
  c->Free();
  return memos;
}

TEST_F(TableRecover, BlobsTravelWithTheirRecordsAndABrokenOneSendsItsRecordToFailed) {
  kit::TLogOptions o;
  o.Records = 400;
  o.InvalidEvery = 10;
  o.MemoEvery = 3;
  kit::FillLogTable(*Db, u"Log", o);
  const std::map<int32_t, std::string> source = Memos(Db, u"Log");
  ASSERT_EQ(Session->CloseInactiveTables(), 0u);
  // A BLOB block in the middle of the file.
  std::vector<uint32_t> blobBlocks;
  for (auto& [n, sig] : Blocks())
    if (sig == "ZFHD") blobBlocks.push_back(n);
  ASSERT_GT(blobBlocks.size(), 4u);
  Damage({blobBlocks[blobBlocks.size() / 2]}, kit::TDamageMode::Zero);
  ASSERT_EQ(Recover().Code, 0u);
  const std::map<int32_t, std::string> recovered = Memos(Db, u"Log_Recovered");
  const std::map<int32_t, std::string> failed = Memos(Db, u"Log_Failed");
  EXPECT_EQ(recovered.size() + failed.size(), 400u);
  for (auto& [id, memo] : recovered) {
    EXPECT_NE(id % 10, 0) << id;
    EXPECT_EQ(memo, source.at(id)) << id;
  }
  int broken = 0, invalidWithMemo = 0;
  for (auto& [id, memo] : failed) {
    ASSERT_FALSE(recovered.count(id)) << id;
    if (id % 10 != 0) {
      // A valid record fails only for its BLOB: that BLOB is NULL here.
      EXPECT_FALSE(source.at(id).empty()) << id;
      EXPECT_TRUE(memo.empty()) << id;
      ++broken;
    } else if (!memo.empty()) {
      EXPECT_EQ(memo, source.at(id)) << "a refused record keeps the BLOBs that copy: " << id;
      ++invalidWithMemo;
    }
  }
  EXPECT_GT(broken, 0) << "the zeroed block held some record's BLOB";
  EXPECT_GT(invalidWithMemo, 0);
}

// Both targets are ordinary tables afterwards: every record of each can be deleted again. The failed
// table has no index, so its delete-all walks the variable-length records in file order, stepping
// on from each record it has just deleted.
TEST_F(TableRecover, BothTargetsCanBeEmptiedAfterwards) {
  kit::TLogOptions o;
  o.Records = 24;
  o.InvalidEvery = 6;
  o.MemoEvery = 8;
  kit::FillLogTable(*Db, u"Log", o);
  ASSERT_EQ(Session->CloseInactiveTables(), 0u);
  const TOutcome out = Recover();
  ASSERT_EQ(out.Code, 0u);
  ASSERT_EQ(out.Status.tsErrorCode, 0u);
  ASSERT_EQ(out.Failed, (std::set<int32_t>{6, 12, 18, 24}));
  for (const char16_t* name : {u"Log_Recovered", u"Log_Failed"}) {
    SCOPED_TRACE(rtl::u8(name));
    TzfAbstractCursor* c = nullptr;
    ASSERT_EQ(Db->CursorOpen(c, name, u"", omReadWrite, smShared, 2000, false), 0u);
    EXPECT_EQ(c->DeleteRecords(), 0u);
    uint32_t n = 1;
    EXPECT_EQ(c->GetRecordCount(n, false), 0u);
    EXPECT_EQ(n, 0u);
    c->Free();
  }
}

// A record block edited so that two records carry the same ID: the unique index of the recovered
// table refuses the second, which lands in the failed table.
TEST_F(TableRecover, KeyViolationsLandInTheFailedTable) {
  MakeLog(200);
  // The record of ID 50 as stored: its bytes are found in its block and its ID set to 10.
  std::vector<uint8_t> record;
  {
    TzfAbstractCursor* c = nullptr;
    ASSERT_EQ(Db->CursorOpen(c, u"Log", u"", omReadOnly, smShared, 2000, false), 0u);
    uint8_t* rec = c->RecordBufferAlloc();
    ASSERT_EQ(c->SetToBegin(), 0u);
    while (c->RecordGetNext(zfltNoLock, rec) == 0)
      if (c->GetFieldAsVariant(rec, 0).AsInteger() == 50) {
        record.assign(rec, rec + c->acGetTableDescriptor()->tdFieldsDescriptor->GetRecordLength());
        break;
      }
    c->RecordBufferFree(rec);
    c->Free();
    ASSERT_EQ(Session->CloseInactiveTables(), 0u);
  }
  ASSERT_FALSE(record.empty());
  std::vector<uint8_t> file;
  {
    std::ifstream in(Path(), std::ios::binary);
    file.assign(std::istreambuf_iterator<char>(in), {});
  }
  auto at = std::search(file.begin(), file.end(), record.begin(), record.end());
  ASSERT_NE(at, file.end()) << "records are stored as their buffers";
  zfPutLE32(&*at, 10);
  {
    std::ofstream out(Path(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  }
  const TOutcome o = Recover();
  ASSERT_EQ(o.Code, 0u);
  std::set<int32_t> expected = Range(1, 200);
  expected.erase(50);
  EXPECT_EQ(o.Recovered, expected);
  EXPECT_EQ(o.Failed, std::set<int32_t>{10}) << "the second record with ID 10";
}

// What a recover left in aTable: its records (every field's value as text, a BLOB as whether it is
// set) in storage order and in the order of each of its indexes (by name), and its record count.
struct TTableContents {
  int64_t Count = -1;
  std::map<UnicodeString, std::vector<std::vector<UnicodeString>>> ByIndex;
  bool operator==(const TTableContents&) const = default;
};

TTableContents Contents(TzfServerDatabase* aDb, const UnicodeString& aTable) {
  TTableContents t;
  TzfDataDictionary dict;
  if (aDb->TableGetDictionary(aTable, u"", &dict) != 0) return t;
  std::vector<UnicodeString> indexes{u""};
  if (dict.tdIndicesDescriptor)
    for (auto& d : dict.tdIndicesDescriptor->IndexDescriptor) indexes.push_back(d->idName);
  TzfAbstractCursor* c = nullptr;
  EXPECT_EQ(aDb->CursorOpen(c, aTable, u"", omReadOnly, smShared, 2000, false), 0u);
  if (!c) return t;
  TzfFieldsDescriptor& fields = *c->acGetTableDescriptor()->tdFieldsDescriptor;
  uint32_t count = 0;
  EXPECT_EQ(c->GetRecordCount(count, false), 0u);
  t.Count = count;
  uint8_t* rec = c->RecordBufferAlloc();
  for (const UnicodeString& index : indexes) {
    EXPECT_EQ(c->SwitchToIndex(index, -1, false), 0u) << rtl::u8(index);
    EXPECT_EQ(c->SetToBegin(), 0u);
    auto& records = t.ByIndex[index];
    while (c->RecordGetNext(zfltNoLock, rec) == 0) {
      std::vector<UnicodeString> values;
      for (int32_t k = 0; k < fields.GetFieldCount(); ++k)
        values.push_back(fields.Field(k)->fdType == zftBlobMemo ? UnicodeString(fields.IsRecordFieldNullFast(k, rec) ? u"-" : u"memo")
                                                                : rtl::VarToStr(c->GetFieldAsVariant(rec, k)));
      records.push_back(std::move(values));
    }
  }
  c->RecordBufferFree(rec);
  c->Free();
  return t;
}

// A log table like kit::FillLogTable's with two more unique indexes: "ByText" over Text, letter
// case ignored, and "ByStamp". Record i has ID i + 1, the text "entry <ID>" and a stamp of its own;
// every aInvalidEvery-th breaks the level's range, every aMemoEvery-th has a memo.
void MakeIndexedLog(TzfServerDatabase* aDb, int32_t aRecords, int32_t aInvalidEvery, int32_t aMemoEvery) {
  auto dict = kit::LogDictionary();
  TzfIndexDescriptor* text = dict->tdIndicesDescriptor->AddIndex(u"ByText", 0, idNone, u"");
  static_cast<TzfTextKeyFieldDescriptor*>(dynamic_cast<TzfCompKeyDescriptor&>(*text->idKeyDescriptor)
                                              .Add(3, &TzfTextKeyFieldDescriptor::ClassInfo()))
      ->SetIgnoreCase(true);
  TzfIndexDescriptor* stamp = dict->tdIndicesDescriptor->AddIndex(u"ByStamp", 0, idNone, u"");
  dynamic_cast<TzfCompKeyDescriptor&>(*stamp->idKeyDescriptor).Add(1);
  ASSERT_EQ(aDb->TableBuild(true, u"Log", u"", dict.get(), tsPersistent, false), 0u);
  TzfAbstractCursor* c = nullptr;
  ASSERT_EQ(aDb->CursorOpen(c, u"Log", u"", omReadWrite, smExclusive, 2000, false), 0u);
  ASSERT_EQ(aDb->TransContext()->TransactionStart(false, false), 0u);
  for (int32_t i = 0; i < aRecords; ++i) {
    uint8_t* rec = c->RecordBufferAlloc();
    const bool invalid = i % aInvalidEvery == aInvalidEvery - 1;
    c->SetFieldFromVariant(rec, 1, rtl::Variant::FromDate(46000.0 + double(i) / 1440.0));
    c->SetFieldFromVariant(rec, 2, rtl::Variant(int32_t(invalid ? kit::kLogLevelMax + 1 : i % kit::kLogLevelMax)));
    c->SetFieldFromVariant(rec, 3, rtl::Variant(u"entry " + rtl::IntToStr(int64_t(i) + 1)));
    if (i % aMemoEvery == 0) {
      const std::string memo = "memo of record " + std::to_string(i);
      int64_t blob = 0;
      ASSERT_EQ(c->BlobCreate(4, blob), 0u);
      ASSERT_EQ(c->BlobWrite(4, blob, 0, uint32_t(memo.size()), memo.data()), 0u);
      c->acGetTableDescriptor()->tdFieldsDescriptor->SetRecordField(4, rec, &blob);
    }
    // The invalid ones are inserted without validation.
    ASSERT_EQ(c->OptionSet(u"INSERT_OPTIONS_VALIDATE", invalid ? u"False" : u"True"), 0u);
    ASSERT_EQ(c->RecordInsert(zfltNoLock, rec), 0u);
    c->RecordBufferFree(rec);
  }
  ASSERT_EQ(aDb->TransContext()->TransactionCommit(), 0u);
  c->Free();
}

// One change of a stored record: field aField of the record with ID aOnto takes aValue.
struct TEdit {
  int32_t Onto;
  int32_t Field;
  rtl::Variant Value;
};

// The recovered table's keys built in bulk after the walk (the unique indexes deciding refusals
// from the keys placed so far) against every key kept record by record, on damaged tables with
// duplicate keys: the first record of a key in walk order stays and the later ones go to the
// failed table either way, and both tables come out alike, index by index.
TEST_F(TableRecover, BulkBuiltKeysMatchARecordByRecordRun) {
  struct TCase {
    const char* Name;
    bool Indexed;  // MakeIndexedLog's table, else kit::FillLogTable's
    std::vector<TEdit> Edits;
    std::vector<int32_t> MustFail, MustStay;
  };
  const auto id = [](int32_t aID) { return rtl::Variant(aID); };
  const auto text = [](const char16_t* aText) { return rtl::Variant(UnicodeString(aText)); };
  const std::vector<TCase> cases{
      // IDs copied onto later records (those fail unless the original is lost), onto earlier ones
      // (the earlier copy stays, the original fails), onto the record after one the validation
      // refuses, and from a record the validation refuses.
      {"ids",
       false,
       {{700, 0, id(10)}, {2900, 0, id(20)}, {30, 0, id(2500)}, {1201, 0, id(1200)}, {1517, 0, id(1500)},
        {83, 0, id(82)}, {123, 0, id(2999)}},
       {1200, 1500},
       {82}},
      // Texts equal to another's but for letter case, onto later, earlier and refused records; a
      // stamp repeated, so the last unique index refuses a record the others had already taken
      // (its ID and text are then free for a later record that repeats them); an ID copy too.
      {"case-insensitive text and a second unique index",
       true,
       {{700, 3, text(u"ENTRY 100")},
        {300, 3, text(u"Entry 1800")},
        {83, 3, text(u"entry 82")},
        {124, 3, text(u"eNtRy 123")},
        {900, 1, rtl::Variant::FromDate(46000.0 + 499.0 / 1440.0)},
        {1300, 0, id(900)},
        {1301, 3, text(u"ENTRY 900")},
        {1700, 0, id(1650)}},
       {700, 1800, 900, 1650},
       {300, 83, 124, 900, 1301, 1650}},
  };
  for (const TCase& tc : cases) {
    SCOPED_TRACE(tc.Name);
    if (tc.Indexed) {
      MakeIndexedLog(Db, 2000, 41, 9);
      ASSERT_EQ(Session->CloseInactiveTables(), 0u);
    } else {
      MakeLog(3000, 41);
    }
    // The stored bytes of every record by ID (records are stored as their buffers), and the same
    // with the case's changes.
    std::map<int32_t, std::vector<uint8_t>> stored, edited;
    {
      TzfAbstractCursor* c = nullptr;
      ASSERT_EQ(Db->CursorOpen(c, u"Log", u"", omReadOnly, smShared, 2000, false), 0u);
      const size_t length = size_t(c->acGetTableDescriptor()->tdFieldsDescriptor->GetRecordLength());
      uint8_t* rec = c->RecordBufferAlloc();
      ASSERT_EQ(c->SetToBegin(), 0u);
      while (c->RecordGetNext(zfltNoLock, rec) == 0)
        stored[c->GetFieldAsVariant(rec, 0).AsInteger()].assign(rec, rec + length);
      for (const TEdit& e : tc.Edits) {
        if (!edited.count(e.Onto)) edited[e.Onto] = stored.at(e.Onto);
        c->SetFieldFromVariant(edited[e.Onto].data(), e.Field, e.Value);
      }
      c->RecordBufferFree(rec);
      c->Free();
      ASSERT_EQ(Session->CloseInactiveTables(), 0u);
    }
    // The first record block is lost, and one further on.
    Damage({FirstBlock("ZFDH", 3), FirstBlock("ZFDH", 40), FirstBlock("ZFIH")}, kit::TDamageMode::Zero);
    std::vector<uint8_t> file;
    {
      std::ifstream in(Path(), std::ios::binary);
      file.assign(std::istreambuf_iterator<char>(in), {});
    }
    for (const auto& [onto, bytes] : edited) {
      const std::vector<uint8_t>& record = stored.at(onto);
      auto at = std::search(file.begin(), file.end(), record.begin(), record.end());
      if (at != file.end()) std::copy(bytes.begin(), bytes.end(), at);  // none: its block was damaged
    }
    {
      std::ofstream out(Path(), std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    }
    const std::string damaged = Path() + ".damaged";
    std::filesystem::copy_file(Path(), damaged, std::filesystem::copy_options::overwrite_existing);

    struct TRun {
      TOutcome Outcome;
      TTableContents Recovered, Failed;
    };
    auto run = [&](bool aBulk) {
      TzfServerRecoverContainer::BulkKeys = aBulk;
      TRun r;
      r.Outcome = Recover();
      TzfServerRecoverContainer::BulkKeys = true;
      r.Recovered = Contents(Db, u"Log_Recovered");
      r.Failed = Contents(Db, u"Log_Failed");
      EXPECT_EQ(Session->CloseInactiveTables(), 0u);
      return r;
    };
    const TRun single = run(false);
    std::filesystem::copy_file(damaged, Path(), std::filesystem::copy_options::overwrite_existing);
    const TRun bulk = run(true);
    std::filesystem::remove(damaged);
    ASSERT_EQ(bulk.Outcome.Code, 0u);
    ASSERT_EQ(single.Outcome.Code, 0u);
    EXPECT_EQ(bulk.Outcome.Status.tsErrorCode, 0u);
    EXPECT_EQ(single.Outcome.Status.tsErrorCode, 0u);
    EXPECT_EQ(bulk.Outcome.Status.tsRecsRead, single.Outcome.Status.tsRecsRead);
    EXPECT_EQ(bulk.Outcome.Status.tsRecsWritten, single.Outcome.Status.tsRecsWritten);
    // The case's own expectations hold for the record-by-record run (so the fixture shows what it
    // means to), and the bulk run agrees with it record for record.
    for (const int32_t f : tc.MustFail) EXPECT_TRUE(single.Outcome.Failed.count(f)) << "fails: " << f;
    for (const int32_t k : tc.MustStay) EXPECT_TRUE(single.Outcome.Recovered.count(k)) << "stays: " << k;
    EXPECT_EQ(bulk.Outcome.Recovered, single.Outcome.Recovered);
    EXPECT_EQ(bulk.Outcome.Failed, single.Outcome.Failed);
    EXPECT_GT(bulk.Recovered.Count, 1500);
    EXPECT_EQ(bulk.Recovered.ByIndex.size(), single.Recovered.ByIndex.size());
    for (const auto& [index, records] : single.Recovered.ByIndex) {
      SCOPED_TRACE(rtl::u8(index));
      EXPECT_EQ(records.size(), size_t(single.Recovered.Count));
      EXPECT_TRUE(bulk.Recovered.ByIndex.count(index) && bulk.Recovered.ByIndex.at(index) == records);
    }
    EXPECT_TRUE(bulk.Recovered == single.Recovered);
    EXPECT_TRUE(bulk.Failed == single.Failed);
  }
}

// Nested tables have nodes of their own: their records go to the same nested tables of the new
// tables, found through the owner IDs of their blocks.
TEST_F(TableRecover, NestedTablesAreSalvagedIntoTheirOwnNestedTables) {
  auto dict = SmallDictionary(0, 1);  // "Sub1" with "Deep" inside
  ASSERT_EQ(Db->TableBuild(true, u"Log", u"", dict.get(), tsPersistent, false), 0u);
  struct TFill {
    const char16_t* Table;
    int32_t Count;
  };
  for (const TFill& f : {TFill{u"Log", 120}, TFill{u"Log:Sub1", 70}, TFill{u"Log:Sub1:Deep", 30}}) {
    TzfServerTableCursor* c = nullptr;
    ASSERT_EQ(zfOpenTableCursor(Db, f.Table, u"", omReadWrite, smShared, 2000, c), 0u);
    uint8_t* rec = c->RecordBufferAlloc();
    for (int32_t i = 1; i <= f.Count; ++i) {
      c->SetFieldFromVariant(rec, 0, rtl::Variant(i));
      ASSERT_EQ(c->RecordInsert(zfltNoLock, rec), 0u);
    }
    c->RecordBufferFree(rec);
    c->Free();
  }
  ASSERT_EQ(Session->CloseInactiveTables(), 0u);
  const TOutcome o = Recover();
  ASSERT_EQ(o.Code, 0u);
  EXPECT_EQ(o.Recovered, Range(1, 120));
  EXPECT_EQ(Ids(u"Log_Recovered:Sub1"), Range(1, 70));
  EXPECT_EQ(Ids(u"Log_Recovered:Sub1:Deep"), Range(1, 30));
  EXPECT_TRUE(Ids(u"Log_Failed:Sub1").empty());
}

// Refuses the inserts of chosen IDs on the cursor it is attached to (the cursor frees it): with a
// code, by throwing, or as a write error that leaves the cursor's transaction broken, as the
// storage layer does when the target's files cannot be written.
class TInsertRefusal : public TzfBaseEngineExtender {
 public:
  enum TKind { rkCode, rkThrow, rkBrokenTransaction };
  TInsertRefusal(TzfServerTableCursor* aCursor, std::set<int32_t> aIds, TKind aKind, uint32_t aCode = 0)
      : TzfBaseEngineExtender(nullptr, aCursor), FCursor(aCursor), FIds(std::move(aIds)), FKind(aKind), FCode(aCode) {}
  uint32_t Notify(TzfEngineAction aAction, bool aBefore, const TzfActionArgs& aArgs) override {
    if (aAction != eaRecordInsert || !aBefore || aArgs.size() < 2) return 0;
    const auto* data = std::any_cast<const uint8_t*>(&aArgs[1]);
    if (!data || !FIds.count(FCursor->GetFieldAsVariant(*data, 0).AsInteger())) return 0;
    ++Refused;
    switch (FKind) {
      case rkThrow:
        throw rtl::Exception(u"refused by a test");
      case rkBrokenTransaction:
        if (TzfServerTransaction* t = FCursor->stcTransContext()->Transaction()) t->Failed();
        return zfErrWriteErr;
      default:
        return FCode;
    }
  }
  std::atomic<int> Refused{0};

 private:
  TzfServerTableCursor* FCursor;
  std::set<int32_t> FIds;
  TKind FKind;
  uint32_t FCode;
};

// The placement of salvaged records when an insert fails, table-driven: a refusal that may have
// left writes (any code but a validation or key refusal, or an exception) sends the block through
// the record-by-record road again, where only the refused record goes to the failed table and
// the block's other records are recovered; a record that neither table takes is logged and
// skipped while the walk goes on; a write error that breaks the target's transaction stops the
// walk with its code, so the run never reads as a success.
TEST_F(TableRecover, RecordsAnInsertRefusesAreRedoneFailedOrSkipped) {
  MakeLog(600);
  const std::set<int32_t> all = Range(1, 600);
  const std::set<int32_t> refused{77, 78, 301};
  struct TCase {
    const char* Name;
    TInsertRefusal::TKind TargetKind;
    uint32_t TargetCode;
    bool FailedRefuses;          // the failed table refuses the same records (with the same kind)
    bool Redo;                   // the blocks of the refused records are walked a second time
    std::set<int32_t> Failed;    // expected in "_Failed"
    bool Skipped;                // "neither table takes" logged
    bool Stops;                  // the walk stops with the code
  } cases[] = {
      {"a validation refusal: no redo", TInsertRefusal::rkCode, zfErrMinValErr, false, false, refused, false, false},
      {"a refusal that may have left writes: the block is redone", TInsertRefusal::rkCode, 7777, false, true, refused,
       false, false},
      {"an exception during the insert: the block is redone", TInsertRefusal::rkThrow, 0, false, true, refused, false,
       false},
      {"neither table takes the record", TInsertRefusal::rkCode, 7777, true, true, {}, true, false},
      {"neither table, by exceptions", TInsertRefusal::rkThrow, 0, true, true, {}, true, false},
      {"a write error breaks the target's transaction", TInsertRefusal::rkBrokenTransaction, 0, false, false, {},
       false, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    CaptureLog log;
    TInsertRefusal* target = nullptr;
    int targetRefusals = 0;
    const TzfTaskStatus status = RunRecover(
        log,
        [&](TzfServerRecoverNode& aNode) {
          target = new TInsertRefusal(aNode.srnTargetCursor, refused, c.TargetKind, c.TargetCode);
          if (c.FailedRefuses) new TInsertRefusal(aNode.srnFailedCursor, refused, c.TargetKind, c.TargetCode);
        },
        [&] { targetRefusals = target->Refused.load(); });
    const std::set<int32_t> recovered = Ids(u"Log_Recovered"), failed = Ids(u"Log_Failed");
    if (c.Stops) {
      EXPECT_NE(status.tsErrorCode, 0u) << "a broken transaction never ends as a success";
      EXPECT_LT(status.tsRecsRead, status.tsTotalRecs) << "the walk stopped at the block";
      EXPECT_EQ(targetRefusals, 1);
      EXPECT_FALSE(recovered.count(77));
    } else {
      EXPECT_EQ(status.tsErrorCode, 0u);
      EXPECT_EQ(status.tsRecsRead, status.tsTotalRecs);
      std::set<int32_t> expected = all;
      for (int32_t id : refused) expected.erase(id);
      EXPECT_EQ(recovered, expected) << "the other records of the refused records' blocks are recovered";
      EXPECT_EQ(failed, c.Failed);
      // Every refused record is tried once more when its block is redone (a first pass over a block
      // stops at its first refused record, the second tries them all).
      if (c.Redo) {
        EXPECT_GT(targetRefusals, int(refused.size()));
      } else {
        EXPECT_EQ(targetRefusals, int(refused.size()));
      }
      EXPECT_EQ(Logged(log, u"holds a record neither table takes; skipped"), c.Skipped);
    }
    ASSERT_EQ(Session->CloseInactiveTables(), 0u);
  }
}

// A write error that breaks the target's transaction while a group is redone record by record
// (the redo asked for by an earlier refusal in the same block): the walk stops there with an error
// code, never as a success, and the broken record is not logged as one merely skipped.
TEST_F(TableRecover, AWriteErrorDuringTheRedoStopsTheWalk) {
  MakeLog(600);
  CaptureLog log;
  TInsertRefusal* broken = nullptr;
  int breaks = 0;
  const TzfTaskStatus status = RunRecover(
      log,
      [&](TzfServerRecoverNode& aNode) {
        new TInsertRefusal(aNode.srnTargetCursor, {77}, TInsertRefusal::rkCode, 7777);
        broken = new TInsertRefusal(aNode.srnTargetCursor, {78}, TInsertRefusal::rkBrokenTransaction);
      },
      [&] { breaks = broken->Refused.load(); });
  EXPECT_NE(status.tsErrorCode, 0u) << "a broken transaction never ends as a success";
  EXPECT_LT(status.tsRecsRead, status.tsTotalRecs) << "the walk stopped in the redone group";
  EXPECT_EQ(breaks, 1) << "78 is reached only in the redo, and the walk goes no further";
  EXPECT_FALSE(Ids(u"Log_Recovered").count(78));
  EXPECT_FALSE(Logged(log, u"holds a record neither table takes; skipped"));
}

// A record engine that salvages as the default one does but raises during the salvage of one
// chosen block, on the chosen passes over it (1: the group's pass, 2: the pass record by record),
// after handing on a chosen number of its records. Registered under a name of its own for the
// tables the tests below build with it.
struct TSalvageFault {
  uint32_t Block = 0;
  std::set<int> Passes;
  int After = 0;  // records handed on before the raise
  int Seen = 0;   // passes over the block so far
};
TSalvageFault* gSalvageFault = nullptr;  // set before the walk starts, read after it ended
constexpr const char16_t* kSalvageFaultEngine = u"SalvageFaults";

class TSalvageFaultEngine : public TzfStaticRecordEngine {
 public:
  using TzfStaticRecordEngine::TzfStaticRecordEngine;
  static const TzfRecordEngineClass& ClassInfo() {
    static const TzfRecordEngineClass info(
        u"TSalvageFaultEngine", &TzfStaticRecordEngine::ClassInfo(), nullptr, nullptr,
        [](TzfBaseRecordDescriptor* d, TzfFieldsDescriptor* f, TzfBaseTransaction* t,
           const TzfBlockAccessList& l) -> std::unique_ptr<TzfBaseRecordEngine> {
          return std::make_unique<TSalvageFaultEngine>(d, f, t, l);
        },
        &TzfStaticRecordEngine::CheckValidEngineDescriptor);
    return info;
  }
  const TzfRecordEngineClass& ClassType() const override { return ClassInfo(); }
  TzfRecordIteratorResult RecoverIterate(const uint8_t* aBlock, TzfBlockNumber aBlockNumber, const uint8_t** aData,
                                         const TzfRecordIterator& aIterator, void* aCookie,
                                         TzfRecoverStats* aStats) override {
    TSalvageFault* f = gSalvageFault;
    if (!f || aBlockNumber != f->Block || !f->Passes.count(++f->Seen))
      return TzfStaticRecordEngine::RecoverIterate(aBlock, aBlockNumber, aData, aIterator, aCookie, aStats);
    int handed = 0;
    TzfStaticRecordEngine::RecoverIterate(
        aBlock, aBlockNumber, aData,
        [&](void* aC, int64_t aRefNr, const uint8_t* aRecord) {
          if (handed == f->After) throw EzfBaseRecordEngineException(zfErrReadErr);
          ++handed;
          return aIterator(aC, aRefNr, aRecord);
        },
        aCookie, aStats);
    throw EzfBaseRecordEngineException(zfErrReadErr);
  }
};

struct TSalvageFaultRegistration {
  TSalvageFaultRegistration() { TzfBaseSubEngine::RegisterEngine(TSalvageFaultEngine::ClassInfo(), kSalvageFaultEngine); }
  ~TSalvageFaultRegistration() {
    gSalvageFault = nullptr;
    TzfBaseSubEngine::UnregisterEngine(TSalvageFaultEngine::ClassInfo());
  }
};

// A salvage that raises while a group is walked, or while it is redone record by record: the group
// is redone from its copies; in the redo, the records the block handed on before the raise are
// recovered, the block is logged as one that could not be salvaged with the raise's code, and the
// walk goes on with the group's other blocks and ends clean with every block counted.
TEST_F(TableRecover, SalvageRaisingInAGroupOrItsRedo) {
  TSalvageFaultRegistration registration;
  {
    auto dict = kit::LogDictionary();
    dict->AddRecordDescriptor()->brdRecordEngine = kSalvageFaultEngine;
    ASSERT_EQ(Db->TableBuild(true, u"Log", u"", dict.get(), tsPersistent, false), 0u);
    TzfServerTableCursor* c = nullptr;
    ASSERT_EQ(zfOpenTableCursor(Db, u"Log", u"", omReadWrite, smExclusive, 2000, c), 0u);
    uint8_t* rec = c->RecordBufferAlloc();
    for (int32_t i = 1; i <= 600; ++i) {
      c->SetFieldFromVariant(rec, 0, rtl::Variant(i));
      c->SetFieldFromVariant(rec, 2, rtl::Variant(int32_t(i % (kit::kLogLevelMax + 1))));
      c->SetFieldFromVariant(rec, 3, rtl::Variant(UnicodeString(u"line")));
      ASSERT_EQ(c->RecordInsert(zfltNoLock, rec), 0u);
    }
    c->RecordBufferFree(rec);
    c->Free();
    ASSERT_EQ(Session->CloseInactiveTables(), 0u);
  }
  const std::map<uint32_t, std::set<int32_t>> byBlock = IdsByBlock();
  ASSERT_GE(byBlock.size(), 4u);
  // The raise comes in the second record block; a refused insert in the fourth sends the group,
  // the faulty block within it, through the redo.
  const uint32_t faulty = std::next(byBlock.begin())->first;
  const std::set<int32_t>& faultyIds = std::next(byBlock.begin())->second;
  const int32_t later = *std::next(byBlock.begin(), 3)->second.begin();
  const uint32_t total = FileBlocks();
  struct TCase {
    const char* Name;
    std::set<int> Passes;
    int After;
    std::set<int32_t> Refused;  // by the recovered table, with a code that asks for the redo
    bool Logged;                // the block is logged as one that could not be salvaged
  } cases[] = {
      {"a raise in the group's pass only: the redo saves the whole block", {1}, 3, {}, false},
      {"a raise in both passes: what came before it is saved", {1, 2}, 3, {}, true},
      {"a raise in the redo only, a refused insert asked for it", {2}, 3, {later}, true},
      {"a raise at the block's first record in both passes", {1, 2}, 0, {}, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TSalvageFault fault;
    fault.Block = faulty;
    fault.Passes = c.Passes;
    fault.After = c.After;
    CaptureLog log;
    const TzfTaskStatus status = RunRecover(log, [&](TzfServerRecoverNode& aNode) {
      if (!c.Refused.empty()) new TInsertRefusal(aNode.srnTargetCursor, c.Refused, TInsertRefusal::rkCode, 7777);
      gSalvageFault = &fault;
    });
    gSalvageFault = nullptr;
    EXPECT_EQ(status.tsErrorCode, 0u);
    EXPECT_EQ(status.tsTotalRecs, total);
    EXPECT_EQ(status.tsRecsRead, total) << "every block is counted once, redone or not";
    EXPECT_EQ(status.tsRecsWritten, total);
    EXPECT_EQ(fault.Seen, 2) << "the faulty block is walked in the group and once more in the redo";
    std::set<int32_t> expected = Range(1, 600);
    if (c.Passes.count(2)) {
      int kept = 0;
      for (int32_t id : faultyIds)
        if (kept++ >= c.After) expected.erase(id);
    }
    for (int32_t id : c.Refused) expected.erase(id);
    EXPECT_EQ(Ids(u"Log_Recovered"), expected);
    EXPECT_EQ(Ids(u"Log_Failed"), c.Refused);
    const UnicodeString line = u"block " + rtl::IntToStr(int64_t(faulty)) + u" could not be salvaged (" +
                               rtl::IntToStr(int64_t(zfErrReadErr)) + u")";
    EXPECT_EQ(Logged(log, line), c.Logged);
    ASSERT_EQ(Session->CloseInactiveTables(), 0u);
  }
}

TEST_F(TableRecover, StartFailuresLeaveNoNewTableBehind) {
  MakeLog(20);
  struct TCase {
    const char* Name;
    std::function<uint32_t(TableRecover&, TzfAbstractTaskInfo*&)> Start;
    uint32_t Code;
  };
  const TCase cases[] = {
      {"nested name (the name check)",
       [](TableRecover& t, TzfAbstractTaskInfo*& k) { return t.Db->TableRecover(u"Log:Sub", u"", k); },
       zfCheckTableName(u"Log:Sub", true, false)},
      {"nested name (the worker)",
       [](TableRecover& t, TzfAbstractTaskInfo*& k) { return t.Db->sdTableRecover(u"Log:Sub", u"", k); },
       zfErrInvalidParam},
      {"read-only database",
       [](TableRecover& t, TzfAbstractTaskInfo*& k) {
         return t.OpenDb(t.OpenSession(), omReadOnly)->TableRecover(u"Log", u"", k);
       },
       zfErrReadOnlyDb},
      {"missing table", [](TableRecover& t, TzfAbstractTaskInfo*& k) { return t.Db->TableRecover(u"Nope", u"", k); },
       zfErrNoSuchTable},
      {"snapshot blocks held",
       [](TableRecover& t, TzfAbstractTaskInfo*& k) {
         TzfServerRootTable* root = nullptr;
         bool ro = false;
         EXPECT_EQ(t.Db->sdGetTable(root, u"Log", u"", false, ro), 0u);
         root->srtSnapshotBlockCount = 1;
         const uint32_t r = t.Db->TableRecover(u"Log", u"", k);
         root->srtSnapshotBlockCount = 0;
         return r;
       },
       zfErrTableOpen},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TzfAbstractTaskInfo* task = reinterpret_cast<TzfAbstractTaskInfo*>(1);
    EXPECT_EQ(c.Start(*this, task), c.Code);
    EXPECT_EQ(task, nullptr);
    EXPECT_FALSE(Exists("Log_Recovered.zf1"));
    EXPECT_FALSE(Exists("Log_Failed.zf1"));
  }
}

TEST_F(TableRecover, CancelMidWalkKeepsWhatWasCommitted) {
  MakeLog(12000);
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(Db->TableRecover(u"Log", u"", task), 0u);
  TzfTaskStatus status;
  bool done = false;
  // Let the walk get through a quarter of the blocks, then cancel.
  do {
    ASSERT_EQ(task->GetStatus(done, status), 0u);
  } while (!done && status.tsRecsRead < status.tsTotalRecs / 4);
  ASSERT_FALSE(done) << "the walk ended before the cancel";
  ASSERT_EQ(task->Cancel(), 0u);
  ASSERT_EQ(task->GetStatus(done, status), 0u);
  EXPECT_TRUE(done);
  EXPECT_EQ(status.tsErrorCode, zfErrUpdateAborted);
  task->Free();  // joins the task thread
  const std::set<int32_t> recovered = Ids(u"Log_Recovered");
  EXPECT_LT(recovered.size(), 12000u) << "the walk stopped early";
  EXPECT_GT(recovered.size(), 0u) << "what was salvaged before the cancel is committed";
  // What was committed is whole: IDs of whole blocks, none twice, all from the source.
  for (int32_t id : recovered) EXPECT_TRUE(id >= 1 && id <= 12000);
}

// A session freed while its recover runs: the task is cancelled and joined first, then the
// databases go; the new tables stay with what was committed and can be opened again.
TEST_F(TableRecover, FreeingTheSessionStopsARunningRecover) {
  MakeLog(6000);
  TzfAbstractSession* s = nullptr;
  ASSERT_EQ(Engine->SessionOpen(s, u"bob", u"", u"test", 10000), 0u);
  TzfAbstractDatabase* d = nullptr;
  ASSERT_EQ(s->DatabaseOpen(d, u"Path", rtl::u16(Dir.Path.string()), nullptr, omReadWrite, smShared, 10000), 0u);
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(d->TableRecover(u"Log", u"", task), 0u);
  s->Free();  // frees the task, its private database and d
  ASSERT_EQ(Session->CloseInactiveTables(), 0u);
  EXPECT_LE(Ids(u"Log_Recovered").size(), 6000u);
  const TOutcome o = Recover();
  ASSERT_EQ(o.Code, 0u) << "nothing of the first run holds the tables";
  EXPECT_EQ(o.Recovered.size(), 6000u);
}

// A recover while this thread polls the status and the engine's statistics every few
// milliseconds and cancels at a random moment, and a second session reads another table.
TEST_F(TableRecover, ConcurrentPollingCancelAndAnotherSession) {
  MakeLog(8000);
  kit::TLogOptions other;
  other.Records = 300;
  kit::FillLogTable(*Db, u"Other", other);
  TzfServerSession* second = OpenSession();
  TzfServerDatabase* secondDb = OpenDb(second, omReadWrite);
  std::mt19937 random(11);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    std::thread reader([&] {
      while (!stop.load()) {
        TzfAbstractCursor* c = nullptr;
        if (secondDb->CursorOpen(c, u"Other", u"", omReadOnly, smShared, 2000, false) != 0) continue;
        uint8_t* rec = c->RecordBufferAlloc();
        int n = 0;
        c->SetToBegin();
        while (c->RecordGetNext(zfltNoLock, rec) == 0) ++n;
        EXPECT_EQ(n, 300);
        c->RecordBufferFree(rec);
        c->Free();
        ++reads;
      }
    });
    TzfAbstractTaskInfo* task = nullptr;
    ASSERT_EQ(Db->TableRecover(u"Log", u"", task), 0u);
    const int cancelAfter = round == 2 ? -1 : int(random() % 20);
    bool done = false;
    TzfTaskStatus status;
    for (int polls = 0; !done; ++polls) {
      ASSERT_EQ(task->GetStatus(done, status), 0u);
      std::vector<UnicodeString> values;
      Engine->GetStatsValues(values);
      EXPECT_FALSE(values.empty());
      if (polls == cancelAfter) {
        ASSERT_EQ(task->Cancel(), 0u);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(status.tsErrorCode == 0 || status.tsErrorCode == zfErrUpdateAborted) << status.tsErrorCode;
    if (cancelAfter < 0) {
      EXPECT_EQ(status.tsErrorCode, 0u);
    }
    task->Free();
    stop = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
    const size_t recovered = Ids(u"Log_Recovered").size();
    if (status.tsErrorCode == 0) {
      EXPECT_EQ(recovered, 8000u);
    }
  }
}

}  // namespace
}  // namespace zf::test
