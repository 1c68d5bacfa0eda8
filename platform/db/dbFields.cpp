#include "platform/db/dbFields.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "platform/db/dbConsts.h"
#include "platform/db/dbDataSet.h"
#include "platform/rtl/rtlAnsi.h"
#include "platform/rtl/rtlFormat.h"

namespace zf::db {

using rtl::AnsiString;
using rtl::Currency;
using rtl::TBcd;

namespace {

// Runs a Variant or text conversion; a value that does not convert is the field's invalid value.
template <typename F>
auto Converted(const TField& aField, F aConvert) -> decltype(aConvert()) {
  try {
    return aConvert();
  } catch (const rtl::EVariantError&) {
  } catch (const rtl::EConvertError&) {
  }
  DatabaseErrorFmt(kSInvalidFieldValue, {aField.DisplayName()}, aField.DataSet());
}

template <typename T>
bool ReadNative(const TField& aField, T& aValue) {
  return aField.GetData(&aValue);
}

}  // namespace

// ---- TField --------------------------------------------------------------------------------------

TField::TField(TFieldType aDataType, int32_t aSize) : FDataType(aDataType), FSize(aSize) {}

bool TField::IsIndexField() const { return FDataSet && FDataSet->GetIsIndexField(*this); }

bool TField::GetData(void* aBuffer) const {
  if (FValidating) {
    if (!FValidateBuffer) return false;
    if (aBuffer) std::memcpy(aBuffer, FValidateBuffer, static_cast<size_t>(DataSize()));
    return true;
  }
  if (!FDataSet) DatabaseErrorFmt(kSNoDataSet, {DisplayName()});
  return FDataSet->GetFieldData(const_cast<TField*>(this), aBuffer);
}

void TField::SetData(const void* aBuffer) {
  if (!FDataSet) DatabaseErrorFmt(kSNoDataSet, {DisplayName()});
  FDataSet->SetFieldData(this, aBuffer);
}

void TField::Validate(const void* aBuffer) {
  if (!OnValidate) return;
  FValidating = true;
  FValidateBuffer = aBuffer;
  struct Reset {
    TField* f;
    ~Reset() { f->FValidating = false; f->FValidateBuffer = nullptr; }
  } reset{this};
  OnValidate(*this);
}

void TField::AccessError(const char16_t* aTypeName) const {
  DatabaseErrorFmt(kSFieldAccessError, {DisplayName(), aTypeName}, FDataSet);
}

void TField::InvalidValue() const { DatabaseErrorFmt(kSInvalidFieldValue, {DisplayName()}, FDataSet); }

// The base reads through the field's Variant value; NULL reads as the type's empty value.
UnicodeString TField::GetAsString() const {
  Variant v = GetAsVariant();
  return v.IsEmptyOrNull() ? UnicodeString() : Converted(*this, [&] { return v.AsString(); });
}
AnsiString TField::GetAsAnsiString() const { return rtl::UnicodeToAnsi(GetAsString()); }
int32_t TField::GetAsInteger() const {
  Variant v = GetAsVariant();
  return v.IsEmptyOrNull() ? 0 : Converted(*this, [&] { return v.AsInteger(); });
}
int64_t TField::GetAsLargeInt() const {
  Variant v = GetAsVariant();
  return v.IsEmptyOrNull() ? 0 : Converted(*this, [&] { return v.AsInt64(); });
}
double TField::GetAsFloat() const {
  Variant v = GetAsVariant();
  return v.IsEmptyOrNull() ? 0.0 : Converted(*this, [&] { return v.AsDouble(); });
}
Currency TField::GetAsCurrency() const {
  Variant v = GetAsVariant();
  return v.IsEmptyOrNull() ? Currency{} : Converted(*this, [&] { return v.AsCurrency(); });
}
bool TField::GetAsBoolean() const {
  Variant v = GetAsVariant();
  return v.IsEmptyOrNull() ? false : Converted(*this, [&] { return v.AsBoolean(); });
}
rtl::TDateTime TField::GetAsDateTime() const {
  Variant v = GetAsVariant();
  return v.IsEmptyOrNull() ? 0.0 : Converted(*this, [&] { return v.AsDate(); });
}
TBcd TField::GetAsBCD() const {
  Variant v = GetAsVariant();
  return v.IsEmptyOrNull() ? TBcd{} : Converted(*this, [&] { return v.AsBcd(); });
}
std::vector<uint8_t> TField::GetAsBytes() const {
  Variant v = GetAsVariant();
  if (v.IsEmptyOrNull()) return {};
  if (!v.IsByteArray()) AccessError(u"Bytes");
  return v.AsBytes();
}
Variant TField::GetAsVariant() const { AccessError(u"Variant"); }

void TField::SetAsAnsiString(const AnsiString& aValue) { SetAsString(rtl::AnsiToUnicode(aValue)); }

void TField::SetAsVariant(const Variant& aValue) {
  if (aValue.IsEmptyOrNull())
    Clear();
  else
    SetVarValue(aValue);
}

void TField::SetVarValue(const Variant&) { AccessError(u"Variant"); }

bool TField::SameKind(const TField& aSource) const {
  return aSource.DataType() == DataType() && aSource.DataSize() == DataSize() && DataSize() > 0;
}

void TField::CopyValue(const TField& aSource) {
  std::vector<uint8_t> buffer(static_cast<size_t>(DataSize()));
  if (aSource.GetData(buffer.data()))
    SetData(buffer.data());
  else
    Clear();
}

void TField::Assign(const TField* aSource) {
  if (!aSource || aSource->IsNull()) {
    Clear();
    return;
  }
  if (SameKind(*aSource))
    CopyValue(*aSource);
  else
    SetAsVariant(aSource->GetAsVariant());
}

// ---- TStringField --------------------------------------------------------------------------------

AnsiString TStringField::GetAsAnsiString() const {
  std::vector<char> buffer(static_cast<size_t>(DataSize()), 0);
  if (!GetData(buffer.data())) return AnsiString(std::string(), rtl::CP_ACP);
  // The text ends at its terminator, and never later than Size bytes.
  size_t n = ::strnlen(buffer.data(), static_cast<size_t>(Size()));
  return AnsiString(std::string(buffer.data(), n), rtl::CP_ACP);
}

UnicodeString TStringField::GetAsString() const { return rtl::AnsiToUnicode(GetAsAnsiString()); }

Variant TStringField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsString());
}

