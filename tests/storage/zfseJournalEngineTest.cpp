// The fail-safe journal on real files: what a commit writes into it, commits interrupted at the
// journal's crash points and repaired by the next check, and damaged journals that the check
// refuses without touching a table file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "storage/zfseJournalEngine.h"
#include "storage/zfsrFileHandling.h"
#include "zfsrEngineTestSupport.h"

namespace zf::test {
namespace {

std::vector<uint8_t> ReadFileBytes(const std::string& aPath) {
  std::ifstream in(aPath, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
void WriteFileBytes(const std::string& aPath, const std::vector<uint8_t>& aBytes) {
  std::ofstream out(aPath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(aBytes.data()), std::streamsize(aBytes.size()));
}

class JournalTest : public TEngineTest {
 protected:
  void SetUp() override {
    TEngineTest::SetUp();
    TablePath = Dir.FilePath("t.dvl7");
    JournalPath = Dir.FilePath("7.z$2");
    F = TzfBaseFile::Alloc(true, rtl::u16(TablePath), BM.get());
    F->fiZofrinVersion = 30900;
    F->fiMaxBlocks = 1u << 20;
    F->OpenFile(omReadWrite, smExclusive, false, true);
    TTestTrans t(BM.get());
    ASSERT_EQ(F->AddHeader(&t, {}, zfHeaderSignature2), 0u);
    TzfBlockAccess access(F.get(), nullptr, u"t", 0);
    std::unique_ptr<TzfBaseFileHeaderAccess> ha(access.HeaderAccess(&t, true));
    for (uint8_t fill : {0x10, 0x11}) {
      TzfReleaseMethod rm;
      PzfBlock p = ha->GetNewBlock(&t, 1, rm);
      std::memcpy(p, "TEST", 4);
      std::memset(p + 16, fill, F->fiBlockSizeBytes - 16);
      Blocks.push_back(zfGetThisBlock(p));
      rm(p);
    }
    ha.reset();
    t.Commit();
  }
  void TearDown() override {
    zfJournalCrashHook = {};
    zfJournalCheckCallback = {};
    CloseTable();
    TEngineTest::TearDown();
  }
  void CloseTable() {
    if (!F) return;
    BM->RemoveFile(F.get());
    F->CloseFile();
    F.reset();
  }

  // A fail-safe commit that sets both blocks to aFill through a journal of aClass; the code it
  // raised (0: none). A commit stopped at a crash point is rolled back as the dying process's
  // memory would be lost, leaving the journal on disk.
  uint32_t FailSafeCommit(const TzfJournalEngineClass& aClass, uint8_t aFill) {
    TTestTrans t(BM.get());
    t.btJournal = aClass.Create(rtl::u16(JournalPath)).release();
    for (size_t i = 0; i < Blocks.size(); ++i) {
      TzfReleaseMethod rm;
      PzfBlock p = BM->GetBlock(F.get(), &t, Blocks[i], true, rm);
      std::memset(p + 16, aFill + int(i), F->fiBlockSizeBytes - 16);
      rm(p);
    }
    try {
      t.Commit();
    } catch (const EzfBaseException& e) {
      t.Rollback();
      return e.ErrorCode();
    }
    return 0;
  }
  void CrashAt(TzfJournalCrashPoint aPoint, int32_t aRecords = 0) {
    zfJournalCrashHook = [=](TzfJournalCrashPoint p, int32_t n) { return p == aPoint && n >= aRecords; };
  }
  // The first data byte of each block on disk.
  std::vector<uint8_t> Disk() {
    const std::vector<uint8_t> file = ReadFileBytes(TablePath);
    std::vector<uint8_t> out;
    for (TzfBlockNumber n : Blocks) out.push_back(file.size() > n * 4096 + 16 ? file[n * 4096 + 16] : 0);
    return out;
  }
  bool JournalExists() { return std::filesystem::exists(JournalPath); }
  // Runs the check of the folder, collecting what the callback hears.
  void Check(const TzfJournalEngineClass& aClass) {
    zfJournalCheckCallback = [this](TzfJournalCheckEvent e, const UnicodeString&, const UnicodeString&,
                                    const UnicodeString& aError, const UnicodeString& aFile) {
      Heard.push_back(rtl::IntToStr(int(e)) + u" " + rtl::ExtractFileName(aFile) + u" " + aError);
      return e == jceChooseImages;
    };
    Tzf1xJournalEngine::Check(aClass, u"Alias", rtl::u16(Dir.Path.string()));
  }

  TempDir Dir;
  std::string TablePath;
  std::string JournalPath;
  std::unique_ptr<TzfBaseFile> F;
  std::vector<TzfBlockNumber> Blocks;
  std::vector<UnicodeString> Heard;
};

TEST_F(JournalTest, RollbackJournalAsWrittenCellByCell) {
  const std::vector<uint8_t> before = ReadFileBytes(TablePath);
  CrashAt(TzfJournalCrashPoint::jcpRecord, 2);
  EXPECT_EQ(FailSafeCommit(Tzf1xRollbackJournalEngine::ClassInfo(), 0x20), zfErrWriteErr);
  std::vector<uint8_t> j = ReadFileBytes(JournalPath);
  ASSERT_EQ(j.size(), 12u + 2 * (268 + 4096));
  const uint8_t header[] = {'Z', 'F', 'J', 'H', 0, 0, 0, 0, 2, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(j.begin(), j.begin() + 12), std::vector<uint8_t>(header, header + 12))
      << "incomplete until finalized";
  for (size_t r = 0; r < 2; ++r) {
    SCOPED_TRACE(r);
    const uint8_t* rec = j.data() + 12 + r * (268 + 4096);
    std::vector<uint8_t> want(268, 0);
    std::memcpy(want.data(), "ZFJR", 4);
    want[4] = uint8_t(Blocks[r]);
    want[8] = 0;     // 4 KB blocks
    want[9] = 0xFF;  // a before-image
    want[12] = 6;
    std::memcpy(want.data() + 13, "t.dvl7", 6);
    EXPECT_EQ(std::vector<uint8_t>(rec, rec + 268), want);
    EXPECT_EQ(std::vector<uint8_t>(rec + 268, rec + 268 + 4096),
              std::vector<uint8_t>(before.begin() + Blocks[r] * 4096, before.begin() + (Blocks[r] + 1) * 4096))
        << "the committed content as the file holds it";
  }
  EXPECT_EQ(Disk(), (std::vector<uint8_t>{0x10, 0x11})) << "no table file was written";
  std::filesystem::remove(JournalPath);
  // Finalized, the flag is set.
  CrashAt(TzfJournalCrashPoint::jcpFinalized);
  EXPECT_EQ(FailSafeCommit(Tzf1xRollbackJournalEngine::ClassInfo(), 0x20), zfErrWriteErr);
  j = ReadFileBytes(JournalPath);
  EXPECT_EQ(zfGetLE32(j.data() + 4), 0xFFFFFFFFu);
}

TEST_F(JournalTest, ACompleteCommitRemovesItsJournal) {
  EXPECT_EQ(FailSafeCommit(Tzf1xCommitJournalEngine::ClassInfo(), 0x20), 0u);
  EXPECT_EQ(Disk(), (std::vector<uint8_t>{0x20, 0x21}));
  EXPECT_FALSE(JournalExists());
}

struct CrashCase {
  const char* Name;
  const TzfJournalEngineClass& (*Writer)();
  const TzfJournalEngineClass& (*Checker)();
  TzfJournalCrashPoint Point;
  int32_t Records;
  // The write-out was torn: the first block holds garbage on disk when the check runs.
  bool Torn;
  std::vector<uint8_t> After;
};

class JournalCrashTest : public JournalTest, public ::testing::WithParamInterface<CrashCase> {};

TEST_P(JournalCrashTest, TheNextCheckRepairsTheTables) {
  const CrashCase& c = GetParam();
  CrashAt(c.Point, c.Records);
  const uint32_t code = FailSafeCommit(c.Writer(), 0x20);
  if (c.Point != TzfJournalCrashPoint::jcpBeforeDelete) {
    EXPECT_EQ(code, zfErrWriteErr);
    EXPECT_EQ(Disk(), (std::vector<uint8_t>{0x10, 0x11})) << "the tables are written only after the journal";
  }
  ASSERT_TRUE(JournalExists());
  CloseTable();  // the process has gone
  zfJournalCrashHook = {};
  if (c.Torn) {
    std::vector<uint8_t> file = ReadFileBytes(TablePath);
    std::fill(file.begin() + Blocks[0] * 4096 + 16, file.begin() + Blocks[0] * 4096 + 2000, 0xEE);
    WriteFileBytes(TablePath, file);
  }
  Check(c.Checker());
  EXPECT_EQ(Disk(), c.After);
  EXPECT_FALSE(JournalExists());
}

const TzfJournalEngineClass& Both() { return Tzf1xJournalEngine::ClassInfo(); }
const TzfJournalEngineClass& Commit() { return Tzf1xCommitJournalEngine::ClassInfo(); }
const TzfJournalEngineClass& Rollback() { return Tzf1xRollbackJournalEngine::ClassInfo(); }

INSTANTIATE_TEST_SUITE_P(
    CrashPoints, JournalCrashTest,
    ::testing::Values(
        CrashCase{"CommitJournalWritten", &Commit, &Rollback, TzfJournalCrashPoint::jcpFinalized, 0, false, {0x20, 0x21}},
        CrashCase{"CommitJournalTornWriteOut", &Commit, &Rollback, TzfJournalCrashPoint::jcpFinalized, 0, true,
                  {0x20, 0x21}},
        CrashCase{"RollbackJournalTornWriteOut", &Rollback, &Commit, TzfJournalCrashPoint::jcpFinalized, 0, true,
                  {0x10, 0x11}},
        CrashCase{"RollbackJournalAfterTheWriteOut", &Rollback, &Rollback, TzfJournalCrashPoint::jcpBeforeDelete, 0,
                  false, {0x10, 0x11}},
        CrashCase{"BothImagesUnderCommitClass", &Both, &Commit, TzfJournalCrashPoint::jcpFinalized, 0, true, {0x20, 0x21}},
        CrashCase{"BothImagesUnderRollbackClass", &Both, &Rollback, TzfJournalCrashPoint::jcpFinalized, 0, true,
                  {0x10, 0x11}},
        CrashCase{"BothImagesCallbackChoosesAfterImages", &Both, &Both, TzfJournalCrashPoint::jcpFinalized, 0, true,
                  {0x20, 0x21}},
        CrashCase{"CommitJournalIncomplete", &Commit, &Commit, TzfJournalCrashPoint::jcpRecord, 1, false, {0x10, 0x11}},
        CrashCase{"RollbackJournalOnlyPrepared", &Rollback, &Rollback, TzfJournalCrashPoint::jcpPrepared, 0, false,
                  {0x10, 0x11}}),
    [](const auto& aInfo) { return std::string(aInfo.param.Name); });

TEST_F(JournalTest, NewBlocksKeepTheReplayInStep) {
  // A commit that allocates a block: its before-image record has no content and is skipped.
  CrashAt(TzfJournalCrashPoint::jcpFinalized);
  {
    TTestTrans t(BM.get());
    t.btJournal = Tzf1xJournalEngine::ClassInfo().Create(rtl::u16(JournalPath)).release();
    TzfBlockAccess access(F.get(), nullptr, u"t", 0);
    std::unique_ptr<TzfBaseFileHeaderAccess> ha(access.HeaderAccess(&t, true));
    TzfReleaseMethod rm;
    PzfBlock p = ha->GetNewBlock(&t, 1, rm);
    std::memcpy(p, "TEST", 4);
    std::memset(p + 16, 0x55, F->fiBlockSizeBytes - 16);
    Blocks.push_back(zfGetThisBlock(p));
    rm(p);
    ha.reset();
    PzfBlock q = BM->GetBlock(F.get(), &t, Blocks[1], true, rm);
    std::memset(q + 16, 0x66, F->fiBlockSizeBytes - 16);
    rm(q);
    EXPECT_THROW(t.Commit(), Ezf1xJournalEngineException);
    t.Rollback();
  }
  CloseTable();
  zfJournalCrashHook = {};
  const std::vector<uint8_t> j = ReadFileBytes(JournalPath);
  // Block 0, the changed block and the new block, each with both images.
  ASSERT_EQ(j.size(), 12u + 6 * (268 + 4096));
  int noImage = 0;
  for (size_t r = 0; r < 6; ++r) noImage += j[12 + r * (268 + 4096) + 10];
  EXPECT_EQ(noImage, 1);
  Check(Tzf1xCommitJournalEngine::ClassInfo());
  EXPECT_EQ(Disk(), (std::vector<uint8_t>{0x10, 0x66, 0x55}));
  EXPECT_FALSE(JournalExists());
}

// ---- damaged journals ----

struct DamageCase {
  const char* Name;
  std::function<void(std::vector<uint8_t>&)> Damage;
  const char16_t* Heard;  // the start of what the callback hears
};

class JournalDamageTest : public JournalTest, public ::testing::WithParamInterface<DamageCase> {};

constexpr size_t kRecord = 268 + 4096;

TEST_P(JournalDamageTest, IsRefusedLeftInPlaceAndTouchesNoTable) {
  CrashAt(TzfJournalCrashPoint::jcpFinalized);
  ASSERT_EQ(FailSafeCommit(Tzf1xCommitJournalEngine::ClassInfo(), 0x20), zfErrWriteErr);
  CloseTable();
  zfJournalCrashHook = {};
  std::vector<uint8_t> j = ReadFileBytes(JournalPath);
  GetParam().Damage(j);
  WriteFileBytes(JournalPath, j);
  // Another journal of the folder is still processed.
  const uint8_t incomplete[] = {'Z', 'F', 'J', 'H', 0, 0, 0, 0, 2, 0, 0, 0};
  WriteFileBytes(Dir.FilePath("3.z$2"), std::vector<uint8_t>(incomplete, incomplete + 12));
  const std::vector<uint8_t> table = ReadFileBytes(TablePath);
  Check(Tzf1xCommitJournalEngine::ClassInfo());
  EXPECT_EQ(ReadFileBytes(TablePath), table) << "not a byte of a table file changed";
  EXPECT_TRUE(JournalExists());
  EXPECT_EQ(ReadFileBytes(JournalPath), j);
  EXPECT_FALSE(std::filesystem::exists(Dir.FilePath("3.z$2")));
  ASSERT_EQ(Heard.size(), 2u);
  EXPECT_EQ(Heard[0], u"1 3.z$2 ");
  EXPECT_EQ(Heard[1].substr(0, std::char_traits<char16_t>::length(GetParam().Heard)), GetParam().Heard)
      << rtl::u8(Heard[1]);
}

INSTANTIATE_TEST_SUITE_P(
    Journals, JournalDamageTest,
    ::testing::Values(
        DamageCase{"NotAJournal", [](std::vector<uint8_t>& j) { std::memcpy(j.data(), "XXXX", 4); },
                   u"2 7.z$2 ZofrinDB: \"/"},
        DamageCase{"UnknownCompleteFlag", [](std::vector<uint8_t>& j) { j[4] = 1; }, u"2 7.z$2 ZofrinDB: \"/"},
        DamageCase{"TruncatedInARecordHeader", [](std::vector<uint8_t>& j) { j.resize(12 + kRecord + 100); },
                   u"3 7.z$2 ZofrinDB: INTERNAL: Could not read exact number of bytes from file"},
        DamageCase{"TruncatedInAnImage", [](std::vector<uint8_t>& j) { j.resize(12 + kRecord + 268 + 10); },
                   u"3 7.z$2 ZofrinDB: INTERNAL: Could not read exact number of bytes from file"},
        DamageCase{"RecordSignature", [](std::vector<uint8_t>& j) { j[12 + kRecord] = 'X'; },
                   u"3 7.z$2 ZofrinDB: The journal"},
        DamageCase{"SizeCode", [](std::vector<uint8_t>& j) { j[12 + kRecord + 8] = 9; }, u"3 7.z$2 ZofrinDB: The journal"},
        DamageCase{"AfterImageWithoutContent", [](std::vector<uint8_t>& j) { j[12 + kRecord + 10] = 1; },
                   u"3 7.z$2 ZofrinDB: The journal"},
        DamageCase{"TargetInAnotherFolder",
                   [](std::vector<uint8_t>& j) {
                     j[12 + kRecord + 12] = 9;
                     std::memcpy(&j[12 + kRecord + 13], "../t.dvl7", 9);
                   },
                   u"3 7.z$2 ZofrinDB: The journal"},
        DamageCase{"TargetMissing", [](std::vector<uint8_t>& j) { j[12 + kRecord + 13] = 'u'; },
                   u"3 7.z$2 ZofrinDB: The journal"},
        DamageCase{"BlockFarBeyondTheFile", [](std::vector<uint8_t>& j) { zfPutLE32(&j[12 + kRecord + 4], 1000000); },
                   u"3 7.z$2 ZofrinDB: The journal"}),
    [](const auto& aInfo) { return std::string(aInfo.param.Name); });

TEST_F(JournalTest, CheckOfAMissingFolderAndTheStartUpSetting) {
  EXPECT_EQ(RaisedCode([] { Tzf1xJournalEngine::Check(Tzf1xRollbackJournalEngine::ClassInfo(), u"A", u"/no/such/folder"); }),
            zfErrDirNotExists);
  EXPECT_EQ(zfJournalEngineClassSetting, &Tzf1xRollbackJournalEngine::ClassInfo());
  EXPECT_EQ(zfFindJournalEngineClass(u"TZF1XCOMMITJOURNALENGINE"), &Tzf1xCommitJournalEngine::ClassInfo());
}

}  // namespace
}  // namespace zf::test
