// The 1024-bit lock-free bitmap of the memory manager.
//
// 34 words: word 0 is the non-empty summary (bit w set exactly when data word w is not 0), word 1
// the full summary (bit w set exactly when data word w has all 32 bits set), words 2-33 the data
// (element n is bit n mod 32 of data word n div 32). Data words change only by compare-exchange;
// a summary bit is flipped (atomic xor, never set or cleared) by the thread whose exchange moved
// its data word across the boundary, so the summaries stay exact however crossings interleave.
#pragma once
#include <cstdint>

namespace zf::mm {

struct TzfBitmap1024 {
  uint32_t NonEmpty;
  uint32_t Full;
  uint32_t Data[32];

  // Zeroes all 34 words (before the bitmap is shared).
  void Clear();
  // Rebuilds both summaries from the data words (before the bitmap is shared).
  void RecomputeSummaries();
  // Index of the highest set element, or -1. Reads only.
  int FindHighest() const;
  // Clears the highest set element and returns it, or -1 when the bitmap is empty.
  int TakeHighest() {
    bool empty;
    return TakeHighestReportEmpty(empty);
  }
  // The same; aEmpty tells whether this take left the bitmap empty.
  int TakeHighestReportEmpty(bool& aEmpty);
  // Sets element n: true when it was clear, false when it was already set (nothing changes then).
  bool SetBit(int n) {
    bool wasEmpty;
    return SetBitReportWasEmpty(n, wasEmpty);
  }
  // The same; aWasEmpty tells whether the whole bitmap was empty before.
  bool SetBitReportWasEmpty(int n, bool& aWasEmpty);
  // Clears element n: true when it was set.
  bool ClearBit(int n);
  // Flips element n.
  void ToggleBit(int n);
  bool TestBit(int n) const { return (__atomic_load_n(&Data[n >> 5], __ATOMIC_ACQUIRE) >> (n & 31)) & 1; }
  // Takes every data word out of aSource and ors it into aTarget.
  static void MoveAll(TzfBitmap1024& aSource, TzfBitmap1024& aTarget);

  // Word-level forms used by the block managers. Each keeps the summaries exact.
  // Replaces data word w, when it equals aExpected, by aNew; false when it did not equal it.
  // aWasEmpty / aNowEmpty tell whether the whole bitmap crossed the empty boundary.
  bool ExchangeWord(int w, uint32_t aExpected, uint32_t aNew, bool& aWasEmpty, bool& aNowEmpty);
  // Ors aBits into data word w; aWasEmpty as above.
  void OrWord(int w, uint32_t aBits, bool& aWasEmpty);
};
static_assert(sizeof(TzfBitmap1024) == 34 * 4);

}  // namespace zf::mm
