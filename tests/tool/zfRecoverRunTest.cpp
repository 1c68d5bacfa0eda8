// The zfRecover program end to end, headless: `zftable make-log` builds a log table, `zftable
// damage` spoils chosen blocks of a copy, and the program recovers the copy. Checked: the log lines
// on standard output (and in the event log beside the program), the counts line against the
// records of the undamaged blocks, the tables left in the folder, the rows under the old name and
// the exit code; the cancel path (SIGINT during the run), and the refused files.
//
// Each test runs its own hard link of the program in a folder of its own, so that its event log
// (the program's path + "Event.log") is its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "client/zfdbStartup.h"
#include "client/zfdbTable.h"
#include "tool/zfRecoverComponents.h"
#include "tests/tool/zfRecoverRunSupport.h"
#include "tools/zftableKit.h"
#include "tools/zftableLog.h"

namespace zf::test {
namespace {

namespace fs = std::filesystem;

// A failed start or a run that does not end fails the test.
int WaitFor(TChild& aChild) {
  const int code = aChild.Wait(std::chrono::seconds(120));
  EXPECT_NE(code, -1) << "the program did not end";
  return code;
}

// Runs zftable and answers its standard output; a failed run fails the test.
std::string ZfTable(const std::vector<std::string>& aArgs, const fs::path& aDir) {
  TChild child(ZFTABLE_EXE, aArgs, aDir, "zftable.txt");
  const int code = WaitFor(child);
  EXPECT_EQ(code, 0) << child.StdErr();
  return child.StdOut();
}

// The tables of a folder: the ".dvl7" files' names without the extension.
std::set<std::string> Tables(const fs::path& aDir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(aDir))
    if (e.path().extension() == ".dvl7") names.insert(e.path().stem().string());
  return names;
}

class RecoverRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { zfStartClient(); }
  static void TearDownTestSuite() { zfStopClient(); }

  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    Dir = fs::path(ZF_TOOL_WORK_DIR) / (std::string("run_") + info->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir / "tables");
    fs::create_directories(Dir / "original");
    // The program's own link: its event log is then Dir/zfRecoverEvent.log.
    Exe = Dir / "zfRecover";
    std::error_code ec;
    fs::create_hard_link(ZFRECOVER_EXE, Exe, ec);
    if (ec) fs::copy_file(ZFRECOVER_EXE, Exe);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(Dir);
  }

  // Makes the log table "original/BuildLog.dvl7" with aRecords records and answers the number of
  // records each of its blocks holds.
  // aExtra: further options of make-log.
  std::map<uint32_t, uint64_t> MakeLog(uint32_t aRecords, const std::vector<std::string>& aExtra = {}) {
    Records = aRecords;
    std::vector<std::string> args = {"make-log", (Dir / "original" / "BuildLog.dvl7").string(), "--records",
                                     std::to_string(aRecords), "--seed", "3"};
    args.insert(args.end(), aExtra.begin(), aExtra.end());
    ZfTable(args, Dir);
    std::map<uint32_t, uint64_t> perBlock = RecordsByBlock(Dir / "original", u"BuildLog");
    uint64_t total = 0;
    for (const auto& [block, count] : perBlock) total += count;
    EXPECT_EQ(total, aRecords);
    return perBlock;
  }
  // Copies the table into "tables/" with the listed blocks damaged; answers the blocks hit.
  std::vector<uint32_t> Damage(const std::string& aBlocks) {
    const std::string out = ZfTable({"damage", (Dir / "original" / "BuildLog.dvl7").string(), Table().string(),
                                     "--blocks", aBlocks},
                                    Dir);
    std::vector<uint32_t> hits;
    for (const std::string& line : SplitLines(out))
      if (line.rfind("hit ", 0) == 0) hits.push_back(uint32_t(std::stoul(line.substr(4))));
    return hits;
  }
  fs::path Table() const { return Dir / "tables" / "BuildLog.dvl7"; }
  // Copies the table with two blocks that hold records, away from the file's start, damaged;
  // answers the records of the other blocks.
  uint64_t DamageTwoRecordBlocks(const std::map<uint32_t, uint64_t>& aPerBlock) {
    std::vector<uint32_t> chosen;
    for (const auto& [block, count] : aPerBlock)
      if (count > 0 && block > 4 && chosen.size() < 2 && (chosen.empty() || block > chosen.back() + 3))
        chosen.push_back(block);
    EXPECT_EQ(chosen.size(), 2u);
    if (chosen.size() != 2) return 0;
    EXPECT_EQ(Damage(std::to_string(chosen[0]) + "," + std::to_string(chosen[1])), chosen);
    return Records - aPerBlock.at(chosen[0]) - aPerBlock.at(chosen[1]);
  }

  // The rows of a table of the folder, counted through the engine.
  int32_t Rows(const std::string& aTable) {
    TzfRecoverComponents engine;
    engine.Start();
    engine.OpenDatabase(rtl::u16((Dir / "tables").string()));
    engine.Source().SetTableName(rtl::u16(aTable));
    return engine.Source().CountInStorageOrder();
  }

  // The event log's lines (UTF-16LE, CR LF).
  std::vector<std::string> EventLog() const {
    const std::string raw = ReadTextFile(Dir / "zfRecoverEvent.log");
    std::u16string text(raw.size() / 2, u'\0');
    std::memcpy(text.data(), raw.data(), text.size() * 2);
    std::vector<std::string> lines;
    for (const std::string& l : SplitLines(rtl::u8(text))) lines.push_back(l.substr(0, l.find('\r')));
    return lines;
  }

  fs::path Dir, Exe;
  uint32_t Records = 0;
};

