// Bulk builders: fill empty indexes from existing records in one pass (restructure, rebuild, pack).
//
// A builder serves one build: made for an empty index (15511 "Index is not empty." otherwise), fed
// every record with InsertKey, finished with Finalize, freed by the caller. The default builder
// inserts key by key; the B*-tree has its own (zfseIndexEngineStaticKeyBstarTreeBulk.h); the hub
// drives one builder per index of a table. A builder works on the node store it was made with.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "index/zfsrIndexEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseBulkBuilder, EzfBaseIndexEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseIndexBulkBuilder, EzfBaseBulkBuilder)

class TzfBaseBulkBuilder {
 public:
  virtual ~TzfBaseBulkBuilder() = default;
  // Takes the record's key (a record the key filter declines is skipped: 0); a key-building error
  // is answered as its code.
  virtual uint32_t InsertKey(int64_t aRefNr, const uint8_t* aRecord) = 0;
  // Completes the index; 0, an error code, or raises (duplicate keys: 9729 "BulkCreate").
  virtual uint32_t Finalize() = 0;
};

// One builder per index, called in index order; the first non-zero answer stops and is answered.
class TzfBulkBuilderHub : public TzfBaseBulkBuilder {
 public:
  explicit TzfBulkBuilderHub(std::vector<std::unique_ptr<TzfBaseBulkBuilder>> aBuilders)
      : bbhBulkBuilders(std::move(aBuilders)) {}
  uint32_t InsertKey(int64_t aRefNr, const uint8_t* aRecord) override;
  uint32_t Finalize() override;
  std::vector<std::unique_ptr<TzfBaseBulkBuilder>> bbhBulkBuilders;
};

class TzfBaseIndexBulkBuilder : public TzfBaseBulkBuilder {
 public:
  // Raises EzfBaseIndexBulkBuilder 15511 when the index holds a root, a node or a key.
  TzfBaseIndexBulkBuilder(TzfIndexNodeStore& aTrans, TzfBaseIndexEngine& aIndexEngine);
  TzfIndexNodeStore& bibbStore;
  TzfBaseIndexEngine& bibbIndexEngine;
  TzfBaseKeyEngine& bibbKeyEngine;
};

// Inserts key by key through the index engine; a refused key answers 9729 (etInsert).
class TzfDefaultIndexBulkBuilder : public TzfBaseIndexBulkBuilder {
 public:
  TzfDefaultIndexBulkBuilder(TzfIndexNodeStore& aTrans, TzfBaseIndexEngine& aIndexEngine);
  uint32_t InsertKey(int64_t aRefNr, const uint8_t* aRecord) override;
  uint32_t Finalize() override { return 0; }
  std::vector<uint8_t> dibbKey;
};

}  // namespace zf
