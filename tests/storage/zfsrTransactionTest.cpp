// Storage transactions in the block cache: nested levels across files, write-out, rollback,
// level states, the journal of a fail-safe commit and failed write-outs.
#include <gtest/gtest.h>

#include "zfsrCacheTestSupport.h"

namespace zf::test {
namespace {

using TransactionTest = TCacheTest;

TEST_F(TransactionTest, NestedLevelsAcrossTwoFilesCommitTogether) {
  TMemFile* a = NewFile(u"/tmp/a.dvl7");
  TMemFile* b = NewFile(u"/tmp/b.dvl7");
  std::vector<TzfBlockNumber> na, nb;
  {
    TTestTrans t(BM.get());
    na = Allocate(a, &t, 2, 0x10);
    nb = Allocate(b, &t, 1, 0x20);
    t.Commit();
  }
  const auto before = a->DiskBlock(na[0]);
  TTestTrans t(BM.get());
  Poke(a, &t, na[0], 0x11);  // level 0
  t.StartNested(false);
  Poke(a, &t, na[0], 0x12);  // level 1: a second copy
  Poke(b, &t, nb[0], 0x21);
  t.StartNested(false);
  Poke(a, &t, na[1], 0x13);  // level 2
  EXPECT_EQ(t.CurrentLevel()->tlLevel, 2);
  t.Rollback();              // level 2 gone
  EXPECT_EQ(Peek(a, &t, na[1]), 0x10);
  t.Commit();                // level 1 merges into level 0
  EXPECT_EQ(t.CurrentLevel()->tlLevel, 0);
  EXPECT_EQ(Peek(a, &t, na[0]), 0x12);
  // Other readers still see the committed content and nothing reached the disk.
  EXPECT_EQ(Peek(a, nullptr, na[0]), 0x10);
  EXPECT_EQ(a->DiskBlock(na[0]), before);
  t.Commit();
  EXPECT_EQ(Peek(a, nullptr, na[0]), 0x12);
  EXPECT_EQ(a->DiskBlock(na[0])[16], 0x12);
  EXPECT_EQ(a->DiskBlock(na[1])[16], 0x10);
  EXPECT_EQ(b->DiskBlock(nb[0])[16], 0x21);
  // Block 0 of both written files carries the commit's LSN.
  EXPECT_EQ(zfGetBlockLSN(a->DiskBlock(0).data()), t.btLSN);
  EXPECT_EQ(zfGetBlockLSN(b->DiskBlock(0).data()), t.btLSN);
  EXPECT_EQ(a->fiTrans, nullptr);
  EXPECT_EQ(BM->bmTransNestedCommitCount, 1);
  EXPECT_EQ(BM->bmTransNestedRollbackCount, 1);
}

TEST_F(TransactionTest, OutermostRollbackDropsEveryLevelAndNewBlocks) {
  TMemFile* a = NewFile();
  TzfBlockNumber n;
  {
    TTestTrans t(BM.get());
    n = Allocate(a, &t, 1, 0x30)[0];
    t.Commit();
  }
  const uint32_t used = a->fiUsedBlocks;
  TTestTrans t(BM.get());
  Poke(a, &t, n, 0x31);
  auto added = Allocate(a, &t, 1, 0x32);
  t.StartNested(false);
  Poke(a, &t, n, 0x33);
  t.Rollback();  // level 1
  t.Rollback();  // level 0
  EXPECT_EQ(Peek(a, nullptr, n), 0x30);
  EXPECT_EQ(zfCacheFind(a, added[0]), nullptr) << "a new block rolled back leaves the cache";
  EXPECT_EQ(a->fiUsedBlocks, used);
  EXPECT_EQ(t.btTransBlockListHead, nullptr);
  EXPECT_EQ(a->fiTrans, nullptr);
  EXPECT_EQ(a->Queued(), 0u);
}

TEST_F(TransactionTest, FileTouchedAgainInNestedLevelStillWrittenAfterThatLevelRollsBack) {
  TMemFile* a = NewFile();
  TzfBlockNumber n[2];
  {
    TTestTrans t(BM.get());
    auto v = Allocate(a, &t, 2, 0x40);
    n[0] = v[0];
    n[1] = v[1];
    t.Commit();
  }
  TTestTrans t(BM.get());
  Poke(a, &t, n[0], 0x41);  // level 0 change
  t.StartNested(false);
  Poke(a, &t, n[1], 0x42);  // the file's level becomes 1
  t.Rollback();
  EXPECT_EQ(a->fiTrans, &t) << "the file still holds a change of level 0";
  t.Commit();
  EXPECT_EQ(a->DiskBlock(n[0])[16], 0x41);
  EXPECT_EQ(a->DiskBlock(n[1])[16], 0x40);
}

TEST_F(TransactionTest, LevelStatesAndCheckState) {
  TTestTrans t(BM.get());
  t.StartNested(false);
  t.StartNested(false);
  t.StartNested(false);
  TzfBaseTransactionLevel* l1 = t.CurrentLevel()->tlPrev->tlPrev;
  l1->MarkCorrupted();
  int corrupted = 0;
  for (auto* l = t.CurrentLevel(); l; l = l->tlPrev) corrupted += l->Has(TzfTransactionLevelState::tlsCorrupted);
  EXPECT_EQ(corrupted, 3);
  EXPECT_EQ(BM->bmTransCorruptedCount, 1);
  EXPECT_EQ(t.CheckState(), 15443u);
  t.CurrentLevel()->MarkDeadlock();
  EXPECT_EQ(t.CheckState(), 10255u);
  t.Failed();
  EXPECT_EQ(t.CheckState(), 15443u);

  TTestTrans u(BM.get());
  u.MarkNoMoreNested();
  u.StartNested(false);
  EXPECT_EQ(u.CurrentLevel()->tlLevel, 0);
  EXPECT_EQ(u.CurrentLevel()->tlNestingCount, 1);
  EXPECT_TRUE(u.IsNested());
  u.Rollback();  // only counted: marks the level corrupted
  EXPECT_EQ(u.CheckState(), 15443u);
  u.Lock();
  EXPECT_TRUE(u.LevelLocked());
  u.Unlock();
  EXPECT_THROW(u.Unlock(), rtl::EAssertionFailed);
}

TEST_F(TransactionTest, CommitWithBlockZeroAtTheTransactionsLSNDoesNotDirtyItAgain) {
  TMemFile* a = NewFile();
  TTestTrans t(BM.get());
  Allocate(a, &t, 1, 0x50);  // block 0 changed (used count) within the transaction
  TzfReadOnlyBlock* zero = a->fiBlockZero;
  TzfFlushList list;
  BM->CommitTransaction(&t, &list, false);
  EXPECT_EQ(zero->CurrentLSN(), t.btLSN);
  EXPECT_FALSE(zero->IsDirty());
  list.Flush(false);
}

// A journal that records the calls and can fail on AddBlock.
class TRecordingJournal : public TzfBaseJournalEngine {
 public:
  explicit TRecordingJournal(std::vector<std::string>* aLog, bool aFail) : TzfBaseJournalEngine(u"j"), FLog(aLog), FFail(aFail) {}
  void PrepareJournal() override { FLog->push_back("prepare"); }
  void AddBlock(TzfBaseTransaction*, TzfReadOnlyBlock* aBlock) override {
    if (FFail) throw EzfBaseJournalEngineException(zfErrWriteErr, u"journal full");
    FLog->push_back("block " + std::to_string(aBlock->robBlockNum));
  }
  void FinalizeJournal() override { FLog->push_back("finalize"); }

