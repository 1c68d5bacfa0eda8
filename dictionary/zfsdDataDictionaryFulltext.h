// Full-text descriptors.
//
// A table declares its full-text indexes in one custom descriptor named "Fulltext"
// (TzfFulltextDescriptor). Each full-text index is a small pipeline of three hubs: token
// extractors (the text of one field each), token filters (separators, case mapping, Unicode
// folding; applied in order) and token indexes (where the tokens go: bit arrays of locations
// under B*-tree keys, or keys of one of the table's own indexes). Extractors and token indexes
// may carry filter hubs of their own. Every full-text index names a location index: a unique
// index of the table over one Word32 or auto-increment field, whose value identifies a record
// inside the token storage.
//
// The full-text descriptor also owns the BLOB descriptor of the bit arrays ("Fulltext$Blob") and
// the indices descriptor of their B*-trees ("Fulltext$Indices"); the B*-tree index descriptors
// of a bit-array token index live there under the names "<full-text index>$<token index>" and
// "...$Reverse".
//
// Stream form (tagged values; each class writes its inherited part, then its version 1 and its
// fields; a version other than 1 is 15498):
//
//   TzfFulltextDescriptor        item header; 1; list of (class name, index name, location index
//                                number, index body); Boolean + [class name, body] of the BLOB
//                                descriptor; the same for the indices descriptor
//   TzfBaseFulltextDictionaryItem    item header; 1        (no locale part)
//   TzfFulltextIndexDescriptor       1; extractor hub body; filter hub body; token index hub body
//   TzfBaseFulltextIndexDictionaryItem 1
//   TzfNumberedFulltextIndexDictionaryItem 1; number (must equal the position in its hub)
//   TzfBaseTokenSourceDescriptor     1
//   TzfBaseTokenExtractorDescriptor  1; own filter hub body
//   hubs                             1; list of (listed name, class name, body)
//   TzfFieldTokenExtractorDescriptor 1; field number
//   TzfBaseTokenFilterDescriptor     1
//   TzfBaseSeparatorTokenFilterDescriptor 1; separator distance
//   TzfWideCharSeparatorTokenFilterDescriptor 1; separator character code
//   TzfCategorySeparatorTokenFilterDescriptor 1; 7 raw bytes, bit n = category ordinal n
//   locale mapping / fold-string bases 1; their Custom classes 1; flags
//   TzfBaseTokenIndexDescriptor      1; own filter hub body
//   TzfBitArrayTokenIndexDescriptor  1; MaxTokenSize; PerFieldIndex; PerLocationIndex; SegmentIndex
//   TzfMainIndexTokenIndexDescriptor 1; main index number; IgnoreCase
//   TzfBitArrayTokenKeyDescriptor    key part; 1; MaxTokenSize; PerFieldIndex; Reverse; Locale; Flags
//   TzfMainIndexTokenKeyDescriptor   key part; V; MaxTokenSize; Locale; Flags; [V = 2: IncludeLocation]
//
// A storage handler is never written: validation gives a bit-array token index that has a
// B*-tree its default handler again, and the handler gives the full-text descriptor its BLOB
// descriptor. Reading checks every class name against its family's registry (15499), every
// version and hub number (15498); the data dictionary turns any other damage into 15498.
#pragma once
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "dictionary/zfsdLocaleDescriptor.h"
#include "dictionary/zfsdStorageDescriptor.h"
#include "foundation/zfllWideString.h"

