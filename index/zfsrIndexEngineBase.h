// Index engines and index paths: what every index engine offers and the position a cursor holds
// in one index.
//
// An index engine keeps one index of a table over a node store (zfseIndexBase.h) that stands for
// the index's file inside the caller's transaction; every operation takes that store first. A path
// is one position in one index: Bof, Eof, on a key, or on the crack just before or after a key,
// with the key and reference number it refers to. On both cracks Key and RefNr still describe the
// neighbouring key, so the next step can continue from there. The position rules are in
// index/README.md.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "dictionary/zfsdIndexDescriptor.h"
#include "foundation/zfllPersistent.h"
#include "index/zfsdBookmarkHandling.h"
#include "index/zfsdFilterEngineBase.h"
#include "index/zfsdKeyEngineBase.h"
#include "dictionary/zfsdSearchKeyAction.h"
#include "index/zfseIndexBase.h"
#include "storage/zfsrSubEngineBase.h"

namespace zf {



// One bound of a key range: invalid means open; the key is compared over aFieldCount fields and a
// partial length of the last one (0, 0: the whole key).
struct TzfRangeInfo {
  bool riValid = false;
  bool riExclusive = false;
  const uint8_t* riKey = nullptr;
  int32_t riFieldCount = 0;
  int32_t riPartitial = 0;
};

enum class TzfKeyIteratorResult : uint8_t { kirContinue, kirSkipKey, kirStop };
using enum TzfKeyIteratorResult;
// Called with each key of a scan and its reference number.
using TzfIndexKeyIterator = std::function<TzfKeyIteratorResult(const uint8_t* aKey, int64_t aRefNr)>;
// Called with each record of a scan that passed the filters.
using TzfIndexRecIterator = std::function<bool(const uint8_t* aRecord, int64_t aRefNr)>;  // false: stop

// The records behind an index, as scans and record numbers with a record filter need them
// (implemented over the table's record engine by the layer that owns both).
class TzfIndexRecordSource {
 public:
  virtual ~TzfIndexRecordSource() = default;
  virtual uint32_t RecordLength() const = 0;
  // Reads the record; raises when it cannot be read.
  virtual void ReadRecord(int64_t aRefNr, uint8_t* aBuffer) = 0;
  // Hands every record in storage order to aVisit until it answers false; raises when the records
  // cannot be read. A source that cannot list its records raises 12289.
  virtual void IterateRecords(const std::function<bool(int64_t aRefNr, const uint8_t* aRecord)>& aVisit);
};

enum class TzfKeyErrorType : uint8_t { etInsert, etDelete, etModifyDelete, etModifyInsert, etBulkCreate };
using enum TzfKeyErrorType;

class TzfBaseIndexEngine;
class TzfBaseBulkBuilder;
class TzfBaseFileHeaderAccess;
class TzfBaseTransaction;

// The values one index keeps in its indices header (root, node count, key count, the header
// block's LSN), for the length of one operation. Made by the indices engine's
// CreateIndexHeaderAccess; the caller frees it, which gives back every block it holds. A change
// through an access not obtained for change raises 9218 "Write failure.".
class TzfBaseIndexHeaderAccess {
 public:
  TzfBaseIndexHeaderAccess(TzfBaseTransaction* aTrans, TzfBaseIndexEngine& aIndex, int32_t aID, bool aFileMarkDirty,
                           bool aIndexMarkDirty);
  virtual ~TzfBaseIndexHeaderAccess();
  TzfBaseIndexHeaderAccess(const TzfBaseIndexHeaderAccess&) = delete;
  TzfBaseIndexHeaderAccess& operator=(const TzfBaseIndexHeaderAccess&) = delete;

