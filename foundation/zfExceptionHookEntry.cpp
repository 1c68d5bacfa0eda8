// The run time's raise entry: every C++ raise of the process comes here first (this definition
// stands in front of the C++ library's), is reported by the exception hook, and goes on to the next
// definition in the search order (a sanitizer's, else the library's) unchanged. It has a unit of
// its own because the compiler's own declaration of the entry takes the type as a plain pointer.
#include <dlfcn.h>

#include <exception>
#include <typeinfo>

#include "foundation/zfExceptionHook.h"

bool zf::zfRaiseEntryLinked = false;

extern "C" void __cxa_throw(void* aObject, void* aType, void (*aDestructor)(void*)) {
  zf::zfReportRaise(aObject, static_cast<const std::type_info*>(aType), __builtin_return_address(0));
  using TThrow = void (*)(void*, void*, void (*)(void*));
  static const TThrow next = reinterpret_cast<TThrow>(::dlsym(RTLD_NEXT, "__cxa_throw"));
  if (!next) std::terminate();
  next(aObject, aType, aDestructor);
  __builtin_unreachable();
}
