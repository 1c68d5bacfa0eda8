// The referential-integrity engine family's root: the engine a table cursor builds from its
// table's "RefIntegrity" descriptor and notifies around record inserts, modifications and
// deletions (the engines themselves are in zfseRefIntEngine).
//
// Engines are found by the descriptor's class name with "Descriptor" replaced by "Engine". A table
// that carries such a descriptor while no engine class is registered for it cannot be opened:
// CreateFor raises 15503, so no cursor ever writes without the checks the table's dictionary asks
// for.
#pragma once
#include <cstdint>
#include <memory>

#include "dictionary/zfsdDefaultValueEngine.h"
#include "dictionary/zfsdServerObject.h"
#include "foundation/zfllRegisterableEngine.h"

namespace zf {

class TzfAbstractCursor;
class TzfBaseTableDescriptor;
class TzfRefIntegrityDescriptor;
class TzfBaseRefIntegrityEngine;

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseRefIntegrityEngineException, EzfBaseRegisterableEngineException)

// Class reference of referential-integrity engines: the virtual constructor.
struct TzfRefIntegrityEngineClass : TzfRegisterableClass {
  using TCreate = std::unique_ptr<TzfBaseRefIntegrityEngine> (*)(TzfRefIntegrityDescriptor& aDescriptor,
                                                                  TzfAbstractCursor* aCursor);
  TzfRefIntegrityEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TCreate aCreate,
                             TzfGetListProc aGetList = nullptr)
      : TzfRegisterableClass(aName, aParent, aGetList), Create(aCreate) {}
  TCreate Create;
};

class TzfBaseRefIntegrityEngine : public TzfBaseRegisterableEngine {
 public:
  static const TzfRefIntegrityEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // The engine of the table's "RefIntegrity" descriptor; nullptr when the table has none. Raises
  // as the overload below does. The caller owns the engine.
  static std::unique_ptr<TzfBaseRefIntegrityEngine> CreateFor(TzfBaseTableDescriptor* aDictionary,
                                                              TzfAbstractCursor* aCursor);
  // nullptr for a nil descriptor; otherwise the registered engine of its class. None registered
  // raises EzfBaseRefIntegrityEngineException 15503 'Unknown %s engine: "%s"' with "RefIntegrity"
  // and the engine class name sought.
  static std::unique_ptr<TzfBaseRefIntegrityEngine> CreateFor(TzfRefIntegrityDescriptor* aDescriptor,
                                                              TzfAbstractCursor* aCursor);

  // Told before (aBefore) and after a record action of the cursor: aOldRecord is the stored record
  // (modify, delete), aNewRecord the record written (insert, modify). 0 or the violation's code.
  virtual uint32_t Notify(TzfEngineAction aAction, bool aBefore, const uint8_t* aOldRecord,
                          const uint8_t* aNewRecord) = 0;
  // Called by the cursor before a record action takes its content lock: whatever the action will
  // need (target cursors of other tables) is opened now, and kept from closing until the matching
  // EndAction. 0 or a code (the engine's exceptions pass). The base needs nothing.
  virtual uint32_t BeginAction(TzfEngineAction aAction);
  // Ends what a successful BeginAction of the same action began.
  virtual void EndAction(TzfEngineAction aAction);
};

}  // namespace zf
