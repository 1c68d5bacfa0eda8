// Table descriptors: the schema node of one table.
//
// A table descriptor owns the table's fields, its record, BLOB and auto-increment storage
// descriptors, its indexes, its named custom descriptors (referential integrity, full-text
// definitions) and its nested tables, and may carry a locale of its own. The data dictionary is
// the table descriptor of the table file itself; nested tables live in a tables descriptor and
// are reached by a path of names separated by ":". The table also keeps the registry of
// constraint names that must be unique within it, can copy only the field structure of another
// table (the failed-records table of a recovery), and writes and reads its part of the
// dictionary stream.
#pragma once
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "dictionary/zfsdDescriptorHelpers.h"
#include "dictionary/zfsdDictionaryItem.h"
#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdLocaleDescriptor.h"
#include "dictionary/zfsdStorageDescriptor.h"

namespace zf {

class TzfFieldsDescriptor;
class TzfMainIndicesDescriptor;
class TzfIndexDescriptor;
class TzfBaseTableDescriptor;
class TzfNestedTableDescriptor;

// A name with the object that goes with it (constraint names, nested tables).
using TzfNamedItems = std::vector<std::pair<UnicodeString, TzfDictionaryItem*>>;

// ---- Custom descriptors list ----

class TzfCustomDescsDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfCustomDescsDescriptorException)
 public:
  explicit TzfCustomDescsDescriptor(TzfPersistent* aParent) : TzfDictionaryItem(aParent) {}
  ~TzfCustomDescsDescriptor() override;

  // Appends a custom descriptor named aName of aClass (nullptr: TzfBaseCustomDescriptor);
  // 10068 for a bad name, 10009 for a name already in the list.
  TzfBaseCustomDescriptor* AddCustom(const UnicodeString& aName, const TzfNamedDescriptorClassInfo* aClass = nullptr);
  void RemoveCustom(int32_t aInx);
  void RemoveCustom(const UnicodeString& aName);
  // Frees every descriptor (no read-only check: part of a reset).
  void Clear();
  int32_t GetCustomDescriptorFromName(const UnicodeString& aCustomDescriptorName) const;
  int32_t CustomCount() const { return static_cast<int32_t>(CustomDescriptor.size()); }

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  std::vector<std::unique_ptr<TzfBaseCustomDescriptor>> CustomDescriptor;
};

// ---- Nested tables list ----

// Class reference of nested tables, made with their name.
class TzfNestedTableDescriptorClassInfo : public TzfDictionaryItemClassInfo {
 public:
  using TCreateNamed = TzfNestedTableDescriptor* (*)(TzfPersistent* aParent, const UnicodeString& aName);
  TzfNestedTableDescriptorClassInfo(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                                    TCreateNamed aCreate)
      : TzfDictionaryItemClassInfo(aName, aParent, aGetList, nullptr), CreateNamed(aCreate) {}
  TCreateNamed CreateNamed;
};

class TzfTablesDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfTablesDescriptorException)
 public:
  explicit TzfTablesDescriptor(TzfPersistent* aParent) : TzfDictionaryItem(aParent) {}
  ~TzfTablesDescriptor() override;

  // Appends a nested table named aName of aClass (nullptr: TzfNestedTableDescriptor); 10039 for
  // a bad name, 10009 for a name already in the list.
  TzfNestedTableDescriptor* AddTable(const UnicodeString& aName,
                                     const TzfNestedTableDescriptorClassInfo* aClass = nullptr);
  void RemoveTable(int32_t aInx);
  void RemoveTable(const UnicodeString& aName);
  void RenameTable(const UnicodeString& aOldName, const UnicodeString& aNewName);
  // Frees every nested table (no read-only check: part of a reset).
  void Clear();
  int32_t GetTableIndexFromName(const UnicodeString& aName) const;
  // 10024 "Table does not exist." when there is none.
  TzfNestedTableDescriptor* GetTableDescriptorFromName(const UnicodeString& aName) const;
  TzfNamedItems GetTables() const;
  int32_t TableCount() const { return static_cast<int32_t>(TableDescriptor.size()); }

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  std::vector<std::unique_ptr<TzfNestedTableDescriptor>> TableDescriptor;
};

// ---- Table descriptors ----

