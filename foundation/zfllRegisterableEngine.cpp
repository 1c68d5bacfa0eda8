#include "foundation/zfllRegisterableEngine.h"

#include <mutex>
#include <shared_mutex>

#include "platform/rtl/rtlException.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfllRegisterableEngine";
// Lines of the original unit at which a registration on a base class fails.
constexpr int kEngineBaseLine = 88;
constexpr int kDescriptorBaseLine = 165;

// Guards every family's registry variable: registrations come from unit starts and stops, lookups
// from anywhere, and a registry is freed when its last class goes.
std::shared_mutex& RegistriesLock() {
  static std::shared_mutex m;
  return m;
}

TzfClassRegistryVar& FamilyVar(const TzfRegisterableClass& aClass, int aBaseLine) {
  TzfGetListProc getList = aClass.GetList();
  if (!getList) rtl::AssertionFailure(kUnit, aBaseLine);
  return *getList();
}

void Register(const TzfRegisterableClass& aClass, UnicodeStringView aName, int aBaseLine) {
  TzfClassRegistryVar& list = FamilyVar(aClass, aBaseLine);
  UnicodeString name = aName.empty() ? UnicodeString(aClass.Name) : UnicodeString(aName);
  std::unique_lock g(RegistriesLock());
  bool created = !list;
  if (created) list = std::make_unique<TzfClassRegistry>();
  if (!list->Add(name, &aClass)) {
    if (created) list.reset();
    throw rtl::EStringListError(u"String list does not allow duplicates");
  }
}

void Unregister(const TzfRegisterableClass& aClass, int aBaseLine) {
  TzfClassRegistryVar& list = FamilyVar(aClass, aBaseLine);
  std::unique_lock g(RegistriesLock());
  if (!list) return;
  list->RemoveIf([&](const TzfRegisterableClass* c) { return c == &aClass; });
  if (list->Count() == 0) list.reset();
}

const TzfRegisterableClass* Find(const TzfRegisterableClass& aFamily, UnicodeStringView aName, int aBaseLine) {
  TzfClassRegistryVar& list = FamilyVar(aFamily, aBaseLine);
  std::shared_lock g(RegistriesLock());
  const TzfRegisterableClass* c = nullptr;
  if (!list || !list->Find(UnicodeString(aName), c)) return nullptr;
  return c;
}

TzfRegisteredClasses List(const TzfRegisterableClass& aFamily, bool aIncludeAliases, int aBaseLine) {
  TzfClassRegistryVar& list = FamilyVar(aFamily, aBaseLine);
  TzfRegisteredClasses r;
  {
    std::shared_lock g(RegistriesLock());
    if (list) r = list->Items();
  }
  if (!aIncludeAliases)
    std::erase_if(r, [](const auto& e) { return !rtl::SameText(e.first, e.second->Name); });
  return r;
}

}  // namespace

bool TzfRegisterableClass::InheritsFrom(const TzfRegisterableClass* aOther) const {
  for (const TzfRegisterableClass* c = this; c; c = c->Parent)
    if (c == aOther) return true;
  return false;
}

TzfGetListProc TzfRegisterableClass::GetList() const {
  for (const TzfRegisterableClass* c = this; c; c = c->Parent)
    if (c->FGetList) return c->FGetList;
  return nullptr;
}

// ---- Engines ----

const TzfRegisterableClass& TzfBaseRegisterableEngine::ClassInfo() {
  static const TzfRegisterableClass info(u"TzfBaseRegisterableEngine", nullptr);
  return info;
}

void TzfBaseRegisterableEngine::RegisterEngine(const TzfRegisterableClass& aClass, UnicodeStringView aName) {
  Register(aClass, aName, kEngineBaseLine);
}

void TzfBaseRegisterableEngine::UnregisterEngine(const TzfRegisterableClass& aClass) {
  Unregister(aClass, kEngineBaseLine);
}

const TzfRegisterableClass* TzfBaseRegisterableEngine::FindEngineClass(const TzfRegisterableClass& aFamily,
                                                                       UnicodeStringView aName) {
  return Find(aFamily, aName, kEngineBaseLine);
}

TzfRegisteredClasses TzfBaseRegisterableEngine::GetRegisteredEngines(const TzfRegisterableClass& aFamily,
                                                                     bool aIncludeAliases) {
  return List(aFamily, aIncludeAliases, kEngineBaseLine);
}

// ---- Descriptors ----

const TzfRegisterableClass& TzfBaseRegisterableDescriptor::ClassInfo() {
  static const TzfRegisterableClass info(u"TzfBaseRegisterableDescriptor", nullptr);
  return info;
}

void TzfBaseRegisterableDescriptor::RegisterDescriptor(const TzfRegisterableClass& aClass, UnicodeStringView aName) {
  Register(aClass, aName, kDescriptorBaseLine);
}

void TzfBaseRegisterableDescriptor::UnregisterDescriptor(const TzfRegisterableClass& aClass) {
  Unregister(aClass, kDescriptorBaseLine);
}

const TzfRegisterableClass* TzfBaseRegisterableDescriptor::FindDescriptorClass(const TzfRegisterableClass& aFamily,
                                                                               UnicodeStringView aName) {
  return Find(aFamily, aName, kDescriptorBaseLine);
}

TzfRegisteredClasses TzfBaseRegisterableDescriptor::GetRegisteredDescriptors(const TzfRegisterableClass& aFamily,
                                                                             bool aIncludeAliases) {
  return List(aFamily, aIncludeAliases, kDescriptorBaseLine);
}

}  // namespace zf
