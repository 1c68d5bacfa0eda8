// Header sections of both versions and the block checks of the header factories.
#include <gtest/gtest.h>

#include <cstring>

#include "foundation/zfllErrors.h"
#include "storage/zfseHeaderAccess.h"
#include "zfsrTestUtil.h"

namespace zf::test {
namespace {

// A file object with a new version 2 block 0 in memory (no OS file, no cache).
struct HeaderFixture {
  explicit HeaderFixture(const TzfBlockSignature& aSignature = zfHeaderSignature2,
                         TzfBlockSize aSize = TzfBlockSize::zfbs4k) {
    File = TzfBaseFile::Alloc(true, u"/tmp/h.dvl7", nullptr);
    File->fiBlockSize = aSize;
    Block.assign(File->PhysicalBlockBytes(), 0xAA);
    zfRaiseIfError(File->InitHeader(Block.data(), {}, aSignature));
  }
  // A header access over the block in memory.
  template <class T>
  std::unique_ptr<T> Access(bool aDirty) {
    auto a = std::make_unique<T>(*File, aDirty, nullptr);
    a->Header = Block.data();
    return a;
  }
  TzfBaseFileHeaderAccessFactory& Factory() { return *File->fiHeaderAccessFactory; }

  std::unique_ptr<TzfBaseFile> File;
  std::vector<uint8_t> Block;
};

class HeaderAccessTest : public StorageStarted {};

TEST_F(HeaderAccessTest, NewBlockZeroIsZeroFilledBehindItsFields) {
  HeaderFixture h(zfHeaderSignature2, TzfBlockSize::zfbs64k);
  EXPECT_EQ(65532u, h.File->fiBlockSizeBytes);
  EXPECT_EQ(65531u, zfGetLE16(h.Block.data() + 256));
  for (size_t i = 259; i < h.Block.size(); ++i) ASSERT_EQ(0, h.Block[i]) << i;
}

TEST_F(HeaderAccessTest, Version2SectionsAreCreatedDownwardsAndFoundByName) {
  HeaderFixture h;
  auto a = h.Access<Tzf2xFileHeaderAccess>(true);
  EXPECT_EQ(3838, a->RegisterHeaderSection("SubHeaders", 253, true, false));
  // Directory entry at 258: length, name, offset 3838 = 0x0EFE, then the ending zero.
  const uint8_t entry[] = {10, 'S', 'u', 'b', 'H', 'e', 'a', 'd', 'e', 'r', 's', 0xFE, 0x0E, 0};
  EXPECT_EQ(0, std::memcmp(entry, h.Block.data() + 258, sizeof entry));
  EXPECT_EQ(3830, a->RegisterHeaderSection("Stream", 8, true, false));
  EXPECT_EQ(3838, a->RegisterHeaderSection("SUBHEADERS", 253, false, false));
  EXPECT_EQ(3830, a->RegisterHeaderSection("stream", 8, false, false));
  // An existing name: overwrite answers it (with its size check), otherwise it is not unique.
  EXPECT_EQ(3830, a->RegisterHeaderSection("Stream", 8, true, true));
  EXPECT_EQ(zfErrHeaderCorrupt, RaisedCode([&] { a->RegisterHeaderSection("Stream", 4, true, true); }));
  EXPECT_EQ(zfErrHeaderCorrupt, RaisedCode([&] { a->RegisterHeaderSection("Stream", 4, false, false); }));
  EXPECT_EQ(zfErrNameNotUnique, RaisedCode([&] { a->RegisterHeaderSection("Stream", 8, true, false); }));
  EXPECT_EQ(zfErrObjNotFound, RaisedCode([&] { a->RegisterHeaderSection("AutoInc", 4, false, false); }));
}

TEST_F(HeaderAccessTest, FullSectionAreaLeavesTheDirectoryUnchanged) {
  HeaderFixture h;
  auto a = h.Access<Tzf2xFileHeaderAccess>(true);
  int created = 0;
  for (;; ++created) {
    const std::string name = "S" + std::to_string(created);
    if (RaisedCode([&] { a->RegisterHeaderSection(name, 250, true, false); }) != 0) break;
  }
  EXPECT_EQ(15, created);  // 15 sections of 250 bytes and their entries fit below 4091
  const std::vector<uint8_t> before = h.Block;
  const rtl::UnicodeString outcome = StorageOutcome([&] { a->RegisterHeaderSection("Last", 250, true, false); });
  EXPECT_EQ(0u, outcome.find(u"#9473:"));
  EXPECT_NE(rtl::UnicodeString::npos, outcome.find(u"File header is full"));
  EXPECT_EQ(before, h.Block);
  EXPECT_NO_THROW(zf2xCheckSectionDirectory(h.Block.data(), h.File->fiBlockSizeBytes));
}

TEST_F(HeaderAccessTest, ChangesNeedAHeaderObtainedForChange) {
  HeaderFixture h;
  auto a = h.Access<Tzf2xFileHeaderAccess>(false);
  const std::vector<uint8_t> before = h.Block;
  EXPECT_EQ(zfErrWriteErr, RaisedCode([&] { a->RegisterHeaderSection("Stream", 8, true, false); }));
  EXPECT_EQ(before, h.Block);
  EXPECT_EQ(zfErrObjNotFound, RaisedCode([&] { a->RegisterHeaderSection("Stream", 8, false, false); }));
  auto v1 = h.Access<Tzf1xFileHeaderAccess>(false);
  EXPECT_EQ(zfErrWriteErr, RaisedCode([&] { v1->RegisterHeaderSection("Record", 4, true, false); }));
}

TEST_F(HeaderAccessTest, Version1SectionsAreFixed) {
  HeaderFixture h;
  auto a = h.Access<Tzf1xFileHeaderAccess>(true);
  EXPECT_EQ(256, a->RegisterHeaderSection("Encryption", 0, false, false));
  EXPECT_EQ(512, a->RegisterHeaderSection("STREAM", 0, false, false));
  EXPECT_EQ(768, a->RegisterHeaderSection("autoinc", 99, true, false));
  EXPECT_EQ(1024, a->RegisterHeaderSection("rEcOrD", 0, false, false));
  EXPECT_EQ(1280, a->RegisterHeaderSection("Blob", 0, false, true));
  EXPECT_EQ(1536, a->RegisterHeaderSection("Indices", 0, false, false));
  const rtl::UnicodeString outcome = StorageOutcome([&] { a->RegisterHeaderSection("SubHeaders", 4, true, false); });
  EXPECT_EQ(0u, outcome.find(u"#12289:"));
  EXPECT_NE(rtl::UnicodeString::npos, outcome.find(u"Custom HeaderSections are not supported in a v1 header"));
}

TEST_F(HeaderAccessTest, CountsComeFromBlockZero) {
  HeaderFixture h;
  zfPutLE32(h.Block.data() + 32, 77);
  zfPutLE32(h.Block.data() + 28, 5);
  auto a = h.Access<Tzf2xFileHeaderAccess>(false);
  EXPECT_EQ(77u, a->UsedBlockCount());
  EXPECT_EQ(5u, a->FreeBlockCount());
  EXPECT_EQ(77u, h.Factory().GetUsedBlocks(h.Block.data()));
  zfSetBlockLSN(h.Block.data(), 123456789);
  EXPECT_EQ(123456789, a->ReadHeaderLSN());
}

TEST_F(HeaderAccessTest, ChangePasswordWithoutAnEngineIsNotSupported) {
  HeaderFixture h;
  auto a = h.Access<Tzf2xFileHeaderAccess>(true);
  const rtl::UnicodeString outcome = StorageOutcome([&] { a->ChangePassword(u"secret"); });
  EXPECT_EQ(0u, outcome.find(u"#12289:"));
  EXPECT_NE(rtl::UnicodeString::npos, outcome.find(u"ChangePassword not supported by Tzf2xFileHeaderAccess"));
}

// A block of the file: signature, own number and (version 2) owner ID.
std::vector<uint8_t> MakeBlock(const HeaderFixture& h, const char* aSignature, TzfBlockNumber aNumber, int32_t aOwner) {
  std::vector<uint8_t> b(h.File->PhysicalBlockBytes(), 0);
  std::memcpy(b.data(), aSignature, 4);
  zfSetThisBlock(b.data(), aNumber);
  zfPutLE32(b.data() + h.File->fiBlockSizeBytes, static_cast<uint32_t>(aOwner));
  return b;
}

TEST_F(HeaderAccessTest, Version2BlockChecks) {
  HeaderFixture h;
  h.File->fiMaxID = 40;
  struct Case {
    const char* What;
    const char* Signature;
    TzfBlockNumber Stored;
    int32_t Owner;
    TzfBlockNumber Asked;
    int32_t AskedID;      // for VerifyID
    uint32_t Validate;    // expected code of ValidateBlock
    uint32_t Verify;      // expected code of VerifyID
    const char16_t* Text; // part of ValidateBlock's message
  };
  const Case cases[] = {
      {"record block", "ZFDH", 7, 12, 7, 12, 0, 0, nullptr},
      {"wrong number", "ZFDH", 8, 12, 7, 12, zfErrFileCorrupt, zfErrFileCorrupt,
       u"Block 7 is identified as block 8 in the block header in file"},
      {"other owner", "ZFDH", 7, 13, 7, 12, 0, zfErrFileCorrupt, nullptr},
      {"owner above the highest ID", "ZFDH", 7, 41, 7, 41, zfErrFileCorrupt, 0,
       u"Expected BlockOwnerID smaller or equal to 40 but found 41"},
      {"negative owner", "ZFDH", 7, -5, 7, -5, zfErrFileCorrupt, 0, u"but found -5"},
      {"free map owner with another signature", "DEAD", 9, 0x7FFFFFFF, 9, 0, zfErrFileCorrupt, 0,
       u"has the BlockOwnerID of the free block map but has a signature of \"DEAD\""},
      {"free map block", "FBMH", 9, 0x7FFFFFFF, 9, 0x7FFFFFFF, 0, 0, nullptr},
      {"overflow owner with another signature", "ZFDH", 9, 0x7FFFFFFE, 9, 0x7FFFFFFE, zfErrFileCorrupt, 0,
       u"BlockOwnerID of a child header overflow block"},
      {"overflow block fetched as a free map block", "CHOF", 9, 0x7FFFFFFE, 9, 0x7FFFFFFF, 0, zfErrFileCorrupt, nullptr},
      {"free block in the cache, fetched with ID 0", "DEAD", 0, 0, 11, 0, zfErrFileCorrupt, 0, nullptr},
      {"block 0 of another format", "ZF!1", 0, 0, 0, 0, zfErrFileCorrupt, 0, u"Block 0 has not the correct signature"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const std::vector<uint8_t> b = MakeBlock(h, c.Signature, c.Stored, c.Owner);
    EXPECT_EQ(c.Owner, h.Factory().GetID(b.data()));
    const rtl::UnicodeString v = StorageOutcome([&] { h.Factory().ValidateBlock(b.data(), c.Asked); });
    if (c.Validate == 0)
      EXPECT_EQ(u"ok", v);
    else
      EXPECT_EQ(0u, v.find(u"#" + rtl::IntToStr(c.Validate) + u":")) << rtl::u8(v);
    if (c.Text) {
      EXPECT_NE(rtl::UnicodeString::npos, v.find(c.Text)) << rtl::u8(v);
    }
    EXPECT_EQ(c.Verify, RaisedCode([&] { h.Factory().VerifyID(b.data(), c.Asked, c.AskedID); }));
  }
}

TEST_F(HeaderAccessTest, FactoryRegistryAndReserves) {
  EXPECT_EQ(4, TzfBaseFileHeaderAccessFactory::GetAdditionalReservedSpace(zfHeaderSignature2));
  EXPECT_EQ(0, TzfBaseFileHeaderAccessFactory::GetAdditionalReservedSpace(zfHeaderSignature1));
  EXPECT_EQ(zfErrFileHeaderAccessNotSupported,
            RaisedCode([] { TzfBaseFileHeaderAccessFactory::GetAdditionalReservedSpace({'Z', 'F', '!', '3'}); }));
  EXPECT_ANY_THROW(TzfBaseFileHeaderAccessFactory::Register(Tzf2xFileHeaderAccessFactory::ClassInfo(), zfHeaderSignature2));
  TzfDataDictionary dict;
  dict.HeaderSignature = zfHeaderSignature1;
  EXPECT_EQ(zfErrNotSupported, RaisedCode([&] { TzfBaseFileHeaderAccessFactory::CheckValid(dict, true); }));
  EXPECT_EQ(0u, RaisedCode([&] { TzfBaseFileHeaderAccessFactory::CheckValid(dict, false); }));
  dict.HeaderSignature = {'Z', 'F', '!', '3'};
  EXPECT_EQ(zfErrFileHeaderAccessNotSupported,
            RaisedCode([&] { TzfBaseFileHeaderAccessFactory::CheckValid(dict, false); }));
}

TEST(HeaderAccessRegistryTest, NoFactoriesAtAll) {
  // Outside the started layer nothing is registered.
  EXPECT_EQ(zfErrNoFileHeaderAccessFactories,
            RaisedCode([] { TzfBaseFileHeaderAccessFactory::GetAdditionalReservedSpace(zfHeaderSignature2); }));
}

}  // namespace
}  // namespace zf::test
