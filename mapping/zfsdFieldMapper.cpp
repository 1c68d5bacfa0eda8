#include "mapping/zfsdFieldMapper.h"

#include <cstring>

#include "dictionary/zfsdFieldDescriptor.h"
#include "platform/rtl/rtlAnsi.h"

namespace zf {

namespace {

bool HasCodePage(TzfFieldType aType) {
  return aType == zftChar || aType == zftShortString || aType == zftNullString;
}

std::unique_ptr<TzfBaseFieldMapper> TrySameLayout(const TzfFieldMapperClass&, TzfFieldDescriptor& aSourceField,
                                                  IzfMapperCursor*, TzfFieldDescriptor& aTargetField,
                                                  IzfMapperCursor*, const TzfFieldMapperDescriptor*,
                                                  TzfMappingMethod& aMapper) {
  aMapper.Clear();
  const TzfFieldType type = aSourceField.fdType;
  if (aTargetField.fdType != type || type == zftInterval || zfIsBlobType(type)) return nullptr;
  if (aSourceField.fdLength != aTargetField.fdLength || aSourceField.fdUnits != aTargetField.fdUnits ||
      aSourceField.fdDecPl != aTargetField.fdDecPl || aSourceField.fdLength <= 0)
    return nullptr;
  // 8-bit text is copied byte for byte only between equal code pages; 0 stands for the process's
  // ANSI code page, so it is resolved before the comparison.
  if (HasCodePage(type) && rtl::ResolveCodePage(aSourceField.GetStorageCodePage()) !=
                               rtl::ResolveCodePage(aTargetField.GetStorageCodePage()))
    return nullptr;
  auto mapper = std::make_unique<TzfSameLayoutMapper>(aSourceField.fdLength);
  aMapper = zfMapperMethod<&TzfSameLayoutMapper::Copy>(mapper.get());
  return mapper;
}

// Runs after the family mappers: the copy takes only the diagonal cells that no family fills, so
// that every cell keeps one class.
void StartUnit() {
  for (int t = 0; t < zfFieldTypeCount; ++t) {
    const auto type = static_cast<TzfFieldType>(t);
    if (type != zftInterval && !zfIsBlobType(type) && zfFieldMapperCell(type, type).empty())
      zfRegisterFieldMapper(TzfSameLayoutMapper::ClassInfo(), type, type);
  }
}

void StopUnit() {}

}  // namespace

const TzfFieldMapperClass& TzfSameLayoutMapper::ClassInfo() {
  static const TzfFieldMapperClass info{u"TzfSameLayoutMapper", &TrySameLayout};
  return info;
}

uint32_t TzfSameLayoutMapper::Copy(const uint8_t* aSource, uint8_t* aTarget) {
  std::memcpy(aTarget, aSource, static_cast<size_t>(slmLength));
  return 0;
}

rtl::TUnitInit& zfsdFieldMapperUnit() {
  static rtl::TUnitInit unit("zfsdFieldMapper", &StartUnit, &StopUnit);
  return unit;
}

}  // namespace zf
