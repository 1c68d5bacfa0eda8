#include "dictionary/zfsdFieldsDescriptor.h"

#include <algorithm>
#include <cstring>

#include "dictionary/zfsdNativeVariantConverter.h"
#include "foundation/zfllConst.h"
#include "foundation/zfllUtils.h"

namespace zf {

namespace {

constexpr int64_t RoundUp4(int64_t aValue) { return (aValue + 3) & ~int64_t{3}; }
constexpr int64_t BitmapBytes(int32_t aFieldCount) { return 4 * ((int64_t{aFieldCount} + 31) / 32); }

// Field i is bit (i mod 32) of little-endian word (i div 32): byte i div 8, bit i mod 8.
inline bool TestNullBit(const uint8_t* aBitmap, int32_t aField) { return (aBitmap[aField >> 3] >> (aField & 7)) & 1; }
inline void SetNullBit(uint8_t* aBitmap, int32_t aField, bool aNull) {
  if (aNull) aBitmap[aField >> 3] |= static_cast<uint8_t>(1u << (aField & 7));
  else aBitmap[aField >> 3] &= static_cast<uint8_t>(~(1u << (aField & 7)));
}

}  // namespace

const TzfDictionaryItemClassInfo& zfFieldsValidationsDescriptorFamily() {
  static const TzfDictionaryItemClassInfo info(u"TzfFieldsValidationsDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfFieldsValidationsDescriptor>, nullptr);
  return info;
}

// ---- Field change notifications of dictionary items ----

void TzfDictionaryItem::RegisterFieldChangeNotify() {
  if (auto* fields = FindRelated<TzfFieldsDescriptor>()) fields->AddFieldChangeNotify(this);
}

void TzfDictionaryItem::UnregisterFieldChangeNotify() {
  if (auto* fields = FindRelated<TzfFieldsDescriptor>()) fields->RemoveFieldChangeNotify(this);
}

// ---- TzfFieldsDescriptor ----

const TzfDictionaryItemClassInfo& TzfFieldsDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfFieldsDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfFieldsDescriptor>,
                                               &zfNewDictionaryItem<TzfFieldsDescriptor>);
  return info;
}

TzfFieldsDescriptor::~TzfFieldsDescriptor() {
  fsdFieldHashList.clear();
  FieldDescriptor.clear();
  fsdValidations.reset();
}

void TzfFieldsDescriptor::CheckRange(int32_t aField) const {
  if (aField < 0 || aField >= FieldCount) RaiseError(zfErrInvalidDescNum, u"Index out of bounds: %d", {aField});
}

TzfFieldDescriptor* TzfFieldsDescriptor::Field(int32_t aField) const {
  CheckRange(aField);
  return FieldDescriptor[static_cast<size_t>(aField)].get();
}

int32_t TzfFieldsDescriptor::DictionaryVersion() const {
  IzfDictionaryRoot* root = FindDictionaryRoot();
  if (!root)
    throw EzfDictionaryItemException(zfErrObjNotFound, u"No Parent of type %s could be found", {u"TzfDataDictionary"});
  return root->DictionaryVersion();
}

int64_t TzfFieldsDescriptor::ComputeRecordLength(int32_t aVersion) const {
  const int64_t bitmapOffset = aVersion == 1 ? RoundUp4(fsdLogRecLen) : int64_t{fsdLogRecLenAlign};
  const int64_t length = bitmapOffset + BitmapBytes(FieldCount);
  if (length > zfMaxRecordLength)
    RaiseError(zfErrInvalidRecStruct, u"Record length out of range: %d", {length});
  return length;
}

int32_t TzfFieldsDescriptor::GetRecordLength() {
  if (diCacheActive) return fsdCachedGetRecordLength;
  // Outside a dictionary the current layout applies.
  IzfDictionaryRoot* root = FindDictionaryRoot();
  return static_cast<int32_t>(ComputeRecordLength(root ? root->DictionaryVersion() : 0));
}

void TzfFieldsDescriptor::UpdateBitmapOffset() {
  fsdLogRecLenAlign = DictionaryVersion() == 1 ? fsdLogRecLen : static_cast<int32_t>(RoundUp4(fsdLogRecLen));
}

