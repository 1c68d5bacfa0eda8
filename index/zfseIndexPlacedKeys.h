// The keys placed so far in a unique index whose tree is built in bulk later (the indices engine's
// deferred keys): enough to decide at once, record by record, whether an insert would find an
// equal key, without the tree.
//
// One entry per class of keys that the index's key engine compares equal (CompareKey over the
// whole key), with the reference of the record that placed it. Keys that differ in bytes but
// compare equal (a collation's case or accent rules) share one class, so equality is never judged
// by bytes. An entry can outlive its record (a level rolled back, a refused record taken out
// again): the caller asks whether the record still stands before it trusts an entry, and puts the
// new key in the place of one that does not.
//
// Entry (memory only): the key (key engine format, key length bytes) then the reference (Int64,
// native order), in an arena (chunks of 16384 entries) in the order placed. The order of the classes is kept in two parts:
// a sorted run of arena positions, which keys arriving in ascending order simply extend, and a
// balanced tree of the others, merged into the run once it holds more than an eighth of the run
// (and at least 4096 entries). A lookup costs a binary search of the run and one of the tree.
#pragma once
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "index/zfsdKeyEngineBase.h"

namespace zf {

class TzfPlacedKeySet {
 public:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;

  // aMinMerge: the tree is merged into the run from this many entries on (a test may ask for few).
  explicit TzfPlacedKeySet(TzfBaseKeyEngine& aKeyEngine, uint32_t aMinMerge = 4096);
  TzfPlacedKeySet(const TzfPlacedKeySet&) = delete;
  TzfPlacedKeySet& operator=(const TzfPlacedKeySet&) = delete;

  // The entry of aKey's class, or kNone.
  uint32_t Find(const uint8_t* aKey);
  // The key and the reference of entry aEntry (valid until the next Add).
  const uint8_t* Key(uint32_t aEntry) const {
    return FArena[aEntry >> kChunkShift].get() + size_t(aEntry & (kChunkEntries - 1)) * FEntrySize;
  }
  int64_t Ref(uint32_t aEntry) const;
  // A new entry for aKey's class, which must have none.
  void Add(const uint8_t* aKey, int64_t aRefNr);
  // Find and Add in one search: the entry of aKey's class, or kNone after adding one for aKey and
  // aRefNr when aAdd. A key above every entry (keys arriving in ascending order) costs one compare.
  uint32_t Place(const uint8_t* aKey, int64_t aRefNr, bool aAdd);
  // aKey and aRefNr take the place of entry aEntry (aKey must be of its class).
  void Replace(uint32_t aEntry, const uint8_t* aKey, int64_t aRefNr);
  uint32_t Count() const { return FCount; }
  // Memory per entry, an upper bound for the budget of a deferral.
  static int64_t EntryBytes(uint32_t aKeyLength);
  // Every entry in ascending order, no two of one class; an empty text or the first broken rule.
  std::string Check();

 private:
  struct TLess {
    TzfPlacedKeySet* Set;
    bool operator()(uint32_t a, uint32_t b) const { return Set->Compare(a, b) < 0; }
  };
  static constexpr uint32_t kProbe = 0xFFFFFFFEu;  // stands for the key being looked up
  const uint8_t* At(uint32_t aEntry) const { return aEntry == kProbe ? FProbe : Key(aEntry); }
  int Compare(uint32_t a, uint32_t b) { return FKeys.CompareKey(At(a), At(b), 0, 0); }
  void Merge();
  // Appends aKey's entry to the arena; its number.
  uint32_t Append(const uint8_t* aKey, int64_t aRefNr);
  // Files a new entry: at the run's end when it is above every entry, else into the tree.
  void File(uint32_t aEntry);
  // Files a new entry into the tree, merging the tree into the run when it grew enough.
  void IntoTree(uint32_t aEntry);

  TzfBaseKeyEngine& FKeys;
  uint32_t FKeyLength;
  uint32_t FEntrySize;
  uint32_t FMinMerge;
  uint32_t FCount = 0;
  // The arena in chunks of kChunkEntries entries: it grows without moving what it holds.
  static constexpr uint32_t kChunkShift = 14, kChunkEntries = 1u << kChunkShift;
  std::vector<std::unique_ptr<uint8_t[]>> FArena;
  std::vector<uint32_t> FRun;
  std::set<uint32_t, TLess> FTree;
  const uint8_t* FProbe = nullptr;
};

}  // namespace zf
