// The enumerations and small types of the dataset framework: field types, dataset states, data
// events, fetch modes and results, bookmark flags, field attributes and the option sets of
// indexes, locates and BLOB streams.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/rtl/rtlEnumSet.h"
#include "platform/rtl/rtlText.h"

namespace zf::db {

using rtl::UnicodeString;

// Field data types; the ordinals run from ftUnknown 0 to ftSingle 51 and index per-type tables.
enum TFieldType : uint8_t {
  ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD, ftDate,
  ftTime, ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic, ftFmtMemo,
  ftParadoxOle, ftDBaseOle, ftTypedBinary, ftCursor, ftFixedChar, ftWideString, ftLargeint, ftADT,
  ftArray, ftReference, ftDataSet, ftOraBlob, ftOraClob, ftVariant, ftInterface, ftIDispatch, ftGuid,
  ftTimeStamp, ftFMTBcd, ftFixedWideChar, ftWideMemo, ftOraTimeStamp, ftOraInterval, ftLongWord,
  ftShortint, ftByte, ftExtended, ftConnection, ftParams, ftStream, ftTimeStampOffset, ftObject,
  ftSingle
};
inline constexpr int FieldTypeCount = ftSingle + 1;
// "String", "Integer", ... as messages show a type.
const char16_t* FieldTypeName(TFieldType aType);

// States of a dataset. The ones from dsSetKey on after dsInsert are mostly entered as temporary
// states while one operation runs.
enum TDataSetState : uint8_t {
  dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter, dsNewValue, dsOldValue,
  dsBlockRead, dsInternalCalc, dsOpening
};

// What a dataset tells its data sources and links.
enum TDataEvent : uint8_t {
  deFieldChange,      // Info: the field
  deRecordChange,     // Info: the field or 0
  deDataSetChange,    // the records on show changed
  deDataSetScroll,    // the active record moved within the records on show
  deLayoutChange,     // fields or their order changed
  deUpdateRecord,     // links write their pending edits into the fields
  deUpdateState,      // the state changed
  deCheckBrowseMode,  // a pending edit is about to be posted or cancelled
  dePropertyChange,   // a property that affects the data changed (table name, index, ...)
};

enum TFieldKind : uint8_t { fkData, fkCalculated, fkLookup, fkInternalCalc };

enum TFieldAttribute : uint8_t { faHiddenCol, faReadonly, faRequired, faLink, faUnNamed, faFixed };
using TFieldAttributes = rtl::EnumSet<TFieldAttribute>;

enum TBlobStreamMode : uint8_t { bmRead, bmWrite, bmReadWrite };

// Record fetch hook: which record, and what the fetch found.
enum TGetMode : uint8_t { gmCurrent, gmNext, gmPrior };
enum TGetResult : uint8_t { grOK, grBOF, grEOF, grError };

// Where a record buffer stands: on a record, before the first, after the last, or new.
enum TBookmarkFlag : uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };

enum TResyncModeItem : uint8_t { rmExact, rmCenter };
using TResyncMode = rtl::EnumSet<TResyncModeItem>;

enum TLocateOption : uint8_t { loCaseInsensitive, loPartialKey };
using TLocateOptions = rtl::EnumSet<TLocateOption>;

enum TFilterOption : uint8_t { foCaseInsensitive, foNoPartialCompare };
using TFilterOptions = rtl::EnumSet<TFilterOption>;

enum TIndexOption : uint8_t { ixPrimary, ixUnique, ixDescending, ixCaseInsensitive, ixExpression, ixNonMaintained };
using TIndexOptions = rtl::EnumSet<TIndexOption>;

// What an error handler of post, edit or delete asks for.
enum TDataAction : uint8_t { daFail, daAbort, daRetry };

enum TParamType : uint8_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

// A record buffer: memory of the dataset's record buffer size, laid out by the descendant.
using TRecordBuffer = uint8_t*;
// A bookmark: the descendant's bookmark bytes; empty = none.
using TBookmark = std::vector<uint8_t>;

}  // namespace zf::db
