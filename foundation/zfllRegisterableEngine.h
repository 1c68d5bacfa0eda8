// Registries of classes by name. The engine never names a concrete engine or descriptor class in
// the code that uses it: each family of classes keeps a registry from names to classes, filled by
// the units that define the classes when they start and emptied when they stop, and users find a
// class by a name stored in a table file or derived from another class's name.
//
// A class reference is the class's static TzfRegisterableClass (name, parent, family registry);
// a family derives its own class-info type from it and adds its virtual constructor, e.g.
//
//   struct TzfFilterEngineClass : TzfRegisterableClass {
//     TzfBaseFilterEngine* (*Create)(TzfFilterDescriptor* aDescriptor);
//   };
//
// A family is a class whose class info names a registry variable (GetList, usually
// &zfFamilyList<Family>); its descendants pass nullptr and share that registry. The two bases
// have none: registering on them is an internal error.
#pragma once
#include <memory>
#include <utility>
#include <vector>

#include "foundation/zfllException.h"
#include "foundation/zfllPersistent.h"
#include "platform/rtl/rtlRegistry.h"
#include "platform/rtl/rtlText.h"

namespace zf {

using rtl::UnicodeString;
using rtl::UnicodeStringView;

class TzfRegisterableClass;
// A family's registry: names (case ignored) to classes; one class may stand under several names.
using TzfClassRegistry = rtl::TNameRegistry<const TzfRegisterableClass*>;
// The address of a family's registry variable (empty until the first registration).
using TzfClassRegistryVar = std::unique_ptr<TzfClassRegistry>;
using TzfGetListProc = TzfClassRegistryVar* (*)();

// The registry variable of a family, one per tag type.
template <typename TFamily>
TzfClassRegistryVar* zfFamilyList() {
  static TzfClassRegistryVar v;
  return &v;
}

class TzfRegisterableClass {
 public:
  // aGetList: the family's registry variable; nullptr inherits the parent's.
  constexpr TzfRegisterableClass(const char16_t* aName, const TzfRegisterableClass* aParent,
                                 TzfGetListProc aGetList = nullptr)
      : Name(aName), Parent(aParent), FGetList(aGetList) {}
  virtual ~TzfRegisterableClass() = default;

  const char16_t* Name;
  const TzfRegisterableClass* Parent;

  bool InheritsFrom(const TzfRegisterableClass* aOther) const;
  // The family's registry variable: this class's own or the nearest ancestor's; nullptr on the
  // bases (no family).
  TzfGetListProc GetList() const;

 private:
  TzfGetListProc FGetList;
};

using TzfRegisteredClasses = std::vector<std::pair<UnicodeString, const TzfRegisterableClass*>>;

// Base of every engine found by name (default-value, validation, filter, key, mapper, full-text
// and referential-integrity engines).
class TzfBaseRegisterableEngine : public TzfPersistent {
 public:
  static const TzfRegisterableClass& ClassInfo();
  virtual const TzfRegisterableClass& ClassType() const { return ClassInfo(); }
  const char16_t* ClassName() const override { return ClassType().Name; }

  // Adds aClass to its family's registry under aName, or under its class name when aName is
  // empty. A name already present raises EStringListError "String list does not allow duplicates"
  // and changes nothing. Called from unit starts.
  static void RegisterEngine(const TzfRegisterableClass& aClass, UnicodeStringView aName = {});
  // Removes every name of aClass; an emptied registry is freed. Called from unit stops.
  static void UnregisterEngine(const TzfRegisterableClass& aClass);
  // The class registered under aName in aFamily's registry; nullptr when there is none.
  static const TzfRegisterableClass* FindEngineClass(const TzfRegisterableClass& aFamily, UnicodeStringView aName);
  // The names with their classes, in name order; without aliases only the entries named like
  // their class.
  static TzfRegisteredClasses GetRegisteredEngines(const TzfRegisterableClass& aFamily, bool aIncludeAliases);
};

// Root of the exceptions of descriptors found by name that are not dictionary items (mapper
// descriptors and the like); each family derives its own.
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseRegisterableDescriptorException, EzfBaseException)

// Base of every descriptor found by name (dictionary items, filter, mapper and other descriptors).
class TzfBaseRegisterableDescriptor : public TzfPersistent {
 public:
  static const TzfRegisterableClass& ClassInfo();
  virtual const TzfRegisterableClass& ClassType() const { return ClassInfo(); }
  const char16_t* ClassName() const override { return ClassType().Name; }

  static void RegisterDescriptor(const TzfRegisterableClass& aClass, UnicodeStringView aName = {});
  static void UnregisterDescriptor(const TzfRegisterableClass& aClass);
  static const TzfRegisterableClass* FindDescriptorClass(const TzfRegisterableClass& aFamily, UnicodeStringView aName);
  static TzfRegisteredClasses GetRegisteredDescriptors(const TzfRegisterableClass& aFamily, bool aIncludeAliases);
};

// Typed lookups for a family whose classes carry the class-info type TClass: nullptr when the
// name is unknown or names a class of another type.
template <typename TClass>
const TClass* zfFindEngineClass(const TzfRegisterableClass& aFamily, UnicodeStringView aName) {
  return dynamic_cast<const TClass*>(TzfBaseRegisterableEngine::FindEngineClass(aFamily, aName));
}
template <typename TClass>
const TClass* zfFindDescriptorClass(const TzfRegisterableClass& aFamily, UnicodeStringView aName) {
  return dynamic_cast<const TClass*>(TzfBaseRegisterableDescriptor::FindDescriptorClass(aFamily, aName));
}

}  // namespace zf
