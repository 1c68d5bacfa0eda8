// Field values between their native form in a record buffer and Variants, driven by the field's
// type, code page, units, decimals and length in bytes.
//
// Every read is bounded by aLength: a text without its terminator, a length byte beyond the
// field, a date-time that is no time (NaN, infinite, out of range) or packed decimal digits that
// are not digits raise EzfBaseException 8962 rather than being read past or guessed at. A length
// too small for the type's fixed size raises 10001.
#pragma once
#include <cstdint>

#include "dictionary/zfsdTypes.h"
#include "platform/rtl/rtlVariant.h"

namespace zf {

// The native value at aBuffer as a Variant; never Null (callers set Null for NULL fields).
void VariantFromBuffer(TzfFieldType aFieldType, uint16_t aCodePage, int32_t aUnits, int32_t aDecPl,
                       const uint8_t* aBuffer, int32_t aLength, rtl::Variant& aVariant);

// aVariant into the native value at aBuffer (aLength bytes). Text is read as numbers and dates
// with the calling thread's locale settings. Empty and Null are the caller's to handle.
void VariantToBuffer(TzfFieldType aFieldType, uint16_t aCodePage, int32_t aUnits, int32_t aDecPl,
                     const rtl::Variant& aVariant, uint8_t* aBuffer, int32_t aLength);

// aVariant as a new array holding the native value (statement parameters); Null gives an empty
// array.
void VariantToByteArray(TzfFieldType aFieldType, uint16_t aCodePage, int32_t aUnits, int32_t aDecPl,
                        TByteDynArray& aBytes, const rtl::Variant& aVariant);

bool VariantIsEmptyOrNull(const rtl::Variant& aVariant);

}  // namespace zf
