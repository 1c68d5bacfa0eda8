#include "platform/rtl/rtlGuid.h"

#include <cstring>

#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlFormat.h"

namespace zf::rtl {

namespace {

void PutHex(UnicodeString& s, uint64_t v, int aDigits) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  for (int i = aDigits - 1; i >= 0; --i) s += kHex[(v >> (i * 4)) & 15];
}

bool GetHex(UnicodeStringView s, size_t& i, int aDigits, uint64_t& v) {
  v = 0;
  for (int k = 0; k < aDigits; ++k, ++i) {
    if (i >= s.size()) return false;
    char16_t c = s[i];
    int d;
    if (c >= u'0' && c <= u'9') d = c - u'0';
    else if (c >= u'A' && c <= u'F') d = c - u'A' + 10;
    else if (c >= u'a' && c <= u'f') d = c - u'a' + 10;
    else return false;
    v = (v << 4) | static_cast<uint64_t>(d);
  }
  return true;
}

}  // namespace

UnicodeString GUIDToString(const TGUID& g) {
  UnicodeString s;
  s.reserve(38);
  s += u'{';
  PutHex(s, g.D1, 8);
  s += u'-';
  PutHex(s, g.D2, 4);
  s += u'-';
  PutHex(s, g.D3, 4);
  s += u'-';
  PutHex(s, g.D4[0], 2);
  PutHex(s, g.D4[1], 2);
  s += u'-';
  for (int i = 2; i < 8; ++i) PutHex(s, g.D4[i], 2);
  s += u'}';
  return s;
}

bool TryStringToGUID(UnicodeStringView s, TGUID& g) {
  if (s.size() != 38 || s[0] != u'{' || s[37] != u'}') return false;
  size_t i = 1;
  uint64_t v;
  auto dash = [&]() { return i < s.size() && s[i++] == u'-'; };
  TGUID r;
  if (!GetHex(s, i, 8, v)) return false;
  r.D1 = static_cast<uint32_t>(v);
  if (!dash() || !GetHex(s, i, 4, v)) return false;
  r.D2 = static_cast<uint16_t>(v);
  if (!dash() || !GetHex(s, i, 4, v)) return false;
  r.D3 = static_cast<uint16_t>(v);
  if (!dash()) return false;
  for (int k = 0; k < 8; ++k) {
    if (k == 2 && !dash()) return false;
    if (!GetHex(s, i, 2, v)) return false;
    r.D4[k] = static_cast<uint8_t>(v);
  }
  g = r;
  return true;
}

TGUID StringToGUID(UnicodeStringView aText) {
  TGUID g;
  if (!TryStringToGUID(aText, g)) throw EConvertError(Format(u"'%s' is not a valid GUID value", {aText}));
  return g;
}

TGUID GUIDFromBytes(const uint8_t* b) {
  TGUID g;
  g.D1 = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
         static_cast<uint32_t>(b[3]) << 24;
  g.D2 = static_cast<uint16_t>(b[4] | b[5] << 8);
  g.D3 = static_cast<uint16_t>(b[6] | b[7] << 8);
  std::memcpy(g.D4, b + 8, 8);
  return g;
}

void GUIDToBytes(const TGUID& g, uint8_t* b) {
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(g.D1 >> (8 * i));
  b[4] = static_cast<uint8_t>(g.D2);
  b[5] = static_cast<uint8_t>(g.D2 >> 8);
  b[6] = static_cast<uint8_t>(g.D3);
  b[7] = static_cast<uint8_t>(g.D3 >> 8);
  std::memcpy(b + 8, g.D4, 8);
}

}  // namespace zf::rtl
