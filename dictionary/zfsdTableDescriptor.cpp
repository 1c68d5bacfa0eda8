#include "dictionary/zfsdTableDescriptor.h"

#include <algorithm>

#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllConst.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllUtils.h"

namespace zf {

namespace {

// Makes a section descriptor of aClass (nullptr: TDefault) with aOwner as parent.
template <class TBase, class TDefault>
std::unique_ptr<TBase> NewSectionDescriptor(TzfDictionaryItem* aOwner, const TzfSectionDescriptorClassInfo* aClass,
                                            const char* aSection) {
  if (!aClass) aClass = &TDefault::ClassInfo();
  ZF_ASSERT(aClass->CreateSection && aClass->InheritsFrom(&TBase::ClassInfo()), "zfsdTableDescriptor");
  std::unique_ptr<TzfDictionaryItem> item(aClass->CreateSection(aOwner, aSection));
  auto* typed = dynamic_cast<TBase*>(item.get());
  ZF_ASSERT(typed != nullptr, "zfsdTableDescriptor");
  item.release();
  return std::unique_ptr<TBase>(typed);
}

// Index of aName in a list of named descriptors (case ignored), -1 when absent.
template <class V, class GetName>
int32_t FindByName(const V& aList, const UnicodeString& aName, GetName aGetName) {
  for (size_t i = 0; i < aList.size(); ++i)
    if (rtl::SameText(aGetName(*aList[i]), aName)) return static_cast<int32_t>(i);
  return -1;
}

// Position of aName in the sorted constraint list, and whether it is there.
std::pair<TzfNamedItems::iterator, bool> LocateName(TzfNamedItems& aList, const UnicodeString& aName) {
  auto it = std::lower_bound(aList.begin(), aList.end(), aName,
                             [](const auto& e, const UnicodeString& n) { return rtl::CompareText(e.first, n) < 0; });
  return {it, it != aList.end() && rtl::CompareText(it->first, aName) == 0};
}

// The named lists' part after the item header: body version 1, the count, and per entry its
// class name, its name and its part.
template <class V, class GetName>
void SaveNamedEntries(TzfWriter& aWriter, const V& aList, GetName aName, int32_t aClientVersion) {
  aWriter.WriteInteger(1);
  aWriter.WriteInteger(static_cast<int32_t>(aList.size()));
  for (const auto& d : aList) {
    aWriter.WriteString(d->ClassName());
    aWriter.WriteString(aName(*d));
    d->SaveToWriter(aWriter, aClientVersion);
  }
}

// Reads what SaveNamedEntries wrote, making each entry with aCreate(class, name).
template <class TInfo, class Create>
void LoadNamedEntries(TzfDictionaryItem& aOwner, TzfReader& aReader, const TzfRegisterableClass& aFamily,
                      UnicodeStringView aKind, Create aCreate);

// Each name once without regard to case (else aOwner's 10009 with aFormat), then each entry's
// check, in list order.
template <class V, class GetName>
void CheckNamedEntries(const TzfDictionaryItem& aOwner, const V& aList, GetName aName, const char16_t* aFormat,
                       bool aForBuild) {
  for (size_t i = 0; i < aList.size(); ++i) {
    for (size_t j = 0; j < i; ++j)
      if (rtl::SameText(aName(*aList[j]), aName(*aList[i])))
        aOwner.RaiseError(zfErrNameNotUnique, aFormat, {aName(*aList[i])});
    aList[i]->CheckValid(aForBuild);
  }
}

const UnicodeString& CustomName(const TzfBaseCustomDescriptor& aCustom) { return aCustom.bcdName; }

// Minimum bytes of one stored list entry (two empty strings and an item header); bounds the
// counts read from a damaged stream by what it still holds.
constexpr int32_t kMinEntryBytes = 6;

template <class TInfo, class Create>
void LoadNamedEntries(TzfDictionaryItem& aOwner, TzfReader& aReader, const TzfRegisterableClass& aFamily,
                      UnicodeStringView aKind, Create aCreate) {
  aOwner.ReadBodyVersion(aReader, 1, 1);
  const int32_t count = aReader.ReadInteger();
  aOwner.CheckStoredCount(aReader, count, kMinEntryBytes);
  for (int32_t i = 0; i < count; ++i) {
    const auto& cls = aOwner.FindStoredDescriptorClass<TInfo>(aFamily, aKind, aReader.ReadString());
    const UnicodeString name = aReader.ReadString();
    // Nested tables hold nested tables: the nesting guard bounds how deep a damaged stream goes.
    TzfDictionaryReadNesting nesting(aOwner);
    aCreate(cls, name)->LoadFromReader(aReader);
  }
}

}  // namespace

void zfReadExpectedIdent(const TzfDictionaryItem& aItem, TzfReader& aReader, UnicodeStringView aIdent) {
  if (aReader.NextValue() != vaIdent || aReader.ReadIdent() != aIdent) aItem.RaiseError(zfErrIncompatibleStream);
}

std::unique_ptr<TzfBaseCustomDescriptor> zfNewCustomDescriptor(const TzfDictionaryItem& aOwner, TzfPersistent* aParent,
                                                               const TzfNamedDescriptorClassInfo& aClass,
                                                               const UnicodeString& aName) {
  if (!aClass.CreateNamed || !aClass.InheritsFrom(&TzfBaseCustomDescriptor::ClassInfo()))
    aOwner.RaiseError(zfErrUnsupportedDescriptor, u"%s class is not supported: %s", {u"CustomDescriptor", aClass.Name});
  std::unique_ptr<TzfDictionaryItem> item(aClass.CreateNamed(aParent, aName));
  auto* custom = dynamic_cast<TzfBaseCustomDescriptor*>(item.get());
  if (!custom)
    aOwner.RaiseError(zfErrUnsupportedDescriptor, u"%s class is not supported: %s", {u"CustomDescriptor", aClass.Name});
  item.release();
  return std::unique_ptr<TzfBaseCustomDescriptor>(custom);
}

// ---- TzfCustomDescsDescriptor ----

const TzfDictionaryItemClassInfo& TzfCustomDescsDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfCustomDescsDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfCustomDescsDescriptor>,
                                               &zfNewDictionaryItem<TzfCustomDescsDescriptor>);
  return info;
}

