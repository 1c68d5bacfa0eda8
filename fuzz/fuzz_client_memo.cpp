// Fuzzes a memo's way through the client: first the input's bytes go through the client's BLOB
// stream into a memo field of a real engine table (a wide memo, or a memo stored in code page 850)
// and come back through the stream and the field's text; then they take the tool's copy-back: the stored BLOB bytes of a memo field of the
// failed table are decoded into text (TzfMemoField::DecodeMemo), and that text is stored into the
// memo field of the recovered table, whose storage code page or width may differ
// (TzfMemoField::EncodeMemo, what setting the field's text does), and read back from there.
//
// Input: byte 0 the source memo, byte 1 the target memo: bit 7 a wide memo, the rest the storage
// code page of the memo's locale; the remaining bytes are the source BLOB's content.
//
// The stream part: record 1 of table "Docs" in edit state; the bytes are written through the
// field's BLOB stream in chunks of 16 to 4096 bytes (16 times byte 1 + 1), read back whole, cut at half their
// length and written again from there, then posted. The stream must read back what was written
// at every step, and after the post the field's text is the decoded bytes and a read stream gives
// the bytes again.
//
// A wide memo must give exactly half its byte count in UTF-16 units (an odd last byte dropped)
// and never read past the bytes; a memo of any code page must decode and encode without a crash,
// answering the run time's or the engine's exceptions at most. Text stored into a wide memo reads
// back unchanged, and a wide memo copied into a wide memo keeps its bytes.
//
// The first fifteen code pages are the ones the seeds name; the rest reach the converters with
// state or several bytes a character (ISO-2022, HZ, GB 18030, EUC, Johab, EBCDIC, right-to-left).
// fuzz/corpus/fuzz_client_memo.dict holds lead bytes, escape sequences and surrogates of these.
// The crash log is quiet for the run (the engine helper's): a refused conversion raises, and a
// report of each would cost more than the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "client/zfdbBlob.h"
#include "client/zfdb.h"
#include "client/zfdbStartup.h"
#include "client/zfdbTable.h"
#include "dictionary/zfsdLocaleDescriptor.h"
#include "foundation/zfllConst.h"
#include "fuzz/zfsrFuzzServer.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "storage/zfsrDataDictionary.h"
#include "foundation/zfllException.h"
#include "platform/rtl/rtlException.h"

