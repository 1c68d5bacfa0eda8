#include "dictionary/zfsdDataDictionaryRefInt.h"

#include <algorithm>

#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdRenumber.h"
#include "dictionary/zfsdTableDescriptor.h"
#include "foundation/zfllConst.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllUtils.h"

namespace zf {

namespace {

// Makes a descriptor of aClass (nullptr: TDefault) through its generic virtual constructor; the
// class must belong to TBase's family.
template <class TBase, class TDefault>
std::unique_ptr<TBase> NewItem(TzfDictionaryItem* aOwner, TzfDictionaryItemClass aClass) {
  if (!aClass) aClass = &TDefault::ClassInfo();
  ZF_ASSERT(aClass->Create && aClass->InheritsFrom(&TBase::ClassInfo()), "zfsdDataDictionaryRefInt");
  std::unique_ptr<TzfDictionaryItem> item(aClass->Create(aOwner));
  auto* typed = dynamic_cast<TBase*>(item.get());
  ZF_ASSERT(typed != nullptr, "zfsdDataDictionaryRefInt");
  item.release();
  return std::unique_ptr<TBase>(typed);
}

template <class V>
void RemoveAt(V& aList, int32_t aIndex) {
  if (aIndex < 0 || aIndex >= static_cast<int32_t>(aList.size())) return;
  aList.erase(aList.begin() + aIndex);
}

template <class V, class T>
int32_t IndexOf(const V& aList, const T* aItem) {
  for (size_t i = 0; i < aList.size(); ++i)
    if (aList[i].get() == aItem) return static_cast<int32_t>(i);
  return -1;
}

// The topmost table descriptor above aItem (the data dictionary's own table).
TzfBaseTableDescriptor* RootTable(const TzfDictionaryItem& aItem) {
  TzfBaseTableDescriptor* table = aItem.FindParent<TzfBaseTableDescriptor>();
  while (table) {
    TzfBaseTableDescriptor* above = table->FindParent<TzfBaseTableDescriptor>();
    if (!above) break;
    table = above;
  }
  return table;
}

// Version of the source and action parts: 2 carries the skip-on-null flag, which a client below
// 20000 cannot read.
void WriteSkipOnNullPart(const TzfDictionaryItem& aItem, TzfWriter& aWriter, int32_t aClientVersion, bool aSkipOnNull) {
  if (aClientVersion < zfVersion20000) {
    if (aSkipOnNull) aItem.RaiseError(zfErrIncompatibleVersion);
    aWriter.WriteInteger(1);
    return;
  }
  aWriter.WriteInteger(2);
  aWriter.WriteBoolean(aSkipOnNull);
}

bool ReadSkipOnNullPart(const TzfDictionaryItem& aItem, TzfReader& aReader) {
  return aItem.ReadBodyVersion(aReader, 1, 2) == 2 ? aItem.ReadStoredBoolean(aReader) : false;
}

}  // namespace

// ---- TzfRefIntegrityDescriptor ----

const TzfNamedDescriptorClassInfo& TzfRefIntegrityDescriptor::ClassInfo() {
  static const TzfNamedDescriptorClassInfo info(
      u"TzfRefIntegrityDescriptor", &TzfBaseCustomDescriptor::ClassInfo(), nullptr,
      [](TzfPersistent* aParent, const UnicodeString& aName) -> TzfDictionaryItem* {
        return new TzfRefIntegrityDescriptor(aParent, aName);
      });
  return info;
}

TzfRefIntegrityDescriptor::~TzfRefIntegrityDescriptor() {
  while (!ridReferences.empty()) ridReferences.pop_back();
}

TzfReferenceDescriptor* TzfRefIntegrityDescriptor::AddReference(const TzfReferenceDescriptorClassInfo* aReferenceClass,
                                                                TzfDictionaryItemClass aTargetCursorClass) {
  if (!aReferenceClass) aReferenceClass = &TzfReferenceDescriptor::ClassInfo();
  ZF_ASSERT(aReferenceClass->CreateRef, "zfsdDataDictionaryRefInt");
  ridReferences.push_back(
      std::unique_ptr<TzfReferenceDescriptor>(aReferenceClass->CreateRef(this, aTargetCursorClass)));
  return ridReferences.back().get();
}

void TzfRefIntegrityDescriptor::RemoveReference(int32_t aIndex) { RemoveAt(ridReferences, aIndex); }

void TzfRefIntegrityDescriptor::RemoveReference(TzfReferenceDescriptor* aDescriptor) {
  RemoveAt(ridReferences, IndexOf(ridReferences, aDescriptor));
}

void TzfRefIntegrityDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseCustomDescriptor::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(1);
  aWriter.WriteListBegin();
  for (const auto& r : ridReferences) {
    aWriter.WriteString(r->ClassName());
    aWriter.WriteString(r->rdTargetCursor->ClassName());
    r->SaveToWriter(aWriter, aClientVersion);
  }
  aWriter.WriteListEnd();
}

void TzfRefIntegrityDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseCustomDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  while (!ridReferences.empty()) ridReferences.pop_back();
  aReader.ReadListBegin();
  // Every entry consumes stream bytes, so the list ends with the stream at the latest.
  while (!aReader.EndOfList()) {
    const auto& refClass = FindStoredDescriptorClass<TzfReferenceDescriptorClassInfo>(
        TzfReferenceDescriptor::ClassInfo(), u"ReferenceDescriptor", aReader.ReadString());
    const auto& targetClass = FindStoredDescriptorClass<TzfDictionaryItemClassInfo>(
        TzfBaseTargetCursorDescriptor::ClassInfo(), u"TargetCursorDescriptor", aReader.ReadString());
    // Only concrete target classes can be made; an abstract one named in a stream is unknown.
    if (!targetClass.Create)
      RaiseError(zfErrUnsupportedDescriptor, u"%s class is not supported: %s",
                 {u"TargetCursorDescriptor", targetClass.Name});
    AddReference(&refClass, &targetClass)->LoadFromReader(aReader);
  }
  aReader.ReadListEnd();
}

void TzfRefIntegrityDescriptor::CheckValid(bool aForBuild) {
  TzfBaseCustomDescriptor::CheckValid(aForBuild);
  for (const auto& r : ridReferences) r->CheckValid(aForBuild);
}

bool TzfRefIntegrityDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  const auto* other = dynamic_cast<const TzfRefIntegrityDescriptor*>(aItem);
  return other && TzfBaseCustomDescriptor::IsEqual(aItem) && zfSameItemLists(ridReferences, other->ridReferences);
}

// ---- TzfReferenceDescriptor ----

const TzfReferenceDescriptorClassInfo& TzfReferenceDescriptor::ClassInfo() {
  static const TzfReferenceDescriptorClassInfo info(
      u"TzfReferenceDescriptor", &TzfDictionaryItem::ClassInfo(), &zfFamilyList<TzfReferenceDescriptor>,
      [](TzfPersistent* aParent, TzfDictionaryItemClass aTargetCursorClass) {
        return new TzfReferenceDescriptor(aParent, aTargetCursorClass);
      });
  return info;
}

TzfReferenceDescriptor::TzfReferenceDescriptor(TzfPersistent* aParent, TzfDictionaryItemClass aTargetCursorClass)
    : TzfDictionaryItem(aParent) {
  rdTargetCursor = NewItem<TzfBaseTargetCursorDescriptor, TzfTableTargetCursorDescriptor>(this, aTargetCursorClass);
}

TzfReferenceDescriptor::~TzfReferenceDescriptor() {
  while (!rdActions.empty()) rdActions.pop_back();
  while (!rdSources.empty()) rdSources.pop_back();
  rdTargetCursor.reset();
}

TzfBaseSourceDescriptor* TzfReferenceDescriptor::AddSource(TzfDictionaryItemClass aSourceDescriptorClass) {
  rdSources.push_back(NewItem<TzfBaseSourceDescriptor, TzfFieldSourceDescriptor>(this, aSourceDescriptorClass));
  return rdSources.back().get();
}

TzfBaseActionDescriptor* TzfReferenceDescriptor::AddAction(TzfDictionaryItemClass aActionDescriptorClass) {
  rdActions.push_back(NewItem<TzfBaseActionDescriptor, TzfBlockDeleteActionDescriptor>(this, aActionDescriptorClass));
  return rdActions.back().get();
}

