// The simple indices engine: a table with a unique, a duplicates and a descending text index under
// a locale, kept in step with a model through inserts, modifies and deletes, refused ones included;
// the index header block's bytes; adding and removing indexes; opening checks; bulk builders.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllErrors.h"
#include "index/zfseIndexEngineStaticKeyBstarTree.h"
#include "index/zfseIndexEngineStaticKeyBstarTreeBulk.h"
#include "index/zfseIndexNodeStoreMemory.h"
#include "index/zfseIndicesEngineSimple.h"
#include "index/zfsdKeyEngineComp.h"
#include "storage/zfsrTimeoutHandling.h"
#include "tests/index/zfsrIndexTestUtil.h"

namespace zf::test {
namespace {

// One index file in memory with its indices header section.
class TMemFile : public TzfIndexFileAccess {
 public:
  TzfIndexNodeStore& Blocks() override { return Mem; }
  bool ReadHeaderSection(uint32_t& aBlock) override {
    aBlock = Section;
    return HasSection;
  }
  void WriteHeaderSection(uint32_t aBlock) override {
    HasSection = true;
    Section = aBlock;
  }
  TzfMemoryIndexNodeStore Mem{4092, u"table.idx"};
  bool HasSection = false;
  uint32_t Section = zfIndexNoBlock;
};

// A composite key engine that cannot build the key of one reference number.
class TFailingKeyEngine : public TzfCompKeyEngine {
 public:
  using TzfCompKeyEngine::TzfCompKeyEngine;
  uint32_t BuildKey(const uint8_t* aRecord, uint8_t* aKey, int64_t aRefNr, bool aIgnoreFilter) override {
    if (aRefNr == FailRef) return zfErrInvalidParam;
    return TzfCompKeyEngine::BuildKey(aRecord, aKey, aRefNr, aIgnoreFilter);
  }
  int64_t FailRef = -1;
};

struct TRow {
  int32_t A, B;
  UnicodeString C;
};

const char16_t* const kWords[] = {u"apfel", u"\u00e4rger", u"birne", u"zebra", u"Zimt", u"\u00f6l", u"ofen",
                                  u"mandel", u"Mango", u"kiwi", u"Kern", u"dattel"};

class IndicesEngineTest : public IndexStarted {
 protected:
  IndicesEngineTest() {
    zfSetTimeout(0, true);
    AddTestField(*Table.Fields, u"A", zftInt32);
    AddTestField(*Table.Fields, u"B", zftInt32);
    AddTestField(*Table.Fields, u"C", zftWideString, 10)->AddLocaleDescriptor(nullptr)->SetLocale(1031);
    for (int32_t i = 0; i < 3; ++i) {
      auto k = std::make_unique<TzfCompKeyDescriptor>(&Table);
      k->Add(i)->SetAscend(i != 2);
      Keys.push_back(std::move(k));
    }
  }
  TzfSimpleIndicesEngine::TIndex MakeIndex(int32_t aNumber, int32_t aKey, TzfIndexDups aDups) {
    TzfIndexEngineParams p;
    p.IndexNumber = aNumber;
    p.IndexName = u"I" + rtl::IntToStr(aKey);
    p.FileName = u"table.idx";
    p.Dups = aDups;
    TzfSimpleIndicesEngine::TIndex x;
    x.Engine = std::make_unique<TzfStaticKeyBstarTreeIndexEngine>(p, TzfBaseKeyEngine::CreateFor(*Keys[static_cast<size_t>(aKey)]),
                                                                  File.Mem.UsableBlockSize());
    return x;
  }
  std::vector<TzfSimpleIndicesEngine::TIndex> ThreeIndexes() {
    std::vector<TzfSimpleIndicesEngine::TIndex> v;
    v.push_back(MakeIndex(0, 0, idNone));
    v.push_back(MakeIndex(1, 1, idAll));
    v.push_back(MakeIndex(2, 2, idNone));
    return v;
  }
  std::vector<uint8_t> Record(const TRow& r) {
    return MakeRecord(*Table.Fields, {rtl::Variant(r.A), rtl::Variant(r.B), rtl::Variant(r.C)});
  }
  // The (reference, key) entries of index i in index order.
  std::vector<int64_t> Refs(TzfSimpleIndicesEngine& aEngine, int32_t i) {
    std::vector<int64_t> r;
    auto& e = dynamic_cast<TzfStaticKeyBstarTreeIndexEngine&>(aEngine.GetIndexEngine(i));
    auto path = e.CreateIndexPath();
    e.Iterate(aEngine.Store(i), *path, nullptr,
              [&](const uint8_t*, int64_t ref) {
                r.push_back(ref);
                return kirContinue;
              },
              nullptr, TzfRangeInfo{}, TzfRangeInfo{}, nullptr, nullptr);
    return r;
  }
  // Every index holds exactly the model's records, in its key engine's order, and is sound.
  void ExpectConsistent(TzfSimpleIndicesEngine& aEngine, const std::map<int64_t, TRow>& aModel, const std::string& aWhere) {
    for (int32_t i = 0; i < aEngine.IndexEngineCount(); ++i) {
      auto& e = dynamic_cast<TzfStaticKeyBstarTreeIndexEngine&>(aEngine.GetIndexEngine(i));
      std::vector<std::pair<std::vector<uint8_t>, int64_t>> want;
      for (const auto& [ref, row] : aModel) {
        std::vector<uint8_t> k(e.bieKeyEngine->bkeKeyLength);
        auto rec = Record(row);
        EXPECT_EQ(e.bieKeyEngine->BuildKey(rec.data(), k.data(), ref, true), 0u);
        want.emplace_back(k, ref);
      }
      std::sort(want.begin(), want.end(), [&](const auto& x, const auto& y) {
        const int c = e.bieKeyEngine->CompareKey(x.first.data(), y.first.data(), 0, 0);
        return c != 0 ? c < 0 : x.second < y.second;
      });
      std::vector<int64_t> wantRefs;
      for (const auto& w : want) wantRefs.push_back(w.second);
      EXPECT_EQ(Refs(aEngine, i), wantRefs) << aWhere << " index " << i;
      TzfBstarTreeCheckResult r;
      e.CheckTree(aEngine.Store(i), r);
      for (const std::string& p : r.Problems) ADD_FAILURE() << aWhere << " index " << i << ": " << p;
    }
    EXPECT_EQ(File.Mem.HeldCount(), 0) << aWhere;
    EXPECT_FALSE(aEngine.MarkedCorrupted()) << aWhere;
  }

