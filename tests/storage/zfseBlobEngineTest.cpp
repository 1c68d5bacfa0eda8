// BLOB engines: the segmented engine over a heap in memory and the simple engine over "ZFBH"
// chains of a table file, the same workloads through the BLOB kind's contract, then each engine's
// stored forms, file BLOBs, links, and damaged trees and chains.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>

#include "foundation/zfllStreams.h"
#include "storage/zfseBlobEngineSegmented.h"
#include "storage/zfseBlobEngineSimple.h"
#include "zfsrCacheTestSupport.h"
#include "zfsrTestUtil.h"
#include "zfseBlobTestHeap.h"

namespace zf::test {
namespace {

std::string Pattern(size_t aCount, uint32_t aSeed) {
  std::string s(aCount, '\0');
  uint32_t x = aSeed * 2654435761u + 1;
  for (auto& c : s) {
    x = x * 1103515245u + 12345u;
    c = char(x >> 24);
  }
  return s;
}

// The bytes a read appends, with its result code.
struct TReadResult {
  uint32_t Code;
  std::string Bytes;
};

class BlobEngineFixture : public TCacheTest {
 protected:
  void SetUp() override {
    TCacheTest::SetUp();
    zfRegisterTestHeap();
  }
  void TearDown() override {
    Engine.reset();
    Access.reset();
    Descriptor.reset();
    zfUnregisterTestHeap();
    TCacheTest::TearDown();
  }

  // A table file, its accessor and an engine of aEngineName built in a committed transaction.
  void Make(bool aSegmented, int32_t aVersion = 30900) {
    File = NewFile(u"/tmp/blob_test.dvl7");
    File->fiZofrinVersion = aVersion;
    Access = std::make_unique<TzfBlockAccess>(File, nullptr, u"blob_test", 0);
    if (aSegmented) {
      auto d = std::make_unique<TzfHeapBlobDescriptor>(nullptr, "Blob");
      d->AddHeapDescriptor()->bhdHeapEngine = u"TestMemHeap";
      d->hbdHeapDescriptor->AddBlockHeapDescriptor()->bbhdBlockHeapEngine = u"TestMemBlockHeap";
      Descriptor = std::move(d);
    } else {
      Descriptor = std::make_unique<TzfBaseBlobDescriptor>(nullptr, "Blob");
      Descriptor->bbdBlobEngine = u"zf1xSimple";
    }
    Descriptor->diID = 7;
    TTestTrans t(BM.get());
    Engine = TzfBaseBlobEngine::CreateEngine(Descriptor.get(), {Access.get()}, &t);
    t.Commit();
  }
  TzfSegmentedBlobEngine& Seg() { return dynamic_cast<TzfSegmentedBlobEngine&>(*Engine); }
  TTestHeap& Heap() { return dynamic_cast<TTestHeap&>(*Seg().beHeapEngine); }

  // Runs aWork in a transaction of its own and commits it.
  void InTrans(const std::function<void(TzfBaseTransaction*)>& aWork) {
    TTestTrans t(BM.get());
    aWork(&t);
    t.Commit();
  }
  int64_t Add() {
    int64_t nr = 0;
    InTrans([&](TzfBaseTransaction* t) { Engine->AddBlob(t, nr); });
    return nr;
  }
  void Write(int64_t aNr, uint32_t aOffset, const std::string& aBytes) {
    InTrans([&](TzfBaseTransaction* t) { Engine->Write(t, aNr, aOffset, uint32_t(aBytes.size()), aBytes.data()); });
  }
  void Truncate(int64_t aNr, uint32_t aLen) {
    InTrans([&](TzfBaseTransaction* t) { Engine->Truncate(t, aNr, aLen); });
  }
  TReadResult Read(int64_t aNr, uint32_t aOffset, uint32_t aLen, const TzfBlobLinkRead& aLink = {}) {
    TzfMemoryStream ms;
    const uint32_t code = Engine->Read(nullptr, aNr, aOffset, aLen, aLink, ms);
    return {code, std::string(static_cast<const char*>(ms.Memory()), size_t(ms.Size()))};
  }
  uint32_t Length(int64_t aNr) {
    uint32_t len = 0xDEAD;
    EXPECT_EQ(Engine->GetBlobLength(nullptr, aNr, {}, len), 0u);
    return len;
  }
  // The whole BLOB read back equals aExpected, and so do reads at a few offsets.
  void Expect(int64_t aNr, const std::string& aExpected) {
    ASSERT_EQ(Length(aNr), aExpected.size());
    const TReadResult all = Read(aNr, 0, 0xFFFFFFFF);
    ASSERT_EQ(all.Code, 0u);
    ASSERT_EQ(all.Bytes.size(), aExpected.size());
    ASSERT_TRUE(all.Bytes == aExpected);
    const uint32_t n = uint32_t(aExpected.size());
    for (uint32_t off : {0u, 1u, n / 3, n / 2, n > 0 ? n - 1 : 0u, n}) {
      const TReadResult part = Read(aNr, off, 5000);
      ASSERT_EQ(part.Bytes, aExpected.substr(std::min<size_t>(off, n), 5000)) << "offset " << off;
    }
    if (auto* seg = dynamic_cast<TzfSegmentedBlobEngine*>(Engine.get())) {
      ASSERT_EQ(seg->CheckBlob(nullptr, aNr), u"");
    }
  }

