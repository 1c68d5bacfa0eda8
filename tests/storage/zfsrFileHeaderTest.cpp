// Table file headers: the common block header and block 0 of both versions byte by byte, files
// created, closed and read back, and block 0s damaged in every field the reader checks.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "foundation/zfllErrors.h"
#include "storage/zfseHeaderAccess.h"
#include "zfsrTestUtil.h"

namespace zf::test {
namespace {

class FileHeaderTest : public StorageStarted {};

std::vector<uint8_t> ReadAll(const std::string& aPath) {
  std::ifstream in(aPath, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& aPath, const std::vector<uint8_t>& aBytes) {
  std::ofstream out(aPath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(aBytes.data()), static_cast<std::streamsize>(aBytes.size()));
}

void Put(std::vector<uint8_t>& b, size_t at, std::initializer_list<uint8_t> bytes) {
  for (uint8_t v : bytes) b[at++] = v;
}

void PutText(std::vector<uint8_t>& b, size_t at, const char* s) { std::memcpy(b.data() + at, s, std::strlen(s)); }

// Block 0 of a new version 2 file of 4096-byte blocks without encryption, stream engine
// "zf1xDefault", created by version 30000, written cell by cell from the format table.
std::vector<uint8_t> Golden2x4k() {
  std::vector<uint8_t> b(4096, 0);
  PutText(b, 0, "ZF!2");                  // signature
  Put(b, 4, {0, 0, 0, 0});                // block number 0
  Put(b, 8, {0, 0, 0, 0, 0, 0, 0, 0});    // LSN 0
  Put(b, 16, {0});                        // block size code 0
  Put(b, 17, {0, 0});                     // encryption header size 0
  Put(b, 20, {0xFC, 0x0F, 0, 0});         // usable 4092 = 4096 - 4 (owner ID)
  Put(b, 24, {0xFF, 0xFF, 0xFF, 0xFF});   // no free-block map block
  Put(b, 28, {0, 0, 0, 0});               // free-block cache empty
  Put(b, 32, {1, 0, 0, 0});               // one block in use
  Put(b, 36, {0x30, 0x75, 0, 0});         // version 30000
  Put(b, 40, {0});                        // no encryption engine
  Put(b, 72, {11});                       // stream engine name length
  PutText(b, 73, "zf1xDefault");
  Put(b, 256, {0xFB, 0x0F});              // section area ends at 4091 = usable - 0 - 1
  Put(b, 258, {0});                       // empty directory
  return b;
}

TEST_F(FileHeaderTest, CommonBlockHeaderBytes) {
  const std::vector<uint8_t> golden = {'D', 'E', 'A', 'D', 0x04, 0x03, 0x02, 0x01,
                                       0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x81};
  std::vector<uint8_t> block(16, 0xCC);
  zfWriteBlockCommonHeader(block.data(), {{'D', 'E', 'A', 'D'}, 0x01020304u, static_cast<TzfLSN>(0x8122334455667788ull)});
  EXPECT_EQ(golden, block);
  const TzfBlockCommonHeader h = zfReadBlockCommonHeader(golden.data());
  EXPECT_EQ((TzfBlockSignature{'D', 'E', 'A', 'D'}), h.bchSignature);
  EXPECT_EQ(0x01020304u, h.bchThisBlock);
  EXPECT_EQ(static_cast<TzfLSN>(0x8122334455667788ull), h.bchLSN);
  EXPECT_LT(h.bchLSN, 0);  // the LSN is signed
}

TEST_F(FileHeaderTest, NewVersion2BlockZeroMatchesTheFormatTable) {
  TempDir dir;
  CreateTableFile(dir.File("t.dvl7"), zfHeaderSignature2, TzfBlockSize::zfbs4k, [](TzfBaseFile& f) {
    f.fiStreamEngineName = u"zf1xDefault";
    f.fiZofrinVersion = 30000;
  });
  EXPECT_EQ(Golden2x4k(), ReadAll(dir.FilePath("t.dvl7")));
}

TEST_F(FileHeaderTest, NewVersion2FileReadsBackEveryField) {
  TempDir dir;
  const rtl::UnicodeString name = dir.File("t.dvl7");
  CreateTableFile(name, zfHeaderSignature2, TzfBlockSize::zfbs16k, [](TzfBaseFile& f) {
    f.fiStreamEngineName = u"zf1xDefault";
    f.fiZofrinVersion = 30000;
  });
  std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, name, nullptr);
  file->OpenFile(omReadOnly, smShared, false, false);
  bool readOnly = true;
  ASSERT_EQ(0u, file->ReadHeader({}, readOnly));
  EXPECT_FALSE(readOnly);
  EXPECT_EQ(zfHeaderSignature2, file->fiHeaderSignature);
  EXPECT_EQ(TzfBlockSize::zfbs16k, file->fiBlockSize);
  EXPECT_EQ(16380u, file->fiBlockSizeBytes);
  EXPECT_EQ(1u, file->fiUsedBlocks);
  EXPECT_EQ(30000, file->fiZofrinVersion);
  EXPECT_EQ(u"", file->fiEncryptionEngineName);
  EXPECT_EQ(u"zf1xDefault", file->fiStreamEngineName);
  EXPECT_EQ(0u, file->fiCheckSumSize);
  EXPECT_EQ(nullptr, file->fiEncryptionEngine);
  ASSERT_NE(nullptr, file->fiHeaderAccessFactory);
  EXPECT_EQ(&Tzf2xFileHeaderAccessFactory::ClassInfo(), &file->fiHeaderAccessFactory->ClassType());
  // The file system's real limit: never 0 on an ordinary file system.
  EXPECT_GT(file->fiMaxBlocks, 0u);
  file->CloseFile();
}

TEST_F(FileHeaderTest, NewFileStoresTheEngineVersionUnlessItsCreatorSetsAnother) {
  TempDir dir;
  CreateTableFile(dir.File("t.dvl7"), zfHeaderSignature2);
  const std::vector<uint8_t> b = ReadAll(dir.FilePath("t.dvl7"));
  ASSERT_EQ(4096u, b.size());
  EXPECT_EQ(0xB4, b[36]);  // 30900 = 0x78B4
  EXPECT_EQ(0x78, b[37]);
  EXPECT_EQ(0, b[38]);
  EXPECT_EQ(0, b[72]);  // no stream engine named
}

TEST_F(FileHeaderTest, Version1FileIsReadButNeverCreated) {
  TempDir dir;
  // Block 0 of a version 1 file of 8192-byte blocks, then two more blocks.
  std::vector<uint8_t> b(3 * 8192, 0);
  PutText(b, 0, "ZF!1");
  Put(b, 16, {1});                        // 8192 bytes
  Put(b, 20, {0x00, 0x20, 0, 0});         // usable 8192: version 1 reserves nothing
  Put(b, 24, {2, 0, 0, 0});               // free chain starts at block 2
  Put(b, 28, {1, 0, 0, 0});               // one block in the chain
  Put(b, 32, {3, 0, 0, 0});               // three blocks in use
  Put(b, 36, {0x20, 0x4E, 0, 0});         // version 20000
  Put(b, 72, {6});
  PutText(b, 73, "Simple");
  WriteAll(dir.FilePath("v1.dvl7"), b);

  std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, dir.File("v1.dvl7"), nullptr);
  file->OpenFile(omReadOnly, smShared, false, false);
  bool readOnly = false;
  ASSERT_EQ(0u, file->ReadHeader({}, readOnly));
  EXPECT_EQ(zfHeaderSignature1, file->fiHeaderSignature);
  EXPECT_EQ(TzfBlockSize::zfbs8k, file->fiBlockSize);
  EXPECT_EQ(8192u, file->fiBlockSizeBytes);
  EXPECT_EQ(3u, file->fiUsedBlocks);
  EXPECT_EQ(20000, file->fiZofrinVersion);
  EXPECT_EQ(u"Simple", file->fiStreamEngineName);
  EXPECT_EQ(0, file->fiHeaderAccessFactory->GetID(b.data() + 8192));  // version 1 blocks have no owner
  EXPECT_EQ(3u, file->fiHeaderAccessFactory->GetUsedBlocks(b.data()));
  file->CloseFile();

