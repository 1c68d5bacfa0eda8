// Reading BLOBs from damaged blocks: a clean image (a table file with "ZFBH" chains of the simple
// BLOB engine, and the heap blocks of the segmented engine's trees) is made once by the engines;
// each input chooses an engine, a BLOB and a read, and patches bytes of the blocks. Lengths, reads
// at an offset, whole reads, the kind tests and the tree check must end in a coded engine error or
// a success; nothing else may escape, and nothing may loop or read outside a block.
//
// Input: byte 0 engine (bit 0) and BLOB (bits 1..3); bytes 1..4 the read offset; bytes 5..8 the
// read length; then patches of 4 bytes: block (1 byte, taken modulo the blocks), offset (2 bytes,
// modulo the block size), value.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "foundation/zfllStreams.h"
#include "storage/zfseBlobEngineSegmented.h"
#include "storage/zfseBlobEngineSimple.h"
#include "storage/zfsrBlockAccess.h"
#include "storage/zfsrStartup.h"
#include "tests/storage/zfseBlobTestHeap.h"
#include "fuzz/zfsrFuzzMemFile.h"

using namespace zf;
using TFuzzFile = zf::fuzz::TFuzzMemFile;
using zf::fuzz::TFuzzTrans;

namespace {

constexpr uint32_t kBlock = 4096;

struct TDescriptors {
  TDescriptors() : Seg(nullptr, "Blob"), Simple(nullptr, "SBlob") {
    Seg.AddHeapDescriptor()->bhdHeapEngine = u"TestMemHeap";
    Seg.hbdHeapDescriptor->AddBlockHeapDescriptor()->bbhdBlockHeapEngine = u"TestMemBlockHeap";
    Seg.diID = 5;
    Simple.bbdBlobEngine = u"zf1xSimple";
    Simple.diID = 7;
  }
  TzfHeapBlobDescriptor Seg;
  TzfBaseBlobDescriptor Simple;
};

struct TImage {
  std::vector<uint8_t> Disk;
  std::vector<std::vector<uint8_t>> HeapBlocks;  // index 0 unused
  std::vector<int64_t> SegBlobs, SimpleBlobs;
};

std::vector<uint8_t> Bytes(uint32_t aCount, uint32_t aSeed) {
  std::vector<uint8_t> b(aCount);
  for (uint32_t i = 0; i < aCount; ++i) b[i] = uint8_t(i * 7 + aSeed);
  return b;
}

const TImage& Clean(TDescriptors& aDesc) {
  static TImage image = [&] {
    TImage img;
    TzfBufferManager bm(u"/tmp");
    TFuzzFile f;
    f.fiName = u"/tmp/fuzz_blob.dvl7";
    f.fiBufMgr = &bm;
    f.fiZofrinVersion = 30900;
    f.fiMaxBlocks = 1u << 16;
    TFuzzTrans t(&bm);
    f.AddHeader(&t, {}, zfHeaderSignature2);
    TzfBlockAccess access(&f, nullptr, u"fuzz_blob", 0);
    auto seg = TzfBaseBlobEngine::CreateEngine(&aDesc.Seg, {&access}, &t);
    auto simple = TzfBaseBlobEngine::CreateEngine(&aDesc.Simple, {&access}, &t);
    for (uint32_t size : {0u, 5u, 12u, 3000u, 30000u, 70000u}) {
      int64_t a = 0, b = 0;
      seg->AddBlob(&t, a);
      simple->AddBlob(&t, b);
      const std::vector<uint8_t> data = Bytes(size, size);
      seg->Write(&t, a, 0, size, data.data());
      simple->Write(&t, b, 0, size, data.data());
      img.SegBlobs.push_back(a);
      img.SimpleBlobs.push_back(b);
    }
    int64_t n = 0;
    seg->AddBlobLink(&t, u"Source", 42, n);
    img.SegBlobs.push_back(n);
    simple->AddBlobLink(&t, u"Source", 42, n);
    img.SimpleBlobs.push_back(n);
    seg->AddFileBlob(&t, u"no_such_file.bin", n);
    img.SegBlobs.push_back(n);
    t.Commit();
    for (auto& b : dynamic_cast<zf::test::TTestHeap&>(*dynamic_cast<TzfSegmentedBlobEngine&>(*seg).beHeapEngine).Blocks)
      img.HeapBlocks.push_back(b ? *b : std::vector<uint8_t>());
    seg.reset();
    simple.reset();
    bm.RemoveFile(&f);
    img.Disk = f.Disk;
    return img;
  }();
  return image;
}

struct TStarted {
  TStarted() {
    zfStartStorage();
    zf::test::zfRegisterTestHeap();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static TStarted started;
  static TDescriptors desc;
  const TImage& clean = Clean(desc);
  if (aSize < 9) return 0;
  const bool segmented = (aData[0] & 1) != 0;
  const std::vector<int64_t>& blobs = segmented ? clean.SegBlobs : clean.SimpleBlobs;
  const int64_t nr = blobs[(aData[0] >> 1) % blobs.size()];
  const uint32_t offset = zfGetLE32(aData + 1);
  const uint32_t len = std::min<uint32_t>(zfGetLE32(aData + 5), 1u << 20);

  TzfBufferManager bm(u"/tmp");
  TFuzzFile file;
  file.fiName = u"/tmp/fuzz_blob.dvl7";
  file.fiBufMgr = &bm;
  file.Disk = clean.Disk;
  std::vector<std::vector<uint8_t>> heap = clean.HeapBlocks;
  const uint32_t diskBlocks = uint32_t(file.Disk.size() / kBlock);
  for (size_t pos = 9; pos + 4 <= aSize; pos += 4) {
    const uint32_t at = zfGetLE16(aData + pos + 1);
    if (segmented) {
      auto& b = heap[1 + aData[pos] % (heap.size() - 1)];
      b[at % b.size()] = aData[pos + 3];
    } else {
      file.Disk[size_t(1 + aData[pos] % (diskBlocks - 1)) * kBlock + at % kBlock] = aData[pos + 3];
    }
  }
  if (!zf::fuzz::AttachFuzzFile(bm, file)) return 0;
  {
    TzfBlockAccess access(&file, nullptr, u"fuzz_blob", 0);
    std::unique_ptr<TzfBaseBlobEngine> engine;
    try {
      engine = TzfBaseBlobEngine::CreateEngine(segmented ? static_cast<TzfBaseBlobDescriptor*>(&desc.Seg) : &desc.Simple,
                                               {&access}, nullptr);
    } catch (const EzfBaseException&) {
      engine.reset();
    }
    if (engine) {
      if (segmented) {
        auto& h = dynamic_cast<zf::test::TTestHeap&>(*dynamic_cast<TzfSegmentedBlobEngine&>(*engine).beHeapEngine);
        for (size_t i = 1; i < heap.size(); ++i) h.Blocks.push_back(std::make_unique<std::vector<uint8_t>>(heap[i]));
      }
      const TzfBlobLinkGetLength lengthOf = [](const UnicodeString&, int64_t, uint32_t& aLength) {
        aLength = 6;
        return 0u;
      };
      const TzfBlobLinkRead readOf = [](const UnicodeString&, int64_t, uint32_t, uint32_t aLen, rtl::TStream& aStream) {
        aStream.WriteBuffer("linked", std::min<uint32_t>(aLen, 6));
        return 0u;
      };
      auto attempt = [](const std::function<void()>& aCall) {
        try {
          aCall();
        } catch (const EzfBaseException&) {
        }
      };
      uint32_t length = 0;
      attempt([&] { engine->GetBlobLength(nullptr, nr, lengthOf, length); });
      attempt([&] {
        TzfMemoryStream ms;
        engine->Read(nullptr, nr, offset, len, readOf, ms);
        if (uint64_t(ms.Size()) > len && len != 0) __builtin_trap();
      });
      attempt([&] {
        TzfMemoryStream ms;
        engine->Read(nullptr, nr, 0, 0xFFFFFFFF, readOf, ms);
      });
      attempt([&] {
        UnicodeString name;
        int64_t source = 0;
        engine->IsFileBlob(nullptr, nr, name);
        engine->IsBlobLink(nullptr, nr, name, source);
      });
      if (segmented) dynamic_cast<TzfSegmentedBlobEngine&>(*engine).CheckBlob(nullptr, nr);
    }
  }
  bm.RemoveFile(&file);
  return 0;
}
