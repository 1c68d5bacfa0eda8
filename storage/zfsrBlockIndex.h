// The index of a table file's cached blocks, kept in the file object (`fiBlockZero`, `fiBlocks`,
// `fiBlockContainerList`) and changed only by the buffer manager under its padlock.
//
// Block 0 is kept in `fiBlockZero`; every other cached block sits in a four-level tree of 256-way
// nodes addressed by the bytes of its number, most significant first:
// `fiBlocks`[byte 3] -> node[byte 2] -> node[byte 1] -> leaf[byte 0]. Nodes come zero-filled from
// one process-wide item pool; first-level nodes are chained from `fiBlockContainerList`. A lookup
// is four array steps with no search.
#pragma once
#include <cstdint>

#include "storage/zfsrBufferTypes.h"
#include "storage/zfsrFile.h"

namespace zf {

struct TzfBlockContainer {
  TzfBlockContainer* bcNext;
  TzfBlockContainer* bcPrev;
  void* bcBlocks[256];
  uint16_t bcCount;  // entries that are not nil
};

// The cached block of the number, nullptr when it is not cached.
TzfReadOnlyBlock* zfCacheFind(const TzfBaseFile* aFile, TzfBlockNumber aNumber);
// Puts the block into the index (block 0 into fiBlockZero); the slot must be empty.
void zfCacheInsert(TzfBaseFile* aFile, TzfBlockNumber aNumber, TzfReadOnlyBlock* aBlock);
// Clears the block's slot; nodes left empty go back to the pool.
void zfCacheRemove(TzfBaseFile* aFile, TzfBlockNumber aNumber);
// Every node back to the pool; fiBlocks and fiBlockZero cleared.
void zfCacheClearIndex(TzfBaseFile* aFile);
// Cached blocks in the group of 256 that aNumber belongs to (0 without a leaf).
uint32_t zfCacheGroupCount(const TzfBaseFile* aFile, TzfBlockNumber aNumber);
// Every cached block of the file, block 0 included.
uint32_t zfCacheBlockCount(const TzfBaseFile* aFile);

// Creates the process-wide item pool of index nodes (the buffer manager unit's start).
void zfCacheNodePoolStart();

// Bit aID of the file's snapshot flags.
inline bool zfFileSnapShotFlag(const TzfBaseFile* aFile, int32_t aID) {
  return aID >= 0 && size_t(aID) / 8 < aFile->fiSnapShotFlags.size() &&
         ((aFile->fiSnapShotFlags[size_t(aID) / 8] >> (aID % 8)) & 1);
}
inline bool zfFileIsTemporary(const TzfBaseFile* aFile) { return aFile->HasAttribute(zffaTemporary); }
inline bool zfFileIsMemTable(const TzfBaseFile* aFile) { return aFile->HasAttribute(zffaMemTable); }
inline bool zfFileIsTransWriteThrough(const TzfBaseFile* aFile) { return aFile->HasAttribute(zffaTransWriteThrough); }
inline TzfBlockSizeAll zfFileBlockSize(const TzfBaseFile* aFile) { return zfBlockSizeAllOf(aFile->fiBlockSize); }

// The temporary store's operations; nullptr acts as a store without room.
bool zfTempStoreHasSpaceFor(TzfBaseTempStorage* aStore, TzfBlockSizeAll aSize);
int64_t zfTempStoreInUse(TzfBaseTempStorage* aStore);

}  // namespace zf
