#include "tools/zftableKit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "storage/zfseBlockHeapEngineNonfragmenting.h"
#include "storage/zfseHeaderAccess.h"
#include "storage/zfseRecordEngineStatic.h"
#include "storage/zfseRecordEngineVariable.h"
#include "storage/zfsrBufferManager.h"
#include "storage/zfsrFile.h"
#include "storage/zfsrTransaction.h"

namespace zf::kit {

namespace {

constexpr uint32_t kBlock = 4096;

// A transaction that commits as the server's does: the outermost level commits, then writes.
class TKitTrans : public TzfBaseTransaction {
 public:
  explicit TKitTrans(TzfBufferManager* aBM) : TzfBaseTransaction(aBM, nullptr, false, false) {}
  void Commit() override {
    TzfFlushList list;
    btBufferManager->CommitTransaction(this, &list, false);
    list.Flush(false);
  }
  void Rollback() override { btBufferManager->RollbackTransaction(this); }
};

std::string RandomText(std::mt19937_64& aRandom, uint32_t aMax) {
  std::string s(std::uniform_int_distribution<uint32_t>(0, aMax)(aRandom), ' ');
  for (char& c : s) c = char('a' + aRandom() % 26);
  return s;
}

// Raises the code with its text for a file that is not a table this kit reads.
[[noreturn]] void RaiseHeader(const char* aWhy) {
  throw EzfBaseException(zfErrHeaderCorrupt, rtl::u16(std::string("Corrupt table header: ") + aWhy));
}

}  // namespace

TKitTable::TKitTable(bool aSmart) : Dict(std::make_unique<TzfDataDictionary>()) {
  TzfFieldsDescriptor& f = *Dict->tdFieldsDescriptor;
  f.AddField(u"ID", u"", zftInt32, 0, 0, false, nullptr);
  f.AddField(u"Stamp", u"", zftDateTime, 0, 0, false, nullptr);
  f.AddField(u"Short", u"", zftShortString, 20, 0, false, nullptr);
  f.AddField(u"Long", u"", zftNullString, 54, 0, false, nullptr);
  f.AddField(u"Value", u"", zftDouble, 0, 0, false, nullptr);
  FRecordLength = uint32_t(f.GetRecordLength());
  CompressionDescriptor = std::make_unique<TzfBaseRecordCompressionDescriptor>(nullptr);
  CompressionDescriptor->brcdRecordCompressionEngine = aSmart ? u"Smart" : u"Null";
  Compression = TzfBaseRecordCompressionEngine::CreateEngine(CompressionDescriptor.get(), &f, 2);
}

void TKitTable::UseEngine(bool aVariable, bool aSmart) {
  if (!aVariable) {
    Dict->AddRecordDescriptor(nullptr);
    Dict->tdRecordDescriptor->diID = kzfKitStaticID;
    return;
  }
  auto* hrd = dynamic_cast<TzfHeapRecordDescriptor*>(Dict->AddRecordDescriptor(&TzfHeapRecordDescriptor::ClassInfo()));
  hrd->brdRecordEngine = u"Variable";
  hrd->diID = kzfKitStaticID;
  hrd->AddHeapDescriptor();
  hrd->hrdHeapDescriptor->diID = kzfKitHeapID;
  hrd->AddRecordCompressionDescriptor()->brcdRecordCompressionEngine = aSmart ? u"Smart" : u"Null";
}

TKitTable::~TKitTable() {
  Compression.reset();
  CompressionDescriptor.reset();
  Dict.reset();
}

std::vector<uint8_t> TKitTable::MakeRecord(uint32_t aID, std::mt19937_64& aRandom) const {
  TzfFieldsDescriptor& f = Fields();
  std::vector<uint8_t> r(FRecordLength);
  f.InitRecord(r.data());
  const int32_t id = int32_t(aID);
  f.SetRecordField(0, r.data(), &id);
  const double stamp = 40000.0 + double(aRandom() % 10000000) / 1000.0;
  f.SetRecordField(1, r.data(), &stamp);
  uint8_t shortBuf[21] = {};
  const std::string s = RandomText(aRandom, 20);
  shortBuf[0] = uint8_t(s.size());
  std::memcpy(shortBuf + 1, s.data(), s.size());
  f.SetRecordField(2, r.data(), shortBuf);
  uint8_t longBuf[55] = {};
  const std::string l = RandomText(aRandom, 54);
  std::memcpy(longBuf, l.data(), l.size());
  f.SetRecordField(3, r.data(), longBuf);
  if (aRandom() % 4 != 0) {
    const double v = double(aRandom() % 1000000) / 7.0;
    f.SetRecordField(4, r.data(), &v);
  }
  return r;
}

namespace {

// The records of a table and which ones the deletions pick, the same for both makers.
struct TPlan {
  std::vector<std::vector<uint8_t>> Records;
  std::vector<uint32_t> DeleteOrder;  // indexes of the records to delete
};
TPlan Plan(const TKitTable& aTable, const TMakeOptions& aOptions) {
  TPlan p;
  std::mt19937_64 random(aOptions.Seed);
  p.Records.reserve(aOptions.Records);
  for (uint32_t i = 0; i < aOptions.Records; ++i) p.Records.push_back(aTable.MakeRecord(i + 1, random));
  std::vector<uint32_t> order(p.Records.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  order.resize(std::min<size_t>(aOptions.Delete, order.size()));
  p.DeleteOrder = std::move(order);
  return p;
}

std::vector<std::vector<uint8_t>> Survivors(TPlan& aPlan, std::vector<std::vector<uint8_t>>* aDeleted) {
  std::vector<bool> deleted(aPlan.Records.size(), false);
  for (uint32_t i : aPlan.DeleteOrder) deleted[i] = true;
  std::vector<std::vector<uint8_t>> live;
  for (size_t i = 0; i < aPlan.Records.size(); ++i) {
    if (!deleted[i]) live.push_back(std::move(aPlan.Records[i]));
    else if (aDeleted) aDeleted->push_back(std::move(aPlan.Records[i]));
  }
  return live;
}

// Version 1 by hand: the block formats at usable size 4096, no owner IDs, block 0 by hand.
std::vector<std::vector<uint8_t>> MakeByHand(const std::string& aPath, const TMakeOptions& aOptions,
                                             std::vector<std::vector<uint8_t>>* aDeleted) {
  const uint32_t kUsable = kBlock;
  TKitTable table(aOptions.Smart);
  const uint32_t len = table.RecordLength();
  TPlan plan = Plan(table, aOptions);
  const std::vector<std::vector<uint8_t>>& records = plan.Records;

  std::vector<std::vector<uint8_t>> blocks;
  auto newBlock = [&blocks]() -> uint8_t* {
    blocks.emplace_back(kBlock, 0);
    return blocks.back().data();
  };
  // Where each record went: block index (0-based among data blocks) and slot.
  std::vector<std::pair<uint32_t, uint32_t>> places;
  places.reserve(records.size());
  if (!aOptions.Variable) {
    const TzfStaticGeometry geo = zfStaticGeometry(kUsable, len);
    for (const auto& r : records) {
      if (blocks.empty() || zfGetLE16(blocks.back().data() + 28) == 0) {
        const uint32_t prev = uint32_t(blocks.size());  // the previous block's number (0: none)
        uint8_t* b = newBlock();
        zfStaticInitBlock(b, geo, uint32_t(blocks.size()), prev);
        if (prev != 0) zfPutLE32(blocks[prev - 1].data() + 16, prev + 1);
      }
      places.emplace_back(uint32_t(blocks.size() - 1), zfStaticStoreRecord(blocks.back().data(), geo, r.data()));
    }
  } else {
    TzfNonfragmentingBlockHeapEngine heap(kUsable, kzfVariableOwnerHeaderSize);
    std::vector<uint8_t> seg(zfVariableSegmentRoom(len));
    for (const auto& r : records) {
      const uint32_t size = zfVariableEncodeRecord(r.data(), len, table.Compression.get(), seg.data());
      uint32_t slot = 0;
      uint8_t* data = blocks.empty() ? nullptr : heap.AllocSegment(blocks.back().data(), uint16_t(size), slot);
      if (!data) {
        const uint32_t prev = uint32_t(blocks.size());
        uint8_t* b = newBlock();
        zfSetBlockSignature(b, kzfHeapDataBlockSignature);
        zfSetThisBlock(b, uint32_t(blocks.size()));
        zfPutLE32(b + 20, prev);
        if (prev != 0) zfPutLE32(blocks[prev - 1].data() + 16, prev + 1);
        heap.InitBlock(b);
        data = heap.AllocSegment(b, uint16_t(size), slot);
      }
      std::memcpy(data, seg.data(), size);
      places.emplace_back(uint32_t(blocks.size() - 1), slot);
    }
  }
  // Deletions at random; the survivors are what a salvage must give back.
  TzfNonfragmentingBlockHeapEngine heap(kUsable, kzfVariableOwnerHeaderSize);
  const TzfStaticGeometry geo = zfStaticGeometry(kUsable, len);
  for (uint32_t i : plan.DeleteOrder) {
    const auto [b, slot] = places[i];
    if (aOptions.Variable) heap.FreeSegment(blocks[b].data(), slot);
    else zfStaticFreeSlot(blocks[b].data(), geo, slot);
  }
  // The static engine's chain of blocks with a free slot, in block order.
  if (!aOptions.Variable) {
    uint32_t next = 0;
    for (size_t i = blocks.size(); i-- > 0;) {
      if (zfGetLE16(blocks[i].data() + 28) != 0) {
        zfPutLE32(blocks[i].data() + 24, next);
        next = uint32_t(i + 1);
      }
    }
  }
  // Block 0 of a version-1 file: signature, size code 0, usable 4096, no free chain, used blocks,
  // engine version.
  std::vector<uint8_t> b0(kBlock, 0);
  std::memcpy(b0.data(), "ZF!1", 4);
  zfPutLE32(b0.data() + kzfHdrUsableSize, kBlock);
  zfPutLE32(b0.data() + kzfHdrFreeHead, 0xFFFFFFFF);
  zfPutLE32(b0.data() + kzfHdrUsedBlocks, uint32_t(blocks.size() + 1));
  zfPutLE32(b0.data() + 36, 30900);
  std::ofstream out(aPath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b0.data()), kBlock);
  for (const auto& b : blocks) out.write(reinterpret_cast<const char*>(b.data()), kBlock);
  if (!out) throw EzfBaseException(zfErrWriteErr, rtl::u16("Cannot write " + aPath));
  return Survivors(plan, aDeleted);
}

}  // namespace

std::vector<std::vector<uint8_t>> MakeTable(const std::string& aPath, const TMakeOptions& aOptions,
                                            std::vector<std::vector<uint8_t>>* aDeleted) {
  if (aOptions.Version1) return MakeByHand(aPath, aOptions, aDeleted);
  TKitTable table(aOptions.Smart);
  table.UseEngine(aOptions.Variable, aOptions.Smart);
  TPlan plan = Plan(table, aOptions);
  std::remove(aPath.c_str());
  const std::string dir = aPath.find('/') == std::string::npos ? std::string(".") : aPath.substr(0, aPath.rfind('/') + 1);
  TzfBufferManager bm(rtl::u16(dir));
  std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, rtl::u16(aPath), &bm);
  file->fiMaxBlocks = 1u << 24;
  file->OpenFile(omReadWrite, smExclusive, false, true);
  bool added = false;
  try {
    {
      TKitTrans t(&bm);
      zfRaiseIfError(file->AddHeader(&t, {}, zfHeaderSignature2));
      t.Commit();
      added = true;
    }
    TzfBlockAccess access(file.get(), nullptr, u"table", 0);
    const TzfBlockAccessList files{&access};
    std::unique_ptr<TzfBaseRecordEngine> engine;
    {
      TKitTrans t(&bm);
      engine = TzfBaseRecordEngine::CreateEngine(*table.Dict, files, &t);
      t.Commit();
    }
    constexpr size_t kBatch = 5000;
    std::vector<int64_t> refs(plan.Records.size());
    for (size_t i = 0; i < plan.Records.size(); i += kBatch) {
      TKitTrans t(&bm);
      for (size_t j = i; j < std::min(plan.Records.size(), i + kBatch); ++j)
        engine->AddRecord(&t, refs[j], plan.Records[j].data());
      t.Commit();
    }
    for (size_t i = 0; i < plan.DeleteOrder.size(); i += kBatch) {
      TKitTrans t(&bm);
      for (size_t j = i; j < std::min(plan.DeleteOrder.size(), i + kBatch); ++j)
        engine->DeleteRecord(&t, refs[plan.DeleteOrder[j]]);
      t.Commit();
    }
    engine.reset();
  } catch (...) {
    if (added) bm.RemoveFile(file.get());
    file->CloseFile();
    throw;
  }
  bm.RemoveFile(file.get());
  file->CloseFile();
  return Survivors(plan, aDeleted);
}

