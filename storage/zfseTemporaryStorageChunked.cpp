#include "storage/zfseTemporaryStorageChunked.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlException.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfseTemporaryStorageChunked";
constexpr const char16_t* kAction = u"Temporary Storage Manager";
constexpr uint8_t kOnNoList = 0, kOnPartial = 1, kOnEmpty = 2;

uint32_t UnitsPerBlock(TzfBlockSizeAll aSize) {
  return aSize == TzfBlockSizeAll::zfbs4M ? kzfTempChunkUnits : 1u << static_cast<int>(aSize);
}

uint32_t BlocksPerChunk(TzfBlockSizeAll aSize) { return kzfTempChunkUnits / UnitsPerBlock(aSize); }

bool BitSet(const TzfChunkInfo& c, uint32_t aSlot) { return (c.InUse[aSlot >> 3] >> (aSlot & 7)) & 1; }

[[noreturn]] void RaiseInvalidBlock() {
  throw EzfChunkedTempStorageException(zfErrTempStoreInvalidBlock, u"Temporary Storage: Invalid block number");
}

// Every byte at aOffset, retrying interruptions; False with errno set otherwise.
bool WriteAll(int aFile, const uint8_t* aData, size_t aLen, off_t aOffset) {
  while (aLen > 0) {
    const ssize_t n = ::pwrite(aFile, aData, aLen, aOffset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    aData += n;
    aLen -= static_cast<size_t>(n);
    aOffset += n;
  }
  return true;
}

bool ReadAll(int aFile, uint8_t* aData, size_t aLen, off_t aOffset) {
  while (aLen > 0) {
    const ssize_t n = ::pread(aFile, aData, aLen, aOffset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;  // the file is never shorter than its chunks
      return false;
    }
    aData += n;
    aLen -= static_cast<size_t>(n);
    aOffset += n;
  }
  return true;
}

std::atomic<uint32_t> gStoreNumber{0};

}  // namespace

TzfChunkedTempStorage::TzfChunkedTempStorage(const rtl::UnicodeString& aDir) {
  std::string dir = aDir.empty() ? std::filesystem::temp_directory_path().string() : rtl::u8(aDir);
  if (dir.back() != '/') dir += '/';
  tsFileName = dir + "ZofrinDB_TemporaryStorage_" + std::to_string(::getpid()) + "_" +
               std::to_string(gStoreNumber.fetch_add(1) + 1) + ".tmp";
  const int flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  tsFile = ::open(tsFileName.c_str(), flags, 0600);
  if (tsFile < 0 && errno == EEXIST) {
    // A leftover of an earlier process with the same id: replaced, never opened through a link.
    ::unlink(tsFileName.c_str());
    tsFile = ::open(tsFileName.c_str(), flags, 0600);
  }
  if (tsFile < 0) zfRaiseLastOSErrorRes(kAction);
  // Unlinked at once: the file lives as long as its handle, also when the process fails.
  ::unlink(tsFileName.c_str());
  // Emptied chunks give their space back by deallocating their range (result ignored).
  tsSparse = true;
}

TzfChunkedTempStorage::~TzfChunkedTempStorage() {
  if (tsFile >= 0) ::close(tsFile);
  for (TzfChunkInfoBlock*& b : tsChunkBlocks) {
    void* p = b;
    zfBlockPoolDispose(TzfBlockSizeAll::zfbs64k, p);
  }
}

const TzfTempStorageClass& TzfChunkedTempStorage::ClassInfo() {
  static const TzfTempStorageClass info{
      u"TzfChunkedTempStorage", [](const rtl::UnicodeString& aDir) -> std::unique_ptr<TzfBaseTempStorage> {
        return std::make_unique<TzfChunkedTempStorage>(aDir);
      }};
  return info;
}

int32_t TzfChunkedTempStorage::ChunkCount() const {
  if (tsChunkBlocks.empty()) return 0;
  return (static_cast<int32_t>(tsChunkBlocks.size()) - 1) * kzfChunkInfosPerBlock + tsChunkBlocks.back()->cibUsedCount;
}

