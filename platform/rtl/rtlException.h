// The exception root of the run-time layer and the platform's standard exception classes.
#pragma once
#include <cstdint>
#include <exception>
#include <limits>
#include <utility>
#include <string>
#include <type_traits>

#include "platform/rtl/rtlText.h"

namespace zf::rtl {

// Root of every exception the system raises. Its only state is the message text; derived classes
// tell where a failure arose by their class (ClassName gives the original class name, which
// messages and rules show).
class Exception : public std::exception {
 public:
  Exception() = default;
  explicit Exception(UnicodeString aMessage) : FMessage(std::move(aMessage)) {}
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;
  ~Exception() override = default;

  const UnicodeString& Message() const noexcept { return FMessage; }
  void SetMessage(UnicodeString aMessage) { FMessage = std::move(aMessage); FWhat.clear(); }
  virtual const char* ClassName() const noexcept { return "Exception"; }
  const char* what() const noexcept override;

 private:
  UnicodeString FMessage;
  mutable std::string FWhat;
};

// Declares an exception class that adds nothing but its class and name.
#define ZF_DECLARE_EXCEPTION(Name, Parent)                                  \
  class Name : public Parent {                                              \
   public:                                                                  \
    using Parent::Parent;                                                   \
    const char* ClassName() const noexcept override { return #Name; }       \
  };

ZF_DECLARE_EXCEPTION(EConvertError, Exception)
ZF_DECLARE_EXCEPTION(EStreamError, Exception)
ZF_DECLARE_EXCEPTION(EFilerError, EStreamError)
ZF_DECLARE_EXCEPTION(EReadError, EFilerError)
ZF_DECLARE_EXCEPTION(EWriteError, EFilerError)
ZF_DECLARE_EXCEPTION(EFCreateError, EStreamError)  // "Cannot create file "%s". %s"
ZF_DECLARE_EXCEPTION(EFOpenError, EStreamError)    // "Cannot open file "%s". %s"
ZF_DECLARE_EXCEPTION(EListError, Exception)
ZF_DECLARE_EXCEPTION(EStringListError, Exception)
ZF_DECLARE_EXCEPTION(EHeapException, Exception)
ZF_DECLARE_EXCEPTION(EOutOfMemory, EHeapException)
ZF_DECLARE_EXCEPTION(EInvalidPointer, EHeapException)
ZF_DECLARE_EXCEPTION(EIntError, Exception)
ZF_DECLARE_EXCEPTION(ERangeError, EIntError)
ZF_DECLARE_EXCEPTION(EIntOverflow, EIntError)
ZF_DECLARE_EXCEPTION(EDivByZero, EIntError)
ZF_DECLARE_EXCEPTION(EMathError, Exception)
ZF_DECLARE_EXCEPTION(EInvalidOp, EMathError)
ZF_DECLARE_EXCEPTION(EZeroDivide, EMathError)
ZF_DECLARE_EXCEPTION(EOverflow, EMathError)
ZF_DECLARE_EXCEPTION(EInvalidCast, Exception)
ZF_DECLARE_EXCEPTION(EVariantError, Exception)
ZF_DECLARE_EXCEPTION(EAssertionFailed, Exception)
ZF_DECLARE_EXCEPTION(EAbort, Exception)
ZF_DECLARE_EXCEPTION(EArgumentException, Exception)
ZF_DECLARE_EXCEPTION(ENotSupportedException, Exception)

// An operating-system failure with its error number.
class EOSError : public Exception {
 public:
  EOSError(UnicodeString aMessage, int aErrorCode) : Exception(std::move(aMessage)), FErrorCode(aErrorCode) {}
  int ErrorCode() const noexcept { return FErrorCode; }
  const char* ClassName() const noexcept override { return "EOSError"; }

 private:
  int FErrorCode;
};

// The platform's standard texts.
inline constexpr const char16_t* kSRangeError = u"Range check error";
inline constexpr const char16_t* kSIntOverflow = u"Integer overflow";
inline constexpr const char16_t* kSOutOfMemory = u"Out of memory";
inline constexpr const char16_t* kSInvalidPointer = u"Invalid pointer operation";
inline constexpr const char16_t* kSOperationAborted = u"Operation aborted";

[[noreturn]] void RaiseOutOfMemory();
[[noreturn]] void RaiseInvalidPointer();
[[noreturn]] void RaiseRangeError();
[[noreturn]] void RaiseIntOverflow();
[[noreturn]] void Abort();  // raises the silent EAbort

// Internal consistency check: raises EAssertionFailed "Assertion failure (unit, line N)".
[[noreturn]] void AssertionFailure(const char* aUnit, int aLine);
#define ZF_ASSERT(cond, unit)                                   \
  do {                                                          \
    if (!(cond)) ::zf::rtl::AssertionFailure((unit), __LINE__); \
  } while (0)

// Checked integer helpers for rules that rely on range or overflow checks.
template <typename To, typename From>
To RangeChecked(From aValue) {
  static_assert(std::is_integral_v<To> && std::is_integral_v<From>);
  if (!std::in_range<To>(aValue)) RaiseRangeError();
  return static_cast<To>(aValue);
}
template <typename T>
T CheckedAdd(T a, T b) {
  T r;
  if (__builtin_add_overflow(a, b, &r)) RaiseIntOverflow();
  return r;
}
template <typename T>
T CheckedSub(T a, T b) {
  T r;
  if (__builtin_sub_overflow(a, b, &r)) RaiseIntOverflow();
  return r;
}
template <typename T>
T CheckedMul(T a, T b) {
  T r;
  if (__builtin_mul_overflow(a, b, &r)) RaiseIntOverflow();
  return r;
}

}  // namespace zf::rtl
