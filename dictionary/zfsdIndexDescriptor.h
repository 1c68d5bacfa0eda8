// Index and indices descriptors.
//
// The indices descriptor of a table holds its indexes in order, the name of the indices engine,
// the default index (main indices only) and the items that must hear when indexes are added,
// moved or removed. Each index descriptor names its index, its index engine, the file holding its
// blocks, its key descriptor and how it treats duplicate keys.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dictionary/zfsdDictionaryItem.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "dictionary/zfsdStorageDescriptor.h"

namespace zf {

class TzfIndexDescriptor;
class TzfFileDescriptor;

// Duplicate keys: none, only among keys that contain a null, all. The ordinal is stored.
enum class TzfIndexDups : uint8_t { idNone, idNull, idAll };
using enum TzfIndexDups;

// The largest number of indexes of a table.
inline constexpr int32_t zfMaxIndexes = 256;
inline constexpr const char16_t* zfSequentialAccessIndexName = u"Sequential Access Index";

// Class reference of index descriptors with their virtual constructor.
class TzfIndexDescriptorClassInfo : public TzfDictionaryItemClassInfo {
 public:
  using TCreateIndex = TzfIndexDescriptor* (*)(TzfPersistent* aParent, TzfKeyDescriptorClass aKeyClass,
                                                int32_t aFileNumber, const UnicodeString& aName);
  TzfIndexDescriptorClassInfo(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                              TCreateIndex aCreate)
      : TzfDictionaryItemClassInfo(aName, aParent, aGetList, nullptr), CreateIndex(aCreate) {}
  TCreateIndex CreateIndex;
};
using TzfIndexDescriptorClass = const TzfIndexDescriptorClassInfo*;

class TzfIndexDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfIndexDescriptorClassInfo, EzfIndexDescriptorException)
 public:
  // The name must be an identifier (10022); the key is made of aKeyClass (nullptr: composite).
  TzfIndexDescriptor(TzfPersistent* aParent, TzfKeyDescriptorClass aKeyClass, int32_t aFileNumber,
                     const UnicodeString& aName);
  ~TzfIndexDescriptor() override;
  // Without an owner, numbered aNumber.
  static std::unique_ptr<TzfIndexDescriptor> CreateStandalone(int32_t aNumber, const UnicodeString& aName,
                                                              int32_t aFileNumber, TzfKeyDescriptorClass aKeyClass,
                                                              TzfIndexDescriptorClass aIndexClass = nullptr);
  // The standalone form: class names, number, name and file number, then the index's own part.
  void SaveStandalone(TzfWriter& aWriter, int32_t aVersion);
  static std::unique_ptr<TzfIndexDescriptor> CreateStandaloneFromReader(TzfReader& aReader);

  virtual bool IsValidForTable(TzfDictionaryItem& aTable);
  // The file of the index; nullptr without a related files descriptor (or such a file).
  TzfFileDescriptor* GetIndexFile();

  void SetIndexEngine(const UnicodeString& aValue);
  void SetDesc(const UnicodeString& aValue);
  void SetDups(TzfIndexDups aValue);

  void FileNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  UnicodeString idName;
  UnicodeString idIndexEngine = zfDefaultEngineName;
  UnicodeString idDesc;
  int32_t idFileNumber;
  std::unique_ptr<TzfBaseKeyDescriptor> idKeyDescriptor;
  TzfIndexDups idDups = idNone;
  int32_t idNumber = 0;
};

class TzfBaseIndicesDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfSectionDescriptorClassInfo, EzfBaseIndicesDescriptorException)
 public:
  TzfBaseIndicesDescriptor(TzfPersistent* aParent, const std::string& aHeaderSection);
  ~TzfBaseIndicesDescriptor() override;

  virtual TzfKeyDescriptorClass DefaultKeyClass() const;
  virtual TzfIndexDescriptorClass DefaultIndexClass() const;
  // Tells every registered item (IndexNumberChanged), in registration order.
  virtual void bidIndexChangeNotification(bool aBefore, int32_t aOldIndex, int32_t aNewIndex);
  virtual void Clear(bool aNotify);

  TzfIndexDescriptor* AddIndex(const UnicodeString& aName, int32_t aFileNumber, TzfIndexDups aDups,
                               const UnicodeString& aDesc, TzfKeyDescriptorClass aKeyClass = nullptr,
                               TzfIndexDescriptorClass aIndexClass = nullptr);
  TzfIndexDescriptor* AddIndex(const UnicodeString& aName, int32_t aFileNumber, bool aDups, const UnicodeString& aDesc,
                               TzfKeyDescriptorClass aKeyClass = nullptr, TzfIndexDescriptorClass aIndexClass = nullptr);
  // A copy of aIndexDescriptor (through its stream); the source takes the copy's ID.
  TzfIndexDescriptor* AddIndex(TzfIndexDescriptor& aIndexDescriptor);
  TzfIndexDescriptor* InsertIndexAt(int32_t aInx, const UnicodeString& aName, int32_t aFileNumber, TzfIndexDups aDups,
                                    const UnicodeString& aDesc, TzfKeyDescriptorClass aKeyClass = nullptr,
                                    TzfIndexDescriptorClass aIndexClass = nullptr);
  TzfIndexDescriptor* InsertIndexAt(int32_t aInx, const UnicodeString& aName, int32_t aFileNumber, bool aDups,
                                    const UnicodeString& aDesc, TzfKeyDescriptorClass aKeyClass = nullptr,
                                    TzfIndexDescriptorClass aIndexClass = nullptr);
  void MoveIndex(int32_t aFrom, int32_t aTo);
  void RemoveIndex(int32_t aInx);
  void RemoveIndex(const UnicodeString& aName);
  int32_t GetIndexFromName(const UnicodeString& aName) const;
  TzfIndexDescriptor* GetDescriptorFromName(const UnicodeString& aName) const;
  void SetIndicesEngine(const UnicodeString& aValue);

  void AddIndexChangeNotify(TzfDictionaryItem* aItem);
  void RemoveIndexChangeNotify(TzfDictionaryItem* aItem);

  int32_t IndexCount() const { return static_cast<int32_t>(IndexDescriptor.size()); }

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  std::string bidHeaderSection;
  std::unique_ptr<std::vector<TzfDictionaryItem*>> bidIndexChangeNotifies;
  std::vector<std::unique_ptr<TzfIndexDescriptor>> IndexDescriptor;
  UnicodeString IndicesEngine = zfDefaultEngineName;

 protected:
  void CheckIndexName(const UnicodeString& aName) const;
  void Renumber(int32_t aFrom);
  void ClearIndexes(bool aNotify);
};

class TzfMainIndicesDescriptor : public TzfBaseIndicesDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfSectionDescriptorClassInfo, EzfMainIndicesDescriptorException)
 public:
  TzfMainIndicesDescriptor(TzfPersistent* aParent, const std::string& aHeaderSection);

  // -1 without indexes; a negative value becomes 0; past the last index: 9999.
  void SetDefaultIndex(int32_t aValue);

  // Keeps the default index on the same index when indexes are added, moved or removed.
  void bidIndexChangeNotification(bool aBefore, int32_t aOldIndex, int32_t aNewIndex) override;
  void Clear(bool aNotify) override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  int32_t midDefaultIndex = -1;
};

// The default index D after an index change (aOld -1: insertion at aNew; aNew -1: removal) with
// aCount indexes left.
int32_t zfDefaultIndexAfterChange(int32_t aDefault, int32_t aOld, int32_t aNew, int32_t aCount);

rtl::TUnitInit& zfsdIndexDescriptorUnit();

}  // namespace zf
