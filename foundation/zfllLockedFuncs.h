// Interlocked primitives and the operations of the lock-free list head.
//
// Every primitive is one locked instruction on a naturally aligned variable and is sequentially
// consistent. They work on 32- and 64-bit integers and on pointer variables.
#pragma once
#include <cstdint>
#include <type_traits>

#include "foundation/zfllTypes.h"
#include "platform/rtl/rtlUnits.h"

namespace zf {

namespace detail {
template <typename T>
concept LockedScalar = (std::is_integral_v<T> && (sizeof(T) == 4 || sizeof(T) == 8)) || std::is_pointer_v<T>;
template <typename T>
concept LockedInteger = std::is_integral_v<T> && (sizeof(T) == 4 || sizeof(T) == 8);
}  // namespace detail

// Stores aNewValue into aTarget when it holds aComparand; returns the value found in aTarget
// (the exchange happened when it equals aComparand).
template <detail::LockedScalar T>
inline T zfLockedCompareExchange(T& aTarget, std::type_identity_t<T> aNewValue, std::type_identity_t<T> aComparand) {
  __atomic_compare_exchange_n(&aTarget, &aComparand, aNewValue, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return aComparand;  // on failure the builtin wrote the value found; on success it was equal
}

// Stores aValue; returns the old value.
template <detail::LockedScalar T>
inline T zfLockedExchange(T& aTarget, std::type_identity_t<T> aValue) {
  return __atomic_exchange_n(&aTarget, aValue, __ATOMIC_SEQ_CST);
}

// Adds aValue; returns the old value.
template <detail::LockedInteger T>
inline T zfLockedExchangeAdd(T& aTarget, std::type_identity_t<T> aValue) {
  return __atomic_fetch_add(&aTarget, aValue, __ATOMIC_SEQ_CST);
}

// Adds 1 / subtracts 1; returns the new value.
template <detail::LockedInteger T>
inline T zfLockedIncrement(T& aTarget) {
  return __atomic_add_fetch(&aTarget, T(1), __ATOMIC_SEQ_CST);
}
template <detail::LockedInteger T>
inline T zfLockedDecrement(T& aTarget) {
  return __atomic_sub_fetch(&aTarget, T(1), __ATOMIC_SEQ_CST);
}

// Adds / subtracts aValue; returns the new value.
template <detail::LockedInteger T>
inline T zfLockedAdd(T& aTarget, std::type_identity_t<T> aValue) {
  return __atomic_add_fetch(&aTarget, aValue, __ATOMIC_SEQ_CST);
}
template <detail::LockedInteger T>
inline T zfLockedSub(T& aTarget, std::type_identity_t<T> aValue) {
  return __atomic_sub_fetch(&aTarget, aValue, __ATOMIC_SEQ_CST);
}

// Pointer form: adds aBytes to an untyped pointer variable; returns the new pointer.
inline void* zfLockedAdd(void*& aTarget, intptr_t aBytes) {
  auto& raw = reinterpret_cast<uintptr_t&>(aTarget);
  return reinterpret_cast<void*>(__atomic_add_fetch(&raw, static_cast<uintptr_t>(aBytes), __ATOMIC_SEQ_CST));
}

// Replaces the whole head (first entry and sequence) with aNew when it equals aExpected. On
// failure aExpected receives the head found. One 16-byte compare-exchange.
bool zfListHeadCompareExchange(TzfListHead& aHead, TzfListHead& aExpected, const TzfListHead& aNew);

// Empties the head. Not atomic: only before the head is shared.
void ListHeadInit(TzfListHead& aHead);
// Removes and returns the first entry; nullptr for an empty list (the sequence is then unchanged).
TzfListEntry* ListPop(TzfListHead& aHead);
// Puts aEntry first.
void ListPush(TzfListHead& aHead, TzfListEntry* aEntry);
// Puts a chain the caller has already linked, aFirst first; stores the old first entry into
// aLastLink (the leNext of the chain's last entry) and returns it.
TzfListEntry* ListPushChain(TzfListHead& aHead, TzfListEntry* aFirst, TzfListEntry*& aLastLink);
// Takes the whole chain out and returns its first entry (nullptr when empty).
TzfListEntry* ListPopAll(TzfListHead& aHead);

rtl::TUnitInit& zfllLockedFuncsUnit();

}  // namespace zf
