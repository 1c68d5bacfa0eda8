// The table lock container: conflicts between read, write and record locks, counts, the binding
// to a deleting transaction, waiting with and without a deadline, the failure lines, and a stress
// run of many cursors and sessions (run it under the tsan preset).
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <thread>

#include "server/zfsrServerStartup.h"
#include "server/zfsrTableLockContainer.h"
#include "storage/zfsrTimeoutHandling.h"
#include "tests/dictionary/server/zfsdTestEngine.h"

namespace zf::test {
namespace {

UnicodeString Joined(const TzfLockFailureReason& aReason) {
  UnicodeString r;
  for (int32_t i = 0; i < aReason.Count(); ++i) r += aReason[i] + u"\n";
  return r;
}

// Cursors are stand-in addresses placed in sessions by a map; the container never touches them.
class TTestContainer : public TzfTableLockContainer {
 public:
  TzfAbstractSession* tlcSessionOf(TzfAbstractCursor* aCursor) override {
    auto it = Sessions.find(aCursor);
    return it == Sessions.end() ? nullptr : it->second;
  }
  TzfAbstractSession* tlcSessionOfTrans(TzfBaseTransaction* aTrans) override {
    auto it = TransSessions.find(aTrans);
    return it == TransSessions.end() ? nullptr : it->second;
  }
  bool tlcTransactionCanBind(TzfBaseTransaction* aTrans) override { return aTrans != Broken; }
  std::map<TzfAbstractCursor*, TzfAbstractSession*> Sessions;
  TzfBaseTransaction* Broken = nullptr;
  std::map<TzfBaseTransaction*, TzfAbstractSession*> TransSessions;
};

class LockContainer : public ServerTest {
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
    C.Sessions[A1()] = S1;
    C.Sessions[A2()] = S1;
    C.Sessions[B1()] = S2;
    C.Sessions[B2()] = S2;
    zfSetTimeout(0, true);  // no deadline: conflicts answer at once
  }
  void TearDown() override {
    S1->Free();
    S2->Free();
    ServerTest::TearDown();
  }

 public:
  TzfAbstractCursor* Cur(int i) { return reinterpret_cast<TzfAbstractCursor*>(&Slots[i]); }
  TzfAbstractCursor* A1() { return Cur(0); }
  TzfAbstractCursor* A2() { return Cur(1); }
  TzfAbstractCursor* B1() { return Cur(2); }
  TzfAbstractCursor* B2() { return Cur(3); }
  TzfBaseTransaction* Trans(int i) { return reinterpret_cast<TzfBaseTransaction*>(&Slots[10 + i]); }

