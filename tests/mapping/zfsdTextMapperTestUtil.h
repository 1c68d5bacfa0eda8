// Shared helpers of the text, character and text-source mapper tests: fields with units, decimals
// and a code page, source bytes built per text layout, and one call of the chosen method written
// out as the target's bytes.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mapping/zfsdFieldMapperDescriptor.h"
#include "platform/rtl/rtlAnsiString.h"
#include "platform/rtl/rtlException.h"
#include "tests/mapping/zfsrMappingTestUtil.h"

namespace zf::test {

// The action a case runs under: a descriptor with dlaFail, dlaNull or dlaBestFit, or none.
enum TAct { F, N, B, X };

// A field of a case: type, units, decimals (above 0: a fixed-length text), storage code page and
// locale ID (both 0: no locale descriptor).
struct TField {
  TzfFieldType Type;
  int32_t Units = 0;
  int32_t DecPl = 0;
  uint16_t Cp = 0;
  uint32_t Locale = 0;
};

inline void SetLocale(TzfFieldDescriptor& aField, const TField& aWanted) {
  if (!aWanted.Cp && !aWanted.Locale) return;
  TzfLocaleDescriptor* ld = aField.AddLocaleDescriptor(nullptr);
  ld->ldOverrideStorageCodepage = aWanted.Cp;
  ld->ldLocale = aWanted.Locale;
}

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

// Field bytes of a text in each layout (the rest of the field is filled by the runner).
inline std::string SS(const std::string& aText) { return std::string(1, static_cast<char>(aText.size())) + aText; }
inline std::string NS(const std::string& aText) { return aText + std::string(1, '\0'); }
inline std::string WS(const std::u16string& aText) {
  std::string s;
  for (char16_t c : aText) {
    s += static_cast<char>(c & 0xFF);
    s += static_cast<char>(c >> 8);
  }
  return s + std::string(2, '\0');
}

// Restores the process's ANSI code page at the end of a test that changes it.
struct TAnsiCodePage {
  uint16_t Saved = rtl::SystemAnsiCodePage();
  explicit TAnsiCodePage(uint16_t aCodePage) { rtl::SetSystemAnsiCodePage(aCodePage); }
  ~TAnsiCodePage() { rtl::SetSystemAnsiCodePage(Saved); }
};

// Maps aSource (the first bytes of the source field; the rest 0xCC) into a target filled with 0xEE
// and answers: the target's bytes in hex; "E" for 10002 with the target untouched; "E:" + hex
// for 10002 with the target written; "R<code>:" + hex for another result; "-" when the pair gets
// no method; "!" + the code of an engine exception, or "!range" for a range error.
inline std::string MapText(const TField& aSource, const std::string& aSourceBytes, const TField& aTarget, TAct aAct) {
  TTestCursor source, target;
  TzfFieldDescriptor* s = source.Add(u"S", aSource.Type, aSource.Units, aSource.DecPl);
  TzfFieldDescriptor* d = target.Add(u"T", aTarget.Type, aTarget.Units, aTarget.DecPl);
  SetLocale(*s, aSource);
  SetLocale(*d, aTarget);
  const TzfDataLossAction action = aAct == B ? dlaBestFit : aAct == N ? dlaNull : dlaFail;
  TzfFieldMapperDescriptor desc(u"S", u"T", action);
  TzfMappingMethod method;
  try {
    auto mapper = TzfBaseFieldMapper::CreateMapper(*s, &source, *d, &target, aAct == X ? nullptr : &desc, method);
    if (!method.IsSet()) return "-";
    std::vector<uint8_t> from(static_cast<size_t>(s->fdLength), 0xCC);
    for (size_t i = 0; i < aSourceBytes.size() && i < from.size(); ++i) from[i] = static_cast<uint8_t>(aSourceBytes[i]);
    std::vector<uint8_t> to(static_cast<size_t>(d->fdLength), 0xEE);
    const uint32_t result = method(from.data(), to.data());
    if (result == 10002) return to == std::vector<uint8_t>(to.size(), 0xEE) ? "E" : "E:" + HexOf(to);
    if (result != 0) return "R" + std::to_string(result) + ":" + HexOf(to);
    return HexOf(to);
  } catch (const EzfBaseException& e) {
    return "!" + std::to_string(e.ErrorCode());
  } catch (const rtl::ERangeError&) {
    return "!range";
  }
}

struct TTextCase {
  TField Source;
  std::string Bytes;
  TField Target;
  TAct Act;
  std::string Expected;
};

inline void RunTextCases(const std::vector<TTextCase>& aCases) {
  for (size_t i = 0; i < aCases.size(); ++i) {
    const TTextCase& c = aCases[i];
    EXPECT_EQ(MapText(c.Source, c.Bytes, c.Target, c.Act), c.Expected)
        << "case " << i << ": type " << int(c.Source.Type) << "(" << c.Source.Units << "," << c.Source.DecPl
        << ") cp " << c.Source.Cp << " -> type " << int(c.Target.Type) << "(" << c.Target.Units << ","
        << c.Target.DecPl << ") cp " << c.Target.Cp << " action " << int(c.Act);
  }
}

}  // namespace zf::test
