// The fields descriptor: a table's ordered field list and the layout of its record buffer.
//
// Record buffer (the same bytes in memory and in a stored record before compression):
//
//   0 .. fsdLogRecLen-1              the fields in field order, packed with no gaps or alignment
//   fsdLogRecLen .. Align-1          0 to 3 filler bytes (zero in a buffer from InitRecord)
//   Align .. Align + 4*W - 1         null bitmap: W = (FieldCount + 31) div 32 little-endian 32-bit
//                                    words; field i is bit (i mod 32) of word (i div 32); set = NULL
//
// Align (fsdLogRecLenAlign) is fsdLogRecLen rounded up to 4, except in a dictionary of version 1,
// where the bitmap follows the fields directly; the record length is then still the rounded-up
// length plus the bitmap.
//
// Every operation that takes a field number checks it (9999 "Index out of bounds: %d") before it
// touches memory. Lengths read from a stream are checked after reading: every field must lie
// inside fsdLogRecLen and the bitmap after it, or the stream is refused with 15498.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "dictionary/zfsdFieldDescriptor.h"
#include "foundation/zfllList.h"

namespace zf {

class TzfFieldsValidationsDescriptor;
class TzfFieldsDescriptor;

// The registry level of validations over several fields (a unit above this one).
const TzfDictionaryItemClassInfo& zfFieldsValidationsDescriptorFamily();

// Field definitions and values of a record or key buffer, as filters and keys read them. Not
// reference counted.
class IzfFieldsSource {
 public:
  virtual bool GetFieldForFilter(int32_t aField, const char* aName, const uint8_t* aData, uint16_t& aType,
                                 uint16_t& aSize, bool& aIsNull, const uint8_t*& aValue, uint16_t& aCodePage) = 0;
  virtual rtl::Variant GetFieldAsVariant(const uint8_t* aData, int32_t aField) = 0;
  virtual bool GetSourceFlag() = 0;
  virtual int32_t GetFieldFromName(const UnicodeString& aName) = 0;
  virtual int32_t GetFieldCount() = 0;
  virtual void GetFieldInfo(int32_t aIndex, IzfFieldInfo*& aInfo) = 0;
  virtual TzfPersistent* GetOwnerCursor() = 0;
  virtual int32_t GetDataOffset() = 0;

 protected:
  ~IzfFieldsSource() = default;
};

using TzfFieldsDescriptorClass = const TzfDictionaryItemClassInfo*;

class TzfFieldsDescriptor : public TzfDictionaryItem, public IzfFieldsSource {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfFieldsDescriptorException)
 public:
  explicit TzfFieldsDescriptor(TzfPersistent* aParent) : TzfDictionaryItem(aParent) {}
  ~TzfFieldsDescriptor() override;

  TzfFieldDescriptor* Field(int32_t aField) const;  // range-checked

  // ---- Record buffers ----

  int32_t GetRecordLength();
  int32_t GetLogRecLenAlign() const { return fsdLogRecLenAlign; }
  // Zeroes the record and marks every field NULL; nothing for nullptr or no fields.
  void InitRecord(uint8_t* aData);
  bool IsRecordFieldNull(int32_t aField, const uint8_t* aData) const;
  // The bit without the buffer check (the field number is still checked).
  bool IsRecordFieldNullFast(int32_t aField, const uint8_t* aData) const;
  void GetRecordField(int32_t aField, const uint8_t* aData, bool& aIsNull, void* aValue) const;
  // aValue nullptr: NULL and zeroed; else the value and the bit cleared.
  void SetRecordField(int32_t aField, uint8_t* aData, const void* aValue) const;
  void SetRecordFieldNull(int32_t aField, uint8_t* aData, bool aIsNull) const;
  // The field's bytes; nullptr for a nullptr buffer or a NULL field.
  const uint8_t* GetRecordFieldForFilter(int32_t aField, const uint8_t* aData) const;
  // False, outputs untouched, for a bad field number; else type and length, and False with
  // aValue nullptr for a NULL field.
  bool GetRecordFieldForFilter(int32_t aField, const uint8_t* aData, TzfFieldType& aType, uint16_t& aSize,
                               const uint8_t*& aValue) const;
  // Empty or Null set the field NULL; otherwise the value is converted and stored and the bit
  // cleared. A failed conversion leaves the record (bit and bytes) as it was.
  void SetFieldAsVariant(uint8_t* aData, int32_t aField, const rtl::Variant& aValue);

