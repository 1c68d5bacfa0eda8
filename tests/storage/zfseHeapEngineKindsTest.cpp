// The default heap engines found by name: a segmented BLOB over the cached heap and the
// non-fragmenting block heap of a table file, written, read, grown, shrunk and deleted, with the
// heap's free-space directory checked after every step; and the names a heap descriptor may carry.
#include <gtest/gtest.h>

#include <string>

#include "foundation/zfllStreams.h"
#include "storage/zfseBlobEngineSegmented.h"
#include "storage/zfseHeapEngineKinds.h"
#include "storage/zfseRecordEngineVariable.h"
#include "tools/zftableKit.h"
#include "zfseBlobTestHeap.h"
#include "zfsrCacheTestSupport.h"
#include "zfsrTestUtil.h"

namespace zf::test {
namespace {

std::string Bytes(size_t aCount, uint32_t aSeed) {
  std::string s(aCount, '\0');
  uint32_t x = aSeed * 2654435761u + 7;
  for (auto& c : s) {
    x = x * 1103515245u + 12345u;
    c = char(x >> 24);
  }
  return s;
}

class SegmentedBlobOnTableFile : public TCacheTest {
 protected:
  void SetUp() override {
    TCacheTest::SetUp();
    File = NewFile(u"/tmp/heap_kinds_test.dvl7");
    Access = std::make_unique<TzfBlockAccess>(File, nullptr, u"heap_kinds_test", 0);
    auto d = std::make_unique<TzfHeapBlobDescriptor>(nullptr, "Blob");
    d->AddHeapDescriptor()->AddBlockHeapDescriptor();  // every engine name left at its default
    d->diID = 7;
    Descriptor = std::move(d);
    TzfBaseBlobEngine::CheckValidFromDescriptor(Descriptor.get());
    InTrans([&](TzfBaseTransaction* t) { Engine = TzfBaseBlobEngine::CreateEngine(Descriptor.get(), {Access.get()}, t); });
    StartBlocks = UsedBlocks();
  }
  void TearDown() override {
    Engine.reset();
    Access.reset();
    TCacheTest::TearDown();
  }
  void InTrans(const std::function<void(TzfBaseTransaction*)>& aWork) {
    TTestTrans t(BM.get());
    aWork(&t);
    t.Commit();
  }
  TzfSegmentedBlobEngine& Seg() { return dynamic_cast<TzfSegmentedBlobEngine&>(*Engine); }
  TzfCachedHeapKind& Heap() { return dynamic_cast<TzfCachedHeapKind&>(*Seg().beHeapEngine); }
  uint32_t UsedBlocks() {
    std::unique_ptr<TzfBaseFileHeaderAccess> ha(Access->HeaderAccess(nullptr, false));
    return ha->UsedBlockCount();
  }
  void Write(int64_t aNr, uint32_t aOffset, const std::string& aBytes) {
    InTrans([&](TzfBaseTransaction* t) { Engine->Write(t, aNr, aOffset, uint32_t(aBytes.size()), aBytes.data()); });
  }
  // The BLOB reads back as aExpected, its tree and the heap's directory are sound.
  void Expect(int64_t aNr, const std::string& aExpected) {
    uint32_t len = 0;
    ASSERT_EQ(Engine->GetBlobLength(nullptr, aNr, {}, len), 0u);
    ASSERT_EQ(len, aExpected.size());
    TzfMemoryStream ms;
    ASSERT_EQ(Engine->Read(nullptr, aNr, 0, 0xFFFFFFFF, {}, ms), 0u);
    ASSERT_TRUE(std::string(static_cast<const char*>(ms.Memory()), size_t(ms.Size())) == aExpected);
    ASSERT_EQ(Seg().CheckBlob(nullptr, aNr), u"");
    ASSERT_EQ(Heap().Cached().CheckDirectory(nullptr), u"");
  }

