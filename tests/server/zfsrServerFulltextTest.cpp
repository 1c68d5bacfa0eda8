// Tables with full-text indexes: one index of each kind kept through inserts, modifies and deletes,
// compared after every batch with a model of the tokens each record should contribute; the
// stored bit arrays; and the refusals of the bit-array storage.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <tuple>

#include "dictionary/zfsdDataDictionaryFulltext.h"
#include "foundation/zfllStreams.h"
#include "index/zfsdKeyEngineToken.h"
#include "index/zfseFulltextEngineTable.h"
#include "index/zfseIndicesEngineKind.h"
#include "storage/zfsrBlobEngineBase.h"
#include "tests/server/zfsrServerCursorTestUtil.h"
#include "tests/server/zfsrServerFulltextReader.h"

namespace zf::test {
namespace {

constexpr int32_t kSeq = 0, kMsg = 1, kTag = 2, kMemo = 3, kNote = 4;

// Fields Seq (auto-increment, the location), Msg (wide string), Tag (short string), Memo (memo),
// Note (not indexed); indexes BySeq, Tokens and TokensLoc (main-index token keys, the second with
// the location). Full-text indexes over Msg, Tag and Memo split at the default categories and
// lower-cased:
//   Bits      bit arrays per location and per field, segment index, forward and reverse trees
//   Plain     bit arrays per location, forward tree only
//   Main      keys in Tokens
//   MainLoc   keys (token, location) in TokensLoc
std::unique_ptr<TzfServerDataDict> FulltextDictionary() {
  auto d = std::make_unique<TzfServerDataDict>();
  TzfFieldsDescriptor& f = *d->tdFieldsDescriptor;
  f.AddField(u"Seq", u"", zftAutoInc, 0, 0, false, nullptr);
  f.AddField(u"Msg", u"", zftWideString, 40, 0, false, nullptr);
  f.AddField(u"Tag", u"", zftShortString, 12, 0, false, nullptr);
  f.AddField(u"Memo", u"", zftBlobMemo, 0, 0, false, nullptr);
  f.AddField(u"Note", u"", zftInt32, 0, 0, false, nullptr);
  d->AddBlobDescriptor();
  TzfMainIndicesDescriptor* ix = d->EnsureIndicesDescriptor();
  dynamic_cast<TzfCompKeyDescriptor*>(ix->AddIndex(u"BySeq", 0, idNone, u"")->idKeyDescriptor.get())->Add(kSeq);
  const int32_t tokens = ix->AddIndex(u"Tokens", 0, idAll, u"", &TzfMainIndexTokenKeyDescriptor::ClassInfo())->idNumber;
  TzfIndexDescriptor* withLoc = ix->AddIndex(u"TokensLoc", 0, idAll, u"", &TzfMainIndexTokenKeyDescriptor::ClassInfo());
  dynamic_cast<TzfMainIndexTokenKeyDescriptor*>(withLoc->idKeyDescriptor.get())->SetIncludeLocation(true);
  TzfFulltextDescriptor* fulltext = zfEnsureFulltextDescriptor(*d);
  auto pipeline = [&](const UnicodeString& aName) {
    TzfFulltextIndexDescriptor* fi = fulltext->AddFulltextIndex(aName);
    fi->AddFieldTokenExtractor(kMsg);
    fi->AddFieldTokenExtractor(kTag);
    fi->AddFieldTokenExtractor(kMemo);
    fi->AddTokenFilter(u"Words", &TzfCategorySeparatorTokenFilterDescriptor::ClassInfo());
    fi->AddTokenFilter(u"Lower", &TzfLowercaseLocaleMappingTokenFilterDescriptor::ClassInfo());
    return fi;
  };
  auto* bits = dynamic_cast<TzfBitArrayTokenIndexDescriptor*>(pipeline(u"Bits")->AddTokenIndex(u""));
  bits->SetPerFieldIndex(true);
  bits->SetSegmentIndex(true);
  bits->AddIndex(0);
  bits->AddReverseIndex(0);
  dynamic_cast<TzfBitArrayTokenIndexDescriptor*>(pipeline(u"Plain")->AddTokenIndex(u""))->AddIndex(0);
  dynamic_cast<TzfMainIndexTokenIndexDescriptor*>(
      pipeline(u"Main")->AddTokenIndex(u"Keys", &TzfMainIndexTokenIndexDescriptor::ClassInfo()))
      ->SetMainIndexNumber(tokens);
  dynamic_cast<TzfMainIndexTokenIndexDescriptor*>(
      pipeline(u"MainLoc")->AddTokenIndex(u"Keys", &TzfMainIndexTokenIndexDescriptor::ClassInfo()))
      ->SetMainIndexNumber(withLoc->idNumber);
  return d;
}

// One stored record as the model sees it.
struct TRow {
  uint32_t Seq;
  UnicodeString Msg, Tag, Memo;
};

class ServerFulltextTest : public CursorTest {
 protected:
  void SetUp() override {
    CursorTest::SetUp();
    Db = OpenDb(OpenSession());
    Dict = FulltextDictionary();
    Build(Db, u"Log", Dict.get());
    C = Open(Db, u"Log");
    ASSERT_NE(C, nullptr);
    Fields = C->acGetTableDescriptor()->tdFieldsDescriptor.get();
  }

