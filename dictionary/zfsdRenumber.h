// The one renumbering rule of the dictionary: an item that stores the number of a field, file or
// index follows the fields, files or indexes list when an entry is inserted, moved or removed.
#pragma once
#include <cstdint>

namespace zf {

// The number aNumber after the change (aOld -1: an insertion at aNew; aNew -1: a removal of
// aOld; both set: a move from aOld to aNew):
//  - the entry itself moved: its new position (-1 when it was removed);
//  - an entry before it left (removed, or moved to it or behind): one less;
//  - an entry arrived at or before it (inserted, or moved from behind): one more;
//  - anything else leaves it alone.
constexpr int32_t zfRenumberAfterChange(int32_t aNumber, int32_t aOld, int32_t aNew) {
  if (aOld == aNumber) return aNew;
  if (aOld >= 0 && aOld < aNumber && (aNew < 0 || aNew >= aNumber)) return aNumber - 1;
  if ((aOld < 0 || aOld > aNumber) && aNew >= 0 && aNew <= aNumber) return aNumber + 1;
  return aNumber;
}

}  // namespace zf
