#include "mapping/zfsdTextSourceMapper.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFmtBcd.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllUtils.h"
#include "mapping/zfsdStringMapper.h"
#include "platform/locale/locCodePages.h"
#include "platform/os/osSystem.h"
#include "platform/rtl/rtlDateTime.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlGuid.h"
#include "platform/rtl/rtlNumber.h"

namespace zf {

namespace {

constexpr uint32_t kSystemDefaultLocale = 2048;
// The longest text the parsers take from a NullString, and the longest 8-bit form of a wide text
// parsed as 8-bit text.
constexpr size_t kMaxParsedUnits = 254;
constexpr int32_t kMaxParsedBytes = 255;

constexpr TzfFieldType kTargets[] = {
    zftBoolean, zftChar,     zftWideChar, zftByte,     zftWord16, zftWord32, zftInt8,     zftInt16,
    zftInt32,   zftInt64,    zftAutoInc,  zftSingle,   zftDouble, zftExtended, zftCurrency, zftDate,
    zftTime,    zftDateTime, zftByteArray, zftRecRev,  zftGuid,   zftBCD};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}
bool IsLetterWord(rtl::UnicodeStringView aText, std::initializer_list<const char16_t*> aWords) {
  for (const char16_t* w : aWords)
    if (rtl::SameText(aText, w)) return true;
  return false;
}

// The method name a conversion error names for a target.
const char16_t* TargetMethodName(TzfFieldType aTarget) {
  switch (aTarget) {
    case zftBoolean: return u"ToBoolean";
    case zftChar: return u"ToAnsiChar";
    case zftWideChar: return u"ToWideChar";
    case zftByte: return u"ToByte";
    case zftWord16: return u"ToWord16";
    case zftWord32: case zftAutoInc: case zftRecRev: return u"ToWord32";
    case zftInt8: return u"ToInt8";
    case zftInt16: return u"ToInt16";
    case zftInt32: return u"ToInt32";
    case zftInt64: return u"ToInt64";
    case zftSingle: return u"ToSingle";
    case zftDouble: return u"ToDouble";
    case zftExtended: return u"ToExtended";
    case zftCurrency: return u"ToCurrency";
    case zftDate: return u"ToDate";
    case zftTime: return u"ToTime";
    case zftDateTime: return u"ToDateTime";
    case zftGuid: return u"ToGuid";
    case zftBCD: return u"ToBcd";
    default: return u"ToByteArray";
  }
}

// Targets whose parse a NullString text longer than kMaxParsedUnits cannot feed: the numbers but
// Byte, the dates and times; on the decoding path every parsed target.
bool LimitedTarget(TzfFieldType aTarget, bool aDecoding) {
  switch (aTarget) {
    case zftByteArray: case zftChar: case zftWideChar: return false;
    case zftByte: case zftBoolean: case zftBCD: case zftGuid: return aDecoding;
    default: return true;
  }
}

template <class T>
T Clamp(int64_t aValue) {
  if (aValue < std::numeric_limits<T>::min()) return std::numeric_limits<T>::min();
  if (aValue > std::numeric_limits<T>::max()) return std::numeric_limits<T>::max();
  return static_cast<T>(aValue);
}

void StoreDateTime(uint8_t* aTarget, double aValue) { std::memcpy(aTarget, &aValue, sizeof aValue); }

}  // namespace

// ---- Parsers ------------------------------------------------------------------------------------

bool zfParseTextInteger(rtl::UnicodeStringView aText, bool a64Bit, int64_t& aValue) {
  size_t i = 0;
  while (i < aText.size() && aText[i] == u' ') ++i;
  bool negative = false;
  if (i < aText.size() && (aText[i] == u'+' || aText[i] == u'-')) negative = aText[i++] == u'-';
  bool hex = false;
  if (i < aText.size() && (aText[i] == u'$' || aText[i] == u'x' || aText[i] == u'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < aText.size() && aText[i] == u'0' && (aText[i + 1] == u'x' || aText[i + 1] == u'X')) {
    hex = true;
    i += 2;
  }
  const uint64_t base = hex ? 16 : 10;
  // The largest magnitude: the bit pattern for hexadecimal, the signed range for decimal.
  const uint64_t limit = hex ? (a64Bit ? UINT64_MAX : UINT32_MAX)
                             : (a64Bit ? uint64_t{INT64_MAX} + (negative ? 1 : 0)
                                       : uint64_t{INT32_MAX} + (negative ? 1 : 0));
  uint64_t magnitude = 0;
  size_t digits = 0;
  bool valid = true;
  for (; i < aText.size(); ++i) {
    const int d = hex ? HexValue(aText[i]) : (IsDigit(aText[i]) ? aText[i] - u'0' : -1);
    if (d < 0 || magnitude > (limit - static_cast<uint64_t>(d)) / base) {
      valid = false;
      break;
    }
    magnitude = magnitude * base + static_cast<uint64_t>(d);
    ++digits;
  }
  if (digits == 0) valid = false;
  if (!valid) {
    aValue = static_cast<int64_t>(magnitude);  // the digits read, without the sign
    return false;
  }
  if (hex && !a64Bit) magnitude = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(magnitude)));
  aValue = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

