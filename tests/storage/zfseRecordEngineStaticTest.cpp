// The static record engine over the block cache: insert, update, delete, iterate both ways with
// and without a filter, counts and record numbers, the reuse of freed slots, errors for bad
// references, the whole table checked after every batch, and the salvage of its committed blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "foundation/zfllErrors.h"
#include "storage/zfseRecordEngineStatic.h"
#include "storage/zfsrTimeoutHandling.h"
#include "tools/zftableKit.h"
#include "zfsrCacheTestSupport.h"
#include "zfsrTestUtil.h"

namespace zf::test {
namespace {

using Bytes = std::vector<uint8_t>;

// Accepts records whose ID (the first field) is even.
class EvenIDs : public IzfFilterEvaluation {
 public:
  bool MatchesBuffer(const uint8_t* aBuffer) override { return zfGetLE32(aBuffer) % 2 == 0; }
  bool IsActive() override { return Active; }
  bool Active = true;
};

class StaticEngineTest : public TCacheTest {
 protected:
  void SetUp() override {
    TCacheTest::SetUp();
    zfSetTimeout(0, true);
    Table = std::make_unique<kit::TKitTable>(false);
    File = NewFile();
    Access = std::make_unique<TzfBlockAccess>(File, nullptr, u"t", 0);
    Files = {Access.get()};
    TTestTrans t(BM.get());
    Engine = TzfBaseRecordEngine::CreateEngine(*Table->Dict, Files, &t);
    t.Commit();
  }
  void TearDown() override {
    Engine.reset();
    Access.reset();
    Table.reset();
    TCacheTest::TearDown();
  }
  TzfStaticRecordEngine& Static() { return dynamic_cast<TzfStaticRecordEngine&>(*Engine); }
  // Every record in storage order: reference -> bytes.
  std::vector<std::pair<int64_t, Bytes>> Scan(TzfBaseTransaction* aTrans, bool aBackward = false,
                                              IzfFilterEvaluation* aFilter = nullptr) {
    std::vector<std::pair<int64_t, Bytes>> out;
    int64_t stop = 0;
    auto it = [&](void*, int64_t aRef, const uint8_t* r) {
      out.emplace_back(aRef, Bytes(r, r + Table->RecordLength()));
      return TzfRecordIteratorResult::rirContinue;
    };
    if (aBackward) Engine->IterateBackward(aTrans, stop, nullptr, it, nullptr, aFilter);
    else Engine->Iterate(aTrans, stop, nullptr, it, nullptr, aFilter);
    EXPECT_EQ(stop, 0);
    return out;
  }

