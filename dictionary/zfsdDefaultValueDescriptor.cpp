#include "dictionary/zfsdDefaultValueDescriptor.h"

#include <algorithm>
#include <cstring>

#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdNativeVariantConverter.h"
#include "foundation/zfllConst.h"
#include "dictionary/zfsdDescriptorHelpers.h"
#include "foundation/zfllErrors.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfsdDataDictionary";

TzfFieldDescriptor* OwningField(TzfDictionaryItem& aItem) { return aItem.GetParent<TzfFieldDescriptor>(); }

}  // namespace

void zfCheckSupportedFieldType(const TzfDictionaryItem& aItem, const TzfFieldDescriptor& aField, TzfFieldTypeSet aSet) {
  if (aSet & zfFieldTypeBit(aField.fdType))
    aItem.RaiseError(zfErrInvalidFieldDesc, u"\"%s\" is not supported for field type \"%s\"",
                     {UnicodeString(aItem.ClassName()), zfFieldTypeEnumName(aField.fdType)});
}

// ---- TzfBaseDefaultValueDescriptor ----

const TzfDictionaryItemClassInfo& TzfBaseDefaultValueDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfBaseDefaultValueDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfBaseDefaultValueDescriptor>, nullptr);
  return info;
}

TzfBaseDefaultValueDescriptor::TzfBaseDefaultValueDescriptor(TzfPersistent* aParent)
    : TzfDictionaryItem(aParent), bdvField(OwningField(*this)) {}

void TzfBaseDefaultValueDescriptor::CheckNotBlobField() const {
  zfCheckSupportedFieldType(*this, *bdvField, zfBlobFieldTypes);
}

void TzfBaseDefaultValueDescriptor::SetApplyAt(TzfApplyAtSet aValue) {
  CheckReadOnly();
  bdvApplyAt = aValue;
}

void TzfBaseDefaultValueDescriptor::SetApplyOnInsert(bool aValue) {
  CheckReadOnly();
  bdvApplyOnInsert = aValue;
}

void TzfBaseDefaultValueDescriptor::SetApplyOnModify(bool aValue) {
  CheckReadOnly();
  bdvApplyOnModify = aValue;
}

void TzfBaseDefaultValueDescriptor::SetOverwriteNonNull(bool aValue) {
  CheckReadOnly();
  bdvOverwriteNonNull = aValue;
}

void TzfBaseDefaultValueDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  if (aClientVersion < zfVersion20000) {
    // The old form has no place for the settings: only their initial values can be sent.
    if (!(bdvApplyAt == TzfApplyAtSet{aaServer, aaClient}) || !bdvApplyOnInsert || bdvApplyOnModify ||
        bdvOverwriteNonNull)
      RaiseError(zfErrIncompatibleVersion);
    return;
  }
  aWriter.WriteIdent(u"BDVD");
  aWriter.WriteInteger(int32_t{1});
  aWriter.WriteBoolean(bdvApplyOnInsert);
  aWriter.WriteBoolean(bdvApplyOnModify);
  aWriter.WriteBoolean(bdvOverwriteNonNull);
  aWriter.WriteBoolean(bdvApplyAt.Contains(aaServer));
  aWriter.WriteBoolean(bdvApplyAt.Contains(aaClient));
}

void TzfBaseDefaultValueDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  bdvApplyAt = {aaServer, aaClient};
  bdvApplyOnInsert = true;
  bdvApplyOnModify = false;
  bdvOverwriteNonNull = false;
  if (aReader.NextValue() != vaIdent) return;
  if (aReader.ReadIdent() != u"BDVD") rtl::AssertionFailure(kUnit, __LINE__);
  ReadBodyVersion(aReader, 1, 1);
  bdvApplyOnInsert = aReader.ReadBoolean();
  bdvApplyOnModify = aReader.ReadBoolean();
  bdvOverwriteNonNull = aReader.ReadBoolean();
  TzfApplyAtSet at;
  if (aReader.ReadBoolean()) at.Bits |= 1;
  if (aReader.ReadBoolean()) at.Bits |= 2;
  bdvApplyAt = at;
}

