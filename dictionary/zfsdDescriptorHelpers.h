// Small helpers shared by the descriptor units.
#pragma once
#include "dictionary/zfsdDictionaryItem.h"
#include "foundation/zfllUtils.h"

namespace zf {

// aItem as the class being compared against (IsEqual has already checked the classes).
template <class T>
const T* zfItemAs(const TzfDictionaryItem* aItem) {
  return dynamic_cast<const T*>(aItem);
}

// Two optional owned descriptors: both absent, or both present and equal.
template <class P>
bool zfSameNested(const P& a, const P& b) {
  if (!a || !b) return !a && !b;
  return a->IsEqual(b.get());
}

// Checks a descriptor's name before the item is made (and given an ID): an identifier, not
// empty, a leading "$" allowed; else TException with aCode. Answers aParent for the base
// constructor.
template <class TException>
TzfPersistent* zfCheckedNameParent(TzfPersistent* aParent, const UnicodeString& aName, uint32_t aCode) {
  if (zfCheckIdentifier(aName, aCode, false, true) != 0) throw TException(aCode);
  return aParent;
}

}  // namespace zf
