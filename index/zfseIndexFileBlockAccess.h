// The index file of a table file: index blocks read, made and freed through the storage layer's
// block access inside one transaction, and the indices header section in the file's header block.
// Trees built on it (through TzfIndexHeaderNodeStore) live in real table files.
//
// Blocks are fetched as owner aOwnerID (the indices engine's sub-engine ID; another owner answers
// 8962 from the block access) and given back with the release method the fetch returned. New
// blocks come from the file header's free blocks; deleted ones go back there.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "index/zfseIndicesEngineSimple.h"
#include "storage/zfsrBlockAccess.h"

namespace zf {

class TzfBlockAccessIndexFile : public TzfIndexFileAccess, public TzfIndexNodeStore {
 public:
  // aSectionName: the indices descriptor's header section name.
  TzfBlockAccessIndexFile(TzfBlockAccess& aFile, TzfBaseTransaction* aTrans, int32_t aOwnerID,
                          std::string aSectionName);
  ~TzfBlockAccessIndexFile() override;

  // The transaction later calls run in (nil: reading outside one).
  void SetTransaction(TzfBaseTransaction* aTrans) { FTrans = aTrans; }

  // ---- TzfIndexFileAccess ----
  TzfIndexNodeStore& Blocks() override { return *this; }
  bool ReadHeaderSection(uint32_t& aBlock) override;
  void WriteHeaderSection(uint32_t aBlock) override;
  std::unique_ptr<TzfBaseFileHeaderAccess> FileHeaderAccess(bool aMarkDirty) override;

  // ---- TzfIndexNodeStore (blocks only: root and counts live in the index header block) ----
  uint32_t UsableBlockSize() const override { return FFile.BlockSizeBytes(); }
  UnicodeString FileName() const override { return FFile.TableFileName(); }
  bool ValidBlock(uint32_t aBlock) override { return FFile.ValidBlock(aBlock, FTrans); }
  uint8_t* GetBlock(uint32_t aBlock, bool aForModify) override;
  void ReleaseBlock(uint32_t aBlock, uint8_t* aData) override;
  uint8_t* GetOwnBlock(uint32_t aBlock) override;
  uint8_t* NewBlock(uint32_t& aBlock) override;
  void DeleteBlock(uint32_t aBlock) override;
  uint64_t LSN() override;
  // Not used through this store (12289).
  uint32_t GetRootNode() override { NotHere(); }
  void SetRootNode(uint32_t) override { NotHere(); }
  uint32_t GetNodeCount() override { NotHere(); }
  void SetNodeCount(uint32_t) override { NotHere(); }
  uint32_t GetStoredKeyCount() override { NotHere(); }
  void SetStoredKeyCount(uint32_t) override { NotHere(); }
  // The transaction's Lock and Unlock (nothing while no transaction or no level is open).
  void LockTransaction() override;
  void UnlockTransaction() override;

 private:
  [[noreturn]] static void NotHere();
  TzfBlockAccess& FFile;
  TzfBaseTransaction* FTrans;
  int32_t FOwnerID;
  std::string FSectionName;
  // Per LockTransaction not yet undone: the transaction it locked (nil when there was none).
  std::vector<TzfBaseTransaction*> FLocked;
  // The blocks fetched and not yet given back: a few at a time (a tree path), so a plain list
  // searched from its recent end costs less than a map node per fetch.
  std::vector<std::pair<const uint8_t*, TzfReleaseMethod>> FHeld;
};

}  // namespace zf
