#include "foundation/zfllList.h"

#include <cstring>

#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlFormat.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfllList";
constexpr const char16_t* kSListIndexError = u"List index out of bounds (%d)";
constexpr const char16_t* kSListCapacityError = u"List capacity out of bounds (%d)";
constexpr const char16_t* kSListCountError = u"List count out of bounds (%d)";

void FreeObject(void* aObject) {
  if (aObject) static_cast<TzfObject*>(aObject)->Destroy();
}

// Sorts L..R. The pivot is followed by index, so the compare always sees the pivot's current
// slot. After each partition the smaller part is sorted by recursion and the larger one by the
// loop: the parts are disjoint, so the order in which they are done changes nothing in the
// result, and keys arranged against the pivot choice cannot nest the recursion deeper than
// log2 of the count.
template <typename Cmp>
bool QuickSort(void** aItems, void** aData, int32_t aL, int32_t aR, const Cmp& aCompare) {
  bool result = false;
  if (aL > aR) return result;
  for (;;) {
    int32_t i = aL, j = aR;
    int32_t p = static_cast<int32_t>((static_cast<uint32_t>(aL) + static_cast<uint32_t>(aR)) >> 1);
    do {
      while (aCompare(aItems[i], aItems[p]) < 0) ++i;
      while (aCompare(aItems[j], aItems[p]) > 0) --j;
      if (i <= j) {
        std::swap(aItems[i], aItems[j]);
        if (aData) std::swap(aData[i], aData[j]);
        result = true;
        if (p == i)
          p = j;
        else if (p == j)
          p = i;
        ++i;
        --j;
      }
    } while (i <= j);
    if (j - aL < aR - i) {
      if (aL < j) result = QuickSort(aItems, aData, aL, j, aCompare) || result;
      aL = i;
    } else {
      if (i < aR) result = QuickSort(aItems, aData, i, aR, aCompare) || result;
      aR = j;
    }
    if (aL >= aR) return result;
  }
}

}  // namespace

bool zfQuickSort(void** aItems, void** aData, int32_t aLow, int32_t aHigh, TListSortCompare aCompare) {
  return QuickSort(aItems, aData, aLow, aHigh, aCompare);
}

bool zfQuickSortMethod(void** aItems, void** aData, int32_t aLow, int32_t aHigh, const TzfListSortCompareMethod& aCompare) {
  return QuickSort(aItems, aData, aLow, aHigh, aCompare);
}

// ---------------------------------------------------------------------------------------------
// TzfBaseList

void TzfBaseList::Error(const char16_t* aMsg, int32_t aData) {
  throw zf::rtl::EListError(zf::rtl::Format(aMsg, {aData}));
}

void TzfBaseList::CheckIndex(int32_t aIndex) const {
  if (aIndex < 0 || aIndex >= blCount) Error(kSListIndexError, aIndex);
}

void* TzfBaseList::GetItem(int32_t aIndex) const {
  CheckIndex(aIndex);
  return blList[aIndex];
}

void* TzfBaseList::GetData(int32_t aIndex) const {
  CheckIndex(aIndex);
  return blUseData ? blData[aIndex] : nullptr;
}

// ---------------------------------------------------------------------------------------------
// TzfWriteableList

TzfWriteableList::TzfWriteableList(int32_t aInitCapacity, bool aUseData, bool aFreeDataObjects)
    : wlInitCapacity(aInitCapacity < 0 ? 0 : aInitCapacity) {
  blUseData = aUseData;
  blFreeDataObjects = aUseData && aFreeDataObjects;
  if (aInitCapacity > 0) SetCapacity(aInitCapacity);
}

TzfWriteableList::~TzfWriteableList() {
  wlInitCapacity = 0;
  try {
    Clear();
  } catch (...) {
    // An owned object whose destruction raised; the arrays are released below in any case.
  }
  zfFreeMemAndNil(blList);
  zfFreeMemAndNil(blData);
}

void TzfWriteableList::FreeDataObject(int32_t aIndex) {
  if (blFreeDataObjects) {
    void* obj = blData[aIndex];
    blData[aIndex] = nullptr;
    FreeObject(obj);
  }
}

void TzfWriteableList::Clear() {
  if (blCount > 0) {
    if (blFreeDataObjects) {
      for (int32_t i = 0; i < blCount; ++i) FreeDataObject(i);
    }
    Changed();
  }
  blCount = 0;
  SetCapacity(wlInitCapacity);
}

