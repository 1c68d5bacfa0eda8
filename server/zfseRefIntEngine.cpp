#include "server/zfseRefIntEngine.h"

#include <array>
#include <atomic>
#include <utility>

#include "dictionary/zfsdAbstractCursor.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "dictionary/zfsdTableDescriptor.h"
#include "foundation/zfllErrors.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"

namespace zf {

namespace {

// The engine class of a descriptor in aFamily's registry, kept in aCache once found. None
// registered raises TException 15503 with the family word.
template <class TClass, class TException>
const TClass& CachedClass(std::atomic<const TzfRegisterableClass*>& aCache, const TzfRegisterableClass& aFamily,
                          const char16_t* aDescriptorClassName, const char16_t* aFamilyWord) {
  if (const auto* cached = dynamic_cast<const TClass*>(aCache.load(std::memory_order_acquire))) return *cached;
  const UnicodeString name = zfEngineNameForDescriptor(aDescriptorClassName);
  const TClass* cls = zfFindEngineClass<TClass>(aFamily, name);
  if (!cls || !cls->Create)
    throw TException(zfErrSubEngineNotSupported, u"Unknown %s engine: \"%s\"", {UnicodeString(aFamilyWord), name});
  aCache.store(cls, std::memory_order_release);
  return *cls;
}

TzfFieldsDescriptor* FieldsOf(TzfAbstractCursor* aCursor) {
  TzfBaseTableDescriptor* table = aCursor ? aCursor->acGetTableDescriptor() : nullptr;
  return table ? table->tdFieldsDescriptor.get() : nullptr;
}

UnicodeString JoinNames(const std::vector<std::unique_ptr<TzfBaseSourceEngine>>& aSources, bool aTarget) {
  UnicodeString r;
  for (size_t i = 0; i < aSources.size(); ++i) {
    if (i > 0) r += u", ";
    r += aTarget ? aSources[i]->GetTargetName() : aSources[i]->GetSourceName();
  }
  return r;
}

// The class reference of engine class T of a reference-level family whose class-info type is
// TInfo.
template <class TInfo, class T>
const TInfo& PartInfo(const char16_t* aName, const TzfRegisterableClass* aParent) {
  static const TInfo info(aName, aParent,
                          [](TzfReferenceEngine& aOwner, typename TInfo::TDescriptorBase& aDescriptor)
                              -> std::unique_ptr<typename TInfo::TEngineBase> {
                            return std::make_unique<T>(aOwner, aDescriptor);
                          });
  return info;
}

}  // namespace

// ---- TzfRefIntegrityEngine ----

const TzfRefIntegrityEngineClass& TzfRefIntegrityEngine::Info() {
  static const TzfRefIntegrityEngineClass info(
      u"TzfRefIntegrityEngine", &TzfBaseRefIntegrityEngine::ClassInfo(),
      [](TzfRefIntegrityDescriptor& aDescriptor, TzfAbstractCursor* aCursor) -> std::unique_ptr<TzfBaseRefIntegrityEngine> {
        return std::make_unique<TzfRefIntegrityEngine>(aDescriptor, aCursor);
      });
  return info;
}

TzfRefIntegrityEngine::TzfRefIntegrityEngine(TzfRefIntegrityDescriptor& aDescriptor, TzfAbstractCursor* aCursor)
    : rieDescriptor(aDescriptor), rieCursor(aCursor) {
  for (auto& ref : aDescriptor.ridReferences) rieReferences.push_back(TzfReferenceEngine::CreateFor(*this, *ref));
}

TzfRefIntegrityEngine::~TzfRefIntegrityEngine() = default;

uint32_t TzfRefIntegrityEngine::Notify(TzfEngineAction aAction, bool aBefore, const uint8_t* aOldRecord,
                                       const uint8_t* aNewRecord) {
  if (!rieActions[aBefore ? 1 : 0].Contains(aAction)) return 0;
  for (size_t i = rieReferences.size(); i-- > 0;)
    if (const uint32_t r = rieReferences[i]->Notify(aAction, aBefore, aOldRecord, aNewRecord)) return r;
  return 0;
}

uint32_t TzfRefIntegrityEngine::BeginAction(TzfEngineAction aAction) {
  if (!rieActions[0].Contains(aAction) && !rieActions[1].Contains(aAction)) return 0;
  size_t begun = 0;
  try {
    for (; begun < rieReferences.size(); ++begun) {
      TzfReferenceEngine& ref = *rieReferences[begun];
      if (!ref.Watches(aAction)) continue;
      ref.reTargetCursor->BeginUse();
      ref.PrepareTargetCursor();
    }
  } catch (...) {
    // The reference that failed has begun its use too.
    for (size_t i = 0; i <= begun && i < rieReferences.size(); ++i)
      if (rieReferences[i]->Watches(aAction)) rieReferences[i]->reTargetCursor->EndUse();
    throw;
  }
  return 0;
}

void TzfRefIntegrityEngine::EndAction(TzfEngineAction aAction) {
  if (!rieActions[0].Contains(aAction) && !rieActions[1].Contains(aAction)) return;
  for (auto& ref : rieReferences)
    if (ref->Watches(aAction)) ref->reTargetCursor->EndUse();
}

// ---- TzfReferenceEngine ----

const TzfReferenceEngineClass& TzfReferenceEngine::ClassInfo() {
  static const TzfReferenceEngineClass info(
      u"TzfReferenceEngine", &TzfBaseRegisterableEngine::ClassInfo(),
      [](TzfRefIntegrityEngine& aParent, TzfReferenceDescriptor& aDescriptor) {
        return std::make_unique<TzfReferenceEngine>(aParent, aDescriptor);
      },
      &zfFamilyList<TzfReferenceEngine>);
  return info;
}

std::unique_ptr<TzfReferenceEngine> TzfReferenceEngine::CreateFor(TzfRefIntegrityEngine& aParent,
                                                                  TzfReferenceDescriptor& aDescriptor) {
  const auto& cls = CachedClass<TzfReferenceEngineClass, EzfReferenceEngineException>(
      aDescriptor.rdCachedEngineClass, ClassInfo(), aDescriptor.ClassName(), u"Reference");
  return cls.Create(aParent, aDescriptor);
}

TzfReferenceEngine::TzfReferenceEngine(TzfRefIntegrityEngine& aParent, TzfReferenceDescriptor& aDescriptor)
    : reParent(aParent), reDescriptor(aDescriptor) {
  if (!aDescriptor.rdTargetCursor)
    throw EzfReferenceEngineException(zfErrInvalidDesc, u"The reference descriptor has no target");
  reTargetCursor = TzfBaseTargetCursorEngine::CreateFor(*this, *aDescriptor.rdTargetCursor);
  for (auto& s : aDescriptor.rdSources) reSources.push_back(TzfBaseSourceEngine::CreateFor(*this, *s));
  for (auto& a : aDescriptor.rdActions) reActions.push_back(TzfBaseActionEngine::CreateFor(*this, *a));
  RegisterActions();
}

TzfReferenceEngine::~TzfReferenceEngine() {
  // The target cursor goes first: its request-close handler reaches this reference.
  reTargetCursor.reset();
}

void TzfReferenceEngine::RegisterActions() {
  for (auto& a : reActions) {
    RegisterAction(a.get(), a->RequiredBeforeActions(), true);
    RegisterAction(a.get(), a->RequiredAfterActions(), false);
  }
}

void TzfReferenceEngine::RegisterAction(TzfBaseActionEngine* aActionEngine, TzfEngineActions aActions, bool aBefore) {
  if (aActions.Empty()) return;
  for (int action = 0; action < zfEngineActionCount; ++action) {
    if (!aActions.Contains(action)) continue;
    reParent.rieActions[aBefore ? 1 : 0].Include(action);
    reActionMapping[aBefore ? 1 : 0][action].push_back(aActionEngine);
  }
}

bool TzfReferenceEngine::Watches(TzfEngineAction aAction) const {
  return !reActionMapping[0][aAction].empty() || !reActionMapping[1][aAction].empty();
}

TzfAbstractCursor* TzfReferenceEngine::TargetCursor() { return reTargetCursor->GetCursor(); }

void TzfReferenceEngine::PrepareTargetCursor() {
  if (reTargetCursorPrepared) return;
  TzfAbstractCursor* target = TargetCursor();
  TzfBaseTableDescriptor* table = target->acGetTableDescriptor();
  reFieldsDescriptor = table->tdFieldsDescriptor.get();
  reTargetRecordLength = static_cast<uint32_t>(reFieldsDescriptor->GetRecordLength());
  if (reTargetRecordBuffer1.empty()) {
    reTargetRecordBuffer1.assign(reTargetRecordLength, 0);
    reTargetRecordBuffer2.assign(reTargetRecordLength, 0);
  }
  if (!reTargetKeyDescriptor) {
    TzfIndexDescriptor* index =
        table->tdIndicesDescriptor ? table->tdIndicesDescriptor->GetDescriptorFromName(reDescriptor.rdTargetIndex)
                                   : nullptr;
    if (!index) throw EzfReferenceEngineException(zfErrNoSuchIndex);
    auto* key = dynamic_cast<TzfCompKeyDescriptor*>(index->idKeyDescriptor.get());
    if (!key) throw EzfReferenceEngineException(zfErrInvalidIndexDesc, u"A composite index is required");
    if (key->GetKeyFieldCount() < static_cast<int32_t>(reSources.size()))
      throw EzfReferenceEngineException(zfErrInvalidDesc,
                                        u"The reference descriptor has more fields than the target index.");
    for (size_t i = 0; i < reSources.size(); ++i)
      reSources[i]->Initialize(key->GetKeyField(static_cast<int32_t>(i))->kfdFieldNumber, target);
    reTargetKeyDescriptor = key;
  }
  reTargetCursorPrepared = true;
}

void TzfReferenceEngine::UnprepareTargetCursor() {
  reTargetRecordBuffer1.clear();
  reTargetRecordBuffer2.clear();
  reTargetKeyDescriptor = nullptr;
  reTargetCursorPrepared = false;
}

bool TzfReferenceEngine::SetRange(const uint8_t* aRecord, bool& aHasNull) {
  aHasNull = false;
  PrepareTargetCursor();
  uint8_t* start = reTargetRecordBuffer1.data();
  uint8_t* end = reTargetRecordBuffer2.data();
  reFieldsDescriptor->InitRecord(start);
  reFieldsDescriptor->InitRecord(end);
  for (auto& source : reSources) {
    bool isNull = false;
    if (const uint32_t r = source->SetValueTo(vutRangeStart, start, aRecord, &isNull))
      throw EzfReferenceEngineException(r);
    if (const uint32_t r = source->SetValueTo(vutRangeEnd, end, aRecord, &isNull))
      throw EzfReferenceEngineException(r);
    if (isNull) {
      // The reference does not apply to a record whose skip-on-null source is NULL.
      if (source->bseDescriptor.bsdSkipOnNull) return false;
      aHasNull = true;
    }
  }
  const auto count = static_cast<int32_t>(reSources.size());
  if (const uint32_t r = TargetCursor()->RangeSet(count, 0, false, start, true, count, 0, false, end, true))
    throw EzfReferenceEngineException(r);
  return true;
}

bool TzfReferenceEngine::KeysDiffer(const uint8_t* aNew, const uint8_t* aOld) {
  PrepareTargetCursor();
  uint8_t* key1 = reTargetRecordBuffer1.data();
  uint8_t* key2 = reTargetRecordBuffer2.data();
  reFieldsDescriptor->InitRecord(key1);
  reFieldsDescriptor->InitRecord(key2);
  for (auto& source : reSources) {
    if (const uint32_t r = source->SetValueTo(vutCompare, key1, aNew, nullptr)) throw EzfReferenceEngineException(r);
    if (const uint32_t r = source->SetValueTo(vutCompare, key2, aOld, nullptr)) throw EzfReferenceEngineException(r);
  }
  TValueRelationship rel = 0;
  if (const uint32_t r =
          TargetCursor()->CompareKeys(static_cast<int32_t>(reSources.size()), 0, false, key1, false, key2, rel))
    throw EzfReferenceEngineException(r);
  return rel != 0;
}

uint32_t TzfReferenceEngine::Notify(TzfEngineAction aAction, bool aBefore, const uint8_t* aOldRecord,
                                    const uint8_t* aNewRecord) {
  const std::vector<TzfBaseActionEngine*>& mapped = reActionMapping[aBefore ? 1 : 0][aAction];
  if (mapped.empty()) return 0;
  reTargetCursor->BeginUse();
  struct TEndUse {
    TzfBaseTargetCursorEngine& Engine;
    ~TEndUse() { Engine.EndUse(); }
  } endUse{*reTargetCursor};

  const uint8_t* from = nullptr;
  switch (aAction) {
    case eaRecordInsert: from = aNewRecord; break;
    case eaRecordDelete: from = aOldRecord; break;
    case eaRecordModify:
      if (aBefore) {
        from = aNewRecord;
      } else {
        // An unchanged reference key leaves the targets as they are.
        if (!KeysDiffer(aNewRecord, aOldRecord)) return 0;
        from = mapped.front()->WantsNewOnAfterModify() ? aNewRecord : aOldRecord;
      }
      break;
    default: return EzfBaseException::zfSetMessage(zfErrNotSupported, u"Action not supported");
  }
  if (!from) return EzfBaseException::zfSetMessage(zfErrInvalidParam, u"No record to take the reference from");
  bool hasNull = false;
  if (!SetRange(from, hasNull)) return 0;
  for (TzfBaseActionEngine* action : mapped) {
    if (aAction == eaRecordModify && !aBefore) {
      const uint8_t* wanted = action->WantsNewOnAfterModify() ? aNewRecord : aOldRecord;
      if (wanted != from) {
        from = wanted;
        if (!SetRange(from, hasNull)) return 0;
      }
    }
    if (hasNull && action->baeDescriptor.badSkipOnNull) continue;
    if (const uint32_t r = action->Execute(aAction, aBefore, aOldRecord, aNewRecord)) return FormatViolation(r);
  }
  return 0;
}

uint32_t TzfReferenceEngine::FormatViolation(uint32_t aErrorCode) {
  uint32_t code = 0;
  UnicodeString text;
  EzfBaseException::GetLastConvertedException(code, text);
  if (code != aErrorCode || text.empty()) text = zfOrgMarker;
  TzfAbstractCursor* source = SourceCursor();
  const UnicodeString message = u"Referential Integrity Violation. " +
                                (source ? source->acGetFullName() : UnicodeString()) + u"(" +
                                JoinNames(reSources, false) + u") -> " +
                                reDescriptor.rdTargetCursor->ReferencedTableName() + u"(" +
                                JoinNames(reSources, true) + u"): " + text;
  EzfBaseException::SetLastConvertedException(aErrorCode, message);
  return aErrorCode;
}

// ---- Target cursors ----

const TzfTargetCursorEngineClass& TzfBaseTargetCursorEngine::ClassInfo() {
  static const TzfTargetCursorEngineClass info(u"TzfBaseTargetCursorEngine", &TzfBaseRegisterableEngine::ClassInfo(),
                                               nullptr, &zfFamilyList<TzfBaseTargetCursorEngine>);
  return info;
}

std::unique_ptr<TzfBaseTargetCursorEngine> TzfBaseTargetCursorEngine::CreateFor(
    TzfReferenceEngine& aParent, TzfBaseTargetCursorDescriptor& aDescriptor) {
  const auto& cls = CachedClass<TzfTargetCursorEngineClass, EzfBaseTargetCursorEngineException>(
      aDescriptor.btcCachedEngineClass, ClassInfo(), aDescriptor.ClassName(), u"TargetCursor");
  return cls.Create(aParent, aDescriptor);
}

TzfBaseTargetCursorEngine::TzfBaseTargetCursorEngine(TzfReferenceEngine& aParent,
                                                     TzfBaseTargetCursorDescriptor& aDescriptor)
    : btceParent(aParent), btceDescriptor(aDescriptor) {}

TzfBaseTargetCursorEngine::~TzfBaseTargetCursorEngine() {
  TzfAbstractCursor* cursor = nullptr;
  {
    TzfPadlockGuard g(btcePadlock);
    cursor = std::exchange(btceCursor, nullptr);
  }
  if (!cursor) return;
  // Clearing the handler waits for a close request running on another thread (it holds the
  // target table's cursor padlock while its handler runs), so none reaches this engine later.
  if (auto* tc = dynamic_cast<TzfServerTableCursor*>(cursor)) tc->sbcSetOnRequestClose(nullptr);
  cursor->Free();
}

void TzfBaseTargetCursorEngine::BeginUse() {
  TzfPadlockGuard g(btcePadlock);
  ++btceInUse;
}

void TzfBaseTargetCursorEngine::EndUse() {
  TzfPadlockGuard g(btcePadlock);
  // An unmatched end must not leave a count that lets a close free a cursor in use later.
  if (btceInUse > 0) --btceInUse;
}

TzfAbstractCursor* TzfBaseTargetCursorEngine::GetCursor() {
  {
    TzfPadlockGuard g(btcePadlock);
    if (btceCursor) return btceCursor;
  }
  // Opened outside the padlock: the open takes the folder's table padlock and the target table's
  // cursor padlock, which a close request holds while it takes btcePadlock.
  TzfAbstractCursor* opened = nullptr;
  if (const uint32_t r = OpenCursor(btceParent.SourceCursor(), opened)) {
    if (opened) opened->Free();
    throw EzfBaseTargetCursorEngineException(btceParent.FormatViolation(r));
  }
  if (const uint32_t r = opened->SwitchToIndex(btceParent.reDescriptor.rdTargetIndex, -1, false)) {
    const EzfBaseTargetCursorEngineException failure(r);
    opened->Free();
    throw failure;
  }
  if (auto* tc = dynamic_cast<TzfServerTableCursor*>(opened))
    tc->sbcSetOnRequestClose([this](TzfServerTableCursor* aSender) { RequestClose(aSender); });
  TzfPadlockGuard g(btcePadlock);
  btceCursor = opened;
  return opened;
}

void TzfBaseTargetCursorEngine::RequestClose(TzfServerTableCursor* aSender) {
  TzfAbstractCursor* doomed = nullptr;
  {
    TzfPadlockGuard g(btcePadlock);
    if (btceInUse > 0 || btceCursor != aSender) return;
    doomed = std::exchange(btceCursor, nullptr);
    btceParent.UnprepareTargetCursor();
  }
  aSender->sbcSetOnRequestClose(nullptr);
  doomed->Free();
}

const TzfTargetCursorEngineClass& TzfCloneTargetCursorEngine::Info() {
  return PartInfo<TzfTargetCursorEngineClass, TzfCloneTargetCursorEngine>(u"TzfCloneTargetCursorEngine", &TzfBaseTargetCursorEngine::ClassInfo());
}

uint32_t TzfCloneTargetCursorEngine::OpenCursor(TzfAbstractCursor* aSourceCursor, TzfAbstractCursor*& aCursor) {
  aCursor = nullptr;
  if (!aSourceCursor) return zfErrInvalidHndl;
  if (const uint32_t r = aSourceCursor->Duplicate(omReadWrite, aCursor)) return r;
  // A duplicate keeps the source's record filters: the references must see every record.
  return aCursor->FilterRemove(0);
}

const TzfTargetCursorEngineClass& TzfTableTargetCursorEngine::Info() {
  return PartInfo<TzfTargetCursorEngineClass, TzfTableTargetCursorEngine>(u"TzfTableTargetCursorEngine", &TzfBaseTargetCursorEngine::ClassInfo());
}

uint32_t TzfTableTargetCursorEngine::OpenCursor(TzfAbstractCursor* aSourceCursor, TzfAbstractCursor*& aCursor) {
  aCursor = nullptr;
  if (!aSourceCursor) return zfErrInvalidHndl;
  auto& d = static_cast<TzfTableTargetCursorDescriptor&>(btceDescriptor);
  return aSourceCursor->Database()->CursorOpen(aCursor, d.ttcTableName, d.ttcPassword, omReadWrite, smShared,
                                               aSourceCursor->atoGetTimeout(), false);
}

const TzfTargetCursorEngineClass& TzfRelativeTargetCursorEngine::Info() {
  return PartInfo<TzfTargetCursorEngineClass, TzfRelativeTargetCursorEngine>(u"TzfRelativeTargetCursorEngine", &TzfBaseTargetCursorEngine::ClassInfo());
}

uint32_t TzfRelativeTargetCursorEngine::OpenCursor(TzfAbstractCursor* aSourceCursor, TzfAbstractCursor*& aCursor) {
  aCursor = nullptr;
  auto* source = dynamic_cast<TzfServerTableCursor*>(aSourceCursor);
  if (!source) return zfErrInvalidHndl;
  const UnicodeString& path = static_cast<TzfRelativeTargetCursorDescriptor&>(btceDescriptor).rtcTableName;
  TzfServerRootTable* root = source->Table()->sbtRoot;
  const UnicodeString from = !path.empty() && path[0] == u'.' ? source->acGetFullName() : root->FullName();
  return source->Database()->CursorOpen(aCursor, from + u":" + path, root->srtExtractPassword(), omReadWrite,
                                        smShared, source->atoGetTimeout(), false);
}

// ---- Sources ----

const TzfSourceEngineClass& TzfBaseSourceEngine::ClassInfo() {
  static const TzfSourceEngineClass info(u"TzfBaseSourceEngine", &TzfBaseRegisterableEngine::ClassInfo(), nullptr,
                                         &zfFamilyList<TzfBaseSourceEngine>);
  return info;
}

std::unique_ptr<TzfBaseSourceEngine> TzfBaseSourceEngine::CreateFor(TzfReferenceEngine& aParent,
                                                                    TzfBaseSourceDescriptor& aDescriptor) {
  const auto& cls = CachedClass<TzfSourceEngineClass, EzfBaseSourceEngineException>(
      aDescriptor.bsdCachedEngineClass, ClassInfo(), aDescriptor.ClassName(), u"Source");
  return cls.Create(aParent, aDescriptor);
}

TzfBaseSourceEngine::TzfBaseSourceEngine(TzfReferenceEngine& aParent, TzfBaseSourceDescriptor& aDescriptor)
    : bseParent(aParent), bseDescriptor(aDescriptor), bseSourceFields(FieldsOf(aParent.SourceCursor())) {}

TzfFieldSourceEngine::TzfFieldSourceEngine(TzfReferenceEngine& aParent, TzfBaseSourceDescriptor& aDescriptor)
    : TzfBaseSourceEngine(aParent, aDescriptor) {
  // Named before the target is prepared, so that a target that cannot be opened is reported with
  // the source fields.
  const int32_t field = static_cast<TzfFieldSourceDescriptor&>(aDescriptor).fsdFieldNumber;
  if (bseSourceFields && field >= 0 && field < bseSourceFields->FieldCount)
    fseSourceName = bseSourceFields->Field(field)->fdName;
}

void TzfBaseSourceEngine::Initialize(int32_t aTargetField, TzfAbstractCursor* aTargetCursor) {
  bseTargetFields = FieldsOf(aTargetCursor);
  if (!bseTargetFields || !bseSourceFields) throw EzfBaseSourceEngineException(zfErrInvalidHndl);
  bseTargetField = aTargetField;
  bseTargetOffset = bseTargetFields->Field(aTargetField)->fdOffset;
}

uint32_t TzfBaseSourceEngine::ClearField(TzfValueUseType, PzfByteArray aTargetBuffer) {
  bseTargetFields->SetRecordFieldNull(bseTargetField, aTargetBuffer, true);
  return 0;
}

uint32_t TzfBaseSourceEngine::SetFieldToDefault(TzfValueUseType aType, TzfAbstractCursor* aTargetCursor,
                                                PzfByteArray aTargetBuffer) {
  // A field without a default on the server side becomes NULL: keeping the value would keep the
  // reference to the record that goes.
  auto* target = dynamic_cast<TzfServerTableCursor*>(aTargetCursor);
  if (target && target->sbcDefaultValueHandler &&
      target->sbcDefaultValueHandler->SetDefaultValue(aTargetBuffer, bseTargetField))
    return 0;
  return ClearField(aType, aTargetBuffer);
}

const TzfSourceEngineClass& TzfFieldSourceEngine::Info() {
  return PartInfo<TzfSourceEngineClass, TzfFieldSourceEngine>(u"TzfFieldSourceEngine", &TzfBaseSourceEngine::ClassInfo());
}

void TzfFieldSourceEngine::Initialize(int32_t aTargetField, TzfAbstractCursor* aTargetCursor) {
  TzfBaseSourceEngine::Initialize(aTargetField, aTargetCursor);
  const auto& d = static_cast<TzfFieldSourceDescriptor&>(bseDescriptor);
  TzfFieldDescriptor* source = bseSourceFields->Field(d.fsdFieldNumber);
  TzfFieldDescriptor* target = bseTargetFields->Field(aTargetField);
  fseSourceField = d.fsdFieldNumber;
  fseSourceOffset = source->fdOffset;
  fseSourceName = source->fdName;
  fseTargetName = target->fdName;
  fseMapperInst.reset();
  fseMapper.Clear();
  fseMapperInst = TzfBaseFieldMapper::CreateMapper(*source, nullptr, *target, nullptr, nullptr, fseMapper);
}

uint32_t TzfFieldSourceEngine::SetValueTo(TzfValueUseType, PzfByteArray aTargetBuffer, const uint8_t* aSourceBuffer,
                                          bool* aSourceIsNull) {
  const bool isNull = bseSourceFields->IsRecordFieldNull(fseSourceField, aSourceBuffer);
  if (aSourceIsNull) *aSourceIsNull = isNull;
  bseTargetFields->SetRecordFieldNull(bseTargetField, aTargetBuffer, isNull);
  if (isNull) return 0;
  if (!fseMapper.IsSet()) return zfErrInvalidFieldXForm;
  const uint32_t r = fseMapper.Code(fseMapper.Data, aSourceBuffer + fseSourceOffset, aTargetBuffer + bseTargetOffset);
  if (r == 1) {
    bseTargetFields->SetRecordFieldNull(bseTargetField, aTargetBuffer, true);
    return 0;
  }
  return r;
}

// ---- Actions ----

const TzfActionEngineClass& TzfBaseActionEngine::ClassInfo() {
  static const TzfActionEngineClass info(u"TzfBaseActionEngine", &TzfBaseRegisterableEngine::ClassInfo(), nullptr,
                                         &zfFamilyList<TzfBaseActionEngine>);
  return info;
}

std::unique_ptr<TzfBaseActionEngine> TzfBaseActionEngine::CreateFor(TzfReferenceEngine& aParent,
                                                                    TzfBaseActionDescriptor& aDescriptor) {
  const auto& cls = CachedClass<TzfActionEngineClass, EzfBaseActionEngineException>(
      aDescriptor.badCachedEngineClass, ClassInfo(), aDescriptor.ClassName(), u"Action");
  return cls.Create(aParent, aDescriptor);
}

TzfBaseActionEngine::TzfBaseActionEngine(TzfReferenceEngine& aParent, TzfBaseActionDescriptor& aDescriptor)
    : baeParent(aParent), baeDescriptor(aDescriptor) {}

uint32_t TzfBaseActionEngine::Execute(TzfEngineAction, bool, const uint8_t*, const uint8_t*) { return 0; }

void TzfBaseActionEngine::RaiseCode(uint32_t aCode) { throw EzfBaseActionEngineException(aCode); }

void TzfBaseActionEngine::MarkTransactionCorrupted() {
  // Outside a transaction there is nothing to mark (10257): the write's own level goes anyway.
  baeParent.TargetCursor()->Database()->TransactionCorrupted();
}

uint32_t TzfBaseActionEngine::RangeHasRecord() {
  TzfAbstractCursor* target = baeParent.TargetCursor();
  if (const uint32_t r = target->SetToBegin()) return r;
  return target->RecordGetNext(zfltNoLock, nullptr);
}

uint32_t TzfBaseActionEngine::WalkRange(const std::function<uint32_t(TzfBaseSourceEngine&, PzfByteArray)>& aChange) {
  TzfAbstractCursor* target = baeParent.TargetCursor();
  if (const uint32_t r = target->SetToBegin()) return r;
  // The range keeps its own copy of its ends: the buffer is free for the records.
  PzfByteArray record = baeParent.reTargetRecordBuffer1.data();
  for (;;) {
    const uint32_t got = target->RecordGetNext(zfltWriteLock, record);
    if (got == zfErrEOF) return 0;
    if (got != 0) return got;
    for (auto& source : baeParent.reSources)
      if (const uint32_t r = aChange(*source, record)) {
        target->RecordLockRelease(false);
        RaiseCode(r);
      }
    // The key fields changed, so the record leaves the range and the next step goes on after it.
    if (const uint32_t r = target->RecordModify(record, true)) {
      target->RecordLockRelease(false);
      return r;
    }
  }
}

namespace {

// An action engine with its exception class; every one but the block-on-delete engine runs the
// source cursor's record writes in levels of their own, so that a violation found after the fact
// takes the whole write back.
template <class TException, bool NestedWrites = true>
class TzfActionEngineOf : public TzfBaseActionEngine {
 public:
  TzfActionEngineOf(TzfReferenceEngine& aParent, TzfBaseActionDescriptor& aDescriptor)
      : TzfBaseActionEngine(aParent, aDescriptor) {
    if (NestedWrites)
      if (TzfAbstractCursor* source = aParent.SourceCursor()) source->RequestNestedTransactions();
  }

