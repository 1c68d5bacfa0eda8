// BLOB streams and the memo and key fields of a client dataset. The dataset reads a real engine
// table through a probe cursor (tests/client/zfdbProbeCursor.h), which serves the BLOBs from memory
// and lets a test watch and answer each BLOB read, record read and block read.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "client/zfdbBlob.h"
#include "client/zfdbDataset.h"
#include "client/zfdbStartup.h"
#include "dictionary/zfsdLocaleDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "tests/client/zfdbProbeCursor.h"
#include "tests/client/zfdbTableTestUtil.h"

namespace zf::test {
namespace {

using Bytes = std::vector<uint8_t>;

// The table "Docs": ID, Data (BLOB), Memo (memo in code page 850), Wide (wide memo).
std::unique_ptr<TzfServerDataDict> DocsDictionary() {
  auto d = std::make_unique<TzfServerDataDict>();
  TzfLocaleDescriptor* locale = d->AddLocaleDescriptor(nullptr);
  locale->SetLocale(0x0407);
  locale->ldOverrideStorageCodepage = 850;
  d->tdFieldsDescriptor->AddField(u"ID", u"", zftInt32, 0, 0, false, nullptr);
  d->tdFieldsDescriptor->AddField(u"Data", u"", zftBlob, 0, 0, false, nullptr);
  d->tdFieldsDescriptor->AddField(u"Memo", u"", zftBlobMemo, 0, 0, false, nullptr);
  d->tdFieldsDescriptor->AddField(u"Wide", u"", zftBlobWideMemo, 0, 0, false, nullptr);
  return d;
}
constexpr int32_t kData = 1, kMemo = 2, kWide = 3;  // engine field numbers

class TDocsDataset : public TzfDataset {
 public:
  explicit TDocsDataset(const UnicodeString& aTable) : Table(aTable) {}
  using TzfDataset::ActiveBuffer;
  using TzfDataset::BookmarkSize;
  void SetBatchAppend(int32_t aLevel) { dsBatchAppend = aLevel; }
  void SetIgnoreReadOnly(int32_t aValue) { dsIgnoreReadOnly = aValue; }
  TProbeCursor* Probe = nullptr;
  UnicodeString Table;
  bool EngineBlobs = false;  // the BLOBs of the engine table instead of the probe's store

 protected:
  void OpenAbstractCursor() override {
    TzfAbstractCursor* c = nullptr;
    Check(Database()->AbstractDatabase()->CursorOpen(c, Table, u"", omReadWrite, smShared, EffectiveTimeout(), false));
    Probe = zfCreateServerObject<TProbeCursor>(c);
    Probe->OwnBlobs = !EngineBlobs;
    dsAbstractCursor = Probe;
  }
};

Bytes Pattern(size_t aSize, uint8_t aSeed = 7) {
  Bytes b(aSize);
  for (size_t i = 0; i < aSize; ++i) b[i] = static_cast<uint8_t>(aSeed + i * 31 + (i >> 9));
  return b;
}

std::string MessageOf(const std::function<void()>& aWork) {
  try {
    aWork();
  } catch (const std::exception& e) {
    return e.what();
  }
  return {};
}

class ClientBlob : public ClientDatabaseTest {
 protected:
  void SetUp() override {
    zfBlobChunkSize = 0x80000;
    ClientDatabaseTest::SetUp();
    for (const char16_t* name : {u"Docs", u"Copy"}) {
      auto dict = DocsDictionary();
      ASSERT_EQ(Db->AbstractDatabase()->TableBuild(false, name, u"", dict.get(), tsPersistent, false), 0u);
    }
    DS = Make(u"Docs", u"Docs1");
  }
  void TearDown() override {
    DS.reset();
    Target.reset();
    ClientDatabaseTest::TearDown();
    zfBlobChunkSize = 0x80000;
  }
  rtl::TComponentPtr<TDocsDataset> Make(const UnicodeString& aTable, const UnicodeString& aName) {
    rtl::TComponentPtr<TDocsDataset> ds(new TDocsDataset(aTable));
    ds->SetName(aName);
    ds->SetDatabase(Db.get());
    return ds;
  }
  // Records with IDs 1..aCount and NULL BLOBs in aTable.
  void Fill(int aCount, const UnicodeString& aTable = u"Docs") { InsertRecords(aTable, IDsUpTo(aCount)); }
  db::TBlobField& Blob(TDocsDataset& aDS, const char16_t* aName) {
    return dynamic_cast<db::TBlobField&>(aDS.FieldByName(aName));
  }
  // Opens DS on one record, in edit state, with aContent written into the field.
  void EditWith(int32_t aFieldNo, const Bytes& aContent) {
    Fill(1);
    DS->Open();
    DS->Edit();
    auto s = DS->CreateBlobStream(&DS->Fields()[aFieldNo], db::bmWrite);
    s->WriteBuffer(aContent.data(), static_cast<int64_t>(aContent.size()));
  }
  int64_t BlobNrOf(TDocsDataset& aDS, int32_t aFieldNo) {
    int64_t nr;
    bool isNull;
    aDS.GetBlobNr(aDS.ActiveBuffer(), aFieldNo, nr, isNull);
    return nr;
  }

