#include "mapping/zfsrFieldMapper.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "dictionary/zfsdFieldDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllWideString.h"
#include "mapping/zfsdMapperCursor.h"

namespace zf {

namespace {

// The room of a BLOB's text handed to a string mapper: as much as a record field may hold.
constexpr int32_t kBlobTextRoom = 0x3FFFFFFF;
constexpr uint32_t kShortStringRoom = 255;

bool IsBlobSideType(TzfFieldType aType) { return zfIsBlobType(aType) || zfIsTextType(aType); }

// The class-level TryCreateMapper shared by the BLOB-side classes: the cell decides the class, the
// data-loss action does not; both cursors are needed.
template <class T>
std::unique_ptr<TzfBaseFieldMapper> TryBlob(const TzfFieldMapperClass&, TzfFieldDescriptor& aSourceField,
                                            IzfMapperCursor* aSourceCursor, TzfFieldDescriptor& aTargetField,
                                            IzfMapperCursor* aTargetCursor, const TzfFieldMapperDescriptor* aMapperDesc,
                                            TzfMappingMethod& aMapper) {
  aMapper.Clear();
  if (!IsBlobSideType(aSourceField.fdType) || !IsBlobSideType(aTargetField.fdType)) return nullptr;
  if (!aSourceCursor || !aTargetCursor) return nullptr;
  auto mapper = std::make_unique<T>(aSourceField, *aSourceCursor, aTargetField, *aTargetCursor, aMapperDesc, aMapper);
  if (!aMapper.IsSet()) return nullptr;
  return mapper;
}

bool CodepagesDiffer(uint16_t aSource, uint16_t aTarget) { return aSource != 0 && aTarget != 0 && aSource != aTarget; }

void StartUnit() {
  const TzfFieldType blobs[] = {zftBlob, zftBlobMemo, zftBlobGraphic, zftBlobWideMemo};
  for (TzfFieldType source : {zftBlob, zftBlobGraphic})
    for (TzfFieldType target : blobs) zfRegisterFieldMapper(TzfBlobMapper::ClassInfo(), source, target);
  zfRegisterFieldMapper(TzfBlobMapper::ClassInfo(), zftBlobMemo, zftBlob);
  zfRegisterFieldMapper(TzfBlobMapper::ClassInfo(), zftBlobMemo, zftBlobGraphic);
  zfRegisterFieldMapper(TzfBlobMemoToBlobMemoMapper::ClassInfo(), zftBlobMemo, zftBlobMemo);
  zfRegisterFieldMapper(TzfBlobMemoToBlobWideMemoMapper::ClassInfo(), zftBlobMemo, zftBlobWideMemo);
  for (TzfFieldType target : {zftBlob, zftBlobGraphic, zftBlobWideMemo})
    zfRegisterFieldMapper(TzfBlobMapper::ClassInfo(), zftBlobWideMemo, target);
  zfRegisterFieldMapper(TzfBlobWideMemoToBlobMemoMapper::ClassInfo(), zftBlobWideMemo, zftBlobMemo);
  for (TzfFieldType target : blobs) {
    zfRegisterFieldMapper(TzfShortStringToBlobMapper::ClassInfo(), zftShortString, target);
    zfRegisterFieldMapper(TzfNullStringToBlobMapper::ClassInfo(), zftNullString, target);
    zfRegisterFieldMapper(TzfWideStringToBlobMapper::ClassInfo(), zftWideString, target);
  }
  for (TzfFieldType source : {zftBlob, zftBlobMemo, zftBlobGraphic}) {
    zfRegisterFieldMapper(TzfBlobToShortStringMapper::ClassInfo(), source, zftShortString);
    zfRegisterFieldMapper(TzfBlobToNullStringMapper::ClassInfo(), source, zftNullString);
    zfRegisterFieldMapper(TzfBlobToWideStringMapper::ClassInfo(), source, zftWideString);
  }
  zfRegisterFieldMapper(TzfBlobWideMemoToAnsiStringMapper::ClassInfo(), zftBlobWideMemo, zftShortString);
  zfRegisterFieldMapper(TzfBlobWideMemoToAnsiStringMapper::ClassInfo(), zftBlobWideMemo, zftNullString);
  zfRegisterFieldMapper(TzfBlobWideMemoToWideStringMapper::ClassInfo(), zftBlobWideMemo, zftWideString);
}

void StopUnit() {}

}  // namespace

// ---- TzfBlobMapper ----

TzfBlobMapper::TzfBlobMapper(TzfFieldDescriptor& aSourceField, IzfMapperCursor& aSourceCursor,
                             TzfFieldDescriptor& aTargetField, IzfMapperCursor& aTargetCursor,
                             const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper)
    : bmSourceCursor(aSourceCursor),
      bmTargetCursor(aTargetCursor),
      bmSourceField(aSourceField),
      bmTargetField(aTargetField),
      bmNullError(zfIsBestFit(aMapperDesc) ? 1 : zfErrInvalidFieldXForm) {
  aMapper = zfMapperMethod<&TzfBlobMapper::PlainCopy>(this);
}

uint32_t TzfBlobMapper::PlainCopy(const uint8_t* aSource, uint8_t* aTarget) {
  zfStoreLE<int64_t>(aTarget, 0);
  const int64_t source = zfLoadLE<int64_t>(aSource);
  if (source == 0) return bmNullError;
  int64_t target = 0;
  const uint32_t result = bmTargetCursor.sbcBlobCopyPrim(&bmSourceCursor, bmSourceField.fdNumber, source,
                                                         bmTargetField.fdNumber, target, 0xFFFFFFFFu);
  if (result == 0) zfStoreLE<int64_t>(aTarget, target);
  return result;
}

uint32_t TzfBlobMapper::ReadSource(int64_t aBlobNr, std::string& aBytes, uint32_t aMax) {
  aBytes.clear();
  uint32_t length = 0;
  if (const uint32_t r = bmSourceCursor.sbcBlobGetLength(bmSourceField.fdNumber, aBlobNr, length, false)) return r;
  length = std::min(length, aMax);
  if (length == 0) return 0;
  TzfMemoryStream stream;
  if (const uint32_t r = bmSourceCursor.sbcBlobRead(bmSourceField.fdNumber, aBlobNr, 0, length, stream, false))
    return r;
  // Never more than asked for, whatever the cursor appended.
  const auto size = static_cast<size_t>(std::min<int64_t>(stream.GetSize(), length));
  aBytes.assign(static_cast<const char*>(stream.Memory()), size);
  return 0;
}

uint32_t TzfBlobMapper::StoreNewBlob(const void* aData, size_t aCount, uint8_t* aTarget) {
  zfStoreLE<int64_t>(aTarget, 0);
  if (aCount > UINT32_MAX) return zfErrInvalidFieldXForm;
  const int32_t field = bmTargetField.fdNumber;
  int64_t blob = 0;
  if (const uint32_t r = bmTargetCursor.sbcBlobCreate(field, blob)) return r;
  uint32_t r;
  try {
    r = bmTargetCursor.sbcBlobWrite(field, blob, 0, static_cast<uint32_t>(aCount), aData);
  } catch (...) {
    bmTargetCursor.sbcBlobDelete(field, blob);
    throw;
  }
  if (r != 0) {
    bmTargetCursor.sbcBlobDelete(field, blob);
    return r;
  }
  zfStoreLE<int64_t>(aTarget, blob);
  return 0;
}

uint32_t TzfBlobMapper::ConvertBlob(const uint8_t* aSource, uint8_t* aTarget,
                                    const std::function<std::string(const std::string&)>& aConvert) {
  zfStoreLE<int64_t>(aTarget, 0);
  const int64_t source = zfLoadLE<int64_t>(aSource);
  if (source == 0) return bmNullError;
  std::string bytes;
  if (const uint32_t r = ReadSource(source, bytes)) return r;
  if (!bytes.empty()) bytes = aConvert(bytes);
  if (bytes.empty()) return bmNullError;
  return StoreNewBlob(bytes.data(), bytes.size(), aTarget);
}

rtl::UnicodeString TzfBlobMapper::Decode(std::string_view aBytes, uint16_t aCodepage) {
  rtl::UnicodeString text;
  zfStringToWideString(aBytes, aCodepage, text);
  return text;
}

std::string TzfBlobMapper::Encode(rtl::UnicodeStringView aText, uint16_t aCodepage) {
  TzfBytes bytes;
  zfWideStringToString(aText, aCodepage, bytes);
  return std::string(bytes.begin(), bytes.end());
}

std::string TzfBlobMapper::UnitsToBytes(rtl::UnicodeStringView aText) {
  std::string bytes(2 * aText.size(), '\0');
  for (size_t i = 0; i < aText.size(); ++i) zfStoreLE<uint16_t>(reinterpret_cast<uint8_t*>(bytes.data()) + 2 * i, aText[i]);
  return bytes;
}

rtl::UnicodeString TzfBlobMapper::BytesToUnits(std::string_view aBytes) {
  rtl::UnicodeString text(aBytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(zfLoadLE<uint16_t>(reinterpret_cast<const uint8_t*>(aBytes.data()) + 2 * i));
  return text;
}

// ---- Memo to memo ----

TzfBlobMemoToBlobMemoMapper::TzfBlobMemoToBlobMemoMapper(TzfFieldDescriptor& aSourceField,
                                                         IzfMapperCursor& aSourceCursor,
                                                         TzfFieldDescriptor& aTargetField,
                                                         IzfMapperCursor& aTargetCursor,
                                                         const TzfFieldMapperDescriptor* aMapperDesc,
                                                         TzfMappingMethod& aMapper)
    : TzfBlobMapper(aSourceField, aSourceCursor, aTargetField, aTargetCursor, aMapperDesc, aMapper),
      mtmSourceCodepage(aSourceField.GetStorageCodePage()),
      mtmTargetCodepage(aTargetField.GetStorageCodePage()) {
  if (CodepagesDiffer(mtmSourceCodepage, mtmTargetCodepage))
    aMapper = zfMapperMethod<&TzfBlobMemoToBlobMemoMapper::ReEncode>(this);
}

uint32_t TzfBlobMemoToBlobMemoMapper::ReEncode(const uint8_t* aSource, uint8_t* aTarget) {
  return ConvertBlob(aSource, aTarget, [this](const std::string& aBytes) {
    const rtl::UnicodeString text = Decode(aBytes, mtmSourceCodepage);
    return text.empty() ? std::string() : Encode(text, mtmTargetCodepage);
  });
}

TzfBlobMemoToBlobWideMemoMapper::TzfBlobMemoToBlobWideMemoMapper(TzfFieldDescriptor& aSourceField,
                                                                 IzfMapperCursor& aSourceCursor,
                                                                 TzfFieldDescriptor& aTargetField,
                                                                 IzfMapperCursor& aTargetCursor,
                                                                 const TzfFieldMapperDescriptor* aMapperDesc,
                                                                 TzfMappingMethod& aMapper)
    : TzfBlobMapper(aSourceField, aSourceCursor, aTargetField, aTargetCursor, aMapperDesc, aMapper),
      mtwSourceCodepage(aSourceField.GetStorageCodePage()) {
  aMapper = zfMapperMethod<&TzfBlobMemoToBlobWideMemoMapper::ToWide>(this);
}

uint32_t TzfBlobMemoToBlobWideMemoMapper::ToWide(const uint8_t* aSource, uint8_t* aTarget) {
  return ConvertBlob(aSource, aTarget,
                     [this](const std::string& aBytes) { return UnitsToBytes(Decode(aBytes, mtwSourceCodepage)); });
}

TzfBlobWideMemoToBlobMemoMapper::TzfBlobWideMemoToBlobMemoMapper(TzfFieldDescriptor& aSourceField,
                                                                 IzfMapperCursor& aSourceCursor,
                                                                 TzfFieldDescriptor& aTargetField,
                                                                 IzfMapperCursor& aTargetCursor,
                                                                 const TzfFieldMapperDescriptor* aMapperDesc,
                                                                 TzfMappingMethod& aMapper)
    : TzfBlobMapper(aSourceField, aSourceCursor, aTargetField, aTargetCursor, aMapperDesc, aMapper),
      wtmTargetCodepage(aTargetField.GetStorageCodePage()) {
  aMapper = zfMapperMethod<&TzfBlobWideMemoToBlobMemoMapper::ToAnsi>(this);
}

uint32_t TzfBlobWideMemoToBlobMemoMapper::ToAnsi(const uint8_t* aSource, uint8_t* aTarget) {
  return ConvertBlob(aSource, aTarget, [this](const std::string& aBytes) {
    const rtl::UnicodeString text = BytesToUnits(aBytes);
    return text.empty() ? std::string() : Encode(text, wtmTargetCodepage);
  });
}

// ---- Text fields into BLOBs ----

TzfAnsiTextToBlobMapper::TzfAnsiTextToBlobMapper(TzfFieldDescriptor& aSourceField, IzfMapperCursor& aSourceCursor,
                                                 TzfFieldDescriptor& aTargetField, IzfMapperCursor& aTargetCursor,
                                                 const TzfFieldMapperDescriptor* aMapperDesc,
                                                 TzfMappingMethod& aMapper)
    : TzfBlobMapper(aSourceField, aSourceCursor, aTargetField, aTargetCursor, aMapperDesc, aMapper),
      atbSourceCodepage(aSourceField.GetStorageCodePage()),
      atbTargetCodepage(aTargetField.GetStorageCodePage()),
      atbSourceUnits(zfTextFieldRoom(aSourceField)) {
  aMapper = zfMapperMethod<&TzfAnsiTextToBlobMapper::ToBlob>(this);
}

uint32_t TzfAnsiTextToBlobMapper::ToBlob(const uint8_t* aSource, uint8_t* aTarget) {
  zfStoreLE<int64_t>(aTarget, 0);
  const std::string_view text = zfAnsiFieldText(bmSourceField.fdType, aSource, atbSourceUnits);
  if (text.empty()) return bmNullError;
  std::string bytes;
  if (bmTargetField.fdType == zftBlobWideMemo)
    bytes = UnitsToBytes(Decode(text, atbSourceCodepage));
  else if (bmTargetField.fdType == zftBlobMemo && CodepagesDiffer(atbSourceCodepage, atbTargetCodepage))
    bytes = Encode(Decode(text, atbSourceCodepage), atbTargetCodepage);
  else
    bytes = text;
  if (bytes.empty()) return bmNullError;
  return StoreNewBlob(bytes.data(), bytes.size(), aTarget);
}

TzfWideStringToBlobMapper::TzfWideStringToBlobMapper(TzfFieldDescriptor& aSourceField,
                                                     IzfMapperCursor& aSourceCursor,
                                                     TzfFieldDescriptor& aTargetField,
                                                     IzfMapperCursor& aTargetCursor,
                                                     const TzfFieldMapperDescriptor* aMapperDesc,
                                                     TzfMappingMethod& aMapper)
    : TzfBlobMapper(aSourceField, aSourceCursor, aTargetField, aTargetCursor, aMapperDesc, aMapper),
      wtbSourceCodepage(aSourceField.GetStorageCodePage()),
      wtbTargetCodepage(aTargetField.GetStorageCodePage()),
      wtbSourceUnits(zfTextFieldRoom(aSourceField)) {
  aMapper = zfMapperMethod<&TzfWideStringToBlobMapper::ToBlob>(this);
}

uint32_t TzfWideStringToBlobMapper::ToBlob(const uint8_t* aSource, uint8_t* aTarget) {
  zfStoreLE<int64_t>(aTarget, 0);
  const rtl::UnicodeString text = zfWideFieldText(aSource, wtbSourceUnits);
  if (text.empty()) return bmNullError;
  const std::string bytes =
      bmTargetField.fdType == zftBlobMemo ? Encode(text, wtbTargetCodepage) : UnitsToBytes(text);
  if (bytes.empty()) return bmNullError;
  return StoreNewBlob(bytes.data(), bytes.size(), aTarget);
}

// ---- BLOBs into text fields ----

TzfBlobToTextMapper::TzfBlobToTextMapper(TzfFieldDescriptor& aSourceField, IzfMapperCursor& aSourceCursor,
                                         TzfFieldDescriptor& aTargetField, IzfMapperCursor& aTargetCursor,
                                         const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper)
    : TzfBlobMapper(aSourceField, aSourceCursor, aTargetField, aTargetCursor, aMapperDesc, aMapper),
      bttContentType(aSourceField.fdType == zftBlobWideMemo || aTargetField.fdType == zftWideString
                         ? zftWideString
                         : aTargetField.fdType),
      bttSourceCodepage(aSourceField.GetStorageCodePage()) {
  aMapper.Clear();
  TzfTextSource content{bttContentType, kBlobTextRoom, INT32_MAX,
                        bttContentType == zftWideString ? uint16_t{0} : bttSourceCodepage, false, 0};
  if (bttContentType == zftShortString) {
    content.Units = kShortStringRoom;
    content.Length = kShortStringRoom + 1;
  }
  bttInnerMapper = zfCreateStringMapper(content, aTargetField, aMapperDesc, bttMappingMethod);
  if (bttMappingMethod.IsSet()) aMapper = zfMapperMethod<&TzfBlobToTextMapper::ToText>(this);
}

uint32_t TzfBlobToTextMapper::ToText(const uint8_t* aSource, uint8_t* aTarget) {
  const int64_t source = zfLoadLE<int64_t>(aSource);
  if (source == 0) return bmNullError;
  std::string bytes;
  const uint32_t max = bttContentType == zftShortString ? kShortStringRoom : UINT32_MAX;
  if (const uint32_t r = ReadSource(source, bytes, max)) return r;
  if (bytes.empty()) return bmNullError;
  std::string content;
  switch (bttContentType) {
    case zftShortString:
      content.push_back(static_cast<char>(bytes.size()));
      content += bytes;
      break;
    case zftNullString:
      content = std::move(bytes);
      content.push_back('\0');
      break;
    default: {
      // 8-bit BLOB content is decoded with the BLOB field's code page; a wide memo holds units.
      const rtl::UnicodeString text =
          bmSourceField.fdType == zftBlobWideMemo ? BytesToUnits(bytes) : Decode(bytes, bttSourceCodepage);
      if (text.empty()) return bmNullError;
      content = UnitsToBytes(text);
      content.append(2, '\0');
      break;
    }
  }
  return bttMappingMethod(reinterpret_cast<const uint8_t*>(content.data()), aTarget);
}

// ---- Class infos ----

#define ZF_U16(s) u##s
#define ZF_BLOB_MAPPER_CLASS(T)                                      \
  const TzfFieldMapperClass& T::ClassInfo() {                        \
    static const TzfFieldMapperClass info{ZF_U16(#T), &TryBlob<T>}; \
    return info;                                                     \
  }
ZF_BLOB_MAPPER_CLASS(TzfBlobMapper)
ZF_BLOB_MAPPER_CLASS(TzfBlobMemoToBlobMemoMapper)
ZF_BLOB_MAPPER_CLASS(TzfBlobMemoToBlobWideMemoMapper)
ZF_BLOB_MAPPER_CLASS(TzfBlobWideMemoToBlobMemoMapper)
ZF_BLOB_MAPPER_CLASS(TzfShortStringToBlobMapper)
ZF_BLOB_MAPPER_CLASS(TzfNullStringToBlobMapper)
ZF_BLOB_MAPPER_CLASS(TzfWideStringToBlobMapper)
ZF_BLOB_MAPPER_CLASS(TzfBlobToShortStringMapper)
ZF_BLOB_MAPPER_CLASS(TzfBlobToNullStringMapper)
ZF_BLOB_MAPPER_CLASS(TzfBlobToWideStringMapper)
ZF_BLOB_MAPPER_CLASS(TzfBlobWideMemoToAnsiStringMapper)
ZF_BLOB_MAPPER_CLASS(TzfBlobWideMemoToWideStringMapper)
#undef ZF_BLOB_MAPPER_CLASS
#undef ZF_U16

rtl::TUnitInit& zfsrFieldMapperUnit() {
  static rtl::TUnitInit unit("zfsrFieldMapper", &StartUnit, &StopUnit);
  return unit;
}

}  // namespace zf
