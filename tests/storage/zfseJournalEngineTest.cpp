// The fail-safe journal on real files: what a commit writes into it, commits interrupted at the
// journal's crash points and repaired by the next check, and damaged journals that the check
// refuses without touching a table file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "storage/zfseJournalEngine.h"
#include "storage/zfsrEncryptionEngineBase.h"
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
        DamageCase{"ShortHeader", [](std::vector<uint8_t>& j) { j.resize(6); }, u"2 7.z$2 ZofrinDB: \"/"},
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

// A commit whose write-out fails after its journal was finalized keeps the journal, so that the
// next check can repair the files the write-out left half written.
class JournalWriteOutTest : public TEngineTest {};

TEST_F(JournalWriteOutTest, AFailedWriteOutKeepsTheJournal) {
  TempDir dir;
  const UnicodeString name = dir.File("t.dvl7");
  TMemFile* f = NewTable(name.c_str());
  const std::vector<TzfBlockNumber> n = [&] {
    TTestTrans t(BM.get());
    auto r = Allocate(f, &t, 2, 0x10);
    t.Commit();
    return r;
  }();
  TTestTrans t(BM.get());
  t.btJournal = Tzf1xCommitJournalEngine::ClassInfo().Create(dir.File("5.z$2")).release();
  Poke(f, &t, n[0], 0x20);
  Poke(f, &t, n[1], 0x21);
  f->FailWritesAfter = 1;
  EXPECT_THROW(t.Commit(), EzfBaseException);
  ASSERT_TRUE(std::filesystem::exists(dir.FilePath("5.z$2")));
  EXPECT_EQ(zfGetLE32(ReadFileBytes(dir.FilePath("5.z$2")).data() + 4), 0xFFFFFFFFu);
}

TEST_F(JournalTest, APendingJournalIsNeverOverwritten) {
  CrashAt(TzfJournalCrashPoint::jcpFinalized);
  ASSERT_EQ(FailSafeCommit(Tzf1xCommitJournalEngine::ClassInfo(), 0x20), zfErrWriteErr);
  zfJournalCrashHook = {};
  const std::vector<uint8_t> pending = ReadFileBytes(JournalPath);
  EXPECT_EQ(FailSafeCommit(Tzf1xCommitJournalEngine::ClassInfo(), 0x30), zfErrTableExists);
  EXPECT_EQ(ReadFileBytes(JournalPath), pending);
  EXPECT_EQ(Disk(), (std::vector<uint8_t>{0x10, 0x11}));
}

// A cipher for the journal of an encrypted table: every byte but a 16-byte trailer plus the block's
// randomizer, the trailer 0xA5.
class TAddEngine : public TzfBaseEncryptionEngine {
 public:
  static const TzfEncryptionEngineClass& ClassInfo() { return zfEncryptionEngineClassOf<TAddEngine>(u"TAddEngine"); }
  const TzfEncryptionEngineClass& ClassType() const override { return ClassInfo(); }
  static uint32_t beeReservedSpacePerBlock(TzfBlockSize) { return 16; }
  static uint32_t CreateInstance(const rtl::UnicodeString&, const TzfUnicodeStrings&, PzfByteArray, bool, bool,
                                 std::unique_ptr<TzfBaseEncryptionEngine>& aEngine) {
    return zfEncryptionCreateGuarded([] { return new TAddEngine(); }, aEngine);
  }
  void CodeBlock(const uint8_t* aIn, uint8_t* aOut, uint32_t aLen, uint32_t aRandomizer) override {
    for (uint32_t i = 0; i < aLen - 16; ++i) aOut[i] = uint8_t(aIn[i] + uint8_t(aRandomizer >> 12));
    std::memset(aOut + aLen - 16, 0xA5, 16);
  }
  void DecodeBlock(uint8_t* aBlock, uint32_t aLen, uint32_t aRandomizer) override {
    for (uint32_t i = 0; i < aLen - 16; ++i) aBlock[i] = uint8_t(aBlock[i] - uint8_t(aRandomizer >> 12));
  }
};

