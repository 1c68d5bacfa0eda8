#include "dictionary/zfsdFileDescriptor.h"

#include <algorithm>

#include "foundation/zfllConst.h"
#include "foundation/zfllUtils.h"

namespace zf {

// ---- File change notifications of dictionary items ----

void TzfDictionaryItem::RegisterFileChangeNotify() {
  if (auto* files = FindRelated<TzfFilesDescriptor>()) files->AddFileChangeNotify(this);
}

void TzfDictionaryItem::UnregisterFileChangeNotify() {
  if (auto* files = FindRelated<TzfFilesDescriptor>()) files->RemoveFileChangeNotify(this);
}

// ---- TzfFileDescriptor ----

const TzfFileDescriptorClassInfo& TzfFileDescriptor::ClassInfo() {
  static const TzfFileDescriptorClassInfo info(u"TzfFileDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfFileDescriptor>,
                                               &zfNewFileDescriptor<TzfFileDescriptor>);
  return info;
}

TzfFileDescriptor::TzfFileDescriptor(TzfPersistent* aParent, const UnicodeString& aExtension)
    : TzfDictionaryItem(aParent), fdExtension(aExtension) {}

void TzfFileDescriptor::SetBlockSize(TzfBlockSize aValue) {
  if (aValue == fdBlockSize) return;
  CheckReadOnly();
  fdBlockSize = aValue;
}

void TzfFileDescriptor::SetBlockSizeInBytes(int32_t aValue) {
  for (uint8_t c = 0; c <= static_cast<uint8_t>(zfbsLastFileBlockSize); ++c) {
    const auto size = static_cast<TzfBlockSize>(c);
    if (static_cast<int64_t>(zfFileBlockSizeBytes(size)) == aValue) return SetBlockSize(size);
  }
  RaiseError(zfErrInvalidDesc, u"%d is not a valid BlockSize", {aValue});
}

uint32_t TzfFileDescriptor::GetUsableBlockSize() const {
  IzfDictionaryRoot* root = FindDictionaryRoot();
  if (!root)
    throw EzfDictionaryItemException(zfErrObjNotFound, u"No Parent of type %s could be found", {u"TzfDataDictionary"});
  return root->UsableBlockSize(fdBlockSize);
}

void TzfFileDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  aWriter.WriteInteger(1);
  aWriter.WriteString(fdDesc);
  aWriter.WriteInteger(static_cast<int32_t>(BlockSizeInBytes()));
  aWriter.WriteInteger(fdInitialSize);
  aWriter.WriteInteger(fdGrowSize);
}

void TzfFileDescriptor::LoadFromReader(TzfReader& aReader) {
  TzfDictionaryItem::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  fdDesc = aReader.ReadString();
  SetBlockSizeInBytes(aReader.ReadInteger());
  const TzfGrowSize initial = aReader.ReadInteger();
  const TzfGrowSize grow = aReader.ReadInteger();
  if (initial < 1 || grow < 1) rtl::RaiseRangeError();
  fdInitialSize = initial;
  fdGrowSize = grow;
}

void TzfFileDescriptor::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  const bool bad = fdNumber == 0 ? !fdExtension.empty()
                                 : zfCheckIdentifier(fdExtension, zfErrInvalidFileExt, false, true) != 0;
  if (bad) RaiseError(zfErrInvalidFileExt);
}

bool TzfFileDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfDictionaryItem::IsEqual(aItem)) return false;
  const auto* f = dynamic_cast<const TzfFileDescriptor*>(aItem);
  return f && fdExtension == f->fdExtension && fdDesc == f->fdDesc && fdBlockSize == f->fdBlockSize &&
         fdInitialSize == f->fdInitialSize && fdGrowSize == f->fdGrowSize;
}

// ---- TzfFilesDescriptor ----

const TzfDictionaryItemClassInfo& TzfFilesDescriptor::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfFilesDescriptor", &TzfDictionaryItem::ClassInfo(),
                                               &zfFamilyList<TzfFilesDescriptor>,
                                               &zfNewDictionaryItem<TzfFilesDescriptor>);
  return info;
}

TzfFilesDescriptor::~TzfFilesDescriptor() { FileDescriptor.clear(); }

void TzfFilesDescriptor::CheckExtension(const UnicodeString& aExtension, bool aMainFile) const {
  const bool bad = aMainFile ? !aExtension.empty()
                             : zfCheckIdentifier(aExtension, zfErrInvalidFileExt, false, true) != 0;
  if (bad) RaiseError(zfErrInvalidFileExt, u"Invalid file extension: \"%s\"", {aExtension});
}

void TzfFilesDescriptor::Renumber(int32_t aFrom) {
  FileCount = static_cast<int32_t>(FileDescriptor.size());
  for (int32_t i = std::max(aFrom, 0); i < FileCount; ++i) FileDescriptor[static_cast<size_t>(i)]->fdNumber = i;
}

