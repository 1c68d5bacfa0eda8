// Free blocks of both header versions and nested-table headers: the order blocks are reused in,
// the images freed blocks reach the disk with, and damaged chains, counts and maps.
#include <gtest/gtest.h>

#include "zfsrCacheTestSupport.h"

namespace zf::test {
namespace {

class FreeBlocksTest : public TCacheTest {
 protected:
  struct Session {
    Session(TzfBufferManager* aBM, TMemFile* aFile) : Trans(aBM), Access(aFile, nullptr, u"t", 0) {
      Header.reset(Access.HeaderAccess(&Trans, true));
    }
    TzfBlockNumber New(int32_t aID = 1) {
      TzfReleaseMethod rm;
      PzfBlock p = Header->GetNewBlock(&Trans, aID, rm);
      std::memcpy(p, "TEST", 4);
      std::memset(p + 16, 0xAB, Access.BlockSizeBytes() - 16);
      TzfBlockNumber n = zfGetLE32(p + 4);
      rm(p);
      return n;
    }
    void Free(TzfBlockNumber aNumber, int32_t aID = 1) {
      TzfReleaseMethod rm;
      PzfBlock p = Access.GetBlock(&Trans, aNumber, aID, true, rm);
      Header->DeleteBlock(&Trans, p);
      rm(p);
    }
    void Commit() {
      Header.reset();
      Trans.Commit();
    }
    TTestTrans Trans;
    TzfBlockAccess Access;
    std::unique_ptr<TzfBaseFileHeaderAccess> Header;
  };

  std::vector<uint32_t> CacheEntries(TMemFile* aFile) {
    auto b0 = aFile->DiskBlock(0);
    std::vector<uint32_t> v;
    for (uint32_t i = 0; i < zfGetLE32(b0.data() + 28); ++i) v.push_back(zfGetLE32(b0.data() + 104 + 4 * i));
    return v;
  }

  // A version-1 file built from the header's byte table: "ZF!1", 4 KB blocks, usable 4096,
  // no free blocks (head 0xFFFFFFFF, count 0), one used block, engine version 30900.
  TMemFile* NewVersion1File() {
    auto f = std::make_unique<TMemFile>();
    f->fiName = u"/tmp/v1.dvl7";
    f->fiPath = u"/tmp/";
    std::vector<uint8_t> b0(4096, 0);
    std::memcpy(b0.data(), "ZF!1", 4);
    b0[16] = 0;
    zfPutLE32(b0.data() + 20, 4096);
    zfPutLE32(b0.data() + 24, 0xFFFFFFFF);
    zfPutLE32(b0.data() + 28, 0);
    zfPutLE32(b0.data() + 32, 1);
    zfPutLE32(b0.data() + 36, 30900);
    f->WriteDisk(0, b0.data());
    return AttachFile(std::move(f));
  }
};

TEST_F(FreeBlocksTest, Version2FreesSpillIntoAMapBlockAndComeBackInOrder) {
  TMemFile* f = NewFile();
  std::vector<TzfBlockNumber> n;
  {
    Session s(BM.get(), f);
    for (int i = 0; i < 21; ++i) n.push_back(s.New());
    s.Commit();
  }
  {
    Session s(BM.get(), f);
    for (int i = 0; i < 21; ++i) s.Free(n[size_t(i)]);
    s.Commit();
  }
  // 20 went to the cache; the 21st spilled the top 15 into itself, now the first map block.
  EXPECT_EQ(CacheEntries(f), std::vector<uint32_t>(n.begin(), n.begin() + 5));
  auto b0 = f->DiskBlock(0);
  EXPECT_EQ(zfGetLE32(b0.data() + 24), n[20]);
  auto map = f->DiskBlock(n[20]);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(map.data()), 4), "FBMH");
  EXPECT_EQ(zfGetLE32(map.data() + 4), n[20]);
  EXPECT_EQ(zfGetLE32(map.data() + 16), 0xFFFFFFFFu);
  EXPECT_EQ(zfGetLE32(map.data() + 20), (4092u - 28) / 4);
  ASSERT_EQ(zfGetLE32(map.data() + 24), 15u);
  for (uint32_t i = 0; i < 15; ++i) EXPECT_EQ(zfGetLE32(map.data() + 28 + 4 * i), n[5 + i]);
  EXPECT_EQ(zfGetLE32(map.data() + 4092), uint32_t(kzfOwnerFreeBlockMap));
  // A freed block reaches the disk as a free block: "DEAD", its number, owner 0, zeros.
  auto dead = f->DiskBlock(n[3]);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(dead.data()), 4), "DEAD");
  EXPECT_EQ(zfGetLE32(dead.data() + 4), n[3]);
  for (size_t i = 16; i < dead.size(); ++i) ASSERT_EQ(dead[i], 0) << "offset " << i;

  // Reuse: the cache top first, then a refill that empties the map block, which is handed out.
  Session s(BM.get(), f);
  std::vector<TzfBlockNumber> got;
  for (int i = 0; i < 6; ++i) got.push_back(s.New(7));
  EXPECT_EQ(got, (std::vector<TzfBlockNumber>{n[4], n[3], n[2], n[1], n[0], n[20]}));
  for (int i = 0; i < 15; ++i) got.push_back(s.New(7));
  for (int i = 0; i < 15; ++i) EXPECT_EQ(got[size_t(6 + i)], n[size_t(19 - i)]);
  const uint32_t used = f->fiTransUsedBlocks;
  EXPECT_EQ(s.New(7), used) << "with nothing free the file grows";
  s.Commit();
  EXPECT_EQ(zfGetLE32(f->DiskBlock(0).data() + 24), 0xFFFFFFFFu);
  EXPECT_EQ(zfGetLE32(f->DiskBlock(n[20]).data() + 4092), 7u) << "the map block now belongs to its new owner";
}

