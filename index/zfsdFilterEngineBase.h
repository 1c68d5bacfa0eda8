// Filter engines: the evaluation side of filters.
//
// A filter descriptor (dictionary/zfsdFilterDescriptor) says what a filter is; an engine made from
// it tests buffers. An engine is bound to a fields source (a record layout for record filters and
// key filters of key engines, a key engine for filters over keys) and is switched on and off; while
// it is off every buffer passes, so a cursor can install a filter first and switch it on later.
//
// Engines are found by name: the descriptor's class name with "Descriptor" replaced by "Engine"
// (case ignored) in the filter engine registry. Each engine carries a filter identity, a non-zero
// 32-bit value issued when it is made and unique among the live engines; cursors hand it out and
// later address the engine (or a member of a hub) by it. 0 addresses every engine.
#pragma once
#include <cstdint>
#include <memory>

#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdFilterDescriptor.h"
#include "foundation/zfllException.h"
#include "foundation/zfllRegisterableEngine.h"
#include "storage/zfsrFilterEvaluation.h"

namespace zf {

class TzfBaseFilterEngine;
using TzfFilterID = uint32_t;

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseFilterEngineException, EzfBaseException)

// Class reference of filter engines: the virtual constructor over a descriptor and a fields source.
struct TzfFilterEngineClass : TzfRegisterableClass {
  using TCreate = std::unique_ptr<TzfBaseFilterEngine> (*)(TzfBaseFilterDescriptor* aDescriptor,
                                                            IzfFieldsSource* aFieldsSource);
  TzfFilterEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TCreate aCreate,
                       TzfGetListProc aGetList = nullptr)
      : TzfRegisterableClass(aName, aParent, aGetList), Create(aCreate) {}
  TCreate Create;
};

class TzfBaseFilterEngine : public TzfBaseRegisterableEngine, public IzfFilterEvaluation {
 public:
  // The family root: owns the filter engine registry.
  static const TzfFilterEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  ~TzfBaseFilterEngine() override;

  // The engine for aDescriptor over aFieldsSource, inactive. No engine registered under the derived
  // name raises 15503 'Unknown Filter engine: "<name>"'. The caller owns the engine.
  static std::unique_ptr<TzfBaseFilterEngine> CreateFor(TzfBaseFilterDescriptor& aDescriptor,
                                                        IzfFieldsSource* aFieldsSource);

  static void RegisterFilterEngine(const TzfFilterEngineClass& aClass, UnicodeStringView aName = {});
  static void UnregisterFilterEngine(const TzfFilterEngineClass& aClass);

  // The engine's identity: non-zero, unique among live engines.
  TzfFilterID FilterID() const { return bfFilterID; }
  IzfFieldsSource* FieldsSource() const { return bfFieldsSource; }

  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;
  bool IsActive() override { return bfActive; }
  virtual void SetActive(bool aValue) { bfActive = aValue; }
  // A new engine with the same filter over aFieldsSource and this engine's active state.
  virtual std::unique_ptr<TzfBaseFilterEngine> Duplicate(IzfFieldsSource* aFieldsSource);
  // A descriptor of what this engine tests; the caller owns it.
  virtual std::unique_ptr<TzfBaseFilterDescriptor> CreateDescriptor() = 0;
  bool MatchesBuffer(const uint8_t* aBuffer) override = 0;
  // aFilterID must be this engine: aFilterVar (which must hold this engine) is emptied, freeing
  // it; 0. Another ID: 10050 "Filter handle is invalid" and nothing changes.
  virtual uint32_t RemoveFilter(TzfFilterID aFilterID, std::unique_ptr<TzfBaseFilterEngine>& aFilterVar);
  // 0 or this engine's ID switches it on (off) and answers 0; another ID answers 10050.
  virtual uint32_t ActivateFilter(TzfFilterID aFilterID);
  virtual uint32_t DeactivateFilter(TzfFilterID aFilterID);
  virtual void Disconnect() {}
  virtual bool IsEvalLocal() { return IsActive(); }
  virtual bool IsEvalRemote() { return !IsEvalLocal(); }

 protected:
  TzfBaseFilterEngine(TzfBaseFilterDescriptor* aDescriptor, IzfFieldsSource* aFieldsSource);

  IzfFieldsSource* bfFieldsSource;  // not owned
  bool bfActive = false;

 private:
  TzfFilterID bfFilterID;
};

// Issues a filter identity: non-zero and not held by any live engine; released by the engine.
TzfFilterID zfIssueFilterID();
void zfReleaseFilterID(TzfFilterID aID);

// The stored filter class name with "Descriptor" replaced by "Engine", case ignored.
UnicodeString zfEngineNameFromDescriptorName(UnicodeStringView aName, UnicodeStringView aReplacement = u"Engine");

rtl::TUnitInit& zfsdFilterEngineBaseUnit();

}  // namespace zf
