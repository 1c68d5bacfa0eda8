#include "dictionary/zfsdKeyDescriptor.h"

#include <algorithm>

#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdRenumber.h"
#include "foundation/zfllConst.h"
#include "dictionary/zfsdDescriptorHelpers.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfsdDataDictionary";

constexpr const char16_t* kNullBehaviourNames[] = {u"nbTop", u"nbBottom", u"nbAsAscend", u"nbFilterNull",
                                                   u"nbFilterNonNull"};

}  // namespace

const char16_t* zfNullBehaviourName(TzfNullBehaviour aValue) {
  const auto i = static_cast<size_t>(aValue);
  return i < std::size(kNullBehaviourNames) ? kNullBehaviourNames[i] : u"";
}

bool zfNullBehaviourFromName(UnicodeStringView aName, TzfNullBehaviour& aValue) {
  for (size_t i = 0; i < std::size(kNullBehaviourNames); ++i)
    if (rtl::SameText(aName, kNullBehaviourNames[i])) {
      aValue = static_cast<TzfNullBehaviour>(i);
      return true;
    }
  return false;
}

int32_t zfKeyFieldLength(TzfFieldType aType, int32_t aLength, int32_t aUnits, int32_t aOverrideBytes,
                         int32_t aOverrideChars) {
  int32_t l = aLength;
  switch (aType) {
    case zftByteArray:
      if (aOverrideBytes > 0 && aOverrideBytes < l) l = aOverrideBytes;
      break;
    case zftShortString:
    case zftNullString:
    case zftWideString:
      if (aOverrideChars > 0 && aOverrideChars < aUnits) {
        l = aOverrideChars + 1;
        if (aType == zftWideString) l *= 2;
      }
      // The byte override widens, never narrows, an 8-bit text key.
      if (aType != zftWideString && aOverrideBytes > l) l = aOverrideBytes;
      break;
    default:
      break;
  }
  return l;
}

// ---- TzfBaseKeyDescriptor ----

const TzfDictionaryItemClassInfo& TzfBaseKeyDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfBaseKeyDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfBaseKeyDescriptor>, nullptr);
  return info;
}

TzfBaseKeyDescriptor::~TzfBaseKeyDescriptor() = default;

bool TzfBaseKeyDescriptor::IsValidForTable(TzfDictionaryItem& /*aTable*/) { return true; }

void TzfBaseKeyDescriptor::SetFilter(std::unique_ptr<TzfBaseFilterDescriptor> aFilter) {
  CheckReadOnly();
  Filter = std::move(aFilter);
}

void TzfBaseKeyDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  if (aClientVersion < zfVersion20000) {
    if (Filter) RaiseError(zfErrIncompatibleVersion);
    return;
  }
  aWriter.WriteIdent(u"BKD");
  aWriter.WriteInteger(int32_t{1});
  aWriter.WriteBoolean(Filter != nullptr);
  if (Filter) {
    TzfMemoryStream ms;
    const uint32_t code = Filter->WriteToStream(ms, aClientVersion);
    if (code != 0) RaiseError(code);
    aWriter.WriteInteger(static_cast<int32_t>(ms.Size()));
    aWriter.Write(ms.Memory(), static_cast<int32_t>(ms.Size()));
  }
}

void TzfBaseKeyDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  Filter.reset();
  if (aReader.NextValue() != vaIdent) return;  // written without the block: no filter
  if (aReader.ReadIdent() != u"BKD") rtl::AssertionFailure(kUnit, __LINE__);
  ReadBodyVersion(aReader, 1, 1);
  if (!aReader.ReadBoolean()) return;
  const int32_t size = aReader.ReadInteger();
  CheckStoredCount(aReader, size, 1);
  TzfMemoryStream ms;
  ms.SetSize(size);
  if (size > 0) aReader.Read(ms.Memory(), size);
  ms.SetPosition(0);
  std::unique_ptr<TzfBaseFilterDescriptor> filter;
  const uint32_t code = TzfBaseFilterDescriptor::CreateFromStream(ms, filter);
  if (code != 0) RaiseError(code);
  Filter = std::move(filter);
}

// ---- TzfRefKeyDescriptor ----

const TzfDictionaryItemClassInfo& TzfRefKeyDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfRefKeyDescriptor", &TzfBaseKeyDescriptor::ClassInfo(), nullptr,
                                               &zfNewDictionaryItem<TzfRefKeyDescriptor>);
  return info;
}

void TzfRefKeyDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseKeyDescriptor::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(int32_t{1});
}

void TzfRefKeyDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseKeyDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
}

// ---- TzfCompKeyDescriptor ----

const TzfDictionaryItemClassInfo& TzfCompKeyDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfCompKeyDescriptor", &TzfBaseKeyDescriptor::ClassInfo(), nullptr,
                                               &zfNewDictionaryItem<TzfCompKeyDescriptor>);
  return info;
}

TzfCompKeyDescriptor::~TzfCompKeyDescriptor() {
  while (!ckdKeyFields.empty()) ckdKeyFields.pop_back();
}

TzfKeyFieldDescriptorClass TzfCompKeyDescriptor::DefaultKeyFieldClass() const {
  return &TzfKeyFieldDescriptor::ClassInfo();
}

TzfKeyFieldDescriptor* TzfCompKeyDescriptor::Add(int32_t aFieldNumber, TzfKeyFieldDescriptorClass aClass) {
  return Insert(GetKeyFieldCount(), aFieldNumber, aClass);
}

TzfKeyFieldDescriptor* TzfCompKeyDescriptor::Insert(int32_t aInx, int32_t aFieldNumber,
                                                    TzfKeyFieldDescriptorClass aClass) {
  CheckReadOnly();
  CheckIndex(aInx, GetKeyFieldCount() + 1);
  if (!aClass) aClass = DefaultKeyFieldClass();
  std::unique_ptr<TzfKeyFieldDescriptor> kf(aClass->CreateKeyField(this, aFieldNumber));
  TzfKeyFieldDescriptor* r = kf.get();
  ckdKeyFields.insert(ckdKeyFields.begin() + aInx, std::move(kf));
  ckdKeyLen = -1;
  return r;
}

namespace {
int32_t FieldNumberOf(TzfDictionaryItem& aItem, const UnicodeString& aFieldName) {
  auto* fields = dynamic_cast<TzfFieldsDescriptor*>(aItem.GetRelatedDescriptorOfType(TzfFieldsDescriptor::ClassInfo()));
  if (!fields) aItem.RaiseError(zfErrObjNotFound, u"No related Descriptor of type %s could be found",
                                {UnicodeString(TzfFieldsDescriptor::ClassInfo().Name)});
  return fields->GetFieldFromName(aFieldName);
}
}  // namespace

TzfKeyFieldDescriptor* TzfCompKeyDescriptor::Add(const UnicodeString& aFieldName, TzfKeyFieldDescriptorClass aClass) {
  return Add(FieldNumberOf(*this, aFieldName), aClass);
}

TzfKeyFieldDescriptor* TzfCompKeyDescriptor::Insert(int32_t aInx, const UnicodeString& aFieldName,
                                                    TzfKeyFieldDescriptorClass aClass) {
  return Insert(aInx, FieldNumberOf(*this, aFieldName), aClass);
}

void TzfCompKeyDescriptor::CheckIndex(int32_t aIndex, int32_t aCount) const {
  if (aIndex < 0 || aIndex >= aCount) RaiseError(zfErrInvalidDescNum, u"Index out of bounds: %d", {aIndex});
}

void TzfCompKeyDescriptor::Move(int32_t aFrom, int32_t aTo) {
  CheckReadOnly();
  CheckIndex(aFrom, GetKeyFieldCount());
  CheckIndex(aTo, GetKeyFieldCount());
  auto kf = std::move(ckdKeyFields[static_cast<size_t>(aFrom)]);
  ckdKeyFields.erase(ckdKeyFields.begin() + aFrom);
  ckdKeyFields.insert(ckdKeyFields.begin() + aTo, std::move(kf));
}

void TzfCompKeyDescriptor::Delete(int32_t aInx) {
  CheckReadOnly();
  CheckIndex(aInx, GetKeyFieldCount());
  ckdKeyFields.erase(ckdKeyFields.begin() + aInx);
  ckdKeyLen = -1;
}

void TzfCompKeyDescriptor::Clear() {
  CheckReadOnly();
  while (!ckdKeyFields.empty()) ckdKeyFields.pop_back();
  ckdKeyLen = -1;
}

TzfKeyFieldDescriptor* TzfCompKeyDescriptor::GetKeyField(int32_t aIndex) const {
  CheckIndex(aIndex, GetKeyFieldCount());
  return ckdKeyFields[static_cast<size_t>(aIndex)].get();
}

