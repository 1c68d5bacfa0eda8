// Turning any caught exception into an engine error code.
//
// The code: an engine exception's own code (15520 when it has none), 11047 for an operating-system
// error, 9473 for out of memory, 15521 for anything else. The custom text built beside it carries
// what is needed to rebuild an equivalent engine exception later; code and text become the calling
// thread's last converted exception, and a log, when given, gets one "Exception Cvt: %s" line at
// ERROR. The converter never raises: a failure while collecting exception data or writing the log
// line is swallowed, and the code is still stored and returned.
#pragma once
#include <cstdint>
#include <exception>

#include "foundation/zfllComponent.h"

namespace zf {

inline constexpr uint32_t zfErrCvtNoCode = 15520;       // engine exception without a code
inline constexpr uint32_t zfErrCvtUnexpected = 15521;   // "Unexpected exception object raised: [%s] %s"
inline constexpr uint32_t zfErrCvtOSError = 11047;
inline constexpr uint32_t zfErrCvtOutOfMemory = 9473;

// aSource: the object on whose behalf the operation ran (adds its exception data), or nil.
// aClientVersion 0: the calling thread's minimum client version.
uint32_t zfConvertException(const std::exception& aException, TzfBaseLog* aLog, IzfExceptionDataProvider* aSource,
                            uint32_t aClientVersion = 0) noexcept;
// The same for whatever a catch (...) caught (an object that is not a std::exception counts as
// "anything else").
uint32_t zfConvertException(std::exception_ptr aException, TzfBaseLog* aLog, IzfExceptionDataProvider* aSource,
                            uint32_t aClientVersion = 0) noexcept;
// Only the code the conversion would answer: no text, no exception data, no log line, and the
// thread's last converted exception stays as it was. For a caller that handles the failure itself
// and passes nothing of it on.
uint32_t zfExceptionCode(const std::exception& aException) noexcept;

}  // namespace zf
