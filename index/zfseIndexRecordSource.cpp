#include "index/zfseIndexRecordSource.h"

namespace zf {

void TzfRecordEngineRecordSource::IterateRecords(const std::function<bool(int64_t, const uint8_t*)>& aVisit) {
  int64_t stop = 0;
  FEngine.Iterate(
      FTrans, stop, nullptr,
      [&](void*, int64_t aRefNr, const uint8_t* aRecord) {
        return aVisit(aRefNr, aRecord) ? TzfRecordIteratorResult::rirContinue : TzfRecordIteratorResult::rirStop;
      },
      nullptr, nullptr);
}

}  // namespace zf