bool TzfCompKeyDescriptor::IsValidForTable(TzfDictionaryItem& aTable) {
  if (ckdKeyFields.empty()) return false;
  for (auto& kf : ckdKeyFields)
    if (!kf->IsValidForTable(aTable)) return false;
  return true;
}

int32_t TzfCompKeyDescriptor::SumOfKeyFieldLengths() const {
  int32_t sum = 0;
  for (auto& kf : ckdKeyFields) sum += kf->GetKeyLength();
  return sum;
}

int32_t TzfCompKeyDescriptor::GetKeyLength() {
  if (ckdKeyLen < 0) ckdKeyLen = SumOfKeyFieldLengths() + (GetKeyFieldCount() + 7) / 8;
  return ckdKeyLen;
}

bool TzfCompKeyDescriptor::CanContainNulls() {
  for (auto& kf : ckdKeyFields)
    if (kf->CanContainNulls()) return true;
  return false;
}

void TzfCompKeyDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseKeyDescriptor::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(int32_t{1});
  aWriter.WriteInteger(GetKeyFieldCount());
  for (auto& kf : ckdKeyFields) {
    aWriter.WriteString(kf->ClassName());
    aWriter.WriteInteger(kf->kfdFieldNumber);
    kf->SaveToWriter(aWriter, aClientVersion);
  }
}

void TzfCompKeyDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseKeyDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  // The key fields read replace any present (a copy through a stream must not add to them).
  while (!ckdKeyFields.empty()) ckdKeyFields.pop_back();
  ckdKeyLen = -1;
  const int32_t count = aReader.ReadInteger();
  // Each key field takes at least a class name, a number and its header: a few bytes.
  CheckStoredCount(aReader, count, 4);
  TzfDictionaryReadNesting nest(*this);
  for (int32_t i = 0; i < count; ++i) {
    const auto& cls = FindStoredDescriptorClass<TzfKeyFieldDescriptorClassInfo>(
        TzfKeyFieldDescriptor::ClassInfo(), u"KeyFieldDescriptor", aReader.ReadString());
    const int32_t number = aReader.ReadInteger();
    Add(number, &cls)->LoadFromReader(aReader);
  }
}

void TzfCompKeyDescriptor::CheckValid(bool aForBuild) {
  TzfBaseKeyDescriptor::CheckValid(aForBuild);
  if (ckdKeyFields.empty()) RaiseError(zfErrInvalidDesc, u"Composite key requires a minimum of one field", {});
  for (auto& kf : ckdKeyFields) kf->CheckValid(aForBuild);
}

bool TzfCompKeyDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfBaseKeyDescriptor::IsEqual(aItem)) return false;
  const auto* o = zfItemAs<TzfCompKeyDescriptor>(aItem);
  if (o->ckdKeyFields.size() != ckdKeyFields.size()) return false;
  for (size_t i = 0; i < ckdKeyFields.size(); ++i)
    if (!ckdKeyFields[i]->IsEqual(o->ckdKeyFields[i].get())) return false;
  return true;
}

// ---- TzfNoNullCompKeyDescriptor ----

const TzfDictionaryItemClassInfo& TzfNoNullCompKeyDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfNoNullCompKeyDescriptor", &TzfCompKeyDescriptor::ClassInfo(),
                                               nullptr, &zfNewDictionaryItem<TzfNoNullCompKeyDescriptor>);
  return info;
}

int32_t TzfNoNullCompKeyDescriptor::GetKeyLength() {
  if (ckdKeyLen < 0) ckdKeyLen = SumOfKeyFieldLengths();
  return ckdKeyLen;
}

void TzfNoNullCompKeyDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfCompKeyDescriptor::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(int32_t{1});
}

void TzfNoNullCompKeyDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfCompKeyDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
}

void TzfNoNullCompKeyDescriptor::CheckValid(bool aForBuild) {
  TzfCompKeyDescriptor::CheckValid(aForBuild);
  for (auto& kf : ckdKeyFields) {
    TzfFieldDescriptor* f = kf->GetField();
    if (f && !f->fdRequired)
      RaiseError(zfErrInvalidDesc, u"Field \"%s\" is not marked as required", {f->fdName});
  }
}

// ---- TzfKeyFieldDescriptor ----

