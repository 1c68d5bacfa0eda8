#include "mapping/zfsdMapperText.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "dictionary/zfsdFieldDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllUtils.h"
#include "mapping/zfsdFieldMapperBase.h"
#include "platform/rtl/rtlAnsi.h"

namespace zf {

namespace {

// The locale whose settings a field without a locale of its own formats with.
constexpr uint32_t kSystemDefaultLocale = 2048;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// The first aCount code units of aText, never ending inside a surrogate pair.
size_t WholeUnits(rtl::UnicodeStringView aText, size_t aCount) {
  if (aCount < aText.size() && aCount > 0 && IsHighSurrogate(aText[aCount - 1])) --aCount;
  return aCount;
}

std::string Encode(uint16_t aCodePage, rtl::UnicodeStringView aText) {
  return rtl::UnicodeToAnsi(aText, aCodePage).Bytes();
}

}  // namespace

bool zfIsTextMappingTarget(TzfFieldType aType) {
  return aType == zftShortString || aType == zftNullString || aType == zftWideString;
}

int32_t zfTextCapacity(TzfFieldType aType, int32_t aLength) {
  return aType == zftWideString ? aLength / 2 - 1 : aLength - 1;
}

rtl::TFormatSettings zfFieldFormatSettings(TzfFieldDescriptor& aField) {
  const TzfLocaleDescriptor* locale = aField.GetUsedLocaleDescriptor();
  return zfGetLocaleFormatSettings(locale && locale->ldLocale ? locale->ldLocale : kSystemDefaultLocale);
}

TzfTextTarget TzfTextTarget::Of(TzfFieldDescriptor& aField) {
  TzfTextTarget t;
  t.Type = aField.fdType;
  t.Capacity = std::max(0, zfTextCapacity(aField.fdType, aField.fdLength));
  if (aField.fdType != zftWideString) t.CodePage = aField.GetStorageCodePage();
  return t;
}

uint32_t TzfTextTarget::Store(rtl::UnicodeStringView aText, bool aCut, uint8_t* aTarget) const {
  const auto capacity = static_cast<size_t>(Capacity);
  if (Type == zftWideString) {
    if (aText.size() > capacity && !aCut) return zfErrInvalidFieldXForm;
    StoreUnits(aText.substr(0, WholeUnits(aText, std::min(aText.size(), capacity))), aTarget);
    return 0;
  }
  std::string bytes = Encode(CodePage, aText);
  if (bytes.size() > capacity) {
    if (!aCut) return zfErrInvalidFieldXForm;
    // Drop whole characters from the end until the encoded text fits; every character takes at
    // least one byte, so no more than capacity code units can fit.
    size_t units = WholeUnits(aText, std::min(aText.size(), capacity));
    for (;;) {
      bytes = Encode(CodePage, aText.substr(0, units));
      if (bytes.size() <= capacity || units == 0) break;
      units = WholeUnits(aText, units - 1);
    }
    if (bytes.size() > capacity) bytes.clear();
  }
  StoreBytes(bytes, aTarget);
  return 0;
}

void TzfTextTarget::StoreBytes(std::string_view aBytes, uint8_t* aTarget) const {
  const size_t n = std::min(aBytes.size(), static_cast<size_t>(Capacity));
  if (Type == zftShortString) {
    aTarget[0] = static_cast<uint8_t>(std::min<size_t>(n, 255));
    std::memcpy(aTarget + 1, aBytes.data(), aTarget[0]);
  } else {
    std::memcpy(aTarget, aBytes.data(), n);
    aTarget[n] = 0;
  }
}

void TzfTextTarget::StoreUnits(rtl::UnicodeStringView aUnits, uint8_t* aTarget) const {
  const size_t n = std::min(aUnits.size(), static_cast<size_t>(Capacity));
  for (size_t i = 0; i < n; ++i) zfStoreLE<uint16_t>(aTarget + 2 * i, aUnits[i]);
  zfStoreLE<uint16_t>(aTarget + 2 * n, 0);
}

}  // namespace zf
