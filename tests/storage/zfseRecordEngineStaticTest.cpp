// The static record engine over the block cache: insert, update, delete, iterate both ways with
// and without a filter, counts and record numbers, the reuse of freed slots, errors for bad
// references, the whole table checked after every batch, and the salvage of its committed blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <thread>

#include "foundation/zfllErrors.h"
#include "storage/zfseRecordEngineStatic.h"
#include "dictionary/zfsdFileDescriptor.h"
#include "storage/zfseRecordEngineVariable.h"
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

enum TMode { mStatic, mVariableNull, mVariableSmart };

class StaticEngineTest : public TCacheTest {
 protected:
  virtual TMode Mode() const { return mStatic; }
  void SetUp() override {
    TCacheTest::SetUp();
    zfSetTimeout(0, true);
    Table = std::make_unique<kit::TKitTable>(false);
    if (Mode() != mStatic) {
      auto* hrd = dynamic_cast<TzfHeapRecordDescriptor*>(
          Table->Dict->AddRecordDescriptor(&TzfHeapRecordDescriptor::ClassInfo()));
      hrd->brdRecordEngine = u"Variable";
      hrd->AddHeapDescriptor();
      hrd->hrdHeapDescriptor->diID = 77;
      hrd->AddRecordCompressionDescriptor()->brcdRecordCompressionEngine = Mode() == mVariableSmart ? u"Smart" : u"Null";
    }
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
  rtl::UnicodeString CheckTable(TzfBaseTransaction* aTrans) {
    if (auto* v = dynamic_cast<TzfVariableRecordEngine*>(Engine.get())) return v->CheckTable(aTrans);
    return Static().CheckTable(aTrans);
  }
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

class RecordEngineTest : public StaticEngineTest, public ::testing::WithParamInterface<TMode> {
 protected:
  TMode Mode() const override { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Engines, RecordEngineTest, ::testing::Values(mStatic, mVariableNull, mVariableSmart));

TEST_P(RecordEngineTest, InsertUpdateDeleteIterateCountAndRecordNumbers) {
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
        // The static engine answers 8708; the variable engine the heap's own error for the slot.
        const uint32_t code = RaisedCode([&] { Engine->ReadRecord(&t, it->first, nullptr); });
        if (Mode() == mStatic) EXPECT_EQ(code, zfErrKeyOrRecDeleted);
        else EXPECT_NE(code, 0u);
        model.erase(it);
      }
    }
    t.Commit();
    TTestTrans r(BM.get());
    ASSERT_EQ(CheckTable(&r), u"") << "batch " << batch;
    ASSERT_EQ(Engine->GetRecordCount(&r), model.size());
    const auto scan = Scan(&r);
    ASSERT_EQ(scan.size(), model.size());
    size_t i = 0;
    std::map<int64_t, Bytes> scanned(scan.begin(), scan.end());
    EXPECT_EQ(scanned, model);
    if (Mode() == mStatic) {
      for (const auto& [ref, bytes] : model) {  // storage order is block then slot: the order of refs
        EXPECT_EQ(scan[i].first, ref);
        ++i;
      }
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
  if (Mode() == mStatic) {
    EXPECT_EQ(RaisedCode([&] { Engine->ReadRecord(&t, zfMakeRefNr(1, 0), nullptr); }), zfErrInvalidRecordRef);
    EXPECT_EQ(RaisedCode([&] { Engine->ReadRecord(&t, zfMakeRefNr(1, 41), nullptr); }), zfErrInvalidRecordRef);
  } else {
    const uint32_t b = zfRefBlock(scan.front().first);
    EXPECT_EQ(RaisedCode([&] { Engine->ReadRecord(&t, zfMakeRefNr(b, 0), nullptr); }), zfErrInvalidSegment);
    EXPECT_EQ(RaisedCode([&] { Engine->ReadRecord(&t, zfMakeRefNr(b, 4000), nullptr); }), zfErrInvalidSegment);
  }
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
  EXPECT_EQ(CheckTable(&t), u"");
  t.Commit();
}

// An expired deadline stops every walk over the slots of a block, also within the first block.
TEST_F(StaticEngineTest, AnExpiredDeadlineStopsWalksInsideABlock) {
  std::mt19937_64 random(3);
  TTestTrans t(BM.get());
  int64_t ref = 0;
  for (uint32_t i = 1; i <= 5; ++i) Engine->AddRecord(&t, ref, Table->MakeRecord(i, random).data());
  const auto it = [](void*, int64_t, const uint8_t*) { return TzfRecordIteratorResult::rirContinue; };
  struct Case {
    const char* Name;
    std::function<void()> Walk;
  };
  const Case cases[] = {
      {"Iterate", [&] { int64_t r = 0; Engine->Iterate(&t, r, nullptr, it, nullptr, nullptr); }},
      {"IterateBackward", [&] { int64_t r = 0; Engine->IterateBackward(&t, r, nullptr, it, nullptr, nullptr); }},
      {"RecNoGet", [&] { uint32_t n = 0; Engine->RecNoGet(&t, ref, nullptr, n, false); }},
      {"RecNoSet", [&] { int64_t r = 0; Engine->RecNoSet(&t, 5, r, nullptr, true); }},
      {"ReplaceAllRecords", [&] { Engine->ReplaceAllRecords(&t, [](uint8_t*) { return 0u; }); }},
  };
  for (const Case& c : cases) EXPECT_EQ(RaisedCode(c.Walk), 0u) << c.Name;
  zfSetTimeout(1, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  for (const Case& c : cases) EXPECT_EQ(RaisedCode(c.Walk), zfErrTimeout) << c.Name;
  zfSetTimeout(0, true);
  t.Commit();
}

TEST_P(RecordEngineTest, CommittedBlocksSalvageToExactlyTheLiveRecords) {
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
  if (Mode() == mStatic) EXPECT_EQ(Engine->GetRecoverID(), Table->Dict->tdRecordDescriptor->diID);
  else EXPECT_EQ(Engine->GetRecoverID(), 77);
  std::map<Bytes, int> got;
  const uint32_t blocks = uint32_t(File->FileSize() / 4096);
  for (uint32_t n = 1; n < blocks; ++n) {
    const Bytes b = File->DiskBlock(n);
    if (int32_t(zfGetLE32(b.data() + 4092)) != Engine->GetRecoverID()) continue;
    const uint8_t* data = nullptr;
    Engine->RecoverIterate(b.data(), n, &data, [&](void*, int64_t aRef, const uint8_t* r) {
      EXPECT_EQ(aRef, 0);
      got[Bytes(r, r + Table->RecordLength())]++;
      return TzfRecordIteratorResult::rirContinue;
    }, nullptr);
  }
  EXPECT_EQ(got, live);
}


class VariableEngineTest : public StaticEngineTest {
 protected:
  TMode Mode() const override { return mVariableSmart; }
  // The flags byte and size of a reference's own segment.
  std::pair<uint8_t, uint16_t> Segment(TzfBaseTransaction* aTrans, int64_t aRef) {
    auto& v = dynamic_cast<TzfVariableRecordEngine&>(*Engine);
    uint16_t size;
    PzfBlock b;
    TzfReleaseMethod rm;
    const uint8_t* seg = v.reHeapEngine->GetSegment(aTrans, aRef, false, size, b, rm);
    const uint8_t flags = seg[0];
    rm(b);
    return {flags, size};
  }
};

TEST_F(VariableEngineTest, GrowingRecordsMoveLeaveForwardsAndComeBackOnce) {
  std::mt19937_64 random(2);
  TTestTrans t(BM.get());
  // Short records (empty texts) fill the first block densely.
  std::vector<std::pair<int64_t, Bytes>> refs;
  for (uint32_t i = 0; i < 400; ++i) {
    Bytes r(Table->RecordLength());
    Table->Fields().InitRecord(r.data());
    const int32_t id = int32_t(i + 1);
    Table->Fields().SetRecordField(0, r.data(), &id);
    int64_t ref;
    Engine->AddRecord(&t, ref, r.data());
    refs.emplace_back(ref, r);
  }
  ASSERT_EQ(zfRefBlock(refs[0].first), zfRefBlock(refs[100].first)) << "one block holds the small records";
  // Grow one in the full block: it moves, its own segment becomes a 9-byte forward.
  int64_t grown = refs[3].first;
  Bytes big = Table->MakeRecord(4, random);
  for (int tries = 0; tries < 30 && Segment(&t, grown).first != kzfSegForward; ++tries) {
    grown = refs[size_t(3 + tries)].first;
    Engine->UpdateRecord(&t, grown, big.data(), nullptr);
  }
  ASSERT_EQ(Segment(&t, grown), (std::pair<uint8_t, uint16_t>{kzfSegForward, 9}));
  Bytes back(Table->RecordLength());
  Engine->ReadRecord(&t, grown, back.data());
  EXPECT_EQ(back, big);
  EXPECT_EQ(CheckTable(&t), u"");
  // Iteration yields the moved record once, under its own reference.
  std::map<int64_t, int> seen;
  int64_t stop = 0;
  Engine->Iterate(&t, stop, nullptr, [&](void*, int64_t aRef, const uint8_t*) {
    seen[aRef]++;
    return TzfRecordIteratorResult::rirContinue;
  }, nullptr, nullptr);
  EXPECT_EQ(seen.size(), 400u);
  EXPECT_EQ(seen[grown], 1);
  // Back to a small record: the moved copy goes and the record lives in its own segment again.
  Engine->UpdateRecord(&t, grown, refs[0].second.data(), back.data());
  EXPECT_EQ(back, big) << "the old record is the moved one";
  EXPECT_NE(Segment(&t, grown).first & kzfSegForward, kzfSegForward);
  EXPECT_EQ(CheckTable(&t), u"");
  // Deleting a moved record frees both segments.
  Engine->UpdateRecord(&t, refs[1].first, big.data(), nullptr);
  Engine->UpdateRecord(&t, refs[2].first, big.data(), nullptr);
  Engine->DeleteRecord(&t, refs[2].first);
  EXPECT_EQ(CheckTable(&t), u"");
  EXPECT_EQ(Engine->GetRecordCount(&t), 399u);
  EXPECT_EQ(RaisedCode([&] { Engine->ReadRecord(&t, refs[2].first, nullptr); }), zfErrSegmentDeleted);
  EXPECT_EQ(RaisedCode([&] { Engine->ReplaceAllRecords(&t, {}); }), zfErrNotSupported);
  t.Commit();
}

TEST_F(VariableEngineTest, RollbackReloadsTheHeapDirectory) {
  std::mt19937_64 random(3);
  {
    TTestTrans t(BM.get());
    for (uint32_t i = 0; i < 60; ++i) {
      int64_t ref;
      Engine->AddRecord(&t, ref, Table->MakeRecord(i + 1, random).data());
    }
    t.Commit();
  }
  {
    TTestTrans t(BM.get());
    for (uint32_t i = 0; i < 200; ++i) {
      int64_t ref;
      Engine->AddRecord(&t, ref, Table->MakeRecord(i + 100, random).data());
    }
    t.Rollback();
    Engine->Rollback(&t);
  }
  TTestTrans t(BM.get());
  EXPECT_EQ(Engine->GetRecordCount(&t), 60u);
  EXPECT_EQ(CheckTable(&t), u"");
  for (uint32_t i = 0; i < 50; ++i) {
    int64_t ref;
    Engine->AddRecord(&t, ref, Table->MakeRecord(i + 500, random).data());
  }
  EXPECT_EQ(CheckTable(&t), u"");
  t.Commit();
}


// A forward that names itself or another forward is a damaged record (8962), read once, never
// followed round; the first management block appears with the first data block.
TEST_F(VariableEngineTest, ForwardCyclesAreDamagedRecordsNotLoops) {
  std::mt19937_64 random(8);
  TTestTrans t(BM.get());
  int64_t a, b;
  Engine->AddRecord(&t, a, Table->MakeRecord(1, random).data());
  Engine->AddRecord(&t, b, Table->MakeRecord(2, random).data());
  auto& v = dynamic_cast<TzfVariableRecordEngine&>(*Engine);
  {
    std::unique_ptr<TzfBaseFileHeaderAccess> ha(Access->HeaderAccess(&t, false));
    const uint32_t mgmt = zfGetLE32(ha->Header + v.reHeaderSection + 12);
    ASSERT_NE(mgmt, 0u);
    TzfReleaseMethod rm;
    PzfBlock m = Access->GetBlock(&t, mgmt, v.reHeapEngine->bseID, false, rm);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(m), 4), "ZFHM");
    EXPECT_EQ(zfGetLE16(m + 20), 1) << "one listed data block";
    EXPECT_EQ(zfGetLE32(m + 22), zfRefBlock(a));
    rm(m);
  }
  auto makeForward = [&](int64_t aRef, int64_t aTarget) {
    uint16_t size;
    PzfBlock blk;
    TzfReleaseMethod rm;
    v.reHeapEngine->GetSegment(&t, aRef, true, size, blk, rm);
    uint8_t* f = v.reHeapEngine->bheBlockHeapEngine->ReAllocSegment(blk, 9, uint32_t(aRef & 0xFFFFFFFF));
    f[0] = kzfSegForward;
    zfPutLE64(f + 1, uint64_t(aTarget));
    rm(blk);
  };
  makeForward(a, a);
  EXPECT_EQ(RaisedCode([&] { Engine->ReadRecord(&t, a, nullptr); }), zfErrFileCorrupt);
  makeForward(b, a);
  EXPECT_EQ(RaisedCode([&] { Engine->ReadRecord(&t, b, nullptr); }), zfErrFileCorrupt);
  t.Rollback();
  Engine->Rollback(&t);
}


// The descriptor check raises the record file's block size until a record fits, for both engines,
// and refuses a record no block holds.
TEST(RecordEngineCheck, RaisesTheBlockSizeOrRefusesTheRecord) {
  zfStartStorage();
  for (const bool variable : {false, true}) {
    kit::TKitTable table(false);
    table.UseEngine(variable, false);
    // The block heap descriptor that the dictionary's own check adds before the engines' checks.
    if (variable)
      dynamic_cast<TzfHeapRecordDescriptor&>(*table.Dict->tdRecordDescriptor).hrdHeapDescriptor->AddBlockHeapDescriptor();
    table.Fields().AddField(u"Blob", u"", zftByteArray, 5000, 0, false, nullptr);
    TzfBaseRecordEngine::CheckValidDescriptor(*table.Dict);
    EXPECT_EQ(table.Dict->ddFilesDescriptor->FileDescriptor[0]->fdBlockSize, TzfBlockSize::zfbs8k) << variable;
    table.Fields().AddField(u"Huge", u"", zftByteArray, 60420, 0, false, nullptr);
    EXPECT_EQ(RaisedCode([&] { TzfBaseRecordEngine::CheckValidDescriptor(*table.Dict); }), zfErrMaxRecordSizeExceeded)
        << variable;
  }
  zfStopStorage();
}


// A record whose segment no heap block can hold is refused with 15495, never stored as reference 0.
TEST_F(VariableEngineTest, ARecordLargerThanAHeapSegmentIsRefused) {
  Engine.reset();
  Table->Fields().AddField(u"Blob", u"", zftByteArray, 4100, 0, false, nullptr);
  File = NewFile(u"/tmp/large_record.dvl7");
  Access = std::make_unique<TzfBlockAccess>(File, nullptr, u"t", 0);
  Files = {Access.get()};
  TTestTrans t(BM.get());
  Engine = TzfBaseRecordEngine::CreateEngine(*Table->Dict, Files, &t);
  Bytes r(size_t(Table->Fields().GetRecordLength()), 0x11);
  int64_t ref = -1;
  EXPECT_EQ(RaisedCode([&] { Engine->AddRecord(&t, ref, r.data()); }), zfErrMaxRecordSizeExceeded);
  EXPECT_EQ(ref, -1);
  EXPECT_EQ(Engine->GetRecordCount(&t), 0u);
  t.Commit();
}

}  // namespace
}  // namespace zf::test
