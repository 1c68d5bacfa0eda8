#include "platform/rtl/rtlVariant.h"

#include <cfloat>
#include <cmath>

namespace zf::rtl {

UnicodeString VarTypeAsText(TVarType aType) {
  switch (aType) {
    case varEmpty: return u"Empty";
    case varNull: return u"Null";
    case varSmallint: return u"SmallInt";
    case varInteger: return u"Integer";
    case varSingle: return u"Single";
    case varDouble: return u"Double";
    case varCurrency: return u"Currency";
    case varDate: return u"Date";
    case varOleStr: return u"OleStr";
    case varBoolean: return u"Boolean";
    case varShortInt: return u"ShortInt";
    case varByte: return u"Byte";
    case varWord: return u"Word";
    case varLongWord: return u"LongWord";
    case varInt64: return u"Int64";
    case varUInt64: return u"UInt64";
    case varString: return u"String";
    case varUString: return u"UnicodeString";
    case varFMTBcd: return u"FMTBcd";
    case varVariant: return u"Variant";
    case varByteArray: return u"Array Byte";
    case varVariantArray: return u"Array Variant";
    default: return u"$" + IntToHex(aType, 4);
  }
}

Variant Variant::Null() {
  Variant v;
  v.FType = varNull;
  return v;
}

Variant::Variant(bool v) : FType(varBoolean), FInt(v ? 1 : 0) {}
Variant::Variant(int8_t v) : FType(varShortInt), FInt(v) {}
Variant::Variant(uint8_t v) : FType(varByte), FInt(v) {}
Variant::Variant(int16_t v) : FType(varSmallint), FInt(v) {}
Variant::Variant(uint16_t v) : FType(varWord), FInt(v) {}
Variant::Variant(int32_t v) : FType(varInteger), FInt(v) {}
Variant::Variant(uint32_t v) : FType(varLongWord), FInt(v) {}
Variant::Variant(int64_t v) : FType(varInt64), FInt(v) {}
Variant::Variant(uint64_t v) : FType(varUInt64), FInt(static_cast<int64_t>(v)) {}
Variant::Variant(float v) : FType(varSingle), FDouble(v) {}
Variant::Variant(double v) : FType(varDouble), FDouble(v) {}
Variant::Variant(Currency v) : FType(varCurrency), FInt(v.Value) {}
Variant::Variant(const char16_t* v) : FType(varUString), FText(v ? v : u"") {}
Variant::Variant(UnicodeString v) : FType(varUString), FText(std::move(v)) {}
Variant::Variant(AnsiString v) : FType(varString), FAnsi(std::move(v)) {}
Variant::Variant(const TBcd& v) : FType(varFMTBcd), FBcd(v) {}

Variant Variant::FromDate(TDateTime aValue) {
  Variant v;
  v.FType = varDate;
  v.FDouble = aValue;
  return v;
}

Variant Variant::FromOleStr(UnicodeString aValue) {
  Variant v;
  v.FType = varOleStr;
  v.FText = std::move(aValue);
  return v;
}

Variant Variant::FromBytes(std::vector<uint8_t> aBytes) {
  Variant v;
  v.FType = varByteArray;
  v.FBytes = std::move(aBytes);
  return v;
}

Variant Variant::ArrayOf(std::vector<Variant> aItems) {
  Variant v;
  v.FType = varVariantArray;
  v.FItems = std::move(aItems);
  return v;
}

Variant Variant::CreateArray(int32_t aLowBound, int32_t aHighBound) {
  const int64_t count = int64_t{aHighBound} - aLowBound + 1;
  if (count < 0) throw EVariantInvalidArgError(u"Invalid argument");
  Variant v;
  v.FType = varVariantArray;
  v.FLowBound = aLowBound;
  v.FItems.resize(static_cast<size_t>(count));
  return v;
}

int32_t Variant::ArrayLowBound() const {
  if (FType == varVariantArray) return FLowBound;
  if (FType == varByteArray) return 0;
  throw EVariantInvalidArgError(u"Invalid argument");
}

int32_t Variant::ArrayHighBound() const {
  // Counts are kept below 2^31 by the bounds an array is created with; a byte array is bounded
  // by the field sizes that fill it.
  if (FType == varVariantArray) return static_cast<int32_t>(FLowBound + static_cast<int64_t>(FItems.size()) - 1);
  if (FType == varByteArray) return static_cast<int32_t>(static_cast<int64_t>(FBytes.size()) - 1);
  throw EVariantInvalidArgError(u"Invalid argument");
}

size_t Variant::ElementIndex(int32_t aIndex) const {
  const int64_t at = int64_t{aIndex} - ArrayLowBound();
  const size_t count = FType == varVariantArray ? FItems.size() : FBytes.size();
  if (at < 0 || static_cast<uint64_t>(at) >= count)
    throw EVariantBadIndexError(u"Variant or safe array index out of bounds");
  return static_cast<size_t>(at);
}

Variant Variant::GetElement(int32_t aIndex) const {
  const size_t at = ElementIndex(aIndex);
  return FType == varVariantArray ? FItems[at] : Variant(FBytes[at]);
}

void Variant::PutElement(int32_t aIndex, const Variant& aValue) {
  const size_t at = ElementIndex(aIndex);
  if (FType == varVariantArray)
    FItems[at] = aValue;
  else
    FBytes[at] = static_cast<uint8_t>(aValue.ChangeType(varByte).RawInt());
}

bool Variant::IsOrdinal() const {
  switch (FType) {
    case varSmallint: case varInteger: case varBoolean: case varShortInt: case varByte: case varWord:
    case varLongWord: case varInt64: case varUInt64: return true;
    default: return false;
  }
}

bool Variant::IsFloat() const { return FType == varSingle || FType == varDouble || FType == varCurrency; }

bool Variant::IsNumeric() const {
  return (IsOrdinal() && FType != varBoolean) || IsFloat() || FType == varFMTBcd;
}

bool Variant::IsStr() const { return FType == varOleStr || FType == varString || FType == varUString; }

void Variant::CastError(TVarType aTo) const {
  throw EVariantTypeCastError(Format(u"Could not convert variant of type (%s) into type (%s)",
                                     {VarTypeAsText(FType), VarTypeAsText(aTo)}));
}

void Variant::OverflowError(TVarType aTo) const {
  throw EVariantOverflowError(Format(u"Overflow while converting variant of type (%s) into type (%s)",
                                     {VarTypeAsText(FType), VarTypeAsText(aTo)}));
}

bool TryStrToBool(UnicodeStringView aText, bool& aValue, const TFormatSettings& fs) {
  if (SameText(aText, u"True")) { aValue = true; return true; }
  if (SameText(aText, u"False")) { aValue = false; return true; }
  long double v;
  if (TryStrToFloat(aText, v, fs)) { aValue = v != 0; return true; }
  return false;
}

long double Variant::RealValue(TVarType aTo, const TFormatSettings& fs) const {
  switch (FType) {
    case varEmpty: return 0;
    case varBoolean: return FInt ? -1 : 0;
    case varSmallint: case varInteger: case varShortInt: case varByte: case varWord: case varLongWord:
    case varInt64: return static_cast<long double>(FInt);
    case varUInt64: return static_cast<long double>(static_cast<uint64_t>(FInt));
    case varSingle: case varDouble: case varDate: return FDouble;
    case varCurrency: return CurrencyToFloat(Currency{FInt});
    case varFMTBcd: return BcdToFloat(FBcd);
    case varOleStr: case varUString: case varString: {
      UnicodeString s = AsString(fs);
      long double v;
      if (TryStrToFloat(s, v, fs)) return v;
      bool b;
      if (TryStrToBool(s, b, fs)) return b ? -1 : 0;
      CastError(aTo);
    }
    default: CastError(aTo);
  }
}

int64_t Variant::RoundedInt64(TVarType aTo, const TFormatSettings& fs) const {
  switch (FType) {
    case varEmpty: return 0;
    case varBoolean: return FInt ? -1 : 0;
    case varSmallint: case varInteger: case varShortInt: case varByte: case varWord: case varLongWord:
    case varInt64: return FInt;
    case varUInt64:
      if (FInt < 0) OverflowError(aTo);
      return FInt;
    case varCurrency: return DivRoundHalfEven(FInt, 10000);
    case varOleStr: case varUString: case varString: {
      int64_t i;
      if (TryStrToInt64(Trim(AsString(fs)), i)) return i;
      break;
    }
    default: break;
  }
  long double r = std::nearbyintl(RealValue(aTo, fs));
  if (!(r >= -9223372036854775808.0L && r < 9223372036854775808.0L)) OverflowError(aTo);
  return static_cast<int64_t>(r);
}

bool Variant::AsBoolean(const TFormatSettings& fs) const {
  switch (FType) {
    case varEmpty: return false;
    case varBoolean: return FInt != 0;
    case varOleStr: case varUString: case varString: {
      bool b;
      if (TryStrToBool(AsString(fs), b, fs)) return b;
      CastError(varBoolean);
    }
    default: return RealValue(varBoolean, fs) != 0;
  }
}

int32_t Variant::AsInteger(const TFormatSettings& fs) const {
  int64_t v = RoundedInt64(varInteger, fs);
  if (v < INT32_MIN || v > INT32_MAX) OverflowError(varInteger);
  return static_cast<int32_t>(v);
}

uint32_t Variant::AsLongWord(const TFormatSettings& fs) const {
  int64_t v = RoundedInt64(varLongWord, fs);
  if (v < 0 || v > UINT32_MAX) OverflowError(varLongWord);
  return static_cast<uint32_t>(v);
}

int64_t Variant::AsInt64(const TFormatSettings& fs) const { return RoundedInt64(varInt64, fs); }

uint64_t Variant::AsUInt64(const TFormatSettings& fs) const {
  if (FType == varUInt64) return static_cast<uint64_t>(FInt);
  if (FType == varSingle || FType == varDouble || FType == varDate) {
    long double r = std::nearbyintl(static_cast<long double>(FDouble));
    if (!(r >= 0 && r < 18446744073709551616.0L)) OverflowError(varUInt64);
    return static_cast<uint64_t>(r);
  }
  int64_t v = RoundedInt64(varUInt64, fs);
  if (v < 0) OverflowError(varUInt64);
  return static_cast<uint64_t>(v);
}

long double Variant::AsExtended(const TFormatSettings& fs) const { return RealValue(varDouble, fs); }

double Variant::AsDouble(const TFormatSettings& fs) const {
  long double v = RealValue(varDouble, fs);
  if (std::isfinite(v) && std::fabs(v) > DBL_MAX) OverflowError(varDouble);
  return static_cast<double>(v);
}

float Variant::AsSingle(const TFormatSettings& fs) const {
  long double v = RealValue(varSingle, fs);
  if (std::isfinite(v) && std::fabs(v) > FLT_MAX) OverflowError(varSingle);
  return static_cast<float>(v);
}

Currency Variant::AsCurrency(const TFormatSettings& fs) const {
  Currency c;
  switch (FType) {
    case varEmpty: return c;
    case varCurrency: return Currency{FInt};
    case varBoolean: return Currency{FInt ? -10000 : 0};
    case varSmallint: case varInteger: case varShortInt: case varByte: case varWord: case varLongWord:
    case varInt64: case varUInt64: {
      int64_t v = FType == varUInt64 && FInt < 0 ? INT64_MAX : FInt;
      if (FType == varUInt64 && FInt < 0) OverflowError(varCurrency);
      if (__builtin_mul_overflow(v, int64_t{10000}, &c.Value)) OverflowError(varCurrency);
      return c;
    }
    case varFMTBcd:
      if (!TryBcdToCurrency(FBcd, c)) OverflowError(varCurrency);
      return c;
    case varOleStr: case varUString: case varString: {
      UnicodeString s = AsString(fs);
      if (TryStrToCurr(s, c, fs)) return c;
      TDecimalText d;
      if (ParseDecimalText(s, fs.DecimalSeparator, d)) OverflowError(varCurrency);
      bool b;
      if (TryStrToBool(s, b, fs)) return Currency{b ? -10000 : 0};
      CastError(varCurrency);
    }
    default:
      if (!TryFloatToCurrency(RealValue(varCurrency, fs), c)) OverflowError(varCurrency);
      return c;
  }
}

TDateTime Variant::AsDate(const TFormatSettings& fs) const {
  switch (FType) {
    case varOleStr: case varUString: case varString: {
      TDateTime d;
      if (TryStrToDateTime(AsString(fs), d, fs)) return d;
      CastError(varDate);
    }
    case varSingle: case varDouble: case varDate: return FDouble;
    default: {
      long double v = RealValue(varDate, fs);
      if (std::fabs(v) > DBL_MAX) OverflowError(varDate);
      return static_cast<double>(v);
    }
  }
}

UnicodeString Variant::AsString(const TFormatSettings& fs) const {
  switch (FType) {
    case varEmpty: return u"";
    case varBoolean: return FInt ? u"True" : u"False";
    case varSmallint: case varInteger: case varShortInt: case varByte: case varWord: case varLongWord:
    case varInt64: return IntToStr(FInt);
    case varUInt64: return UIntToStr(static_cast<uint64_t>(FInt));
    case varSingle: return FloatToStrF(static_cast<float>(FDouble), TFloatFormat::ffGeneral, 7, 0, fs);
    case varDouble: return FloatToStr(FDouble, fs);
    case varCurrency: return CurrToStr(Currency{FInt}, fs);
    case varDate: return DateTimeToStr(FDouble, fs);
    case varOleStr: case varUString: return FText;
    case varString: return AnsiToUnicode(FAnsi);
    case varFMTBcd: return BcdToStr(FBcd, fs.DecimalSeparator);
    default: CastError(varUString);
  }
}

AnsiString Variant::AsAnsiString(uint16_t aCodePage, const TFormatSettings& fs) const {
  if (FType == varString && ResolveCodePage(FAnsi.CodePage()) == ResolveCodePage(aCodePage))
    return AnsiString(FAnsi.Bytes(), aCodePage);
  return UnicodeToAnsi(AsString(fs), aCodePage);
}

TBcd Variant::AsBcd(const TFormatSettings& fs) const {
  TBcd b;
  switch (FType) {
    case varFMTBcd: return FBcd;
    case varCurrency: return CurrencyToBcd(Currency{FInt});
    case varSingle: case varDouble: case varDate:
      if (!TryFloatToBcd(FDouble, b)) OverflowError(varFMTBcd);
      return b;
    case varOleStr: case varUString: case varString:
      if (TryStrToBcd(AsString(fs), b, fs.DecimalSeparator)) return b;
      CastError(varFMTBcd);
    case varUInt64:
      TryStrToBcd(UIntToStr(static_cast<uint64_t>(FInt)), b);
      return b;
    default:
      TryStrToBcd(IntToStr(RoundedInt64(varFMTBcd, fs)), b);
      return b;
  }
}

const std::vector<uint8_t>& Variant::AsBytes() const {
  if (FType != varByteArray) CastError(varByteArray);
  return FBytes;
}

Variant Variant::ChangeType(TVarType aType, const TFormatSettings& fs) const {
  if (aType == FType) return *this;
  if (FType == varVariantArray) CastError(aType);
  if (FType == varNull && aType != varEmpty) {
    if (aType == varNull) return *this;
    CastError(aType);
  }
  switch (aType) {
    case varEmpty: return Variant();
    case varNull: return Null();
    case varBoolean: return Variant(AsBoolean(fs));
    case varShortInt: {
      int64_t v = RoundedInt64(aType, fs);
      if (v < INT8_MIN || v > INT8_MAX) OverflowError(aType);
      return Variant(static_cast<int8_t>(v));
    }
    case varByte: {
      int64_t v = RoundedInt64(aType, fs);
      if (v < 0 || v > UINT8_MAX) OverflowError(aType);
      return Variant(static_cast<uint8_t>(v));
    }
    case varSmallint: {
      int64_t v = RoundedInt64(aType, fs);
      if (v < INT16_MIN || v > INT16_MAX) OverflowError(aType);
      return Variant(static_cast<int16_t>(v));
    }
    case varWord: {
      int64_t v = RoundedInt64(aType, fs);
      if (v < 0 || v > UINT16_MAX) OverflowError(aType);
      return Variant(static_cast<uint16_t>(v));
    }
    case varInteger: return Variant(AsInteger(fs));
    case varLongWord: return Variant(AsLongWord(fs));
    case varInt64: return Variant(AsInt64(fs));
    case varUInt64: return Variant(AsUInt64(fs));
    case varSingle: return Variant(AsSingle(fs));
    case varDouble: return Variant(AsDouble(fs));
    case varCurrency: return Variant(AsCurrency(fs));
    case varDate: return FromDate(AsDate(fs));
    case varOleStr: return FromOleStr(AsString(fs));
    case varUString: return Variant(AsString(fs));
    case varString: return Variant(AsAnsiString(CP_ACP, fs));
    case varFMTBcd: return Variant(AsBcd(fs));
    case varByteArray: return FromBytes(AsBytes());
    default: CastError(aType);
  }
}

bool Variant::operator==(const Variant& o) const {
  if (FType == varVariantArray) CastError(o.FType);
  if (o.FType == varVariantArray) o.CastError(FType);
  if (FType != o.FType) return false;
  switch (FType) {
    case varEmpty: case varNull: return true;
    case varSingle: case varDouble: case varDate: return FDouble == o.FDouble;
    case varOleStr: case varUString: return FText == o.FText;
    case varString: return FAnsi == o.FAnsi && ResolveCodePage(FAnsi.CodePage()) == ResolveCodePage(o.FAnsi.CodePage());
    case varFMTBcd: return BcdCompare(FBcd, o.FBcd) == 0;
    case varByteArray: return FBytes == o.FBytes;
    default: return FInt == o.FInt;
  }
}

int32_t VarArrayLowBound(const Variant& v, int32_t aDim) {
  if (aDim != 1) throw EVariantInvalidArgError(u"Invalid argument");
  return v.ArrayLowBound();
}

int32_t VarArrayHighBound(const Variant& v, int32_t aDim) {
  if (aDim != 1) throw EVariantInvalidArgError(u"Invalid argument");
  return v.ArrayHighBound();
}

UnicodeString VarToStr(const Variant& v, const TFormatSettings& fs) {
  return v.IsNull() ? UnicodeString() : v.AsString(fs);
}

}  // namespace zf::rtl