  TTestTable Table;
  std::vector<std::unique_ptr<TzfCompKeyDescriptor>> Keys;
  TMemFile File;
};

TEST_F(IndicesEngineTest, KeysFollowInsertsModifiesAndDeletesAndRefusalsChangeNothing) {
  TzfSimpleIndicesEngine engine({&File}, ThreeIndexes(), true);
  std::map<int64_t, TRow> model;
  std::mt19937 gen(11);
  int64_t nextRef = 1;
  int refused = 0, done = 0;
  auto clashes = [&](const TRow& r, int64_t aSkip) {
    for (const auto& [ref, x] : model)
      if (ref != aSkip && (x.A == r.A || x.C == r.C)) return true;
    return false;
  };
  auto randomRow = [&] {
    return TRow{static_cast<int32_t>(gen() % 20), static_cast<int32_t>(gen() % 4), kWords[gen() % std::size(kWords)]};
  };
  for (int step = 0; step < 600; ++step) {
    const std::string where = "step " + std::to_string(step);
    const int op = static_cast<int>(gen() % 3);
    if (op == 0 || model.empty()) {
      const TRow row = randomRow();
      const int64_t ref = nextRef++;
      auto rec = Record(row);
      const uint32_t r = engine.InsertKeys(ref, rec.data(), nullptr);
      const bool clash = clashes(row, 0);
      ASSERT_EQ(r, clash ? zfErrKeyViol : 0u) << where;
      if (!clash) model[ref] = row;
      (clash ? refused : done)++;
    } else if (op == 1) {
      auto it = std::next(model.begin(), static_cast<long>(gen() % model.size()));
      TRow row = it->second;
      // Change some fields; sometimes the record also moves (a new reference number).
      if (gen() % 2) row.A = static_cast<int32_t>(gen() % 20);
      if (gen() % 2) row.B = static_cast<int32_t>(gen() % 4);
      if (gen() % 2) row.C = kWords[gen() % std::size(kWords)];
      const int64_t newRef = gen() % 4 == 0 ? nextRef++ : it->first;
      auto oldRec = Record(it->second), newRec = Record(row);
      const uint32_t r = engine.UpdateKeys(it->first, oldRec.data(), newRef, newRec.data(), nullptr);
      const bool clash = clashes(row, it->first);
      ASSERT_EQ(r, clash ? zfErrKeyViol : 0u) << where;
      if (!clash) {
        model.erase(it);
        model[newRef] = row;
      }
      (clash ? refused : done)++;
    } else {
      auto it = std::next(model.begin(), static_cast<long>(gen() % model.size()));
      auto rec = Record(it->second);
      ASSERT_EQ(engine.DeleteKeys(it->first, rec.data(), nullptr), 0u) << where;
      model.erase(it);
      ++done;
    }
    if (step % 25 == 0) ExpectConsistent(engine, model, where);
  }
  ExpectConsistent(engine, model, "end");
  EXPECT_GT(refused, 50);
  EXPECT_GT(done, 200);
}

TEST_F(IndicesEngineTest, RefusedChangesInsideATransactionThatIsRolledBack) {
  TzfSimpleIndicesEngine engine({&File}, ThreeIndexes(), true);
  std::map<int64_t, TRow> model;
  for (int32_t i = 0; i < 8; ++i) {
    TRow r{i, i % 2, kWords[i]};
    ASSERT_EQ(engine.InsertKeys(i + 1, Record(r).data(), nullptr), 0u);
    model[i + 1] = r;
  }
  const auto before = File.Mem.Snapshot();
  // In the transaction: a good insert, then an update refused at the last index (its C exists)
  // after the first two changed, then an insert refused at the first index.
  ASSERT_EQ(engine.InsertKeys(100, Record({50, 1, kWords[9]}).data(), nullptr), 0u);
  auto changed = model;
  changed[100] = {50, 1, kWords[9]};
  ASSERT_EQ(engine.UpdateKeys(3, Record(model[3]).data(), 3, Record({60, 0, kWords[0]}).data(), nullptr), zfErrKeyViol);
  ExpectConsistent(engine, changed, "after the refused update");
  ASSERT_EQ(engine.InsertKeys(101, Record({5, 3, kWords[11]}).data(), nullptr), zfErrKeyViol);
  ExpectConsistent(engine, changed, "after the refused insert");
  // Unchanged key fields touch no index.
  const auto quiet = File.Mem.Snapshot();
  ASSERT_EQ(engine.UpdateKeys(4, Record(model[4]).data(), 4, Record(model[4]).data(), nullptr), 0u);
  EXPECT_TRUE(File.Mem.Snapshot() == quiet);
  File.Mem.Rollback(before);
  ExpectConsistent(engine, model, "after the rollback");
}

TEST_F(IndicesEngineTest, IndexHeaderBlockBytes) {
  TzfSimpleIndicesEngine engine({&File}, ThreeIndexes(), true);
  ASSERT_TRUE(File.HasSection);
  const std::vector<uint8_t>& b = File.Mem.RawBlock(File.Section);
  // Built from the layout: signature, own number, kind 0, key lengths, empty roots.
  EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 4), (std::vector<uint8_t>{'Z', 'F', 'I', 'H'}));
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 4, b.begin() + 8),
            (std::vector<uint8_t>{static_cast<uint8_t>(File.Section), 0, 0, 0}));
  EXPECT_EQ(b[36], 0);
  const uint32_t len0 = engine.GetIndexEngine(0).bieKeyEngine->bkeKeyLength;
  const uint32_t len2 = engine.GetIndexEngine(2).bieKeyEngine->bkeKeyLength;
  EXPECT_EQ(b[40], len0 & 0xFF);
  EXPECT_EQ(b[41], len0 >> 8);
  EXPECT_EQ(b[44], len2 & 0xFF);
  EXPECT_EQ(b[46], 0);  // index 3 has no key length
  for (uint32_t i : {0u, 1u, 2u, 255u})
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 40 + 1536 + 4 * i, b.begin() + 44 + 1536 + 4 * i),
              (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
  ASSERT_EQ(engine.InsertKeys(7, Record({1, 2, kWords[1]}).data(), nullptr), 0u);
  // Index 1: one key (offset 40 + 512 + 4), one node (40 + 2560 + 4), a root.
  EXPECT_EQ(b[40 + 512 + 4], 1);
  EXPECT_EQ(b[40 + 2560 + 4], 1);
  EXPECT_NE(zfGetLE32(b.data() + 40 + 1536 + 4), zfIndexNoBlock);
}

