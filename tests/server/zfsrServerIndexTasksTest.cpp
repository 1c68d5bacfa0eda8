// The index rebuild, checksum and record count tasks through the database and the cursor: a
// damaged index comes back whole, a failed or cancelled rebuild leaves the index as it was, a
// damaged block fails the checksum, and a count that must walk runs as a task that holds the
// session and stops when cancelled.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllErrors.h"
#include "index/zfsdKeyEngineBase.h"
#include "index/zfseIndicesEngineKind.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerIndexTasks.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "server/zfsrServerTransaction.h"
#include "storage/zfsrEncryptionEngineBase.h"
#include "storage/zfsrFile.h"
#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

// Polls aTask until it has finished; the final status.
TzfTaskStatus WaitFor(TzfAbstractTaskInfo* aTask) {
  TzfTaskStatus status;
  bool done = false;
  for (int i = 0; i < 60000; ++i) {
    EXPECT_EQ(aTask->GetStatus(done, status), 0u);
    if (done) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(done);
  return status;
}

std::unique_ptr<TzfIndexDescriptor> IndexOn(const UnicodeString& aName, int32_t aField, bool aUnique) {
  auto d = TzfIndexDescriptor::CreateStandalone(0, aName, 0, nullptr);
  d->SetDups(aUnique ? idNone : idAll);
  dynamic_cast<TzfCompKeyDescriptor&>(*d->idKeyDescriptor).Add(aField);
  return d;
}

// "People" (ID, Name) with the unique index "ByID" (0) and "ByName" (1, duplicates).
class IndexTasks : public PeopleCursorTest {
 protected:
  void SetUp() override {
    PeopleCursorTest::SetUp();
    Open();
    auto dict = SmallDictionary();
    dict->RemoveIndicesDescriptor();
    ASSERT_EQ(Db->TableBuild(false, u"People", u"", dict.get(), tsPersistent, false), 0u);
    auto byID = IndexOn(u"ByID", 0, true);
    auto byName = IndexOn(u"ByName", 1, false);
    ASSERT_EQ(Db->TableAddIndex(u"People", u"", byID.get(), false), 0u);
    ASSERT_EQ(Db->TableAddIndex(u"People", u"", byName.get(), false), 0u);
    OpenCursor();
    // A new cursor stands on index 0; the cases start from the record order.
    ASSERT_EQ(C->SwitchToIndex(u"", -1, false), 0u);
  }
  uint32_t Insert(int32_t aID, const UnicodeString& aName) {
    C->SetFieldFromVariant(Rec, 0, rtl::Variant(aID));
    C->SetFieldFromVariant(Rec, 1, rtl::Variant(aName));
    return C->RecordInsert(zfltNoLock, Rec);
  }
  void Fill(int32_t aCount) {
    ASSERT_EQ(C->stcTransContext()->stcTransactionStart(false, false, false, false, false), 0u);
    for (int32_t id = 1; id <= aCount; ++id) ASSERT_EQ(Insert(id, u"n" + rtl::IntToStr(id % 7)), 0u);
    ASSERT_EQ(C->stcTransContext()->stcTransactionCommit(), 0u);
  }
  // The IDs read in the order of index aIndex.
  std::vector<int32_t> Walk(const UnicodeString& aIndex) {
    EXPECT_EQ(C->SwitchToIndex(aIndex, -1, false), 0u);
    std::vector<int32_t> ids;
    while (C->RecordGetNext(zfltNoLock, Rec) == 0) ids.push_back(C->GetFieldAsVariant(Rec, 0).AsInteger());
    EXPECT_EQ(C->SwitchToIndex(u"", -1, false), 0u);
    return ids;
  }
  // Damage on purpose, committed: index aIndex loses every key; with aBogusID one key for that ID
  // is put back pointing at the first record.
  void DamageIndex(int32_t aIndex, int32_t aBogusID = 0) {
    TzfServerTransContext& ctx = *C->stcTransContext();
    ASSERT_EQ(ctx.stcTransactionStart(false, false, false, false, false), 0u);
    ASSERT_EQ(C->sbcBeginContentLock(true, false), 0u);
    TzfBaseIndicesEngine& indices = *C->Table()->sbtIndicesEngine;
    indices.SetTransaction(ctx.Transaction());
    TzfBaseIndexEngine& engine = indices.GetIndexEngine(aIndex);
    engine.DeleteAllKeys(indices.Indices().Store(aIndex));
    if (aBogusID) {
      ASSERT_EQ(C->SetToBegin(), 0u);
      ASSERT_EQ(C->RecordGetNext(zfltNoLock, Rec), 0u);
      const int64_t ref = C->RefNr();
      C->SetFieldFromVariant(Rec, 0, rtl::Variant(aBogusID));
      std::vector<uint8_t> key(engine.bieKeyEngine->bkeKeyLength);
      ASSERT_EQ(engine.bieKeyEngine->BuildKey(Rec, key.data(), ref, false), 0u);
      ASSERT_TRUE(engine.InsertKey(indices.Indices().Store(aIndex), key.data(), ref, nullptr));
    }
    C->sbcEndContentLock();
    ASSERT_EQ(ctx.stcTransactionCommit(), 0u);
  }
  // Starts a rebuild with the test's cursor out of the way (the task's cursor is exclusive).
  uint32_t Rebuild(const UnicodeString& aName, int32_t aID, TzfAbstractTaskInfo*& aTask) {
    CloseCursor();
    return Db->TableRebuildIndex(u"People", u"", aName, aID, aTask);
  }
  std::vector<int32_t> Range(int32_t aFrom, int32_t aTo) {
    std::vector<int32_t> v;
    for (int32_t i = aFrom; i <= aTo; ++i) v.push_back(i);
    return v;
  }
};

TEST_F(IndexTasks, RebuildMakesADamagedIndexWholeAgain) {
  Fill(250);
  DamageIndex(0, 9999);
  ASSERT_EQ(Walk(u"ByID"), (std::vector<int32_t>{1})) << "only the bogus key is left";

  // By name: the number given beside it does not count.
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(Rebuild(u"ByID", 77, task), 0u);
  ASSERT_NE(task, nullptr);
  const TzfTaskStatus status = WaitFor(task);
  EXPECT_EQ(status.tsErrorCode, 0u);
  EXPECT_EQ(status.tsTotalRecs, 250u);
  EXPECT_EQ(status.tsRecsRead, 250u);
  EXPECT_EQ(status.tsRecsWritten, 250u);
  EXPECT_EQ(status.tsPercentDone, 100);
  task->Free();

  OpenCursor();  // the table is free again
  EXPECT_EQ(Walk(u"ByID"), Range(1, 250));
  EXPECT_EQ(Insert(17, u"again"), zfErrKeyViol) << "the rebuilt index guards its keys";
  EXPECT_EQ(Walk(u"ByName").size(), 250u) << "the other index was left alone";
}

TEST_F(IndexTasks, RefusedStartsAnswerAtOnceWithoutATask) {
  Fill(3);
  struct TCase {
    const char* Name;
    UnicodeString Table, Index;
    int32_t ID;
    uint32_t Code;
  };
  const TCase cases[] = {
      {"unknown name", u"People", u"NoSuchIndex", 0, zfErrNoSuchIndex},
      {"number past the last", u"People", u"", 2, zfErrNoSuchIndex},
      {"negative number", u"People", u"", -1, zfErrNoSuchIndex},
      {"bad index name", u"People", u"a;b", 0, zfErrInvalidIndexName},
      {"missing table", u"Nobody", u"", 0, zfErrNoSuchTable},
  };
  CloseCursor();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TzfAbstractTaskInfo* task = reinterpret_cast<TzfAbstractTaskInfo*>(1);
    EXPECT_EQ(Db->TableRebuildIndex(c.Table, u"", c.Index, c.ID, task), c.Code);
    EXPECT_EQ(task, nullptr);
  }
  // Another cursor on the table: the task's exclusive cursor cannot be had.
  OpenCursor();
  TzfAbstractTaskInfo* task = nullptr;
  EXPECT_EQ(Db->TableRebuildIndex(u"People", u"", u"", 0, task), zfErrNeedExclAccess);
  EXPECT_EQ(task, nullptr);
}

