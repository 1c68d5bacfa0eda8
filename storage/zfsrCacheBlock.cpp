#include "storage/zfsrCacheBlock.h"

#include <cstring>

#include "foundation/zfllMemoryManager.h"
#include "platform/rtl/rtlException.h"
#include "storage/zfsrBlockObjects.h"
#include "storage/zfsrBlockIndex.h"
#include "storage/zfsrTempStorage.h"

namespace zf {

TzfCacheBlock::TzfCacheBlock(TzfBlockSizeAll aSize, TzfBaseTempStorage* aTempStore, TzfBlockObject* aValidate)
    : cbTempStore(aTempStore), cbSize(aSize), cbValidate(aValidate) {
  cbHandle = zfMapableBlockAlloc(aSize);
  cbState = TzfCacheBlockState::cbsAllocated;
  try {
    ChangeState(TzfCacheBlockState::cbsMapped);
  } catch (...) {
    zfMapableBlockFree(cbHandle);
    throw;
  }
}

TzfCacheBlock::TzfCacheBlock(TzfBlockSizeAll aSize, TzfBaseTempStorage* aTempStore, TzfBlockObject* aValidate,
                             TzfMapableBlockHandle aMapableBlock)
    : cbTempStore(aTempStore), cbSize(aSize), cbValidate(aValidate), cbHandle(aMapableBlock) {}

TzfCacheBlock::TzfCacheBlock(TzfCacheBlock& aSource, TzfBlockObject* aValidate)
    : cbTempStore(aSource.cbTempStore), cbSize(aSource.cbSize), cbValidate(aValidate) {
  cbHandle = zfMapableBlockAlloc(cbSize);
  try {
    cbBlock = static_cast<uint8_t*>(zfMapableBlockMap(cbHandle));
    cbState = TzfCacheBlockState::cbsMapped;
    if (aSource.cbState == TzfCacheBlockState::cbsStored)
      cbTempStore->PeekBlock(aSource.cbTempNum, cbSize, cbBlock);
    else
      std::memcpy(cbBlock, aSource.BlockAddress(), zfBlockSizeBytes(cbSize));
  } catch (...) {
    FreeMemory();
    throw;
  }
}

TzfCacheBlock::~TzfCacheBlock() {
  try {
    FreeMemory();
  } catch (...) {
    // A destructor must not raise; the memory manager refused a block it handed out itself.
  }
}

void TzfCacheBlock::FreeMemory() {
  if (cbHandle) {
    if (cbBlock) zfMapableBlockUnmap(cbHandle, cbBlock);
    cbBlock = nullptr;
    TzfMapableBlockHandle h = cbHandle;
    cbHandle = 0;
    zfMapableBlockFree(h);
  }
  if (cbTempNum != kzfNoTempNum) {
    TzfBlockTmpNum n = cbTempNum;
    cbTempNum = kzfNoTempNum;
    cbTempStore->ReleaseBlock(n, cbSize);
  }
}

void TzfCacheBlock::ChangeState(TzfCacheBlockState aState) {
  using S = TzfCacheBlockState;
  if (aState == cbState) return;
  switch (aState) {
    case S::cbsMapped:
      if (cbState == S::cbsStored) {
        TzfMapableBlockHandle h = zfMapableBlockAlloc(cbSize);
        uint8_t* p = nullptr;
        try {
          p = static_cast<uint8_t*>(zfMapableBlockMap(h));
          cbTempStore->PeekBlock(cbTempNum, cbSize, p);
          if (cbValidate) cbValidate->Validate(p);
        } catch (...) {
          if (p) zfMapableBlockUnmap(h, p);
          zfMapableBlockFree(h);
          throw;
        }
        // The slot is released only once the content is back and checked.
        TzfBlockTmpNum n = cbTempNum;
        cbTempNum = kzfNoTempNum;
        cbHandle = h;
        cbBlock = p;
        cbState = S::cbsMapped;
        cbTempStore->ReleaseBlock(n, cbSize);
      } else {
        cbBlock = static_cast<uint8_t*>(zfMapableBlockMap(cbHandle));
        cbState = S::cbsMapped;
      }
      break;
    case S::cbsAllocated:
      if (cbState == S::cbsStored) ChangeState(S::cbsMapped);
      zfMapableBlockUnmap(cbHandle, cbBlock);
      cbBlock = nullptr;
      cbState = S::cbsAllocated;
      break;
    case S::cbsStored: {
      if (cbState == S::cbsAllocated) ChangeState(S::cbsMapped);
      TzfBlockTmpNum n = cbTempStore->WriteBlock(cbBlock, cbSize);
      cbTempNum = n;
      zfMapableBlockUnmap(cbHandle, cbBlock);
      cbBlock = nullptr;
      TzfMapableBlockHandle h = cbHandle;
      cbHandle = 0;
      cbState = S::cbsStored;
      zfMapableBlockFree(h);
      break;
    }
  }
}

bool TzfCacheBlock::Evict(bool aUseAllocated, bool aForce) {
  using S = TzfCacheBlockState;
  if (cbState == S::cbsMapped && aUseAllocated && !(aForce && zfIsMemoryLow())) {
    ChangeState(S::cbsAllocated);
    return true;
  }
  if (cbState == S::cbsStored) return false;
  if (!zfTempStoreHasSpaceFor(cbTempStore, cbSize)) return false;
  ChangeState(S::cbsStored);
  return true;
}

}  // namespace zf
