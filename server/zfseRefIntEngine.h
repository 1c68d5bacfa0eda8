// Referential-integrity engines: what a table cursor runs to keep the references its table's
// "RefIntegrity" descriptor declares.
//
// A TzfRefIntegrityEngine holds one TzfReferenceEngine per reference descriptor. A reference has a
// target cursor (the same table, a table of the database or a table relative to this one, opened
// lazily on the reference's target index), sources (fields of this table mapped onto the leading
// key fields of the target index) and actions. When a record of this table is inserted, modified
// or deleted, the reference turns the record's source values into an inclusive range on the target
// index and runs its actions on that range:
//
//   action engine                        watches                       on the target range
//   TzfCascadeDeleteActionEngine         delete, after                 DeleteRecords
//   TzfClearDeleteActionEngine           delete, after                 key fields NULL, each record
//   TzfSetDefaultDeleteActionEngine      delete, after                 key fields to their defaults
//   TzfBlockDeleteActionEngine           delete, before                any record answers 9734
//   TzfCascadeModifyActionEngine         modify, after                 key fields to the new values
//   TzfClearModifyActionEngine           modify, after                 key fields NULL
//   TzfSetDefaultModifyActionEngine      modify, after                 key fields to their defaults
//   TzfBlockModifyActionEngine           modify, after                 any record answers 9734
//   TzfTargetRequiredActionEngine        insert and modify, after      no record answers 9733
//
// Modify actions run only when the reference's key changed. Every action that writes or checks
// after the fact asks the source cursor for a transaction level of its own around each record
// write, so a violation found after the fact takes back the whole write, the target changes with
// it, and leaves the surrounding transaction usable.
//
// A non-zero answer of an action (and a target cursor that cannot be opened) becomes the
// violation message: "Referential Integrity Violation. " + source table "(" source fields ") -> "
// target table "(" target fields "): " + the code's text.
//
// Engines of every family are found in the family's registry by the descriptor's class name
// ("Descriptor" -> "Engine"); the class found is kept in the descriptor for the next cursor.
//
// Threads: a notification runs on the source cursor's thread under its session lock. The only
// other thread that reaches an engine is one that closes the target table: it asks the target
// cursor to go (RequestClose), which frees it only while no notification uses it (btceInUse under
// btcePadlock). btcePadlock is a leaf below the target table's cursor padlock: nothing is opened,
// closed or freed under it.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "dictionary/zfsdDataDictionaryRefInt.h"
#include "foundation/zfllSync.h"
#include "mapping/zfsdFieldMapperBase.h"
#include "platform/rtl/rtlUnits.h"
#include "server/zfsrRefIntEngineBase.h"

namespace zf {

class TzfAbstractCursor;
class TzfCompKeyDescriptor;
class TzfFieldsDescriptor;
class TzfServerTableCursor;
class TzfRefIntegrityEngine;
class TzfReferenceEngine;
class TzfBaseTargetCursorEngine;
class TzfBaseSourceEngine;
class TzfBaseActionEngine;
using PzfByteArray = uint8_t*;

ZF_DECLARE_ENGINE_EXCEPTION(EzfReferenceEngineException, EzfBaseRegisterableEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseTargetCursorEngineException, EzfBaseRegisterableEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseSourceEngineException, EzfBaseRegisterableEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseActionEngineException, EzfBaseRegisterableEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfCascadeDeleteActionEngineException, EzfBaseActionEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfClearDeleteActionEngineException, EzfBaseActionEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfSetDefaultDeleteActionEngineException, EzfBaseActionEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBlockDeleteActionEngineException, EzfBaseActionEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfCascadeModifyActionEngineException, EzfBaseActionEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfClearModifyActionEngineException, EzfBaseActionEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfSetDefaultModifyActionEngineException, EzfBaseActionEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBlockModifyActionEngineException, EzfBaseActionEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfTargetRequiredActionEngineException, EzfBaseActionEngineException)

// What a source value is used for.
enum class TzfValueUseType : uint8_t { vutRangeStart, vutRangeEnd, vutCompare, vutRecordModify, vutRecordDelete };
using enum TzfValueUseType;

// ---- Class references (the virtual constructors of the four reference-level families) ----

struct TzfReferenceEngineClass : TzfRegisterableClass {
  using TCreate = std::unique_ptr<TzfReferenceEngine> (*)(TzfRefIntegrityEngine& aParent,
                                                          TzfReferenceDescriptor& aDescriptor);
  TzfReferenceEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TCreate aCreate,
                          TzfGetListProc aGetList = nullptr)
      : TzfRegisterableClass(aName, aParent, aGetList), Create(aCreate) {}
  TCreate Create;
};