  // ---- IzfFieldsSource ----

  // False for a bad field number; a ShortString gives its length byte (at most the field's
  // units) as the size and its characters as the value.
  bool GetFieldForFilter(int32_t aField, const char* aName, const uint8_t* aData, uint16_t& aType, uint16_t& aSize,
                         bool& aIsNull, const uint8_t*& aValue, uint16_t& aCodePage) override;
  rtl::Variant GetFieldAsVariant(const uint8_t* aData, int32_t aField) override;
  bool GetSourceFlag() override { return false; }
  int32_t GetFieldFromName(const UnicodeString& aName) override;
  int32_t GetFieldCount() override { return FieldCount; }
  void GetFieldInfo(int32_t aIndex, IzfFieldInfo*& aInfo) override { aInfo = Field(aIndex); }
  TzfPersistent* GetOwnerCursor() override { return nullptr; }
  int32_t GetDataOffset() override { return 0; }

  // ---- Field list ----

  TzfFieldDescriptor* AddField(const UnicodeString& aName, const UnicodeString& aDesc, TzfFieldType aType,
                               int32_t aUnits, int32_t aDecPl, bool aRequired, TzfFieldDescriptorClass aClass);
  TzfFieldDescriptor* InsertFieldAt(int32_t aInx, const UnicodeString& aName, const UnicodeString& aDesc,
                                    TzfFieldType aType, int32_t aUnits, int32_t aDecPl, bool aRequired,
                                    TzfFieldDescriptorClass aClass);
  void MoveField(int32_t aFrom, int32_t aTo);
  void RemoveField(int32_t aInx);
  virtual void Clear(bool aNotify);
  // The names in order, each with its field descriptor.
  void GetFields(std::vector<std::pair<UnicodeString, TzfFieldDescriptor*>>& aStrings) const;
  // For a name already lowered (A..Z only).
  int32_t GetFieldFromNameFast(const UnicodeString& aFieldName) const;
  bool HasAutoIncField(int32_t& aField) const;
  bool HasRecRevField(int32_t& aField) const;
  bool HasBlobFields(TzfList* aBlobFields) const;
  bool HasSameFields(const TzfFieldsDescriptor* aSource, TzfList* aBlobFields) const;
  void UpdateSetupAndOffsets();
  void UpdateLogRecLenAlign();

  TzfDictionaryItem* AddValidations(TzfDictionaryItemClass aClass);
  TzfDictionaryItem* EnsureValidations();
  void RemoveValidations();

  void AddFieldChangeNotify(TzfDictionaryItem* aItem);
  void RemoveFieldChangeNotify(TzfDictionaryItem* aItem);
  void fsdFieldChangeNotification(bool aBefore, int32_t aOldField, int32_t aNewField);

  void ActivateCache() override;
  void DeactivateCache() override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  std::unique_ptr<TzfDictionaryItem> fsdValidations;  // a TzfFieldsValidationsDescriptor
  int32_t fsdLogRecLen = 0;
  int32_t fsdLogRecLenAlign = 0;
  int32_t fsdCachedGetRecordLength = 0;
  std::vector<TzfDictionaryItem*> fsdFieldChangeNotifies;  // not owning, in registration order
  // The fields-level validations engine class, remembered by the first engine made for this
  // descriptor (cursors of a read-only dictionary on several threads may set it at once); nil
  // until then and again after the validations list is replaced or removed.
  std::atomic<const TzfRegisterableClass*> fsdCachedEngineClass{nullptr};
  std::vector<TzfFieldDescriptor*> fsdFieldHashList;
  std::vector<std::unique_ptr<TzfFieldDescriptor>> FieldDescriptor;
  int32_t FieldCount = 0;

  // After reading stored lengths: every field inside fsdLogRecLen, the bitmap after it, a sane
  // record length; else this descriptor's 15498.
  void CheckStoredLayout();

 private:
  void CheckRange(int32_t aField) const;
  // The dictionary's version (8712 without a dictionary).
  int32_t DictionaryVersion() const;
  // The bitmap offset after a change of the field list.
  void UpdateBitmapOffset();
  // Renumbers and re-offsets the fields from aFrom on, starting at aOffset.
  void Renumber(int32_t aFrom, int64_t aOffset);
  // The checked record length for the current lengths.
  int64_t ComputeRecordLength(int32_t aVersion) const;
};

// Registers the fields descriptor class.
rtl::TUnitInit& zfsdFieldsDescriptorUnit();

}  // namespace zf
