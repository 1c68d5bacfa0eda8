// The value mappers: converters between the values of two non-BLOB fields.
//
// Today this unit offers the diagonal of the mapping matrix, each type onto itself, for fields of
// the same layout, so that a record maps between two tables with equal fields: TzfSameLayoutMapper
// copies the field's bytes when source and target agree in type, storage length, units and
// decimals and, for 8-bit text and characters, in code page (or either has none). Interval has no
// mapper at all. Fields of the same type but another layout get no method from it; the family
// mappers (numbers, dates, text, byte arrays, BCD) register later in the same cells and are tried
// first.
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

// Registers the value mappers in the matrix (unit start); the registry empties the cells.
rtl::TUnitInit& zfsdFieldMapperUnit();

}  // namespace zf