void TzfBaseDefaultValueDescriptor::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  zfCheckSupportedFieldType(*this, *bdvField, UnsupportedFieldTypes());
}

bool TzfBaseDefaultValueDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfDictionaryItem::IsEqual(aItem)) return false;
  const auto* o = zfItemAs<TzfBaseDefaultValueDescriptor>(aItem);
  return bdvApplyAt == o->bdvApplyAt && bdvApplyOnInsert == o->bdvApplyOnInsert &&
         bdvApplyOnModify == o->bdvApplyOnModify && bdvOverwriteNonNull == o->bdvOverwriteNonNull;
}

// ---- TzfConstDefaultValueDescriptor ----

const TzfDictionaryItemClassInfo& TzfConstDefaultValueDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfConstDefaultValueDescriptor",
                                               &TzfBaseDefaultValueDescriptor::ClassInfo(), nullptr,
                                               &zfNewDictionaryItem<TzfConstDefaultValueDescriptor>);
  return info;
}

TzfConstDefaultValueDescriptor::TzfConstDefaultValueDescriptor(TzfPersistent* aParent)
    : TzfBaseDefaultValueDescriptor(aParent) {
  CheckNotBlobField();
  TzfFieldDescriptor& f = Field();
  cdvFieldType = f.fdType;
  cdvFieldCodePage = f.GetUsedStorageCodePage();
  cdvFieldUnits = f.fdUnits;
  cdvFieldDecPl = f.fdDecPl;
  cdvFieldLength = f.fdLength;
  cdvDefaultValue.assign(static_cast<size_t>(std::max(cdvFieldLength, 0)), 0);
}

bool TzfConstDefaultValueDescriptor::FitsField() const {
  TzfFieldDescriptor& f = Field();
  return cdvFieldType == f.fdType && cdvFieldCodePage == f.GetUsedStorageCodePage() && cdvFieldUnits == f.fdUnits &&
         cdvFieldDecPl == f.fdDecPl && cdvFieldLength == f.fdLength;
}

std::vector<uint8_t> TzfConstDefaultValueDescriptor::ValueForField() const {
  if (FitsField()) return cdvDefaultValue;
  TzfFieldDescriptor& f = Field();
  std::vector<uint8_t> r(static_cast<size_t>(std::max(f.fdLength, 0)), 0);
  try {
    if (static_cast<int32_t>(cdvDefaultValue.size()) != cdvFieldLength)
      throw EzfConstDefaultValueDescriptorException(zfErrInvalidFieldXForm);
    rtl::Variant v;
    VariantFromBuffer(cdvFieldType, cdvFieldCodePage, cdvFieldUnits, cdvFieldDecPl, cdvDefaultValue.data(),
                      cdvFieldLength, v);
    f.VariantToValue(r.data(), v);
  } catch (...) {
    RaiseError(zfErrInvalidFieldXForm);
  }
  return r;
}

void TzfConstDefaultValueDescriptor::RefitToField(bool aConvert) {
  if (FitsField()) return;
  std::vector<uint8_t> converted;
  bool failed = false;
  if (aConvert) {
    try {
      converted = ValueForField();
    } catch (...) {
      failed = true;
    }
  }
  // Whatever happens, the constant takes the field's setup (zero bytes when not converted).
  TzfFieldDescriptor& f = Field();
  cdvFieldType = f.fdType;
  cdvFieldCodePage = f.GetUsedStorageCodePage();
  cdvFieldUnits = f.fdUnits;
  cdvFieldDecPl = f.fdDecPl;
  cdvFieldLength = f.fdLength;
  if (aConvert && !failed)
    cdvDefaultValue = std::move(converted);
  else
    cdvDefaultValue.assign(static_cast<size_t>(std::max(f.fdLength, 0)), 0);
  if (failed) RaiseError(zfErrInvalidFieldXForm);
}

