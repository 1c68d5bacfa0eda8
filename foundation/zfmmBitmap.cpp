#include "foundation/zfmmBitmap.h"

namespace zf::mm {

namespace {

inline int HighestBit(uint32_t v) { return 31 - __builtin_clz(v); }

}  // namespace

void TzfBitmap1024::Clear() {
  NonEmpty = 0;
  Full = 0;
  for (auto& d : Data) d = 0;
}

void TzfBitmap1024::RecomputeSummaries() {
  uint32_t nonEmpty = 0, full = 0;
  for (int w = 0; w < 32; ++w) {
    if (Data[w] != 0) nonEmpty |= 1u << w;
    if (Data[w] == 0xFFFFFFFFu) full |= 1u << w;
  }
  NonEmpty = nonEmpty;
  Full = full;
}

int TzfBitmap1024::FindHighest() const {
  for (;;) {
    uint32_t summary = __atomic_load_n(&NonEmpty, __ATOMIC_ACQUIRE);
    if (summary == 0) return -1;
    int w = HighestBit(summary);
    uint32_t d = __atomic_load_n(&Data[w], __ATOMIC_ACQUIRE);
    if (d != 0) return w * 32 + HighestBit(d);
    // The word was emptied and its summary bit not yet flipped: read again.
    __builtin_ia32_pause();
  }
}

bool TzfBitmap1024::ExchangeWord(int w, uint32_t aExpected, uint32_t aNew, bool& aWasEmpty, bool& aNowEmpty) {
  aWasEmpty = aNowEmpty = false;
  if (!__atomic_compare_exchange_n(&Data[w], &aExpected, aNew, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) return false;
  uint32_t bit = 1u << w;
  if ((aExpected == 0) != (aNew == 0)) {
    uint32_t before = __atomic_fetch_xor(&NonEmpty, bit, __ATOMIC_ACQ_REL);
    if (aExpected == 0) aWasEmpty = before == 0;
    else aNowEmpty = before == bit;
  }
  if ((aExpected == 0xFFFFFFFFu) != (aNew == 0xFFFFFFFFu)) __atomic_fetch_xor(&Full, bit, __ATOMIC_ACQ_REL);
  return true;
}

void TzfBitmap1024::OrWord(int w, uint32_t aBits, bool& aWasEmpty) {
  aWasEmpty = false;
  uint32_t d = __atomic_load_n(&Data[w], __ATOMIC_ACQUIRE);
  bool nowEmpty;
  while (!ExchangeWord(w, d, d | aBits, aWasEmpty, nowEmpty)) d = __atomic_load_n(&Data[w], __ATOMIC_ACQUIRE);
}

int TzfBitmap1024::TakeHighestReportEmpty(bool& aEmpty) {
  aEmpty = false;
  for (;;) {
    uint32_t summary = __atomic_load_n(&NonEmpty, __ATOMIC_ACQUIRE);
    if (summary == 0) {
      aEmpty = true;
      return -1;
    }
    int w = HighestBit(summary);
    uint32_t d = __atomic_load_n(&Data[w], __ATOMIC_ACQUIRE);
    while (d != 0) {
      int b = HighestBit(d);
      bool wasEmpty;
      if (ExchangeWord(w, d, d & ~(1u << b), wasEmpty, aEmpty)) return w * 32 + b;
      d = __atomic_load_n(&Data[w], __ATOMIC_ACQUIRE);
    }
    __builtin_ia32_pause();  // the word emptied meanwhile: start again from the summary
  }
}

bool TzfBitmap1024::SetBitReportWasEmpty(int n, bool& aWasEmpty) {
  aWasEmpty = false;
  int w = n >> 5;
  uint32_t bit = 1u << (n & 31);
  uint32_t d = __atomic_load_n(&Data[w], __ATOMIC_ACQUIRE);
  bool nowEmpty;
  for (;;) {
    if (d & bit) return false;
    if (ExchangeWord(w, d, d | bit, aWasEmpty, nowEmpty)) return true;
    d = __atomic_load_n(&Data[w], __ATOMIC_ACQUIRE);
  }
}

bool TzfBitmap1024::ClearBit(int n) {
  int w = n >> 5;
  uint32_t bit = 1u << (n & 31);
  uint32_t d = __atomic_load_n(&Data[w], __ATOMIC_ACQUIRE);
  bool wasEmpty, nowEmpty;
  for (;;) {
    if (!(d & bit)) return false;
    if (ExchangeWord(w, d, d & ~bit, wasEmpty, nowEmpty)) return true;
    d = __atomic_load_n(&Data[w], __ATOMIC_ACQUIRE);
  }
}

void TzfBitmap1024::ToggleBit(int n) {
  int w = n >> 5;
  uint32_t bit = 1u << (n & 31);
  uint32_t d = __atomic_load_n(&Data[w], __ATOMIC_ACQUIRE);
  bool wasEmpty, nowEmpty;
  while (!ExchangeWord(w, d, d ^ bit, wasEmpty, nowEmpty)) d = __atomic_load_n(&Data[w], __ATOMIC_ACQUIRE);
}

void TzfBitmap1024::MoveAll(TzfBitmap1024& aSource, TzfBitmap1024& aTarget) {
  for (int w = 0; w < 32; ++w) {
    uint32_t d = __atomic_load_n(&aSource.Data[w], __ATOMIC_ACQUIRE);
    bool wasEmpty, nowEmpty;
    while (d != 0 && !aSource.ExchangeWord(w, d, 0, wasEmpty, nowEmpty)) d = __atomic_load_n(&aSource.Data[w], __ATOMIC_ACQUIRE);
    if (d != 0) aTarget.OrWord(w, d, wasEmpty);
  }
}

}  // namespace zf::mm
