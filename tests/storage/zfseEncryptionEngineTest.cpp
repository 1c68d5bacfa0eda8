// The Blowfish/RC4 table encryption engines: the header area and block trailer against golden
// bytes worked from their tables by hand, password checks and changes, damaged blocks and header
// areas, concurrent coding, and table files enciphered through the file classes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <thread>

#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlAnsiString.h"
#include "storage/zfseEncryptionEngineBlowfishRC4.h"
#include "storage/zfseHeaderAccess.h"
#include "zfsrTestUtil.h"

namespace zf::test {
namespace {

class EncryptionEngineTest : public StorageStarted {};

using TBytes = std::vector<uint8_t>;

// Header area: salt 00..0F, wrap IV (11111111h, 22222222h), data key A0..AF wrapped under the user
// variant's built-in password.
const TBytes kBuiltinHeader = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
                               0x0C, 0x0D, 0x0E, 0x0F, 0x11, 0x11, 0x11, 0x11, 0x22, 0x22, 0x22, 0x22,
                               0x90, 0x39, 0x19, 0x6E, 0x34, 0x9D, 0x70, 0xA5, 0x16, 0x69, 0xBA, 0x17,
                               0x96, 0xEC, 0x58, 0x9E, 0x84, 0x4D, 0xAB, 0xDB, 0xBE, 0x34, 0xE6, 0xA0};
// The same under the password "Geheim§" (windows-1252 bytes 47 65 68 65 69 6D A7).
const TBytes kPasswordHeader = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
                                0x0C, 0x0D, 0x0E, 0x0F, 0x11, 0x11, 0x11, 0x11, 0x22, 0x22, 0x22, 0x22,
                                0xF7, 0x09, 0x1C, 0x22, 0xED, 0x2E, 0xD8, 0x78, 0x69, 0xFB, 0x4B, 0x7B,
                                0x07, 0xC3, 0x20, 0xF0, 0xED, 0x34, 0xB0, 0x35, 0x2A, 0xF0, 0x30, 0x66};
// A 64-byte block under data key A0..AF: 48 enciphered bytes of (i * 7) mod 256, then the block
// IV (33333333h, 44444444h) and the MAC.
const TBytes kBlock64 = {0x57, 0xD9, 0x95, 0x20, 0xFD, 0x0E, 0xBE, 0x51, 0xA2, 0x6B, 0x6E, 0xCC, 0xD1, 0xC7, 0xFD, 0x1B,
                         0x6D, 0xF2, 0x33, 0xAD, 0x8B, 0x01, 0x89, 0xC2, 0xB5, 0xFA, 0x24, 0xD2, 0x92, 0x27, 0x7A, 0x32,
                         0x35, 0xA6, 0xB0, 0xB3, 0x96, 0x69, 0xAB, 0x18, 0x8F, 0x6E, 0x6E, 0x50, 0x3C, 0x44, 0x78, 0x37,
                         0x33, 0x33, 0x33, 0x33, 0x44, 0x44, 0x44, 0x44, 0xE4, 0x3E, 0x2A, 0x32, 0x5F, 0x7F, 0xBE, 0x24};

const rtl::UnicodeString kGeheim = u"Geheim\u00A7";

std::string DataKeyA0() {
  std::string k;
  for (int i = 0; i < 16; ++i) k.push_back(static_cast<char>(0xA0 + i));
  return k;
}

uint32_t Open(TBytes& aHeader, const TzfUnicodeStrings& aPasswords, std::unique_ptr<TzfBaseEncryptionEngine>& aEngine,
              bool aForServer = false) {
  return TzfBaseEncryptionEngine::CreateEngine(u"zf1xDefault", aPasswords, aHeader.data(), false, aForServer, aEngine);
}

TzfBlowfishRC4EncryptionEngine& Bf(std::unique_ptr<TzfBaseEncryptionEngine>& e) {
  return dynamic_cast<TzfBlowfishRC4EncryptionEngine&>(*e);
}