  // Root node block, -1 when the index is empty.
  virtual uint32_t GetRootNode() = 0;
  virtual void SetRootNode(uint32_t aBlock) = 0;
  virtual uint32_t GetNodeCount() = 0;
  virtual void SetNodeCount(uint32_t aCount) = 0;
  virtual uint32_t GetStoredKeyCount() = 0;
  virtual void SetStoredKeyCount(uint32_t aCount) = 0;
  // The LSN of the block that holds the values.
  virtual uint64_t GetHeaderLSN() = 0;
  // The comparison limits of searches through this access (0, 0: whole keys).
  void SetCompareDate(int32_t aFieldCount, int32_t aPartialLen) {
    bhaFieldCount = aFieldCount;
    bhaPartialLen = aPartialLen;
  }
  // The file header access of the index's file (for change when bhaFileMarkDirty), made on first
  // use and owned by this access; nil for a file without one (an index file in memory).
  TzfBaseFileHeaderAccess* FileHeaderAccess();

  TzfBaseTransaction* bhaTrans;
  bool bhaFileMarkDirty;
  bool bhaIndexMarkDirty;
  int32_t bhaID;  // owner ID of the index's blocks
  TzfBaseIndexEngine& bhaIndex;
  int32_t bhaFieldCount = 0;
  int32_t bhaPartialLen = 0;

 protected:
  virtual std::unique_ptr<TzfBaseFileHeaderAccess> MakeFileHeaderAccess() = 0;
  // 9218 unless the access was obtained for change.
  void CheckWritable() const;

 private:
  std::unique_ptr<TzfBaseFileHeaderAccess> bhaFileHeader;
  bool bhaFileHeaderMade = false;
};

class TzfBaseIndexPath : public TzfPersistent {
 public:
  // With an engine the key buffer comes from its key engine; without one the path is standalone.
  explicit TzfBaseIndexPath(TzfBaseIndexEngine* aIndexEngine);
  ~TzfBaseIndexPath() override;
  const char16_t* ClassName() const override { return u"TzfBaseIndexPath"; }
  static std::unique_ptr<TzfBaseIndexPath> CreateStandalone();
  // A new path of the same class for the same engine, on the same position.
  std::unique_ptr<TzfBaseIndexPath> Duplicate() const;
  virtual std::unique_ptr<TzfBaseIndexPath> NewOfSameClass() const;

  // Copies the position of a path of the same engine; another source raises EConvertError.
  virtual void Assign(const TzfBaseIndexPath& aSource);
  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;
  virtual void Clear();
  void SetToEof();
  void SetToBof();
  // Only from a crack or a key; other positions are left alone.
  void SetToCrackBefore();
  void SetToCrackAfter();
  // Only from a key: the crack before it, marked deleted.
  void SetToDeleted();
  // Stands on the record: its key is built (9986 counts as success without a valid key); another
  // code is answered and the path stays cleared.
  uint32_t SetToRecord(const uint8_t* aRecord, int64_t aRefNr);
  // Stands on the record with reference aRefNr (not 0) without its key: the engine's revalidation
  // builds the key from the record and finds its entry (8708 when the index has none).
  void SetToRefNr(int64_t aRefNr);
  bool IsOnKey() const { return Position == TzfIndexPathPosition::ippOnKey; }
  bool IsOnCrack() const {
    return Position == TzfIndexPathPosition::ippOnCrackBefore || Position == TzfIndexPathPosition::ippOnCrackAfter;
  }
  bool IsEof() const { return Position == TzfIndexPathPosition::ippEof; }
  bool IsBof() const { return Position == TzfIndexPathPosition::ippBof; }
  bool IsDeleted() const { return Deleted; }
  // 8708 deleted, 8705 Bof, 0 on a key, 8706 Eof, 8709 on a crack or unknown.
  uint32_t CheckCurrentState() const;

