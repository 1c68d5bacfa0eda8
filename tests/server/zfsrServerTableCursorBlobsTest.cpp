// Table cursor BLOBs: the operations through the pass-through and null handlers, the record hooks,
// the two copy primitives (lengths, chunks, file BLOBs, links, bounds), BLOB links through the
// database's link handler, and the table's named streams.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <functional>

#include "foundation/zfllException.h"
#include "platform/rtl/rtlStringList.h"
#include "server/zfsrBlobHandlerBase.h"
#include "server/zfsrBlobHandlerPassthrough.h"
#include "server/zfsrBlobLinkHandler.h"
#include "server/zfsrServerTable.h"
#include "storage/zfsrBlobEngineBase.h"
#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

class CursorBlobs : public CursorTest {
 protected:
  void SetUp() override {
    CursorTest::SetUp();
    // Below 20000: the pass-through handler.
    S = OpenSession(10000);
    Db = OpenDb(S);
    auto dict = BlobDictionary();
    Build(Db, u"Docs", dict.get());
  }
  TzfServerSession* S = nullptr;
  TzfServerDatabase* Db = nullptr;
};

TEST_F(CursorBlobs, HandlerFollowsTheTableAndTheClientVersion) {
  auto plain = BlobDictionary(false);
  Build(Db, u"Plain", plain.get());
  TzfServerTableCursor* c = Open(Db, u"Docs");
  EXPECT_NE(dynamic_cast<TzfPassthroughBlobHandler*>(c->BlobHandler()), nullptr);
  TzfServerTableCursor* p = Open(Db, u"Plain");
  EXPECT_NE(dynamic_cast<TzfNullBlobHandler*>(p->BlobHandler()), nullptr);
  // Every BLOB operation of a table without BLOB fields is refused with the null handler's text.
  int64_t nr = 0;
  uint32_t len = 0;
  bool flag = false;
  TzfMemoryStream ms;
  const std::function<uint32_t()> ops[] = {
      [&] { return p->BlobCreate(0, nr); },         [&] { return p->BlobCreateFile(0, u"x", nr); },
      [&] { return p->BlobDelete(0, 1); },          [&] { return p->BlobFree(0, 1); },
      [&] { return p->BlobWrite(0, 1, 0, 1, "x"); }, [&] { return p->BlobTruncate(0, 1, 0); },
      [&] { return p->BlobRead(0, 1, 0, 1, ms, false); }, [&] { return p->BlobGetLength(0, 1, len, false); },
      [&] { return p->BlobModified(0, 1, flag); },
  };
  for (const auto& op : ops) {
    EXPECT_EQ(op(), zfErrNotSupported);
    uint32_t code = 0;
    UnicodeString msg;
    EzfBaseException::GetLastConvertedException(code, msg);
    EXPECT_NE(msg.find(u"Operation not supported by TzfNullBlobHandler"), UnicodeString::npos) << rtl::u8(msg);
  }
}

TEST_F(CursorBlobs, WriteReadTruncateFreeDelete) {
  TzfServerTableCursor* c = Open(Db, u"Docs");
  const int64_t nr = MakeBlob(c, "hello world");
  ASSERT_NE(nr, 0);
  EXPECT_EQ(ReadBlob(c, nr), "hello world");
  TzfMemoryStream part;
  ASSERT_EQ(c->BlobRead(2, nr, 6, 100, part, false), 0u);
  EXPECT_EQ(std::string(static_cast<const char*>(part.Memory()), static_cast<size_t>(part.Size())), "world");
  // Another cursor of another session sees the committed content.
  TzfServerTableCursor* other = Open(OpenDb(OpenSession(10000)), u"Docs");
  EXPECT_EQ(ReadBlob(other, nr), "hello world");

  ASSERT_EQ(c->BlobTruncate(2, nr, 5), 0u);
  EXPECT_EQ(ReadBlob(c, nr), "hello");
  // Freeing keeps a BLOB that holds bytes and deletes an empty one (13058 says so).
  EXPECT_EQ(c->BlobFree(2, nr), 0u);
  EXPECT_EQ(ReadBlob(c, nr), "hello");
  const int64_t empty = MakeBlob(c, "");
  EXPECT_EQ(c->BlobFree(2, empty), zfErrBlobModified);
  EXPECT_NE(ReadBlob(c, empty).rfind("<code", 0), std::string::npos);
  ASSERT_EQ(c->BlobDelete(2, nr), 0u);
  EXPECT_NE(ReadBlob(c, nr).rfind("<code", 0), std::string::npos);
  // The pass-through handler keeps no old values.
  bool modified = false;
  EXPECT_EQ(c->BlobModified(2, nr, modified), zfErrNotSupported);
  uint32_t len = 0;
  EXPECT_EQ(c->BlobGetLength(2, nr, len, true), zfErrNotSupported);
}

