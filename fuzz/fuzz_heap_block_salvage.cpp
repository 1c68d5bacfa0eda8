// Fuzzes the salvage of one raw record-heap data block. Input: one byte of options, then the
// block's bytes (a 4092-byte usable block, cut or zero-filled). The checker and the salvage must
// never raise, read past the block, crash or hang; every record handed on decodes inside the
// record buffer. A block the checker passes must also take further allocations, frees and a
// compaction through the block heap and pass the checker after each.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "dictionary/zfsdDataDictionary.h"
#include "storage/zfseBlockHeapEngineNonfragmenting.h"
#include "storage/zfseRecordCompressionEngineSmart.h"
#include "storage/zfseRecordEngineVariable.h"
#include "storage/zfsrStartup.h"
#include "storage/zfsrTimeoutHandling.h"

namespace {

constexpr uint32_t kU = 4092;

struct TTable {
  TTable() {
    zf::zfStartStorage();
    Dict = std::make_unique<zf::TzfDataDictionary>();
    zf::TzfFieldsDescriptor& f = *Dict->tdFieldsDescriptor;
    f.AddField(u"I", u"", zf::zftInt32, 0, 0, false, nullptr);
    f.AddField(u"S", u"", zf::zftShortString, 20, 0, false, nullptr);
    f.AddField(u"N", u"", zf::zftNullString, 30, 0, false, nullptr);
    f.AddField(u"W", u"", zf::zftWideString, 10, 0, false, nullptr);
    f.AddField(u"D", u"", zf::zftDouble, 0, 0, false, nullptr);
    Length = uint32_t(f.GetRecordLength());
    Smart = std::make_unique<zf::TzfSmartRecordCompressionEngine>(nullptr, &f, 2);
  }
  std::unique_ptr<zf::TzfDataDictionary> Dict;
  std::unique_ptr<zf::TzfSmartRecordCompressionEngine> Smart;
  uint32_t Length = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static TTable table;
  if (aSize < 1) return 0;
  zf::zfSetTimeout(0, true);
  std::vector<uint8_t> block(kU, 0);
  std::memcpy(block.data(), aData + 1, std::min<size_t>(aSize - 1, kU));
  const uint32_t number = zf::zfGetThisBlock(block.data());
  std::vector<uint8_t> record(table.Length);
  uint64_t sum = 0;
  const zf::TzfRecordIterator it = [&](void*, int64_t, const uint8_t* aRec) {
    for (uint32_t i = 0; i < table.Length; ++i) sum += aRec[i];
    return zf::TzfRecordIteratorResult::rirContinue;
  };
  zf::TzfRecoverStats st;
  zf::zfVariableRecoverBlock(block.data(), kU, number, table.Length, (aData[0] & 1) ? table.Smart.get() : nullptr,
                             record.data(), nullptr, it, nullptr, &st);
  // The block heap itself on the same bytes: it refuses what is out of bounds, never follows it.
  zf::TzfNonfragmentingBlockHeapEngine heap(kU, zf::kzfVariableOwnerHeaderSize);
  const bool valid = zf::zfCheckHeapBlock(block.data(), kU, 28).Valid;
  try {
    uint16_t size = 0;
    for (uint32_t s = 0; heap.GetNextSegment(block.data(), s, size);) sum += size;
    for (uint32_t s = 0xFFFFFFFF; heap.GetPrevSegment(block.data(), s, size);) sum += size;
  } catch (const zf::EzfBaseException&) {
    if (valid) __builtin_trap();
  }
  if (valid) {
    uint32_t slot = 0;
    for (uint16_t size : {uint16_t(10), uint16_t(aData[0]), uint16_t(300)}) {
      if (heap.AllocSegment(block.data(), size, slot) == nullptr) continue;
      if (!zf::zfCheckHeapBlock(block.data(), kU, 28).Valid) __builtin_trap();
      heap.FreeSegment(block.data(), slot);
      if (!zf::zfCheckHeapBlock(block.data(), kU, 28).Valid) __builtin_trap();
    }
    heap.CompactBlock(block.data(), 0, 0);
    if (!zf::zfCheckHeapBlock(block.data(), kU, 28).Valid) __builtin_trap();
  }
  return sum == 0xFFFFFFFFFFFFFFFFull ? 1 : 0;
}
