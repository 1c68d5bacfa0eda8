#include "platform/rtl/rtlText.h"

#include <algorithm>
#include <limits>

namespace zf::rtl {

// Ill-formed input follows the Unicode recommendation that the system's conversion (and the locale
// layer's) follows too: each maximal part of a sequence that could still have become a character
// becomes one U+FFFD, so overlong forms, encoded surrogates and values above U+10FFFF give one
// U+FFFD per byte, and a cut-off sequence one U+FFFD for all its bytes.
UnicodeString Utf8ToUtf16(std::string_view s) {
  UnicodeString r;
  r.reserve(s.size());
  size_t i = 0, n = s.size();
  while (i < n) {
    uint8_t c = static_cast<uint8_t>(s[i]);
    if (c < 0x80) {
      r.push_back(c);
      ++i;
      continue;
    }
    size_t need;
    uint32_t cp;
    uint8_t lo = 0x80, hi = 0xBF;  // the range of the next byte
    if (c >= 0xC2 && c <= 0xDF) {
      need = 1;
      cp = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
      need = 2;
      cp = c & 0x0Fu;
      if (c == 0xE0) lo = 0xA0;       // no overlong forms
      else if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      need = 3;
      cp = c & 0x07u;
      if (c == 0xF0) lo = 0x90;       // no overlong forms
      else if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
      r.push_back(0xFFFD);
      ++i;
      continue;
    }
    size_t k = 1;
    for (; k <= need && i + k < n; ++k) {
      uint8_t b = static_cast<uint8_t>(s[i + k]);
      if (b < lo || b > hi) break;
      cp = (cp << 6) | (b & 0x3Fu);
      lo = 0x80;
      hi = 0xBF;
    }
    i += k;
    if (k <= need) {
      r.push_back(0xFFFD);
    } else if (cp >= 0x10000) {
      cp -= 0x10000;
      r.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      r.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      r.push_back(static_cast<char16_t>(cp));
    }
  }
  return r;
}

std::string Utf16ToUtf8(UnicodeStringView s) {
  std::string r;
  r.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) r.push_back(static_cast<char>(cp));
    else if (cp < 0x800) {
      r.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      r.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      r.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      r.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      r.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      r.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      r.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      r.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      r.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return r;
}

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }
char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

UnicodeString UpperCase(UnicodeStringView s) {
  UnicodeString r(s);
  for (auto& c : r) c = AsciiUpper(c);
  return r;
}
UnicodeString LowerCase(UnicodeStringView s) {
  UnicodeString r(s);
  for (auto& c : r) c = AsciiLower(c);
  return r;
}

int CompareText(UnicodeStringView a, UnicodeStringView b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int d = static_cast<int>(AsciiUpper(a[i])) - static_cast<int>(AsciiUpper(b[i]));
    if (d != 0) return d;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}
bool SameText(UnicodeStringView a, UnicodeStringView b) { return a.size() == b.size() && CompareText(a, b) == 0; }
int CompareStr(UnicodeStringView a, UnicodeStringView b) { return a.compare(b) < 0 ? -1 : (a.compare(b) > 0 ? 1 : 0); }

UnicodeString TrimLeft(UnicodeStringView s) {
  size_t i = 0;
  while (i < s.size() && s[i] <= u' ') ++i;
  return UnicodeString(s.substr(i));
}
UnicodeString TrimRight(UnicodeStringView s) {
  size_t n = s.size();
  while (n > 0 && s[n - 1] <= u' ') --n;
  return UnicodeString(s.substr(0, n));
}
UnicodeString Trim(UnicodeStringView s) { return TrimLeft(TrimRight(s)); }

UnicodeString UIntToStr(uint64_t v) {
  char16_t buf[24];
  int p = 24;
  do { buf[--p] = static_cast<char16_t>(u'0' + v % 10); v /= 10; } while (v);
  return UnicodeString(buf + p, buf + 24);
}
UnicodeString IntToStr(int64_t v) {
  if (v < 0) return u"-" + UIntToStr(static_cast<uint64_t>(0) - static_cast<uint64_t>(v));
  return UIntToStr(static_cast<uint64_t>(v));
}
UnicodeString IntToHex(uint64_t v, int aDigits) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  UnicodeString r;
  do { r.insert(r.begin(), kHex[v & 15]); v >>= 4; } while (v);
  while (static_cast<int>(r.size()) < aDigits) r.insert(r.begin(), u'0');
  return r;
}