  // ---- Bookmarks ----
  uint32_t BookmarkSize() const { return bipBookmarkHandler->BookmarkSize(); }
  // 9986 when aSize is too small; otherwise 0 and the bookmark written.
  uint32_t GetBookmark(uint8_t* aBookmark, uint32_t aSize) const;
  uint32_t CheckBookmark(const uint8_t* aBookmark, uint32_t aSize) const {
    return bipBookmarkHandler->CheckBookmark(aBookmark, aSize);
  }
  uint32_t CompareBookmarks(const uint8_t* aBookmark1, const uint8_t* aBookmark2, uint32_t aSize,
                            int8_t& aCompResult) const {
    return bipBookmarkHandler->CompareBookmarks(aBookmark1, aBookmark2, aSize, aCompResult);
  }
  // The position of the bookmark (to be revalidated before use); 10021 when it does not fit.
  uint32_t SetToBookmark(const uint8_t* aBookmark, uint32_t aSize);
  uint32_t BookmarkAsVariant(const uint8_t* aBookmark, uint32_t aSize, rtl::Variant& aVariant) const {
    aVariant = rtl::Variant();
    return bipBookmarkHandler->BookmarkAsVariant(aBookmark, aSize, aVariant);
  }

  TzfBaseIndexEngine* bipIndexEngine;
  TzfBookmarkHandler* bipBookmarkHandler;
  int64_t RefNr = 0;
  bool KeyValid = false;
  uint8_t* Key = nullptr;  // owned, from the key engine; nullptr for a standalone path
  TzfIndexPathPosition Position = TzfIndexPathPosition::ippUnknown;
  bool Deleted = false;
};

// What an index engine is built from.
struct TzfIndexEngineParams {
  int32_t IndexNumber = 0;
  UnicodeString IndexName;
  TzfIndexDups Dups = idNone;
  bool KeysAreRefs = false;       // the key is the record's reference number
  bool KeyCanContainNulls = true;  // idNull without possible nulls allows no duplicates
  UnicodeString FileName;          // of the index's file, for messages
  // The parameters an index descriptor gives (the file name is left to the caller).
  static TzfIndexEngineParams FromDescriptor(TzfIndexDescriptor& aDescriptor);
};

ZF_DECLARE_ENGINE_EXCEPTION(EzfStaticKeyBstarTreeIndexEngineException, EzfBaseIndexEngineException)

// Class info of an index engine class in the sub-engine registry of the kind "index".
struct TzfIndexEngineClass : TzfSubEngineClass {
  using TCreate = std::unique_ptr<TzfBaseIndexEngine> (*)(const TzfIndexEngineParams& aParams,
                                                          std::unique_ptr<TzfBaseKeyEngine> aKeyEngine,
                                                          uint32_t aUsableBlockSize);
  using TCheckValidFromDescriptor = void (*)(TzfIndexDescriptor& aDescriptor);
  constexpr TzfIndexEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                                TCreate aCreate, TCheckValidFromDescriptor aCheckValidFromDescriptor = nullptr)
      : TzfSubEngineClass(aName, aParent, aGetList, u"index", nullptr),
        Create(aCreate),
        CheckValidFromDescriptor(aCheckValidFromDescriptor) {}
  TCreate Create;
  // The class's check of an index descriptor; nullptr: the base check (the key descriptor's).
  TCheckValidFromDescriptor CheckValidFromDescriptor;
};

class TzfBaseIndexEngine : public TzfPersistent {
 public:
  // The kind's class info (its registry holds the index engines by name).
  static const TzfIndexEngineClass& KindInfo();
  // The engine registered under aName (an index descriptor's engine name), made for these
  // parameters; 15503 "Unknown index engine: ..." for a name not registered.
  static std::unique_ptr<TzfBaseIndexEngine> CreateEngine(const UnicodeString& aName,
                                                          const TzfIndexEngineParams& aParams,
                                                          std::unique_ptr<TzfBaseKeyEngine> aKeyEngine,
                                                          uint32_t aUsableBlockSize);
  // The check of an index descriptor when a dictionary is validated: its engine name (15503 as
  // CreateEngine) and that engine class's own check, which may raise the index file's block size.
  static void CheckValidBaseFromDescriptor(TzfIndexDescriptor& aDescriptor);
  // The base check: the key descriptor's (its key engine's check), when there is one.
  static void CheckValidFromDescriptor(TzfIndexDescriptor& aDescriptor);
  TzfBaseIndexEngine(const TzfIndexEngineParams& aParams, std::unique_ptr<TzfBaseKeyEngine> aKeyEngine);
  ~TzfBaseIndexEngine() override;
  const char16_t* ClassName() const override { return u"TzfBaseIndexEngine"; }

