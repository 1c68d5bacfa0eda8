// Field and index definitions: what a dataset's structure is (TFieldDefs) and which indexes it
// offers (TIndexDefs), independent of the field objects that show the values. Both collections
// carry an up-to-date flag; Update asks the owning dataset to rebuild them while the flag is off.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/db/dbTypes.h"

namespace zf::db {

class TDataSet;
class TField;
class TFieldDefs;

// The names of a field list "A;B;C": each name trimmed, a final ";" ignored. An empty name in
// between is kept (looking it up fails, as it should).
std::vector<UnicodeString> ExtractFieldNames(rtl::UnicodeStringView aFields);

class TFieldDef {
 public:
  TFieldDef(TFieldDefs* aCollection, int32_t aFieldNo) : FCollection(aCollection), FFieldNo(aFieldNo) {}

  const UnicodeString& Name() const { return FName; }
  void SetName(const UnicodeString& aName) { FName = aName; }
  TFieldType DataType() const { return FDataType; }
  void SetDataType(TFieldType aType) { FDataType = aType; }
  // Characters for text, bytes for byte arrays, decimals for BCD; 0 for fixed-size types.
  int32_t Size() const { return FSize; }
  void SetSize(int32_t aSize) { FSize = aSize; }
  int32_t Precision() const { return FPrecision; }
  void SetPrecision(int32_t aPrecision) { FPrecision = aPrecision; }
  TFieldAttributes Attributes() const { return FAttributes; }
  void SetAttributes(TFieldAttributes aAttributes) { FAttributes = aAttributes; }
  // Required is the attribute faRequired.
  bool Required() const { return FAttributes.Contains(faRequired); }
  void SetRequired(bool aValue) { aValue ? FAttributes.Include(faRequired) : FAttributes.Exclude(faRequired); }
  // 1-based position of the field in the dataset's records.
  int32_t FieldNo() const { return FFieldNo; }
  void SetFieldNo(int32_t aFieldNo) { FFieldNo = aFieldNo; }
  // A value the dataset itself computes per record (the field becomes fkInternalCalc).
  bool InternalCalcField() const { return FInternalCalcField; }
  void SetInternalCalcField(bool aValue) { FInternalCalcField = aValue; }
  TFieldDefs* Collection() const { return FCollection; }

  void Assign(const TFieldDef& aSource);
  // Creates the field object of this definition in aDataSet (which owns it): the class the
  // dataset chooses for the type, name, size, precision, field number, required, read-only
  // (faReadonly) and kind. Answers the new field.
  TField* CreateField(TDataSet& aDataSet) const;

 private:
  TFieldDefs* FCollection;
  UnicodeString FName;
  TFieldType FDataType = ftUnknown;
  int32_t FSize = 0;
  int32_t FPrecision = 0;
  TFieldAttributes FAttributes;
  int32_t FFieldNo;
  bool FInternalCalcField = false;
};

class TFieldDefs {
 public:
  explicit TFieldDefs(TDataSet* aDataSet) : FDataSet(aDataSet) {}
  TFieldDefs(const TFieldDefs&) = delete;
  TFieldDefs& operator=(const TFieldDefs&) = delete;

  TDataSet* DataSet() const { return FDataSet; }
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  // A bad index raises EDatabaseError "Field index out of range".
  TFieldDef& Items(int32_t aIndex) const;
  TFieldDef& operator[](int32_t aIndex) const { return Items(aIndex); }

  // Appends an empty definition with the next field number (Count + 1).
  TFieldDef& AddFieldDef();
  TFieldDef& Add(const UnicodeString& aName, TFieldType aType, int32_t aSize = 0, bool aRequired = false);
  void Clear() { FItems.clear(); }
  // Position of the definition of that name (case ignored), -1 when none.
  int32_t IndexOf(rtl::UnicodeStringView aName) const;
  // The definition of that name; raises "Field '%s' not found" when none.
  TFieldDef& Find(rtl::UnicodeStringView aName) const;
  void Assign(const TFieldDefs& aSource);

  // The up-to-date flag: Update has the dataset rebuild the definitions while it is off.
  bool Updated() const { return FUpdated; }
  void SetUpdated(bool aValue) { FUpdated = aValue; }
  void Update();
  // Update bracket around a rebuild.
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate() { --FUpdateCount; }
  bool IsUpdating() const { return FUpdateCount > 0; }

 private:
  TDataSet* FDataSet;
  std::vector<std::unique_ptr<TFieldDef>> FItems;
  bool FUpdated = false;
  int32_t FUpdateCount = 0;
};

class TIndexDef {
 public:
  const UnicodeString& Name() const { return FName; }
  void SetName(const UnicodeString& aName) { FName = aName; }
  // Field lists "A;B": the key fields, those compared without regard to case, those descending.
  const UnicodeString& Fields() const { return FFields; }
  void SetFields(const UnicodeString& aFields) { FFields = aFields; }
  const UnicodeString& CaseInsFields() const { return FCaseInsFields; }
  void SetCaseInsFields(const UnicodeString& aFields) { FCaseInsFields = aFields; }
  const UnicodeString& DescFields() const { return FDescFields; }
  void SetDescFields(const UnicodeString& aFields) { FDescFields = aFields; }
  TIndexOptions Options() const { return FOptions; }
  void SetOptions(TIndexOptions aOptions) { FOptions = aOptions; }
  void Assign(const TIndexDef& aSource) { *this = aSource; }

 private:
  UnicodeString FName;
  UnicodeString FFields;
  UnicodeString FCaseInsFields;
  UnicodeString FDescFields;
  TIndexOptions FOptions;
};

class TIndexDefs {
 public:
  explicit TIndexDefs(TDataSet* aDataSet) : FDataSet(aDataSet) {}
  TIndexDefs(const TIndexDefs&) = delete;
  TIndexDefs& operator=(const TIndexDefs&) = delete;

  TDataSet* DataSet() const { return FDataSet; }
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  TIndexDef& Items(int32_t aIndex) const;  // a bad index raises "Field index out of range"
  TIndexDef& operator[](int32_t aIndex) const { return Items(aIndex); }

  TIndexDef& AddIndexDef();
  TIndexDef& Add(const UnicodeString& aName, const UnicodeString& aFields, TIndexOptions aOptions);
  void Clear() { FItems.clear(); }
  int32_t IndexOf(rtl::UnicodeStringView aName) const;  // case ignored; -1 when none
  TIndexDef& Find(rtl::UnicodeStringView aName) const;  // raises "Index '%s' not found"
  // The index whose key fields are exactly aFields (names compared without regard to case), else
  // the first whose key fields begin with them; with aCaseInsensitive only indexes marked
  // ixCaseInsensitive count. nullptr when none fits.
  TIndexDef* GetIndexForFields(rtl::UnicodeStringView aFields, bool aCaseInsensitive) const;
  // The same over every index; raises "No index for fields '%s'" when none fits.
  TIndexDef& FindIndexForFields(rtl::UnicodeStringView aFields) const;
  void Assign(const TIndexDefs& aSource);

  // The up-to-date flag; Update calls the dataset's UpdateIndexDefs while it is off.
  bool Updated() const { return FUpdated; }
  void SetUpdated(bool aValue) { FUpdated = aValue; }
  void Update();
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate() { --FUpdateCount; }
  bool IsUpdating() const { return FUpdateCount > 0; }

 private:
  TDataSet* FDataSet;
  std::vector<std::unique_ptr<TIndexDef>> FItems;
  bool FUpdated = false;
  int32_t FUpdateCount = 0;
};

}  // namespace zf::db
