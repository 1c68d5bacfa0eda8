// Dictionary items: the nodes of the tree of descriptors that describes a table.
//
// Every descriptor, from the data dictionary at the root down to a single key field or default
// value, is a TzfDictionaryItem. An item knows its owner and the items that registered with it as
// children, carries an ID unique within its dictionary, free-form custom strings and an optional
// constraint name unique within its table, finds ancestors and related descriptors, receives
// renumbering notifications, switches the cache of a read-only dictionary on and off, copies
// itself through a stream, and writes and reads the item header that opens its part of the
// dictionary stream.
//
// Class references. Each descriptor class has a static class info (ClassInfo) naming the class,
// its parent and, for a registry level, the level's registry variable (&zfFamilyList<Level>); a
// class without its own registry registers in, and is found through, the registry of its nearest
// ancestor that has one. The class info of an item carries its virtual constructor: the generic
// Create(aParent) below, and, where a kind is created with more arguments (files, fields), a
// class-info type of its own that adds that constructor.
//
// The data dictionary at the root implements IzfDictionaryRoot; items reach it through their
// owner chain for their IDs, the read-only check and the dictionary's version.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "foundation/zfllException.h"
#include "foundation/zfllRegisterableEngine.h"
#include "foundation/zfllStreamsRW.h"
#include "platform/rtl/rtlFormat.h"
#include "platform/rtl/rtlText.h"
#include "platform/rtl/rtlUnits.h"

namespace zf {

// ---- Exceptions: every descriptor kind raises its own class ----

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseDictionaryException, EzfBaseException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfDictionaryItemException, EzfBaseDictionaryException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfFileDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfFilesDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfLocaleDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfFieldsDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfIndexDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfCustomDescsDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfTablesDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfDataDictionaryException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfFieldValidationsDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseBlockHeapDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseHeapDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseRecordCompressionDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseStreamDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseCustomDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseIndicesDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfMainIndicesDescriptorException, EzfBaseIndicesDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseDefaultValueDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfConstDefaultValueDescriptorException, EzfBaseDefaultValueDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseFieldValidationDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfMinMaxValidationDescriptorException, EzfBaseFieldValidationDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfNoChangeValidationDescriptorException, EzfBaseFieldValidationDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfSqlCheckValidationDescriptorException, EzfBaseFieldValidationDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfLocaleizedDictionaryItemException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfFieldDescriptorException, EzfLocaleizedDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfKeyFieldDescriptorException, EzfLocaleizedDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfTextKeyFieldDescriptorException, EzfKeyFieldDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfExtTextKeyFieldDescriptorException, EzfTextKeyFieldDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseKeyDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfRefKeyDescriptorException, EzfBaseKeyDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfCompKeyDescriptorException, EzfBaseKeyDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfNoNullCompKeyDescriptorException, EzfCompKeyDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseRecordDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfHeapRecordDescriptorException, EzfBaseRecordDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseBlobDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfHeapBlobDescriptorException, EzfBaseBlobDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseAutoIncDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfAdvAutoIncDescriptorException, EzfBaseAutoIncDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseTableDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfNestedTableDescriptorException, EzfBaseTableDescriptorException)

// ---- Class references ----

class TzfDictionaryItem;

// Class info of dictionary items, with the generic virtual constructor. Create is nullptr for
// kinds that are only created with more arguments (their own class-info type adds that form).
class TzfDictionaryItemClassInfo : public TzfRegisterableClass {
 public:
  using TCreate = TzfDictionaryItem* (*)(TzfPersistent* aParent);
  TzfDictionaryItemClassInfo(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                             TCreate aCreate)
      : TzfRegisterableClass(aName, aParent, aGetList), Create(aCreate) {}
  TCreate Create;
};
using TzfDictionaryItemClass = const TzfDictionaryItemClassInfo*;

// The generic virtual constructor of a class T with a T(TzfPersistent*) constructor.
template <class T>
TzfDictionaryItem* zfNewDictionaryItem(TzfPersistent* aParent) {
  return new T(aParent);
}

// Declares the class-level members of a descriptor class: its class info (defined in its unit),
// the class it reports, and raising its own exception class.
#define ZF_DICTIONARY_ITEM_CLASS(TInfo, TException)                                                      \
 public:                                                                                                 \
  static const TInfo& ClassInfo();                                                                       \
  const ::zf::TzfRegisterableClass& ClassType() const override { return ClassInfo(); }                   \
  [[noreturn]] void RaiseError(uint32_t aCode) const override { throw TException(aCode); }               \
  [[noreturn]] void RaiseError(uint32_t aCode, ::zf::rtl::UnicodeStringView aFormat,                     \
                               ::zf::rtl::FormatArgs aArgs) const override {                             \
    throw TException(aCode, aFormat, aArgs);                                                             \
  }