bool zfParseTextFloat(rtl::UnicodeStringView aText, long double& aValue) {
  size_t i = 0;
  while (i < aText.size() && aText[i] == u' ') ++i;
  std::string ascii;  // the valid leading part, for the conversion
  if (i < aText.size() && (aText[i] == u'+' || aText[i] == u'-')) {
    if (aText[i] == u'-') ascii += '-';
    ++i;
  }
  size_t mantissaDigits = 0;
  int32_t order = 0;  // decimal position of the first non-zero digit, for telling overflow apart
  bool seenNonZero = false;
  auto mantissa = [&](bool aFraction) {
    while (i < aText.size() && IsDigit(aText[i])) {
      if (aText[i] != u'0' && !seenNonZero) seenNonZero = true;
      if (!aFraction && seenNonZero) ++order;
      if (aFraction && !seenNonZero) --order;
      ascii += static_cast<char>(aText[i++]);
      ++mantissaDigits;
    }
  };
  mantissa(false);
  if (i < aText.size() && aText[i] == u'.') {
    ascii += '.';
    ++i;
    mantissa(true);
  }
  bool valid = mantissaDigits > 0;
  if (valid && i < aText.size() && (aText[i] == u'e' || aText[i] == u'E')) {
    // The exponent belongs to the number only with digits of its own.
    size_t j = i + 1;
    std::string exponent = "e";
    if (j < aText.size() && (aText[j] == u'+' || aText[j] == u'-')) exponent += static_cast<char>(aText[j++]);
    const size_t first = j;
    while (j < aText.size() && IsDigit(aText[j])) exponent += static_cast<char>(aText[j++]);
    if (j > first) {
      ascii += exponent;
      int64_t e = 0;
      for (size_t k = first; k < j && e < 100000; ++k) e = e * 10 + (aText[k] - u'0');
      order += static_cast<int32_t>(aText[first - 1] == u'-' ? -e : e);
      i = j;
    } else {
      valid = false;
    }
  }
  if (i < aText.size()) valid = false;
  aValue = 0;
  if (mantissaDigits == 0) return false;
  long double v = 0;
  const auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), v);
  if (ec == std::errc::result_out_of_range) {
    // Too large gives the infinity of its sign, too small gives 0.
    v = order > 0 ? std::numeric_limits<long double>::infinity() : 0.0L;
    if (!ascii.empty() && ascii[0] == '-') v = -v;
  }
  (void)end;
  aValue = v;
  return valid;
}

// ---- TzfTextSourceMapperBase --------------------------------------------------------------------

namespace {

// The method table: by target type and action.
template <bool BF>
TzfMappingMethod MethodFor(TzfTextSourceMapperBase* aSelf, TzfFieldType aTarget) {
  using B = TzfTextSourceMapperBase;
  switch (aTarget) {
#define ZF_TARGET(T) \
  case T: return zfMapperMethod<&B::template To<T, BF>>(aSelf);
    ZF_TARGET(zftBoolean)
    ZF_TARGET(zftChar)
    ZF_TARGET(zftWideChar)
    ZF_TARGET(zftByte)
    ZF_TARGET(zftWord16)
    ZF_TARGET(zftWord32)
    ZF_TARGET(zftInt8)
    ZF_TARGET(zftInt16)
    ZF_TARGET(zftInt32)
    ZF_TARGET(zftInt64)
    ZF_TARGET(zftAutoInc)
    ZF_TARGET(zftSingle)
    ZF_TARGET(zftDouble)
    ZF_TARGET(zftExtended)
    ZF_TARGET(zftCurrency)
    ZF_TARGET(zftDate)
    ZF_TARGET(zftTime)
    ZF_TARGET(zftDateTime)
    ZF_TARGET(zftByteArray)
    ZF_TARGET(zftRecRev)
    ZF_TARGET(zftGuid)
    ZF_TARGET(zftBCD)
#undef ZF_TARGET
    default: return {};
  }
}

}  // namespace