 private:
  std::vector<std::string>* FLog;
  bool FFail;
};

TEST_F(TransactionTest, FailSafeCommitGoesThroughTheJournalFirst) {
  TMemFile* a = NewFile();
  TzfBlockNumber n;
  {
    TTestTrans t(BM.get());
    n = Allocate(a, &t, 1, 0x60)[0];
    t.Commit();
  }
  std::vector<std::string> log;
  {
    TTestTrans t(BM.get());
    Poke(a, &t, n, 0x61);
    t.btJournal = new TRecordingJournal(&log, false);
    t.Commit();
  }
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], "prepare");
  EXPECT_EQ(log[1], "block " + std::to_string(n));
  EXPECT_EQ(log[2], "finalize");
  EXPECT_EQ(a->FailSafeFlushes, 1) << "a journalled commit is flushed fail-safe";
  EXPECT_EQ(a->DiskBlock(n)[16], 0x61);

  // A journal that cannot be written commits nothing: the cache and the disk keep the old state
  // and the transaction can still be rolled back.
  log.clear();
  TTestTrans t(BM.get());
  Poke(a, &t, n, 0x62);
  t.btJournal = new TRecordingJournal(&log, true);
  EXPECT_THROW(t.Commit(), EzfBaseJournalEngineException);
  EXPECT_EQ(Peek(a, nullptr, n), 0x61);
  EXPECT_EQ(Peek(a, &t, n), 0x62);
  EXPECT_EQ(a->DiskBlock(n)[16], 0x61);
  t.Rollback();
  EXPECT_EQ(Peek(a, nullptr, n), 0x61);
}