  // The row into aRec; a memo the record has already is rewritten in place.
  void Fill(uint8_t* aRec, const TRow& aRow) {
    const int64_t memo = BlobOf(C, aRec, kMemo);
    Fields->InitRecord(aRec);
    Fields->SetFieldAsVariant(aRec, kSeq, rtl::Variant(aRow.Seq));
    Fields->SetFieldAsVariant(aRec, kMsg, rtl::Variant(aRow.Msg));
    Fields->SetFieldAsVariant(aRec, kTag, rtl::Variant(aRow.Tag));
    Fields->SetFieldAsVariant(aRec, kNote, rtl::Variant(int32_t{7}));
    const std::string text = rtl::u8(aRow.Memo);
    if (memo != 0 && !text.empty()) {
      ASSERT_EQ(C->BlobTruncate(kMemo, memo, 0), 0u);
      ASSERT_EQ(C->BlobWrite(kMemo, memo, 0, static_cast<uint32_t>(text.size()), text.data()), 0u);
      SetBlob(C, aRec, kMemo, memo);
    } else if (!text.empty()) {
      SetBlob(C, aRec, kMemo, MakeBlob(C, text, kMemo));
    }
  }

  void Insert(const TRow& aRow) {
    Buffer b(C);
    Fields->InitRecord(b.P);
    Fill(b.P, aRow);
    ASSERT_EQ(C->RecordInsert(zfltNoLock, b.P), 0u);
    Rows[aRow.Seq] = aRow;
  }

  // Stands the cursor on the record of aSeq (in BySeq order).
  void Seek(uint32_t aSeq, uint8_t* aRec) {
    ASSERT_EQ(C->SwitchToIndex(u"BySeq", -1, false), 0u);
    ASSERT_EQ(C->SetToBegin(), 0u);
    while (C->RecordGetNext(zfltNoLock, aRec) == 0)
      if (Fields->GetFieldAsVariant(aRec, kSeq).AsInt64() == aSeq) return;
    FAIL() << "no record " << aSeq;
  }

  void Modify(uint32_t aSeq, const TRow& aRow) {
    Buffer b(C);
    Seek(aSeq, b.P);
    Fill(b.P, aRow);
    ASSERT_EQ(C->RecordModify(b.P, true), 0u);
    Rows.erase(aSeq);
    Rows[aRow.Seq] = aRow;
  }

  void Delete(uint32_t aSeq) {
    Buffer b(C);
    Seek(aSeq, b.P);
    ASSERT_EQ(C->RecordDelete(nullptr), 0u);
    Rows.erase(aSeq);
  }

  // The model against every full-text index.
  void Check(const std::string& aWhen) {
    SCOPED_TRACE(aWhen);
    std::set<TBitEntry> bits, plain;
    std::multiset<std::pair<UnicodeString, uint32_t>> main, mainLoc;
    std::set<std::tuple<uint16_t, UnicodeString, int16_t>> segments;
    for (const auto& [seq, row] : Rows) {
      const auto seg = static_cast<uint16_t>(seq >> 19);
      const uint32_t bit = seq & 0x7FFFF;
      std::set<UnicodeString> all;
      const UnicodeString texts[] = {row.Msg, row.Tag, row.Memo};
      for (int16_t f = 0; f < 3; ++f)
        for (const UnicodeString& w : Words(texts[f])) {
          all.insert(w);
          bits.emplace(seg, w, f, bit);
          segments.emplace(seg, w, f);
        }
      for (const UnicodeString& w : all) {
        bits.emplace(seg, w, -1, bit);
        segments.emplace(seg, w, -1);
        plain.emplace(seg, w, 0, bit);
        main.emplace(w, 0);
        mainLoc.emplace(w, seq);
      }
    }
    for (const auto& [seg, w, f] : segments) bits.emplace(0xFFFF, w, f, seg);
    TIndexReader read(*C);
    EXPECT_EQ(read.Bits(0), bits);
    EXPECT_EQ(read.Bits(1), plain);
    EXPECT_EQ(read.MainKeys(2), main);
    EXPECT_EQ(read.MainKeys(3), mainLoc);
  }

