// The framework's error class EDatabaseError, the helpers that raise it, and the platform texts
// its checks and descendants raise (used exactly as they stand).
#pragma once
#include "platform/db/dbTypes.h"
#include "platform/rtl/rtlComponent.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlFormat.h"

namespace zf::db {

using rtl::Exception;
ZF_DECLARE_EXCEPTION(EDatabaseError, Exception)

// Dataset state checks.
inline constexpr const char16_t* kSDataSetOpen = u"Cannot perform this operation on an open dataset";
inline constexpr const char16_t* kSDataSetClosed = u"Cannot perform this operation on a closed dataset";
inline constexpr const char16_t* kSDataSetEmpty = u"Cannot perform this operation on an empty dataset";
inline constexpr const char16_t* kSDataSetReadOnly = u"Cannot modify a read-only dataset";
inline constexpr const char16_t* kSNotEditing = u"Dataset not in edit or insert mode";
inline constexpr const char16_t* kSDataSetUnidirectional = u"Operation not allowed on a unidirectional dataset";
inline constexpr const char16_t* kSRecordNotFound = u"Record not found";
// A fetch that failed without saying why: reported, never taken for the end of the data.
inline constexpr const char16_t* kSRecordFetchFailed = u"The record could not be read";
inline constexpr const char16_t* kSCircularDataLink = u"Circular datalinks are not allowed";

// Fields.
inline constexpr const char16_t* kSFieldNotFound = u"Field '%s' not found";
inline constexpr const char16_t* kSDuplicateFieldName = u"Duplicate field name '%s'";
inline constexpr const char16_t* kSFieldRequired = u"Field '%s' must have a value";
inline constexpr const char16_t* kSFieldReadOnly = u"Field '%s' cannot be modified";
inline constexpr const char16_t* kSFieldAccessError = u"Cannot access field '%s' as type %s";
inline constexpr const char16_t* kSFieldRangeError = u"%s is not a valid value for field '%s'. The allowed range is %s to %s";
inline constexpr const char16_t* kSInvalidFieldValue = u"Invalid value for field '%s'";
inline constexpr const char16_t* kSFieldIndexError = u"Field index out of range";
inline constexpr const char16_t* kSNoDataSet = u"Field '%s' has no dataset";
inline constexpr const char16_t* kSFieldTypeMismatch = u"Type mismatch for field '%s', expecting: %s actual: %s";
inline constexpr const char16_t* kSNotIndexField = u"Field '%s' is not indexed and cannot be modified";

// Indexes and parameters.
inline constexpr const char16_t* kSIndexNotFound = u"Index '%s' not found";
inline constexpr const char16_t* kSNoIndexForFields = u"No index for fields '%s'";
inline constexpr const char16_t* kSNoFieldIndexes = u"No index currently active";
inline constexpr const char16_t* kSIndexFieldMissing = u"Cannot access index field '%s'";
inline constexpr const char16_t* kSParameterNotFound = u"Parameter '%s' not found";

// Raises EDatabaseError; with a named component the text reads "Name: message".
[[noreturn]] void DatabaseError(const UnicodeString& aMessage, const rtl::TComponent* aComponent = nullptr);
[[noreturn]] void DatabaseErrorFmt(const char16_t* aMessage, rtl::FormatArgs aArgs,
                                   const rtl::TComponent* aComponent = nullptr);

}  // namespace zf::db
