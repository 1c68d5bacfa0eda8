// Adding and dropping indexes through the database: a table that holds records is indexed at
// once, a failed add or drop leaves dictionary, file and indexes as they were, and the cursor that
// dropped an index ends on the table's default index.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllErrors.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerFolder.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "server/zfsrServerTransaction.h"
#include "foundation/zfllStreams.h"
#include "storage/zfsrStreamEngineBase.h"
#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

class TableAddIndex : public PeopleCursorTest {
 protected:
  void SetUp() override {
    PeopleCursorTest::SetUp();
    Open();
    // Without indexes: the first one added makes the table's indices engine.
    auto dict = SmallDictionary();
    dict->RemoveIndicesDescriptor();
    ASSERT_EQ(Db->TableBuild(false, u"People", u"", dict.get(), tsPersistent, false), 0u);
    OpenCursor();
  }
  // Everything closed and the engine started again: what is left is what the file holds.
  void Reopen() {
    Close();
    StartEngine(0);
    Open();
    OpenCursor();
  }
  uint32_t Insert(int32_t aID, const char16_t* aName) {
    C->SetFieldFromVariant(Rec, 0, rtl::Variant(aID));
    C->SetFieldFromVariant(Rec, 1, rtl::Variant(UnicodeString(aName)));
    return C->RecordInsert(zfltNoLock, Rec);
  }
  // An index on field aField, unique or with duplicates.
  static std::unique_ptr<TzfIndexDescriptor> IndexOn(const UnicodeString& aName, int32_t aField, bool aUnique,
                                                     int32_t aFile = 0) {
    auto d = TzfIndexDescriptor::CreateStandalone(0, aName, aFile, nullptr);
    d->SetDups(aUnique ? idNone : idAll);
    dynamic_cast<TzfCompKeyDescriptor&>(*d->idKeyDescriptor).Add(aField);
    return d;
  }
  // The database's index operations open an exclusive cursor: the test's own cursor steps aside.
  uint32_t AddDesc(TzfIndexDescriptor* aDesc, bool aDefault) {
    CloseCursor();
    const uint32_t r = Db->TableAddIndex(u"People", u"", aDesc, aDefault);
    OpenCursor();
    return r;
  }
  uint32_t Add(const UnicodeString& aName, int32_t aField, bool aUnique, bool aDefault = false) {
    auto d = IndexOn(aName, aField, aUnique);
    return AddDesc(d.get(), aDefault);
  }
  uint32_t Drop(const UnicodeString& aName, int32_t aID) {
    CloseCursor();
    const uint32_t r = Db->TableDropIndex(u"People", u"", aName, aID);
    OpenCursor();
    return r;
  }
  // The index names in the dictionary the file holds, in number order, and its default index.
  std::vector<UnicodeString> StoredIndexes(int32_t* aDefault = nullptr) {
    TzfDataDictionary dict;
    EXPECT_EQ(Db->TableGetDictionary(u"People", u"", &dict), 0u);
    std::vector<UnicodeString> names;
    if (aDefault) *aDefault = dict.tdIndicesDescriptor ? dict.tdIndicesDescriptor->midDefaultIndex : -1;
    if (dict.tdIndicesDescriptor)
      for (auto& d : dict.tdIndicesDescriptor->IndexDescriptor) names.push_back(d->idName);
    return names;
  }
  // The IDs read from the start in the order of index aIndex (by name; empty: storage order).
  std::vector<int32_t> Walk(const UnicodeString& aIndex) {
    EXPECT_EQ(C->SwitchToIndex(aIndex, -1, false), 0u);
    std::vector<int32_t> ids;
    while (C->RecordGetNext(zfltNoLock, Rec) == 0) ids.push_back(C->GetFieldAsVariant(Rec, 0).AsInteger());
    return ids;
  }
  void Fill() {
    ASSERT_EQ(Insert(3, u"c"), 0u);
    ASSERT_EQ(Insert(1, u"b"), 0u);
    ASSERT_EQ(Insert(2, u"a"), 0u);
  }
  TzfServerRootTable& Root() { return *static_cast<TzfServerTableCursor*>(C)->Table()->sbtRoot; }
};

