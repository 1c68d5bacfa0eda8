// Field conversion between engine fields and the framework's fields.
//
// Engine records hold each field in its storage form (little-endian integers, 8-bit text with a
// length byte or a terminator, UTF-16LE text, BCD as a Currency, FmtBCD as the leading bytes of a
// TBcd); the framework's fields read and write a per-field buffer in their native form
// (platform/db/dbFields.h). One mapper class per engine field type converts in both directions;
// two tables find the class for an engine type (zfVclMapperByZofrinType) or for a framework type
// (zfVclMapperByVclType). The class tree:
//
//   TzfBaseVclFieldMapper
//     TzfStaticVclFieldMapper        class-level conversions, no state: Boolean, AnsiChar,
//                                    WideChar, Byte8, Word16, Word32 (> AutoInc, RecRev), Int8,
//                                    Int16, Int32, Int64 (> Blob, Memo (> WideMemo), Graphic),
//                                    Single, Double, Extended, Currency, Guid, Date, Time,
//                                    DateTime, Interval
//     TzfInstantiatedVclFieldMapper  one object per field: TzfBcdVclFieldMapper,
//                                    TzfFmtBcdVclFieldMapper
//     TzfVariableSizeVclFieldMapper  one object per field, sized by the field's units:
//                                    TzfByteArrayVclFieldMapper and the padding mappers
//       TzfBasePaddingVclFieldMapper     fixed-width text (padding length = the field's decimals)
//         TzfBaseStringVclFieldMapper    8-bit text with code-page translation:
//                                        TzfShortStringVclFieldMapper, TzfNullStringVclFieldMapper
//         TzfWideStringVclFieldMapper
//
// Text. Fixed-width text is stored without trailing blanks and shown filled with blanks up to the
// padding length. A text field is fixed-width only when its decimals are above 0 (field setup then
// makes them equal to its units); otherwise it is variable-width and shown as stored. 8-bit text
// whose field has a storage code page is translated between that code page and the client code
// page (zfDefaultCodePage; the system ANSI code page, windows-1252 unless set) while the bound
// TStringField asks for it (Transliterate).
//
// Every read of engine bytes is bounded by the field: a short string's length byte by its units,
// a null or wide string without a terminator by its units, the padding length by its units; so a
// damaged record never makes a conversion read or write outside the two buffers.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "dictionary/zfsdTypes.h"
#include "foundation/zfllMemoryManager.h"
#include "platform/db/dbFieldDefs.h"
#include "platform/db/dbFields.h"
#include "platform/db/dbTypes.h"
#include "platform/rtl/rtlNumber.h"
#include "platform/rtl/rtlUnits.h"

namespace zf {

class TzfFieldDescriptor;
class TzfFieldsDescriptor;
class TzfBaseVclFieldMapper;

// A conversion method: its code and the mapper instance it runs on (none for class-level
// methods). aFrom and aTo are the field's bytes in the engine record and the framework's field
// buffer, or the other way round.
struct TzfVclMapperMethod {
  using TCode = void (*)(const void* aData, const void* aFrom, void* aTo);
  TCode Code = nullptr;
  const void* Data = nullptr;