template <class TEngine, class TDescriptor>
struct TzfRefIntPartClass : TzfRegisterableClass {
  using TEngineBase = TEngine;
  using TDescriptorBase = TDescriptor;
  using TCreate = std::unique_ptr<TEngine> (*)(TzfReferenceEngine& aParent, TDescriptor& aDescriptor);
  TzfRefIntPartClass(const char16_t* aName, const TzfRegisterableClass* aParent, TCreate aCreate,
                     TzfGetListProc aGetList = nullptr)
      : TzfRegisterableClass(aName, aParent, aGetList), Create(aCreate) {}
  TCreate Create;
};
using TzfTargetCursorEngineClass = TzfRefIntPartClass<TzfBaseTargetCursorEngine, TzfBaseTargetCursorDescriptor>;
using TzfSourceEngineClass = TzfRefIntPartClass<TzfBaseSourceEngine, TzfBaseSourceDescriptor>;
using TzfActionEngineClass = TzfRefIntPartClass<TzfBaseActionEngine, TzfBaseActionDescriptor>;

// ---- The table's engine ----

class TzfRefIntegrityEngine : public TzfBaseRefIntegrityEngine {
 public:
  static const TzfRefIntegrityEngineClass& Info();
  const TzfRegisterableClass& ClassType() const override { return Info(); }

  // One reference engine per reference descriptor, in descriptor order (their construction's
  // exceptions pass).
  TzfRefIntegrityEngine(TzfRefIntegrityDescriptor& aDescriptor, TzfAbstractCursor* aCursor);
  ~TzfRefIntegrityEngine() override;

  // 0 at once for an action no reference watches; else every reference from the last to the
  // first, answering the first non-zero result.
  uint32_t Notify(TzfEngineAction aAction, bool aBefore, const uint8_t* aOldRecord,
                  const uint8_t* aNewRecord) override;
  // Opens (and keeps from closing) the target cursors of every reference that watches aAction.
  uint32_t BeginAction(TzfEngineAction aAction) override;
  void EndAction(TzfEngineAction aAction) override;

  TzfRefIntegrityDescriptor& rieDescriptor;
  // The cursor that owns the engine (the source cursor).
  TzfAbstractCursor* rieCursor;
  // The engine actions any action of any reference watches, after [0] and before [1] the fact.
  TzfEngineActions rieActions[2];
  std::vector<std::unique_ptr<TzfReferenceEngine>> rieReferences;
};

// ---- One reference ----

class TzfReferenceEngine : public TzfBaseRegisterableEngine {
 public:
  static const TzfReferenceEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // Builds the target cursor engine, the sources and the actions, then registers the actions.
  TzfReferenceEngine(TzfRefIntegrityEngine& aParent, TzfReferenceDescriptor& aDescriptor);
  ~TzfReferenceEngine() override;

  // The engine of aDescriptor's class, the class cached in the descriptor; 15503 when none is
  // registered.
  static std::unique_ptr<TzfReferenceEngine> CreateFor(TzfRefIntegrityEngine& aParent,
                                                       TzfReferenceDescriptor& aDescriptor);

  // Every action's required actions into the before and after halves of the mapping.
  virtual void RegisterActions();
  // aActionEngine for every action of aActions, in ordinal order, into reActionMapping[aBefore],
  // and the action into the parent's set for aBefore.
  virtual void RegisterAction(TzfBaseActionEngine* aActionEngine, TzfEngineActions aActions, bool aBefore);
  // Opens the target cursor when needed, allocates the two buffers and binds the sources to the
  // leading key fields of the target index: 9997 without that index, 10023 when its key is not
  // composite, 10004 when it has fewer key fields than the reference has sources (all raised).
  virtual void PrepareTargetCursor();
  virtual void UnprepareTargetCursor();
  // The target range from aRecord's source values; False (nothing set) when a skip-on-null source
  // is NULL. aHasNull tells whether another source was NULL. Failures raise
  // EzfReferenceEngineException.
  virtual bool SetRange(const uint8_t* aRecord, bool& aHasNull);
  // Whether the reference's key differs between aNew and aOld (on the target index).
  virtual bool KeysDiffer(const uint8_t* aNew, const uint8_t* aOld);
  virtual uint32_t Notify(TzfEngineAction aAction, bool aBefore, const uint8_t* aOldRecord,
                          const uint8_t* aNewRecord);
  // Makes the violation text the thread's message for aErrorCode; answers aErrorCode.
  virtual uint32_t FormatViolation(uint32_t aErrorCode);