// True when aText at aPos is a stamp "yyyy_mm_dd_hh_nn_ss".
bool StampAt(const std::string& aText, size_t aPos) {
  static const char* pattern = "dddd_dd_dd_dd_dd_dd";
  if (aPos + 19 > aText.size()) return false;
  for (size_t i = 0; i < 19; ++i) {
    const char c = aText[aPos + i];
    if (pattern[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(c)) : c != '_') return false;
  }
  return true;
}

// aPrefix followed by a stamp and nothing else.
bool IsStamped(const std::string& aName, const std::string& aPrefix) {
  return aName.size() == aPrefix.size() + 19 && aName.compare(0, aPrefix.size(), aPrefix) == 0 &&
         StampAt(aName, aPrefix.size());
}

// The lines of a run's output, stamps replaced by "<stamp>".
std::vector<std::string> Stamped(const std::string& aOutput) {
  std::vector<std::string> lines;
  for (std::string l : SplitLines(aOutput)) {
    for (size_t i = 0; i < l.size(); ++i)
      if (StampAt(l, i)) l.replace(i, 19, "<stamp>");
    lines.push_back(l);
  }
  return lines;
}

// The counts line of a run that lost records: "WARN  Out of N records R have been recovered and F
// have failed."
bool ReadCounts(const std::string& aLine, unsigned long long& aRecovered, unsigned long long& aFailed) {
  long long source = 0;
  return std::sscanf(aLine.c_str(), "WARN  Out of %lld records %llu have been recovered and %llu have failed.", &source,
                     &aRecovered, &aFailed) == 3;
}