TzfChunkInfo& TzfChunkedTempStorage::Info(TzfChunkIndex aChunk) const {
  return tsChunkBlocks[static_cast<size_t>(aChunk / kzfChunkInfosPerBlock)]
      ->cibChunkInfos[aChunk % kzfChunkInfosPerBlock];
}

void TzfChunkedTempStorage::ListRemove(TzfChunkIndex& aHead, TzfChunkIndex aChunk) {
  TzfChunkInfo& c = Info(aChunk);
  if (c.Prev >= 0)
    Info(c.Prev).Next = c.Next;
  else
    aHead = c.Next;
  if (c.Next >= 0) Info(c.Next).Prev = c.Prev;
  c.Prev = c.Next = -1;
  c.List = kOnNoList;
}

void TzfChunkedTempStorage::ListPush(TzfChunkIndex& aHead, TzfChunkIndex aChunk, uint8_t aList) {
  TzfChunkInfo& c = Info(aChunk);
  c.Prev = -1;
  c.Next = aHead;
  if (aHead >= 0) Info(aHead).Prev = aChunk;
  aHead = aChunk;
  c.List = aList;
}

bool TzfChunkedTempStorage::SetFileLength(int32_t aChunks) {
  return ::ftruncate(tsFile, static_cast<off_t>(aChunks) * kzfTempChunkBytes) == 0;
}

TzfChunkIndex TzfChunkedTempStorage::NewChunk() {
  const TzfChunkIndex chunk = ChunkCount();
  bool newBlock = false;
  if (tsChunkBlocks.empty() || tsChunkBlocks.back()->cibUsedCount == kzfChunkInfosPerBlock) {
    auto* b = static_cast<TzfChunkInfoBlock*>(zfBlockPoolAlloc(TzfBlockSizeAll::zfbs64k));
    std::memset(b, 0, sizeof(TzfChunkInfoBlock));
    try {
      tsChunkBlocks.push_back(b);
    } catch (...) {
      void* p = b;
      zfBlockPoolDispose(TzfBlockSizeAll::zfbs64k, p);
      throw;
    }
    newBlock = true;
  }
  ++tsChunkBlocks.back()->cibUsedCount;
  if (!SetFileLength(chunk + 1)) {
    const int error = errno;
    --tsChunkBlocks.back()->cibUsedCount;
    if (newBlock) {
      void* p = tsChunkBlocks.back();
      tsChunkBlocks.pop_back();
      zfBlockPoolDispose(TzfBlockSizeAll::zfbs64k, p);
    }
    errno = error;
    zfRaiseLastOSErrorRes(kAction);
  }
  TzfChunkInfo& c = Info(chunk);
  c.Prev = c.Next = -1;
  c.List = kOnNoList;
  return chunk;
}

void TzfChunkedTempStorage::InitChunk(TzfChunkIndex aChunk, TzfBlockSizeAll aBlockSize) {
  TzfChunkInfo& c = Info(aChunk);
  c.SizeCode = static_cast<uint8_t>(aBlockSize);
  c.UsedCount = 0;
  const uint32_t u = UnitsPerBlock(aBlockSize);
  for (uint32_t i = 0; i < BlocksPerChunk(aBlockSize); ++i) c.FreeSlots[i] = static_cast<uint16_t>(i * u);
  std::memset(c.InUse, 0, sizeof c.InUse);
}

TzfChunkIndex TzfChunkedTempStorage::ChunkForSize(TzfBlockSizeAll aBlockSize) {
  TzfChunkIndex& partial = tsPartialChunkHeads[static_cast<size_t>(aBlockSize)];
  if (partial >= 0) return partial;
  TzfChunkIndex chunk = tsEmptyChunkHead;
  if (chunk >= 0)
    ListRemove(tsEmptyChunkHead, chunk);
  else
    chunk = NewChunk();
  InitChunk(chunk, aBlockSize);
  ListPush(partial, chunk, kOnPartial);
  return chunk;
}

