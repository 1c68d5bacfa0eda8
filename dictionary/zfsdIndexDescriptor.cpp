#include "dictionary/zfsdIndexDescriptor.h"

#include <algorithm>

#include "dictionary/zfsdFileDescriptor.h"
#include "dictionary/zfsdRenumber.h"
#include "foundation/zfllConst.h"
#include "dictionary/zfsdDescriptorHelpers.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllUtils.h"

namespace zf {

int32_t zfDefaultIndexAfterChange(int32_t aDefault, int32_t aOld, int32_t aNew, int32_t aCount) {
  int32_t d = zfRenumberAfterChange(aDefault, aOld, aNew);
  if (aCount > 0 && d < 0) d = 0;
  return d;
}

// ---- Index change notifications of dictionary items ----

void TzfDictionaryItem::RegisterIndexChangeNotify() {
  if (auto* indices = FindRelated<TzfMainIndicesDescriptor>()) indices->AddIndexChangeNotify(this);
}

void TzfDictionaryItem::UnregisterIndexChangeNotify() {
  if (auto* indices = FindRelated<TzfMainIndicesDescriptor>()) indices->RemoveIndexChangeNotify(this);
}

// ---- TzfIndexDescriptor ----

const TzfIndexDescriptorClassInfo& TzfIndexDescriptor::ClassInfo() {
  static const TzfIndexDescriptorClassInfo info(
      u"TzfIndexDescriptor", &TzfDictionaryItem::ClassInfo(), &zfFamilyList<TzfIndexDescriptor>,
      [](TzfPersistent* aParent, TzfKeyDescriptorClass aKeyClass, int32_t aFileNumber,
         const UnicodeString& aName) -> TzfIndexDescriptor* {
        return new TzfIndexDescriptor(aParent, aKeyClass, aFileNumber, aName);
      });
  return info;
}

TzfIndexDescriptor::TzfIndexDescriptor(TzfPersistent* aParent, TzfKeyDescriptorClass aKeyClass, int32_t aFileNumber,
                                       const UnicodeString& aName)
    : TzfDictionaryItem(zfCheckedNameParent<EzfIndexDescriptorException>(aParent, aName, zfErrInvalidIndexName)), idName(aName), idFileNumber(aFileNumber) {
  RegisterFileChangeNotify();
  try {
    if (!aKeyClass) aKeyClass = &TzfCompKeyDescriptor::ClassInfo();
    ZF_ASSERT(aKeyClass->Create && aKeyClass->InheritsFrom(&TzfBaseKeyDescriptor::ClassInfo()), "zfsdDataDictionary");
    idKeyDescriptor.reset(dynamic_cast<TzfBaseKeyDescriptor*>(aKeyClass->Create(this)));
  } catch (...) {
    UnregisterFileChangeNotify();
    throw;
  }
}

TzfIndexDescriptor::~TzfIndexDescriptor() {
  idKeyDescriptor.reset();
  UnregisterFileChangeNotify();
}

std::unique_ptr<TzfIndexDescriptor> TzfIndexDescriptor::CreateStandalone(int32_t aNumber, const UnicodeString& aName,
                                                                         int32_t aFileNumber,
                                                                         TzfKeyDescriptorClass aKeyClass,
                                                                         TzfIndexDescriptorClass aIndexClass) {
  if (!aIndexClass) aIndexClass = &ClassInfo();
  std::unique_ptr<TzfIndexDescriptor> r(aIndexClass->CreateIndex(nullptr, aKeyClass, aFileNumber, aName));
  r->idNumber = aNumber;
  return r;
}

void TzfIndexDescriptor::SaveStandalone(TzfWriter& aWriter, int32_t aVersion) {
  aWriter.WriteString(ClassName());
  aWriter.WriteString(idKeyDescriptor->ClassName());
  aWriter.WriteInteger(idNumber);
  aWriter.WriteString(idName);
  aWriter.WriteInteger(idFileNumber);
  SaveToWriter(aWriter, aVersion);
}

std::unique_ptr<TzfIndexDescriptor> TzfIndexDescriptor::CreateStandaloneFromReader(TzfReader& aReader) {
  const UnicodeString indexClass = aReader.ReadString();
  const auto* ic = zfFindDescriptorClass<TzfIndexDescriptorClassInfo>(ClassInfo(), indexClass);
  if (!ic)
    throw EzfIndexDescriptorException(zfErrUnsupportedDescriptor, u"%s class is not supported: %s",
                                      {UnicodeString(u"IndexDescriptor"), indexClass});
  const UnicodeString keyClass = aReader.ReadString();
  const auto* kc = zfFindDescriptorClass<TzfDictionaryItemClassInfo>(TzfBaseKeyDescriptor::ClassInfo(), keyClass);
  if (!kc)
    throw EzfIndexDescriptorException(zfErrUnsupportedDescriptor, u"%s class is not supported: %s",
                                      {UnicodeString(u"KeyDescriptor"), keyClass});
  const int32_t number = aReader.ReadInteger();
  const UnicodeString name = aReader.ReadString();
  const int32_t fileNumber = aReader.ReadInteger();
  auto r = CreateStandalone(number, name, fileNumber, kc, ic);
  r->LoadFromReader(aReader);
  return r;
}

bool TzfIndexDescriptor::IsValidForTable(TzfDictionaryItem& aTable) {
  int32_t files = 0;
  if (!zfRelatedFileCount(aTable, files) || idFileNumber < 0 || idFileNumber >= files) return false;
  return idKeyDescriptor->IsValidForTable(aTable);
}

TzfFileDescriptor* TzfIndexDescriptor::GetIndexFile() {
  TzfFilesDescriptor* files = FindRelated<TzfFilesDescriptor>();
  if (!files || idFileNumber < 0 || idFileNumber >= files->FileCount) return nullptr;
  return files->FileDescriptor[static_cast<size_t>(idFileNumber)].get();
}

void TzfIndexDescriptor::SetIndexEngine(const UnicodeString& aValue) {
  CheckReadOnly();
  idIndexEngine = aValue;
}

void TzfIndexDescriptor::SetDesc(const UnicodeString& aValue) {
  CheckReadOnly();
  idDesc = aValue;
}

void TzfIndexDescriptor::SetDups(TzfIndexDups aValue) {
  CheckReadOnly();
  idDups = aValue;
}

void TzfIndexDescriptor::FileNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) {
  zfStorageFileNumberChanged(*this, idFileNumber, aBefore, aOld, aNew,
                             u"Cannot remove file %d because it is still referenced by an index");
}

void TzfIndexDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  const int32_t v = idDups == idNull ? 2 : 1;
  if (v == 2 && aClientVersion < zfVersion20400) RaiseError(zfErrIncompatibleVersion);
  aWriter.WriteInteger(v);
  aWriter.WriteString(idIndexEngine);
  aWriter.WriteString(idDesc);
  if (v == 1)
    aWriter.WriteBoolean(idDups == idAll);
  else
    aWriter.WriteInteger(static_cast<int32_t>(idDups));
  idKeyDescriptor->SaveToWriter(aWriter, aClientVersion);
}

void TzfIndexDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  const int32_t v = ReadBodyVersion(aReader, 1, 2);
  idIndexEngine = aReader.ReadString();
  idDesc = aReader.ReadString();
  if (v == 1) {
    idDups = aReader.ReadBoolean() ? idAll : idNone;
  } else {
    const int32_t dups = aReader.ReadInteger();
    // An ordinal that names no duplicates mode is a damaged stream.
    if (dups < 0 || dups > static_cast<int32_t>(idAll)) RaiseError(zfErrIncompatibleStream);
    idDups = static_cast<TzfIndexDups>(dups);
  }
  TzfDictionaryReadNesting nest(*this);
  idKeyDescriptor->LoadFromReader(aReader);
}

void TzfIndexDescriptor::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  if (zfCheckIdentifier(idName, zfErrInvalidIndexName, false, true) != 0) RaiseError(zfErrInvalidIndexName);
  zfCheckStorageFileNumber(*this, idFileNumber);
  idKeyDescriptor->CheckValid(aForBuild);
}

bool TzfIndexDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfDictionaryItem::IsEqual(aItem)) return false;
  const auto* o = zfItemAs<TzfIndexDescriptor>(aItem);
  return idName == o->idName && idDesc == o->idDesc && rtl::SameText(idIndexEngine, o->idIndexEngine) &&
         idFileNumber == o->idFileNumber && idDups == o->idDups && idKeyDescriptor->IsEqual(o->idKeyDescriptor.get());
}