TEST_F(RecoverRun, UndamagedTableIsRecoveredWhole) {
  MakeLog(3000);
  fs::copy_file(Dir / "original" / "BuildLog.dvl7", Table());
  TChild run(Exe, {"--headless", Table().string()}, Dir);
  EXPECT_EQ(WaitFor(run), 0) << run.StdErr();
  const std::vector<std::string> expected = {
      "INFO  Trying to recover table " + Table().string(),
      "INFO  Recover operation completed.",
      "INFO  Out of 3000 records 3000 have been recovered and 0 have failed.",
      "INFO  Empty table BuildLog_Failed has been deleted",
      "INFO  Source table has been renamed to BuildLog_Backup_<stamp>",
      "INFO  Recovered table has been renamed to BuildLog",
      "INFO  Recover operation has been finalized successfully. Terminating...",
  };
  EXPECT_EQ(Stamped(run.StdOut()), expected);
  // Left: the recovered table under the old name and the damaged one as the backup.
  const std::set<std::string> tables = Tables(Dir / "tables");
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables.count("BuildLog"), 1u);
  const std::string backup = *std::next(tables.begin());
  EXPECT_TRUE(IsStamped(backup, "BuildLog_Backup_")) << backup;
  EXPECT_EQ(Rows("BuildLog"), 3000);
  EXPECT_EQ(Rows(backup), 3000);
  // The event log beside the program holds the same lines: message number 0, category "default".
  const std::vector<std::string> log = EventLog();
  auto has = [&](const std::string& aTail) {
    return std::any_of(log.begin(), log.end(), [&](const std::string& l) {
      return l.size() >= aTail.size() && l.compare(l.size() - aTail.size(), aTail.size(), aTail) == 0;
    });
  };
  EXPECT_TRUE(has("[$0/0] INFO  default Out of 3000 records 3000 have been recovered and 0 have failed."));
  EXPECT_TRUE(has("[$0/0] INFO  default Recover operation has been finalized successfully. Terminating..."));
}

// Two damaged record blocks: what the other blocks hold is recovered, no more and no less.
TEST_F(RecoverRun, DamagedBlocksLoseOnlyTheirRecords) {
  const std::map<uint32_t, uint64_t> perBlock = MakeLog(4000);
  uint64_t bound = 0;
  ASSERT_NO_FATAL_FAILURE(bound = DamageTwoRecordBlocks(perBlock));

  TChild run(Exe, {"--headless", Table().string()}, Dir);
  EXPECT_EQ(WaitFor(run), 0) << run.StdErr();
  const std::vector<std::string> out = Stamped(run.StdOut());
  ASSERT_GE(out.size(), 7u) << run.StdOut();
  unsigned long long recovered = 0, failed = 0;
  ASSERT_TRUE(ReadCounts(out[2], recovered, failed)) << out[2];
  EXPECT_EQ(recovered + failed, bound);
  EXPECT_EQ(out.back(), "INFO  Recover operation has been finalized successfully. Terminating...");
  const std::set<std::string> tables = Tables(Dir / "tables");
  EXPECT_EQ(tables.count("BuildLog"), 1u);
  // A failed table stays (stamped) only when records failed.
  size_t backups = 0, faileds = 0;
  for (const std::string& t : tables) {
    backups += IsStamped(t, "BuildLog_Backup_");
    faileds += IsStamped(t, "BuildLog_Failed_");
  }
  EXPECT_EQ(backups, 1u);
  EXPECT_EQ(faileds, failed > 0 ? 1u : 0u);
  EXPECT_EQ(tables.size(), 2u + faileds);
  EXPECT_GE(uint64_t(Rows("BuildLog")), recovered);
  EXPECT_LE(uint64_t(Rows("BuildLog")), bound);
}

// An enciphered log table (built-in password) with two damaged record blocks: their MACs fail, the
// salvage skips them, and every record of every other block comes back.
TEST_F(RecoverRun, EncipheredTableWithDamagedBlocksIsRecovered) {
  const std::map<uint32_t, uint64_t> perBlock = MakeLog(3000, {"--encryption", "zf1xDefault"});
  const std::string disk = ReadTextFile(Dir / "original" / "BuildLog.dvl7");
  EXPECT_EQ(disk.find("artifact"), std::string::npos) << "no record text on disk";
  EXPECT_NE(disk.find("zf1xDefault"), std::string::npos) << "block 0 names the engine";
  uint64_t bound = 0;
  ASSERT_NO_FATAL_FAILURE(bound = DamageTwoRecordBlocks(perBlock));

  TChild run(Exe, {"--headless", Table().string()}, Dir);
  EXPECT_EQ(WaitFor(run), 0) << run.StdErr();
  const std::vector<std::string> out = Stamped(run.StdOut());
  ASSERT_GE(out.size(), 7u) << run.StdOut();
  unsigned long long recovered = 0, failed = 0;
  ASSERT_TRUE(ReadCounts(out[2], recovered, failed)) << out[2];
  EXPECT_EQ(recovered + failed, bound);
  EXPECT_EQ(failed, 0u);
  EXPECT_EQ(out.back(), "INFO  Recover operation has been finalized successfully. Terminating...");
  EXPECT_EQ(uint64_t(Rows("BuildLog")), bound);
  // The recovered table is enciphered like its source.
  const std::string recoveredDisk = ReadTextFile(Table());
  EXPECT_EQ(recoveredDisk.find("artifact"), std::string::npos);
}