namespace {

// Reads the table file in large chunks and hands each physical block on.
class TBlockReader {
 public:
  explicit TBlockReader(const std::string& aPath) : FIn(aPath, std::ios::binary) {
    if (!FIn) throw EzfBaseException(zfErrCantOpenFile, rtl::u16("Cannot open " + aPath));
    std::vector<uint8_t> b0(kzfMinBlockSizeBytes, 0);
    FIn.read(reinterpret_cast<char*>(b0.data()), std::streamsize(b0.size()));
    if (FIn.gcount() < std::streamsize(b0.size())) RaiseHeader("file shorter than one block");
    const std::string sig(reinterpret_cast<const char*>(b0.data()), 4);
    if (sig == "ZF!1") Version = 1;
    else if (sig == "ZF!2") Version = 2;
    else RaiseHeader("unknown signature");
    const uint8_t code = b0[kzfHdrBlockSizeCode];
    if (!zfIsValidBlockSizeCode(code)) RaiseHeader("block size code out of range");
    BlockBytes = kzfMinBlockSizeBytes << code;
    Usable = zfGetLE32(b0.data() + kzfHdrUsableSize);
    if (Usable < 256 || Usable > BlockBytes - (Version == 2 ? 4 : 0)) RaiseHeader("usable size out of range");
    FIn.clear();
    FIn.seekg(0, std::ios::end);
    FileBytes = uint64_t(FIn.tellg());
    FIn.seekg(0);
  }
  // Calls aBlock(number, bytes) for every whole block; a partial tail block is not counted.
  template <class F>
  void Each(F&& aBlock) {
    constexpr size_t kChunk = 1u << 20;
    std::vector<uint8_t> buf((kChunk / BlockBytes) * BlockBytes);
    uint32_t n = 0;
    while (FIn) {
      FIn.read(reinterpret_cast<char*>(buf.data()), std::streamsize(buf.size()));
      const size_t got = size_t(FIn.gcount()) / BlockBytes;
      for (size_t i = 0; i < got; ++i, ++n) aBlock(n, buf.data() + i * BlockBytes);
      if (got * BlockBytes < buf.size()) break;
    }
  }
  int32_t Owner(const uint8_t* aBlock) const { return Version == 2 ? int32_t(zfGetLE32(aBlock + Usable)) : 0; }

