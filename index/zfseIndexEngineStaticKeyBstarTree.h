// The B*-tree index engine: fixed-length keys in node blocks of the index's file, the leaves
// chained both ways.
//
// Node block: the index block header of zfseIndexBase.h (kind 1 internal, 2 leaf; the change
// counter at offset 16), then the entries from offset 40. With U the usable block size:
//   internal node: P[0] K[0] P[1] K[1] .. K[n-1] P[n]; P[i] a u32 block number at 40 + i * ipair,
//     K[i] at 44 + i * ipair: the key (desc bytes), then its Int64 reference number when the tree
//     stores reference numbers in its internal keys (duplicates allowed, keys not reference numbers).
//     ipair = key bytes + 4, capacity (U - 44) div ipair. K[i] is not smaller than every entry below
//     P[i] and smaller than every entry below P[i + 1].
//   leaf: slots 0 .. maxLeaf - 1 of lpair bytes from offset 40, lpair = desc + 8 (the key, then the
//     Int64 reference number) or desc when the key is the reference number; capacity (U - 40) div
//     lpair. The n entries use the window first .. first + n - 1, in order of key, then reference
//     number (signed).
//   desc is the key length, rounded up to a multiple of 4 when above 32 (padding bytes are zero).
// Change counter of a new node: high 32 bits = random 0..65534 shl 16 + the low 16 bits of the
// transaction's LSN; low 32 bits 0. Each read for modification adds one: the high half names the
// incarnation of the node, the low half counts its changes (see index/README.md).
//
// Checked on every read: signature, block number, kind (1 or 2), count within the capacity, the
// leaf window within the slots, first slot 0 in internal nodes; a failure raises
// 15424 (15409 for a block outside the file). Descents stop after 32 levels (15424), and a walk
// along the leaf chain checks each back link and visits at most as many leaves as the index has nodes.
// The stored index number is written on every new node but not checked on reads: a writer that
// removes an index may leave the later indexes' nodes with their old numbers. Only the fast
// revalidation of a path trusts a leaf that carries this index's number; any other goes the full
// search.
#pragma once
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "index/zfsrIndexEngineBase.h"

namespace zf {

class TzfStaticKeyBstarTreeIndexEngine;

class TzfStaticKeyBstarTreeIndexPath : public TzfBaseIndexPath {
 public:
  using TzfBaseIndexPath::TzfBaseIndexPath;
  const char16_t* ClassName() const override { return u"TzfStaticKeyBstarTreeIndexPath"; }
  std::unique_ptr<TzfBaseIndexPath> NewOfSameClass() const override;
  void Assign(const TzfBaseIndexPath& aSource) override;
  void Clear() override;

  uint32_t bpipPage = 0;          // leaf the path points into
  int32_t bpipItem = 0;           // slot in that leaf
  int64_t bpipIdentCounter = 0;   // the leaf's change counter when the path was set
  uint64_t bpipLSN = 0;           // the leaf's LSN then
};

// What the invariant check found; empty Problems means a sound tree.
struct TzfBstarTreeCheckResult {
  std::vector<std::string> Problems;
  std::set<uint32_t> Blocks;  // every node block reached from the root
  uint32_t Depth = 0;         // levels, 0 for an empty tree
  uint32_t KeyCount = 0;      // entries in the leaves
};

class TzfStaticKeyBstarTreeIndexEngine : public TzfBaseIndexEngine {
 public:
  // Random numbers 0..65534 for the counters of new nodes.
  using TRandom = std::function<uint16_t()>;
  // aUsableBlockSize: of the index's file; one too small for four internal and three leaf entries
  // raises 15494. Without aRandom a generator seeded from the system is used.
  TzfStaticKeyBstarTreeIndexEngine(const TzfIndexEngineParams& aParams, std::unique_ptr<TzfBaseKeyEngine> aKeyEngine,
                                   uint32_t aUsableBlockSize, TRandom aRandom = nullptr);
  const char16_t* ClassName() const override { return u"TzfStaticKeyBstarTreeIndexEngine"; }
  // Registered as the default index engine ("zf1xDefault").
  static const TzfIndexEngineClass& ClassInfo();

  // The smallest usable block size that holds four internal and three leaf entries for these keys.
  static uint32_t NeededUsableBlockSize(uint32_t aKeyLength, bool aDups, bool aDupsNullOnly, bool aCanContainNulls,
                                        bool aKeysAreRefs);
  // Raises the block size of the index's file descriptor until its usable size fits the key
  // (at most 64 KB); 15494 when even that is too small.
  static void CheckValidFromDescriptor(TzfIndexDescriptor& aDescriptor);