void TStringField::SetAsString(const UnicodeString& aValue) { SetAsAnsiString(rtl::UnicodeToAnsi(aValue, rtl::CP_ACP)); }

void TStringField::SetAsAnsiString(const AnsiString& aValue) {
  std::string bytes = rtl::ResolveCodePage(aValue.CodePage()) == rtl::ResolveCodePage(rtl::CP_ACP) ||
                              aValue.CodePage() == rtl::CP_RAWBYTES
                          ? aValue.Bytes()
                          : rtl::UnicodeToAnsi(rtl::AnsiToUnicode(aValue), rtl::CP_ACP).Bytes();
  std::vector<char> buffer(static_cast<size_t>(DataSize()), 0);
  std::memcpy(buffer.data(), bytes.data(), std::min(bytes.size(), static_cast<size_t>(Size())));
  SetData(buffer.data());
}

void TStringField::SetVarValue(const Variant& aValue) {
  if (aValue.VarType() == rtl::varString)
    SetAsAnsiString(aValue.RawAnsi());
  else
    SetAsString(Converted(*this, [&] { return aValue.AsString(); }));
}

bool TStringField::SameKind(const TField& aSource) const {
  // Any 8-bit text of the same size copies byte for byte (fixed or not, GUID text included).
  return dynamic_cast<const TStringField*>(&aSource) && aSource.DataSize() == DataSize();
}

// ---- TWideStringField ----------------------------------------------------------------------------

UnicodeString TWideStringField::GetAsString() const {
  std::vector<char16_t> buffer(static_cast<size_t>(Size()) + 1, 0);
  if (!GetData(buffer.data())) return {};
  size_t n = 0;
  while (n < static_cast<size_t>(Size()) && buffer[n] != 0) ++n;
  return UnicodeString(buffer.data(), n);
}

Variant TWideStringField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsString());
}

void TWideStringField::SetAsString(const UnicodeString& aValue) {
  std::vector<char16_t> buffer(static_cast<size_t>(Size()) + 1, 0);
  std::memcpy(buffer.data(), aValue.data(), std::min(aValue.size(), static_cast<size_t>(Size())) * 2);
  SetData(buffer.data());
}

void TWideStringField::SetVarValue(const Variant& aValue) {
  SetAsString(Converted(*this, [&] { return aValue.AsString(); }));
}

// ---- numbers -------------------------------------------------------------------------------------

