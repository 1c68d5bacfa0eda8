// The value mappers: converters between the values of two non-BLOB fields.
//
// TzfSameLayoutMapper copies a field's bytes when source and target agree in type, storage
// length, units and decimals and, for 8-bit text and characters, in code page (or either has
// none). It stands on the diagonal of the mapping matrix only where no family mapper is
// registered for that type (it starts after them); Interval has no mapper at all.
#pragma once
#include <cstdint>
#include <memory>

#include "mapping/zfsdFieldMapperBase.h"

namespace zf {

class TzfSameLayoutMapper : public TzfBaseFieldMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();

  explicit TzfSameLayoutMapper(int32_t aLength) : slmLength(aLength) {}
  // Copies the field's bytes; result 0.
  uint32_t Copy(const uint8_t* aSource, uint8_t* aTarget);

  int32_t slmLength;
};

// Registers the same-layout copy in the empty diagonal cells (unit start, after the family
// mappers); the registry empties the cells.
rtl::TUnitInit& zfsdFieldMapperUnit();

}  // namespace zf
