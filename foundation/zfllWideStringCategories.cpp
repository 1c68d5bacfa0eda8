#include "foundation/zfllWideStringCategories.h"

#include <unicode/uchar.h>

#include <memory>
#include <mutex>

namespace zf {

namespace {

TzfCharacterCategory GeneralCategory(int8_t aType) {
  switch (aType) {
    case U_UPPERCASE_LETTER: return ccLetterUppercase;
    case U_LOWERCASE_LETTER: return ccLetterLowercase;
    case U_TITLECASE_LETTER: return ccLetterTitlecase;
    case U_MODIFIER_LETTER: return ccLetterModifier;
    case U_OTHER_LETTER: return ccLetterOther;
    case U_NON_SPACING_MARK: return ccMarkNonSpacing;
    case U_COMBINING_SPACING_MARK: return ccMarkSpacingCombining;
    case U_ENCLOSING_MARK: return ccMarkEnclosing;
    case U_DECIMAL_DIGIT_NUMBER: return ccNumberDecimalDigit;
    case U_LETTER_NUMBER: return ccNumberLetter;
    case U_OTHER_NUMBER: return ccNumberOther;
    case U_SPACE_SEPARATOR: return ccSeparatorSpace;
    case U_LINE_SEPARATOR: return ccSeparatorLine;
    case U_PARAGRAPH_SEPARATOR: return ccSeparatorParagraph;
    case U_CONTROL_CHAR: return ccOtherControl;
    case U_FORMAT_CHAR: return ccOtherFormat;
    case U_SURROGATE: return ccOtherSurrogate;
    case U_PRIVATE_USE_CHAR: return ccOtherPrivate;
    case U_CONNECTOR_PUNCTUATION: return ccPunctuationConnector;
    case U_DASH_PUNCTUATION: return ccPunctuationDash;
    case U_START_PUNCTUATION: return ccPunctuationOpen;
    case U_END_PUNCTUATION: return ccPunctuationClose;
    case U_INITIAL_PUNCTUATION: return ccPunctuationInitialQuote;
    case U_FINAL_PUNCTUATION: return ccPunctuationFinalQuote;
    case U_OTHER_PUNCTUATION: return ccPunctuationOther;
    case U_MATH_SYMBOL: return ccSymbolMath;
    case U_CURRENCY_SYMBOL: return ccSymbolCurrency;
    case U_MODIFIER_SYMBOL: return ccSymbolModifier;
    case U_OTHER_SYMBOL: return ccSymbolOther;
    default: return ccOtherUnassigned;
  }
}

// Bidirectional classes that have a category; the others (non-spacing mark, paragraph separator,
// the isolates) have none.
bool BidiCategory(int32_t aClass, TzfCharacterCategory& aCategory) {
  switch (aClass) {
    case U_LEFT_TO_RIGHT: aCategory = ccLeftToRight; return true;
    case U_LEFT_TO_RIGHT_EMBEDDING: aCategory = ccLeftToRightEmbedding; return true;
    case U_LEFT_TO_RIGHT_OVERRIDE: aCategory = ccLeftToRightOverride; return true;
    case U_RIGHT_TO_LEFT: aCategory = ccRightToLeft; return true;
    case U_RIGHT_TO_LEFT_ARABIC: aCategory = ccRightToLeftArabic; return true;
    case U_RIGHT_TO_LEFT_EMBEDDING: aCategory = ccRightToLeftEmbedding; return true;
    case U_RIGHT_TO_LEFT_OVERRIDE: aCategory = ccRightToLeftoverride; return true;
    case U_POP_DIRECTIONAL_FORMAT: aCategory = ccPopDirectionalFormat; return true;
    case U_EUROPEAN_NUMBER: aCategory = ccEuropeanNumber; return true;
    case U_EUROPEAN_NUMBER_SEPARATOR: aCategory = ccEuropeanNumberSeparator; return true;
    case U_EUROPEAN_NUMBER_TERMINATOR: aCategory = ccEuropeanNumberTerminator; return true;
    case U_ARABIC_NUMBER: aCategory = ccArabicNumber; return true;
    case U_COMMON_NUMBER_SEPARATOR: aCategory = ccCommonNumberSeparator; return true;
    case U_BOUNDARY_NEUTRAL: aCategory = ccBoundaryNeutral; return true;
    case U_SEGMENT_SEPARATOR: aCategory = ccSegmentSeparator; return true;
    case U_WHITE_SPACE_NEUTRAL: aCategory = ccWhiteSpace; return true;
    case U_OTHER_NEUTRAL: aCategory = ccOtherNeutrals; return true;
    default: return false;
  }
}

TzfCharacterCategories Compute(UChar32 c) {
  TzfCharacterCategories s;
  int8_t type = u_charType(c);
  s.Include(GeneralCategory(type));
  if (type != U_UNASSIGNED) s.Include(ccAssigned);
  TzfCharacterCategory bidi;
  if (type != U_UNASSIGNED && BidiCategory(u_charDirection(c), bidi)) s.Include(bidi);
  int dt = u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE);
  if (dt == U_DT_CANONICAL) s.Include(ccComposed);
  if (dt == U_DT_NOBREAK) s.Include(ccNonBreaking);
  if (u_getIntPropertyValue(c, UCHAR_BIDI_PAIRED_BRACKET_TYPE) != U_BPT_NONE) s.Include(ccSymmetric);
  if (u_isMirrored(c)) s.Include(ccMirroring);
  if (u_hasBinaryProperty(c, UCHAR_HEX_DIGIT)) s.Include(ccHexDigit);
  if (u_hasBinaryProperty(c, UCHAR_QUOTATION_MARK)) s.Include(ccQuotationMark);
  if (u_hasBinaryProperty(c, UCHAR_WHITE_SPACE)) s.Include(ccSpaceOther);
  return s;
}

std::once_flag gLoaded;
std::unique_ptr<TzfCharacterCategories[]> gTable;

}  // namespace

void zfLoadCharacterCategories() {
  std::call_once(gLoaded, [] {
    auto table = std::make_unique<TzfCharacterCategories[]>(0x10000);
    for (UChar32 c = 0; c <= 0xFFFF; ++c) table[static_cast<size_t>(c)] = Compute(c);
    gTable = std::move(table);
  });
}

TzfCharacterCategories zfCharCategories(char16_t aChar) {
  zfLoadCharacterCategories();
  return gTable[aChar];
}

bool zfCharInCategories(char16_t aChar, TzfCharacterCategories aCategories) {
  return zfCharCategories(aChar).Intersects(aCategories);
}

}  // namespace zf
