#include "dictionary/zfsdValidationDescriptor.h"

#include "dictionary/zfsdFieldDescriptor.h"
#include "foundation/zfllConst.h"
#include "dictionary/zfsdDescriptorHelpers.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllUtils.h"

namespace zf {

namespace {


template <class T>
TzfDictionaryItem* NewNamed(TzfPersistent* aParent, const UnicodeString& aName) {
  return new T(aParent, aName);
}

}  // namespace

// ---- TzfBaseFieldValidationDescriptor ----

const TzfNamedDescriptorClassInfo& TzfBaseFieldValidationDescriptor::ClassInfo() {
  static const TzfNamedDescriptorClassInfo info(u"TzfBaseFieldValidationDescriptor", &TzfDictionaryItem::ClassInfo(),
                                                &zfFamilyList<TzfBaseFieldValidationDescriptor>, nullptr);
  return info;
}

TzfBaseFieldValidationDescriptor::TzfBaseFieldValidationDescriptor(TzfPersistent* aParent, const UnicodeString& aName)
    : TzfDictionaryItem(zfCheckedNameParent<EzfBaseFieldValidationDescriptorException>(aParent, aName, zfErrInvalidName)), bvdName(aName) {}

void TzfBaseFieldValidationDescriptor::SetApplyAt(TzfApplyAtSet aValue) {
  CheckReadOnly();
  bvdApplyAt = aValue;
}

void TzfBaseFieldValidationDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  if (aClientVersion < zfVersion20000) RaiseError(zfErrIncompatibleVersion);
  aWriter.WriteInteger(int32_t{1});
  aWriter.WriteBoolean(bvdApplyAt.Contains(aaServer));
  aWriter.WriteBoolean(bvdApplyAt.Contains(aaClient));
}

void TzfBaseFieldValidationDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  TzfApplyAtSet at;
  if (aReader.ReadBoolean()) at.Bits |= 1;
  if (aReader.ReadBoolean()) at.Bits |= 2;
  bvdApplyAt = at;
}

void TzfBaseFieldValidationDescriptor::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  if (zfCheckIdentifier(bvdName, zfErrInvalidName, false, true) != 0) RaiseError(zfErrInvalidName);
}

bool TzfBaseFieldValidationDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  return TzfDictionaryItem::IsEqual(aItem) &&
         GetApplyAt() == zfItemAs<TzfBaseFieldValidationDescriptor>(aItem)->GetApplyAt();
}

// ---- TzfKeyFieldValidationDescriptor ----

TzfKeyFieldValidationDescriptor::~TzfKeyFieldValidationDescriptor() = default;

TzfFieldDescriptor& TzfKeyFieldValidationDescriptor::OwningField() const { return *GetParent<TzfFieldDescriptor>(); }

TzfKeyFieldDescriptor* TzfKeyFieldValidationDescriptor::AddKeyField(TzfKeyFieldDescriptorClass aClass) {
  CheckReadOnly();
  vdKeyField.reset();
  if (!aClass) aClass = &TzfKeyFieldDescriptor::ClassInfo();
  vdKeyField.reset(aClass->CreateKeyField(this, zfOwningFieldNumber));
  return vdKeyField.get();
}

void TzfKeyFieldValidationDescriptor::RemoveKeyField() {
  CheckReadOnly();
  vdKeyField.reset();
}

void TzfKeyFieldValidationDescriptor::CheckValid(bool aForBuild) {
  TzfBaseFieldValidationDescriptor::CheckValid(aForBuild);
  zfCheckSupportedFieldType(*this, OwningField(), UnsupportedFieldTypes());
  if (!vdKeyField) AddKeyField(nullptr);
  vdKeyField->CheckValid(aForBuild);
}

void TzfKeyFieldValidationDescriptor::SaveKeyField(TzfWriter& aWriter, int32_t aClientVersion) {
  aWriter.WriteBoolean(vdKeyField != nullptr);
  if (!vdKeyField) return;
  aWriter.WriteString(vdKeyField->ClassName());
  vdKeyField->SaveToWriter(aWriter, aClientVersion);
}