TzfCustomDescsDescriptor::~TzfCustomDescsDescriptor() { Clear(); }

TzfBaseCustomDescriptor* TzfCustomDescsDescriptor::AddCustom(const UnicodeString& aName,
                                                             const TzfNamedDescriptorClassInfo* aClass) {
  CheckReadOnly();
  if (zfCheckIdentifier(aName, zfErrInvalidName, false, true) != 0) RaiseError(zfErrInvalidName);
  if (GetCustomDescriptorFromName(aName) >= 0)
    RaiseError(zfErrNameNotUnique, u"Duplicated custom descriptor name: %s", {aName});
  if (!aClass) aClass = &TzfBaseCustomDescriptor::ClassInfo();
  CustomDescriptor.push_back(zfNewCustomDescriptor(*this, this, *aClass, aName));
  return CustomDescriptor.back().get();
}

void TzfCustomDescsDescriptor::RemoveCustom(int32_t aInx) {
  CheckReadOnly();
  if (aInx < 0 || aInx >= CustomCount()) return;
  CustomDescriptor.erase(CustomDescriptor.begin() + aInx);
}

void TzfCustomDescsDescriptor::RemoveCustom(const UnicodeString& aName) {
  CheckReadOnly();
  RemoveCustom(GetCustomDescriptorFromName(aName));
}

void TzfCustomDescsDescriptor::Clear() {
  // Freed one by one from the end, so that a descriptor leaving sees its list whole.
  while (!CustomDescriptor.empty()) CustomDescriptor.pop_back();
}

int32_t TzfCustomDescsDescriptor::GetCustomDescriptorFromName(const UnicodeString& aCustomDescriptorName) const {
  return FindByName(CustomDescriptor, aCustomDescriptorName,
                    [](const TzfBaseCustomDescriptor& d) -> const UnicodeString& { return d.bcdName; });
}

void TzfCustomDescsDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  if (aClientVersion < zfVersion20000) RaiseError(zfErrIncompatibleVersion);
  SaveNamedEntries(aWriter, CustomDescriptor, CustomName, aClientVersion);
}

void TzfCustomDescsDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  Clear();
  LoadNamedEntries<TzfNamedDescriptorClassInfo>(
      *this, aReader, TzfBaseCustomDescriptor::ClassInfo(), u"CustomDescriptor",
      [this](const TzfNamedDescriptorClassInfo& aClass, const UnicodeString& aName) {
        CustomDescriptor.push_back(zfNewCustomDescriptor(*this, this, aClass, aName));
        return CustomDescriptor.back().get();
      });
}

