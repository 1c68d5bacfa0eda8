// Field objects: TField, the value of one column of the active record of a dataset, read and
// written through the dataset's field-data hooks in the framework's native buffer forms, and its
// data field classes.
//
// Native buffer forms (what GetData fills and SetData takes, DataSize bytes):
//   ftString, ftFixedChar, ftGuid  Size 8-bit characters in the system ANSI code page and a 0 byte
//   ftWideString                   Size UTF-16 units and a 0 unit
//   ftBoolean                      16 bits, 0 = False, anything else True
//   ftShortint ftByte ftSmallint ftWord ftInteger ftAutoInc ftLongWord ftLargeint
//                                  the integer of that width, host order
//   ftFloat, ftCurrency            8-byte double;   ftExtended  the 10-byte extended value
//   ftDate                         32-bit day number, 1 = 0001-01-01
//   ftTime                         32-bit milliseconds since midnight
//   ftDateTime                     8-byte double, milliseconds since 0001-01-01 00:00
//   ftBytes                        Size bytes
//   ftBCD, ftFMTBcd                the 34-byte TBcd
//   BLOB kinds                     none: content moves through the dataset's BLOB streams
// Conversions that cannot be made raise EDatabaseError ("Cannot access field '%s' as type %s",
// "Invalid value for field '%s'", or the range text for integers out of range).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/db/dbTypes.h"
#include "platform/rtl/rtlAnsiString.h"
#include "platform/rtl/rtlDateTime.h"
#include "platform/rtl/rtlNumber.h"
#include "platform/rtl/rtlStream.h"
#include "platform/rtl/rtlVariant.h"

namespace zf::db {

using rtl::Variant;
class TDataSet;

class TField {
 public:
  explicit TField(TFieldType aDataType = ftUnknown, int32_t aSize = 0);
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;
  virtual ~TField() = default;

  virtual const char16_t* ClassName() const { return u"TField"; }

  // The dataset that shows the field (set when the dataset's field list takes it).
  TDataSet* DataSet() const { return FDataSet; }
  const UnicodeString& FieldName() const { return FFieldName; }
  void SetFieldName(const UnicodeString& aName) { FFieldName = aName; }
  const UnicodeString& FullName() const { return FFieldName; }
  // The display label, or the field name without one.
  const UnicodeString& DisplayName() const { return FDisplayLabel.empty() ? FFieldName : FDisplayLabel; }
  void SetDisplayLabel(const UnicodeString& aLabel) { FDisplayLabel = aLabel; }
  // 1-based field number of a data field; 0 for calculated and lookup fields.
  int32_t FieldNo() const { return FFieldNo; }
  void SetFieldNo(int32_t aFieldNo) { FFieldNo = aFieldNo; }
  TFieldKind FieldKind() const { return FFieldKind; }
  void SetFieldKind(TFieldKind aKind) { FFieldKind = aKind; }
  bool Calculated() const { return FFieldKind == fkCalculated; }
  TFieldType DataType() const { return FDataType; }
  int32_t Size() const { return FSize; }
  virtual void SetSize(int32_t aSize) { FSize = aSize; }
  // Bytes of the value in its native buffer form.
  virtual int32_t DataSize() const { return 0; }
  // Offset of a calculated field's flag byte in the calculated-fields area (set when bound).
  int32_t Offset() const { return FOffset; }
  void SetOffset(int32_t aOffset) { FOffset = aOffset; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool aValue) { FReadOnly = aValue; }
  bool Required() const { return FRequired; }
  void SetRequired(bool aValue) { FRequired = aValue; }
  virtual bool IsBlob() const { return false; }
  // Whether the field belongs to the dataset's active index.
  bool IsIndexField() const;

  // Called by the dataset when it binds (true) or unbinds (false) its fields.
  virtual void Bind(bool aBinding) {}

  // Native access: GetData answers whether the field has a value and, with a buffer, copies it
  // there (DataSize bytes); SetData writes it, nullptr writing NULL. Both go through the dataset
  // (a field without one raises "Field '%s' has no dataset").
  bool GetData(void* aBuffer) const;
  void SetData(const void* aBuffer);
  virtual bool IsNull() const { return !GetData(nullptr); }
  virtual void Clear() { SetData(nullptr); }

