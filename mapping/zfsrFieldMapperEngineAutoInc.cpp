#include "mapping/zfsrFieldMapperEngineAutoInc.h"

#include <algorithm>

#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdTableDescriptor.h"
#include "mapping/zfsdFieldMapperDescriptor.h"
#include "mapping/zfsdMapperCursor.h"

namespace zf {

namespace {

std::unique_ptr<TzfBaseFieldMapperEngine> NewEngine(TzfFieldMapperDescriptor& aDescriptor,
                                                    IzfMapperCursor& aSourceCursor, IzfMapperCursor& aTargetCursor) {
  return std::make_unique<TzfFieldMapperEngineAutoInc>(aDescriptor, aSourceCursor, aTargetCursor);
}

// Entered only as the special engine of AutoInc targets: no descriptor class names it.
void StartUnit() {
  TzfBaseFieldMapperEngine::RegisterSpecialMapper(TzfFieldMapperEngineAutoInc::ClassInfo(), zftAutoInc);
}

void StopUnit() {
  TzfBaseFieldMapperEngine::UnregisterSpecialMapper(TzfFieldMapperEngineAutoInc::ClassInfo(), zftAutoInc);
}

}  // namespace

const TzfFieldMapperEngineClass& TzfFieldMapperEngineAutoInc::ClassInfo() {
  static const TzfFieldMapperEngineClass info(u"TzfFieldMapperEngineAutoInc", &TzfBaseFieldMapperEngine::ClassInfo(),
                                              &NewEngine);
  return info;
}

TzfFieldMapperEngineAutoInc::TzfFieldMapperEngineAutoInc(TzfFieldMapperDescriptor& aDescriptor,
                                                         IzfMapperCursor& aSourceCursor,
                                                         IzfMapperCursor& aTargetCursor)
    : fmeaTargetCursor(&aTargetCursor),
      fmeaTargetFieldsDescriptor(aTargetCursor.acGetTableDescriptor()->tdFieldsDescriptor.get()),
      fmeaApplyToNull(aDescriptor.bfcdApplyDefault) {
  if (!aDescriptor.bfcdSourceName.empty()) fmeaSourceCursor = &aSourceCursor;
  fmeaTargetFieldNumber = fmeaTargetFieldsDescriptor->GetFieldFromName(aDescriptor.bfcdTargetName);
  if (fmeaTargetFieldNumber < 0) throw EzfFieldMapperEngineException(zfErrInvalidFieldName);
}

void TzfFieldMapperEngineAutoInc::BeforeFirstRecord() {
  if (fmeaSourceCursor) fmeaHighAutoInc = fmeaSourceCursor->sbcAutoIncGet();
  fmeaTargetCursor->sbcAutoIncSetDirect(fmeaHighAutoInc);
}

void TzfFieldMapperEngineAutoInc::BeforeCommit() {
  if (fmeaSourceCursor) fmeaHighAutoInc = std::max(fmeaSourceCursor->sbcAutoIncGet(), fmeaHighAutoInc);
  fmeaTargetCursor->sbcAutoIncSetDirect(fmeaHighAutoInc);
}

uint32_t TzfFieldMapperEngineAutoInc::MapField(const uint8_t*, uint8_t* aTarget) {
  TzfFieldDescriptor* field = fmeaTargetFieldsDescriptor->Field(fmeaTargetFieldNumber);
  uint8_t* value = aTarget + field->fdOffset;
  if (fmeaTargetFieldsDescriptor->IsRecordFieldNull(fmeaTargetFieldNumber, aTarget)) {
    if (!fmeaApplyToNull) return 0;
    if (fmeaHighAutoInc == UINT32_MAX) rtl::RaiseIntOverflow();
    ++fmeaHighAutoInc;
    zfStoreLE<uint32_t>(value, fmeaHighAutoInc);
    fmeaTargetFieldsDescriptor->SetRecordFieldNull(fmeaTargetFieldNumber, aTarget, false);
    fmeaTargetCursor->sbcAutoIncSetDirect(fmeaHighAutoInc);
  } else if (const uint32_t v = zfLoadLE<uint32_t>(value); v > fmeaHighAutoInc) {
    fmeaHighAutoInc = v;
    fmeaTargetCursor->sbcAutoIncSetDirect(fmeaHighAutoInc);
  }
  return 0;
}

rtl::TUnitInit& zfsrFieldMapperEngineAutoIncUnit() {
  static rtl::TUnitInit unit("zfsrFieldMapperEngineAutoInc", &StartUnit, &StopUnit);
  return unit;
}

}  // namespace zf