TzfBlockTmpNum TzfChunkedTempStorage::WriteBlock(PzfBlock aBlock, TzfBlockSizeAll aBlockSize) {
  const TzfChunkIndex chunk = ChunkForSize(aBlockSize);
  TzfChunkInfo& c = Info(chunk);
  const uint32_t slot = c.FreeSlots[c.UsedCount];
  ZF_ASSERT(!BitSet(c, slot), kUnit);
  const TzfBlockTmpNum number = static_cast<TzfBlockTmpNum>(chunk) * kzfTempChunkUnits + slot;
  if (!WriteAll(tsFile, aBlock, zfBlockSizeBytes(aBlockSize), static_cast<off_t>(number) * 4096))
    zfRaiseLastOSErrorRes(kAction);
  c.InUse[slot >> 3] = static_cast<uint8_t>(c.InUse[slot >> 3] | (1u << (slot & 7)));
  ++c.UsedCount;
  if (c.UsedCount == BlocksPerChunk(aBlockSize))
    ListRemove(tsPartialChunkHeads[static_cast<size_t>(aBlockSize)], chunk);
  tsInUse += static_cast<int64_t>(zfBlockSizeBytes(aBlockSize));
  return number;
}

void TzfChunkedTempStorage::LocateBlock(TzfBlockTmpNum aBlockNum, TzfBlockSizeAll aBlockSize, TzfChunkIndex& aChunk,
                                        uint32_t& aSlot) {
  const uint32_t chunk = aBlockNum / kzfTempChunkUnits;
  aSlot = aBlockNum % kzfTempChunkUnits;
  if (chunk >= static_cast<uint32_t>(ChunkCount())) RaiseInvalidBlock();
  aChunk = static_cast<TzfChunkIndex>(chunk);
  const TzfChunkInfo& c = Info(aChunk);
  if (c.SizeCode != static_cast<uint8_t>(aBlockSize) || c.UsedCount == 0 || !BitSet(c, aSlot)) RaiseInvalidBlock();
}

void TzfChunkedTempStorage::PeekBlock(TzfBlockTmpNum aBlockNum, TzfBlockSizeAll aBlockSize, PzfBlock aBlock) {
  TzfChunkIndex chunk = 0;
  uint32_t slot = 0;
  LocateBlock(aBlockNum, aBlockSize, chunk, slot);
  if (!ReadAll(tsFile, aBlock, zfBlockSizeBytes(aBlockSize), static_cast<off_t>(aBlockNum) * 4096))
    zfRaiseLastOSErrorRes(kAction);
}

void TzfChunkedTempStorage::ReadBlock(TzfBlockTmpNum aBlockNum, TzfBlockSizeAll aBlockSize, PzfBlock aBlock) {
  PeekBlock(aBlockNum, aBlockSize, aBlock);
  ReleaseBlock(aBlockNum, aBlockSize);
}

void TzfChunkedTempStorage::ReleaseBlock(TzfBlockTmpNum aBlockNum, TzfBlockSizeAll aBlockSize) {
  TzfChunkIndex chunk = 0;
  uint32_t slot = 0;
  LocateBlock(aBlockNum, aBlockSize, chunk, slot);
  FreeSlot(chunk, slot);
}

void TzfChunkedTempStorage::FreeSlot(TzfChunkIndex aChunk, uint32_t aSlot) {
  TzfChunkInfo& c = Info(aChunk);
  const auto size = static_cast<TzfBlockSizeAll>(c.SizeCode);
  tsInUse -= static_cast<int64_t>(zfBlockSizeBytes(size));
  c.InUse[aSlot >> 3] = static_cast<uint8_t>(c.InUse[aSlot >> 3] & ~(1u << (aSlot & 7)));
  const bool wasFull = c.UsedCount == BlocksPerChunk(size);
  --c.UsedCount;
  if (c.UsedCount == 0) {
    ChunkEmptied(aChunk);
    return;
  }
  c.FreeSlots[c.UsedCount] = static_cast<uint16_t>(aSlot);
  if (wasFull) ListPush(tsPartialChunkHeads[c.SizeCode], aChunk, kOnPartial);
}