  // Typed access. A NULL value reads as 0, "", False or an empty array; Empty or Null variants
  // clear the field.
  virtual UnicodeString GetAsString() const;
  virtual UnicodeString GetAsWideString() const { return GetAsString(); }
  virtual rtl::AnsiString GetAsAnsiString() const;
  virtual int32_t GetAsInteger() const;
  virtual int64_t GetAsLargeInt() const;
  virtual double GetAsFloat() const;
  virtual long double GetAsExtended() const { return GetAsFloat(); }
  virtual rtl::Currency GetAsCurrency() const;
  virtual bool GetAsBoolean() const;
  virtual rtl::TDateTime GetAsDateTime() const;
  virtual rtl::TBcd GetAsBCD() const;
  virtual std::vector<uint8_t> GetAsBytes() const;
  virtual Variant GetAsVariant() const;

  virtual void SetAsString(const UnicodeString& aValue) { SetVarValue(Variant(aValue)); }
  virtual void SetAsWideString(const UnicodeString& aValue) { SetAsString(aValue); }
  virtual void SetAsAnsiString(const rtl::AnsiString& aValue);
  virtual void SetAsInteger(int32_t aValue) { SetVarValue(Variant(aValue)); }
  virtual void SetAsLargeInt(int64_t aValue) { SetVarValue(Variant(aValue)); }
  virtual void SetAsFloat(double aValue) { SetVarValue(Variant(aValue)); }
  virtual void SetAsExtended(long double aValue) { SetAsFloat(static_cast<double>(aValue)); }
  virtual void SetAsCurrency(rtl::Currency aValue) { SetVarValue(Variant(aValue)); }
  virtual void SetAsBoolean(bool aValue) { SetVarValue(Variant(aValue)); }
  virtual void SetAsDateTime(rtl::TDateTime aValue) { SetVarValue(Variant::FromDate(aValue)); }
  virtual void SetAsBCD(const rtl::TBcd& aValue) { SetVarValue(Variant(aValue)); }
  virtual void SetAsBytes(const std::vector<uint8_t>& aValue) { SetVarValue(Variant::FromBytes(aValue)); }
  void SetAsVariant(const Variant& aValue);

  UnicodeString AsString() const { return GetAsString(); }
  UnicodeString AsWideString() const { return GetAsWideString(); }
  int32_t AsInteger() const { return GetAsInteger(); }
  int64_t AsLargeInt() const { return GetAsLargeInt(); }
  double AsFloat() const { return GetAsFloat(); }
  bool AsBoolean() const { return GetAsBoolean(); }
  Variant AsVariant() const { return GetAsVariant(); }
  Variant Value() const { return GetAsVariant(); }
  void SetValue(const Variant& aValue) { SetAsVariant(aValue); }

  // Copies aSource's value: nullptr or a NULL source clears the field; a source of the same kind
  // copies the value exactly (BLOB kinds copy the bytes through the two datasets' BLOB streams);
  // any other source goes through its Variant value.
  virtual void Assign(const TField* aSource);

  // Runs OnValidate with aBuffer (nullptr = NULL) as the field's value while it runs.
  void Validate(const void* aBuffer);
  std::function<void(TField&)> OnValidate;

  // Used by the dataset's field list.
  void SetDataSet(TDataSet* aDataSet) { FDataSet = aDataSet; }

 protected:
  // Writes a non-null Variant value (SetAsVariant has handled Empty and Null).
  virtual void SetVarValue(const Variant& aValue);
  // Same kind as aSource for an exact copy: the same data type and native size.
  virtual bool SameKind(const TField& aSource) const;
  virtual void CopyValue(const TField& aSource);

  [[noreturn]] void AccessError(const char16_t* aTypeName) const;
  [[noreturn]] void InvalidValue() const;
  void SetDataType(TFieldType aType) { FDataType = aType; }

