// Table cursor bulk writes: batch-stream inserts (BLOB images, auto-increment, damaged streams
// refused whole), copies of every record into another table (checks, BLOB modes, links naming the
// source, auto-increment maximum, restarted transactions, positions kept) and delete all.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "foundation/zfllException.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTransaction.h"
#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

void PutInt32(std::vector<uint8_t>& aTo, size_t aAt, int32_t aValue) {
  const uint32_t v = static_cast<uint32_t>(aValue);
  for (int i = 0; i < 4; ++i) aTo[aAt + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Builds a batch stream by hand: the header, then per record its entry length, the record and the
// BLOB images of its fields, each field holding the image's offset from the stream's start.
class TBatch {
 public:
  explicit TBatch(TzfAbstractCursor* aCursor) : FCursor(aCursor), FBytes(8, 0) {}
  // One record: ID aID; aBlobs maps field number to content (fields not named stay NULL).
  void Add(int32_t aID, const std::vector<std::pair<int32_t, std::string>>& aBlobs = {}, int32_t aSeq = 0) {
    TzfFieldsDescriptor& f = *FCursor->acGetTableDescriptor()->tdFieldsDescriptor;
    const size_t rl = static_cast<size_t>(f.GetRecordLength());
    uint8_t* rec = FCursor->RecordBufferAlloc();
    FCursor->SetFieldFromVariant(rec, 0, rtl::Variant(aID));
    if (aSeq) FCursor->SetFieldFromVariant(rec, 3, rtl::Variant(aSeq));
    const size_t entry = FBytes.size();
    FBytes.resize(entry + 4 + rl);
    size_t at = FBytes.size();
    for (const auto& [field, content] : aBlobs) {
      const int64_t offset = static_cast<int64_t>(at);
      f.SetRecordField(field, rec, &offset);
      FBytes.resize(at + 4 + content.size());
      PutInt32(FBytes, at, static_cast<int32_t>(content.size()));
      std::memcpy(FBytes.data() + at + 4, content.data(), content.size());
      at = FBytes.size();
    }
    std::memcpy(FBytes.data() + entry + 4, rec, rl);
    FCursor->RecordBufferFree(rec);
    PutInt32(FBytes, entry, static_cast<int32_t>(FBytes.size() - entry - 4));
    Entries.push_back(entry);
    PutInt32(FBytes, 4, static_cast<int32_t>(Entries.size()));
  }
  std::vector<uint8_t>& Bytes() { return FBytes; }
  uint32_t InsertInto(TzfAbstractCursor* aCursor) {
    TzfMemoryStream ms;
    ms.Write(FBytes.data(), static_cast<int32_t>(FBytes.size()));
    return aCursor->RecordInsertBatch(ms);
  }
  std::vector<size_t> Entries;

 private:
  TzfAbstractCursor* FCursor;
  std::vector<uint8_t> FBytes;
};

class CursorBatch : public CursorTest {
 protected:
  void SetUp() override {
    CursorTest::SetUp();
    S = OpenSession(10000);
    Db = OpenDb(S);
    auto dict = BlobDictionary(true, true);
    Build(Db, u"Docs", dict.get());
    Build(Db, u"Copy", dict.get());
  }
  // (ID, memo, data) of every record in storage order.
  struct TRow {
    int32_t ID;
    std::string Memo, Data;
    int64_t Seq;
    bool operator==(const TRow&) const = default;
  };
  std::vector<TRow> Rows(TzfServerTableCursor* aC) {
    std::vector<TRow> rows;
    Buffer b(aC);
    EXPECT_EQ(aC->SetToBegin(), 0u);
    while (aC->RecordGetNext(zfltNoLock, b.P) == 0) {
      const int64_t memo = BlobOf(aC, b.P, 1), data = BlobOf(aC, b.P, 2);
      rows.push_back({aC->GetFieldAsVariant(b.P, 0).AsInteger(), memo ? ReadBlob(aC, memo, false, 1) : "<null>",
                      data ? ReadBlob(aC, data) : "<null>", aC->GetFieldAsVariant(b.P, 3).AsInt64()});
    }
    return rows;
  }
  uint32_t InsertRow(TzfServerTableCursor* aC, int32_t aID, const std::string& aData, int32_t aSeq = 0) {
    Buffer b(aC);
    aC->SetFieldFromVariant(b.P, 0, rtl::Variant(aID));
    if (aSeq) aC->SetFieldFromVariant(b.P, 3, rtl::Variant(aSeq));
    if (!aData.empty()) SetBlob(aC, b.P, 2, MakeBlob(aC, aData));
    return aC->RecordInsert(zfltNoLock, b.P);
  }
  TzfServerSession* S = nullptr;
  TzfServerDatabase* Db = nullptr;
};

TEST_F(CursorBatch, InsertsRecordsWithTheirBlobImages) {
  TzfServerTableCursor* c = Open(Db, u"Docs");
  TBatch batch(c);
  batch.Add(1, {{1, "first memo"}, {2, "bytes"}});
  batch.Add(2, {{2, ""}});  // an empty image makes the field NULL
  batch.Add(3);
  batch.Add(4, {{2, std::string(70000, 'z')}}, 42);
  ASSERT_EQ(batch.InsertInto(c), 0u);
  const std::vector<TRow> rows = Rows(c);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], (TRow{1, "first memo", "bytes", 1}));
  EXPECT_EQ(rows[1], (TRow{2, "<null>", "<null>", 2}));
  EXPECT_EQ(rows[2], (TRow{3, "<null>", "<null>", 3}));
  // A value present is kept; the others were generated.
  EXPECT_EQ(rows[3], (TRow{4, "<null>", std::string(70000, 'z'), 42}));
}

