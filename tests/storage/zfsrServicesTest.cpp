// Thread timeouts and cancellation, the null temporary store, lock-failure reasons and the
// encryption engine registries (with a small test cipher driving a table file's encrypted paths).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <thread>

#include "foundation/zfllErrors.h"
#include "foundation/zfllSync.h"
#include "storage/zfseHeaderAccess.h"
#include "storage/zfsrTempStorage.h"
#include "storage/zfsrTimeoutHandling.h"
#include "zfsrTestUtil.h"

namespace zf::test {
namespace {

// Runs f on a fresh thread, so the thread's timeout state starts from zero.
void OnFreshThread(const std::function<void()>& f) {
  std::exception_ptr failure;
  std::thread t([&] {
    try {
      f();
    } catch (...) {
      failure = std::current_exception();
    }
  });
  t.join();
  if (failure) std::rethrow_exception(failure);
}

TEST(TimeoutTest, NoDeadlineNeverExpires) {
  OnFreshThread([] {
    zfSetTimeout(0);
    EXPECT_EQ(zfDeadlineNone, zfTimeoutDeadline());
    EXPECT_EQ(0, zfRemainingTimeout());
    EXPECT_NO_THROW(zfCheckTimeout());
  });
}

TEST(TimeoutTest, NeverSetDeadlineFailsTheFirstCheck) {
  OnFreshThread([] {
    EXPECT_EQ(zfDeadlineNeverSet, zfTimeoutDeadline());
    EXPECT_EQ(0, zfRemainingTimeout());
    EXPECT_EQ(zfErrTimeout, RaisedCode([] { zfCheckTimeout(); }));
  });
}

TEST(TimeoutTest, FewerThanTenMillisecondsLeftIsATimeout) {
  OnFreshThread([] {
    zfSetTimeout(5);
    const rtl::UnicodeString outcome = StorageOutcome([] { zfCheckTimeout(); });
    EXPECT_EQ(0u, outcome.find(u"#15461:"));
    EXPECT_NE(rtl::UnicodeString::npos, outcome.find(u"allotted time"));
    zfSetTimeout(60000);
    EXPECT_NO_THROW(zfCheckTimeout());
    const int32_t left = zfRemainingTimeout();
    EXPECT_GT(left, 59000);
    EXPECT_LE(left, 60000);
    // The deadline lives on the 64-bit clock: far beyond any 32-bit tick.
    const int64_t ahead = zfTimeoutDeadline() - static_cast<int64_t>(zf::os::GetTickCount64());
    EXPECT_GT(ahead, 59000);
    EXPECT_LE(ahead, 60000);
  });
}

TEST(TimeoutTest, SuspensionKeepsTheDeadlineUnlessForced) {
  OnFreshThread([] {
    zfSetTimeout(0);
    zfSuspendTimeout();
    zfSetTimeout(1000);
    EXPECT_EQ(zfDeadlineNone, zfTimeoutDeadline());
    zfSetTimeout(1000, true);
    EXPECT_NE(zfDeadlineNone, zfTimeoutDeadline());
    zfResumeTimeout();
    zfSetTimeout(0);
    EXPECT_EQ(zfDeadlineNone, zfTimeoutDeadline());
    EXPECT_THROW(zfResumeTimeout(), rtl::EAssertionFailed);
  });
}

TEST(TimeoutTest, CancelFlagStopsTheNextCheck) {
  OnFreshThread([] {
    zfSetTimeout(0);
    std::atomic<bool>* flag = zfGetCancelFlagAddress();
    std::thread other([flag] { flag->store(true); });  // set from another thread, as a session lock does
    other.join();
    EXPECT_EQ(1, zfRemainingTimeout());
    const rtl::UnicodeString outcome = StorageOutcome([] { zfCheckTimeout(); });
    EXPECT_EQ(0u, outcome.find(u"#15461:"));
    EXPECT_NE(rtl::UnicodeString::npos, outcome.find(u"Processing cancelled"));
  });
}

TEST(TimeoutTest, CallbackRunsAtMostOncePerSecond) {
  OnFreshThread([] {
    int calls = 0;
    zfSetThreadCallback([&calls] { ++calls; });
    zfSetTimeout(0);
    for (int i = 0; i < 10000; ++i) zfCheckTimeout();
    zfSetThreadCallback(nullptr);
    EXPECT_EQ(1, calls);
  });
}

// ---- temporary store and lock failure reasons ----

TEST(TempStorageTest, NullStoreHasNoRoom) {
  TzfNullTempStorage store(u"/tmp");
  EXPECT_EQ(0, store.StorageSize());
  EXPECT_EQ(0, store.StorageInUse());
  for (int s = 0; s < kzfBlockSizeCount; ++s) EXPECT_FALSE(store.HasSpaceFor(static_cast<TzfBlockSizeAll>(s)));
  uint8_t block[4096] = {};
  struct Op {
    const char16_t* Name;
    std::function<void()> Call;
  };
  const Op ops[] = {
      {u"WriteBlock", [&] { store.WriteBlock(block, TzfBlockSizeAll::zfbs4k); }},
      {u"ReadBlock", [&] { store.ReadBlock(1, TzfBlockSizeAll::zfbs4k, block); }},
      {u"PeekBlock", [&] { store.PeekBlock(1, TzfBlockSizeAll::zfbs4M, block); }},
      {u"ReleaseBlock", [&] { store.ReleaseBlock(1, TzfBlockSizeAll::zfbs4k); }},
  };
  for (const Op& op : ops) {
    try {
      op.Call();
      ADD_FAILURE() << "no exception";
    } catch (const EzfServerException& e) {
      EXPECT_EQ(zfErrNotSupported, e.ErrorCode());
      EXPECT_NE(rtl::UnicodeString::npos,
                e.Message().find(rtl::UnicodeString(op.Name) + u" is not supported by TzfNullTempStorage"));
    }
  }
  EXPECT_EQ(u"TzfNullTempStorage", rtl::UnicodeString(TzfNullTempStorage::ClassInfo().Create(u"")->ClassName()));
}

TEST(TempStorageTest, LockFailureReasonClears) {
  TzfLockFailureReason reason;
  reason.Add(u"Table locked by session 2");
  reason.SameSession = true;
  reason.Clear();
  EXPECT_EQ(0, reason.Count());
  EXPECT_FALSE(reason.SameSession);
}

// ---- encryption engines ----

// A test cipher: XOR with the randomizer, a 16-byte trailer mark in every block, and a header
// checksum over the first 200 bytes of block 0 kept in block 0's trailer.
class XorEngine : public TzfBaseEncryptionEngine {
 public:
  static const TzfEncryptionEngineClass& ClassInfo() { return zfEncryptionEngineClassOf<XorEngine>(u"TXorEngine"); }
  const TzfEncryptionEngineClass& ClassType() const override { return ClassInfo(); }
  static uint32_t beeReservedSpacePerBlock(TzfBlockSize) { return 16; }
  static uint32_t beeReservedHeaderSpace() { return 32; }
  static uint32_t beeChecksumSize() { return 8; }
  static uint32_t CreateInstance(const rtl::UnicodeString&, const TzfUnicodeStrings& aPasswords, PzfByteArray, bool,
                                 bool, std::unique_ptr<TzfBaseEncryptionEngine>& aEngine) {
    if (!aPasswords.empty() && aPasswords[0] == u"wrong") return zfErrInvalidPassword;
    if (!aPasswords.empty() && aPasswords[0] == u"reader") {
      zfEncryptionCreateGuarded([] { return new XorEngine(); }, aEngine);
      return zfErrTableReadOnly;
    }
    return zfEncryptionCreateGuarded([] { return new XorEngine(); }, aEngine);
  }
  void CodeBlock(const uint8_t* aIn, uint8_t* aOut, uint32_t aLen, uint32_t aRandomizer) override {
    for (uint32_t i = 0; i < aLen - 16; ++i) aOut[i] = aIn[i] ^ static_cast<uint8_t>(aRandomizer >> 12);
    std::memset(aOut + aLen - 16, 0x5A, 16);
  }
  void DecodeBlock(uint8_t* aBlock, uint32_t aLen, uint32_t aRandomizer) override {
    for (uint32_t i = aLen - 16; i < aLen; ++i)
      if (aBlock[i] != 0x5A) throw EzfBaseEncryptionEngineException(zfErrFileCorrupt, u"Block does not decode");
    for (uint32_t i = 0; i < aLen - 16; ++i) aBlock[i] ^= static_cast<uint8_t>(aRandomizer >> 12);
  }
  static uint32_t Sum(const uint8_t* aBlock) {
    uint32_t s = 0;
    for (int i = 0; i < 200; ++i) s = s * 31 + aBlock[i];
    return s;
  }
  void UpdateHeaderChecksum(uint8_t* aBlock, uint32_t aLen) override { zfPutLE32(aBlock + aLen - 16, Sum(aBlock)); }
  void VerifyHeaderChecksum(uint8_t* aBlock, uint32_t aLen) override {
    if (zfGetLE32(aBlock + aLen - 16) != Sum(aBlock))
      throw EzfBaseEncryptionEngineException(zfErrHeaderCorrupt, u"Header checksum mismatch");
  }
};

class OtherEngine : public XorEngine {
 public:
  static const TzfEncryptionEngineClass& ClassInfo() { return zfEncryptionEngineClassOf<OtherEngine>(u"TOtherEngine"); }
  const TzfEncryptionEngineClass& ClassType() const override { return ClassInfo(); }
  static uint32_t CreateInstance(const rtl::UnicodeString&, const TzfUnicodeStrings&, PzfByteArray, bool, bool,
                                 std::unique_ptr<TzfBaseEncryptionEngine>& aEngine) {
    return zfEncryptionCreateGuarded([] { return new OtherEngine(); }, aEngine);
  }
};

class EncryptionTest : public StorageStarted {};

TEST_F(EncryptionTest, RegistriesByNameAndPriority) {
  rtl::TStringList names;
  TzfBaseEncryptionEngine::GetRegisteredEngines(names, false);
  // The started storage layer has the Blowfish/RC4 engine under "zf1xDefault"; "" comes first.
  ASSERT_EQ(2, names.Count());
  EXPECT_EQ(u"", names[0]);
  EXPECT_EQ(u"zf1xDefault", names[1]);
  EXPECT_EQ(0u, TzfBaseEncryptionEngine::ReservedHeaderSpace(u"", false));
  EXPECT_EQ(zfErrSubEngineNotSupported,
            RaisedCode([] { TzfBaseEncryptionEngine::ReservedSpacePerBlock(u"", false, TzfBlockSize::zfbs4k); }));

  TzfBaseEncryptionEngine::Register(OtherEngine::ClassInfo(), u"TestPriority", false, 0);
  TzfBaseEncryptionEngine::Register(XorEngine::ClassInfo(), u"TestPriority", false, 10);
  EXPECT_ANY_THROW(TzfBaseEncryptionEngine::Register(XorEngine::ClassInfo(), u"TESTPRIORITY", false, 10));
  std::unique_ptr<TzfBaseEncryptionEngine> engine;
  EXPECT_EQ(0u, TzfBaseEncryptionEngine::CreateEngine(u"testpriority", {}, nullptr, true, false, engine));
  ASSERT_NE(nullptr, engine);
  EXPECT_EQ(u"TXorEngine", rtl::UnicodeString(engine->ClassName()));
  EXPECT_EQ(40u, TzfBaseEncryptionEngine::ReservedHeaderSpace(u"TestPriority", false));
  // The user registry does not serve the server's files.
  EXPECT_EQ(zfErrSubEngineNotSupported, TzfBaseEncryptionEngine::CreateEngine(u"TestPriority", {}, nullptr, true, true, engine));
  EXPECT_EQ(nullptr, engine);
  TzfBaseEncryptionEngine::Unregister(XorEngine::ClassInfo());
  EXPECT_EQ(0u, TzfBaseEncryptionEngine::CreateEngine(u"TestPriority", {}, nullptr, true, false, engine));
  EXPECT_EQ(u"TOtherEngine", rtl::UnicodeString(engine->ClassName()));
  TzfBaseEncryptionEngine::GetRegisteredEngines(names, false);
  ASSERT_EQ(3, names.Count());
  EXPECT_EQ(u"TestPriority", names[1]);
  const rtl::UnicodeString change = StorageOutcome([&] { engine->ChangePassword(nullptr, u"x"); });
  EXPECT_NE(rtl::UnicodeString::npos, change.find(u"ChangePassword not supported by TOtherEngine"));
  TzfBaseEncryptionEngine::Unregister(OtherEngine::ClassInfo());
  EXPECT_EQ(nullptr, TzfBaseEncryptionEngine::FindEngineClass(u"TestPriority", false));
}

class EncryptedFileTest : public StorageStarted {
 protected:
  void SetUp() override { TzfBaseEncryptionEngine::Register(XorEngine::ClassInfo(), u"Xor", false, 0); }
  void TearDown() override { TzfBaseEncryptionEngine::Unregister(XorEngine::ClassInfo()); }

