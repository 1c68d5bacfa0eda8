#include "foundation/zfllLockedFuncs.h"

#include <cstring>

namespace zf {

namespace {

using Wide = unsigned __int128;

inline Wide Pack(const TzfListHead& aHead) {
  Wide w;
  std::memcpy(&w, &aHead, sizeof(w));
  return w;
}

inline TzfListHead Unpack(Wide aValue) {
  TzfListHead h;
  std::memcpy(&h, &aValue, sizeof(h));
  return h;
}

// Reads the head half by half: the sequence first, then the first entry. A torn pair is harmless
// because the compare-exchange that follows checks both halves at once.
inline TzfListHead ReadHead(const TzfListHead& aHead) {
  TzfListHead h;
  h.lhSequence = __atomic_load_n(&aHead.lhSequence, __ATOMIC_ACQUIRE);
  h.lhReserved = 0;
  h.lhFirst = __atomic_load_n(&aHead.lhFirst, __ATOMIC_ACQUIRE);
  return h;
}

inline TzfListEntry* ReadNext(TzfListEntry* aEntry) { return __atomic_load_n(&aEntry->leNext, __ATOMIC_RELAXED); }
inline void WriteNext(TzfListEntry*& aLink, TzfListEntry* aValue) {
  __atomic_store_n(&aLink, aValue, __ATOMIC_RELAXED);
}

}  // namespace

bool zfListHeadCompareExchange(TzfListHead& aHead, TzfListHead& aExpected, const TzfListHead& aNew) {
  Wide* target = reinterpret_cast<Wide*>(&aHead);
  const Wide expected = Pack(aExpected);
  // With -mcx16 this is one lock cmpxchg16b, inlined (no library lock behind it).
  const Wide found = __sync_val_compare_and_swap(target, expected, Pack(aNew));
  if (found == expected) return true;
  aExpected = Unpack(found);
  return false;
}

void ListHeadInit(TzfListHead& aHead) {
  aHead.lhFirst = nullptr;
  aHead.lhSequence = 0;
  aHead.lhReserved = 0;
}

TzfListEntry* ListPop(TzfListHead& aHead) {
  TzfListHead cur = ReadHead(aHead);
  while (cur.lhFirst != nullptr) {
    // leNext of an entry another thread popped meanwhile may be stale; the exchange then fails.
    TzfListHead next{ReadNext(cur.lhFirst), cur.lhSequence + 1, 0};
    if (zfListHeadCompareExchange(aHead, cur, next)) return cur.lhFirst;
  }
  return nullptr;
}

void ListPush(TzfListHead& aHead, TzfListEntry* aEntry) {
  TzfListHead cur = ReadHead(aHead);
  for (;;) {
    WriteNext(aEntry->leNext, cur.lhFirst);
    TzfListHead next{aEntry, cur.lhSequence + 1, 0};
    if (zfListHeadCompareExchange(aHead, cur, next)) return;
  }
}

TzfListEntry* ListPushChain(TzfListHead& aHead, TzfListEntry* aFirst, TzfListEntry*& aLastLink) {
  TzfListHead cur = ReadHead(aHead);
  for (;;) {
    WriteNext(aLastLink, cur.lhFirst);
    TzfListHead next{aFirst, cur.lhSequence + 1, 0};
    if (zfListHeadCompareExchange(aHead, cur, next)) return cur.lhFirst;
  }
}

TzfListEntry* ListPopAll(TzfListHead& aHead) {
  TzfListHead cur = ReadHead(aHead);
  while (cur.lhFirst != nullptr) {
    TzfListHead next{nullptr, cur.lhSequence, 0};
    if (zfListHeadCompareExchange(aHead, cur, next)) return cur.lhFirst;
  }
  return nullptr;
}

rtl::TUnitInit& zfllLockedFuncsUnit() {
  static rtl::TUnitInit unit("zfllLockedFuncs", nullptr, nullptr);
  return unit;
}

}  // namespace zf