void TNumericField::SetAsString(const UnicodeString& aValue) {
  if (rtl::Trim(aValue).empty())
    Clear();
  else
    SetVarValue(Variant(aValue));
}

namespace {
struct IntegerRange {
  int32_t Size;
  int64_t Min;
  int64_t Max;
};
IntegerRange RangeOf(TFieldType aType) {
  switch (aType) {
    case ftShortint: return {1, INT8_MIN, INT8_MAX};
    case ftByte: return {1, 0, UINT8_MAX};
    case ftSmallint: return {2, INT16_MIN, INT16_MAX};
    case ftWord: return {2, 0, UINT16_MAX};
    default: return {4, INT32_MIN, INT32_MAX};
  }
}
}  // namespace

TIntegerField::TIntegerField(TFieldType aType) : TNumericField(aType, 0) {
  IntegerRange r = RangeOf(aType);
  FMin = r.Min;
  FMax = r.Max;
}

int32_t TIntegerField::DataSize() const { return RangeOf(DataType()).Size; }

bool TIntegerField::ReadValue(int64_t& aValue) const {
  uint8_t b[4] = {};
  if (!GetData(b)) return false;
  switch (DataType()) {
    case ftShortint: { int8_t v; std::memcpy(&v, b, 1); aValue = v; break; }
    case ftByte: aValue = b[0]; break;
    case ftSmallint: { int16_t v; std::memcpy(&v, b, 2); aValue = v; break; }
    case ftWord: { uint16_t v; std::memcpy(&v, b, 2); aValue = v; break; }
    default: { int32_t v; std::memcpy(&v, b, 4); aValue = v; break; }
  }
  return true;
}

UnicodeString TIntegerField::GetAsString() const {
  int64_t v;
  return ReadValue(v) ? rtl::IntToStr(v) : UnicodeString();
}
int32_t TIntegerField::GetAsInteger() const {
  int64_t v;
  return ReadValue(v) ? static_cast<int32_t>(v) : 0;
}
int64_t TIntegerField::GetAsLargeInt() const {
  int64_t v;
  return ReadValue(v) ? v : 0;
}
double TIntegerField::GetAsFloat() const { return static_cast<double>(GetAsLargeInt()); }
Variant TIntegerField::GetAsVariant() const {
  int64_t v;
  if (!ReadValue(v)) return Variant::Null();
  switch (DataType()) {
    case ftShortint: return Variant(static_cast<int8_t>(v));
    case ftByte: return Variant(static_cast<uint8_t>(v));
    case ftSmallint: return Variant(static_cast<int16_t>(v));
    case ftWord: return Variant(static_cast<uint16_t>(v));
    default: return Variant(static_cast<int32_t>(v));
  }
}

void TIntegerField::SetAsLargeInt(int64_t aValue) {
  if (aValue < FMin || aValue > FMax)
    DatabaseErrorFmt(kSFieldRangeError, {rtl::IntToStr(aValue), DisplayName(), rtl::IntToStr(FMin), rtl::IntToStr(FMax)},
                     DataSet());
  uint8_t b[4] = {};
  int32_t v32 = static_cast<int32_t>(aValue);
  std::memcpy(b, &v32, 4);  // little-endian host: the low bytes are the narrower value
  if (DataType() == ftShortint || DataType() == ftByte) b[0] = static_cast<uint8_t>(aValue);
  if (DataType() == ftSmallint || DataType() == ftWord) {
    uint16_t v16 = static_cast<uint16_t>(aValue);
    std::memcpy(b, &v16, 2);
  }
  SetData(b);
}

void TIntegerField::SetVarValue(const Variant& aValue) {
  SetAsLargeInt(Converted(*this, [&] { return aValue.AsInt64(); }));
}

UnicodeString TLongWordField::GetAsString() const { return IsNull() ? UnicodeString() : rtl::IntToStr(GetAsLargeInt()); }
int64_t TLongWordField::GetAsLargeInt() const {
  uint32_t v = 0;
  return ReadNative(*this, v) ? v : 0;
}
int32_t TLongWordField::GetAsInteger() const {
  int64_t v = GetAsLargeInt();
  if (v > INT32_MAX) AccessError(u"Integer");
  return static_cast<int32_t>(v);
}
Variant TLongWordField::GetAsVariant() const {
  uint32_t v = 0;
  return ReadNative(*this, v) ? Variant(v) : Variant::Null();
}
void TLongWordField::SetAsLargeInt(int64_t aValue) {
  if (aValue < 0 || aValue > UINT32_MAX)
    DatabaseErrorFmt(kSFieldRangeError, {rtl::IntToStr(aValue), DisplayName(), u"0", rtl::IntToStr(UINT32_MAX)}, DataSet());
  uint32_t v = static_cast<uint32_t>(aValue);
  SetData(&v);
}
void TLongWordField::SetVarValue(const Variant& aValue) {
  SetAsLargeInt(Converted(*this, [&] { return aValue.AsInt64(); }));
}

