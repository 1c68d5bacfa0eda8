// A table recover started through the database component and polled to its end, and tables
// opened through the database component's OpenTable.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "client/zfdbTable.h"
#include "server/zfsrServerDatabase.h"
#include "tests/client/zfdbTableTestUtil.h"
#include "tools/zftableLog.h"

namespace zf::test {
namespace {

class ClientRecover : public ClientTableTest {
 protected:
  // The sample log table "Log"; every aInvalidEvery-th record breaks its validation.
  void MakeLog(uint32_t aRecords, uint32_t aInvalidEvery) {
    kit::TLogOptions o;
    o.Records = aRecords;
    o.InvalidEvery = aInvalidEvery;
    kit::FillLogTable(*static_cast<TzfServerDatabase*>(Db->AbstractDatabase()), u"Log", o);
    Session->CloseInactiveTables();
  }
  int32_t Count(const UnicodeString& aTable) {
    auto t = Db->OpenTable(aTable, u"", 0);
    return t->RecordCount();
  }
};

TEST_F(ClientRecover, RecoverTableRunsToItsEndWhileTheClientPolls) {
  MakeLog(300, 10);
  TzfAbstractTaskInfo* task = Db->RecoverTable(u"Log", u"");
  ASSERT_NE(task, nullptr);
  bool done = false;
  TzfTaskStatus status;
  int polls = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!done && std::chrono::steady_clock::now() < until) {
    ASSERT_EQ(task->GetStatus(done, status), 0u);
    ++polls;
    if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  task->Free();
  ASSERT_TRUE(done);
  EXPECT_EQ(status.tsErrorCode, 0u);
  EXPECT_TRUE(status.tsFinished);
  EXPECT_GT(status.tsTotalRecs, 0u);
  EXPECT_EQ(status.tsRecsRead, status.tsTotalRecs);
  EXPECT_GE(polls, 1);
  // Every record lands in one of the two new tables: the invalid ones in the failed table.
  EXPECT_EQ(Count(u"Log_Recovered"), 270);
  EXPECT_EQ(Count(u"Log_Failed"), 30);
  EXPECT_EQ(Count(u"Log"), 300);
}

TEST_F(ClientRecover, RecoverTableOfNoTableStartsNothing) {
  const struct {
    const char* Name;
    UnicodeString Table;
    uint32_t Code;
  } cases[] = {{"empty", u"", zfErrNoSuchTable}, {"missing", u"Nothing", zfErrNoSuchTable}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TzfAbstractTaskInfo* task = reinterpret_cast<TzfAbstractTaskInfo*>(1);
    EXPECT_EQ(Db->RecoverTableEx(c.Table, u"", task), c.Code);
    EXPECT_EQ(task, nullptr);  // an out task handle is cleared before anything else
  }
}

TEST_F(ClientRecover, OpenTableOpensWithIndexAndBlockReadSize) {
  Build(u"T");
  Fill(u"T", {3, 1, 2});
  {
    auto t = Db->OpenTable(u"T", u"ByID", 0);
    EXPECT_TRUE(t->Active());
    EXPECT_EQ(t->ActiveIndexName(), u"ByID");
    EXPECT_EQ(IDs(*t), (std::vector<int32_t>{1, 2, 3}));
  }
  {
    auto t = Db->OpenTable(u"T", u"", 64);
    EXPECT_EQ(t->State(), db::dsBlockRead);
    std::vector<int32_t> ids;
    for (; !t->Eof(); t->Next()) ids.push_back(t->FieldByName(u"ID").GetAsInteger());
    EXPECT_EQ(ids.size(), 3u);
  }
  // A table that cannot be opened is freed (the sanitizer sees any leak) and its error passes on.
  EXPECT_EQ(ClientErrorCode([&] { Db->OpenTable(u"Missing", u"", 0); }), zfErrNoSuchTable);
}

}  // namespace
}  // namespace zf::test
