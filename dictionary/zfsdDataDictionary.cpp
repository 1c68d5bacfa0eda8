#include "dictionary/zfsdDataDictionary.h"

#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdFileDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllConst.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"

namespace zf {

namespace {

constexpr const char16_t* kStreamIdent = u"ZofrinDB";
constexpr const char16_t* kDataFileDesc = u"Data/DataDict File";
constexpr const char16_t* kHigherVersionRequired = u"Higher dictionary version required";

// Kinds of a file in the old layout.
constexpr int32_t kOldFileMain = 0;
constexpr int32_t kOldFileOther = 1;
constexpr int32_t kOldFileBlob = 2;

// Bytes an old-layout entry takes at least: its class name and name (two empty strings) and the
// smallest item header. Bounds stored counts by what the stream still holds.
constexpr int32_t kMinEntryBytes = 6;

}  // namespace

// ---- Construction ----

const TzfDictionaryItemClassInfo& TzfDataDictionary::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfDataDictionary", &TzfBaseTableDescriptor::ClassInfo(), nullptr,
                                               nullptr);
  return info;
}

TzfDataDictionary::TzfDataDictionary() : TzfBaseTableDescriptor(nullptr) {
  // The table's own descriptors were made before this object was a dictionary; they take the
  // first IDs now, in the order they were made.
  for (TzfDictionaryItem* item : std::initializer_list<TzfDictionaryItem*>{
           tdFieldsDescriptor.get(), tdCustomDescsDescriptor.get(), tdTablesDescriptor.get()})
    item->diID = NextItemID();
  ddFilesDescriptor = std::make_unique<TzfFilesDescriptor>(this);
  InternalClear(false);
}

TzfDataDictionary::~TzfDataDictionary() {
  // Tear down while this is still a dictionary: descriptors that follow files find the files
  // descriptor on their way out.
  ddReadOnly = false;
  FreeOwnedDescriptors();
  ddStreamDescriptor.reset();
  ddFilesDescriptor.reset();
}

// ---- Descriptors and state ----

TzfBaseStreamDescriptor* TzfDataDictionary::AddStreamDescriptor(const TzfSectionDescriptorClassInfo* aStreamClass) {
  CheckReadOnly();
  ddStreamDescriptor.reset();
  if (!aStreamClass) aStreamClass = &TzfBaseStreamDescriptor::ClassInfo();
  ZF_ASSERT(aStreamClass->CreateSection && aStreamClass->InheritsFrom(&TzfBaseStreamDescriptor::ClassInfo()),
            "zfsdDataDictionary");
  std::unique_ptr<TzfDictionaryItem> item(aStreamClass->CreateSection(this, "Stream"));
  auto* stream = dynamic_cast<TzfBaseStreamDescriptor*>(item.get());
  ZF_ASSERT(stream != nullptr, "zfsdDataDictionary");
  item.release();
  ddStreamDescriptor.reset(stream);
  return stream;
}

void TzfDataDictionary::RemoveStreamDescriptor() {
  CheckReadOnly();
  ddStreamDescriptor.reset();
}

void TzfDataDictionary::CheckReadOnly() {
  if (ddReadOnly) RaiseError(zfErrDictionaryReadOnly);
}

void TzfDataDictionary::CheckDictionaryReadOnly() { CheckReadOnly(); }

void TzfDataDictionary::MakeReadOnly() {
  ddReadOnly = true;
  ActivateCache();
}

int32_t TzfDataDictionary::GetFileFromExt(const UnicodeString& aFileExt) const {
  return ddFilesDescriptor->GetFileFromExt(aFileExt);
}

uint32_t TzfDataDictionary::UsableBlockSize(TzfBlockSize aBlockSize) { return zfFileBlockSizeBytes(aBlockSize); }

