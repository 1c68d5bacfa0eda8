#include "foundation/zfllConvertException.h"

#include <cxxabi.h>

#include <cstdlib>
#include <new>
#include <typeinfo>

#include "foundation/zfllConst.h"
#include "foundation/zfllException.h"
#include "foundation/zfllExceptionData.h"

namespace zf {

namespace {

UnicodeString ClassNameOf(const std::exception& aException) {
  if (const auto* e = dynamic_cast<const zf::rtl::Exception*>(&aException)) return zf::rtl::u16(e->ClassName());
  int status = 0;
  char* name = abi::__cxa_demangle(typeid(aException).name(), nullptr, nullptr, &status);
  UnicodeString result = zf::rtl::u16(status == 0 && name ? name : typeid(aException).name());
  std::free(name);
  return result;
}

UnicodeString MessageOf(const std::exception& aException) {
  if (const auto* e = dynamic_cast<const zf::rtl::Exception*>(&aException)) return e->Message();
  return zf::rtl::u16(aException.what());
}

// The code and custom text for the exception (the steps that cannot fail on their own).
uint32_t Classify(const std::exception& aException, UnicodeString& aCustom) {
  const uint32_t code = zfExceptionCode(aException);
  if (const auto* be = dynamic_cast<const EzfBaseException*>(&aException)) {
    if (be->GetErrorCode() != 0) {
      if (be->GetExtendedMsg()) {
        aCustom = be->GetErrorString();
        const TzfCustomInfos& infos = be->CustomInfos();
        for (int i = 0; i < infos.Count(); ++i) aCustom += zfEncodeCustomInfo(infos[i].first, infos[i].second);
      }
    } else {
      aCustom = be->Message();
    }
    return code;
  }
  if (code == zfErrCvtOutOfMemory) return code;
  const UnicodeString className = ClassNameOf(aException);
  const UnicodeString message = MessageOf(aException);
  if (const auto* os = dynamic_cast<const zf::rtl::EOSError*>(&aException)) {
    aCustom = message + zfEncodeCustomInfo(u"OSError", zf::rtl::IntToStr(os->ErrorCode())) +
              zfEncodeCustomInfo(u"Exception.Class", className) + zfEncodeCustomInfo(u"Exception.Message", message);
    return code;
  }
  aCustom = zf::rtl::Format(u"Unexpected exception object raised: [%s] %s", {className, message}) +
            zfEncodeCustomInfo(u"Exception.Class", className) + zfEncodeCustomInfo(u"Exception.Message", message);
  return code;
}

uint32_t Convert(const std::exception* aException, const UnicodeString& aForeignName, TzfBaseLog* aLog,
                 IzfExceptionDataProvider* aSource, uint32_t aClientVersion) noexcept {
  uint32_t code = zfErrCvtUnexpected;
  UnicodeString custom;
  UnicodeString message;
  try {
    if (aException) {
      code = Classify(*aException, custom);
      message = MessageOf(*aException);
    } else {
      custom = zf::rtl::Format(u"Unexpected exception object raised: [%s] %s", {aForeignName, u""}) +
               zfEncodeCustomInfo(u"Exception.Class", aForeignName);
    }
  } catch (...) {
    // Building the text failed (out of memory, say): keep the code with whatever text there is.
  }
  const int32_t version = aClientVersion != 0 ? static_cast<int32_t>(aClientVersion) : zfGetThreadMinVersion();
  // The source describes itself; what it adds travels in the custom text as "$ExceptionData$".
  UnicodeString extra;
  if (aSource) {
    try {
      TzfExceptionDataRef data = zfCreateExceptionDataContainer(u"ExceptionData");
      aSource->AddExceptionData(*data);
      if (data->GetCount() > 0) {
        UnicodeString block = zfEncodeCustomInfo(zfCustomInfoExceptionData, data->SaveToString(version));
        // The readable listing serves only the log line.
        UnicodeString listing = aLog ? data->ToString() : UnicodeString();
        if (custom.empty()) custom = zfOrgMarker;
        custom += block;
        extra = std::move(listing);
      }
    } catch (...) {
      // A source that cannot describe itself leaves the conversion without exception data.
    }
  }
  // Code and text become the thread's last converted exception before anything else can fail.
  try {
    EzfBaseException::SetLastConvertedException(code, custom);
  } catch (...) {
  }
  if (aLog) {
    try {
      UnicodeString line = zf::rtl::Format(u"Exception Cvt: %s", {message});
      if (!extra.empty()) line += u"\r\n" + extra;
      aLog->WriteString(line, code, lpError, u"default", 0, zfLogBiasDefault);
    } catch (...) {
      // A log that cannot write must not turn the conversion into a second failure.
    }
  }
  return code;
}

}  // namespace

uint32_t zfExceptionCode(const std::exception& aException) noexcept {
  if (const auto* be = dynamic_cast<const EzfBaseException*>(&aException))
    return be->GetErrorCode() != 0 ? be->GetErrorCode() : zfErrCvtNoCode;
  if (dynamic_cast<const zf::rtl::EOSError*>(&aException)) return zfErrCvtOSError;
  if (dynamic_cast<const zf::rtl::EOutOfMemory*>(&aException) || dynamic_cast<const std::bad_alloc*>(&aException))
    return zfErrCvtOutOfMemory;
  return zfErrCvtUnexpected;
}

uint32_t zfConvertException(const std::exception& aException, TzfBaseLog* aLog, IzfExceptionDataProvider* aSource,
                            uint32_t aClientVersion) noexcept {
  return Convert(&aException, {}, aLog, aSource, aClientVersion);
}

uint32_t zfConvertException(std::exception_ptr aException, TzfBaseLog* aLog, IzfExceptionDataProvider* aSource,
                            uint32_t aClientVersion) noexcept {
  try {
    if (aException) std::rethrow_exception(aException);
  } catch (const std::exception& e) {
    return Convert(&e, {}, aLog, aSource, aClientVersion);
  } catch (...) {
  }
  return Convert(nullptr, u"(unknown exception object)", aLog, aSource, aClientVersion);
}

}  // namespace zf