TEST_F(IndexTasks, FailedRebuildLeavesTheIndexAsItWas) {
  Fill(40);
  // The index forgets its keys; a second record with ID 5 then gets in.
  DamageIndex(0);
  ASSERT_EQ(Insert(5, u"twin"), 0u);
  ASSERT_EQ(Walk(u"ByID"), (std::vector<int32_t>{5}));

  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(Rebuild(u"", 0, task), 0u);
  const TzfTaskStatus status = WaitFor(task);
  EXPECT_EQ(status.tsErrorCode, zfErrKeyViol);
  EXPECT_EQ(status.tsRecsWritten, 0u);
  task->Free();
  OpenCursor();
  EXPECT_EQ(Walk(u"ByID"), (std::vector<int32_t>{5})) << "the keys of the failed run were rolled back";
}

TEST_F(IndexTasks, CancelledRebuildLeavesTheIndexAsItWas) {
  Fill(6000);
  DamageIndex(0, 123456);
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(Rebuild(u"ByID", 0, task), 0u);
  TzfTaskStatus status;
  bool done = false;
  do {
    ASSERT_EQ(task->GetStatus(done, status), 0u);
  } while (!done && status.tsRecsRead < status.tsTotalRecs / 4);
  ASSERT_FALSE(done) << "the rebuild ended before the cancel";
  ASSERT_EQ(task->Cancel(), 0u);
  task->Free();  // joins the task thread
  OpenCursor();
  EXPECT_EQ(Walk(u"ByID"), (std::vector<int32_t>{1})) << "only the key from before the rebuild";
}

