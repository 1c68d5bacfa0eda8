// Fuzzes a client dataset reading records in blocks: the block stream the engine cursor hands
// back (code, count, then per record a length, the record, its bookmark and the BLOB images, each
// BLOB field holding the offset of its image) is built from the input and then damaged. Walking
// the block and reading every field, BLOBs through the block-mode stream, must end in a coded
// error or a success: no read outside the block, no crash, no endless walk.
//
// Input: byte 0 options (bit 0 BLOBs, bit 1 bookmarks, bit 2 FlipOrder); byte 1 record count
// (modulo 16); byte 2 block code (0, 8706, 15444, 8705 or 8961); then one byte per record, the
// length of its BLOB (0 = NULL); the rest are patches of 3 bytes: offset (2 bytes, modulo the
// block's size) and value. Every later block the dataset asks for answers 8706 with no record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "client/zfdb.h"
#include "client/zfdbDataset.h"
#include "client/zfdbStartup.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "fuzz/zfsrFuzzServer.h"
#include "storage/zfsrDataDictionary.h"
#include "tests/client/zfdbProbeCursor.h"

namespace {

using namespace zf;

fuzz::TFuzzServer gServer;
TzfSession* gSession = nullptr;
TzfDatabase* gDatabase = nullptr;
std::vector<uint8_t> gBlock;
bool gServed = false;

class TFuzzDataset : public TzfDataset {
 public:
  using TzfDataset::BookmarkSize;
  void SetFlip(bool aValue) { SetFlipOrder(aValue); }

 protected:
  void OpenAbstractCursor() override {
    TzfAbstractCursor* c = nullptr;
    Check(Database()->AbstractDatabase()->CursorOpen(c, u"Docs", u"", omReadOnly, smShared, 2000, false));
    auto* probe = zfCreateServerObject<zf::test::TProbeCursor>(c);
    probe->OnRecordGetBatch = [](int32_t, TzfRecordGetBatchExOptions, TzfMemoryStream& aStream, int32_t, bool) {
      if (!gServed) {
        gServed = true;
        aStream.WriteBuffer(gBlock.data(), static_cast<int64_t>(gBlock.size()));
      } else {
        const uint8_t end[8] = {0x02, 0x22, 0, 0, 0, 0, 0, 0};  // 8706, no record
        aStream.WriteBuffer(end, 8);
      }
      return 0u;
    };
    dsAbstractCursor = probe;
  }
};

TFuzzDataset* gDataset = nullptr;

void Put32(std::vector<uint8_t>& aTo, uint32_t aValue) {
  for (int i = 0; i < 4; ++i) aTo.push_back(static_cast<uint8_t>(aValue >> (8 * i)));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zfStartClient();
  gServer.Start("zf_fuzz_block_read_");
  gSession = new TzfSession();
  gSession->SetName(u"Session1");
  gSession->SetServerEngine(gServer.Engine);
  gDatabase = new TzfDatabase();
  gDatabase->SetName(u"Database1");
  gDatabase->SetSession(gSession);
  gDatabase->SetAliasPath(rtl::u16(gServer.Dir.string()));
  gDatabase->Open();
  TzfServerDataDict dict;
  dict.tdFieldsDescriptor->AddField(u"ID", u"", zftInt32, 0, 0, false, nullptr);
  dict.tdFieldsDescriptor->AddField(u"Data", u"", zftBlob, 0, 0, false, nullptr);
  dict.tdFieldsDescriptor->AddField(u"Memo", u"", zftBlobMemo, 0, 0, false, nullptr);
  if (gDatabase->AbstractDatabase()->TableBuild(false, u"Docs", u"", &dict, tsPersistent, false) != 0)
    __builtin_trap();
  gDataset = new TFuzzDataset();
  gDataset->SetName(u"Docs1");
  gDataset->SetDatabase(gDatabase);
  std::atexit([] {
    gDataset->Free();
    gDatabase->Free();
    gSession->Free();
    gServer.Stop();
    zfStopClient();
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < 3) return 0;
  const uint8_t options = aData[0];
  const uint32_t count = aData[1] % 16;
  static const uint32_t kCodes[] = {0, zfErrEOF, zfErrFilterTimeout, zfErrBOF, zfErrHeaderCorrupt};
  const uint32_t code = kCodes[aData[2] % 5];
  size_t at = 3;
  TzfDataset& ds = *gDataset;
  ds.SetBlockReadOptions(static_cast<TzfRecordGetBatchExOptions>(options & 3));
  gDataset->SetFlip((options & 4) != 0);
  try {
    ds.Open();
  } catch (const std::exception&) {
    __builtin_trap();  // nothing has been read yet
  }
  TzfFieldsDescriptor& fields = ds.AbstractCursor()->acFields();
  const auto recordLength = static_cast<size_t>(fields.GetRecordLength());
  const size_t bookmark = (options & 2) ? static_cast<size_t>(gDataset->BookmarkSize()) : 0;
  // The sound block.
  gBlock.clear();
  Put32(gBlock, code);
  Put32(gBlock, count);
  for (uint32_t r = 0; r < count; ++r) {
    const size_t blobLength = at < aSize ? aData[at++] : 0;
    std::vector<uint8_t> record(recordLength);
    fields.InitRecord(record.data());
    const int32_t id = static_cast<int32_t>(r + 1);
    fields.SetRecordField(0, record.data(), &id);
    const size_t entry = gBlock.size();
    Put32(gBlock, 0);
    const size_t recordAt = gBlock.size();
    gBlock.insert(gBlock.end(), record.begin(), record.end());
    gBlock.insert(gBlock.end(), bookmark, 0);
    if (blobLength > 0 && (options & 1)) {
      const uint64_t image = gBlock.size();
      Put32(gBlock, static_cast<uint32_t>(blobLength));
      for (size_t i = 0; i < blobLength; ++i) gBlock.push_back(static_cast<uint8_t>(i));
      uint8_t v[8];
      for (int i = 0; i < 8; ++i) v[i] = static_cast<uint8_t>(image >> (8 * i));
      fields.SetRecordField(1, gBlock.data() + recordAt, v);
      fields.SetRecordField(2, gBlock.data() + recordAt, v);
    }
    const auto length = static_cast<uint32_t>(gBlock.size() - entry - 4);
    for (int i = 0; i < 4; ++i) gBlock[entry + i] = static_cast<uint8_t>(length >> (8 * i));
  }
  // The damage.
  for (; at + 3 <= aSize; at += 3) {
    const size_t offset = (aData[at] | (aData[at + 1] << 8)) % gBlock.size();
    gBlock[offset] = aData[at + 2];
  }
  gServed = false;
  try {
    ds.SetBlockReadSize(4096);
    for (int steps = 0; !ds.Eof() && steps < 64; ++steps) {
      for (int32_t i = 0; i < ds.FieldCount(); ++i) {
        db::TField& f = ds.Fields()[i];
        if (f.IsBlob()) f.GetAsString();
        else f.GetAsVariant();
      }
      ds.Next();
    }
    if (!ds.Eof()) __builtin_trap();  // the block holds at most 15 records
  } catch (const EzfDatabaseError&) {
  } catch (const rtl::Exception&) {
  }
  try {
    // Leaving block reading re-reads the current record, whose bookmark may be damaged too.
    ds.SetBlockReadSize(0);
  } catch (const EzfDatabaseError&) {
  } catch (const rtl::Exception&) {
  }
  ds.SetBlockReadSize(0);
  ds.Close();
  return 0;
}