UnicodeString TLargeintField::GetAsString() const { return IsNull() ? UnicodeString() : rtl::IntToStr(GetAsLargeInt()); }
int64_t TLargeintField::GetAsLargeInt() const {
  int64_t v = 0;
  return ReadNative(*this, v) ? v : 0;
}
int32_t TLargeintField::GetAsInteger() const {
  int64_t v = GetAsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX) AccessError(u"Integer");
  return static_cast<int32_t>(v);
}
Variant TLargeintField::GetAsVariant() const {
  int64_t v = 0;
  return ReadNative(*this, v) ? Variant(v) : Variant::Null();
}
void TLargeintField::SetAsLargeInt(int64_t aValue) { SetData(&aValue); }
void TLargeintField::SetVarValue(const Variant& aValue) {
  SetAsLargeInt(Converted(*this, [&] { return aValue.AsInt64(); }));
}

UnicodeString TFloatField::GetAsString() const { return IsNull() ? UnicodeString() : rtl::FloatToStr(GetAsFloat()); }
double TFloatField::GetAsFloat() const {
  double v = 0;
  return ReadNative(*this, v) ? v : 0.0;
}
Currency TFloatField::GetAsCurrency() const {
  Currency c;
  if (!rtl::TryFloatToCurrency(GetAsFloat(), c)) AccessError(u"Currency");
  return c;
}
Variant TFloatField::GetAsVariant() const {
  double v = 0;
  return ReadNative(*this, v) ? Variant(v) : Variant::Null();
}
void TFloatField::SetAsFloat(double aValue) { SetData(&aValue); }
void TFloatField::SetVarValue(const Variant& aValue) {
  SetAsFloat(Converted(*this, [&] { return aValue.AsDouble(); }));
}

Variant TCurrencyField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsCurrency());
}

UnicodeString TExtendedField::GetAsString() const { return IsNull() ? UnicodeString() : rtl::FloatToStr(GetAsExtended()); }
long double TExtendedField::GetAsExtended() const {
  uint8_t b[rtl::ExtendedSize] = {};
  return GetData(b) ? rtl::ExtendedFromBytes(b) : 0.0L;
}
Variant TExtendedField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(static_cast<double>(GetAsExtended()));
}
void TExtendedField::SetAsExtended(long double aValue) {
  uint8_t b[rtl::ExtendedSize];
  rtl::ExtendedToBytes(aValue, b);
  SetData(b);
}
void TExtendedField::SetVarValue(const Variant& aValue) {
  SetAsExtended(Converted(*this, [&] { return aValue.AsExtended(); }));
}

UnicodeString TBCDField::GetAsString() const { return IsNull() ? UnicodeString() : rtl::CurrToStr(GetAsCurrency()); }
double TBCDField::GetAsFloat() const { return static_cast<double>(rtl::CurrencyToFloat(GetAsCurrency())); }
TBcd TBCDField::GetAsBCD() const {
  TBcd b;
  return GetData(&b) ? b : TBcd{};
}
Currency TBCDField::GetAsCurrency() const {
  TBcd b;
  if (!GetData(&b)) return Currency{};
  Currency c;
  if (!rtl::TryBcdToCurrency(b, c)) AccessError(u"Currency");
  return c;
}
Variant TBCDField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsCurrency());
}
void TBCDField::SetAsCurrency(Currency aValue) {
  TBcd b = rtl::CurrencyToBcd(aValue);
  SetData(&b);
}
void TBCDField::SetAsBCD(const TBcd& aValue) {
  Currency c;
  if (!rtl::TryBcdToCurrency(aValue, c)) InvalidValue();
  SetAsCurrency(c);
}
void TBCDField::SetVarValue(const Variant& aValue) {
  SetAsCurrency(Converted(*this, [&] { return aValue.AsCurrency(); }));
}

