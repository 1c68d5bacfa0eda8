#include "platform/gui/guiForms.h"

#include <algorithm>

namespace zf::gui {

void TProgressBar::SetMax(int32_t aMax) {
  const int32_t max = std::max<int32_t>(aMax, 0);
  const int32_t position = std::min(FPosition, max);
  if (max == FMax && position == FPosition) return;
  FMax = max;
  FPosition = position;
  Changed();
}

void TProgressBar::SetPosition(int32_t aPosition) {
  const int32_t position = std::clamp<int32_t>(aPosition, 0, FMax);
  if (position == FPosition) return;
  FPosition = position;
  Changed();
}

std::vector<std::pair<UnicodeString, UnicodeString>> SplitDialogFilter(const UnicodeString& aFilter) {
  std::vector<std::pair<UnicodeString, UnicodeString>> pairs;
  if (aFilter.empty()) return pairs;
  const std::vector<UnicodeString> parts = rtl::SplitString(aFilter, u'|');
  for (size_t i = 0; i + 1 < parts.size(); i += 2) pairs.emplace_back(parts[i], parts[i + 1]);
  return pairs;
}

}  // namespace zf::gui