TEST_F(CursorBlobs, FailedWriteInsideATransactionLeavesTheTransactionUsable) {
  TzfServerTableCursor* c = Open(Db, u"Docs");
  const int64_t kept = MakeBlob(c, "kept");
  const int64_t gone = MakeBlob(c, "gone");
  ASSERT_EQ(c->BlobDelete(2, gone), 0u);
  TzfAbstractTransContext* ctx = Db->TransContext();
  ASSERT_EQ(ctx->TransactionStart(false, false), 0u);
  ASSERT_EQ(c->BlobWrite(2, kept, 0, 4, "KEPT"), 0u);
  // A write to a BLOB that no longer exists fails in its own level; the caller's stays usable.
  EXPECT_NE(c->BlobWrite(2, gone, 0, 3, "abc"), 0u);
  EXPECT_EQ(ReadBlob(c, kept), "KEPT");
  ASSERT_EQ(ctx->TransactionCommit(), 0u);
  EXPECT_EQ(ReadBlob(c, kept), "KEPT");
  // A rolled-back transaction takes its BLOB changes along.
  ASSERT_EQ(ctx->TransactionStart(false, false), 0u);
  ASSERT_EQ(c->BlobWrite(2, kept, 0, 4, "lost"), 0u);
  ASSERT_EQ(ctx->TransactionRollback(), 0u);
  EXPECT_EQ(ReadBlob(c, kept), "KEPT");
}

TEST_F(CursorBlobs, ReadOnlyCursorRefusesEveryWriteAndStillReads) {
  TzfServerTableCursor* w = Open(Db, u"Docs");
  const int64_t nr = MakeBlob(w, "data");
  TzfServerTableCursor* c = Open(Db, u"Docs", omReadOnly);
  int64_t out = 0;
  TzfMemoryStream ms;
  const std::function<uint32_t()> writes[] = {
      [&] { return c->BlobCreate(2, out); },           [&] { return c->BlobCreateFile(2, u"f", out); },
      [&] { return c->BlobDelete(2, nr); },            [&] { return c->BlobFree(2, nr); },
      [&] { return c->BlobWrite(2, nr, 0, 1, "x"); },  [&] { return c->BlobTruncate(2, nr, 0); },
      [&] { return c->TableStreamWrite(u"S", ms); },   [&] { return c->TableStreamDelete(u"S"); },
      [&] { return c->sbcBlobCreateLink(2, u"Docs", nr, out); },
  };
  for (const auto& op : writes) EXPECT_EQ(op(), c->sbcReadOnly.Error());
  EXPECT_EQ(ReadBlob(c, nr), "data");
}

TEST_F(CursorBlobs, DeletedRecordTakesItsBlobsAlong) {
  TzfServerTableCursor* c = Open(Db, u"Docs");
  const int64_t memo = MakeBlob(c, "memo text", 1);
  const int64_t data = MakeBlob(c, "binary");
  const int64_t other = MakeBlob(c, "not in the record");
  {
    Buffer b(c);
    c->SetFieldFromVariant(b.P, 0, rtl::Variant(1));
    SetBlob(c, b.P, 1, memo);
    SetBlob(c, b.P, 2, data);
    ASSERT_EQ(c->RecordInsert(zfltNoLock, b.P), 0u);
    // A record whose BLOB fields are NULL deletes none.
    Buffer n(c);
    c->SetFieldFromVariant(n.P, 0, rtl::Variant(2));
    ASSERT_EQ(c->RecordInsert(zfltNoLock, n.P), 0u);
    ASSERT_EQ(c->RecordDelete(nullptr), 0u);
  }
  EXPECT_EQ(ReadBlob(c, memo), "memo text");
  ASSERT_EQ(c->SetToBegin(), 0u);
  ASSERT_EQ(c->RecordGetNext(zfltNoLock, nullptr), 0u);
  // No buffer from the caller: the cursor reads the record itself to find its BLOBs.
  ASSERT_EQ(c->RecordDelete(nullptr), 0u);
  EXPECT_NE(ReadBlob(c, memo).rfind("<code", 0), std::string::npos);
  EXPECT_NE(ReadBlob(c, data).rfind("<code", 0), std::string::npos);
  EXPECT_EQ(ReadBlob(c, other), "not in the record");
}

