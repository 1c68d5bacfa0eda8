#include "dictionary/zfsdDataDictionaryFulltext.h"

#include <algorithm>

#include "dictionary/zfsdDescriptorHelpers.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdRenumber.h"
#include "dictionary/zfsdTableDescriptor.h"
#include "foundation/zfllConst.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllUtils.h"
#include "platform/rtl/rtlException.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfsdDataDictionaryFulltext";

// The class info of a concrete item with the generic constructor.
#define ZF_FT_CLASS(T, Parent, List)                                                                 \
  const TzfDictionaryItemClassInfo& T::ClassInfo() {                                                 \
    static const TzfDictionaryItemClassInfo info(u## #T, &Parent::ClassInfo(), List,                 \
                                                 &zfNewDictionaryItem<T>);                           \
    return info;                                                                                     \
  }
// The class info of an abstract item (no constructor).
#define ZF_FT_ABSTRACT_CLASS(T, Parent, List)                                                        \
  const TzfDictionaryItemClassInfo& T::ClassInfo() {                                                 \
    static const TzfDictionaryItemClassInfo info(u## #T, &Parent::ClassInfo(), List, nullptr);      \
    return info;                                                                                     \
  }

// Makes an item of aClass (nil: TDefault) with aOwner as parent; the class must be a concrete
// member of TBase's family.
template <class TBase, class TDefault>
std::unique_ptr<TBase> NewItem(TzfDictionaryItem* aOwner, TzfDictionaryItemClass aClass) {
  if (!aClass) aClass = &TDefault::ClassInfo();
  if (!aClass->Create || !aClass->InheritsFrom(&TBase::ClassInfo())) throw rtl::EInvalidCast(u"Invalid class typecast");
  std::unique_ptr<TzfDictionaryItem> item(aClass->Create(aOwner));
  auto* typed = dynamic_cast<TBase*>(item.get());
  ZF_ASSERT(typed != nullptr, kUnit);
  item.release();
  return std::unique_ptr<TBase>(typed);
}

UnicodeString Trimmed(const UnicodeString& s) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] <= u' ') ++b;
  while (e > b && s[e - 1] <= u' ') --e;
  return s.substr(b, e - b);
}

// Adds an item to a hub: the name passes the identifier check (10068) and is new (10009); the
// item is made with the hub as parent and numbered by its position.
template <class T, class TDefault>
T* HubAdd(TzfDictionaryItem& aHub, TzfFulltextHubList<T>& aList, const UnicodeString& aName,
          TzfDictionaryItemClass aClass) {
  if (zfCheckIdentifier(aName, zfErrInvalidName, false, true) != 0) aHub.RaiseError(zfErrInvalidName);
  if (aList.IndexOfName(aName) >= 0) aHub.RaiseError(zfErrNameNotUnique);
  std::unique_ptr<T> item = NewItem<T, TDefault>(&aHub, aClass);
  item->nfidiNumber = aList.Count();
  item->nfidiInHub = true;
  T* raw = item.get();
  aList.Items.emplace_back(aName, std::move(item));
  return raw;
}

template <class T>
void HubRemoveAt(TzfFulltextHubList<T>& aList, int32_t aIndex) {
  if (aIndex < 0 || aIndex >= aList.Count()) return;
  aList.Items.erase(aList.Items.begin() + aIndex);
  for (int32_t i = aIndex; i < aList.Count(); ++i) aList.Items[static_cast<size_t>(i)].second->nfidiNumber = i;
}

template <class T>
void HubClear(TzfFulltextHubList<T>& aList) {
  while (aList.Count() > 0) HubRemoveAt(aList, aList.Count() - 1);
}

template <class T>
void HubSave(const TzfFulltextHubList<T>& aList, TzfWriter& aWriter, int32_t aClientVersion) {
  aWriter.WriteListBegin();
  for (const auto& [name, item] : aList.Items) {
    aWriter.WriteString(name);
    aWriter.WriteString(item->ClassName());
    item->SaveToWriter(aWriter, aClientVersion);
  }
  aWriter.WriteListEnd();
}

// Reads a hub's entries: each name and class (15499 with aKind for an unknown class), added
// under the name (so the identifier, duplicate and numbering rules apply), then its body.
template <class T, class TAdd>
void HubLoad(TzfDictionaryItem& aHub, TzfReader& aReader, const TzfRegisterableClass& aFamily,
             UnicodeStringView aKind, TAdd aAdd) {
  aReader.ReadListBegin();
  while (!aReader.EndOfList()) {
    const UnicodeString name = aReader.ReadString();
    const auto& cls = aHub.FindStoredDescriptorClass(aFamily, aKind, aReader.ReadString());
    if (!cls.Create) aHub.RaiseError(zfErrUnsupportedDescriptor, u"%s class is not supported: %s", {aKind, cls.Name});
    TzfDictionaryReadNesting nesting(aHub);
    T* item = aAdd(name, &cls);
    item->LoadFromReader(aReader);
  }
  aReader.ReadListEnd();
}

template <class T>
void HubCheckValid(TzfDictionaryItem& aHub, TzfFulltextHubList<T>& aList, bool aForBuild) {
  for (auto& [name, item] : aList.Items) {
    if (zfCheckIdentifier(name, zfErrInvalidName, false, true) != 0) aHub.RaiseError(zfErrInvalidName);
    item->CheckValid(aForBuild);
  }
}

template <class T>
bool HubEqual(const TzfFulltextHubList<T>& a, const TzfFulltextHubList<T>& b) {
  if (a.Count() != b.Count()) return false;
  for (size_t i = 0; i < a.Items.size(); ++i)
    if (!a.Items[i].second->IsEqual(b.Items[i].second.get())) return false;
  return true;
}

void WriteVersion(TzfWriter& aWriter) { aWriter.WriteInteger(1); }

// Keeps aNumber, the main index aItem refers to, in step with a change of the main indices;
// removing that very index is refused before it happens (15502).
void FollowIndexChange(TzfDictionaryItem& aItem, int32_t& aNumber, bool aBefore, int32_t aOld, int32_t aNew) {
  if (aNumber < 0) return;
  if (!aBefore) {
    aNumber = zfRenumberAfterChange(aNumber, aOld, aNew);
    return;
  }
  if (aNumber != aOld || aNew >= 0) return;
  auto* indices = aItem.FindRelated<TzfMainIndicesDescriptor>();
  const UnicodeString name =
      indices && aOld < indices->IndexCount() ? indices->IndexDescriptor[static_cast<size_t>(aOld)]->idName : u"";
  aItem.RaiseError(zfErrObjectInUse, u"Cannot remove index %s because it is still referenced by a fulltext index",
                   {name});
}

}  // namespace

template <class T>
int32_t TzfFulltextHubList<T>::IndexOfName(const UnicodeString& aName) const {
  for (size_t i = 0; i < Items.size(); ++i)
    if (rtl::SameText(Items[i].first, aName)) return static_cast<int32_t>(i);
  return -1;
}

template <class T>
int32_t TzfFulltextHubList<T>::IndexOfItem(const TzfDictionaryItem* aItem) const {
  for (size_t i = 0; i < Items.size(); ++i)
    if (Items[i].second.get() == aItem) return static_cast<int32_t>(i);
  return -1;
}

template struct TzfFulltextHubList<TzfBaseTokenFilterDescriptor>;
template struct TzfFulltextHubList<TzfBaseTokenExtractorDescriptor>;
template struct TzfFulltextHubList<TzfBaseTokenIndexDescriptor>;

// ---- Category sets ----

TzfCharacterCategories zfDefaultSeparatorCategories() {
  return TzfCharacterCategories{ccSeparatorSpace,         ccSeparatorLine,          ccSeparatorParagraph,
                                ccPunctuationOpen,        ccPunctuationClose,       ccPunctuationInitialQuote,
                                ccPunctuationFinalQuote,  ccPunctuationOther,       ccSegmentSeparator,
                                ccWhiteSpace,             ccSpaceOther};
}

void zfCategoriesToBytes(TzfCharacterCategories aSet, uint8_t aBytes[7]) {
  const uint64_t bits = aSet.Bits();
  for (int i = 0; i < 7; ++i) aBytes[i] = static_cast<uint8_t>(bits >> (8 * i));
}

TzfCharacterCategories zfCategoriesFromBytes(const uint8_t aBytes[7]) {
  TzfCharacterCategories r;
  for (int n = 0; n < zfCharacterCategoryCount; ++n)
    if (aBytes[n / 8] >> (n % 8) & 1) r.Include(static_cast<TzfCharacterCategory>(n));
  return r;
}

// ---- TzfFulltextDescriptor ----

const TzfNamedDescriptorClassInfo& TzfFulltextDescriptor::ClassInfo() {
  static const TzfNamedDescriptorClassInfo info(
      u"TzfFulltextDescriptor", &TzfBaseCustomDescriptor::ClassInfo(), nullptr,
      [](TzfPersistent* aParent, const UnicodeString& aName) -> TzfDictionaryItem* {
        return new TzfFulltextDescriptor(aParent, aName);
      });
  return info;
}

TzfFulltextDescriptor::~TzfFulltextDescriptor() {
  // The indexes first: bit-array token indexes take their B*-trees out of the token indices.
  while (!ftdFulltextIndices.empty()) ftdFulltextIndices.pop_back();
  ftdIndicesDescriptor.reset();
  ftdBlobDescriptor.reset();
}

