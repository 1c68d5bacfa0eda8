// What a client call raises: the code or the message of the database error, for the tests to compare.
#pragma once
#include <functional>

#include "client/zfdbBase.h"
#include "platform/db/dbConsts.h"

namespace zf::test {

// The code of the EzfDatabaseError aWork raises; 0 when it raises none.
inline uint32_t ClientErrorCode(const std::function<void()>& aWork) {
  try {
    aWork();
  } catch (const EzfDatabaseError& e) {
    return e.ErrorCode();
  }
  return 0;
}

// Whether the message of the database error aWork raises contains aText.
inline bool RaisesText(const std::function<void()>& aWork, rtl::UnicodeStringView aText) {
  try {
    aWork();
  } catch (const db::EDatabaseError& e) {
    return e.Message().find(aText) != UnicodeString::npos;
  }
  return false;
}

// The message of the database error aWork raises; empty when it raises none.
inline UnicodeString ClientErrorText(const std::function<void()>& aWork) {
  try {
    aWork();
  } catch (const db::EDatabaseError& e) {
    return e.Message();
  }
  return {};
}

}  // namespace zf::test