TEST_F(CursorBlobs, BlockReadsCarryTheBlobImages) {
  TzfServerTableCursor* c = Open(Db, u"Docs");
  const std::string contents[2][2] = {{"", "hello"}, {"memo two", ""}};  // (Memo, Data) per record
  for (int i = 0; i < 2; ++i) {
    Buffer b(c);
    c->SetFieldFromVariant(b.P, 0, rtl::Variant(i + 1));
    for (int32_t f = 1; f <= 2; ++f)
      // Record 1's memo stays NULL; record 2's data is an empty BLOB (sent as NULL too).
      if (!(i == 0 && f == 1)) SetBlob(c, b.P, f, MakeBlob(c, contents[i][f - 1], f));
    ASSERT_EQ(c->RecordInsert(zfltNoLock, b.P), 0u);
  }
  ASSERT_EQ(c->SetToBegin(), 0u);
  TzfMemoryStream ms;
  ASSERT_EQ(c->RecordGetBatch(0x7FFFFFFF, (1u << gboBlobs) | (1u << gboBookmarks), ms, 0, true), 0u);
  const uint8_t* m = static_cast<const uint8_t*>(ms.Memory());
  const auto cardinal = [&](int64_t aAt) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | m[aAt + i];
    return v;
  };
  TzfFieldsDescriptor& fields = *c->acGetTableDescriptor()->tdFieldsDescriptor;
  const uint32_t slot = static_cast<uint32_t>(fields.GetRecordLength()) + TzfServerTableCursor::kBookmarkSize;
  EXPECT_EQ(cardinal(0), zfErrEOF);
  ASSERT_EQ(cardinal(4), 2u);
  int64_t at = 8;
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const uint32_t length = cardinal(at);
    const uint8_t* rec = m + at + 4;
    uint32_t images = 0;
    for (int32_t f = 1; f <= 2; ++f) {
      bool isNull = true;
      int64_t pos = 0;
      fields.GetRecordField(f, rec, isNull, &pos);
      const std::string& want = contents[i][f - 1];
      ASSERT_EQ(isNull, want.empty()) << "field " << f;
      if (isNull) continue;
      ASSERT_GE(pos, at + 4 + slot);
      ASSERT_LE(pos + 4 + static_cast<int64_t>(want.size()), ms.Size());
      EXPECT_EQ(cardinal(pos), want.size());
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(m + pos + 4), want.size()), want);
      images += 4 + static_cast<uint32_t>(want.size());
    }
    EXPECT_EQ(length, slot + images) << "the length word counts the images";
    at += 4 + length;
  }
  // The read that met the end leaves its slot-size word, uncounted.
  EXPECT_EQ(at + 4, ms.Size());
}

// ---- Copy primitives ----

class BlobCopy : public CursorBlobs {
 protected:
  void SetUp() override {
    CursorBlobs::SetUp();
    auto dict = BlobDictionary();
    Build(Db, u"Dst", dict.get());
    Src = Open(Db, u"Docs");
    Dst = Open(Db, u"Dst");
  }
  // Runs aWork inside a transaction of the database (the primitives work in the cursors' current
  // transaction) and commits.
  uint32_t InTrans(const std::function<uint32_t()>& aWork) {
    TzfAbstractTransContext* ctx = Db->TransContext();
    EXPECT_EQ(ctx->TransactionStart(false, false), 0u);
    uint32_t r = 0;
    try {
      r = aWork();
    } catch (const EzfBaseException& e) {
      r = e.ErrorCode();
    }
    if (r == 0)
      EXPECT_EQ(ctx->TransactionCommit(), 0u);
    else
      EXPECT_EQ(ctx->TransactionRollback(), 0u);
    return r;
  }
  TzfServerTableCursor* Src = nullptr;
  TzfServerTableCursor* Dst = nullptr;
};

