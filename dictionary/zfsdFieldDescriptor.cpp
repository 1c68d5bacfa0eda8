#include "dictionary/zfsdFieldDescriptor.h"

#include <cstring>

#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdNativeVariantConverter.h"
#include "foundation/zfllConst.h"
#include "foundation/zfllUtils.h"

namespace zf {

namespace {

constexpr const char16_t* kTypeNames[zfFieldTypeCount] = {
    u"zftBoolean",   u"zftChar",        u"zftWideChar",     u"zftByte",        u"zftWord16",      u"zftWord32",
    u"zftInt8",      u"zftInt16",       u"zftInt32",        u"zftInt64",       u"zftAutoInc",     u"zftSingle",
    u"zftDouble",    u"zftExtended",    u"zftCurrency",     u"zftDate",        u"zftTime",        u"zftDateTime",
    u"zftInterval",  u"zftBlob",        u"zftBlobMemo",     u"zftBlobGraphic", u"zftByteArray",   u"zftShortString",
    u"zftNullString", u"zftWideString", u"zftRecRev",       u"zftGuid",        u"zftBCD",         u"zftBlobWideMemo",
    u"zftFmtBCD",
};

constexpr int StorageGroup(int aType) {
  switch (static_cast<TzfFieldType>(aType)) {
    case zftWord32: case zftAutoInc: case zftRecRev: return 100;
    case zftCurrency: case zftBCD: case zftFmtBCD: return 101;
    case zftDateTime: case zftInterval: return 102;
    case zftBlob: case zftBlobMemo: case zftBlobGraphic: case zftBlobWideMemo: return 103;
    default: return aType;
  }
}

constexpr std::array<std::array<bool, zfFieldTypeCount>, zfFieldTypeCount> BuildCompatible() {
  std::array<std::array<bool, zfFieldTypeCount>, zfFieldTypeCount> t{};
  for (int a = 0; a < zfFieldTypeCount; ++a)
    for (int b = 0; b < zfFieldTypeCount; ++b) t[a][b] = StorageGroup(a) == StorageGroup(b);
  return t;
}

// Units kept unless 0 or less or above aMax.
int32_t Digits(int32_t aUnits, int32_t aMax) { return (aUnits <= 0 || aUnits > aMax) ? aMax : aUnits; }

const char16_t* BoolText(bool aValue) { return aValue ? u"True" : u"False"; }

}  // namespace

const std::array<std::array<bool, zfFieldTypeCount>, zfFieldTypeCount> zfStorageCompatibleTypes = BuildCompatible();

const char16_t* zfFieldTypeEnumName(TzfFieldType aType) {
  return zfIsValidFieldType(aType) ? kTypeNames[static_cast<uint8_t>(aType)] : u"";
}

bool zfFieldTypeFromEnumName(UnicodeStringView aName, TzfFieldType& aType) {
  for (int i = 0; i < zfFieldTypeCount; ++i)
    if (rtl::SameText(aName, kTypeNames[i])) {
      aType = static_cast<TzfFieldType>(i);
      return true;
    }
  return false;
}

const TzfDictionaryItemClassInfo& zfDefaultValueDescriptorFamily() {
  static const TzfDictionaryItemClassInfo info(u"TzfBaseDefaultValueDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfBaseDefaultValueDescriptor>, nullptr);
  return info;
}

const TzfDictionaryItemClassInfo& zfFieldValidationsDescriptorFamily() {
  static const TzfDictionaryItemClassInfo info(u"TzfFieldValidationsDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfFieldValidationsDescriptor>, nullptr);
  return info;
}

// ---- TzfFieldDescriptor ----

const TzfFieldDescriptorClassInfo& TzfFieldDescriptor::ClassInfo() {
  static const TzfFieldDescriptorClassInfo info(u"TzfFieldDescriptor", &TzfLocalizedDictionaryItem::ClassInfo(),
                                                &zfFamilyList<TzfFieldDescriptor>,
                                                &zfNewFieldDescriptor<TzfFieldDescriptor>);
  return info;
}

TzfFieldDescriptor::TzfFieldDescriptor(TzfPersistent* aParent, const UnicodeString& aName, const UnicodeString& aDesc,
                                       TzfFieldType aType, int32_t aUnits, int32_t aDecPl, bool aRequired)
    : TzfLocalizedDictionaryItem(aParent), fdType(aType), fdUnits(aUnits), fdDecPl(aDecPl), fdRequired(aRequired) {
  CheckName(aName);
  fdName = aName;
  fdNameLowerCase = rtl::LowerCase(aName);
  fdDesc = aDesc;
  SetupField(fdType, fdUnits, fdDecPl, fdRequired, fdLength);
}

TzfFieldDescriptor::~TzfFieldDescriptor() = default;

void TzfFieldDescriptor::CheckName(const UnicodeString& aName) const {
  if (uint32_t code = zfCheckIdentifier(aName, zfErrInvalidFieldName, false, true)) RaiseError(code);
}

void TzfFieldDescriptor::SetupField(TzfFieldType aType, int32_t& aUnits, int32_t& aDecPl, bool& aRequired,
                                    int32_t& aLength) {
  if (aType == zftAutoInc || aType == zftRecRev) aRequired = false;
  int64_t length = 0;
  switch (aType) {
    case zftBoolean: aUnits = 0; aDecPl = 0; length = 1; break;
    case zftChar: aUnits = 1; aDecPl = 0; length = 1; break;
    case zftWideChar: aUnits = 1; aDecPl = 0; length = 2; break;
    case zftByte: case zftInt8: aUnits = Digits(aUnits, 3); aDecPl = 0; length = 1; break;
    case zftWord16: case zftInt16: aUnits = Digits(aUnits, 5); aDecPl = 0; length = 2; break;
    case zftWord32: case zftInt32: aUnits = Digits(aUnits, 10); aDecPl = 0; length = 4; break;
    case zftInt64: aUnits = Digits(aUnits, 20); aDecPl = 0; length = 8; break;
    case zftAutoInc: case zftRecRev: aUnits = 10; aDecPl = 0; length = 4; break;
    case zftSingle: length = 4; break;
    case zftDouble: length = 8; break;
    case zftExtended: length = 10; break;
    case zftCurrency: case zftBCD:
      if (aDecPl < 0 || aDecPl > 4) aDecPl = 4;
      if (aUnits <= 0 || aUnits > 16 + aDecPl) aUnits = 16 + aDecPl;
      if (aUnits <= aDecPl) aUnits = aDecPl + 1;
      length = 8;
      break;
    case zftDate: case zftTime: aUnits = 0; aDecPl = 0; length = 4; break;
    case zftDateTime: case zftInterval: aUnits = 0; aDecPl = 0; length = 8; break;
    case zftBlob: case zftBlobMemo: case zftBlobGraphic: case zftBlobWideMemo:
      aUnits = 0; aDecPl = 0; length = 8;
      break;
    case zftByteArray: aDecPl = 0; length = aUnits; break;
    case zftShortString:
      if (aUnits > 255) aUnits = 255;
      if (aDecPl > 0) aDecPl = aUnits;
      length = int64_t{aUnits} + 1;
      break;
    case zftNullString:
      if (aDecPl > 0) aDecPl = aUnits;
      length = int64_t{aUnits} + 1;
      break;
    case zftWideString:
      if (aDecPl > 0) aDecPl = aUnits;
      length = 2 * (int64_t{aUnits} + 1);
      break;
    case zftGuid: aUnits = 0; aDecPl = 0; length = 16; break;
    case zftFmtBCD:
      if (aDecPl < 0) aDecPl = 0;
      if (aDecPl > 63) aDecPl = 63;
      if (aUnits <= aDecPl) aUnits = aDecPl + 1;
      else if (aUnits > 64) aUnits = 64;
      length = (int64_t{aUnits} + 1) / 2 + 2;
      break;
    default:
      throw EzfFieldDescriptorException(zfErrInvalidFieldDesc, u"Invalid field type: %d",
                                        {static_cast<int32_t>(aType)});
  }
  if (length < 0) throw EzfFieldDescriptorException(zfErrInvalidFieldDesc, u"Units must be > 0");
  if (length > zfMaxRecordLength)
    throw EzfFieldDescriptorException(zfErrInvalidFieldDesc, u"Field length out of range: %d", {length});
  aLength = static_cast<int32_t>(length);
}

void TzfFieldDescriptor::UpdateSetup() { SetupField(fdType, fdUnits, fdDecPl, fdRequired, fdLength); }

void TzfFieldDescriptor::ChangeName(const UnicodeString& aNewName) {
  CheckReadOnly();
  CheckName(aNewName);
  auto* fields = GetParent<TzfFieldsDescriptor>();
  if (fields && fields->GetFieldFromName(aNewName) >= 0) RaiseError(zfErrNameNotUnique);
  fdName = aNewName;
  fdNameLowerCase = rtl::LowerCase(aNewName);
}

TzfDictionaryItem* TzfFieldDescriptor::AddDefaultValue(TzfDictionaryItemClass aClass) {
  CheckReadOnly();
  if (!aClass)
    aClass = &FindStoredDescriptorClass(zfDefaultValueDescriptorFamily(), u"DefaultValueDescriptor",
                                        u"TzfConstDefaultValueDescriptor");
  ZF_ASSERT(aClass->Create && aClass->GetList() == zfDefaultValueDescriptorFamily().GetList(), "zfsdFieldDescriptor");
  fdDefaultValue.reset();
  fdDefaultValue.reset(aClass->Create(this));
  return fdDefaultValue.get();
}

void TzfFieldDescriptor::RemoveDefaultValue() {
  CheckReadOnly();
  fdDefaultValue.reset();
}

TzfDictionaryItem* TzfFieldDescriptor::AddValidations(TzfDictionaryItemClass aClass) {
  CheckReadOnly();
  if (!aClass)
    aClass = &FindStoredDescriptorClass(zfFieldValidationsDescriptorFamily(), u"ValidationsDescriptor",
                                        u"TzfFieldValidationsDescriptor");
  ZF_ASSERT(aClass->Create && aClass->GetList() == zfFieldValidationsDescriptorFamily().GetList(),
            "zfsdFieldDescriptor");
  fdValidations.reset();
  fdValidations.reset(aClass->Create(this));
  return fdValidations.get();
}

TzfDictionaryItem* TzfFieldDescriptor::EnsureValidations() {
  return fdValidations ? fdValidations.get() : AddValidations(nullptr);
}

void TzfFieldDescriptor::RemoveValidations() {
  CheckReadOnly();
  fdValidations.reset();
}

UnicodeString TzfFieldDescriptor::ToString() const {
  UnicodeString s = u"[" + rtl::IntToStr(fdNumber) + u"] " + fdName + u" - " +
                    UnicodeString(zfFieldTypeEnumName(fdType)).substr(3);
  switch (fdType) {
    case zftByteArray: case zftShortString: case zftNullString: case zftWideString:
      s += u"(" + rtl::IntToStr(fdUnits) + u")";
      break;
    case zftFmtBCD: s += u"(" + rtl::IntToStr(fdUnits) + u"," + rtl::IntToStr(fdDecPl) + u")"; break;
    default: break;
  }
  return s;
}

rtl::Variant TzfFieldDescriptor::ValueToVariant(const uint8_t* aData) {
  rtl::Variant v = rtl::Variant::Null();
  if (aData) VariantFromBuffer(fdType, GetUsedStorageCodePage(), fdUnits, fdDecPl, aData, fdLength, v);
  return v;
}

void TzfFieldDescriptor::VariantToValue(uint8_t* aData, const rtl::Variant& aValue) {
  if (VariantIsEmptyOrNull(aValue)) {
    std::memset(aData, 0, static_cast<size_t>(fdLength));
    return;
  }
  try {
    VariantToBuffer(fdType, GetUsedStorageCodePage(), fdUnits, fdDecPl, aValue, aData, fdLength);
  } catch (...) {
    std::memset(aData, 0, static_cast<size_t>(fdLength));
    throw;
  }
}

bool TzfFieldDescriptor::FindRelatedDescriptorOfType(const TzfRegisterableClass& aType,
                                                     TzfDictionaryItem*& aDescriptor, TzfDictionaryItem* aFrom) {
  const TzfGetListProc list = aType.GetList();
  if (list && list == zfDefaultValueDescriptorFamily().GetList()) {
    aDescriptor = fdDefaultValue.get();
    return true;
  }
  if (list && list == zfFieldValidationsDescriptorFamily().GetList()) {
    aDescriptor = fdValidations.get();
    return true;
  }
  return TzfLocalizedDictionaryItem::FindRelatedDescriptorOfType(aType, aDescriptor, aFrom);
}

void TzfFieldDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfLocalizedDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  const bool old = aClientVersion < zfVersion20000;
  if (old && (ldiLocaleDescriptor || fdValidations)) RaiseError(zfErrIncompatibleVersion);
  aWriter.WriteInteger(old ? 1 : 3);
  aWriter.WriteInteger(fdOffset);
  aWriter.WriteInteger(fdLength);
  aWriter.WriteBoolean(fdDefaultValue != nullptr);
  if (fdDefaultValue) {
    aWriter.WriteString(fdDefaultValue->ClassName());
    fdDefaultValue->SaveToWriter(aWriter, aClientVersion);
  }
  aWriter.WriteBoolean(fdNoClientAccess);
  if (!old) {
    SaveLocaleToWriter(aWriter, aClientVersion);
    aWriter.WriteBoolean(fdValidations != nullptr);
    if (fdValidations) {
      aWriter.WriteString(fdValidations->ClassName());
      fdValidations->SaveToWriter(aWriter, aClientVersion);
    }
  }
}

void TzfFieldDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfLocalizedDictionaryItem::LoadFromReader(aReader);
  const int32_t version = ReadBodyVersion(aReader, 1, 3);
  fdOffset = aReader.ReadInteger();
  fdLength = aReader.ReadInteger();
  if (ReadStoredBoolean(aReader)) {
    const auto& cls =
        FindStoredDescriptorClass(zfDefaultValueDescriptorFamily(), u"DefaultValueDescriptor", aReader.ReadString());
    TzfDictionaryItem* dv = AddDefaultValue(&cls);
    TzfDictionaryReadNesting nesting(*this);
    dv->LoadFromReader(aReader);
  }
  fdNoClientAccess = ReadStoredBoolean(aReader);
  if (version >= 2) LoadLocaleFromReader(aReader);
  if (version == 3 && ReadStoredBoolean(aReader)) {
    const auto& cls = FindStoredDescriptorClass(zfFieldValidationsDescriptorFamily(), u"ValidationsDescriptor",
                                                aReader.ReadString());
    TzfDictionaryItem* v = AddValidations(&cls);
    TzfDictionaryReadNesting nesting(*this);
    v->LoadFromReader(aReader);
  }
}

void TzfFieldDescriptor::CheckValid(bool aForBuild) {
  TzfLocalizedDictionaryItem::CheckValid(aForBuild);
  CheckName(fdName);
  TzfFieldType type = fdType;
  int32_t units = fdUnits, decPl = fdDecPl, length = fdLength;
  bool required = fdRequired;
  SetupField(type, units, decPl, required, length);
  if (units != fdUnits)
    RaiseError(zfErrInvalidRecStruct, u"fdUnits is wrong for field %d (%s). Expected %d found %d.",
               {fdNumber, fdName, units, fdUnits});
  if (decPl != fdDecPl)
    RaiseError(zfErrInvalidRecStruct, u"fdDecPl is wrong for field %d (%s). Expected %d found %d.",
               {fdNumber, fdName, decPl, fdDecPl});
  if (required != fdRequired)
    RaiseError(zfErrInvalidRecStruct, u"fdRequired is wrong for field %d (%s). Expected %s found %s.",
               {fdNumber, fdName, BoolText(required), BoolText(fdRequired)});
  if (length != fdLength)
    RaiseError(zfErrInvalidRecStruct, u"fdLength is wrong for field %d (%s). Expected %d found %d.",
               {fdNumber, fdName, length, fdLength});
  if (fdDefaultValue) fdDefaultValue->CheckValid(aForBuild);
  if (fdValidations) fdValidations->CheckValid(aForBuild);
  switch (fdType) {
    case zftAutoInc:
    case zftBlob: case zftBlobMemo: case zftBlobGraphic: case zftBlobWideMemo: {
      IzfFieldStorageOwner* owner = nullptr;
      for (TzfPersistent* p = diParent; p && !owner;) {
        owner = dynamic_cast<IzfFieldStorageOwner*>(p);
        auto* item = dynamic_cast<TzfDictionaryItem*>(p);
        p = item ? item->diParent : nullptr;
      }
      if (!owner)
        throw EzfDictionaryItemException(zfErrObjNotFound, u"No Parent of type %s could be found",
                                         {u"TzfBaseTableDescriptor"});
      if (fdType == zftAutoInc) owner->EnsureAutoIncDescriptor();
      else owner->EnsureBlobDescriptor();
      break;
    }
    case zftByteArray: case zftShortString: case zftNullString: case zftWideString:
      if (fdUnits < 1) RaiseError(zfErrInvalidFieldDesc, u"Units must be > 0", {});
      break;
    default: break;
  }
}

bool TzfFieldDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfLocalizedDictionaryItem::IsEqual(aItem)) return false;
  const auto* f = dynamic_cast<const TzfFieldDescriptor*>(aItem);
  if (!f) return false;
  auto sameOptional = [](const std::unique_ptr<TzfDictionaryItem>& a, const std::unique_ptr<TzfDictionaryItem>& b) {
    return (!a && !b) || (a && b && a->IsEqual(b.get()));
  };
  return fdName == f->fdName && fdDesc == f->fdDesc && zfIsStorageCompatible(fdType, f->fdType) &&
         fdUnits == f->fdUnits && fdDecPl == f->fdDecPl && fdOffset == f->fdOffset && fdLength == f->fdLength &&
         fdRequired == f->fdRequired && sameOptional(fdDefaultValue, f->fdDefaultValue) &&
         sameOptional(fdValidations, f->fdValidations) && fdNoClientAccess == f->fdNoClientAccess;
}

// ---- Unit ----

rtl::TUnitInit& zfsdFieldDescriptorUnit() {
  static rtl::TUnitInit unit(
      "zfsdFieldDescriptor",
      [] { TzfBaseRegisterableDescriptor::RegisterDescriptor(TzfFieldDescriptor::ClassInfo()); },
      [] { TzfBaseRegisterableDescriptor::UnregisterDescriptor(TzfFieldDescriptor::ClassInfo()); });
  return unit;
}

}  // namespace zf
