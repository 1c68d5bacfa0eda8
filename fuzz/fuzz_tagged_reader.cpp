// Fuzzes the tagged value reader. The first input byte gives the number (up to 15) of operation
// bytes that follow; the rest is the stream. The operations are applied in turn, round and round,
// until the stream is used up or a read fails. A read of damaged input may fail only with the
// filer's or the run time's own exceptions, never crash, hang or allocate beyond the input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/zfllStreams.h"
#include "foundation/zfllStreamsRW.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlVariant.h"

namespace {

void Apply(zf::TzfReader& r, uint8_t aOp) {
  switch (aOp % 21) {
    case 0: r.SkipValue(); break;
    case 1: r.ReadInteger(); break;
    case 2: r.ReadInt64(); break;
    case 3: r.ReadBoolean(); break;
    case 4: r.ReadString(); break;
    case 5: r.ReadWideString(); break;
    case 6: r.ReadIdent(); break;
    case 7: r.ReadFloat(); break;
    case 8: r.ReadDouble(); break;
    case 9: r.ReadSingle(); break;
    case 10: r.ReadCurrency(); break;
    case 11: r.ReadDate(); break;
    case 12: r.ReadChar(); break;
    case 13: r.ReadBytes(); break;
    case 14: r.ReadGuid(); break;
    case 15: { std::vector<zf::rtl::UnicodeString> v; r.ReadStrings(v); break; }
    case 16: { uint8_t b[8]; r.ReadBinary(b, aOp % 9); break; }
    case 17: r.ReadListBegin(); break;
    case 18: r.ReadListEnd(); break;
    case 19: r.ReadVariant(); break;
    default: r.EndOfList(); r.ReadValue(); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < 1) return 0;
  size_t nOps = aData[0] % 16;
  if (aSize < 1 + nOps) return 0;
  std::vector<uint8_t> ops(aData + 1, aData + 1 + nOps);
  if (ops.empty()) ops.push_back(0);
  std::vector<uint8_t> bytes(aData + 1 + nOps, aData + aSize);
  zf::TzfStaticMemoryStream stream(bytes.data(), static_cast<int32_t>(bytes.size()));
  try {
    zf::TzfReader reader(stream);
    for (size_t i = 0; reader.BytesLeft() > 0 && i < 100000; ++i) Apply(reader, ops[i % ops.size()]);
  } catch (const zf::rtl::EReadError&) {
  } catch (const zf::rtl::EIntError&) {
  }
  return 0;
}
