// The engine's pointer lists and their thread-safe wrappers.
//
// TzfBaseList is the read side, TzfWriteableList adds storage, growth and removal, TzfList is
// positional and unsorted, TzfSortedList keeps its items in the order of a virtual Compare (binary
// search, no duplicates). Every list can carry a parallel array of data pointers and can own the
// objects in it. Every change of content or order advances the list's generation.
//
// The lists are not thread-safe; shared lists are reached through TzfListPortal (many readers,
// rare writers) or TzfListPadlock (short critical sections), which own the list they wrap.
#pragma once
#include <cstdint>
#include <functional>

#include "foundation/zfllException.h"
#include "foundation/zfllMemoryManager.h"
#include "foundation/zfllSync.h"
#include "foundation/zfllSyncPortal.h"
#include "platform/rtl/rtlStringList.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseListException, EzfBaseException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfWriteableListException, EzfBaseListException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfSortedListException, EzfWriteableListException)

using TListSortCompare = int (*)(void* aItem1, void* aItem2);
// A compare bound to an object: negative, 0 or positive.
using TzfListSortCompareMethod = std::function<int8_t(void* aItem1, void* aItem2)>;

class TzfBaseList : public TzfObject {
 public:
  static constexpr int32_t kMaxCapacity = 134217727;

  // Raises the platform's EListError with aMsg formatted with aData.
  [[noreturn]] static void Error(const char16_t* aMsg, int32_t aData);

  virtual int32_t IndexOf(void* aItem) = 0;

  void* GetItem(int32_t aIndex) const;
  void* GetData(int32_t aIndex) const;  // nullptr for a list without data
  void* operator[](int32_t aIndex) const { return GetItem(aIndex); }
  void* First() const { return blCount == 0 ? nullptr : blList[0]; }
  void* Last() const { return blCount == 0 ? nullptr : blList[blCount - 1]; }

  int32_t Count() const { return blCount; }
  int32_t Capacity() const { return blCapacity; }
  uint32_t Generation() const { return blGeneration; }
  bool UseData() const { return blUseData; }
  bool FreeDataObjects() const { return blFreeDataObjects; }

 protected:
  TzfBaseList() = default;
  void CheckIndex(int32_t aIndex) const;
  void Changed() { ++blGeneration; }  // the counter wraps; callers only compare it for equality

  void** blList = nullptr;
  bool blUseData = false;
  bool blFreeDataObjects = false;
  void** blData = nullptr;
  int32_t blCount = 0;
  int32_t blCapacity = 0;
  uint32_t blGeneration = 0;
};

class TzfWriteableList : public TzfBaseList {
 public:
  // A positive aInitCapacity sets the capacity at once; Clear returns to it. The list owns its
  // data objects only when both aUseData and aFreeDataObjects are set.
  explicit TzfWriteableList(int32_t aInitCapacity = 0, bool aUseData = false, bool aFreeDataObjects = false);
  ~TzfWriteableList() override;

  virtual int32_t Add(void* aItem) = 0;
  virtual int32_t AddData(void* aItem, void* aData) = 0;

  // Frees owned data objects in index order, then count 0 and capacity back to the initial one.
  void Clear();
  void Delete(int32_t aIndex);
  // As Delete but never frees the data; answers the removed entry's data pointer.
  void* Release(int32_t aIndex);
  void* Release(void* aItem);  // nullptr when absent
  // The item's former index, or -1 (nothing changed).
  int32_t Remove(void* aItem);
  // Appends every item of aList; the data go along only when both lists keep data and aList does
  // not own its data objects.
  void AddList(TzfBaseList& aList);

  void SetCapacity(int32_t aNewCapacity);
  int32_t InitCapacity() const { return wlInitCapacity; }

 protected:
  void Grow();
  void InsertAt(int32_t aIndex, void* aItem, void* aData);
  void FreeDataObject(int32_t aIndex);

  int32_t wlInitCapacity;
};

class TzfList : public TzfWriteableList {
 public:
  using TzfWriteableList::TzfWriteableList;

  int32_t Add(void* aItem) override;
  int32_t AddData(void* aItem, void* aData) override;
  void Insert(int32_t aIndex, void* aItem);
  void InsertData(int32_t aIndex, void* aItem, void* aData);
  int32_t IndexOf(void* aItem) override;
  int32_t IndexOfData(void* aData);  // -1 for a list without data
  // False for equal indexes; True (and one generation step) only when something was swapped.
  bool Exchange(int32_t aIndex1, int32_t aIndex2);
  void Move(int32_t aCurIndex, int32_t aNewIndex);
  // Removes every nil item, keeping the order and the data of the others.
  void Pack();
  // New slots are zero; owned data objects of dropped entries are freed from the last one down.
  void Resize(int32_t aNewCount);
  void Sort(TListSortCompare aCompare);
};

