// Parameter lists: named values with a data type and a direction, as statements and provider
// calls pass them.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/db/dbTypes.h"
#include "platform/rtl/rtlVariant.h"

namespace zf::db {

class TParam {
 public:
  TParam(const UnicodeString& aName, TFieldType aDataType, TParamType aParamType)
      : FName(aName), FDataType(aDataType), FParamType(aParamType) {}

  const UnicodeString& Name() const { return FName; }
  void SetName(const UnicodeString& aName) { FName = aName; }
  TFieldType DataType() const { return FDataType; }
  void SetDataType(TFieldType aType) { FDataType = aType; }
  TParamType ParamType() const { return FParamType; }
  void SetParamType(TParamType aType) { FParamType = aType; }
  const rtl::Variant& Value() const { return FValue; }
  // Assigning a value binds the parameter.
  void SetValue(const rtl::Variant& aValue) {
    FValue = aValue;
    FBound = true;
  }
  // Whether a value was assigned (a detail statement fills unbound ones from its master).
  bool Bound() const { return FBound; }
  void SetBound(bool aValue) { FBound = aValue; }
  // Null or Empty.
  bool IsNull() const { return FValue.IsEmptyOrNull(); }
  void Clear() { FValue = rtl::Variant::Null(); }
  void Assign(const TParam& aSource) { *this = aSource; }

 private:
  UnicodeString FName;
  TFieldType FDataType;
  TParamType FParamType;
  rtl::Variant FValue;
  bool FBound = false;
};

class TParams {
 public:
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  TParam& Items(int32_t aIndex) const;  // a bad index raises "Field index out of range"
  TParam& operator[](int32_t aIndex) const { return Items(aIndex); }
  TParam& CreateParam(TFieldType aDataType, const UnicodeString& aName, TParamType aParamType);
  void Clear() { FItems.clear(); }
  TParam* FindParam(rtl::UnicodeStringView aName) const;  // case ignored; nullptr when none
  TParam& ParamByName(rtl::UnicodeStringView aName) const;  // raises "Parameter '%s' not found"
  // Values of aSource's parameters copied into the parameters of the same names here.
  void AssignValues(const TParams& aSource);

 private:
  std::vector<std::unique_ptr<TParam>> FItems;
};

}  // namespace zf::db