  EXPECT_EQ(zfErrNotSupported, RaisedCode([&] { CreateTableFile(dir.File("new.dvl7"), zfHeaderSignature1); }));
}

TEST_F(FileHeaderTest, NewerEngineVersionIsRefusedAndLeavesNoFactory) {
  TempDir dir;
  std::vector<uint8_t> b = Golden2x4k();
  Put(b, 36, {0x18, 0x79, 0, 0});  // 31000
  WriteAll(dir.FilePath("new.dvl7"), b);
  std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, dir.File("new.dvl7"), nullptr);
  file->OpenFile(omReadOnly, smShared, false, false);
  bool readOnly = false;
  ASSERT_EQ(zfErrTableTooNew, file->ReadHeader({}, readOnly));
  EXPECT_EQ(nullptr, file->fiHeaderAccessFactory);
  const rtl::UnicodeString message = StorageOutcome([] { zfRaiseIfError(zfErrTableTooNew); });
  EXPECT_NE(rtl::UnicodeString::npos, message.find(u"new.dvl7\" was created with version 3.1000 of ZofrinDB"));
  EXPECT_NE(rtl::UnicodeString::npos, message.find(u"this server's version (3.0900)"));
  file->CloseFile();
}

TEST_F(FileHeaderTest, UnknownSignatureIsNotATableFile) {
  TempDir dir;
  std::vector<uint8_t> b = Golden2x4k();
  PutText(b, 0, "ZF!9");
  WriteAll(dir.FilePath("x.dvl7"), b);
  std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, dir.File("x.dvl7"), nullptr);
  file->OpenFile(omReadOnly, smShared, false, false);
  bool readOnly = false;
  const rtl::UnicodeString outcome = StorageOutcome([&] { file->ReadHeader({}, readOnly); });
  EXPECT_EQ(0u, outcome.find(u"#9992:"));
  EXPECT_NE(rtl::UnicodeString::npos, outcome.find(u"x.dvl7\" is not a ZofrinDB formatted file"));
  EXPECT_EQ(nullptr, file->fiHeaderAccessFactory);
  file->CloseFile();
}