namespace zf {

class TzfBaseTableDescriptor;
class TzfFieldDescriptor;

ZF_DECLARE_ENGINE_EXCEPTION(EzfFulltextDescriptorException, EzfBaseCustomDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfTokenIndicesDescriptorException, EzfBaseIndicesDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseFulltextDictionaryItemException, EzfLocaleizedDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfFulltextIndexDescriptorException, EzfBaseFulltextDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseFulltextIndexDictionaryItemException, EzfBaseFulltextDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfNumberedFulltextIndexDictionaryItemException,
                            EzfBaseFulltextIndexDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseTokenSourceDescriptorException, EzfNumberedFulltextIndexDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseTokenExtractorDescriptorException, EzfBaseTokenSourceDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfTokenExtractorHubDescriptorException, EzfBaseTokenExtractorDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfFieldTokenExtractorDescriptorException, EzfBaseTokenExtractorDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseTokenFilterDescriptorException, EzfBaseTokenSourceDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfTokenFilterHubDescriptorException, EzfBaseTokenFilterDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseSeparatorTokenFilterDescriptorException, EzfBaseTokenFilterDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfWideCharSeparatorTokenFilterDescriptorException,
                            EzfBaseSeparatorTokenFilterDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfCategorySeparatorTokenFilterDescriptorException,
                            EzfBaseSeparatorTokenFilterDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseLocaleMappingTokenFilterDescriptorException, EzfBaseTokenFilterDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfLowercaseLocaleMappingTokenFilterDescriptorException,
                            EzfBaseLocaleMappingTokenFilterDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfUppercaseLocaleMappingTokenFilterDescriptorException,
                            EzfBaseLocaleMappingTokenFilterDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfCustomLocaleMappingTokenFilterDescriptorException,
                            EzfBaseLocaleMappingTokenFilterDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseFoldStringTokenFilterDescriptorException, EzfBaseTokenFilterDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfPreComposeFoldStringTokenFilterDescriptorException,
                            EzfBaseFoldStringTokenFilterDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfDecomposeFoldStringTokenFilterDescriptorException,
                            EzfBaseFoldStringTokenFilterDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfCustomFoldStringTokenFilterDescriptorException,
                            EzfBaseFoldStringTokenFilterDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseTokenIndexDescriptorException, EzfNumberedFulltextIndexDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfTokenIndexHubDescriptorException, EzfBaseTokenIndexDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBitArrayTokenIndexDescriptorException, EzfBaseTokenIndexDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfMainIndexTokenIndexDescriptorException, EzfBaseTokenIndexDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseBitArrayStorageHandlerDescriptorException,
                            EzfBaseFulltextIndexDictionaryItemException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfSimpleBitArrayStorageHandlerDescriptorException,
                            EzfBaseBitArrayStorageHandlerDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBitArrayTokenKeyDescriptorException, EzfBaseKeyDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfMainIndexTokenKeyDescriptorException, EzfBaseKeyDescriptorException)

class TzfFulltextIndexDescriptor;
class TzfTokenExtractorHubDescriptor;
class TzfTokenFilterHubDescriptor;
class TzfTokenIndexHubDescriptor;
class TzfBaseTokenExtractorDescriptor;
class TzfBaseTokenFilterDescriptor;
class TzfBaseTokenIndexDescriptor;
class TzfFieldTokenExtractorDescriptor;
class TzfBaseBitArrayStorageHandlerDescriptor;

// Class reference of full-text indexes, made with their location index and name.
class TzfFulltextIndexDescriptorClassInfo : public TzfDictionaryItemClassInfo {
 public:
  using TCreateIndex = TzfFulltextIndexDescriptor* (*)(TzfPersistent* aParent, int32_t aLocationIndexNumber,
                                                        const UnicodeString& aName);
  TzfFulltextIndexDescriptorClassInfo(const char16_t* aName, const TzfRegisterableClass* aParent,
                                      TzfGetListProc aGetList, TCreateIndex aCreate)
      : TzfDictionaryItemClassInfo(aName, aParent, aGetList, nullptr), CreateIndex(aCreate) {}
  TCreateIndex CreateIndex;
};

// The custom descriptor "Fulltext". Adding and removing full-text indexes does not ask the
// dictionary whether it is read-only; the other mutators do (15500).
class TzfFulltextDescriptor : public TzfBaseCustomDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfNamedDescriptorClassInfo, EzfFulltextDescriptorException)
 public:
  TzfFulltextDescriptor(TzfPersistent* aParent, const UnicodeString& aName) : TzfBaseCustomDescriptor(aParent, aName) {}
  ~TzfFulltextDescriptor() override;

  // Empty name: "Default"; a name already used (case ignored): 10009; nil class: the base class.
  // The constructor's checks apply (10068 name, 10004 location index).
  TzfFulltextIndexDescriptor* AddFulltextIndex(const UnicodeString& aName,
                                               const TzfFulltextIndexDescriptorClassInfo* aClass = nullptr,
                                               int32_t aLocationIndexNumber = -1);
  // An index, name or position not in the list does nothing.
  void RemoveFulltextIndex(TzfFulltextIndexDescriptor* aDescriptor);
  void RemoveFulltextIndex(int32_t aIndex);
  void RemoveFulltextIndex(const UnicodeString& aName);
  int32_t FulltextIndexCount() const { return static_cast<int32_t>(ftdFulltextIndices.size()); }
  TzfFulltextIndexDescriptor* FulltextIndex(int32_t aIndex) const;
  // nil class: TzfHeapBlobDescriptor, header section "Fulltext$Blob".
  TzfBaseBlobDescriptor* AddBlobDescriptor(const TzfSectionDescriptorClassInfo* aBlobClass = nullptr);
  void RemoveBlobDescriptor();
  // nil class: TzfTokenIndicesDescriptor, header section "Fulltext$Indices".
  TzfBaseIndicesDescriptor* AddIndicesDescriptor(const TzfSectionDescriptorClassInfo* aIndicesClass = nullptr);
  void RemoveIndicesDescriptor();
  TzfBaseIndicesDescriptor* EnsureIndicesDescriptor();

  bool FindRelatedDescriptorOfType(const TzfRegisterableClass& aType, TzfDictionaryItem*& aDescriptor,
                                   TzfDictionaryItem* aFrom = nullptr) override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  std::vector<std::unique_ptr<TzfFulltextIndexDescriptor>> ftdFulltextIndices;
  std::unique_ptr<TzfBaseBlobDescriptor> ftdBlobDescriptor;
  std::unique_ptr<TzfBaseIndicesDescriptor> ftdIndicesDescriptor;
};

