#include "dictionary/zfsdValidationEngine.h"

#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "foundation/zfllErrors.h"

namespace zf {

const TzfSqlCheckStatementClass* zfSqlCheckStatementClass = nullptr;

// ---- TzfBaseSqlCheckStatement ----

TzfBaseSqlCheckStatement::TzfBaseSqlCheckStatement(TzfFieldsDescriptor& aFieldsDescriptor,
                                                   TzfFieldDescriptor* aFieldDescriptor, IzfCursorContext* aCursor)
    : bscsFieldsDescriptor(aFieldsDescriptor), bscsFieldDescriptor(aFieldDescriptor), bscsCursor(aCursor) {
  if (aFieldDescriptor) {
    bscsFieldIndex = aFieldDescriptor->fdNumber;
    bscsFieldSize = aFieldDescriptor->fdLength;
    bscsFieldType = aFieldDescriptor->fdType;
    bscsFieldCodepage = aFieldDescriptor->GetUsedStorageCodePage();
    bscsFieldUnits = aFieldDescriptor->fdUnits;
    bscsFieldDecPl = aFieldDescriptor->fdDecPl;
  }
}

bool TzfBaseSqlCheckStatement::ValidateField(const uint8_t* aOldField, const uint8_t* aOldRecord,
                                             const uint8_t* aNewField, const uint8_t* aNewRecord) {
  bscsOldField = aOldField;
  bscsOldRecord = aOldRecord;
  bscsNewField = aNewField;
  bscsNewRecord = aNewRecord;
  bool ok;
  try {
    ok = Evaluate();
  } catch (...) {
    ok = false;
  }
  bscsOldField = bscsOldRecord = bscsNewField = bscsNewRecord = nullptr;
  return ok;
}

// ---- TzfBaseValidationEngine ----

const TzfValidationEngineClass& TzfBaseValidationEngine::ClassInfo() {
  static const TzfValidationEngineClass info(u"TzfBaseValidationEngine", &TzfBaseRegisterableEngine::ClassInfo(),
                                             nullptr, &zfFamilyList<TzfBaseValidationEngine>);
  return info;
}

TzfBaseValidationEngine::TzfBaseValidationEngine(TzfBaseValidationsEngine& aParent, IzfCursorContext* aCursor,
                                                 TzfBaseFieldValidationDescriptor* aDescriptor)
    : bveParent(aParent), bveDescriptor(aDescriptor), bveCursor(aCursor) {}

std::unique_ptr<TzfBaseValidationEngine> TzfBaseValidationEngine::CreateFor(
    TzfBaseValidationsEngine& aParent, TzfBaseFieldValidationDescriptor* aDescriptor, TzfApplyAt aApplyAt,
    IzfCursorContext* aCursor) {
  if (!aDescriptor || !aDescriptor->GetApplyAt().Contains(aApplyAt)) return nullptr;
  const UnicodeString name = zfEngineNameForDescriptor(aDescriptor->ClassName());
  const auto* cls = zfFindEngineClass<TzfValidationEngineClass>(ClassInfo(), name);
  if (!cls || !cls->Create)
    throw EzfBaseFieldValidationEngineException(zfErrSubEngineNotSupported, u"Unknown %s engine: \"%s\"",
                                                {UnicodeString(u"Validation"), name});
  std::unique_ptr<TzfBaseValidationEngine> engine = cls->Create(aParent, aCursor, aDescriptor);
  engine->bveName = aDescriptor->bvdName;
  if (auto* fieldEngine = dynamic_cast<TzfFieldValidationsEngine*>(&aParent))
    if (auto* e = dynamic_cast<TzfBaseFieldValidationEngine*>(engine.get()))
      e->bfvFieldName = fieldEngine->veFieldDescriptor.fdName;
  return engine;
}

// ---- Failure messages ----

void TzfBaseFieldValidationEngine::GetFailureReason(UnicodeString& aReason) { aReason = zfOrgMarker; }

void TzfBaseFieldValidationEngine::RaiseValidationFailed(uint32_t aErrorCode) {
  UnicodeString reason;
  GetFailureReason(reason);
  RaiseException(aErrorCode, u"Field validation \"" + bveName + u"\" for field \"" + bfvFieldName + u"\" failed: " +
                                 reason);
  rtl::AssertionFailure("zfsdValidationEngine", __LINE__);  // RaiseException always raises
}

void TzfBaseFieldsValidationEngine::RaiseValidationFailed(uint32_t aErrorCode) {
  if (!bfvFieldName.empty()) TzfBaseFieldValidationEngine::RaiseValidationFailed(aErrorCode);
  UnicodeString reason;
  GetFailureReason(reason);
  RaiseException(aErrorCode, u"Fields validation \"" + bveName + u"\" failed: " + reason);
  rtl::AssertionFailure("zfsdValidationEngine", __LINE__);  // RaiseException always raises
}

namespace {

template <class TException>
[[noreturn]] void Raise(uint32_t aCode, const UnicodeString& aMessage) {
  throw TException(aCode, UnicodeStringView(aMessage));
}

template <class T>
std::unique_ptr<TzfBaseValidationEngine> NewValidationEngine(TzfBaseValidationsEngine& aParent,
                                                             IzfCursorContext* aCursor,
                                                             TzfBaseFieldValidationDescriptor* aDescriptor) {
  return std::make_unique<T>(aParent, aCursor, aDescriptor);
}

// The key field engine of a minimum/maximum or no-change validation.
std::unique_ptr<TzfCompositeKeyFieldEngine> KeyFieldEngineOf(TzfBaseFieldValidationDescriptor* aDescriptor) {
  auto* d = dynamic_cast<TzfKeyFieldValidationDescriptor*>(aDescriptor);
  ZF_ASSERT(d != nullptr, "zfsdValidationEngine");
  if (!d->KeyField())
    throw EzfBaseFieldValidationEngineException(zfErrInvalidDesc, u"Validation \"%s\" has no key field",
                                                {d->bvdName});
  return TzfCompositeKeyFieldEngine::CreateEngine(*d->KeyField());
}

// A value is required (the field's required flag, on the server).
class TzfNotNullValidationEngine : public TzfBaseFieldValidationEngine {
 public:
  static const TzfValidationEngineClass& ClassInfo() {
    static const TzfValidationEngineClass info(u"TzfNotNullValidationEngine", &TzfBaseValidationEngine::ClassInfo(),
                                               &NewValidationEngine<TzfNotNullValidationEngine>);
    return info;
  }
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  using TzfBaseFieldValidationEngine::TzfBaseFieldValidationEngine;

