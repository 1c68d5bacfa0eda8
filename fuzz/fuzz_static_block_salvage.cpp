// Fuzzes the salvage of one raw static data block. Input: one byte choosing the record length,
// then the block's bytes (a 4092-byte usable block, cut or zero-filled). Whatever the block holds,
// the checker and the salvage may only hand on whole records from inside the block: never raise,
// read past it, crash or hang; a block the checker passes hands on exactly its count of records.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "storage/zfseRecordEngineStatic.h"
#include "storage/zfsrTimeoutHandling.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < 1) return 0;
  static const uint32_t kLengths[] = {100, 37, 1, 8, 255, 1000, 4000, 13};
  constexpr uint32_t kU = 4092;
  zf::zfSetTimeout(0, true);
  const zf::TzfStaticGeometry geo = zf::zfStaticGeometry(kU, kLengths[aData[0] % 8]);
  // Exactly the usable bytes, so a read past them is caught by the sanitizer.
  std::vector<uint8_t> block(kU, 0);
  std::memcpy(block.data(), aData + 1, std::min<size_t>(aSize - 1, kU));
  const uint32_t number = zf::zfGetThisBlock(block.data());
  uint64_t sum = 0;
  uint32_t calls = 0;
  const zf::TzfRecordIterator it = [&](void*, int64_t, const uint8_t* aRec) {
    for (uint32_t i = 0; i < geo.RecordLength; ++i) sum += aRec[i];
    ++calls;
    return zf::TzfRecordIteratorResult::rirContinue;
  };
  zf::TzfRecoverStats st;
  zf::zfStaticRecoverBlock(block.data(), geo, number, nullptr, nullptr, it, nullptr, &st);
  if (st.BlockValid && calls != zf::zfGetLE16(block.data() + 30)) __builtin_trap();
  std::vector<uint8_t> copy(geo.RecordLength);
  zf::zfStaticRecoverBlock(block.data(), geo, number, nullptr, copy.data(), it, nullptr, &st);
  return sum == 0xFFFFFFFFFFFFFFFFull ? 1 : 0;
}
