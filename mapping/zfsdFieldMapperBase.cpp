#include "mapping/zfsdFieldMapperBase.h"

#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdTableDescriptor.h"
#include "mapping/zfsdFieldMapperDescriptor.h"
#include "mapping/zfsdMapperCursor.h"

namespace zf {

namespace {

constexpr const char16_t* kActionNames[] = {u"dlaFail", u"dlaNull", u"dlaBestFit"};

using TzfMapperCell = std::vector<const TzfFieldMapperClass*>;
// Indexed by source type ordinal * 31 + target type ordinal. Filled by unit starts on the main
// thread before any engine runs and only read afterwards, so lookups take no lock.
std::array<TzfMapperCell, zfFieldTypeCount * zfFieldTypeCount> gFieldMappers;

TzfMapperCell& Cell(TzfFieldType aSourceType, TzfFieldType aTargetType) {
  return gFieldMappers[static_cast<size_t>(aSourceType) * zfFieldTypeCount + static_cast<size_t>(aTargetType)];
}

std::unique_ptr<TzfBaseFieldMapper> BaseTryCreate(const TzfFieldMapperClass&, TzfFieldDescriptor&, IzfMapperCursor*,
                                                  TzfFieldDescriptor&, IzfMapperCursor*,
                                                  const TzfFieldMapperDescriptor*, TzfMappingMethod& aMapper) {
  aMapper.Clear();
  return nullptr;
}

TzfFieldDescriptor& FieldByName(IzfMapperCursor& aCursor, const UnicodeString& aName) {
  TzfBaseTableDescriptor* table = aCursor.acGetTableDescriptor();
  const int32_t field = table->GetFieldFromName(aName);
  if (field < 0) throw EzfBaseFieldMapperException(zfErrInvalidFieldName);
  return *table->tdFieldsDescriptor->Field(field);
}

void StartRegistry() {}

void StopRegistry() {
  for (TzfMapperCell& cell : gFieldMappers) TzfMapperCell().swap(cell);
}

}  // namespace

const char16_t* zfDataLossActionName(TzfDataLossAction aAction) {
  const auto i = static_cast<size_t>(aAction);
  return i < std::size(kActionNames) ? kActionNames[i] : kActionNames[0];
}

bool zfDataLossActionFromName(rtl::UnicodeStringView aName, TzfDataLossAction& aAction) {
  for (size_t i = 0; i < std::size(kActionNames); ++i)
    if (rtl::SameText(aName, kActionNames[i])) {
      aAction = static_cast<TzfDataLossAction>(i);
      return true;
    }
  return false;
}

bool zfIsBestFit(const TzfFieldMapperDescriptor* aMapperDesc) {
  return aMapperDesc && aMapperDesc->bfcdDataLossAction == dlaBestFit;
}

const TzfFieldMapperClass& TzfBaseFieldMapper::ClassInfo() {
  static const TzfFieldMapperClass info{u"TzfBaseFieldMapper", &BaseTryCreate};
  return info;
}

std::unique_ptr<TzfBaseFieldMapper> TzfBaseFieldMapper::CreateMapper(
    TzfFieldDescriptor& aSourceField, IzfMapperCursor* aSourceCursor, TzfFieldDescriptor& aTargetField,
    IzfMapperCursor* aTargetCursor, const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper) {
  aMapper.Clear();
  // A stored type outside the enumeration has no cell.
  if (!zfIsValidFieldType(aSourceField.fdType) || !zfIsValidFieldType(aTargetField.fdType)) return nullptr;
  const TzfMapperCell& cell = Cell(aSourceField.fdType, aTargetField.fdType);
  std::unique_ptr<TzfBaseFieldMapper> result;
  for (auto it = cell.rbegin(); it != cell.rend(); ++it) {
    // An instance made by a class that then set no method is freed as the walk goes on.
    result = (*it)->TryCreateMapper(**it, aSourceField, aSourceCursor, aTargetField, aTargetCursor, aMapperDesc,
                                    aMapper);
    if (aMapper.IsSet()) break;
  }
  return result;
}

std::unique_ptr<TzfBaseFieldMapper> TzfBaseFieldMapper::CreateMapper(IzfMapperCursor& aSourceCursor,
                                                                     IzfMapperCursor& aTargetCursor,
                                                                     const TzfFieldMapperDescriptor& aMapperDesc,
                                                                     TzfMappingMethod& aMapper) {
  aMapper.Clear();
  TzfFieldDescriptor& source = FieldByName(aSourceCursor, aMapperDesc.bfcdSourceName);
  TzfFieldDescriptor& target = FieldByName(aTargetCursor, aMapperDesc.bfcdTargetName);
  return CreateMapper(source, &aSourceCursor, target, &aTargetCursor, &aMapperDesc, aMapper);
}

void zfRegisterFieldMapper(const TzfFieldMapperClass& aClass, TzfFieldType aSourceType, TzfFieldType aTargetType) {
  if (!zfIsValidFieldType(aSourceType) || !zfIsValidFieldType(aTargetType))
    rtl::AssertionFailure("zfsdFieldMapperBase", __LINE__);
  Cell(aSourceType, aTargetType).push_back(&aClass);
}

std::vector<const TzfFieldMapperClass*> zfFieldMapperCell(TzfFieldType aSourceType, TzfFieldType aTargetType) {
  if (!zfIsValidFieldType(aSourceType) || !zfIsValidFieldType(aTargetType)) return {};
  return Cell(aSourceType, aTargetType);
}

rtl::TUnitInit& zfsdFieldMapperBaseUnit() {
  static rtl::TUnitInit unit("zfsdFieldMapperBase", &StartRegistry, &StopRegistry);
  return unit;
}

}  // namespace zf