bool TzfDataDictionary::FindRelatedDescriptorOfType(const TzfRegisterableClass& aType, TzfDictionaryItem*& aDescriptor,
                                                    TzfDictionaryItem* aFrom) {
  if (aType.InheritsFrom(&TzfFilesDescriptor::ClassInfo())) {
    aDescriptor = ddFilesDescriptor.get();
    return true;
  }
  if (aType.InheritsFrom(&TzfBaseStreamDescriptor::ClassInfo())) {
    aDescriptor = ddStreamDescriptor.get();
    return true;
  }
  return TzfBaseTableDescriptor::FindRelatedDescriptorOfType(aType, aDescriptor, aFrom);
}

void TzfDataDictionary::InternalClear(bool aEmpty) {
  ddUseByteOrderForWideString = !zfDisable30900LocaleFixes();
  ddReadOnly = false;
  ddBaseName.clear();
  TzfBaseTableDescriptor::InternalClear(aEmpty);
  DeactivateCache();
  ddFilesDescriptor->Clear(false);
  ddVersion = 3;
  ddStreamDescriptor.reset();
  HeaderSignature = zfHeaderSignature2;
  EncryptionEngine.clear();
  if (aEmpty) return;
  AddStreamDescriptor(nullptr);
  AddRecordDescriptor(nullptr);
  ddFilesDescriptor->AddFile(UnicodeString(), TzfBlockSize::zfbs4k, kDataFileDesc, nullptr);
  AddIndicesDescriptor(nullptr)->AddIndex(zfSequentialAccessIndexName, 0, idNone, zfSequentialAccessIndexName,
                                          &TzfRefKeyDescriptor::ClassInfo(), nullptr);
}

void TzfDataDictionary::AssignOnlyFields(TzfBaseTableDescriptor* aSource) {
  TzfBaseTableDescriptor::AssignOnlyFields(aSource);
  RemoveIndicesDescriptor();
}

void TzfDataDictionary::Assign(TzfPersistent* aSource) {
  CheckReadOnly();
  auto* source = dynamic_cast<TzfDataDictionary*>(aSource);
  if (!source) {
    TzfBaseTableDescriptor::Assign(aSource);
    return;
  }
  TzfMemoryStream stream(-1);
  source->WriteToStream(stream, zfEngineVersion);
  stream.SetPosition(0);
  // A copy of the name: reading resets this dictionary first, and the source may be this one.
  const UnicodeString baseName = source->ddBaseName;
  ReadFromStream(stream, baseName);
}

// ---- Checks and equality ----

void TzfDataDictionary::CheckValid(bool aForBuild) {
  if (aForBuild) {
    if (ddVersion == 1) {
      CheckReadOnly();
      ddVersion = 2;
      tdFieldsDescriptor->UpdateLogRecLenAlign();
    }
    if (ddVersion == 2) {
      CheckReadOnly();
      ddVersion = 3;
    }
    if (zfDisable30900LocaleFixes()) {
      if (ddVersion == 4) {
        CheckReadOnly();
        ddVersion = 3;
        ddUseByteOrderForWideString = false;
      }
    } else if (ddVersion == 3) {
      CheckReadOnly();
      ddVersion = 4;
      ddUseByteOrderForWideString = true;
    }
    if (HeaderSignature == zfHeaderSignature1) {
      CheckReadOnly();
      HeaderSignature = zfHeaderSignature2;
    }
  }
  if (!ddStreamDescriptor) RaiseError(zfErrInvalidDesc, u"A stream descriptor is required", {});
  ddStreamDescriptor->CheckValid(aForBuild);
  ddFilesDescriptor->CheckValid(aForBuild);
  TzfBaseTableDescriptor::CheckValid(aForBuild);
}

bool TzfDataDictionary::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfBaseTableDescriptor::IsEqual(aItem)) return false;
  const auto* other = dynamic_cast<const TzfDataDictionary*>(aItem);
  return other && rtl::SameText(EncryptionEngine, other->EncryptionEngine) &&
         zfSameNested(ddStreamDescriptor, other->ddStreamDescriptor) &&
         zfSameNested(ddFilesDescriptor, other->ddFilesDescriptor);
}

