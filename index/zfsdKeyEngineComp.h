// Composite key engines: a key made of a list of the record's fields.
//
// Composite key (TzfCompKeyEngine), k key fields, n = (k + 7) div 8:
//   offset 0   n bytes   null flags: bit i mod 8 of byte i div 8 set = key field i is null
//   offset n   ...       the key parts of the key fields in key order, each ckfeKeyLength bytes
//                        (see index/zfsdKeyFieldEngineBase.h); a null field's part is all zero
// A cleared key has every flag set and every other byte 0.
//
// No-null composite key (TzfNoNullCompKeyEngine): the key parts alone from offset 0; its fields
// are all required.
//
// A null sorts before every value, or after every value where the key field's null behaviour
// inverts it; keys and records compare field by field and return at the first difference.
#pragma once
#include <memory>
#include <vector>

#include "index/zfsdKeyEngineBase.h"
#include "index/zfsdKeyFieldEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfCompKeyEngineException, EzfBaseKeyEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfNoNullCompKeyEngineException, EzfCompKeyEngineException)

class TzfCompKeyEngine : public TzfBaseKeyEngine {
 public:
  static const TzfKeyEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  // Every key field's key field engine name must be registered (15503).
  static void CheckValidFromDescriptor(TzfBaseKeyDescriptor& aDescriptor);

  // aDescriptor must be a TzfCompKeyDescriptor (else EInvalidCast).
  explicit TzfCompKeyEngine(TzfBaseKeyDescriptor& aDescriptor) : TzfCompKeyEngine(aDescriptor, true) {}
  ~TzfCompKeyEngine() override;

  // ---- IzfFieldsSource over a key ----
  bool GetFieldForFilter(int32_t aField, const char* aName, const uint8_t* aData, uint16_t& aType, uint16_t& aSize,
                         bool& aIsNull, const uint8_t*& aValue, uint16_t& aCodePage) override;
  // The key field's name is its field's name, with "_" and the key field engine name when one is set.
  int32_t GetFieldFromName(const UnicodeString& aName) override;
  int32_t GetFieldCount() override { return ckeKeyFieldCount; }
  void GetFieldInfo(int32_t aIndex, IzfFieldInfo*& aInfo) override;
  int32_t GetDataOffset() override { return FPartsOffset; }

  void ClearKey(uint8_t* aKey) override;
  uint32_t BuildKey(const uint8_t* aRecord, uint8_t* aKey, int64_t aRefNr, bool aIgnoreFilter) override;
  using TzfBaseKeyEngine::CompareKey;
  // The first min(aFieldCount, k) fields fully (all with 0 and 0; none with aFieldCount 0 and a
  // partial length); with aPartialLen > 0 the next field on that prefix (one field is always left
  // for it).
  int8_t CompareKey(const uint8_t* aKey1, const uint8_t* aKey2, int32_t aFieldCount, int32_t aPartialLen) override;
  // The same on two records' fields in place; no filter applies and reference numbers are ignored.
  int8_t CompareRecord(const uint8_t* aRecord1, int64_t aRefNr1, const uint8_t* aRecord2, int64_t aRefNr2,
                       int32_t aFieldCount, int32_t aPartialLen) override;
  using TzfBaseKeyEngine::CompareRecord;
  rtl::Variant KeyAsVariant(const uint8_t* aKey, int32_t aField) override;
  bool KeyContainsNulls(const uint8_t* aKey) override;

  TzfDefaultCKFE& KeyFieldEngine(int32_t aIndex) const { return *ckeKeyFieldEngines.at(static_cast<size_t>(aIndex)); }
  // Offset of key field aIndex's part in a key.
  int32_t PartOffset(int32_t aIndex) const { return FPartOffsets.at(static_cast<size_t>(aIndex)); }

  TzfFieldsDescriptor* ckeFieldsDescriptor = nullptr;  // not owned
  std::vector<std::unique_ptr<TzfDefaultCKFE>> ckeKeyFieldEngines;
  std::vector<int8_t> ckeKeyFieldInvertNull;
  std::vector<std::pair<UnicodeString, int32_t>> ckeKeyFieldNames;  // lower-cased names, sorted
  int32_t ckeKeyFieldCount = 0;
  int32_t ckeKeyOffset = 0;  // n

 protected:
  TzfCompKeyEngine(TzfBaseKeyDescriptor& aDescriptor, bool aWithNullFlags);

 private:
  bool IsFlagged(const uint8_t* aKey, int32_t aIndex) const;
  template <typename TNull, typename TFull, typename TPartial>
  int8_t CompareFields(int32_t aFieldCount, int32_t aPartialLen, TNull aIsNull, TFull aFull, TPartial aPartial);

  bool FWithNullFlags;
  int32_t FPartsOffset = 0;
  std::vector<int32_t> FPartOffsets;
};

class TzfNoNullCompKeyEngine : public TzfCompKeyEngine {
 public:
  static const TzfKeyEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  explicit TzfNoNullCompKeyEngine(TzfBaseKeyDescriptor& aDescriptor) : TzfCompKeyEngine(aDescriptor, false) {}
};

rtl::TUnitInit& zfsdKeyEngineCompUnit();

}  // namespace zf