void TzfKeyFieldValidationDescriptor::LoadKeyField(TzfReader& aReader) {
  vdKeyField.reset();
  if (!aReader.ReadBoolean()) return;
  TzfDictionaryReadNesting nest(*this);
  const auto& cls = FindStoredDescriptorClass<TzfKeyFieldDescriptorClassInfo>(
      TzfKeyFieldDescriptor::ClassInfo(), u"KeyFieldDescriptor", aReader.ReadString());
  vdKeyField.reset(cls.CreateKeyField(this, zfOwningFieldNumber));
  vdKeyField->LoadFromReader(aReader);
}

bool TzfKeyFieldValidationDescriptor::SameKeyField(const TzfKeyFieldValidationDescriptor& aOther) const {
  if (!vdKeyField || !aOther.vdKeyField) return !vdKeyField && !aOther.vdKeyField;
  return vdKeyField->IsEqual(aOther.vdKeyField.get());
}

// ---- TzfMinMaxValidationDescriptor ----

const TzfNamedDescriptorClassInfo& TzfMinMaxValidationDescriptor::ClassInfo() {
  static const TzfNamedDescriptorClassInfo info(u"TzfMinMaxValidationDescriptor",
                                                &TzfBaseFieldValidationDescriptor::ClassInfo(), nullptr,
                                                &NewNamed<TzfMinMaxValidationDescriptor>);
  return info;
}

rtl::Variant TzfMinMaxValidationDescriptor::BoundAsVariant(const std::optional<std::vector<uint8_t>>& aBound) const {
  if (!aBound) return rtl::Variant::Null();
  return OwningField().ValueToVariant(aBound->data());
}

rtl::Variant TzfMinMaxValidationDescriptor::GetMinAsVariant() const { return BoundAsVariant(mmvdMin); }
rtl::Variant TzfMinMaxValidationDescriptor::GetMaxAsVariant() const { return BoundAsVariant(mmvdMax); }

void TzfMinMaxValidationDescriptor::SetBound(std::optional<std::vector<uint8_t>>& aBound, const rtl::Variant& aValue) {
  // No read-only check: the bounds set through variants may change on a read-only dictionary.
  aBound.reset();
  if (aValue.IsEmpty() || aValue.IsNull()) return;
  TzfFieldDescriptor& f = OwningField();
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max(f.fdLength, 0)), 0);
  f.VariantToValue(bytes.data(), aValue);
  aBound = std::move(bytes);
}

void TzfMinMaxValidationDescriptor::SetMinAsVariant(const rtl::Variant& aValue) { SetBound(mmvdMin, aValue); }
void TzfMinMaxValidationDescriptor::SetMaxAsVariant(const rtl::Variant& aValue) { SetBound(mmvdMax, aValue); }

void TzfMinMaxValidationDescriptor::CheckBoundsFitField() const {
  const auto length = static_cast<size_t>(std::max(OwningField().fdLength, 0));
  for (const auto* bound : {&mmvdMin, &mmvdMax})
    if (*bound && (*bound)->size() != length) RaiseError(zfErrInvalidFieldXForm);
}

void TzfMinMaxValidationDescriptor::CheckValid(bool aForBuild) {
  TzfKeyFieldValidationDescriptor::CheckValid(aForBuild);
  CheckBoundsFitField();
}

void TzfMinMaxValidationDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  // The reader takes exactly the field's storage length for each bound.
  CheckBoundsFitField();
  TzfBaseFieldValidationDescriptor::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(int32_t{1});
  for (const auto* bound : {&mmvdMin, &mmvdMax}) {
    aWriter.WriteBoolean(bound->has_value());
    if (*bound) aWriter.Write((*bound)->data(), static_cast<int32_t>((*bound)->size()));
  }
  SaveKeyField(aWriter, aClientVersion);
}