  int Version = 0;
  uint32_t BlockBytes = 0;
  uint32_t Usable = 0;
  uint64_t FileBytes = 0;

 private:
  std::ifstream FIn;
};

}  // namespace

TSalvageSummary SalvageTable(const std::string& aPath,
                             const std::function<void(uint32_t, uint32_t, const uint8_t*, uint32_t)>& aRecord) {
  TBlockReader reader(aPath);
  TKitTable table(true);
  const uint32_t len = table.RecordLength();
  TSalvageSummary sum;
  sum.BlocksTotal = reader.FileBytes / reader.BlockBytes;
  sum.Bytes = reader.FileBytes;
  const TzfStaticGeometry geo = zfStaticGeometry(reader.Usable, len);
  std::vector<uint8_t> buffer(len);
  uint32_t current = 0;
  TzfRecoverStats st;
  const TzfRecordIterator iterator = [&](void*, int64_t, const uint8_t* aRec) {
    if (aRecord) aRecord(current, st.Slot, aRec, len);
    return TzfRecordIteratorResult::rirContinue;
  };
  reader.Each([&](uint32_t aNumber, const uint8_t* aBlock) {
    ++sum.BlocksRead;
    if (aNumber == 0) return;
    current = aNumber;
    const int32_t owner = reader.Owner(aBlock);
    if (owner == kzfKitStaticID || reader.Version == 1) {
      zfStaticRecoverBlock(aBlock, geo, aNumber, nullptr, nullptr, iterator, nullptr, &st);
      sum.Records += st.Records;
      sum.Skipped += st.Skipped;
    }
    if (owner == kzfKitHeapID || reader.Version == 1) {
      zfVariableRecoverBlock(aBlock, reader.Usable, aNumber, len, table.Compression.get(), buffer.data(), nullptr,
                             iterator, nullptr, &st);
      sum.Records += st.Records;
      sum.Skipped += st.Skipped;
    }
  });
  return sum;
}

