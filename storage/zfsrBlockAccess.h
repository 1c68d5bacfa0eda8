// How sub-engines reach blocks: `TzfBlockAccess` is the accessor of one sub-file of a table file
// (the main sub-file, ID 0, or a nested table of a version-2 file); `TzfReleaseList` gives many
// block references back at once; scratch blocks are anonymous, cache-managed blocks addressed by a
// handle (index bulk building).
#pragma once
#include <cstdint>
#include <vector>

#include "platform/rtl/rtlText.h"
#include "storage/zfsrBlockObjects.h"
#include "storage/zfsrBufferTypes.h"
#include "storage/zfsrExceptions.h"

namespace zf {

class TzfBaseFileHeaderAccess;

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseFileException, EzfServerException)

class TzfBlockAccess : public TzfObject {
 public:
  TzfBlockAccess(TzfBaseFile* aFile, TzfBlockAccess* aMain, UnicodeStringView aBaseName, int32_t aID);

  // The file's usable bytes per block.
  uint32_t BlockSizeBytes() const;
  UnicodeString TableFileName() const;
  // The block through the buffer manager, checked to belong here (`VerifyID` with aID: 8962 when
  // the block names another number or owner; the reference is then given back already).
  PzfBlock GetBlock(TzfBaseTransaction* aTrans, TzfBlockNumber aBlockNumber, int32_t aID, bool aMarkDirty,
                    TzfReleaseMethod& aReleaseMethod);
  // The same block when it still belongs here; else nil, with nothing held and nothing raised (a
  // remembered block may since have been freed and taken by another sub-file).
  PzfBlock GetBlockIfOwned(TzfBaseTransaction* aTrans, TzfBlockNumber aBlockNumber, int32_t aID,
                           TzfReleaseMethod& aReleaseMethod);
  void DirtyBlock(TzfBlockNumber aBlockNumber, TzfBaseTransaction* aTrans, PzfBlock& aModifiableBlock);
  // A new header access of this sub-file (the caller frees it).
  TzfBaseFileHeaderAccess* HeaderAccess(TzfBaseTransaction* aTrans, bool aMarkDirty);
  TzfLSN ReadHeaderLSN(TzfBaseTransaction* aTrans);
  // Block 0 is never valid; otherwise below the used-block count that aTrans sees.
  bool ValidBlock(TzfBlockNumber aBlockNumber, TzfBaseTransaction* aTrans);
  bool ValidBlock(TzfBlockNumber aBlockNumber, TzfBaseFileHeaderAccess* aHeaderAccess);
  // Only the main sub-file of a file with an encryption engine (12289 otherwise).
  void ChangePassword(TzfBaseTransaction* aTrans, UnicodeStringView aNewPassword);

  TzfBaseFile* baFile;
  TzfBlockNumber baHeaderBlock = 0;
  int32_t baID;
  TzfBlockAccess* baMain;
  UnicodeString baBaseName;
};

using TzfBlockAccessList = std::vector<TzfBlockAccess*>;

// Block references collected during one operation, given back together.
class TzfReleaseList : public TzfObject {
 public:
  TzfReleaseList() = default;
  ~TzfReleaseList() override;
  void Add(PzfBlock aBlock, TzfReleaseMethod aMethod);
  // Calls every entry's release method with its block, in the order added, and empties the list.
  void Release();
  int32_t Count() const { return int32_t(FEntries.size()); }

 private:
  struct Entry {
    PzfBlock Block;
    TzfReleaseMethod Method;
  };
  std::vector<Entry> FEntries;
};

class TzfScratchBlock : public TzfBlockObject {
 public:
  TzfScratchBlock(TzfBufferManager* aBufferManager, TzfBlockSizeAll aSize, uint32_t aID);
  TzfEvictResult CheckedEvict(bool aForce) override;

  uint32_t sbID;
  int32_t sbRefCount = 0;
  uint32_t sbSlot = 0;
};

rtl::TUnitInit& zfsrBlockAccessUnit();

}  // namespace zf
