// Validation engines and the handler that runs them on records.
//
// A handler is built for one fields descriptor and one side (server or client): a record-level
// engine for the fields descriptor's validations and one engine per field that has validations
// (or, on the server, is required). Validating a record walks those engines in order and stops
// at the first failure, which raises an engine exception naming the validation and the field.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "dictionary/zfsdCursorContext.h"
#include "dictionary/zfsdDefaultValueEngine.h"
#include "dictionary/zfsdKeyFieldEngine.h"
#include "dictionary/zfsdValidationDescriptor.h"

namespace zf {

class TzfFieldsDescriptor;
class TzfFieldDescriptor;
class TzfBaseValidationsEngine;
class TzfBaseValidationEngine;

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseFieldValidationEngineException, EzfBaseRegisterableEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfMinMaxValidationEngineException, EzfBaseFieldValidationEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfNoChangeValidationEngineException, EzfBaseFieldValidationEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfNotNullValidationEngineException, EzfBaseFieldValidationEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfSqlCheckValidationEngineException, EzfBaseFieldValidationEngineException)

// ---- CHECK statements of an SQL layer ----

class TzfBaseSqlCheckStatement;
struct TzfSqlCheckStatementClass {
  std::unique_ptr<TzfBaseSqlCheckStatement> (*Create)(TzfFieldsDescriptor& aFieldsDescriptor,
                                                      TzfFieldDescriptor* aFieldDescriptor,
                                                      IzfCursorContext* aCursor, const UnicodeString& aSqlText);
};

// Evaluates one CHECK expression for a record (and a field, for a check in a field's list).
class TzfBaseSqlCheckStatement : public TzfObject {
 public:
  TzfBaseSqlCheckStatement(TzfFieldsDescriptor& aFieldsDescriptor, TzfFieldDescriptor* aFieldDescriptor,
                           IzfCursorContext* aCursor);
  virtual bool IsReadOnly() { return false; }
  virtual void GetNullValue(rtl::Variant& aValue) { aValue = rtl::Variant::Null(); }
  // True when the constraint holds for the pointers set by ValidateField.
  virtual bool Evaluate() = 0;
  // Sets the four pointers, evaluates (an exception counts as False), clears them.
  bool ValidateField(const uint8_t* aOldField, const uint8_t* aOldRecord, const uint8_t* aNewField,
                     const uint8_t* aNewRecord);

  TzfFieldsDescriptor& bscsFieldsDescriptor;
  TzfFieldDescriptor* bscsFieldDescriptor;
  int32_t bscsFieldIndex = -1;
  int32_t bscsFieldSize = 0;
  TzfFieldType bscsFieldType = zftBoolean;
  uint16_t bscsFieldCodepage = 0;
  int32_t bscsFieldUnits = 0;
  int32_t bscsFieldDecPl = 0;
  IzfCursorContext* bscsCursor;
  const uint8_t* bscsOldRecord = nullptr;
  const uint8_t* bscsOldField = nullptr;
  const uint8_t* bscsNewRecord = nullptr;
  const uint8_t* bscsNewField = nullptr;
};

// Set by an SQL layer; nothing in this system sets it, so CHECK constraints cannot be evaluated.
extern const TzfSqlCheckStatementClass* zfSqlCheckStatementClass;

// ---- Engines ----

class TzfBaseValidationsEngine : public TzfBaseRegisterableEngine {
 public:
  explicit TzfBaseValidationsEngine(TzfFieldsDescriptor& aFieldsDescriptor) : bveFieldsDescriptor(aFieldsDescriptor) {}
  virtual void ValidateRecord(const uint8_t* aOldRecord, const uint8_t* aNewRecord) = 0;
  int32_t EngineCount() const { return static_cast<int32_t>(veEngines.size()); }

  TzfFieldsDescriptor& bveFieldsDescriptor;
  std::vector<std::unique_ptr<TzfBaseValidationEngine>> veEngines;
};

struct TzfFieldsValidationsEngineClass : TzfRegisterableClass {
  using TCreate = std::unique_ptr<TzfBaseValidationsEngine> (*)(TzfFieldsDescriptor& aFieldsDescriptor,
                                                                 IzfCursorContext* aCursor, TzfApplyAt aApplyAt,
                                                                 TzfFieldValidationsDescriptor* aValidations,
                                                                 TzfFieldDescriptor* aFieldDescriptor);
  TzfFieldsValidationsEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TCreate aCreate,
                                  TzfGetListProc aGetList)
      : TzfRegisterableClass(aName, aParent, aGetList), Create(aCreate) {}
  TCreate Create;
};

// The record-level validations of a fields descriptor.
class TzfFieldsValidationsEngine : public TzfBaseValidationsEngine {
 public:
  static const TzfFieldsValidationsEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  TzfFieldsValidationsEngine(TzfFieldsDescriptor& aFieldsDescriptor, IzfCursorContext* aCursor, TzfApplyAt aApplyAt,
                             TzfFieldsValidationsDescriptor* aValidations);
  // nullptr without validations or when none applies at aApplyAt.
  static std::unique_ptr<TzfBaseValidationsEngine> CreateFor(TzfFieldsDescriptor& aFieldsDescriptor,
                                                             TzfApplyAt aApplyAt, IzfCursorContext* aCursor);
  void ValidateRecord(const uint8_t* aOldRecord, const uint8_t* aNewRecord) override;