// A damaged index header: the engine can neither count nor rename the source, yet every record is
// recovered, the damaged file is kept byte for byte as the backup and the recovered table takes
// its name.
TEST_F(RecoverRun, DamagedIndexHeaderStillPutsTheRecoveredTableInPlace) {
  MakeLog(2000);
  uint32_t indexHeader = 0;
  kit::WalkTable((Dir / "original" / "BuildLog.dvl7").string(), [&](uint32_t aBlock, const std::string& aSig, int32_t, bool) {
    if (indexHeader == 0 && aSig == "ZFIH") indexHeader = aBlock;
  });
  ASSERT_NE(indexHeader, 0u);
  EXPECT_EQ(Damage(std::to_string(indexHeader)), std::vector<uint32_t>{indexHeader});
  const std::string damaged = ReadTextFile(Table());
  TChild run(Exe, {"--headless", Table().string()}, Dir);
  EXPECT_EQ(WaitFor(run), 0) << run.StdErr();
  const std::vector<std::string> out = Stamped(run.StdOut());
  ASSERT_EQ(out.size(), 9u) << run.StdOut();
  EXPECT_EQ(out[2].rfind("WARN  Source table BuildLog could not be counted: ZofrinDB: ", 0), 0u) << out[2];
  EXPECT_EQ(out[3], "WARN  Out of an unknown number of records 2000 have been recovered and 0 have failed.");
  EXPECT_EQ(out[4], "INFO  Empty table BuildLog_Failed has been deleted");
  EXPECT_EQ(out[5].rfind("WARN  Source table BuildLog could not be renamed by the engine: ZofrinDB: ", 0), 0u) << out[5];
  EXPECT_EQ(out[6], "INFO  Source table has been renamed to BuildLog_Backup_<stamp>");
  EXPECT_EQ(out[7], "INFO  Recovered table has been renamed to BuildLog");
  EXPECT_EQ(out[8], "INFO  Recover operation has been finalized successfully. Terminating...");
  const std::set<std::string> tables = Tables(Dir / "tables");
  ASSERT_EQ(tables.size(), 2u);
  const std::string backup = *std::next(tables.begin());
  EXPECT_TRUE(IsStamped(backup, "BuildLog_Backup_")) << backup;
  EXPECT_TRUE(ReadTextFile(Dir / "tables" / (backup + ".dvl7")) == damaged);
  EXPECT_EQ(Rows("BuildLog"), 2000);
}

// Records that break the table's validation are salvaged into the failed table; putting them back
// fails the same way, so they stay there, and the failed table is kept under a stamped name.
TEST_F(RecoverRun, FailedRecordsStayInAStampedFailedTable) {
  kit::TLogOptions o;
  o.Records = 1000;
  o.InvalidEvery = 10;
  kit::MakeLogTable(Table().string(), o);
  TChild run(Exe, {"--headless", Table().string()}, Dir);
  EXPECT_EQ(WaitFor(run), 0) << run.StdErr();
  const std::vector<std::string> expected = {
      "INFO  Trying to recover table " + Table().string(),
      "INFO  Recover operation completed.",
      "WARN  Out of 1000 records 900 have been recovered and 100 have failed.",
      "INFO  0 failed records could be added back to recovered records.",
      "WARN  Failed table has been renamed to BuildLog_Failed_<stamp>",
      "INFO  Source table has been renamed to BuildLog_Backup_<stamp>",
      "INFO  Recovered table has been renamed to BuildLog",
      "INFO  Recover operation has been finalized successfully. Terminating...",
  };
  EXPECT_EQ(Stamped(run.StdOut()), expected);
  const std::set<std::string> tables = Tables(Dir / "tables");
  ASSERT_EQ(tables.size(), 3u);
  EXPECT_EQ(Rows("BuildLog"), 900);
  for (const std::string& t : tables) {
    if (IsStamped(t, "BuildLog_Failed_")) EXPECT_EQ(Rows(t), 100);
    else if (IsStamped(t, "BuildLog_Backup_")) EXPECT_EQ(Rows(t), 1000);
    else EXPECT_EQ(t, "BuildLog");
  }
}