void TzfFieldsDescriptor::UpdateLogRecLenAlign() { fsdLogRecLenAlign = static_cast<int32_t>(RoundUp4(fsdLogRecLen)); }

// ---- Record buffers ----

void TzfFieldsDescriptor::InitRecord(uint8_t* aData) {
  if (!aData || FieldCount == 0) return;
  std::memset(aData, 0, static_cast<size_t>(GetRecordLength()));
  std::memset(aData + fsdLogRecLenAlign, 0xFF, static_cast<size_t>((FieldCount + 7) / 8));
}

bool TzfFieldsDescriptor::IsRecordFieldNull(int32_t aField, const uint8_t* aData) const {
  CheckRange(aField);
  return !aData || TestNullBit(aData + fsdLogRecLenAlign, aField);
}

bool TzfFieldsDescriptor::IsRecordFieldNullFast(int32_t aField, const uint8_t* aData) const {
  CheckRange(aField);
  return TestNullBit(aData + fsdLogRecLenAlign, aField);
}

void TzfFieldsDescriptor::GetRecordField(int32_t aField, const uint8_t* aData, bool& aIsNull, void* aValue) const {
  const TzfFieldDescriptor* f = Field(aField);
  aIsNull = !aData || TestNullBit(aData + fsdLogRecLenAlign, aField);
  if (!aIsNull && aValue) std::memcpy(aValue, aData + f->fdOffset, static_cast<size_t>(f->fdLength));
}

void TzfFieldsDescriptor::SetRecordField(int32_t aField, uint8_t* aData, const void* aValue) const {
  const TzfFieldDescriptor* f = Field(aField);
  if (!aData) return;
  SetNullBit(aData + fsdLogRecLenAlign, aField, aValue == nullptr);
  if (aValue) std::memcpy(aData + f->fdOffset, aValue, static_cast<size_t>(f->fdLength));
  else std::memset(aData + f->fdOffset, 0, static_cast<size_t>(f->fdLength));
}

void TzfFieldsDescriptor::SetRecordFieldNull(int32_t aField, uint8_t* aData, bool aIsNull) const {
  const TzfFieldDescriptor* f = Field(aField);
  if (!aData) return;
  SetNullBit(aData + fsdLogRecLenAlign, aField, aIsNull);
  if (aIsNull) std::memset(aData + f->fdOffset, 0, static_cast<size_t>(f->fdLength));
}

const uint8_t* TzfFieldsDescriptor::GetRecordFieldForFilter(int32_t aField, const uint8_t* aData) const {
  const TzfFieldDescriptor* f = Field(aField);
  if (!aData || TestNullBit(aData + fsdLogRecLenAlign, aField)) return nullptr;
  return aData + f->fdOffset;
}

bool TzfFieldsDescriptor::GetRecordFieldForFilter(int32_t aField, const uint8_t* aData, TzfFieldType& aType,
                                                  uint16_t& aSize, const uint8_t*& aValue) const {
  if (aField < 0 || aField >= FieldCount) return false;
  const TzfFieldDescriptor* f = FieldDescriptor[static_cast<size_t>(aField)].get();
  aType = f->fdType;
  aSize = static_cast<uint16_t>(f->fdLength);
  if (!aData || TestNullBit(aData + fsdLogRecLenAlign, aField)) {
    aValue = nullptr;
    return false;
  }
  aValue = aData + f->fdOffset;
  return true;
}

bool TzfFieldsDescriptor::GetFieldForFilter(int32_t aField, const char* aName, const uint8_t* aData, uint16_t& aType,
                                            uint16_t& aSize, bool& aIsNull, const uint8_t*& aValue,
                                            uint16_t& aCodePage) {
  if (aField < 0 || aField >= FieldCount) return false;
  TzfFieldDescriptor* f = FieldDescriptor[static_cast<size_t>(aField)].get();
  aIsNull = !aData || TestNullBit(aData + fsdLogRecLenAlign, aField);
  aType = static_cast<uint16_t>(f->fdType);
  aSize = static_cast<uint16_t>(f->fdUnits);
  aValue = aData ? aData + f->fdOffset : nullptr;
  aCodePage = f->GetUsedStorageCodePage();
  if (f->fdType == zftShortString && aValue) {
    // A damaged length byte must not lead a filter past the field's characters.
    aSize = std::min<uint16_t>(aValue[0], static_cast<uint16_t>(std::max(f->fdUnits, 0)));
    ++aValue;
  }
  return true;
}