void TzfCustomDescsDescriptor::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  CheckNamedEntries(*this, CustomDescriptor, CustomName, u"Duplicated custom descriptor name: %s", aForBuild);
}

bool TzfCustomDescsDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  const auto* other = dynamic_cast<const TzfCustomDescsDescriptor*>(aItem);
  return other && TzfDictionaryItem::IsEqual(aItem) && zfSameItemLists(CustomDescriptor, other->CustomDescriptor);
}

// ---- TzfTablesDescriptor ----

const TzfDictionaryItemClassInfo& TzfTablesDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfTablesDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfTablesDescriptor>,
                                               &zfNewDictionaryItem<TzfTablesDescriptor>);
  return info;
}

TzfTablesDescriptor::~TzfTablesDescriptor() { Clear(); }

namespace {
const UnicodeString& TableName(const TzfNestedTableDescriptor& aTable) { return aTable.ntdName; }

std::unique_ptr<TzfNestedTableDescriptor> NewNestedTable(TzfPersistent* aParent,
                                                         const TzfNestedTableDescriptorClassInfo* aClass,
                                                         const UnicodeString& aName) {
  if (!aClass) aClass = &TzfNestedTableDescriptor::ClassInfo();
  ZF_ASSERT(aClass->CreateNamed && aClass->InheritsFrom(&TzfNestedTableDescriptor::ClassInfo()), "zfsdTableDescriptor");
  return std::unique_ptr<TzfNestedTableDescriptor>(aClass->CreateNamed(aParent, aName));
}
}  // namespace

TzfNestedTableDescriptor* TzfTablesDescriptor::AddTable(const UnicodeString& aName,
                                                        const TzfNestedTableDescriptorClassInfo* aClass) {
  CheckReadOnly();
  if (zfCheckIdentifier(aName, zfErrInvalidTableName, false, true) != 0) RaiseError(zfErrInvalidTableName);
  if (GetTableIndexFromName(aName) >= 0) RaiseError(zfErrNameNotUnique, u"Duplicated table name: %s", {aName});
  TableDescriptor.push_back(NewNestedTable(this, aClass, aName));
  return TableDescriptor.back().get();
}

void TzfTablesDescriptor::RemoveTable(int32_t aInx) {
  CheckReadOnly();
  if (aInx < 0 || aInx >= TableCount()) return;
  TableDescriptor.erase(TableDescriptor.begin() + aInx);
}

void TzfTablesDescriptor::RemoveTable(const UnicodeString& aName) {
  CheckReadOnly();
  RemoveTable(GetTableIndexFromName(aName));
}

void TzfTablesDescriptor::RenameTable(const UnicodeString& aOldName, const UnicodeString& aNewName) {
  CheckReadOnly();
  if (aOldName == aNewName) return;
  if (zfCheckIdentifier(aNewName, zfErrInvalidTableName, false, true) != 0) RaiseError(zfErrInvalidTableName);
  if (GetTableIndexFromName(aNewName) >= 0) RaiseError(zfErrNameNotUnique, u"Duplicated table name: %s", {aNewName});
  GetTableDescriptorFromName(aOldName)->ntdName = aNewName;
}

void TzfTablesDescriptor::Clear() {
  while (!TableDescriptor.empty()) TableDescriptor.pop_back();
}

int32_t TzfTablesDescriptor::GetTableIndexFromName(const UnicodeString& aName) const {
  return FindByName(TableDescriptor, aName, TableName);
}

TzfNestedTableDescriptor* TzfTablesDescriptor::GetTableDescriptorFromName(const UnicodeString& aName) const {
  const int32_t i = GetTableIndexFromName(aName);
  if (i < 0) RaiseError(zfErrNoSuchTable);
  return TableDescriptor[i].get();
}

TzfNamedItems TzfTablesDescriptor::GetTables() const {
  TzfNamedItems result;
  for (const auto& t : TableDescriptor) result.emplace_back(t->ntdName, t.get());
  return result;
}

void TzfTablesDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  if (aClientVersion < zfVersion20000) RaiseError(zfErrIncompatibleVersion);
  SaveNamedEntries(aWriter, TableDescriptor, TableName, aClientVersion);
}

void TzfTablesDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  Clear();
  LoadNamedEntries<TzfNestedTableDescriptorClassInfo>(
      *this, aReader, TzfNestedTableDescriptor::ClassInfo(), u"TableDescriptor",
      [this](const TzfNestedTableDescriptorClassInfo& aClass, const UnicodeString& aName) {
        TableDescriptor.push_back(NewNestedTable(this, &aClass, aName));
        return TableDescriptor.back().get();
      });
}

void TzfTablesDescriptor::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  CheckNamedEntries(*this, TableDescriptor, TableName, u"Duplicated table descriptor name: %s", aForBuild);
}

bool TzfTablesDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  const auto* other = dynamic_cast<const TzfTablesDescriptor*>(aItem);
  return other && TzfDictionaryItem::IsEqual(aItem) && zfSameItemLists(TableDescriptor, other->TableDescriptor);
}

// ---- TzfBaseTableDescriptor ----

const TzfDictionaryItemClassInfo& TzfBaseTableDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfBaseTableDescriptor", &TzfLocalizedDictionaryItem::ClassInfo(),
                                               nullptr, nullptr);
  return info;
}

TzfBaseTableDescriptor::TzfBaseTableDescriptor(TzfPersistent* aParent) : TzfLocalizedDictionaryItem(aParent) {
  tdFieldsDescriptor = std::make_unique<TzfFieldsDescriptor>(this);
  tdCustomDescsDescriptor = std::make_unique<TzfCustomDescsDescriptor>(this);
  tdTablesDescriptor = std::make_unique<TzfTablesDescriptor>(this);
}

TzfBaseTableDescriptor::~TzfBaseTableDescriptor() { FreeOwnedDescriptors(); }

void TzfBaseTableDescriptor::FreeOwnedDescriptors() {
  // Dependents first: custom descriptors and indexes refer to fields and files; storage
  // descriptors are told about files; nested tables and the locale go last.
  tdCustomDescsDescriptor.reset();
  tdIndicesDescriptor.reset();
  tdAutoIncDescriptor.reset();
  tdBlobDescriptor.reset();
  tdRecordDescriptor.reset();
  tdFieldsDescriptor.reset();
  tdTablesDescriptor.reset();
  ldiLocaleDescriptor.reset();
  tdConstraints.reset();
}

TzfBaseRecordDescriptor* TzfBaseTableDescriptor::AddRecordDescriptor(
    const TzfSectionDescriptorClassInfo* aRecordClass) {
  CheckReadOnly();
  tdRecordDescriptor.reset();
  tdRecordDescriptor =
      NewSectionDescriptor<TzfBaseRecordDescriptor, TzfBaseRecordDescriptor>(this, aRecordClass, "Record");
  return tdRecordDescriptor.get();
}

TzfBaseBlobDescriptor* TzfBaseTableDescriptor::AddBlobDescriptor(const TzfSectionDescriptorClassInfo* aBlobClass) {
  CheckReadOnly();
  tdBlobDescriptor.reset();
  tdBlobDescriptor = NewSectionDescriptor<TzfBaseBlobDescriptor, TzfHeapBlobDescriptor>(this, aBlobClass, "Blob");
  return tdBlobDescriptor.get();
}

TzfBaseAutoIncDescriptor* TzfBaseTableDescriptor::AddAutoIncDescriptor(
    const TzfSectionDescriptorClassInfo* aAutoIncClass) {
  CheckReadOnly();
  tdAutoIncDescriptor.reset();
  tdAutoIncDescriptor =
      NewSectionDescriptor<TzfBaseAutoIncDescriptor, TzfBaseAutoIncDescriptor>(this, aAutoIncClass, "AutoInc");
  return tdAutoIncDescriptor.get();
}

TzfMainIndicesDescriptor* TzfBaseTableDescriptor::AddIndicesDescriptor(
    const TzfSectionDescriptorClassInfo* aIndicesClass) {
  CheckReadOnly();
  RemoveIndicesDescriptor();
  tdIndicesDescriptor =
      NewSectionDescriptor<TzfMainIndicesDescriptor, TzfMainIndicesDescriptor>(this, aIndicesClass, "Indices");
  return tdIndicesDescriptor.get();
}

TzfMainIndicesDescriptor* TzfBaseTableDescriptor::EnsureIndicesDescriptor() {
  return tdIndicesDescriptor ? tdIndicesDescriptor.get() : AddIndicesDescriptor(nullptr);
}

