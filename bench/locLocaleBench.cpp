// Timings of the locale layer: locale comparison of short keys under the flags key engines use,
// beside a code-unit comparison of the same texts, sort-key building, and code-page conversion of
// 8-bit text (windows-1252, Shift-JIS, UTF-8) both ways. Prints one line per figure.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/locale/locCodePages.h"
#include "platform/locale/locCollation.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace zf::locale;

template <typename F>
double NsPerCall(int64_t aCalls, F&& aBody) {
  const auto t0 = Clock::now();
  for (int64_t i = 0; i < aCalls; ++i) aBody(i);
  return std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / double(aCalls);
}

std::vector<std::u16string> Keys() {
  std::vector<std::u16string> keys;
  const char16_t* stems[] = {u"Müller", u"Mueller", u"muller", u"Maier", u"co-op", u"coop", u"Ärger", u"Zebra"};
  for (int i = 0; i < 256; ++i) keys.push_back(std::u16string(stems[i % 8]) + u" " + char16_t(u'a' + i % 26));
  return keys;
}

void Comparisons() {
  auto keys = Keys();
  volatile int sink = 0;
  const int64_t calls = 400000;
  struct Row {
    const char* name;
    LCID lcid;
    uint32_t flags;
  } rows[] = {{"en-US", 0x0409, 0},
              {"en-US ignore case", 0x0409, NORM_IGNORECASE},
              {"en-US ignore non-space", 0x0409, NORM_IGNORENONSPACE},
              {"de-DE string sort", 0x0407, SORT_STRINGSORT},
              {"ja-JP ignore kana/width", 0x0411, NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH}};
  for (const auto& r : rows) {
    double ns = NsPerCall(calls, [&](int64_t i) {
      sink = CompareStringW(r.lcid, r.flags, keys[size_t(i) % 256], keys[size_t(i * 7 + 3) % 256]);
    });
    std::printf("CompareStringW %-26s %8.1f ns/call\n", r.name, ns);
  }
  double ord = NsPerCall(calls, [&](int64_t i) {
    sink = CompareStringOrdinal(keys[size_t(i) % 256], keys[size_t(i * 7 + 3) % 256], false);
  });
  std::printf("CompareStringOrdinal (code units)        %8.1f ns/call\n", ord);
  std::string key;
  double sk = NsPerCall(calls / 4, [&](int64_t i) { LCMapSortKey(0x0409, NORM_IGNORECASE, keys[size_t(i) % 256], key); });
  std::printf("LCMapSortKey en-US ignore case            %8.1f ns/call\n", sk);
}

void Conversions() {
  struct Row {
    const char* name;
    uint16_t cp;
    std::u16string text;
  } rows[] = {{"windows-1252", 1252, u"Grüße aus Köln, 12 € pro Stück; "},
              {"Shift-JIS (932)", 932, u"日本語のテキストとカタカナ、ABC 123。"},
              {"UTF-8", 65001, u"Grüße, 日本語, Ελληνικά, 😀 "}};
  for (auto& r : rows) {
    std::u16string text;
    for (int i = 0; i < 32; ++i) text += r.text;  // about 1 KB
    std::string bytes;
    std::u16string back;
    UnicodeToBytes(r.cp, text, bytes);
    const int64_t calls = 20000;
    double enc = NsPerCall(calls, [&](int64_t) { UnicodeToBytes(r.cp, text, bytes); });
    double dec = NsPerCall(calls, [&](int64_t) { BytesToUnicode(r.cp, bytes, back); });
    std::printf("%-16s encode %6zu units %8.0f ns (%.2f ns/unit), decode %8.0f ns\n", r.name, text.size(), enc,
                enc / double(text.size()), dec);
  }
}

}  // namespace

int main() {
  Comparisons();
  Conversions();
  return 0;
}
