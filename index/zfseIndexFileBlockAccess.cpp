#include "index/zfseIndexFileBlockAccess.h"

#include <algorithm>
#include <memory>

#include "foundation/zfllErrors.h"
#include "storage/zfsrFile.h"
#include "storage/zfsrTransaction.h"

namespace zf {

TzfBlockAccessIndexFile::TzfBlockAccessIndexFile(TzfBlockAccess& aFile, TzfBaseTransaction* aTrans,
                                                 int32_t aOwnerID, std::string aSectionName)
    : FFile(aFile), FTrans(aTrans), FOwnerID(aOwnerID), FSectionName(std::move(aSectionName)) {}

TzfBlockAccessIndexFile::~TzfBlockAccessIndexFile() {
  // Blocks still held (an operation that raised past its own release) go back now.
  for (auto& [data, rm] : FHeld) {
    PzfBlock p = const_cast<uint8_t*>(data);
    rm(p);
  }
}

void TzfBlockAccessIndexFile::NotHere() {
  throw EzfBaseIndexEngineException(zfErrNotSupported, u"%s requires an index header block", {UnicodeString(u"Root")});
}

bool TzfBlockAccessIndexFile::ReadHeaderSection(uint32_t& aBlock) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(FFile.HeaderAccess(FTrans, false));
  uint16_t off = 0;
  try {
    off = ha->RegisterHeaderSection(FSectionName, 4, false, false);
  } catch (const EzfBaseException& e) {
    if (e.GetErrorCode() == zfErrObjNotFound) return false;  // no such section yet
    throw;
  }
  aBlock = zfGetLE32(ha->Header + off);
  return true;
}

void TzfBlockAccessIndexFile::WriteHeaderSection(uint32_t aBlock) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(FFile.HeaderAccess(FTrans, true));
  const uint16_t off = ha->RegisterHeaderSection(FSectionName, 4, true, true);
  zfPutLE32(ha->Header + off, aBlock);
}

std::unique_ptr<TzfBaseFileHeaderAccess> TzfBlockAccessIndexFile::FileHeaderAccess(bool aMarkDirty) {
  return std::unique_ptr<TzfBaseFileHeaderAccess>(FFile.HeaderAccess(FTrans, aMarkDirty));
}

uint8_t* TzfBlockAccessIndexFile::GetBlock(uint32_t aBlock, bool aForModify) {
  TzfReleaseMethod rm;
  PzfBlock p = FFile.GetBlock(FTrans, aBlock, FOwnerID, aForModify, rm);
  FHeld.emplace_back(p, std::move(rm));
  return p;
}

uint8_t* TzfBlockAccessIndexFile::GetOwnBlock(uint32_t aBlock) {
  TzfReleaseMethod rm;
  PzfBlock p = FFile.GetBlockIfOwned(FTrans, aBlock, FOwnerID, rm);
  if (p) FHeld.emplace_back(p, std::move(rm));
  return p;
}

void TzfBlockAccessIndexFile::ReleaseBlock(uint32_t, uint8_t* aData) {
  auto it = std::find_if(FHeld.rbegin(), FHeld.rend(), [aData](const auto& aHeld) { return aHeld.first == aData; });
  if (it == FHeld.rend()) rtl::AssertionFailure("zfseIndexFileBlockAccess", __LINE__);
  TzfReleaseMethod rm = std::move(it->second);
  *it = std::move(FHeld.back());
  FHeld.pop_back();
  PzfBlock p = aData;
  rm(p);
}

uint8_t* TzfBlockAccessIndexFile::NewBlock(uint32_t& aBlock) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(FFile.HeaderAccess(FTrans, true));
  TzfReleaseMethod rm;
  PzfBlock p = ha->GetNewBlock(FTrans, FOwnerID, rm);
  aBlock = zfGetThisBlock(p);
  FHeld.emplace_back(p, std::move(rm));
  return p;
}

void TzfBlockAccessIndexFile::DeleteBlock(uint32_t aBlock) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(FFile.HeaderAccess(FTrans, true));
  uint8_t* p = GetBlock(aBlock, true);
  try {
    ha->DeleteBlock(FTrans, p);
  } catch (...) {
    ReleaseBlock(aBlock, p);
    throw;
  }
  ReleaseBlock(aBlock, p);
}

uint64_t TzfBlockAccessIndexFile::LSN() { return FTrans ? FTrans->btLSN : 0; }

void TzfBlockAccessIndexFile::LockTransaction() {
  TzfBaseTransaction* t = FTrans && FTrans->CurrentLevel() ? FTrans : nullptr;
  if (t) t->Lock();
  FLocked.push_back(t);
}

void TzfBlockAccessIndexFile::UnlockTransaction() {
  if (FLocked.empty()) return;
  TzfBaseTransaction* t = FLocked.back();
  FLocked.pop_back();
  if (t) t->Unlock();
}

}  // namespace zf