  [[noreturn]] void RaiseException(uint32_t aCode, const UnicodeString& aMessage) const override {
    Raise<EzfNotNullValidationEngineException>(aCode, aMessage);
  }
  void ValidateField(const uint8_t*, const uint8_t*, const uint8_t* aNewField, const uint8_t*) override {
    if (!aNewField) RaiseValidationFailed(zfErrRequiredErr);
  }
};

class TzfMinMaxValidationEngine : public TzfBaseFieldValidationEngine {
 public:
  static const TzfValidationEngineClass& ClassInfo() {
    static const TzfValidationEngineClass info(u"TzfMinMaxValidationEngine", &TzfBaseValidationEngine::ClassInfo(),
                                               &NewValidationEngine<TzfMinMaxValidationEngine>);
    return info;
  }
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  TzfMinMaxValidationEngine(TzfBaseValidationsEngine& aParent, IzfCursorContext* aCursor,
                            TzfBaseFieldValidationDescriptor* aDescriptor)
      : TzfBaseFieldValidationEngine(aParent, aCursor, aDescriptor),
        mmveMinMaxDescriptor(dynamic_cast<TzfMinMaxValidationDescriptor&>(*aDescriptor)),
        mmveKeyFieldEngine(KeyFieldEngineOf(aDescriptor)),
        mmveMin(mmveMinMaxDescriptor.mmvdMin ? mmveMinMaxDescriptor.mmvdMin->data() : nullptr),
        mmveMax(mmveMinMaxDescriptor.mmvdMax ? mmveMinMaxDescriptor.mmvdMax->data() : nullptr) {
    // Field values are compared over the field's length: a bound of another length is refused.
    mmveMinMaxDescriptor.CheckBoundsFitField();
  }

