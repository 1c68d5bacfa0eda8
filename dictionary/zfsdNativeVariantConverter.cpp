#include "dictionary/zfsdNativeVariantConverter.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "dictionary/zfsdDateTimeParser.h"
#include "dictionary/zfsdFmtBcd.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "foundation/zfllUtils.h"
#include "platform/locale/locCodePages.h"
#include "platform/locale/locLocales.h"
#include "platform/rtl/rtlGuid.h"

namespace zf {

using rtl::Format;
using rtl::UnicodeString;
using rtl::UnicodeStringView;
using rtl::Variant;

namespace {

constexpr const char* kUnit = "zfsdNativeVariantConverter";
constexpr const char16_t* kOrg = u"<[!\u00FEOrg\u00FE!>";

// Numbers and dates in text are read with the calling thread's locale settings.
const rtl::TFormatSettings& ThreadFormatSettings() { return zfGetLocaleFormatSettings(locale::GetThreadLocale()); }
// The platform's own Variant conversions use the process's settings.
const rtl::TFormatSettings& PlatformFormatSettings() { return rtl::DefaultFormatSettings(); }

// ---- little-endian access ----

template <typename T>
T Load(const uint8_t* p) {
  std::make_unsigned_t<T> v = 0;
  for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<std::make_unsigned_t<T>>(static_cast<std::make_unsigned_t<T>>(p[i]) << (8 * i));
  return static_cast<T>(v);
}
template <typename T>
void Store(uint8_t* p, T aValue) {
  auto v = static_cast<std::make_unsigned_t<T>>(aValue);
  for (size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
// IEEE reals through their bit patterns.
template <typename Real, typename Bits>
Real LoadReal(const uint8_t* p) {
  static_assert(sizeof(Real) == sizeof(Bits));
  return std::bit_cast<Real>(Load<Bits>(p));
}
template <typename Real, typename Bits>
void StoreReal(uint8_t* p, Real aValue) {
  static_assert(sizeof(Real) == sizeof(Bits));
  Store<Bits>(p, std::bit_cast<Bits>(aValue));
}
double LoadDouble(const uint8_t* p) { return LoadReal<double, uint64_t>(p); }
void StoreDouble(uint8_t* p, double d) { StoreReal<double, uint64_t>(p, d); }
float LoadSingle(const uint8_t* p) { return LoadReal<float, uint32_t>(p); }
void StoreSingle(uint8_t* p, float f) { StoreReal<float, uint32_t>(p, f); }

// Byte fills and copies that accept empty ranges (whose pointers may be null).
void ZeroBytes(uint8_t* p, size_t n) {
  if (n) std::memset(p, 0, n);
}
void CopyBytes(uint8_t* aTarget, const void* aSource, size_t n) {
  if (n) std::memcpy(aTarget, aSource, n);
}

// ---- failures ----

[[noreturn]] void RaiseDamaged(UnicodeStringView aDetail) {
  throw EzfBaseException(zfErrFileCorrupt, UnicodeString(kOrg) + u" " + UnicodeString(aDetail));
}

// A code-page conversion that failed (the code page is unknown): the conversion left its reason
// in the thread's last OS error.
[[noreturn]] void RaiseConversion(UnicodeStringView aAction) { zfRaiseLastOSError(aAction); }

[[noreturn]] void RaiseOutOfRange(int64_t aNumber) {
  throw rtl::Exception(Format(u"Value out of range for the target column type: %d", {aNumber}));
}

[[noreturn]] void RaiseTooWide(int64_t aCount, int64_t aCapacity) {
  throw rtl::Exception(Format(u"Source string data is too wide (%d) for the target field (%d)", {aCount, aCapacity}));
}

[[noreturn]] void RaiseTooWideAfterConversion(int64_t aCapacity) {
  throw rtl::Exception(Format(u"Source string data is too wide for the target field (%d)", {aCapacity}));
}

[[noreturn]] void RaiseInvalidChar() { throw EzfBaseException(u"Invalid char format (length must be exactly 1)"); }

[[noreturn]] void RaiseUnhandledType() { rtl::AssertionFailure(kUnit, __LINE__); }

// ---- sizes ----

// The native size of the fixed-size types; 0 for the types whose size is the field's.
int32_t FixedSize(TzfFieldType aType) {
  switch (aType) {
    case zftBoolean: case zftChar: case zftByte: case zftInt8: return 1;
    case zftWideChar: case zftWord16: case zftInt16: return 2;
    case zftWord32: case zftInt32: case zftAutoInc: case zftRecRev: case zftSingle: case zftDate: case zftTime:
      return 4;
    case zftInt64: case zftDouble: case zftCurrency: case zftDateTime: case zftBCD: return 8;
    case zftExtended: return 10;
    case zftGuid: return 16;
    default: return 0;
  }
}

// The fewest bytes a field of the type can have: the fixed size, the terminator or length byte of
// text, the two header bytes of a packed decimal. BLOB content may be empty when read, but a
// written memo needs room for its terminator.
void CheckLength(TzfFieldType aType, int32_t aLength, bool aForWrite) {
  int32_t need = FixedSize(aType);
  switch (aType) {
    case zftNullString: case zftShortString: need = 1; break;
    case zftWideString: need = 2; break;
    case zftFmtBCD: need = 2; break;
    case zftBlobMemo: need = aForWrite ? 1 : 0; break;
    case zftBlobWideMemo: need = aForWrite ? 2 : 0; break;
    default: break;
  }
  if (aLength < need || aLength < 0)
    throw EzfBaseException(zfErrInvalidFieldDesc,
                           Format(u"%s Field of type %d has %d bytes, fewer than its value needs",
                                  {kOrg, static_cast<int32_t>(aType), aLength}));
}

// ---- variant kinds as the conversion rules name them ----

bool IsWideStr(const Variant& v) { return v.VarType() == rtl::varOleStr || v.VarType() == rtl::varUString; }
bool IsAnsiStr(const Variant& v) { return v.VarType() == rtl::varString; }
bool IsTextKind(const Variant& v) { return IsWideStr(v) || IsAnsiStr(v); }
// SmallInt, Integer, Single, Double, Currency, Byte, Word, LongWord and Int64.
bool IsNumericKind(const Variant& v) {
  switch (v.VarType()) {
    case rtl::varSmallint: case rtl::varInteger: case rtl::varSingle: case rtl::varDouble: case rtl::varCurrency:
    case rtl::varByte: case rtl::varWord: case rtl::varLongWord: case rtl::varInt64: return true;
    default: return false;
  }
}

// The number of a Variant cut towards zero; outside [aMin, aMax] (or not a number) it is refused
// with the number shown, saturated to the 64-bit range.
int64_t RangeCheckedNumber(const Variant& v, int64_t aMin, int64_t aMax) {
  long double x = std::trunc(v.AsExtended(ThreadFormatSettings()));
  if (std::isnan(x) || x < static_cast<long double>(aMin) || x > static_cast<long double>(aMax)) {
    int64_t shown = std::isnan(x) ? 0
                    : x >= 9223372036854775807.0L ? INT64_MAX
                    : x <= -9223372036854775808.0L ? INT64_MIN
                                                   : static_cast<int64_t>(x);
    RaiseOutOfRange(shown);
  }
  return static_cast<int64_t>(x);
}

// Auto-increment and record-revision values are 32-bit unsigned: a value outside that range is
// refused, never cut to its low 32 bits.
uint32_t CheckedUInt32(const Variant& v) {
  int64_t n = v.AsInt64(PlatformFormatSettings());
  if (n < 0 || n > UINT32_MAX) RaiseOutOfRange(n);
  return static_cast<uint32_t>(n);
}

// ---- text helpers ----

UnicodeString PadRight(UnicodeString s, int32_t aChars) {
  if (aChars > 0 && static_cast<int32_t>(s.size()) < aChars) s.append(static_cast<size_t>(aChars) - s.size(), u' ');
  return s;
}

void TrimTrailingBlanks(UnicodeString& s) {
  while (!s.empty() && s.back() == u' ') s.pop_back();
}

// Code page 0 is the engine's default: the calling thread's ANSI code page.
uint32_t EngineCodePage(uint16_t aCodePage) { return aCodePage ? aCodePage : zfDefaultCodePage; }

UnicodeString Decode(uint16_t aCodePage, std::string_view aBytes, UnicodeStringView aAction) {
  UnicodeString r;
  if (!locale::BytesToUnicode(EngineCodePage(aCodePage), aBytes, r)) RaiseConversion(aAction);
  return r;
}

std::string Encode(uint16_t aCodePage, UnicodeStringView aText, UnicodeStringView aAction) {
  std::string r;
  if (!locale::UnicodeToBytes(EngineCodePage(aCodePage), aText, r)) RaiseConversion(aAction);
  return r;
}

// The text of a Variant; 8-bit strings are converted from their own code page.
UnicodeString TextOf(const Variant& v, UnicodeStringView aAction) {
  if (IsAnsiStr(v)) return Decode(v.RawAnsi().CodePage(), v.RawAnsi().View(), aAction);
  return v.AsString(PlatformFormatSettings());
}

// 8-bit text of a Variant in the default code page (an 8-bit string already in it keeps its bytes).
std::string SystemAnsiBytes(const Variant& v, UnicodeStringView aAction) {
  if (IsAnsiStr(v) && rtl::ResolveCodePage(v.RawAnsi().CodePage()) == rtl::ResolveCodePage(static_cast<uint16_t>(EngineCodePage(0))))
    return v.RawAnsi().Bytes();
  return Encode(0, TextOf(v, aAction), aAction);
}

// ---- native -> Variant ----

Variant DateTimeFromMSecs(double aMSecs) {
  if (!std::isfinite(aMSecs) || std::fabs(aMSecs) > 9.0e17)
    RaiseDamaged(u"Date/time value is not a number of milliseconds");
  int64_t ms = static_cast<int64_t>(std::nearbyint(aMSecs));
  rtl::TTimeStamp ts = rtl::MSecsToTimeStamp(ms);
  if (!rtl::IsValidTimeStamp(ts)) RaiseDamaged(Format(u"Date/time value %d is before the first day", {ms}));
  return Variant::FromDate(rtl::TimeStampToDateTime(ts));
}

// The zero-terminated 8-bit text of a field. A field must hold its terminator; BLOB content is
// taken whole when it has none.
std::string_view TerminatedBytes(const uint8_t* aBuffer, int32_t aLength, bool aNeedTerminator) {
  const void* z = aLength > 0 ? std::memchr(aBuffer, 0, static_cast<size_t>(aLength)) : nullptr;
  if (!z) {
    if (aNeedTerminator) RaiseDamaged(Format(u"Text field of %d bytes has no terminator", {aLength}));
    return std::string_view(reinterpret_cast<const char*>(aBuffer), static_cast<size_t>(aLength));
  }
  return std::string_view(reinterpret_cast<const char*>(aBuffer),
                          static_cast<size_t>(static_cast<const uint8_t*>(z) - aBuffer));
}

UnicodeString TerminatedWide(const uint8_t* aBuffer, int32_t aLength, bool aNeedTerminator) {
  int32_t units = aLength / 2;
  UnicodeString r;
  for (int32_t i = 0; i < units; ++i) {
    char16_t c = Load<uint16_t>(aBuffer + 2 * i);
    if (c == 0) return r;
    r.push_back(c);
  }
  if (aNeedTerminator) RaiseDamaged(Format(u"Wide text field of %d bytes has no terminator", {aLength}));
  return r;
}

// ---- Variant -> text targets ----

enum class TTextTarget { Ansi, Short, Wide };

void TextToBuffer(TzfFieldType aType, uint16_t aCodePage, int32_t aDecPl, const Variant& v, uint8_t* aBuffer,
                  int32_t aLength) {
  const bool fixed = aDecPl > 0;
  const TTextTarget target = aType == zftShortString ? TTextTarget::Short
                             : (aType == zftWideString || aType == zftBlobWideMemo) ? TTextTarget::Wide
                                                                                    : TTextTarget::Ansi;
  // 1. The source text; an array of bytes is 8-bit text in the system code page for the 8-bit
  // zero-terminated targets.
  bool fromBytes = target == TTextTarget::Ansi && v.IsByteArray();
  UnicodeString text;
  std::string rawBytes;
  if (fromBytes) {
    const auto& b = v.AsBytes();
    rawBytes.assign(b.begin(), b.end());
    if (aCodePage != 0) text = Decode(0, rawBytes, u"NullStringToBuffer/MultiByteToWideChar");
  } else {
    text = TextOf(v, u"NullStringToBuffer/MultiByteToWideChar");
  }
  // 2. Trailing blanks.
  const size_t untrimmed = text.size();
  if (fixed) {
    TrimTrailingBlanks(text);
    if (fromBytes) while (!rawBytes.empty() && rawBytes.back() == ' ') rawBytes.pop_back();
  } else if (!fromBytes) {
    // Only a wide (OLE) string loses them on an 8-bit target: a Unicode or 8-bit string Variant that
    // is too long is refused below, blanks included.
    bool trims = target == TTextTarget::Wide ||
                 (v.VarType() == rtl::varOleStr &&
                  (target == TTextTarget::Ansi || (target == TTextTarget::Short && aCodePage == 0)));
    if (trims) {
      auto tooLong = [&] {
        int64_t n = static_cast<int64_t>(text.size());
        return target == TTextTarget::Wide ? 2 * n >= aLength : n >= aLength;
      };
      while (tooLong() && !text.empty() && text.back() == u' ') text.pop_back();
    }
  }
  const bool trimmed = text.size() != untrimmed;
  // 3. Zero-fill: the terminator and the rest are zero.
  ZeroBytes(aBuffer, static_cast<size_t>(aLength));
  // 4. UTF-16 targets.
  if (target == TTextTarget::Wide) {
    int64_t capacity = aLength - 2;
    int64_t bytes = 2 * static_cast<int64_t>(text.size());
    if (bytes > capacity) RaiseTooWide(bytes, capacity);
    for (size_t i = 0; i < text.size(); ++i) Store<uint16_t>(aBuffer + 2 * i, text[i]);
    return;
  }
  int64_t capacity = aLength - 1;
  if (target == TTextTarget::Short && capacity > 255) capacity = 255;
  std::string bytes;
  if (aCodePage == 0) {
    // 5. The system code page. The converted byte count is what must fit: with a multi-byte
    // system code page there can be more bytes than characters.
    const UnicodeStringView action = target == TTextTarget::Short ? u"ShortStringToBuffer/WideCharToMultiByte"
                                                                  : u"NullStringToBuffer/WideCharToMultiByte";
    if (fromBytes) bytes = rawBytes;
    else if (IsAnsiStr(v) && !trimmed) bytes = SystemAnsiBytes(v, action);
    else bytes = Encode(0, text, action);
    if (static_cast<int64_t>(bytes.size()) > capacity) RaiseTooWide(static_cast<int64_t>(bytes.size()), capacity);
  } else {
    // 6. A named code page, converted straight into the capacity.
    if (text.empty()) return;
    bytes = Encode(aCodePage, text,
                   target == TTextTarget::Short ? u"ShortStringToBuffer/WideCharToMultiByte"
                                                : u"NullStringToBuffer/WideCharToMultiByte");
    if (static_cast<int64_t>(bytes.size()) > capacity) RaiseTooWideAfterConversion(capacity);
  }
  if (target == TTextTarget::Short) {
    aBuffer[0] = static_cast<uint8_t>(bytes.size());
    CopyBytes(aBuffer + 1, bytes.data(), bytes.size());
  } else {
    CopyBytes(aBuffer, bytes.data(), bytes.size());
  }
}

void CharToBuffer(uint16_t aCodePage, const Variant& v, uint8_t* aBuffer) {
  std::string bytes;
  if (aCodePage != 0) {
    UnicodeString text = TextOf(v, u"AnsiCharToBuffer/MultiByteToWideChar");
    if (text.size() != 1) RaiseInvalidChar();
    bytes = Encode(aCodePage, text, u"AnsiCharToBuffer/WideCharToMultiByte");
  } else if (IsTextKind(v)) {
    bytes = SystemAnsiBytes(v, u"AnsiCharToBuffer/WideCharToMultiByte");
  } else if (v.VarType() == rtl::varInteger) {
    bytes.assign(1, static_cast<char>(static_cast<uint8_t>(v.RawInt())));
  }
  if (bytes.size() != 1) RaiseInvalidChar();
  aBuffer[0] = static_cast<uint8_t>(bytes[0]);
}

void WideCharToBuffer(const Variant& v, uint8_t* aBuffer) {
  UnicodeString text = TextOf(v, u"WideCharToBuffer/MultiByteToWideChar");
  if (text.size() != 1) RaiseInvalidChar();
  Store<uint16_t>(aBuffer, text[0]);
}

// The text of a Variant parsed as a date and time with the thread locale's settings.
rtl::TDateTime TextAsDateTime(const Variant& v) {
  return rtl::StrToDateTime(v.AsString(PlatformFormatSettings()), ThreadFormatSettings());
}

rtl::TDateTime DateTimeTargetValue(const Variant& v) {
  if (IsNumericKind(v) && v.AsExtended(PlatformFormatSettings()) == 0)
    throw rtl::Exception(u"0 (zero) is not a valid timestamp");
  return v.AsDate(PlatformFormatSettings());
}

void StoreDateTime(uint8_t* aBuffer, rtl::TDateTime aValue) {
  StoreDouble(aBuffer, static_cast<double>(rtl::TimeStampToMSecs(rtl::DateTimeToTimeStamp(aValue))));
}

long double RealOfVariant(const Variant& v) {
  if (IsNumericKind(v)) return v.AsExtended(PlatformFormatSettings());
  return rtl::StrToFloat(v.AsString(PlatformFormatSettings()), ThreadFormatSettings());
}

void GuidToBuffer(const Variant& v, uint8_t* aBuffer) {
  rtl::GUIDToBytes(rtl::StringToGUID(v.AsString(PlatformFormatSettings())), aBuffer);
}

}  // namespace

bool VariantIsEmptyOrNull(const Variant& aVariant) { return aVariant.IsEmptyOrNull(); }

void VariantFromBuffer(TzfFieldType aFieldType, uint16_t aCodePage, int32_t aUnits, int32_t aDecPl,
                       const uint8_t* aBuffer, int32_t aLength, Variant& aVariant) {
  if (!zfIsValidFieldType(aFieldType) || aFieldType == zftInterval) RaiseUnhandledType();
  CheckLength(aFieldType, aLength, false);
  const uint8_t* b = aBuffer;
  switch (aFieldType) {
    case zftBoolean: aVariant = Variant(b[0] != 0); break;
    case zftChar:
      if (aCodePage == 0 || b[0] == 0) {
        aVariant = Variant::FromOleStr(UnicodeString(1, static_cast<char16_t>(b[0])));
      } else {
        UnicodeString s = Decode(aCodePage, std::string_view(reinterpret_cast<const char*>(b), 1),
                                 u"VariantFromPAnsiChar/MultiByteToWideChar");
        aVariant = Variant::FromOleStr(s.substr(0, 1));
      }
      break;
    case zftWideChar: aVariant = Variant::FromOleStr(UnicodeString(1, static_cast<char16_t>(Load<uint16_t>(b)))); break;
    case zftByte: aVariant = Variant(static_cast<int32_t>(b[0])); break;
    case zftWord16: aVariant = Variant(static_cast<int32_t>(Load<uint16_t>(b))); break;
    case zftInt8: aVariant = Variant(static_cast<int32_t>(static_cast<int8_t>(b[0]))); break;
    case zftInt16: aVariant = Variant(static_cast<int32_t>(Load<int16_t>(b))); break;
    case zftInt32: aVariant = Variant(Load<int32_t>(b)); break;
    case zftWord32: case zftAutoInc: case zftRecRev: {
      uint32_t u = Load<uint32_t>(b);
      aVariant = u < 0x80000000u ? Variant(static_cast<int32_t>(u)) : Variant(static_cast<double>(u));
      break;
    }
    case zftInt64: aVariant = Variant(Load<int64_t>(b)); break;
    case zftSingle: aVariant = Variant(static_cast<double>(LoadSingle(b))); break;
    case zftDouble: aVariant = Variant(LoadDouble(b)); break;
    case zftExtended: aVariant = Variant(static_cast<double>(rtl::ExtendedFromBytes(b))); break;
    case zftCurrency: case zftBCD: aVariant = Variant(rtl::Currency{Load<int64_t>(b)}); break;
    case zftDate: aVariant = Variant::FromDate(static_cast<double>(int64_t{Load<int32_t>(b)} - rtl::DateDelta)); break;
    case zftTime: aVariant = Variant::FromDate(static_cast<double>(Load<int32_t>(b)) / rtl::MSecsPerDay); break;
    case zftDateTime: aVariant = DateTimeFromMSecs(LoadDouble(b)); break;
    case zftBlob: case zftBlobGraphic: case zftByteArray:
      aVariant = Variant::FromBytes(TByteDynArray(b, b + aLength));
      break;
    case zftBlobMemo: case zftNullString: {
      std::string_view bytes = TerminatedBytes(b, aLength, aFieldType == zftNullString);
      UnicodeString s = bytes.empty() ? UnicodeString()
                                      : Decode(aCodePage, bytes, u"VariantFromNullStringPtr/MultiByteToWideChar/1");
      aVariant = Variant::FromOleStr(PadRight(std::move(s), aDecPl));
      break;
    }
    case zftShortString: {
      int32_t n = b[0];
      if (n > aLength - 1) RaiseDamaged(Format(u"Short string length %d exceeds its field of %d bytes", {n, aLength}));
      UnicodeString s = n == 0 ? UnicodeString()
                               : Decode(aCodePage, std::string_view(reinterpret_cast<const char*>(b + 1), static_cast<size_t>(n)),
                                        u"VariantFromNullStringPtr/MultiByteToWideChar/1");
      aVariant = Variant::FromOleStr(PadRight(std::move(s), aDecPl));
      break;
    }
    case zftWideString: case zftBlobWideMemo:
      aVariant = Variant::FromOleStr(PadRight(TerminatedWide(b, aLength, aFieldType == zftWideString), aDecPl));
      break;
    case zftGuid: aVariant = Variant::FromOleStr(rtl::GUIDToString(rtl::GUIDFromBytes(b))); break;
    case zftFmtBCD: {
      rtl::TBcd bcd;
      if (!zfFmtBcdFromBytes(b, aLength, bcd)) RaiseDamaged(u"Packed decimal value is not valid");
      zfBcdToVariant(aVariant, bcd);
      break;
    }
    default: RaiseUnhandledType();
  }
}

void VariantToBuffer(TzfFieldType aFieldType, uint16_t aCodePage, int32_t aUnits, int32_t aDecPl,
                     const Variant& aVariant, uint8_t* aBuffer, int32_t aLength) {
  if (!zfIsValidFieldType(aFieldType) || aFieldType == zftInterval || aFieldType == zftBlob ||
      aFieldType == zftBlobGraphic)
    RaiseUnhandledType();
  CheckLength(aFieldType, aLength, true);
  const Variant& v = aVariant;
  uint8_t* b = aBuffer;
  switch (aFieldType) {
    case zftBoolean: b[0] = v.AsBoolean(PlatformFormatSettings()) ? 1 : 0; break;
    case zftChar: CharToBuffer(aCodePage, v, b); break;
    case zftWideChar: WideCharToBuffer(v, b); break;
    case zftByte: b[0] = static_cast<uint8_t>(RangeCheckedNumber(v, 0, UINT8_MAX)); break;
    case zftWord16: Store<uint16_t>(b, static_cast<uint16_t>(RangeCheckedNumber(v, 0, UINT16_MAX))); break;
    case zftWord32: Store<uint32_t>(b, static_cast<uint32_t>(RangeCheckedNumber(v, 0, UINT32_MAX))); break;
    case zftInt8: b[0] = static_cast<uint8_t>(static_cast<int8_t>(RangeCheckedNumber(v, INT8_MIN, INT8_MAX))); break;
    case zftInt16: Store<int16_t>(b, static_cast<int16_t>(RangeCheckedNumber(v, INT16_MIN, INT16_MAX))); break;
    case zftInt32:
      Store<int32_t>(b, v.VarType() == rtl::varInteger ? static_cast<int32_t>(v.RawInt())
                                                        : static_cast<int32_t>(RangeCheckedNumber(v, INT32_MIN, INT32_MAX)));
      break;
    case zftInt64: {
      int64_t n;
      switch (v.VarType()) {
        case rtl::varSingle: case rtl::varDouble: case rtl::varDate:
          n = RangeCheckedNumber(v, INT64_MIN, INT64_MAX);
          break;
        case rtl::varCurrency: n = v.RawInt() / 10000; break;
        case rtl::varInt64: n = v.RawInt(); break;
        default: n = v.AsInt64(PlatformFormatSettings()); break;
      }
      Store<int64_t>(b, n);
      break;
    }
    case zftAutoInc: case zftRecRev: Store<uint32_t>(b, CheckedUInt32(v)); break;
    case zftSingle: StoreSingle(b, static_cast<float>(RealOfVariant(v))); break;
    case zftDouble: StoreDouble(b, static_cast<double>(RealOfVariant(v))); break;
    case zftExtended: rtl::ExtendedToBytes(RealOfVariant(v), b); break;
    case zftCurrency: Store<int64_t>(b, v.AsCurrency(PlatformFormatSettings()).Value); break;
    case zftDate: {
      rtl::TDateTime d = IsTextKind(v) && v.VarType() != rtl::varUString ? TextAsDateTime(v) : v.AsDate(PlatformFormatSettings());
      Store<int32_t>(b, rtl::DateTimeToTimeStamp(d).Date);
      break;
    }
    case zftTime: {
      rtl::TDateTime d = v.VarType() == rtl::varOleStr ? TextAsDateTime(v) : v.AsDate(PlatformFormatSettings());
      Store<int32_t>(b, rtl::DateTimeToTimeStamp(d).Time);
      break;
    }
    case zftDateTime:
      StoreDateTime(b, v.VarType() == rtl::varOleStr ? TextAsDateTime(v) : DateTimeTargetValue(v));
      break;
    case zftBlobMemo: case zftNullString: case zftShortString: case zftWideString: case zftBlobWideMemo:
      TextToBuffer(aFieldType, aCodePage, aDecPl, v, b, aLength);
      break;
    case zftByteArray: {
      ZeroBytes(b, static_cast<size_t>(aLength));
      if (v.IsByteArray()) {
        const auto& bytes = v.AsBytes();
        if (static_cast<int64_t>(bytes.size()) > aLength) RaiseTooWide(static_cast<int64_t>(bytes.size()), aLength);
        CopyBytes(b, bytes.data(), bytes.size());
      }
      break;
    }
    case zftGuid: GuidToBuffer(v, b); break;
    case zftBCD: {
      Variant value = IsTextKind(v)
                          ? Variant(static_cast<double>(rtl::StrToFloat(v.AsString(PlatformFormatSettings()), ThreadFormatSettings())))
                          : v;
      Store<int64_t>(b, zfVariantToBcdCurrency(value, static_cast<uint16_t>(aUnits), static_cast<uint16_t>(aDecPl)));
      break;
    }
    case zftFmtBCD:
      zfVariantToFmtBcdBytes(v, static_cast<uint16_t>(aUnits), static_cast<uint16_t>(aDecPl), b, aLength);
      break;
    default: RaiseUnhandledType();
  }
}

void VariantToByteArray(TzfFieldType aFieldType, uint16_t aCodePage, int32_t aUnits, int32_t aDecPl,
                        TByteDynArray& aBytes, const Variant& aVariant) {
  const Variant& v = aVariant;
  if (v.IsNull()) {
    aBytes.clear();
    return;
  }
  if (!zfIsValidFieldType(aFieldType) || aFieldType == zftInterval || aFieldType == zftBlobGraphic) {
    aBytes.clear();
    RaiseUnhandledType();
  }
  const bool fixed = aDecPl > 0;
  auto sized = [&](int32_t n) -> uint8_t* {
    aBytes.assign(static_cast<size_t>(n), 0);
    return aBytes.data();
  };
  auto textOf = [&] {
    UnicodeString t = TextOf(v, u"VariantToByteArray/MultiByteToWideChar");
    if (fixed) TrimTrailingBlanks(t);
    return t;
  };
  switch (aFieldType) {
    case zftByte: *sized(1) = static_cast<uint8_t>(v.AsInteger(PlatformFormatSettings())); break;
    case zftInt8: *sized(1) = static_cast<uint8_t>(v.AsInteger(PlatformFormatSettings())); break;
    case zftWord16: case zftInt16:
      Store<uint16_t>(sized(2), static_cast<uint16_t>(v.AsInteger(PlatformFormatSettings())));
      break;
    case zftInt32:
      Store<int32_t>(sized(4), v.VarType() == rtl::varLongWord ? static_cast<int32_t>(v.AsInt64(PlatformFormatSettings()))
                                                               : v.AsInteger(PlatformFormatSettings()));
      break;
    case zftWord32: Store<uint32_t>(sized(4), static_cast<uint32_t>(v.AsInt64(PlatformFormatSettings()))); break;
    case zftAutoInc: case zftRecRev: Store<uint32_t>(sized(4), CheckedUInt32(v)); break;
    case zftSingle: StoreSingle(sized(4), static_cast<float>(v.AsExtended(PlatformFormatSettings()))); break;
    case zftDouble: StoreDouble(sized(8), static_cast<double>(v.AsExtended(PlatformFormatSettings()))); break;
    case zftExtended: rtl::ExtendedToBytes(v.AsExtended(PlatformFormatSettings()), sized(10)); break;
    case zftBCD:
      Store<int64_t>(sized(8), zfVariantToBcdCurrency(v, static_cast<uint16_t>(aUnits), static_cast<uint16_t>(aDecPl)));
      break;
    case zftDate: {
      rtl::TDateTime d = IsTextKind(v) ? zfVariantToDate(v) : v.AsDate(PlatformFormatSettings());
      Store<int32_t>(sized(4), rtl::DateTimeToTimeStamp(d).Date);
      break;
    }
    case zftTime: {
      rtl::TDateTime d = IsTextKind(v) ? zfVariantToTime(v) : v.AsDate(PlatformFormatSettings());
      Store<int32_t>(sized(4), rtl::DateTimeToTimeStamp(d).Time);
      break;
    }
    case zftDateTime:
      StoreDateTime(sized(8), IsTextKind(v) ? zfVariantToDateTime(v) : DateTimeTargetValue(v));
      break;
    case zftBoolean: case zftChar: case zftWideChar: case zftInt64: case zftCurrency: case zftGuid:
      VariantToBuffer(aFieldType, aCodePage, aUnits, aDecPl, v, sized(FixedSize(aFieldType)), FixedSize(aFieldType));
      break;
    case zftFmtBCD: {
      int32_t n = zfFmtBcdStorageLength(aUnits);
      VariantToBuffer(aFieldType, aCodePage, aUnits, aDecPl, v, sized(n), n);
      break;
    }
    case zftNullString: case zftBlobMemo: {
      UnicodeString t = textOf();
      std::string bytes = aCodePage == 0 && !fixed && IsAnsiStr(v)
                              ? SystemAnsiBytes(v, u"NullStringToBuffer/WideCharToMultiByte/1")
                              : Encode(aCodePage, t, u"NullStringToBuffer/WideCharToMultiByte/1");
      aBytes.assign(bytes.begin(), bytes.end());
      aBytes.push_back(0);
      break;
    }
    case zftShortString: {
      UnicodeString t = textOf();
      std::string bytes = Encode(aCodePage, t, u"ShortStringToBuffer/WideCharToMultiByte/1");
      if (bytes.size() > 255) RaiseTooWide(static_cast<int64_t>(bytes.size()), 255);
      aBytes.assign(1, static_cast<uint8_t>(bytes.size()));
      aBytes.insert(aBytes.end(), bytes.begin(), bytes.end());
      break;
    }
    case zftWideString: case zftBlobWideMemo: {
      UnicodeString t = textOf();
      aBytes.assign(2 * t.size() + 2, 0);
      for (size_t i = 0; i < t.size(); ++i) Store<uint16_t>(aBytes.data() + 2 * i, t[i]);
      break;
    }
    case zftByteArray:
      if (v.IsByteArray()) aBytes = v.AsBytes();
      else aBytes.clear();
      break;
    case zftBlob: break;  // left unchanged
    default:
      aBytes.clear();
      RaiseUnhandledType();
  }
}

}  // namespace zf