TzfFulltextIndexDescriptor* TzfFulltextDescriptor::AddFulltextIndex(const UnicodeString& aName,
                                                                    const TzfFulltextIndexDescriptorClassInfo* aClass,
                                                                    int32_t aLocationIndexNumber) {
  const UnicodeString name = aName.empty() ? UnicodeString(u"Default") : aName;
  for (const auto& f : ftdFulltextIndices)
    if (rtl::SameText(f->fidName, name)) RaiseError(zfErrNameNotUnique);
  if (!aClass) aClass = &TzfFulltextIndexDescriptor::ClassInfo();
  if (!aClass->CreateIndex) throw rtl::EInvalidCast(u"Invalid class typecast");
  ftdFulltextIndices.emplace_back(aClass->CreateIndex(this, aLocationIndexNumber, name));
  return ftdFulltextIndices.back().get();
}

void TzfFulltextDescriptor::RemoveFulltextIndex(TzfFulltextIndexDescriptor* aDescriptor) {
  for (size_t i = 0; i < ftdFulltextIndices.size(); ++i)
    if (ftdFulltextIndices[i].get() == aDescriptor) return RemoveFulltextIndex(static_cast<int32_t>(i));
}

void TzfFulltextDescriptor::RemoveFulltextIndex(int32_t aIndex) {
  if (aIndex < 0 || aIndex >= FulltextIndexCount()) return;
  ftdFulltextIndices.erase(ftdFulltextIndices.begin() + aIndex);
}

void TzfFulltextDescriptor::RemoveFulltextIndex(const UnicodeString& aName) {
  for (size_t i = 0; i < ftdFulltextIndices.size(); ++i)
    if (rtl::SameText(ftdFulltextIndices[i]->fidName, aName)) return RemoveFulltextIndex(static_cast<int32_t>(i));
}

TzfFulltextIndexDescriptor* TzfFulltextDescriptor::FulltextIndex(int32_t aIndex) const {
  if (aIndex < 0 || aIndex >= FulltextIndexCount()) throw rtl::ERangeError(u"Range check error");
  return ftdFulltextIndices[static_cast<size_t>(aIndex)].get();
}

TzfBaseBlobDescriptor* TzfFulltextDescriptor::AddBlobDescriptor(const TzfSectionDescriptorClassInfo* aBlobClass) {
  CheckReadOnly();
  ftdBlobDescriptor.reset();
  if (!aBlobClass) aBlobClass = &TzfHeapBlobDescriptor::ClassInfo();
  if (!aBlobClass->CreateSection || !aBlobClass->InheritsFrom(&TzfBaseBlobDescriptor::ClassInfo()))
    throw rtl::EInvalidCast(u"Invalid class typecast");
  std::unique_ptr<TzfDictionaryItem> item(aBlobClass->CreateSection(this, "Fulltext$Blob"));
  ftdBlobDescriptor.reset(dynamic_cast<TzfBaseBlobDescriptor*>(item.release()));
  return ftdBlobDescriptor.get();
}

void TzfFulltextDescriptor::RemoveBlobDescriptor() {
  CheckReadOnly();
  ftdBlobDescriptor.reset();
}

TzfBaseIndicesDescriptor* TzfFulltextDescriptor::AddIndicesDescriptor(
    const TzfSectionDescriptorClassInfo* aIndicesClass) {
  CheckReadOnly();
  ftdIndicesDescriptor.reset();
  if (!aIndicesClass) aIndicesClass = &TzfTokenIndicesDescriptor::ClassInfo();
  if (!aIndicesClass->CreateSection || !aIndicesClass->InheritsFrom(&TzfBaseIndicesDescriptor::ClassInfo()))
    throw rtl::EInvalidCast(u"Invalid class typecast");
  std::unique_ptr<TzfDictionaryItem> item(aIndicesClass->CreateSection(this, "Fulltext$Indices"));
  ftdIndicesDescriptor.reset(dynamic_cast<TzfBaseIndicesDescriptor*>(item.release()));
  return ftdIndicesDescriptor.get();
}

void TzfFulltextDescriptor::RemoveIndicesDescriptor() {
  CheckReadOnly();
  ftdIndicesDescriptor.reset();
}

TzfBaseIndicesDescriptor* TzfFulltextDescriptor::EnsureIndicesDescriptor() {
  return ftdIndicesDescriptor ? ftdIndicesDescriptor.get() : AddIndicesDescriptor(nullptr);
}

bool TzfFulltextDescriptor::FindRelatedDescriptorOfType(const TzfRegisterableClass& aType,
                                                        TzfDictionaryItem*& aDescriptor, TzfDictionaryItem* aFrom) {
  if (aType.InheritsFrom(&TzfTokenIndicesDescriptor::ClassInfo())) {
    aDescriptor = ftdIndicesDescriptor.get();
    return true;
  }
  if (aType.InheritsFrom(&TzfBaseBlobDescriptor::ClassInfo())) {
    aDescriptor = ftdBlobDescriptor.get();
    return true;
  }
  return TzfBaseCustomDescriptor::FindRelatedDescriptorOfType(aType, aDescriptor, aFrom);
}

void TzfFulltextDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseCustomDescriptor::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
  aWriter.WriteListBegin();
  for (const auto& f : ftdFulltextIndices) {
    aWriter.WriteString(f->ClassName());
    aWriter.WriteString(f->fidName);
    aWriter.WriteInteger(f->fidLocationIndexNumber);
    f->SaveToWriter(aWriter, aClientVersion);
  }
  aWriter.WriteListEnd();
  aWriter.WriteBoolean(ftdBlobDescriptor != nullptr);
  if (ftdBlobDescriptor) {
    aWriter.WriteString(ftdBlobDescriptor->ClassName());
    ftdBlobDescriptor->SaveToWriter(aWriter, aClientVersion);
  }
  aWriter.WriteBoolean(ftdIndicesDescriptor != nullptr);
  if (ftdIndicesDescriptor) {
    aWriter.WriteString(ftdIndicesDescriptor->ClassName());
    ftdIndicesDescriptor->SaveToWriter(aWriter, aClientVersion);
  }
}

void TzfFulltextDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseCustomDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  while (!ftdFulltextIndices.empty()) ftdFulltextIndices.pop_back();
  ftdIndicesDescriptor.reset();
  ftdBlobDescriptor.reset();
  aReader.ReadListBegin();
  while (!aReader.EndOfList()) {
    const auto& cls = FindStoredDescriptorClass<TzfFulltextIndexDescriptorClassInfo>(
        TzfFulltextIndexDescriptor::ClassInfo(), u"FulltextIndexDescriptor", aReader.ReadString());
    const UnicodeString name = aReader.ReadString();
    const int32_t location = aReader.ReadInteger();
    TzfDictionaryReadNesting nesting(*this);
    AddFulltextIndex(name, &cls, location)->LoadFromReader(aReader);
  }
  aReader.ReadListEnd();
  if (ReadStoredBoolean(aReader)) {
    const auto& cls = FindStoredDescriptorClass<TzfSectionDescriptorClassInfo>(
        TzfBaseBlobDescriptor::ClassInfo(), u"BlobDescriptor", aReader.ReadString());
    TzfDictionaryReadNesting nesting(*this);
    AddBlobDescriptor(&cls)->LoadFromReader(aReader);
  }
  if (ReadStoredBoolean(aReader)) {
    const auto& cls = FindStoredDescriptorClass<TzfSectionDescriptorClassInfo>(
        TzfTokenIndicesDescriptor::ClassInfo(), u"IndicesDescriptor", aReader.ReadString());
    TzfDictionaryReadNesting nesting(*this);
    AddIndicesDescriptor(&cls)->LoadFromReader(aReader);
  }
}

void TzfFulltextDescriptor::CheckValid(bool aForBuild) {
  TzfBaseCustomDescriptor::CheckValid(aForBuild);
  for (size_t i = 0; i < ftdFulltextIndices.size(); ++i) ftdFulltextIndices[i]->CheckValid(aForBuild);
  if (ftdBlobDescriptor) ftdBlobDescriptor->CheckValid(aForBuild);
  if (ftdIndicesDescriptor) ftdIndicesDescriptor->CheckValid(aForBuild);
}

bool TzfFulltextDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  const auto* other = dynamic_cast<const TzfFulltextDescriptor*>(aItem);
  return other && TzfBaseCustomDescriptor::IsEqual(aItem) &&
         zfSameItemLists(ftdFulltextIndices, other->ftdFulltextIndices) &&
         zfSameNested(ftdBlobDescriptor, other->ftdBlobDescriptor) &&
         zfSameNested(ftdIndicesDescriptor, other->ftdIndicesDescriptor);
}

const TzfSectionDescriptorClassInfo& TzfTokenIndicesDescriptor::ClassInfo() {
  static const TzfSectionDescriptorClassInfo info(u"TzfTokenIndicesDescriptor", &TzfBaseIndicesDescriptor::ClassInfo(),
                                                  nullptr, &zfNewSectionDescriptor<TzfTokenIndicesDescriptor>);
  return info;
}

