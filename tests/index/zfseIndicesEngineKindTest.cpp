// The indices engine found by name and built from a table's indices descriptor over the table's
// file: keys kept through transactions, the engine reopened over what was committed, and the
// descriptors whose names or files are not there refused.
#include <gtest/gtest.h>

#include "dictionary/zfsdKeyDescriptor.h"
#include "index/zfseIndexEngineStaticKeyBstarTree.h"
#include "index/zfseIndicesEngineKind.h"
#include "index/zfsrIndexStartup.h"
#include "storage/zfsrTimeoutHandling.h"
#include "tests/index/zfsrIndexTestUtil.h"
#include "tests/storage/zfsrCacheTestSupport.h"
#include "tests/storage/zfsrTestUtil.h"

namespace zf::test {
namespace {

class IndicesEngineKindTest : public TCacheTest {
 protected:
  void SetUp() override {
    zfStartIndex();
    TCacheTest::SetUp();
    zfSetTimeout(0, true);
    AddTestField(*Table.Fields, u"A", zftInt32);
    AddTestField(*Table.Fields, u"B", zftWideString, 12);
    dynamic_cast<TzfCompKeyDescriptor*>(Table.Indices->AddIndex(u"ByA", 0, idNone, u"")->idKeyDescriptor.get())->Add(0);
    dynamic_cast<TzfCompKeyDescriptor*>(Table.Indices->AddIndex(u"ByB", 0, idAll, u"")->idKeyDescriptor.get())->Add(1);
    Table.Indices->diID = 9;
    File = NewFile();
    Access = std::make_unique<TzfBlockAccess>(File, nullptr, u"t", 0);
  }
  void TearDown() override {
    Access.reset();
    TCacheTest::TearDown();
    zfStopIndex();
  }
  std::vector<uint8_t> Record(int32_t i) {
    return MakeRecord(*Table.Fields, {rtl::Variant(i * 7919 % 100003), rtl::Variant(u"v" + rtl::IntToStr(i % 97))});
  }
  std::vector<uint32_t> Counts(TzfSimpleIndicesEngine& aEngine) {
    std::vector<uint32_t> r;
    for (int32_t i = 0; i < aEngine.IndexEngineCount(); ++i) {
      uint32_t n = 0;
      aEngine.GetIndexEngine(i).GetKeyCount(aEngine.Store(i), n);
      r.push_back(n);
    }
    return r;
  }

  TTestTable Table;
  TMemFile* File = nullptr;
  std::unique_ptr<TzfBlockAccess> Access;
};

TEST_F(IndicesEngineKindTest, BuiltFromTheDescriptorKeepsKeysAcrossTransactions) {
  TzfBaseIndicesEngine::CheckValidBaseFromDescriptor(Table.Indices.get());
  std::unique_ptr<TzfBaseIndicesEngine> engine;
  {
    TTestTrans t(BM.get());
    engine = TzfBaseIndicesEngine::CreateEngine(Table.Indices.get(), {Access.get()}, &t);
    ASSERT_NE(dynamic_cast<TzfSimpleIndicesSubEngine*>(engine.get()), nullptr);
    ASSERT_EQ(engine->Indices().IndexEngineCount(), 2);
    EXPECT_NE(dynamic_cast<TzfStaticKeyBstarTreeIndexEngine*>(&engine->Indices().GetIndexEngine(1)), nullptr);
    for (int32_t i = 0; i < 500; ++i) ASSERT_EQ(engine->Indices().InsertKeys(i + 1, Record(i).data(), nullptr), 0u);
    t.Commit();
  }
  {
    // The same engine in a later transaction, its changes rolled back.
    TTestTrans t(BM.get());
    engine->SetTransaction(&t);
    ASSERT_EQ(engine->Indices().InsertKeys(9999, Record(5).data(), nullptr), zfErrKeyViol);  // A is unique
    for (int32_t i = 0; i < 100; ++i) ASSERT_EQ(engine->Indices().DeleteKeys(i + 1, Record(i).data(), nullptr), 0u);
    EXPECT_EQ(Counts(engine->Indices()), (std::vector<uint32_t>{400, 400}));
    t.Rollback();
  }
  engine.reset();
  // Opened again (no transaction): every header verified, the committed keys there.
  engine = TzfBaseIndicesEngine::CreateEngine(Table.Indices.get(), {Access.get()}, nullptr);
  EXPECT_EQ(Counts(engine->Indices()), (std::vector<uint32_t>{500, 500}));
}

TEST_F(IndicesEngineKindTest, BadDescriptorsRefused) {
  // A file never given the indices section does not open.
  EXPECT_EQ(RaisedCode([&] { TzfBaseIndicesEngine::CreateEngine(Table.Indices.get(), {Access.get()}, nullptr); }),
            zfErrHeaderCorrupt);
  // An index in a file the table does not have.
  Table.Indices->IndexDescriptor[1]->idFileNumber = 3;
  EXPECT_EQ(RaisedCode([&] {
              TTestTrans t(BM.get());
              TzfBaseIndicesEngine::CreateEngine(Table.Indices.get(), {Access.get()}, &t);
            }),
            zfErrInvalidDesc);
  Table.Indices->IndexDescriptor[1]->idFileNumber = 0;
  // Names nobody registered, for the indices engine or an index engine.
  Table.Indices->IndexDescriptor[0]->idIndexEngine = u"NoSuchIndex";
  EXPECT_EQ(RaisedCode([&] { TzfBaseIndicesEngine::CheckValidBaseFromDescriptor(Table.Indices.get()); }),
            zfErrSubEngineNotSupported);
  Table.Indices->IndexDescriptor[0]->idIndexEngine = zfDefaultEngineName;
  Table.Indices->IndicesEngine = u"NoSuchIndices";
  EXPECT_EQ(RaisedCode([&] { TzfBaseIndicesEngine::CheckValidBaseFromDescriptor(Table.Indices.get()); }),
            zfErrSubEngineNotSupported);
  EXPECT_EQ(RaisedCode([&] { TzfBaseIndicesEngine::CreateEngine(Table.Indices.get(), {Access.get()}, nullptr); }),
            zfErrSubEngineNotSupported);
  EXPECT_EQ(TzfBaseIndicesEngine::CreateEngine(nullptr, {Access.get()}, nullptr), nullptr);
}

}  // namespace
}  // namespace zf::test
