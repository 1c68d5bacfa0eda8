// The indices engine found by name and built from a table's indices descriptor over the table's
// file: keys kept through transactions, the engine reopened over what was committed, and the
// descriptors whose names or files are not there refused.
#include <gtest/gtest.h>

#include "dictionary/zfsdKeyDescriptor.h"
#include "index/zfseIndexEngineStaticKeyBstarTree.h"
#include "index/zfseIndicesEngineKind.h"
#include "index/zfsrIndexStartup.h"
#include "storage/zfseRecordEngineStatic.h"
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

// The reference numbers of index i in index order; the tree is checked on the way.
std::vector<int64_t> IndexRefs(TzfBaseIndicesEngine& aEngine, int32_t i) {
  auto& e = dynamic_cast<TzfStaticKeyBstarTreeIndexEngine&>(aEngine.GetIndexEngine(i));
  TzfBstarTreeCheckResult check;
  e.CheckTree(aEngine.Indices().Store(i), check);
  EXPECT_TRUE(check.Problems.empty()) << (check.Problems.empty() ? "" : check.Problems[0]);
  std::vector<int64_t> refs;
  auto path = e.CreateIndexPath();
  e.Iterate(aEngine.Indices().Store(i), *path, nullptr,
            [&](const uint8_t*, int64_t aRef) {
              refs.push_back(aRef);
              return kirContinue;
            },
            nullptr, TzfRangeInfo{}, TzfRangeInfo{}, nullptr, nullptr);
  return refs;
}

// A scan keeps its transaction locked from start to end, so the level it reads cannot be ended
// under it; the lock is given back when the scan ends, also when it raises.
TEST_F(IndicesEngineKindTest, ScansLockTheTransaction) {
  TTestTrans t(BM.get());
  auto engine = TzfBaseIndicesEngine::CreateEngine(Table.Indices.get(), {Access.get()}, &t);
  for (int32_t i = 0; i < 300; ++i) ASSERT_EQ(engine->Indices().InsertKeys(i + 1, Record(i).data(), nullptr), 0u);
  auto& e = dynamic_cast<TzfStaticKeyBstarTreeIndexEngine&>(engine->Indices().GetIndexEngine(0));
  auto path = e.CreateIndexPath();
  for (bool forward : {true, false}) {
    SCOPED_TRACE(forward);
    int32_t seen = 0, locked = 0;
    auto scan = [&](bool aRaise) {
      const TzfIndexKeyIterator keys = [&](const uint8_t*, int64_t) {
        ++seen;
        if (t.LevelLocked()) ++locked;
        if (aRaise && seen == 10) throw EzfBaseIndexEngineException(zfErrNotSupported, u"stop");
        return kirContinue;
      };
      if (forward)
        e.Iterate(engine->Indices().Store(0), *path, nullptr, keys, nullptr, TzfRangeInfo{}, TzfRangeInfo{}, nullptr,
                  nullptr);
      else
        e.IterateBackward(engine->Indices().Store(0), *path, nullptr, keys, nullptr, TzfRangeInfo{}, TzfRangeInfo{},
                          nullptr, nullptr);
    };
    EXPECT_FALSE(t.LevelLocked());
    scan(false);
    EXPECT_EQ(seen, 300);
    EXPECT_EQ(locked, 300);
    EXPECT_FALSE(t.LevelLocked());
    seen = locked = 0;
    EXPECT_THROW(scan(true), EzfBaseIndexEngineException);
    EXPECT_EQ(locked, 10);
    EXPECT_FALSE(t.LevelLocked());
  }
  path.reset();
  engine.reset();
  t.Rollback();
}

