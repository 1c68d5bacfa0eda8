// Default-value descriptors: what value a field gets when a record is inserted or modified.
//
// A field owns at most one. Each says on which sides it applies (server, client), whether on
// insert and on modify, and whether it may overwrite a value that is not null. The kinds are a
// constant (kept in the field's native form together with the field setup it was stored for),
// the current date or time, the current user's name, a new GUID, and zeroes. Their engines are
// in zfsdDefaultValueEngine.
#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "dictionary/zfsdDictionaryItem.h"
#include "dictionary/zfsdTypes.h"
#include "platform/rtl/rtlVariant.h"

namespace zf {

class TzfFieldDescriptor;
struct TzfDefaultValueEngineClass;

// The side that applies a default or enforces a validation; the set is stored as one byte, bit 0
// server, bit 1 client.
enum class TzfApplyAt : uint8_t { aaServer, aaClient };
using enum TzfApplyAt;
struct TzfApplyAtSet {
  uint8_t Bits = 0;
  constexpr TzfApplyAtSet() = default;
  constexpr TzfApplyAtSet(std::initializer_list<TzfApplyAt> aSides) {
    for (TzfApplyAt s : aSides) Bits |= static_cast<uint8_t>(1u << static_cast<uint8_t>(s));
  }
  constexpr bool Contains(TzfApplyAt a) const { return (Bits >> static_cast<uint8_t>(a)) & 1u; }
  constexpr bool operator==(const TzfApplyAtSet&) const = default;
  constexpr TzfApplyAtSet operator*(TzfApplyAtSet o) const {
    TzfApplyAtSet r;
    r.Bits = static_cast<uint8_t>(Bits & o.Bits);
    return r;
  }
};

// A set of field types: bit n for the type of ordinal n.
using TzfFieldTypeSet = uint32_t;
constexpr TzfFieldTypeSet zfFieldTypeBit(TzfFieldType aType) { return 1u << static_cast<uint8_t>(aType); }
inline constexpr TzfFieldTypeSet zfAllFieldTypes = (1u << zfFieldTypeCount) - 1;
inline constexpr TzfFieldTypeSet zfBlobFieldTypes =
    zfFieldTypeBit(zftBlob) | zfFieldTypeBit(zftBlobMemo) | zfFieldTypeBit(zftBlobGraphic) | zfFieldTypeBit(zftBlobWideMemo);

// Raises aItem's 10001 '"%s" is not supported for field type "%s"' when aField's type is in aSet.
void zfCheckSupportedFieldType(const TzfDictionaryItem& aItem, const TzfFieldDescriptor& aField, TzfFieldTypeSet aSet);

class TzfBaseDefaultValueDescriptor : public TzfDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseDefaultValueDescriptorException)
 public:
  // aParent is the field descriptor (8712 when there is none).
  explicit TzfBaseDefaultValueDescriptor(TzfPersistent* aParent);

  virtual TzfFieldTypeSet UnsupportedFieldTypes() const { return zfBlobFieldTypes; }
  TzfFieldDescriptor& Field() const { return *bdvField; }

  void SetApplyAt(TzfApplyAtSet aValue);
  void SetApplyOnInsert(bool aValue);
  void SetApplyOnModify(bool aValue);
  void SetOverwriteNonNull(bool aValue);

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  // The engine class found for this descriptor, kept after the first lookup (every thread that
  // stores it stores the same class).
  std::atomic<const TzfDefaultValueEngineClass*> bdvCachedEngineClass{nullptr};
  TzfApplyAtSet bdvApplyAt{aaServer, aaClient};
  bool bdvApplyOnInsert = true;
  bool bdvApplyOnModify = false;
  bool bdvOverwriteNonNull = false;

 protected:
  // A BLOB field refuses every kind of default (10001, naming the concrete class): each
  // concrete class calls this from its constructor.
  void CheckNotBlobField() const;

 private:
  TzfFieldDescriptor* bdvField;
};
using TzfDefaultValueDescriptorClass = const TzfDictionaryItemClassInfo*;

