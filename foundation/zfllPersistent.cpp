#include "foundation/zfllPersistent.h"

namespace zf {

void TzfPersistent::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  aContainer.AddString(u"ClassName", ClassName());
}

}  // namespace zf
