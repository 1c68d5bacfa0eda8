// Field descriptors and storage lengths.
//
// A field descriptor describes one column of a table: name, description, type, units and
// decimals, whether a value is required, whether clients see it, its place and storage length in
// the record buffer, and optionally a default value and validations. SetupField is the one rule
// that turns a type with the units and decimals a user asked for into normalised units and
// decimals and the bytes the field takes in a record; CheckValid insists that a stored field
// still agrees with it. Lengths are computed in 64-bit arithmetic; a length below 0 or above
// zfMaxRecordLength is refused, never wrapped.
//
// Default values and validations live in units above this one. The field holds them as items of
// their registry levels, whose class infos name the registries zfFamilyList<
// TzfBaseDefaultValueDescriptor> and zfFamilyList<TzfFieldValidationsDescriptor> and carry the
// generic constructor Create(aParent).
#pragma once
#include <array>
#include <cstdint>
#include <memory>

#include "dictionary/zfsdLocaleDescriptor.h"
#include "dictionary/zfsdTypes.h"
#include "platform/rtl/rtlVariant.h"

namespace zf {

class TzfBaseDefaultValueDescriptor;
class TzfFieldValidationsDescriptor;
class TzfFieldDescriptor;

// The largest record buffer (and so field) the dictionary describes: 1 GiB.
inline constexpr int64_t zfMaxRecordLength = 0x40000000;

// The type's enumeration name ("zftInt32"), as the dictionary stream stores it.
const char16_t* zfFieldTypeEnumName(TzfFieldType aType);
// The type of a stored enumeration name (case ignored); False when the name names no type.
bool zfFieldTypeFromEnumName(UnicodeStringView aName, TzfFieldType& aType);

// True when records of the one type can be taken as records of the other without conversion:
// within {Word32, AutoInc, RecRev}, {Currency, BCD, FmtBCD}, {DateTime, Interval} and the four
// BLOB types, and each type with itself.
extern const std::array<std::array<bool, zfFieldTypeCount>, zfFieldTypeCount> zfStorageCompatibleTypes;
inline bool zfIsStorageCompatible(TzfFieldType a, TzfFieldType b) {
  return zfStorageCompatibleTypes[static_cast<uint8_t>(a)][static_cast<uint8_t>(b)];
}

// The registry levels of default values and of a field's validations (lookup handles for the
// classes of those units).
const TzfDictionaryItemClassInfo& zfDefaultValueDescriptorFamily();
const TzfDictionaryItemClassInfo& zfFieldValidationsDescriptorFamily();

// Field information read by filters and key engines. Not reference counted: the field lives as
// long as its fields descriptor keeps it.
class IzfFieldInfo {
 public:
  virtual UnicodeString GetName() = 0;
  virtual TzfFieldType GetFieldType() = 0;
  virtual int32_t GetUnits() = 0;
  virtual int32_t GetDecPl() = 0;
  virtual TzfLocaleDescriptor* GetLocale() = 0;
  virtual uint16_t GetStorageCodePage() = 0;

 protected:
  ~IzfFieldInfo() = default;
};

// What a field asks of the table that owns it when it is checked: an auto-increment field needs
// the table's auto-increment descriptor and a BLOB field its BLOB descriptor (the table
// descriptor implements it and adds the default descriptor when it has none).
class IzfFieldStorageOwner {
 public:
  virtual void EnsureAutoIncDescriptor() = 0;
  virtual void EnsureBlobDescriptor() = 0;