rtl::Variant TzfFieldsDescriptor::GetFieldAsVariant(const uint8_t* aData, int32_t aField) {
  return Field(aField)->ValueToVariant(GetRecordFieldForFilter(aField, aData));
}

void TzfFieldsDescriptor::SetFieldAsVariant(uint8_t* aData, int32_t aField, const rtl::Variant& aValue) {
  TzfFieldDescriptor* f = Field(aField);
  if (VariantIsEmptyOrNull(aValue)) {
    SetRecordFieldNull(aField, aData, true);
    return;
  }
  // Converted aside first: a value that does not convert leaves the record as it was.
  std::vector<uint8_t> value(static_cast<size_t>(f->fdLength));
  f->VariantToValue(value.data(), aValue);
  SetRecordField(aField, aData, value.data());
}

// ---- Field list ----

void TzfFieldsDescriptor::Renumber(int32_t aFrom, int64_t aOffset) {
  for (int32_t i = aFrom; i < FieldCount; ++i) {
    TzfFieldDescriptor* f = FieldDescriptor[static_cast<size_t>(i)].get();
    f->fdNumber = i;
    f->fdOffset = static_cast<int32_t>(aOffset);
    aOffset += f->fdLength;
  }
  fsdLogRecLen = static_cast<int32_t>(aOffset);
}

TzfFieldDescriptor* TzfFieldsDescriptor::AddField(const UnicodeString& aName, const UnicodeString& aDesc,
                                                  TzfFieldType aType, int32_t aUnits, int32_t aDecPl, bool aRequired,
                                                  TzfFieldDescriptorClass aClass) {
  CheckReadOnly();
  if (uint32_t code = zfCheckIdentifier(aName, zfErrInvalidFieldName, false, true)) RaiseError(code);
  if (GetFieldFromName(aName) >= 0) RaiseError(zfErrNameNotUnique, u"Duplicated field name: %s", {aName});
  const int32_t version = DictionaryVersion();
  const TzfFieldDescriptorClassInfo& cls = aClass ? *aClass : TzfFieldDescriptor::ClassInfo();
  std::unique_ptr<TzfFieldDescriptor> field(cls.CreateField(this, aName, aDesc, aType, aUnits, aDecPl, aRequired));
  const int64_t end = int64_t{fsdLogRecLen} + field->fdLength;
  if (RoundUp4(end) + BitmapBytes(FieldCount + 1) > zfMaxRecordLength)
    RaiseError(zfErrInvalidRecStruct, u"Record length out of range: %d", {RoundUp4(end) + BitmapBytes(FieldCount + 1)});
  TzfFieldDescriptor* f = field.get();
  f->fdNumber = FieldCount;
  f->fdOffset = fsdLogRecLen;
  FieldDescriptor.push_back(std::move(field));
  FieldCount = static_cast<int32_t>(FieldDescriptor.size());
  fsdLogRecLen = static_cast<int32_t>(end);
  fsdLogRecLenAlign = version == 1 ? fsdLogRecLen : static_cast<int32_t>(RoundUp4(fsdLogRecLen));
  return f;
}

