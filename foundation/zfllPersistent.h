// TzfPersistent: the persistent base of the server object model and of every class found by
// name in a registry (engines and descriptors). Its instances come from the engine memory
// manager; it describes itself into exception data with its class name.
#pragma once
#include "foundation/zfllMemoryManager.h"
#include "platform/rtl/rtlText.h"

namespace zf {

class TzfPersistent : public TzfObject {
 public:
  ~TzfPersistent() override = default;

  // The original class name, shown in messages, registries and exception data.
  virtual const char16_t* ClassName() const { return u"TzfPersistent"; }
};

}  // namespace zf
