// The memory of one cached block: a mappable block of the memory manager that is mapped, allocated
// but not mapped, or moved out to the temporary store. On Linux every mappable block is mapped, so
// the allocated tier is only a passing state; the stored state is real when a temporary store with
// room is installed.
#pragma once
#include <cstdint>

#include "foundation/zfllMemoryManager.h"
#include "storage/zfsrBufferTypes.h"

namespace zf {

class TzfBlockObject;

class TzfCacheBlock : public TzfObject {
 public:
  // New memory of the size, mapped.
  TzfCacheBlock(TzfBlockSizeAll aSize, TzfBaseTempStorage* aTempStore, TzfBlockObject* aValidate);
  // Wraps a mappable block that holds content already (state allocated).
  TzfCacheBlock(TzfBlockSizeAll aSize, TzfBaseTempStorage* aTempStore, TzfBlockObject* aValidate,
                TzfMapableBlockHandle aMapableBlock);
  // A mapped copy of another cache block (read from the store without releasing its slot when the
  // source is stored).
  TzfCacheBlock(TzfCacheBlock& aSource, TzfBlockObject* aValidate);
  ~TzfCacheBlock() override;

  // Moves the memory to the state; coming back from the store the owner validates the content.
  void ChangeState(TzfCacheBlockState aState);
  // Maps the memory and answers its address.
  uint8_t* BlockAddress() {
    if (cbState != TzfCacheBlockState::cbsMapped) ChangeState(TzfCacheBlockState::cbsMapped);
    return cbBlock;
  }
  // Pushes the memory one tier down: unmapped when the allocated tier is used, else (or when
  // forced under low memory) into the store when it has room. True when the state changed.
  bool Evict(bool aUseAllocated, bool aForce);

  TzfBaseTempStorage* cbTempStore;
  TzfBlockSizeAll cbSize;
  TzfBlockObject* cbValidate;
  TzfCacheBlockState cbState = TzfCacheBlockState::cbsAllocated;
  TzfMapableBlockHandle cbHandle = 0;
  TzfBlockTmpNum cbTempNum = kzfNoTempNum;
  uint8_t* cbBlock = nullptr;

 private:
  void FreeMemory();
};

}  // namespace zf
