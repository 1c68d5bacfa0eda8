// Numeric locale identifiers (LCIDs, as table files store them), their ICU locales, their ANSI
// code pages, locale facts and the version of each locale's sorting rules.
//
// These functions stand in for the operating system's locale services and report the way those
// did: a failing call returns 0 or false and leaves the reason in the calling thread's last error
// (zf::os::GetLastError: EINVAL for an unknown locale, flag or parameter, ENOBUFS when a given
// buffer is too small), so that the engine raises its own OS-error exception with its own action
// text. Nothing here raises except for lack of memory.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/rtlText.h"

namespace zf::locale {

using LCID = uint32_t;

// Special identifiers.
inline constexpr LCID LOCALE_NEUTRAL = 0x0000;
inline constexpr LCID LOCALE_INVARIANT = 0x007F;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
inline constexpr LCID LOCALE_CUSTOM_DEFAULT = 0x0C00;
inline constexpr LCID LOCALE_CUSTOM_UNSPECIFIED = 0x1000;
inline constexpr LCID LOCALE_CUSTOM_UI_DEFAULT = 0x1400;

// Parts of an identifier: bits 0-9 primary language, 10-15 sub-language, 16-19 sort id.
constexpr uint16_t LangIdOf(LCID aLocale) { return static_cast<uint16_t>(aLocale & 0xFFFF); }
constexpr uint16_t PrimaryLangIdOf(LCID aLocale) { return static_cast<uint16_t>(aLocale & 0x3FF); }
constexpr uint16_t SubLangIdOf(LCID aLocale) { return static_cast<uint16_t>((aLocale >> 10) & 0x3F); }
constexpr uint32_t SortIdOf(LCID aLocale) { return (aLocale >> 16) & 0xF; }

// The process's default locale, which the default identifiers above and 0 resolve to: en-US
// (0x0409) unless set. Every thread uses it as its thread locale. SetSystemDefaultLocale refuses
// (false, EINVAL) an identifier that is not a known specific locale.
LCID GetSystemDefaultLocale();
bool SetSystemDefaultLocale(LCID aLocale);
inline LCID GetThreadLocale() { return GetSystemDefaultLocale(); }

// 0, the user, system and custom defaults become the system default locale; an identifier whose
// sub-language is neutral becomes the default sub-language of its language when that exists.
// Anything else is returned unchanged (unknown identifiers included).
LCID ConvertDefaultLocale(LCID aLocale);

// True for every identifier of the locale table, alternate sorts included (neutral identifiers
// such as 0x0009 count: they resolve to a specific locale). The default identifiers are not
// locales of their own and give False.
bool IsValidLocale(LCID aLocale);

// The identifiers of the table, ascending; without alternate sorts when aWithAlternateSorts is
// false. Specific locales only (no neutral ones), as the system's list of supported locales.
std::vector<LCID> SupportedLocales(bool aWithAlternateSorts);

// ICU locale id of an identifier (after ConvertDefaultLocale), with the collation keyword of an
// alternate sort ("de_DE@collation=phonebook"); "" (ICU's root) for the invariant locale. False
// (EINVAL) for an unknown identifier.
bool LocaleToIcuName(LCID aLocale, std::string& aIcuName);

// The identifier of an ICU locale id or BCP-47 tag ("de_DE", "de-DE", "sr-Latn-RS",
// "de-DE-u-co-phonebk"): the row with exactly that locale and collation, else the row of the
// language and script with the default sort, else 0.
LCID IcuNameToLocale(std::string_view aName);

// The locale's ANSI code page as the table gives it: 0 for locales whose text has no ANSI code
// page (Unicode-only locales). False (EINVAL) for an unknown identifier.
bool LocaleAnsiCodePage(LCID aLocale, uint16_t& aCodePage);

// Locale information types answered by GetLocaleInfo (the values the original services used).
inline constexpr uint32_t LOCALE_NOUSEROVERRIDE = 0x80000000u;  // accepted; there are no user overrides
inline constexpr uint32_t LOCALE_RETURN_NUMBER = 0x20000000u;   // not supported
inline constexpr uint32_t LOCALE_ILANGUAGE = 0x0001;
inline constexpr uint32_t LOCALE_SENGLANGUAGE = 0x1001;
inline constexpr uint32_t LOCALE_SENGCOUNTRY = 0x1002;
inline constexpr uint32_t LOCALE_SNATIVELANGNAME = 0x0004;
inline constexpr uint32_t LOCALE_SLIST = 0x000C;
inline constexpr uint32_t LOCALE_SDECIMAL = 0x000E;
inline constexpr uint32_t LOCALE_STHOUSAND = 0x000F;
inline constexpr uint32_t LOCALE_SCURRENCY = 0x0014;
inline constexpr uint32_t LOCALE_ICURRDIGITS = 0x0019;
inline constexpr uint32_t LOCALE_SDATE = 0x001D;
inline constexpr uint32_t LOCALE_STIME = 0x001E;
inline constexpr uint32_t LOCALE_SSHORTDATE = 0x001F;
inline constexpr uint32_t LOCALE_SLONGDATE = 0x0020;
inline constexpr uint32_t LOCALE_S1159 = 0x0028;
inline constexpr uint32_t LOCALE_S2359 = 0x0029;
inline constexpr uint32_t LOCALE_SDAYNAME1 = 0x002A;        // .. +6: Monday .. Sunday
inline constexpr uint32_t LOCALE_SABBREVDAYNAME1 = 0x0031;  // .. +6
inline constexpr uint32_t LOCALE_SMONTHNAME1 = 0x0038;      // .. +11
inline constexpr uint32_t LOCALE_SABBREVMONTHNAME1 = 0x0044;  // .. +11
inline constexpr uint32_t LOCALE_SNAME = 0x005C;
inline constexpr uint32_t LOCALE_IDEFAULTANSICODEPAGE = 0x1004;
inline constexpr uint32_t LOCALE_STIMEFORMAT = 0x1003;
inline constexpr uint32_t LOCALE_SSHORTTIME = 0x0079;

// A locale fact as text (numbers as decimal text), read from the locale table and ICU's locale
// data; date and time formats are given in the platform's pattern letters (d M y h H m s t).
// False with EINVAL for an unknown locale or type.
bool GetLocaleInfo(LCID aLocale, uint32_t aType, rtl::UnicodeString& aValue);

// Version of a locale's string-comparison rules, laid out as the original services' extended
// record (stored by table dictionaries). Here it is derived from ICU: dwNLSVersion is ICU's
// collator version of the locale, dwDefinedVersion the Unicode version, dwEffectiveId the
// resolved identifier and guidCustomVersion a GUID marking rules of this layer (never one the
// original services produced), so a table built elsewhere always reads as built under other
// sorting rules.
struct TNLSVersionInfoEx {
  uint32_t dwNLSVersionInfoSize = 32;
  uint32_t dwNLSVersion = 0;
  uint32_t dwDefinedVersion = 0;
  uint32_t dwEffectiveId = 0;
  uint8_t guidCustomVersion[16] = {};
};
bool GetNLSVersion(LCID aLocale, TNLSVersionInfoEx& aInfo);

}  // namespace zf::locale