TEST_F(CursorBatch, CountZeroOrBelowInsertsNothing) {
  TzfServerTableCursor* c = Open(Db, u"Docs");
  for (int32_t count : {0, -1, -100000}) {
    TBatch batch(c);
    batch.Add(1);
    PutInt32(batch.Bytes(), 4, count);
    EXPECT_EQ(batch.InsertInto(c), 0u);
  }
  EXPECT_TRUE(Rows(c).empty());
}

TEST_F(CursorBatch, DamagedStreamsAreRefusedWhole) {
  TzfServerTableCursor* c = Open(Db, u"Docs");
  const size_t rl = static_cast<size_t>(c->acGetTableDescriptor()->tdFieldsDescriptor->GetRecordLength());
  TzfFieldsDescriptor& fields = *c->acGetTableDescriptor()->tdFieldsDescriptor;
  // The image offset in field 2 of the second record, read or replaced in place.
  const auto offsetOf = [&](TBatch& b) {
    bool isNull = true;
    int64_t offset = 0;
    fields.GetRecordField(2, b.Bytes().data() + b.Entries[1] + 4, isNull, &offset);
    return offset;
  };
  const auto setOffset = [&](TBatch& b, int64_t aOffset) {
    fields.SetRecordField(2, b.Bytes().data() + b.Entries[1] + 4, &aOffset);
  };
  // Each case damages the second of two good records; nothing of the batch may stay.
  struct TCase {
    const char* Name;
    std::function<void(TBatch&)> Damage;
  } cases[] = {
      {"count beyond the entries", [](TBatch& b) { PutInt32(b.Bytes(), 4, 3); }},
      {"entry longer than the stream", [](TBatch& b) { PutInt32(b.Bytes(), b.Entries[1], 0x7FFFFFFF); }},
      {"entry shorter than a record", [&](TBatch& b) { PutInt32(b.Bytes(), b.Entries[1], static_cast<int32_t>(rl) - 1); }},
      {"negative entry length", [](TBatch& b) { PutInt32(b.Bytes(), b.Entries[1], -8); }},
      {"stream cut inside the header", [](TBatch& b) { b.Bytes().resize(6); }},
      {"image offset beyond the stream", [&](TBatch& b) { setOffset(b, static_cast<int64_t>(b.Bytes().size()) - 3); }},
      {"negative image offset", [&](TBatch& b) { setOffset(b, -4); }},
      {"image length beyond the stream",
       [&](TBatch& b) { PutInt32(b.Bytes(), static_cast<size_t>(offsetOf(b)), 1000); }},
  };
  for (const TCase& t : cases) {
    SCOPED_TRACE(t.Name);
    TBatch batch(c);
    batch.Add(1, {{2, "good"}});
    batch.Add(2, {{2, "bad"}});
    t.Damage(batch);
    EXPECT_EQ(batch.InsertInto(c), zfErrInvalidParam);
    EXPECT_TRUE(Rows(c).empty());
  }
  // Inside the caller's transaction the failure leaves it corrupted: nothing can be committed.
  TzfAbstractTransContext* ctx = Db->TransContext();
  ASSERT_EQ(ctx->TransactionStart(false, false), 0u);
  TBatch batch(c);
  batch.Add(1);
  PutInt32(batch.Bytes(), 4, 2);
  EXPECT_EQ(batch.InsertInto(c), zfErrInvalidParam);
  EXPECT_NE(ctx->TransactionCommit(), 0u);
  EXPECT_EQ(ctx->TransactionRollback(), 0u);
  EXPECT_TRUE(Rows(c).empty());
}