  rtl::TComponentPtr<TDocsDataset> DS;
  rtl::TComponentPtr<TDocsDataset> Target;
};

TEST_F(ClientBlob, ReadsAndWritesInChunksOfTheUnitSize) {
  const Bytes content = Pattern(700 * 1024);
  EditWith(kData, content);
  EXPECT_EQ(DS->Probe->WriteCalls, 2);  // 512 KB, then 188 KB
  ASSERT_EQ(DS->Probe->Blobs.size(), 1u);
  EXPECT_EQ(DS->Probe->Blobs.begin()->second, content);

  auto s = DS->CreateBlobStream(&Blob(*DS, u"Data"), db::bmRead);
  EXPECT_EQ(s->GetSize(), 700 * 1024);
  Bytes got(1024 * 1024);
  DS->Probe->ReadSizes.clear();
  // Asking 1 MB of a 700 KB BLOB: a full 512 KB chunk, then a short one ends the read.
  EXPECT_EQ(s->Read(got.data(), static_cast<int32_t>(got.size())), 700 * 1024);
  EXPECT_EQ(DS->Probe->ReadSizes, (std::vector<uint32_t>{524288, 524288}));
  got.resize(700 * 1024);
  EXPECT_EQ(got, content);
  EXPECT_EQ(s->Read(got.data(), 10), 0);  // at the end

  // A chunk size of 0: one engine call per request.
  zfBlobChunkSize = 0;
  auto one = DS->CreateBlobStream(&Blob(*DS, u"Data"), db::bmRead);
  DS->Probe->ReadSizes.clear();
  one->Seek(100, rtl::TSeekOrigin::soBeginning);
  EXPECT_EQ(one->Read(got.data(), 1000), 1000);
  EXPECT_EQ(DS->Probe->ReadSizes, (std::vector<uint32_t>{1000}));
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 1000, content.begin() + 100));
  EXPECT_EQ(one->Seek(-10, rtl::TSeekOrigin::soEnd), 700 * 1024 - 10);
}

TEST_F(ClientBlob, OpeningAStreamChecksStateModeAndField) {
  Fill(1);
  DS->Open();
  db::TBlobField& data = Blob(*DS, u"Data");
  // Browse state: reading is allowed, writing refused.
  EXPECT_NE(MessageOf([&] { DS->CreateBlobStream(&data, db::bmWrite); })
                .find("The BLOB stream is being opened for read/write access but the DataSet is not being edited"),
            std::string::npos);
  EXPECT_NO_THROW(DS->CreateBlobStream(&data, db::bmRead));
  EXPECT_EQ(ClientErrorCode([&] { DS->CreateBlobStream(&DS->FieldByName(u"ID"), db::bmRead); }), zfErrNotABlob);
  EXPECT_EQ(ClientErrorCode([&] { DS->CreateBlobStream(nullptr, db::bmRead); }), zfErrInvalidParam);

  DS->Edit();
  data.SetReadOnly(true);
  EXPECT_NE(MessageOf([&] { DS->CreateBlobStream(&data, db::bmReadWrite); })
                .find("The field is readonly but BLOB stream is being opened for read/write access"),
            std::string::npos);
  DS->SetIgnoreReadOnly(1);
  EXPECT_NO_THROW(DS->CreateBlobStream(&data, db::bmReadWrite));
  DS->SetIgnoreReadOnly(0);
  data.SetReadOnly(false);

  // bmWrite empties the BLOB at once; a read stream has nothing to cut.
  {
    auto s = DS->CreateBlobStream(&data, db::bmWrite);
    s->WriteBuffer("abcdef", 6);
  }
  EXPECT_EQ(DS->Probe->Blobs.begin()->second.size(), 6u);
  EXPECT_TRUE(data.Modified());
  { auto s = DS->CreateBlobStream(&data, db::bmWrite); }
  EXPECT_TRUE(DS->Probe->Blobs.begin()->second.empty());
  auto r = DS->CreateBlobStream(&data, db::bmRead);
  EXPECT_EQ(ClientErrorCode([&] { r->SetSize(0); }), zfErrReadOnlyField);
  EXPECT_EQ(r->Write("x", 1), 0);
  // An open stream holds the dataset where it is.
  EXPECT_NE(MessageOf([&] { DS->Cancel(); }).find("All BLOB streams must be freed before executing this operation"),
            std::string::npos);
  r.reset();
  EXPECT_NO_THROW(DS->Cancel());
}

