// The abstract cursor: Variant access to fields and BLOB fields, record buffers, field sources,
// filter wrapping and the unsupported nested-transaction request.
#include <gtest/gtest.h>

#include "foundation/zfllWideString.h"
#include "tests/dictionary/server/zfsdTestEngine.h"

namespace zf::test {
namespace {

class AbstractCursor : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    Dict = std::make_unique<TzfDataDictionary>();
    TzfFieldsDescriptor& f = *Dict->tdFieldsDescriptor;
    f.AddField(u"Id", u"", zftInt32, 0, 0, false, nullptr);
    f.AddField(u"Memo", u"", zftBlobMemo, 0, 0, false, nullptr);
    f.AddField(u"Wide", u"", zftBlobWideMemo, 0, 0, false, nullptr);
    f.AddField(u"Bin", u"", zftBlob, 0, 0, false, nullptr);
    Session = OpenSession(u"alice");
    Db = OpenDatabase(Session);
    Db->Table = Dict.get();
    TzfAbstractCursor* c = nullptr;
    ASSERT_EQ(0u, Db->CursorOpen(c, u"T", u"", omReadWrite, smShared, 0, false));
    Cursor = static_cast<TTestCursor*>(c);
    Rec = Cursor->RecordBufferAlloc();
  }
  void TearDown() override {
    Cursor->RecordBufferFree(Rec);
    Session->Free();
    Dict.reset();
    ServerTest::TearDown();
  }
  int64_t BlobNr(int32_t aField) {
    int64_t nr = 0;
    bool isNull = false;
    Dict->tdFieldsDescriptor->GetRecordField(aField, Rec, isNull, &nr);
    return isNull ? -1 : nr;
  }

  std::unique_ptr<TzfDataDictionary> Dict;
  TTestSession* Session = nullptr;
  TTestDatabase* Db = nullptr;
  TTestCursor* Cursor = nullptr;
  uint8_t* Rec = nullptr;
};

TEST_F(AbstractCursor, RecordBuffersStartWithEveryFieldNull) {
  for (int32_t i = 0; i < 4; ++i) EXPECT_TRUE(Dict->tdFieldsDescriptor->IsRecordFieldNull(i, Rec));
  Cursor->SetFieldFromVariant(Rec, 0, rtl::Variant(int32_t{42}));
  EXPECT_EQ(42, Cursor->GetFieldAsVariant(Rec, 0).AsInteger());
  Cursor->RecordBufferClear(Rec);
  EXPECT_TRUE(Cursor->GetFieldAsVariant(Rec, 0).IsNull());
}

TEST_F(AbstractCursor, MemoFieldsGoThroughTheBlobOperations) {
  EXPECT_TRUE(Cursor->GetFieldAsVariant(Rec, 1).IsNull());  // NULL field

  Cursor->SetFieldFromVariant(Rec, 1, rtl::Variant(UnicodeString(u"hello world")));
  const int64_t nr = BlobNr(1);
  ASSERT_GT(nr, 0);
  EXPECT_EQ(u"hello world", Cursor->GetFieldAsVariant(Rec, 1).AsString());

  // A shorter content leaves exactly the new length.
  Cursor->SetFieldFromVariant(Rec, 1, rtl::Variant(UnicodeString(u"hi")));
  EXPECT_EQ(nr, BlobNr(1));
  EXPECT_EQ(2u, Cursor->Blobs[nr].size());
  EXPECT_EQ(u"hi", Cursor->GetFieldAsVariant(Rec, 1).AsString());

  // A BLOB of length 0 reads as Null.
  Cursor->Blobs[nr].clear();
  EXPECT_TRUE(Cursor->GetFieldAsVariant(Rec, 1).IsNull());

  // An empty string deletes the BLOB and sets the field NULL; again on a NULL field: no change.
  Cursor->Blobs[nr] = {'x'};
  Cursor->SetFieldFromVariant(Rec, 1, rtl::Variant(UnicodeString()));
  EXPECT_EQ(-1, BlobNr(1));
  EXPECT_EQ(0u, Cursor->Blobs.count(nr));
  Cursor->SetFieldFromVariant(Rec, 1, rtl::Variant::Null());
  EXPECT_TRUE(Cursor->Blobs.empty());
}

TEST_F(AbstractCursor, MemoTextIsStoredInTheFieldsCodePage) {
  const UnicodeString text = u"caf\u00e9 \u20ac";
  Cursor->SetFieldFromVariant(Rec, 1, rtl::Variant(text));
  const uint16_t cp = Dict->tdFieldsDescriptor->Field(1)->GetUsedStorageCodePage();
  const rtl::AnsiString expected = zfWideStringToString(text, cp);
  const std::vector<uint8_t>& stored = Cursor->Blobs[BlobNr(1)];
  EXPECT_EQ(expected.Bytes(), std::string(stored.begin(), stored.end()));
  EXPECT_EQ(text, Cursor->GetFieldAsVariant(Rec, 1).AsString());
}

