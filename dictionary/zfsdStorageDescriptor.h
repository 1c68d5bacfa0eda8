// Storage descriptors: which sub-engine keeps each kind of a table's data, and in which file.
//
// The record descriptor (with its heap and record compression), the BLOB descriptor (with its
// heap), the auto-increment descriptor, the stream descriptor of the named streams, and named
// custom descriptors that other units extend. Each holds the name of its engine, which the
// sub-engine registries of the storage layer resolve ("zf1xDefault" names the default engines,
// "Smart" the default record compression); those that need a file hold its number in the table's
// files descriptor and follow it when files are inserted, moved or removed.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "dictionary/zfsdDictionaryItem.h"

namespace zf {

// Engine name of every default sub-engine, and of the default record compression.
inline constexpr const char16_t* zfDefaultEngineName = u"zf1xDefault";
inline constexpr const char16_t* zfDefaultRecordCompressionEngineName = u"Smart";

// Class reference of the descriptors made with the name of their file-header section ("Record",
// "Blob", "AutoInc", "Stream"); the section name is given by the owner and never stored.
class TzfSectionDescriptorClassInfo : public TzfDictionaryItemClassInfo {
 public:
  using TCreateSection = TzfDictionaryItem* (*)(TzfPersistent* aParent, const std::string& aHeaderSection);
  TzfSectionDescriptorClassInfo(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                                TCreateSection aCreate)
      : TzfDictionaryItemClassInfo(aName, aParent, aGetList, nullptr), CreateSection(aCreate) {}
  TCreateSection CreateSection;
};

template <class T>
TzfDictionaryItem* zfNewSectionDescriptor(TzfPersistent* aParent, const std::string& aHeaderSection) {
  return new T(aParent, aHeaderSection);
}

// Class reference of the descriptors made with their name (custom descriptors, validations).
class TzfNamedDescriptorClassInfo : public TzfDictionaryItemClassInfo {
 public:
  using TCreateNamed = TzfDictionaryItem* (*)(TzfPersistent* aParent, const UnicodeString& aName);
  TzfNamedDescriptorClassInfo(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                               TCreateNamed aCreate)
      : TzfDictionaryItemClassInfo(aName, aParent, aGetList, nullptr), CreateNamed(aCreate) {}
  TCreateNamed CreateNamed;
};

// The number of files of aItem's related files descriptor; false when there is none.
bool zfRelatedFileCount(TzfDictionaryItem& aItem, int32_t& aCount);

// ---- Heaps ----

class TzfBaseBlockHeapDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseBlockHeapDescriptorException)
 public:
  explicit TzfBaseBlockHeapDescriptor(TzfPersistent* aParent) : TzfDictionaryItem(aParent) {}
  void SetBlockHeapEngine(const UnicodeString& aValue);
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  UnicodeString bbhdBlockHeapEngine = zfDefaultEngineName;
};

class TzfBaseHeapDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseHeapDescriptorException)
 public:
  explicit TzfBaseHeapDescriptor(TzfPersistent* aParent) : TzfDictionaryItem(aParent) {}
  ~TzfBaseHeapDescriptor() override;
  // Replaces the block heap descriptor by a new one of aClass (nullptr: the base class).
  TzfBaseBlockHeapDescriptor* AddBlockHeapDescriptor(TzfDictionaryItemClass aClass = nullptr);
  void RemoveBlockHeapDescriptor();
  void SetHeapEngine(const UnicodeString& aValue);

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  UnicodeString bhdHeapEngine = zfDefaultEngineName;
  std::unique_ptr<TzfBaseBlockHeapDescriptor> bhdBlockHeapDescriptor;
};

// ---- Records ----

class TzfBaseRecordCompressionDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseRecordCompressionDescriptorException)
 public:
  explicit TzfBaseRecordCompressionDescriptor(TzfPersistent* aParent) : TzfDictionaryItem(aParent) {}
  void SetRecordCompressionEngine(const UnicodeString& aValue);
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  UnicodeString brcdRecordCompressionEngine = zfDefaultRecordCompressionEngineName;
};

// Shared by the record, BLOB and auto-increment descriptors, which each keep a file number:
// the range check of a new number (9999 "Invalid file number: %d" when a files descriptor is
// related and has no such file) and following a renumbering of the files, refusing the removal
// of the file in use (15502 with aInUseFormat).
void zfCheckStorageFileNumber(const TzfDictionaryItem& aItem, int32_t aValue);
void zfStorageFileNumberChanged(const TzfDictionaryItem& aItem, int32_t& aFileNumber, bool aBefore, int32_t aOld,
                                int32_t aNew, const char16_t* aInUseFormat);

class TzfBaseRecordDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfSectionDescriptorClassInfo, EzfBaseRecordDescriptorException)
 public:
  TzfBaseRecordDescriptor(TzfPersistent* aParent, const std::string& aHeaderSection);
  ~TzfBaseRecordDescriptor() override;
  void SetFileNumber(int32_t aValue);
  void SetRecordEngine(const UnicodeString& aValue);
  void FileNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) override;
  void CheckValid(bool aForBuild) override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  int32_t brdFileNumber = 0;
  UnicodeString brdRecordEngine = zfDefaultEngineName;
  std::string brdHeaderSection;
};

