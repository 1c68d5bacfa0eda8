#include "mapping/zfsdTableMapperDescriptor.h"

#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdTableDescriptor.h"
#include "foundation/zfllConst.h"
#include "foundation/zfllStreams.h"

namespace zf {

namespace {

std::unique_ptr<TzfBaseTableMapperDescriptor> NewBase() { return std::make_unique<TzfBaseTableMapperDescriptor>(); }
std::unique_ptr<TzfBaseTableMapperDescriptor> NewTable() { return std::make_unique<TzfTableMapperDescriptor>(); }

// Nesting of table mapper descriptors being read on this thread.
thread_local int32_t tReadDepth = 0;

class TReadNesting {
 public:
  TReadNesting() {
    if (tReadDepth >= zfMaxTableMapperNesting) throw EzfBaseTableMapperDescriptorException(zfErrIncompatibleStream);
    ++tReadDepth;
  }
  ~TReadNesting() { --tReadDepth; }
  TReadNesting(const TReadNesting&) = delete;
  TReadNesting& operator=(const TReadNesting&) = delete;
};

// The smallest child in a stream: an identifier tag, its length byte and one character.
constexpr int64_t kMinChildBytes = 3;

void StartUnit() {
  TzfBaseRegisterableDescriptor::RegisterDescriptor(TzfBaseTableMapperDescriptor::ClassInfo());
  TzfBaseRegisterableDescriptor::RegisterDescriptor(TzfTableMapperDescriptor::ClassInfo());
}

void StopUnit() {
  TzfBaseRegisterableDescriptor::UnregisterDescriptor(TzfTableMapperDescriptor::ClassInfo());
  TzfBaseRegisterableDescriptor::UnregisterDescriptor(TzfBaseTableMapperDescriptor::ClassInfo());
}

}  // namespace

// ---- TzfBaseTableMapperDescriptor ----

const TzfTableMapperDescriptorClass& TzfBaseTableMapperDescriptor::ClassInfo() {
  static const TzfTableMapperDescriptorClass info(u"TzfBaseTableMapperDescriptor",
                                                  &TzfBaseRegisterableDescriptor::ClassInfo(), &NewBase,
                                                  &zfFamilyList<TzfBaseTableMapperDescriptor>);
  return info;
}

TzfBaseTableMapperDescriptor::~TzfBaseTableMapperDescriptor() { Clear(); }

TzfBaseTableMapperDescriptor* TzfBaseTableMapperDescriptor::AddTable(const UnicodeString& aName,
                                                                     const TzfTableMapperDescriptorClass* aClass) {
  if (GetTableIndexFromName(aName) >= 0) {
    EzfBaseException::zfSetMessage(zfErrNameNotUnique, u"Duplicated table name: %s", {aName});
    RaiseError(zfErrNameNotUnique);
  }
  std::unique_ptr<TzfBaseTableMapperDescriptor> child = (aClass ? *aClass : ClassInfo()).Create();
  child->btmdParent = this;
  child->btmdName = aName;
  btmdTables.push_back(std::move(child));
  return btmdTables.back().get();
}

void TzfBaseTableMapperDescriptor::RemoveTable(int32_t aInx) {
  if (aInx < 0 || aInx >= TableCount()) return;
  btmdTables.erase(btmdTables.begin() + aInx);
}

void TzfBaseTableMapperDescriptor::RemoveTable(const UnicodeString& aName) { RemoveTable(GetTableIndexFromName(aName)); }

int32_t TzfBaseTableMapperDescriptor::GetTableIndexFromName(const UnicodeString& aName) const {
  for (int32_t i = 0; i < TableCount(); ++i)
    if (rtl::SameText(btmdTables[i]->btmdName, aName)) return i;
  return -1;
}

TzfBaseTableMapperDescriptor* TzfBaseTableMapperDescriptor::GetTableDescriptorFromName(const UnicodeString& aName) const {
  const int32_t i = GetTableIndexFromName(aName);
  if (i < 0) RaiseError(zfErrNoSuchTable);
  return btmdTables[i].get();
}

TzfBaseRecordMapperDescriptor* TzfBaseTableMapperDescriptor::AddRecordMapper(const TzfRecordMapperDescriptorClass* aClass) {
  btmdRecordMapper.reset();
  btmdRecordMapper = (aClass ? *aClass : TzfRecordMapperDescriptor::ClassInfo()).Create();
  return btmdRecordMapper.get();
}

void TzfBaseTableMapperDescriptor::Clear() {
  btmdRecordMapper.reset();
  btmdTables.clear();
}

void TzfBaseTableMapperDescriptor::WriteToWriter(TzfWriter& aWriter, int32_t aClientVersion) const {
  aWriter.WriteIdent(ClassName());
  WriteData(aWriter, aClientVersion);
}

std::unique_ptr<TzfBaseTableMapperDescriptor> TzfBaseTableMapperDescriptor::CreateFromReader(TzfReader& aReader) {
  return zfReadMapperStream<EzfBaseTableMapperDescriptorException>([&] {
    TReadNesting nesting;
    const auto& cls = zfReadMapperClass<TzfTableMapperDescriptorClass, EzfBaseTableMapperDescriptorException>(
        aReader, ClassInfo(), u"TableMapperDescriptor");
    std::unique_ptr<TzfBaseTableMapperDescriptor> result = cls.Create();
    result->ReadData(aReader);
    return result;
  });
}

std::unique_ptr<TzfBaseTableMapperDescriptor> TzfBaseTableMapperDescriptor::Duplicate() const {
  TzfMemoryStream stream;
  {
    TzfWriter writer(stream);
    WriteData(writer, zfEngineVersion);
  }
  stream.SetPosition(0);
  std::unique_ptr<TzfBaseTableMapperDescriptor> result = TableMapperClass().Create();
  TzfReader reader(stream);
  zfReadMapperStream<EzfBaseTableMapperDescriptorException>([&] { result->ReadData(reader); });
  return result;
}

void TzfBaseTableMapperDescriptor::WriteData(TzfWriter& aWriter, int32_t aClientVersion) const {
  aWriter.WriteInteger(zfMapperBodyVersion);
  aWriter.WriteString(btmdName);
  aWriter.WriteString(btmdMapTo);
  aWriter.WriteBoolean(btmdRecordMapper != nullptr);
  if (btmdRecordMapper) btmdRecordMapper->WriteToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(TableCount());
  for (const auto& child : btmdTables) child->WriteToWriter(aWriter, aClientVersion);
}

void TzfBaseTableMapperDescriptor::ReadData(TzfReader& aReader) {
  auto raise = [this](uint32_t aCode) { RaiseError(aCode); };
  zfReadMapperBodyVersion(aReader, raise);
  btmdName = aReader.ReadString();
  btmdMapTo = aReader.ReadString();
  Clear();
  if (zfReadMapperBoolean(aReader, raise)) btmdRecordMapper = TzfBaseRecordMapperDescriptor::CreateFromReader(aReader);
  const int32_t count = aReader.ReadInteger();
  if (count < 0 || count > aReader.BytesLeft() / kMinChildBytes) raise(zfErrIncompatibleStream);
  btmdTables.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    btmdTables.push_back(CreateFromReader(aReader));
    btmdTables.back()->btmdParent = this;
  }
}

