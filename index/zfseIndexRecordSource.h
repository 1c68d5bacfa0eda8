// The records of a table as the index layer reads them: the table's record engine inside the
// transaction its owner names before each call (nil: reading outside one). Revalidated paths
// rebuild their keys from it and an index added to a table with records is filled from it.
#pragma once
#include "index/zfsrIndexEngineBase.h"
#include "storage/zfsrRecordEngineBase.h"

namespace zf {

class TzfRecordEngineRecordSource : public TzfIndexRecordSource {
 public:
  explicit TzfRecordEngineRecordSource(TzfBaseRecordEngine& aEngine) : FEngine(aEngine) {}
  void SetTransaction(TzfBaseTransaction* aTrans) { FTrans = aTrans; }
  uint32_t RecordLength() const override { return FEngine.breRecordLength; }
  // The record engine's errors raise (8708 for a deleted record).
  void ReadRecord(int64_t aRefNr, uint8_t* aBuffer) override { FEngine.ReadRecord(FTrans, aRefNr, aBuffer); }
  void IterateRecords(const std::function<bool(int64_t aRefNr, const uint8_t* aRecord)>& aVisit) override;

 private:
  TzfBaseRecordEngine& FEngine;
  TzfBaseTransaction* FTrans = nullptr;
};

}  // namespace zf
