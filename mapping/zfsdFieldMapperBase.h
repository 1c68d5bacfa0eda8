// The field mapper registry: the 31 x 31 matrix of converters from one field type to another.
//
// A field mapper converts the value of one field of a source record buffer into the value of one
// field of a target record buffer. Mapper classes are registered per pair (source type, target
// type); a cell may hold several classes, tried from the last registered to the first until one
// sets a method. A class either sets a class-level method (no object exists) or makes an instance
// that keeps what the conversion needs for this one pair of fields and owns the method's data.
//
// Results of a mapping method:
//   0      the converted value was written to the target
//   10002  the value does not fit the target (the target may be written partly)
//   1      there is no value to store: the caller stores the default value or NULL
//
// The data-loss action chooses the method: under dlaBestFit a value that does not fit is brought
// into range and stored; under dlaFail and dlaNull a checking method answers 10002, or an
// unchecked one where the mapper judges at construction that every source value fits. dlaNull
// never reaches a method: the field mapper engine turns a failure into the default or NULL.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "dictionary/zfsdTypes.h"
#include "foundation/zfllException.h"
#include "foundation/zfllMemoryManager.h"
#include "platform/rtl/rtlUnits.h"

namespace zf {

class TzfFieldDescriptor;
class TzfFieldMapperDescriptor;
class IzfMapperCursor;
class TzfBaseFieldMapper;

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseFieldMapperException, EzfBaseException)

// What a mapping does with a value that does not fit (stored as one byte: its ordinal).
enum class TzfDataLossAction : uint8_t { dlaFail = 0, dlaNull = 1, dlaBestFit = 2 };
using enum TzfDataLossAction;

// "dlaFail", "dlaNull", "dlaBestFit"; an out-of-range value gives "dlaFail".
const char16_t* zfDataLossActionName(TzfDataLossAction aAction);
// The action named aName (case ignored); False when the name names none.
bool zfDataLossActionFromName(rtl::UnicodeStringView aName, TzfDataLossAction& aAction);

// A bound mapping method: the code and the data it works on (a mapper instance, or the mapper's
// class for a class-level method). aSource and aTarget point at the field's first byte inside the
// source and target record buffers.
struct TzfMappingMethod {
  using TCode = uint32_t (*)(const void* aData, const uint8_t* aSource, uint8_t* aTarget);
  TCode Code = nullptr;
  const void* Data = nullptr;

  bool IsSet() const { return Code != nullptr; }
  void Clear() { *this = {}; }
  uint32_t operator()(const uint8_t* aSource, uint8_t* aTarget) const { return Code(Data, aSource, aTarget); }
};

// Binds member function M of mapper instance aMapper.
template <auto M, class C>
TzfMappingMethod zfMapperMethod(C* aMapper) {
  return {[](const void* aData, const uint8_t* aSource, uint8_t* aTarget) -> uint32_t {
            return (static_cast<C*>(const_cast<void*>(aData))->*M)(aSource, aTarget);
          },
          aMapper};
}

// Class reference of a mapper class: its name and its class-level TryCreateMapper.
struct TzfFieldMapperClass {
  // Clears aMapper; for a pair this class offers under these settings either sets a class-level
  // method (with the class as data) and answers nullptr, or answers a new instance that has set
  // aMapper to one of its methods. Leaves aMapper unset when the pair is not offered. A nullptr
  // aMapperDesc counts as dlaFail; the cursors may be nullptr.
  using TTryCreate = std::unique_ptr<TzfBaseFieldMapper> (*)(
      const TzfFieldMapperClass& aClass, TzfFieldDescriptor& aSourceField, IzfMapperCursor* aSourceCursor,
      TzfFieldDescriptor& aTargetField, IzfMapperCursor* aTargetCursor, const TzfFieldMapperDescriptor* aMapperDesc,
      TzfMappingMethod& aMapper);
  const char16_t* Name;
  TTryCreate TryCreateMapper;
};

// Root of all mapper classes. Instances hold per-pair state; classes without state only supply
// class-level methods.
class TzfBaseFieldMapper : public TzfObject {
 public:
  virtual ~TzfBaseFieldMapper() = default;

  static const TzfFieldMapperClass& ClassInfo();

  // The converter for two concrete fields: walks cell [source type][target type] from the last
  // registered class to the first until one sets aMapper. Answers the instance the winning class
  // made (the caller owns it and calls the method only while it lives), or nullptr for a
  // class-level method, an empty cell or no method. An unset aMapper means the pair cannot be
  // mapped under these settings; nothing is raised for it.
  static std::unique_ptr<TzfBaseFieldMapper> CreateMapper(TzfFieldDescriptor& aSourceField,
                                                          IzfMapperCursor* aSourceCursor,
                                                          TzfFieldDescriptor& aTargetField,
                                                          IzfMapperCursor* aTargetCursor,
                                                          const TzfFieldMapperDescriptor* aMapperDesc,
                                                          TzfMappingMethod& aMapper);
  // The same for the fields that aMapperDesc names in the two cursors' tables (case ignored);
  // a missing field raises 10038 "Invalid field name.", the source being looked up first.
  static std::unique_ptr<TzfBaseFieldMapper> CreateMapper(IzfMapperCursor& aSourceCursor,
                                                          IzfMapperCursor& aTargetCursor,
                                                          const TzfFieldMapperDescriptor& aMapperDesc,
                                                          TzfMappingMethod& aMapper);
};

// Little-endian integers in record buffers (a BLOB number, an auto-increment value).
template <typename T>
T zfLoadLE(const uint8_t* p) {
  std::make_unsigned_t<T> v = 0;
  for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<std::make_unsigned_t<T>>(std::make_unsigned_t<T>(p[i]) << (8 * i));
  return static_cast<T>(v);
}
template <typename T>
void zfStoreLE(uint8_t* p, T aValue) {
  const auto v = static_cast<std::make_unsigned_t<T>>(aValue);
  for (size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A class-level method that copies the field's N bytes unchanged.
template <size_t N>
uint32_t zfCopyFieldBytes(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  std::memcpy(aTarget, aSource, N);
  return 0;
}

// Whether a method should cut values to fit: only with a descriptor whose action is dlaBestFit.
bool zfIsBestFit(const TzfFieldMapperDescriptor* aMapperDesc);

// Appends aClass at the end of cell [aSourceType][aTargetType]. No duplicate check: a class
// registered later for an occupied cell is tried first. The cells are emptied when the registry
// unit stops.
void zfRegisterFieldMapper(const TzfFieldMapperClass& aClass, TzfFieldType aSourceType, TzfFieldType aTargetType);
// The classes of a cell in registration order (for tests and diagnostics).
std::vector<const TzfFieldMapperClass*> zfFieldMapperCell(TzfFieldType aSourceType, TzfFieldType aTargetType);

// Starts and stops the registry (its stop empties every cell).
rtl::TUnitInit& zfsdFieldMapperBaseUnit();

}  // namespace zf
