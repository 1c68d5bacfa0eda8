#include "mapping/zfsdValueMapperCoverage.h"

#include "mapping/zfsdBytesMapper.h"
#include "mapping/zfsdDateTimeMapper.h"
#include "mapping/zfsdFloatMapper.h"
#include "mapping/zfsdIntegerMapper.h"

namespace zf {

namespace {

std::vector<TzfFieldType> With(std::vector<TzfFieldType> aTypes, TzfFieldType aMore) {
  aTypes.push_back(aMore);
  return aTypes;
}

void StartUnit() { zfRegisterMapperCoverage(zfNumericMapperCoverage()); }
void StopUnit() {}

}  // namespace

const std::vector<TzfFieldType>& zfNumericMappingTargets() {
  static const std::vector<TzfFieldType> targets = {
      zftBoolean, zftChar,     zftWideChar,  zftByte,        zftWord16,     zftWord32,     zftInt8,
      zftInt16,   zftInt32,    zftInt64,     zftAutoInc,     zftSingle,     zftDouble,     zftExtended,
      zftCurrency, zftByteArray, zftShortString, zftNullString, zftWideString, zftRecRev, zftBCD};
  return targets;
}

const std::vector<TzfMapperCoverageRow>& zfNumericMapperCoverage() {
  static const std::vector<TzfMapperCoverageRow> rows = [] {
    const std::vector<TzfFieldType>& numeric = zfNumericMappingTargets();
    const std::vector<TzfFieldType> dates = {zftDate,        zftTime,       zftDateTime,  zftByteArray,
                                             zftShortString, zftNullString, zftWideString};
    const std::vector<TzfFieldType> bytes = {zftByteArray, zftShortString, zftNullString, zftWideString, zftGuid};
    return std::vector<TzfMapperCoverageRow>{
        {&TzfBooleanMapper::ClassInfo, {zftBoolean}, numeric},
        {&TzfByte8Mapper::ClassInfo, {zftByte}, numeric},
        {&TzfWord16Mapper::ClassInfo, {zftWord16}, numeric},
        {&TzfWord32Mapper::ClassInfo, {zftWord32, zftAutoInc, zftRecRev}, numeric},
        {&TzfInt8Mapper::ClassInfo, {zftInt8}, numeric},
        {&TzfInt16Mapper::ClassInfo, {zftInt16}, numeric},
        {&TzfInt32Mapper::ClassInfo, {zftInt32}, numeric},
        {&TzfInt64Mapper::ClassInfo, {zftInt64}, numeric},
        {&TzfSingleMapper::ClassInfo, {zftSingle}, numeric},
        {&TzfDoubleMapper::ClassInfo, {zftDouble}, With(numeric, zftDateTime)},
        {&TzfExtendedMapper::ClassInfo, {zftExtended}, numeric},
        {&TzfCurrencyMapper::ClassInfo, {zftCurrency, zftBCD}, numeric},
        {&TzfDateMapper::ClassInfo, {zftDate}, dates},
        {&TzfTimeMapper::ClassInfo, {zftTime}, dates},
        {&TzfDateTimeMapper::ClassInfo, {zftDateTime}, With(dates, zftDouble)},
        {&TzfByteArrayMapper::ClassInfo, {zftByteArray}, bytes},
        {&TzfGuidMapper::ClassInfo, {zftGuid}, bytes},
        {&TzfFmtBCDMapper::ClassInfo, {zftFmtBCD}, {zftFmtBCD}},
    };
  }();
  return rows;
}

void zfRegisterMapperCoverage(const std::vector<TzfMapperCoverageRow>& aRows) {
  for (const TzfMapperCoverageRow& row : aRows)
    for (TzfFieldType source : row.Sources)
      for (TzfFieldType target : row.Targets) zfRegisterFieldMapper(row.Class(), source, target);
}

rtl::TUnitInit& zfsdValueMapperCoverageUnit() {
  static rtl::TUnitInit unit("zfsdValueMapperCoverage", &StartUnit, &StopUnit);
  return unit;
}

}  // namespace zf
