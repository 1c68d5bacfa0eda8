#include "index/zfsdFilterEngineHub.h"

#include <algorithm>

#include "foundation/zfllErrors.h"
#include "index/zfsdFilterEngineCallback.h"
#include "platform/rtl/rtlException.h"

namespace zf {

namespace {

[[noreturn]] void RaiseListIndex(int32_t aInx) {
  throw rtl::EListError(u"List index out of bounds (" + rtl::IntToStr(aInx) + u")");
}

}  // namespace

// ---- TzfFilterDescriptorHub ----

const TzfFilterDescriptorClass& TzfFilterDescriptorHub::ClassInfo() {
  static const TzfFilterDescriptorClass info(
      u"TzfFilterDescriptorHub", &TzfBaseFilterDescriptor::ClassInfo(),
      [](rtl::TStream&) -> std::unique_ptr<TzfBaseFilterDescriptor> { zfRaiseNoStreamForm(u"TzfFilterDescriptorHub"); });
  return info;
}

void TzfFilterDescriptorHub::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfBaseFilterDescriptor::AddExceptionData(aContainer);
  for (size_t i = 0; i < fdhList.size(); ++i)
    aContainer.AddObject(u"Filters[" + rtl::IntToStr(static_cast<int32_t>(i)) + u"]", fdhList[i].get());
}

void TzfFilterDescriptorHub::AddFilter(std::unique_ptr<TzfBaseFilterDescriptor> aFilter) {
  fdhList.push_back(std::move(aFilter));
}

void TzfFilterDescriptorHub::RemoveFilter(int32_t aInx) {
  if (aInx < 0 || aInx >= Count()) RaiseListIndex(aInx);
  fdhList.erase(fdhList.begin() + aInx);
}

void TzfFilterDescriptorHub::RemoveFilter(TzfBaseFilterDescriptor* aFilter) {
  auto it = std::find_if(fdhList.begin(), fdhList.end(), [&](const auto& p) { return p.get() == aFilter; });
  if (it == fdhList.end()) RaiseListIndex(-1);
  fdhList.erase(it);
}

TzfBaseFilterDescriptor* TzfFilterDescriptorHub::Filter(int32_t aInx) const {
  if (aInx < 0 || aInx >= Count()) RaiseListIndex(aInx);
  return fdhList[static_cast<size_t>(aInx)].get();
}

// ---- TzfFilterEngineHub ----

const TzfFilterEngineClass& TzfFilterEngineHub::ClassInfo() {
  static const TzfFilterEngineClass info(
      u"TzfFilterEngineHub", &TzfBaseFilterEngine::ClassInfo(),
      [](TzfBaseFilterDescriptor* d, IzfFieldsSource* s) -> std::unique_ptr<TzfBaseFilterEngine> {
        return std::make_unique<TzfFilterEngineHub>(d, s);
      });
  return info;
}

TzfFilterEngineHub::TzfFilterEngineHub(std::unique_ptr<TzfBaseFilterEngine> aFilter1,
                                       std::unique_ptr<TzfBaseFilterEngine> aFilter2)
    : TzfBaseFilterEngine(nullptr, aFilter1 ? aFilter1->FieldsSource() : nullptr) {
  fehList.push_back(std::move(aFilter1));
  fehList.push_back(std::move(aFilter2));
}

TzfFilterEngineHub::TzfFilterEngineHub(TzfBaseFilterDescriptor* aDescriptor, IzfFieldsSource* aFieldsSource)
    : TzfBaseFilterEngine(aDescriptor, aFieldsSource) {
  if (!aDescriptor) return;
  auto* d = dynamic_cast<TzfFilterDescriptorHub*>(aDescriptor);
  if (!d) throw rtl::EInvalidCast(u"Invalid class typecast");
  for (const auto& m : d->fdhList) fehList.push_back(CreateFor(*m, aFieldsSource));
}

TzfFilterEngineHub::~TzfFilterEngineHub() {
  while (!fehList.empty()) fehList.pop_back();  // last member first
}

void TzfFilterEngineHub::AddFilter(std::unique_ptr<TzfBaseFilterEngine> aFilter) { fehList.push_back(std::move(aFilter)); }