 private:
  TDataSet* FDataSet = nullptr;
  UnicodeString FFieldName;
  UnicodeString FDisplayLabel;
  int32_t FFieldNo = 0;
  TFieldKind FFieldKind = fkData;
  TFieldType FDataType;
  int32_t FSize;
  int32_t FOffset = 0;
  bool FReadOnly = false;
  bool FRequired = false;
  bool FValidating = false;
  const void* FValidateBuffer = nullptr;
};

// ---- text ----------------------------------------------------------------------------------------

class TStringField : public TField {
 public:
  explicit TStringField(TFieldType aType = ftString, int32_t aSize = 20) : TField(aType, aSize) {}
  const char16_t* ClassName() const override { return u"TStringField"; }
  int32_t DataSize() const override { return Size() + 1; }
  bool FixedChar() const { return DataType() == ftFixedChar; }
  // Whether the dataset translates the text between its storage and the client code page.
  bool Transliterate() const { return FTransliterate; }
  void SetTransliterate(bool aValue) { FTransliterate = aValue; }

  UnicodeString GetAsString() const override;
  rtl::AnsiString GetAsAnsiString() const override;
  Variant GetAsVariant() const override;
  void SetAsString(const UnicodeString& aValue) override;
  // Bytes in another code page are converted; the text is cut to Size bytes.
  void SetAsAnsiString(const rtl::AnsiString& aValue) override;

 protected:
  void SetVarValue(const Variant& aValue) override;
  bool SameKind(const TField& aSource) const override;

 private:
  bool FTransliterate = true;
};

class TGuidField : public TStringField {
 public:
  TGuidField() : TStringField(ftGuid, 38) {}
  const char16_t* ClassName() const override { return u"TGuidField"; }
};

class TWideStringField : public TField {
 public:
  explicit TWideStringField(int32_t aSize = 20) : TField(ftWideString, aSize) {}
  const char16_t* ClassName() const override { return u"TWideStringField"; }
  int32_t DataSize() const override { return (Size() + 1) * 2; }
  UnicodeString GetAsString() const override;
  Variant GetAsVariant() const override;
  void SetAsString(const UnicodeString& aValue) override;  // cut to Size units

 protected:
  void SetVarValue(const Variant& aValue) override;
};

// ---- numbers -------------------------------------------------------------------------------------

class TNumericField : public TField {
 public:
  using TField::TField;
  const char16_t* ClassName() const override { return u"TNumericField"; }
  // Empty text clears a numeric field.
  void SetAsString(const UnicodeString& aValue) override;
};

// Integers of up to 32 bits: ftInteger, ftSmallint, ftShortint, ftWord, ftByte, ftAutoInc. A value
// outside the type's range is refused with the range text.
class TIntegerField : public TNumericField {
 public:
  TIntegerField() : TIntegerField(ftInteger) {}
  const char16_t* ClassName() const override { return u"TIntegerField"; }
  int32_t DataSize() const override;
  UnicodeString GetAsString() const override;
  int32_t GetAsInteger() const override;
  int64_t GetAsLargeInt() const override;
  double GetAsFloat() const override;
  Variant GetAsVariant() const override;
  void SetAsInteger(int32_t aValue) override { SetAsLargeInt(aValue); }
  void SetAsLargeInt(int64_t aValue) override;

 protected:
  explicit TIntegerField(TFieldType aType);
  void SetVarValue(const Variant& aValue) override;

