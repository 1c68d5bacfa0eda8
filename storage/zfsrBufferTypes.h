// Types shared by the block cache, its block objects, the storage transactions and block access:
// cache-block states, eviction answers and the intrusive doubly linked list helpers every cache
// chain uses. Block numbers, LSNs, block pointers and release methods are zfsrBlock's.
#pragma once
#include <cstdint>
#include <cstring>

#include "foundation/zfllMemoryManager.h"
#include "storage/zfsrBlock.h"

namespace zf {

class TzfBaseFile;
class TzfBufferManager;
class TzfBaseTransaction;
class TzfBaseTransactionLevel;
class TzfReadOnlyBlock;
class TzfModifiedBlock;
class TzfBlockSnapShot;
class TzfBlockSnapShotLink;
class TzfFileSnapShotLink;
class TzfBaseTempStorage;
class TzfBaseReplicationLog;

// The empty temporary-store slot of a cache block.
inline constexpr TzfBlockTmpNum kzfNoTempNum = 0xFFFFFFFFu;

// Where a cache block's memory is: in the temporary store, allocated but not mapped, or mapped.
// The order matters: a move to a lower state is an eviction.
enum class TzfCacheBlockState : uint8_t { cbsStored, cbsAllocated, cbsMapped };
inline constexpr int kzfCacheStateCount = 3;

enum class TzfEvictResult : uint8_t { erNone, erThis, erMany };
enum class TzfWasBulkLoaded : uint8_t { wblNo, wblYes, wblYesTrigger };

// Pages of 4 KB a block of the size occupies.
inline uint32_t zfBlockPages(TzfBlockSizeAll aSize) {
  return aSize == TzfBlockSizeAll::zfbs4M ? 1024u : 1u << static_cast<int>(aSize);
}

// Intrusive doubly linked chains: T has a Next and a Prev member pointer; the chain a head and a
// tail variable. Every cache chain (in-use, per file, per transaction, per level, snapshot links)
// is one of these.
template <typename T, T* T::*Next, T* T::*Prev>
struct TzfChain {
  static void Append(T*& aHead, T*& aTail, T* aItem) {
    aItem->*Next = nullptr;
    aItem->*Prev = aTail;
    if (aTail)
      aTail->*Next = aItem;
    else
      aHead = aItem;
    aTail = aItem;
  }
  static void Unlink(T*& aHead, T*& aTail, T* aItem) {
    if (aItem->*Prev)
      (aItem->*Prev)->*Next = aItem->*Next;
    else
      aHead = aItem->*Next;
    if (aItem->*Next)
      (aItem->*Next)->*Prev = aItem->*Prev;
    else
      aTail = aItem->*Prev;
    aItem->*Next = nullptr;
    aItem->*Prev = nullptr;
  }
};

}  // namespace zf
