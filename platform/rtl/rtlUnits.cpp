#include "platform/rtl/rtlUnits.h"

#include <exception>

namespace zf::rtl {

void TUnitInit::Initialize() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  if (FCount == 0 && FInit) FInit();
  ++FCount;
}

void TUnitInit::Finalize() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  if (FCount == 0) return;
  if (--FCount == 0 && FFini) FFini();
}

int32_t TUnitInit::Count() const {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return FCount;
}

void TStartupList::StartAll() {
  try {
    while (FStarted < FUnits.size()) {
      FUnits[FStarted]->Initialize();
      ++FStarted;
    }
  } catch (...) {
    try { StopAll(); } catch (...) {}
    throw;
  }
}

void TStartupList::StopAll() {
  std::exception_ptr first;
  while (FStarted > 0) {
    --FStarted;
    try {
      FUnits[FStarted]->Finalize();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

}  // namespace zf::rtl
