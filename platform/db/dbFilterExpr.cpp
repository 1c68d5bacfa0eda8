#include "platform/db/dbFilterExpr.h"

#include "platform/db/dbConsts.h"

namespace zf::db {

std::vector<uint8_t> ParseFilterExpression(const UnicodeString& aText, TFilterOptions) {
  if (rtl::Trim(aText).empty()) return {};
  DatabaseErrorFmt(kSFilterNotSupported, {aText});
}

}  // namespace zf::db