TEST_F(EncryptionEngineTest, RegisteredInBothListsWithTheirReserves) {
  EXPECT_EQ(&TzfUserBlowfishRC4EncryptionEngine::ClassInfo(),
            TzfBaseEncryptionEngine::FindEngineClass(u"ZF1XDEFAULT", false));
  EXPECT_EQ(&TzfServerBlowfishRC4EncryptionEngine::ClassInfo(),
            TzfBaseEncryptionEngine::FindEngineClass(u"zf1xDefault", true));
  EXPECT_EQ(48u, TzfBaseEncryptionEngine::ReservedHeaderSpace(u"zf1xDefault", false));
  for (TzfBlockSize s : {TzfBlockSize::zfbs4k, TzfBlockSize::zfbs64k})
    EXPECT_EQ(16u, TzfBaseEncryptionEngine::ReservedSpacePerBlock(u"zf1xDefault", true, s));
  EXPECT_EQ(0u, TzfUserBlowfishRC4EncryptionEngine::ClassInfo().ChecksumSize());
  EXPECT_EQ(64u, zfUserBlowfishDefaultPassword().size());
  EXPECT_EQ(64u, zfServerBlowfishDefaultPassword().size());
}

TEST_F(EncryptionEngineTest, GoldenHeaderAreasOpenWithTheirPasswords) {
  std::unique_ptr<TzfBaseEncryptionEngine> e;
  TBytes h = kBuiltinHeader;
  // No password, or only wrong ones: the built-in password opens it and no password is in use.
  for (const TzfUnicodeStrings& given : {TzfUnicodeStrings{}, TzfUnicodeStrings{u"x", u"y"}}) {
    ASSERT_EQ(0u, Open(h, given, e));
    EXPECT_EQ(DataKeyA0(), Bf(e).BlowfishKey());
    EXPECT_EQ(u"", e->ExtractPassword());
    EXPECT_EQ(0u, e->AuthenticatePassword({}));
  }
  // The server variant's built-in password is another one.
  EXPECT_EQ(zfErrInvalidPassword, Open(h, {}, e, true));
  EXPECT_EQ(nullptr, e);

  TBytes p = kPasswordHeader;
  EXPECT_EQ(zfErrInvalidPassword, Open(p, {}, e));
  EXPECT_EQ(zfErrInvalidPassword, Open(p, {u"geheim\u00A7"}, e));
  ASSERT_EQ(0u, Open(p, {u"other", kGeheim}, e));
  EXPECT_EQ(DataKeyA0(), Bf(e).BlowfishKey());
  EXPECT_EQ(kGeheim, e->ExtractPassword());
  EXPECT_EQ(0u, e->AuthenticatePassword({u"x", kGeheim}));
  EXPECT_EQ(zfErrInvalidPassword, e->AuthenticatePassword({u"GEHEIM\u00A7"}));
  EXPECT_EQ(zfErrInvalidPassword, e->AuthenticatePassword({}));
}

TEST_F(EncryptionEngineTest, DamagedHeaderAreaFailsThePasswordCheck) {
  for (size_t at : {0u, 17u, 30u, 44u}) {
    TBytes h = kBuiltinHeader;
    h[at] ^= 0x01;
    std::unique_ptr<TzfBaseEncryptionEngine> e;
    EXPECT_EQ(zfErrInvalidPassword, Open(h, {}, e)) << at;
    EXPECT_EQ(nullptr, e);
  }
}

TEST_F(EncryptionEngineTest, GoldenBlockDecodesAndEveryDamagedPartIs8962) {
  std::unique_ptr<TzfBaseEncryptionEngine> e;
  TBytes h = kBuiltinHeader;
  ASSERT_EQ(0u, Open(h, {}, e));
  TBytes b = kBlock64;
  e->DecodeBlock(b.data(), 64, 7);
  for (int i = 0; i < 48; ++i) EXPECT_EQ(b[static_cast<size_t>(i)], (i * 7) & 255) << i;
  // Data, block IV and MAC: one flipped bit anywhere is a damaged block.
  for (size_t at : {0u, 47u, 48u, 55u, 56u, 63u}) {
    TBytes d = kBlock64;
    d[at] ^= 0x80;
    EXPECT_EQ(zfErrFileCorrupt, RaisedCode([&] { e->DecodeBlock(d.data(), 64, 0); })) << at;
  }
  // A length that leaves no whole blocks before the trailer is damaged input, not a crash.
  TBytes shortBlock(20, 0);
  EXPECT_EQ(zfErrFileCorrupt, RaisedCode([&] { e->DecodeBlock(shortBlock.data(), 20, 0); }));
  EXPECT_EQ(zfErrFileCorrupt, RaisedCode([&] { e->DecodeBlock(shortBlock.data(), 16, 0); }));
}