void TzfWriteableList::SetCapacity(int32_t aNewCapacity) {
  if (aNewCapacity < blCount || aNewCapacity > kMaxCapacity) Error(kSListCapacityError, aNewCapacity);
  if (aNewCapacity == blCapacity) return;
  const size_t bytes = static_cast<size_t>(aNewCapacity) * sizeof(void*);
  zfReallocMem(blList, bytes);
  if (blUseData) {
    try {
      zfReallocMem(blData, bytes);
    } catch (...) {
      // Keep both arrays at the same number of slots.
      if (aNewCapacity > blCapacity) zfReallocMem(blList, static_cast<size_t>(blCapacity) * sizeof(void*));
      throw;
    }
  }
  blCapacity = aNewCapacity;
}

void TzfWriteableList::Grow() {
  int32_t delta = blCapacity > 64 ? blCapacity / 4 : blCapacity > 8 ? 16 : 4;
  int64_t target = static_cast<int64_t>(blCapacity) + delta;
  if (target > kMaxCapacity) target = kMaxCapacity;
  if (target <= blCapacity) zf::rtl::RaiseIntOverflow();
  SetCapacity(static_cast<int32_t>(target));
}

void TzfWriteableList::InsertAt(int32_t aIndex, void* aItem, void* aData) {
  if (blCount == blCapacity) Grow();
  if (aIndex < blCount) {
    std::memmove(blList + aIndex + 1, blList + aIndex, static_cast<size_t>(blCount - aIndex) * sizeof(void*));
    if (blUseData) std::memmove(blData + aIndex + 1, blData + aIndex, static_cast<size_t>(blCount - aIndex) * sizeof(void*));
  }
  blList[aIndex] = aItem;
  if (blUseData) blData[aIndex] = aData;
  ++blCount;
  Changed();
}

void TzfWriteableList::Delete(int32_t aIndex) {
  CheckIndex(aIndex);
  --blCount;
  Changed();
  void* owned = blFreeDataObjects ? blData[aIndex] : nullptr;
  const size_t tail = static_cast<size_t>(blCount - aIndex) * sizeof(void*);
  std::memmove(blList + aIndex, blList + aIndex + 1, tail);
  if (blUseData) std::memmove(blData + aIndex, blData + aIndex + 1, tail);
  FreeObject(owned);
}

void* TzfWriteableList::Release(int32_t aIndex) {
  CheckIndex(aIndex);
  void* data = blUseData ? blData[aIndex] : nullptr;
  --blCount;
  Changed();
  const size_t tail = static_cast<size_t>(blCount - aIndex) * sizeof(void*);
  std::memmove(blList + aIndex, blList + aIndex + 1, tail);
  if (blUseData) std::memmove(blData + aIndex, blData + aIndex + 1, tail);
  return data;
}

void* TzfWriteableList::Release(void* aItem) {
  int32_t i = IndexOf(aItem);
  return i < 0 ? nullptr : Release(i);
}

int32_t TzfWriteableList::Remove(void* aItem) {
  int32_t i = IndexOf(aItem);
  if (i >= 0) Delete(i);
  return i;
}

void TzfWriteableList::AddList(TzfBaseList& aList) {
  const bool withData = blUseData && aList.UseData() && !aList.FreeDataObjects();
  // The count is taken once: a list appended to itself gets the items it held, not a runaway.
  const int32_t count = aList.Count();
  for (int32_t i = 0; i < count; ++i) {
    if (withData)
      AddData(aList.GetItem(i), aList.GetData(i));
    else
      Add(aList.GetItem(i));
  }
}

// ---------------------------------------------------------------------------------------------
// TzfList

int32_t TzfList::Add(void* aItem) { return AddData(aItem, nullptr); }

int32_t TzfList::AddData(void* aItem, void* aData) {
  int32_t i = blCount;
  InsertAt(i, aItem, aData);
  return i;
}

void TzfList::Insert(int32_t aIndex, void* aItem) { InsertData(aIndex, aItem, nullptr); }

void TzfList::InsertData(int32_t aIndex, void* aItem, void* aData) {
  if (aIndex < 0 || aIndex > blCount) Error(kSListIndexError, aIndex);
  InsertAt(aIndex, aItem, aData);
}

int32_t TzfList::IndexOf(void* aItem) {
  for (int32_t i = 0; i < blCount; ++i)
    if (blList[i] == aItem) return i;
  return -1;
}

int32_t TzfList::IndexOfData(void* aData) {
  if (!blUseData) return -1;
  for (int32_t i = 0; i < blCount; ++i)
    if (blData[i] == aData) return i;
  return -1;
}