class TzfSortedList : public TzfWriteableList {
 public:
  using TzfWriteableList::TzfWriteableList;

  // Negative, 0 or positive by the order of the two items. The base orders the pointer values
  // as unsigned numbers.
  virtual int8_t Compare(void* aItem1, void* aItem2);

  // Binary search, calling Compare with the middle item first; only 0 means found. When not
  // found aIndex is the insert position. Raises EzfSortedListException while sorting is suspended.
  bool Find(void* aItem, int32_t& aIndex);
  // While sorting: an equal item's index (nothing changes), else inserted in order. While
  // suspended: appended.
  int32_t Add(void* aItem) override;
  int32_t AddData(void* aItem, void* aData) override;
  int32_t IndexOf(void* aItem) override;

  void SuspendSorting();
  // The resume that brings the depth back to 0 re-sorts when items were appended meanwhile.
  void ResumeSorting();
  bool Sorting() const { return slSuspendCount == 0; }

 private:
  int32_t slSuspendCount = 0;
  bool slModified = false;
};

// Quicksort of an item array with an optional parallel data array (nullptr for none), low and
// high inclusive; True whenever an exchange step ran.
bool zfQuickSort(void** aItems, void** aData, int32_t aLow, int32_t aHigh, TListSortCompare aCompare);
bool zfQuickSortMethod(void** aItems, void** aData, int32_t aLow, int32_t aHigh, const TzfListSortCompareMethod& aCompare);

// ---------------------------------------------------------------------------------------------
// Thread-safe access to a list

class TzfListSyncAccess : public TzfObject {
 public:
  // Takes ownership of aList.
  explicit TzfListSyncAccess(TzfWriteableList* aList) : lsaList(aList) {}
  ~TzfListSyncAccess() override;

  virtual TzfBaseList& BeginRead() { return BeginWrite(); }
  virtual void EndRead() { EndWrite(); }
  virtual TzfWriteableList& BeginWrite() = 0;
  virtual void EndWrite() = 0;

  int32_t Add(void* aItem);
  int32_t AddData(void* aItem, void* aData);
  void AddList(TzfBaseList& aList);
  // The source is held with its read lock while this list is written.
  void AddList(TzfListSyncAccess& aList);
  bool Remove(void* aItem);  // True when found
  void* Release(void* aItem);
  void Clear();
  int32_t Count();

 protected:
  TzfWriteableList* lsaList;
};

class TzfListPortal : public TzfListSyncAccess {
 public:
  explicit TzfListPortal(TzfWriteableList* aList);
  ~TzfListPortal() override;

  TzfBaseList& BeginRead() override;
  void EndRead() override;
  TzfWriteableList& BeginWrite() override;
  void EndWrite() override;

 private:
  TzfInternalReadWritePortal* lptPortal;
};

class TzfListPadlock : public TzfListSyncAccess {
 public:
  explicit TzfListPadlock(TzfWriteableList* aList);
  ~TzfListPadlock() override;

  TzfWriteableList& BeginWrite() override;
  void EndWrite() override;

 private:
  TzfPadlock* lplPadlock;
};

// ---------------------------------------------------------------------------------------------
// String lists with a cheap ordinal comparison
//
// A platform string list whose comparison works on the UTF-16 code units: ordinal when
// case-sensitive, otherwise after folding only the ASCII letters a-z to upper case. Its attached
// objects, when it frees them, are engine objects (TzfObject).
class TzfFastStringList : public rtl::TStringList {
 public:
  TzfFastStringList();
  // An empty list with the given duplicates rule, then sorted.
  explicit TzfFastStringList(rtl::TDuplicates aDups);

  using rtl::TStringList::Clear;
  // Frees every attached object in index order when asked, then clears.
  void Clear(bool aFreeObjects);

  int CompareStrings(rtl::UnicodeStringView a, rtl::UnicodeStringView b) const override;
};

// Always compares ordinally.
class TzfFastStringListCS : public TzfFastStringList {
 public:
  TzfFastStringListCS();
  explicit TzfFastStringListCS(rtl::TDuplicates aDups);

  int CompareStrings(rtl::UnicodeStringView a, rtl::UnicodeStringView b) const override;
};

// Always compares ignoring ASCII case.
class TzfFastStringListIC : public TzfFastStringList {
 public:
  using TzfFastStringList::TzfFastStringList;

  int CompareStrings(rtl::UnicodeStringView a, rtl::UnicodeStringView b) const override;
};

rtl::TUnitInit& zfllListUnit();

}  // namespace zf