// Every damage of block 0 the reader checks: 8961, no factory left, nothing read past the block.
TEST_F(FileHeaderTest, DamagedBlockZeroIsACorruptHeader) {
  struct Case {
    const char* What;
    std::function<void(std::vector<uint8_t>&)> Damage;
  };
  const Case cases[] = {
      {"size code 5", [](auto& b) { b[16] = 5; }},
      {"size code 255", [](auto& b) { b[16] = 255; }},
      {"usable size 0", [](auto& b) { Put(b, 20, {0, 0, 0, 0}); }},
      {"usable size of the physical block", [](auto& b) { Put(b, 20, {0, 0x10, 0, 0}); }},
      {"usable size beyond the block", [](auto& b) { Put(b, 20, {0xFF, 0xFF, 0xFF, 0xFF}); }},
      {"encryption name of 200 characters", [](auto& b) { b[40] = 200; }},
      {"stream name of 32 characters", [](auto& b) { b[72] = 32; }},
      {"no block in use", [](auto& b) { Put(b, 32, {0, 0, 0, 0}); }},
      {"free cache of 21 entries", [](auto& b) { Put(b, 28, {21, 0, 0, 0}); }},
      {"encryption header larger than the block", [](auto& b) { Put(b, 17, {0xF0, 0xFF}); }},
      {"section area above the encryption header", [](auto& b) { Put(b, 256, {0xFC, 0x0F}); }},
      {"section area ending inside the directory", [](auto& b) { Put(b, 256, {0x02, 0x01}); }},
      {"directory without its ending zero",
       [](auto& b) {
         for (size_t i = 258; i < 4092; ++i) b[i] = 1;
       }},
      {"section below its own directory entry",
       [](auto& b) {
         Put(b, 258, {1, 'A', 0x03, 0x01, 0});  // section at 259: inside the entry itself
       }},
      {"section above the previous one",
       [](auto& b) {
         Put(b, 258, {1, 'A', 0xF0, 0x0F, 1, 'B', 0xFA, 0x0F, 0});  // B at 4090 > A at 4080
       }},
      {"entry running into its section",
       [](auto& b) {
         Put(b, 258, {1, 'A', 0x06, 0x01, 9, 'B'});  // A's section starts at 262, B's name runs into it
       }},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    std::vector<uint8_t> b = Golden2x4k();
    c.Damage(b);
    WriteAll(dir.FilePath("d.dvl7"), b);
    std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, dir.File("d.dvl7"), nullptr);
    file->OpenFile(omReadOnly, smShared, false, false);
    bool readOnly = false;
    EXPECT_EQ(zfErrHeaderCorrupt, RaisedCode([&] { file->ReadHeader({}, readOnly); }));
    EXPECT_EQ(nullptr, file->fiHeaderAccessFactory);
    file->CloseFile();
  }
}

