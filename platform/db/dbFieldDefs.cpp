#include "platform/db/dbFieldDefs.h"

#include "platform/db/dbConsts.h"
#include "platform/db/dbDataSet.h"
#include "platform/db/dbFields.h"

namespace zf::db {

std::vector<UnicodeString> ExtractFieldNames(rtl::UnicodeStringView aFields) {
  std::vector<UnicodeString> names;
  if (aFields.empty()) return names;
  for (const UnicodeString& part : rtl::SplitString(aFields, u';')) names.push_back(rtl::Trim(part));
  if (!aFields.empty() && aFields.back() == u';') names.pop_back();
  return names;
}

// ---- TFieldDef -----------------------------------------------------------------------------------

void TFieldDef::Assign(const TFieldDef& aSource) {
  FName = aSource.FName;
  FDataType = aSource.FDataType;
  FSize = aSource.FSize;
  FPrecision = aSource.FPrecision;
  FAttributes = aSource.FAttributes;
  FInternalCalcField = aSource.FInternalCalcField;
}

TField* TFieldDef::CreateField(TDataSet& aDataSet) const {
  TFieldFactory factory = aDataSet.GetFieldClass(FDataType);
  if (!factory) DatabaseErrorFmt(kSFieldAccessError, {FName, FieldTypeName(FDataType)}, &aDataSet);
  std::unique_ptr<TField> field = factory();
  field->SetFieldName(FName);
  field->SetSize(FSize);
  if (auto* bcd = dynamic_cast<TBCDField*>(field.get())) bcd->SetPrecision(FPrecision);
  if (auto* fmt = dynamic_cast<TFMTBCDField*>(field.get())) fmt->SetPrecision(FPrecision);
  field->SetFieldNo(FFieldNo);
  field->SetRequired(Required());
  field->SetReadOnly(FAttributes.Contains(faReadonly));
  if (FInternalCalcField) field->SetFieldKind(fkInternalCalc);
  return aDataSet.Fields().Add(std::move(field));
}

// ---- TFieldDefs ----------------------------------------------------------------------------------

TFieldDef& TFieldDefs::Items(int32_t aIndex) const {
  if (aIndex < 0 || aIndex >= Count()) DatabaseError(kSFieldIndexError, FDataSet);
  return *FItems[static_cast<size_t>(aIndex)];
}

TFieldDef& TFieldDefs::AddFieldDef() {
  FItems.push_back(std::make_unique<TFieldDef>(this, Count() + 1));
  return *FItems.back();
}

TFieldDef& TFieldDefs::Add(const UnicodeString& aName, TFieldType aType, int32_t aSize, bool aRequired) {
  if (IndexOf(aName) >= 0) DatabaseErrorFmt(kSDuplicateFieldName, {aName}, FDataSet);
  TFieldDef& def = AddFieldDef();
  def.SetName(aName);
  def.SetDataType(aType);
  def.SetSize(aSize);
  def.SetRequired(aRequired);
  return def;
}

int32_t TFieldDefs::IndexOf(rtl::UnicodeStringView aName) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (rtl::SameText(FItems[static_cast<size_t>(i)]->Name(), aName)) return i;
  return -1;
}

TFieldDef& TFieldDefs::Find(rtl::UnicodeStringView aName) const {
  int32_t i = IndexOf(aName);
  if (i < 0) DatabaseErrorFmt(kSFieldNotFound, {UnicodeString(aName)}, FDataSet);
  return *FItems[static_cast<size_t>(i)];
}

void TFieldDefs::Assign(const TFieldDefs& aSource) {
  if (&aSource == this) return;
  Clear();
  for (const auto& d : aSource.FItems) {
    TFieldDef& def = AddFieldDef();
    def.Assign(*d);
    def.SetFieldNo(d->FieldNo());
  }
}

void TFieldDefs::Update() {
  if (!FUpdated && FDataSet) FDataSet->InitFieldDefs();
}

// ---- TIndexDefs ----------------------------------------------------------------------------------

TIndexDef& TIndexDefs::Items(int32_t aIndex) const {
  if (aIndex < 0 || aIndex >= Count()) DatabaseError(kSFieldIndexError, FDataSet);
  return *FItems[static_cast<size_t>(aIndex)];
}

TIndexDef& TIndexDefs::AddIndexDef() {
  FItems.push_back(std::make_unique<TIndexDef>());
  return *FItems.back();
}

TIndexDef& TIndexDefs::Add(const UnicodeString& aName, const UnicodeString& aFields, TIndexOptions aOptions) {
  TIndexDef& def = AddIndexDef();
  def.SetName(aName);
  def.SetFields(aFields);
  def.SetOptions(aOptions);
  return def;
}

int32_t TIndexDefs::IndexOf(rtl::UnicodeStringView aName) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (rtl::SameText(FItems[static_cast<size_t>(i)]->Name(), aName)) return i;
  return -1;
}

TIndexDef& TIndexDefs::Find(rtl::UnicodeStringView aName) const {
  int32_t i = IndexOf(aName);
  if (i < 0) DatabaseErrorFmt(kSIndexNotFound, {UnicodeString(aName)}, FDataSet);
  return *FItems[static_cast<size_t>(i)];
}

TIndexDef* TIndexDefs::GetIndexForFields(rtl::UnicodeStringView aFields, bool aCaseInsensitive) const {
  std::vector<UnicodeString> wanted = ExtractFieldNames(aFields);
  if (wanted.empty()) return nullptr;
  TIndexDef* prefix = nullptr;
  for (const auto& def : FItems) {
    if (def->Options().Contains(ixExpression)) continue;
    if (aCaseInsensitive && !def->Options().Contains(ixCaseInsensitive)) continue;
    std::vector<UnicodeString> keys = ExtractFieldNames(def->Fields());
    if (keys.size() < wanted.size()) continue;
    bool match = true;
    for (size_t i = 0; i < wanted.size() && match; ++i) match = rtl::SameText(keys[i], wanted[i]);
    if (!match) continue;
    if (keys.size() == wanted.size()) return def.get();
    if (!prefix) prefix = def.get();
  }
  return prefix;
}

TIndexDef& TIndexDefs::FindIndexForFields(rtl::UnicodeStringView aFields) const {
  TIndexDef* def = GetIndexForFields(aFields, false);
  if (!def) DatabaseErrorFmt(kSNoIndexForFields, {UnicodeString(aFields)}, FDataSet);
  return *def;
}

void TIndexDefs::Assign(const TIndexDefs& aSource) {
  if (&aSource == this) return;
  Clear();
  for (const auto& d : aSource.FItems) AddIndexDef().Assign(*d);
}

void TIndexDefs::Update() {
  if (!FUpdated && FDataSet) FDataSet->UpdateIndexDefs();
}

}  // namespace zf::db
