#include "client/zfdbConversion.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#include "client/zfdbBase.h"
#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdFmtBcd.h"
#include "dictionary/zfsdLocaleDescriptor.h"
#include "foundation/zfllUtils.h"
#include "mapping/zfsdFieldMapperBase.h"
#include "platform/locale/locCodePages.h"
#include "platform/os/osSystem.h"
#include "platform/rtl/rtlGuid.h"

namespace zf {

std::array<TzfVclFieldMapperClass, zfFieldTypeCount> zfVclMapperByZofrinType{};
std::array<TzfVclFieldMapperClass, db::FieldTypeCount> zfVclMapperByVclType{};

namespace {

using db::TFieldType;

// Engine bytes are little-endian; the framework's buffers hold host-order values.
template <typename T>
T Stored(const void* p) {
  return zfLoadLE<T>(static_cast<const uint8_t*>(p));
}
template <typename T>
void Store(void* p, T aValue) {
  zfStoreLE<T>(static_cast<uint8_t*>(p), aValue);
}
template <typename T>
T Native(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}
template <typename T>
void PutNative(void* p, T aValue) {
  std::memcpy(p, &aValue, sizeof(T));
}

// The storage length of a field of aType with aUnits and no decimals.
int32_t StorageLength(TzfFieldType aType, int32_t aUnits) {
  int32_t units = aUnits, decimals = 0, length = 0;
  bool required = false;
  TzfFieldDescriptor::SetupField(aType, units, decimals, required, length);
  return length;
}

// The 8-bit text of a framework buffer: up to its terminator, at most aUnits characters.
std::string_view VclText(const void* aFrom, int32_t aUnits) {
  const char* p = static_cast<const char*>(aFrom);
  return std::string_view(p, strnlen(p, static_cast<size_t>(aUnits)));
}

std::string_view TrimTrailingBlanks(std::string_view aText) {
  while (!aText.empty() && aText.back() == ' ') aText.remove_suffix(1);
  return aText;
}

// ---- static mappers ------------------------------------------------------------------------------

// A value of T copied between the engine's little-endian form and the host's.
template <typename T>
struct TCopy {
  static void MapZofrinDataToVcl(const void* aFrom, void* aTo) { PutNative<T>(aTo, Stored<T>(aFrom)); }
  static void MapVclDataToZofrin(const void* aFrom, void* aTo) { Store<T>(aTo, Native<T>(aFrom)); }
};

#define ZF_MAPPER_TRAITS(Name, ZofrinType, VclType, VclSize) \
  static constexpr const char16_t* kName = u"" #Name;        \
  static constexpr TzfFieldType kZofrinType = ZofrinType;    \
  static constexpr TFieldType kVclType = db::VclType;        \
  static constexpr uint16_t kVclSize = VclSize;

class TzfBooleanVclFieldMapper : public TzfStaticVclFieldMapper {
 public:
  ZF_MAPPER_TRAITS(TzfBooleanVclFieldMapper, zftBoolean, ftBoolean, 0)
  static void MapZofrinDataToVcl(const void* aFrom, void* aTo) {
    PutNative<uint16_t>(aTo, *static_cast<const uint8_t*>(aFrom) != 0 ? 0xFFFF : 0);
  }
  static void MapVclDataToZofrin(const void* aFrom, void* aTo) {
    *static_cast<uint8_t*>(aTo) = Native<uint16_t>(aFrom) != 0 ? 0xFF : 0;
  }
};

class TzfBaseCharVclFieldMapper : public TzfStaticVclFieldMapper {};

class TzfAnsiCharVclFieldMapper : public TzfBaseCharVclFieldMapper {
 public:
  ZF_MAPPER_TRAITS(TzfAnsiCharVclFieldMapper, zftChar, ftString, 1)
  static void MapZofrinDataToVcl(const void* aFrom, void* aTo) {
    static_cast<uint8_t*>(aTo)[0] = static_cast<const uint8_t*>(aFrom)[0];
    static_cast<uint8_t*>(aTo)[1] = 0;
  }
  static void MapVclDataToZofrin(const void* aFrom, void* aTo) {
    static_cast<uint8_t*>(aTo)[0] = static_cast<const uint8_t*>(aFrom)[0];
  }
};

class TzfWideCharVclFieldMapper : public TzfBaseCharVclFieldMapper {
 public:
  ZF_MAPPER_TRAITS(TzfWideCharVclFieldMapper, zftWideChar, ftWideString, 1)
  static void MapZofrinDataToVcl(const void* aFrom, void* aTo) {
    PutNative<char16_t>(aTo, static_cast<char16_t>(Stored<uint16_t>(aFrom)));
    PutNative<char16_t>(static_cast<uint8_t*>(aTo) + 2, 0);
  }
  static void MapVclDataToZofrin(const void* aFrom, void* aTo) {
    Store<uint16_t>(aTo, static_cast<uint16_t>(Native<char16_t>(aFrom)));
  }
};

class TzfByte8VclFieldMapper : public TzfStaticVclFieldMapper, public TCopy<uint8_t> {
 public:
  ZF_MAPPER_TRAITS(TzfByte8VclFieldMapper, zftByte, ftByte, 0)
};
class TzfWord16VclFieldMapper : public TzfStaticVclFieldMapper, public TCopy<uint16_t> {
 public:
  ZF_MAPPER_TRAITS(TzfWord16VclFieldMapper, zftWord16, ftWord, 0)
};
class TzfWord32VclFieldMapper : public TzfStaticVclFieldMapper, public TCopy<uint32_t> {
 public:
  ZF_MAPPER_TRAITS(TzfWord32VclFieldMapper, zftWord32, ftLongWord, 0)
};
class TzfAutoIncVclFieldMapper : public TzfWord32VclFieldMapper {
 public:
  ZF_MAPPER_TRAITS(TzfAutoIncVclFieldMapper, zftAutoInc, ftAutoInc, 0)
};
// The record revision is the engine's own: shown read-only, and a write is refused.
class TzfRecRevVclFieldMapper : public TzfWord32VclFieldMapper {
 public:
  ZF_MAPPER_TRAITS(TzfRecRevVclFieldMapper, zftRecRev, ftLongWord, 0)
  [[noreturn]] static void MapVclDataToZofrin(const void*, void*) {
    throw EzfDatabaseError(zfErrReadOnlyField, u"RecRev fields are read-only");
  }
};
class TzfInt8VclFieldMapper : public TzfStaticVclFieldMapper, public TCopy<int8_t> {
 public:
  ZF_MAPPER_TRAITS(TzfInt8VclFieldMapper, zftInt8, ftShortint, 0)
};
class TzfInt16VclFieldMapper : public TzfStaticVclFieldMapper, public TCopy<int16_t> {
 public:
  ZF_MAPPER_TRAITS(TzfInt16VclFieldMapper, zftInt16, ftSmallint, 0)
};
class TzfInt32VclFieldMapper : public TzfStaticVclFieldMapper, public TCopy<int32_t> {
 public:
  ZF_MAPPER_TRAITS(TzfInt32VclFieldMapper, zftInt32, ftInteger, 0)
};
class TzfInt64VclFieldMapper : public TzfStaticVclFieldMapper, public TCopy<int64_t> {
 public:
  ZF_MAPPER_TRAITS(TzfInt64VclFieldMapper, zftInt64, ftLargeint, 0)
};
// BLOB fields carry only their 64-bit BLOB number in the record.
class TzfBaseBlobVclFieldMapper : public TzfInt64VclFieldMapper {};
class TzfBlobVclFieldMapper : public TzfBaseBlobVclFieldMapper {
 public:
  ZF_MAPPER_TRAITS(TzfBlobVclFieldMapper, zftBlob, ftBlob, 0)
};
class TzfMemoVclFieldMapper : public TzfBaseBlobVclFieldMapper {
 public:
  ZF_MAPPER_TRAITS(TzfMemoVclFieldMapper, zftBlobMemo, ftMemo, 0)
};
class TzfWideMemoVclFieldMapper : public TzfMemoVclFieldMapper {
 public:
  ZF_MAPPER_TRAITS(TzfWideMemoVclFieldMapper, zftBlobWideMemo, ftWideMemo, 0)
};
class TzfGraphicVclFieldMapper : public TzfBaseBlobVclFieldMapper {
 public:
  ZF_MAPPER_TRAITS(TzfGraphicVclFieldMapper, zftBlobGraphic, ftGraphic, 0)
};

class TzfBaseFloatVclFieldMapper : public TzfStaticVclFieldMapper {};
class TzfSingleVclFieldMapper : public TzfBaseFloatVclFieldMapper {
 public:
  ZF_MAPPER_TRAITS(TzfSingleVclFieldMapper, zftSingle, ftFloat, 0)
  static void MapZofrinDataToVcl(const void* aFrom, void* aTo) {
    PutNative<double>(aTo, static_cast<double>(std::bit_cast<float>(Stored<uint32_t>(aFrom))));
  }
  static void MapVclDataToZofrin(const void* aFrom, void* aTo) {
    Store<uint32_t>(aTo, std::bit_cast<uint32_t>(static_cast<float>(Native<double>(aFrom))));
  }
};
// 8-byte reals and date-times: the bits copied (little-endian in the engine).
class TzfDoubleVclFieldMapper : public TzfBaseFloatVclFieldMapper, public TCopy<uint64_t> {
 public:
  ZF_MAPPER_TRAITS(TzfDoubleVclFieldMapper, zftDouble, ftFloat, 0)
};
class TzfExtendedVclFieldMapper : public TzfBaseFloatVclFieldMapper {
 public:
  ZF_MAPPER_TRAITS(TzfExtendedVclFieldMapper, zftExtended, ftExtended, 0)
  static void MapZofrinDataToVcl(const void* aFrom, void* aTo) { std::memcpy(aTo, aFrom, rtl::ExtendedSize); }
  static void MapVclDataToZofrin(const void* aFrom, void* aTo) { std::memcpy(aTo, aFrom, rtl::ExtendedSize); }
};

// Currency: 1/10000 units in the engine, an 8-byte real in the framework.
class TzfCurrencyVclFieldMapper : public TzfStaticVclFieldMapper {
 public:
  ZF_MAPPER_TRAITS(TzfCurrencyVclFieldMapper, zftCurrency, ftCurrency, 0)
  static void MapZofrinDataToVcl(const void* aFrom, void* aTo) {
    PutNative<double>(aTo, static_cast<double>(rtl::CurrencyToFloat(rtl::Currency::FromScaled(Stored<int64_t>(aFrom)))));
  }
  // Rounded to the nearest unit, ties to even; an amount outside the Currency range (or no
  // number) is refused with 9985 and nothing is stored.
  static void MapVclDataToZofrin(const void* aFrom, void* aTo) {
    rtl::Currency value;
    if (!rtl::TryFloatToCurrency(Native<double>(aFrom), value)) throw EzfDatabaseError(zfErrOutOfRange);
    Store<int64_t>(aTo, value.Value);
  }
};

class TzfGuidVclFieldMapper : public TzfStaticVclFieldMapper {
 public:
  ZF_MAPPER_TRAITS(TzfGuidVclFieldMapper, zftGuid, ftGuid, 38)
  static void MapZofrinDataToVcl(const void* aFrom, void* aTo) {
    const rtl::AnsiString text = zfGUIDToAnsiStr(rtl::GUIDFromBytes(static_cast<const uint8_t*>(aFrom)));
    const size_t n = std::min<size_t>(text.Length(), 38);
    std::memcpy(aTo, text.Bytes().data(), n);
    static_cast<char*>(aTo)[n] = 0;
  }
  // A text that is no GUID raises the run time's EConvertError.
  static void MapVclDataToZofrin(const void* aFrom, void* aTo) {
    const std::string_view text = VclText(aFrom, 38);
    rtl::UnicodeString wide(text.begin(), text.end());
    rtl::GUIDToBytes(rtl::StringToGUID(wide), static_cast<uint8_t*>(aTo));
  }
};

class TzfDateVclFieldMapper : public TzfStaticVclFieldMapper, public TCopy<int32_t> {
 public:
  ZF_MAPPER_TRAITS(TzfDateVclFieldMapper, zftDate, ftDate, 0)
};
class TzfTimeVclFieldMapper : public TzfStaticVclFieldMapper, public TCopy<int32_t> {
 public:
  ZF_MAPPER_TRAITS(TzfTimeVclFieldMapper, zftTime, ftTime, 0)
};
class TzfBaseDateTimeVclFieldMapper : public TzfStaticVclFieldMapper, public TCopy<uint64_t> {};
class TzfDateTimeVclFieldMapper : public TzfBaseDateTimeVclFieldMapper {
 public:
  ZF_MAPPER_TRAITS(TzfDateTimeVclFieldMapper, zftDateTime, ftDateTime, 0)
};
class TzfIntervalVclFieldMapper : public TzfBaseDateTimeVclFieldMapper {
 public:
  ZF_MAPPER_TRAITS(TzfIntervalVclFieldMapper, zftInterval, ftDateTime, 0)
};

}  // namespace

// ---- instantiated mappers ------------------------------------------------------------------------

TzfBcdVclFieldMapper::TzfBcdVclFieldMapper(const TzfFieldDescriptor& aFieldDescriptor)
    : bcdfmPrecision(aFieldDescriptor.fdUnits), bcdfmDecimals(aFieldDescriptor.fdDecPl) {
  if (bcdfmPrecision == 0) {
    if (bcdfmDecimals < 1 || bcdfmDecimals > 4) bcdfmDecimals = 4;
    bcdfmPrecision = 16 + bcdfmDecimals;
  }
  bcdfmNeedNormalize = !(bcdfmDecimals == 4 && bcdfmPrecision == 20);
}

void TzfBcdVclFieldMapper::MapZofrinDataToVcl(const void* aFrom, void* aTo) {
  rtl::TBcd bcd;
  zfCurrToBcdChecked(32, 4, 0, bcd, rtl::Currency::FromScaled(Stored<int64_t>(aFrom)));
  std::memcpy(aTo, &bcd, sizeof(bcd));
}

void TzfBcdVclFieldMapper::MapVclDataToZofrin(const void* aFrom, void* aTo) {
  rtl::TBcd source;
  std::memcpy(&source, aFrom, sizeof(source));
  rtl::TBcd value = source;
  if (bcdfmNeedNormalize)
    zfNormalizeBcdChecked(source, rtl::RangeChecked<uint16_t>(bcdfmPrecision), rtl::RangeChecked<uint16_t>(bcdfmDecimals),
                          value, zfBcdLostFraction);
  auto toCurrency = zfBcdProcs.BcdToCurr ? zfBcdProcs.BcdToCurr : &zfBcdToCurr;
  int64_t stored = 0;
  if (!toCurrency(value, stored)) zfRaiseBcdOverflow();
  Store<int64_t>(aTo, stored);
}

TzfFmtBcdVclFieldMapper::TzfFmtBcdVclFieldMapper(const TzfFieldDescriptor& aFieldDescriptor)
    : fbfmPrecision(aFieldDescriptor.fdUnits),
      fbfmDecimals(aFieldDescriptor.fdDecPl),
      fbfmLength(std::clamp<int32_t>(aFieldDescriptor.fdLength, 0, sizeof(rtl::TBcd))) {}

void TzfFmtBcdVclFieldMapper::MapZofrinDataToVcl(const void* aFrom, void* aTo) {
  rtl::TBcd bcd{};
  std::memcpy(&bcd, aFrom, static_cast<size_t>(fbfmLength));
  std::memcpy(aTo, &bcd, sizeof(bcd));
}

void TzfFmtBcdVclFieldMapper::MapVclDataToZofrin(const void* aFrom, void* aTo) {
  rtl::TBcd source, value;
  std::memcpy(&source, aFrom, sizeof(source));
  zfNormalizeBcdChecked(source, rtl::RangeChecked<uint16_t>(fbfmPrecision), rtl::RangeChecked<uint16_t>(fbfmDecimals),
                        value, zfBcdLostFraction);
  std::memcpy(aTo, &value, static_cast<size_t>(fbfmLength));
}

// ---- variable-size mappers -----------------------------------------------------------------------

void TzfByteArrayVclFieldMapper::MapZofrinDataToVcl(const void* aFrom, void* aTo) {
  if (vsvfmUnits > 0) std::memcpy(aTo, aFrom, static_cast<size_t>(vsvfmUnits));
}

void TzfByteArrayVclFieldMapper::MapVclDataToZofrin(const void* aFrom, void* aTo) {
  if (vsvfmUnits > 0) std::memcpy(aTo, aFrom, static_cast<size_t>(vsvfmUnits));
}

void TzfBasePaddingVclFieldMapper::SetPadding(int32_t aPadding) {
  bpvfmPadding = static_cast<uint16_t>(std::clamp<int32_t>(aPadding, 0, std::min<int32_t>(vsvfmUnits, 65535)));
}

// 8-bit text.

void TzfBaseStringVclFieldMapper::MapZofrinDataToVcl(const void* aFrom, void* aTo) {
  const std::string_view text = StoredText(static_cast<const uint8_t*>(aFrom));
  char* to = static_cast<char*>(aTo);
  if (!text.empty()) std::memcpy(to, text.data(), text.size());
  to[text.size()] = 0;
}

void TzfBaseStringVclFieldMapper::MapVclDataToZofrin(const void* aFrom, void* aTo) {
  StoreText(VclText(aFrom, vsvfmUnits), static_cast<uint8_t*>(aTo));
}

void TzfBaseStringVclFieldMapper::MapZofrinDataToVclPadded(const void* aFrom, void* aTo) {
  const std::string_view text = StoredText(static_cast<const uint8_t*>(aFrom));
  const size_t padding = bpvfmPadding;
  const size_t n = std::min(text.size(), padding);
  char* to = static_cast<char*>(aTo);
  if (n > 0) std::memcpy(to, text.data(), n);
  std::memset(to + n, ' ', padding - n);
  to[padding] = 0;
}

void TzfBaseStringVclFieldMapper::MapVclDataToZofrinPadded(const void* aFrom, void* aTo) {
  StoreText(TrimTrailingBlanks(VclText(aFrom, vsvfmUnits)), static_cast<uint8_t*>(aTo));
}

void TzfBaseStringVclFieldMapper::Bind(db::TField* aField) { bsvfmField = dynamic_cast<db::TStringField*>(aField); }

bool TzfBaseStringVclFieldMapper::Translating() const { return bsvfmField && bsvfmField->Transliterate(); }

void TzfBaseStringVclFieldMapper::MapZofrinDataToVclTranslate(const void* aFrom, void* aTo) {
  ToVclTranslated(aFrom, aTo, false);
}

void TzfBaseStringVclFieldMapper::MapZofrinDataToVclTranslatePadded(const void* aFrom, void* aTo) {
  ToVclTranslated(aFrom, aTo, true);
}

void TzfBaseStringVclFieldMapper::MapVclDataToZofrinTranslate(const void* aFrom, void* aTo) {
  ToZofrinTranslated(aFrom, aTo, false);
}

void TzfBaseStringVclFieldMapper::MapVclDataToZofrinTranslatePadded(const void* aFrom, void* aTo) {
  ToZofrinTranslated(aFrom, aTo, true);
}

// Stored text -> UTF-16 -> client code page, at most units bytes (the framework buffer holds
// units characters and the terminator).
void TzfBaseStringVclFieldMapper::ToVclTranslated(const void* aFrom, void* aTo, bool aPadded) {
  if (!Translating()) {
    aPadded ? MapZofrinDataToVclPadded(aFrom, aTo) : MapZofrinDataToVcl(aFrom, aTo);
    return;
  }
  const std::string_view text = StoredText(static_cast<const uint8_t*>(aFrom));
  char* to = static_cast<char*>(aTo);
  size_t n = 0;
  if (!text.empty()) {
    os::SetLastError(0);
    const int32_t wideLength = locale::MultiByteToWideChar(bsvfmStorageCodepage, 0, text, nullptr, 0);
    if (wideLength <= 0) {
      if (os::GetLastError() != 0) zfRaiseLastOSErrorUnknown();
    } else {
      std::u16string wide(static_cast<size_t>(wideLength), u'\0');
      if (locale::MultiByteToWideChar(bsvfmStorageCodepage, 0, text, wide.data(), wideLength) != wideLength)
        zfRaiseLastOSErrorUnknown();
      // text is not empty, so the units (and the room) are at least 1.
      const int32_t written = locale::WideCharToMultiByte(zfDefaultCodePage, 0, wide, to, vsvfmUnits);
      if (written <= 0) zfRaiseLastOSErrorUnknown();
      n = static_cast<size_t>(written);
    }
  }
  if (aPadded) {
    const size_t padding = bpvfmPadding;
    if (n < padding) std::memset(to + n, ' ', padding - n);
    to[padding] = 0;
  } else {
    to[n] = 0;
  }
}

// Framework text -> UTF-16 -> storage code page, at most units bytes.
void TzfBaseStringVclFieldMapper::ToZofrinTranslated(const void* aFrom, void* aTo, bool aPadded) {
  if (!Translating()) {
    aPadded ? MapVclDataToZofrinPadded(aFrom, aTo) : MapVclDataToZofrin(aFrom, aTo);
    return;
  }
  uint8_t* to = static_cast<uint8_t*>(aTo);
  const std::string_view text = VclText(aFrom, vsvfmUnits);
  if (text.empty()) {
    StoreText({}, to);
    return;
  }
  rtl::UnicodeString wide;
  if (!locale::BytesToUnicode(zfDefaultCodePage, text, wide)) zfRaiseLastOSErrorUnknown();
  if (aPadded) {
    while (!wide.empty() && wide.back() == u' ') wide.pop_back();
    if (wide.empty()) {
      StoreText({}, to);
      return;
    }
  }
  std::string converted(static_cast<size_t>(vsvfmUnits), '\0');
  os::SetLastError(0);
  const int32_t written =
      wide.empty() ? 0 : locale::WideCharToMultiByte(bsvfmStorageCodepage, 0, wide, converted.data(), vsvfmUnits);
  if (written <= 0) {
    if (os::GetLastError() == ENOBUFS)
      throw EzfDatabaseError(TzfErrorSource(bsvfmField), u"Insufficient field size after translation into storage codepage");
    zfRaiseLastOSError(rtl::UnicodeString(ClassNameText()) + u"." +
                           (aPadded ? u"MapVclDataToZofrinTranslatePadded" : u"MapVclDataToZofrinTranslate"),
                       0);
  }
  StoreText(std::string_view(converted.data(), static_cast<size_t>(written)), to);
}

std::string_view TzfShortStringVclFieldMapper::StoredText(const uint8_t* aFrom) const {
  const size_t n = std::min<size_t>(aFrom[0], static_cast<size_t>(vsvfmUnits));
  return std::string_view(reinterpret_cast<const char*>(aFrom + 1), n);
}

void TzfShortStringVclFieldMapper::StoreText(std::string_view aText, uint8_t* aTo) const {
  const size_t n = std::min<size_t>({aText.size(), static_cast<size_t>(vsvfmUnits), 255});
  aTo[0] = static_cast<uint8_t>(n);
  if (n > 0) std::memcpy(aTo + 1, aText.data(), n);
}

std::string_view TzfNullStringVclFieldMapper::StoredText(const uint8_t* aFrom) const {
  const char* p = reinterpret_cast<const char*>(aFrom);
  return std::string_view(p, strnlen(p, static_cast<size_t>(vsvfmUnits)));
}

void TzfNullStringVclFieldMapper::StoreText(std::string_view aText, uint8_t* aTo) const {
  const size_t n = std::min<size_t>(aText.size(), static_cast<size_t>(vsvfmUnits));
  if (n > 0) std::memcpy(aTo, aText.data(), n);
  aTo[n] = 0;
}

// Wide text: little-endian units in the engine, host-order units in the framework.

namespace {

size_t StoredWideLength(const uint8_t* aFrom, int32_t aUnits) {
  size_t n = 0;
  while (n < static_cast<size_t>(aUnits) && zfLoadLE<uint16_t>(aFrom + 2 * n) != 0) ++n;
  return n;
}

size_t VclWideLength(const uint8_t* aFrom, int32_t aUnits) {
  size_t n = 0;
  while (n < static_cast<size_t>(aUnits) && Native<char16_t>(aFrom + 2 * n) != 0) ++n;
  return n;
}

void CopyStoredWide(const uint8_t* aFrom, size_t aCount, uint8_t* aTo) {
  for (size_t i = 0; i < aCount; ++i) PutNative<char16_t>(aTo + 2 * i, static_cast<char16_t>(zfLoadLE<uint16_t>(aFrom + 2 * i)));
}

void StoreWide(const uint8_t* aFrom, size_t aCount, uint8_t* aTo) {
  for (size_t i = 0; i < aCount; ++i) zfStoreLE<uint16_t>(aTo + 2 * i, static_cast<uint16_t>(Native<char16_t>(aFrom + 2 * i)));
  zfStoreLE<uint16_t>(aTo + 2 * aCount, 0);
}

}  // namespace

void TzfWideStringVclFieldMapper::MapZofrinDataToVcl(const void* aFrom, void* aTo) {
  const auto* from = static_cast<const uint8_t*>(aFrom);
  auto* to = static_cast<uint8_t*>(aTo);
  const size_t n = StoredWideLength(from, vsvfmUnits);
  CopyStoredWide(from, n, to);
  PutNative<char16_t>(to + 2 * n, 0);
}

void TzfWideStringVclFieldMapper::MapVclDataToZofrin(const void* aFrom, void* aTo) {
  const auto* from = static_cast<const uint8_t*>(aFrom);
  StoreWide(from, VclWideLength(from, vsvfmUnits), static_cast<uint8_t*>(aTo));
}

void TzfWideStringVclFieldMapper::MapZofrinDataToVclPadded(const void* aFrom, void* aTo) {
  const auto* from = static_cast<const uint8_t*>(aFrom);
  auto* to = static_cast<uint8_t*>(aTo);
  size_t n = StoredWideLength(from, vsvfmUnits);
  CopyStoredWide(from, n, to);
  for (; n < bpvfmPadding; ++n) PutNative<char16_t>(to + 2 * n, u' ');
  PutNative<char16_t>(to + 2 * n, 0);
}

void TzfWideStringVclFieldMapper::MapVclDataToZofrinPadded(const void* aFrom, void* aTo) {
  const auto* from = static_cast<const uint8_t*>(aFrom);
  size_t n = VclWideLength(from, vsvfmUnits);
  while (n > 0 && Native<char16_t>(from + 2 * (n - 1)) == u' ') --n;
  StoreWide(from, n, static_cast<uint8_t*>(aTo));
}

// ---- class references ----------------------------------------------------------------------------

TzfFieldDescriptor* TzfVclFieldMapperClassInfo::InternalAddDescriptorForFieldDef(
    TzfFieldsDescriptor& aFieldsDescriptor, const db::TFieldDef& aFieldDef) const {
  return aFieldsDescriptor.AddField(aFieldDef.Name(), rtl::UnicodeString(), GetZofrinType(), aFieldDef.Size(),
                                    aFieldDef.Precision(), aFieldDef.Attributes().Contains(db::faRequired), nullptr);
}

namespace {

template <class M>
class TStaticMapperClass final : public TzfVclFieldMapperClassInfo {
 public:
  const char16_t* ClassName() const override { return M::kName; }
  TzfFieldType GetZofrinType() const override { return M::kZofrinType; }
  TFieldType GetVclFieldType() const override { return M::kVclType; }
  void InternalMapZofrinDescriptorToVcl(const TzfFieldDescriptor&, TFieldType& aFieldType, uint16_t& aSize,
                                        db::TFieldAttributes& aAttributes) const override {
    aFieldType = M::kVclType;
    aSize = M::kVclSize;
    if constexpr (std::is_same_v<M, TzfRecRevVclFieldMapper>) aAttributes.Include(db::faReadonly);
  }
  std::unique_ptr<TzfBaseVclFieldMapper> InternalGetMapperForDescriptor(
      TzfFieldDescriptor&, TzfVclMapperMethod& aMapperZofrinToVcl, TzfVclMapperMethod& aMapperVclToZofrin) const override {
    aMapperZofrinToVcl = {[](const void*, const void* aFrom, void* aTo) { M::MapZofrinDataToVcl(aFrom, aTo); }, this};
    aMapperVclToZofrin = {[](const void*, const void* aFrom, void* aTo) { M::MapVclDataToZofrin(aFrom, aTo); }, this};
    return nullptr;
  }
  void InternalMapParamTypeAndSizeToZofrin(int32_t, TzfFieldType& aZofrinType, int32_t& aZofrinSize) const override {
    aZofrinType = M::kZofrinType;
    aZofrinSize = StorageLength(M::kZofrinType, 0);
  }
};

template <class M>
class TInstantiatedMapperClass final : public TzfVclFieldMapperClassInfo {
 public:
  TInstantiatedMapperClass(const char16_t* aName, TzfFieldType aZofrinType, TFieldType aVclType)
      : FName(aName), FZofrinType(aZofrinType), FVclType(aVclType) {}
  const char16_t* ClassName() const override { return FName; }
  TzfFieldType GetZofrinType() const override { return FZofrinType; }
  TFieldType GetVclFieldType() const override { return FVclType; }
  void InternalMapZofrinDescriptorToVcl(const TzfFieldDescriptor&, TFieldType& aFieldType, uint16_t& aSize,
                                        db::TFieldAttributes&) const override {
    aFieldType = FVclType;
    aSize = 0;
  }
  std::unique_ptr<TzfBaseVclFieldMapper> InternalGetMapperForDescriptor(
      TzfFieldDescriptor& aFieldDescriptor, TzfVclMapperMethod& aMapperZofrinToVcl,
      TzfVclMapperMethod& aMapperVclToZofrin) const override {
    auto mapper = std::make_unique<M>(aFieldDescriptor);
    aMapperZofrinToVcl = zfVclMapperMethod<&M::MapZofrinDataToVcl>(mapper.get());
    aMapperVclToZofrin = zfVclMapperMethod<&M::MapVclDataToZofrin>(mapper.get());
    return mapper;
  }
  void InternalMapParamTypeAndSizeToZofrin(int32_t, TzfFieldType& aZofrinType, int32_t& aZofrinSize) const override {
    aZofrinType = FZofrinType;
    aZofrinSize = StorageLength(FZofrinType, 0);
  }