enum class TzfBlockSize : uint8_t;

// What items ask of the data dictionary at the root of their tree (the data dictionary
// implements it).
class IzfDictionaryRoot {
 public:
  // Increments the dictionary's highest issued item ID and returns the new value.
  virtual int32_t NextItemID() = 0;
  // Raises 15500 "The data dictionary is read only" when the dictionary is read-only.
  virtual void CheckDictionaryReadOnly() = 0;
  // The dictionary's version (1 lays records out without the filler before the null bitmap).
  virtual int32_t DictionaryVersion() const = 0;
  // Usable bytes of a block of the given size (block size less the reserved bytes per block).
  virtual uint32_t UsableBlockSize(TzfBlockSize aBlockSize) = 0;

 protected:
  ~IzfDictionaryRoot() = default;
};

enum TzfIteratorResult : uint8_t { irContinue, irStop };
using TzfDictionaryItemIterator = std::function<TzfIteratorResult(TzfDictionaryItem* aItem, void* aCookie)>;

// Per-thread count of Assign copies in progress: while above 0, items read keep their own IDs.
int32_t& DictionaryAssignDepth();

// Nesting of descriptor parts being read on this thread. A reader that reads a nested descriptor
// holds one of these for the time of the read; nesting deeper than kMaxDepth raises the item's
// 15498 "Incompatible stream", so a damaged stream cannot recurse without bound.
class TzfDictionaryReadNesting {
 public:
  static constexpr int32_t kMaxDepth = 64;
  explicit TzfDictionaryReadNesting(const TzfDictionaryItem& aItem);
  ~TzfDictionaryReadNesting();
  TzfDictionaryReadNesting(const TzfDictionaryReadNesting&) = delete;
  TzfDictionaryReadNesting& operator=(const TzfDictionaryReadNesting&) = delete;
};

// The "Disable30900LocaleFixes" command-line switch, read once when the dictionary starts; tests
// set it either way.
bool zfDisable30900LocaleFixes();
void zfSetDisable30900LocaleFixes(bool aValue);

class TzfDictionaryItem : public TzfBaseRegisterableDescriptor {
 public:
  explicit TzfDictionaryItem(TzfPersistent* aParent);
  ~TzfDictionaryItem() override;
  TzfDictionaryItem(const TzfDictionaryItem&) = delete;
  TzfDictionaryItem& operator=(const TzfDictionaryItem&) = delete;

  static const TzfDictionaryItemClassInfo& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  // Raises this item's own exception class (the descriptor classes override both).
  [[noreturn]] virtual void RaiseError(uint32_t aCode) const;
  [[noreturn]] virtual void RaiseError(uint32_t aCode, UnicodeStringView aFormat, rtl::FormatArgs aArgs) const;

  // ---- Virtual operations ----

