#include "mapping/zfsdBytesMapper.h"

#include <algorithm>
#include <cstring>

#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFmtBcd.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "platform/locale/locCodePages.h"
#include "platform/rtl/rtlGuid.h"

namespace zf {

namespace {

constexpr uint32_t kNoFit = zfErrInvalidFieldXForm;

// The action text of a failed conversion, naming the method and the call.
const char16_t* DecodeAction(TzfFieldType aTarget, bool aCut) {
  switch (aTarget) {
    case zftShortString:
      return aCut ? u"TzfByteArrayMapper.ToShortStringConvert/MultiByteToWideChar"
                  : u"TzfByteArrayMapper.ToShortStringConvertCheck/MultiByteToWideChar";
    case zftNullString:
      return aCut ? u"TzfByteArrayMapper.ToNullStringConvert/MultiByteToWideChar"
                  : u"TzfByteArrayMapper.ToNullStringConvertCheck/MultiByteToWideChar";
    default:
      return aCut ? u"TzfByteArrayMapper.ToWideString/MultiByteToWideChar"
                  : u"TzfByteArrayMapper.ToWideStringCheck/MultiByteToWideChar";
  }
}

std::unique_ptr<TzfBaseFieldMapper> TryByteArray(const TzfFieldMapperClass&, TzfFieldDescriptor& aSourceField,
                                                 IzfMapperCursor*, TzfFieldDescriptor& aTargetField, IzfMapperCursor*,
                                                 const TzfFieldMapperDescriptor* aMapperDesc,
                                                 TzfMappingMethod& aMapper) {
  using M = TzfByteArrayMapper;
  aMapper.Clear();
  if (aSourceField.fdType != zftByteArray) return nullptr;
  const TzfFieldType target = aTargetField.fdType;
  if (target != zftByteArray && target != zftGuid && !zfIsTextMappingTarget(target)) return nullptr;
  auto mapper = std::make_unique<M>(aSourceField, aTargetField);
  M* m = mapper.get();
  const bool bestFit = zfIsBestFit(aMapperDesc);
  const int32_t source = m->bamSourceLength;
  switch (target) {
    case zftByteArray:
      if (bestFit || m->bamTargetLength >= source) aMapper = zfMapperMethod<&M::Copy>(m);
      break;
    case zftGuid:
      if (bestFit || source >= static_cast<int32_t>(rtl::GUIDSize)) aMapper = zfMapperMethod<&M::Copy>(m);
      break;
    case zftWideString:
      if (bestFit)
        aMapper = zfMapperMethod<&M::Convert<true>>(m);
      else if (source < m->bamTargetLength / 2)
        aMapper = zfMapperMethod<&M::Convert<false>>(m);
      break;
    default:
      if (m->NeedsReencoding())
        aMapper = bestFit ? zfMapperMethod<&M::Convert<true>>(m) : zfMapperMethod<&M::Convert<false>>(m);
      else if (bestFit || source < m->bamTargetLength)
        aMapper = zfMapperMethod<&M::RawCopy>(m);
      break;
  }
  return mapper;
}

std::unique_ptr<TzfBaseFieldMapper> TryFmtBCD(const TzfFieldMapperClass&, TzfFieldDescriptor& aSourceField,
                                              IzfMapperCursor*, TzfFieldDescriptor& aTargetField, IzfMapperCursor*,
                                              const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper) {
  using M = TzfFmtBCDMapper;
  aMapper.Clear();
  if (aSourceField.fdType != zftFmtBCD || aTargetField.fdType != zftFmtBCD) return nullptr;
  auto mapper = std::make_unique<M>(aSourceField, aTargetField);
  M* m = mapper.get();
  if (m->fbmSourceLength == m->fbmTargetLength && m->fbmSourceUnits == m->fbmTargetUnits &&
      m->fbmSourceDecPl == m->fbmTargetDecPl)
    aMapper = zfMapperMethod<&M::Copy>(m);
  else if (zfIsBestFit(aMapperDesc))
    aMapper = zfMapperMethod<&M::Normalize<true>>(m);
  else
    aMapper = zfMapperMethod<&M::Normalize<false>>(m);
  return mapper;
}

}  // namespace

// ---- TzfByteArrayMapper -----------------------------------------------------------------------------

TzfByteArrayMapper::TzfByteArrayMapper(TzfFieldDescriptor& aSourceField, TzfFieldDescriptor& aTargetField)
    : bamSourceLength(aSourceField.fdLength),
      bamTargetLength(aTargetField.fdLength),
      bamSourceCodepage(aSourceField.GetStorageCodePage()),
      bamTargetCodepage(aTargetField.GetStorageCodePage()) {
  if (zfIsTextMappingTarget(aTargetField.fdType)) bamTextTarget = TzfTextTarget::Of(aTargetField);
  const int32_t room = aTargetField.fdType == zftGuid ? static_cast<int32_t>(rtl::GUIDSize) : bamTargetLength;
  bamCopyLength = std::max(0, std::min(bamSourceLength, room));
}

const TzfFieldMapperClass& TzfByteArrayMapper::ClassInfo() {
  static const TzfFieldMapperClass info{u"TzfByteArrayMapper", &TryByteArray};
  return info;
}

bool TzfByteArrayMapper::NeedsReencoding() const {
  if (!bamSourceCodepage || !bamTargetCodepage) return false;
  if (bamSourceCodepage != bamTargetCodepage) return true;
  locale::TCPInfo info;
  return bamTargetLength < bamSourceLength && locale::GetCPInfo(bamTargetCodepage, info) && info.MaxCharSize > 1;
}

uint32_t TzfByteArrayMapper::Copy(const uint8_t* aSource, uint8_t* aTarget) {
  std::memcpy(aTarget, aSource, static_cast<size_t>(bamCopyLength));
  return 0;
}

uint32_t TzfByteArrayMapper::RawCopy(const uint8_t* aSource, uint8_t* aTarget) {
  bamTextTarget.StoreBytes(std::string_view(reinterpret_cast<const char*>(aSource), static_cast<size_t>(bamSourceLength)),
                           aTarget);
  return 0;
}

template <bool Cut>
uint32_t TzfByteArrayMapper::Convert(const uint8_t* aSource, uint8_t* aTarget) {
  // The text ends at the first zero byte, as 8-bit text kept in a byte array does.
  const auto* bytes = reinterpret_cast<const char*>(aSource);
  const std::string_view source(bytes, std::find(bytes, bytes + bamSourceLength, '\0') - bytes);
  rtl::UnicodeString text;
  if (!locale::BytesToUnicode(bamSourceCodepage, source, text)) zfRaiseLastOSError(DecodeAction(bamTextTarget.Type, Cut));
  return bamTextTarget.Store(text, Cut, aTarget);
}

// ---- TzfFmtBCDMapper --------------------------------------------------------------------------------

TzfFmtBCDMapper::TzfFmtBCDMapper(TzfFieldDescriptor& aSourceField, TzfFieldDescriptor& aTargetField)
    : fbmSourceLength(aSourceField.fdLength),
      fbmSourceUnits(aSourceField.fdUnits),
      fbmSourceDecPl(aSourceField.fdDecPl),
      fbmTargetLength(aTargetField.fdLength),
      fbmTargetUnits(aTargetField.fdUnits),
      fbmTargetDecPl(aTargetField.fdDecPl) {}

const TzfFieldMapperClass& TzfFmtBCDMapper::ClassInfo() {
  static const TzfFieldMapperClass info{u"TzfFmtBCDMapper", &TryFmtBCD};
  return info;
}

uint32_t TzfFmtBCDMapper::Copy(const uint8_t* aSource, uint8_t* aTarget) {
  std::memcpy(aTarget, aSource, static_cast<size_t>(fbmTargetLength));
  return 0;
}

template <bool BestFit>
uint32_t TzfFmtBCDMapper::Normalize(const uint8_t* aSource, uint8_t* aTarget) {
  rtl::TBcd value, kept;
  // Damaged bytes (digits beyond the field, a nibble above 9) are never carried into the target.
  if (!zfFmtBcdFromBytes(aSource, fbmSourceLength, value)) return kNoFit;
  const uint8_t lost =
      zfNormalizeBcd(value, kept, static_cast<uint16_t>(fbmTargetUnits), static_cast<uint16_t>(fbmTargetDecPl));
  if (lost && !BestFit) return kNoFit;
  std::memcpy(aTarget, &kept, std::min(sizeof kept, static_cast<size_t>(fbmTargetLength)));
  return 0;
}

}  // namespace zf
