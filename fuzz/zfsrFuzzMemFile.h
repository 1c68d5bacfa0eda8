// A table file held in memory for the fuzz targets over stored blocks: reads come from a byte
// vector, the write-out copies the queued blocks back into it.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "storage/zfsrBufferManager.h"
#include "storage/zfsrFile.h"
#include "storage/zfsrTransaction.h"
#include "tests/storage/zfsrCommitTrans.h"

namespace zf::fuzz {

class TFuzzMemFile : public TzfBaseFile {
 public:
  static const TzfFileClass& Info() {
    static const TzfFileClass info{u"TFuzzMemFile", nullptr};
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
      WriteFileExactAt(int64_t(b->CachedBlockNumber()) * PhysicalBlockBytes(), PhysicalBlockBytes(), p);
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
    ReadFileAt(int64_t(aBlock.CachedBlockNumber()) * PhysicalBlockBytes(), PhysicalBlockBytes(),
               aBlock.MappedMemory(false));
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

// Commits outright and rolls the whole transaction back.
using TFuzzTrans = zf::test::TCommitTrans;

// Attaches a (possibly damaged) file to the buffer manager, which reads its header from block 0;
// false when the manager refuses the file or its header raises.
inline bool AttachFuzzFile(TzfBufferManager& aBM, TFuzzMemFile& aFile) {
  try {
    bool ro = false;
    TzfReleaseMethod rm;
    PzfBlock b0 = nullptr;
    if (aBM.AddFile(&aFile, nullptr, {}, false, rm, b0, ro) != 0) return false;
    rm(b0);
  } catch (const EzfBaseException&) {
    return false;
  }
  return true;
}

}  // namespace zf::fuzz