// ---- TzfBaseIndicesDescriptor ----

const TzfSectionDescriptorClassInfo& TzfBaseIndicesDescriptor::ClassInfo() {
  static const TzfSectionDescriptorClassInfo info(u"TzfBaseIndicesDescriptor", &TzfDictionaryItem::ClassInfo(),
                                                  &zfFamilyList<TzfBaseIndicesDescriptor>,
                                                  &zfNewSectionDescriptor<TzfBaseIndicesDescriptor>);
  return info;
}

TzfBaseIndicesDescriptor::TzfBaseIndicesDescriptor(TzfPersistent* aParent, const std::string& aHeaderSection)
    : TzfDictionaryItem(aParent), bidHeaderSection(aHeaderSection) {}

TzfBaseIndicesDescriptor::~TzfBaseIndicesDescriptor() { ClearIndexes(false); }

TzfKeyDescriptorClass TzfBaseIndicesDescriptor::DefaultKeyClass() const { return &TzfCompKeyDescriptor::ClassInfo(); }

TzfIndexDescriptorClass TzfBaseIndicesDescriptor::DefaultIndexClass() const { return &TzfIndexDescriptor::ClassInfo(); }

void TzfBaseIndicesDescriptor::bidIndexChangeNotification(bool aBefore, int32_t aOldIndex, int32_t aNewIndex) {
  if (!bidIndexChangeNotifies) return;
  // A copy: an item may withdraw while it is told.
  const std::vector<TzfDictionaryItem*> items = *bidIndexChangeNotifies;
  for (TzfDictionaryItem* item : items) item->IndexNumberChanged(aBefore, aOldIndex, aNewIndex);
}

void TzfBaseIndicesDescriptor::AddIndexChangeNotify(TzfDictionaryItem* aItem) {
  if (!bidIndexChangeNotifies) bidIndexChangeNotifies = std::make_unique<std::vector<TzfDictionaryItem*>>();
  if (std::find(bidIndexChangeNotifies->begin(), bidIndexChangeNotifies->end(), aItem) == bidIndexChangeNotifies->end())
    bidIndexChangeNotifies->push_back(aItem);
}

void TzfBaseIndicesDescriptor::RemoveIndexChangeNotify(TzfDictionaryItem* aItem) {
  if (!bidIndexChangeNotifies) return;
  std::erase(*bidIndexChangeNotifies, aItem);
  if (bidIndexChangeNotifies->empty()) bidIndexChangeNotifies.reset();
}

void TzfBaseIndicesDescriptor::CheckIndexName(const UnicodeString& aName) const {
  if (zfCheckIdentifier(aName, zfErrInvalidIndexName, false, true) != 0) RaiseError(zfErrInvalidIndexName);
}

void TzfBaseIndicesDescriptor::Renumber(int32_t aFrom) {
  for (int32_t i = std::max(aFrom, 0); i < IndexCount(); ++i) IndexDescriptor[static_cast<size_t>(i)]->idNumber = i;
}

TzfIndexDescriptor* TzfBaseIndicesDescriptor::AddIndex(const UnicodeString& aName, int32_t aFileNumber,
                                                       TzfIndexDups aDups, const UnicodeString& aDesc,
                                                       TzfKeyDescriptorClass aKeyClass,
                                                       TzfIndexDescriptorClass aIndexClass) {
  CheckReadOnly();
  CheckIndexName(aName);
  if (GetIndexFromName(aName) >= 0) RaiseError(zfErrIndexExists, u"Duplicated index name: %s", {aName});
  int32_t files = 0;
  if (zfRelatedFileCount(*this, files) && (aFileNumber < 0 || aFileNumber >= files))
    RaiseError(zfErrInvalidDescNum, u"Invalid file number: %d", {aFileNumber});
  if (!aIndexClass) aIndexClass = DefaultIndexClass();
  if (!aKeyClass) aKeyClass = DefaultKeyClass();
  std::unique_ptr<TzfIndexDescriptor> index(aIndexClass->CreateIndex(this, aKeyClass, aFileNumber, aName));
  index->idDups = aDups;
  index->idDesc = aDesc;
  index->idNumber = IndexCount();
  TzfIndexDescriptor* r = index.get();
  IndexDescriptor.push_back(std::move(index));
  bidIndexChangeNotification(false, -1, r->idNumber);
  return r;
}

