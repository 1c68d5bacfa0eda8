// Key descriptors: how the key of an index is built from a record.
//
// A reference key is the record's reference alone (8 bytes). A composite key is an ordered list
// of key fields, each naming a field of the table with its direction, its null behaviour,
// optional length overrides and, for text, its comparison rules (its own locale or its field's).
// A key may carry a stored key filter (a filter descriptor of the index layer, found by name in
// the filter descriptor registry). Key field descriptors are also owned by the minimum/maximum
// and no-change validations, where the number zfOwningFieldNumber stands for the field that owns
// the validation.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "dictionary/zfsdDictionaryItem.h"
#include "dictionary/zfsdFilterDescriptor.h"
#include "dictionary/zfsdLocaleDescriptor.h"
#include "dictionary/zfsdTypes.h"

namespace zf {

class TzfFieldDescriptor;
class TzfKeyFieldDescriptor;

// The key field number that stands for the field owning the item (validations).
inline constexpr int32_t zfOwningFieldNumber = INT32_MIN;

enum class TzfNullBehaviour : uint8_t { nbTop, nbBottom, nbAsAscend, nbFilterNull, nbFilterNonNull };
using enum TzfNullBehaviour;

// The stored name of a null behaviour ("nbTop", ...), and back; false for a name that names none.
const char16_t* zfNullBehaviourName(TzfNullBehaviour aValue);
bool zfNullBehaviourFromName(UnicodeStringView aName, TzfNullBehaviour& aValue);

// Class reference of key fields, made with their field number.
class TzfKeyFieldDescriptorClassInfo : public TzfDictionaryItemClassInfo {
 public:
  using TCreateKeyField = TzfKeyFieldDescriptor* (*)(TzfPersistent* aParent, int32_t aFieldNumber);
  TzfKeyFieldDescriptorClassInfo(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                                 TCreateKeyField aCreate)
      : TzfDictionaryItemClassInfo(aName, aParent, aGetList, nullptr), CreateKeyField(aCreate) {}
  TCreateKeyField CreateKeyField;
};
using TzfKeyFieldDescriptorClass = const TzfKeyFieldDescriptorClassInfo*;

template <class T>
TzfKeyFieldDescriptor* zfNewKeyField(TzfPersistent* aParent, int32_t aFieldNumber) {
  return new T(aParent, aFieldNumber);
}

// ---- Keys ----

class TzfBaseKeyDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseKeyDescriptorException)
 public:
  explicit TzfBaseKeyDescriptor(TzfPersistent* aParent) : TzfDictionaryItem(aParent) {}
  ~TzfBaseKeyDescriptor() override;

  // True when the key fits the fields of aTable (a table descriptor, or any item whose related
  // fields descriptor is the table's).
  virtual bool IsValidForTable(TzfDictionaryItem& aTable);
  virtual int32_t GetKeyLength() = 0;
  virtual bool CanContainNulls() { return true; }

  // Replaces the key filter (CheckReadOnly first); the key owns it.
  void SetFilter(std::unique_ptr<TzfBaseFilterDescriptor> aFilter);

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;

  std::unique_ptr<TzfBaseFilterDescriptor> Filter;
};
using TzfKeyDescriptorClass = const TzfDictionaryItemClassInfo*;

class TzfRefKeyDescriptor : public TzfBaseKeyDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfRefKeyDescriptorException)
 public:
  explicit TzfRefKeyDescriptor(TzfPersistent* aParent) : TzfBaseKeyDescriptor(aParent) {}
  int32_t GetKeyLength() override { return 8; }
  bool CanContainNulls() override { return false; }
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
};

class TzfCompKeyDescriptor : public TzfBaseKeyDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfCompKeyDescriptorException)
 public:
  explicit TzfCompKeyDescriptor(TzfPersistent* aParent) : TzfBaseKeyDescriptor(aParent) {}
  ~TzfCompKeyDescriptor() override;

  // Appends (inserts) a key field of aClass (nullptr: DefaultKeyFieldClass) for the field.
  virtual TzfKeyFieldDescriptor* Add(int32_t aFieldNumber, TzfKeyFieldDescriptorClass aClass = nullptr);
  virtual TzfKeyFieldDescriptor* Insert(int32_t aInx, int32_t aFieldNumber, TzfKeyFieldDescriptorClass aClass = nullptr);
  virtual TzfKeyFieldDescriptorClass DefaultKeyFieldClass() const;
  // By field name: the related fields descriptor's number for it (-1 when unknown; no fields
  // descriptor: 8712).
  TzfKeyFieldDescriptor* Add(const UnicodeString& aFieldName, TzfKeyFieldDescriptorClass aClass = nullptr);
  TzfKeyFieldDescriptor* Insert(int32_t aInx, const UnicodeString& aFieldName,
                                TzfKeyFieldDescriptorClass aClass = nullptr);
  void Move(int32_t aFrom, int32_t aTo);
  void Delete(int32_t aInx);
  void Clear();
  TzfKeyFieldDescriptor* GetKeyField(int32_t aIndex) const;
  int32_t GetKeyFieldCount() const { return static_cast<int32_t>(ckdKeyFields.size()); }
  // Forgets the cached key length (a key field's length override changed).
  void ResetKeyLength() { ckdKeyLen = -1; }

  bool IsValidForTable(TzfDictionaryItem& aTable) override;
  int32_t GetKeyLength() override;
  bool CanContainNulls() override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  std::vector<std::unique_ptr<TzfKeyFieldDescriptor>> ckdKeyFields;
  int32_t ckdKeyLen = -1;

 protected:
  // The sum of the key fields' lengths (the null-flag bytes are the caller's).
  int32_t SumOfKeyFieldLengths() const;
  void CheckIndex(int32_t aIndex, int32_t aCount) const;
};

