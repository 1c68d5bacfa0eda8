// An owned indices engine for code that keeps the index layer's engine headers out of its own
// headers: created by the name in the table's indices descriptor, freed through its own deleter.
#pragma once
#include <cstdint>
#include <memory>

#include "storage/zfsrBlockAccess.h"

namespace zf {

class TzfBaseIndicesEngine;
class TzfBaseRecordEngine;
class TzfBaseTableDescriptor;
class TzfBaseTransaction;

struct TzfIndicesEngineDeleter {
  void operator()(TzfBaseIndicesEngine* aEngine) const;
};
using PzfIndicesEngineHandle = std::unique_ptr<TzfBaseIndicesEngine, TzfIndicesEngineDeleter>;

// TzfBaseIndicesEngine::CreateEngine on the table's indices descriptor; nil without one. The
// record engine (may be nil) must outlive the indices engine; aAddToExisting (with a transaction):
// the table holds records and every index is filled from them.
PzfIndicesEngineHandle zfCreateIndicesEngine(TzfBaseTableDescriptor& aTable, const TzfBlockAccessList& aFiles,
                                             TzfBaseRecordEngine* aRecordEngine, TzfBaseTransaction* aTrans,
                                             bool aAddToExisting = false);
// TzfBaseIndicesEngine::AddIndex / RemoveIndex (raise on failure; see there).
void zfIndicesAddIndex(TzfBaseIndicesEngine& aEngine, TzfBaseTransaction* aTrans, int32_t aIndex,
                       bool aAddToExisting = true);
void zfIndicesRemoveIndex(TzfBaseIndicesEngine& aEngine, TzfBaseTransaction* aTrans, int32_t aIndex);
// The number of indexes the engine keeps.
int32_t zfIndicesEngineIndexCount(TzfBaseIndicesEngine& aEngine);

// Key maintenance for one record inside aTrans, which is set on the engine first: 0, or a code
// (9729 for a key violation) after the indexes already changed were put back.
uint32_t zfIndicesInsertKeys(TzfBaseIndicesEngine& aEngine, TzfBaseTransaction* aTrans, int64_t aRefNr,
                             const uint8_t* aRecord);
uint32_t zfIndicesUpdateKeys(TzfBaseIndicesEngine& aEngine, TzfBaseTransaction* aTrans, int64_t aRefNr,
                             const uint8_t* aOldRecord, const uint8_t* aNewRecord);
uint32_t zfIndicesDeleteKeys(TzfBaseIndicesEngine& aEngine, TzfBaseTransaction* aTrans, int64_t aRefNr,
                             const uint8_t* aRecord);

// Deferred keys of a bulk load into empty indexes (see TzfSimpleIndicesEngine::DeferKeys): the
// number of indexes deferred; the bulk build of them inside aTrans, ending the deferral (raises on
// failure); the end of the deferral without a build.
int32_t zfIndicesDeferKeys(TzfBaseIndicesEngine& aEngine, int64_t aRecords, int64_t aMaxBytes);
void zfIndicesBuildDeferredKeys(TzfBaseIndicesEngine& aEngine, TzfBaseTransaction* aTrans);
void zfIndicesEndDeferral(TzfBaseIndicesEngine& aEngine);

}  // namespace zf