 private:
  bool ReadValue(int64_t& aValue) const;
  int64_t FMin;
  int64_t FMax;
};

class TSmallintField : public TIntegerField {
 public:
  TSmallintField() : TIntegerField(ftSmallint) {}
  const char16_t* ClassName() const override { return u"TSmallintField"; }
};
class TShortintField : public TIntegerField {
 public:
  TShortintField() : TIntegerField(ftShortint) {}
  const char16_t* ClassName() const override { return u"TShortintField"; }
};
class TWordField : public TIntegerField {
 public:
  TWordField() : TIntegerField(ftWord) {}
  const char16_t* ClassName() const override { return u"TWordField"; }
};
class TByteField : public TIntegerField {
 public:
  TByteField() : TIntegerField(ftByte) {}
  const char16_t* ClassName() const override { return u"TByteField"; }
};
class TAutoIncField : public TIntegerField {
 public:
  TAutoIncField() : TIntegerField(ftAutoInc) {}
  const char16_t* ClassName() const override { return u"TAutoIncField"; }
};

// Unsigned 32-bit integers (ftLongWord).
class TLongWordField : public TNumericField {
 public:
  TLongWordField() : TNumericField(ftLongWord, 0) {}
  const char16_t* ClassName() const override { return u"TLongWordField"; }
  int32_t DataSize() const override { return 4; }
  UnicodeString GetAsString() const override;
  int64_t GetAsLargeInt() const override;
  int32_t GetAsInteger() const override;
  double GetAsFloat() const override { return static_cast<double>(GetAsLargeInt()); }
  Variant GetAsVariant() const override;
  void SetAsInteger(int32_t aValue) override { SetAsLargeInt(aValue); }
  void SetAsLargeInt(int64_t aValue) override;

 protected:
  explicit TLongWordField(TFieldType aType) : TNumericField(aType, 0) {}
  void SetVarValue(const Variant& aValue) override;
};

// An auto-increment value held as an unsigned 32-bit integer (ftAutoInc).
class TUnsignedAutoIncField : public TLongWordField {
 public:
  TUnsignedAutoIncField() : TLongWordField(ftAutoInc) {}
  const char16_t* ClassName() const override { return u"TUnsignedAutoIncField"; }
};

class TLargeintField : public TNumericField {
 public:
  TLargeintField() : TNumericField(ftLargeint, 0) {}
  const char16_t* ClassName() const override { return u"TLargeintField"; }
  int32_t DataSize() const override { return 8; }
  UnicodeString GetAsString() const override;
  int64_t GetAsLargeInt() const override;
  int32_t GetAsInteger() const override;
  double GetAsFloat() const override { return static_cast<double>(GetAsLargeInt()); }
  Variant GetAsVariant() const override;
  void SetAsInteger(int32_t aValue) override { SetAsLargeInt(aValue); }
  void SetAsLargeInt(int64_t aValue) override;

 protected:
  void SetVarValue(const Variant& aValue) override;
};

// 8-byte reals (ftFloat); TCurrencyField shows the same form as money (ftCurrency).
class TFloatField : public TNumericField {
 public:
  TFloatField() : TNumericField(ftFloat, 0) {}
  const char16_t* ClassName() const override { return u"TFloatField"; }
  int32_t DataSize() const override { return 8; }
  UnicodeString GetAsString() const override;
  double GetAsFloat() const override;
  rtl::Currency GetAsCurrency() const override;
  Variant GetAsVariant() const override;
  void SetAsFloat(double aValue) override;
  void SetAsCurrency(rtl::Currency aValue) override { SetAsFloat(static_cast<double>(rtl::CurrencyToFloat(aValue))); }

 protected:
  explicit TFloatField(TFieldType aType) : TNumericField(aType, 0) {}
  void SetVarValue(const Variant& aValue) override;
};

class TCurrencyField : public TFloatField {
 public:
  TCurrencyField() : TFloatField(ftCurrency) {}
  const char16_t* ClassName() const override { return u"TCurrencyField"; }
  Variant GetAsVariant() const override;
};

// The 10-byte extended real (ftExtended).
class TExtendedField : public TNumericField {
 public:
  TExtendedField() : TNumericField(ftExtended, 0) {}
  const char16_t* ClassName() const override { return u"TExtendedField"; }
  int32_t DataSize() const override { return static_cast<int32_t>(rtl::ExtendedSize); }
  UnicodeString GetAsString() const override;
  double GetAsFloat() const override { return static_cast<double>(GetAsExtended()); }
  long double GetAsExtended() const override;
  Variant GetAsVariant() const override;
  void SetAsFloat(double aValue) override { SetAsExtended(aValue); }
  void SetAsExtended(long double aValue) override;

