// Composite key field engines: how two values of one key field compare.
//
// The key engines of the index layer build and compare whole keys; validations of the dictionary
// (minimum/maximum, no change) only need to compare two values of one field the way a key field
// descriptor says. The dictionary cannot include the index layer, so the engine base and its
// registry live here: validations call TzfCompositeKeyFieldEngine::CreateEngine with a key field
// descriptor, the engine is found by the descriptor's key field engine name, and the index layer
// replaces the default with its full engine (text under a locale's rules included) when it starts.
//
// The engine registered here as "zf1xDefault" (also what an empty name selects) compares every
// field type by its native value: numbers, dates and times by value, packed decimals by value,
// byte arrays, GUIDs and booleans by their bytes, and text by code units (bytes for 8-bit text)
// when the key field's text has no locale to sort by. Text under a locale is refused with 12289
// unless the index layer, which registers an engine that sorts by locale, has been started.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "dictionary/zfsdTypes.h"
#include "foundation/zfllException.h"
#include "foundation/zfllRegisterableEngine.h"

namespace zf {

class TzfKeyFieldDescriptor;
class TzfCompositeKeyFieldEngine;

ZF_DECLARE_ENGINE_EXCEPTION(EzfCompositeKeyFieldEngineException, EzfBaseException)

// Implemented by the data dictionary: whether wide text without a locale compares by code units
// in its tables. Outside a dictionary that answers, the "Disable30900LocaleFixes" switch decides
// (code units unless it is set).
class IzfWideStringOrder {
 public:
  virtual bool UseByteOrderForWideString() const = 0;

 protected:
  ~IzfWideStringOrder() = default;
};

// Class reference of a key field engine, with its virtual constructor.
struct TzfCompositeKeyFieldEngineClass : TzfRegisterableClass {
  using TCreate = std::unique_ptr<TzfCompositeKeyFieldEngine> (*)(TzfKeyFieldDescriptor& aKeyField);
  TzfCompositeKeyFieldEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TCreate aCreate,
                                  TzfGetListProc aGetList = nullptr)
      : TzfRegisterableClass(aName, aParent, aGetList), Create(aCreate) {}
  TCreate Create;
};

// What a key field engine took from its key field descriptor when it was made.
struct TzfKeyFieldSetup {
  TzfFieldType FieldType = zftBoolean;
  int32_t Length = 0;          // storage length of the field
  int32_t KeyLength = 0;       // bytes of the value the key uses (byte arrays may be cut shorter)
  int32_t KeyChars = 0;        // characters of text the key uses (0 = all)
  bool Ascending = true;
  bool IgnoreCase = false;
  uint32_t Locale = 0;         // 0: no locale
  uint32_t CompareFlags = 0;   // the five compare options of the locale descriptor
  uint16_t CompareCodePage = 0;
  bool OtherSortRules = false; // the locale's sorting rules changed since the key was built
  bool UseByteOrder = false;   // wide text without a locale compares by code units
};

class TzfCompositeKeyFieldEngine : public TzfBaseRegisterableEngine {
 public:
  // The family root: owns the registry of key field engine classes.
  static const TzfCompositeKeyFieldEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // Looks aKeyField's key field engine name up (empty: "zf1xDefault") under a process-wide lock
  // and makes that engine for the key field; the caller owns it. An unknown name raises 15503
  // 'CompositeKeyFieldEngine "%s" is not registered'.
  static std::unique_ptr<TzfCompositeKeyFieldEngine> CreateEngine(TzfKeyFieldDescriptor& aKeyFieldDescriptor);

  static void RegisterKeyFieldEngine(const TzfCompositeKeyFieldEngineClass& aClass, UnicodeStringView aName = {});
  static void UnregisterKeyFieldEngine(const TzfCompositeKeyFieldEngineClass& aClass);

  // -1, 0 or 1 as the first value sorts before, equal to or after the second under the key
  // field's settings. Both point at a value of the field in record form (never NULL).
  std::function<int8_t(const uint8_t* aField1, const uint8_t* aField2)> CompareFieldDirect;

  const TzfKeyFieldSetup& Setup() const { return ckfeSetup; }

 protected:
  // Takes the field, its used locale and the key field's settings from aKeyField.
  explicit TzfCompositeKeyFieldEngine(TzfKeyFieldDescriptor& aKeyField);

  TzfKeyFieldDescriptor& ckfeKeyField;
  TzfKeyFieldSetup ckfeSetup;
};

// Compares two native values of a field by value, ascending, without locale: -1, 0 or 1. Text is
// compared by bytes (8-bit) or code units (wide), up to aSetup.KeyChars characters when set.
int8_t zfCompareNativeFieldValues(const TzfKeyFieldSetup& aSetup, const uint8_t* aValue1, const uint8_t* aValue2);

// True for the field types whose values compare as text.
constexpr bool zfIsTextFieldType(TzfFieldType aType) {
  return aType == zftChar || aType == zftWideChar || aType == zftShortString || aType == zftNullString ||
         aType == zftWideString || aType == zftBlobMemo || aType == zftBlobWideMemo;
}

// The name an empty key field engine name selects.
inline constexpr const char16_t* zfDefaultKeyFieldEngineName = u"zf1xDefault";

// The dictionary's own default engine (native values; no text under a locale). The index layer
// replaces it under zfDefaultKeyFieldEngineName while it runs and puts it back when it stops.
const TzfCompositeKeyFieldEngineClass& zfNativeKeyFieldEngineClass();

rtl::TUnitInit& zfsdKeyFieldEngineUnit();

}  // namespace zf