class TzfConstDefaultValueDescriptor : public TzfBaseDefaultValueDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfConstDefaultValueDescriptorException)
 public:
  // Takes the field's setup and holds its length in zero bytes.
  explicit TzfConstDefaultValueDescriptor(TzfPersistent* aParent);

  void GetAsVariant(rtl::Variant& aValue);
  // Empty or Null give zero bytes. A change like any other (15500 on a read-only dictionary).
  void SetAsVariant(const rtl::Variant& aValue);
  // Brings the constant to the field's current setup; with aConvert the old value is carried
  // over (10002 when it cannot be), else it becomes zero bytes.
  void RefitToField(bool aConvert);
  // The constant in the field's current setup, converted when the field changed since it was
  // stored (10002 when it cannot be); the descriptor itself stays as it is.
  std::vector<uint8_t> ValueForField() const;
  bool FitsField() const;

  void SaveToWriter(TzfWriter& aWriter, int32_t aClientVersion) override;
  void LoadFromReader(TzfReader& aReader) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;

  TzfFieldType cdvFieldType = zftBoolean;
  uint16_t cdvFieldCodePage = 0;
  int32_t cdvFieldUnits = 0;
  int32_t cdvFieldDecPl = 0;
  int32_t cdvFieldLength = 0;
  std::vector<uint8_t> cdvDefaultValue;
};

class TzfCurrentDateTimeDefaultValueDescriptor : public TzfBaseDefaultValueDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseDefaultValueDescriptorException)
 public:
  explicit TzfCurrentDateTimeDefaultValueDescriptor(TzfPersistent* aParent) : TzfBaseDefaultValueDescriptor(aParent) { CheckNotBlobField(); }
  TzfFieldTypeSet UnsupportedFieldTypes() const override {
    return zfAllFieldTypes & ~(zfFieldTypeBit(zftDate) | zfFieldTypeBit(zftTime) | zfFieldTypeBit(zftDateTime));
  }
};

class TzfCurrentUserDefaultValueDescriptor : public TzfBaseDefaultValueDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseDefaultValueDescriptorException)
 public:
  explicit TzfCurrentUserDefaultValueDescriptor(TzfPersistent* aParent) : TzfBaseDefaultValueDescriptor(aParent) { CheckNotBlobField(); }
  TzfFieldTypeSet UnsupportedFieldTypes() const override {
    return zfAllFieldTypes &
           ~(zfFieldTypeBit(zftShortString) | zfFieldTypeBit(zftNullString) | zfFieldTypeBit(zftWideString));
  }
};

class TzfAutoGuidDefaultValueDescriptor : public TzfBaseDefaultValueDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseDefaultValueDescriptorException)
 public:
  explicit TzfAutoGuidDefaultValueDescriptor(TzfPersistent* aParent) : TzfBaseDefaultValueDescriptor(aParent) { CheckNotBlobField(); }
  TzfFieldTypeSet UnsupportedFieldTypes() const override { return zfAllFieldTypes & ~zfFieldTypeBit(zftGuid); }
};

class TzfEmptyDefaultValueDescriptor : public TzfBaseDefaultValueDescriptor {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfBaseDefaultValueDescriptorException)
 public:
  explicit TzfEmptyDefaultValueDescriptor(TzfPersistent* aParent) : TzfBaseDefaultValueDescriptor(aParent) { CheckNotBlobField(); }
  TzfFieldTypeSet UnsupportedFieldTypes() const override {
    return zfFieldTypeBit(zftDate) | zfFieldTypeBit(zftTime) | zfFieldTypeBit(zftDateTime) |
           zfFieldTypeBit(zftInterval) | zfFieldTypeBit(zftBlob) | zfFieldTypeBit(zftBlobMemo) |
           zfFieldTypeBit(zftBlobGraphic);
  }
};

rtl::TUnitInit& zfsdDefaultValueDescriptorUnit();

}  // namespace zf