UnicodeString TFMTBCDField::GetAsString() const { return IsNull() ? UnicodeString() : rtl::BcdToStr(GetAsBCD()); }
double TFMTBCDField::GetAsFloat() const { return static_cast<double>(rtl::BcdToFloat(GetAsBCD())); }
TBcd TFMTBCDField::GetAsBCD() const {
  TBcd b;
  return GetData(&b) ? b : TBcd{};
}
Currency TFMTBCDField::GetAsCurrency() const {
  Currency c;
  if (!rtl::TryBcdToCurrency(GetAsBCD(), c)) AccessError(u"Currency");
  return c;
}
Variant TFMTBCDField::GetAsVariant() const {
  TBcd b;
  return GetData(&b) ? Variant(b) : Variant::Null();
}
void TFMTBCDField::SetAsBCD(const TBcd& aValue) {
  if (!rtl::BcdIsValid(aValue)) InvalidValue();
  SetData(&aValue);
}
void TFMTBCDField::SetAsString(const UnicodeString& aValue) {
  if (rtl::Trim(aValue).empty()) {
    Clear();
    return;
  }
  TBcd b;
  if (!rtl::TryStrToBcd(aValue, b, rtl::DefaultFormatSettings().DecimalSeparator)) InvalidValue();
  SetAsBCD(b);
}
void TFMTBCDField::SetVarValue(const Variant& aValue) {
  SetAsBCD(Converted(*this, [&] { return aValue.AsBcd(); }));
}

// ---- TBooleanField -------------------------------------------------------------------------------

bool TBooleanField::GetAsBoolean() const {
  uint16_t v = 0;
  return ReadNative(*this, v) && v != 0;
}
UnicodeString TBooleanField::GetAsString() const {
  if (IsNull()) return {};
  return GetAsBoolean() ? u"True" : u"False";
}
Variant TBooleanField::GetAsVariant() const {
  uint16_t v = 0;
  return ReadNative(*this, v) ? Variant(v != 0) : Variant::Null();
}
void TBooleanField::SetAsBoolean(bool aValue) {
  uint16_t v = aValue ? 0xFFFF : 0;
  SetData(&v);
}
void TBooleanField::SetAsString(const UnicodeString& aValue) {
  if (rtl::Trim(aValue).empty()) {
    Clear();
    return;
  }
  bool b;
  if (!rtl::TryStrToBool(rtl::Trim(aValue), b)) InvalidValue();
  SetAsBoolean(b);
}
void TBooleanField::SetVarValue(const Variant& aValue) {
  SetAsBoolean(Converted(*this, [&] { return aValue.AsBoolean(); }));
}

// ---- TDateTimeField ------------------------------------------------------------------------------

rtl::TDateTime TDateTimeField::GetAsDateTime() const {
  if (DataType() == ftDateTime) {
    double ms = 0;
    if (!GetData(&ms)) return 0.0;
    // A stored value beyond any time stamp is no date: refused, never cast out of range.
    if (!std::isfinite(ms) || std::fabs(ms) > 9.0e17) throw rtl::EConvertError(u"Invalid date/time value");
    return rtl::TimeStampToDateTime(rtl::MSecsToTimeStamp(static_cast<int64_t>(std::nearbyint(ms))));
  }
  int32_t v = 0;
  if (!GetData(&v)) return 0.0;
  rtl::TTimeStamp ts;
  if (DataType() == ftDate) {
    ts.Date = v;
  } else {
    ts.Date = rtl::DateDelta;
    ts.Time = v;
  }
  return rtl::TimeStampToDateTime(ts);
}

UnicodeString TDateTimeField::GetAsString() const {
  if (IsNull()) return {};
  rtl::TDateTime d = GetAsDateTime();
  switch (DataType()) {
    case ftDate: return rtl::DateToStr(d);
    case ftTime: return rtl::TimeToStr(d);
    default: return rtl::DateTimeToStr(d);
  }
}

Variant TDateTimeField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant::FromDate(GetAsDateTime());
}

void TDateTimeField::SetAsDateTime(rtl::TDateTime aValue) {
  rtl::TTimeStamp ts;
  if (!rtl::TryDateTimeToTimeStamp(aValue, ts)) InvalidValue();
  if (DataType() == ftDateTime) {
    double ms = static_cast<double>(rtl::TimeStampToMSecs(ts));
    SetData(&ms);
  } else {
    int32_t v = DataType() == ftDate ? ts.Date : ts.Time;
    SetData(&v);
  }
}

