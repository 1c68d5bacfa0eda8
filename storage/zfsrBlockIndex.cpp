// The per-file index of cached blocks: a four-level tree of 256-way nodes from one item pool.
// Also the temporary-store helpers of the cache.
#include "foundation/zfllMemoryManager.h"
#include "platform/rtl/rtlException.h"
#include "storage/zfsrBlockObjects.h"
#include "storage/zfsrBlockIndex.h"
#include "storage/zfsrTempStorage.h"

namespace zf {

namespace {

TzfMemoryPool& NodePool() {
  static TzfMemoryPool pool = zfGetPool(sizeof(TzfBlockContainer));
  return pool;
}

}  // namespace

void zfCacheNodePoolStart() { (void)NodePool(); }

namespace {

TzfBlockContainer* NewNode() {
  void* p = NodePool().Alloc();
  std::memset(p, 0, sizeof(TzfBlockContainer));
  return static_cast<TzfBlockContainer*>(p);
}

void FreeNode(TzfBlockContainer* aNode) { NodePool().DisposeDirect(aNode); }

inline uint8_t Byte(TzfBlockNumber n, int i) { return uint8_t(n >> (8 * i)); }

}  // namespace

inline const TzfBlockContainer* Root(const TzfBaseFile* aFile, uint8_t i) { return static_cast<const TzfBlockContainer*>(aFile->fiBlocks[i]); }

TzfReadOnlyBlock* zfCacheFind(const TzfBaseFile* aFile, TzfBlockNumber aNumber) {
  if (aNumber == 0) return aFile->fiBlockZero;
  const TzfBlockContainer* n3 = Root(aFile, Byte(aNumber, 3));
  if (!n3) return nullptr;
  auto* n2 = static_cast<const TzfBlockContainer*>(n3->bcBlocks[Byte(aNumber, 2)]);
  if (!n2) return nullptr;
  auto* leaf = static_cast<const TzfBlockContainer*>(n2->bcBlocks[Byte(aNumber, 1)]);
  if (!leaf) return nullptr;
  return static_cast<TzfReadOnlyBlock*>(leaf->bcBlocks[Byte(aNumber, 0)]);
}

uint32_t zfCacheGroupCount(const TzfBaseFile* aFile, TzfBlockNumber aNumber) {
  const TzfBlockContainer* n3 = Root(aFile, Byte(aNumber, 3));
  if (!n3) return 0;
  auto* n2 = static_cast<const TzfBlockContainer*>(n3->bcBlocks[Byte(aNumber, 2)]);
  if (!n2) return 0;
  auto* leaf = static_cast<const TzfBlockContainer*>(n2->bcBlocks[Byte(aNumber, 1)]);
  return leaf ? leaf->bcCount : 0;
}

uint32_t zfCacheBlockCount(const TzfBaseFile* aFile) {
  uint32_t count = aFile->fiBlockZero ? 1 : 0;
  for (const TzfBlockContainer* n3 = aFile->fiBlockContainerList; n3; n3 = n3->bcNext) {
    uint32_t seen2 = 0;
    for (size_t i = 0; i < 256 && seen2 < n3->bcCount; ++i) {
      auto* n2 = static_cast<const TzfBlockContainer*>(n3->bcBlocks[i]);
      if (!n2) continue;
      ++seen2;
      uint32_t seen1 = 0;
      for (size_t j = 0; j < 256 && seen1 < n2->bcCount; ++j) {
        auto* leaf = static_cast<const TzfBlockContainer*>(n2->bcBlocks[j]);
        if (!leaf) continue;
        ++seen1;
        count += leaf->bcCount;
      }
    }
  }
  return count;
}

void zfCacheInsert(TzfBaseFile* aFile, TzfBlockNumber aNumber, TzfReadOnlyBlock* aBlock) {
  if (aNumber == 0) {
    ZF_ASSERT(aFile->fiBlockZero == nullptr, "zfsrBufferManager");
    aFile->fiBlockZero = aBlock;
    return;
  }
  void*& r3 = aFile->fiBlocks[Byte(aNumber, 3)];
  auto* n3 = static_cast<TzfBlockContainer*>(r3);
  if (!n3) {
    n3 = NewNode();
    r3 = n3;
    n3->bcNext = aFile->fiBlockContainerList;
    if (aFile->fiBlockContainerList) aFile->fiBlockContainerList->bcPrev = n3;
    aFile->fiBlockContainerList = n3;
  }
  void*& s2 = n3->bcBlocks[Byte(aNumber, 2)];
  if (!s2) {
    s2 = NewNode();
    ++n3->bcCount;
  }
  auto* n2 = static_cast<TzfBlockContainer*>(s2);
  void*& s1 = n2->bcBlocks[Byte(aNumber, 1)];
  if (!s1) {
    s1 = NewNode();
    ++n2->bcCount;
  }
  auto* leaf = static_cast<TzfBlockContainer*>(s1);
  void*& s0 = leaf->bcBlocks[Byte(aNumber, 0)];
  ZF_ASSERT(s0 == nullptr, "zfsrBufferManager");
  s0 = aBlock;
  ++leaf->bcCount;
}

void zfCacheRemove(TzfBaseFile* aFile, TzfBlockNumber aNumber) {
  if (aNumber == 0) {
    aFile->fiBlockZero = nullptr;
    return;
  }
  void*& r3 = aFile->fiBlocks[Byte(aNumber, 3)];
  auto* n3 = static_cast<TzfBlockContainer*>(r3);
  if (!n3) return;
  void*& s2 = n3->bcBlocks[Byte(aNumber, 2)];
  auto* n2 = static_cast<TzfBlockContainer*>(s2);
  if (!n2) return;
  void*& s1 = n2->bcBlocks[Byte(aNumber, 1)];
  auto* leaf = static_cast<TzfBlockContainer*>(s1);
  if (!leaf) return;
  void*& s0 = leaf->bcBlocks[Byte(aNumber, 0)];
  if (!s0) return;
  s0 = nullptr;
  if (--leaf->bcCount != 0) return;
  FreeNode(leaf);
  s1 = nullptr;
  if (--n2->bcCount != 0) return;
  FreeNode(n2);
  s2 = nullptr;
  if (--n3->bcCount != 0) return;
  if (n3->bcPrev) n3->bcPrev->bcNext = n3->bcNext;
  else aFile->fiBlockContainerList = n3->bcNext;
  if (n3->bcNext) n3->bcNext->bcPrev = n3->bcPrev;
  FreeNode(n3);
  r3 = nullptr;
}

void zfCacheClearIndex(TzfBaseFile* aFile) {
  for (void*& root : aFile->fiBlocks) {
    auto* n3 = static_cast<TzfBlockContainer*>(root);
    if (!n3) continue;
    for (void*& s2 : n3->bcBlocks) {
      auto* n2 = static_cast<TzfBlockContainer*>(s2);
      if (!n2) continue;
      for (void*& s1 : n2->bcBlocks)
        if (s1) FreeNode(static_cast<TzfBlockContainer*>(s1));
      FreeNode(n2);
    }
    FreeNode(n3);
    root = nullptr;
  }
  aFile->fiBlockContainerList = nullptr;
  aFile->fiBlockZero = nullptr;
}

bool zfTempStoreHasSpaceFor(TzfBaseTempStorage* aStore, TzfBlockSizeAll aSize) {
  return aStore && aStore->HasSpaceFor(aSize);
}

int64_t zfTempStoreInUse(TzfBaseTempStorage* aStore) { return aStore ? aStore->StorageInUse() : 0; }

}  // namespace zf
