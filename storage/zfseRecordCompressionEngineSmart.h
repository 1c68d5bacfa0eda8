// The "Smart" record compression: the first (n + 7) div 8 bytes of the null bitmap, then each
// non-null field in order: a ShortString as its length byte and that many bytes, a NullString up
// to and including its zero byte, a WideString up to and including its zero character, any other
// type its whole storage length. NULL fields add nothing beyond their bit.
//
// A string whose terminator is missing inside its field is stored at the field's whole length, and
// read back the same way, so compression never reads outside a field nor produces more than the
// record's own bytes. Decompression is bounded on both sides: every field by its length, a
// ShortString length by its units, terminators searched only inside the field and the input; the
// input must be consumed exactly. Anything else is a damaged record (8962).
#pragma once
#include "storage/zfsrRecordCompressionEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfSmartRecordCompressionEngineException, EzfBaseRecordCompressionEngineException)

class TzfSmartRecordCompressionEngine : public TzfBaseRecordCompressionEngine {
 public:
  TzfSmartRecordCompressionEngine(TzfBaseRecordCompressionDescriptor* aDescriptor, TzfFieldsDescriptor* aFields,
                                  int32_t aTableVersion);
  static const TzfRecordCompressionEngineClass& ClassInfo();
  const TzfRecordCompressionEngineClass& ClassType() const override { return ClassInfo(); }
  uint16_t CompressRecord(const uint8_t* aSource, uint8_t* aTarget) override;
  void DecompressRecord(const uint8_t* aSource, uint16_t aSize, uint8_t* aTarget) override;

  TzfFieldsDescriptor* srceFieldsDescriptor;

 private:
  struct TField {
    uint32_t Offset, Length;
    TzfFieldType Type;
  };
  std::vector<TField> FFields;
  uint32_t FBitmapOffset = 0;
  uint32_t FBitmapBytes = 0;
  uint32_t FRecordLength = 0;
};

}  // namespace zf