// The list of the B*-trees of bit-array token indexes (a class of its own, so that lookups by
// type find it and not the table's main indices).
class TzfTokenIndicesDescriptor : public TzfBaseIndicesDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfSectionDescriptorClassInfo, EzfTokenIndicesDescriptorException)
 public:
  TzfTokenIndicesDescriptor(TzfPersistent* aParent, const std::string& aHeaderSection)
      : TzfBaseIndicesDescriptor(aParent, aHeaderSection) {}
};

class TzfBaseFulltextDictionaryItem : public TzfLocalizedDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseFulltextDictionaryItemException)
 public:
  explicit TzfBaseFulltextDictionaryItem(TzfPersistent* aParent) : TzfLocalizedDictionaryItem(aParent) {}
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
};

class TzfFulltextIndexDescriptor : public TzfBaseFulltextDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfFulltextIndexDescriptorClassInfo, EzfFulltextIndexDescriptorException)
 public:
  // aName must be an identifier (10068); a negative location index is the default one; the
  // number must pass CheckLocationIndex (10004). Registers for index-change notifications.
  TzfFulltextIndexDescriptor(TzfPersistent* aParent, int32_t aLocationIndexNumber, const UnicodeString& aName);
  ~TzfFulltextIndexDescriptor() override;

  // Negative: DefaultLocationIndex; a changed value must pass CheckLocationIndex.
  void SetLocationIndexNumber(int32_t aValue);
  TzfIndexDescriptor* LocationIndex();
  // A unique index (not idAll) of the main indices whose composite key has exactly one key field
  // of type Word32 or AutoInc.
  bool IsValidLocationIndex(int32_t aIndexNumber);
  // The main indices' default index when valid, else the lowest valid one, else -1.
  int32_t DefaultLocationIndex();
  // 10004 "Invalid location index (%d)".
  void CheckLocationIndex(int32_t aIndexNumber);
  // The field that holds a record's location (the location index's key field); nil when the
  // location index is not valid.
  TzfFieldDescriptor* LocationField();

  TzfBaseTokenExtractorDescriptor* AddTokenExtractor(const UnicodeString& aName,
                                                     TzfDictionaryItemClass aClass = nullptr);
  TzfFieldTokenExtractorDescriptor* AddFieldTokenExtractor(int32_t aFieldNumber, const UnicodeString& aName = {},
                                                           TzfDictionaryItemClass aClass = nullptr);
  TzfTokenExtractorHubDescriptor* AddTokenExtractorHub(const UnicodeString& aName,
                                                       TzfDictionaryItemClass aClass = nullptr);
  void RemoveTokenExtractor(const UnicodeString& aName);
  void RemoveTokenExtractor(int32_t aIndex);
  void ClearTokenExtractor();
  TzfBaseTokenFilterDescriptor* AddTokenFilter(const UnicodeString& aName, TzfDictionaryItemClass aClass = nullptr);
  void RemoveTokenFilter(const UnicodeString& aName);
  void RemoveTokenFilter(int32_t aIndex);
  void ClearTokenFilter();
  TzfBaseTokenIndexDescriptor* AddTokenIndex(const UnicodeString& aName, TzfDictionaryItemClass aClass = nullptr);
  void RemoveTokenIndex(const UnicodeString& aName);
  void RemoveTokenIndex(int32_t aIndex);
  void ClearTokenIndex();
  int32_t TokenExtractorCount() const;
  int32_t TokenFilterCount() const;
  int32_t TokenIndexCount() const;

  void IndexNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  UnicodeString fidName;
  int32_t fidLocationIndexNumber = -1;
  std::unique_ptr<TzfTokenExtractorHubDescriptor> fidTokenExtractorHub;
  std::unique_ptr<TzfTokenFilterHubDescriptor> fidTokenFilterHub;
  std::unique_ptr<TzfTokenIndexHubDescriptor> fidTokenIndexHub;
};

