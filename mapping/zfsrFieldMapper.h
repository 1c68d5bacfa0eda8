// The BLOB-side field mappers. A BLOB field holds in the record only the 8-byte number of a BLOB
// stored in its table's BLOB engine (0: no BLOB), so these mappers work through the source and
// target cursors: the plain copy has the target cursor copy the source BLOB into a new BLOB of the
// target field.
//
// Today the unit offers the BLOB diagonal of the matrix: TzfBlobMapper for Blob, BlobGraphic and
// BlobWideMemo onto themselves, and TzfBlobMemoToBlobMemoMapper for BlobMemo onto BlobMemo where
// no re-encoding is needed (the code pages agree or either field has none). Mappers between
// different BLOB types and between BLOBs and text register later. Without both cursors a BLOB
// cannot be copied and no method is set.
#pragma once
#include <cstdint>
#include <memory>

#include "mapping/zfsdFieldMapperBase.h"

namespace zf {

class TzfBlobMapper : public TzfBaseFieldMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();

  // Sets the plain copy as the method (subclasses then choose their own).
  TzfBlobMapper(TzfFieldDescriptor& aSourceField, IzfMapperCursor& aSourceCursor, TzfFieldDescriptor& aTargetField,
                IzfMapperCursor& aTargetCursor, const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);

  // Target number 0; a source number 0 has no value (bmNullError); else the target cursor copies
  // the source BLOB into a new BLOB and its code is the result.
  uint32_t PlainCopy(const uint8_t* aSource, uint8_t* aTarget);

  IzfMapperCursor& bmSourceCursor;
  IzfMapperCursor& bmTargetCursor;
  TzfFieldDescriptor& bmSourceField;
  TzfFieldDescriptor& bmTargetField;
  // The result when there is no value: 10002, or 1 under dlaBestFit.
  uint32_t bmNullError;
};

// BlobMemo onto BlobMemo: the plain copy where no re-encoding between code pages is needed.
class TzfBlobMemoToBlobMemoMapper : public TzfBlobMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();

  TzfBlobMemoToBlobMemoMapper(TzfFieldDescriptor& aSourceField, IzfMapperCursor& aSourceCursor,
                              TzfFieldDescriptor& aTargetField, IzfMapperCursor& aTargetCursor,
                              const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);

  uint16_t mtmSourceCodepage;
  uint16_t mtmTargetCodepage;
};

// Registers the BLOB-side mappers in the matrix (unit start); the registry empties the cells.
rtl::TUnitInit& zfsrFieldMapperUnit();

}  // namespace zf
