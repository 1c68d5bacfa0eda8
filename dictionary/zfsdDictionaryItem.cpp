#include "dictionary/zfsdDictionaryItem.h"

#include <algorithm>
#include <atomic>

#include "foundation/zfllConst.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllUtils.h"

namespace zf {

namespace {

std::atomic<bool> gDisable30900LocaleFixes{false};

thread_local int32_t tDictionaryAssignDepth = 0;
thread_local int32_t tReadNesting = 0;

// The class name of a persistent object for messages.
UnicodeString ClassNameOf(const TzfPersistent* aObject) {
  return aObject ? UnicodeString(aObject->ClassName()) : UnicodeString(u"nil");
}

bool IsOfType(const TzfPersistent* aObject, const TzfRegisterableClass& aType) {
  const auto* d = dynamic_cast<const TzfBaseRegisterableDescriptor*>(aObject);
  if (d) return d->ClassType().InheritsFrom(&aType);
  const auto* e = dynamic_cast<const TzfBaseRegisterableEngine*>(aObject);
  return e && e->ClassType().InheritsFrom(&aType);
}

}  // namespace

int32_t& DictionaryAssignDepth() { return tDictionaryAssignDepth; }

bool zfDisable30900LocaleFixes() { return gDisable30900LocaleFixes.load(std::memory_order_relaxed); }
void zfSetDisable30900LocaleFixes(bool aValue) { gDisable30900LocaleFixes.store(aValue, std::memory_order_relaxed); }

TzfDictionaryReadNesting::TzfDictionaryReadNesting(const TzfDictionaryItem& aItem) {
  if (tReadNesting >= kMaxDepth) aItem.RaiseError(zfErrIncompatibleStream);
  ++tReadNesting;
}

TzfDictionaryReadNesting::~TzfDictionaryReadNesting() { --tReadNesting; }

// ---- Construction and destruction ----

TzfDictionaryItem::TzfDictionaryItem(TzfPersistent* aParent) : diParent(aParent) {
  // The ID comes from the dictionary above the owner; the dictionary itself keeps 0.
  for (const TzfPersistent* p = aParent; p;) {
    if (auto* root = dynamic_cast<IzfDictionaryRoot*>(const_cast<TzfPersistent*>(p))) {
      diID = root->NextItemID();
      break;
    }
    const auto* item = dynamic_cast<const TzfDictionaryItem*>(p);
    p = item ? item->diParent : nullptr;
  }
  if (TzfDictionaryItem* parent = ParentItem()) parent->AddChild(this);
}

TzfDictionaryItem::~TzfDictionaryItem() {
  diChilds.clear();
  if (TzfDictionaryItem* parent = ParentItem()) parent->RemoveChild(this);
  if (!diConstraintName.empty()) {
    // Unregistering cannot fail for a name that is registered; a destructor must not raise.
    try {
      ChangeConstraintName(UnicodeString());
    } catch (...) {
    }
  }
}

const TzfDictionaryItemClassInfo& TzfDictionaryItem::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfDictionaryItem", &TzfBaseRegisterableDescriptor::ClassInfo(),
                                               nullptr, nullptr);
  return info;
}

void TzfDictionaryItem::RaiseError(uint32_t aCode) const { throw EzfDictionaryItemException(aCode); }

void TzfDictionaryItem::RaiseError(uint32_t aCode, UnicodeStringView aFormat, rtl::FormatArgs aArgs) const {
  throw EzfDictionaryItemException(aCode, aFormat, aArgs);
}

// ---- Virtual operations ----

void TzfDictionaryItem::Assign(TzfPersistent* aSource) {
  auto* source = dynamic_cast<TzfDictionaryItem*>(aSource);
  if (!source || &source->ClassType() != &ClassType())
    throw rtl::EConvertError(rtl::Format(u"Cannot assign a %s to a %s", {ClassNameOf(aSource), ClassName()}));
  TzfMemoryStream stream(-1);
  {
    TzfWriter writer(stream);
    source->SaveToWriter(writer, zfEngineVersion);
    writer.FlushBuffer();
  }
  stream.SetPosition(0);
  struct DepthGuard {
    DepthGuard() { ++tDictionaryAssignDepth; }
    ~DepthGuard() { --tDictionaryAssignDepth; }
  } depth;
  TzfReader reader(stream);
  LoadFromReader(reader);
}

