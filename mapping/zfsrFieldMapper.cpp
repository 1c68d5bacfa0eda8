#include "mapping/zfsrFieldMapper.h"

#include "dictionary/zfsdFieldDescriptor.h"
#include "mapping/zfsdMapperCursor.h"

namespace zf {

namespace {

bool IsBlobSideType(TzfFieldType aType) {
  return zfIsBlobType(aType) || aType == zftShortString || aType == zftNullString || aType == zftWideString;
}

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
  return std::make_unique<T>(aSourceField, *aSourceCursor, aTargetField, *aTargetCursor, aMapperDesc, aMapper);
}

void StartUnit() {
  zfRegisterFieldMapper(TzfBlobMapper::ClassInfo(), zftBlob, zftBlob);
  zfRegisterFieldMapper(TzfBlobMapper::ClassInfo(), zftBlobGraphic, zftBlobGraphic);
  zfRegisterFieldMapper(TzfBlobMapper::ClassInfo(), zftBlobWideMemo, zftBlobWideMemo);
  zfRegisterFieldMapper(TzfBlobMemoToBlobMemoMapper::ClassInfo(), zftBlobMemo, zftBlobMemo);
}

void StopUnit() {}

}  // namespace

// ---- TzfBlobMapper ----

const TzfFieldMapperClass& TzfBlobMapper::ClassInfo() {
  static const TzfFieldMapperClass info{u"TzfBlobMapper", &TryBlob<TzfBlobMapper>};
  return info;
}

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

// ---- TzfBlobMemoToBlobMemoMapper ----

const TzfFieldMapperClass& TzfBlobMemoToBlobMemoMapper::ClassInfo() {
  static const TzfFieldMapperClass info{u"TzfBlobMemoToBlobMemoMapper", &TryBlob<TzfBlobMemoToBlobMemoMapper>};
  return info;
}

TzfBlobMemoToBlobMemoMapper::TzfBlobMemoToBlobMemoMapper(TzfFieldDescriptor& aSourceField,
                                                         IzfMapperCursor& aSourceCursor,
                                                         TzfFieldDescriptor& aTargetField,
                                                         IzfMapperCursor& aTargetCursor,
                                                         const TzfFieldMapperDescriptor* aMapperDesc,
                                                         TzfMappingMethod& aMapper)
    : TzfBlobMapper(aSourceField, aSourceCursor, aTargetField, aTargetCursor, aMapperDesc, aMapper),
      mtmSourceCodepage(aSourceField.GetStorageCodePage()),
      mtmTargetCodepage(aTargetField.GetStorageCodePage()) {
  // Re-encoding memo text between two code pages is not offered yet: no method for such a pair.
  if (mtmSourceCodepage != 0 && mtmTargetCodepage != 0 && mtmSourceCodepage != mtmTargetCodepage) aMapper.Clear();
}

rtl::TUnitInit& zfsrFieldMapperUnit() {
  static rtl::TUnitInit unit("zfsrFieldMapper", &StartUnit, &StopUnit);
  return unit;
}

}  // namespace zf