  std::unique_ptr<TzfBaseIndexPath> CreateIndexPath() override;
  bool InsertKey(TzfIndexNodeStore& aTrans, const uint8_t* aKey, int64_t aRefNr, TzfBaseIndexPath* aPath) override;
  bool DeleteKey(TzfIndexNodeStore& aTrans, const uint8_t* aKey, int64_t aRefNr, TzfBaseIndexPath* aPath) override;
  void DeleteAllKeys(TzfIndexNodeStore& aTrans) override;
  bool FindKey(TzfIndexNodeStore& aTrans, const uint8_t* aKey, int32_t aFieldCount, int32_t aPartialLen,
               int64_t aRefNr, TzfBaseIndexPath& aPath, TzfSearchKeyAction aAction,
               TzfBaseFilterEngine* aKeyFilter) override;
  bool NextKey(TzfIndexNodeStore& aTrans, TzfBaseIndexPath& aPath, TzfBaseFilterEngine* aKeyFilter) override;
  bool PrevKey(TzfIndexNodeStore& aTrans, TzfBaseIndexPath& aPath, TzfBaseFilterEngine* aKeyFilter) override;
  void ValidateIndexPath(TzfIndexNodeStore& aTrans, TzfBaseIndexPath& aPath) override;
  void GetKeyCount(TzfIndexNodeStore& aTrans, uint32_t& aCount) override;
  // Rewrites the index number in every node of the tree, then takes the number.
  void SetIndexNumber(TzfIndexNodeStore& aTrans, int32_t aNumber) override;
  // The bottom-up builder (zfseIndexEngineStaticKeyBstarTreeBulk.h).
  std::unique_ptr<TzfBaseBulkBuilder> CreateBulkBuilder(TzfIndexNodeStore& aTrans) override;

  // ---- Scans, record numbers, estimates (zfseIndexEngineStaticKeyBstarTreeScan.cpp) ----
  // Walks the range in key order (backward: from its end) handing each key that passes the key
  // filter to aKeyIterator and each record that passes aFilter to aRecIterator. A record iterator or
  // an active record filter without aRecords raises 12289. Ends with the path at Eof (Bof), or on
  // the key where an iterator stopped.
  void Iterate(TzfIndexNodeStore& aTrans, TzfBaseIndexPath& aPath, TzfIndexRecordSource* aRecords,
               const TzfIndexKeyIterator& aKeyIterator, const TzfIndexRecIterator& aRecIterator,
               const TzfRangeInfo& aRangeStart, const TzfRangeInfo& aRangeEnd, TzfBaseFilterEngine* aFilter,
               TzfBaseFilterEngine* aKeyFilter);
  void IterateBackward(TzfIndexNodeStore& aTrans, TzfBaseIndexPath& aPath, TzfIndexRecordSource* aRecords,
                       const TzfIndexKeyIterator& aKeyIterator, const TzfIndexRecIterator& aRecIterator,
                       const TzfRangeInfo& aRangeStart, const TzfRangeInfo& aRangeEnd, TzfBaseFilterEngine* aFilter,
                       TzfBaseFilterEngine* aKeyFilter);
  // The 1-based number of the path's key within the range and filters (aFlipOrder: counted from
  // the range's end). 8705/8706 when the path lies before/after the range, the path's state else.
  uint32_t RecNoGet(TzfIndexNodeStore& aTrans, TzfBaseIndexPath& aPath, TzfIndexRecordSource* aRecords,
                    const TzfRangeInfo& aRangeStart, const TzfRangeInfo& aRangeEnd, TzfBaseFilterEngine* aFilter,
                    TzfBaseFilterEngine* aKeyFilter, int64_t& aRecNo, bool aFlipOrder);
  // Puts the path on record number aRecNo; 8705 for 0, 8706 (path at the end) past the range.
  uint32_t RecNoSet(TzfIndexNodeStore& aTrans, int64_t aRecNo, TzfBaseIndexPath& aPath,
                    TzfIndexRecordSource* aRecords, const TzfRangeInfo& aRangeStart, const TzfRangeInfo& aRangeEnd,
                    TzfBaseFilterEngine* aFilter, TzfBaseFilterEngine* aKeyFilter, bool aFlipOrder);
  // An estimate of the keys in the range from two root-to-leaf descents and the header counts:
  // exact inside one leaf; across leaves within 0 .. the stored key count.
  uint32_t EstimateRecordCount(TzfIndexNodeStore& aTrans, const TzfRangeInfo& aRangeStart,
                               const TzfRangeInfo& aRangeEnd, uint32_t& aRecordCount, bool aFlipOrder);

  // Every invariant of the tree in one walk: node blocks readable, kinds and depth, order inside
  // and across nodes, separators, the leaf chain both ways, counts in the header, fill of nodes
  // other than the root, no block reached twice. Reads only; never raises for a damaged tree.
  void CheckTree(TzfIndexNodeStore& aTrans, TzfBstarTreeCheckResult& aResult);

  // ---- Layout ----
  uint16_t ieNodeKeyLength = 0;
  uint16_t ieMaxInternalNodeKeyCount = 0, ieMaxLeafNodeKeyCount = 0;
  bool ieAddKeyRefsToKeys = false;
  uint16_t ieSizeOfLeafNodeKeyPair = 0;
  uint16_t ieDescKeyLength = 0;
  uint16_t ieSizeOfInternalNodeKeyPair = 0;
  uint32_t ieUsableBlockSize = 0;

  uint32_t TreePointerOffset(uint32_t i) const { return 40 + i * ieSizeOfInternalNodeKeyPair; }
  uint32_t InternalKeyOffset(uint32_t i) const { return 44 + i * ieSizeOfInternalNodeKeyPair; }
  uint32_t LeafKeyOffset(uint32_t i) const { return 40 + i * ieSizeOfLeafNodeKeyPair; }

 private:
  friend class TzfBstarTreeOperation;
  TRandom ieRandom;
};

rtl::TUnitInit& zfseIndexEngineStaticKeyBstarTreeUnit();

}  // namespace zf
