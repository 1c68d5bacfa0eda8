// Free blocks and nested-table headers read from a damaged version-2 file: the input overwrites the
// free-block fields of block 0 (map head, cache count and entries, the section area) and the
// following blocks, then blocks are allocated and freed and nested-table headers looked up and
// created. Every failure must be a coded engine error.
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "storage/zfsrBlockAccess.h"
#include "storage/zfsrBufferManager.h"
#include "storage/zfsrStartup.h"
#include "storage/zfsrTransaction.h"
#include "storage/zfseHeaderAccess.h"
#include "fuzz/zfsrFuzzMemFile.h"

using namespace zf;

namespace {

constexpr uint32_t kBlock = 4096;

using TFuzzFile = zf::fuzz::TFuzzMemFile;
using zf::fuzz::TFuzzTrans;

struct Started {
  Started() { zfStartStorage(); }
};

// A clean version-2 image of 8 blocks: block 0 made by the engine, the others plain blocks.
const std::vector<uint8_t>& CleanImage(TzfBufferManager& aBM) {
  static std::vector<uint8_t> image = [&] {
    TFuzzFile f;
    f.fiName = u"/tmp/fuzz.dvl7";
    f.fiBufMgr = &aBM;
    f.fiZofrinVersion = 30900;
    f.fiMaxBlocks = 1u << 16;
    TFuzzTrans t(&aBM);
    f.AddHeader(&t, {}, zfHeaderSignature2);
    t.Commit();
    aBM.RemoveFile(&f);
    std::vector<uint8_t> img = f.Disk;
    img.resize(8 * kBlock, 0);
    zfPutLE32(img.data() + 32, 8);
    for (uint32_t n = 1; n < 8; ++n) zfPutLE32(img.data() + n * kBlock + 4, n);
    return img;
  }();
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static Started started;
  TzfBufferManager bm(u"/tmp");
  TFuzzFile file;
  file.fiName = u"/tmp/fuzz.dvl7";
  file.fiBufMgr = &bm;
  file.Disk = CleanImage(bm);
  // Input: 1 byte of operations, then the free-block fields of block 0 (offsets 24..183), then
  // the section area's tail (the last 512 bytes before the usable end), then blocks 1..7.
  if (aSize < 1) return 0;
  const uint8_t ops = aData[0];
  size_t pos = 1;
  auto take = [&](uint8_t* aTo, size_t aCount) {
    const size_t n = std::min(aCount, aSize - pos);
    std::memcpy(aTo, aData + pos, n);
    pos += n;
  };
  take(file.Disk.data() + 24, 8);
  take(file.Disk.data() + 104, 80);
  take(file.Disk.data() + 4092 - 512, 512);
  for (uint32_t n = 1; n < 8 && pos < aSize; ++n) take(file.Disk.data() + n * kBlock, kBlock);
  if (!zf::fuzz::AttachFuzzFile(bm, file)) return 0;
  {
    TFuzzTrans t(&bm);
    try {
      TzfBlockAccess access(&file, nullptr, u"fuzz", 0);
      std::unique_ptr<TzfBaseFileHeaderAccess> ha(access.HeaderAccess(&t, true));
      auto* h2 = dynamic_cast<Tzf2xFileHeaderAccess*>(ha.get());
      if (h2 && (ops & 1)) h2->GetHeaderBlockForID(nullptr, int32_t(ops >> 4));
      std::vector<TzfBlockNumber> got;
      for (int i = 0; i < 1 + (ops >> 5); ++i) {
        TzfReleaseMethod r;
        PzfBlock p = ha->GetNewBlock(&t, 1, r);
        got.push_back(zfGetLE32(p + 4));
        r(p);
      }
      if (ops & 2)
        for (TzfBlockNumber n : got) {
          TzfReleaseMethod r;
          PzfBlock p = access.GetBlock(&t, n, 1, true, r);
          ha->DeleteBlock(&t, p);
          r(p);
        }
      if (h2 && (ops & 4)) h2->GetHeaderBlockForID(&t, int32_t(ops));
      ha.reset();
      if (ops & 8) t.Commit();
    } catch (const EzfBaseException&) {
    }
  }
  bm.RemoveFile(&file);
  return 0;
}
