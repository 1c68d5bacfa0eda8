// File descriptors: the files a table is stored in.
//
// File 0 is the table's main file (its extension is the table extension itself, so the
// descriptor's extension is empty); further files are named by an extension of their own. A
// file's position in the files descriptor is its file number, which index, BLOB, record and
// auto-increment descriptors store. The files descriptor keeps the numbers dense and tells
// registered items before and after files are inserted, moved or removed.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "dictionary/zfsdDictionaryItem.h"

namespace zf {

// Block size of a file: 4096 shl the code.
enum class TzfBlockSize : uint8_t { zfbs4k, zfbs8k, zfbs16k, zfbs32k, zfbs64k };
inline constexpr TzfBlockSize zfbsLastFileBlockSize = TzfBlockSize::zfbs64k;
constexpr uint32_t zfFileBlockSizeBytes(TzfBlockSize aSize) { return 4096u << static_cast<uint8_t>(aSize); }

// Initial and grow sizes: 1 .. 2147483647.
using TzfGrowSize = int32_t;

class TzfFileDescriptor;

// Class info of file descriptors: the virtual constructor with the extension.
class TzfFileDescriptorClassInfo : public TzfDictionaryItemClassInfo {
 public:
  using TCreateFile = TzfFileDescriptor* (*)(TzfPersistent* aParent, const UnicodeString& aExtension);
  TzfFileDescriptorClassInfo(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                             TCreateFile aCreateFile)
      : TzfDictionaryItemClassInfo(aName, aParent, aGetList, nullptr), CreateFile(aCreateFile) {}
  TCreateFile CreateFile;
};
using TzfFileDescriptorClass = const TzfFileDescriptorClassInfo*;

template <class T>
TzfFileDescriptor* zfNewFileDescriptor(TzfPersistent* aParent, const UnicodeString& aExtension) {
  return new T(aParent, aExtension);
}

class TzfFileDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfFileDescriptorClassInfo, EzfFileDescriptorException)
 public:
  // Initial size 4, grow size 1, 4 KB blocks.
  TzfFileDescriptor(TzfPersistent* aParent, const UnicodeString& aExtension);

  // When different from the current size: CheckReadOnly, then store.
  void SetBlockSize(TzfBlockSize aValue);
  uint32_t BlockSizeInBytes() const { return zfFileBlockSizeBytes(fdBlockSize); }
  // The block size of aValue bytes; any other count raises 10004 "%d is not a valid BlockSize".
  void SetBlockSizeInBytes(int32_t aValue);
  // The usable bytes per block of the owning dictionary (8712 outside one).
  uint32_t GetUsableBlockSize() const;

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  UnicodeString fdExtension;
  UnicodeString fdDesc;
  TzfBlockSize fdBlockSize = TzfBlockSize::zfbs4k;
  TzfGrowSize fdInitialSize = 4;
  TzfGrowSize fdGrowSize = 1;
  int32_t fdNumber = 0;
};

using TzfFilesDescriptorClass = const TzfDictionaryItemClassInfo*;

class TzfFilesDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfFilesDescriptorException)
 public:
  explicit TzfFilesDescriptor(TzfPersistent* aParent) : TzfDictionaryItem(aParent) {}
  ~TzfFilesDescriptor() override;

  TzfFileDescriptor* AddFile(const UnicodeString& aExtension, TzfBlockSize aBlockSize, const UnicodeString& aDesc,
                             TzfFileDescriptorClass aClass);
  TzfFileDescriptor* InsertFileAt(int32_t aInx, const UnicodeString& aExtension, TzfBlockSize aBlockSize,
                                  const UnicodeString& aDesc, TzfFileDescriptorClass aClass);
  // File 0 neither moves nor is displaced.
  void MoveFile(int32_t aFrom, int32_t aTo);
  void RenameFile(int32_t aInx, const UnicodeString& aNewExtension);
  void RenameFile(const UnicodeString& aOldExtension, const UnicodeString& aNewExtension);
  // 15502 for file 0; a number outside the other files does nothing.
  void RemoveFile(int32_t aInx);
  virtual void Clear(bool aNotify);
  // The first file with the extension (case ignored); -1 when none.
  int32_t GetFileFromExt(const UnicodeString& aFileExt) const;

  void AddFileChangeNotify(TzfDictionaryItem* aItem);
  void RemoveFileChangeNotify(TzfDictionaryItem* aItem);
  void fidFileChangeNotification(bool aBefore, int32_t aOld, int32_t aNew);

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  std::vector<TzfDictionaryItem*> fidFileChangeNotifies;  // not owning, in registration order
  std::vector<std::unique_ptr<TzfFileDescriptor>> FileDescriptor;
  int32_t FileCount = 0;

 private:
  void CheckExtension(const UnicodeString& aExtension, bool aMainFile) const;
  void Renumber(int32_t aFrom);
};

// Registers the file and files descriptor classes.
rtl::TUnitInit& zfsdFileDescriptorUnit();

}  // namespace zf