TzfTextSourceMapperBase::TzfTextSourceMapperBase(TzfFieldDescriptor& aSourceField, TzfFieldDescriptor& aTargetField,
                                                 const TzfFieldMapperDescriptor* aMapperDesc,
                                                 TzfMappingMethod& aMapper, const char16_t* aClassName)
    : tsSourceType(aSourceField.fdType),
      tsSourceUnits(zfTextFieldRoom(aSourceField)),
      tsSourceLength(aSourceField.fdLength),
      tsTargetLength(aTargetField.fdLength),
      tsSourceCodepage(aSourceField.fdType == zftWideString ? uint16_t{0} : aSourceField.GetStorageCodePage()),
      tsTargetCodepage(aTargetField.GetStorageCodePage()),
      tsTargetUnits(aTargetField.fdUnits),
      tsTargetDecPl(aTargetField.fdDecPl),
      tsDecoding(false),
      tsClassName(aClassName) {
  TzfLocaleDescriptor* locale = aSourceField.GetUsedLocaleDescriptor();
  tsFormatSettings =
      zfGetLocaleFormatSettings(locale && locale->ldLocale != 0 ? locale->ldLocale : kSystemDefaultLocale);
  if (tsSourceType != zftWideString && tsSourceCodepage != 0 && tsTargetCodepage != 0) {
    bool multiByte = false;
    locale::TCPInfo info;
    if (!locale::GetCPInfo(tsSourceCodepage, info))
      zfRaiseConversionError((rtl::UnicodeString(aClassName) + u".Create").c_str(), u"GetCPInfo");
    multiByte = info.MaxCharSize > 1;
    const bool character = aTargetField.fdType == zftChar || aTargetField.fdType == zftWideChar;
    tsDecoding = (character && tsSourceCodepage != tsTargetCodepage) ||
                 (multiByte && aTargetField.fdLength < aSourceField.fdLength);
  }
  aMapper = zfIsBestFit(aMapperDesc) ? MethodFor<true>(this, aTargetField.fdType)
                                     : MethodFor<false>(this, aTargetField.fdType);
}

void TzfTextSourceMapperBase::RaiseDecodeError(TzfFieldType aTarget, const char16_t* aCall) {
  rtl::UnicodeString action = rtl::UnicodeString(tsClassName) + u"." + TargetMethodName(aTarget);
  if (tsDecoding) action += u"Convert";
  zfRaiseConversionError(action.c_str(), aCall);
}

bool TzfTextSourceMapperBase::ParseText(const uint8_t* aSource, TzfFieldType aTarget, rtl::UnicodeString& aText) {
  aText.clear();
  if (tsSourceType == zftWideString) {
    aText = zfWideFieldText(aSource, tsSourceUnits);
    // Boolean, Byte and BCD read the text's 8-bit form in the process's ANSI code page.
    if ((aTarget == zftBoolean || aTarget == zftByte || aTarget == zftBCD) && !aText.empty()) {
      std::string bytes;
      switch (zfEncodeText(0, aText, bytes, kMaxParsedBytes)) {
        case TzfEncodeResult::erOk: break;
        case TzfEncodeResult::erNoRoom: return false;
        case TzfEncodeResult::erFailed: RaiseDecodeError(aTarget, u"WidecharToMultiByte");
      }
    }
    return true;
  }
  const std::string_view bytes = zfAnsiFieldText(tsSourceType, aSource, tsSourceUnits);
  if (bytes.empty()) return true;
  const bool limited = (tsSourceType == zftNullString && LimitedTarget(aTarget, tsDecoding)) ||
                       (tsSourceType == zftShortString && tsDecoding);
  const uint16_t codepage = tsDecoding ? tsSourceCodepage : uint16_t{0};
  if (!zfDecodeText(codepage, bytes, aText, limited ? kMaxParsedUnits : SIZE_MAX)) {
    if (os::GetLastError() == ENOBUFS) return false;
    RaiseDecodeError(aTarget, u"MultiByteToWideChar");
  }
  return true;
}