const TzfKeyFieldDescriptorClassInfo& TzfKeyFieldDescriptor::ClassInfo() {
  static const TzfKeyFieldDescriptorClassInfo info(u"TzfKeyFieldDescriptor", &TzfLocalizedDictionaryItem::ClassInfo(),
                                                   &zfFamilyList<TzfKeyFieldDescriptor>,
                                                   &zfNewKeyField<TzfKeyFieldDescriptor>);
  return info;
}

TzfKeyFieldDescriptor::TzfKeyFieldDescriptor(TzfPersistent* aParent, int32_t aFieldNumber)
    : TzfLocalizedDictionaryItem(aParent), kfdFieldNumber(aFieldNumber) {
  if (kfdFieldNumber != zfOwningFieldNumber) RegisterFieldChangeNotify();
}

TzfKeyFieldDescriptor::~TzfKeyFieldDescriptor() {
  if (kfdFieldNumber != zfOwningFieldNumber) UnregisterFieldChangeNotify();
}

TzfFieldDescriptor* TzfKeyFieldDescriptor::GetField() {
  if (kfdFieldNumber == zfOwningFieldNumber) return FindRelated<TzfFieldDescriptor>();
  TzfFieldsDescriptor* fields = FindRelated<TzfFieldsDescriptor>();
  if (!fields || kfdFieldNumber < 0 || kfdFieldNumber >= fields->FieldCount) return nullptr;
  return fields->FieldDescriptor[static_cast<size_t>(kfdFieldNumber)].get();
}

int32_t TzfKeyFieldDescriptor::GetKeyChars() {
  TzfFieldDescriptor* f = GetField();
  if (!f) return 0;
  switch (f->fdType) {
    case zftShortString:
    case zftNullString:
    case zftWideString:
      return kfdOverrideLengthChars > 0 && kfdOverrideLengthChars < f->fdUnits ? kfdOverrideLengthChars : f->fdUnits;
    default:
      return 0;
  }
}

int32_t TzfKeyFieldDescriptor::GetKeyLength() {
  TzfFieldDescriptor* f = GetField();
  if (!f) return 0;
  return zfKeyFieldLength(f->fdType, f->fdLength, f->fdUnits, kfdOverrideLengthBytes, kfdOverrideLengthChars);
}

void TzfKeyFieldDescriptor::SetFieldNumber(int32_t aValue) {
  CheckReadOnly();
  kfdFieldNumber = aValue;
}

void TzfKeyFieldDescriptor::SetDesc(const UnicodeString& aValue) {
  CheckReadOnly();
  kfdDesc = aValue;
}

void TzfKeyFieldDescriptor::SetKeyFieldEngine(const UnicodeString& aValue) {
  CheckReadOnly();
  kfdKeyFieldEngine = aValue;
}

void TzfKeyFieldDescriptor::SetAscend(bool aValue) {
  CheckReadOnly();
  kfdAscend = aValue;
}

void TzfKeyFieldDescriptor::SetNullBehaviour(TzfNullBehaviour aValue) {
  CheckReadOnly();
  kfdNullBehaviour = aValue;
}

namespace {
void ResetOwnerKeyLength(TzfPersistent* aOwner) {
  if (auto* key = dynamic_cast<TzfCompKeyDescriptor*>(aOwner)) key->ResetKeyLength();
}
}  // namespace

void TzfKeyFieldDescriptor::SetOverrideLengthBytes(int32_t aValue) {
  if (aValue == kfdOverrideLengthBytes) return;
  CheckReadOnly();
  ResetOwnerKeyLength(diParent);
  kfdOverrideLengthBytes = aValue;
}

void TzfKeyFieldDescriptor::SetOverrideLengthChars(int32_t aValue) {
  if (aValue == kfdOverrideLengthChars) return;
  CheckReadOnly();
  ResetOwnerKeyLength(diParent);
  kfdOverrideLengthChars = aValue;
}

bool TzfKeyFieldDescriptor::CanContainNulls() {
  if (kfdNullBehaviour == nbFilterNull) return false;
  TzfFieldDescriptor* f = GetField();
  return !(f && f->fdRequired);
}

bool TzfKeyFieldDescriptor::IsValidForTable(TzfDictionaryItem& aTable) {
  TzfFieldsDescriptor* fields = aTable.FindRelated<TzfFieldsDescriptor>();
  return fields && kfdFieldNumber >= 0 && kfdFieldNumber < fields->FieldCount;
}