TEST_F(CursorBatch, ReadOnlyCursorRefusesBulkWrites) {
  TzfServerTableCursor* c = Open(Db, u"Docs", omReadOnly);
  TBatch batch(c);
  batch.Add(1);
  EXPECT_EQ(batch.InsertInto(c), c->sbcReadOnly.Error());
  EXPECT_EQ(c->DeleteRecords(), c->sbcReadOnly.Error());
}

// ---- Copy ----

TEST_F(CursorBatch, CopyRefusesWrongDestinations) {
  TzfServerTableCursor* src = Open(Db, u"Docs");
  auto other = BlobDictionary(false);
  Build(Db, u"Narrow", other.get());
  TzfServerTableCursor* foreign = Open(OpenDb(OpenSession(10000)), u"Copy");
  struct TCase {
    const char* Name;
    TzfAbstractCursor* Dest;
    uint32_t Expected;
  } cases[] = {
      {"no cursor", nullptr, zfErrInvalidHndl},
      {"another session", foreign, zfErrDifferentSessions},
      {"the same table", Open(Db, u"Docs"), zfErrSameTable},
      {"other fields", Open(Db, u"Narrow"), zfErrIncompatibleDictionaries},
      {"read-only", Open(Db, u"Copy", omReadOnly), 0},
  };
  cases[4].Expected = static_cast<TzfServerTableCursor*>(cases[4].Dest)->sbcReadOnly.Error();
  ASSERT_EQ(InsertRow(src, 1, "x"), 0u);
  for (const TCase& t : cases) {
    SCOPED_TRACE(t.Name);
    EXPECT_EQ(src->CopyRecords(t.Dest, zfbcmCopyFull, 0), t.Expected);
  }
  EXPECT_TRUE(Rows(Open(Db, u"Copy")).empty());
}

TEST_F(CursorBatch, CopyInEachBlobModeKeepsValuesAndPositions) {
  TzfServerTableCursor* src = Open(Db, u"Docs");
  ASSERT_EQ(InsertRow(src, 1, "one", 5), 0u);
  ASSERT_EQ(InsertRow(src, 2, "two", 9), 0u);
  ASSERT_EQ(InsertRow(src, 3, "", 7), 0u);
  // The source stands on its second record; the copy puts it back there.
  Buffer b(src);
  ASSERT_EQ(src->SetToBegin(), 0u);
  ASSERT_EQ(src->RecordGetNext(zfltNoLock, b.P), 0u);
  ASSERT_EQ(src->RecordGetNext(zfltNoLock, b.P), 0u);

  struct TCase {
    TzfBlobCopyMode Mode;
    int32_t MaxTransSize;
    std::vector<std::string> Data;
  } cases[] = {
      {zfbcmCopyFull, 0, {"one", "two", "<null>"}},
      {zfbcmCopyFull, 1, {"one", "two", "<null>"}},  // a transaction per record or so
      {zfbcmNoCopy, 0, {"<null>", "<null>", "<null>"}},
      {zfbcmCreateLink, 0, {"one", "two", "<null>"}},
  };
  for (const TCase& t : cases) {
    SCOPED_TRACE(std::to_string(t.Mode) + "/" + std::to_string(t.MaxTransSize));
    ASSERT_EQ(Db->TableEmpty(u"Copy", u""), 0u);
    TzfServerTableCursor* dest = Open(Db, u"Copy");
    ASSERT_EQ(dest->AutoIncSet(6), 0u);
    ASSERT_EQ(src->CopyRecords(dest, t.Mode, t.MaxTransSize), 0u);
    const std::vector<TRow> rows = Rows(dest);
    ASSERT_EQ(rows.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(rows[i].ID, static_cast<int32_t>(i + 1));
      EXPECT_EQ(rows[i].Data, t.Data[i]);
    }
    // Records keep their values; the counter ends at the largest.
    EXPECT_EQ(rows[0].Seq, 5);
    EXPECT_EQ(rows[1].Seq, 9);
    EXPECT_EQ(rows[2].Seq, 7);
    uint32_t counter = 0;
    ASSERT_EQ(dest->AutoIncGet(counter), 0u);
    EXPECT_EQ(counter, 9u);
    if (t.Mode == zfbcmCreateLink) {
      // The link names the table the BLOB lives in.
      Buffer d(dest);
      ASSERT_EQ(dest->SetToBegin(), 0u);
      ASSERT_EQ(dest->RecordGetNext(zfltNoLock, d.P), 0u);
      UnicodeString table;
      int64_t nr = 0;
      EXPECT_TRUE(dest->sbcBlobIsLink(2, BlobOf(dest, d.P, 2), table, nr));
      EXPECT_EQ(table, u"Docs");
    }
    Close(dest);
    Buffer now(src);
    ASSERT_EQ(src->RecordGet(zfltNoLock, now.P), 0u);
    EXPECT_EQ(src->GetFieldAsVariant(now.P, 0).AsInteger(), 2);
  }
}

