// The cached heap's sized allocations: a request above the largest segment takes a new block, and
// re-allocation grows in place, moves to the listed block with the most room (whole, or at least
// the minimum size unless whole-or-new), or to a new block, keeping the old bytes under nil pieces.
#include <gtest/gtest.h>

#include <cstring>

#include "storage/zfseHeapEngineCached.h"
#include "zfsrCacheTestSupport.h"
#include "zfsrTestUtil.h"

namespace zf::test {
namespace {

// Keeps the heap's root in memory; data blocks need no bookkeeping of the owner.
class TMemoryRoot : public TzfHeapHeaderHandler {
 public:
  void DataBlockAdded(TzfBaseTransaction*, TzfBaseFileHeaderAccess*, PzfBlock) override {}
  void DataBlockRemoved(TzfBaseTransaction*, TzfBaseFileHeaderAccess*, PzfBlock) override {}
  uint32_t GetFirstManagementBlock(TzfBaseFileHeaderAccess*) override { return First; }
  void SetFirstManagementBlock(TzfBaseFileHeaderAccess*, uint32_t aBlock) override { First = aBlock; }
  uint32_t First = 0;
};

class CachedHeapTest : public TCacheTest {
 protected:
  void SetUp() override {
    TCacheTest::SetUp();
    File = NewFile(u"/tmp/cached_heap_test.dvl7");
    Access = std::make_unique<TzfBlockAccess>(File, nullptr, u"t", 0);
    Heap = std::make_unique<TzfCachedHeapEngine>(0, Access.get(), std::make_unique<TMemoryRoot>());
    T = std::make_unique<TTestTrans>(BM.get());
  }
  void TearDown() override {
    T->Commit();
    T.reset();
    Heap.reset();
    Access.reset();
    TCacheTest::TearDown();
  }
  int64_t Alloc(uint32_t aSize, uint8_t aFill) {
    std::vector<uint8_t> bytes(aSize, aFill);
    return Heap->AllocSegment(T.get(), {{bytes.data(), aSize}});
  }
  std::vector<uint8_t> Read(int64_t aRef) {
    uint16_t size = 0;
    PzfBlock b = nullptr;
    TzfReleaseMethod rm;
    const uint8_t* d = Heap->GetSegment(T.get(), aRef, false, size, b, rm);
    std::vector<uint8_t> out(d, d + size);
    rm(b);
    return out;
  }
  uint16_t Free(TzfBlockNumber aBlock) {
    TzfReleaseMethod rm;
    PzfBlock b = Heap->ReadBlockHeap(T.get(), aBlock, false, rm);
    const uint16_t f = Heap->bheBlockHeapEngine->GetFreespace(b);
    rm(b);
    return f;
  }
  // Re-allocates aRef to the pieces: nil first (the old bytes), then aAdd bytes of aFill.
  int64_t ReAlloc(int64_t aRef, uint32_t aKeep, uint32_t aAdd, uint8_t aFill, uint16_t aMin, bool aWholeOrNew,
                  uint16_t& aSize) {
    std::vector<uint8_t> add(aAdd, aFill);
    uint16_t size = 0;
    PzfBlock b = nullptr;
    TzfReleaseMethod rm;
    Heap->GetSegment(T.get(), aRef, true, size, b, rm);
    int64_t r = 0;
    try {
      r = Heap->ReAllocSegmentEx(T.get(), b, uint32_t(aRef), {nullptr, add.data()}, {aKeep, aAdd}, aMin, aSize, 0, 1,
                                 aWholeOrNew);
    } catch (...) {
      rm(b);
      throw;
    }
    rm(b);
    return r;
  }
  static TzfBlockNumber BlockOf(int64_t aRef) { return TzfBlockNumber(uint64_t(aRef) >> 32); }
  static std::vector<uint8_t> Bytes(std::initializer_list<std::pair<uint32_t, uint8_t>> aRuns) {
    std::vector<uint8_t> out;
    for (auto [n, c] : aRuns) out.insert(out.end(), n, c);
    return out;
  }