 private:
  const char16_t* FName;
  TzfFieldType FZofrinType;
  TFieldType FVclType;
};

// Variable-size classes: units from the field; padding and string classes add their steps.
template <class M>
class TVariableSizeMapperClass final : public TzfVclFieldMapperClassInfo {
  static constexpr bool kPadding = std::is_base_of_v<TzfBasePaddingVclFieldMapper, M>;
  static constexpr bool kString = std::is_base_of_v<TzfBaseStringVclFieldMapper, M>;

 public:
  // aUnitsOffset and aUnitsDivisor give the units of a parameter size: size / divisor - offset.
  TVariableSizeMapperClass(const char16_t* aName, TzfFieldType aZofrinType, TFieldType aVclType, int32_t aUnitsDivisor,
                           int32_t aUnitsOffset)
      : FName(aName), FZofrinType(aZofrinType), FVclType(aVclType), FDivisor(aUnitsDivisor), FOffset(aUnitsOffset) {}
  const char16_t* ClassName() const override { return FName; }
  TzfFieldType GetZofrinType() const override { return FZofrinType; }
  TFieldType GetVclFieldType() const override { return FVclType; }
  int32_t UnitsFromVclSize(int32_t aSize) const { return aSize / FDivisor - FOffset; }

  void InternalMapZofrinDescriptorToVcl(const TzfFieldDescriptor& aFieldDescriptor, TFieldType& aFieldType,
                                        uint16_t& aSize, db::TFieldAttributes& aAttributes) const override {
    aFieldType = FVclType;
    aSize = static_cast<uint16_t>(std::clamp<int32_t>(aFieldDescriptor.fdUnits, 0, 65535));
    if (kPadding && aFieldDescriptor.fdDecPl > 0) aAttributes.Include(db::faFixed);
  }

