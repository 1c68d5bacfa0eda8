// Default-value engines and the handler that applies them to record buffers.
//
// A handler is built for one fields descriptor and one side (server or client): one engine per
// field whose default applies on that side, pre-sorted into the lists for insert and modify,
// each split by whether the default may overwrite a value. Applying defaults to a record then only
// walks those lists and tests null bits.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "dictionary/zfsdCursorContext.h"
#include "dictionary/zfsdDefaultValueDescriptor.h"
#include "foundation/zfllException.h"
#include "foundation/zfllRegisterableEngine.h"

namespace zf {

class TzfBaseDefaultValueEngine;
class TzfFieldDescriptor;
class TzfFieldsDescriptor;
using PzfByteArray = uint8_t*;

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseRegisterableEngineException, EzfBaseException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseDefaultValueEngineException, EzfBaseRegisterableEngineException)

// The engine class name that belongs to a descriptor class name: every "Descriptor" (case
// ignored) replaced by "Engine".
UnicodeString zfEngineNameForDescriptor(UnicodeStringView aDescriptorClassName);

struct TzfDefaultValueEngineClass : TzfRegisterableClass {
  using TCreate = std::unique_ptr<TzfBaseDefaultValueEngine> (*)(TzfBaseDefaultValueDescriptor& aDescriptor,
                                                                  IzfCursorContext* aCursor);
  TzfDefaultValueEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TCreate aCreate,
                             TzfGetListProc aGetList = nullptr)
      : TzfRegisterableClass(aName, aParent, aGetList), Create(aCreate) {}
  TCreate Create;
};

class TzfBaseDefaultValueEngine : public TzfBaseRegisterableEngine {
 public:
  static const TzfDefaultValueEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  TzfBaseDefaultValueEngine(TzfBaseDefaultValueDescriptor& aDescriptor, IzfCursorContext* aCursor);

  // The engine of aDescriptor's class (its name with "Descriptor" replaced by "Engine"), found
  // once and kept in the descriptor; 15503 'Unknown %s engine: "%s"' when none is registered.
  static std::unique_ptr<TzfBaseDefaultValueEngine> CreateFor(TzfBaseDefaultValueDescriptor& aDescriptor,
                                                              IzfCursorContext* aCursor);

  // Writes the default into the field's bytes; answers whether a value was set.
  virtual bool SetDefaultValue(PzfByteArray aFieldValue) = 0;

  TzfBaseDefaultValueDescriptor& bdceDescriptor;
  TzfFieldDescriptor& bdceFieldDescriptor;
};

class TzfDefaultValueHandler : public TzfObject {
 public:
  // The handler for the defaults of aFieldsDescriptor that apply at aApplyAt; nullptr when there
  // are none.
  static std::unique_ptr<TzfDefaultValueHandler> CreateFor(TzfFieldsDescriptor& aFieldsDescriptor, TzfApplyAt aApplyAt,
                                                           IzfCursorContext* aCursor);

  void SetDefaultValuesInsert(PzfByteArray aRecord);
  void SetDefaultValuesModify(PzfByteArray aRecord);
  // The default of field aField whatever its settings; False, nothing changed, when the field
  // has none on this side. A field number outside the fields raises ERangeError.
  bool SetDefaultValue(PzfByteArray aRecord, int32_t aField);

  TzfFieldsDescriptor& dvhFieldsDescriptor;
  std::vector<std::unique_ptr<TzfBaseDefaultValueEngine>> dvhEngines;
  std::vector<TzfBaseDefaultValueEngine*> dvhEnginesInsert[2];
  std::vector<TzfBaseDefaultValueEngine*> dvhEnginesModify[2];
  std::vector<TzfBaseDefaultValueEngine*> dvhEnginesByIndex;

 private:
  explicit TzfDefaultValueHandler(TzfFieldsDescriptor& aFieldsDescriptor) : dvhFieldsDescriptor(aFieldsDescriptor) {}
  void Apply(const std::vector<TzfBaseDefaultValueEngine*> (&aLists)[2], PzfByteArray aRecord);
  bool ApplyOne(TzfBaseDefaultValueEngine& aEngine, PzfByteArray aRecord);
};

rtl::TUnitInit& zfsdDefaultValueEngineUnit();

}  // namespace zf
