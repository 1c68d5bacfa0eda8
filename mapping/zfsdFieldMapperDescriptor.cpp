#include "mapping/zfsdFieldMapperDescriptor.h"

namespace zf {

namespace {

std::unique_ptr<TzfFieldMapperDescriptor> NewFieldMapperDescriptor(const UnicodeString& aSourceName,
                                                                   const UnicodeString& aTargetName,
                                                                   TzfDataLossAction aDataLossAction) {
  return std::make_unique<TzfFieldMapperDescriptor>(aSourceName, aTargetName, aDataLossAction);
}

[[noreturn]] void RaiseFamily(uint32_t aErrorCode) { throw EzfFieldMapperDescriptorException(aErrorCode); }

void StartUnit() { TzfBaseRegisterableDescriptor::RegisterDescriptor(TzfFieldMapperDescriptor::ClassInfo()); }
void StopUnit() { TzfBaseRegisterableDescriptor::UnregisterDescriptor(TzfFieldMapperDescriptor::ClassInfo()); }

}  // namespace

const TzfFieldMapperDescriptorClass& TzfFieldMapperDescriptor::ClassInfo() {
  static const TzfFieldMapperDescriptorClass info(u"TzfFieldMapperDescriptor",
                                                  &TzfBaseRegisterableDescriptor::ClassInfo(),
                                                  &NewFieldMapperDescriptor, &zfFamilyList<TzfFieldMapperDescriptor>);
  return info;
}

void TzfFieldMapperDescriptor::WriteToWriter(TzfWriter& aWriter, int32_t aClientVersion) const {
  aWriter.WriteIdent(ClassName());
  aWriter.WriteString(bfcdSourceName);
  aWriter.WriteString(bfcdTargetName);
  aWriter.WriteString(zfDataLossActionName(bfcdDataLossAction));
  WriteData(aWriter, aClientVersion);
}

std::unique_ptr<TzfFieldMapperDescriptor> TzfFieldMapperDescriptor::CreateFromReader(TzfReader& aReader) {
  return zfReadMapperStream<EzfFieldMapperDescriptorException>([&] {
    const auto& cls = zfReadMapperClass<TzfFieldMapperDescriptorClass, EzfFieldMapperDescriptorException>(
        aReader, ClassInfo(), u"FieldMapperDescriptor");
    const UnicodeString source = aReader.ReadString();
    const UnicodeString target = aReader.ReadString();
    // An action name that names no action is refused rather than kept as an out-of-range value.
    TzfDataLossAction action;
    if (!zfDataLossActionFromName(aReader.ReadString(), action)) RaiseFamily(zfErrIncompatibleStream);
    std::unique_ptr<TzfFieldMapperDescriptor> result = cls.Create(source, target, action);
    result->ReadData(aReader);
    return result;
  });
}

void TzfFieldMapperDescriptor::WriteData(TzfWriter& aWriter, int32_t) const {
  aWriter.WriteInteger(zfMapperBodyVersion);
  aWriter.WriteBoolean(bfcdApplyDefault);
}

void TzfFieldMapperDescriptor::ReadData(TzfReader& aReader) {
  auto raise = [this](uint32_t aCode) { RaiseError(aCode); };
  zfReadMapperBodyVersion(aReader, raise);
  bfcdApplyDefault = zfReadMapperBoolean(aReader, raise);
}

void TzfFieldMapperDescriptor::RaiseError(uint32_t aErrorCode) const { RaiseFamily(aErrorCode); }

rtl::TUnitInit& zfsdFieldMapperDescriptorUnit() {
  static rtl::TUnitInit unit("zfsdFieldMapperDescriptor", &StartUnit, &StopUnit);
  return unit;
}

}  // namespace zf