  [[noreturn]] void RaiseException(uint32_t aCode, const UnicodeString& aMessage) const override {
    Raise<EzfMinMaxValidationEngineException>(aCode, aMessage);
  }
  void ValidateField(const uint8_t*, const uint8_t*, const uint8_t* aNewField, const uint8_t*) override {
    if (!aNewField) return;
    if (mmveMin && mmveKeyFieldEngine->CompareFieldDirect(aNewField, mmveMin) == -1) RaiseValidationFailed(zfErrMinValErr);
    if (mmveMax && mmveKeyFieldEngine->CompareFieldDirect(aNewField, mmveMax) == 1) RaiseValidationFailed(zfErrMaxValErr);
  }

  TzfMinMaxValidationDescriptor& mmveMinMaxDescriptor;
  std::unique_ptr<TzfCompositeKeyFieldEngine> mmveKeyFieldEngine;
  const uint8_t* mmveMin;
  const uint8_t* mmveMax;
};

class TzfNoChangeValidationEngine : public TzfBaseFieldValidationEngine {
 public:
  static const TzfValidationEngineClass& ClassInfo() {
    static const TzfValidationEngineClass info(u"TzfNoChangeValidationEngine", &TzfBaseValidationEngine::ClassInfo(),
                                               &NewValidationEngine<TzfNoChangeValidationEngine>);
    return info;
  }
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  TzfNoChangeValidationEngine(TzfBaseValidationsEngine& aParent, IzfCursorContext* aCursor,
                              TzfBaseFieldValidationDescriptor* aDescriptor)
      : TzfBaseFieldValidationEngine(aParent, aCursor, aDescriptor),
        ncveNoChangeDescriptor(dynamic_cast<TzfNoChangeValidationDescriptor&>(*aDescriptor)),
        ncveKeyFieldEngine(KeyFieldEngineOf(aDescriptor)) {}

  [[noreturn]] void RaiseException(uint32_t aCode, const UnicodeString& aMessage) const override {
    Raise<EzfNoChangeValidationEngineException>(aCode, aMessage);
  }
  void ValidateField(const uint8_t* aOldField, const uint8_t* aOldRecord, const uint8_t* aNewField,
                     const uint8_t* aNewRecord) override {
    if (!aOldRecord || !aNewRecord) return;  // an insert
    if ((aOldField && aNewField && ncveKeyFieldEngine->CompareFieldDirect(aOldField, aNewField) != 0) ||
        (aOldField && !aNewField))
      RaiseValidationFailed(zfErrReadOnlyField);
  }

  TzfNoChangeValidationDescriptor& ncveNoChangeDescriptor;
  std::unique_ptr<TzfCompositeKeyFieldEngine> ncveKeyFieldEngine;
};

class TzfSqlCheckValidationEngine : public TzfBaseFieldsValidationEngine {
 public:
  static const TzfValidationEngineClass& ClassInfo() {
    static const TzfValidationEngineClass info(u"TzfSqlCheckValidationEngine", &TzfBaseValidationEngine::ClassInfo(),
                                               &NewValidationEngine<TzfSqlCheckValidationEngine>);
    return info;
  }
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  TzfSqlCheckValidationEngine(TzfBaseValidationsEngine& aParent, IzfCursorContext* aCursor,
                              TzfBaseFieldValidationDescriptor* aDescriptor)
      : TzfBaseFieldsValidationEngine(aParent, aCursor, aDescriptor),
        scveSqlCheckDescriptor(dynamic_cast<TzfSqlCheckValidationDescriptor&>(*aDescriptor)) {
    if (zfSqlCheckStatementClass && zfSqlCheckStatementClass->Create) {
      auto* fieldEngine = dynamic_cast<TzfFieldValidationsEngine*>(&aParent);
      scveSqlCheckStatement = zfSqlCheckStatementClass->Create(
          aParent.bveFieldsDescriptor, fieldEngine ? &fieldEngine->veFieldDescriptor : nullptr, aCursor,
          scveSqlCheckDescriptor.scvdConstraint);
    }
  }

