// Timings of the native value converter: reading a field into a Variant and writing a Variant into
// a field, per field type, as record copies and default values do field by field. Prints one line
// per figure (nanoseconds per call).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "dictionary/zfsdNativeVariantConverter.h"
#include "foundation/zfllStartup.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace zf;

template <typename F>
double NsPerCall(int64_t aCalls, F&& aBody) {
  const auto t0 = Clock::now();
  for (int64_t i = 0; i < aCalls; ++i) aBody(i);
  return std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / double(aCalls);
}

struct Row {
  const char* name;
  TzfFieldType type;
  uint16_t cp;
  int32_t units, decpl, length;
  rtl::Variant value;
};

}  // namespace

int main() {
  zfStartFoundation();
  rtl::TBcd bcd;
  rtl::TryStrToBcd(u"-12345.67", bcd);
  const Row rows[] = {
      {"Int32", zftInt32, 0, 0, 0, 4, rtl::Variant(123456)},
      {"Double", zftDouble, 0, 0, 0, 8, rtl::Variant(3.25)},
      {"DateTime", zftDateTime, 0, 0, 0, 8, rtl::Variant::FromDate(46366.5)},
      {"Currency", zftCurrency, 0, 0, 0, 8, rtl::Variant(rtl::Currency{123456})},
      {"NullString(20) cp 0", zftNullString, 0, 20, 0, 21, rtl::Variant(u"Build step 17 done")},
      {"NullString(20) cp 1252", zftNullString, 1252, 20, 0, 21, rtl::Variant(u"Build step 17 done")},
      {"NullString(20) cp 65001", zftNullString, 65001, 20, 0, 21, rtl::Variant(u"Build step 17 done")},
      {"WideString(20)", zftWideString, 0, 20, 0, 42, rtl::Variant(u"Build step 17 done")},
      {"Guid", zftGuid, 0, 0, 0, 16, rtl::Variant(u"{54F6F091-45F0-4E16-8788-170EA7385BA4}")},
      {"FmtBCD(12,2)", zftFmtBCD, 0, 12, 2, 8, rtl::Variant(bcd)},
  };
  const int64_t calls = 200000;
  std::printf("%-26s %12s %12s\n", "field", "read ns", "write ns");
  for (const Row& r : rows) {
    std::vector<uint8_t> buf(static_cast<size_t>(r.length));
    VariantToBuffer(r.type, r.cp, r.units, r.decpl, r.value, buf.data(), r.length);
    rtl::Variant v;
    double read = NsPerCall(calls, [&](int64_t) { VariantFromBuffer(r.type, r.cp, r.units, r.decpl, buf.data(), r.length, v); });
    double write = NsPerCall(calls, [&](int64_t) { VariantToBuffer(r.type, r.cp, r.units, r.decpl, r.value, buf.data(), r.length); });
    std::printf("%-26s %12.1f %12.1f\n", r.name, read, write);
  }
  zfStopFoundation();
  return 0;
}
