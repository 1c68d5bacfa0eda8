// The filter-expression parser's entry point: turns the text of a dataset's Filter and its
// options into the expression blob a descendant hands to its filter engine. The parser itself is
// not part of the framework yet: every non-empty text is refused with EDatabaseError
// "Filter expressions are not supported: %s", so a text filter fails clearly instead of
// filtering nothing.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/db/dbTypes.h"

namespace zf::db {

inline constexpr const char16_t* kSFilterNotSupported = u"Filter expressions are not supported: %s";

// The expression blob of aText; an empty text gives an empty blob (no filter).
std::vector<uint8_t> ParseFilterExpression(const UnicodeString& aText, TFilterOptions aOptions);

}  // namespace zf::db
