// The static table of every locale identifier the original locale services knew, with the ICU
// locale each stands for and its ANSI code page. Table files store these identifiers, so a row
// must exist for each one a table can carry.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zf::locale::detail {

struct TLocaleRow {
  uint32_t lcid;       // sorted ascending
  const char* icu;     // ICU locale id, with "@collation=..." for alternate sorts; "root" = ICU's root
  uint16_t ansiCodePage;  // 0 = the locale has no ANSI code page (Unicode-only)
};

const TLocaleRow* LocaleRows(size_t& aCount);

}  // namespace zf::locale::detail
