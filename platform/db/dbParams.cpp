#include "platform/db/dbParams.h"

#include "platform/db/dbConsts.h"

namespace zf::db {

TParam& TParams::Items(int32_t aIndex) const {
  if (aIndex < 0 || aIndex >= Count()) DatabaseError(kSFieldIndexError);
  return *FItems[static_cast<size_t>(aIndex)];
}

TParam& TParams::CreateParam(TFieldType aDataType, const UnicodeString& aName, TParamType aParamType) {
  FItems.push_back(std::make_unique<TParam>(aName, aDataType, aParamType));
  return *FItems.back();
}

TParam* TParams::FindParam(rtl::UnicodeStringView aName) const {
  for (const auto& p : FItems)
    if (rtl::SameText(p->Name(), aName)) return p.get();
  return nullptr;
}

TParam& TParams::ParamByName(rtl::UnicodeStringView aName) const {
  TParam* p = FindParam(aName);
  if (!p) DatabaseErrorFmt(kSParameterNotFound, {UnicodeString(aName)});
  return *p;
}

void TParams::AssignValues(const TParams& aSource) {
  for (const auto& s : aSource.FItems)
    if (TParam* p = FindParam(s->Name())) p->SetValue(s->Value());
}

}  // namespace zf::db
