// The engine's transaction context inside a session: the operation frame, levels, failure and
// destruction releasing the table locks of its transaction.
#include <gtest/gtest.h>

#include "server/zfsrServerStartup.h"
#include "server/zfsrServerTransaction.h"
#include "storage/zfsrTimeoutHandling.h"
#include "tests/dictionary/server/zfsdTestEngine.h"

namespace zf::test {
namespace {

class TLockTable : public TzfTransLockTable {
 public:
  UnicodeString tltFullName() override { return u"Items"; }
};

class ServerTransContext : public ServerTest {
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
    BM = std::make_unique<TzfBufferManager>(u"/tmp");
    S = OpenSession(u"alice", 5000);
  }
  void TearDown() override {
    if (S) S->Free();
    BM.reset();
    ServerTest::TearDown();
  }
  TzfServerTransContext* NewContext() { return zfCreateServerObject<TzfServerTransContext>(S, 5000u, BM.get()); }

  std::unique_ptr<TzfBufferManager> BM;
  TTestSession* S = nullptr;
};

TEST_F(ServerTransContext, LevelsThroughThePublicOperations) {
  TzfServerTransContext* c = NewContext();
  int32_t level = -1;
  EXPECT_EQ(c->TransactionGetLevel(level), 10257u);
  EXPECT_EQ(c->TransactionStart(false, false), 0u);
  EXPECT_EQ(c->TransactionStart(false, false), 0u);
  EXPECT_EQ(c->TransactionGetLevel(level), 0u);
  EXPECT_EQ(level, 1);
  c->Transaction()->Lock();
  EXPECT_EQ(c->TransactionCommit(), 8455u) << "the innermost level is in use";
  c->Transaction()->Unlock();
  EXPECT_EQ(c->TransactionCommit(), 0u);
  EXPECT_EQ(c->TransactionCorrupted(), 0u);
  EXPECT_EQ(c->TransactionCommit(), 15443u);
  EXPECT_EQ(c->TransactionRollback(), 0u);
  EXPECT_EQ(c->TransactionCommit(), 10257u);
  c->Free();
}

TEST_F(ServerTransContext, FailureAndDestructionReleaseTheTables) {
  TLockTable t;
  TzfServerTransContext* c = NewContext();
  ASSERT_EQ(c->TransactionStart(false, false), 0u);
  zfSetTimeout(0, true);
  ASSERT_EQ(c->Transaction()->stLockTable(&t, true, false, nullptr), 0u);
  c->Failed();
  EXPECT_TRUE(t.srtTransLinksEmpty());
  EXPECT_EQ(c->TransactionStart(false, false), 15443u);
  c->Free();

  c = NewContext();
  ASSERT_EQ(c->TransactionStart(false, false), 0u);
  ASSERT_EQ(c->TransactionStart(false, false), 0u);
  ASSERT_EQ(c->Transaction()->stLockTable(&t, false, false, nullptr), 0u);
  c->Free();  // rolls every level back
  EXPECT_TRUE(t.srtTransLinksEmpty());
}

}  // namespace
}  // namespace zf::test
