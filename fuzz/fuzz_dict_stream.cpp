// Fuzzes reading a "DICT" stream into a data dictionary. A damaged stream must be refused with an
// engine error code (leaving the dictionary at its defaults), never crash, hang, leak or allocate
// beyond what the input can hold. A stream that reads must also write back for the current client
// and read again equal.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdStartup.h"
#include "foundation/zfllConst.h"
#include "foundation/zfllException.h"
#include "foundation/zfllStreams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const bool started = [] {
    zf::zfStartDictionary();
    return true;
  }();
  (void)started;
  // An exact-size copy, so any read past the stream is caught by the sanitizer.
  std::vector<uint8_t> bytes(aData, aData + aSize);
  zf::TzfStaticMemoryStream stream(bytes.data(), static_cast<int32_t>(bytes.size()));
  zf::TzfDataDictionary dict;
  try {
    dict.ReadFromStream(stream, u"Fuzz");
  } catch (const zf::EzfBaseException&) {
    return 0;
  }
  zf::TzfMemoryStream out(-1);
  try {
    dict.WriteToStream(out, zf::zfEngineVersion);
  } catch (const zf::EzfBaseException&) {
    // A stream may hold what the writer refuses (a stored default that no longer fits its field).
    return 0;
  }
  out.SetPosition(0);
  zf::TzfDataDictionary again;
  again.ReadFromStream(out, u"Fuzz");
  if (!again.IsEqual(&dict)) __builtin_trap();
  return 0;
}
