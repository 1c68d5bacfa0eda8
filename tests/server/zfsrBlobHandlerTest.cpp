// BLOB handlers: the null handler refuses every BLOB operation with 12289 and its message and
// lets records pass; the pass-through handler forwards to the table's BLOB engine at once, refuses
// reads of the old value, and deletes the BLOBs of a deleted record in field order.
#include <gtest/gtest.h>

#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "foundation/zfllStreams.h"
#include "server/zfsrBlobHandlerBase.h"
#include "server/zfsrBlobHandlerPassthrough.h"
#include "storage/zfsrBlobEngineBase.h"
#include "storage/zfsrEngineTestSupport.h"

namespace zf::test {
namespace {

// The pending message the last refusal left for its code shows in the code's exception.
bool PendingHas(uint32_t aCode, const UnicodeString& aText) {
  const EzfBaseException e(aCode);
  return e.Message().find(aText) != UnicodeString::npos;
}

struct THandlerDeleter {
  void operator()(TzfBaseBlobHandler* p) const { p->Free(); }
};
template <class T>
using THandlerPtr = std::unique_ptr<T, THandlerDeleter>;

TEST(NullBlobHandler, RefusesEveryBlobOperationAndLetsRecordsPass) {
  THandlerPtr<TzfNullBlobHandler> h(zfCreateServerObject<TzfNullBlobHandler>(nullptr));
  int64_t nr = 5;
  bool flag = false;
  uint32_t len = 7;
  TzfMemoryStream ms;
  const std::function<uint32_t()> ops[] = {
      [&] { return h->BlobCreate(nullptr, 0, nr); },
      [&] { return h->BlobCreateFile(nullptr, 0, u"f", nr); },
      [&] { return h->BlobCreateLink(nullptr, 0, u"T", 1, nr); },
      [&] { return h->BlobDelete(nullptr, 0, 1); },
      [&] { return h->BlobFree(nullptr, 0, 1, flag); },
      [&] { return h->BlobTruncate(nullptr, 0, 1, 0); },
      [&] { return h->BlobWrite(nullptr, 0, 1, 0, 1, "x"); },
      [&] { return h->BlobGetLength(nullptr, 0, false, 1, len); },
      [&] { return h->BlobRead(nullptr, 0, false, 1, 0, 10, ms); },
      [&] { return h->BlobModified(nullptr, 0, 1, flag); },
  };
  for (const auto& op : ops) {
    EXPECT_EQ(op(), zfErrNotSupported);
    EXPECT_TRUE(PendingHas(zfErrNotSupported, u"Operation not supported by TzfNullBlobHandler"));
  }
  EXPECT_EQ(nr, 5);
  EXPECT_EQ(len, 7u);
  EXPECT_EQ(ms.Size(), 0);
  UnicodeString name = u"stale";
  int64_t src = 0;
  EXPECT_FALSE(h->BlobIsLink(nullptr, 0, 1, name, src));
  EXPECT_TRUE(name.empty());
  uint8_t rec[8] = {};
  EXPECT_EQ(h->BeforeInsert(nullptr, rec), 0u);
  EXPECT_EQ(h->BeforeModify(nullptr, rec), 0u);
  EXPECT_EQ(h->AfterModify(nullptr, rec, rec), 0u);
  EXPECT_EQ(h->AfterDelete(nullptr, rec), 0u);
  EXPECT_FALSE(h->NeedNested());
}

class PassthroughBlobHandler : public TEngineTest {
 protected:
  void SetUp() override {
    TEngineTest::SetUp();
    TMemFile* file = NewTable(u"/tmp/blob_handler_test.dvl7");
    Access = std::make_unique<TzfBlockAccess>(file, nullptr, u"blob_handler_test", 0);
    Descriptor = std::make_unique<TzfBaseBlobDescriptor>(nullptr, "Blob");
    Descriptor->bbdBlobEngine = u"zf1xSimple";
    Descriptor->diID = 7;
    TTestTrans t(BM.get());
    Engine = TzfBaseBlobEngine::CreateEngine(Descriptor.get(), {Access.get()}, &t);
    t.Commit();
    Fields().AddField(u"A", u"", zftBlob, 0, 0, false, nullptr);
    Fields().AddField(u"N", u"", zftInt32, 0, 0, false, nullptr);
    Fields().AddField(u"B", u"", zftBlobMemo, 0, 0, false, nullptr);
    Handler.reset(zfCreateServerObject<TzfPassthroughBlobHandler>(nullptr, Engine.get(), nullptr, &Fields()));
  }
  void TearDown() override {
    Handler.reset();
    Engine.reset();
    Access.reset();
    Descriptor.reset();
    TEngineTest::TearDown();
  }
  std::string Read(TzfBaseTransaction* aTrans, int64_t aNr) {
    TzfMemoryStream ms;
    EXPECT_EQ(Handler->BlobRead(aTrans, 0, false, aNr, 0, 0xFFFFFFFF, ms), 0u);
    return std::string(static_cast<const char*>(ms.Memory()), size_t(ms.Size()));
  }

