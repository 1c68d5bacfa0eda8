// Enciphered tables through the engine: built with or without a password, closed, reopened with
// the right password, the built-in one or a wrong one, the password changed through a cursor and
// through the database; no record text reaches the disk in plain.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

class EncryptedTable : public CursorTest {
 protected:
  void SetUp() override {
    CursorTest::SetUp();
    Db = OpenDb(OpenSession());
  }
  // "Secret" (ID, Memo): enciphered, built with aPassword, records 1..aCount with text memos.
  void BuildTable(const UnicodeString& aPassword, int aCount) {
    auto dict = BlobDictionary();
    dict->EncryptionEngine = u"zf1xDefault";
    ASSERT_EQ(Db->TableBuild(true, u"Secret", aPassword, dict.get(), tsPersistent, false), 0u);
    TzfServerTableCursor* c = OpenWith(aPassword);
    ASSERT_NE(c, nullptr);
    {
      Buffer rec(c);
      for (int i = 1; i <= aCount; ++i) {
        c->SetFieldFromVariant(rec.P, 0, rtl::Variant(int32_t(i)));
        int64_t blob = MakeBlob(c, "PLAINTEXT-MARKER memo of record " + std::to_string(i), 1);
        c->acGetTableDescriptor()->tdFieldsDescriptor->SetRecordField(1, rec.P, &blob);
        ASSERT_EQ(c->RecordInsert(zfltNoLock, rec.P), 0u);
      }
    }
    Close(c);
  }
  TzfServerTableCursor* OpenWith(const UnicodeString& aPassword, uint32_t* aResult = nullptr) {
    TzfAbstractCursor* c = nullptr;
    const uint32_t r = Db->CursorOpen(c, u"Secret", aPassword, omReadWrite, smShared, 2000, false);
    if (aResult) *aResult = r;
    if (r != 0) return nullptr;
    Cursors.push_back(static_cast<TzfServerTableCursor*>(c));
    return Cursors.back();
  }
  // The IDs and memos of every record, read with aPassword.
  std::vector<std::string> Records(const UnicodeString& aPassword) {
    TzfServerTableCursor* c = OpenWith(aPassword);
    if (!c) return {"<not opened>"};
    std::vector<std::string> out;
    {
      Buffer rec(c);
      while (c->RecordGetNext(zfltNoLock, rec.P) == 0) {
        int64_t blob = 0;
        bool isNull = false;
        c->acGetTableDescriptor()->tdFieldsDescriptor->GetRecordField(1, rec.P, isNull, &blob);
        out.push_back(std::to_string(c->GetFieldAsVariant(rec.P, 0).AsInteger()) + ":" + ReadBlob(c, blob, false, 1));
      }
    }
    Close(c);
    return out;
  }
  std::vector<std::string> Expected(int aCount) {
    std::vector<std::string> out;
    for (int i = 1; i <= aCount; ++i) out.push_back(std::to_string(i) + ":PLAINTEXT-MARKER memo of record " + std::to_string(i));
    return out;
  }
  std::vector<uint8_t> Disk() {
    std::ifstream in((Dir.Path / ("Secret." + rtl::u8(Engine->TableExtension()))).string(), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  uint32_t OpenCode(const UnicodeString& aPassword) {
    uint32_t r = 0;
    if (TzfServerTableCursor* c = OpenWith(aPassword, &r)) Close(c);
    return r;
  }

  TzfServerDatabase* Db = nullptr;
};

TEST_F(EncryptedTable, PasswordTableOpensOnlyWithItsPasswordAndKeepsNoPlainText) {
  BuildTable(u"pw", 40);
  const std::vector<uint8_t> disk = Disk();
  ASSERT_GT(disk.size(), 4096u);
  const std::string marker = "PLAINTEXT-MARKER";
  EXPECT_EQ(disk.end(), std::search(disk.begin(), disk.end(), marker.begin(), marker.end()));
  EXPECT_EQ(Records(u"pw"), Expected(40));
  EXPECT_EQ(OpenCode(u""), zfErrInvalidPassword);
  EXPECT_EQ(OpenCode(u"PW"), zfErrInvalidPassword);
}

TEST_F(EncryptedTable, TableWithoutPasswordOpensOnTheBuiltInOne) {
  BuildTable(u"", 10);
  EXPECT_EQ(Records(u""), Expected(10));
  EXPECT_EQ(Records(u"whatever"), Expected(10));
}

TEST_F(EncryptedTable, ChangedPasswordOpensTheSameRecords) {
  BuildTable(u"old", 25);
  TzfServerTableCursor* c = OpenWith(u"old");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->ChangePassword(u"new"), 0u);
  Close(c);
  EXPECT_EQ(OpenCode(u"old"), zfErrInvalidPassword);
  EXPECT_EQ(Records(u"new"), Expected(25));
  // Through the database, by table name, with the old password.
  EXPECT_EQ(Db->TableChangePassword(u"Secret", u"new", u"third"), 0u);
  EXPECT_EQ(OpenCode(u"new"), zfErrInvalidPassword);
  EXPECT_EQ(Records(u"third"), Expected(25));
  EXPECT_EQ(Db->TableChangePassword(u"Secret", u"wrong", u"fourth"), zfErrInvalidPassword);
  // Back to no password.
  EXPECT_EQ(Db->TableChangePassword(u"Secret", u"third", u""), 0u);
  EXPECT_EQ(Records(u""), Expected(25));
}

}  // namespace
}  // namespace zf::test
