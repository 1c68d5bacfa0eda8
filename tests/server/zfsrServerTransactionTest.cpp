// Server transactions and table transaction locks: nesting and counted starts, the lock decision
// (grant, wait, fail), upgrades and deadlocks, the failure text, a failed commit, and a stress run
// of several sessions (run it under the tsan preset).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "server/zfsrServerTransaction.h"
#include "storage/zfsrStartup.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf::test {
namespace {

class TTable : public TzfTransLockTable {
 public:
  explicit TTable(UnicodeString aName, TzfTableScope aScope = tsPersistent) : Name(std::move(aName)), Scope(aScope) {}
  UnicodeString tltFullName() override { return Name; }
  TzfTableScope tltScope() override { return Scope; }
  void srtBeginCommit(TzfBaseTransaction*) override {
    if (FailBegin) throw EzfBaseException(11047);
    ++InCommit;
  }
  void srtEndCommit(TzfBaseTransaction*) override { --InCommit; }
  void srtAbortCommit(TzfBaseTransaction*) override {
    --InCommit;
    ++Aborted;
  }
  UnicodeString Name;
  TzfTableScope Scope;
  bool FailBegin = false;
  std::atomic<int> InCommit{0};
  int Aborted = 0;
};

class ServerTransaction : public ::testing::Test {
 protected:
  void SetUp() override {
    zfStartStorage();
    BM = std::make_unique<TzfBufferManager>(u"/tmp");
    zfSetTimeout(0, true);
  }
  void TearDown() override {
    Slots.clear();
    BM.reset();
    zfStopStorage();
  }
  // A context of session aSession (an identity only).
  TzfServerTransSlot* Ctx(int aSession) {
    Slots.push_back(std::make_unique<TzfServerTransSlot>(BM.get(), &SessionIds[aSession]));
    return Slots.back().get();
  }
  uint32_t Lock(TzfServerTransSlot* aCtx, TTable& aTable, bool aExclusive, bool aConditional = false) {
    return aCtx->Transaction()->stLockTable(&aTable, aExclusive, aConditional, &Reason);
  }
  static int32_t Level(TzfServerTransSlot* aCtx) {
    int32_t l = -1;
    const uint32_t r = aCtx->TransactionGetLevel(l);
    return r ? -static_cast<int32_t>(r) : l;
  }