// ---- checksum ---------------------------------------------------------------------------------

// A plain cipher (the identity) that keeps a file checksum: the XOR over every written block of a
// hash of its bytes mixed with its number. The hash of each block written is remembered for the
// whole process (one such table per test), so that writing the block again, through whichever
// engine object the file has then, takes the old hash out.
class SumEngine : public TzfBaseEncryptionEngine {
 public:
  static const TzfEncryptionEngineClass& ClassInfo() { return zfEncryptionEngineClassOf<SumEngine>(u"TSumEngine"); }
  const TzfEncryptionEngineClass& ClassType() const override { return ClassInfo(); }
  static uint32_t beeChecksumSize() { return 8; }
  static uint32_t CreateInstance(const rtl::UnicodeString&, const TzfUnicodeStrings&, PzfByteArray, bool, bool,
                                 std::unique_ptr<TzfBaseEncryptionEngine>& aEngine) {
    return zfEncryptionCreateGuarded([] { return new SumEngine(); }, aEngine);
  }
  static uint64_t Hash(const uint8_t* aBlock, uint32_t aLen) {
    uint64_t h = 1469598103934665603ull;
    for (uint32_t i = 0; i < aLen; ++i) h = (h ^ aBlock[i]) * 1099511628211ull;
    return h;
  }
  static void Fold(uint64_t aHash, uint32_t aBlockNr, TzfByteDynArray& aChecksum) {
    const uint64_t v = aHash * 0x9E3779B97F4A7C15ull + aBlockNr;
    for (int i = 0; i < 8; ++i) aChecksum[size_t(i)] ^= static_cast<uint8_t>(v >> (8 * i));
  }
  static void beeAddChecksumForBlock(const uint8_t* aBlock, uint32_t aLen, uint32_t aRandomizer,
                                     TzfByteDynArray& aChecksum) {
    Fold(Hash(aBlock, aLen), aRandomizer, aChecksum);
  }
  static void beeAddChecksumForCookie(const TzfByteDynArray&, uint32_t, TzfByteDynArray&) {}
  void CodeBlock(const uint8_t* aIn, uint8_t* aOut, uint32_t aLen, uint32_t) override { std::memcpy(aOut, aIn, aLen); }
  void DecodeBlock(uint8_t*, uint32_t, uint32_t) override {}
  void CodeBlockEx(const uint8_t* aIn, uint8_t* aOut, uint32_t aLen, uint32_t aBlockNr, TzfByteDynArray&,
                   TzfByteDynArray& aChecksum) override {
    std::memcpy(aOut, aIn, aLen);
    auto old = Written.find(aBlockNr);
    if (old != Written.end()) Fold(old->second, aBlockNr, aChecksum);
    const uint64_t h = Hash(aOut, aLen);
    Written[aBlockNr] = h;
    Fold(h, aBlockNr, aChecksum);
  }
  static inline std::map<uint32_t, uint64_t> Written;
};

class ChecksumTask : public PeopleCursorTest {
 protected:
  void SetUp() override {
    TzfBaseEncryptionEngine::Register(SumEngine::ClassInfo(), u"Sum", false, 0);
    SumEngine::Written.clear();
    PeopleCursorTest::SetUp();
    Open();
    auto dict = SmallDictionary();
    dict->EncryptionEngine = u"Sum";
    ASSERT_EQ(Db->TableBuild(false, u"People", u"", dict.get(), tsPersistent, false), 0u);
    OpenCursor();
    for (int32_t id = 1; id <= 300; ++id) {
      C->SetFieldFromVariant(Rec, 0, rtl::Variant(id));
      C->SetFieldFromVariant(Rec, 1, rtl::Variant(UnicodeString(u"name")));
      ASSERT_EQ(C->RecordInsert(zfltNoLock, Rec), 0u);
    }
    Used = C->Table()->sbtRoot->srtMainFile->fiUsedBlocks;
    CloseCursor();
  }
  void TearDown() override {
    PeopleCursorTest::TearDown();
    TzfBaseEncryptionEngine::Unregister(SumEngine::ClassInfo());
  }
  TzfTaskStatus Check(bool aRaw, bool aForce) {
    TzfAbstractTaskInfo* task = nullptr;
    EXPECT_EQ(Db->TableVerifyChecksum(u"People", u"", aRaw, aForce, task), 0u);
    if (!task) return {};
    const TzfTaskStatus status = WaitFor(task);
    task->Free();
    return status;
  }
  uint32_t Used = 0;
};

