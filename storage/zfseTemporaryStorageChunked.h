// The block cache's swap file: one temporary file per store, in chunks of 4 MB.
//
// Each chunk holds blocks of one size only (4, 8, 16, 32 or 64 KB, or one 4 MB block), so a place
// is found in O(1) (the head of the size's partial-chunk list, the top of that chunk's free-slot
// stack) and emptied chunks can give their disk space back.
//
// Temporary block number: the block's position in the file in 4 KB units, chunk * 1024 + slot
// (slot = 4 KB unit inside the chunk); the file offset is number * 4096.
//
//   code  block size  blocks per chunk  4 KB units per block
//   0     4096        1024              1
//   1     8192        512               2
//   2     16384       256               4
//   3     32768       128               8
//   4     65536       64                16
//   5     4194304     1                 1024
//
// Chunk bookkeeping (memory only) lives in 64 KB pool blocks of 29 chunk infos each. Chunks with a
// free slot are on their size's partial list, emptied ones on the empty list, full ones on none;
// new entries go to the front. Trailing empty chunks are dropped and the file shrinks; an emptied
// chunk inside the file keeps its place in the file's length but its range is deallocated.
//
// The file: <dir>/ZofrinDB_TemporaryStorage_<pid>_<n>.tmp, created exclusively with mode 0600 and
// unlinked at once, so it is private to the user and goes with its handle however the process
// ends. Its length is always the chunk count * 4 MB.
//
// Errors: a number that does not name a held block of the given size is 15496 "Temporary Storage:
// Invalid block number"; a failed create, read, write or length change raises the OS error with
// the action "Temporary Storage Manager" and advances no bookkeeping. The store has no lock: the
// buffer manager calls it only under its padlock.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "storage/zfsrTempStorage.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfChunkedTempStorageException, EzfBaseTempStorageException)

using TzfChunkIndex = int32_t;

inline constexpr uint32_t kzfTempChunkBytes = 4194304;
inline constexpr uint32_t kzfTempChunkUnits = 1024;  // 4 KB units per chunk
inline constexpr int32_t kzfChunkInfosPerBlock = 29;

struct TzfChunkInfo {
  uint8_t SizeCode;
  uint8_t List;  // 0: on no list, 1: on its size's partial list, 2: on the empty list
  uint16_t UsedCount;
  uint16_t FreeSlots[kzfTempChunkUnits];  // entries from UsedCount upwards are the free slots
  uint8_t InUse[kzfTempChunkUnits / 8];   // bit = slot
  TzfChunkIndex Prev;
  TzfChunkIndex Next;
};

struct TzfChunkInfoBlock {
  int32_t cibUsedCount;
  TzfChunkInfo cibChunkInfos[kzfChunkInfosPerBlock];
};
static_assert(sizeof(TzfChunkInfoBlock) <= 65536, "a chunk info block is one 64 KB pool block");

class TzfChunkedTempStorage : public TzfBaseTempStorage {
 public:
  // Creates the file in aDir (the system's temporary folder when empty); failure raises.
  explicit TzfChunkedTempStorage(const rtl::UnicodeString& aDir);
  // Closes the handle, which removes the file, and gives the bookkeeping blocks back.
  ~TzfChunkedTempStorage() override;
  static const TzfTempStorageClass& ClassInfo();
  const TzfTempStorageClass& ClassType() const override { return ClassInfo(); }

  // Chunk count * 4 MB / bytes of the blocks held.
  int64_t StorageSize() override { return int64_t(ChunkCount()) * kzfTempChunkBytes; }
  int64_t StorageInUse() override { return tsInUse; }
  // Always True: the store grows as needed.
  bool HasSpaceFor(TzfBlockSizeAll) override { return true; }
  void ReadBlock(TzfBlockTmpNum aBlockNum, TzfBlockSizeAll aBlockSize, PzfBlock aBlock) override;
  void PeekBlock(TzfBlockTmpNum aBlockNum, TzfBlockSizeAll aBlockSize, PzfBlock aBlock) override;
  void ReleaseBlock(TzfBlockTmpNum aBlockNum, TzfBlockSizeAll aBlockSize) override;
  TzfBlockTmpNum WriteBlock(PzfBlock aBlock, TzfBlockSizeAll aBlockSize) override;

  int32_t ChunkCount() const;
  int32_t InfoBlockCount() const { return static_cast<int32_t>(tsChunkBlocks.size()); }
  // The file's path (already unlinked) and its handle, for tests and statistics.
  const std::string& FileName() const { return tsFileName; }
  int FileHandle() const { return tsFile; }
  // Checks every list, count and the file length against the chunk infos ("Assertion failure").
  void CheckConsistency() const;

 private:
  TzfChunkInfo& Info(TzfChunkIndex aChunk) const;
  void ListRemove(TzfChunkIndex& aHead, TzfChunkIndex aChunk);
  void ListPush(TzfChunkIndex& aHead, TzfChunkIndex aChunk, uint8_t aList);
  TzfChunkIndex ChunkForSize(TzfBlockSizeAll aBlockSize);
  TzfChunkIndex NewChunk();
  void InitChunk(TzfChunkIndex aChunk, TzfBlockSizeAll aBlockSize);
  // The chunk and slot of a held block of that size; 15496 otherwise.
  void LocateBlock(TzfBlockTmpNum aBlockNum, TzfBlockSizeAll aBlockSize, TzfChunkIndex& aChunk, uint32_t& aSlot);
  void FreeSlot(TzfChunkIndex aChunk, uint32_t aSlot);
  void ChunkEmptied(TzfChunkIndex aChunk);
  void DropLastChunk();
  bool SetFileLength(int32_t aChunks);

  int tsFile = -1;
  bool tsSparse = false;
  int64_t tsInUse = 0;
  std::vector<TzfChunkInfoBlock*> tsChunkBlocks;
  TzfChunkIndex tsEmptyChunkHead = -1;
  std::array<TzfChunkIndex, 6> tsPartialChunkHeads{-1, -1, -1, -1, -1, -1};
  std::string tsFileName;
};

// Puts TzfChunkedTempStorage into zfTempStorageClass when it is still empty; clears it again when
// the unit stops and it still holds this class.
rtl::TUnitInit& zfseTemporaryStorageChunkedUnit();

}  // namespace zf