void TzfFilterEngineHub::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfBaseFilterEngine::AddExceptionData(aContainer);
  for (size_t i = 0; i < fehList.size(); ++i)
    aContainer.AddObject(u"Filters[" + rtl::IntToStr(static_cast<int32_t>(i)) + u"]", fehList[i].get());
}

bool TzfFilterEngineHub::IsActive() {
  return std::any_of(fehList.begin(), fehList.end(), [](const auto& m) { return m->IsActive(); });
}

std::unique_ptr<TzfBaseFilterEngine> TzfFilterEngineHub::Duplicate(IzfFieldsSource* aFieldsSource) {
  auto hub = std::make_unique<TzfFilterEngineHub>(nullptr, aFieldsSource);
  for (const auto& m : fehList) hub->AddFilter(m->Duplicate(aFieldsSource));
  return hub;
}

std::unique_ptr<TzfBaseFilterDescriptor> TzfFilterEngineHub::CreateDescriptor() {
  auto d = std::make_unique<TzfFilterDescriptorHub>();
  for (const auto& m : fehList) d->AddFilter(m->CreateDescriptor());
  return d;
}

bool TzfFilterEngineHub::MatchesBuffer(const uint8_t* aBuffer) {
  for (const auto& m : fehList)
    if (!m->MatchesBuffer(aBuffer)) return false;
  return true;
}

uint32_t TzfFilterEngineHub::RemoveFilter(TzfFilterID aFilterID, std::unique_ptr<TzfBaseFilterEngine>& aFilterVar) {
  if (aFilterID == FilterID()) return TzfBaseFilterEngine::RemoveFilter(aFilterID, aFilterVar);
  auto it = std::find_if(fehList.begin(), fehList.end(), [&](const auto& m) { return m->FilterID() == aFilterID; });
  if (it == fehList.end()) return zfErrInvalidFilterHandle;
  if (aFilterVar.get() != this) rtl::AssertionFailure("zfsdFilterEngineHub", __LINE__);
  fehList.erase(it);
  if (fehList.size() == 1) {
    std::unique_ptr<TzfBaseFilterEngine> last = std::move(fehList.front());
    fehList.clear();
    aFilterVar = std::move(last);  // frees this hub: nothing of it is touched afterwards
  } else if (fehList.empty()) {
    aFilterVar.reset();
  }
  return zfErrNone;
}

uint32_t TzfFilterEngineHub::ForMembers(TzfFilterID aFilterID, bool aActivate) {
  uint32_t r = zfErrInvalidFilterHandle;
  for (const auto& m : fehList) {
    r = aActivate ? m->ActivateFilter(aFilterID) : m->DeactivateFilter(aFilterID);
    if (aFilterID != 0 && r == zfErrNone) break;
  }
  return r;
}

uint32_t TzfFilterEngineHub::ActivateFilter(TzfFilterID aFilterID) { return ForMembers(aFilterID, true); }

uint32_t TzfFilterEngineHub::DeactivateFilter(TzfFilterID aFilterID) { return ForMembers(aFilterID, false); }

void TzfFilterEngineHub::Disconnect() {
  TzfBaseFilterEngine::Disconnect();
  for (const auto& m : fehList) m->Disconnect();
}

bool TzfFilterEngineHub::IsEvalLocal() {
  return std::any_of(fehList.begin(), fehList.end(), [](const auto& m) { return m->IsEvalLocal(); });
}

bool TzfFilterEngineHub::IsEvalRemote() {
  return std::any_of(fehList.begin(), fehList.end(), [](const auto& m) { return m->IsEvalRemote(); });
}

namespace {

void Start() {
  TzfBaseFilterDescriptor::RegisterFilterDescriptor(TzfFilterDescriptorHub::ClassInfo());
  TzfBaseFilterEngine::RegisterFilterEngine(TzfFilterEngineHub::ClassInfo());
}

void Stop() {
  TzfBaseFilterEngine::UnregisterFilterEngine(TzfFilterEngineHub::ClassInfo());
  TzfBaseFilterDescriptor::UnregisterFilterDescriptor(TzfFilterDescriptorHub::ClassInfo());
}

}  // namespace

rtl::TUnitInit& zfsdFilterEngineHubUnit() {
  static rtl::TUnitInit unit("zfsdFilterEngineHub", &Start, &Stop);
  return unit;
}

}  // namespace zf
