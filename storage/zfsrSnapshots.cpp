// Snapshot pre-images and the links that tie snapshot transactions to blocks and files.
#include "platform/rtl/rtlException.h"
#include "storage/zfsrBlockObjects.h"
#include "storage/zfsrBufferManager.h"
#include "storage/zfsrTransaction.h"

namespace zf {

namespace {
constexpr const char* kUnit = "zfsrBufferManager";
}

TzfBlockSnapShot::TzfBlockSnapShot(TzfReadOnlyBlock* aBlock)
    : TzfBlockObject(aBlock->boBufferManager), bssReadOnlyBlock(aBlock) {
  boBlockSize = aBlock->boBlockSize;
  MoveFrom(*aBlock);
  TzfChain<TzfBlockSnapShot, &TzfBlockSnapShot::bssBlockNext, &TzfBlockSnapShot::bssBlockPrev>::Append(
      aBlock->robSnapShotBlockHead, aBlock->robSnapShotBlockTail, this);
  if (uint32_t* c = aBlock->robFile->fiSnapshotBlockCount) ++*c;
}

TzfBlockSnapShot::~TzfBlockSnapShot() {
  TzfChain<TzfBlockSnapShot, &TzfBlockSnapShot::bssBlockNext, &TzfBlockSnapShot::bssBlockPrev>::Unlink(
      bssReadOnlyBlock->robSnapShotBlockHead, bssReadOnlyBlock->robSnapShotBlockTail, this);
  if (uint32_t* c = bssReadOnlyBlock->robFile->fiSnapshotBlockCount) --*c;
}

void TzfBlockSnapShot::Validate(const uint8_t* aBlock) { bssReadOnlyBlock->Validate(aBlock); }

TzfEvictResult TzfBlockSnapShot::CheckedEvict(bool aForce) {
  if (bssReadOnlyBlock->IsReferenced()) return TzfEvictResult::erNone;
  return Evict(aForce) ? TzfEvictResult::erThis : TzfEvictResult::erNone;
}

TzfBlockSnapShotLink::TzfBlockSnapShotLink(TzfBlockSnapShot* aSnapShot, TzfBaseTransaction* aTrans)
    : bsslBlockSnapShot(aSnapShot), bsslBlock(aSnapShot->bssReadOnlyBlock), bsslTrans(aTrans) {
  const size_t id = size_t(aTrans->btSnapshotID);
  auto& links = bsslBlock->robSnapShotLinks;
  if (links.size() <= id) links.resize(id + 1, nullptr);
  ZF_ASSERT(links[id] == nullptr, kUnit);
  links[id] = this;
  TzfChain<TzfBlockSnapShotLink, &TzfBlockSnapShotLink::bsslBlockNext, &TzfBlockSnapShotLink::bsslBlockPrev>::Append(
      bsslBlock->robSnapShotLinkHead, bsslBlock->robSnapShotLinkTail, this);
  TzfChain<TzfBlockSnapShotLink, &TzfBlockSnapShotLink::bsslTransNext, &TzfBlockSnapShotLink::bsslTransPrev>::Append(
      aTrans->btBlockSnapShotLinksHead, aTrans->btBlockSnapShotLinksTail, this);
  ++aSnapShot->bssLinkRefCount;
}

TzfBlockSnapShotLink::~TzfBlockSnapShotLink() {
  const size_t id = size_t(bsslTrans->btSnapshotID);
  auto& links = bsslBlock->robSnapShotLinks;
  if (id < links.size() && links[id] == this) links[id] = nullptr;
  TzfChain<TzfBlockSnapShotLink, &TzfBlockSnapShotLink::bsslBlockNext, &TzfBlockSnapShotLink::bsslBlockPrev>::Unlink(
      bsslBlock->robSnapShotLinkHead, bsslBlock->robSnapShotLinkTail, this);
  TzfChain<TzfBlockSnapShotLink, &TzfBlockSnapShotLink::bsslTransNext, &TzfBlockSnapShotLink::bsslTransPrev>::Unlink(
      bsslTrans->btBlockSnapShotLinksHead, bsslTrans->btBlockSnapShotLinksTail, this);
  if (--bsslBlockSnapShot->bssLinkRefCount == 0) delete bsslBlockSnapShot;
}

TzfFileSnapShotLink::TzfFileSnapShotLink(TzfBaseFile* aFile, TzfBaseTransaction* aTrans)
    : fsslFile(aFile), fsslTrans(aTrans) {
  const int32_t id = aTrans->btSnapshotID;
  ZF_ASSERT(id >= 0 && !zfFileSnapShotFlag(aFile, id), kUnit);
  auto& flags = aFile->fiSnapShotFlags;
  if (flags.size() <= size_t(id) / 8) flags.resize(size_t(id) / 8 + 1, 0);
  auto& links = aFile->fiSnapShotLinks;
  if (links.size() <= size_t(id)) links.resize(size_t(id) + 1, nullptr);
  ZF_ASSERT(links[size_t(id)] == nullptr, kUnit);
  fsslFileCounter = ++aFile->fiSnapShotCounter;
  TzfChain<TzfFileSnapShotLink, &TzfFileSnapShotLink::fsslFileNext, &TzfFileSnapShotLink::fsslFilePrev>::Append(
      aFile->fiSnapShotLinkHead, aFile->fiSnapShotLinkTail, this);
  flags[size_t(id) / 8] |= uint8_t(1u << (id % 8));
  links[size_t(id)] = this;
  fsslUsedBlocks = aFile->fiUsedBlocks;
  TzfChain<TzfFileSnapShotLink, &TzfFileSnapShotLink::fsslTransNext, &TzfFileSnapShotLink::fsslTransPrev>::Append(
      aTrans->btFileSnapShotLinksHead, aTrans->btFileSnapShotLinksTail, this);
}

TzfFileSnapShotLink::~TzfFileSnapShotLink() {
  const int32_t id = fsslTrans->btSnapshotID;
  ++fsslFile->fiSnapShotCounter;
  if (size_t(id) / 8 < fsslFile->fiSnapShotFlags.size())
    fsslFile->fiSnapShotFlags[size_t(id) / 8] &= uint8_t(~(1u << (id % 8)));
  if (size_t(id) < fsslFile->fiSnapShotLinks.size()) fsslFile->fiSnapShotLinks[size_t(id)] = nullptr;
  TzfChain<TzfFileSnapShotLink, &TzfFileSnapShotLink::fsslFileNext, &TzfFileSnapShotLink::fsslFilePrev>::Unlink(
      fsslFile->fiSnapShotLinkHead, fsslFile->fiSnapShotLinkTail, this);
  TzfChain<TzfFileSnapShotLink, &TzfFileSnapShotLink::fsslTransNext, &TzfFileSnapShotLink::fsslTransPrev>::Unlink(
      fsslTrans->btFileSnapShotLinksHead, fsslTrans->btFileSnapShotLinksTail, this);
}

}  // namespace zf
