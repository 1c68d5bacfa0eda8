// The block cache: the block index, snapshots, eviction under a RAM budget, the budget rule,
// statistics rows, scratch blocks, block access and release lists.
#include <gtest/gtest.h>

#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlFormat.h"
#include "zfsrCacheTestSupport.h"

namespace zf::test {
namespace {

using BufferManagerTest = TCacheTest;

TEST_F(BufferManagerTest, BlockIndexAddressesByBytesAndFreesEmptyNodes) {
  TMemFile* f = NewFile();
  TzfReadOnlyBlock* b = BM->FindOrCreateBlock(f, 0x01020304, false);
  auto* n3 = static_cast<TzfBlockContainer*>(f->fiBlocks[1]);
  ASSERT_NE(n3, nullptr);
  auto* n2 = static_cast<TzfBlockContainer*>(n3->bcBlocks[2]);
  ASSERT_NE(n2, nullptr);
  auto* leaf = static_cast<TzfBlockContainer*>(n2->bcBlocks[3]);
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(leaf->bcBlocks[4], b);
  EXPECT_EQ(zfCacheFind(f, 0x01020304), b);
  EXPECT_EQ(zfCacheFind(f, 0x01020305), nullptr);
  EXPECT_EQ(zfCacheGroupCount(f, 0x010203FF), 1u);
  EXPECT_NE(f->fiBlockZero, nullptr) << "block 0 is kept apart";
  EXPECT_EQ(f->fiBlocks[0], nullptr);
  BM->RemoveBlock(b);
  EXPECT_EQ(f->fiBlocks[1], nullptr);
  EXPECT_EQ(f->fiBlockContainerList, nullptr);
}

TEST_F(BufferManagerTest, SnapshotKeepsSeeingWhatItFirstReadWhileAWriterCommits) {
  TMemFile* a = NewFile(u"/tmp/sa.dvl7");
  TMemFile* b = NewFile(u"/tmp/sb.dvl7");
  std::vector<TzfBlockNumber> na, nb;
  {
    TTestTrans t(BM.get());
    na = Allocate(a, &t, 2, 0x10);
    nb = Allocate(b, &t, 1, 0x20);
    t.Commit();
  }
  auto snapOwner = std::make_unique<TTestTrans>(BM.get(), true);
  TTestTrans& snap = *snapOwner;
  EXPECT_EQ(Peek(a, &snap, na[0]), 0x10);  // the snapshot has seen file a
  const uint32_t usedA = a->fiUsedBlocks;
  {
    TTestTrans w(BM.get());
    Poke(a, &w, na[0], 0x11);
    Poke(a, &w, na[1], 0x12);
    Poke(b, &w, nb[0], 0x21);
    Allocate(a, &w, 3, 0x13);
    w.Commit();
  }
  EXPECT_EQ(Peek(a, nullptr, na[0]), 0x11);
  EXPECT_EQ(Peek(a, &snap, na[0]), 0x10);
  EXPECT_EQ(Peek(a, &snap, na[1]), 0x10) << "a block not read before the commit is seen as before it too";
  // The commit touched both files: the snapshot keeps file b's pre-commit state as well.
  EXPECT_EQ(Peek(b, &snap, nb[0]), 0x20);
  TzfBlockAccess access(a, nullptr, u"a", 0);
  EXPECT_FALSE(access.ValidBlock(0, &snap));
  EXPECT_FALSE(access.ValidBlock(usedA, &snap)) << "blocks added after the snapshot are not valid for it";
  EXPECT_TRUE(access.ValidBlock(usedA, static_cast<TzfBaseTransaction*>(nullptr)));
  EXPECT_NE(zfCacheFind(a, na[0])->robSnapShotBlockHead, nullptr);
  // A later snapshot sees the new state; when the old one ends its pre-images go.
  {
    TTestTrans later(BM.get(), true);
    EXPECT_EQ(Peek(a, &later, na[0]), 0x11);
    EXPECT_EQ(later.btSnapshotID, 1);
  }
  TzfReadOnlyBlock* rob = zfCacheFind(a, na[0]);
  EXPECT_EQ(BM->bmActiveSnapShotCount, 1);
  // End the first snapshot: pre-images freed, snapshot IDs released.
  snapOwner.reset();
  EXPECT_EQ(rob->robSnapShotBlockHead, nullptr);
  EXPECT_EQ(BM->bmActiveSnapShotCount, 0);
  EXPECT_TRUE(BM->bmSnapShotFlags.empty());
  TTestTrans again(BM.get(), true);
  EXPECT_EQ(again.btSnapshotID, 0);
}

TEST_F(BufferManagerTest, SingleFileCommitWithSnapshotMakesNoExtraFileLinks) {
  TMemFile* a = NewFile(u"/tmp/s1.dvl7");
  TMemFile* b = NewFile(u"/tmp/s2.dvl7");
  TzfBlockNumber n;
  {
    TTestTrans t(BM.get());
    n = Allocate(a, &t, 1, 0x10)[0];
    Allocate(b, &t, 1, 0x10);
    t.Commit();
  }
  TTestTrans snap(BM.get(), true);
  Peek(b, &snap, 1);
  TTestTrans w(BM.get());
  Poke(a, &w, n, 0x11);
  w.Commit();
  EXPECT_EQ(a->fiSnapShotLinkHead, nullptr);
  EXPECT_EQ(Peek(a, &snap, n), 0x11) << "the snapshot first reads file a after the commit";
}

TEST_F(BufferManagerTest, DiscardedCopyReadsAsZerosAndIsZeroFilledOnWrite) {
  TMemFile* a = NewFile();
  TzfBlockNumber n;
  {
    TTestTrans t(BM.get());
    n = Allocate(a, &t, 1, 0x55)[0];
    t.Commit();
  }
  TTestTrans t(BM.get());
  BM->DiscardBlock(a, n, &t);
  EXPECT_EQ(Peek(a, &t, n), 0);
  TzfReleaseMethod rm;
  PzfBlock p = BM->GetBlock(a, &t, n, true, rm);
  EXPECT_EQ(p[100], 0);
  EXPECT_NE(p, TzfBufferManager::ZeroBlock());
  rm(p);
  t.Rollback();
  EXPECT_EQ(Peek(a, nullptr, n), 0x55);
}

TEST_F(BufferManagerTest, DirtyBlockOfAnUncachedBlockDoesNothing) {
  TMemFile* a = NewFile();
  TTestTrans t(BM.get());
  PzfBlock p = nullptr;
  BM->DirtyBlock(a, 77, &t, p);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(t.btTransBlockListHead, nullptr);
}

TEST_F(BufferManagerTest, BudgetOfTenMegabytesAndTheAddressSpaceCap) {
  auto saved = TzfBufferManager::bmMemoryFacts;
  TzfBufferManager::bmMemoryFacts = [](uint64_t& p, uint64_t& v) {
    p = 8192;
    v = 2048;
  };
  BM->ApplyMaxRAM(10);
  EXPECT_EQ(BM->bmMaxPages[2][0], 1280);
  EXPECT_EQ(BM->bmMaxPages[2][1], 1280);
  BM->ApplyMaxRAM(4000);
  EXPECT_EQ(BM->bmMaxRAM, 1536);
  EXPECT_EQ(BM->bmMaxPages[2][0], 131072);
  EXPECT_FALSE(BM->bmUseAllocated);
  TzfBufferManager::bmMemoryFacts = [](uint64_t& p, uint64_t& v) {
    p = 1000;
    v = uint64_t(1) << 27;
  };
  BM->ApplyMaxRAM(1000);
  EXPECT_EQ(BM->bmMaxRAM, 800) << "at most 8/10 of the physical memory";
  TzfBufferManager::bmMemoryFacts = saved;
}

// A file of 600 committed blocks (0x01), the budget set to 1 MB (256 pages) and the cache trimmed.
class SmallBudgetTest : public TCacheTest {
 protected:
  void SetUp() override {
    TCacheTest::SetUp();
    File = NewFile();
    TTestTrans t(BM.get());
    Blocks = Allocate(File, &t, 600, 0x01);
    t.Commit();
    BM->ApplyMaxRAM(1);
    BM->bmRemoveExcessBlocks(false, false);
  }
  int64_t Used() const { return BM->bmBlockListCount[2][0][1] + BM->bmBlockListCount[2][1][1]; }

