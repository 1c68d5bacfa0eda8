// Fuzzes the decoding of a memo field's stored BLOB bytes into text, the step every memo of a
// salvaged record takes on its way to the tool's copy-back. Input: byte 0 chooses a wide memo
// (bit 7) and the storage code page of the memo's locale (the rest); the remaining bytes are the
// BLOB's content. A wide memo must give exactly half its byte count in UTF-16 units (an odd last
// byte dropped) and never read past the bytes; a memo of any code page must decode without a
// crash, answering the run time's or the engine's exceptions at most.
#include <cstddef>
#include <cstdint>

#include "client/zfdbBlob.h"
#include "client/zfdbStartup.h"
#include "foundation/zfllException.h"
#include "platform/rtl/rtlException.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const bool started = (zf::zfStartClient(), true);
  (void)started;
  if (aSize < 1) return 0;
  static const uint16_t kCodePages[] = {0, 850, 1250, 1251, 1252, 932, 936, 949, 950, 65001, 20127, 437};
  const bool wide = (aData[0] & 0x80) != 0;
  const uint16_t codePage = kCodePages[(aData[0] & 0x7F) % (sizeof(kCodePages) / sizeof(kCodePages[0]))];
  const size_t length = aSize - 1;
  try {
    const zf::rtl::UnicodeString text = zf::TzfMemoField::DecodeMemo(aData + 1, length, wide, codePage);
    if (wide && text.size() != length / 2) __builtin_trap();
    if (!wide && text.size() > length * 2) __builtin_trap();  // no code page makes more than 2 units of a byte
  } catch (const zf::EzfBaseException&) {
  } catch (const zf::rtl::Exception&) {
  }
  return 0;
}
