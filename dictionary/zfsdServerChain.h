// The chain of server objects an owner holds (a session's databases, contexts and task handles, a
// database's cursors and statements, an engine's sessions).
//
// Rules:
// 1. Members are appended and removed under the chain's mutex; a member removes itself at the end
//    of its own destruction (the last destructor of its abstract class), and the removal wakes
//    every owner waiting for the chain to change.
// 2. A member's destruction is claimed under the chain's mutex (Claim). A walk under the mutex
//    (ForEachLive) therefore never meets a member that starts its destruction meanwhile.
// 3. FreeAll frees from the tail. It claims a member under the mutex and frees it after releasing
//    the mutex, so member destructors may take the locks they need. A member that another thread
//    is destroying is not freed again: the owner waits on the chain's condition variable until
//    that member has removed itself. Nothing spins.
#pragma once
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "dictionary/zfsdServerObject.h"

namespace zf {

class TzfServerChain {
 public:
  TzfServerChain() = default;
  TzfServerChain(const TzfServerChain&) = delete;
  TzfServerChain& operator=(const TzfServerChain&) = delete;

  void Append(TzfAbstractServerObject* aObject) {
    std::lock_guard g(FMutex);
    FItems.push_back(aObject);
  }
  // Nothing when aObject is not a member.
  void Remove(TzfAbstractServerObject* aObject) {
    // Notified under the mutex: an owner that sees the chain empty may free the chain at once,
    // so the remover must not touch it after releasing the mutex.
    std::lock_guard g(FMutex);
    auto it = std::find(FItems.begin(), FItems.end(), aObject);
    if (it == FItems.end()) return;
    FItems.erase(it);
    FChanged.notify_all();
  }
  // Claims aObject's destruction under the chain's mutex; False when it was claimed already.
  bool Claim(TzfAbstractServerObject* aObject) {
    std::lock_guard g(FMutex);
    return aObject->ClaimDestroy();
  }
  // Calls aProc for every member not being destroyed, head to tail, holding the mutex. aProc must
  // not add to, remove from or free members of this chain.
  template <class F>
  void ForEachLive(F&& aProc) {
    std::lock_guard g(FMutex);
    for (TzfAbstractServerObject* o : FItems)
      if (!o->Destroying()) aProc(o);
  }
  // Frees every member from the tail (rule 3). A member that may not be destroyed on this thread
  // raises, leaving it and the members before it in the chain.
  void FreeAll() {
    std::unique_lock l(FMutex);
    while (!FItems.empty()) {
      TzfAbstractServerObject* o = FItems.back();
      if (!o->Destroying()) o->asoCheckDestroyAllowed();
      if (!o->ClaimDestroy()) {
        FChanged.wait(l);
        continue;
      }
      l.unlock();
      o->DestroyClaimed();
      l.lock();
    }
  }
  size_t Count() {
    std::lock_guard g(FMutex);
    return FItems.size();
  }
  bool Contains(const TzfAbstractServerObject* aObject) {
    std::lock_guard g(FMutex);
    return std::find(FItems.begin(), FItems.end(), aObject) != FItems.end();
  }
  // A copy of the members, head to tail (for tests and diagnostics).
  std::vector<TzfAbstractServerObject*> Snapshot() {
    std::lock_guard g(FMutex);
    return FItems;
  }
  std::mutex& Mutex() { return FMutex; }

 private:
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<TzfAbstractServerObject*> FItems;
};

}  // namespace zf