 protected:
  [[noreturn]] void RaiseCode(uint32_t aCode) override { throw TException(aCode); }
  // A code of the action's own finding, with its own text as the thread's message (an older
  // message of the same code must not become this violation's text).
  static uint32_t Violation(uint32_t aCode) { return EzfBaseException::zfSetMessage(aCode, zfOrgMarker); }
  static TzfEngineActions Of(std::initializer_list<TzfEngineAction> aActions) {
    TzfEngineActions s;
    for (TzfEngineAction a : aActions) s.Include(a);
    return s;
  }
};


#define ZF_ACTION_CLASS_INFO(T)                                                      \
  static const TzfActionEngineClass& Info() {                                        \
    return PartInfo<TzfActionEngineClass, T>(u"" #T, &TzfBaseActionEngine::ClassInfo()); \
  }                                                                                  \
  const TzfRegisterableClass& ClassType() const override { return Info(); }

// Clear and set default, on delete or modify: every record of the range gets NULL or its default
// in the key fields.
template <class TException, TzfEngineAction Watched, TzfValueUseType Use>
class TzfClearActionEngineOf : public TzfActionEngineOf<TException> {
 public:
  using TzfActionEngineOf<TException>::TzfActionEngineOf;
  TzfEngineActions RequiredAfterActions() override { return this->Of({Watched}); }
  uint32_t Execute(TzfEngineAction, bool, const uint8_t*, const uint8_t*) override {
    return this->WalkRange([](TzfBaseSourceEngine& aSource, PzfByteArray aRecord) {
      return aSource.ClearField(Use, aRecord);
    });
  }
};

template <class TException, TzfEngineAction Watched, TzfValueUseType Use>
class TzfSetDefaultActionEngineOf : public TzfActionEngineOf<TException> {
 public:
  using TzfActionEngineOf<TException>::TzfActionEngineOf;
  TzfEngineActions RequiredAfterActions() override { return this->Of({Watched}); }
  uint32_t Execute(TzfEngineAction, bool, const uint8_t*, const uint8_t*) override {
    TzfAbstractCursor* target = this->baeParent.TargetCursor();
    return this->WalkRange([target](TzfBaseSourceEngine& aSource, PzfByteArray aRecord) {
      return aSource.SetFieldToDefault(Use, target, aRecord);
    });
  }
};

class TzfCascadeDeleteActionEngine : public TzfActionEngineOf<EzfCascadeDeleteActionEngineException> {
 public:
  ZF_ACTION_CLASS_INFO(TzfCascadeDeleteActionEngine)
  using TzfActionEngineOf::TzfActionEngineOf;
  TzfEngineActions RequiredAfterActions() override { return Of({eaRecordDelete}); }
  uint32_t Execute(TzfEngineAction, bool, const uint8_t*, const uint8_t*) override {
    const uint32_t r = baeParent.TargetCursor()->DeleteRecords();
    if (r != 0) MarkTransactionCorrupted();
    return r;
  }
};

class TzfClearDeleteActionEngine : public TzfClearActionEngineOf<EzfClearDeleteActionEngineException, eaRecordDelete, vutRecordDelete> {
 public:
  ZF_ACTION_CLASS_INFO(TzfClearDeleteActionEngine)
  using TzfClearActionEngineOf::TzfClearActionEngineOf;
};

class TzfSetDefaultDeleteActionEngine : public TzfSetDefaultActionEngineOf<EzfSetDefaultDeleteActionEngineException, eaRecordDelete, vutRecordDelete> {
 public:
  ZF_ACTION_CLASS_INFO(TzfSetDefaultDeleteActionEngine)
  using TzfSetDefaultActionEngineOf::TzfSetDefaultActionEngineOf;
};

class TzfBlockDeleteActionEngine : public TzfActionEngineOf<EzfBlockDeleteActionEngineException, false> {
 public:
  ZF_ACTION_CLASS_INFO(TzfBlockDeleteActionEngine)
  using TzfActionEngineOf::TzfActionEngineOf;
  TzfEngineActions RequiredBeforeActions() override { return Of({eaRecordDelete}); }
  uint32_t Execute(TzfEngineAction, bool, const uint8_t*, const uint8_t*) override {
    const uint32_t r = RangeHasRecord();
    if (r == 0) return Violation(zfErrDetailRecsExist);
    return r == zfErrEOF ? 0 : r;
  }
};

class TzfCascadeModifyActionEngine : public TzfActionEngineOf<EzfCascadeModifyActionEngineException> {
 public:
  ZF_ACTION_CLASS_INFO(TzfCascadeModifyActionEngine)
  using TzfActionEngineOf::TzfActionEngineOf;
  TzfEngineActions RequiredAfterActions() override { return Of({eaRecordModify}); }
  uint32_t Execute(TzfEngineAction, bool, const uint8_t*, const uint8_t* aNewRecord) override {
    return WalkRange([aNewRecord](TzfBaseSourceEngine& aSource, PzfByteArray aRecord) {
      return aSource.SetValueTo(vutRecordModify, aRecord, aNewRecord, nullptr);
    });
  }
};

class TzfClearModifyActionEngine : public TzfClearActionEngineOf<EzfClearModifyActionEngineException, eaRecordModify, vutRecordModify> {
 public:
  ZF_ACTION_CLASS_INFO(TzfClearModifyActionEngine)
  using TzfClearActionEngineOf::TzfClearActionEngineOf;
};

class TzfSetDefaultModifyActionEngine : public TzfSetDefaultActionEngineOf<EzfSetDefaultModifyActionEngineException, eaRecordModify, vutRecordModify> {
 public:
  ZF_ACTION_CLASS_INFO(TzfSetDefaultModifyActionEngine)
  using TzfSetDefaultActionEngineOf::TzfSetDefaultActionEngineOf;
};

class TzfBlockModifyActionEngine : public TzfActionEngineOf<EzfBlockModifyActionEngineException> {
 public:
  ZF_ACTION_CLASS_INFO(TzfBlockModifyActionEngine)
  using TzfActionEngineOf::TzfActionEngineOf;
  TzfEngineActions RequiredAfterActions() override { return Of({eaRecordModify}); }
  uint32_t Execute(TzfEngineAction, bool, const uint8_t*, const uint8_t*) override {
    const uint32_t r = RangeHasRecord();
    if (r == zfErrEOF) return 0;
    if (r != 0) return r;
    MarkTransactionCorrupted();
    return Violation(zfErrDetailRecsExist);
  }
};

class TzfTargetRequiredActionEngine : public TzfActionEngineOf<EzfTargetRequiredActionEngineException> {
 public:
  ZF_ACTION_CLASS_INFO(TzfTargetRequiredActionEngine)
  using TzfActionEngineOf::TzfActionEngineOf;
  TzfEngineActions RequiredAfterActions() override { return Of({eaRecordInsert, eaRecordModify}); }
  bool WantsNewOnAfterModify() override { return true; }
  uint32_t Execute(TzfEngineAction, bool, const uint8_t*, const uint8_t*) override {
    if (RangeHasRecord() == 0) return 0;
    MarkTransactionCorrupted();
    return Violation(zfErrMasterMissing);
  }
};

#undef ZF_ACTION_CLASS_INFO

// The fifteen classes, in the order the unit registers them.
std::array<const TzfRegisterableClass*, 15> EngineClasses() {
  return {
    &TzfRefIntegrityEngine::Info(),          &TzfReferenceEngine::ClassInfo(),
    &TzfCloneTargetCursorEngine::Info(),     &TzfTableTargetCursorEngine::Info(),
    &TzfRelativeTargetCursorEngine::Info(),  &TzfFieldSourceEngine::Info(),
    &TzfCascadeDeleteActionEngine::Info(),   &TzfClearDeleteActionEngine::Info(),
    &TzfSetDefaultDeleteActionEngine::Info(), &TzfBlockDeleteActionEngine::Info(),
    &TzfCascadeModifyActionEngine::Info(),   &TzfClearModifyActionEngine::Info(),
    &TzfSetDefaultModifyActionEngine::Info(), &TzfBlockModifyActionEngine::Info(),
    &TzfTargetRequiredActionEngine::Info(),
  };
}

void StartRefIntEngines() {
  for (const TzfRegisterableClass* cls : EngineClasses()) TzfBaseRegisterableEngine::RegisterEngine(*cls);
}

void StopRefIntEngines() {
  const auto classes = EngineClasses();
  for (size_t i = classes.size(); i-- > 0;) TzfBaseRegisterableEngine::UnregisterEngine(*classes[i]);
}

}  // namespace

rtl::TUnitInit& zfseRefIntEngineUnit() {
  static rtl::TUnitInit unit("zfseRefIntEngine", &StartRefIntEngines, &StopRefIntEngines);
  return unit;
}

}  // namespace zf
