#include "foundation/zfllTypes.h"

namespace zf {

rtl::TUnitInit& zfllTypesUnit() {
  static rtl::TUnitInit unit("zfllTypes", nullptr, nullptr);
  return unit;
}

}  // namespace zf