void TzfReferenceDescriptor::RemoveSource(int32_t aIndex) { RemoveAt(rdSources, aIndex); }
void TzfReferenceDescriptor::RemoveSource(TzfBaseSourceDescriptor* aDescriptor) {
  RemoveAt(rdSources, IndexOf(rdSources, aDescriptor));
}
void TzfReferenceDescriptor::RemoveAction(int32_t aIndex) { RemoveAt(rdActions, aIndex); }
void TzfReferenceDescriptor::RemoveAction(TzfBaseActionDescriptor* aDescriptor) {
  RemoveAt(rdActions, IndexOf(rdActions, aDescriptor));
}

void TzfReferenceDescriptor::SetTargetIndex(const UnicodeString& aValue) {
  CheckReadOnly();
  rdTargetIndex = aValue;
}

void TzfReferenceDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(1);
  rdTargetCursor->SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteString(rdTargetIndex);
  aWriter.WriteListBegin();
  for (const auto& s : rdSources) {
    aWriter.WriteString(s->ClassName());
    s->SaveToWriter(aWriter, aClientVersion);
  }
  aWriter.WriteListEnd();
  aWriter.WriteListBegin();
  for (const auto& a : rdActions) {
    aWriter.WriteString(a->ClassName());
    a->SaveToWriter(aWriter, aClientVersion);
  }
  aWriter.WriteListEnd();
}

void TzfReferenceDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  rdTargetCursor->LoadFromReader(aReader);
  rdTargetIndex = aReader.ReadString();
  while (!rdSources.empty()) rdSources.pop_back();
  while (!rdActions.empty()) rdActions.pop_back();
  aReader.ReadListBegin();
  while (!aReader.EndOfList()) {
    const auto& cls =
        FindStoredDescriptorClass(TzfBaseSourceDescriptor::ClassInfo(), u"SourceDescriptor", aReader.ReadString());
    if (!cls.Create)
      RaiseError(zfErrUnsupportedDescriptor, u"%s class is not supported: %s", {u"SourceDescriptor", cls.Name});
    AddSource(&cls)->LoadFromReader(aReader);
  }
  aReader.ReadListEnd();
  aReader.ReadListBegin();
  while (!aReader.EndOfList()) {
    const auto& cls =
        FindStoredDescriptorClass(TzfBaseActionDescriptor::ClassInfo(), u"ActionDescriptor", aReader.ReadString());
    if (!cls.Create)
      RaiseError(zfErrUnsupportedDescriptor, u"%s class is not supported: %s", {u"ActionDescriptor", cls.Name});
    AddAction(&cls)->LoadFromReader(aReader);
  }
  aReader.ReadListEnd();
}

void TzfReferenceDescriptor::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  rdTargetCursor->CheckValid(aForBuild);
  for (const auto& s : rdSources) s->CheckValid(aForBuild);
  for (const auto& a : rdActions) a->CheckValid(aForBuild);
}

bool TzfReferenceDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  const auto* other = dynamic_cast<const TzfReferenceDescriptor*>(aItem);
  return other && TzfDictionaryItem::IsEqual(aItem) && rdTargetCursor->IsEqual(other->rdTargetCursor.get()) &&
         rtl::SameText(rdTargetIndex, other->rdTargetIndex) && zfSameItemLists(rdSources, other->rdSources) &&
         zfSameItemLists(rdActions, other->rdActions);
}

bool TzfReferenceDescriptor::References(const TzfDictionaryItem* aItem) const {
  const auto* index = dynamic_cast<const TzfIndexDescriptor*>(aItem);
  if (!index || !rtl::SameText(index->idName, rdTargetIndex)) return false;
  const auto* table = index->FindParent<TzfBaseTableDescriptor>();
  return table && rdTargetCursor->References(table);
}

// ---- Targets ----

const TzfDictionaryItemClassInfo& TzfBaseTargetCursorDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfBaseTargetCursorDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfBaseTargetCursorDescriptor>, nullptr);
  return info;
}

void TzfBaseTargetCursorDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(1);
}

void TzfBaseTargetCursorDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
}

bool TzfBaseTargetCursorDescriptor::References(const TzfDictionaryItem* aItem) const {
  const auto* table = dynamic_cast<const TzfBaseTableDescriptor*>(aItem);
  if (!table) return false;
  // A relative target whose path no longer resolves references nothing.
  try {
    return rtl::SameText(table->btdFullName(), ReferencedTableName());
  } catch (const EzfBaseException&) {
    return false;
  }
}

