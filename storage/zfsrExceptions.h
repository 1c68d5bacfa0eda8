// The exception root of the engine's server side: storage, sub-engines and the server objects
// raise descendants of EzfServerException; the numeric code, not the class, tells what went wrong.
#pragma once
#include "foundation/zfllException.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfServerException, EzfBaseException)

}  // namespace zf
