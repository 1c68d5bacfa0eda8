// Variant: one tagged value type for every layer, with the platform's kinds and conversion rules.
//
// Empty and Null are distinct: Empty converts to 0, "" and False; Null refuses every conversion
// to a plain type (EVariantTypeCastError "Could not convert variant of type (Null) into type
// (Integer)"). Conversions from text read numbers and dates with the given format settings
// (default: the process's). Reals become integers by rounding to the nearest, ties to even; a
// value that does not fit raises EVariantOverflowError "Overflow while converting variant of type
// (%s) into type (%s)". Boolean True is -1 as a number.
//
// Arrays have one dimension: an array of bytes (the value of a bytes or BLOB field) or an array of
// variants (several field values at once, as Locate, Lookup and FieldValues pass them). An array
// converts to no other kind and compares with nothing: both raise EVariantTypeCastError. A bound
// asked of something that is no array raises EVariantInvalidArgError, an index outside the
// bounds EVariantBadIndexError.
#pragma once
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/rtl/rtlAnsi.h"
#include "platform/rtl/rtlDateTime.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlFormat.h"
#include "platform/rtl/rtlNumber.h"
#include "platform/rtl/rtlText.h"

namespace zf::rtl {

ZF_DECLARE_EXCEPTION(EVariantTypeCastError, EVariantError)
ZF_DECLARE_EXCEPTION(EVariantOverflowError, EVariantError)
ZF_DECLARE_EXCEPTION(EVariantInvalidArgError, EVariantError)
ZF_DECLARE_EXCEPTION(EVariantBadIndexError, EVariantError)

using TVarType = uint16_t;
inline constexpr TVarType varEmpty = 0x0000;
inline constexpr TVarType varNull = 0x0001;
inline constexpr TVarType varSmallint = 0x0002;
inline constexpr TVarType varInteger = 0x0003;
inline constexpr TVarType varSingle = 0x0004;
inline constexpr TVarType varDouble = 0x0005;
inline constexpr TVarType varCurrency = 0x0006;
inline constexpr TVarType varDate = 0x0007;
inline constexpr TVarType varOleStr = 0x0008;  // the wide string
inline constexpr TVarType varBoolean = 0x000B;
inline constexpr TVarType varVariant = 0x000C;  // element kind of an array of variants
inline constexpr TVarType varShortInt = 0x0010;
inline constexpr TVarType varByte = 0x0011;
inline constexpr TVarType varWord = 0x0012;
inline constexpr TVarType varLongWord = 0x0013;
inline constexpr TVarType varInt64 = 0x0014;
inline constexpr TVarType varUInt64 = 0x0015;
inline constexpr TVarType varString = 0x0100;   // 8-bit text with its code page
inline constexpr TVarType varUString = 0x0102;  // the Unicode string
inline constexpr TVarType varFMTBcd = 0x0110;   // packed decimal (TBcd)
inline constexpr TVarType varArray = 0x2000;
inline constexpr TVarType varTypeMask = 0x0FFF;
inline constexpr TVarType varByteArray = varArray | varByte;  // array of bytes, low bound 0
inline constexpr TVarType varVariantArray = varArray | varVariant;  // array of variants

// Name of a kind as conversion messages show it ("Integer", "UnicodeString", "Array Byte").
UnicodeString VarTypeAsText(TVarType aType);

class Variant {
 public:
  Variant() = default;  // Empty
  static Variant Null();

  Variant(bool v);
  Variant(int8_t v);
  Variant(uint8_t v);
  Variant(int16_t v);
  Variant(uint16_t v);
  Variant(int32_t v);
  Variant(uint32_t v);
  Variant(int64_t v);
  Variant(uint64_t v);
  Variant(float v);
  Variant(double v);
  Variant(Currency v);
  Variant(const char16_t* v);  // Unicode string
  Variant(UnicodeString v);    // Unicode string
  Variant(AnsiString v);       // 8-bit string
  Variant(const TBcd& v);      // FMTBcd
  // long long where it is not int64_t: Int64 / UInt64.
  template <typename T>
    requires(std::is_same_v<T, long long> && !std::is_same_v<long long, int64_t>)
  Variant(T v) : Variant(static_cast<int64_t>(v)) {}
  template <typename T>
    requires(std::is_same_v<T, unsigned long long> && !std::is_same_v<unsigned long long, uint64_t>)
  Variant(T v) : Variant(static_cast<uint64_t>(v)) {}
  // Any other pointer (8-bit text included) would silently become a Boolean: refused.
  template <typename T>
  Variant(const T*) = delete;
  static Variant FromDate(TDateTime aValue);
  static Variant FromOleStr(UnicodeString aValue);
  static Variant FromBytes(std::vector<uint8_t> aBytes);  // array of bytes
  // An array of variants holding aItems, low bound 0.
  static Variant ArrayOf(std::vector<Variant> aItems);
  // An array of variants with the bounds given, every element Empty; a high bound below
  // aLowBound - 1 raises EVariantInvalidArgError.
  static Variant CreateArray(int32_t aLowBound, int32_t aHighBound);

  TVarType VarType() const { return FType; }
  bool IsEmpty() const { return FType == varEmpty; }
  bool IsNull() const { return FType == varNull; }
  bool IsEmptyOrNull() const { return FType == varEmpty || FType == varNull; }
  bool IsNumeric() const;  // the integer kinds, Single, Double, Currency and FMTBcd
  bool IsOrdinal() const;  // the integer kinds and Boolean
  bool IsFloat() const;    // Single, Double, Currency
  bool IsStr() const;      // OleStr, 8-bit string, Unicode string
  bool IsByteArray() const { return FType == varByteArray; }
  bool IsArray() const { return (FType & varArray) != 0; }  // either kind of array