void TzfDictionaryItem::CheckReadOnly() {
  if (IzfDictionaryRoot* root = FindDictionaryRoot()) root->CheckDictionaryReadOnly();
}

void TzfDictionaryItem::ActivateCache() {
  if (diCacheActive) return;
  diCacheActive = true;
  for (TzfDictionaryItem* child : std::vector<TzfDictionaryItem*>(diChilds)) child->ActivateCache();
}

void TzfDictionaryItem::DeactivateCache() {
  if (!diCacheActive) return;
  diCacheActive = false;
  for (TzfDictionaryItem* child : std::vector<TzfDictionaryItem*>(diChilds)) child->DeactivateCache();
}

void TzfDictionaryItem::AddChild(TzfDictionaryItem* aItem) {
  if (std::find(diChilds.begin(), diChilds.end(), aItem) == diChilds.end()) diChilds.push_back(aItem);
}

void TzfDictionaryItem::RemoveChild(TzfDictionaryItem* aItem) { std::erase(diChilds, aItem); }

void TzfDictionaryItem::AddConstraintName(TzfDictionaryItem* aItem, const UnicodeString& aName) {
  if (TzfDictionaryItem* parent = ParentItem()) parent->AddConstraintName(aItem, aName);
}

void TzfDictionaryItem::RemoveConstraintName(TzfDictionaryItem* aItem, const UnicodeString& aName) {
  if (TzfDictionaryItem* parent = ParentItem()) parent->RemoveConstraintName(aItem, aName);
}

bool TzfDictionaryItem::IsEqualClass(const TzfDictionaryItem* aItem) const {
  return aItem && &aItem->ClassType() == &ClassType();
}

bool TzfDictionaryItem::FindRelatedDescriptorOfType(const TzfRegisterableClass& aType,
                                                    TzfDictionaryItem*& aDescriptor, TzfDictionaryItem* aFrom) {
  if (!aFrom) aFrom = this;
  if (ClassType().InheritsFrom(&aType)) {
    aDescriptor = this;
    return true;
  }
  if (TzfDictionaryItem* parent = ParentItem()) return parent->FindRelatedDescriptorOfType(aType, aDescriptor, aFrom);
  // An owner that is no item ends the search (items hang only below items or a dictionary).
  aDescriptor = nullptr;
  return false;
}

void TzfDictionaryItem::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  aWriter.WriteInteger(aClientVersion < zfVersion20000 ? 1 : 3);
  aWriter.WriteListBegin();
  if (diCustomStrings)
    for (const UnicodeString& s : *diCustomStrings) aWriter.WriteString(s);
  aWriter.WriteListEnd();
  if (aClientVersion >= zfVersion20000) {
    aWriter.WriteInteger(diID);
    aWriter.WriteString(diConstraintName);
  }
}

void TzfDictionaryItem::LoadFromReader(TzfReader& aReader) {
  const int32_t version = aReader.ReadInteger();
  if (version < 1 || version > 3) throw EzfDictionaryItemException(zfErrIncompatibleStream);
  aReader.ReadListBegin();
  // The stream's strings replace the item's own: a copy takes everything but the IDs.
  if (diCustomStrings) diCustomStrings->clear();
  while (!aReader.EndOfList()) CustomStringList().push_back(aReader.ReadString());
  aReader.ReadListEnd();
  if (version >= 2) {
    const int32_t id = aReader.ReadInteger();
    if (tDictionaryAssignDepth == 0) diID = id;
  }
  if (version == 3) ChangeConstraintName(aReader.ReadString());
}

bool TzfDictionaryItem::IsEqual(const TzfDictionaryItem* aItem) const {
  return aItem && (IsEqualClass(aItem) || aItem->IsEqualClass(this));
}

// ---- Owner chain ----

bool TzfDictionaryItem::FindParentOfType(const TzfRegisterableClass& aType, TzfPersistent*& aParent) const {
  for (TzfPersistent* p = diParent; p;) {
    if (IsOfType(p, aType)) {
      aParent = p;
      return true;
    }
    auto* item = dynamic_cast<TzfDictionaryItem*>(p);
    p = item ? item->diParent : nullptr;
  }
  aParent = nullptr;
  return false;
}

