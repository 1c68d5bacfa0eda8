#include "index/zfseIndexPlacedKeys.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/rtl/rtlException.h"

namespace zf {

namespace {
constexpr const char* kUnit = "zfseIndexPlacedKeys";
}  // namespace

TzfPlacedKeySet::TzfPlacedKeySet(TzfBaseKeyEngine& aKeyEngine, uint32_t aMinMerge)
    : FKeys(aKeyEngine),
      FKeyLength(aKeyEngine.bkeKeyLength),
      FEntrySize(aKeyEngine.bkeKeyLength + 8),
      FMinMerge(aMinMerge),
      FTree(TLess{this}) {}

int64_t TzfPlacedKeySet::EntryBytes(uint32_t aKeyLength) {
  // The arena's entry, the run's position (and its growth), a share of the tree's nodes.
  return int64_t(aKeyLength) + 8 + 8 + 8;
}

int64_t TzfPlacedKeySet::Ref(uint32_t aEntry) const {
  int64_t r;
  std::memcpy(&r, Key(aEntry) + FKeyLength, 8);
  return r;
}

uint32_t TzfPlacedKeySet::Find(const uint8_t* aKey) {
  FProbe = aKey;
  auto it = std::lower_bound(FRun.begin(), FRun.end(), kProbe,
                             [&](uint32_t a, uint32_t b) { return Compare(a, b) < 0; });
  if (it != FRun.end() && Compare(*it, kProbe) == 0) return *it;
  auto t = FTree.find(kProbe);
  return t != FTree.end() ? *t : kNone;
}

uint32_t TzfPlacedKeySet::Append(const uint8_t* aKey, int64_t aRefNr) {
  if (FCount >= kProbe) rtl::AssertionFailure(kUnit, __LINE__);
  const uint32_t e = FCount;
  if ((e & (kChunkEntries - 1)) == 0) FArena.push_back(std::make_unique_for_overwrite<uint8_t[]>(size_t(kChunkEntries) * FEntrySize));
  uint8_t* p = const_cast<uint8_t*>(Key(e));
  std::memcpy(p, aKey, FKeyLength);
  std::memcpy(p + FKeyLength, &aRefNr, 8);
  ++FCount;
  return e;
}

void TzfPlacedKeySet::IntoTree(uint32_t aEntry) {
  if (!FTree.insert(aEntry).second) rtl::AssertionFailure(kUnit, __LINE__);
  if (FTree.size() > std::max<size_t>(FMinMerge, FRun.size() / 8)) Merge();
}

void TzfPlacedKeySet::File(uint32_t aEntry) {
  // Ascending keys extend the run; any other goes into the tree.
  if ((FRun.empty() || Compare(aEntry, FRun.back()) > 0) && (FTree.empty() || Compare(aEntry, *FTree.rbegin()) > 0))
    FRun.push_back(aEntry);
  else
    IntoTree(aEntry);
}

void TzfPlacedKeySet::Add(const uint8_t* aKey, int64_t aRefNr) { File(Append(aKey, aRefNr)); }

uint32_t TzfPlacedKeySet::Place(const uint8_t* aKey, int64_t aRefNr, bool aAdd) {
  FProbe = aKey;
  // Above the run's last key and the tree empty: above every entry.
  if (FTree.empty() && (FRun.empty() || Compare(kProbe, FRun.back()) > 0)) {
    if (aAdd) FRun.push_back(Append(aKey, aRefNr));
    return kNone;
  }
  const uint32_t found = Find(aKey);
  if (found == kNone && aAdd) File(Append(aKey, aRefNr));
  return found;
}

void TzfPlacedKeySet::Replace(uint32_t aEntry, const uint8_t* aKey, int64_t aRefNr) {
  if (aEntry >= FCount) rtl::AssertionFailure(kUnit, __LINE__);
  uint8_t* p = const_cast<uint8_t*>(Key(aEntry));
  std::memcpy(p, aKey, FKeyLength);
  std::memcpy(p + FKeyLength, &aRefNr, 8);
}

void TzfPlacedKeySet::Merge() {
  std::vector<uint32_t> merged;
  merged.reserve(FRun.size() + FTree.size());
  std::merge(FRun.begin(), FRun.end(), FTree.begin(), FTree.end(), std::back_inserter(merged),
             [&](uint32_t a, uint32_t b) { return Compare(a, b) < 0; });
  FRun = std::move(merged);
  FTree.clear();
}

std::string TzfPlacedKeySet::Check() {
  std::vector<uint32_t> all;
  std::merge(FRun.begin(), FRun.end(), FTree.begin(), FTree.end(), std::back_inserter(all),
             [&](uint32_t a, uint32_t b) { return Compare(a, b) < 0; });
  if (all.size() != FCount) return "entries missing from the order";
  for (size_t i = 1; i < all.size(); ++i)
    if (Compare(all[i - 1], all[i]) >= 0) return "entries out of order or of one class";
  for (size_t i = 1; i < FRun.size(); ++i)
    if (Compare(FRun[i - 1], FRun[i]) >= 0) return "run out of order";
  return {};
}

}  // namespace zf