  std::unique_ptr<kit::TKitTable> Table;
  TMemFile* File = nullptr;
  std::unique_ptr<TzfBlockAccess> Access;
  TzfBlockAccessList Files;
  std::unique_ptr<TzfBaseRecordEngine> Engine;
};

TEST_F(StaticEngineTest, InsertUpdateDeleteIterateCountAndRecordNumbers) {
  ASSERT_NE(dynamic_cast<TzfStaticRecordEngine*>(Engine.get()), nullptr);
  std::mt19937_64 random(9);
  std::map<int64_t, Bytes> model;
  uint32_t nextID = 1;
  for (int batch = 0; batch < 6; ++batch) {
    TTestTrans t(BM.get());
    for (int i = 0; i < 80; ++i) {
      const Bytes r = Table->MakeRecord(nextID++, random);
      int64_t ref = 0;
      Engine->AddRecord(&t, ref, r.data());
      ASSERT_EQ(model.count(ref), 0u);
      model[ref] = r;
    }
    for (int i = 0; i < 25; ++i) {
      auto it = model.begin();
      std::advance(it, random() % model.size());
      if (i % 3 == 0) {
        const Bytes r = Table->MakeRecord(nextID++, random);
        Bytes old(Table->RecordLength());
        Engine->UpdateRecord(&t, it->first, r.data(), old.data());
        EXPECT_EQ(old, it->second);
        it->second = r;
      } else {
        Engine->DeleteRecord(&t, it->first);
        EXPECT_EQ(RaisedCode([&] { Engine->ReadRecord(&t, it->first, nullptr); }), zfErrKeyOrRecDeleted);
        model.erase(it);
      }
    }
    t.Commit();
    TTestTrans r(BM.get());
    ASSERT_EQ(Static().CheckTable(&r), u"") << "batch " << batch;
    ASSERT_EQ(Engine->GetRecordCount(&r), model.size());
    const auto scan = Scan(&r);
    ASSERT_EQ(scan.size(), model.size());
    size_t i = 0;
    for (const auto& [ref, bytes] : model) {  // storage order is block then slot: the order of refs
      EXPECT_EQ(scan[i].first, ref);
      EXPECT_EQ(scan[i].second, bytes);
      ++i;
    }
    auto back = Scan(&r, true);
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, scan);
    r.Commit();
  }
  TTestTrans t(BM.get());
  // Next / previous and record numbers agree with the scan, with and without a filter.
  const auto scan = Scan(&t);
  int64_t ref = 0;
  Engine->ReadNextRecord(&t, 0, ref, nullptr);
  EXPECT_EQ(ref, scan.front().first);
  Engine->ReadPrevRecord(&t, 0, ref, nullptr);
  EXPECT_EQ(ref, scan.back().first);
  Engine->ReadNextRecord(&t, scan[5].first, ref, nullptr);
  EXPECT_EQ(ref, scan[6].first);
  Engine->ReadPrevRecord(&t, scan[6].first, ref, nullptr);
  EXPECT_EQ(ref, scan[5].first);
  for (size_t k : {size_t(0), size_t(41), scan.size() - 1}) {
    uint32_t no = 0;
    EXPECT_EQ(Engine->RecNoGet(&t, scan[k].first, nullptr, no, false), 0u);
    EXPECT_EQ(no, k + 1);
    EXPECT_EQ(Engine->RecNoGet(&t, scan[k].first, nullptr, no, true), 0u);
    EXPECT_EQ(no, scan.size() - k);
    int64_t at = 0;
    EXPECT_EQ(Engine->RecNoSet(&t, uint32_t(k + 1), at, nullptr, false), 0u);
    EXPECT_EQ(at, scan[k].first);
  }
  int64_t none = 0;
  EXPECT_EQ(Engine->RecNoSet(&t, uint32_t(scan.size() + 1), none, nullptr, false), zfErrEOF);
  EvenIDs even;
  const auto evens = Scan(&t, false, &even);
  for (size_t k = 0; k < evens.size(); ++k) {
    uint32_t no = 0;
    ASSERT_EQ(Engine->RecNoGet(&t, evens[k].first, &even, no, false), 0u);
    EXPECT_EQ(no, k + 1);
  }
  for (const auto& [r, bytes] : scan) {
    if (zfGetLE32(bytes.data()) % 2 == 1) {
      uint32_t no = 0;
      EXPECT_EQ(Engine->RecNoGet(&t, r, &even, no, false), zfErrNoCurrRec);
      break;
    }
  }
  even.Active = false;
  EXPECT_EQ(Scan(&t, false, &even).size(), scan.size()) << "an inactive filter counts as none";
  // Bad references.
  EXPECT_EQ(RaisedCode([&] { Engine->ReadRecord(&t, zfMakeRefNr(1, 0), nullptr); }), zfErrInvalidRecordRef);
  EXPECT_EQ(RaisedCode([&] { Engine->ReadRecord(&t, zfMakeRefNr(1, 41), nullptr); }), zfErrInvalidRecordRef);
  EXPECT_EQ(RaisedCode([&] { Engine->ReadRecord(&t, zfMakeRefNr(100000, 1), nullptr); }),
            zfErrBlockNumberOutOfRange);
  t.Commit();
}

TEST_F(StaticEngineTest, FreedSlotOfAFullBlockIsReusedFirst) {
  std::mt19937_64 random(1);
  TTestTrans t(BM.get());
  std::vector<int64_t> refs;
  for (int i = 0; i < 45; ++i) {  // a full first block (40 slots) and part of a second
    int64_t ref;
    Engine->AddRecord(&t, ref, Table->MakeRecord(uint32_t(i + 1), random).data());
    refs.push_back(ref);
  }
  Engine->DeleteRecord(&t, refs[17]);
  int64_t again = 0;
  Engine->AddRecord(&t, again, Table->MakeRecord(99, random).data());
  EXPECT_EQ(again, refs[17]);
  EXPECT_EQ(Static().CheckTable(&t), u"");
  t.Commit();
}

TEST_F(StaticEngineTest, CommittedBlocksSalvageToExactlyTheLiveRecords) {
  std::mt19937_64 random(4);
  std::map<Bytes, int> live;
  {
    TTestTrans t(BM.get());
    std::vector<std::pair<int64_t, Bytes>> added;
    for (int i = 0; i < 200; ++i) {
      Bytes r = Table->MakeRecord(uint32_t(i + 1), random);
      int64_t ref;
      Engine->AddRecord(&t, ref, r.data());
      added.emplace_back(ref, r);
    }
    for (size_t i = 0; i < added.size(); ++i) {
      if (i % 3 == 0) Engine->DeleteRecord(&t, added[i].first);
      else live[added[i].second]++;
    }
    t.Commit();
  }
  EXPECT_EQ(Engine->GetRecoverID(), Table->Dict->tdRecordDescriptor->diID);
  std::map<Bytes, int> got;
  const uint32_t blocks = uint32_t(File->FileSize() / 4096);
  for (uint32_t n = 1; n < blocks; ++n) {
    const Bytes b = File->DiskBlock(n);
    if (int32_t(zfGetLE32(b.data() + 4092)) != Engine->GetRecoverID()) continue;
    Engine->RecoverIterate(b.data(), n, nullptr, [&](void*, int64_t aRef, const uint8_t* r) {
      EXPECT_EQ(aRef, 0);
      got[Bytes(r, r + Table->RecordLength())]++;
      return TzfRecordIteratorResult::rirContinue;
    }, nullptr);
  }
  EXPECT_EQ(got, live);
}

}  // namespace
}  // namespace zf::test
