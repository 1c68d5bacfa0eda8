// Referential integrity seen from a table component: a refused delete raises the database error
// with the violation message, and a key change cascades into the other table.
#include <gtest/gtest.h>

#include "dictionary/zfsdDataDictionaryRefInt.h"
#include "tests/client/zfdbTableTestUtil.h"

namespace zf::test {
namespace {

class ClientRefIntegrity : public ClientTableTest {
 protected:
  // "Master" (ID, Name, Score) whose reference points at the records of "Detail" with the same ID
  // (Detail: ID, Name on ByID), with aAction.
  void BuildPair(TzfDictionaryItemClass aAction) {
    Build(u"Detail");
    auto dict = SmallDictionary();
    dict->tdFieldsDescriptor->AddField(u"Score", u"", zftInt32, 0, 0, false, nullptr);
    TzfIndexDescriptor* ix = dict->EnsureIndicesDescriptor()->AddIndex(u"ByID", 0, idNone, u"");
    dynamic_cast<TzfCompKeyDescriptor&>(*ix->idKeyDescriptor).Add(0);
    auto* refInt = dynamic_cast<TzfRefIntegrityDescriptor*>(
        dict->tdCustomDescsDescriptor->AddCustom(u"RefIntegrity", &TzfRefIntegrityDescriptor::ClassInfo()));
    TzfReferenceDescriptor* ref = refInt->AddReference();
    dynamic_cast<TzfTableTargetCursorDescriptor&>(*ref->rdTargetCursor).SetTableName(u"Detail");
    ref->SetTargetIndex(u"ByID");
    dynamic_cast<TzfFieldSourceDescriptor*>(ref->AddSource())->SetFieldNumber(0);
    ref->AddAction(aAction);
    ASSERT_EQ(Db->AbstractDatabase()->TableBuild(false, u"Master", u"", dict.get(), tsPersistent, false), 0u);
    Fill(u"Master", {1, 2});
    Fill(u"Detail", {1});
  }
};

TEST_F(ClientRefIntegrity, RefusedDeleteRaisesTheViolation) {
  BuildPair(&TzfBlockDeleteActionDescriptor::ClassInfo());
  TzfTable* master = Table(u"Master");
  master->Open();
  ASSERT_TRUE(master->Locate(u"ID", rtl::Variant(1), {}));
  EXPECT_EQ(ClientErrorCode([&] { master->Delete(); }), zfErrDetailRecsExist);
  ASSERT_TRUE(master->Locate(u"ID", rtl::Variant(1), {}));
  const UnicodeString text = ClientErrorText([&] { master->Delete(); });
  EXPECT_NE(text.find(u"Referential Integrity Violation. Master(ID) -> Detail(ID): Master has detail records."),
            UnicodeString::npos)
      << rtl::u8(text);
  master->Cancel();
  EXPECT_EQ(IDs(*master), (std::vector<int32_t>{1, 2}));
  ASSERT_TRUE(master->Locate(u"ID", rtl::Variant(2), {}));
  master->Delete();
  EXPECT_EQ(IDs(*master), (std::vector<int32_t>{1}));
}

TEST_F(ClientRefIntegrity, PostedKeyChangeCascades) {
  BuildPair(&TzfCascadeModifyActionDescriptor::ClassInfo());
  TzfTable* master = Table(u"Master");
  master->Open();
  ASSERT_TRUE(master->Locate(u"ID", rtl::Variant(1), {}));
  master->Edit();
  master->FieldByName(u"ID").SetAsInteger(7);
  master->Post();
  TzfTable* detail = Table(u"Detail");
  detail->Open();
  EXPECT_EQ(IDs(*detail), (std::vector<int32_t>{7}));
}

}  // namespace
}  // namespace zf::test