uint32_t TzfTextSourceMapperBase::ToByteArray(const uint8_t* aSource, uint8_t* aTarget, bool aBestFit) {
  std::string bytes;
  if (tsSourceType == zftWideString) {
    const rtl::UnicodeString text = zfWideFieldText(aSource, tsSourceUnits);
    bytes.resize(2 * text.size());
    for (size_t i = 0; i < text.size(); ++i) zfStoreLE<uint16_t>(reinterpret_cast<uint8_t*>(bytes.data()) + 2 * i, text[i]);
  } else {
    bytes = zfAnsiFieldText(tsSourceType, aSource, tsSourceUnits);
  }
  const size_t room = static_cast<size_t>(std::max(tsTargetLength, 0));
  if (bytes.size() > room) {
    if (!aBestFit) return zfErrInvalidFieldXForm;
    bytes.resize(room);
  }
  if (!bytes.empty()) std::memcpy(aTarget, bytes.data(), bytes.size());
  return 0;
}

uint32_t TzfTextSourceMapperBase::ToChar(const uint8_t* aSource, uint8_t* aTarget) {
  if (tsSourceType != zftWideString && !tsDecoding) {
    const std::string_view bytes = zfAnsiFieldText(tsSourceType, aSource, tsSourceUnits);
    aTarget[0] = bytes.empty() ? 0 : static_cast<uint8_t>(bytes[0]);
    return 0;
  }
  rtl::UnicodeString text;
  if (tsSourceType == zftWideString) {
    text = zfWideFieldText(aSource, tsSourceUnits);
  } else {
    const std::string_view bytes = zfAnsiFieldText(tsSourceType, aSource, tsSourceUnits);
    if (!bytes.empty() && !zfDecodeText(tsSourceCodepage, bytes, text, SIZE_MAX))
      RaiseDecodeError(zftChar, u"MultiByteToWideChar");
  }
  if (text.empty()) {
    aTarget[0] = 0;
    return 0;
  }
  // The first character (a surrogate pair is one) in the target code page.
  const size_t count = text.size() > 1 && text[0] >= 0xD800 && text[0] <= 0xDBFF ? 2 : 1;
  std::string bytes;
  if (zfEncodeText(tsTargetCodepage, rtl::UnicodeStringView(text).substr(0, count), bytes, 16) !=
      TzfEncodeResult::erOk)
    RaiseDecodeError(zftChar, u"WidecharToMultiByte");
  aTarget[0] = bytes.empty() ? 0 : static_cast<uint8_t>(bytes[0]);
  return 0;
}

uint32_t TzfTextSourceMapperBase::ToWideChar(const uint8_t* aSource, uint8_t* aTarget, bool aBestFit) {
  rtl::UnicodeString text;
  if (tsSourceType == zftWideString) {
    text = zfWideFieldText(aSource, tsSourceUnits);
    if (!aBestFit && text.size() > 1) return zfErrInvalidFieldXForm;
  } else {
    const std::string_view bytes = zfAnsiFieldText(tsSourceType, aSource, tsSourceUnits);
    if (!bytes.empty() && !zfDecodeText(tsSourceCodepage, bytes, text, SIZE_MAX))
      RaiseDecodeError(zftWideChar, u"MultiByteToWideChar");
  }
  zfStoreLE<uint16_t>(aTarget, text.empty() ? 0 : text[0]);
  return 0;
}