// ---- Writing ----

void TzfDataDictionary::WriteToStream(rtl::TStream& aStream, int32_t aClientVersion) {
  TzfWriter writer(aStream);
  WriteToWriter(writer, aClientVersion);
  writer.FlushBuffer();
}

void TzfDataDictionary::WriteToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  int32_t version = ddVersion;
  if (aClientVersion < zfVersion20000 && version > 2) version = 2;
  if (aClientVersion < zfVersion30900 && version > 3) version = 3;
  aWriter.WriteIdent(kStreamIdent);
  aWriter.WriteInteger(version);
  aWriter.Write(HeaderSignature.data(), static_cast<int32_t>(HeaderSignature.size()));
  aWriter.WriteString(EncryptionEngine);
  if (version >= 3)
    WriteTreeLayout(aWriter, version, aClientVersion);
  else
    WriteOldLayout(aWriter, version, aClientVersion);
  aWriter.WriteIdent(kStreamIdent);
}

void TzfDataDictionary::WriteTreeLayout(TzfWriter& aWriter, int32_t aVersion, int32_t aClientVersion) {
  if (aVersion == 4) aWriter.WriteBoolean(ddUseByteOrderForWideString);
  zfWriteDescriptorPlace(aWriter, u"StreamDescriptor", ddStreamDescriptor, aClientVersion);
  zfWriteDescriptorPlace(aWriter, u"FilesDescriptor", ddFilesDescriptor, aClientVersion);
  SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteIdent(u"CurrentID");
  aWriter.WriteInteger(ddCurrentID);
}

void TzfDataDictionary::WriteOldLayout(TzfWriter& aWriter, int32_t aVersion, int32_t aClientVersion) {
  aWriter.WriteString(ddStreamDescriptor ? ddStreamDescriptor->bsdStreamEngine : UnicodeString(zfDefaultEngineName));
  aWriter.WriteString(tdAutoIncDescriptor ? tdAutoIncDescriptor->baidAutoIncEngine
                                          : UnicodeString(zfDefaultEngineName));
  aWriter.WriteString(tdIndicesDescriptor ? tdIndicesDescriptor->IndicesEngine : UnicodeString(zfDefaultEngineName));
  zfWriteDescriptorPlace(aWriter, u"RecordDescriptor", tdRecordDescriptor, aClientVersion);
  zfWriteDescriptorPlace(aWriter, u"BlobDescriptor", tdBlobDescriptor, aClientVersion);

  TzfFilesDescriptor& files = *ddFilesDescriptor;
  aWriter.WriteIdent(u"FileDescriptor");
  aWriter.WriteInteger(files.FileCount);
  for (int32_t i = 0; i < files.FileCount; ++i) {
    TzfFileDescriptor& file = *files.FileDescriptor[static_cast<size_t>(i)];
    int32_t kind = kOldFileOther;
    if (i == 0)
      kind = kOldFileMain;
    else if (tdBlobDescriptor && tdBlobDescriptor->bbdFileNumber == i)
      kind = kOldFileBlob;
    aWriter.WriteString(file.ClassName());
    aWriter.WriteString(file.fdExtension);
    aWriter.WriteInteger(kind);
    file.SaveToWriter(aWriter, aClientVersion);
  }

  // The old layout has no place for a table locale or the newer field types.
  if (ldiLocaleDescriptor) RaiseError(zfErrIncompatibleStream, kHigherVersionRequired, {});
  TzfFieldsDescriptor& fields = *tdFieldsDescriptor;
  aWriter.WriteIdent(u"FieldDescriptor");
  aWriter.WriteInteger(fields.FieldCount);
  for (int32_t i = 0; i < fields.FieldCount; ++i) {
    TzfFieldDescriptor& field = *fields.FieldDescriptor[static_cast<size_t>(i)];
    if (field.fdType == zftGuid || field.fdType == zftBCD || field.fdType == zftFmtBCD)
      RaiseError(zfErrIncompatibleStream, kHigherVersionRequired, {});
    aWriter.WriteString(field.ClassName());
    aWriter.WriteString(field.fdName);
    aWriter.WriteString(field.fdDesc);
    aWriter.WriteString(zfFieldTypeEnumName(field.fdType));
    aWriter.WriteInteger(field.fdUnits);
    aWriter.WriteInteger(field.fdDecPl);
    aWriter.WriteBoolean(field.fdRequired);
    field.SaveToWriter(aWriter, aClientVersion);
  }

  aWriter.WriteIdent(u"IndexDescriptor");
  aWriter.WriteInteger(tdIndicesDescriptor ? tdIndicesDescriptor->IndexCount() : 0);
  if (tdIndicesDescriptor)
    for (const auto& index : tdIndicesDescriptor->IndexDescriptor) {
      aWriter.WriteString(index->ClassName());
      aWriter.WriteString(index->idKeyDescriptor->ClassName());
      aWriter.WriteString(index->idName);
      aWriter.WriteInteger(index->idFileNumber);
      index->SaveToWriter(aWriter, aClientVersion);
    }
  aWriter.WriteInteger(tdIndicesDescriptor ? tdIndicesDescriptor->midDefaultIndex : -1);
  aWriter.WriteInteger(fields.fsdLogRecLen);
  if (aVersion == 2) aWriter.WriteInteger(fields.fsdLogRecLenAlign);

  TzfCustomDescsDescriptor& customs = *tdCustomDescsDescriptor;
  aWriter.WriteIdent(u"CustomDescriptor");
  aWriter.WriteInteger(customs.CustomCount());
  for (const auto& custom : customs.CustomDescriptor) {
    aWriter.WriteString(custom->ClassName());
    aWriter.WriteString(custom->bcdName);
    custom->SaveToWriter(aWriter, aClientVersion);
  }
}