  // Whether some action watches aAction before or after the fact.
  bool Watches(TzfEngineAction aAction) const;
  // The open target cursor (opened now when needed); raises as TzfBaseTargetCursorEngine::GetCursor.
  TzfAbstractCursor* TargetCursor();
  // The source cursor (the cursor of the table that holds the reference).
  TzfAbstractCursor* SourceCursor() const { return reParent.rieCursor; }

  TzfRefIntegrityEngine& reParent;
  TzfReferenceDescriptor& reDescriptor;
  std::unique_ptr<TzfBaseTargetCursorEngine> reTargetCursor;
  TzfFieldsDescriptor* reFieldsDescriptor = nullptr;
  bool reTargetCursorPrepared = false;
  uint32_t reTargetRecordLength = 0;
  // Range start and end, or the two compared keys.
  std::vector<uint8_t> reTargetRecordBuffer1, reTargetRecordBuffer2;
  TzfCompKeyDescriptor* reTargetKeyDescriptor = nullptr;
  // The action engines to run, after [0] and before [1] the fact, per engine action.
  std::vector<TzfBaseActionEngine*> reActionMapping[2][zfEngineActionCount];
  std::vector<std::unique_ptr<TzfBaseSourceEngine>> reSources;
  std::vector<std::unique_ptr<TzfBaseActionEngine>> reActions;
};

// ---- Target cursors ----

class TzfBaseTargetCursorEngine : public TzfBaseRegisterableEngine {
 public:
  static const TzfTargetCursorEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  TzfBaseTargetCursorEngine(TzfReferenceEngine& aParent, TzfBaseTargetCursorDescriptor& aDescriptor);
  // Frees the target cursor.
  ~TzfBaseTargetCursorEngine() override;

  static std::unique_ptr<TzfBaseTargetCursorEngine> CreateFor(TzfReferenceEngine& aParent,
                                                              TzfBaseTargetCursorDescriptor& aDescriptor);

  // Opens the target cursor for aSourceCursor; 0 and the cursor (the caller owns it) or a code.
  virtual uint32_t OpenCursor(TzfAbstractCursor* aSourceCursor, TzfAbstractCursor*& aCursor) = 0;
  // The target table wants its cursors closed: frees the cursor unless a notification uses it.
  virtual void RequestClose(TzfServerTableCursor* aSender);

  // Count a use up and down; a cursor in use is never closed. The count never drops below 0.
  void BeginUse();
  void EndUse();
  // The open target cursor on the target index, opened now when there is none. A cursor that
  // cannot be opened raises EzfBaseTargetCursorEngineException with the violation message; an
  // index switch that fails raises it with the switch's code.
  TzfAbstractCursor* GetCursor();

  TzfReferenceEngine& btceParent;
  TzfBaseTargetCursorDescriptor& btceDescriptor;
  TzfPadlock btcePadlock{false};
  int32_t btceInUse = 0;
  // Owned.
  TzfAbstractCursor* btceCursor = nullptr;
};

// The same table as the source cursor.
class TzfCloneTargetCursorEngine : public TzfBaseTargetCursorEngine {
 public:
  static const TzfTargetCursorEngineClass& Info();
  const TzfRegisterableClass& ClassType() const override { return Info(); }
  using TzfBaseTargetCursorEngine::TzfBaseTargetCursorEngine;
  uint32_t OpenCursor(TzfAbstractCursor* aSourceCursor, TzfAbstractCursor*& aCursor) override;
};

// A table of the source cursor's database by name and password.
class TzfTableTargetCursorEngine : public TzfBaseTargetCursorEngine {
 public:
  static const TzfTargetCursorEngineClass& Info();
  const TzfRegisterableClass& ClassType() const override { return Info(); }
  using TzfBaseTargetCursorEngine::TzfBaseTargetCursorEngine;
  uint32_t OpenCursor(TzfAbstractCursor* aSourceCursor, TzfAbstractCursor*& aCursor) override;
};

// A nested table path from the source table (a path starting with ".") or from its root table.
class TzfRelativeTargetCursorEngine : public TzfBaseTargetCursorEngine {
 public:
  static const TzfTargetCursorEngineClass& Info();
  const TzfRegisterableClass& ClassType() const override { return Info(); }
  using TzfBaseTargetCursorEngine::TzfBaseTargetCursorEngine;
  uint32_t OpenCursor(TzfAbstractCursor* aSourceCursor, TzfAbstractCursor*& aCursor) override;
};

// ---- Sources ----

class TzfBaseSourceEngine : public TzfBaseRegisterableEngine {
 public:
  static const TzfSourceEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  TzfBaseSourceEngine(TzfReferenceEngine& aParent, TzfBaseSourceDescriptor& aDescriptor);