TEST_F(ClientBlob, ReadOfAReplacedBlobIsRepeatedAgainstTheNewNumber) {
  const struct {
    const char* Name;
    uint32_t Code;
  } cases[] = {{"segment deleted", zfErrSegmentDeleted},
               {"invalid segment", zfErrInvalidSegment},
               {"block out of range", zfErrBlockNumberOutOfRange},
               {"not a heap block", zfErrNotAHeapBlock},
               {"damaged header", zfErrHeaderCorrupt}};
  EditWith(kData, Pattern(100, 1));
  const int64_t oldNr = BlobNrOf(*DS, kData);
  // Another client put a new BLOB into the record: the fresh record names it.
  int64_t newNr = 0;
  ASSERT_EQ(DS->Probe->BlobCreate(kData, newNr), 0u);
  DS->Probe->Blobs[newNr] = Pattern(50, 9);
  DS->Probe->OnRecordGet = [&](uint32_t aCode, uint8_t* aData) {
    if (aCode == 0 && aData) DS->SetBlobNr(aData, kData, newNr);
    return aCode;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    DS->SetBlobNr(DS->ActiveBuffer(), kData, oldNr);
    DS->Probe->OnBlobRead = [&](int64_t aNr, uint32_t, uint32_t) { return aNr == oldNr ? c.Code : 0u; };
    auto s = DS->CreateBlobStream(&Blob(*DS, u"Data"), db::bmRead);
    Bytes got(200);
    EXPECT_EQ(s->Read(got.data(), 200), 50);
    got.resize(50);
    EXPECT_EQ(got, Pattern(50, 9));
    EXPECT_EQ(BlobNrOf(*DS, kData), newNr);
  }
  // The record still names the failing BLOB: the first code raises, naming the field.
  DS->SetBlobNr(DS->ActiveBuffer(), kData, oldNr);
  DS->Probe->OnRecordGet = [&](uint32_t aCode, uint8_t* aData) {
    if (aCode == 0 && aData) DS->SetBlobNr(aData, kData, oldNr);
    return aCode;
  };
  DS->Probe->OnBlobRead = [&](int64_t, uint32_t, uint32_t) { return zfErrSegmentDeleted; };
  auto s = DS->CreateBlobStream(&Blob(*DS, u"Data"), db::bmRead);
  Bytes got(10);
  EXPECT_EQ(ClientErrorCode([&] { s->Read(got.data(), 10); }), zfErrSegmentDeleted);
  EXPECT_NE(MessageOf([&] { s->Read(got.data(), 10); }).find("(FieldName: Data)"), std::string::npos);
}