TzfIndexDescriptor* TzfBaseIndicesDescriptor::AddIndex(const UnicodeString& aName, int32_t aFileNumber, bool aDups,
                                                       const UnicodeString& aDesc, TzfKeyDescriptorClass aKeyClass,
                                                       TzfIndexDescriptorClass aIndexClass) {
  return AddIndex(aName, aFileNumber, aDups ? idAll : idNone, aDesc, aKeyClass, aIndexClass);
}

TzfIndexDescriptor* TzfBaseIndicesDescriptor::AddIndex(TzfIndexDescriptor& aSource) {
  TzfIndexDescriptor* index =
      AddIndex(aSource.idName, aSource.idFileNumber, aSource.idDups, aSource.idDesc,
               static_cast<TzfKeyDescriptorClass>(&aSource.idKeyDescriptor->ClassType()),
               static_cast<TzfIndexDescriptorClass>(&aSource.ClassType()));
  try {
    aSource.diID = index->diID;
    TzfMemoryStream ms;
    {
      TzfWriter w(ms);
      aSource.SaveToWriter(w, zfVersion30900);
      w.FlushBuffer();
    }
    ms.SetPosition(0);
    TzfReader r(ms);
    index->LoadFromReader(r);
  } catch (...) {
    RemoveIndex(index->idNumber);
    throw;
  }
  return index;
}

TzfIndexDescriptor* TzfBaseIndicesDescriptor::InsertIndexAt(int32_t aInx, const UnicodeString& aName,
                                                            int32_t aFileNumber, TzfIndexDups aDups,
                                                            const UnicodeString& aDesc, TzfKeyDescriptorClass aKeyClass,
                                                            TzfIndexDescriptorClass aIndexClass) {
  CheckReadOnly();
  CheckIndexName(aName);
  if (aInx < 0 || aInx > IndexCount()) RaiseError(zfErrInvalidDescNum, u"Index out of bounds: %d", {aInx});
  bidIndexChangeNotification(true, -1, aInx);
  TzfIndexDescriptor* index = AddIndex(aName, aFileNumber, aDups, aDesc, aKeyClass, aIndexClass);
  if (aInx < index->idNumber) {
    auto moved = std::move(IndexDescriptor.back());
    IndexDescriptor.pop_back();
    IndexDescriptor.insert(IndexDescriptor.begin() + aInx, std::move(moved));
    Renumber(aInx);
    bidIndexChangeNotification(false, -1, aInx);
  }
  return index;
}

TzfIndexDescriptor* TzfBaseIndicesDescriptor::InsertIndexAt(int32_t aInx, const UnicodeString& aName,
                                                            int32_t aFileNumber, bool aDups, const UnicodeString& aDesc,
                                                            TzfKeyDescriptorClass aKeyClass,
                                                            TzfIndexDescriptorClass aIndexClass) {
  return InsertIndexAt(aInx, aName, aFileNumber, aDups ? idAll : idNone, aDesc, aKeyClass, aIndexClass);
}

void TzfBaseIndicesDescriptor::MoveIndex(int32_t aFrom, int32_t aTo) {
  CheckReadOnly();
  if (aFrom < 0 || aFrom >= IndexCount()) RaiseError(zfErrInvalidDescNum, u"Index out of bounds: %d", {aFrom});
  if (aTo < 0 || aTo >= IndexCount()) RaiseError(zfErrInvalidDescNum, u"Index out of bounds: %d", {aTo});
  if (aFrom == aTo) return;
  bidIndexChangeNotification(true, aFrom, aTo);
  auto moved = std::move(IndexDescriptor[static_cast<size_t>(aFrom)]);
  IndexDescriptor.erase(IndexDescriptor.begin() + aFrom);
  IndexDescriptor.insert(IndexDescriptor.begin() + aTo, std::move(moved));
  Renumber(std::min(aFrom, aTo));
  bidIndexChangeNotification(false, aFrom, aTo);
}

void TzfBaseIndicesDescriptor::RemoveIndex(int32_t aInx) {
  CheckReadOnly();
  if (aInx < 0 || aInx >= IndexCount()) return;
  bidIndexChangeNotification(true, aInx, -1);
  IndexDescriptor.erase(IndexDescriptor.begin() + aInx);
  Renumber(aInx);
  bidIndexChangeNotification(false, aInx, -1);
}