TEST_F(IndicesEngineTest, OpeningVerifiesTheHeader) {
  auto code = [](auto f) {
    try {
      f();
    } catch (const EzfBaseException& e) {
      return e.GetErrorCode();
    }
    return 0u;
  };
  // A file whose section was never written.
  EXPECT_EQ(code([&] { TzfSimpleIndicesEngine e({&File}, ThreeIndexes(), false); }), zfErrHeaderCorrupt);
  { TzfSimpleIndicesEngine made({&File}, ThreeIndexes(), true); }
  EXPECT_EQ(code([&] { TzfSimpleIndicesEngine e({&File}, ThreeIndexes(), false); }), 0u);
  // A stored key length that is not the key engine's.
  zfPutLE16(File.Mem.RawBlock(File.Section).data() + 40 + 2, 3);
  EXPECT_EQ(code([&] { TzfSimpleIndicesEngine e({&File}, ThreeIndexes(), false); }), zfErrHeaderCorrupt);
  // A section pointing at a block that is not an index header block.
  File.Section = 999;
  EXPECT_EQ(code([&] { TzfSimpleIndicesEngine e({&File}, ThreeIndexes(), false); }), zfErrHeaderCorrupt);
}

TEST_F(IndicesEngineTest, AddAndRemoveIndexes) {
  std::vector<TzfSimpleIndicesEngine::TIndex> two;
  two.push_back(MakeIndex(0, 0, idNone));
  two.push_back(MakeIndex(1, 1, idAll));
  TzfSimpleIndicesEngine engine({&File}, std::move(two), true);
  std::map<int64_t, TRow> model;
  for (int32_t i = 0; i < 30; ++i) {
    TRow r{i, i % 3, kWords[i % 12]};
    ASSERT_EQ(engine.InsertKeys(i + 1, Record(r).data(), nullptr), 0u);
    model[i + 1] = r;
  }
  try {
    engine.AddIndex(MakeIndex(5, 2, idNone));
    ADD_FAILURE() << "a wrong index number was accepted";
  } catch (const EzfBaseException& e) {
    EXPECT_EQ(e.GetErrorCode(), zfErrIndexNumberOutOfRange);
  }
  engine.AddIndex(MakeIndex(2, 2, idAll));
  EXPECT_EQ(engine.IndexEngineCount(), 3);
  EXPECT_TRUE(Refs(engine, 2).empty());  // a new index starts empty; the caller fills it
  auto builder = std::unique_ptr<TzfBaseBulkBuilder>(engine.GetIndexEngine(2).CreateBulkBuilder(engine.Store(2)));
  for (const auto& [ref, row] : model) ASSERT_EQ(builder->InsertKey(ref, Record(row).data()), 0u);
  ASSERT_EQ(builder->Finalize(), 0u);
  ExpectConsistent(engine, model, "after the build");
  const std::vector<int64_t> refs2 = Refs(engine, 2);
  const uint32_t root2 = engine.Store(2).GetRootNode(), keys2 = engine.Store(2).GetStoredKeyCount();
  // Removing index 1: the former index 2 moves down with its header values and bookmark identity.
  engine.RemoveIndex(1);
  ASSERT_EQ(engine.IndexEngineCount(), 2);
  EXPECT_EQ(engine.GetIndexEngine(1).bieIndexNumber, 1);
  EXPECT_EQ(engine.GetIndexEngine(1).bieBookmarkHandler->bmhIndexID, 1);
  EXPECT_EQ(engine.Store(1).GetRootNode(), root2);
  EXPECT_EQ(engine.Store(1).GetStoredKeyCount(), keys2);
  EXPECT_EQ(Refs(engine, 1), refs2);
  const uint8_t* b = File.Mem.RawBlock(File.Section).data();
  EXPECT_EQ(zfGetLE32(b + 40 + 1536 + 4 * 2), zfIndexNoBlock);
  EXPECT_EQ(zfGetLE32(b + 40 + 1536 + 4 * 255), zfIndexNoBlock);
  EXPECT_EQ(zfGetLE16(b + 40 + 2 * 255), 0);
  try {
    engine.RemoveIndex(2);
    ADD_FAILURE() << "a wrong index number was accepted";
  } catch (const EzfBaseException& e) {
    EXPECT_EQ(e.GetErrorCode(), zfErrIndexNumberOutOfRange);
  }
  // The remaining indexes still follow the records.
  ASSERT_EQ(engine.DeleteKeys(5, Record(model[5]).data(), nullptr), 0u);
  model.erase(5);
  ExpectConsistent(engine, model, "after the removal");
}