class TzfBaseFulltextIndexDictionaryItem : public TzfBaseFulltextDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseFulltextIndexDictionaryItemException)
 public:
  explicit TzfBaseFulltextIndexDictionaryItem(TzfPersistent* aParent) : TzfBaseFulltextDictionaryItem(aParent) {}
  // The full-text index above this item; nil outside one.
  TzfFulltextIndexDescriptor* FulltextIndex() const { return FindParent<TzfFulltextIndexDescriptor>(); }
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
};

class TzfNumberedFulltextIndexDictionaryItem : public TzfBaseFulltextIndexDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfNumberedFulltextIndexDictionaryItemException)
 public:
  explicit TzfNumberedFulltextIndexDictionaryItem(TzfPersistent* aParent)
      : TzfBaseFulltextIndexDictionaryItem(aParent) {}
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  // An item inside a hub must read the number it was given when added (else 15498).
  void LoadFromReader(TzfReader& aReader) override;

  int32_t nfidiNumber = 0;
  bool nfidiInHub = false;  // set by the hub that lists the item
};

class TzfBaseTokenSourceDescriptor : public TzfNumberedFulltextIndexDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseTokenSourceDescriptorException)
 public:
  explicit TzfBaseTokenSourceDescriptor(TzfPersistent* aParent) : TzfNumberedFulltextIndexDictionaryItem(aParent) {}
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
};

// A hub of one family: names (case ignored, in order) with their owned items. The item's number
// is always its position.
template <class T>
struct TzfFulltextHubList {
  std::vector<std::pair<UnicodeString, std::unique_ptr<T>>> Items;
  int32_t Count() const { return static_cast<int32_t>(Items.size()); }
  int32_t IndexOfName(const UnicodeString& aName) const;
  int32_t IndexOfItem(const TzfDictionaryItem* aItem) const;
};

// ---- Token filters ----

class TzfBaseTokenFilterDescriptor : public TzfBaseTokenSourceDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseTokenFilterDescriptorException)
 public:
  explicit TzfBaseTokenFilterDescriptor(TzfPersistent* aParent) : TzfBaseTokenSourceDescriptor(aParent) {}
  // The name its filter hub lists it under; "" outside a filter hub.
  UnicodeString Name() const;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
};

class TzfTokenFilterHubDescriptor : public TzfBaseTokenFilterDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfTokenFilterHubDescriptorException)
 public:
  explicit TzfTokenFilterHubDescriptor(TzfPersistent* aParent) : TzfBaseTokenFilterDescriptor(aParent) {}
  // Empty name: "Default"; 10068 / 10009; nil class: TzfWideCharSeparatorTokenFilterDescriptor.
  TzfBaseTokenFilterDescriptor* Add(const UnicodeString& aName, TzfDictionaryItemClass aClass = nullptr);
  void Remove(TzfBaseTokenFilterDescriptor* aDescriptor);
  void Remove(const UnicodeString& aName);
  void Remove(int32_t aIndex);
  void Clear();
  int32_t Count() const { return tfhdTokenFilters.Count(); }
  TzfBaseTokenFilterDescriptor* Item(int32_t aIndex) const;
  const UnicodeString& ItemName(int32_t aIndex) const;

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  TzfFulltextHubList<TzfBaseTokenFilterDescriptor> tfhdTokenFilters;
};

class TzfBaseSeparatorTokenFilterDescriptor : public TzfBaseTokenFilterDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseSeparatorTokenFilterDescriptorException)
 public:
  explicit TzfBaseSeparatorTokenFilterDescriptor(TzfPersistent* aParent) : TzfBaseTokenFilterDescriptor(aParent) {}
  void SetSeparatorDistance(int32_t aValue);
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  int32_t bstfsSeparatorDistance = 1;
};

class TzfWideCharSeparatorTokenFilterDescriptor : public TzfBaseSeparatorTokenFilterDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfWideCharSeparatorTokenFilterDescriptorException)
 public:
  explicit TzfWideCharSeparatorTokenFilterDescriptor(TzfPersistent* aParent)
      : TzfBaseSeparatorTokenFilterDescriptor(aParent) {}
  void SetSeparatorChar(char16_t aValue);
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  char16_t wcstfsSeparatorChar = u' ';
};

// The default separator categories: spaces, line and paragraph separators, opening, closing and
// other punctuation, quotes, segment separators, white space and other spaces (connector and dash
// punctuation are not separators).
TzfCharacterCategories zfDefaultSeparatorCategories();
// The 7 stored bytes of a category set (bit n = ordinal n), and back (bits above 54 dropped).
void zfCategoriesToBytes(TzfCharacterCategories aSet, uint8_t aBytes[7]);
TzfCharacterCategories zfCategoriesFromBytes(const uint8_t aBytes[7]);