TEST_F(AbstractCursor, WideMemoAndBinaryBlobs) {
  Cursor->SetFieldFromVariant(Rec, 2, rtl::Variant(UnicodeString(u"a\u00e9\u4e2d")));
  EXPECT_EQ(6u, Cursor->Blobs[BlobNr(2)].size());
  EXPECT_EQ(u"a\u00e9\u4e2d", Cursor->GetFieldAsVariant(Rec, 2).AsString());

  Cursor->SetFieldFromVariant(Rec, 3, rtl::Variant::FromBytes({1, 2, 0, 255}));
  rtl::Variant v = Cursor->GetFieldAsVariant(Rec, 3);
  ASSERT_TRUE(v.IsByteArray());
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 0, 255}), v.AsBytes());
}

TEST_F(AbstractCursor, BlobFailuresAndBadFieldNumbersRaise) {
  Cursor->SetFieldFromVariant(Rec, 1, rtl::Variant(UnicodeString(u"x")));
  Cursor->Blobs.clear();  // the record names a BLOB that is gone
  EXPECT_EQ(u"!EzfBaseException #13057", Outcome([&] { Cursor->GetFieldAsVariant(Rec, 1); }).substr(0, 24));
  for (int32_t bad : {-1, 4}) {
    EXPECT_THROW(Cursor->GetFieldAsVariant(Rec, bad), rtl::ERangeError);
    EXPECT_THROW(Cursor->SetFieldFromVariant(Rec, bad, rtl::Variant(1)), rtl::ERangeError);
    IzfFieldInfo* info = nullptr;
    EXPECT_THROW(Cursor->GetFieldInfo(bad, info), rtl::ERangeError);
  }
}

TEST_F(AbstractCursor, TheCursorIsItsOwnFieldSource) {
  IzfWriteableFieldsSource& src = *Cursor;
  EXPECT_EQ(Cursor, src.GetOwnerCursor());
  EXPECT_EQ(0, src.GetDataOffset());
  EXPECT_TRUE(src.GetSourceFlag());
  EXPECT_EQ(4, src.GetFieldCount());
  EXPECT_EQ(2, src.GetFieldFromName(u"WIDE"));
  EXPECT_EQ(-1, src.GetFieldFromName(u"nope"));
  IzfFieldInfo* info = nullptr;
  src.GetFieldInfo(1, info);
  EXPECT_EQ(zftBlobMemo, info->GetFieldType());
  IzfCursorContext& ctx = *Cursor;
  EXPECT_EQ(u"alice", ctx.GetSessionUserName());
}

class TTestFilter : public TzfBaseFilterDescriptor {
 public:
  explicit TTestFilter(int32_t aCookie) : Cookie(aCookie) { ++Alive; }
  ~TTestFilter() override { --Alive; }
  int32_t Cookie;
  static inline int32_t Alive = 0;
};

TEST_F(AbstractCursor, CallbackAndExpressionFiltersAreWrappedWhenTheFactoriesExist) {
  TzfFilterID id = 0;
  EXPECT_EQ(12289u, Cursor->FilterAddCallback(1, [](int32_t, const uint8_t*) { return true; }, id));
  EXPECT_EQ(12289u, Cursor->KeyFilterAddExpression(nullptr, id));
  EXPECT_TRUE(Cursor->AddedFilters.empty());

  TzfFilterDescriptorFactories f;
  f.CreateCallback = [](int32_t aCookie, const TzfFilterCallback&) -> std::unique_ptr<TzfBaseFilterDescriptor> {
    return std::make_unique<TTestFilter>(aCookie);
  };
  f.CreateSimpleExpression = [](const uint8_t*, int32_t) -> std::unique_ptr<TzfBaseFilterDescriptor> {
    return std::make_unique<TTestFilter>(-1);
  };
  zfSetFilterDescriptorFactories(f);
  EXPECT_EQ(0u, Cursor->FilterAddCallback(7, [](int32_t, const uint8_t*) { return true; }, id));
  EXPECT_EQ(1u, id);
  EXPECT_EQ(0u, Cursor->KeyFilterAddExpression(nullptr, id));
  EXPECT_EQ(2u, id);
  EXPECT_EQ(0, TTestFilter::Alive);  // the cursor keeps what it needs; the descriptor is freed
  zfSetFilterDescriptorFactories({});
}

TEST_F(AbstractCursor, NestedTransactionsAreRefusedByTheAbstractCursor) {
  try {
    Cursor->RequestNestedTransactions();
    FAIL();
  } catch (const ETestEngineException& e) {
    EXPECT_EQ(12289u, e.ErrorCode());
    EXPECT_NE(e.Message().find(u"RequestNestedTransactions is not supported by TTestCursor"), UnicodeString::npos);
  }
}

}  // namespace
}  // namespace zf::test
