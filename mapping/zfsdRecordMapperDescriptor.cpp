#include "mapping/zfsdRecordMapperDescriptor.h"

#include <algorithm>
#include <numeric>

#include "dictionary/zfsdFieldsDescriptor.h"
#include "foundation/zfllConst.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllUtils.h"

namespace zf {

namespace {

std::unique_ptr<TzfBaseRecordMapperDescriptor> NewBase() { return std::make_unique<TzfBaseRecordMapperDescriptor>(); }
std::unique_ptr<TzfBaseRecordMapperDescriptor> NewRecord() { return std::make_unique<TzfRecordMapperDescriptor>(); }

[[noreturn]] void IndexError(int32_t aIndex) {
  throw rtl::EStringListError(rtl::Format(u"List index out of bounds (%d)", {aIndex}));
}

std::vector<UnicodeString> FieldNames(const TzfFieldsDescriptor& aFields) {
  std::vector<std::pair<UnicodeString, TzfFieldDescriptor*>> fields;
  aFields.GetFields(fields);
  std::vector<UnicodeString> names;
  names.reserve(fields.size());
  for (auto& f : fields) names.push_back(std::move(f.first));
  return names;
}

void StartUnit() { TzfBaseRegisterableDescriptor::RegisterDescriptor(TzfRecordMapperDescriptor::ClassInfo()); }
void StopUnit() { TzfBaseRegisterableDescriptor::UnregisterDescriptor(TzfRecordMapperDescriptor::ClassInfo()); }

}  // namespace

void zfPairByName(const std::vector<UnicodeString>& aOld, const std::vector<UnicodeString>& aNew,
                  const std::function<void(size_t, size_t)>& aPair) {
  auto sorted = [](const std::vector<UnicodeString>& aNames) {
    std::vector<size_t> order(aNames.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return rtl::CompareText(aNames[a], aNames[b]) < 0; });
    return order;
  };
  const std::vector<size_t> oldOrder = sorted(aOld);
  const std::vector<size_t> newOrder = sorted(aNew);
  size_t i = 0, j = 0;
  while (i < oldOrder.size() && j < newOrder.size()) {
    const int c = rtl::CompareText(aOld[oldOrder[i]], aNew[newOrder[j]]);
    if (c < 0) {
      ++i;
    } else if (c > 0) {
      ++j;
    } else {
      aPair(oldOrder[i++], newOrder[j++]);
    }
  }
}

// ---- TzfBaseRecordMapperDescriptor ----

const TzfRecordMapperDescriptorClass& TzfBaseRecordMapperDescriptor::ClassInfo() {
  static const TzfRecordMapperDescriptorClass info(u"TzfBaseRecordMapperDescriptor",
                                                   &TzfBaseRegisterableDescriptor::ClassInfo(), &NewBase,
                                                   &zfFamilyList<TzfBaseRecordMapperDescriptor>);
  return info;
}

void TzfBaseRecordMapperDescriptor::WriteToWriter(TzfWriter& aWriter, int32_t aClientVersion) const {
  aWriter.WriteIdent(ClassName());
  WriteData(aWriter, aClientVersion);
}

std::unique_ptr<TzfBaseRecordMapperDescriptor> TzfBaseRecordMapperDescriptor::CreateFromReader(TzfReader& aReader) {
  return zfReadMapperStream<EzfBaseRecordMapperDescriptorException>([&] {
    const auto& cls = zfReadMapperClass<TzfRecordMapperDescriptorClass, EzfBaseRecordMapperDescriptorException>(
        aReader, ClassInfo(), u"RecordMapperDescriptor");
    std::unique_ptr<TzfBaseRecordMapperDescriptor> result = cls.Create();
    result->ReadData(aReader);
    return result;
  });
}

std::unique_ptr<TzfBaseRecordMapperDescriptor> TzfBaseRecordMapperDescriptor::Duplicate() const {
  TzfMemoryStream stream;
  {
    TzfWriter writer(stream);
    WriteData(writer, zfEngineVersion);
  }
  stream.SetPosition(0);
  std::unique_ptr<TzfBaseRecordMapperDescriptor> result = RecordMapperClass().Create();
  TzfReader reader(stream);
  zfReadMapperStream<EzfBaseRecordMapperDescriptorException>([&] { result->ReadData(reader); });
  return result;
}

