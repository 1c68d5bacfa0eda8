#include "storage/zfseBlockHeapEngineNonfragmenting.h"

#include <algorithm>
#include <cstring>

#include "foundation/zfllErrors.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfseBlockHeapEngineNonfragmenting";

inline uint16_t Rd(const uint8_t* b, uint32_t off) { return zfGetLE16(b + off); }
inline void Wr(uint8_t* b, uint32_t off, uint32_t v) { zfPutLE16(b + off, static_cast<uint16_t>(v)); }

[[noreturn]] void RaiseInvalid(uint32_t aSegment) {
  throw EzfNonfragmentingBlockHeapEngineException(zfErrInvalidSegment, u"invalid segment number (%d)",
                                                  {int64_t(aSegment)});
}

// The largest N whose directory leaves the data area at least its start.
inline uint32_t MaxSlots(uint32_t aU, uint32_t aH) { return aU >= aH + 8 ? (aU - 8 - aH) / 2 : 0; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// The checker

TzfHeapBlockCheck zfCheckHeapBlock(const uint8_t* aBlock, uint32_t aU, uint32_t aH) {
  TzfHeapBlockCheck r;
  auto fail = [&r](const rtl::UnicodeString& aWhy) {
    if (r.Problem.empty()) r.Problem = aWhy;
    r.Valid = false;
    return r;
  };
  if (aU < aH + 12 || aU > kzfMaxBlockSizeBytes || aH < 4) return fail(u"block geometry out of range");
  const uint32_t n = Rd(aBlock, aU - 2);
  r.StoredSlotCount = n;
  r.SlotCount = std::min(n, MaxSlots(aU, aH));
  if (n > MaxSlots(aU, aH)) return fail(u"slot count " + rtl::IntToStr(n) + u" overruns the data area");
  const uint32_t p = aU - 8 - 2 * n;  // the free-run pointer's own offset
  struct Extent {
    uint32_t Offset, Size;
  };
  std::vector<Extent> extents;
  extents.reserve(n + 1);
  uint32_t live = 0;
  for (uint32_t s = 1; s <= n; ++s) {
    const uint32_t e = Rd(aBlock, aU - 6 - 2 * s);
    switch (e & 3) {
      case 0: {
        if (e < aH || e + 2 > p) return fail(u"slot " + rtl::IntToStr(s) + u" points outside the data area");
        const uint32_t size = Rd(aBlock, e);
        if (e + 2 + size > p) {
          return fail(rtl::Format(u"Count: %d; SegmentOffset^: %d; SegmentLength^: %d; @FreeSpaceOffset: %d",
                                  {int64_t(s), int64_t(e), int64_t(size), int64_t(p)}));
        }
        extents.push_back({e, size});
        ++live;
        break;
      }
      case 2:
        if ((e >> 2) > n) return fail(u"free slot " + rtl::IntToStr(s) + u" chains outside the directory");
        break;
      case 3:
        return fail(u"slot " + rtl::IntToStr(s) + u" holds an invalid entry");
      default:
        break;
    }
  }
  const uint32_t fr = Rd(aBlock, p);
  if (fr != 0) {
    if (fr % 4 != 0 || fr < aH || fr + 2 > p) return fail(u"free-run pointer outside the data area");
    const uint32_t size = Rd(aBlock, fr);
    if (fr + 2 + size > p) {
      return fail(rtl::Format(u"FreeSpaceOffset^: %d; SegmentLength^: %d; @FreeSpaceOffset: %d",
                              {int64_t(fr), int64_t(size), int64_t(p)}));
    }
    // The run always reaches up to 2 bytes below the pointer word, which keeps room for the next
    // slot entry; a size word that says otherwise hides space or claims space that is not there.
    if (fr + 2 + size + 2 != p) {
      return fail(rtl::Format(u"free run at %d holds %d bytes, the space up to the pointer at %d is %d",
                              {int64_t(fr), int64_t(size), int64_t(p), int64_t(p - fr - 4)}));
    }
    extents.push_back({fr, size});
  }
  std::sort(extents.begin(), extents.end(), [](const Extent& a, const Extent& b) { return a.Offset < b.Offset; });
  uint32_t covered = 0;
  const uint32_t top = p & ~3u;
  for (size_t i = 0; i < extents.size(); ++i) {
    const uint32_t end = extents[i].Offset + zfHeapCap(extents[i].Size);
    if (extents[i].Offset % 4 != 0) return fail(u"a segment is not aligned");
    if (i + 1 < extents.size()) {
      if (end > extents[i + 1].Offset) return fail(u"segments overlap");
    } else if (end > p + 2) {
      return fail(u"the last segment reaches into the directory");
    }
    covered += std::min(end, top) - extents[i].Offset;
  }
  const uint32_t recoverable = Rd(aBlock, aU - 6);
  const uint32_t uncovered = top > aH ? top - aH - std::min(covered, top - aH) : 0;
  if (uncovered < recoverable) {
    return fail(u"ActualRecoverableSpace = " + rtl::IntToStr(uncovered) + u"\r\nRecoverableSpace^ = " +
                rtl::IntToStr(recoverable));
  }
  if (Rd(aBlock, aH - 4) != live) return fail(u"live segment count differs from the directory");
  // The free-slot chain: every link a free slot inside the directory, no cycle.
  uint32_t head = Rd(aBlock, aU - 4);
  for (uint32_t steps = 0; head != 0; ++steps) {
    if (head > n || steps > n) return fail(u"free-slot chain leaves the directory or loops");
    const uint32_t e = Rd(aBlock, aU - 6 - 2 * head);
    if ((e & 3) != 2) return fail(u"free-slot chain runs through a used slot");
    head = e >> 2;
  }
  r.Valid = true;
  return r;
}

const uint8_t* zfHeapSoundSegment(const uint8_t* aBlock, uint32_t aU, uint32_t aH, uint32_t aSlotCount,
                                  uint32_t aSlot, uint16_t& aSize) {
  aSize = 0;
  if (aSlot == 0 || aSlot > aSlotCount || aSlotCount > MaxSlots(aU, aH)) return nullptr;
  const uint32_t p = aU - 8 - 2 * aSlotCount;
  const uint32_t e = Rd(aBlock, aU - 6 - 2 * aSlot);
  if ((e & 3) != 0 || e < aH || e + 2 > p) return nullptr;
  const uint32_t size = Rd(aBlock, e);
  if (e + 2 + size > p) return nullptr;
  aSize = static_cast<uint16_t>(size);
  return aBlock + e + 2;
}

// ---------------------------------------------------------------------------------------------
// The engine

TzfNonfragmentingBlockHeapEngine::TzfNonfragmentingBlockHeapEngine(uint32_t aBlockSize, uint16_t aHeaderSize)
    : bbheBlockSize(aBlockSize), bbheHeaderSize(aHeaderSize), bbheMaxSegmentSize(0), bheHeaderSize(0) {
  const uint32_t h = zfHeapDataStart(aHeaderSize);
  ZF_ASSERT(aBlockSize <= kzfMaxBlockSizeBytes && aBlockSize >= h + 64, kUnit);
  bheHeaderSize = static_cast<uint16_t>(h);
  bbheMaxSegmentSize = static_cast<uint16_t>(aBlockSize - h - 12);
}

uint32_t TzfNonfragmentingBlockHeapEngine::SlotCount(const uint8_t* aBlock) const {
  const uint32_t n = Rd(aBlock, bbheBlockSize - 2);
  if (n > MaxSlots(bbheBlockSize, bheHeaderSize)) {
    throw EzfNonfragmentingBlockHeapEngineException(zfErrFileCorrupt,
                                                    u"heap block directory of %d slots overruns its data area",
                                                    {int64_t(n)});
  }
  return n;
}

uint32_t TzfNonfragmentingBlockHeapEngine::LiveOffset(const uint8_t* aBlock, uint32_t aSegment, bool aFreeing) const {
  const uint32_t n = SlotCount(aBlock);
  if (aSegment < 1 || aSegment > n) RaiseInvalid(aSegment);
  const uint32_t e = Rd(aBlock, EntryOffset(aSegment));
  if ((e & 3) == 1) {
    throw EzfNonfragmentingBlockHeapEngineException(
        zfErrSegmentDeleted, aFreeing ? u"segment already deleted (%d)" : u"segment deleted (%d)", {int64_t(aSegment)});
  }
  if ((e & 3) != 0) RaiseInvalid(aSegment);
  // A live entry outside the data area, or a segment running into the directory, is no segment.
  const uint32_t p = PointerOffset(n);
  if (e < bheHeaderSize || e + 2 > p || e + 2 + Rd(aBlock, e) > p) RaiseInvalid(aSegment);
  return e;
}

uint16_t TzfNonfragmentingBlockHeapEngine::RunSize(const uint8_t* aBlock) const {
  const uint32_t fr = Rd(aBlock, PointerOffset(SlotCount(aBlock)));
  return fr == 0 ? 0 : Rd(aBlock, fr);
}

void TzfNonfragmentingBlockHeapEngine::Report(PzfBlock aBlock) {
  DoChanged(aBlock, Rd(aBlock, bheHeaderSize - 4u), RunSize(aBlock), Rd(aBlock, bbheBlockSize - 6));
}

void TzfNonfragmentingBlockHeapEngine::DoChanged(PzfBlock aBlock, uint16_t aSegmentCount, uint16_t aFreeSpaceSize,
                                                 uint16_t aRecoverableSpace) {
  aRecoverableSpace = static_cast<uint16_t>(aRecoverableSpace - std::min<uint16_t>(8, aRecoverableSpace));
  if (bbheOnChanged) bbheOnChanged(aBlock, aSegmentCount, aFreeSpaceSize, aRecoverableSpace);
}

void TzfNonfragmentingBlockHeapEngine::InitBlock(PzfBlock aBlock) {
  const uint32_t u = bbheBlockSize;
  Wr(aBlock, u - 2, 0);
  Wr(aBlock, u - 4, 0);
  Wr(aBlock, u - 6, 0);
  Wr(aBlock, u - 8, bheHeaderSize);
  Wr(aBlock, bheHeaderSize, u - bheHeaderSize - 12);
  Wr(aBlock, bheHeaderSize - 4u, 0);
}

uint16_t TzfNonfragmentingBlockHeapEngine::GetFreespace(PzfBlock aBlock) {
  const uint32_t rec = Rd(aBlock, bbheBlockSize - 6);
  return static_cast<uint16_t>(RunSize(aBlock) + rec - std::min<uint32_t>(8, rec));
}

PzfByteArray TzfNonfragmentingBlockHeapEngine::AllocSegment(PzfBlock aBlock, uint16_t aSegmentSize, uint32_t& aSegment) {
  const uint32_t u = bbheBlockSize;
  aSegment = 0;
  const uint32_t s = aSegmentSize;
  const uint32_t c = zfHeapCap(s);
  uint32_t n = SlotCount(aBlock);
  uint32_t fr = Rd(aBlock, PointerOffset(n));
  if (fr == 0) {
    if (Rd(aBlock, u - 6) < c) return nullptr;
    CompactBlock(aBlock, 0, 0);
    n = SlotCount(aBlock);
    fr = Rd(aBlock, PointerOffset(n));
    ZF_ASSERT(fr != 0, kUnit);
  }
  uint32_t run = Rd(aBlock, fr);
  if (run < s) {
    if (run + Rd(aBlock, u - 6) < s) return nullptr;
    CompactBlock(aBlock, 0, 0);
    n = SlotCount(aBlock);
    fr = Rd(aBlock, PointerOffset(n));
    ZF_ASSERT(fr != 0, kUnit);
    run = Rd(aBlock, fr);
    ZF_ASSERT(run >= s, kUnit);
  }
  // A new slot entry needs the 2 bytes between the run and the pointer; a taken-whole run whose
  // rounded extent would still overrun the directory is no fit either.
  uint32_t newRun = 0, newRunSize = 0;
  if (run > c) {
    newRun = fr + c;
    newRunSize = run - c;
  }
  Wr(aBlock, fr, s);
  const uint32_t head = Rd(aBlock, u - 4);
  if (head != 0) {
    ZF_ASSERT(head <= n, kUnit);
    const uint32_t e = Rd(aBlock, EntryOffset(head));
    ZF_ASSERT((e & 2) != 0, kUnit);
    Wr(aBlock, u - 4, e >> 2);
    Wr(aBlock, EntryOffset(head), fr);
    if (newRun != 0) Wr(aBlock, newRun, newRunSize);
    Wr(aBlock, PointerOffset(n), newRun);
    aSegment = head;
  } else {
    aSegment = n + 1;
    Wr(aBlock, u - 2, aSegment);
    Wr(aBlock, EntryOffset(aSegment), fr);  // the old pointer word
    if (newRun != 0 && newRunSize > 2) {
      Wr(aBlock, newRun, newRunSize - 2);
      Wr(aBlock, PointerOffset(aSegment), newRun);
    } else {
      Wr(aBlock, PointerOffset(aSegment), 0);
    }
  }
  Wr(aBlock, bheHeaderSize - 4u, Rd(aBlock, bheHeaderSize - 4u) + 1u);
  Report(aBlock);
  return aBlock + fr + 2;
}

void TzfNonfragmentingBlockHeapEngine::FreeSegment(PzfBlock aBlock, uint32_t aSegment) {
  const uint32_t off = LiveOffset(aBlock, aSegment, true);
  const uint32_t p = PointerOffset(SlotCount(aBlock));
  uint32_t e = zfHeapCap(Rd(aBlock, off));
  if (off + e > p) e -= 4;
  const uint32_t u = bbheBlockSize;
  Wr(aBlock, u - 6, Rd(aBlock, u - 6) + e);
  Wr(aBlock, EntryOffset(aSegment), off | 1u);
  Wr(aBlock, bheHeaderSize - 4u, Rd(aBlock, bheHeaderSize - 4u) - 1u);
  Report(aBlock);
}

PzfByteArray TzfNonfragmentingBlockHeapEngine::GetSegment(PzfBlock aBlock, uint32_t aSegment, uint16_t& aSegmentSize) {
  const uint32_t off = LiveOffset(aBlock, aSegment, false);
  aSegmentSize = Rd(aBlock, off);
  return aBlock + off + 2;
}

PzfByteArray TzfNonfragmentingBlockHeapEngine::GetNextSegment(PzfBlock aBlock, uint32_t& aSegment,
                                                              uint16_t& aSegmentSize) {
  const uint32_t n = SlotCount(aBlock);
  const uint32_t p = PointerOffset(n);
  aSegmentSize = 0;
  while (true) {
    if (aSegment >= n) {
      aSegment = n + 1;
      return nullptr;
    }
    ++aSegment;
    const uint32_t e = Rd(aBlock, EntryOffset(aSegment));
    if ((e & 3) != 0) continue;
    if (e < bheHeaderSize || e + 2 > p || e + 2 + Rd(aBlock, e) > p) RaiseInvalid(aSegment);
    aSegmentSize = Rd(aBlock, e);
    return aBlock + e + 2;
  }
}

PzfByteArray TzfNonfragmentingBlockHeapEngine::GetPrevSegment(PzfBlock aBlock, uint32_t& aSegment,
                                                              uint16_t& aSegmentSize) {
  const uint32_t n = SlotCount(aBlock);
  const uint32_t p = PointerOffset(n);
  aSegmentSize = 0;
  if (aSegment > n) aSegment = n + 1;
  // From 0 there is nothing before; the walk stays in range instead of wrapping.
  while (aSegment > 0) {
    --aSegment;
    if (aSegment == 0) return nullptr;
    const uint32_t e = Rd(aBlock, EntryOffset(aSegment));
    if ((e & 3) != 0) continue;
    if (e < bheHeaderSize || e + 2 > p || e + 2 + Rd(aBlock, e) > p) RaiseInvalid(aSegment);
    aSegmentSize = Rd(aBlock, e);
    return aBlock + e + 2;
  }
  return nullptr;
}

PzfByteArray TzfNonfragmentingBlockHeapEngine::ReAllocSegment(PzfBlock aBlock, uint16_t aNewSegmentSize,
                                                              uint32_t aSegment) {
  const uint32_t u = bbheBlockSize;
  const uint32_t off = LiveOffset(aBlock, aSegment, false);
  const uint32_t n = SlotCount(aBlock);
  const uint32_t p = PointerOffset(n);
  const uint32_t old = Rd(aBlock, off);
  const uint32_t s2 = aNewSegmentSize;
  uint32_t oc = zfHeapCap(old);
  const uint32_t nc = zfHeapCap(s2);
  const bool touches = off + oc > p;
  if (touches) oc = p - off;
  uint32_t rec = Rd(aBlock, u - 6);
  auto done = [&](uint32_t aOffset) {
    Report(aBlock);
    return aBlock + aOffset + 2;
  };
  if (s2 < old) {
    oc &= ~3u;
    if (oc > nc) Wr(aBlock, u - 6, rec + (oc - nc));
    Wr(aBlock, off, s2);
    return done(off);
  }
  if (s2 == old) return done(off);
  if (nc == oc) {
    Wr(aBlock, off, s2);
    return done(off);
  }
  if (touches && off + 2 + s2 <= p) {
    Wr(aBlock, off, s2);
    return done(off);
  }
  const uint32_t fr = Rd(aBlock, p);
  const uint32_t r = fr == 0 ? 0 : Rd(aBlock, fr);
  if (fr == 0) {
    if (rec + oc < nc) return nullptr;
  } else if (rec + (r + 2) + oc < nc) {
    return nullptr;
  }
  if (fr != 0 && off + oc == fr && r + 2 + oc >= nc) {
    Wr(aBlock, off, s2);
    const uint32_t d = nc - oc;
    if (d < r) {
      Wr(aBlock, fr + d, r - d);
      Wr(aBlock, p, fr + d);
    } else {
      Wr(aBlock, p, 0);
    }
    return done(off);
  }
  if (fr != 0 && r >= nc) {
    Wr(aBlock, u - 6, rec + oc);
    const uint32_t runSize = r - nc;
    std::memmove(aBlock + fr, aBlock + off, oc);
    Wr(aBlock, fr + nc, runSize);
    Wr(aBlock, p, fr + nc);
    Wr(aBlock, fr, s2);
    Wr(aBlock, EntryOffset(aSegment), fr);
    return done(fr);
  }
  CompactBlock(aBlock, aSegment, aNewSegmentSize);
  rec = 0;
  return done(Rd(aBlock, EntryOffset(aSegment)));
}

void TzfNonfragmentingBlockHeapEngine::CompactBlock(PzfBlock aBlock, uint32_t aResizeSegment, uint16_t aNewSegmentSize) {
  const uint32_t u = bbheBlockSize;
  const uint32_t h = bheHeaderSize;
  uint32_t n = SlotCount(aBlock);
  while (n > 0 && (Rd(aBlock, EntryOffset(n)) & 3) != 0) --n;
  if (n == 0) {
    InitBlock(aBlock);
    return;
  }
  const uint32_t oldRec = Rd(aBlock, u - 6);
  const uint32_t oldP = PointerOffset(Rd(aBlock, u - 2));
  if (bheTempBlock.size() < u) bheTempBlock.resize(u);
  uint8_t* t = bheTempBlock.data();
  std::memset(t, 0, u);
  std::memcpy(t, aBlock, h);
  Wr(t, u - 2, n);
  Wr(t, u - 6, 0);
  const uint32_t p = PointerOffset(n);
  uint32_t w = h;
  for (uint32_t s = 1; s <= n; ++s) {
    const uint32_t e = Rd(aBlock, EntryOffset(s));
    if ((e & 3) != 0) {
      Wr(t, EntryOffset(s), 2);
      continue;
    }
    // Every live segment lies in the old data area, and the packed one must fit the new one.
    ZF_ASSERT(e >= h && e + 2 + Rd(aBlock, e) <= oldP, kUnit);
    const uint32_t size = Rd(aBlock, e);
    const uint32_t newSize = s == aResizeSegment ? aNewSegmentSize : size;
    const uint32_t cap = zfHeapCap(newSize);
    ZF_ASSERT(w + 2 + newSize <= p, kUnit);
    std::memcpy(t + w + 2, aBlock + e + 2, std::min(size, newSize));
    Wr(t, w, newSize);
    Wr(t, EntryOffset(s), w);
    w += cap;
  }
  uint32_t run = 0;
  if (w + 6 < p) {
    run = p - w - 2;
    if (run > 4) {
      run -= 2;
      Wr(t, w, run);
      Wr(t, p, w);
    } else {
      run = 0;
      Wr(t, p, 0);
    }
  } else {
    Wr(t, p, 0);
  }
  if (aNewSegmentSize == 0) ZF_ASSERT(run >= oldRec - std::min<uint32_t>(8, oldRec), kUnit);
  uint32_t head = 0;
  for (uint32_t s = n; s >= 1; --s) {
    if (Rd(t, EntryOffset(s)) == 2) {
      Wr(t, EntryOffset(s), head * 4 + 2);
      head = s;
    }
  }
  Wr(t, u - 4, head);
  std::memcpy(aBlock, t, u);
}

void TzfNonfragmentingBlockHeapEngine::VerifyBlock(PzfBlock aBlock, bool /*aBefore*/) {
  if (Rd(aBlock, bbheBlockSize - 2) == 0) return;
  const TzfHeapBlockCheck c = zfCheckHeapBlock(aBlock, bbheBlockSize, bheHeaderSize);
  if (!c.Valid) throw rtl::EAssertionFailed(u"Assertion failure (" + rtl::u16(kUnit) + u"): " + c.Problem);
}

}  // namespace zf
