// Record blocks and their salvage: static geometry, static blocks under their checker, "Smart"
// compression bytes and damaged compressed records, variable record segments, and the salvage of
// engine-made table files before and after damage (zeroed blocks, random bytes, bit flips in
// headers, slot directories and segments, truncation), with the tool run the way a user runs it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "dictionary/zfsdDataDictionary.h"
#include "foundation/zfllErrors.h"
#include "storage/zfseRecordCompressionEngineSmart.h"
#include "storage/zfseRecordEngineStatic.h"
#include "storage/zfseRecordEngineVariable.h"
#include "storage/zfsrTimeoutHandling.h"
#include "tools/zftableKit.h"
#include "zfsrTestUtil.h"

namespace zf::test {
namespace {

using Bytes = std::vector<uint8_t>;

class RecordSalvageTest : public StorageStarted {
 protected:
  void SetUp() override { zfSetTimeout(0, true); }
  TempDir Dir;
};

// ---- static blocks ----

TEST_F(RecordSalvageTest, StaticGeometry) {
  struct Case {
    uint32_t U, L, Recs, Bitmap, Slot, First;
  };
  const Case cases[] = {{4092, 100, 40, 5, 100, 92}, {8188, 100, 81, 11, 100, 88}, {4092, 37, 109, 14, 37, 59}};
  for (const Case& c : cases) {
    const TzfStaticGeometry g = zfStaticGeometry(c.U, c.L);
    EXPECT_EQ(g.RecsPerBlock, c.Recs) << c.L;
    EXPECT_EQ(g.InUseArraySize, c.Bitmap) << c.L;
    EXPECT_EQ(g.SlotSize, c.Slot) << c.L;
    EXPECT_EQ(g.FirstRecordOffset, c.First) << c.L;
  }
  EXPECT_EQ(RaisedCode([] { zfStaticGeometry(4092, 4092); }), zfErrMaxRecordSizeExceeded);
  // Lengths whose bit count does not fit 32 bits, and the first one a block cannot hold.
  for (const uint32_t l : {4060u, 65536u, 1u << 29, (1u << 29) + 37, 1u << 31, 0xFFFFFFFFu})
    EXPECT_EQ(RaisedCode([l] { zfStaticGeometry(4092, l); }), zfErrMaxRecordSizeExceeded) << l;
  for (const uint32_t l : {65501u, 65536u, 1u << 29, (1u << 29) + 37, 1u << 31, 0xFFFFFFFFu})
    EXPECT_EQ(RaisedCode([l] { zfStaticGeometry(65532, l); }), zfErrMaxRecordSizeExceeded) << l;
  // The largest record of a 4092-byte block: one slot right behind the header and its bitmap byte.
  const TzfStaticGeometry one = zfStaticGeometry(4092, 4059);
  EXPECT_EQ(one.RecsPerBlock, 1u);
  EXPECT_EQ(one.SlotSize, 4059u);
  EXPECT_EQ(one.FirstRecordOffset, 33u);
}

// A slot shorter than four bytes holds its free-slot link in its own bytes: a one-byte slot reaches
// slot 255 at most, so such a block fills its first 255 slots (the layout stays as it is) and every
// link it stores is one it can hold; two- and three-byte slots reach every slot of the block.
TEST_F(RecordSalvageTest, StaticBlockOfShortSlotsKeepsItsFreeChainWhole) {
  struct Case {
    uint32_t L, Capacity;
  };
  const Case cases[] = {{1, 255}, {2, zfStaticGeometry(4092, 2).RecsPerBlock}, {3, zfStaticGeometry(4092, 3).RecsPerBlock}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.L);
    const TzfStaticGeometry g = zfStaticGeometry(4092, c.L);
    Bytes block(4096, 0);
    zfStaticInitBlock(block.data(), g, 7, 0);
    ASSERT_TRUE(zfCheckStaticBlock(block.data(), g, 7).Valid) << rtl::u8(zfCheckStaticBlock(block.data(), g, 7).Problem);
    const Bytes rec(c.L, 0xAB);
    uint32_t stored = 0;
    for (uint32_t slot; (slot = zfStaticStoreRecord(block.data(), g, rec.data())) != 0;) ASSERT_EQ(slot, ++stored);
    EXPECT_EQ(stored, c.Capacity);
    ASSERT_TRUE(zfCheckStaticBlock(block.data(), g, 7).Valid) << rtl::u8(zfCheckStaticBlock(block.data(), g, 7).Problem);
    zfStaticFreeSlot(block.data(), g, 200);
    zfStaticFreeSlot(block.data(), g, 10);
    ASSERT_TRUE(zfCheckStaticBlock(block.data(), g, 7).Valid);
    EXPECT_EQ(zfStaticStoreRecord(block.data(), g, rec.data()), 10u);
    EXPECT_EQ(zfStaticStoreRecord(block.data(), g, rec.data()), 200u);
    EXPECT_EQ(zfStaticStoreRecord(block.data(), g, rec.data()), 0u);
  }
}

TEST_F(RecordSalvageTest, StaticBlockReusesTheFreedSlotAndSalvagesExactlyItsRecords) {
  const TzfStaticGeometry g = zfStaticGeometry(4092, 37);
  Bytes block(4096, 0);
  zfStaticInitBlock(block.data(), g, 7, 0);
  ASSERT_TRUE(zfCheckStaticBlock(block.data(), g, 7).Valid);
  Bytes rec(37);
  for (uint32_t i = 1; i <= g.RecsPerBlock; ++i) {
    rec[0] = uint8_t(i);
    ASSERT_EQ(zfStaticStoreRecord(block.data(), g, rec.data()), i);
  }
  EXPECT_EQ(zfGetLE16(block.data() + 28), 0) << "full";
  EXPECT_EQ(zfStaticStoreRecord(block.data(), g, rec.data()), 0u);
  zfStaticFreeSlot(block.data(), g, 50);
  EXPECT_EQ(zfGetLE16(block.data() + 28), 50);
  EXPECT_EQ(zfStaticStoreRecord(block.data(), g, rec.data()), 50u);
  ASSERT_TRUE(zfCheckStaticBlock(block.data(), g, 7).Valid);
  EXPECT_EQ(RaisedCode([&] {
              zfStaticFreeSlot(block.data(), g, 3);
              zfStaticFreeSlot(block.data(), g, 3);
            }),
            zfErrKeyOrRecDeleted);

  // Salvage: slots 1, 5 and 9 in use, count 3; each passed once in slot order with reference 0.
  zfStaticInitBlock(block.data(), g, 7, 0);
  for (uint32_t i = 1; i <= 9; ++i) {
    rec[0] = uint8_t(i);
    zfStaticStoreRecord(block.data(), g, rec.data());
  }
  for (uint32_t s : {2u, 3u, 4u, 6u, 7u, 8u}) zfStaticFreeSlot(block.data(), g, s);
  std::vector<int> got;
  auto it = [&](void*, int64_t aRef, const uint8_t* r) {
    EXPECT_EQ(aRef, 0);
    got.push_back(r[0]);
    return TzfRecordIteratorResult::rirContinue;
  };
  TzfRecoverStats st;
  zfStaticRecoverBlock(block.data(), g, 7, nullptr, nullptr, it, nullptr, &st);
  EXPECT_EQ(got, (std::vector<int>{1, 5, 9}));
  EXPECT_TRUE(st.BlockValid);
  got.clear();
  zfStaticRecoverBlock(block.data(), g, 8, nullptr, nullptr, it, nullptr, &st);
  EXPECT_TRUE(got.empty()) << "a block at another position passes nothing";

  // A zeroed count loses nothing, and a bit set on a slot the free chain still names stays out.
  Bytes damaged = block;
  zfPutLE16(damaged.data() + 30, 0);
  damaged[32] |= 0x02;  // slot 2, freed
  got.clear();
  zfStaticRecoverBlock(damaged.data(), g, 7, nullptr, nullptr, it, nullptr, &st);
  EXPECT_FALSE(st.BlockValid);
  EXPECT_EQ(got, (std::vector<int>{1, 5, 9}));
}

// ---- compression ----

class CompressionTest : public RecordSalvageTest {
 protected:
  CompressionTest() {
    Dict = std::make_unique<TzfDataDictionary>();
    Fields = Dict->tdFieldsDescriptor.get();
    Fields->AddField(u"I", u"", zftInt32, 0, 0, false, nullptr);
    Fields->AddField(u"S", u"", zftShortString, 10, 0, false, nullptr);
    Fields->AddField(u"N", u"", zftNullString, 10, 0, false, nullptr);
    Smart = std::make_unique<TzfSmartRecordCompressionEngine>(nullptr, Fields, 2);
  }
  std::unique_ptr<TzfDataDictionary> Dict;
  TzfFieldsDescriptor* Fields;
  std::unique_ptr<TzfSmartRecordCompressionEngine> Smart;
};

TEST_F(CompressionTest, SmartBytesAndTheirReversal) {
  const uint32_t len = uint32_t(Fields->GetRecordLength());
  Bytes rec(len);
  Fields->InitRecord(rec.data());
  Bytes out(len);
  EXPECT_EQ(Smart->CompressRecord(rec.data(), out.data()), 1) << "all NULL: the bitmap byte alone";
  const int32_t five = 5;
  Fields->SetRecordField(0, rec.data(), &five);
  uint8_t n[11] = {'a', 'b'};
  Fields->SetRecordField(2, rec.data(), n);
  ASSERT_EQ(Smart->CompressRecord(rec.data(), out.data()), 8);
  // The bitmap byte goes over unchanged: bit 1 (S is NULL) and the bits past the third field,
  // which a fresh record buffer has set.
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), (Bytes{0xFA, 5, 0, 0, 0, 'a', 'b', 0}));
  Bytes back(len, 0xCC);
  Smart->DecompressRecord(out.data(), 8, back.data());
  EXPECT_EQ(back, rec);
  // An empty, non-NULL ShortString is its length byte alone.
  uint8_t empty[11] = {};
  Fields->SetRecordField(1, rec.data(), empty);
  EXPECT_EQ(Smart->CompressRecord(rec.data(), out.data()), 9);

  struct Case {
    const char* What;
    Bytes Input;
  };
  const Case damaged[] = {
      {"no bitmap", {}},
      {"integer cut short", {0x06, 5, 0}},
      {"short string longer than its units", {0x04, 5, 0, 0, 0, 11, 'x'}},
      {"short string past the input", {0x04, 5, 0, 0, 0, 3, 'x'}},
      {"null string without terminator in the input", {0x03, 'a', 'b'}},
      {"bytes left over", {0x07, 1, 2}},
  };
  for (const Case& c : damaged) {
    Bytes target(len);
    EXPECT_EQ(RaisedCode([&] { Smart->DecompressRecord(c.Input.data(), uint16_t(c.Input.size()), target.data()); }),
              zfErrFileCorrupt)
        << c.What;
  }
  TzfNullRecordCompressionEngine null(nullptr, Fields, 2);
  EXPECT_EQ(null.CompressRecord(rec.data(), out.data()), 0);
  EXPECT_EQ(RaisedCode([&] { null.DecompressRecord(out.data(), 8, back.data()); }), zfErrNotSupported);
  TzfBaseRecordCompressionDescriptor d(nullptr);
  d.brcdRecordCompressionEngine = u"Clever";
  EXPECT_EQ(RaisedCode([&] { TzfBaseRecordCompressionEngine::CreateEngine(&d, Fields, 2); }),
            zfErrSubEngineNotSupported);
}

