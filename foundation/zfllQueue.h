// An intrusive first-in, first-out queue: every item carries its own links and belongs to at most
// one queue. Nothing here locks; users guard a queue themselves (the event log keeps a padlock
// beside each of its queues).
#pragma once
#include <cstddef>

#include "foundation/zfllMemoryManager.h"

namespace zf {

class TzfQueue;

class TzfQueueItem {
 public:
  // Links the new item at the tail of aQueue (nil: the item starts unqueued).
  explicit TzfQueueItem(TzfQueue* aQueue);
  // Takes the item out of its queue when it is in one.
  virtual ~TzfQueueItem();
  TzfQueueItem(const TzfQueueItem&) = delete;
  TzfQueueItem& operator=(const TzfQueueItem&) = delete;

  TzfQueue* Queue() const { return qiQueue; }

 private:
  friend class TzfQueue;
  TzfQueue* qiQueue = nullptr;
  TzfQueueItem* qiQueuePrev = nullptr;
  TzfQueueItem* qiQueueNext = nullptr;
};

class TzfQueue : public TzfObject {
 public:
  TzfQueue() = default;
  // Frees every item still queued, head first.
  ~TzfQueue() override;
  TzfQueue(const TzfQueue&) = delete;
  TzfQueue& operator=(const TzfQueue&) = delete;

  // Links aItem at the tail (it must not be in a queue).
  void Enqueue(TzfQueueItem* aItem);
  // Unlinks the head item and hands it to the caller, or nil when the queue is empty.
  TzfQueueItem* Dequeue();
  // Unlinks aItem wherever it stands in this queue.
  void Remove(TzfQueueItem* aItem);
  bool IsEmpty() const { return tsqItemsHead == nullptr; }
  size_t Count() const;
  TzfQueueItem* Head() const { return tsqItemsHead; }
  TzfQueueItem* Tail() const { return tsqItemsTail; }

 private:
  TzfQueueItem* tsqItemsHead = nullptr;
  TzfQueueItem* tsqItemsTail = nullptr;
};

}  // namespace zf
