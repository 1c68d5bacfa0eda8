// Fuzzes the exception-data decoder: the input is the raw "EDV" stream. Whatever decodes must
// list and write itself again; damaged input may fail only with the reader's errors or the
// engine's "Incompatible stream".
#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/zfllException.h"
#include "foundation/zfllExceptionData.h"
#include "foundation/zfllStreams.h"
#include "platform/rtl/rtlException.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  std::vector<uint8_t> bytes(aData, aData + aSize);
  zf::TzfStaticMemoryStream stream(bytes.data(), static_cast<int32_t>(bytes.size()));
  try {
    zf::TzfExceptionDataValueRef value;
    {
      zf::TzfReader reader(stream);
      value = zf::zfReadExceptionData(reader);
    }
    (void)value->ToString();
    (void)zf::zfStringToExceptionData(value->SaveToString(30900));
  } catch (const zf::EzfBaseException& e) {
    if (e.GetErrorCode() != 15498) __builtin_trap();
  } catch (const zf::rtl::EReadError&) {
  } catch (const zf::rtl::EIntError&) {
  }
  return 0;
}