class TzfCategorySeparatorTokenFilterDescriptor : public TzfBaseSeparatorTokenFilterDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfCategorySeparatorTokenFilterDescriptorException)
 public:
  explicit TzfCategorySeparatorTokenFilterDescriptor(TzfPersistent* aParent)
      : TzfBaseSeparatorTokenFilterDescriptor(aParent), cstfsSeparatorCategories(zfDefaultSeparatorCategories()) {}
  void SetSeparatorCategories(TzfCharacterCategories aValue);
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  TzfCharacterCategories cstfsSeparatorCategories;
};

class TzfBaseLocaleMappingTokenFilterDescriptor : public TzfBaseTokenFilterDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseLocaleMappingTokenFilterDescriptorException)
 public:
  explicit TzfBaseLocaleMappingTokenFilterDescriptor(TzfPersistent* aParent) : TzfBaseTokenFilterDescriptor(aParent) {}
  // The locale-mapping flags the filter applies.
  virtual uint32_t Flags() const = 0;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
};

class TzfLowercaseLocaleMappingTokenFilterDescriptor : public TzfBaseLocaleMappingTokenFilterDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfLowercaseLocaleMappingTokenFilterDescriptorException)
 public:
  using TzfBaseLocaleMappingTokenFilterDescriptor::TzfBaseLocaleMappingTokenFilterDescriptor;
  uint32_t Flags() const override { return 0x100; }
};

class TzfUppercaseLocaleMappingTokenFilterDescriptor : public TzfBaseLocaleMappingTokenFilterDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfUppercaseLocaleMappingTokenFilterDescriptorException)
 public:
  using TzfBaseLocaleMappingTokenFilterDescriptor::TzfBaseLocaleMappingTokenFilterDescriptor;
  uint32_t Flags() const override { return 0x200; }
};

class TzfCustomLocaleMappingTokenFilterDescriptor : public TzfBaseLocaleMappingTokenFilterDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfCustomLocaleMappingTokenFilterDescriptorException)
 public:
  using TzfBaseLocaleMappingTokenFilterDescriptor::TzfBaseLocaleMappingTokenFilterDescriptor;
  uint32_t Flags() const override { return clmtfdFlags; }
  void SetFlags(uint32_t aValue);
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  uint32_t clmtfdFlags = 0;
};

class TzfBaseFoldStringTokenFilterDescriptor : public TzfBaseTokenFilterDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseFoldStringTokenFilterDescriptorException)
 public:
  explicit TzfBaseFoldStringTokenFilterDescriptor(TzfPersistent* aParent) : TzfBaseTokenFilterDescriptor(aParent) {}
  // The fold-string flags the filter applies.
  virtual uint32_t Flags() const = 0;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
};

class TzfPreComposeFoldStringTokenFilterDescriptor : public TzfBaseFoldStringTokenFilterDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfPreComposeFoldStringTokenFilterDescriptorException)
 public:
  using TzfBaseFoldStringTokenFilterDescriptor::TzfBaseFoldStringTokenFilterDescriptor;
  uint32_t Flags() const override { return 0x20; }
};

class TzfDecomposeFoldStringTokenFilterDescriptor : public TzfBaseFoldStringTokenFilterDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfDecomposeFoldStringTokenFilterDescriptorException)
 public:
  using TzfBaseFoldStringTokenFilterDescriptor::TzfBaseFoldStringTokenFilterDescriptor;
  uint32_t Flags() const override { return 0x40; }
};

class TzfCustomFoldStringTokenFilterDescriptor : public TzfBaseFoldStringTokenFilterDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfCustomFoldStringTokenFilterDescriptorException)
 public:
  using TzfBaseFoldStringTokenFilterDescriptor::TzfBaseFoldStringTokenFilterDescriptor;
  uint32_t Flags() const override { return cfstfdFlags; }
  void SetFlags(uint32_t aValue);
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  uint32_t cfstfdFlags = 0;
};

// An extractor or token index with a filter hub of its own: its filters apply to its tokens
// only. The add, remove and clear operations ask the dictionary first (15500); the stream part is
// version 1 and the hub's body.
template <class TBase>
class TzfOwnFilterHubItem : public TBase {
 public:
  explicit TzfOwnFilterHubItem(TzfPersistent* aParent)
      : TBase(aParent), ofhTokenFilterHub(std::make_unique<TzfTokenFilterHubDescriptor>(this)) {}
  ~TzfOwnFilterHubItem() override { ofhTokenFilterHub.reset(); }

