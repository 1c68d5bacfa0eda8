// Bookmarks: the byte image of an index path's position, handed to clients.
//
// Bookmark (little-endian; size = key length + 24, key length 0 without a key engine):
//   offset 0   4  check value: ELF hash of bytes 4 .. 23 + key length
//          4   4  index ID (the index number; -1 for standalone paths)
//          8   1  position (0 unknown, 1 Bof, 2 crack before, 3 crack after, 4 on key, 5 Eof)
//          9   1  key valid (0 or 1)
//         10   1  deleted (0 or 1)
//         11   1  0
//         12   8  reference number (Int64)
//         20   4  key length (Integer)
//         24   .. the key in the key engine's format (cleared when not valid)
// A bookmark is checked before any of it is used: its size first, then the index ID, the key
// length, the check value, and the position and flag bytes; any failure answers 10021.
#pragma once
#include <cstdint>

#include "index/zfsdKeyEngineBase.h"

namespace zf {

enum class TzfIndexPathPosition : uint8_t { ippUnknown, ippBof, ippOnCrackBefore, ippOnCrackAfter, ippOnKey, ippEof };
using enum TzfIndexPathPosition;
const char16_t* zfIndexPathPositionName(TzfIndexPathPosition aPosition);

inline constexpr uint32_t zfBookmarkHeaderSize = 24;

class TzfBookmarkHandler : public TzfObject {
 public:
  // aKeyEngine is not owned; nullptr for the standalone handler.
  TzfBookmarkHandler(int32_t aIndexID, TzfBaseKeyEngine* aKeyEngine) : bmhIndexID(aIndexID), bmhKeyEngine(aKeyEngine) {}

  uint32_t KeyLength() const { return bmhKeyEngine ? bmhKeyEngine->bkeKeyLength : 0; }
  uint32_t BookmarkSize() const { return KeyLength() + zfBookmarkHeaderSize; }
  // 0, or 10021 when the bookmark is not one of this index or is damaged.
  uint32_t CheckBookmark(const uint8_t* aBookmark, uint32_t aSize) const;
  // Order: Bof, by key, by reference number, at one entry crack before < on key < crack after; Eof.
  uint32_t CompareBookmarks(const uint8_t* aBookmark1, const uint8_t* aBookmark2, uint32_t aSize,
                            int8_t& aCompResult) const;
  // Null at Bof/Eof; the reference number without a key engine; else the key as a value.
  uint32_t BookmarkAsVariant(const uint8_t* aBookmark, uint32_t aSize, rtl::Variant& aVariant) const;
  // Fills bytes 0 .. 23 + key length of aBookmark (which must hold BookmarkSize bytes).
  void WriteBookmark(uint8_t* aBookmark, TzfIndexPathPosition aPosition, bool aKeyValid, bool aDeleted, int64_t aRefNr,
                     const uint8_t* aKey) const;

  int32_t bmhIndexID;
  TzfBaseKeyEngine* bmhKeyEngine;
};

// The handler of standalone paths (index ID -1, no key engine).
TzfBookmarkHandler& zfStandaloneBookmarkHandler();

}  // namespace zf
