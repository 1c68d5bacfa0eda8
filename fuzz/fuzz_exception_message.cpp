// Fuzzes the parts of the engine exception that read text from outside: custom texts (which may
// come from another thread's converted exception or from a task status) with their custom
// information blocks and table-text markers, and the Base64 decoder used for exception data.
// The first 4 bytes give the error code; every further byte is one UTF-16 unit (so "þ" is 0xFE).
// Construction may fail only with the run time's own exceptions, never crash or hang.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "foundation/zfllBase64.h"
#include "foundation/zfllException.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < 4) return 0;
  uint32_t code;
  std::memcpy(&code, aData, 4);
  std::u16string text;
  for (size_t i = 4; i < aSize; ++i) text.push_back(static_cast<char16_t>(aData[i]));

  zf::EzfBaseException withCode(code, text);
  (void)withCode.GetProcessedErrorString();
  zf::EzfBaseException withoutCode(text);
  (void)withoutCode.CustomInfos().Lines();
  zf::EzfBaseException::zfSetMessage(code, text);
  zf::EzfBaseException pending(code);
  (void)zf::zfTidyMessage(text);

  const std::string bytes(reinterpret_cast<const char*>(aData + 4), aSize - 4);
  try {
    (void)zf::Base64ToStr(bytes);
  } catch (const zf::rtl::Exception&) {
  }
  if (zf::Base64ToStr(zf::StrToBase64(bytes)) != bytes) __builtin_trap();
  return 0;
}