std::string Pattern(size_t aSize) {
  std::string s(aSize, '\0');
  for (size_t i = 0; i < aSize; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return s;
}

TEST_F(BlobCopy, CopyPrimTakesAtMostTheAllowanceAndNeverMoreThanTheSource) {
  struct TCase {
    size_t Source;
    uint32_t MaxLength;
    size_t Expected;
  } cases[] = {
      {0, 0xFFFFFFFFu, 0},              // empty source: empty BLOB
      {1000, 10, 10},                   // cut
      {1000, 0, 0},                     // nothing asked
      {5, 100, 5},                      // allowance above the length
      {2 * 1048576 + 17, 0xFFFFFFFFu, 2 * 1048576 + 17},  // across three chunks
      {1048576 + 5, 1048576 + 1, 1048576 + 1},             // cut in the second chunk
  };
  for (const TCase& t : cases) {
    SCOPED_TRACE(std::to_string(t.Source) + " bytes, allowance " + std::to_string(t.MaxLength));
    const std::string content = Pattern(t.Source);
    const int64_t src = MakeBlob(Src, content);
    int64_t dst = 0;
    ASSERT_EQ(InTrans([&] { return Dst->sbcBlobCopyPrim(Src, 2, src, 2, dst, t.MaxLength); }), 0u);
    ASSERT_NE(dst, 0);
    EXPECT_EQ(ReadBlob(Dst, dst), content.substr(0, t.Expected));
    // The source is untouched.
    EXPECT_EQ(ReadBlob(Src, src).size(), t.Source);
  }
}

TEST_F(BlobCopy, CopyContentPrimOverwritesAndCuts) {
  struct TCase {
    std::string Source, Dest;
    uint32_t MaxLength;
    std::string Expected;
  } cases[] = {
      {"12345", "abcdefghijklmnopqrst", 0xFFFFFFFFu, "12345"},
      {"12345", "abcdefghijklmnopqrst", 3, "123"},
      {"", "abc", 0xFFFFFFFFu, ""},
      {"longer than before", "short", 0xFFFFFFFFu, "longer than before"},
  };
  for (const TCase& t : cases) {
    SCOPED_TRACE(t.Source + " over " + t.Dest);
    const int64_t src = MakeBlob(Src, t.Source);
    const int64_t dst = MakeBlob(Dst, t.Dest);
    ASSERT_EQ(InTrans([&] { return Dst->sbcBlobCopyContentPrim(Src, 2, src, 2, dst, t.MaxLength); }), 0u);
    EXPECT_EQ(ReadBlob(Dst, dst), t.Expected);
  }
}

TEST_F(BlobCopy, FileBlobsCopyAsFilesOrNotAtAll) {
  {
    std::ofstream f(Dir.Path / "picture.bin", std::ios::binary);
    f << "file content";
  }
  int64_t src = 0;
  ASSERT_EQ(Src->BlobCreateFile(2, u"picture.bin", src), 0u);
  ASSERT_EQ(ReadBlob(Src, src), "file content");

  int64_t all = 0;
  ASSERT_EQ(InTrans([&] { return Dst->sbcBlobCopyPrim(Src, 2, src, 2, all, 0xFFFFFFFFu); }), 0u);
  UnicodeString name;
  TzfBaseBlobEngine& engine = *Dst->Table()->sbtBlobEngine;
  EXPECT_TRUE(engine.IsFileBlob(nullptr, all, name));
  EXPECT_EQ(name, u"picture.bin");
  EXPECT_EQ(ReadBlob(Dst, all), "file content");

  int64_t none = 0;
  ASSERT_EQ(InTrans([&] { return Dst->sbcBlobCopyPrim(Src, 2, src, 2, none, 0); }), 0u);
  EXPECT_FALSE(engine.IsFileBlob(nullptr, none, name));
  EXPECT_EQ(ReadBlob(Dst, none), "");

  // A part of a file cannot be a BLOB of its own: refused, nothing made.
  int64_t part = 0;
  EXPECT_EQ(InTrans([&] { return Dst->sbcBlobCopyPrim(Src, 2, src, 2, part, 100); }), zfErrReadOnlyField);
  EXPECT_EQ(part, 0);
}

TEST_F(BlobCopy, SourceCodesPassAndAWrongSourceRaises) {
  // A BLOB number that names nothing: the source's code, and nothing is created.
  int64_t dst = 0;
  const uint32_t r = InTrans([&] { return Dst->sbcBlobCopyPrim(Src, 2, 999999, 2, dst, 0xFFFFFFFFu); });
  EXPECT_NE(r, 0u);
  EXPECT_EQ(dst, 0);
  EXPECT_THROW(Dst->sbcBlobCopyPrim(nullptr, 2, 1, 2, dst, 1), EzfBaseException);
}

TEST_F(BlobCopy, LinksAreReadThroughTheDatabase) {
  const int64_t target = MakeBlob(Src, "linked content");
  int64_t link = 0;
  // A link lives in the caller's transaction.
  EXPECT_EQ(Dst->sbcBlobCreateLink(2, u"Docs", target, link), zfErrNoActiveTran);
  ASSERT_EQ(InTrans([&] { return Dst->sbcBlobCreateLink(2, u"DOCS", target, link); }), 0u);
  UnicodeString table;
  int64_t srcNr = 0;
  EXPECT_TRUE(Dst->sbcBlobIsLink(2, link, table, srcNr));
  EXPECT_EQ(srcNr, target);
  EXPECT_EQ(ReadBlob(Dst, link), "linked content");
  // Copying a link copies what it stands for.
  int64_t copy = 0;
  ASSERT_EQ(InTrans([&] { return Src->sbcBlobCopyPrim(Dst, 2, link, 2, copy, 0xFFFFFFFFu); }), 0u);
  EXPECT_FALSE(Src->sbcBlobIsLink(2, copy, table, srcNr));
  EXPECT_EQ(ReadBlob(Src, copy), "linked content");
}

// ---- BLOB link handler ----

TEST_F(BlobCopy, LinkCursorsAreSharedByTableAndGiveWayToAClosingTable) {
  TzfBlobLinkHandler& links = *Db->sdBlobLinkHandler;
  EXPECT_FALSE(links.blhListCreated()) << "no link read, no list";
  const int64_t a = MakeBlob(Src, "first");
  const int64_t b = MakeBlob(Src, "second");
  int64_t la = 0, lb = 0;
  ASSERT_EQ(InTrans([&] {
              uint32_t r = Dst->sbcBlobCreateLink(2, u"Docs", a, la);
              return r ? r : Dst->sbcBlobCreateLink(2, u"docs", b, lb);
            }),
            0u);
  EXPECT_EQ(ReadBlob(Dst, la), "first");
  EXPECT_EQ(ReadBlob(Dst, lb), "second");
  EXPECT_EQ(links.blhCursorCount(), 1) << "names differing in case share one cursor";

  // The linked table can be deleted while its link cursor is kept: the cursor gives way.
  Close(Src);
  Src = nullptr;
  ASSERT_EQ(Db->TableDelete(u"Docs", u""), 0u);
  EXPECT_EQ(links.blhCursorCount(), 0);
  EXPECT_EQ(ReadBlob(Dst, la), "<code " + std::to_string(zfErrNoSuchTable) + ">");
  EXPECT_EQ(links.blhCursorCount(), 0) << "a failed open keeps nothing";
}

TEST_F(BlobCopy, LinkChainsAreBounded) {
  // Links into links, alternating between the two tables: a short chain reads through, a chain
  // deeper than any real one (a loop looks the same) ends with 11896 instead of an endless read.
  const int64_t base = MakeBlob(Src, "at the end");
  std::vector<int64_t> chain{base};
  ASSERT_EQ(InTrans([&]() -> uint32_t {
              for (int i = 1; i <= 20; ++i) {
                TzfServerTableCursor* in = i % 2 ? Dst : Src;
                int64_t nr = 0;
                if (const uint32_t r = in->sbcBlobCreateLink(2, i % 2 ? u"Docs" : u"Dst", chain.back(), nr)) return r;
                chain.push_back(nr);
              }
              return 0;
            }),
            0u);
  EXPECT_EQ(ReadBlob(Dst, chain[3]), "at the end");
  EXPECT_EQ(ReadBlob(Src, chain[20]), "<code " + std::to_string(zfErrBlobGeneral) + ">");
}

TEST_F(BlobCopy, LinkCacheChurnAgainstTablesClosingOnAnotherThread) {
  // Links from Dst into three tables. One thread reads them over and over (opening link cursors);
  // another closes inactive tables all the while, which asks the link cursors to go. Every read
  // must answer the content (a closed table is opened again), and nothing may deadlock.
  std::vector<std::pair<int64_t, std::string>> links;
  for (int t = 0; t < 3; ++t) {
    const UnicodeString name = u"Linked" + rtl::IntToStr(t);
    auto dict = BlobDictionary();
    Build(Db, name, dict.get());
    TzfServerTableCursor* c = Open(Db, name);
    const std::string content = "table " + std::to_string(t);
    const int64_t nr = MakeBlob(c, content);
    Close(c);
    int64_t link = 0;
    ASSERT_EQ(InTrans([&] { return Dst->sbcBlobCreateLink(2, name, nr, link); }), 0u);
    links.emplace_back(link, content);
  }
  Close(Src);
  Src = nullptr;
  std::atomic<bool> stop{false};
  std::atomic<int> closes{0};
  std::thread closer([&] {
    while (!stop.load()) {
      Engine->seCloseInactiveTables();
      ++closes;
      std::this_thread::yield();
    }
  });
  int failures = 0;
  for (int round = 0; round < 150; ++round)
    for (const auto& [link, content] : links)
      if (ReadBlob(Dst, link) != content) ++failures;
  stop = true;
  closer.join();
  EXPECT_EQ(failures, 0);
  EXPECT_GT(closes.load(), 0);
  // Once nothing reads, a close takes every link cursor out of the way.
  Engine->seCloseInactiveTables();
  EXPECT_EQ(Db->sdBlobLinkHandler->blhCursorCount(), 0);
}

// ---- Table streams ----

TEST_F(CursorBlobs, NamedStreamsByNameAndVisibility) {
  TzfServerTableCursor* c = Open(Db, u"Docs");
  TzfMemoryStream data;
  data.Write("stream bytes", 12);
  struct TCase {
    const char16_t* Name;
    bool Internal;
    uint32_t Expected;
  } writes[] = {
      {u"Notes", false, 0},
      {u"$Hidden", false, zfErrInvalidName},
      {u"$Hidden", true, 0},
      {u"", false, zfErrInvalidName},
      {u" Lead", false, zfErrInvalidName},
      {u"Trail ", false, zfErrInvalidName},
      {u"Bad\tName", false, zfErrInvalidName},
  };
  for (const TCase& t : writes) {
    SCOPED_TRACE(rtl::u8(t.Name));
    data.Seek(0, rtl::TSeekOrigin::soBeginning);
    EXPECT_EQ(c->sbcTableStreamWrite(t.Name, data, t.Internal), t.Expected);
  }
  EXPECT_EQ(c->TableStreamWrite(UnicodeString(129, u'a'), data), zfErrInvalidName);

  rtl::TStringList visible, all;
  ASSERT_EQ(c->TableStreamGetList(visible), 0u);
  ASSERT_EQ(c->sbcTableStreamGetList(all, true), 0u);
  EXPECT_GE(visible.IndexOf(u"Notes"), 0);
  EXPECT_LT(visible.IndexOf(u"$Hidden"), 0);
  EXPECT_LT(visible.IndexOf(u"$TableName"), 0);
  EXPECT_GE(all.IndexOf(u"$Hidden"), 0);
  EXPECT_GE(all.IndexOf(u"$TableName"), 0);

  TzfMemoryStream back;
  ASSERT_EQ(c->TableStreamRead(u"Notes", back), 0u);
  EXPECT_EQ(std::string(static_cast<const char*>(back.Memory()), static_cast<size_t>(back.Size())), "stream bytes");
  TzfMemoryStream hidden;
  EXPECT_EQ(c->TableStreamRead(u"$Hidden", hidden), zfErrInvalidName);
  ASSERT_EQ(c->TableStreamDelete(u"Notes"), 0u);
  rtl::TStringList after;
  ASSERT_EQ(c->TableStreamGetList(after), 0u);
  EXPECT_LT(after.IndexOf(u"Notes"), 0);
  TzfMemoryStream none;
  EXPECT_NE(c->TableStreamRead(u"Notes", none), 0u);
}

}  // namespace
}  // namespace zf::test
