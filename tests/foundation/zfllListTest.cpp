#include "foundation/zfllList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <random>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/rtl/rtlException.h"
#include "zfSyncTestSupport.h"

using namespace zf;

namespace {

void* P(intptr_t v) { return reinterpret_cast<void*>(v); }
intptr_t V(void* p) { return reinterpret_cast<intptr_t>(p); }

std::vector<intptr_t> Items(const TzfBaseList& aList) {
  std::vector<intptr_t> r;
  for (int32_t i = 0; i < aList.Count(); ++i) r.push_back(V(aList.GetItem(i)));
  return r;
}
std::vector<intptr_t> Datas(const TzfBaseList& aList) {
  std::vector<intptr_t> r;
  for (int32_t i = 0; i < aList.Count(); ++i) r.push_back(V(aList.GetData(i)));
  return r;
}

// A data object that counts its destructions.
class Counted : public TzfObject {
 public:
  explicit Counted(int& aDestroyed) : FDestroyed(aDestroyed) {}
  ~Counted() override { ++FDestroyed; }

 private:
  int& FDestroyed;
};

// Orders by value with compare results far from -1 and 1.
class WideCompareList : public TzfSortedList {
 public:
  using TzfSortedList::TzfSortedList;
  int8_t Compare(void* a, void* b) override { return V(a) < V(b) ? -7 : V(a) > V(b) ? 9 : 0; }
};

// Orders by value / 10 only, so different items can be equal.
class TensList : public TzfSortedList {
 public:
  using TzfSortedList::TzfSortedList;
  int8_t Compare(void* a, void* b) override { return V(a) / 10 < V(b) / 10 ? -1 : V(a) / 10 > V(b) / 10 ? 1 : 0; }
};

void ExpectListError(const std::function<void()>& aCall, const char16_t* aMessage) {
  try {
    aCall();
    ADD_FAILURE() << "no EListError";
  } catch (const zf::rtl::EListError& e) {
    EXPECT_EQ(e.Message(), aMessage);
  }
}

}  // namespace

TEST(List, GrowsByFourThenSixteenThenAQuarter) {
  TzfList list;
  std::vector<int32_t> capacities;
  for (intptr_t i = 0; i < 100; ++i) {
    list.Add(P(i));
    if (capacities.empty() || capacities.back() != list.Capacity()) capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int32_t>{4, 8, 12, 28, 44, 60, 76, 95, 118}));
  EXPECT_EQ(list.Count(), 100);
  EXPECT_EQ(V(list.First()), 0);
  EXPECT_EQ(V(list.Last()), 99);
}

TEST(List, BadIndexesCountsAndCapacitiesRaise) {
  TzfList list(0, true);
  list.Add(P(1));
  list.Add(P(2));
  const uint32_t gen = list.Generation();
  ExpectListError([&] { list.GetItem(2); }, u"List index out of bounds (2)");
  ExpectListError([&] { list.GetItem(-1); }, u"List index out of bounds (-1)");
  ExpectListError([&] { list.Delete(5); }, u"List index out of bounds (5)");
  ExpectListError([&] { list.Release(int32_t{2}); }, u"List index out of bounds (2)");
  ExpectListError([&] { list.Insert(3, P(9)); }, u"List index out of bounds (3)");
  ExpectListError([&] { list.Exchange(0, 7); }, u"List index out of bounds (7)");
  ExpectListError([&] { list.Exchange(-3, 7); }, u"List index out of bounds (-3)");
  ExpectListError([&] { list.Move(0, 2); }, u"List index out of bounds (2)");
  ExpectListError([&] { list.SetCapacity(1); }, u"List capacity out of bounds (1)");
  ExpectListError([&] { list.SetCapacity(TzfBaseList::kMaxCapacity + 1); }, u"List capacity out of bounds (134217728)");
  ExpectListError([&] { list.Resize(-1); }, u"List count out of bounds (-1)");
  ExpectListError([&] { list.Resize(TzfBaseList::kMaxCapacity + 1); }, u"List count out of bounds (134217728)");
  EXPECT_EQ(Items(list), (std::vector<intptr_t>{1, 2}));
  EXPECT_EQ(list.Generation(), gen);
  EXPECT_EQ(list.First(), P(1));
  TzfList empty;
  EXPECT_EQ(empty.First(), nullptr);
  EXPECT_EQ(empty.Last(), nullptr);
}