void WalkTable(const std::string& aPath,
               const std::function<void(uint32_t, const std::string&, int32_t, bool)>& aBlock) {
  TBlockReader reader(aPath);
  TKitTable table(true);
  const TzfStaticGeometry geo = zfStaticGeometry(reader.Usable, table.RecordLength());
  reader.Each([&](uint32_t aNumber, const uint8_t* b) {
    std::string sig;
    for (int i = 0; i < 4; ++i) sig += (b[i] >= 32 && b[i] < 127) ? char(b[i]) : '.';
    bool valid = false;
    const TzfBlockSignature s = zfGetBlockSignature(b);
    if (aNumber == 0) valid = true;
    else if (s == kzfStaticDataBlockSignature) valid = zfCheckStaticBlock(b, geo, aNumber).Valid;
    else if (s == kzfHeapManagementBlockSignature)
      valid = zfGetThisBlock(b) == aNumber && zfGetLE16(b + 20) <= (reader.Usable - 22) / 6;
    else if (s == kzfHeapDataBlockSignature)
      valid = zfGetThisBlock(b) == aNumber &&
              zfCheckHeapBlock(b, reader.Usable, zfHeapDataStart(kzfVariableOwnerHeaderSize)).Valid;
    aBlock(aNumber, sig, aNumber == 0 ? 0 : reader.Owner(b), valid);
  });
}