// ---- Reading ----

void TzfDataDictionary::ReadFromStream(rtl::TStream& aStream, const UnicodeString& aBaseName) {
  InternalClear(true);
  try {
    ddBaseName = aBaseName;
    {
      TzfReader reader(aStream);
      ReadFromReader(reader);
    }
    CheckValid(false);
  } catch (const EzfBaseException&) {
    InternalClear(false);
    throw;
  } catch (const rtl::Exception&) {
    // The value reader refuses a value of the wrong kind, or one running past the end of the
    // stream, with a stream error that carries no code, and a few descriptors check stored
    // markers as consistency checks: either way the stream is damaged.
    InternalClear(false);
    RaiseError(zfErrIncompatibleStream);
  } catch (...) {
    InternalClear(false);
    throw;
  }
}

void TzfDataDictionary::ReadFromReader(TzfReader& aReader) {
  CheckReadOnly();
  zfReadExpectedIdent(*this, aReader, kStreamIdent);
  ddVersion = ReadBodyVersion(aReader, 1, 4);
  aReader.Read(HeaderSignature.data(), static_cast<int32_t>(HeaderSignature.size()));
  EncryptionEngine = aReader.ReadString();
  RemoveStreamDescriptor();
  ddUseByteOrderForWideString = false;
  if (ddVersion >= 3)
    ReadTreeLayout(aReader);
  else
    ReadOldLayout(aReader);
  zfReadExpectedIdent(*this, aReader, kStreamIdent);
}

