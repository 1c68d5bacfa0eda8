// The sub-engine framework: a table is stored by pluggable sub-engines of several kinds (stream,
// auto-increment, BLOB, block heap, heap, record, record compression, indices, index). The table's
// data dictionary names the engine of each kind by a registration name ("zf1xDefault"); the table
// never names an engine class.
//
// - `TzfBaseSubEngine`: the common base, holding the owner ID every block request names (`bseID`)
//   and the engine version of the table file (`bseTableVersion`).
// - One registry per kind: case-insensitive names to classes, duplicates refused. A kind is a
//   class whose class info names the registry variable (`zfFamilyList<Kind>`); its concrete
//   engines pass nullptr and register into their kind's registry. The registry is created by the
//   first registration and freed with its last entry.
// - The list of kinds (`zfRegisterSubEngineBase`), in registration order, which `CheckValidAll`
//   walks to check a whole dictionary against the registered engines.
//
// A kind follows one pattern (see zfsrStreamEngineBase.h for a complete one):
//
//   struct TzfFooEngineClass : TzfSubEngineClass {            // class info of the kind
//     TCreate Create;                                         // the kind's virtual constructor
//     void (*CheckValidEngineDescriptor)(TzfFooDescriptor*);  // engine-specific check
//   };
//   class TzfBaseFooEngine : public TzfBaseSubEngine {
//     static const TzfFooEngineClass& ClassInfo();            // GetList = &zfFamilyList<...>,
//                                                             // KindWord = "Foo",
//                                                             // CheckValidDescriptor = the kind's
//     static std::unique_ptr<TzfBaseFooEngine> CreateEngine(TzfFooDescriptor*, ...);
//     static void CheckValidFromDescriptor(TzfFooDescriptor*);
//   };
//
// `CreateEngine` and `CheckValidFromDescriptor` of every kind resolve the descriptor's engine name
// with `zfFindSubEngine` (a nil descriptor: no engine and nothing to check; an unknown name: the
// kind's exception with 15503 "Unknown %s engine: "%s"").
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "dictionary/zfsdTableDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllPersistent.h"
#include "foundation/zfllRegisterableEngine.h"
#include "platform/rtl/rtlUnits.h"
#include "storage/zfsrExceptions.h"

namespace zf {

class TzfDataDictionary;

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseSubEngineException, EzfServerException)

// Class info of a sub-engine class. On a kind's base class: the kind's word in messages and the
// kind's check of the part of a table descriptor it handles (nullptr: nothing to check).
struct TzfSubEngineClass : TzfRegisterableClass {
  using TCheckValidDescriptor = void (*)(TzfBaseTableDescriptor& aTable);
  constexpr TzfSubEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                              const char16_t* aKindWord, TCheckValidDescriptor aCheckValidDescriptor)
      : TzfRegisterableClass(aName, aParent, aGetList),
        KindWord(aKindWord),
        CheckValidDescriptor(aCheckValidDescriptor) {}

  const char16_t* KindWord;
  TCheckValidDescriptor CheckValidDescriptor;
};

class TzfBaseSubEngine : public TzfPersistent {
 public:
  // Stores the owner ID (the configuring descriptor's dictionary ID, 0 without one) and the engine
  // version of the table file.
  TzfBaseSubEngine(int32_t aID, int32_t aTableVersion) : bseID(aID), bseTableVersion(aTableVersion) {}
  ~TzfBaseSubEngine() override = default;

  static const TzfSubEngineClass& ClassInfo();
  virtual const TzfSubEngineClass& ClassType() const { return ClassInfo(); }
  const char16_t* ClassName() const override { return ClassType().Name; }

  // Adds aClass to its kind's registry under aName (the registry is made on first use). A name
  // already used in the kind raises EStringListError; the base class itself (no kind) is an
  // assertion failure.
  static void RegisterEngine(const TzfSubEngineClass& aClass, UnicodeStringView aName);
  // Removes every entry of aClass from its kind's registry; an emptied registry is freed. Nothing
  // happens when the registry does not exist.
  static void UnregisterEngine(const TzfSubEngineClass& aClass);
  // The class registered under aName (case ignored) in aKind's registry; nullptr when the kind has
  // no registry or no such name.
  static const TzfSubEngineClass* FindEngineClass(const TzfSubEngineClass& aKind, UnicodeStringView aName);
  // The registry variable of aClass's kind; the base class has none (assertion failure).
  static TzfClassRegistryVar* GetList(const TzfSubEngineClass& aClass);

  // Checks a whole table descriptor (a data dictionary, then its nested tables in order) against
  // every registered kind, in the order the kinds were registered. Raises the first failure.
  static void CheckValidAll(TzfBaseTableDescriptor& aTable);

  int32_t bseID;
  int32_t bseTableVersion;
};

// The kinds whose descriptors a dictionary check visits, appended in registration order. A kind
// of a higher layer, which starts after every storage kind, names with aBefore the registered kind
// it belongs in front of (appended when aBefore is not registered).
void zfRegisterSubEngineBase(const TzfSubEngineClass& aKind, const TzfSubEngineClass* aBefore = nullptr);
// Removes every occurrence of aKind; the list goes with its last kind.
void zfUnregisterSubEngineBase(const TzfSubEngineClass& aKind);
// The registered kinds in registration order (a copy).
std::vector<const TzfSubEngineClass*> zfSubEngineBases();

// Raises TException with 15503 "Unknown %s engine: "%s"" (the kind's word and the name).
template <typename TException>
[[noreturn]] void zfRaiseUnknownSubEngine(const TzfSubEngineClass& aKind, const UnicodeString& aName) {
  throw TException(zfErrSubEngineNotSupported, u"Unknown %s engine: \"%s\"",
                   {UnicodeString(aKind.KindWord), aName});
}

// The class registered as aName in aKind, of the kind's class-info type TClass; an unknown name
// (or a class of another type) raises TException with 15503.
template <typename TClass, typename TException>
const TClass& zfFindSubEngine(const TzfSubEngineClass& aKind, const UnicodeString& aName) {
  const TClass* c = dynamic_cast<const TClass*>(TzfBaseSubEngine::FindEngineClass(aKind, aName));
  if (!c) zfRaiseUnknownSubEngine<TException>(aKind, aName);
  return *c;
}

// The accessor list entry at aFileNumber: a number outside the list is a range error.
template <typename T>
T* zfSubEngineFile(const std::vector<T*>& aFiles, int32_t aFileNumber) {
  if (aFileNumber < 0 || static_cast<size_t>(aFileNumber) >= aFiles.size() || !aFiles[size_t(aFileNumber)])
    rtl::RaiseRangeError();
  return aFiles[size_t(aFileNumber)];
}

rtl::TUnitInit& zfsrSubEngineBaseUnit();

}  // namespace zf