  TMemFile* File = nullptr;
  std::unique_ptr<TzfBlockAccess> Access;
  std::unique_ptr<TzfCachedHeapEngine> Heap;
  std::unique_ptr<TTestTrans> T;
};

TEST_F(CachedHeapTest, OversizedRequestTakesANewBlock) {
  const int64_t a = Alloc(100, 'a');  // block A keeps nearly all its room, and is listed
  const uint16_t max = Heap->bheBlockHeapEngine->bbheMaxSegmentSize;
  std::vector<uint8_t> big(max + 100u, 'z');
  uint16_t got = 0;
  const int64_t r = Heap->AllocSegmentEx(T.get(), {big.data()}, {uint32_t(big.size())}, 2, got, 0, 1, false);
  EXPECT_NE(BlockOf(r), BlockOf(a)) << "a request above the largest segment never goes to a listed block";
  EXPECT_EQ(got, max);
  EXPECT_EQ(Read(r), std::vector<uint8_t>(max, 'z'));
}

TEST_F(CachedHeapTest, ReAllocGrowsInPlaceOrMovesWholeOrPartOrToANewBlock) {
  const int64_t a = Alloc(100, 'a');
  const int64_t filler = Alloc(3900, 'f');  // A is left with little room
  const int64_t b = Alloc(3000, 'b');       // a second block B with about a thousand bytes free
  ASSERT_EQ(BlockOf(a), BlockOf(filler));
  ASSERT_NE(BlockOf(a), BlockOf(b));
  const TzfBlockNumber blockA = BlockOf(a), blockB = BlockOf(b);
  ASSERT_LT(Free(blockA), 100);

  // Growing b by a little fits its own block: the reference stays.
  uint16_t size = 0;
  EXPECT_EQ(ReAlloc(b, 3000, 20, 'B', 2, false, size), b);
  EXPECT_EQ(size, 3020);
  EXPECT_EQ(Read(b), Bytes({{3000, 'b'}, {20, 'B'}}));

  // a cannot grow in A: it moves whole into B, the most-free listed block; its old slot goes.
  const uint16_t freeB = Free(blockB);
  ASSERT_GE(freeB, 600);
  const int64_t a2 = ReAlloc(a, 100, 500, 'A', 2, false, size);
  EXPECT_EQ(BlockOf(a2), blockB);
  EXPECT_EQ(size, 600);
  EXPECT_EQ(Read(a2), Bytes({{100, 'a'}, {500, 'A'}}));
  EXPECT_EQ(RaisedCode([&] { Read(a); }), zfErrSegmentDeleted);

  // More than B holds: unless whole-or-new, B's free space (at least the minimum) is taken.
  const uint16_t freeB2 = Free(blockB);
  const uint16_t freeA = Free(blockA);
  ASSERT_GT(freeB2, freeA);
  const int64_t f2 = ReAlloc(filler, 3900, 160, 'F', 200, false, size);
  EXPECT_EQ(BlockOf(f2), blockB);
  EXPECT_EQ(size, freeB2);
  EXPECT_EQ(Read(f2), Bytes({{uint32_t(freeB2), 'f'}}));

  // Whole-or-new: a new block with the whole size.
  const int64_t a3 = ReAlloc(a2, 600, 2000, 'N', 200, true, size);
  EXPECT_NE(BlockOf(a3), blockA);
  EXPECT_NE(BlockOf(a3), blockB);
  EXPECT_EQ(size, 2600);
  EXPECT_EQ(Read(a3), Bytes({{100, 'a'}, {500, 'A'}, {2000, 'N'}}));

  // Above the largest segment: a new block, capped at that size.
  const uint16_t max = Heap->bheBlockHeapEngine->bbheMaxSegmentSize;
  const int64_t b2 = ReAlloc(b, 3020, 2000, 'M', 2, false, size);
  EXPECT_EQ(size, max);
  EXPECT_NE(BlockOf(b2), blockB);
  EXPECT_EQ(Read(b2), Bytes({{3000, 'b'}, {20, 'B'}, {uint32_t(max - 3020), 'M'}}));
  EXPECT_EQ(Heap->CheckDirectory(T.get()), u"");
}

}  // namespace
}  // namespace zf::test
