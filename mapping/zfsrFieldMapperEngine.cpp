#include "mapping/zfsrFieldMapperEngine.h"

#include "dictionary/zfsdDefaultValueDescriptor.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdTableDescriptor.h"
#include "mapping/zfsdFieldMapperDescriptor.h"
#include "mapping/zfsdMapperCursor.h"

namespace zf {

namespace {

constexpr const char16_t* kCrLf = u"\r\n";

std::unique_ptr<TzfBaseFieldMapperEngine> NewEngine(TzfFieldMapperDescriptor& aDescriptor,
                                                    IzfMapperCursor& aSourceCursor, IzfMapperCursor& aTargetCursor) {
  return std::make_unique<TzfFieldMapperEngine>(aDescriptor, aSourceCursor, aTargetCursor);
}

// The field named aName in aFields; a missing one raises 10038 with " not in <side> dictionary".
int32_t FindField(TzfFieldsDescriptor& aFields, const UnicodeString& aName, const char16_t* aSide) {
  const int32_t field = aFields.GetFieldFromName(aName);
  if (field < 0)
    throw EzfFieldMapperEngineException(
        zfErrInvalidFieldName, UnicodeString(zfOrgMarker) + u" Field \"" + aName + u"\" not in " + aSide + u" dictionary");
  return field;
}

UnicodeString QuotedText(const UnicodeString& aText) {
  UnicodeString r = u"'";
  for (char16_t c : aText) {
    r += c;
    if (c == u'\'') r += c;
  }
  return r + u"'";
}

void StartUnit() { TzfBaseRegisterableEngine::RegisterEngine(TzfFieldMapperEngine::ClassInfo()); }
void StopUnit() { TzfBaseRegisterableEngine::UnregisterEngine(TzfFieldMapperEngine::ClassInfo()); }

}  // namespace

const TzfFieldMapperEngineClass& TzfFieldMapperEngine::ClassInfo() {
  static const TzfFieldMapperEngineClass info(u"TzfFieldMapperEngine", &TzfBaseFieldMapperEngine::ClassInfo(),
                                              &NewEngine);
  return info;
}

TzfFieldMapperEngine::TzfFieldMapperEngine(TzfFieldMapperDescriptor& aDescriptor, IzfMapperCursor& aSourceCursor,
                                           IzfMapperCursor& aTargetCursor)
    : fmeDataLossAction(aDescriptor.bfcdDataLossAction) {
  fmeSourceFieldsDescriptor = aSourceCursor.acGetTableDescriptor()->tdFieldsDescriptor.get();
  fmeTargetFieldsDescriptor = aTargetCursor.acGetTableDescriptor()->tdFieldsDescriptor.get();

  fmeTargetFieldNumber = FindField(*fmeTargetFieldsDescriptor, aDescriptor.bfcdTargetName, u"target");
  fmeTargetFieldDesc = fmeTargetFieldsDescriptor->Field(fmeTargetFieldNumber);
  fmeTargetFieldOffset = fmeTargetFieldDesc->fdOffset;

  if (!aDescriptor.bfcdSourceName.empty()) {
    fmeSourceFieldNumber = FindField(*fmeSourceFieldsDescriptor, aDescriptor.bfcdSourceName, u"source");
    fmeSourceFieldDesc = fmeSourceFieldsDescriptor->Field(fmeSourceFieldNumber);
    fmeSourceFieldOffset = fmeSourceFieldDesc->fdOffset;
    fmeFieldMapper = TzfBaseFieldMapper::CreateMapper(*fmeSourceFieldDesc, &aSourceCursor, *fmeTargetFieldDesc,
                                                      &aTargetCursor, &aDescriptor, fmeFieldMapperMethod);
    if (!fmeFieldMapperMethod.IsSet()) throw EzfFieldMapperEngineException(zfErrInvalidFieldXForm);
  }

  if (aDescriptor.bfcdApplyDefault)
    if (auto* dv = dynamic_cast<TzfBaseDefaultValueDescriptor*>(fmeTargetFieldDesc->fdDefaultValue.get()))
      fmeDefaultValueEngine =
          TzfBaseDefaultValueEngine::CreateFor(*dv, dynamic_cast<IzfCursorContext*>(&aTargetCursor));

  fmeSpecialMapperEngine =
      CreateSpecialMapper(fmeTargetFieldDesc->fdType, aDescriptor, aSourceCursor, aTargetCursor);
}

TzfFieldMapperEngine::~TzfFieldMapperEngine() {
  // The method is never called after its mapper is gone.
  fmeFieldMapperMethod.Clear();
  fmeFieldMapper.reset();
  fmeDefaultValueEngine.reset();
  fmeSpecialMapperEngine.reset();
}

void TzfFieldMapperEngine::BeforeFirstRecord() {
  if (fmeSpecialMapperEngine) fmeSpecialMapperEngine->BeforeFirstRecord();
}

void TzfFieldMapperEngine::BeforeCommit() {
  if (fmeSpecialMapperEngine) fmeSpecialMapperEngine->BeforeCommit();
}

bool TzfFieldMapperEngine::ApplyDefault(uint8_t* aTarget) {
  if (!fmeDefaultValueEngine) return false;
  const bool set = fmeDefaultValueEngine->SetDefaultValue(aTarget + fmeTargetFieldOffset);
  fmeTargetFieldsDescriptor->SetRecordFieldNull(fmeTargetFieldNumber, aTarget, !set);
  return true;
}

uint32_t TzfFieldMapperEngine::MapField(const uint8_t* aSource, uint8_t* aTarget) {
  uint32_t result = 0;
  if (!fmeFieldMapperMethod.IsSet() || fmeSourceFieldsDescriptor->IsRecordFieldNull(fmeSourceFieldNumber, aSource)) {
    ApplyDefault(aTarget);
  } else {
    // A failure's context starts from what the method itself reports, never from an earlier
    // failure's text left on this thread.
    EzfBaseException::SetLastConvertedException(0, u"");
    result = fmeFieldMapperMethod(aSource + fmeSourceFieldOffset, aTarget + fmeTargetFieldOffset);
    if (result == 0) {
      fmeTargetFieldsDescriptor->SetRecordFieldNull(fmeTargetFieldNumber, aTarget, false);
    } else if (fmeDataLossAction == dlaNull || result == 1) {
      // A partly written value never stays behind a NULL: the field is zeroed as InitRecord left it.
      if (!ApplyDefault(aTarget)) fmeTargetFieldsDescriptor->SetRecordField(fmeTargetFieldNumber, aTarget, nullptr);
      result = 0;
    }
  }
  if (result == 0 && fmeSpecialMapperEngine) result = fmeSpecialMapperEngine->MapField(aSource, aTarget);
  return result == 0 ? 0 : AddErrorContext(result, aSource);
}

UnicodeString TzfFieldMapperEngine::SourceValueText(const uint8_t* aSource) const {
  try {
    const rtl::Variant v = fmeSourceFieldsDescriptor->GetFieldAsVariant(aSource, fmeSourceFieldNumber);
    if (v.IsNull()) return u"NULL";
    if (v.IsEmpty()) return u"EMPTY";
    if (v.IsStr()) return QuotedText(rtl::VarToStr(v));
    return rtl::VarToStr(v);
  } catch (const rtl::Exception& e) {
    return u"[Error: " + e.Message() + u"]";
  }
}

uint32_t TzfFieldMapperEngine::AddErrorContext(uint32_t aErrorCode, const uint8_t* aSource) {
  if (aErrorCode != zfErrInvalidFieldXForm) return aErrorCode;
  uint32_t code = 0;
  UnicodeString text;
  EzfBaseException::GetLastConvertedException(code, text);
  if (text.empty()) text = zfOrgMarker;
  text += kCrLf;
  // A mapping without a source fails only in its special engine: there is no source field.
  const UnicodeString source = fmeSourceFieldDesc ? fmeSourceFieldDesc->ToString() : UnicodeString();
  text += UnicodeString(kCrLf) + u"Source Field: " + source;
  text += UnicodeString(kCrLf) + u"Target Field: " + fmeTargetFieldDesc->ToString();
  text += UnicodeString(kCrLf) + u"Source Value: " + (fmeSourceFieldDesc ? SourceValueText(aSource) : UnicodeString());
  EzfBaseException::SetLastConvertedException(aErrorCode, text);
  return aErrorCode;
}

rtl::TUnitInit& zfsrFieldMapperEngineUnit() {
  static rtl::TUnitInit unit("zfsrFieldMapperEngine", &StartUnit, &StopUnit);
  return unit;
}

}  // namespace zf