// A read that cannot deliver what the BLOB holds raises; it never ends quietly with fewer bytes.
TEST_F(ClientBlob, ReadThatCannotDeliverTheBlobRaises) {
  const struct {
    const char* Name;
    uint32_t ReadCode;     // what the BLOB read answers
    uint32_t RecordCode;   // what the refresh's record read answers (0: the record names NULL)
    uint32_t Raised;
  } cases[] = {
      {"record deleted while reading", zfErrSegmentDeleted, zfErrKeyOrRecDeleted, zfErrKeyOrRecDeleted},
      {"no current record", zfErrSegmentDeleted, zfErrNoCurrRec, zfErrNoCurrRec},
      {"refreshed to NULL", zfErrSegmentDeleted, 0, zfErrInvalidBlobOffset},
      {"record gone, told by the read", zfErrKeyOrRecDeleted, 0, zfErrKeyOrRecDeleted},
  };
  EditWith(kData, Pattern(1000));
  const int64_t nr = BlobNrOf(*DS, kData);
  zfBlobChunkSize = 400;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    DS->SetBlobNr(DS->ActiveBuffer(), kData, nr);
    DS->Probe->OnRecordGet = [&](uint32_t aCode, uint8_t* aData) {
      if (c.RecordCode) return c.RecordCode;
      if (aData) DS->SetBlobNr(aData, kData, 0);
      return aCode;
    };
    // The first chunk arrives, the second fails.
    DS->Probe->OnBlobRead = [&](int64_t, uint32_t aOffset, uint32_t) { return aOffset > 0 ? c.ReadCode : 0u; };
    auto s = DS->CreateBlobStream(&Blob(*DS, u"Data"), db::bmRead);
    Bytes got(1000);
    EXPECT_EQ(ClientErrorCode([&] { s->ReadBuffer(got.data(), 1000); }), c.Raised);
  }
  // A copy of such a BLOB into another table raises instead of storing what arrived.
  DS->SetBlobNr(DS->ActiveBuffer(), kData, nr);
  DS->Probe->OnRecordGet = [](uint32_t, uint8_t*) { return zfErrKeyOrRecDeleted; };
  DS->Probe->OnBlobRead = [](int64_t, uint32_t aOffset, uint32_t) { return aOffset > 0 ? zfErrSegmentDeleted : 0u; };
  Target = Make(u"Copy", u"Copy1");
  Target->Open();
  Target->Insert();
  EXPECT_EQ(ClientErrorCode([&] { Blob(*Target, u"Data").Assign(&Blob(*DS, u"Data")); }), zfErrKeyOrRecDeleted);
  Target->Cancel();
}

TEST_F(ClientBlob, MemoFieldsKeepTheirCodePageAndWideMemosTheirUnits) {
  Fill(1);
  DS->Open();
  auto& memo = dynamic_cast<TzfMemoField&>(DS->FieldByName(u"Memo"));
  auto& wide = dynamic_cast<TzfMemoField&>(DS->FieldByName(u"Wide"));
  EXPECT_FALSE(memo.IsWide());
  EXPECT_EQ(memo.CodePage(), 850);
  EXPECT_TRUE(wide.IsWide());
  EXPECT_TRUE(memo.IsNull());
  EXPECT_TRUE(memo.GetAsVariant().IsNull());
  DS->Edit();
  memo.SetAsString(u"Gr\u00FC\u00DFe \u00E9");
  wide.SetAsString(u"\u0417\u0434\u0440\u0430\u0432\u0441\u0442\u0432\u0443\u0439");  // 10 characters
  // Code page 850: u-umlaut $81, sharp s $E1, e-acute $82.
  EXPECT_EQ(DS->Probe->Blobs[BlobNrOf(*DS, kMemo)], (Bytes{'G', 'r', 0x81, 0xE1, 'e', ' ', 0x82}));
  EXPECT_EQ(DS->Probe->Blobs[BlobNrOf(*DS, kWide)].size(), 20u);
  EXPECT_EQ(memo.AsString(), u"Gr\u00FC\u00DFe \u00E9");
  EXPECT_EQ(memo.GetAsVariant().AsString(), u"Gr\u00FC\u00DFe \u00E9");
  EXPECT_EQ(wide.AsString(), u"\u0417\u0434\u0440\u0430\u0432\u0441\u0442\u0432\u0443\u0439");
  // An odd last byte of a wide memo is no character.
  DS->Probe->Blobs[BlobNrOf(*DS, kWide)].push_back(0x41);
  EXPECT_EQ(wide.AsString().size(), 10u);
  wide.SetValue(rtl::Variant::FromOleStr(u"ab"));
  EXPECT_EQ(DS->Probe->Blobs[BlobNrOf(*DS, kWide)], (Bytes{'a', 0, 'b', 0}));
}