  bool IsSet() const { return Code != nullptr; }
  void Clear() { *this = {}; }
  void operator()(const void* aFrom, void* aTo) const { Code(Data, aFrom, aTo); }
};
using TzfDynMapperMethodArray = std::vector<TzfVclMapperMethod>;

// Binds member function M of mapper instance aMapper.
template <auto M, class C>
TzfVclMapperMethod zfVclMapperMethod(C* aMapper) {
  return {[](const void* aData, const void* aFrom, void* aTo) {
            (static_cast<C*>(const_cast<void*>(aData))->*M)(aFrom, aTo);
          },
          aMapper};
}

// Class reference of a mapper class: the class-level operations the entry points call.
class TzfVclFieldMapperClassInfo {
 public:
  virtual ~TzfVclFieldMapperClassInfo() = default;
  virtual const char16_t* ClassName() const = 0;
  // The engine field type the class serves.
  virtual TzfFieldType GetZofrinType() const = 0;
  // The framework's field type of its fields.
  virtual db::TFieldType GetVclFieldType() const = 0;
  // Fills in type and size (and adds attributes) for a field of this class.
  virtual void InternalMapZofrinDescriptorToVcl(const TzfFieldDescriptor& aFieldDescriptor, db::TFieldType& aFieldType,
                                                uint16_t& aSize, db::TFieldAttributes& aAttributes) const = 0;
  // Sets both methods; answers the instance they run on (owned by the caller) or none.
  virtual std::unique_ptr<TzfBaseVclFieldMapper> InternalGetMapperForDescriptor(
      TzfFieldDescriptor& aFieldDescriptor, TzfVclMapperMethod& aMapperZofrinToVcl,
      TzfVclMapperMethod& aMapperVclToZofrin) const = 0;
  // Adds the engine field of a field definition (the padding classes make it fixed-width when
  // the definition asks for it).
  virtual TzfFieldDescriptor* InternalAddDescriptorForFieldDef(TzfFieldsDescriptor& aFieldsDescriptor,
                                                               const db::TFieldDef& aFieldDef) const;
  // The engine type and storage length for a parameter of framework size aParamSize.
  virtual void InternalMapParamTypeAndSizeToZofrin(int32_t aParamSize, TzfFieldType& aZofrinType,
                                                   int32_t& aZofrinSize) const = 0;
  virtual db::TFieldType InternalMapZofrinToParamType() const { return GetVclFieldType(); }
};
using TzfVclFieldMapperClass = const TzfVclFieldMapperClassInfo*;

// The lookup tables, filled while the unit is started (empty otherwise).
extern std::array<TzfVclFieldMapperClass, zfFieldTypeCount> zfVclMapperByZofrinType;
extern std::array<TzfVclFieldMapperClass, db::FieldTypeCount> zfVclMapperByVclType;

class TzfBaseVclFieldMapper : public TzfObject {
 public:
  // Type, size and attributes of the framework field of an engine field: attributes start
  // empty (hidden and read-only for a field clients may not see, required for a required one),
  // type ftUnknown and size 0 unless the field's type has a mapper.
  static void MapZofrinDescriptorToVcl(const TzfFieldDescriptor& aFieldDescriptor, db::TFieldType& aFieldType,
                                       uint16_t& aSize, db::TFieldAttributes& aAttributes);
  // The two conversion methods of an engine field (both cleared first; none for a field clients
  // may not see). Answers the mapper instance the methods run on, which the caller owns and keeps
  // while it uses them, or none for class-level methods.
  static std::unique_ptr<TzfBaseVclFieldMapper> GetMapperForDescriptor(TzfFieldDescriptor& aFieldDescriptor,
                                                                       TzfVclMapperMethod& aMapperZofrinToVcl,
                                                                       TzfVclMapperMethod& aMapperVclToZofrin);
  // Adds to aFieldsDescriptor the engine field for aFieldDef and answers it; nullptr when the
  // definition's type has no engine counterpart. AddField's errors (10038, 10009) pass on.
  static TzfFieldDescriptor* AddDescriptorForFieldDef(TzfFieldsDescriptor& aFieldsDescriptor,
                                                      const db::TFieldDef& aFieldDef);
  // The framework type of an engine type (ftUnknown without a mapper).
  static db::TFieldType MapZofrinToParamType(TzfFieldType aZofrinType);
  // aZofrinSize := 0; for a framework type with a mapper, its engine type and storage length.
  static void MapParamTypeAndSizeToZofrin(db::TFieldType aParamType, int32_t aParamSize, TzfFieldType& aZofrinType,
                                          int32_t& aZofrinSize);

  // Tells an instance which framework field it serves (string mappers keep a TStringField).
  virtual void Bind(db::TField* aField) {}
};

class TzfStaticVclFieldMapper : public TzfBaseVclFieldMapper {};
class TzfInstantiatedVclFieldMapper : public TzfBaseVclFieldMapper {};

// zftBCD: a Currency in the engine, a TBcd in the framework.
class TzfBcdVclFieldMapper : public TzfInstantiatedVclFieldMapper {
 public:
  // Precision := units, decimals := decimals; precision 0 takes decimals 4 unless they are 1..4
  // and becomes 16 + decimals. Writes normalise unless the field is (20, 4).
  explicit TzfBcdVclFieldMapper(const TzfFieldDescriptor& aFieldDescriptor);
  // The Currency as a TBcd of precision 32 and 4 decimals (9985 when digits would be lost).
  void MapZofrinDataToVcl(const void* aFrom, void* aTo);
  // The TBcd cut to the field's precision and decimals (lost integer digits: 9985), as Currency.
  void MapVclDataToZofrin(const void* aFrom, void* aTo);

  int32_t bcdfmPrecision;
  int32_t bcdfmDecimals;
  bool bcdfmNeedNormalize;
};

// zftFmtBCD: the leading fdLength bytes of a TBcd in the engine, the whole TBcd in the framework.
class TzfFmtBcdVclFieldMapper : public TzfInstantiatedVclFieldMapper {
 public:
  explicit TzfFmtBcdVclFieldMapper(const TzfFieldDescriptor& aFieldDescriptor);
  void MapZofrinDataToVcl(const void* aFrom, void* aTo);
  void MapVclDataToZofrin(const void* aFrom, void* aTo);

  int32_t fbfmPrecision;
  int32_t fbfmDecimals;
  int32_t fbfmLength;
};

class TzfVariableSizeVclFieldMapper : public TzfBaseVclFieldMapper {
 public:
  explicit TzfVariableSizeVclFieldMapper(int32_t aUnits) : vsvfmUnits(aUnits < 0 ? 0 : aUnits) {}
  virtual void MapZofrinDataToVcl(const void* aFrom, void* aTo) = 0;
  virtual void MapVclDataToZofrin(const void* aFrom, void* aTo) = 0;