class TzfBaseTableDescriptor : public TzfLocalizedDictionaryItem, public IzfFieldStorageOwner {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseTableDescriptorException)
 public:
  explicit TzfBaseTableDescriptor(TzfPersistent* aParent);
  ~TzfBaseTableDescriptor() override;

  // ---- Owned descriptors ----

  // Each replaces the descriptor of its kind by a new one of aClass (nullptr: the kind's default
  // class), made with this table as parent and the kind's header section.
  TzfBaseRecordDescriptor* AddRecordDescriptor(const TzfSectionDescriptorClassInfo* aRecordClass = nullptr);
  TzfBaseBlobDescriptor* AddBlobDescriptor(const TzfSectionDescriptorClassInfo* aBlobClass = nullptr);
  TzfBaseAutoIncDescriptor* AddAutoIncDescriptor(const TzfSectionDescriptorClassInfo* aAutoIncClass = nullptr);
  TzfMainIndicesDescriptor* AddIndicesDescriptor(const TzfSectionDescriptorClassInfo* aIndicesClass = nullptr);
  TzfMainIndicesDescriptor* EnsureIndicesDescriptor();
  void RemoveRecordDescriptor();
  void RemoveBlobDescriptor();
  void RemoveAutoIncDescriptor();
  // Clears the indexes with notifications, then frees the indices descriptor.
  void RemoveIndicesDescriptor();

  // ---- Virtual operations added by tables ----

  // Empties the table: custom descriptors, indexes, fields, storage descriptors, locale and
  // nested tables; the data dictionary then adds its defaults unless aEmpty.
  virtual void InternalClear(bool aEmpty);
  // The table's full name ("base:nested:nested").
  virtual UnicodeString btdFullName() const = 0;
  // Replaces this table by a copy of aSource's field structure (no defaults, validations or
  // required flags), with a variable-length record engine and smart compression.
  virtual void AssignOnlyFields(TzfBaseTableDescriptor* aSource);
  // May aIndexDesc join this table: its constraint name is free and it fits the table.
  virtual bool IsIndexDescValid(TzfIndexDescriptor* aIndexDesc);

  // ---- Operations ----

  void Clear();
  int32_t GetFieldFromName(const UnicodeString& aFieldName) const;
  int32_t GetIndexFromName(const UnicodeString& aIndexName) const;
  // The table at aChildName: "" is this table, "." this table, ".." the table above (10024 when
  // there is none), any other name a nested table (10024 when absent); parts separated by ":".
  TzfBaseTableDescriptor* GetChild(const UnicodeString& aChildName);
  TzfDictionaryItem* GetConstraintByName(const UnicodeString& aName) const;
  // Every registered constraint name with its item, sorted.
  TzfNamedItems GetConstraints() const;
  // 24 without indexes, else 24 plus the key length of index aIndex (9999 outside the list).
  int32_t GetBookmarkSize(int32_t aIndex);

  // ---- Overrides ----

  // A field of an auto-increment or BLOB type checked without the table's descriptor of that
  // kind adds one of the default class.
  void EnsureAutoIncDescriptor() override;
  void EnsureBlobDescriptor() override;
  void AddConstraintName(TzfDictionaryItem* aItem, const UnicodeString& aName) override;
  void RemoveConstraintName(TzfDictionaryItem* aItem, const UnicodeString& aName) override;
  bool FindRelatedDescriptorOfType(const TzfRegisterableClass& aType, TzfDictionaryItem*& aDescriptor,
                                   TzfDictionaryItem* aFrom = nullptr) override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  // ---- Fields ----

  std::unique_ptr<TzfFieldsDescriptor> tdFieldsDescriptor;
  std::unique_ptr<TzfBaseBlobDescriptor> tdBlobDescriptor;
  std::unique_ptr<TzfBaseRecordDescriptor> tdRecordDescriptor;
  std::unique_ptr<TzfMainIndicesDescriptor> tdIndicesDescriptor;
  std::unique_ptr<TzfBaseAutoIncDescriptor> tdAutoIncDescriptor;
  std::unique_ptr<TzfCustomDescsDescriptor> tdCustomDescsDescriptor;
  std::unique_ptr<TzfTablesDescriptor> tdTablesDescriptor;
  // Constraint names, sorted without regard to case; created with the first name and freed
  // with the last.
  std::unique_ptr<TzfNamedItems> tdConstraints;

 protected:
  // Frees every owned descriptor while the table is still whole (descriptors unregister their
  // names and notifications on the way out); the destructors of the table and the dictionary
  // call it first.
  void FreeOwnedDescriptors();
};

class TzfNestedTableDescriptor : public TzfBaseTableDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfNestedTableDescriptorClassInfo, EzfNestedTableDescriptorException)
 public:
  // aName must be a table name (10039) before anything else happens.
  TzfNestedTableDescriptor(TzfPersistent* aParent, const UnicodeString& aName);

  UnicodeString btdFullName() const override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  UnicodeString ntdName;
};

// ---- Helpers of the table, dictionary and referential-integrity descriptors ----

// Equal lengths and equal descriptors pair by pair.
template <class V>
bool zfSameItemLists(const V& a, const V& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!a[i]->IsEqual(b[i].get())) return false;
  return true;
}

// The place of an optional descriptor in a stream: its identifier, whether it follows and, when
// it does, its class name and part.
template <class P>
void zfWriteDescriptorPlace(TzfWriter& aWriter, UnicodeStringView aIdent, const P& aNested, int32_t aClientVersion) {
  aWriter.WriteIdent(aIdent);
  aWriter.WriteBoolean(aNested != nullptr);
  if (aNested) {
    aWriter.WriteString(aNested->ClassName());
    aNested->SaveToWriter(aWriter, aClientVersion);
  }
}

// A custom descriptor of aClass named aName with aParent as parent; a class that makes no custom
// descriptor raises aOwner's 15499.
std::unique_ptr<TzfBaseCustomDescriptor> zfNewCustomDescriptor(const TzfDictionaryItem& aOwner, TzfPersistent* aParent,
                                                               const TzfNamedDescriptorClassInfo& aClass,
                                                               const UnicodeString& aName);

// Reads an identifier that must be aIdent; anything else raises aItem's 15498.
void zfReadExpectedIdent(const TzfDictionaryItem& aItem, TzfReader& aReader, UnicodeStringView aIdent);

// Registers the custom descriptors list, the tables descriptor and the nested table by name (unit
// start) and removes them (unit stop).
rtl::TUnitInit& zfsdTableDescriptorUnit();

}  // namespace zf
