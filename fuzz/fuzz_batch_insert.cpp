// Fuzzes the batch-stream insert of a table cursor: the input is the whole batch stream (header,
// entries, records whose BLOB fields hold image offsets, BLOB images). The insert must answer 0 or
// a code, never read outside the stream, crash, hang or leak. Each input runs in a transaction that
// is rolled back, so the table stays empty between inputs.
//
// The table: "ID" Int32, "Memo" BlobMemo, "Data" Blob, "Seq" AutoInc. ZF_FUZZ_WRITE_SEED=<file>
// writes a valid seed of two records with BLOBs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dictionary/zfsdFieldsDescriptor.h"
#include "foundation/zfllStreams.h"
#include "fuzz/zfsrFuzzServer.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTableCursor.h"
#include "storage/zfsrDataDictionary.h"

namespace {

zf::fuzz::TFuzzServer gServer;
zf::TzfAbstractDatabase*& gDb = gServer.Db;
zf::TzfAbstractCursor* gCursor = nullptr;

void PutInt32(std::vector<uint8_t>& aTo, size_t aAt, int32_t aValue) {
  const uint32_t v = static_cast<uint32_t>(aValue);
  for (int i = 0; i < 4; ++i) aTo[aAt + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A batch of two records, the first with both BLOB images, the second with an empty one.
void MakeSeed(const char* aSeedFile) {
  zf::TzfFieldsDescriptor& f = *gCursor->acGetTableDescriptor()->tdFieldsDescriptor;
  const size_t rl = static_cast<size_t>(f.GetRecordLength());
  std::vector<uint8_t> bytes(8, 0);
  const char* contents[2][2] = {{"memo text", "binary bytes"}, {"", "x"}};
  for (int r = 0; r < 2; ++r) {
    uint8_t* rec = gCursor->RecordBufferAlloc();
    gCursor->SetFieldFromVariant(rec, 0, zf::rtl::Variant(r + 1));
    const size_t entry = bytes.size();
    bytes.resize(entry + 4 + rl);
    for (int32_t field = 1; field <= 2; ++field) {
      const char* text = contents[r][field - 1];
      const size_t len = std::strlen(text);
      const int64_t at = static_cast<int64_t>(bytes.size());
      f.SetRecordField(field, rec, &at);
      bytes.resize(bytes.size() + 4 + len);
      PutInt32(bytes, static_cast<size_t>(at), static_cast<int32_t>(len));
      std::memcpy(bytes.data() + at + 4, text, len);
    }
    std::memcpy(bytes.data() + entry + 4, rec, rl);
    gCursor->RecordBufferFree(rec);
    PutInt32(bytes, entry, static_cast<int32_t>(bytes.size() - entry - 4));
  }
  PutInt32(bytes, 4, 2);
  zf::fuzz::WriteFile(aSeedFile, bytes.data(), bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gServer.Start("zf_fuzz_batch_");
  gServer.OpenDatabase(10000);
  zf::TzfServerDataDict d;
  d.tdFieldsDescriptor->AddField(u"ID", u"", zf::zftInt32, 0, 0, false, nullptr);
  d.tdFieldsDescriptor->AddField(u"Memo", u"", zf::zftBlobMemo, 0, 0, false, nullptr);
  d.tdFieldsDescriptor->AddField(u"Data", u"", zf::zftBlob, 0, 0, false, nullptr);
  d.tdFieldsDescriptor->AddField(u"Seq", u"", zf::zftAutoInc, 0, 0, false, nullptr);
  d.AddBlobDescriptor();
  if (gDb->TableBuild(true, u"T", u"", &d, zf::tsPersistent, false) != 0) std::abort();
  if (gDb->CursorOpen(gCursor, u"T", u"", zf::omReadWrite, zf::smShared, 10000, false) != 0) std::abort();
  if (const char* seed = std::getenv("ZF_FUZZ_WRITE_SEED")) MakeSeed(seed);
  std::atexit([] {
    gCursor->Free();
    gServer.Stop();
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  zf::TzfMemoryStream stream;
  if (aSize > 0) stream.Write(aData, static_cast<int32_t>(aSize));
  zf::TzfAbstractTransContext* ctx = gDb->TransContext();
  if (ctx->TransactionStart(false, false) != 0) return 0;
  gCursor->RecordInsertBatch(stream);
  ctx->TransactionRollback();
  return 0;
}
