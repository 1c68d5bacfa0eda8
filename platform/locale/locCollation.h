// Locale-aware comparison, case and width mapping, sort keys and folding of UTF-16 text, on ICU
// collators and ICU's character properties.
//
// Failures are reported like the other locale services: 0 or false and the reason in the
// calling thread's last error (EINVAL for an unknown locale, an unknown or contradictory flag or
// a bad parameter).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/locale/locLocales.h"
#include "platform/rtl/rtlText.h"

namespace zf::locale {

// Comparison flags (also accepted by the sort-key mapping).
inline constexpr uint32_t NORM_IGNORECASE = 0x00000001;
inline constexpr uint32_t NORM_IGNORENONSPACE = 0x00000002;
inline constexpr uint32_t NORM_IGNORESYMBOLS = 0x00000004;
inline constexpr uint32_t SORT_STRINGSORT = 0x00001000;
inline constexpr uint32_t NORM_IGNOREKANATYPE = 0x00010000;
inline constexpr uint32_t NORM_IGNOREWIDTH = 0x00020000;
inline constexpr uint32_t kCompareFlags = NORM_IGNORECASE | NORM_IGNORENONSPACE | NORM_IGNORESYMBOLS |
                                          SORT_STRINGSORT | NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH;

// Results of CompareString.
inline constexpr int CSTR_LESS_THAN = 1;
inline constexpr int CSTR_EQUAL = 2;
inline constexpr int CSTR_GREATER_THAN = 3;

// Revision of the way this layer turns the flags into ICU comparisons; part of every sort-rules
// version (GetNLSVersion), so a change here marks stored locale orders as built under other rules.
inline constexpr uint16_t kCompareRulesRevision = 1;

// Compares two texts under a locale's rules: CSTR_LESS_THAN, CSTR_EQUAL or CSTR_GREATER_THAN,
// 0 on failure. The locale is resolved with ConvertDefaultLocale (0 = the system default).
//   NORM_IGNORECASE      letters that differ only in case are equal (simple case folding)
//   NORM_IGNORENONSPACE  accents and other non-spacing marks are ignored (the locale decides what
//                        is an accent: in Swedish "ä" stays a letter of its own)
//   NORM_IGNORESYMBOLS   punctuation, symbols and spaces are ignored
//   NORM_IGNOREKANATYPE  hiragana and katakana are equal
//   NORM_IGNOREWIDTH     half-width and full-width forms are equal
//   SORT_STRINGSORT      hyphen and apostrophe sort as symbols; without it ("word sort") they are
//                        ignored except to break ties, so "coop" and "co-op" sort together
// The order is a total pre-order. Without NORM_IGNORENONSPACE two texts are equal only when they
// are canonically equivalent after the rewriting the other flags ask for (case folded, symbols
// removed, kana type and width unified); with it only base letters (and case, unless ignored)
// count, so width and kana type are then ignored as well.
int CompareStringW(LCID aLocale, uint32_t aFlags, rtl::UnicodeStringView a, rtl::UnicodeStringView b);
// The 8-bit form: both texts are read in the locale's ANSI code page (the system ANSI code page
// for a Unicode-only locale) and compared as above.
int CompareStringA(LCID aLocale, uint32_t aFlags, std::string_view a, std::string_view b);
// Ordinal comparison of UTF-16 code units, with NORM_IGNORECASE folding by simple case mapping.
int CompareStringOrdinal(rtl::UnicodeStringView a, rtl::UnicodeStringView b, bool aIgnoreCase);

// Mapping flags.
inline constexpr uint32_t LCMAP_LOWERCASE = 0x00000100;
inline constexpr uint32_t LCMAP_UPPERCASE = 0x00000200;
inline constexpr uint32_t LCMAP_TITLECASE = 0x00000300;
inline constexpr uint32_t LCMAP_SORTKEY = 0x00000400;
inline constexpr uint32_t LCMAP_BYTEREV = 0x00000800;
inline constexpr uint32_t LCMAP_HIRAGANA = 0x00100000;
inline constexpr uint32_t LCMAP_KATAKANA = 0x00200000;
inline constexpr uint32_t LCMAP_HALFWIDTH = 0x00400000;
inline constexpr uint32_t LCMAP_FULLWIDTH = 0x00800000;
inline constexpr uint32_t LCMAP_LINGUISTIC_CASING = 0x01000000;
inline constexpr uint32_t LCMAP_SIMPLIFIED_CHINESE = 0x02000000;
inline constexpr uint32_t LCMAP_TRADITIONAL_CHINESE = 0x04000000;

// Maps a text under a locale: case (by simple per-character mapping, the locale's own rules with
// LCMAP_LINGUISTIC_CASING), kana type, width, Chinese script, byte order of each unit; with
// NORM_IGNORENONSPACE or NORM_IGNORESYMBOLS the marks or symbols are removed. LCMAP_SORTKEY is
// refused here (use LCMapSortKey). Contradictory flags (lower and upper case, hiragana and
// katakana, half and full width, both Chinese scripts) fail with EINVAL. An empty text maps to an
// empty text.
bool LCMapStringW(LCID aLocale, uint32_t aFlags, rtl::UnicodeStringView aSource, rtl::UnicodeString& aDest);
// The 8-bit form: the text is read and written in the locale's ANSI code page.
bool LCMapStringA(LCID aLocale, uint32_t aFlags, std::string_view aSource, std::string& aDest);
// The sort key of a text under the comparison flags: comparing two keys byte-wise (unsigned,
// shorter first) gives the same order as CompareStringW with those flags.
bool LCMapSortKey(LCID aLocale, uint32_t aFlags, rtl::UnicodeStringView aSource, std::string& aKey);

// Folding flags.
inline constexpr uint32_t MAP_FOLDCZONE = 0x00000010;
inline constexpr uint32_t MAP_PRECOMPOSED = 0x00000020;
inline constexpr uint32_t MAP_COMPOSITE = 0x00000040;
inline constexpr uint32_t MAP_FOLDDIGITS = 0x00000080;
inline constexpr uint32_t MAP_EXPAND_LIGATURES = 0x00002000;

// Folds a text: compatibility-zone characters to their ordinary forms (MAP_FOLDCZONE), every
// decimal digit to 0-9 (MAP_FOLDDIGITS), ligatures spelled out (MAP_EXPAND_LIGATURES), then
// composed (MAP_PRECOMPOSED, canonical composition) or decomposed (MAP_COMPOSITE, canonical
// decomposition). No flag, an unknown flag, both of the last two, or a ligature expansion with
// either of them fails with EINVAL.
bool FoldStringW(uint32_t aFlags, rtl::UnicodeStringView aSource, rtl::UnicodeString& aDest);

}  // namespace zf::locale