  char Slots[16] = {};
  TTestContainer C;
  TTestSession* S1 = nullptr;
  TTestSession* S2 = nullptr;
};

using R = TzfLockResult;

TEST_F(LockContainer, ConflictsBetweenKindsOfLock) {
  struct Step {
    const char* What;
    int Kind;  // 0 read, 1 write, 2 record (RefNr 7), 3 record 8
    TzfAbstractCursor* (LockContainer::*Cursor)();
    R Expect;
  };
  // Each row runs on a fresh container after its setup rows.
  struct Case {
    std::vector<Step> Steps;
  } cases[] = {
      {{{"own record lock blocks own read", 2, &LockContainer::A1, R::lrGrantedNew},
        {"", 0, &LockContainer::A1, R::lrConflictCursorRecordLockSingle}}},
      {{{"own read lock blocks own record lock", 0, &LockContainer::A1, R::lrGrantedNew},
        {"", 2, &LockContainer::A1, R::lrConflictCursorReadLockSingle}}},
      {{{"only read lock upgrades", 0, &LockContainer::A1, R::lrGrantedNew},
        {"", 1, &LockContainer::A1, R::lrGrantedNew},
        {"writer may read again", 0, &LockContainer::A1, R::lrGrantedExisting}}},
      {{{"two readers", 0, &LockContainer::A1, R::lrGrantedNew},
        {"", 0, &LockContainer::B1, R::lrGrantedNew},
        {"", 1, &LockContainer::A1, R::lrConflictCursorReadLockSingle},
        {"", 0, &LockContainer::B2, R::lrGrantedNew},
        {"", 1, &LockContainer::A1, R::lrConflictCursorReadLockMultiple}}},
      {{{"two record locks of one other cursor", 2, &LockContainer::B1, R::lrGrantedNew},
        {"", 3, &LockContainer::B1, R::lrGrantedNew},
        {"", 1, &LockContainer::A1, R::lrConflictCursorRecordLockMultiple},
        {"same record again", 2, &LockContainer::B1, R::lrGrantedExisting},
        {"held by another", 2, &LockContainer::B2, R::lrConflictCursorRecordLockSingle}}},
      {{{"write lock excludes others", 1, &LockContainer::B1, R::lrGrantedNew},
        {"", 0, &LockContainer::A1, R::lrConflictCursorWriteLock},
        {"", 2, &LockContainer::A1, R::lrConflictCursorWriteLock},
        {"", 1, &LockContainer::A1, R::lrConflictCursorWriteLock},
        {"writer takes a record lock", 2, &LockContainer::B1, R::lrGrantedNew},
        {"and again the write lock", 1, &LockContainer::B1, R::lrGrantedExisting}}},
  };
  for (const Case& c : cases) {
    TTestContainer fresh;
    fresh.Sessions = C.Sessions;
    for (const Step& s : c.Steps) {
      TzfAbstractCursor* cur = (this->*s.Cursor)();
      R r = s.Kind == 0   ? fresh.GetReadLock(nullptr, cur, false, nullptr)
            : s.Kind == 1 ? fresh.GetWriteLock(nullptr, cur, false, nullptr)
                          : fresh.GetRecordLock(nullptr, cur, s.Kind == 2 ? 7 : 8, false, nullptr);
      EXPECT_EQ(s.Expect, r) << c.Steps[0].What << " / " << s.What;
      EXPECT_EQ(u"", fresh.CheckInvariants());
    }
  }
}

TEST_F(LockContainer, CountsAndReleases) {
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(zfLockGranted(C.GetWriteLock(nullptr, A1(), false, nullptr)));
  EXPECT_TRUE(C.ReleaseWriteLock(A1()));
  EXPECT_TRUE(C.ReleaseWriteLock(A1()));
  EXPECT_EQ(TzfLockPresent::lpYesByUs, C.IsWriteLocked(A1()));
  EXPECT_EQ(TzfLockPresent::lpYesByAnother, C.IsWriteLocked(B1()));
  EXPECT_TRUE(C.ReleaseWriteLock(A1()));
  EXPECT_FALSE(C.ReleaseWriteLock(A1()));
  EXPECT_EQ(TzfLockPresent::lpNotAtAll, C.IsWriteLocked(A1()));

  for (int i = 0; i < 3; ++i) C.GetWriteLock(nullptr, A1(), false, nullptr);
  C.GetReadLock(nullptr, A1(), false, nullptr);
  C.GetReadLock(nullptr, A1(), false, nullptr);
  C.ClearCursorLocks(A1());
  EXPECT_EQ(0, C.WriteLockCount());
  EXPECT_EQ(0, C.ReadLockCount());

  // Many record locks in random order stay sorted; a foreign release leaves them alone.
  std::mt19937 rng(5);
  for (int i = 0; i < 300; ++i) C.GetRecordLock(nullptr, i % 2 ? A1() : A2(), int64_t(rng() % 1000) - 500, false, nullptr);
  EXPECT_EQ(u"", C.CheckInvariants());
  const int32_t before = C.RecordLockCount();
  EXPECT_GT(before, 64);  // the list grew past one step
  C.ClearRecordLocks(A1());
  EXPECT_EQ(u"", C.CheckInvariants());
  C.ClearAllLocks(A2());
  EXPECT_EQ(0, C.RecordLockCount());
}

TEST_F(LockContainer, DeletingTransactionKeepsOthersOut) {
  TzfBaseTransaction* ta = Trans(0);
  TzfBaseTransaction* tb = Trans(1);
  C.TransSessions[ta] = S2;
  // A transaction whose level is corrupted binds nothing.
  C.Broken = tb;
  ASSERT_EQ(R::lrGrantedNew, C.GetRecordLock(tb, B1(), 1, false, nullptr));
  EXPECT_TRUE(C.ReleaseRecordLock(B1(), 1, tb));
  EXPECT_EQ(R::lrGrantedNew, C.GetReadLock(ta, A1(), false, nullptr));
  C.ClearAllLocks(A1());
  // A release that names no transaction binds nothing.
  ASSERT_EQ(R::lrGrantedNew, C.GetRecordLock(ta, B1(), 1, false, nullptr));
  EXPECT_TRUE(C.ReleaseRecordLock(B1(), 1, nullptr));
  EXPECT_EQ(R::lrGrantedNew, C.GetReadLock(tb, A1(), false, nullptr));
  C.ClearAllLocks(A1());

  ASSERT_EQ(R::lrGrantedNew, C.GetRecordLock(ta, B1(), 1, false, nullptr));
  EXPECT_TRUE(C.ReleaseRecordLock(B1(), 1, nullptr));
  EXPECT_FALSE(C.ReleaseRecordLock(B1(), 1, ta));  // nothing held, but it binds
  TzfLockFailureReason reason;
  EXPECT_EQ(R::lrConflictTransaction, C.GetReadLock(tb, A1(), false, &reason));
  EXPECT_EQ(R::lrConflictTransaction, C.GetWriteLock(nullptr, A1(), false, nullptr));
  EXPECT_EQ(R::lrConflictTransaction, C.GetRecordLock(tb, A1(), 5, false, nullptr));
  EXPECT_FALSE(reason.SameSession);
  EXPECT_NE(UnicodeString::npos, Joined(reason).find(u"LockError.Result=lrConflictTransaction"));
  EXPECT_NE(UnicodeString::npos, Joined(reason).find(u"bob"));  // the other session's user lines
  // The transaction itself goes on; its own session fails at once with SameSession.
  EXPECT_EQ(R::lrGrantedNew, C.GetRecordLock(ta, B1(), 5, false, nullptr));
  EXPECT_EQ(R::lrConflictTransaction, C.GetRecordLock(tb, B2(), 6, false, &reason));
  EXPECT_TRUE(reason.SameSession);
  C.EndTransaction(tb);  // another transaction's end changes nothing
  EXPECT_EQ(R::lrConflictTransaction, C.GetRecordLock(tb, A1(), 6, false, nullptr));
  C.EndTransaction(ta);
  EXPECT_EQ(R::lrGrantedNew, C.GetRecordLock(tb, A1(), 6, false, nullptr));
}

TEST_F(LockContainer, FailureLines) {
  TzfLockFailureReason reason;
  C.GetReadLock(nullptr, A1(), false, nullptr);
  C.GetReadLock(nullptr, B1(), false, nullptr);
  C.GetReadLock(nullptr, B2(), false, nullptr);
  EXPECT_EQ(R::lrConflictCursorReadLockMultiple, C.GetWriteLock(nullptr, A2(), true, &reason));
  ASSERT_GE(reason.Count(), 4);
  const UnicodeString first = reason[0];
  EXPECT_EQ(0u, first.find(u"The requested content write lock could not be granted due to multiple read lock conflicts."));
  EXPECT_NE(UnicodeString::npos, first.find(zfEncodeCustomInfo(u"LockError.Type", u"content")));
  EXPECT_NE(UnicodeString::npos, first.find(zfEncodeCustomInfo(u"LockError.Request", u"lrtWriteLock")));
  EXPECT_EQ(u"", reason[1]);
  // Scanned from the end, the last other holder met is B1: bob's session lines follow.
  EXPECT_EQ(u"The conflict occurred with the following session:", reason[2]);
  EXPECT_NE(UnicodeString::npos, Joined(reason).find(u"bob"));
  EXPECT_FALSE(reason.SameSession);
  // Only cursors of the own session in the way: SameSession.
  C.ClearAllLocks(B1());
  C.ClearAllLocks(B2());
  EXPECT_EQ(R::lrConflictCursorReadLockSingle, C.GetWriteLock(nullptr, A2(), false, &reason));
  ASSERT_EQ(3, reason.Count());
  EXPECT_EQ(zfEncodeCustomInfo(u"LockError.SameSession", u"1"), reason[2]);
  EXPECT_TRUE(reason.SameSession);

  // A cursor of no known session.
  TzfAbstractCursor* stranger = Cur(5);
  C.ClearAllLocks(A1());
  C.GetWriteLock(nullptr, stranger, false, nullptr);
  EXPECT_EQ(R::lrConflictCursorWriteLock, C.GetRecordLock(nullptr, A1(), 3, false, &reason));
  EXPECT_EQ(0u, reason[0].find(u"The requested content record lock could not be granted due to a write lock conflict."));
  EXPECT_EQ(0u, reason[2].find(u"The conflict occurred with an unknown session."));
  EXPECT_FALSE(reason.SameSession);
  // Granted calls leave the reason alone.
  EXPECT_EQ(R::lrGrantedExisting, C.GetWriteLock(nullptr, stranger, false, &reason));
  EXPECT_EQ(3, reason.Count());
}

TEST_F(LockContainer, WaitsOnlyWithADeadlineAndIsWokenByARelease) {
  C.GetWriteLock(nullptr, B1(), false, nullptr);
  // No deadline: no wait.
  EXPECT_EQ(R::lrConflictCursorWriteLock, C.GetReadLock(nullptr, A1(), false, nullptr));
  EXPECT_EQ(0, C.WaitingCount());

  std::atomic<int> result{-1};
  std::thread waiter([&] {
    zfSetTimeout(20000, true);
    result = static_cast<int>(C.GetReadLock(nullptr, A1(), false, nullptr));
  });
  while (C.WaitingCount() == 0) std::this_thread::yield();
  EXPECT_EQ(-1, result.load());
  C.ReleaseWriteLock(B1());
  waiter.join();
  EXPECT_EQ(static_cast<int>(R::lrGrantedNew), result.load());
  EXPECT_EQ(0, C.WaitingCount());
}

TEST_F(LockContainer, ATimedOutWaiterIsGrantedWhenTheLockWasFreedMeanwhile) {
  // The holder's release happens while the waiter's time runs out; whichever comes first, the
  // waiter's last round under the gate sees the lock free.
  C.GetWriteLock(nullptr, B1(), false, nullptr);
  std::atomic<int> result{-1};
  std::thread waiter([&] {
    zfSetTimeout(30, true);
    result = static_cast<int>(C.GetWriteLock(nullptr, A1(), false, nullptr));
  });
  while (C.WaitingCount() == 0) std::this_thread::yield();
  C.ReleaseWriteLock(B1());
  waiter.join();
  EXPECT_EQ(static_cast<int>(R::lrGrantedNew), result.load());
}

TEST_F(LockContainer, AWaiterOfTheSameSessionNeverWaits) {
  C.GetWriteLock(nullptr, A2(), false, nullptr);
  zfSetTimeout(20000, true);
  TzfLockFailureReason reason;
  EXPECT_EQ(R::lrConflictCursorWriteLock, C.GetReadLock(nullptr, A1(), false, &reason));
  EXPECT_TRUE(reason.SameSession);
  EXPECT_EQ(0, C.WaitingCount());
  zfSetTimeout(0, true);
}

// Random locks and releases from many cursors in a few sessions with short deadlines: every
// state seen is compatible, and at the end nothing is held and nobody waits.
void RunStress(TTestContainer& aC, TzfAbstractCursor* const* aCursors, int aThreads, int aRounds) {
  std::atomic<bool> bad{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < aThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 rng(static_cast<uint32_t>(t * 7919 + 1));
      TzfAbstractCursor* me = aCursors[t];
      for (int i = 0; i < aRounds; ++i) {
        zfSetTimeout(5 + rng() % 20, true);
        const int kind = static_cast<int>(rng() % 3);
        const int64_t ref = rng() % 8;
        R r = kind == 0   ? aC.GetReadLock(nullptr, me, rng() % 4 == 0, nullptr)
              : kind == 1 ? aC.GetWriteLock(nullptr, me, rng() % 4 == 0, nullptr)
                          : aC.GetRecordLock(nullptr, me, ref, rng() % 4 == 0, nullptr);
        if (!aC.CheckInvariants().empty()) bad = true;
        if (zfLockGranted(r)) {
          if (rng() % 2) std::this_thread::yield();
          if (kind == 0) bad = bad || !aC.ReleaseReadLock(me);
          else if (kind == 1) bad = bad || !aC.ReleaseWriteLock(me);
          else if (r == R::lrGrantedNew) bad = bad || !aC.ReleaseRecordLock(me, ref, nullptr);
        }
        if (rng() % 50 == 0) aC.ClearAllLocks(me);
      }
      aC.ClearAllLocks(me);
      zfSetTimeout(0, true);
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_FALSE(bad.load());
  EXPECT_EQ(u"", aC.CheckInvariants());
  EXPECT_EQ(0, aC.WaitingCount());
  EXPECT_EQ(0, aC.ReadLockCount());
  EXPECT_EQ(0, aC.WriteLockCount());
  EXPECT_EQ(0, aC.RecordLockCount());
}

TEST_F(LockContainer, StressManyCursorsAndSessions) {
  char slots[8];
  TzfAbstractCursor* cursors[8];
  TzfAbstractSession* sessions[] = {S1, S2, nullptr};  // nullptr: a session nobody knows
  for (int i = 0; i < 8; ++i) {
    cursors[i] = reinterpret_cast<TzfAbstractCursor*>(&slots[i]);
    C.Sessions[cursors[i]] = sessions[i % 3];
  }
  RunStress(C, cursors, 8, 150);
}

TEST_F(LockContainer, StressManyCursorsAndSessionsSlow) {
  char slots[16];
  TzfAbstractCursor* cursors[16];
  TzfAbstractSession* sessions[] = {S1, S2, nullptr, nullptr};
  for (int i = 0; i < 16; ++i) {
    cursors[i] = reinterpret_cast<TzfAbstractCursor*>(&slots[i]);
    C.Sessions[cursors[i]] = sessions[i % 4];
  }
  RunStress(C, cursors, 16, 5000);
}

}  // namespace
}  // namespace zf::test
