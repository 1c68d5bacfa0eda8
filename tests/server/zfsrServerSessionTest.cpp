// A client's road through the engine: a session opens a database on a folder by path, builds,
// renames, lists and deletes tables through it; the share rules between databases; passwords;
// database temporary tables; and the lock order between a build or rename and table lookups of
// a second database sharing the mapper (with a watchdog).
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllStreamsRW.h"
#include "platform/rtl/rtlStringList.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTransaction.h"
#include "storage/zfsrStreamEngineBase.h"
#include "zfsrServerTestUtil.h"

namespace zf::test {
namespace {

class ServerSession : public ServerEngineTest {
 protected:
  void SetUp() override {
    ServerEngineTest::SetUp();
    S = OpenSession();
  }
  void TearDown() override {
    if (S) S->Free();
    ServerEngineTest::TearDown();
  }
  TzfServerSession* OpenSession() {
    TzfAbstractSession* s = nullptr;
    EXPECT_EQ(Engine->SessionOpen(s, u"alice", u"", u"test", 10000), 0u);
    return dynamic_cast<TzfServerSession*>(s);
  }
  TzfServerDatabase* Open(TzfServerSession* aSession, TzfOpenMode aMode = omReadWrite,
                          TzfShareMode aShare = smShared, uint32_t* aCode = nullptr) {
    TzfAbstractDatabase* d = nullptr;
    const uint32_t r = aSession->DatabaseOpen(d, u"Path", rtl::u16(Dir.Path.string()), nullptr, aMode, aShare, 10000);
    if (aCode) *aCode = r;
    else EXPECT_EQ(r, 0u);
    return static_cast<TzfServerDatabase*>(d);
  }
  static std::vector<UnicodeString> List(TzfServerDatabase* aDb) {
    rtl::TStringList l;
    EXPECT_EQ(aDb->TableGetList(l), 0u);
    std::vector<UnicodeString> r;
    for (int32_t i = 0; i < l.Count(); ++i) r.push_back(l[i]);
    return r;
  }
  static bool Has(const std::vector<UnicodeString>& aList, const char16_t* aName) {
    for (const auto& n : aList)
      if (rtl::SameText(n, aName)) return true;
    return false;
  }
  UnicodeString StoredName(TzfServerDatabase* aDb, const UnicodeString& aTable) {
    TzfServerRootTable* t = nullptr;
    bool ro = false;
    EXPECT_EQ(aDb->sdGetTable(t, aTable, u"", false, ro), 0u);
    if (!t) return u"?";
    TzfMemoryStream ms;
    if (t->srtStreamEngine->ReadNamedStream(nullptr, u"$TableName", ms) != 0) return u"(none)";
    ms.SetPosition(0);
    TzfReader r(ms);
    return r.ReadString();
  }

