#include "platform/rtl/rtlException.h"

namespace zf::rtl {

const char* Exception::what() const noexcept {
  try {
    if (FWhat.empty()) FWhat = Utf16ToUtf8(FMessage);
    return FWhat.c_str();
  } catch (...) {
    return "exception";
  }
}

void RaiseOutOfMemory() { throw EOutOfMemory(kSOutOfMemory); }
void RaiseInvalidPointer() { throw EInvalidPointer(kSInvalidPointer); }
void RaiseRangeError() { throw ERangeError(kSRangeError); }
void RaiseIntOverflow() { throw EIntOverflow(kSIntOverflow); }
void Abort() { throw EAbort(kSOperationAborted); }

void AssertionFailure(const char* aUnit, int aLine) {
  throw EAssertionFailed(u"Assertion failure (" + u16(aUnit) + u", line " + IntToStr(aLine) + u")");
}

}  // namespace zf::rtl
