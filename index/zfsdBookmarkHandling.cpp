#include "index/zfsdBookmarkHandling.h"

#include <cstring>

#include "foundation/zfllUtils.h"
#include "index/zfseIndexBase.h"

namespace zf {

const char16_t* zfIndexPathPositionName(TzfIndexPathPosition aPosition) {
  switch (aPosition) {
    case ippUnknown: return u"ippUnknown";
    case ippBof: return u"ippBof";
    case ippOnCrackBefore: return u"ippOnCrackBefore";
    case ippOnCrackAfter: return u"ippOnCrackAfter";
    case ippOnKey: return u"ippOnKey";
    case ippEof: return u"ippEof";
  }
  return u"";
}

namespace {
constexpr uint32_t kOffCheck = 0, kOffIndexID = 4, kOffPosition = 8, kOffKeyValid = 9, kOffDeleted = 10, kOffZero = 11,
                   kOffRefNr = 12, kOffKeyLength = 20;

TzfIndexPathPosition PositionOf(const uint8_t* aBookmark) {
  return static_cast<TzfIndexPathPosition>(aBookmark[kOffPosition]);
}
}  // namespace

void TzfBookmarkHandler::WriteBookmark(uint8_t* aBookmark, TzfIndexPathPosition aPosition, bool aKeyValid,
                                       bool aDeleted, int64_t aRefNr, const uint8_t* aKey) const {
  std::memset(aBookmark, 0, zfBookmarkHeaderSize);
  zfPutLE32(aBookmark + kOffIndexID, static_cast<uint32_t>(bmhKeyEngine ? bmhIndexID : -1));
  aBookmark[kOffPosition] = static_cast<uint8_t>(aPosition);
  aBookmark[kOffKeyValid] = aKeyValid ? 1 : 0;
  aBookmark[kOffDeleted] = aDeleted ? 1 : 0;
  zfPutLE64(aBookmark + kOffRefNr, static_cast<uint64_t>(aRefNr));
  const uint32_t keyLength = KeyLength();
  zfPutLE32(aBookmark + kOffKeyLength, keyLength);
  if (bmhKeyEngine) {
    if (aKeyValid && aKey)
      bmhKeyEngine->CopyKey(aKey, aBookmark + zfBookmarkHeaderSize);
    else
      bmhKeyEngine->ClearKey(aBookmark + zfBookmarkHeaderSize);
  }
  zfPutLE32(aBookmark + kOffCheck, zfHashELF(aBookmark + kOffIndexID, zfBookmarkHeaderSize - 4 + keyLength));
}

uint32_t TzfBookmarkHandler::CheckBookmark(const uint8_t* aBookmark, uint32_t aSize) const {
  // The size is checked before any byte is read.
  const uint32_t keyLength = KeyLength();
  if (!aBookmark || aSize < keyLength + zfBookmarkHeaderSize) return zfErrBookmarkMismatch;
  const int32_t indexID = static_cast<int32_t>(zfGetLE32(aBookmark + kOffIndexID));
  if (indexID != (bmhKeyEngine ? bmhIndexID : -1)) return zfErrBookmarkMismatch;
  if (zfGetLE32(aBookmark + kOffKeyLength) != keyLength) return zfErrBookmarkMismatch;
  if (zfGetLE32(aBookmark + kOffCheck) != zfHashELF(aBookmark + kOffIndexID, zfBookmarkHeaderSize - 4 + keyLength))
    return zfErrBookmarkMismatch;
  // A position or flag outside its values is refused too, so a forged bookmark cannot carry them.
  if (aBookmark[kOffPosition] > static_cast<uint8_t>(ippEof) || aBookmark[kOffKeyValid] > 1 ||
      aBookmark[kOffDeleted] > 1 || aBookmark[kOffZero] != 0)
    return zfErrBookmarkMismatch;
  return zfErrNone;
}

uint32_t TzfBookmarkHandler::CompareBookmarks(const uint8_t* aBookmark1, const uint8_t* aBookmark2, uint32_t aSize,
                                              int8_t& aCompResult) const {
  if (uint32_t e = CheckBookmark(aBookmark1, aSize)) return e;
  if (uint32_t e = CheckBookmark(aBookmark2, aSize)) return e;
  const TzfIndexPathPosition p1 = PositionOf(aBookmark1), p2 = PositionOf(aBookmark2);
  if (p1 == ippUnknown) return zfErrBookmarkMismatch;
  if (p1 == ippBof) {
    aCompResult = p2 == ippBof ? 0 : -1;
    return zfErrNone;
  }
  if (p1 == ippEof) {
    aCompResult = p2 == ippEof ? 0 : 1;
    return zfErrNone;
  }
  if (p2 == ippUnknown) return zfErrBookmarkMismatch;
  if (p2 == ippBof) {
    aCompResult = 1;
    return zfErrNone;
  }
  if (p2 == ippEof) {
    aCompResult = -1;
    return zfErrNone;
  }
  int8_t c = 0;
  if (bmhKeyEngine) {
    if (!aBookmark1[kOffKeyValid] || !aBookmark2[kOffKeyValid]) return zfErrBookmarkMismatch;
    c = bmhKeyEngine->CompareKey(aBookmark1 + zfBookmarkHeaderSize, aBookmark2 + zfBookmarkHeaderSize, 0, 0);
  }
  if (c == 0) {
    const int64_t r1 = static_cast<int64_t>(zfGetLE64(aBookmark1 + kOffRefNr));
    const int64_t r2 = static_cast<int64_t>(zfGetLE64(aBookmark2 + kOffRefNr));
    c = r1 < r2 ? -1 : (r1 > r2 ? 1 : 0);
  }
  if (c == 0) {
    // At one entry: crack before < on key < crack after.
    auto rank = [](TzfIndexPathPosition p) { return p == ippOnCrackBefore ? 0 : (p == ippOnKey ? 1 : 2); };
    const int r1 = rank(p1), r2 = rank(p2);
    c = r1 < r2 ? -1 : (r1 > r2 ? 1 : 0);
  }
  aCompResult = c;
  return zfErrNone;
}

uint32_t TzfBookmarkHandler::BookmarkAsVariant(const uint8_t* aBookmark, uint32_t aSize, rtl::Variant& aVariant) const {
  if (uint32_t e = CheckBookmark(aBookmark, aSize)) return e;
  const TzfIndexPathPosition p = PositionOf(aBookmark);
  if (p == ippUnknown) return zfErrBookmarkMismatch;
  if (p == ippBof || p == ippEof) {
    aVariant = rtl::Variant::Null();
    return zfErrNone;
  }
  if (!bmhKeyEngine) {
    aVariant = rtl::Variant(static_cast<int64_t>(zfGetLE64(aBookmark + kOffRefNr)));
    return zfErrNone;
  }
  if (!aBookmark[kOffKeyValid]) return zfErrBookmarkMismatch;
  aVariant = bmhKeyEngine->KeyAsVariant(aBookmark + zfBookmarkHeaderSize, -1);
  return zfErrNone;
}

TzfBookmarkHandler& zfStandaloneBookmarkHandler() {
  // Immutable and without resources, so one handler serves the whole process.
  static TzfBookmarkHandler handler(-1, nullptr);
  return handler;
}

}  // namespace zf
