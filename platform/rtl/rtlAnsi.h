// Conversions between 8-bit text in a code page and UTF-16.
//
// The run-time layer converts the code pages every process needs on its own (windows-1252, ISO
// 8859-1, US-ASCII and UTF-8); every other code page goes through a converter that a higher layer
// installs (the locale layer, on ICU). Unmappable characters take a replacement ("?" towards
// 8-bit text, U+FFFD towards UTF-16); only an unknown code page is a failure.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/rtl/rtlAnsiString.h"
#include "platform/rtl/rtlText.h"

namespace zf::rtl {

inline constexpr uint16_t CP_WINDOWS1252 = 1252;
inline constexpr uint16_t CP_LATIN1 = 28591;
inline constexpr uint16_t CP_USASCII = 20127;

// 0 and 3 become the system ANSI code page; any other value stays.
uint16_t ResolveCodePage(uint16_t aCodePage);

// Code-page conversion supplied by a higher layer for the code pages the run time lacks.
class TCodePageConverter {
 public:
  virtual ~TCodePageConverter() = default;
  // False when the code page is not known; unmappable bytes or characters are replaced.
  virtual bool Decode(uint16_t aCodePage, std::string_view aBytes, UnicodeString& aText) = 0;
  virtual bool Encode(uint16_t aCodePage, UnicodeStringView aText, std::string& aBytes) = 0;
  virtual bool IsKnown(uint16_t aCodePage) = 0;
};
// Installs (or with nullptr removes) the converter; the caller keeps ownership and must remove it
// before destroying it.
void SetCodePageConverter(TCodePageConverter* aConverter);

bool IsKnownCodePage(uint16_t aCodePage);
// Conversions; false only for an unknown code page.
bool TryDecodeAnsi(uint16_t aCodePage, std::string_view aBytes, UnicodeString& aText);
bool TryEncodeAnsi(uint16_t aCodePage, UnicodeStringView aText, std::string& aBytes);
// The same, raising EConvertError "Code page %d is not supported" for an unknown code page.
UnicodeString AnsiToUnicode(const AnsiString& aText);
AnsiString UnicodeToAnsi(UnicodeStringView aText, uint16_t aCodePage = CP_ACP);

}  // namespace zf::rtl