std::vector<TDamageHit> DamageTable(const std::string& aSource, const std::string& aTarget,
                                    std::vector<uint32_t> aBlocks, TDamageMode aMode, uint64_t aSeed) {
  TBlockReader reader(aSource);  // checks block 0
  std::vector<uint8_t> bytes(reader.FileBytes);
  {
    std::ifstream in(aSource, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    if (size_t(in.gcount()) != bytes.size())
      throw EzfBaseException(zfErrCantOpenFile, rtl::u16("Cannot read " + aSource));
  }
  const uint32_t blockBytes = reader.BlockBytes;
  const uint64_t blocks = bytes.size() / blockBytes;
  std::sort(aBlocks.begin(), aBlocks.end());
  aBlocks.erase(std::unique(aBlocks.begin(), aBlocks.end()), aBlocks.end());
  while (!aBlocks.empty() && aBlocks.back() >= blocks) aBlocks.pop_back();
  auto describe = [&](uint64_t n) {
    const uint8_t* b = bytes.data() + n * blockBytes;
    TDamageHit hit;
    hit.Block = uint32_t(n);
    for (int i = 0; i < 4; ++i) hit.Signature += (b[i] >= 32 && b[i] < 127) ? char(b[i]) : '.';
    hit.Owner = n == 0 ? 0 : reader.Owner(b);
    return hit;
  };
  std::vector<TDamageHit> hits;
  std::mt19937_64 random(aSeed);
  for (const uint32_t n : aBlocks) {
    uint8_t* b = bytes.data() + uint64_t(n) * blockBytes;
    hits.push_back(describe(n));
    switch (aMode) {
      case TDamageMode::Zero: std::memset(b, 0, blockBytes); break;
      case TDamageMode::Random:
        for (uint32_t i = 0; i < blockBytes; ++i) b[i] = uint8_t(random());
        break;
      case TDamageMode::BitFlip:
        for (uint32_t i = 0; i < blockBytes; i += 64) b[i + random() % 64] ^= uint8_t(1u << (random() % 8));
        break;
      case TDamageMode::Truncate: break;
    }
  }
  size_t keep = bytes.size();
  if (aMode == TDamageMode::Truncate && !aBlocks.empty()) {
    keep = size_t(aBlocks.front()) * blockBytes;
    // Every block from the cut on is lost.
    hits.clear();
    for (uint64_t n = aBlocks.front(); n < blocks; ++n) hits.push_back(describe(n));
  }
  std::ofstream out(aTarget, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(keep));
  if (!out) throw EzfBaseException(zfErrCantOpenFile, rtl::u16("Cannot write " + aTarget));
  return hits;
}

std::vector<uint32_t> ChooseBlocks(const std::string& aPath, double aFraction, uint64_t aSeed) {
  TBlockReader reader(aPath);
  const uint64_t blocks = reader.FileBytes / reader.BlockBytes;
  std::vector<uint32_t> chosen;
  if (blocks < 2 || !(aFraction > 0)) return chosen;
  std::vector<uint32_t> all;
  for (uint64_t n = 1; n < blocks; ++n) all.push_back(uint32_t(n));
  std::mt19937_64 random(aSeed);
  std::shuffle(all.begin(), all.end(), random);
  const double want = std::min(1.0, aFraction) * double(all.size());
  size_t count = size_t(want);
  if (count == 0) count = 1;
  chosen.assign(all.begin(), all.begin() + std::ptrdiff_t(std::min(count, all.size())));
  std::sort(chosen.begin(), chosen.end());
  return chosen;
}

}  // namespace zf::kit