TEST_F(CompressionTest, VariableSegmentsRawPaddedAndDamaged) {
  // A raw record of 5 bytes: 0x0A, the record, 4 padding bytes.
  const Bytes five{1, 2, 3, 4, 5};
  Bytes seg(zfVariableSegmentRoom(5));
  ASSERT_EQ(zfVariableEncodeRecord(five.data(), 5, nullptr, seg.data()), 10u);
  EXPECT_EQ(seg[0], 0x0A);
  EXPECT_EQ(Bytes(seg.begin() + 1, seg.begin() + 6), five);
  Bytes back(5);
  ASSERT_TRUE(zfVariableDecodeSegment(seg.data(), 10, 5, nullptr, back.data()));
  EXPECT_EQ(back, five);
  // A "Smart" record of 4 compressed bytes: 0x08, the bytes, 4 don't-care bytes, 5 last.
  const uint32_t len = uint32_t(Fields->GetRecordLength());
  Bytes rec(len);
  Fields->InitRecord(rec.data());
  const int32_t v = 0x01020304;
  Fields->SetRecordField(0, rec.data(), &v);
  Bytes seg2(zfVariableSegmentRoom(len));
  ASSERT_EQ(zfVariableEncodeRecord(rec.data(), len, Smart.get(), seg2.data()), 10u);
  EXPECT_EQ(seg2[0], 0x08);
  EXPECT_EQ(seg2[9], 4) << "5 compressed bytes (bitmap and integer) leave 4";
  Bytes out(len);
  ASSERT_TRUE(zfVariableDecodeSegment(seg2.data(), 10, len, Smart.get(), out.data()));
  EXPECT_EQ(out, rec);
  struct Case {
    const char* What;
    size_t At;
    uint8_t Value;
    uint32_t Size;
  };
  const Case cases[] = {{"pad count 0", 9, 0, 10},     {"pad count 9", 9, 9, 10},   {"forward", 0, 0x04, 10},
                        {"unknown flag", 0, 0x18, 10}, {"shorter than 10", 0, 0x08, 9}, {"raw of a wrong size", 0, 0x02, 10}};
  for (const Case& c : cases) {
    Bytes s = seg2;
    s[c.At] = c.Value;
    EXPECT_FALSE(zfVariableDecodeSegment(s.data(), c.Size, len, Smart.get(), out.data())) << c.What;
  }
}

