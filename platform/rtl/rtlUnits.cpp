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

void TLayerStartup::Start() {
  std::lock_guard<std::mutex> g(FLock);
  if (FCount > 0) {
    ++FCount;
    return;
  }
  if (!FBuilt) {
    FList = FBuild();
    FBuilt = true;
  }
  if (FStartBelow) FStartBelow();
  try {
    FList.StartAll();
  } catch (...) {
    if (FStopBelow) FStopBelow();
    throw;
  }
  FCount = 1;
}

void TLayerStartup::Stop() {
  std::lock_guard<std::mutex> g(FLock);
  if (FCount == 0) return;
  if (--FCount > 0) return;
  std::exception_ptr failure;
  try {
    FList.StopAll();
  } catch (...) {
    failure = std::current_exception();
  }
  if (FStopBelow) FStopBelow();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace zf::rtl