TEST(List, PositionalOperationsKeepDataAlongside) {
  TzfList list(0, true);
  for (intptr_t i = 1; i <= 5; ++i) list.AddData(P(i), P(100 + i));
  list.InsertData(0, P(0), P(100));
  list.Insert(6, P(6));  // data nil
  EXPECT_EQ(Items(list), (std::vector<intptr_t>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(Datas(list), (std::vector<intptr_t>{100, 101, 102, 103, 104, 105, 0}));
  EXPECT_EQ(list.IndexOf(P(4)), 4);
  EXPECT_EQ(list.IndexOf(P(42)), -1);
  EXPECT_EQ(list.IndexOfData(P(103)), 3);

  uint32_t gen = list.Generation();
  EXPECT_FALSE(list.Exchange(2, 2));
  EXPECT_EQ(list.Generation(), gen);
  EXPECT_TRUE(list.Exchange(1, 5));
  EXPECT_EQ(list.Generation(), gen + 1);
  EXPECT_EQ(Items(list), (std::vector<intptr_t>{0, 5, 2, 3, 4, 1, 6}));
  EXPECT_EQ(Datas(list), (std::vector<intptr_t>{100, 105, 102, 103, 104, 101, 0}));

  list.Move(6, 0);  // the last entry keeps its data
  list.Move(1, 6);
  EXPECT_EQ(Items(list), (std::vector<intptr_t>{6, 5, 2, 3, 4, 1, 0}));
  EXPECT_EQ(Datas(list), (std::vector<intptr_t>{0, 105, 102, 103, 104, 101, 100}));

  EXPECT_EQ(V(list.Release(int32_t{6})), 100);  // the last entry's data
  EXPECT_EQ(V(list.Release(P(5))), 105);
  EXPECT_EQ(list.Release(P(77)), nullptr);
  EXPECT_EQ(list.Remove(P(2)), 1);
  EXPECT_EQ(list.Remove(P(2)), -1);
  EXPECT_EQ(Items(list), (std::vector<intptr_t>{6, 3, 4, 1}));
  EXPECT_EQ(Datas(list), (std::vector<intptr_t>{0, 103, 104, 101}));

  TzfList plain;
  EXPECT_EQ(plain.IndexOfData(nullptr), -1);
  plain.Add(P(3));
  EXPECT_EQ(plain.Release(int32_t{0}), nullptr);
}

TEST(List, PackResizeAndClear) {
  TzfList list(2, true);
  list.AddData(P(1), P(11));
  list.AddData(nullptr, P(12));
  list.AddData(P(3), P(13));
  list.AddData(nullptr, P(14));
  uint32_t gen = list.Generation();
  list.Pack();
  EXPECT_EQ(Items(list), (std::vector<intptr_t>{1, 3}));
  EXPECT_EQ(Datas(list), (std::vector<intptr_t>{11, 13}));
  EXPECT_EQ(list.Generation(), gen + 1);
  list.Pack();  // nothing removed: no generation step
  EXPECT_EQ(list.Generation(), gen + 1);

  list.Resize(4);
  EXPECT_EQ(Items(list), (std::vector<intptr_t>{1, 3, 0, 0}));
  EXPECT_EQ(Datas(list), (std::vector<intptr_t>{11, 13, 0, 0}));
  list.Resize(1);
  EXPECT_EQ(Items(list), (std::vector<intptr_t>{1}));

  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 2);  // back to the initial capacity
  gen = list.Generation();
  list.SetCapacity(50);
  list.Clear();  // empty: no generation step, capacity reset all the same
  EXPECT_EQ(list.Generation(), gen);
  EXPECT_EQ(list.Capacity(), 2);

  list.Sort([](void*, void*) { return 0; });  // empty: nothing, no generation step
  EXPECT_EQ(list.Generation(), gen);
}

TEST(List, OwnedDataObjectsAreFreedOnlyWhenOwned) {
  int destroyed = 0;
  {
    TzfList owner(0, true, true);
    EXPECT_TRUE(owner.FreeDataObjects());
    for (int i = 1; i <= 8; ++i) owner.AddData(P(i), new Counted(destroyed));
    owner.Delete(0);
    EXPECT_EQ(destroyed, 1);
    delete static_cast<Counted*>(owner.Release(int32_t{0}));  // released data is the caller's
    EXPECT_EQ(destroyed, 2);
    owner.GetItem(0);
    owner.Resize(4);
    EXPECT_EQ(destroyed, 4);
    owner.Insert(1, nullptr);
    owner.Pack();  // the nil item's data slot was empty
    EXPECT_EQ(destroyed, 4);
    owner.Clear();
    EXPECT_EQ(destroyed, 8);
    owner.AddData(P(1), new Counted(destroyed));
  }
  EXPECT_EQ(destroyed, 9);  // the destructor clears

  // Free-data requested without data: nothing is owned.
  TzfList notOwner(0, false, true);
  EXPECT_FALSE(notOwner.FreeDataObjects());
  EXPECT_FALSE(notOwner.UseData());
}

TEST(List, AddListCopiesDataOnlyWhenTheSourceDoesNotOwnThem) {
  int destroyed = 0;
  TzfList owning(0, true, true);
  owning.AddData(P(1), new Counted(destroyed));
  TzfList plainData(0, true);
  plainData.AddData(P(2), P(22));

  TzfList target(0, true);
  target.AddList(owning);
  target.AddList(plainData);
  EXPECT_EQ(Items(target), (std::vector<intptr_t>{1, 2}));
  EXPECT_EQ(Datas(target), (std::vector<intptr_t>{0, 22}));
}

// Appending a list to itself takes the items it held when the call began, once: the source's
// count must not be re-read while the list grows.
TEST(List, AddListOfItselfAppendsItsItemsOnce) {
  // Stops a runaway append early instead of letting it grow to the capacity limit.
  class CappedList : public TzfList {
   public:
    using TzfList::TzfList;
    int32_t AddData(void* aItem, void* aData) override {
      if (Count() >= 16) throw std::length_error("the list kept growing");
      return TzfList::AddData(aItem, aData);
    }
  };
  for (bool useData : {false, true}) {
    CappedList list(0, useData);
    list.AddData(P(1), P(11));
    list.AddData(P(2), P(22));
    list.AddList(list);
    EXPECT_EQ(Items(list), (std::vector<intptr_t>{1, 2, 1, 2}));
    if (useData) {
      EXPECT_EQ(Datas(list), (std::vector<intptr_t>{11, 22, 11, 22}));
    }
  }
}

TEST(List, SortMovesDataWithItems) {
  std::mt19937 rng(7);
  for (int n : {1, 2, 3, 10, 257}) {
    TzfList list(0, true);
    std::vector<intptr_t> values;
    for (int i = 0; i < n; ++i) {
      intptr_t v = static_cast<intptr_t>(rng() % 50);
      values.push_back(v);
      list.AddData(P(v), P(v + 1000));
    }
    uint32_t gen = list.Generation();
    list.Sort([](void* a, void* b) { return V(a) < V(b) ? -1000 : V(a) > V(b) ? 1000 : 0; });
    EXPECT_EQ(list.Generation(), gen + 1);
    std::sort(values.begin(), values.end());
    EXPECT_EQ(Items(list), values);
    for (int32_t i = 0; i < list.Count(); ++i) EXPECT_EQ(V(list.GetData(i)), V(list.GetItem(i)) + 1000);
  }
}

// A compare may answer any negative or positive value; only 0 means "found".
namespace {

// An adversary for the quicksort: items start without a value ("gas", below every valued item);
// when two gas items meet, the pivot side gets the next lower of the high values, so every
// partition finds its pivot to be the largest item of its range and leaves all others on the
// left. The answers stay consistent, so the finished order must follow the values given. The
// compare also records how deep the stack went.
struct TSortAdversary {
  std::vector<int64_t> Values;
  int64_t NextHigh = 0;
  uintptr_t StackTop = 0;
  uintptr_t StackLowest = 0;
};
TSortAdversary* gAdversary = nullptr;

int AdversaryCompare(void* a, void* b) {
  TSortAdversary& adv = *gAdversary;
  volatile char marker = 0;
  adv.StackLowest = std::min(adv.StackLowest, reinterpret_cast<uintptr_t>(&marker));
  int64_t& va = adv.Values[static_cast<size_t>(V(a))];
  int64_t& vb = adv.Values[static_cast<size_t>(V(b))];
  if (va < 0 && vb < 0) vb = adv.NextHigh--;
  return va < vb ? -1 : va > vb ? 1 : 0;
}

}  // namespace

// However the keys are arranged, sorting them needs only a few levels of recursion: damaged or
// hostile keys cannot exhaust the stack.
TEST(List, QuickSortRecursionStaysShallowOnAdversarialKeys) {
  const int32_t n = 5000;
  TSortAdversary adv;
  adv.Values.assign(n, -1);
  adv.NextHigh = 2 * n;
  std::vector<void*> items(n), data(n);
  for (int32_t i = 0; i < n; ++i) items[static_cast<size_t>(i)] = data[static_cast<size_t>(i)] = P(i);
  volatile char top = 0;
  adv.StackTop = adv.StackLowest = reinterpret_cast<uintptr_t>(&top);
  gAdversary = &adv;
  EXPECT_TRUE(zfQuickSort(items.data(), data.data(), 0, n - 1, AdversaryCompare));
  gAdversary = nullptr;
  EXPECT_LT(adv.StackTop - adv.StackLowest, 64u * 1024) << "bytes of stack used by the sort";
  for (int32_t i = 1; i < n; ++i) {
    ASSERT_LE(adv.Values[static_cast<size_t>(V(items[static_cast<size_t>(i - 1)]))],
              adv.Values[static_cast<size_t>(V(items[static_cast<size_t>(i)]))]) << i;
  }
  EXPECT_EQ(items, data);  // the data moved with their items
}

TEST(SortedList, FindTakesTheSignOfTheCompare) {
  WideCompareList list;
  for (intptr_t v : {50, 10, 40, 20, 30}) list.Add(P(v));
  EXPECT_EQ(Items(list), (std::vector<intptr_t>{10, 20, 30, 40, 50}));
  struct Case {
    intptr_t item;
    bool found;
    int32_t index;
  };
  const Case cases[] = {{10, true, 0}, {30, true, 2}, {50, true, 4}, {5, false, 0},
                        {25, false, 2}, {45, false, 4}, {60, false, 5}};
  for (const auto& c : cases) {
    int32_t index = -99;
    EXPECT_EQ(list.Find(P(c.item), index), c.found) << c.item;
    EXPECT_EQ(index, c.index) << c.item;
    EXPECT_EQ(list.IndexOf(P(c.item)), c.found ? c.index : -1) << c.item;
  }
  EXPECT_EQ(list.Add(P(30)), 2);  // equal: the existing index, nothing added
  EXPECT_EQ(list.Count(), 5);
  EXPECT_EQ(list.Remove(P(40)), 3);
  EXPECT_EQ(Items(list), (std::vector<intptr_t>{10, 20, 30, 50}));
}

TEST(SortedList, SuspendedSortingKeepsDuplicatesAndResorts) {
  TensList list(0, true);
  list.AddData(P(31), P(1));
  list.AddData(P(11), P(2));
  EXPECT_EQ(list.AddData(P(15), P(3)), 0);  // equal to 11: not added
  EXPECT_EQ(list.Count(), 2);

  list.SuspendSorting();
  list.SuspendSorting();
  list.AddData(P(25), P(4));
  list.AddData(P(17), P(5));  // equal to 11, kept while suspended
  EXPECT_EQ(Items(list), (std::vector<intptr_t>{11, 31, 25, 17}));
  int32_t index;
  EXPECT_THROW(list.Find(P(11), index), EzfSortedListException);
  EXPECT_THROW(list.IndexOf(P(11)), EzfSortedListException);
  try {
    list.Find(P(11), index);
  } catch (const EzfSortedListException& e) {
    EXPECT_EQ(e.Message(), u"ZofrinDB: Find is not supported while sorting is suspended. [no error code]");
  }
  list.ResumeSorting();
  EXPECT_FALSE(list.Sorting());
  list.ResumeSorting();
  EXPECT_TRUE(list.Sorting());
  auto items = Items(list);
  EXPECT_EQ(items.size(), 4u);
  EXPECT_TRUE(std::is_sorted(items.begin(), items.end(), [](intptr_t a, intptr_t b) { return a / 10 < b / 10; }));
  for (int32_t i = 0; i < list.Count(); ++i) {
    intptr_t expectedData = V(list.GetItem(i)) == 31 ? 1 : V(list.GetItem(i)) == 11 ? 2 : V(list.GetItem(i)) == 25 ? 4 : 5;
    EXPECT_EQ(V(list.GetData(i)), expectedData);
  }
  EXPECT_TRUE(list.Find(P(33), index));
  EXPECT_EQ(index, 3);
}

TEST(SortedList, BaseCompareOrdersPointersUnsigned) {
  TzfSortedList list;
  list.Add(P(-1));  // the largest unsigned value
  list.Add(P(5));
  list.Add(P(1));
  EXPECT_EQ(Items(list), (std::vector<intptr_t>{1, 5, -1}));
}

using zf::test::RunWithWatchdog;

TEST(ListWrappers, ConcurrentWritersAndReaders) {
  zfllMemoryManagerUnit().Initialize();
  zfllSyncUnit().Initialize();
  for (int kind = 0; kind < 2; ++kind) {
    TzfListSyncAccess* access = kind == 0 ? static_cast<TzfListSyncAccess*>(new TzfListPortal(new TzfList()))
                                          : new TzfListPadlock(new TzfList());
    constexpr int kThreads = 4, kPerThread = 2000;
    RunWithWatchdog("list wrapper work", std::chrono::milliseconds(20000), [&] {
      std::vector<std::thread> threads;
      for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
          for (int i = 0; i < kPerThread; ++i) {
            access->Add(P(t * kPerThread + i + 1));
            if (i % 3 == 0) {
              EXPECT_TRUE(access->Remove(P(t * kPerThread + i + 1)));
            }
            TzfBaseList& list = access->BeginRead();
            if (list.Count() > 0) (void)list.GetItem(list.Count() - 1);
            access->EndRead();
          }
        });
      for (auto& th : threads) th.join();
    });
    const int removed = kThreads * ((kPerThread + 2) / 3);
    EXPECT_EQ(access->Count(), kThreads * kPerThread - removed) << kind;
    EXPECT_FALSE(access->Remove(P(999999)));
    delete access;  // frees the wrapped list too (the leak checker would say otherwise)
  }
  zfllSyncUnit().Finalize();
  zfllMemoryManagerUnit().Finalize();
}