TEST_F(ClientBlob, DecodingMemoBytes) {
  const struct {
    const char* Name;
    Bytes Stored;
    bool Wide;
    uint16_t CodePage;
    UnicodeString Text;
  } cases[] = {
      {"empty", {}, false, 850, u""},
      {"code page 850", {0x82, 'x'}, false, 850, u"\u00E9x"},
      {"windows-1252", {0xE9}, false, 1252, u"\u00E9"},
      {"wide", {0x41, 0, 0x17, 0x04}, true, 0, u"A\u0417"},
      {"wide odd length", {0x41, 0, 0x42}, true, 0, u"A"},
      {"wide one byte", {0x41}, true, 0, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(TzfMemoField::DecodeMemo(c.Stored.data(), c.Stored.size(), c.Wide, c.CodePage), c.Text);
  }
}

TEST_F(ClientBlob, AssignCopiesBlobAndMemoFieldsBetweenTables) {
  const Bytes content = Pattern(600 * 1024, 3);
  EditWith(kData, content);
  DS->FieldByName(u"Memo").SetAsString(u"caf\u00E9");
  DS->FieldByName(u"Wide").SetAsString(u"\u65E5\u672C");
  Target = Make(u"Copy", u"Copy1");
  Target->Open();
  Target->Insert();
  for (int32_t i = 0; i < DS->FieldCount(); ++i)
    if (DS->Fields()[i].IsBlob()) Target->Fields()[i].Assign(&DS->Fields()[i]);
  EXPECT_EQ(Target->Probe->Blobs[BlobNrOf(*Target, kData)], content);
  EXPECT_EQ(Target->FieldByName(u"Memo").AsString(), u"caf\u00E9");
  EXPECT_EQ(Target->FieldByName(u"Wide").AsString(), u"\u65E5\u672C");
  EXPECT_EQ(Target->Probe->Blobs[BlobNrOf(*Target, kMemo)], (Bytes{'c', 'a', 'f', 0x82}));
  Target->Cancel();
}

// The same through the engine's own BLOBs: content written through streams is posted with the
// record, read back by another dataset in chunks, and copied field by field into another table.
TEST_F(ClientBlob, EngineBlobsRoundTripAndCopyBetweenTables) {
  const Bytes content = Pattern(700 * 1024, 11);
  Fill(1);
  DS->EngineBlobs = true;
  DS->Open();
  DS->Edit();
  {
    auto s = DS->CreateBlobStream(&Blob(*DS, u"Data"), db::bmWrite);
    s->WriteBuffer(content.data(), static_cast<int64_t>(content.size()));
  }
  DS->FieldByName(u"Memo").SetAsString(u"Gr\u00FC\u00DFe");
  DS->FieldByName(u"Wide").SetAsString(u"\u65E5\u672C\u8A9E");
  DS->Post();
  DS->Close();

  auto reader = Make(u"Docs", u"Docs2");
  reader->EngineBlobs = true;
  reader->Open();
  reader->Probe->ReadSizes.clear();
  EXPECT_EQ(Blob(*reader, u"Data").GetAsBytes(), content);
  EXPECT_EQ(reader->Probe->ReadSizes, (std::vector<uint32_t>{524288, 700 * 1024 - 524288}));
  EXPECT_EQ(reader->FieldByName(u"Memo").AsString(), u"Gr\u00FC\u00DFe");
  EXPECT_EQ(reader->FieldByName(u"Wide").AsString(), u"\u65E5\u672C\u8A9E");

  // Read in blocks, the content comes with the record: no BLOB read at all.
  auto blocks = Make(u"Docs", u"Docs3");
  blocks->EngineBlobs = true;
  blocks->SetBlockReadSize(64 * 1024);
  blocks->Open();
  ASSERT_EQ(blocks->State(), db::dsBlockRead);
  blocks->Probe->ReadSizes.clear();
  EXPECT_EQ(Blob(*blocks, u"Data").GetAsBytes(), content);
  EXPECT_EQ(blocks->FieldByName(u"Memo").AsString(), u"Gr\u00FC\u00DFe");
  EXPECT_EQ(blocks->FieldByName(u"Wide").AsString(), u"\u65E5\u672C\u8A9E");
  EXPECT_TRUE(blocks->Probe->ReadSizes.empty());
  blocks->Close();

  Target = Make(u"Copy", u"Copy1");
  Target->EngineBlobs = true;
  Target->Open();
  Target->Insert();
  for (int32_t i = 0; i < reader->FieldCount(); ++i) Target->Fields()[i].Assign(&reader->Fields()[i]);
  Target->Post();
  Target->Close();
  Target->Open();
  EXPECT_EQ(Target->FieldByName(u"ID").AsInteger(), 1);
  EXPECT_EQ(Blob(*Target, u"Data").GetAsBytes(), content);
  EXPECT_EQ(Target->FieldByName(u"Memo").AsString(), u"Gr\u00FC\u00DFe");
  EXPECT_EQ(Target->FieldByName(u"Wide").AsString(), u"\u65E5\u672C\u8A9E");
}

// A block as the engine lays it out: code, count, then per record its length, the record, the
// bookmark and the BLOB images, the record's BLOB field holding the offset of its image.
class TBlockBuilder {
 public:
  TBlockBuilder(TzfFieldsDescriptor& aFields, int32_t aBookmarkSize) : FFields(aFields), FBookmark(aBookmarkSize) {
    Put32(0);
    Put32(0);
  }
  // One record: its ID and the content of the Data field (none: NULL); aImageOffset overrides the
  // offset stored in the field (to damage it).
  void Add(int32_t aId, const Bytes* aData, int64_t aImageOffset = -1) {
    Bytes rec(static_cast<size_t>(FFields.GetRecordLength()));
    FFields.InitRecord(rec.data());
    FFields.SetRecordField(0, rec.data(), &aId);
    const size_t entry = FBlock.size();
    Put32(0);
    const size_t recordAt = FBlock.size();
    FBlock.insert(FBlock.end(), rec.begin(), rec.end());
    FBlock.insert(FBlock.end(), static_cast<size_t>(FBookmark), 0);
    if (aData) {
      const int64_t image = static_cast<int64_t>(FBlock.size());
      Put32(static_cast<uint32_t>(aData->size()));
      FBlock.insert(FBlock.end(), aData->begin(), aData->end());
      const int64_t stored = aImageOffset >= 0 ? aImageOffset : image;
      uint8_t v[8];
      for (int i = 0; i < 8; ++i) v[i] = static_cast<uint8_t>(static_cast<uint64_t>(stored) >> (8 * i));
      FFields.SetRecordField(kData, FBlock.data() + recordAt, v);
    }
    const auto length = static_cast<uint32_t>(FBlock.size() - entry - 4);
    for (int i = 0; i < 4; ++i) FBlock[entry + i] = static_cast<uint8_t>(length >> (8 * i));
    ++FCount;
  }
  Bytes Finish(uint32_t aCode) {
    for (int i = 0; i < 4; ++i) {
      FBlock[i] = static_cast<uint8_t>(aCode >> (8 * i));
      FBlock[4 + i] = static_cast<uint8_t>(FCount >> (8 * i));
    }
    return FBlock;
  }

 private:
  void Put32(uint32_t aValue) {
    for (int i = 0; i < 4; ++i) FBlock.push_back(static_cast<uint8_t>(aValue >> (8 * i)));
  }
  TzfFieldsDescriptor& FFields;
  int32_t FBookmark;
  Bytes FBlock;
  uint32_t FCount = 0;
};

TEST_F(ClientBlob, BlockModeStreamReadsTheImageInsideTheBlock) {
  Fill(1);
  DS->Open();
  const Bytes a = Pattern(300, 5);
  TBlockBuilder block(DS->AbstractCursor()->acFields(), DS->BookmarkSize());
  block.Add(1, &a);
  block.Add(2, nullptr);
  block.Add(3, &a, 4);      // an offset inside the block header
  block.Add(4, &a, 1 << 20);  // an offset past the block
  const Bytes bytes = block.Finish(zfErrEOF);
  DS->Probe->OnRecordGetBatch = [&](int32_t, TzfRecordGetBatchExOptions, TzfMemoryStream& s, int32_t, bool) {
    s.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    return 0u;
  };
  DS->SetBlockReadSize(4096);
  ASSERT_EQ(DS->State(), db::dsBlockRead);
  db::TBlobField& data = Blob(*DS, u"Data");
  EXPECT_EQ(DS->FieldByName(u"ID").AsInteger(), 1);
  EXPECT_EQ(data.GetAsBytes(), a);
  {
    auto s = DS->CreateBlobStream(&data, db::bmRead);
    EXPECT_EQ(s->Seek(-10, rtl::TSeekOrigin::soEnd), 290);
    uint8_t tail[20];
    EXPECT_EQ(s->Read(tail, 20), 10);
    EXPECT_EQ(s->Write(tail, 5), 0);
    EXPECT_EQ(ClientErrorCode([&] { dynamic_cast<TzfBaseBlobStream&>(*s).Truncate(); }), zfErrReadOnlyField);
    EXPECT_EQ(ClientErrorCode([&] { DS->CreateBlobStream(&data, db::bmWrite); }), zfErrReadOnlyField);
  }
  DS->Next();
  EXPECT_EQ(DS->FieldByName(u"ID").AsInteger(), 2);
  {
    auto s = DS->CreateBlobStream(&data, db::bmRead);
    uint8_t one;
    EXPECT_EQ(s->Read(&one, 1), 0);
    EXPECT_EQ(s->Seek(0, rtl::TSeekOrigin::soEnd), 0);
  }
  for (int id : {3, 4}) {
    DS->Next();
    EXPECT_EQ(DS->FieldByName(u"ID").AsInteger(), id);
    EXPECT_EQ(ClientErrorCode([&] { data.GetAsBytes(); }), zfErrInvalidBlobOffset);
  }
}

TEST_F(ClientBlob, BlockReadSizeSetBeforeOpeningStartsAfterTheOpen) {
  Fill(40);
  DS->SetBlockReadSize(200);  // a few records per block
  EXPECT_TRUE(DS->IsUniDirectional());
  int32_t batchCallsAtAfterOpen = -1;
  DS->AfterOpen = [&](db::TDataSet&) { batchCallsAtAfterOpen = DS->Probe->BatchCalls; };
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    DS->Open();
    EXPECT_EQ(DS->State(), db::dsBlockRead);
    EXPECT_EQ(batchCallsAtAfterOpen, 1);  // the first block, read once the open was complete
    // Blocks carry bookmarks by default; the third record's is the engine's.
    DS->Next();
    DS->Next();
    const db::TBookmark third = DS->GetBookmark();
    ASSERT_EQ(static_cast<int32_t>(third.size()), DS->BookmarkSize());
    {
      auto reader = Make(u"Docs", u"Docs2");
      reader->Open();
      reader->GotoBookmark(third);
      EXPECT_EQ(reader->FieldByName(u"ID").AsInteger(), 3);
    }
    DS->SetBlockReadOptions(1u << gboBlobs);
    EXPECT_EQ(ClientErrorCode([&] { DS->GetBookmark(); }), zfErrNotSupported);
    DS->SetBlockReadOptions((1u << gboBlobs) | (1u << gboBookmarks));
    DS->First();
    std::vector<int32_t> ids;
    for (; !DS->Eof(); DS->Next()) ids.push_back(DS->FieldByName(u"ID").AsInteger());
    ASSERT_EQ(ids.size(), 40u);
    EXPECT_EQ(ids.front(), 1);
    EXPECT_EQ(ids.back(), 40);
    EXPECT_EQ(DS->Probe->NextCalls, 0);  // every record came from a block
    EXPECT_GT(DS->Probe->BatchCalls, 2);
    DS->Close();
    EXPECT_EQ(DS->BlockReadSize(), 200);  // kept across the close
  }
}

