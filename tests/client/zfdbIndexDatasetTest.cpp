// Key buffers, searches and ranges of the index dataset, through a table component on a table
// with a two-field index (Name, ID) and a unique index on ID.
#include <gtest/gtest.h>

#include <thread>

#include "client/zfdbTable.h"
#include "tests/client/zfdbTableTestUtil.h"

namespace zf::test {
namespace {

class ClientIndexDataset : public ClientTableTest {
 protected:
  void SetUp() override {
    ClientTableTest::SetUp();
    auto dict = SmallDictionary();
    TzfMainIndicesDescriptor* ixs = dict->EnsureIndicesDescriptor();
    TzfIndexDescriptor* byId = ixs->AddIndex(u"ByID", 0, idNone, u"");
    dynamic_cast<TzfCompKeyDescriptor&>(*byId->idKeyDescriptor).Add(0);
    TzfIndexDescriptor* byName = ixs->AddIndex(u"ByNameID", 0, idNone, u"");
    auto& key = dynamic_cast<TzfCompKeyDescriptor&>(*byName->idKeyDescriptor);
    key.Add(1, &TzfExtTextKeyFieldDescriptor::ClassInfo());
    key.Add(0);
    ixs->SetDefaultIndex(byId->idNumber);
    ASSERT_EQ(Db->AbstractDatabase()->TableBuild(false, u"Fruit", u"", dict.get(), tsPersistent, false), 0u);
    TzfAbstractCursor* c = nullptr;
    ASSERT_EQ(Db->AbstractDatabase()->CursorOpen(c, u"Fruit", u"", omReadWrite, smShared, 2000, false), 0u);
    uint8_t* b = c->RecordBufferAlloc();
    const std::pair<int32_t, const char16_t*> rows[] = {{1, u"cherry"}, {2, u"apple"},  {3, u"banana"},
                                                        {4, u"apricot"}, {5, u"banana"}, {6, u"date"}};
    for (const auto& [id, name] : rows) {
      c->RecordBufferClear(b);
      c->SetFieldFromVariant(b, 0, rtl::Variant(id));
      c->SetFieldFromVariant(b, 1, rtl::Variant(UnicodeString(name)));
      EXPECT_EQ(c->RecordInsert(zfltNoLock, b), 0u);
    }
    c->RecordBufferFree(b);
    c->Free();
    T = Table(u"Fruit");
  }
  int32_t Id() { return T->FieldByName(u"ID").GetAsInteger(); }
  TzfTable* T = nullptr;
};

TEST_F(ClientIndexDataset, FindNearestOnATwoFieldKey) {
  T->SetIndexName(u"ByNameID");
  T->Open();
  EXPECT_EQ(T->IndexFieldCount(), 2);
  EXPECT_EQ(T->IndexFieldAt(0)->FieldName(), u"Name");
  EXPECT_EQ(T->IndexFieldAt(1)->FieldName(), u"ID");
  EXPECT_TRUE(RaisesText([&] { T->IndexFieldAt(2); }, db::kSFieldIndexError));
  struct Case {
    const char* What;
    TzfIndexDataSet::TzfValues Values;
    TzfSetKeyOptions Options;
    bool Flipped;
    int32_t ExpectedID;
    int32_t FieldCount, PartialLen;
  };
  const Case cases[] = {
      {"one value compares the first field only", {rtl::Variant(u"banana")}, {}, false, 3, 1, 0},
      {"both values", {rtl::Variant(u"banana"), rtl::Variant(5)}, {}, false, 5, 2, 0},
      {"nearest after a missing key", {rtl::Variant(u"b")}, {}, false, 3, 1, 0},
      {"exclusive goes past the key", {rtl::Variant(u"banana")}, {skoExclusive}, false, 1, 1, 0},
      {"partial text", {rtl::Variant(u"apr")}, {skoPartialMatch}, false, 4, 1, zfPartialWholeText},
      {"partial on a number is a full compare", {rtl::Variant(u"banana"), rtl::Variant(4)}, {skoPartialMatch}, false, 5,
       2, 0},
      {"flipped searches backwards", {rtl::Variant(u"c")}, {}, true, 5, 1, 0},
      {"flipped and exclusive", {rtl::Variant(u"banana")}, {skoExclusive}, true, 4, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    T->SetFlipOrder(c.Flipped);
    T->FindNearest(c.Values, c.Options);
    EXPECT_EQ(Id(), c.ExpectedID);
    const TzfKeyBufferHeader h = T->KeyBufferHeader(kbiKey);
    const int32_t fieldCount = h.kbFieldCount, partialLen = h.kbPartialLen;  // packed: copied out
    EXPECT_EQ(fieldCount, c.FieldCount);
    EXPECT_EQ(partialLen, c.PartialLen);
    EXPECT_EQ(h.kbExclusive != 0, c.Options.Contains(skoExclusive));
    EXPECT_TRUE(h.kbModified != 0);
  }
  // Backwards on an unflipped dataset is the flipped search, and the order stays as it was.
  T->SetFlipOrder(false);
  T->SetKey();
  T->FieldByName(u"Name").SetAsString(u"banana");
  T->SetKeyExclusive(true);
  T->SetKeyFieldCount(1);
  T->Post();
  T->GotoNearestBackward();
  EXPECT_EQ(Id(), 4);
  EXPECT_FALSE(T->FlipOrder());
}

// A table component on which a test can put the write-only mode in force, as an open that will
// read in blocks does until it completes.
class TWriteOnlyInForceTable : public TzfTable {
 public:
  using TzfTable::TzfTable;
  void SetInternalWriteOnly(bool aValue) { dsInternalWriteOnly = aValue; }
};

TEST_F(ClientIndexDataset, GotoNearestDoesNothingWhileWriteOnlyIsInForce) {
  auto* t = Table<TWriteOnlyInForceTable>(u"Fruit");
  t->SetIndexName(u"ByID");
  t->Open();
  t->SetKey();
  t->FieldByName(u"ID").SetAsInteger(4);
  t->Post();
  t->SetInternalWriteOnly(true);
  t->GotoNearest();
  t->SetInternalWriteOnly(false);
  EXPECT_EQ(t->FieldByName(u"ID").GetAsInteger(), 1) << "the dataset stays on its record";
  t->GotoNearest();
  EXPECT_EQ(t->FieldByName(u"ID").GetAsInteger(), 4);
}

TEST_F(ClientIndexDataset, KeyEditsAndTheirChecks) {
  T->SetIndexName(u"ByNameID");
  T->Open();
  // Only a key field may be written while a key is edited.
  T->SetKey();
  EXPECT_EQ(T->State(), db::dsSetKey);
  T->FieldByName(u"ID").SetAsInteger(3);  // a key field of this index
  T->Cancel();
  T->SetIndexName(u"ByID");
  T->SetKey();
  EXPECT_TRUE(RaisesText([&] { T->FieldByName(u"Name").SetAsString(u"x"); }, u"is not indexed and cannot be modified"));
  T->FieldByName(u"ID").SetAsInteger(4);
  T->Post();
  EXPECT_TRUE(T->KeyBufferHeader(kbiKey).kbModified != 0);
  T->GotoNearest();
  EXPECT_EQ(Id(), 4);
  // Cancel puts the buffer back as it was before the edit.
  T->EditKey();
  T->FieldByName(u"ID").SetAsInteger(6);
  T->Cancel();
  T->GotoNearest();
  EXPECT_EQ(Id(), 4);
  // The key properties exist only while a key is edited.
  EXPECT_TRUE(RaisesText([&] { T->KeyFieldCount(); }, db::kSNotEditing));
  EXPECT_TRUE(RaisesText([&] { T->SetKeyExclusive(true); }, db::kSNotEditing));
}

TEST_F(ClientIndexDataset, Ranges) {
  T->Open();
  struct Case {
    const char* What;
    TzfIndexDataSet::TzfValues Start, End;
    TzfSetKeyOptions StartOptions, EndOptions;
    std::vector<int32_t> Expected;
  };
  const Case cases[] = {
      {"inclusive", {rtl::Variant(2)}, {rtl::Variant(4)}, {}, {}, {2, 3, 4}},
      {"exclusive start", {rtl::Variant(2)}, {rtl::Variant(4)}, {skoExclusive}, {}, {3, 4}},
      {"exclusive end", {rtl::Variant(2)}, {rtl::Variant(4)}, {}, {skoExclusive}, {2, 3}},
      {"one record", {rtl::Variant(5)}, {rtl::Variant(5)}, {}, {}, {5}},
      {"empty", {rtl::Variant(4)}, {rtl::Variant(2)}, {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    T->SetRange(c.Start, c.End, c.StartOptions, c.EndOptions);
    EXPECT_TRUE(T->RangeActive());
    EXPECT_EQ(IDs(*T), c.Expected);
  }
  T->CancelRange();
  EXPECT_FALSE(T->RangeActive());
  EXPECT_EQ(IDs(*T), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));

  // A start left open by an edit without a value.
  T->SetRangeStart();
  T->Post();
  EXPECT_FALSE(T->KeyBufferHeader(kbiRangeStart).kbModified != 0);
  T->SetRangeEnd();
  T->FieldByName(u"ID").SetAsInteger(2);
  T->Post();
  T->ApplyRange();
  EXPECT_EQ(IDs(*T), (std::vector<int32_t>{1, 2}));

  // Cancel during an edit of the range start keeps the start it had.
  T->SetRange({rtl::Variant(3)}, {rtl::Variant(5)});
  T->EditRangeStart();
  T->FieldByName(u"ID").SetAsInteger(1);
  T->Cancel();
  T->ApplyRange();
  EXPECT_EQ(IDs(*T), (std::vector<int32_t>{3, 4, 5}));

  // The same range again changes nothing and does not move to the first record.
  T->First();
  T->Next();
  T->SetRange({rtl::Variant(3)}, {rtl::Variant(5)});
  EXPECT_EQ(Id(), 4);

  // Flipped, the range shows backwards.
  T->SetFlipOrder(true);
  EXPECT_EQ(IDs(*T), (std::vector<int32_t>{5, 4, 3}));
  T->SetFlipOrder(false);

  // A range ends with an index switch.
  T->SetIndexName(u"ByNameID");
  EXPECT_FALSE(T->RangeActive());
  EXPECT_EQ(IDs(*T).size(), 6u);
}

TEST_F(ClientIndexDataset, RangeOnATextPrefix) {
  T->SetIndexName(u"ByNameID");
  T->Open();
  T->SetRange({rtl::Variant(u"ap")}, {rtl::Variant(u"ap")}, {skoPartialMatch}, {skoPartialMatch});
  EXPECT_EQ(IDs(*T), (std::vector<int32_t>{2, 4}));
  T->SetRangeSimple({rtl::Variant(u"banana")});
  EXPECT_EQ(IDs(*T), (std::vector<int32_t>{3, 5}));
  T->SetRangeShared({rtl::Variant(u"banana")}, {rtl::Variant(4)}, {rtl::Variant(9)});
  EXPECT_EQ(IDs(*T), (std::vector<int32_t>{5}));
}

TEST_F(ClientIndexDataset, LocateThroughAnIndex) {
  T->Open();
  // On the active index and on another one; a miss answers False and does not move.
  ASSERT_TRUE(T->Locate(u"ID", rtl::Variant(5), {}));
  EXPECT_EQ(Id(), 5);
  ASSERT_TRUE(T->Locate(u"Name", rtl::Variant(u"date"), {}));
  EXPECT_EQ(Id(), 6);
  EXPECT_FALSE(T->Locate(u"Name", rtl::Variant(u"fig"), {}));
  EXPECT_EQ(Id(), 6);
  EXPECT_EQ(T->Lookup(u"Name", rtl::Variant(u"cherry"), u"ID").AsInteger(), 1);
  EXPECT_EQ(Id(), 6) << "Lookup does not move";
  // A partial key through the index; a case rule no index has goes to the scan.
  ASSERT_TRUE(T->Locate(u"Name", rtl::Variant(u"apr"), db::TLocateOptions{db::loPartialKey}));
  EXPECT_EQ(Id(), 4);
  ASSERT_TRUE(T->Locate(u"Name", rtl::Variant(u"BANANA"), db::TLocateOptions{db::loCaseInsensitive}));
  EXPECT_EQ(T->FieldByName(u"Name").GetAsString(), u"banana");
  EXPECT_FALSE(T->Locate(u"Name", rtl::Variant(u"BANANA"), {}));
  // While a range is in force, a record outside it is not found.
  T->SetRange({rtl::Variant(2)}, {rtl::Variant(3)});
  EXPECT_FALSE(T->Locate(u"Name", rtl::Variant(u"date"), {}));
  EXPECT_TRUE(T->Locate(u"Name", rtl::Variant(u"banana"), {}));
  EXPECT_EQ(Id(), 3);
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
namespace {

TEST_F(ClientIndexDataset, GotoKeyAndFindKey) {
  T->SetIndexName(u"ByNameID");
  T->Open();
  T->Last();
  // Only the first of two key fields given: the second is compared as NULL, so nothing is found
  // and nothing moves; with KeyFieldCount 1 only the first is compared.
  T->SetKey();
  T->FieldByName(u"Name").SetAsString(u"banana");
  T->Post();
  EXPECT_FALSE(T->GotoKey());
  EXPECT_EQ(Id(), 6);
  T->EditKey();
  T->SetKeyFieldCount(1);
  T->Post();
  EXPECT_TRUE(T->GotoKey());
  EXPECT_EQ(Id(), 3);

  struct Case {
    const char* What;
    TzfIndexDataSet::TzfValues Values;
    TzfSetKeyOptions Options;
    bool Found;
    int32_t ID;
  };
  const Case cases[] = {
      {"first field", {rtl::Variant(u"cherry")}, {}, true, 1},
      {"both fields", {rtl::Variant(u"banana"), rtl::Variant(5)}, {}, true, 5},
      {"missing", {rtl::Variant(u"fig")}, {}, false, 5},
      {"no partial match without the option", {rtl::Variant(u"ap")}, {}, false, 5},
      {"partial match", {rtl::Variant(u"apr")}, {skoPartialMatch}, true, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    EXPECT_EQ(T->FindKey(c.Values, c.Options), c.Found);
    EXPECT_EQ(Id(), c.ID);
  }
}

TEST_F(ClientIndexDataset, AddIndexOnATableWithRecordsServesFindKey) {
  struct TPoll {
    uint32_t Old = TzfTable::zfIndexRebuildPollInterval;
    TPoll() { TzfTable::zfIndexRebuildPollInterval = 1; }
    ~TPoll() { TzfTable::zfIndexRebuildPollInterval = Old; }
  } poll;
  auto indexNames = [&] {
    rtl::TStringList names;
    T->GetIndexNames(names);
    std::vector<UnicodeString> out;
    for (int32_t i = 0; i < names.Count(); ++i) out.push_back(names.Get(i));
    return out;
  };
  // A unique index the records refuse is dropped again and no task is left.
  TzfAbstractTaskInfo* task = reinterpret_cast<TzfAbstractTaskInfo*>(1);
  auto desc = TzfIndexDescriptor::CreateStandalone(3, u"ByName2", 0, &TzfCompKeyDescriptor::ClassInfo());
  dynamic_cast<TzfCompKeyDescriptor&>(*desc->idKeyDescriptor).Add(1);
  desc->SetDups(idNone);
  EXPECT_EQ(T->AddIndexEx(desc.get(), false, task), zfErrKeyViol) << "two bananas in a unique index";
  EXPECT_EQ(task, nullptr);
  const std::vector<UnicodeString> before{zfSequentialAccessIndexName, u"ByID", u"ByNameID"};
  EXPECT_EQ(indexNames(), before);

  // With duplicates allowed it is added and rebuilt through the task.
  desc->SetDups(idAll);
  ASSERT_EQ(T->AddIndexEx(desc.get(), false, task), 0u);
  ASSERT_NE(task, nullptr);
  bool completed = false;
  TzfTaskStatus status;
  while (task->GetStatus(completed, status) == 0 && !completed) std::this_thread::yield();
  EXPECT_EQ(status.tsErrorCode, 0u);
  EXPECT_EQ(status.tsRecsWritten, 6u);
  task->Free();

  // An open table keeps its record and range through AddIndex, and the new index finds keys.
  T->Open();
  T->SetRange({rtl::Variant(2)}, {rtl::Variant(5)});
  ASSERT_TRUE(T->Locate(u"ID", rtl::Variant(4), {}));
  T->AddIndex(u"ByName3", u"Name", {db::ixDescending});
  EXPECT_TRUE(T->Active());
  EXPECT_EQ(Id(), 4);
  EXPECT_EQ(IDs(*T), (std::vector<int32_t>{2, 3, 4, 5}));
  T->CancelRange();
  T->SetIndexName(u"ByName3");
  EXPECT_EQ(IDs(*T).front(), 6) << "date comes first, descending";
  T->SetIndexName(u"ByName2");
  EXPECT_TRUE(T->FindKey({rtl::Variant(u"cherry")}, {}));
  EXPECT_EQ(Id(), 1);
  EXPECT_TRUE(T->FindKey({rtl::Variant(u"apricot")}, {}));
  EXPECT_EQ(Id(), 4);
  EXPECT_FALSE(T->FindKey({rtl::Variant(u"fig")}, {}));
}

// The maintenance tasks through the components: a rebuild by name or number, a checksum of a
// table whose files keep none, and the asynchronous count of an open table.
TEST_F(ClientIndexDataset, ReIndexChecksumAndAsynchronousCount) {
  auto finish = [](TzfAbstractTaskInfo* aTask) {
    bool completed = false;
    TzfTaskStatus status;
    while (aTask->GetStatus(completed, status) == 0 && !completed) std::this_thread::yield();
    aTask->Free();
    return status;
  };
  TzfAbstractTaskInfo* task = T->ReIndexTable(u"ByNameID");
  ASSERT_NE(task, nullptr);
  TzfTaskStatus status = finish(task);
  EXPECT_EQ(status.tsErrorCode, 0u);
  EXPECT_EQ(status.tsRecsWritten, 6u);
  task = Db->ReIndexTable(u"Fruit", u"", 1);
  EXPECT_EQ(finish(task).tsErrorCode, 0u);
  EXPECT_EQ(ClientErrorCode([&] { Db->ReIndexTable(u"Fruit", u"", 9); }), zfErrNoSuchIndex);
  EXPECT_EQ(Db->ReIndexTableEx(u"", u"", 0, task), zfErrInvalidTableName);
  EXPECT_TRUE(RaisesText([&] { Db->VerifyChecksumTable(u"Fruit", u"", true, false); },
                         u"Table Fruit is not using an encryption engine that supports file checksums."));

  T->SetIndexName(u"ByNameID");
  T->Open();
  T->RecordCountAsync(task);
  ASSERT_NE(task, nullptr);
  status = finish(task);
  EXPECT_EQ(status.tsRecsRead, 6u);
  EXPECT_TRUE(T->FindKey({rtl::Variant(u"date")}, {})) << "the rebuilt index";
  EXPECT_EQ(Id(), 6);
}

TEST_F(ClientIndexDataset, DeleteIndex) {
  T->Open();
  EXPECT_TRUE(RaisesText([&] { T->DeleteIndex(u"ByNameID"); }, db::kSDataSetOpen));
  T->Close();
  EXPECT_EQ(ClientErrorCode([&] { T->DeleteIndex(u"Nope"); }), zfErrNoSuchIndex);
  T->DeleteIndex(u"bynameid");
  rtl::TStringList names;
  T->GetIndexNames(names);
  EXPECT_EQ(names.Count(), 2);
  EXPECT_EQ(names.IndexOf(u"ByNameID"), -1);
  T->Open();
  EXPECT_EQ(IDs(*T), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
namespace {

TEST_F(ClientIndexDataset, ReferenceNumberKeys) {
  T->SetIndexName(zfSequentialAccessIndexName);
  T->Open();
  EXPECT_EQ(T->IndexFieldCount(), 0) << "the key is written straight into key form";
  struct Case {
    const char* What;
    TzfIndexDataSet::TzfValues Values1;
    bool Refused, Modified;
  };
  const Case cases[] = {
      {"64-bit value", {rtl::Variant(int64_t{7})}, false, true},
      {"text", {rtl::Variant(u"12")}, false, true},
      {"zero", {rtl::Variant(int64_t{0})}, false, false},
      {"empty text", {rtl::Variant(u"")}, false, false},
      {"null", {rtl::Variant::Null()}, false, false},
      {"no value", {}, false, false},
      {"32-bit value", {rtl::Variant(int32_t{7})}, true, false},
      {"not a number", {rtl::Variant(u"x1")}, true, false},
      {"two values", {rtl::Variant(int64_t{1}), rtl::Variant(int64_t{2})}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const bool refused = RaisesText([&] { T->SetRangeSimple(c.Values1); }, u"'<RefNr>'");
    EXPECT_EQ(refused, c.Refused);
    if (!refused) {
      const TzfKeyBufferHeader h = T->KeyBufferHeader(kbiRangeStart);
      const int32_t fieldCount = h.kbFieldCount;
      EXPECT_EQ(h.kbModified != 0, c.Modified);
      EXPECT_EQ(fieldCount, 0);
    }
    T->CancelRange();
  }
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
namespace {

TEST_F(ClientIndexDataset, DetailFollowsItsMaster) {
  TzfTable* master = Table(u"Fruit");
  rtl::TComponentPtr<db::TDataSource> source(new db::TDataSource());
  source->SetName(u"MasterSource");
  source->SetDataSet(master);
  T->SetIndexName(u"ByNameID");
  T->SetMasterSource(source.get());
  T->SetMasterFields(u"Name");
  master->Open();
  T->Open();
  // The master on ID 1 (cherry): the detail shows the records of that name.
  EXPECT_EQ(IDs(*T), (std::vector<int32_t>{1}));
  ASSERT_TRUE(master->Locate(u"ID", rtl::Variant(3), {}));
  EXPECT_EQ(Id(), 3) << "a master change moves to the first record of the new range";
  EXPECT_EQ(IDs(*T), (std::vector<int32_t>{3, 5}));
  // A new detail record takes the master's values before OnNewRecord runs.
  UnicodeString seen;
  T->OnNewRecord = [&](db::TDataSet& aDataSet) { seen = aDataSet.FieldByName(u"Name").GetAsString(); };
  T->Insert();
  EXPECT_EQ(seen, u"banana");
  T->FieldByName(u"ID").SetAsInteger(7);
  T->Post();
  EXPECT_EQ(IDs(*T), (std::vector<int32_t>{3, 5, 7}));
  // The detail cannot become the master's master.
  rtl::TComponentPtr<db::TDataSource> detailSource(new db::TDataSource());
  detailSource->SetName(u"DetailSource");
  detailSource->SetDataSet(T);
  try {
    master->SetMasterSource(detailSource.get());
    FAIL() << "a circular link is refused";
  } catch (const EzfDatabaseError& e) {
    EXPECT_NE(e.Message().find(u"Circular data link with data source [DetailSource]"), UnicodeString::npos);
  }
  EXPECT_EQ(master->MasterSource(), nullptr);
  // Closing the master ends the range.
  master->Close();
  EXPECT_FALSE(T->RangeActive());
  EXPECT_EQ(IDs(*T).size(), 7u);
  T->SetMasterSource(nullptr);
}

}  // namespace
}  // namespace zf::test