// ---- engine-made tables ----

struct Salvaged {
  std::map<Bytes, uint32_t> Records;  // record -> block
  kit::TSalvageSummary Summary;
};

Salvaged Salvage(const std::string& aPath) {
  Salvaged s;
  s.Summary = kit::SalvageTable(aPath, [&s](uint32_t aBlock, uint32_t, const uint8_t* r, uint32_t n) {
    EXPECT_TRUE(s.Records.emplace(Bytes(r, r + n), aBlock).second) << "a record came back twice";
  });
  return s;
}

Bytes ReadFile(const std::string& aPath) {
  std::ifstream in(aPath, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
void WriteFile(const std::string& aPath, const Bytes& aBytes) {
  std::ofstream out(aPath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(aBytes.data()), std::streamsize(aBytes.size()));
}

// Runs a shell command and answers its exit status; aOut, when given, takes what it printed on
// standard output and standard error.
int RunTool(const std::string& aCmd, std::string* aOut = nullptr) {
  FILE* f = popen((aCmd + " 2>&1").c_str(), "r");
  if (!f) return -1;
  std::string out;
  char buf[4096];
  while (size_t n = fread(buf, 1, sizeof buf, f)) out.append(buf, n);
  const int rc = pclose(f);
  if (aOut) *aOut = out;
  return rc;
}

struct Variant {
  const char* Name;
  bool Variable, Smart, Version1;
};
// Version-2 files are made through the engines; version-1 files by hand (no owner IDs: every block
// is offered to both engines and each must recognise only its own).
const Variant kVariants[] = {{"static", false, false, false},       {"variable null", true, false, false},
                             {"variable smart", true, true, false},  {"v1 static", false, false, true},
                             {"v1 variable smart", true, true, true}};

TEST_F(RecordSalvageTest, UndamagedTablesComeBackExactlyWithoutDeletedRecords) {
  for (const Variant& v : kVariants) {
    const std::string path = Dir.FilePath("t.dvl7");
    std::vector<Bytes> deleted;
    const auto live = kit::MakeTable(path, {700, v.Variable, v.Smart, 150, 11, v.Version1}, &deleted);
    const Salvaged s = Salvage(path);
    EXPECT_EQ(s.Summary.Records, live.size()) << v.Name;
    EXPECT_EQ(s.Summary.Skipped, 0u) << v.Name;
    for (const Bytes& r : live) EXPECT_EQ(s.Records.count(r), 1u) << v.Name;
    for (const Bytes& r : deleted) EXPECT_EQ(s.Records.count(r), 0u) << v.Name;
    kit::WalkTable(path, [&](uint32_t b, const std::string& aSig, int32_t, bool aValid) {
      if (aSig != "....") {
        EXPECT_TRUE(aValid) << v.Name << " block " << b << " " << aSig;
      }
    });
  }
}

TEST_F(RecordSalvageTest, DamagedBlocksNeverStopTheRestAndNeverBringDeletedRecordsBack) {
  std::mt19937 random(5);
  for (const Variant& v : kVariants) {
    const std::string path = Dir.FilePath("d.dvl7");
    std::vector<Bytes> deleted;
    kit::MakeTable(path, {900, v.Variable, v.Smart, 200, 3, v.Version1}, &deleted);
    const Salvaged base = Salvage(path);
    const Bytes clean = ReadFile(path);
    const uint32_t blocks = uint32_t(clean.size() / 4096);
    const std::set<Bytes> deletedSet(deleted.begin(), deleted.end());
    enum Kind { Zero, Random, FlipHeader, FlipDirectory, FlipData, Truncate };
    for (int kind = Zero; kind <= Truncate; ++kind) {
      for (int round = 0; round < 8; ++round) {
        Bytes bytes = clean;
        std::set<uint32_t> hit;
        for (int k = 0; k < 3; ++k) {
          const uint32_t b = 1 + uint32_t(random() % (blocks - 1));
          hit.insert(b);
          uint8_t* p = bytes.data() + size_t(b) * 4096;
          switch (kind) {
            case Zero: std::memset(p, 0, 4096); break;
            case Random: for (int i = 0; i < 4096; ++i) p[i] = uint8_t(random()); break;
            case FlipHeader: p[16 + random() % 24] ^= uint8_t(1u << (random() % 8)); break;
            case FlipDirectory: p[4092 - 1 - random() % 200] ^= uint8_t(1u << (random() % 8)); break;
            default: p[40 + random() % 3000] ^= uint8_t(1u << (random() % 8)); break;
          }
        }
        if (kind == Truncate) {
          const size_t keep = 4096 + random() % (bytes.size() - 4096);
          bytes.resize(keep);
          for (uint32_t b = uint32_t(keep / 4096); b < blocks; ++b) hit.insert(b);
        }
        WriteFile(path, bytes);
        const Salvaged s = Salvage(path);
        for (const auto& [rec, block] : base.Records) {
          if (!hit.count(block)) {
            EXPECT_EQ(s.Records.count(rec), 1u) << v.Name << " kind " << kind;
          }
        }
        for (const auto& [rec, block] : s.Records) {
          if (!hit.count(block)) {
            EXPECT_EQ(base.Records.count(rec), 1u) << v.Name << " kind " << kind;
          }
          EXPECT_EQ(deletedSet.count(rec), 0u) << v.Name << " kind " << kind << " block " << block;
        }
      }
    }
  }
}

TEST_F(RecordSalvageTest, ToolMakesSalvagesAndWalksWithExitCodes) {
  const std::string path = Dir.FilePath("tool.dvl7");
  const std::string exe = ZFTABLE_EXE;
  ASSERT_EQ(
      RunTool(exe + " make " + path + " --records 50 --engine variable --compression smart --delete 5 --seed 2"), 0);
  std::string out;
  ASSERT_EQ(RunTool(exe + " salvage " + path, &out), 0);
  EXPECT_NE(out.find("records 45 blocks "), std::string::npos) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 46);
  ASSERT_EQ(RunTool(exe + " walk " + path, &out), 0);
  EXPECT_EQ(out.rfind("0 ZF!2 0 valid", 0), 0u) << out;
  EXPECT_NE(out.find("1 ZFHD 6 valid"), std::string::npos) << out;
  EXPECT_NE(RunTool(exe + " salvage " + Dir.FilePath("missing"), &out), 0);
  EXPECT_NE(out.find("error 9992"), std::string::npos) << out;
  EXPECT_NE(RunTool(exe + " make " + path + " --records x", &out), 0);
  EXPECT_NE(out.find("error 9986"), std::string::npos) << out;
}

// make-log makes the sample log table through the engine; damage spoils only the blocks it names
// (or cuts the file there) and reports each with the signature and owner it had.
TEST_F(RecordSalvageTest, ToolMakesALogTableAndDamagesChosenBlocks) {
  const std::string src = Dir.FilePath("Log.dvl7");
  const std::string dst = Dir.FilePath("Hit.dvl7");
  const std::string exe = ZFTABLE_EXE;
  std::string out;
  ASSERT_EQ(RunTool(exe + " make-log " + src + " --records 200 --seed 4", &out), 0) << out;
  ASSERT_EQ(RunTool(exe + " walk " + src, &out), 0);
  EXPECT_EQ(out.rfind("0 ZF!2 0 valid", 0), 0u) << out;
  const Bytes original = ReadFile(src);
  ASSERT_EQ(original.size() % 4096, 0u);
  const size_t blocks = original.size() / 4096;
  ASSERT_GT(blocks, 6u);

  struct TCase {
    const char* Mode;
    bool Changed;  // the hit blocks differ afterwards
  };
  for (const TCase& c : {TCase{"zero", true}, TCase{"random", true}, TCase{"bitflip", true}}) {
    SCOPED_TRACE(c.Mode);
    ASSERT_EQ(RunTool(exe + " damage " + src + " " + dst + " --blocks 3,1,3,999999 --mode " + c.Mode, &out), 0) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3) << out;
    EXPECT_EQ(out.rfind("hit 1 ", 0), 0u) << out;
    EXPECT_NE(out.find("\nhit 3 "), std::string::npos) << out;
    EXPECT_NE(out.find("damaged 2 blocks"), std::string::npos) << out;
    const Bytes hit = ReadFile(dst);
    ASSERT_EQ(hit.size(), original.size());
    for (size_t b = 0; b < blocks; ++b) {
      const bool same = std::equal(hit.begin() + b * 4096, hit.begin() + (b + 1) * 4096, original.begin() + b * 4096);
      EXPECT_EQ(same, !(b == 1 || b == 3)) << "block " << b;
    }
  }
  ASSERT_EQ(RunTool(exe + " damage " + src + " " + dst + " --blocks 5 --mode truncate", &out), 0) << out;
  EXPECT_EQ(ReadFile(dst).size(), 5u * 4096);
  EXPECT_NE(out.find("damaged " + std::to_string(blocks - 5) + " blocks"), std::string::npos) << out;
  // A fraction with a seed chooses the same blocks each time.
  std::string again;
  ASSERT_EQ(RunTool(exe + " damage " + src + " " + dst + " --fraction 0.3 --seed 9", &out), 0) << out;
  ASSERT_EQ(RunTool(exe + " damage " + src + " " + dst + " --fraction 0.3 --seed 9", &again), 0);
  EXPECT_EQ(out, again);
  EXPECT_EQ(out.find("hit 0 "), std::string::npos) << "block 0 is never chosen";
  for (const char* bad : {" --blocks 1 --fraction 0.5 --seed 1", " --fraction 0.5", " --fraction 2 --seed 1",
                          " --blocks 1 --mode melt", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_NE(RunTool(exe + " damage " + src + " " + dst + bad, &out), 0);
    EXPECT_NE(out.find("error 9986"), std::string::npos) << out;
  }
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
namespace {

// A static data block built cell by cell from its byte table: 4092 usable bytes, L = 100, so 40
// slots, a 5-byte bitmap and slot 1 at 92; slots 1 and 3 in use, slot 2 freed last.
TEST_F(RecordSalvageTest, StaticBlockGoldenBytes) {
  const TzfStaticGeometry g = zfStaticGeometry(4092, 100);
  Bytes expected(4096, 0);
  std::memcpy(expected.data(), "ZFDH", 4);
  expected[4] = 9;                         // this block: 9
  expected[20] = 8;                        // previous block: 8
  expected[28] = 2;                        // first free slot: 2
  expected[30] = 2;                        // two slots in use
  expected[32] = 0x05;                     // bits 0 and 2: slots 1 and 3
  std::memset(expected.data() + 92, 'a', 100);   // slot 1
  expected[192] = 4;                       // slot 2 (freed): next free slot 4
  std::memset(expected.data() + 292, 'c', 100);  // slot 3
  for (uint32_t n = 4; n <= 40; ++n) expected[92 + (n - 1) * 100] = uint8_t(n < 40 ? n + 1 : 0);

  Bytes block(4096, 0);
  zfStaticInitBlock(block.data(), g, 9, 8);
  const Bytes a(100, 'a'), b(100, 'b'), c(100, 'c');
  EXPECT_EQ(zfStaticStoreRecord(block.data(), g, a.data()), 1u);
  EXPECT_EQ(zfStaticStoreRecord(block.data(), g, b.data()), 2u);
  EXPECT_EQ(zfStaticStoreRecord(block.data(), g, c.data()), 3u);
  zfStaticFreeSlot(block.data(), g, 2);
  // The freed slot keeps its old bytes behind the 4-byte link.
  std::memset(expected.data() + 196, 'b', 96);
  EXPECT_EQ(block, expected);
  EXPECT_TRUE(zfCheckStaticBlock(block.data(), g, 9).Valid);
}

// A record-heap block holding [forward, moved record, raw record, deleted record]: salvage passes
// the moved and the raw record, each once with reference 0, and neither the forward nor the
// deleted one. The same block laid out as a BLOB-heap block passes nothing.
TEST_F(RecordSalvageTest, HeapBlockSalvageSkipsForwardsAndDeletedAndBlobBlocks) {
  constexpr uint32_t U = 4092, L = 12;
  TzfNonfragmentingBlockHeapEngine heap(U, kzfVariableOwnerHeaderSize);
  Bytes block(4096, 0);
  std::memcpy(block.data(), "ZFHD", 4);
  block[4] = 3;
  heap.InitBlock(block.data());
  auto add = [&](const Bytes& aSeg) {
    uint32_t slot;
    uint8_t* p = heap.AllocSegment(block.data(), uint16_t(aSeg.size()), slot);
    std::memcpy(p, aSeg.data(), aSeg.size());
    return slot;
  };
  Bytes forward(9, 0);
  forward[0] = kzfSegForward;
  forward[5] = 3;  // to block 3, slot 2
  forward[1] = 2;
  Bytes moved(1 + L, 'm');
  moved[0] = kzfSegMoved | kzfSegRaw;
  Bytes raw(1 + L, 'r');
  raw[0] = kzfSegRaw;
  Bytes gone(1 + L, 'd');
  gone[0] = kzfSegRaw;
  add(forward);
  add(moved);
  add(raw);
  heap.FreeSegment(block.data(), add(gone));
  std::vector<char> got;
  auto it = [&](void*, int64_t aRef, const uint8_t* r) {
    EXPECT_EQ(aRef, 0);
    got.push_back(char(r[0]));
    return TzfRecordIteratorResult::rirContinue;
  };
  Bytes rec(L);
  TzfRecoverStats st;
  zfVariableRecoverBlock(block.data(), U, 3, L, nullptr, rec.data(), nullptr, it, nullptr, &st);
  EXPECT_EQ(got, (std::vector<char>{'m', 'r'}));
  EXPECT_TRUE(st.BlockValid);
  got.clear();
  zfVariableRecoverBlock(block.data(), U, 4, L, nullptr, rec.data(), nullptr, it, nullptr, &st);
  EXPECT_TRUE(got.empty()) << "another position passes nothing";

  // The BLOB heap's layout: data from 20, live count at 16.
  TzfNonfragmentingBlockHeapEngine blobHeap(U, kzfBlobHeapOwnerHeaderSize);
  Bytes blob(4096, 0);
  std::memcpy(blob.data(), "ZFHD", 4);
  blob[4] = 3;
  blobHeap.InitBlock(blob.data());
  for (int i = 0; i < 3; ++i) {
    uint32_t slot;
    std::memcpy(blobHeap.AllocSegment(blob.data(), uint16_t(raw.size()), slot), raw.data(), raw.size());
  }
  zfVariableRecoverBlock(blob.data(), U, 3, L, nullptr, rec.data(), nullptr, it, nullptr, &st);
  EXPECT_TRUE(got.empty()) << "a BLOB heap block is no record block";
  EXPECT_FALSE(st.Recognised);
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
namespace {

// Only a cancel or an expired deadline stops a salvage: it raises 15461 out of the block walk.
TEST_F(RecordSalvageTest, AnExpiredDeadlineStopsTheSalvage) {
  const TzfStaticGeometry g = zfStaticGeometry(4092, 100);
  Bytes block(4096, 0);
  zfStaticInitBlock(block.data(), g, 1, 0);
  const Bytes rec(100, 'x');
  zfStaticStoreRecord(block.data(), g, rec.data());
  zfSetTimeout(1, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto it = [](void*, int64_t, const uint8_t*) { return TzfRecordIteratorResult::rirContinue; };
  EXPECT_EQ(RaisedCode([&] { zfStaticRecoverBlock(block.data(), g, 1, nullptr, nullptr, it, nullptr, nullptr); }),
            zfErrTimeout);
  zfSetTimeout(0, true);
  EXPECT_EQ(RaisedCode([&] { zfStaticRecoverBlock(block.data(), g, 1, nullptr, nullptr, it, nullptr, nullptr); }), 0u);
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
namespace {

// Records of two or three bytes make slots shorter than the four-byte free-slot link: the link
// lives in the slot's own bytes. Formatting, filling, freeing, checking and salvaging such a block,
// sound or with its free chain pointing at the last slot, stay inside the block (the buffer is
// exactly the usable size, so a sanitizer build catches any byte beyond it), and a formatted block
// takes a record in every slot.
TEST(StaticBlockTinyRecords, LinksOfShortSlotsStayInsideTheBlock) {
  zfSetTimeout(0, true);
  constexpr uint32_t kU = 4092;
  for (uint32_t length : {2u, 3u, 4u}) {
    SCOPED_TRACE(length);
    const TzfStaticGeometry geo = zfStaticGeometry(kU, length);
    std::vector<uint8_t> block(kU, 0);
    zfStaticInitBlock(block.data(), geo, 7, 0);
    const std::vector<uint8_t> rec(length, 0x5A);
    for (uint32_t n = 1; n <= geo.RecsPerBlock; ++n) ASSERT_EQ(zfStaticStoreRecord(block.data(), geo, rec.data()), n);
    EXPECT_EQ(zfStaticStoreRecord(block.data(), geo, rec.data()), 0u);
    for (uint32_t n = 1; n <= geo.RecsPerBlock; ++n) zfStaticFreeSlot(block.data(), geo, n);
    EXPECT_TRUE(zfCheckStaticBlock(block.data(), geo, 7).Valid);
    zfPutLE16(block.data() + 28, uint16_t(geo.RecsPerBlock));  // the chain starts at the last slot
    block[32 + (geo.RecsPerBlock - 1) / 8] |= uint8_t(1u << ((geo.RecsPerBlock - 1) % 8));
    zfPutLE16(block.data() + 30, 1);
    EXPECT_FALSE(zfCheckStaticBlock(block.data(), geo, 7).Valid);
    uint32_t calls = 0;
    const TzfRecordIterator it = [&](void*, int64_t, const uint8_t*) {
      ++calls;
      return TzfRecordIteratorResult::rirContinue;
    };
    TzfRecoverStats st;
    zfStaticRecoverBlock(block.data(), geo, 7, nullptr, nullptr, it, nullptr, &st);
    EXPECT_TRUE(st.Recognised);
  }
}

}  // namespace
}  // namespace zf::test