TEST_F(EncryptionEngineTest, CreatingFillsTheAreaAndCodesBlocksWithTheTrailer) {
  TBytes h(48, 0);
  std::unique_ptr<TzfBaseEncryptionEngine> e;
  ASSERT_EQ(0u, TzfBaseEncryptionEngine::CreateEngine(u"zf1xDefault", {u"pw"}, h.data(), true, false, e));
  const std::string dataKey = Bf(e).BlowfishKey();
  ASSERT_EQ(16u, dataKey.size());
  // The stored key is the data key enciphered, never the data key itself.
  EXPECT_NE(0, std::memcmp(h.data() + 24, dataKey.data(), 16));

  TBytes plain(4096);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>("record text "[i % 12]);
  TBytes coded(4096, 0xEE);
  e->CodeBlock(plain.data(), coded.data(), 4096, 5);
  // 4080 enciphered bytes, then IV and MAC; no run of the plaintext survives.
  EXPECT_EQ(coded.end(), std::search(coded.begin(), coded.end(), plain.begin(), plain.begin() + 12));
  TBytes again(4096);
  e->CodeBlock(plain.data(), again.data(), 4096, 5);
  EXPECT_NE(0, std::memcmp(coded.data() + 4080, again.data() + 4080, 8));  // a fresh IV per block
  TBytes read = coded;
  e->DecodeBlock(read.data(), 4096, 5);
  EXPECT_EQ(0, std::memcmp(read.data(), plain.data(), 4080));

  std::unique_ptr<TzfBaseEncryptionEngine> o;
  ASSERT_EQ(0u, Open(h, {u"pw"}, o));
  EXPECT_EQ(dataKey, Bf(o).BlowfishKey());
  EXPECT_EQ(zfErrInvalidPassword, Open(h, {}, o));
  read = coded;
  ASSERT_EQ(0u, Open(h, {u"pw"}, o));
  o->DecodeBlock(read.data(), 4096, 5);
  EXPECT_EQ(0, std::memcmp(read.data(), plain.data(), 4080));

  EXPECT_EQ(zfErrInvalidParam,
            TzfBaseEncryptionEngine::CreateEngine(u"zf1xDefault", {u"a", u"b"}, h.data(), true, false, e));
  EXPECT_EQ(nullptr, e);
  // Without a header area the blocks are keyed with the built-in password.
  ASSERT_EQ(0u, TzfBaseEncryptionEngine::CreateEngine(u"zf1xDefault", {}, nullptr, false, true, e));
  EXPECT_EQ(zfServerBlowfishDefaultPassword(), Bf(e).BlowfishKey());
}

TEST_F(EncryptionEngineTest, ChangingThePasswordKeepsTheBlocksReadable) {
  TBytes h(48, 0);
  std::unique_ptr<TzfBaseEncryptionEngine> e;
  ASSERT_EQ(0u, TzfBaseEncryptionEngine::CreateEngine(u"zf1xDefault", {u"old"}, h.data(), true, false, e));
  TBytes plain(8192, 0x5A), coded(8192);
  e->CodeBlock(plain.data(), coded.data(), 8192, 1);
  const TBytes before = h;
  e->ChangePassword(h.data(), u"new");
  EXPECT_NE(0, std::memcmp(before.data(), h.data(), 16));  // a new salt
  EXPECT_EQ(u"new", e->ExtractPassword());
  std::unique_ptr<TzfBaseEncryptionEngine> o;
  EXPECT_EQ(zfErrInvalidPassword, Open(h, {u"old"}, o));
  ASSERT_EQ(0u, Open(h, {u"new"}, o));
  TBytes read = coded;
  o->DecodeBlock(read.data(), 8192, 1);
  EXPECT_EQ(0, std::memcmp(read.data(), plain.data(), 8176));
  // Back to no password: the built-in one wraps the key.
  e->ChangePassword(h.data(), u"");
  ASSERT_EQ(0u, Open(h, {}, o));
  EXPECT_EQ(u"", o->ExtractPassword());
  EXPECT_EQ(0u, e->AuthenticatePassword({}));
}