  // A 3-block encrypted table file: block 0 by the engine, blocks 1 and 2 enciphered.
  std::unique_ptr<TzfBaseFile> Make(const rtl::UnicodeString& aName) {
    CreateTableFile(aName, zfHeaderSignature2, TzfBlockSize::zfbs4k,
                    [](TzfBaseFile& f) { f.fiEncryptionEngineName = u"Xor"; });
    std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, aName, nullptr);
    file->OpenFile(omReadWrite, smExclusive, false, false);
    bool readOnly = false;
    zfRaiseIfError(file->ReadHeader({}, readOnly));
    for (uint32_t i = 1; i < 3; ++i) {
      std::vector<uint8_t> b(4096, static_cast<uint8_t>(i));
      zfSetThisBlock(b.data(), i);
      TzfByteDynArray cookie;
      file->WriteEncryptFileExactAt(int64_t(i) * 4096, 4096, b.data(), cookie);
    }
    return file;
  }
};

TEST_F(EncryptedFileTest, GeometryAndHeaderAreaOfAnEncryptedFile) {
  TempDir dir;
  std::unique_ptr<TzfBaseFile> file = Make(dir.File("e.dvl7"));
  EXPECT_EQ(4076u, file->fiBlockSizeBytes);  // 4096 - 16 - 4
  EXPECT_EQ(8u, file->fiCheckSumSize);
  EXPECT_EQ(TzfByteDynArray(8, 0), file->fiChecksum);
  std::vector<uint8_t> b0(4096);
  file->ReadFileExactAt(0, 4096, b0.data());
  EXPECT_EQ(40, zfGetLE16(b0.data() + 17));    // engine area: header space + checksum
  EXPECT_EQ(4035, zfGetLE16(b0.data() + 256));  // 4076 - 40 - 1
  EXPECT_EQ(b0.data() + 4035, file->fiHeaderAccessFactory->GetEncryptionEngineHeader(b0.data()));
  EXPECT_EQ(b0.data() + 4067, file->fiHeaderAccessFactory->GetTableChecksum(b0.data()));
  EXPECT_EQ(3, b0[40]);
  file->CloseFile();
}

TEST_F(EncryptedFileTest, PasswordOutcomes) {
  TempDir dir;
  Make(dir.File("e.dvl7"))->CloseFile();
  std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, dir.File("e.dvl7"), nullptr);
  file->OpenFile(omReadOnly, smShared, false, false);
  bool readOnly = false;
  EXPECT_EQ(zfErrInvalidPassword, file->ReadHeader({u"wrong"}, readOnly));
  EXPECT_EQ(nullptr, file->fiHeaderAccessFactory);
  EXPECT_EQ(0u, file->ReadHeader({u"reader"}, readOnly));
  EXPECT_TRUE(readOnly);
  file->CloseFile();
}