TEST_F(TransactionTest, WriteErrorIsReportedAndCacheFollowsTheDisk) {
  TMemFile* a = NewFile();
  std::vector<TzfBlockNumber> n;
  {
    TTestTrans t(BM.get());
    n = Allocate(a, &t, 4, 0x70);
    t.Commit();
  }
  TTestTrans t(BM.get());
  for (TzfBlockNumber b : n) Poke(a, &t, b, 0x71);
  a->FailWritesAfter = 2;  // two blocks reach the disk, then the write fails
  EXPECT_THROW(t.Commit(), EzfBaseException);
  a->FailWritesAfter = -1;
  int newer = 0;
  for (TzfBlockNumber b : n) {
    const uint8_t disk = a->DiskBlock(b)[16];
    EXPECT_EQ(Peek(a, nullptr, b), disk) << "block " << b;
    newer += disk == 0x71;
  }
  EXPECT_EQ(newer, 2);
  EXPECT_EQ(a->Queued(), 0u);
  // Block 0 was not written: the used-block count is the one on disk.
  EXPECT_EQ(a->fiUsedBlocks, zfGetLE32(a->DiskBlock(0).data() + 32));
}

TEST_F(TransactionTest, ThreeLevelsHoldThreeCopiesThatMergeOutward) {
  TMemFile* a = NewFile();
  TzfBlockNumber n;
  {
    TTestTrans t(BM.get());
    n = Allocate(a, &t, 1, 0x01)[0];
    t.Commit();
  }
  TTestTrans t(BM.get());
  Poke(a, &t, n, 0x02);
  t.StartNested(false);
  Poke(a, &t, n, 0x03);
  t.StartNested(false);
  Poke(a, &t, n, 0x04);
  TzfReadOnlyBlock* b = zfCacheFind(a, n);
  int copies = 0;
  for (TzfModifiedBlock* m = b->robBlockListTail; m; m = m->mbPrev) ++copies;
  EXPECT_EQ(copies, 3);
  t.Commit();
  t.Commit();
  EXPECT_EQ(b->robBlockListTail->mbPrev, nullptr);
  EXPECT_EQ(Peek(a, &t, n), 0x04);
  EXPECT_EQ(a->Queued(), 0u);
  TzfFlushList list;
  BM->CommitTransaction(&t, &list, false);
  EXPECT_TRUE(b->robUnwritten.load()) << "the outermost commit queues the block";
  list.Flush(false);
  EXPECT_EQ(a->DiskBlock(n)[16], 0x04);
}

TEST_F(TransactionTest, DiscardedBlockReachesTheDiskAsAFreeBlock) {
  TMemFile* a = NewFile();
  TzfBlockNumber n;
  {
    TTestTrans t(BM.get());
    n = Allocate(a, &t, 1, 0x77)[0];
    t.Commit();
  }
  TTestTrans t(BM.get());
  BM->DiscardBlock(a, n, &t);
  t.Commit();  // the block check at write-out would refuse a zero-filled image
  auto disk = a->DiskBlock(n);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(disk.data()), 4), "DEAD");
  EXPECT_EQ(zfGetLE32(disk.data() + 4), n);
  for (size_t i = 16; i < disk.size(); ++i) ASSERT_EQ(disk[i], 0) << i;
}

TEST_F(TransactionTest, WriteThroughFileCommitsEarlyWhenItsCopiesAreEvicted) {
  TMemFile* a = NewFile();
  std::vector<TzfBlockNumber> n;
  {
    TTestTrans t(BM.get());
    n = Allocate(a, &t, 400, 0x01);
    t.Commit();
  }
  BM->RemoveFile(a);
  std::unique_ptr<TMemFile> owned = std::move(Files.back());
  Files.pop_back();
  owned->fiHeaderAccessFactory.reset();
  owned->fiAttributes |= zfFileAttr(zffaTransWriteThrough);
  TMemFile* f = AttachFile(std::move(owned));
  BM->ApplyMaxRAM(1);
  const int64_t commits = BM->bmTransCommitCount;
  TTestTrans t(BM.get());
  for (TzfBlockNumber b : n) Poke(f, &t, b, 0x02);
  EXPECT_GT(BM->bmTransCommitCount, commits) << "evicting a copy wrote the transaction through";
  int early = 0;
  for (TzfBlockNumber b : n) early += f->DiskBlock(b)[16] == 0x02;
  EXPECT_GT(early, 0);
  EXPECT_LT(early, 400);
  for (TzfBlockNumber b : n) ASSERT_EQ(Peek(f, &t, b), 0x02);
  t.Commit();
  for (TzfBlockNumber b : n) ASSERT_EQ(f->DiskBlock(b)[16], 0x02) << b;
  EXPECT_EQ(f->fiTrans, nullptr);
}

TEST_F(TransactionTest, LSNsAreRaisedNotLowered) {
  BM->RaiseCurrentLSN(50);
  BM->RaiseCurrentLSN(100);
  BM->RaiseCurrentLSN(70);
  EXPECT_EQ(BM->AllocateLSN(), 101);
  EXPECT_EQ(BM->ReadCurrentLSN(), 101);
}

}  // namespace
}  // namespace zf::test