// Indexes made for, and added to, a table whose records already exist: they index those records
// (through the table's record engine), a unique index over equal keys is refused as a whole, and
// paths placed by reference find their keys from the records.
TEST_F(IndicesEngineKindTest, IndexesOverExistingRecords) {
  std::unique_ptr<TzfBaseRecordEngine> records;
  std::vector<int64_t> refs;
  {
    TTestTrans t(BM.get());
    records = std::make_unique<TzfStaticRecordEngine>(nullptr, Table.Fields.get(), &t, TzfBlockAccessList{Access.get()});
    for (int32_t i = 0; i < 400; ++i) {
      int64_t ref = 0;
      records->AddRecord(&t, ref, Record(i).data());
      refs.push_back(ref);
    }
    t.Commit();
  }
  std::vector<int64_t> sorted = refs;
  std::sort(sorted.begin(), sorted.end());
  auto sortedRefs = [](std::vector<int64_t> v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  std::unique_ptr<TzfBaseIndicesEngine> engine;
  {
    // The first indexes of a table with records: every index holds every record at once.
    TTestTrans t(BM.get());
    engine = TzfBaseIndicesEngine::CreateEngine(Table.Indices.get(), {Access.get()}, records.get(), &t, true);
    ASSERT_EQ(engine->IndexEngineCount(), 2);
    EXPECT_EQ(Counts(engine->Indices()), (std::vector<uint32_t>{400, 400}));
    EXPECT_EQ(sortedRefs(IndexRefs(*engine, 0)), sorted);
    EXPECT_EQ(sortedRefs(IndexRefs(*engine, 1)), sorted);
    // A third index, on (B, A), added after the descriptor gained it.
    auto* k = dynamic_cast<TzfCompKeyDescriptor*>(Table.Indices->AddIndex(u"ByBA", 0, idNone, u"")->idKeyDescriptor.get());
    k->Add(1);
    k->Add(0);
    EXPECT_EQ(RaisedCode([&] { engine->AddIndex(&t, 1); }), zfErrIndexNumberOutOfRange);
    engine->AddIndex(&t, 2);
    ASSERT_EQ(engine->IndexEngineCount(), 3);
    EXPECT_EQ(sortedRefs(IndexRefs(*engine, 2)), sorted);
    EXPECT_EQ(RaisedCode([&] { engine->AddIndex(&t, 2); }), zfErrIndexNumberOutOfRange);
    // Index 1 and 2 in order of B: the same records, and maintenance goes on in all three.
    int64_t ref = 0;
    records->AddRecord(&t, ref, Record(400).data());
    ASSERT_EQ(engine->Indices().InsertKeys(ref, Record(400).data(), nullptr), 0u);
    EXPECT_EQ(Counts(engine->Indices()), (std::vector<uint32_t>{401, 401, 401}));
    t.Commit();
  }
  {
    // A unique index on B, whose values repeat, is refused as a whole: 9729 with the engine as it
    // was; the transaction is rolled back by its owner.
    TTestTrans t(BM.get());
    dynamic_cast<TzfCompKeyDescriptor*>(Table.Indices->AddIndex(u"UniqueB", 0, idNone, u"")->idKeyDescriptor.get())
        ->Add(1);
    EXPECT_EQ(RaisedCode([&] { engine->AddIndex(&t, 3); }), zfErrKeyViol);
    EXPECT_EQ(engine->IndexEngineCount(), 3);
    t.Rollback();
    Table.Indices->RemoveIndex(u"UniqueB");
    // Without aAddToExisting the index starts empty (a rebuild fills it later).
    TTestTrans t2(BM.get());
    dynamic_cast<TzfCompKeyDescriptor*>(Table.Indices->AddIndex(u"Later", 0, idAll, u"")->idKeyDescriptor.get())->Add(0);
    engine->AddIndex(&t2, 3, false);
    EXPECT_EQ(Counts(engine->Indices()), (std::vector<uint32_t>{401, 401, 401, 0}));
    // Removing index 1 after the descriptor dropped it: the later ones move down.
    EXPECT_EQ(RaisedCode([&] { engine->RemoveIndex(&t2, 1); }), zfErrIndexNumberOutOfRange);
    Table.Indices->RemoveIndex(u"ByB");
    engine->RemoveIndex(&t2, 1);
    EXPECT_EQ(Counts(engine->Indices()), (std::vector<uint32_t>{401, 401, 0}));
    EXPECT_EQ(sortedRefs(IndexRefs(*engine, 1)).size(), 401u);
    t2.Rollback();
  }
}

// A path placed on a record by its reference alone gets its key from the record when it is
// revalidated; without records it has nothing to look for and is cleared.
TEST_F(IndicesEngineKindTest, PathPlacedByReferenceFindsItsKey) {
  TTestTrans t(BM.get());
  TzfStaticRecordEngine records(nullptr, Table.Fields.get(), &t, TzfBlockAccessList{Access.get()});
  std::vector<int64_t> refs;
  for (int32_t i = 0; i < 300; ++i) {
    int64_t ref = 0;
    records.AddRecord(&t, ref, Record(i).data());
    refs.push_back(ref);
  }
  auto engine = TzfBaseIndicesEngine::CreateEngine(Table.Indices.get(), {Access.get()}, &records, &t, true);
  TzfBaseIndexEngine& byB = engine->GetIndexEngine(1);
  TzfIndexNodeStore& store = engine->Indices().Store(1);
  auto path = byB.CreateIndexPath();
  path->SetToRefNr(refs[123]);
  byB.ValidateIndexPath(store, *path);
  ASSERT_EQ(path->CheckCurrentState(), 0u);
  EXPECT_EQ(path->RefNr, refs[123]);
  std::vector<uint8_t> want(byB.bieKeyEngine->bkeKeyLength);
  ASSERT_EQ(byB.bieKeyEngine->BuildKey(Record(123).data(), want.data(), refs[123], true), 0u);
  EXPECT_TRUE(path->KeyValid);
  EXPECT_EQ(byB.bieKeyEngine->CompareKey(path->Key, want.data(), 0, 0), 0);
  // The walk goes on from there in key order: the next key is not below this one.
  ASSERT_TRUE(byB.NextKey(store, *path, nullptr));
  EXPECT_GE(byB.bieKeyEngine->CompareKey(path->Key, want.data(), 0, 0), 0);
  // A record whose entry was deleted from the index: the path lands on the crack, deleted.
  ASSERT_EQ(engine->Indices().DeleteKeys(refs[7], Record(7).data(), nullptr), 0u);
  path->SetToRefNr(refs[7]);
  byB.ValidateIndexPath(store, *path);
  EXPECT_EQ(path->CheckCurrentState(), zfErrKeyOrRecDeleted);
  // A reference no record has: the record engine's error, the path unchanged.
  path->SetToRefNr(refs[5] + 1000);
  EXPECT_NE(RaisedCode([&] { byB.ValidateIndexPath(store, *path); }), 0u);
  EXPECT_TRUE(path->IsOnKey());
  EXPECT_FALSE(path->KeyValid);
  EXPECT_EQ(path->RefNr, refs[5] + 1000);
  // Without a record engine such a path is cleared.
  engine->Indices().SetRecordEngine(nullptr);
  path->SetToRefNr(refs[123]);
  byB.ValidateIndexPath(store, *path);
  EXPECT_EQ(path->CheckCurrentState(), zfErrNoCurrRec);
  path.reset();
  engine.reset();
  t.Rollback();
}

// The header values through a header access, the files, and the changes only an access obtained
// for change may make.
TEST_F(IndicesEngineKindTest, HeaderAccessAndFiles) {
  TTestTrans t(BM.get());
  auto engine = TzfBaseIndicesEngine::CreateEngine(Table.Indices.get(), {Access.get()}, &t);
  for (int32_t i = 0; i < 300; ++i) ASSERT_EQ(engine->Indices().InsertKeys(i + 1, Record(i).data(), nullptr), 0u);
  EXPECT_EQ(&engine->GetFile(0), Access.get());
  EXPECT_EQ(engine->IndexFileCount(), 1);
  EXPECT_THROW(engine->GetFile(1), rtl::ERangeError);
  EXPECT_THROW(engine->GetFile(-1), rtl::ERangeError);
  TzfBaseIndexEngine& byB = engine->GetIndexEngine(1);
  TzfIndexNodeStore& store = engine->Indices().Store(1);
  {
    auto ha = engine->CreateIndexHeaderAccess(&t, byB, false, false, 1, 3);
    EXPECT_EQ(ha->GetRootNode(), store.GetRootNode());
    EXPECT_EQ(ha->GetNodeCount(), store.GetNodeCount());
    EXPECT_EQ(ha->GetStoredKeyCount(), 300u);
    EXPECT_EQ(ha->bhaFieldCount, 1);
    EXPECT_EQ(ha->bhaPartialLen, 3);
    EXPECT_EQ(&ha->bhaIndex, &byB);
    EXPECT_NE(ha->FileHeaderAccess(), nullptr);
    EXPECT_EQ(RaisedCode([&] { ha->SetStoredKeyCount(1); }), zfErrWriteErr);
  }
  {
    auto ha = engine->CreateIndexHeaderAccess(&t, byB, true, true, 0, 0);
    ha->SetStoredKeyCount(299);
  }
  EXPECT_EQ(store.GetStoredKeyCount(), 299u);
  // Index 0's values are its own.
  auto ha0 = engine->CreateIndexHeaderAccess(&t, engine->GetIndexEngine(0), false, false, 0, 0);
  EXPECT_EQ(ha0->GetStoredKeyCount(), 300u);
  ha0.reset();
  engine.reset();
  t.Rollback();
}

}  // namespace
}  // namespace zf::test