bool TzfList::Exchange(int32_t aIndex1, int32_t aIndex2) {
  CheckIndex(aIndex1);
  CheckIndex(aIndex2);
  if (aIndex1 == aIndex2) return false;
  bool swapped = false;
  if (blList[aIndex1] != blList[aIndex2]) {
    std::swap(blList[aIndex1], blList[aIndex2]);
    swapped = true;
  }
  if (blUseData && blData[aIndex1] != blData[aIndex2]) {
    std::swap(blData[aIndex1], blData[aIndex2]);
    swapped = true;
  }
  if (swapped) Changed();
  return swapped;
}

void TzfList::Move(int32_t aCurIndex, int32_t aNewIndex) {
  if (aCurIndex == aNewIndex) return;
  if (aNewIndex < 0 || aNewIndex >= blCount) Error(kSListIndexError, aNewIndex);
  void* item = GetItem(aCurIndex);
  void* data = Release(aCurIndex);
  InsertAt(aNewIndex, item, data);
}

void TzfList::Pack() {
  int32_t out = 0;
  for (int32_t i = 0; i < blCount; ++i) {
    if (blList[i] != nullptr) {
      blList[out] = blList[i];
      if (blUseData) blData[out] = blData[i];
      ++out;
    } else if (blFreeDataObjects) {
      FreeDataObject(i);
    }
  }
  if (out != blCount) {
    blCount = out;
    Changed();
  }
}

void TzfList::Resize(int32_t aNewCount) {
  if (aNewCount == blCount) return;
  if (aNewCount < 0 || aNewCount > kMaxCapacity) Error(kSListCountError, aNewCount);
  if (aNewCount > blCapacity) SetCapacity(aNewCount);
  if (aNewCount > blCount) {
    const size_t bytes = static_cast<size_t>(aNewCount - blCount) * sizeof(void*);
    std::memset(blList + blCount, 0, bytes);
    if (blUseData) std::memset(blData + blCount, 0, bytes);
    blCount = aNewCount;
  } else {
    while (blCount > aNewCount) {
      --blCount;
      if (blFreeDataObjects) FreeDataObject(blCount);
    }
  }
  Changed();
}

void TzfList::Sort(TListSortCompare aCompare) {
  if (blCount == 0) return;
  zfQuickSort(blList, blUseData ? blData : nullptr, 0, blCount - 1, aCompare);
  Changed();
}

// ---------------------------------------------------------------------------------------------
// TzfSortedList

int8_t TzfSortedList::Compare(void* aItem1, void* aItem2) {
  auto a = reinterpret_cast<uintptr_t>(aItem1), b = reinterpret_cast<uintptr_t>(aItem2);
  return a < b ? -1 : a > b ? 1 : 0;
}

bool TzfSortedList::Find(void* aItem, int32_t& aIndex) {
  if (slSuspendCount > 0) throw EzfSortedListException(u"Find is not supported while sorting is suspended.");
  int32_t l = 0, h = blCount - 1;
  aIndex = 0;
  while (l <= h) {
    int32_t m = static_cast<int32_t>((static_cast<uint32_t>(l) + static_cast<uint32_t>(h)) >> 1);
    aIndex = m;
    // Only the sign counts: a compare may answer any negative or positive value.
    int c = Compare(blList[m], aItem);
    if (c < 0)
      l = m + 1;
    else if (c > 0)
      h = m - 1;
    else
      return true;
  }
  aIndex = l;
  return false;
}

int32_t TzfSortedList::Add(void* aItem) { return AddData(aItem, nullptr); }

int32_t TzfSortedList::AddData(void* aItem, void* aData) {
  if (slSuspendCount > 0) {
    int32_t i = blCount;
    InsertAt(i, aItem, aData);
    slModified = true;
    return i;
  }
  int32_t i;
  if (Find(aItem, i)) return i;
  ZF_ASSERT(i <= blCount, kUnit);
  InsertAt(i, aItem, aData);
  return i;
}

int32_t TzfSortedList::IndexOf(void* aItem) {
  int32_t i;
  return Find(aItem, i) ? i : -1;
}

void TzfSortedList::SuspendSorting() { ++slSuspendCount; }

