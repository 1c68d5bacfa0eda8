#include "platform/db/dbConsts.h"

namespace zf::db {

void DatabaseError(const UnicodeString& aMessage, const rtl::TComponent* aComponent) {
  if (aComponent && !aComponent->Name().empty()) throw EDatabaseError(aComponent->Name() + u": " + aMessage);
  throw EDatabaseError(aMessage);
}

void DatabaseErrorFmt(const char16_t* aMessage, rtl::FormatArgs aArgs, const rtl::TComponent* aComponent) {
  DatabaseError(rtl::Format(aMessage, aArgs), aComponent);
}

}  // namespace zf::db