  std::unique_ptr<TzfBlockAccess> Access;
  std::unique_ptr<TzfBaseBlobDescriptor> Descriptor;
  std::unique_ptr<TzfBaseBlobEngine> Engine;
  TzfFieldsDescriptor& Fields() { return *Dict.tdFieldsDescriptor; }
  TzfDataDictionary Dict;
  THandlerPtr<TzfPassthroughBlobHandler> Handler;
};

TEST_F(PassthroughBlobHandler, WritesAreVisibleAtOnceAndOldValuesAreRefused) {
  TTestTrans t(BM.get());
  int64_t nr = 0;
  ASSERT_EQ(Handler->BlobCreate(&t, 0, nr), 0u);
  ASSERT_NE(nr, 0);
  ASSERT_EQ(Handler->BlobWrite(&t, 0, nr, 0, 5, "hello"), 0u);
  EXPECT_EQ(Read(&t, nr), "hello");
  uint32_t len = 0;
  EXPECT_EQ(Handler->BlobGetLength(&t, 0, false, nr, len), 0u);
  EXPECT_EQ(len, 5u);
  ASSERT_EQ(Handler->BlobTruncate(&t, 0, nr, 2), 0u);
  EXPECT_EQ(Read(&t, nr), "he");

  TzfMemoryStream ms;
  EXPECT_EQ(Handler->BlobRead(&t, 0, true, nr, 0, 10, ms), zfErrNotSupported);
  EXPECT_TRUE(PendingHas(zfErrNotSupported, u"BlobRead with aReadOld = True is not supported by TzfPassthroughBlobHandler"));
  EXPECT_EQ(ms.Size(), 0);
  EXPECT_EQ(Handler->BlobGetLength(&t, 0, true, nr, len), zfErrNotSupported);
  EXPECT_TRUE(PendingHas(zfErrNotSupported, u"BlobGetLength with aReadOld = True is not supported by TzfPassthroughBlobHandler"));
  bool changed = false;
  EXPECT_EQ(Handler->BlobModified(&t, 0, nr, changed), zfErrNotSupported);
  EXPECT_TRUE(PendingHas(zfErrNotSupported, u"BlobModified not supported by TzfPassthroughBlobHandler"));
  t.Commit();
}

TEST_F(PassthroughBlobHandler, DeleteHookDeletesTheRecordsBlobsOnly) {
  TTestTrans t(BM.get());
  int64_t a = 0, b = 0, keep = 0;
  ASSERT_EQ(Handler->BlobCreate(&t, 0, a), 0u);
  ASSERT_EQ(Handler->BlobCreate(&t, 2, b), 0u);
  ASSERT_EQ(Handler->BlobCreate(&t, 0, keep), 0u);
  for (int64_t nr : {a, b, keep}) ASSERT_EQ(Handler->BlobWrite(&t, 0, nr, 0, 3, "abc"), 0u);

  std::vector<uint8_t> rec(size_t(Fields().GetRecordLength()));
  // NULL fields and BLOB number 0 delete nothing.
  Fields().InitRecord(rec.data());
  EXPECT_EQ(Handler->AfterDelete(&t, rec.data()), 0u);
  const int64_t zero = 0;
  Fields().SetRecordField(0, rec.data(), &zero);
  EXPECT_EQ(Handler->AfterDelete(&t, rec.data()), 0u);
  EXPECT_EQ(Read(&t, keep), "abc");

  // Both BLOB fields set: both BLOBs go, the third stays.
  Fields().SetRecordField(0, rec.data(), &a);
  Fields().SetRecordField(2, rec.data(), &b);
  EXPECT_EQ(Handler->AfterDelete(&t, rec.data()), 0u);
  EXPECT_EQ(Read(&t, keep), "abc");
  uint32_t len = 0;
  for (int64_t gone : {a, b}) {
    uint32_t code = 0;
    try {
      code = Handler->BlobGetLength(&t, 0, false, gone, len);
    } catch (const EzfBaseException& e) {
      code = e.ErrorCode();
    }
    EXPECT_NE(code, 0u) << gone;
  }
  t.Commit();
}

}  // namespace
}  // namespace zf::test