TzfFulltextDescriptor* zfFindFulltextDescriptor(TzfBaseTableDescriptor& aTableDescriptor) {
  TzfCustomDescsDescriptor* customs = aTableDescriptor.tdCustomDescsDescriptor.get();
  if (!customs) return nullptr;
  const int32_t i = customs->GetCustomDescriptorFromName(u"Fulltext");
  if (i < 0) return nullptr;
  TzfBaseCustomDescriptor* custom = customs->CustomDescriptor[static_cast<size_t>(i)].get();
  auto* fulltext = dynamic_cast<TzfFulltextDescriptor*>(custom);
  if (!fulltext)
    throw EzfFulltextDescriptorException(zfErrUnsupportedDescriptor, u"%s class is not supported: %s",
                                         {u"Fulltext", custom->ClassName()});
  return fulltext;
}

TzfFulltextDescriptor* zfEnsureFulltextDescriptor(TzfBaseTableDescriptor& aTableDescriptor) {
  if (TzfFulltextDescriptor* f = zfFindFulltextDescriptor(aTableDescriptor)) return f;
  return dynamic_cast<TzfFulltextDescriptor*>(
      aTableDescriptor.tdCustomDescsDescriptor->AddCustom(u"Fulltext", &TzfFulltextDescriptor::ClassInfo()));
}

// ---- TzfBaseFulltextDictionaryItem ----

ZF_FT_ABSTRACT_CLASS(TzfBaseFulltextDictionaryItem, TzfLocalizedDictionaryItem, nullptr)

void TzfBaseFulltextDictionaryItem::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
}

void TzfBaseFulltextDictionaryItem::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
}

// ---- TzfFulltextIndexDescriptor ----

const TzfFulltextIndexDescriptorClassInfo& TzfFulltextIndexDescriptor::ClassInfo() {
  static const TzfFulltextIndexDescriptorClassInfo info(
      u"TzfFulltextIndexDescriptor", &TzfBaseFulltextDictionaryItem::ClassInfo(),
      &zfFamilyList<TzfFulltextIndexDescriptor>,
      [](TzfPersistent* aParent, int32_t aLocation, const UnicodeString& aName) {
        return new TzfFulltextIndexDescriptor(aParent, aLocation, aName);
      });
  return info;
}

TzfFulltextIndexDescriptor::TzfFulltextIndexDescriptor(TzfPersistent* aParent, int32_t aLocationIndexNumber,
                                                       const UnicodeString& aName)
    : TzfBaseFulltextDictionaryItem(
          zfCheckedNameParent<EzfFulltextIndexDescriptorException>(aParent, aName, zfErrInvalidName)),
      fidName(aName) {
  fidLocationIndexNumber = aLocationIndexNumber < 0 ? DefaultLocationIndex() : aLocationIndexNumber;
  CheckLocationIndex(fidLocationIndexNumber);
  fidTokenExtractorHub = std::make_unique<TzfTokenExtractorHubDescriptor>(this);
  fidTokenFilterHub = std::make_unique<TzfTokenFilterHubDescriptor>(this);
  fidTokenIndexHub = std::make_unique<TzfTokenIndexHubDescriptor>(this);
  RegisterIndexChangeNotify();
}

TzfFulltextIndexDescriptor::~TzfFulltextIndexDescriptor() {
  UnregisterIndexChangeNotify();
  fidTokenIndexHub.reset();
  fidTokenFilterHub.reset();
  fidTokenExtractorHub.reset();
}

bool TzfFulltextIndexDescriptor::IsValidLocationIndex(int32_t aIndexNumber) {
  if (aIndexNumber < 0) return false;
  auto* indices = FindRelated<TzfMainIndicesDescriptor>();
  if (!indices || aIndexNumber >= indices->IndexCount()) return false;
  TzfIndexDescriptor* index = indices->IndexDescriptor[static_cast<size_t>(aIndexNumber)].get();
  if (index->idDups == idAll) return false;
  auto* key = dynamic_cast<TzfCompKeyDescriptor*>(index->idKeyDescriptor.get());
  if (!key || key->GetKeyFieldCount() != 1) return false;
  TzfFieldDescriptor* field = key->GetKeyField(0)->GetField();
  return field && (field->fdType == zftWord32 || field->fdType == zftAutoInc);
}

int32_t TzfFulltextIndexDescriptor::DefaultLocationIndex() {
  auto* indices = FindRelated<TzfMainIndicesDescriptor>();
  if (!indices) return -1;
  if (IsValidLocationIndex(indices->midDefaultIndex)) return indices->midDefaultIndex;
  for (int32_t i = 0; i < indices->IndexCount(); ++i)
    if (IsValidLocationIndex(i)) return i;
  return -1;
}

void TzfFulltextIndexDescriptor::CheckLocationIndex(int32_t aIndexNumber) {
  if (!IsValidLocationIndex(aIndexNumber)) RaiseError(zfErrInvalidDesc, u"Invalid location index (%d)", {aIndexNumber});
}

void TzfFulltextIndexDescriptor::SetLocationIndexNumber(int32_t aValue) {
  CheckReadOnly();
  if (aValue < 0) aValue = DefaultLocationIndex();
  if (aValue == fidLocationIndexNumber) return;
  CheckLocationIndex(aValue);
  fidLocationIndexNumber = aValue;
}

TzfIndexDescriptor* TzfFulltextIndexDescriptor::LocationIndex() {
  CheckLocationIndex(fidLocationIndexNumber);
  return FindRelated<TzfMainIndicesDescriptor>()->IndexDescriptor[static_cast<size_t>(fidLocationIndexNumber)].get();
}

TzfFieldDescriptor* TzfFulltextIndexDescriptor::LocationField() {
  if (!IsValidLocationIndex(fidLocationIndexNumber)) return nullptr;
  auto* key = dynamic_cast<TzfCompKeyDescriptor*>(LocationIndex()->idKeyDescriptor.get());
  return key->GetKeyField(0)->GetField();
}

TzfBaseTokenExtractorDescriptor* TzfFulltextIndexDescriptor::AddTokenExtractor(const UnicodeString& aName,
                                                                               TzfDictionaryItemClass aClass) {
  CheckReadOnly();
  return fidTokenExtractorHub->Add(aName, aClass);
}

TzfFieldTokenExtractorDescriptor* TzfFulltextIndexDescriptor::AddFieldTokenExtractor(int32_t aFieldNumber,
                                                                                     const UnicodeString& aName,
                                                                                     TzfDictionaryItemClass aClass) {
  CheckReadOnly();
  return fidTokenExtractorHub->AddFieldTokenExtractor(aFieldNumber, aName, aClass);
}

TzfTokenExtractorHubDescriptor* TzfFulltextIndexDescriptor::AddTokenExtractorHub(const UnicodeString& aName,
                                                                                 TzfDictionaryItemClass aClass) {
  CheckReadOnly();
  return fidTokenExtractorHub->AddTokenExtractorHub(aName, aClass);
}

void TzfFulltextIndexDescriptor::RemoveTokenExtractor(const UnicodeString& aName) {
  CheckReadOnly();
  fidTokenExtractorHub->Remove(aName);
}
void TzfFulltextIndexDescriptor::RemoveTokenExtractor(int32_t aIndex) {
  CheckReadOnly();
  fidTokenExtractorHub->Remove(aIndex);
}
void TzfFulltextIndexDescriptor::ClearTokenExtractor() {
  CheckReadOnly();
  fidTokenExtractorHub->Clear();
}

TzfBaseTokenFilterDescriptor* TzfFulltextIndexDescriptor::AddTokenFilter(const UnicodeString& aName,
                                                                         TzfDictionaryItemClass aClass) {
  CheckReadOnly();
  return fidTokenFilterHub->Add(aName, aClass);
}
void TzfFulltextIndexDescriptor::RemoveTokenFilter(const UnicodeString& aName) {
  CheckReadOnly();
  fidTokenFilterHub->Remove(aName);
}
void TzfFulltextIndexDescriptor::RemoveTokenFilter(int32_t aIndex) {
  CheckReadOnly();
  fidTokenFilterHub->Remove(aIndex);
}
void TzfFulltextIndexDescriptor::ClearTokenFilter() {
  CheckReadOnly();
  fidTokenFilterHub->Clear();
}

TzfBaseTokenIndexDescriptor* TzfFulltextIndexDescriptor::AddTokenIndex(const UnicodeString& aName,
                                                                       TzfDictionaryItemClass aClass) {
  CheckReadOnly();
  return fidTokenIndexHub->Add(aName, aClass);
}
void TzfFulltextIndexDescriptor::RemoveTokenIndex(const UnicodeString& aName) {
  CheckReadOnly();
  fidTokenIndexHub->Remove(aName);
}
void TzfFulltextIndexDescriptor::RemoveTokenIndex(int32_t aIndex) {
  CheckReadOnly();
  fidTokenIndexHub->Remove(aIndex);
}
void TzfFulltextIndexDescriptor::ClearTokenIndex() {
  CheckReadOnly();
  fidTokenIndexHub->Clear();
}

int32_t TzfFulltextIndexDescriptor::TokenExtractorCount() const { return fidTokenExtractorHub->Count(); }
int32_t TzfFulltextIndexDescriptor::TokenFilterCount() const { return fidTokenFilterHub->Count(); }
int32_t TzfFulltextIndexDescriptor::TokenIndexCount() const { return fidTokenIndexHub->Count(); }

