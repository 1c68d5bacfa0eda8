// Locale descriptors and localized items.
//
// Text fields compare and convert by a locale: its numeric identifier, five comparison options,
// the code page that stores 8-bit text (which a table may override) and the version of the
// locale's sorting rules at the time the table was built, so that indexes can tell when the rules
// have changed since. A TzfLocaleDescriptor holds these settings. A TzfLocalizedDictionaryItem
// (the base of tables, fields and key fields) may own one; without one it uses the descriptor
// found up the tree, so a field normally follows its table.
//
// The "Disable30900LocaleFixes" switch (zfDisable30900LocaleFixes) turns the newer behaviour off:
// locale descriptors are written without the sorting-rules version and a build drops the
// recorded version.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "dictionary/zfsdDictionaryItem.h"
#include "foundation/zfllUtils.h"

namespace zf {

// Comparison options (the stored flag values).
inline constexpr int32_t NORM_IGNORENONSPACE = 0x00002;
inline constexpr int32_t NORM_IGNORESYMBOLS = 0x00004;
inline constexpr int32_t SORT_STRINGSORT = 0x01000;
inline constexpr int32_t NORM_IGNOREKANATYPE = 0x10000;
inline constexpr int32_t NORM_IGNOREWIDTH = 0x20000;

class TzfLocaleDescriptor;
using TzfLocaleDescriptorClass = const TzfDictionaryItemClassInfo*;

class TzfLocaleDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfLocaleDescriptorException)
 public:
  // The system default locale (2048 converted).
  explicit TzfLocaleDescriptor(TzfPersistent* aParent);
  ~TzfLocaleDescriptor() override;

  // CheckReadOnly; 0 stays 0, any other value is stored in its converted default form.
  void SetLocale(int32_t aValue);
  int32_t GetFlags() const;
  // CheckReadOnly; each option := whether its bit is set; other bits are ignored.
  void SetFlags(int32_t aValue);
  // The locale's ANSI code page; 0 without a locale. A locale the locale layer does not know
  // raises the operating-system error of the failed lookup.
  uint16_t GetCompareCodepage() const;
  uint16_t GetStorageCodepage() const;
  // True without a locale or a recorded build version, else whether the locale's current
  // sorting-rules version equals the recorded one. Safe to call from several threads.
  bool IsNLSVersionUnchanged();

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  // 10043 for a locale or storage code page the system does not have; for a build records (or,
  // with the switch set, drops) the locale's sorting-rules version.
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  int32_t ldVersion = 0;
  uint32_t ldLocale = 0;
  bool ldIgnoreKanaType = false;
  bool ldIgnoreNonSpace = false;
  bool ldIgnoreSymbols = false;
  bool ldIgnoreWidth = false;
  bool ldUseStringSort = false;
  uint16_t ldOverrideStorageCodepage = 0;
  bool ldIsDefaultStringLiteralLocale = false;  // set by the server session; not stored
  std::atomic<TzfNLSVersionInfoEx*> ldNLSVersionInfoCurrent{nullptr};  // owned
  std::unique_ptr<TzfNLSVersionInfoEx> ldNLSVersionInfoBuild;
};

class TzfLocalizedDictionaryItem : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfLocaleizedDictionaryItemException)
 public:
  explicit TzfLocalizedDictionaryItem(TzfPersistent* aParent) : TzfDictionaryItem(aParent) {}
  ~TzfLocalizedDictionaryItem() override;

  // CheckReadOnly; replaces the own locale descriptor by a new one of aLocaleClass (nullptr: the
  // default class).
  TzfLocaleDescriptor* AddLocaleDescriptor(TzfLocaleDescriptorClass aLocaleClass);
  void RemoveLocaleDescriptor();

  // The cached descriptor while the cache is active; else the own one, else the inherited one.
  virtual TzfLocaleDescriptor* GetUsedLocaleDescriptor();
  // The locale descriptor the nearest item ancestor answers with; nullptr when none.
  virtual TzfLocaleDescriptor* GetInheritedLocaleDescriptor();
  // The locale part embedded in the streams of fields and tables.
  virtual void SaveLocaleToWriter(TzfWriter& aWriter, int32_t aClientVersion);
  virtual void LoadLocaleFromReader(TzfReader& aReader);
  // The storage code page of the used locale descriptor; 0 without one.
  uint16_t GetUsedStorageCodePage();

  void ActivateCache() override;
  bool FindRelatedDescriptorOfType(const TzfRegisterableClass& aType, TzfDictionaryItem*& aDescriptor,
                                   TzfDictionaryItem* aFrom = nullptr) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  std::unique_ptr<TzfLocaleDescriptor> ldiLocaleDescriptor;
  TzfLocaleDescriptor* ldiCachedLocaleDescriptor = nullptr;
  uint16_t ldiCachedStorageCodePage = 0;
};

// Registers the locale descriptor class.
rtl::TUnitInit& zfsdLocaleDescriptorUnit();

}  // namespace zf