TzfFieldDescriptor* TzfFieldsDescriptor::InsertFieldAt(int32_t aInx, const UnicodeString& aName,
                                                       const UnicodeString& aDesc, TzfFieldType aType, int32_t aUnits,
                                                       int32_t aDecPl, bool aRequired,
                                                       TzfFieldDescriptorClass aClass) {
  CheckReadOnly();
  if (uint32_t code = zfCheckIdentifier(aName, zfErrInvalidFieldName, false, true)) RaiseError(code);
  if (aInx < 0 || aInx > FieldCount) RaiseError(zfErrInvalidDescNum, u"Index out of bounds: %d", {aInx});
  fsdFieldChangeNotification(true, -1, aInx);
  TzfFieldDescriptor* f = AddField(aName, aDesc, aType, aUnits, aDecPl, aRequired, aClass);
  if (aInx < f->fdNumber) {
    std::rotate(FieldDescriptor.begin() + aInx, FieldDescriptor.end() - 1, FieldDescriptor.end());
    const TzfFieldDescriptor* prev = aInx > 0 ? FieldDescriptor[static_cast<size_t>(aInx - 1)].get() : nullptr;
    Renumber(aInx, prev ? int64_t{prev->fdOffset} + prev->fdLength : 0);
    UpdateBitmapOffset();
    fsdFieldChangeNotification(false, -1, aInx);
  }
  return f;
}

void TzfFieldsDescriptor::MoveField(int32_t aFrom, int32_t aTo) {
  CheckReadOnly();
  if (aFrom < 0 || aFrom >= FieldCount) RaiseError(zfErrInvalidDescNum, u"Index out of bounds: %d", {aFrom});
  if (aTo < 0 || aTo >= FieldCount) RaiseError(zfErrInvalidDescNum, u"Index out of bounds: %d", {aTo});
  if (aFrom == aTo) return;
  fsdFieldChangeNotification(true, aFrom, aTo);
  auto moved = std::move(FieldDescriptor[static_cast<size_t>(aFrom)]);
  FieldDescriptor.erase(FieldDescriptor.begin() + aFrom);
  FieldDescriptor.insert(FieldDescriptor.begin() + aTo, std::move(moved));
  const int32_t low = std::min(aFrom, aTo);
  const TzfFieldDescriptor* prev = low > 0 ? FieldDescriptor[static_cast<size_t>(low - 1)].get() : nullptr;
  Renumber(low, prev ? int64_t{prev->fdOffset} + prev->fdLength : 0);
  UpdateBitmapOffset();
  fsdFieldChangeNotification(false, aFrom, aTo);
}

void TzfFieldsDescriptor::RemoveField(int32_t aInx) {
  CheckReadOnly();
  if (aInx < 0 || aInx >= FieldCount) return;
  fsdFieldChangeNotification(true, aInx, -1);
  auto removed = std::move(FieldDescriptor[static_cast<size_t>(aInx)]);
  FieldDescriptor.erase(FieldDescriptor.begin() + aInx);
  FieldCount = static_cast<int32_t>(FieldDescriptor.size());
  Renumber(aInx, removed->fdOffset);
  UpdateBitmapOffset();
  if (aInx < FieldCount) fsdFieldChangeNotification(false, aInx, -1);
}

void TzfFieldsDescriptor::Clear(bool aNotify) {
  CheckReadOnly();
  RemoveValidations();
  const int32_t last = FieldCount - 1;
  if (aNotify)
    for (int32_t i = last; i >= 0; --i) fsdFieldChangeNotification(true, i, -1);
  fsdLogRecLen = 0;
  fsdLogRecLenAlign = 0;
  fsdFieldHashList.clear();
  FieldDescriptor.clear();
  FieldCount = 0;
  if (aNotify)
    for (int32_t i = last; i >= 0; --i) fsdFieldChangeNotification(false, i, -1);
}

void TzfFieldsDescriptor::GetFields(std::vector<std::pair<UnicodeString, TzfFieldDescriptor*>>& aStrings) const {
  aStrings.clear();
  for (const auto& f : FieldDescriptor) aStrings.emplace_back(f->fdName, f.get());
}

int32_t TzfFieldsDescriptor::GetFieldFromName(const UnicodeString& aName) {
  return GetFieldFromNameFast(rtl::LowerCase(aName));
}

int32_t TzfFieldsDescriptor::GetFieldFromNameFast(const UnicodeString& aFieldName) const {
  if (!fsdFieldHashList.empty()) {
    const size_t bucket = zfHashString(aFieldName) % fsdFieldHashList.size();
    for (const TzfFieldDescriptor* f = fsdFieldHashList[bucket]; f; f = f->fdSameHashNext)
      if (f->fdNameLowerCase == aFieldName) return f->fdNumber;
    return -1;
  }
  for (int32_t i = 0; i < FieldCount; ++i)
    if (FieldDescriptor[static_cast<size_t>(i)]->fdNameLowerCase == aFieldName) return i;
  return -1;
}

