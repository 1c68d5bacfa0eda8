// A GUID as the platform lays it out in memory: a 32-bit field, two 16-bit fields and 8 bytes.
#pragma once
#include <cstdint>

#include "platform/rtl/rtlText.h"

namespace zf::rtl {

struct TGUID {
  uint32_t D1 = 0;
  uint16_t D2 = 0;
  uint16_t D3 = 0;
  uint8_t D4[8] = {};

  friend bool operator==(const TGUID&, const TGUID&) = default;
};

// "{" 8-4-4-4-12 upper-case hexadecimal digits "}", as the platform's GUIDToString.
UnicodeString GUIDToString(const TGUID& aGUID);
// Reads that form back (either letter case); False when the text is not one.
bool TryStringToGUID(UnicodeStringView aText, TGUID& aGUID);
// The same, raising EConvertError "'%s' is not a valid GUID value".
TGUID StringToGUID(UnicodeStringView aText);

// The stored 16 bytes: D1, D2, D3 little-endian, then D4.
inline constexpr size_t GUIDSize = 16;
TGUID GUIDFromBytes(const uint8_t* aBytes);
void GUIDToBytes(const TGUID& aGUID, uint8_t* aBytes);

}  // namespace zf::rtl