void TzfDataDictionary::ReadTreeLayout(TzfReader& aReader) {
  if (ddVersion == 4) ddUseByteOrderForWideString = ReadStoredBoolean(aReader);
  zfReadExpectedIdent(*this, aReader, u"StreamDescriptor");
  if (ReadStoredBoolean(aReader)) {
    const auto& cls = FindStoredDescriptorClass<TzfSectionDescriptorClassInfo>(
        TzfBaseStreamDescriptor::ClassInfo(), u"StreamDescriptor", aReader.ReadString());
    AddStreamDescriptor(&cls)->LoadFromReader(aReader);
  }
  zfReadExpectedIdent(*this, aReader, u"FilesDescriptor");
  if (!ReadStoredBoolean(aReader)) RaiseError(zfErrIncompatibleStream);
  const auto& filesClass =
      FindStoredDescriptorClass(TzfFilesDescriptor::ClassInfo(), u"FilesDescriptor", aReader.ReadString());
  if (&filesClass != &ddFilesDescriptor->ClassType()) RaiseError(zfErrIncompatibleStream);
  ddFilesDescriptor->LoadFromReader(aReader);
  LoadFromReader(aReader);
  zfReadExpectedIdent(*this, aReader, u"CurrentID");
  ddCurrentID = aReader.ReadInteger();
}