void TzfFulltextIndexDescriptor::IndexNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) {
  TzfBaseFulltextDictionaryItem::IndexNumberChanged(aBefore, aOld, aNew);
  FollowIndexChange(*this, fidLocationIndexNumber, aBefore, aOld, aNew);
}

void TzfFulltextIndexDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseFulltextDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
  fidTokenExtractorHub->SaveToWriter(aWriter, aClientVersion);
  fidTokenFilterHub->SaveToWriter(aWriter, aClientVersion);
  fidTokenIndexHub->SaveToWriter(aWriter, aClientVersion);
}

void TzfFulltextIndexDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseFulltextDictionaryItem::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  TzfDictionaryReadNesting nesting(*this);
  fidTokenExtractorHub->LoadFromReader(aReader);
  fidTokenFilterHub->LoadFromReader(aReader);
  fidTokenIndexHub->LoadFromReader(aReader);
}

void TzfFulltextIndexDescriptor::CheckValid(bool aForBuild) {
  TzfBaseFulltextDictionaryItem::CheckValid(aForBuild);
  if (zfCheckIdentifier(fidName, zfErrInvalidName, false, true) != 0) RaiseError(zfErrInvalidName);
  CheckLocationIndex(fidLocationIndexNumber);
  fidTokenExtractorHub->CheckValid(aForBuild);
  fidTokenFilterHub->CheckValid(aForBuild);
  fidTokenIndexHub->CheckValid(aForBuild);
}

bool TzfFulltextIndexDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  const auto* other = dynamic_cast<const TzfFulltextIndexDescriptor*>(aItem);
  return other && TzfBaseFulltextDictionaryItem::IsEqual(aItem) &&
         fidLocationIndexNumber == other->fidLocationIndexNumber &&
         fidTokenExtractorHub->IsEqual(other->fidTokenExtractorHub.get()) &&
         fidTokenFilterHub->IsEqual(other->fidTokenFilterHub.get()) &&
         fidTokenIndexHub->IsEqual(other->fidTokenIndexHub.get());
}

// ---- Numbered items ----

ZF_FT_ABSTRACT_CLASS(TzfBaseFulltextIndexDictionaryItem, TzfBaseFulltextDictionaryItem, nullptr)

void TzfBaseFulltextIndexDictionaryItem::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseFulltextDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
}

void TzfBaseFulltextIndexDictionaryItem::LoadFromReader(TzfReader& aReader) {
  TzfBaseFulltextDictionaryItem::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
}

ZF_FT_ABSTRACT_CLASS(TzfNumberedFulltextIndexDictionaryItem, TzfBaseFulltextIndexDictionaryItem, nullptr)

void TzfNumberedFulltextIndexDictionaryItem::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseFulltextIndexDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
  aWriter.WriteInteger(nfidiNumber);
}

void TzfNumberedFulltextIndexDictionaryItem::LoadFromReader(TzfReader& aReader) {
  TzfBaseFulltextIndexDictionaryItem::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  const int32_t number = aReader.ReadInteger();
  if (nfidiInHub && number != nfidiNumber) RaiseError(zfErrIncompatibleStream);
  nfidiNumber = number;
}

ZF_FT_ABSTRACT_CLASS(TzfBaseTokenSourceDescriptor, TzfNumberedFulltextIndexDictionaryItem, nullptr)

void TzfBaseTokenSourceDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfNumberedFulltextIndexDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
}

void TzfBaseTokenSourceDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfNumberedFulltextIndexDictionaryItem::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
}

// ---- Token filters ----

ZF_FT_ABSTRACT_CLASS(TzfBaseTokenFilterDescriptor, TzfBaseTokenSourceDescriptor,
                     &zfFamilyList<TzfBaseTokenFilterDescriptor>)

namespace {
const TzfFulltextHubList<TzfBaseTokenFilterDescriptor>* FilterListOf(const TzfPersistent* aParent) {
  const auto* hub = dynamic_cast<const TzfTokenFilterHubDescriptor*>(aParent);
  return hub ? &hub->tfhdTokenFilters : nullptr;
}
const TzfFulltextHubList<TzfBaseTokenExtractorDescriptor>* ExtractorListOf(const TzfPersistent* aParent) {
  const auto* hub = dynamic_cast<const TzfTokenExtractorHubDescriptor*>(aParent);
  return hub ? &hub->tehdTokenExtractors : nullptr;
}
const TzfFulltextHubList<TzfBaseTokenIndexDescriptor>* TokenIndexListOf(const TzfPersistent* aParent) {
  const auto* hub = dynamic_cast<const TzfTokenIndexHubDescriptor*>(aParent);
  return hub ? &hub->tihdTokenIndexes : nullptr;
}

template <class T>
UnicodeString NameIn(const TzfFulltextHubList<T>* aList, const TzfNumberedFulltextIndexDictionaryItem& aItem) {
  if (!aList) return {};
  ZF_ASSERT(aItem.nfidiNumber >= 0 && aItem.nfidiNumber < aList->Count() &&
                aList->Items[static_cast<size_t>(aItem.nfidiNumber)].second.get() == &aItem,
            kUnit);
  return aList->Items[static_cast<size_t>(aItem.nfidiNumber)].first;
}
}  // namespace

UnicodeString TzfBaseTokenFilterDescriptor::Name() const { return NameIn(FilterListOf(GetOwner()), *this); }

void TzfBaseTokenFilterDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseTokenSourceDescriptor::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
}

void TzfBaseTokenFilterDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseTokenSourceDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
}

ZF_FT_CLASS(TzfTokenFilterHubDescriptor, TzfBaseTokenFilterDescriptor, nullptr)

TzfBaseTokenFilterDescriptor* TzfTokenFilterHubDescriptor::Add(const UnicodeString& aName,
                                                               TzfDictionaryItemClass aClass) {
  return HubAdd<TzfBaseTokenFilterDescriptor, TzfWideCharSeparatorTokenFilterDescriptor>(
      *this, tfhdTokenFilters, aName.empty() ? UnicodeString(u"Default") : aName, aClass);
}

void TzfTokenFilterHubDescriptor::Remove(TzfBaseTokenFilterDescriptor* aDescriptor) {
  HubRemoveAt(tfhdTokenFilters, tfhdTokenFilters.IndexOfItem(aDescriptor));
}
void TzfTokenFilterHubDescriptor::Remove(const UnicodeString& aName) {
  HubRemoveAt(tfhdTokenFilters, tfhdTokenFilters.IndexOfName(aName));
}
void TzfTokenFilterHubDescriptor::Remove(int32_t aIndex) { HubRemoveAt(tfhdTokenFilters, aIndex); }
void TzfTokenFilterHubDescriptor::Clear() { HubClear(tfhdTokenFilters); }

TzfBaseTokenFilterDescriptor* TzfTokenFilterHubDescriptor::Item(int32_t aIndex) const {
  if (aIndex < 0 || aIndex >= Count()) throw rtl::ERangeError(u"Range check error");
  return tfhdTokenFilters.Items[static_cast<size_t>(aIndex)].second.get();
}

const UnicodeString& TzfTokenFilterHubDescriptor::ItemName(int32_t aIndex) const {
  if (aIndex < 0 || aIndex >= Count()) throw rtl::ERangeError(u"Range check error");
  return tfhdTokenFilters.Items[static_cast<size_t>(aIndex)].first;
}

void TzfTokenFilterHubDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseTokenFilterDescriptor::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
  HubSave(tfhdTokenFilters, aWriter, aClientVersion);
}

void TzfTokenFilterHubDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseTokenFilterDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  Clear();
  HubLoad<TzfBaseTokenFilterDescriptor>(*this, aReader, TzfBaseTokenFilterDescriptor::ClassInfo(),
                                        u"TokenFilterDescriptor",
                                        [this](const UnicodeString& aName, TzfDictionaryItemClass aClass) {
                                          return Add(aName, aClass);
                                        });
}

void TzfTokenFilterHubDescriptor::CheckValid(bool aForBuild) {
  TzfBaseTokenFilterDescriptor::CheckValid(aForBuild);
  HubCheckValid(*this, tfhdTokenFilters, aForBuild);
}

bool TzfTokenFilterHubDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  const auto* other = dynamic_cast<const TzfTokenFilterHubDescriptor*>(aItem);
  return other && TzfBaseTokenFilterDescriptor::IsEqual(aItem) && HubEqual(tfhdTokenFilters, other->tfhdTokenFilters);
}

ZF_FT_ABSTRACT_CLASS(TzfBaseSeparatorTokenFilterDescriptor, TzfBaseTokenFilterDescriptor, nullptr)

void TzfBaseSeparatorTokenFilterDescriptor::SetSeparatorDistance(int32_t aValue) {
  CheckReadOnly();
  bstfsSeparatorDistance = aValue;
}

void TzfBaseSeparatorTokenFilterDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseTokenFilterDescriptor::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
  aWriter.WriteInteger(bstfsSeparatorDistance);
}

void TzfBaseSeparatorTokenFilterDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseTokenFilterDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  bstfsSeparatorDistance = aReader.ReadInteger();
}

ZF_FT_CLASS(TzfWideCharSeparatorTokenFilterDescriptor, TzfBaseSeparatorTokenFilterDescriptor, nullptr)

