#include "mapping/zfsdStringMapper.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dictionary/zfsdFieldDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "platform/locale/locCodePages.h"
#include "platform/os/osSystem.h"

namespace zf {

namespace {

constexpr size_t kShortStringDecodeRoom = 256;
constexpr size_t kNullStringDecodeRoom = 65536;

bool IsBlank(char16_t c) { return c == u' '; }

size_t TrimmedLength(std::string_view aText) {
  size_t n = aText.size();
  while (n > 0 && aText[n - 1] == ' ') --n;
  return n;
}

void TrimWide(rtl::UnicodeString& aText) {
  while (!aText.empty() && IsBlank(aText.back())) aText.pop_back();
}

// The room of a decoding buffer: none, or the given one.
size_t DecodeRoom(size_t aLimit) { return aLimit == 0 ? SIZE_MAX : aLimit; }

// Decodes aText or raises the conversion error.
void DecodeOrRaise(uint16_t aCodePage, std::string_view aText, rtl::UnicodeString& aResult, size_t aMaxUnits,
                   const char16_t* aAction) {
  if (!zfDecodeText(aCodePage, aText, aResult, aMaxUnits)) zfRaiseConversionError(aAction, u"MultiByteToWideChar");
}

}  // namespace

// ---- Text fields ------------------------------------------------------------------------------

int32_t zfTextFieldRoom(const TzfFieldDescriptor& aField) {
  switch (aField.fdType) {
    case zftShortString:
    case zftNullString: return std::max(aField.fdLength - 1, 0);
    case zftWideString: return std::max(aField.fdLength / 2 - 1, 0);
    default: return 0;
  }
}

bool zfIsFixedTextField(const TzfFieldDescriptor& aField) { return aField.fdDecPl > 0; }

std::string_view zfAnsiFieldText(TzfFieldType aType, const uint8_t* aField, int32_t aUnits) {
  const size_t room = static_cast<size_t>(std::max(aUnits, 0));
  const char* text = reinterpret_cast<const char*>(aField);
  if (aType == zftShortString) return {text + 1, std::min<size_t>(aField[0], room)};
  const void* end = std::memchr(text, 0, room);
  return {text, end ? static_cast<size_t>(static_cast<const char*>(end) - text) : room};
}

rtl::UnicodeString zfWideFieldText(const uint8_t* aField, int32_t aUnits) {
  rtl::UnicodeString text;
  for (int32_t i = 0; i < aUnits; ++i) {
    const auto unit = static_cast<char16_t>(zfLoadLE<uint16_t>(aField + 2 * static_cast<size_t>(i)));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

void zfStoreAnsiText(TzfFieldType aType, uint8_t* aField, const char* aText, size_t aCount) {
  if (aType == zftShortString) {
    aField[0] = static_cast<uint8_t>(aCount);
    if (aCount) std::memcpy(aField + 1, aText, aCount);
  } else {
    if (aCount) std::memcpy(aField, aText, aCount);
    aField[aCount] = 0;
  }
}

void zfStoreWideText(uint8_t* aField, const char16_t* aText, size_t aCount) {
  for (size_t i = 0; i < aCount; ++i) zfStoreLE<uint16_t>(aField + 2 * i, aText[i]);
  zfStoreLE<uint16_t>(aField + 2 * aCount, 0);
}

// ---- Code-page conversion ---------------------------------------------------------------------

bool zfDecodeText(uint16_t aCodePage, std::string_view aText, rtl::UnicodeString& aResult, size_t aMaxUnits) {
  const int32_t needed = locale::MultiByteToWideChar(aCodePage, 0, aText, nullptr, 0);
  if (needed <= 0) return false;
  if (static_cast<size_t>(needed) > aMaxUnits) {
    os::SetLastError(ENOBUFS);
    return false;
  }
  aResult.resize(static_cast<size_t>(needed));
  const int32_t got = locale::MultiByteToWideChar(aCodePage, 0, aText, aResult.data(), needed);
  if (got <= 0) return false;
  aResult.resize(static_cast<size_t>(got));
  return true;
}

TzfEncodeResult zfEncodeText(uint16_t aCodePage, rtl::UnicodeStringView aText, std::string& aResult, int32_t aRoom) {
  const int32_t needed = locale::WideCharToMultiByte(aCodePage, 0, aText, nullptr, 0);
  if (needed <= 0) return TzfEncodeResult::erFailed;
  if (needed > aRoom) return TzfEncodeResult::erNoRoom;
  aResult.resize(static_cast<size_t>(needed));
  const int32_t got = locale::WideCharToMultiByte(aCodePage, 0, aText, aResult.data(), needed);
  if (got <= 0) return TzfEncodeResult::erFailed;
  aResult.resize(static_cast<size_t>(got));
  return TzfEncodeResult::erOk;
}

bool zfEncodeTextCut(uint16_t aCodePage, rtl::UnicodeStringView aText, std::string& aResult, int32_t aRoom) {
  aResult.clear();
  if (aText.empty()) return true;
  switch (zfEncodeText(aCodePage, aText, aResult, aRoom)) {
    case TzfEncodeResult::erOk: return true;
    case TzfEncodeResult::erFailed: return false;
    case TzfEncodeResult::erNoRoom: break;
  }
  // The encoded length grows with the part encoded: the longest part that fits is found by
  // halving, with a cut never between the two halves of a surrogate pair.
  auto cutAt = [&](size_t n) {
    if (n > 0 && n < aText.size() && aText[n - 1] >= 0xD800 && aText[n - 1] <= 0xDBFF) --n;
    return n;
  };
  size_t fits = 0, tooLong = aText.size();
  std::string encoded;
  while (tooLong - fits > 1) {
    const size_t mid = fits + (tooLong - fits) / 2;
    const size_t n = cutAt(mid);
    if (n <= fits) {
      tooLong = mid;
      continue;
    }
    switch (zfEncodeText(aCodePage, aText.substr(0, n), encoded, aRoom)) {
      case TzfEncodeResult::erOk: fits = n; aResult = encoded; break;
      case TzfEncodeResult::erNoRoom: tooLong = mid; break;
      case TzfEncodeResult::erFailed: return false;
    }
  }
  if (fits == 0) aResult.clear();
  return true;
}

void zfRaiseConversionError(const char16_t* aAction, const char16_t* aCall) {
  zfRaiseLastOSError(rtl::UnicodeString(aAction) + u"/" + aCall);
}

// ---- TzfTextSource ----------------------------------------------------------------------------

TzfTextSource TzfTextSource::FromField(TzfFieldDescriptor& aField) {
  const bool ansi = aField.fdType != zftWideString;
  return {aField.fdType,
          zfTextFieldRoom(aField),
          aField.fdLength,
          ansi ? aField.GetStorageCodePage() : uint16_t{0},
          zfIsFixedTextField(aField),
          aField.fdType == zftShortString ? kShortStringDecodeRoom : kNullStringDecodeRoom};
}

// ---- TzfStringMapperBase ----------------------------------------------------------------------

TzfStringMapperBase::TzfStringMapperBase(const TzfTextSource& aSource, TzfFieldDescriptor& aTargetField,
                                         const char16_t* aAction)
    : smSource(aSource),
      smTargetType(aTargetField.fdType),
      smTargetLength(aTargetField.fdLength),
      smTargetRoom(zfTextFieldRoom(aTargetField)),
      smSourceCodepage(aSource.Codepage),
      smTargetCodepage(aTargetField.fdType == zftWideString ? uint16_t{0} : aTargetField.GetStorageCodePage()),
      smTrim(!aSource.Fixed && zfIsFixedTextField(aTargetField)),
      smAction(aAction) {}

std::string_view TzfStringMapperBase::SourceAnsi(const uint8_t* aSource) const {
  return zfAnsiFieldText(smSource.Type, aSource, smSource.Units);
}

rtl::UnicodeString TzfStringMapperBase::SourceWide(const uint8_t* aSource) const {
  return zfWideFieldText(aSource, smSource.Units);
}

void TzfStringMapperBase::StoreEmpty(uint8_t* aTarget) const {
  if (smTargetType == zftWideString)
    zfStoreWideText(aTarget, nullptr, 0);
  else
    zfStoreAnsiText(smTargetType, aTarget, nullptr, 0);
}

uint32_t TzfStringMapperBase::StoreEncoded(rtl::UnicodeString aText, uint8_t* aTarget, bool aBestFit) {
  if (aBestFit && aText.size() > static_cast<size_t>(smTargetRoom)) aText.resize(static_cast<size_t>(smTargetRoom));
  if (smTrim) TrimWide(aText);
  if (aText.empty()) {
    StoreEmpty(aTarget);
    return 0;
  }
  std::string bytes;
  if (aBestFit) {
    if (!zfEncodeTextCut(smTargetCodepage, aText, bytes, smTargetRoom))
      zfRaiseConversionError(smAction, u"WideCharToMultiByte");
  } else {
    switch (zfEncodeText(smTargetCodepage, aText, bytes, smTargetRoom)) {
      case TzfEncodeResult::erOk: break;
      case TzfEncodeResult::erNoRoom: StoreEmpty(aTarget); return zfErrInvalidFieldXForm;
      case TzfEncodeResult::erFailed: zfRaiseConversionError(smAction, u"WideCharToMultiByte");
    }
  }
  zfStoreAnsiText(smTargetType, aTarget, bytes.data(), bytes.size());
  return 0;
}

uint32_t TzfStringMapperBase::Convert(const uint8_t* aSource, uint8_t* aTarget, bool aBestFit) {
  const std::string_view text = SourceAnsi(aSource);
  if (text.empty()) {
    StoreEmpty(aTarget);
    return 0;
  }
  rtl::UnicodeString wide;
  DecodeOrRaise(smSourceCodepage, text, wide, DecodeRoom(smSource.DecodeLimit), smAction);
  return StoreEncoded(std::move(wide), aTarget, aBestFit);
}

uint32_t TzfStringMapperBase::ConvertBestFit(const uint8_t* aSource, uint8_t* aTarget) {
  return Convert(aSource, aTarget, true);
}

uint32_t TzfStringMapperBase::ConvertCheck(const uint8_t* aSource, uint8_t* aTarget) {
  return Convert(aSource, aTarget, false);
}

uint32_t TzfStringMapperBase::CopyBestFit(const uint8_t* aSource, uint8_t* aTarget) {
  const std::string_view text = SourceAnsi(aSource);
  size_t n = std::min(text.size(), static_cast<size_t>(smTargetRoom));
  if (smTrim) n = TrimmedLength(text.substr(0, n));
  zfStoreAnsiText(smTargetType, aTarget, text.data(), n);
  return 0;
}

uint32_t TzfStringMapperBase::CopyCheck(const uint8_t* aSource, uint8_t* aTarget) {
  const std::string_view text = SourceAnsi(aSource);
  const size_t n = smTrim ? TrimmedLength(text) : text.size();
  if (n > static_cast<size_t>(smTargetRoom)) return zfErrInvalidFieldXForm;
  zfStoreAnsiText(smTargetType, aTarget, text.data(), n);
  return 0;
}

uint32_t TzfStringMapperBase::CopyWhole(const uint8_t* aSource, uint8_t* aTarget) {
  // Chosen only where the target holds every text the source can: the length byte, clamped to
  // the source's room, and the text bytes.
  return CopyBestFit(aSource, aTarget);
}

uint32_t TzfStringMapperBase::WideToAnsiBestFit(const uint8_t* aSource, uint8_t* aTarget) {
  return StoreEncoded(SourceWide(aSource), aTarget, true);
}

uint32_t TzfStringMapperBase::WideToAnsiCheck(const uint8_t* aSource, uint8_t* aTarget) {
  return StoreEncoded(SourceWide(aSource), aTarget, false);
}

uint32_t TzfStringMapperBase::AnsiToWideBestFit(const uint8_t* aSource, uint8_t* aTarget) {
  std::string_view text = SourceAnsi(aSource);
  if (smTrim) text = text.substr(0, TrimmedLength(text));
  if (text.empty()) {
    StoreEmpty(aTarget);
    return 0;
  }
  rtl::UnicodeString wide;
  if (!zfDecodeText(smSourceCodepage, text, wide, static_cast<size_t>(smTargetRoom))) {
    // No room in the target: decode in full and keep the first C units.
    DecodeOrRaise(smSourceCodepage, text, wide, DecodeRoom(smSource.DecodeLimit), smAction);
    wide.resize(std::min(wide.size(), static_cast<size_t>(smTargetRoom)));
  }
  zfStoreWideText(aTarget, wide.data(), wide.size());
  return 0;
}

uint32_t TzfStringMapperBase::AnsiToWideCheck(const uint8_t* aSource, uint8_t* aTarget) {
  std::string_view text = SourceAnsi(aSource);
  if (smTrim) text = text.substr(0, TrimmedLength(text));
  if (text.empty()) {
    StoreEmpty(aTarget);
    return 0;
  }
  rtl::UnicodeString wide;
  if (!zfDecodeText(smSourceCodepage, text, wide, static_cast<size_t>(smTargetRoom))) {
    if (os::GetLastError() != ENOBUFS) zfRaiseConversionError(smAction, u"MultiByteToWideChar");
    StoreEmpty(aTarget);
    return zfErrInvalidFieldXForm;
  }
  zfStoreWideText(aTarget, wide.data(), wide.size());
  return 0;
}

uint32_t TzfStringMapperBase::WideToWideBestFit(const uint8_t* aSource, uint8_t* aTarget) {
  rtl::UnicodeString text = SourceWide(aSource);
  if (text.size() > static_cast<size_t>(smTargetRoom)) text.resize(static_cast<size_t>(smTargetRoom));
  if (smTrim) TrimWide(text);
  zfStoreWideText(aTarget, text.data(), text.size());
  return 0;
}

uint32_t TzfStringMapperBase::WideToWideCheck(const uint8_t* aSource, uint8_t* aTarget) {
  rtl::UnicodeString text = SourceWide(aSource);
  if (smTrim) TrimWide(text);
  if (text.size() > static_cast<size_t>(smTargetRoom)) return zfErrInvalidFieldXForm;
  zfStoreWideText(aTarget, text.data(), text.size());
  return 0;
}

// ---- The 8-bit pairs ----------------------------------------------------------------------------

namespace {

// The method of an 8-bit to 8-bit mapper: convert (best fit or check) when the code pages ask for
// it, else copy the bytes (whole, cut, or checked).
void Choose8Bit(TzfStringMapperBase& aSelf, const TzfFieldMapperDescriptor* aMapperDesc, bool aWholeCopy,
                const char16_t* aClassName, TzfMappingMethod& aMethod) {
  bool multiByte = false;
  if (aSelf.smTargetCodepage != 0) {
    locale::TCPInfo info;
    if (!locale::GetCPInfo(aSelf.smTargetCodepage, info))
      zfRaiseConversionError((rtl::UnicodeString(aClassName) + u".Create").c_str(), u"GetCPInfo");
    multiByte = info.MaxCharSize > 1;
  }
  const bool shorter = aSelf.smTargetLength < aSelf.smSource.Length;
  const bool convert = aSelf.smSourceCodepage != 0 && aSelf.smTargetCodepage != 0 &&
                       (aSelf.smSourceCodepage != aSelf.smTargetCodepage || (multiByte && shorter));
  const bool bestFit = zfIsBestFit(aMapperDesc);
  using B = TzfStringMapperBase;
  if (convert)
    aMethod = bestFit ? zfMapperMethod<&B::ConvertBestFit>(&aSelf) : zfMapperMethod<&B::ConvertCheck>(&aSelf);
  else if (!shorter)
    aMethod = aWholeCopy ? zfMapperMethod<&B::CopyWhole>(&aSelf) : zfMapperMethod<&B::CopyBestFit>(&aSelf);
  else
    aMethod = bestFit ? zfMapperMethod<&B::CopyBestFit>(&aSelf) : zfMapperMethod<&B::CopyCheck>(&aSelf);
}

const char16_t* ShortToShortAction(const TzfFieldMapperDescriptor* aMapperDesc) {
  return zfIsBestFit(aMapperDesc) ? u"TzfShortStringToShortStringMapper.ToShortStringConvert"
                                  : u"TzfShortStringToShortStringMapper.ToShortStringConvertCheck";
}

const char16_t* WideToAnsiAction(TzfFieldType aTarget, const TzfFieldMapperDescriptor* aMapperDesc) {
  const bool bestFit = zfIsBestFit(aMapperDesc);
  if (aTarget == zftNullString)
    return bestFit ? u"TzfWideStringToAnsiStringMapper.ToNullStringConvert"
                   : u"TzfWideStringToAnsiStringMapper.ToNullStringConvertCheck";
  return bestFit ? u"TzfWideStringToAnsiStringMapper.ToShortStringConvert"
                 : u"TzfWideStringToAnsiStringMapper.ToShortStringConvertCheck";
}

const char16_t* AnsiToWideAction(TzfFieldType aSource, const TzfFieldMapperDescriptor* aMapperDesc) {
  const bool bestFit = zfIsBestFit(aMapperDesc);
  if (aSource == zftNullString)
    return bestFit ? u"TzfAnsiStringToWideStringMapper.FromNullStringConvert"
                   : u"TzfAnsiStringToWideStringMapper.FromNullStringConvertCheck";
  return bestFit ? u"TzfAnsiStringToWideStringMapper.FromShortStringConvert"
                 : u"TzfAnsiStringToWideStringMapper.FromShortStringConvertCheck";
}

}  // namespace

TzfShortStringToShortStringMapper::TzfShortStringToShortStringMapper(const TzfTextSource& aSource,
                                                                     TzfFieldDescriptor& aTargetField,
                                                                     const TzfFieldMapperDescriptor* aMapperDesc,
                                                                     TzfMappingMethod& aMapper)
    : TzfStringMapperBase(aSource, aTargetField, ShortToShortAction(aMapperDesc)) {
  Choose8Bit(*this, aMapperDesc, true, u"TzfShortStringToShortStringMapper", aMapper);
}

TzfShortStringToNullStringMapper::TzfShortStringToNullStringMapper(const TzfTextSource& aSource,
                                                                   TzfFieldDescriptor& aTargetField,
                                                                   const TzfFieldMapperDescriptor* aMapperDesc,
                                                                   TzfMappingMethod& aMapper)
    : TzfStringMapperBase(aSource, aTargetField, u"TzfShortStringToNullStringMapper.ToNullStringConvertCheck") {
  Choose8Bit(*this, aMapperDesc, false, u"TzfShortStringToNullStringMapper", aMapper);
}

TzfNullStringToNullStringMapper::TzfNullStringToNullStringMapper(const TzfTextSource& aSource,
                                                                 TzfFieldDescriptor& aTargetField,
                                                                 const TzfFieldMapperDescriptor* aMapperDesc,
                                                                 TzfMappingMethod& aMapper)
    : TzfStringMapperBase(aSource, aTargetField, u"TzfNullStringToNullStringMapper.ToNullStringConvertCheck") {
  Choose8Bit(*this, aMapperDesc, false, u"TzfNullStringToNullStringMapper", aMapper);
}

TzfNullStringToShortStringMapper::TzfNullStringToShortStringMapper(const TzfTextSource& aSource,
                                                                   TzfFieldDescriptor& aTargetField,
                                                                   const TzfFieldMapperDescriptor* aMapperDesc,
                                                                   TzfMappingMethod& aMapper)
    : TzfStringMapperBase(aSource, aTargetField, u"TzfNullStringToShortStringMapper.ToShortStringConvertCheck") {
  Choose8Bit(*this, aMapperDesc, false, u"TzfNullStringToShortStringMapper", aMapper);
}

TzfWideStringToAnsiStringMapper::TzfWideStringToAnsiStringMapper(const TzfTextSource& aSource,
                                                                 TzfFieldDescriptor& aTargetField,
                                                                 const TzfFieldMapperDescriptor* aMapperDesc,
                                                                 TzfMappingMethod& aMapper)
    : TzfStringMapperBase(aSource, aTargetField, WideToAnsiAction(aTargetField.fdType, aMapperDesc)) {
  using B = TzfStringMapperBase;
  aMapper = zfIsBestFit(aMapperDesc) ? zfMapperMethod<&B::WideToAnsiBestFit>(static_cast<B*>(this))
                                     : zfMapperMethod<&B::WideToAnsiCheck>(static_cast<B*>(this));
}

TzfAnsiStringToWideStringMapper::TzfAnsiStringToWideStringMapper(const TzfTextSource& aSource,
                                                                 TzfFieldDescriptor& aTargetField,
                                                                 const TzfFieldMapperDescriptor* aMapperDesc,
                                                                 TzfMappingMethod& aMapper)
    : TzfStringMapperBase(aSource, aTargetField, AnsiToWideAction(aSource.Type, aMapperDesc)) {
  using B = TzfStringMapperBase;
  aMapper = zfIsBestFit(aMapperDesc) ? zfMapperMethod<&B::AnsiToWideBestFit>(static_cast<B*>(this))
                                     : zfMapperMethod<&B::AnsiToWideCheck>(static_cast<B*>(this));
}

TzfWideStringToWideStringMapper::TzfWideStringToWideStringMapper(const TzfTextSource& aSource,
                                                                 TzfFieldDescriptor& aTargetField,
                                                                 const TzfFieldMapperDescriptor* aMapperDesc,
                                                                 TzfMappingMethod& aMapper)
    : TzfStringMapperBase(aSource, aTargetField, u"TzfWideStringToWideStringMapper") {
  using B = TzfStringMapperBase;
  // A target at least as long takes every source text: the cutting copy never cuts.
  const bool cut = zfIsBestFit(aMapperDesc) || smTargetLength >= aSource.Length;
  aMapper = cut ? zfMapperMethod<&B::WideToWideBestFit>(static_cast<B*>(this))
                : zfMapperMethod<&B::WideToWideCheck>(static_cast<B*>(this));
}

namespace {

// The nine text pairs: the class that serves each and how it is made.
struct TStringPair {
  TzfFieldType Source, Target;
  const TzfFieldMapperClass& (*Class)();
  std::unique_ptr<TzfStringMapperBase> (*Make)(const TzfTextSource&, TzfFieldDescriptor&,
                                               const TzfFieldMapperDescriptor*, TzfMappingMethod&);
};

template <class T>
std::unique_ptr<TzfStringMapperBase> Make(const TzfTextSource& aSource, TzfFieldDescriptor& aTargetField,
                                          const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper) {
  return std::make_unique<T>(aSource, aTargetField, aMapperDesc, aMapper);
}

#define ZF_PAIR(S, T, C) {S, T, &C::ClassInfo, &Make<C>}
const TStringPair kStringPairs[] = {
    ZF_PAIR(zftShortString, zftShortString, TzfShortStringToShortStringMapper),
    ZF_PAIR(zftShortString, zftNullString, TzfShortStringToNullStringMapper),
    ZF_PAIR(zftShortString, zftWideString, TzfAnsiStringToWideStringMapper),
    ZF_PAIR(zftNullString, zftShortString, TzfNullStringToShortStringMapper),
    ZF_PAIR(zftNullString, zftNullString, TzfNullStringToNullStringMapper),
    ZF_PAIR(zftNullString, zftWideString, TzfAnsiStringToWideStringMapper),
    ZF_PAIR(zftWideString, zftShortString, TzfWideStringToAnsiStringMapper),
    ZF_PAIR(zftWideString, zftNullString, TzfWideStringToAnsiStringMapper),
    ZF_PAIR(zftWideString, zftWideString, TzfWideStringToWideStringMapper),
};
#undef ZF_PAIR

const TStringPair* PairOf(TzfFieldType aSource, TzfFieldType aTarget) {
  for (const TStringPair& p : kStringPairs)
    if (p.Source == aSource && p.Target == aTarget) return &p;
  return nullptr;
}

template <class T>
std::unique_ptr<TzfBaseFieldMapper> TryString(const TzfFieldMapperClass&, TzfFieldDescriptor& aSourceField,
                                              IzfMapperCursor*, TzfFieldDescriptor& aTargetField, IzfMapperCursor*,
                                              const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper) {
  aMapper.Clear();
  const TStringPair* pair = PairOf(aSourceField.fdType, aTargetField.fdType);
  if (!pair || &pair->Class() != &T::ClassInfo()) return nullptr;
  return pair->Make(TzfTextSource::FromField(aSourceField), aTargetField, aMapperDesc, aMapper);
}

void StartUnit() {
  for (const TStringPair& p : kStringPairs) zfRegisterFieldMapper(p.Class(), p.Source, p.Target);
}

void StopUnit() {}

}  // namespace

std::unique_ptr<TzfStringMapperBase> zfCreateStringMapper(const TzfTextSource& aSource,
                                                          TzfFieldDescriptor& aTargetField,
                                                          const TzfFieldMapperDescriptor* aMapperDesc,
                                                          TzfMappingMethod& aMapper) {
  aMapper.Clear();
  const TStringPair* pair = PairOf(aSource.Type, aTargetField.fdType);
  return pair ? pair->Make(aSource, aTargetField, aMapperDesc, aMapper) : nullptr;
}

#define ZF_U16(s) u##s
#define ZF_STRING_MAPPER_CLASS(T)                                      \
  const TzfFieldMapperClass& T::ClassInfo() {                          \
    static const TzfFieldMapperClass info{ZF_U16(#T), &TryString<T>}; \
    return info;                                                       \
  }
ZF_STRING_MAPPER_CLASS(TzfShortStringToShortStringMapper)
ZF_STRING_MAPPER_CLASS(TzfShortStringToNullStringMapper)
ZF_STRING_MAPPER_CLASS(TzfNullStringToNullStringMapper)
ZF_STRING_MAPPER_CLASS(TzfNullStringToShortStringMapper)
ZF_STRING_MAPPER_CLASS(TzfWideStringToAnsiStringMapper)
ZF_STRING_MAPPER_CLASS(TzfAnsiStringToWideStringMapper)
ZF_STRING_MAPPER_CLASS(TzfWideStringToWideStringMapper)
#undef ZF_STRING_MAPPER_CLASS
#undef ZF_U16

rtl::TUnitInit& zfsdStringMapperUnit() {
  static rtl::TUnitInit unit("zfsdStringMapper", &StartUnit, &StopUnit);
  return unit;
}

}  // namespace zf