template <TzfFieldType T, bool BF>
uint32_t TzfTextSourceMapperBase::To(const uint8_t* aSource, uint8_t* aTarget) {
  if constexpr (T == zftByteArray) {
    return ToByteArray(aSource, aTarget, BF);
  } else if constexpr (T == zftChar) {
    return ToChar(aSource, aTarget);
  } else if constexpr (T == zftWideChar) {
    return ToWideChar(aSource, aTarget, BF);
  } else {
    rtl::UnicodeString text;
    if (!ParseText(aSource, T, text)) return zfErrInvalidFieldXForm;
    if constexpr (T == zftBoolean) {
      if (text == u"1" || IsLetterWord(text, {u"Y", u"Yes", u"T", u"True"})) {
        aTarget[0] = 0xFF;
      } else if (BF || text == u"0" || IsLetterWord(text, {u"N", u"No", u"F", u"False"})) {
        aTarget[0] = 0x00;
      } else {
        return zfErrInvalidFieldXForm;
      }
      return 0;
    } else if constexpr (T == zftInt8 || T == zftInt16 || T == zftWord16 || T == zftInt32 || T == zftInt64) {
      using V = std::conditional_t<T == zftInt8, int8_t,
                std::conditional_t<T == zftInt16, int16_t,
                std::conditional_t<T == zftWord16, uint16_t,
                std::conditional_t<T == zftInt32, int32_t, int64_t>>>>;
      int64_t value = 0;
      const bool valid = zfParseTextInteger(text, T == zftInt64, value);
      if (!BF && (!valid || !std::in_range<V>(value))) return zfErrInvalidFieldXForm;
      zfStoreLE<V>(aTarget, Clamp<V>(value));
      return 0;
    } else if constexpr (T == zftWord32 || T == zftAutoInc || T == zftRecRev) {
      int64_t value = 0;
      const bool valid = zfParseTextInteger(text, true, value);
      if (!std::in_range<uint32_t>(value)) rtl::RaiseRangeError();
      if (!BF && !valid) return zfErrInvalidFieldXForm;
      zfStoreLE<uint32_t>(aTarget, static_cast<uint32_t>(value));
      return 0;
    } else if constexpr (T == zftByte) {
      int64_t value = 0;
      if (!zfParseTextInteger(text, false, value)) value = 0;
      if (!std::in_range<uint8_t>(value)) {
        if (BF) rtl::RaiseRangeError();
        return zfErrInvalidFieldXForm;
      }
      aTarget[0] = static_cast<uint8_t>(value);
      return 0;
    } else if constexpr (T == zftSingle || T == zftDouble || T == zftExtended) {
      long double value = 0;
      const bool valid = zfParseTextFloat(text, value);
      if (!BF && !valid) return zfErrInvalidFieldXForm;
      if constexpr (T == zftExtended) {
        if (!std::isfinite(value)) {
          if (!BF) return zfErrInvalidFieldXForm;
          value = std::copysign(std::numeric_limits<long double>::max(), value);
        }
        rtl::ExtendedToBytes(value, aTarget);
      } else {
        using F = std::conditional_t<T == zftSingle, float, double>;
        constexpr long double kMax = std::numeric_limits<F>::max();
        if (!(std::fabs(value) <= kMax)) {
          if (!BF) return zfErrInvalidFieldXForm;
          value = std::copysign(kMax, value);
        }
        const F f = static_cast<F>(value);
        std::memcpy(aTarget, &f, sizeof f);
      }
      return 0;
    } else if constexpr (T == zftCurrency) {
      long double parsed = 0;
      if (!zfParseTextFloat(text, parsed)) {
        if (!BF) return zfErrInvalidFieldXForm;
        parsed = 0;
      }
      // Scaled as an 8-byte float and rounded to the nearest (ties to even).
      const double scaled = std::nearbyint(static_cast<double>(parsed) * 10000.0);
      constexpr double kLimit = 9223372036854775807.0;  // 2^63 as a double
      int64_t stored;
      if (scaled >= kLimit || scaled <= -kLimit || std::isnan(scaled)) {
        if (!BF || std::isnan(scaled)) return zfErrInvalidFieldXForm;
        stored = scaled > 0 ? INT64_MAX : -INT64_MAX;
      } else {
        stored = static_cast<int64_t>(scaled);
      }
      zfStoreLE<int64_t>(aTarget, stored);
      return 0;
    } else if constexpr (T == zftBCD) {
      rtl::TBcd bcd, normal;
      int64_t stored = 0;
      if (!zfTryStrToBcd(text, bcd)) {
        if (!BF) return zfErrInvalidFieldXForm;
      } else {
        const uint8_t lost = zfNormalizeBcd(bcd, normal, static_cast<uint16_t>(tsTargetUnits),
                                            static_cast<uint16_t>(tsTargetDecPl));
        if (!BF && lost != 0) return zfErrInvalidFieldXForm;
        if (!zfBcdToCurr(normal, stored)) {
          if (!BF) return zfErrInvalidFieldXForm;
          stored = rtl::BcdIsNegative(normal) ? INT64_MIN : INT64_MAX;
        }
      }
      zfStoreLE<int64_t>(aTarget, stored);
      return 0;
    } else if constexpr (T == zftDate || T == zftTime || T == zftDateTime) {
      rtl::TDateTime value = 0;
      rtl::TTimeStamp stamp;
      bool parsed;
      if constexpr (T == zftDate)
        parsed = rtl::TryStrToDate(text, value, tsFormatSettings);
      else if constexpr (T == zftTime)
        parsed = rtl::TryStrToTime(text, value, tsFormatSettings);
      else
        parsed = rtl::TryStrToDateTime(text, value, tsFormatSettings);
      if (parsed && !rtl::TryDateTimeToTimeStamp(value, stamp)) parsed = false;
      if constexpr (T == zftTime) {
        if (!parsed) {
          if (!BF) return zfErrInvalidFieldXForm;
          stamp.Time = 0;
        }
        zfStoreLE<int32_t>(aTarget, stamp.Time);
      } else {
        // 1 January 0001 is what an unparsable text gives, so checking refuses it too.
        if (!parsed) stamp = rtl::TTimeStamp{0, 1};
        if (!BF && stamp.Date == 1 && (T == zftDate || stamp.Time == 0)) return zfErrInvalidFieldXForm;
        if constexpr (T == zftDate)
          zfStoreLE<int32_t>(aTarget, stamp.Date);
        else
          StoreDateTime(aTarget, static_cast<double>(stamp.Date) * rtl::MSecsPerDay + stamp.Time);
      }
      return 0;
    } else if constexpr (T == zftGuid) {
      rtl::TGUID guid{};
      if (!rtl::TryStringToGUID(text, guid)) {
        if (!BF) return zfErrInvalidFieldXForm;
        guid = rtl::TGUID{};
      }
      rtl::GUIDToBytes(guid, aTarget);
      return 0;
    } else {
      static_assert(T == zftBoolean, "no method for this target");
      return 0;
    }
  }
}