void TzfBaseTableDescriptor::RemoveRecordDescriptor() {
  CheckReadOnly();
  tdRecordDescriptor.reset();
}

void TzfBaseTableDescriptor::RemoveBlobDescriptor() {
  CheckReadOnly();
  tdBlobDescriptor.reset();
}

void TzfBaseTableDescriptor::RemoveAutoIncDescriptor() {
  CheckReadOnly();
  tdAutoIncDescriptor.reset();
}

void TzfBaseTableDescriptor::RemoveIndicesDescriptor() {
  CheckReadOnly();
  if (!tdIndicesDescriptor) return;
  tdIndicesDescriptor->Clear(true);
  tdIndicesDescriptor.reset();
}

void TzfBaseTableDescriptor::InternalClear(bool aEmpty) {
  tdCustomDescsDescriptor->Clear();
  RemoveIndicesDescriptor();
  tdFieldsDescriptor->Clear(false);
  RemoveRecordDescriptor();
  RemoveBlobDescriptor();
  RemoveLocaleDescriptor();
  RemoveAutoIncDescriptor();
  tdTablesDescriptor->Clear();
}

void TzfBaseTableDescriptor::Clear() {
  CheckReadOnly();
  InternalClear(false);
}

int32_t TzfBaseTableDescriptor::GetFieldFromName(const UnicodeString& aFieldName) const {
  return tdFieldsDescriptor ? tdFieldsDescriptor->GetFieldFromName(aFieldName) : -1;
}

int32_t TzfBaseTableDescriptor::GetIndexFromName(const UnicodeString& aIndexName) const {
  return tdIndicesDescriptor ? tdIndicesDescriptor->GetIndexFromName(aIndexName) : -1;
}

TzfBaseTableDescriptor* TzfBaseTableDescriptor::GetChild(const UnicodeString& aChildName) {
  // Walks the path part by part rather than recursing, so a long path cannot exhaust the stack.
  TzfBaseTableDescriptor* table = this;
  UnicodeString rest = aChildName;
  while (!rest.empty()) {
    const size_t colon = rest.find(u':');
    const UnicodeString head = colon == UnicodeString::npos ? rest : rest.substr(0, colon);
    rest = colon == UnicodeString::npos ? UnicodeString() : rest.substr(colon + 1);
    if (head == u".") continue;
    if (head == u"..") {
      auto* above = table->FindParent<TzfBaseTableDescriptor>();
      if (!above) table->RaiseError(zfErrNoSuchTable);
      table = above;
      continue;
    }
    table = table->tdTablesDescriptor->GetTableDescriptorFromName(head);
  }
  return table;
}

TzfDictionaryItem* TzfBaseTableDescriptor::GetConstraintByName(const UnicodeString& aName) const {
  if (!tdConstraints) return nullptr;
  auto [it, found] = LocateName(*tdConstraints, aName);
  return found ? it->second : nullptr;
}

TzfNamedItems TzfBaseTableDescriptor::GetConstraints() const {
  return tdConstraints ? *tdConstraints : TzfNamedItems();
}

int32_t TzfBaseTableDescriptor::GetBookmarkSize(int32_t aIndex) {
  constexpr int32_t kBookmarkBase = 24;
  if (!tdIndicesDescriptor) return kBookmarkBase;
  if (aIndex < 0 || aIndex >= tdIndicesDescriptor->IndexCount())
    RaiseError(zfErrInvalidDescNum, u"Index out of bounds: %d", {aIndex});
  return kBookmarkBase + tdIndicesDescriptor->IndexDescriptor[aIndex]->idKeyDescriptor->GetKeyLength();
}

void TzfBaseTableDescriptor::EnsureAutoIncDescriptor() {
  if (!tdAutoIncDescriptor) AddAutoIncDescriptor(nullptr);
}

void TzfBaseTableDescriptor::EnsureBlobDescriptor() {
  if (!tdBlobDescriptor) AddBlobDescriptor(nullptr);
}

void TzfBaseTableDescriptor::AddConstraintName(TzfDictionaryItem* aItem, const UnicodeString& aName) {
  if (!tdConstraints) tdConstraints = std::make_unique<TzfNamedItems>();
  auto [it, found] = LocateName(*tdConstraints, aName);
  if (found) RaiseError(zfErrNameNotUnique, u"Constraint name already in use: \"%s\"", {aName});
  tdConstraints->emplace(it, aName, aItem);
}

