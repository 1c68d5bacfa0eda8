// Sort engines: records put in one by one, read back in the order of one index's key.
//
// TzfBaseSortEngine holds what every sort engine needs: the database on which it may make scratch
// tables (result-set cursors), a copy of the records' dictionary whose only index is the sort index
// (bsDict), a copy without any index that describes the scratch tables (bsDictNoIdx), and the key
// engine of the sort index, which compares two record buffers. Records are bsRecLen bytes, the
// record length of the dictionary's fields.
//
// The engine used by the table cursor's sort (stcSortRecords) is the process-wide default sort
// engine class: the merge sort engine's unit sets it at start-up unless another class was set first,
// and clears it at shut-down when it is still its own.
//
// Reading (Get, Iterate, IterateSameKey) ends the putting: Put afterwards is an internal error.
// Get answers 8706 "At end of table." once every record was read (also when nothing was put).
#pragma once
#include <cstdint>
#include <memory>

#include "foundation/zfllMemoryManager.h"
#include "storage/zfsrRecordEngineBase.h"

namespace zf {

class TzfServerDatabase;
class TzfDataDictionary;
class TzfIndexDescriptor;
class TzfBaseKeyEngine;

enum class TzfSortState : uint8_t { zfspEmpty, zfspPutting, zfspGetting };

class TzfBaseSortEngine : public TzfObject {
 public:
  // Copies aDict twice (one copy with aIndexDesc as its only index, one without indexes) and makes
  // the key engine of aIndexDesc's key; raises when the key engine cannot be made.
  TzfBaseSortEngine(TzfServerDatabase* aDB, TzfDataDictionary* aDict, TzfIndexDescriptor* aIndexDesc);
  ~TzfBaseSortEngine() override;

  // The next record in key order copied to aRecord (nil: skipped); 8706 after the last.
  virtual uint32_t Get(uint8_t* aRecord) = 0;
  // Adds a copy of aRecord (bsRecLen bytes); 0 or the code of writing a scratch run.
  virtual uint32_t Put(const uint8_t* aRecord) = 0;
  // Hands every remaining record in key order to aIterator (reference 0). *aData non-nil: each
  // record is copied there; nil: *aData points at the engine's copy. aKeyChanged (may be nil): True
  // for the first record, then whether its key differs from the previous record's. False when the
  // iterator stopped or no record was left; True when the records ran out after at least one.
  virtual bool Iterate(uint8_t** aData, bool* aKeyChanged, const TzfRecordIterator& aIterator, void* aCookie) = 0;
  // As Iterate, stopping before the first record whose key differs from the first record's; that
  // record stays the next one.
  virtual bool IterateSameKey(uint8_t** aData, const TzfRecordIterator& aIterator, void* aCookie) = 0;

  uint32_t RecordLength() const { return bsRecLen; }

 protected:
  // <0, 0, >0 as aRecord1's key sorts before, with or after aRecord2's.
  int Compare(const uint8_t* aRecord1, const uint8_t* aRecord2) const;

  TzfServerDatabase* bsDB;
  std::unique_ptr<TzfDataDictionary> bsDict;
  std::unique_ptr<TzfDataDictionary> bsDictNoIdx;
  std::unique_ptr<TzfBaseKeyEngine> bsKeyEngine;
  uint32_t bsRecLen = 0;
  uint32_t bsRecLenBuf = 0;  // bsRecLen rounded up to a multiple of 16
};

// The virtual constructor of a sort engine class.
using TzfSortEngineClass = std::unique_ptr<TzfBaseSortEngine> (*)(TzfServerDatabase* aDB, TzfDataDictionary* aDict,
                                                                  TzfIndexDescriptor* aIndexDesc);

// The process-wide default sort engine class (nil while none is set).
TzfSortEngineClass zfGetDefaultSortEngineClass();
void zfSetDefaultSortEngineClass(TzfSortEngineClass aClass);
// Sets aClass only when no class is set; clears only when aClass is the one set. True when changed.
bool zfSetDefaultSortEngineClassIfNone(TzfSortEngineClass aClass);
bool zfClearDefaultSortEngineClassIf(TzfSortEngineClass aClass);
// A sort engine of the default class; raises EzfServerEngineException 12289 when none is set.
std::unique_ptr<TzfBaseSortEngine> zfCreateDefaultSortEngine(TzfServerDatabase* aDB, TzfDataDictionary* aDict,
                                                             TzfIndexDescriptor* aIndexDesc);

}  // namespace zf