TEST_F(FileHeaderTest, ShortFileIsAReadErrorNotAnEmptyHeader) {
  TempDir dir;
  std::vector<uint8_t> b = Golden2x4k();
  b.resize(1000);
  WriteAll(dir.FilePath("s.dvl7"), b);
  std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, dir.File("s.dvl7"), nullptr);
  file->OpenFile(omReadOnly, smShared, false, false);
  bool readOnly = false;
  EXPECT_EQ(zfErrReadErr, RaisedCode([&] { file->ReadHeader({}, readOnly); }));
  file->CloseFile();
}

TEST_F(FileHeaderTest, FileNamingAnUnregisteredEncryptionEngineIsRefused) {
  TempDir dir;
  // Creating: the block geometry needs the engine's reserve.
  const rtl::UnicodeString created = StorageOutcome([&] {
    CreateTableFile(dir.File("e.dvl7"), zfHeaderSignature2, TzfBlockSize::zfbs4k,
                    [](TzfBaseFile& f) { f.fiEncryptionEngineName = u"NoSuchEngine"; });
  });
  EXPECT_EQ(0u, created.find(u"#15503:"));
  EXPECT_NE(rtl::UnicodeString::npos, created.find(u"Unknown encryption engine: \"NoSuchEngine\""));

  // Reading: a file that names an engine is never read as plain.
  std::vector<uint8_t> b = Golden2x4k();
  Put(b, 17, {0x20, 0});  // a 32-byte engine area
  Put(b, 20, {0xEC, 0x0F, 0, 0});  // usable 4076: a 16-byte reserve
  Put(b, 40, {12});
  PutText(b, 41, "NoSuchEngine");
  Put(b, 256, {0xCB, 0x0F});  // 4076 - 32 - 1
  WriteAll(dir.FilePath("e2.dvl7"), b);
  std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, dir.File("e2.dvl7"), nullptr);
  file->OpenFile(omReadOnly, smShared, false, false);
  bool readOnly = false;
  EXPECT_EQ(zfErrSubEngineNotSupported, file->ReadHeader({}, readOnly));
  EXPECT_EQ(nullptr, file->fiHeaderAccessFactory);
  EXPECT_EQ(nullptr, file->fiEncryptionEngine);
  file->CloseFile();
}

}  // namespace
}  // namespace zf::test