void TzfChunkedTempStorage::ChunkEmptied(TzfChunkIndex aChunk) {
  TzfChunkInfo& c = Info(aChunk);
  // A 4 MB chunk goes from full to empty at once and is on no partial list.
  if (c.List == kOnPartial) ListRemove(tsPartialChunkHeads[c.SizeCode], aChunk);
  ZF_ASSERT(tsPartialChunkHeads[c.SizeCode] != aChunk, kUnit);
  ListPush(tsEmptyChunkHead, aChunk, kOnEmpty);
  bool dropped = false;
  while (ChunkCount() > 0 && Info(ChunkCount() - 1).UsedCount == 0) {
    DropLastChunk();
    dropped = true;
  }
  // A failed shrink only leaves the file longer than its chunks until the next length change.
  if (dropped) (void)SetFileLength(ChunkCount());
  if (tsSparse && aChunk < ChunkCount())
    (void)::fallocate(tsFile, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(aChunk) * kzfTempChunkBytes,
                      kzfTempChunkBytes);
}

void TzfChunkedTempStorage::DropLastChunk() {
  const TzfChunkIndex last = ChunkCount() - 1;
  TzfChunkInfo& c = Info(last);
  ZF_ASSERT(c.List == kOnEmpty, kUnit);
  ListRemove(tsEmptyChunkHead, last);
  std::memset(&c, 0, sizeof c);
  if (--tsChunkBlocks.back()->cibUsedCount == 0) {
    void* p = tsChunkBlocks.back();
    tsChunkBlocks.pop_back();
    zfBlockPoolDispose(TzfBlockSizeAll::zfbs64k, p);
  }
}

void TzfChunkedTempStorage::CheckConsistency() const {
  const int32_t count = ChunkCount();
  int64_t inUse = 0;
  std::vector<uint8_t> seen(static_cast<size_t>(count), 0);
  auto walk = [&](TzfChunkIndex aHead, uint8_t aList, int aCode) {
    TzfChunkIndex prev = -1;
    for (TzfChunkIndex i = aHead; i >= 0; i = Info(i).Next) {
      ZF_ASSERT(i < count && !seen[static_cast<size_t>(i)], kUnit);
      seen[static_cast<size_t>(i)] = 1;
      const TzfChunkInfo& c = Info(i);
      ZF_ASSERT(c.List == aList && c.Prev == prev, kUnit);
      if (aList == kOnEmpty) ZF_ASSERT(c.UsedCount == 0, kUnit);
      if (aList == kOnPartial)
        ZF_ASSERT(c.SizeCode == aCode && c.UsedCount < BlocksPerChunk(static_cast<TzfBlockSizeAll>(aCode)), kUnit);
      prev = i;
    }
  };
  walk(tsEmptyChunkHead, kOnEmpty, -1);
  for (int code = 0; code < 6; ++code) walk(tsPartialChunkHeads[static_cast<size_t>(code)], kOnPartial, code);
  for (TzfChunkIndex i = 0; i < count; ++i) {
    const TzfChunkInfo& c = Info(i);
    uint32_t bits = 0;
    for (uint32_t s = 0; s < kzfTempChunkUnits; ++s) bits += BitSet(c, s);
    ZF_ASSERT(bits == c.UsedCount, kUnit);
    if (c.List == kOnNoList) {
      ZF_ASSERT(c.UsedCount == BlocksPerChunk(static_cast<TzfBlockSizeAll>(c.SizeCode)), kUnit);
    } else {
      ZF_ASSERT(seen[static_cast<size_t>(i)], kUnit);
    }
    if (c.UsedCount) inUse += int64_t(c.UsedCount) * int64_t(zfBlockSizeBytes(static_cast<TzfBlockSizeAll>(c.SizeCode)));
  }
  ZF_ASSERT(inUse == tsInUse, kUnit);
  struct stat st {};
  ZF_ASSERT(::fstat(tsFile, &st) == 0 && st.st_size == int64_t(count) * kzfTempChunkBytes, kUnit);
}

rtl::TUnitInit& zfseTemporaryStorageChunkedUnit() {
  static rtl::TUnitInit unit(
      "zfseTemporaryStorageChunked",
      [] {
        if (!zfTempStorageClass) zfTempStorageClass = &TzfChunkedTempStorage::ClassInfo();
      },
      [] {
        if (zfTempStorageClass == &TzfChunkedTempStorage::ClassInfo()) zfTempStorageClass = nullptr;
      });
  return unit;
}

}  // namespace zf