  TMemFile* File = nullptr;
  std::vector<TzfBlockNumber> Blocks;
};

TEST_F(SmallBudgetTest, CleanBlocksLeaveTheCache) {
  EXPECT_LE(Used(), 256);
  for (int pass = 0; pass < 2; ++pass)
    for (TzfBlockNumber b : Blocks) EXPECT_EQ(Peek(File, nullptr, b), 0x01);
  EXPECT_LE(Used(), 257);
  EXPECT_GT(BM->bmBlockCacheEvict[2][0][0], 0);
  EXPECT_GT(File->Reads, 600) << "evicted blocks are read again";
}

// A pass that fails because every block over the budget is a dirty copy throttles the next
// unforced passes; once the transaction ended and the cache is back within its budget, that
// failure no longer holds, and the reads that follow must keep the cache within the budget
// instead of growing unchecked until the throttle runs out.
TEST_F(SmallBudgetTest, AFailedPassDoesNotThrottleEvictionOnceTheCacheIsWithinBudget) {
  {
    TTestTrans t(BM.get());
    Allocate(File, &t, 300, 0x02);
    BM->bmRemoveExcessBlocks(false, false);
    ASSERT_GT(Used(), 256) << "dirty copies cannot leave without a temporary store";
    ASSERT_NE(BM->bmLastCheckFailed[2], 0u) << "the pass failed";
    t.Rollback();
  }
  ASSERT_LE(Used(), 256);
  for (TzfBlockNumber b : Blocks) ASSERT_EQ(Peek(File, nullptr, b), 0x01);
  EXPECT_LE(Used(), 257);
}

TEST_F(BufferManagerTest, DirtyCopiesGoToTheTemporaryStoreAndComeBack) {
  TMemFile* a = NewFile();
  std::vector<TzfBlockNumber> n;
  {
    TTestTrans t(BM.get());
    n = Allocate(a, &t, 400, 0x01);
    t.Commit();
  }
  auto* store = new TMemTempStorage(1000);
  BM->SetTempStore(store);
  BM->ApplyMaxRAM(1);
  TTestTrans t(BM.get());
  for (size_t i = 0; i < n.size(); ++i) Poke(a, &t, n[i], uint8_t(i));
  BM->bmRemoveExcessBlocks(true, true);
  EXPECT_GT(store->Writes, 0) << "copies beyond the budget were stored";
  std::vector<UnicodeString> values;
  BM->GetStatsValues(values);
  EXPECT_EQ(values.back(), rtl::Format(u"%.0n kbyte", {double(store->StorageInUse() / 1024)}));
  EXPECT_NE(values.back(), u"0 kbyte");
  for (size_t i = 0; i < n.size(); ++i) ASSERT_EQ(Peek(a, &t, n[i]), uint8_t(i)) << i;
  t.Commit();
  for (size_t i = 0; i < n.size(); ++i) ASSERT_EQ(a->DiskBlock(n[i])[16], uint8_t(i)) << i;
  EXPECT_EQ(Peek(a, nullptr, n[7]), 7);
}

TEST_F(BufferManagerTest, DirtyBlocksStayWithoutATemporaryStore) {
  TMemFile* a = NewFile();
  std::vector<TzfBlockNumber> n;
  {
    TTestTrans t(BM.get());
    n = Allocate(a, &t, 300, 0x01);
    t.Commit();
  }
  BM->ApplyMaxRAM(1);
  TTestTrans t(BM.get());
  for (size_t i = 0; i < n.size(); ++i) Poke(a, &t, n[i], uint8_t(i + 1));
  BM->bmRemoveExcessBlocks(true, true);
  for (size_t i = 0; i < n.size(); ++i) ASSERT_EQ(Peek(a, &t, n[i]), uint8_t(i + 1));
  t.Rollback();
  EXPECT_EQ(Peek(a, nullptr, n[5]), 0x01);
}

TEST_F(BufferManagerTest, StatisticsRows) {
  std::vector<UnicodeString> captions, statics;
  TzfBufferManager::GetStatsCaptions(captions);
  TzfBufferManager::GetStatsValuesStatic(statics);
  const std::vector<UnicodeString> expected = {
      u"Block Cache Available",        u"Block Cache Used",         u"Block Cache Miss",
      u"Block Cache Hit ",             u"Block Cache Eviction ",    u"Transactions Commited",
      u"Transactions Commited Nested", u"Transactions Rolledback",  u"Transactions Rolledback Nested",
      u"Transactions Deadlocked",      u"Transactions Corrupted",   u"Blocks Read",
      u"Blocks Written",               u"Temporary Storage in use"};
  EXPECT_EQ(captions, expected);
  const std::vector<UnicodeString> zero = {u"0 kbyte", u"0 kbyte", u"0", u"0", u"0", u"0", u"0",
                                           u"0",       u"0",       u"0", u"0", u"0", u"0", u"0 kbyte"};
  EXPECT_EQ(statics, zero);

  TMemFile* a = NewFile();  // one commit: block 0 written
  std::vector<TzfBlockNumber> n;
  {
    TTestTrans t(BM.get());
    n = Allocate(a, &t, 3, 0x01);
    t.StartNested(false);
    t.Commit();
    t.StartNested(false);
    t.Rollback();
    t.Commit();
  }
  {
    TTestTrans t(BM.get());
    t.CurrentLevel()->MarkDeadlock();
    t.Rollback();
  }
  std::vector<UnicodeString> values;
  BM->GetStatsValues(values);
  EXPECT_EQ(values[0], u"10,240 kbyte");
  EXPECT_EQ(values[1], u"16 kbyte") << "block 0 and three blocks cached";
  EXPECT_EQ(values[5], u"2");  // commits
  EXPECT_EQ(values[6], u"1");
  EXPECT_EQ(values[7], u"1");
  EXPECT_EQ(values[8], u"1");
  EXPECT_EQ(values[9], u"1");
  EXPECT_EQ(values[10], u"0");
  EXPECT_EQ(values[12], u"5") << "block 0 twice, three new blocks";
  EXPECT_EQ(values[13], u"0 kbyte");
}

TEST_F(BufferManagerTest, StatisticsCountMissesAndHits) {
  TMemFile* a = NewFile();
  std::vector<TzfBlockNumber> n;
  {
    TTestTrans t(BM.get());
    n = Allocate(a, &t, 2, 0x01);
    t.Commit();
  }
  // The same file attached again from its disk image: every block is read on first use.
  BM->RemoveFile(a);
  std::unique_ptr<TMemFile> owned = std::move(Files.back());
  Files.pop_back();
  owned->fiHeaderAccessFactory.reset();
  TMemFile* b = AttachFile(std::move(owned));
  const int64_t miss0 = BM->bmBlockCacheHit[0][0][0];
  Peek(b, nullptr, n[0]);
  Peek(b, nullptr, n[1]);
  Peek(b, nullptr, n[0]);  // a hit, moving the block to the most recently used end
  std::vector<UnicodeString> values;
  BM->GetStatsValues(values);
  EXPECT_EQ(BM->bmBlockCacheHit[0][0][0] - miss0, 2);
  EXPECT_EQ(values[3], u"1");
  EXPECT_EQ(values[11], u"3") << "block 0 and two blocks read";
  EXPECT_EQ(values[1], u"12 kbyte");
}

TEST_F(BufferManagerTest, ScratchBlocks) {
  TzfScratchBlockHandle h = BM->CreateScratchBlock(TzfBlockSizeAll::zfbs4M);
  auto* p = static_cast<uint8_t*>(BM->LockScratchBlock(h));
  p[4194303] = 7;
  EXPECT_THROW(BM->UnlockScratchBlock(h, p + 1), rtl::EAssertionFailed);
  BM->UnlockScratchBlock(h, p);
  EXPECT_THROW(BM->UnlockScratchBlock(h, p), rtl::EAssertionFailed) << "no lock outstanding";
  EXPECT_THROW(BM->LockScratchBlock(h ^ (int64_t(1) << 40)), rtl::EAssertionFailed) << "wrong ID half";
  EXPECT_EQ(static_cast<uint8_t*>(BM->LockScratchBlock(h))[4194303], 7);
  EXPECT_THROW(BM->FreeScratchBlock(h), rtl::EAssertionFailed) << "still locked";
  BM->UnlockScratchBlock(h, BM->LockScratchBlock(h));
  BM->UnlockScratchBlock(h, p);
  BM->FreeScratchBlock(h);
  TzfScratchBlockHandle h2 = BM->CreateScratchBlock(TzfBlockSizeAll::zfbs4k);
  EXPECT_THROW(BM->LockScratchBlock(h), rtl::EAssertionFailed) << "a freed handle whose slot was reused";
  BM->FreeScratchBlock(h2);
}

TEST_F(BufferManagerTest, BlockAccessChecksOwnerAndReleasesOnFailure) {
  TMemFile* a = NewFile();
  TzfBlockNumber n;
  {
    TTestTrans t(BM.get());
    n = Allocate(a, &t, 1, 0x01, 5)[0];
    t.Commit();
  }
  TzfBlockAccess access(a, nullptr, u"a", 0);
  TzfReleaseMethod rm;
  PzfBlock p = access.GetBlock(nullptr, n, 5, false, rm);
  EXPECT_EQ(zfCacheFind(a, n)->robRefCount.load(), 1);
  rm(p);
  EXPECT_THROW(access.GetBlock(nullptr, n, 6, false, rm), EzfBaseException);
  EXPECT_FALSE(rm);
  EXPECT_EQ(zfCacheFind(a, n)->robRefCount.load(), 0) << "the reference was given back";
  TzfBlockAccess nested(a, &access, u"a", 3);
  TTestTrans t(BM.get());
  try {
    nested.ChangePassword(&t, u"x");
    FAIL();
  } catch (const EzfBaseException& e) {
    EXPECT_EQ(e.ErrorCode(), 12289u);
    EXPECT_NE(e.GetErrorString().find(u"only allowed for the root table"), UnicodeString::npos);
  }
  EXPECT_THROW(access.ChangePassword(&t, u"x"), EzfBaseException);
}

TEST_F(BufferManagerTest, ReleaseListGivesEveryReferenceBack) {
  TMemFile* a = NewFile();
  std::vector<TzfBlockNumber> n;
  {
    TTestTrans t(BM.get());
    n = Allocate(a, &t, 3, 0x01);
    t.Commit();
  }
  TzfReleaseList list;
  list.Release();
  for (TzfBlockNumber b : n) {
    TzfReleaseMethod rm;
    list.Add(BM->GetBlock(a, nullptr, b, false, rm), rm);
  }
  EXPECT_EQ(zfCacheFind(a, n[1])->robRefCount.load(), 1);
  list.Release();
  EXPECT_EQ(list.Count(), 0);
  for (TzfBlockNumber b : n) EXPECT_EQ(zfCacheFind(a, b)->robRefCount.load(), 0);
}

}  // namespace
}  // namespace zf::test