// Each refill starts from an empty block stream: a cursor that appends its block to what the
// stream holds must not make the dataset serve the first block again.
TEST_F(ClientBlob, EveryBlockIsReadFromAnEmptiedStream) {
  Fill(1);
  DS->Open();
  std::vector<Bytes> blocks;
  for (int b = 0; b < 2; ++b) {
    TBlockBuilder block(DS->AbstractCursor()->acFields(), DS->BookmarkSize());
    block.Add(2 * b + 1, nullptr);
    block.Add(2 * b + 2, nullptr);
    blocks.push_back(block.Finish(b == 0 ? 0 : zfErrEOF));
  }
  size_t served = 0;
  DS->Probe->OnRecordGetBatch = [&](int32_t, TzfRecordGetBatchExOptions, TzfMemoryStream& s, int32_t, bool) {
    const Bytes& b = blocks[std::min(served++, blocks.size() - 1)];
    s.Seek(0, rtl::TSeekOrigin::soEnd);
    s.WriteBuffer(b.data(), static_cast<int64_t>(b.size()));
    return 0u;
  };
  DS->SetBlockReadSize(4096);
  std::vector<int32_t> ids;
  for (; !DS->Eof() && ids.size() < 10; DS->Next()) ids.push_back(DS->FieldByName(u"ID").AsInteger());
  EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 3, 4}));
}