void TzfConstDefaultValueDescriptor::GetAsVariant(rtl::Variant& aValue) {
  RefitToField(true);
  aValue = Field().ValueToVariant(cdvDefaultValue.data());
}

void TzfConstDefaultValueDescriptor::SetAsVariant(const rtl::Variant& aValue) {
  CheckReadOnly();
  RefitToField(false);
  Field().VariantToValue(cdvDefaultValue.data(), aValue);
}

void TzfConstDefaultValueDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseDefaultValueDescriptor::SaveToWriter(aWriter, aClientVersion);
  RefitToField(true);
  aWriter.WriteInteger(int32_t{1});
  aWriter.Write(cdvDefaultValue.data(), cdvFieldLength);
}

void TzfConstDefaultValueDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseDefaultValueDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  const auto size = static_cast<int32_t>(cdvDefaultValue.size());
  if (size > aReader.BytesLeft()) RaiseError(zfErrIncompatibleStream);
  aReader.Read(cdvDefaultValue.data(), size);
}

bool TzfConstDefaultValueDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  return TzfBaseDefaultValueDescriptor::IsEqual(aItem) &&
         cdvDefaultValue == zfItemAs<TzfConstDefaultValueDescriptor>(aItem)->cdvDefaultValue;
}

// ---- The other kinds ----

const TzfDictionaryItemClassInfo& TzfCurrentDateTimeDefaultValueDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfCurrentDateTimeDefaultValueDescriptor",
                                               &TzfBaseDefaultValueDescriptor::ClassInfo(), nullptr,
                                               &zfNewDictionaryItem<TzfCurrentDateTimeDefaultValueDescriptor>);
  return info;
}

const TzfDictionaryItemClassInfo& TzfCurrentUserDefaultValueDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfCurrentUserDefaultValueDescriptor",
                                               &TzfBaseDefaultValueDescriptor::ClassInfo(), nullptr,
                                               &zfNewDictionaryItem<TzfCurrentUserDefaultValueDescriptor>);
  return info;
}

const TzfDictionaryItemClassInfo& TzfAutoGuidDefaultValueDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfAutoGuidDefaultValueDescriptor",
                                               &TzfBaseDefaultValueDescriptor::ClassInfo(), nullptr,
                                               &zfNewDictionaryItem<TzfAutoGuidDefaultValueDescriptor>);
  return info;
}

const TzfDictionaryItemClassInfo& TzfEmptyDefaultValueDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfEmptyDefaultValueDescriptor",
                                               &TzfBaseDefaultValueDescriptor::ClassInfo(), nullptr,
                                               &zfNewDictionaryItem<TzfEmptyDefaultValueDescriptor>);
  return info;
}

// ---- Unit ----

namespace {

std::vector<const TzfDictionaryItemClassInfo*> Classes() {
  return {&TzfConstDefaultValueDescriptor::ClassInfo(), &TzfCurrentDateTimeDefaultValueDescriptor::ClassInfo(),
          &TzfCurrentUserDefaultValueDescriptor::ClassInfo(), &TzfAutoGuidDefaultValueDescriptor::ClassInfo(),
          &TzfEmptyDefaultValueDescriptor::ClassInfo()};
}

void StartDefaultValueDescriptors() {
  for (const auto* c : Classes()) TzfBaseRegisterableDescriptor::RegisterDescriptor(*c);
}

void StopDefaultValueDescriptors() {
  for (const auto* c : Classes()) TzfBaseRegisterableDescriptor::UnregisterDescriptor(*c);
}

}  // namespace

rtl::TUnitInit& zfsdDefaultValueDescriptorUnit() {
  static rtl::TUnitInit unit("zfsdDefaultValueDescriptor", &StartDefaultValueDescriptors, &StopDefaultValueDescriptors);
  return unit;
}

}  // namespace zf