// The records of the test table in memory, as the record engine hands them to the indices engine.
struct TMapRecords : TzfIndexRecordSource {
  uint32_t RecordLength() const override { return Length; }
  void ReadRecord(int64_t aRefNr, uint8_t* aBuffer) override {
    auto it = Rows.find(aRefNr);
    if (it == Rows.end()) throw EzfBaseException(zfErrKeyOrRecDeleted);
    std::copy(it->second.begin(), it->second.end(), aBuffer);
  }
  void IterateRecords(const std::function<bool(int64_t, const uint8_t*)>& aVisit) override {
    for (const auto& [ref, rec] : Rows)
      if (!aVisit(ref, rec.data())) return;
  }
  uint32_t Length = 0;
  std::map<int64_t, std::vector<uint8_t>> Rows;
};

// An index added to a table that holds records indexes them at once; one that cannot (equal keys
// where it forbids them) is refused whole, the engine as before and the blocks left to the rollback.
TEST_F(IndicesEngineTest, AnIndexAddedToExistingRecordsIndexesThem) {
  std::vector<TzfSimpleIndicesEngine::TIndex> one;
  one.push_back(MakeIndex(0, 0, idNone));
  TzfSimpleIndicesEngine engine({&File}, std::move(one), true);
  TMapRecords records;
  records.Length = static_cast<uint32_t>(Table.Fields->GetRecordLength());
  engine.SetRecordEngine(&records);
  std::map<int64_t, TRow> model;
  for (int32_t i = 0; i < 700; ++i) {
    TRow r{i, i % 5, kWords[i % 12]};
    ASSERT_EQ(engine.InsertKeys(i + 1, Record(r).data(), nullptr), 0u);
    model[i + 1] = r;
    records.Rows[i + 1] = Record(r);
  }
  const auto before = File.Mem.Snapshot();
  const std::set<uint32_t> blocksBefore = File.Mem.LiveBlocks();
  // B repeats: a unique index on it cannot be built.
  try {
    engine.AddIndex(MakeIndex(1, 1, idNone), true);
    ADD_FAILURE() << "equal keys were accepted in a unique index";
  } catch (const EzfBaseException& e) {
    EXPECT_EQ(e.GetErrorCode(), zfErrKeyViol);
  }
  EXPECT_EQ(engine.IndexEngineCount(), 1);
  EXPECT_EQ(File.Mem.HeldCount(), 0);
  File.Mem.Rollback(before);
  EXPECT_EQ(File.Mem.LiveBlocks(), blocksBefore);
  ExpectConsistent(engine, model, "after the refused index");
  // With duplicates allowed it is built; a third one without aAddToExisting stays empty.
  engine.AddIndex(MakeIndex(1, 1, idAll), true);
  engine.AddIndex(MakeIndex(2, 2, idAll), false);
  EXPECT_TRUE(Refs(engine, 2).empty());
  EXPECT_EQ(engine.GetIndexEngine(2).bieRecordEngine, &records);
  engine.RemoveIndex(2);
  ExpectConsistent(engine, model, "after the fill");
  // The new index is kept like the others afterwards.
  ASSERT_EQ(engine.DeleteKeys(9, Record(model[9]).data(), nullptr), 0u);
  model.erase(9);
  ExpectConsistent(engine, model, "after a delete");
}