  TzfBaseTokenFilterDescriptor* AddTokenFilter(const UnicodeString& aName, TzfDictionaryItemClass aClass = nullptr) {
    this->CheckReadOnly();
    return ofhTokenFilterHub->Add(aName, aClass);
  }
  void RemoveTokenFilter(TzfBaseTokenFilterDescriptor* aDescriptor) {
    this->CheckReadOnly();
    ofhTokenFilterHub->Remove(aDescriptor);
  }
  void RemoveTokenFilter(const UnicodeString& aName) {
    this->CheckReadOnly();
    ofhTokenFilterHub->Remove(aName);
  }
  void RemoveTokenFilter(int32_t aIndex) {
    this->CheckReadOnly();
    ofhTokenFilterHub->Remove(aIndex);
  }
  void ClearTokenFilter() {
    this->CheckReadOnly();
    ofhTokenFilterHub->Clear();
  }

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override {
    TBase::SaveToWriter(aWriter, aClientVersion);
    aWriter.WriteInteger(1);
    ofhTokenFilterHub->SaveToWriter(aWriter, aClientVersion);
  }
  void LoadFromReader(TzfReader& aReader) override {
    TBase::LoadFromReader(aReader);
    this->ReadBodyVersion(aReader, 1, 1);
    TzfDictionaryReadNesting nesting(*this);
    ofhTokenFilterHub->LoadFromReader(aReader);
  }
  void CheckValid(bool aForBuild) override {
    TBase::CheckValid(aForBuild);
    ofhTokenFilterHub->CheckValid(aForBuild);
  }
  bool IsEqual(const TzfDictionaryItem* aItem) const override {
    const auto* other = dynamic_cast<const TzfOwnFilterHubItem*>(aItem);
    return other && TBase::IsEqual(aItem) && ofhTokenFilterHub->IsEqual(other->ofhTokenFilterHub.get());
  }

 protected:
  std::unique_ptr<TzfTokenFilterHubDescriptor> ofhTokenFilterHub;
};

// ---- Token extractors ----

class TzfBaseTokenExtractorDescriptor : public TzfOwnFilterHubItem<TzfBaseTokenSourceDescriptor> {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseTokenExtractorDescriptorException)
 public:
  explicit TzfBaseTokenExtractorDescriptor(TzfPersistent* aParent) : TzfOwnFilterHubItem(aParent) {}
  // The name its extractor hub lists it under; "" outside one.
  UnicodeString Name() const;

  std::unique_ptr<TzfTokenFilterHubDescriptor>& btedTokenFilterHub = ofhTokenFilterHub;
};

class TzfTokenExtractorHubDescriptor : public TzfBaseTokenExtractorDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfTokenExtractorHubDescriptorException)
 public:
  explicit TzfTokenExtractorHubDescriptor(TzfPersistent* aParent) : TzfBaseTokenExtractorDescriptor(aParent) {}
  ~TzfTokenExtractorHubDescriptor() override;
  // The name must be an identifier (10068; no default name); 10009; nil class:
  // TzfFieldTokenExtractorDescriptor.
  TzfBaseTokenExtractorDescriptor* Add(const UnicodeString& aName, TzfDictionaryItemClass aClass = nullptr);
  // aName trimmed; empty: the field's name (9999 "Invalid field number: %d" outside the fields).
  TzfFieldTokenExtractorDescriptor* AddFieldTokenExtractor(int32_t aFieldNumber, const UnicodeString& aName = {},
                                                           TzfDictionaryItemClass aClass = nullptr);
  TzfTokenExtractorHubDescriptor* AddTokenExtractorHub(const UnicodeString& aName,
                                                       TzfDictionaryItemClass aClass = nullptr);
  void Remove(TzfBaseTokenExtractorDescriptor* aDescriptor);
  void Remove(const UnicodeString& aName);
  void Remove(int32_t aIndex);
  void Clear();
  int32_t Count() const { return tehdTokenExtractors.Count(); }
  TzfBaseTokenExtractorDescriptor* Item(int32_t aIndex) const;
  const UnicodeString& ItemName(int32_t aIndex) const;

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  TzfFulltextHubList<TzfBaseTokenExtractorDescriptor> tehdTokenExtractors;
};

class TzfFieldTokenExtractorDescriptor : public TzfBaseTokenExtractorDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfFieldTokenExtractorDescriptorException)
 public:
  // Registers for field-change notifications.
  explicit TzfFieldTokenExtractorDescriptor(TzfPersistent* aParent);
  ~TzfFieldTokenExtractorDescriptor() override;
  // Unchanged: nothing; other than -1 must lie inside the related fields (9999).
  void SetFieldNumber(int32_t aValue);
  // nil for a negative number or without fields.
  TzfFieldDescriptor* Field();

  void FieldNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  int32_t ftedFieldNumber = -1;
};

