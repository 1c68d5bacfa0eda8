#include "foundation/zfllTime.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <ctime>

#include "foundation/zfllException.h"

namespace zf {

namespace {

constexpr double kUnixDateDelta = 25569.0;

bool LocalParts(std::time_t aSeconds, std::tm& aParts) { return localtime_r(&aSeconds, &aParts) != nullptr; }

}  // namespace

zf::rtl::TDateTime zfNowLocal() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const int64_t ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
  std::tm parts{};
  const std::time_t secs = static_cast<std::time_t>(ms / 1000);
  const int64_t offset = LocalParts(secs, parts) ? parts.tm_gmtoff : 0;
  return kUnixDateDelta + static_cast<double>(ms + offset * 1000) / 86400000.0;
}

int32_t zfLocalTimeBias() {
  std::tm parts{};
  if (!LocalParts(std::time(nullptr), parts)) {
    zf::os::SetLastError(errno);
    zfRaiseLastOSError(u"GetTimeZoneInformation");
  }
  return static_cast<int32_t>(-parts.tm_gmtoff / 60);
}

zf::rtl::UnicodeString zfFormatDateTime(zf::rtl::UnicodeStringView aFormat, zf::rtl::TDateTime aValue) {
  // Whole milliseconds since 1899-12-30, the fraction counting forward from midnight.
  const int64_t totalMs = std::llround(aValue * 86400000.0);
  int64_t days = totalMs / 86400000;
  int64_t msOfDay = totalMs % 86400000;
  if (msOfDay < 0) {
    msOfDay += 86400000;
    --days;
  }
  // Civil date from days since 1970-01-01.
  int64_t z = days - static_cast<int64_t>(kUnixDateDelta) + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  const int64_t hh = msOfDay / 3600000, nn = (msOfDay / 60000) % 60, ss = (msOfDay / 1000) % 60, zz = msOfDay % 1000;

  auto pad = [](int64_t v, size_t width) {
    zf::rtl::UnicodeString s = zf::rtl::IntToStr(v);
    while (s.size() < width) s.insert(s.begin(), u'0');
    return s;
  };
  zf::rtl::UnicodeString out;
  size_t i = 0;
  bool lastWasHour = false;
  while (i < aFormat.size()) {
    const char16_t c = zf::rtl::AsciiLower(aFormat[i]);
    size_t n = 1;
    while (i + n < aFormat.size() && zf::rtl::AsciiLower(aFormat[i + n]) == c) ++n;
    switch (c) {
      case u'y': out += n <= 2 ? pad(y % 100, 2) : pad(y, 4); break;
      case u'm':
        if (lastWasHour) out += n >= 2 ? pad(nn, 2) : zf::rtl::IntToStr(nn);
        else out += n >= 2 ? pad(m, 2) : zf::rtl::IntToStr(m);
        break;
      case u'd': out += n >= 2 ? pad(d, 2) : zf::rtl::IntToStr(d); break;
      case u'h': out += n >= 2 ? pad(hh, 2) : zf::rtl::IntToStr(hh); break;
      case u'n': out += n >= 2 ? pad(nn, 2) : zf::rtl::IntToStr(nn); break;
      case u's': out += n >= 2 ? pad(ss, 2) : zf::rtl::IntToStr(ss); break;
      case u'z': out += n >= 3 ? pad(zz, 3) : zf::rtl::IntToStr(zz); break;
      case u'"':
      case u'\'': {
        size_t j = i + 1;
        while (j < aFormat.size() && aFormat[j] != aFormat[i]) out += aFormat[j++];
        i = j + 1;
        continue;
      }
      default: out.append(n, aFormat[i]); break;
    }
    if (c != u' ' && c != u':') lastWasHour = c == u'h';
    i += n;
  }
  return out;
}

}  // namespace zf
