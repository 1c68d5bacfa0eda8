// Validation descriptors: rules a record must satisfy before it is stored.
//
// A field may own a list of field validations (minimum/maximum, no change, and CHECK constraints
// of an SQL layer); the fields descriptor may own a list of record-level validations (CHECK
// constraints). Each validation has a name unique in its list and the sides that enforce it.
// Minimum/maximum and no-change validations compare values through a key field descriptor whose
// number stands for the owning field. The engines are in zfsdValidationEngine.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "dictionary/zfsdDefaultValueDescriptor.h"
#include "dictionary/zfsdDictionaryItem.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "dictionary/zfsdStorageDescriptor.h"
#include "platform/rtl/rtlVariant.h"

namespace zf {

class TzfFieldDescriptor;

class TzfBaseFieldValidationDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfNamedDescriptorClassInfo, EzfBaseFieldValidationDescriptorException)
 public:
  // The name must be an identifier (10068) before anything else happens.
  TzfBaseFieldValidationDescriptor(TzfPersistent* aParent, const UnicodeString& aName);

  virtual TzfApplyAtSet GetApplyAt() const { return bvdApplyAt; }
  virtual void SetApplyAt(TzfApplyAtSet aValue);
  virtual TzfFieldTypeSet UnsupportedFieldTypes() const { return zfBlobFieldTypes; }

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  UnicodeString bvdName;
  TzfApplyAtSet bvdApplyAt{aaServer};
};
using TzfFieldValidationDescriptorClass = const TzfNamedDescriptorClassInfo*;

// Common part of the validations that compare values of their field through a key field: the
// key field (owned, numbered zfOwningFieldNumber), the unsupported types check and its stream.
class TzfKeyFieldValidationDescriptor : public TzfBaseFieldValidationDescriptor {
 public:
  using TzfBaseFieldValidationDescriptor::TzfBaseFieldValidationDescriptor;
  ~TzfKeyFieldValidationDescriptor() override;

  // Replaces the key field by one of aClass (nullptr: TzfKeyFieldDescriptor).
  TzfKeyFieldDescriptor* AddKeyField(TzfKeyFieldDescriptorClass aClass = nullptr);
  void RemoveKeyField();
  TzfKeyFieldDescriptor* KeyField() const { return vdKeyField.get(); }
  // The field that owns the validation (8712 when there is none).
  TzfFieldDescriptor& OwningField() const;

  void CheckValid(bool aForBuild) override;

 protected:
  void SaveKeyField(TzfWriter& aWriter, int32_t aClientVersion);
  void LoadKeyField(TzfReader& aReader);
  bool SameKeyField(const TzfKeyFieldValidationDescriptor& aOther) const;

  std::unique_ptr<TzfKeyFieldDescriptor> vdKeyField;
};

class TzfMinMaxValidationDescriptor : public TzfKeyFieldValidationDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfNamedDescriptorClassInfo, EzfMinMaxValidationDescriptorException)
 public:
  using TzfKeyFieldValidationDescriptor::TzfKeyFieldValidationDescriptor;

  // The bound as a Variant (Null when absent).
  rtl::Variant GetMinAsVariant() const;
  rtl::Variant GetMaxAsVariant() const;
  // Empty or Null remove the bound; other values become the field's native form (the bound is
  // absent when that fails, and the error passes on). A change like any other: 15500 on a
  // read-only dictionary.
  void SetMinAsVariant(const rtl::Variant& aValue);
  void SetMaxAsVariant(const rtl::Variant& aValue);

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  std::optional<std::vector<uint8_t>> mmvdMin;
  std::optional<std::vector<uint8_t>> mmvdMax;
  std::unique_ptr<TzfKeyFieldDescriptor>& mmvdKeyField = vdKeyField;

 private:
  rtl::Variant BoundAsVariant(const std::optional<std::vector<uint8_t>>& aBound) const;
  void SetBound(std::optional<std::vector<uint8_t>>& aBound, const rtl::Variant& aValue);
  void ReadBound(TzfReader& aReader, std::optional<std::vector<uint8_t>>& aBound);

 public:
  // 10002 when a bound no longer has the owning field's storage length (the field changed after
  // the bound was set): such a bound can be neither stored nor compared.
  void CheckBoundsFitField() const;
};

class TzfNoChangeValidationDescriptor : public TzfKeyFieldValidationDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfNamedDescriptorClassInfo, EzfNoChangeValidationDescriptorException)
 public:
  using TzfKeyFieldValidationDescriptor::TzfKeyFieldValidationDescriptor;

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  std::unique_ptr<TzfKeyFieldDescriptor>& ncvdKeyField = vdKeyField;
};

// Base of the record-level validations.
class TzfBaseFieldsValidationDescriptor : public TzfBaseFieldValidationDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfNamedDescriptorClassInfo, EzfBaseFieldValidationDescriptorException)
 public:
  using TzfBaseFieldValidationDescriptor::TzfBaseFieldValidationDescriptor;
};

// A CHECK constraint in SQL; only ever enforced by the server.
class TzfSqlCheckValidationDescriptor : public TzfBaseFieldsValidationDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfNamedDescriptorClassInfo, EzfSqlCheckValidationDescriptorException)
 public:
  using TzfBaseFieldsValidationDescriptor::TzfBaseFieldsValidationDescriptor;

  TzfApplyAtSet GetApplyAt() const override { return bvdApplyAt * TzfApplyAtSet{aaServer}; }
  void SetApplyAt(TzfApplyAtSet aValue) override;
  void SetConstraint(const UnicodeString& aValue);
  void SetErrorMessage(const UnicodeString& aValue);

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  UnicodeString scvdConstraint;
  UnicodeString scvdErrorMessage;
};

// The validations of one field.
class TzfFieldValidationsDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfFieldValidationsDescriptorException)
 public:
  explicit TzfFieldValidationsDescriptor(TzfPersistent* aParent) : TzfDictionaryItem(aParent) {}
  ~TzfFieldValidationsDescriptor() override;

  // The class every member must descend from.
  virtual TzfFieldValidationDescriptorClass ValidationClass() const;

  TzfBaseFieldValidationDescriptor* AddValidation(const UnicodeString& aName,
                                                  TzfFieldValidationDescriptorClass aClass = nullptr);
  void RemoveValidation(int32_t aInx);
  void RemoveValidation(const UnicodeString& aName);
  int32_t GetValidationDescriptorFromName(const UnicodeString& aName) const;
  void Clear();
  int32_t ValidationCount() const { return static_cast<int32_t>(ValidationDescriptor.size()); }

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  std::vector<std::unique_ptr<TzfBaseFieldValidationDescriptor>> ValidationDescriptor;
};
using TzfFieldValidationsDescriptorClass = const TzfDictionaryItemClassInfo*;

// The record-level validations of a fields descriptor.
class TzfFieldsValidationsDescriptor : public TzfFieldValidationsDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfFieldValidationsDescriptorException)
 public:
  using TzfFieldValidationsDescriptor::TzfFieldValidationsDescriptor;
  TzfFieldValidationDescriptorClass ValidationClass() const override;
};

rtl::TUnitInit& zfsdValidationDescriptorUnit();

}  // namespace zf