TEST_F(ChecksumTask, SoundFilePassesAndAVerifiedOneIsPassedOverUnlessForced) {
  ASSERT_GT(Used, 2u);
  TzfTaskStatus s = Check(true, false);
  EXPECT_EQ(s.tsErrorCode, 0u);
  EXPECT_EQ(s.tsTotalRecs, Used);
  EXPECT_EQ(s.tsRecsRead, Used);
  EXPECT_EQ(s.tsRecsWritten, Used);
  // Verified now: without a forced recheck the file is not read, and the count is the same.
  s = Check(true, false);
  EXPECT_EQ(s.tsErrorCode, 0u);
  EXPECT_EQ(s.tsRecsRead, Used);
  s = Check(true, true);
  EXPECT_EQ(s.tsErrorCode, 0u);
  EXPECT_EQ(s.tsRecsRead, Used);
  // Opened again, the file's checksum is the one its block 0 stores: it matches the blocks.
  Close();
  StartEngine(0);
  Open();
  EXPECT_EQ(Check(true, true).tsErrorCode, 0u);
}

TEST_F(ChecksumTask, ADamagedBlockFailsTheCheck) {
  // Close everything so the file on disk is all there is; then damage block 1.
  Close();
  StartEngine(0);
  const std::string path = (Dir.Path / "People.zf1").string();
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(f.good());
    f.seekp(std::streamoff(Used - 1) * 4096 + 200);
    f.put('\x5A');
  }
  Open();
  TzfTaskStatus s = Check(true, true);
  EXPECT_EQ(s.tsErrorCode, zfErrHeaderCorrupt);
}

TEST_F(ChecksumTask, CancelLeavesTheFileAsItWas) {
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(Db->TableVerifyChecksum(u"People", u"", true, true, task), 0u);
  ASSERT_EQ(task->Cancel(), 0u);
  bool done = false;
  TzfTaskStatus status;
  ASSERT_EQ(task->GetStatus(done, status), 0u);
  EXPECT_TRUE(done);
  EXPECT_EQ(status.tsErrorCode, zfErrUpdateAborted);
  task->Free();
  // The table is free and sound.
  EXPECT_EQ(Check(true, true).tsErrorCode, 0u);
  OpenCursor();
  EXPECT_EQ(C->RecordGetNext(zfltNoLock, Rec), 0u);
}

TEST_F(ChecksumTask, RefusedStarts) {
  auto plain = SmallDictionary();
  ASSERT_EQ(Db->TableBuild(false, u"Plain", u"", plain.get(), tsPersistent, false), 0u);
  TzfAbstractTaskInfo* task = reinterpret_cast<TzfAbstractTaskInfo*>(1);
  EXPECT_EQ(Db->TableVerifyChecksum(u"Plain", u"", true, false, task), zfErrNotSupported);
  EXPECT_EQ(task, nullptr);
  EXPECT_EQ(Db->TableVerifyChecksum(u"People:Sub", u"", true, false, task), zfErrInvalidTableName);
  EXPECT_EQ(Db->TableVerifyChecksum(u"Nobody", u"", true, false, task), zfErrNoSuchTable);
}

// ---- asynchronous count -----------------------------------------------------------------------

class CountTask : public IndexTasks {};