bool TzfFieldsDescriptor::HasAutoIncField(int32_t& aField) const {
  for (int32_t i = 0; i < FieldCount; ++i)
    if (FieldDescriptor[static_cast<size_t>(i)]->fdType == zftAutoInc) {
      aField = i;
      return true;
    }
  return false;
}

bool TzfFieldsDescriptor::HasRecRevField(int32_t& aField) const {
  for (int32_t i = 0; i < FieldCount; ++i)
    if (FieldDescriptor[static_cast<size_t>(i)]->fdType == zftRecRev) {
      aField = i;
      return true;
    }
  return false;
}

bool TzfFieldsDescriptor::HasBlobFields(TzfList* aBlobFields) const {
  if (aBlobFields) aBlobFields->Clear();
  for (int32_t i = 0; i < FieldCount; ++i) {
    if (!zfIsBlobType(FieldDescriptor[static_cast<size_t>(i)]->fdType)) continue;
    if (!aBlobFields) return true;
    aBlobFields->Add(reinterpret_cast<void*>(static_cast<intptr_t>(i)));
  }
  return aBlobFields && aBlobFields->Count() > 0;
}

bool TzfFieldsDescriptor::HasSameFields(const TzfFieldsDescriptor* aSource, TzfList* aBlobFields) const {
  if (!aSource || aSource->FieldCount != FieldCount) return false;
  if (aBlobFields) aBlobFields->Clear();
  for (int32_t i = 0; i < FieldCount; ++i) {
    const TzfFieldDescriptor* mine = FieldDescriptor[static_cast<size_t>(i)].get();
    const TzfFieldDescriptor* theirs = aSource->FieldDescriptor[static_cast<size_t>(i)].get();
    if (mine->fdLength != theirs->fdLength || !zfIsStorageCompatible(mine->fdType, theirs->fdType)) return false;
    if (aBlobFields && zfIsBlobType(mine->fdType)) aBlobFields->Add(reinterpret_cast<void*>(static_cast<intptr_t>(i)));
  }
  return FieldCount > 0;
}

void TzfFieldsDescriptor::UpdateSetupAndOffsets() {
  int64_t sum = 0;
  for (auto& f : FieldDescriptor) {
    f->fdOffset = static_cast<int32_t>(sum);
    f->UpdateSetup();
    sum += f->fdLength;
    if (sum > zfMaxRecordLength) RaiseError(zfErrInvalidRecStruct, u"Record length out of range: %d", {sum});
  }
  fsdLogRecLen = static_cast<int32_t>(sum);
  UpdateLogRecLenAlign();
}

TzfDictionaryItem* TzfFieldsDescriptor::AddValidations(TzfDictionaryItemClass aClass) {
  CheckReadOnly();
  if (!aClass)
    aClass = &FindStoredDescriptorClass(zfFieldsValidationsDescriptorFamily(), u"ValidationsDescriptor",
                                        u"TzfFieldsValidationsDescriptor");
  ZF_ASSERT(aClass->Create && aClass->GetList() == zfFieldsValidationsDescriptorFamily().GetList(),
            "zfsdFieldsDescriptor");
  fsdValidations.reset();
  fsdCachedEngineClass = nullptr;
  fsdValidations.reset(aClass->Create(this));
  return fsdValidations.get();
}

TzfDictionaryItem* TzfFieldsDescriptor::EnsureValidations() {
  return fsdValidations ? fsdValidations.get() : AddValidations(nullptr);
}

void TzfFieldsDescriptor::RemoveValidations() {
  CheckReadOnly();
  fsdValidations.reset();
  fsdCachedEngineClass = nullptr;
}

void TzfFieldsDescriptor::AddFieldChangeNotify(TzfDictionaryItem* aItem) {
  if (std::find(fsdFieldChangeNotifies.begin(), fsdFieldChangeNotifies.end(), aItem) == fsdFieldChangeNotifies.end())
    fsdFieldChangeNotifies.push_back(aItem);
}

