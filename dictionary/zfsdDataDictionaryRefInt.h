// Referential-integrity descriptors.
//
// A table declares references from its records to records of a target (another table, a nested
// table or the table itself) in a custom descriptor named "RefIntegrity": a list of reference
// descriptors, each naming its target cursor, the target index, the source fields that form the
// reference and the actions taken when a target record is deleted or modified. The engines that
// enforce them belong to the server; they find the descriptor through
// zfGetRefIntegrityDescriptor and cache their engine classes in the descriptors.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "dictionary/zfsdDictionaryItem.h"
#include "dictionary/zfsdStorageDescriptor.h"

namespace zf {

class TzfBaseTableDescriptor;

ZF_DECLARE_ENGINE_EXCEPTION(EzfRefIntegrityDescriptorException, EzfBaseCustomDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfReferenceDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseTargetCursorDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfCloneTargetCursorDescriptorException, EzfBaseTargetCursorDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfTableTargetCursorDescriptorException, EzfBaseTargetCursorDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfRelativeTargetCursorDescriptorException, EzfBaseTargetCursorDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseSourceDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfFieldSourceDescriptorException, EzfBaseSourceDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseActionDescriptorException, EzfDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseDeleteActionDescriptorException, EzfBaseActionDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseModifyActionDescriptorException, EzfBaseActionDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfCascadeDeleteActionDescriptorException, EzfBaseDeleteActionDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfClearDeleteActionDescriptorException, EzfBaseDeleteActionDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfSetDefaultDeleteActionDescriptorException, EzfBaseDeleteActionDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBlockDeleteActionDescriptorException, EzfBaseDeleteActionDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfCascadeModifyActionDescriptorException, EzfBaseModifyActionDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfClearModifyActionDescriptorException, EzfBaseModifyActionDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfSetDefaultModifyActionDescriptorException, EzfBaseModifyActionDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBlockModifyActionDescriptorException, EzfBaseModifyActionDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfTargetRequiredActionDescriptorException, EzfBaseActionDescriptorException)

class TzfReferenceDescriptor;
class TzfBaseTargetCursorDescriptor;
class TzfBaseSourceDescriptor;
class TzfBaseActionDescriptor;

// Class reference of references, made with the class of their target.
class TzfReferenceDescriptorClassInfo : public TzfDictionaryItemClassInfo {
 public:
  using TCreateRef = TzfReferenceDescriptor* (*)(TzfPersistent* aParent, TzfDictionaryItemClass aTargetCursorClass);
  TzfReferenceDescriptorClassInfo(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                                  TCreateRef aCreate)
      : TzfDictionaryItemClassInfo(aName, aParent, aGetList, nullptr), CreateRef(aCreate) {}
  TCreateRef CreateRef;
};

// The custom descriptor "RefIntegrity": the table's references.
class TzfRefIntegrityDescriptor : public TzfBaseCustomDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfNamedDescriptorClassInfo, EzfRefIntegrityDescriptorException)
 public:
  TzfRefIntegrityDescriptor(TzfPersistent* aParent, const UnicodeString& aName)
      : TzfBaseCustomDescriptor(aParent, aName) {}
  ~TzfRefIntegrityDescriptor() override;

  // Appends a reference of aReferenceClass (nullptr: TzfReferenceDescriptor) whose target is of
  // aTargetCursorClass (nullptr: TzfTableTargetCursorDescriptor).
  TzfReferenceDescriptor* AddReference(const TzfReferenceDescriptorClassInfo* aReferenceClass = nullptr,
                                       TzfDictionaryItemClass aTargetCursorClass = nullptr);
  void RemoveReference(int32_t aIndex);
  void RemoveReference(TzfReferenceDescriptor* aDescriptor);
  int32_t ridReferenceCount() const { return static_cast<int32_t>(ridReferences.size()); }

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  std::vector<std::unique_ptr<TzfReferenceDescriptor>> ridReferences;
};

class TzfReferenceDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfReferenceDescriptorClassInfo, EzfReferenceDescriptorException)
 public:
  // aTargetCursorClass nullptr: TzfTableTargetCursorDescriptor.
  TzfReferenceDescriptor(TzfPersistent* aParent, TzfDictionaryItemClass aTargetCursorClass);
  ~TzfReferenceDescriptor() override;

  // nullptr: TzfFieldSourceDescriptor / TzfBlockDeleteActionDescriptor.
  TzfBaseSourceDescriptor* AddSource(TzfDictionaryItemClass aSourceDescriptorClass = nullptr);
  TzfBaseActionDescriptor* AddAction(TzfDictionaryItemClass aActionDescriptorClass = nullptr);
  void RemoveSource(int32_t aIndex);
  void RemoveSource(TzfBaseSourceDescriptor* aDescriptor);
  void RemoveAction(int32_t aIndex);
  void RemoveAction(TzfBaseActionDescriptor* aDescriptor);
  void SetTargetIndex(const UnicodeString& aValue);
  int32_t rdSourceCount() const { return static_cast<int32_t>(rdSources.size()); }
  int32_t rdActionCount() const { return static_cast<int32_t>(rdActions.size()); }

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;
  bool References(const TzfDictionaryItem* aItem) const override;

  // The engine class found for this descriptor (cursors of several sessions may look it up at once).
  std::atomic<const TzfRegisterableClass*> rdCachedEngineClass{nullptr};
  std::unique_ptr<TzfBaseTargetCursorDescriptor> rdTargetCursor;
  UnicodeString rdTargetIndex;
  std::vector<std::unique_ptr<TzfBaseSourceDescriptor>> rdSources;
  std::vector<std::unique_ptr<TzfBaseActionDescriptor>> rdActions;
};

// ---- Targets ----

class TzfBaseTargetCursorDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseTargetCursorDescriptorException)
 public:
  explicit TzfBaseTargetCursorDescriptor(TzfPersistent* aParent) : TzfDictionaryItem(aParent) {}
  // The full name of the target table.
  virtual UnicodeString ReferencedTableName() const = 0;

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  bool References(const TzfDictionaryItem* aItem) const override;

  // The engine class found for this descriptor (cursors of several sessions may look it up at once).
  std::atomic<const TzfRegisterableClass*> btcCachedEngineClass{nullptr};
};

// The target is the table that owns the reference.
class TzfCloneTargetCursorDescriptor : public TzfBaseTargetCursorDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfCloneTargetCursorDescriptorException)
 public:
  explicit TzfCloneTargetCursorDescriptor(TzfPersistent* aParent) : TzfBaseTargetCursorDescriptor(aParent) {}
  UnicodeString ReferencedTableName() const override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
};

// A table of the database, possibly with a nested path, and the password that opens it.
class TzfTableTargetCursorDescriptor : public TzfBaseTargetCursorDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfTableTargetCursorDescriptorException)
 public:
  explicit TzfTableTargetCursorDescriptor(TzfPersistent* aParent) : TzfBaseTargetCursorDescriptor(aParent) {}
  // A new name must be a full table name (the check's code is raised).
  void SetTableName(const UnicodeString& aValue);
  void SetPassword(const UnicodeString& aValue);
  UnicodeString ReferencedTableName() const override { return ttcTableName; }
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  UnicodeString ttcTableName;
  UnicodeString ttcPassword;
};

// A nested table path: from the owning table when it starts with ".", else from the root table.
class TzfRelativeTargetCursorDescriptor : public TzfBaseTargetCursorDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfRelativeTargetCursorDescriptorException)
 public:
  explicit TzfRelativeTargetCursorDescriptor(TzfPersistent* aParent) : TzfBaseTargetCursorDescriptor(aParent) {}
  // A new name must be a table path (10039).
  void SetTableName(const UnicodeString& aValue);
  // The nested table the path designates (10024 when it does not exist).
  TzfBaseTableDescriptor* ReferencedTable() const;
  UnicodeString ReferencedTableName() const override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  UnicodeString rtcTableName;
};

// ---- Sources ----

class TzfBaseSourceDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseSourceDescriptorException)
 public:
  explicit TzfBaseSourceDescriptor(TzfPersistent* aParent) : TzfDictionaryItem(aParent) {}
  void SetSkipOnNull(bool aValue);
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;

  bool bsdSkipOnNull = false;
  // The engine class found for this descriptor (cursors of several sessions may look it up at once).
  std::atomic<const TzfRegisterableClass*> bsdCachedEngineClass{nullptr};
};

