// Fail-safe transactions of sessions: the commit goes through a journal of the written tables'
// folder, a commit that stops after its journal is replayed by the next database opened on the
// folder, and tables of two folders cannot share one journal.
#include <gtest/gtest.h>

#include <filesystem>

#include "foundation/zfllErrors.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTableCursor.h"
#include "server/zfsrServerTransaction.h"
#include "storage/zfseJournalEngine.h"
#include "tests/server/zfsrServerTestUtil.h"

namespace zf::test {
namespace {

class FailSafe : public ServerEngineTest {
 protected:
  void SetUp() override {
    ServerEngineTest::SetUp();
    SavedClass = zfJournalEngineClassSetting;
  }
  void TearDown() override {
    zfJournalCrashHook = nullptr;
    Close();
    zfJournalEngineClassSetting = SavedClass;
    ServerEngineTest::TearDown();
  }
  void Close() {
    for (auto* c : Cursors) c->Free();
    Cursors.clear();
    for (auto* d : Dbs) d->Free();
    Dbs.clear();
    if (Context) Context->Free();
    Context = nullptr;
    if (S) S->Free();
    S = nullptr;
  }
  void Connect() {
    TzfAbstractSession* s = nullptr;
    ASSERT_EQ(Engine->SessionOpen(s, u"alice", u"", u"test", 10000), 0u);
    S = static_cast<TzfServerSession*>(s);
    TzfAbstractTransContext* c = nullptr;
    ASSERT_EQ(S->TransContextCreate(c, 10000), 0u);
    Context = static_cast<TzfServerTransContext*>(c);
  }
  TzfServerDatabase* OpenDb(const std::filesystem::path& aDir) {
    TzfAbstractDatabase* d = nullptr;
    EXPECT_EQ(S->DatabaseOpen(d, u"Path", rtl::u16(aDir.string()), Context, omReadWrite, smShared, 10000), 0u);
    if (d) Dbs.push_back(static_cast<TzfServerDatabase*>(d));
    return static_cast<TzfServerDatabase*>(d);
  }
  TzfAbstractCursor* Table(TzfServerDatabase* aDb, const char16_t* aName, bool aBuild) {
    if (aBuild) {
      auto dict = SmallDictionary();
      EXPECT_EQ(aDb->TableBuild(false, aName, u"", dict.get(), tsPersistent, false), 0u);
    }
    TzfAbstractCursor* c = nullptr;
    EXPECT_EQ(aDb->CursorOpen(c, aName, u"", omReadWrite, smShared, 2000, false), 0u);
    if (c) Cursors.push_back(static_cast<TzfServerTableCursor*>(c));
    return c;
  }
  static uint32_t Insert(TzfAbstractCursor* aC, int32_t aID) {
    uint8_t* b = aC->RecordBufferAlloc();
    aC->SetFieldFromVariant(b, 0, rtl::Variant(aID));
    const uint32_t r = aC->RecordInsert(zfltNoLock, b);
    aC->RecordBufferFree(b);
    return r;
  }
  static uint32_t Count(TzfAbstractCursor* aC) {
    uint32_t n = 0;
    EXPECT_EQ(aC->GetRecordCount(n, false), 0u);
    return n;
  }
  static int Journals(const std::filesystem::path& aDir) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(aDir))
      if (e.path().extension() == ".z$2") ++n;
    return n;
  }

  const TzfJournalEngineClass* SavedClass = nullptr;
  TzfServerSession* S = nullptr;
  TzfServerTransContext* Context = nullptr;
  std::vector<TzfServerDatabase*> Dbs;
  std::vector<TzfServerTableCursor*> Cursors;
};

TEST_F(FailSafe, OnlyFailSafeCommitsGoThroughAJournal) {
  Connect();
  TzfAbstractCursor* c = Table(OpenDb(Dir.Path), u"T", true);
  int prepared = 0;
  zfJournalCrashHook = [&](TzfJournalCrashPoint aPoint, int32_t) {
    if (aPoint == TzfJournalCrashPoint::jcpPrepared) ++prepared;
    return false;
  };
  for (const bool failSafe : {false, true}) {
    ASSERT_EQ(Context->TransactionStart(failSafe, false), 0u);
    ASSERT_EQ(Insert(c, failSafe ? 2 : 1), 0u);
    ASSERT_EQ(Context->TransactionCommit(), 0u);
  }
  EXPECT_EQ(prepared, 1);
  EXPECT_EQ(Journals(Dir.Path), 0) << "a finished commit removes its journal";
  EXPECT_EQ(Count(c), 2u);
}

TEST_F(FailSafe, ACommitStoppedAfterItsJournalIsReplayedOnTheNextOpen) {
  zfJournalEngineClassSetting = &Tzf1xCommitJournalEngine::ClassInfo();
  Connect();
  TzfAbstractCursor* c = Table(OpenDb(Dir.Path), u"T", true);
  ASSERT_EQ(Insert(c, 1), 0u);
  ASSERT_EQ(Context->TransactionStart(true, false), 0u);
  ASSERT_EQ(Insert(c, 2), 0u);
  zfJournalCrashHook = [](TzfJournalCrashPoint aPoint, int32_t) {
    return aPoint == TzfJournalCrashPoint::jcpFinalized;
  };
  EXPECT_NE(Context->TransactionCommit(), 0u) << "the process \"stops\" once the journal is complete";
  zfJournalCrashHook = nullptr;
  EXPECT_EQ(Journals(Dir.Path), 1);
  ASSERT_EQ(Context->TransactionRollback(), 0u);
  EXPECT_EQ(Count(c), 1u) << "no table file was written";

  // A new engine: the first database on the folder replays the journal.
  Close();
  StartEngine(0);
  Connect();
  c = Table(OpenDb(Dir.Path), u"T", false);
  EXPECT_EQ(Journals(Dir.Path), 0);
  EXPECT_EQ(Count(c), 2u) << "the committed record came back from the journal";
}

TEST_F(FailSafe, TablesOfTwoFoldersCannotShareOneJournal) {
  TempDir second;
  Connect();
  TzfAbstractCursor* a = Table(OpenDb(Dir.Path), u"A", true);
  TzfAbstractCursor* b = Table(OpenDb(second.Path), u"B", true);
  ASSERT_EQ(Context->TransactionStart(true, false), 0u);
  ASSERT_EQ(Insert(a, 1), 0u);
  ASSERT_EQ(Insert(b, 1), 0u);
  EXPECT_EQ(Context->TransactionCommit(), zfErrNotSupported);
  EXPECT_EQ(Journals(Dir.Path) + Journals(second.Path), 0);
  ASSERT_EQ(Context->TransactionRollback(), 0u);
  EXPECT_EQ(Count(a), 0u);
  EXPECT_EQ(Count(b), 0u);
  // Without the fail-safe promise the same commit writes both.
  ASSERT_EQ(Context->TransactionStart(false, false), 0u);
  ASSERT_EQ(Insert(a, 1), 0u);
  ASSERT_EQ(Insert(b, 1), 0u);
  EXPECT_EQ(Context->TransactionCommit(), 0u);
  EXPECT_EQ(Count(a), 1u);
  EXPECT_EQ(Count(b), 1u);
}

}  // namespace
}  // namespace zf::test
