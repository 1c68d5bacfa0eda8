// A GUID as the platform lays it out in memory: a 32-bit field, two 16-bit fields and 8 bytes.
#pragma once
#include <cstdint>

namespace zf::rtl {

struct TGUID {
  uint32_t D1 = 0;
  uint16_t D2 = 0;
  uint16_t D3 = 0;
  uint8_t D4[8] = {};

  friend bool operator==(const TGUID&, const TGUID&) = default;
};

}  // namespace zf::rtl