void TzfDataDictionary::ReadOldLayout(TzfReader& aReader) {
  AddStreamDescriptor(nullptr)->SetStreamEngine(aReader.ReadString());
  AddAutoIncDescriptor(nullptr)->SetAutoIncEngine(aReader.ReadString());
  TzfMainIndicesDescriptor* indices = AddIndicesDescriptor(nullptr);
  indices->SetIndicesEngine(aReader.ReadString());

  zfReadExpectedIdent(*this, aReader, u"RecordDescriptor");
  if (ReadStoredBoolean(aReader)) {
    const auto& cls = FindStoredDescriptorClass<TzfSectionDescriptorClassInfo>(
        TzfBaseRecordDescriptor::ClassInfo(), u"RecordDescriptor", aReader.ReadString());
    AddRecordDescriptor(&cls)->LoadFromReader(aReader);
  } else {
    AddRecordDescriptor(nullptr);
  }
  zfReadExpectedIdent(*this, aReader, u"BlobDescriptor");
  if (ReadStoredBoolean(aReader)) {
    const auto& cls = FindStoredDescriptorClass<TzfSectionDescriptorClassInfo>(TzfBaseBlobDescriptor::ClassInfo(),
                                                                               u"BlobDescriptor", aReader.ReadString());
    AddBlobDescriptor(&cls)->LoadFromReader(aReader);
  } else {
    AddBlobDescriptor(nullptr);
  }

  // Files: class, extension, kind and part each.
  zfReadExpectedIdent(*this, aReader, u"FileDescriptor");
  const int32_t fileCount = aReader.ReadInteger();
  CheckStoredCount(aReader, fileCount, kMinEntryBytes);
  TzfFilesDescriptor& files = *ddFilesDescriptor;
  files.Clear(false);
  for (int32_t i = 0; i < fileCount; ++i) {
    const auto& cls = FindStoredDescriptorClass<TzfFileDescriptorClassInfo>(TzfFileDescriptor::ClassInfo(),
                                                                            u"FileDescriptor", aReader.ReadString());
    UnicodeString extension = aReader.ReadString();
    const int32_t kind = aReader.ReadInteger();
    if (kind == kOldFileMain) {
      if (i != 0) RaiseError(zfErrIncompatibleStream);
      extension.clear();
    }
    std::unique_ptr<TzfFileDescriptor> made(cls.CreateFile(&files, extension));
    made->fdNumber = i;
    TzfFileDescriptor* file = made.get();
    files.FileDescriptor.push_back(std::move(made));
    files.FileCount = static_cast<int32_t>(files.FileDescriptor.size());
    if (kind == kOldFileBlob && tdBlobDescriptor) {
      if (tdBlobDescriptor->bbdFileNumber != 0 && tdBlobDescriptor->bbdFileNumber != i)
        RaiseError(zfErrInvalidDesc, u"A BLOB file has already been defined", {});
      tdBlobDescriptor->bbdFileNumber = i;
    }
    file->LoadFromReader(aReader);
  }

  // Fields: as in the fields descriptor's own part, without its header and validations.
  zfReadExpectedIdent(*this, aReader, u"FieldDescriptor");
  const int32_t fieldCount = aReader.ReadInteger();
  CheckStoredCount(aReader, fieldCount, kMinEntryBytes);
  TzfFieldsDescriptor& fields = *tdFieldsDescriptor;
  for (int32_t i = 0; i < fieldCount; ++i) {
    const auto& cls = FindStoredDescriptorClass<TzfFieldDescriptorClassInfo>(TzfFieldDescriptor::ClassInfo(),
                                                                             u"FieldDescriptor", aReader.ReadString());
    const UnicodeString name = aReader.ReadString();
    const UnicodeString desc = aReader.ReadString();
    TzfFieldType type = zftBoolean;
    if (!zfFieldTypeFromEnumName(aReader.ReadString(), type)) RaiseError(zfErrIncompatibleStream);
    const int32_t units = aReader.ReadInteger();
    const int32_t decPl = aReader.ReadInteger();
    const bool required = ReadStoredBoolean(aReader);
    std::unique_ptr<TzfFieldDescriptor> field(cls.CreateField(&fields, name, desc, type, units, decPl, required));
    field->fdNumber = i;
    TzfFieldDescriptor* p = field.get();
    fields.FieldDescriptor.push_back(std::move(field));
    fields.FieldCount = static_cast<int32_t>(fields.FieldDescriptor.size());
    TzfDictionaryReadNesting nesting(*this);
    p->LoadFromReader(aReader);
  }

  // Indexes: index class, key class, name and file number, then the index's part.
  zfReadExpectedIdent(*this, aReader, u"IndexDescriptor");
  const int32_t indexCount = aReader.ReadInteger();
  if (indexCount > 0) CheckStoredCount(aReader, indexCount, kMinEntryBytes);
  for (int32_t i = 0; i < indexCount; ++i) {
    const auto& ic = FindStoredDescriptorClass<TzfIndexDescriptorClassInfo>(TzfIndexDescriptor::ClassInfo(),
                                                                            u"IndexDescriptor", aReader.ReadString());
    const auto& kc =
        FindStoredDescriptorClass(TzfBaseKeyDescriptor::ClassInfo(), u"KeyDescriptor", aReader.ReadString());
    const UnicodeString name = aReader.ReadString();
    const int32_t fileNumber = aReader.ReadInteger();
    std::unique_ptr<TzfIndexDescriptor> index(ic.CreateIndex(indices, &kc, fileNumber, name));
    index->idNumber = i;
    TzfIndexDescriptor* p = index.get();
    indices->IndexDescriptor.push_back(std::move(index));
    TzfDictionaryReadNesting nesting(*this);
    p->LoadFromReader(aReader);
  }
  indices->SetDefaultIndex(aReader.ReadInteger());
  if (indexCount <= 0) RemoveIndicesDescriptor();

  fields.fsdLogRecLen = aReader.ReadInteger();
  fields.fsdLogRecLenAlign = ddVersion == 2 ? aReader.ReadInteger() : fields.fsdLogRecLen;
  fields.CheckStoredLayout();

  // Custom descriptors: made with the dictionary itself as parent, kept in the list.
  zfReadExpectedIdent(*this, aReader, u"CustomDescriptor");
  const int32_t customCount = aReader.ReadInteger();
  CheckStoredCount(aReader, customCount, kMinEntryBytes);
  TzfCustomDescsDescriptor& customs = *tdCustomDescsDescriptor;
  for (int32_t i = 0; i < customCount; ++i) {
    const auto& cls = FindStoredDescriptorClass<TzfNamedDescriptorClassInfo>(TzfBaseCustomDescriptor::ClassInfo(),
                                                                             u"CustomDescriptor", aReader.ReadString());
    customs.CustomDescriptor.push_back(zfNewCustomDescriptor(*this, this, cls, aReader.ReadString()));
    TzfBaseCustomDescriptor* custom = customs.CustomDescriptor.back().get();
    TzfDictionaryReadNesting nesting(*this);
    custom->LoadFromReader(aReader);
  }
}

}  // namespace zf
