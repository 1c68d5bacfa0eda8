// Where the value mappers sit in the mapping matrix: one row per mapper class, naming the source
// types it serves and the target types it is registered for. Each cell holds exactly one class,
// so the order of trial never decides between them.
//
// Numeric targets (the 21 that every Boolean, integer, floating-point and money source maps
// into): Boolean, Char, WideChar, Byte, Word16, Word32, Int8, Int16, Int32, Int64, AutoInc,
// Single, Double, Extended, Currency, ByteArray, ShortString, NullString, WideString, RecRev, BCD.
//
//   class                 sources                    targets
//   TzfBooleanMapper      Boolean                    numeric targets
//   TzfByte8Mapper        Byte                       numeric targets
//   TzfWord16Mapper       Word16                     numeric targets
//   TzfWord32Mapper       Word32, AutoInc, RecRev    numeric targets
//   TzfInt8Mapper         Int8                       numeric targets
//   TzfInt16Mapper        Int16                      numeric targets
//   TzfInt32Mapper        Int32                      numeric targets
//   TzfInt64Mapper        Int64                      numeric targets
//   TzfSingleMapper       Single                     numeric targets
//   TzfDoubleMapper       Double                     numeric targets and DateTime
//   TzfExtendedMapper     Extended                   numeric targets
//   TzfCurrencyMapper     Currency, BCD              numeric targets
//   TzfDateMapper         Date                       Date, Time, DateTime, ByteArray, the text types
//   TzfTimeMapper         Time                       Date, Time, DateTime, ByteArray, the text types
//   TzfDateTimeMapper     DateTime                   Double, Date, Time, DateTime, ByteArray, the
//                                                    text types
//   TzfByteArrayMapper    ByteArray                  ByteArray, the text types, Guid
//   TzfGuidMapper         Guid                       ByteArray, the text types, Guid
//   TzfFmtBCDMapper       FmtBCD                     FmtBCD
// Interval is neither a source nor a target; nothing else maps into FmtBCD, Date, Time or Guid
// from these rows, and only Double maps into DateTime among the numbers.
#pragma once
#include <vector>

#include "mapping/zfsdFieldMapperBase.h"

namespace zf {

struct TzfMapperCoverageRow {
  const TzfFieldMapperClass& (*Class)();
  std::vector<TzfFieldType> Sources;
  std::vector<TzfFieldType> Targets;
};

// The 21 numeric targets.
const std::vector<TzfFieldType>& zfNumericMappingTargets();
// The rows of the Boolean, integer, floating-point, money, date, time, GUID, byte-array and
// FmtBCD sources.
const std::vector<TzfMapperCoverageRow>& zfNumericMapperCoverage();
// Registers every pair of aRows, row by row.
void zfRegisterMapperCoverage(const std::vector<TzfMapperCoverageRow>& aRows);

// Registers the rows above (unit start); the registry empties the cells when it stops.
rtl::TUnitInit& zfsdValueMapperCoverageUnit();

}  // namespace zf