TEST_F(EncryptionEngineTest, ConcurrentCodingUsesPooledCiphers) {
  TBytes h(48, 0);
  std::unique_ptr<TzfBaseEncryptionEngine> e;
  ASSERT_EQ(0u, TzfBaseEncryptionEngine::CreateEngine(u"zf1xDefault", {}, h.data(), true, true, e));
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      TBytes plain(4096, static_cast<uint8_t>(t)), coded(4096);
      for (int i = 0; i < 50; ++i) {
        e->CodeBlock(plain.data(), coded.data(), 4096, 0);
        e->DecodeBlock(coded.data(), 4096, 0);
        if (std::memcmp(coded.data(), plain.data(), 4080) != 0) ++failures;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(0, failures.load());
  EXPECT_GE(Bf(e).PooledCiphers(), 1);
  EXPECT_LE(Bf(e).PooledCiphers(), 4);
}

// ---- through the table file ----

std::unique_ptr<TzfBaseFile> NewEncipheredFile(const rtl::UnicodeString& aName, const TzfUnicodeStrings& aPasswords) {
  std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, aName, nullptr);
  file->fiBlockSize = TzfBlockSize::zfbs4k;
  file->fiEncryptionEngineName = u"zf1xDefault";
  file->OpenFile(omReadWrite, smExclusive, false, true);
  std::vector<uint8_t> block(file->PhysicalBlockBytes());
  zfRaiseIfError(file->InitHeader(block.data(), aPasswords, zfHeaderSignature2));
  TzfByteDynArray cookie;
  file->WriteEncryptFileExactAt(0, file->PhysicalBlockBytes(), block.data(), cookie);
  return file;
}

