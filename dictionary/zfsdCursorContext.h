// What the dictionary's run-time engines ask of the cursor they serve.
//
// Default-value and validation engines are made for one server cursor (or client dataset), but
// the server's cursor classes sit far above the dictionary. The engines therefore hold the cursor
// through this small abstract class, which the server's abstract cursor implements; nil means no
// cursor (a client dataset, or a test).
#pragma once
#include "platform/rtl/rtlText.h"

namespace zf {

class IzfCursorContext {
 public:
  // The user name of the session the cursor belongs to (through its database).
  virtual rtl::UnicodeString GetSessionUserName() = 0;

 protected:
  ~IzfCursorContext() = default;
};

}  // namespace zf
