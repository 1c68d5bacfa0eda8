// TzfPersistent: the persistent base of the server object model and of every class found by
// name in a registry (engines and descriptors). Its instances come from the engine memory
// manager; it describes itself into exception data with its class name. Interfaces taken from it
// count no references: its lifetime is its owner's business.
#pragma once
#include "foundation/zfllExceptionData.h"
#include "foundation/zfllMemoryManager.h"
#include "platform/rtl/rtlText.h"

namespace zf {

class TzfPersistent : public TzfObject, public IzfExceptionDataProvider {
 public:
  ~TzfPersistent() override = default;

  // The original class name, shown in messages, registries and exception data.
  virtual const char16_t* ClassName() const { return u"TzfPersistent"; }

  // Adds the string value "ClassName".
  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;
};

}  // namespace zf
