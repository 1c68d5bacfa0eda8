// Record locks taken while the content portal is read: a reader that must wait for a record lock
// held by a committing writer leaves the portal for the wait, so the writer's commit gets through;
// and a stress run of nesting readers and committing writers in two sessions on one table, with
// every wait under a deadline, where nothing stalls and the lock lists stay sound (run it under
// the tsan preset).
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "foundation/zfllErrors.h"
#include "server/zfsrContentLock.h"
#include "server/zfsrServerTransaction.h"
#include "storage/zfsrStartup.h"
#include "server/zfsrServerStartup.h"
#include "storage/zfsrTimeoutHandling.h"
#include "tests/dictionary/server/zfsdTestEngine.h"

namespace zf::test {
namespace {

// Cursors are stand-in addresses placed in sessions by a map; the container never touches them.
class TSessionMapContainer : public TzfTableLockContainer {
 public:
  TzfAbstractSession* tlcSessionOf(TzfAbstractCursor* aCursor) override {
    auto it = Sessions.find(aCursor);
    return it == Sessions.end() ? nullptr : it->second;
  }
  TzfAbstractSession* tlcSessionOfTrans(TzfBaseTransaction*) override { return nullptr; }
  bool tlcTransactionCanBind(TzfBaseTransaction*) override { return true; }
  std::map<TzfAbstractCursor*, TzfAbstractSession*> Sessions;
};

class ContentLock : public ServerTest {
 protected:
  static void SetUpTestSuite() {
    ServerTest::SetUpTestSuite();
    zfStartServer();
  }
  static void TearDownTestSuite() {
    zfStopServer();
    ServerTest::TearDownTestSuite();
  }
  void SetUp() override {
    ServerTest::SetUp();
    S1 = OpenSession(u"alice");
    S2 = OpenSession(u"bob");
    for (int i = 0; i < 8; ++i) C.Sessions[Cur(i)] = i % 2 ? S2 : S1;
  }
  void TearDown() override {
    zfSetTimeout(0, true);
    S1->Free();
    S2->Free();
    ServerTest::TearDown();
  }
  TzfAbstractCursor* Cur(int i) { return reinterpret_cast<TzfAbstractCursor*>(&Slots[i]); }