TEST_F(EncryptedFileTest, BlocksThatDoNotDecodeAreReportedAndTheWalkGoesOn) {
  TempDir dir;
  std::unique_ptr<TzfBaseFile> file = Make(dir.File("e.dvl7"));
  uint8_t junk[16] = {};
  file->WriteFileExactAt(4096 + 4096 - 16, 16, junk);  // block 1's trailer
  std::vector<std::pair<TzfBlockNumber, uint32_t>> seen;
  std::vector<uint8_t> fills;
  auto it = [&](void*, TzfBlockNumber n, PzfBlock b, const TzfBlockReadFailure* f) {
    seen.emplace_back(n, f ? f->ErrorCode : 0);
    fills.push_back(b ? b[100] : 0xFF);
    return birContinue;
  };
  file->IterateBlocks(nullptr, it);
  const std::vector<std::pair<TzfBlockNumber, uint32_t>> expected = {{0, 0}, {1, zfErrFileCorrupt}, {2, 0}};
  EXPECT_EQ(expected, seen);
  EXPECT_EQ(2, fills[2]);  // deciphered
  seen.clear();
  file->IterateBlocksRaw(nullptr, it);  // raw: nothing is decoded, every block is handed on
  EXPECT_EQ(3u, seen.size());
  EXPECT_EQ(0u, seen[1].second);

  // A damaged block 0 (bad header checksum) reaches the iterator as unreadable; the rest is read.
  uint8_t byte = 0x77;
  file->WriteFileExactAt(150, 1, &byte);
  seen.clear();
  file->IterateBlocks(nullptr, it);
  ASSERT_EQ(3u, seen.size());
  EXPECT_EQ(zfErrHeaderCorrupt, seen[0].second);
  EXPECT_EQ(0u, seen[2].second);
  file->CloseFile();
}

}  // namespace
}  // namespace zf::test