// SIGINT while the task runs: the close is refused, the task cancelled, and the run ends with the
// terminated line carrying the text of 13062; nothing is renamed.
TEST_F(RecoverRun, InterruptCancelsTheRun) {
  MakeLog(20000);
  fs::copy_file(Dir / "original" / "BuildLog.dvl7", Table());
  TChild run(Exe, {"--headless", Table().string()}, Dir);
  ASSERT_TRUE(run.WaitForOutput("Trying to recover table"));
  run.Signal(SIGINT);
  EXPECT_EQ(WaitFor(run), 1);
  const std::vector<std::string> out = SplitLines(run.StdOut());
  ASSERT_EQ(out.size(), 2u) << run.StdOut();
  EXPECT_EQ(out[1], "ERROR Recover operation terminated with error: ZofrinDB: Update aborted. [$3306/13062]");
  const std::set<std::string> tables = Tables(Dir / "tables");
  EXPECT_EQ(tables.count("BuildLog"), 1u);
  for (const std::string& t : tables) EXPECT_EQ(t.find("_Backup_"), std::string::npos) << t;
  EXPECT_EQ(Rows("BuildLog"), 20000);
}

// Another process that holds a file locked (flock, as the engine's share modes do) until it is
// freed: a forked child that only opens, locks and waits.
class TLockHolder {
 public:
  TLockHolder(const fs::path& aFile, int aLock) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    Pid = ::fork();
    if (Pid == 0) {
      ::close(ready[0]);
      const int fd = ::open(aFile.c_str(), O_RDONLY | O_CLOEXEC);
      const char ok = fd >= 0 && ::flock(fd, aLock) == 0 ? '1' : '0';
      if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char ok = '0';
    Locked = Pid > 0 && ::read(ready[0], &ok, 1) == 1 && ok == '1';
    ::close(ready[0]);
  }
  ~TLockHolder() {
    if (Pid > 0) {
      ::kill(Pid, SIGKILL);
      ::waitpid(Pid, nullptr, 0);
    }
  }
  TLockHolder(const TLockHolder&) = delete;
  TLockHolder& operator=(const TLockHolder&) = delete;

  pid_t Pid = -1;
  bool Locked = false;
};

