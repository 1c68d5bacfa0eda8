// Record compression engines: the variable record engine may store a record in a compact form
// produced by the engine its record compression descriptor names. "Null" never compresses (the
// record is stored raw); "Smart" (zfseRecordCompressionEngineSmart) keeps the null bitmap and the
// non-null fields only, strings cut to their used length.
#pragma once
#include <cstdint>
#include <memory>

#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdStorageDescriptor.h"
#include "storage/zfsrExceptions.h"
#include "storage/zfsrSubEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseRecordCompressionEngineException, EzfBaseSubEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfNullRecordCompressionEngineException, EzfBaseRecordCompressionEngineException)

class TzfBaseRecordCompressionEngine;

// The record compression kind: engines registered by name ("Null", "Smart").
struct TzfRecordCompressionEngineClass : TzfSubEngineClass {
  using TCreate = std::unique_ptr<TzfBaseRecordCompressionEngine> (*)(TzfBaseRecordCompressionDescriptor* aDescriptor,
                                                                      TzfFieldsDescriptor* aFields,
                                                                      int32_t aTableVersion);
  constexpr TzfRecordCompressionEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent,
                                            TzfGetListProc aGetList, TCheckValidDescriptor aCheckValidDescriptor,
                                            TCreate aCreate)
      : TzfSubEngineClass(aName, aParent, aGetList, u"RecordCompression", aCheckValidDescriptor), Create(aCreate) {}
  TCreate Create;
};

class TzfBaseRecordCompressionEngine : public TzfBaseSubEngine {
 public:
  // aDescriptor may be nil (a "Null" engine without a descriptor); aFields is the table's
  // fields descriptor, not owned.
  TzfBaseRecordCompressionEngine(TzfBaseRecordCompressionDescriptor* aDescriptor, TzfFieldsDescriptor* aFields,
                                 int32_t aTableVersion);

  static const TzfRecordCompressionEngineClass& ClassInfo();
  const TzfRecordCompressionEngineClass& ClassType() const override { return ClassInfo(); }
  // The kind's check of a table: a heap record descriptor's compression descriptor names a
  // registered engine.
  static void CheckValidDescriptor(TzfBaseTableDescriptor& aTable);

  // The engine the descriptor names ("Null" without one); 15503 "Unknown RecordCompression
  // engine" for a name no class is registered under. The caller owns the result.
  static std::unique_ptr<TzfBaseRecordCompressionEngine> CreateEngine(TzfBaseRecordCompressionDescriptor* aDescriptor,
                                                                      TzfFieldsDescriptor* aFields,
                                                                      int32_t aTableVersion);
  // Nothing for nil; else 15503 when the named engine does not exist.
  static void CheckValidBaseFromDescriptor(TzfBaseRecordCompressionDescriptor* aDescriptor);

  // Writes the compressed form of the record at aSource to aTarget (room: the record length) and
  // answers its size; 0 means not compressed (the caller stores the record raw).
  virtual uint16_t CompressRecord(const uint8_t* aSource, uint8_t* aTarget) = 0;
  // Rebuilds a whole record buffer in aTarget from aSize compressed bytes. Reads nothing beyond
  // aSize bytes and writes nothing beyond the record; damaged input raises (8962).
  virtual void DecompressRecord(const uint8_t* aSource, uint16_t aSize, uint8_t* aTarget) = 0;

  TzfBaseRecordCompressionDescriptor* brceDescriptor;
  TzfFieldsDescriptor* brceFields;
};

class TzfNullRecordCompressionEngine : public TzfBaseRecordCompressionEngine {
 public:
  using TzfBaseRecordCompressionEngine::TzfBaseRecordCompressionEngine;
  static const TzfRecordCompressionEngineClass& ClassInfo();
  const TzfRecordCompressionEngineClass& ClassType() const override { return ClassInfo(); }
  uint16_t CompressRecord(const uint8_t*, uint8_t*) override { return 0; }
  // Raises 12289: a "Null" record is stored raw and never decompressed.
  void DecompressRecord(const uint8_t* aSource, uint16_t aSize, uint8_t* aTarget) override;
};

// Registers the kind and its two engines, "Null" and "Smart".
rtl::TUnitInit& zfsrRecordCompressionEngineBaseUnit();

}  // namespace zf