TEST(ListWrappers, AddListReleaseClearAndLocksReleasedOnError) {
  zfllMemoryManagerUnit().Initialize();
  zfllSyncUnit().Initialize();
  TzfListPortal source(new TzfList(0, true));
  source.AddData(P(1), P(11));
  source.AddData(P(2), P(22));
  TzfListPadlock target(new TzfList(0, true));
  target.AddList(source);
  EXPECT_EQ(target.Count(), 2);
  EXPECT_EQ(V(target.Release(P(2))), 22);
  TzfList extra;
  extra.Add(P(3));
  target.AddList(extra);
  EXPECT_EQ(target.Count(), 2);
  target.Clear();
  EXPECT_EQ(target.Count(), 0);

  // A list operation that raises must not leave the wrapper locked for other threads.
  for (int kind = 0; kind < 2; ++kind) {
    auto* sorted = new TzfSortedList();
    sorted->SuspendSorting();
    std::unique_ptr<TzfListSyncAccess> access(kind == 0 ? static_cast<TzfListSyncAccess*>(new TzfListPortal(sorted))
                                                        : new TzfListPadlock(sorted));
    access->Add(P(5));
    EXPECT_THROW(access->Remove(P(5)), EzfSortedListException);
    EXPECT_THROW(access->Release(P(5)), EzfSortedListException);
    RunWithWatchdog("list wrapper work", std::chrono::milliseconds(5000), [&] { EXPECT_EQ(access->Add(P(6)), 1); });
    EXPECT_EQ(access->Count(), 2);
  }
  zfllSyncUnit().Finalize();
  zfllMemoryManagerUnit().Finalize();
}
