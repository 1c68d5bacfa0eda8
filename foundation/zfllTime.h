// Local time for components and logs: the current local time as a TDateTime and the machine's
// time-zone bias in minutes (UTC = local time + bias, so zones east of UTC have a negative bias).
#pragma once
#include <cstdint>

#include "platform/rtl/rtlText.h"

namespace zf::rtl {
using TDateTime = double;
}

namespace zf {

zf::rtl::TDateTime zfNowLocal();
// Raises the engine's OS error with the action "GetTimeZoneInformation" when the zone cannot be read.
int32_t zfLocalTimeBias();
// The platform's FormatDateTime for the pattern letters the logs use.
zf::rtl::UnicodeString zfFormatDateTime(zf::rtl::UnicodeStringView aFormat, zf::rtl::TDateTime aValue);

}  // namespace zf