void TzfBaseTableDescriptor::RemoveConstraintName(TzfDictionaryItem* aItem, const UnicodeString& aName) {
  if (!tdConstraints) return;
  auto [it, found] = LocateName(*tdConstraints, aName);
  if (!found) return;
  tdConstraints->erase(it);
  if (tdConstraints->empty()) tdConstraints.reset();
}

bool TzfBaseTableDescriptor::FindRelatedDescriptorOfType(const TzfRegisterableClass& aType,
                                                         TzfDictionaryItem*& aDescriptor, TzfDictionaryItem* aFrom) {
  const std::pair<const TzfRegisterableClass*, TzfDictionaryItem*> owned[] = {
      {&TzfTablesDescriptor::ClassInfo(), tdTablesDescriptor.get()},
      {&TzfCustomDescsDescriptor::ClassInfo(), tdCustomDescsDescriptor.get()},
      {&TzfFieldsDescriptor::ClassInfo(), tdFieldsDescriptor.get()},
      {&TzfMainIndicesDescriptor::ClassInfo(), tdIndicesDescriptor.get()},
      {&TzfBaseBlobDescriptor::ClassInfo(), tdBlobDescriptor.get()},
      {&TzfBaseRecordDescriptor::ClassInfo(), tdRecordDescriptor.get()},
      {&TzfBaseAutoIncDescriptor::ClassInfo(), tdAutoIncDescriptor.get()},
  };
  for (const auto& [kind, descriptor] : owned)
    if (aType.InheritsFrom(kind)) {
      aDescriptor = descriptor;
      return true;
    }
  return TzfLocalizedDictionaryItem::FindRelatedDescriptorOfType(aType, aDescriptor, aFrom);
}

void TzfBaseTableDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfLocalizedDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  if (aClientVersion < zfVersion20000) RaiseError(zfErrIncompatibleVersion);
  aWriter.WriteInteger(1);
  aWriter.WriteIdent(u"LocaleDescriptor");
  SaveLocaleToWriter(aWriter, aClientVersion);
  zfWriteDescriptorPlace(aWriter, u"RecordDescriptor", tdRecordDescriptor, aClientVersion);
  zfWriteDescriptorPlace(aWriter, u"BlobDescriptor", tdBlobDescriptor, aClientVersion);
  zfWriteDescriptorPlace(aWriter, u"FieldsDescriptor", tdFieldsDescriptor, aClientVersion);
  zfWriteDescriptorPlace(aWriter, u"IndicesDescriptor", tdIndicesDescriptor, aClientVersion);
  zfWriteDescriptorPlace(aWriter, u"AutoIncDescriptor", tdAutoIncDescriptor, aClientVersion);
  zfWriteDescriptorPlace(aWriter, u"CustomDescsDescriptor", tdCustomDescsDescriptor, aClientVersion);
  zfWriteDescriptorPlace(aWriter, u"TablesDescriptor", tdTablesDescriptor, aClientVersion);
}

namespace {

// Reads the place of an optional descriptor: the identifier, whether it follows and its class
// (which must belong to aFamily, else 15499 with aIdent as the kind word); nullptr when absent.
template <class TInfo>
const TInfo* ReadPlace(TzfBaseTableDescriptor& aTable, TzfReader& aReader, UnicodeStringView aIdent,
                       const TzfRegisterableClass& aFamily) {
  zfReadExpectedIdent(aTable, aReader, aIdent);
  if (!aTable.ReadStoredBoolean(aReader)) return nullptr;
  return &aTable.FindStoredDescriptorClass<TInfo>(aFamily, aIdent, aReader.ReadString());
}

// Reads the place of a descriptor the table always owns: it must be present and of exactly the
// owned object's class; then the object reads its part.
void ReadOwnedPlace(TzfBaseTableDescriptor& aTable, TzfReader& aReader, UnicodeStringView aIdent,
                    const TzfRegisterableClass& aFamily, TzfDictionaryItem& aOwned) {
  const auto* cls = ReadPlace<TzfRegisterableClass>(aTable, aReader, aIdent, aFamily);
  if (!cls) aTable.RaiseError(zfErrIncompatibleStream);
  if (cls != &aOwned.ClassType()) aTable.RaiseError(zfErrIncompatibleStream);
  TzfDictionaryReadNesting nesting(aTable);
  aOwned.LoadFromReader(aReader);
}

}  // namespace

void TzfBaseTableDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfLocalizedDictionaryItem::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  zfReadExpectedIdent(*this, aReader, u"LocaleDescriptor");
  RemoveLocaleDescriptor();
  LoadLocaleFromReader(aReader);

  RemoveRecordDescriptor();
  if (const auto* cls = ReadPlace<TzfSectionDescriptorClassInfo>(*this, aReader, u"RecordDescriptor",
                                                                 TzfBaseRecordDescriptor::ClassInfo())) {
    TzfDictionaryReadNesting nesting(*this);
    AddRecordDescriptor(cls)->LoadFromReader(aReader);
  }
  RemoveBlobDescriptor();
  if (const auto* cls = ReadPlace<TzfSectionDescriptorClassInfo>(*this, aReader, u"BlobDescriptor",
                                                                 TzfBaseBlobDescriptor::ClassInfo())) {
    TzfDictionaryReadNesting nesting(*this);
    AddBlobDescriptor(cls)->LoadFromReader(aReader);
  }
  ReadOwnedPlace(*this, aReader, u"FieldsDescriptor", TzfFieldsDescriptor::ClassInfo(), *tdFieldsDescriptor);
  RemoveIndicesDescriptor();
  if (const auto* cls = ReadPlace<TzfSectionDescriptorClassInfo>(*this, aReader, u"IndicesDescriptor",
                                                                 TzfMainIndicesDescriptor::ClassInfo())) {
    TzfDictionaryReadNesting nesting(*this);
    AddIndicesDescriptor(cls)->LoadFromReader(aReader);
  }
  RemoveAutoIncDescriptor();
  if (const auto* cls = ReadPlace<TzfSectionDescriptorClassInfo>(*this, aReader, u"AutoIncDescriptor",
                                                                 TzfBaseAutoIncDescriptor::ClassInfo())) {
    TzfDictionaryReadNesting nesting(*this);
    AddAutoIncDescriptor(cls)->LoadFromReader(aReader);
  }
  ReadOwnedPlace(*this, aReader, u"CustomDescsDescriptor", TzfCustomDescsDescriptor::ClassInfo(),
                 *tdCustomDescsDescriptor);
  ReadOwnedPlace(*this, aReader, u"TablesDescriptor", TzfTablesDescriptor::ClassInfo(), *tdTablesDescriptor);
}

void TzfBaseTableDescriptor::CheckValid(bool aForBuild) {
  TzfLocalizedDictionaryItem::CheckValid(aForBuild);
  if (!tdFieldsDescriptor) RaiseError(zfErrInvalidRecStruct, u"FieldsDescriptor requires a minimum of one field", {});
  if (!tdRecordDescriptor) RaiseError(zfErrInvalidDesc, u"A record descriptor is required", {});
  tdFieldsDescriptor->CheckValid(aForBuild);
  // The fields check may have added an auto-increment or BLOB descriptor; each is checked after.
  if (tdRecordDescriptor) tdRecordDescriptor->CheckValid(aForBuild);
  if (tdBlobDescriptor) tdBlobDescriptor->CheckValid(aForBuild);
  if (tdIndicesDescriptor) tdIndicesDescriptor->CheckValid(aForBuild);
  if (tdAutoIncDescriptor) tdAutoIncDescriptor->CheckValid(aForBuild);
  tdCustomDescsDescriptor->CheckValid(aForBuild);
  tdTablesDescriptor->CheckValid(aForBuild);
}

bool TzfBaseTableDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfLocalizedDictionaryItem::IsEqual(aItem)) return false;
  const auto* other = dynamic_cast<const TzfBaseTableDescriptor*>(aItem);
  return other && zfSameNested(ldiLocaleDescriptor, other->ldiLocaleDescriptor) &&
         zfSameNested(tdFieldsDescriptor, other->tdFieldsDescriptor) &&
         zfSameNested(tdRecordDescriptor, other->tdRecordDescriptor) &&
         zfSameNested(tdBlobDescriptor, other->tdBlobDescriptor) &&
         zfSameNested(tdAutoIncDescriptor, other->tdAutoIncDescriptor) &&
         zfSameNested(tdIndicesDescriptor, other->tdIndicesDescriptor) &&
         zfSameNested(tdCustomDescsDescriptor, other->tdCustomDescsDescriptor) &&
         zfSameNested(tdTablesDescriptor, other->tdTablesDescriptor);
}