// ---- Token indexes ----

class TzfBaseTokenIndexDescriptor : public TzfOwnFilterHubItem<TzfNumberedFulltextIndexDictionaryItem> {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseTokenIndexDescriptorException)
 public:
  explicit TzfBaseTokenIndexDescriptor(TzfPersistent* aParent) : TzfOwnFilterHubItem(aParent) {}
  // The name its token index hub lists it under; "" outside one.
  UnicodeString Name() const;

  std::unique_ptr<TzfTokenFilterHubDescriptor>& btidTokenFilterHub = ofhTokenFilterHub;
};

class TzfTokenIndexHubDescriptor : public TzfBaseTokenIndexDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfTokenIndexHubDescriptorException)
 public:
  explicit TzfTokenIndexHubDescriptor(TzfPersistent* aParent) : TzfBaseTokenIndexDescriptor(aParent) {}
  ~TzfTokenIndexHubDescriptor() override;
  // Empty name: "Default"; 10068 / 10009; nil class: TzfBitArrayTokenIndexDescriptor.
  TzfBaseTokenIndexDescriptor* Add(const UnicodeString& aName, TzfDictionaryItemClass aClass = nullptr);
  void Remove(TzfBaseTokenIndexDescriptor* aDescriptor);
  void Remove(const UnicodeString& aName);
  void Remove(int32_t aIndex);
  void Clear();
  int32_t Count() const { return tihdTokenIndexes.Count(); }
  TzfBaseTokenIndexDescriptor* Item(int32_t aIndex) const;
  const UnicodeString& ItemName(int32_t aIndex) const;

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  TzfFulltextHubList<TzfBaseTokenIndexDescriptor> tihdTokenIndexes;
};

// Tokens kept as bit arrays of locations, one per token (and optionally field and segment of
// 524288 locations), in BLOBs found through a B*-tree (and optionally a reversed one).
class TzfBitArrayTokenIndexDescriptor : public TzfBaseTokenIndexDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBitArrayTokenIndexDescriptorException)
 public:
  explicit TzfBitArrayTokenIndexDescriptor(TzfPersistent* aParent) : TzfBaseTokenIndexDescriptor(aParent) {}
  // Removes both B*-trees.
  ~TzfBitArrayTokenIndexDescriptor() override;

  // Replaces the forward B*-tree "<full-text index>$<name>" in the token indices (added when
  // absent); the key takes PerFieldIndex and MaxTokenSize from here and the locale and
  // comparison flags of the used locale descriptor.
  TzfIndexDescriptor* AddIndex(int32_t aFileNumber, TzfKeyDescriptorClass aKeyClass = nullptr,
                               TzfIndexDescriptorClass aIndexClass = nullptr);
  // The same under "...$Reverse", with a reversing key.
  TzfIndexDescriptor* AddReverseIndex(int32_t aFileNumber, TzfKeyDescriptorClass aKeyClass = nullptr,
                                      TzfIndexDescriptorClass aIndexClass = nullptr);
  void RemoveIndex();
  void RemoveReverseIndex();
  TzfIndexDescriptor* IndexDescriptor();
  TzfIndexDescriptor* ReverseIndexDescriptor();
  // "<full-text index>$<name>[$<suffix>]".
  UnicodeString IndexName(const UnicodeString& aSuffix = {}) const;
  TzfBaseBitArrayStorageHandlerDescriptor* AddBitArrayStorageHandler(TzfDictionaryItemClass aHandlerClass = nullptr);
  void RemoveBitArrayStorageHandler();

  // Clamped to 1 .. 1024.
  void SetMaxTokenSize(int32_t aValue);
  void SetPerFieldIndex(bool aValue);
  void SetPerLocationIndex(bool aValue);
  void SetSegmentIndex(bool aValue);

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  std::unique_ptr<TzfBaseBitArrayStorageHandlerDescriptor> batidBitArrayStorageHandler;
  int32_t batidMaxTokenSize = 20;
  bool batidPerFieldIndex = false;
  bool batidPerLocationIndex = true;
  bool batidSegmentIndex = false;

 private:
  TzfIndexDescriptor* AddTree(const UnicodeString& aName, int32_t aFileNumber, TzfKeyDescriptorClass aKeyClass,
                              TzfIndexDescriptorClass aIndexClass, bool aReverse);
  void RemoveTree(const UnicodeString& aName);
  TzfIndexDescriptor* FindTree(const UnicodeString& aName);
};

