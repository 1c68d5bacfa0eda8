#include "mapping/zfsdCharMapper.h"

#include <cstring>
#include <string>

#include "dictionary/zfsdFieldDescriptor.h"
#include "foundation/zfllErrors.h"
#include "mapping/zfsdStringMapper.h"
#include "platform/locale/locCodePages.h"
#include "platform/rtl/rtlNumber.h"

namespace zf {

namespace {

using TCode = TzfMappingMethod::TCode;
constexpr int64_t kCurrencyScale = 10000;

constexpr TzfFieldType kTargets[] = {
    zftBoolean, zftChar,      zftWideChar,    zftByte,       zftWord16,     zftWord32, zftInt8,
    zftInt16,   zftInt32,     zftInt64,       zftAutoInc,    zftSingle,     zftDouble, zftExtended,
    zftCurrency, zftByteArray, zftShortString, zftNullString, zftWideString, zftRecRev, zftBCD};

bool IsCharTextTarget(TzfFieldType aType) {
  return aType == zftChar || aType == zftWideChar || zfIsTextType(aType);
}

// The value of a decimal digit character, -1 for any other character.
int CharDigit(const uint8_t* aSource) { return aSource[0] >= '0' && aSource[0] <= '9' ? aSource[0] - '0' : -1; }
int WideDigit(const uint8_t* aSource) {
  const uint16_t unit = zfLoadLE<uint16_t>(aSource);
  return unit >= u'0' && unit <= u'9' ? unit - u'0' : -1;
}

// ---- Class-level methods ------------------------------------------------------------------------

template <int (*Digit)(const uint8_t*), class T, bool BestFit>
uint32_t ToInteger(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  int d = Digit(aSource);
  if (d < 0) {
    if (!BestFit) return zfErrInvalidFieldXForm;
    d = 0;
  }
  zfStoreLE<T>(aTarget, static_cast<T>(d));
  return 0;
}

template <int (*Digit)(const uint8_t*), class F, bool BestFit>
uint32_t ToFloat(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  int d = Digit(aSource);
  if (d < 0) {
    if (!BestFit) return zfErrInvalidFieldXForm;
    d = 0;
  }
  const F f = static_cast<F>(d);
  std::memcpy(aTarget, &f, sizeof f);
  return 0;
}

template <int (*Digit)(const uint8_t*), bool BestFit>
uint32_t ToExtended(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  int d = Digit(aSource);
  if (d < 0) {
    if (!BestFit) return zfErrInvalidFieldXForm;
    d = 0;
  }
  rtl::ExtendedToBytes(static_cast<long double>(d), aTarget);
  return 0;
}

template <int (*Digit)(const uint8_t*), bool BestFit>
uint32_t ToCurrency(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  int d = Digit(aSource);
  if (d < 0) {
    if (!BestFit) return zfErrInvalidFieldXForm;
    d = 0;
  }
  zfStoreLE<int64_t>(aTarget, int64_t{d} * kCurrencyScale);
  return 0;
}

template <bool BestFit>
uint32_t CharToBoolean(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  switch (aSource[0]) {
    case '0': case 'F': case 'N': aTarget[0] = 0x00; return 0;
    case '1': case 'T': case 'Y': aTarget[0] = 0xFF; return 0;
    default:
      if (!BestFit) return zfErrInvalidFieldXForm;
      aTarget[0] = 0xFF;
      return 0;
  }
}

template <bool BestFit>
uint32_t WideCharToBoolean(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  const int d = WideDigit(aSource);
  if (BestFit) {
    aTarget[0] = d > 0 ? 0xFF : 0x00;
    return 0;
  }
  if (d != 0 && d != 1) return zfErrInvalidFieldXForm;
  aTarget[0] = d == 1 ? 0xFF : 0x00;
  return 0;
}

uint32_t CharToByteArray(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  aTarget[0] = aSource[0];
  return 0;
}
uint32_t WideCharToByteArray(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  aTarget[0] = aSource[0];
  aTarget[1] = aSource[1];
  return 0;
}
// A one-byte array holds a unit's low byte only: best fit keeps it, checking refuses a unit whose
// high byte is set.
template <bool BestFit>
uint32_t WideCharToOneByte(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  if (!BestFit && aSource[1] != 0) return zfErrInvalidFieldXForm;
  aTarget[0] = aSource[0];
  return 0;
}

template <int (*Digit)(const uint8_t*), bool BestFit>
TCode NumberCode(TzfFieldType aTarget) {
  switch (aTarget) {
    case zftByte: return &ToInteger<Digit, uint8_t, BestFit>;
    case zftInt8: return &ToInteger<Digit, int8_t, BestFit>;
    case zftWord16: return &ToInteger<Digit, uint16_t, BestFit>;
    case zftInt16: return &ToInteger<Digit, int16_t, BestFit>;
    case zftInt32: return &ToInteger<Digit, int32_t, BestFit>;
    case zftWord32: case zftAutoInc: case zftRecRev: return &ToInteger<Digit, uint32_t, BestFit>;
    case zftInt64: return &ToInteger<Digit, int64_t, BestFit>;
    case zftSingle: return &ToFloat<Digit, float, BestFit>;
    case zftDouble: return &ToFloat<Digit, double, BestFit>;
    case zftExtended: return &ToExtended<Digit, BestFit>;
    case zftCurrency: case zftBCD: return &ToCurrency<Digit, BestFit>;
    default: return nullptr;
  }
}

template <int (*Digit)(const uint8_t*)>
TCode NumberCode(TzfFieldType aTarget, bool aBestFit) {
  return aBestFit ? NumberCode<Digit, true>(aTarget) : NumberCode<Digit, false>(aTarget);
}

std::unique_ptr<TzfBaseFieldMapper> TryChar(const TzfFieldMapperClass& aClass, TzfFieldDescriptor& aSourceField,
                                            IzfMapperCursor*, TzfFieldDescriptor& aTargetField, IzfMapperCursor*,
                                            const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper) {
  aMapper.Clear();
  if (aSourceField.fdType != zftChar) return nullptr;
  const TzfFieldType target = aTargetField.fdType;
  if (IsCharTextTarget(target)) {
    if (aTargetField.fdLength <= 0) return nullptr;
    return std::make_unique<TzfCharMapper>(aSourceField, aTargetField, aMapperDesc, aMapper);
  }
  const bool bestFit = zfIsBestFit(aMapperDesc);
  TCode code = nullptr;
  if (target == zftBoolean)
    code = bestFit ? &CharToBoolean<true> : &CharToBoolean<false>;
  else if (target == zftByteArray)
    code = aTargetField.fdLength >= 1 ? &CharToByteArray : nullptr;
  else
    code = NumberCode<&CharDigit>(target, bestFit);
  if (code) aMapper = {code, &aClass};
  return nullptr;
}

std::unique_ptr<TzfBaseFieldMapper> TryWideChar(const TzfFieldMapperClass& aClass, TzfFieldDescriptor& aSourceField,
                                                IzfMapperCursor*, TzfFieldDescriptor& aTargetField, IzfMapperCursor*,
                                                const TzfFieldMapperDescriptor* aMapperDesc,
                                                TzfMappingMethod& aMapper) {
  aMapper.Clear();
  if (aSourceField.fdType != zftWideChar) return nullptr;
  const TzfFieldType target = aTargetField.fdType;
  if (IsCharTextTarget(target)) {
    if (aTargetField.fdLength <= 0) return nullptr;
    return std::make_unique<TzfWideCharMapper>(aSourceField, aTargetField, aMapperDesc, aMapper);
  }
  const bool bestFit = zfIsBestFit(aMapperDesc);
  TCode code = nullptr;
  if (target == zftBoolean)
    code = bestFit ? &WideCharToBoolean<true> : &WideCharToBoolean<false>;
  else if (target == zftByteArray)
    code = aTargetField.fdLength >= 2   ? &WideCharToByteArray
           : aTargetField.fdLength == 1 ? (bestFit ? &WideCharToOneByte<true> : &WideCharToOneByte<false>)
                                        : nullptr;
  else
    code = NumberCode<&WideDigit>(target, bestFit);
  if (code) aMapper = {code, &aClass};
  return nullptr;
}

void StartUnit() {
  for (TzfFieldType target : kTargets) {
    zfRegisterFieldMapper(TzfCharMapper::ClassInfo(), zftChar, target);
    zfRegisterFieldMapper(TzfWideCharMapper::ClassInfo(), zftWideChar, target);
  }
}

void StopUnit() {}

// Decodes one byte (not 0) with a code page into one UTF-16 unit; False on failure.
bool DecodeByte(uint16_t aCodePage, uint8_t aByte, char16_t& aUnit) {
  const char byte = static_cast<char>(aByte);
  rtl::UnicodeString wide;
  if (!zfDecodeText(aCodePage, std::string_view(&byte, 1), wide, 2) || wide.empty()) return false;
  aUnit = wide[0];
  return true;
}

// The one byte aUnit is in aCodePage; false when it is none or takes more than one byte.
bool EncodeByte(uint16_t aCodePage, char16_t aUnit, uint8_t& aByte) {
  std::string bytes;
  if (zfEncodeText(aCodePage, rtl::UnicodeStringView(&aUnit, 1), bytes, 1) != TzfEncodeResult::erOk ||
      bytes.size() != 1)
    return false;
  aByte = static_cast<uint8_t>(bytes[0]);
  return true;
}

// A wide target keeps no code page.
uint16_t TargetCodepage(TzfFieldDescriptor& aTargetField) {
  return aTargetField.fdType == zftWideChar || aTargetField.fdType == zftWideString
             ? uint16_t{0}
             : aTargetField.GetStorageCodePage();
}

}  // namespace

// ---- TzfCharMapper ------------------------------------------------------------------------------

const TzfFieldMapperClass& TzfCharMapper::ClassInfo() {
  static const TzfFieldMapperClass info{u"TzfCharMapper", &TryChar};
  return info;
}

TzfCharMapper::TzfCharMapper(TzfFieldDescriptor& aSourceField, TzfFieldDescriptor& aTargetField,
                             const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper)
    : ccTargetLength(aTargetField.fdLength),
      ccSourceCodepage(aSourceField.GetStorageCodePage()),
      ccTargetCodepage(TargetCodepage(aTargetField)),
      ccTargetType(aTargetField.fdType) {
  const bool convert = ccSourceCodepage != 0 && ccTargetCodepage != 0 && ccSourceCodepage != ccTargetCodepage;
  const bool bestFit = zfIsBestFit(aMapperDesc);
  using C = TzfCharMapper;
  switch (ccTargetType) {
    case zftChar: aMapper = convert ? zfMapperMethod<&C::ToCharConvert>(this) : zfMapperMethod<&C::ToChar>(this); break;
    case zftWideChar:
      aMapper = bestFit ? zfMapperMethod<&C::ToWideChar>(this) : zfMapperMethod<&C::ToWideCharCheck>(this);
      break;
    case zftWideString:
      aMapper = bestFit ? zfMapperMethod<&C::ToWideString>(this) : zfMapperMethod<&C::ToWideStringCheck>(this);
      break;
    default:
      if (convert)
        aMapper = bestFit ? zfMapperMethod<&C::ToAnsiStringConvert>(this)
                          : zfMapperMethod<&C::ToAnsiStringConvertCheck>(this);
      else
        aMapper = bestFit ? zfMapperMethod<&C::ToAnsiString>(this) : zfMapperMethod<&C::ToAnsiStringCheck>(this);
      break;
  }
}

uint32_t TzfCharMapper::ToChar(const uint8_t* aSource, uint8_t* aTarget) {
  aTarget[0] = aSource[0];
  return 0;
}

uint32_t TzfCharMapper::ToCharConvert(const uint8_t* aSource, uint8_t* aTarget) {
  if (aSource[0] == 0) {
    aTarget[0] = 0;
    return 0;
  }
  char16_t unit;
  if (!DecodeByte(ccSourceCodepage, aSource[0], unit) || !EncodeByte(ccTargetCodepage, unit, aTarget[0]))
    return zfErrInvalidFieldXForm;
  return 0;
}

uint32_t TzfCharMapper::ToWide(const uint8_t* aSource, uint8_t* aTarget, bool aCheck, bool aString) {
  char16_t unit = 0;
  if (aSource[0] != 0 && !DecodeByte(ccSourceCodepage, aSource[0], unit)) {
    if (!aCheck) return 0;  // best fit leaves the target as it was
    zfRaiseConversionError(aString ? u"TzfWideCharMapper.ToWideStringConvertCheck"
                                   : u"TzfWideCharMapper.ToWideCharConvertCheck",
                           u"MultiByteToWideChar");
  }
  if (!aString) {
    zfStoreLE<uint16_t>(aTarget, unit);
    return 0;
  }
  const size_t count = unit != 0 ? 1 : 0;
  if (count > static_cast<size_t>(ccTargetLength / 2 - 1)) {
    if (aCheck) return zfErrInvalidFieldXForm;
    zfStoreWideText(aTarget, nullptr, 0);
    return 0;
  }
  zfStoreWideText(aTarget, &unit, count);
  return 0;
}

uint32_t TzfCharMapper::ToWideChar(const uint8_t* aSource, uint8_t* aTarget) { return ToWide(aSource, aTarget, false, false); }
uint32_t TzfCharMapper::ToWideCharCheck(const uint8_t* aSource, uint8_t* aTarget) {
  return ToWide(aSource, aTarget, true, false);
}
uint32_t TzfCharMapper::ToWideString(const uint8_t* aSource, uint8_t* aTarget) {
  return ToWide(aSource, aTarget, false, true);
}
uint32_t TzfCharMapper::ToWideStringCheck(const uint8_t* aSource, uint8_t* aTarget) {
  return ToWide(aSource, aTarget, true, true);
}

// Without conversion: a ShortString holds the byte (also the 0 byte), a NullString the text the
// byte makes (the 0 byte: the empty text).
uint32_t TzfCharMapper::ToAnsiString(const uint8_t* aSource, uint8_t* aTarget) {
  const size_t count = ccTargetType == zftShortString || aSource[0] != 0 ? 1 : 0;
  if (count > static_cast<size_t>(ccTargetLength - 1)) {
    zfStoreAnsiText(ccTargetType, aTarget, nullptr, 0);
    return 0;
  }
  zfStoreAnsiText(ccTargetType, aTarget, reinterpret_cast<const char*>(aSource), count);
  return 0;
}

uint32_t TzfCharMapper::ToAnsiStringCheck(const uint8_t* aSource, uint8_t* aTarget) {
  const size_t count = ccTargetType == zftShortString || aSource[0] != 0 ? 1 : 0;
  if (count > static_cast<size_t>(ccTargetLength - 1)) return zfErrInvalidFieldXForm;
  zfStoreAnsiText(ccTargetType, aTarget, reinterpret_cast<const char*>(aSource), count);
  return 0;
}

uint32_t TzfCharMapper::ToAnsiConvert(const uint8_t* aSource, uint8_t* aTarget, bool aCheck) {
  if (aSource[0] == 0) {
    zfStoreAnsiText(ccTargetType, aTarget, nullptr, 0);
    return 0;
  }
  constexpr const char16_t* kAction = u"TzfCharMapper.ToNullStringConvertCheck";
  char16_t unit;
  if (!DecodeByte(ccSourceCodepage, aSource[0], unit)) {
    if (aCheck) zfRaiseConversionError(kAction, u"MultiByteToWideChar");
    zfStoreAnsiText(ccTargetType, aTarget, nullptr, 0);
    return 0;
  }
  std::string bytes;
  switch (zfEncodeText(ccTargetCodepage, rtl::UnicodeStringView(&unit, 1), bytes, ccTargetLength - 1)) {
    case TzfEncodeResult::erOk: break;
    case TzfEncodeResult::erNoRoom:
      if (aCheck) return zfErrInvalidFieldXForm;
      bytes.clear();
      break;
    case TzfEncodeResult::erFailed:
      if (aCheck) zfRaiseConversionError(kAction, u"WideCharToMultiByte");
      bytes.clear();
      break;
  }
  zfStoreAnsiText(ccTargetType, aTarget, bytes.data(), bytes.size());
  return 0;
}

uint32_t TzfCharMapper::ToAnsiStringConvert(const uint8_t* aSource, uint8_t* aTarget) {
  return ToAnsiConvert(aSource, aTarget, false);
}
uint32_t TzfCharMapper::ToAnsiStringConvertCheck(const uint8_t* aSource, uint8_t* aTarget) {
  return ToAnsiConvert(aSource, aTarget, true);
}

// ---- TzfWideCharMapper --------------------------------------------------------------------------

const TzfFieldMapperClass& TzfWideCharMapper::ClassInfo() {
  static const TzfFieldMapperClass info{u"TzfWideCharMapper", &TryWideChar};
  return info;
}

TzfWideCharMapper::TzfWideCharMapper(TzfFieldDescriptor& aSourceField, TzfFieldDescriptor& aTargetField,
                                     const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper)
    : wccTargetLength(aTargetField.fdLength),
      wccSourceCodepage(aSourceField.GetStorageCodePage()),
      wccTargetCodepage(TargetCodepage(aTargetField)),
      wccTargetType(aTargetField.fdType) {
  const bool bestFit = zfIsBestFit(aMapperDesc);
  using W = TzfWideCharMapper;
  switch (wccTargetType) {
    case zftWideChar: aMapper = zfMapperMethod<&W::ToWideChar>(this); break;
    case zftWideString:
      aMapper = bestFit ? zfMapperMethod<&W::ToWideString>(this) : zfMapperMethod<&W::ToWideStringCheck>(this);
      break;
    case zftChar: aMapper = bestFit ? zfMapperMethod<&W::ToChar>(this) : zfMapperMethod<&W::ToCharCheck>(this); break;
    default:
      aMapper = bestFit ? zfMapperMethod<&W::ToAnsiString>(this) : zfMapperMethod<&W::ToAnsiStringCheck>(this);
      break;
  }
}

uint32_t TzfWideCharMapper::ToWideChar(const uint8_t* aSource, uint8_t* aTarget) {
  aTarget[0] = aSource[0];
  aTarget[1] = aSource[1];
  return 0;
}

uint32_t TzfWideCharMapper::ToWideString(const uint8_t* aSource, uint8_t* aTarget) {
  const auto unit = static_cast<char16_t>(zfLoadLE<uint16_t>(aSource));
  const size_t count = unit != 0 && wccTargetLength / 2 - 1 >= 1 ? 1 : 0;
  zfStoreWideText(aTarget, &unit, count);
  return 0;
}

uint32_t TzfWideCharMapper::ToWideStringCheck(const uint8_t* aSource, uint8_t* aTarget) {
  const auto unit = static_cast<char16_t>(zfLoadLE<uint16_t>(aSource));
  const size_t count = unit != 0 ? 1 : 0;
  if (count > static_cast<size_t>(wccTargetLength / 2 - 1)) return zfErrInvalidFieldXForm;
  zfStoreWideText(aTarget, &unit, count);
  return 0;
}

// A character that the target code page writes in more than one byte does not fit a Char: best
// fit stores the code page's default character.
uint32_t TzfWideCharMapper::ToChar(const uint8_t* aSource, uint8_t* aTarget) {
  const auto unit = static_cast<char16_t>(zfLoadLE<uint16_t>(aSource));
  if (unit == 0) {
    aTarget[0] = 0;
  } else if (!EncodeByte(wccTargetCodepage, unit, aTarget[0])) {
    locale::TCPInfo info;
    aTarget[0] = locale::GetCPInfo(wccTargetCodepage, info) ? info.DefaultChar[0] : uint8_t{'?'};
  }
  return 0;
}

uint32_t TzfWideCharMapper::ToCharCheck(const uint8_t* aSource, uint8_t* aTarget) {
  const auto unit = static_cast<char16_t>(zfLoadLE<uint16_t>(aSource));
  if (unit == 0) {
    aTarget[0] = 0;
    return 0;
  }
  return EncodeByte(wccTargetCodepage, unit, aTarget[0]) ? 0 : zfErrInvalidFieldXForm;
}

uint32_t TzfWideCharMapper::ToAnsiString(const uint8_t* aSource, uint8_t* aTarget) {
  const auto unit = static_cast<char16_t>(zfLoadLE<uint16_t>(aSource));
  std::string bytes;
  if (unit != 0 &&
      zfEncodeText(wccTargetCodepage, rtl::UnicodeStringView(&unit, 1), bytes, wccTargetLength - 1) !=
          TzfEncodeResult::erOk)
    bytes.clear();
  zfStoreAnsiText(wccTargetType, aTarget, bytes.data(), bytes.size());
  return 0;
}

uint32_t TzfWideCharMapper::ToAnsiStringCheck(const uint8_t* aSource, uint8_t* aTarget) {
  const auto unit = static_cast<char16_t>(zfLoadLE<uint16_t>(aSource));
  std::string bytes;
  if (unit != 0) {
    switch (zfEncodeText(wccTargetCodepage, rtl::UnicodeStringView(&unit, 1), bytes, wccTargetLength - 1)) {
      case TzfEncodeResult::erOk: break;
      case TzfEncodeResult::erNoRoom: return zfErrInvalidFieldXForm;
      case TzfEncodeResult::erFailed:
        zfRaiseConversionError(wccTargetType == zftNullString ? u"TzfWideCharMapper.ToNullStringConvertCheck"
                                                              : u"TzfWideCharMapper.ToShortStringConvertCheck",
                               u"WideCharToMultiByte");
    }
  }
  zfStoreAnsiText(wccTargetType, aTarget, bytes.data(), bytes.size());
  return 0;
}

rtl::TUnitInit& zfsdCharMapperUnit() {
  static rtl::TUnitInit unit("zfsdCharMapper", &StartUnit, &StopUnit);
  return unit;
}

}  // namespace zf