  std::unique_ptr<TzfBufferManager> BM;
  std::vector<std::unique_ptr<TzfServerTransSlot>> Slots;
  char SessionIds[8] = {};
  TzfLockFailureReason Reason;
};

UnicodeString Joined(const TzfLockFailureReason& aReason) {
  UnicodeString r;
  for (int32_t i = 0; i < aReason.Count(); ++i) r += aReason[i] + u"\n";
  return r;
}

bool Contains(const UnicodeString& aText, const char16_t* aPart) { return aText.find(aPart) != UnicodeString::npos; }

// ---- levels ------------------------------------------------------------------------------------

TEST_F(ServerTransaction, LevelsOfStartsCommitsAndRollbacks) {
  enum Op { Start, StartNoMore, Commit, Rollback, Corrupt };
  struct Step {
    Op What;
    uint32_t Answer;
    int32_t LevelAfter;  // negative: the code GetLevel answers
  };
  struct Case {
    const char* Name;
    std::vector<Step> Steps;
  } cases[] = {
      {"start start commit commit",
       {{Start, 0, 0}, {Start, 0, 1}, {Commit, 0, 0}, {Commit, 0, -10257}, {Commit, 10257, -10257}}},
      {"counted starts under no-more-nested",
       {{StartNoMore, 0, 0}, {Start, 0, 1}, {Start, 0, 2}, {Start, 0, 3}, {Commit, 0, 2}, {Commit, 0, 1},
        {Commit, 0, 0}, {Commit, 0, -10257}}},
      {"a rolled-back counted start corrupts the level",
       {{StartNoMore, 0, 0}, {Start, 0, 1}, {Rollback, 0, 0}, {Commit, 15443, 0}, {Start, 15443, 0},
        {Rollback, 0, -10257}}},
      {"marked corrupted", {{Start, 0, 0}, {Corrupt, 0, 0}, {Commit, 15443, 0}, {Rollback, 0, -10257}}},
      {"nothing running", {{Rollback, 10257, -10257}, {Corrupt, 10257, -10257}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TzfServerTransSlot* ctx = Ctx(0);
    for (size_t i = 0; i < c.Steps.size(); ++i) {
      SCOPED_TRACE(i);
      const Step& s = c.Steps[i];
      uint32_t r = 0;
      switch (s.What) {
        case Start: r = ctx->stcTransactionStart(false, false, false, false, false); break;
        case StartNoMore: r = ctx->stcTransactionStart(false, false, false, true, false); break;
        case Commit: r = ctx->stcTransactionCommit(); break;
        case Rollback: r = ctx->stcTransactionRollback(); break;
        case Corrupt: r = ctx->stcTransactionMarkCorrupted(); break;
      }
      EXPECT_EQ(r, s.Answer);
      EXPECT_EQ(Level(ctx), s.LevelAfter);
    }
  }
}

TEST_F(ServerTransaction, CommitOfALevelInUseAndFailedContext) {
  TzfServerTransSlot* ctx = Ctx(0);
  ASSERT_EQ(ctx->stcTransactionStart(false, false, false, false, false), 0u);
  ctx->Transaction()->Lock();  // a record lock of a cursor in the innermost level
  EXPECT_EQ(ctx->stcTransactionCommit(), 8455u);
  EXPECT_EQ(ctx->stcTransactionRollback(), 8455u);
  ctx->Transaction()->Unlock();

  TTable t(u"T");
  ASSERT_EQ(Lock(ctx, t, true), 0u);
  ctx->Failed();  // rolls everything back and releases the table
  EXPECT_EQ(ctx->Transaction(), nullptr);
  EXPECT_TRUE(t.srtTransLinksEmpty());
  EXPECT_EQ(ctx->stcTransactionStart(false, false, false, false, false), 15443u);
}

// ---- the lock decision ------------------------------------------------------------------------

TEST_F(ServerTransaction, ReadersShareAWriterWaitsOrFailsAtOnce) {
  TTable t(u"Orders");
  TzfServerTransSlot* a = Ctx(0);
  TzfServerTransSlot* b = Ctx(1);
  ASSERT_EQ(a->stcTransactionStart(false, false, false, false, false), 0u);
  ASSERT_EQ(b->stcTransactionStart(false, false, false, false, false), 0u);
  EXPECT_EQ(Lock(a, t, false), 0u);
  EXPECT_EQ(Lock(b, t, false), 0u);
  EXPECT_EQ(b->stcTransactionCommit(), 0u);

  // No deadline: the writer's request answers at once, with the conflict text.
  ASSERT_EQ(b->stcTransactionStart(false, false, false, false, false), 0u);
  EXPECT_EQ(Lock(b, t, true), 10249u);
  const UnicodeString text = Joined(Reason);
  EXPECT_TRUE(Contains(text, u"The requested exclusive transaction lock for table \"Orders\" could not be granted due "
                             u"to a conflicting shared transaction lock."))
      << rtl::u8(text);
  EXPECT_TRUE(Contains(text, u"The conflict occured with an unknown session."));
  EXPECT_TRUE(Contains(text, zfEncodeCustomInfo(u"LockError.Type", u"transaction").c_str()));
  EXPECT_EQ(t.srtCheckTransLinks(), u"");

  // With a deadline the writer waits and is woken when the reader commits.
  std::atomic<uint32_t> answer{1};
  std::thread writer([&] {
    zfSetTimeout(20000, true);
    TzfLockFailureReason r;
    answer = b->Transaction()->stLockTable(&t, true, false, &r);
  });
  while (true) {
    TzfPadlockGuard g(t.srtTransLinksPadlock);
    if (t.srtTransLinksPendingHead) break;
  }
  // A shared request arriving while the writer waits is granted at once.
  TzfServerTransSlot* c = Ctx(2);
  ASSERT_EQ(c->stcTransactionStart(false, false, false, false, false), 0u);
  EXPECT_EQ(Lock(c, t, false), 0u);
  EXPECT_EQ(c->stcTransactionCommit(), 0u);
  EXPECT_EQ(a->stcTransactionCommit(), 0u);
  writer.join();
  EXPECT_EQ(answer.load(), 0u);
  EXPECT_EQ(b->stcTransactionCommit(), 0u);
  EXPECT_TRUE(t.srtTransLinksEmpty());
}

TEST_F(ServerTransaction, UpgradesInPlaceSameSessionAndDeadlock) {
  TTable t(u"T");
  TzfServerTransSlot* a = Ctx(0);
  ASSERT_EQ(a->stcTransactionStart(false, false, false, false, false), 0u);
  ASSERT_EQ(Lock(a, t, false), 0u);
  TzfTransLink* shared = a->Transaction()->stFindLink(&t);
  ASSERT_EQ(Lock(a, t, true), 0u);
  EXPECT_EQ(a->Transaction()->stFindLink(&t), shared) << "the only reader becomes the writer in place";
  EXPECT_TRUE(shared->ttlExclusive);
  EXPECT_EQ(a->stcTransactionCommit(), 0u);

  // Another transaction of the same session holds a shared link: the upgrade fails at once.
  TzfServerTransSlot* a2 = Ctx(0);
  ASSERT_EQ(a->stcTransactionStart(false, false, false, false, false), 0u);
  ASSERT_EQ(a2->stcTransactionStart(false, false, false, false, false), 0u);
  ASSERT_EQ(Lock(a, t, false), 0u);
  ASSERT_EQ(Lock(a2, t, false), 0u);
  zfSetTimeout(20000, true);
  EXPECT_EQ(Lock(a, t, true), 10254u);
  EXPECT_TRUE(Reason.SameSession);
  EXPECT_EQ(t.srtCheckTransLinks(), u"");
  EXPECT_EQ(a2->stcTransactionCommit(), 0u);
  EXPECT_EQ(a->stcTransactionCommit(), 0u);

  // Two sessions both read and both ask to write: the second asker's level is rolled back.
  TzfServerTransSlot* b = Ctx(1);
  ASSERT_EQ(a->stcTransactionStart(false, false, false, false, false), 0u);
  ASSERT_EQ(b->stcTransactionStart(false, false, false, false, false), 0u);
  ASSERT_EQ(Lock(a, t, false), 0u);
  ASSERT_EQ(Lock(b, t, false), 0u);
  std::atomic<uint32_t> first{1};
  std::thread asker([&] {
    zfSetTimeout(20000, true);
    TzfLockFailureReason r;
    first = a->Transaction()->stLockTable(&t, true, false, &r);
  });
  while (true) {
    TzfPadlockGuard g(t.srtTransLinksPadlock);
    if (t.srtTransLinksPendingUpgrade) break;
  }
  EXPECT_EQ(Lock(b, t, true), 10255u);
  asker.join();  // the deadlocked level released its shared link
  EXPECT_EQ(first.load(), 0u);
  EXPECT_EQ(b->stcTransactionStart(false, false, false, false, false), 10255u);
  EXPECT_EQ(b->stcTransactionCommit(), 10255u);
  EXPECT_EQ(b->stcTransactionRollback(), 0u);
  EXPECT_EQ(a->stcTransactionCommit(), 0u);
  EXPECT_TRUE(t.srtTransLinksEmpty());
}

TEST_F(ServerTransaction, NestedUpgradeRolledBackRestoresTheSharedLink) {
  TTable t(u"T");
  TzfServerTransSlot* a = Ctx(0);
  TzfServerTransSlot* b = Ctx(1);
  ASSERT_EQ(a->stcTransactionStart(false, false, false, false, false), 0u);
  ASSERT_EQ(Lock(a, t, false), 0u);
  TzfTransLink* shared = a->Transaction()->stFindLink(&t);
  ASSERT_EQ(a->stcTransactionStart(false, false, false, false, false), 0u);
  ASSERT_EQ(Lock(a, t, true), 0u);
  TzfTransLink* upgrade = a->Transaction()->stFindLink(&t);
  EXPECT_NE(upgrade, shared);
  EXPECT_EQ(t.srtTransLinksGrantedHead, upgrade);
  EXPECT_EQ(a->stcTransactionRollback(), 0u);
  EXPECT_EQ(a->Transaction()->stFindLink(&t), shared);
  EXPECT_EQ(t.srtTransLinksGrantedHead, shared);
  EXPECT_FALSE(shared->ttlExclusive);
  // Another reader gets in again; the same upgrade committed into the parent keeps the writer.
  ASSERT_EQ(b->stcTransactionStart(false, false, false, false, false), 0u);
  EXPECT_EQ(Lock(b, t, false), 0u);
  EXPECT_EQ(b->stcTransactionCommit(), 0u);
  ASSERT_EQ(a->stcTransactionStart(false, false, false, false, false), 0u);
  ASSERT_EQ(Lock(a, t, true), 0u);
  EXPECT_EQ(a->stcTransactionCommit(), 0u);
  TzfTransLink* moved = a->Transaction()->stFindLink(&t);
  EXPECT_TRUE(moved->ttlExclusive);
  EXPECT_EQ(a->Transaction()->Level()->stlTableLinksHead, moved);
  EXPECT_EQ(moved->ttlTransactionLevelNext, nullptr) << "the old shared link retired";
  EXPECT_EQ(a->stcTransactionCommit(), 0u);
  EXPECT_TRUE(t.srtTransLinksEmpty());
}

TEST_F(ServerTransaction, SnapshotAndConditionalRequests) {
  TTable t(u"T");
  TTable unnamed(u" Unnamed", tsTempUnnamed);
  TzfServerTransSlot* w = Ctx(0);
  TzfServerTransSlot* s = Ctx(1);
  ASSERT_EQ(w->stcTransactionStart(false, false, false, false, false), 0u);
  ASSERT_EQ(Lock(w, t, true), 0u);
  ASSERT_EQ(s->stcTransactionStart(false, true, false, false, false), 0u);
  EXPECT_EQ(Lock(s, t, false), 0u) << "a snapshot reads beside a writer";
  EXPECT_EQ(Lock(s, t, true), 10763u);
  EXPECT_EQ(Lock(s, unnamed, true), 0u) << "unnamed temporary tables are written in snapshots";
  EXPECT_EQ(t.srtCheckTransLinks(), u"");

  TzfServerTransSlot* r = Ctx(2);
  ASSERT_EQ(r->stcTransactionStart(false, false, false, false, false), 0u);
  zfSetTimeout(20000, true);
  EXPECT_EQ(Lock(r, t, false, true), 10249u) << "a conditional request does not wait";
  EXPECT_TRUE(Contains(Joined(Reason), u"a conflicting exclusive transaction lock."));
  EXPECT_EQ(r->Transaction()->stFindLink(&t), nullptr);
  for (TzfServerTransSlot* c : {w, s, r}) EXPECT_EQ(c->stcTransactionCommit(), 0u);
  EXPECT_TRUE(t.srtTransLinksEmpty());
  EXPECT_TRUE(unnamed.srtTransLinksEmpty());
}

// A waiter that times out leaves the pending list and its transaction under the table padlock,
// so nobody can grant it after it answered.
TEST_F(ServerTransaction, TimedOutWaiterLeavesTheLists) {
  TTable t(u"T");
  TzfServerTransSlot* holder = Ctx(0);
  TzfServerTransSlot* writer = Ctx(1);
  TzfServerTransSlot* reader = Ctx(2);
  for (TzfServerTransSlot* c : {holder, writer, reader})
    ASSERT_EQ(c->stcTransactionStart(false, false, false, false, false), 0u);
  ASSERT_EQ(Lock(holder, t, false), 0u);
  std::atomic<uint32_t> w{1};
  std::thread tw([&] {
    zfSetTimeout(60, true);
    TzfLockFailureReason r;
    w = writer->Transaction()->stLockTable(&t, true, false, &r);
  });
  tw.join();
  EXPECT_EQ(w.load(), 10249u);
  EXPECT_EQ(t.srtTransLinksPendingHead, nullptr);
  EXPECT_EQ(writer->Transaction()->stFindLink(&t), nullptr);
  for (TzfServerTransSlot* c : {holder, writer, reader}) EXPECT_EQ(c->stcTransactionCommit(), 0u);
  EXPECT_TRUE(t.srtTransLinksEmpty());
}

// A commit that fails after one table began it leaves that table readable by the next transaction.
TEST_F(ServerTransaction, FailedCommitReleasesWhatItBegan) {
  TTable a(u"A"), b(u"B");
  TzfServerTransSlot* ctx = Ctx(0);
  ASSERT_EQ(ctx->stcTransactionStart(false, false, false, false, false), 0u);
  ASSERT_EQ(Lock(ctx, a, true), 0u);
  ASSERT_EQ(Lock(ctx, b, true), 0u);
  b.FailBegin = true;
  EXPECT_EQ(ctx->stcTransactionCommit(), 11047u);
  EXPECT_EQ(a.InCommit.load(), 0);
  EXPECT_EQ(a.Aborted, 1);
  EXPECT_TRUE(a.srtTransLinksEmpty());
  EXPECT_TRUE(b.srtTransLinksEmpty());
  EXPECT_EQ(ctx->stcTransactionRollback(), 0u);
  TzfServerTransSlot* next = Ctx(1);
  ASSERT_EQ(next->stcTransactionStart(false, false, false, false, false), 0u);
  EXPECT_EQ(Lock(next, a, false), 0u);
  EXPECT_EQ(Lock(next, a, true), 0u);
  EXPECT_EQ(next->stcTransactionCommit(), 0u);
}

// ---- stress -----------------------------------------------------------------------------------

void StressRun(ServerTransaction* aTest, TzfBufferManager* aBM, int aThreads, int aRounds) {
  std::vector<std::unique_ptr<TTable>> tables;
  for (int i = 0; i < 3; ++i) tables.push_back(std::make_unique<TTable>(u"T" + rtl::IntToStr(i)));
  std::atomic<bool> broken{false};
  std::atomic<int64_t> worstOverrun{0};
  std::vector<std::thread> threads;
  char sessions[16] = {};
  for (int th = 0; th < aThreads; ++th) {
    threads.emplace_back([&, th] {
      std::mt19937 rng(static_cast<uint32_t>(th * 7919 + 1));
      TzfServerTransSlot ctx(aBM, &sessions[th]);
      TzfLockFailureReason reason;
      for (int round = 0; round < aRounds; ++round) {
        int depth = 0;
        const int steps = 1 + static_cast<int>(rng() % 8);
        for (int s = 0; s < steps; ++s) {
          const uint32_t op = rng() % 10;
          if (op < 3 || depth == 0) {
            if (ctx.stcTransactionStart(false, false, false, false, false) == 0) ++depth;
          } else if (op < 8) {
            TTable* t = tables[rng() % tables.size()].get();
            const uint32_t limit = 5 + rng() % 30;
            zfSetTimeout(limit, true);
            const auto before = std::chrono::steady_clock::now();
            const uint32_t r = ctx.Transaction()->stLockTable(t, rng() % 3 == 0, rng() % 5 == 0, &reason);
            const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - before).count();
            int64_t over = took - static_cast<int64_t>(limit);
            int64_t seen = worstOverrun.load();
            while (over > seen && !worstOverrun.compare_exchange_weak(seen, over)) {
            }
            if (r != 0 && r != 10249 && r != 10254 && r != 10255 && r != 10763) broken = true;
            if (!t->srtCheckTransLinks().empty()) broken = true;
          } else {
            const uint32_t r = rng() % 2 ? ctx.stcTransactionCommit() : ctx.stcTransactionRollback();
            if (r == 10255 || r == 15443) ctx.stcTransactionRollback();
            int32_t l = 0;
            depth = ctx.TransactionGetLevel(l) == 0 ? l + 1 : 0;
          }
        }
        ctx.atcForceRollback();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(broken.load());
  for (auto& t : tables) {
    EXPECT_TRUE(t->srtTransLinksEmpty());
    EXPECT_EQ(t->InCommit.load(), 0);
  }
  // Generous slack: sanitizers and loaded machines slow the wake-ups down.
  EXPECT_LT(worstOverrun.load(), 2000);
  (void)aTest;
}

TEST_F(ServerTransaction, StressOfNestedTransactionsOnFewTables) { StressRun(this, BM.get(), 4, 60); }
TEST_F(ServerTransaction, StressOfNestedTransactionsOnFewTablesSlow) { StressRun(this, BM.get(), 8, 3000); }

}  // namespace
}  // namespace zf::test