  TMemFile* File = nullptr;
  std::unique_ptr<TzfBlockAccess> Access;
  std::unique_ptr<TzfBaseBlobDescriptor> Descriptor;
  std::unique_ptr<TzfBaseBlobEngine> Engine;
  uint32_t StartBlocks = 0;
};

TEST_F(SegmentedBlobOnTableFile, DefaultNamesGiveTheCachedAndNonfragmentingHeaps) {
  EXPECT_NE(dynamic_cast<TzfCachedHeapKind*>(Seg().beHeapEngine.get()), nullptr);
  EXPECT_NE(dynamic_cast<TzfNonfragmentingBlockHeapKind*>(Seg().beHeapEngine->bheBlockHeapEngine.get()), nullptr);
}

TEST_F(SegmentedBlobOnTableFile, WrittenReadGrownShrunkAndDeleted) {
  const uint32_t block = File->fiBlockSizeBytes;
  std::vector<int64_t> blobs;
  std::vector<std::string> models;
  // Several BLOBs side by side so that their segments share the heap's blocks.
  for (uint32_t size : {1u, 40u, block / 3, block, 3 * block + 17, 40000u}) {
    SCOPED_TRACE(size);
    int64_t nr = 0;
    InTrans([&](TzfBaseTransaction* t) { Engine->AddBlob(t, nr); });
    const std::string content = Bytes(size, size);
    Write(nr, 0, content);
    Expect(nr, content);
    blobs.push_back(nr);
    models.push_back(content);
  }
  // Grown by appends of odd sizes, in turn, then patched in the middle.
  for (uint32_t piece : {1u, 333u, block + 5}) {
    for (size_t i = 0; i < blobs.size(); ++i) {
      const std::string more = Bytes(piece, piece + uint32_t(i));
      Write(blobs[i], uint32_t(models[i].size()), more);
      models[i] += more;
      Expect(blobs[i], models[i]);
    }
  }
  const std::string patch = Bytes(2000, 9);
  Write(blobs[3], 100, patch);
  models[3].replace(100, patch.size(), patch);
  Expect(blobs[3], models[3]);
  // Shrunk, then each deleted; the heap gives its blocks back.
  for (size_t i = 0; i < blobs.size(); ++i) {
    InTrans([&](TzfBaseTransaction* t) { Engine->Truncate(t, blobs[i], uint32_t(models[i].size() / 2)); });
    models[i].resize(models[i].size() / 2);
    Expect(blobs[i], models[i]);
  }
  const uint32_t used = UsedBlocks();
  EXPECT_GT(used, StartBlocks);
  for (int64_t nr : blobs) {
    InTrans([&](TzfBaseTransaction* t) { Engine->DeleteBlob(t, nr); });
    EXPECT_EQ(Heap().Cached().CheckDirectory(nullptr), u"");
  }
  // The emptied blocks went back to the file: the same workload again takes no new block.
  int64_t nr = 0;
  InTrans([&](TzfBaseTransaction* t) { Engine->AddBlob(t, nr); });
  const std::string again = Bytes(40000 + 3 * (block + 5), 11);
  Write(nr, 0, again);
  Expect(nr, again);
  EXPECT_LE(UsedBlocks(), used);
}

TEST_F(SegmentedBlobOnTableFile, ReopenedEngineReadsWhatWasWritten) {
  int64_t nr = 0;
  InTrans([&](TzfBaseTransaction* t) { Engine->AddBlob(t, nr); });
  const std::string content = Bytes(12345, 4);
  Write(nr, 0, content);
  Engine.reset();
  Engine = TzfBaseBlobEngine::CreateEngine(Descriptor.get(), {Access.get()}, nullptr);
  Expect(nr, content);
}

// Heap descriptors naming engines that are not there are refused by the check and by creation.
TEST(HeapEngineKinds, UnknownNamesRefused) {
  zfStartStorage();
  struct TCase {
    const char16_t* Heap;
    const char16_t* BlockHeap;
  };
  for (const TCase& c : {TCase{u"NoSuchHeap", u"zf1xDefault"}, TCase{u"zf1xDefault", u"NoSuchBlockHeap"}}) {
    TzfBaseHeapDescriptor d(nullptr);
    d.bhdHeapEngine = c.Heap;
    d.AddBlockHeapDescriptor()->bbhdBlockHeapEngine = c.BlockHeap;
    EXPECT_EQ(RaisedCode([&] { TzfBaseHeapEngine::CheckValidBaseFromDescriptor(&d); }), zfErrSubEngineNotSupported);
  }
  TzfBaseHeapDescriptor ok(nullptr);
  ok.AddBlockHeapDescriptor();
  EXPECT_EQ(RaisedCode([&] { TzfBaseHeapEngine::CheckValidBaseFromDescriptor(&ok); }), 0u);
  zfStopStorage();
}

// The variable record engine takes the heap its descriptor names: the default one is the cached
// heap; a name nobody registered is 15503, a heap of another layout 10004.
class VariableRecordHeapByName : public TCacheTest {};

TEST_F(VariableRecordHeapByName, HeapNamesResolvedOrRefused) {
  zfRegisterTestHeap();
  struct TCase {
    const char16_t* Heap;
    uint32_t Code;
  };
  int n = 0;
  for (const TCase& c : {TCase{u"zf1xDefault", 0u}, TCase{u"NoSuchHeap", zfErrSubEngineNotSupported},
                         TCase{u"TestMemHeap", zfErrInvalidDesc}}) {
    SCOPED_TRACE(rtl::u8(c.Heap));
    kit::TKitTable table(false);
    auto* hrd = dynamic_cast<TzfHeapRecordDescriptor*>(
        table.Dict->AddRecordDescriptor(&TzfHeapRecordDescriptor::ClassInfo()));
    hrd->brdRecordEngine = u"Variable";
    hrd->AddHeapDescriptor()->bhdHeapEngine = c.Heap;
    hrd->hrdHeapDescriptor->AddBlockHeapDescriptor();
    TzfBlockAccess access(NewFile((u"/tmp/heap_by_name" + rtl::IntToStr(++n) + u".dvl7").c_str()), nullptr, u"t", 0);
    TTestTrans t(BM.get());
    std::unique_ptr<TzfBaseRecordEngine> engine;
    EXPECT_EQ(RaisedCode([&] { engine = TzfBaseRecordEngine::CreateEngine(*table.Dict, {&access}, &t); }), c.Code);
    if (engine) {
      EXPECT_NE(dynamic_cast<TzfVariableRecordEngine*>(engine.get()), nullptr);
      std::vector<uint8_t> r(size_t(table.Fields().GetRecordLength()), 0x22);
      int64_t ref = 0;
      engine->AddRecord(&t, ref, r.data());
      EXPECT_EQ(engine->GetRecordCount(&t), 1u);
      engine.reset();
    }
    t.Commit();
  }
  zfUnregisterTestHeap();
}

}  // namespace
}  // namespace zf::test
