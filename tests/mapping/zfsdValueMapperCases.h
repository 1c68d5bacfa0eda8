// Tables of value mapper cases: a source field holding some bytes, a target field, a data-loss
// action, and what the target holds afterwards, written out by hand.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "mapping/zfsdFieldMapperDescriptor.h"
#include "platform/rtl/rtlNumber.h"
#include "tests/mapping/zfsrMappingTestUtil.h"

namespace zf::test {

// The action a case runs under: a descriptor with dlaFail, dlaNull or dlaBestFit, or none.
enum TAct { F, N, B, X };

// One side of a case: type, units, decimals and, when not 0, the storage code page and locale.
struct TSide {
  TzfFieldType Type;
  int32_t Units = 0, DecPl = 0;
  uint16_t CodePage = 0;
  uint32_t Locale = 0;
};

struct TValueCase {
  TSide Source;
  std::vector<uint8_t> Value;  // the source field's bytes (zero-padded to its length)
  TSide Target;
  TAct Act;
  // The target after the call. Hex bytes of the whole field, "ee" for a byte left unwritten; or
  // for text targets s"..." (ShortString), n"..." (NullString), w"..." (WideString) with the text
  // read back (non-ASCII as \xHH, code units as \uHHHH). "E" for a result of 10002 with the
  // target untouched, "-" for a pair that gets no method, "result N: ..." for other results.
  std::string Expected;
};

// Source bytes of each stored form.
inline std::vector<uint8_t> Le(uint64_t aValue, size_t aSize) {
  std::vector<uint8_t> b(aSize);
  for (size_t i = 0; i < aSize; ++i) b[i] = static_cast<uint8_t>(aValue >> (8 * i));
  return b;
}
inline std::vector<uint8_t> I32(int32_t v) { return Le(static_cast<uint32_t>(v), 4); }
inline std::vector<uint8_t> Cur(int64_t aRaw) { return Le(static_cast<uint64_t>(aRaw), 8); }
inline std::vector<uint8_t> Sgl(float v) {
  std::vector<uint8_t> b(4);
  std::memcpy(b.data(), &v, 4);
  return b;
}
inline std::vector<uint8_t> Dbl(double v) {
  std::vector<uint8_t> b(8);
  std::memcpy(b.data(), &v, 8);
  return b;
}
inline std::vector<uint8_t> Ext(long double v) {
  std::vector<uint8_t> b(10);
  rtl::ExtendedToBytes(v, b.data());
  return b;
}
inline std::vector<uint8_t> Bytes(std::string_view aBytes) { return {aBytes.begin(), aBytes.end()}; }
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

inline std::string HexOf(const std::vector<uint8_t>& aBytes) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (uint8_t b : aBytes) {
    if (!s.empty()) s += ' ';
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

// The text a text field holds, in the notation of TValueCase::Expected.
inline std::string TextOf(TzfFieldType aType, const std::vector<uint8_t>& aBytes) {
  auto put = [](std::string& s, uint32_t c, bool aWide) {
    char buf[8];
    if (c >= 0x20 && c < 0x7F) s += static_cast<char>(c);
    else if (aWide) { std::snprintf(buf, sizeof buf, "\\u%04x", c); s += buf; }
    else { std::snprintf(buf, sizeof buf, "\\x%02x", c); s += buf; }
  };
  std::string s;
  if (aType == zftShortString) {
    s = "s\"";
    for (size_t i = 1; i <= aBytes[0] && i < aBytes.size(); ++i) put(s, aBytes[i], false);
  } else if (aType == zftNullString) {
    s = "n\"";
    for (size_t i = 0; i < aBytes.size() && aBytes[i]; ++i) put(s, aBytes[i], false);
  } else {
    s = "w\"";
    for (size_t i = 0; i + 1 < aBytes.size(); i += 2) {
      const uint32_t c = aBytes[i] | (aBytes[i + 1] << 8);
      if (!c) break;
      put(s, c, true);
    }
  }
  return s + "\"";
}

inline TzfFieldDescriptor* AddSide(TTestCursor& aCursor, const rtl::UnicodeString& aName, const TSide& aSide) {
  TzfFieldDescriptor* f = aCursor.Add(aName, aSide.Type, aSide.Units, aSide.DecPl);
  if (aSide.CodePage || aSide.Locale) {
    TzfLocaleDescriptor* l = f->AddLocaleDescriptor(nullptr);
    if (aSide.Locale) l->SetLocale(static_cast<int32_t>(aSide.Locale));
    if (aSide.CodePage) l->ldOverrideStorageCodepage = aSide.CodePage;
  }
  return f;
}

// Runs one case and answers what it stored, in the notation of TValueCase::Expected.
inline std::string RunCase(const TValueCase& c) {
  TTestCursor source, target;
  TzfFieldDescriptor* s = AddSide(source, u"S", c.Source);
  TzfFieldDescriptor* d = AddSide(target, u"T", c.Target);
  const TzfDataLossAction action = c.Act == B ? dlaBestFit : c.Act == N ? dlaNull : dlaFail;
  TzfFieldMapperDescriptor desc(u"S", u"T", action);
  TzfMappingMethod method;
  auto mapper = TzfBaseFieldMapper::CreateMapper(*s, &source, *d, &target, c.Act == X ? nullptr : &desc, method);
  if (!method.IsSet()) return "-";
  std::vector<uint8_t> from(static_cast<size_t>(s->fdLength));
  std::copy_n(c.Value.begin(), std::min(c.Value.size(), from.size()), from.begin());
  std::vector<uint8_t> to(static_cast<size_t>(d->fdLength), 0xEE);
  const uint32_t result = method(from.data(), to.data());
  if (result == 10002 && to == std::vector<uint8_t>(to.size(), 0xEE)) return "E";
  const bool text = c.Expected.size() > 1 && c.Expected[1] == '"';
  const std::string shown = text ? TextOf(d->fdType, to) : HexOf(to);
  return result ? "result " + std::to_string(result) + ": " + shown : shown;
}

inline void RunCases(const std::vector<TValueCase>& aCases) {
  for (size_t i = 0; i < aCases.size(); ++i) {
    const TValueCase& c = aCases[i];
    EXPECT_EQ(RunCase(c), c.Expected) << "case " << i << ": source type " << int(c.Source.Type) << " ("
                                      << HexOf(c.Value) << ") -> type " << int(c.Target.Type) << " ("
                                      << c.Target.Units << "," << c.Target.DecPl << ") action " << int(c.Act);
  }
}

}  // namespace zf::test
