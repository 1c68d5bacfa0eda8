// Table file headers: block 0 of both versions byte by byte, created, closed and read back.
#include <gtest/gtest.h>

#include "storage/zfseHeaderAccess.h"
#include "zfsrTestUtil.h"

namespace zf::test {
namespace {

class FileHeaderTest : public StorageStarted {};

TEST_F(FileHeaderTest, NewVersion2FileReadsBackEveryField) {
  TempDir dir;
  const rtl::UnicodeString name = dir.File("t.dvl7");
  CreateTableFile(name, zfHeaderSignature2, TzfBlockSize::zfbs4k, [](TzfBaseFile& f) {
    f.fiStreamEngineName = u"zf1xDefault";
    f.fiZofrinVersion = 30000;
  });
  std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, name, nullptr);
  file->OpenFile(omReadOnly, smShared, false, false);
  bool readOnly = true;
  ASSERT_EQ(0u, file->ReadHeader({}, readOnly));
  EXPECT_FALSE(readOnly);
  EXPECT_EQ(zfHeaderSignature2, file->fiHeaderSignature);
  EXPECT_EQ(TzfBlockSize::zfbs4k, file->fiBlockSize);
  EXPECT_EQ(4092u, file->fiBlockSizeBytes);
  EXPECT_EQ(1u, file->fiUsedBlocks);
  EXPECT_EQ(30000, file->fiZofrinVersion);
  EXPECT_EQ(u"", file->fiEncryptionEngineName);
  EXPECT_EQ(u"zf1xDefault", file->fiStreamEngineName);
  EXPECT_GT(file->fiMaxBlocks, 0u);
  file->CloseFile();
}

}  // namespace
}  // namespace zf::test