// The source held by another process for the whole run, with a shared lock (what the engine's own
// shared open takes) or exclusively: the run fails with exit code 1, the source's file stays
// under its name byte for byte, and the log says where each table is. With a shared lock the walk
// runs (the engine reads the source read-only) and the rename is refused (10245); exclusively the
// source cannot even be opened and nothing is made.
TEST_F(RecoverRun, SourceHeldByAnotherProcessIsNeverMoved) {
  MakeLog(1500);
  struct TCase {
    int Lock;
    std::vector<std::string> Expected;
    std::set<std::string> Tables;
  } cases[] = {
      {LOCK_SH,
       {"INFO  Trying to recover table " + Table().string(), "INFO  Recover operation completed.",
        "INFO  Out of 1500 records 1500 have been recovered and 0 have failed.",
        "INFO  Empty table BuildLog_Failed has been deleted",
        "ERROR Finalization of recover operation could not be completed: ZofrinDB: Database: File is locked. "
        "[$2805/10245]",
        "WARN  The source table is kept as BuildLog", "WARN  The recovered table is kept as BuildLog_Recovered"},
       {"BuildLog", "BuildLog_Recovered"}},
      {LOCK_EX,
       {"INFO  Trying to recover table " + Table().string(),
        "ERROR Recover operation could not be initiated: ZofrinDB: Database: Root table \"BuildLog\" not found "
        "[$2728/10024]",
        "WARN  The source table is kept as BuildLog"},
       {"BuildLog"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Lock == LOCK_SH ? "shared" : "exclusive");
    fs::remove_all(Dir / "tables");
    fs::create_directories(Dir / "tables");
    fs::copy_file(Dir / "original" / "BuildLog.dvl7", Table());
    const std::string before = ReadTextFile(Table());
    {
      TLockHolder holder(Table(), c.Lock);
      ASSERT_TRUE(holder.Locked);
      TChild run(Exe, {"--headless", Table().string()}, Dir);
      EXPECT_EQ(WaitFor(run), 1) << run.StdErr();
      EXPECT_EQ(SplitLines(run.StdOut()), c.Expected);
    }
    EXPECT_EQ(Tables(Dir / "tables"), c.Tables);
    EXPECT_TRUE(ReadTextFile(Table()) == before) << "the source's file is the same";
    EXPECT_EQ(Rows("BuildLog"), 1500);
    if (c.Tables.count("BuildLog_Recovered")) {
      EXPECT_EQ(Rows("BuildLog_Recovered"), 1500);
    }
  }
}

// Two ways users meet the tool: a reader of its output that goes away early (zfRecover ... | head)
// and a file-size limit (ulimit -f). Neither may end the run without a word or between its two
// renames. With the reader gone after the line before the renames, the run goes on to its end and
// every table is in place; under a limit below the recovered table's size the failed write takes
// the error path (exit 1) and the source stays as it was, under its name.
TEST_F(RecoverRun, AReaderThatGoesAwayOrAFileSizeLimitNeverStopsTheRunHalfWay) {
  MakeLog(8000);
  fs::copy_file(Dir / "original" / "BuildLog.dvl7", Table());
  {
    SCOPED_TRACE("reader gone");
    TChild run("/bin/sh",
               {"-c", "(\"$0\" \"$1\" \"$2\"; echo $? > \"$3\") | head -n 4 > /dev/null", Exe.string(), "--headless",
                Table().string(), (Dir / "status").string()},
               Dir);
    EXPECT_EQ(WaitFor(run), 0) << run.StdErr();
    EXPECT_EQ(ReadTextFile(Dir / "status"), "0\n");
    const std::set<std::string> tables = Tables(Dir / "tables");
    ASSERT_EQ(tables.size(), 2u);
    EXPECT_EQ(tables.count("BuildLog"), 1u);
    EXPECT_TRUE(IsStamped(*std::next(tables.begin()), "BuildLog_Backup_"));
    EXPECT_EQ(Rows("BuildLog"), 8000);
  }
  {
    SCOPED_TRACE("file-size limit");
    fs::remove_all(Dir / "tables");
    fs::create_directories(Dir / "tables");
    fs::copy_file(Dir / "original" / "BuildLog.dvl7", Table());
    const std::string before = ReadTextFile(Table());
    ASSERT_GT(before.size(), 1024u * 1024u);
    // 1024 blocks of the shell's: 512 KiB here, 1 MiB where a block is 1 KiB.
    TChild run("/bin/sh", {"-c", "ulimit -f 1024 && exec \"$0\" \"$@\"", Exe.string(), "--headless", Table().string()},
               Dir);
    EXPECT_EQ(WaitFor(run), 1) << run.StdErr();
    const std::vector<std::string> lines = SplitLines(run.StdOut());
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& aLine) {
      return aLine.rfind("ERROR Recover operation terminated with error: ", 0) == 0;
    })) << run.StdOut();
    EXPECT_TRUE(ReadTextFile(Table()) == before) << "the source's file is the same";
    EXPECT_EQ(Tables(Dir / "tables").count("BuildLog"), 1u);
    EXPECT_EQ(Rows("BuildLog"), 8000);
  }
}