  char Slots[8] = {};
  TzfAbstractSession* S1 = nullptr;
  TzfAbstractSession* S2 = nullptr;
  TSessionMapContainer C;
  TzfContentPortal Portal;
};

TEST_F(ContentLock, ReaderWaitingForARecordLockLetsTheCommittingWriterThrough) {
  TzfAbstractCursor* writer = Cur(1);
  TzfAbstractCursor* reader = Cur(0);
  ASSERT_TRUE(zfLockGranted(C.GetRecordLock(nullptr, writer, 1, false, nullptr)));
  std::atomic<bool> granted{false};
  std::atomic<uint32_t> levelsAfter{0};
  std::thread r([&] {
    zfSetTimeout(10000, true);
    Portal.BeginRead();
    Portal.BeginRead();
    TzfLockFailureReason reason;
    granted = zfLockGranted(zfGetRecordLockOutsidePortal(C, &Portal, nullptr, reader, 1, false, &reason));
    levelsAfter = Portal.ReadLevels();
    if (granted) C.ReleaseRecordLock(reader, 1, nullptr);
    Portal.EndRead();
    Portal.EndRead();
    zfSetTimeout(0, true);
  });
  while (C.WaitingCount() == 0) std::this_thread::yield();
  // The commit: the portal's write side while the record lock is still held. The reader waits
  // outside the portal, so this does not wait for the reader's deadline.
  EXPECT_EQ(Portal.TryBeginWrite(5000), 0u);
  Portal.EndWrite();
  EXPECT_TRUE(C.ReleaseRecordLock(writer, 1, nullptr));
  r.join();
  EXPECT_TRUE(granted.load());
  EXPECT_EQ(levelsAfter.load(), 2u);
  EXPECT_EQ(u"", C.CheckInvariants());
  EXPECT_EQ(0, C.RecordLockCount());
  EXPECT_EQ(std::string(Portal.CheckInvariants()), "");
}

TEST_F(ContentLock, FreeLockIsTakenWithoutLeavingThePortalAndConflictsKeepTheirReasons) {
  Portal.BeginRead();
  EXPECT_TRUE(zfLockGranted(zfGetRecordLockOutsidePortal(C, &Portal, nullptr, Cur(0), 3, false, nullptr)));
  EXPECT_EQ(Portal.ReadLevels(), 1u);
  // No deadline: a conflict is answered at once, with its failure lines, and the reads are back.
  zfSetTimeout(0, true);
  TzfLockFailureReason reason;
  const TzfLockResult r = zfGetRecordLockOutsidePortal(C, &Portal, nullptr, Cur(1), 3, false, &reason);
  EXPECT_FALSE(zfLockGranted(r));
  EXPECT_GT(reason.Count(), 0);
  EXPECT_EQ(Portal.ReadLevels(), 1u);
  Portal.EndRead();
  C.ClearAllLocks(Cur(0));
  EXPECT_EQ(u"", C.CheckInvariants());
}

TEST_F(ContentLock, StressReadersAndCommittingWritersInTwoSessions) {
  int64_t data[4][2] = {};  // per record: a writer keeps both halves equal under the portal's write side
  // A conflict within one session is answered at once (10254): it is no stall.
  std::atomic<int> torn{0}, stalled{0}, refused{0}, sameSession{0};
  auto refusal = [&](const TzfLockFailureReason& aReason) { ++(aReason.SameSession ? sameSession : stalled); };
  constexpr int kThreads = 6;
  constexpr int kRounds = 200;
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; ++t)
    ts.emplace_back([&, t] {
      std::mt19937 rng(static_cast<unsigned>(t) * 104729u + 3u);
      TzfAbstractCursor* me = Cur(t);
      for (int i = 0; i < kRounds; ++i) {
        zfSetTimeout(5000, true);
        const int64_t ref = static_cast<int64_t>(rng() % 4);
        if (rng() % 3 == 0) {
          // A writer: the record lock, then the commit under the portal's write side.
          TzfLockFailureReason reason;
          if (!zfLockGranted(C.GetRecordLock(nullptr, me, ref, false, &reason))) {
            refusal(reason);
            continue;
          }
          if (Portal.TryBeginWrite(5000) != 0) {
            ++stalled;
          } else {
            ++data[ref][0];
            ++data[ref][1];
            Portal.EndWrite();
          }
          C.ReleaseRecordLock(me, ref, nullptr);
        } else {
          // A reader outside transactions: nested reads of the portal, a locked record read.
          TzfContentReadGuard outer(Portal);
          TzfContentReadGuard inner(Portal);
          TzfLockFailureReason reason;
          const TzfLockResult r = zfGetRecordLockOutsidePortal(C, &Portal, nullptr, me, ref, false, &reason);
          if (!zfLockGranted(r)) {
            refusal(reason);
            continue;
          }
          if (data[ref][0] != data[ref][1]) ++torn;
          if (Portal.TryBeginWrite(0) == zfErrDeadlock) ++refused;
          if (r == TzfLockResult::lrGrantedNew) C.ReleaseRecordLock(me, ref, nullptr);
        }
      }
      zfSetTimeout(0, true);
    });
  for (auto& th : ts) th.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(stalled.load(), 0);
  EXPECT_GT(refused.load(), 0);
  EXPECT_EQ(u"", C.CheckInvariants());
  EXPECT_EQ(0, C.WaitingCount());
  EXPECT_EQ(0, C.RecordLockCount());
  EXPECT_EQ(std::string(Portal.CheckInvariants()), "");
  EXPECT_FALSE(Portal.HasWriter());
}

class TLockTable : public TzfTransLockTable {
 public:
  UnicodeString tltFullName() override { return u"T"; }
};

class CursorContentLock : public ::testing::Test {
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
  TzfServerTransaction* Start(int aSession) {
    Slots.push_back(std::make_unique<TzfServerTransSlot>(BM.get(), &SessionIds[aSession]));
    EXPECT_EQ(Slots.back()->stcTransactionStart(false, false, false, false, false), 0u);
    return Slots.back()->Transaction();
  }
  std::unique_ptr<TzfBufferManager> BM;
  std::vector<std::unique_ptr<TzfServerTransSlot>> Slots;
  char SessionIds[4] = {};
  TzfContentPortal Portal;
  TLockTable Table;
};

TEST_F(CursorContentLock, OutsideTransactionsSharedCursorsReadThePortal) {
  TzfCursorContentLock shared(&Portal, &Table, false);
  TzfCursorContentLock exclusive(&Portal, &Table, true);
  EXPECT_EQ(shared.Begin(nullptr, false, false, nullptr), 0u);
  EXPECT_EQ(shared.Begin(nullptr, false, false, nullptr), 0u);
  EXPECT_EQ(Portal.ReadLevels(), 2u);
  EXPECT_EQ(shared.Begin(nullptr, true, false, nullptr), zfErrNoActiveTran);
  EXPECT_EQ(shared.Depth(), 2u);
  EXPECT_EQ(exclusive.Begin(nullptr, false, false, nullptr), 0u);
  EXPECT_EQ(Portal.ReadLevels(), 2u);  // an exclusive cursor needs no portal
  exclusive.End();
  // A transaction started between a Begin and its End does not keep the portal held.
  TzfServerTransaction* t = Start(0);
  shared.End();
  EXPECT_EQ(Portal.ReadLevels(), 1u);
  EXPECT_EQ(shared.Begin(t, false, false, nullptr), 0u);
  EXPECT_EQ(Portal.ReadLevels(), 1u);
  shared.End();
  shared.End();
  EXPECT_EQ(Portal.ReadLevels(), 0u);
  EXPECT_THROW(shared.End(), rtl::Exception);
  EXPECT_EQ(std::string(Portal.CheckInvariants()), "");
}

TEST_F(CursorContentLock, InTransactionsTheTransactionLocksTheTable) {
  TzfCursorContentLock a(&Portal, &Table, false);
  TzfCursorContentLock b(&Portal, &Table, false);
  TzfServerTransaction* ta = Start(0);
  TzfServerTransaction* tb = Start(1);
  EXPECT_EQ(a.Begin(ta, false, false, nullptr), 0u);
  a.End();
  EXPECT_NE(ta->stFindLink(&Table), nullptr);  // the link outlives the operation
  EXPECT_EQ(Portal.ReadLevels(), 0u);
  // Another session's write conflicts with the shared link: refused with its reasons, nothing held.
  TzfLockFailureReason reason;
  const uint32_t r = b.Begin(tb, true, true, &reason);
  EXPECT_NE(r, 0u);
  EXPECT_EQ(b.Depth(), 0u);
  EXPECT_EQ(reason.Count(), 0);  // the reasons went into the pending message
  // Reads of both go together; the writer of ta upgrades while it is the only one.
  EXPECT_EQ(a.Begin(ta, true, false, nullptr), 0u);
  a.End();
  EXPECT_EQ(Table.srtCheckTransLinks(), u"");
}

// A table whose commit publishes the writer's change under the portal's write side, as a root
// table's commit hooks do.
class TPublishingTable : public TzfTransLockTable {
 public:
  explicit TPublishingTable(TzfContentPortal& aPortal) : Portal(aPortal) {}
  UnicodeString tltFullName() override { return u"T"; }
  void srtBeginCommit(TzfBaseTransaction*) override {
    Portal.BeginWrite();
    ++Data[0];
    ++Data[1];
  }
  void srtEndCommit(TzfBaseTransaction*) override { Portal.EndWrite(); }
  TzfContentPortal& Portal;
  int64_t Data[2] = {0, 0};
};

TEST_F(CursorContentLock, StressReadersOutsideAndInsideTransactionsWithCommittingWriters) {
  TPublishingTable table(Portal);
  std::atomic<int> torn{0}, stalled{0}, commits{0};
  constexpr int kThreads = 4;
  constexpr int kRounds = 150;
  char sessions[kThreads] = {};
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; ++t)
    ts.emplace_back([&, t] {
      std::mt19937 rng(static_cast<unsigned>(t) * 7u + 11u);
      TzfServerTransSlot slot(BM.get(), &sessions[t]);
      TzfCursorContentLock lock(&Portal, &table, false);
      for (int i = 0; i < kRounds; ++i) {
        zfSetTimeout(5000, true);
        switch (rng() % 3) {
          case 0: {  // a read outside transactions, nested
            if (lock.Begin(nullptr, false, false, nullptr) != 0 || lock.Begin(nullptr, false, false, nullptr) != 0) {
              ++stalled;
              break;
            }
            if (table.Data[0] != table.Data[1]) ++torn;
            lock.End();
            lock.End();
            break;
          }
          case 1: {  // reads inside a transaction
            if (slot.stcTransactionStart(false, false, false, false, false) != 0) {
              ++stalled;
              break;
            }
            TzfLockFailureReason reason;
            if (lock.Begin(slot.Transaction(), false, false, &reason) == 0) {
              if (table.Data[0] != table.Data[1]) ++torn;
              lock.End();
            } else {
              ++stalled;
            }
            slot.stcTransactionRollback();
            break;
          }
          default: {  // a writer that commits
            if (slot.stcTransactionStart(false, false, false, false, false) != 0) {
              ++stalled;
              break;
            }
            TzfLockFailureReason reason;
            if (lock.Begin(slot.Transaction(), true, false, &reason) == 0) {
              lock.End();
              if (slot.stcTransactionCommit() == 0) {
                ++commits;
                break;
              }
            }
            ++stalled;
            slot.stcTransactionRollback();
          }
        }
      }
      zfSetTimeout(0, true);
    });
  for (auto& th : ts) th.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(stalled.load(), 0);
  EXPECT_GT(commits.load(), 0);
  EXPECT_EQ(table.Data[0], commits.load());
  EXPECT_EQ(table.srtCheckTransLinks(), u"");
  EXPECT_TRUE(table.srtTransLinksEmpty());
  EXPECT_EQ(std::string(Portal.CheckInvariants()), "");
  EXPECT_EQ(Portal.ReaderCount(), 0u);
}

}  // namespace
}  // namespace zf::test