const TzfDictionaryItemClassInfo& TzfCloneTargetCursorDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfCloneTargetCursorDescriptor",
                                               &TzfBaseTargetCursorDescriptor::ClassInfo(), nullptr,
                                               &zfNewDictionaryItem<TzfCloneTargetCursorDescriptor>);
  return info;
}

UnicodeString TzfCloneTargetCursorDescriptor::ReferencedTableName() const {
  const auto* table = FindParent<TzfBaseTableDescriptor>();
  return table ? table->btdFullName() : UnicodeString();
}

void TzfCloneTargetCursorDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseTargetCursorDescriptor::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(1);
}

void TzfCloneTargetCursorDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseTargetCursorDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
}

const TzfDictionaryItemClassInfo& TzfTableTargetCursorDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfTableTargetCursorDescriptor",
                                               &TzfBaseTargetCursorDescriptor::ClassInfo(), nullptr,
                                               &zfNewDictionaryItem<TzfTableTargetCursorDescriptor>);
  return info;
}

void TzfTableTargetCursorDescriptor::SetTableName(const UnicodeString& aValue) {
  CheckReadOnly();
  if (const uint32_t code = zfCheckFullTableName(aValue, true, false)) RaiseError(code);
  ttcTableName = aValue;
}

void TzfTableTargetCursorDescriptor::SetPassword(const UnicodeString& aValue) {
  CheckReadOnly();
  ttcPassword = aValue;
}

void TzfTableTargetCursorDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseTargetCursorDescriptor::SaveToWriter(aWriter, aClientVersion);
  if (aClientVersion < zfVersion20000) {
    // The old form has no place for a password.
    if (!ttcPassword.empty()) RaiseError(zfErrIncompatibleVersion);
    aWriter.WriteInteger(1);
    aWriter.WriteString(ttcTableName);
    return;
  }
  aWriter.WriteInteger(2);
  aWriter.WriteString(ttcTableName);
  aWriter.WriteWideString(ttcPassword);
}

void TzfTableTargetCursorDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseTargetCursorDescriptor::LoadFromReader(aReader);
  const int32_t version = ReadBodyVersion(aReader, 1, 2);
  ttcTableName = aReader.ReadString();
  ttcPassword = version == 2 ? aReader.ReadWideString() : UnicodeString();
}

void TzfTableTargetCursorDescriptor::CheckValid(bool aForBuild) {
  TzfBaseTargetCursorDescriptor::CheckValid(aForBuild);
  if (const uint32_t code = zfCheckFullTableName(ttcTableName, true, false)) RaiseError(code);
}

bool TzfTableTargetCursorDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  const auto* other = dynamic_cast<const TzfTableTargetCursorDescriptor*>(aItem);
  return other && TzfBaseTargetCursorDescriptor::IsEqual(aItem) && rtl::SameText(ttcTableName, other->ttcTableName);
}

const TzfDictionaryItemClassInfo& TzfRelativeTargetCursorDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfRelativeTargetCursorDescriptor",
                                               &TzfBaseTargetCursorDescriptor::ClassInfo(), nullptr,
                                               &zfNewDictionaryItem<TzfRelativeTargetCursorDescriptor>);
  return info;
}

void TzfRelativeTargetCursorDescriptor::SetTableName(const UnicodeString& aValue) {
  CheckReadOnly();
  if (zfCheckTablePath(aValue) != 0) RaiseError(zfErrInvalidTableName);
  rtcTableName = aValue;
}

TzfBaseTableDescriptor* TzfRelativeTargetCursorDescriptor::ReferencedTable() const {
  TzfBaseTableDescriptor* from =
      rtcTableName.starts_with(u".") ? FindParent<TzfBaseTableDescriptor>() : RootTable(*this);
  if (!from) RaiseError(zfErrNoSuchTable);
  return from->GetChild(rtcTableName);
}

UnicodeString TzfRelativeTargetCursorDescriptor::ReferencedTableName() const {
  return ReferencedTable()->btdFullName();
}

void TzfRelativeTargetCursorDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseTargetCursorDescriptor::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(1);
  aWriter.WriteString(rtcTableName);
}

void TzfRelativeTargetCursorDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseTargetCursorDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  rtcTableName = aReader.ReadString();
}