void TzfWideCharSeparatorTokenFilterDescriptor::SetSeparatorChar(char16_t aValue) {
  CheckReadOnly();
  wcstfsSeparatorChar = aValue;
}

void TzfWideCharSeparatorTokenFilterDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseSeparatorTokenFilterDescriptor::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
  aWriter.WriteInteger(static_cast<int32_t>(wcstfsSeparatorChar));
}

void TzfWideCharSeparatorTokenFilterDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseSeparatorTokenFilterDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  const int32_t c = aReader.ReadInteger();
  // The stored code is a 16-bit character; anything else is damage.
  if (c < 0 || c > 0xFFFF) RaiseError(zfErrIncompatibleStream);
  wcstfsSeparatorChar = static_cast<char16_t>(c);
}

ZF_FT_CLASS(TzfCategorySeparatorTokenFilterDescriptor, TzfBaseSeparatorTokenFilterDescriptor, nullptr)

void TzfCategorySeparatorTokenFilterDescriptor::SetSeparatorCategories(TzfCharacterCategories aValue) {
  CheckReadOnly();
  cstfsSeparatorCategories = aValue;
}

void TzfCategorySeparatorTokenFilterDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseSeparatorTokenFilterDescriptor::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
  uint8_t bytes[7];
  zfCategoriesToBytes(cstfsSeparatorCategories, bytes);
  aWriter.Write(bytes, 7);
}

void TzfCategorySeparatorTokenFilterDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseSeparatorTokenFilterDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  uint8_t bytes[7];
  aReader.Read(bytes, 7);
  cstfsSeparatorCategories = zfCategoriesFromBytes(bytes);
}

ZF_FT_ABSTRACT_CLASS(TzfBaseLocaleMappingTokenFilterDescriptor, TzfBaseTokenFilterDescriptor, nullptr)

void TzfBaseLocaleMappingTokenFilterDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseTokenFilterDescriptor::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
}

void TzfBaseLocaleMappingTokenFilterDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseTokenFilterDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
}

ZF_FT_CLASS(TzfLowercaseLocaleMappingTokenFilterDescriptor, TzfBaseLocaleMappingTokenFilterDescriptor, nullptr)
ZF_FT_CLASS(TzfUppercaseLocaleMappingTokenFilterDescriptor, TzfBaseLocaleMappingTokenFilterDescriptor, nullptr)
ZF_FT_CLASS(TzfCustomLocaleMappingTokenFilterDescriptor, TzfBaseLocaleMappingTokenFilterDescriptor, nullptr)

void TzfCustomLocaleMappingTokenFilterDescriptor::SetFlags(uint32_t aValue) {
  CheckReadOnly();
  clmtfdFlags = aValue;
}

void TzfCustomLocaleMappingTokenFilterDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseLocaleMappingTokenFilterDescriptor::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
  aWriter.WriteInteger(static_cast<int32_t>(clmtfdFlags));
}

void TzfCustomLocaleMappingTokenFilterDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseLocaleMappingTokenFilterDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  clmtfdFlags = static_cast<uint32_t>(aReader.ReadInteger());
}

ZF_FT_ABSTRACT_CLASS(TzfBaseFoldStringTokenFilterDescriptor, TzfBaseTokenFilterDescriptor, nullptr)

void TzfBaseFoldStringTokenFilterDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseTokenFilterDescriptor::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
}

void TzfBaseFoldStringTokenFilterDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseTokenFilterDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
}

ZF_FT_CLASS(TzfPreComposeFoldStringTokenFilterDescriptor, TzfBaseFoldStringTokenFilterDescriptor, nullptr)
ZF_FT_CLASS(TzfDecomposeFoldStringTokenFilterDescriptor, TzfBaseFoldStringTokenFilterDescriptor, nullptr)
ZF_FT_CLASS(TzfCustomFoldStringTokenFilterDescriptor, TzfBaseFoldStringTokenFilterDescriptor, nullptr)

void TzfCustomFoldStringTokenFilterDescriptor::SetFlags(uint32_t aValue) {
  CheckReadOnly();
  cfstfdFlags = aValue;
}

void TzfCustomFoldStringTokenFilterDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseFoldStringTokenFilterDescriptor::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
  aWriter.WriteInteger(static_cast<int32_t>(cfstfdFlags));
}

void TzfCustomFoldStringTokenFilterDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseFoldStringTokenFilterDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  cfstfdFlags = static_cast<uint32_t>(aReader.ReadInteger());
}

// ---- Token extractors ----

ZF_FT_ABSTRACT_CLASS(TzfBaseTokenExtractorDescriptor, TzfBaseTokenSourceDescriptor,
                     &zfFamilyList<TzfBaseTokenExtractorDescriptor>)

UnicodeString TzfBaseTokenExtractorDescriptor::Name() const { return NameIn(ExtractorListOf(GetOwner()), *this); }

ZF_FT_CLASS(TzfTokenExtractorHubDescriptor, TzfBaseTokenExtractorDescriptor, nullptr)

TzfTokenExtractorHubDescriptor::~TzfTokenExtractorHubDescriptor() { HubClear(tehdTokenExtractors); }

TzfBaseTokenExtractorDescriptor* TzfTokenExtractorHubDescriptor::Add(const UnicodeString& aName,
                                                                     TzfDictionaryItemClass aClass) {
  return HubAdd<TzfBaseTokenExtractorDescriptor, TzfFieldTokenExtractorDescriptor>(*this, tehdTokenExtractors, aName,
                                                                                   aClass);
}

TzfFieldTokenExtractorDescriptor* TzfTokenExtractorHubDescriptor::AddFieldTokenExtractor(
    int32_t aFieldNumber, const UnicodeString& aName, TzfDictionaryItemClass aClass) {
  UnicodeString name = Trimmed(aName);
  if (name.empty()) {
    auto* fields = FindRelated<TzfFieldsDescriptor>();
    if (!fields || aFieldNumber < 0 || aFieldNumber >= fields->FieldCount)
      RaiseError(zfErrInvalidDescNum, u"Invalid field number: %d", {aFieldNumber});
    name = fields->Field(aFieldNumber)->fdName;
  }
  if (!aClass) aClass = &TzfFieldTokenExtractorDescriptor::ClassInfo();
  if (!aClass->InheritsFrom(&TzfFieldTokenExtractorDescriptor::ClassInfo()))
    throw rtl::EInvalidCast(u"Invalid class typecast");
  auto* extractor = dynamic_cast<TzfFieldTokenExtractorDescriptor*>(Add(name, aClass));
  try {
    extractor->SetFieldNumber(aFieldNumber);
  } catch (...) {
    Remove(extractor);
    throw;
  }
  return extractor;
}

TzfTokenExtractorHubDescriptor* TzfTokenExtractorHubDescriptor::AddTokenExtractorHub(const UnicodeString& aName,
                                                                                     TzfDictionaryItemClass aClass) {
  if (!aClass) aClass = &TzfTokenExtractorHubDescriptor::ClassInfo();
  if (!aClass->InheritsFrom(&TzfTokenExtractorHubDescriptor::ClassInfo()))
    throw rtl::EInvalidCast(u"Invalid class typecast");
  return dynamic_cast<TzfTokenExtractorHubDescriptor*>(Add(aName, aClass));
}

void TzfTokenExtractorHubDescriptor::Remove(TzfBaseTokenExtractorDescriptor* aDescriptor) {
  HubRemoveAt(tehdTokenExtractors, tehdTokenExtractors.IndexOfItem(aDescriptor));
}
void TzfTokenExtractorHubDescriptor::Remove(const UnicodeString& aName) {
  HubRemoveAt(tehdTokenExtractors, tehdTokenExtractors.IndexOfName(aName));
}
void TzfTokenExtractorHubDescriptor::Remove(int32_t aIndex) { HubRemoveAt(tehdTokenExtractors, aIndex); }
void TzfTokenExtractorHubDescriptor::Clear() { HubClear(tehdTokenExtractors); }

TzfBaseTokenExtractorDescriptor* TzfTokenExtractorHubDescriptor::Item(int32_t aIndex) const {
  if (aIndex < 0 || aIndex >= Count()) throw rtl::ERangeError(u"Range check error");
  return tehdTokenExtractors.Items[static_cast<size_t>(aIndex)].second.get();
}

const UnicodeString& TzfTokenExtractorHubDescriptor::ItemName(int32_t aIndex) const {
  if (aIndex < 0 || aIndex >= Count()) throw rtl::ERangeError(u"Range check error");
  return tehdTokenExtractors.Items[static_cast<size_t>(aIndex)].first;
}

void TzfTokenExtractorHubDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseTokenExtractorDescriptor::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
  HubSave(tehdTokenExtractors, aWriter, aClientVersion);
}

void TzfTokenExtractorHubDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseTokenExtractorDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  Clear();
  HubLoad<TzfBaseTokenExtractorDescriptor>(*this, aReader, TzfBaseTokenExtractorDescriptor::ClassInfo(),
                                           u"TokenExtractorDescriptor",
                                           [this](const UnicodeString& aName, TzfDictionaryItemClass aClass) {
                                             return Add(aName, aClass);
                                           });
}

void TzfTokenExtractorHubDescriptor::CheckValid(bool aForBuild) {
  TzfBaseTokenExtractorDescriptor::CheckValid(aForBuild);
  HubCheckValid(*this, tehdTokenExtractors, aForBuild);
}

bool TzfTokenExtractorHubDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  const auto* other = dynamic_cast<const TzfTokenExtractorHubDescriptor*>(aItem);
  return other && TzfBaseTokenExtractorDescriptor::IsEqual(aItem) &&
         HubEqual(tehdTokenExtractors, other->tehdTokenExtractors);
}

ZF_FT_CLASS(TzfFieldTokenExtractorDescriptor, TzfBaseTokenExtractorDescriptor, nullptr)

TzfFieldTokenExtractorDescriptor::TzfFieldTokenExtractorDescriptor(TzfPersistent* aParent)
    : TzfBaseTokenExtractorDescriptor(aParent) {
  RegisterFieldChangeNotify();
}

TzfFieldTokenExtractorDescriptor::~TzfFieldTokenExtractorDescriptor() { UnregisterFieldChangeNotify(); }

void TzfFieldTokenExtractorDescriptor::SetFieldNumber(int32_t aValue) {
  CheckReadOnly();
  if (aValue == ftedFieldNumber) return;
  if (aValue != -1)
    if (auto* fields = FindRelated<TzfFieldsDescriptor>(); fields && (aValue < 0 || aValue >= fields->FieldCount))
      RaiseError(zfErrInvalidDescNum, u"Invalid field number: %d", {aValue});
  ftedFieldNumber = aValue;
}

TzfFieldDescriptor* TzfFieldTokenExtractorDescriptor::Field() {
  if (ftedFieldNumber < 0) return nullptr;
  auto* fields = FindRelated<TzfFieldsDescriptor>();
  if (!fields || ftedFieldNumber >= fields->FieldCount) return nullptr;
  return fields->Field(ftedFieldNumber);
}

void TzfFieldTokenExtractorDescriptor::FieldNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) {
  TzfBaseTokenExtractorDescriptor::FieldNumberChanged(aBefore, aOld, aNew);
  if (ftedFieldNumber < 0) return;
  if (aBefore) {
    if (ftedFieldNumber == aOld && aNew < 0) {
      auto* fields = FindRelated<TzfFieldsDescriptor>();
      const UnicodeString name = fields && aOld < fields->FieldCount ? fields->Field(aOld)->fdName : u"";
      RaiseError(zfErrObjectInUse, u"Cannot remove field %s because it is still referenced by an index", {name});
    }
    return;
  }
  ftedFieldNumber = zfRenumberAfterChange(ftedFieldNumber, aOld, aNew);
}

void TzfFieldTokenExtractorDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseTokenExtractorDescriptor::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
  aWriter.WriteInteger(ftedFieldNumber);
}

void TzfFieldTokenExtractorDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseTokenExtractorDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  ftedFieldNumber = aReader.ReadInteger();
}

void TzfFieldTokenExtractorDescriptor::CheckValid(bool aForBuild) {
  TzfBaseTokenExtractorDescriptor::CheckValid(aForBuild);
  if (auto* fields = FindRelated<TzfFieldsDescriptor>())
    if (ftedFieldNumber < 0 || ftedFieldNumber >= fields->FieldCount)
      RaiseError(zfErrInvalidDescNum, u"Invalid field number: %d", {ftedFieldNumber});
}

bool TzfFieldTokenExtractorDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  const auto* other = dynamic_cast<const TzfFieldTokenExtractorDescriptor*>(aItem);
  return other && TzfBaseTokenExtractorDescriptor::IsEqual(aItem) && ftedFieldNumber == other->ftedFieldNumber;
}

// ---- Token indexes ----

ZF_FT_ABSTRACT_CLASS(TzfBaseTokenIndexDescriptor, TzfNumberedFulltextIndexDictionaryItem,
                     &zfFamilyList<TzfBaseTokenIndexDescriptor>)

UnicodeString TzfBaseTokenIndexDescriptor::Name() const { return NameIn(TokenIndexListOf(GetOwner()), *this); }

ZF_FT_CLASS(TzfTokenIndexHubDescriptor, TzfBaseTokenIndexDescriptor, nullptr)

TzfTokenIndexHubDescriptor::~TzfTokenIndexHubDescriptor() { HubClear(tihdTokenIndexes); }

TzfBaseTokenIndexDescriptor* TzfTokenIndexHubDescriptor::Add(const UnicodeString& aName,
                                                             TzfDictionaryItemClass aClass) {
  return HubAdd<TzfBaseTokenIndexDescriptor, TzfBitArrayTokenIndexDescriptor>(
      *this, tihdTokenIndexes, aName.empty() ? UnicodeString(u"Default") : aName, aClass);
}

void TzfTokenIndexHubDescriptor::Remove(TzfBaseTokenIndexDescriptor* aDescriptor) {
  HubRemoveAt(tihdTokenIndexes, tihdTokenIndexes.IndexOfItem(aDescriptor));
}
void TzfTokenIndexHubDescriptor::Remove(const UnicodeString& aName) {
  HubRemoveAt(tihdTokenIndexes, tihdTokenIndexes.IndexOfName(aName));
}
void TzfTokenIndexHubDescriptor::Remove(int32_t aIndex) { HubRemoveAt(tihdTokenIndexes, aIndex); }
void TzfTokenIndexHubDescriptor::Clear() { HubClear(tihdTokenIndexes); }

TzfBaseTokenIndexDescriptor* TzfTokenIndexHubDescriptor::Item(int32_t aIndex) const {
  if (aIndex < 0 || aIndex >= Count()) throw rtl::ERangeError(u"Range check error");
  return tihdTokenIndexes.Items[static_cast<size_t>(aIndex)].second.get();
}

const UnicodeString& TzfTokenIndexHubDescriptor::ItemName(int32_t aIndex) const {
  if (aIndex < 0 || aIndex >= Count()) throw rtl::ERangeError(u"Range check error");
  return tihdTokenIndexes.Items[static_cast<size_t>(aIndex)].first;
}

void TzfTokenIndexHubDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseTokenIndexDescriptor::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
  HubSave(tihdTokenIndexes, aWriter, aClientVersion);
}

void TzfTokenIndexHubDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseTokenIndexDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  Clear();
  HubLoad<TzfBaseTokenIndexDescriptor>(*this, aReader, TzfBaseTokenIndexDescriptor::ClassInfo(),
                                       u"TokenIndexDescriptor",
                                       [this](const UnicodeString& aName, TzfDictionaryItemClass aClass) {
                                         return Add(aName, aClass);
                                       });
}

void TzfTokenIndexHubDescriptor::CheckValid(bool aForBuild) {
  TzfBaseTokenIndexDescriptor::CheckValid(aForBuild);
  HubCheckValid(*this, tihdTokenIndexes, aForBuild);
}

bool TzfTokenIndexHubDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  const auto* other = dynamic_cast<const TzfTokenIndexHubDescriptor*>(aItem);
  return other && TzfBaseTokenIndexDescriptor::IsEqual(aItem) && HubEqual(tihdTokenIndexes, other->tihdTokenIndexes);
}

// ---- Bit-array token index ----

ZF_FT_CLASS(TzfBitArrayTokenIndexDescriptor, TzfBaseTokenIndexDescriptor, nullptr)

TzfBitArrayTokenIndexDescriptor::~TzfBitArrayTokenIndexDescriptor() {
  // The B*-trees go with the token index; a dictionary being torn down may already have lost
  // the token indices, and a read-only one keeps them.
  try {
    if (auto* indices = dynamic_cast<TzfBaseIndicesDescriptor*>(FindRelated<TzfTokenIndicesDescriptor>())) {
      const UnicodeString forward = IndexName(), reverse = IndexName(u"Reverse");
      if (indices->GetIndexFromName(reverse) >= 0) indices->RemoveIndex(reverse);
      if (indices->GetIndexFromName(forward) >= 0) indices->RemoveIndex(forward);
    }
  } catch (...) {
  }
  batidBitArrayStorageHandler.reset();
}

UnicodeString TzfBitArrayTokenIndexDescriptor::IndexName(const UnicodeString& aSuffix) const {
  const TzfFulltextIndexDescriptor* owner = FindParent<TzfFulltextIndexDescriptor>();
  UnicodeString r = (owner ? owner->fidName : UnicodeString()) + u"$" + Name();
  if (!aSuffix.empty()) r += u"$" + aSuffix;
  return r;
}

TzfIndexDescriptor* TzfBitArrayTokenIndexDescriptor::FindTree(const UnicodeString& aName) {
  auto* indices = dynamic_cast<TzfBaseIndicesDescriptor*>(FindRelated<TzfTokenIndicesDescriptor>());
  return indices ? indices->GetDescriptorFromName(aName) : nullptr;
}

void TzfBitArrayTokenIndexDescriptor::RemoveTree(const UnicodeString& aName) {
  auto* indices = dynamic_cast<TzfBaseIndicesDescriptor*>(FindRelated<TzfTokenIndicesDescriptor>());
  if (indices && indices->GetIndexFromName(aName) >= 0) indices->RemoveIndex(aName);
}