// Deferred keys: the indexes leave maintenance (unless their keys would not fit the memory
// allowed), the unique ones still refuse records at once, and the bulk build at the end leaves
// every index as key-by-key maintenance would.
TEST_F(IndicesEngineTest, DeferredKeysAreBuiltInBulkAtTheEnd) {
  std::vector<TzfSimpleIndicesEngine::TIndex> indexes;
  indexes.push_back(MakeIndex(0, 0, idNone));
  indexes.push_back(MakeIndex(1, 1, idAll));
  indexes.push_back(MakeIndex(2, 2, idAll));
  TzfSimpleIndicesEngine engine({&File}, std::move(indexes), true);
  TMapRecords records;
  records.Length = static_cast<uint32_t>(Table.Fields->GetRecordLength());
  EXPECT_EQ(engine.DeferKeys(1000, 1 << 30), 2) << "a unique index needs the records to defer";
  EXPECT_FALSE(engine.KeysDeferred(0));
  engine.SetRecordEngine(&records);
  EXPECT_EQ(engine.DeferKeys(1000, 1000 * 16), 0) << "two deferred keys of 1000 records need more";
  EXPECT_FALSE(engine.KeysDeferred(1));
  EXPECT_EQ(engine.DeferKeys(-1, 1 << 30), 0) << "an unknown number of records";
  // A bulk entry is the key and the reference, 16-aligned; a placed one more than that.
  auto bulkEntry = [&](int32_t i) { return (int64_t(engine.GetIndexEngine(i).bieKeyEngine->bkeKeyLength) + 23) & ~15; };
  EXPECT_EQ(engine.DeferKeys(1000, 1000 * (bulkEntry(1) + bulkEntry(2))), 2)
      << "room for the keys that never refuse, not for all";
  EXPECT_FALSE(engine.KeysDeferred(0));
  EXPECT_EQ(engine.DeferKeys(1000, 1 << 30), 3);
  EXPECT_TRUE(engine.KeysDeferred(0));
  EXPECT_TRUE(engine.KeysDeferred(1));
  EXPECT_TRUE(engine.KeysDeferred(2));
  std::map<int64_t, TRow> model;
  for (int32_t i = 0; i < 300; ++i) {
    // Every tenth record repeats an A that index 0 holds: refused, nothing of it stays.
    TRow r{i % 10 == 9 ? i - 1 : i, i % 7, kWords[i % 12]};
    const uint32_t code = engine.InsertKeys(i + 1, Record(r).data(), nullptr);
    if (i % 10 == 9) {
      EXPECT_EQ(code, zfErrKeyViol);
      continue;
    }
    ASSERT_EQ(code, 0u);
    model[i + 1] = r;
    records.Rows[i + 1] = Record(r);
  }
  for (int32_t i = 0; i < 3; ++i) EXPECT_TRUE(Refs(engine, i).empty()) << "a deferred index takes no key meanwhile";
  engine.BuildDeferredKeys();
  EXPECT_FALSE(engine.KeysDeferred(0));
  ExpectConsistent(engine, model, "after the bulk build");
}