TzfFileDescriptor* TzfFilesDescriptor::AddFile(const UnicodeString& aExtension, TzfBlockSize aBlockSize,
                                               const UnicodeString& aDesc, TzfFileDescriptorClass aClass) {
  CheckReadOnly();
  CheckExtension(aExtension, FileCount == 0);
  if (GetFileFromExt(aExtension) >= 0)
    RaiseError(zfErrNameNotUnique, u"Duplicated file extension: \"%s\"", {aExtension});
  const TzfFileDescriptorClassInfo& cls = aClass ? *aClass : TzfFileDescriptor::ClassInfo();
  std::unique_ptr<TzfFileDescriptor> file(cls.CreateFile(this, aExtension));
  file->fdDesc = aDesc;
  file->fdBlockSize = aBlockSize;
  file->fdNumber = FileCount;
  FileDescriptor.push_back(std::move(file));
  FileCount = static_cast<int32_t>(FileDescriptor.size());
  return FileDescriptor.back().get();
}

TzfFileDescriptor* TzfFilesDescriptor::InsertFileAt(int32_t aInx, const UnicodeString& aExtension,
                                                    TzfBlockSize aBlockSize, const UnicodeString& aDesc,
                                                    TzfFileDescriptorClass aClass) {
  CheckReadOnly();
  if (aInx < 0 || aInx > FileCount) RaiseError(zfErrInvalidDescNum, u"Index out of bounds: %d", {aInx});
  fidFileChangeNotification(true, -1, aInx);
  TzfFileDescriptor* file = AddFile(aExtension, aBlockSize, aDesc, aClass);
  if (aInx < file->fdNumber) {
    std::rotate(FileDescriptor.begin() + aInx, FileDescriptor.end() - 1, FileDescriptor.end());
    Renumber(aInx);
    fidFileChangeNotification(false, -1, aInx);
  }
  return file;
}

void TzfFilesDescriptor::MoveFile(int32_t aFrom, int32_t aTo) {
  CheckReadOnly();
  if (aFrom < 1 || aFrom >= FileCount) RaiseError(zfErrInvalidDescNum, u"Index out of bounds: %d", {aFrom});
  if (aTo < 1 || aTo >= FileCount) RaiseError(zfErrInvalidDescNum, u"Index out of bounds: %d", {aTo});
  if (aFrom == aTo) return;
  fidFileChangeNotification(true, aFrom, aTo);
  auto moved = std::move(FileDescriptor[static_cast<size_t>(aFrom)]);
  FileDescriptor.erase(FileDescriptor.begin() + aFrom);
  FileDescriptor.insert(FileDescriptor.begin() + aTo, std::move(moved));
  Renumber(std::min(aFrom, aTo));
  fidFileChangeNotification(false, aFrom, aTo);
}

void TzfFilesDescriptor::RenameFile(int32_t aInx, const UnicodeString& aNewExtension) {
  CheckReadOnly();
  if (aInx < 1 || aInx >= FileCount) RaiseError(zfErrInvalidDescNum, u"Index out of bounds: %d", {aInx});
  CheckExtension(aNewExtension, false);
  TzfFileDescriptor* file = FileDescriptor[static_cast<size_t>(aInx)].get();
  if (rtl::SameText(aNewExtension, file->fdExtension) || GetFileFromExt(aNewExtension) < 0)
    file->fdExtension = aNewExtension;
  else
    RaiseError(zfErrNameNotUnique, u"Duplicated file extension: \"%s\"", {aNewExtension});
}

void TzfFilesDescriptor::RenameFile(const UnicodeString& aOldExtension, const UnicodeString& aNewExtension) {
  RenameFile(GetFileFromExt(aOldExtension), aNewExtension);
}

void TzfFilesDescriptor::RemoveFile(int32_t aInx) {
  CheckReadOnly();
  if (aInx == 0) RaiseError(zfErrObjectInUse, u"Cannot remove the base file descriptor", {});
  if (aInx < 1 || aInx >= FileCount) return;
  fidFileChangeNotification(true, aInx, -1);
  auto removed = std::move(FileDescriptor[static_cast<size_t>(aInx)]);
  FileDescriptor.erase(FileDescriptor.begin() + aInx);
  Renumber(aInx);
  fidFileChangeNotification(false, aInx, -1);
}

void TzfFilesDescriptor::Clear(bool aNotify) {
  CheckReadOnly();
  const int32_t last = FileCount - 1;
  if (aNotify)
    for (int32_t i = last; i >= 0; --i) fidFileChangeNotification(true, i, -1);
  FileDescriptor.clear();
  FileCount = 0;
  if (aNotify)
    for (int32_t i = last; i >= 0; --i) fidFileChangeNotification(false, i, -1);
}

