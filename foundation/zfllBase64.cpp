#include "foundation/zfllBase64.h"

#include <array>
#include <cstdint>

#include "platform/rtl/rtlException.h"

namespace zf {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Index of each character; 61 for anything outside the alphabet (as the format requires).
constexpr std::array<uint8_t, 256> MakeDecodeTable() {
  std::array<uint8_t, 256> t{};
  for (auto& v : t) v = 61;
  for (uint8_t i = 0; i < 64; ++i) t[static_cast<uint8_t>(kAlphabet[i])] = i;
  return t;
}
constexpr std::array<uint8_t, 256> kDecode = MakeDecodeTable();

}  // namespace

std::string StrToBase64(std::string_view aData) {
  std::string in(aData);
  size_t padded = 0;
  while (in.size() < 3) { in.push_back('\0'); ++padded; }
  while (in.size() % 3 != 0) { in.push_back('\0'); ++padded; }
  std::string out;
  out.reserve(in.size() / 3 * 4);
  for (size_t i = 0; i < in.size(); i += 3) {
    const uint8_t b1 = static_cast<uint8_t>(in[i]), b2 = static_cast<uint8_t>(in[i + 1]),
                  b3 = static_cast<uint8_t>(in[i + 2]);
    out.push_back(kAlphabet[b1 >> 2]);
    out.push_back(kAlphabet[((b1 << 4) & 63) | (b2 >> 4)]);
    out.push_back(kAlphabet[((b2 << 2) & 63) | (b3 >> 6)]);
    out.push_back(kAlphabet[b3 & 63]);
  }
  out.replace(out.size() - padded, padded, padded, '=');
  return out;
}

std::string Base64ToStr(std::string_view aText) {
  if (aText.size() < 4 || aText.size() % 4 != 0) throw rtl::Exception(u"Base64ToStr: illegal input length!");
  size_t trailing = 0;
  while (trailing < aText.size() && aText[aText.size() - 1 - trailing] == '=') ++trailing;
  std::string out;
  out.reserve(aText.size() / 4 * 3);
  for (size_t i = 0; i < aText.size(); i += 4) {
    const uint8_t i1 = kDecode[static_cast<uint8_t>(aText[i])], i2 = kDecode[static_cast<uint8_t>(aText[i + 1])],
                  i3 = kDecode[static_cast<uint8_t>(aText[i + 2])], i4 = kDecode[static_cast<uint8_t>(aText[i + 3])];
    out.push_back(static_cast<char>(static_cast<uint8_t>((i1 << 2) | (i2 >> 4))));
    out.push_back(static_cast<char>(static_cast<uint8_t>((i2 << 4) | (i3 >> 2))));
    out.push_back(static_cast<char>(static_cast<uint8_t>((i3 << 6) | i4)));
  }
  out.resize(trailing >= out.size() ? 0 : out.size() - trailing);
  return out;
}

}  // namespace zf