bool TryStrToInt64(UnicodeStringView s, int64_t& aValue) {
  size_t i = 0;
  while (i < s.size() && s[i] == u' ') ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) { neg = s[i] == u'-'; ++i; }
  bool hex = false;
  if (i < s.size() && s[i] == u'$') { hex = true; ++i; }
  else if (i + 1 < s.size() && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) { hex = true; i += 2; }
  if (i >= s.size()) return false;
  uint64_t acc = 0;
  const uint64_t limit = hex ? std::numeric_limits<uint64_t>::max()
                             : (neg ? static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1
                                    : static_cast<uint64_t>(std::numeric_limits<int64_t>::max()));
  for (; i < s.size(); ++i) {
    char16_t c = s[i];
    unsigned d;
    if (c >= u'0' && c <= u'9') d = c - u'0';
    else if (hex && c >= u'a' && c <= u'f') d = c - u'a' + 10;
    else if (hex && c >= u'A' && c <= u'F') d = c - u'A' + 10;
    else return false;
    unsigned base = hex ? 16 : 10;
    if (acc > (limit - d) / base) return false;
    acc = acc * base + d;
  }
  aValue = neg ? static_cast<int64_t>(0 - acc) : static_cast<int64_t>(acc);
  return true;
}
bool TryStrToInt(UnicodeStringView s, int32_t& aValue) {
  int64_t v;
  if (!TryStrToInt64(s, v)) return false;
  bool hex = s.find(u'$') != UnicodeStringView::npos || s.find(u'x') != UnicodeStringView::npos ||
             s.find(u'X') != UnicodeStringView::npos;
  if (hex && v >= 0 && v <= 0xFFFFFFFFll) { aValue = static_cast<int32_t>(static_cast<uint32_t>(v)); return true; }
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return false;
  aValue = static_cast<int32_t>(v);
  return true;
}
int64_t StrToInt64Def(UnicodeStringView s, int64_t aDefault) {
  int64_t v;
  return TryStrToInt64(s, v) ? v : aDefault;
}

size_t Pos(UnicodeStringView aSub, UnicodeStringView aText, size_t aFrom) {
  if (aSub.empty()) return UnicodeString::npos;
  return aText.find(aSub, aFrom);
}

UnicodeString StringReplaceAll(UnicodeStringView aText, UnicodeStringView aOld, UnicodeStringView aNew,
                               bool aIgnoreCase) {
  if (aOld.empty()) return UnicodeString(aText);
  UnicodeString hay = aIgnoreCase ? UpperCase(aText) : UnicodeString(aText);
  UnicodeString needle = aIgnoreCase ? UpperCase(aOld) : UnicodeString(aOld);
  UnicodeString r;
  size_t i = 0;
  for (;;) {
    size_t p = hay.find(needle, i);
    if (p == UnicodeString::npos) break;
    r.append(aText.substr(i, p - i));
    r.append(aNew);
    i = p + aOld.size();
  }
  r.append(aText.substr(i));
  return r;
}

static bool IsPathDelim(char16_t c) { return c == u'/' || c == u'\\'; }

UnicodeString ExtractFileExt(UnicodeStringView aName) {
  for (size_t i = aName.size(); i > 0; --i) {
    char16_t c = aName[i - 1];
    if (c == u'.') return UnicodeString(aName.substr(i - 1));
    if (IsPathDelim(c) || c == u':') break;
  }
  return {};
}
UnicodeString ChangeFileExt(UnicodeStringView aName, UnicodeStringView aExt) {
  UnicodeString ext = ExtractFileExt(aName);
  return UnicodeString(aName.substr(0, aName.size() - ext.size())) + UnicodeString(aExt);
}
UnicodeString ExtractFilePath(UnicodeStringView aName) {
  for (size_t i = aName.size(); i > 0; --i)
    if (IsPathDelim(aName[i - 1])) return UnicodeString(aName.substr(0, i));
  return {};
}
UnicodeString ExtractFileName(UnicodeStringView aName) {
  return UnicodeString(aName.substr(ExtractFilePath(aName).size()));
}

std::vector<UnicodeString> SplitString(UnicodeStringView aText, char16_t aSep) {
  std::vector<UnicodeString> r;
  size_t i = 0;
  for (;;) {
    size_t p = aText.find(aSep, i);
    if (p == UnicodeStringView::npos) { r.emplace_back(aText.substr(i)); break; }
    r.emplace_back(aText.substr(i, p - i));
    i = p + 1;
  }
  return r;
}

}  // namespace zf::rtl