bool TzfBaseTableDescriptor::IsIndexDescValid(TzfIndexDescriptor* aIndexDesc) {
  if (!aIndexDesc->diConstraintName.empty() && GetConstraintByName(aIndexDesc->diConstraintName)) return false;
  return aIndexDesc->IsValidForTable(*this);
}

void TzfBaseTableDescriptor::AssignOnlyFields(TzfBaseTableDescriptor* aSource) {
  CheckReadOnly();
  InternalClear(false);
  if (aSource->ldiLocaleDescriptor) {
    TzfLocaleDescriptor* locale =
        AddLocaleDescriptor(&static_cast<const TzfDictionaryItemClassInfo&>(aSource->ldiLocaleDescriptor->ClassType()));
    locale->Assign(aSource->ldiLocaleDescriptor.get());
  }
  TzfFieldsDescriptor& source = *aSource->tdFieldsDescriptor;
  for (int32_t i = 0; i < source.FieldCount; ++i) {
    TzfFieldDescriptor& from = *source.FieldDescriptor[i];
    TzfFieldDescriptor* field =
        tdFieldsDescriptor->AddField(from.fdName, from.fdDesc, from.fdType, from.fdUnits, from.fdDecPl, false,
                                     &static_cast<const TzfFieldDescriptorClassInfo&>(from.ClassType()));
    if (from.ldiLocaleDescriptor) {
      TzfLocaleDescriptor* locale = field->AddLocaleDescriptor(
          &static_cast<const TzfDictionaryItemClassInfo&>(from.ldiLocaleDescriptor->ClassType()));
      locale->Assign(from.ldiLocaleDescriptor.get());
    }
  }
  for (const auto& nested : aSource->tdTablesDescriptor->TableDescriptor) {
    TzfNestedTableDescriptor* table = tdTablesDescriptor->AddTable(
        nested->ntdName, &static_cast<const TzfNestedTableDescriptorClassInfo&>(nested->ClassType()));
    table->AssignOnlyFields(nested.get());
  }
  auto* record = dynamic_cast<TzfHeapRecordDescriptor*>(AddRecordDescriptor(&TzfHeapRecordDescriptor::ClassInfo()));
  record->SetRecordEngine(u"Variable");
  record->AddRecordCompressionDescriptor(nullptr)->SetRecordCompressionEngine(u"Smart");
}

// ---- TzfNestedTableDescriptor ----

const TzfNestedTableDescriptorClassInfo& TzfNestedTableDescriptor::ClassInfo() {
  static const TzfNestedTableDescriptorClassInfo info(
      u"TzfNestedTableDescriptor", &TzfBaseTableDescriptor::ClassInfo(), &zfFamilyList<TzfNestedTableDescriptor>,
      [](TzfPersistent* aParent, const UnicodeString& aName) { return new TzfNestedTableDescriptor(aParent, aName); });
  return info;
}

TzfNestedTableDescriptor::TzfNestedTableDescriptor(TzfPersistent* aParent, const UnicodeString& aName)
    : TzfBaseTableDescriptor(
          zfCheckedNameParent<EzfNestedTableDescriptorException>(aParent, aName, zfErrInvalidTableName)),
      ntdName(aName) {}

UnicodeString TzfNestedTableDescriptor::btdFullName() const {
  const auto* above = FindParent<TzfBaseTableDescriptor>();
  return above ? above->btdFullName() + u":" + ntdName : ntdName;
}

bool TzfNestedTableDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  const auto* other = dynamic_cast<const TzfNestedTableDescriptor*>(aItem);
  return other && TzfBaseTableDescriptor::IsEqual(aItem) && rtl::SameText(ntdName, other->ntdName);
}

// ---- Unit ----

namespace {

void StartTableDescriptors() {
  using D = TzfBaseRegisterableDescriptor;
  D::RegisterDescriptor(TzfCustomDescsDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfTablesDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfNestedTableDescriptor::ClassInfo());
}

void StopTableDescriptors() {
  using D = TzfBaseRegisterableDescriptor;
  D::UnregisterDescriptor(TzfNestedTableDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfTablesDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfCustomDescsDescriptor::ClassInfo());
}

}  // namespace

rtl::TUnitInit& zfsdTableDescriptorUnit() {
  static rtl::TUnitInit unit("zfsdTableDescriptor", &StartTableDescriptors, &StopTableDescriptors);
  return unit;
}

}  // namespace zf
