// The cache over real table files: blocks written by a commit are read back by a new file object,
// and freed blocks reach the disk as free blocks.
#include <gtest/gtest.h>

#include "zfsrCacheTestSupport.h"
#include "zfsrTestUtil.h"

namespace zf::test {
namespace {

using CacheRealFileTest = TCacheTest;

TEST_F(CacheRealFileTest, CommittedBlocksReachTheFileAndComeBack) {
  TempDir dir;
  const UnicodeString name = dir.File("real.dvl7");
  std::vector<TzfBlockNumber> n;
  {
    std::unique_ptr<TzfBaseFile> f = TzfBaseFile::Alloc(true, name, BM.get());
    f->fiZofrinVersion = 30900;
    f->fiMaxBlocks = 1u << 20;
    f->OpenFile(omReadWrite, smExclusive, false, true);
    {
      TTestTrans t(BM.get());
      ASSERT_EQ(f->AddHeader(&t, {}, zfHeaderSignature2), 0u);
      t.Commit();
    }
    {
      TTestTrans t(BM.get());
      TzfBlockAccess access(f.get(), nullptr, u"real", 0);
      std::unique_ptr<TzfBaseFileHeaderAccess> ha(access.HeaderAccess(&t, true));
      for (int i = 0; i < 40; ++i) {
        TzfReleaseMethod rm;
        PzfBlock p = ha->GetNewBlock(&t, 3, rm);
        std::memcpy(p, "TEST", 4);
        std::memset(p + 16, i + 1, f->fiBlockSizeBytes - 16);
        n.push_back(zfGetLE32(p + 4));
        rm(p);
      }
      for (int i = 0; i < 3; ++i) {
        TzfReleaseMethod rm;
        PzfBlock p = access.GetBlock(&t, n[size_t(i)], 3, true, rm);
        ha->DeleteBlock(&t, p);
        rm(p);
      }
      ha.reset();
      t.Commit();
    }
    BM->RemoveFile(f.get());
    f->CloseFile();
  }
  std::unique_ptr<TzfBaseFile> g = TzfBaseFile::Alloc(true, name, BM.get());
  g->OpenFile(omReadWrite, smExclusive, false, false);
  TzfReleaseMethod rm;
  PzfBlock b0 = nullptr;
  bool ro = false;
  ASSERT_EQ(BM->AddFile(g.get(), nullptr, {}, false, rm, b0, ro), 0u);
  EXPECT_EQ(zfGetLE32(b0 + 28), 3u) << "three entries in the free-block cache";
  rm(b0);
  TzfBlockAccess access(g.get(), nullptr, u"real", 0);
  for (size_t i = 3; i < n.size(); ++i) {
    PzfBlock p = access.GetBlock(nullptr, n[i], 3, false, rm);
    ASSERT_EQ(p[100], uint8_t(i + 1));
    rm(p);
  }
  int dead = 0;
  g->IterateBlocks(nullptr, [&](void*, TzfBlockNumber aNr, PzfBlock aBlock, const TzfBlockReadFailure*) {
    if (aBlock && std::memcmp(aBlock, "DEAD", 4) == 0) {
      ++dead;
      EXPECT_EQ(zfGetLE32(aBlock + 4), aNr);
      EXPECT_EQ(aBlock[100], 0) << "no old content in a freed block";
      EXPECT_EQ(zfGetLE32(aBlock + 4092), 0u);
    }
    return birContinue;
  });
  EXPECT_EQ(dead, 3);
  BM->RemoveFile(g.get());
  g->CloseFile();
}

}  // namespace
}  // namespace zf::test
