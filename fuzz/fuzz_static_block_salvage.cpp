// Fuzzes the salvage of one raw static data block. Input: one byte of options, then the block's
// bytes (a 4092-byte usable block, cut or zero-filled). Options: bits 0-2 choose the record length
// from the table below; bits 3-7, when not 0, make the iterator stop after that many records (the
// salvage must then hand on no more). Whatever the block holds, the checker and the salvage may only
// hand on whole records from inside the block: never raise, read past it, crash or hang; a block the
// checker passes hands on exactly its count of records, and the salvage hands on as many records
// through the caller's record pointer and copy buffer as straight from the block, and the same bytes.
//
// Seeds: run with ZF_FUZZ_WRITE_SEEDS=<folder> and the target writes there, for every record
// length it offers, blocks made by the engine's own block writer (records stored and some freed
// again, a full block) and damaged copies of them (a wrong count, a used slot on the free chain, a
// chain that loops), then exits. fuzz/corpus/fuzz_static_block_salvage holds them, and
// fuzz/corpus/fuzz_static_block_salvage.dict the block signature and the counts and links that
// sit on the edges of the geometries.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "storage/zfseRecordEngineStatic.h"
#include "storage/zfsrTimeoutHandling.h"

namespace {

const uint32_t kLengths[] = {100, 37, 1, 8, 255, 1000, 4000, 13};
constexpr uint32_t kU = 4092;

void WriteSeed(const std::string& aDir, const std::string& aName, uint8_t aLength, const std::vector<uint8_t>& aBlock) {
  std::ofstream o(aDir + "/" + aName, std::ios::binary | std::ios::trunc);
  o.put(static_cast<char>(aLength));
  o.write(reinterpret_cast<const char*>(aBlock.data()), static_cast<std::streamsize>(aBlock.size()));
}

void WriteSeeds(const std::string& aDir) {
  for (uint8_t l = 0; l < 8; ++l) {
    const zf::TzfStaticGeometry geo = zf::zfStaticGeometry(kU, kLengths[l]);
    const std::string len = std::to_string(kLengths[l]);
    std::vector<uint8_t> record(geo.RecordLength);
    // Sound: two thirds of the slots stored, every third of those freed again.
    std::vector<uint8_t> block(kU, 0);
    zf::zfStaticInitBlock(block.data(), geo, 7, 3);
    const uint32_t stored = geo.RecsPerBlock > 2 ? geo.RecsPerBlock * 2 / 3 : geo.RecsPerBlock;
    for (uint32_t i = 0; i < stored; ++i) {
      for (uint32_t b = 0; b < geo.RecordLength; ++b) record[b] = static_cast<uint8_t>(i * 7 + b);
      zf::zfStaticStoreRecord(block.data(), geo, record.data());
    }
    for (uint32_t slot = 3; slot <= stored; slot += 3)
      if (zf::zfStaticSlotInUse(block.data(), slot)) zf::zfStaticFreeSlot(block.data(), geo, slot);
    WriteSeed(aDir, "sound-" + len, l, block);
    // Damaged copies of it.
    std::vector<uint8_t> bad = block;
    zf::zfPutLE16(bad.data() + 30, uint16_t(zf::zfGetLE16(bad.data() + 30) + 1));
    WriteSeed(aDir, "count-" + len, l, bad);
    bad = block;
    if (const uint32_t head = zf::zfGetLE16(bad.data() + 28); head >= 1 && head <= geo.RecsPerBlock) {
      bad[32 + (head - 1) / 8] |= uint8_t(1u << ((head - 1) % 8));  // the first free slot marked used
      WriteSeed(aDir, "chained-used-" + len, l, bad);
      bad = block;
      std::memcpy(bad.data() + geo.SlotOffset(head), bad.data() + 28, std::min<uint32_t>(2, geo.SlotSize));
      WriteSeed(aDir, "chain-loop-" + len, l, bad);
    }
    // Full.
    zf::zfStaticInitBlock(block.data(), geo, 8, 7);
    for (uint32_t i = 0; i < geo.RecsPerBlock; ++i) zf::zfStaticStoreRecord(block.data(), geo, record.data());
    WriteSeed(aDir, "full-" + len, l, block);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* dir = std::getenv("ZF_FUZZ_WRITE_SEEDS")) {
    WriteSeeds(dir);
    std::exit(0);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < 1) return 0;
  zf::zfSetTimeout(0, true);
  const zf::TzfStaticGeometry geo = zf::zfStaticGeometry(kU, kLengths[aData[0] % 8]);
  const uint32_t stopAfter = aData[0] >> 3;  // 0: never
  // Exactly the usable bytes, so a read past them is caught by the sanitizer.
  std::vector<uint8_t> block(kU, 0);
  std::memcpy(block.data(), aData + 1, std::min<size_t>(aSize - 1, kU));
  const uint32_t number = zf::zfGetThisBlock(block.data());
  struct TRun {
    uint64_t Sum = 0;
    uint32_t Calls = 0;
  };
  const auto iterator = [&](TRun& aRun) {
    return zf::TzfRecordIterator([&geo, &aRun, stopAfter](void*, int64_t, const uint8_t* aRec) {
      for (uint32_t i = 0; i < geo.RecordLength; ++i) aRun.Sum += aRec[i] * (i + 1);
      ++aRun.Calls;
      return aRun.Calls == stopAfter ? zf::TzfRecordIteratorResult::rirStop : zf::TzfRecordIteratorResult::rirContinue;
    });
  };
  // Straight from the block.
  TRun direct;
  zf::TzfRecoverStats st;
  const zf::TzfRecordIteratorResult r1 =
      zf::zfStaticRecoverBlock(block.data(), geo, number, nullptr, nullptr, iterator(direct), nullptr, &st);
  const uint32_t count = zf::zfGetLE16(block.data() + 30);
  if (st.BlockValid && stopAfter == 0 && direct.Calls != count) __builtin_trap();
  if (stopAfter != 0 && direct.Calls > stopAfter) __builtin_trap();
  if (direct.Calls != st.Records || (r1 == zf::TzfRecordIteratorResult::rirStop) != (direct.Calls == stopAfter && stopAfter != 0))
    __builtin_trap();
  if (st.BlockValid != zf::zfCheckStaticBlock(block.data(), geo, number).Valid) __builtin_trap();
  // Through the caller's record pointer and copy buffer: the same records, the same bytes.
  TRun copied;
  std::vector<uint8_t> copy(geo.RecordLength);
  const uint8_t* current = nullptr;
  zf::zfStaticRecoverBlock(block.data(), geo, number, &current, copy.data(), iterator(copied), nullptr, &st);
  if (copied.Calls != direct.Calls || copied.Sum != direct.Sum) __builtin_trap();
  if (copied.Calls != 0 && current != copy.data()) __builtin_trap();
  return 0;
}