  TMemFile* File = nullptr;
  std::unique_ptr<TzfBlockAccess> Access;
  std::unique_ptr<TzfBaseBlobDescriptor> Descriptor;
  std::unique_ptr<TzfBaseBlobEngine> Engine;
};

// ---- both engines through the contract ----

class BlobEngineBoth : public BlobEngineFixture, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    BlobEngineFixture::SetUp();
    Make(GetParam());
  }
};

TEST_P(BlobEngineBoth, SizesWrittenReadTruncatedAndGrown) {
  const uint32_t block = File->fiBlockSizeBytes;
  for (uint32_t size : {0u, 1u, 11u, 12u, 13u, block - 27, block - 26, block, 5 * block + 17, 20000u}) {
    SCOPED_TRACE(size);
    const int64_t nr = Add();
    const std::string content = Pattern(size, size);
    if (size) Write(nr, 0, content);
    Expect(nr, content);
    // Grown by appends of odd sizes, then overwritten in the middle.
    std::string model = content;
    for (uint32_t piece : {1u, 11u, 300u, block}) {
      const std::string more = Pattern(piece, piece + size);
      Write(nr, uint32_t(model.size()), more);
      model += more;
    }
    Expect(nr, model);
    const std::string patch = Pattern(model.size() / 2 + 1, 99);
    Write(nr, uint32_t(model.size() / 3), patch);
    model.replace(model.size() / 3, std::min(patch.size(), model.size() - model.size() / 3), patch);
    model.resize(std::max(model.size(), model.size() / 3 + patch.size()));
    Expect(nr, model);
    // Truncated step by step down to nothing.
    for (uint32_t to : {uint32_t(model.size()), uint32_t(model.size() - 1), block + 5, 12u, 11u, 1u, 0u}) {
      if (to > model.size()) continue;
      Truncate(nr, to);
      model.resize(to);
      Expect(nr, model);
    }
    InTrans([&](TzfBaseTransaction* t) { EXPECT_TRUE(Engine->FreeBlob(t, nr)); });
  }
}

TEST_P(BlobEngineBoth, SeveralMegabytesInPiecesAndAtOnce) {
  const std::string big = Pattern(3 * 1024 * 1024 + 123, 5);
  const int64_t a = Add();
  Write(a, 0, big);
  Expect(a, big);
  const int64_t b = Add();
  for (size_t off = 0; off < big.size(); off += 70001) Write(b, uint32_t(off), big.substr(off, 70001));
  Expect(b, big);
  Truncate(b, 1000000);
  Expect(b, big.substr(0, 1000000));
  InTrans([&](TzfBaseTransaction* t) {
    Engine->DeleteBlob(t, a);
    Engine->DeleteBlob(t, b);
  });
}

TEST_P(BlobEngineBoth, OffsetsAndLengthsRefused) {
  const int64_t nr = Add();
  Write(nr, 0, "hello");
  EXPECT_EQ(RaisedCode([&] { Write(nr, 6, "x"); }), zfErrInvalidBlobOffset);
  EXPECT_EQ(RaisedCode([&] { Truncate(nr, 6); }), zfErrInvalidBlobLen);
  Write(nr, 5, "!");  // at the length: appends
  Expect(nr, "hello!");
  Write(nr, 2, "");  // nothing to write
  Expect(nr, "hello!");
  EXPECT_EQ(Read(nr, 6, 10).Bytes, "");
  EXPECT_EQ(Read(nr, 100, 10).Bytes, "");
  EXPECT_EQ(Read(nr, 4, 100).Bytes, "o!");
  InTrans([&](TzfBaseTransaction* t) { EXPECT_FALSE(Engine->FreeBlob(t, nr)); });
  Expect(nr, "hello!");
}