 protected:
  void SetVarValue(const Variant& aValue) override;
};

// Packed decimals held as Currency (ftBCD): Size is the number of decimals, Precision the digits.
class TBCDField : public TNumericField {
 public:
  TBCDField() : TNumericField(ftBCD, 4) {}
  const char16_t* ClassName() const override { return u"TBCDField"; }
  int32_t DataSize() const override { return static_cast<int32_t>(sizeof(rtl::TBcd)); }
  int32_t Precision() const { return FPrecision; }
  void SetPrecision(int32_t aValue) { FPrecision = aValue; }
  UnicodeString GetAsString() const override;
  double GetAsFloat() const override;
  rtl::Currency GetAsCurrency() const override;
  rtl::TBcd GetAsBCD() const override;
  Variant GetAsVariant() const override;
  void SetAsCurrency(rtl::Currency aValue) override;
  void SetAsBCD(const rtl::TBcd& aValue) override;

 protected:
  void SetVarValue(const Variant& aValue) override;

 private:
  int32_t FPrecision = 0;
};

// Packed decimals of any precision (ftFMTBcd).
class TFMTBCDField : public TNumericField {
 public:
  TFMTBCDField() : TNumericField(ftFMTBcd, 8) {}
  const char16_t* ClassName() const override { return u"TFMTBCDField"; }
  int32_t DataSize() const override { return static_cast<int32_t>(sizeof(rtl::TBcd)); }
  int32_t Precision() const { return FPrecision; }
  void SetPrecision(int32_t aValue) { FPrecision = aValue; }
  UnicodeString GetAsString() const override;
  double GetAsFloat() const override;
  rtl::Currency GetAsCurrency() const override;
  rtl::TBcd GetAsBCD() const override;
  Variant GetAsVariant() const override;
  void SetAsBCD(const rtl::TBcd& aValue) override;
  void SetAsString(const UnicodeString& aValue) override;

 protected:
  void SetVarValue(const Variant& aValue) override;

 private:
  int32_t FPrecision = 0;
};

class TBooleanField : public TField {
 public:
  TBooleanField() : TField(ftBoolean, 0) {}
  const char16_t* ClassName() const override { return u"TBooleanField"; }
  int32_t DataSize() const override { return 2; }
  UnicodeString GetAsString() const override;  // "True" / "False", "" for NULL
  bool GetAsBoolean() const override;
  Variant GetAsVariant() const override;
  void SetAsBoolean(bool aValue) override;
  void SetAsString(const UnicodeString& aValue) override;

 protected:
  void SetVarValue(const Variant& aValue) override;
};

// ---- dates and times -----------------------------------------------------------------------------

// ftDateTime; TDateField (ftDate) and TTimeField (ftTime) keep only their part of the value. A
// stored value that is no date or time raises EConvertError when read.
class TDateTimeField : public TField {
 public:
  TDateTimeField() : TField(ftDateTime, 0) {}
  const char16_t* ClassName() const override { return u"TDateTimeField"; }
  int32_t DataSize() const override { return DataType() == ftDateTime ? 8 : 4; }
  UnicodeString GetAsString() const override;
  double GetAsFloat() const override { return GetAsDateTime(); }
  rtl::TDateTime GetAsDateTime() const override;
  Variant GetAsVariant() const override;
  void SetAsDateTime(rtl::TDateTime aValue) override;
  void SetAsFloat(double aValue) override { SetAsDateTime(aValue); }
  void SetAsString(const UnicodeString& aValue) override;

 protected:
  explicit TDateTimeField(TFieldType aType) : TField(aType, 0) {}
  void SetVarValue(const Variant& aValue) override;
};

class TDateField : public TDateTimeField {
 public:
  TDateField() : TDateTimeField(ftDate) {}
  const char16_t* ClassName() const override { return u"TDateField"; }
};

class TTimeField : public TDateTimeField {
 public:
  TTimeField() : TDateTimeField(ftTime) {}
  const char16_t* ClassName() const override { return u"TTimeField"; }
};

// ---- bytes and BLOBs -----------------------------------------------------------------------------

// Size bytes (ftBytes); shorter values are filled with zeros, longer ones refused.
class TBytesField : public TField {
 public:
  explicit TBytesField(int32_t aSize = 16) : TField(ftBytes, aSize) {}
  const char16_t* ClassName() const override { return u"TBytesField"; }
  int32_t DataSize() const override { return Size(); }
  std::vector<uint8_t> GetAsBytes() const override;
  Variant GetAsVariant() const override;
  UnicodeString GetAsString() const override;  // the bytes as 8-bit text
  void SetAsBytes(const std::vector<uint8_t>& aValue) override;

