#include "dictionary/zfsdTypes.h"

namespace zf {

static_assert(static_cast<int>(zfLastFieldType) + 1 == zfFieldTypeCount);

}  // namespace zf