  TzfFieldsValidationsDescriptor* veFieldsValidationsDescriptor;
};

// The validations of one field, with the required check first on the server.
class TzfFieldValidationsEngine : public TzfBaseValidationsEngine {
 public:
  static const TzfFieldsValidationsEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  TzfFieldValidationsEngine(TzfFieldsDescriptor& aFieldsDescriptor, IzfCursorContext* aCursor, TzfApplyAt aApplyAt,
                            TzfFieldValidationsDescriptor* aValidations, TzfFieldDescriptor& aFieldDescriptor);
  static std::unique_ptr<TzfBaseValidationsEngine> CreateFor(TzfFieldsDescriptor& aFieldsDescriptor,
                                                             int32_t aFieldIndex, TzfApplyAt aApplyAt,
                                                             IzfCursorContext* aCursor);
  void ValidateRecord(const uint8_t* aOldRecord, const uint8_t* aNewRecord) override;

  TzfFieldDescriptor& veFieldDescriptor;
  int32_t veFieldIndex;
  TzfFieldValidationsDescriptor* veFieldValidationsDescriptor;
};

struct TzfValidationEngineClass : TzfRegisterableClass {
  using TCreate = std::unique_ptr<TzfBaseValidationEngine> (*)(TzfBaseValidationsEngine& aParent,
                                                                IzfCursorContext* aCursor,
                                                                TzfBaseFieldValidationDescriptor* aDescriptor);
  TzfValidationEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TCreate aCreate,
                           TzfGetListProc aGetList = nullptr)
      : TzfRegisterableClass(aName, aParent, aGetList), Create(aCreate) {}
  TCreate Create;
};

class TzfBaseValidationEngine : public TzfBaseRegisterableEngine {
 public:
  static const TzfValidationEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  TzfBaseValidationEngine(TzfBaseValidationsEngine& aParent, IzfCursorContext* aCursor,
                          TzfBaseFieldValidationDescriptor* aDescriptor);
  // The engine of aDescriptor when it applies at aApplyAt; nullptr for no descriptor or another
  // side. 15503 'Unknown %s engine: "%s"' when no engine of its name is registered.
  static std::unique_ptr<TzfBaseValidationEngine> CreateFor(TzfBaseValidationsEngine& aParent,
                                                            TzfBaseFieldValidationDescriptor* aDescriptor,
                                                            TzfApplyAt aApplyAt, IzfCursorContext* aCursor);

  TzfBaseValidationsEngine& bveParent;
  TzfBaseFieldValidationDescriptor* bveDescriptor;
  UnicodeString bveName;
  IzfCursorContext* bveCursor;
};

class TzfBaseFieldValidationEngine : public TzfBaseValidationEngine {
 public:
  using TzfBaseValidationEngine::TzfBaseValidationEngine;
  // Raises the engine's own exception class with aCode and aMessage.
  [[noreturn]] virtual void RaiseException(uint32_t aCode, const UnicodeString& aMessage) const = 0;
  // The reason the message ends with: the code's own text (through the marker).
  virtual void GetFailureReason(UnicodeString& aReason);
  // 'Field validation "<name>" for field "<field>" failed: <reason>'.
  [[noreturn]] virtual void RaiseValidationFailed(uint32_t aErrorCode);
  virtual void ValidateField(const uint8_t* aOldField, const uint8_t* aOldRecord, const uint8_t* aNewField,
                             const uint8_t* aNewRecord) = 0;

  UnicodeString bfvFieldName;
};

class TzfBaseFieldsValidationEngine : public TzfBaseFieldValidationEngine {
 public:
  using TzfBaseFieldValidationEngine::TzfBaseFieldValidationEngine;
  virtual void ValidateRecord(const uint8_t* aOldRecord, const uint8_t* aNewRecord) = 0;
  // Without a field name: 'Fields validation "<name>" failed: <reason>'.
  [[noreturn]] void RaiseValidationFailed(uint32_t aErrorCode) override;
};

class TzfValidationsHandler : public TzfObject {
 public:
  // nullptr when no engine applies.
  static std::unique_ptr<TzfValidationsHandler> CreateFor(TzfFieldsDescriptor& aFieldsDescriptor, TzfApplyAt aApplyAt,
                                                          IzfCursorContext* aCursor);
  // aOldRecord is nil for an insert.
  void ValidateRecord(const uint8_t* aOldRecord, const uint8_t* aNewRecord);
  // aField -1: the record-level engine; else that field's engine (ERangeError outside the fields).
  void ValidateField(const uint8_t* aOldRecord, const uint8_t* aNewRecord, int32_t aField);

  TzfFieldsDescriptor& vhFieldsDescriptor;
  std::vector<std::unique_ptr<TzfBaseValidationsEngine>> vhEngines;
  TzfBaseValidationsEngine* vhFieldsEngine = nullptr;
  std::vector<TzfBaseValidationsEngine*> vhEnginesByIndex;

 private:
  explicit TzfValidationsHandler(TzfFieldsDescriptor& aFieldsDescriptor) : vhFieldsDescriptor(aFieldsDescriptor) {}
};

rtl::TUnitInit& zfsdValidationEngineUnit();

}  // namespace zf
