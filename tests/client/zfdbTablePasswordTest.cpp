// Table passwords through the client components: an enciphered table's password changed by the
// open table component and by the database component, and the table opened only with the password
// in force.
#include <gtest/gtest.h>

#include "client/zfdbTable.h"
#include "tests/client/zfdbErrorTestUtil.h"
#include "tests/client/zfdbTableTestUtil.h"

namespace zf::test {
namespace {

class ClientTablePassword : public ClientTableTest {
 protected:
  // "Secret": the small dictionary enciphered, on the built-in password, with IDs 1..3.
  void BuildEnciphered() {
    auto dict = SmallDictionary();
    dict->tdFieldsDescriptor->AddField(u"Score", u"", zftInt32, 0, 0, false, nullptr);
    dict->EncryptionEngine = u"zf1xDefault";
    ASSERT_EQ(Db->AbstractDatabase()->TableBuild(false, u"Secret", u"", dict.get(), tsPersistent, false), 0u);
    Fill(u"Secret", {1, 2, 3});
  }
  // The IDs read with aPassword, or the code opening the table raised.
  std::vector<int32_t> ReadWith(const UnicodeString& aPassword, uint32_t& aCode) {
    TzfTable* t = Table(u"Secret");
    t->SetPassword(aPassword);
    std::vector<int32_t> ids;
    aCode = ClientErrorCode([&] {
      t->Open();
      ids = IDs(*t);
      t->Close();
    });
    return ids;
  }
};

TEST_F(ClientTablePassword, OpenTableAndDatabaseChangeThePassword) {
  BuildEnciphered();
  TzfTable* t = Table(u"Secret");
  t->Open();
  t->ChangePassword(u"new");
  t->Close();
  uint32_t code = 0;
  EXPECT_EQ(ReadWith(u"", code), std::vector<int32_t>{});
  EXPECT_EQ(code, zfErrInvalidPassword);
  EXPECT_EQ(ReadWith(u"new", code), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(code, 0u);

  EXPECT_EQ(ClientErrorCode([&] { Db->ChangePassword(u"Secret", u"wrong", u"x"); }), zfErrInvalidPassword);
  Db->ChangePassword(u"Secret", u"new", u"");
  EXPECT_EQ(ReadWith(u"", code), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(code, 0u);
}

}  // namespace
}  // namespace zf::test