void TzfRelativeTargetCursorDescriptor::CheckValid(bool aForBuild) {
  TzfBaseTargetCursorDescriptor::CheckValid(aForBuild);
  if (zfCheckTablePath(rtcTableName) != 0) RaiseError(zfErrInvalidTableName);
  ReferencedTable();
}

bool TzfRelativeTargetCursorDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  const auto* other = dynamic_cast<const TzfRelativeTargetCursorDescriptor*>(aItem);
  return other && TzfBaseTargetCursorDescriptor::IsEqual(aItem) && rtl::SameText(rtcTableName, other->rtcTableName);
}

// ---- Sources ----

const TzfDictionaryItemClassInfo& TzfBaseSourceDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfBaseSourceDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfBaseSourceDescriptor>, nullptr);
  return info;
}

void TzfBaseSourceDescriptor::SetSkipOnNull(bool aValue) {
  CheckReadOnly();
  bsdSkipOnNull = aValue;
}

void TzfBaseSourceDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  WriteSkipOnNullPart(*this, aWriter, aClientVersion, bsdSkipOnNull);
}

void TzfBaseSourceDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  bsdSkipOnNull = ReadSkipOnNullPart(*this, aReader);
}

const TzfDictionaryItemClassInfo& TzfFieldSourceDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfFieldSourceDescriptor", &TzfBaseSourceDescriptor::ClassInfo(),
                                               nullptr, &zfNewDictionaryItem<TzfFieldSourceDescriptor>);
  return info;
}

TzfFieldSourceDescriptor::TzfFieldSourceDescriptor(TzfPersistent* aParent) : TzfBaseSourceDescriptor(aParent) {
  RegisterFieldChangeNotify();
}

TzfFieldSourceDescriptor::~TzfFieldSourceDescriptor() { UnregisterFieldChangeNotify(); }

void TzfFieldSourceDescriptor::SetFieldNumber(int32_t aValue) {
  CheckReadOnly();
  fsdFieldNumber = aValue;
}

void TzfFieldSourceDescriptor::FieldNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) {
  if (aBefore) {
    if (aOld != fsdFieldNumber || aNew >= 0) return;
    UnicodeString name = rtl::IntToStr(aOld);
    const TzfFieldsDescriptor* fields = FindRelated<TzfFieldsDescriptor>();
    if (fields && aOld >= 0 && aOld < fields->FieldCount) name = fields->FieldDescriptor[aOld]->fdName;
    RaiseError(zfErrObjectInUse, u"Cannot remove field %s because it is still referenced by an index", {name});
  }
  fsdFieldNumber = zfRenumberAfterChange(fsdFieldNumber, aOld, aNew);
}

void TzfFieldSourceDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseSourceDescriptor::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(1);
  aWriter.WriteInteger(fsdFieldNumber);
}

void TzfFieldSourceDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseSourceDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  fsdFieldNumber = aReader.ReadInteger();
}

void TzfFieldSourceDescriptor::CheckValid(bool aForBuild) {
  TzfBaseSourceDescriptor::CheckValid(aForBuild);
  const TzfFieldsDescriptor* fields = FindRelated<TzfFieldsDescriptor>();
  if (fields && (fsdFieldNumber < 0 || fsdFieldNumber >= fields->FieldCount))
    RaiseError(zfErrInvalidDesc, u"Invalid field number: %d", {fsdFieldNumber});
}

bool TzfFieldSourceDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  const auto* other = dynamic_cast<const TzfFieldSourceDescriptor*>(aItem);
  return other && TzfBaseSourceDescriptor::IsEqual(aItem) && fsdFieldNumber == other->fsdFieldNumber;
}

// ---- Actions ----

const TzfDictionaryItemClassInfo& TzfBaseActionDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfBaseActionDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfBaseActionDescriptor>, nullptr);
  return info;
}

void TzfBaseActionDescriptor::SetSkipOnNull(bool aValue) {
  CheckReadOnly();
  badSkipOnNull = aValue;
}

void TzfBaseActionDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  WriteSkipOnNullPart(*this, aWriter, aClientVersion, badSkipOnNull);
  aWriter.WriteInteger(1);
}

void TzfBaseActionDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  badSkipOnNull = ReadSkipOnNullPart(*this, aReader);
  ReadBodyVersion(aReader, 1, 1);
}