// Tokens kept as keys (token, optionally location) of one of the table's main indexes.
class TzfMainIndexTokenIndexDescriptor : public TzfBaseTokenIndexDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfMainIndexTokenIndexDescriptorException)
 public:
  explicit TzfMainIndexTokenIndexDescriptor(TzfPersistent* aParent);
  ~TzfMainIndexTokenIndexDescriptor() override;
  // Non-negative values must pass CheckMainIndex.
  void SetMainIndexNumber(int32_t aValue);
  void SetIgnoreCase(bool aValue);
  TzfIndexDescriptor* MainIndex();
  // 9997 outside the main indices; 10004 "Index must use a TzfMainIndexTokenIndexKeyDescriptor".
  void CheckMainIndex(int32_t aIndexNumber);

  void IndexNumberChanged(bool aBefore, int32_t aOld, int32_t aNew) override;
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  int32_t mitidMainIndexNumber = -1;
  bool mitidIgnoreCase = true;
};

// ---- Storage handlers ----

class TzfBaseBitArrayStorageHandlerDescriptor : public TzfBaseFulltextIndexDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseBitArrayStorageHandlerDescriptorException)
 public:
  explicit TzfBaseBitArrayStorageHandlerDescriptor(TzfPersistent* aParent)
      : TzfBaseFulltextIndexDictionaryItem(aParent) {}
};

// Bit arrays are BLOBs of the full-text descriptor's BLOB descriptor (added by validation).
class TzfSimpleBitArrayStorageHandlerDescriptor : public TzfBaseBitArrayStorageHandlerDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfSimpleBitArrayStorageHandlerDescriptorException)
 public:
  explicit TzfSimpleBitArrayStorageHandlerDescriptor(TzfPersistent* aParent)
      : TzfBaseBitArrayStorageHandlerDescriptor(aParent) {}
  void CheckValid(bool aForBuild) override;
};

// ---- Token key descriptors ----

// Key: segment word, counted token of up to MaxTokenSize units, optional field word.
class TzfBitArrayTokenKeyDescriptor : public TzfBaseKeyDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBitArrayTokenKeyDescriptorException)
 public:
  explicit TzfBitArrayTokenKeyDescriptor(TzfPersistent* aParent) : TzfBaseKeyDescriptor(aParent) {}
  // 2 * MaxTokenSize + 4, plus 2 per field.
  int32_t GetKeyLength() override { return 2 * batkdMaxTokenSize + 4 + (batkdPerFieldIndex ? 2 : 0); }
  bool CanContainNulls() override { return false; }
  void SetMaxTokenSize(int32_t aValue);
  void SetPerFieldIndex(bool aValue);
  void SetReverse(bool aValue);
  void SetLocale(uint32_t aValue);
  void SetFlags(uint32_t aValue);
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;

  int32_t batkdMaxTokenSize = 20;
  bool batkdPerFieldIndex = false;
  bool batkdReverse = false;
  uint32_t batkdLocale = 0;
  uint32_t batkdFlags = 0;
};

// Key: counted token of up to MaxTokenSize units, optional 32-bit location at the end.
class TzfMainIndexTokenKeyDescriptor : public TzfBaseKeyDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfMainIndexTokenKeyDescriptorException)
 public:
  explicit TzfMainIndexTokenKeyDescriptor(TzfPersistent* aParent) : TzfBaseKeyDescriptor(aParent) {}
  // 2 * MaxTokenSize + 2, plus 4 with the location.
  int32_t GetKeyLength() override { return 2 * mitkdMaxTokenSize + 2 + (mitkdIncludeLocation ? 4 : 0); }
  bool CanContainNulls() override { return false; }
  void SetMaxTokenSize(int32_t aValue);
  void SetIncludeLocation(bool aValue);
  void SetLocale(uint32_t aValue);
  void SetFlags(uint32_t aValue);
  // Version 2 (with the location flag) needs a client of 20700 or later (12039).
  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;

  int32_t mitkdMaxTokenSize = 20;
  bool mitkdIncludeLocation = false;
  uint32_t mitkdLocale = 0;
  uint32_t mitkdFlags = 0;
};

// The table's custom descriptor "Fulltext" (case ignored); nil when absent; another class: 15499.
TzfFulltextDescriptor* zfFindFulltextDescriptor(TzfBaseTableDescriptor& aTableDescriptor);
// The table's "Fulltext" descriptor, added when absent.
TzfFulltextDescriptor* zfEnsureFulltextDescriptor(TzfBaseTableDescriptor& aTableDescriptor);

rtl::TUnitInit& zfsdDataDictionaryFulltextUnit();

}  // namespace zf
