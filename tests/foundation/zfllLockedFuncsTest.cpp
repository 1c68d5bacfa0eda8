#include "foundation/zfllLockedFuncs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace zf {
namespace {

TEST(LockedFuncs, PrimitivesReturnOldOrNewValueAsDocumented) {
  int32_t v = 1;
  EXPECT_EQ(zfLockedDecrement(v), 0);
  EXPECT_EQ(zfLockedIncrement(v), 1);
  v = 10;
  EXPECT_EQ(zfLockedExchangeAdd(v, 5), 10);
  EXPECT_EQ(v, 15);
  EXPECT_EQ(zfLockedAdd(v, 5), 20);
  EXPECT_EQ(zfLockedSub(v, 7), 13);
  EXPECT_EQ(zfLockedExchange(v, 99), 13);
  EXPECT_EQ(v, 99);
  // Compare-exchange returns the value found; it swaps only when that equals the comparand.
  EXPECT_EQ(zfLockedCompareExchange(v, 7, 98), 99);
  EXPECT_EQ(v, 99);
  EXPECT_EQ(zfLockedCompareExchange(v, 7, 99), 99);
  EXPECT_EQ(v, 7);

  int64_t w = INT64_C(1) << 40;
  EXPECT_EQ(zfLockedIncrement(w), (INT64_C(1) << 40) + 1);

  int a = 0, b = 0;
  int* p = &a;
  EXPECT_EQ(zfLockedCompareExchange(p, &b, &a), &a);
  EXPECT_EQ(p, &b);
  EXPECT_EQ(zfLockedExchange(p, nullptr), &b);

  char buf[16];
  void* q = buf;
  EXPECT_EQ(zfLockedAdd(q, 5), buf + 5);
  EXPECT_EQ(q, buf + 5);
}

TEST(LockFreeList, PushPopOrderAndSequence) {
  TzfListHead head;
  ListHeadInit(head);
  EXPECT_EQ(ListPop(head), nullptr);
  EXPECT_EQ(head.lhSequence, 0u);  // popping an empty list leaves the sequence alone

  TzfListEntry e[3]{};
  ListPush(head, &e[0]);
  ListPush(head, &e[1]);
  EXPECT_EQ(head.lhSequence, 2u);
  EXPECT_EQ(ListPop(head), &e[1]);
  EXPECT_EQ(ListPop(head), &e[0]);
  EXPECT_EQ(ListPop(head), nullptr);
  EXPECT_EQ(head.lhSequence, 4u);

  // A chain linked by the caller goes in front; its last link receives the old first entry.
  ListPush(head, &e[2]);
  e[0].leNext = &e[1];
  EXPECT_EQ(ListPushChain(head, &e[0], e[1].leNext), &e[2]);
  EXPECT_EQ(e[1].leNext, &e[2]);
  const uint32_t seq = head.lhSequence;
  EXPECT_EQ(ListPopAll(head), &e[0]);
  EXPECT_EQ(head.lhFirst, nullptr);
  EXPECT_EQ(head.lhSequence, seq);  // taking everything keeps the sequence
  EXPECT_EQ(ListPopAll(head), nullptr);
}

TEST(LockFreeList, ExchangeFailsAfterPopPushBetweenReadAndSwap) {
  TzfListHead head;
  ListHeadInit(head);
  TzfListEntry a{}, b{};
  ListPush(head, &b);
  ListPush(head, &a);  // a -> b

  // A popper reads the head (a, seq) and a's successor b, then stalls...
  TzfListHead seen = head;
  TzfListEntry* seenNext = a.leNext;
  // ...while others pop a, pop b and push a again: the first entry is a once more.
  EXPECT_EQ(ListPop(head), &a);
  EXPECT_EQ(ListPop(head), &b);
  ListPush(head, &a);
  ASSERT_EQ(head.lhFirst, &a);

  TzfListHead next{seenNext, seen.lhSequence + 1, 0};
  EXPECT_FALSE(zfListHeadCompareExchange(head, seen, next));
  EXPECT_EQ(seen.lhFirst, &a);  // the head found is handed back
  EXPECT_EQ(seen.lhSequence, head.lhSequence);
  EXPECT_EQ(ListPop(head), &a);
  EXPECT_EQ(ListPop(head), nullptr);  // b was not resurrected
}

struct Item {
  TzfListEntry link;  // first, so the entry pointer is the item pointer
  uint32_t id;
};

// aPushers threads push aPerThread items each while aPoppers threads pop (and some re-push a
// popped item once, which exercises reuse of the same entries); every item must come out once.
void RunStress(int aPushers, int aPoppers, int aPerThread) {
  const int total = aPushers * aPerThread;
  std::vector<Item> items(total);
  for (int i = 0; i < total; ++i) items[i].id = uint32_t(i);
  TzfListHead head;
  ListHeadInit(head);
  std::vector<std::atomic<int>> seen(total);
  std::vector<std::atomic<bool>> repushed(total);
  std::atomic<int> taken{0};
  std::atomic<bool> stop{false};

  std::vector<std::thread> threads;
  for (int t = 0; t < aPushers; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < aPerThread; ++i) ListPush(head, &items[t * aPerThread + i].link);
    });
  for (int t = 0; t < aPoppers; ++t)
    threads.emplace_back([&, t] {
      uint32_t n = 0;
      while (!stop.load()) {
        TzfListEntry* e = ListPop(head);
        if (!e) {
          if (taken.load() >= total) break;
          std::this_thread::yield();
          continue;
        }
        Item* it = reinterpret_cast<Item*>(e);
        if (((++n + t) & 3) == 0 && !repushed[it->id].exchange(true)) {
          ListPush(head, e);  // the same entry goes round again
          continue;
        }
        seen[it->id].fetch_add(1);
        taken.fetch_add(1);
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(taken.load(), total);
  EXPECT_EQ(head.lhFirst, nullptr);
  int wrong = 0;
  for (int i = 0; i < total; ++i) wrong += seen[i].load() != 1;
  EXPECT_EQ(wrong, 0);
}

TEST(LockFreeList, ConcurrentPushersAndPopperLoseNothing) { RunStress(2, 1, 10000); }
TEST(LockFreeList, ConcurrentPushersAndPoppersWithReuse) { RunStress(3, 3, 5000); }
TEST(LockFreeList, SlowStressManyThreads) { RunStress(4, 4, 500000); }

}  // namespace
}  // namespace zf