void TDateTimeField::SetAsString(const UnicodeString& aValue) {
  if (rtl::Trim(aValue).empty()) {
    Clear();
    return;
  }
  rtl::TDateTime d;
  bool ok = DataType() == ftDate   ? rtl::TryStrToDate(aValue, d)
            : DataType() == ftTime ? rtl::TryStrToTime(aValue, d)
                                   : rtl::TryStrToDateTime(aValue, d);
  if (!ok) InvalidValue();
  SetAsDateTime(d);
}

void TDateTimeField::SetVarValue(const Variant& aValue) {
  if (aValue.IsStr())
    SetAsString(aValue.AsString());
  else
    SetAsDateTime(Converted(*this, [&] { return aValue.AsDate(); }));
}

// ---- TBytesField ---------------------------------------------------------------------------------

std::vector<uint8_t> TBytesField::GetAsBytes() const {
  std::vector<uint8_t> b(static_cast<size_t>(DataSize()));
  if (!GetData(b.data())) return {};
  return b;
}
Variant TBytesField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant::FromBytes(GetAsBytes());
}
UnicodeString TBytesField::GetAsString() const {
  std::vector<uint8_t> b = GetAsBytes();
  return rtl::AnsiToUnicode(AnsiString(std::string(b.begin(), b.end()), rtl::CP_ACP));
}
void TBytesField::SetAsBytes(const std::vector<uint8_t>& aValue) {
  if (aValue.size() > static_cast<size_t>(Size())) InvalidValue();
  std::vector<uint8_t> b(static_cast<size_t>(DataSize()), 0);
  std::copy(aValue.begin(), aValue.end(), b.begin());
  SetData(b.data());
}
void TBytesField::SetVarValue(const Variant& aValue) {
  if (!aValue.IsByteArray()) AccessError(u"Bytes");
  SetAsBytes(aValue.AsBytes());
}

// ---- BLOB fields ---------------------------------------------------------------------------------

namespace {
std::unique_ptr<rtl::TStream> BlobStream(const TField& aField, TBlobStreamMode aMode) {
  if (!aField.DataSet()) DatabaseErrorFmt(kSNoDataSet, {aField.DisplayName()});
  return aField.DataSet()->CreateBlobStream(const_cast<TField*>(&aField), aMode);
}
}  // namespace

int64_t TBlobField::BlobSize() const { return BlobStream(*this, bmRead)->GetSize(); }

void TBlobField::LoadFromStream(rtl::TStream& aStream) {
  int64_t n = aStream.GetSize() - aStream.GetPosition();
  auto s = BlobStream(*this, bmWrite);
  if (n > 0) s->CopyFrom(aStream, n);
}

void TBlobField::SaveToStream(rtl::TStream& aStream) const {
  auto s = BlobStream(*this, bmRead);
  if (s->GetSize() > 0) aStream.CopyFrom(*s, 0);
}

std::vector<uint8_t> TBlobField::GetAsBytes() const {
  auto s = BlobStream(*this, bmRead);
  int64_t size = s->GetSize();
  if (size < 0 || size > std::numeric_limits<int32_t>::max()) InvalidValue();
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  s->SetPosition(0);
  s->ReadBuffer(bytes.data(), size);  // fewer bytes than promised raise EReadError
  return bytes;
}

AnsiString TBlobField::GetAsAnsiString() const {
  std::vector<uint8_t> b = GetAsBytes();
  return AnsiString(std::string(b.begin(), b.end()), rtl::CP_ACP);
}

UnicodeString TBlobField::GetAsString() const { return rtl::AnsiToUnicode(GetAsAnsiString()); }

Variant TBlobField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant::FromBytes(GetAsBytes());
}

void TBlobField::SetAsBytes(const std::vector<uint8_t>& aValue) {
  auto s = BlobStream(*this, bmWrite);
  s->WriteBuffer(aValue.data(), static_cast<int64_t>(aValue.size()));
}

void TBlobField::SetAsAnsiString(const AnsiString& aValue) {
  AnsiString text = rtl::ResolveCodePage(aValue.CodePage()) == rtl::ResolveCodePage(rtl::CP_ACP)
                        ? aValue
                        : rtl::UnicodeToAnsi(rtl::AnsiToUnicode(aValue), rtl::CP_ACP);
  SetAsBytes(std::vector<uint8_t>(text.Bytes().begin(), text.Bytes().end()));
}

