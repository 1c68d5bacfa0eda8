#include "storage/zfsrSubEngineBase.h"

#include <algorithm>
#include <mutex>

#include "platform/rtl/rtlException.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfsrSubEngineBase";

// The list of kinds: changed at start-up and shut-down only; the mutex keeps a late lookup from
// another thread safe all the same.
std::mutex& KindsLock() {
  static std::mutex m;
  return m;
}
std::unique_ptr<std::vector<const TzfSubEngineClass*>>& Kinds() {
  static std::unique_ptr<std::vector<const TzfSubEngineClass*>> v;
  return v;
}

void CheckTable(const std::vector<const TzfSubEngineClass*>& aKinds, TzfBaseTableDescriptor& aTable) {
  for (const TzfSubEngineClass* kind : aKinds)
    if (kind->CheckValidDescriptor) kind->CheckValidDescriptor(aTable);
  if (aTable.tdTablesDescriptor)
    for (auto& nested : aTable.tdTablesDescriptor->TableDescriptor) CheckTable(aKinds, *nested);
}

}  // namespace

const TzfSubEngineClass& TzfBaseSubEngine::ClassInfo() {
  static const TzfSubEngineClass info(u"TzfBaseSubEngine", nullptr, nullptr, u"", nullptr);
  return info;
}

TzfClassRegistryVar* TzfBaseSubEngine::GetList(const TzfSubEngineClass& aClass) {
  TzfGetListProc getList = aClass.GetList();
  if (!getList) rtl::AssertionFailure(kUnit, 88);
  return getList();
}

void TzfBaseSubEngine::RegisterEngine(const TzfSubEngineClass& aClass, UnicodeStringView aName) {
  GetList(aClass);
  TzfBaseRegisterableEngine::RegisterEngine(aClass, aName.empty() ? UnicodeStringView(aClass.Name) : aName);
}

void TzfBaseSubEngine::UnregisterEngine(const TzfSubEngineClass& aClass) {
  GetList(aClass);
  TzfBaseRegisterableEngine::UnregisterEngine(aClass);
}

const TzfSubEngineClass* TzfBaseSubEngine::FindEngineClass(const TzfSubEngineClass& aKind, UnicodeStringView aName) {
  GetList(aKind);
  return dynamic_cast<const TzfSubEngineClass*>(TzfBaseRegisterableEngine::FindEngineClass(aKind, aName));
}

void TzfBaseSubEngine::CheckValidAll(TzfBaseTableDescriptor& aTable) { CheckTable(zfSubEngineBases(), aTable); }

void zfRegisterSubEngineBase(const TzfSubEngineClass& aKind, const TzfSubEngineClass* aBefore) {
  std::lock_guard g(KindsLock());
  if (!Kinds()) Kinds() = std::make_unique<std::vector<const TzfSubEngineClass*>>();
  auto& kinds = *Kinds();
  kinds.insert(aBefore ? std::find(kinds.begin(), kinds.end(), aBefore) : kinds.end(), &aKind);
}

void zfUnregisterSubEngineBase(const TzfSubEngineClass& aKind) {
  std::lock_guard g(KindsLock());
  if (!Kinds()) return;
  std::erase(*Kinds(), &aKind);
  if (Kinds()->empty()) Kinds().reset();
}

std::vector<const TzfSubEngineClass*> zfSubEngineBases() {
  std::lock_guard g(KindsLock());
  return Kinds() ? *Kinds() : std::vector<const TzfSubEngineClass*>{};
}

rtl::TUnitInit& zfsrSubEngineBaseUnit() {
  static rtl::TUnitInit unit("zfsrSubEngineBase", nullptr, nullptr);
  return unit;
}

}  // namespace zf