TEST_F(FreeBlocksTest, RefillFromASmallMapBlockReturnsTheEmptiedMapBlock) {
  TMemFile* f = NewFile();
  std::vector<TzfBlockNumber> n;
  {
    Session s(BM.get(), f);
    for (int i = 0; i < 21; ++i) n.push_back(s.New());
    for (int i = 0; i < 21; ++i) s.Free(n[size_t(i)]);
    for (int i = 0; i < 5; ++i) s.New();  // the cache is empty, the map at n[20] holds 15
    s.Commit();
  }
  // The map keeps 3 of its entries (n[5], n[6], n[7]), as a file may hold it.
  BM->RemoveFile(f);
  std::unique_ptr<TMemFile> owned = std::move(Files.back());
  Files.pop_back();
  auto map = owned->DiskBlock(n[20]);
  zfPutLE32(map.data() + 24, 3);
  owned->WriteDisk(n[20], map.data());
  owned->fiHeaderAccessFactory.reset();
  TMemFile* g = AttachFile(std::move(owned));
  Session s(BM.get(), g);
  EXPECT_EQ(s.New(9), n[20]) << "the map block emptied by the refill is the new block";
  EXPECT_EQ(s.Header->FreeBlockCount(), 3u);
  EXPECT_EQ(s.New(), n[7]);
  EXPECT_EQ(s.New(), n[6]);
  EXPECT_EQ(s.New(), n[5]);
  const uint32_t used = g->fiTransUsedBlocks;
  EXPECT_EQ(s.New(), used) << "nothing free: the file grows";
}

TEST_F(FreeBlocksTest, Version1ChainIsLastInFirstOut) {
  TMemFile* f = NewVersion1File();
  std::vector<TzfBlockNumber> n;
  {
    Session s(BM.get(), f);
    for (int i = 0; i < 3; ++i) n.push_back(s.New());
    EXPECT_EQ(n, (std::vector<TzfBlockNumber>{1, 2, 3}));
    s.Free(2, 0);
    s.Free(3, 0);
    s.Commit();
  }
  auto b0 = f->DiskBlock(0);
  EXPECT_EQ(zfGetLE32(b0.data() + 24), 3u);
  EXPECT_EQ(zfGetLE32(b0.data() + 28), 2u);
  auto dead = f->DiskBlock(3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(dead.data()), 4), "DEAD");
  EXPECT_EQ(zfGetLE32(dead.data() + 16), 2u);
  Session s(BM.get(), f);
  EXPECT_EQ(s.New(), 3u);
  EXPECT_EQ(s.New(), 2u);
  EXPECT_EQ(s.New(), 4u);
}