  // Bounds of an array (EVariantInvalidArgError for anything else); the high bound is the low
  // bound - 1 for an empty array.
  int32_t ArrayLowBound() const;
  int32_t ArrayHighBound() const;
  // Element aIndex (between the bounds, else EVariantBadIndexError); an element of an array of
  // bytes is a Byte.
  Variant GetElement(int32_t aIndex) const;
  // Stores aValue at aIndex; an array of bytes takes it converted to a Byte.
  void PutElement(int32_t aIndex, const Variant& aValue);

  // Conversions by the platform's rules (see the header comment).
  bool AsBoolean(const TFormatSettings& fs = DefaultFormatSettings()) const;
  int32_t AsInteger(const TFormatSettings& fs = DefaultFormatSettings()) const;
  uint32_t AsLongWord(const TFormatSettings& fs = DefaultFormatSettings()) const;
  int64_t AsInt64(const TFormatSettings& fs = DefaultFormatSettings()) const;
  uint64_t AsUInt64(const TFormatSettings& fs = DefaultFormatSettings()) const;
  double AsDouble(const TFormatSettings& fs = DefaultFormatSettings()) const;
  long double AsExtended(const TFormatSettings& fs = DefaultFormatSettings()) const;
  float AsSingle(const TFormatSettings& fs = DefaultFormatSettings()) const;
  Currency AsCurrency(const TFormatSettings& fs = DefaultFormatSettings()) const;
  TDateTime AsDate(const TFormatSettings& fs = DefaultFormatSettings()) const;
  UnicodeString AsString(const TFormatSettings& fs = DefaultFormatSettings()) const;
  // 8-bit text in the code page (0 = the system ANSI code page).
  AnsiString AsAnsiString(uint16_t aCodePage = CP_ACP, const TFormatSettings& fs = DefaultFormatSettings()) const;
  TBcd AsBcd(const TFormatSettings& fs = DefaultFormatSettings()) const;
  // The bytes of an array of bytes; any other kind raises EVariantTypeCastError.
  const std::vector<uint8_t>& AsBytes() const;

  // The value converted to another kind (the platform's VarAsType).
  Variant ChangeType(TVarType aType, const TFormatSettings& fs = DefaultFormatSettings()) const;

  // Direct access for code that has checked the kind.
  int64_t RawInt() const { return FInt; }
  double RawDouble() const { return FDouble; }
  const UnicodeString& RawString() const { return FText; }
  const AnsiString& RawAnsi() const { return FAnsi; }
  const TBcd& RawBcd() const { return FBcd; }

  // Same kind and same value (strings by code units, reals by value, arrays of bytes by their
  // bytes); an array of variants on either side raises EVariantTypeCastError.
  bool operator==(const Variant& o) const;

 private:
  [[noreturn]] void CastError(TVarType aTo) const;
  [[noreturn]] void OverflowError(TVarType aTo) const;
  size_t ElementIndex(int32_t aIndex) const;  // position of aIndex in the array, checked
  long double RealValue(TVarType aTo, const TFormatSettings& fs) const;  // any numeric reading
  int64_t RoundedInt64(TVarType aTo, const TFormatSettings& fs) const;

  TVarType FType = varEmpty;
  int64_t FInt = 0;         // integer kinds, Boolean (0/1), Currency (scaled), UInt64 (bits)
  double FDouble = 0;       // Single, Double, Date
  UnicodeString FText;      // OleStr, Unicode string
  AnsiString FAnsi;         // 8-bit string
  TBcd FBcd;                // FMTBcd
  std::vector<uint8_t> FBytes;  // array of bytes
  std::vector<Variant> FItems;  // array of variants
  int32_t FLowBound = 0;        // array of variants
};

// The platform's free functions.
inline TVarType VarType(const Variant& v) { return v.VarType(); }
inline bool VarIsNull(const Variant& v) { return v.IsNull(); }
inline bool VarIsEmpty(const Variant& v) { return v.IsEmpty(); }
inline bool VarIsStr(const Variant& v) { return v.IsStr(); }
inline bool VarIsArray(const Variant& v) { return v.IsArray(); }
inline Variant VarArrayOf(std::vector<Variant> aItems) { return Variant::ArrayOf(std::move(aItems)); }
inline Variant VarArrayCreate(int32_t aLowBound, int32_t aHighBound) {
  return Variant::CreateArray(aLowBound, aHighBound);
}
// 1 for an array, 0 for anything else.
inline int32_t VarArrayDimCount(const Variant& v) { return v.IsArray() ? 1 : 0; }
// Bounds of dimension aDim, which must be 1 (else EVariantInvalidArgError).
int32_t VarArrayLowBound(const Variant& v, int32_t aDim);
int32_t VarArrayHighBound(const Variant& v, int32_t aDim);
inline Variant VarArrayGet(const Variant& v, int32_t aIndex) { return v.GetElement(aIndex); }
inline void VarArrayPut(Variant& v, const Variant& aValue, int32_t aIndex) { v.PutElement(aIndex, aValue); }
// Text of a value; Null gives "" (unlike AsString, which refuses Null).
UnicodeString VarToStr(const Variant& v, const TFormatSettings& fs = DefaultFormatSettings());
// Boolean texts accepted and produced: "True" / "False", case ignored on input.
bool TryStrToBool(UnicodeStringView aText, bool& aValue, const TFormatSettings& fs = DefaultFormatSettings());

}  // namespace zf::rtl