  static std::unique_ptr<TzfBaseSourceEngine> CreateFor(TzfReferenceEngine& aParent,
                                                        TzfBaseSourceDescriptor& aDescriptor);

  virtual UnicodeString GetSourceName() = 0;
  virtual UnicodeString GetTargetName() = 0;
  // Binds the source to target field aTargetField of aTargetCursor's table.
  virtual void Initialize(int32_t aTargetField, TzfAbstractCursor* aTargetCursor);
  // The source value of aSourceBuffer into the target field of aTargetBuffer; *aSourceIsNull (when
  // given) tells whether the source was NULL. 0 or the mapping's code.
  virtual uint32_t SetValueTo(TzfValueUseType aType, PzfByteArray aTargetBuffer, const uint8_t* aSourceBuffer,
                              bool* aSourceIsNull) = 0;
  // The target field NULL.
  virtual uint32_t ClearField(TzfValueUseType aType, PzfByteArray aTargetBuffer);
  // The target field's default on aTargetCursor's side (NULL for a field without one).
  virtual uint32_t SetFieldToDefault(TzfValueUseType aType, TzfAbstractCursor* aTargetCursor,
                                     PzfByteArray aTargetBuffer);

  TzfReferenceEngine& bseParent;
  TzfBaseSourceDescriptor& bseDescriptor;
  TzfFieldsDescriptor* bseSourceFields = nullptr;
  TzfFieldsDescriptor* bseTargetFields = nullptr;
  int32_t bseTargetField = -1;
  int32_t bseTargetOffset = 0;
};

// A field of the source table.
class TzfFieldSourceEngine : public TzfBaseSourceEngine {
 public:
  static const TzfSourceEngineClass& Info();
  const TzfRegisterableClass& ClassType() const override { return Info(); }
  TzfFieldSourceEngine(TzfReferenceEngine& aParent, TzfBaseSourceDescriptor& aDescriptor);

  UnicodeString GetSourceName() override { return fseSourceName; }
  UnicodeString GetTargetName() override { return fseTargetName; }
  // Also makes the mapper from the source field to the target field (none: SetValueTo answers
  // 10002).
  void Initialize(int32_t aTargetField, TzfAbstractCursor* aTargetCursor) override;
  uint32_t SetValueTo(TzfValueUseType aType, PzfByteArray aTargetBuffer, const uint8_t* aSourceBuffer,
                      bool* aSourceIsNull) override;

  int32_t fseSourceField = -1;
  int32_t fseSourceOffset = 0;
  TzfMappingMethod fseMapper;
  std::unique_ptr<TzfBaseFieldMapper> fseMapperInst;
  UnicodeString fseSourceName, fseTargetName;
};

// ---- Actions ----

class TzfBaseActionEngine : public TzfBaseRegisterableEngine {
 public:
  static const TzfActionEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  TzfBaseActionEngine(TzfReferenceEngine& aParent, TzfBaseActionDescriptor& aDescriptor);

  static std::unique_ptr<TzfBaseActionEngine> CreateFor(TzfReferenceEngine& aParent,
                                                        TzfBaseActionDescriptor& aDescriptor);

  // Runs the action on the target range the reference has set; 0 or a code.
  virtual uint32_t Execute(TzfEngineAction aAction, bool aBefore, const uint8_t* aOldRecord,
                           const uint8_t* aNewRecord);
  virtual TzfEngineActions RequiredBeforeActions() { return {}; }
  virtual TzfEngineActions RequiredAfterActions() { return {}; }
  // Whether an after-the-fact modify sets the range from the new record (else the old one).
  virtual bool WantsNewOnAfterModify() { return false; }

  TzfReferenceEngine& baeParent;
  TzfBaseActionDescriptor& baeDescriptor;

 protected:
  // The target cursor's database marks its transaction corrupted.
  void MarkTransactionCorrupted();
  // Whether the range holds a record: 0 yes, 8706 none, another code a failure.
  uint32_t RangeHasRecord();
  // Every record of the range, write-locked, changed by aChange (a source failure raises the
  // action's exception) and written back with its lock released; 0 when the walk ran out.
  uint32_t WalkRange(const std::function<uint32_t(TzfBaseSourceEngine&, PzfByteArray)>& aChange);
  // Raises this action's exception class with aCode.
  [[noreturn]] virtual void RaiseCode(uint32_t aCode);
};

// Registers the fifteen engine classes of the family (unit start) and removes them (stop).
rtl::TUnitInit& zfseRefIntEngineUnit();

}  // namespace zf