  TzfServerDatabase* Db = nullptr;
  std::unique_ptr<TzfServerDataDict> Dict;
  TzfServerTableCursor* C = nullptr;
  TzfFieldsDescriptor* Fields = nullptr;
  std::map<uint32_t, TRow> Rows;
};

TEST_F(ServerFulltextTest, IndexesFollowInsertsModifiesAndDeletes) {
  Insert({1, u"Disk full on volume C", u"disk", u""});
  Insert({2, u"disk FULL, disk again", u"", u"Memo words: Volume"});
  Check("inserts");
  // Only a field without tokens changes: nothing to do, nothing changed.
  {
    Buffer b(C);
    Seek(1, b.P);
    Fields->SetFieldAsVariant(b.P, kNote, rtl::Variant(int32_t{9}));
    ASSERT_EQ(C->RecordModify(b.P, true), 0u);
  }
  Check("non-indexed modify");
  // Location 524288 is bit 0 of segment 1: moving a record there moves all its tokens.
  Modify(1, {524288, u"Disk full on volume C", u"disk", u""});
  Check("moved to segment 1");
  Modify(2, {2, u"network down", u"net", u"volume"});
  Check("words changed");
  Delete(524288);
  Check("segment 1 emptied");

  std::mt19937 rnd(41);
  const UnicodeString words[] = {u"alpha", u"beta", u"Gamma", u"delta", u"e-mail", u"error", u"warn", u"disk"};
  auto text = [&] {
    UnicodeString t;
    for (int n = static_cast<int>(rnd() % 5); n > 0; --n) t += words[rnd() % 8] + (rnd() % 3 ? u" " : u", ");
    return t;
  };
  const uint32_t locations[] = {3, 4, 5, 100, 524287, 524289, 524300, 1048577, 2000000};
  for (int batch = 0; batch < 6; ++batch) {
    for (int op = 0; op < 6; ++op) {
      const uint32_t loc = locations[rnd() % 9];
      const bool present = Rows.count(loc) != 0;
      if (!present) {
        Insert({loc, text(), rnd() % 2 ? u"warn" : u"", rnd() % 3 ? u"" : text()});
      } else if (rnd() % 3 == 0) {
        Delete(loc);
      } else {
        uint32_t to = loc;
        if (rnd() % 2) {
          const uint32_t other = locations[rnd() % 9];
          if (!Rows.count(other)) to = other;
        }
        Modify(loc, {to, text(), rnd() % 2 ? u"Error" : u"", rnd() % 2 ? u"" : text()});
      }
    }
    Check("batch " + std::to_string(batch));
  }
}

TEST_F(ServerFulltextTest, TokensSurviveReopeningTheTable) {
  Insert({7, u"persist me", u"", u""});
  Close(C);
  C = Open(Db, u"Log");
  ASSERT_NE(C, nullptr);
  Check("reopened");
  Delete(7);
  Check("deleted after reopening");
}

TEST_F(ServerFulltextTest, StorageRefusesWhatIsNotThere) {
  Insert({9, u"word", u"", u""});
  auto& table = dynamic_cast<TzfFulltextTableEngine&>(*C->Table()->sbtFulltextEngine);
  TzfSimpleBitArrayStorageHandlerTableEngine storage(
      *dynamic_cast<TzfBitArrayTokenIndexDescriptor*>(
           table.ftteFulltextIndices[1]->fiteFulltextIndexDescriptor->fidTokenIndexHub->Item(0))
           ->batidBitArrayStorageHandler,
      table.ftteBlobEngine.get());
  ASSERT_EQ(Db->TransactionStart(false, false), 0u);
  TzfServerTransaction* t = C->stcTransContext()->Transaction();
  ASSERT_NE(t, nullptr);
  auto code = [&](const std::function<void()>& f) -> uint32_t {
    try {
      f();
      return 0;
    } catch (const EzfBaseException& e) {
      return e.ErrorCode();
    }
  };
  // A new array with bit 17: count 1, two zero bytes, then 02.
  const int64_t blob = storage.CreateNew(t, 17);
  TzfMemoryStream ms;
  ASSERT_EQ(table.ftteBlobEngine->Read(t, blob, 0, 100, {}, ms), 0u);
  EXPECT_EQ(std::string(static_cast<const char*>(ms.Memory()), static_cast<size_t>(ms.Size())),
            std::string("\x01\x00\x00\x00\x00\x00\x02", 7));
  // Bit 100 lies beyond the array: zero bytes up to offset 16, then 16 there; the count rises.
  storage.SetBit(t, blob, 100);
  TzfMemoryStream ms2;
  ASSERT_EQ(table.ftteBlobEngine->Read(t, blob, 0, 100, {}, ms2), 0u);
  std::string expected(17, '\0');
  expected[0] = 2;
  expected[6] = 2;
  expected[16] = 16;
  EXPECT_EQ(std::string(static_cast<const char*>(ms2.Memory()), static_cast<size_t>(ms2.Size())), expected);
  EXPECT_EQ(code([&] { storage.SetBit(t, blob, 17); }), zfErrKeyViol);
  // Clearing a bit that is not set is refused and changes nothing: neither the count nor, with
  // a single bit left, the array itself.
  EXPECT_EQ(code([&] { storage.ClearBit(t, blob, 18); }), zfErrKeyViol);
  EXPECT_EQ(code([&] { storage.ClearBit(t, blob, 5000); }), zfErrKeyViol);
  EXPECT_FALSE(storage.ClearBit(t, blob, 100));
  EXPECT_EQ(code([&] { storage.ClearBit(t, blob, 100); }), zfErrKeyViol);
  TzfMemoryStream ms3;
  ASSERT_EQ(table.ftteBlobEngine->Read(t, blob, 0, 4, {}, ms3), 0u);
  EXPECT_EQ(static_cast<const uint8_t*>(ms3.Memory())[0], 1);
  EXPECT_TRUE(storage.ClearBit(t, blob, 17));
  ASSERT_EQ(Db->TransactionRollback(), 0u);
  Check("storage calls rolled back");
}

TEST_F(ServerFulltextTest, RemovingATokenThatIsNotStoredFailsTheWrite) {
  Insert({11, u"alpha beta", u"", u""});
  // Take "beta" out of the bit arrays behind the engines' back: deleting the record must then
  // refuse rather than report success.
  auto& table = dynamic_cast<TzfFulltextTableEngine&>(*C->Table()->sbtFulltextEngine);
  auto& plain = dynamic_cast<TzfBitArrayTokenIndexTableEngine&>(
      table.ftteFulltextIndices[1]->fiteTokenIndexHub->TokenIndex(0));
  TzfBaseIndicesEngine& ix = *table.ftteIndicesEngine;
  ASSERT_EQ(Db->TransactionStart(false, false), 0u);
  TzfServerTransaction* t = C->stcTransContext()->Transaction();
  ASSERT_NE(t, nullptr);
  ix.SetTransaction(t);
  auto& key = dynamic_cast<TzfBitArrayTokenKeyEngine&>(*plain.batiteIndexEngine->bieKeyEngine);
  uint8_t* k = key.AllocKey();
  key.InternalBuildKey(0, TzfWideString{u'b', u'e', u't', u'a'}, 0, k);
  auto path = plain.batiteIndexEngine->CreateIndexPath();
  TzfIndexNodeStore& store = ix.Indices().Store(plain.batiteIndexEngine->bieIndexNumber);
  ASSERT_TRUE(plain.batiteIndexEngine->FindKey(store, k, 0, 0, 0, *path, skaEqualFirst, nullptr));
  ASSERT_TRUE(plain.batiteIndexEngine->DeleteKey(store, k, path->RefNr, path.get()));
  key.FreeKey(k);
  ASSERT_EQ(Db->TransactionCommit(), 0u);
  Buffer b(C);
  Seek(11, b.P);
  EXPECT_EQ(C->RecordDelete(nullptr), zfErrKeyViol);
}

}  // namespace
}  // namespace zf::test
