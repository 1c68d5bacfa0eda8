// Token key engines: the keys of full-text token indexes.
//
// Records are never keyed through BuildKey: the full-text engines tokenise the text and build
// each key with InternalBuildKey. M is the maximum token size in UTF-16 units; all values are
// little-endian.
//
// Bit-array token key (TzfBitArrayTokenKeyEngine), length 2M + 4, or 2M + 6 per field:
//   offset 0       2   segment number, unsigned
//   offset 2       2   number of token units c, 0 .. M
//   offset 4       2M  the c units (in reverse character order when reversing; a surrogate pair
//                      stays high then low), the rest 0
//   offset 4 + 2M  2   field number, signed (per-field keys only)
// Order: segment (unsigned), then token (empty first; with a locale the locale comparison, else
// the little-endian bytes of the units, then the count), then field (signed).
//
// Main-index token key (TzfMainIndexTokenKeyEngine), length 2M + 2, or 2M + 6 with locations:
//   offset 0       2   number of token units c, 0 .. M
//   offset 2       2M  the c units, the rest 0
//   offset 2 + 2M  4   location, unsigned 32-bit (only with locations; always the last 4 bytes)
// Order: token only (a partial length cuts both counts: a prefix search); the location never
// takes part. As a fields source the key has "Token" (and "Location").
//
// A token is cut to M units, one fewer when unit M would be a high surrogate; an empty token (or
// M = 0) is a range error.
#pragma once
#include "dictionary/zfsdDataDictionaryFulltext.h"
#include "dictionary/zfsdLocaleDescriptor.h"
#include "foundation/zfllWideString.h"
#include "index/zfsdKeyEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfBitArrayTokenKeyEngineException, EzfBaseKeyEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfMainIndexTokenKeyEngineException, EzfBaseKeyEngineException)

class TzfBitArrayTokenKeyEngine : public TzfBaseKeyEngine {
 public:
  static const TzfKeyEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  // The descriptor must be a TzfBitArrayTokenKeyDescriptor (else EInvalidCast).
  static void CheckValidFromDescriptor(TzfBaseKeyDescriptor& aDescriptor);
  explicit TzfBitArrayTokenKeyEngine(TzfBaseKeyDescriptor& aDescriptor);

  // Into a cleared key.
  void InternalBuildKey(uint16_t aSegment, const TzfWideString& aToken, int16_t aField, uint8_t* aKey);

  // No fields for filters.
  bool GetFieldForFilter(int32_t, const char*, const uint8_t*, uint16_t&, uint16_t&, bool&, const uint8_t*&,
                         uint16_t&) override {
    return false;
  }
  int32_t GetFieldFromName(const UnicodeString&) override { return -1; }
  int32_t GetFieldCount() override { return 0; }
  void GetFieldInfo(int32_t, IzfFieldInfo*& aInfo) override { aInfo = nullptr; }
  int32_t GetDataOffset() override { return 0; }

  void ClearKey(uint8_t* aKey) override;
  // 12289 "BuildKey is not supported by TzfBitArrayTokenKeyEngine".
  uint32_t BuildKey(const uint8_t* aRecord, uint8_t* aKey, int64_t aRefNr, bool aIgnoreFilter) override;
  using TzfBaseKeyEngine::CompareKey;
  int8_t CompareKey(const uint8_t* aKey1, const uint8_t* aKey2, int32_t aFieldCount, int32_t aPartialLen) override;
  // [segment, token (Null when empty), field (per field only)]; -1: the array; outside: 9999.
  rtl::Variant KeyAsVariant(const uint8_t* aKey, int32_t aField) override;

  // The token of a key, in stored order.
  TzfWideString KeyToken(const uint8_t* aKey) const;
  static uint16_t KeySegment(const uint8_t* aKey);
  int16_t KeyField(const uint8_t* aKey) const;

  bool batkePerField;
  int32_t batkeMaxTokenSize;
  bool batkeReverse;
  uint32_t batkeLocale;
  uint32_t batkeFlags;
};

class TzfMainIndexTokenKeyEngine : public TzfBaseKeyEngine {
 public:
  static const TzfKeyEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  static void CheckValidFromDescriptor(TzfBaseKeyDescriptor& aDescriptor);
  explicit TzfMainIndexTokenKeyEngine(TzfBaseKeyDescriptor& aDescriptor);
  ~TzfMainIndexTokenKeyEngine() override;

  // Into a cleared key.
  void InternalBuildKey(const TzfWideString& aToken, uint32_t aLocation, uint8_t* aKey);

  bool GetFieldForFilter(int32_t aField, const char* aName, const uint8_t* aData, uint16_t& aType, uint16_t& aSize,
                         bool& aIsNull, const uint8_t*& aValue, uint16_t& aCodePage) override;
  int32_t GetFieldFromName(const UnicodeString& aName) override;
  int32_t GetFieldCount() override { return mitkeIncludeLocation ? 2 : 1; }
  void GetFieldInfo(int32_t aIndex, IzfFieldInfo*& aInfo) override;
  int32_t GetDataOffset() override { return 0; }
  // The full-text engines alone write these keys.
  bool SupportsReindex() const override { return false; }

  void ClearKey(uint8_t* aKey) override;
  // 1: no record has a key of its own in such an index.
  uint32_t BuildKey(const uint8_t* aRecord, uint8_t* aKey, int64_t aRefNr, bool aIgnoreFilter) override;
  using TzfBaseKeyEngine::CompareKey;
  int8_t CompareKey(const uint8_t* aKey1, const uint8_t* aKey2, int32_t aFieldCount, int32_t aPartialLen) override;
  int8_t CompareKey(const uint8_t* aKey1, const uint8_t* aKey2) override { return CompareKey(aKey1, aKey2, 0, 0); }
  // -1 or 0: the token (Null when empty); 1 with locations: the location; else 9999.
  rtl::Variant KeyAsVariant(const uint8_t* aKey, int32_t aField) override;

  TzfWideString KeyToken(const uint8_t* aKey) const;
  uint32_t KeyLocation(const uint8_t* aKey) const;

  int32_t mitkeMaxTokenSize;
  bool mitkeIncludeLocation;
  uint32_t mitkeLocale;
  uint32_t mitkeFlags;
  std::unique_ptr<TzfLocaleDescriptor> mitkeLocaleDescriptor;

 private:
  struct TFieldInfo : IzfFieldInfo {
    TFieldInfo(TzfMainIndexTokenKeyEngine& aOwner, bool aLocation) : Owner(aOwner), Location(aLocation) {}
    UnicodeString GetName() override { return Location ? u"Location" : u"Token"; }
    TzfFieldType GetFieldType() override { return Location ? zftAutoInc : zftWideString; }
    int32_t GetUnits() override { return Location ? 4 : Owner.mitkeMaxTokenSize; }
    int32_t GetDecPl() override { return 0; }
    TzfLocaleDescriptor* GetLocale() override { return Owner.mitkeLocaleDescriptor.get(); }
    uint16_t GetStorageCodePage() override { return 0; }
    TzfMainIndexTokenKeyEngine& Owner;
    bool Location;
  };
  TFieldInfo mitkeTokenInfo{*this, false};
  TFieldInfo mitkeLocationInfo{*this, true};
};

// The units of aToken a key keeps: at most aMax, one fewer when the last kept one is a high
// surrogate (0 for a token of one lone high surrogate). A range error for an empty token or a
// maximum of 0.
int32_t zfTokenKeyUnits(const TzfWideString& aToken, int32_t aMax);

rtl::TUnitInit& zfsdKeyEngineTokenUnit();

}  // namespace zf
