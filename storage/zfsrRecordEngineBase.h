// What every record engine shares: the iterator through which scans and salvage hand records on,
// and the per-block salvage report.
//
// Salvage contract (both record engines): `RecoverIterate` takes one raw block as read from disk
// (decrypted, never from the cache) and hands every record it can vouch for to the iterator with
// reference number 0. It never raises for anything the block holds: a block of another kind or
// number passes nothing; a damaged block is judged by its structure's checker and only records
// that lie wholly inside the block and decode exactly are passed; a record that cannot be decoded
// is skipped and counted. Only the iterator and a cancel (zfCheckTimeout) raise.
#pragma once
#include <cstdint>
#include <functional>

#include "storage/zfsrBlock.h"

namespace zf {

enum class TzfRecordIteratorResult : uint8_t { rirContinue, rirStop };

// Called with the cookie, the record's reference (0 in salvage) and the record's bytes.
using TzfRecordIterator =
    std::function<TzfRecordIteratorResult(void* aCookie, int64_t aRefNr, const uint8_t* aRecord)>;

// What the salvage of one block found, for the caller's report.
struct TzfRecoverStats {
  uint32_t Records = 0;       // records handed to the iterator
  uint32_t Skipped = 0;       // records or segments that could not be vouched for or decoded
  bool BlockValid = false;    // the block passed its structure's checker
  bool Recognised = false;    // signature and number matched: the block is of this engine
  uint32_t Slot = 0;          // the slot of the record being handed on (for reports)
};

// Static engine references: block number in the high 32 bits, slot (1-based) in the low.
constexpr int64_t zfMakeRefNr(uint32_t aBlock, uint32_t aSlot) { return (int64_t(aBlock) << 32) | aSlot; }
constexpr uint32_t zfRefBlock(int64_t aRefNr) { return uint32_t(uint64_t(aRefNr) >> 32); }
constexpr uint32_t zfRefSlot(int64_t aRefNr) { return uint32_t(uint64_t(aRefNr) & 0xFFFFFFFFu); }

}  // namespace zf