TEST_F(FreeBlocksTest, DamagedFreeBlockStructuresAreRefused) {
  struct Case {
    const char* name;
    std::function<void(TMemFile*, std::vector<TzfBlockNumber>&)> damage;
    uint32_t code;
  };
  const std::vector<Case> cases = {
      {"cache entry beyond the file",
       [](TMemFile* f, std::vector<TzfBlockNumber>&) {
         auto b0 = f->DiskBlock(0);
         zfPutLE32(b0.data() + 28, 1);
         zfPutLE32(b0.data() + 104, 9999);
         f->WriteDisk(0, b0.data());
       },
       8962},
      {"map block count above its capacity",
       [](TMemFile* f, std::vector<TzfBlockNumber>& n) {
         auto m = f->DiskBlock(n[20]);
         zfPutLE32(m.data() + 24, 5000);
         f->WriteDisk(n[20], m.data());
       },
       8962},
      {"map chain through a live block",
       [](TMemFile* f, std::vector<TzfBlockNumber>& n) {
         auto b0 = f->DiskBlock(0);
         zfPutLE32(b0.data() + 24, n[22]);
         f->WriteDisk(0, b0.data());
       },
       8962},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMemFile* f = NewFile(u"/tmp/damaged.dvl7");
    std::vector<TzfBlockNumber> n;
    {
      Session s(BM.get(), f);
      for (int i = 0; i < 23; ++i) n.push_back(s.New());
      for (int i = 0; i < 21; ++i) s.Free(n[size_t(i)]);
      s.Commit();
    }
    {
      Session s(BM.get(), f);
      for (int i = 0; i < 5; ++i) s.New();  // the cache is empty now: the next block refills
      s.Commit();
    }
    // Reattach the damaged image.
    BM->RemoveFile(f);
    std::unique_ptr<TMemFile> owned = std::move(Files.back());
    Files.pop_back();
    c.damage(owned.get(), n);
    owned->fiHeaderAccessFactory.reset();
    TMemFile* g = AttachFile(std::move(owned));
    Session s(BM.get(), g);
    try {
      s.New();
      ADD_FAILURE() << "no error";
    } catch (const EzfBaseException& e) {
      EXPECT_EQ(e.ErrorCode(), c.code);
    }
    s.Header.reset();
    s.Trans.Rollback();
    BM->RemoveFile(g);
    Files.pop_back();
  }
}

TEST_F(FreeBlocksTest, Version1ChainThroughALiveBlockIsRefused) {
  TMemFile* f = NewVersion1File();
  {
    Session s(BM.get(), f);
    s.New();
    s.New();
    s.Commit();
  }
  BM->RemoveFile(f);
  std::unique_ptr<TMemFile> owned = std::move(Files.back());
  Files.pop_back();
  auto b0 = owned->DiskBlock(0);
  zfPutLE32(b0.data() + 24, 2);  // "free" head 2, which holds data
  zfPutLE32(b0.data() + 28, 1);
  owned->WriteDisk(0, b0.data());
  owned->fiHeaderAccessFactory.reset();
  TMemFile* g = AttachFile(std::move(owned));
  Session s(BM.get(), g);
  EXPECT_THROW(s.New(), EzfBaseException);
  s.Header.reset();
  s.Trans.Rollback();
}

class NestedHeadersTest : public FreeBlocksTest {
 protected:
  std::vector<int32_t> SectionIDs(Tzf2xFileHeaderAccess* aHeader) {
    const uint16_t off = aHeader->RegisterHeaderSection("SubHeaders", 253, false, false);
    std::vector<int32_t> ids;
    for (uint32_t i = 0; i < aHeader->Header[off + 252]; ++i) ids.push_back(int32_t(zfGetLE32(aHeader->Header + off + 8 * i)));
    return ids;
  }
};