void TzfSortedList::ResumeSorting() {
  if (slSuspendCount == 0) return;
  if (--slSuspendCount != 0) return;
  if (slModified) {
    slModified = false;
    if (blCount > 0) {
      zfQuickSortMethod(blList, blUseData ? blData : nullptr, 0, blCount - 1,
                        [this](void* a, void* b) { return Compare(a, b); });
      Changed();
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Wrappers

TzfListSyncAccess::~TzfListSyncAccess() { zfFreeAndNil(lsaList); }

int32_t TzfListSyncAccess::Add(void* aItem) {
  TzfWriteableList& list = BeginWrite();
  try {
    int32_t r = list.Add(aItem);
    EndWrite();
    return r;
  } catch (...) {
    EndWrite();
    throw;
  }
}

int32_t TzfListSyncAccess::AddData(void* aItem, void* aData) {
  TzfWriteableList& list = BeginWrite();
  try {
    int32_t r = list.AddData(aItem, aData);
    EndWrite();
    return r;
  } catch (...) {
    EndWrite();
    throw;
  }
}

void TzfListSyncAccess::AddList(TzfBaseList& aList) {
  TzfWriteableList& list = BeginWrite();
  try {
    list.AddList(aList);
  } catch (...) {
    EndWrite();
    throw;
  }
  EndWrite();
}

void TzfListSyncAccess::AddList(TzfListSyncAccess& aList) {
  TzfBaseList& source = aList.BeginRead();
  try {
    AddList(source);
  } catch (...) {
    aList.EndRead();
    throw;
  }
  aList.EndRead();
}

bool TzfListSyncAccess::Remove(void* aItem) {
  TzfWriteableList& list = BeginWrite();
  try {
    bool r = list.Remove(aItem) >= 0;
    EndWrite();
    return r;
  } catch (...) {
    EndWrite();
    throw;
  }
}

void* TzfListSyncAccess::Release(void* aItem) {
  TzfWriteableList& list = BeginWrite();
  try {
    void* r = list.Release(aItem);
    EndWrite();
    return r;
  } catch (...) {
    EndWrite();
    throw;
  }
}

void TzfListSyncAccess::Clear() {
  TzfWriteableList& list = BeginWrite();
  try {
    list.Clear();
  } catch (...) {
    EndWrite();
    throw;
  }
  EndWrite();
}

int32_t TzfListSyncAccess::Count() {
  TzfBaseList& list = BeginRead();
  int32_t r = list.Count();
  EndRead();
  return r;
}

TzfListPortal::TzfListPortal(TzfWriteableList* aList) : TzfListSyncAccess(aList), lptPortal(new TzfInternalReadWritePortal()) {}

TzfListPortal::~TzfListPortal() { zfFreeAndNil(lptPortal); }

TzfBaseList& TzfListPortal::BeginRead() {
  lptPortal->BeginRead();
  return *lsaList;
}

void TzfListPortal::EndRead() { lptPortal->EndRead(); }

TzfWriteableList& TzfListPortal::BeginWrite() {
  lptPortal->BeginWrite();
  return *lsaList;
}

void TzfListPortal::EndWrite() { lptPortal->EndWrite(); }

TzfListPadlock::TzfListPadlock(TzfWriteableList* aList) : TzfListSyncAccess(aList), lplPadlock(new TzfPadlock(false)) {}

TzfListPadlock::~TzfListPadlock() { zfFreeAndNil(lplPadlock); }

TzfWriteableList& TzfListPadlock::BeginWrite() {
  lplPadlock->Lock();
  return *lsaList;
}

void TzfListPadlock::EndWrite() { lplPadlock->Unlock(); }

// ---------------------------------------------------------------------------------------------
// TzfFastStringList

namespace {
void FreeEngineObject(void* aObject) { static_cast<TzfObject*>(aObject)->Destroy(); }
}  // namespace

TzfFastStringList::TzfFastStringList() { SetObjectFreer(&FreeEngineObject); }

TzfFastStringList::TzfFastStringList(rtl::TDuplicates aDups) : TzfFastStringList() {
  SetDuplicates(aDups);
  SetSorted(true);
}

void TzfFastStringList::Clear(bool aFreeObjects) { ClearEntries(aFreeObjects || OwnsObjects()); }

int TzfFastStringList::CompareStrings(rtl::UnicodeStringView a, rtl::UnicodeStringView b) const {
  return CaseSensitive() ? rtl::CompareStr(a, b) : rtl::CompareText(a, b);
}

TzfFastStringListCS::TzfFastStringListCS() { SetCaseSensitive(true); }

TzfFastStringListCS::TzfFastStringListCS(rtl::TDuplicates aDups) : TzfFastStringList(aDups) {
  SetCaseSensitive(true);
}

int TzfFastStringListCS::CompareStrings(rtl::UnicodeStringView a, rtl::UnicodeStringView b) const {
  return rtl::CompareStr(a, b);
}

int TzfFastStringListIC::CompareStrings(rtl::UnicodeStringView a, rtl::UnicodeStringView b) const {
  return rtl::CompareText(a, b);
}

rtl::TUnitInit& zfllListUnit() {
  static rtl::TUnitInit unit("zfllList", nullptr, nullptr);
  return unit;
}

}  // namespace zf