  std::unique_ptr<TzfBaseVclFieldMapper> InternalGetMapperForDescriptor(
      TzfFieldDescriptor& aFieldDescriptor, TzfVclMapperMethod& aMapperZofrinToVcl,
      TzfVclMapperMethod& aMapperVclToZofrin) const override {
    auto mapper = std::make_unique<M>(aFieldDescriptor.fdUnits);
    aMapperZofrinToVcl = zfVclMapperMethod<&M::MapZofrinDataToVcl>(mapper.get());
    aMapperVclToZofrin = zfVclMapperMethod<&M::MapVclDataToZofrin>(mapper.get());
    if constexpr (kPadding) {
      mapper->SetPadding(aFieldDescriptor.fdDecPl);
      const bool padded = mapper->bpvfmPadding > 0;
      if (padded) {
        aMapperZofrinToVcl = zfVclMapperMethod<&M::MapZofrinDataToVclPadded>(mapper.get());
        aMapperVclToZofrin = zfVclMapperMethod<&M::MapVclDataToZofrinPadded>(mapper.get());
      }
      if constexpr (kString) {
        TzfLocaleDescriptor* locale = aFieldDescriptor.GetUsedLocaleDescriptor();
        const uint16_t codePage = locale ? locale->GetStorageCodepage() : 0;
        if (codePage != 0) {
          mapper->bsvfmStorageCodepage = codePage;
          if (padded) {
            aMapperZofrinToVcl = zfVclMapperMethod<&M::MapZofrinDataToVclTranslatePadded>(mapper.get());
            aMapperVclToZofrin = zfVclMapperMethod<&M::MapVclDataToZofrinTranslatePadded>(mapper.get());
          } else {
            aMapperZofrinToVcl = zfVclMapperMethod<&M::MapZofrinDataToVclTranslate>(mapper.get());
            aMapperVclToZofrin = zfVclMapperMethod<&M::MapVclDataToZofrinTranslate>(mapper.get());
          }
        }
      }
    }
    return mapper;
  }