#define ZF_ACTION_CLASS_INFO(Name)                                                                          \
  const TzfDictionaryItemClassInfo& Name::ClassInfo() {                                                     \
    static const TzfDictionaryItemClassInfo info(u## #Name, &TzfBaseActionDescriptor::ClassInfo(), nullptr, \
                                                 &zfNewDictionaryItem<Name>);                               \
    return info;                                                                                            \
  }
ZF_ACTION_CLASS_INFO(TzfCascadeDeleteActionDescriptor)
ZF_ACTION_CLASS_INFO(TzfClearDeleteActionDescriptor)
ZF_ACTION_CLASS_INFO(TzfSetDefaultDeleteActionDescriptor)
ZF_ACTION_CLASS_INFO(TzfBlockDeleteActionDescriptor)
ZF_ACTION_CLASS_INFO(TzfCascadeModifyActionDescriptor)
ZF_ACTION_CLASS_INFO(TzfClearModifyActionDescriptor)
ZF_ACTION_CLASS_INFO(TzfSetDefaultModifyActionDescriptor)
ZF_ACTION_CLASS_INFO(TzfBlockModifyActionDescriptor)
ZF_ACTION_CLASS_INFO(TzfTargetRequiredActionDescriptor)
#undef ZF_ACTION_CLASS_INFO

// ---- Lookup ----

TzfRefIntegrityDescriptor* zfGetRefIntegrityDescriptor(TzfBaseTableDescriptor* aTableDescriptor) {
  TzfCustomDescsDescriptor& customs = *aTableDescriptor->tdCustomDescsDescriptor;
  const int32_t i = customs.GetCustomDescriptorFromName(u"RefIntegrity");
  if (i < 0) return nullptr;
  TzfBaseCustomDescriptor* custom = customs.CustomDescriptor[i].get();
  auto* refInt = dynamic_cast<TzfRefIntegrityDescriptor*>(custom);
  if (!refInt)
    throw EzfRefIntegrityDescriptorException(zfErrUnsupportedDescriptor, u"%s class is not supported: %s",
                                             {u"RefIntegrity", custom->ClassName()});
  return refInt;
}

TzfRegisteredClasses zfGetActionDescriptorClasses() {
  return TzfBaseRegisterableDescriptor::GetRegisteredDescriptors(TzfBaseActionDescriptor::ClassInfo(), false);
}

// ---- Unit ----

namespace {

const TzfRegisterableClass* const* RefIntClasses() {
  static const TzfRegisterableClass* const classes[] = {
      &TzfRefIntegrityDescriptor::ClassInfo(),           &TzfReferenceDescriptor::ClassInfo(),
      &TzfCloneTargetCursorDescriptor::ClassInfo(),      &TzfTableTargetCursorDescriptor::ClassInfo(),
      &TzfRelativeTargetCursorDescriptor::ClassInfo(),   &TzfFieldSourceDescriptor::ClassInfo(),
      &TzfCascadeDeleteActionDescriptor::ClassInfo(),    &TzfClearDeleteActionDescriptor::ClassInfo(),
      &TzfSetDefaultDeleteActionDescriptor::ClassInfo(), &TzfBlockDeleteActionDescriptor::ClassInfo(),
      &TzfCascadeModifyActionDescriptor::ClassInfo(),    &TzfClearModifyActionDescriptor::ClassInfo(),
      &TzfSetDefaultModifyActionDescriptor::ClassInfo(), &TzfBlockModifyActionDescriptor::ClassInfo(),
      &TzfTargetRequiredActionDescriptor::ClassInfo(),   nullptr};
  return classes;
}

void StartRefInt() {
  for (const TzfRegisterableClass* const* c = RefIntClasses(); *c; ++c)
    TzfBaseRegisterableDescriptor::RegisterDescriptor(**c);
}

void StopRefInt() {
  const TzfRegisterableClass* const* first = RefIntClasses();
  const TzfRegisterableClass* const* last = first;
  while (*last) ++last;
  while (last != first) TzfBaseRegisterableDescriptor::UnregisterDescriptor(**--last);
}

}  // namespace

rtl::TUnitInit& zfsdDataDictionaryRefIntUnit() {
  static rtl::TUnitInit unit("zfsdDataDictionaryRefInt", &StartRefInt, &StopRefInt);
  return unit;
}

}  // namespace zf
