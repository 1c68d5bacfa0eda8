// The developer tool's table kit: a fixed, small table layout, tables of it made through the
// record engines' block code, and the salvage and walk of a table file block by block as a
// recovery reads it. Used by `zftable`, the salvage tests and the salvage benchmark.
//
// The layout: ID Int32, Stamp DateTime, Short ShortString(20), Long NullString(54), Value Double
// (100-byte records). Made files are version-2 tables of 4 KB blocks, built through the record
// engine over the block cache: the static engine (ID kzfKitStaticID, "ZFDH" blocks) or the
// variable engine over the cached heap (heap ID kzfKitHeapID, "ZFHD" blocks with the 24-byte
// record-heap header, "ZFHM" management blocks). The engines create version-2 files only; tests
// of version-1 files build them by hand (`Version1`): the same block layouts at usable size 4096,
// no owner IDs, a hand-made block 0.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dictionary/zfsdDataDictionary.h"
#include "storage/zfsrRecordCompressionEngineBase.h"
#include "storage/zfsrRecordEngineBase.h"

namespace zf::kit {

inline constexpr int32_t kzfKitStaticID = 5;
inline constexpr int32_t kzfKitHeapID = 6;

struct TMakeOptions {
  uint32_t Records = 0;
  bool Variable = false;
  bool Smart = false;
  uint32_t Delete = 0;
  uint64_t Seed = 1;
  bool Version1 = false;
};

// The fixed table: its dictionary (with a "Smart" or "Null" compression descriptor) and engines.
class TKitTable {
 public:
  explicit TKitTable(bool aSmart = true);
  // Makes the dictionary's record descriptor name the static or the variable engine.
  void UseEngine(bool aVariable, bool aSmart);
  ~TKitTable();
  TzfFieldsDescriptor& Fields() const { return *Dict->tdFieldsDescriptor; }
  uint32_t RecordLength() const { return FRecordLength; }
  // A record of the layout with ID aID and random stamp, texts of random lengths and value.
  std::vector<uint8_t> MakeRecord(uint32_t aID, std::mt19937_64& aRandom) const;

  std::unique_ptr<TzfDataDictionary> Dict;
  std::unique_ptr<TzfBaseRecordCompressionDescriptor> CompressionDescriptor;
  std::unique_ptr<TzfBaseRecordCompressionEngine> Compression;

 private:
  uint32_t FRecordLength;
};

// Makes the file aPath (replacing it) and answers the records that stay after the deletions;
// aDeleted, when given, receives the deleted ones.
std::vector<std::vector<uint8_t>> MakeTable(const std::string& aPath, const TMakeOptions& aOptions,
                                            std::vector<std::vector<uint8_t>>* aDeleted = nullptr);

struct TSalvageSummary {
  uint64_t Records = 0;
  uint64_t BlocksRead = 0;
  uint64_t BlocksTotal = 0;
  uint64_t Skipped = 0;
  uint64_t Bytes = 0;
};
// Salvages every block of aPath as the recovery does: block 0 gives the block size and version;
// each block goes to the record engine whose owner ID it carries (every block in a version-1 file
// is tried by both engines, each recognising only its own blocks). aRecord gets block, slot and
// record (aRecord may be empty: a no-op). Raises a coded error when block 0 cannot be read.
TSalvageSummary SalvageTable(const std::string& aPath,
                             const std::function<void(uint32_t aBlock, uint32_t aSlot, const uint8_t* aRecord,
                                                      uint32_t aLength)>& aRecord);

// One call per block: number, signature, owner (0 in version 1), and whether its checker passes.
void WalkTable(const std::string& aPath, const std::function<void(uint32_t aBlock, const std::string& aSignature,
                                                                    int32_t aOwner, bool aValid)>& aBlock);

// How DamageTable spoils a chosen block: zero-filled, random bytes, one bit flipped in each
// 64-byte run, or the file cut off at the first chosen block.
enum class TDamageMode { Zero, Random, BitFlip, Truncate };

// A block DamageTable hit, described as it was before the damage.
struct TDamageHit {
  uint32_t Block = 0;
  std::string Signature;  // four characters, '.' for a byte that is not printable ASCII
  int32_t Owner = 0;      // the owner ID in the block's trailer (0 in version 1 and in block 0)
};

// Copies aSource to aTarget (replacing it) and damages the listed blocks of the copy; blocks
// beyond the file are ignored, a block listed twice is hit once. Truncate cuts the copy at the
// smallest listed block. Answers the blocks hit in block order. aSeed drives Random and BitFlip.
// Raises a coded error when aSource cannot be read or its block 0 is not a table header.
std::vector<TDamageHit> DamageTable(const std::string& aSource, const std::string& aTarget,
                                    std::vector<uint32_t> aBlocks, TDamageMode aMode, uint64_t aSeed);

// A fraction (0 to 1) of the blocks 1 .. n-1 of aPath, chosen with aSeed, in block order; at
// least one when the fraction is above 0 and the file has such a block.
std::vector<uint32_t> ChooseBlocks(const std::string& aPath, double aFraction, uint64_t aSeed);

}  // namespace zf::kit
