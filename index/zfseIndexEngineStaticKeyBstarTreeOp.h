// Inside the B*-tree engine: one operation on one tree (searches, steps, changes), shared by the
// engine's units. Not for use outside them.
#pragma once
#include <vector>

#include "index/zfseIndexEngineStaticKeyBstarTree.h"

namespace zf {

// Deepest tree a descent accepts; deeper means a damaged tree (cycle or garbage pointers).
inline constexpr int32_t zfBstarTreeMaxDepth = 32;

class TzfBstarTreeOperation {
 public:
  using TPath = TzfStaticKeyBstarTreeIndexPath;
  TzfBstarTreeOperation(TzfStaticKeyBstarTreeIndexEngine& aEngine, TzfIndexNodeStore& aStore, int32_t aFieldCount = 0,
                        int32_t aPartialLen = 0)
      : E(aEngine), S(aStore), Held(aStore), F(aFieldCount), L(aPartialLen) {}

  // ---- Node cells ----
  static uint16_t First(const uint8_t* n) { return zfGetLE16(n + zfIxOffFirst); }
  static uint16_t Count(const uint8_t* n) { return zfGetLE16(n + zfIxOffCount); }
  static void SetFirst(uint8_t* n, uint32_t v) { zfPutLE16(n + zfIxOffFirst, static_cast<uint16_t>(v)); }
  static void SetCount(uint8_t* n, uint32_t v) { zfPutLE16(n + zfIxOffCount, static_cast<uint16_t>(v)); }
  static bool IsLeaf(const uint8_t* n) { return n[zfIxOffKind] == zfIxKindLeaf; }
  static uint32_t Prev(const uint8_t* n) { return zfGetLE32(n + zfIxOffPrev); }
  static uint32_t Next(const uint8_t* n) { return zfGetLE32(n + zfIxOffNext); }
  static int64_t Counter(const uint8_t* n) { return static_cast<int64_t>(zfGetLE64(n + zfIxOffCounter)); }
  static uint64_t BlockLSN(const uint8_t* n) { return zfGetLE64(n + zfIxOffLSN); }
  uint32_t Ptr(const uint8_t* n, uint32_t i) const { return zfGetLE32(n + E.TreePointerOffset(i)); }
  void SetPtr(uint8_t* n, uint32_t i, uint32_t v) const { zfPutLE32(n + E.TreePointerOffset(i), v); }
  const uint8_t* IKey(const uint8_t* n, uint32_t i) const { return n + E.InternalKeyOffset(i); }
  uint8_t* IKey(uint8_t* n, uint32_t i) const { return n + E.InternalKeyOffset(i); }
  const uint8_t* LKey(const uint8_t* n, uint32_t i) const { return n + E.LeafKeyOffset(i); }
  uint8_t* LKey(uint8_t* n, uint32_t i) const { return n + E.LeafKeyOffset(i); }
  // Key of entry i of node n (internal or leaf).
  const uint8_t* EntryKey(const uint8_t* n, uint32_t i) const { return IsLeaf(n) ? LKey(n, i) : IKey(n, i); }
  // Whether the entries of node n carry reference numbers, and the one of entry i.
  bool HasRef(const uint8_t* n) const { return IsLeaf(n) ? true : E.ieAddKeyRefsToKeys; }
  int64_t EntryRef(const uint8_t* n, uint32_t i) const;
  // Leaf entry i's reference number.
  int64_t LeafRef(const uint8_t* n, uint32_t i) const { return EntryRef(n, i); }