TEST_F(CountTask, AWalkingCountRunsAsATaskThatHoldsTheSession) {
  Fill(3000);
  // A range on ByID: the count must walk.
  ASSERT_EQ(C->SwitchToIndex(u"ByID", -1, false), 0u);
  std::vector<uint8_t> lo(Rec, Rec + C->Table()->sbtFieldsDescriptor->GetRecordLength());
  std::vector<uint8_t> hi = lo;
  C->SetFieldFromVariant(lo.data(), 0, rtl::Variant(int32_t(101)));
  C->SetFieldFromVariant(hi.data(), 0, rtl::Variant(int32_t(2600)));
  ASSERT_EQ(C->RangeSet(1, 0, false, lo.data(), true, 1, 0, false, hi.data(), true), 0u);
  ASSERT_EQ(C->SetToBegin(), 0u);
  ASSERT_EQ(C->RecordGetNext(zfltNoLock, Rec), 0u);
  const int32_t before = C->GetFieldAsVariant(Rec, 0).AsInteger();

  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(C->GetRecordCountExAsync(rcoRangedKeyCount, task), 0u);
  ASSERT_NE(dynamic_cast<TzfServerGetRecCountTaskInfo*>(task), nullptr);
  TzfAbstractTaskInfo* second = nullptr;
  // The session is the task's while it counts (8455, raised by the session lock); once it has
  // ended, the cursor still has its first count task (12289).
  uint32_t refused = 0;
  try {
    refused = C->GetRecordCountExAsync(rcoRangedKeyCount, second);
  } catch (const EzfBaseException& e) {
    refused = e.ErrorCode();
  }
  EXPECT_TRUE(refused == zfErrReentered || refused == zfErrNotSupported) << refused;
  EXPECT_EQ(second, nullptr);
  const TzfTaskStatus status = WaitFor(task);
  EXPECT_EQ(status.tsErrorCode, 0u);
  EXPECT_EQ(status.tsRecsRead, 2500u);
  task->Free();
  // The cursor goes on from where it stood.
  ASSERT_EQ(C->RecordGetNext(zfltNoLock, Rec), 0u);
  EXPECT_EQ(C->GetFieldAsVariant(Rec, 0).AsInteger(), before + 1);

  // Without range or filter the answer is a finished task at once.
  ASSERT_EQ(C->RangeReset(), 0u);
  ASSERT_EQ(C->GetRecordCountExAsync(rcoRangedKeyCount, task), 0u);
  bool done = false;
  TzfTaskStatus now;
  ASSERT_EQ(task->GetStatus(done, now), 0u);
  EXPECT_TRUE(done);
  EXPECT_EQ(now.tsRecsRead, 3000u);
  task->Free();
}

TEST_F(CountTask, CancelledCountGivesTheSessionAndThePositionBack) {
  Fill(3000);
  ASSERT_EQ(C->SwitchToIndex(u"ByID", -1, false), 0u);
  std::vector<uint8_t> lo(Rec, Rec + C->Table()->sbtFieldsDescriptor->GetRecordLength());
  C->SetFieldFromVariant(lo.data(), 0, rtl::Variant(int32_t(10)));
  ASSERT_EQ(C->RangeSet(1, 0, false, lo.data(), true, 0, 0, false, nullptr, true), 0u);
  ASSERT_EQ(C->SetToBegin(), 0u);
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(C->GetRecordCountExAsync(rcoRangedKeyCount, task), 0u);
  ASSERT_EQ(task->Cancel(), 0u);
  const TzfTaskStatus status = WaitFor(task);
  EXPECT_EQ(status.tsErrorCode, zfErrUpdateAborted);
  task->Free();
  ASSERT_EQ(C->RecordGetNext(zfltNoLock, Rec), 0u) << "the session is free again";
  EXPECT_EQ(C->GetFieldAsVariant(Rec, 0).AsInteger(), 10) << "from where the cursor stood";
}

TEST_F(CountTask, FreeingTheCursorStopsItsCount) {
  Fill(3000);
  ASSERT_EQ(C->SwitchToIndex(u"ByID", -1, false), 0u);
  std::vector<uint8_t> lo(Rec, Rec + C->Table()->sbtFieldsDescriptor->GetRecordLength());
  C->SetFieldFromVariant(lo.data(), 0, rtl::Variant(int32_t(2)));
  ASSERT_EQ(C->RangeSet(1, 0, false, lo.data(), true, 0, 0, false, nullptr, true), 0u);
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(C->GetRecordCountExAsync(rcoRangedKeyCount, task), 0u);
  CloseCursor();  // cancels the count and waits for its thread
  bool done = false;
  TzfTaskStatus status;
  ASSERT_EQ(task->GetStatus(done, status), 0u);
  EXPECT_TRUE(done);
  EXPECT_TRUE(status.tsErrorCode == 0u || status.tsErrorCode == zfErrUpdateAborted) << status.tsErrorCode;
  task->Free();
  // The session is free again.
  OpenCursor();
  EXPECT_EQ(C->SetToBegin(), 0u);
}

}  // namespace
}  // namespace zf::test