void TzfBaseIndicesDescriptor::RemoveIndex(const UnicodeString& aName) {
  const int32_t i = GetIndexFromName(aName);
  if (i >= 0) RemoveIndex(i);
}

int32_t TzfBaseIndicesDescriptor::GetIndexFromName(const UnicodeString& aName) const {
  for (int32_t i = 0; i < IndexCount(); ++i)
    if (rtl::SameText(IndexDescriptor[static_cast<size_t>(i)]->idName, aName)) return i;
  return -1;
}

TzfIndexDescriptor* TzfBaseIndicesDescriptor::GetDescriptorFromName(const UnicodeString& aName) const {
  const int32_t i = GetIndexFromName(aName);
  return i < 0 ? nullptr : IndexDescriptor[static_cast<size_t>(i)].get();
}

void TzfBaseIndicesDescriptor::SetIndicesEngine(const UnicodeString& aValue) {
  CheckReadOnly();
  IndicesEngine = aValue;
}

void TzfBaseIndicesDescriptor::ClearIndexes(bool aNotify) {
  if (aNotify)
    for (int32_t n = IndexCount() - 1; n >= 0; --n) bidIndexChangeNotification(true, n, -1);
  const int32_t count = IndexCount();
  while (!IndexDescriptor.empty()) IndexDescriptor.pop_back();
  IndicesEngine = zfDefaultEngineName;
  if (aNotify)
    for (int32_t n = count - 1; n >= 0; --n) bidIndexChangeNotification(false, n, -1);
}

void TzfBaseIndicesDescriptor::Clear(bool aNotify) {
  CheckReadOnly();
  ClearIndexes(aNotify);
}

void TzfBaseIndicesDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  if (aClientVersion < zfVersion20000) RaiseError(zfErrIncompatibleVersion);
  aWriter.WriteInteger(int32_t{1});
  aWriter.WriteString(IndicesEngine);
  aWriter.WriteInteger(IndexCount());
  for (auto& index : IndexDescriptor) {
    aWriter.WriteString(index->ClassName());
    aWriter.WriteString(index->idKeyDescriptor->ClassName());
    aWriter.WriteString(index->idName);
    aWriter.WriteInteger(index->idFileNumber);
    index->SaveToWriter(aWriter, aClientVersion);
  }
}

void TzfBaseIndicesDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  ClearIndexes(false);
  IndicesEngine = aReader.ReadString();
  const int32_t count = aReader.ReadInteger();
  CheckStoredCount(aReader, count, 8);
  TzfDictionaryReadNesting nest(*this);
  for (int32_t i = 0; i < count; ++i) {
    const auto& ic = FindStoredDescriptorClass<TzfIndexDescriptorClassInfo>(TzfIndexDescriptor::ClassInfo(),
                                                                            u"IndexDescriptor", aReader.ReadString());
    const auto& kc = FindStoredDescriptorClass(TzfBaseKeyDescriptor::ClassInfo(), u"KeyDescriptor", aReader.ReadString());
    const UnicodeString name = aReader.ReadString();
    const int32_t fileNumber = aReader.ReadInteger();
    std::unique_ptr<TzfIndexDescriptor> index(ic.CreateIndex(this, &kc, fileNumber, name));
    index->idNumber = i;
    TzfIndexDescriptor* p = index.get();
    IndexDescriptor.push_back(std::move(index));
    p->LoadFromReader(aReader);
  }
}

void TzfBaseIndicesDescriptor::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  if (IndexDescriptor.empty())
    RaiseError(zfErrInvalidIndexStruct, u"IndicesDescriptor requires a minimum of one index", {});
  if (IndexCount() > zfMaxIndexes) RaiseError(zfErrTooManyIndexes);
  for (int32_t i = 0; i < IndexCount(); ++i) {
    TzfIndexDescriptor* index = IndexDescriptor[static_cast<size_t>(i)].get();
    for (int32_t j = 0; j < i; ++j)
      if (rtl::SameText(IndexDescriptor[static_cast<size_t>(j)]->idName, index->idName))
        RaiseError(zfErrNameNotUnique, u"Duplicated index name: %s", {index->idName});
    index->idNumber = i;
    index->CheckValid(aForBuild);
  }
}