TEST_F(TableAddIndex, IndexesTheRecordsATableAlreadyHolds) {
  Fill();
  const int32_t generation = Db->GetStructureGeneration();
  ASSERT_EQ(Add(u"ByID", 0, true), 0u);
  EXPECT_GT(Db->GetStructureGeneration(), generation);
  EXPECT_EQ(Walk(u"ByID"), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(Insert(2, u"x"), zfErrKeyViol) << "the new index guards its keys at once";
  // A second index joins the first; made the default, the dictionary says so.
  ASSERT_EQ(Add(u"ByName", 1, false, true), 0u);
  ASSERT_EQ(Insert(4, u"a"), 0u);
  EXPECT_EQ(Walk(u"ByName"), (std::vector<int32_t>{2, 4, 1, 3}));
  int32_t def = -1;
  EXPECT_EQ(StoredIndexes(&def), (std::vector<UnicodeString>{u"ByID", u"ByName"}));
  EXPECT_EQ(def, 1);

  // Both live on in the file.
  Reopen();
  EXPECT_EQ(Walk(u"ByID"), (std::vector<int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(Walk(u"ByName"), (std::vector<int32_t>{2, 4, 1, 3}));
  EXPECT_EQ(Insert(4, u"z"), zfErrKeyViol);
}

TEST_F(TableAddIndex, RefusedAddLeavesTheTableAsItWas) {
  Fill();
  ASSERT_EQ(Insert(5, u"a"), 0u);
  ASSERT_EQ(Add(u"ByID", 0, true), 0u);
  // Two records share the name "a": a unique index on it cannot be made, neither as the first
  // index nor beside another.
  EXPECT_EQ(Add(u"UniqueName", 1, true, true), zfErrKeyViol);
  int32_t def = -1;
  EXPECT_EQ(StoredIndexes(&def), (std::vector<UnicodeString>{u"ByID"}));
  EXPECT_EQ(def, 0);
  EXPECT_EQ(C->SwitchToIndex(u"UniqueName", -1, false), zfErrNoSuchIndex);
  // A dictionary that cannot be written (an index engine nobody registered) puts the index list
  // and the default back.
  auto unknown = IndexOn(u"Elsewhere", 1, false);
  unknown->SetIndexEngine(u"NoSuchEngine");
  EXPECT_EQ(AddDesc(unknown.get(), true), zfErrSubEngineNotSupported);
  EXPECT_EQ(StoredIndexes(&def), (std::vector<UnicodeString>{u"ByID"}));
  EXPECT_EQ(def, 0);
  EXPECT_EQ(Root().sbtTableDescriptor->tdIndicesDescriptor->IndexCount(), 1);
  EXPECT_EQ(Root().sbtTableDescriptor->tdIndicesDescriptor->midDefaultIndex, 0);
  ASSERT_EQ(Insert(6, u"a"), 0u) << "no key of the refused index is left behind";
  EXPECT_EQ(Walk(u"ByID"), (std::vector<int32_t>{1, 2, 3, 5, 6}));
  // The index can be made once the duplicate has gone.
  ASSERT_EQ(Add(u"ByName", 1, false), 0u);
  EXPECT_EQ(Walk(u"ByName"), (std::vector<int32_t>{2, 5, 6, 1, 3}));

  Reopen();
  EXPECT_EQ(StoredIndexes(), (std::vector<UnicodeString>{u"ByID", u"ByName"}));
  EXPECT_EQ(Walk(u"ByName"), (std::vector<int32_t>{2, 5, 6, 1, 3}));
}

TEST_F(TableAddIndex, FirstIndexRefusedLeavesNoIndicesBehind) {
  Fill();
  ASSERT_EQ(Insert(4, u"a"), 0u);
  EXPECT_EQ(Add(u"UniqueName", 1, true), zfErrKeyViol);
  EXPECT_TRUE(StoredIndexes().empty());
  EXPECT_EQ(Root().sbtTableDescriptor->tdIndicesDescriptor, nullptr);
  EXPECT_EQ(Root().sbtIndicesEngine, nullptr);
  EXPECT_EQ(Insert(5, u"a"), 0u);
  ASSERT_EQ(Add(u"ByID", 0, true), 0u);
  EXPECT_EQ(Walk(u"ByID"), (std::vector<int32_t>{1, 2, 3, 4, 5}));
}

TEST_F(TableAddIndex, Refusals) {
  ASSERT_EQ(Add(u"ByID", 0, true), 0u);
  auto badFile = IndexOn(u"Other", 0, true, 7);
  auto badField = IndexOn(u"Other", 9, true);
  auto same = IndexOn(u"byid", 1, false);
  CloseCursor();
  struct Case {
    const char* What;
    uint32_t Got, Expected;
  } cases[] = {
      {"a file the table does not have", Db->TableAddIndex(u"People", u"", badFile.get(), false), zfErrInvalidIndexDesc},
      {"a field the table does not have", Db->TableAddIndex(u"People", u"", badField.get(), false),
       zfErrInvalidIndexDesc},
      {"a name in use, whatever its case", Db->TableAddIndex(u"People", u"", same.get(), false), zfErrIndexExists},
      {"no table", Db->TableAddIndex(u"Nobody", u"", same.get(), false), zfErrNoSuchTable},
      {"an empty table name", Db->TableAddIndex(u"", u"", same.get(), false), zfErrNoSuchTable},
      {"drop: a name that is no identifier", Db->TableDropIndex(u"People", u"", u" NoSuch", -1), zfErrInvalidIndexName},
      {"drop: an unknown name", Db->TableDropIndex(u"People", u"", u"NoSuch", -1), zfErrNoSuchIndex},
      {"drop: a number past the last", Db->TableDropIndex(u"People", u"", u"", 1), zfErrNoSuchIndex},
      {"drop: a negative number", Db->TableDropIndex(u"People", u"", u"", -1), zfErrNoSuchIndex},
  };
  for (const Case& c : cases) EXPECT_EQ(c.Got, c.Expected) << c.What;
  OpenCursor();
  EXPECT_EQ(Db->TableDropIndex(u"People", u"", u"ByID", -1), zfErrNeedExclAccess) << "a cursor is open";
  EXPECT_EQ(StoredIndexes(), (std::vector<UnicodeString>{u"ByID"}));

  // A table without indexes has none to drop.
  auto dict = SmallDictionary();
  dict->RemoveIndicesDescriptor();
  ASSERT_EQ(Db->TableBuild(false, u"Plain", u"", dict.get(), tsPersistent, false), 0u);
  EXPECT_EQ(Db->TableDropIndex(u"Plain", u"", u"", 0), zfErrNotIndexed);

  // Not inside a transaction: its rollback would leave the dictionary in memory behind the file.
  ASSERT_EQ(Db->TransContext()->TransactionStart(false, false), 0u);
  EXPECT_EQ(Add(u"ByName", 1, false), zfErrActiveTran);
  EXPECT_EQ(Drop(u"ByID", -1), zfErrActiveTran);
  ASSERT_EQ(Db->TransContext()->TransactionRollback(), 0u);

  // A read-only database changes nothing.
  TzfAbstractDatabase* ro = nullptr;
  ASSERT_EQ(S->DatabaseOpen(ro, u"Path", rtl::u16(Dir.Path.string()), nullptr, omReadOnly, smShared, 10000), 0u);
  auto more = IndexOn(u"ByName", 1, false);
  EXPECT_EQ(ro->TableAddIndex(u"People", u"", more.get(), false), zfErrReadOnlyDb);
  EXPECT_EQ(ro->TableDropIndex(u"People", u"", u"ByID", -1), zfErrReadOnlyDb);
  ro->Free();
}

TEST_F(TableAddIndex, DropRenumbersTheRestAndTheLastDropReadsInStorageOrder) {
  Fill();
  ASSERT_EQ(Add(u"ByID", 0, true), 0u);
  ASSERT_EQ(Add(u"ByName", 1, false), 0u);
  ASSERT_EQ(Add(u"ByID2", 0, false, true), 0u);
  // Another cursor reading in index order keeps the indexes where they are, also against a drop
  // through a shared cursor.
  ASSERT_EQ(C->SwitchToIndex(u"ByName", -1, false), 0u);
  TzfServerTableCursor* shared = nullptr;
  ASSERT_EQ(zfOpenTableCursor(Db, u"People", u"", omReadWrite, smShared, 2000, shared), 0u);
  EXPECT_EQ(shared->stcDropIndex(u"ByID", -1), zfErrTableOpen);
  shared->Free();

  ASSERT_EQ(Drop(u"ByID", -1), 0u);
  int32_t def = -1;
  EXPECT_EQ(StoredIndexes(&def), (std::vector<UnicodeString>{u"ByName", u"ByID2"}));
  EXPECT_EQ(def, 1) << "the default index stays the same index under its new number";
  EXPECT_EQ(Walk(u"ByName"), (std::vector<int32_t>{2, 1, 3}));
  EXPECT_EQ(Walk(u"ByID2"), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(Insert(1, u"d"), 0u) << "the unique index is gone";

  ASSERT_EQ(Drop(u"", 1), 0u);
  ASSERT_EQ(Drop(u"ByName", -1), 0u);
  EXPECT_TRUE(StoredIndexes().empty());
  EXPECT_EQ(Root().sbtIndicesEngine, nullptr);
  EXPECT_EQ(Walk(u""), (std::vector<int32_t>{3, 1, 2, 1}));
  EXPECT_EQ(C->SwitchToIndex(u"", 1, false), zfErrNoSuchIndex);

  // The table takes indexes again after its last one went, also after a restart.
  ASSERT_EQ(Add(u"ByName", 1, false), 0u);
  Reopen();
  EXPECT_EQ(Walk(u"ByName"), (std::vector<int32_t>{2, 1, 3, 1}));
  ASSERT_EQ(Drop(u"ByName", -1), 0u);
  ASSERT_EQ(Add(u"ByID", 0, false), 0u);
  EXPECT_EQ(Walk(u"ByID"), (std::vector<int32_t>{1, 1, 2, 3}));
}

TEST_F(TableAddIndex, NewTableKeepsItsSequentialIndexBesideTheAddedOnes) {
  auto dict = SmallDictionary();
  ASSERT_EQ(Db->TableBuild(false, u"Fresh", u"", dict.get(), tsPersistent, false), 0u);
  TzfAbstractCursor* c = nullptr;
  ASSERT_EQ(Db->CursorOpen(c, u"Fresh", u"", omReadWrite, smShared, 2000, false), 0u);
  for (int32_t id : {2, 3, 1}) {
    c->SetFieldFromVariant(Rec, 0, rtl::Variant(id));
    ASSERT_EQ(c->RecordInsert(zfltNoLock, Rec), 0u);
  }
  c->Free();
  auto d = IndexOn(u"ByID", 0, true);
  ASSERT_EQ(Db->TableAddIndex(u"Fresh", u"", d.get(), true), 0u);
  EXPECT_NE(d->diID, 0) << "the caller's descriptor takes the new item's ID";
  TzfDataDictionary stored;
  ASSERT_EQ(Db->TableGetDictionary(u"Fresh", u"", &stored), 0u);
  ASSERT_EQ(stored.tdIndicesDescriptor->IndexCount(), 2);
  EXPECT_EQ(stored.tdIndicesDescriptor->IndexDescriptor[1]->idName, u"ByID");
  EXPECT_EQ(stored.tdIndicesDescriptor->midDefaultIndex, 1);
  ASSERT_EQ(Db->TableDropIndex(u"Fresh", u"", u"", 0), 0u);
  ASSERT_EQ(Db->TableGetDictionary(u"Fresh", u"", &stored), 0u);
  ASSERT_EQ(stored.tdIndicesDescriptor->IndexCount(), 1);
  EXPECT_EQ(stored.tdIndicesDescriptor->midDefaultIndex, 0);
}

TEST_F(TableAddIndex, CursorThatDropsEndsOnTheDefaultIndex) {
  Fill();
  ASSERT_EQ(Add(u"ByID", 0, true), 0u);
  ASSERT_EQ(Add(u"ByName", 1, false, true), 0u);
  CloseCursor();
  TzfServerTableCursor* own = nullptr;
  ASSERT_EQ(zfOpenTableCursor(Db, u"People", u"", omReadWrite, smExclusive, 2000, own), 0u);
  ASSERT_EQ(own->SwitchToIndex(u"ByID", -1, false), 0u);
  ASSERT_EQ(own->stcDropIndex(u"ByID", -1), 0u);
  int32_t id = -2;
  EXPECT_EQ(own->GetIndexID(id), 0u);
  EXPECT_EQ(id, 0) << "ByName, the default, is number 0 now";
  ASSERT_EQ(own->stcDropIndex(u"", 0), 0u);
  EXPECT_EQ(own->GetIndexID(id), 0u);
  EXPECT_EQ(id, -1);
  own->Free();
  OpenCursor();
}

TEST_F(TableAddIndex, PasswordChangeNeedsEncryptionAndChangesNothingWithout) {
  Fill();
  EXPECT_EQ(C->ChangePassword(u"secret"), zfErrNotSupported) << "the table has no encryption engine";
  EXPECT_EQ(Insert(4, u"d"), 0u) << "the failed change left no transaction or lock behind";
  Reopen();
  EXPECT_EQ(Walk(u""), (std::vector<int32_t>{3, 1, 2, 4}));
  TzfAbstractCursor* ro = nullptr;
  ASSERT_EQ(Db->CursorOpen(ro, u"People", u"", omReadOnly, smShared, 2000, false), 0u);
  EXPECT_EQ(ro->ChangePassword(u"secret"), 10763u);
  ro->Free();
}

TEST_F(TableAddIndex, TableWhoseFulltextDescriptorIsOfAnotherClassIsNotOpened) {
  Fill();
  // A dictionary whose "Fulltext" custom descriptor is not a full-text descriptor, as another
  // program could have written it: this engine builds no such table, so the stream is written by
  // hand.
  TzfServerRootTable& root = Root();
  TzfDataDictionary dict;
  dict.Assign(root.srtDictionary.get());
  dict.tdCustomDescsDescriptor->AddCustom(u"Fulltext");
  TzfMemoryStream ms;
  dict.WriteToStream(ms, 30900);
  TzfAbstractTransContext* ctx = Db->TransContext();
  ASSERT_EQ(ctx->TransactionStart(false, false), 0u);
  auto* trans = static_cast<TzfServerTransContext*>(ctx)->Transaction();
  ASSERT_NE(trans, nullptr);
  ASSERT_EQ(root.srtStreamEngine->WriteNamedStream(trans, u"DICT", ms), 0u);
  ASSERT_EQ(ctx->TransactionCommit(), 0u);
  Close();
  StartEngine(0);
  Open();
  TzfAbstractCursor* c = nullptr;
  EXPECT_EQ(Db->CursorOpen(c, u"People", u"", omReadWrite, smShared, 2000, false), zfErrUnsupportedDescriptor);
  EXPECT_EQ(c, nullptr);
}

TEST_F(TableAddIndex, FieldsAreRenamedOnlyInAPrivateResultTable) {
  auto* own = static_cast<TzfServerTableCursor*>(C);
  EXPECT_EQ(own->sbcRenameField(1, u"Title"), zfErrNotSupported) << "a file table keeps its field names";

  // A private result table: no name, scope tsTempUnnamed, one cursor.
  auto dict = SmallDictionary();
  TzfServerRootTable* table = nullptr;
  {
    TzfPadlockGuard g(Db->sdFolder->sfTablesPadlock);
    ASSERT_EQ(Db->sdFolder->sfTableCreate(u"", u"", table, tsTempUnnamed, dict.get(), false), 0u);
  }
  auto* rs = zfCreateServerObject<TzfServerTableCursor>(Db, table, omReadWrite, smExclusive, false, 2000u);
  struct Case {
    int32_t Field;
    UnicodeString Name;
    uint32_t Result;
  } cases[] = {
      {-1, u"X", zfErrInvalidDescNum}, {2, u"X", zfErrInvalidDescNum}, {0, u"name", zfErrNameNotUnique},
      {1, u"Title", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(rs->sbcRenameField(c.Field, c.Name), c.Result) << c.Field;
  EXPECT_EQ(table->sbtFieldsDescriptor->GetFieldFromName(u"Title"), 1);
  EXPECT_TRUE(table->srtDictionary->ddReadOnly) << "the dictionary is read-only again";
  EXPECT_THROW(rs->sbcRenameField(1, u" Lead"), EzfBaseException);
  EXPECT_TRUE(table->srtDictionary->ddReadOnly);
  // A second cursor makes the table shared: no more renames.
  auto* second = zfCreateServerObject<TzfServerTableCursor>(Db, table, omReadWrite, smShared, false, 2000u);
  EXPECT_EQ(rs->sbcRenameField(1, u"Other"), zfErrNotSupported);
  second->Free();
  rs->Free();
  TzfPadlockGuard g(Db->sdFolder->sfTablesPadlock);
  table->Free();
}

// Writes "<who> <action> before|after" into a shared log; vetoes VetoAction before it runs.
class TOrderExtender : public TzfBaseEngineExtender {
 public:
  TOrderExtender(TzfExtendableServerObject* aObject, std::string aWho, std::vector<std::string>& aLog)
      : TzfBaseEngineExtender(nullptr, aObject, {}), Who(std::move(aWho)), Log(aLog) {}
  uint32_t Notify(TzfEngineAction aAction, bool aBefore, const TzfActionArgs&) override {
    if (aAction != eaTableAddIndex && aAction != eaTableDropIndex) return 0;
    Log.push_back(Who + (aAction == eaTableAddIndex ? " add " : " drop ") + (aBefore ? "before" : "after"));
    return aBefore && aAction == VetoAction ? 4242u : 0u;
  }
  std::string Who;
  std::vector<std::string>& Log;
  int VetoAction = -1;
};

TEST_F(TableAddIndex, FolderHearsFirstBeforeAndLastAfter) {
  std::vector<std::string> log;
  auto* folder = new TOrderExtender(Db->sdFolder, "folder", log);
  auto* db = new TOrderExtender(Db, "db", log);
  ASSERT_EQ(Add(u"ByID", 0, true), 0u);
  ASSERT_EQ(Drop(u"ByID", -1), 0u);
  EXPECT_EQ(log, (std::vector<std::string>{"folder add before", "db add before", "db add after", "folder add after",
                                           "folder drop before", "db drop before", "db drop after",
                                           "folder drop after"}));
  // A veto of the database's extender stops the add: the table keeps no index.
  log.clear();
  db->VetoAction = eaTableAddIndex;
  EXPECT_EQ(Add(u"ByID", 0, true), 4242u);
  EXPECT_TRUE(StoredIndexes().empty());
  EXPECT_EQ(log, (std::vector<std::string>{"folder add before", "db add before"}));
  // The objects free their extenders; the folder outlives this test's database, so its one goes now.
  TzfBaseEngineExtender::UnlinkAndFree(folder, nullptr);
}

}  // namespace
}  // namespace zf::test