TEST_F(CursorBatch, CopyFailureLeavesNothingAndGivesItsCode) {
  TzfServerTableCursor* src = Open(Db, u"Docs");
  ASSERT_EQ(InsertRow(src, 1, "one"), 0u);
  // A record naming a BLOB that is gone: the copy of that BLOB raises, and the whole copy fails.
  const int64_t gone = MakeBlob(src, "gone");
  ASSERT_EQ(src->BlobDelete(2, gone), 0u);
  {
    Buffer b(src);
    src->SetFieldFromVariant(b.P, 0, rtl::Variant(2));
    SetBlob(src, b.P, 2, gone);
    ASSERT_EQ(src->RecordInsert(zfltNoLock, b.P), 0u);
  }
  TzfServerTableCursor* dest = Open(Db, u"Copy");
  // The engine raises while the BLOB is copied: its own code is the answer, the copy's
  // transaction is rolled back afterwards.
  EXPECT_EQ(src->CopyRecords(dest, zfbcmCopyFull, 0), zfErrSegmentDeleted);
  EXPECT_TRUE(Rows(dest).empty());
  // Without BLOB copies the same records go across.
  EXPECT_EQ(src->CopyRecords(dest, zfbcmNoCopy, 0), 0u);
  EXPECT_EQ(Rows(dest).size(), 2u);
}

