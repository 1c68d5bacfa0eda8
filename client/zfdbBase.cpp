#include "client/zfdbBase.h"

#include "platform/db/dbDataSet.h"

namespace zf {

namespace {

// The formatted text; a format that does not fit its arguments shows as it stands, so that a
// faulty format never hides the failure being reported.
UnicodeString SafeFormat(UnicodeStringView aFormat, rtl::FormatArgs aArgs) {
  try {
    return rtl::Format(aFormat, aArgs);
  } catch (const rtl::EConvertError&) {
    return UnicodeString(aFormat);
  }
}

}  // namespace

// ---- construction ----

EzfDatabaseError::EzfDatabaseError(TzfErrorSource aComponent, uint32_t aErrorCode) {
  BuildFromCode(&aComponent, aErrorCode);
}

EzfDatabaseError::EzfDatabaseError(uint32_t aErrorCode) { BuildFromCode(nullptr, aErrorCode); }

EzfDatabaseError::EzfDatabaseError(TzfErrorSource aComponent, uint32_t aErrorCode, UnicodeStringView aAltMsg)
    : deErrorCode(aErrorCode) {
  BuildFromText(&aComponent, true, aAltMsg);
}

EzfDatabaseError::EzfDatabaseError(uint32_t aErrorCode, UnicodeStringView aAltMsg) : deErrorCode(aErrorCode) {
  BuildFromText(nullptr, true, aAltMsg);
}

EzfDatabaseError::EzfDatabaseError(TzfErrorSource aComponent, uint32_t aErrorCode, UnicodeStringView aFormat,
                                   rtl::FormatArgs aArgs)
    : deErrorCode(aErrorCode) {
  BuildFromText(&aComponent, true, SafeFormat(aFormat, aArgs));
}

EzfDatabaseError::EzfDatabaseError(uint32_t aErrorCode, UnicodeStringView aFormat, rtl::FormatArgs aArgs)
    : deErrorCode(aErrorCode) {
  BuildFromText(nullptr, true, SafeFormat(aFormat, aArgs));
}

EzfDatabaseError::EzfDatabaseError(TzfErrorSource aComponent, UnicodeStringView aMsg) {
  BuildFromText(&aComponent, false, aMsg);
}

EzfDatabaseError::EzfDatabaseError(UnicodeStringView aMsg) { BuildFromText(nullptr, false, aMsg); }

EzfDatabaseError::EzfDatabaseError(TzfErrorSource aComponent, UnicodeStringView aFormat, rtl::FormatArgs aArgs) {
  BuildFromText(&aComponent, false, SafeFormat(aFormat, aArgs));
}

EzfDatabaseError::EzfDatabaseError(UnicodeStringView aFormat, rtl::FormatArgs aArgs) {
  BuildFromText(nullptr, false, SafeFormat(aFormat, aArgs));
}

// A code alone takes the server's text for that code when this thread converted one last.
void EzfDatabaseError::BuildFromCode(const TzfErrorSource* aComponent, uint32_t aErrorCode) {
  deErrorCode = aErrorCode;
  uint32_t lastCode = 0;
  UnicodeString lastText;
  EzfBaseException::GetLastConvertedException(lastCode, lastText);
  if (lastCode == aErrorCode && !lastText.empty())
    BuildFromText(aComponent, true, lastText);
  else
    Finish(aComponent, true);
}

void EzfDatabaseError::BuildFromText(const TzfErrorSource* aComponent, bool aHasCode, UnicodeStringView aText) {
  deErrorString = zfExtractCustomInfoBlocks(aText, deCustomInfos, deHasCustomInfos);
  deExtendedMsg = true;
  if (deHasCustomInfos) zfApplySpecialCustomInfos(deCustomInfos, deOSError, deExceptionData);
  Finish(aComponent, aHasCode);
}

void EzfDatabaseError::Finish(const TzfErrorSource* aComponent, bool aHasCode) {
  const UnicodeString text = zfTidyMessage(GetProcessedErrorString());
  if (aComponent) {
    const UnicodeString component = ComponentText(*aComponent);
    if (aHasCode)
      SetMessage(rtl::Format(u"ZofrinDB: %s: %s [$%x/%d]", {component, text, deErrorCode, deErrorCode}));
    else
      SetMessage(rtl::Format(u"ZofrinDB: %s: %s [no error code]", {component, text}));
  } else if (aHasCode) {
    SetMessage(rtl::Format(u"%s [$%x/%d]", {text, deErrorCode, deErrorCode}));
  } else {
    SetMessage(rtl::Format(u"%s [no error code]", {text}));
  }
  EzfBaseException::SetLastConvertedException(0, UnicodeString());
}

// ---- texts ----

UnicodeString EzfDatabaseError::ComponentText(TzfErrorSource aComponent) {
  if (aComponent.IsField()) {
    const db::TField* field = aComponent.Field();
    return ComponentText(TzfErrorSource(static_cast<const rtl::TComponent*>(field->DataSet()))) + u" (FieldName: " +
           field->FullName() + u")";
  }
  const rtl::TComponent* component = aComponent.Component();
  if (!component) return u"<nil pointer>";
  if (component->Name().empty()) return rtl::Format(u"<unnamed %s instance>", {component->ClassName()});
  return component->Name();
}

UnicodeString EzfDatabaseError::GetProcessedErrorString() const {
  return zfProcessErrorString(deErrorString, deErrorCode);
}

TzfCustomInfos& EzfDatabaseError::GetCustomInfos() {
  deHasCustomInfos = true;
  return deCustomInfos;
}

TzfExceptionDataRef EzfDatabaseError::GetExceptionData() {
  if (!deExceptionData) {
    const TzfExceptionDataHooks hooks = zfGetExceptionDataHooks();
    if (hooks.Create) deExceptionData = hooks.Create(u"ExceptionData");
  }
  return deExceptionData;
}

}  // namespace zf
