// Searching a table by token through the table component: the index of a full-text token index
// takes its keys straight from the values given.
#include <gtest/gtest.h>

#include <algorithm>

#include "client/zfdbTable.h"
#include "dictionary/zfsdDataDictionaryFulltext.h"
#include "tests/client/zfdbErrorTestUtil.h"
#include "tests/client/zfdbTableTestUtil.h"

namespace zf::test {
namespace {

class ClientFulltextTest : public ClientTableTest {
 protected:
  // Fields ID (auto-increment, unique "ByID") and Text (wide string); the full-text index "Words"
  // over Text keeps its lower-cased words in the index "Tokens".
  void BuildLog() {
    auto dict = std::make_unique<TzfServerDataDict>();
    dict->tdFieldsDescriptor->AddField(u"ID", u"", zftAutoInc, 0, 0, false, nullptr);
    dict->tdFieldsDescriptor->AddField(u"Text", u"", zftWideString, 40, 0, false, nullptr);
    TzfMainIndicesDescriptor* ixs = dict->EnsureIndicesDescriptor();
    dynamic_cast<TzfCompKeyDescriptor&>(*ixs->AddIndex(u"ByID", 0, idNone, u"")->idKeyDescriptor).Add(0);
    TzfIndexDescriptor* tokens = ixs->AddIndex(u"Tokens", 0, idAll, u"", &TzfMainIndexTokenKeyDescriptor::ClassInfo());
    TzfFulltextIndexDescriptor* words = zfEnsureFulltextDescriptor(*dict)->AddFulltextIndex(u"Words");
    words->AddFieldTokenExtractor(1);
    words->AddTokenFilter(u"Split", &TzfCategorySeparatorTokenFilterDescriptor::ClassInfo());
    words->AddTokenFilter(u"Lower", &TzfLowercaseLocaleMappingTokenFilterDescriptor::ClassInfo());
    dynamic_cast<TzfMainIndexTokenIndexDescriptor&>(
        *words->AddTokenIndex(u"Keys", &TzfMainIndexTokenIndexDescriptor::ClassInfo()))
        .SetMainIndexNumber(tokens->idNumber);
    ASSERT_EQ(Db->AbstractDatabase()->TableBuild(false, u"Log", u"", dict.get(), tsPersistent, false), 0u);
    const UnicodeString texts[] = {u"Disk full", u"disk check, disk again", u"network down", u"DISK"};
    InsertRecords(u"Log", {1, 2, 3, 4}, [&](TzfAbstractCursor& aCursor, uint8_t* aBuffer, int32_t aID) {
      aCursor.SetFieldFromVariant(aBuffer, 1, rtl::Variant(texts[aID - 1]));
    });
  }
};

TEST_F(ClientFulltextTest, SearchByToken) {
  BuildLog();
  TzfTable* t = Table(u"Log");
  t->SetIndexName(u"Tokens");
  t->Open();
  t->SetRange({rtl::Variant(u"disk")}, {rtl::Variant(u"disk")});
  std::vector<int32_t> ids = IDs(*t);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 4}));  // a word twice in one record: one key
  t->CancelRange();
  EXPECT_TRUE(t->FindKey({rtl::Variant(u"network")}));
  EXPECT_EQ(t->FieldByName(u"ID").GetAsInteger(), 3);
  EXPECT_FALSE(t->FindKey({rtl::Variant(u"nothing")}));
  // A token key takes one text value; a number gives its decimal text, two values are refused.
  EXPECT_FALSE(t->FindKey({rtl::Variant(int32_t{42})}));
  EXPECT_NE(ClientErrorText([&] { t->FindKey({rtl::Variant(u"a"), rtl::Variant(u"b")}); }).find(u"<Token>"),
            UnicodeString::npos);
}

}  // namespace
}  // namespace zf::test