TEST_F(NestedHeadersTest, HeadersAreCreatedSortedAndOverflowIntoChainBlocks) {
  TMemFile* f = NewFile();
  Session s(BM.get(), f);
  auto* h = dynamic_cast<Tzf2xFileHeaderAccess*>(s.Header.get());
  ASSERT_NE(h, nullptr);
  for (int32_t id : {2, 5, 9}) h->GetHeaderBlockForID(&s.Trans, id);
  const TzfBlockNumber seven = h->GetHeaderBlockForID(&s.Trans, 7);
  EXPECT_EQ(SectionIDs(h), (std::vector<int32_t>{2, 5, 7, 9}));
  EXPECT_EQ(h->GetHeaderBlockForID(&s.Trans, 7), seven) << "found, not created again";
  {
    TzfReleaseMethod rm;
    PzfBlock p = s.Access.GetBlock(&s.Trans, seven, 7, false, rm);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(p), 4), "ZF!2");
    EXPECT_EQ(zfGetLE16(p + 256), 4091);
    EXPECT_EQ(p[258], 0);
    rm(p);
  }
  for (int32_t id = 100; id < 127; ++id) h->GetHeaderBlockForID(&s.Trans, id);  // 31 pairs
  EXPECT_EQ(SectionIDs(h).size(), 31u);
  const TzfBlockNumber big = h->GetHeaderBlockForID(&s.Trans, 1000);
  const uint16_t off = h->RegisterHeaderSection("SubHeaders", 253, false, false);
  const uint32_t first = zfGetLE32(h->Header + off + 248);
  ASSERT_NE(first, 0u);
  {
    TzfReleaseMethod rm;
    PzfBlock o = s.Access.GetBlock(&s.Trans, first, kzfOwnerHeaderOverflow, false, rm);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(o), 4), "CHOF");
    EXPECT_EQ(zfGetLE16(o + 20), (4092 - 24) / 8);
    ASSERT_EQ(zfGetLE16(o + 22), 1);
    EXPECT_EQ(int32_t(zfGetLE32(o + 24)), 1000);
    EXPECT_EQ(zfGetLE32(o + 28), big);
    rm(o);
  }
  // An ID below the section's last pushes the section's last pair into the chain.
  h->GetHeaderBlockForID(&s.Trans, 3);
  EXPECT_EQ(SectionIDs(h).back(), 125);
  EXPECT_EQ(h->GetHeaderBlockForID(&s.Trans, 126), h->GetHeaderBlockForID(&s.Trans, 126));
  // A nested table's accessor finds its header block through the root's.
  TzfBlockAccess nested(f, &s.Access, u"n", 7);
  std::unique_ptr<TzfBaseFileHeaderAccess> nh(nested.HeaderAccess(&s.Trans, false));
  EXPECT_EQ(nested.baHeaderBlock, seven);
  nh.reset();
  s.Commit();
}

TEST_F(NestedHeadersTest, MissingHeadersAndDamagedSectionsWithoutATransaction) {
  TMemFile* f = NewFile();
  TzfBlockAccess access(f, nullptr, u"t", 0);
  {
    std::unique_ptr<TzfBaseFileHeaderAccess> ha(access.HeaderAccess(nullptr, false));
    auto* h = dynamic_cast<Tzf2xFileHeaderAccess*>(ha.get());
    try {
      h->GetHeaderBlockForID(nullptr, 4);
      FAIL();
    } catch (const EzfBaseException& e) {
      EXPECT_EQ(e.ErrorCode(), 8712u) << "no SubHeaders section yet";
    }
  }
  {
    Session s(BM.get(), f);
    dynamic_cast<Tzf2xFileHeaderAccess*>(s.Header.get())->GetHeaderBlockForID(&s.Trans, 4);
    s.Commit();
  }
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(access.HeaderAccess(nullptr, false));
  auto* h = dynamic_cast<Tzf2xFileHeaderAccess*>(ha.get());
  try {
    h->GetHeaderBlockForID(nullptr, 5);
    FAIL();
  } catch (const EzfBaseException& e) {
    EXPECT_EQ(e.ErrorCode(), 8961u);
  }
  // A pair count above 31 read from the file.
  const uint16_t off = h->RegisterHeaderSection("SubHeaders", 253, false, false);
  ha.reset();
  BM->RemoveFile(f);
  std::unique_ptr<TMemFile> owned = std::move(Files.back());
  Files.pop_back();
  auto b0 = owned->DiskBlock(0);
  b0[off + 252] = 40;
  owned->WriteDisk(0, b0.data());
  owned->fiHeaderAccessFactory.reset();
  TMemFile* g = AttachFile(std::move(owned));
  TzfBlockAccess access2(g, nullptr, u"t", 0);
  std::unique_ptr<TzfBaseFileHeaderAccess> ha2(access2.HeaderAccess(nullptr, false));
  try {
    dynamic_cast<Tzf2xFileHeaderAccess*>(ha2.get())->GetHeaderBlockForID(nullptr, 4);
    FAIL();
  } catch (const EzfBaseException& e) {
    EXPECT_EQ(e.ErrorCode(), 8961u);
  }
}

}  // namespace
}  // namespace zf::test
