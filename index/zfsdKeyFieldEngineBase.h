// Composite key field engines of the index layer: one key field's part of a key.
//
// A key part holds the field's own storage bytes (text possibly cut to the key's characters or
// converted into the locale's code page); order comes from the typed comparison chosen when the
// engine is made, and a descending key negates every result (the bytes are the same either way).
//
// Key part of each field type (ckfeKeyLength bytes):
//   ShortString  length byte, then the characters (at most ckfeKeyLength - 1)
//   NullString   the characters, zero-terminated within the part
//   WideString   UTF-16 units, a zero unit within the part
//   ByteArray    the first ckfeKeyLength bytes
//   others       the field's bytes unchanged
//
// Order: integers signed or unsigned as their type; reals and date-times by value, with NaN after
// +INF and equal to NaN (a total order, so salvaged records with NaN keep trees ordered); text by
// code units or bytes where no locale decides (ASCII case folded when the key ignores case), else
// by the locale's rules. Lengths read from key or record bytes never reach past the part: a
// ShortString length byte is cut to the part, a text without terminator ends at the part's end.
//
// Registered as the default engine (zf1xDefault, what an empty name selects; it replaces the
// dictionary's native engine while the index layer runs) and as "NumbersOnly", whose text parts
// keep only the ASCII digits of the field's text.
#pragma once
#include <cstdint>
#include <functional>

#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "dictionary/zfsdKeyFieldEngine.h"
#include "platform/rtl/rtlVariant.h"

namespace zf {

// Partial lengths that stand for the length of an operand.
inline constexpr int32_t zfPartialLenOfSecond = 0x7FFFFFFD;
inline constexpr int32_t zfPartialLenOfFirst = 0x7FFFFFFE;

class TzfDefaultCKFE : public TzfCompositeKeyFieldEngine, public IzfFieldInfo {
 public:
  static const TzfCompositeKeyFieldEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // Takes field, locale and settings from aKeyField. A BLOB field raises 12289 "FieldType not
  // supported by TzfCompositeKeyFieldEngine".
  explicit TzfDefaultCKFE(TzfKeyFieldDescriptor& aKeyField);

  TzfKeyFieldDescriptor& KeyField() const { return ckfeKeyField; }

  // IzfFieldInfo of the key field (the key holds text in the compare code page).
  UnicodeString GetName() override { return ckfeFieldName; }
  TzfFieldType GetFieldType() override { return ckfeSetup.FieldType; }
  int32_t GetUnits() override { return ckfeKeyUnits; }
  int32_t GetDecPl() override { return ckfeFieldDecPl; }
  TzfLocaleDescriptor* GetLocale() override { return ckfeLocaleDescriptor; }
  uint16_t GetStorageCodePage() override { return ckfeCompareCodepage; }

  // Compares two key parts: -1, 0, 1.
  std::function<int8_t(const uint8_t* aKey1, const uint8_t* aKey2)> CompareKey;
  // Compares two key parts on a prefix of aPartialLen characters (bytes for ByteArray); empty for
  // the types without one.
  std::function<int8_t(const uint8_t* aKey1, const uint8_t* aKey2, int32_t aPartialLen)> PartialCompareKey;
  // The same on two record fields; empty when PartialCompareKey is.
  std::function<int8_t(const uint8_t* aField1, const uint8_t* aField2, int32_t aPartialLen)> PartialCompareFieldDirect;
  // Writes the key part (ckfeKeyLength bytes) from the record field.
  std::function<void(const uint8_t* aField, uint8_t* aKey)> BuildKey;
  // Reads a key part back.
  std::function<void(const uint8_t* aKey, rtl::Variant& aValue)> KeyAsVariant;

  UnicodeString ckfeFieldName;
  int32_t ckfeFieldDecPl = 0;
  int32_t ckfeFieldLength = 0;
  int32_t ckfeFieldOffset = 0;
  int32_t ckfeFieldNumber = 0;
  int32_t ckfeKeyChars = 0;
  int32_t ckfeKeyLength = 0;
  int32_t ckfeBuildKeyLength = 0;
  int32_t ckfeKeyUnits = 0;
  uint32_t ckfeLocale = 0;
  bool ckfeUseByteOrder = true;
  uint32_t ckfeCompareFlags = 0;
  TzfLocaleDescriptor* ckfeLocaleDescriptor = nullptr;  // not owned
  uint16_t ckfeStorageCodepage = 0;
  uint16_t ckfeCompareCodepage = 0;
  bool ckfeNLSVersionChanged = false;
  bool InvertNull = false;
  bool FilterNull = false;
  bool FilterNonNull = false;
  bool KeySameAsRecordFormat = true;

 protected:
  // Ascending comparisons of two key parts.
  int AscCompare(const uint8_t* a, const uint8_t* b) const;
  int AscPartialCompare(const uint8_t* a, const uint8_t* b, int32_t aPartialLen) const;
  bool HasPartial() const;
  // Binds CompareFieldDirect and PartialCompareFieldDirect to the key comparisons: in place when the
  // key part has the record's format and length, else through two built keys.
  void BindDirectCompares();
  void DefaultBuild(const uint8_t* aField, uint8_t* aKey) const;
  void ConvertingBuild(const uint8_t* aField, uint8_t* aKey, uint16_t aTargetCodePage) const;

  bool FIgnoreCase = false;
  bool FKeyIsShorter = false;
  bool FConvert = false;
  bool FStorageMultiByte = false;
  bool FCompareMultiByte = false;
  bool FGuidAsText = false;
};

class TzfNumbersOnlyCKFE : public TzfDefaultCKFE {
 public:
  static const TzfCompositeKeyFieldEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  explicit TzfNumbersOnlyCKFE(TzfKeyFieldDescriptor& aKeyField);

 private:
  void DigitsBuild(const uint8_t* aField, uint8_t* aKey) const;
};

rtl::TUnitInit& zfsdKeyFieldEngineBaseUnit();

}  // namespace zf