TEST_F(ClientBlob, BatchAppendStreamCollectsTheContentOfTheRecordBeingAppended) {
  Fill(1);
  DS->Open();
  DS->SetBatchAppend(1);
  DS->Insert();
  db::TBlobField& data = Blob(*DS, u"Data");
  data.SetAsBytes({1, 2, 3, 4, 5});
  EXPECT_EQ(DS->Probe->WriteCalls, 0);  // nothing went to the engine
  TzfMemoryStream& held = DS->BatchAppendBlob(kData);
  EXPECT_EQ(held.Size(), 5);
  EXPECT_EQ(data.GetAsBytes(), (Bytes{1, 2, 3, 4, 5}));
  {
    auto s = DS->CreateBlobStream(&data, db::bmReadWrite);
    s->Seek(2, rtl::TSeekOrigin::soBeginning);
    dynamic_cast<TzfBaseBlobStream&>(*s).Truncate();
  }
  EXPECT_EQ(data.GetAsBytes(), (Bytes{1, 2}));
  {
    auto s = DS->CreateBlobStream(&data, db::bmRead);
    EXPECT_EQ(s->Write("x", 1), 0);
  }
  DS->Cancel();
  // Leaving the insert state freed the collected content: a new record starts empty.
  DS->Insert();
  EXPECT_EQ(DS->BatchAppendBlob(kData).Size(), 0);
  DS->Cancel();
  DS->SetBatchAppend(0);
}