  // ---- Reading ----
  // A node of this index, structure checked (15424); aExpectLeaf: 0 internal, 1 leaf, -1 either.
  // Held until the operation ends.
  uint8_t* ReadNode(uint32_t aBlock, bool aForModify, int aExpectLeaf = -1);
  // The same held in aHold (searches hold one node at a time).
  uint8_t* ReadNodeInto(TzfIndexBlockHold& aHold, uint32_t aBlock, int aExpectLeaf = -1);
  // Checks the structure of a node already in memory; false when it does not fit this index.
  bool NodeFits(const uint8_t* n, uint32_t aBlock) const;
  uint8_t* NewNode(bool aLeaf, uint32_t& aBlock);
  // Lays out an empty node in a new block (not held by the operation) and counts it in the header.
  uint8_t* InitNode(uint8_t* n, uint32_t aBlock, bool aLeaf);

  // ---- In-node searches: found or not, and the slot (found: the entry; else the first greater) ----
  enum class TLocate { Partial, Full, WithRef, NullDup };
  bool Locate(const uint8_t* n, TLocate aHow, const uint8_t* aKey, int64_t aRefNr, int32_t& aSlot);
  int Compare(const uint8_t* n, uint32_t i, TLocate aHow, const uint8_t* aKey, int64_t aRefNr);

  // ---- Positioning and stepping ----
  bool SearchKey(const uint8_t* aKey, int64_t aRefNr, TPath& aPath, TzfSearchKeyAction aAction,
                 TzfBaseFilterEngine* aFilter);
  bool StepForward(TzfBaseFilterEngine* aFilter, TPath& aPath);
  bool StepBackward(TzfBaseFilterEngine* aFilter, TPath& aPath);
  void TakeEntry(TPath& aPath, uint32_t aBlock, const uint8_t* aLeaf, int32_t aSlot);
  void SetPathOn(TPath& aPath, uint32_t aBlock, const uint8_t* aLeaf, int32_t aSlot, TzfIndexPathPosition aPosition);
  void Validate(TPath& aPath);
  // The path's key built from its record (through the engine's records); raises when the record
  // cannot be read or keyed, leaving the path as it was.
  void RebuildKey(TPath& aPath);
  bool Passes(TzfBaseFilterEngine* aFilter, const uint8_t* aKey) { return !aFilter || aFilter->MatchesBuffer(aKey); }
  // Leaf reached along the chain from aFrom; checks the back link and the walk's length.
  uint8_t* ChainLeaf(TzfIndexBlockHold& aHold, uint32_t aBlock, uint32_t aFrom, bool aForward);

  // ---- Changes ----
  bool InsertIntoTree(TPath* aPath, int64_t aRefNr, const uint8_t* aKey);
  void InsertIntoLeaf(uint32_t aBlock, uint8_t* aLeaf, const uint8_t* aKey, TPath* aPath, int32_t aSlot,
                      int64_t aRefNr);
  void DeleteEntry(TPath* aPath, int32_t aSlot, uint32_t aBlock);
  // The internal node above aTarget reached by descending with the entry; false for the root.
  bool FindParentNode(int32_t& aSlot, uint32_t& aParent, int64_t aRefNr, const uint8_t* aKey, uint32_t aTarget);
  // Marks a node (held for modification) as no node and gives its block back.
  void DiscardNode(uint32_t aBlock, uint8_t* n);
  void FreeSubtree(uint32_t aBlock, int32_t aDepth, std::set<uint32_t>& aSeen);
  void MoveSlots(uint8_t* n, uint32_t aFrom, uint32_t aTo, uint32_t aCount) const;
  // Copies a leaf entry's key (+ reference number when the internal keys carry it) as a separator.
  void CopySeparator(const uint8_t* aLeaf, uint32_t aSlot, uint8_t* aTo) const;
  // Key (desc bytes, padding cleared) and reference number into leaf slot aSlot.
  void WriteLeafEntry(uint8_t* aLeaf, uint32_t aSlot, const uint8_t* aKey, int64_t aRefNr) const;

  TzfStaticKeyBstarTreeIndexEngine& E;
  TzfIndexNodeStore& S;
  TzfIndexReleaseList Held;
  int32_t F, L;
  uint32_t LeavesWalked = 0;  // bound of one walk along the chain
};

}  // namespace zf