void TzfBaseRecordMapperDescriptor::WriteData(TzfWriter& aWriter, int32_t) const {
  aWriter.WriteInteger(zfMapperBodyVersion);
}

void TzfBaseRecordMapperDescriptor::ReadData(TzfReader& aReader) {
  zfReadMapperBodyVersion(aReader, [this](uint32_t aCode) { RaiseError(aCode); });
}

void TzfBaseRecordMapperDescriptor::RaiseError(uint32_t aErrorCode) const {
  throw EzfBaseRecordMapperDescriptorException(aErrorCode);
}

// ---- TzfRecordMapperDescriptor ----

const TzfRecordMapperDescriptorClass& TzfRecordMapperDescriptor::ClassInfo() {
  static const TzfRecordMapperDescriptorClass info(u"TzfRecordMapperDescriptor",
                                                   &TzfBaseRecordMapperDescriptor::ClassInfo(), &NewRecord);
  return info;
}

bool TzfRecordMapperDescriptor::Find(const UnicodeString& aName, int32_t& aIndex) const {
  int32_t lo = 0, hi = FieldMapperCount() - 1;
  while (lo <= hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    const int32_t c = zfLocaleCompareText(rmdFieldMapperDescriptors[mid].Key, aName);
    if (c < 0) {
      lo = mid + 1;
    } else if (c > 0) {
      hi = mid - 1;
    } else {
      aIndex = mid;
      return true;
    }
  }
  aIndex = lo;
  return false;
}

TzfFieldMapperDescriptor* TzfRecordMapperDescriptor::Enter(const UnicodeString& aKey,
                                                           std::unique_ptr<TzfFieldMapperDescriptor> aDescriptor) {
  int32_t index;
  if (Find(aKey, index)) throw rtl::EStringListError(u"String list does not allow duplicates");
  TzfFieldMapperDescriptor* result = aDescriptor.get();
  rmdFieldMapperDescriptors.insert(rmdFieldMapperDescriptors.begin() + index, {aKey, std::move(aDescriptor)});
  return result;
}

int32_t TzfRecordMapperDescriptor::IndexOrError(const UnicodeString& aTargetName) const {
  const int32_t index = FieldMapperIndexOf(aTargetName);
  if (index < 0) IndexError(index);
  return index;
}

TzfFieldMapperDescriptor* TzfRecordMapperDescriptor::AddMapping(const UnicodeString& aSourceName,
                                                                const UnicodeString& aTargetName,
                                                                TzfDataLossAction aDataLossAction,
                                                                const TzfFieldMapperDescriptorClass* aDescriptorClass) {
  const TzfFieldMapperDescriptorClass& cls = aDescriptorClass ? *aDescriptorClass : TzfFieldMapperDescriptor::ClassInfo();
  return Enter(aTargetName, cls.Create(aSourceName, aTargetName, aDataLossAction));
}

void TzfRecordMapperDescriptor::DeleteMapping(const UnicodeString& aTargetName) {
  rmdFieldMapperDescriptors.erase(rmdFieldMapperDescriptors.begin() + IndexOrError(aTargetName));
}

int32_t TzfRecordMapperDescriptor::FieldMapperIndexOf(const UnicodeString& aTargetName) const {
  int32_t index;
  return Find(aTargetName, index) ? index : -1;
}

TzfFieldMapperDescriptor* TzfRecordMapperDescriptor::FieldMapper(int32_t aIndex) const {
  if (aIndex < 0 || aIndex >= FieldMapperCount()) IndexError(aIndex);
  return rmdFieldMapperDescriptors[aIndex].Descriptor.get();
}