void TzfBaseTableMapperDescriptor::RaiseError(uint32_t aErrorCode) const {
  throw EzfBaseTableMapperDescriptorException(aErrorCode);
}

// ---- TzfTableMapperDescriptor ----

const TzfTableMapperDescriptorClass& TzfTableMapperDescriptor::ClassInfo() {
  static const TzfTableMapperDescriptorClass info(u"TzfTableMapperDescriptor",
                                                  &TzfBaseTableMapperDescriptor::ClassInfo(), &NewTable);
  return info;
}

void TzfTableMapperDescriptor::MapAllTablesAndFieldsByName(TzfBaseTableDescriptor& aOldTable,
                                                           TzfBaseTableDescriptor& aNewTable,
                                                           TzfDataLossAction aDataLossAction) {
  auto* records = static_cast<TzfRecordMapperDescriptor*>(AddRecordMapper(&TzfRecordMapperDescriptor::ClassInfo()));
  records->MapAllFieldsByName(*aOldTable.tdFieldsDescriptor, *aNewTable.tdFieldsDescriptor, aDataLossAction);

  const TzfNamedItems oldTables = aOldTable.tdTablesDescriptor->GetTables();
  const TzfNamedItems newTables = aNewTable.tdTablesDescriptor->GetTables();
  std::vector<UnicodeString> oldNames, newNames;
  for (const auto& t : oldTables) oldNames.push_back(t.first);
  for (const auto& t : newTables) newNames.push_back(t.first);
  zfPairByName(oldNames, newNames, [&](size_t o, size_t n) {
    auto* child = static_cast<TzfTableMapperDescriptor*>(AddTable(oldNames[o], &TzfTableMapperDescriptor::ClassInfo()));
    child->MapAllTablesAndFieldsByName(*static_cast<TzfBaseTableDescriptor*>(oldTables[o].second),
                                       *static_cast<TzfBaseTableDescriptor*>(newTables[n].second), aDataLossAction);
  });
}

void TzfTableMapperDescriptor::WriteData(TzfWriter& aWriter, int32_t aClientVersion) const {
  TzfBaseTableMapperDescriptor::WriteData(aWriter, aClientVersion);
  aWriter.WriteInteger(zfMapperBodyVersion);
}

void TzfTableMapperDescriptor::ReadData(TzfReader& aReader) {
  TzfBaseTableMapperDescriptor::ReadData(aReader);
  zfReadMapperBodyVersion(aReader, [this](uint32_t aCode) { RaiseError(aCode); });
}

void TzfTableMapperDescriptor::RaiseError(uint32_t aErrorCode) const {
  throw EzfTableMapperDescriptorException(aErrorCode);
}

rtl::TUnitInit& zfsdTableMapperDescriptorUnit() {
  static rtl::TUnitInit unit("zfsdTableMapperDescriptor", &StartUnit, &StopUnit);
  return unit;
}

}  // namespace zf
