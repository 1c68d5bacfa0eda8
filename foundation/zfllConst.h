// The engine's version numbers, build texts and the characters allowed in identifiers.
#pragma once
#include <array>
#include <cstdint>

namespace zf {

// The current engine version (shown as 3.0900: version div 10000, then four fraction digits).
inline constexpr int32_t zfEngineVersion = 30900;

// Versions of older engine releases. Stream writers compare the version in effect (client,
// session or thread) with these and write the older form when it is lower.
inline constexpr int32_t zfVersion20000 = 20000;
inline constexpr int32_t zfVersion20400 = 20400;
inline constexpr int32_t zfVersion20700 = 20700;
inline constexpr int32_t zfVersion30000 = 30000;
inline constexpr int32_t zfVersion30001 = 30001;
inline constexpr int32_t zfVersion30900 = 30900;

// Data version recorded by the server's root tables.
inline constexpr int32_t zfServerTablesDataVersion = 30000;

// Appended to version texts after the formatted version, and the compiler-version text.
inline constexpr const char16_t* zfBuildSuffix = u"Release (P14)";
inline constexpr const char16_t* zfBuildTag = u"140";

// Texts by how many entries a list holds: index 1 none, 3 one, 2 several (0 is not used).
inline constexpr std::array<const char16_t*, 4> zfListSizeTexts = {u"None", u"None", u"Multiple", u"One"};

// A 64-bit zero, passed by address where a format needs one.
inline constexpr int64_t zfZero64 = 0;

// The 81 characters allowed in identifiers: blank, '!', '#'..'&', '(', ')', '+', '-', '.', the
// digits, '@'..'[', ']'..'_', 'a'..'{', '}' and '~'. Everything else (quotes, '*', ',', '/',
// ':', ';', '<', '=', '>', '?', '\', '`', '|' and every character above '~') is not.
constexpr bool zfIsIdentifierChar(char16_t c) {
  if (c < 0x20 || c > 0x7E) return false;
  switch (c) {
    case u'"': case u'\'': case u'*': case u',': case u'/': case u':': case u';':
    case u'<': case u'=': case u'>': case u'?': case u'\\': case u'`': case u'|':
      return false;
    default:
      return true;
  }
}

// The calling thread's minimum version: its thread-local value when not 0, else the engine
// version. Nothing sets the thread-local value, so the result is the engine version.
int32_t zfGetThreadMinVersion();

}  // namespace zf
