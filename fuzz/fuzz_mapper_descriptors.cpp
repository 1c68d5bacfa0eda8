// Fuzzes the readers of the mapper descriptor streams. The first input byte chooses the family
// (table, record or field mapper descriptor); the rest is its stream, read through the family's
// CreateFromReader. Damaged input may only be refused with an engine code (15498, 15499) or the
// mapping list's duplicate error, never crash, hang, recurse without bound or allocate beyond the
// input. A stream that reads must write back and read again to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

#include "foundation/zfllConst.h"
#include "foundation/zfllStreams.h"
#include "mapping/zfsdTableMapperDescriptor.h"
#include "mapping/zfsrMappingStartup.h"
#include "platform/rtl/rtlException.h"
#include "tests/foundation/zfllWrittenBytes.h"

namespace {

using namespace zf;

using zf::test::Written;

// Reads one descriptor of family aFamily from aBytes and answers its stream written back.
std::vector<uint8_t> ReadAndWrite(uint8_t aFamily, std::vector<uint8_t> aBytes) {
  TzfStaticMemoryStream s(aBytes.data(), static_cast<int32_t>(aBytes.size()));
  TzfReader r(s);
  switch (aFamily % 3) {
    case 0: {
      auto d = TzfBaseTableMapperDescriptor::CreateFromReader(r);
      return Written([&](TzfWriter& w) { d->WriteToWriter(w, zfEngineVersion); });
    }
    case 1: {
      auto d = TzfBaseRecordMapperDescriptor::CreateFromReader(r);
      return Written([&](TzfWriter& w) { d->WriteToWriter(w, zfEngineVersion); });
    }
    default: {
      auto d = TzfFieldMapperDescriptor::CreateFromReader(r);
      return Written([&](TzfWriter& w) { d->WriteToWriter(w, zfEngineVersion); });
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zfStartMapping();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize == 0) return 0;
  const uint8_t family = aData[0];
  // An exact-size copy, so any read past the stream is caught by the sanitizer.
  std::vector<uint8_t> bytes(aData + 1, aData + aSize);
  std::vector<uint8_t> written;
  try {
    written = ReadAndWrite(family, bytes);
  } catch (const EzfBaseException& e) {
    if (e.ErrorCode() != zfErrIncompatibleStream && e.ErrorCode() != zfErrUnsupportedDescriptor) std::abort();
    return 0;
  } catch (const rtl::EStringListError&) {
    return 0;
  }
  // What was read writes back to a stream that reads to the same bytes again.
  if (ReadAndWrite(family, written) != written) std::abort();
  return 0;
}