 protected:
  ~IzfFieldStorageOwner() = default;
};

// Class info of field descriptors: the virtual constructor with the field's definition.
class TzfFieldDescriptorClassInfo : public TzfDictionaryItemClassInfo {
 public:
  using TCreateField = TzfFieldDescriptor* (*)(TzfPersistent* aParent, const UnicodeString& aName,
                                                const UnicodeString& aDesc, TzfFieldType aType, int32_t aUnits,
                                                int32_t aDecPl, bool aRequired);
  TzfFieldDescriptorClassInfo(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                              TCreateField aCreateField)
      : TzfDictionaryItemClassInfo(aName, aParent, aGetList, nullptr), CreateField(aCreateField) {}
  TCreateField CreateField;
};
using TzfFieldDescriptorClass = const TzfFieldDescriptorClassInfo*;

template <class T>
TzfFieldDescriptor* zfNewFieldDescriptor(TzfPersistent* aParent, const UnicodeString& aName, const UnicodeString& aDesc,
                                         TzfFieldType aType, int32_t aUnits, int32_t aDecPl, bool aRequired) {
  return new T(aParent, aName, aDesc, aType, aUnits, aDecPl, aRequired);
}

class TzfFieldDescriptor : public TzfLocalizedDictionaryItem, public IzfFieldInfo {
  ZF_DICTIONARY_ITEM_CLASS(TzfFieldDescriptorClassInfo, EzfFieldDescriptorException)
 public:
  // Validates the name (10038) and sets the field up.
  TzfFieldDescriptor(TzfPersistent* aParent, const UnicodeString& aName, const UnicodeString& aDesc,
                     TzfFieldType aType, int32_t aUnits, int32_t aDecPl, bool aRequired);
  ~TzfFieldDescriptor() override;

  // The storage rule: normalises units, decimals and the required flag for aType and gives the
  // length in bytes. Text fields (ShortString, NullString, WideString) asked with decimals above 0
  // are fixed-width and get decimals equal to their units; decimals 0 or below stay (variable
  // width). A negative length raises 10001 "Units must be > 0"; a length above zfMaxRecordLength
  // raises 10001 "Field length out of range: %d".
  static void SetupField(TzfFieldType aType, int32_t& aUnits, int32_t& aDecPl, bool& aRequired, int32_t& aLength);
  // SetupField on the field's own values.
  void UpdateSetup();
  // CheckReadOnly; 10038 for a bad name, 10009 when the fields descriptor has the name already.
  void ChangeName(const UnicodeString& aNewName);

  // CheckReadOnly; replaces the default value by a new one of aClass (nullptr: the constant
  // default value class).
  TzfDictionaryItem* AddDefaultValue(TzfDictionaryItemClass aClass);
  void RemoveDefaultValue();
  // CheckReadOnly; replaces the validations by new ones of aClass (nullptr: the base class).
  TzfDictionaryItem* AddValidations(TzfDictionaryItemClass aClass);
  TzfDictionaryItem* EnsureValidations();
  void RemoveValidations();

  // "[3] Price - FmtBCD(10,2)".
  UnicodeString ToString() const;
  // The native bytes at aData (nullptr: Null) as a Variant.
  rtl::Variant ValueToVariant(const uint8_t* aData);
  // aValue into the fdLength bytes at aData; Empty and Null zero them. When the conversion
  // fails the bytes are zeroed and the error passes on.
  void VariantToValue(uint8_t* aData, const rtl::Variant& aValue);

  bool FindRelatedDescriptorOfType(const TzfRegisterableClass& aType, TzfDictionaryItem*& aDescriptor,
                                   TzfDictionaryItem* aFrom = nullptr) override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  // IzfFieldInfo
  UnicodeString GetName() override { return fdName; }
  TzfFieldType GetFieldType() override { return fdType; }
  int32_t GetUnits() override { return fdUnits; }
  int32_t GetDecPl() override { return fdDecPl; }
  TzfLocaleDescriptor* GetLocale() override { return GetUsedLocaleDescriptor(); }
  uint16_t GetStorageCodePage() override { return GetUsedStorageCodePage(); }

  UnicodeString fdName;
  int32_t fdNumber = 0;
  UnicodeString fdNameLowerCase;
  TzfFieldDescriptor* fdSameHashNext = nullptr;
  UnicodeString fdDesc;
  TzfFieldType fdType;
  int32_t fdUnits;
  int32_t fdDecPl;
  int32_t fdOffset = 0;
  int32_t fdLength = 0;
  std::unique_ptr<TzfDictionaryItem> fdDefaultValue;  // a TzfBaseDefaultValueDescriptor
  std::unique_ptr<TzfDictionaryItem> fdValidations;   // a TzfFieldValidationsDescriptor
  bool fdRequired;
  bool fdNoClientAccess = false;

 private:
  void CheckName(const UnicodeString& aName) const;
};

// Registers the field descriptor class.
rtl::TUnitInit& zfsdFieldDescriptorUnit();

}  // namespace zf