// The key of a dataset whose key is a two-field key: the values joined.
class TKeyDataset : public TDocsDataset {
 public:
  using TDocsDataset::TDocsDataset;
  rtl::Variant Key;
  rtl::Variant KeyAsVariant() override { return Key; }
};

TEST_F(ClientBlob, KeyFieldShowsTheRecordKey) {
  Fill(2);
  DS->Open();
  TzfKeyAsVariantField key;
  key.SetDataSet(DS.get());
  EXPECT_EQ(key.FieldName(), u"_Key");
  EXPECT_TRUE(key.Calculated());
  // The storage-order key of the first record, then of the second: two different values.
  const UnicodeString first = key.AsString();
  DS->Next();
  EXPECT_NE(key.AsString(), first);
  EXPECT_FALSE(first.empty());

  // Asked for through Options, the field is added to the default fields at every open.
  DS->Close();
  DS->SetOptions({dsoAddKeyAsVariantField});
  DS->Open();
  db::TField* added = DS->FindField(u"_Key");
  ASSERT_NE(added, nullptr);
  EXPECT_NE(dynamic_cast<TzfKeyAsVariantField*>(added), nullptr);
  EXPECT_EQ(added->AsString(), first);
  DS->Close();
  DS->Open();
  EXPECT_EQ(DS->FieldCount(), 5);

  rtl::TComponentPtr<TKeyDataset> keyed(new TKeyDataset(u"Docs"));
  key.SetDataSet(keyed.get());
  keyed->Key = rtl::Variant::FromBytes({4, 17});
  EXPECT_EQ(key.AsString(), u"4, 17");
  keyed->Key = rtl::Variant(u"abc");
  EXPECT_EQ(key.AsWideString(), u"abc");
  key.SetValue(rtl::Variant(5));  // does nothing
  EXPECT_EQ(key.AsString(), u"abc");
}

}  // namespace
}  // namespace zf::test
