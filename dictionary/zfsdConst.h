// Display names and SQL names of the field types, and the lookups from SQL names and parameter
// direction names back to types.
#pragma once
#include "dictionary/zfsdTypes.h"
#include "platform/rtl/rtlText.h"

namespace zf {

// "Boolean", "Wide Char", "BLOB Memo", "Formatted BCD", ...
rtl::UnicodeString zfFieldTypeDisplayName(TzfFieldType aType);
// The primary SQL name ("" for Interval) and the alternative one ("" when there is none).
rtl::UnicodeString zfFieldTypeSqlName(TzfFieldType aType);
rtl::UnicodeString zfFieldTypeAltSqlName(TzfFieldType aType);
// "", "IN", "OUT", "INOUT", "RESULT".
rtl::UnicodeString zfParamTypeName(TzfParamType aType);

// The type whose SQL name is aName, case ignored; the first type to claim a name keeps it
// ("DECIMAL" is BCD, "" is Interval). An unknown name raises EzfBaseException 8712.
TzfFieldType zfFieldTypeFromName(rtl::UnicodeStringView aName);
// The direction whose name equals aName (ASCII case ignored); zfptUnknown when none does.
TzfParamType zfParamTypeFromName(rtl::UnicodeStringView aName);

}  // namespace zf