TzfLocaleDescriptor* TzfKeyFieldDescriptor::GetInheritedLocaleDescriptor() {
  if (TzfFieldDescriptor* f = GetField()) return f->GetUsedLocaleDescriptor();
  return TzfLocalizedDictionaryItem::GetInheritedLocaleDescriptor();
}

void TzfKeyFieldDescriptor::FieldNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) {
  if (kfdFieldNumber == zfOwningFieldNumber) return;
  if (aBefore) {
    if (aOld == kfdFieldNumber && aNew < 0) {
      TzfFieldDescriptor* f = GetField();
      RaiseError(zfErrObjectInUse, u"Cannot remove field %s because it is still referenced by an index",
                 {f ? f->fdName : rtl::IntToStr(kfdFieldNumber)});
    }
    return;
  }
  kfdFieldNumber = zfRenumberAfterChange(kfdFieldNumber, aOld, aNew);
}

void TzfKeyFieldDescriptor::CheckOldClient() const {
  if (kfdOverrideLengthBytes > 0 || kfdOverrideLengthChars > 0 || ldiLocaleDescriptor)
    RaiseError(zfErrIncompatibleVersion);
}

void TzfKeyFieldDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  const bool old = aClientVersion < zfVersion20000;
  if (old) CheckOldClient();
  TzfLocalizedDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(int32_t{old ? 1 : 2});
  aWriter.WriteString(kfdDesc);
  aWriter.WriteString(kfdKeyFieldEngine);
  aWriter.WriteBoolean(kfdAscend);
  if (old) return;
  SaveLocaleToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(kfdOverrideLengthBytes);
  aWriter.WriteInteger(kfdOverrideLengthChars);
  aWriter.WriteString(zfNullBehaviourName(kfdNullBehaviour));
}

void TzfKeyFieldDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfLocalizedDictionaryItem::LoadFromReader(aReader);
  const int32_t v = ReadBodyVersion(aReader, 1, 2);
  kfdDesc = aReader.ReadString();
  kfdKeyFieldEngine = aReader.ReadString();
  kfdAscend = aReader.ReadBoolean();
  kfdOverrideLengthBytes = 0;
  kfdOverrideLengthChars = 0;
  kfdNullBehaviour = nbTop;
  if (v == 2) {
    LoadLocaleFromReader(aReader);
    kfdOverrideLengthBytes = aReader.ReadInteger();
    kfdOverrideLengthChars = aReader.ReadInteger();
    // A stored name that names no null behaviour is a damaged stream.
    if (!zfNullBehaviourFromName(aReader.ReadString(), kfdNullBehaviour)) RaiseError(zfErrIncompatibleStream);
  }
  ResetOwnerKeyLength(diParent);
}

void TzfKeyFieldDescriptor::CheckValid(bool aForBuild) {
  TzfLocalizedDictionaryItem::CheckValid(aForBuild);
  bool ok = true;
  if (kfdFieldNumber == zfOwningFieldNumber) {
    ok = FindRelated<TzfFieldDescriptor>() != nullptr;
  } else if (TzfFieldsDescriptor* fields = FindRelated<TzfFieldsDescriptor>()) {
    ok = kfdFieldNumber >= 0 && kfdFieldNumber < fields->FieldCount;
  }
  if (!ok) RaiseError(zfErrInvalidDescNum, u"Invalid field number: %d", {kfdFieldNumber});
}

bool TzfKeyFieldDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfLocalizedDictionaryItem::IsEqual(aItem)) return false;
  const auto* o = zfItemAs<TzfKeyFieldDescriptor>(aItem);
  return kfdFieldNumber == o->kfdFieldNumber && kfdDesc == o->kfdDesc &&
         rtl::SameText(kfdKeyFieldEngine, o->kfdKeyFieldEngine) && kfdAscend == o->kfdAscend &&
         kfdOverrideLengthBytes == o->kfdOverrideLengthBytes && kfdOverrideLengthChars == o->kfdOverrideLengthChars &&
         kfdNullBehaviour == o->kfdNullBehaviour;
}

// ---- TzfTextKeyFieldDescriptor ----

const TzfKeyFieldDescriptorClassInfo& TzfTextKeyFieldDescriptor::ClassInfo() {
  static const TzfKeyFieldDescriptorClassInfo info(u"TzfTextKeyFieldDescriptor", &TzfKeyFieldDescriptor::ClassInfo(),
                                                   nullptr, &zfNewKeyField<TzfTextKeyFieldDescriptor>);
  return info;
}