  virtual std::unique_ptr<TzfBaseIndexPath> CreateIndexPath() = 0;
  // "IndexNumber", "IndexName", "Dups", "DupsNullOnly", "KeysAreRefs" and the key engine's data.
  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

  // False: the key (with this reference number where duplicates are allowed) is present and
  // nothing changed. True: inserted; a path of this engine then stands on it.
  virtual bool InsertKey(TzfIndexNodeStore& aTrans, const uint8_t* aKey, int64_t aRefNr, TzfBaseIndexPath* aPath) = 0;
  // False: no such entry. True: deleted; a path of this engine goes to the crack at its place.
  virtual bool DeleteKey(TzfIndexNodeStore& aTrans, const uint8_t* aKey, int64_t aRefNr, TzfBaseIndexPath* aPath) = 0;
  virtual void DeleteAllKeys(TzfIndexNodeStore& aTrans) = 0;
  virtual bool FindKey(TzfIndexNodeStore& aTrans, const uint8_t* aKey, int32_t aFieldCount, int32_t aPartialLen,
                       int64_t aRefNr, TzfBaseIndexPath& aPath, TzfSearchKeyAction aAction,
                       TzfBaseFilterEngine* aKeyFilter) = 0;
  virtual bool NextKey(TzfIndexNodeStore& aTrans, TzfBaseIndexPath& aPath, TzfBaseFilterEngine* aKeyFilter) = 0;
  virtual bool PrevKey(TzfIndexNodeStore& aTrans, TzfBaseIndexPath& aPath, TzfBaseFilterEngine* aKeyFilter) = 0;
  virtual void ValidateIndexPath(TzfIndexNodeStore& aTrans, TzfBaseIndexPath& aPath) = 0;
  virtual void GetKeyCount(TzfIndexNodeStore& aTrans, uint32_t& aCount) = 0;
  // A builder that fills this empty index (key by key unless the engine has a faster one); the
  // caller owns it. 15511 when the index is not empty.
  virtual std::unique_ptr<TzfBaseBulkBuilder> CreateBulkBuilder(TzfIndexNodeStore& aTrans);
  // The index moved to another number (an index below it was removed): the engine and whatever
  // of its stored data carries the number follow.
  virtual void SetIndexNumber(TzfIndexNodeStore& aTrans, int32_t aNumber) { bieIndexNumber = aNumber; }
  // Sets the key error text as the thread's pending message for 9729 and answers 9729.
  uint32_t GetKeyError(TzfKeyErrorType aErrorType, const uint8_t* aKey, int64_t aRefNr);
  bool NLSVersionChanged() const { return bieKeyEngine->bkeNLSVersionChanged; }
  // The table's records (nil: none), read where a path must rebuild its key from its record and
  // by scans that need records; the indices engine hands them over and keeps them alive.
  virtual void SetRecordEngine(TzfIndexRecordSource* aRecords) { bieRecordEngine = aRecords; }

  TzfIndexRecordSource* bieRecordEngine = nullptr;

  std::unique_ptr<TzfBaseKeyEngine> bieKeyEngine;
  std::unique_ptr<TzfBookmarkHandler> bieBookmarkHandler;
  UnicodeString bieIndexFileName;
  int32_t bieIndexNumber;
  UnicodeString bieIndexName;
  bool bieDups;
  bool bieDupsNullOnly;
  bool bieKeysAreRefs;
};

}  // namespace zf