TEST_F(JournalWriteOutTest, ImagesOfAnEncryptedTableAreStoredAsTheFileStoresThem) {
  TzfBaseEncryptionEngine::Register(TAddEngine::ClassInfo(), u"TestAdd", false, 0);
  TempDir dir;
  const UnicodeString name = dir.File("e.dvl7");
  TzfBlockNumber n = 0;
  auto open = [&](bool aCreate) {
    std::unique_ptr<TzfBaseFile> f = TzfBaseFile::Alloc(true, name, BM.get());
    f->fiZofrinVersion = 30900;
    f->fiMaxBlocks = 1u << 20;
    f->fiEncryptionEngineName = u"TestAdd";
    f->OpenFile(omReadWrite, smExclusive, false, aCreate);
    if (!aCreate) {
      TzfReleaseMethod rm;
      PzfBlock b0 = nullptr;
      bool ro = false;
      EXPECT_EQ(BM->AddFile(f.get(), nullptr, {}, false, rm, b0, ro), 0u);
      rm(b0);
    }
    return f;
  };
  {
    std::unique_ptr<TzfBaseFile> f = open(true);
    {
      TTestTrans t(BM.get());
      ASSERT_EQ(f->AddHeader(&t, {}, zfHeaderSignature2), 0u);
      TzfBlockAccess access(f.get(), nullptr, u"e", 0);
      std::unique_ptr<TzfBaseFileHeaderAccess> ha(access.HeaderAccess(&t, true));
      TzfReleaseMethod rm;
      PzfBlock p = ha->GetNewBlock(&t, 1, rm);
      std::memcpy(p, "TEST", 4);
      std::memset(p + 16, 0x10, f->fiBlockSizeBytes - 16);
      n = zfGetThisBlock(p);
      rm(p);
      ha.reset();
      t.Commit();
    }
    zfJournalCrashHook = [](TzfJournalCrashPoint p, int32_t) { return p == TzfJournalCrashPoint::jcpFinalized; };
    TTestTrans t(BM.get());
    t.btJournal = Tzf1xCommitJournalEngine::ClassInfo().Create(dir.File("9.z$2")).release();
    TzfReleaseMethod rm;
    PzfBlock p = BM->GetBlock(f.get(), &t, n, true, rm);
    std::memset(p + 16, 0x20, f->fiBlockSizeBytes - 16);
    rm(p);
    EXPECT_THROW(t.Commit(), Ezf1xJournalEngineException);
    t.Rollback();
    zfJournalCrashHook = {};
    BM->RemoveFile(f.get());
    f->CloseFile();
  }
  const std::vector<uint8_t> j = ReadFileBytes(dir.FilePath("9.z$2"));
  ASSERT_EQ(j.size(), 12u + 268 + 4096);
  EXPECT_EQ(j[12 + 268 + 16], uint8_t(0x20 + uint8_t((n * 4096) >> 12))) << "the image is enciphered";
  EXPECT_EQ(j[12 + 268 + 4095], 0xA5);
  Tzf1xJournalEngine::Check(Tzf1xCommitJournalEngine::ClassInfo(), u"A", rtl::u16(dir.Path.string()));
  EXPECT_FALSE(std::filesystem::exists(dir.FilePath("9.z$2")));
  std::unique_ptr<TzfBaseFile> g = open(false);
  TzfBlockAccess access(g.get(), nullptr, u"e", 0);
  TzfReleaseMethod rm;
  PzfBlock p = access.GetBlock(nullptr, n, 1, false, rm);
  EXPECT_EQ(p[16], 0x20) << "the replayed image reads back deciphered";
  rm(p);
  BM->RemoveFile(g.get());
  g->CloseFile();
  TzfBaseEncryptionEngine::Unregister(TAddEngine::ClassInfo());
}

TEST_F(JournalTest, CheckOfAMissingFolderAndTheStartUpSetting) {
  EXPECT_EQ(RaisedCode([] { Tzf1xJournalEngine::Check(Tzf1xRollbackJournalEngine::ClassInfo(), u"A", u"/no/such/folder"); }),
            zfErrDirNotExists);
  EXPECT_EQ(zfJournalEngineClassSetting, &Tzf1xRollbackJournalEngine::ClassInfo());
  EXPECT_EQ(zfFindJournalEngineClass(u"TZF1XCOMMITJOURNALENGINE"), &Tzf1xCommitJournalEngine::ClassInfo());
}

}  // namespace
}  // namespace zf::test