void TzfTextKeyFieldDescriptor::SetIgnoreCase(bool aValue) {
  CheckReadOnly();
  tkfIgnoreCase = aValue;
}

void TzfTextKeyFieldDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfKeyFieldDescriptor::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(int32_t{1});
  aWriter.WriteBoolean(tkfIgnoreCase);
}

void TzfTextKeyFieldDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfKeyFieldDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  tkfIgnoreCase = aReader.ReadBoolean();
}

bool TzfTextKeyFieldDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  return TzfKeyFieldDescriptor::IsEqual(aItem) && tkfIgnoreCase == zfItemAs<TzfTextKeyFieldDescriptor>(aItem)->tkfIgnoreCase;
}

// ---- TzfExtTextKeyFieldDescriptor ----

const TzfKeyFieldDescriptorClassInfo& TzfExtTextKeyFieldDescriptor::ClassInfo() {
  static const TzfKeyFieldDescriptorClassInfo info(u"TzfExtTextKeyFieldDescriptor",
                                                   &TzfTextKeyFieldDescriptor::ClassInfo(), nullptr,
                                                   &zfNewKeyField<TzfExtTextKeyFieldDescriptor>);
  return info;
}

void TzfExtTextKeyFieldDescriptor::CheckOldClient() const {
  // Its own locale travels in the old form, but without an override storage code page.
  if (kfdOverrideLengthBytes > 0 || kfdOverrideLengthChars > 0 ||
      (ldiLocaleDescriptor && ldiLocaleDescriptor->ldOverrideStorageCodepage != 0))
    RaiseError(zfErrIncompatibleVersion);
}

void TzfExtTextKeyFieldDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfTextKeyFieldDescriptor::SaveToWriter(aWriter, aClientVersion);
  if (aClientVersion >= zfVersion20000) {
    aWriter.WriteInteger(int32_t{2});
    SaveLocaleToWriter(aWriter, aClientVersion);
    return;
  }
  aWriter.WriteInteger(int32_t{1});
  const TzfLocaleDescriptor* ld = ldiLocaleDescriptor.get();
  aWriter.WriteInteger(static_cast<int32_t>(ld ? ld->ldLocale : 0));
  aWriter.WriteBoolean(ld && ld->ldIgnoreKanaType);
  aWriter.WriteBoolean(ld && ld->ldIgnoreNonSpace);
  aWriter.WriteBoolean(ld && ld->ldIgnoreSymbols);
  aWriter.WriteBoolean(ld && ld->ldIgnoreWidth);
  aWriter.WriteBoolean(ld && ld->ldUseStringSort);
}

void TzfExtTextKeyFieldDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfTextKeyFieldDescriptor::LoadFromReader(aReader);
  const int32_t v = ReadBodyVersion(aReader, 1, 2);
  if (v == 2) {
    LoadLocaleFromReader(aReader);
    return;
  }
  RemoveLocaleDescriptor();
  const auto locale = static_cast<uint32_t>(aReader.ReadInteger());
  bool flags[5];
  for (bool& f : flags) f = aReader.ReadBoolean();
  if (locale == 0) return;
  TzfLocaleDescriptor* ld = AddLocaleDescriptor(nullptr);
  ld->ldLocale = locale;
  ld->ldIgnoreKanaType = flags[0];
  ld->ldIgnoreNonSpace = flags[1];
  ld->ldIgnoreSymbols = flags[2];
  ld->ldIgnoreWidth = flags[3];
  ld->ldUseStringSort = flags[4];
}

// ---- Unit ----

namespace {

void StartKeyDescriptors() {
  using D = TzfBaseRegisterableDescriptor;
  D::RegisterDescriptor(TzfRefKeyDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfCompKeyDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfNoNullCompKeyDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfKeyFieldDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfTextKeyFieldDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfExtTextKeyFieldDescriptor::ClassInfo());
}

void StopKeyDescriptors() {
  using D = TzfBaseRegisterableDescriptor;
  D::UnregisterDescriptor(TzfExtTextKeyFieldDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfTextKeyFieldDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfKeyFieldDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfNoNullCompKeyDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfCompKeyDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfRefKeyDescriptor::ClassInfo());
}

}  // namespace

rtl::TUnitInit& zfsdKeyDescriptorUnit() {
  static rtl::TUnitInit unit("zfsdKeyDescriptor", &StartKeyDescriptors, &StopKeyDescriptors);
  return unit;
}

}  // namespace zf