void TzfFieldsDescriptor::RemoveFieldChangeNotify(TzfDictionaryItem* aItem) { std::erase(fsdFieldChangeNotifies, aItem); }

void TzfFieldsDescriptor::fsdFieldChangeNotification(bool aBefore, int32_t aOldField, int32_t aNewField) {
  for (TzfDictionaryItem* item : std::vector<TzfDictionaryItem*>(fsdFieldChangeNotifies))
    item->FieldNumberChanged(aBefore, aOldField, aNewField);
}

void TzfFieldsDescriptor::ActivateCache() {
  fsdCachedGetRecordLength = GetRecordLength();
  TzfDictionaryItem::ActivateCache();
  fsdFieldHashList.assign(static_cast<size_t>(FieldCount), nullptr);
  for (auto& f : FieldDescriptor) {
    const size_t bucket = zfHashString(f->fdNameLowerCase) % fsdFieldHashList.size();
    f->fdSameHashNext = fsdFieldHashList[bucket];
    fsdFieldHashList[bucket] = f.get();
  }
}

void TzfFieldsDescriptor::DeactivateCache() {
  fsdFieldHashList.clear();
  TzfDictionaryItem::DeactivateCache();
}

// ---- Stream ----

void TzfFieldsDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  if (aClientVersion < zfVersion20000) RaiseError(zfErrIncompatibleVersion);
  aWriter.WriteInteger(2);
  aWriter.WriteInteger(FieldCount);
  for (auto& f : FieldDescriptor) {
    aWriter.WriteString(f->ClassName());
    aWriter.WriteString(f->fdName);
    aWriter.WriteString(f->fdDesc);
    aWriter.WriteString(zfFieldTypeEnumName(f->fdType));
    aWriter.WriteInteger(f->fdUnits);
    aWriter.WriteInteger(f->fdDecPl);
    aWriter.WriteBoolean(f->fdRequired);
    f->SaveToWriter(aWriter, aClientVersion);
  }
  aWriter.WriteInteger(fsdLogRecLen);
  aWriter.WriteInteger(fsdLogRecLenAlign);
  aWriter.WriteBoolean(fsdValidations != nullptr);
  if (fsdValidations) {
    aWriter.WriteString(fsdValidations->ClassName());
    fsdValidations->SaveToWriter(aWriter, aClientVersion);
  }
}

void TzfFieldsDescriptor::LoadFromReader(TzfReader& aReader) {
  // Smallest stored field: class name, name, description, type name, units, decimals, required
  // flag and the field's own part.
  constexpr int32_t kMinFieldBytes = 20;
  TzfDictionaryItem::LoadFromReader(aReader);
  const int32_t version = ReadBodyVersion(aReader, 1, 2);
  const int32_t count = aReader.ReadInteger();
  CheckStoredCount(aReader, count, kMinFieldBytes);
  fsdFieldHashList.clear();
  FieldDescriptor.clear();
  FieldCount = 0;
  fsdValidations.reset();
  FieldDescriptor.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    const auto& cls =
        FindStoredDescriptorClass<TzfFieldDescriptorClassInfo>(TzfFieldDescriptor::ClassInfo(), u"FieldDescriptor",
                                                               aReader.ReadString());
    const UnicodeString name = aReader.ReadString();
    const UnicodeString desc = aReader.ReadString();
    TzfFieldType type;
    if (!zfFieldTypeFromEnumName(aReader.ReadString(), type)) RaiseError(zfErrIncompatibleStream);
    const int32_t units = aReader.ReadInteger();
    const int32_t decPl = aReader.ReadInteger();
    const bool required = ReadStoredBoolean(aReader);
    FieldDescriptor.emplace_back(cls.CreateField(this, name, desc, type, units, decPl, required));
    FieldCount = static_cast<int32_t>(FieldDescriptor.size());
    TzfFieldDescriptor* f = FieldDescriptor.back().get();
    f->fdNumber = i;
    TzfDictionaryReadNesting nesting(*this);
    f->LoadFromReader(aReader);
  }
  fsdLogRecLen = aReader.ReadInteger();
  fsdLogRecLenAlign = aReader.ReadInteger();
  if (version == 2 && ReadStoredBoolean(aReader)) {
    const auto& cls = FindStoredDescriptorClass(zfFieldsValidationsDescriptorFamily(), u"ValidationsDescriptor",
                                                aReader.ReadString());
    TzfDictionaryItem* v = AddValidations(&cls);
    TzfDictionaryReadNesting nesting(*this);
    v->LoadFromReader(aReader);
  }
  CheckStoredLayout();
}

