// Fuzzes the reading of native field values. Input: field type, code page selector, decimals,
// then the field's bytes (their count is the field length). Reading damaged bytes may fail only
// with the engine's or the run time's exceptions, never read past the field, crash or hang. A value
// read successfully must also write back into a field of the same length without fault.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dictionary/zfsdNativeVariantConverter.h"
#include "platform/rtl/rtlException.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < 3) return 0;
  static const uint16_t kCodePages[] = {0, 1252, 65001, 932, 1};
  auto type = static_cast<zf::TzfFieldType>(aData[0] % 32);
  uint16_t cp = kCodePages[aData[1] % 5];
  int32_t decpl = aData[2] % 8;
  // An exact-size copy, so any read past the field is caught by the sanitizer.
  std::vector<uint8_t> field(aData + 3, aData + aSize);
  int32_t length = static_cast<int32_t>(field.size());
  zf::rtl::Variant v;
  try {
    zf::VariantFromBuffer(type, cp, length, decpl, field.data(), length, v);
  } catch (const zf::rtl::Exception&) {
    return 0;
  }
  try {
    std::vector<uint8_t> out(field.size());
    zf::VariantToBuffer(type, cp, length, decpl, v, out.data(), length);
    zf::TByteDynArray bytes;
    zf::VariantToByteArray(type, cp, length, decpl, bytes, v);
  } catch (const zf::rtl::Exception&) {
  }
  return 0;
}
