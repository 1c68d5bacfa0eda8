// Reference key engine: the key of the sequential-access index is the record's reference number.
//
// Key layout: 8 bytes, the reference number as a signed 64-bit little-endian integer (so the key
// of -1 is eight $FF bytes). Keys compare as signed numbers; field counts and partial lengths do
// not apply. As a fields source the key has one field, "RefNr" (Int64).
#pragma once
#include "index/zfsdKeyEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfRefKeyEngineException, EzfBaseKeyEngineException)

class TzfRefKeyEngine : public TzfBaseKeyEngine, public IzfFieldInfo {
 public:
  static const TzfKeyEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  // The descriptor must be a TzfRefKeyDescriptor (else EInvalidCast).
  static void CheckValidFromDescriptor(TzfBaseKeyDescriptor& aDescriptor);

  explicit TzfRefKeyEngine(TzfBaseKeyDescriptor& aDescriptor);

  // IzfFieldsSource
  bool GetFieldForFilter(int32_t aField, const char* aName, const uint8_t* aData, uint16_t& aType, uint16_t& aSize,
                         bool& aIsNull, const uint8_t*& aValue, uint16_t& aCodePage) override;
  int32_t GetFieldFromName(const UnicodeString& aName) override;
  int32_t GetFieldCount() override { return 1; }
  void GetFieldInfo(int32_t aIndex, IzfFieldInfo*& aInfo) override { aInfo = this; }
  int32_t GetDataOffset() override { return 0; }

  // IzfFieldInfo of the one pseudo-field
  UnicodeString GetName() override { return u"RefNr"; }
  TzfFieldType GetFieldType() override { return zftInt64; }
  int32_t GetUnits() override { return 0; }
  int32_t GetDecPl() override { return 0; }
  TzfLocaleDescriptor* GetLocale() override { return nullptr; }
  uint16_t GetStorageCodePage() override { return 0; }

  void CopyKey(const uint8_t* aFrom, uint8_t* aTo) override;
  void ClearKey(uint8_t* aKey) override;
  uint32_t BuildKey(const uint8_t* aRecord, uint8_t* aKey, int64_t aRefNr, bool aIgnoreFilter) override;
  using TzfBaseKeyEngine::CompareKey;
  int8_t CompareKey(const uint8_t* aKey1, const uint8_t* aKey2, int32_t aFieldCount, int32_t aPartialLen) override;
  int8_t CompareRecord(const uint8_t* aRecord1, int64_t aRefNr1, const uint8_t* aRecord2, int64_t aRefNr2,
                       int32_t aFieldCount, int32_t aPartialLen) override;
  int8_t CompareRecord(const uint8_t* aRecord1, int64_t aRefNr1, const uint8_t* aRecord2, int64_t aRefNr2) override;
  using TzfBaseKeyEngine::CompareRecord;
  rtl::Variant KeyAsVariant(const uint8_t* aKey, int32_t aField) override;

  static int64_t RefNrOf(const uint8_t* aKey);
};

rtl::TUnitInit& zfsdKeyEngineRefUnit();

}  // namespace zf
