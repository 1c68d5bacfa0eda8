#include "foundation/zfllQueue.h"

#include "platform/rtl/rtlException.h"

namespace zf {

TzfQueueItem::TzfQueueItem(TzfQueue* aQueue) {
  if (aQueue) aQueue->Enqueue(this);
}

TzfQueueItem::~TzfQueueItem() {
  if (qiQueue) qiQueue->Remove(this);
}

TzfQueue::~TzfQueue() {
  while (TzfQueueItem* item = Dequeue()) delete item;
}

void TzfQueue::Enqueue(TzfQueueItem* aItem) {
  ZF_ASSERT(aItem && !aItem->qiQueue, "zfllQueue");
  aItem->qiQueue = this;
  aItem->qiQueuePrev = tsqItemsTail;
  aItem->qiQueueNext = nullptr;
  if (tsqItemsTail) tsqItemsTail->qiQueueNext = aItem;
  else tsqItemsHead = aItem;
  tsqItemsTail = aItem;
}

void TzfQueue::Remove(TzfQueueItem* aItem) {
  ZF_ASSERT(aItem && aItem->qiQueue == this, "zfllQueue");
  if (aItem->qiQueuePrev) aItem->qiQueuePrev->qiQueueNext = aItem->qiQueueNext;
  else tsqItemsHead = aItem->qiQueueNext;
  if (aItem->qiQueueNext) aItem->qiQueueNext->qiQueuePrev = aItem->qiQueuePrev;
  else tsqItemsTail = aItem->qiQueuePrev;
  aItem->qiQueue = nullptr;
  aItem->qiQueuePrev = nullptr;
  aItem->qiQueueNext = nullptr;
}

size_t TzfQueue::Count() const {
  size_t n = 0;
  for (const TzfQueueItem* i = tsqItemsHead; i; i = i->qiQueueNext) ++n;
  return n;
}

TzfQueueItem* TzfQueue::Dequeue() {
  TzfQueueItem* item = tsqItemsHead;
  if (item) Remove(item);
  return item;
}

}  // namespace zf
