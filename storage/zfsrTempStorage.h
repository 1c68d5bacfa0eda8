// The temporary store of the block cache and the collector of lock-failure reasons.
//
// When the buffer manager runs short of memory for modified blocks it may move blocks into a
// temporary store and fetch them back later. TzfBaseTempStorage is the contract of such a store;
// TzfNullTempStorage has no room at all (the engine uses it when its temporary store size is 0),
// so with it the buffer manager never swaps out. The store is called only under the buffer
// manager's padlock.
#pragma once
#include <cstdint>
#include <memory>

#include "foundation/zfllMemoryManager.h"
#include "platform/rtl/rtlStringList.h"
#include "platform/rtl/rtlText.h"
#include "storage/zfsrBlock.h"
#include "storage/zfsrExceptions.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseTempStorageException, EzfServerException)

class TzfBaseTempStorage;

// Class reference of a temporary store: its name and virtual constructor (the store's folder).
struct TzfTempStorageClass {
  const char16_t* Name;
  std::unique_ptr<TzfBaseTempStorage> (*Create)(const rtl::UnicodeString& aDir);
};

class TzfBaseTempStorage : public TzfObject {
 public:
  ~TzfBaseTempStorage() override = default;
  virtual const TzfTempStorageClass& ClassType() const = 0;
  const char16_t* ClassName() const { return ClassType().Name; }

  // Bytes the store occupies / bytes in use by stored blocks.
  virtual int64_t StorageSize() = 0;
  virtual int64_t StorageInUse() = 0;
  // Whether one more block of that size fits.
  virtual bool HasSpaceFor(TzfBlockSizeAll aBlockSize) = 0;
  // Copies the stored block into aBlock and frees its place.
  virtual void ReadBlock(TzfBlockTmpNum aBlockNum, TzfBlockSizeAll aBlockSize, PzfBlock aBlock) = 0;
  // Copies the stored block and keeps it stored.
  virtual void PeekBlock(TzfBlockTmpNum aBlockNum, TzfBlockSizeAll aBlockSize, PzfBlock aBlock) = 0;
  // Frees the place without reading.
  virtual void ReleaseBlock(TzfBlockTmpNum aBlockNum, TzfBlockSizeAll aBlockSize) = 0;
  // Stores a block and answers its number.
  virtual TzfBlockTmpNum WriteBlock(PzfBlock aBlock, TzfBlockSizeAll aBlockSize) = 0;
};

// The store without room: sizes 0, HasSpaceFor False, every block operation raises
// EzfServerException 12289 "<operation> is not supported by TzfNullTempStorage".
class TzfNullTempStorage : public TzfBaseTempStorage {
 public:
  TzfNullTempStorage() = default;
  explicit TzfNullTempStorage(const rtl::UnicodeString& /*aDir*/) {}
  static const TzfTempStorageClass& ClassInfo();
  const TzfTempStorageClass& ClassType() const override { return ClassInfo(); }

  int64_t StorageSize() override { return 0; }
  int64_t StorageInUse() override { return 0; }
  bool HasSpaceFor(TzfBlockSizeAll) override { return false; }
  void ReadBlock(TzfBlockTmpNum, TzfBlockSizeAll, PzfBlock) override;
  void PeekBlock(TzfBlockTmpNum, TzfBlockSizeAll, PzfBlock) override;
  void ReleaseBlock(TzfBlockTmpNum, TzfBlockSizeAll) override;
  TzfBlockTmpNum WriteBlock(PzfBlock, TzfBlockSizeAll) override;
};

// The store class the buffer manager creates when its temporary store size is above 0; nullptr
// until a unit sets it (then the null store is used).
extern const TzfTempStorageClass* zfTempStorageClass;

// The lines describing the conflicting locks of a failed lock request, and whether the conflict
// is with the requesting session itself. Table-lock links and cursors own one each.
class TzfLockFailureReason : public rtl::TStringList {
 public:
  bool SameSession = false;
  // Empties the lines and clears SameSession.
  void Clear() override;
};

}  // namespace zf
