// Key fields source, table mapper and the SQL engine link.
#include <gtest/gtest.h>

#include "server/zfsrServerLinks.h"
#include "tests/dictionary/server/zfsdTestEngine.h"

namespace zf::test {
namespace {

class ServerLinks : public ServerTest {};

// Stands for a table cursor whose current index can be switched.
class TKeyOwner : public IzfKeyFieldsOwner {
 public:
  IzfFieldsSource* GetCurrentKeyFieldsSource() override { return Current; }
  TzfPersistent* GetKeyFieldsOwnerCursor() override { return Cursor; }
  IzfFieldsSource* Current = nullptr;
  TzfPersistent* Cursor = nullptr;
};

TEST_F(ServerLinks, KeyFieldsSourceFollowsTheCurrentIndex) {
  TzfDataDictionary twoFields, oneField;
  twoFields.tdFieldsDescriptor->AddField(u"A", u"", zftInt32, 0, 0, false, nullptr);
  twoFields.tdFieldsDescriptor->AddField(u"B", u"", zftInt32, 0, 0, false, nullptr);
  oneField.tdFieldsDescriptor->AddField(u"C", u"", zftInt16, 0, 0, false, nullptr);
  TzfPersistent cursor;
  TKeyOwner owner;
  owner.Cursor = &cursor;
  RefPtr<TzfKeyFieldsSource> src = RefPtr<TzfKeyFieldsSource>::Create(&owner);

  EXPECT_EQ(&cursor, src->GetOwnerCursor());
  EXPECT_THROW(src->GetFieldCount(), EzfBaseException);  // no current index

  owner.Current = twoFields.tdFieldsDescriptor.get();
  EXPECT_EQ(2, src->GetFieldCount());
  EXPECT_EQ(1, src->GetFieldFromName(u"b"));
  EXPECT_FALSE(src->GetSourceFlag());
  owner.Current = oneField.tdFieldsDescriptor.get();
  EXPECT_EQ(1, src->GetFieldCount());
  IzfFieldInfo* info = nullptr;
  src->GetFieldInfo(0, info);
  EXPECT_EQ(zftInt16, info->GetFieldType());
  EXPECT_EQ(&cursor, src->GetOwnerCursor());
}

// A mapped table: counts its destruction.
class TTestTable : public TzfLockedOptionsExtendableServerObject {
 public:
  TTestTable(std::vector<UnicodeString>* aFreed, UnicodeString aName)
      : TzfLockedOptionsExtendableServerObject(nullptr), Freed(aFreed), Name(std::move(aName)) {}
  ~TTestTable() override { Freed->push_back(Name); }
  std::vector<UnicodeString>* Freed;
  UnicodeString Name;
};

TEST_F(ServerLinks, TableMapperFindsNamesInAnyCaseAndFreesItsTablesLastFirst) {
  std::vector<UnicodeString> freed;
  {
    RefPtr<TzfTableMapper> mapper = RefPtr<TzfTableMapper>::Create();
    mapper->AddMapping(u"##Beta", zfCreateServerObject<TTestTable>(&freed, u"beta"));
    mapper->AddMapping(u"##Alpha", zfCreateServerObject<TTestTable>(&freed, u"alpha"));
    EXPECT_TRUE(mapper->ContainsName(u"##ALPHA"));
    EXPECT_FALSE(mapper->ContainsName(u"##gamma"));
    auto* dup = zfCreateServerObject<TTestTable>(&freed, u"dup");
    EXPECT_ANY_THROW(mapper->AddMapping(u"##beta", dup));
    dup->Free();
    rtl::TStringList& list = mapper->LockList();
    EXPECT_EQ(2, list.Count());
    EXPECT_EQ(u"##Alpha", list[0]);  // sorted
    mapper->UnlockList();
  }
  EXPECT_EQ((std::vector<UnicodeString>{u"dup", u"beta", u"alpha"}), freed);
}

// The lookups of a caller that holds the padlock: a mapping replaced keeps no old entry, and
// neither replacing nor removing frees a table (the caller has taken it over).
TEST_F(ServerLinks, TableMapperMappingsReplacedAndRemovedUnderTheLock) {
  std::vector<UnicodeString> freed;
  auto* first = zfCreateServerObject<TTestTable>(&freed, u"first");
  auto* second = zfCreateServerObject<TTestTable>(&freed, u"second");
  {
    RefPtr<TzfTableMapper> mapper = RefPtr<TzfTableMapper>::Create();
    TzfTableMapperLock lock(*mapper);
    mapper->SetMapping(u"##T", first);
    EXPECT_EQ(first, mapper->FindMapping(u"##t"));
    mapper->SetMapping(u"##t", second);
    EXPECT_EQ(second, mapper->FindMapping(u"##T"));
    EXPECT_EQ(1, mapper->MappingList().Count());
    EXPECT_EQ(u"##t", mapper->MappingList()[0]);
    mapper->RemoveMapping(u"##T");
    EXPECT_EQ(nullptr, mapper->FindMapping(u"##T"));
    EXPECT_TRUE(freed.empty());
  }
  EXPECT_TRUE(freed.empty());
  first->Free();
  second->Free();
}

TEST_F(ServerLinks, WithoutAnSqlEngineStatementsAreNotSupported) {
  TTestSession* s = OpenSession();
  TTestDatabase* db = OpenDatabase(s);
  TzfAbstractStatement* st = reinterpret_cast<TzfAbstractStatement*>(1);
  const uint32_t r = zfSqlStatementAlloc(nullptr, db, st, 0);
  EXPECT_EQ(12289u, r);
  EXPECT_EQ(nullptr, st);
  try {
    zfRaiseIfError(r);
  } catch (const EzfBaseException& e) {
    EXPECT_NE(e.Message().find(u"An SQL Engine is required"), UnicodeString::npos);
  }
  s->Free();
}

}  // namespace
}  // namespace zf::test
