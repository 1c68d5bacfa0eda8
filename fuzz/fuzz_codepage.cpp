// Fuzzes the decoding of stored 8-bit text. The first input byte picks a code page and a locale,
// the rest is the text: it is decoded (replacing and strictly), encoded back, compared and mapped
// under the locale. Damaged text may only be replaced, never crash, hang or read outside the input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/zfllWideString.h"
#include "platform/locale/locCodePages.h"
#include "platform/locale/locCollation.h"

namespace {

constexpr uint16_t kCodePages[] = {1252, 1250, 1251, 1253, 1255, 1256, 874, 932, 936, 949, 950, 65001,
                                   65000, 54936, 50220, 20932, 437, 10000};
constexpr uint32_t kLocales[] = {0x0409, 0x0411, 0x0804, 0x0412, 0x0404, 0x041D, 0x0419, 0x10407};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < 1) return 0;
  const uint16_t cp = kCodePages[aData[0] % (sizeof kCodePages / sizeof kCodePages[0])];
  const uint32_t lcid = kLocales[(aData[0] >> 4) % (sizeof kLocales / sizeof kLocales[0])];
  std::string_view bytes(reinterpret_cast<const char*>(aData + 1), aSize - 1);

  zf::UnicodeString text, strict;
  zf::zfStringToWideString(bytes, cp, text);
  zf::locale::BytesToUnicode(cp, bytes, strict, zf::locale::MB_ERR_INVALID_CHARS);
  zf::TzfBytes back;
  zf::zfWideStringToString(text, cp, back);

  const size_t half = text.size() / 2;
  zf::UnicodeStringView a(text.data(), half), b(text.data() + half, text.size() - half);
  zf::locale::CompareStringW(lcid, aData[0] & 1 ? zf::locale::NORM_IGNORECASE : zf::locale::NORM_IGNOREWIDTH, a, b);
  zf::locale::CompareStringA(lcid, zf::locale::NORM_IGNORESYMBOLS, bytes.substr(0, bytes.size() / 2),
                             bytes.substr(bytes.size() / 2));
  std::string key;
  zf::locale::LCMapSortKey(lcid, zf::locale::NORM_IGNORENONSPACE, text, key);
  zf::UnicodeString mapped;
  zf::locale::LCMapStringW(lcid, zf::locale::LCMAP_UPPERCASE | zf::locale::LCMAP_FULLWIDTH, text, mapped);
  zf::locale::FoldStringW(zf::locale::MAP_FOLDCZONE | zf::locale::MAP_PRECOMPOSED, text, mapped);
  return 0;
}
