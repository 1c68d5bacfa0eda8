#include "index/zfseIndexNodeStoreMemory.h"

#include <algorithm>

#include "platform/rtl/rtlException.h"

namespace zf {

TzfMemoryIndexNodeStore::TzfMemoryIndexNodeStore(uint32_t aUsableBlockSize, UnicodeString aFileName)
    : FBlockSize(aUsableBlockSize), FFileName(std::move(aFileName)) {
  FState.Blocks.emplace_back(FBlockSize, 0);
  FHeld.push_back(0);
}

uint8_t* TzfMemoryIndexNodeStore::GetBlock(uint32_t aBlock, bool aForModify) {
  if (!ValidBlock(aBlock)) rtl::RaiseRangeError();
  ++GetBlockCalls;
  std::vector<uint8_t>& b = FState.Blocks[aBlock];
  if (aForModify) zfPutLE64(b.data() + zfIxOffLSN, FState.LSN);
  ++FHeld[aBlock];
  ++FHeldTotal;
  return b.data();
}

void TzfMemoryIndexNodeStore::ReleaseBlock(uint32_t aBlock, uint8_t* aData) {
  if (aBlock >= FHeld.size() || FHeld[aBlock] <= 0 || aData != FState.Blocks[aBlock].data())
    rtl::AssertionFailure("zfseIndexNodeStoreMemory", __LINE__);
  --FHeld[aBlock];
  --FHeldTotal;
}

uint8_t* TzfMemoryIndexNodeStore::NewBlock(uint32_t& aBlock) {
  if (!FState.FreeOrder.empty()) {
    aBlock = FState.FreeOrder.back();
    FState.FreeOrder.pop_back();
    FState.Free.erase(aBlock);
  } else {
    aBlock = FState.Used++;
    FState.Blocks.resize(FState.Used);
    FHeld.resize(FState.Used, 0);
  }
  std::vector<uint8_t>& b = FState.Blocks[aBlock];
  b.assign(FBlockSize, 0);
  zfPutLE64(b.data() + zfIxOffLSN, FState.LSN);
  ++FHeld[aBlock];
  ++FHeldTotal;
  return b.data();
}

void TzfMemoryIndexNodeStore::DeleteBlock(uint32_t aBlock) {
  // A block may still be held by the operation that deletes it; it is given back later as usual.
  if (!ValidBlock(aBlock) || FState.Free.count(aBlock))
    rtl::AssertionFailure("zfseIndexNodeStoreMemory", __LINE__);
  FState.Free.insert(aBlock);
  FState.FreeOrder.push_back(aBlock);
}

void TzfMemoryIndexNodeStore::Rollback(const TState& aState) {
  if (FHeldTotal != 0) rtl::AssertionFailure("zfseIndexNodeStoreMemory", __LINE__);
  FState = aState;
  FHeld.assign(FState.Blocks.size(), 0);
}

std::set<uint32_t> TzfMemoryIndexNodeStore::LiveBlocks() const {
  std::set<uint32_t> r;
  for (uint32_t b = 1; b < FState.Used; ++b)
    if (!FState.Free.count(b)) r.insert(b);
  return r;
}

int32_t TzfMemoryIndexNodeStore::HeldCount() const { return FHeldTotal; }

void TzfMemoryIndexNodeStore::PutRawBlock(uint32_t aBlock, const uint8_t* aData, size_t aSize) {
  FState.Used = std::max(FState.Used, aBlock + 1);
  if (FState.Blocks.size() < FState.Used) {
    FState.Blocks.resize(FState.Used, std::vector<uint8_t>(FBlockSize, 0));
    FHeld.resize(FState.Used, 0);
  }
  std::vector<uint8_t>& b = FState.Blocks[aBlock];
  b.assign(FBlockSize, 0);
  std::memcpy(b.data(), aData, std::min<size_t>(aSize, FBlockSize));
  FState.Free.erase(aBlock);
  std::erase(FState.FreeOrder, aBlock);
}

}  // namespace zf