// A field of the owning table; follows the field when fields are inserted, moved or removed.
class TzfFieldSourceDescriptor : public TzfBaseSourceDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfFieldSourceDescriptorException)
 public:
  explicit TzfFieldSourceDescriptor(TzfPersistent* aParent);
  ~TzfFieldSourceDescriptor() override;
  void SetFieldNumber(int32_t aValue);
  void FieldNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  int32_t fsdFieldNumber = -1;
};

// ---- Actions ----

class TzfBaseActionDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseActionDescriptorException)
 public:
  explicit TzfBaseActionDescriptor(TzfPersistent* aParent) : TzfDictionaryItem(aParent) {}
  void SetSkipOnNull(bool aValue);
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;

  bool badSkipOnNull = false;
  // The engine class found for this descriptor (cursors of several sessions may look it up at once).
  std::atomic<const TzfRegisterableClass*> badCachedEngineClass{nullptr};
};

// Each action is fixed by its class; none has settings of its own.
class TzfCascadeDeleteActionDescriptor : public TzfBaseActionDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfCascadeDeleteActionDescriptorException)
 public:
  explicit TzfCascadeDeleteActionDescriptor(TzfPersistent* aParent) : TzfBaseActionDescriptor(aParent) {}
};
class TzfClearDeleteActionDescriptor : public TzfBaseActionDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfClearDeleteActionDescriptorException)
 public:
  explicit TzfClearDeleteActionDescriptor(TzfPersistent* aParent) : TzfBaseActionDescriptor(aParent) {}
};
class TzfSetDefaultDeleteActionDescriptor : public TzfBaseActionDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfSetDefaultDeleteActionDescriptorException)
 public:
  explicit TzfSetDefaultDeleteActionDescriptor(TzfPersistent* aParent) : TzfBaseActionDescriptor(aParent) {}
};
class TzfBlockDeleteActionDescriptor : public TzfBaseActionDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBlockDeleteActionDescriptorException)
 public:
  explicit TzfBlockDeleteActionDescriptor(TzfPersistent* aParent) : TzfBaseActionDescriptor(aParent) {}
};
class TzfCascadeModifyActionDescriptor : public TzfBaseActionDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfCascadeModifyActionDescriptorException)
 public:
  explicit TzfCascadeModifyActionDescriptor(TzfPersistent* aParent) : TzfBaseActionDescriptor(aParent) {}
};
class TzfClearModifyActionDescriptor : public TzfBaseActionDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfClearModifyActionDescriptorException)
 public:
  explicit TzfClearModifyActionDescriptor(TzfPersistent* aParent) : TzfBaseActionDescriptor(aParent) {}
};
class TzfSetDefaultModifyActionDescriptor : public TzfBaseActionDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfSetDefaultModifyActionDescriptorException)
 public:
  explicit TzfSetDefaultModifyActionDescriptor(TzfPersistent* aParent) : TzfBaseActionDescriptor(aParent) {}
};
class TzfBlockModifyActionDescriptor : public TzfBaseActionDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBlockModifyActionDescriptorException)
 public:
  explicit TzfBlockModifyActionDescriptor(TzfPersistent* aParent) : TzfBaseActionDescriptor(aParent) {}
};
class TzfTargetRequiredActionDescriptor : public TzfBaseActionDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfTargetRequiredActionDescriptorException)
 public:
  explicit TzfTargetRequiredActionDescriptor(TzfPersistent* aParent) : TzfBaseActionDescriptor(aParent) {}
};

// The table's custom descriptor named "RefIntegrity" (case ignored), nullptr when there is none.
// A custom descriptor of that name and another class raises
// EzfRefIntegrityDescriptorException 15499 rather than being taken for one.
TzfRefIntegrityDescriptor* zfGetRefIntegrityDescriptor(TzfBaseTableDescriptor* aTableDescriptor);

// The registered action descriptor classes with their names (what a session reports).
TzfRegisteredClasses zfGetActionDescriptorClasses();

// Registers the 15 referential-integrity classes by name (unit start) and removes them (stop).
rtl::TUnitInit& zfsdDataDictionaryRefIntUnit();

}  // namespace zf