// ---- Classes and registration -------------------------------------------------------------------

namespace {

template <class C>
std::unique_ptr<TzfBaseFieldMapper> TryTextSourceOf(const TzfFieldMapperClass&, TzfFieldDescriptor& aSourceField,
                                                    IzfMapperCursor*, TzfFieldDescriptor& aTargetField,
                                                    IzfMapperCursor*, const TzfFieldMapperDescriptor* aMapperDesc,
                                                    TzfMappingMethod& aMapper) {
  aMapper.Clear();
  bool served = false;
  for (TzfFieldType t : kTargets) served = served || t == aTargetField.fdType;
  if (!served || !zfIsTextType(aSourceField.fdType)) return nullptr;
  // A byte-array or character target of no bytes holds nothing.
  if (aTargetField.fdLength <= 0) return nullptr;
  return std::make_unique<C>(aSourceField, aTargetField, aMapperDesc, aMapper);
}

void StartUnit() {
  for (TzfFieldType target : kTargets) {
    zfRegisterFieldMapper(TzfShortStringMapper::ClassInfo(), zftShortString, target);
    zfRegisterFieldMapper(TzfNullStringMapper::ClassInfo(), zftNullString, target);
    zfRegisterFieldMapper(TzfWideStringMapper::ClassInfo(), zftWideString, target);
  }
}

void StopUnit() {}

}  // namespace

const TzfFieldMapperClass& TzfShortStringMapper::ClassInfo() {
  static const TzfFieldMapperClass info{u"TzfShortStringMapper", &TryTextSourceOf<TzfShortStringMapper>};
  return info;
}

const TzfFieldMapperClass& TzfNullStringMapper::ClassInfo() {
  static const TzfFieldMapperClass info{u"TzfNullStringMapper", &TryTextSourceOf<TzfNullStringMapper>};
  return info;
}

const TzfFieldMapperClass& TzfWideStringMapper::ClassInfo() {
  static const TzfFieldMapperClass info{u"TzfWideStringMapper", &TryTextSourceOf<TzfWideStringMapper>};
  return info;
}

rtl::TUnitInit& zfsdTextSourceMapperUnit() {
  static rtl::TUnitInit unit("zfsdTextSourceMapper", &StartUnit, &StopUnit);
  return unit;
}

}  // namespace zf
