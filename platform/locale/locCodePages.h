// Code pages: the list of valid ones and conversion between their 8-bit text and UTF-16, on ICU
// converters.
//
// Code page 0 (and 3, the thread's ANSI code page: threads share the process's) means the system
// ANSI code page (zf::rtl::SystemAnsiCodePage, windows-1252 unless set). 65001 is UTF-8.
// Conversion never fails on the text itself: bytes a code page does not define become U+FFFD (or
// the control character the code page's table gives them), and characters a code page cannot hold
// become '?' (UTF-8 writes a lone surrogate as U+FFFD). No "best fit" replacement is made: a
// character the code page lacks is never written as a look-alike.
//
// Failures are reported like the other locale services: 0 or false and the reason in the
// calling thread's last error (EINVAL for an unknown code page or flag, ENOBUFS when the given
// buffer is too small, EILSEQ for invalid input under MB_ERR_INVALID_CHARS).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/rtlAnsiString.h"
#include "platform/rtl/rtlText.h"

namespace zf::locale {

// True when aCodePage (after resolving 0 and 3) is one of SupportedCodePages().
bool IsValidCodePage(uint32_t aCodePage);
// Every code page this layer converts, ascending: the Windows ANSI and OEM pages, the DBCS pages
// (874, 932, 936, 949, 950, 1361), EBCDIC, Macintosh, ISO 8859, KOI8, EUC, ISO 2022, GB18030,
// UTF-7 and UTF-8, each present only when ICU's data holds a converter for it.
std::vector<uint16_t> SupportedCodePages();
// ICU's name of the converter used for a code page; "" when not valid.
std::string CodePageIcuName(uint32_t aCodePage);

// Facts of a code page, as the original services' record: the longest character in bytes, the
// default (replacement) character and the lead-byte ranges of a DBCS page (pairs of first and
// last byte, ending with 0, 0).
struct TCPInfo {
  uint32_t MaxCharSize = 1;
  uint8_t DefaultChar[2] = {'?', 0};
  uint8_t LeadByte[12] = {};
};
bool GetCPInfo(uint32_t aCodePage, TCPInfo& aInfo);
bool IsDBCSLeadByteEx(uint32_t aCodePage, uint8_t aByte);

// Flags of the conversions. MB_ERR_INVALID_CHARS makes undefined or ill-formed input fail with
// EILSEQ instead of being replaced; the other flags of the original services are refused (EINVAL).
inline constexpr uint32_t MB_ERR_INVALID_CHARS = 0x08;

// Buffer form, as the original services: with aDestLen 0 (aDest may be null) returns the length
// the result needs; otherwise converts into aDest and returns the length written, or 0 with
// ENOBUFS when aDestLen is too small. An empty source gives 0 with EINVAL, as there. A source
// that converts to nothing (a stateful code page's escape sequence alone) gives 0 and leaves the
// last error untouched: callers tell it from a failure by clearing the last error first. Lengths
// are UTF-16 units and bytes.
int32_t MultiByteToWideChar(uint32_t aCodePage, uint32_t aFlags, std::string_view aSource, char16_t* aDest,
                            int32_t aDestLen);
int32_t WideCharToMultiByte(uint32_t aCodePage, uint32_t aFlags, rtl::UnicodeStringView aSource, char* aDest,
                            int32_t aDestLen);

// Whole-string form: an empty source gives an empty result and true.
bool BytesToUnicode(uint32_t aCodePage, std::string_view aSource, rtl::UnicodeString& aDest, uint32_t aFlags = 0);
bool UnicodeToBytes(uint32_t aCodePage, rtl::UnicodeStringView aSource, std::string& aDest);

// Makes the run time's 8-bit text conversions (zf::rtl::AnsiToUnicode and the rest) use this
// layer for the code pages the run time does not convert itself. Counted: the converter stays
// installed until every install is matched by a removal.
void InstallCodePageConverter();
void RemoveCodePageConverter();

// Sets the system ANSI code page after checking it; false (EINVAL) for an invalid code page.
bool SetSystemAnsiCodePage(uint32_t aCodePage);

}  // namespace zf::locale