void TzfMinMaxValidationDescriptor::ReadBound(TzfReader& aReader, std::optional<std::vector<uint8_t>>& aBound) {
  aBound.reset();
  if (!aReader.ReadBoolean()) return;
  const int32_t size = std::max(OwningField().fdLength, 0);
  if (size > aReader.BytesLeft()) RaiseError(zfErrIncompatibleStream);
  std::vector<uint8_t> bytes(static_cast<size_t>(size), 0);
  aReader.Read(bytes.data(), size);
  aBound = std::move(bytes);
}

void TzfMinMaxValidationDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseFieldValidationDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  ReadBound(aReader, mmvdMin);
  ReadBound(aReader, mmvdMax);
  LoadKeyField(aReader);
}

bool TzfMinMaxValidationDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfBaseFieldValidationDescriptor::IsEqual(aItem)) return false;
  const auto* o = zfItemAs<TzfMinMaxValidationDescriptor>(aItem);
  return mmvdMin == o->mmvdMin && mmvdMax == o->mmvdMax && SameKeyField(*o);
}

// ---- TzfNoChangeValidationDescriptor ----

const TzfNamedDescriptorClassInfo& TzfNoChangeValidationDescriptor::ClassInfo() {
  static const TzfNamedDescriptorClassInfo info(u"TzfNoChangeValidationDescriptor",
                                                &TzfBaseFieldValidationDescriptor::ClassInfo(), nullptr,
                                                &NewNamed<TzfNoChangeValidationDescriptor>);
  return info;
}

void TzfNoChangeValidationDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseFieldValidationDescriptor::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(int32_t{1});
  SaveKeyField(aWriter, aClientVersion);
}

void TzfNoChangeValidationDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseFieldValidationDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  LoadKeyField(aReader);
}

bool TzfNoChangeValidationDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  return TzfBaseFieldValidationDescriptor::IsEqual(aItem) && SameKeyField(*zfItemAs<TzfNoChangeValidationDescriptor>(aItem));
}

// ---- TzfBaseFieldsValidationDescriptor, TzfSqlCheckValidationDescriptor ----

const TzfNamedDescriptorClassInfo& TzfBaseFieldsValidationDescriptor::ClassInfo() {
  static const TzfNamedDescriptorClassInfo info(u"TzfBaseFieldsValidationDescriptor",
                                                &TzfBaseFieldValidationDescriptor::ClassInfo(), nullptr, nullptr);
  return info;
}

const TzfNamedDescriptorClassInfo& TzfSqlCheckValidationDescriptor::ClassInfo() {
  static const TzfNamedDescriptorClassInfo info(u"TzfSqlCheckValidationDescriptor",
                                                &TzfBaseFieldsValidationDescriptor::ClassInfo(), nullptr,
                                                &NewNamed<TzfSqlCheckValidationDescriptor>);
  return info;
}

void TzfSqlCheckValidationDescriptor::SetApplyAt(TzfApplyAtSet aValue) {
  TzfBaseFieldsValidationDescriptor::SetApplyAt(aValue * TzfApplyAtSet{aaServer});
}

void TzfSqlCheckValidationDescriptor::SetConstraint(const UnicodeString& aValue) {
  CheckReadOnly();
  scvdConstraint = aValue;
}

void TzfSqlCheckValidationDescriptor::SetErrorMessage(const UnicodeString& aValue) {
  CheckReadOnly();
  scvdErrorMessage = aValue;
}

void TzfSqlCheckValidationDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseFieldsValidationDescriptor::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(int32_t{1});
  aWriter.WriteWideString(scvdConstraint);
  aWriter.WriteString(scvdErrorMessage);
}

void TzfSqlCheckValidationDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseFieldsValidationDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  scvdConstraint = aReader.ReadWideString();
  scvdErrorMessage = aReader.ReadString();
}

bool TzfSqlCheckValidationDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  return TzfBaseFieldsValidationDescriptor::IsEqual(aItem) &&
         scvdConstraint == zfItemAs<TzfSqlCheckValidationDescriptor>(aItem)->scvdConstraint;
}

// ---- TzfFieldValidationsDescriptor ----

const TzfDictionaryItemClassInfo& TzfFieldValidationsDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfFieldValidationsDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfFieldValidationsDescriptor>,
                                               &zfNewDictionaryItem<TzfFieldValidationsDescriptor>);
  return info;
}

TzfFieldValidationsDescriptor::~TzfFieldValidationsDescriptor() {
  while (!ValidationDescriptor.empty()) ValidationDescriptor.pop_back();
}

TzfFieldValidationDescriptorClass TzfFieldValidationsDescriptor::ValidationClass() const {
  return &TzfBaseFieldValidationDescriptor::ClassInfo();
}

TzfBaseFieldValidationDescriptor* TzfFieldValidationsDescriptor::AddValidation(const UnicodeString& aName,
                                                                               TzfFieldValidationDescriptorClass aClass) {
  CheckReadOnly();
  if (zfCheckIdentifier(aName, zfErrInvalidName, false, true) != 0) RaiseError(zfErrInvalidName);
  if (GetValidationDescriptorFromName(aName) >= 0)
    RaiseError(zfErrNameNotUnique, u"Duplicated validation descriptor name: %s", {aName});
  if (!aClass) {
    aClass = ValidationClass();
  } else if (!aClass->InheritsFrom(ValidationClass())) {
    RaiseError(zfErrInvalidParam, u"%s.AddValidation: aClass must be of type %s but is of type %s",
               {UnicodeString(ClassName()), UnicodeString(ValidationClass()->Name), UnicodeString(aClass->Name)});
  }
  if (!aClass->CreateNamed)
    RaiseError(zfErrInvalidParam, u"%s.AddValidation: aClass must be of type %s but is of type %s",
               {UnicodeString(ClassName()), UnicodeString(ValidationClass()->Name), UnicodeString(aClass->Name)});
  std::unique_ptr<TzfBaseFieldValidationDescriptor> v(
      dynamic_cast<TzfBaseFieldValidationDescriptor*>(aClass->CreateNamed(this, aName)));
  ValidationDescriptor.push_back(std::move(v));
  return ValidationDescriptor.back().get();
}

void TzfFieldValidationsDescriptor::RemoveValidation(int32_t aInx) {
  CheckReadOnly();
  if (aInx < 0 || aInx >= ValidationCount()) return;
  ValidationDescriptor.erase(ValidationDescriptor.begin() + aInx);
}

void TzfFieldValidationsDescriptor::RemoveValidation(const UnicodeString& aName) {
  const int32_t i = GetValidationDescriptorFromName(aName);
  if (i >= 0) RemoveValidation(i);
}

int32_t TzfFieldValidationsDescriptor::GetValidationDescriptorFromName(const UnicodeString& aName) const {
  for (int32_t i = 0; i < ValidationCount(); ++i)
    if (rtl::SameText(ValidationDescriptor[static_cast<size_t>(i)]->bvdName, aName)) return i;
  return -1;
}

void TzfFieldValidationsDescriptor::Clear() {
  while (!ValidationDescriptor.empty()) ValidationDescriptor.pop_back();
}

void TzfFieldValidationsDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  if (aClientVersion < zfVersion20000) RaiseError(zfErrIncompatibleVersion);
  aWriter.WriteInteger(int32_t{1});
  aWriter.WriteInteger(ValidationCount());
  for (auto& v : ValidationDescriptor) {
    aWriter.WriteString(v->ClassName());
    aWriter.WriteString(v->bvdName);
    v->SaveToWriter(aWriter, aClientVersion);
  }
}

void TzfFieldValidationsDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  Clear();
  const int32_t count = aReader.ReadInteger();
  CheckStoredCount(aReader, count, 4);
  TzfDictionaryReadNesting nest(*this);
  for (int32_t i = 0; i < count; ++i) {
    const auto& cls = FindStoredDescriptorClass<TzfNamedDescriptorClassInfo>(
        TzfBaseFieldValidationDescriptor::ClassInfo(), u"ValidationDescriptor", aReader.ReadString());
    // A validation of a kind this list cannot hold (a field rule in the record-level list) would
    // have no field to work on: the stream is damaged.
    if (!cls.InheritsFrom(ValidationClass()) || !cls.CreateNamed) RaiseError(zfErrIncompatibleStream);
    const UnicodeString name = aReader.ReadString();
    std::unique_ptr<TzfBaseFieldValidationDescriptor> v(
        dynamic_cast<TzfBaseFieldValidationDescriptor*>(cls.CreateNamed(this, name)));
    TzfBaseFieldValidationDescriptor* p = v.get();
    ValidationDescriptor.push_back(std::move(v));
    p->LoadFromReader(aReader);
  }
}

void TzfFieldValidationsDescriptor::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  for (int32_t i = 0; i < ValidationCount(); ++i) {
    TzfBaseFieldValidationDescriptor* v = ValidationDescriptor[static_cast<size_t>(i)].get();
    for (int32_t j = 0; j < i; ++j)
      if (rtl::SameText(ValidationDescriptor[static_cast<size_t>(j)]->bvdName, v->bvdName))
        RaiseError(zfErrNameNotUnique, u"Duplicated validation descriptor name: %s", {v->bvdName});
    v->CheckValid(aForBuild);
  }
}

bool TzfFieldValidationsDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfDictionaryItem::IsEqual(aItem)) return false;
  const auto* o = zfItemAs<TzfFieldValidationsDescriptor>(aItem);
  if (o->ValidationCount() != ValidationCount()) return false;
  for (size_t i = 0; i < ValidationDescriptor.size(); ++i)
    if (!ValidationDescriptor[i]->IsEqual(o->ValidationDescriptor[i].get())) return false;
  return true;
}

const TzfDictionaryItemClassInfo& TzfFieldsValidationsDescriptor::ClassInfo() {
  // Its own registry level: the fields descriptor finds its list class there.
  static const TzfDictionaryItemClassInfo info(u"TzfFieldsValidationsDescriptor",
                                               &TzfFieldValidationsDescriptor::ClassInfo(),
                                               &zfFamilyList<TzfFieldsValidationsDescriptor>,
                                               &zfNewDictionaryItem<TzfFieldsValidationsDescriptor>);
  return info;
}

TzfFieldValidationDescriptorClass TzfFieldsValidationsDescriptor::ValidationClass() const {
  return &TzfBaseFieldsValidationDescriptor::ClassInfo();
}

// ---- Unit ----

namespace {

void StartValidationDescriptors() {
  using D = TzfBaseRegisterableDescriptor;
  D::RegisterDescriptor(TzfMinMaxValidationDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfNoChangeValidationDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfFieldValidationsDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfSqlCheckValidationDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfFieldsValidationsDescriptor::ClassInfo());
  // Older streams name the field validations list so.
  D::RegisterDescriptor(TzfFieldValidationsDescriptor::ClassInfo(), u"TzfValidationsDescriptor");
}

void StopValidationDescriptors() {
  using D = TzfBaseRegisterableDescriptor;
  D::UnregisterDescriptor(TzfFieldsValidationsDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfSqlCheckValidationDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfFieldValidationsDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfNoChangeValidationDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfMinMaxValidationDescriptor::ClassInfo());
}

}  // namespace

rtl::TUnitInit& zfsdValidationDescriptorUnit() {
  static rtl::TUnitInit unit("zfsdValidationDescriptor", &StartValidationDescriptors, &StopValidationDescriptors);
  return unit;
}

}  // namespace zf
