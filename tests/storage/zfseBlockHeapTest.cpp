// The non-fragmenting block heap: the layout of a fresh block and a first segment pinned byte by
// byte, slot errors, reuse after compaction, growth in place, by move and by compaction, a random
// workload checked after every batch, and blocks whose directory or entries point outside.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "foundation/zfllErrors.h"
#include "storage/zfseBlockHeapEngineNonfragmenting.h"
#include "zfsrTestUtil.h"

namespace zf::test {
namespace {

constexpr uint32_t U = 4092;

class BlockHeapTest : public ::testing::Test {
 protected:
  BlockHeapTest() : Block(4096, 0xEE), Heap(U, 16) { Heap.InitBlock(Block.data()); }
  uint16_t W(uint32_t aOffset) const { return zfGetLE16(Block.data() + aOffset); }
  void Check() {
    const TzfHeapBlockCheck c = zfCheckHeapBlock(Block.data(), U, 20);
    ASSERT_TRUE(c.Valid) << rtl::u8(c.Problem);
  }
  std::vector<uint8_t> Block;
  TzfNonfragmentingBlockHeapEngine Heap;
};

TEST_F(BlockHeapTest, FreshBlockAndFirstSegmentLayout) {
  EXPECT_EQ(Heap.bheHeaderSize, 20);
  EXPECT_EQ(Heap.bbheMaxSegmentSize, 4060);
  EXPECT_EQ(W(U - 2), 0);       // N
  EXPECT_EQ(W(U - 4), 0);       // free-slot chain
  EXPECT_EQ(W(U - 6), 0);       // recoverable
  EXPECT_EQ(W(U - 8), 20);      // free-run pointer at 4084
  EXPECT_EQ(W(20), 4060);       // the run's size
  EXPECT_EQ(W(16), 0);          // live count at h - 4
  EXPECT_EQ(Heap.GetFreespace(Block.data()), 4060);
  Check();

  uint32_t slot = 0;
  uint8_t* p = Heap.AllocSegment(Block.data(), 10, slot);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(slot, 1u);
  EXPECT_EQ(p - Block.data(), 22);
  EXPECT_EQ(W(20), 10);
  EXPECT_EQ(W(U - 2), 1);
  EXPECT_EQ(W(U - 8), 20);       // slot 1's entry
  EXPECT_EQ(W(U - 10), 32);      // the pointer moved down
  EXPECT_EQ(W(32), 4046);        // 4060 - 12 - 2
  EXPECT_EQ(W(16), 1);
  Check();
  // An owner header of 24 bytes puts the data area at 28.
  EXPECT_EQ(zfHeapDataStart(24), 28u);
}

TEST_F(BlockHeapTest, SlotErrorsDeletedSlotsAndReuseAfterCompaction) {
  uint32_t s1, s2, s3;
  Heap.AllocSegment(Block.data(), 30, s1);
  Heap.AllocSegment(Block.data(), 30, s2);
  Heap.AllocSegment(Block.data(), 30, s3);
  uint16_t size;
  for (uint32_t bad : {0u, 4u}) {
    EXPECT_EQ(RaisedCode([&] { Heap.GetSegment(Block.data(), bad, size); }), zfErrInvalidSegment);
    EXPECT_EQ(RaisedCode([&] { Heap.FreeSegment(Block.data(), bad); }), zfErrInvalidSegment);
    EXPECT_EQ(RaisedCode([&] { Heap.ReAllocSegment(Block.data(), 5, bad); }), zfErrInvalidSegment);
  }
  Heap.FreeSegment(Block.data(), s1);
  Heap.FreeSegment(Block.data(), s3);
  Check();
  EXPECT_NE(StorageOutcome([&] { Heap.GetSegment(Block.data(), s1, size); }).find(u"#15493: ZofrinDB: segment deleted (1)"),
            rtl::UnicodeString::npos);
  EXPECT_NE(StorageOutcome([&] { Heap.FreeSegment(Block.data(), s1); }).find(u"segment already deleted (1)"),
            rtl::UnicodeString::npos);
  uint32_t s4;
  Heap.AllocSegment(Block.data(), 8, s4);
  EXPECT_EQ(s4, 4u) << "deleted slots wait for a compaction";
  Heap.CompactBlock(Block.data(), 0, 0);
  Check();
  EXPECT_EQ(W(U - 2), 4) << "slot 3 is free but slot 4 still lives";
  uint32_t s5;
  Heap.AllocSegment(Block.data(), 8, s5);
  EXPECT_EQ(s5, 1u) << "the lowest free slot first";
  Check();
  // Iteration skips the free slot 3 both ways.
  std::vector<uint32_t> fwd, back;
  for (uint32_t s = 0; Heap.GetNextSegment(Block.data(), s, size);) fwd.push_back(s);
  for (uint32_t s = 0xFFFFFFFF; Heap.GetPrevSegment(Block.data(), s, size);) back.push_back(s);
  EXPECT_EQ(fwd, (std::vector<uint32_t>{1, 2, 4}));
  EXPECT_EQ(back, (std::vector<uint32_t>{4, 2, 1}));
  // A block whose segments are all deleted is formatted anew by a compaction.
  for (uint32_t s : {1u, 2u, 4u}) Heap.FreeSegment(Block.data(), s);
  Heap.CompactBlock(Block.data(), 0, 0);
  EXPECT_EQ(W(U - 2), 0);
  EXPECT_EQ(Heap.GetFreespace(Block.data()), 4060);
}

TEST_F(BlockHeapTest, RecycledSlotKeepsTheNewRunsSizeWord) {
  // Three 30-byte segments, the first freed, a compaction, then an 8-byte segment through the
  // recycled slot 1. Every figure below follows from the layout table of a 4092-byte block with
  // a 16-byte owner header (h = 20), not from the writer.
  uint32_t s1, s2, s3;
  Heap.AllocSegment(Block.data(), 30, s1);
  Heap.AllocSegment(Block.data(), 30, s2);
  Heap.AllocSegment(Block.data(), 30, s3);
  Heap.FreeSegment(Block.data(), s1);
  Heap.CompactBlock(Block.data(), 0, 0);
  uint16_t reportedRun = 0;
  Heap.bbheOnChanged = [&](PzfBlock, uint16_t, uint16_t aRun, uint16_t) { reportedRun = aRun; };
  uint32_t s4 = 0;
  uint8_t* p = Heap.AllocSegment(Block.data(), 8, s4);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(s4, 1u);
  EXPECT_EQ(p - Block.data(), 86);
  struct Word {
    uint32_t Offset;
    uint16_t Value;
    const char* What;
  };
  const Word expected[] = {
      {16, 3, "live segment count at h - 4"},
      {20, 30, "slot 2's segment, packed to the start of the data area"},
      {52, 30, "slot 3's segment behind it (extent 32)"},
      {84, 8, "the new segment where the compacted run began"},
      {96, 3978, "the new run: 84 + cap(8), its payload ends 2 bytes below the pointer"},
      {U - 2, 3, "N"},
      {U - 4, 0, "free-slot chain emptied"},
      {U - 6, 0, "recoverable space"},
      {U - 8, 84, "slot 1"},
      {U - 10, 20, "slot 2"},
      {U - 12, 52, "slot 3"},
      {U - 14, 96, "free-run pointer at U - 8 - 2N"},
  };
  for (const Word& w : expected) EXPECT_EQ(W(w.Offset), w.Value) << w.What;
  EXPECT_EQ(Heap.GetFreespace(Block.data()), 3978);
  EXPECT_EQ(reportedRun, 3978);
  Check();
  // The block goes on taking segments out of that run.
  uint32_t s5;
  EXPECT_NE(Heap.AllocSegment(Block.data(), 3000, s5), nullptr);
  Check();
}

TEST_F(BlockHeapTest, CheckerRefusesARunThatDoesNotReachThePointer) {
  uint32_t s;
  Heap.AllocSegment(Block.data(), 10, s);
  Check();  // run at 32 of 4046 bytes, pointer word at U - 10
  for (const uint16_t bad : {uint16_t(0), uint16_t(4045), uint16_t(4042), uint16_t(12)}) {
    std::vector<uint8_t> saved = Block;
    zfPutLE16(Block.data() + 32, bad);
    EXPECT_FALSE(zfCheckHeapBlock(Block.data(), U, 20).Valid) << bad;
    EXPECT_THROW(Heap.VerifyBlock(Block.data(), false), rtl::EAssertionFailed) << bad;
    Block = saved;
  }
}

TEST_F(BlockHeapTest, GrowInPlaceByMoveByCompactionOrNotAtAll) {
  uint32_t a, b;
  uint8_t* pa = Heap.AllocSegment(Block.data(), 100, a);
  std::memset(pa, 'a', 100);
  uint8_t* pb = Heap.AllocSegment(Block.data(), 100, b);
  std::memset(pb, 'b', 100);
  // b lies right below the run: it grows where it is.
  EXPECT_EQ(Heap.ReAllocSegment(Block.data(), 200, b), pb);
  Check();
  // a does not: it moves into the run, keeping its bytes.
  uint8_t* pa2 = Heap.ReAllocSegment(Block.data(), 300, a);
  EXPECT_NE(pa2, pa);
  EXPECT_EQ(std::vector<uint8_t>(pa2, pa2 + 100), std::vector<uint8_t>(100, 'a'));
  Check();
  // Shrinking never moves.
  EXPECT_EQ(Heap.ReAllocSegment(Block.data(), 50, a), pa2);
  Check();
  // Fill the run, free something, then grow beyond the run: only a compaction makes room.
  uint32_t fill;
  const uint16_t rest = uint16_t(W(zfGetLE16(Block.data() + U - 8 - 2 * W(U - 2))) - 40);
  ASSERT_NE(Heap.AllocSegment(Block.data(), rest, fill), nullptr);
  Heap.FreeSegment(Block.data(), fill);
  uint16_t size;
  uint8_t* grown = Heap.ReAllocSegment(Block.data(), 1000, b);
  ASSERT_NE(grown, nullptr);
  Heap.GetSegment(Block.data(), b, size);
  EXPECT_EQ(size, 1000);
  EXPECT_EQ(std::vector<uint8_t>(grown, grown + 100), std::vector<uint8_t>(100, 'b'));
  Check();
  // Beyond everything the block has: nil and nothing changes.
  const std::vector<uint8_t> before = Block;
  EXPECT_EQ(Heap.ReAllocSegment(Block.data(), 4000, a), nullptr);
  EXPECT_EQ(Block, before);
}

TEST_F(BlockHeapTest, RandomWorkloadKeepsEveryInvariantAndEveryByte) {
  std::mt19937 random(7);
  std::map<uint32_t, std::vector<uint8_t>> model;
  int changes = 0;
  Heap.bbheOnChanged = [&](PzfBlock, uint16_t aCount, uint16_t aRun, uint16_t aRec) {
    ++changes;
    EXPECT_EQ(aCount, W(16));
    EXPECT_EQ(uint32_t(aRun) + aRec, Heap.GetFreespace(Block.data()));
  };
  for (int batch = 0; batch < 60; ++batch) {
    for (int i = 0; i < 20; ++i) {
      const uint32_t op = random() % 3;
      if (op == 0 || model.empty()) {
        const uint16_t size = uint16_t(1 + random() % 200);
        uint32_t slot;
        uint8_t* p = Heap.AllocSegment(Block.data(), size, slot);
        if (!p) continue;
        ASSERT_EQ(model.count(slot), 0u);
        std::vector<uint8_t> bytes(size);
        for (auto& c : bytes) c = uint8_t(random());
        std::memcpy(p, bytes.data(), size);
        model[slot] = bytes;
      } else {
        auto it = model.begin();
        std::advance(it, random() % model.size());
        if (op == 1) {
          Heap.FreeSegment(Block.data(), it->first);
          model.erase(it);
        } else {
          const uint16_t size = uint16_t(1 + random() % 300);
          uint8_t* p = Heap.ReAllocSegment(Block.data(), size, it->first);
          if (!p) continue;
          it->second.resize(std::min<size_t>(size, it->second.size()));
          std::vector<uint8_t> tail(size - it->second.size());
          for (auto& c : tail) c = uint8_t(random());
          if (!tail.empty()) std::memcpy(p + it->second.size(), tail.data(), tail.size());
          it->second.insert(it->second.end(), tail.begin(), tail.end());
        }
      }
    }
    Check();
    for (auto& [slot, bytes] : model) {
      uint16_t size;
      uint8_t* p = Heap.GetSegment(Block.data(), slot, size);
      ASSERT_EQ(std::vector<uint8_t>(p, p + size), bytes) << "slot " << slot;
    }
  }
  EXPECT_GT(changes, 0);
}

TEST_F(BlockHeapTest, DamagedDirectoriesAreRefusedNotFollowed) {
  uint32_t s;
  Heap.AllocSegment(Block.data(), 10, s);
  Heap.AllocSegment(Block.data(), 10, s);
  struct Case {
    const char* What;
    uint32_t Offset;
    uint16_t Value;
    uint32_t Code;  // of GetSegment(2)
  };
  const Case cases[] = {
      {"slot count beyond the block", U - 2, 0xFFFF, zfErrFileCorrupt},
      {"entry past the directory", U - 10, 4080, zfErrInvalidSegment},
      {"entry inside the owner header", U - 10, 8, zfErrInvalidSegment},
      {"segment size past the directory", 32, 0xFFF0, zfErrInvalidSegment},
      {"entry marked invalid", U - 10, 35, zfErrInvalidSegment},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> saved = Block;
    zfPutLE16(Block.data() + c.Offset, c.Value);
    uint16_t size;
    EXPECT_EQ(RaisedCode([&] { Heap.GetSegment(Block.data(), 2, size); }), c.Code) << c.What;
    EXPECT_FALSE(zfCheckHeapBlock(Block.data(), U, 20).Valid) << c.What;
    const TzfHeapBlockCheck chk = zfCheckHeapBlock(Block.data(), U, 20);
    EXPECT_EQ(zfHeapSoundSegment(Block.data(), U, 20, chk.SlotCount, 2, size), nullptr) << c.What;
    Block = saved;
  }
  // A recoverable figure larger than the uncovered space is caught too.
  zfPutLE16(Block.data() + U - 6, 4000);
  EXPECT_FALSE(zfCheckHeapBlock(Block.data(), U, 20).Valid);
  EXPECT_THROW(Heap.VerifyBlock(Block.data(), false), rtl::EAssertionFailed);
}

}  // namespace
}  // namespace zf::test