namespace {

const uint16_t kCodePages[] = {0,     850,   1250,  1251,  1252,  932,   936,   949,   950,   65001, 20127,
                               437,   1200,  65000, 42,    50220, 50225, 52936, 54936, 20932, 51949, 1361,
                               37,    1026,  864,   1255,  1256,  1258,  874,   10004, 20866, 28596};

struct TMemo {
  bool Wide;
  uint16_t CodePage;
};

TMemo MemoOf(uint8_t aByte) {
  return {(aByte & 0x80) != 0, kCodePages[(aByte & 0x7F) % (sizeof(kCodePages) / sizeof(kCodePages[0]))]};
}

// An engine with table "Docs" (ID, Memo in code page 850, Wide memo) of one record, and a client
// session, database and table component open on it.
struct TDocs {
  TDocs() {
    Server.Start("zf_fuzz_memo_", true);
    Server.OpenDatabase(zf::zfVersion30900);
    zf::TzfServerDataDict dict;
    zf::TzfLocaleDescriptor* locale = dict.AddLocaleDescriptor(nullptr);
    locale->SetLocale(0x0407);
    locale->ldOverrideStorageCodepage = 850;
    dict.tdFieldsDescriptor->AddField(u"ID", u"", zf::zftInt32, 0, 0, false, nullptr);
    dict.tdFieldsDescriptor->AddField(u"Memo", u"", zf::zftBlobMemo, 0, 0, false, nullptr);
    dict.tdFieldsDescriptor->AddField(u"Wide", u"", zf::zftBlobWideMemo, 0, 0, false, nullptr);
    if (Server.Db->TableBuild(false, u"Docs", u"", &dict, zf::tsPersistent, false) != 0) __builtin_trap();
    zf::TzfAbstractCursor* c = nullptr;
    if (Server.Db->CursorOpen(c, u"Docs", u"", zf::omReadWrite, zf::smShared, 10000, false) != 0) __builtin_trap();
    uint8_t* b = c->RecordBufferAlloc();
    c->RecordBufferClear(b);
    c->SetFieldFromVariant(b, 0, zf::rtl::Variant(int32_t(1)));
    if (c->RecordInsert(zf::zfltNoLock, b) != 0) __builtin_trap();
    c->RecordBufferFree(b);
    c->Free();
    Session.reset(new zf::TzfSession());
    Session->SetName(u"FuzzSession");
    Session->SetServerEngine(Server.Engine);
    Db.reset(new zf::TzfDatabase());
    Db->SetName(u"FuzzDatabase");
    Db->SetSession(Session.get());
    Db->SetAliasPath(zf::rtl::u16(Server.Dir.string()));
    Db->Open();
    Table.reset(new zf::TzfTable());
    Table->SetName(u"FuzzDocs");
    Table->SetDatabase(Db.get());
    Table->SetTableName(u"Docs");
    Table->Open();
  }
  ~TDocs() {
    Table.reset();
    Db.reset();
    Session.reset();
    Server.Stop();
  }
  zf::fuzz::TFuzzServer Server;
  zf::rtl::TComponentPtr<zf::TzfSession> Session;
  zf::rtl::TComponentPtr<zf::TzfDatabase> Db;
  zf::rtl::TComponentPtr<zf::TzfTable> Table;
};

std::vector<uint8_t> ReadAll(zf::rtl::TStream& aStream) {
  std::vector<uint8_t> got(size_t(aStream.GetSize()) + 16);
  aStream.Seek(0, zf::rtl::TSeekOrigin::soBeginning);
  got.resize(size_t(std::max(0, aStream.Read(got.data(), int32_t(got.size())))));
  return got;
}

// The stream part (see above).
void ThroughTheStream(TDocs& aDocs, bool aWide, uint8_t aChunk, const uint8_t* aBytes, size_t aLength) {
  zf::zfBlobChunkSize = 16 * (int32_t(aChunk) + 1);
  zf::TzfTable& t = *aDocs.Table;
  auto& field = dynamic_cast<zf::TzfMemoField&>(t.FieldByName(aWide ? u"Wide" : u"Memo"));
  const std::vector<uint8_t> bytes(aBytes, aBytes + aLength);
  t.Edit();
  {
    auto s = t.CreateBlobStream(&field, zf::db::bmWrite);
    s->WriteBuffer(bytes.data(), int64_t(bytes.size()));
    if (s->GetSize() != int64_t(bytes.size()) || ReadAll(*s) != bytes) __builtin_trap();
    const int64_t half = int64_t(bytes.size() / 2);
    s->Seek(half, zf::rtl::TSeekOrigin::soBeginning);
    dynamic_cast<zf::TzfBaseBlobStream&>(*s).Truncate();
    if (s->GetSize() != half || ReadAll(*s) != std::vector<uint8_t>(bytes.begin(), bytes.begin() + half))
      __builtin_trap();
    s->Seek(half, zf::rtl::TSeekOrigin::soBeginning);
    s->WriteBuffer(bytes.data() + half, int64_t(bytes.size()) - half);
    if (ReadAll(*s) != bytes) __builtin_trap();
  }
  t.Post();
  if (field.GetAsWideString() != zf::TzfMemoField::DecodeMemo(bytes.data(), bytes.size(), aWide, field.CodePage()))
    __builtin_trap();
  auto r = t.CreateBlobStream(&field, zf::db::bmRead);
  if (ReadAll(*r) != bytes) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* aArgc, char*** aArgv) {
  zf::fuzz::PlainScheduleByDefault(aArgc, aArgv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const bool started = (zf::zfStartClient(), true);
  static TDocs docs;
  (void)started;
  if (aSize < 2) return 0;
  const TMemo source = MemoOf(aData[0]), target = MemoOf(aData[1]);
  const size_t length = aSize - 2;
  ThroughTheStream(docs, source.Wide, aData[1], aData + 2, length);
  zf::rtl::UnicodeString text;
  try {
    text = zf::TzfMemoField::DecodeMemo(aData + 2, length, source.Wide, source.CodePage);
    if (source.Wide && text.size() != length / 2) __builtin_trap();
    if (!source.Wide && text.size() > length * 2) __builtin_trap();  // no code page makes more than 2 units of a byte
  } catch (const zf::EzfBaseException&) {
    return 0;
  } catch (const zf::rtl::Exception&) {
    return 0;
  }
  try {
    const std::vector<uint8_t> stored = zf::TzfMemoField::EncodeMemo(text, target.Wide, target.CodePage);
    if (target.Wide && stored.size() != text.size() * 2) __builtin_trap();
    const zf::rtl::UnicodeString back =
        zf::TzfMemoField::DecodeMemo(stored.data(), stored.size(), target.Wide, target.CodePage);
    if (target.Wide && back != text) __builtin_trap();
    // Bytes a wide memo stored go back into the wide form unchanged.
    if (source.Wide && target.Wide) {
      const std::vector<uint8_t> again = zf::TzfMemoField::EncodeMemo(back, true, 0);
      if (again.size() != (length & ~size_t(1)) || !std::equal(again.begin(), again.end(), aData + 2)) __builtin_trap();
    }
  } catch (const zf::EzfBaseException&) {
  } catch (const zf::rtl::Exception&) {
  }
  return 0;
}