  [[noreturn]] void RaiseException(uint32_t aCode, const UnicodeString& aMessage) const override {
    Raise<EzfSqlCheckValidationEngineException>(aCode, aMessage);
  }
  void GetFailureReason(UnicodeString& aReason) override {
    aReason = scveSqlCheckDescriptor.scvdErrorMessage.empty() ? UnicodeString(zfOrgMarker)
                                                             : scveSqlCheckDescriptor.scvdErrorMessage;
  }
  void ValidateField(const uint8_t* aOldField, const uint8_t* aOldRecord, const uint8_t* aNewField,
                     const uint8_t* aNewRecord) override {
    if (!scveSqlCheckStatement)
      RaiseException(zfErrNotSupported, u"Evaluation of CHECK constraint requires an SQL engine");
    if (!scveSqlCheckStatement->ValidateField(aOldField, aOldRecord, aNewField, aNewRecord))
      RaiseValidationFailed(zfErrExprValErr);
  }
  void ValidateRecord(const uint8_t* aOldRecord, const uint8_t* aNewRecord) override {
    ValidateField(nullptr, aOldRecord, nullptr, aNewRecord);
  }

  TzfSqlCheckValidationDescriptor& scveSqlCheckDescriptor;
  std::unique_ptr<TzfBaseSqlCheckStatement> scveSqlCheckStatement;
};

}  // namespace

// ---- TzfFieldsValidationsEngine ----

const TzfFieldsValidationsEngineClass& TzfFieldsValidationsEngine::ClassInfo() {
  static const TzfFieldsValidationsEngineClass info(
      u"TzfFieldsValidationsEngine", &TzfBaseRegisterableEngine::ClassInfo(),
      [](TzfFieldsDescriptor& aFields, IzfCursorContext* aCursor, TzfApplyAt aApplyAt,
         TzfFieldValidationsDescriptor* aValidations, TzfFieldDescriptor*) -> std::unique_ptr<TzfBaseValidationsEngine> {
        return std::make_unique<TzfFieldsValidationsEngine>(aFields, aCursor, aApplyAt,
                                                            dynamic_cast<TzfFieldsValidationsDescriptor*>(aValidations));
      },
      &zfFamilyList<TzfFieldsValidationsEngine>);
  return info;
}

TzfFieldsValidationsEngine::TzfFieldsValidationsEngine(TzfFieldsDescriptor& aFieldsDescriptor,
                                                       IzfCursorContext* aCursor, TzfApplyAt aApplyAt,
                                                       TzfFieldsValidationsDescriptor* aValidations)
    : TzfBaseValidationsEngine(aFieldsDescriptor), veFieldsValidationsDescriptor(aValidations) {
  if (!aValidations) return;
  for (auto& v : aValidations->ValidationDescriptor)
    if (auto e = TzfBaseValidationEngine::CreateFor(*this, v.get(), aApplyAt, aCursor)) veEngines.push_back(std::move(e));
}

namespace {
// The validations engine class for a list: its class name with "Descriptor" replaced by
// "Engine", in the registry of aFamily.
const TzfFieldsValidationsEngineClass& ValidationsEngineClass(const TzfRegisterableClass& aFamily,
                                                              const TzfFieldValidationsDescriptor& aList) {
  const UnicodeString name = zfEngineNameForDescriptor(aList.ClassName());
  const auto* cls = zfFindEngineClass<TzfFieldsValidationsEngineClass>(aFamily, name);
  if (!cls || !cls->Create)
    throw EzfBaseFieldValidationEngineException(zfErrSubEngineNotSupported, u"Unknown %s engine: \"%s\"",
                                                {UnicodeString(u"Validations"), name});
  return *cls;
}
}  // namespace

std::unique_ptr<TzfBaseValidationsEngine> TzfFieldsValidationsEngine::CreateFor(TzfFieldsDescriptor& aFieldsDescriptor,
                                                                                TzfApplyAt aApplyAt,
                                                                                IzfCursorContext* aCursor) {
  auto* list = dynamic_cast<TzfFieldsValidationsDescriptor*>(aFieldsDescriptor.fsdValidations.get());
  if (!list) return nullptr;
  // The class found by name is remembered on the fields descriptor for the next engine.
  const auto* cls = dynamic_cast<const TzfFieldsValidationsEngineClass*>(
      aFieldsDescriptor.fsdCachedEngineClass.load(std::memory_order_relaxed));
  if (!cls) {
    cls = &ValidationsEngineClass(ClassInfo(), *list);
    aFieldsDescriptor.fsdCachedEngineClass.store(cls, std::memory_order_relaxed);
  }
  auto engine = cls->Create(aFieldsDescriptor, aCursor, aApplyAt, list, nullptr);
  if (engine->EngineCount() == 0) return nullptr;
  return engine;
}

void TzfFieldsValidationsEngine::ValidateRecord(const uint8_t* aOldRecord, const uint8_t* aNewRecord) {
  for (auto& e : veEngines) {
    auto* recordLevel = dynamic_cast<TzfBaseFieldsValidationEngine*>(e.get());
    ZF_ASSERT(recordLevel != nullptr, "zfsdValidationEngine");
    recordLevel->ValidateRecord(aOldRecord, aNewRecord);
  }
}

// ---- TzfFieldValidationsEngine ----

const TzfFieldsValidationsEngineClass& TzfFieldValidationsEngine::ClassInfo() {
  static const TzfFieldsValidationsEngineClass info(
      u"TzfFieldValidationsEngine", &TzfBaseRegisterableEngine::ClassInfo(),
      [](TzfFieldsDescriptor& aFields, IzfCursorContext* aCursor, TzfApplyAt aApplyAt,
         TzfFieldValidationsDescriptor* aValidations,
         TzfFieldDescriptor* aField) -> std::unique_ptr<TzfBaseValidationsEngine> {
        return std::make_unique<TzfFieldValidationsEngine>(aFields, aCursor, aApplyAt, aValidations, *aField);
      },
      &zfFamilyList<TzfFieldValidationsEngine>);
  return info;
}

TzfFieldValidationsEngine::TzfFieldValidationsEngine(TzfFieldsDescriptor& aFieldsDescriptor, IzfCursorContext* aCursor,
                                                     TzfApplyAt aApplyAt, TzfFieldValidationsDescriptor* aValidations,
                                                     TzfFieldDescriptor& aFieldDescriptor)
    : TzfBaseValidationsEngine(aFieldsDescriptor),
      veFieldDescriptor(aFieldDescriptor),
      veFieldIndex(aFieldDescriptor.fdNumber),
      veFieldValidationsDescriptor(aValidations) {
  if (aFieldDescriptor.fdRequired && aApplyAt == aaServer) {
    auto e = std::make_unique<TzfNotNullValidationEngine>(*this, aCursor, nullptr);
    e->bveName = u"$required";
    e->bfvFieldName = aFieldDescriptor.fdName;
    veEngines.push_back(std::move(e));
  }
  if (!aValidations) return;
  for (auto& v : aValidations->ValidationDescriptor)
    if (auto e = TzfBaseValidationEngine::CreateFor(*this, v.get(), aApplyAt, aCursor)) veEngines.push_back(std::move(e));
}

std::unique_ptr<TzfBaseValidationsEngine> TzfFieldValidationsEngine::CreateFor(TzfFieldsDescriptor& aFieldsDescriptor,
                                                                               int32_t aFieldIndex, TzfApplyAt aApplyAt,
                                                                               IzfCursorContext* aCursor) {
  TzfFieldDescriptor& field = *aFieldsDescriptor.FieldDescriptor.at(static_cast<size_t>(aFieldIndex));
  std::unique_ptr<TzfBaseValidationsEngine> engine;
  if (auto* list = dynamic_cast<TzfFieldValidationsDescriptor*>(field.fdValidations.get()))
    engine = ValidationsEngineClass(ClassInfo(), *list).Create(aFieldsDescriptor, aCursor, aApplyAt, list, &field);
  else if (field.fdRequired)
    engine = std::make_unique<TzfFieldValidationsEngine>(aFieldsDescriptor, aCursor, aApplyAt, nullptr, field);
  if (engine && engine->EngineCount() == 0) engine.reset();
  return engine;
}

void TzfFieldValidationsEngine::ValidateRecord(const uint8_t* aOldRecord, const uint8_t* aNewRecord) {
  // GetRecordFieldForFilter answers nil for a nil record or a NULL field.
  const uint8_t* oldField = bveFieldsDescriptor.GetRecordFieldForFilter(veFieldIndex, const_cast<uint8_t*>(aOldRecord));
  const uint8_t* newField = bveFieldsDescriptor.GetRecordFieldForFilter(veFieldIndex, const_cast<uint8_t*>(aNewRecord));
  for (auto& e : veEngines) {
    auto* fieldLevel = dynamic_cast<TzfBaseFieldValidationEngine*>(e.get());
    ZF_ASSERT(fieldLevel != nullptr, "zfsdValidationEngine");
    fieldLevel->ValidateField(oldField, aOldRecord, newField, aNewRecord);
  }
}

// ---- TzfValidationsHandler ----

std::unique_ptr<TzfValidationsHandler> TzfValidationsHandler::CreateFor(TzfFieldsDescriptor& aFieldsDescriptor,
                                                                        TzfApplyAt aApplyAt, IzfCursorContext* aCursor) {
  std::unique_ptr<TzfValidationsHandler> h(new TzfValidationsHandler(aFieldsDescriptor));
  h->vhEnginesByIndex.assign(static_cast<size_t>(std::max(aFieldsDescriptor.FieldCount, 0)), nullptr);
  if (auto e = TzfFieldsValidationsEngine::CreateFor(aFieldsDescriptor, aApplyAt, aCursor)) {
    h->vhFieldsEngine = e.get();
    h->vhEngines.push_back(std::move(e));
  }
  for (int32_t i = 0; i < aFieldsDescriptor.FieldCount; ++i)
    if (auto e = TzfFieldValidationsEngine::CreateFor(aFieldsDescriptor, i, aApplyAt, aCursor)) {
      h->vhEnginesByIndex[static_cast<size_t>(i)] = e.get();
      h->vhEngines.push_back(std::move(e));
    }
  if (h->vhEngines.empty()) return nullptr;
  return h;
}

void TzfValidationsHandler::ValidateRecord(const uint8_t* aOldRecord, const uint8_t* aNewRecord) {
  for (auto& e : vhEngines) e->ValidateRecord(aOldRecord, aNewRecord);
}

void TzfValidationsHandler::ValidateField(const uint8_t* aOldRecord, const uint8_t* aNewRecord, int32_t aField) {
  TzfBaseValidationsEngine* e;
  if (aField == -1) {
    e = vhFieldsEngine;
  } else {
    if (aField < 0 || aField >= static_cast<int32_t>(vhEnginesByIndex.size()))
      throw rtl::ERangeError(u"Range check error");
    e = vhEnginesByIndex[static_cast<size_t>(aField)];
  }
  if (e) e->ValidateRecord(aOldRecord, aNewRecord);
}

// ---- Unit ----

namespace {

void StartValidationEngines() {
  using E = TzfBaseRegisterableEngine;
  E::RegisterEngine(TzfFieldsValidationsEngine::ClassInfo());
  E::RegisterEngine(TzfFieldValidationsEngine::ClassInfo());
  E::RegisterEngine(TzfMinMaxValidationEngine::ClassInfo());
  E::RegisterEngine(TzfNoChangeValidationEngine::ClassInfo());
  E::RegisterEngine(TzfNotNullValidationEngine::ClassInfo());
  E::RegisterEngine(TzfSqlCheckValidationEngine::ClassInfo());
}

void StopValidationEngines() {
  using E = TzfBaseRegisterableEngine;
  E::UnregisterEngine(TzfSqlCheckValidationEngine::ClassInfo());
  E::UnregisterEngine(TzfNotNullValidationEngine::ClassInfo());
  E::UnregisterEngine(TzfNoChangeValidationEngine::ClassInfo());
  E::UnregisterEngine(TzfMinMaxValidationEngine::ClassInfo());
  E::UnregisterEngine(TzfFieldValidationsEngine::ClassInfo());
  E::UnregisterEngine(TzfFieldsValidationsEngine::ClassInfo());
}

}  // namespace

rtl::TUnitInit& zfsdValidationEngineUnit() {
  static rtl::TUnitInit unit("zfsdValidationEngine", &StartValidationEngines, &StopValidationEngines);
  return unit;
}

}  // namespace zf