  TzfServerSession* S = nullptr;
};

TEST_F(ServerSession, DatabaseOpenByPath) {
  ASSERT_NE(S, nullptr);
  const auto cwd = std::filesystem::current_path();
  const UnicodeString relative = rtl::u16(std::filesystem::relative(Dir.Path, cwd).string());
  struct Case {
    const char16_t* Type;
    UnicodeString Alias;
    uint32_t Answer;
    UnicodeString Path;
  } cases[] = {
      {u"Path", relative, 0, rtl::u16(Dir.Path.string()) + u"/"},
      {u"path", u"  " + rtl::u16(Dir.Path.string()) + u"  ", 0, rtl::u16(Dir.Path.string()) + u"/"},
      {u"Path", u"/", 0, u"/"},
      {u"Path", rtl::u16((Dir.Path / "missing").string()), zfErrDirNotExists, u""},
      {u"Other", u"x", zfErrNotSupported, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(rtl::u8(c.Type) + " " + rtl::u8(c.Alias));
    TzfAbstractDatabase* d = nullptr;
    EXPECT_EQ(S->DatabaseOpen(d, c.Type, c.Alias, nullptr, omReadOnly, smShared, 1000), c.Answer);
    if (c.Answer != 0) {
      EXPECT_EQ(d, nullptr);
      continue;
    }
    ASSERT_NE(d, nullptr);
    UnicodeString path;
    EXPECT_EQ(d->GetPath(path), 0u);
    EXPECT_EQ(path, c.Path);
    int64_t free = -1;
    EXPECT_EQ(d->GetFreespace(free), 0u);
    EXPECT_GT(free, 0);
    TzfAbstractStatement* st = nullptr;
    EXPECT_EQ(d->StatementAlloc(st, 1000), zfErrNotSupported);
    d->Free();
  }
}

TEST_F(ServerSession, ShareRulesBetweenDatabases) {
  ExpectShareAnswers(zfCheckDatabaseShare, {
      {"nothing open", {}, omReadWrite, smExclusive, 0},
      {"exclusive open refuses all", {{omReadOnly, smExclusive}}, omReadOnly, smShared, 10253},
      {"exclusive request against shared", {{omReadOnly, smShared}}, omReadOnly, smExclusive, 10253},
      {"shared writers share", {{omReadWrite, smShared}}, omReadWrite, smShared, 0},
      {"shared writer against share-read", {{omReadOnly, smShareRead}}, omReadWrite, smShared, 10253},
      {"shared reader against share-read", {{omReadOnly, smShareRead}}, omReadOnly, smShared, 0},
      {"share-read writer against share-read", {{omReadOnly, smShareRead}}, omReadWrite, smShareRead, 10253},
      {"share-read against a writer", {{omReadWrite, smShared}}, omReadOnly, smShareRead, 10253},
      {"share-read against readers", {{omReadOnly, smShared}, {omReadOnly, smShareRead}}, omReadOnly, smShareRead, 0},
  });
  // The same rules through the session, and a read-only request next to an exclusive one.
  TzfServerDatabase* excl = Open(S, omReadWrite, smExclusive);
  uint32_t code = 0;
  EXPECT_EQ(Open(S, omReadOnly, smShared, &code), nullptr);
  EXPECT_EQ(code, 10253u);
  TzfAbstractDatabase* maintenance = nullptr;
  EXPECT_EQ(S->ssDatabaseOpen(maintenance, u"", nullptr, excl->sdFolder, omReadWrite, smExclusive, true, 1000), 0u);
  maintenance->Free();
  excl->Free();
  TzfServerDatabase* writer = Open(S);
  EXPECT_EQ(Open(S, omReadOnly, smShareRead, &code), nullptr);
  EXPECT_EQ(code, 10253u);
  writer->Free();
}

TEST_F(ServerSession, Passwords) {
  EXPECT_EQ(S->PasswordAdd(u""), zfErrInvalidParam);
  EXPECT_EQ(S->PasswordAdd(u"secret"), 0u);
  EXPECT_EQ(S->PasswordAdd(u"secret"), zfErrNameNotUnique);
  EXPECT_EQ(S->PasswordAdd(u"Secret"), 0u) << "passwords compare with case";
  EXPECT_EQ(S->PasswordRemove(u"other"), zfErrObjNotFound);
  EXPECT_EQ(S->PasswordRemove(u"secret"), 0u);
  EXPECT_EQ(S->PasswordRemoveAll(), 0u);
  EXPECT_TRUE(S->ssPasswords.empty());
  rtl::TStringList l;
  EXPECT_EQ(S->GetRegisteredClassList(setIndicesEngines, l), zfErrObjNotFound);
}

TEST_F(ServerSession, BuildRenameListAndDeleteTables) {
  TzfServerDatabase* db = Open(S);
  auto dict = SmallDictionary();
  const int32_t generation = db->GetStructureGeneration();
  EXPECT_EQ(db->TableBuild(false, u"Orders", u"", dict.get(), tsPersistent, false), 0u);
  EXPECT_GT(db->GetStructureGeneration(), generation);
  EXPECT_EQ(db->TableBuild(false, u"Orders", u"", dict.get(), tsPersistent, false), zfErrTableExists);
  EXPECT_EQ(db->TableBuild(true, u"Orders", u"", dict.get(), tsPersistent, false), 0u) << "overwrite";
  EXPECT_EQ(db->TableBuild(false, u"$Hidden", u"", dict.get(), tsPersistent, true), 0u);
  bool exists = false;
  EXPECT_EQ(db->TableExists(u"Orders", u"", exists, false), 0u);
  EXPECT_TRUE(exists);
  EXPECT_EQ(db->TableExists(u"", u"", exists, false), 0u);
  EXPECT_FALSE(exists);
  EXPECT_EQ(db->TableExists(u"Nothing", u"", exists, false), 0u);
  EXPECT_FALSE(exists);

  auto list = List(db);
  EXPECT_TRUE(Has(list, u"Orders"));
  EXPECT_FALSE(Has(list, u"$Hidden")) << "system tables are hidden";
  EXPECT_EQ(db->OptionSet(u"ALLOWSYSTEMTABLEACCESS", u"1"), 0u);
  EXPECT_TRUE(Has(List(db), u"$Hidden"));

  EXPECT_EQ(StoredName(db, u"Orders"), u"Orders");
  EXPECT_EQ(Engine->seCloseInactiveTables(), 0u);
  EXPECT_EQ(db->TableRename(u"Orders", u"Sales", u""), 0u);
  EXPECT_TRUE(Exists("Sales.zf1"));
  EXPECT_FALSE(Exists("Orders.zf1"));
  EXPECT_EQ(StoredName(db, u"Sales"), u"Sales") << "the name stream follows the rename";

  TzfServerDataDict read;
  EXPECT_EQ(db->TableGetDictionary(u"Sales", u"", &read), 0u);
  EXPECT_EQ(read.tdFieldsDescriptor->GetFieldCount(), 2);
  EXPECT_EQ(Engine->seCloseInactiveTables(), 0u);
  EXPECT_EQ(db->TableEmpty(u"Sales", u""), 0u);
  EXPECT_EQ(db->TableDelete(u"Sales", u""), 0u);
  EXPECT_FALSE(Exists("Sales.zf1"));
  EXPECT_EQ(db->TableDelete(u"Sales", u""), zfErrNoSuchTable);
  db->Free();
}

TEST_F(ServerSession, DatabaseTemporaryTables) {
  TzfServerDatabase* a = Open(S);
  TzfServerSession* s2 = OpenSession();
  TzfServerDatabase* b = Open(s2);
  auto dict = SmallDictionary();
  EXPECT_EQ(a->TableBuild(false, u"##Work", u"", dict.get(), tsPersistent, false), 0u);
  EXPECT_EQ(a->TableBuild(false, u"##Work", u"", dict.get(), tsPersistent, false), zfErrTableExists);
  EXPECT_EQ(a->TableBuild(true, u"##Work", u"", dict.get(), tsPersistent, false), 0u) << "overwrite an unused one";
  EXPECT_TRUE(Has(List(a), u"##Work"));
  EXPECT_FALSE(Has(List(b), u"##Work")) << "invisible to other databases";
  bool exists = false;
  EXPECT_EQ(a->TableExists(u"##Work", u"", exists, false), 0u);
  EXPECT_TRUE(exists);
  EXPECT_EQ(b->TableExists(u"##Work", u"", exists, false), 0u);
  EXPECT_FALSE(exists);
  // A database temporary table renamed onto a file table's name is refused.
  EXPECT_EQ(a->TableBuild(false, u"Real", u"", dict.get(), tsPersistent, false), 0u);
  EXPECT_EQ(a->TableRename(u"##Work", u"Real", u""), zfErrTableExists);
  EXPECT_EQ(a->TableRename(u"##Work", u"##Other", u""), 0u);
  EXPECT_TRUE(Has(List(a), u"##Other"));
  EXPECT_EQ(a->TableEmpty(u"##Other", u""), 0u);
  EXPECT_EQ(a->TableDelete(u"##Other", u""), 0u);
  EXPECT_FALSE(Has(List(a), u"##Other"));
  EXPECT_EQ(a->TableBuild(false, u"##Left", u"", dict.get(), tsPersistent, false), 0u);
  b->Free();
  s2->Free();
  a->Free();  // frees the temporary table it still maps
}

// One thread builds and renames tables through a database while another looks tables up through
// a second database that shares the first one's mapper. Both take the folder's table padlock
// before the mapper; the watchdog fails the test instead of hanging when they do not.
TEST_F(ServerSession, BuildAndRenameAgainstLookupsSharingTheMapper) {
  TzfServerDatabase* a = Open(S);
  TzfServerSession* s2 = OpenSession();
  TzfServerDatabase* b = zfCreateServerObject<TzfServerDatabase>(s2, nullptr, UnicodeString(), a->sdFolder, 10000u,
                                                                 omReadWrite, smShared, a->sdTables);
  auto dict = SmallDictionary();
  ASSERT_EQ(a->TableBuild(false, u"Probe", u"", dict.get(), tsPersistent, false), 0u);
  std::atomic<bool> stop{false};
  auto builder = std::async(std::launch::async, [&] {
    for (int i = 0; i < 15; ++i) {
      const UnicodeString n = u"T" + rtl::IntToStr(i);
      EXPECT_EQ(a->TableBuild(true, n, u"", dict.get(), tsPersistent, false), 0u);
      EXPECT_EQ(a->TableRename(n, n + u"x", u""), 0u);
      EXPECT_EQ(a->TableBuild(false, u"##Tmp" + rtl::IntToStr(i), u"", dict.get(), tsPersistent, false), 0u);
    }
    stop = true;
  });
  auto reader = std::async(std::launch::async, [&] {
    while (!stop) {
      TzfServerRootTable* t = nullptr;
      bool ro = false;
      EXPECT_EQ(b->sdGetTable(t, u"Probe", u"", false, ro), 0u);
      EXPECT_NE(b->sdTableExists(u"##Tmp0", u"", false), 1u);
    }
  });
  ASSERT_EQ(builder.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "deadlock";
  ASSERT_EQ(reader.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "deadlock";
  b->Free();
  s2->Free();
  a->Free();
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
namespace {

// A database whose table name stream cannot be written.
class TNameStreamFails : public TzfServerDatabase {
 public:
  using TzfServerDatabase::TzfServerDatabase;
  uint32_t sdWriteTableName(const UnicodeString&, const TzfUnicodeStrings&) override {
    ++Attempts;
    return zfErrOSUnknown;
  }
  int Attempts = 0;
};

// The files are moved: the rename stands even when the name stream cannot be written, and the
// renames that follow it are not stopped.
TEST_F(ServerSession, RenameStandsWhenTheNameStreamCannotBeWritten) {
  TzfServerDatabase* setup = Open(S);
  TzfServerFolder* folder = setup->sdFolder;
  auto dict = SmallDictionary();
  ASSERT_EQ(setup->TableBuild(false, u"Source", u"", dict.get(), tsPersistent, false), 0u);
  ASSERT_EQ(setup->TableBuild(false, u"Other", u"", dict.get(), tsPersistent, false), 0u);
  setup->Free();
  auto* db = zfCreateServerObject<TNameStreamFails>(S, nullptr, UnicodeString(), folder, 10000u, omReadWrite, smShared,
                                                    nullptr);
  EXPECT_EQ(db->TableRename(u"Source", u"Source_damaged", u""), 0u);
  EXPECT_EQ(db->TableRename(u"Other", u"Source", u""), 0u);
  EXPECT_EQ(db->Attempts, 2);
  EXPECT_TRUE(Exists("Source_damaged.zf1"));
  EXPECT_TRUE(Exists("Source.zf1"));
  db->Free();
}

}  // namespace
}  // namespace zf::test