TEST_F(EncryptionEngineTest, TableFileBlocksAreEncipheredOnDiskAndCheckedOnRead) {
  TempDir dir;
  const rtl::UnicodeString name = dir.File("e.dvl7");
  {
    auto file = NewEncipheredFile(name, {u"secret"});
    TBytes block(4096, 0);
    zfWriteBlockCommonHeader(block.data(), {{'T', 'E', 'S', 'T'}, 1, 0});
    const char* text = "a plain record nobody may read";
    std::memcpy(block.data() + 100, text, std::strlen(text));
    TzfByteDynArray cookie;
    file->WriteEncryptFileExactAt(4096, 4096, block.data(), cookie);
    file->CloseFile();
  }
  std::ifstream in(dir.FilePath("e.dvl7"), std::ios::binary);
  TBytes disk((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(8192u, disk.size());
  // Block 0: engine area of 48 bytes, usable 4096 - 16 - 4, section area below the engine area.
  EXPECT_EQ(48, disk[17] | disk[18] << 8);
  EXPECT_EQ(4076u, zfGetLE32(disk.data() + 20));
  EXPECT_EQ(4076 - 48 - 1, disk[256] | disk[257] << 8);
  const std::string text = "a plain record";
  EXPECT_EQ(disk.end(), std::search(disk.begin(), disk.end(), text.begin(), text.end()));

  for (const TzfUnicodeStrings& wrong : {TzfUnicodeStrings{}, TzfUnicodeStrings{u"Secret"}}) {
    auto file = TzfBaseFile::Alloc(true, name, nullptr);
    file->OpenFile(omReadOnly, smShared, false, false);
    bool ro = false;
    EXPECT_EQ(zfErrInvalidPassword, file->ReadHeader(wrong, ro));
    EXPECT_EQ(nullptr, file->fiEncryptionEngine);
    file->CloseFile();
  }
  auto file = TzfBaseFile::Alloc(true, name, nullptr);
  file->OpenFile(omReadOnly, smShared, false, false);
  bool ro = false;
  ASSERT_EQ(0u, file->ReadHeader({u"secret"}, ro));
  TBytes block(4096);
  TzfByteDynArray cookie;
  file->ReadDecryptFileExactAt(4096, 4096, block.data(), cookie);
  EXPECT_EQ(0, std::memcmp(block.data() + 100, text.data(), text.size()));
  file->CloseFile();

  // One byte of the enciphered block changed on disk: the read is 8962.
  disk[4096 + 2000] ^= 0x04;
  {
    std::ofstream out(dir.FilePath("e.dvl7"), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(disk.data()), static_cast<std::streamsize>(disk.size()));
  }
  file = TzfBaseFile::Alloc(true, name, nullptr);
  file->OpenFile(omReadOnly, smShared, false, false);
  ASSERT_EQ(0u, file->ReadHeader({u"secret"}, ro));
  EXPECT_EQ(zfErrFileCorrupt, RaisedCode([&] { file->ReadDecryptFileExactAt(4096, 4096, block.data(), cookie); }));
  file->CloseFile();
}

// An engine only in the server list: a server file takes its reserves from there.
class TServerOnlyEngine : public TzfBaseEncryptionEngine {
 public:
  static const TzfEncryptionEngineClass& ClassInfo() {
    return zfEncryptionEngineClassOf<TServerOnlyEngine>(u"TServerOnlyEngine");
  }
  const TzfEncryptionEngineClass& ClassType() const override { return ClassInfo(); }
  static uint32_t CreateInstance(const rtl::UnicodeString&, const TzfUnicodeStrings&, PzfByteArray, bool, bool,
                                 std::unique_ptr<TzfBaseEncryptionEngine>& aEngine) {
    aEngine = std::make_unique<TServerOnlyEngine>();
    return 0;
  }
  static uint32_t beeReservedSpacePerBlock(TzfBlockSize) { return 32; }
  static uint32_t beeReservedHeaderSpace() { return 24; }
  void CodeBlock(const uint8_t* aIn, uint8_t* aOut, uint32_t aLen, uint32_t) override { std::memmove(aOut, aIn, aLen); }
  void DecodeBlock(uint8_t*, uint32_t, uint32_t) override {}
};

TEST_F(EncryptionEngineTest, ServerFileTakesItsReservesFromTheServerList) {
  TzfBaseEncryptionEngine::Register(TServerOnlyEngine::ClassInfo(), u"ServerOnly", true, 0);
  TempDir dir;
  const rtl::UnicodeString outcome = StorageOutcome([&] {
    CreateTableFile(dir.File("s.dvl7"), zfHeaderSignature2, TzfBlockSize::zfbs4k, [](TzfBaseFile& f) {
      f.fiEncryptionEngineName = u"ServerOnly";
      f.fiForServer = true;
    });
  });
  EXPECT_EQ(u"ok", outcome);
  std::ifstream in(dir.FilePath("s.dvl7"), std::ios::binary);
  TBytes disk((std::istreambuf_iterator<char>(in)), {});
  ASSERT_GE(disk.size(), 4096u);
  EXPECT_EQ(24, disk[17] | disk[18] << 8);
  EXPECT_EQ(4096u - 32 - 4, zfGetLE32(disk.data() + 20));
  auto file = TzfBaseFile::Alloc(true, dir.File("s.dvl7"), nullptr);
  file->fiForServer = true;
  file->OpenFile(omReadOnly, smShared, false, false);
  bool ro = false;
  EXPECT_EQ(0u, file->ReadHeader({}, ro));
  EXPECT_EQ(4096u - 32 - 4, file->fiBlockSizeBytes);
  file->CloseFile();
  TzfBaseEncryptionEngine::Unregister(TServerOnlyEngine::ClassInfo());
}

TEST_F(EncryptionEngineTest, EngineAreaSmallerThanTheEngineNeedsIsACorruptHeader) {
  TempDir dir;
  const rtl::UnicodeString name = dir.File("a.dvl7");
  NewEncipheredFile(name, {})->CloseFile();
  std::fstream io(dir.FilePath("a.dvl7"), std::ios::binary | std::ios::in | std::ios::out);
  io.seekp(17);
  io.put(32);  // the 48-byte area recorded as 32
  io.close();
  auto file = TzfBaseFile::Alloc(true, name, nullptr);
  file->OpenFile(omReadOnly, smShared, false, false);
  bool ro = false;
  EXPECT_EQ(zfErrHeaderCorrupt, RaisedCode([&] { file->ReadHeader({}, ro); }));
  EXPECT_EQ(nullptr, file->fiEncryptionEngine);
  file->CloseFile();
}

}  // namespace
}  // namespace zf::test