// A symbolic link in another folder: the tables are made and renamed beside the real file, the
// link itself is left alone and then names the recovered table.
TEST_F(RecoverRun, LinkIntoAnotherFolderRecoversTheRealFile) {
  MakeLog(500);
  fs::copy_file(Dir / "original" / "BuildLog.dvl7", Table());
  fs::create_directories(Dir / "links");
  fs::create_symlink(Table(), Dir / "links" / "Alias.dvl7");
  TChild run(Exe, {"--headless", (Dir / "links" / "Alias.dvl7").string()}, Dir);
  EXPECT_EQ(WaitFor(run), 0) << run.StdErr();
  const std::vector<std::string> out = Stamped(run.StdOut());
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.front(), "INFO  Trying to recover table " + Table().string());
  EXPECT_EQ(out.back(), "INFO  Recover operation has been finalized successfully. Terminating...");
  const std::set<std::string> tables = Tables(Dir / "tables");
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables.count("BuildLog"), 1u);
  EXPECT_TRUE(IsStamped(*std::next(tables.begin()), "BuildLog_Backup_"));
  EXPECT_EQ(Rows("BuildLog"), 500);
  // The link is untouched and leads to the recovered table.
  EXPECT_EQ(std::distance(fs::directory_iterator(Dir / "links"), fs::directory_iterator()), 1);
  EXPECT_TRUE(fs::is_symlink(Dir / "links" / "Alias.dvl7"));
  EXPECT_EQ(fs::read_symlink(Dir / "links" / "Alias.dvl7"), Table());
}

// SIGINT or SIGTERM before the first tick (the run held them back until its loop ran): one line
// says the run was cancelled before it started, exit code 1, no table made or renamed.
TEST_F(RecoverRun, SignalBeforeTheFirstTickSaysNothingWasChanged) {
  MakeLog(100);
  fs::copy_file(Dir / "original" / "BuildLog.dvl7", Table());
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    // The child starts with both blocked (a spawned program inherits the mask), so the signal
    // sent at once waits for its loop however early it comes.
    sigset_t both, old;
    sigemptyset(&both);
    sigaddset(&both, SIGINT);
    sigaddset(&both, SIGTERM);
    ASSERT_EQ(0, pthread_sigmask(SIG_BLOCK, &both, &old));
    TChild run(Exe, {"--headless", Table().string()}, Dir);
    ASSERT_EQ(0, pthread_sigmask(SIG_SETMASK, &old, nullptr));
    run.Signal(signal);
    EXPECT_EQ(WaitFor(run), 1) << run.StdErr();
    EXPECT_EQ(SplitLines(run.StdOut()),
              std::vector<std::string>{"ERROR Recover operation was cancelled before it started: nothing has been changed."});
    EXPECT_EQ(Tables(Dir / "tables"), std::set<std::string>{"BuildLog"});
  }
}

// Files that are no table to recover: exit code 2, one ERROR line, nothing made or renamed.
TEST_F(RecoverRun, NoTableFileToRecover) {
  std::ofstream(Dir / "tables" / "BuildLog.DVL7") << "x";
  struct TCase {
    std::vector<std::string> Args;
    std::string Out, Err;
  } cases[] = {
      {{"--headless", (Dir / "tables" / "Missing.dvl7").string()},
       "ERROR Table \"" + (Dir / "tables" / "Missing.dvl7").string() + "\" can not be found.\n", ""},
      {{"--headless", (Dir / "tables" / "BuildLog.DVL7").string()},
       "ERROR Table \"" + (Dir / "tables" / "BuildLog.DVL7").string() +
           "\" can not be recovered: its extension is not \"dvl7\".\n",
       ""},
      {{"--headless"}, "", "zfRecover: No file to recover was given, and a run without a window cannot ask for one\n"},
      {{}, "", "zfRecover: No file to recover was given, and a run without a window cannot ask for one\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Out + c.Err);
    TChild run(Exe, c.Args, Dir);
    EXPECT_EQ(WaitFor(run), 2);
    EXPECT_EQ(run.StdOut(), c.Out);
    EXPECT_EQ(run.StdErr(), c.Err);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(Dir / "tables"), fs::directory_iterator()), 1);
}