TzfFieldMapperDescriptor* TzfRecordMapperDescriptor::UpdateSourceName(const UnicodeString& aTargetName,
                                                                      const UnicodeString& aNewSourceName) {
  TzfFieldMapperDescriptor* d = rmdFieldMapperDescriptors[IndexOrError(aTargetName)].Descriptor.get();
  d->bfcdSourceName = aNewSourceName;
  return d;
}

TzfFieldMapperDescriptor* TzfRecordMapperDescriptor::UpdateTargetName(const UnicodeString& aOldTargetName,
                                                                      const UnicodeString& aNewTargetName) {
  const int32_t index = IndexOrError(aOldTargetName);
  TzfFieldMapperDescriptor* d = rmdFieldMapperDescriptors[index].Descriptor.get();
  if (zfLocaleCompareText(aOldTargetName, aNewTargetName) != 0) {
    // The new name is checked first, so a duplicate leaves the old entry as it was.
    int32_t at;
    if (Find(aNewTargetName, at)) throw rtl::EStringListError(u"String list does not allow duplicates");
    std::unique_ptr<TzfFieldMapperDescriptor> moved = std::move(rmdFieldMapperDescriptors[index].Descriptor);
    rmdFieldMapperDescriptors.erase(rmdFieldMapperDescriptors.begin() + index);
    Enter(aNewTargetName, std::move(moved));
  }
  d->bfcdTargetName = aNewTargetName;
  return d;
}

void TzfRecordMapperDescriptor::MapAllFieldsByName(const TzfFieldsDescriptor& aOldFields,
                                                   const TzfFieldsDescriptor& aNewFields,
                                                   TzfDataLossAction aDataLossAction) {
  const std::vector<UnicodeString> oldNames = FieldNames(aOldFields);
  const std::vector<UnicodeString> newNames = FieldNames(aNewFields);
  zfPairByName(oldNames, newNames,
               [&](size_t o, size_t n) { AddMapping(oldNames[o], newNames[n], aDataLossAction); });
}

void TzfRecordMapperDescriptor::MapAllFieldsByPosition(const TzfFieldsDescriptor& aOldFields,
                                                       const TzfFieldsDescriptor& aNewFields,
                                                       TzfDataLossAction aDataLossAction) {
  const int32_t n = std::min(aOldFields.FieldCount, aNewFields.FieldCount);
  for (int32_t i = 0; i < n; ++i)
    AddMapping(aOldFields.Field(i)->fdName, aNewFields.Field(i)->fdName, aDataLossAction);
}

void TzfRecordMapperDescriptor::WriteData(TzfWriter& aWriter, int32_t aClientVersion) const {
  TzfBaseRecordMapperDescriptor::WriteData(aWriter, aClientVersion);
  aWriter.WriteListBegin();
  for (const TzfFieldMapperEntry& e : rmdFieldMapperDescriptors) e.Descriptor->WriteToWriter(aWriter, aClientVersion);
  aWriter.WriteListEnd();
  aWriter.WriteBoolean(rmdApplyDefaultForUnmapped);
}

void TzfRecordMapperDescriptor::ReadData(TzfReader& aReader) {
  TzfBaseRecordMapperDescriptor::ReadData(aReader);
  rmdFieldMapperDescriptors.clear();
  aReader.ReadListBegin();
  // Each entry consumes bytes, so the loop ends with the stream at the latest.
  while (!aReader.EndOfList()) {
    std::unique_ptr<TzfFieldMapperDescriptor> d = TzfFieldMapperDescriptor::CreateFromReader(aReader);
    const UnicodeString key = d->bfcdTargetName;
    Enter(key, std::move(d));
  }
  aReader.ReadListEnd();
  rmdApplyDefaultForUnmapped = zfReadMapperBoolean(aReader, [this](uint32_t aCode) { RaiseError(aCode); });
}

void TzfRecordMapperDescriptor::RaiseError(uint32_t aErrorCode) const {
  throw EzfRecordMapperDescriptorException(aErrorCode);
}

rtl::TUnitInit& zfsdRecordMapperDescriptorUnit() {
  static rtl::TUnitInit unit("zfsdRecordMapperDescriptor", &StartUnit, &StopUnit);
  return unit;
}

}  // namespace zf
