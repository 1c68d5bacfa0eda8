// Indexes in a real table file: the indices engine and its trees over the storage layer's block
// access and transactions; committed trees reopen and verify, rolled-back changes vanish.
#include <gtest/gtest.h>

#include "dictionary/zfsdKeyDescriptor.h"
#include "index/zfseIndexEngineStaticKeyBstarTree.h"
#include "index/zfseIndexFileBlockAccess.h"
#include "index/zfsrIndexStartup.h"
#include "storage/zfsrTimeoutHandling.h"
#include "tests/index/zfsrIndexTestUtil.h"
#include "tests/storage/zfsrCacheTestSupport.h"

namespace zf::test {
namespace {

class IndexFileTest : public TCacheTest {
 protected:
  void SetUp() override {
    zfStartIndex();
    TCacheTest::SetUp();
    zfSetTimeout(0, true);
    AddTestField(*Table.Fields, u"A", zftInt32);
    AddTestField(*Table.Fields, u"B", zftWideString, 12);
    for (int32_t i = 0; i < 2; ++i) {
      Keys.push_back(std::make_unique<TzfCompKeyDescriptor>(&Table));
      Keys.back()->Add(i);
    }
    File = NewFile();
    Access = std::make_unique<TzfBlockAccess>(File, nullptr, u"t", 0);
  }
  void TearDown() override {
    Access.reset();
    TCacheTest::TearDown();
    zfStopIndex();
  }
  std::vector<TzfSimpleIndicesEngine::TIndex> Indexes(TzfIndexNodeStore& aBlocks) {
    std::vector<TzfSimpleIndicesEngine::TIndex> v;
    for (int32_t i = 0; i < 2; ++i) {
      TzfIndexEngineParams p;
      p.IndexNumber = i;
      p.IndexName = i ? u"ByB" : u"ByA";
      p.Dups = i ? idAll : idNone;
      TzfSimpleIndicesEngine::TIndex x;
      x.Engine = std::make_unique<TzfStaticKeyBstarTreeIndexEngine>(
          p, TzfBaseKeyEngine::CreateFor(*Keys[static_cast<size_t>(i)]), aBlocks.UsableBlockSize());
      v.push_back(std::move(x));
    }
    return v;
  }
  std::vector<uint8_t> Record(int32_t i) {
    return MakeRecord(*Table.Fields, {rtl::Variant(i * 7919 % 100003), rtl::Variant(u"v" + rtl::IntToStr(i % 97))});
  }
  // Keys of every index, checked for soundness.
  std::vector<uint32_t> Counts(TzfSimpleIndicesEngine& aEngine) {
    std::vector<uint32_t> r;
    for (int32_t i = 0; i < aEngine.IndexEngineCount(); ++i) {
      auto& e = dynamic_cast<TzfStaticKeyBstarTreeIndexEngine&>(aEngine.GetIndexEngine(i));
      TzfBstarTreeCheckResult c;
      e.CheckTree(aEngine.Store(i), c);
      for (const std::string& p : c.Problems) ADD_FAILURE() << "index " << i << ": " << p;
      r.push_back(c.KeyCount);
    }
    return r;
  }

  TTestTable Table;
  std::vector<std::unique_ptr<TzfCompKeyDescriptor>> Keys;
  TMemFile* File = nullptr;
  std::unique_ptr<TzfBlockAccess> Access;
};

TEST_F(IndexFileTest, TreesLiveInTheTableFile) {
  {
    TTestTrans t(BM.get());
    TzfBlockAccessIndexFile f(*Access, &t, 9, "Indices");
    TzfSimpleIndicesEngine engine({&f}, Indexes(f), true, &t);
    for (int32_t i = 0; i < 3000; ++i) ASSERT_EQ(engine.InsertKeys(i + 1, Record(i).data(), nullptr), 0u);
    ASSERT_EQ(engine.InsertKeys(9999, Record(5).data(), nullptr), zfErrKeyViol);  // A is unique
    EXPECT_EQ(Counts(engine), (std::vector<uint32_t>{3000, 3000}));
    t.Commit();
  }
  {
    // A transaction whose changes are rolled back.
    TTestTrans t(BM.get());
    TzfBlockAccessIndexFile f(*Access, &t, 9, "Indices");
    TzfSimpleIndicesEngine engine({&f}, Indexes(f), false, &t);
    for (int32_t i = 0; i < 500; ++i) ASSERT_EQ(engine.DeleteKeys(i + 1, Record(i).data(), nullptr), 0u);
    EXPECT_EQ(Counts(engine), (std::vector<uint32_t>{2500, 2500}));
    t.Rollback();
  }
  {
    TTestTrans t(BM.get());
    TzfBlockAccessIndexFile f(*Access, &t, 9, "Indices");
    TzfSimpleIndicesEngine engine({&f}, Indexes(f), false, &t);
    EXPECT_EQ(Counts(engine), (std::vector<uint32_t>{3000, 3000}));
    auto& e = engine.GetIndexEngine(0);
    auto path = e.CreateIndexPath();
    auto key = std::vector<uint8_t>(e.bieKeyEngine->bkeKeyLength);
    ASSERT_EQ(e.bieKeyEngine->BuildKey(Record(1234).data(), key.data(), 0, true), 0u);
    ASSERT_TRUE(e.FindKey(engine.Store(0), key.data(), 0, 0, 0, *path, skaEqualFirst, nullptr));
    EXPECT_EQ(path->RefNr, 1235);
    t.Commit();
  }
  {
    // A file without the section does not open.
    TMemFile* other = NewFile(u"/tmp/other.dvl7");
    TzfBlockAccess otherAccess(other, nullptr, u"o", 0);
    TTestTrans t(BM.get());
    TzfBlockAccessIndexFile f(otherAccess, &t, 9, "Indices");
    try {
      TzfSimpleIndicesEngine engine({&f}, Indexes(f), false, &t);
      ADD_FAILURE() << "opened without an index header";
    } catch (const EzfBaseException& ex) {
      EXPECT_EQ(ex.GetErrorCode(), zfErrHeaderCorrupt);
    }
    t.Rollback();
  }
}

}  // namespace
}  // namespace zf::test