TzfPersistent* TzfDictionaryItem::GetParentOfType(const TzfRegisterableClass& aType) const {
  TzfPersistent* p = nullptr;
  if (!FindParentOfType(aType, p))
    throw EzfDictionaryItemException(zfErrObjNotFound, u"No Parent of type %s could be found", {aType.Name});
  return p;
}

TzfDictionaryItem* TzfDictionaryItem::GetRelatedDescriptorOfType(const TzfRegisterableClass& aType) {
  TzfDictionaryItem* d = nullptr;
  if (!FindRelatedDescriptorOfType(aType, d))
    throw EzfDictionaryItemException(zfErrObjNotFound, u"No related Descriptor of type %s could be found",
                                     {aType.Name});
  return d;
}

IzfDictionaryRoot* TzfDictionaryItem::FindDictionaryRoot() const {
  for (const TzfPersistent* p = this; p;) {
    if (auto* root = dynamic_cast<IzfDictionaryRoot*>(const_cast<TzfPersistent*>(p))) return root;
    const auto* item = dynamic_cast<const TzfDictionaryItem*>(p);
    p = item ? item->diParent : nullptr;
  }
  return nullptr;
}

TzfIteratorResult TzfDictionaryItem::IterateReferencing(const TzfDictionaryItemIterator& aIterator, void* aCookie,
                                                        const TzfDictionaryItem* aItem, bool aRecursive) {
  TzfIteratorResult result = irContinue;
  for (TzfDictionaryItem* child : std::vector<TzfDictionaryItem*>(diChilds)) {
    if (child->References(aItem)) {
      result = aIterator(child, aCookie);
      if (result == irStop) return result;
    }
    if (aRecursive) {
      result = child->IterateReferencing(aIterator, aCookie, aItem, true);
      if (result == irStop) return result;
    }
  }
  return result;
}

// ---- Custom strings and constraint name ----

std::vector<UnicodeString>& TzfDictionaryItem::CustomStringList() {
  if (!diCustomStrings) diCustomStrings = std::make_unique<std::vector<UnicodeString>>();
  return *diCustomStrings;
}

void TzfDictionaryItem::ReplaceCustomStrings(const std::vector<UnicodeString>* aValue) {
  CheckReadOnly();
  if (!aValue) {
    diCustomStrings.reset();
    return;
  }
  CustomStringList() = *aValue;
}

void TzfDictionaryItem::ChangeConstraintName(const UnicodeString& aValue) {
  if (uint32_t code = zfCheckIdentifier(aValue, zfErrInvalidName, true, true))
    throw EzfDictionaryItemException(code);
  if (aValue == diConstraintName) return;
  if (!aValue.empty()) AddConstraintName(this, aValue);
  if (!diConstraintName.empty()) {
    try {
      RemoveConstraintName(this, diConstraintName);
    } catch (...) {
      if (!aValue.empty()) RemoveConstraintName(this, aValue);
      throw;
    }
  }
  diConstraintName = aValue;
}

// ---- Stream helpers ----

void TzfDictionaryItem::CheckStoredCount(TzfReader& aReader, int32_t aCount, int32_t aMinBytesEach) const {
  if (aCount < 0 || static_cast<int64_t>(aCount) * std::max<int32_t>(aMinBytesEach, 1) > aReader.BytesLeft())
    RaiseError(zfErrIncompatibleStream);
}

int32_t TzfDictionaryItem::ReadBodyVersion(TzfReader& aReader, int32_t aMin, int32_t aMax) const {
  const int32_t version = aReader.ReadInteger();
  if (version < aMin || version > aMax) RaiseError(zfErrIncompatibleStream);
  return version;
}

bool TzfDictionaryItem::ReadStoredBoolean(TzfReader& aReader) const {
  const TValueType tag = aReader.ReadValue();
  if (tag != vaTrue && tag != vaFalse) RaiseError(zfErrIncompatibleStream);
  return tag == vaTrue;
}

// ---- Unit ----

rtl::TUnitInit& zfsdDictionaryItemUnit() {
  static rtl::TUnitInit unit(
      "zfsdDictionaryItem", [] { zfSetDisable30900LocaleFixes(zfFindCmdLineSwitch(u"Disable30900LocaleFixes")); },
      [] {});
  return unit;
}

}  // namespace zf
