// The B*-tree's bulk builder: collects the keys in containers, sorts each container, merges them
// and writes the tree once, bottom-up, with evenly filled nodes.
//
// Container entry (memory only): E = key length + 8 rounded up to a multiple of 16 bytes; the key
// (key engine format) at 0, the record's reference number (Int64) in the last 8 bytes. A container
// holds 4 MB div E entries (a test may ask for fewer). Each container is sorted on sealing (introsort
// over an index of its entries: no deep recursion whatever the keys); Finalize merges all sealed
// containers at once (a heap of their heads), so input that arrives sorted is read once and never
// copied. Equal entries where the index allows none raise 9729 "BulkCreate".
//
// Tree plan for K keys: leaves L = ceil(K / t) with t about 80 % of a leaf, fewer when that would
// leave leaves under half full; leaf j takes floor((j+1)K/L) - floor(jK/L) keys, centred in its
// slots. Each internal level over c children gets m = ceil(c / (ti + 1)) nodes (fewer when under
// half full), children spread the same way, until one node (the root) remains. Every node other
// than the root is thus at least half full, for every K.
#pragma once
#include <memory>
#include <vector>

#include "index/zfseIndexEngineStaticKeyBstarTree.h"
#include "index/zfsrIndexBulkBuilder.h"

namespace zf {

class TzfStaticKeyBstarTreeIndexBulkBuilder : public TzfBaseIndexBulkBuilder {
 public:
  // aKeysPerContainer 0: as many as fit in 4 MB.
  TzfStaticKeyBstarTreeIndexBulkBuilder(TzfIndexNodeStore& aTrans, TzfStaticKeyBstarTreeIndexEngine& aIndexEngine,
                                        uint32_t aKeysPerContainer = 0);
  uint32_t InsertKey(int64_t aRefNr, const uint8_t* aRecord) override;
  uint32_t Finalize() override;

  // Leaves and internal node counts per level (0 above the leaves) planned for aKeyCount keys.
  struct TPlan {
    uint64_t Leaves = 0;
    std::vector<uint64_t> Children, Nodes;  // per internal level
  };
  TPlan Plan(uint64_t aKeyCount) const;

  TzfStaticKeyBstarTreeIndexEngine& bsibbIndexEngine;
  uint32_t bsibbKeyLength;          // bytes per entry
  uint32_t bsibbKeysPerContainer;
  uint64_t bsibbTotalKeyCount = 0;  // keys collected
  uint32_t bsibbContainerCount = 0;

 private:
  struct TContainer {
    std::vector<uint8_t> Data;
    uint32_t Count = 0;
  };
  int CompareEntries(const uint8_t* a, const uint8_t* b);
  void Seal();
  std::vector<TContainer> FSealed;
  TContainer FCurrent;
  bool FOpen = false;
};

}  // namespace zf