// A deferred unique index decides every insert as its tree would, also where records are taken
// out behind its back (a rolled back level drops records without deleting keys), references are
// reused, a later index refuses a record the unique one had taken, and keys compare equal under
// the collation (index 3, over C, German, letter case ignored) without being equal in bytes. Two engines get the same
// random sequence: one keeps its trees, one defers; their answers must agree.
TEST_F(IndicesEngineTest, DeferredUniqueKeysRefuseExactlyWhatTheTreeRefuses) {
  // Index 3 orders C with letter case ignored.
  auto k = std::make_unique<TzfCompKeyDescriptor>(&Table);
  static_cast<TzfTextKeyFieldDescriptor*>(k->Add(2, &TzfTextKeyFieldDescriptor::ClassInfo()))->SetIgnoreCase(true);
  Keys.push_back(std::move(k));
  auto make = [&] {
    std::vector<TzfSimpleIndicesEngine::TIndex> v;
    v.push_back(MakeIndex(0, 0, idNone));
    v.push_back(MakeIndex(1, 1, idAll));
    v.push_back(MakeIndex(2, 2, idNone));
    v.push_back(MakeIndex(3, 3, idNone));
    return v;
  };
  TMemFile otherFile;
  TzfSimpleIndicesEngine tree({&File}, make(), true);
  TzfSimpleIndicesEngine deferred({&otherFile}, make(), true);
  TMapRecords treeRecords, records;
  treeRecords.Length = records.Length = static_cast<uint32_t>(Table.Fields->GetRecordLength());
  tree.SetRecordEngine(&treeRecords);
  deferred.SetRecordEngine(&records);
  ASSERT_EQ(deferred.DeferKeys(5000, 1 << 30), 4);
  const char16_t* const texts[] = {u"Zimt", u"zimt", u"\u00d6l", u"\u00f6l", u"Kern", u"kern", u"ofen", u"Ofen"};
  std::mt19937 random(11);
  std::map<int64_t, TRow> model;
  int32_t refused = 0, dropped = 0;
  for (int32_t step = 0; step < 4000; ++step) {
    if (!model.empty() && random() % 9 == 0) {
      // A record goes (the deferred engine is not told), its reference free for the next insert.
      auto it = model.begin();
      std::advance(it, random() % model.size());
      ASSERT_EQ(tree.DeleteKeys(it->first, Record(it->second).data(), nullptr), 0u);
      treeRecords.Rows.erase(it->first);
      records.Rows.erase(it->first);
      model.erase(it);
      ++dropped;
      continue;
    }
    int64_t ref = 1 + int64_t(random() % 3000);
    while (model.count(ref)) ref = 1 + int64_t(random() % 3000);
    const TRow r{int32_t(random() % 1500), int32_t(random() % 50),
                 texts[random() % 8] + UnicodeString(u" ") + rtl::IntToStr(int64_t(random() % 1200))};
    const std::vector<uint8_t> rec = Record(r);
    // The record stands while its keys are inserted, as a record engine adds it first.
    treeRecords.Rows[ref] = records.Rows[ref] = rec;
    const uint32_t expected = tree.InsertKeys(ref, rec.data(), nullptr);
    const uint32_t got = deferred.InsertKeys(ref, rec.data(), nullptr);
    ASSERT_EQ(got, expected) << "step " << step;
    if (expected != 0) {
      treeRecords.Rows.erase(ref);
      records.Rows.erase(ref);
      ++refused;
      continue;
    }
    model[ref] = r;
  }
  EXPECT_GT(refused, 100);
  EXPECT_GT(dropped, 100);
  deferred.BuildDeferredKeys();
  ExpectConsistent(deferred, model, "after the bulk build");
}