  // Padding classes make the field fixed-width (decimals = units) when the definition asks.
  TzfFieldDescriptor* InternalAddDescriptorForFieldDef(TzfFieldsDescriptor& aFieldsDescriptor,
                                                       const db::TFieldDef& aFieldDef) const override {
    TzfFieldDescriptor* field = TzfVclFieldMapperClassInfo::InternalAddDescriptorForFieldDef(aFieldsDescriptor, aFieldDef);
    if (kPadding && (aFieldDef.DataType() == db::ftFixedChar || aFieldDef.Attributes().Contains(db::faFixed))) {
      field->fdDecPl = field->fdUnits;
      field->UpdateSetup();
    }
    return field;
  }

  void InternalMapParamTypeAndSizeToZofrin(int32_t aParamSize, TzfFieldType& aZofrinType,
                                           int32_t& aZofrinSize) const override {
    aZofrinType = FZofrinType;
    aZofrinSize = StorageLength(FZofrinType, UnitsFromVclSize(aParamSize));
  }

 private:
  const char16_t* FName;
  TzfFieldType FZofrinType;
  TFieldType FVclType;
  int32_t FDivisor;
  int32_t FOffset;
};

// The 31 classes, one per engine type.
const std::vector<TzfVclFieldMapperClass>& AllClasses() {
  static const TStaticMapperClass<TzfBooleanVclFieldMapper> kBoolean;
  static const TStaticMapperClass<TzfAnsiCharVclFieldMapper> kAnsiChar;
  static const TStaticMapperClass<TzfWideCharVclFieldMapper> kWideChar;
  static const TStaticMapperClass<TzfByte8VclFieldMapper> kByte8;
  static const TStaticMapperClass<TzfWord16VclFieldMapper> kWord16;
  static const TStaticMapperClass<TzfWord32VclFieldMapper> kWord32;
  static const TStaticMapperClass<TzfInt8VclFieldMapper> kInt8;
  static const TStaticMapperClass<TzfInt16VclFieldMapper> kInt16;
  static const TStaticMapperClass<TzfInt32VclFieldMapper> kInt32;
  static const TStaticMapperClass<TzfInt64VclFieldMapper> kInt64;
  static const TStaticMapperClass<TzfAutoIncVclFieldMapper> kAutoInc;
  static const TStaticMapperClass<TzfSingleVclFieldMapper> kSingle;
  static const TStaticMapperClass<TzfDoubleVclFieldMapper> kDouble;
  static const TStaticMapperClass<TzfExtendedVclFieldMapper> kExtended;
  static const TStaticMapperClass<TzfCurrencyVclFieldMapper> kCurrency;
  static const TStaticMapperClass<TzfDateVclFieldMapper> kDate;
  static const TStaticMapperClass<TzfTimeVclFieldMapper> kTime;
  static const TStaticMapperClass<TzfDateTimeVclFieldMapper> kDateTime;
  static const TStaticMapperClass<TzfIntervalVclFieldMapper> kInterval;
  static const TStaticMapperClass<TzfBlobVclFieldMapper> kBlob;
  static const TStaticMapperClass<TzfMemoVclFieldMapper> kMemo;
  static const TStaticMapperClass<TzfGraphicVclFieldMapper> kGraphic;
  static const TVariableSizeMapperClass<TzfByteArrayVclFieldMapper> kByteArray(u"TzfByteArrayVclFieldMapper",
                                                                               zftByteArray, db::ftBytes, 1, 0);
  static const TVariableSizeMapperClass<TzfShortStringVclFieldMapper> kShortString(u"TzfShortStringVclFieldMapper",
                                                                                   zftShortString, db::ftString, 1, 1);
  static const TVariableSizeMapperClass<TzfNullStringVclFieldMapper> kNullString(u"TzfNullStringVclFieldMapper",
                                                                                 zftNullString, db::ftString, 1, 1);
  static const TVariableSizeMapperClass<TzfWideStringVclFieldMapper> kWideString(u"TzfWideStringVclFieldMapper",
                                                                                 zftWideString, db::ftWideString, 2, 1);
  static const TStaticMapperClass<TzfRecRevVclFieldMapper> kRecRev;
  static const TStaticMapperClass<TzfGuidVclFieldMapper> kGuid;
  static const TInstantiatedMapperClass<TzfBcdVclFieldMapper> kBcd(u"TzfBcdVclFieldMapper", zftBCD, db::ftBCD);
  static const TStaticMapperClass<TzfWideMemoVclFieldMapper> kWideMemo;
  static const TInstantiatedMapperClass<TzfFmtBcdVclFieldMapper> kFmtBcd(u"TzfFmtBcdVclFieldMapper", zftFmtBCD,
                                                                         db::ftFMTBcd);
  static const std::vector<TzfVclFieldMapperClass> classes{
      &kBoolean, &kAnsiChar, &kWideChar, &kByte8,    &kWord16,     &kWord32,     &kInt8,       &kInt16,
      &kInt32,   &kInt64,    &kAutoInc,  &kSingle,   &kDouble,     &kExtended,   &kCurrency,   &kDate,
      &kTime,    &kDateTime, &kInterval, &kBlob,     &kMemo,       &kGraphic,    &kByteArray,  &kShortString,
      &kNullString, &kWideString, &kRecRev, &kGuid, &kBcd, &kWideMemo, &kFmtBcd};
  return classes;
}

TzfVclFieldMapperClass ByZofrinType(TzfFieldType aType) {
  return zfIsValidFieldType(aType) ? zfVclMapperByZofrinType[static_cast<uint8_t>(aType)] : nullptr;
}

TzfVclFieldMapperClass ByVclType(TFieldType aType) {
  return static_cast<int>(aType) < db::FieldTypeCount ? zfVclMapperByVclType[aType] : nullptr;
}

void InitConversion() {
  for (TzfVclFieldMapperClass c : AllClasses()) zfVclMapperByZofrinType[static_cast<uint8_t>(c->GetZofrinType())] = c;
  // The framework types a field definition may have, each with the engine type it becomes.
  static constexpr std::pair<TFieldType, TzfFieldType> kFromVcl[] = {
      {db::ftBoolean, zftBoolean},       {db::ftByte, zftByte},           {db::ftWord, zftWord16},
      {db::ftLongWord, zftWord32},       {db::ftShortint, zftInt8},       {db::ftSmallint, zftInt16},
      {db::ftInteger, zftInt32},         {db::ftLargeint, zftInt64},      {db::ftAutoInc, zftAutoInc},
      {db::ftFloat, zftDouble},          {db::ftExtended, zftExtended},   {db::ftCurrency, zftCurrency},
      {db::ftDate, zftDate},             {db::ftTime, zftTime},           {db::ftDateTime, zftDateTime},
      {db::ftBlob, zftBlob},             {db::ftFmtMemo, zftBlob},        {db::ftParadoxOle, zftBlob},
      {db::ftDBaseOle, zftBlob},         {db::ftTypedBinary, zftBlob},    {db::ftMemo, zftBlobMemo},
      {db::ftGraphic, zftBlobGraphic},   {db::ftBytes, zftByteArray},     {db::ftString, zftNullString},
      {db::ftFixedChar, zftNullString},  {db::ftWideString, zftWideString}, {db::ftGuid, zftGuid},
      {db::ftBCD, zftBCD},               {db::ftWideMemo, zftBlobWideMemo}, {db::ftFMTBcd, zftFmtBCD},
  };
  for (const auto& [vcl, zofrin] : kFromVcl) zfVclMapperByVclType[vcl] = ByZofrinType(zofrin);
}

void FinalizeConversion() {
  zfVclMapperByZofrinType.fill(nullptr);
  zfVclMapperByVclType.fill(nullptr);
}

}  // namespace

// ---- entry points --------------------------------------------------------------------------------

void TzfBaseVclFieldMapper::MapZofrinDescriptorToVcl(const TzfFieldDescriptor& aFieldDescriptor,
                                                     TFieldType& aFieldType, uint16_t& aSize,
                                                     db::TFieldAttributes& aAttributes) {
  aAttributes = {};
  aFieldType = db::ftUnknown;
  aSize = 0;
  if (aFieldDescriptor.fdNoClientAccess) aAttributes.Include(db::faHiddenCol).Include(db::faReadonly);
  if (aFieldDescriptor.fdRequired) aAttributes.Include(db::faRequired);
  if (TzfVclFieldMapperClass c = ByZofrinType(aFieldDescriptor.fdType))
    c->InternalMapZofrinDescriptorToVcl(aFieldDescriptor, aFieldType, aSize, aAttributes);
}

std::unique_ptr<TzfBaseVclFieldMapper> TzfBaseVclFieldMapper::GetMapperForDescriptor(
    TzfFieldDescriptor& aFieldDescriptor, TzfVclMapperMethod& aMapperZofrinToVcl,
    TzfVclMapperMethod& aMapperVclToZofrin) {
  aMapperZofrinToVcl.Clear();
  aMapperVclToZofrin.Clear();
  if (aFieldDescriptor.fdNoClientAccess) return nullptr;
  TzfVclFieldMapperClass c = ByZofrinType(aFieldDescriptor.fdType);
  if (!c) return nullptr;
  return c->InternalGetMapperForDescriptor(aFieldDescriptor, aMapperZofrinToVcl, aMapperVclToZofrin);
}

TzfFieldDescriptor* TzfBaseVclFieldMapper::AddDescriptorForFieldDef(TzfFieldsDescriptor& aFieldsDescriptor,
                                                                   const db::TFieldDef& aFieldDef) {
  TzfVclFieldMapperClass c = ByVclType(aFieldDef.DataType());
  return c ? c->InternalAddDescriptorForFieldDef(aFieldsDescriptor, aFieldDef) : nullptr;
}

TFieldType TzfBaseVclFieldMapper::MapZofrinToParamType(TzfFieldType aZofrinType) {
  TzfVclFieldMapperClass c = ByZofrinType(aZofrinType);
  return c ? c->InternalMapZofrinToParamType() : db::ftUnknown;
}

void TzfBaseVclFieldMapper::MapParamTypeAndSizeToZofrin(TFieldType aParamType, int32_t aParamSize,
                                                        TzfFieldType& aZofrinType, int32_t& aZofrinSize) {
  aZofrinSize = 0;
  if (TzfVclFieldMapperClass c = ByVclType(aParamType))
    c->InternalMapParamTypeAndSizeToZofrin(aParamSize, aZofrinType, aZofrinSize);
}

rtl::TUnitInit& zfdbConversionUnit() {
  static rtl::TUnitInit unit("zfdbConversion", InitConversion, FinalizeConversion);
  return unit;
}

}  // namespace zf