TEST_P(BlobEngineBoth, FileBlobs) {
  TempDir dir;
  const std::string content = Pattern(10000, 3);
  std::ofstream(dir.FilePath("ext.bin"), std::ios::binary) << content;
  int64_t nr = 0;
  InTrans([&](TzfBaseTransaction* t) { Engine->AddFileBlob(t, dir.File("ext.bin"), nr); });
  UnicodeString name;
  EXPECT_TRUE(Engine->IsFileBlob(nullptr, nr, name));
  EXPECT_EQ(name, dir.File("ext.bin"));
  EXPECT_EQ(Length(nr), 10000u);
  EXPECT_EQ(Read(nr, 9000, 5000).Bytes, content.substr(9000));  // only what the file holds
  EXPECT_EQ(Read(nr, 20000, 10).Bytes, "");
  EXPECT_EQ(RaisedCode([&] { Write(nr, 0, "x"); }), zfErrReadOnlyField);
  UnicodeString table;
  int64_t source = 1;
  EXPECT_FALSE(Engine->IsBlobLink(nullptr, nr, table, source));
  EXPECT_EQ(table, u"");
  EXPECT_EQ(source, 0);
  // A file that is gone answers the open code, not an exception.
  int64_t missing = 0;
  InTrans([&](TzfBaseTransaction* t) { Engine->AddFileBlob(t, dir.File("nothing.bin"), missing); });
  uint32_t len = 0;
  EXPECT_EQ(Engine->GetBlobLength(nullptr, missing, {}, len), zfErrFileBlobOpen);
  EXPECT_EQ(Read(missing, 0, 10).Code, zfErrFileBlobOpen);
  // Deleting the BLOB leaves the file alone.
  InTrans([&](TzfBaseTransaction* t) { Engine->DeleteBlob(t, nr); });
  EXPECT_TRUE(std::filesystem::exists(dir.Path / "ext.bin"));
}

// What a database's link handler answers, recorded.
class TLinks : public TzfBaseBlobLinkHandler {
 public:
  uint32_t BlobLinkRead(const UnicodeString& aTable, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                        rtl::TStream& aStream) override {
    Calls.push_back(aTable + u"/" + rtl::IntToStr(aBlobNr) + u"@" + rtl::IntToStr(aOffset) + u"+" + rtl::IntToStr(aLen));
    aStream.WriteBuffer("linked", 6);
    return 0;
  }
  uint32_t BlobLinkGetLength(const UnicodeString& aTable, int64_t aBlobNr, uint32_t& aLength) override {
    Calls.push_back(aTable + u"/" + rtl::IntToStr(aBlobNr));
    aLength = 6;
    return Answer;
  }
  std::vector<UnicodeString> Calls;
  uint32_t Answer = 0;
};

TEST_P(BlobEngineBoth, LinksGoThroughTheCallersMethods) {
  int64_t nr = 0;
  InTrans([&](TzfBaseTransaction* t) { Engine->AddBlobLink(t, u"Orders", 0x123456789, nr); });
  UnicodeString table;
  int64_t source = 0;
  ASSERT_TRUE(Engine->IsBlobLink(nullptr, nr, table, source));
  EXPECT_EQ(table, u"Orders");
  EXPECT_EQ(source, 0x123456789);
  UnicodeString name = u"x";
  EXPECT_FALSE(Engine->IsFileBlob(nullptr, nr, name));
  EXPECT_EQ(name, u"");
  TLinks links;
  uint32_t len = 0;
  EXPECT_EQ(Engine->GetBlobLength(nullptr, nr, zfBlobLinkGetLengthOf(&links), len), 0u);
  EXPECT_EQ(len, 6u);
  links.Answer = 10245;
  EXPECT_EQ(Engine->GetBlobLength(nullptr, nr, zfBlobLinkGetLengthOf(&links), len), 10245u);
  TReadResult r = Read(nr, 2, 4, zfBlobLinkReadOf(&links));
  EXPECT_EQ(r.Bytes, "linked");
  ASSERT_EQ(links.Calls.size(), 3u);
  EXPECT_EQ(links.Calls[2], u"Orders/4886718345@2+4");
  EXPECT_EQ(RaisedCode([&] { Write(nr, 0, "x"); }), zfErrReadOnlyField);
  InTrans([&](TzfBaseTransaction* t) { EXPECT_FALSE(Engine->FreeBlob(t, nr)); });
}