// The placed keys of one unique index against a model: one entry per class of equal keys (here
// texts equal but for letter case), found whether it sits in the sorted run or in the tree of keys
// that came out of order, and still found after the tree was merged into the run.
TEST_F(IndicesEngineTest, PlacedKeysFindEveryClassInRunAndTree) {
  auto k = std::make_unique<TzfCompKeyDescriptor>(&Table);
  static_cast<TzfTextKeyFieldDescriptor*>(k->Add(2, &TzfTextKeyFieldDescriptor::ClassInfo()))->SetIgnoreCase(true);
  auto keys = TzfBaseKeyEngine::CreateFor(*k);
  TzfPlacedKeySet placed(*keys, 16);
  std::map<UnicodeString, int64_t> model;  // upper-cased text: reference
  std::vector<uint8_t> key(keys->bkeKeyLength);
  auto keyOf = [&](const UnicodeString& aText) {
    std::fill(key.begin(), key.end(), 0);
    EXPECT_EQ(keys->BuildKey(Record({0, 0, aText}).data(), key.data(), 0, false), 0u);
    return key.data();
  };
  std::mt19937 random(5);
  for (int32_t i = 0; i < 20000; ++i) {
    // Ascending at first (the run grows past the arena's first chunk), then anywhere (the tree
    // takes them and is merged).
    const int32_t n = i < 17000 ? i : int32_t(random() % 20000);
    UnicodeString text = u"k" + rtl::IntToStr(int64_t(100000 + n));
    if (random() % 2) text = rtl::UpperCase(text);
    const uint32_t e = placed.Find(keyOf(text));
    const UnicodeString upper = rtl::UpperCase(text);
    ASSERT_EQ(e != TzfPlacedKeySet::kNone, model.count(upper) == 1) << rtl::u8(text);
    if (e == TzfPlacedKeySet::kNone) {
      placed.Add(keyOf(text), i);
    } else {
      ASSERT_EQ(placed.Ref(e), model[upper]);
      placed.Replace(e, keyOf(text), i);
    }
    model[upper] = i;
    if (i % 2500 == 0) {
      ASSERT_EQ(placed.Check(), "") << i;
    }
  }
  EXPECT_EQ(placed.Count(), model.size());
  EXPECT_EQ(placed.Check(), "");
}

// The header values of an index through a header access on the file in memory.
TEST_F(IndicesEngineTest, HeaderAccessReadsAndChangesOneIndex) {
  TzfSimpleIndicesEngine engine({&File}, ThreeIndexes(), true);
  File.Mem.NextLSN();
  ASSERT_EQ(engine.InsertKeys(7, Record({1, 2, kWords[1]}).data(), nullptr), 0u);
  {
    auto ha = engine.CreateIndexHeaderAccess(engine.GetIndexEngine(1), false, false, 0, 0);
    EXPECT_EQ(ha->GetStoredKeyCount(), 1u);
    EXPECT_EQ(ha->GetNodeCount(), 1u);
    EXPECT_EQ(ha->GetRootNode(), engine.Store(1).GetRootNode());
    EXPECT_EQ(ha->GetHeaderLSN(), File.Mem.LSN());
    EXPECT_EQ(ha->FileHeaderAccess(), nullptr);  // a file in memory has none
    EXPECT_THROW(ha->SetRootNode(5), EzfBaseException);
    EXPECT_EQ(File.Mem.HeldCount(), 1);  // the header block, until the access goes
  }
  EXPECT_EQ(File.Mem.HeldCount(), 0);
  {
    auto ha = engine.CreateIndexHeaderAccess(engine.GetIndexEngine(2), true, true, 0, 0);
    ha->SetStoredKeyCount(42);
  }
  EXPECT_EQ(zfGetLE32(File.Mem.RawBlock(File.Section).data() + 40 + 512 + 4 * 2), 42u);
  EXPECT_EQ(engine.Store(1).GetStoredKeyCount(), 1u);
}

TEST_F(IndicesEngineTest, BulkBuilders) {
  {
    TzfSimpleIndicesEngine none({&File}, {}, true);
    EXPECT_EQ(none.CreateBulkBuilder(), nullptr);
  }
  TMemFile other;
  std::vector<TzfSimpleIndicesEngine::TIndex> one;
  one.push_back(MakeIndex(0, 0, idNone));
  TzfSimpleIndicesEngine single({&other}, std::move(one), true);
  EXPECT_NE(dynamic_cast<TzfStaticKeyBstarTreeIndexBulkBuilder*>(single.CreateBulkBuilder().get()), nullptr);
  TzfSimpleIndicesEngine three({&File}, ThreeIndexes(), true);
  auto hub = three.CreateBulkBuilder();
  ASSERT_NE(dynamic_cast<TzfBulkBuilderHub*>(hub.get()), nullptr);
  std::map<int64_t, TRow> model;
  for (int32_t i = 0; i < 12; ++i) {
    TRow r{100 - i, i % 2, kWords[i]};
    ASSERT_EQ(hub->InsertKey(i + 1, Record(r).data()), 0u);
    model[i + 1] = r;
  }
  ASSERT_EQ(hub->Finalize(), 0u);
  ExpectConsistent(three, model, "bulk");
}

