#include "platform/rtl/rtlAnsiString.h"

#include <atomic>

namespace zf::rtl {

namespace {
std::atomic<uint16_t> gSystemAnsiCodePage{1252};
}

uint16_t SystemAnsiCodePage() { return gSystemAnsiCodePage.load(std::memory_order_relaxed); }
void SetSystemAnsiCodePage(uint16_t aCodePage) { gSystemAnsiCodePage.store(aCodePage, std::memory_order_relaxed); }

}  // namespace zf::rtl