bool TzfBaseIndicesDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfDictionaryItem::IsEqual(aItem)) return false;
  const auto* o = zfItemAs<TzfBaseIndicesDescriptor>(aItem);
  if (!rtl::SameText(IndicesEngine, o->IndicesEngine) || IndexCount() != o->IndexCount()) return false;
  for (size_t i = 0; i < IndexDescriptor.size(); ++i)
    if (!IndexDescriptor[i]->IsEqual(o->IndexDescriptor[i].get())) return false;
  return true;
}

// ---- TzfMainIndicesDescriptor ----

const TzfSectionDescriptorClassInfo& TzfMainIndicesDescriptor::ClassInfo() {
  static const TzfSectionDescriptorClassInfo info(u"TzfMainIndicesDescriptor", &TzfBaseIndicesDescriptor::ClassInfo(),
                                                  &zfFamilyList<TzfMainIndicesDescriptor>,
                                                  &zfNewSectionDescriptor<TzfMainIndicesDescriptor>);
  return info;
}

TzfMainIndicesDescriptor::TzfMainIndicesDescriptor(TzfPersistent* aParent, const std::string& aHeaderSection)
    : TzfBaseIndicesDescriptor(aParent, aHeaderSection) {
  SetDefaultIndex(-1);
}

void TzfMainIndicesDescriptor::SetDefaultIndex(int32_t aValue) {
  CheckReadOnly();
  if (IndexDescriptor.empty()) {
    midDefaultIndex = -1;
    return;
  }
  if (aValue < 0) aValue = 0;
  if (aValue >= IndexCount()) RaiseError(zfErrInvalidDescNum, u"Invalid default index number: %d", {aValue});
  midDefaultIndex = aValue;
}

void TzfMainIndicesDescriptor::bidIndexChangeNotification(bool aBefore, int32_t aOldIndex, int32_t aNewIndex) {
  TzfBaseIndicesDescriptor::bidIndexChangeNotification(aBefore, aOldIndex, aNewIndex);
  if (!aBefore) midDefaultIndex = zfDefaultIndexAfterChange(midDefaultIndex, aOldIndex, aNewIndex, IndexCount());
}

void TzfMainIndicesDescriptor::Clear(bool aNotify) {
  TzfBaseIndicesDescriptor::Clear(aNotify);
  SetDefaultIndex(-1);
}

void TzfMainIndicesDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfBaseIndicesDescriptor::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(int32_t{1});
  aWriter.WriteInteger(midDefaultIndex);
}

void TzfMainIndicesDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfBaseIndicesDescriptor::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  SetDefaultIndex(aReader.ReadInteger());
}

void TzfMainIndicesDescriptor::CheckValid(bool aForBuild) {
  TzfBaseIndicesDescriptor::CheckValid(aForBuild);
  if (midDefaultIndex < 0) SetDefaultIndex(0);
  if (midDefaultIndex >= IndexCount())
    RaiseError(zfErrInvalidDescNum, u"Invalid default index number: %d", {midDefaultIndex});
}

bool TzfMainIndicesDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  return TzfBaseIndicesDescriptor::IsEqual(aItem) &&
         midDefaultIndex == zfItemAs<TzfMainIndicesDescriptor>(aItem)->midDefaultIndex;
}

// ---- Unit ----

namespace {

void StartIndexDescriptors() {
  using D = TzfBaseRegisterableDescriptor;
  D::RegisterDescriptor(TzfIndexDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfBaseIndicesDescriptor::ClassInfo());
  D::RegisterDescriptor(TzfMainIndicesDescriptor::ClassInfo());
}

void StopIndexDescriptors() {
  using D = TzfBaseRegisterableDescriptor;
  D::UnregisterDescriptor(TzfMainIndicesDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfBaseIndicesDescriptor::ClassInfo());
  D::UnregisterDescriptor(TzfIndexDescriptor::ClassInfo());
}

}  // namespace

rtl::TUnitInit& zfsdIndexDescriptorUnit() {
  static rtl::TUnitInit unit("zfsdIndexDescriptor", &StartIndexDescriptors, &StopIndexDescriptors);
  return unit;
}

}  // namespace zf
