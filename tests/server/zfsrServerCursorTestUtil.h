// Shared fixture of the cursor tests that need BLOB tables: sessions opened with a chosen client
// version, databases on the test folder, cursors freed at the end, record buffers, and a table of
// an ID, an auto-increment field, a memo and a binary BLOB.
#pragma once
#include <gtest/gtest.h>

#include <vector>

#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTableCursor.h"
#include "tests/server/zfsrServerTestUtil.h"

namespace zf::test {

// Fields: 0 "ID" Int32, 1 "Memo" BlobMemo, 2 "Data" Blob; with aAutoInc a field 3 "Seq" AutoInc.
// aBlobs False leaves out the two BLOB fields and the BLOB descriptor.
inline std::unique_ptr<TzfServerDataDict> BlobDictionary(bool aBlobs = true, bool aAutoInc = false) {
  auto d = std::make_unique<TzfServerDataDict>();
  d->tdFieldsDescriptor->AddField(u"ID", u"", zftInt32, 0, 0, false, nullptr);
  if (aBlobs) {
    d->tdFieldsDescriptor->AddField(u"Memo", u"", zftBlobMemo, 0, 0, false, nullptr);
    d->tdFieldsDescriptor->AddField(u"Data", u"", zftBlob, 0, 0, false, nullptr);
    d->AddBlobDescriptor();
  }
  if (aAutoInc) d->tdFieldsDescriptor->AddField(u"Seq", u"", zftAutoInc, 0, 0, false, nullptr);
  return d;
}

class CursorTest : public ServerEngineTest {
 protected:
  void TearDown() override {
    for (auto* c : Cursors) c->Free();
    Cursors.clear();
    for (auto* d : Dbs)
      if (d) d->Free();  // null where an open failed
    for (auto* s : Sessions)
      if (s) s->Free();
    ServerEngineTest::TearDown();
  }
  TzfServerSession* OpenSession(int32_t aClientVersion = zfEngineVersion) {
    TzfAbstractSession* s = nullptr;
    EXPECT_EQ(Engine->SessionOpenEx(s, u"alice", u"", u"test", 10000, aClientVersion), 0u);
    Sessions.push_back(static_cast<TzfServerSession*>(s));
    return Sessions.back();
  }
  TzfServerDatabase* OpenDb(TzfServerSession* aSession, TzfOpenMode aMode = omReadWrite) {
    TzfAbstractDatabase* d = nullptr;
    EXPECT_EQ(aSession->DatabaseOpen(d, u"Path", rtl::u16(Dir.Path.string()), nullptr, aMode, smShared, 10000), 0u);
    Dbs.push_back(static_cast<TzfServerDatabase*>(d));
    return Dbs.back();
  }
  void Build(TzfServerDatabase* aDb, const UnicodeString& aName, TzfServerDataDict* aDict) {
    ASSERT_EQ(aDb->TableBuild(true, aName, u"", aDict, tsPersistent, false), 0u);
  }
  TzfServerTableCursor* Open(TzfServerDatabase* aDb, const UnicodeString& aName, TzfOpenMode aMode = omReadWrite,
                             TzfShareMode aShare = smShared) {
    TzfAbstractCursor* c = nullptr;
    EXPECT_EQ(aDb->CursorOpen(c, aName, u"", aMode, aShare, 2000, false), 0u);
    auto* tc = dynamic_cast<TzfServerTableCursor*>(c);
    EXPECT_NE(tc, nullptr);
    if (tc) Cursors.push_back(tc);
    return tc;
  }
  void Close(TzfServerTableCursor* aCursor) {
    std::erase(Cursors, aCursor);
    aCursor->Free();
  }
  struct Buffer {
    TzfAbstractCursor* C;
    uint8_t* P;
    explicit Buffer(TzfAbstractCursor* aC) : C(aC), P(aC->RecordBufferAlloc()) {}
    ~Buffer() { C->RecordBufferFree(P); }
  };
  // A BLOB of aCursor's table holding aContent (committed); 0 when it could not be made.
  static int64_t MakeBlob(TzfAbstractCursor* aCursor, const std::string& aContent, int32_t aField = 2) {
    int64_t nr = 0;
    EXPECT_EQ(aCursor->BlobCreate(aField, nr), 0u);
    if (!aContent.empty()) {
      EXPECT_EQ(aCursor->BlobWrite(aField, nr, 0, static_cast<uint32_t>(aContent.size()), aContent.data()), 0u);
    }
    return nr;
  }
  // The whole content of BLOB aNr as aCursor reads it ("<code N>" when the read fails).
  static std::string ReadBlob(TzfAbstractCursor* aCursor, int64_t aNr, bool aReadOrg = false, int32_t aField = 2) {
    uint32_t len = 0;
    if (const uint32_t r = aCursor->BlobGetLength(aField, aNr, len, aReadOrg)) return "<code " + std::to_string(r) + ">";
    TzfMemoryStream ms;
    if (const uint32_t r = aCursor->BlobRead(aField, aNr, 0, len, ms, aReadOrg)) return "<code " + std::to_string(r) + ">";
    return std::string(static_cast<const char*>(ms.Memory()), static_cast<size_t>(ms.Size()));
  }
  static int64_t BlobOf(TzfAbstractCursor* aCursor, const uint8_t* aRecord, int32_t aField) {
    bool isNull = true;
    int64_t nr = 0;
    aCursor->acGetTableDescriptor()->tdFieldsDescriptor->GetRecordField(aField, aRecord, isNull, &nr);
    return isNull ? 0 : nr;
  }
  static void SetBlob(TzfAbstractCursor* aCursor, uint8_t* aRecord, int32_t aField, int64_t aNr) {
    TzfFieldsDescriptor& f = *aCursor->acGetTableDescriptor()->tdFieldsDescriptor;
    if (aNr == 0)
      f.SetRecordFieldNull(aField, aRecord, true);
    else
      f.SetRecordField(aField, aRecord, &aNr);
  }

  std::vector<TzfServerSession*> Sessions;
  std::vector<TzfServerDatabase*> Dbs;
  std::vector<TzfServerTableCursor*> Cursors;
};

}  // namespace zf::test
