#include "platform/rtl/rtlAnsi.h"

#include <atomic>

#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlFormat.h"

namespace zf::rtl {

namespace {

std::atomic<TCodePageConverter*> gConverter{nullptr};

// windows-1252 bytes 0x80..0x9F. The five unassigned bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand
// for the C1 control of the same value, as in the locale layer's tables, so that stored bytes
// survive a conversion to UTF-16 and back.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool BuiltIn(uint16_t cp) {
  return cp == CP_WINDOWS1252 || cp == CP_LATIN1 || cp == CP_USASCII || cp == CP_UTF8;
}

void DecodeBuiltIn(uint16_t cp, std::string_view b, UnicodeString& t) {
  if (cp == CP_UTF8) { t = Utf8ToUtf16(b); return; }
  t.clear();
  t.reserve(b.size());
  for (char ch : b) {
    uint8_t c = static_cast<uint8_t>(ch);
    if (c < 0x80) t.push_back(c);
    else if (cp == CP_USASCII) t.push_back(0xFFFD);
    else if (cp == CP_WINDOWS1252 && c < 0xA0) t.push_back(kCp1252High[c - 0x80]);
    else t.push_back(c);
  }
}

void EncodeBuiltIn(uint16_t cp, UnicodeStringView t, std::string& b) {
  if (cp == CP_UTF8) { b = Utf16ToUtf8(t); return; }
  b.clear();
  b.reserve(t.size());
  for (size_t i = 0; i < t.size(); ++i) {
    char16_t c = t[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < t.size() && t[i + 1] >= 0xDC00 && t[i + 1] <= 0xDFFF) {
      ++i;  // one character outside the BMP: one replacement
      b.push_back('?');
      continue;
    }
    if (c < 0x80) { b.push_back(static_cast<char>(c)); continue; }
    if (cp == CP_USASCII) { b.push_back('?'); continue; }
    if (c >= 0xA0 && c <= 0xFF) { b.push_back(static_cast<char>(c)); continue; }
    if (cp == CP_LATIN1 && c < 0xA0) { b.push_back(static_cast<char>(c)); continue; }
    char out = '?';
    if (cp == CP_WINDOWS1252)
      for (int k = 0; k < 32; ++k)
        if (kCp1252High[k] == c) { out = static_cast<char>(0x80 + k); break; }
    b.push_back(out);
  }
}

}  // namespace

uint16_t ResolveCodePage(uint16_t aCodePage) {
  return aCodePage == CP_ACP || aCodePage == CP_THREAD_ACP ? SystemAnsiCodePage() : aCodePage;
}
void SetCodePageConverter(TCodePageConverter* aConverter) { gConverter.store(aConverter); }

bool IsKnownCodePage(uint16_t aCodePage) {
  uint16_t cp = ResolveCodePage(aCodePage);
  if (BuiltIn(cp)) return true;
  TCodePageConverter* c = gConverter.load();
  return c && c->IsKnown(cp);
}

bool TryDecodeAnsi(uint16_t aCodePage, std::string_view aBytes, UnicodeString& aText) {
  uint16_t cp = ResolveCodePage(aCodePage);
  if (BuiltIn(cp)) { DecodeBuiltIn(cp, aBytes, aText); return true; }
  TCodePageConverter* c = gConverter.load();
  return c && c->Decode(cp, aBytes, aText);
}

bool TryEncodeAnsi(uint16_t aCodePage, UnicodeStringView aText, std::string& aBytes) {
  uint16_t cp = ResolveCodePage(aCodePage);
  if (BuiltIn(cp)) { EncodeBuiltIn(cp, aText, aBytes); return true; }
  TCodePageConverter* c = gConverter.load();
  return c && c->Encode(cp, aText, aBytes);
}

namespace {
[[noreturn]] void RaiseUnknownCodePage(uint16_t cp) {
  throw EConvertError(Format(u"Code page %d is not supported", {static_cast<int32_t>(ResolveCodePage(cp))}));
}
}  // namespace

UnicodeString AnsiToUnicode(const AnsiString& aText) {
  UnicodeString r;
  if (!TryDecodeAnsi(aText.CodePage(), aText.View(), r)) RaiseUnknownCodePage(aText.CodePage());
  return r;
}

AnsiString UnicodeToAnsi(UnicodeStringView aText, uint16_t aCodePage) {
  AnsiString r;
  r.SetCodePage(aCodePage);
  if (!TryEncodeAnsi(aCodePage, aText, r.Bytes())) RaiseUnknownCodePage(aCodePage);
  return r;
}

}  // namespace zf::rtl
