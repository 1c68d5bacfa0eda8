// Wide-string conversion: 8-bit text under an explicit code page to and from UTF-16, copies
// between the engine's UTF-16 shapes, and locale mapping of wide text.
//
// Every conversion names its code page; 0 means zfDefaultCodePage (zfllUtils). Characters a code page cannot
// hold become '?', bytes it does not define become U+FFFD (or the control character of the same
// value); neither is an error. A code page or locale the system does not know raises
// EzfBaseException 11047 (operating-system error) with the routine's action text.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/zfllUtils.h"
#include "platform/rtl/rtlAnsiString.h"
#include "platform/rtl/rtlText.h"
#include "platform/rtl/rtlUnits.h"

namespace zf {

using rtl::UnicodeString;
using rtl::UnicodeStringView;

// Counted dynamic array of UTF-16 code units; no terminating zero belongs to it.
using TzfWideString = std::vector<char16_t>;

// ---- Conversions (empty input gives an empty result without any conversion) ----

void zfStringToWideString(std::string_view aText, uint32_t aCodePage, TzfWideString& aResult);
void zfStringToWideString(std::string_view aText, uint32_t aCodePage, UnicodeString& aResult);
TzfWideString zfStringToWideString(std::string_view aText, uint32_t aCodePage);

// The 8-bit result carries the code page it is written in (0 and 3 resolved).
void zfWideStringToString(const TzfWideString& aText, uint32_t aCodePage, rtl::AnsiString& aResult);
void zfWideStringToString(UnicodeStringView aText, uint32_t aCodePage, rtl::AnsiString& aResult);
void zfWideStringToString(UnicodeStringView aText, uint32_t aCodePage, TzfBytes& aResult);
void zfWideStringToString(const TzfWideString& aText, uint32_t aCodePage, TzfBytes& aResult);
rtl::AnsiString zfWideStringToString(UnicodeStringView aText, uint32_t aCodePage);

// aCount units at aBuffer; a count of 0 or less gives an empty array.
TzfBytes zfWideStringBufferToBytes(const char16_t* aBuffer, int32_t aCount, uint32_t aCodePage);

// ---- Copies, unit for unit ----

TzfWideString zfUnicodeStringToWideString(UnicodeStringView aText);
TzfWideString zfWideStrToWideString(UnicodeStringView aText);
UnicodeString zfWideStringToWideStr(const TzfWideString& aText);
UnicodeString zfWideStringToUnicodeString(const TzfWideString& aText);

// ---- Locale routines ----

// The locale's default ANSI code page (0 for a locale without one); zfDefaultCodePage when the
// locale is unknown.
uint32_t zfLocaleCodePage(uint32_t aLocale);

// The locale mapping of a text under the mapping flags (case, kana type, width, Chinese script,
// byte order; see zf::locale::LCMapStringW). Failures raise 11047 with the action
// "zfPravikWideLCMapStringW". Sort keys are not produced here (the flag fails like an unknown one).
UnicodeString zfWideLCMapStringW(UnicodeStringView aText, uint32_t aLocale, uint32_t aFlags);
// The same through 8-bit text in the locale's code page (characters outside it become '?').
// Action "zfPravikWideLCMapStringA".
UnicodeString zfWideLCMapStringA(UnicodeStringView aText, uint32_t aLocale, uint32_t aFlags);
// The mapping routine the engine uses: zfWideLCMapStringW, set at unit start.
extern UnicodeString (*zfWideLCMapString)(UnicodeStringView aText, uint32_t aLocale, uint32_t aFlags);

// ---- Unicode character categories (the sets are answered by zfllWideStringCategories) ----

enum TzfCharacterCategory : uint8_t {
  ccLetterUppercase, ccLetterLowercase, ccLetterTitlecase, ccMarkNonSpacing, ccMarkSpacingCombining,
  ccMarkEnclosing, ccNumberDecimalDigit, ccNumberLetter, ccNumberOther, ccSeparatorSpace,
  ccSeparatorLine, ccSeparatorParagraph, ccOtherControl, ccOtherFormat, ccOtherSurrogate,
  ccOtherPrivate, ccOtherUnassigned, ccLetterModifier, ccLetterOther, ccPunctuationConnector,
  ccPunctuationDash, ccPunctuationOpen, ccPunctuationClose, ccPunctuationInitialQuote,
  ccPunctuationFinalQuote, ccPunctuationOther, ccSymbolMath, ccSymbolCurrency, ccSymbolModifier,
  ccSymbolOther, ccLeftToRight, ccLeftToRightEmbedding, ccLeftToRightOverride, ccRightToLeft,
  ccRightToLeftArabic, ccRightToLeftEmbedding, ccRightToLeftoverride, ccPopDirectionalFormat,
  ccEuropeanNumber, ccEuropeanNumberSeparator, ccEuropeanNumberTerminator, ccArabicNumber,
  ccCommonNumberSeparator, ccBoundaryNeutral, ccSegmentSeparator, ccWhiteSpace, ccOtherNeutrals,
  ccComposed, ccNonBreaking, ccSymmetric, ccHexDigit, ccQuotationMark, ccMirroring, ccSpaceOther,
  ccAssigned
};
inline constexpr int zfCharacterCategoryCount = 55;

// A set of categories: bit n stands for the category of ordinal n (55 bits, stored in 7 bytes).
class TzfCharacterCategories {
 public:
  constexpr TzfCharacterCategories() = default;
  constexpr TzfCharacterCategories(std::initializer_list<TzfCharacterCategory> aList) {
    for (auto c : aList) FBits |= uint64_t{1} << c;
  }
  constexpr bool Contains(TzfCharacterCategory c) const { return (FBits >> c) & 1; }
  constexpr void Include(TzfCharacterCategory c) { FBits |= uint64_t{1} << c; }
  constexpr void Exclude(TzfCharacterCategory c) { FBits &= ~(uint64_t{1} << c); }
  constexpr bool IsEmpty() const { return FBits == 0; }
  constexpr bool Intersects(TzfCharacterCategories o) const { return (FBits & o.FBits) != 0; }
  constexpr uint64_t Bits() const { return FBits; }
  friend constexpr bool operator==(TzfCharacterCategories, TzfCharacterCategories) = default;

 private:
  uint64_t FBits = 0;
};

rtl::TUnitInit& zfllWideStringUnit();

}  // namespace zf
