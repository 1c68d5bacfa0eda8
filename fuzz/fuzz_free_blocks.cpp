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

using namespace zf;

namespace {

constexpr uint32_t kBlock = 4096;

class TFuzzFile : public TzfBaseFile {
 public:
  static const TzfFileClass& Info() {
    static const TzfFileClass info{u"TFuzzFile", nullptr};
    return info;
  }
  const TzfFileClass& ClassType() const override { return Info(); }
  void CloseFile() override {}
  bool FileIsOpen() override { return true; }
  void PrepareFlushFile() override {}
  void FlushFile(bool, TzfBaseReplicationLog*) override {
    for (TzfBaseCachedBlock* b : Queue) {
      PzfBlock p = b->MappedMemory(true);
      fiHeaderAccessFactory->ValidateBlock(p, b->CachedBlockNumber());
      WriteFileExactAt(int64_t(b->CachedBlockNumber()) * kBlock, kBlock, p);
      b->SetUnwritten(false);
    }
    Queue.clear();
  }
  void OpenFile(TzfOpenMode, TzfShareMode, bool, bool) override {}
  int64_t PositionFileEOF() override { return FileSize(); }
  int64_t FileSize() override { return int64_t(Disk.size()); }
  uint32_t ReadFile(uint32_t, void*) override { return 0; }
  void ReadFileExact(uint32_t, void*) override {}
  uint32_t ReadFileAt(int64_t aOffset, uint32_t aToRead, void* aBuffer) override {
    std::memset(aBuffer, 0, aToRead);
    if (aOffset >= int64_t(Disk.size())) return 0;
    const uint32_t n = uint32_t(std::min<int64_t>(aToRead, int64_t(Disk.size()) - aOffset));
    std::memcpy(aBuffer, Disk.data() + aOffset, n);
    return n;
  }
  void ReadFileExactAt(int64_t aOffset, uint32_t aToRead, void* aBuffer) override {
    if (ReadFileAt(aOffset, aToRead, aBuffer) != aToRead) throw EzfBaseException(9217u);
  }
  void WriteFileExact(uint32_t, const void*) override {}
  void WriteFileExactAt(int64_t aOffset, uint32_t aToWrite, const void* aBuffer) override {
    if (Disk.size() < size_t(aOffset) + aToWrite) Disk.resize(size_t(aOffset) + aToWrite);
    std::memcpy(Disk.data() + aOffset, aBuffer, aToWrite);
  }
  int64_t CalcMaxFileSize() override { return int64_t(1) << 30; }
  void ReadDecryptFileExactAt(int64_t o, uint32_t n, uint8_t* b, TzfByteDynArray& c) override {
    c.clear();
    ReadFileExactAt(o, n, b);
  }
  void WriteEncryptFileExactAt(int64_t o, uint32_t n, uint8_t* b, TzfByteDynArray&) override { WriteFileExactAt(o, n, b); }
  void ReadBlock(TzfBaseCachedBlock& aBlock) override {
    ReadFileAt(int64_t(aBlock.CachedBlockNumber()) * kBlock, kBlock, aBlock.MappedMemory(false));
  }
  void WriteBlock(TzfBaseCachedBlock& aBlock) override {
    aBlock.SetUnwritten(true);
    Queue.push_back(&aBlock);
  }
  void RollbackUnwritten() override {
    for (TzfBaseCachedBlock* b : Queue) b->RollbackUnwritten();
    Queue.clear();
  }
  std::vector<uint8_t> Disk;
  std::vector<TzfBaseCachedBlock*> Queue;
};

class TFuzzTrans : public TzfBaseTransaction {
 public:
  explicit TFuzzTrans(TzfBufferManager* aBM) : TzfBaseTransaction(aBM, nullptr, false, false) {}
  void Commit() override {
    TzfFlushList list;
    btBufferManager->CommitTransaction(this, &list, false);
    list.Flush(false);
  }
  void Rollback() override { btBufferManager->RollbackTransaction(this); }
};

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
  try {
    bool ro = false;
    TzfReleaseMethod rm;
    PzfBlock b0 = nullptr;
    if (bm.AddFile(&file, nullptr, {}, false, rm, b0, ro) != 0) return 0;
    rm(b0);
  } catch (const EzfBaseException&) {
    return 0;
  }
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