 protected:
  void SetVarValue(const Variant& aValue) override;
};

// BLOB content (ftBlob), reached through the dataset's BLOB streams. Reading a BLOB that delivers
// fewer bytes than its length promised raises the stream's read error.
class TBlobField : public TField {
 public:
  TBlobField() : TBlobField(ftBlob) {}
  const char16_t* ClassName() const override { return u"TBlobField"; }
  bool IsBlob() const override { return true; }
  // Set when the content was written since the record was read (the dataset clears it).
  bool Modified() const { return FModified; }
  void SetModified(bool aValue) { FModified = aValue; }
  bool Transliterate() const { return FTransliterate; }
  void SetTransliterate(bool aValue) { FTransliterate = aValue; }

  int64_t BlobSize() const;
  void LoadFromStream(rtl::TStream& aStream);  // from aStream's position to its end
  void SaveToStream(rtl::TStream& aStream) const;

  std::vector<uint8_t> GetAsBytes() const override;
  rtl::AnsiString GetAsAnsiString() const override;
  UnicodeString GetAsString() const override;
  Variant GetAsVariant() const override;  // an array of bytes
  void SetAsBytes(const std::vector<uint8_t>& aValue) override;
  void SetAsAnsiString(const rtl::AnsiString& aValue) override;
  void SetAsString(const UnicodeString& aValue) override;

 protected:
  explicit TBlobField(TFieldType aType) : TField(aType, 0) {}
  void SetVarValue(const Variant& aValue) override;
  bool SameKind(const TField& aSource) const override;
  void CopyValue(const TField& aSource) override;

 private:
  bool FModified = false;
  bool FTransliterate = true;
};

// Text in the system ANSI code page (ftMemo).
class TMemoField : public TBlobField {
 public:
  TMemoField() : TBlobField(ftMemo) {}
  const char16_t* ClassName() const override { return u"TMemoField"; }
  Variant GetAsVariant() const override;  // a string

 protected:
  void SetVarValue(const Variant& aValue) override;
};

// UTF-16LE text (ftWideMemo); an odd last byte is no character and is dropped.
class TWideMemoField : public TBlobField {
 public:
  TWideMemoField() : TBlobField(ftWideMemo) {}
  const char16_t* ClassName() const override { return u"TWideMemoField"; }
  UnicodeString GetAsString() const override;
  rtl::AnsiString GetAsAnsiString() const override;
  Variant GetAsVariant() const override;
  void SetAsString(const UnicodeString& aValue) override;
  void SetAsAnsiString(const rtl::AnsiString& aValue) override;

 protected:
  void SetVarValue(const Variant& aValue) override;
};

class TGraphicField : public TBlobField {
 public:
  TGraphicField() : TBlobField(ftGraphic) {}
  const char16_t* ClassName() const override { return u"TGraphicField"; }
};

// A field whose value is a Variant (ftVariant). The framework keeps no variant values in record
// buffers: descendants answer their value (the base reads NULL and refuses writes).
class TVariantField : public TField {
 public:
  TVariantField() : TField(ftVariant, 0) {}
  const char16_t* ClassName() const override { return u"TVariantField"; }
  UnicodeString GetAsString() const override { return rtl::VarToStr(GetAsVariant()); }
  Variant GetAsVariant() const override { return Variant::Null(); }
};

// The field class the framework creates for a data type (nullptr for types without one).
using TFieldFactory = std::unique_ptr<TField> (*)();
TFieldFactory DefaultFieldClass(TFieldType aType);

}  // namespace zf::db