  int32_t vsvfmUnits;
};

// zftByteArray: units bytes both ways.
class TzfByteArrayVclFieldMapper : public TzfVariableSizeVclFieldMapper {
 public:
  using TzfVariableSizeVclFieldMapper::TzfVariableSizeVclFieldMapper;
  void MapZofrinDataToVcl(const void* aFrom, void* aTo) override;
  void MapVclDataToZofrin(const void* aFrom, void* aTo) override;
};

class TzfBasePaddingVclFieldMapper : public TzfVariableSizeVclFieldMapper {
 public:
  using TzfVariableSizeVclFieldMapper::TzfVariableSizeVclFieldMapper;
  virtual void MapZofrinDataToVclPadded(const void* aFrom, void* aTo) = 0;
  virtual void MapVclDataToZofrinPadded(const void* aFrom, void* aTo) = 0;
  // The padding length, never above the units (the framework buffer holds units characters).
  void SetPadding(int32_t aPadding);

  uint16_t bpvfmPadding = 0;
};

// 8-bit text: the engine form is the descendant's (length byte or terminator), the framework's
// is the characters and a 0 byte in units + 1 bytes.
class TzfBaseStringVclFieldMapper : public TzfBasePaddingVclFieldMapper {
 public:
  using TzfBasePaddingVclFieldMapper::TzfBasePaddingVclFieldMapper;
  void MapZofrinDataToVcl(const void* aFrom, void* aTo) override;
  void MapVclDataToZofrin(const void* aFrom, void* aTo) override;
  void MapZofrinDataToVclPadded(const void* aFrom, void* aTo) override;
  void MapVclDataToZofrinPadded(const void* aFrom, void* aTo) override;
  // Translating forms: between bsvfmStorageCodepage and the client code page while the bound
  // TStringField transliterates, else the plain (padded) form. A stored text that does not fit the
  // framework buffer in the client code page raises the operating-system error; a text that does
  // not fit the field in the storage code page raises "Insufficient field size after translation
  // into storage codepage".
  void MapZofrinDataToVclTranslate(const void* aFrom, void* aTo);
  void MapVclDataToZofrinTranslate(const void* aFrom, void* aTo);
  void MapZofrinDataToVclTranslatePadded(const void* aFrom, void* aTo);
  void MapVclDataToZofrinTranslatePadded(const void* aFrom, void* aTo);
  void Bind(db::TField* aField) override;

  db::TStringField* bsvfmField = nullptr;
  uint16_t bsvfmStorageCodepage = 0;

 protected:
  // The stored characters, bounded by the units.
  virtual std::string_view StoredText(const uint8_t* aFrom) const = 0;
  // Stores aText (at most units bytes) in the engine form.
  virtual void StoreText(std::string_view aText, uint8_t* aTo) const = 0;
  virtual const char16_t* ClassNameText() const = 0;

 private:
  bool Translating() const;
  void ToVclTranslated(const void* aFrom, void* aTo, bool aPadded);
  void ToZofrinTranslated(const void* aFrom, void* aTo, bool aPadded);
};

// zftShortString: a length byte and up to units characters.
class TzfShortStringVclFieldMapper : public TzfBaseStringVclFieldMapper {
 public:
  using TzfBaseStringVclFieldMapper::TzfBaseStringVclFieldMapper;

 protected:
  std::string_view StoredText(const uint8_t* aFrom) const override;
  void StoreText(std::string_view aText, uint8_t* aTo) const override;
  const char16_t* ClassNameText() const override { return u"TzfShortStringVclFieldMapper"; }
};

// zftNullString: up to units characters and a 0 byte.
class TzfNullStringVclFieldMapper : public TzfBaseStringVclFieldMapper {
 public:
  using TzfBaseStringVclFieldMapper::TzfBaseStringVclFieldMapper;

 protected:
  std::string_view StoredText(const uint8_t* aFrom) const override;
  void StoreText(std::string_view aText, uint8_t* aTo) const override;
  const char16_t* ClassNameText() const override { return u"TzfNullStringVclFieldMapper"; }
};

// zftWideString: up to units UTF-16LE units and a 0 unit; the framework's form is the same in
// host order in (units + 1) * 2 bytes. No translation.
class TzfWideStringVclFieldMapper : public TzfBasePaddingVclFieldMapper {
 public:
  using TzfBasePaddingVclFieldMapper::TzfBasePaddingVclFieldMapper;
  void MapZofrinDataToVcl(const void* aFrom, void* aTo) override;
  void MapVclDataToZofrin(const void* aFrom, void* aTo) override;
  void MapZofrinDataToVclPadded(const void* aFrom, void* aTo) override;
  void MapVclDataToZofrinPadded(const void* aFrom, void* aTo) override;
};

// Fills the lookup tables at start and clears them at stop.
rtl::TUnitInit& zfdbConversionUnit();

}  // namespace zf
