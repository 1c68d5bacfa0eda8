// Basic record types shared by the low-level units: the entry and head of the lock-free list.
#pragma once
#include <cstdint>

#include "platform/rtl/rtlUnits.h"

namespace zf {

// Any structure that goes into a lock-free list starts with this record.
struct TzfListEntry {
  TzfListEntry* leNext;
};
using PzfListEntry = TzfListEntry*;

// Head of an ABA-safe singly linked list. The first entry and the sequence are always replaced
// together by one 16-byte compare-exchange; every push and pop adds 1 to the sequence, so a head
// that was popped and pushed again between another thread's read and its exchange no longer
// matches.
struct alignas(16) TzfListHead {
  TzfListEntry* lhFirst;
  uint32_t lhSequence;
  uint32_t lhReserved;  // always 0; pads the head to the 16 bytes the exchange works on
};
static_assert(sizeof(TzfListHead) == 16 && alignof(TzfListHead) == 16);
using PzfListHead = TzfListHead*;

rtl::TUnitInit& zfllTypesUnit();

}  // namespace zf