class TzfHeapRecordDescriptor : public TzfBaseRecordDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfSectionDescriptorClassInfo, EzfHeapRecordDescriptorException)
 public:
  TzfHeapRecordDescriptor(TzfPersistent* aParent, const std::string& aHeaderSection)
      : TzfBaseRecordDescriptor(aParent, aHeaderSection) {}
  ~TzfHeapRecordDescriptor() override;
  TzfBaseHeapDescriptor* AddHeapDescriptor(TzfDictionaryItemClass aClass = nullptr);
  void RemoveHeapDescriptor();
  TzfBaseRecordCompressionDescriptor* AddRecordCompressionDescriptor(TzfDictionaryItemClass aClass = nullptr);
  void RemoveRecordCompressionDescriptor();

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  std::unique_ptr<TzfBaseHeapDescriptor> hrdHeapDescriptor;
  std::unique_ptr<TzfBaseRecordCompressionDescriptor> hrdRecordCompressionDescriptor;
};

// ---- BLOBs ----

class TzfBaseBlobDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfSectionDescriptorClassInfo, EzfBaseBlobDescriptorException)
 public:
  TzfBaseBlobDescriptor(TzfPersistent* aParent, const std::string& aHeaderSection);
  ~TzfBaseBlobDescriptor() override;
  void SetFileNumber(int32_t aValue);
  void SetBlobEngine(const UnicodeString& aValue);
  void FileNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) override;
  void CheckValid(bool aForBuild) override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  int32_t bbdFileNumber = 0;
  UnicodeString bbdBlobEngine = zfDefaultEngineName;
  std::string bbdHeaderSection;
};

class TzfHeapBlobDescriptor : public TzfBaseBlobDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfSectionDescriptorClassInfo, EzfHeapBlobDescriptorException)
 public:
  TzfHeapBlobDescriptor(TzfPersistent* aParent, const std::string& aHeaderSection)
      : TzfBaseBlobDescriptor(aParent, aHeaderSection) {}
  ~TzfHeapBlobDescriptor() override;
  TzfBaseHeapDescriptor* AddHeapDescriptor(TzfDictionaryItemClass aClass = nullptr);
  void RemoveHeapDescriptor();

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  std::unique_ptr<TzfBaseHeapDescriptor> hbdHeapDescriptor;
};

// ---- Custom descriptors ----

class TzfBaseCustomDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfNamedDescriptorClassInfo, EzfBaseCustomDescriptorException)
 public:
  // The name must be an identifier (10068) before anything else happens.
  TzfBaseCustomDescriptor(TzfPersistent* aParent, const UnicodeString& aName);
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  UnicodeString bcdName;
};

// ---- Auto-increment ----

class TzfBaseAutoIncDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfSectionDescriptorClassInfo, EzfBaseAutoIncDescriptorException)
 public:
  TzfBaseAutoIncDescriptor(TzfPersistent* aParent, const std::string& aHeaderSection);
  ~TzfBaseAutoIncDescriptor() override;
  void SetFileNumber(int32_t aValue);
  void SetAutoIncEngine(const UnicodeString& aValue);
  void FileNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) override;
  void CheckValid(bool aForBuild) override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  int32_t baidFileNumber = 0;
  UnicodeString baidAutoIncEngine = zfDefaultEngineName;
  std::string baidHeaderSection;
};

// Initial value and step of 1 .. 4294967295. A step of 0 would hand out the same value forever:
// it is refused when set, when checked and when read.
class TzfAdvAutoIncDescriptor : public TzfBaseAutoIncDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfSectionDescriptorClassInfo, EzfAdvAutoIncDescriptorException)
 public:
  TzfAdvAutoIncDescriptor(TzfPersistent* aParent, const std::string& aHeaderSection)
      : TzfBaseAutoIncDescriptor(aParent, aHeaderSection) {}
  void SetInitialValue(uint32_t aValue);
  void SetStep(uint32_t aValue);

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  uint32_t aaidInitialValue = 1;
  uint32_t aaidStep = 1;
};

// ---- Named streams ----

class TzfBaseStreamDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfSectionDescriptorClassInfo, EzfBaseStreamDescriptorException)
 public:
  TzfBaseStreamDescriptor(TzfPersistent* aParent, const std::string& aHeaderSection)
      : TzfDictionaryItem(aParent), bsdHeaderSection(aHeaderSection) {}
  void SetStreamEngine(const UnicodeString& aValue);
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  UnicodeString bsdStreamEngine = zfDefaultEngineName;
  std::string bsdHeaderSection;
};

// Registers the storage descriptor classes by name (unit start) and removes them (unit stop).
rtl::TUnitInit& zfsdStorageDescriptorUnit();

}  // namespace zf
