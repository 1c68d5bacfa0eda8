#include "index/zfseIndexBase.h"

namespace zf {

void TzfIndexReleaseList::Release() noexcept {
  while (!FHeld.empty()) {
    const THeld h = FHeld.back();
    FHeld.pop_back();
    try {
      FStore.ReleaseBlock(h.Block, h.Data);
    } catch (...) {  // giving a block back must not hide the failure that ends the operation
    }
  }
}

void TzfIndexBlockHold::Release() noexcept {
  if (!FData) return;
  uint8_t* d = FData;
  FData = nullptr;
  try {
    FStore.ReleaseBlock(FBlock, d);
  } catch (...) {
  }
}

void zfRaiseNotAnIndexBlock(TzfIndexNodeStore& aStore, uint32_t aBlock) {
  throw EzfBaseIndexEngineException(zfErrNotAnIndexBlock,
                                    u"Block just read from file is not a valid index block [%s, block %d]",
                                    {aStore.FileName(), static_cast<int64_t>(aBlock)});
}

uint8_t* zfReadIndexBlock(TzfIndexNodeStore& aStore, uint32_t aBlock, bool aForModify) {
  if (!aStore.ValidBlock(aBlock))
    throw EzfBaseIndexEngineException(zfErrBlockNumberOutOfRange,
                                      u"Block number is either < 0, or >= number of blocks in file [%s, block %d]",
                                      {aStore.FileName(), static_cast<int64_t>(static_cast<int32_t>(aBlock))});
  uint8_t* b = aStore.GetBlock(aBlock, aForModify);
  if (std::memcmp(b + zfIxOffSignature, zfIndexBlockSignature, 4) != 0 || zfGetLE32(b + zfIxOffBlockNumber) != aBlock) {
    aStore.ReleaseBlock(aBlock, b);
    zfRaiseNotAnIndexBlock(aStore, aBlock);
  }
  if (aForModify) zfPutLE64(b + zfIxOffCounter, zfGetLE64(b + zfIxOffCounter) + 1);
  return b;
}

}  // namespace zf