  // Copies aSource when it is of the very same class (through a stream, keeping this tree's
  // IDs); any other source raises EConvertError "Cannot assign a %s to a %s".
  virtual void Assign(TzfPersistent* aSource);
  // Asks the dictionary up the owner chain (15500 when read-only); nothing outside a dictionary.
  virtual void CheckReadOnly();
  virtual void ActivateCache();
  virtual void DeactivateCache();
  virtual void AddChild(TzfDictionaryItem* aItem);
  virtual void RemoveChild(TzfDictionaryItem* aItem);
  // Pass the call to the owner when it is an item; the table descriptor keeps the registry.
  virtual void AddConstraintName(TzfDictionaryItem* aItem, const UnicodeString& aName);
  virtual void RemoveConstraintName(TzfDictionaryItem* aItem, const UnicodeString& aName);
  // Renumbering notifications (aOld -1: insertion at aNew; aNew -1: removal of aOld).
  virtual void FieldNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) {}
  virtual void FileNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) {}
  virtual void IndexNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) {}
  // True when aItem's class is exactly this item's class.
  virtual bool IsEqualClass(const TzfDictionaryItem* aItem) const;
  // The related descriptor of kind aType: this item when it is one, else the nearest item
  // ancestor's answer. Overrides answer for the kinds they own (True even when absent).
  virtual bool FindRelatedDescriptorOfType(const TzfRegisterableClass& aType, TzfDictionaryItem*& aDescriptor,
                                           TzfDictionaryItem* aFrom = nullptr);
  // The item header (descriptors write / read their own body after it).
  virtual void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion);
  virtual void LoadFromReader(TzfReader& aReader);
  virtual void CheckValid(bool aForBuild) {}
  virtual bool IsEqual(const TzfDictionaryItem* aItem) const;
  virtual bool References(const TzfDictionaryItem* aItem) const { return false; }

  // ---- Owner chain and related descriptors ----

  TzfPersistent* GetOwner() const { return diParent; }
  // The first owner up the chain whose class is aType or a descendant.
  bool FindParentOfType(const TzfRegisterableClass& aType, TzfPersistent*& aParent) const;
  // As above; none raises 8712 "No Parent of type %s could be found".
  TzfPersistent* GetParentOfType(const TzfRegisterableClass& aType) const;
  // As FindRelatedDescriptorOfType; False raises 8712 "No related Descriptor of type %s could be
  // found" (a kind owned but absent gives nullptr without error).
  TzfDictionaryItem* GetRelatedDescriptorOfType(const TzfRegisterableClass& aType);

  template <class T>
  T* FindParent() const {
    TzfPersistent* p = nullptr;
    return FindParentOfType(T::ClassInfo(), p) ? dynamic_cast<T*>(p) : nullptr;
  }
  template <class T>
  T* GetParent() const {
    return dynamic_cast<T*>(GetParentOfType(T::ClassInfo()));
  }
  template <class T>
  T* FindRelated() {
    TzfDictionaryItem* d = nullptr;
    return FindRelatedDescriptorOfType(T::ClassInfo(), d) ? dynamic_cast<T*>(d) : nullptr;
  }
  template <class T>
  T* GetRelated() {
    return dynamic_cast<T*>(GetRelatedDescriptorOfType(T::ClassInfo()));
  }

  // The data dictionary whose tree holds this item (the item itself when it is one); nullptr
  // outside a dictionary.
  IzfDictionaryRoot* FindDictionaryRoot() const;

  // Visits the children that reference aItem (recursively when asked); the last result.
  TzfIteratorResult IterateReferencing(const TzfDictionaryItemIterator& aIterator, void* aCookie,
                                       const TzfDictionaryItem* aItem, bool aRecursive);

  // ---- Custom strings and constraint name ----

  std::vector<UnicodeString>& CustomStringList();
  // Replaces the custom strings (CheckReadOnly first); nullptr removes them all.
  void ReplaceCustomStrings(const std::vector<UnicodeString>* aValue);
  bool HasCustomStrings() const { return diCustomStrings && !diCustomStrings->empty(); }
  // Validates (10068) and re-registers the constraint name with the table.
  void ChangeConstraintName(const UnicodeString& aValue);

  // Enrol / withdraw this item for renumbering notifications of the related fields, files or
  // main indices descriptor; nothing when there is none. (The index pair is defined by the
  // indices unit.)
  void RegisterFieldChangeNotify();
  void UnregisterFieldChangeNotify();
  void RegisterFileChangeNotify();
  void UnregisterFileChangeNotify();
  void RegisterIndexChangeNotify();
  void UnregisterIndexChangeNotify();

  // ---- Stream helpers for descriptors ----

  // The class registered under aName in aFamily's registry (names compared without regard to
  // case), of class-info type TInfo; an unknown name raises this item's exception 15499 "%s class
  // is not supported: %s" with aKind and aName.
  template <class TInfo = TzfDictionaryItemClassInfo>
  const TInfo& FindStoredDescriptorClass(const TzfRegisterableClass& aFamily, UnicodeStringView aKind,
                                         const UnicodeString& aName) const {
    const TInfo* c = zfFindDescriptorClass<TInfo>(aFamily, aName);
    if (!c) RaiseError(zfErrUnsupportedDescriptor, u"%s class is not supported: %s", {aKind, aName});
    return *c;
  }
  // Raises this item's 15498 when aCount is negative or more than aReader could still hold at
  // aMinBytesEach bytes per entry.
  void CheckStoredCount(TzfReader& aReader, int32_t aCount, int32_t aMinBytesEach) const;
  // Reads the body version and raises this item's 15498 when it lies outside aMin..aMax.
  int32_t ReadBodyVersion(TzfReader& aReader, int32_t aMin, int32_t aMax) const;
  // A stored Boolean: exactly the True or False tag; any other value raises this item's 15498
  // rather than being read as False and leaving the rest of the stream misaligned.
  bool ReadStoredBoolean(TzfReader& aReader) const;

  // ---- Fields ----

  TzfPersistent* diParent;
  std::vector<TzfDictionaryItem*> diChilds;  // not owning, in registration order
  std::unique_ptr<std::vector<UnicodeString>> diCustomStrings;
  int32_t diID = 0;
  UnicodeString diConstraintName;
  bool diCacheActive = false;

 private:
  // The nearest dictionary item up the owner chain.
  TzfDictionaryItem* ParentItem() const { return dynamic_cast<TzfDictionaryItem*>(diParent); }
};

// Runs the dictionary items unit: reads the "Disable30900LocaleFixes" switch.
rtl::TUnitInit& zfsdDictionaryItemUnit();

}  // namespace zf
