// The index layer's constructors of callback and simple-expression filter descriptors, installed in
// the abstract cursor while the layer runs, so that cursors below this layer can wrap a callback or
// an expression blob into a filter descriptor.
#pragma once
#include "platform/rtl/rtlUnits.h"

namespace zf {

rtl::TUnitInit& zfsdFilterFactoriesUnit();

}  // namespace zf