int32_t TzfFilesDescriptor::GetFileFromExt(const UnicodeString& aFileExt) const {
  for (int32_t i = 0; i < FileCount; ++i)
    if (rtl::SameText(FileDescriptor[static_cast<size_t>(i)]->fdExtension, aFileExt)) return i;
  return -1;
}

void TzfFilesDescriptor::AddFileChangeNotify(TzfDictionaryItem* aItem) {
  if (std::find(fidFileChangeNotifies.begin(), fidFileChangeNotifies.end(), aItem) == fidFileChangeNotifies.end())
    fidFileChangeNotifies.push_back(aItem);
}

void TzfFilesDescriptor::RemoveFileChangeNotify(TzfDictionaryItem* aItem) { std::erase(fidFileChangeNotifies, aItem); }

void TzfFilesDescriptor::fidFileChangeNotification(bool aBefore, int32_t aOld, int32_t aNew) {
  for (TzfDictionaryItem* item : std::vector<TzfDictionaryItem*>(fidFileChangeNotifies))
    item->FileNumberChanged(aBefore, aOld, aNew);
}

void TzfFilesDescriptor::SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) {
  TzfDictionaryItem::SaveToWriter(aWriter, aClientVersion);
  if (aClientVersion < zfVersion20000) RaiseError(zfErrIncompatibleVersion);
  aWriter.WriteInteger(1);
  aWriter.WriteInteger(FileCount);
  for (auto& f : FileDescriptor) {
    aWriter.WriteString(f->ClassName());
    aWriter.WriteString(f->fdExtension);
    f->SaveToWriter(aWriter, aClientVersion);
  }
}

void TzfFilesDescriptor::LoadFromReader(TzfReader& aReader) {
  // Smallest stored file: class name, extension, item header and body.
  constexpr int32_t kMinFileBytes = 16;
  TzfDictionaryItem::LoadFromReader(aReader);
  ReadBodyVersion(aReader, 1, 1);
  const int32_t count = aReader.ReadInteger();
  CheckStoredCount(aReader, count, kMinFileBytes);
  FileDescriptor.clear();
  FileCount = 0;
  for (int32_t i = 0; i < count; ++i) {
    const auto& cls = FindStoredDescriptorClass<TzfFileDescriptorClassInfo>(TzfFileDescriptor::ClassInfo(),
                                                                            u"FileDescriptor", aReader.ReadString());
    UnicodeString extension = aReader.ReadString();
    if (i == 0) extension.clear();
    FileDescriptor.emplace_back(cls.CreateFile(this, extension));
    FileCount = static_cast<int32_t>(FileDescriptor.size());
    TzfFileDescriptor* f = FileDescriptor.back().get();
    f->fdNumber = i;
    TzfDictionaryReadNesting nesting(*this);
    f->LoadFromReader(aReader);
  }
}

void TzfFilesDescriptor::CheckValid(bool aForBuild) {
  TzfDictionaryItem::CheckValid(aForBuild);
  if (FileCount <= 0) RaiseError(zfErrInvalidRecStruct, u"FilesDescriptor requires a minimum of one file", {});
  for (int32_t i = 0; i < FileCount; ++i) {
    TzfFileDescriptor* f = FileDescriptor[static_cast<size_t>(i)].get();
    for (int32_t j = 0; j < i; ++j)
      if (rtl::SameText(FileDescriptor[static_cast<size_t>(j)]->fdExtension, f->fdExtension))
        RaiseError(zfErrNameNotUnique, u"Duplicated file extension: \"%s\"", {f->fdExtension});
    f->fdNumber = i;
    f->CheckValid(aForBuild);
  }
}

bool TzfFilesDescriptor::IsEqual(const TzfDictionaryItem* aItem) const {
  if (!TzfDictionaryItem::IsEqual(aItem)) return false;
  const auto* o = dynamic_cast<const TzfFilesDescriptor*>(aItem);
  if (!o || FileCount != o->FileCount) return false;
  for (int32_t i = 0; i < FileCount; ++i)
    if (!FileDescriptor[static_cast<size_t>(i)]->IsEqual(o->FileDescriptor[static_cast<size_t>(i)].get()))
      return false;
  return true;
}

// ---- Unit ----

rtl::TUnitInit& zfsdFileDescriptorUnit() {
  static rtl::TUnitInit unit(
      "zfsdFileDescriptor",
      [] {
        TzfBaseRegisterableDescriptor::RegisterDescriptor(TzfFileDescriptor::ClassInfo());
        TzfBaseRegisterableDescriptor::RegisterDescriptor(TzfFilesDescriptor::ClassInfo());
      },
      [] {
        TzfBaseRegisterableDescriptor::UnregisterDescriptor(TzfFilesDescriptor::ClassInfo());
        TzfBaseRegisterableDescriptor::UnregisterDescriptor(TzfFileDescriptor::ClassInfo());
      });
  return unit;
}

}  // namespace zf
