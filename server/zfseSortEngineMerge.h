// The merge sort engine: an external sort in a fixed 1 MiB buffer.
//
// Put copies each record into the buffer at a stride of bsRecLenBuf bytes. A full buffer is
// sorted by reference (msBufferRefs holds record numbers, 4 bytes each; records never move) with
// an iterative quicksort and written as a sorted run into a result-set cursor (a scratch table of
// bsDictNoIdx on bsDB). When reading begins, a buffer that never filled is read straight from
// memory; otherwise its rest becomes one more run and the runs are merged five at a time (into new
// runs appended to the list) until at most five remain, which are then merged while reading.
//
// Merge order: the group's current records are compared in group order and the smallest wins; of
// equal keys the member that comes first in the group gives its record first. An exhausted run
// leaves the group (freed at once) and the group's last member takes its place.
//
// Cancel and time-out checks (zfCheckTimeout) run every 100 partition steps and every 1000 merged
// records. A failure to write or read a run while merging raises EzfMergeSortEngineException with
// the cursor's code; a failure to write a run while putting is Put's answer.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "foundation/zfllException.h"
#include "platform/rtl/rtlUnits.h"
#include "server/zfsrSortEngineBase.h"

namespace zf {

class TzfServerTableCursor;

ZF_DECLARE_ENGINE_EXCEPTION(EzfMergeSortEngineException, EzfBaseException)

class TzfMergeSortEngine : public TzfBaseSortEngine {
 public:
  static constexpr uint32_t kBufferSize = 1048576;
  static constexpr int kMergeWays = 5;

  TzfMergeSortEngine(TzfServerDatabase* aDB, TzfDataDictionary* aDict, TzfIndexDescriptor* aIndexDesc);
  // Frees every run cursor still held.
  ~TzfMergeSortEngine() override;
  static std::unique_ptr<TzfBaseSortEngine> Create(TzfServerDatabase* aDB, TzfDataDictionary* aDict,
                                                   TzfIndexDescriptor* aIndexDesc);

  uint32_t Get(uint8_t* aRecord) override;
  uint32_t Put(const uint8_t* aRecord) override;
  bool Iterate(uint8_t** aData, bool* aKeyChanged, const TzfRecordIterator& aIterator, void* aCookie) override;
  bool IterateSameKey(uint8_t** aData, const TzfRecordIterator& aIterator, void* aCookie) override;

  // For tests: the records one buffer holds, the runs written so far (merged ones included) and
  // the runs held now.
  uint32_t MaxRecCount() const { return msMaxRecCount; }
  uint32_t RunsWritten() const { return msRunsWritten; }
  size_t RunCount() const { return msCursorList.size(); }

 private:
  uint8_t* BufferRecord(uint32_t aIndex) { return msBuffer.data() + size_t(aIndex) * bsRecLenBuf; }
  // Sorts msBufferRefs[0 .. msRecCount - 1] by the records they name.
  void SortBuffer();
  // Writes the sorted buffer as a new run (appended to the list); msRecCount := 0. 0 or the code.
  uint32_t WriteRun();
  // Sort, then a run: the spill of a full buffer.
  uint32_t Spill();
  // Once: switches to reading; 0, or 8706 when nothing was put, or a spill's code.
  uint32_t StartReading();
  // The first min(5, runs) runs as the merge group, each on its first record.
  void TakeMergeGroup();
  // The group member holding the smallest current record; -1 when the group is empty.
  int SmallestMember() const;
  // Moves member aMember to its next record; an exhausted run leaves the group and the list.
  void AdvanceMember(int aMember);
  void RemoveRun(TzfServerTableCursor* aCursor);
  // The next record in order into aRecord (nil: skipped); 0 or 8706. Takes a record held back.
  uint32_t Next(uint8_t* aRecord);
  // The record just read (msRecBuffer) as Iterate hands it out: copied to *aData, or *aData set
  // to the engine's copy.
  const uint8_t* HandOut(uint8_t** aData);

  std::vector<uint8_t> msBuffer;
  std::vector<uint32_t> msBufferRefs;
  uint32_t msBufferOffset = 0;
  std::vector<TzfServerTableCursor*> msCursorList;  // owned, oldest first
  std::array<bool, kMergeWays> msCursorOnRec{};
  std::array<TzfServerTableCursor*, kMergeWays> msMergeCursor{};
  std::array<std::vector<uint8_t>, kMergeWays> msMergeRecord;  // each member's current record
  uint16_t msMergeCursorCount = 0;
  uint32_t msMaxRecCount = 0;
  TzfServerTableCursor* msOutputCursor = nullptr;
  std::vector<uint8_t> msRecBuffer;  // scratch: the pivot, and the record Iterate hands out
  uint32_t msRecCount = 0;
  uint32_t msRunIndex = 0;
  TzfSortState msState = TzfSortState::zfspEmpty;
  uint32_t msTotalCount = 0;
  uint32_t msRunsWritten = 0;
  // IterateSameKey's look-ahead: a record read but not yet handed out.
  std::vector<uint8_t> msHeld;
  bool msHasHeld = false;
  std::vector<uint8_t> msPrevious;  // Iterate's key comparison
};

rtl::TUnitInit& zfseSortEngineMergeUnit();

}  // namespace zf
