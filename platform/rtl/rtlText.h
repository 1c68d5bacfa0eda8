// UTF-16 text helpers: the engine's strings are std::u16string and many rules count UTF-16 units.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zf::rtl {

using UnicodeString = std::u16string;
using UnicodeStringView = std::u16string_view;

// UTF-8 <-> UTF-16. Ill-formed input is replaced by U+FFFD, never rejected.
UnicodeString Utf8ToUtf16(std::string_view aText);
std::string Utf16ToUtf8(UnicodeStringView aText);

// Shorthand for literals and ASCII/UTF-8 text in code: u16("abc").
inline UnicodeString u16(std::string_view aText) { return Utf8ToUtf16(aText); }
inline std::string u8(UnicodeStringView aText) { return Utf16ToUtf8(aText); }

// ASCII-only case mapping, as the platform's UpperCase/LowerCase/SameText/CompareText.
char16_t AsciiUpper(char16_t c);
char16_t AsciiLower(char16_t c);
UnicodeString UpperCase(UnicodeStringView s);
UnicodeString LowerCase(UnicodeStringView s);
bool SameText(UnicodeStringView a, UnicodeStringView b);
int CompareText(UnicodeStringView a, UnicodeStringView b);  // <0, 0, >0, ASCII case ignored
int CompareStr(UnicodeStringView a, UnicodeStringView b);   // <0, 0, >0 by code units

// Trimming of blanks and control characters (every unit <= U+0020), as Trim/TrimLeft/TrimRight.
UnicodeString Trim(UnicodeStringView s);
UnicodeString TrimLeft(UnicodeStringView s);
UnicodeString TrimRight(UnicodeStringView s);

// Decimal texts of integers and the platform's strict parser (optional sign, decimal digits, or
// "$"/"0x" followed by hex digits; leading blanks allowed). TryStrToInt64 fails on overflow.
UnicodeString IntToStr(int64_t aValue);
UnicodeString UIntToStr(uint64_t aValue);
UnicodeString IntToHex(uint64_t aValue, int aDigits);
bool TryStrToInt64(UnicodeStringView s, int64_t& aValue);
bool TryStrToInt(UnicodeStringView s, int32_t& aValue);
int64_t StrToInt64Def(UnicodeStringView s, int64_t aDefault);

// Position of aSub in aText, 0-based, or npos.
size_t Pos(UnicodeStringView aSub, UnicodeStringView aText, size_t aFrom = 0);
UnicodeString StringReplaceAll(UnicodeStringView aText, UnicodeStringView aOld, UnicodeStringView aNew,
                               bool aIgnoreCase = false);

// Extension of a file name including its dot ("" when none), as ExtractFileExt; ChangeFileExt.
UnicodeString ExtractFileExt(UnicodeStringView aName);
UnicodeString ChangeFileExt(UnicodeStringView aName, UnicodeStringView aExt);
UnicodeString ExtractFilePath(UnicodeStringView aName);  // with trailing separator
UnicodeString ExtractFileName(UnicodeStringView aName);

// Split at a separator (empty parts kept).
std::vector<UnicodeString> SplitString(UnicodeStringView aText, char16_t aSep);

}  // namespace zf::rtl
