// Whether a UTF-16 code unit belongs to any of a set of Unicode categories (general categories,
// bidirectional classes and a few properties), for splitting text into tokens.
//
// The table is built once, on first use, from ICU's character data: one category set per code
// unit. A code unit of a surrogate pair is looked up as itself (ccOtherSurrogate).
#pragma once
#include "foundation/zfllWideString.h"

namespace zf {

// Builds the table when it is not built yet; concurrent first calls build it once.
void zfLoadCharacterCategories();
// True when the unit has one of the categories of aCategories (False for an empty set).
bool zfCharInCategories(char16_t aChar, TzfCharacterCategories aCategories);
// Every category of a code unit.
TzfCharacterCategories zfCharCategories(char16_t aChar);

}  // namespace zf