void TBlobField::SetAsString(const UnicodeString& aValue) { SetAsAnsiString(rtl::UnicodeToAnsi(aValue, rtl::CP_ACP)); }

void TBlobField::SetVarValue(const Variant& aValue) {
  if (aValue.IsByteArray())
    SetAsBytes(aValue.AsBytes());
  else if (aValue.VarType() == rtl::varString)
    SetAsAnsiString(aValue.RawAnsi());
  else
    SetAsString(Converted(*this, [&] { return aValue.AsString(); }));
}

bool TBlobField::SameKind(const TField& aSource) const {
  return aSource.IsBlob() && aSource.DataType() == DataType();
}

void TBlobField::CopyValue(const TField& aSource) {
  auto from = BlobStream(aSource, bmRead);
  auto to = BlobStream(*this, bmWrite);
  if (from->GetSize() > 0) to->CopyFrom(*from, 0);  // a short source raises EReadError
}

Variant TMemoField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsString());
}

void TMemoField::SetVarValue(const Variant& aValue) {
  if (aValue.VarType() == rtl::varString)
    SetAsAnsiString(aValue.RawAnsi());
  else
    SetAsString(Converted(*this, [&] { return aValue.AsString(); }));
}

UnicodeString TWideMemoField::GetAsString() const {
  std::vector<uint8_t> b = GetAsBytes();
  UnicodeString text(b.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(b[2 * i] | (b[2 * i + 1] << 8));
  return text;
}

AnsiString TWideMemoField::GetAsAnsiString() const { return rtl::UnicodeToAnsi(GetAsString(), rtl::CP_ACP); }

Variant TWideMemoField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsString());
}

void TWideMemoField::SetAsString(const UnicodeString& aValue) {
  std::vector<uint8_t> b(aValue.size() * 2);
  for (size_t i = 0; i < aValue.size(); ++i) {
    b[2 * i] = static_cast<uint8_t>(aValue[i] & 0xFF);
    b[2 * i + 1] = static_cast<uint8_t>(aValue[i] >> 8);
  }
  SetAsBytes(b);
}

void TWideMemoField::SetAsAnsiString(const AnsiString& aValue) { SetAsString(rtl::AnsiToUnicode(aValue)); }

void TWideMemoField::SetVarValue(const Variant& aValue) {
  SetAsString(Converted(*this, [&] { return aValue.AsString(); }));
}

// ---- field classes by type -----------------------------------------------------------------------

namespace {
template <typename T>
std::unique_ptr<TField> Make() {
  return std::make_unique<T>();
}
std::unique_ptr<TField> MakeFixedChar() { return std::make_unique<TStringField>(ftFixedChar); }
}  // namespace

TFieldFactory DefaultFieldClass(TFieldType aType) {
  switch (aType) {
    case ftString: return &Make<TStringField>;
    case ftFixedChar: return &MakeFixedChar;
    case ftWideString: return &Make<TWideStringField>;
    case ftGuid: return &Make<TGuidField>;
    case ftBoolean: return &Make<TBooleanField>;
    case ftShortint: return &Make<TShortintField>;
    case ftByte: return &Make<TByteField>;
    case ftSmallint: return &Make<TSmallintField>;
    case ftWord: return &Make<TWordField>;
    case ftInteger: return &Make<TIntegerField>;
    case ftAutoInc: return &Make<TAutoIncField>;
    case ftLongWord: return &Make<TLongWordField>;
    case ftLargeint: return &Make<TLargeintField>;
    case ftFloat: return &Make<TFloatField>;
    case ftCurrency: return &Make<TCurrencyField>;
    case ftExtended: return &Make<TExtendedField>;
    case ftBCD: return &Make<TBCDField>;
    case ftFMTBcd: return &Make<TFMTBCDField>;
    case ftDate: return &Make<TDateField>;
    case ftTime: return &Make<TTimeField>;
    case ftDateTime: return &Make<TDateTimeField>;
    case ftBytes: return &Make<TBytesField>;
    case ftBlob: return &Make<TBlobField>;
    case ftMemo: return &Make<TMemoField>;
    case ftWideMemo: return &Make<TWideMemoField>;
    case ftGraphic: return &Make<TGraphicField>;
    case ftVariant: return &Make<TVariantField>;
    default: return nullptr;
  }
}

}  // namespace zf::db
