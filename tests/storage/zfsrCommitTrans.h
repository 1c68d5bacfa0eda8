// A transaction for benchmarks and fuzz targets over the block cache: Commit writes everything out
// at once, Rollback rolls the whole transaction back (no nested levels).
#pragma once
#include "storage/zfsrBufferManager.h"
#include "storage/zfsrTransaction.h"

namespace zf::test {

class TCommitTrans : public TzfBaseTransaction {
 public:
  explicit TCommitTrans(TzfBufferManager* aBM) : TzfBaseTransaction(aBM, nullptr, false, false) {}
  void Commit() override {
    TzfFlushList list;
    btBufferManager->CommitTransaction(this, &list, false);
    list.Flush(false);
  }
  void Rollback() override { btBufferManager->RollbackTransaction(this); }
};

}  // namespace zf::test