// Under an address-space limit of 2 GiB (as containers and batch systems set) the tool still
// recovers a table: its memory manager reserves the range the limit leaves room for. Only where
// the engine's manager is the process allocator: the sanitizers' shadow memory cannot live under
// such a limit.
TEST_F(RecoverRun, RecoversUnderATwoGigabyteAddressSpaceLimit) {
  if (!ZF_MM_ENGINE) GTEST_SKIP() << "the engine memory manager is not the process allocator in this build";
  MakeLog(3000);
  fs::copy_file(Dir / "original" / "BuildLog.dvl7", Table());
  TChild run("/bin/sh", {"-c", "ulimit -v 2097152 && exec \"$0\" \"$@\"", Exe.string(), "--headless", Table().string()},
             Dir);
  EXPECT_EQ(WaitFor(run), 0) << run.StdErr();
  const std::vector<std::string> lines = Stamped(run.StdOut());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "INFO  Out of 3000 records 3000 have been recovered and 0 have failed."),
            lines.end())
      << run.StdOut();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "INFO  Recover operation has been finalized successfully. Terminating..."),
            lines.end());
  EXPECT_EQ(Rows("BuildLog"), 3000);
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
namespace {

// The records of aTable holding the word aWord, found through the full-text index's keys in
// "Tokens" and by reading every record's text; both as sets of IDs.
std::pair<std::set<int32_t>, std::set<int32_t>> ByToken(const fs::path& aDir, const std::string& aTable,
                                                         const UnicodeString& aWord) {
  TzfRecoverComponents engine;
  engine.Start();
  engine.OpenDatabase(rtl::u16(aDir.string()));
  std::pair<std::set<int32_t>, std::set<int32_t>> r;
  TzfTable table;
  table.SetDatabase(&engine.Database());
  table.SetTableName(rtl::u16(aTable));
  table.SetIndexName(u"Tokens");
  table.Open();
  table.SetRange({rtl::Variant(aWord)}, {rtl::Variant(aWord)});
  for (table.First(); !table.Eof(); table.Next()) r.first.insert(table.FieldByName(u"ID").GetAsInteger());
  table.CancelRange();
  for (table.First(); !table.Eof(); table.Next()) {
    const UnicodeString text = u" " + table.FieldByName(u"Text").GetAsString() + u" ";
    if (text.find(u" " + aWord + u" ") != UnicodeString::npos) r.second.insert(table.FieldByName(u"ID").GetAsInteger());
  }
  table.Close();
  return r;
}

// A log table with a full-text index on its text: searched by token, damaged, recovered; the
// recovered table's full-text index is built anew from the records that came back.
TEST_F(RecoverRun, FulltextIndexIsRebuiltInTheRecoveredTable) {
  const std::map<uint32_t, uint64_t> perBlock = MakeLog(3000, {"--fulltext"});
  {
    const auto [keys, texts] = ByToken(Dir / "original", "BuildLog", u"compile");
    EXPECT_FALSE(keys.empty());
    EXPECT_EQ(keys, texts);
  }
  uint64_t bound = 0;
  ASSERT_NO_FATAL_FAILURE(bound = DamageTwoRecordBlocks(perBlock));
  TChild run(Exe, {"--headless", Table().string()}, Dir);
  EXPECT_EQ(WaitFor(run), 0) << run.StdErr();
  const std::vector<std::string> out = Stamped(run.StdOut());
  ASSERT_GE(out.size(), 7u) << run.StdOut();
  EXPECT_EQ(out.back(), "INFO  Recover operation has been finalized successfully. Terminating...");
  EXPECT_LE(uint64_t(Rows("BuildLog")), bound);
  for (const UnicodeString word : {u"compile", u"agent", u"warning"}) {
    const auto [keys, texts] = ByToken(Dir / "tables", "BuildLog", word);
    EXPECT_FALSE(keys.empty()) << rtl::u8(word);
    EXPECT_EQ(keys, texts) << rtl::u8(word);
  }
}

}  // namespace
}  // namespace zf::test