void TzfFieldsDescriptor::CheckStoredLayout() {
  const int64_t logRecLen = fsdLogRecLen;
  bool ok = logRecLen >= 0 && fsdLogRecLenAlign >= logRecLen && fsdLogRecLenAlign <= logRecLen + 3;
  // A version-1 record ends 4 x W bytes after the field data rounded up to 4, wherever the bitmap
  // is, so the bitmap may not start after that rounded end.
  IzfDictionaryRoot* root = FindDictionaryRoot();
  if (ok && root && root->DictionaryVersion() == 1) ok = fsdLogRecLenAlign <= RoundUp4(logRecLen);
  for (const auto& f : FieldDescriptor) {
    if (!ok) break;
    ok = f->fdOffset >= 0 && f->fdLength >= 0 && int64_t{f->fdOffset} + f->fdLength <= logRecLen;
  }
  if (ok) ok = RoundUp4(std::max<int64_t>(logRecLen, fsdLogRecLenAlign)) + BitmapBytes(FieldCount) <= zfMaxRecordLength;
  if (!ok) RaiseError(zfErrIncompatibleStream);
}

void TzfFieldsDescriptor::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  if (FieldCount <= 0) RaiseError(zfErrInvalidRecStruct, u"FieldsDescriptor requires a minimum of one field", {});
  std::vector<UnicodeString> seen;
  bool autoInc = false, recRev = false;
  int64_t sum = 0;
  for (int32_t i = 0; i < FieldCount; ++i) {
    TzfFieldDescriptor* f = FieldDescriptor[static_cast<size_t>(i)].get();
    if (f->fdOffset != sum)
      RaiseError(zfErrInvalidRecStruct, u"fdOffset is wrong for field %d (%s). Expected %d found %d.",
                 {i, f->fdName, sum, f->fdOffset});
    for (const auto& s : seen)
      if (rtl::SameText(s, f->fdName)) RaiseError(zfErrNameNotUnique, u"Duplicated field name: %s", {f->fdName});
    seen.push_back(f->fdName);
    f->fdNumber = i;
    f->CheckValid(aForBuild);
    if (f->fdType == zftAutoInc) {
      if (autoInc) RaiseError(zfErrDuplicateAutoInc);
      autoInc = true;
    }
    if (f->fdType == zftRecRev) {
      if (recRev) RaiseError(zfErrDuplicateRecRev);
      recRev = true;
    }
    sum += f->fdLength;
  }
}

bool TzfFieldsDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfDictionaryItem::IsEqual(aItem)) return false;
  const auto* o = dynamic_cast<const TzfFieldsDescriptor*>(aItem);
  if (!o || FieldCount != o->FieldCount || fsdLogRecLen != o->fsdLogRecLen ||
      fsdLogRecLenAlign != o->fsdLogRecLenAlign)
    return false;
  if (!fsdValidations != !o->fsdValidations) return false;
  if (fsdValidations && !fsdValidations->IsEqual(o->fsdValidations.get())) return false;
  for (int32_t i = 0; i < FieldCount; ++i)
    if (!FieldDescriptor[static_cast<size_t>(i)]->IsEqual(o->FieldDescriptor[static_cast<size_t>(i)].get()))
      return false;
  return true;
}

// ---- Unit ----

rtl::TUnitInit& zfsdFieldsDescriptorUnit() {
  static rtl::TUnitInit unit(
      "zfsdFieldsDescriptor",
      [] { TzfBaseRegisterableDescriptor::RegisterDescriptor(TzfFieldsDescriptor::ClassInfo()); },
      [] { TzfBaseRegisterableDescriptor::UnregisterDescriptor(TzfFieldsDescriptor::ClassInfo()); });
  return unit;
}

}  // namespace zf