// A copy while another session reads both tables in index order, outside transactions, through
// shared cursors: the readers always see the source whole and the destination's committed records
// in key order, and the copy ends with every record across. The indices engines of both tables keep
// the transaction they work in: a copy that used them while a reader did would read or write
// through the reader's state.
TEST_F(CursorBatch, CopyBesideIndexReadersOfAnotherSession) {
  auto dict = BlobDictionary(false);
  TzfIndexDescriptor* ix = dict->EnsureIndicesDescriptor()->AddIndex(u"ByID", 0, TzfIndexDups::idAll, u"");
  dynamic_cast<TzfCompKeyDescriptor&>(*ix->idKeyDescriptor).Add(0);
  Build(Db, u"Src", dict.get());
  constexpr int32_t kRecords = 3000;
  TzfServerTableCursor* src = Open(Db, u"Src");
  {
    ASSERT_EQ(Db->TransContext()->TransactionStart(false, false), 0u);
    Buffer b(src);
    for (int32_t id = kRecords; id >= 1; --id) {
      src->SetFieldFromVariant(b.P, 0, rtl::Variant(id));
      ASSERT_EQ(src->RecordInsert(zfltNoLock, b.P), 0u);
    }
    ASSERT_EQ(Db->TransContext()->TransactionCommit(), 0u);
  }
  ASSERT_EQ(src->SwitchToIndex(u"ByID", 0, false), 0u);
  constexpr int kRounds = 3;
  for (int round = 0; round < kRounds; ++round) Build(Db, u"Dst" + rtl::IntToStr(round), dict.get());

  TzfServerDatabase* db2 = OpenDb(OpenSession(10000));
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0}, walks{0};
  // The other session's cursors are opened here; from then on only the reader's thread uses them.
  std::vector<TzfServerTableCursor*> cursors{Open(db2, u"Src")};
  for (int round = 0; round < kRounds; ++round) cursors.push_back(Open(db2, u"Dst" + rtl::IntToStr(round)));
  for (TzfServerTableCursor* c : cursors) ASSERT_EQ(c->SwitchToIndex(u"ByID", 0, false), 0u);
  std::vector<TzfServerTableCursor*> dests;
  for (int round = 0; round < kRounds; ++round) dests.push_back(Open(Db, u"Dst" + rtl::IntToStr(round)));
  std::thread reader([&] {
    Buffer b(cursors[0]);
    while (!stop) {
      for (size_t i = 0; i < cursors.size(); ++i) {
        TzfServerTableCursor* c = cursors[i];
        if (c->SetToBegin() != 0) ++bad;
        int32_t last = 0, seen = 0;
        for (;;) {
          const uint32_t code = c->RecordGetNext(zfltNoLock, b.P);
          if (code == zfErrEOF) break;
          const int32_t id = c->GetFieldAsVariant(b.P, 0).AsInteger();
          if (code != 0 || id <= last) {
            ++bad;
            break;
          }
          last = id;
          ++seen;
        }
        if (i == 0 && seen != kRecords) ++bad;
        ++walks;
      }
    }
  });
  for (int round = 0; round < kRounds; ++round) {
    EXPECT_EQ(src->CopyRecords(dests[size_t(round)], zfbcmNoCopy, 8), 0u);
    TzfServerTableCursor* dest = dests[size_t(round)];
    Buffer b(dest);
    int32_t copied = 0;
    EXPECT_EQ(dest->SetToBegin(), 0u);
    while (dest->RecordGetNext(zfltNoLock, b.P) == 0) ++copied;
    EXPECT_EQ(copied, kRecords);
  }
  stop = true;
  reader.join();
  EXPECT_GT(walks.load(), 0);
  EXPECT_EQ(bad.load(), 0);
}

// ---- Delete all ----

TEST_F(CursorBatch, DeleteAllTakesRecordsAndBlobs) {
  TzfServerTableCursor* c = Open(Db, u"Docs");
  std::vector<int64_t> blobs;
  for (int i = 1; i <= 5; ++i) {
    Buffer b(c);
    c->SetFieldFromVariant(b.P, 0, rtl::Variant(i));
    blobs.push_back(MakeBlob(c, "b" + std::to_string(i)));
    SetBlob(c, b.P, 2, blobs.back());
    ASSERT_EQ(c->RecordInsert(zfltNoLock, b.P), 0u);
  }
  // Inside a transaction that is rolled back, everything comes back.
  TzfAbstractTransContext* ctx = Db->TransContext();
  ASSERT_EQ(ctx->TransactionStart(false, false), 0u);
  ASSERT_EQ(c->DeleteRecords(), 0u);
  EXPECT_TRUE(Rows(c).empty());
  ASSERT_EQ(ctx->TransactionRollback(), 0u);
  EXPECT_EQ(Rows(c).size(), 5u);
  // A record locked by another session stops it with 10241; the implicit transaction is undone.
  TzfServerTableCursor* other = Open(OpenDb(OpenSession(10000)), u"Docs");
  Buffer o(other);
  ASSERT_EQ(other->SetToBegin(), 0u);
  ASSERT_EQ(other->RecordGetNext(zfltNoLock, o.P), 0u);
  ASSERT_EQ(other->RecordGetNext(zfltNoLock, o.P), 0u);
  ASSERT_EQ(other->RecordGet(zfltWriteLock, o.P), 0u);
  c->atoSetTimeout(50);  // the lock wait ends with the deadline
  EXPECT_EQ(c->DeleteRecords(), zfErrLocked);
  EXPECT_EQ(Rows(c).size(), 5u);
  ASSERT_EQ(other->RecordLockRelease(true), 0u);
  ASSERT_EQ(c->DeleteRecords(), 0u);
  EXPECT_TRUE(Rows(c).empty());
  for (int64_t nr : blobs) EXPECT_EQ(ReadBlob(c, nr).rfind("<code", 0), 0u);
}

}  // namespace
}  // namespace zf::test