TEST_F(IndicesEngineTest, AKeyThatCannotBeBuiltUndoesTheIndexesAlreadyChanged) {
  auto indexes = ThreeIndexes();
  auto failing = std::make_unique<TFailingKeyEngine>(*Keys[2]);
  failing->FailRef = 77;
  TFailingKeyEngine* f = failing.get();
  TzfIndexEngineParams p;
  p.IndexNumber = 2;
  p.IndexName = u"I2";
  indexes[2].Engine = std::make_unique<TzfStaticKeyBstarTreeIndexEngine>(p, std::move(failing), File.Mem.UsableBlockSize());
  TzfSimpleIndicesEngine engine({&File}, std::move(indexes), true);
  std::map<int64_t, TRow> model;
  for (int32_t i = 0; i < 6; ++i) {
    TRow r{i, i % 2, kWords[i]};
    ASSERT_EQ(engine.InsertKeys(i + 1, Record(r).data(), nullptr), 0u);
    model[i + 1] = r;
  }
  // The record moves to reference 77: indexes 0 and 1 change, then index 2 cannot build its key.
  EXPECT_EQ(engine.UpdateKeys(3, Record(model[3]).data(), 77, Record({40, 1, kWords[8]}).data(), nullptr),
            zfErrInvalidParam);
  ExpectConsistent(engine, model, "after the failed update");
  EXPECT_EQ(engine.InsertKeys(77, Record({41, 1, kWords[9]}).data(), nullptr), zfErrInvalidParam);
  ExpectConsistent(engine, model, "after the failed insert");
  f->FailRef = 3;  // the old key cannot be built
  EXPECT_EQ(engine.UpdateKeys(3, Record(model[3]).data(), 3, Record({42, 0, kWords[10]}).data(), nullptr),
            zfErrInvalidParam);
  f->FailRef = -1;  // the check builds every key
  ExpectConsistent(engine, model, "after the failed update of the old key");
  // A path on a record whose key cannot be built: placed without a key, it cannot be revalidated
  // either; the call raises and the path stays as it was.
  TMapRecords records;
  records.Length = static_cast<uint32_t>(Table.Fields->GetRecordLength());
  for (const auto& [ref, row] : model) records.Rows[ref] = Record(row);
  engine.SetRecordEngine(&records);
  f->FailRef = 4;
  TzfBaseIndexEngine& e2 = engine.GetIndexEngine(2);
  auto path = e2.CreateIndexPath();
  ASSERT_EQ(path->SetToRecord(records.Rows[4].data(), 4), 0u);
  EXPECT_FALSE(path->KeyValid);
  try {
    e2.ValidateIndexPath(engine.Store(2), *path);
    ADD_FAILURE() << "a key that cannot be built was taken";
  } catch (const EzfBaseException& x) {
    EXPECT_EQ(x.GetErrorCode(), zfErrInvalidParam);
  }
  EXPECT_TRUE(path->IsOnKey());
  EXPECT_FALSE(path->KeyValid);
  EXPECT_EQ(path->RefNr, 4);
  EXPECT_EQ(File.Mem.HeldCount(), 0);
  // Once the key can be built the same path finds its entry.
  f->FailRef = -1;
  e2.ValidateIndexPath(engine.Store(2), *path);
  EXPECT_EQ(path->CheckCurrentState(), 0u);
  EXPECT_TRUE(path->KeyValid);
}

TEST_F(IndicesEngineTest, IndexEnginesAreFoundByName) {
  TzfIndexEngineParams p;
  auto e = TzfBaseIndexEngine::CreateEngine(u"ZF1XDEFAULT", p, TzfBaseKeyEngine::CreateFor(*Keys[0]), 4092);
  EXPECT_NE(dynamic_cast<TzfStaticKeyBstarTreeIndexEngine*>(e.get()), nullptr);
  try {
    TzfBaseIndexEngine::CreateEngine(u"NoSuch", p, TzfBaseKeyEngine::CreateFor(*Keys[0]), 4092);
    ADD_FAILURE() << "an unknown engine was made";
  } catch (const EzfBaseException& ex) {
    EXPECT_EQ(ex.GetErrorCode(), zfErrSubEngineNotSupported);
    EXPECT_NE(ex.Message().find(u"Unknown index engine: \"NoSuch\""), UnicodeString::npos);
  }
}

}  // namespace
}  // namespace zf::test