// A composite key whose fields must all be required: no null-flag bytes.
class TzfNoNullCompKeyDescriptor : public TzfCompKeyDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfNoNullCompKeyDescriptorException)
 public:
  explicit TzfNoNullCompKeyDescriptor(TzfPersistent* aParent) : TzfCompKeyDescriptor(aParent) {}
  int32_t GetKeyLength() override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
};

// ---- Key fields ----

class TzfKeyFieldDescriptor : public TzfLocalizedDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfKeyFieldDescriptorClassInfo, EzfKeyFieldDescriptorException)
 public:
  // Enrols for field change notifications unless aFieldNumber is zfOwningFieldNumber.
  TzfKeyFieldDescriptor(TzfPersistent* aParent, int32_t aFieldNumber);
  ~TzfKeyFieldDescriptor() override;

  virtual bool IsValidForTable(TzfDictionaryItem& aTable);
  virtual bool CanContainNulls();

  // The table field: the entry kfdFieldNumber of the related fields descriptor, or for
  // zfOwningFieldNumber the field up the tree; nullptr when there is none.
  TzfFieldDescriptor* GetField();
  // Characters of text the key takes (0 for other types).
  int32_t GetKeyChars();
  int32_t GetKeyLength();

  void SetFieldNumber(int32_t aValue);
  void SetDesc(const UnicodeString& aValue);
  void SetKeyFieldEngine(const UnicodeString& aValue);
  void SetAscend(bool aValue);
  void SetNullBehaviour(TzfNullBehaviour aValue);
  void SetOverrideLengthBytes(int32_t aValue);
  void SetOverrideLengthChars(int32_t aValue);

  TzfLocaleDescriptor* GetInheritedLocaleDescriptor() override;
  void FieldNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  int32_t kfdFieldNumber;
  UnicodeString kfdDesc;
  UnicodeString kfdKeyFieldEngine;
  bool kfdAscend = true;
  int32_t kfdOverrideLengthBytes = 0;
  int32_t kfdOverrideLengthChars = 0;
  TzfNullBehaviour kfdNullBehaviour = nbTop;

 protected:
  // The refusals of a writer for a client below 20000 that concern this key field.
  virtual void CheckOldClient() const;
};

class TzfTextKeyFieldDescriptor : public TzfKeyFieldDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfKeyFieldDescriptorClassInfo, EzfTextKeyFieldDescriptorException)
 public:
  TzfTextKeyFieldDescriptor(TzfPersistent* aParent, int32_t aFieldNumber) : TzfKeyFieldDescriptor(aParent, aFieldNumber) {}
  void SetIgnoreCase(bool aValue);
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  bool tkfIgnoreCase = false;
};

// Also stores its own locale settings in the form older clients read.
class TzfExtTextKeyFieldDescriptor : public TzfTextKeyFieldDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfKeyFieldDescriptorClassInfo, EzfExtTextKeyFieldDescriptorException)
 public:
  TzfExtTextKeyFieldDescriptor(TzfPersistent* aParent, int32_t aFieldNumber)
      : TzfTextKeyFieldDescriptor(aParent, aFieldNumber) {}
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;

 protected:
  void CheckOldClient() const override;
};

// Length in bytes that a key takes of a field of type aType, storage length aLength and aUnits
// units, under the two overrides (0 = none).
int32_t zfKeyFieldLength(TzfFieldType aType, int32_t aLength, int32_t aUnits, int32_t aOverrideBytes,
                         int32_t aOverrideChars);

// Registers the key and key field descriptor classes by name (unit start) and removes them.
rtl::TUnitInit& zfsdKeyDescriptorUnit();

}  // namespace zf