TEST_P(BlobEngineBoth, RandomWorkloadAgainstAModel) {
  std::mt19937 rng(17);
  const uint32_t block = File->fiBlockSizeBytes;
  std::vector<std::pair<int64_t, std::string>> blobs;
  for (int i = 0; i < 6; ++i) blobs.emplace_back(Add(), std::string());
  for (int step = 0; step < 300; ++step) {
    auto& entry = blobs[rng() % blobs.size()];
    int64_t& nr = entry.first;
    std::string& model = entry.second;
    const uint32_t op = rng() % 10;
    if (op < 6) {
      const uint32_t off = model.empty() ? 0 : uint32_t(rng() % (model.size() + 1));
      const uint32_t len = std::vector<uint32_t>{1, 5, 11, 12, 100, block - 27, block, 3 * block}[rng() % 8];
      const std::string bytes = Pattern(len, uint32_t(step));
      Write(nr, off, bytes);
      if (model.size() < off + len) model.resize(off + len);
      model.replace(off, len, bytes);
    } else if (op < 9) {
      const uint32_t to = model.empty() ? 0 : uint32_t(rng() % (model.size() + 1));
      Truncate(nr, to);
      model.resize(to);
    } else {
      InTrans([&](TzfBaseTransaction* t) { Engine->DeleteBlob(t, nr); });
      nr = Add();
      model.clear();
    }
    ASSERT_NO_FATAL_FAILURE(Expect(nr, model)) << "step " << step;
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, BlobEngineBoth, ::testing::Values(true, false),
                         [](const auto& aInfo) { return aInfo.param ? "Segmented" : "Simple"; });

// ---- the segmented engine ----

class SegmentedBlobEngineTest : public BlobEngineFixture {
 protected:
  void SetUp() override {
    BlobEngineFixture::SetUp();
    Make(true);
  }
  // A copy of the root segment's bytes.
  std::string Root(int64_t aNr) {
    uint16_t size = 0;
    PzfBlock block = nullptr;
    TzfReleaseMethod rm;
    PzfByteArray p = Heap().GetSegment(nullptr, aNr, false, size, block, rm);
    return std::string(reinterpret_cast<const char*>(p), size);
  }
};

TEST_F(SegmentedBlobEngineTest, RootFormsAsStored) {
  const int64_t nr = Add();
  EXPECT_EQ(Root(nr).size(), 13u);
  EXPECT_EQ(Root(nr)[0], 0);
  EXPECT_EQ(uint32_t(uint64_t(nr) >> 32), 1u);  // block 1 of the heap, its first slot
  Write(nr, 0, "abcde");
  std::string small("\x03" "abcde", 6);
  EXPECT_EQ(Root(nr).substr(0, 6), small);
  EXPECT_EQ(Root(nr)[12], 5);
  Write(nr, 5, "fghijkl");  // 12 bytes: a data root of exactly 13 bytes
  EXPECT_EQ(Root(nr), std::string("\x04" "abcdefghijkl", 13));
  Write(nr, 12, Pattern(100, 1));
  EXPECT_EQ(Root(nr).size(), 113u);
  Truncate(nr, 11);
  EXPECT_EQ(Root(nr).size(), 13u);
  EXPECT_EQ(Root(nr)[0], 3);
  EXPECT_EQ(Root(nr).substr(1, 11), "abcdefghijk");
  EXPECT_EQ(Root(nr)[12], 11);
  Truncate(nr, 0);
  EXPECT_EQ(Root(nr)[0], 0);
  // A BLOB beyond one segment: an index root whose items end at ascending offsets, the last at the
  // length, and the BLOB number stays.
  const std::string big = Pattern(30000, 2);
  Write(nr, 0, big);
  const std::string root = Root(nr);
  ASSERT_EQ(root[0], 5);
  ASSERT_EQ((root.size() - 1) % 12, 0u);
  EXPECT_EQ(zfGetLE32(reinterpret_cast<const uint8_t*>(root.data()) + root.size() - 4), 30000u);
  Expect(nr, big);
  // Truncated to what fits one segment: back into the root.
  Truncate(nr, 3000);
  EXPECT_EQ(Root(nr)[0], 4);
  EXPECT_EQ(Root(nr).size(), 3001u);
  Expect(nr, big.substr(0, 3000));
  InTrans([&](TzfBaseTransaction* t) { Engine->DeleteBlob(t, nr); });
  EXPECT_EQ(Heap().LiveSegments(), 0u);
}

TEST_F(SegmentedBlobEngineTest, DeletingATreeFreesEverySegment) {
  const int64_t a = Add();
  const int64_t b = Add();
  Write(a, 0, Pattern(200000, 1));
  Write(b, 0, "kept");
  InTrans([&](TzfBaseTransaction* t) { Engine->DeleteBlob(t, a); });
  EXPECT_EQ(Heap().LiveSegments(), 1u);
  Expect(b, "kept");
}

// Thousands of small appends: index segments move to where they can widen, so the tree stays
// far below the depth a read accepts.
TEST_F(SegmentedBlobEngineTest, ManySmallAppendsStayShallow) {
  const int64_t nr = Add();
  std::string model;
  for (int i = 0; i < 1500; ++i) {
    const std::string piece = Pattern(1000 + i % 7, uint32_t(i));
    Write(nr, uint32_t(model.size()), piece);
    model += piece;
  }
  Expect(nr, model);
  // Depth of the path to the last byte.
  int depth = 0;
  int64_t ref = nr;
  for (;;) {
    const std::string seg = [&] {
      uint16_t size = 0;
      PzfBlock b = nullptr;
      TzfReleaseMethod rm;
      PzfByteArray p = Heap().GetSegment(nullptr, ref, false, size, b, rm);
      return std::string(reinterpret_cast<const char*>(p), size);
    }();
    if (seg[0] != 5) break;
    ++depth;
    ref = int64_t(zfGetLE64(reinterpret_cast<const uint8_t*>(seg.data()) + seg.size() - 12));
  }
  EXPECT_LE(depth, 6);
}

TEST_F(SegmentedBlobEngineTest, FileNamesInBothForms) {
  int64_t wide = 0;
  InTrans([&](TzfBaseTransaction* t) { Engine->AddFileBlob(t, u"a.txt", wide); });
  // UTF-16 form: type 6, five characters padded with NUL to at least 12 bytes.
  const std::string root = Root(wide);
  EXPECT_EQ(root[0], 6);
  EXPECT_GE(root.size(), 13u);
  EXPECT_EQ(root.substr(1, 10), std::string("a\0.\0t\0x\0t\0", 10));
  UnicodeString name;
  EXPECT_TRUE(Engine->IsFileBlob(nullptr, wide, name));
  EXPECT_EQ(name, u"a.txt");
  // Truncating a file BLOB to 0 empties it; to anything else is refused.
  EXPECT_EQ(RaisedCode([&] { Truncate(wide, 1); }), zfErrReadOnlyField);
  Truncate(wide, 0);
  Expect(wide, "");

  // An older table stores the ANSI forms.
  Engine.reset();
  Make(true, 20500);
  int64_t ansi = 0, link = 0;
  InTrans([&](TzfBaseTransaction* t) {
    Engine->AddFileBlob(t, u"b.txt", ansi);
    Engine->AddBlobLink(t, u"T", 9, link);
  });
  EXPECT_EQ(Root(ansi), std::string("\x01" "b.txt\0\0\0\0\0\0\0", 13));
  EXPECT_EQ(Root(link), std::string("\x02\x09\0\0\0\0\0\0\0T", 10));
  EXPECT_TRUE(Engine->IsFileBlob(nullptr, ansi, name));
  EXPECT_EQ(name, u"b.txt");
}

TEST_F(SegmentedBlobEngineTest, DescriptorChecks) {
  TzfBaseBlobDescriptor plain(nullptr, "Blob");
  EXPECT_EQ(RaisedCode([&] { TzfSegmentedBlobEngine::CheckValidEngineDescriptor(&plain); }), zfErrInvalidDesc);
  TzfHeapBlobDescriptor noHeap(nullptr, "Blob");
  EXPECT_EQ(RaisedCode([&] { TzfSegmentedBlobEngine::CheckValidEngineDescriptor(&noHeap); }), zfErrInvalidDesc);
  TzfHeapBlobDescriptor unknown(nullptr, "Blob");
  unknown.AddHeapDescriptor()->bhdHeapEngine = u"NoSuchHeap";
  EXPECT_EQ(RaisedCode([&] { TzfSegmentedBlobEngine::CheckValidEngineDescriptor(&unknown); }),
            zfErrSubEngineNotSupported);
  TzfHeapBlobDescriptor noBlockHeap(nullptr, "Blob");
  noBlockHeap.AddHeapDescriptor()->bhdHeapEngine = u"TestMemHeap";
  EXPECT_EQ(RaisedCode([&] { TzfSegmentedBlobEngine::CheckValidEngineDescriptor(&noBlockHeap); }), zfErrInvalidDesc);
  TzfBaseBlobDescriptor other(nullptr, "Blob");
  other.bbdBlobEngine = u"NoSuchBlob";
  EXPECT_EQ(RaisedCode([&] { TzfBaseBlobEngine::CheckValidFromDescriptor(&other); }), zfErrSubEngineNotSupported);
  TTestTrans t(BM.get());
  EXPECT_EQ(TzfBaseBlobEngine::CreateEngine(nullptr, {Access.get()}, &t), nullptr);
}

// Damage made on purpose to a stored tree: each case breaks one rule and must give a coded error
// from every read, never a crash, a loop or a wrong success.
TEST_F(SegmentedBlobEngineTest, DamagedTreesRefused) {
  struct TCase {
    const char* Name;
    std::function<void(TTestHeap&, int64_t, uint8_t*)> Damage;  // the root's bytes given
  };
  auto child = [](uint8_t* aRoot, int aItem) { return int64_t(zfGetLE64(aRoot + 1 + 12 * aItem)); };
  auto seg = [](TTestHeap& aHeap, int64_t aRef) {
    uint16_t size = 0;
    PzfBlock b = nullptr;
    TzfReleaseMethod rm;
    return aHeap.GetSegment(nullptr, aRef, false, size, b, rm);
  };
  const std::vector<TCase> cases = {
      {"unknown root type", [](TTestHeap&, int64_t, uint8_t* r) { r[0] = 9; }},
      {"child loops to the root", [](TTestHeap&, int64_t nr, uint8_t* r) { zfPutLE64(r + 1, uint64_t(nr)); }},
      {"end offsets descend", [](TTestHeap&, int64_t, uint8_t* r) { zfPutLE32(r + 1 + 8, 0xFFFFFFF0u); }},
      {"first item empty", [](TTestHeap&, int64_t, uint8_t* r) { zfPutLE32(r + 1 + 8, 0); }},
      {"child in no block", [](TTestHeap&, int64_t, uint8_t* r) { zfPutLE64(r + 1, uint64_t(9999) << 32 | 1); }},
      {"child slot not live", [](TTestHeap&, int64_t, uint8_t* r) { zfPutLE64(r + 1, zfGetLE64(r + 1) + 500); }},
      {"child of a wrong type",
       [&](TTestHeap& h, int64_t, uint8_t* r) { seg(h, child(r, 0))[0] = 7; }},
      {"data shorter than its item",
       [&](TTestHeap& h, int64_t, uint8_t* r) {
         const int64_t c = child(r, 0);
         h.bheBlockHeapEngine->ReAllocSegment(h.Block(zfHeapRefBlock(c)), 50, zfHeapRefSegment(c));
       }},
      {"index child that refers to itself",
       [&](TTestHeap& h, int64_t, uint8_t* r) {
         // The first child becomes an index segment whose one item is itself, spanning its range.
         const int64_t c = child(r, 0);
         uint8_t* p = h.bheBlockHeapEngine->ReAllocSegment(h.Block(zfHeapRefBlock(c)), 13, zfHeapRefSegment(c));
         p[0] = 5;
         zfPutLE64(p + 1, uint64_t(c));
         zfPutLE32(p + 9, zfGetLE32(r + 9));
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const int64_t nr = Add();
    Write(nr, 0, Pattern(20000, 4));
    c.Damage(Heap(), nr, seg(Heap(), nr));
    const TReadResult r = [&] {
      try {
        return Read(nr, 0, 0xFFFFFFFF);
      } catch (const EzfBaseException& e) {
        return TReadResult{e.ErrorCode(), {}};
      }
    }();
    EXPECT_NE(r.Code, 0u);
    EXPECT_NE(Seg().CheckBlob(nullptr, nr), u"");
    // Changes are refused as well, with a code.
    const uint32_t code = RaisedCode([&] { Write(nr, 0, "x"); });
    EXPECT_NE(code, 0u);
  }
}

TEST_F(SegmentedBlobEngineTest, UnknownRootIsAnErrorNotAnEmptyBlob) {
  const int64_t nr = Add();
  Write(nr, 0, "abc");
  uint16_t size = 0;
  PzfBlock b = nullptr;
  TzfReleaseMethod rm;
  Heap().GetSegment(nullptr, nr, false, size, b, rm)[0] = 200;
  EXPECT_EQ(Read(nr, 0, 10).Code, zfErrBlobGeneral);
  uint32_t len = 0;
  EXPECT_EQ(Engine->GetBlobLength(nullptr, nr, {}, len), zfErrBlobGeneral);
  EXPECT_EQ(RaisedCode([&] { Truncate(nr, 0); }), zfErrBlobGeneral);
  // A small root whose length byte runs past its room.
  Heap().GetSegment(nullptr, nr, false, size, b, rm)[0] = 3;
  Heap().GetSegment(nullptr, nr, false, size, b, rm)[12] = 200;
  EXPECT_EQ(RaisedCode([&] { Read(nr, 0, 10); }), zfErrBlobGeneral);
}

// ---- the simple engine ----

class SimpleBlobEngineTest : public BlobEngineFixture {
 protected:
  void SetUp() override {
    BlobEngineFixture::SetUp();
    Make(false);
  }

 public:
  std::vector<uint8_t> BlockOf(int64_t aNr) { return Committed(File, TzfBlockNumber(aNr)); }
  void Poke(TzfBlockNumber aBlock, uint32_t aOffset, const std::vector<uint8_t>& aBytes) {
    PokeBytes(File, aBlock, aOffset, aBytes);
  }
  void PokeLE32(TzfBlockNumber aBlock, uint32_t aOffset, uint32_t aValue) { TCacheTest::PokeLE32(File, aBlock, aOffset, aValue); }
};

TEST_F(SimpleBlobEngineTest, ChainAsStored) {
  const uint32_t room = File->fiBlockSizeBytes - 27;
  const int64_t nr = Add();
  // A new head block, cell by cell.
  std::vector<uint8_t> head = BlockOf(nr);
  EXPECT_EQ(std::string(head.begin(), head.begin() + 4), "ZFBH");
  EXPECT_EQ(zfGetLE32(head.data() + 4), uint32_t(nr));
  EXPECT_EQ(head[16], 0);
  EXPECT_EQ(zfGetLE32(head.data() + 17), 0xFFFFFFFFu);
  EXPECT_EQ(zfGetLE32(head.data() + 21), 0u);
  EXPECT_EQ(zfGetLE16(head.data() + 25), 0u);
  EXPECT_EQ(zfGetLE32(head.data() + File->fiBlockSizeBytes), 7u);  // owner ID
  // A full head block, then a following write starts a second block.
  const std::string first = Pattern(room, 1);
  Write(nr, 0, first);
  head = BlockOf(nr);
  EXPECT_EQ(zfGetLE32(head.data() + 17), 0xFFFFFFFFu);
  EXPECT_EQ(zfGetLE16(head.data() + 25), room);
  EXPECT_EQ(zfGetLE32(head.data() + 21), room);
  Write(nr, room, "xyz");
  head = BlockOf(nr);
  const uint32_t second = zfGetLE32(head.data() + 17);
  ASSERT_NE(second, 0xFFFFFFFFu);
  const std::vector<uint8_t> next = BlockOf(second);
  EXPECT_EQ(next[16], 0);
  EXPECT_EQ(zfGetLE32(next.data() + 17), 0xFFFFFFFFu);
  EXPECT_EQ(zfGetLE32(next.data() + 21), 0u);
  EXPECT_EQ(zfGetLE16(next.data() + 25), 3u);
  EXPECT_EQ(std::string(next.begin() + 27, next.begin() + 30), "xyz");
  EXPECT_EQ(zfGetLE32(head.data() + 21), room + 3);
  // Truncate to 0 keeps only the head block.
  Truncate(nr, 0);
  head = BlockOf(nr);
  EXPECT_EQ(zfGetLE32(head.data() + 17), 0xFFFFFFFFu);
  EXPECT_EQ(zfGetLE32(head.data() + 21), 0u);
  // The references, cell by cell.
  int64_t file = 0, link = 0;
  InTrans([&](TzfBaseTransaction* t) {
    Engine->AddFileBlob(t, u"ab.txt", file);
    Engine->AddBlobLink(t, u"Tab", 0x0102030405060708, link);
  });
  const std::vector<uint8_t> f = BlockOf(file);
  EXPECT_EQ(f[16], 1);
  EXPECT_EQ(zfGetLE32(f.data() + 21), 7u);
  EXPECT_EQ(zfGetLE16(f.data() + 27), 6u);
  EXPECT_EQ(std::string(f.begin() + 29, f.begin() + 35), "ab.txt");
  const std::vector<uint8_t> l = BlockOf(link);
  EXPECT_EQ(l[16], 2);
  EXPECT_EQ(zfGetLE32(l.data() + 21), 15u);
  EXPECT_EQ(zfGetLE32(l.data() + 27), 3u);
  EXPECT_EQ(std::string(l.begin() + 31, l.begin() + 34), "Tab");
  EXPECT_EQ(zfGetLE64(l.data() + 34), 0x0102030405060708u);
}

TEST_F(SimpleBlobEngineTest, NumbersRefused) {
  const int64_t nr = Add();
  Write(nr, 0, "abc");
  TzfMemoryStream ms;
  EXPECT_EQ(RaisedCode([&] { Read(0, 0, 1); }), zfErrInvalidBlobHandle);
  EXPECT_EQ(RaisedCode([&] { Read(100000, 0, 1); }), zfErrBlockNumberOutOfRange);
  InTrans([&](TzfBaseTransaction* t) { Engine->DeleteBlob(t, nr); });
  EXPECT_EQ(RaisedCode([&] { Read(nr, 0, 1); }), zfErrBlobGeneral);
  uint32_t len = 0;
  EXPECT_EQ(RaisedCode([&] { Engine->GetBlobLength(nullptr, 0, {}, len); }), zfErrInvalidBlobHandle);
}

TEST_F(SimpleBlobEngineTest, DamagedChainsRefused) {
  const uint32_t room = File->fiBlockSizeBytes - 27;
  struct TCase {
    const char* Name;
    std::function<void(SimpleBlobEngineTest&, TzfBlockNumber, TzfBlockNumber)> Damage;  // head, second block
    bool WriteNoticesIt = true;
  };
  const std::vector<TCase> cases = {
      {"loop back to the head", [](auto& t, TzfBlockNumber h, TzfBlockNumber s) { t.PokeLE32(s, 17, h); }},
      {"loop onto itself", [](auto& t, TzfBlockNumber, TzfBlockNumber s) { t.PokeLE32(s, 17, s); }},
      {"next out of the file", [](auto& t, TzfBlockNumber h, TzfBlockNumber) { t.PokeLE32(h, 17, 77777); }},
      {"next to block 0", [](auto& t, TzfBlockNumber h, TzfBlockNumber) { t.PokeLE32(h, 17, 0); }},
      {"count beyond the block", [](auto& t, TzfBlockNumber h, TzfBlockNumber) { t.Poke(h, 25, {0xFF, 0xFF}); }},
      // A write inside the chain's bytes does not walk to its end; reads do.
      {"length beyond the chain", [](auto& t, TzfBlockNumber h, TzfBlockNumber) { t.PokeLE32(h, 21, 0x7FFFFFFF); },
       false},
      {"chain cut short", [](auto& t, TzfBlockNumber h, TzfBlockNumber) { t.PokeLE32(h, 17, 0xFFFFFFFF); }},
      {"follower not a BLOB block", [](auto& t, TzfBlockNumber, TzfBlockNumber s) { t.Poke(s, 0, {'X'}); }},
      {"unknown kind", [](auto& t, TzfBlockNumber h, TzfBlockNumber) { t.Poke(h, 16, {9}); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const int64_t nr = Add();
    Write(nr, 0, Pattern(room * 3 + 10, 8));
    const TzfBlockNumber second = zfGetLE32(BlockOf(nr).data() + 17);
    c.Damage(*this, TzfBlockNumber(nr), second);
    uint32_t code = 0;
    try {
      code = Read(nr, 0, 0xFFFFFFFF).Code;
    } catch (const EzfBaseException& e) {
      code = e.ErrorCode();
    }
    EXPECT_NE(code, 0u);
    if (c.WriteNoticesIt) {
      EXPECT_NE(RaisedCode([&] { Write(nr, room * 3, "tail"); }), 0u);
    }
  }
  // Damaged references of file BLOBs and links.
  int64_t file = 0, link = 0;
  InTrans([&](TzfBaseTransaction* t) {
    Engine->AddFileBlob(t, u"f", file);
    Engine->AddBlobLink(t, u"T", 1, link);
  });
  Poke(TzfBlockNumber(file), 27, {0xFF, 0xFF});
  PokeLE32(TzfBlockNumber(link), 27, 0xFFFFFF00u);
  UnicodeString name;
  int64_t source = 0;
  EXPECT_EQ(RaisedCode([&] { Engine->IsFileBlob(nullptr, file, name); }), zfErrBlobGeneral);
  EXPECT_EQ(RaisedCode([&] { Engine->IsBlobLink(nullptr, link, name, source); }), zfErrBlobGeneral);
}

}  // namespace
}  // namespace zf::test