TzfIndexDescriptor* TzfBitArrayTokenIndexDescriptor::AddTree(const UnicodeString& aName, int32_t aFileNumber,
                                                             TzfKeyDescriptorClass aKeyClass,
                                                             TzfIndexDescriptorClass aIndexClass, bool aReverse) {
  CheckReadOnly();
  RemoveTree(aName);
  auto* fulltext = FindParent<TzfFulltextDescriptor>();
  if (!fulltext) RaiseError(zfErrInvalidDesc);
  TzfBaseIndicesDescriptor* indices = fulltext->EnsureIndicesDescriptor();
  TzfIndexDescriptor* index = indices->AddIndex(aName, aFileNumber, idNone, UnicodeString(),
                                                aKeyClass ? aKeyClass : &TzfBitArrayTokenKeyDescriptor::ClassInfo(),
                                                aIndexClass);
  try {
    auto* key = dynamic_cast<TzfBitArrayTokenKeyDescriptor*>(index->idKeyDescriptor.get());
    if (!key) RaiseError(zfErrInvalidDesc);
    key->SetPerFieldIndex(batidPerFieldIndex);
    key->SetMaxTokenSize(batidMaxTokenSize);
    TzfLocaleDescriptor* locale = GetUsedLocaleDescriptor();
    key->SetLocale(locale ? locale->ldLocale : 0);
    key->SetFlags(locale ? static_cast<uint32_t>(locale->GetFlags()) : 0);
    if (aReverse) key->SetReverse(true);
  } catch (...) {
    indices->RemoveIndex(aName);
    throw;
  }
  return index;
}

TzfIndexDescriptor* TzfBitArrayTokenIndexDescriptor::AddIndex(int32_t aFileNumber, TzfKeyDescriptorClass aKeyClass,
                                                              TzfIndexDescriptorClass aIndexClass) {
  return AddTree(IndexName(), aFileNumber, aKeyClass, aIndexClass, false);
}

TzfIndexDescriptor* TzfBitArrayTokenIndexDescriptor::AddReverseIndex(int32_t aFileNumber,
                                                                     TzfKeyDescriptorClass aKeyClass,
                                                                     TzfIndexDescriptorClass aIndexClass) {
  return AddTree(IndexName(u"Reverse"), aFileNumber, aKeyClass, aIndexClass, true);
}

void TzfBitArrayTokenIndexDescriptor::RemoveIndex() { RemoveTree(IndexName()); }
void TzfBitArrayTokenIndexDescriptor::RemoveReverseIndex() { RemoveTree(IndexName(u"Reverse")); }
TzfIndexDescriptor* TzfBitArrayTokenIndexDescriptor::IndexDescriptor() { return FindTree(IndexName()); }
TzfIndexDescriptor* TzfBitArrayTokenIndexDescriptor::ReverseIndexDescriptor() {
  return FindTree(IndexName(u"Reverse"));
}

TzfBaseBitArrayStorageHandlerDescriptor* TzfBitArrayTokenIndexDescriptor::AddBitArrayStorageHandler(
    TzfDictionaryItemClass aHandlerClass) {
  CheckReadOnly();
  batidBitArrayStorageHandler.reset();
  batidBitArrayStorageHandler =
      NewItem<TzfBaseBitArrayStorageHandlerDescriptor, TzfSimpleBitArrayStorageHandlerDescriptor>(this, aHandlerClass);
  return batidBitArrayStorageHandler.get();
}

void TzfBitArrayTokenIndexDescriptor::RemoveBitArrayStorageHandler() {
  CheckReadOnly();
  batidBitArrayStorageHandler.reset();
}

void TzfBitArrayTokenIndexDescriptor::SetMaxTokenSize(int32_t aValue) {
  CheckReadOnly();
  batidMaxTokenSize = std::max(1, std::min(aValue, 1024));
}
void TzfBitArrayTokenIndexDescriptor::SetPerFieldIndex(bool aValue) {
  CheckReadOnly();
  batidPerFieldIndex = aValue;
}
void TzfBitArrayTokenIndexDescriptor::SetPerLocationIndex(bool aValue) {
  CheckReadOnly();
  batidPerLocationIndex = aValue;
}
void TzfBitArrayTokenIndexDescriptor::SetSegmentIndex(bool aValue) {
  CheckReadOnly();
  batidSegmentIndex = aValue;
}

void TzfBitArrayTokenIndexDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseTokenIndexDescriptor::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
  aWriter.WriteInteger(batidMaxTokenSize);
  aWriter.WriteBoolean(batidPerFieldIndex);
  aWriter.WriteBoolean(batidPerLocationIndex);
  aWriter.WriteBoolean(batidSegmentIndex);
}

void TzfBitArrayTokenIndexDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseTokenIndexDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  batidMaxTokenSize = aReader.ReadInteger();
  batidPerFieldIndex = ReadStoredBoolean(aReader);
  batidPerLocationIndex = ReadStoredBoolean(aReader);
  batidSegmentIndex = ReadStoredBoolean(aReader);
}

void TzfBitArrayTokenIndexDescriptor::CheckValid(bool aForBuild) {
  TzfBaseTokenIndexDescriptor::CheckValid(aForBuild);
  // A stored size the setter would not accept cannot size a key.
  if (batidMaxTokenSize < 1 || batidMaxTokenSize > 1024) RaiseError(zfErrInvalidDesc);
  TzfLocaleDescriptor* locale = GetUsedLocaleDescriptor();
  const uint32_t l = locale ? locale->ldLocale : 0;
  const uint32_t f = locale ? static_cast<uint32_t>(locale->GetFlags()) : 0;
  bool anyTree = false;
  for (const bool reverse : {false, true}) {
    TzfIndexDescriptor* index = reverse ? ReverseIndexDescriptor() : IndexDescriptor();
    if (!index) continue;
    anyTree = true;
    auto* key = dynamic_cast<TzfBitArrayTokenKeyDescriptor*>(index->idKeyDescriptor.get());
    if (!key) RaiseError(zfErrInvalidDesc);
    if (key->batkdPerFieldIndex != batidPerFieldIndex) key->SetPerFieldIndex(batidPerFieldIndex);
    if (key->batkdMaxTokenSize != batidMaxTokenSize) key->SetMaxTokenSize(batidMaxTokenSize);
    if (key->batkdReverse != reverse) key->SetReverse(reverse);
    if (key->batkdLocale != l) key->SetLocale(l);
    if (key->batkdFlags != f) key->SetFlags(f);
  }
  if (anyTree && !batidBitArrayStorageHandler) AddBitArrayStorageHandler(nullptr);
  if (batidBitArrayStorageHandler) batidBitArrayStorageHandler->CheckValid(aForBuild);
}

bool TzfBitArrayTokenIndexDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  const auto* other = dynamic_cast<const TzfBitArrayTokenIndexDescriptor*>(aItem);
  return other && TzfBaseTokenIndexDescriptor::IsEqual(aItem) && batidMaxTokenSize == other->batidMaxTokenSize &&
         batidPerFieldIndex == other->batidPerFieldIndex && batidPerLocationIndex == other->batidPerLocationIndex &&
         batidSegmentIndex == other->batidSegmentIndex &&
         zfSameNested(batidBitArrayStorageHandler, other->batidBitArrayStorageHandler);
}

// ---- Main-index token index ----

ZF_FT_CLASS(TzfMainIndexTokenIndexDescriptor, TzfBaseTokenIndexDescriptor, nullptr)

TzfMainIndexTokenIndexDescriptor::TzfMainIndexTokenIndexDescriptor(TzfPersistent* aParent)
    : TzfBaseTokenIndexDescriptor(aParent) {
  RegisterIndexChangeNotify();
}

TzfMainIndexTokenIndexDescriptor::~TzfMainIndexTokenIndexDescriptor() { UnregisterIndexChangeNotify(); }

void TzfMainIndexTokenIndexDescriptor::CheckMainIndex(int32_t aIndexNumber) {
  auto* indices = FindRelated<TzfMainIndicesDescriptor>();
  if (!indices) return;
  if (aIndexNumber < 0 || aIndexNumber >= indices->IndexCount()) RaiseError(zfErrNoSuchIndex);
  if (!dynamic_cast<TzfMainIndexTokenKeyDescriptor*>(
          indices->IndexDescriptor[static_cast<size_t>(aIndexNumber)]->idKeyDescriptor.get()))
    RaiseError(zfErrInvalidDesc, u"Index must use a TzfMainIndexTokenIndexKeyDescriptor", {});
}

void TzfMainIndexTokenIndexDescriptor::SetMainIndexNumber(int32_t aValue) {
  CheckReadOnly();
  if (aValue >= 0) CheckMainIndex(aValue);
  mitidMainIndexNumber = aValue;
}

void TzfMainIndexTokenIndexDescriptor::SetIgnoreCase(bool aValue) {
  CheckReadOnly();
  mitidIgnoreCase = aValue;
}

TzfIndexDescriptor* TzfMainIndexTokenIndexDescriptor::MainIndex() {
  CheckMainIndex(mitidMainIndexNumber);
  auto* indices = FindRelated<TzfMainIndicesDescriptor>();
  if (!indices) RaiseError(zfErrNoSuchIndex);
  return indices->IndexDescriptor[static_cast<size_t>(mitidMainIndexNumber)].get();
}

void TzfMainIndexTokenIndexDescriptor::IndexNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) {
  TzfBaseTokenIndexDescriptor::IndexNumberChanged(aBefore, aOld, aNew);
  FollowIndexChange(*this, mitidMainIndexNumber, aBefore, aOld, aNew);
}

void TzfMainIndexTokenIndexDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseTokenIndexDescriptor::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
  aWriter.WriteInteger(mitidMainIndexNumber);
  aWriter.WriteBoolean(mitidIgnoreCase);
}

void TzfMainIndexTokenIndexDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseTokenIndexDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  mitidMainIndexNumber = aReader.ReadInteger();
  mitidIgnoreCase = ReadStoredBoolean(aReader);
}

void TzfMainIndexTokenIndexDescriptor::CheckValid(bool aForBuild) {
  TzfBaseTokenIndexDescriptor::CheckValid(aForBuild);
  CheckMainIndex(mitidMainIndexNumber);
  auto* indices = FindRelated<TzfMainIndicesDescriptor>();
  if (!indices) return;
  TzfLocaleDescriptor* locale = GetUsedLocaleDescriptor();
  const uint32_t l = locale ? locale->ldLocale : 0;
  uint32_t f = locale ? static_cast<uint32_t>(locale->GetFlags()) : 0;
  if (mitidIgnoreCase) f |= 1;
  auto* key = dynamic_cast<TzfMainIndexTokenKeyDescriptor*>(
      indices->IndexDescriptor[static_cast<size_t>(mitidMainIndexNumber)]->idKeyDescriptor.get());
  if (key->mitkdLocale != l) key->SetLocale(l);
  if (key->mitkdFlags != f) key->SetFlags(f);
}

bool TzfMainIndexTokenIndexDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  const auto* other = dynamic_cast<const TzfMainIndexTokenIndexDescriptor*>(aItem);
  return other && TzfBaseTokenIndexDescriptor::IsEqual(aItem) && mitidMainIndexNumber == other->mitidMainIndexNumber;
}

// ---- Storage handlers ----

ZF_FT_ABSTRACT_CLASS(TzfBaseBitArrayStorageHandlerDescriptor, TzfBaseFulltextIndexDictionaryItem,
                     &zfFamilyList<TzfBaseBitArrayStorageHandlerDescriptor>)
ZF_FT_CLASS(TzfSimpleBitArrayStorageHandlerDescriptor, TzfBaseBitArrayStorageHandlerDescriptor, nullptr)

void TzfSimpleBitArrayStorageHandlerDescriptor::CheckValid(bool aForBuild) {
  TzfBaseBitArrayStorageHandlerDescriptor::CheckValid(aForBuild);
  if (auto* fulltext = FindParent<TzfFulltextDescriptor>(); fulltext && !fulltext->ftdBlobDescriptor)
    fulltext->AddBlobDescriptor(nullptr);
}

// ---- Token key descriptors ----

ZF_FT_CLASS(TzfBitArrayTokenKeyDescriptor, TzfBaseKeyDescriptor, nullptr)

void TzfBitArrayTokenKeyDescriptor::SetMaxTokenSize(int32_t aValue) {
  CheckReadOnly();
  batkdMaxTokenSize = aValue;
}
void TzfBitArrayTokenKeyDescriptor::SetPerFieldIndex(bool aValue) {
  CheckReadOnly();
  batkdPerFieldIndex = aValue;
}
void TzfBitArrayTokenKeyDescriptor::SetReverse(bool aValue) {
  CheckReadOnly();
  batkdReverse = aValue;
}
void TzfBitArrayTokenKeyDescriptor::SetLocale(uint32_t aValue) {
  CheckReadOnly();
  batkdLocale = aValue;
}
void TzfBitArrayTokenKeyDescriptor::SetFlags(uint32_t aValue) {
  CheckReadOnly();
  batkdFlags = aValue;
}

void TzfBitArrayTokenKeyDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseKeyDescriptor::SaveToWriter(aWriter, aClientVersion);
  WriteVersion(aWriter);
  aWriter.WriteInteger(batkdMaxTokenSize);
  aWriter.WriteBoolean(batkdPerFieldIndex);
  aWriter.WriteBoolean(batkdReverse);
  aWriter.WriteInteger(static_cast<int32_t>(batkdLocale));
  aWriter.WriteInteger(static_cast<int32_t>(batkdFlags));
}

void TzfBitArrayTokenKeyDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseKeyDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  batkdMaxTokenSize = aReader.ReadInteger();
  batkdPerFieldIndex = ReadStoredBoolean(aReader);
  batkdReverse = ReadStoredBoolean(aReader);
  batkdLocale = static_cast<uint32_t>(aReader.ReadInteger());
  batkdFlags = static_cast<uint32_t>(aReader.ReadInteger());
  // A key is sized from the token size before anything is checked: bound it by what a key
  // block can hold at most.
  if (batkdMaxTokenSize < 1 || batkdMaxTokenSize > 1024) RaiseError(zfErrIncompatibleStream);
}

ZF_FT_CLASS(TzfMainIndexTokenKeyDescriptor, TzfBaseKeyDescriptor, nullptr)

void TzfMainIndexTokenKeyDescriptor::SetMaxTokenSize(int32_t aValue) {
  CheckReadOnly();
  mitkdMaxTokenSize = aValue;
}
void TzfMainIndexTokenKeyDescriptor::SetIncludeLocation(bool aValue) {
  CheckReadOnly();
  mitkdIncludeLocation = aValue;
}
void TzfMainIndexTokenKeyDescriptor::SetLocale(uint32_t aValue) {
  CheckReadOnly();
  mitkdLocale = aValue;
}
void TzfMainIndexTokenKeyDescriptor::SetFlags(uint32_t aValue) {
  CheckReadOnly();
  mitkdFlags = aValue;
}

void TzfMainIndexTokenKeyDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseKeyDescriptor::SaveToWriter(aWriter, aClientVersion);
  if (mitkdIncludeLocation && aClientVersion < zfVersion20700)
    throw EzfFilesDescriptorException(zfErrIncompatibleVersion);
  aWriter.WriteInteger(mitkdIncludeLocation ? 2 : 1);
  aWriter.WriteInteger(mitkdMaxTokenSize);
  aWriter.WriteInteger(static_cast<int32_t>(mitkdLocale));
  aWriter.WriteInteger(static_cast<int32_t>(mitkdFlags));
  if (mitkdIncludeLocation) aWriter.WriteBoolean(true);
}

void TzfMainIndexTokenKeyDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseKeyDescriptor::LoadFromReader(aReader);
  const int32_t version = ReadBodyVersion(aReader, 1, 2);
  mitkdMaxTokenSize = aReader.ReadInteger();
  mitkdLocale = static_cast<uint32_t>(aReader.ReadInteger());
  mitkdFlags = static_cast<uint32_t>(aReader.ReadInteger());
  mitkdIncludeLocation = version == 2 ? ReadStoredBoolean(aReader) : false;
  if (mitkdMaxTokenSize < 1 || mitkdMaxTokenSize > 1024) RaiseError(zfErrIncompatibleStream);
}

// ---- Unit ----

namespace {

const TzfRegisterableClass* const* FulltextClasses() {
  static const TzfRegisterableClass* const classes[] = {
      &TzfFulltextDescriptor::ClassInfo(),
      &TzfTokenIndicesDescriptor::ClassInfo(),
      &TzfFulltextIndexDescriptor::ClassInfo(),
      &TzfTokenExtractorHubDescriptor::ClassInfo(),
      &TzfFieldTokenExtractorDescriptor::ClassInfo(),
      &TzfTokenFilterHubDescriptor::ClassInfo(),
      &TzfWideCharSeparatorTokenFilterDescriptor::ClassInfo(),
      &TzfCategorySeparatorTokenFilterDescriptor::ClassInfo(),
      &TzfLowercaseLocaleMappingTokenFilterDescriptor::ClassInfo(),
      &TzfUppercaseLocaleMappingTokenFilterDescriptor::ClassInfo(),
      &TzfCustomLocaleMappingTokenFilterDescriptor::ClassInfo(),
      &TzfPreComposeFoldStringTokenFilterDescriptor::ClassInfo(),
      &TzfDecomposeFoldStringTokenFilterDescriptor::ClassInfo(),
      &TzfCustomFoldStringTokenFilterDescriptor::ClassInfo(),
      &TzfTokenIndexHubDescriptor::ClassInfo(),
      &TzfBitArrayTokenKeyDescriptor::ClassInfo(),
      &TzfMainIndexTokenKeyDescriptor::ClassInfo(),
      &TzfSimpleBitArrayStorageHandlerDescriptor::ClassInfo(),
      &TzfBitArrayTokenIndexDescriptor::ClassInfo(),
      &TzfMainIndexTokenIndexDescriptor::ClassInfo(),
      nullptr};
  return classes;
}

void StartFulltext() {
  for (const TzfRegisterableClass* const* c = FulltextClasses(); *c; ++c)
    TzfBaseRegisterableDescriptor::RegisterDescriptor(**c);
}

void StopFulltext() {
  const TzfRegisterableClass* const* first = FulltextClasses();
  const TzfRegisterableClass* const* last = first;
  while (*last) ++last;
  while (last != first) TzfBaseRegisterableDescriptor::UnregisterDescriptor(**--last);
}

}  // namespace

rtl::TUnitInit& zfsdDataDictionaryFulltextUnit() {
  static rtl::TUnitInit unit("zfsdDataDictionaryFulltext", &StartFulltext, &StopFulltext);
  return unit;
}

}  // namespace zf
