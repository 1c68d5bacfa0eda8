// Folders: "zfTrans.cfg" (missing, short, long, stale, current, read-only, left behind by a killed
// process) and the table operations on files: build, open in another letter case, rename,
// delete, empty, list, unique names and nested tables.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <ctime>
#include <fstream>

#include "foundation/zfllStreams.h"
#include "foundation/zfllStreamsRW.h"
#include "storage/zfsrBlock.h"
#include "storage/zfsrBlockIndex.h"
#include "storage/zfsrStreamEngineBase.h"
#include "zfsrServerTestUtil.h"

namespace zf::test {
namespace {

void WriteBytes(const std::string& aPath, const std::vector<uint8_t>& aBytes) {
  std::ofstream o(aPath, std::ios::binary | std::ios::trunc);
  o.write(reinterpret_cast<const char*>(aBytes.data()), static_cast<std::streamsize>(aBytes.size()));
}
std::vector<uint8_t> ReadBytes(const std::string& aPath) {
  std::ifstream i(aPath, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(i), {});
}
std::vector<uint8_t> LE64(int64_t aValue) {
  std::vector<uint8_t> b(8);
  zfPutLE64(b.data(), static_cast<uint64_t>(aValue));
  return b;
}
// A stand-in table file: 16 bytes with its LSN at offset 8.
void FakeTable(const std::string& aPath, int64_t aLSN) {
  std::vector<uint8_t> b(16, 0);
  zfPutLE64(b.data() + 8, static_cast<uint64_t>(aLSN));
  WriteBytes(aPath, b);
}
void SetLocalTime(const std::string& aPath, int aHour, int aMin, int aSec) {
  struct tm t {};
  t.tm_year = 2030 - 1900;
  t.tm_mon = 5;
  t.tm_mday = 15;
  t.tm_hour = aHour;
  t.tm_min = aMin;
  t.tm_sec = aSec;
  t.tm_isdst = -1;
  struct utimbuf u {};
  u.actime = u.modtime = ::mktime(&t);
  ::utime(aPath.c_str(), &u);
}

class TransConfig : public ServerEngineTest {
 protected:
  // Opens the folder afresh and answers the LSN the buffer manager stands at.
  TzfLSN Load(TzfServerEngineOptions aOptions = 0) {
    StartEngine(aOptions);
    Folder();
    return Engine->seBufferManager->ReadCurrentLSN();
  }
  int64_t Stored() {
    auto b = ReadBytes(Dir.FilePath("zfTrans.cfg"));
    return b.size() == 8 ? static_cast<int64_t>(zfGetLE64(b.data())) : -1;
  }
};

TEST_F(TransConfig, PackedTimeIsComputedIn64Bits) {
  struct tm t {};
  t.tm_year = 2050 - 1900;  // past 2043 the packed value no longer fits a signed 32-bit number
  t.tm_mon = 0;
  t.tm_mday = 1;
  t.tm_isdst = -1;
  const int64_t packed = zfPackedDosTime(::mktime(&t));
  EXPECT_EQ(int64_t(70) << 25 | int64_t(1) << 21 | int64_t(1) << 16, packed);
  EXPECT_GT(packed + 1000, int64_t(INT32_MAX));
  EXPECT_EQ(0, zfPackedDosTime(0));  // before 1980
}

TEST_F(TransConfig, MissingShortLongAndStaleFilesAreRebuiltFromTheTables) {
  struct Case {
    const char* What;
    std::vector<uint8_t> Config;  // empty: no file
    int CfgTime[3], TableTime[3];
    bool Rebuilt;
  } cases[] = {
      {"missing", {}, {10, 0, 0}, {10, 0, 0}, true},
      {"7 bytes", {1, 2, 3, 4, 5, 6, 7}, {10, 0, 0}, {10, 0, 0}, true},
      {"9 bytes", {1, 0, 0, 0, 0, 0, 0, 0, 9}, {10, 0, 0}, {10, 0, 0}, true},
      {"stale by 1001", LE64(9000), {10, 0, 0}, {10, 31, 18}, true},
      {"stale by exactly 1000", LE64(9000), {10, 0, 0}, {10, 31, 16}, false},
  };
  for (const Case& c : cases) {
    Engine.reset();
    std::filesystem::remove_all(Dir.Path);
    std::filesystem::create_directories(Dir.Path);
    FakeTable(Dir.FilePath("a.zf1"), 40);
    FakeTable(Dir.FilePath("b.ZF1"), 700);
    FakeTable(Dir.FilePath("c.zf10"), 5000000);  // not a table file
    if (!c.Config.empty()) WriteBytes(Dir.FilePath("zfTrans.cfg"), c.Config);
    SetLocalTime(Dir.FilePath("zfTrans.cfg"), c.CfgTime[0], c.CfgTime[1], c.CfgTime[2]);
    for (const char* t : {"a.zf1", "b.ZF1", "c.zf10"})
      SetLocalTime(Dir.FilePath(t), c.TableTime[0], c.TableTime[1], c.TableTime[2]);
    const TzfLSN lsn = Load();
    // The buffer manager was raised to the value found, then the file took the next LSN.
    EXPECT_EQ(c.Rebuilt ? 702 : 9001, lsn) << c.What;
    EXPECT_EQ(Stored(), lsn) << c.What;
  }
}

TEST_F(TransConfig, AnEmptyFolderStartsAtOneAndTheFileIsWritten) {
  EXPECT_GE(Load(), 1);
  EXPECT_GE(Stored(), 1);
  Engine.reset();  // the destructor writes the next LSN again
  EXPECT_GE(Stored(), 2);
}

TEST_F(TransConfig, AKilledProcessNeverMakesTheLSNGoBack) {
  // The config was written at load with a low value; tables were written later in the same
  // minute, and the process died before it could write the config again.
  WriteBytes(Dir.FilePath("zfTrans.cfg"), LE64(10));
  FakeTable(Dir.FilePath("t.zf1"), 500);
  SetLocalTime(Dir.FilePath("zfTrans.cfg"), 9, 0, 0);
  SetLocalTime(Dir.FilePath("t.zf1"), 9, 0, 30);
  EXPECT_GE(Load(), 501);
  EXPECT_GE(Stored(), 501);
}

TEST_F(TransConfig, AReadOnlyFolderScansAndWritesNothing) {
  WriteBytes(Dir.FilePath("zfTrans.cfg"), {1, 2, 3});
  FakeTable(Dir.FilePath("t.zf1"), 77);
  EXPECT_EQ(78, Load(1u << seoReadOnly));
  EXPECT_TRUE(Folder()->sfReadOnly);
  Engine.reset();
  EXPECT_EQ(3u, ReadBytes(Dir.FilePath("zfTrans.cfg")).size());
}

TEST_F(TransConfig, InMemoryFolderHasNoFile) {
  TzfServerFolder* f = nullptr;
  ASSERT_EQ(0u, Engine->seFolderOpen(u"#x", f));
  EXPECT_TRUE(f->sfInMemOnly);
  EXPECT_EQ(nullptr, f->stTransManager->stmConfigFile);
  auto dict = SmallDictionary();
  EXPECT_EQ(zfErrNotSupported, f->sfTableBuild(false, u"T", u"", false, dict.get(), tsPersistent));
  EXPECT_EQ(zfErrObjNotFound, f->sfTableExists(u"T"));
}

// ---------------------------------------------------------------------------------------------

class FolderTables : public ServerEngineTest {};

TEST_F(FolderTables, BuildOpenCloseAndOpenInAnotherLetterCase) {
  TzfServerFolder* f = Folder();
  auto dict = SmallDictionary(1);
  ASSERT_EQ(0u, f->sfTableBuild(false, u"Orders", u"", false, dict.get(), tsPersistent));
  EXPECT_TRUE(Exists("Orders.zf1"));
  EXPECT_TRUE(Exists("Orders.x1"));
  EXPECT_EQ(0, f->sfTableCount());  // closed again: nobody uses it
  EXPECT_EQ(0u, f->sfTableExists(u"Orders"));
  EXPECT_EQ(0u, f->sfTableExists(u"orders.ZF1"));
  EXPECT_EQ(zfErrObjNotFound, f->sfTableExists(u"Other"));
  EXPECT_EQ(zfErrTableExists, f->sfTableBuild(false, u"Orders", u"", false, dict.get(), tsPersistent));
  EXPECT_EQ(zfErrInvalidTableName, f->sfTableBuild(false, u"", u"", false, dict.get(), tsPersistent));

  TzfServerRootTable* t = nullptr;
  ASSERT_EQ(0u, f->sfTableOpen(u"ORDERS", {}, false, omReadWrite, smShared, t));
  EXPECT_EQ(u"Orders", t->srtName);  // the name on disk
  EXPECT_EQ(t, f->sfFindTable(u"Orders"));
  EXPECT_EQ(2u, t->srtFiles.size());
  EXPECT_EQ(2, t->srtDictionary->tdFieldsDescriptor->FieldCount);
  const TzfServerTableStats s = t->sbtGetStats(nullptr);
  EXPECT_GE(s.stsNamedStreamCount, 1u);
  {
    TzfMemoryStream ms;
    ASSERT_EQ(0u, t->srtStreamEngine->ReadNamedStream(nullptr, u"$TableName", ms));
    ms.SetPosition(0);
    TzfReader r(ms);
    EXPECT_EQ(u"Orders", r.ReadString());
  }
  EXPECT_GT(s.stsMainFileSize, 0);
  {
    // Used and available blocks and the signature come from the header block as it is stored:
    // the signature in bytes 0..3, the available blocks at offset 28, the used ones at 32.
    std::ifstream in(Dir.Path / "Orders.zf1", std::ios::binary);
    uint8_t head[64] = {};
    ASSERT_TRUE(in.read(reinterpret_cast<char*>(head), sizeof head));
    const auto le32 = [&](int aAt) {
      return uint32_t(head[aAt]) | uint32_t(head[aAt + 1]) << 8 | uint32_t(head[aAt + 2]) << 16 |
             uint32_t(head[aAt + 3]) << 24;
    };
    EXPECT_EQ(std::string(s.stsHeaderSignature.data(), 4), std::string(reinterpret_cast<const char*>(head), 4));
    EXPECT_EQ(s.stsUsedBlocks, le32(32));
    EXPECT_GT(s.stsUsedBlocks, 1u);
    EXPECT_EQ(s.stsAvailableBlocks, le32(28));
  }
  // A second process would get 9221; in this one a second open of the same table reuses it.
  TzfServerRootTable* again = nullptr;
  ASSERT_EQ(0u, f->sfTableOpen(u"orders", {}, false, omReadWrite, smShared, again));
  EXPECT_EQ(t, again);
  EXPECT_EQ(0u, f->sfCloseInactiveTables());
  EXPECT_EQ(0, f->sfTableCount());
}

TEST_F(FolderTables, ASecondOpenerIsRefusedByTheShareLocks) {
  TzfServerFolder* f = Folder();
  auto dict = SmallDictionary();
  ASSERT_EQ(0u, f->sfTableBuild(false, u"T", u"", false, dict.get(), tsPersistent));
  TzfServerRootTable* t = nullptr;
  ASSERT_EQ(0u, f->sfTableOpen(u"T", {}, false, omReadWrite, smExclusive, t));
  // A second engine stands for a second process: its files are new open file descriptions.
  TzfServerEngine other;
  other.SetName(u"Other");
  other.SetMaxRAM(32);
  other.SetTempStoreSize(0);
  other.Open();
  TzfServerFolder* g = nullptr;
  ASSERT_EQ(0u, other.seFolderOpen(rtl::u16(Dir.Path.string()), g));
  EXPECT_TRUE(g->sfReadOnly);  // "zfTrans.cfg" is held exclusively by the first
  TzfServerRootTable* u = nullptr;
  EXPECT_EQ(zfErrNoSuchTable, g->sfTableOpen(u"T", {}, false, omReadOnly, smShared, u));  // 9221 inside
  EXPECT_EQ(nullptr, u);
}

TEST_F(FolderTables, AnUnnamedTableGetsANameAndNoNameStream) {
  TzfServerFolder* f = Folder();
  auto dict = SmallDictionary();
  TzfServerRootTable* a = nullptr;
  TzfServerRootTable* b = nullptr;
  ASSERT_EQ(0u, f->sfTableCreate(u"", u"", a, tsTempUnnamed, dict.get(), false));
  ASSERT_EQ(0u, f->sfTableCreate(u"", u"", b, tsTempUnnamed, dict.get(), false));
  EXPECT_EQ(0u, a->srtName.find(u" UnnamedTable_" + rtl::IntToStr(reinterpret_cast<intptr_t>(a)) + u"_"));
  EXPECT_NE(a->srtName, b->srtName);
  TzfMemoryStream ms;
  EXPECT_NE(0u, a->srtStreamEngine->ReadNamedStream(nullptr, u"$TableName", ms));
  EXPECT_EQ(zfErrObjNotFound, f->sfTableExists(a->srtName));  // belongs to one database
  EXPECT_EQ(2, f->sfTableCount());
  EXPECT_EQ(0u, f->sfCloseInactiveTables());  // unnamed tables close when unused
  EXPECT_EQ(0, f->sfTableCount());
}

// A temporary table has no file on disk: its size is its cached blocks times the usable block size.
TEST_F(FolderTables, TemporaryTableStatisticsCountItsCachedBlocks) {
  TzfServerFolder* f = Folder();
  auto dict = SmallDictionary();
  TzfServerRootTable* t = nullptr;
  ASSERT_EQ(0u, f->sfTableCreate(u"", u"", t, tsTempUnnamed, dict.get(), false));
  TzfBaseFile* main = t->srtMainFile;
  ASSERT_TRUE(main->HasAttribute(zffaTemporary));
  uint32_t cached = 0;
  for (TzfBlockNumber n = 0; n < 1024; ++n)
    if (zfCacheFind(main, n)) ++cached;
  ASSERT_GT(cached, 1u);
  TzfServerTableStats s;
  EXPECT_EQ(0u, RaisedCode([&] { s = t->sbtGetStats(nullptr); }));
  EXPECT_EQ(s.stsMainFileSize, int64_t(cached) * main->fiBlockSizeBytes);
  EXPECT_EQ(main->PhysicalBlockCount(), uint32_t(int64_t(cached) * main->fiBlockSizeBytes / main->PhysicalBlockBytes()));
  EXPECT_EQ(0u, f->sfCloseInactiveTables());
}

TEST_F(FolderTables, TwoNamesDifferingOnlyInCaseAreNeverGuessed) {
  TzfServerFolder* f = Folder();
  auto dict = SmallDictionary();
  ASSERT_EQ(0u, f->sfTableBuild(false, u"abc", u"", false, dict.get(), tsPersistent));
  std::filesystem::copy_file(Dir.Path / "abc.zf1", Dir.Path / "ABC.zf1");
  TzfServerRootTable* t = nullptr;
  EXPECT_EQ(0u, f->sfTableOpen(u"abc", {}, false, omReadWrite, smShared, t));  // exact name first
  EXPECT_EQ(0u, f->sfCloseInactiveTables());
  EXPECT_EQ(zfErrNoSuchTable, f->sfTableOpen(u"Abc", {}, false, omReadWrite, smShared, t));
  EXPECT_EQ(nullptr, t);
}

TEST_F(FolderTables, NestedTablesByPath) {
  TzfServerFolder* f = Folder();
  auto dict = SmallDictionary(0, 2);
  ASSERT_EQ(0u, f->sfTableBuild(false, u"N", u"", false, dict.get(), tsPersistent));
  TzfServerRootTable* t = nullptr;
  ASSERT_EQ(0u, f->sfTableOpen(u"N", {}, false, omReadWrite, smShared, t));
  struct Case {
    const char16_t* Path;
    const char16_t* FullName;  // nullptr: fails with 10024
  } cases[] = {
      {u"", u"N"},
      {u"Sub1", u"N:Sub1"},
      {u"sub1:deep", u"N:Sub1:Deep"},
      {u".:Sub2", u"N:Sub2"},
      {u"Sub1:..:Sub2", u"N:Sub2"},
      {u"Sub1:Deep:..:..", u"N"},
      {u"..", nullptr},
      {u"Sub3", nullptr},
      {u"Sub1:Nope", nullptr},
  };
  for (const Case& c : cases) {
    TzfServerBaseTable* child = nullptr;
    const uint32_t code = t->GetChild(c.Path, child);
    if (c.FullName) {
      EXPECT_EQ(0u, code) << rtl::u8(c.Path);
      ASSERT_NE(nullptr, child);
      EXPECT_EQ(c.FullName, child->FullName());
    } else {
      EXPECT_EQ(zfErrNoSuchTable, code) << rtl::u8(c.Path);
      EXPECT_EQ(nullptr, child);
    }
  }
  TzfServerBaseTable* deep = nullptr;
  ASSERT_EQ(0u, t->GetChild(u"Sub1:Deep", deep));
  EXPECT_EQ(t, deep->sbtRoot);
  EXPECT_EQ(1u, deep->sbtBlockAccess.size());
}

TEST_F(FolderTables, RenameMovesEveryFileOrNone) {
  TzfServerFolder* f = Folder();
  auto dict = SmallDictionary(2);
  ASSERT_EQ(0u, f->sfTableBuild(false, u"A", u"", false, dict.get(), tsPersistent));
  ASSERT_EQ(0u, f->sfTableBuild(false, u"Other", u"", false, dict.get(), tsPersistent));
  EXPECT_EQ(zfErrTableExists, f->sfTableRename(u"A", u"Other", {}, false));

  // The third file's new name is taken: the first two go back, nothing is overwritten.
  WriteBytes(Dir.FilePath("B.x2"), {42});
  EXPECT_EQ(zfErrFileRenameFailed, f->sfTableRename(u"A", u"B", {}, false));
  for (const char* n : {"A.zf1", "A.x1", "A.x2"}) EXPECT_TRUE(Exists(n)) << n;
  EXPECT_FALSE(Exists("B.zf1"));
  EXPECT_EQ(std::vector<uint8_t>{42}, ReadBytes(Dir.FilePath("B.x2")));

  std::filesystem::remove(Dir.Path / "B.x2");
  const int32_t generation = f->sfStructureGeneration.load();
  EXPECT_EQ(0u, f->sfTableRename(u"a.zf1", u"B", {}, false));
  for (const char* n : {"B.zf1", "B.x1", "B.x2"}) EXPECT_TRUE(Exists(n)) << n;
  EXPECT_FALSE(Exists("A.zf1"));
  EXPECT_EQ(generation + 1, f->sfStructureGeneration.load());
  EXPECT_EQ(zfErrInvalidTableName, f->sfTableRename(u"B", u"bad/name", {}, false));

  // An open global temporary table is renamed in memory only.
  auto tmp = SmallDictionary();
  ASSERT_EQ(0u, f->sfTableBuild(false, u"<G>", u"", false, tmp.get(), tsTempGlobal));
  EXPECT_EQ(0u, f->sfTableRename(u"<G>", u"<H>", {}, false));
  ASSERT_NE(nullptr, f->sfFindTable(u"<H>"));
  EXPECT_EQ(nullptr, f->sfFindTable(u"<G>"));
}

TEST_F(FolderTables, DeleteEmptyListAndUniqueNames) {
  TzfServerFolder* f = Folder();
  auto dict = SmallDictionary(1);
  for (const char16_t* n : {u"T", u"T1", u"U"})
    ASSERT_EQ(0u, f->sfTableBuild(false, n, u"", false, dict.get(), tsPersistent));
  WriteBytes(Dir.FilePath("Z.zf10"), {1});
  UnicodeString unique;
  ASSERT_EQ(0u, f->sfTableMakeUniqueName(u"T", unique));
  EXPECT_EQ(u"T2", unique);
  rtl::TStringList list;
  ASSERT_EQ(0u, f->sfTableGetList(list));
  ASSERT_EQ(3, list.Count());
  EXPECT_EQ(u"T", list[0]);
  EXPECT_EQ(u"U", list[2]);

  ASSERT_EQ(0u, f->sfTableEmpty(u"U", {}, false));
  EXPECT_TRUE(Exists("U.zf1"));
  ASSERT_EQ(0u, f->sfTableDelete(u"U", {}, false));
  EXPECT_FALSE(Exists("U.zf1"));
  EXPECT_FALSE(Exists("U.x1"));
  EXPECT_EQ(zfErrNoSuchTable, f->sfTableDelete(u"U", {}, false));

  // A header that cannot be read: the main file goes, the answer is 0.
  WriteBytes(Dir.FilePath("Bad.zf1"), std::vector<uint8_t>(100, 0xEE));
  EXPECT_EQ(0u, f->sfTableDelete(u"Bad", {}, false));
  EXPECT_FALSE(Exists("Bad.zf1"));

  // An open table in use cannot be replaced; build with overwrite answers 10031.
  TzfServerRootTable* t = nullptr;
  ASSERT_EQ(0u, f->sfTableOpen(u"T", {}, false, omReadWrite, smShared, t));
  t->sbtLockIsInactive.fetch_add(1);  // pinned by a user
  EXPECT_EQ(zfErrTableOpen, f->sfTableBuild(true, u"T", u"", false, dict.get(), tsPersistent));
  EXPECT_EQ(zfErrTableOpen, f->sfTableDelete(u"T", {}, false));
  t->sbtLockIsInactive.fetch_sub(1);
  EXPECT_EQ(0u, f->sfTableBuild(true, u"T", u"", false, dict.get(), tsPersistent));
}

// A table file another process holds (a share lock of its engine, shared or exclusive, on any of
// the table's files): rename and delete are refused with 10245 and leave every file where it is.
// flock locks belong to the open file description, so an open of this process stands for the
// other process.
TEST_F(FolderTables, RenameAndDeleteOfAFileHeldElsewhereAreRefused) {
  TzfServerFolder* f = Folder();
  auto dict = SmallDictionary(1);
  ASSERT_EQ(0u, f->sfTableBuild(false, u"T", u"", false, dict.get(), tsPersistent));
  struct TCase {
    const char* File;
    int Lock;
    bool Rename;
  } cases[] = {
      {"T.zf1", LOCK_SH, true}, {"T.zf1", LOCK_EX, true}, {"T.x1", LOCK_SH, true},
      {"T.zf1", LOCK_SH, false}, {"T.zf1", LOCK_EX, false}, {"T.x1", LOCK_EX, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.File << (c.Lock == LOCK_SH ? " shared " : " exclusive ")
                                    << (c.Rename ? "rename" : "delete"));
    const int fd = ::open(Dir.FilePath(c.File).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ::flock(fd, c.Lock | LOCK_NB));
    EXPECT_EQ(zfErrFileLocked, c.Rename ? f->sfTableRename(u"T", u"Moved", {}, false) : f->sfTableDelete(u"T", {}, false));
    EXPECT_TRUE(Exists("T.zf1"));
    EXPECT_TRUE(Exists("T.x1"));
    EXPECT_FALSE(Exists("Moved.zf1"));
    EXPECT_FALSE(Exists("Moved.x1"));
    ::close(fd);
  }
  // Released: both go through.
  ASSERT_EQ(0u, f->sfTableRename(u"T", u"Moved", {}, false));
  EXPECT_TRUE(Exists("Moved.x1"));
  ASSERT_EQ(0u, f->sfTableDelete(u"Moved", {}, false));
  EXPECT_FALSE(Exists("Moved.zf1"));
  EXPECT_FALSE(Exists("Moved.x1"));
}

TEST_F(FolderTables, BuildWithOverwriteWhoseDeleteFailsAnswersTableIsReadOnly) {
  TzfServerFolder* f = Folder();
  auto dict = SmallDictionary(1);
  ASSERT_EQ(0u, f->sfTableBuild(false, u"T", u"", false, dict.get(), tsPersistent));
  std::filesystem::remove(Dir.Path / "T.x1");  // the delete of the further file fails (15393)
  EXPECT_EQ(zfErrTableReadOnly, f->sfTableBuild(true, u"T", u"", false, dict.get(), tsPersistent));
}

TEST_F(FolderTables, ATableWithLinksOfALiveTransactionIsNotInactive) {
  TzfServerFolder* f = Folder();
  auto dict = SmallDictionary();
  ASSERT_EQ(0u, f->sfTableBuild(false, u"T", u"", false, dict.get(), tsPersistent));
  TzfServerRootTable* t = nullptr;
  ASSERT_EQ(0u, f->sfTableOpen(u"T", {}, false, omReadWrite, smShared, t));
  {
    // The root table is the lock side its transactions link to.
    TzfServerTransaction trans(Engine->seBufferManager.get(), nullptr, nullptr, false, false);
    ASSERT_EQ(0u, trans.stLockTable(t, false, true, nullptr));
    EXPECT_FALSE(t->srtIsInactive(true, true, 0));
    EXPECT_EQ(0u, f->sfCloseInactiveTables());
    EXPECT_EQ(1, f->sfTableCount());
    trans.Rollback();
  }
  EXPECT_EQ(t->srtCheckTransLinks(), u"");
  t->srtSnapshotBlockCount = 1;
  EXPECT_FALSE(t->srtIsInactive(true, true, 0));
  t->srtSnapshotBlockCount = 0;
  EXPECT_TRUE(t->srtIsInactive(true, true, 0));
}

TEST_F(FolderTables, ReadOnlyFolderRefusesChanges) {
  StartEngine(1u << seoReadOnly);
  TzfServerFolder* f = Folder();
  auto dict = SmallDictionary();
  EXPECT_EQ(zfErrReadOnlyDb, f->sfTableBuild(false, u"T", u"", false, dict.get(), tsPersistent));
  EXPECT_EQ(zfErrReadOnlyDb, f->sfTableDelete(u"T", {}, false));
  EXPECT_EQ(zfErrReadOnlyDb, f->sfTableRename(u"T", u"U", {}, false));
}

}  // namespace
}  // namespace zf::test
